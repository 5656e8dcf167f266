// XML helpers of the engine over pugixml.
#include "engine/package/Xml.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <functional>
#include <optional>
#include <set>
#include <sstream>

#include "engine/EngineError.h"
#include "platform/TextEncoding.h"

namespace orv::engine {

namespace {

// Well-formed UTF-8: no stray or missing continuation byte, no overlong form, no surrogate, nothing past
// U+10FFFF. Runs of ASCII, most of a part, are passed over eight bytes at a time.
bool WellFormedUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        if (i + 8 <= text.size()) {
            std::uint64_t word;
            std::memcpy(&word, text.data() + i, 8);
            if ((word & 0x8080808080808080ull) == 0) {
                i += 8;
                continue;
            }
        }
        const auto lead = static_cast<unsigned char>(text[i]);
        if (lead < 0x80) {
            ++i;
            continue;
        }
        const std::size_t length = lead >= 0xc2 && lead <= 0xdf   ? 2
                                   : lead >= 0xe0 && lead <= 0xef ? 3
                                   : lead >= 0xf0 && lead <= 0xf4 ? 4
                                                                  : 0;
        if (length == 0 || i + length > text.size()) return false;
        const auto second = static_cast<unsigned char>(text[i + 1]);
        const unsigned char low = lead == 0xe0 ? 0xa0 : lead == 0xf0 ? 0x90 : 0x80;
        const unsigned char high = lead == 0xed ? 0x9f : lead == 0xf4 ? 0x8f : 0xbf;
        if (second < low || second > high) return false;
        for (std::size_t k = 2; k < length; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) & 0xc0) != 0x80) return false;
        }
        i += length;
    }
    return true;
}

bool ContainsDtd(const std::string& bytes) {
    // A DTD can only appear before the root element; look at the prolog only.
    const std::size_t limit = std::min<std::size_t>(bytes.size(), 4096);
    const std::string_view head(bytes.data(), limit);
    return head.find("<!DOCTYPE") != std::string_view::npos ||
           head.find("<!ENTITY") != std::string_view::npos ||
           head.find("<!doctype") != std::string_view::npos;
}

// The encoding named by the XML declaration at the start of `text`; empty when it names none.
std::string_view DeclaredEncoding(std::string_view text) {
    text = text.substr(0, 512);
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
    if (!text.starts_with("<?xml")) return {};
    text = text.substr(0, text.find("?>"));
    auto at = text.find("encoding");
    if (at == std::string_view::npos) return {};
    at = text.find_first_of("\"'", at);
    if (at == std::string_view::npos) return {};
    const auto close = text.find(text[at], at + 1);
    if (close == std::string_view::npos) return {};
    return text.substr(at + 1, close - at - 1);
}

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char c = text[i];
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        if (c != prefix[i]) return false;
    }
    return true;
}

bool InUtf16(std::string_view start) {
    return start.size() >= 2 && ((start[0] == '\xFE' && start[1] == '\xFF') ||
                                 (start[0] == '\xFF' && start[1] == '\xFE') || start[0] == '\0' || start[1] == '\0');
}

bool NamesUtf8(std::string_view encoding) {
    return StartsWithIgnoringCase(encoding, "UTF-8") || StartsWithIgnoringCase(encoding, "UTF8");
}

// An encoding whose bytes the parser reads as they stand: UTF-8, or a 16- or 32-bit Unicode encoding, which
// it tells by the bytes themselves (a part in 8-bit bytes that claims one is UTF-8, as other readers take it).
bool ReadAsItStands(std::string_view encoding) {
    if (NamesUtf8(encoding)) return true;
    for (const char* name : {"UTF-16", "UTF16", "UTF-32", "UTF32", "UCS-2", "UCS-4", "ISO-10646"}) {
        if (StartsWithIgnoringCase(encoding, name)) return true;
    }
    return false;
}

