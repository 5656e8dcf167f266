// Finding every formula of a workbook that can name a sheet (cells, defined names, charts, validations,
// conditional formats and their x14 forms, sparklines, hyperlink locations, tables, drawings, form controls,
// pivot cache sources) and rewriting it.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace orv::engine {

class Package;

struct ReferenceEdit {
    // The sheet whose references are sought: parts that never mention it are not parsed or touched.
    std::string sheetName;
    // The new text of a formula, or the formula itself when unchanged.
    std::function<std::string(std::string_view formula)> formula;
    // The new value of a plain sheet-name attribute (pivot cache source), or nullopt to keep it.
    std::function<std::optional<std::string>(std::string_view sheetName)> sheetAttribute;
};

// Applies `edit` to every formula-bearing part of the package (the workbook part included); returns the number
// of parts changed. Throws EngineError when a part that must be read is damaged.
int RewriteReferences(Package& package, const std::string& workbookPart, const ReferenceEdit& edit);

}  // namespace orv::engine
