// The POSIX side of the engine's files.
#include "platform/Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "platform/Error.h"

namespace orv::platform {

RandomAccessFile::RandomAccessFile(const std::string& path, const std::string& displayName) {
    m_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (m_fd < 0) {
        throw SystemError("\"" + displayName + "\" cannot be read (" + std::string(std::strerror(errno)) +
                          "). Check that the file exists and that you may read it.");
    }
    const off_t end = ::lseek(m_fd, 0, SEEK_END);
    m_size = end < 0 ? 0 : static_cast<std::uint64_t>(end);
}

RandomAccessFile::~RandomAccessFile() { Close(); }

void RandomAccessFile::Close() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
}

std::int64_t RandomAccessFile::ReadAt(std::uint64_t offset, void* out, std::size_t n, int& error) const {
    const ssize_t got = ::pread(m_fd, out, n, static_cast<off_t>(offset));
    if (got < 0) error = errno;
    return got;
}

std::unique_ptr<TemporaryFile> TemporaryFile::Create(const std::string& folder) {
    int fd = ::open(folder.empty() ? "." : folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0) {
        // File systems without O_TMPFILE: a named file, unlinked at once.
        std::string name = (folder.empty() ? std::string(".") : folder) + "/.orvandel-spool-XXXXXX";
        fd = ::mkostemp(name.data(), O_CLOEXEC);
        if (fd < 0) return nullptr;
        ::unlink(name.c_str());
    }
    return std::unique_ptr<TemporaryFile>(new TemporaryFile(fd));
}

TemporaryFile::~TemporaryFile() {
    if (m_fd >= 0) ::close(m_fd);
}

std::string TemporaryFile::WriteAt(std::uint64_t offset, const char* data, std::size_t n) {
    std::size_t written = 0;
    while (written < n) {
        const ssize_t done =
            ::pwrite(m_fd, data + written, n - written, static_cast<off_t>(offset + written));
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) return done < 0 ? std::strerror(errno) : "nothing written";
        written += static_cast<std::size_t>(done);
    }
    return "";
}

std::string TemporaryFile::ReadAt(std::uint64_t offset, char* out, std::size_t n) const {
    std::size_t done = 0;
    while (done < n) {
        const ssize_t got = ::pread(m_fd, out + done, n - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return got < 0 ? std::strerror(errno) : "it ended early";
        done += static_cast<std::size_t>(got);
    }
    return "";
}

std::optional<FileIdentity> IdentityOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return FileIdentity{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
                        S_ISDIR(st.st_mode)};
}

int SeekTo(int fd, std::uint64_t offset) {
    return ::lseek(fd, static_cast<off_t>(offset), SEEK_SET) < 0 ? errno : 0;
}

std::optional<FileFacts> FactsOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return FileFacts{S_ISREG(st.st_mode) != 0,
                     static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

std::uint32_t ProcessId() { return static_cast<std::uint32_t>(::getpid()); }

std::string CreateNewFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return std::strerror(errno);
    ::close(fd);
    return "";
}

bool MayWrite(const std::string& path) { return ::access(path.c_str(), W_OK) == 0; }

bool FolderTakesNewFiles(const std::string& folder) { return ::access(folder.c_str(), W_OK | X_OK) == 0; }

std::optional<std::string> EnvironmentVariable(const char* name) {
    const char* value = std::getenv(name);
    if (!value) return std::nullopt;
    return std::string(value);
}

bool IsOtherVolume(const std::error_code& error) { return error == std::errc::cross_device_link; }

std::string CopyNewFile(const std::string& from, const std::string& to) {
    std::error_code ec;
    std::filesystem::copy_file(from, to, ec);
    return ec ? ec.message() : std::string();
}

}  // namespace orv::platform
