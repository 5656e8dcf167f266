// Helpers shared by the fuzz targets: a scratch file per process for readers that take a path, and a zip
// package built in memory from named parts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace orv::fuzz {

// Writes `size` bytes to this process's scratch file `name` (in /dev/shm when it exists, so that a save's
// flush costs nothing) and returns its path. Aborts when the file cannot be written: that is the machine's
// fault, not a finding.
std::string WriteScratch(const std::string& name, const std::uint8_t* data, std::size_t size);

// A fresh path in the scratch folder for an output file.
std::string ScratchPath(const std::string& name);

// The bytes of a zip archive holding `parts` (name, content) in order, deflated.
std::string ZipOf(const std::vector<std::pair<std::string, std::string>>& parts);

// Splits `data` at NUL bytes into at most `count` pieces (the last takes the rest).
std::vector<std::string> SplitAtNul(const std::uint8_t* data, std::size_t size, std::size_t count);

}  // namespace orv::fuzz
