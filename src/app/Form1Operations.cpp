// The twelve sheet-operation buttons, each handing its panel(s) to the operation's procedure.
#include "app/Form1.h"
#include "operations/CopySheet.h"
#include "operations/DeleteSheet.h"
#include "operations/MoveSheet.h"
#include "operations/RenameSheet.h"
#include "operations/ReorderSheet.h"

namespace orv::app {

using operations::Direction;

void Form1::PushButton1_Click() { operations::CopyToPanel2(*m_panel1, *m_panel2, environment()); }
void Form1::PushButton5_Click() { operations::CopyToPanel1(*m_panel1, *m_panel2, environment()); }
void Form1::PushButton2_Click() { operations::MoveToPanel2(*m_panel1, *m_panel2, environment()); }
void Form1::PushButton4_Click() { operations::MoveToPanel1(*m_panel1, *m_panel2, environment()); }
void Form1::PushButton7_Click() { operations::DeleteSheet(*m_panel1, environment(), "PushButton7_Click"); }
void Form1::PushButton8_Click() { operations::DeleteSheet(*m_panel2, environment(), "PushButton8_Click"); }
void Form1::PushButton9_Click() { operations::RenameSheet(*m_panel1, environment(), "PushButton9_Click"); }
void Form1::PushButton10_Click() { operations::RenameSheet(*m_panel2, environment(), "PushButton10_Click"); }
void Form1::PushButton11_Click() {
    operations::ReorderSheet(*m_panel1, Direction::Up, environment(), "PushButton11_Click");
}
void Form1::PushButton12_Click() {
    operations::ReorderSheet(*m_panel2, Direction::Up, environment(), "PushButton12_Click");
}
void Form1::PushButton13_Click() {
    operations::ReorderSheet(*m_panel2, Direction::Down, environment(), "PushButton13_Click");
}
void Form1::PushButton14_Click() {
    operations::ReorderSheet(*m_panel1, Direction::Down, environment(), "PushButton14_Click");
}

}  // namespace orv::app
