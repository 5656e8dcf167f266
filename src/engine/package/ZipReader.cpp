// Reading a zip archive over libzip: a counting file source, bounded reads, entries that arrive on a thread.
#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>
#include <zip.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>
#include <vector>

#include "engine/EngineError.h"
#include "engine/package/Zip.h"
#include "platform/AtomicFile.h"
#include "platform/Files.h"
#include "platform/Memory.h"
#include "platform/Threads.h"

namespace orv::engine {


namespace {

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

}  // namespace

// A seekable libzip source over a file descriptor that counts every byte it hands out, so that tests can
// prove how little of a workbook a listing reads.
struct ZipReader::Counter {
    std::unique_ptr<platform::RandomAccessFile> file;
    std::uint64_t size = 0;
    std::uint64_t offset = 0;
    std::uint64_t bytesRead = 0;
    zip_error_t error{};

    static zip_int64_t Callback(void* user, void* data, zip_uint64_t len, zip_source_cmd_t cmd) {
        auto* self = static_cast<Counter*>(user);
        switch (cmd) {
            case ZIP_SOURCE_OPEN:
                self->offset = 0;
                return 0;
            case ZIP_SOURCE_READ: {
                int error = 0;
                const std::int64_t n = self->file->ReadAt(self->offset, data, len, error);
                if (n < 0) {
                    zip_error_set(&self->error, ZIP_ER_READ, error);
                    return -1;
                }
                self->offset += static_cast<std::uint64_t>(n);
                self->bytesRead += static_cast<std::uint64_t>(n);
                return n;
            }
            case ZIP_SOURCE_CLOSE:
                return 0;
            case ZIP_SOURCE_STAT: {
                auto* st = static_cast<zip_stat_t*>(data);
                zip_stat_init(st);
                st->size = self->size;
                st->valid |= ZIP_STAT_SIZE;
                return sizeof(zip_stat_t);
            }
            case ZIP_SOURCE_ERROR:
                return zip_error_to_data(&self->error, data, len);
            case ZIP_SOURCE_FREE:
                return 0;
            case ZIP_SOURCE_SEEK: {
                const zip_int64_t to =
                    zip_source_seek_compute_offset(self->offset, self->size, data, len, &self->error);
                if (to < 0) return -1;
                self->offset = static_cast<std::uint64_t>(to);
                return 0;
            }
            case ZIP_SOURCE_TELL:
                return static_cast<zip_int64_t>(self->offset);
            case ZIP_SOURCE_SUPPORTS:
                return ZIP_SOURCE_SUPPORTS_SEEKABLE;
            default:
                zip_error_set(&self->error, ZIP_ER_OPNOTSUPP, 0);
                return -1;
        }
    }
};

namespace {

// A buffer of an entry's inflated size, its pages mapped in.
std::string EntryBuffer(const ZipEntry& entry) {
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(entry.size));
    platform::Prefault(bytes.data(), bytes.capacity());
    bytes.resize(static_cast<std::size_t>(entry.size));
    return bytes;
}

}  // namespace

