// Byte-level zip building with zlib, so that a test can write any archive a hostile file could be.
#include "RawZip.h"

#include <zlib.h>

#include <stdexcept>

namespace orv::hardening {

namespace {

void Put16(std::string& out, std::uint32_t v) {
    out.push_back(static_cast<char>(v & 0xff));
    out.push_back(static_cast<char>((v >> 8) & 0xff));
}

void Put32(std::string& out, std::uint32_t v) {
    Put16(out, v & 0xffff);
    Put16(out, v >> 16);
}

}  // namespace

std::string Deflate(const std::string& data) {
    z_stream z{};
    if (deflateInit2(&z, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) != Z_OK) throw std::runtime_error("deflate");
    std::string out(deflateBound(&z, data.size()), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    const int rc = deflate(&z, Z_FINISH);
    deflateEnd(&z);
    if (rc != Z_STREAM_END) throw std::runtime_error("deflate");
    out.resize(z.total_out);
    return out;
}

std::string BuildZip(const std::vector<RawEntry>& entries, std::size_t extraCentralCopies,
                     std::optional<std::uint16_t> declaredEntryCount) {
    std::string out;
    std::vector<std::string> central;
    std::vector<std::uint32_t> offsets;
    for (const auto& e : entries) {
        const std::string stored = e.deflate ? Deflate(e.data) : e.data;
        const std::uint32_t crc = e.crc.value_or(static_cast<std::uint32_t>(
            crc32(0, reinterpret_cast<const Bytef*>(e.data.data()), static_cast<uInt>(e.data.size()))));
        const std::uint32_t size = e.declaredSize.value_or(static_cast<std::uint32_t>(e.data.size()));
        const std::uint32_t csize = e.declaredCompressedSize.value_or(static_cast<std::uint32_t>(stored.size()));
        const std::uint16_t method = e.deflate ? 8 : 0;
        std::uint32_t offset = static_cast<std::uint32_t>(out.size());
        if (e.sharesLocalHeaderOf && *e.sharesLocalHeaderOf < offsets.size()) {
            offset = offsets[*e.sharesLocalHeaderOf];
        } else {
            Put32(out, 0x04034b50);
            Put16(out, 20);
            Put16(out, e.flags | 0x800);
            Put16(out, method);
            Put32(out, 0);  // time, date
            Put32(out, crc);
            Put32(out, csize);
            Put32(out, size);
            Put16(out, static_cast<std::uint32_t>(e.name.size()));
            Put16(out, 0);
            out += e.name;
            out += stored;
        }
        offsets.push_back(offset);
        std::string c;
        Put32(c, 0x02014b50);
        Put16(c, 20);
        Put16(c, 20);
        Put16(c, e.flags | 0x800);
        Put16(c, method);
        Put32(c, 0);
        Put32(c, crc);
        Put32(c, csize);
        Put32(c, size);
        Put16(c, static_cast<std::uint32_t>(e.name.size()));
        Put16(c, 0);  // extra
        Put16(c, 0);  // comment
        Put16(c, 0);  // disk
        Put16(c, 0);  // internal attributes
        Put32(c, 0);  // external attributes
        Put32(c, offset);
        c += e.name;
        central.push_back(std::move(c));
    }
    for (std::size_t i = 0; i < extraCentralCopies && i < entries.size(); ++i) central.push_back(central[i]);
    const auto directoryOffset = static_cast<std::uint32_t>(out.size());
    for (const auto& c : central) out += c;
    const auto directorySize = static_cast<std::uint32_t>(out.size() - directoryOffset);
    const auto count = declaredEntryCount.value_or(static_cast<std::uint16_t>(central.size()));
    Put32(out, 0x06054b50);
    Put16(out, 0);
    Put16(out, 0);
    Put16(out, count);
    Put16(out, count);
    Put32(out, directorySize);
    Put32(out, directoryOffset);
    Put16(out, 0);
    return out;
}

}  // namespace orv::hardening
