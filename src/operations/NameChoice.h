// The part that copy and move share: choosing the name under which the sheet arrives, and copying it under
// that name by renaming the source sheet for the moment of the copy.
#pragma once

#include <memory>
#include <string>

#include "automation/ObjectModel.h"
#include "errors/Guard.h"
#include "operations/Panel.h"
#include "transfers/SheetTransfer.h"

namespace orv::operations {

struct NameChoice {
    std::string entryText;  // the source entry's text: the source sheet's own name
    std::string sheetName;  // the name the copy is to have; empty when the user cancelled
    bool renamed = false;   // whether the user was asked for another name
};

// Steps first to first + 8: the sheet name from the source entry, then the prompt "Sheet already exists.
// Please rename:" for as long as the target list holds the name.
NameChoice ChooseSheetName(errors::GuardedProcedure& p, Panel& source, Panel& target, const Environment& env,
                           int first);

struct CopySteps {
    int rename;       // the source sheet takes the new name
    int copyRenamed;  // it is copied by that name
    int renameBack;   // it takes its own name again
    int copyPlain;    // without a new name: copied by its own name
};

struct CopyResult {
    std::shared_ptr<automation::Sheet> sheet;  // the copy; empty when the copy was not made
    std::string name;                          // the name the copy really has
    bool reportedProblem = false;              // the copy was made, but with a problem the report named
};

// Copies the source entry's sheet to directly after the target entry's sheet through `transfer`. A failed
// rename copies nothing; a failed copy leaves the result empty, so that no later step acts as if the copy
// existed; a copy made with a reported problem is returned with reportedProblem set.
CopyResult CopyUnderName(errors::GuardedProcedure& p, const NameChoice& name, Panel& source, Panel& target,
                         transfers::SheetTransfer& transfer, const CopySteps& steps);

}  // namespace orv::operations
