// Choosing workbooks, loading the samples and clearing the panels, as numbered guarded steps.
#include "app/FileSelection.h"

#include "automation/RunningSpreadsheet.h"
#include "errors/Dialogs.h"
#include "errors/Guard.h"
#include "errors/Messages.h"

namespace orv::app {

void ChooseWorkbook(operations::Panel& panel, const operations::Environment& env,
                    std::string_view procedureName) {
    errors::GuardedProcedure p(env.dialogs, procedureName);
    bool stop = false;
    p.Step(100, [&] { stop = automation::ConfirmSpreadsheetClosed(env.dialogs, env.processes); });
    if (stop) return;
    errors::OpenFileRequest dialog;
    p.Step(102, [&] { dialog.fileName = ""; });
    p.Step(104, [&] { dialog.flags = errors::msg::kOpenFileFlags; });
    p.Step(106, [&] { dialog.title = errors::msg::kSelectExcelFile; });
    p.Step(108, [&] { dialog.filter = errors::msg::kExcelFilter; });
    p.Step(110, [&] { dialog.fileName = env.dialogs.openFile(dialog); });
    if (!p.Test(
            112, [&] { return !dialog.fileName.empty(); }, true))
        return;
    p.Step(114, [&] { panel.setPath(dialog.fileName); });
    if (panel.number() != 2) return;
    p.Step(116, [&] {
        if (panel.list().count() >= 1) panel.list().select(1);
    });
}

void LoadSampleWorkbooks(operations::Panel& panel1, operations::Panel& panel2,
                         const std::filesystem::path& programFolder, const operations::Environment& env) {
    errors::GuardedProcedure p(env.dialogs, "PushButton15_Click");
    p.Step(100, [&] { panel1.setPath((programFolder / "Samples" / "sample1.xls").string()); });
    p.Step(102, [&] { panel2.setPath((programFolder / "Samples" / "sample2.xls").string()); });
}

void ClearFiles(operations::Panel& panel1, operations::Panel& panel2, const operations::Environment& env) {
    errors::GuardedProcedure p(env.dialogs, "PushButton16_Click");
    p.Step(100, [&] { panel1.setPath(""); });
    p.Step(102, [&] { panel2.setPath(""); });
    p.Step(104, [&] { panel1.list().clear(); });
    p.Step(106, [&] { panel2.list().clear(); });
}

}  // namespace orv::app
