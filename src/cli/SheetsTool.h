// The orvandel-sheets command-line tool: list, rename, reorder and delete sheets of a workbook through the
// automation boundary, so that it serves every format a backend serves.
#pragma once

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "automation/Application.h"

namespace orv::cli {

enum ExitCode { kDone = 0, kFailed = 1, kUsage = 2, kDoneUnfaithfully = 3 };

// Runs one command (`args` without the program name), writing results to `out` and messages to `err`. Returns
// kDone, kFailed (the failure's description on `err`), kUsage (wrong arguments, usage on `err`) or
// kDoneUnfaithfully (a copy was saved but differs from its source, as `err` says). Every change is recorded in
// the undo store at `undoFolder` (none when empty), which history, undo and redo use. Never throws.
int RunSheetsTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                  std::shared_ptr<const automation::BackendRegistry> registry, const std::string& undoFolder = "");

// The usage text printed by --help.
const char* SheetsToolUsage();

}  // namespace orv::cli
