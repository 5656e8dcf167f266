// The backend that drives the spreadsheet application itself through its automation interface (Windows): a
// new, private, invisible instance per session, every member called late-bound by name. It serves the formats
// our engine does not change, and OOXML workbooks too when a transfer mixes them with those.
#pragma once

#include <chrono>
#include <memory>

#include "automation/Backend.h"

namespace orv::automation::com {

struct ComBackendOptions {
    // How long one call may go unanswered before the instance counts as hung and is ended. Opening or saving
    // a large workbook takes the application a while; a hang takes it forever.
    std::chrono::milliseconds callDeadline = std::chrono::minutes(5);
    // Also serve .xlsx, .xlsm, .xltx and .xltm (for transfers that mix them with .xls, .xlsb or .ods).
    bool serveOoxml = true;
};

// Available where the application's automation class is registered.
std::shared_ptr<Backend> MakeComBackend(ComBackendOptions options = {});

}  // namespace orv::automation::com
