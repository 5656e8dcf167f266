// External workbook links: the part that lets formulas of a copied sheet keep pointing at the sheets of the
// workbook it came from ([1]Other!A1), with the cached values of every cell they use.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace orv::engine {

class Package;

// One cached cell of an external link: its reference ("B3"), type ("n", "str", "b", "e") and value.
struct CachedCell {
    int row = 0;
    int column = 0;
    std::string type;
    std::string value;
};

// The cells of a worksheet part that lie in any of `ranges` (A1-style, "$" allowed, whole columns and rows
// too), with their values; strings are looked up in `sharedStrings` (may be ""). Throws EngineError when a
// part cannot be read.
std::vector<CachedCell> CellsInRanges(Package& package, const std::string& sheetPart,
                                      const std::string& sharedStrings,
                                      const std::vector<std::string>& ranges);

// Adds an external link to the workbook at `linkTarget` (a path as the application writes it) whose sheets
// are `sheetNames`, caching `cells` per sheet index; returns its 1-based number for [n] in formulas.
int AddExternalLink(Package& target, const std::string& workbookPart, const std::string& linkTarget,
                    const std::vector<std::string>& sheetNames,
                    const std::map<int, std::vector<CachedCell>>& cells);

}  // namespace orv::engine
