// The move procedure, written as its numbered steps: the copy of the copy procedure, then the deletion of the
// source sheet. A sheet is never lost: the source sheet goes only once its copy stands in the target, and the
// source workbook without it is saved only after the target workbook with the copy has been saved.
#include "operations/MoveSheet.h"

#include "errors/Guard.h"
#include "errors/Messages.h"
#include "operations/Common.h"
#include "operations/IsExistingFile.h"
#include "operations/NameChoice.h"
#include "operations/SpreadsheetChecks.h"

namespace orv::operations {

namespace {

struct Run {
    errors::GuardedProcedure& p;
    Panel& source;
    Panel& target;
    const Environment& env;
    std::shared_ptr<automation::Application> application;
    transfers::SheetTransfer transfer;
    CopyResult copy;
    bool targetSaveFailed = false;  // reported by the source-save step: not tried again
    bool sourceSaved = false;       // the source file no longer holds the sheet
};

// Steps 136 to 140 (after a rename) or 144 to 148: alerts off, delete the source sheet, save. Saving writes
// the target first; when the target cannot be saved the source keeps its sheet on disk.
void DeleteAndSave(Run& r, int alertsStep) {
    r.p.Step(alertsStep, [&] { Need(r.application).setDisplayAlerts(false); });
    // No copy in the target, or one that did not arrive whole or whose step failed: the source sheet stays.
    if (!r.copy.sheet || r.copy.reportedProblem || !r.transfer.SourceMayLoseSheets()) return;
    if (!r.p.Step(alertsStep + 2, [&] { r.transfer.DeleteFromSource(); })) return;
    r.sourceSaved = r.p.Step(alertsStep + 4, [&] { r.transfer.SaveSource(); });
    r.targetSaveFailed = !r.sourceSaved && !r.transfer.targetSaved();
}

// Saves the target unless it was saved before the source already, and shows the copy in the target list once
// the target file holds it.
void UpdateTarget(Run& r, int insertStep) {
    if (!r.transfer.targetSaved() && !r.targetSaveFailed)
        r.p.Step(insertStep + 2, [&] { r.transfer.SaveTarget(); });
    if (r.copy.sheet && r.transfer.targetSaved()) {
        r.p.Step(insertStep,
                 [&] { r.target.list().insert(r.target.list().selectedPosition() + 1, r.copy.name); });
    }
}

// Removes the moved entry from the source list and selects the one that took its place.
void UpdateSource(Run& r, int firstStep) {
    if (!r.sourceSaved) return;  // the source file still holds the sheet: its entry stays
    int position = 0;
    r.p.Step(firstStep, [&] { position = r.source.list().selectedPosition(); });
    r.p.Step(firstStep + 2, [&] { r.source.list().remove(r.source.list().selectedPosition()); });
    if (!r.p.Step(firstStep + 4, [&] {
            if (position > r.source.list().count() || position == 0) position = 1;
        })) {
        position = 1;
    }
    r.p.Step(firstStep + 6, [&] { r.source.list().select(position); });
}

void MoveSheet(Panel& panel1, Panel& panel2, Panel& source, Panel& target, const Environment& env,
               const char* procedure, bool toPanel2) {
    errors::GuardedProcedure p(env.dialogs, procedure);
    // Both handlers test path box #1 first, whichever is the source.
    const int panel1MessageStep = toPanel2 ? 186 : 184;
    const int panel2MessageStep = toPanel2 ? 184 : 182;
    if (!p.Test(
            100, [&] { return IsExistingFile(panel1.path()); }, true)) {
        p.Step(panel1MessageStep, [&] { ShowMessage(env, errors::msg::kFile1NotValid); });
        return;
    }
    if (!p.Test(
            102, [&] { return IsExistingFile(panel2.path()); }, true)) {
        p.Step(panel2MessageStep, [&] { ShowMessage(env, errors::msg::kSelectFile2); });
        return;
    }
    bool stop = false;
    p.Step(104, [&] {
        stop = ConfirmSpreadsheetClosed(env.dialogs, env.processes, {source.path(), target.path()});
    });
    if (stop) return;
    if (!p.Test(
            106, [&] { return source.list().count() > 1; }, true)) {
        p.Step(toPanel2 ? 182 : 180, [&] { ShowMessage(env, errors::msg::kCannotMoveLast); });
        return;
    }
    p.Step(108, [&] { env.pointer.setHourglass(); });

    const NameChoice name = ChooseSheetName(p, source, target, env, 110);  // steps 110 to 118
    if (!p.Test(
            120, [&] { return name.sheetName.empty(); }, false)) {
        auto [application, sourceBook] = OpenInstance(p, env, source.path(), 122);  // 122, 124
        std::shared_ptr<automation::Workbook> targetBook;
        p.Step(126,
               [&] { targetBook = transfers::OpenTarget(Need(application), source.path(), target.path()); });
        Run r{p,
              source,
              target,
              env,
              application,
              transfers::SheetTransfer(transfers::SheetTransfer::Kind::Move, sourceBook, targetBook),
              {}};
        // 128: the branch on the renamed flag, which cannot fail.
        r.copy = CopyUnderName(p, name, source, target, r.transfer, {130, 132, 134, 142});
        DeleteAndSave(r, name.renamed ? 136 : 144);

        if (toPanel2) {
            UpdateTarget(r, 156);  // 156, 158
            UpdateSource(r, 160);  // 160 to 166
            ShowNotices(env, r.transfer.TakeNotices());
            p.Step(168, [&] { Need(r.application).Workbooks().Close(); });
            p.Step(170, [&] { Need(r.application).setDisplayAlerts(false); });
            p.Step(172, [&] { Need(r.application).Quit(); });
        } else {
            UpdateSource(r, 150);  // 150 to 156
            UpdateTarget(r, 164);  // 164, 166
            ShowNotices(env, r.transfer.TakeNotices());
            p.Step(168, [&] { Need(r.application).setDisplayAlerts(false); });
            p.Step(170, [&] { Need(r.application).Quit(); });
        }
    }
    p.Step(toPanel2 ? 180 : 178, [&] { env.pointer.setDefault(); });
}

}  // namespace

void MoveToPanel2(Panel& panel1, Panel& panel2, const Environment& env) {
    MoveSheet(panel1, panel2, panel1, panel2, env, "PushButton2_Click", true);
}

void MoveToPanel1(Panel& panel1, Panel& panel2, const Environment& env) {
    MoveSheet(panel1, panel2, panel2, panel1, env, "PushButton4_Click", false);
}

}  // namespace orv::operations
