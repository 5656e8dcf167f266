// Move the selected sheet one place up or down in its own workbook: "Move Up" (PushButton11_Click,
// PushButton12_Click) and "Move Down" (PushButton14_Click, PushButton13_Click).
#pragma once

#include <string_view>

#include "operations/Panel.h"

namespace orv::operations {

enum class Direction { Up, Down };

void ReorderSheet(Panel& panel, Direction direction, const Environment& env, std::string_view procedureName);

}  // namespace orv::operations
