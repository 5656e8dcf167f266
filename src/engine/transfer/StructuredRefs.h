// Structured references (Tbl1[Amt]) turned into the plain A1 references they stand for, so that a sheet
// copied away from a table keeps reading the same cells (through an external reference) instead of binding to
// a table of the same name in its new workbook.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace orv::engine {

class Package;

// Where a table sits and what it holds.
struct TableArea {
    std::string sheet;  // the sheet that owns the table
    int firstRow = 0, firstColumn = 0, lastRow = 0, lastColumn = 0;
    int headerRows = 1, totalsRows = 0;
    std::vector<std::string> columns;
};

// Every table of the workbook's worksheets, by folded display name. Throws EngineError when a part is
// unreadable.
std::map<std::string, TableArea> WorkbookTables(Package& package, const std::string& workbookPart);

// `formula` with every structured reference to one of `tables` written as the A1 range it covers, qualified
// with the table's sheet ('My Sheet'!$C$2:$C$3). Throws EngineError, naming the formula, for a form that has
// no fixed range (#This Row, [@Col]).
std::string StructuredToA1(std::string_view formula, const std::map<std::string, TableArea>& tables);

}  // namespace orv::engine
