// Atomic replacement of a workbook file through a temporary file in its own folder: the Windows side.
#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

#include "platform/AtomicFile.h"
#include "platform/Error.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "platform/WindowsText.h"

namespace orv::platform {

using windows::ErrorText;
using windows::HeldByAnotherProgram;
using windows::LongPath;
using windows::RetryWhileHeld;

namespace {

const char* const kClose = windows::kHeldAdvice;

// Puts `from` in the place of `to` while this program still reads `to` (a package being saved copies its
// untouched parts from the file it replaces, and keeps reading it afterwards, as it may on Linux): a file
// that is open cannot be renamed over, but it can be renamed, when every handle to it lets others delete it.
// The file replaced goes aside under a name of ours beside it, the new one takes its place, and the old one
// is deleted: its name goes once the last handle to it is closed. Should the second rename fail, the old file
// comes back.
// A temporary file another program opened for a moment (a virus scanner looking at a new file) is removed once
// it lets go; one still held after that is left, hidden, rather than failing the save.
void RemoveTemporary(const std::wstring& temp) {
    RetryWhileHeld([&] { return ::DeleteFileW(temp.c_str()) ? DWORD{0} : ::GetLastError(); }, true);
}

DWORD ReplaceOpenFile(const std::wstring& from, const std::wstring& to, const std::wstring& aside) {
    if (!::MoveFileExW(to.c_str(), aside.c_str(), MOVEFILE_WRITE_THROUGH)) return ::GetLastError();
    if (!::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH)) {
        const DWORD error = ::GetLastError();
        ::MoveFileExW(aside.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH);
        return error;
    }
    ::DeleteFileW(aside.c_str());
    return 0;
}

}  // namespace

int WriteAll(int fd, const char* data, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const unsigned piece = static_cast<unsigned>(std::min<std::size_t>(size - done, 1u << 30));
        const int n = ::_write(fd, data + done, piece);
        if (n < 0) return errno;
        if (n == 0) return EIO;
        done += static_cast<std::size_t>(n);
    }
    return 0;
}

void ReplaceFileAtomically(const std::string& path, const FileWriter& write, const std::string& displayName,
                           const std::function<void()>& letGo) {
    const std::string failed = "\"" + displayName + "\" could not be saved: ";
    const std::wstring target = LongPath(path);
    DWORD attributes = ::GetFileAttributesW(target.c_str());
    const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
    if (exists) {
        if (attributes & FILE_ATTRIBUTE_READONLY)
            throw SystemError(failed + "the file is read-only. Make it writable, then try again.");
        // Asked before anything is written: may this program replace the file, and does no other hold it?
        HANDLE probe = INVALID_HANDLE_VALUE;
        const DWORD error = RetryWhileHeld(
            [&] {
                probe = ::CreateFileW(target.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
                return probe == INVALID_HANDLE_VALUE ? ::GetLastError() : DWORD{0};
            },
            true);
        if (probe == INVALID_HANDLE_VALUE) {
            if (HeldByAnotherProgram(error)) throw SystemError(failed + kClose);
            if (error == ERROR_ACCESS_DENIED)
                throw SystemError(failed +
                                  "you may not change it. Ask for write access to it, then try again.");
        } else {
            ::CloseHandle(probe);
        }
    }
    const std::wstring folder = target.substr(0, target.find_last_of(L'\\'));
    const std::string name = FileNameOf(path);
    static std::atomic<unsigned> counter{0};
    std::wstring temp;
    HANDLE file = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt) {
        temp = folder + L"\\" +
               windows::Wide("." + name + ".orvandel-" + std::to_string(ProcessId()) + "-" +
                             std::to_string(++counter));
        file = ::CreateFileW(temp.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_HIDDEN, nullptr);
        if (file == INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_FILE_EXISTS) break;
    }
    if (file == INVALID_HANDLE_VALUE) {
        throw SystemError(failed + "no temporary file can be created in its folder (" +
                          ErrorText(::GetLastError()) + "). Make the folder writable, then try again.");
    }
    const int fd = ::_open_osfhandle(reinterpret_cast<std::intptr_t>(file), _O_RDWR | _O_BINARY);
    if (fd < 0) {
        ::CloseHandle(file);
        ::DeleteFileW(temp.c_str());
        throw SystemError(failed + "no file descriptor is left. Close other programs, then try again.");
    }
    auto discard = [&] {
        ::_close(fd);
        RemoveTemporary(temp);
    };
    int writeError = 0;
    try {
        writeError = write(fd);
    } catch (...) {
        discard();
        throw;
    }
    if (writeError != 0) {
        const std::string reason = std::strerror(writeError);
        discard();
        throw SystemError(failed + "writing the new file failed (" + reason +
                          "). The original file is unchanged.");
    }
    if (!::FlushFileBuffers(file)) {
        const std::string reason = ErrorText(::GetLastError());
        discard();
        throw SystemError(failed + "flushing the new file to disk failed (" + reason +
                          "). The original file is unchanged.");
    }
    ::_close(fd);
    // The new file takes the attributes of the one it replaces (archive, hidden, not content indexed...).
    attributes =
        exists ? attributes & ~(FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_DIRECTORY) : FILE_ATTRIBUTE_NORMAL;
    ::SetFileAttributesW(temp.c_str(), attributes ? attributes : FILE_ATTRIBUTE_NORMAL);
    if (letGo) letGo();
    const DWORD error = RetryWhileHeld(
        [&] {
            if (::MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
                return DWORD{0};
            DWORD failure = ::GetLastError();
            if (failure == ERROR_ACCESS_DENIED || HeldByAnotherProgram(failure)) {
                const DWORD asideError = ReplaceOpenFile(temp, target, temp + L"-replaced");
                if (asideError == 0 || HeldByAnotherProgram(asideError)) failure = asideError;
            }
            return failure;
        },
        true);
    const bool replaced = error == 0;
    if (!replaced) {
        RemoveTemporary(temp);
        if (HeldByAnotherProgram(error))
            throw SystemError(failed + kClose + " The original file is unchanged.");
        throw SystemError(failed + "replacing the file failed (" + ErrorText(error) +
                          "). The original file is unchanged.");
    }
}

}  // namespace orv::platform
