// Writing a new archive over libzip: untouched entries copied as their compressed bytes, parts deflated ahead
// stored as they are.
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
#include "platform/Threads.h"

namespace orv::engine {

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
        writeErrno = platform::SeekTo(fd, pendingAt);
        if (writeErrno == 0) writeErrno = platform::WriteAll(fd, pending.data(), pending.size());
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
