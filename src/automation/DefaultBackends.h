// The backends the program uses, in order of preference.
#pragma once

#include <memory>

#include "automation/Application.h"

namespace orv::automation {

// Our OOXML engine first; then, on Windows, the spreadsheet application through its automation interface
// where it is installed; then LibreOffice. The last two also take OOXML workbooks when a transfer mixes them
// with .xls or .ods. Each joins only when it is part of the build.
std::shared_ptr<const BackendRegistry> DefaultBackends();

}  // namespace orv::automation
