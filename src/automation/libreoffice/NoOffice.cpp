// Stands in for the office when this program was built without the LibreOffice SDK.
#include "automation/ObjectModel.h"
#include "automation/libreoffice/Office.h"

namespace orv::libreoffice {

namespace {
const char* const kMissing =
    "LibreOffice is missing: this program was built without the LibreOffice SDK (package libreoffice-dev), "
    "so it "
    "cannot open .xls or .ods workbooks. Rebuild it with the SDK installed.";
}

bool OfficeBridgeAvailable(std::string* why) {
    if (why) *why = kMissing;
    return false;
}

std::unique_ptr<Office> StartOffice() { throw automation::AutomationError(kMissing); }

}  // namespace orv::libreoffice
