// A copied worksheet's own part, which can be nearly the whole workbook: its rows are checked and rewritten
// as a stream of text, everything around them is a small tree.
#pragma once

#include <pugixml.hpp>
#include <string>
#include <vector>

#include "engine/package/Zip.h"
#include "engine/workbook/SheetStream.h"

namespace orv::engine {

class Package;

struct StreamedSheet {
    std::string text;  // the part, UTF-8
    WorksheetPieces pieces;
    bool split = false;
    pugi::xml_document skeleton;  // the part without its rows (the whole part when it has no sheetData)
    SheetDataScan scan;
    // Where the rewritten part waits for the save, compressed (beside the target workbook).
    std::string spoolFolder;

    // Reads and checks the part, adding its formulas to `formulas` (the cells' only with `cellFormulas`);
    // throws EngineError when it is damaged.
    void Load(Package& package, const std::string& part, std::vector<std::string>& formulas,
              bool cellFormulas = true);
    // The rewritten part, the rows streamed through `cells`; throws EngineError when it cannot be written.
    DeflatedPart Write(const CellRewrite& cells) const;
};

}  // namespace orv::engine
