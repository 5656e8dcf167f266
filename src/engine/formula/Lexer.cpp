// Splits A1-style SpreadsheetML formulas into tokens that keep every byte of the input.
#include <array>

#include "engine/formula/Formula.h"
#include "engine/formula/Text.h"

namespace orv::formula {

namespace {

using namespace detail;

constexpr std::size_t kNone = std::string_view::npos;

// No literal is a prefix of another, so the first match is the only one.
constexpr std::array<std::string_view, 16> kErrorLiterals = {
    "#NULL!",  "#DIV/0!", "#VALUE!", "#REF!",     "#NAME?",    "#NUM!",  "#N/A",      "#GETTING_DATA",
    "#SPILL!", "#CALC!",  "#FIELD!", "#BLOCKED!", "#CONNECT!", "#BUSY!", "#UNKNOWN!", "#PYTHON!"};

class Scanner {
  public:
    explicit Scanner(std::string_view s) : m_s(s) {}

    unsigned char At(std::size_t i) const { return i < m_s.size() ? static_cast<unsigned char>(m_s[i]) : 0; }
    std::size_t Size() const { return m_s.size(); }
    std::string_view Slice(std::size_t a, std::size_t b) const { return m_s.substr(a, b - a); }

    std::size_t Word(std::size_t i) const {
        while (i < m_s.size() && IsWordByte(At(i))) ++i;
        return i;
    }
    std::size_t Digits(std::size_t i) const {
        while (i < m_s.size() && IsDigit(At(i))) ++i;
        return i;
    }
    // After the closing apostrophe of a quoted name starting at `i`; kNone when it is not closed.
    std::size_t Quoted(std::size_t i) const {
        for (++i; i < m_s.size(); ++i) {
            if (m_s[i] != '\'') continue;
            if (At(i + 1) != '\'') return i + 1;
            ++i;
        }
        return kNone;
    }
    // After the closing quote of a string starting at `i`; the end when it is not closed.
    std::size_t String(std::size_t i) const {
        for (++i; i < m_s.size(); ++i) {
            if (m_s[i] != '"') continue;
            if (At(i + 1) != '"') return i + 1;
            ++i;
        }
        return m_s.size();
    }
    // After the ']' matching the '[' at `i` (an apostrophe escapes the next character); kNone when
    // unbalanced.
    std::size_t Brackets(std::size_t i) const {
        int depth = 0;
        while (i < m_s.size()) {
            const char c = m_s[i];
            if (c == '\'') {
                i += 2;
                continue;
            }
            if (c == '[') ++depth;
            if (c == ']' && --depth == 0) return i + 1;
            ++i;
        }
        return kNone;
    }
    std::size_t ErrorLength(std::size_t i) const {
        for (const std::string_view e : kErrorLiterals) {
            if (AsciiEqualNoCase(m_s.substr(i, e.size()), e)) return e.size();
        }
        return 0;
    }
    std::size_t Number(std::size_t i) const {
        i = Digits(i);
        if (At(i) == '.') i = Digits(i + 1);
        if ((At(i) == 'E' || At(i) == 'e')) {
            std::size_t j = i + 1;
            if (At(j) == '+' || At(j) == '-') ++j;
            if (IsDigit(At(j))) i = Digits(j);
        }
        return i;
    }
    // The end of the last sheet of a 3D range starting at `i` (after the ':') when '!' follows it; else
    // kNone.
    std::size_t LastSheet(std::size_t i) const {
        std::size_t end = kNone;
        if (At(i) == '\'')
            end = Quoted(i);
        else if (IsWordStart(At(i)) && At(i) != '$')
            end = Word(i);
        return end != kNone && At(end) == '!' ? end + 1 : kNone;
    }
    // The end of an unquoted sheet prefix ("Data!", "First:Last!", "First:'Last'!") at `i`; kNone when none.
    std::size_t UnquotedPrefix(std::size_t i) const {
        if (At(i) == '!') return i + 1;  // a book-level name: [1]!Name
        if (!IsWordStart(At(i)) || At(i) == '$') return kNone;
        const std::size_t w = Word(i);
        if (At(w) == '!') return w + 1;
        // Q1:Q4!A1 is a 3D range even though Q1 reads as a cell: some writers leave such names unquoted.
        if (At(w) == ':') return LastSheet(w + 1);
        return kNone;
    }
    // The end of a quoted sheet prefix ("'My Data'!", "'Jan':'Dec'!", "'Jan':Dec!") at `i`; kNone when none.
    std::size_t QuotedPrefix(std::size_t i) const {
        const std::size_t q = Quoted(i);
        if (q == kNone) return kNone;
        if (At(q) == '!') return q + 1;
        if (At(q) == ':') return LastSheet(q + 1);
        return kNone;
    }

