// Rename the selected sheet of a panel: "Rename" of panel 1 (PushButton9_Click) and panel 2
// (PushButton10_Click).
#pragma once

#include <string_view>

#include "operations/Panel.h"

namespace orv::operations {

void RenameSheet(Panel& panel, const Environment& env, std::string_view procedureName);

}  // namespace orv::operations
