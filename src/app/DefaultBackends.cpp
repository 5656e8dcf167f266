// Registers the backends in order of preference.
#include "app/DefaultBackends.h"

#if ORVANDEL_HAVE_OOXML_BACKEND
#include "automation/ooxml/OoxmlBackend.h"
#endif
#if ORVANDEL_HAVE_LIBREOFFICE_BACKEND
#include "automation/libreoffice/LibreOfficeBackend.h"
#endif

namespace orv::app {

std::shared_ptr<const automation::BackendRegistry> DefaultBackends() {
    auto registry = std::make_shared<automation::BackendRegistry>();
#if ORVANDEL_HAVE_OOXML_BACKEND
    registry->Add(ooxml::MakeOoxmlBackend());
#endif
#if ORVANDEL_HAVE_LIBREOFFICE_BACKEND
    registry->Add(libreoffice::MakeLibreOfficeBackend());
#endif
    return registry;
}

}  // namespace orv::app
