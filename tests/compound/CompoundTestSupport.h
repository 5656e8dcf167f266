// Helpers of the compound file tests: trees built in a line, generated stream contents, a comparison that
// names the first difference, and a view of a written file's tables that reads and patches them by hand.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "compound/CompoundFile.h"

namespace orv::compound::test {

// `size` bytes that differ with `seed` and along the stream, so a sector out of place shows.
std::vector<std::uint8_t> Pattern(std::size_t size, std::uint32_t seed);

Entry Stream(std::string name, std::vector<std::uint8_t> data);
Entry Storage(std::string name, std::vector<Entry> children);

// The tree both the tests and the olefile check write: nested storages with CLSIDs, state bits and times,
// streams from empty to several sectors of the allocation table, non-ASCII names. `bigSize` adds a stream
// "Big" of that many bytes when not zero.
Entry SampleTree(std::size_t bigSize);

// "" when `actual` holds what `expected` does (entries matched by name, in any order; a stream's CLSID, state
// bits and times, and the root's name and creation time, are not compared, as the writer drops them), else
// the path of the first difference and what differs.
std::string FirstDifference(const Entry& expected, const Entry& actual, const std::string& path = "");

// A written compound file's header, allocation tables and directory, read and patched by hand the way the
// format describes them, independently of the reader under test.
class FileView {
  public:
    explicit FileView(std::vector<std::uint8_t>& bytes);

    std::uint32_t sectorSize() const { return m_sectorSize; }
    std::uint32_t Header32(std::size_t offset) const;
    void SetHeader32(std::size_t offset, std::uint32_t value);
    std::uint32_t Fat(std::uint32_t sector) const;
    void SetFat(std::uint32_t sector, std::uint32_t value);
    void SetMiniFat(std::uint32_t miniSector, std::uint32_t value);

    std::size_t entryCount() const;
    // The id of the directory entry named `name` (ASCII, exact case); throws when there is none.
    std::uint32_t IdOf(const std::string& name) const;
    std::string NameOf(std::uint32_t id) const;
    std::u16string UnitsOf(std::uint32_t id) const;
    std::uint8_t Byte(std::uint32_t id, std::size_t field) const;
    void SetByte(std::uint32_t id, std::size_t field, std::uint8_t value);
    std::uint32_t Field32(std::uint32_t id, std::size_t field) const;
    void SetField32(std::uint32_t id, std::size_t field, std::uint32_t value);

  private:
    std::size_t FatOffset(std::uint32_t sector) const;
    std::size_t EntryOffset(std::uint32_t id) const;
    std::vector<std::uint32_t> ChainOf(std::uint32_t start) const;

    std::vector<std::uint8_t>& m_bytes;
    std::uint32_t m_sectorSize;
};

// Directory entry fields (byte offsets in an entry) and header fields the tests patch.
inline constexpr std::size_t kType = 0x42, kColor = 0x43, kLeft = 0x44, kRight = 0x48, kChild = 0x4C,
                             kStart = 0x74, kSize = 0x78, kSizeHigh = 0x7C;
inline constexpr std::size_t kSectorShift = 0x1E, kFatCount = 0x2C, kFirstDirectory = 0x30,
                             kFirstMiniFat = 0x3C, kFirstDifat = 0x44, kDifatCount = 0x48,
                             kHeaderDifat = 0x4C;
inline constexpr std::uint32_t kEnd = 0xFFFFFFFE, kFree = 0xFFFFFFFF, kNone = 0xFFFFFFFF;

}  // namespace orv::compound::test
