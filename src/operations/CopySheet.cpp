// The copy procedure, written as its numbered steps. The two handlers share it; they differ in the numbers of
// their closing steps, in the release steps and in the "Done." message of "Copy To #2 >".
#include "operations/CopySheet.h"

#include "errors/Guard.h"
#include "errors/Messages.h"
#include "operations/Common.h"
#include "operations/IsExistingFile.h"
#include "operations/NameChoice.h"
#include "operations/SpreadsheetChecks.h"

namespace orv::operations {

namespace {

struct CopyHandler {
    const char* procedure;
    bool releasesAndSaysDone;  // steps 150 to 162, "Copy To #2 >" only
    int pointerStep;           // 164 / 156
    int targetMessageStep;     // 166 / 158
    int sourceMessageStep;     // 168 / 160
};

void CopySheet(Panel& source, Panel& target, const Environment& env, const CopyHandler& h) {
    errors::GuardedProcedure p(env.dialogs, h.procedure);
    if (!p.Test(
            100, [&] { return IsExistingFile(source.path()); }, true)) {
        p.Step(h.sourceMessageStep, [&] { ShowMessage(env, TransferBadPathMessage(source)); });
        return;
    }
    if (!p.Test(
            102, [&] { return IsExistingFile(target.path()); }, true)) {
        p.Step(h.targetMessageStep, [&] { ShowMessage(env, TransferBadPathMessage(target)); });
        return;
    }
    bool stop = false;
    p.Step(104, [&] {
        stop = ConfirmSpreadsheetClosed(env.dialogs, env.processes, {source.path(), target.path()});
    });
    if (stop) return;
    p.Step(106, [&] { env.pointer.setHourglass(); });

    const NameChoice name = ChooseSheetName(p, source, target, env, 108);  // steps 108 to 116
    if (!p.Test(
            118, [&] { return name.sheetName.empty(); }, false)) {
        auto [application, sourceBook] = OpenInstance(p, env, source.path(), 120);  // 120, 122
        std::shared_ptr<automation::Workbook> targetBook;
        p.Step(124,
               [&] { targetBook = transfers::OpenTarget(Need(application), source.path(), target.path()); });

        // 126 to 134: the copy, under a new name when one was chosen.
        transfers::SheetTransfer transfer(transfers::SheetTransfer::Kind::Copy, sourceBook, targetBook);
        const CopyResult copy = CopyUnderName(p, name, source, target, transfer, {128, 130, 132, 134});
        // A failed copy adds no entry: the list keeps mirroring the workbook.
        int inserted = 0;
        if (copy.sheet) {
            p.Step(142, [&] {
                const int position = target.list().selectedPosition() + 1;
                target.list().insert(position, copy.name);
                inserted = position;
            });
        }
        // A target that could not be saved does not hold the copy on disk, so its entry goes again.
        if (!p.Step(144, [&] { transfer.SaveTarget(); }) && inserted > 0) target.list().remove(inserted);
        if (transfer.targetSaved()) ShowNotices(env, transfer.TakeNotices());
        p.Step(146, [&] { Need(application).setDisplayAlerts(false); });
        p.Step(148, [&] { Need(application).Quit(); });
        if (h.releasesAndSaysDone) {
            p.Step(150, [&] { sourceBook.reset(); });
            p.Step(152, [&] { targetBook.reset(); });
            p.Step(154, [&] { application.reset(); });
            if (!p.failed()) p.Step(162, [&] { ShowMessage(env, errors::msg::kDone); });
        }
    }
    p.Step(h.pointerStep, [&] { env.pointer.setDefault(); });
}

}  // namespace

void CopyToPanel2(Panel& panel1, Panel& panel2, const Environment& env) {
    CopySheet(panel1, panel2, env, CopyHandler{"PushButton1_Click", true, 164, 166, 168});
}

void CopyToPanel1(Panel& panel1, Panel& panel2, const Environment& env) {
    CopySheet(panel2, panel1, env, CopyHandler{"PushButton5_Click", false, 156, 158, 160});
}

}  // namespace orv::operations
