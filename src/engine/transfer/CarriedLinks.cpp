// Carrying a sheet's links to other workbooks into the workbook it is copied to.
#include "engine/transfer/CarriedLinks.h"

#include <algorithm>
#include <filesystem>

#include "engine/EngineError.h"
#include "engine/formula/CellReference.h"
#include "engine/package/Package.h"
#include "engine/package/PartNames.h"
#include "engine/package/Xml.h"
#include "engine/transfer/ExternalLinks.h"
#include "engine/workbook/SheetNames.h"
#include "platform/Paths.h"

namespace orv::engine {

namespace {

namespace fs = std::filesystem;

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// A target as a path: percent escapes undone, separators forward.
std::string Unescaped(std::string_view text) {
    auto hex = [](char c) {
        return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    };
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && hex(text[i + 1]) >= 0 && hex(text[i + 2]) >= 0) {
            out += static_cast<char>(hex(text[i + 1]) * 16 + hex(text[i + 2]));
            i += 2;
        } else {
            out += text[i] == '\\' ? '/' : text[i];
        }
    }
    return out;
}

// A path as a URI reference: what would be read as a delimiter, and spaces, escaped; other bytes (letters of
// any script among them) as they are, as the spreadsheet application writes its links.
std::string Escaped(std::string_view path) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : path) {
        const auto u = static_cast<unsigned char>(c);
        if (u <= 0x20 || u == 0x7F || std::string_view("%#?\"<>^`{|}").find(c) != std::string_view::npos) {
            out += '%';
            out += kHex[u >> 4];
            out += kHex[u & 15];
        } else {
            out += c;
        }
    }
    return out;
}

// "http:", "file:": a scheme of two letters or more (one letter is a drive).
bool HasScheme(std::string_view target) {
    const auto colon = target.find(':');
    if (colon == std::string_view::npos || colon < 2 || !IsAsciiLetter(target[0])) return false;
    for (const char c : target.substr(0, colon)) {
        if (!IsAsciiLetter(c) && !(c >= '0' && c <= '9') && c != '+' && c != '-' && c != '.') return false;
    }
    return true;
}

bool IsDrivePath(std::string_view path) {
    return path.size() >= 2 && IsAsciiLetter(path[0]) && path[1] == ':';
}

// True for a target read against the folder of the workbook that holds it.
bool IsRelative(std::string_view target) {
    return !target.empty() && !HasScheme(target) && !IsDrivePath(target) && target.front() != '/' &&
           target.front() != '\\' && target.front() != '#';
}

fs::path FolderOf(const std::string& workbookPath) {
    std::error_code ec;
    auto absolute = fs::absolute(platform::PathFromUtf8(workbookPath), ec);
    if (ec) absolute = platform::PathFromUtf8(workbookPath);
    return absolute.lexically_normal().parent_path();
}

std::string AsciiLower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

// What a link leads to, for finding a link of the target to the same place: its kind and destination.
std::string Identity(Package& package, const std::string& part, const std::string& workbookPath) {
    const auto root = Root(package.Xml(part));
    for (auto link : root.children()) {
        if (link.type() != pugi::node_element) continue;
        const std::string kind(LocalName(link));
        if (kind == "ddeLink")
            return "dde:" + std::string(link.attribute("ddeService").value()) + "|" + link.attribute("ddeTopic").value();
        const auto id = RelAttribute(link, "id");
        if (!id) return "";
        const auto rel = Relationships(package, part).ById(id.value());
        if (!rel) return "";
        std::string destination = NamesAFileElsewhere(rel->type) ? "elsewhere:" + AsciiLower(rel->target)
                                                                 : LinkDestination(rel->target, workbookPath);
        if (kind == "oleLink") return "ole:" + std::string(link.attribute("progId").value()) + "|" + destination;
        if (kind == "externalBook") return "book:" + destination;
        return "";
    }
    return "";
}

