// The sector level of a compound file, shared by the tree reader and the stream-by-stream reader: the header,
// the allocation tables, the directory, and where each stream's bytes lie. Everything read is checked
// against the size of the file before it is used, so damaged input throws instead of crashing or looping.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace orv::compound::detail {

// One 128-byte directory entry as stored.
struct DirectoryEntry {
    std::string name;  // UTF-8
    std::uint8_t type = 0;
    std::uint32_t left = 0, right = 0, child = 0;
    std::array<std::uint8_t, 16> clsid{};
    std::uint32_t stateBits = 0;
    std::uint64_t created = 0, modified = 0;
    std::uint32_t start = 0;
    std::uint64_t size = 0;
};

// A run of a stream's bytes in the file.
struct Extent {
    std::size_t offset = 0;
    std::size_t length = 0;
};

// Who holds each sector and each mini sector (an entry id or one of the tables), so that a chain that loops
// or runs into another is caught at the first sector it shares, and no byte is read for two streams.
struct Claims {
    std::vector<std::uint32_t> sectors;
    std::vector<std::uint32_t> miniSectors;
};

class SectorReader {
  public:
    // Reads the header, the allocation tables, the directory and the place of the mini stream of `bytes`,
    // which must outlive the reader; throws std::runtime_error "the compound file is damaged: …".
    explicit SectorReader(std::span<const std::uint8_t> bytes);

    const std::vector<DirectoryEntry>& entries() const { return m_entries; }
    // The sectors held by the tables, the directory and the mini stream; a copy takes the streams' claims.
    const Claims& tableClaims() const { return m_claims; }

    // The ids of the entries of storage `id` in the order of its sibling tree, each marked in `reached`;
    // throws when a link points outside the directory or to an unused entry, or reaches an entry twice.
    std::vector<std::uint32_t> Children(std::uint32_t id, std::vector<bool>& reached) const;
    // Where the bytes of stream `id` lie, its sectors marked in `claims`; throws when its size exceeds what
    // the file holds, or its chain is short, loops, leaves the file or shares a sector.
    std::vector<Extent> Extents(std::uint32_t id, Claims& claims) const;
    // The bytes of `extents`, one after another.
    std::vector<std::uint8_t> Read(const std::vector<Extent>& extents) const;

  private:
    const std::uint8_t* Sector(std::uint32_t sector) const;
    void LoadAllocationTable();
    void LoadDirectory();
    void LoadMiniStream();
    std::vector<std::uint32_t> TableChain(std::uint32_t start, std::uint32_t owner);
    std::vector<std::uint32_t> SizedChain(bool mini, std::uint32_t start, std::uint64_t count,
                                          std::uint32_t owner, Claims& claims) const;
    void Claim(std::vector<std::uint32_t>& holders, std::uint32_t sector, std::uint32_t owner) const;
    std::string Describe(std::uint32_t owner) const;
    void Append(std::vector<Extent>& extents, std::size_t offset, std::size_t length) const;

    std::span<const std::uint8_t> m_bytes;
    std::uint32_t m_sectorSize = 512;
    std::size_t m_sectorCount = 0;  // sectors after the header, the last one possibly cut short
    std::uint32_t m_miniCutoff = 4096;
    std::vector<std::uint32_t> m_fat;
    std::vector<std::uint32_t> m_miniFat;
    std::vector<DirectoryEntry> m_entries;
    std::vector<std::uint32_t> m_miniStreamSectors;
    std::uint64_t m_miniStreamSize = 0;
    std::size_t m_miniSectorCount = 0;
    Claims m_claims;
};

}  // namespace orv::compound::detail
