// The workbook part (xl/workbook.xml): its <sheet> entries, defined names, workbook views and protection.
#pragma once

#include <functional>
#include <pugixml.hpp>
#include <vector>

namespace orv::engine {

// The <sheet> elements in workbook order.
std::vector<pugi::xml_node> SheetElements(const pugi::xml_document& workbook);

// Gives every sheet-scoped defined name the localSheetId that `map` returns for its old one; a name for which
// `map` returns -1 is removed. Returns true when anything changed.
bool RemapLocalSheetIds(pugi::xml_document& workbook, const std::function<int(int)>& map);

// Renumbers activeTab and firstSheet of every workbook view with `map` (old index -> new index), then moves
// each onto a visible sheet (`visible` is indexed by the new positions). Returns true when anything changed.
bool RemapBookViews(pugi::xml_document& workbook, const std::function<int(int)>& map,
                    const std::vector<bool>& visible);

// True when the workbook's structure is protected (sheets may not be added, moved, renamed or deleted).
bool StructureLocked(const pugi::xml_document& workbook);

}  // namespace orv::engine
