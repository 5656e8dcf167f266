// File helpers of the hardening tests: a temporary folder, whole-file reads and writes, folder listings.
#pragma once

#include <filesystem>
#include <set>
#include <string>

namespace orv::hardening {

// A fresh folder removed with everything in it when the object goes.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return m_path; }
    std::string File(const std::string& name) const { return (m_path / name).string(); }

  private:
    std::filesystem::path m_path;
};

// The whole file; "" when it cannot be read.
std::string Slurp(const std::string& path);
// Writes the file whole; throws std::runtime_error when it cannot.
void Spit(const std::string& path, const std::string& bytes);
// The names of every entry of a folder (hidden ones too).
std::set<std::string> Listing(const std::filesystem::path& folder);

}  // namespace orv::hardening
