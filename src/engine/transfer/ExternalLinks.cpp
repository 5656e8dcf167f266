// Building externalLink parts and reading the cells they cache.
#include "engine/transfer/ExternalLinks.h"

#include <algorithm>
#include <cctype>
#include <iterator>
#include <map>
#include <set>
#include <tuple>

#include "engine/EngineError.h"
#include "engine/formula/CellReference.h"
#include "engine/formula/Formula.h"
#include "engine/package/ContentTypes.h"
#include "engine/package/Package.h"
#include "engine/package/PartNames.h"
#include "engine/package/Relationships.h"
#include "engine/package/Xml.h"
#include "engine/package/Zip.h"
#include "engine/transfer/CarriedLinks.h"
#include "engine/workbook/SheetNames.h"
#include "engine/workbook/SheetStream.h"

namespace orv::engine {

namespace {

// The cells a set of areas covers, asked for row by row as a worksheet part holds its rows (in rising order).
// The areas of one column span are merged into disjoint runs of rows, so a cell is tested against a few
// spans however many areas the formulas cite: a running total cites one more on every row.
class AreaSweep {
  public:
    explicit AreaSweep(std::vector<formula::Area> areas) {
        std::sort(areas.begin(), areas.end(), [](const formula::Area& a, const formula::Area& b) {
            return std::tie(a.firstColumn, a.lastColumn, a.firstRow) < std::tie(b.firstColumn, b.lastColumn, b.firstRow);
        });
        for (const auto& a : areas) {
            m_lastRow = std::max(m_lastRow, a.lastRow);
            if (m_spans.empty() || m_spans.back().firstColumn != a.firstColumn ||
                m_spans.back().lastColumn != a.lastColumn)
                m_spans.push_back({a.firstColumn, a.lastColumn, {}, 0});
            auto& runs = m_spans.back().runs;
            if (!runs.empty() && a.firstRow <= runs.back().last + 1)
                runs.back().last = std::max(runs.back().last, a.lastRow);
            else
                runs.push_back({a.firstRow, a.lastRow});
        }
    }

    // The last row any area reaches (0 when there are none).
    std::uint32_t lastRow() const { return m_lastRow; }

    bool Covers(std::uint32_t row, std::uint32_t column) {
        if (row != m_row) Reach(row);
        auto after = std::upper_bound(m_columns.begin(), m_columns.end(), column,
                                      [](std::uint32_t c, const Interval& span) { return c < span.first; });
        return after != m_columns.begin() && column <= std::prev(after)->last;
    }

  private:
    struct Interval {
        std::uint32_t first;
        std::uint32_t last;
    };
    struct Span {
        std::uint32_t firstColumn;
        std::uint32_t lastColumn;
        std::vector<Interval> runs;  // rows, in order and apart
        std::size_t next;            // the first run that does not end above the row reached
    };

    // Makes m_columns the columns covered in `row`, in order and merged.
    void Reach(std::uint32_t row) {
        m_columns.clear();
        for (auto& span : m_spans) {
            // A row above the last one (a damaged part) is swept again from the top.
            if (row < m_row) span.next = 0;
            while (span.next < span.runs.size() && span.runs[span.next].last < row) ++span.next;
            if (span.next == span.runs.size() || span.runs[span.next].first > row) continue;
            if (!m_columns.empty() && span.firstColumn <= m_columns.back().last + 1)
                m_columns.back().last = std::max(m_columns.back().last, span.lastColumn);
            else
                m_columns.push_back({span.firstColumn, span.lastColumn});
        }
        m_row = row;
    }

    std::vector<Span> m_spans;  // by first and last column
    std::vector<Interval> m_columns;
    std::uint32_t m_row = 0;
    std::uint32_t m_lastRow = 0;
};

std::string Text(const pugi::xml_node& node) {
    std::string out;
    for (auto t : Descendants(node, "t")) {
        // Phonetic runs (rPh) are not part of the shown text.
        if (LocalName(t.parent()) == "rPh") continue;
        out += t.text().get();
    }
    return out;
}

// Appends `text` as XML character data, as the tree writer would escape it.
void AppendEscaped(std::string& out, std::string_view text) {
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '&') {
            out += "&amp;";
        } else if (c == '<') {
            out += "&lt;";
        } else if (c == '>') {
            out += "&gt;";
        } else if (u < 0x20 && c != '\t' && c != '\n') {
            out += "&#" + std::to_string(u) + ";";
        } else {
            out += c;
        }
    }
}

}  // namespace

