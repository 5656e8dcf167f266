// Safe parsing and faithful writing of package XML parts, and namespace-tolerant lookups (parts may use any
// prefix, or none, for their namespaces).
#pragma once

#include <pugixml.hpp>
#include <string>
#include <string_view>
#include <vector>

namespace orv::engine {

// Parses `bytes` keeping declaration, comments and whitespace; throws EngineError naming the part when it is
// not well-formed, declares a DTD or entities (which the engine never expands), or is stored in a character
// encoding that cannot be read. A part in any other encoding than UTF-8 is read into UTF-8 and its
// declaration made to say so, since the document is written in UTF-8.
void ParseXml(pugi::xml_document& doc, const std::string& bytes, const std::string& partName,
              const std::string& fileName);

// The document as bytes, written without reformatting; `afterDeclaration` is put back between the XML
// declaration and the root (the line break the application writes there, which the parser drops).
std::string SerializeXml(const pugi::xml_document& doc, const std::string& afterDeclaration = "");

// True when a part beginning with `start` (its first few hundred bytes will do) is UTF-8 as it stands: not in
// UTF-16 (a byte order mark, or a zero among its first two bytes) and not declaring an 8-bit encoding other
// than UTF-8. Other parts are read as text only through ParseXml, which converts them.
bool IsUtf8Text(std::string_view start);

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

// The element's namespace prefix with its colon ("x:"), or "".
std::string PrefixOf(const pugi::xml_node& node);

// The namespace URI `prefix` ("" for the default namespace) is bound to at `node`, searching outwards; "" when
// it is unbound.
std::string_view NamespaceUri(pugi::xml_node node, std::string_view prefix);
// The namespace of an element, as its prefix is bound where it stands.
std::string_view NamespaceOf(const pugi::xml_node& element);

// Parts may bind their namespaces anywhere (on the root, on each element, under any prefix), so an element or
// attribute the engine adds is named through these: a prefix bound to `uri` where the node stands is used, or
// else the namespace is declared on the new node itself. `preferredPrefix` names a declaration made that way.
pugi::xml_node AppendElement(pugi::xml_node parent, std::string_view uri, std::string_view localName,
                             std::string_view preferredPrefix = "");
pugi::xml_node InsertElementBefore(pugi::xml_node parent, const pugi::xml_node& before, std::string_view uri,
                                   std::string_view localName, std::string_view preferredPrefix = "");
pugi::xml_node InsertElementAfter(pugi::xml_node parent, const pugi::xml_node& after, std::string_view uri,
                                  std::string_view localName, std::string_view preferredPrefix = "");
// Sets (adding when missing) the attribute `localName` of namespace `uri` on `element`; an attribute needs a
// prefix even where `uri` is the default namespace.
pugi::xml_attribute SetAttribute(pugi::xml_node element, std::string_view uri, std::string_view localName,
                                 std::string_view preferredPrefix, const char* value);

// The relationships namespace of the conformance class `node`'s document is written in (strict or
// transitional).
std::string RelationshipsNamespace(const pugi::xml_node& node);

// The node without prefixes and namespace declarations, for comparing nodes by value across documents.
std::string CanonicalXml(const pugi::xml_node& node);

// Copies `from` under `parent` in another document. Every element and attribute keeps its namespace, named
// with the prefixes bound in the target or declared on the copy; the source document's main namespace becomes
// the target document's (a strict part's content copied into a transitional workbook, and back). Attributes
// and elements of a namespace the source declared ignorable are declared ignorable in the target too. Returns
// the copy.
pugi::xml_node ImportNode(pugi::xml_node parent, const pugi::xml_node& from);
// The same, into `scratch` (a document of its own) for a copy that will be placed under `context` later:
// prefixes are chosen as they will be bound there.
pugi::xml_node ImportNodeFor(pugi::xml_node scratch, const pugi::xml_node& context, const pugi::xml_node& from);

}  // namespace orv::engine
