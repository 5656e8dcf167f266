// The start-up check and the warning before an operation, each a message box over a question to the boundary.
#include "operations/SpreadsheetChecks.h"

#include "errors/Messages.h"

namespace orv::operations {

bool CheckSpreadsheetAvailable(const automation::BackendRegistry& registry, errors::Dialogs& dialogs) {
    bool available = false;
    try {
        available = registry.AnyAvailable();
    } catch (...) {
        available = false;
    }
    if (available) return true;
    dialogs.messageBox(errors::msg::kNoSpreadsheetInstance, errors::ApplicationTitle(), errors::Buttons::Ok,
                       errors::Icon::None);
    return false;
}

bool ConfirmSpreadsheetClosed(errors::Dialogs& dialogs, const automation::ProcessTable& processes,
                              const std::vector<std::string>& workbooks) {
    bool open = automation::IsSpreadsheetRunning(processes);
    for (const auto& workbook : workbooks) open = open || automation::IsWorkbookLocked(workbook);
    if (!open) return false;
    const auto answer = dialogs.messageBox(errors::msg::kSpreadsheetMayBeOpen, errors::ApplicationTitle(),
                                           errors::Buttons::YesNo, errors::Icon::None);
    return answer != errors::Answer::Yes;
}

}  // namespace orv::operations
