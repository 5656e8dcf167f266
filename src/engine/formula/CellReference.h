// The row and column of an A1-style cell reference as the parts of a workbook write it, read and written.
#pragma once

#include <string>
#include <string_view>

namespace orv::engine {

// "$B$3" -> row 3, column 2: letters make the column, digits the row, anything else is skipped; a missing part
// stays 0. Parts far beyond the sheet's edge (the text comes from files) stop growing instead of overflowing.
inline void ParseCellReference(std::string_view text, int& row, int& column) {
    constexpr int kBeyondRows = 100'000'000;
    constexpr int kBeyondColumns = 10'000'000;
    row = column = 0;
    for (const char c : text) {
        if (c >= 'A' && c <= 'Z') {
            if (column < kBeyondColumns) column = column * 26 + (c - 'A' + 1);
        } else if (c >= 'a' && c <= 'z') {
            if (column < kBeyondColumns) column = column * 26 + (c - 'a' + 1);
        } else if (c >= '0' && c <= '9') {
            if (row < kBeyondRows) row = row * 10 + (c - '0');
        }
    }
}

// The letters of column `column` (1-based): 1 -> "A", 27 -> "AA"; "" for 0.
inline std::string ColumnName(int column) {
    std::string name;
    for (; column > 0; column = (column - 1) / 26)
        name.insert(name.begin(), static_cast<char>('A' + (column - 1) % 26));
    return name;
}

}  // namespace orv::engine
