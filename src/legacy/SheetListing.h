// Lists the sheets of a workbook file (names, kinds, visibility, order) by reading the file itself, without
// starting LibreOffice: .xls from the compound file's BoundSheet records, .ods from content.xml, and the
// OOXML formats from the workbook part.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "automation/FileFormat.h"
#include "automation/ObjectModel.h"

namespace orv::legacy {

struct ListedSheet {
    std::string name;  // UTF-8
    automation::SheetKind kind = automation::SheetKind::Worksheet;
    automation::SheetVisibility visibility = automation::SheetVisibility::Visible;
    bool placeholder = false;  // an entry that stands for no sheet of its own (see automation::Sheet)

    bool operator==(const ListedSheet&) const = default;
};

// The sheets of the workbook at `path`, read as `format`, in workbook order. Returns nullopt when only the
// spreadsheet application can tell (an .xls encrypted with the default password, a format older than Excel 5,
// an OOXML package behind an .xls name). Throws AutomationError with a description a user can act on when the
// file cannot be a workbook: missing, empty, unreadable, not a workbook, damaged or truncated, or
// password-protected.
std::optional<std::vector<ListedSheet>> ListSheets(const std::string& path, automation::FileFormat format);

// The same from bytes already read; `fileName` only names the file in failure descriptions.
std::optional<std::vector<ListedSheet>> ListXlsSheets(const std::vector<std::uint8_t>& bytes,
                                                      const std::string& fileName);
std::optional<std::vector<ListedSheet>> ListOdsSheets(const std::string& path);
std::optional<std::vector<ListedSheet>> ListOoxmlSheets(const std::string& path);

// The description of a file that cannot be opened: "\"<file name>\" cannot be opened: <reason>. <advice>"
std::string CannotOpen(const std::string& path, const std::string& reason, const std::string& advice);

}  // namespace orv::legacy
