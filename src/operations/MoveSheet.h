// Move a sheet to the other workbook: "Move To #2 >" and "< Move To #1".
#pragma once

#include "operations/Panel.h"

namespace orv::operations {

// "Move To #2 >" (from panel 1 to panel 2): PushButton2_Click.
void MoveToPanel2(Panel& panel1, Panel& panel2, const Environment& env);
// "< Move To #1" (from panel 2 to panel 1): PushButton4_Click.
void MoveToPanel1(Panel& panel1, Panel& panel2, const Environment& env);

}  // namespace orv::operations
