// The backends the program uses: our own OOXML engine first, then LibreOffice.
#pragma once

#include <memory>

#include "automation/Application.h"

namespace orv::app {

std::shared_ptr<const automation::BackendRegistry> DefaultBackends();

}  // namespace orv::app
