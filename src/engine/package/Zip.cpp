// The zip layer of the engine over libzip: a counting file source, bounded reads and raw-copy writing.
#include "engine/package/Zip.h"

#include <fcntl.h>
#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>
#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>
#include <zip.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>
#include <vector>

#include "engine/system/AtomicFile.h"
#include "engine/system/EngineError.h"
#include "engine/system/Threads.h"

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
    int fd = -1;
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
                const ssize_t n = pread(self->fd, data, len, static_cast<off_t>(self->offset));
                if (n < 0) {
                    zip_error_set(&self->error, ZIP_ER_READ, errno);
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

// A part's text, and its compressed bytes while they grow, take several megabytes each, and come and go by the
// hundred while a rename rewrites the parts that name a sheet. glibc serves such blocks from its heaps once one
// was freed (its mmap threshold rises to the largest block freed), where they fragment: a rename of a large
// workbook kept some fifty megabytes freed but not given back. A fixed threshold maps them, so that each goes
// back to the system when it is freed; the many blocks of a megabyte stay on the heaps, where they are reused.
void ReturnLargeBuffersAtOnce() {
#ifdef __GLIBC__
    static std::once_flag once;
    std::call_once(once, [] { mallopt(M_MMAP_THRESHOLD, 4 << 20); });
#endif
}

// Maps in the pages of a large buffer not yet touched, in one call instead of a page fault for every 4 KB as it
// is filled (about 25 of the 160 ms it takes to read a 100 MB part). A hint: nothing changes where the kernel
// cannot take it.
void Prefault(void* buffer, std::size_t size) {
#ifdef MADV_POPULATE_WRITE
    constexpr std::size_t kFrom = 4u << 20;
    if (size < kFrom) return;
    const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    const auto begin = (reinterpret_cast<std::uintptr_t>(buffer) + page - 1) & ~(page - 1);
    const auto end = (reinterpret_cast<std::uintptr_t>(buffer) + size) & ~(page - 1);
    if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE);
#else
    (void)buffer;
    (void)size;
#endif
}

// A buffer of an entry's inflated size, its pages mapped in.
std::string EntryBuffer(const ZipEntry& entry) {
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(entry.size));
    Prefault(bytes.data(), bytes.capacity());
    bytes.resize(static_cast<std::size_t>(entry.size));
    return bytes;
}

}  // namespace

ZipReader::ZipReader(const std::string& path, const std::string& displayName, InflateLimits limits)
    : m_counter(std::make_unique<Counter>()), m_displayName(displayName), m_limits(limits) {
    ReturnLargeBuffersAtOnce();
    zip_error_init(&m_counter->error);
    m_counter->fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (m_counter->fd < 0) {
        throw EngineError("\"" + displayName + "\" cannot be read (" + std::string(std::strerror(errno)) +
                          "). Check that the file exists and that you may read it.");
    }
    const off_t end = lseek(m_counter->fd, 0, SEEK_END);
    m_counter->size = end < 0 ? 0 : static_cast<std::uint64_t>(end);

    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = zip_source_function_create(&Counter::Callback, m_counter.get(), &error);
    if (source) m_zip = zip_open_from_source(source, ZIP_RDONLY, &error);
    if (!m_zip) {
        if (source) zip_source_free(source);
        const int code = zip_error_code_zip(&error);
        zip_error_fini(&error);
        ::close(m_counter->fd);
        m_counter->fd = -1;
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
            ::close(m_counter->fd);
            m_counter->fd = -1;
            throw EngineError("\"" + displayName +
                              "\" is damaged: its zip package holds two entries named \"" + entry.name +
                              "\". Open it in the spreadsheet application to repair it.");
        }
        m_entries.push_back(std::move(entry));
    }
}

