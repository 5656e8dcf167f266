// The sheet lists' "Move or Copy…" and "Duplicate": whole transfers through the transfer layer, run as
// guarded numbered steps like the button procedures and recorded for undo like them.
#include <QAction>
#include <algorithm>
#include <optional>
#include <vector>

#include "app/Form1.h"
#include "app/MoveOrCopyDialog.h"
#include "automation/Application.h"
#include "errors/Dialogs.h"
#include "errors/Guard.h"
#include "operations/Common.h"
#include "operations/IsExistingFile.h"
#include "operations/SpreadsheetChecks.h"
#include "platform/Paths.h"
#include "transfers/Commands.h"

namespace orv::app {

namespace {

// Every sheet of the workbook at `path` and which of them a list shows, read the way the panels list them.
BookSheets ReadBookSheets(const std::shared_ptr<const automation::BackendRegistry>& backends,
                          const std::string& path) {
    auto application = automation::OpenWorkbookInstance(backends, path);
    auto& workbooks = application->Workbooks();
    auto workbook = workbooks(workbooks.count());
    BookSheets sheets;
    for (int i = 1; i <= workbook->sheetCount(); ++i) sheets.names.push_back(workbook->sheetAt(i)->name());
    const int listed = workbook->Worksheets().count();
    for (int i = 1; i <= listed; ++i) sheets.listed.push_back(workbook->SheetsIndexOfWorksheet(i));
    application->Quit();
    return sheets;
}

// The sheets the panel's entries at `positions` stand for, as "#N" of the workbook's full collection: a list
// counts worksheets only, and a name may itself read as a position ("#1"). Throws when the list no longer
// shows what the file holds, so that nothing is done to sheets the user did not see.
std::vector<std::string> SheetsOfEntries(const BookSheets& book, WorkbookPanel& panel,
                                         const std::vector<int>& positions) {
    std::vector<std::string> addresses;
    for (const int position : positions) {
        const bool matches =
            position >= 1 && position <= static_cast<int>(book.listed.size()) &&
            book.names[static_cast<std::size_t>(book.listed[static_cast<std::size_t>(position - 1)] - 1)] ==
                panel.list().text(position);
        if (!matches) {
            throw automation::AutomationError(
                "The list of Excel File #" + std::to_string(panel.number()) + " no longer shows what \"" +
                platform::FileNameOf(panel.path()) +
                "\" holds: another program changed the file. The list shows it again now; select the sheets "
                "and try again.");
        }
        addresses.push_back("#" + std::to_string(book.listed[static_cast<std::size_t>(position - 1)]));
    }
    return addresses;
}

// Steps 100 to 104 of both menu items, and 190: the panel's workbook, its selected entries (`positions`) and
// the sheets they stand for as "#N" of the full collection; false when the run ends there (reported, or the
// list read again when it no longer matches its file).
bool ChooseSheets(errors::GuardedProcedure& p, const operations::Environment& env,
                  const std::shared_ptr<const automation::BackendRegistry>& backends, WorkbookPanel& panel,
                  std::vector<int>& positions, std::vector<std::string>& sheets) {
    if (!p.Test(
            100, [&] { return operations::IsExistingFile(panel.path()); }, true)) {
        p.Step(190, [&] { operations::ShowMessage(env, operations::BadPathMessage(panel)); });
        return false;
    }
    if (!p.Step(102, [&] { positions = panel.list().selectedPositions(); }) || positions.empty()) return false;
    if (!p.Step(104, [&] { sheets = SheetsOfEntries(ReadBookSheets(backends, panel.path()), panel, positions); })) {
        panel.ListWorkbookSheets();
        return false;
    }
    return true;
}

// Lists the panel's workbook again and selects the entries named `names` (those it shows), else `fallback`
// (positions, kept within the list).
void ListAgain(WorkbookPanel& panel, const std::vector<std::string>& names, std::vector<int> fallback) {
    panel.ListWorkbookSheets();
    auto* list = panel.sheetList();
    const QStringList texts = list->texts();
    std::vector<int> found;
    for (const auto& name : names) {
        const int at = static_cast<int>(texts.indexOf(QString::fromStdString(name)));
        if (at >= 0) found.push_back(at + 1);
    }
    if (found.empty()) {
        for (int& position : fallback) position = std::min(position, list->count());
        std::erase_if(fallback, [](int position) { return position < 1; });
        found = fallback;
    }
    if (!found.empty()) list->selectPositions(found);
}

}  // namespace

void Form1::connectSheetMenus() {
    for (auto* panel : {m_panel1, m_panel2}) {
        auto* list = panel->sheetList();
        auto* moveOrCopy = new QAction(QStringLiteral("&Move or Copy…"), list);
        moveOrCopy->setObjectName("MoveOrCopy");
        auto* duplicate = new QAction(QStringLiteral("&Duplicate"), list);
        duplicate->setObjectName("Duplicate");
        connect(moveOrCopy, &QAction::triggered, this, [this, panel] { MoveOrCopySheets(*panel); });
        connect(duplicate, &QAction::triggered, this, [this, panel] { DuplicateSheets(*panel); });
        // Both act on the selection; without one they are offered greyed, as the application offers them.
        const auto follow = [list, moveOrCopy, duplicate] {
            const bool any = !list->selectedItems().isEmpty();
            moveOrCopy->setEnabled(any);
            duplicate->setEnabled(any);
        };
        follow();
        connect(list, &QTreeWidget::itemSelectionChanged, this, follow);
        auto* separator = new QAction(list);
        separator->setSeparator(true);
        list->addActions({moveOrCopy, duplicate, separator});
    }
}

void Form1::MoveOrCopySheets(WorkbookPanel& from) {
    WorkbookPanel& other = &from == m_panel1 ? *m_panel2 : *m_panel1;
    const operations::Environment env = environment();
    errors::GuardedProcedure p(m_services.dialogs, "MoveOrCopy_Click");
    std::vector<int> positions;
    std::vector<std::string> sheets;
    if (!ChooseSheets(p, env, m_services.backends, from, positions, sheets)) return;
    // 106: the other panel's workbook is offered when it names one, then the sheets' own; a new book always is.
    std::vector<TargetBook> books;
    p.Step(106, [&] {
        if (operations::IsExistingFile(other.path()) && !transfers::SameFile(other.path(), from.path()))
            books.push_back({other.path(), ReadBookSheets(m_services.backends, other.path())});
        books.push_back({from.path(), ReadBookSheets(m_services.backends, from.path())});
    });
    std::optional<MoveOrCopyChoice> choice;
    p.Step(108, [&] {
        MoveOrCopyDialog dialog(m_services.dialogs, books, static_cast<int>(positions.size()), from.path(),
                                this);
        if (dialog.exec() == QDialog::Accepted) choice = dialog.choice();
    });
    if (!choice) return;
    bool stop = false;
    p.Step(110, [&] {
        std::vector<std::string> workbooks{from.path()};
        if (!choice->newBook && !transfers::SameFile(choice->target, from.path())) workbooks.push_back(choice->target);
        stop = operations::ConfirmSpreadsheetClosed(m_services.dialogs, m_services.processes, workbooks);
    });
    if (stop) return;
    p.Step(112, [&] { setHourglass(); });
    const bool copy = choice->kind == transfers::SheetTransfer::Kind::Copy;
    transfers::TransferRequest request{choice->kind,     from.path(),     sheets,         choice->target,
                                       choice->position, choice->newName, choice->options};
    transfers::TransferOutcome outcome;
    bool done = false;
    Recorded(Describe(copy ? "copy" : "move", from, choice->target), [&] {
        done = p.Step(114, [&] { outcome = transfers::Transfer(m_services.backends, request); });
    });
    // 116: copies kept that are not faithful are reported as the procedures report them; the sheets stayed.
    if (done && !outcome.problem.empty())
        p.Step(116, [&] { throw automation::AutomationError(outcome.problem); });
    if (done) operations::ShowNotices(env, outcome.notices);
    // 118, 120: the lists show what the files hold now, whatever happened; the copies are selected where they
    // arrived in a panel, and a moved selection gives way to the sheet that took its place.
    const bool intoSelf = !choice->newBook && transfers::SameFile(choice->target, from.path());
    const bool intoOther = done && !choice->newBook && !intoSelf;
    const bool leftSource = done && !copy && !intoSelf && outcome.problem.empty();
    p.Step(118, [&] {
        if (done && intoSelf)
            ListAgain(from, outcome.copies, {});
        else
            ListAgain(from, {}, leftSource ? std::vector<int>{positions.front()} : positions);
    });
    p.Step(120, [&] {
        if (!operations::IsExistingFile(other.path())) return;
        std::vector<int> selected;
        if (other.list().count() >= 1) selected = other.list().selectedPositions();
        ListAgain(other, intoOther ? outcome.copies : std::vector<std::string>{}, selected);
    });
    p.Step(122, [&] { setDefault(); });
}

void Form1::DuplicateSheets(WorkbookPanel& panel) {
    const operations::Environment env = environment();
    errors::GuardedProcedure p(m_services.dialogs, "Duplicate_Click");
    std::vector<int> positions;
    std::vector<std::string> sheets;
    if (!ChooseSheets(p, env, m_services.backends, panel, positions, sheets)) return;
    bool stop = false;
    p.Step(106, [&] {
        stop = operations::ConfirmSpreadsheetClosed(m_services.dialogs, m_services.processes, {panel.path()});
    });
    if (stop) return;
    p.Step(108, [&] { setHourglass(); });
    transfers::TransferRequest request;
    request.kind = transfers::SheetTransfer::Kind::Copy;
    request.source = request.target = panel.path();
    request.sheets = sheets;
    request.position = {transfers::Position::Kind::After, sheets.back()};
    transfers::TransferOutcome outcome;
    bool done = false;
    Recorded(Describe("copy", panel, nullptr), [&] {
        done = p.Step(110, [&] { outcome = transfers::Transfer(m_services.backends, request); });
    });
    if (done && !outcome.problem.empty())
        p.Step(112, [&] { throw automation::AutomationError(outcome.problem); });
    if (done) operations::ShowNotices(env, outcome.notices);
    p.Step(114, [&] { ListAgain(panel, done ? outcome.copies : std::vector<std::string>{}, positions); });
    // The other panel may show the same file.
    p.Step(116, [&] {
        WorkbookPanel& other = &panel == m_panel1 ? *m_panel2 : *m_panel1;
        if (operations::IsExistingFile(other.path()) && other.path() == panel.path())
            other.ListWorkbookSheets();
    });
    p.Step(118, [&] { setDefault(); });
}

}  // namespace orv::app
