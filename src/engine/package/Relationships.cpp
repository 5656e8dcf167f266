// Relationship parts: reading, resolving, adding and removing relationships.
#include "engine/package/Relationships.h"

#include <set>

#include "engine/package/Package.h"
#include "engine/package/PartNames.h"
#include "engine/package/Xml.h"

namespace orv::engine {

bool RelTypeIs(const std::string& type, const char* kind) {
    const auto slash = type.rfind('/');
    return type.compare(slash == std::string::npos ? 0 : slash + 1, std::string::npos, kind) == 0;
}

Relationships::Relationships(Package& package, std::string sourcePart)
    : m_package(package), m_source(std::move(sourcePart)), m_relsPart(RelsPartOf(m_source)) {}

namespace {

Relationship Read(const pugi::xml_node& r, const std::string& source) {
    Relationship rel;
    rel.id = r.attribute("Id").value();
    rel.type = r.attribute("Type").value();
    rel.target = r.attribute("Target").value();
    rel.external = std::string_view(r.attribute("TargetMode").value()) == "External";
    if (!rel.external) rel.targetPart = ResolveTarget(source, rel.target);
    return rel;
}

}  // namespace

std::vector<Relationship> Relationships::All() {
    std::vector<Relationship> out;
    if (!m_package.Has(m_relsPart)) return out;
    for (auto r : Children(Root(m_package.Xml(m_relsPart)), "Relationship")) out.push_back(Read(r, m_source));
    return out;
}

// The lookups resolve only the relationship they return: a workbook of a few hundred sheets asks for each
// sheet's relationship by id.
std::optional<Relationship> Relationships::ById(const std::string& id) {
    if (!m_package.Has(m_relsPart)) return std::nullopt;
    for (auto r : Children(Root(m_package.Xml(m_relsPart)), "Relationship")) {
        if (id == r.attribute("Id").value()) return Read(r, m_source);
    }
    return std::nullopt;
}

std::optional<Relationship> Relationships::FirstOfKind(const char* kind) {
    if (!m_package.Has(m_relsPart)) return std::nullopt;
    for (auto r : Children(Root(m_package.Xml(m_relsPart)), "Relationship")) {
        if (RelTypeIs(r.attribute("Type").value(), kind)) return Read(r, m_source);
    }
    return std::nullopt;
}

void Relationships::Remove(const std::string& id) {
    if (!m_package.Has(m_relsPart)) return;
    auto root = Root(m_package.Xml(m_relsPart));
    for (auto r : Children(root, "Relationship")) {
        if (id == r.attribute("Id").value()) {
            root.remove_child(r);
            m_package.MarkChanged(m_relsPart);
            break;
        }
    }
    if (!Child(root, "Relationship")) m_package.Remove(m_relsPart);
}

std::string Relationships::Add(const std::string& type, const std::string& targetPart) {
    return AddRaw(type, RelativeTarget(m_source, targetPart), false);
}

std::string RelationshipsPartText(const std::vector<Relationship>& rels) {
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n<Relationships "
        "xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
    for (const auto& rel : rels) {
        // Serialized one by one, so that the targets are escaped as the tree writer escapes them.
        pugi::xml_document escape;
        auto r = escape.append_child("Relationship");
        r.append_attribute("Id") = rel.id.c_str();
        r.append_attribute("Type") = rel.type.c_str();
        r.append_attribute("Target") = rel.target.c_str();
        if (rel.external) r.append_attribute("TargetMode") = "External";
        xml += SerializeXml(escape);
    }
    return xml + "</Relationships>";
}

std::string Relationships::AddExternal(const std::string& type, const std::string& target) {
    return AddRaw(type, target, true);
}

std::string Relationships::AddRaw(const std::string& type, const std::string& target, bool external) {
    if (!m_package.Has(m_relsPart)) {
        m_package.Write(
            m_relsPart,
            "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n<Relationships "
            "xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\"></Relationships>");
    }
    auto root = Root(m_package.Xml(m_relsPart));
    std::set<std::string> used;
    for (auto r : Children(root, "Relationship")) used.insert(r.attribute("Id").value());
    int n = 1;
    while (used.count("rId" + std::to_string(n))) ++n;
    const std::string id = "rId" + std::to_string(n);
    auto r = AppendElement(root, NamespaceOf(root), "Relationship");
    r.append_attribute("Id") = id.c_str();
    r.append_attribute("Type") = type.c_str();
    r.append_attribute("Target") = target.c_str();
    if (external) r.append_attribute("TargetMode") = "External";
    m_package.MarkChanged(m_relsPart);
    return id;
}

}  // namespace orv::engine