ZipReader::~ZipReader() {
    if (m_zip) zip_discard(m_zip);
    if (m_counter->fd >= 0) ::close(m_counter->fd);
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

void ZipReader::ReadInPieces(const ZipEntry& entry, const std::function<void(std::string_view)>& piece) const {
    EntryReader reader(m_zip, entry, m_limits, Describe(entry));
    constexpr std::uint64_t kPiece = 1u << 20;
    std::string buffer(static_cast<std::size_t>(std::min<std::uint64_t>(std::max<std::uint64_t>(entry.size, 1), kPiece)),
                       '\0');
    reader.ReadAll(buffer.data(), buffer.size(), &piece);
}

namespace {

// ISA-L's level for rewritten parts. Its level 1 deflates a 100 MB worksheet in a sixth of zlib's time at
// level 4, for a stream 8 % larger; its level 3 is smaller than zlib's level 4 but three times slower than 1.
constexpr int kIsalLevel = 1;
constexpr std::size_t kIsalLevelBuffer = ISAL_DEF_LVL1_DEFAULT;
constexpr std::size_t kWindow = 32768;

// One piece of a raw deflate stream: primed with `dictionary` (the 32 KB of the stream before it) and ending on a
// byte boundary (a sync flush), or, when it is the `last`, ending the stream. Pieces so made, joined in order,
// are one deflate stream.
std::string DeflatePiece(std::string_view input, std::string_view dictionary, bool last) {
    // The stream's state (80 KB) and the level's buffer (280 KB) are left uninitialised: ISA-L sets up what it
    // reads when a stream starts, and clearing them for every piece cost more than deflating a small part. Not
    // on the stack: worker threads have small ones.
    const std::unique_ptr<isal_zstream> stream(new isal_zstream);
    isal_deflate_init(stream.get());
    thread_local const std::unique_ptr<std::uint8_t[]> levelBuffer(new std::uint8_t[kIsalLevelBuffer]);
    stream->level = kIsalLevel;
    stream->level_buf = levelBuffer.get();
    stream->level_buf_size = static_cast<std::uint32_t>(kIsalLevelBuffer);
    if (!dictionary.empty() &&
        isal_deflate_set_dict(stream.get(), reinterpret_cast<std::uint8_t*>(const_cast<char*>(dictionary.data())),
                              static_cast<std::uint32_t>(dictionary.size())) != COMP_OK)
        throw EngineError("A part could not be compressed (ISA-L refused its dictionary).");
    // Room for the worst case (stored blocks) at once, so that one call is enough.
    std::string out(input.size() + input.size() / 16 + 1024, '\0');
    stream->next_in = reinterpret_cast<std::uint8_t*>(const_cast<char*>(input.data()));
    stream->avail_in = static_cast<std::uint32_t>(input.size());
    stream->end_of_stream = last ? 1 : 0;
    stream->flush = last ? NO_FLUSH : SYNC_FLUSH;
    for (;;) {
        stream->next_out = reinterpret_cast<std::uint8_t*>(out.data()) + stream->total_out;
        stream->avail_out = static_cast<std::uint32_t>(out.size() - stream->total_out);
        if (isal_deflate(stream.get()) != COMP_OK) throw EngineError("A part could not be compressed (ISA-L error).");
        const bool flushed = stream->avail_in == 0 && stream->avail_out > 0;
        if (flushed && (!last || stream->internal_state.state == ZSTATE_END)) break;
        out.resize(out.size() * 2);
    }
    out.resize(stream->total_out);
    return out;
}

std::uint32_t Crc32(std::uint32_t crc, std::string_view bytes) {
    return crc32_gzip_refl(crc, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

}  // namespace

DeflatedPart Deflate(std::string_view bytes) {
    // A part of several megabytes is deflated on every core.
    if (bytes.size() >= (4u << 20)) {
        DeflateStream stream;
        stream.Add(bytes);
        return stream.Finish();
    }
    DeflatedPart part;
    part.data = DeflatePiece(bytes, {}, true);
    part.crc = Crc32(0, bytes);
    part.size = bytes.size();
    return part;
}

// The stream cuts the part into blocks deflated on every core at once, while the producer goes on: each block is
// primed with the last 32 KB before it and ends on a byte boundary (a sync flush), the last one ends the stream,
// so that the blocks joined in order are one deflate stream whose CRC is their CRCs combined. A few blocks in
// flight at most keep the memory bounded.
struct DeflateStream::State {
    static constexpr std::size_t kBlock = 1 << 20;

    struct Block {
        std::string input;
        std::string dictionary;
        bool last = false;
        bool done = false;
        std::string output;
        std::uint32_t crc = 0;
        std::uint64_t size = 0;
    };

    State() : inFlight(WorkerThreads() + 1) {}

    // The workers start with the first whole block: most parts are smaller, and a rename rewrites thousands.
    // A system that can start no more threads gets fewer of them, or none (see Hand).
    void Start() {
        for (unsigned i = 0; i + 1 < inFlight; ++i) {
            try {
                workers.emplace_back([this] { Work(); });
            } catch (const std::system_error&) {
                break;
            }
        }
    }

    std::size_t inFlight = 2;
    std::string pending;
    std::string window;  // the last 32 KB handed over

    std::vector<std::thread> workers;
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::shared_ptr<Block>> blocks;  // in stream order, until joined
    std::deque<std::shared_ptr<Block>> todo;
    bool closing = false;
    bool joining = false;  // a worker is appending blocks to `out`
    std::exception_ptr failure;
    DeflatedPart out;
    std::shared_ptr<Spool> spool;  // where the compressed bytes go, when set

    static void Compress(Block& block) {
        block.output = DeflatePiece(block.input, block.dictionary, block.last);
        block.crc = Crc32(0, block.input);
        block.size = block.input.size();
        std::string().swap(block.input);
        std::string().swap(block.dictionary);
    }

    void Work() {
        for (;;) {
            std::shared_ptr<Block> block;
            {
                std::unique_lock lock(mutex);
                changed.wait(lock, [&] { return closing || !todo.empty(); });
                if (todo.empty()) return;
                block = std::move(todo.front());
                todo.pop_front();
            }
            std::exception_ptr error;
            try {
                Compress(*block);
            } catch (...) {
                error = std::current_exception();
            }
            std::unique_lock lock(mutex);
            block->done = true;
            if (error && !failure) failure = error;
            // One worker at a time joins the finished blocks at the front, in order, writing them out of the lock
            // so that the others and the producer go on meanwhile.
            if (!joining) {
                joining = true;
                while (!blocks.empty() && blocks.front()->done) {
                    const std::shared_ptr<Block> first = std::move(blocks.front());
                    blocks.pop_front();
                    lock.unlock();
                    changed.notify_all();
                    std::exception_ptr joinFailure;
                    try {
                        Join(*first);
                    } catch (...) {
                        joinFailure = std::current_exception();
                    }
                    lock.lock();
                    if (joinFailure && !failure) failure = joinFailure;
                }
                joining = false;
            }
            lock.unlock();
            changed.notify_all();
        }
    }

    // Appends a finished block to the part; only the joining worker calls it.
    void Join(const Block& first) {
        if (spool) {
            spool->Append(first.output);
        } else {
            // Grown by an eighth at a time, not doubled: a large part is not held with as much room again.
            const std::size_t needed = out.data.size() + first.output.size();
            if (needed > out.data.capacity())
                out.data.reserve(std::max(needed, out.data.capacity() + out.data.capacity() / 8 + (1u << 20)));
            out.data += first.output;
        }
        out.crc = static_cast<std::uint32_t>(crc32_combine(out.crc, first.crc, static_cast<z_off_t>(first.size)));
        out.size += first.size;
    }

    void Hand(std::string input, bool last) {
        auto block = std::make_shared<Block>();
        block->dictionary = window;
        if (input.size() >= kWindow) {
            window.assign(input, input.size() - kWindow, kWindow);
        } else {
            window += input;
            if (window.size() > kWindow) window.erase(0, window.size() - kWindow);
        }
        block->input = std::move(input);
        block->last = last;
        if (workers.empty()) Start();
        if (workers.empty()) {
            // Not a thread to be had: the block is compressed here, after every block before it.
            Compress(*block);
            Join(*block);
            return;
        }
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return blocks.size() < inFlight || failure; });
        if (failure) std::rethrow_exception(failure);
        blocks.push_back(block);
        todo.push_back(std::move(block));
        changed.notify_all();
    }

    // Waits for every block handed over to be joined.
    void Drain() {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return (blocks.empty() && !joining) || failure; });
    }

    void Stop() {
        {
            std::lock_guard lock(mutex);
            closing = true;
            todo.clear();
        }
        changed.notify_all();
        for (auto& worker : workers) {
            if (worker.joinable()) worker.join();
        }
    }
};

