// The sector level of a compound file: every sector number, link and size read from the file is checked
// against the file's size before it is followed, and every sector is claimed by one table or stream only.
#include "compound/SectorReader.h"

#include <algorithm>

#include "compound/Format.h"
#include "compound/Names.h"
#include "platform/TextCase.h"

namespace orv::compound::detail {

using namespace format;

namespace {

constexpr std::uint32_t kUnclaimed = 0xFFFFFFFF;
// Owners that are not entries; entry ids stay below them (the directory is capped at kMaxEntries).
constexpr std::uint32_t kOwnerFat = 0xFFFFFFF0, kOwnerDifat = 0xFFFFFFF1, kOwnerDirectory = 0xFFFFFFF2,
                        kOwnerMiniFat = 0xFFFFFFF3, kOwnerMiniStream = 0xFFFFFFF4;
constexpr std::size_t kMaxEntries = 0xFFFFFF00;

std::string Hex(std::uint32_t value) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text = "0x";
    for (int shift = 28; shift >= 0; shift -= 4) text += digits[(value >> shift) & 0xF];
    return text;
}

DirectoryEntry ParseEntry(const std::uint8_t* at, bool largeSectors) {
    DirectoryEntry entry;
    // The name length counts bytes with the terminator; a name without one ends at the field's end.
    const std::size_t units = std::min<std::size_t>(Get16(at + kEntryNameLength) / 2, kNameBytes / 2);
    std::u16string name;
    for (std::size_t i = 0; i < units; ++i) {
        const char16_t unit = Get16(at + 2 * i);
        if (unit == 0) break;
        name += unit;
    }
    entry.name = platform::Utf8FromUtf16(name);
    entry.type = at[kEntryType];
    entry.left = Get32(at + kEntryLeft);
    entry.right = Get32(at + kEntryRight);
    entry.child = Get32(at + kEntryChild);
    std::copy_n(at + kEntryClsid, entry.clsid.size(), entry.clsid.begin());
    entry.stateBits = Get32(at + kEntryStateBits);
    entry.created = Get64(at + kEntryCreated);
    entry.modified = Get64(at + kEntryModified);
    entry.start = Get32(at + kEntryStart);
    // Version 3 writers leave garbage in the high half of the size, which must be ignored there.
    entry.size = largeSectors ? Get64(at + kEntrySize64) : Get32(at + kEntrySize64);
    return entry;
}

}  // namespace

SectorReader::SectorReader(std::span<const std::uint8_t> bytes) : m_bytes(bytes) {
    if (m_bytes.size() < kHeaderSize ||
        !std::equal(std::begin(kSignature), std::end(kSignature), m_bytes.begin()))
        Damaged("its header is missing or incomplete");
    const std::uint8_t* header = m_bytes.data();
    const unsigned shift = Get16(header + kSectorShift);
    if ((shift != 9 && shift != 12) || Get16(header + kMiniSectorShift) != 6)
        Damaged("its sector sizes are invalid");
    m_sectorSize = 1u << shift;
    if (m_bytes.size() < m_sectorSize) Damaged("its header is missing or incomplete");
    m_sectorCount =
        std::min<std::size_t>((m_bytes.size() - 1) / m_sectorSize, std::size_t{kMaxRegularSector} + 1);
    m_miniCutoff = Get32(header + kMiniCutoffField);
    m_claims.sectors.assign(m_sectorCount, kUnclaimed);

    LoadAllocationTable();
    LoadDirectory();
    const std::uint32_t firstMiniFat = Get32(header + kFirstMiniFatSector);
    // Writers mark an absent mini allocation table as an end of chain or as free.
    if (firstMiniFat <= kMaxRegularSector) {
        for (std::uint32_t sector : TableChain(firstMiniFat, kOwnerMiniFat)) {
            const std::uint8_t* at = Sector(sector);
            for (std::uint32_t i = 0; i < m_sectorSize / 4; ++i) m_miniFat.push_back(Get32(at + 4 * i));
        }
    }
    LoadMiniStream();
}

const std::uint8_t* SectorReader::Sector(std::uint32_t sector) const {
    const std::size_t offset = (static_cast<std::size_t>(sector) + 1) * m_sectorSize;
    if (sector >= m_sectorCount || offset + m_sectorSize > m_bytes.size())
        Damaged("a table lies beyond the end of the file (the file is truncated)");
    return m_bytes.data() + offset;
}

