// Writes a tree of entries as a complete compound file. The layout is fixed so the same tree always gives the
// same bytes: header, allocation table, DIFAT sectors, directory, mini allocation table, mini stream, then
// the large streams in directory order, each in consecutive sectors.
#include <algorithm>
#include <stdexcept>

#include "compound/CompoundFile.h"
#include "compound/Format.h"
#include "compound/Names.h"

namespace orv::compound {

using namespace format;

namespace {

[[noreturn]] void Refuse(const std::string& why) {
    throw std::invalid_argument("cannot write the compound file: " + why);
}

// One directory entry to be written, in the order of ids.
struct Slot {
    const Entry* entry = nullptr;
    std::u16string name;
    std::uint8_t type = kTypeStream;
    std::uint8_t color = kBlack;
    std::uint32_t left = kNoStream, right = kNoStream, child = kNoStream;
    std::uint32_t start = kEndOfChain;  // a sector, or a mini sector for a small stream
};

std::u16string CheckedName(const Entry& entry) {
    bool valid = true;
    std::u16string units = detail::Utf16Units(entry.name, &valid);
    if (!valid) Refuse("the name " + detail::Quoted(entry.name) + " is not UTF-8");
    if (units.empty()) Refuse("an entry has no name");
    if (units.size() > kMaxNameUnits)
        Refuse("the name " + detail::Quoted(entry.name) + " is longer than " + std::to_string(kMaxNameUnits) +
               " UTF-16 units");
    if (units.find_first_of(std::u16string_view(u"/\\:!\0", 5)) != std::u16string::npos)
        Refuse("the name " + detail::Quoted(entry.name) + " holds one of / \\ : ! or NUL");
    if (!entry.storage && !entry.children.empty())
        Refuse("the stream " + detail::Quoted(entry.name) + " has entries under it");
    return units;
}

// Links the slots [first, last), sorted by name, into a balanced binary tree and returns its root. Splitting
// at the middle leaves every empty link at the deepest two levels, so colouring the nodes of the deepest
// level red (below a black root) makes it a valid red-black tree: no red node has a child, and every path
// from the root to an empty link passes the same number of black nodes.
std::uint32_t LinkSiblings(std::vector<Slot>& slots, std::uint32_t first, std::uint32_t last) {
    std::vector<std::pair<std::uint32_t, std::size_t>> depths;
    auto link = [&](auto& self, std::uint32_t from, std::uint32_t to, std::size_t depth) -> std::uint32_t {
        if (from == to) return kNoStream;
        const std::uint32_t middle = from + (to - from) / 2;
        depths.emplace_back(middle, depth);
        slots[middle].left = self(self, from, middle, depth + 1);
        slots[middle].right = self(self, middle + 1, to, depth + 1);
        return middle;
    };
    const std::uint32_t root = link(link, first, last, 0);
    std::size_t deepest = 0;
    for (const auto& [id, depth] : depths) deepest = std::max(deepest, depth);
    for (const auto& [id, depth] : depths) slots[id].color = depth == deepest && depth > 0 ? kRed : kBlack;
    return root;
}

// The directory in id order: the root, then each storage's entries sorted by name, consecutive.
std::vector<Slot> Flatten(const Entry& root) {
    std::vector<Slot> slots(1);
    slots[0].entry = &root;
    slots[0].name = u"Root Entry";
    slots[0].type = kTypeRoot;
    std::vector<std::pair<std::uint32_t, std::size_t>> pending{{0, 0}};
    while (!pending.empty()) {
        const auto [id, depth] = pending.back();
        pending.pop_back();
        const Entry& storage = *slots[id].entry;
        struct Named {
            detail::NameKey key;
            const Entry* entry;
            std::u16string units;
        };
        std::vector<Named> sorted;
        for (const Entry& child : storage.children) {
            if (child.storage && depth + 1 > kMaxDepth)
                Refuse("its storages are nested more than " + std::to_string(kMaxDepth) + " deep");
            sorted.push_back({detail::KeyOf(child.name), &child, CheckedName(child)});
        }
        std::sort(sorted.begin(), sorted.end(),
                  [](const Named& a, const Named& b) { return detail::Compare(a.key, b.key) < 0; });
        for (std::size_t i = 1; i < sorted.size(); ++i) {
            if (detail::Compare(sorted[i - 1].key, sorted[i].key) == 0)
                Refuse(detail::Quoted(sorted[i - 1].entry->name) + " and " +
                       detail::Quoted(sorted[i].entry->name) + " are the same name to the format");
        }
        if (slots.size() + sorted.size() > kMaxEntryId) Refuse("it has more entries than the format allows");
        const auto first = static_cast<std::uint32_t>(slots.size());
        for (Named& named : sorted) {
            Slot slot;
            slot.entry = named.entry;
            slot.name = std::move(named.units);
            slot.type = named.entry->storage ? kTypeStorage : kTypeStream;
            slots.push_back(std::move(slot));
        }
        const auto last = static_cast<std::uint32_t>(slots.size());
        if (first != last) slots[id].child = LinkSiblings(slots, first, last);
        for (std::uint32_t i = last; i-- > first;) {
            if (slots[i].type == kTypeStorage) pending.emplace_back(i, depth + 1);
        }
    }
    return slots;
}

std::uint64_t CeilDiv(std::uint64_t value, std::uint64_t unit) { return (value + unit - 1) / unit; }

class Layout {
  public:
    Layout(std::vector<Slot> slots, Version version)
        : m_slots(std::move(slots)), m_sectorSize(version == Version::V3 ? 512u : 4096u), m_version(version) {
        Plan();
    }
    std::vector<std::uint8_t> Bytes();

