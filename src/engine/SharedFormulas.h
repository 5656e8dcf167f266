// Shared formulas: moving a formula by whole rows and columns, and writing out a shared formula group as the
// individual formulas it stands for.
#pragma once

#include <functional>
#include <pugixml.hpp>
#include <string>
#include <string_view>

namespace orv::engine {

// `formula` as it reads in a cell `rows` below and `columns` right of its own: relative parts of references
// move, $-anchored parts stay; a reference pushed off the sheet becomes #REF!. Never fails.
std::string ShiftFormula(std::string_view formula, int rows, int columns);

// Turns every shared-formula group of a worksheet whose master formula `unshare` accepts into one formula per
// cell. Returns the number of groups written out.
int UnshareFormulas(pugi::xml_node worksheet, const std::function<bool(std::string_view master)>& unshare);

}  // namespace orv::engine