  private:
    std::string_view m_s;
};

struct Lexed {
    TokenKind kind;
    std::size_t end;
    std::size_t prefixLength = 0;
};

// A cell, a range of cells, columns or rows, a bool or a name: the word [a, w) and what may extend it.
Lexed ReferenceOrName(const Scanner& s, std::size_t a, std::size_t w, bool prefixed) {
    const RefPart part = ClassifyRefPart(s.Slice(a, w));
    if (part != RefPart::None && s.At(w) == ':' && IsWordByte(s.At(w + 1))) {
        const std::size_t w2 = s.Word(w + 1);
        const unsigned char after = s.At(w2);
        if (ClassifyRefPart(s.Slice(w + 1, w2)) == part && after != '!' && after != '(' && after != '[') {
            return {TokenKind::Reference, w2};
        }
    }
    if (part == RefPart::Cell) return {TokenKind::Reference, w};
    const std::string_view word = s.Slice(a, w);
    if (!prefixed && (AsciiEqualNoCase(word, "TRUE") || AsciiEqualNoCase(word, "FALSE")))
        return {TokenKind::Bool, w};
    return {TokenKind::Name, w};
}

// What follows a sheet prefix [start, body): a reference, a name, a function or #REF!.
Lexed AfterPrefix(const Scanner& s, std::size_t start, std::size_t body) {
    const std::size_t prefixLength = body - start;
    // Data!#REF! is what a reference to deleted cells becomes.
    if (AsciiEqualNoCase(s.Slice(body, body + 5), "#REF!"))
        return {TokenKind::Reference, body + 5, prefixLength};
    if (!IsWordByte(s.At(body))) return {TokenKind::Unknown, body, 0};
    const std::size_t w = s.Word(body);
    if (s.At(w) == '(') return {TokenKind::Function, w, prefixLength};
    if (s.At(w) == '[') {
        const std::size_t e = s.Brackets(w);
        return {TokenKind::StructuredReference, e == kNone ? s.Size() : e, prefixLength};
    }
    Lexed lexed = ReferenceOrName(s, body, w, true);
    lexed.prefixLength = prefixLength;
    return lexed;
}

Lexed LexBracket(const Scanner& s, std::size_t start) {
    // An external book ([1]Sheet!A1, [1]!Name) has a plain bracket pair followed by a sheet prefix.
    std::size_t close = start + 1;
    while (close < s.Size() && s.At(close) != ']' && s.At(close) != '[') ++close;
    if (s.At(close) == ']' && close > start + 1) {
        const std::size_t prefixEnd = s.UnquotedPrefix(close + 1);
        if (prefixEnd != kNone) return AfterPrefix(s, start, prefixEnd);
    }
    const std::size_t e = s.Brackets(start);
    if (e == kNone) return {TokenKind::Unknown, s.Size()};
    return {TokenKind::StructuredReference, e};
}

Lexed LexWord(const Scanner& s, std::size_t start) {
    const std::size_t prefixEnd = s.UnquotedPrefix(start);
    if (prefixEnd != kNone) return AfterPrefix(s, start, prefixEnd);
    const std::size_t w = s.Word(start);
    if (s.At(w) == '(') return {TokenKind::Function, w};
    if (s.At(w) == '[') {
        const std::size_t e = s.Brackets(w);
        return {TokenKind::StructuredReference, e == kNone ? s.Size() : e};
    }
    return ReferenceOrName(s, start, w, false);
}

Lexed LexDigit(const Scanner& s, std::size_t start) {
    // A row range such as 1:3 or 2:$5 starts like a number.
    const std::size_t d = s.Digits(start);
    if (s.At(d) == ':' && d > start) {
        const std::size_t w2 = s.Word(d + 1);
        if (ClassifyRefPart(s.Slice(start, d)) == RefPart::Row &&
            ClassifyRefPart(s.Slice(d + 1, w2)) == RefPart::Row) {
            return {TokenKind::Reference, w2};
        }
    }
    return {TokenKind::Number, s.Number(start)};
}

// Punctuation and operators that are always one byte long.
std::optional<TokenKind> SingleByteKind(unsigned char c) {
    switch (c) {
        case '(':
            return TokenKind::OpenParen;
        case ')':
            return TokenKind::CloseParen;
        case '{':
            return TokenKind::OpenBrace;
        case '}':
            return TokenKind::CloseBrace;
        case ',':
            return TokenKind::Comma;
        case ';':
            return TokenKind::Semicolon;
        case '+':
        case '-':
        case '*':
        case '/':
        case '^':
        case '&':
        case '=':
        case '%':
        case ':':
        case '@':
            return TokenKind::Operator;
        default:
            return std::nullopt;
    }
}

Lexed LexOne(const Scanner& s, std::size_t start) {
    const unsigned char c = s.At(start);
    switch (c) {
        case ' ':
        case '\t':
        case '\r':
        case '\n': {
            std::size_t e = start;
            while (e < s.Size() && (s.At(e) == ' ' || s.At(e) == '\t' || s.At(e) == '\r' || s.At(e) == '\n'))
                ++e;
            return {TokenKind::Whitespace, e};
        }
        case '"':
            return {TokenKind::String, s.String(start)};
        case '\'': {
            const std::size_t prefixEnd = s.QuotedPrefix(start);
            if (prefixEnd != kNone) return AfterPrefix(s, start, prefixEnd);
            const std::size_t q = s.Quoted(start);
            return {TokenKind::Unknown, q == kNone ? s.Size() : q};
        }
        case '[':
            return LexBracket(s, start);
        case '#': {
            const std::size_t length = s.ErrorLength(start);
            if (length == 0) return {TokenKind::Operator, start + 1};  // the spill operator of A1#
            // #REF!A1 is what a reference to a deleted sheet becomes.
            if (AsciiEqualNoCase(s.Slice(start, start + length), "#REF!") && IsWordByte(s.At(start + 5))) {
                return AfterPrefix(s, start, start + 5);
            }
            return {TokenKind::Error, start + length};
        }
        case '<':
            return {TokenKind::Operator,
                    start + ((s.At(start + 1) == '>' || s.At(start + 1) == '=') ? 2 : 1)};
        case '>':
            return {TokenKind::Operator, start + (s.At(start + 1) == '=' ? 2 : 1)};
        default:
            break;
    }
    if (const std::optional<TokenKind> kind = SingleByteKind(c)) return {*kind, start + 1};
    if (IsDigit(c)) return LexDigit(s, start);
    if (c == '.' && IsDigit(s.At(start + 1))) return {TokenKind::Number, s.Number(start)};
    if (IsWordStart(c)) return LexWord(s, start);
    return {TokenKind::Unknown, start + 1};
}

}  // namespace

bool Lexer::Next(Token& token) {
    if (m_pos >= m_text.size()) return false;
    const Scanner scanner(m_text);
    Lexed lexed = LexOne(scanner, m_pos);
    if (lexed.end <= m_pos) lexed = {TokenKind::Unknown, m_pos + 1};  // never stall, whatever the input
    token.kind = lexed.kind;
    token.offset = m_pos;
    token.text = m_text.substr(m_pos, lexed.end - m_pos);
    token.prefixLength = lexed.prefixLength;
    m_pos = lexed.end;
    return true;
}

std::vector<Token> Tokenize(std::string_view formula) {
    std::vector<Token> tokens;
    Lexer lexer(formula);
    Token token;
    while (lexer.Next(token)) tokens.push_back(token);
    return tokens;
}

}  // namespace orv::formula