CachedCells CellsInRanges(Package& package, const std::string& sheetPart, const std::string& sharedStrings,
                          std::vector<formula::Area> areas) {
    CachedCells out;
    if (areas.empty()) return out;
    AreaSweep sweep(std::move(areas));
    // Rows stand in order in a worksheet part: past the last row any area reaches, nothing more is wanted, and
    // the rest of a large sheet need not be inflated (a small sheet reading a few cells at the top of a large
    // one costs those rows only).
    struct PastTheAreas {};
    const std::uint32_t lastRow = sweep.lastRow();
    std::vector<pugi::xml_node> strings;
    if (!sharedStrings.empty()) strings = Children(Root(package.Xml(sharedStrings)), "si");
    // The sheet may be the largest part of the workbook: its rows are read in pieces, never whole.
    auto visit = [&](const CellValue& c) {
        if (c.row <= 0 || c.column <= 0) return;
        if (static_cast<std::uint32_t>(c.row) > lastRow) throw PastTheAreas{};
        if (!sweep.Covers(static_cast<std::uint32_t>(c.row), static_cast<std::uint32_t>(c.column))) return;
        CachedCell cell;
        cell.row = c.row;
        cell.column = c.column;
        if (c.type == "s") {
            const auto i = static_cast<std::size_t>(std::atoi(c.value.c_str()));
            cell.type = 's';
            cell.value = i < strings.size() ? Text(strings[i]) : "";
        } else if (c.type == "inlineStr") {
            cell.type = 's';
            cell.value = c.value;
        } else if (!c.hasValue) {
            return;
        } else {
            cell.type = c.type == "str" ? 's' : c.type == "b" ? 'b' : c.type == "e" ? 'e' : 'n';
            cell.value = c.value;
        }
        out.push_back(std::move(cell));
    };
    try {
        ForEachCellOfPart(package, sheetPart, visit);
    } catch (const PastTheAreas&) {
    }
    return out;
}

int LinkSheetIndex(pugi::xml_node book, const std::string& name) {
    const std::string ns(NamespaceOf(book));
    auto names = Child(book, "sheetNames");
    if (!names) names = InsertElementBefore(book, book.first_child(), ns, "sheetNames");
    int index = 0;
    for (auto n : Children(names, "sheetName")) {
        if (SheetNamesEqual(n.attribute("val").value(), name)) return index;
        ++index;
    }
    AppendElement(names, ns, "sheetName").append_attribute("val") = name.c_str();
    return index;
}

void MergeCachedCells(pugi::xml_node book, int sheet, const CachedCells& list) {
    const std::string ns(NamespaceOf(book));
    auto dataSet = Child(book, "sheetDataSet");
    if (!dataSet) dataSet = AppendElement(book, ns, "sheetDataSet");
    pugi::xml_node data;
    for (auto d : Children(dataSet, "sheetData")) {
        if (d.attribute("sheetId").as_int() == sheet) data = d;
    }
    if (!data) {
        data = AppendElement(dataSet, ns, "sheetData");
        data.append_attribute("sheetId") = sheet;
    }
    // Rows by number and each row's cells by column, indexed once: a link can cache a whole large sheet,
    // and searching its rows for every cell took the time of their product.
    std::map<int, pugi::xml_node> rows;
    for (auto r : Children(data, "row")) rows.insert_or_assign(r.attribute("r").as_int(), r);
    std::map<int, std::map<int, pugi::xml_node>> columns;  // a row's, on first need
    for (const auto& cell : list) {
        auto found = rows.find(cell.row);
        if (found == rows.end()) {
            const auto next = rows.upper_bound(cell.row);
            auto row = InsertElementBefore(data, next == rows.end() ? pugi::xml_node() : next->second, ns, "row");
            row.append_attribute("r") = cell.row;
            found = rows.emplace(cell.row, row).first;
        }
        const pugi::xml_node row = found->second;
        auto [indexed, fresh] = columns.try_emplace(cell.row);
        auto& byColumn = indexed->second;
        if (fresh) {
            for (auto c : Children(row, "cell")) {
                int r = 0, col = 0;
                ParseCellReference(c.attribute("r").value(), r, col);
                byColumn.insert_or_assign(col, c);
            }
        }
        if (byColumn.count(cell.column)) continue;
        const auto next = byColumn.lower_bound(cell.column);
        const pugi::xml_node after = next == byColumn.begin() ? pugi::xml_node() : std::prev(next)->second;
        auto c = InsertElementAfter(row, after, ns, "cell");
        c.append_attribute("r") = (ColumnName(cell.column) + std::to_string(cell.row)).c_str();
        if (cell.type != 'n') c.append_attribute("t") = cell.TypeAttribute();
        AppendElement(c, ns, "v").text() = cell.value.c_str();
        byColumn.emplace(cell.column, c);
    }
}

