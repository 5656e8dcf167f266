// The sheet transplant. Everything that can fail (reading the source's parts) is done before the target
// changes.
#include "engine/SheetCopy.h"

#include <algorithm>
#include <deque>
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
#include "engine/SharedFormulas.h"
#include "engine/SharedStrings.h"
#include "engine/SheetNames.h"
#include "engine/Styles.h"
#include "engine/Workbook.h"
#include "engine/WorkbookPart.h"
#include "engine/Xml.h"
#include "engine/formula/Formula.h"

namespace orv::engine {

namespace {

namespace fs = std::filesystem;

std::vector<std::string> ReachableFrom(Package& package, const std::string& start) {
    std::vector<std::string> out{start};
    std::set<std::string> seen{PartKey(start)};
    for (std::size_t i = 0; i < out.size(); ++i) {
        for (const auto& rel : Relationships(package, out[i]).All()) {
            if (rel.external || rel.targetPart.empty() || !package.Has(rel.targetPart)) continue;
            if (seen.insert(PartKey(rel.targetPart)).second) out.push_back(*package.Spelling(rel.targetPart));
        }
    }
    return out;
}

std::string StylesPart(Package& package, const std::string& workbookPart) {
    auto rel = Relationships(package, workbookPart).FirstOfKind("styles");
    return rel && package.Has(rel->targetPart) ? *package.Spelling(rel->targetPart) : "";
}

std::string SharedStringsPart(Package& package, const std::string& workbookPart) {
    auto rel = Relationships(package, workbookPart).FirstOfKind("sharedStrings");
    return rel && package.Has(rel->targetPart) ? *package.Spelling(rel->targetPart) : "";
}

// The path of the source file as the target's external link names it: relative when it sits in the same
// folder tree, else absolute.
std::string LinkTarget(const std::string& sourcePath, const std::string& targetPath) {
    std::error_code ec;
    const auto from = fs::absolute(targetPath, ec).parent_path();
    const auto to = fs::absolute(sourcePath, ec);
    const auto relative = fs::relative(to, from, ec);
    if (!ec && !relative.empty() && relative.string().rfind("..", 0) != 0) return relative.generic_string();
    return "file:///" + to.generic_string().substr(to.generic_string().front() == '/' ? 1 : 0);
}

// A table name free among the target's tables and defined names: "Tbl1", then "Tbl1_2", "Tbl1_3"...
std::string FreeTableName(const std::string& name, const std::set<std::string>& taken) {
    if (!taken.count(FoldCase(name))) return name;
    for (int n = 2;; ++n) {
        const std::string candidate = name + "_" + std::to_string(n);
        if (!taken.count(FoldCase(candidate))) return candidate;
    }
}

pugi::xml_node DefinedNamesOf(pugi::xml_node workbook, bool create) {
    if (auto names = Child(workbook, "definedNames")) return names;
    if (!create) return {};
    pugi::xml_node before;
    for (const char* next :
         {"calcPr", "oleSize", "customWorkbookViews", "pivotCaches", "smartTagPr", "smartTagTypes",
          "webPublishing", "fileRecoveryPr", "webPublishObjects", "extLst"}) {
        if ((before = Child(workbook, next))) break;
    }
    const std::string name = PrefixOf(workbook) + "definedNames";
    return before ? workbook.insert_child_before(name.c_str(), before) : workbook.append_child(name.c_str());
}

void AddDefinedName(pugi::xml_node workbook, const pugi::xml_node& like, const std::string& text,
                    int localSheetId) {
    auto names = DefinedNamesOf(workbook, true);
    auto made = names.append_child((PrefixOf(workbook) + "definedName").c_str());
    for (auto a = like.first_attribute(); a; a = a.next_attribute()) {
        if (std::string_view(a.name()) != "localSheetId") made.append_attribute(a.name()) = a.value();
    }
    if (localSheetId >= 0) made.append_attribute("localSheetId") = localSheetId;
    made.text() = text.c_str();
}

// Every formula text in `parts` (read only).
std::vector<std::string> FormulasOf(Package& package, const std::vector<std::string>& parts) {
    std::vector<std::string> out;
    ReferenceEdit probe;
    probe.formula = [&](std::string_view f) {
        out.emplace_back(f);
        return std::string(f);
    };
    RewriteReferences(package, parts, probe);
    return out;
}

// A copied pivot cache whose source is not on the copied sheet keeps reading the source workbook: its
// worksheetSource names the file through an external relationship, as the application writes it.
void PointCacheAtItsSource(Package& dst, const std::string& cache, const std::string& copyName,
                           const std::set<std::string>& copiedTables,
                           const std::map<std::string, std::string>& tableRenames,
                           const std::string& sourceFile) {
    auto root = Root(dst.Xml(cache));
    for (auto source : Descendants(root, "worksheetSource")) {
        if (auto sheet = source.attribute("sheet"); sheet && SheetNamesEqual(sheet.value(), copyName))
            continue;
        if (auto table = source.attribute("name")) {
            if (auto it = tableRenames.find(table.value()); it != tableRenames.end()) {
                table = it->second.c_str();
                continue;
            }
            if (copiedTables.count(FoldCase(table.value()))) continue;
        }
        if (RelAttribute(source, "id")) continue;
        const std::string id =
            Relationships(dst, cache)
                .AddExternal(
                    "http://schemas.openxmlformats.org/officeDocument/2006/relationships/externalLinkPath",
                    sourceFile);
        std::string prefix;
        for (auto a = root.first_attribute(); a; a = a.next_attribute()) {
            const std::string_view n(a.name());
            if (n.starts_with("xmlns:") && std::string_view(a.value()).ends_with("relationships") &&
                std::string_view(a.value()).find("package") == std::string_view::npos) {
                prefix = std::string(n.substr(6));
            }
        }
        if (prefix.empty()) {
            prefix = "r";
            root.append_attribute("xmlns:r") =
                "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
        }
        source.append_attribute((prefix + ":id").c_str()) = id.c_str();
    }
    dst.MarkChanged(cache);
}

void CarryPersons(Package& src, const std::string& srcWorkbook, Package& dst, const std::string& dstWorkbook,
                  const std::vector<std::string>& written) {
    ContentTypes dstTypes(dst);
    const bool threaded = std::any_of(written.begin(), written.end(), [&](const std::string& part) {
        return ContentTypeIs(dstTypes.TypeOf(part), "threadedcomments+xml");
    });
    if (!threaded) return;
    auto from = Relationships(src, srcWorkbook).FirstOfKind("person");
    if (!from || !src.Has(from->targetPart)) return;
    Relationships dstRels(dst, dstWorkbook);
    auto to = dstRels.FirstOfKind("person");
    if (!to || !dst.Has(to->targetPart)) {
        PartCopier copier(src, dst);
        dstRels.Add(from->type, copier.Copy(*src.Spelling(from->targetPart)));
        return;
    }
    auto mine = Root(dst.Xml(to->targetPart));
    std::set<std::string> ids;
    for (auto p : Children(mine, "person")) ids.insert(p.attribute("id").value());
    auto theirs = Root(src.Xml(from->targetPart));
    for (auto p : Children(theirs, "person")) {
        if (ids.insert(p.attribute("id").value()).second)
            ImportNode(mine, p, PrefixOf(theirs), PrefixOf(mine));
    }
    dst.MarkChanged(to->targetPart);
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
    if (!srcStyles.empty()) src.Xml(srcStyles);
    if (!dstStyles.empty()) dst.Xml(dstStyles);
    if (!srcStrings.empty()) src.Xml(srcStrings);
    auto srcBook = Root(src.Xml(srcWorkbook));
    auto dstBook = Root(dst.Xml(dstWorkbook));

    std::vector<std::string> srcFormulaParts;
    for (const auto& part : carried) {
        if (IsFormulaPartType(srcTypes.TypeOf(part))) srcFormulaParts.push_back(part);
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
    auto formulas = FormulasOf(src, srcFormulaParts);
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

    // The cells of other source sheets that the copy's formulas use, cached in an external link.
    std::map<int, std::vector<CachedCell>> cells;
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
                               ? std::vector<CachedCell>{}
                               : CellsInRanges(src, info.part, srcStrings, list);
        }
    }
    // 2. The parts. A pivot table of a copy inside one workbook keeps its cache.
    PartCopier copier(src, dst,
                      [&](const std::string&, const Relationship& rel) -> std::optional<std::string> {
                          if (sameBook && RelTypeIs(rel.type, "pivotCacheDefinition")) return rel.targetPart;
                          return std::nullopt;
                      });
    const std::string newPart = copier.Copy(sheet.part);
    ContentTypes dstTypes(dst);
    std::vector<std::string> formulaParts;
    for (const auto& part : copier.written()) {
        if (IsFormulaPartType(dstTypes.TypeOf(part))) formulaParts.push_back(part);
    }

