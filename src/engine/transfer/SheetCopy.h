// Copying a worksheet, with everything it carries, into another workbook (or into its own): parts, styles,
// shared strings, tables, names, pivot caches, and formulas that keep pointing where they pointed.
#pragma once

#include <string>
#include <vector>

#include "engine/workbook/SheetNames.h"

namespace orv::engine {

class WorkbookDocument;

// How a copy treats what its formulas read.
struct SheetCopyOptions {
    // Cell formulas give way to their cached values (shared, array and data-table formulas alike): the cells
    // read nothing, so no link to the source is made for them.
    bool valuesOnly = false;
    // References to sheets left behind lead to the target's sheet of the same name where it has one.
    bool referToTarget = false;
};

struct CopiedSheet {
    int index = 0;     // 0-based position in the target
    std::string name;  // the copy's name (a free one when the target had the name in any case)
    // Why the sheet's code (its module) did not come along, "" when it did or it has none: the copy is made
    // but is not faithful.
    std::string codeLeftBehind;
    // With values only: the cells whose formula had no cached value and which the copy leaves empty ("B7").
    std::vector<std::string> cellsWithoutValue;
};

// Copies sheet `sourceIndex` of `source` (a worksheet or a chart sheet) to directly after sheet `afterIndex`
// of `target` (the same document for a copy inside one workbook) under `newName` (empty: the source's name).
// References to other sheets of the source become external references to the source file, with cached values.
// The sheet's module comes along into a macro-enabled target under a code name of its own (see SheetCode.h);
// what the user must hear of it (a signature removed) waits in the target's TakeNotices.
// Throws EngineError, with nothing changed in the target (a save writes what it would have written without
// the attempt), when the sheet cannot be carried (another kind of sheet, slicers, protected structure,
// damaged parts, the same file opened twice) or the copy fails on the way.
CopiedSheet CopySheet(WorkbookDocument& source, int sourceIndex, WorkbookDocument& target, int afterIndex,
                      const std::string& newName = "");

// Copies the sheets `sourceIndices` of `source` (worksheets and chart sheets, taken in the source's order
// whatever the order given) side by side to directly after sheet `afterIndex` of `target`, in one change of
// the target. References among them name the copies (under the names they get on arrival); references to
// other sheets of the source become external references as for one sheet. `newNames`, when not empty, holds a
// name for each of `sourceIndices` ("" keeps the source's). Throws EngineError, with nothing changed in the
// target, when any of them cannot be carried or the copy fails on the way. Returns the copies in target
// order.
std::vector<CopiedSheet> CopySheets(WorkbookDocument& source, const std::vector<int>& sourceIndices,
                                    WorkbookDocument& target, int afterIndex,
                                    const std::vector<std::string>& newNames = {},
                                    const SheetCopyOptions& options = {});

}  // namespace orv::engine