namespace {

// Adds to an existing link to the same workbook the sheets and cached cells it lacks.
void MergeIntoLink(Package& target, const std::string& part, const std::vector<std::string>& sheetNames,
                   const std::map<int, CachedCells>& cells) {
    auto book = Child(Root(target.Xml(part)), "externalBook");
    for (const auto& [sheet, list] : cells)
        MergeCachedCells(book, LinkSheetIndex(book, sheetNames.at(static_cast<std::size_t>(sheet))), list);
    target.MarkChanged(part);
}

// The number of an existing link of the workbook to `linkTarget` into which the cells were merged, or 0.
int ReuseLink(Package& target, const std::string& workbookPart, const std::string& linkTarget,
              const std::vector<std::string>& sheetNames,
              const std::map<int, CachedCells>& cells) {
    const auto parts = LinkParts(target, workbookPart);
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (parts[i].empty()) continue;
        auto path = Relationships(target, parts[i]).FirstOfKind("externalLinkPath");
        if (path && Child(Root(target.Xml(parts[i])), "externalBook") &&
            LinkDestination(path->target, target.path()) == LinkDestination(linkTarget, target.path())) {
            MergeIntoLink(target, parts[i], sheetNames, cells);
            return static_cast<int>(i) + 1;
        }
    }
    return 0;
}

}  // namespace

