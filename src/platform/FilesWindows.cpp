// The Windows side of the engine's files: wide names at any length, positional reads and writes, and shares
// that let the workbook being read be replaced by its saved version.
#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>

#include "platform/Error.h"
#include "platform/Files.h"
#include "platform/WindowsText.h"

namespace orv::platform {

using windows::ErrorText;
using windows::LongPath;

namespace {

// A workbook being read stays open while its saved version replaces it (the save copies its untouched parts
// from it): every share is granted, delete included, as a file kept open on Linux may be renamed over.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

int ErrnoOf(DWORD error) {
    switch (error) {
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return EACCES;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return ENOSPC;
        default:
            return EIO;
    }
}

HANDLE HandleOf(int fd) { return reinterpret_cast<HANDLE>(::_get_osfhandle(fd)); }

OVERLAPPED At(std::uint64_t offset) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return at;
}

// Reads up to `n` bytes at `offset`: how many, or -1 with the system's error in `error`.
std::int64_t ReadHandleAt(HANDLE file, std::uint64_t offset, void* out, std::size_t n, DWORD& error) {
    OVERLAPPED at = At(offset);
    DWORD got = 0;
    const DWORD ask = static_cast<DWORD>(std::min<std::size_t>(n, 1u << 30));
    if (!::ReadFile(file, out, ask, &got, &at)) {
        error = ::GetLastError();
        if (error == ERROR_HANDLE_EOF) return 0;
        return -1;
    }
    return got;
}

}  // namespace

RandomAccessFile::RandomAccessFile(const std::string& path, const std::string& displayName) {
    HANDLE file = INVALID_HANDLE_VALUE;
    const DWORD error = windows::RetryWhileHeld(
        [&] {
            file = ::CreateFileW(LongPath(path).c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL | FILE_FLAG_RANDOM_ACCESS, nullptr);
            return file == INVALID_HANDLE_VALUE ? ::GetLastError() : DWORD{0};
        },
        false);
    if (file == INVALID_HANDLE_VALUE) {
        if (windows::HeldByAnotherProgram(error))
            throw SystemError("\"" + displayName + "\" cannot be read: " + windows::kHeldAdvice);
        throw SystemError("\"" + displayName + "\" cannot be read (" + ErrorText(error) +
                          "). Check that the file exists and that you may read it.");
    }
    LARGE_INTEGER size{};
    m_size = ::GetFileSizeEx(file, &size) ? static_cast<std::uint64_t>(size.QuadPart) : 0;
    m_fd = ::_open_osfhandle(reinterpret_cast<std::intptr_t>(file), _O_RDONLY | _O_BINARY);
    if (m_fd < 0) {
        ::CloseHandle(file);
        throw SystemError("\"" + displayName + "\" cannot be read (no file descriptor is left).");
    }
}

RandomAccessFile::~RandomAccessFile() { Close(); }

void RandomAccessFile::Close() {
    if (m_fd >= 0) ::_close(m_fd);
    m_fd = -1;
}

std::int64_t RandomAccessFile::ReadAt(std::uint64_t offset, void* out, std::size_t n, int& error) const {
    if (m_fd < 0) {
        error = EBADF;
        return -1;
    }
    DWORD failure = 0;
    const std::int64_t got = ReadHandleAt(HandleOf(m_fd), offset, out, n, failure);
    if (got < 0) error = ErrnoOf(failure);
    return got;
}

std::unique_ptr<TemporaryFile> TemporaryFile::Create(const std::string& folder) {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = (folder.empty() ? std::string(".") : folder) + "/.orvandel-spool-" +
                                 std::to_string(ProcessId()) + "-" + std::to_string(++counter);
        // Gone with its last handle, even when the program is ended: the system deletes it.
        const HANDLE file = ::CreateFileW(
            LongPath(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
            FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            if (::GetLastError() == ERROR_FILE_EXISTS) continue;
            return nullptr;
        }
        const int fd = ::_open_osfhandle(reinterpret_cast<std::intptr_t>(file), _O_RDWR | _O_BINARY);
        if (fd < 0) {
            ::CloseHandle(file);
            return nullptr;
        }
        return std::unique_ptr<TemporaryFile>(new TemporaryFile(fd));
    }
    return nullptr;
}

