// Structured references written as the ranges they cover.
#include <gtest/gtest.h>

#include "engine/EngineError.h"
#include "engine/transfer/StructuredRefs.h"
#include "engine/workbook/SheetNames.h"

namespace orv::engine::test {
namespace {

std::map<std::string, TableArea> Tables() {
    TableArea sales;  // B2:D10 on 'Q1 Data': header row 2, totals row 10
    sales.sheet = "Q1 Data";
    sales.firstRow = 2, sales.firstColumn = 2, sales.lastRow = 10, sales.lastColumn = 4;
    sales.totalsRows = 1;
    sales.columns = {"Region", "Amt", "Due [days]"};
    return {{platform::FoldCase("Sales"), sales}};
}

TEST(StructuredToA1, ColumnsAndSpecialItemsBecomeFixedRanges) {
    const auto tables = Tables();
    EXPECT_EQ(StructuredToA1("SUM(Sales[Amt])", tables), "SUM('Q1 Data'!$C$3:$C$9)");
    EXPECT_EQ(StructuredToA1("SUM(sales[[#All],[Amt]])", tables), "SUM('Q1 Data'!$C$2:$C$10)");
    EXPECT_EQ(StructuredToA1("Sales[[#Totals],[Amt]]", tables), "'Q1 Data'!$C$10");
    EXPECT_EQ(StructuredToA1("COUNTA(Sales[[Region]:[Amt]])", tables), "COUNTA('Q1 Data'!$B$3:$C$9)");
    EXPECT_EQ(StructuredToA1("ROWS(Sales)", tables), "ROWS('Q1 Data'!$B$3:$D$9)");
    EXPECT_EQ(StructuredToA1("Sales[[#Headers],[#Data],[Amt]]", tables), "'Q1 Data'!$C$2:$C$9");
    EXPECT_EQ(StructuredToA1("MAX(Sales['Due '[days']])", tables), "MAX('Q1 Data'!$D$3:$D$9)");
    EXPECT_EQ(StructuredToA1("Other[Amt]+\"Sales[Amt]\"", tables), "Other[Amt]+\"Sales[Amt]\"");
}

TEST(StructuredToA1, RowRelativeFormsAreRefusedClearly) {
    const auto tables = Tables();
    EXPECT_THROW(StructuredToA1("Sales[@Amt]*2", tables), EngineError);
    try {
        StructuredToA1("Sales[[#This Row],[Amt]]", tables);
        FAIL();
    } catch (const EngineError& e) {
        EXPECT_NE(std::string(e.what()).find("no fixed cells"), std::string::npos);
    }
}

}  // namespace
}  // namespace orv::engine::test
