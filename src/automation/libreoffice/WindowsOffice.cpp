// Stands in for the office in the Windows build: LibreOffice's C++ bridge cannot be used from it, so .xls and .ods
// workbooks are listed (read straight from their files) but never changed. The refusal comes when a change first
// needs the office, before anything is written.
#include "automation/ObjectModel.h"
#include "automation/libreoffice/Office.h"
#include "automation/libreoffice/WarmOffice.h"

namespace orv::libreoffice {

namespace {
const char* const kNotInThisBuild =
    "This Windows build of Orvandel changes .xlsx, .xlsm, .xltx and .xltm workbooks only, with its own engine. "
    ".xls and .ods workbooks are changed through LibreOffice, which this build cannot drive, so they can be listed "
    "but not changed. Nothing was changed. Save the workbook as an .xlsx workbook in your spreadsheet "
    "application, then try again.";
}

// Available: the backend lists .xls and .ods workbooks without the office.
bool OfficeBridgeAvailable(std::string* why) {
    if (why) why->clear();
    return true;
}

std::unique_ptr<Office> StartOffice() { throw automation::AutomationError(kNotInThisBuild); }

void WarmUp(std::chrono::seconds) {}
std::unique_ptr<Office> TakeWarmOffice() { return nullptr; }
bool AwaitWarmOffice() { return false; }
void WarmAgain() {}
void EndWarmOffice() noexcept {}

}  // namespace orv::libreoffice
