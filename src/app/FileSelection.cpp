// Choosing workbooks, loading the samples and clearing the panels, as numbered guarded steps.
#include "app/FileSelection.h"

#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "automation/RunningSpreadsheet.h"
#include "errors/Dialogs.h"
#include "errors/Guard.h"
#include "errors/Messages.h"
#include "operations/SpreadsheetChecks.h"
#include "platform/Files.h"
#include "platform/Paths.h"

namespace orv::app {

namespace {

// The folder of the workbook the path box names, where there is one. Without it the dialog would start in
// the current folder, the program's own once it is installed, which holds no workbooks.
std::string StartFolder(const std::string& path) noexcept {
    try {
        if (path.empty()) return {};
        const std::string folder = platform::ParentFolderOf(path);
        std::error_code ec;
        return std::filesystem::is_directory(platform::PathFromUtf8(folder), ec) ? folder : std::string();
    } catch (const std::exception&) {
        return {};
    }
}

}  // namespace

void ChooseWorkbook(operations::Panel& panel, const operations::Environment& env,
                    std::string_view procedureName) {
    errors::GuardedProcedure p(env.dialogs, procedureName);
    bool stop = false;
    p.Step(100, [&] { stop = operations::ConfirmSpreadsheetClosed(env.dialogs, env.processes); });
    if (stop) return;
    errors::OpenFileRequest dialog;
    p.Step(102, [&] {
        dialog.fileName = "";
        dialog.folder = StartFolder(panel.path());
    });
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

std::filesystem::path SamplesFolder(const std::filesystem::path& programFolder,
                                    const std::filesystem::path& userDataFolder) {
    namespace fs = std::filesystem;
    const fs::path installed = programFolder / "Samples";
    // Every operation saves through a temporary file beside the workbook: the folder itself must be writable.
    if (userDataFolder.empty() || !fs::exists(installed) ||
        platform::FolderTakesNewFiles(platform::Utf8FromPath(installed)))
        return installed;
    const fs::path own = userDataFolder / "Samples";
    try {
        fs::create_directories(own);
        for (const char* name : {"sample1.xls", "sample2.xls", "sample1.xlsx", "sample2.xlsx"}) {
            if (fs::exists(own / name) || !fs::exists(installed / name)) continue;
            fs::copy_file(installed / name, own / name);
            fs::permissions(own / name, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add);
        }
    } catch (const fs::filesystem_error& e) {
        throw std::runtime_error("The sample workbooks could not be copied into \"" +
                                 platform::Utf8FromPath(own) + "\", where they can be changed (" +
                                 e.code().message() + "). Make that folder writable, then try again.");
    }
    return own;
}

void LoadSampleWorkbooks(operations::Panel& panel1, operations::Panel& panel2,
                         const std::filesystem::path& programFolder, const std::filesystem::path& userDataFolder,
                         bool legacyChanged, const operations::Environment& env) {
    errors::GuardedProcedure p(env.dialogs, "PushButton15_Click");
    // Where nothing on this computer changes .xls workbooks, their .xlsx twins (the same sheets) are loaded,
    // so that the first copy a new user tries works.
    const std::string extension = legacyChanged ? ".xls" : ".xlsx";
    p.Step(100, [&] {
        panel1.setPath(platform::Utf8FromPath(SamplesFolder(programFolder, userDataFolder) / ("sample1" + extension)));
    });
    p.Step(102, [&] {
        panel2.setPath(platform::Utf8FromPath(SamplesFolder(programFolder, userDataFolder) / ("sample2" + extension)));
    });
}

void ClearFiles(operations::Panel& panel1, operations::Panel& panel2, const operations::Environment& env) {
    errors::GuardedProcedure p(env.dialogs, "PushButton16_Click");
    p.Step(100, [&] { panel1.setPath(""); });
    p.Step(102, [&] { panel2.setPath(""); });
    p.Step(104, [&] { panel1.list().clear(); });
    p.Step(106, [&] { panel2.list().clear(); });
}

}  // namespace orv::app
