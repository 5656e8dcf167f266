// Workbooks as other programs write them (tests/fixtures/producers): every operation on each, and copies and
// moves between pairs of them, judged by a reader of their own that resolves namespaces, styles and strings.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <pugixml.hpp>
#include <set>
#include <sstream>

#include "StrictCheck.h"
#include "TestSupport.h"
#include "engine/EngineError.h"
#include "engine/transfer/SheetCopy.h"
#include "engine/workbook/Workbook.h"

namespace orv::engine::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kMain = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
constexpr const char* kRel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
constexpr const char* kPackageRel = "http://schemas.openxmlformats.org/package/2006/relationships";
constexpr const char* kMarkup = "http://schemas.openxmlformats.org/markup-compatibility/2006";

// The workbooks each written by one library or application, that every other fixture is paired with.
const std::vector<std::string> kProducers = {"exceljs.xlsx", "libreoffice.xlsx", "openpyxl.xlsx",
                                             "sheetjs.xlsx", "xlsxwriter.xlsx"};
// Workbooks with a test of their own below: the first two cannot go through the matrix at all.
constexpr const char* kBeta = "regress-beta-2006-namespace.xlsx";
constexpr const char* kShortStrings = "regress-short-shared-strings.xlsx";
constexpr const char* kModulePlaceholder = "regress-vba-module-placeholder.xlsx";
constexpr const char* kDeclaredEncodings = "regress-declared-encodings.xlsx";
constexpr const char* kExternalLinks = "regress-external-links.xlsx";

std::string ProducerFixture(const std::string& name) {
    return std::string(ORVANDEL_PRODUCER_FIXTURES) + "/" + name;
}

std::vector<std::string> AllProducerFixtures() {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(ORVANDEL_PRODUCER_FIXTURES)) {
        if (entry.path().extension() == ".xlsx") names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines) text += "\n  " + line;
    return text;
}

// ---- A namespace-aware reading of a package, independent of the engine's --------------------------------

// The namespace a prefix ('' for the default) is bound to at `node`.
std::string NamespaceAt(pugi::xml_node node, const std::string& prefix) {
    const std::string attribute = prefix.empty() ? "xmlns" : "xmlns:" + prefix;
    for (; node; node = node.parent()) {
        if (auto a = node.attribute(attribute.c_str())) return a.value();
    }
    return prefix == "xml" ? "http://www.w3.org/XML/1998/namespace" : "";
}

std::pair<std::string, std::string> Split(const std::string& qualified) {
    const auto colon = qualified.find(':');
    if (colon == std::string::npos) return {"", qualified};
    return {qualified.substr(0, colon), qualified.substr(colon + 1)};
}

constexpr const char* kStrictMain = "http://purl.oclc.org/ooxml/spreadsheetml/main";
constexpr const char* kStrictRel = "http://purl.oclc.org/ooxml/officeDocument/relationships";

// A strict workbook says in its namespaces what a transitional one says in the 2006 ones.
bool InNamespace(const std::string& uri, const char* ns) {
    const std::string_view want(ns);
    return uri == want || (want == kMain && uri == kStrictMain) || (want == kRel && uri == kStrictRel);
}

bool Is(pugi::xml_node node, const char* ns, const std::string& local) {
    if (node.type() != pugi::node_element) return false;
    const auto [prefix, name] = Split(node.name());
    return name == local && InNamespace(NamespaceAt(node, prefix), ns);
}

std::string LocalName(pugi::xml_node node) { return Split(node.name()).second; }

// The value of an attribute in no namespace, or in `ns` under whatever prefix.
std::string Attr(pugi::xml_node node, const std::string& local, const char* ns = nullptr) {
    for (auto a : node.attributes()) {
        const auto [prefix, name] = Split(a.name());
        if (name != local || prefix == "xmlns" || a.name() == std::string("xmlns")) continue;
        if (ns ? (!prefix.empty() && InNamespace(NamespaceAt(node, prefix), ns)) : prefix.empty()) return a.value();
    }
    return "";
}

// The element children of `node`, with each mc:AlternateContent replaced by the content a reader that knows
// nothing beyond the main vocabulary takes: its Fallback.
std::vector<pugi::xml_node> Children(pugi::xml_node node) {
    std::vector<pugi::xml_node> out;
    for (auto child : node.children()) {
        if (child.type() != pugi::node_element) continue;
        if (Is(child, kMarkup, "AlternateContent")) {
            for (auto branch : child.children()) {
                if (Is(branch, kMarkup, "Fallback")) {
                    const auto inner = Children(branch);
                    out.insert(out.end(), inner.begin(), inner.end());
                }
            }
            continue;
        }
        out.push_back(child);
    }
    return out;
}

std::vector<pugi::xml_node> Children(pugi::xml_node node, const std::string& local) {
    std::vector<pugi::xml_node> out;
    for (auto child : Children(node)) {
        if (Is(child, kMain, local)) out.push_back(child);
    }
    return out;
}

pugi::xml_node Child(pugi::xml_node node, const std::string& local) {
    const auto all = Children(node, local);
    return all.empty() ? pugi::xml_node() : all.front();
}

// The text of a string item (<si>, <is>): its runs without the phonetic ones.
std::string ItemText(pugi::xml_node item) {
    std::string text;
    for (auto child : Children(item)) {
        if (Is(child, kMain, "t")) text += child.text().get();
        if (Is(child, kMain, "r")) text += Child(child, "t").text().get();
    }
    return text;
}

bool Boolean(const std::string& value) { return value == "1" || value == "true"; }

