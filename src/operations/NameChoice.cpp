// Choosing the copy's name and copying under it.
#include "operations/NameChoice.h"

#include "errors/Dialogs.h"
#include "errors/Messages.h"
#include "operations/Common.h"

namespace orv::operations {

NameChoice ChooseSheetName(errors::GuardedProcedure& p, Panel& source, Panel& target, const Environment& env,
                           int first) {
    NameChoice choice;
    p.Step(first, [&] {
        choice.entryText = source.list().text(source.list().selectedPosition());
        choice.sheetName = choice.entryText;
    });
    choice.renamed = false;  // first + 2: cannot fail
    while (p.Test(
        first + 4, [&] { return SheetListContains(target.list(), choice.sheetName); }, true)) {
        p.Step(first + 6, [&] {
            choice.sheetName = env.dialogs.inputBox(errors::msg::kSheetExists, "", choice.sheetName);
        });
        choice.renamed = true;  // first + 8: cannot fail
    }
    return choice;
}

CopyResult CopyUnderName(errors::GuardedProcedure& p, const NameChoice& name, Panel& source, Panel& target,
                         transfers::SheetTransfer& transfer, const CopySteps& steps) {
    CopyResult result;
    auto copy = [&](int step) {
        const bool copied = p.Step(step, [&] {
            auto& book = transfer.target();
            auto anchor = book.Sheets()(book.SheetsIndexOfWorksheet(target.list().selectedPosition()));
            transfer.CopyOne(transfer.source().Sheets()(name.sheetName), *anchor);
            result.sheet = transfer.copies().front();
            result.name = result.sheet->name();
        });
        if (copied || transfer.copies().empty()) return;
        // The copy stands though its step failed (a problem the backend reported, or a failure right after it
        // was made): the list must show it, but a move must not take the source sheet away.
        try {
            result.sheet = transfer.copies().front();
            result.name = result.sheet->name();
            result.reportedProblem = true;
        } catch (const std::exception&) {
            result = {};
        }
    };
    if (name.renamed) {
        const bool renamed = p.Step(steps.rename, [&] {
            SheetOfEntry(transfer.source(), source.list().selectedPosition())->setName(name.sheetName);
        });
        // After a refused rename, the name may belong to another sheet of the source: copy nothing.
        if (renamed) {
            copy(steps.copyRenamed);
            p.Step(steps.renameBack,
                   [&] { transfer.source().Sheets()(name.sheetName)->setName(name.entryText); });
        }
    } else {
        copy(steps.copyPlain);
    }
    return result;
}

}  // namespace orv::operations