DeflateStream::DeflateStream() : m_state(std::make_unique<State>()) {}

DeflateStream::DeflateStream(const std::string& folder) : m_state(std::make_unique<State>()) {
    m_state->spool = Spool::Create(folder);
}

DeflateStream::~DeflateStream() { m_state->Stop(); }

void DeflateStream::Add(std::string_view bytes) {
    while (!bytes.empty()) {
        const std::size_t room = State::kBlock - m_state->pending.size();
        const std::size_t take = std::min(room, bytes.size());
        if (m_state->pending.capacity() < State::kBlock) m_state->pending.reserve(State::kBlock);
        m_state->pending.append(bytes.substr(0, take));
        bytes.remove_prefix(take);
        if (m_state->pending.size() >= State::kBlock) {
            m_state->Hand(std::move(m_state->pending), false);
            m_state->pending = std::string();
        }
    }
}

DeflatedPart DeflateStream::Finish(bool last) {
    if (m_state->workers.empty()) {
        // Less than a block in all, or no thread to be had: deflated here.
        State::Block block;
        block.input = std::move(m_state->pending);
        block.last = last;
        State::Compress(block);
        m_state->Join(block);
    } else {
        m_state->Hand(std::move(m_state->pending), last);
        m_state->Drain();
        m_state->Stop();
    }
    m_state->pending = std::string();
    if (m_state->failure) std::rethrow_exception(m_state->failure);
    if (m_state->spool) {
        m_state->out.spool = m_state->spool;
        m_state->out.spooledAt = 0;
        m_state->out.spooledSize = m_state->spool->size();
    }
    return std::move(m_state->out);
}

