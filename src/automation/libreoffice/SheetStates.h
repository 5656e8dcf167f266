// Restores what LibreOffice's Excel exports (97-2003 and OOXML) change about sheet visibility in a file it
// saved: they write very hidden sheets as hidden, and show a hidden sheet that stands where the active sheet
// stood when the file was opened (the office's notion of the active sheet does not follow moves or deletions
// made without a visible window).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "legacy/SheetListing.h"

namespace orv::libreoffice {

using legacy::CannotOpen;
using legacy::ListedSheet;
using legacy::ListSheets;

// Gives the sheets of the .xls at `path` the visibility of `sheets` (the same sheets in the same order) and,
// when the active sheet is not visible, makes the first visible sheet active; the file is replaced through a
// temporary file. Returns nullopt when the file is right (patched or untouched); otherwise why it could not
// be patched, in which case the file is unchanged.
std::optional<std::string> RestoreXlsSheetStates(const std::string& path,
                                                 const std::vector<ListedSheet>& sheets);

// The same for an OOXML workbook (.xlsx, .xlsm, .xltx, .xltm): the sheets' state attributes and the active
// tab of the workbook part; the package is rewritten through a temporary file.
std::optional<std::string> RestoreOoxmlSheetStates(const std::string& path,
                                                   const std::vector<ListedSheet>& sheets);

}  // namespace orv::libreoffice
