// Planning a sheet copy: the group checked whole, then every part, name, link and cached cell it needs read,
// in the order the refusals have always come in.
#include "engine/transfer/SheetCopyPlan.h"

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <set>

#include "engine/EngineError.h"
#include "engine/formula/Formula.h"
#include "engine/package/ContentTypes.h"
#include "engine/package/PartNames.h"
#include "engine/package/Xml.h"
#include "engine/transfer/SheetCode.h"
#include "engine/transfer/SheetCopy.h"
#include "engine/transfer/SheetCopySupport.h"
#include "engine/workbook/References.h"
#include "engine/workbook/SheetNames.h"
#include "platform/Paths.h"
#include "platform/TextCase.h"
#include "platform/Threads.h"

namespace orv::engine {

namespace {

namespace fs = std::filesystem;

// Refuses a sheet whose cells name shared strings its workbook does not hold: mapped, they would read another
// string of the target's table, or one past its end.
void CheckSharedStrings(Package& src, const std::string& stringsPart, const std::string& sheetName,
                        const SheetDataScan& scan) {
    if (scan.highestSharedString < 0) return;
    const long long count =
        stringsPart.empty() ? 0 : static_cast<long long>(Children(Root(src.Xml(stringsPart)), "si").size());
    if (scan.highestSharedString < count) return;
    throw EngineError(
        "Sheet \"" + sheetName + "\" cannot be copied: a cell in row " +
        std::to_string(scan.sharedStringRow) + " names a shared string that \"" + src.displayName() +
        "\" does not hold (its table has " + std::to_string(count) +
        " strings). Open and save the workbook in the spreadsheet application to repair it, then "
        "try again.");
}

// The sheets asked for, in the source's order and under the names they will get; refuses what is not there,
// a sheet named twice, the same file twice, sheets of other kinds and a protected target.
std::vector<CopyMember> GroupToCopy(WorkbookDocument& source, const std::vector<int>& sourceIndices,
                                    WorkbookDocument& target, int afterIndex,
                                    const std::vector<std::string>& newNames) {
    const int sheetCount = static_cast<int>(source.sheets().size());
    if (sourceIndices.empty() || (!newNames.empty() && newNames.size() != sourceIndices.size()) ||
        afterIndex < 0 || afterIndex >= static_cast<int>(target.sheets().size()) ||
        std::any_of(sourceIndices.begin(), sourceIndices.end(),
                    [&](int i) { return i < 0 || i >= sheetCount; })) {
        throw EngineError("The sheet to copy, or the sheet to copy it after, does not exist.");
    }
    std::vector<CopyMember> group(sourceIndices.size());
    for (std::size_t i = 0; i < group.size(); ++i) {
        group[i].sourceIndex = sourceIndices[i];
        group[i].sheet = source.sheets()[static_cast<std::size_t>(sourceIndices[i])];
        if (!newNames.empty()) group[i].name = newNames[i];
    }
    std::stable_sort(group.begin(), group.end(),
                     [](const CopyMember& a, const CopyMember& b) { return a.sourceIndex < b.sourceIndex; });
    for (std::size_t i = 1; i < group.size(); ++i) {
        if (group[i].sourceIndex == group[i - 1].sourceIndex)
            throw EngineError("Sheet \"" + group[i].sheet.name +
                              "\" was named twice among the sheets to copy.");
    }
    const std::string& firstName = group.front().sheet.name;
    std::error_code ec;
    if (&source != &target &&
        fs::equivalent(platform::PathFromUtf8(source.path()), platform::PathFromUtf8(target.path()), ec)) {
        throw EngineError("Sheet \"" + firstName +
                          "\" cannot be copied: the source and the target are the same file (\"" +
                          target.displayName() + "\").");
    }
    for (const auto& m : group) {
        if ((m.sheet.kind != SheetKind::Worksheet && m.sheet.kind != SheetKind::Chartsheet) ||
            m.sheet.part.empty()) {
            throw EngineError(
                "Sheet \"" + m.sheet.name +
                "\" cannot be copied: only worksheets and chart sheets can be copied, and it is a " +
                KindName(m.sheet.kind) + ".");
        }
    }
    target.CheckStructureUnlocked("copy");
    auto taken = target.SheetNames();
    for (auto& m : group) {
        m.name = FreeSheetName(m.name.empty() ? m.sheet.name : m.name, taken);
        if (auto problem = SheetNameProblem(m.name))
            throw EngineError("The copy cannot be named \"" + m.name + "\": " + *problem);
        taken.push_back(m.name);
    }
    return group;
}

// Reads every part the copies carry (refusing slicers and timelines) and lists those with formulas; the
// worksheets' own parts are left to StreamedSheet.
std::vector<std::string> ReadCarriedParts(CopyPlan& plan) {
    Package& src = *plan.src;
    ContentTypes srcTypes(src);
    std::set<std::string> streamed;
    for (const auto& m : plan.group) {
        if (m.sheet.kind == SheetKind::Worksheet) streamed.insert(PartKey(m.sheet.part));
    }
    std::vector<std::string> formulaParts;
    std::set<std::string> seenParts;
    for (auto& m : plan.group) {
        m.carried = ReachableFrom(src, m.sheet.part);
        for (const auto& part : m.carried) {
            const std::string type = srcTypes.TypeOf(part);
            for (const char* refused :
                 {"slicer+xml", "timeline+xml", "slicerCache+xml", "timelineCache+xml"}) {
                if (ContentTypeIs(type, refused)) {
                    throw EngineError(
                        "Sheet \"" + m.sheet.name + "\" cannot be copied: it holds slicers or timelines (" +
                        part +
                        "), which this program cannot carry yet. Remove them, or copy the sheet in "
                        "the spreadsheet application.");
                }
            }
            if (streamed.count(PartKey(part))) continue;
            if (type.ends_with("+xml") || Extension(part) == "xml")
                src.Xml(part);
            else
                src.Read(part);
            if (seenParts.insert(PartKey(part)).second && IsFormulaPartType(type))
                formulaParts.push_back(part);
        }
    }
    return formulaParts;
}

// Reads both workbook parts, their styles and the source's shared strings, and the worksheets' own parts
// (their formulas into `formulas`); refuses a target without styles to merge into and cells naming missing
// strings.
void ReadWorkbookParts(CopyPlan& plan, std::vector<std::string>& formulas) {
    Package& src = *plan.src;
    Package& dst = *plan.dst;
    plan.srcWorkbook = plan.source->workbookPart();
    plan.dstWorkbook = plan.target->workbookPart();
    plan.srcStyles = StylesPart(src, plan.srcWorkbook);
    plan.dstStyles = StylesPart(dst, plan.dstWorkbook);
    plan.srcStrings = SharedStringsPart(src, plan.srcWorkbook);
    if (!plan.sameBook && !plan.srcStyles.empty() && plan.dstStyles.empty()) {
        throw EngineError(
            "Sheet \"" + plan.group.front().sheet.name + "\" cannot be copied: \"" +
            plan.target->displayName() +
            "\" has no cell formats part to merge its formats into. Open and save it in the spreadsheet "
            "application first.");
    }
    if (!plan.srcStyles.empty()) src.Xml(plan.srcStyles);
    if (!plan.dstStyles.empty()) dst.Xml(plan.dstStyles);
    if (!plan.srcStrings.empty()) src.Xml(plan.srcStrings);
    plan.srcBook = Root(src.Xml(plan.srcWorkbook));
    dst.Xml(plan.dstWorkbook);
    for (auto& m : plan.group) {
        if (m.sheet.kind != SheetKind::Worksheet) continue;
        m.rows = std::make_unique<StreamedSheet>();
        m.rows->spoolFolder = platform::ParentFolderOf(dst.path());
        m.rows->Load(src, m.sheet.part, formulas, !plan.options.valuesOnly);
        if (!plan.sameBook) CheckSharedStrings(src, plan.srcStrings, m.sheet.name, m.rows->scan);
    }
}

// The workbook-scoped names of `globalNames` that `formulas` use, taken in the order of their first use, with
// their own formulas added to `formulas` (and searched in turn); names in `localKeys` are the copies' own.
std::vector<pugi::xml_node> UsedGlobalNames(std::vector<std::string>& formulas,
                                            const std::map<std::string, pugi::xml_node>& globalNames,
                                            const std::set<std::string>& localKeys) {
    // The names the sheet's own formulas use are found side by side (a large sheet has hundreds of
    // thousands), each share keeping only the formulas that use any; then taken in order.
    const std::size_t given = formulas.size();
    const std::size_t shares = given >= 20000 ? platform::WorkerThreads() : 1;
    std::vector<std::vector<std::pair<std::size_t, std::vector<std::string>>>> found(shares);
    platform::SideBySide(shares, [&](std::size_t k) {
        for (std::size_t i = given * k / shares; i < given * (k + 1) / shares; ++i) {
            const auto views = formula::UsedDefinedNames(formulas[i]);
            if (!views.empty())
                found[k].emplace_back(i, std::vector<std::string>(views.begin(), views.end()));
        }
    });
    std::vector<std::pair<std::size_t, std::vector<std::string>>> usedBy;
    for (auto& share : found) std::move(share.begin(), share.end(), std::back_inserter(usedBy));
    found.clear();
    auto next = usedBy.begin();
    std::set<std::string> seen;
    std::vector<pugi::xml_node> used;
    for (std::size_t i = 0; i < formulas.size(); ++i) {
        std::vector<std::string> names;
        if (i >= given) {
            // Copied out first: adding formulas below may move the text the views point into.
            const auto views = formula::UsedDefinedNames(formulas[i]);
            names.assign(views.begin(), views.end());
        } else if (next != usedBy.end() && next->first == i) {
            names = std::move(next++->second);
        }
        for (const auto& one : names) {
            const std::string key = platform::FoldCase(one);
            if (localKeys.count(key) || !seen.insert(key).second) continue;
            if (auto it = globalNames.find(key); it != globalNames.end()) {
                used.push_back(it->second);
                formulas.emplace_back(it->second.text().get());
            }
        }
    }
    return used;
}

// Names the copies carry: their sheet-scoped names, and the workbook-scoped names their formulas use; and the
// tables left behind, which the copies' formulas read as plain ranges.
void FindNamesAndTables(CopyPlan& plan, std::vector<std::string>& formulas,
                        const std::vector<std::string>& formulaParts) {
    std::map<std::string, pugi::xml_node> globalNames;
    std::set<std::string> localKeys;
    for (auto n : Children(Child(plan.srcBook, "definedNames"), "definedName")) {
        if (!n.attribute("localSheetId")) {
            globalNames[platform::FoldCase(n.attribute("name").value())] = n;
            continue;
        }
        for (auto& m : plan.group) {
            if (n.attribute("localSheetId").as_int() != m.sourceIndex) continue;
            m.localNames.push_back(n);
            localKeys.insert(platform::FoldCase(n.attribute("name").value()));
            formulas.emplace_back(n.text().get());
        }
    }
    // References to them become the plain ranges they cover, so that they read the source's cells and never
    // bind to a table of the same name in the target.
    if (!plan.sameBook) {
        for (auto& [key, area] : WorkbookTables(*plan.src, plan.srcWorkbook)) {
            if (!plan.Member(area.sheet)) plan.foreignTables.emplace(key, area);
        }
    }
    for (auto& f : FormulasOf(*plan.src, formulaParts)) formulas.push_back(std::move(f));
    if (!plan.sameBook) plan.usedGlobals = UsedGlobalNames(formulas, globalNames, localKeys);
    for (auto& f : formulas) f = StructuredToA1(f, plan.foreignTables);
}

// The links to other workbooks that the copies' formulas use, and the cells of the sheets left behind that
// they read, for the link to the source file to cache.
void ReadLinksAndCachedCells(CopyPlan& plan, const std::vector<std::string>& formulas) {
    plan.order = plan.source->SheetNames();
    if (plan.sameBook) return;
    std::set<int> books;
    for (const auto& f : formulas) formula::CollectExternalBooks(f, books);
    plan.links.emplace(*plan.src, plan.srcWorkbook, books, plan.group.front().sheet.name);
    const auto& order = plan.order;
    auto position = [&](const std::string& name) {
        return std::find_if(order.begin(), order.end(),
                            [&](const std::string& s) { return SheetNamesEqual(s, name); });
    };
    // As areas, not as text: a large sheet's formulas cite hundreds of thousands of them.
    std::map<int, std::vector<formula::Area>> areas;
    for (const auto& f : formulas) {
        for (const auto& ref : formula::CollectSheetReferences(f)) {
            auto first = position(ref.prefix.firstSheet);
            auto last = ref.prefix.Is3D() ? position(ref.prefix.lastSheet) : first;
            if (first == order.end() || last == order.end()) continue;
            if (first > last) std::swap(first, last);
            // References that stay inside the group name the copies and need no cache.
            if (std::all_of(first, last + 1, [&](const std::string& s) { return plan.StaysInTarget(s); }))
                continue;
            const auto area =
                ref.kind == formula::TokenKind::Reference ? formula::ParseArea(ref.body) : std::nullopt;
            for (auto it = first; it <= last; ++it) {
                auto& list = areas[static_cast<int>(it - order.begin())];
                if (area) list.push_back(*area);
            }
        }
    }
    for (auto& [index, list] : areas) {
        const auto& info = plan.source->sheets()[static_cast<std::size_t>(index)];
        plan.cells[index] = info.part.empty() || info.kind != SheetKind::Worksheet
                                ? CachedCells{}
                                : CellsInRanges(*plan.src, info.part, plan.srcStrings, std::move(list));
    }
}

}  // namespace

bool CopyPlan::StaysInTarget(std::string_view sheetName) const {
    if (Member(sheetName)) return true;
    return std::any_of(toTarget.begin(), toTarget.end(),
                       [&](const auto& pair) { return SheetNamesEqual(pair.first, sheetName); });
}

const CopyMember* CopyPlan::Member(std::string_view sheetName) const {
    for (const auto& m : group) {
        if (SheetNamesEqual(m.sheet.name, sheetName)) return &m;
    }
    return nullptr;
}

CopyPlan PlanCopy(WorkbookDocument& source, const std::vector<int>& sourceIndices, WorkbookDocument& target,
                  int afterIndex, const std::vector<std::string>& newNames, const SheetCopyOptions& options) {
    CopyPlan plan;
    plan.options = options;
    plan.source = &source;
    plan.target = &target;
    plan.src = &source.package();
    plan.dst = &target.package();
    plan.afterIndex = afterIndex;
    plan.sameBook = &source == &target;
    plan.group = GroupToCopy(source, sourceIndices, target, afterIndex, newNames);
    for (const auto& m : plan.group) plan.renames.emplace_back(m.sheet.name, m.name);
    if (options.referToTarget && !plan.sameBook) {
        const auto targetNames = target.SheetNames();
        for (const auto& name : source.SheetNames()) {
            if (plan.Member(name)) continue;
            const auto namesake = std::find_if(targetNames.begin(), targetNames.end(),
                                               [&](const std::string& t) { return SheetNamesEqual(t, name); });
            if (namesake != targetNames.end()) plan.toTarget.emplace_back(name, *namesake);
        }
    }
    const auto formulaParts = ReadCarriedParts(plan);
    // Every formula the copies carry, read only: what they use decides the names, links and cached cells.
    std::vector<std::string> formulas;
    ReadWorkbookParts(plan, formulas);
    FindNamesAndTables(plan, formulas, formulaParts);
    ReadLinksAndCachedCells(plan, formulas);
    PlanSheetCode(plan);
    return plan;
}

}  // namespace orv::engine
