// Parsing, formatting and quoting of sheet prefixes ('My Sheet'!, [1]First:Last!, #REF!).
#include <clocale>
#include <cwctype>
#include <locale.h>

#include "engine/formula/Formula.h"
#include "engine/formula/Text.h"

namespace orv::formula {

namespace {

using namespace detail;

// Decodes the UTF-8 sequence at `i`; a malformed byte decodes as 0xFFFD (never a letter) and advances one byte.
char32_t DecodeAt(std::string_view s, std::size_t& i) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    if (b0 < 0x80) {
        ++i;
        return b0;
    }
    const int length = (b0 & 0xE0) == 0xC0 ? 2 : (b0 & 0xF0) == 0xE0 ? 3 : (b0 & 0xF8) == 0xF0 ? 4 : 0;
    if (length == 0 || i + static_cast<std::size_t>(length) > s.size()) {
        ++i;
        return 0xFFFD;
    }
    char32_t cp = length == 2 ? (b0 & 0x1F) : length == 3 ? (b0 & 0x0F) : (b0 & 0x07);
    for (int k = 1; k < length; ++k) {
        const auto b = static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]);
        if ((b & 0xC0) != 0x80) {
            ++i;
            return 0xFFFD;
        }
        cp = (cp << 6) | (b & 0x3F);
    }
    i += static_cast<std::size_t>(length);
    return cp;
}

// The C.UTF-8 locale classifies letters of every script, whatever locale the process runs in.
locale_t Utf8Locale() {
    static const locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    return locale;
}

bool IsUnicodeLetter(char32_t cp) {
    const locale_t locale = Utf8Locale();
    return locale != static_cast<locale_t>(nullptr) && iswalpha_l(static_cast<wint_t>(cp), locale) != 0;
}

bool IsUnicodeLetterOrDigit(char32_t cp) {
    const locale_t locale = Utf8Locale();
    return locale != static_cast<locale_t>(nullptr) && iswalnum_l(static_cast<wint_t>(cp), locale) != 0;
}

// R, C, RC, R2, C3, R2C3, R2C, RC3: what the R1C1 notation would read.
bool LooksLikeR1C1(std::string_view name) {
    std::size_t i = 0;
    if (i < name.size() && AsciiUpper(static_cast<unsigned char>(name[i])) == 'R') {
        ++i;
        while (i < name.size() && IsDigit(static_cast<unsigned char>(name[i]))) ++i;
    }
    if (i < name.size() && AsciiUpper(static_cast<unsigned char>(name[i])) == 'C') {
        ++i;
        while (i < name.size() && IsDigit(static_cast<unsigned char>(name[i]))) ++i;
    }
    return i > 0 && i == name.size();
}

// A bracketed external book such as [1] needs no quotes; a file name or path might.
bool BookNeedsQuotes(std::string_view book) {
    for (const char ch : book) {
        const auto c = static_cast<unsigned char>(ch);
        if (!(IsAsciiLetter(c) || IsDigit(c) || c == '_' || c == '.' || c == '[' || c == ']' || c >= 0x80)) return true;
    }
    return false;
}

void AppendDoubled(std::string& out, std::string_view text) {
    for (const char c : text) {
        out += c;
        if (c == '\'') out += '\'';
    }
}

}  // namespace

bool SheetNameNeedsQuotes(std::string_view name) {
    if (name.empty()) return true;
    std::size_t i = 0;
    const char32_t first = DecodeAt(name, i);
    if (!(first == '_' || (first < 0x80 ? IsAsciiLetter(static_cast<unsigned char>(first)) : IsUnicodeLetter(first)))) {
        return true;
    }
    while (i < name.size()) {
        const char32_t cp = DecodeAt(name, i);
        const bool plain = cp < 0x80 ? (IsAsciiLetter(static_cast<unsigned char>(cp)) ||
                                        IsDigit(static_cast<unsigned char>(cp)) || cp == '_' || cp == '.')
                                     : IsUnicodeLetterOrDigit(cp);
        if (!plain) return true;
    }
    if (ClassifyRefPart(name) == RefPart::Cell || LooksLikeR1C1(name)) return true;
    return AsciiEqualNoCase(name, "TRUE") || AsciiEqualNoCase(name, "FALSE");
}

std::string QuoteSheetName(std::string_view name) {
    if (!SheetNameNeedsQuotes(name)) return std::string(name);
    std::string out;
    out.reserve(name.size() + 4);
    out += '\'';
    AppendDoubled(out, name);
    out += '\'';
    return out;
}

std::optional<SheetPrefix> ParseSheetPrefix(std::string_view prefix) {
    if (prefix.size() < 2 || prefix.back() != '!') return std::nullopt;
    std::string_view raw = prefix.substr(0, prefix.size() - 1);
    SheetPrefix result;
    if (AsciiEqualNoCase(raw, "#REF")) {
        result.refError = true;
        return result;
    }
    std::string inner;
    if (raw.front() == '\'') {
        if (raw.size() < 2 || raw.back() != '\'') return std::nullopt;
        result.quoted = true;
        raw = raw.substr(1, raw.size() - 2);
        inner.reserve(raw.size());
        for (std::size_t i = 0; i < raw.size(); ++i) {
            inner += raw[i];
            if (raw[i] == '\'' && i + 1 < raw.size() && raw[i + 1] == '\'') ++i;
        }
        raw = inner;
    }
    // Sheet names cannot hold '[', ']' or ':', so the last ']' ends the book and the first ':' splits a 3D range.
    const std::size_t close = raw.find('[') == std::string_view::npos ? std::string_view::npos : raw.rfind(']');
    if (close != std::string_view::npos) {
        result.book = std::string(raw.substr(0, close + 1));
        raw = raw.substr(close + 1);
    }
    const std::size_t colon = raw.find(':');
    result.firstSheet = std::string(raw.substr(0, colon));
    if (colon != std::string_view::npos) {
        result.lastSheet = std::string(raw.substr(colon + 1));
        if (result.lastSheet.empty()) return std::nullopt;
    }
    if (result.firstSheet.empty() && (result.book.empty() || colon != std::string_view::npos)) return std::nullopt;
    return result;
}

std::string FormatSheetPrefix(const SheetPrefix& prefix) {
    if (prefix.refError) return "#REF!";
    const bool quote = (!prefix.firstSheet.empty() && SheetNameNeedsQuotes(prefix.firstSheet)) ||
                       (prefix.Is3D() && SheetNameNeedsQuotes(prefix.lastSheet)) || BookNeedsQuotes(prefix.book);
    std::string out;
    out.reserve(prefix.book.size() + prefix.firstSheet.size() + prefix.lastSheet.size() + 6);
    if (quote) out += '\'';
    const auto append = [&](std::string_view part) { quote ? AppendDoubled(out, part) : void(out += part); };
    append(prefix.book);
    append(prefix.firstSheet);
    if (prefix.Is3D()) {
        out += ':';
        append(prefix.lastSheet);
    }
    if (quote) out += '\'';
    out += '!';
    return out;
}

}  // namespace orv::formula