// The cells an externalBook caches for one sheet, as the link writer keeps them.
CachedCells CellsOf(const pugi::xml_node& data) {
    CachedCells cells;
    for (auto row : Children(data, "row")) {
        for (auto c : Children(row, "cell")) {
            CachedCell cell;
            ParseCellReference(c.attribute("r").value(), cell.row, cell.column);
            if (cell.row == 0 || cell.column == 0) continue;
            const std::string_view t = c.attribute("t").value();
            cell.type = t == "b" ? 'b' : t == "e" ? 'e' : t == "str" || t == "s" || t == "inlineStr" ? 's' : 'n';
            cell.value = Child(c, "v").text().get();
            cells.push_back(std::move(cell));
        }
    }
    return cells;
}

// Adds what the source's externalBook `from` holds and the target's link part `part` lacks: sheets, names and
// cached cells.
void MergeBook(Package& target, const std::string& part, const pugi::xml_node& from) {
    auto book = Child(Root(target.Xml(part)), "externalBook");
    const std::string ns(NamespaceOf(book));
    std::vector<int> sheetMap;
    for (auto n : Children(Child(from, "sheetNames"), "sheetName"))
        sheetMap.push_back(LinkSheetIndex(book, n.attribute("val").value()));
    const auto names = Child(book, "sheetNames");
    auto mapped = [&](const pugi::xml_attribute& sheetId) {
        const int i = sheetId.as_int(-1);
        return i >= 0 && static_cast<std::size_t>(i) < sheetMap.size() ? sheetMap[static_cast<std::size_t>(i)] : -1;
    };
    if (const auto fromNames = Child(from, "definedNames")) {
        auto own = Child(book, "definedNames");
        if (!own) own = InsertElementAfter(book, names, ns, "definedNames");
        for (auto n : Children(fromNames, "definedName")) {
            const auto sheetId = n.attribute("sheetId");
            const int sheet = sheetId ? mapped(sheetId) : -1;
            if (sheetId && sheet < 0) continue;
            const auto present = Children(own, "definedName");
            const bool has = std::any_of(present.begin(), present.end(), [&](const pugi::xml_node& d) {
                                             return SheetNamesEqual(d.attribute("name").value(),
                                                                    n.attribute("name").value()) &&
                                                    d.attribute("sheetId").as_int(-1) == sheet;
                                         });
            if (has) continue;
            auto made = AppendElement(own, ns, "definedName");
            made.append_attribute("name") = n.attribute("name").value();
            if (auto refersTo = n.attribute("refersTo")) made.append_attribute("refersTo") = refersTo.value();
            if (sheetId) made.append_attribute("sheetId") = sheet;
        }
    }
    for (auto data : Children(Child(from, "sheetDataSet"), "sheetData")) {
        const int sheet = mapped(data.attribute("sheetId"));
        if (sheet >= 0) MergeCachedCells(book, sheet, CellsOf(data));
    }
    target.MarkChanged(part);
}

}  // namespace

bool NamesAFileElsewhere(const std::string& type) {
    for (const char* kind : {"xlPathMissing", "xlStartup", "xlAlternateStartup", "xlLibrary"}) {
        if (RelTypeIs(type, kind)) return true;
    }
    return false;
}

std::string LinkDestination(const std::string& target, const std::string& workbookPath) {
    if (target.empty()) return "";
    std::string path = Unescaped(target);
    if (HasScheme(path)) {
        if (AsciiLower(path.substr(0, 5)) != "file:") return path;
        path.erase(0, 5);
        if (path.starts_with("///")) path.erase(0, path.size() > 4 && IsDrivePath(path.substr(3)) ? 3 : 2);
    } else if (IsRelative(target)) {
        path = platform::GenericUtf8(FolderOf(workbookPath) / platform::PathFromUtf8(path));
    }
    const bool windows = target.find('\\') != std::string::npos || IsDrivePath(path) || path.starts_with("//");
    path = platform::GenericUtf8(platform::PathFromUtf8(path).lexically_normal());
    return windows ? AsciiLower(path) : path;
}

