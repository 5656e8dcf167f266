// The backends the program uses, in order of preference, and where it looks for a spreadsheet application the
// user has open.
#pragma once

#include <memory>

#include "automation/Application.h"
#include "automation/RunningSpreadsheet.h"

namespace orv::automation {

// Our OOXML engine first; then, on Windows, the spreadsheet application through its automation interface
// where it is installed; then LibreOffice on Linux, or on Windows the listing of .xls and .ods files that
// refuses every change. The last ones also take OOXML workbooks when a transfer mixes them with .xls or .ods.
// Each joins only when it is part of the build.
std::shared_ptr<const BackendRegistry> DefaultBackends();

// Where this build looks for a spreadsheet application the user has open: the running instance of the
// application's automation class where the automation backend is built (Windows), the process table
// elsewhere.
std::unique_ptr<ProcessTable> SystemProcessTable();

}  // namespace orv::automation
