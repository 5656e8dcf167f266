// Character encodings through the system's code pages: the names parts declare, read as Windows knows them.
#include <windows.h>

#include <cctype>
#include <string_view>

#include "platform/TextCase.h"
#include "platform/TextEncoding.h"
#include "platform/WindowsText.h"

namespace orv::platform {

namespace {

std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

bool AllDigits(std::string_view text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

// The code page of an encoding name as XML declarations write them (the IANA names and the usual aliases);
// 0 for a name Windows has no code page for.
UINT CodePageOf(const std::string& encoding) {
    const std::string name = Upper(encoding);
    struct Known {
        const char* name;
        UINT codePage;
    };
    static constexpr Known kKnown[] = {
        {"UTF-8", CP_UTF8},     {"UTF8", CP_UTF8},      {"UTF-7", CP_UTF7},    {"US-ASCII", 20127},
        {"ASCII", 20127},       {"ISO-8859-1", 28591},  {"LATIN1", 28591},     {"ISO-8859-2", 28592},
        {"ISO-8859-3", 28593},  {"ISO-8859-4", 28594},  {"ISO-8859-5", 28595}, {"ISO-8859-6", 28596},
        {"ISO-8859-7", 28597},  {"ISO-8859-8", 28598},  {"ISO-8859-9", 28599}, {"ISO-8859-13", 28603},
        {"ISO-8859-15", 28605}, {"SHIFT_JIS", 932},     {"SHIFT-JIS", 932},    {"SJIS", 932},
        {"EUC-JP", 20932},      {"ISO-2022-JP", 50220}, {"GB2312", 936},       {"GBK", 936},
        {"GB18030", 54936},     {"BIG5", 950},          {"EUC-KR", 51949},     {"KS_C_5601-1987", 949},
        {"KOI8-R", 20866},      {"KOI8-U", 21866},      {"MACINTOSH", 10000},  {"TIS-620", 874},
    };
    for (const auto& known : kKnown) {
        if (name == known.name) return known.codePage;
    }
    for (std::string_view prefix : {"WINDOWS-", "CP", "IBM", "X-CP"}) {
        if (name.starts_with(prefix) && AllDigits(std::string_view(name).substr(prefix.size())))
            return static_cast<UINT>(std::stoul(name.substr(prefix.size())));
    }
    return 0;
}

// The code pages of a legacy workbook's own record, as Windows numbers them.
UINT WindowsCodePage(unsigned codePage) {
    switch (codePage) {
        case 367:
            return 20127;
        case 32768:
            return 10000;
        case 0:
        case 32769:
            return 1252;
        default:
            return codePage;
    }
}

}  // namespace

Conversion ConvertToUtf8(const std::string& bytes, const std::string& encoding, std::string& out) {
    const UINT codePage = CodePageOf(encoding);
    CPINFO info{};
    if (codePage == 0 || !::GetCPInfo(codePage, &info)) return Conversion::UnknownEncoding;
    out.clear();
    if (bytes.empty()) return Conversion::Done;
    // Stateful code pages (UTF-7, the ISO-2022 family) take no flags.
    const DWORD flags =
        codePage == CP_UTF7 || (codePage >= 50220 && codePage <= 50229) ? 0 : MB_ERR_INVALID_CHARS;
    const int size = static_cast<int>(bytes.size());
    const int n = ::MultiByteToWideChar(codePage, flags, bytes.data(), size, nullptr, 0);
    if (n <= 0) return Conversion::NotValidText;
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(codePage, flags, bytes.data(), size, wide.data(), n);
    out = windows::Narrow(wide);
    return Conversion::Done;
}

std::string CodePageToUtf8(std::string_view bytes, unsigned codePage) {
    if (codePage == 1200)
        return Utf8FromUtf16Le(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size() / 2);
    // Bytes the code page leaves unmapped come out as U+FFFD.
    UINT windowsCodePage = WindowsCodePage(codePage);
    CPINFO info{};
    if (!::GetCPInfo(windowsCodePage, &info)) windowsCodePage = 1252;
    const int size = static_cast<int>(bytes.size());
    const int units = size ? ::MultiByteToWideChar(windowsCodePage, 0, bytes.data(), size, nullptr, 0) : 0;
    std::wstring wide(static_cast<std::size_t>(units), L'\0');
    if (units) ::MultiByteToWideChar(windowsCodePage, 0, bytes.data(), size, wide.data(), units);
    return windows::Narrow(wide);
}

std::optional<std::string> CodePageFromUtf8(std::string_view utf8, unsigned codePage) {
    const UINT windowsCodePage = WindowsCodePage(codePage);
    CPINFO info{};
    if (!::GetCPInfo(windowsCodePage, &info)) return std::nullopt;
    const std::wstring wide = windows::Wide(utf8);
    if (wide.empty()) return std::string();
    // No best fit: a character the code page lacks must refuse the text, not turn into a look-alike.
    BOOL lost = FALSE;
    const int size = static_cast<int>(wide.size());
    const int n = ::WideCharToMultiByte(windowsCodePage, WC_NO_BEST_FIT_CHARS, wide.data(), size, nullptr, 0,
                                        nullptr, &lost);
    if (n <= 0 || lost) return std::nullopt;
    std::string out(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(windowsCodePage, WC_NO_BEST_FIT_CHARS, wide.data(), size, out.data(), n, nullptr,
                          nullptr);
    return out;
}

}  // namespace orv::platform