    // 3. Cell formats and shared strings, re-indexed into the target's tables.
    std::optional<StyleMerger> styles;
    if (!sameBook && !srcStyles.empty() && !dstStyles.empty()) styles.emplace(src, srcStyles, dst, dstStyles);
    std::optional<StringMerger> strings;
    if (!sameBook && !srcStrings.empty()) strings.emplace(src, srcStrings, dst, dstWorkbook);
    auto& sheetDoc = dst.Xml(newPart);
    auto ws = Root(sheetDoc);
    if (styles || strings) {
        for (auto row : Children(Child(ws, "sheetData"), "row")) {
            if (styles) {
                if (auto s = row.attribute("s")) s = styles->MapXf(s.as_int());
            }
            for (auto c : Children(row, "c")) {
                if (auto s = c.attribute("s"); s && styles) s = styles->MapXf(s.as_int());
                if (strings && std::string_view(c.attribute("t").value()) == "s") {
                    if (auto v = Child(c, "v")) v.text() = strings->Map(v.text().as_int());
                }
            }
        }
        if (styles) {
            for (auto col : Children(Child(ws, "cols"), "col")) {
                if (auto s = col.attribute("style")) s = styles->MapXf(s.as_int());
            }
            for (auto rule : Descendants(ws, "cfRule")) {
                if (auto d = rule.attribute("dxfId")) d = styles->MapDxf(d.as_int());
            }
        }
    }
    for (auto view : Descendants(ws, "sheetView")) view.remove_attribute("tabSelected");
    dst.MarkChanged(newPart);

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
    if (!cells.empty())
        book = AddExternalLink(dst, dstWorkbook, LinkTarget(source.path(), target.path()),
                               source.SheetNames(), cells);
    auto rewrite = [&](std::string_view f) {
        std::string out = sameBook ? formula::RenameSheet(f, sheet.name, name)
                                   : formula::ExternalizeSheetReferences(f, sheet.name, name, book);
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
    // Other applications misread external references inside shared formulas; such groups become plain
    // formulas.
    if (book > 0) {
        const std::string prefix = "[" + std::to_string(book) + "]";
        if (UnshareFormulas(Root(dst.Xml(newPart)),
                            [&](std::string_view f) { return f.find(prefix) != std::string_view::npos; })) {
            dst.MarkChanged(newPart);
        }
    }

    // 6. Pivot caches copied with their table are registered in the target workbook under new ids.
    if (!sameBook) {
        for (const auto& [from, to] : copier.copied()) {
            if (!ContentTypeIs(dstTypes.TypeOf(to), "pivotCacheDefinition+xml")) continue;
            Relationships rels(dst, dstWorkbook);
            std::string type =
                "http://schemas.openxmlformats.org/officeDocument/2006/relationships/pivotCacheDefinition";
            for (const auto& r : Relationships(src, srcWorkbook).All()) {
                if (RelTypeIs(r.type, "pivotCacheDefinition")) type = r.type;
            }
            const std::string id = rels.Add(type, to);
            auto caches = Child(dstBook, "pivotCaches");
            if (!caches) {
                pugi::xml_node before;
                for (const char* next : {"smartTagPr", "smartTagTypes", "webPublishing", "fileRecoveryPr",
                                         "webPublishObjects", "extLst"}) {
                    if ((before = Child(dstBook, next))) break;
                }
                const std::string element = PrefixOf(dstBook) + "pivotCaches";
                caches = before ? dstBook.insert_child_before(element.c_str(), before)
                                : dstBook.append_child(element.c_str());
            }
            unsigned cacheId = 0;
            for (auto c : Children(caches, "pivotCache"))
                cacheId = std::max(cacheId, c.attribute("cacheId").as_uint());
            ++cacheId;
            auto made = caches.append_child((PrefixOf(dstBook) + "pivotCache").c_str());
            made.append_attribute("cacheId") = cacheId;
            std::string relName = "r:id";
            if (auto s = Child(Child(dstBook, "sheets"), "sheet")) {
                if (auto a = RelAttribute(s, "id")) relName = a.name();
            }
            made.append_attribute(relName.c_str()) = id.c_str();
            // The pivot tables that use this cache name it by its new id.
            for (const auto& part : copier.written()) {
                if (!ContentTypeIs(dstTypes.TypeOf(part), "pivotTable+xml")) continue;
                for (const auto& r : Relationships(dst, part).All()) {
                    if (PartKey(r.targetPart) == PartKey(to)) {
                        Root(dst.Xml(part)).attribute("cacheId") = cacheId;
                        dst.MarkChanged(part);
                    }
                }
            }
            PointCacheAtItsSource(dst, to, name, copiedTables, tableRenames,
                                  LinkTarget(source.path(), target.path()));
            dst.MarkChanged(dstWorkbook);
        }
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