void SectorReader::LoadAllocationTable() {
    // The sector numbers of the allocation table come from the header, then from a chain of DIFAT sectors.
    const std::uint8_t* header = m_bytes.data();
    const std::uint32_t fatSectors = Get32(header + kFatSectorCount);
    if (fatSectors > m_sectorCount)
        Damaged("its allocation table is larger than the file (the file is truncated)");
    std::vector<std::uint32_t> fatSectorList;
    fatSectorList.reserve(fatSectors);
    for (std::uint32_t i = 0; i < kHeaderFatSlots && fatSectorList.size() < fatSectors; ++i)
        fatSectorList.push_back(Get32(header + kHeaderDifat + 4 * i));
    const std::uint32_t perDifatSector = m_sectorSize / 4 - 1;
    // Each DIFAT sector is claimed as it is read, so the chain ends within the file's sector count.
    for (std::uint32_t difat = Get32(header + kFirstDifatSector); fatSectorList.size() < fatSectors;) {
        if (difat > kMaxRegularSector) Damaged("its list of allocation table sectors ends early");
        if (difat >= m_sectorCount)
            Damaged(
                "its list of allocation table sectors goes on beyond the end of the file (the file is "
                "truncated)");
        Claim(m_claims.sectors, difat, kOwnerDifat);
        const std::uint8_t* at = Sector(difat);
        for (std::uint32_t i = 0; i < perDifatSector && fatSectorList.size() < fatSectors; ++i)
            fatSectorList.push_back(Get32(at + 4 * i));
        difat = Get32(at + 4 * perDifatSector);
    }
    m_fat.reserve(static_cast<std::size_t>(fatSectors) * (m_sectorSize / 4));
    for (std::uint32_t sector : fatSectorList) {
        if (sector >= m_sectorCount)
            Damaged("an allocation table sector (" + Hex(sector) +
                    ") lies outside the file (the file is truncated)");
        Claim(m_claims.sectors, sector, kOwnerFat);
        const std::uint8_t* at = Sector(sector);
        for (std::uint32_t i = 0; i < m_sectorSize / 4; ++i) m_fat.push_back(Get32(at + 4 * i));
    }
}

void SectorReader::LoadDirectory() {
    const auto chain = TableChain(Get32(m_bytes.data() + kFirstDirectorySector), kOwnerDirectory);
    if (chain.empty()) Damaged("its directory is empty");
    const std::size_t perSector = m_sectorSize / kEntrySize;
    if (chain.size() > kMaxEntries / perSector)
        Damaged("its directory has more entries than the format allows");
    m_entries.reserve(chain.size() * perSector);
    for (std::uint32_t sector : chain) {
        const std::uint8_t* at = Sector(sector);
        for (std::size_t i = 0; i < perSector; ++i)
            m_entries.push_back(ParseEntry(at + i * kEntrySize, m_sectorSize != 512));
    }
    if (m_entries.front().type != kTypeRoot) Damaged("its root entry is missing");
}

void SectorReader::LoadMiniStream() {
    const DirectoryEntry& root = m_entries.front();
    m_miniStreamSize = root.size;
    if (m_miniStreamSize == 0) return;
    if (m_miniStreamSize > static_cast<std::uint64_t>(m_sectorCount) * m_sectorSize)
        Damaged("the mini stream is recorded as " + std::to_string(m_miniStreamSize) +
                " bytes, more than the whole file holds");
    const std::uint64_t sectors = (m_miniStreamSize + m_sectorSize - 1) / m_sectorSize;
    m_miniStreamSectors = SizedChain(false, root.start, sectors, kOwnerMiniStream, m_claims);
    m_miniSectorCount = static_cast<std::size_t>((m_miniStreamSize + kMiniSectorSize - 1) / kMiniSectorSize);
    m_claims.miniSectors.assign(m_miniSectorCount, kUnclaimed);
}

std::vector<std::uint32_t> SectorReader::TableChain(std::uint32_t start, std::uint32_t owner) {
    std::vector<std::uint32_t> chain;
    for (std::uint32_t sector = start; sector != kEndOfChain; sector = m_fat[sector]) {
        if (sector > kMaxRegularSector)
            Damaged("the sector chain of " + Describe(owner) + " is broken (it links to " + Hex(sector) +
                    ")");
        if (sector >= m_sectorCount)
            Damaged("the sector chain of " + Describe(owner) +
                    " goes on beyond the end of the file (the file is truncated)");
        if (sector >= m_fat.size())
            Damaged("the sector chain of " + Describe(owner) + " leaves the allocation table");
        Claim(m_claims.sectors, sector, owner);
        chain.push_back(sector);
    }
    return chain;
}

std::vector<std::uint32_t> SectorReader::SizedChain(bool mini, std::uint32_t start, std::uint64_t count,
                                                    std::uint32_t owner, Claims& claims) const {
    const std::vector<std::uint32_t>& table = mini ? m_miniFat : m_fat;
    const std::size_t limit = mini ? m_miniSectorCount : m_sectorCount;
    std::vector<std::uint32_t>& holders = mini ? claims.miniSectors : claims.sectors;
    // The caller has checked the size against the file, so `count` is bounded by the file's sectors.
    std::vector<std::uint32_t> chain;
    chain.reserve(static_cast<std::size_t>(count));
    std::uint32_t sector = start;
    for (std::uint64_t i = 0; i < count; ++i) {
        if (sector > kMaxRegularSector)
            Damaged("the sector chain of " + Describe(owner) + " is shorter than its size");
        if (sector >= limit)
            Damaged(mini ? "the sector chain of " + Describe(owner) +
                               " goes on beyond the end of the mini stream"
                         : "the sector chain of " + Describe(owner) +
                               " goes on beyond the end of the file (the file is truncated)");
        Claim(holders, sector, owner);
        chain.push_back(sector);
        if (i + 1 == count) break;
        if (sector >= table.size())
            Damaged("the sector chain of " + Describe(owner) +
                    (mini ? " leaves the mini allocation table" : " leaves the allocation table"));
        sector = table[sector];
    }
    return chain;
}

