// Decompression follows the format's description byte for byte; compression finds back-references through
// hash chains over three-byte prefixes, which keeps a project of megabytes within milliseconds.
#include "engine/vba/Compression.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include "engine/EngineError.h"

namespace orv::engine::vba {

namespace {

constexpr std::size_t kChunk = 4096;
constexpr std::size_t kMaxChunkBytes = 4098;  // header included
constexpr unsigned kSignature = 0x3000;

[[noreturn]] void Damaged(const std::string& what) {
    throw EngineError("a compressed stream of the macro project is damaged: " + what);
}

// The number of bits a copy token spends on its offset when `difference` bytes of the chunk are behind it.
unsigned OffsetBits(std::size_t difference) {
    unsigned bits = 4;
    while ((std::size_t{1} << bits) < difference) ++bits;
    return bits;
}

}  // namespace

std::string Decompress(std::string_view container, std::size_t limit) {
    if (container.empty() || static_cast<unsigned char>(container[0]) != 0x01)
        Damaged("it does not start with the signature byte");
    auto byte = [&](std::size_t at) { return static_cast<unsigned char>(container[at]); };
    std::string out;
    std::size_t pos = 1;
    while (pos < container.size()) {
        if (pos + 2 > container.size()) Damaged("a chunk header is cut off");
        const unsigned header = byte(pos) | byte(pos + 1) << 8;
        if ((header & 0x7000) != kSignature) Damaged("a chunk header has the wrong signature");
        const std::size_t end = std::min(pos + (header & 0x0FFF) + 3, container.size());
        pos += 2;
        const std::size_t chunkStart = out.size();
        if (out.size() + kChunk > limit) Damaged("it unpacks to more than the project can hold");
        if ((header & 0x8000) == 0) {
            if (end - pos < kChunk) Damaged("an uncompressed chunk is shorter than 4096 bytes");
            out.append(container.substr(pos, kChunk));
            pos += kChunk;
            continue;
        }
        while (pos < end) {
            const unsigned flags = byte(pos++);
            for (int bit = 0; bit < 8 && pos < end; ++bit) {
                if ((flags >> bit & 1) == 0) {
                    out.push_back(container[pos++]);
                } else {
                    if (pos + 2 > end) Damaged("a copy token is cut off");
                    const unsigned token = byte(pos) | byte(pos + 1) << 8;
                    pos += 2;
                    const std::size_t difference = out.size() - chunkStart;
                    const unsigned bits = OffsetBits(difference);
                    const unsigned lengthMask = 0xFFFFu >> bits;
                    const std::size_t length = (token & lengthMask) + 3;
                    const std::size_t offset = (token >> (16 - bits)) + 1;
                    if (offset > difference) Damaged("a copy token reaches before its chunk");
                    if (difference + length > kChunk) Damaged("a chunk unpacks to more than 4096 bytes");
                    for (std::size_t i = 0; i < length; ++i) out.push_back(out[out.size() - offset]);
                }
            }
        }
    }
    return out;
}

std::string Compress(std::string_view data) {
    std::string out(1, '\x01');
    std::array<int, 1 << 12> head{};
    std::array<int, kChunk> previous{};
    auto hash = [&](std::size_t at) {
        return (static_cast<unsigned char>(data[at]) * 33u * 33u + static_cast<unsigned char>(data[at + 1]) * 33u +
                static_cast<unsigned char>(data[at + 2])) &
               0xFFFu;
    };
    for (std::size_t start = 0; start < data.size(); start += kChunk) {
        const std::size_t size = std::min(kChunk, data.size() - start);
        head.fill(-1);
        std::string chunk;
        std::size_t at = 0;
        auto remember = [&](std::size_t position) {
            if (position + 3 > size) return;
            const unsigned h = hash(start + position);
            previous[position] = head[h];
            head[h] = static_cast<int>(position);
        };
        while (at < size) {
            const std::size_t flagAt = chunk.size();
            chunk.push_back('\0');
            unsigned flags = 0;
            for (int bit = 0; bit < 8 && at < size; ++bit) {
                const unsigned bits = OffsetBits(at);
                const std::size_t maxLength = std::min<std::size_t>((0xFFFFu >> bits) + 3, size - at);
                std::size_t bestLength = 0, bestOffset = 0;
                if (at + 3 <= size) {
                    int tries = 256;
                    for (int candidate = head[hash(start + at)]; candidate >= 0 && tries-- > 0;
                         candidate = previous[static_cast<std::size_t>(candidate)]) {
                        const auto from = static_cast<std::size_t>(candidate);
                        std::size_t length = 0;
                        while (length < maxLength && data[start + from + length] == data[start + at + length])
                            ++length;
                        if (length > bestLength) {
                            bestLength = length;
                            bestOffset = at - from;
                            if (length == maxLength) break;
                        }
                    }
                }
                if (bestLength >= 3) {
                    const unsigned token = static_cast<unsigned>((bestOffset - 1) << (16 - bits) | (bestLength - 3));
                    chunk.push_back(static_cast<char>(token & 0xFF));
                    chunk.push_back(static_cast<char>(token >> 8));
                    flags |= 1u << bit;
                    for (std::size_t i = 0; i < bestLength; ++i) remember(at + i);
                    at += bestLength;
                } else {
                    chunk.push_back(data[start + at]);
                    remember(at);
                    ++at;
                }
            }
            chunk[flagAt] = static_cast<char>(flags);
        }
        if (chunk.size() + 2 <= kMaxChunkBytes) {
            const unsigned header = static_cast<unsigned>(chunk.size() + 2 - 3) | kSignature | 0x8000;
            out.push_back(static_cast<char>(header & 0xFF));
            out.push_back(static_cast<char>(header >> 8));
            out += chunk;
        } else {
            // Stored as it is: a raw chunk always holds 4096 bytes, so a short last one is padded.
            const unsigned header = (kMaxChunkBytes - 3) | kSignature;
            out.push_back(static_cast<char>(header & 0xFF));
            out.push_back(static_cast<char>(header >> 8));
            out.append(data.substr(start, size));
            out.append(kChunk - size, '\0');
        }
    }
    return out;
}

}  // namespace orv::engine::vba
