// What the Windows side of the system room shares: UTF-16 names of UTF-8 text, paths past 260 characters, and
// the system's own words for an error. Included by the room's Windows files only.
#pragma once

#include <windows.h>

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

}  // namespace orv::platform::windows
