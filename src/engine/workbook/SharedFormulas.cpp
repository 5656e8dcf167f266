// Shifting references through the formula tokenizer.
#include "engine/workbook/SharedFormulas.h"

#include <cctype>

#include "engine/formula/CellReference.h"
#include "engine/formula/Formula.h"

namespace orv::engine {

namespace {

constexpr int kMaxRow = 1048576;
constexpr int kMaxColumn = 16384;

// One end of a range ("$B3", "C", "12"), moved; false when it leaves the sheet or is not a cell part.
bool ShiftPart(std::string_view part, int rows, int columns, std::string& out) {
    std::size_t i = 0;
    auto anchor = [&] {
        if (i < part.size() && part[i] == '$') return ++i, true;
        return false;
    };
    const std::size_t start = i;
    bool colAbs = anchor();
    int col = 0;
    const std::size_t letters = i;
    while (i < part.size() && std::isalpha(static_cast<unsigned char>(part[i]))) {
        col = col * 26 + (std::toupper(static_cast<unsigned char>(part[i])) - 'A' + 1);
        ++i;
    }
    const bool hasCol = i > letters;
    if (!hasCol) i = start, colAbs = false;
    const bool rowAbs = anchor();
    int row = 0;
    const std::size_t digits = i;
    while (i < part.size() && std::isdigit(static_cast<unsigned char>(part[i])))
        row = row * 10 + (part[i++] - '0');
    const bool hasRow = i > digits;
    if (i != part.size() || (!hasCol && !hasRow)) return false;
    if (hasCol && !colAbs) col += columns;
    if (hasRow && !rowAbs) row += rows;
    if ((hasCol && (col < 1 || col > kMaxColumn)) || (hasRow && (row < 1 || row > kMaxRow))) return false;
    if (hasCol) out += (colAbs ? "$" : "") + ColumnName(col);
    if (hasRow) out += (rowAbs ? "$" : "") + std::to_string(row);
    return true;
}

}  // namespace

std::string ShiftFormula(std::string_view formula, int rows, int columns) {
    std::string out;
    for (const auto& token : formula::Tokenize(formula)) {
        const auto body = token.Body();
        if (token.kind != formula::TokenKind::Reference || body.empty() || body.front() == '#') {
            out += token.text;
            continue;
        }
        std::string moved(token.Prefix());
        std::size_t start = 0;
        bool ok = true;
        while (ok) {
            const auto colon = body.find(':', start);
            ok = ShiftPart(
                body.substr(start, colon == std::string_view::npos ? std::string_view::npos : colon - start),
                rows, columns, moved);
            if (colon == std::string_view::npos) break;
            moved += ':';
            start = colon + 1;
        }
        out += ok ? moved : std::string(token.Prefix()) + "#REF!";
    }
    return out;
}

}  // namespace orv::engine
