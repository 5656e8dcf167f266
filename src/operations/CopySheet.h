// Copy a sheet to the other workbook: "Copy To #2 >" and "< Copy To #1".
#pragma once

#include "operations/Panel.h"

namespace orv::operations {

// "Copy To #2 >" (from panel 1 to panel 2): PushButton1_Click.
void CopyToPanel2(Panel& panel1, Panel& panel2, const Environment& env);
// "< Copy To #1" (from panel 2 to panel 1): PushButton5_Click.
void CopyToPanel1(Panel& panel1, Panel& panel2, const Environment& env);

}  // namespace orv::operations
