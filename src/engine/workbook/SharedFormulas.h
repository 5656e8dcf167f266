// Shared formulas: moving a formula by whole rows and columns, as each cell of a shared group reads the
// group's master formula.
#pragma once

#include <string>
#include <string_view>

namespace orv::engine {

// `formula` as it reads in a cell `rows` below and `columns` right of its own: relative parts of references
// move, $-anchored parts stay; a reference pushed off the sheet becomes #REF!. Never fails.
std::string ShiftFormula(std::string_view formula, int rows, int columns);

}  // namespace orv::engine
