// Byte and character helpers shared by the formula tokenizer and rewriters.
#include "engine/formula/Text.h"

#include <algorithm>

#include "platform/TextCase.h"

namespace orv::formula::detail {

bool IsAscii(std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

bool AsciiEqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (AsciiUpper(static_cast<unsigned char>(a[i])) != AsciiUpper(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

bool AsciiContainsNoCase(std::string_view haystack, std::string_view needle) {
    if (needle.empty()) return true;
    const auto it =
        std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end(), [](char x, char y) {
            return AsciiUpper(static_cast<unsigned char>(x)) == AsciiUpper(static_cast<unsigned char>(y));
        });
    return it != haystack.end();
}

bool NamesEqual(std::string_view a, std::string_view b) {
    // Folding allocates; most names are ASCII, where folding is plain ASCII case.
    if (IsAscii(a) && IsAscii(b)) return AsciiEqualNoCase(a, b);
    return a == b || platform::FoldCase(a) == platform::FoldCase(b);
}

bool MayMention(std::string_view formula, std::string_view name) {
    // Non-ASCII letters may fold onto ASCII ones (U+017F long s folds to S), so only an all-ASCII pair is
    // decided.
    if (!IsAscii(name) || !IsAscii(formula)) return true;
    // Apostrophes are doubled inside a quoted name, so look for the part before the first one.
    const std::string_view head = name.substr(0, name.find('\''));
    return AsciiContainsNoCase(formula, head);
}

RefPart ClassifyRefPart(std::string_view w) {
    std::size_t i = 0;
    const std::size_t n = w.size();
    if (i < n && w[i] == '$') ++i;
    std::size_t letters = 0;
    unsigned column = 0;
    while (i < n && IsAsciiLetter(static_cast<unsigned char>(w[i])) && letters < 4) {
        column = column * 26 + (AsciiUpper(static_cast<unsigned char>(w[i])) - 'A' + 1);
        ++letters;
        ++i;
    }
    if (letters > 3 || (letters > 0 && column > 16384)) return RefPart::None;
    if (letters == 0 && w.size() > 0 && w[0] == '$' && i < n && w[i] == '$') return RefPart::None;
    if (letters > 0 && i < n && w[i] == '$') ++i;
    std::size_t digits = 0;
    unsigned long row = 0;
    while (i < n && IsDigit(static_cast<unsigned char>(w[i])) && digits < 8) {
        row = row * 10 + static_cast<unsigned long>(w[i] - '0');
        ++digits;
        ++i;
    }
    if (i != n) return RefPart::None;
    if (digits > 0 && (row == 0 || row > 1048576)) return RefPart::None;
    if (letters > 0 && digits > 0) return RefPart::Cell;
    if (letters > 0 && w.back() != '$') return RefPart::Column;
    if (letters == 0 && digits > 0) return RefPart::Row;
    return RefPart::None;
}

}  // namespace orv::formula::detail
