// Character encodings through iconv (the C library's converter).
#include "platform/TextEncoding.h"

#include <iconv.h>

#include <cerrno>
#include <vector>

#include "platform/TextCase.h"

namespace orv::platform {

Conversion ConvertToUtf8(const std::string& bytes, const std::string& encoding, std::string& out) {
    const iconv_t convert = iconv_open("UTF-8", encoding.c_str());
    if (convert == reinterpret_cast<iconv_t>(-1)) return Conversion::UnknownEncoding;
    out.assign(bytes.size() + bytes.size() / 2 + 64, '\0');
    char* in = const_cast<char*>(bytes.data());
    std::size_t inLeft = bytes.size();
    std::size_t used = 0;
    // The input, then the end of any shift state.
    for (bool flushing = false;;) {
        char* next = out.data() + used;
        std::size_t outLeft = out.size() - used;
        const std::size_t done = flushing ? iconv(convert, nullptr, nullptr, &next, &outLeft)
                                          : iconv(convert, &in, &inLeft, &next, &outLeft);
        used = static_cast<std::size_t>(next - out.data());
        if (done != static_cast<std::size_t>(-1)) {
            if (flushing) break;
            flushing = true;
        } else if (errno == E2BIG) {
            out.resize(out.size() * 2);
        } else {
            iconv_close(convert);
            return Conversion::NotValidText;
        }
    }
    iconv_close(convert);
    out.resize(used);
    return Conversion::Done;
}

namespace {

// The code pages of a legacy workbook's own record, as iconv names them.
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
        case 0:
        case 32769:
            return "CP1252";
        default:
            return "CP" + std::to_string(codePage);
    }
}

}  // namespace

std::string CodePageToUtf8(std::string_view bytes, unsigned codePage) {
    if (codePage == 1200)
        return Utf8FromUtf16Le(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size() / 2);
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
}

std::optional<std::string> CodePageFromUtf8(std::string_view utf8, unsigned codePage) {
    iconv_t cd = iconv_open(IconvName(codePage).c_str(), "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
    std::string out;
    std::vector<char> in(utf8.begin(), utf8.end());
    char* inPtr = in.data();
    std::size_t inLeft = in.size();
    char buffer[256];
    bool whole = true;
    while (inLeft > 0 && whole) {
        char* outPtr = buffer;
        std::size_t outLeft = sizeof buffer;
        const std::size_t rc = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
        out.append(buffer, static_cast<std::size_t>(outPtr - buffer));
        // A character the code page lacks, or a cut UTF-8 sequence; a full buffer just goes round again.
        if (rc == static_cast<std::size_t>(-1) && errno != E2BIG) whole = false;
    }
    iconv_close(cd);
    if (!whole) return std::nullopt;
    return out;
}

}  // namespace orv::platform