  private:
    void Plan();
    std::uint8_t* Sector(std::uint32_t sector) {
        return m_file.data() + (std::size_t{sector} + 1) * m_sectorSize;
    }
    void Chain(std::vector<std::uint32_t>& table, std::uint32_t start, std::uint64_t count);
    void WriteHeader();
    void WriteAllocationTable();
    void WriteDirectory();
    void WriteStreams();

    std::vector<Slot> m_slots;
    std::uint32_t m_sectorSize;
    Version m_version;
    std::uint64_t m_miniSectors = 0;
    std::uint32_t m_fatSectors = 0, m_difatSectors = 0, m_directorySectors = 0, m_miniFatSectors = 0,
                  m_miniStreamSectors = 0;
    std::uint32_t m_firstDirectory = 0, m_firstMiniFat = 0, m_firstMiniStream = 0, m_totalSectors = 0;
    std::vector<std::uint8_t> m_file;
};

void Layout::Plan() {
    // Version 3 records sizes in 32 bits; version 4 in 64, but its sector numbers reach only 2^32 sectors.
    const std::uint64_t maxStream = m_version == Version::V3 ? 0xFFFFFFFFu : std::uint64_t{1} << 44;
    std::uint64_t largeSectors = 0;
    for (Slot& slot : m_slots) {
        if (slot.type != kTypeStream) continue;
        const std::uint64_t size = slot.entry->data.size();
        if (size > maxStream)
            Refuse("the stream " + detail::Quoted(slot.entry->name) + " is too large for this version");
        if (size == 0) continue;
        if (size < kMiniStreamCutoff) {
            slot.start = static_cast<std::uint32_t>(m_miniSectors);
            m_miniSectors += CeilDiv(size, kMiniSectorSize);
        } else {
            largeSectors += CeilDiv(size, m_sectorSize);
        }
    }
    const std::uint64_t perSector = m_sectorSize / 4;
    const std::uint64_t directory = CeilDiv(m_slots.size() * kEntrySize, m_sectorSize);
    const std::uint64_t miniFat = CeilDiv(m_miniSectors * 4, m_sectorSize);
    const std::uint64_t miniStream = CeilDiv(m_miniSectors * kMiniSectorSize, m_sectorSize);
    const std::uint64_t data = directory + miniFat + miniStream + largeSectors;
    // The allocation table covers itself and the DIFAT sectors that list it: grow both until they cover all.
    std::uint64_t fat = 0, difat = 0;
    for (;;) {
        const std::uint64_t neededFat = CeilDiv(data + fat + difat, perSector);
        const std::uint64_t neededDifat =
            neededFat > kHeaderFatSlots ? CeilDiv(neededFat - kHeaderFatSlots, perSector - 1) : 0;
        if (neededFat == fat && neededDifat == difat) break;
        fat = neededFat;
        difat = neededDifat;
    }
    const std::uint64_t total = fat + difat + data;
    if (total > kMaxRegularSector) Refuse("it would be larger than the format allows");
    m_fatSectors = static_cast<std::uint32_t>(fat);
    m_difatSectors = static_cast<std::uint32_t>(difat);
    m_directorySectors = static_cast<std::uint32_t>(directory);
    m_miniFatSectors = static_cast<std::uint32_t>(miniFat);
    m_miniStreamSectors = static_cast<std::uint32_t>(miniStream);
    m_totalSectors = static_cast<std::uint32_t>(total);
    m_firstDirectory = m_fatSectors + m_difatSectors;
    m_firstMiniFat = m_firstDirectory + m_directorySectors;
    m_firstMiniStream = m_firstMiniFat + m_miniFatSectors;
    std::uint32_t next = m_firstMiniStream + m_miniStreamSectors;
    for (Slot& slot : m_slots) {
        const std::uint64_t size = slot.type == kTypeStream ? slot.entry->data.size() : 0;
        if (size < kMiniStreamCutoff) continue;
        slot.start = next;
        next += static_cast<std::uint32_t>(CeilDiv(size, m_sectorSize));
    }
}

void Layout::Chain(std::vector<std::uint32_t>& table, std::uint32_t start, std::uint64_t count) {
    for (std::uint64_t i = 0; i < count; ++i)
        table[start + i] = i + 1 == count ? kEndOfChain : static_cast<std::uint32_t>(start + i + 1);
}

std::vector<std::uint8_t> Layout::Bytes() {
    m_file.assign((std::size_t{m_totalSectors} + 1) * m_sectorSize, 0);
    WriteHeader();
    WriteAllocationTable();
    WriteDirectory();
    WriteStreams();
    return std::move(m_file);
}

void Layout::WriteHeader() {
    std::uint8_t* header = m_file.data();
    std::copy(std::begin(kSignature), std::end(kSignature), header);
    Put16(header + kMinorVersion, 0x003E);
    Put16(header + kMajorVersion, m_version == Version::V3 ? 3 : 4);
    Put16(header + kByteOrder, 0xFFFE);
    Put16(header + kSectorShift, m_version == Version::V3 ? 9 : 12);
    Put16(header + kMiniSectorShift, 6);
    // Version 3 leaves the directory's sector count at zero.
    Put32(header + kDirectorySectorCount, m_version == Version::V3 ? 0 : m_directorySectors);
    Put32(header + kFatSectorCount, m_fatSectors);
    Put32(header + kFirstDirectorySector, m_firstDirectory);
    Put32(header + kMiniCutoffField, kMiniStreamCutoff);
    Put32(header + kFirstMiniFatSector, m_miniFatSectors ? m_firstMiniFat : kEndOfChain);
    Put32(header + kMiniFatSectorCount, m_miniFatSectors);
    Put32(header + kFirstDifatSector, m_difatSectors ? m_fatSectors : kEndOfChain);
    Put32(header + kDifatSectorCount, m_difatSectors);
    for (std::uint32_t i = 0; i < kHeaderFatSlots; ++i)
        Put32(header + kHeaderDifat + 4 * i, i < m_fatSectors ? i : kFreeSector);
}

void Layout::WriteAllocationTable() {
    const std::uint32_t perSector = m_sectorSize / 4;
    std::vector<std::uint32_t> fat(std::size_t{m_fatSectors} * perSector, kFreeSector);
    for (std::uint32_t i = 0; i < m_fatSectors; ++i) fat[i] = kFatSector;
    for (std::uint32_t i = 0; i < m_difatSectors; ++i) fat[m_fatSectors + i] = kDifatSector;
    Chain(fat, m_firstDirectory, m_directorySectors);
    Chain(fat, m_firstMiniFat, m_miniFatSectors);
    Chain(fat, m_firstMiniStream, m_miniStreamSectors);
    std::vector<std::uint32_t> miniFat(std::size_t{m_miniFatSectors} * perSector, kFreeSector);
    for (const Slot& slot : m_slots) {
        const std::uint64_t size = slot.type == kTypeStream ? slot.entry->data.size() : 0;
        if (size == 0) continue;
        if (size < kMiniStreamCutoff) {
            Chain(miniFat, slot.start, CeilDiv(size, kMiniSectorSize));
        } else {
            Chain(fat, slot.start, CeilDiv(size, m_sectorSize));
        }
    }
    for (std::size_t i = 0; i < fat.size(); ++i)
        Put32(Sector(static_cast<std::uint32_t>(i / perSector)) + 4 * (i % perSector), fat[i]);
    for (std::size_t i = 0; i < miniFat.size(); ++i)
        Put32(Sector(static_cast<std::uint32_t>(m_firstMiniFat + i / perSector)) + 4 * (i % perSector),
              miniFat[i]);

    // The DIFAT sectors list the allocation table sectors the header has no room for, the last slot of each
    // pointing to the next.
    for (std::uint32_t d = 0; d < m_difatSectors; ++d) {
        std::uint8_t* at = Sector(m_fatSectors + d);
        for (std::uint32_t i = 0; i + 1 < perSector; ++i) {
            const std::uint64_t fatSector = kHeaderFatSlots + std::uint64_t{d} * (perSector - 1) + i;
            Put32(at + 4 * i, fatSector < m_fatSectors ? static_cast<std::uint32_t>(fatSector) : kFreeSector);
        }
        Put32(at + 4 * (perSector - 1), d + 1 < m_difatSectors ? m_fatSectors + d + 1 : kEndOfChain);
    }
}

void Layout::WriteDirectory() {
    const std::uint32_t perSector = m_sectorSize / kEntrySize;
    for (std::size_t id = 0; id < std::size_t{m_directorySectors} * perSector; ++id) {
        std::uint8_t* at = Sector(static_cast<std::uint32_t>(m_firstDirectory + id / perSector)) +
                           (id % perSector) * kEntrySize;
        // Unused entries are zero but for their links.
        Put32(at + kEntryLeft, kNoStream);
        Put32(at + kEntryRight, kNoStream);
        Put32(at + kEntryChild, kNoStream);
        if (id >= m_slots.size()) continue;
        const Slot& slot = m_slots[id];
        const Entry& entry = *slot.entry;
        for (std::size_t i = 0; i < slot.name.size(); ++i) Put16(at + 2 * i, slot.name[i]);
        Put16(at + kEntryNameLength, static_cast<std::uint16_t>(2 * (slot.name.size() + 1)));
        at[kEntryType] = slot.type;
        at[kEntryColor] = slot.color;
        Put32(at + kEntryLeft, slot.left);
        Put32(at + kEntryRight, slot.right);
        Put32(at + kEntryChild, slot.child);
        if (slot.type == kTypeStream) {
            Put32(at + kEntryStart, entry.data.empty() ? kEndOfChain : slot.start);
            Put64(at + kEntrySize64, entry.data.size());
            continue;
        }
        std::copy(entry.clsid.begin(), entry.clsid.end(), at + kEntryClsid);
        Put32(at + kEntryStateBits, entry.stateBits);
        // The root's creation time belongs to the file, and the format has it zero.
        Put64(at + kEntryCreated, slot.type == kTypeRoot ? 0 : entry.created);
        Put64(at + kEntryModified, entry.modified);
        if (slot.type == kTypeRoot) {
            Put32(at + kEntryStart, m_miniSectors ? m_firstMiniStream : kEndOfChain);
            Put64(at + kEntrySize64, m_miniSectors * kMiniSectorSize);
        }
    }
}

void Layout::WriteStreams() {
    const std::size_t miniStream = (std::size_t{m_firstMiniStream} + 1) * m_sectorSize;
    for (const Slot& slot : m_slots) {
        if (slot.type != kTypeStream || slot.entry->data.empty()) continue;
        const auto& data = slot.entry->data;
        // Both the mini stream and each large stream lie in consecutive sectors.
        const std::size_t offset = data.size() < kMiniStreamCutoff
                                       ? miniStream + std::size_t{slot.start} * kMiniSectorSize
                                       : (std::size_t{slot.start} + 1) * m_sectorSize;
        std::copy(data.begin(), data.end(), m_file.begin() + static_cast<std::ptrdiff_t>(offset));
    }
}

}  // namespace

std::vector<std::uint8_t> Write(const Entry& root, Version version) {
    return Layout(Flatten(root), version).Bytes();
}

}  // namespace orv::compound