std::string RebasedLinkTarget(const std::string& target, const std::string& fromPath, const std::string& toPath) {
    // A fragment names a place inside the file, not a file.
    const auto hash = target.find('#');
    const std::string file = target.substr(0, hash);
    if (!IsRelative(file)) return target;
    const fs::path from = FolderOf(fromPath);
    const fs::path to = FolderOf(toPath);
    if (from == to) return target;
    const fs::path absolute = (from / platform::PathFromUtf8(Unescaped(file))).lexically_normal();
    const std::string fragment = hash == std::string::npos ? "" : target.substr(hash);
    const fs::path relative = absolute.lexically_relative(to);
    if (!relative.empty() && !platform::GenericUtf8(relative).starts_with(".."))
        return Escaped(platform::GenericUtf8(relative)) + fragment;
    const std::string generic = platform::GenericUtf8(absolute);
    return "file:///" + Escaped(generic.starts_with('/') ? generic.substr(1) : generic) + fragment;
}

CarriedLinks::CarriedLinks(Package& source, const std::string& workbookPart, const std::set<int>& numbers,
                           const std::string& sheetName)
    : m_source(source) {
    if (numbers.empty()) return;
    const auto parts = LinkParts(source, workbookPart);
    for (const int n : numbers) {
        const std::size_t i = static_cast<std::size_t>(n) - 1;
        if (i >= parts.size() || parts[i].empty()) {
            throw EngineError("Sheet \"" + sheetName + "\" cannot be copied: its formulas use link [" +
                              std::to_string(n) + "] to another workbook, which \"" + source.displayName() +
                              "\" does not hold. Open and save the workbook in the spreadsheet application to "
                              "repair its links, then try again.");
        }
        Link link;
        link.number = n;
        link.part = parts[i];
        link.bytes = source.Read(link.part);
        source.Xml(link.part);  // a damaged part is refused here, before the target changes
        link.rels = Relationships(source, link.part).All();
        m_links.push_back(std::move(link));
    }
}

std::map<int, int> CarriedLinks::JoinTo(Package& target, const std::string& workbookPart) {
    std::map<int, int> numbers;
    const std::string itself = LinkDestination(platform::FileNameOf(target.path()), target.path());
    // What each of the target's links leads to, read once; a link added below leads where its source's did.
    auto parts = LinkParts(target, workbookPart);
    std::vector<std::string> identities;
    for (const auto& part : parts) identities.push_back(part.empty() ? "" : Identity(target, part, target.path()));
    for (const auto& link : m_links) {
        const std::string identity = Identity(m_source, link.part, m_source.path());
        if (identity == "book:" + itself) {
            numbers[link.number] = 0;
            continue;
        }
        const auto found = identity.empty() ? identities.end()
                                            : std::find(identities.begin(), identities.end(), identity);
        if (found == identities.end()) {
            parts.push_back(Add(target, link));
            identities.push_back(identity);
            numbers[link.number] = AppendLinkToWorkbook(target, workbookPart, parts.back());
            continue;
        }
        const auto index = static_cast<std::size_t>(found - identities.begin());
        if (identity.starts_with("book:"))
            MergeBook(target, parts[index], Child(Root(m_source.Xml(link.part)), "externalBook"));
        numbers[link.number] = static_cast<int>(index) + 1;
    }
    return numbers;
}

std::string CarriedLinks::Add(Package& target, const Link& link) {
    const std::string part = FreeLinkPartName(target);
    target.Write(part, link.bytes);
    m_written.push_back(part);
    if (link.rels.empty()) return part;
    std::vector<Relationship> rels = link.rels;
    for (auto& rel : rels) {
        if (rel.external && !NamesAFileElsewhere(rel.type))
            rel.target = RebasedLinkTarget(rel.target, m_source.path(), target.path());
    }
    target.Write(RelsPartOf(part), RelationshipsPartText(rels));
    m_written.push_back(RelsPartOf(part));
    return part;
}

}  // namespace orv::engine
