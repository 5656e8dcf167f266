// The delete procedure, written as its numbered steps.
#include "operations/DeleteSheet.h"

#include "errors/Guard.h"
#include "errors/Messages.h"
#include "operations/Common.h"
#include "operations/IsExistingFile.h"
#include "operations/SpreadsheetChecks.h"

namespace orv::operations {

void DeleteSheet(Panel& panel, const Environment& env, std::string_view procedureName) {
    errors::GuardedProcedure p(env.dialogs, procedureName);
    if (!p.Test(
            100, [&] { return IsExistingFile(panel.path()); }, true)) {
        p.Step(132, [&] { ShowMessage(env, BadPathMessage(panel)); });
        return;
    }
    bool stop = false;
    p.Step(102, [&] { stop = ConfirmSpreadsheetClosed(env.dialogs, env.processes, {panel.path()}); });
    if (stop) return;
    if (!p.Test(
            104, [&] { return panel.list().count() > 1; }, true)) {
        p.Step(130, [&] { ShowMessage(env, errors::msg::kCannotDeleteLast); });
        return;
    }
    auto& list = panel.list();
    p.Step(106, [&] { env.pointer.setHourglass(); });
    auto [application, workbook] = OpenInstance(p, env, panel.path(), 108);  // 108, 110
    p.Step(112, [&] { Need(application).setDisplayAlerts(false); });
    const bool deleted =
        p.Step(114, [&] {
            auto& book = Need(workbook);
            transfers::DeleteSheets(book, {SheetOfEntry(book, list.selectedPosition())}, panel.path());
        });
    // The list shows what the file holds: a refused deletion, or a save that failed, leaves the sheet in the
    // file, so its entry stays too.
    const bool saved = p.Step(124, [&] { Need(workbook).Save(); });
    if (saved) ShowNotices(env, Need(workbook).TakeNotices());
    if (deleted && saved) {
        std::int32_t remembered = 0;
        p.Step(116, [&] { remembered = list.selectedPosition(); });
        p.Step(118, [&] { list.remove(list.selectedPosition()); });
        if (!p.Step(120, [&] {
                if (remembered > list.count() || remembered == 0) remembered = 1;
            })) {
            remembered = 1;
        }
        p.Step(122, [&] { list.select(remembered); });
    }
    p.Step(126, [&] { Need(application).Quit(); });
    p.Step(128, [&] { env.pointer.setDefault(); });
}

}  // namespace orv::operations
