// The sheet transplant. Everything that can fail (reading the source's parts) is done before the target
// changes.
#include "engine/SheetCopy.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>

#include "engine/ContentTypes.h"
#include "engine/EngineError.h"
#include "engine/ExternalLinks.h"
#include "engine/PartCopy.h"
#include "engine/PartNames.h"
#include "engine/References.h"
#include "engine/Relationships.h"
#include "engine/SharedStrings.h"
#include "engine/SheetCopySupport.h"
#include "engine/SheetNames.h"
#include "engine/SheetStream.h"
#include "engine/StructuredRefs.h"
#include "engine/Styles.h"
#include "engine/Workbook.h"
#include "engine/WorkbookPart.h"
#include "engine/Xml.h"
#include "engine/formula/Formula.h"

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
        text = ReadAsUtf8(package, part);
        split = SplitWorksheet(text, pieces);
        ParseXml(skeleton, split ? pieces.Skeleton() : text, part, package.displayName());
        if (split) {
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
        DeflateStream out(kDeflateLevel, spoolFolder);
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
        RewriteSheetData(pieces.body, scan, cells, [&](std::string_view piece) { out.Add(piece); });
        out.Add(pieces.endTag);
        out.Add(std::string_view(around).substr(at + placeholder.size()));
        return out.Finish();
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
    if (sourceIndex < 0 || sourceIndex >= static_cast<int>(source.sheets().size()) || afterIndex < 0 ||
        afterIndex >= static_cast<int>(target.sheets().size())) {
        throw EngineError("The sheet to copy, or the sheet to copy it after, does not exist.");
    }
    const SheetInfo sheet = source.sheets()[static_cast<std::size_t>(sourceIndex)];
    const bool sameBook = &source == &target;
    std::error_code ec;
    if (!sameBook && fs::equivalent(source.path(), target.path(), ec)) {
        throw EngineError("Sheet \"" + sheet.name +
                          "\" cannot be copied: the source and the target are the same file (\"" +
                          target.displayName() + "\").");
    }
    if (sheet.kind != SheetKind::Worksheet || sheet.part.empty()) {
        throw EngineError("Sheet \"" + sheet.name +
                          "\" cannot be copied: only worksheets can be copied, and it is a " +
                          KindName(sheet.kind) + ".");
    }
    target.CheckStructureUnlocked("copy");
    Package& src = source.package();
    Package& dst = target.package();
    const std::string name = FreeSheetName(newName.empty() ? sheet.name : newName, target.SheetNames());
    if (auto problem = SheetNameProblem(name))
        throw EngineError("The copy cannot be named \"" + name + "\": " + *problem);

    // 1. Read everything the copy needs while nothing has changed yet.
    const auto carried = ReachableFrom(src, sheet.part);
    ContentTypes srcTypes(src);
    for (const auto& part : carried) {
        const std::string type = srcTypes.TypeOf(part);
        for (const char* refused : {"slicer+xml", "timeline+xml", "slicerCache+xml", "timelineCache+xml"}) {
            if (ContentTypeIs(type, refused)) {
                throw EngineError("Sheet \"" + sheet.name +
                                  "\" cannot be copied: it holds slicers or timelines (" + part +
                                  "), which this program cannot carry yet. Remove them, or copy the sheet in "
                                  "the spreadsheet application.");
            }
        }
        if (PartKey(part) == PartKey(sheet.part)) continue;  // streamed, below
        if (type.ends_with("+xml") || Extension(part) == "xml")
            src.Xml(part);
        else
            src.Read(part);
    }
    const std::string srcWorkbook = source.workbookPart();
    const std::string dstWorkbook = target.workbookPart();
    const std::string srcStyles = StylesPart(src, srcWorkbook);
    const std::string dstStyles = StylesPart(dst, dstWorkbook);
    const std::string srcStrings = SharedStringsPart(src, srcWorkbook);
    if (!sameBook && !srcStyles.empty() && dstStyles.empty()) {
        throw EngineError(
            "Sheet \"" + sheet.name + "\" cannot be copied: \"" + target.displayName() +
            "\" has no cell formats part to merge its formats into. Open and save it in the spreadsheet "
            "application first.");
    }
    if (!srcStyles.empty()) src.Xml(srcStyles);
    if (!dstStyles.empty()) dst.Xml(dstStyles);
    if (!srcStrings.empty()) src.Xml(srcStrings);
    auto srcBook = Root(src.Xml(srcWorkbook));
    auto dstBook = Root(dst.Xml(dstWorkbook));

    std::vector<std::string> formulas;
    StreamedSheet sheetPart;
    sheetPart.spoolFolder = fs::path(dst.path()).parent_path().string();
    sheetPart.Load(src, sheet.part, formulas);
    if (!sameBook) CheckSharedStrings(src, srcStrings, sheet.name, sheetPart.scan);
    std::vector<std::string> srcFormulaParts;
    for (const auto& part : carried) {
        if (PartKey(part) != PartKey(sheet.part) && IsFormulaPartType(srcTypes.TypeOf(part)))
            srcFormulaParts.push_back(part);
    }
    // Names the copy carries: its sheet-scoped names, and the workbook-scoped names its formulas use.
    std::vector<pugi::xml_node> localNames;
    std::map<std::string, pugi::xml_node> globalNames;
    for (auto n : Children(Child(srcBook, "definedNames"), "definedName")) {
        if (!n.attribute("localSheetId")) {
            globalNames[FoldCase(n.attribute("name").value())] = n;
        } else if (n.attribute("localSheetId").as_int() == sourceIndex) {
            localNames.push_back(n);
        }
    }
    // Tables on other sheets stay behind: references to them become the plain ranges they cover, so that they
    // read the source's cells and never bind to a table of the same name in the target.
    std::map<std::string, TableArea> foreignTables;
    if (!sameBook) {
        for (auto& [key, area] : WorkbookTables(src, srcWorkbook)) {
            if (!SheetNamesEqual(area.sheet, sheet.name)) foreignTables.emplace(key, area);
        }
    }
    for (auto& f : FormulasOf(src, srcFormulaParts)) formulas.push_back(std::move(f));
    std::set<std::string> localKeys;
    for (auto n : localNames) {
        localKeys.insert(FoldCase(n.attribute("name").value()));
        formulas.emplace_back(n.text().get());
    }
    std::vector<pugi::xml_node> usedGlobals;
    if (!sameBook) {
        std::set<std::string> seen;
        for (std::size_t i = 0; i < formulas.size(); ++i) {
            // Copied out first: adding formulas below may move the text the views point into.
            const auto views = formula::UsedDefinedNames(formulas[i]);
            const std::vector<std::string> used(views.begin(), views.end());
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

    // The cells of other source sheets that the copy's formulas use, cached in an external link.
    std::map<int, CachedCells> cells;
    if (!sameBook) {
        const auto order = source.SheetNames();
        std::map<int, std::vector<std::string>> ranges;
        for (const auto& f : formulas) {
            for (const auto& ref : formula::CollectSheetReferences(f)) {
                auto first = std::find_if(order.begin(), order.end(), [&](const std::string& s) {
                    return SheetNamesEqual(s, ref.prefix.firstSheet);
                });
                auto last = ref.prefix.Is3D()
                                ? std::find_if(order.begin(), order.end(),
                                               [&](const std::string& s) {
                                                   return SheetNamesEqual(s, ref.prefix.lastSheet);
                                               })
                                : first;
                if (first == order.end() || last == order.end()) continue;
                if (!ref.prefix.Is3D() && SheetNamesEqual(*first, sheet.name)) continue;
                if (first > last) std::swap(first, last);
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
    copier.Defer(sheet.part);
    const std::string newPart = copier.Copy(sheet.part);
    ContentTypes dstTypes(dst);
    std::vector<std::string> formulaParts;
    for (const auto& part : copier.written()) {
        if (part != newPart && IsFormulaPartType(dstTypes.TypeOf(part))) formulaParts.push_back(part);
    }

    // 3. Cell formats and shared strings, re-indexed into the target's tables.
    std::optional<StyleMerger> styles;
    if (!sameBook && !srcStyles.empty() && !dstStyles.empty()) styles.emplace(src, srcStyles, dst, dstStyles);
    std::optional<StringMerger> strings;
    if (!sameBook && !srcStrings.empty()) strings.emplace(src, srcStrings, dst, dstWorkbook);
    // The rows are mapped when the part is written (step 5); the columns and rules here.
    auto ws = Root(sheetPart.skeleton);
    if (styles) {
        for (auto col : Children(Child(ws, "cols"), "col")) {
            if (auto s = col.attribute("style")) s = styles->MapXf(s.as_int());
        }
        for (auto rule : Descendants(ws, "cfRule")) {
            if (auto d = rule.attribute("dxfId")) d = styles->MapDxf(d.as_int());
        }
    }
    for (auto view : Descendants(ws, "sheetView")) view.remove_attribute("tabSelected");
    // The code name ties a sheet to its VBA module; the application gives a copy a code name of its own.
    if (auto properties = Child(ws, "sheetPr")) properties.remove_attribute("codeName");

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

    // 5. References to other sheets of the source become references to the source file.
    int book = 0;
    if (!cells.empty()) {
        book = AddExternalLink(dst, dstWorkbook, LinkTarget(source.path(), target.path()),
                               source.SheetNames(), cells);
        // Cached now; a whole sheet of them is not kept through the rewrite of the copy.
        std::map<int, CachedCells>().swap(cells);
    }
    auto rewrite = [&](std::string_view f) {
        std::string out = sameBook ? formula::RenameSheet(f, sheet.name, name)
                                   : formula::ExternalizeSheetReferences(StructuredToA1(f, foreignTables),
                                                                         sheet.name, name, book);
        for (const auto& [old, fresh] : tableRenames)
            out = formula::RenameTableInStructuredReferences(out, old, fresh);
        return out;
    };
    ReferenceEdit edit;
    edit.formula = rewrite;
    // A hyperlink cannot lead into another file through [n]; only links to the sheet itself follow the copy.
    edit.location = [&](std::string_view l) { return formula::RenameSheet(l, sheet.name, name); };
    edit.sheetAttribute = [&](std::string_view s) -> std::optional<std::string> {
        if (SheetNamesEqual(s, sheet.name)) return name;
        return std::nullopt;
    };
    RewriteReferences(dst, formulaParts, edit);
    RewriteFormulas(sheetPart.skeleton, edit);
    CellRewrite rows;
    if (styles) rows.style = [&](int xf) { return styles->MapXf(xf); };
    if (strings) rows.sharedString = [&](int index) { return strings->Map(index); };
    rows.formula = rewrite;
    // Other applications misread external references inside shared formulas; such groups become plain
    // formulas.
    const std::string prefix = "[" + std::to_string(book) + "]";
    if (book > 0) rows.unshare = [&](std::string_view f) { return f.find(prefix) != std::string_view::npos; };
    dst.WriteDeflated(newPart, sheetPart.Write(rows));

    // 6. Pivot caches copied with their table are registered in the target workbook under new ids.
    if (!sameBook) {
        RegisterPivotCaches(src, srcWorkbook, dst, dstWorkbook, copier, name, copiedTables, tableRenames,
                            LinkTarget(source.path(), target.path()));
    }

    // 7. Threaded comments name their authors in the workbook's persons part: bring the source's persons
    // along.
    if (!sameBook) CarryPersons(src, srcWorkbook, dst, dstWorkbook, copier.written());

    // 8. The sheet joins the target (keeping its visibility), then its names.
    const int index = target.InsertSheet(afterIndex, name, newPart, sheet.state);
    dstBook = Root(dst.Xml(dstWorkbook));
    for (auto n : localNames) AddDefinedName(dstBook, n, rewrite(n.text().get()), index);
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
            // The target's own definition stays; the copy keeps the source's meaning through a name of its
            // own.
            AddDefinedName(dstBook, n, text, index);
        }
    }
    dst.MarkChanged(dstWorkbook);
    return {index, name};
}

}  // namespace orv::engine