ZipReader::ZipReader(const std::string& path, const std::string& displayName, InflateLimits limits)
    : m_counter(std::make_unique<Counter>()), m_displayName(displayName), m_limits(limits) {
    platform::ReturnLargeBuffersAtOnce();
    zip_error_init(&m_counter->error);
    m_counter->file = std::make_unique<platform::RandomAccessFile>(path, displayName);
    m_counter->size = m_counter->file->size();

    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = zip_source_function_create(&Counter::Callback, m_counter.get(), &error);
    if (source) m_zip = zip_open_from_source(source, ZIP_RDONLY, &error);
    if (!m_zip) {
        if (source) zip_source_free(source);
        const int code = zip_error_code_zip(&error);
        zip_error_fini(&error);
        m_counter->file->Close();
        // A file that starts like a zip (the caller checked) but has no zip directory was cut short.
        (void)code;
        throw EngineError(
            "\"" + displayName +
            "\" is damaged or incomplete (its zip directory cannot be read; the file may be truncated). "
            "Restore it from a backup or open it in the spreadsheet application to repair it.");
    }
    zip_error_fini(&error);

    const zip_int64_t count = zip_get_num_entries(m_zip, 0);
    std::set<std::string> seen;
    for (zip_int64_t i = 0; i < count; ++i) {
        zip_stat_t st;
        if (zip_stat_index(m_zip, static_cast<zip_uint64_t>(i), 0, &st) != 0) continue;
        ZipEntry entry;
        entry.name = st.name ? st.name : "";
        entry.size = st.size;
        entry.compressedSize = st.comp_size;
        entry.index = static_cast<std::uint64_t>(i);
        entry.method = st.comp_method;
        entry.crc = st.crc;
        entry.encrypted = (st.valid & ZIP_STAT_ENCRYPTION_METHOD) && st.encryption_method != ZIP_EM_NONE;
        if (!seen.insert(Lower(entry.name)).second) {
            // The destructor does not run for a constructor that throws.
            zip_discard(m_zip);
            m_zip = nullptr;
            m_counter->file->Close();
            throw EngineError("\"" + displayName +
                              "\" is damaged: its zip package holds two entries named \"" + entry.name +
                              "\". Open it in the spreadsheet application to repair it.");
        }
        m_entries.push_back(std::move(entry));
    }
}

ZipReader::ZipReader(const std::string& displayName)
    : m_counter(std::make_unique<Counter>()), m_displayName(displayName) {}

ZipReader::~ZipReader() {
    if (m_zip) zip_discard(m_zip);
}

void ZipReader::ReleaseFile() {
    if (m_counter->file) m_counter->file->Close();
}

const ZipEntry* ZipReader::Find(const std::string& name) const {
    const std::string wanted = Lower(name);
    for (const auto& entry : m_entries) {
        if (Lower(entry.name) == wanted) return &entry;
    }
    return nullptr;
}

std::uint64_t ZipReader::bytesRead() const { return m_counter->bytesRead; }

namespace {

// An entry being read, after the checks against zip bombs; throws EngineError naming `what`. A deflated entry
// is read as its compressed bytes and inflated with ISA-L (three times zlib's speed), its size and CRC checked as
// libzip checks them; any other goes through libzip.
class EntryReader {
  public:
    EntryReader(zip_t* archive, const ZipEntry& entry, const InflateLimits& limits, std::string what)
        : m_entry(entry), m_what(std::move(what)) {
        if (entry.size > limits.maxEntryBytes) {
            throw EngineError(m_what + " would inflate to " + std::to_string(entry.size >> 20) +
                              " MB, more than this program reads from one part; the file is refused.");
        }
        if (entry.size > limits.smallEntryBytes && entry.compressedSize > 0 &&
            entry.size / entry.compressedSize > limits.maxRatio) {
            throw EngineError(m_what +
                              " is compressed at an implausible ratio (a \"zip bomb\"); the file is refused.");
        }
        m_inflate = entry.method == ZIP_CM_DEFLATE && !entry.encrypted;
        m_file = zip_fopen_index(archive, entry.index, m_inflate ? ZIP_FL_COMPRESSED : 0);
        if (!m_file) {
            throw EngineError(m_what + " cannot be read (" + std::string(zip_strerror(archive)) +
                              "). The file may be damaged or encrypted.");
        }
        if (m_inflate) {
            m_state = std::make_unique<inflate_state>();
            isal_inflate_init(m_state.get());
            m_state->crc_flag = ISAL_GZIP_NO_HDR;
            m_compressed.resize(static_cast<std::size_t>(std::min<std::uint64_t>(entry.compressedSize + 1, 1u << 18)));
        }
    }
    ~EntryReader() { zip_fclose(m_file); }
    EntryReader(const EntryReader&) = delete;
    EntryReader& operator=(const EntryReader&) = delete;

