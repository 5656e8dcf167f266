// Character encodings through iconv (the C library's converter).
#include "platform/TextEncoding.h"

#include <iconv.h>

#include <cerrno>

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

}  // namespace orv::platform