DeflatedPart JoinDeflated(std::vector<DeflatedPart> pieces, const std::string& folder) {
    if (pieces.empty()) return Deflate({});
    DeflatedPart out;
    const bool spooled = std::any_of(pieces.begin(), pieces.end(), [](const DeflatedPart& p) { return p.spool != nullptr; });
    std::shared_ptr<Spool> spool;
    if (spooled) {
        spool = Spool::Create(folder);
        if (!spool) throw EngineError("A rewritten part could not be put together (no temporary file could be made beside the workbook). Check that its folder may be written to, then try again.");
    }
    std::string chunk;
    for (auto& piece : pieces) {
        out.crc = static_cast<std::uint32_t>(crc32_combine(out.crc, piece.crc, static_cast<z_off_t>(piece.size)));
        out.size += piece.size;
        if (!spool) {
            out.data += piece.data;
        } else {
            constexpr std::uint64_t kChunk = 1u << 20;
            for (std::uint64_t at = 0; at < piece.CompressedSize(); at += kChunk) {
                chunk.resize(static_cast<std::size_t>(std::min(kChunk, piece.CompressedSize() - at)));
                piece.ReadCompressed(at, chunk.data(), chunk.size());
                spool->Append(chunk);
            }
        }
        piece = DeflatedPart{};  // its spool goes as soon as it is copied
    }
    if (spool) {
        out.spool = spool;
        out.spooledSize = spool->size();
    }
    return out;
}

void DeflatedPart::ReadCompressed(std::uint64_t offset, char* out, std::size_t n) const {
    if (spool) {
        spool->Read(spooledAt + offset, out, n);
    } else {
        std::memcpy(out, data.data() + offset, n);
    }
}