    // Fills `into` (room for `want` bytes) with the next bytes of the entry; fewer only at its end.
    std::uint64_t Read(char* into, std::uint64_t want) {
        if (!m_inflate) {
            std::uint64_t done = 0;
            while (done < want) {
                const std::uint64_t n = RawRead(into + done, want - done);
                if (n == 0) break;
                done += n;
            }
            return done;
        }
        m_state->next_out = reinterpret_cast<std::uint8_t*>(into);
        m_state->avail_out = static_cast<std::uint32_t>(want);
        while (m_state->avail_out > 0 && m_state->block_state != ISAL_BLOCK_FINISH) {
            if (m_state->avail_in == 0) {
                const std::uint64_t n = RawRead(m_compressed.data(), m_compressed.size());
                if (n == 0) throw EngineError(m_what + " is truncated. Restore the file from a backup.");
                m_state->next_in = reinterpret_cast<std::uint8_t*>(m_compressed.data());
                m_state->avail_in = static_cast<std::uint32_t>(n);
            }
            if (isal_inflate(m_state.get()) < 0)
                throw EngineError(m_what + " is damaged (its compressed data is invalid). Restore the file from a backup.");
        }
        return want - m_state->avail_out;
    }

    // Reads the whole entry and checks it: into `into` (`room` bytes, its declared size), or, when `piece` is
    // given, `room` bytes at a time into `into`, each run handed to `piece`.
    // Without `piece`, `arrived` (when given) hears how many bytes are in `into` after every `room` of them.
    void ReadAll(char* into, std::uint64_t room, const std::function<void(std::string_view)>* piece,
                 const std::function<void(std::uint64_t)>* arrived = nullptr) {
        std::uint64_t done = 0;
        while (done < m_entry.size) {
            const std::uint64_t want = std::min(m_entry.size - done, room);
            const std::uint64_t n = Read(piece ? into : into + done, want);
            if (piece && n > 0) (*piece)(std::string_view(into, static_cast<std::size_t>(n)));
            done += n;
            if (arrived) (*arrived)(done);
            if (n < want) break;
        }
        char extra;
        if (done == m_entry.size && Read(&extra, 1) != 0)
            throw EngineError(m_what + " holds more data than its zip directory declares; the file is refused.");
        if (done != m_entry.size) throw EngineError(m_what + " is truncated. Restore the file from a backup.");
        if (m_inflate && m_state->crc != m_entry.crc)
            throw EngineError(m_what + " is damaged (CRC error). Restore the file from a backup.");
    }

  private:
    std::uint64_t RawRead(char* into, std::uint64_t want) {
        const zip_int64_t n = zip_fread(m_file, into, want);
        if (n < 0) {
            throw EngineError(m_what + " is damaged (" + std::string(zip_file_strerror(m_file)) +
                              "). Restore the file from a backup.");
        }
        return static_cast<std::uint64_t>(n);
    }

    const ZipEntry& m_entry;
    std::string m_what;
    bool m_inflate = false;
    zip_file_t* m_file = nullptr;
    std::unique_ptr<inflate_state> m_state;  // over 40 KB
    std::string m_compressed;
};

}  // namespace

std::string ZipReader::Describe(const ZipEntry& entry) const {
    return "The part \"" + entry.name + "\" of \"" + m_displayName + "\"";
}

std::string ZipReader::Read(const ZipEntry& entry) const {
    EntryReader reader(m_zip, entry, m_limits, Describe(entry));
    // Straight into the one buffer: a large part is not copied again.
    std::string bytes = EntryBuffer(entry);
    reader.ReadAll(bytes.data(), entry.size, nullptr);
    return bytes;
}

ArrivingEntry::~ArrivingEntry() {
    if (m_thread.joinable()) m_thread.join();
}