int AddExternalLink(Package& target, const std::string& workbookPart, const std::string& linkTarget,
                    const std::vector<std::string>& sheetNames,
                    const std::map<int, CachedCells>& cells) {
    // One link per workbook, as the application keeps them.
    if (const int reused = ReuseLink(target, workbookPart, linkTarget, sheetNames, cells)) return reused;
    const std::string part = FreeLinkPartName(target);
    // The new part is written in the workbook's conformance class (strict or transitional).
    const auto wbRoot = Root(target.Xml(workbookPart));
    const std::string relsNamespace = RelationshipsNamespace(wbRoot);
    pugi::xml_document doc;
    auto link = doc.append_child("externalLink");
    link.append_attribute("xmlns") = std::string(NamespaceOf(wbRoot)).c_str();
    link.append_attribute("xmlns:r") = relsNamespace.c_str();
    auto book = link.append_child("externalBook");
    book.append_attribute("r:id") = "rId1";
    auto names = book.append_child("sheetNames");
    for (const auto& name : sheetNames)
        names.append_child("sheetName").append_attribute("val") = name.c_str();
    // The cached cells can be a whole large sheet: written as text straight into the deflater, never as a tree
    // nor as the whole text at once.
    book.append_child("sheetDataSet");
    const std::string around =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n" + SerializeXml(doc);
    doc.reset();
    const std::string placeholder = "<sheetDataSet/>";
    const auto at = around.find(placeholder);
    if (at == std::string::npos) throw EngineError("The link to \"" + linkTarget + "\" could not be written.");
    DeflateStream out;
    out.Add(std::string_view(around).substr(0, at));
    // A link without cached cells (one only macros use) has no data set: an empty one is not allowed.
    if (!cells.empty()) out.Add("<sheetDataSet>");
    std::string piece;
    auto flush = [&] {
        out.Add(piece);
        piece.clear();
    };
    for (const auto& [sheet, list] : cells) {
        piece += "<sheetData sheetId=\"" + std::to_string(sheet) + "\">";
        std::vector<const CachedCell*> sorted;
        sorted.reserve(list.size());
        for (const auto& cell : list) sorted.push_back(&cell);
        std::sort(sorted.begin(), sorted.end(), [](const CachedCell* a, const CachedCell* b) {
            return std::tie(a->row, a->column) < std::tie(b->row, b->column);
        });
        int current = 0;
        for (const CachedCell* cell : sorted) {
            if (cell->row != current) {
                if (current != 0) piece += "</row>";
                piece += "<row r=\"" + std::to_string(cell->row) + "\">";
                current = cell->row;
            }
            piece += "<cell r=\"" + ColumnName(cell->column) + std::to_string(cell->row) + "\"";
            if (cell->type != 'n') piece += std::string(" t=\"") + cell->TypeAttribute() + "\"";
            piece += "><v>";
            AppendEscaped(piece, cell->value);
            piece += "</v></cell>";
            if (piece.size() >= (1u << 20)) flush();
        }
        if (current != 0) piece += "</row>";
        piece += "</sheetData>";
    }
    if (!cells.empty()) piece += "</sheetDataSet>";
    flush();
    out.Add(std::string_view(around).substr(at + placeholder.size()));
    target.WriteDeflated(part, out.Finish());
    Relationship path;
    path.id = "rId1";
    path.type = relsNamespace + "/externalLinkPath";
    path.target = linkTarget;
    path.external = true;
    target.Write(RelsPartOf(part), RelationshipsPartText({path}));
    return AppendLinkToWorkbook(target, workbookPart, part);
}

std::vector<std::string> LinkParts(Package& package, const std::string& workbookPart) {
    std::vector<std::string> parts;
    Relationships rels(package, workbookPart);
    for (auto ref : Children(Child(Root(package.Xml(workbookPart)), "externalReferences"), "externalReference")) {
        const auto rel = rels.ById(RelAttribute(ref, "id").value());
        const auto spelled = rel ? package.Spelling(rel->targetPart) : std::nullopt;
        parts.push_back(spelled ? *spelled : "");
    }
    return parts;
}

std::string FreeLinkPartName(const Package& target) {
    for (int n = 1;; ++n) {
        std::string part = "xl/externalLinks/externalLink" + std::to_string(n) + ".xml";
        if (!target.Has(part)) return part;
    }
}

int AppendLinkToWorkbook(Package& target, const std::string& workbookPart, const std::string& part) {
    ContentTypes(target).SetOverride(
        part, "application/vnd.openxmlformats-officedocument.spreadsheetml.externalLink+xml");

    Relationships workbookRels(target, workbookPart);
    std::string type = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/externalLink";
    if (auto any = workbookRels.FirstOfKind("worksheet"))
        type = any->type.substr(0, any->type.rfind('/') + 1) + "externalLink";
    const std::string id = workbookRels.Add(type, part);

    auto& workbook = target.Xml(workbookPart);
    auto wb = Root(workbook);
    auto refs = Child(wb, "externalReferences");
    if (!refs) {
        pugi::xml_node before;
        for (const char* next :
             {"definedNames", "calcPr", "oleSize", "customWorkbookViews", "pivotCaches", "smartTagPr",
              "smartTagTypes", "webPublishing", "fileRecoveryPr", "webPublishObjects", "extLst"}) {
            if ((before = Child(wb, next))) break;
        }
        refs = InsertElementBefore(wb, before, NamespaceOf(wb), "externalReferences");
    }
    auto ref = AppendElement(refs, NamespaceOf(refs), "externalReference");
    SetAttribute(ref, RelationshipsNamespace(ref), "id", "r", id.c_str());
    target.MarkChanged(workbookPart);
    return static_cast<int>(Children(refs, "externalReference").size());
}

}  // namespace orv::engine
