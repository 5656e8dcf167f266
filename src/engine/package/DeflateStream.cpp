// Deflating rewritten parts ahead of the save (ISA-L, in pieces, side by side), the spool that keeps them on
// disk, and reading them back.
#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>
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
#include "platform/Threads.h"

namespace orv::engine {

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

    State() : inFlight(platform::WorkerThreads() + 1) {}

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
    auto file = platform::TemporaryFile::Create(folder);
    if (!file) return nullptr;
    return std::shared_ptr<Spool>(new Spool(std::move(file)));
}

Spool::~Spool() = default;

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
    if (const std::string failure = m_file->WriteAt(m_end, bytes.data(), bytes.size()); !failure.empty()) {
        throw EngineError("A rewritten part could not be kept in a temporary file beside the workbook (" + failure +
                          "). Free some disk space, then try again.");
    }
    m_end += bytes.size();
}

void Spool::Read(std::uint64_t offset, char* out, std::size_t n) const {
    if (const std::string failure = m_file->ReadAt(offset, out, n); !failure.empty()) {
        throw EngineError("A rewritten part could not be read back from its temporary file (" + failure +
                          "). Try again.");
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

}  // namespace orv::engine
