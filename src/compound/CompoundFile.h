// Reads streams out of a compound file (the container of .xls workbooks and of password-protected OOXML
// files) without any outside library: header, sector allocation table, directory and mini stream.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orv::compound {

// A compound file held in memory. Every failure is a std::runtime_error whose text says what is damaged.
class CompoundFile {
  public:
    // Parses the header and the directory of `bytes`; throws when they are not those of a compound file or
    // are damaged (sectors outside the file, looping chains).
    explicit CompoundFile(std::vector<std::uint8_t> bytes);

    // True when `bytes` start with the compound file signature.
    static bool HasSignature(const std::vector<std::uint8_t>& bytes);

    // The names of the streams directly in the root storage.
    std::vector<std::string> rootStreamNames() const;
    // The content of the root stream named `name` (ignoring ASCII case), or nullopt when there is none;
    // throws when its sectors are damaged or lie beyond the end of a truncated file.
    std::optional<std::vector<std::uint8_t>> ReadRootStream(const std::string& name) const;

    // The whole file with the content of the root stream `name` replaced by `content`, which must have the
    // stream's size (the sectors are rewritten in place). Throws when there is no such stream or sizes
    // differ.
    std::vector<std::uint8_t> WithRootStream(const std::string& name,
                                             const std::vector<std::uint8_t>& content) const;

  private:
    struct Entry {
        std::string name;  // ASCII-folded to lower case for comparison
        std::string displayName;
        std::uint8_t type = 0;
        std::uint32_t left = 0, right = 0, child = 0;
        std::uint32_t start = 0;
        std::uint64_t size = 0;
    };

    std::vector<std::uint32_t> Chain(const std::vector<std::uint32_t>& table, std::uint32_t start) const;
    std::vector<std::uint8_t> ReadRegular(std::uint32_t start, std::uint64_t size) const;
    std::vector<std::uint8_t> ReadMini(std::uint32_t start, std::uint64_t size) const;
    std::vector<const Entry*> RootChildren() const;
    const Entry* FindRootStream(const std::string& name) const;
    std::uint32_t U32(std::size_t offset) const;

    std::vector<std::uint8_t> m_bytes;
    std::uint32_t m_sectorSize = 512;
    std::uint32_t m_miniSectorSize = 64;
    std::uint32_t m_miniCutoff = 4096;
    std::vector<std::uint32_t> m_fat;
    std::vector<std::uint32_t> m_miniFat;
    std::vector<Entry> m_entries;
    std::vector<std::uint8_t> m_miniStream;
};

}  // namespace orv::compound
