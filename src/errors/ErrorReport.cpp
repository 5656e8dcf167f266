// Builds and shows the procedure error report.
#include "errors/ErrorReport.h"

#include "errors/Messages.h"

namespace orv::errors {

std::string ProcedurePath(std::string_view procedureName) {
    std::string path = "in ";
    path += kProjectNameInReports;
    path += ".Form1.";
    path += procedureName;
    path += ' ';
    return path;
}

std::string BuildErrorReport(std::string_view description, std::string_view procedurePath, int step) {
    std::string text(description);
    text += "\r\n";
    text += procedurePath;
    text += "at line ";
    text += std::to_string(step);
    text += "\r\r";
    text += "Please email screenshot of this message to ";
    text += kSupportAddress;
    return text;
}

void ShowErrorReport(Dialogs& dialogs, std::string_view procedurePath, int step,
                     std::string_view description) {
    dialogs.messageBox(BuildErrorReport(description, procedurePath, step), msg::kErrorReportTitle,
                       Buttons::Ok, Icon::Warning);
}

}  // namespace orv::errors
