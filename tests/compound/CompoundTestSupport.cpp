// Helpers of the compound file tests.
#include "CompoundTestSupport.h"

#include <stdexcept>

namespace orv::compound::test {

namespace {

std::uint32_t Get32(const std::vector<std::uint8_t>& bytes, std::size_t at) {
    if (at + 4 > bytes.size()) throw std::out_of_range("the test reads beyond the file");
    return static_cast<std::uint32_t>(bytes[at]) | static_cast<std::uint32_t>(bytes[at + 1]) << 8 |
           static_cast<std::uint32_t>(bytes[at + 2]) << 16 | static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

void Set32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value) {
    if (at + 4 > bytes.size()) throw std::out_of_range("the test writes beyond the file");
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::array<std::uint8_t, 16> Clsid(std::uint8_t first) {
    std::array<std::uint8_t, 16> clsid{};
    for (std::size_t i = 0; i < clsid.size(); ++i) clsid[i] = static_cast<std::uint8_t>(first + 17 * i);
    return clsid;
}

}  // namespace

std::vector<std::uint8_t> Pattern(std::size_t size, std::uint32_t seed) {
    std::vector<std::uint8_t> bytes(size);
    std::uint32_t state = seed * 2654435761u + 1;
    for (auto& byte : bytes) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<std::uint8_t>(state >> 16);
    }
    return bytes;
}

Entry Stream(std::string name, std::vector<std::uint8_t> data) {
    Entry entry;
    entry.name = std::move(name);
    entry.data = std::move(data);
    return entry;
}

Entry Storage(std::string name, std::vector<Entry> children) {
    Entry entry;
    entry.name = std::move(name);
    entry.storage = true;
    entry.children = std::move(children);
    return entry;
}

Entry SampleTree(std::size_t bigSize) {
    Entry vba = Storage("VBA", {Stream("dir", Pattern(4095, 1)), Stream("_VBA_PROJECT", Pattern(4096, 2)),
                                Stream("Module1", Pattern(4097, 3)), Stream("__SRP_0", Pattern(1, 4)),
                                Stream("__SRP_1", {}), Stream("Sheet1", Pattern(3 * 128 * 512 + 5, 5))});
    vba.stateBits = 5;
    vba.created = 0x01D8F00DCAFEBABEull;
    vba.modified = 0x01D9000012345678ull;
    Entry nested = Storage("Nested", {Storage("Deeper", {}), Stream("Größe", Pattern(10, 6))});
    nested.clsid = Clsid(0x40);
    Entry form =
        Storage("UserForm1", {Stream("\x01"
                                     "CompObj",
                                     Pattern(97, 7)),
                              Stream("f", Pattern(64, 8)), Stream("o", Pattern(65, 9)), std::move(nested)});
    form.clsid = Clsid(0xC6);
    form.stateBits = 0x12345678;
    Entry root =
        Storage("Root Entry",
                {Stream("PROJECT", Pattern(300, 10)), Stream("PROJECTwm", Pattern(2, 11)), std::move(vba),
                 std::move(form), Stream("Ünïcødé名前", Pattern(100, 12)), Stream("😀", Pattern(5, 13))});
    root.clsid = Clsid(0x01);
    root.stateBits = 0x80000001u;
    root.modified = 0x01DA0102030405ull;
    if (bigSize != 0) root.children.push_back(Stream("Big", Pattern(bigSize, 14)));
    return root;
}

std::string FirstDifference(const Entry& expected, const Entry& actual, const std::string& path) {
    const std::string where = path.empty() ? "the root" : "\"" + path + "\"";
    if (expected.storage != actual.storage) return where + ": a storage and a stream";
    if (!expected.storage) {
        if (expected.data.size() != actual.data.size())
            return where + ": " + std::to_string(actual.data.size()) + " bytes instead of " +
                   std::to_string(expected.data.size());
        for (std::size_t i = 0; i < expected.data.size(); ++i) {
            if (expected.data[i] != actual.data[i]) return where + ": byte " + std::to_string(i) + " differs";
        }
        return "";
    }
    if (expected.clsid != actual.clsid) return where + ": another CLSID";
    if (expected.stateBits != actual.stateBits) return where + ": other state bits";
    if (expected.modified != actual.modified) return where + ": another modification time";
    if (!path.empty() && expected.created != actual.created) return where + ": another creation time";
    if (expected.children.size() != actual.children.size())
        return where + ": " + std::to_string(actual.children.size()) + " entries instead of " +
               std::to_string(expected.children.size());
    for (const Entry& child : expected.children) {
        const std::string childPath = path.empty() ? child.name : path + "/" + child.name;
        const Entry* match = actual.Child(child.name);
        if (!match || match->name != child.name) return "\"" + childPath + "\" is missing";
        std::string difference = FirstDifference(child, *match, childPath);
        if (!difference.empty()) return difference;
    }
    return "";
}

FileView::FileView(std::vector<std::uint8_t>& bytes)
    : m_bytes(bytes), m_sectorSize(1u << (bytes.at(kSectorShift) | bytes.at(kSectorShift + 1) << 8)) {}

std::uint32_t FileView::Header32(std::size_t offset) const { return Get32(m_bytes, offset); }
void FileView::SetHeader32(std::size_t offset, std::uint32_t value) { Set32(m_bytes, offset, value); }

std::size_t FileView::FatOffset(std::uint32_t sector) const {
    // The tests' files are small enough for the header to list every allocation table sector.
    const std::uint32_t perSector = m_sectorSize / 4;
    const std::uint32_t fatSector = Header32(kHeaderDifat + 4 * (sector / perSector));
    return (std::size_t{fatSector} + 1) * m_sectorSize + 4 * (sector % perSector);
}

std::uint32_t FileView::Fat(std::uint32_t sector) const { return Get32(m_bytes, FatOffset(sector)); }
void FileView::SetFat(std::uint32_t sector, std::uint32_t value) { Set32(m_bytes, FatOffset(sector), value); }

std::vector<std::uint32_t> FileView::ChainOf(std::uint32_t start) const {
    std::vector<std::uint32_t> chain;
    for (std::uint32_t sector = start; sector != kEnd; sector = Fat(sector)) {
        if (chain.size() > m_bytes.size() / m_sectorSize) throw std::runtime_error("the test's chain loops");
        chain.push_back(sector);
    }
    return chain;
}

void FileView::SetMiniFat(std::uint32_t miniSector, std::uint32_t value) {
    const auto chain = ChainOf(Header32(kFirstMiniFat));
    const std::uint32_t perSector = m_sectorSize / 4;
    Set32(m_bytes,
          (std::size_t{chain.at(miniSector / perSector)} + 1) * m_sectorSize + 4 * (miniSector % perSector),
          value);
}

std::size_t FileView::entryCount() const {
    return ChainOf(Header32(kFirstDirectory)).size() * (m_sectorSize / 128);
}

std::size_t FileView::EntryOffset(std::uint32_t id) const {
    const auto chain = ChainOf(Header32(kFirstDirectory));
    const std::uint32_t perSector = m_sectorSize / 128;
    return (std::size_t{chain.at(id / perSector)} + 1) * m_sectorSize + 128 * (id % perSector);
}

std::string FileView::NameOf(std::uint32_t id) const {
    const std::size_t at = EntryOffset(id);
    std::string name;
    for (std::size_t i = 0; i < 32 && m_bytes[at + 2 * i] != 0; ++i)
        name += static_cast<char>(m_bytes[at + 2 * i]);
    return name;
}

std::u16string FileView::UnitsOf(std::uint32_t id) const {
    const std::size_t at = EntryOffset(id);
    std::u16string name;
    for (std::size_t i = 0; i < 32; ++i) {
        const auto unit = static_cast<char16_t>(m_bytes[at + 2 * i] | m_bytes[at + 2 * i + 1] << 8);
        if (unit == 0) break;
        name += unit;
    }
    return name;
}

std::uint32_t FileView::IdOf(const std::string& name) const {
    for (std::uint32_t id = 0; id < entryCount(); ++id) {
        if (Byte(id, kType) != 0 && NameOf(id) == name) return id;
    }
    throw std::runtime_error("the test's file has no entry \"" + name + "\"");
}

std::uint8_t FileView::Byte(std::uint32_t id, std::size_t field) const {
    return m_bytes[EntryOffset(id) + field];
}
void FileView::SetByte(std::uint32_t id, std::size_t field, std::uint8_t value) {
    m_bytes[EntryOffset(id) + field] = value;
}
std::uint32_t FileView::Field32(std::uint32_t id, std::size_t field) const {
    return Get32(m_bytes, EntryOffset(id) + field);
}
void FileView::SetField32(std::uint32_t id, std::size_t field, std::uint32_t value) {
    Set32(m_bytes, EntryOffset(id) + field, value);
}

}  // namespace orv::compound::test
