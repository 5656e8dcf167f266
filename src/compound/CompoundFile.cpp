// The compound file reader: follows the sector chains of the allocation tables to read root streams.
#include "compound/CompoundFile.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace orv::compound {

namespace {

constexpr std::uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr std::uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr std::uint32_t kMaxRegularSector = 0xFFFFFFFA;
constexpr std::uint32_t kNoStream = 0xFFFFFFFF;
constexpr std::uint8_t kStream = 2;

[[noreturn]] void Damaged(const std::string& what) {
    throw std::runtime_error("the compound file is damaged: " + what);
}

std::string AsciiLower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; });
    return text;
}

}  // namespace

bool CompoundFile::HasSignature(const std::vector<std::uint8_t>& bytes) {
    return bytes.size() >= sizeof kSignature && std::memcmp(bytes.data(), kSignature, sizeof kSignature) == 0;
}

std::uint32_t CompoundFile::U32(std::size_t offset) const {
    if (offset + 4 > m_bytes.size())
        Damaged("a table lies beyond the end of the file (the file is truncated)");
    return static_cast<std::uint32_t>(m_bytes[offset]) |
           static_cast<std::uint32_t>(m_bytes[offset + 1]) << 8 |
           static_cast<std::uint32_t>(m_bytes[offset + 2]) << 16 |
           static_cast<std::uint32_t>(m_bytes[offset + 3]) << 24;
}

CompoundFile::CompoundFile(std::vector<std::uint8_t> bytes) : m_bytes(std::move(bytes)) {
    if (!HasSignature(m_bytes) || m_bytes.size() < 512) Damaged("its header is missing or incomplete");
    const unsigned sectorShift = m_bytes[0x1E] | m_bytes[0x1F] << 8;
    const unsigned miniShift = m_bytes[0x20] | m_bytes[0x21] << 8;
    if ((sectorShift != 9 && sectorShift != 12) || miniShift != 6) Damaged("its sector sizes are invalid");
    m_sectorSize = 1u << sectorShift;
    m_miniSectorSize = 1u << miniShift;
    m_miniCutoff = U32(0x38);
    const std::uint32_t fatSectors = U32(0x2C);
    const std::uint32_t firstDirectory = U32(0x30);
    const std::uint32_t firstMiniFat = U32(0x3C);
    std::uint32_t difatSector = U32(0x44);
    const std::uint32_t difatCount = U32(0x48);

    // The sector numbers of the allocation table come from the header, then from a chain of extra DIFAT
    // sectors.
    const std::size_t totalSectors = m_bytes.size() / m_sectorSize;
    if (fatSectors > totalSectors)
        Damaged("its allocation table is larger than the file (the file is truncated)");
    std::vector<std::uint32_t> fatSectorList;
    for (std::size_t i = 0; i < 109 && fatSectorList.size() < fatSectors; ++i)
        fatSectorList.push_back(U32(0x4C + 4 * i));
    for (std::uint32_t n = 0; n < difatCount && fatSectorList.size() < fatSectors; ++n) {
        if (difatSector > kMaxRegularSector) Damaged("its sector index chain ends early");
        const std::size_t base = (static_cast<std::size_t>(difatSector) + 1) * m_sectorSize;
        const std::size_t perSector = m_sectorSize / 4 - 1;
        for (std::size_t i = 0; i < perSector && fatSectorList.size() < fatSectors; ++i) {
            fatSectorList.push_back(U32(base + 4 * i));
        }
        difatSector = U32(base + 4 * perSector);
    }
    for (std::uint32_t sector : fatSectorList) {
        if (sector > kMaxRegularSector) Damaged("an allocation table sector is missing");
        const std::size_t base = (static_cast<std::size_t>(sector) + 1) * m_sectorSize;
        for (std::size_t i = 0; i < m_sectorSize / 4; ++i) m_fat.push_back(U32(base + 4 * i));
    }

    const auto directory = ReadRegular(firstDirectory, 0);
    for (std::size_t offset = 0; offset + 128 <= directory.size(); offset += 128) {
        const std::uint8_t* d = directory.data() + offset;
        Entry entry;
        const unsigned nameBytes = std::min<unsigned>(d[0x40] | d[0x41] << 8, 64);
        for (unsigned i = 0; i + 1 < nameBytes; i += 2) {
            const unsigned unit = d[i] | d[i + 1] << 8;
            if (unit == 0) break;
            entry.displayName += unit < 0x80 ? static_cast<char>(unit) : '?';
        }
        entry.name = AsciiLower(entry.displayName);
        entry.type = d[0x42];
        auto u32 = [d](int at) {
            return static_cast<std::uint32_t>(d[at] | d[at + 1] << 8 | d[at + 2] << 16) |
                   static_cast<std::uint32_t>(d[at + 3]) << 24;
        };
        entry.left = u32(0x44);
        entry.right = u32(0x48);
        entry.child = u32(0x4C);
        entry.start = u32(0x74);
        entry.size = u32(0x78);
        // Version 3 files keep garbage in the high half of the size.
        if (m_sectorSize == 4096) entry.size |= static_cast<std::uint64_t>(u32(0x7C)) << 32;
        m_entries.push_back(std::move(entry));
    }
    if (m_entries.empty()) Damaged("its directory is empty");

    if (firstMiniFat <= kMaxRegularSector) {
        const auto miniFatBytes = ReadRegular(firstMiniFat, 0);
        for (std::size_t i = 0; i + 4 <= miniFatBytes.size(); i += 4) {
            m_miniFat.push_back(miniFatBytes[i] | miniFatBytes[i + 1] << 8 | miniFatBytes[i + 2] << 16 |
                                static_cast<std::uint32_t>(miniFatBytes[i + 3]) << 24);
        }
    }
    const Entry& root = m_entries.front();
    if (root.start <= kMaxRegularSector && root.size > 0) m_miniStream = ReadRegular(root.start, root.size);
}

