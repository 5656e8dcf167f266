// The stream-by-stream reader: the root storage's streams read, or rewritten in their own sectors, without
// reading the rest of the file.
#include "compound/CompoundFile.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "compound/Format.h"
#include "compound/SectorReader.h"

namespace orv::compound {

using namespace format;

CompoundFile::CompoundFile(std::vector<std::uint8_t> bytes)
    : m_bytes(std::move(bytes)), m_reader(std::make_unique<const detail::SectorReader>(m_bytes)) {}

CompoundFile::~CompoundFile() = default;

bool CompoundFile::HasSignature(const std::vector<std::uint8_t>& bytes) {
    return bytes.size() >= sizeof kSignature && std::memcmp(bytes.data(), kSignature, sizeof kSignature) == 0;
}

std::vector<std::string> CompoundFile::rootStreamNames() const {
    std::vector<bool> reached(m_reader->entries().size(), false);
    std::vector<std::string> names;
    for (std::uint32_t id : m_reader->Children(0, reached)) {
        const auto& entry = m_reader->entries()[id];
        if (entry.type == kTypeStream) names.push_back(entry.name);
    }
    return names;
}

std::optional<std::uint32_t> CompoundFile::FindRootStream(const std::string& name) const {
    std::vector<bool> reached(m_reader->entries().size(), false);
    for (std::uint32_t id : m_reader->Children(0, reached)) {
        const auto& entry = m_reader->entries()[id];
        if (entry.type == kTypeStream && CompareNames(entry.name, name) == 0) return id;
    }
    return std::nullopt;
}

std::optional<std::vector<std::uint8_t>> CompoundFile::ReadRootStream(const std::string& name) const {
    const auto id = FindRootStream(name);
    if (!id) return std::nullopt;
    detail::Claims claims = m_reader->tableClaims();
    return m_reader->Read(m_reader->Extents(*id, claims));
}

std::vector<std::uint8_t> CompoundFile::WithRootStream(const std::string& name,
                                                       const std::vector<std::uint8_t>& content) const {
    const auto id = FindRootStream(name);
    if (!id || m_reader->entries()[*id].size != content.size())
        throw std::runtime_error("the stream \"" + name + "\" is missing or has another size");
    detail::Claims claims = m_reader->tableClaims();
    std::vector<std::uint8_t> file = m_bytes;
    auto from = content.begin();
    for (const detail::Extent& extent : m_reader->Extents(*id, claims)) {
        std::copy_n(from, extent.length, file.begin() + static_cast<std::ptrdiff_t>(extent.offset));
        from += static_cast<std::ptrdiff_t>(extent.length);
    }
    return file;
}

}  // namespace orv::compound
