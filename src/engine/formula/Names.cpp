// Rewrites of table names in structured references and of defined-name tokens.
#include <algorithm>

#include "engine/formula/Formula.h"
#include "engine/formula/Text.h"

namespace orv::formula {

namespace {

using namespace detail;

// `formula` with the byte ranges [offset, offset + length) of `edits` replaced by `replacement`.
struct Span {
    std::size_t offset;
    std::size_t length;
};

std::string Splice(std::string_view formula, const std::vector<Span>& spans, std::string_view replacement) {
    if (spans.empty()) return std::string(formula);
    std::string out;
    out.reserve(formula.size() + spans.size() * replacement.size());
    std::size_t copied = 0;
    for (const Span& span : spans) {
        out.append(formula.substr(copied, span.offset - copied));
        out.append(replacement);
        copied = span.offset + span.length;
    }
    out.append(formula.substr(copied));
    return out;
}

// Book [0] is this workbook: charts write a workbook-scoped name as [0]!Name.
bool IsExternalPrefix(const Token& token) {
    if (token.prefixLength == 0) return false;
    const std::optional<SheetPrefix> p = ParseSheetPrefix(token.Prefix());
    return !p || (p->IsExternal() && p->book != "[0]") || p->refError;
}

bool IsBuiltInFunctionPrefix(std::string_view name) {
    return AsciiEqualNoCase(name.substr(0, 6), "_xlfn.") || AsciiEqualNoCase(name.substr(0, 5), "_xll.") ||
           AsciiEqualNoCase(name.substr(0, 6), "_xlws.");
}

}  // namespace

std::string RenameTableInStructuredReferences(std::string_view formula, std::string_view oldTable,
                                              std::string_view newTable) {
    if (!MayMention(formula, oldTable)) return std::string(formula);
    std::vector<Span> spans;
    Lexer lexer(formula);
    Token token;
    while (lexer.Next(token)) {
        if (token.prefixLength != 0) continue;
        std::string_view name = token.text;
        if (token.kind == TokenKind::StructuredReference) {
            name = name.substr(0, name.find('['));
        } else if (token.kind != TokenKind::Name) {
            continue;
        }
        if (!name.empty() && NamesEqual(name, oldTable)) spans.push_back({token.offset, name.size()});
    }
    return Splice(formula, spans, newTable);
}

std::string RenameDefinedName(std::string_view formula, std::string_view oldName, std::string_view newName) {
    if (!MayMention(formula, oldName)) return std::string(formula);
    std::vector<Span> spans;
    Lexer lexer(formula);
    Token token;
    while (lexer.Next(token)) {
        // A LAMBDA kept in a defined name is called like a function, so function tokens are names too.
        if (token.kind != TokenKind::Name && token.kind != TokenKind::Function) continue;
        if (IsExternalPrefix(token)) continue;
        if (NamesEqual(token.Body(), oldName))
            spans.push_back({token.offset + token.prefixLength, token.Body().size()});
    }
    return Splice(formula, spans, newName);
}

std::vector<std::string_view> UsedDefinedNames(std::string_view formula) {
    std::vector<std::string_view> names;
    Lexer lexer(formula);
    Token token;
    while (lexer.Next(token)) {
        if (token.kind != TokenKind::Name && token.kind != TokenKind::Function) continue;
        if (token.prefixLength != 0) continue;
        if (AsciiEqualNoCase(token.text.substr(0, 6), "_xlpm.") || IsBuiltInFunctionPrefix(token.text))
            continue;
        const bool seen = std::any_of(names.begin(), names.end(),
                                      [&](std::string_view known) { return NamesEqual(known, token.text); });
        if (!seen) names.push_back(token.text);
    }
    return names;
}

}  // namespace orv::formula
