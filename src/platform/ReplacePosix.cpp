// Atomic replacement of a workbook file through a temporary file in its own folder: the POSIX side.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "platform/AtomicFile.h"
#include "platform/Error.h"

namespace orv::platform {

namespace {

std::string Reason() { return std::strerror(errno); }

}  // namespace

int WriteAll(int fd, const char* data, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        done += static_cast<std::size_t>(n);
    }
    return 0;
}

void ReplaceFileAtomically(const std::string& path, const FileWriter& write, const std::string& displayName,
                           const std::function<void()>&) {
    namespace fs = std::filesystem;
    std::error_code ec;
    // A symbolic link stays a link: the file it points to is the one replaced.
    fs::path target = fs::path(path);
    if (fs::is_symlink(target, ec)) {
        target = fs::canonical(target, ec);
        if (ec)
            throw SystemError("\"" + displayName + "\" is a symbolic link to a file that cannot be found.");
    }
    const std::string failed = "\"" + displayName + "\" could not be saved: ";
    struct stat st {};
    mode_t mode = 0644;
    if (::stat(target.c_str(), &st) == 0) {
        mode = st.st_mode & 07777;
        // Write bits decide even for the superuser: a file marked read-only is never replaced.
        if ((mode & 0222) == 0 || ::access(target.c_str(), W_OK) != 0) {
            throw SystemError(failed + "the file is read-only. Make it writable, then try again.");
        }
    }
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    struct stat folderStat {};
    if (::stat(folder.c_str(), &folderStat) == 0 && (folderStat.st_mode & 0222) == 0) {
        throw SystemError(failed + "its folder is read-only. Make the folder writable, then try again.");
    }
    std::string temp = (folder / ("." + target.filename().string() + ".orvandel-XXXXXX")).string();
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        throw SystemError(failed + "no temporary file can be created in its folder (" + Reason() +
                          "). Make the folder writable, then try again.");
    }
    auto abandon = [&](const std::string& step) {
        const std::string reason = Reason();
        ::close(fd);
        ::unlink(temp.c_str());
        throw SystemError(failed + step + " (" + reason + "). The original file is unchanged.");
    };
    int writeError = 0;
    try {
        writeError = write(fd);
    } catch (...) {
        ::close(fd);
        ::unlink(temp.c_str());
        throw;
    }
    if (writeError != 0) {
        errno = writeError;
        abandon("writing the new file failed");
    }
    if (::fchmod(fd, mode) != 0) abandon("setting the file's permissions failed");
    if (::fsync(fd) != 0) abandon("flushing the new file to disk failed");
    if (::close(fd) != 0) {
        const std::string reason = Reason();
        ::unlink(temp.c_str());
        throw SystemError(failed + "closing the new file failed (" + reason +
                          "). The original file is unchanged.");
    }
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        const std::string reason = Reason();
        ::unlink(temp.c_str());
        throw SystemError(failed + "replacing the file failed (" + reason +
                          "). The original file is unchanged.");
    }
    // Make the rename itself durable.
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}

}  // namespace orv::platform
