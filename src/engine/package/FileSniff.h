// Telling what a file that should be an OOXML workbook really is, from its first bytes.
#pragma once

#include <string>

namespace orv::engine {

// Throws EngineError with a clear description when the file at `path` is not a zip package: empty, a
// password-protected workbook, a legacy .xls workbook, or something else. Returns when it starts like a zip.
void CheckLooksLikePackage(const std::string& path, const std::string& displayName);

}  // namespace orv::engine