// A style record without prefixes, defaults or order: local names, attribute values with booleans spelt one
// way, and the children sorted. Two records that mean the same formatting print the same.
std::string Canonical(pugi::xml_node node) {
    static const std::map<std::string, std::string> kDefaults = {
        {"horizontal", "general"}, {"vertical", "bottom"},  {"textRotation", "0"}, {"wrapText", "0"},
        {"indent", "0"},           {"relativeIndent", "0"}, {"shrinkToFit", "0"},  {"justifyLastLine", "0"},
        {"readingOrder", "0"},     {"diagonalUp", "0"},     {"diagonalDown", "0"}, {"outline", "1"},
    };
    static const std::set<std::string> kFlags = {"b",      "i",        "strike", "outline",
                                                 "shadow", "condense", "extend"};
    const std::string name = LocalName(node);
    std::map<std::string, std::string> attributes;
    for (auto a : node.attributes()) {
        const auto [prefix, local] = Split(a.name());
        if (prefix == "xmlns" || std::string(a.name()) == "xmlns") continue;
        std::string value = a.value();
        if (value == "true") value = "1";
        if (value == "false") value = "0";
        const std::string key = prefix.empty() ? local : "{" + NamespaceAt(node, prefix) + "}" + local;
        if (auto d = kDefaults.find(key); d != kDefaults.end() && d->second == value) continue;
        attributes[key] = value;
    }
    if (kFlags.count(name)) {
        if (!attributes.count("val")) attributes["val"] = "1";
        if (attributes["val"] == "0") return "";
    }
    if (name == "patternFill" && !attributes.count("patternType")) attributes["patternType"] = "none";
    std::vector<std::string> children;
    for (auto child : Children(node)) {
        if (auto text = Canonical(child); !text.empty()) children.push_back(text);
    }
    std::sort(children.begin(), children.end());
    // A border side without a style draws nothing, whatever else it says.
    const std::set<std::string> sides = {"left", "right", "top", "bottom", "diagonal", "start", "end"};
    if (sides.count(name) && !attributes.count("style")) return "";
    std::string text = name;
    for (const auto& [key, value] : attributes) text += " " + key + "=" + value;
    if (!children.empty()) {
        text += " (";
        for (const auto& child : children) text += child + "; ";
        text += ")";
    }
    return text;
}

const std::map<int, std::string>& BuiltInFormats() {
    // A raw string keeps "??/" from reading as a trigraph.
    static const std::map<int, std::string> formats = {
        {0, "General"},
        {1, "0"},
        {2, "0.00"},
        {3, "#,##0"},
        {4, "#,##0.00"},
        {9, "0%"},
        {10, "0.00%"},
        {11, "0.00E+00"},
        {12, "# ?/?"},
        {13, R"(# ??/??)"},
        {14, "mm-dd-yy"},
        {15, "d-mmm-yy"},
        {16, "d-mmm"},
        {17, "mmm-yy"},
        {18, "h:mm AM/PM"},
        {19, "h:mm:ss AM/PM"},
        {20, "h:mm"},
        {21, "h:mm:ss"},
        {22, "m/d/yy h:mm"},
        {37, "#,##0 ;(#,##0)"},
        {38, "#,##0 ;[Red](#,##0)"},
        {39, "#,##0.00;(#,##0.00)"},
        {40, "#,##0.00;[Red](#,##0.00)"},
        {45, "mm:ss"},
        {46, "[h]:mm:ss"},
        {47, "mmss.0"},
        {48, "##0.0E+0"},
        {49, "@"},
    };
    return formats;
}

int Number(const std::string& text, int fallback = 0) {
    int value = fallback;
    const auto end = text.data() + text.size();
    if (std::from_chars(text.data(), end, value).ptr != end) return fallback;
    return value;
}

// Where a relationship's target lands, from the part that holds the relationship.
std::string ResolveTarget(const std::string& from, const std::string& target) {
    std::vector<std::string> segments;
    std::string path =
        target.starts_with("/") ? target.substr(1) : from.substr(0, from.rfind('/') + 1) + target;
    std::stringstream stream(path);
    for (std::string segment; std::getline(stream, segment, '/');) {
        if (segment == "..") {
            if (!segments.empty()) segments.pop_back();
        } else if (!segment.empty() && segment != ".") {
            segments.push_back(segment);
        }
    }
    std::string out;
    for (const auto& segment : segments) out += (out.empty() ? "" : "/") + segment;
    return out;
}

// The formatting of a cell as a reader shows it, every index followed to what it points at.
struct Look {
    std::string value;
    std::string numberFormat, font, fill, border, alignment, cellStyle;
    bool operator==(const Look&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Look& look) {
    return out << "value [" << look.value << "] format [" << look.numberFormat << "] font [" << look.font
               << "] fill [" << look.fill << "] border [" << look.border << "] alignment [" << look.alignment
               << "] style [" << look.cellStyle << "]";
}

struct SheetEntry {
    std::string name;
    std::string state;  // "" for visible
    std::string part;   // "" when the entry has no part
    bool worksheet = false;
};

class Book {
  public:
    explicit Book(const std::string& path) : m_zip(ReadStored(path)) {
        const auto root = Parse("_rels/.rels");
        for (auto rel : Children(root.document_element())) {
            if (Is(rel, kPackageRel, "Relationship") && Attr(rel, "Type").ends_with("/officeDocument")) {
                m_workbookPart = ResolveTarget("", Attr(rel, "Target"));
            }
        }
        const auto workbookDoc = Parse(m_workbookPart);
        const auto rels = Relationships(m_workbookPart);
        const auto workbook = workbookDoc.document_element();
        for (auto sheet : Children(Child(workbook, "sheets"), "sheet")) {
            SheetEntry entry{Attr(sheet, "name"), Attr(sheet, "state"), "", false};
            if (entry.state == "visible") entry.state.clear();
            if (auto it = rels.find(Attr(sheet, "id", kRel)); it != rels.end()) {
                entry.part = it->second.second;
                entry.worksheet = it->second.first.ends_with("/worksheet");
            }
            m_sheets.push_back(entry);
        }
        for (auto name : Children(Child(workbook, "definedNames"), "definedName")) {
            m_formulas.push_back(name.text().get());
        }
        m_locked = Boolean(Attr(Child(workbook, "workbookProtection"), "lockStructure"));
        for (const auto& [id, rel] : rels) {
            if (rel.first.ends_with("/styles")) ReadStyles(rel.second);
            if (rel.first.ends_with("/sharedStrings")) {
                const auto strings = Parse(rel.second);
                for (auto item : Children(strings.document_element(), "si"))
                    m_strings.push_back(ItemText(item));
            }
        }
    }