void SectorReader::Claim(std::vector<std::uint32_t>& holders, std::uint32_t sector,
                         std::uint32_t owner) const {
    const std::uint32_t holder = holders[sector];
    if (holder == owner) Damaged("the sector chain of " + Describe(owner) + " loops");
    if (holder != kUnclaimed)
        Damaged("the sector chain of " + Describe(owner) + " runs into the sectors of " + Describe(holder));
    holders[sector] = owner;
}

std::string SectorReader::Describe(std::uint32_t owner) const {
    switch (owner) {
        case kOwnerFat:
            return "the allocation table";
        case kOwnerDifat:
            return "the list of allocation table sectors";
        case kOwnerDirectory:
            return "the directory";
        case kOwnerMiniFat:
            return "the mini allocation table";
        case kOwnerMiniStream:
            return "the mini stream";
        case 0:
            return "the root entry";
        default:
            break;
    }
    const DirectoryEntry& entry = m_entries[owner];
    return (entry.type == kTypeStorage ? "the storage " : "the stream ") + Quoted(entry.name);
}

std::vector<std::uint32_t> SectorReader::Children(std::uint32_t id, std::vector<bool>& reached) const {
    // An in-order walk of the sibling tree with a stack of its own: a hostile file may link thousands deep.
    std::vector<std::uint32_t> children;
    std::vector<std::uint32_t> path;
    std::uint32_t node = m_entries[id].child;
    for (;;) {
        for (; node != kNoStream; node = m_entries[node].left) {
            if (node >= m_entries.size())
                Damaged("an entry of " + Describe(id) + " links to entry " + std::to_string(node) +
                        ", beyond the " + std::to_string(m_entries.size()) + " entries of the directory");
            if (reached[node]) Damaged("the directory's links loop: " + Describe(node) + " is reached twice");
            const std::uint8_t type = m_entries[node].type;
            if (type == kTypeUnused)
                Damaged("an entry of " + Describe(id) + " links to the unused directory entry " +
                        std::to_string(node));
            if (type != kTypeStorage && type != kTypeStream)
                Damaged("directory entry " + std::to_string(node) + " (" + Quoted(m_entries[node].name) +
                        ") has the invalid type " + std::to_string(type));
            reached[node] = true;
            path.push_back(node);
        }
        if (path.empty()) break;
        node = path.back();
        path.pop_back();
        children.push_back(node);
        node = m_entries[node].right;
    }
    return children;
}

std::vector<Extent> SectorReader::Extents(std::uint32_t id, Claims& claims) const {
    const DirectoryEntry& entry = m_entries[id];
    std::vector<Extent> extents;
    if (entry.size == 0) return extents;
    const bool mini = entry.size < m_miniCutoff;
    const std::uint64_t capacity =
        mini ? m_miniStreamSize : static_cast<std::uint64_t>(m_sectorCount) * m_sectorSize;
    if (entry.size > capacity)
        Damaged(Describe(id) + " is recorded as " + std::to_string(entry.size) + " bytes, more than " +
                (mini ? "the mini stream" : "the whole file") + " holds");
    const std::uint32_t unit = mini ? kMiniSectorSize : m_sectorSize;
    std::uint64_t remaining = entry.size;
    for (std::uint32_t sector : SizedChain(mini, entry.start, (entry.size + unit - 1) / unit, id, claims)) {
        const std::size_t length = static_cast<std::size_t>(std::min<std::uint64_t>(unit, remaining));
        std::size_t offset = (static_cast<std::size_t>(sector) + 1) * m_sectorSize;
        if (mini) {
            // A mini sector lies inside the mini stream, itself a chain of ordinary sectors.
            const std::size_t inMini = static_cast<std::size_t>(sector) * kMiniSectorSize;
            offset =
                (static_cast<std::size_t>(m_miniStreamSectors[inMini / m_sectorSize]) + 1) * m_sectorSize +
                inMini % m_sectorSize;
        }
        if (offset + length > m_bytes.size())
            Damaged(Describe(id) + " runs past the end of the file (the file is truncated)");
        if (!extents.empty() && extents.back().offset + extents.back().length == offset) {
            extents.back().length += length;
        } else {
            extents.push_back({offset, length});
        }
        remaining -= length;
    }
    return extents;
}

std::vector<std::uint8_t> SectorReader::Read(const std::vector<Extent>& extents) const {
    std::size_t total = 0;
    for (const Extent& extent : extents) total += extent.length;
    std::vector<std::uint8_t> bytes;
    bytes.reserve(total);
    for (const Extent& extent : extents) {
        const auto from = m_bytes.begin() + static_cast<std::ptrdiff_t>(extent.offset);
        bytes.insert(bytes.end(), from, from + static_cast<std::ptrdiff_t>(extent.length));
    }
    return bytes;
}

}  // namespace orv::compound::detail
