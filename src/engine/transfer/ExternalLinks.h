// External workbook links: the part that lets formulas of a copied sheet keep pointing at the sheets of the
// workbook it came from ([1]Other!A1), with the cached values of every cell they use.
#pragma once

#include <deque>
#include <map>
#include <pugixml.hpp>
#include <string>
#include <vector>

#include "engine/formula/Formula.h"

namespace orv::engine {

class Package;

// One cached cell of an external link: where it is, its type and its value. A link can cache a whole large
// sheet, so a cell is kept small (a short value needs no allocation of its own).
struct CachedCell {
    int row = 0;
    int column = 0;
    char type = 'n';  // 'n' number, 's' text, 'b' boolean, 'e' error
    std::string value;

    // The t attribute the link writes, "" for a number.
    const char* TypeAttribute() const { return type == 's' ? "str" : type == 'b' ? "b" : type == 'e' ? "e" : ""; }
};
// Filled a cell at a time without moving what is already there (a vector would hold it twice as it grows).
using CachedCells = std::deque<CachedCell>;

// The cells of a worksheet part that lie in any of `areas`, with their values; strings are looked up in
// `sharedStrings` (may be ""). Throws EngineError when a part cannot be read.
CachedCells CellsInRanges(Package& package, const std::string& sheetPart, const std::string& sharedStrings,
                          std::vector<formula::Area> areas);

// Adds an external link to the workbook at `linkTarget` (a path as the application writes it) whose sheets
// are `sheetNames`, caching `cells` per sheet index; returns its 1-based number for [n] in formulas.
int AddExternalLink(Package& target, const std::string& workbookPart, const std::string& linkTarget,
                    const std::vector<std::string>& sheetNames,
                    const std::map<int, CachedCells>& cells);

// The index of sheet `name` among the sheet names of `book` (the externalBook element of a link), appended
// when the link does not know it: a reference reads a link's sheet by its name, so a new one goes after the
// others and moves none.
int LinkSheetIndex(pugi::xml_node book, const std::string& name);

// Adds to `book` (the externalBook element of a link) the cells of `list` that its cache of sheet `sheet` (an
// index into its sheet names) lacks; cells it has keep their values.
void MergeCachedCells(pugi::xml_node book, int sheet, const CachedCells& list);

// The link parts of a workbook by their number in its formulas ([1] first); "" for a reference whose part is
// missing.
std::vector<std::string> LinkParts(Package& package, const std::string& workbookPart);

// A name for a new link part that the package does not hold.
std::string FreeLinkPartName(const Package& target);

// Registers the link part `part`, already written, in the workbook (content type, relationship,
// externalReference); returns its 1-based number.
int AppendLinkToWorkbook(Package& target, const std::string& workbookPart, const std::string& part);

}  // namespace orv::engine