    const std::vector<SheetEntry>& sheets() const { return m_sheets; }
    bool locked() const { return m_locked; }
    std::size_t stringCount() const { return m_strings.size(); }

    const SheetEntry* Sheet(const std::string& name) const {
        for (const auto& entry : m_sheets) {
            if (entry.name == name) return &entry;
        }
        return nullptr;
    }

    // Every cell of a sheet by reference, as a reader shows it.
    std::map<std::string, Look> Cells(const std::string& sheet) const {
        std::map<std::string, Look> cells;
        const auto* entry = Sheet(sheet);
        if (!entry || entry->part.empty()) return cells;
        const auto doc = Parse(entry->part);
        for (auto row : Children(Child(doc.document_element(), "sheetData"), "row")) {
            for (auto c : Children(row, "c")) cells[Attr(c, "r")] = LookOf(c);
        }
        return cells;
    }

    // The shared-string indices the cells of a sheet use.
    std::vector<int> StringIndices(const std::string& sheet) const {
        std::vector<int> indices;
        const auto* entry = Sheet(sheet);
        if (!entry || entry->part.empty()) return indices;
        const auto doc = Parse(entry->part);
        for (auto row : Children(Child(doc.document_element(), "sheetData"), "row")) {
            for (auto c : Children(row, "c")) {
                if (Attr(c, "t") == "s") indices.push_back(Number(Child(c, "v").text().get(), -1));
            }
        }
        return indices;
    }

    // Every formula of the workbook: cells of all worksheets and defined names.
    std::vector<std::string> Formulas() const {
        auto formulas = m_formulas;
        for (const auto& entry : m_sheets) {
            if (!entry.worksheet) continue;
            const auto doc = Parse(entry.part);
            for (auto row : Children(Child(doc.document_element(), "sheetData"), "row")) {
                for (auto c : Children(row, "c")) {
                    if (auto f = Child(c, "f"); f && *f.text().get()) formulas.push_back(f.text().get());
                }
            }
        }
        return formulas;
    }

    // The formula text of every cell of a sheet that has one, by reference.
    std::map<std::string, std::string> FormulaTexts(const std::string& sheet) const {
        std::map<std::string, std::string> texts;
        const auto* entry = Sheet(sheet);
        if (!entry || entry->part.empty()) return texts;
        const auto doc = Parse(entry->part);
        for (auto row : Children(Child(doc.document_element(), "sheetData"), "row")) {
            for (auto c : Children(row, "c")) {
                if (auto f = Child(c, "f"); f && *f.text().get()) texts[Attr(c, "r")] = f.text().get();
            }
        }
        return texts;
    }

    // Where each link to another workbook leads, by its number in formulas ([1] first): a relative target
    // resolved against `folder` (the workbook's own), any other as written.
    std::vector<std::string> LinkDestinations(const fs::path& folder) const {
        std::vector<std::string> out;
        const auto workbookDoc = Parse(m_workbookPart);
        const auto rels = Relationships(m_workbookPart);
        for (auto ref : Children(Child(workbookDoc.document_element(), "externalReferences"), "externalReference")) {
            std::string destination;
            if (auto it = rels.find(Attr(ref, "id", kRel)); it != rels.end()) {
                const auto link = Parse(it->second.second);
                const auto book = Child(link.document_element(), "externalBook");
                const auto slash = it->second.second.rfind('/');
                const std::string relsPart = it->second.second.substr(0, slash + 1) + "_rels/" +
                                             it->second.second.substr(slash + 1) + ".rels";
                const auto linkRels = Parse(relsPart);
                for (auto rel : Children(linkRels.document_element())) {
                    if (Attr(rel, "Id") != Attr(book, "id", kRel)) continue;
                    destination = Attr(rel, "Target");
                    if (destination.starts_with("file:///")) destination.erase(0, 7);
                    // A Windows file URL names its drive after the slashes: file:///C:/...
                    if (destination.size() > 2 && destination[0] == '/' && destination[2] == ':') destination.erase(0, 1);
                    if (destination.find(':') == std::string::npos && !destination.starts_with('/') &&
                        !Attr(rel, "Type").ends_with("/xlLibrary")) {
                        destination = (folder / destination).lexically_normal().string();
                    } else if (destination.find(':') == 1) {
                        destination = fs::path(destination).lexically_normal().make_preferred().string();
                    }
                }
            }
            out.push_back(destination);
        }
        return out;
    }

  private:
    pugi::xml_document Parse(const std::string& part) const {
        pugi::xml_document doc;
        auto it = m_zip.entries.find(part);
        if (it == m_zip.entries.end()) {
            ADD_FAILURE() << "no part " << part;
            return doc;
        }
        const auto result = doc.load_buffer(it->second.bytes.data(), it->second.bytes.size(),
                                            pugi::parse_default | pugi::parse_ws_pcdata);
        if (!result) ADD_FAILURE() << part << ": " << result.description();
        return doc;
    }

    // Id -> (type, target part) of the relationships of `part`.
    std::map<std::string, std::pair<std::string, std::string>> Relationships(const std::string& part) const {
        std::map<std::string, std::pair<std::string, std::string>> out;
        const auto slash = part.rfind('/');
        const std::string rels = part.substr(0, slash + 1) + "_rels/" + part.substr(slash + 1) + ".rels";
        if (!m_zip.entries.count(rels)) return out;
        const auto doc = Parse(rels);
        for (auto rel : Children(doc.document_element())) {
            if (!Is(rel, kPackageRel, "Relationship") || Attr(rel, "TargetMode") == "External") continue;
            out[Attr(rel, "Id")] = {Attr(rel, "Type"), ResolveTarget(part, Attr(rel, "Target"))};
        }
        return out;
    }

