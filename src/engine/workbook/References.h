// Finding every formula of a workbook that can name a sheet (cells, defined names, charts, validations,
// conditional formats and their x14 forms, sparklines, hyperlink locations, tables, drawings, form controls,
// pivot cache sources) and rewriting it.
#pragma once

#include <functional>
#include <pugixml.hpp>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "engine/package/Zip.h"

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

// A part rewritten ahead of its commit, kept compressed.
struct RewrittenPart {
    std::string name;
    DeflatedPart bytes;
};

// Applies `edit` to every formula-bearing part other than the workbook part (and `skipPart`, a part about to
// go) that may name the sheet `sheetName` or one of `tables` (table names, folded). The parts are parsed,
// rewritten, serialised and compressed a few at a time, so that a workbook full of references never needs
// every part's tree in memory at once; the package itself is not changed (see CommitRewrites). Throws
// EngineError when one of them is damaged.
std::vector<RewrittenPart> StageReferenceRewrite(Package& package, const std::string& workbookPart,
                                                 const std::string& sheetName, const std::set<std::string>& tables,
                                                 const ReferenceEdit& edit, const std::string& skipPart = "");
// Stores the parts rewritten ahead that the package still holds. Never fails.
void CommitRewrites(Package& package, std::vector<RewrittenPart> parts);

// `formula` with every reference to one of `tables` (folded names; structured references and bare table
// names, not external ones) replaced by #REF!, as after the tables' sheet was deleted. Never fails.
std::string TableReferencesToErrors(std::string_view formula, const std::set<std::string>& tables);

// True for the content types of parts in which formulas naming sheets may appear.
bool IsFormulaPartType(const std::string& contentType);

// Applies `edit` to the formulas of one part, `bytes` its text; nullopt when none changed. A worksheet's rows
// are rewritten as a stream of text (the rest of the part as a small tree), so that a large sheet is never held
// as a tree; any other part is rewritten as a tree. Throws EngineError when the part is damaged.
std::optional<DeflatedPart> RewriteFormulaPart(const std::string& part, std::string bytes, bool worksheet,
                                               const ReferenceEdit& edit, const std::string& fileName);

// Applies `edit` to every formula under `root`; true when one changed.
bool RewriteFormulas(pugi::xml_node root, const ReferenceEdit& edit);

// Applies `edit` to every formula of `parts` (parts removed since are skipped) in their parsed trees; returns
// the number of parts changed. Throws EngineError only when one of them cannot be read.
int RewriteReferences(Package& package, const std::vector<std::string>& parts, const ReferenceEdit& edit);

}  // namespace orv::engine
