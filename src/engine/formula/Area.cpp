// The cell rectangle of a reference body such as $A$1:$B$2, A:C or 1:3.
#include <algorithm>

#include "engine/formula/Formula.h"
#include "engine/formula/Text.h"

namespace orv::formula {

namespace {

using namespace detail;

constexpr std::uint32_t kLastRow = 1048576;
constexpr std::uint32_t kLastColumn = 16384;

// One corner: column 0 for a whole row, row 0 for a whole column.
struct Corner {
    std::uint32_t row = 0;
    std::uint32_t column = 0;
};

std::optional<Corner> ParseCorner(std::string_view part) {
    const RefPart kind = ClassifyRefPart(part);
    if (kind == RefPart::None) return std::nullopt;
    Corner corner;
    for (const char ch : part) {
        const auto c = static_cast<unsigned char>(ch);
        if (IsAsciiLetter(c)) corner.column = corner.column * 26 + (AsciiUpper(c) - 'A' + 1);
        if (IsDigit(c)) corner.row = corner.row * 10 + (c - '0');
    }
    return corner;
}

}  // namespace

std::optional<Area> ParseArea(std::string_view body) {
    const std::size_t colon = body.find(':');
    const std::string_view left = body.substr(0, colon);
    const std::string_view right = colon == std::string_view::npos ? left : body.substr(colon + 1);
    const RefPart kind = ClassifyRefPart(left);
    // A lone column or row is a name, and both ends must be of one kind (A1:B2, A:C, 1:3).
    if (kind == RefPart::None || ClassifyRefPart(right) != kind) return std::nullopt;
    if (colon == std::string_view::npos && kind != RefPart::Cell) return std::nullopt;
    const std::optional<Corner> a = ParseCorner(left);
    const std::optional<Corner> b = ParseCorner(right);
    if (!a || !b) return std::nullopt;
    Area area;
    area.firstRow = kind == RefPart::Column ? 1 : std::min(a->row, b->row);
    area.lastRow = kind == RefPart::Column ? kLastRow : std::max(a->row, b->row);
    area.firstColumn = kind == RefPart::Row ? 1 : std::min(a->column, b->column);
    area.lastColumn = kind == RefPart::Row ? kLastColumn : std::max(a->column, b->column);
    return area;
}

}  // namespace orv::formula