std::vector<std::uint32_t> CompoundFile::Chain(const std::vector<std::uint32_t>& table,
                                               std::uint32_t start) const {
    std::vector<std::uint32_t> chain;
    for (std::uint32_t sector = start; sector != kEndOfChain;) {
        if (sector >= table.size()) Damaged("a stream runs past the end of the file (the file is truncated)");
        if (chain.size() > table.size()) Damaged("a sector chain loops");
        chain.push_back(sector);
        sector = table[sector];
    }
    return chain;
}

std::vector<std::uint8_t> CompoundFile::ReadRegular(std::uint32_t start, std::uint64_t size) const {
    std::vector<std::uint8_t> out;
    for (std::uint32_t sector : Chain(m_fat, start)) {
        const std::size_t base = (static_cast<std::size_t>(sector) + 1) * m_sectorSize;
        if (base + m_sectorSize > m_bytes.size()) {
            Damaged("a stream runs past the end of the file (the file is truncated)");
        }
        out.insert(out.end(), m_bytes.begin() + static_cast<std::ptrdiff_t>(base),
                   m_bytes.begin() + static_cast<std::ptrdiff_t>(base + m_sectorSize));
    }
    if (size != 0) {
        if (out.size() < size) Damaged("a stream is shorter than recorded (the file is truncated)");
        out.resize(static_cast<std::size_t>(size));
    }
    return out;
}

std::vector<std::uint8_t> CompoundFile::ReadMini(std::uint32_t start, std::uint64_t size) const {
    std::vector<std::uint8_t> out;
    for (std::uint32_t sector : Chain(m_miniFat, start)) {
        const std::size_t base = static_cast<std::size_t>(sector) * m_miniSectorSize;
        if (base + m_miniSectorSize > m_miniStream.size())
            Damaged("a small stream lies outside the mini stream");
        out.insert(out.end(), m_miniStream.begin() + static_cast<std::ptrdiff_t>(base),
                   m_miniStream.begin() + static_cast<std::ptrdiff_t>(base + m_miniSectorSize));
    }
    if (out.size() < size) Damaged("a small stream is shorter than recorded");
    out.resize(static_cast<std::size_t>(size));
    return out;
}