std::shared_ptr<Spool> Spool::Create(const std::string& folder) {
    int fd = ::open(folder.empty() ? "." : folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0) {
        // File systems without O_TMPFILE: a named file, unlinked at once.
        std::string name = (folder.empty() ? std::string(".") : folder) + "/.orvandel-spool-XXXXXX";
        fd = ::mkostemp(name.data(), O_CLOEXEC);
        if (fd < 0) return nullptr;
        ::unlink(name.c_str());
    }
    return std::shared_ptr<Spool>(new Spool(fd));
}

Spool::~Spool() {
    if (m_fd >= 0) ::close(m_fd);
}

void Spool::Keep(DeflatedPart& part) {
    if (part.spool || part.data.empty()) return;
    const std::uint64_t at = m_end;
    try {
        Append(part.data);
    } catch (const EngineError&) {
        return;  // a full disk: the part stays in memory
    }
    part.spool = shared_from_this();
    part.spooledAt = at;
    part.spooledSize = part.data.size();
    std::string().swap(part.data);
}

void Spool::Append(std::string_view bytes) {
    std::uint64_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::pwrite(m_fd, bytes.data() + written, bytes.size() - written,
                                   static_cast<off_t>(m_end + written));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            throw EngineError("A rewritten part could not be kept in a temporary file beside the workbook (" +
                              std::string(n < 0 ? std::strerror(errno) : "nothing written") +
                              "). Free some disk space, then try again.");
        }
        written += static_cast<std::uint64_t>(n);
    }
    m_end += written;
}

void Spool::Read(std::uint64_t offset, char* out, std::size_t n) const {
    std::size_t done = 0;
    while (done < n) {
        const ssize_t got = ::pread(m_fd, out + done, n - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            throw EngineError("A rewritten part could not be read back from its temporary file (" +
                              std::string(got < 0 ? std::strerror(errno) : "it ended early") + "). Try again.");
        }
        done += static_cast<std::size_t>(got);
    }
}

std::string Inflate(const DeflatedPart& part) {
    z_stream z{};
    if (inflateInit2(&z, -MAX_WBITS) != Z_OK) throw EngineError("A part could not be read back (zlib could not start).");
    std::string bytes(part.size, '\0');
    std::string spooled;
    std::string_view compressed = part.data;
    if (part.spool) {
        spooled.resize(part.spooledSize);
        part.ReadCompressed(0, spooled.data(), spooled.size());
        compressed = spooled;
    }
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data()));
    z.avail_in = static_cast<uInt>(compressed.size());
    z.next_out = reinterpret_cast<Bytef*>(bytes.data());
    z.avail_out = static_cast<uInt>(bytes.size());
    const int rc = inflate(&z, Z_FINISH);
    const bool whole = rc == Z_STREAM_END && z.total_out == part.size;
    inflateEnd(&z);
    if (!whole || crc32_z(0, reinterpret_cast<const Bytef*>(bytes.data()), bytes.size()) != part.crc) {
        throw EngineError("A rewritten part could not be read back from memory.");
    }
    return bytes;
}

namespace {

// A libzip source over a part deflated ahead: libzip stores its bytes as they are, as for a raw copy.
struct DeflatedSource {
    const DeflatedPart* part = nullptr;
    std::uint64_t offset = 0;
    zip_error_t error{};

