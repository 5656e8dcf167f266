// The LibreOffice backend of the automation boundary: .xls and .ods workbooks in a private headless
// LibreOffice, and, when asked, OOXML workbooks too, so that a transfer between an .xls and an .xlsx runs in
// one instance.
#pragma once

#include <memory>

#include "automation/Backend.h"

namespace orv::libreoffice {

struct LibreOfficeBackendOptions {
    // Also serve .xlsx, .xlsm, .xltx and .xltm (for transfers that mix them with .xls or .ods).
    bool serveOoxml = false;
};

// The backend serving .xls and .ods. Its availability says when LibreOffice or the SDK it was built with is
// missing.
std::shared_ptr<automation::Backend> MakeLibreOfficeBackend();
// The same with options.
std::shared_ptr<automation::Backend> MakeLibreOfficeBackend(LibreOfficeBackendOptions options);

}  // namespace orv::libreoffice
