// Files as the engine reads and keeps them: a file read at any offset, an unnamed temporary file beside a
// workbook, and what tells a file from the one that replaced it. The operating system is called here only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace orv::engine {

// A file opened for reading at any offset (the zip reader's source), closed with the object.
class RandomAccessFile {
  public:
    // Opens `path`; throws EngineError naming `displayName` when it cannot be read.
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

}  // namespace orv::engine
