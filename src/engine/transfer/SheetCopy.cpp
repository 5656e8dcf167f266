// The sheet transplant. Everything that can fail (reading the source's parts) is done before the target
// changes.
#include "engine/transfer/SheetCopy.h"

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <set>

#include "engine/formula/Formula.h"
#include "engine/package/ContentTypes.h"
#include "engine/package/PartNames.h"
#include "engine/package/Relationships.h"
#include "engine/package/Xml.h"
#include "engine/system/EngineError.h"
#include "engine/system/Paths.h"
#include "engine/system/Threads.h"
#include "engine/transfer/CarriedLinks.h"
#include "engine/transfer/Conformance.h"
#include "engine/transfer/ExternalLinks.h"
#include "engine/transfer/PartCopy.h"
#include "engine/transfer/SharedStrings.h"
#include "engine/transfer/SheetCopySupport.h"
#include "engine/transfer/StructuredRefs.h"
#include "engine/transfer/Styles.h"
#include "engine/workbook/References.h"
#include "engine/workbook/SheetNames.h"
#include "engine/workbook/SheetStream.h"
#include "engine/workbook/Workbook.h"
#include "engine/workbook/WorkbookPart.h"

namespace orv::engine {

namespace {

namespace fs = std::filesystem;

// The copied sheet's own part, which can be nearly the whole workbook: its rows are checked and rewritten as a
// stream of text, everything around them is a small tree.
struct StreamedSheet {
    std::string text;  // the part, UTF-8
    WorksheetPieces pieces;
    bool split = false;
    pugi::xml_document skeleton;  // the part without its rows (the whole part when it has no sheetData)
    SheetDataScan scan;
    // Where the rewritten part waits for the save, compressed (beside the target workbook).
    std::string spoolFolder;

    // Reads and checks the part, adding its formulas to `formulas`; throws EngineError when it is damaged.
    void Load(Package& package, const std::string& part, std::vector<std::string>& formulas) {
        // A large part's rows are scanned as it is read; the rest of the reading is as for any part.
        std::optional<ArrivingScan> early;
        if (auto arriving = package.ReadArriving(part, kRowsOnSeveralCoresFrom)) {
            const bool utf8 = IsUtf8Text(arriving->text().substr(0, arriving->WaitFor(512)));
            if (utf8)
                early = ScanArrivingSheetData(arriving->text(), [&](std::size_t n) { return arriving->WaitFor(n); });
            text = arriving->Finish();
            if (!utf8) text = AsUtf8(std::move(text), part, package.displayName());
        } else {
            text = ReadAsUtf8(package, part);
        }
        split = SplitWorksheet(text, pieces);
        ParseXml(skeleton, split ? pieces.Skeleton() : text, part, package.displayName());
        if (split && early && early->bodyBegin == static_cast<std::size_t>(pieces.body.data() - text.data()) &&
            early->bodyEnd == early->bodyBegin + pieces.body.size()) {
            scan = std::move(early->scan);
            for (auto& f : early->formulas) formulas.push_back(std::move(f));
        } else if (split) {
            scan = ScanSheetData(
                pieces.body, [&](std::string_view f) { formulas.emplace_back(f); }, part, package.displayName());
        }
        ReferenceEdit probe;
        probe.formula = [&](std::string_view f) {
            formulas.emplace_back(f);
            return std::string(f);
        };
        RewriteFormulas(skeleton, probe);
    }

