// The fixed numbers of the compound file format shared by its reader and writer: header fields, special
// sector numbers, directory entry layout, and little-endian access to them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace orv::compound::format {

constexpr std::uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr std::size_t kHeaderSize = 512;
constexpr std::uint32_t kHeaderFatSlots = 109;

// Header fields.
constexpr std::size_t kMinorVersion = 0x18, kMajorVersion = 0x1A, kByteOrder = 0x1C, kSectorShift = 0x1E,
                      kMiniSectorShift = 0x20, kDirectorySectorCount = 0x28, kFatSectorCount = 0x2C,
                      kFirstDirectorySector = 0x30, kMiniCutoffField = 0x38, kFirstMiniFatSector = 0x3C,
                      kMiniFatSectorCount = 0x40, kFirstDifatSector = 0x44, kDifatSectorCount = 0x48,
                      kHeaderDifat = 0x4C;

// Sector numbers above kMaxRegularSector are markers, not places in the file.
constexpr std::uint32_t kMaxRegularSector = 0xFFFFFFFA;
constexpr std::uint32_t kDifatSector = 0xFFFFFFFC;
constexpr std::uint32_t kFatSector = 0xFFFFFFFD;
constexpr std::uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr std::uint32_t kFreeSector = 0xFFFFFFFF;
constexpr std::uint32_t kNoStream = 0xFFFFFFFF;
constexpr std::uint32_t kMaxEntryId = 0xFFFFFFFA;

constexpr std::uint32_t kMiniSectorSize = 64;
constexpr std::uint32_t kMiniStreamCutoff = 4096;

// Directory entries: 128 bytes each.
constexpr std::size_t kEntrySize = 128;
constexpr std::size_t kNameBytes = 64;  // 31 UTF-16 units and their terminator
constexpr std::size_t kMaxNameUnits = 31;
constexpr std::size_t kEntryNameLength = 0x40, kEntryType = 0x42, kEntryColor = 0x43, kEntryLeft = 0x44,
                      kEntryRight = 0x48, kEntryChild = 0x4C, kEntryClsid = 0x50, kEntryStateBits = 0x60,
                      kEntryCreated = 0x64, kEntryModified = 0x6C, kEntryStart = 0x74, kEntrySize64 = 0x78;

constexpr std::uint8_t kTypeUnused = 0, kTypeStorage = 1, kTypeStream = 2, kTypeRoot = 5;
constexpr std::uint8_t kRed = 0, kBlack = 1;

// A storage nested deeper than this is refused by the reader and the writer alike: real files nest a few
// levels, and the tree is copied and freed recursively.
constexpr std::size_t kMaxDepth = 128;

[[noreturn]] inline void Damaged(const std::string& what) {
    throw std::runtime_error("the compound file is damaged: " + what);
}

inline std::uint16_t Get16(const std::uint8_t* at) { return static_cast<std::uint16_t>(at[0] | at[1] << 8); }
inline std::uint32_t Get32(const std::uint8_t* at) {
    return static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8 |
           static_cast<std::uint32_t>(at[2]) << 16 | static_cast<std::uint32_t>(at[3]) << 24;
}
inline std::uint64_t Get64(const std::uint8_t* at) {
    return Get32(at) | static_cast<std::uint64_t>(Get32(at + 4)) << 32;
}

inline void Put16(std::uint8_t* at, std::uint16_t value) {
    at[0] = static_cast<std::uint8_t>(value);
    at[1] = static_cast<std::uint8_t>(value >> 8);
}
inline void Put32(std::uint8_t* at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}
inline void Put64(std::uint8_t* at, std::uint64_t value) {
    Put32(at, static_cast<std::uint32_t>(value));
    Put32(at + 4, static_cast<std::uint32_t>(value >> 32));
}

}  // namespace orv::compound::format
