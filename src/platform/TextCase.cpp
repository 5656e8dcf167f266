// Unicode text the same in any locale: UTF-8 written and counted, letters classified and folded to upper case
// in every script. The C library's locale functions are called here only.
#include "platform/TextCase.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <locale.h>

#include <clocale>
#include <cwctype>
#endif

namespace orv::platform {

namespace {

// Decodes one UTF-8 sequence at `i`; malformed bytes decode as themselves so that folding never loses data.
char32_t Decode(std::string_view s, std::size_t& i) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    auto cont = [&](std::size_t k) -> int {
        if (i + k >= s.size()) return -1;
        const auto b = static_cast<unsigned char>(s[i + k]);
        return (b & 0xC0) == 0x80 ? (b & 0x3F) : -1;
    };
    if (b0 < 0x80) {
        ++i;
        return b0;
    }
    int len = (b0 & 0xE0) == 0xC0 ? 2 : (b0 & 0xF0) == 0xE0 ? 3 : (b0 & 0xF8) == 0xF0 ? 4 : 0;
    char32_t cp = len == 2 ? (b0 & 0x1F) : len == 3 ? (b0 & 0x0F) : (b0 & 0x07);
    for (int k = 1; k < len; ++k) {
        const int c = cont(k);
        if (c < 0) {
            len = 0;
            break;
        }
        cp = (cp << 6) | static_cast<char32_t>(c);
    }
    if (len == 0) {
        ++i;
        return 0xDC00 + b0;  // a lone byte keeps its identity without colliding with a real letter
    }
    i += static_cast<std::size_t>(len);
    return cp;
}

void Encode(char32_t cp, std::string& out) {
    if (cp >= 0xDC80 && cp <= 0xDCFF) {
        out += static_cast<char>(cp - 0xDC00);  // a lone byte goes back as it came
    } else {
        AppendUtf8(out, cp);
    }
}

#ifdef _WIN32
// The system's own tables: LCMapStringEx and GetStringTypeW know every script in the same way whatever the
// user's locale. A code point beyond the first plane is written as two UTF-16 units.
std::wstring Units(char32_t cp) {
    if (cp < 0x10000) return std::wstring(1, static_cast<wchar_t>(cp));
    cp -= 0x10000;
    return {static_cast<wchar_t>(0xD800 + (cp >> 10)), static_cast<wchar_t>(0xDC00 + (cp & 0x3FF))};
}

char32_t Upper(char32_t cp) {
    if (cp < 0x80) return (cp >= 'a' && cp <= 'z') ? cp - 32 : cp;
    if (cp >= 0xD800 && cp < 0xE000) return cp;
    const std::wstring in = Units(cp);
    wchar_t out[4] = {};
    const int n = ::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, in.data(),
                                  static_cast<int>(in.size()), out, 4, nullptr, nullptr, 0);
    if (n == 1) return out[0];
    if (n == 2 && out[0] >= 0xD800 && out[0] < 0xDC00)
        return 0x10000 + ((out[0] - 0xD800) << 10) + (out[1] - 0xDC00);
    return cp;
}

WORD TypeOf(char32_t cp) {
    if (cp >= 0xD800 && cp < 0xE000) return 0;
    const std::wstring in = Units(cp);
    WORD types[2] = {};
    if (!::GetStringTypeW(CT_CTYPE1, in.data(), static_cast<int>(in.size()), types)) return 0;
    return types[0];
}

#else
// The C.UTF-8 locale knows the letters and case mappings of every script, whatever locale the process runs
// in.
locale_t Utf8Locale() {
    static const locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    return locale;
}

char32_t Upper(char32_t cp) {
    if (cp < 0x80) return (cp >= 'a' && cp <= 'z') ? cp - 32 : cp;
    const locale_t locale = Utf8Locale();
    if (locale == static_cast<locale_t>(nullptr)) return cp;
    return static_cast<char32_t>(towupper_l(static_cast<wint_t>(cp), locale));
}

#endif

}  // namespace

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::string Utf8FromUtf16(std::u16string_view units) {
    std::string out;
    out.reserve(units.size());
    for (std::size_t i = 0; i < units.size(); ++i) {
        char32_t unit = units[i];
        if (unit >= 0xD800 && unit < 0xDC00 && i + 1 < units.size()) {
            const char32_t low = units[i + 1];
            if (low >= 0xDC00 && low < 0xE000) {
                AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                ++i;
                continue;
            }
        }
        if (unit >= 0xD800 && unit < 0xE000) unit = 0xFFFD;
        AppendUtf8(out, unit);
    }
    return out;
}

std::string Utf8FromUtf16Le(const unsigned char* bytes, std::size_t units) {
    std::u16string text(units, u'\0');
    for (std::size_t i = 0; i < units; ++i)
        text[i] = static_cast<char16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
    return Utf8FromUtf16(text);
}

std::string FirstCharacters(std::string_view utf8, std::size_t count) {
    std::size_t end = 0;
    for (std::size_t characters = 0; end < utf8.size() && characters < count; ++characters) {
        ++end;
        while (end < utf8.size() && (static_cast<unsigned char>(utf8[end]) & 0xC0) == 0x80) ++end;
    }
    return std::string(utf8.substr(0, end));
}

std::size_t CharacterCount(std::string_view utf8) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < utf8.size();) {
        Decode(utf8, i);
        ++count;
    }
    return count;
}

std::string FoldCase(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        // Whole parts are folded to be searched: ASCII takes the short way.
        const auto c = static_cast<unsigned char>(utf8[i]);
        if (c < 0x80) {
            out += static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
            ++i;
            continue;
        }
        Encode(Upper(Decode(utf8, i)), out);
    }
    return out;
}

#ifdef _WIN32
bool IsLetter(char32_t codePoint) { return (TypeOf(codePoint) & C1_ALPHA) != 0; }

bool IsLetterOrDigit(char32_t codePoint) { return (TypeOf(codePoint) & (C1_ALPHA | C1_DIGIT)) != 0; }
#else
bool IsLetter(char32_t codePoint) {
    const locale_t locale = Utf8Locale();
    return locale != static_cast<locale_t>(nullptr) &&
           iswalpha_l(static_cast<wint_t>(codePoint), locale) != 0;
}

bool IsLetterOrDigit(char32_t codePoint) {
    const locale_t locale = Utf8Locale();
    return locale != static_cast<locale_t>(nullptr) &&
           iswalnum_l(static_cast<wint_t>(codePoint), locale) != 0;
}
#endif

}  // namespace orv::platform
