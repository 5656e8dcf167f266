// Pieces every sheet operation uses: the plain message box, the bad-path messages, the name test of the lists
// and the mapping of a list position to the sheet it stands for.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "automation/Application.h"
#include "automation/ObjectModel.h"
#include "errors/Guard.h"
#include "operations/Panel.h"
#include "transfers/SheetTransfer.h"

namespace orv::operations {

// A plain message box: the text, an OK button, no icon, the application title.
void ShowMessage(const Environment& env, const std::string& text);
// Shows, one message each, what a change that succeeded did that the user must hear of (a macro project's
// signature removed); a message that cannot be shown changes nothing of the run.
void ShowNotices(const Environment& env, const std::vector<std::string>& notices);

// The message for a path box that names no existing file, in copy and move: "Excel File #1 does not appear to
// be valid" for panel 1, "Please select Excel File #2" for panel 2.
std::string TransferBadPathMessage(const Panel& panel);
// The message in delete and rename: "Excel File #N does not appear to be valid".
std::string BadPathMessage(const Panel& panel);

// True when some entry of `list` has exactly the text `name` (same characters, same case). Every entry is
// compared; an empty list gives false.
bool SheetListContains(const SheetList& list, const std::string& name);

// The sheet that the list entry at `position` stands for: the lists show worksheets only, so the position
// counts worksheets, not every sheet of the workbook.
std::shared_ptr<automation::Sheet> SheetOfEntry(automation::Workbook& workbook, int position);

// The instance of one procedure run and the workbook it was started with.
struct Instance {
    std::shared_ptr<automation::Application> application;
    std::shared_ptr<automation::Workbook> workbook;
};

// Steps `first` and `first + 2` of every working cycle: start the instance with the workbook at `path`, then
// take that workbook as the instance's last one. A step that fails leaves its part empty.
Instance OpenInstance(errors::GuardedProcedure& p, const Environment& env, const std::string& path,
                      int first);

// The workbook or application a step needs; throws when it was never obtained (an earlier step failed).
using transfers::Need;
automation::Application& Need(const std::shared_ptr<automation::Application>& application);

}  // namespace orv::operations
