// Renaming and deleting a sheet: every reference follows, nothing else changes by a byte.
#include <gtest/gtest.h>

#include "engine/formula/Formula.h"

namespace orv::formula {
namespace {

TEST(RenameSheet, UnquotedQuotedAndCaseInsensitive) {
    EXPECT_EQ(RenameSheet("Data!A1+data!B2*DATA!$C$3", "Data", "Sales"), "Sales!A1+Sales!B2*Sales!$C$3");
    EXPECT_EQ(RenameSheet("Data!A1", "Data", "My Sales"), "'My Sales'!A1");
    EXPECT_EQ(RenameSheet("'My Sales'!A1:B2", "my sales", "Data"), "Data!A1:B2");
    EXPECT_EQ(RenameSheet("'Bob''s'!A1", "Bob's", "Ann's"), "'Ann''s'!A1");
    EXPECT_EQ(RenameSheet("Data!A1", "Data", "Bob's"), "'Bob''s'!A1");
    // Names that read as cells, R1C1 references or bools must be quoted.
    EXPECT_EQ(RenameSheet("Data!A1", "Data", "A1"), "'A1'!A1");
    EXPECT_EQ(RenameSheet("Data!A1", "Data", "R1C1"), "'R1C1'!A1");
    EXPECT_EQ(RenameSheet("Data!A1", "Data", "TRUE"), "'TRUE'!A1");
    EXPECT_EQ(RenameSheet("Data!A1", "Data", "2024"), "'2024'!A1");
    EXPECT_EQ(RenameSheet("'A1'!B2", "a1", "Plain"), "Plain!B2");
}

TEST(RenameSheet, UnicodeNamesMatchIgnoringCaseInAnyScript) {
    EXPECT_EQ(RenameSheet("ärger!A1+'ÄRGER'!B1", "ÄRGER", "Ärger 2"), "'Ärger 2'!A1+'Ärger 2'!B1");
    EXPECT_EQ(RenameSheet("лист!A1+ЛИСТ!B1", "Лист", "Данные"), "Данные!A1+Данные!B1");
    EXPECT_EQ(RenameSheet("דף!A1", "דף", "גיליון 1"), "'גיליון 1'!A1");
    EXPECT_EQ(RenameSheet("表1!A1+表2!A1", "表1", "売上"), "売上!A1+表2!A1");
}

TEST(RenameSheet, ThreeDRangesRenameEitherEnd) {
    EXPECT_EQ(RenameSheet("SUM(Jan:Dec!B2)", "Jan", "January"), "SUM(January:Dec!B2)");
    EXPECT_EQ(RenameSheet("SUM(Jan:Dec!B2)", "dec", "Year End"), "SUM('Jan:Year End'!B2)");
    EXPECT_EQ(RenameSheet("SUM('Jan:Year End'!B2)", "Year End", "Dec"), "SUM(Jan:Dec!B2)");
    EXPECT_EQ(RenameSheet("SUM(Q1:Q4!B2)", "Q4", "Q5"), "SUM('Q1:Q5'!B2)");
    // Ends quoted apart stay apart, each quoted only as it needs.
    EXPECT_EQ(RenameSheet("SUM(Jan:'Year End'!B2)", "jan", "New Year"), "SUM('New Year':'Year End'!B2)");
    EXPECT_EQ(RenameSheet("SUM('Jan':'Year End'!B2)", "Year End", "Dec"), "SUM(Jan:Dec!B2)");
}

TEST(RenameSheet, LeavesEverythingElseByteIdentical) {
    // String literals, external references, structured references, functions and names called like the sheet.
    const std::string_view untouched[] = {
        "INDIRECT(\"Data!A1\")&\"'Data'!B2\"",
        "[1]Data!A1+'[2]Data'!B2+[1]Jan:Data!C3",
        "SUM(Data[Amount])+Data[[#This Row],[Qty]]",
        "Data(1)+Data+DataX!A1+XData!A1",
        "#REF!A1+Other!#REF!",
    };
    for (const std::string_view formula : untouched) {
        EXPECT_EQ(RenameSheet(formula, "Data", "New"), formula);
    }
    EXPECT_EQ(RenameSheet("IF( Data!A1 >0,\r\n  {1,2;3,4} ,\"Data!A1\" )&Data", "Data", "New"),
              "IF( New!A1 >0,\r\n  {1,2;3,4} ,\"Data!A1\" )&Data");
    EXPECT_EQ(RenameSheet("SUM!A1+SUM(SUM!B1:B2)", "SUM", "Total"), "Total!A1+SUM(Total!B1:B2)");
}

TEST(RenameSheet, NamesColumnsRowsChartUnionsAndHyperlinkLocations) {
    EXPECT_EQ(RenameSheet("Data!Rate*Data!1:3+COUNT(Data!C:C)", "Data", "D 2"),
              "'D 2'!Rate*'D 2'!1:3+COUNT('D 2'!C:C)");
    EXPECT_EQ(RenameSheet("(Data!$A$1,Data!$A$3:$A$5)", "Data", "My Data"),
              "('My Data'!$A$1,'My Data'!$A$3:$A$5)");
    EXPECT_EQ(RenameSheet("'Data'!A1", "Data", "Sheet 2"), "'Sheet 2'!A1");
    EXPECT_EQ(RenameSheet("Data!#REF!", "Data", "X"), "X!#REF!");
    EXPECT_EQ(RenameSheet("Data!A1:Data!B2", "Data", "Wow!"), "'Wow!'!A1:'Wow!'!B2");
    EXPECT_EQ(RenameSheet("'Wow!'!A1", "wow!", "Data"), "Data!A1");
}

TEST(RenameSheet, ReferencesSheetAgreesWithRename) {
    EXPECT_TRUE(ReferencesSheet("1+DATA!A1", "data"));
    EXPECT_TRUE(ReferencesSheet("SUM('x y:ÄRGER'!A1)", "ärger"));
    EXPECT_FALSE(ReferencesSheet("\"Data!A1\"&[1]Data!A1&Data[Col]&Data", "Data"));
    EXPECT_FALSE(ReferencesSheet("Datum!A1", "Data"));
    EXPECT_FALSE(ReferencesSheet("", "Data"));
}

TEST(DeleteSheet, ReferencesBecomeRefErrorsKeepingTheAddress) {
    const std::vector<std::string> order = {"First", "Data", "Other", "Last"};
    EXPECT_EQ(DeleteSheet("Data!A1", "Data", order), "#REF!A1");
    EXPECT_EQ(DeleteSheet("SUM(data!A1:B2)+'Data'!$C$3", "Data", order), "SUM(#REF!A1:B2)+#REF!$C$3");
    EXPECT_EQ(DeleteSheet("Data!Rate+Other!A1", "Data", order), "#REF!+Other!A1");
    EXPECT_EQ(DeleteSheet("\"Data!A1\"&[1]Data!A1&Data[Col]", "Data", order),
              "\"Data!A1\"&[1]Data!A1&Data[Col]");
    EXPECT_EQ(DeleteSheet("#REF!A1", "Data", order), "#REF!A1");
}

TEST(DeleteSheet, ThreeDRangesShrinkInward) {
    const std::vector<std::string> order = {"First", "Other", "Mid", "Last", "Lone Sheet"};
    EXPECT_EQ(DeleteSheet("SUM(Other:Last!A1)", "Other", order), "SUM(Mid:Last!A1)");
    EXPECT_EQ(DeleteSheet("SUM(Other:Last!A1)", "last", order), "SUM(Other:Mid!A1)");
    EXPECT_EQ(DeleteSheet("SUM(Mid:Last!A1)", "Mid", order), "SUM(Last!A1)");
    EXPECT_EQ(DeleteSheet("SUM('Last:Lone Sheet'!A1)", "Last", order), "SUM('Lone Sheet'!A1)");
    EXPECT_EQ(DeleteSheet("SUM(Last:Mid!A1)", "Last", order), "SUM(Mid!A1)");
    EXPECT_EQ(DeleteSheet("SUM(Mid:'Lone Sheet'!A1)", "Mid", order), "SUM(Last:'Lone Sheet'!A1)");
    // A sheet inside the range leaves the text alone; a range of the deleted sheet alone goes entirely.
    EXPECT_EQ(DeleteSheet("SUM(First:Last!A1)", "Mid", order), "SUM(First:Last!A1)");
    EXPECT_EQ(DeleteSheet("SUM(Mid:Mid!A1)", "Mid", order), "SUM(#REF!A1)");
    // An end that is not in the order cannot be shrunk safely.
    EXPECT_EQ(DeleteSheet("SUM(Mid:Gone!A1)", "Mid", order), "SUM(#REF!A1)");
}

TEST(RewriteSheetReferences, CallbackSeesEveryQualifiedTokenInOrder) {
    std::vector<std::string> seen;
    const std::string result = RewriteSheetReferences(
        "A1+Data!B1+'[1]X y'!C1+Data!Rate+#REF!D1+Jan:Dec!E1", [&](const SheetPrefix& p, const Token& t) {
            seen.push_back(p.book + "|" + p.firstSheet + "|" + p.lastSheet + "|" + std::string(t.Body()));
            if (t.kind == TokenKind::Name) return PrefixEdit::Whole("0");
            if (p.Is3D()) return PrefixEdit::Prefix("Z!");
            return PrefixEdit::Keep();
        });
    EXPECT_EQ(result, "A1+Data!B1+'[1]X y'!C1+0+#REF!D1+Z!E1");
    const std::vector<std::string> expected = {"|Data||B1", "[1]|X y||C1", "|Data||Rate", "|||D1",
                                               "|Jan|Dec|E1"};
    EXPECT_EQ(seen, expected);
}

}  // namespace
}  // namespace orv::formula
