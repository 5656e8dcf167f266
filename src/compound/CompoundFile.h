// Compound files (structured storage), the container of .xls workbooks, of password-protected OOXML files and
// of the VBA projects inside macro-enabled workbooks, without any outside library: read whole as a tree of
// storages and streams and written whole, or their root streams read and patched in place.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orv::compound {

namespace detail {
class SectorReader;
}

// One entry of a compound file: a storage (a folder of entries, or the root) or a stream of bytes.
struct Entry {
    std::string name;                         // UTF-8; at most 31 UTF-16 units in the file
    bool storage = false;                     // a storage (or the root) rather than a stream
    std::array<std::uint8_t, 16> clsid{};     // a storage's class
    std::uint32_t stateBits = 0;              // a storage's flags
    std::uint64_t created = 0, modified = 0;  // a storage's FILETIMEs as stored
    std::vector<std::uint8_t> data;           // a stream's content
    std::vector<Entry> children;              // a storage's entries; read in the file's order

    // The entry directly under this one whose name equals `name` the way the format compares names
    // (ignoring case), or nullptr when there is none.
    Entry* Child(std::string_view name);
    const Entry* Child(std::string_view name) const;
    // Removes the entry directly under this one named `name` (ignoring case as Child does); false when there
    // is none.
    bool Remove(std::string_view name);
};

// The order the format keeps the entries of a storage in: the name with fewer UTF-16 units first, then unit
// by unit after upper-casing each character to its simple upper-case form. The upper-casing is
// platform::FoldCase, the same whatever the locale; the format's own table may differ from it only in rare
// letters of a few scripts. Negative, zero or positive, as a comparison; zero means the format takes the
// names for the same name.
int CompareNames(std::string_view a, std::string_view b);

// The root storage of `bytes` with everything under it (the root's name as stored, normally "Root Entry";
// its children in the order of the file's sibling trees). Versions 3 and 4 are read. Throws
// std::runtime_error "the compound file is damaged: …" saying what is damaged when the bytes are not a
// compound file or any part of the tree is unreadable; never allocates more than a bound set by the size of
// `bytes`.
Entry ReadTree(const std::vector<std::uint8_t>& bytes);

// The format versions the writer can produce: 512-byte sectors (what everyone reads) or 4096-byte sectors.
enum class Version { V3, V4 };

// A complete compound file holding `root` and everything under it; the same tree always gives the same bytes.
// The root becomes the root storage named "Root Entry" whatever its name, kind and data; the CLSID, state
// bits and modification time of storages and the root are kept, and the creation time of storages other than
// the root. Streams get no CLSID, state bits or times: the format has them zero. Streams under 4096 bytes
// are kept in the mini stream. Throws std::invalid_argument "cannot write the compound file: …" when a name
// is empty, longer than 31 UTF-16 units, not UTF-8 or holds '/', '\', ':', '!' or NUL, when two entries of a
// storage have names the format takes for the same (CompareNames), when a stream has entries under it, when
// storages are nested more than 128 deep, or when a stream is too large for the version.
std::vector<std::uint8_t> Write(const Entry& root, Version version = Version::V3);

// A compound file held in memory, read stream by stream from the root storage. Every failure is a
// std::runtime_error whose text says what is damaged.
class CompoundFile {
  public:
    // Parses the header, the allocation tables and the directory of `bytes`; throws when they are not those
    // of a compound file or are damaged (sectors outside the file, looping chains).
    explicit CompoundFile(std::vector<std::uint8_t> bytes);
    ~CompoundFile();
    CompoundFile(const CompoundFile&) = delete;
    CompoundFile& operator=(const CompoundFile&) = delete;

    // True when `bytes` start with the compound file signature.
    static bool HasSignature(const std::vector<std::uint8_t>& bytes);

    // The names of the streams directly in the root storage; throws when the root's entries are damaged.
    std::vector<std::string> rootStreamNames() const;
    // The content of the root stream named `name` (ignoring case as Entry::Child does), or nullopt when there
    // is none; throws when its sectors are damaged or lie beyond the end of a truncated file.
    std::optional<std::vector<std::uint8_t>> ReadRootStream(const std::string& name) const;

    // The whole file with the content of the root stream `name` replaced by `content`, which must have the
    // stream's size (the sectors are rewritten in place). Throws when there is no such stream or sizes
    // differ.
    std::vector<std::uint8_t> WithRootStream(const std::string& name,
                                             const std::vector<std::uint8_t>& content) const;

  private:
    std::optional<std::uint32_t> FindRootStream(const std::string& name) const;

    // The reader looks into m_bytes, which therefore never moves: the class is neither copied nor moved.
    std::vector<std::uint8_t> m_bytes;
    std::unique_ptr<const detail::SectorReader> m_reader;
};

}  // namespace orv::compound
