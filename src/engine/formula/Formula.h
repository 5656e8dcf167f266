// Tokenizer and reference rewriter for A1-style SpreadsheetML formulas (cells, defined names, charts,
// validations, conditional formats, sparklines, hyperlink locations): every rewrite leaves untouched bytes
// byte-identical.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace orv::formula {

enum class TokenKind : std::uint8_t {
    Whitespace,  // spaces, tabs, CR, LF (between references a space is the intersection operator)
    Number,      // 1, 1.5, .5, 1E+10
    String,      // "text" with its quotes, "" inside
    Bool,        // TRUE, FALSE
    Error,       // #REF!, #N/A, #DIV/0!, ...
    Operator,    // + - * / ^ & = <> < <= > >= % : @ and # (spill, after a reference)
    Comma,       // argument separator, union operator, array column separator
    Semicolon,   // array row separator
    OpenParen,   // (
    CloseParen,  // )
    OpenBrace,   // { of an array constant
    CloseBrace,  // }
    Function,    // a function name (optionally prefixed), without the '(' that follows it
    Reference,   // A1, $A$1:$B$2, A:C, 1:3, with an optional sheet prefix: Data!A1, 'My Sheet'!A1, #REF!A1
    Name,        // a defined name or LET variable, optionally prefixed: Sales, Data!Sales, [1]!Sales
    StructuredReference,  // Table1[Col], Table1[[#This Row],[Col]], [@Col]
    Unknown,              // anything else, one run kept as it is
};

// One token: a slice of the formula it came from (the formula must outlive it).
struct Token {
    TokenKind kind = TokenKind::Unknown;
    std::string_view text;         // the whole token, prefix included
    std::size_t offset = 0;        // byte offset of `text` in the formula
    std::size_t prefixLength = 0;  // bytes of the sheet/book prefix including its '!'; 0 when unqualified

    std::string_view Prefix() const { return text.substr(0, prefixLength); }
    std::string_view Body() const { return text.substr(prefixLength); }
};

// Reads tokens one at a time without allocating; the formula must outlive the lexer.
class Lexer {
  public:
    explicit Lexer(std::string_view formula) : m_text(formula) {}
    // Stores the next token in `token` and returns true; returns false at the end. Never fails: bytes it does
    // not understand come back as Unknown tokens.
    bool Next(Token& token);

  private:
    std::string_view m_text;
    std::size_t m_pos = 0;
};

// Every token of `formula` in order; their texts concatenated give back `formula` exactly.
std::vector<Token> Tokenize(std::string_view formula);

// A sheet prefix taken apart: [book]first:last! with quotes removed and doubled apostrophes undone.
struct SheetPrefix {
    std::string book;        // external book as written, with its brackets ("[1]"); empty for this workbook
    std::string firstSheet;  // empty for a book-level name ([1]!Name) and for #REF!
    std::string lastSheet;   // the other end of a 3D range (Sheet1:Sheet3!A1); empty otherwise
    bool refError = false;   // the prefix is #REF! (the sheet was deleted)
    bool quoted = false;     // written between apostrophes
    // A 3D range with each end quoted on its own (Jan:'Year End'!), as some writers do.
    bool quotedApart = false;

    bool IsExternal() const { return !book.empty(); }
    bool Is3D() const { return !lastSheet.empty(); }
};

// The parts of a prefix such as "'My Sheet'!" or "[1]Data:Last!" (Token::Prefix()); nullopt if it is none.
std::optional<SheetPrefix> ParseSheetPrefix(std::string_view prefix);

// The prefix text with its '!' for `prefix`, quoted the way the spreadsheet application quotes it: a 3D range
// is quoted as a whole ('Jan:Year End'!) unless `quotedApart` asks to keep each end quoted on its own.
std::string FormatSheetPrefix(const SheetPrefix& prefix);

// True when `name` must be written between apostrophes before '!': empty, a leading digit or '.', any
// character but letters, digits, '_' and '.', or a name that reads as an A1 or R1C1 cell, TRUE or FALSE.
bool SheetNameNeedsQuotes(std::string_view name);

// `name` as it must appear before '!': between apostrophes, with apostrophes doubled, when needed; else as
// is.
std::string QuoteSheetName(std::string_view name);

// What to do with one sheet-qualified token during RewriteSheetReferences.
struct PrefixEdit {
    enum class Action : std::uint8_t { Keep, ReplacePrefix, ReplaceToken };
    Action action = Action::Keep;
    std::string text;  // the new prefix (with its '!') or the new token text

    static PrefixEdit Keep() { return {}; }
    static PrefixEdit Prefix(std::string newPrefix) { return {Action::ReplacePrefix, std::move(newPrefix)}; }
    static PrefixEdit Whole(std::string newToken) { return {Action::ReplaceToken, std::move(newToken)}; }
};

// Called for every token with a sheet or book prefix (references, names, functions), with the parsed prefix.
using PrefixRewriter = std::function<PrefixEdit(const SheetPrefix& prefix, const Token& token)>;

