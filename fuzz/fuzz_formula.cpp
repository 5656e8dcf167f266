// Fuzz target: the formula tokenizer and every reference rewriter. The input is a formula, then (after NUL
// bytes) two sheet names. Besides crashes it checks what the rewriters promise: tokens give back the formula
// byte for byte, and a rewrite that matches nothing returns its input.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "FuzzSupport.h"
#include "engine/formula/Formula.h"

namespace {

void Require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "broken promise: %s\n", what);
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    namespace f = orv::formula;
    auto pieces = orv::fuzz::SplitAtNul(data, size, 3);
    pieces.resize(3);
    const std::string& formula = pieces[0];
    const std::string& oldName = pieces[1];
    const std::string& newName = pieces[2].empty() ? std::string("New Name") : pieces[2];

    std::string joined;
    for (const auto& token : f::Tokenize(formula)) {
        joined += token.text;
        if (token.prefixLength > 0) {
            Require(token.prefixLength <= token.text.size(), "a prefix longer than its token");
            (void)f::ParseSheetPrefix(token.Prefix());
        }
        (void)f::ParseArea(token.Body());
    }
    Require(joined == formula, "the tokens give back the formula");

    // A rewriter that keeps everything keeps the formula.
    Require(f::RewriteSheetReferences(formula, [](const f::SheetPrefix&, const f::Token&) {
                return f::PrefixEdit::Keep();
            }) == formula,
            "a rewrite that keeps every prefix returns its input");
    // One that re-quotes every prefix, and one that replaces whole tokens.
    (void)f::RewriteSheetReferences(formula, [](const f::SheetPrefix& prefix, const f::Token&) {
        return f::PrefixEdit::Prefix(f::FormatSheetPrefix(prefix));
    });
    (void)f::RewriteSheetReferences(formula,
                                    [](const f::SheetPrefix&, const f::Token&) { return f::PrefixEdit::Whole("#REF!"); });

    if (!oldName.empty()) {
        (void)f::ReferencesSheet(formula, oldName);
        (void)f::RenameSheet(formula, oldName, newName);
        const std::string order[] = {"First", oldName, newName, "Last"};
        (void)f::DeleteSheet(formula, oldName, order);
        (void)f::ExternalizeSheetReferences(formula, oldName, newName, 3);
        (void)f::RenameTableInStructuredReferences(formula, oldName, newName);
        (void)f::RenameDefinedName(formula, oldName, newName);
    }
    (void)f::CollectSheetReferences(formula);
    (void)f::UsedDefinedNames(formula);
    (void)f::SheetNameNeedsQuotes(formula);
    (void)f::QuoteSheetName(formula);
    return 0;
}
