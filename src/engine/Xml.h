// Safe parsing and faithful writing of package XML parts, and namespace-tolerant lookups (parts may use any
// prefix, or none, for their namespaces).
#pragma once

#include <pugixml.hpp>
#include <string>
#include <string_view>
#include <vector>

namespace orv::engine {

// Parses `bytes` keeping declaration, comments and whitespace; throws EngineError naming the part when it is
// not well-formed or declares a DTD or entities (which the engine never expands).
void ParseXml(pugi::xml_document& doc, const std::string& bytes, const std::string& partName,
              const std::string& fileName);

// The document as bytes, written without reformatting; `afterDeclaration` is put back between the XML
// declaration and the root (the line break the application writes there, which the parser drops).
std::string SerializeXml(const pugi::xml_document& doc, const std::string& afterDeclaration = "");

// The whitespace between the XML declaration and the next markup of `bytes` ("\r\n" in the application's
// parts).
std::string WhitespaceAfterDeclaration(const std::string& bytes);

// The name without its namespace prefix.
std::string_view LocalName(const pugi::xml_node& node);
std::string_view LocalName(const pugi::xml_attribute& attribute);

// The first child element with that local name, or an empty node.
pugi::xml_node Child(const pugi::xml_node& parent, std::string_view localName);
// Every child element with that local name.
std::vector<pugi::xml_node> Children(const pugi::xml_node& parent, std::string_view localName);
// Every descendant element with that local name, in document order.
std::vector<pugi::xml_node> Descendants(const pugi::xml_node& root, std::string_view localName);
// The root element of a document.
pugi::xml_node Root(const pugi::xml_document& doc);

// The attribute with that local name whose prefix is bound to a relationships namespace (r:id, r:embed...),
// or an empty attribute.
pugi::xml_attribute RelAttribute(const pugi::xml_node& node, std::string_view localName);
// Every relationship-id attribute anywhere under `root` (r:id, r:embed, r:link, r:pict...).
std::vector<pugi::xml_attribute> RelAttributes(const pugi::xml_node& root);

// The same element name as `sibling` uses, with `localName` instead (keeps its prefix).
std::string SameNamespaceName(const pugi::xml_node& sibling, std::string_view localName);

// The element's namespace prefix with its colon ("x:"), or "".
std::string PrefixOf(const pugi::xml_node& node);

// The node without prefixes and namespace declarations, for comparing nodes by value across documents.
std::string CanonicalXml(const pugi::xml_node& node);

// Copies `from` under `parent`, renaming elements with prefix `srcPrefix` to `dstPrefix` and declaring the
// other prefixes the subtree uses, so that it stays well-formed in its new document. Returns the copy.
pugi::xml_node ImportNode(pugi::xml_node parent, const pugi::xml_node& from, const std::string& srcPrefix,
                          const std::string& dstPrefix);

}  // namespace orv::engine