// `bytes` in the 8-bit encoding `encoding`, converted to UTF-8. Only names made of letters, digits and a few
// marks are looked up: the name comes from the file.
std::string ToUtf8(const std::string& bytes, std::string_view encoding, const std::string& partName,
                   const std::string& fileName) {
    const std::string part = "The part \"" + partName + "\" of \"" + fileName + "\"";
    const std::string name(encoding);
    const bool plainName = !name.empty() && name.size() <= 40 && std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
               c == '.' || c == ':';
    });
    std::string out;
    const platform::Conversion result =
        plainName ? platform::ConvertToUtf8(bytes, name, out) : platform::Conversion::UnknownEncoding;
    if (result == platform::Conversion::UnknownEncoding) {
        throw EngineError(part + " is stored in the character encoding \"" + name +
                          "\", which cannot be read. Open the file in the spreadsheet application and save it "
                          "again, which stores it in UTF-8.");
    }
    if (result == platform::Conversion::NotValidText) {
        throw EngineError(part + " is not valid text in the character encoding \"" + name +
                          "\" it declares. Open the file in the spreadsheet application to repair it.");
    }
    return out;
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

constexpr std::string_view kMarkupCompatibility = "http://schemas.openxmlformats.org/markup-compatibility/2006";

bool IsElement(const pugi::xml_node& node) { return node && node.type() == pugi::node_element; }

// The root element of the document `node` belongs to, or an empty node.
pugi::xml_node DocumentElement(const pugi::xml_node& node) {
    for (auto c = node.root().first_child(); c; c = c.next_sibling()) {
        if (IsElement(c)) return c;
    }
    return {};
}

// Calls `visit` on `node` and each element around it, then on `context` and each element around that (the
// place in another document where a copy made under `node` is going), until `visit` returns true.
template <class Visit>
void ForEachScope(pugi::xml_node node, pugi::xml_node context, Visit visit) {
    for (; IsElement(node); node = node.parent()) {
        if (visit(node)) return;
    }
    for (node = context; IsElement(node); node = node.parent()) {
        if (visit(node)) return;
    }
}

std::string_view UriIn(pugi::xml_node node, const pugi::xml_node& context, std::string_view prefix) {
    if (prefix == "xml") return "http://www.w3.org/XML/1998/namespace";
    const std::string attr = prefix.empty() ? "xmlns" : "xmlns:" + std::string(prefix);
    std::string_view uri;
    ForEachScope(node, context, [&](const pugi::xml_node& n) {
        auto a = n.attribute(attr.c_str());
        if (a) uri = a.value();
        return static_cast<bool>(a);
    });
    return uri;
}

// The prefix in effect at `node` (and beyond it, `context`) that is bound to `uri`; the default namespace
// ("") only for elements. Inner declarations hide outer ones of the same prefix.
std::optional<std::string> BoundPrefix(pugi::xml_node node, const pugi::xml_node& context, std::string_view uri,
                                       bool forAttribute) {
    std::set<std::string, std::less<>> seen;
    std::optional<std::string> found;
    ForEachScope(node, context, [&](const pugi::xml_node& n) {
        for (auto a = n.first_attribute(); a; a = a.next_attribute()) {
            const std::string_view name(a.name());
            std::string prefix;
            if (name == "xmlns") {
                prefix = "";
            } else if (name.starts_with("xmlns:")) {
                prefix = std::string(name.substr(6));
            } else {
                continue;
            }
            if (!seen.insert(prefix).second || uri != a.value()) continue;
            if (prefix.empty() && forAttribute) continue;
            found = prefix;
            return true;
        }
        return false;
    });
    return found;
}

// `preferred`, or `preferred` with a number, whichever is not yet bound at `node`.
std::string FreePrefix(pugi::xml_node node, const pugi::xml_node& context, std::string_view preferred) {
    const std::string base = preferred.empty() || preferred == "xml" || preferred.starts_with("xmlns")
                                 ? std::string("ns")
                                 : std::string(preferred);
    std::string candidate = base;
    for (int n = 1; !UriIn(node, context, candidate).empty(); ++n) candidate = base + std::to_string(n);
    return candidate;
}

std::string Qualified(std::string_view prefix, std::string_view localName) {
    return prefix.empty() ? std::string(localName) : std::string(prefix) + ":" + std::string(localName);
}

std::string_view PrefixPart(std::string_view name) {
    const auto colon = name.find(':');
    return colon == std::string_view::npos ? std::string_view() : name.substr(0, colon);
}

