// The structural checker used after every operation in the tests and by the command-line tool.
#include "engine/workbook/PackageCheck.h"

#include <set>

#include "engine/package/ContentTypes.h"
#include "engine/package/Package.h"
#include "engine/package/PartGraph.h"
#include "engine/package/PartNames.h"
#include "engine/package/Relationships.h"
#include "engine/package/Xml.h"
#include "engine/workbook/SheetNames.h"
#include "engine/workbook/WorkbookPart.h"

namespace orv::engine {

namespace {

bool IsRelsPart(const std::string& part) { return part.ends_with(".rels"); }

void CheckRelationships(Package& package, std::vector<std::string>& problems) {
    std::vector<std::string> sources{""};
    for (const auto& part : package.PartNames()) {
        if (!IsRelsPart(part) && part != kContentTypesPart) sources.push_back(part);
    }
    for (const auto& source : sources) {
        Relationships rels(package, source);
        std::set<std::string> ids;
        for (const auto& rel : rels.All()) {
            if (!ids.insert(rel.id).second)
                problems.push_back(rels.relsPart() + " repeats the id " + rel.id + ".");
            if (rel.external || rel.target.starts_with("#")) continue;
            if (rel.targetPart.empty() || !package.Has(rel.targetPart)) {
                problems.push_back(rels.relsPart() + ": " + rel.id + " points to the missing part " +
                                   rel.target + ".");
            }
        }
        if (source.empty() || !source.ends_with(".xml")) continue;
        // Every r:id in the part must name one of its relationships.
        for (const auto& attribute : RelAttributes(Root(package.Xml(source)))) {
            const std::string id = attribute.value();
            if (!id.empty() && !ids.count(id)) {
                problems.push_back(source + " uses the relationship id " + id + ", which it does not have.");
            }
        }
    }
    for (const auto& part : package.PartNames()) {
        if (!IsRelsPart(part)) continue;
        // A relationships part belongs to a part that exists ("_rels/.rels" to the package).
        const auto folder = PartFolder(part);
        if (part == "_rels/.rels") continue;
        const std::string owner =
            folder.substr(0, folder.size() - 6) + part.substr(folder.size(), part.size() - folder.size() - 5);
        if (!package.Has(owner)) problems.push_back(part + " belongs to the missing part " + owner + ".");
    }
}

void CheckContentTypes(Package& package, std::vector<std::string>& problems) {
    ContentTypes types(package);
    for (const auto& part : package.PartNames()) {
        if (part == kContentTypesPart) continue;
        if (types.TypeOf(part).empty()) problems.push_back(part + " has no content type.");
    }
    for (auto o : Children(Root(package.Xml(kContentTypesPart)), "Override")) {
        const std::string part = o.attribute("PartName").value();
        if (!package.Has(part))
            problems.push_back("[Content_Types].xml has an override for the missing part " + part + ".");
    }
}

void CheckWorkbook(Package& package, std::vector<std::string>& problems) {
    auto main = Relationships(package, "").FirstOfKind("officeDocument");
    if (!main || !package.Has(main->targetPart)) {
        problems.push_back("The package names no workbook part.");
        return;
    }
    auto& workbook = package.Xml(main->targetPart);
    const auto sheets = SheetElements(workbook);
    std::vector<std::string> names;
    std::set<std::string> ids;
    int visible = 0;
    for (auto sheet : sheets) {
        const std::string name = sheet.attribute("name").value();
        for (std::size_t i = 0; i < names.size(); ++i) {
            if (SheetNamesEqual(names[i], name)) problems.push_back("Two sheets are named \"" + name + "\".");
        }
        if (auto problem = SheetNameProblem(name))
            problems.push_back("Sheet name \"" + name + "\": " + *problem);
        names.push_back(name);
        if (!ids.insert(sheet.attribute("sheetId").value()).second) {
            problems.push_back("Two sheets have the sheetId " +
                               std::string(sheet.attribute("sheetId").value()) + ".");
        }
        const std::string_view state = sheet.attribute("state").value();
        if (state.empty() || state == "visible") ++visible;
    }
    if (sheets.empty()) problems.push_back("The workbook has no sheets.");
    if (!sheets.empty() && visible == 0) problems.push_back("The workbook has no visible sheet.");
    const int count = static_cast<int>(sheets.size());
    std::set<std::pair<std::string, int>> definedNames;
    for (auto name : Children(Child(Root(workbook), "definedNames"), "definedName")) {
        const int scope = name.attribute("localSheetId") ? name.attribute("localSheetId").as_int() : -1;
        if (scope >= count || scope < -1) {
            problems.push_back("Defined name " + std::string(name.attribute("name").value()) +
                               " has localSheetId " + std::to_string(scope) + ", out of range.");
        }
        if (!definedNames.insert({platform::FoldCase(name.attribute("name").value()), scope}).second) {
            problems.push_back("Defined name " + std::string(name.attribute("name").value()) +
                               " is defined twice in one scope.");
        }
    }
    for (auto view : Children(Child(Root(workbook), "bookViews"), "workbookView")) {
        for (const char* attr : {"activeTab", "firstSheet"}) {
            const int value = view.attribute(attr).as_int();
            if (value < 0 || value >= count)
                problems.push_back(std::string(attr) + " " + std::to_string(value) + " is out of range.");
        }
    }
}

}  // namespace

std::vector<std::string> UnreachableParts(Package& package) {
    const auto reachable = ReachableParts(package);
    std::vector<std::string> out;
    for (const auto& part : package.PartNames()) {
        if (part == kContentTypesPart || IsRelsPart(part)) continue;
        if (!reachable.count(PartKey(part))) out.push_back(part);
    }
    return out;
}

std::vector<std::string> CheckPackage(Package& package) {
    std::vector<std::string> problems;
    if (!package.Has(kContentTypesPart)) {
        problems.push_back("The package has no [Content_Types].xml.");
        return problems;
    }
    CheckContentTypes(package, problems);
    CheckRelationships(package, problems);
    CheckWorkbook(package, problems);
    return problems;
}

}  // namespace orv::engine
