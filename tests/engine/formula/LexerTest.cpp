// Tokenizer tests: token kinds and boundaries for every construct of the A1 formula grammar.
#include <gtest/gtest.h>

#include "engine/formula/Formula.h"

namespace orv::formula {
namespace {

const char* KindName(TokenKind kind) {
    switch (kind) {
        case TokenKind::Whitespace:
            return "ws";
        case TokenKind::Number:
            return "num";
        case TokenKind::String:
            return "str";
        case TokenKind::Bool:
            return "bool";
        case TokenKind::Error:
            return "err";
        case TokenKind::Operator:
            return "op";
        case TokenKind::Comma:
            return "comma";
        case TokenKind::Semicolon:
            return "semi";
        case TokenKind::OpenParen:
            return "(";
        case TokenKind::CloseParen:
            return ")";
        case TokenKind::OpenBrace:
            return "{";
        case TokenKind::CloseBrace:
            return "}";
        case TokenKind::Function:
            return "fn";
        case TokenKind::Reference:
            return "ref";
        case TokenKind::Name:
            return "name";
        case TokenKind::StructuredReference:
            return "sref";
        case TokenKind::Unknown:
            return "?";
    }
    return "!";
}

// Each token as kind<prefix|body>, separated by spaces; checks that the tokens cover the formula exactly.
std::string Describe(std::string_view formula) {
    std::string out;
    std::string joined;
    std::size_t expectedOffset = 0;
    for (const Token& t : Tokenize(formula)) {
        EXPECT_EQ(t.offset, expectedOffset) << formula;
        expectedOffset += t.text.size();
        joined += t.text;
        if (!out.empty()) out += ' ';
        out += KindName(t.kind);
        out += '<';
        if (t.prefixLength > 0) {
            out += t.Prefix();
            out += '|';
        }
        out += t.Body();
        out += '>';
    }
    EXPECT_EQ(joined, formula);
    return out;
}

TEST(Lexer, SimpleOperatorsNumbersAndFunctions) {
    EXPECT_EQ(Describe("SUM(A1:B2,3.5)*-2^1E+3%"),
              "fn<SUM> (<(> ref<A1:B2> comma<,> num<3.5> )<)> op<*> op<-> num<2> op<^> num<1E+3> op<%>");
    EXPECT_EQ(Describe("a1<>$B$2&\"x\"<=.5>=1e-2"),
              "ref<a1> op<<>> ref<$B$2> op<&> str<\"x\"> op<<=> num<.5> op<>=> num<1e-2>");
    EXPECT_EQ(Describe("_xlfn.XLOOKUP(1,A:A,$C:$C)"),
              "fn<_xlfn.XLOOKUP> (<(> num<1> comma<,> ref<A:A> comma<,> ref<$C:$C> )<)>");
    EXPECT_EQ(Describe("SUM(1:3,$5:$5)"), "fn<SUM> (<(> ref<1:3> comma<,> ref<$5:$5> )<)>");
}

TEST(Lexer, SheetPrefixesQuotedUnquotedAnd3D) {
    EXPECT_EQ(Describe("Data!A1+'My Sheet'!$B$2:$C$9"), "ref<Data!|A1> op<+> ref<'My Sheet'!|$B$2:$C$9>");
    EXPECT_EQ(Describe("'Bob''s'!A1"), "ref<'Bob''s'!|A1>");
    EXPECT_EQ(Describe("SUM(Jan:Dec!B2,'Q 1:Q 4'!C3)"),
              "fn<SUM> (<(> ref<Jan:Dec!|B2> comma<,> ref<'Q 1:Q 4'!|C3> )<)>");
    // Some writers quote each end of a 3D range on its own.
    EXPECT_EQ(Describe("SUM(Jan:'Year End'!B2,'Q 1':'Q 4'!C3,'Q 1':Dec!D4)"),
              "fn<SUM> (<(> ref<Jan:'Year End'!|B2> comma<,> ref<'Q 1':'Q 4'!|C3> comma<,> ref<'Q "
              "1':Dec!|D4> )<)>");
    EXPECT_EQ(Describe("Лист1!A1*דף!B2+表1!C3"), "ref<Лист1!|A1> op<*> ref<דף!|B2> op<+> ref<表1!|C3>");
    EXPECT_EQ(Describe("Data!1:3&Data!C:D"), "ref<Data!|1:3> op<&> ref<Data!|C:D>");
    EXPECT_EQ(Describe("Data!Sales+Data!#REF!"), "name<Data!|Sales> op<+> ref<Data!|#REF!>");
    EXPECT_EQ(Describe("'Wow!'!A1+'Say \"hi\"'!B1"), "ref<'Wow!'!|A1> op<+> ref<'Say \"hi\"'!|B1>");
    // Sheets named like cells are sometimes left unquoted in 3D ranges; ':' then '!' still makes the prefix.
    EXPECT_EQ(Describe("SUM(Q1:Q4!A1)+A1:B2"), "fn<SUM> (<(> ref<Q1:Q4!|A1> )<)> op<+> ref<A1:B2>");
    // A sheet called like a cell or a function is still a prefix when '!' follows.
    EXPECT_EQ(Describe("SUM!A1+A1!B1+SUM(1)"),
              "ref<SUM!|A1> op<+> ref<A1!|B1> op<+> fn<SUM> (<(> num<1> )<)>");
}

TEST(Lexer, ExternalReferencesAndDeletedSheets) {
    EXPECT_EQ(Describe("[1]Data!A1+'[2]My Data'!B2+[1]!Total"),
              "ref<[1]Data!|A1> op<+> ref<'[2]My Data'!|B2> op<+> name<[1]!|Total>");
    EXPECT_EQ(Describe("[1]Jan:Mar!A1"), "ref<[1]Jan:Mar!|A1>");
    EXPECT_EQ(Describe("#REF!A1+#REF!$A$1:$B$2+#REF!"),
              "ref<#REF!|A1> op<+> ref<#REF!|$A$1:$B$2> op<+> err<#REF!>");
}

TEST(Lexer, StructuredReferences) {
    EXPECT_EQ(Describe("SUM(Sales[Amount])"), "fn<SUM> (<(> sref<Sales[Amount]> )<)>");
    EXPECT_EQ(Describe("Tbl[[#This Row],[Unit Price]]*[@Qty]"),
              "sref<Tbl[[#This Row],[Unit Price]]> op<*> sref<[@Qty]>");
    EXPECT_EQ(Describe("T[['[Odd']'] Col]]"), "sref<T[['[Odd']'] Col]]>");
    EXPECT_EQ(Describe("T[[Jan]:[Mar]]+1"), "sref<T[[Jan]:[Mar]]> op<+> num<1>");
}

TEST(Lexer, LiteralsErrorsBoolsAndArrays) {
    EXPECT_EQ(Describe("IF(TRUE,\"Data!A1 \"\"q\"\"\",#N/A)"),
              "fn<IF> (<(> bool<TRUE> comma<,> str<\"Data!A1 \"\"q\"\"\"> comma<,> err<#N/A> )<)>");
    EXPECT_EQ(Describe("{1,-2;\"a\",#DIV/0!}"),
              "{<{> num<1> comma<,> op<-> num<2> semi<;> str<\"a\"> comma<,> err<#DIV/0!> }<}>");
    EXPECT_EQ(Describe("#NAME?+#NULL!+#VALUE!+#NUM!+#SPILL!"),
              "err<#NAME?> op<+> err<#NULL!> op<+> err<#VALUE!> op<+> err<#NUM!> op<+> err<#SPILL!>");
    EXPECT_EQ(Describe("false+TRUE()"), "bool<false> op<+> fn<TRUE> (<(> )<)>");
    EXPECT_EQ(Describe("A1#+@B1:B3"), "ref<A1> op<#> op<+> op<@> ref<B1:B3>");
}

TEST(Lexer, WhitespaceNamesAndLet) {
    EXPECT_EQ(Describe("SUM( A1 ,\r\n\tB1 )"),
              "fn<SUM> (<(> ws< > ref<A1> ws< > comma<,> ws<\r\n\t> ref<B1> ws< > )<)>");
    EXPECT_EQ(Describe("_xlfn.LET(_xlpm.x,Rate,_xlpm.x*\\Net.Total?)"),
              "fn<_xlfn.LET> (<(> name<_xlpm.x> comma<,> name<Rate> comma<,> name<_xlpm.x> op<*> "
              "name<\\Net.Total?> "
              ")<)>");
    // Cells beyond the grid are names, not references.
    EXPECT_EQ(Describe("XFD1048576+XFE1+A1048577+A0"),
              "ref<XFD1048576> op<+> name<XFE1> op<+> name<A1048577> op<+> name<A0>");
    EXPECT_EQ(Describe("(Sheet1!$A$1,Sheet1!$A$3)"),
              "(<(> ref<Sheet1!|$A$1> comma<,> ref<Sheet1!|$A$3> )<)>");
}

TEST(Lexer, MalformedInputIsKeptByteForByte) {
    // None of these is a valid formula; the tokens must still cover every byte and the lexer must end.
    for (const std::string_view bad : {"'unterminated", "\"open", "Tbl[[Col]", "[1", "!", "'q'x", "#",
                                       "A1:", "Data!", "'a'!", "\x80\xff", "[]", "~`|", "#REF!"}) {
        Describe(bad);
    }
    EXPECT_EQ(Describe("'a b'+1"), "?<'a b'> op<+> num<1>");
    EXPECT_EQ(Describe("Data!(1)"), "?<Data!> (<(> num<1> )<)>");
}

TEST(Lexer, PrefixedFunctionsAndNamesKeepTheirPrefix) {
    const std::vector<Token> tokens = Tokenize("Macro1!Run(1)+'Q 1'!Rate");
    ASSERT_EQ(tokens.size(), 6u);
    EXPECT_EQ(tokens[0].kind, TokenKind::Function);
    EXPECT_EQ(tokens[0].Prefix(), "Macro1!");
    EXPECT_EQ(tokens[0].Body(), "Run");
    EXPECT_EQ(tokens[5].kind, TokenKind::Name);
    EXPECT_EQ(tokens[5].Prefix(), "'Q 1'!");
    EXPECT_EQ(tokens[5].offset, 14u);
}

}  // namespace
}  // namespace orv::formula