    static zip_int64_t Callback(void* user, void* data, zip_uint64_t len, zip_source_cmd_t cmd) {
        auto* self = static_cast<DeflatedSource*>(user);
        switch (cmd) {
            case ZIP_SOURCE_OPEN:
                self->offset = 0;
                return 0;
            case ZIP_SOURCE_READ: {
                const std::uint64_t n = std::min<std::uint64_t>(len, self->part->CompressedSize() - self->offset);
                try {
                    self->part->ReadCompressed(self->offset, static_cast<char*>(data), n);
                } catch (const EngineError&) {
                    zip_error_set(&self->error, ZIP_ER_READ, errno);
                    return -1;
                }
                self->offset += n;
                return static_cast<zip_int64_t>(n);
            }
            case ZIP_SOURCE_CLOSE:
                return 0;
            case ZIP_SOURCE_STAT: {
                auto* st = static_cast<zip_stat_t*>(data);
                zip_stat_init(st);
                st->size = self->part->size;
                st->comp_size = self->part->CompressedSize();
                st->crc = self->part->crc;
                st->comp_method = ZIP_CM_DEFLATE;
                st->encryption_method = ZIP_EM_NONE;
                st->valid |= ZIP_STAT_SIZE | ZIP_STAT_COMP_SIZE | ZIP_STAT_CRC | ZIP_STAT_COMP_METHOD |
                             ZIP_STAT_ENCRYPTION_METHOD;
                return sizeof(zip_stat_t);
            }
            case ZIP_SOURCE_ERROR:
                return zip_error_to_data(&self->error, data, len);
            case ZIP_SOURCE_FREE:
                zip_error_fini(&self->error);
                delete self;
                return 0;
            case ZIP_SOURCE_SUPPORTS:
                return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE,
                                                      ZIP_SOURCE_STAT, ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, -1);
            default:
                zip_error_set(&self->error, ZIP_ER_OPNOTSUPP, 0);
                return -1;
        }
    }

    static zip_source_t* Create(zip_t* archive, const DeflatedPart& part) {
        auto* self = new DeflatedSource;
        self->part = &part;
        zip_error_init(&self->error);
        zip_source_t* source = zip_source_function(archive, &Callback, self);
        if (!source) delete self;
        return source;
    }
};

// A libzip source that writes the new archive straight into an open descriptor (the temporary file of an atomic
// save), so that a package is never built whole in memory. To libzip it is an empty archive opened to be
// truncated; the local headers it patches after each entry's data are rewritten in place. Writes are gathered
// into large pieces: libzip hands over a few kilobytes at a time.
struct DescriptorSink {
    static constexpr std::size_t kPiece = 1 << 20;
    int fd = -1;
    std::uint64_t offset = 0;  // the write position
    std::uint64_t length = 0;  // how far the file was written
    std::string pending;       // bytes for pendingAt.. not yet written
    std::uint64_t pendingAt = 0;
    int writeErrno = 0;
    zip_error_t error{};

    bool Flush() {
        if (pending.empty()) return true;
        if (lseek(fd, static_cast<off_t>(pendingAt), SEEK_SET) < 0) {
            writeErrno = errno;
        } else {
            writeErrno = WriteAll(fd, pending.data(), pending.size());
        }
        pending.clear();
        if (writeErrno == 0) return true;
        zip_error_set(&error, ZIP_ER_WRITE, writeErrno);
        return false;
    }