    void ReadStyles(const std::string& part) {
        const auto doc = Parse(part);
        const auto sheet = doc.document_element();
        for (auto format : Children(Child(sheet, "numFmts"), "numFmt")) {
            m_formats[Number(Attr(format, "numFmtId"), -1)] = Attr(format, "formatCode");
        }
        for (const auto& [list, item, into] :
             {std::tuple{"fonts", "font", &m_fonts}, std::tuple{"fills", "fill", &m_fills},
              std::tuple{"borders", "border", &m_borders}}) {
            for (auto node : Children(Child(sheet, list), item)) into->push_back(Canonical(node));
        }
        std::map<int, std::string> styleNames;
        for (auto style : Children(Child(sheet, "cellStyles"), "cellStyle")) {
            styleNames.emplace(Number(Attr(style, "xfId"), -1), Attr(style, "name"));
        }
        for (auto xf : Children(Child(sheet, "cellXfs"), "xf")) {
            Format format;
            format.numFmtId = Number(Attr(xf, "numFmtId"));
            format.fontId = Number(Attr(xf, "fontId"));
            format.fillId = Number(Attr(xf, "fillId"));
            format.borderId = Number(Attr(xf, "borderId"));
            // An alignment that says only what the defaults say is no alignment.
            if (auto alignment = Child(xf, "alignment"); alignment && Canonical(alignment) != "alignment") {
                format.alignment = Canonical(alignment);
            }
            if (auto name = styleNames.find(Number(Attr(xf, "xfId"))); name != styleNames.end()) {
                format.cellStyle = name->second;
            }
            m_xfs.push_back(format);
        }
    }

    Look LookOf(pugi::xml_node c) const {
        Look look;
        const std::string type = Attr(c, "t");
        const std::string v = Child(c, "v").text().get();
        if (type == "s") {
            const int index = Number(v, -1);
            look.value = index >= 0 && static_cast<std::size_t>(index) < m_strings.size()
                             ? "text:" + m_strings[static_cast<std::size_t>(index)]
                             : "missing shared string " + v;
        } else if (type == "inlineStr") {
            look.value = "text:" + ItemText(Child(c, "is"));
        } else {
            look.value = (type.empty() ? "n" : type) + ":" + v;
        }
        const auto s = static_cast<std::size_t>(Number(Attr(c, "s")));
        if (s >= m_xfs.size()) {
            if (s != 0 || !m_xfs.empty()) look.numberFormat = "no cell format " + std::to_string(s);
            return look;
        }
        const auto& xf = m_xfs[s];
        if (auto custom = m_formats.find(xf.numFmtId); custom != m_formats.end()) {
            look.numberFormat = custom->second;
        } else if (auto builtIn = BuiltInFormats().find(xf.numFmtId); builtIn != BuiltInFormats().end()) {
            look.numberFormat = builtIn->second;
        } else {
            look.numberFormat = "undefined format " + std::to_string(xf.numFmtId);
        }
        const auto pick = [](const std::vector<std::string>& list, int id, const char* what) {
            return id >= 0 && static_cast<std::size_t>(id) < list.size()
                       ? list[static_cast<std::size_t>(id)]
                       : "no " + std::string(what) + " " + std::to_string(id);
        };
        look.font = pick(m_fonts, xf.fontId, "font");
        look.fill = pick(m_fills, xf.fillId, "fill");
        look.border = pick(m_borders, xf.borderId, "border");
        look.alignment = xf.alignment;
        look.cellStyle = xf.cellStyle;
        return look;
    }

    struct Format {
        int numFmtId = 0, fontId = 0, fillId = 0, borderId = 0;
        std::string alignment, cellStyle;
    };

