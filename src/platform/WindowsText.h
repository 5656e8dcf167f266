// What the Windows side of the system room shares: UTF-16 names of UTF-8 text, paths past 260 characters, and
// the system's own words for an error. Included by the room's Windows files only.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <string_view>

namespace orv::platform::windows {

// UTF-16 of UTF-8 text (malformed bytes become U+FFFD).
std::wstring Wide(std::string_view utf8);

// UTF-8 of UTF-16 text.
std::string Narrow(std::wstring_view utf16);

// The form of a UTF-8 path the wide file functions take at any length: absolute, with backslashes, under the
// "\\?\" prefix ("\\?\UNC\" for a share).
std::wstring LongPath(std::string_view utf8Path);

// The system's description of an error code, without its final full stop and line break.
std::string ErrorText(DWORD error);

// True for the errors of a file another program has open without sharing what is asked.
bool HeldByAnotherProgram(DWORD error);

// The words for such a file, after "... could not be saved: " or "... cannot be read: ".
inline constexpr const char* kHeldAdvice =
    "it is open in another program (a spreadsheet application keeps the workbooks it has open). Close it "
    "there, then try again.";

// Calls `attempt` (0 for success, else the system's error) again while it fails because another program holds
// the file, or, with `deniedToo`, because access is denied: virus scanners, the search indexer and sync
// clients open a file for a moment just after it was written. About two seconds in all, then the last error.
DWORD RetryWhileHeld(const std::function<DWORD()>& attempt, bool deniedToo);

}  // namespace orv::platform::windows
