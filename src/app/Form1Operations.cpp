// The twelve sheet-operation buttons, each handing its panel(s) to the operation's procedure.
#include <QAction>
#include <QKeySequence>
#include <QShortcut>
#include <algorithm>
#include <filesystem>
#include <functional>

#include "app/Form1.h"
#include "automation/ObjectModel.h"
#include "errors/Dialogs.h"
#include "errors/Messages.h"
#include "operations/CopySheet.h"
#include "operations/DeleteSheet.h"
#include "operations/MoveSheet.h"
#include "operations/RenameSheet.h"
#include "operations/ReorderSheet.h"
#include "operations/SheetGroups.h"
#include "platform/Paths.h"
#include "undo/UndoStore.h"

namespace orv::app {

using operations::Direction;

std::string Form1::Describe(const std::string& operation, WorkbookPanel& from, WorkbookPanel* to) const {
    return Describe(operation, from, to ? to->path() : std::string());
}

std::string Form1::Describe(const std::string& operation, WorkbookPanel& from,
                            const std::string& targetPath) const {
    // The procedure itself reports a missing selection; the names are only for the history.
    std::string sheet = "a sheet";
    try {
        const auto selected = Grouped(from) ? from.list().selectedPositions()
                                            : std::vector<int>{from.list().selectedPosition()};
        for (std::size_t i = 0; i < selected.size(); ++i)
            sheet = (i == 0 ? "\"" : sheet + ", \"") + from.list().text(selected[i]) + "\"";
    } catch (const std::exception&) {
    }
    const std::string file = platform::FileNameOf(from.path());
    if (!targetPath.empty())
        return operation + " of " + sheet + " from " + file + " to " + platform::FileNameOf(targetPath);
    if (operation == "delete") return operation + " of " + sheet + " from " + file;
    return operation + " of " + sheet + " in " + file;
}

void Form1::Recorded(const std::string& what, const std::function<void()>& procedure) {
    if (m_services.undoFolder.empty()) {
        procedure();
        return;
    }
    undo::Journal journal(platform::Utf8FromPath(m_services.undoFolder), what);
    {
        const automation::ScopedSaveObserver observing(&journal);
        procedure();
    }
    journal.Commit();
}

bool Form1::Grouped(WorkbookPanel& panel) { return panel.list().selectedPositions().size() > 1; }

// Copy, Move and Delete act on every selected sheet when several are; with one they run the single-sheet
// procedures step for step.
void Form1::PushButton1_Click() {
    Recorded(Describe("copy", *m_panel1, m_panel2), [&] {
        if (Grouped(*m_panel1))
            operations::CopySelectedSheets(*m_panel1, *m_panel2, environment(), "PushButton1_Click", true);
        else
            operations::CopyToPanel2(*m_panel1, *m_panel2, environment());
    });
}
void Form1::PushButton5_Click() {
    Recorded(Describe("copy", *m_panel2, m_panel1), [&] {
        if (Grouped(*m_panel2))
            operations::CopySelectedSheets(*m_panel2, *m_panel1, environment(), "PushButton5_Click", false);
        else
            operations::CopyToPanel1(*m_panel1, *m_panel2, environment());
    });
}
void Form1::PushButton2_Click() {
    Recorded(Describe("move", *m_panel1, m_panel2), [&] {
        if (Grouped(*m_panel1))
            operations::MoveSelectedSheets(*m_panel1, *m_panel2, environment(), "PushButton2_Click");
        else
            operations::MoveToPanel2(*m_panel1, *m_panel2, environment());
    });
}
void Form1::PushButton4_Click() {
    Recorded(Describe("move", *m_panel2, m_panel1), [&] {
        if (Grouped(*m_panel2))
            operations::MoveSelectedSheets(*m_panel2, *m_panel1, environment(), "PushButton4_Click");
        else
            operations::MoveToPanel1(*m_panel1, *m_panel2, environment());
    });
}
void Form1::PushButton7_Click() {
    Recorded(Describe("delete", *m_panel1, nullptr), [&] {
        if (Grouped(*m_panel1))
            operations::DeleteSelectedSheets(*m_panel1, environment(), "PushButton7_Click");
        else
            operations::DeleteSheet(*m_panel1, environment(), "PushButton7_Click");
    });
}
void Form1::PushButton8_Click() {
    Recorded(Describe("delete", *m_panel2, nullptr), [&] {
        if (Grouped(*m_panel2))
            operations::DeleteSelectedSheets(*m_panel2, environment(), "PushButton8_Click");
        else
            operations::DeleteSheet(*m_panel2, environment(), "PushButton8_Click");
    });
}
void Form1::PushButton9_Click() {
    Recorded(Describe("rename", *m_panel1, nullptr),
             [&] { operations::RenameSheet(*m_panel1, environment(), "PushButton9_Click"); });
}
void Form1::PushButton10_Click() {
    Recorded(Describe("rename", *m_panel2, nullptr),
             [&] { operations::RenameSheet(*m_panel2, environment(), "PushButton10_Click"); });
}
void Form1::PushButton11_Click() {
    Recorded(Describe("reorder", *m_panel1, nullptr),
             [&] { operations::ReorderSheet(*m_panel1, Direction::Up, environment(), "PushButton11_Click"); });
}
void Form1::PushButton12_Click() {
    Recorded(Describe("reorder", *m_panel2, nullptr),
             [&] { operations::ReorderSheet(*m_panel2, Direction::Up, environment(), "PushButton12_Click"); });
}
void Form1::PushButton13_Click() {
    Recorded(Describe("reorder", *m_panel2, nullptr),
             [&] { operations::ReorderSheet(*m_panel2, Direction::Down, environment(), "PushButton13_Click"); });
}
void Form1::PushButton14_Click() {
    Recorded(Describe("reorder", *m_panel1, nullptr),
             [&] { operations::ReorderSheet(*m_panel1, Direction::Down, environment(), "PushButton14_Click"); });
}

void Form1::connectUndo() {
    // Spelled out: a platform's standard Redo may already hold Ctrl+Y, and two shortcuts on one key fire neither.
    auto* undoAll = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z), this);
    auto* redoAll = new QShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), this);
    auto* redoY = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Y), this);
    for (auto* shortcut : {undoAll, redoAll, redoY}) shortcut->setContext(Qt::WindowShortcut);
    connect(undoAll, &QShortcut::activated, this, &Form1::UndoLastOperation);
    connect(redoAll, &QShortcut::activated, this, &Form1::RedoLastOperation);
    connect(redoY, &QShortcut::activated, this, &Form1::RedoLastOperation);
    for (auto* panel : {m_panel1, m_panel2}) {
        auto* list = panel->sheetList();
        // No shortcuts of their own: the window's would then be ambiguous, and neither would fire.
        auto* undoItem = new QAction(QStringLiteral("Undo"), list);
        auto* redoItem = new QAction(QStringLiteral("Redo"), list);
        connect(undoItem, &QAction::triggered, this, &Form1::UndoLastOperation);
        connect(redoItem, &QAction::triggered, this, &Form1::RedoLastOperation);
        list->addAction(undoItem);
        list->addAction(redoItem);
        list->setContextMenuPolicy(Qt::ActionsContextMenu);
    }
}