// `formula` with every sheet-qualified token edited as `rewrite` says; all other bytes are kept. Returns the
// input unchanged when no token is edited. Never fails.
std::string RewriteSheetReferences(std::string_view formula, const PrefixRewriter& rewrite);

// True when a token of `formula` names sheet `name` (ignoring case in any script) as a prefix or a 3D range
// end, outside external references; sheets only inside a 3D range are not seen.
bool ReferencesSheet(std::string_view formula, std::string_view name);

// `formula` with every reference to sheet `oldName` (ignoring case) naming `newName`, quoted as needed;
// external references, string literals and structured references are left alone. Returns the input when
// nothing matches.
std::string RenameSheet(std::string_view formula, std::string_view oldName, std::string_view newName);

// `formula` after sheet `deletedName` is deleted from a workbook whose sheets were `sheetOrderBeforeDelete`:
// Data!A1 and Data!A1:B2 become #REF!A1 and #REF!A1:B2, a qualified name Data!Sales becomes #REF!, a 3D range
// with the sheet as one end shrinks inward to the next remaining sheet (Other:Last!A1 -> Last!A1), and a 3D
// range with no sheet left (or an end not found in the order) becomes #REF!A1. Returns the input when nothing
// matches.
std::string DeleteSheet(std::string_view formula, std::string_view deletedName,
                        std::span<const std::string> sheetOrderBeforeDelete);

// For a sheet copied into another workbook: references to `copiedSheet` (a single sheet, ignoring case) name
// `newName`; references to any other sheet of the source workbook, 3D ranges included, become external
// references to book `externalBookIndex` ([n]Other!A1, '[n]My Sheet'!A1). Existing external references are
// left alone.
std::string ExternalizeSheetReferences(std::string_view formula, std::string_view copiedSheet,
                                       std::string_view newName, int externalBookIndex);

// For sheets copied together (`carried`: each source name with its copy's name) from a workbook whose sheets
// are `sourceOrder`. Into another workbook (`externalBookIndex` > 0): a reference to a carried sheet names its
// copy, and so does a 3D range whose every sheet in the source is carried (they arrive side by side, in source
// order); any other reference to a sheet of the source becomes external ([n]Other!A1). Inside the same workbook
// (`externalBookIndex` < 0): every sheet name and 3D range end that is carried names the copy, as RenameSheet
// does. Existing external references keep their book unless `books` gives it a new number ([n] becomes
// [books[n]]), or 0 for the target workbook itself, which makes the reference local ([n]Other!A1 becomes
// Other!A1, [n]!Rate becomes Rate); returns the input when nothing matches.
std::string CarrySheetReferences(std::string_view formula, std::span<const std::string> sourceOrder,
                                 std::span<const std::pair<std::string, std::string>> carried,
                                 int externalBookIndex, const std::map<int, int>& books = {});

// The external book numbers `formula` uses ([1]Other!A1, [2]!Rate, '[3]My Sheet'!A1), added to `numbers`; [0],
// the workbook itself, is not one.
void CollectExternalBooks(std::string_view formula, std::set<int>& numbers);

// One token qualified with a sheet of this workbook: what ExternalizeSheetReferences makes external.
struct SheetReference {
    SheetPrefix prefix;
    std::string_view body;  // the part after '!': A1, $A$1:$B$2, Sales, #REF!
    TokenKind kind = TokenKind::Reference;
};

// Every token of `formula` qualified with a sheet of this workbook (not external, not #REF!), in order; the
// bodies are views into `formula`.
std::vector<SheetReference> CollectSheetReferences(std::string_view formula);

// A rectangle of cells, 1-based and inclusive.
struct Area {
    std::uint32_t firstRow = 0;
    std::uint32_t firstColumn = 0;
    std::uint32_t lastRow = 0;
    std::uint32_t lastColumn = 0;
};

// The cells a reference body covers (A1, $A$1:$B$2, B2:A1, whole columns A:C over every row, whole rows 1:3
// over every column), corners put in order; nullopt for a name, #REF! or anything that is not a reference.
std::optional<Area> ParseArea(std::string_view body);

// `formula` with the table name of every structured reference to `oldTable` (ignoring ASCII and Unicode case)
// and every bare Name token equal to it replaced by `newTable`. Returns the input when nothing matches.
std::string RenameTableInStructuredReferences(std::string_view formula, std::string_view oldTable,
                                              std::string_view newTable);

// `formula` with every defined-name token `oldName` (ignoring case; bare, sheet-qualified or [0]!, not
// external) renamed to `newName`, its prefix kept; a call Name(...) of a LAMBDA kept in a name is renamed
// too. Returns the input when nothing matches.
std::string RenameDefinedName(std::string_view formula, std::string_view oldName, std::string_view newName);

// The distinct unprefixed names `formula` uses, in first-use order: defined names, and function names that a
// LAMBDA kept in a defined name could supply (built-in function names are included too, so keep only those
// the workbook defines). LET variables (_xlpm.*) and _xlfn./_xll./_xlws. functions are left out.
std::vector<std::string_view> UsedDefinedNames(std::string_view formula);

}  // namespace orv::formula