std::size_t ArrivingEntry::WaitFor(std::size_t n) {
    std::unique_lock lock(m_mutex);
    n = std::min(n, m_text.size());
    m_changed.wait(lock, [&] { return m_arrived >= n || m_ended; });
    return m_arrived;
}

std::string ArrivingEntry::Finish() {
    if (m_thread.joinable()) m_thread.join();
    if (m_failure) std::rethrow_exception(m_failure);
    return std::move(m_text);
}

void ArrivingEntry::Arrive(std::size_t n) {
    {
        std::lock_guard lock(m_mutex);
        m_arrived = n;
    }
    m_changed.notify_all();
}

void ArrivingEntry::End(std::exception_ptr failure) {
    {
        std::lock_guard lock(m_mutex);
        m_ended = true;
        m_failure = std::move(failure);
    }
    m_changed.notify_all();
}

std::unique_ptr<ArrivingEntry> ZipReader::ReadArriving(const ZipEntry& entry) const {
    // The entry's limits are checked here, before its declared size is allocated.
    auto reader = std::make_shared<EntryReader>(m_zip, entry, m_limits, Describe(entry));
    std::unique_ptr<ArrivingEntry> arriving(new ArrivingEntry);
    ArrivingEntry* out = arriving.get();
    out->m_text = EntryBuffer(entry);
    out->m_thread = std::thread([reader, out] {
        try {
            // Told a megabyte at a time: often enough for a reader to follow closely, seldom enough to cost
            // nothing.
            const std::function<void(std::uint64_t)> arrived = [out](std::uint64_t n) {
                out->Arrive(static_cast<std::size_t>(n));
            };
            reader->ReadAll(out->m_text.data(), 1u << 20, nullptr, &arrived);
            out->End(nullptr);
        } catch (...) {
            out->End(std::current_exception());
        }
    });
    return arriving;
}

std::optional<DeflatedPart> ZipReader::ReadDeflated(const ZipEntry& entry) const {
    if (entry.method != ZIP_CM_DEFLATE || entry.encrypted) return std::nullopt;
    zip_file_t* file = zip_fopen_index(m_zip, entry.index, ZIP_FL_COMPRESSED);
    if (!file) {
        throw EngineError(Describe(entry) + " cannot be read (" + std::string(zip_strerror(m_zip)) +
                          "). The file may be damaged.");
    }
    DeflatedPart part;
    part.data.resize(static_cast<std::size_t>(entry.compressedSize));
    std::uint64_t done = 0;
    for (zip_int64_t n = 1; n > 0 && done < part.data.size(); done += static_cast<std::uint64_t>(n))
        n = std::max<zip_int64_t>(zip_fread(file, part.data.data() + done, part.data.size() - done), 0);
    zip_fclose(file);
    if (done != entry.compressedSize)
        throw EngineError(Describe(entry) + " is truncated. Restore the file from a backup.");
    part.crc = entry.crc;
    part.size = entry.size;
    return part;
}

std::string ZipReader::ReadStart(const ZipEntry& entry, std::size_t bytes) const {
    EntryReader reader(m_zip, entry, m_limits, Describe(entry));
    std::string start(static_cast<std::size_t>(std::min<std::uint64_t>(entry.size, bytes)), '\0');
    start.resize(static_cast<std::size_t>(reader.Read(start.data(), start.size())));
    return start;
}

void ZipReader::ReadInPieces(const ZipEntry& entry, const std::function<void(std::string_view)>& piece) const {
    EntryReader reader(m_zip, entry, m_limits, Describe(entry));
    constexpr std::uint64_t kPiece = 1u << 20;
    std::string buffer(static_cast<std::size_t>(std::min<std::uint64_t>(std::max<std::uint64_t>(entry.size, 1), kPiece)),
                       '\0');
    reader.ReadAll(buffer.data(), buffer.size(), &piece);
}

}  // namespace orv::engine
