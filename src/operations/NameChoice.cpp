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
                         const std::shared_ptr<automation::Workbook>& sourceBook,
                         const std::shared_ptr<automation::Workbook>& targetBook, const CopySteps& steps) {
    CopyResult result;
    int anchorIndex = 0;
    int sheetsBefore = -1;
    auto copyAfterAnchor = [&] {
        auto& book = Need(targetBook);
        anchorIndex = book.SheetsIndexOfWorksheet(target.list().selectedPosition());
        auto anchor = book.Sheets()(anchorIndex);
        sheetsBefore = book.Sheets().count();
        result.sheet = Need(sourceBook).Sheets()(name.sheetName)->Copy(automation::After{*anchor});
        result.name = result.sheet->name();
    };
    auto copy = [&](int step) {
        if (p.Step(step, copyAfterAnchor)) return;
        result = {};
        // A backend may report a problem with a copy it did make (formulas it had to keep as values): the copy
        // stands in the target, so its list must show it, but a move must not take the source sheet away.
        try {
            if (sheetsBefore >= 0 && targetBook->Sheets().count() == sheetsBefore + 1) {
                result.sheet = targetBook->Sheets()(anchorIndex + 1);
                result.name = result.sheet->name();
                result.reportedProblem = true;
            }
        } catch (const std::exception&) {
            result = {};
        }
    };
    if (name.renamed) {
        const bool renamed = p.Step(steps.rename, [&] {
            SheetOfEntry(Need(sourceBook), source.list().selectedPosition())->setName(name.sheetName);
        });
        // After a refused rename, the name may belong to another sheet of the source: copy nothing.
        if (renamed) {
            copy(steps.copyRenamed);
            p.Step(steps.renameBack,
                   [&] { Need(sourceBook).Sheets()(name.sheetName)->setName(name.entryText); });
        }
    } else {
        copy(steps.copyPlain);
    }
    return result;
}

}  // namespace orv::operations