    static zip_int64_t Callback(void* user, void* data, zip_uint64_t len, zip_source_cmd_t cmd) {
        auto* self = static_cast<DescriptorSink*>(user);
        switch (cmd) {
            case ZIP_SOURCE_OPEN:
            case ZIP_SOURCE_CLOSE:
            case ZIP_SOURCE_FREE:
            case ZIP_SOURCE_ROLLBACK_WRITE:  // the caller removes the temporary file
            case ZIP_SOURCE_REMOVE:
                return 0;
            case ZIP_SOURCE_COMMIT_WRITE:  // the caller flushes to disk and renames
                return self->Flush() ? 0 : -1;
            case ZIP_SOURCE_READ:
                return 0;  // nothing of the old content is ever read back
            case ZIP_SOURCE_STAT: {
                auto* st = static_cast<zip_stat_t*>(data);
                zip_stat_init(st);
                st->size = 0;
                st->valid |= ZIP_STAT_SIZE;
                return sizeof(zip_stat_t);
            }
            case ZIP_SOURCE_BEGIN_WRITE:
                self->offset = self->length = 0;
                self->pending.clear();
                self->pendingAt = 0;
                return 0;
            case ZIP_SOURCE_WRITE: {
                if (self->offset != self->pendingAt + self->pending.size() || self->pending.size() >= kPiece) {
                    if (!self->Flush()) return -1;
                    self->pendingAt = self->offset;
                }
                self->pending.append(static_cast<const char*>(data), len);
                self->offset += len;
                self->length = std::max(self->length, self->offset);
                return static_cast<zip_int64_t>(len);
            }
            case ZIP_SOURCE_SEEK_WRITE: {
                const zip_int64_t to =
                    zip_source_seek_compute_offset(self->offset, self->length, data, len, &self->error);
                if (to < 0) return -1;
                self->offset = static_cast<std::uint64_t>(to);
                return 0;
            }
            case ZIP_SOURCE_TELL_WRITE:
                return static_cast<zip_int64_t>(self->offset);
            case ZIP_SOURCE_ERROR:
                return zip_error_to_data(&self->error, data, len);
            case ZIP_SOURCE_SUPPORTS:
                return zip_source_make_command_bitmap(
                    ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT, ZIP_SOURCE_ERROR,
                    ZIP_SOURCE_FREE, ZIP_SOURCE_SEEK, ZIP_SOURCE_TELL, ZIP_SOURCE_SUPPORTS, ZIP_SOURCE_BEGIN_WRITE,
                    ZIP_SOURCE_COMMIT_WRITE, ZIP_SOURCE_ROLLBACK_WRITE, ZIP_SOURCE_WRITE, ZIP_SOURCE_SEEK_WRITE,
                    ZIP_SOURCE_TELL_WRITE, ZIP_SOURCE_REMOVE, -1);
            case ZIP_SOURCE_SEEK:
            case ZIP_SOURCE_TELL:
                return 0;
            default:
                zip_error_set(&self->error, ZIP_ER_OPNOTSUPP, 0);
                return -1;
        }
    }
};

}  // namespace

int WriteZip(const ZipReader& source, const std::vector<ZipOutEntry>& entries, int fd) {
    DescriptorSink sink;
    sink.fd = fd;
    zip_error_init(&sink.error);
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* target = zip_source_function_create(&DescriptorSink::Callback, &sink, &error);
    zip_t* out = target ? zip_open_from_source(target, ZIP_TRUNCATE, &error) : nullptr;
    if (!out) {
        const std::string reason = zip_error_strerror(&error);
        if (target) zip_source_free(target);
        zip_error_fini(&error);
        zip_error_fini(&sink.error);
        throw EngineError("The new workbook package could not be started (" + reason + "); nothing was saved.");
    }
    zip_error_fini(&error);
    auto fail = [&](const std::string& what) {
        const std::string reason = zip_strerror(out);
        zip_discard(out);
        zip_error_fini(&sink.error);
        throw EngineError("The workbook could not be written (" + what + ": " + reason +
                          "); nothing was saved.");
    };
    for (const auto& entry : entries) {
        zip_source_t* data =
            entry.rawFrom ? zip_source_zip(out, source.handle(), entry.rawFrom->index, ZIP_FL_COMPRESSED, 0, -1)
            : entry.deflated ? DeflatedSource::Create(out, *entry.deflated)
                             : zip_source_buffer(out, entry.bytes.data(), entry.bytes.size(), 0);
        if (!data) fail(entry.name);
        const zip_int64_t index = zip_file_add(out, entry.name.c_str(), data, ZIP_FL_ENC_UTF_8);
        if (index < 0) {
            zip_source_free(data);
            fail(entry.name);
        }
        const auto i = static_cast<zip_uint64_t>(index);
        const zip_int32_t method = entry.rawFrom ? entry.rawFrom->method : ZIP_CM_DEFLATE;
        // Raw copies and parts deflated ahead are not compressed again.
        const bool compressed = entry.rawFrom || entry.deflated;
        const zip_uint32_t level = compressed ? 0 : zip_uint32_t{kDeflateLevel};
        if (zip_set_file_compression(out, i, method, level) != 0) fail(entry.name);
    }
    if (zip_close(out) != 0) {
        if (sink.writeErrno != 0) {
            const int written = sink.writeErrno;
            zip_discard(out);
            zip_error_fini(&sink.error);
            return written;
        }
        fail("closing");
    }
    zip_error_fini(&sink.error);
    return 0;
}

}  // namespace orv::engine
