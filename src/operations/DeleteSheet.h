// Delete the selected sheet of a panel: "Delete" of panel 1 (PushButton7_Click) and panel 2
// (PushButton8_Click).
#pragma once

#include <string_view>

#include "operations/Panel.h"

namespace orv::operations {

void DeleteSheet(Panel& panel, const Environment& env, std::string_view procedureName);

}  // namespace orv::operations
