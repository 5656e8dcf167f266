// Moving formulas by rows and columns, as the cells of a shared formula group read their master.
#include <gtest/gtest.h>

#include "engine/workbook/SharedFormulas.h"

namespace orv::engine::test {
namespace {

TEST(ShiftFormula, MovesRelativePartsAndKeepsAnchoredOnes) {
    EXPECT_EQ(ShiftFormula("A1+1", 2, 0), "A3+1");
    EXPECT_EQ(ShiftFormula("[1]Other!A1*$B$2", 1, 1), "[1]Other!B2*$B$2");
    EXPECT_EQ(ShiftFormula("SUM($A1:B$1)", 3, 2), "SUM($A4:D$1)");
    EXPECT_EQ(ShiftFormula("SUM(A:A,3:3)", 1, 1), "SUM(B:B,4:4)");
    EXPECT_EQ(ShiftFormula("'My Sheet'!Z9&\"A1\"", 0, 1), "'My Sheet'!AA9&\"A1\"");  // strings stay
    EXPECT_EQ(ShiftFormula("A1", -1, 0), "#REF!");
    EXPECT_EQ(ShiftFormula("Data!A1", 0, -1), "Data!#REF!");
    EXPECT_EQ(ShiftFormula("Tbl1[Amt]+Rate", 5, 5), "Tbl1[Amt]+Rate");
}

}  // namespace
}  // namespace orv::engine::test
