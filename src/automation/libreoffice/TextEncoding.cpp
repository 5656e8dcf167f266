// UTF-16 and code page conversion: through iconv, which the C library provides, or Windows' own code pages.
#include "automation/libreoffice/TextEncoding.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>
#endif

#include "engine/workbook/SheetNames.h"

#include <string>
#include <vector>

namespace orv::libreoffice {

using platform::AppendUtf8;

namespace {

#ifdef _WIN32
// The code pages of the workbook's own record, as Windows numbers them.
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
#else
std::string IconvName(unsigned codePage) {
    switch (codePage) {
        case 367:
            return "ASCII";
        case 10000:
        case 32768:
            return "MACINTOSH";
        case 10006:
            return "MACGREEK";
        case 10007:
            return "MACCYRILLIC";
        case 10029:
            return "MACCENTRALEUROPE";
        case 10079:
            return "MACICELAND";
        case 10081:
            return "MACTURKISH";
        case 32769:
            return "CP1252";
        case 0:
            return "CP1252";
        default:
            return "CP" + std::to_string(codePage);
    }
}
#endif

}  // namespace

std::string Utf16LeToUtf8(const std::uint8_t* data, std::size_t units) {
    std::string out;
    for (std::size_t i = 0; i < units; ++i) {
        std::uint32_t unit = data[2 * i] | data[2 * i + 1] << 8;
        if (unit >= 0xD800 && unit < 0xDC00 && i + 1 < units) {
            const std::uint32_t low = data[2 * i + 2] | data[2 * i + 3] << 8;
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

std::string CodePageToUtf8(std::string_view bytes, unsigned codePage) {
    if (codePage == 1200) {
        return Utf16LeToUtf8(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size() / 2);
    }
#ifdef _WIN32
    // Bytes the code page leaves unmapped come out as U+FFFD, as below.
    UINT windowsCodePage = WindowsCodePage(codePage);
    CPINFO info{};
    if (!::GetCPInfo(windowsCodePage, &info)) windowsCodePage = 1252;
    const int size = static_cast<int>(bytes.size());
    const int units = size ? ::MultiByteToWideChar(windowsCodePage, 0, bytes.data(), size, nullptr, 0) : 0;
    std::wstring wide(static_cast<std::size_t>(units), L'\0');
    if (units) ::MultiByteToWideChar(windowsCodePage, 0, bytes.data(), size, wide.data(), units);
    return Utf16LeToUtf8(reinterpret_cast<const std::uint8_t*>(wide.data()), wide.size());
#else
    iconv_t cd = iconv_open("UTF-8", IconvName(codePage).c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) cd = iconv_open("UTF-8", "CP1252");
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        // Without iconv tables keep ASCII and mark the rest, rather than fail a listing.
        std::string out;
        for (unsigned char c : bytes) c < 0x80 ? void(out += static_cast<char>(c)) : AppendUtf8(out, 0xFFFD);
        return out;
    }
    std::string out;
    std::vector<char> in(bytes.begin(), bytes.end());
    char* inPtr = in.data();
    std::size_t inLeft = in.size();
    char buffer[256];
    while (inLeft > 0) {
        char* outPtr = buffer;
        std::size_t outLeft = sizeof buffer;
        const std::size_t rc = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
        out.append(buffer, static_cast<std::size_t>(outPtr - buffer));
        if (rc == static_cast<std::size_t>(-1) && outLeft == sizeof buffer) {
            // A byte the code page leaves unmapped (or a cut multi-byte character): replace it and go on.
            AppendUtf8(out, 0xFFFD);
            ++inPtr;
            --inLeft;
        }
    }
    iconv_close(cd);
    return out;
#endif
}

}  // namespace orv::libreoffice
