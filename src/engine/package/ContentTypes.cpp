// Reading and editing [Content_Types].xml in place.
#include "engine/package/ContentTypes.h"

#include <unordered_map>

#include "engine/package/Package.h"
#include "engine/package/PartNames.h"
#include "engine/package/Xml.h"

namespace orv::engine {

namespace {

// Called for every part of a package by some operations, over as many overrides: the name is compared first,
// in place, and the element looked at only where it matches.
pugi::xml_node FindOverride(pugi::xml_node types, const std::string& part) {
    for (auto o = types.first_child(); o; o = o.next_sibling()) {
        if (SamePartName(o.attribute("PartName").value(), part) && o.type() == pugi::node_element &&
            LocalName(o) == "Override")
            return o;
    }
    return {};
}

std::string DefaultTypeOf(const pugi::xml_node& types, const std::string& part) {
    const std::string ext = Extension(part);
    for (auto d : Children(types, "Default")) {
        if (SamePartName(d.attribute("Extension").value(), ext)) return d.attribute("ContentType").value();
    }
    return {};
}

}  // namespace

std::string ContentTypes::TypeOf(const std::string& part) {
    auto types = Root(m_package.Xml(kContentTypesPart));
    if (auto o = FindOverride(types, part)) return o.attribute("ContentType").value();
    return DefaultTypeOf(types, part);
}

std::vector<std::string> ContentTypes::TypesOf(const std::vector<std::string>& parts) {
    auto types = Root(m_package.Xml(kContentTypesPart));
    // The first of overrides naming the same part, as TypeOf finds it.
    std::unordered_map<std::string, pugi::xml_node> overrides;
    for (auto o : Children(types, "Override")) overrides.try_emplace(PartKey(o.attribute("PartName").value()), o);
    std::vector<std::string> out;
    out.reserve(parts.size());
    for (const auto& part : parts) {
        const auto it = overrides.find(PartKey(part));
        out.push_back(it != overrides.end() ? std::string(it->second.attribute("ContentType").value())
                                            : DefaultTypeOf(types, part));
    }
    return out;
}

bool ContentTypes::HasOverride(const std::string& part) {
    return static_cast<bool>(FindOverride(Root(m_package.Xml(kContentTypesPart)), part));
}

void ContentTypes::SetOverride(const std::string& part, const std::string& type) {
    auto types = Root(m_package.Xml(kContentTypesPart));
    auto o = FindOverride(types, part);
    if (!o) {
        o = AppendElement(types, NamespaceOf(types), "Override");
        o.append_attribute("PartName") = ("/" + (part.front() == '/' ? part.substr(1) : part)).c_str();
        o.append_attribute("ContentType");
    }
    o.attribute("ContentType") = type.c_str();
    m_package.MarkChanged(kContentTypesPart);
}

void ContentTypes::RemoveOverride(const std::string& part) {
    auto types = Root(m_package.Xml(kContentTypesPart));
    if (auto o = FindOverride(types, part)) {
        types.remove_child(o);
        m_package.MarkChanged(kContentTypesPart);
    }
}

bool ContentTypes::HasDefault(const std::string& extension) {
    for (auto d : Children(Root(m_package.Xml(kContentTypesPart)), "Default")) {
        if (PartKey(d.attribute("Extension").value()) == PartKey(extension)) return true;
    }
    return false;
}

void ContentTypes::AddDefault(const std::string& extension, const std::string& type) {
    auto types = Root(m_package.Xml(kContentTypesPart));
    auto first = Child(types, "Override");
    auto d = InsertElementBefore(types, first, NamespaceOf(types), "Default");
    d.append_attribute("Extension") = extension.c_str();
    d.append_attribute("ContentType") = type.c_str();
    m_package.MarkChanged(kContentTypesPart);
}

void ContentTypes::Reconcile() {
    if (!m_package.Has(kContentTypesPart)) return;
    auto types = Root(m_package.Xml(kContentTypesPart));
    for (auto o : Children(types, "Override")) {
        if (m_package.Removed(o.attribute("PartName").value())) {
            types.remove_child(o);
            m_package.MarkChanged(kContentTypesPart);
        }
    }
    for (const auto& part : m_package.PartNames()) {
        if (Extension(part) != "rels" || !TypeOf(part).empty()) continue;
        SetOverride(part, "application/vnd.openxmlformats-package.relationships+xml");
    }
}

bool ContentTypeIs(const std::string& type, const char* suffix) { return type.ends_with(suffix); }

}  // namespace orv::engine