    // The rewritten part, the rows streamed through `cells`.
    DeflatedPart Write(const CellRewrite& cells) const {
        DeflateStream out(spoolFolder);
        const std::string around = SerializeXml(skeleton, WhitespaceAfterDeclaration(text));
        const std::string placeholder = "<" + pieces.qualifiedName + "/>";
        if (!split) {
            out.Add(around);
            return out.Finish();
        }
        const auto at = around.find(placeholder);
        if (at == std::string::npos) throw EngineError("The copied sheet's cells could not be put back in place.");
        out.Add(std::string_view(around).substr(0, at));
        out.Add(pieces.startTag);
        // Large rows are rewritten a piece per core, each into a stream of its own, joined at the end.
        std::vector<std::unique_ptr<DeflateStream>> more;
        std::vector<std::function<void(std::string_view)>> sinks{[&](std::string_view piece) { out.Add(piece); }};
        for (std::size_t i = 0; i < scan.cuts.size(); ++i) {
            auto& stream = *more.emplace_back(std::make_unique<DeflateStream>(spoolFolder));
            sinks.emplace_back([&stream](std::string_view piece) { stream.Add(piece); });
        }
        RewriteSheetDataSideBySide(pieces.body, scan, cells, sinks);
        DeflateStream& last = more.empty() ? out : *more.back();
        last.Add(pieces.endTag);
        last.Add(std::string_view(around).substr(at + placeholder.size()));
        if (more.empty()) return out.Finish();
        std::vector<DeflatedPart> parts;
        parts.push_back(out.Finish(false));
        for (std::size_t i = 0; i < more.size(); ++i) parts.push_back(more[i]->Finish(i + 1 == more.size()));
        return JoinDeflated(std::move(parts), spoolFolder);
    }
};

// Refuses a sheet whose cells name shared strings its workbook does not hold: mapped, they would read another
// string of the target's table, or one past its end.
void CheckSharedStrings(Package& src, const std::string& stringsPart, const std::string& sheetName,
                        const SheetDataScan& scan) {
    if (scan.highestSharedString < 0) return;
    const long long count =
        stringsPart.empty() ? 0 : static_cast<long long>(Children(Root(src.Xml(stringsPart)), "si").size());
    if (scan.highestSharedString < count) return;
    throw EngineError("Sheet \"" + sheetName + "\" cannot be copied: a cell in row " +
                      std::to_string(scan.sharedStringRow) + " names a shared string that \"" +
                      src.displayName() + "\" does not hold (its table has " + std::to_string(count) +
                      " strings). Open and save the workbook in the spreadsheet application to repair it, then "
                      "try again.");
}

}  // namespace

std::string FreeSheetName(const std::string& name, const std::vector<std::string>& names) {
    auto taken = [&](const std::string& candidate) {
        return std::any_of(names.begin(), names.end(),
                           [&](const std::string& n) { return SheetNamesEqual(n, candidate); });
    };
    if (!taken(name)) return name;
    for (int n = 2;; ++n) {
        const std::string suffix = " (" + std::to_string(n) + ")";
        std::string base = name;
        // Shorten by whole characters (never inside a UTF-8 sequence) until the name fits.
        while (CharacterCount(base) + suffix.size() > kMaxSheetNameLength && !base.empty()) {
            do base.pop_back();
            while (!base.empty() && (static_cast<unsigned char>(base.back()) & 0xC0) == 0x80);
            if (!base.empty() && static_cast<unsigned char>(base.back()) >= 0xC0) base.pop_back();
        }
        if (!taken(base + suffix)) return base + suffix;
    }
}

CopiedSheet CopySheet(WorkbookDocument& source, int sourceIndex, WorkbookDocument& target, int afterIndex,
                      const std::string& newName) {
    return CopySheets(source, {sourceIndex}, target, afterIndex, {newName}).front();
}

namespace {

// One sheet of a group being copied.
struct Member {
    int sourceIndex = 0;
    SheetInfo sheet;
    std::string name;  // the copy's
    std::vector<std::string> carried;
    std::unique_ptr<StreamedSheet> rows;  // a worksheet's own part; none for a chart sheet
    std::vector<pugi::xml_node> localNames;
    std::string newPart;
    int index = 0;  // the copy's, in the target
};

}  // namespace

std::vector<CopiedSheet> CopySheets(WorkbookDocument& source, const std::vector<int>& sourceIndices,
                                    WorkbookDocument& target, int afterIndex,
                                    const std::vector<std::string>& newNames) {
    const int sheetCount = static_cast<int>(source.sheets().size());
    if (sourceIndices.empty() || (!newNames.empty() && newNames.size() != sourceIndices.size()) ||
        afterIndex < 0 || afterIndex >= static_cast<int>(target.sheets().size()) ||
        std::any_of(sourceIndices.begin(), sourceIndices.end(), [&](int i) { return i < 0 || i >= sheetCount; })) {
        throw EngineError("The sheet to copy, or the sheet to copy it after, does not exist.");
    }
    std::vector<Member> group(sourceIndices.size());
    for (std::size_t i = 0; i < group.size(); ++i) {
        group[i].sourceIndex = sourceIndices[i];
        group[i].sheet = source.sheets()[static_cast<std::size_t>(sourceIndices[i])];
        if (!newNames.empty()) group[i].name = newNames[i];
    }
    std::stable_sort(group.begin(), group.end(),
                     [](const Member& a, const Member& b) { return a.sourceIndex < b.sourceIndex; });
    for (std::size_t i = 1; i < group.size(); ++i) {
        if (group[i].sourceIndex == group[i - 1].sourceIndex)
            throw EngineError("Sheet \"" + group[i].sheet.name + "\" was named twice among the sheets to copy.");
    }
    const std::string& firstName = group.front().sheet.name;
    const bool sameBook = &source == &target;
    std::error_code ec;
    if (!sameBook && fs::equivalent(PathFromUtf8(source.path()), PathFromUtf8(target.path()), ec)) {
        throw EngineError("Sheet \"" + firstName + "\" cannot be copied: the source and the target are the same file (\"" +
                          target.displayName() + "\").");
    }
    for (const auto& m : group) {
        if ((m.sheet.kind != SheetKind::Worksheet && m.sheet.kind != SheetKind::Chartsheet) || m.sheet.part.empty()) {
            throw EngineError("Sheet \"" + m.sheet.name +
                              "\" cannot be copied: only worksheets and chart sheets can be copied, and it is a " +
                              KindName(m.sheet.kind) + ".");
        }
    }
    target.CheckStructureUnlocked("copy");
    Package& src = source.package();
    Package& dst = target.package();
    {
        auto taken = target.SheetNames();
        for (auto& m : group) {
            m.name = FreeSheetName(m.name.empty() ? m.sheet.name : m.name, taken);
            if (auto problem = SheetNameProblem(m.name))
                throw EngineError("The copy cannot be named \"" + m.name + "\": " + *problem);
            taken.push_back(m.name);
        }
    }
    auto member = [&](std::string_view sheetName) -> const Member* {
        for (const auto& m : group) {
            if (SheetNamesEqual(m.sheet.name, sheetName)) return &m;
        }
        return nullptr;
    };

    // 1. Read everything the copies need while nothing has changed yet.
    ContentTypes srcTypes(src);
    std::set<std::string> streamed;  // the worksheets' own parts, read and written as streams
    for (const auto& m : group) {
        if (m.sheet.kind == SheetKind::Worksheet) streamed.insert(PartKey(m.sheet.part));
    }
    std::vector<std::string> srcFormulaParts;
    std::set<std::string> seenParts;
    for (auto& m : group) {
        m.carried = ReachableFrom(src, m.sheet.part);
        for (const auto& part : m.carried) {
            const std::string type = srcTypes.TypeOf(part);
            for (const char* refused : {"slicer+xml", "timeline+xml", "slicerCache+xml", "timelineCache+xml"}) {
                if (ContentTypeIs(type, refused)) {
                    throw EngineError("Sheet \"" + m.sheet.name +
                                      "\" cannot be copied: it holds slicers or timelines (" + part +
                                      "), which this program cannot carry yet. Remove them, or copy the sheet in "
                                      "the spreadsheet application.");
                }
            }
            if (streamed.count(PartKey(part))) continue;  // streamed, below
            if (type.ends_with("+xml") || Extension(part) == "xml")
                src.Xml(part);
            else
                src.Read(part);
            if (seenParts.insert(PartKey(part)).second && IsFormulaPartType(type)) srcFormulaParts.push_back(part);
        }
    }
    const std::string srcWorkbook = source.workbookPart();
    const std::string dstWorkbook = target.workbookPart();
    const std::string srcStyles = StylesPart(src, srcWorkbook);
    const std::string dstStyles = StylesPart(dst, dstWorkbook);
    const std::string srcStrings = SharedStringsPart(src, srcWorkbook);
    if (!sameBook && !srcStyles.empty() && dstStyles.empty()) {
        throw EngineError(
            "Sheet \"" + firstName + "\" cannot be copied: \"" + target.displayName() +
            "\" has no cell formats part to merge its formats into. Open and save it in the spreadsheet "
            "application first.");
    }
    if (!srcStyles.empty()) src.Xml(srcStyles);
    if (!dstStyles.empty()) dst.Xml(dstStyles);
    if (!srcStrings.empty()) src.Xml(srcStrings);
    auto srcBook = Root(src.Xml(srcWorkbook));
    auto dstBook = Root(dst.Xml(dstWorkbook));

    std::vector<std::string> formulas;
    for (auto& m : group) {
        if (m.sheet.kind != SheetKind::Worksheet) continue;
        m.rows = std::make_unique<StreamedSheet>();
        m.rows->spoolFolder = ParentFolderOf(dst.path());
        m.rows->Load(src, m.sheet.part, formulas);
        if (!sameBook) CheckSharedStrings(src, srcStrings, m.sheet.name, m.rows->scan);
    }
    // Names the copies carry: their sheet-scoped names, and the workbook-scoped names their formulas use.
    std::map<std::string, pugi::xml_node> globalNames;
    std::set<std::string> localKeys;
    for (auto n : Children(Child(srcBook, "definedNames"), "definedName")) {
        if (!n.attribute("localSheetId")) {
            globalNames[FoldCase(n.attribute("name").value())] = n;
            continue;
        }
        for (auto& m : group) {
            if (n.attribute("localSheetId").as_int() != m.sourceIndex) continue;
            m.localNames.push_back(n);
            localKeys.insert(FoldCase(n.attribute("name").value()));
            formulas.emplace_back(n.text().get());
        }
    }
    // Tables on sheets that stay behind: references to them become the plain ranges they cover, so that they
    // read the source's cells and never bind to a table of the same name in the target.
    std::map<std::string, TableArea> foreignTables;
    if (!sameBook) {
        for (auto& [key, area] : WorkbookTables(src, srcWorkbook)) {
            if (!member(area.sheet)) foreignTables.emplace(key, area);
        }
    }
    for (auto& f : FormulasOf(src, srcFormulaParts)) formulas.push_back(std::move(f));
    std::vector<pugi::xml_node> usedGlobals;
    if (!sameBook) {
        // The names the sheet's own formulas use are found side by side (a large sheet has hundreds of
        // thousands), each share keeping only the formulas that use any; then taken in order.
        const std::size_t given = formulas.size();
        const std::size_t shares = given >= 20000 ? WorkerThreads() : 1;
        std::vector<std::vector<std::pair<std::size_t, std::vector<std::string>>>> found(shares);
        SideBySide(shares, [&](std::size_t k) {
            for (std::size_t i = given * k / shares; i < given * (k + 1) / shares; ++i) {
                const auto views = formula::UsedDefinedNames(formulas[i]);
                if (!views.empty()) found[k].emplace_back(i, std::vector<std::string>(views.begin(), views.end()));
            }
        });
        std::vector<std::pair<std::size_t, std::vector<std::string>>> usedBy;
        for (auto& share : found) std::move(share.begin(), share.end(), std::back_inserter(usedBy));
        found.clear();
        auto next = usedBy.begin();
        std::set<std::string> seen;
        for (std::size_t i = 0; i < formulas.size(); ++i) {
            std::vector<std::string> used;
            if (i >= given) {
                // Copied out first: adding formulas below may move the text the views point into.
                const auto views = formula::UsedDefinedNames(formulas[i]);
                used.assign(views.begin(), views.end());
            } else if (next != usedBy.end() && next->first == i) {
                used = std::move(next++->second);
            }
            for (const auto& one : used) {
                const std::string key = FoldCase(one);
                if (localKeys.count(key) || !seen.insert(key).second) continue;
                if (auto it = globalNames.find(key); it != globalNames.end()) {
                    usedGlobals.push_back(it->second);
                    formulas.emplace_back(it->second.text().get());
                }
            }
        }
    }

    for (auto& f : formulas) f = StructuredToA1(f, foreignTables);

    // The links to other workbooks the copies' formulas use travel with them.
    std::optional<CarriedLinks> links;
    if (!sameBook) {
        std::set<int> books;
        for (const auto& f : formulas) formula::CollectExternalBooks(f, books);
        links.emplace(src, srcWorkbook, books, firstName);
    }

    // The cells of the sheets left behind that the copies' formulas use, cached in an external link.
    const auto order = source.SheetNames();
    std::map<int, CachedCells> cells;
    if (!sameBook) {
        auto position = [&](const std::string& name) {
            return std::find_if(order.begin(), order.end(),
                                [&](const std::string& s) { return SheetNamesEqual(s, name); });
        };
        std::map<int, std::vector<std::string>> ranges;
        for (const auto& f : formulas) {
            for (const auto& ref : formula::CollectSheetReferences(f)) {
                auto first = position(ref.prefix.firstSheet);
                auto last = ref.prefix.Is3D() ? position(ref.prefix.lastSheet) : first;
                if (first == order.end() || last == order.end()) continue;
                if (first > last) std::swap(first, last);
                // References that stay inside the group name the copies and need no cache.
                if (std::all_of(first, last + 1, [&](const std::string& s) { return member(s) != nullptr; }))
                    continue;
                for (auto it = first; it <= last; ++it) {
                    if (ref.kind == formula::TokenKind::Reference)
                        ranges[static_cast<int>(it - order.begin())].emplace_back(ref.body);
                    else
                        ranges[static_cast<int>(it - order.begin())];
                }
            }
        }
        for (const auto& [index, list] : ranges) {
            const auto& info = source.sheets()[static_cast<std::size_t>(index)];
            cells[index] = info.part.empty() || info.kind != SheetKind::Worksheet
                               ? CachedCells{}
                               : CellsInRanges(src, info.part, srcStrings, list);
        }
    }
    // 2. The parts. A pivot table of a copy inside one workbook keeps its cache.
    PartCopier copier(src, dst,
                      [&](const std::string&, const Relationship& rel) -> std::optional<std::string> {
                          if (sameBook && RelTypeIs(rel.type, "pivotCacheDefinition")) return rel.targetPart;
                          return std::nullopt;
                      });
    for (const auto& m : group) {
        if (m.rows) copier.Defer(m.sheet.part);
    }
    std::set<std::string> newStreamed;
    for (auto& m : group) {
        m.newPart = copier.Copy(m.sheet.part);
        if (m.rows) newStreamed.insert(m.newPart);
    }
    ContentTypes dstTypes(dst);
    std::vector<std::string> formulaParts;
    for (const auto& part : copier.written()) {
        if (!newStreamed.count(part) && IsFormulaPartType(dstTypes.TypeOf(part))) formulaParts.push_back(part);
    }

    // 3. Cell formats and shared strings, re-indexed into the target's tables.
    std::optional<StyleMerger> styles;
    if (!sameBook && !srcStyles.empty() && !dstStyles.empty()) styles.emplace(src, srcStyles, dst, dstStyles);
    std::optional<StringMerger> strings;
    if (!sameBook && !srcStrings.empty()) strings.emplace(src, srcStrings, dst, dstWorkbook);
    for (const auto& m : group) {
        if (strings && m.rows) strings->Prepare(m.rows->scan.sharedStrings.order());
    }
    for (auto& m : group) {
        // The rows are mapped when the part is written (step 5); the columns and rules here.
        auto ws = m.rows ? Root(m.rows->skeleton) : Root(dst.Xml(m.newPart));
        if (styles && m.rows) {
            for (auto col : Children(Child(ws, "cols"), "col")) {
                if (auto s = col.attribute("style")) s = styles->MapXf(s.as_int());
            }
            for (auto rule : Descendants(ws, "cfRule")) {
                if (auto d = rule.attribute("dxfId")) d = styles->MapDxf(d.as_int());
            }
        }
        bool edited = false;
        for (auto view : Descendants(ws, "sheetView")) edited |= view.remove_attribute("tabSelected");
        // The code name ties a sheet to its VBA module; the application gives a copy a code name of its own.
        if (auto properties = Child(ws, "sheetPr")) edited |= properties.remove_attribute("codeName");
        if (edited && !m.rows) dst.MarkChanged(m.newPart);
    }

    // 4. Tables: names unique among the target's tables and defined names, ids unique.
    std::set<std::string> takenNames;
    unsigned highestId = 0;
    for (const auto& part : dst.PartNames()) {
        if (!ContentTypeIs(dstTypes.TypeOf(part), "spreadsheetml.table+xml")) continue;
        const bool fresh =
            std::find(copier.written().begin(), copier.written().end(), part) != copier.written().end();
        if (fresh) continue;
        auto table = Root(dst.Xml(part));
        takenNames.insert(FoldCase(table.attribute("name").value()));
        takenNames.insert(FoldCase(table.attribute("displayName").value()));
        highestId = std::max(highestId, table.attribute("id").as_uint());
    }
    for (auto n : Children(Child(dstBook, "definedNames"), "definedName"))
        takenNames.insert(FoldCase(n.attribute("name").value()));
    std::map<std::string, std::string> tableRenames;
    std::set<std::string> copiedTables;
    for (const auto& part : copier.written()) {
        if (!ContentTypeIs(dstTypes.TypeOf(part), "spreadsheetml.table+xml")) continue;
        auto table = Root(dst.Xml(part));
        const std::string old = table.attribute("displayName").value();
        copiedTables.insert(FoldCase(old));
        const std::string fresh = FreeTableName(old, takenNames);
        takenNames.insert(FoldCase(fresh));
        if (fresh != old) tableRenames[old] = fresh;
        table.attribute("name") = fresh.c_str();
        table.attribute("displayName") = fresh.c_str();
        table.attribute("id") = ++highestId;
        if (styles) {
            std::vector<pugi::xml_node> nodes{table};
            for (auto d : Descendants(table, "tableColumn")) nodes.push_back(d);
            for (auto n : nodes) {
                for (auto a = n.first_attribute(); a; a = a.next_attribute()) {
                    if (std::string_view(a.name()).ends_with("DxfId")) a = styles->MapDxf(a.as_int());
                }
            }
        }
        dst.MarkChanged(part);
    }

    // 5. References among the copies name the copies; references to the sheets left behind, the source file.
    int book = 0;
    if (!cells.empty()) {
        book = AddExternalLink(dst, dstWorkbook, LinkTarget(source.path(), target.path()), order, cells);
        // Cached now; a whole sheet of them is not kept through the rewrite of the copies.
        std::map<int, CachedCells>().swap(cells);
    }
    std::map<int, int> books;
    if (links && !links->empty()) books = links->JoinTo(dst, dstWorkbook);
    std::vector<std::pair<std::string, std::string>> renames;
    std::vector<std::string> copyNames;
    for (const auto& m : group) {
        renames.emplace_back(m.sheet.name, m.name);
        copyNames.push_back(m.name);
    }
    auto rewrite = [&](std::string_view f) {
        std::string out = sameBook ? formula::CarrySheetReferences(f, order, renames, -1)
                                   : formula::CarrySheetReferences(StructuredToA1(f, foreignTables), order,
                                                                   renames, book, books);
        for (const auto& [old, fresh] : tableRenames)
            out = formula::RenameTableInStructuredReferences(out, old, fresh);
        return out;
    };
    ReferenceEdit edit;
    edit.formula = rewrite;
    // A hyperlink cannot lead into another file through [n]; only links to the copied sheets follow them.
    edit.location = [&](std::string_view l) { return formula::CarrySheetReferences(l, order, renames, -1); };
    edit.sheetAttribute = [&](std::string_view s) -> std::optional<std::string> {
        if (const Member* m = member(s)) return m->name;
        return std::nullopt;
    };
    RewriteReferences(dst, formulaParts, edit);
    CellRewrite rows;
    if (styles) rows.style = [&](int xf) { return styles->MapXf(xf); };
    if (strings) rows.sharedString = [&](int index) { return strings->Map(index); };
    rows.formula = rewrite;
    // Other applications misread external references inside shared formulas; such groups become plain
    // formulas.
    const std::string prefix = "[" + std::to_string(book) + "]";
    if (book > 0) rows.unshare = [&](std::string_view f) { return f.find(prefix) != std::string_view::npos; };
    // What the copies brought is written in the target's conformance class.
    const bool strict = IsStrict(dstBook);
    if (!sameBook && IsStrict(srcBook) != strict) {
        std::vector<std::string> brought;
        for (const auto& part : copier.written()) {
            if (!newStreamed.count(part)) brought.push_back(part);
        }
        if (links) brought.insert(brought.end(), links->written().begin(), links->written().end());
        ConvertPartsToClass(dst, brought, strict);
        for (const auto& m : group) {
            if (m.rows) {
                ConvertToClass(Root(m.rows->skeleton), strict);
                ConvertRelationshipsToClass(dst, m.newPart, strict);
            }
        }
    }
    for (auto& m : group) {
        if (!m.rows) continue;
        RewriteFormulas(m.rows->skeleton, edit);
        dst.WriteDeflated(m.newPart, m.rows->Write(rows));
        m.rows.reset();  // the part's text is not needed any more
    }

    // 6. Pivot caches copied with their table are registered in the target workbook under new ids.
    if (!sameBook) {
        RegisterPivotCaches(src, srcWorkbook, dst, dstWorkbook, copier, copyNames, copiedTables, tableRenames,
                            LinkTarget(source.path(), target.path()));
    }

    // 7. Threaded comments name their authors in the workbook's persons part: bring the source's persons
    // along.
    if (!sameBook) CarryPersons(src, srcWorkbook, dst, dstWorkbook, copier.written());

    // 8. The sheets join the target side by side (keeping their visibility), then their names.
    int at = afterIndex;
    for (auto& m : group) at = m.index = target.InsertSheet(at, m.name, m.newPart, m.sheet.state, m.sheet.kind);
    dstBook = Root(dst.Xml(dstWorkbook));
    for (const auto& m : group) {
        for (auto n : m.localNames) AddDefinedName(dstBook, n, rewrite(n.text().get()), m.index);
    }
    for (auto n : usedGlobals) {
        const std::string text = rewrite(n.text().get());
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
            for (const auto& m : group) AddDefinedName(dstBook, n, text, m.index);
        }
    }
    dst.MarkChanged(dstWorkbook);
    std::vector<CopiedSheet> copies;
    for (const auto& m : group) copies.push_back({m.index, m.name});
    return copies;
}

}  // namespace orv::engine
