// The group procedures, written as numbered steps like the single-sheet ones, so that a failure is reported
// with the step it happened in and the run goes on with what is safe: nothing is saved after a failed copy, and
// the source loses its sheets only once the target file holds their copies.
#include "operations/SheetGroups.h"

#include <algorithm>

#include "engine/workbook/SheetNames.h"
#include "errors/Dialogs.h"
#include "errors/Guard.h"
#include "errors/Messages.h"
#include "operations/Common.h"
#include "operations/IsExistingFile.h"
#include "operations/SpreadsheetChecks.h"

namespace orv::operations {

namespace {

// A name the copy cannot take: one the target list holds, or one an earlier copy of the group takes.
bool NameTaken(const SheetList& target, const std::vector<std::string>& chosen, const std::string& name) {
    auto same = [&](const std::string& other) { return engine::SheetNamesEqual(other, name); };
    for (int i = 1; i <= target.count(); ++i) {
        if (same(target.text(i))) return true;
    }
    return std::any_of(chosen.begin(), chosen.end(), same);
}

// Takes the entries at `positions` (list order) out of `list` and selects the one that took the first's place.
void RemoveEntries(errors::GuardedProcedure& p, SheetList& list, const std::vector<int>& positions, int step) {
    p.Step(step, [&] {
        for (auto it = positions.rbegin(); it != positions.rend(); ++it) list.remove(*it);
    });
    p.Step(step + 2, [&] {
        int position = positions.front();
        if (position > list.count()) position = list.count();
        if (position < 1) position = 1;
        list.select(position);
    });
}

void Transfer(Panel& source, Panel& target, const Environment& env, std::string_view procedureName, bool move,
              bool saysDone) {
    errors::GuardedProcedure p(env.dialogs, procedureName);
    if (!p.Test(
            100, [&] { return IsExistingFile(source.path()); }, true)) {
        p.Step(190, [&] { ShowMessage(env, TransferBadPathMessage(source)); });
        return;
    }
    if (!p.Test(
            102, [&] { return IsExistingFile(target.path()); }, true)) {
        p.Step(192, [&] { ShowMessage(env, TransferBadPathMessage(target)); });
        return;
    }
    bool stop = false;
    p.Step(104, [&] {
        stop = ConfirmSpreadsheetClosed(env.dialogs, env.processes, {source.path(), target.path()});
    });
    if (stop) return;
    std::vector<int> positions;
    if (!p.Step(106, [&] { positions = source.list().selectedPositions(); }) || positions.empty()) return;
    if (move && !p.Test(
                    108, [&] { return source.list().count() > static_cast<int>(positions.size()); }, true)) {
        p.Step(194, [&] { ShowMessage(env, errors::msg::kCannotMoveLast); });
        return;
    }
    p.Step(110, [&] { env.pointer.setHourglass(); });

    // 112: every name is settled before anything is opened; Cancel on any prompt ends the run here.
    std::vector<std::string> names;
    const bool named = p.Step(112, [&] {
        for (const int position : positions) {
            std::string name = source.list().text(position);
            while (!name.empty() && NameTaken(target.list(), names, name))
                name = env.dialogs.inputBox(errors::msg::kSheetExists, "", name);
            if (name.empty()) return;
            names.push_back(name);
        }
    });
    if (named && names.size() == positions.size()) {
        auto [application, sourceBook] = OpenInstance(p, env, source.path(), 114);  // 114, 116
        std::shared_ptr<automation::Workbook> targetBook;
        p.Step(118,
               [&] { targetBook = transfers::OpenTarget(Need(application), source.path(), target.path()); });
        using Kind = transfers::SheetTransfer::Kind;
        transfers::SheetTransfer transfer(move ? Kind::Move : Kind::Copy, sourceBook, targetBook);
        // 120: the copies, under the names chosen; a failure here saves nothing. Hidden sheets are listed
        // too: the list's count alone does not show that a visible one stays, which the transfer checks
        // first.
        const bool copied = p.Step(120, [&] {
            std::vector<std::shared_ptr<automation::Sheet>> sheets;
            for (const int position : positions) sheets.push_back(SheetOfEntry(transfer.source(), position));
            auto& to = transfer.target();
            auto anchor = to.Sheets()(to.SheetsIndexOfWorksheet(target.list().selectedPosition()));
            transfer.Copy(sheets, *anchor, names);
            // Copies made but not faithfully stand and are saved; the report says what they lack, and a move
            // keeps the sheets in the source.
            if (!transfer.problem().empty()) throw automation::AutomationError(transfer.problem());
        }) || !transfer.copies().empty();
        const bool saved = copied && p.Step(122, [&] { transfer.SaveTarget(); });
        if (saved) {
            p.Step(124, [&] {
                int position = target.list().selectedPosition();
                for (const auto& name : names) target.list().insert(++position, name);
            });
        }
        p.Step(126, [&] { Need(application).setDisplayAlerts(false); });
        if (move && saved) {
            const bool deleted = p.Step(128, [&] { transfer.DeleteFromSource(); });
            // The source file keeps the sheets unless it was saved without them: its entries stay as long.
            if (deleted && p.Step(130, [&] { transfer.SaveSource(); }))
                RemoveEntries(p, source.list(), positions, 132);  // 132, 134
        }
        ShowNotices(env, transfer.TakeNotices());
        p.Step(136, [&] { Need(application).Quit(); });
        if (saysDone && saved && !p.failed()) p.Step(138, [&] { ShowMessage(env, errors::msg::kDone); });
    }
    p.Step(140, [&] { env.pointer.setDefault(); });
}

}  // namespace

void CopySelectedSheets(Panel& source, Panel& target, const Environment& env, std::string_view procedureName,
                        bool saysDone) {
    Transfer(source, target, env, procedureName, false, saysDone);
}

void MoveSelectedSheets(Panel& source, Panel& target, const Environment& env, std::string_view procedureName) {
    Transfer(source, target, env, procedureName, true, false);
}

void DeleteSelectedSheets(Panel& panel, const Environment& env, std::string_view procedureName) {
    errors::GuardedProcedure p(env.dialogs, procedureName);
    if (!p.Test(
            100, [&] { return IsExistingFile(panel.path()); }, true)) {
        p.Step(190, [&] { ShowMessage(env, BadPathMessage(panel)); });
        return;
    }
    bool stop = false;
    p.Step(102, [&] { stop = ConfirmSpreadsheetClosed(env.dialogs, env.processes, {panel.path()}); });
    if (stop) return;
    auto& list = panel.list();
    std::vector<int> positions;
    if (!p.Step(104, [&] { positions = list.selectedPositions(); }) || positions.empty()) return;
    if (!p.Test(
            106, [&] { return list.count() > static_cast<int>(positions.size()); }, true)) {
        p.Step(192, [&] { ShowMessage(env, errors::msg::kCannotDeleteLast); });
        return;
    }
    bool confirmed = false;
    p.Step(108, [&] {
        confirmed = env.dialogs.messageBox("Delete the " + std::to_string(positions.size()) + " selected sheets?",
                                           errors::ApplicationTitle(), errors::Buttons::YesNo,
                                           errors::Icon::None) == errors::Answer::Yes;
    });
    if (!confirmed) return;
    p.Step(110, [&] { env.pointer.setHourglass(); });
    auto [application, workbook] = OpenInstance(p, env, panel.path(), 112);  // 112, 114
    p.Step(116, [&] { Need(application).setDisplayAlerts(false); });
    const bool deleted = p.Step(118, [&] {
        std::vector<std::shared_ptr<automation::Sheet>> sheets;
        for (const int position : positions) sheets.push_back(SheetOfEntry(Need(workbook), position));
        transfers::DeleteSheets(Need(workbook), sheets, panel.path());
    });
    // A deletion that failed part way is not saved: the file, and so the list, keep every sheet.
    if (deleted && p.Step(120, [&] { Need(workbook).Save(); })) {
        RemoveEntries(p, list, positions, 122);
        ShowNotices(env, Need(workbook).TakeNotices());
    }
    p.Step(126, [&] { Need(application).Quit(); });
    p.Step(128, [&] { env.pointer.setDefault(); });
}

}  // namespace orv::operations
