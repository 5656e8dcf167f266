// docProps/app.xml: the sheet titles and named ranges the application lists under "TitlesOfParts", kept in
// step with the workbook's sheets.
#pragma once

#include <string>
#include <vector>

namespace orv::engine {

class Package;

// Keeps the titles of docProps/app.xml in step with a change of the sheets. `sheetsAfter` are the sheet names
// in workbook order after the change. Missing or unusual app.xml parts are left alone. Never fails on
// content.
void AppRenameSheet(Package& package, const std::string& oldName, const std::string& newName);
void AppDeleteSheet(Package& package, const std::string& name);
void AppReorderSheets(Package& package, const std::vector<std::string>& sheetsAfter);
// Adds `name` to the titles of the group that holds `sameKind` (sheets of the new sheet's kind), then orders
// the group as `sheetsAfter`. Without such a group nothing changes.
void AppInsertSheet(Package& package, const std::string& name, const std::vector<std::string>& sameKind,
                    const std::vector<std::string>& sheetsAfter);

// The prefix a sheet-scoped name carries in TitlesOfParts ("Data!" or "'My Sheet'!").
std::string AppNamePrefix(const std::string& sheetName);

}  // namespace orv::engine
