// The backend that serves .xlsx, .xlsm, .xltx and .xltm workbooks with Orvandel's own workbook engine; it
// needs nothing installed and is always available.
#pragma once

#include <memory>

#include "automation/Backend.h"

namespace orv::ooxml {

// A new instance of the engine backend. Never fails.
std::shared_ptr<orv::automation::Backend> MakeOoxmlBackend();

}  // namespace orv::ooxml
