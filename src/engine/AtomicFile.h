// Replacing a file whole or not at all.
#pragma once

#include <string>

namespace orv::engine {

// Writes `bytes` to a temporary file beside `path`, flushes it to disk, gives it the permissions of the file
// it replaces and renames it over `path` (over the file a symbolic link points to, keeping the link). Throws
// EngineError naming `displayName` when the file or its folder is read-only or any step fails; the original
// is then untouched and the temporary file removed.
void ReplaceFileAtomically(const std::string& path, const std::string& bytes, const std::string& displayName);

}  // namespace orv::engine
