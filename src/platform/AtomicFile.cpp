// Atomic replacement of a workbook file: what both systems share. ReplacePosix.cpp and ReplaceWindows.cpp
// replace the file itself.
#include "platform/AtomicFile.h"

#include <cerrno>
#include <fstream>
#include <vector>

#include "platform/Paths.h"

namespace orv::platform {

void ReplaceFileWithCopyOf(const std::string& path, const std::string& source,
                           const std::string& displayName) {
    ReplaceFileAtomically(
        path,
        [&](int fd) {
            std::ifstream in(PathFromUtf8(source), std::ios::binary);
            if (!in) return EIO;
            std::vector<char> buffer(1 << 20);
            while (in) {
                in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
                if (const int error = WriteAll(fd, buffer.data(), static_cast<std::size_t>(in.gcount())))
                    return error;
            }
            return in.eof() ? 0 : EIO;
        },
        displayName);
}

}  // namespace orv::platform
