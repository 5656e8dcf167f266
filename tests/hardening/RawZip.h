// A zip writer for hostile test files: every field of the local headers, the central directory and its end
// record can be set to lie, entries can share bytes or names, and the archive can be cut anywhere.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace orv::hardening {

struct RawEntry {
    RawEntry(std::string name, std::string data, bool deflate = true)
        : name(std::move(name)), data(std::move(data)), deflate(deflate) {}
    std::string name;
    std::string data;       // the inflated content
    bool deflate = true;    // else stored
    // Lies told in both headers (nullopt: the truth).
    std::optional<std::uint32_t> declaredSize;
    std::optional<std::uint32_t> declaredCompressedSize;
    std::optional<std::uint32_t> crc;
    std::uint16_t flags = 0;  // bit 0: encrypted
    // The central directory points at the local header of this earlier entry instead of its own (overlap).
    std::optional<std::size_t> sharesLocalHeaderOf;
};

// The bytes of a zip archive of `entries` in order. `extraCentralCopies` repeats the first n central
// directory records (duplicate entries); `declaredEntryCount` lies about the number of entries.
std::string BuildZip(const std::vector<RawEntry>& entries, std::size_t extraCentralCopies = 0,
                     std::optional<std::uint16_t> declaredEntryCount = std::nullopt);

// Raw deflate of `data` (as zip stores it), at the best compression.
std::string Deflate(const std::string& data);

}  // namespace orv::hardening
