// The phases of a sheet copy, each a short step over the target; they run in the order of kPhases, which is
// the order the copy has always changed the target in, so that every byte it writes stays the same.
#include "engine/transfer/SheetCopyPhases.h"

#include <algorithm>
#include <atomic>
#include <iterator>
#include <mutex>
#include <set>
#include <utility>

#include "engine/EngineError.h"
#include "engine/formula/CellReference.h"
#include "engine/formula/Formula.h"
#include "engine/package/ContentTypes.h"
#include "engine/package/Relationships.h"
#include "engine/package/Xml.h"
#include "engine/transfer/Conformance.h"
#include "engine/transfer/MacroReferences.h"
#include "engine/transfer/PartCopy.h"
#include "engine/transfer/SharedStrings.h"
#include "engine/transfer/SheetCode.h"
#include "engine/transfer/SheetCopySupport.h"
#include "engine/transfer/Styles.h"
#include "engine/workbook/References.h"
#include "engine/workbook/SheetNames.h"
#include "platform/TextCase.h"

namespace orv::engine {

namespace {

std::atomic<int> g_failAfter{-1};

// What the phases make and hand on to the later ones.
struct CopyProgress {
    std::optional<PartCopier> copier;
    std::set<std::string> newStreamed;      // the copies of the worksheets' own parts
    std::vector<std::string> formulaParts;  // the other copied parts with formulas
    std::optional<StyleMerger> styles;
    std::optional<StringMerger> strings;
    std::map<std::string, std::string> tableRenames;
    std::set<std::string> copiedTables;  // folded names, as in the source
    int book = 0;                        // the link to the source file, [book] in formulas; 0 for none
    std::map<int, int> books;            // the source's link numbers in the target
    // The source sheets whose references stay in the target, with the names they lead to there: the copies,
    // and with references to the target its namesakes.
    std::vector<std::pair<std::string, std::string>> carried;
};

// A formula of the copies as the target must read it: references among the copies name the copies,
// references to the sheets left behind the source file. Called from several threads at once.
std::string Carried(const CopyPlan& plan, const CopyProgress& done, std::string_view f) {
    std::string out = plan.sameBook
                          ? formula::CarrySheetReferences(f, plan.order, plan.renames, -1)
                          : formula::CarrySheetReferences(StructuredToA1(f, plan.foreignTables), plan.order,
                                                          done.carried, done.book, done.books);
    for (const auto& [old, fresh] : done.tableRenames)
        out = formula::RenameTableInStructuredReferences(out, old, fresh);
    return out;
}

// Cell references in the order of the rows, as the user reads a sheet: pieces written side by side report theirs
// out of order.
void SortCells(std::vector<std::string>& cells) {
    auto key = [](const std::string& cell) {
        int row = 0, column = 0;
        ParseCellReference(cell, row, column);
        return std::pair(row, column);
    };
    std::sort(cells.begin(), cells.end(), [&](const auto& a, const auto& b) { return key(a) < key(b); });
}

ReferenceEdit CopyEdit(const CopyPlan& plan, const CopyProgress& done) {
    ReferenceEdit edit;
    edit.formula = [&](std::string_view f) { return Carried(plan, done, f); };
    // A hyperlink cannot lead into another file through [n]; only links to the copied sheets follow them.
    edit.location = [&](std::string_view l) {
        return formula::CarrySheetReferences(l, plan.order, plan.renames, -1);
    };
    edit.sheetAttribute = [&](std::string_view s) -> std::optional<std::string> {
        if (const CopyMember* m = plan.Member(s)) return m->name;
        return std::nullopt;
    };
    return edit;
}

// A pivot table of a copy inside one workbook keeps its cache.
void CopyParts(CopyPlan& plan, CopyProgress& done) {
    done.carried = plan.renames;
    done.carried.insert(done.carried.end(), plan.toTarget.begin(), plan.toTarget.end());
    const bool sameBook = plan.sameBook;
    done.copier.emplace(
        *plan.src, *plan.dst,
        [sameBook](const std::string&, const Relationship& rel) -> std::optional<std::string> {
            if (sameBook && RelTypeIs(rel.type, "pivotCacheDefinition")) return rel.targetPart;
            return std::nullopt;
        });
    for (const auto& m : plan.group) {
        if (m.rows) done.copier->Defer(m.sheet.part);
    }
    for (auto& m : plan.group) {
        m.newPart = done.copier->Copy(m.sheet.part);
        if (m.rows) done.newStreamed.insert(m.newPart);
    }
    ContentTypes dstTypes(*plan.dst);
    for (const auto& part : done.copier->written()) {
        if (!done.newStreamed.count(part) && IsFormulaPartType(dstTypes.TypeOf(part)))
            done.formulaParts.push_back(part);
    }
}

// A new workbook takes its first source's look whole, its cell formats and its theme (one without pictures of
// its own), so that the copies look there as they did at home: its own are only the defaults of a workbook
// nobody styled. A strict source's parts would not fit a transitional workbook; its formats are merged.
void AdoptSourceLook(CopyPlan& plan) {
    if (!plan.target->fresh() || plan.sameBook || plan.srcStyles.empty() || plan.dstStyles.empty() ||
        IsStrict(plan.srcBook))
        return;
    Package& src = *plan.src;
    Package& dst = *plan.dst;
    dst.Write(plan.dstStyles, src.Read(plan.srcStyles));
    const auto theme = Relationships(src, plan.srcWorkbook).FirstOfKind("theme");
    if (!theme || theme->external || !src.Has(theme->targetPart) ||
        !Relationships(src, theme->targetPart).All().empty() ||
        Relationships(dst, plan.dstWorkbook).FirstOfKind("theme"))
        return;
    const std::string part = "xl/theme/theme1.xml";
    dst.Write(part, src.Read(theme->targetPart));
    Relationships(dst, plan.dstWorkbook).Add(theme->type, part);
    ContentTypes(dst).SetOverride(part, ContentTypes(src).TypeOf(theme->targetPart));
}

// A new workbook whose copies use nearly all of their source's shared strings takes the table whole, so that
// every string keeps its number and rows nothing else changes arrive as they are stored. A few strings only
// the sheets left behind use are the price; a copy that uses few gets a table of its own.
bool AdoptSourceStrings(CopyPlan& plan) {
    if (!plan.target->fresh() || plan.sameBook || plan.srcStrings.empty() || IsStrict(plan.srcBook)) return false;
    Package& dst = *plan.dst;
    Relationships targetRels(dst, plan.dstWorkbook);
    if (targetRels.FirstOfKind("sharedStrings")) return false;
    std::set<int> used;
    for (const auto& m : plan.group) {
        if (m.rows) used.insert(m.rows->scan.sharedStrings.order().begin(), m.rows->scan.sharedStrings.order().end());
    }
    const auto table = Root(plan.src->Xml(plan.srcStrings));
    const std::size_t count = Children(table, "si").size();
    if (used.size() * 10 < count * 9) return false;
    const std::string part = "xl/sharedStrings.xml";
    dst.Write(part, plan.src->Read(plan.srcStrings));
    const auto rel = Relationships(*plan.src, plan.srcWorkbook).FirstOfKind("sharedStrings");
    targetRels.Add(rel->type, part);
    ContentTypes(dst).SetOverride(part, ContentTypes(*plan.src).TypeOf(plan.srcStrings));
    return true;
}

// Cell formats and shared strings, re-indexed into the target's tables: the rows are mapped when their part
// is written (WriteRows), the columns and rules here.
void MergeFormats(CopyPlan& plan, CopyProgress& done) {
    AdoptSourceLook(plan);
    Package& dst = *plan.dst;
    if (!plan.sameBook && !plan.srcStyles.empty() && !plan.dstStyles.empty())
        done.styles.emplace(*plan.src, plan.srcStyles, dst, plan.dstStyles);
    if (!plan.sameBook && !plan.srcStrings.empty() && !AdoptSourceStrings(plan))
        done.strings.emplace(*plan.src, plan.srcStrings, dst, plan.dstWorkbook);
    for (const auto& m : plan.group) {
        if (done.strings && m.rows) done.strings->Prepare(m.rows->scan.sharedStrings.order());
    }
    for (auto& m : plan.group) {
        auto ws = m.rows ? Root(m.rows->skeleton) : Root(dst.Xml(m.newPart));
        if (done.styles && m.rows) {
            for (auto col : Children(Child(ws, "cols"), "col")) {
                if (auto s = col.attribute("style")) s = done.styles->MapXf(s.as_int());
            }
            for (auto rule : Descendants(ws, "cfRule")) {
                if (auto d = rule.attribute("dxfId")) d = done.styles->MapDxf(d.as_int());
            }
        }
        bool edited = false;
        for (auto view : Descendants(ws, "sheetView")) edited |= view.remove_attribute("tabSelected");
        // The code name ties a sheet to its module: a copy whose module travels gets a code name of its own,
        // one without it none, as a name without a module would be taken for a sheet with code.
        if (auto properties = Child(ws, "sheetPr")) {
            if (!m.codeName.empty()) {
                properties.attribute("codeName") = m.codeName.c_str();
                edited = true;
            } else {
                edited |= properties.remove_attribute("codeName");
            }
        }
        if (edited && !m.rows) dst.MarkChanged(m.newPart);
    }
}

// Tables: names unique among the target's tables and defined names, ids unique.
void MakeTablesUnique(CopyPlan& plan, CopyProgress& done) {
    Package& dst = *plan.dst;
    ContentTypes dstTypes(dst);
    const auto& written = done.copier->written();
    std::set<std::string> takenNames;
    unsigned highestId = 0;
    for (const auto& part : dst.PartNames()) {
        if (!ContentTypeIs(dstTypes.TypeOf(part), "spreadsheetml.table+xml")) continue;
        if (std::find(written.begin(), written.end(), part) != written.end()) continue;
        auto table = Root(dst.Xml(part));
        takenNames.insert(platform::FoldCase(table.attribute("name").value()));
        takenNames.insert(platform::FoldCase(table.attribute("displayName").value()));
        highestId = std::max(highestId, table.attribute("id").as_uint());
    }
    for (auto n : Children(Child(Root(dst.Xml(plan.dstWorkbook)), "definedNames"), "definedName"))
        takenNames.insert(platform::FoldCase(n.attribute("name").value()));
    for (const auto& part : written) {
        if (!ContentTypeIs(dstTypes.TypeOf(part), "spreadsheetml.table+xml")) continue;
        auto table = Root(dst.Xml(part));
        const std::string old = table.attribute("displayName").value();
        done.copiedTables.insert(platform::FoldCase(old));
        const std::string fresh = FreeTableName(old, takenNames);
        takenNames.insert(platform::FoldCase(fresh));
        if (fresh != old) done.tableRenames[old] = fresh;
        table.attribute("name") = fresh.c_str();
        table.attribute("displayName") = fresh.c_str();
        table.attribute("id") = ++highestId;
        if (done.styles) {
            std::vector<pugi::xml_node> nodes{table};
            for (auto d : Descendants(table, "tableColumn")) nodes.push_back(d);
            for (auto n : nodes) {
                for (auto a = n.first_attribute(); a; a = a.next_attribute()) {
                    if (std::string_view(a.name()).ends_with("DxfId")) a = done.styles->MapDxf(a.as_int());
                }
            }
        }
        dst.MarkChanged(part);
    }
}

void AddLinks(CopyPlan& plan, CopyProgress& done) {
    // Buttons and controls of the copies run the source workbook's macros, through the link to it.
    const bool macros = !plan.sameBook && CopiesRunSourceMacros(plan, done.copier->written());
    if (!plan.cells.empty() || macros) {
        done.book =
            AddExternalLink(*plan.dst, plan.dstWorkbook, LinkTarget(plan.source->path(), plan.target->path()),
                            plan.order, plan.cells);
        // Cached now; a whole sheet of them is not kept through the rewrite of the copies.
        std::map<int, CachedCells>().swap(plan.cells);
    }
    if (plan.links && !plan.links->empty()) done.books = plan.links->JoinTo(*plan.dst, plan.dstWorkbook);
    if (macros) PointMacrosAtSource(plan, done.copier->written(), done.book);
}

void RewriteCarriedReferences(CopyPlan& plan, CopyProgress& done) {
    RewriteReferences(*plan.dst, done.formulaParts, CopyEdit(plan, done));
}

// What the copies brought is written in the target's conformance class.
void ConvertToTargetClass(CopyPlan& plan, CopyProgress& done) {
    Package& dst = *plan.dst;
    const bool strict = IsStrict(Root(dst.Xml(plan.dstWorkbook)));
    if (plan.sameBook || IsStrict(plan.srcBook) == strict) return;
    std::vector<std::string> brought;
    for (const auto& part : done.copier->written()) {
        if (!done.newStreamed.count(part)) brought.push_back(part);
    }
    if (plan.links) brought.insert(brought.end(), plan.links->written().begin(), plan.links->written().end());
    ConvertPartsToClass(dst, brought, strict);
    for (const auto& m : plan.group) {
        if (m.rows) {
            ConvertToClass(Root(m.rows->skeleton), strict);
            ConvertRelationshipsToClass(dst, m.newPart, strict);
        }
    }
}

void WriteRows(CopyPlan& plan, CopyProgress& done) {
    const ReferenceEdit edit = CopyEdit(plan, done);
    CellRewrite rows;
    if (done.styles) rows.style = [&](int xf) { return done.styles->MapXf(xf); };
    if (done.strings) rows.sharedString = [&](int index) { return done.strings->Map(index); };
    rows.formula = edit.formula;
    std::mutex emptied;
    std::vector<std::string>* without = nullptr;
    if (plan.options.valuesOnly) {
        rows.dropFormulas = true;
        rows.noValue = [&](std::string_view cell) {
            std::lock_guard lock(emptied);
            without->emplace_back(cell);
        };
    }
    // Other applications misread external references inside shared formulas; such groups become plain
    // formulas.
    const std::string prefix = "[" + std::to_string(done.book) + "]";
    if (done.book > 0)
        rows.unshare = [&](std::string_view f) { return f.find(prefix) != std::string_view::npos; };
    for (auto& m : plan.group) {
        if (!m.rows) continue;
        RewriteFormulas(m.rows->skeleton, edit);
        without = &m.cellsWithoutValue;
        // A sheet that arrives as it was (a new workbook took its source's look, say) keeps its stored bytes.
        std::optional<DeflatedPart> stored;
        if (m.rows->LeavesAsStored(rows)) stored = plan.src->ReadDeflated(m.sheet.part);
        plan.dst->WriteDeflated(m.newPart, stored ? std::move(*stored) : m.rows->Write(rows));
        SortCells(m.cellsWithoutValue);
        m.rows.reset();  // the part's text is not needed any more
    }
}

void RegisterCopiedPivotCaches(CopyPlan& plan, CopyProgress& done) {
    if (plan.sameBook) return;
    std::vector<std::string> copyNames;
    for (const auto& m : plan.group) copyNames.push_back(m.name);
    RegisterPivotCaches(*plan.src, plan.srcWorkbook, *plan.dst, plan.dstWorkbook, *done.copier, copyNames,
                        done.copiedTables, done.tableRenames,
                        LinkTarget(plan.source->path(), plan.target->path()));
}

// Threaded comments name their authors in the workbook's persons part: the source's persons come along.
void CarryCopiedPersons(CopyPlan& plan, CopyProgress& done) {
    if (!plan.sameBook)
        CarryPersons(*plan.src, plan.srcWorkbook, *plan.dst, plan.dstWorkbook, done.copier->written());
}

// The sheets join the target side by side, keeping their visibility.
void JoinSheets(CopyPlan& plan, CopyProgress&) {
    int at = plan.afterIndex;
    for (auto& m : plan.group)
        at = m.index = plan.target->InsertSheet(at, m.name, m.newPart, m.sheet.state, m.sheet.kind);
}

void CarryNames(CopyPlan& plan, CopyProgress& done) {
    auto dstBook = Root(plan.dst->Xml(plan.dstWorkbook));
    for (const auto& m : plan.group) {
        for (auto n : m.localNames) AddDefinedName(dstBook, n, Carried(plan, done, n.text().get()), m.index);
    }
    for (auto n : plan.usedGlobals) {
        const std::string text = Carried(plan, done, n.text().get());
        pugi::xml_node existing;
        for (auto d : Children(Child(dstBook, "definedNames"), "definedName")) {
            if (!d.attribute("localSheetId") &&
                SheetNamesEqual(d.attribute("name").value(), n.attribute("name").value()))
                existing = d;
        }
        if (!existing) {
            AddDefinedName(dstBook, n, text, -1);
        } else if (text != existing.text().get()) {
            // The target's own definition stays; each copy keeps the source's meaning through a name of its
            // own.
            for (const auto& m : plan.group) AddDefinedName(dstBook, n, text, m.index);
        }
    }
    plan.dst->MarkChanged(plan.dstWorkbook);
}

void CarryCode(CopyPlan& plan, CopyProgress&) { CarrySheetCode(plan); }

using Phase = void (*)(CopyPlan&, CopyProgress&);

constexpr std::pair<CopyPhase, Phase> kPhases[] = {
    {CopyPhase::Parts, CopyParts},
    {CopyPhase::Formats, MergeFormats},
    {CopyPhase::Tables, MakeTablesUnique},
    {CopyPhase::Links, AddLinks},
    {CopyPhase::References, RewriteCarriedReferences},
    {CopyPhase::Class, ConvertToTargetClass},
    {CopyPhase::Rows, WriteRows},
    {CopyPhase::PivotCaches, RegisterCopiedPivotCaches},
    {CopyPhase::Persons, CarryCopiedPersons},
    {CopyPhase::Sheets, JoinSheets},
    {CopyPhase::Names, CarryNames},
    {CopyPhase::Code, CarryCode},
};
static_assert(std::size(kPhases) == kCopyPhaseCount);

}  // namespace

const char* CopyPhaseName(CopyPhase phase) {
    static constexpr const char* kNames[] = {"parts",      "formats", "tables",       "links",
                                             "references", "class",   "rows",         "pivot caches",
                                             "persons",    "sheets",  "defined names", "code"};
    static_assert(std::size(kNames) == kCopyPhaseCount);
    return kNames[static_cast<int>(phase)];
}

void ApplyCopyPlan(CopyPlan& plan) {
    CopyProgress done;
    // The package goes back by its checkpoint; the sheet list the document keeps of it goes back here.
    std::vector<SheetInfo> sheetsBefore = plan.target->sheets();
    try {
        for (const auto& [phase, apply] : kPhases) {
            apply(plan, done);
            if (g_failAfter.load() == static_cast<int>(phase))
                throw EngineError(std::string("The copy was made to fail after its phase \"") +
                                  CopyPhaseName(phase) + "\".");
        }
    } catch (...) {
        plan.target->RestoreSheets(std::move(sheetsBefore));
        throw;
    }
}

void FailSheetCopiesAfterPhaseForTests(std::optional<CopyPhase> phase) {
    g_failAfter.store(phase ? static_cast<int>(*phase) : -1);
}

}  // namespace orv::engine