// Names `made` (an element without a name, already in its place) as `localName` of namespace `uri`.
void NameElement(pugi::xml_node made, const pugi::xml_node& context, std::string_view uri,
                 std::string_view localName, std::string_view preferredPrefix) {
    if (uri.empty()) {
        made.set_name(std::string(localName).c_str());
        if (!UriIn(made, context, "").empty()) made.append_attribute("xmlns") = "";
        return;
    }
    if (auto prefix = BoundPrefix(made, context, uri, false)) {
        made.set_name(Qualified(*prefix, localName).c_str());
        return;
    }
    const std::string prefix = preferredPrefix.empty() ? std::string() : FreePrefix(made, context, preferredPrefix);
    made.set_name(Qualified(prefix, localName).c_str());
    made.append_attribute(prefix.empty() ? "xmlns" : ("xmlns:" + prefix).c_str()) = std::string(uri).c_str();
}

// The attribute name for `localName` of namespace `uri` on `element`, declaring a prefix there when none is
// bound.
std::string AttributeName(pugi::xml_node element, const pugi::xml_node& context, std::string_view uri,
                          std::string_view localName, std::string_view preferredPrefix) {
    if (uri.empty()) return std::string(localName);
    if (uri == "http://www.w3.org/XML/1998/namespace") return Qualified("xml", localName);
    if (auto prefix = BoundPrefix(element, context, uri, true)) return Qualified(*prefix, localName);
    const std::string prefix = FreePrefix(element, context, preferredPrefix);
    element.append_attribute(("xmlns:" + prefix).c_str()) = std::string(uri).c_str();
    return Qualified(prefix, localName);
}

// True when an mc:Ignorable in effect at `node` names `uri`.
bool IgnorableAt(pugi::xml_node node, std::string_view uri) {
    for (; IsElement(node); node = node.parent()) {
        for (auto a = node.first_attribute(); a; a = a.next_attribute()) {
            const std::string_view name(a.name());
            if (name.starts_with("xmlns") || AfterColon(a.name()) != "Ignorable" ||
                UriIn(node, {}, PrefixPart(name)) != kMarkupCompatibility)
                continue;
            std::string_view list(a.value());
            while (!list.empty()) {
                const auto space = list.find_first_of(" \t\r\n");
                const auto prefix = list.substr(0, space);
                if (!prefix.empty() && UriIn(node, {}, prefix) == uri) return true;
                list = space == std::string_view::npos ? std::string_view() : list.substr(space + 1);
            }
        }
    }
    return false;
}

// Declares `uri` ignorable on the root element `root` (binding a prefix for it there).
void MakeIgnorable(pugi::xml_node root, std::string_view uri, std::string_view preferredPrefix) {
    if (IgnorableAt(root, uri)) return;
    std::string prefix;
    if (auto bound = BoundPrefix(root, {}, uri, true)) {
        prefix = *bound;
    } else {
        prefix = FreePrefix(root, {}, preferredPrefix);
        root.append_attribute(("xmlns:" + prefix).c_str()) = std::string(uri).c_str();
    }
    const std::string name = AttributeName(root, {}, kMarkupCompatibility, "Ignorable", "mc");
    auto list = root.attribute(name.c_str());
    if (!list) list = root.append_attribute(name.c_str());
    const std::string value = list.value();
    list = (value.empty() ? prefix : value + " " + prefix).c_str();
}

void CollectRelAttributes(const pugi::xml_node& node, std::vector<pugi::xml_attribute>& out) {
    for (auto a = node.first_attribute(); a; a = a.next_attribute()) {
        std::string_view name(a.name());
        const auto colon = name.find(':');
        if (colon == std::string_view::npos || name.starts_with("xmlns")) continue;
        if (IsRelationshipsNamespace(NamespaceUri(node, name.substr(0, colon)))) out.push_back(a);
    }
    for (auto c = node.first_child(); c; c = c.next_sibling()) {
        if (c.type() == pugi::node_element) CollectRelAttributes(c, out);
    }
}

}  // namespace

bool IsUtf8Text(std::string_view start) {
    if (InUtf16(start)) return false;
    const std::string_view encoding = DeclaredEncoding(start);
    return encoding.empty() || ReadAsItStands(encoding);
}

