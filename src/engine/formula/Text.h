// Byte and character helpers shared by the formula tokenizer and rewriters (internal to orvandel_formula).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace orv::formula::detail {

inline bool IsAsciiLetter(unsigned char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
inline bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }
inline unsigned char AsciiUpper(unsigned char c) { return (c >= 'a' && c <= 'z') ? c - 32 : c; }

// Bytes that may start an unquoted name, sheet name or cell reference; UTF-8 bytes count as letters.
inline bool IsWordStart(unsigned char c) {
    return IsAsciiLetter(c) || c == '_' || c == '\\' || c == '$' || c >= 0x80;
}

// Bytes that may continue an unquoted name, sheet name or cell reference.
inline bool IsWordByte(unsigned char c) { return IsWordStart(c) || IsDigit(c) || c == '.' || c == '?'; }

bool IsAscii(std::string_view s);

// True when `a` and `b` are equal ignoring ASCII case.
bool AsciiEqualNoCase(std::string_view a, std::string_view b);

// True when `needle` occurs in `haystack` ignoring ASCII case.
bool AsciiContainsNoCase(std::string_view haystack, std::string_view needle);

// True when two names are equal for the spreadsheet application (case ignored in any script).
bool NamesEqual(std::string_view a, std::string_view b);

// False only when a sheet or object called `name` certainly does not occur in `formula` (a cheap pre-check).
bool MayMention(std::string_view formula, std::string_view name);

// What a word reads as when taken as one end of an A1 reference.
enum class RefPart { None, Cell, Column, Row };
RefPart ClassifyRefPart(std::string_view word);

}  // namespace orv::formula::detail
