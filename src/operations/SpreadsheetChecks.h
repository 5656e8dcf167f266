// The window's two questions about the spreadsheet application: whether one can be started at all (at start)
// and whether to go on while one the user has open may hold the workbooks (before an operation).
#pragma once

#include <string>
#include <vector>

#include "automation/Application.h"
#include "automation/RunningSpreadsheet.h"
#include "errors/Dialogs.h"

namespace orv::operations {

// Returns true when an instance can be created. Otherwise shows the start-up message naming the likely causes
// and returns false: the caller then ends the program before its window is shown.
bool CheckSpreadsheetAvailable(const automation::BackendRegistry& registry, errors::Dialogs& dialogs);

// True when the user chose not to go on: a spreadsheet application is running, or one of `workbooks` is open
// in one, and the user answered anything but Yes to the question. False when neither, or when the user
// answered Yes.
bool ConfirmSpreadsheetClosed(errors::Dialogs& dialogs, const automation::ProcessTable& processes,
                              const std::vector<std::string>& workbooks = {});

}  // namespace orv::operations
