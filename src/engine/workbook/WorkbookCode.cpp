// The project is read whole when the workbook has one and written back only when changed; sheet code names are
// read from the first bytes of their parts.
#include "engine/workbook/WorkbookCode.h"

#include <algorithm>

#include "engine/EngineError.h"
#include "engine/package/ContentTypes.h"
#include "engine/package/Package.h"
#include "engine/package/PartNames.h"
#include "engine/package/Relationships.h"
#include "engine/package/Xml.h"
#include "engine/workbook/Workbook.h"
#include "platform/TextCase.h"

namespace orv::engine {

namespace {

constexpr const char* kProjectRelType = "http://schemas.microsoft.com/office/2006/relationships/vbaProject";
constexpr const char* kProjectType = "application/vnd.ms-office.vbaProject";
constexpr std::size_t kMaxCodeName = 31;

pugi::xml_node WorkbookProperties(Package& package, const std::string& workbookPart) {
    return Child(Root(package.Xml(workbookPart)), "workbookPr");
}

}  // namespace

std::string SheetCodeName(Package& package, const std::string& part) {
    // The sheet's properties come first; a sheet of millions of cells is not read for them.
    const std::string head = package.ReadStart(part, 64u << 10);
    std::size_t properties = head.find("sheetPr");
    // Not sheetProtection, which starts alike.
    while (properties != std::string::npos && properties + 7 < head.size() &&
           std::string_view(" \t\r\n/>").find(head[properties + 7]) == std::string_view::npos)
        properties = head.find("sheetPr", properties + 7);
    if (properties == std::string::npos || head.find("<sheetData", 0) < properties) return "";
    const std::size_t close = head.find('>', properties);
    const std::string_view element = std::string_view(head).substr(properties, close - properties);
    const std::size_t attribute = element.find("codeName=");
    if (attribute == std::string_view::npos || attribute + 10 > element.size()) return "";
    const char quote = element[attribute + 9];
    const std::size_t end = element.find(quote, attribute + 10);
    if (end == std::string_view::npos) return "";
    std::string name(element.substr(attribute + 10, end - attribute - 10));
    // Code names are plain identifiers; an entity in one would need an XML parser, and is taken as none.
    if (name.find('&') != std::string::npos) return "";
    return name;
}

WorkbookCode::WorkbookCode(WorkbookDocument& document)
    : m_document(document), m_package(document.package()), m_workbookPart(document.workbookPart()) {
    ContentTypes types(m_package);
    m_macroEnabled = types.TypeOf(m_workbookPart).find("macroEnabled") != std::string::npos;
    if (auto rel = Relationships(m_package, m_workbookPart).FirstOfKind("vbaProject")) {
        if (!rel->targetPart.empty() && m_package.Has(rel->targetPart)) {
            m_part = rel->targetPart;
            m_project.emplace(vba::Project::Read(m_package.Read(m_part), m_package.displayName()));
        }
    }
}

std::string WorkbookCode::workbookCodeName() {
    return WorkbookProperties(m_package, m_workbookPart).attribute("codeName").value();
}

void WorkbookCode::CreateLike(const vba::Project& like) {
    if (m_project) return;
    std::string codeName = workbookCodeName();
    if (codeName.empty()) codeName = "ThisWorkbook";
    m_project.emplace(vba::Project::NewLike(like, codeName));
    m_created = true;
}

bool WorkbookCode::CodeNameTaken(const std::string& name) {
    const std::string key = platform::FoldCase(name);
    auto same = [&](const std::string& other) { return platform::FoldCase(other) == key; };
    if (m_project && m_project->Taken(name)) return true;
    if (same(workbookCodeName()) || std::any_of(m_reserved.begin(), m_reserved.end(), same)) return true;
    if (!m_sheetCodeNames) {
        m_sheetCodeNames.emplace();
        for (const auto& sheet : m_document.sheets()) {
            if (!sheet.part.empty()) m_sheetCodeNames->push_back(SheetCodeName(m_package, sheet.part));
        }
    }
    return std::any_of(m_sheetCodeNames->begin(), m_sheetCodeNames->end(), same);
}

std::string WorkbookCode::FreeCodeName(const std::string& wanted) {
    if (!CodeNameTaken(wanted)) return wanted;
    for (int n = 1;; ++n) {
        const std::string suffix = std::to_string(n);
        const std::string base = platform::FirstCharacters(wanted, kMaxCodeName - suffix.size());
        if (!CodeNameTaken(base + suffix)) return base + suffix;
    }
}

std::string WorkbookCode::Commit() {
    if (!m_project) return "";
    if (m_created) {
        m_part = "xl/vbaProject.bin";
        for (int n = 2; m_package.Has(m_part); ++n) m_part = "xl/vbaProject" + std::to_string(n) + ".bin";
        Relationships(m_package, m_workbookPart).Add(kProjectRelType, m_part);
        ContentTypes(m_package).SetOverride(m_part, kProjectType);
        auto workbook = Root(m_package.Xml(m_workbookPart));
        auto properties = Child(workbook, "workbookPr");
        if (!properties) {
            pugi::xml_node after;
            for (const char* before : {"fileVersion", "fileSharing"}) {
                if (auto n = Child(workbook, before)) after = n;
            }
            const std::string uri(NamespaceOf(workbook));
            properties = after ? InsertElementAfter(workbook, after, uri, "workbookPr")
                               : InsertElementBefore(workbook, workbook.first_child(), uri, "workbookPr");
        }
        if (!properties.attribute("codeName"))
            properties.append_attribute("codeName") = m_project->modules().front().name.c_str();
        m_package.MarkChanged(m_workbookPart);
        m_created = false;
    }
    // Deflated ahead with the fast deflater the rewritten sheets use: a project can be megabytes.
    m_package.WriteDeflated(m_part, Deflate(m_project->Write()));
    // A signature covers the project as it was; the application refuses one that no longer matches.
    Relationships rels(m_package, m_part);
    bool unsigned_ = false;
    for (const auto& rel : rels.All()) {
        if (rel.type.find("vbaProjectSignature") == std::string::npos) continue;
        rels.Remove(rel.id);
        if (!rel.targetPart.empty() && m_package.Has(rel.targetPart)) m_package.Remove(rel.targetPart);
        unsigned_ = true;
    }
    if (!unsigned_) return "";
    return "The macro project of \"" + m_package.displayName() +
           "\" was signed; the signature was removed because the project changed. Sign the project again in "
           "the spreadsheet application if it must be trusted.";
}

std::optional<WorkbookCode> WithoutSheetModule(WorkbookDocument& document, const std::string& part) {
    if (part.empty()) return std::nullopt;
    const std::string codeName = SheetCodeName(document.package(), part);
    if (codeName.empty()) return std::nullopt;
    std::optional<WorkbookCode> code(std::in_place, document);
    if (!code->hasProject() || !code->project().Find(codeName)) return std::nullopt;
    code->project().RemoveModule(codeName);
    return code;
}

}  // namespace orv::engine
