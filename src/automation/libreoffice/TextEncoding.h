// Converts the text encodings found in legacy workbooks (UTF-16LE, Windows and Mac code pages) to UTF-8.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace orv::libreoffice {

// UTF-8 of UTF-16LE code units; unpaired surrogates become U+FFFD.
std::string Utf16LeToUtf8(const std::uint8_t* data, std::size_t units);

// UTF-8 of `bytes` in the Windows code page `codePage` (as recorded in a CODEPAGE record: 1252, 1251, 932,
// 10000 for Mac Roman, ...). Bytes that the code page does not map become U+FFFD; an unknown code page is
// read as 1252.
std::string CodePageToUtf8(std::string_view bytes, unsigned codePage);

}  // namespace orv::libreoffice
