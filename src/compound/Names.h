// Entry names as the format stores and orders them: UTF-16 code units, compared by count and then after
// upper-casing.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace orv::compound::detail {

// The UTF-16 code units of a UTF-8 name; a byte that is not part of a UTF-8 sequence becomes U+FFFD and
// clears `*valid` when given.
std::u16string Utf16Units(std::string_view utf8, bool* valid = nullptr);

// What the format orders names by: the number of UTF-16 units of the name, then its upper-cased units.
struct NameKey {
    std::size_t length = 0;
    std::u16string upper;
};
NameKey KeyOf(std::string_view utf8);

// A name in quotes for a message, control characters (real files begin names with \x01 or \x05) written as
// \xNN so that none cuts the message short.
std::string Quoted(std::string_view utf8);
int Compare(const NameKey& a, const NameKey& b);

}  // namespace orv::compound::detail
