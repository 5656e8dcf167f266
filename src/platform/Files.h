// Files as the engine reads and keeps them: a file read at any offset, an unnamed temporary file beside a
// workbook, and what tells a file from the one that replaced it. The operating system is called here only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <system_error>

namespace orv::platform {

// A file opened for reading at any offset (the zip reader's source), closed with the object.
class RandomAccessFile {
  public:
    // Opens `path`; throws SystemError naming `displayName` when it cannot be read.
    RandomAccessFile(const std::string& path, const std::string& displayName);
    ~RandomAccessFile();
    RandomAccessFile(const RandomAccessFile&) = delete;
    RandomAccessFile& operator=(const RandomAccessFile&) = delete;

    std::uint64_t size() const { return m_size; }
    // Reads up to `n` bytes at `offset` into `out`: how many (0 at the end), or -1 with `error` set to the
    // system's error number.
    std::int64_t ReadAt(std::uint64_t offset, void* out, std::size_t n, int& error) const;
    // Closes the file early (a failed open of the archive); reads then fail.
    void Close();

  private:
    int m_fd = -1;
    std::uint64_t m_size = 0;
};

// The first `bytes` bytes of `file` (all of a shorter one); fewer when a read fails or the file shrank.
inline std::string ReadStart(const RandomAccessFile& file, std::uint64_t bytes) {
    std::string start(static_cast<std::size_t>(bytes < file.size() ? bytes : file.size()), '\0');
    std::size_t done = 0;
    for (int error = 0; done < start.size();) {
        const auto got = file.ReadAt(done, start.data() + done, start.size() - done, error);
        if (got <= 0) break;
        done += static_cast<std::size_t>(got);
    }
    start.resize(done);
    return start;
}

// A temporary file in a folder that has no name (or loses it at once), gone with the object: what the spool
// keeps compressed parts in.
class TemporaryFile {
  public:
    // A temporary file in `folder` ("" for the current folder), or nullptr when none can be made there.
    static std::unique_ptr<TemporaryFile> Create(const std::string& folder);
    ~TemporaryFile();
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    // Writes all `n` bytes at `offset`; "" or why they could not be written.
    std::string WriteAt(std::uint64_t offset, const char* data, std::size_t n);
    // Reads exactly `n` bytes at `offset`; "" or why they could not be read.
    std::string ReadAt(std::uint64_t offset, char* out, std::size_t n) const;

  private:
    explicit TemporaryFile(int fd) : m_fd(fd) {}
    int m_fd = -1;
};

// What tells a file from another put in its place: its device and file number.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool directory = false;
    bool SameFile(const FileIdentity& other) const { return device == other.device && inode == other.inode; }
};

// The identity of the file at `path`, or nullopt when there is none.
std::optional<FileIdentity> IdentityOf(const std::string& path);

// Moves the write position of the open descriptor `fd` to `offset`; 0 or the system's error number.
int SeekTo(int fd, std::uint64_t offset);

// Facts about a file that tell whether it changed since: a regular file, and when it was last written.
struct FileFacts {
    bool regular = false;
    std::int64_t modifiedNs = 0;
};
std::optional<FileFacts> FactsOf(const std::string& path);

// This process's number, to make names no other running program picks.
std::uint32_t ProcessId();

// Creates `path` as a new empty file, failing when anything is there already: "" or why it could not be made.
std::string CreateNewFile(const std::string& path);

// Copies the file `from` to `to`, which must not exist: "" or why it could not be copied. On Windows a file
// another program holds for a moment is waited for, as a save waits for it.
std::string CopyNewFile(const std::string& from, const std::string& to);

// True when the user may write the file at `path` (it exists and is not read-only).
bool MayWrite(const std::string& path);

// True when a new file can be created in `folder` (a test file is made and removed).
bool FolderTakesNewFiles(const std::string& folder);

// The value of an environment variable as UTF-8, or nullopt when it is not set.
std::optional<std::string> EnvironmentVariable(const char* name);

// True when `error`, from making a hard link, says the link and the file are on different volumes.
bool IsOtherVolume(const std::error_code& error);

}  // namespace orv::platform