    StoredPackage m_zip;
    std::string m_workbookPart;
    std::vector<SheetEntry> m_sheets;
    std::vector<std::string> m_formulas;
    bool m_locked = false;
    std::vector<std::string> m_strings;
    std::map<int, std::string> m_formats;
    std::vector<std::string> m_fonts, m_fills, m_borders;
    std::vector<Format> m_xfs;
};

// How a formula names a sheet.
std::string SheetPrefix(const std::string& name) {
    const bool plain =
        std::all_of(name.begin(), name.end(), [](unsigned char c) { return std::isalnum(c) || c == '_'; }) &&
        !name.empty() && !std::isdigit(static_cast<unsigned char>(name[0]));
    if (plain) return name + "!";
    std::string quoted = "'";
    for (char c : name) quoted += c == '\'' ? std::string("''") : std::string(1, c);
    return quoted + "'!";
}

std::size_t Mentions(const std::vector<std::string>& formulas, const std::string& prefix) {
    std::size_t count = 0;
    for (const auto& formula : formulas) {
        for (auto at = formula.find(prefix); at != std::string::npos; at = formula.find(prefix, at + 1)) {
            // "Data!" inside "OldData!" or "[1]Data!" names another sheet.
            const char before = at ? formula[at - 1] : ' ';
            if (prefix.front() != '\'' &&
                (std::isalnum(static_cast<unsigned char>(before)) || before == '_' || before == ']' ||
                 before == '\'' || before == '.')) {
                continue;
            }
            ++count;
        }
    }
    return count;
}

std::string EngineMessage(const std::function<void()>& op) {
    try {
        op();
    } catch (const EngineError& e) {
        return e.what();
    }
    return "";
}

void ExpectStrictlySound(const std::vector<std::string>& before, const std::string& after,
                         const std::string& label) {
    try {
        WorkbookDocument::Open(after);
    } catch (const EngineError& e) {
        ADD_FAILURE() << label << ": the result does not reopen: " << e.what();
        return;
    }
    const auto regressions = StrictRegressions(before, after);
    EXPECT_TRUE(regressions.empty()) << label << ":" << Joined(regressions);
    // The package itself: every part typed, no override left for a part that is gone (packages that type
    // every part by override showed both), every relationship resolving.
    std::set<std::string> known;
    for (const auto& path : before) {
        for (auto& problem : Problems(path)) known.insert(std::move(problem));
    }
    for (const auto& problem : Problems(after)) EXPECT_TRUE(known.count(problem)) << label << ": " << problem;
}

// The cells of `sheet` in `source` as they look in `copy` of `target`: every cell there, looking the same.
void ExpectSameCells(const Book& source, const std::string& sheet, const Book& target,
                     const std::string& copy, const std::string& label) {
    const auto before = source.Cells(sheet);
    const auto after = target.Cells(copy);
    EXPECT_FALSE(before.empty()) << label << ": " << sheet << " has no cells to compare";
    for (const auto& [ref, look] : before) {
        auto it = after.find(ref);
        if (it == after.end()) {
            ADD_FAILURE() << label << ": " << ref << " is missing from the copy";
            continue;
        }
        // A formula's own text changes (other sheets of the source become external); what it shows does not.
        EXPECT_EQ(it->second, look) << label << ": cell " << ref;
    }
}

// The workbooks a formula's [n] references read, in order, as `destinations` (a workbook's links) resolve them;
// "?" for a number the workbook has no link for.
std::vector<std::string> BooksRead(const std::string& formula, const std::vector<std::string>& destinations) {
    std::vector<std::string> books;
    for (auto open = formula.find('['); open != std::string::npos; open = formula.find('[', open + 1)) {
        const auto close = formula.find(']', open);
        if (close == std::string::npos || close == open + 1) break;
        const std::string digits = formula.substr(open + 1, close - open - 1);
        if (digits.find_first_not_of("0123456789") != std::string::npos) continue;
        const auto n = static_cast<std::size_t>(std::stoul(digits));
        books.push_back(n >= 1 && n <= destinations.size() ? destinations[n - 1] : "?");
    }
    return books;
}

// Every [n] of the copied cells reads the workbook it read in the source; only references that the copy made
// external (to the sheets it left behind) read the source file itself.
void ExpectLinksLeadWhereTheyLed(const std::string& from, const std::string& sheet, const std::string& to,
                                 const std::string& copy, const std::string& label) {
    const Book source(from), target(to);
    const auto before = source.LinkDestinations(fs::path(from).parent_path());
    const auto after = target.LinkDestinations(fs::path(to).parent_path());
    const std::string sourceFile = fs::path(from).lexically_normal().string();
    const auto copied = target.FormulaTexts(copy);
    for (const auto& [ref, formula] : source.FormulaTexts(sheet)) {
        const auto it = copied.find(ref);
        if (it == copied.end()) continue;  // the matrix's cell comparison reports it
        auto read = BooksRead(it->second, after);
        read.erase(std::remove(read.begin(), read.end(), sourceFile), read.end());
        EXPECT_EQ(read, BooksRead(formula, before)) << label << ": cell " << ref << " " << it->second;
    }
}

// No part of a workbook names the other conformance class's namespaces (a strict sheet copied into a
// transitional workbook, or back, is written in the target's class).
void ExpectOneConformanceClass(const std::string& path, const std::string& label) {
    const auto stored = ReadStored(path);
    const bool strict = stored.entries.at("xl/workbook.xml").bytes.find(kStrictMain) != std::string::npos;
    const std::vector<std::string> foreign =
        strict ? std::vector<std::string>{"http://schemas.openxmlformats.org/spreadsheetml/2006/main",
                                          "http://schemas.openxmlformats.org/officeDocument/2006/relationships",
                                          "http://schemas.openxmlformats.org/drawingml/2006/"}
               : std::vector<std::string>{"http://purl.oclc.org/ooxml/"};
    for (const auto& [name, entry] : stored.entries) {
        for (const auto& ns : foreign)
            EXPECT_EQ(entry.bytes.find(ns), std::string::npos) << label << ": " << name << " names " << ns;
    }
}

// The visible sheets of a workbook that have a part; entries without one have nothing to show.
std::size_t VisibleWorksheets(const Book& book) {
    return static_cast<std::size_t>(
        std::count_if(book.sheets().begin(), book.sheets().end(),
                      [](const SheetEntry& e) { return e.state.empty() && !e.part.empty(); }));
}

// ---- Every operation on each workbook
// ----------------------------------------------------------------------

class ProducerOperations : public ::testing::TestWithParam<std::string> {};

TEST_P(ProducerOperations, EveryOperationLeavesAStrictlySoundWorkbook) {
    TempDir dir;
    const std::string original = ProducerFixture(GetParam());
    const Book book(original);
    const auto& sheets = book.sheets();
    const auto formulas = book.Formulas();
    const int count = static_cast<int>(sheets.size());
    const auto visibleWorksheets = VisibleWorksheets(book);

    const auto run = [&](const std::string& label, const std::function<void(WorkbookDocument&)>& op) {
        const auto path = CopyTo(original, dir, label + ".xlsx");
        auto doc = WorkbookDocument::Open(path);
        const auto refused = EngineMessage([&] {
            op(*doc);
            doc->Save();
        });
        if (!refused.empty()) return std::optional<std::string>(refused);
        ExpectStrictlySound({original}, path, label);
        return std::optional<std::string>();
    };

    for (int i = 0; i < count; ++i) {
        const auto& entry = sheets[static_cast<std::size_t>(i)];
        const std::string label = "rename " + entry.name;
        const std::string newName = "Renamed " + std::to_string(i);
        const auto refused = run(label, [&](WorkbookDocument& doc) { doc.Rename(i, newName); });
        if (book.locked()) {
            EXPECT_TRUE(refused && refused->find("protected") != std::string::npos) << label;
            continue;
        }
        if (!entry.worksheet) continue;  // an entry without a part may be refused; when renamed, it is sound
        ASSERT_FALSE(refused) << label << ": " << *refused;
        const Book after(dir.File(label + ".xlsx"));
        ASSERT_EQ(after.sheets().size(), sheets.size()) << label;
        EXPECT_EQ(after.sheets()[static_cast<std::size_t>(i)].name, newName) << label;
        // Every formula that named the sheet names it by its new name.
        const auto renamed = after.Formulas();
        EXPECT_EQ(Mentions(renamed, SheetPrefix(entry.name)), 0u) << label << Joined(renamed);
        EXPECT_EQ(Mentions(renamed, SheetPrefix(newName)), Mentions(formulas, SheetPrefix(entry.name)))
            << label << Joined(renamed);
    }
    if (count > 1) {
        const auto refused = run("move", [&](WorkbookDocument& doc) { doc.Move(0, count - 1); });
        if (book.locked()) {
            EXPECT_TRUE(refused && refused->find("protected") != std::string::npos) << "move";
        } else {
            ASSERT_FALSE(refused) << "move: " << *refused;
            const Book after(dir.File("move.xlsx"));
            EXPECT_EQ(after.sheets().back().name, sheets.front().name);
        }
    }
    for (int i = 0; i < count; ++i) {
        const auto& entry = sheets[static_cast<std::size_t>(i)];
        const std::string label = "delete " + entry.name;
        const auto refused = run(label, [&](WorkbookDocument& doc) { doc.Delete(i); });
        if (book.locked()) {
            EXPECT_TRUE(refused && refused->find("protected") != std::string::npos) << label;
            continue;
        }
        if (!entry.worksheet) continue;
        if (entry.state.empty() && visibleWorksheets == 1) {
            // The one visible worksheet: entries without a part do not count as sheets to show.
            EXPECT_TRUE(refused) << label << ": the workbook was left without a visible worksheet";
            continue;
        }
        ASSERT_FALSE(refused) << label << ": " << *refused;
        const Book after(dir.File(label + ".xlsx"));
        EXPECT_EQ(after.Sheet(entry.name), nullptr) << label;
        EXPECT_EQ(Mentions(after.Formulas(), SheetPrefix(entry.name)), 0u)
            << label << Joined(after.Formulas());
    }
}

std::vector<std::string> OperationFixtures() {
    auto names = AllProducerFixtures();
    names.erase(std::remove(names.begin(), names.end(), kBeta), names.end());
    return names;
}

INSTANTIATE_TEST_SUITE_P(Producers, ProducerOperations, ::testing::ValuesIn(OperationFixtures()),
                         [](const auto& info) { return FixtureTestName(info.param); });

// ---- Copies and moves between pairs
// ------------------------------------------------------------------------

using Pair = std::pair<std::string, std::string>;

class ProducerPairs : public ::testing::TestWithParam<Pair> {
  protected:
    // Copies every worksheet of `from` into a fresh copy of `to`, then moves the first one.
    void CopyAndMove(const std::string& from, const std::string& to) {
        const Book source(ProducerFixture(from));
        const Book target(ProducerFixture(to));
        for (const auto& entry : source.sheets()) {
            if (entry.worksheet) Transfer(from, source, entry.name, to, target, false);
        }
        const auto first = std::find_if(source.sheets().begin(), source.sheets().end(),
                                        [](const SheetEntry& e) { return e.worksheet; });
        if (first != source.sheets().end()) Transfer(from, source, first->name, to, target, true);
    }