TemporaryFile::~TemporaryFile() {
    if (m_fd >= 0) ::_close(m_fd);
}

std::string TemporaryFile::WriteAt(std::uint64_t offset, const char* data, std::size_t n) {
    std::size_t written = 0;
    while (written < n) {
        OVERLAPPED at = At(offset + written);
        DWORD done = 0;
        const DWORD ask = static_cast<DWORD>(std::min<std::size_t>(n - written, 1u << 30));
        if (!::WriteFile(HandleOf(m_fd), data + written, ask, &done, &at)) return ErrorText(::GetLastError());
        if (done == 0) return "nothing written";
        written += done;
    }
    return "";
}

std::string TemporaryFile::ReadAt(std::uint64_t offset, char* out, std::size_t n) const {
    std::size_t done = 0;
    while (done < n) {
        DWORD error = 0;
        const std::int64_t got = ReadHandleAt(HandleOf(m_fd), offset + done, out + done, n - done, error);
        if (got < 0) return ErrorText(error);
        if (got == 0) return "it ended early";
        done += static_cast<std::size_t>(got);
    }
    return "";
}

std::optional<FileIdentity> IdentityOf(const std::string& path) {
    // No access asked: the file's identity can be had even while another program holds it open.
    const HANDLE file = ::CreateFileW(LongPath(path).c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::nullopt;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = ::GetFileInformationByHandle(file, &info);
    ::CloseHandle(file);
    if (!known) return std::nullopt;
    return FileIdentity{info.dwVolumeSerialNumber,
                        (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow,
                        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0};
}

int SeekTo(int fd, std::uint64_t offset) {
    return ::_lseeki64(fd, static_cast<__int64>(offset), SEEK_SET) < 0 ? errno : 0;
}

std::optional<FileFacts> FactsOf(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(LongPath(path).c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
    // 100 ns ticks since 1601; only compared with one another.
    const std::int64_t ticks =
        static_cast<std::int64_t>((static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                                  data.ftLastWriteTime.dwLowDateTime);
    return FileFacts{(data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0,
                     ticks * 100};
}

std::uint32_t ProcessId() { return ::GetCurrentProcessId(); }

std::string CreateNewFile(const std::string& path) {
    const HANDLE file = ::CreateFileW(LongPath(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return ErrorText(::GetLastError());
    ::CloseHandle(file);
    return "";
}

bool MayWrite(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesW(LongPath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) == 0;
}

// The read-only attribute of a folder means nothing to the files in it (Explorer uses it to mark special
// folders); only a file actually made tells.
bool FolderTakesNewFiles(const std::string& folder) {
    const std::string probe = folder + "/.orvandel-probe-" + std::to_string(ProcessId());
    const HANDLE file = ::CreateFileW(LongPath(probe).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    ::CloseHandle(file);
    return true;
}

std::optional<std::string> EnvironmentVariable(const char* name) {
    const std::wstring wideName = windows::Wide(name);
    const wchar_t* value = ::_wgetenv(wideName.c_str());
    if (!value) return std::nullopt;
    return windows::Narrow(value);
}

bool IsOtherVolume(const std::error_code& error) {
    return error == std::errc::cross_device_link ||
           (error.category() == std::system_category() && error.value() == ERROR_NOT_SAME_DEVICE);
}

std::string CopyNewFile(const std::string& from, const std::string& to) {
    const std::wstring source = LongPath(from), copy = LongPath(to);
    const DWORD error = windows::RetryWhileHeld(
        [&] { return ::CopyFileW(source.c_str(), copy.c_str(), TRUE) ? DWORD{0} : ::GetLastError(); }, false);
    if (error == 0) return {};
    return windows::HeldByAnotherProgram(error) ? std::string(windows::kHeldAdvice) : ErrorText(error);
}

}  // namespace orv::platform
