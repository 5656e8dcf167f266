// The rename procedure, written as its numbered steps.
#include "operations/RenameSheet.h"

#include "errors/Dialogs.h"
#include "errors/Guard.h"
#include "errors/Messages.h"
#include "operations/Common.h"
#include "operations/IsExistingFile.h"
#include "operations/SpreadsheetChecks.h"

namespace orv::operations {

void RenameSheet(Panel& panel, const Environment& env, std::string_view procedureName) {
    errors::GuardedProcedure p(env.dialogs, procedureName);
    if (!p.Test(
            100, [&] { return IsExistingFile(panel.path()); }, true)) {
        p.Step(134, [&] { ShowMessage(env, BadPathMessage(panel)); });
        return;
    }
    auto& list = panel.list();
    if (!p.Test(
            102, [&] { return list.count() > 0; }, true))
        return;
    bool stop = false;
    p.Step(104, [&] { stop = ConfirmSpreadsheetClosed(env.dialogs, env.processes, {panel.path()}); });
    if (stop) return;
    std::string newName;
    p.Step(106, [&] { env.pointer.setHourglass(); });
    auto [application, workbook] = OpenInstance(p, env, panel.path(), 108);  // 108, 110
    p.Step(112, [&] { Need(application).setDisplayAlerts(false); });
    p.Step(114, [&] {
        const std::string current = list.text(list.selectedPosition());
        newName = env.dialogs.inputBox(errors::msg::kRenameTo, errors::ApplicationTitle(), current);
    });
    if (p.Test(
            116, [&] { return newName != ""; }, true)) {
        const bool renamed =
            p.Step(118, [&] { SheetOfEntry(Need(workbook), list.selectedPosition())->setName(newName); });
        // The entry shows what the file holds: a refused name, or a save that failed, leaves the file's sheet
        // under its old name, so its entry stays as it was too.
        const bool saved = p.Step(128, [&] { Need(workbook).Save(); });
        if (renamed && saved) {
            std::int32_t remembered = 0;
            p.Step(120, [&] { remembered = list.selectedPosition(); });
            p.Step(122, [&] { list.remove(list.selectedPosition()); });
            p.Step(124, [&] { list.insert(remembered, newName); });
            p.Step(126, [&] { list.select(remembered); });
        }
        p.Step(130, [&] { Need(application).Quit(); });
    }
    // On an empty answer the instance is released unsaved below, which ends it without asking anything.
    p.Step(132, [&] { env.pointer.setDefault(); });
}

}  // namespace orv::operations
