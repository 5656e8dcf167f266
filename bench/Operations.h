// The benchmarked sheet operations, each one run of object-model calls on a private instance, as the window's
// procedures make them: open, change, save, quit.
#pragma once

#include <memory>
#include <string>

#include "automation/Application.h"

namespace orv::bench {

using Registry = std::shared_ptr<const automation::BackendRegistry>;

// Lists every sheet (name, kind, visibility) of `file`; returns the number of sheets. Throws AutomationError.
int ListSheets(const Registry& registry, const std::string& file);
// Renames sheet `sheet` of `file` to `newName` and saves.
void RenameSheet(const Registry& registry, const std::string& file, const std::string& sheet,
                 const std::string& newName);
// Moves sheet `sheet` one place up (before the sheet in front of it) and saves.
void MoveSheetUp(const Registry& registry, const std::string& file, const std::string& sheet);
// Deletes sheet `sheet` and saves.
void DeleteSheet(const Registry& registry, const std::string& file, const std::string& sheet);
// Copies sheet `sheet` of `source` after the last sheet of `target` and saves the target; with `move`, then
// deletes the sheet from the source and saves the source too.
void TransferSheet(const Registry& registry, const std::string& source, const std::string& sheet,
                   const std::string& target, bool move);

// Copies `sheet` into `target`, a workbook the copy creates, through the transfer layer.
void CopyIntoNew(const Registry& registry, const std::string& source, const std::string& sheet,
                 const std::string& target);
// Splits `source` into one new workbook per sheet in `folder`.
void SplitWorkbook(const Registry& registry, const std::string& source, const std::string& folder);

}  // namespace orv::bench
