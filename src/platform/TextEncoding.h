// Text in the character encodings other than UTF-8 that parts declare and legacy workbooks record, converted
// by the system's converter.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace orv::platform {

enum class Conversion { Done, UnknownEncoding, NotValidText };

// `bytes` in the encoding named `encoding`, converted to UTF-8 into `out`.
Conversion ConvertToUtf8(const std::string& bytes, const std::string& encoding, std::string& out);

// UTF-8 of `bytes` in the Windows code page `codePage`, as a legacy workbook records it (1252, 1251, 932,
// 10000 for Mac Roman, 1200 for UTF-16LE...). Bytes the code page does not map become U+FFFD; an unknown code
// page is read as 1252.
std::string CodePageToUtf8(std::string_view bytes, unsigned codePage);

// `utf8` in the Windows code page `codePage` (the text of a macro project is kept so), or nullopt when the
// code page cannot hold every character of it.
std::optional<std::string> CodePageFromUtf8(std::string_view utf8, unsigned codePage);

}  // namespace orv::platform
