// A backend that lists .xls and .ods workbooks (and OOXML ones opened beside them) straight from their files,
// for a build where nothing can change those formats: every change is refused before anything is written.
#pragma once

#include <memory>

#include "automation/Backend.h"

namespace orv::legacy {

// The listing-only backend; its sessions never fail to start.
std::shared_ptr<automation::Backend> MakeListingBackend();

}  // namespace orv::legacy
