// The plan of a sheet copy: everything the copy of one sheet or a group reads from both workbooks, and every
// check that can refuse it, done before the target changes.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <pugixml.hpp>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/transfer/CarriedLinks.h"
#include "engine/transfer/ExternalLinks.h"
#include "engine/transfer/SheetCopy.h"
#include "engine/transfer/StreamedSheet.h"
#include "engine/transfer/StructuredRefs.h"
#include "engine/workbook/Workbook.h"
#include "engine/workbook/WorkbookCode.h"

namespace orv::engine {

// One sheet of a group being copied.
struct CopyMember {
    int sourceIndex = 0;
    SheetInfo sheet;
    std::string name;  // the copy's
    std::vector<std::string> carried;
    std::unique_ptr<StreamedSheet> rows;  // a worksheet's own part; none for a chart sheet
    std::vector<pugi::xml_node> localNames;
    std::string module;          // the source module of the sheet's code, when it travels
    std::string codeName;        // the copy's code name, when its module travels
    std::string codeLeftBehind;  // why the sheet's code stays behind, when it does
    std::vector<std::string> cellsWithoutValue;  // with values only, the formulas' cells without a value
    // Set as the plan is applied.
    std::string newPart;
    int index = 0;  // the copy's, in the target
};

struct CopyPlan {
    WorkbookDocument* source = nullptr;
    WorkbookDocument* target = nullptr;
    Package* src = nullptr;
    Package* dst = nullptr;
    int afterIndex = 0;
    bool sameBook = false;
    SheetCopyOptions options;
    // With references to the target: each sheet left behind that the target has one of the same name, with
    // that sheet's name there.
    std::vector<std::pair<std::string, std::string>> toTarget;
    std::vector<CopyMember> group;  // in the source's order
    std::string srcWorkbook, dstWorkbook, srcStyles, dstStyles, srcStrings;
    pugi::xml_node srcBook;
    // The workbook-scoped names of the source that the copies' formulas use.
    std::vector<pugi::xml_node> usedGlobals;
    // Tables on sheets that stay behind, by folded name.
    std::map<std::string, TableArea> foreignTables;
    // The links to other workbooks the copies' formulas use.
    std::optional<CarriedLinks> links;
    std::vector<std::string> order;  // the source's sheet names
    // The cells of the sheets left behind that the copies' formulas use, by source sheet index.
    std::map<int, CachedCells> cells;
    std::vector<std::pair<std::string, std::string>> renames;  // source sheet name, copy's name
    // The macro projects of both workbooks (the source's only, inside one workbook), and what the copy must
    // tell of them once it is made.
    std::optional<WorkbookCode> srcCode, dstCode;
    std::vector<std::string> notices;

    // The member copying the source sheet `sheetName`, or nullptr.
    const CopyMember* Member(std::string_view sheetName) const;
    // True when references to the source sheet `sheetName` stay in the target: it is copied, or the target
    // has its namesake and the copy refers to the target.
    bool StaysInTarget(std::string_view sheetName) const;
};

// Reads and checks everything copying `sourceIndices` of `source` to after sheet `afterIndex` of `target`
// needs (see CopySheets), changing neither workbook's contents; throws EngineError saying why when the copy
// is refused.
CopyPlan PlanCopy(WorkbookDocument& source, const std::vector<int>& sourceIndices, WorkbookDocument& target,
                  int afterIndex, const std::vector<std::string>& newNames, const SheetCopyOptions& options = {});

}  // namespace orv::engine
