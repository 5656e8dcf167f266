// XML helpers of the engine over pugixml.
#include "engine/Xml.h"

#include <functional>
#include <set>
#include <sstream>

#include "engine/EngineError.h"

namespace orv::engine {

namespace {

bool ContainsDtd(const std::string& bytes) {
    // A DTD can only appear before the root element; look at the prolog only.
    const std::size_t limit = std::min<std::size_t>(bytes.size(), 4096);
    const std::string_view head(bytes.data(), limit);
    return head.find("<!DOCTYPE") != std::string_view::npos ||
           head.find("<!ENTITY") != std::string_view::npos ||
           head.find("<!doctype") != std::string_view::npos;
}

// Deeper than any workbook nests its elements; the engine's tree walks recurse, so deeper parts are refused.
constexpr int kMaxDepth = 1000;

// True when an element of the document lies more than `limit` levels deep (walked without recursion).
bool TooDeep(const pugi::xml_node& root, int limit) {
    pugi::xml_node node = root.first_child();
    int depth = 1;
    while (node) {
        if (depth > limit) return true;
        if (node.first_child()) {
            node = node.first_child();
            ++depth;
            continue;
        }
        while (!node.next_sibling()) {
            node = node.parent();
            --depth;
            if (!node || node == root) return false;
        }
        node = node.next_sibling();
    }
    return false;
}

std::string_view AfterColon(const char* name) {
    std::string_view s(name);
    const auto colon = s.find(':');
    return colon == std::string_view::npos ? s : s.substr(colon + 1);
}

bool IsRelationshipsNamespace(std::string_view uri) {
    return uri.ends_with("/officeDocument/2006/relationships") ||
           uri.ends_with("/officeDocument/relationships");
}

// The namespace URI bound to `prefix` at `node`, searching outwards.
std::string_view NamespaceOf(pugi::xml_node node, std::string_view prefix) {
    const std::string attr = prefix.empty() ? "xmlns" : "xmlns:" + std::string(prefix);
    for (; node; node = node.parent()) {
        if (auto a = node.attribute(attr.c_str())) return a.value();
    }
    return {};
}

void CollectRelAttributes(const pugi::xml_node& node, std::vector<pugi::xml_attribute>& out) {
    for (auto a = node.first_attribute(); a; a = a.next_attribute()) {
        std::string_view name(a.name());
        const auto colon = name.find(':');
        if (colon == std::string_view::npos || name.starts_with("xmlns")) continue;
        if (IsRelationshipsNamespace(NamespaceOf(node, name.substr(0, colon)))) out.push_back(a);
    }
    for (auto c = node.first_child(); c; c = c.next_sibling()) {
        if (c.type() == pugi::node_element) CollectRelAttributes(c, out);
    }
}

}  // namespace

void ParseXml(pugi::xml_document& doc, const std::string& bytes, const std::string& partName,
              const std::string& fileName) {
    if (ContainsDtd(bytes)) {
        throw EngineError(
            "The part \"" + partName + "\" of \"" + fileName +
            "\" declares a DTD or entities, which workbooks never do; the file is refused for safety.");
    }
    const unsigned options = pugi::parse_default | pugi::parse_declaration | pugi::parse_ws_pcdata |
                             pugi::parse_comments | pugi::parse_pi;
    const auto result = doc.load_buffer(bytes.data(), bytes.size(), options, pugi::encoding_auto);
    if (!result) {
        throw EngineError("The part \"" + partName + "\" of \"" + fileName + "\" is not well-formed XML (" +
                          result.description() + " at byte " + std::to_string(result.offset) +
                          "). Open the file in the spreadsheet application to repair it.");
    }
    if (TooDeep(doc, kMaxDepth)) {
        doc.reset();
        throw EngineError("The part \"" + partName + "\" of \"" + fileName + "\" nests its XML elements more than " +
                          std::to_string(kMaxDepth) +
                          " levels deep, which workbooks never do; the file is refused for safety.");
    }
}

std::string SerializeXml(const pugi::xml_document& doc, const std::string& afterDeclaration) {
    std::ostringstream out;
    doc.save(out, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_utf8);
    std::string bytes = out.str();
    if (!afterDeclaration.empty() && bytes.starts_with("<?xml")) {
        const auto end = bytes.find("?>");
        if (end != std::string::npos) bytes.insert(end + 2, afterDeclaration);
    }
    return bytes;
}

std::string WhitespaceAfterDeclaration(const std::string& bytes) {
    std::size_t start = bytes.starts_with("\xEF\xBB\xBF") ? 3 : 0;
    if (bytes.compare(start, 5, "<?xml") != 0) return {};
    const auto end = bytes.find("?>", start);
    if (end == std::string::npos) return {};
    std::size_t i = end + 2;
    while (i < bytes.size() && (bytes[i] == '\r' || bytes[i] == '\n' || bytes[i] == ' ' || bytes[i] == '\t'))
        ++i;
    return bytes.substr(end + 2, i - end - 2);
}

std::string_view LocalName(const pugi::xml_node& node) { return AfterColon(node.name()); }
std::string_view LocalName(const pugi::xml_attribute& attribute) { return AfterColon(attribute.name()); }

pugi::xml_node Child(const pugi::xml_node& parent, std::string_view localName) {
    for (auto c = parent.first_child(); c; c = c.next_sibling()) {
        if (c.type() == pugi::node_element && LocalName(c) == localName) return c;
    }
    return {};
}

std::vector<pugi::xml_node> Children(const pugi::xml_node& parent, std::string_view localName) {
    std::vector<pugi::xml_node> out;
    for (auto c = parent.first_child(); c; c = c.next_sibling()) {
        if (c.type() == pugi::node_element && LocalName(c) == localName) out.push_back(c);
    }
    return out;
}

std::vector<pugi::xml_node> Descendants(const pugi::xml_node& root, std::string_view localName) {
    std::vector<pugi::xml_node> out;
    struct Walker : pugi::xml_tree_walker {
        std::string_view wanted;
        std::vector<pugi::xml_node>* out;
        bool for_each(pugi::xml_node& node) override {
            if (node.type() == pugi::node_element && LocalName(node) == wanted) out->push_back(node);
            return true;
        }
    } walker;
    walker.wanted = localName;
    walker.out = &out;
    const_cast<pugi::xml_node&>(root).traverse(walker);
    return out;
}

pugi::xml_node Root(const pugi::xml_document& doc) { return doc.document_element(); }

pugi::xml_attribute RelAttribute(const pugi::xml_node& node, std::string_view localName) {
    for (auto a = node.first_attribute(); a; a = a.next_attribute()) {
        std::string_view name(a.name());
        const auto colon = name.find(':');
        if (colon == std::string_view::npos || name.substr(colon + 1) != localName ||
            name.starts_with("xmlns"))
            continue;
        if (IsRelationshipsNamespace(NamespaceOf(node, name.substr(0, colon)))) return a;
    }
    return {};
}

std::vector<pugi::xml_attribute> RelAttributes(const pugi::xml_node& root) {
    std::vector<pugi::xml_attribute> out;
    CollectRelAttributes(root, out);
    return out;
}

std::string SameNamespaceName(const pugi::xml_node& sibling, std::string_view localName) {
    std::string_view name(sibling.name());
    const auto colon = name.find(':');
    if (colon == std::string_view::npos) return std::string(localName);
    return std::string(name.substr(0, colon + 1)) + std::string(localName);
}

std::string PrefixOf(const pugi::xml_node& node) {
    std::string_view name(node.name());
    const auto colon = name.find(':');
    return colon == std::string_view::npos ? std::string() : std::string(name.substr(0, colon + 1));
}

// The node without prefixes and namespace declarations, for comparing by value.
std::string CanonicalXml(const pugi::xml_node& node) {
    if (node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata) return node.value();
    if (node.type() != pugi::node_element) return {};
    std::string out = "<" + std::string(LocalName(node));
    for (auto a = node.first_attribute(); a; a = a.next_attribute()) {
        if (std::string_view(a.name()).starts_with("xmlns")) continue;
        out += " " + std::string(a.name()) + "=" + a.value();
    }
    out += ">";
    for (auto c = node.first_child(); c; c = c.next_sibling()) out += CanonicalXml(c);
    return out + "</>";
}

// Copies `from` under `parent`, renaming elements of the source's main prefix to the target's, and declaring
// the other prefixes the subtree uses so that it stays well-formed in its new document.
pugi::xml_node ImportNode(pugi::xml_node parent, const pugi::xml_node& from, const std::string& srcPrefix,
                          const std::string& dstPrefix) {
    std::set<std::string> prefixes;
    std::function<pugi::xml_node(pugi::xml_node, const pugi::xml_node&)> copy = [&](pugi::xml_node p,
                                                                                    const pugi::xml_node& n) {
        if (n.type() != pugi::node_element) return p.append_copy(n);
        std::string name = n.name();
        const std::string prefix = PrefixOf(n);
        if (prefix == srcPrefix) {
            name = dstPrefix + std::string(LocalName(n));
        } else if (!prefix.empty()) {
            prefixes.insert(prefix.substr(0, prefix.size() - 1));
        }
        auto made = p.append_child(name.c_str());
        for (auto a = n.first_attribute(); a; a = a.next_attribute()) {
            std::string_view an(a.name());
            const auto colon = an.find(':');
            if (colon != std::string_view::npos && !an.starts_with("xmlns") && an.substr(0, colon) != "xml") {
                prefixes.insert(std::string(an.substr(0, colon)));
            }
            made.append_copy(a);
        }
        for (auto c = n.first_child(); c; c = c.next_sibling()) copy(made, c);
        return made;
    };
    auto made = copy(parent, from);
    for (const auto& prefix : prefixes) {
        const std::string attr = "xmlns:" + prefix;
        if (made.attribute(attr.c_str())) continue;
        for (auto n = from; n; n = n.parent()) {
            if (auto decl = n.attribute(attr.c_str())) {
                made.append_attribute(attr.c_str()) = decl.value();
                break;
            }
        }
    }
    return made;
}

}  // namespace orv::engine
