// Text in the character encodings other than UTF-8 that parts may declare, converted by the system's converter.
#pragma once

#include <string>

namespace orv::platform {

enum class Conversion { Done, UnknownEncoding, NotValidText };

// `bytes` in the encoding named `encoding`, converted to UTF-8 into `out`.
Conversion ConvertToUtf8(const std::string& bytes, const std::string& encoding, std::string& out);

}  // namespace orv::platform
