// Moving formulas by rows and columns, and writing out shared formula groups.
#include <gtest/gtest.h>

#include "engine/SharedFormulas.h"
#include "engine/Xml.h"

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

TEST(UnshareFormulas, WritesOutTheGroupsItIsAskedTo) {
    pugi::xml_document doc;
    ASSERT_TRUE(
        doc.load_string("<worksheet><sheetData><row r=\"1\"><c r=\"C1\"><f t=\"shared\" ref=\"C1:C3\" "
                        "si=\"0\">[1]Other!A1+1</f><v>11</v></c>"
                        "<c r=\"D1\"><f t=\"shared\" ref=\"D1:D2\" si=\"1\">A1*2</f><v>2</v></c></row><row "
                        "r=\"2\"><c r=\"C2\"><f t=\"shared\" si=\"0\"/>"
                        "<v>21</v></c><c r=\"D2\"><f t=\"shared\" si=\"1\"/><v>4</v></c></row><row "
                        "r=\"3\"><c r=\"C3\"><f t=\"shared\" si=\"0\"/>"
                        "<v>31</v></c></row></sheetData></worksheet>"));
    const int groups = UnshareFormulas(
        doc.document_element(), [](std::string_view f) { return f.find("[1]") != std::string_view::npos; });
    EXPECT_EQ(groups, 1);
    std::ostringstream out;
    doc.save(out, "", pugi::format_raw | pugi::format_no_declaration);
    const std::string xml = out.str();
    EXPECT_NE(xml.find("<c r=\"C1\"><f>[1]Other!A1+1</f>"), std::string::npos) << xml;
    EXPECT_NE(xml.find("<c r=\"C2\"><f>[1]Other!A2+1</f>"), std::string::npos) << xml;
    EXPECT_NE(xml.find("<c r=\"C3\"><f>[1]Other!A3+1</f><v>31</v>"), std::string::npos) << xml;
    EXPECT_NE(xml.find("<f t=\"shared\" si=\"1\"/>"), std::string::npos);  // the other group stays shared
}

}  // namespace
}  // namespace orv::engine::test
