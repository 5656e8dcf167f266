// Finding every formula of a workbook that can name a sheet (cells, defined names, charts, validations,
// conditional formats and their x14 forms, sparklines, hyperlink locations, tables, drawings, form controls,
// pivot cache sources) and rewriting it.
#pragma once

#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace orv::engine {

class Package;

struct ReferenceEdit {
    // The new text of a formula, or the formula itself when unchanged.
    std::function<std::string(std::string_view formula)> formula;
    // The new text of a hyperlink location, when it must differ from `formula` (unset: `formula` is used).
    std::function<std::string(std::string_view location)> location;
    // The new value of a plain sheet-name attribute (pivot cache source), or nullopt to keep it.
    std::function<std::optional<std::string>(std::string_view sheetName)> sheetAttribute;
};

// The formula-bearing parts of the package (the workbook part included) that mention `sheetName`, read and
// parsed so that a later RewriteReferences cannot fail. Throws EngineError when one of them is damaged;
// nothing is changed then.
std::vector<std::string> PartsMentioning(Package& package, const std::string& workbookPart,
                                         const std::string& sheetName);

// `formula` with every reference to one of `tables` (folded names; structured references and bare table
// names, not external ones) replaced by #REF!, as after the tables' sheet was deleted. Never fails.
std::string TableReferencesToErrors(std::string_view formula, const std::set<std::string>& tables);

// True for the content types of parts in which formulas naming sheets may appear.
bool IsFormulaPartType(const std::string& contentType);

// Applies `edit` to every formula of `parts` (from PartsMentioning; parts removed since are skipped); returns
// the number of parts changed. Never fails.
int RewriteReferences(Package& package, const std::vector<std::string>& parts, const ReferenceEdit& edit);

}  // namespace orv::engine