std::vector<const CompoundFile::Entry*> CompoundFile::RootChildren() const {
    // The children of a storage form a tree through left and right siblings; walk it without recursion.
    std::vector<const Entry*> result;
    std::vector<std::uint32_t> pending{m_entries.front().child};
    std::vector<bool> seen(m_entries.size(), false);
    while (!pending.empty()) {
        const std::uint32_t id = pending.back();
        pending.pop_back();
        if (id == kNoStream) continue;
        if (id >= m_entries.size() || seen[id]) Damaged("its directory tree is invalid");
        seen[id] = true;
        result.push_back(&m_entries[id]);
        pending.push_back(m_entries[id].left);
        pending.push_back(m_entries[id].right);
    }
    return result;
}

std::vector<std::string> CompoundFile::rootStreamNames() const {
    std::vector<std::string> names;
    for (const Entry* entry : RootChildren()) {
        if (entry->type == kStream) names.push_back(entry->displayName);
    }
    return names;
}

const CompoundFile::Entry* CompoundFile::FindRootStream(const std::string& name) const {
    const std::string wanted = AsciiLower(name);
    for (const Entry* entry : RootChildren()) {
        if (entry->type == kStream && entry->name == wanted) return entry;
    }
    return nullptr;
}

std::optional<std::vector<std::uint8_t>> CompoundFile::ReadRootStream(const std::string& name) const {
    const Entry* entry = FindRootStream(name);
    if (!entry) return std::nullopt;
    if (entry->size == 0) return std::vector<std::uint8_t>{};
    if (entry->size < m_miniCutoff) return ReadMini(entry->start, entry->size);
    return ReadRegular(entry->start, entry->size);
}

std::vector<std::uint8_t> CompoundFile::WithRootStream(const std::string& name,
                                                       const std::vector<std::uint8_t>& content) const {
    const Entry* entry = FindRootStream(name);
    if (!entry || entry->size != content.size()) {
        throw std::runtime_error("the stream \"" + name + "\" is missing or has another size");
    }
    std::vector<std::uint8_t> file = m_bytes;
    // Where each piece of the stream lives in the file: whole sectors, or mini sectors inside the root's
    // chain.
    std::size_t done = 0;
    if (entry->size >= m_miniCutoff) {
        for (std::uint32_t sector : Chain(m_fat, entry->start)) {
            const std::size_t length = std::min<std::size_t>(m_sectorSize, content.size() - done);
            const std::size_t at = (static_cast<std::size_t>(sector) + 1) * m_sectorSize;
            if (at + length > file.size()) Damaged("a stream runs past the end of the file");
            std::copy_n(content.begin() + static_cast<std::ptrdiff_t>(done), length,
                        file.begin() + static_cast<std::ptrdiff_t>(at));
            if ((done += length) == content.size()) break;
        }
    } else if (!content.empty()) {
        const auto rootChain = Chain(m_fat, m_entries.front().start);
        for (std::uint32_t sector : Chain(m_miniFat, entry->start)) {
            const std::size_t length = std::min<std::size_t>(m_miniSectorSize, content.size() - done);
            const std::size_t inMini = static_cast<std::size_t>(sector) * m_miniSectorSize;
            if (inMini / m_sectorSize >= rootChain.size())
                Damaged("a small stream lies outside the mini stream");
            const std::size_t at =
                (static_cast<std::size_t>(rootChain[inMini / m_sectorSize]) + 1) * m_sectorSize +
                inMini % m_sectorSize;
            if (at + length > file.size()) Damaged("a stream runs past the end of the file");
            std::copy_n(content.begin() + static_cast<std::ptrdiff_t>(done), length,
                        file.begin() + static_cast<std::ptrdiff_t>(at));
            if ((done += length) == content.size()) break;
        }
    }
    if (done != content.size()) Damaged("a stream is shorter than recorded");
    return file;
}

}  // namespace orv::compound