void ParseXml(pugi::xml_document& doc, const std::string& text, const std::string& partName,
              const std::string& fileName) {
    // An 8-bit encoding other than UTF-8 is read through the C library; the parser then takes the text as the
    // UTF-8 it has become, whatever the declaration still says.
    std::string converted;
    const std::string_view declared = InUtf16(text) ? std::string_view() : DeclaredEncoding(text);
    const bool convert = !declared.empty() && !ReadAsItStands(declared);
    if (convert) converted = ToUtf8(text, declared, partName, fileName);
    const std::string& bytes = convert ? converted : text;
    if (ContainsDtd(bytes)) {
        throw EngineError(
            "The part \"" + partName + "\" of \"" + fileName +
            "\" declares a DTD or entities, which workbooks never do; the file is refused for safety.");
    }
    const unsigned options = pugi::parse_default | pugi::parse_declaration | pugi::parse_ws_pcdata |
                             pugi::parse_comments | pugi::parse_pi;
    // The parser takes UTF-8 as it stands, and bytes that are no text would go on into every part that this
    // one's texts are carried to: a copy's shared strings, styles and names in another workbook.
    if (!InUtf16(bytes) && !WellFormedUtf8(bytes)) {
        throw EngineError("The part \"" + partName + "\" of \"" + fileName +
                          "\" is not well-formed XML: it holds bytes that are not UTF-8 text. Open the file in the "
                          "spreadsheet application to repair it.");
    }
    const auto result =
        doc.load_buffer(bytes.data(), bytes.size(), options, convert ? pugi::encoding_utf8 : pugi::encoding_auto);
    if (!result) {
        throw EngineError("The part \"" + partName + "\" of \"" + fileName + "\" is not well-formed XML (" +
                          result.description() + " at byte " + std::to_string(result.offset) +
                          "). Open the file in the spreadsheet application to repair it.");
    }
    // The document is written in UTF-8, so its declaration must say UTF-8.
    if (const auto declaration = doc.first_child(); declaration.type() == pugi::node_declaration) {
        if (auto encoding = declaration.attribute("encoding"); encoding && !NamesUtf8(encoding.value()))
            encoding.set_value("UTF-8");
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
        if (IsRelationshipsNamespace(NamespaceUri(node, name.substr(0, colon)))) return a;
    }
    return {};
}

std::vector<pugi::xml_attribute> RelAttributes(const pugi::xml_node& root) {
    std::vector<pugi::xml_attribute> out;
    CollectRelAttributes(root, out);
    return out;
}

std::string PrefixOf(const pugi::xml_node& node) {
    std::string_view name(node.name());
    const auto colon = name.find(':');
    return colon == std::string_view::npos ? std::string() : std::string(name.substr(0, colon + 1));
}

// The node without prefixes and namespace declarations, for comparing by value.
namespace {

void AppendCanonical(std::string& out, const pugi::xml_node& node) {
    if (node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata) {
        out += node.value();
        return;
    }
    if (node.type() != pugi::node_element) return;
    out += '<';
    out += LocalName(node);
    for (auto a = node.first_attribute(); a; a = a.next_attribute()) {
        if (std::string_view(a.name()).starts_with("xmlns")) continue;
        out += ' ';
        out += a.name();
        out += '=';
        out += a.value();
    }
    out += '>';
    for (auto c = node.first_child(); c; c = c.next_sibling()) AppendCanonical(out, c);
    out += "</>";
}

}  // namespace

std::string CanonicalXml(const pugi::xml_node& node) {
    std::string out;
    AppendCanonical(out, node);
    return out;
}

std::string_view NamespaceUri(pugi::xml_node node, std::string_view prefix) { return UriIn(node, {}, prefix); }

std::string_view NamespaceOf(const pugi::xml_node& element) {
    return UriIn(element, {}, PrefixPart(element.name()));
}

pugi::xml_node AppendElement(pugi::xml_node parent, std::string_view uri, std::string_view localName,
                             std::string_view preferredPrefix) {
    auto made = parent.append_child(pugi::node_element);
    NameElement(made, {}, uri, localName, preferredPrefix);
    return made;
}

