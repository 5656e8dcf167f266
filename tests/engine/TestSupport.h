// Helpers of the engine tests: temporary folders, fixture paths, zip packages built from parts, and a
// generated workbook in which one sheet is referred to from every place a reference can live.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace orv::engine::test {

// A fresh folder removed with everything in it when the object goes.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::filesystem::path path() const { return m_path; }
    // The path of `name` (UTF-8) in the folder, as UTF-8.
    std::string File(const std::string& name) const;

  private:
    std::filesystem::path m_path;
};

// The path of a workbook copied into tests/fixtures/ooxml.
std::string Fixture(const std::string& name);
// Every fixture workbook of an OOXML format (.xlsx, .xlsm, .xltx) but those made damaged: each opens and all
// its parts can be read.
std::vector<std::string> OpenableFixtures();
// A test name made from a fixture's path: every character but letters and digits becomes '_'.
std::string FixtureTestName(std::string path);

// Copies `from` to a new file `name` in `dir` and returns its path.
std::string CopyTo(const std::string& from, const TempDir& dir, const std::string& name);

using Parts = std::vector<std::pair<std::string, std::string>>;  // name, bytes, in package order

// Writes a zip package of these parts (deflated) to `path`.
void WritePackage(const std::string& path, const Parts& parts);

// One entry of a zip file as stored.
struct StoredEntry {
    std::string bytes;       // inflated
    std::string compressed;  // the stored (compressed) bytes
    std::uint32_t crc = 0;
};
// Every entry of the zip at `path`, by name, with its position in `order`.
struct StoredPackage {
    std::vector<std::string> order;
    std::map<std::string, StoredEntry> entries;
};
StoredPackage ReadStored(const std::string& path);
// Fails the running test unless the package at `path` holds exactly the parts of `before` (ReadStored's
// entries), byte for byte.
void ExpectSameParts(const std::map<std::string, StoredEntry>& before, const std::string& path);

// The parts of a minimal workbook with sheets Data, Other and Last and references to Other from every place
// the engine rewrites: cells (plain, shared, array), defined names (global and sheet-scoped), a chart, data
// validations and conditional formats (also x14), sparklines, a hyperlink, a table formula, a pivot cache
// source, docProps/app.xml. Other owns a drawing with an image also used by Data's drawing, comments with
// their VML, a table and printer settings. There is a calculation chain.
Parts RichWorkbookParts();

// Reads one inflated part of a zip.
std::string PartText(const std::string& path, const std::string& part);

// Structural problems of the package at `path` (CheckPackage) and the namespace problems of its XML parts
// (NamespaceProblems); and its parts that no relationship reaches.
std::vector<std::string> Problems(const std::string& path);
std::vector<std::string> Orphans(const std::string& path);

}  // namespace orv::engine::test
