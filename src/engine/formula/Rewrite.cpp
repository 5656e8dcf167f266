// Rewrites of the sheet prefixes in formulas: rename, delete, copy to another workbook.
#include <algorithm>

#include "engine/formula/Formula.h"
#include "engine/formula/Text.h"

namespace orv::formula {

namespace {

using namespace detail;

// A prefix that names one or two sheets of this workbook (not external, not #REF!, not a book-level name).
bool IsLocalSheetPrefix(const SheetPrefix& p) {
    return !p.refError && !p.IsExternal() && !p.firstSheet.empty();
}

bool HasBang(std::string_view formula) { return formula.find('!') != std::string_view::npos; }

// The position of `name` in `order`, or -1.
long PositionOf(std::span<const std::string> order, std::string_view name) {
    for (std::size_t i = 0; i < order.size(); ++i) {
        if (NamesEqual(order[i], name)) return static_cast<long>(i);
    }
    return -1;
}

// A deleted sheet takes the whole token for names (Data!Sales -> #REF!) and only the prefix for references.
PrefixEdit RefError(const Token& token) {
    if (token.kind == TokenKind::Name) return PrefixEdit::Whole("#REF!");
    return PrefixEdit::Prefix("#REF!");
}

// A 3D range First:Last with `deleted` at one end, shrunk to the next remaining sheet inward.
PrefixEdit ShrinkRange(const SheetPrefix& p, const Token& token, std::string_view deleted,
                       std::span<const std::string> order) {
    long first = PositionOf(order, p.firstSheet);
    long last = PositionOf(order, p.lastSheet);
    if (first < 0 || last < 0 || first == last) return RefError(token);
    const bool deletedFirst = NamesEqual(p.firstSheet, deleted);
    const bool deletedLast = NamesEqual(p.lastSheet, deleted);
    if (deletedFirst && deletedLast) return RefError(token);
    SheetPrefix q = p;
    // Both sheets move together as the low and high ends, whichever order the range was written in.
    const long step = first < last ? 1 : -1;
    if (deletedFirst) {
        first += step;
        q.firstSheet = order[static_cast<std::size_t>(first)];
    } else {
        last -= step;
        q.lastSheet = order[static_cast<std::size_t>(last)];
    }
    if (first == last) {
        q.firstSheet = order[static_cast<std::size_t>(first)];
        q.lastSheet.clear();
    }
    return PrefixEdit::Prefix(FormatSheetPrefix(q));
}

// The number of an external book "[n]"; -1 for anything else (a path, a file name).
int BookNumber(std::string_view book) {
    if (book.size() < 3 || book.front() != '[' || book.back() != ']' || book.size() > 11) return -1;
    int n = 0;
    for (const char c : book.substr(1, book.size() - 2)) {
        if (!IsDigit(static_cast<unsigned char>(c))) return -1;
        n = n * 10 + (c - '0');
    }
    return n;
}

// An external prefix with its book renumbered as `books` says, or dropped when the book is the workbook the
// formula now lives in.
PrefixEdit MoveBook(const SheetPrefix& p, const std::map<int, int>& books) {
    const auto to = books.find(BookNumber(p.book));
    if (to == books.end()) return PrefixEdit::Keep();
    SheetPrefix q = p;
    if (to->second == 0) {
        q.book.clear();
        // A book-level name or function ([1]!Rate) is the workbook's own name once the book is this one.
        if (q.firstSheet.empty()) return PrefixEdit::Prefix("");
    } else {
        q.book = "[" + std::to_string(to->second) + "]";
    }
    return PrefixEdit::Prefix(FormatSheetPrefix(q));
}

}  // namespace

void CollectExternalBooks(std::string_view formula, std::set<int>& numbers) {
    if (!HasBang(formula) || formula.find('[') == std::string_view::npos) return;
    Lexer lexer(formula);
    Token token;
    while (lexer.Next(token)) {
        if (token.prefixLength == 0) continue;
        const std::optional<SheetPrefix> p = ParseSheetPrefix(token.Prefix());
        if (!p || !p->IsExternal()) continue;
        if (const int n = BookNumber(p->book); n > 0) numbers.insert(n);
    }
}

std::string RewriteSheetReferences(std::string_view formula, const PrefixRewriter& rewrite) {
    std::string out;
    bool changed = false;
    std::size_t copied = 0;
    Lexer lexer(formula);
    Token token;
    while (lexer.Next(token)) {
        if (token.prefixLength == 0) continue;
        const std::optional<SheetPrefix> prefix = ParseSheetPrefix(token.Prefix());
        if (!prefix) continue;
        PrefixEdit edit = rewrite(*prefix, token);
        if (edit.action == PrefixEdit::Action::Keep) continue;
        if (!changed) {
            out.reserve(formula.size() + 32);
            changed = true;
        }
        out.append(formula.substr(copied, token.offset - copied));
        out += edit.text;
        if (edit.action == PrefixEdit::Action::ReplacePrefix) out.append(token.Body());
        copied = token.offset + token.text.size();
    }
    if (!changed) return std::string(formula);
    out.append(formula.substr(copied));
    return out;
}

bool ReferencesSheet(std::string_view formula, std::string_view name) {
    if (!HasBang(formula) || !MayMention(formula, name)) return false;
    Lexer lexer(formula);
    Token token;
    while (lexer.Next(token)) {
        if (token.prefixLength == 0) continue;
        const std::optional<SheetPrefix> p = ParseSheetPrefix(token.Prefix());
        if (!p || !IsLocalSheetPrefix(*p)) continue;
        if (NamesEqual(p->firstSheet, name) || (p->Is3D() && NamesEqual(p->lastSheet, name))) return true;
    }
    return false;
}

std::string RenameSheet(std::string_view formula, std::string_view oldName, std::string_view newName) {
    if (!HasBang(formula) || !MayMention(formula, oldName)) return std::string(formula);
    return RewriteSheetReferences(formula, [&](const SheetPrefix& p, const Token&) {
        if (!IsLocalSheetPrefix(p)) return PrefixEdit::Keep();
        const bool first = NamesEqual(p.firstSheet, oldName);
        const bool last = p.Is3D() && NamesEqual(p.lastSheet, oldName);
        if (!first && !last) return PrefixEdit::Keep();
        SheetPrefix q = p;
        if (first) q.firstSheet = newName;
        if (last) q.lastSheet = newName;
        return PrefixEdit::Prefix(FormatSheetPrefix(q));
    });
}

std::string DeleteSheet(std::string_view formula, std::string_view deletedName,
                        std::span<const std::string> sheetOrderBeforeDelete) {
    if (!HasBang(formula) || !MayMention(formula, deletedName)) return std::string(formula);
    return RewriteSheetReferences(formula, [&](const SheetPrefix& p, const Token& token) {
        if (!IsLocalSheetPrefix(p)) return PrefixEdit::Keep();
        const bool first = NamesEqual(p.firstSheet, deletedName);
        const bool last = p.Is3D() && NamesEqual(p.lastSheet, deletedName);
        if (!first && !last) return PrefixEdit::Keep();
        if (!p.Is3D()) return RefError(token);
        return ShrinkRange(p, token, deletedName, sheetOrderBeforeDelete);
    });
}

std::string ExternalizeSheetReferences(std::string_view formula, std::string_view copiedSheet,
                                       std::string_view newName, int externalBookIndex) {
    if (!HasBang(formula)) return std::string(formula);
    // Built piecewise: GCC 12 at -O2 reports a false -Wrestrict on "[" + std::string.
    std::string book(1, '[');
    book += std::to_string(externalBookIndex);
    book += ']';
    return RewriteSheetReferences(formula, [&](const SheetPrefix& p, const Token&) {
        if (!IsLocalSheetPrefix(p)) return PrefixEdit::Keep();
        SheetPrefix q = p;
        const bool self =
            NamesEqual(p.firstSheet, copiedSheet) && (!p.Is3D() || NamesEqual(p.lastSheet, copiedSheet));
        if (self) {
            q.firstSheet = newName;
            if (q.Is3D()) q.lastSheet = newName;
        } else {
            q.book = book;
        }
        return PrefixEdit::Prefix(FormatSheetPrefix(q));
    });
}

std::string CarrySheetReferences(std::string_view formula, std::span<const std::string> sourceOrder,
                                 std::span<const std::pair<std::string, std::string>> carried,
                                 int externalBookIndex, const std::map<int, int>& books) {
    if (!HasBang(formula)) return std::string(formula);
    auto copyOf = [&](std::string_view name) -> const std::string* {
        for (const auto& [from, to] : carried) {
            if (NamesEqual(from, name)) return &to;
        }
        return nullptr;
    };
    std::string book(1, '[');
    book += std::to_string(externalBookIndex);
    book += ']';
    return RewriteSheetReferences(formula, [&](const SheetPrefix& p, const Token&) {
        if (p.IsExternal() && !books.empty()) return MoveBook(p, books);
        if (!IsLocalSheetPrefix(p)) return PrefixEdit::Keep();
        const std::string* first = copyOf(p.firstSheet);
        const std::string* last = p.Is3D() ? copyOf(p.lastSheet) : nullptr;
        SheetPrefix q = p;
        if (externalBookIndex < 0) {
            if (!first && !last) return PrefixEdit::Keep();
            if (first) q.firstSheet = *first;
            if (last) q.lastSheet = *last;
            return PrefixEdit::Prefix(FormatSheetPrefix(q));
        }
        bool local = first && (!p.Is3D() || last);
        if (local && p.Is3D()) {
            long from = PositionOf(sourceOrder, p.firstSheet);
            long to = PositionOf(sourceOrder, p.lastSheet);
            if (from > to) std::swap(from, to);
            for (long i = from; local && i <= to; ++i)
                local = i >= 0 && copyOf(sourceOrder[static_cast<std::size_t>(i)]) != nullptr;
        }
        if (local) {
            q.firstSheet = *first;
            if (q.Is3D()) q.lastSheet = *last;
        } else {
            q.book = book;
        }
        return PrefixEdit::Prefix(FormatSheetPrefix(q));
    });
}

std::vector<SheetReference> CollectSheetReferences(std::string_view formula) {
    std::vector<SheetReference> result;
    if (!HasBang(formula)) return result;
    Lexer lexer(formula);
    Token token;
    while (lexer.Next(token)) {
        if (token.prefixLength == 0) continue;
        std::optional<SheetPrefix> p = ParseSheetPrefix(token.Prefix());
        if (!p || !IsLocalSheetPrefix(*p)) continue;
        result.push_back({std::move(*p), token.Body(), token.kind});
    }
    return result;
}

}  // namespace orv::formula
