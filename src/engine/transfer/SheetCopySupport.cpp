// Helpers of the sheet transplant: finding parts, names and links, and carrying pivot caches and persons.
#include "engine/transfer/SheetCopySupport.h"

#include <algorithm>
#include <filesystem>

#include "engine/package/ContentTypes.h"
#include "engine/package/PartNames.h"
#include "engine/package/Relationships.h"
#include "engine/package/Xml.h"
#include "engine/workbook/References.h"
#include "engine/workbook/SheetNames.h"
#include "platform/Paths.h"

namespace orv::engine {

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
    const auto from = fs::absolute(platform::PathFromUtf8(targetPath), ec).parent_path();
    const auto to = fs::absolute(platform::PathFromUtf8(sourcePath), ec);
    const auto relative = fs::relative(to, from, ec);
    if (!ec && !relative.empty() && !platform::GenericUtf8(relative).starts_with(".."))
        return platform::GenericUtf8(relative);
    const std::string generic = platform::GenericUtf8(to);
    return "file:///" + generic.substr(generic.front() == '/' ? 1 : 0);
}

// A table name free among the target's tables and defined names: "Tbl1", then "Tbl1_2", "Tbl1_3"...
std::string FreeTableName(const std::string& name, const std::set<std::string>& taken) {
    if (!taken.count(platform::FoldCase(name))) return name;
    for (int n = 2;; ++n) {
        const std::string candidate = name + "_" + std::to_string(n);
        if (!taken.count(platform::FoldCase(candidate))) return candidate;
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
    return InsertElementBefore(workbook, before, NamespaceOf(workbook), "definedNames");
}

void AddDefinedName(pugi::xml_node workbook, const pugi::xml_node& like, const std::string& text,
                    int localSheetId) {
    auto names = DefinedNamesOf(workbook, true);
    auto made = ImportNode(names, like);
    made.remove_attribute("localSheetId");
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
void PointCacheAtItsSource(Package& dst, const std::string& cache, const std::vector<std::string>& copyNames,
                           const std::set<std::string>& copiedTables,
                           const std::map<std::string, std::string>& tableRenames,
                           const std::string& sourceFile) {
    auto root = Root(dst.Xml(cache));
    for (auto source : Descendants(root, "worksheetSource")) {
        if (auto sheet = source.attribute("sheet");
            sheet && std::any_of(copyNames.begin(), copyNames.end(),
                                 [&](const std::string& n) { return SheetNamesEqual(sheet.value(), n); }))
            continue;
        if (auto table = source.attribute("name")) {
            if (auto it = tableRenames.find(table.value()); it != tableRenames.end()) {
                table = it->second.c_str();
                continue;
            }
            if (copiedTables.count(platform::FoldCase(table.value()))) continue;
        }
        if (RelAttribute(source, "id")) continue;
        const std::string id =
            Relationships(dst, cache)
                .AddExternal(
                    "http://schemas.openxmlformats.org/officeDocument/2006/relationships/externalLinkPath",
                    sourceFile);
        SetAttribute(source, RelationshipsNamespace(source), "id", "r", id.c_str());
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
            ImportNode(mine, p);
    }
    dst.MarkChanged(to->targetPart);
}

void RegisterPivotCaches(Package& src, const std::string& srcWorkbook, Package& dst,
                         const std::string& dstWorkbook, const PartCopier& copier,
                         const std::vector<std::string>& copyNames, const std::set<std::string>& copiedTables,
                         const std::map<std::string, std::string>& tableRenames,
                         const std::string& sourceFile) {
    ContentTypes dstTypes(dst);
    auto dstBook = Root(dst.Xml(dstWorkbook));
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
            caches = InsertElementBefore(dstBook, before, NamespaceOf(dstBook), "pivotCaches");
        }
        unsigned cacheId = 0;
        for (auto c : Children(caches, "pivotCache"))
            cacheId = std::max(cacheId, c.attribute("cacheId").as_uint());
        ++cacheId;
        auto made = AppendElement(caches, NamespaceOf(caches), "pivotCache");
        made.append_attribute("cacheId") = cacheId;
        SetAttribute(made, RelationshipsNamespace(made), "id", "r", id.c_str());
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
        PointCacheAtItsSource(dst, to, copyNames, copiedTables, tableRenames, sourceFile);
        dst.MarkChanged(dstWorkbook);
    }
}

}  // namespace orv::engine