    // Copies (and for a move then deletes) `sheet` of the fixture `fromName` into the fixture `toName`.
    void Transfer(const std::string& fromName, const Book& source, const std::string& sheet,
                  const std::string& toName, const Book& target, bool move) {
        const std::string label = (move ? "move " : "copy ") + sheet + " of " + fromName + " into " + toName;
        const std::string serial = std::to_string(++m_serial);
        const auto from = CopyTo(ProducerFixture(fromName), dir, serial + "-from-" + fromName);
        const auto to = CopyTo(ProducerFixture(toName), dir, serial + "-to-" + toName);
        auto src = WorkbookDocument::Open(from);
        auto dst = WorkbookDocument::Open(to);
        const auto& entries = src->sheets();
        const auto index = std::find_if(entries.begin(), entries.end(),
                                        [&](const SheetInfo& s) { return s.name == sheet; }) -
                           entries.begin();
        ASSERT_LT(static_cast<std::size_t>(index), entries.size()) << label;
        CopiedSheet copied;
        const auto refused = EngineMessage([&] {
            copied =
                CopySheet(*src, static_cast<int>(index), *dst, static_cast<int>(dst->sheets().size()) - 1);
            dst->Save();
        });
        if (target.locked()) {
            EXPECT_NE(refused.find("protected"), std::string::npos) << label << ": " << refused;
            EXPECT_FALSE(dst->changed()) << label;
            return;
        }
        ASSERT_EQ(refused, "") << label;
        ExpectStrictlySound({ProducerFixture(fromName), ProducerFixture(toName)}, to, label);
        const Book result(to);
        ASSERT_NE(result.Sheet(copied.name), nullptr) << label << ": no sheet " << copied.name;
        EXPECT_EQ(result.sheets().size(), target.sheets().size() + 1) << label;
        ExpectSameCells(source, sheet, result, copied.name, label);
        ExpectLinksLeadWhereTheyLed(from, sheet, to, copied.name, label);
        ExpectOneConformanceClass(to, label);
        if (!move) return;
        const auto kept = EngineMessage([&] {
            src->Delete(static_cast<int>(index));
            src->Save();
        });
        if (source.locked()) {
            EXPECT_NE(kept.find("protected"), std::string::npos) << label << ": " << kept;
            return;
        }
        if (VisibleWorksheets(source) == 1) {
            EXPECT_NE(kept, "") << label << ": the source was left without a visible worksheet";
            return;
        }
        ASSERT_EQ(kept, "") << label;
        ExpectStrictlySound({ProducerFixture(fromName)}, from, label + " (the source)");
        EXPECT_EQ(Book(from).Sheet(sheet), nullptr) << label;
    }

