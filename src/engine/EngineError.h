// The one failure type of the workbook engine: its text is a full sentence a user can act on. It is the
// platform room's, so that a failure of a file call and one of the engine's own are caught as one.
#pragma once

#include "platform/Error.h"

namespace orv::engine {

using EngineError = platform::SystemError;

}  // namespace orv::engine
