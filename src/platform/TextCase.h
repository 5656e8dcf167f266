// Unicode text the same in any locale: UTF-8 written, converted from UTF-16 and counted, letters classified
// and folded to upper case in every script.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace orv::platform {

// Appends the UTF-8 form of one Unicode code point.
void AppendUtf8(std::string& out, char32_t codePoint);

// UTF-8 of UTF-16 code units; an unpaired surrogate becomes U+FFFD. The program's one conversion from UTF-16:
// the system's wide strings on Windows and the UTF-16LE text of legacy workbooks both come through here.
std::string Utf8FromUtf16(std::u16string_view units);
// The same of UTF-16LE bytes, `units` code units of them.
std::string Utf8FromUtf16Le(const unsigned char* bytes, std::size_t units);

// The number of characters (Unicode code points) of a UTF-8 text.
std::size_t CharacterCount(std::string_view utf8);
// The longest start of a UTF-8 text that holds at most `count` characters: a name shortened to make room for a
// suffix is never cut inside a character.
std::string FirstCharacters(std::string_view utf8, std::size_t count);

// The text with every letter in its simple upper-case form, in any script (so "ärger" and "ÄRGER" fold
// alike).
std::string FoldCase(std::string_view utf8);

// True for a letter (or a letter or digit) of any script.
bool IsLetter(char32_t codePoint);
bool IsLetterOrDigit(char32_t codePoint);

}  // namespace orv::platform
