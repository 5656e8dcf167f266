// The backends the program uses: our own OOXML engine first, then LibreOffice.
#pragma once

#include <memory>

#include "automation/Application.h"

namespace orv::automation {

// Our OOXML engine first; then LibreOffice, which also takes OOXML workbooks when a transfer mixes them with
// .xls or .ods. Each joins only when it is part of the build.
std::shared_ptr<const BackendRegistry> DefaultBackends();

}  // namespace orv::automation
