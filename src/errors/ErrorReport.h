// The procedure error report: the warning box a guarded procedure shows for a failing step.
#pragma once

#include <string>
#include <string_view>

#include "errors/Dialogs.h"

namespace orv::errors {

// The procedure path a guarded procedure reports, e.g. "in Orvandel2021/08/31.Form1.PushButton13_Click ".
std::string ProcedurePath(std::string_view procedureName);

// The report's text: description, CR LF, procedure path, "at line ", step, CR CR, the support request.
std::string BuildErrorReport(std::string_view description, std::string_view procedurePath, int step);

// Shows the report in a modal box titled "Application Error" with a warning icon and an OK button, and
// returns when the user dismisses it.
void ShowErrorReport(Dialogs& dialogs, std::string_view procedurePath, int step,
                     std::string_view description);

}  // namespace orv::errors
