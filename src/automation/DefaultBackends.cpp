// Registers the backends in order of preference, and picks the process table of this build.
#include "automation/DefaultBackends.h"

#if ORVANDEL_HAVE_OOXML_BACKEND
#include "automation/ooxml/OoxmlBackend.h"
#endif
#if ORVANDEL_HAVE_COM_BACKEND
#include "automation/com/ActiveObjectTable.h"
#include "automation/com/ComBackend.h"
#endif
#if ORVANDEL_HAVE_LIBREOFFICE_BACKEND
#include "automation/libreoffice/LibreOfficeBackend.h"
#else
#include "legacy/ListingBackend.h"
#endif

namespace orv::automation {

std::shared_ptr<const BackendRegistry> DefaultBackends() {
    auto registry = std::make_shared<BackendRegistry>();
#if ORVANDEL_HAVE_OOXML_BACKEND
    registry->Add(ooxml::MakeOoxmlBackend());
#endif
#if ORVANDEL_HAVE_COM_BACKEND
    // Where the spreadsheet application is installed, it changes what our engine does not.
    registry->Add(com::MakeComBackend());
#endif
#if ORVANDEL_HAVE_LIBREOFFICE_BACKEND
    registry->Add(libreoffice::MakeLibreOfficeBackend({.serveOoxml = true}));
#else
    // Where the application is not installed either, .xls and .ods workbooks are listed, and a change
    // refused.
    registry->Add(legacy::MakeListingBackend());
#endif
    return registry;
}

std::unique_ptr<ProcessTable> SystemProcessTable() {
#if ORVANDEL_HAVE_COM_BACKEND
    return std::make_unique<com::ActiveObjectTable>();
#else
    return std::make_unique<ProcFsProcessTable>();
#endif
}

}  // namespace orv::automation
