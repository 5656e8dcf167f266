// Rewrites for a sheet copied into another workbook: external references, tables and defined names.
#include <gtest/gtest.h>

#include "engine/formula/Formula.h"

namespace orv::formula {
namespace {

TEST(ExternalizeSheetReferences, OtherSheetsBecomeExternalAndTheCopyFollowsItsName) {
    EXPECT_EQ(ExternalizeSheetReferences("Other!A1*2", "Data", "Data", 1), "[1]Other!A1*2");
    EXPECT_EQ(ExternalizeSheetReferences("Data!B2+1", "Data", "Data (2)", 1), "'Data (2)'!B2+1");
    EXPECT_EQ(ExternalizeSheetReferences("data!B2+'My Other'!$A$1:$A$3", "Data", "Copy", 3),
              "Copy!B2+'[3]My Other'!$A$1:$A$3");
    EXPECT_EQ(ExternalizeSheetReferences("SUM(Other:Last!A1)+SUM(Data:Last!B1)", "Data", "Data", 2),
              "SUM([2]Other:Last!A1)+SUM([2]Data:Last!B1)");
    EXPECT_EQ(ExternalizeSheetReferences("Other!Rate+'Bob''s'!A1", "Data", "Data", 12),
              "[12]Other!Rate+'[12]Bob''s'!A1");
}

TEST(ExternalizeSheetReferences, LeavesUnqualifiedLiteralExternalAndErrorTokens) {
    const std::string_view formula = "A1+\"Other!A1\"+[1]Other!A1+#REF!A1+Tbl[Col]+Rate+Other!#REF!";
    EXPECT_EQ(ExternalizeSheetReferences(formula, "Data", "Data", 2),
              "A1+\"Other!A1\"+[1]Other!A1+#REF!A1+Tbl[Col]+Rate+[2]Other!#REF!");
    EXPECT_EQ(ExternalizeSheetReferences("SUM(A1:B2)", "Data", "X", 1), "SUM(A1:B2)");
}

TEST(CollectSheetReferences, ListsLocalQualifiedTokensOnly) {
    const auto refs =
        CollectSheetReferences("Other!A1+[1]X!A1+'My Data'!B1:C2+\"Q!A1\"+#REF!A1+Jan:Dec!D4+Other!Rate");
    ASSERT_EQ(refs.size(), 4u);
    EXPECT_EQ(refs[0].prefix.firstSheet, "Other");
    EXPECT_EQ(refs[0].body, "A1");
    EXPECT_EQ(refs[1].prefix.firstSheet, "My Data");
    EXPECT_EQ(refs[1].body, "B1:C2");
    EXPECT_EQ(refs[2].prefix.lastSheet, "Dec");
    EXPECT_EQ(refs[2].body, "D4");
    EXPECT_EQ(refs[3].kind, TokenKind::Name);
    EXPECT_EQ(refs[3].body, "Rate");
}

TEST(ParseArea, CellsRangesColumnsAndRows) {
    const auto same = [](std::optional<Area> a, Area b) {
        return a && a->firstRow == b.firstRow && a->firstColumn == b.firstColumn && a->lastRow == b.lastRow &&
               a->lastColumn == b.lastColumn;
    };
    EXPECT_TRUE(same(ParseArea("B3"), {3, 2, 3, 2}));
    EXPECT_TRUE(same(ParseArea("$A$1:$AB$10"), {1, 1, 10, 28}));
    EXPECT_TRUE(same(ParseArea("C5:a1"), {1, 1, 5, 3}));
    EXPECT_TRUE(same(ParseArea("XFD1048576"), {1048576, 16384, 1048576, 16384}));
    EXPECT_TRUE(same(ParseArea("$C:A"), {1, 1, 1048576, 3}));
    EXPECT_TRUE(same(ParseArea("7:$2"), {2, 1, 7, 16384}));
    for (const std::string_view bad :
         {"", "A", "7", "Rate", "#REF!", "A1:B", "A:1", "XFE1", "A0", "A1:B2:C3"}) {
        EXPECT_FALSE(ParseArea(bad)) << bad;
    }
}

TEST(RenameTable, StructuredReferencesAndBareTableNames) {
    EXPECT_EQ(RenameTableInStructuredReferences("SUM(Tbl1[Amt])+tbl1[[#This Row],[Qty]]", "Tbl1", "Tbl1_2"),
              "SUM(Tbl1_2[Amt])+Tbl1_2[[#This Row],[Qty]]");
    // A bare table name is renamed too; Tbl1 alone would be cell TBL1, so the bare case uses another table.
    EXPECT_EQ(RenameTableInStructuredReferences("ROWS(Sales)+Sales2[A]+[@Sales]+\"Sales[Amt]\"+Tbl1", "sales",
                                                "S_2"),
              "ROWS(S_2)+Sales2[A]+[@Sales]+\"Sales[Amt]\"+Tbl1");
    EXPECT_EQ(RenameTableInStructuredReferences("Tbl1+Tbl1[Amt]", "Tbl1", "T2"), "Tbl1+T2[Amt]");
    EXPECT_EQ(RenameTableInStructuredReferences("[1]!Tbl1[Amt]+Tbl1!A1", "Tbl1", "T2"),
              "[1]!Tbl1[Amt]+Tbl1!A1");
    EXPECT_EQ(RenameTableInStructuredReferences("Продажи[Сумма]", "ПРОДАЖИ", "Продажи_2"),
              "Продажи_2[Сумма]");
}

TEST(RenameDefinedName, BareQualifiedAndLambdaCalls) {
    EXPECT_EQ(RenameDefinedName("Rate*2+rate+Data!Rate+'My Data'!RATE", "Rate", "Rate_1"),
              "Rate_1*2+Rate_1+Data!Rate_1+'My Data'!Rate_1");
    EXPECT_EQ(RenameDefinedName("AddTax(A1)+[1]!Rate+\"Rate\"+Rates+Tbl[Rate]", "AddTax", "AddVat"),
              "AddVat(A1)+[1]!Rate+\"Rate\"+Rates+Tbl[Rate]");
    EXPECT_EQ(RenameDefinedName("[1]!Rate+\"Rate\"+Rates+Tbl[Rate]+_xlpm.Rate", "Rate", "R2"),
              "[1]!Rate+\"Rate\"+Rates+Tbl[Rate]+_xlpm.Rate");
    // Charts write a workbook-scoped name as [0]!Name (book 0 is the workbook itself).
    EXPECT_EQ(RenameDefinedName("([0]!Rate,[2]!Rate)", "Rate", "R2"), "([0]!R2,[2]!Rate)");
}

TEST(UsedDefinedNames, DistinctUnqualifiedNamesWithoutLetVariables) {
    const auto names = UsedDefinedNames(
        "Rate*rate+_xlfn.LET(_xlpm.x,Tax,_xlpm.x)+Data!Other+A1+TRUE+Tbl[C]+AddTax(1)+SUM(2)");
    const std::vector<std::string_view> expected = {"Rate", "Tax", "AddTax", "SUM"};
    EXPECT_EQ(names, expected);
}

}  // namespace
}  // namespace orv::formula