pugi::xml_node InsertElementBefore(pugi::xml_node parent, const pugi::xml_node& before, std::string_view uri,
                                   std::string_view localName, std::string_view preferredPrefix) {
    if (!before) return AppendElement(parent, uri, localName, preferredPrefix);
    auto made = parent.insert_child_before(pugi::node_element, before);
    NameElement(made, {}, uri, localName, preferredPrefix);
    return made;
}

pugi::xml_node InsertElementAfter(pugi::xml_node parent, const pugi::xml_node& after, std::string_view uri,
                                  std::string_view localName, std::string_view preferredPrefix) {
    auto made = after ? parent.insert_child_after(pugi::node_element, after)
                      : parent.prepend_child(pugi::node_element);
    NameElement(made, {}, uri, localName, preferredPrefix);
    return made;
}

pugi::xml_attribute SetAttribute(pugi::xml_node element, std::string_view uri, std::string_view localName,
                                 std::string_view preferredPrefix, const char* value) {
    const std::string name = AttributeName(element, {}, uri, localName, preferredPrefix);
    auto a = element.attribute(name.c_str());
    if (!a) a = element.append_attribute(name.c_str());
    a = value;
    return a;
}

std::string RelationshipsNamespace(const pugi::xml_node& node) {
    const auto root = DocumentElement(node);
    if (NamespaceOf(root).starts_with("http://purl.oclc.org/ooxml/"))
        return "http://purl.oclc.org/ooxml/officeDocument/relationships";
    return "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
}

namespace {

struct Importer {
    pugi::xml_node context;     // where a copy made in a scratch document will go; empty otherwise
    pugi::xml_node targetRoot;  // the target document's root element
    std::string_view srcMain;
    std::string_view dstMain;

    std::string_view Mapped(std::string_view uri) const { return uri == srcMain ? dstMain : uri; }

    pugi::xml_node Copy(pugi::xml_node parent, const pugi::xml_node& from) {
        if (from.type() != pugi::node_element) return parent.append_copy(from);
        auto made = parent.append_child(pugi::node_element);
        const auto prefix = PrefixPart(from.name());
        const auto uri = NamespaceOf(from);
        Carry(from, uri, prefix);
        NameElement(made, context, Mapped(uri), LocalName(from), prefix);
        for (auto a = from.first_attribute(); a; a = a.next_attribute()) {
            const std::string_view name(a.name());
            if (name == "xmlns" || name.starts_with("xmlns:")) continue;
            const auto attrPrefix = PrefixPart(name);
            if (attrPrefix.empty()) {
                made.append_attribute(a.name()) = a.value();
                continue;
            }
            const auto attrUri = NamespaceUri(from, attrPrefix);
            // The list names prefixes of the source; the namespaces it covers are declared below instead.
            if (attrUri == kMarkupCompatibility && AfterColon(a.name()) == "Ignorable") continue;
            Carry(from, attrUri, attrPrefix);
            made.append_attribute(
                    AttributeName(made, context, Mapped(attrUri), AfterColon(a.name()), attrPrefix).c_str()) =
                a.value();
        }
        for (auto c = from.first_child(); c; c = c.next_sibling()) Copy(made, c);
        return made;
    }

    // A namespace the source lets consumers ignore stays ignorable in the target.
    void Carry(const pugi::xml_node& from, std::string_view uri, std::string_view prefix) const {
        if (!targetRoot || uri.empty() || uri == srcMain || !IgnorableAt(from, uri)) return;
        MakeIgnorable(targetRoot, uri, prefix);
    }
};

}  // namespace

pugi::xml_node ImportNode(pugi::xml_node parent, const pugi::xml_node& from) {
    return ImportNodeFor(parent, {}, from);
}

pugi::xml_node ImportNodeFor(pugi::xml_node scratch, const pugi::xml_node& context, const pugi::xml_node& from) {
    Importer importer;
    importer.context = context;
    importer.targetRoot = DocumentElement(context ? context : scratch);
    if (context && !IsElement(importer.targetRoot)) importer.targetRoot = {};
    importer.srcMain = NamespaceOf(DocumentElement(from));
    importer.dstMain = importer.targetRoot ? NamespaceOf(importer.targetRoot) : importer.srcMain;
    return importer.Copy(scratch, from);
}

}  // namespace orv::engine
