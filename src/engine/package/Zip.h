// Reading a zip archive lazily (directory first, entries on demand, with bounds against zip bombs) and
// writing a new archive in which untouched entries are copied as their compressed bytes.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

struct zip;

namespace orv::platform {
class TemporaryFile;
}  // namespace orv::platform

namespace orv::engine {

// Limits on what the engine inflates from one entry.
struct InflateLimits {
    std::uint64_t maxEntryBytes = 1ull << 30;  // 1 GiB
    std::uint64_t maxRatio = 1000;             // inflated / compressed, checked above smallEntryBytes
    std::uint64_t smallEntryBytes = 1u << 20;
};

struct ZipEntry {
    std::string name;
    std::uint64_t size = 0;
    std::uint64_t compressedSize = 0;
    std::uint64_t index = 0;
    std::uint16_t method = 0;
    std::uint32_t crc = 0;
    bool encrypted = false;
};

// An entry being inflated on a thread of its own into a buffer of its full size, for a reader that follows
// the bytes as they arrive. The archive must not be read otherwise until Finish returns (or the object is
// destroyed, which waits for the thread).
class ArrivingEntry {
  public:
    ~ArrivingEntry();
    ArrivingEntry(const ArrivingEntry&) = delete;
    ArrivingEntry& operator=(const ArrivingEntry&) = delete;

    // The whole buffer; before Finish, only as many of its first bytes as WaitFor said are there may be read.
    std::string_view text() const { return m_text; }
    // Waits until at least `n` bytes (at most the size) are there, or the read has ended; returns how many are.
    std::size_t WaitFor(std::size_t n);
    // Waits for the end of the read and hands the bytes over; throws EngineError as Read would.
    std::string Finish();

  private:
    friend class ZipReader;
    ArrivingEntry() = default;
    void Arrive(std::size_t n);
    void End(std::exception_ptr failure);

    std::string m_text;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::size_t m_arrived = 0;
    bool m_ended = false;
    std::exception_ptr m_failure;
    std::thread m_thread;
};

class Spool;

// A part's bytes deflated ahead of writing, with what the zip directory says of them.
struct DeflatedPart {
    std::string data;  // raw deflate stream (empty once spooled)
    std::uint32_t crc = 0;
    std::uint64_t size = 0;  // inflated
    // Where the raw deflate stream lies once a Spool keeps it.
    std::shared_ptr<const Spool> spool;
    std::uint64_t spooledAt = 0;
    std::uint64_t spooledSize = 0;

    std::uint64_t CompressedSize() const { return spool ? spooledSize : data.size(); }
    // `n` compressed bytes from `offset` into `out`; throws EngineError when a spooled stream cannot be read.
    void ReadCompressed(std::uint64_t offset, char* out, std::size_t n) const;
};

// An open zip archive. Only the central directory is read when it opens.
class ZipReader {
  public:
    // Opens the archive at `path`; throws EngineError naming `displayName` when it is not a readable zip
    // archive.
    ZipReader(const std::string& path, const std::string& displayName, InflateLimits limits = {});
    // An archive without entries and without a file, for a package made in memory.
    explicit ZipReader(const std::string& displayName);
    ~ZipReader();
    ZipReader(const ZipReader&) = delete;
    ZipReader& operator=(const ZipReader&) = delete;

    const std::vector<ZipEntry>& entries() const { return m_entries; }
    // The entry of that name (compared ignoring ASCII case, as package part names are), or nullptr.
    const ZipEntry* Find(const std::string& name) const;
    // Closes the file: reads fail from now on (the file is about to be replaced; see Package::Save).
    void ReleaseFile();
    InflateLimits limits() const { return m_limits; }
    // The inflated bytes of an entry; throws EngineError when it is damaged or exceeds the limits.
    std::string Read(const ZipEntry& entry) const;
    // The same bytes, inflated on a thread of its own while the caller reads them as they arrive.
    std::unique_ptr<ArrivingEntry> ReadArriving(const ZipEntry& entry) const;
    // The same bytes handed to `piece` a megabyte at a time, so that a large entry is never held whole.
    void ReadInPieces(const ZipEntry& entry, const std::function<void(std::string_view)>& piece) const;
    // The first `bytes` bytes of the entry (all of a shorter one), unchecked: what a glance at a part's start
    // needs, without inflating the rest.
    std::string ReadStart(const ZipEntry& entry, std::size_t bytes) const;
    // The compressed bytes of a deflated entry as they are, for another archive to store unchanged; nullopt
    // for an entry stored or encrypted. Throws EngineError when they cannot be read.
    std::optional<DeflatedPart> ReadDeflated(const ZipEntry& entry) const;
    // How many bytes of the file were read so far (the directory and every entry read).
    std::uint64_t bytesRead() const;

