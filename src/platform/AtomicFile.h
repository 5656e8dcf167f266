// Replacing a file whole or not at all.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace orv::platform {

// Writes the new content of a file to an open descriptor; returns 0, or the errno of the write that failed.
// May throw SystemError for failures of its own.
using FileWriter = std::function<int(int fd)>;

// Has `write` write the new content into a temporary file beside `path`, flushes it to disk, gives it the
// permissions of the file it replaces and renames it over `path` (over the file a symbolic link points to,
// keeping the link). On Windows the new file takes the old one's attributes, and a file another program holds
// open is refused before anything is written. Throws SystemError naming `displayName` when the file or its
// folder is read-only or any step fails; the original is then untouched and the temporary file removed.
// `letGo`, when given, is called once the new file is written and flushed, just before it takes the name,
// where the system cannot rename over a file that is open (Windows): the caller closes what it reads of the
// file it replaces. Where the system can (POSIX), it is never called.
void ReplaceFileAtomically(const std::string& path, const FileWriter& write, const std::string& displayName,
                           const std::function<void()>& letGo = {});

// ReplaceFileAtomically with the bytes of the file at `source` (read in pieces, never whole).
void ReplaceFileWithCopyOf(const std::string& path, const std::string& source,
                           const std::string& displayName);

// Writes all `size` bytes at the descriptor's offset, retrying interrupted and partial writes; returns 0 or
// the errno of the failure.
int WriteAll(int fd, const char* data, std::size_t size);

}  // namespace orv::platform