void Form1::UndoLastOperation() { TakeBack(true); }
void Form1::RedoLastOperation() { TakeBack(false); }

void Form1::TakeBack(bool undoing) {
    if (m_services.undoFolder.empty()) return;
    const std::string title = errors::ApplicationTitle();
    undo::Store store(platform::Utf8FromPath(m_services.undoFolder));
    const auto history = store.History();
    // The operation an undo takes back is the newest one not taken back; a redo does the one taken back last.
    auto next = std::find_if(history.begin(), history.end(), [](const undo::Record& r) { return !r.undone; });
    const undo::Record* record = nullptr;
    if (undoing && next != history.end()) record = &*next;
    if (!undoing && next != history.begin()) record = &*(next - 1);
    if (!record) {
        m_services.dialogs.messageBox(undoing ? "There is no operation to undo." : "There is no operation to redo.",
                                      title, errors::Buttons::Ok, errors::Icon::None);
        return;
    }
    const std::string question = std::string(undoing ? "Undo: " : "Redo: ") + record->what + "?";
    if (m_services.dialogs.messageBox(question, title, errors::Buttons::YesNo, errors::Icon::None) !=
        errors::Answer::Yes)
        return;
    try {
        undoing ? store.Undo() : store.Redo();
    } catch (const undo::UndoError& e) {
        m_services.dialogs.messageBox(e.what(), title, errors::Buttons::Ok, errors::Icon::Warning);
    }
    // The files are what the lists must show, whatever happened.
    for (auto* panel : {m_panel1, m_panel2}) panel->ListWorkbookSheets();
}

}  // namespace orv::app
