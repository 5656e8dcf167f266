// Resolving structured references against table parts.
#include "engine/transfer/StructuredRefs.h"

#include <algorithm>
#include <cctype>

#include "engine/EngineError.h"
#include "engine/formula/CellReference.h"
#include "engine/formula/Formula.h"
#include "engine/package/Package.h"
#include "engine/package/Relationships.h"
#include "engine/package/Xml.h"
#include "engine/workbook/SheetNames.h"

namespace orv::engine {

namespace {


// Marks the ':' between two columns inside an item ("Col1" kRangeMark "Col2").
constexpr char kRangeMark = '\x01';

// The items of a specifier: "[[#Headers],[Col1]:[Col2]]" -> "#Headers", "Col1<mark>Col2"; "[Amt]" -> "Amt".
std::vector<std::string> Items(std::string_view spec) {
    std::vector<std::string> items;
    if (spec.size() < 2) return items;
    spec = spec.substr(1, spec.size() - 2);
    if (spec.empty() || spec.front() != '[') {
        std::string plain;
        for (std::size_t i = 0; i < spec.size(); ++i)
            plain += spec[i] == '\'' && i + 1 < spec.size() ? spec[++i] : spec[i];
        items.push_back(plain);
        return items;
    }
    int depth = 0;
    std::string current;
    for (std::size_t i = 0; i < spec.size(); ++i) {
        const char c = spec[i];
        if (c == '\'' && i + 1 < spec.size()) {  // an escaped bracket or quote inside a column name
            current += spec[++i];
            continue;
        }
        if (c == '[' && depth++ == 0) continue;
        if (c == ']' && --depth == 0) continue;
        if (c == ',' && depth == 0) {
            items.push_back(current);
            current.clear();
            continue;
        }
        if (depth == 0 && c == ' ') continue;
        current += depth == 0 && c == ':' ? kRangeMark : c;
    }
    items.push_back(current);
    return items;
}

int ColumnIndex(const TableArea& table, std::string_view name) {
    for (std::size_t i = 0; i < table.columns.size(); ++i) {
        if (SheetNamesEqual(table.columns[i], name)) return static_cast<int>(i);
    }
    return -1;
}

}  // namespace

std::map<std::string, TableArea> WorkbookTables(Package& package, const std::string& workbookPart) {
    std::map<std::string, TableArea> tables;
    auto workbook = Root(package.Xml(workbookPart));
    // By id, read once: a workbook can have thousands of sheets.
    std::map<std::string, Relationship, std::less<>> rels;
    for (auto& r : Relationships(package, workbookPart).All()) rels.try_emplace(r.id, std::move(r));
    for (auto sheet : Children(Child(workbook, "sheets"), "sheet")) {
        auto id = RelAttribute(sheet, "id");
        if (!id) continue;
        const auto found = rels.find(std::string_view(id.value()));
        const Relationship* rel = found == rels.end() ? nullptr : &found->second;
        if (!rel || rel->targetPart.empty() || !package.Has(rel->targetPart)) continue;
        for (const auto& t : Relationships(package, rel->targetPart).All()) {
            if (t.external || !RelTypeIs(t.type, "table") || !package.Has(t.targetPart)) continue;
            auto root = Root(package.Xml(t.targetPart));
            TableArea area;
            area.sheet = sheet.attribute("name").value();
            const std::string_view ref = root.attribute("ref").value();
            const auto colon = ref.find(':');
            ParseCellReference(ref.substr(0, colon), area.firstRow, area.firstColumn);
            ParseCellReference(colon == std::string_view::npos ? ref : ref.substr(colon + 1), area.lastRow,
                      area.lastColumn);
            if (auto h = root.attribute("headerRowCount")) area.headerRows = h.as_int();
            if (auto s = root.attribute("totalsRowCount")) area.totalsRows = s.as_int();
            for (auto c : Children(Child(root, "tableColumns"), "tableColumn"))
                area.columns.emplace_back(c.attribute("name").value());
            tables[platform::FoldCase(root.attribute("displayName").value())] = area;
        }
    }
    return tables;
}

std::string StructuredToA1(std::string_view formula, const std::map<std::string, TableArea>& tables) {
    if (tables.empty()) return std::string(formula);
    std::string out;
    bool changed = false;
    for (const auto& token : formula::Tokenize(formula)) {
        const bool structured =
            token.kind == formula::TokenKind::StructuredReference || token.kind == formula::TokenKind::Name;
        const auto bracket = token.text.find('[');
        const auto name = token.text.substr(0, bracket);
        auto it = structured && token.prefixLength == 0 && !name.empty()
                      ? tables.find(platform::FoldCase(name))
                      : tables.end();
        if (it == tables.end()) {
            out += token.text;
            continue;
        }
        const TableArea& t = it->second;
        int row1 = t.firstRow + t.headerRows, row2 = t.lastRow - t.totalsRows;  // the data body by default
        int col1 = t.firstColumn, col2 = t.lastColumn;
        bool rowsGiven = false;
        auto addRows = [&](int a, int b) {
            row1 = rowsGiven ? std::min(row1, a) : a;
            row2 = rowsGiven ? std::max(row2, b) : b;
            rowsGiven = true;
        };
        bool ok = true;
        for (const auto& item : bracket == std::string_view::npos ? std::vector<std::string>{}
                                                                  : Items(token.text.substr(bracket))) {
            if (item.empty()) continue;
            if (item[0] == '#' || item[0] == '@') {
                std::string key = item;
                std::transform(key.begin(), key.end(), key.begin(),
                               [](unsigned char c) { return std::tolower(c); });
                if (key == "#all")
                    addRows(t.firstRow, t.lastRow);
                else if (key == "#data")
                    addRows(t.firstRow + t.headerRows, t.lastRow - t.totalsRows);
                else if (key == "#headers" && t.headerRows > 0)
                    addRows(t.firstRow, t.firstRow + t.headerRows - 1);
                else if (key == "#totals" && t.totalsRows > 0)
                    addRows(t.lastRow - t.totalsRows + 1, t.lastRow);
                else
                    ok = false;
                continue;
            }
            const auto range = item.find(kRangeMark);
            const int a = ColumnIndex(t, range == std::string::npos ? item : item.substr(0, range));
            const int b = range == std::string::npos ? a : ColumnIndex(t, item.substr(range + 1));
            if (a < 0 || b < 0) ok = false;
            col1 = t.firstColumn + std::min(a, b);
            col2 = t.firstColumn + std::max(a, b);
        }
        if (!ok) {
            throw EngineError(
                "The formula " + std::string(formula) + " refers to table " + std::string(name) +
                " in a way that has no fixed cells (such as the current row), which cannot be carried "
                "to another workbook. Change it to a plain cell reference, then try again.");
        }
        const std::string first = "$" + ColumnName(col1) + "$" + std::to_string(row1);
        const std::string last = "$" + ColumnName(col2) + "$" + std::to_string(row2);
        out += formula::QuoteSheetName(t.sheet) + "!" + first + (first == last ? "" : ":" + last);
        changed = true;
    }
    return changed ? out : std::string(formula);
}

}  // namespace orv::engine
