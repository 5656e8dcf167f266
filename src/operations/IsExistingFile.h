// IsExistingFile: whether a path names an existing file.
#pragma once

#include <string>

namespace orv::operations {

// True when the file system reports a last-modified time for `path` and it is not a folder (a folder is never
// a workbook). False for an empty text, a missing file or any failure; never throws.
bool IsExistingFile(const std::string& path) noexcept;

}  // namespace orv::operations