    struct zip* handle() const {
        return m_zip;
    }
    const std::string& displayName() const { return m_displayName; }

  private:
    // How an entry is named in messages about it.
    std::string Describe(const ZipEntry& entry) const;

    struct Counter;
    std::unique_ptr<Counter> m_counter;
    struct zip* m_zip = nullptr;
    std::string m_displayName;
    InflateLimits m_limits;
    std::vector<ZipEntry> m_entries;
};


// Compressed parts staged for a save, kept in an unlinked temporary file instead of memory: a rename in a
// workbook of many large sheets holds the rewritten parts of all of them until the save copies them.
class Spool : public std::enable_shared_from_this<Spool> {
  public:
    // A spool in `folder` (beside the workbook, so on its file system), or nullptr when none can be made
    // there; the parts then stay in memory.
    static std::shared_ptr<Spool> Create(const std::string& folder);
    ~Spool();
    Spool(const Spool&) = delete;
    Spool& operator=(const Spool&) = delete;

    // Moves `part`'s compressed bytes into the file; when they cannot be written they stay in memory.
    void Keep(DeflatedPart& part);
    // Appends `bytes`; throws EngineError when they cannot be written (a full disk).
    void Append(std::string_view bytes);
    std::uint64_t size() const { return m_end; }
    // Throws EngineError when the bytes cannot be read back.
    void Read(std::uint64_t offset, char* out, std::size_t n) const;

  private:
    explicit Spool(std::unique_ptr<platform::TemporaryFile> file) : m_file(std::move(file)) {}
    std::unique_ptr<platform::TemporaryFile> m_file;
    std::uint64_t m_end = 0;
};

// Deflates `bytes` as rewritten parts are deflated (see DeflateStream); throws EngineError when that fails.
DeflatedPart Deflate(std::string_view bytes);
// zlib's level for the small new parts libzip deflates while it writes the archive. On workbook XML level 4
// compresses within a few per cent of zlib's default 6 (sometimes better) in less than half its time; libzip's
// own default, 9, is slower still.
constexpr int kDeflateLevel = 4;

// Deflates a part handed over in pieces, so that a large part is never held whole, while its producer goes on.
// The parts the engine rewrites are deflated with ISA-L: on workbook XML it is five times as fast as zlib at
// level 4, for a stream about a tenth larger.
class DeflateStream {
  public:
    DeflateStream();
    // The same, its compressed bytes written to a Spool of their own in `folder` as they come (a part as large
    // as the workbook is then never held in memory, even compressed); in memory when no spool can be made there.
    explicit DeflateStream(const std::string& folder);
    ~DeflateStream();
    DeflateStream(const DeflateStream&) = delete;
    DeflateStream& operator=(const DeflateStream&) = delete;
    // Throws EngineError when zlib fails.
    void Add(std::string_view bytes);
    // The part. Unless `last`, its stream ends on a byte boundary without ending the deflate stream, for
    // another's to follow it (see JoinDeflated).
    DeflatedPart Finish(bool last = true);

  private:
    struct State;
    std::unique_ptr<State> m_state;
};

// One part out of `pieces` deflated in order, each but the last finished with `last` false: their streams
// joined, their CRCs combined; spooled in `folder` when any of them was. Throws EngineError when a spooled piece
// cannot be read back or the joined stream cannot be written.
DeflatedPart JoinDeflated(std::vector<DeflatedPart> pieces, const std::string& folder);

// The bytes of a part deflated by Deflate or a DeflateStream; throws EngineError when they do not inflate to
// its size and CRC.
std::string Inflate(const DeflatedPart& part);

// One entry of a zip archive being written: raw-copied from a reader, written as deflated ahead, or new bytes
// to deflate.
struct ZipOutEntry {
    std::string name;
    const ZipEntry* rawFrom = nullptr;       // copy these compressed bytes as they are
    const DeflatedPart* deflated = nullptr;  // or store these compressed bytes (owned by the caller)
    std::string_view bytes;                  // otherwise deflate these (owned by the caller)
};

// Writes the archive, entries in the given order, into the open descriptor `fd` from its start. Returns 0, or
// the errno of a write that failed; throws EngineError for any other failure.
int WriteZip(const ZipReader& source, const std::vector<ZipOutEntry>& entries, int fd);

}  // namespace orv::engine
