// Whole transfers as one call each, for the command line and the window's Move or Copy dialog alike: a copy or
// move to any position of another workbook, of the same one, or of a new one; a split of a workbook into one
// file per sheet; a combination of many workbooks into one. Each runs in one private instance and follows
// SheetTransfer's rules: everything that can be refused is refused before a file is written, the target is
// saved before the source, and a new file is never left behind by a command that failed.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "automation/Application.h"
#include "transfers/SheetTransfer.h"

namespace orv::transfers {

using Registry = std::shared_ptr<const automation::BackendRegistry>;

// The sheet `spec` names in `workbook`: "#N" for the N-th of the full collection, else a name (ignoring case).
// Throws AutomationError when there is none.
std::shared_ptr<Sheet> FindSheet(Workbook& workbook, const std::string& spec);

// Where the copies go in the target.
struct Position {
    enum class Kind { AtEnd, AtStart, After, Before };
    Kind kind = Kind::AtEnd;
    std::string sheet;  // After and Before: a sheet of the target, as FindSheet takes it
};

struct TransferRequest {
    SheetTransfer::Kind kind = SheetTransfer::Kind::Copy;
    std::string source;
    std::vector<std::string> sheets;  // sheets of the source, as FindSheet takes them
    // The target: an existing workbook, the source itself (a copy inside it; a move inside it reorders), or a
    // file that does not exist yet, created as a new workbook in the format its extension names.
    std::string target;
    Position position;
    std::string newName;  // the copy's name, for one sheet; "" names copies as the application does
    automation::CopyOptions options;
};

struct TransferOutcome {
    bool createdTarget = false;
    std::vector<std::string> copies;  // the names the sheets have in the target, in order
    // A copy kept that is not faithful (its code stayed behind, formulas without a value): what the user is
    // told, saying where the copies are; "" when every copy is faithful.
    std::string problem;
    // What the change did that the user must hear of though it succeeded (a signature removed).
    std::vector<std::string> notices;
};

// Why `name` cannot be the name of a copy arriving in a workbook whose sheets are `names`, in the
// application's words; nullopt when it can.
std::optional<std::string> NewNameProblem(const std::string& name, const std::vector<std::string>& names);

// Copies or moves the request's sheets. Throws AutomationError saying what failed and what each file holds.
TransferOutcome Transfer(const Registry& registry, const TransferRequest& request);

// The file name (without folder) a sheet gets when its workbook is split: the sheet's name made safe on every
// system (see the README), with `extension` (".xlsx").
std::string FileNameForSheet(const std::string& sheetName, const std::string& extension);

struct SplitOutcome {
    std::vector<std::string> created;  // the new workbooks' paths, in sheet order
    std::string problem;               // as TransferOutcome's, for every copy together
    std::vector<std::string> notices;
};

// Writes one new workbook per sheet of `source` (worksheets and chart sheets) into `folder` ("" for the
// source's own), in the source's format, each showing its sheet. Refuses before writing anything when a file
// it would write exists; a failure part way removes the files written so far. Throws AutomationError.
SplitOutcome Split(const Registry& registry, const std::string& source, const std::string& folder);

// Copies every sheet of each of `sources`, in order, to the end of `target` (created when it does not exist);
// names made unique as a copy makes them, references among the sheets of one source leading to their copies.
// A failure part way leaves `target` as it was (and no new file). Throws AutomationError.
TransferOutcome Combine(const Registry& registry, const std::string& target,
                        const std::vector<std::string>& sources);

}  // namespace orv::transfers
