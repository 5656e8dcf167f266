// The reorder procedure, written as its numbered steps. It asks no running-application question, never shows
// the hourglass and shows no message of its own.
#include "operations/ReorderSheet.h"

#include "errors/Guard.h"
#include "operations/Common.h"
#include "operations/IsExistingFile.h"

namespace orv::operations {

void ReorderSheet(Panel& panel, Direction direction, const Environment& env, std::string_view procedureName) {
    errors::GuardedProcedure p(env.dialogs, procedureName);
    const bool up = direction == Direction::Up;
    auto& list = panel.list();
    if (!p.Test(
            100, [&] { return IsExistingFile(panel.path()); }, true))
        return;
    if (!p.Test(
            102, [&] { return list.count() > 0; }, true))
        return;
    std::int16_t position = 0;
    p.Step(104, [&] { position = static_cast<std::int16_t>(list.selectedPosition()); });

    auto [application, workbook] = OpenInstance(p, env, panel.path(), 106);  // 106, 108
    p.Step(110, [&] { Need(application).setDisplayAlerts(false); });
    const bool moved = p.Step(112, [&] {
        auto& book = Need(workbook);
        const int i = list.selectedPosition();
        if (up && i > 1) {
            SheetOfEntry(book, i)->Move(automation::Before{*SheetOfEntry(book, i - 1)});
        } else if (!up && i < list.count()) {
            SheetOfEntry(book, i)->Move(automation::After{*SheetOfEntry(book, i + 1)});
        }
    });
    const bool saved = p.Step(114, [&] { Need(workbook).Save(); });
    p.Step(116, [&] { Need(workbook).Close(); });
    p.Step(118, [&] { Need(application).Quit(); });
    // 120, setting the alerts back on, is left out: an instance that has quit no longer answers.
    p.Step(122, [&] { workbook.reset(); });
    p.Step(124, [&] { application.reset(); });

    // The list shows what the file holds: a refused move, or a save that failed, leaves the file's order as it
    // was, so the list keeps it too.
    const bool correct = moved && saved && p.Test(
                                      126, [&] { return up ? position > 1 : position < list.count(); }, true);
    if (correct) {
        const int to = up ? position - 1 : position + 1;
        p.Step(128,
               [&] { list.insert(up ? position - 1 : position + 2, list.text(list.selectedPosition())); });
        p.Step(130, [&] { list.remove(up ? position + 1 : position); });
        p.Step(132, [&] { list.select(to); });
        p.Step(134, [&] { list.scrollTo(to); });
        p.Step(136, [&] { list.focus(); });
    } else {
        p.Step(138, [&] { list.focus(); });
    }
}

}  // namespace orv::operations
