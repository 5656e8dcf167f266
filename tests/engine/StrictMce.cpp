// Markup-compatibility processing on a libxml2 tree, for the strict reader of the engine tests.
#include "StrictMce.h"

#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace orv::engine::test {

namespace {

constexpr const char* kMc = "http://schemas.openxmlformats.org/markup-compatibility/2006";
constexpr std::string_view kXml = "http://www.w3.org/XML/1998/namespace";

// The target namespaces of the schemas in tests/fixtures/schemas.
const std::set<std::string_view> kUnderstood = {
    "http://schemas.openxmlformats.org/spreadsheetml/2006/main",
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships",
    "http://schemas.openxmlformats.org/officeDocument/2006/sharedTypes",
    "http://schemas.openxmlformats.org/officeDocument/2006/extended-properties",
    "http://schemas.openxmlformats.org/officeDocument/2006/docPropsVTypes",
    "http://schemas.openxmlformats.org/drawingml/2006/main",
    "http://schemas.openxmlformats.org/drawingml/2006/spreadsheetDrawing",
    "http://schemas.openxmlformats.org/drawingml/2006/chart",
    "http://schemas.openxmlformats.org/drawingml/2006/chartDrawing",
    "http://schemas.openxmlformats.org/drawingml/2006/picture",
    "http://schemas.openxmlformats.org/drawingml/2006/diagram",
    "http://schemas.openxmlformats.org/drawingml/2006/compatibility",
    "http://schemas.openxmlformats.org/drawingml/2006/lockedCanvas",
};

struct Scope {
    std::set<std::string, std::less<>> ignorable;                  // namespace names not understood
    std::set<std::pair<std::string, std::string>> processContent;  // namespace name, local name or "*"
};

std::string_view Text(const xmlChar* text) { return text ? reinterpret_cast<const char*>(text) : ""; }
std::string_view Href(const xmlNs* ns) { return ns ? Text(ns->href) : ""; }

bool Is(const xmlNode* node, std::string_view ns, std::string_view name) {
    return Href(node->ns) == ns && Text(node->name) == name;
}

// The whitespace-separated words of an attribute of `node` (in namespace `ns`, or in none).
std::vector<std::string> Words(xmlNodePtr node, const char* name, const char* ns) {
    xmlChar* value =
        ns ? xmlGetNsProp(node, reinterpret_cast<const xmlChar*>(name), reinterpret_cast<const xmlChar*>(ns))
           : xmlGetNoNsProp(node, reinterpret_cast<const xmlChar*>(name));
    std::vector<std::string> words;
    if (!value) return words;
    std::istringstream in{std::string(Text(value))};
    for (std::string word; in >> word;) words.push_back(word);
    xmlFree(value);
    return words;
}

std::string NamespaceOfPrefix(xmlDocPtr doc, xmlNodePtr node, const std::string& prefix) {
    const xmlNs* ns = xmlSearchNs(doc, node, reinterpret_cast<const xmlChar*>(prefix.c_str()));
    return std::string(Href(ns));
}

void ReadScope(xmlDocPtr doc, xmlNodePtr element, Scope& scope) {
    for (const auto& prefix : Words(element, "Ignorable", kMc)) {
        const auto ns = NamespaceOfPrefix(doc, element, prefix);
        if (!ns.empty() && !kUnderstood.count(ns)) scope.ignorable.insert(ns);
    }
    for (const auto& name : Words(element, "ProcessContent", kMc)) {
        const auto colon = name.find(':');
        if (colon == std::string::npos) continue;
        scope.processContent.emplace(NamespaceOfPrefix(doc, element, name.substr(0, colon)),
                                     name.substr(colon + 1));
    }
}

void RemoveIgnoredAttributes(xmlNodePtr element, const Scope& scope) {
    for (xmlAttrPtr attribute = element->properties; attribute;) {
        const xmlAttrPtr next = attribute->next;
        const auto ns = Href(attribute->ns);
        if (ns == kMc || scope.ignorable.find(ns) != scope.ignorable.end() ||
            (ns == kXml && Text(attribute->name) == "space"))
            xmlRemoveProp(attribute);
        attribute = next;
    }
}

// The branch of an mc:AlternateContent a consumer of the understood vocabularies takes, or null.
xmlNodePtr ChosenBranch(xmlDocPtr doc, xmlNodePtr alternate) {
    for (xmlNodePtr branch = alternate->children; branch; branch = branch->next) {
        if (branch->type != XML_ELEMENT_NODE) continue;
        if (Is(branch, kMc, "Fallback")) return branch;
        if (!Is(branch, kMc, "Choice")) continue;
        bool understood = true;
        for (const auto& prefix : Words(branch, "Requires", nullptr))
            understood = understood && kUnderstood.count(NamespaceOfPrefix(doc, branch, prefix)) > 0;
        if (understood) return branch;
    }
    return nullptr;
}

// The elements hoisted out of `from` still point at namespace declarations made on it: they move to `to`.
void MoveNamespaceDeclarations(xmlNodePtr from, xmlNodePtr to) {
    if (!from->nsDef) return;
    xmlNsPtr* end = &to->nsDef;
    while (*end) end = &(*end)->next;
    *end = from->nsDef;
    from->nsDef = nullptr;
}

// Puts the children of `branch` (a descendant of `node`, or `node` itself, or null) where `node` stands and
// drops `node`; returns the first node that took its place, or what followed it.
xmlNodePtr Replace(xmlNodePtr node, xmlNodePtr branch) {
    if (branch) {
        for (xmlNodePtr step = branch; step != node->parent; step = step->parent)
            MoveNamespaceDeclarations(step, node->parent);
    }
    xmlNodePtr first = nullptr;
    while (branch && branch->children) {
        xmlNodePtr child = branch->children;
        xmlUnlinkNode(child);
        // Adjacent text merges into the node before: the returned node is the one that stays.
        xmlNodePtr placed = xmlAddPrevSibling(node, child);
        if (!first) first = placed;
    }
    xmlNodePtr next = first ? first : node->next;
    xmlUnlinkNode(node);
    xmlFreeNode(node);
    return next;
}

bool IsExtensionContent(const xmlNode* element) {
    return Text(element->name) == "ext" && element->parent && element->parent->type == XML_ELEMENT_NODE &&
           Text(element->parent->name) == "extLst";
}

bool DeclaresScope(xmlNodePtr element) {
    const auto mc = reinterpret_cast<const xmlChar*>(kMc);
    return xmlHasNsProp(element, reinterpret_cast<const xmlChar*>("Ignorable"), mc) ||
           xmlHasNsProp(element, reinterpret_cast<const xmlChar*>("ProcessContent"), mc);
}

void Process(xmlDocPtr doc, xmlNodePtr element, const Scope& inherited) {
    // Most elements declare nothing: they share their parent's scope rather than copy it.
    Scope own;
    const bool declares = DeclaresScope(element);
    if (declares) {
        own = inherited;
        ReadScope(doc, element, own);
    }
    const Scope& scope = declares ? own : inherited;
    RemoveIgnoredAttributes(element, scope);
    if (IsExtensionContent(element)) return;
    for (xmlNodePtr child = element->children; child;) {
        if (child->type != XML_ELEMENT_NODE) {
            child = child->next;
            continue;
        }
        const auto ns = Href(child->ns);
        if (Is(child, kMc, "AlternateContent")) {
            child = Replace(child, ChosenBranch(doc, child));
        } else if (scope.ignorable.find(ns) != scope.ignorable.end()) {
            const std::string name(ns);
            const bool keepContent = scope.processContent.count({name, "*"}) ||
                                     scope.processContent.count({name, std::string(Text(child->name))});
            child = Replace(child, keepContent ? child : nullptr);
        } else {
            Process(doc, child, scope);
            child = child->next;
        }
    }
}

}  // namespace

void ApplyMarkupCompatibility(xmlDocPtr doc) {
    if (xmlNodePtr root = xmlDocGetRootElement(doc)) Process(doc, root, Scope{});
}

}  // namespace orv::engine::test
