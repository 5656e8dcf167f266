// The entries of the tree and the format's order of their names.
#include <algorithm>

#include "compound/CompoundFile.h"
#include "compound/Names.h"
#include "platform/TextCase.h"

namespace orv::compound {

namespace detail {

std::u16string Utf16Units(std::string_view utf8, bool* valid) {
    std::u16string units;
    units.reserve(utf8.size());
    auto invalid = [&] {
        units += u'\uFFFD';
        if (valid) *valid = false;
    };
    for (std::size_t i = 0; i < utf8.size();) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        const std::size_t length = lead < 0x80             ? 1
                                   : (lead & 0xE0) == 0xC0 ? 2
                                   : (lead & 0xF0) == 0xE0 ? 3
                                   : (lead & 0xF8) == 0xF0 ? 4
                                                           : 0;
        if (length == 0 || i + length > utf8.size()) {
            invalid();
            ++i;
            continue;
        }
        char32_t cp = length == 1 ? lead : lead & (0x7F >> length);
        bool wellFormed = true;
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(utf8[i + k]);
            wellFormed = wellFormed && (next & 0xC0) == 0x80;
            cp = cp << 6 | (next & 0x3F);
        }
        // Overlong forms and surrogates are not UTF-8: they would give two spellings of one name.
        constexpr char32_t kSmallest[5] = {0, 0, 0x80, 0x800, 0x10000};
        if (!wellFormed || cp < kSmallest[length] || cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000)) {
            invalid();
            ++i;
            continue;
        }
        if (cp < 0x10000) {
            units += static_cast<char16_t>(cp);
        } else {
            cp -= 0x10000;
            units += static_cast<char16_t>(0xD800 + (cp >> 10));
            units += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        }
        i += length;
    }
    return units;
}

NameKey KeyOf(std::string_view utf8) {
    // The format upper-cases with the simple (one character to one character) mapping of Unicode; FoldCase is
    // that mapping, and keeps the unit count of every character in everyday use.
    return {Utf16Units(utf8).size(), Utf16Units(platform::FoldCase(utf8))};
}

std::string Quoted(std::string_view utf8) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text = "\"";
    for (const char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            text += "\\x";
            text += digits[byte >> 4];
            text += digits[byte & 0xF];
        } else {
            text += c;
        }
    }
    return text + "\"";
}

int Compare(const NameKey& a, const NameKey& b) {
    if (a.length != b.length) return a.length < b.length ? -1 : 1;
    return a.upper.compare(b.upper);
}

}  // namespace detail

int CompareNames(std::string_view a, std::string_view b) {
    const int order = detail::Compare(detail::KeyOf(a), detail::KeyOf(b));
    return order < 0 ? -1 : order > 0 ? 1 : 0;
}

Entry* Entry::Child(std::string_view wanted) {
    const detail::NameKey key = detail::KeyOf(wanted);
    for (Entry& child : children) {
        if (detail::Compare(detail::KeyOf(child.name), key) == 0) return &child;
    }
    return nullptr;
}

const Entry* Entry::Child(std::string_view wanted) const { return const_cast<Entry*>(this)->Child(wanted); }

bool Entry::Remove(std::string_view wanted) {
    const Entry* child = Child(wanted);
    if (!child) return false;
    children.erase(children.begin() + (child - children.data()));
    return true;
}

}  // namespace orv::compound