    TempDir dir;
    int m_serial = 0;
};

TEST_P(ProducerPairs, CopiesAndMovesBothWaysKeepEveryCellsLook) {
    CopyAndMove(GetParam().first, GetParam().second);
    CopyAndMove(GetParam().second, GetParam().first);
}

// Each fixture with each producer's workbook, every pair once.
std::vector<Pair> Pairs() {
    std::vector<Pair> pairs;
    std::set<Pair> seen;
    for (const auto& fixture : AllProducerFixtures()) {
        if (fixture == kBeta || fixture == kShortStrings) continue;
        for (const auto& producer : kProducers) {
            if (fixture == producer || seen.count({producer, fixture})) continue;
            seen.insert({fixture, producer});
            pairs.emplace_back(fixture, producer);
        }
    }
    return pairs;
}

INSTANTIATE_TEST_SUITE_P(Producers, ProducerPairs, ::testing::ValuesIn(Pairs()), [](const auto& info) {
    return FixtureTestName(info.param.first + "_with_" + info.param.second);
});

// ---- Workbooks the matrix cannot judge alone -------------------------------------------------------------

TEST(ProducerRegressions, AModulePlaceholderIsNeverAVisibleWorksheetToCopyOrDelete) {
    TempDir dir;
    const auto path = CopyTo(ProducerFixture(kModulePlaceholder), dir, "modules.xlsx");
    auto doc = WorkbookDocument::Open(path);
    int data = -1;
    for (std::size_t i = 0; i < doc->sheets().size(); ++i) {
        const auto& sheet = doc->sheets()[i];
        if (sheet.name == "Data") data = static_cast<int>(i);
        if (sheet.name != "Module1") continue;
        EXPECT_FALSE(sheet.kind == SheetKind::Worksheet && sheet.state == SheetState::Visible)
            << "Module1 is listed as a visible worksheet";
        auto target = WorkbookDocument::Open(CopyTo(ProducerFixture("xlsxwriter.xlsx"), dir, "target.xlsx"));
        EXPECT_THROW(CopySheet(*doc, static_cast<int>(i), *target, 0), EngineError);
        EXPECT_FALSE(target->changed());
    }
    ASSERT_GE(data, 0);
    EXPECT_THROW(doc->Delete(data), EngineError) << "the one real worksheet was deleted";
}

TEST(ProducerRegressions, TheBetaNamespaceIsRefusedOnOpening) {
    const std::string message = EngineMessage([] { WorkbookDocument::Open(ProducerFixture(kBeta)); });
    EXPECT_NE(message.find(kBeta), std::string::npos)
        << "opened, or refused without naming the file: " << message;
}

// The matrix's own reader knows UTF-8, UTF-16 and ISO-8859-1 only: encodings that only the C library reads are
// tried here, in parts changed by a rename. What is written is UTF-8 and says so.
TEST(ProducerRegressions, PartsInOtherEightBitEncodingsAreReadAndWrittenAsUtf8) {
    TempDir dir;
    const auto stored = ReadStored(ProducerFixture(kDeclaredEncodings));
    Parts parts;
    for (const auto& name : stored.order) parts.emplace_back(name, stored.entries.at(name).bytes);
    const auto with = [&](const std::string& workbookEncoding) {
        Parts changed = parts;
        for (auto& [name, bytes] : changed) {
            if (name == "xl/workbook.xml") {
                // "\x80uro" is the euro sign in windows-1252.
                bytes = "<?xml version=\"1.0\" encoding=\"" + workbookEncoding + "\" standalone=\"yes\"?>\n<workbook "
                        "xmlns=\"" + std::string(kMain) + "\" xmlns:r=\"" + kRel + "\"><sheets><sheet name=\"\x80uro\" "
                        "sheetId=\"1\" r:id=\"rId1\"/><sheet name=\"Plain\" sheetId=\"2\" r:id=\"rId2\"/></sheets></workbook>";
            } else if (name == "xl/worksheets/sheet2.xml") {
                // "+IKw-" is the euro sign in UTF-7.
                bytes = "<?xml version=\"1.0\" encoding=\"UTF-7\"?>\n<worksheet xmlns=\"" + std::string(kMain) +
                        "\"><sheetData><row r=\"1\"><c r=\"B1\"><f>'+IKw-uro'!B2*2</f><v>2469</v></c></row>"
                        "</sheetData></worksheet>";
            }
        }
        return changed;
    };
    const auto original = dir.File("original.xlsx");
    WritePackage(original, with("windows-1252"));
    const auto path = CopyTo(original, dir, "renamed.xlsx");
    {
        auto doc = WorkbookDocument::Open(path);
        ASSERT_EQ(doc->SheetNames(), (std::vector<std::string>{"\u20ACuro", "Plain"}));
        doc->Rename(0, "Renamed");
        doc->Save();
    }
    ExpectStrictlySound({original}, path, "rename");
    EXPECT_EQ(WorkbookDocument::Open(path)->SheetNames(), (std::vector<std::string>{"Renamed", "Plain"}));
    for (const char* part : {"xl/workbook.xml", "xl/worksheets/sheet2.xml"}) {
        EXPECT_TRUE(PartText(path, part).starts_with("<?xml version=\"1.0\" encoding=\"UTF-8\"")) << part;
    }
    EXPECT_NE(PartText(path, "xl/worksheets/sheet2.xml").find("<f>Renamed!B2*2</f>"), std::string::npos);

    const auto unknown = dir.File("unknown.xlsx");
    WritePackage(unknown, with("x-no-such-encoding"));
    const auto message = EngineMessage([&] { WorkbookDocument::Open(unknown); });
    EXPECT_NE(message.find("character encoding \"x-no-such-encoding\""), std::string::npos) << message;
}

// Copied into the workbook its first link reads, the sheet's references to it become its own, its link to the
// prices joins the target's (which learns the cell it did not cache); copied with its sheets into a folder
// below, the relative link still finds the workbook beside the source.
TEST(ProducerRegressions, LinksToOtherWorkbooksTravelIntoAnyFolderAndJoinTheTargets) {
    TempDir dir;
    const auto from = CopyTo(ProducerFixture(kExternalLinks), dir, "src.xlsx");
    const auto other = CopyTo(ProducerFixture("regress-external-links-other.xlsx"), dir, "other.xlsx");
    {
        auto src = WorkbookDocument::Open(from);
        auto dst = WorkbookDocument::Open(other);
        CopySheet(*src, 1, *dst, 1);
        dst->Save();
    }
    const auto formulas = Book(other).FormulaTexts("Links");
    EXPECT_EQ(formulas.at("A1"), "Uses!$A$1*2");
    EXPECT_EQ(formulas.at("C1"), "Rate");
    EXPECT_EQ(formulas.at("B2"), "'[1]Price List'!B2");
    EXPECT_EQ(Book(other).LinkDestinations(dir.path()).size(), 3u) << "prices, the source, the add-in";
    EXPECT_NE(PartText(other, "xl/externalLinks/externalLink1.xml").find("<cell r=\"B3\"><v>20</v>"),
              std::string::npos);

    fs::create_directories(dir.path() / "below");
    const auto far = CopyTo(ProducerFixture("xlsxwriter.xlsx"), dir, "below/far.xlsx");
    {
        auto src = WorkbookDocument::Open(from);
        auto dst = WorkbookDocument::Open(far);
        CopySheets(*src, {0, 1}, *dst, 0);
        dst->Save();
    }
    ExpectStrictlySound({from, ProducerFixture("xlsxwriter.xlsx")}, far, "group copy");
    ExpectLinksLeadWhereTheyLed(from, "Links", far, "Links", "group copy");
    EXPECT_EQ(Book(far).FormulaTexts("Links").at("C2"), "'Data (2)'!B1+[1]Uses!A1") << "Data came along";

    // A relative hyperlink of a copied sheet leads to the file beside its source from the folder below too.
    {
        auto src = WorkbookDocument::Open(CopyTo(Fixture("ole-attachments-cyrillic.xlsm"), dir, "ole.xlsm"));
        auto dst = WorkbookDocument::Open(far);
        CopySheet(*src, 0, *dst, 0);
        dst->Save();
    }
    const std::string linked = (dir.path() / "hyperlink1").lexically_normal().generic_string();
    // file:///tmp/..., file:///C:/...
    const std::string expected = "Target=\"file://" + std::string(linked.starts_with('/') ? "" : "/") + linked + "\"";
    bool found = false;
    for (const auto& [name, entry] : ReadStored(far).entries)
        found |= name.find("worksheets/_rels/") != std::string::npos && entry.bytes.find(expected) != std::string::npos;
    EXPECT_TRUE(found) << expected;
}

// A chart copied into a strict workbook writes its percentages as the strict class does ("100%"), and copied
// back into a transitional one as the transitional class does ("100").
TEST(ProducerRegressions, ChartPercentagesFollowTheTargetsConformanceClass) {
    TempDir dir;
    const auto strict = CopyTo(ProducerFixture("regress-strict-class.xlsx"), dir, "strict.xlsx");
    const auto back = CopyTo(ProducerFixture("openpyxl.xlsx"), dir, "back.xlsx");
    const auto labelOffsets = [](const std::string& path) {
        std::string found;
        for (const auto& [name, entry] : ReadStored(path).entries) {
            const auto at = entry.bytes.find("lblOffset val=\"");
            if (name.find("charts/") != std::string::npos && at != std::string::npos)
                found += entry.bytes.substr(at + 15, entry.bytes.find('"', at + 15) - at - 15) + ";";
        }
        return found;
    };
    {
        auto src = WorkbookDocument::Open(ProducerFixture("xlsxwriter.xlsx"));
        auto dst = WorkbookDocument::Open(strict);
        CopySheet(*src, 1, *dst, 1);
        dst->Save();
    }
    EXPECT_EQ(labelOffsets(strict), "100%;");
    {
        auto src = WorkbookDocument::Open(strict);
        auto dst = WorkbookDocument::Open(back);
        CopySheet(*src, 2, *dst, 0);
        dst->Save();
    }
    EXPECT_NE(labelOffsets(back), "");
    EXPECT_EQ(labelOffsets(back).find('%'), std::string::npos) << labelOffsets(back);
    ExpectStrictlySound({strict, ProducerFixture("openpyxl.xlsx")}, back, "back into a transitional workbook");
}

// Indices past the end of the source's table name no string: a copy refuses, or writes the strings there are
// and nothing that lands on one of the target's own strings or past the end of its table.
TEST(ProducerRegressions, ACopyOutOfAShortStringTableNeverIndexesPastTheTarget) {
    const Book source(ProducerFixture(kShortStrings));
    const auto cells = source.Cells("Data");
    for (const auto& producer : kProducers) {
        TempDir dir;
        const auto to = CopyTo(ProducerFixture(producer), dir, producer);
        auto src = WorkbookDocument::Open(ProducerFixture(kShortStrings));
        auto dst = WorkbookDocument::Open(to);
        CopiedSheet copied;
        const auto refused = EngineMessage([&] {
            copied = CopySheet(*src, 0, *dst, 0);
            dst->Save();
        });
        if (!refused.empty()) {
            EXPECT_FALSE(dst->changed()) << producer;
            continue;
        }
        ExpectStrictlySound({ProducerFixture(kShortStrings), ProducerFixture(producer)}, to, producer);
        const Book result(to);
        for (int index : result.StringIndices(copied.name)) {
            EXPECT_TRUE(index >= 0 && static_cast<std::size_t>(index) < result.stringCount())
                << producer << ": shared string " << index << " of " << result.stringCount();
        }
        const auto copiedCells = result.Cells(copied.name);
        for (const auto& [ref, look] : cells) {
            const auto it = copiedCells.find(ref);
            const bool dangling = look.value.starts_with("missing");
            if (it == copiedCells.end()) {
                EXPECT_TRUE(dangling) << producer << ": " << ref << " is missing";
                continue;
            }
            if (dangling) {
                EXPECT_TRUE(it->second.value == "text:" || it->second.value == "n:")
                    << producer << ": " << ref << " shows " << it->second.value;
            } else {
                EXPECT_EQ(it->second, look) << producer << ": " << ref;
            }
        }
    }
}

}  // namespace
}  // namespace orv::engine::test
