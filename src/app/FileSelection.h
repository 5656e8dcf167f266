// The four procedures that fill or empty the path boxes: the two "..." buttons, "Load Sample/Example Data"
// and "Clear Files".
#pragma once

#include <filesystem>
#include <string_view>

#include "operations/Panel.h"

namespace orv::app {

// "..." of a panel: asks the running-application question, shows the open-file dialog and writes the chosen
// path into the panel's path box; panel 2 then selects its first sheet.
void ChooseWorkbook(operations::Panel& panel, const operations::Environment& env,
                    std::string_view procedureName);

// Writes the two sample workbooks' paths into the path boxes, panel 1 first, from SamplesFolder: the .xls
// samples when `legacyChanged` (something here changes .xls workbooks), else their .xlsx twins.
void LoadSampleWorkbooks(operations::Panel& panel1, operations::Panel& panel2,
                         const std::filesystem::path& programFolder, const std::filesystem::path& userDataFolder,
                         bool legacyChanged, const operations::Environment& env);

// The folder the samples are loaded from: Samples/ of the program folder when the user may write there (a
// build tree), else Samples/ of `userDataFolder`, into which the two samples are copied when they are not there
// yet (a copy the user already has, changed or not, is kept). Throws std::runtime_error saying what could not
// be copied.
std::filesystem::path SamplesFolder(const std::filesystem::path& programFolder,
                                    const std::filesystem::path& userDataFolder);

// Empties both path boxes and both sheet lists.
void ClearFiles(operations::Panel& panel1, operations::Panel& panel2, const operations::Environment& env);

}  // namespace orv::app
