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
    // The part's text is its bytes as the file holds them; then the skeleton as read and the cells'
    // formulas tell whether a rewrite would leave the part as it is.
    bool asStored = false;
    std::string skeletonAsRead;
    std::vector<std::string> cellFormulas;

    // Reads and checks the part, adding its formulas to `formulas` (the cells' only with `cellFormulas`);
    // throws EngineError when it is damaged.
    void Load(Package& package, const std::string& part, std::vector<std::string>& formulas,
              bool cellFormulas = true);
    // The rewritten part, the rows streamed through `cells`; throws EngineError when it cannot be written.
    DeflatedPart Write(const CellRewrite& cells) const;
    // True when Write would change nothing the part means: no formula dropped or rewritten, every style and
    // shared string keeping its number, the skeleton as it was read. The part can then be stored as the
    // source holds it, neither walked nor compressed again. Calls `cells`' style and string maps for every
    // number the rows use, in the order Write would.
    bool LeavesAsStored(const CellRewrite& cells) const;
};

}  // namespace orv::engine
