// Opening a workbook package, listing its sheets, moving sheets and saving.
#include "engine/workbook/Workbook.h"

#include <algorithm>
#include <numeric>
#include <unordered_map>

#include "engine/EngineError.h"
#include "engine/package/ContentTypes.h"
#include "engine/package/PartNames.h"
#include "engine/package/Relationships.h"
#include "engine/package/Xml.h"
#include "engine/workbook/AppProperties.h"
#include "engine/workbook/WorkbookPart.h"

namespace orv::engine {

namespace {

constexpr std::string_view kTransitionalMain = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
constexpr std::string_view kStrictMain = "http://purl.oclc.org/ooxml/spreadsheetml/main";

SheetKind KindOf(const std::string& relType) {
    if (RelTypeIs(relType, "chartsheet")) return SheetKind::Chartsheet;
    if (RelTypeIs(relType, "dialogsheet")) return SheetKind::Dialogsheet;
    if (RelTypeIs(relType, "xlMacrosheet") || RelTypeIs(relType, "xlIntlMacrosheet"))
        return SheetKind::Macrosheet;
    return SheetKind::Worksheet;
}

SheetState StateOf(std::string_view state) {
    if (state == "hidden") return SheetState::Hidden;
    if (state == "veryHidden") return SheetState::VeryHidden;
    return SheetState::Visible;
}

}  // namespace

const char* KindName(SheetKind kind) {
    switch (kind) {
        case SheetKind::Worksheet:
            return "worksheet";
        case SheetKind::Chartsheet:
            return "chartsheet";
        case SheetKind::Dialogsheet:
            return "dialogsheet";
        case SheetKind::Macrosheet:
            return "macrosheet";
    }
    return "worksheet";
}

const char* StateName(SheetState state) {
    switch (state) {
        case SheetState::Visible:
            return "visible";
        case SheetState::Hidden:
            return "hidden";
        case SheetState::VeryHidden:
            return "veryHidden";
    }
    return "visible";
}

std::unique_ptr<WorkbookDocument> WorkbookDocument::Open(const std::string& path, InflateLimits limits) {
    std::unique_ptr<WorkbookDocument> doc(new WorkbookDocument(Package::Open(path, limits)));
    doc->Load();
    return doc;
}

WorkbookDocument::WorkbookDocument(std::unique_ptr<Package> package) : m_package(std::move(package)) {}

void WorkbookDocument::Load() {
    Package& pkg = *m_package;
    const std::string& file = pkg.displayName();
    if (!pkg.Has("_rels/.rels") || !pkg.Has(kContentTypesPart)) {
        throw EngineError(
            "\"" + file +
            "\" is not a workbook: it is a zip archive without the parts every Office document has.");
    }
    auto main = Relationships(pkg, "").FirstOfKind("officeDocument");
    if (!main || main->targetPart.empty()) {
        throw EngineError("\"" + file + "\" is not a workbook: its package names no main document.");
    }
    if (!pkg.Has(main->targetPart)) {
        throw EngineError("\"" + file + "\" is damaged: its workbook part \"" + main->targetPart +
                          "\" is missing. Open the file in the spreadsheet application to repair it.");
    }
    m_workbookPart = *pkg.Spelling(main->targetPart);
    const std::string type = ContentTypes(pkg).TypeOf(m_workbookPart);
    if (ContentTypeIs(type, "sheet.binary.macroEnabled.main")) {
        throw EngineError("\"" + file +
                          "\" is a binary workbook (.xlsb), which this program cannot change. Save it "
                          "as .xlsx in the spreadsheet application.");
    }
    const bool spreadsheet =
        type.find("spreadsheetml") != std::string::npos || type.find("ms-excel") != std::string::npos;
    if (!ContentTypeIs(type, ".main+xml") || !spreadsheet) {
        throw EngineError("\"" + file + "\" is not a workbook: its main part is of type \"" + type + "\".");
    }
    const auto& workbook = pkg.Xml(m_workbookPart);
    if (LocalName(Root(workbook)) != "workbook") {
        throw EngineError("\"" + file + "\" is damaged: its workbook part holds no workbook.");
    }
    // Pre-release files use other namespaces for the same names; read as a workbook of the standard, their
    // parts would be misunderstood.
    if (const auto ns = NamespaceOf(Root(workbook)); ns != kTransitionalMain && ns != kStrictMain) {
        throw EngineError("\"" + file + "\" is not a workbook of the Office Open XML standard: its workbook part is in the namespace \"" +
                          std::string(ns) +
                          "\" (a pre-release or foreign format), which this program cannot change. Open it in the "
                          "spreadsheet application and save it as .xlsx.");
    }
    Relationships rels(pkg, m_workbookPart);
    const auto all = rels.All();
    // Looked up by id and by part once per sheet: a workbook can have thousands of sheets.
    std::unordered_map<std::string, const Relationship*> byId;
    for (const auto& r : all) byId.try_emplace(r.id, &r);
    std::unordered_map<std::string, std::string> sheetOfPart;  // by part key
    const std::string workbookKey = PartKey(m_workbookPart);
    const std::string typesKey = PartKey(kContentTypesPart);
    for (auto sheet : SheetElements(workbook)) {
        SheetInfo info;
        info.name = sheet.attribute("name").value();
        info.state = StateOf(sheet.attribute("state").value());
        // An entry without a relationship has no part: the application writes such placeholders for the
        // modules of a VBA project, which are not worksheets.
        info.kind = SheetKind::Macrosheet;
        if (auto id = RelAttribute(sheet, "id"); id && *id.value()) {
            info.relId = id.value();
            const auto found = byId.find(info.relId);
            if (found == byId.end()) {
                throw EngineError(
                    "\"" + file + "\" is damaged: sheet \"" + info.name +
                    "\" names a relationship that does not exist. Open the file in the spreadsheet "
                    "application to repair it.");
            }
            const Relationship* rel = found->second;
            info.kind = KindOf(rel->type);
            info.part = rel->targetPart;
            if (info.part.empty() || !pkg.Has(info.part)) {
                throw EngineError("\"" + file + "\" is damaged: the part of sheet \"" + info.name + "\" (" +
                                  rel->target +
                                  ") is missing. Open the file in the spreadsheet application to repair it.");
            }
            info.part = *pkg.Spelling(info.part);
            // A sheet part that is not a sheet's own (the workbook, a relationships part, another sheet's part)
            // would be removed with the sheet and take the rest of the workbook with it.
            const std::string key = PartKey(info.part);
            if (key == workbookKey || key.ends_with(".rels") || key == typesKey) {
                throw EngineError("\"" + file + "\" is damaged: sheet \"" + info.name + "\" points to the part \"" +
                                  info.part +
                                  "\", which is not a sheet. Open the file in the spreadsheet application to "
                                  "repair it.");
            }
            if (const auto [other, fresh] = sheetOfPart.try_emplace(key, info.name); !fresh) {
                throw EngineError("\"" + file + "\" is damaged: sheets \"" + other->second + "\" and \"" + info.name +
                                  "\" point to the same part (" + info.part +
                                  "). Open the file in the spreadsheet application to repair it.");
            }
        }
        m_sheets.push_back(std::move(info));
    }
    if (m_sheets.empty()) throw EngineError("\"" + file + "\" is damaged: its workbook has no sheets.");
    m_savedNames = SheetNames();
}

void WorkbookDocument::CheckIndex(int index) const {
    if (index < 0 || index >= static_cast<int>(m_sheets.size())) {
        throw EngineError("\"" + displayName() + "\" has no sheet number " + std::to_string(index + 1) +
                          " (it has " + std::to_string(m_sheets.size()) + ").");
    }
}

void WorkbookDocument::CheckStructureUnlocked(const char* operation) {
    if (StructureLocked(m_package->Xml(m_workbookPart))) {
        throw EngineError(
            std::string("Cannot ") + operation + " a sheet of \"" + displayName() +
            "\": the workbook's structure is protected. Unprotect the workbook in the spreadsheet "
            "application, then try again.");
    }
}

std::vector<std::string> WorkbookDocument::SheetNames() const {
    std::vector<std::string> names;
    for (const auto& s : m_sheets) names.push_back(s.name);
    return names;
}

void WorkbookDocument::Move(int index, int newIndex) {
    CheckIndex(index);
    CheckIndex(newIndex);
    if (index == newIndex) return;
    CheckStructureUnlocked("move");
    auto& workbook = m_package->Xml(m_workbookPart);
    auto elements = SheetElements(workbook);
    auto sheets = elements.front().parent();
    const auto moving = elements[static_cast<std::size_t>(index)];
    const auto anchor = elements[static_cast<std::size_t>(newIndex)];
    if (newIndex > index) {
        sheets.insert_move_after(moving, anchor);
    } else {
        sheets.insert_move_before(moving, anchor);
    }
    // order[new position] = old position
    std::vector<int> order(m_sheets.size());
    std::iota(order.begin(), order.end(), 0);
    order.erase(order.begin() + index);
    order.insert(order.begin() + newIndex, index);
    std::vector<int> newOf(order.size());
    for (std::size_t p = 0; p < order.size(); ++p)
        newOf[static_cast<std::size_t>(order[p])] = static_cast<int>(p);
    auto map = [&](int old) {
        return old >= 0 && old < static_cast<int>(newOf.size()) ? newOf[static_cast<std::size_t>(old)] : old;
    };

    auto info = m_sheets[static_cast<std::size_t>(index)];
    m_sheets.erase(m_sheets.begin() + index);
    m_sheets.insert(m_sheets.begin() + newIndex, std::move(info));
    std::vector<bool> visible;
    for (const auto& s : m_sheets) visible.push_back(s.state == SheetState::Visible && !s.part.empty());

    RemapLocalSheetIds(workbook, map);
    RemapBookViews(workbook, map, visible);
    m_package->MarkChanged(m_workbookPart);
    AppReorderSheets(*m_package, SheetNames());
}

int WorkbookDocument::InsertSheet(int afterIndex, const std::string& name, const std::string& part,
                                  SheetState state, SheetKind kind) {
    CheckIndex(afterIndex);
    auto& workbook = m_package->Xml(m_workbookPart);
    Relationships rels(*m_package, m_workbookPart);
    std::string type = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet";
    if (auto any = rels.FirstOfKind("worksheet")) type = any->type;
    if (kind == SheetKind::Chartsheet) {
        // The worksheets' relationship type tells the namespace flavour (transitional or strict) to follow.
        type.replace(type.rfind("worksheet"), 9, "chartsheet");
        if (auto any = rels.FirstOfKind("chartsheet")) type = any->type;
    }
    const std::string id = rels.Add(type, part);
    auto elements = SheetElements(workbook);
    unsigned highest = 0;
    for (auto e : elements) highest = std::max(highest, e.attribute("sheetId").as_uint());
    const auto anchor = elements[static_cast<std::size_t>(afterIndex)];
    auto sheet = InsertElementAfter(anchor.parent(), anchor, NamespaceOf(anchor), "sheet");
    sheet.append_attribute("name") = name.c_str();
    sheet.append_attribute("sheetId") = highest + 1;
    if (state != SheetState::Visible) sheet.append_attribute("state") = StateName(state);
    std::string relsNamespace = RelationshipsNamespace(sheet);
    if (auto a = RelAttribute(anchor, "id")) {
        const std::string_view qualified(a.name());
        relsNamespace = NamespaceUri(anchor, qualified.substr(0, qualified.find(':')));
    }
    SetAttribute(sheet, relsNamespace, "id", "r", id.c_str());

    SheetInfo info;
    info.name = name;
    info.relId = id;
    info.part = part;
    info.state = state;
    info.kind = kind;
    const int index = afterIndex + 1;
    m_sheets.insert(m_sheets.begin() + index, info);
    auto map = [&](int old) { return old >= index ? old + 1 : old; };
    RemapLocalSheetIds(workbook, map);
    std::vector<bool> visible;
    for (const auto& s : m_sheets) visible.push_back(s.state == SheetState::Visible && !s.part.empty());
    RemapBookViews(workbook, map, visible);
    m_package->MarkChanged(m_workbookPart);
    std::vector<std::string> worksheets;
    for (const auto& s : m_sheets) {
        if (s.kind == kind && s.name != name) worksheets.push_back(s.name);
    }
    AppInsertSheet(*m_package, name, worksheets, SheetNames());
    return index;
}

void WorkbookDocument::Save() { SaveTo(path()); }

void WorkbookDocument::SaveTo(const std::string& path) {
    if (SheetNames() != m_savedNames) CheckStructureUnlocked("rename");
    if (m_package->changed()) ContentTypes(*m_package).Reconcile();
    m_package->Save(path);
    m_savedNames = SheetNames();
}

}  // namespace orv::engine
