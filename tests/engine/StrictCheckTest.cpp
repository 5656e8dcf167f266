// The strict reader itself, on tiny hand-built packages: it sees the faults it exists for (unbound prefixes,
// elements out of schema order), does not mistake markup-compatibility markup for faults, and excuses what an
// operation found already broken.
#include <gtest/gtest.h>

#include "StrictCheck.h"
#include "TestSupport.h"

namespace orv::engine::test {
namespace {

const std::string kDecl = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";
const std::string kMain = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
const std::string kRel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
const std::string kMc = "http://schemas.openxmlformats.org/markup-compatibility/2006";
const std::string kX14ac = "http://schemas.microsoft.com/office/spreadsheetml/2009/9/ac";
const std::string kX14 = "http://schemas.microsoft.com/office/spreadsheetml/2009/9/main";

const std::string kWorkbook =
    kDecl + "<workbook xmlns=\"" + kMain + "\" xmlns:r=\"" + kRel +
    "\"><sheets><sheet name=\"A\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>";

// A worksheet of the given content between <worksheet ...> and </worksheet>.
std::string Sheet(const std::string& content, const std::string& attributes = "") {
    return kDecl + "<worksheet xmlns=\"" + kMain + "\" xmlns:r=\"" + kRel + "\"" + attributes + ">" +
           content + "</worksheet>";
}

const std::string kRows =
    "<sheetData><row r=\"1\"><c r=\"A1\"><v>1</v></c><c r=\"B1\" t=\"s\"><v>0</v></c></row></sheetData>";
const std::string kMargins =
    "<pageMargins left=\"0.7\" right=\"0.7\" top=\"0.75\" bottom=\"0.75\" header=\"0.3\" footer=\"0.3\"/>";

// A minimal workbook: one sheet of content `sheet`, shared strings, extended properties.
Parts Workbook(const std::string& sheet) {
    return {
        {"[Content_Types].xml",
         kDecl + "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
                 "<Default Extension=\"xml\" ContentType=\"application/xml\"/></Types>"},
        {"_rels/.rels", kDecl +
                            "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/"
                            "relationships\"><Relationship Id=\"rId1\" Type=\"" +
                            kRel + "/officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>"},
        {"docProps/app.xml",
         kDecl + "<Properties "
                 "xmlns=\"http://schemas.openxmlformats.org/officeDocument/2006/extended-properties\">"
                 "<Application>Test</Application></Properties>"},
        {"xl/workbook.xml", kWorkbook},
        {"xl/worksheets/sheet1.xml", Sheet(sheet)},
        {"xl/sharedStrings.xml", kDecl + "<sst xmlns=\"" + kMain +
                                     "\" count=\"1\" uniqueCount=\"1\"><si><t xml:space=\"preserve\"> "
                                     "spaced </t></si></sst>"},
    };
}

// Replaces the bytes of one part.
Parts With(Parts parts, const std::string& name, const std::string& bytes) {
    for (auto& [partName, partBytes] : parts) {
        if (partName == name) partBytes = bytes;
    }
    return parts;
}

class StrictCheck : public ::testing::Test {
  protected:
    std::string Write(const std::string& name, const Parts& parts) {
        const auto path = dir.File(name);
        WritePackage(path, parts);
        return path;
    }
    std::vector<std::string> SheetErrors(const Parts& parts) {
        return SchemaErrors(Write("sheet.xlsx", parts)).at("xl/worksheets/sheet1.xml");
    }
    TempDir dir;
};

// The shape of a workbook whose sheets each declare the relationships prefix: an element added outside them
// with an r:id has no binding for r.
TEST_F(StrictCheck, AnUnboundPrefixIsReported) {
    const auto workbook =
        kDecl + "<workbook xmlns=\"" + kMain + "\"><sheets><sheet xmlns:r=\"" + kRel +
        "\" name=\"A\" sheetId=\"1\" r:id=\"rId1\"/></sheets>"
        "<externalReferences><externalReference r:id=\"rId2\"/></externalReferences></workbook>";
    const auto problems =
        NamespaceProblems(Write("unbound.xlsx", With(Workbook(kRows), "xl/workbook.xml", workbook)));
    ASSERT_EQ(problems.size(), 1u) << ::testing::PrintToString(problems);
    EXPECT_EQ(problems[0].rfind("xl/workbook.xml: ", 0), 0u) << problems[0];
    EXPECT_NE(problems[0].find("Namespace prefix r"), std::string::npos) << problems[0];
    EXPECT_NE(problems[0].find("(line 2)"), std::string::npos) << problems[0];
    EXPECT_EQ(NamespaceProblems(Write("bound.xlsx", Workbook(kRows))), std::vector<std::string>{});
}

TEST_F(StrictCheck, VmlIsJudgedForItsPrefixesOnly) {
    // An unclosed <br> in a note's text, as legacy producers write it: not well-formed, not a namespace
    // fault.
    const std::string vml =
        "<xml xmlns:v=\"urn:schemas-microsoft-com:vml\"><v:shape><div>a<br>b</div>"
        "</v:shape></xml>";
    auto parts = Workbook(kRows);
    parts.emplace_back("xl/drawings/vmlDrawing1.vml", vml);
    EXPECT_EQ(NamespaceProblems(Write("vml.xlsx", parts)), std::vector<std::string>{});
    parts.back().second = "<xml><v:shape/></xml>";
    const auto problems = NamespaceProblems(Write("vml-unbound.xlsx", parts));
    ASSERT_EQ(problems.size(), 1u) << ::testing::PrintToString(problems);
    EXPECT_NE(problems[0].find("xl/drawings/vmlDrawing1.vml: Namespace prefix v"), std::string::npos)
        << problems[0];
}

TEST_F(StrictCheck, AValidMinimalWorkbookHasNoSchemaErrors) {
    const std::map<std::string, std::vector<std::string>> expected = {
        {"docProps/app.xml", {}},
        {"xl/sharedStrings.xml", {}},
        {"xl/workbook.xml", {}},
        {"xl/worksheets/sheet1.xml", {}},
    };
    EXPECT_EQ(SchemaErrors(Write("valid.xlsx", Workbook(kRows + kMargins))), expected);
}

TEST_F(StrictCheck, AnElementOutOfSchemaOrderIsReported) {
    // Column widths belong before the rows.
    const auto errors = SheetErrors(Workbook(kRows + "<cols><col min=\"1\" max=\"1\" width=\"9\"/></cols>"));
    ASSERT_EQ(errors.size(), 1u) << ::testing::PrintToString(errors);
    EXPECT_EQ(errors[0].rfind("Element '{" + kMain + "}cols': This element is not expected.", 0), 0u)
        << errors[0];
}

TEST_F(StrictCheck, IgnorableAttributesPassOnlyWhenDeclaredIgnorable) {
    const std::string rows =
        "<sheetFormatPr defaultRowHeight=\"15\" x14ac:dyDescent=\"0.25\"/><sheetData>"
        "<row r=\"1\" x14ac:dyDescent=\"0.25\"><c r=\"A1\"><v>1</v></c></row></sheetData>";
    const std::string ns = " xmlns:mc=\"" + kMc + "\" xmlns:x14ac=\"" + kX14ac + "\"";
    auto parts = With(Workbook(""), "xl/worksheets/sheet1.xml", Sheet(rows, ns + " mc:Ignorable=\"x14ac\""));
    EXPECT_EQ(SheetErrors(parts), std::vector<std::string>{});
    // Without the declaration a consumer must refuse the attributes, and so does the checker.
    parts = With(parts, "xl/worksheets/sheet1.xml", Sheet(rows, ns));
    EXPECT_EQ(SheetErrors(parts).size(), 2u) << ::testing::PrintToString(SheetErrors(parts));
}

TEST_F(StrictCheck, AlternateContentIsReadThroughItsFallback) {
    const std::string ns = " xmlns:mc=\"" + kMc + "\" xmlns:x14=\"" + kX14 + "\"";
    const auto alternate = [](const std::string& fallback) {
        return "<mc:AlternateContent><mc:Choice Requires=\"x14\"><x14:anything/></mc:Choice>" + fallback +
               "</mc:AlternateContent>";
    };
    // The fallback's margins stand where the alternate content stands; without a fallback nothing does.
    for (const auto& fallback : {"<mc:Fallback>" + kMargins + "</mc:Fallback>", std::string()}) {
        const auto parts =
            With(Workbook(""), "xl/worksheets/sheet1.xml", Sheet(kRows + alternate(fallback), ns));
        EXPECT_EQ(SheetErrors(parts), std::vector<std::string>{}) << fallback;
    }
    // What the fallback holds is judged like the rest of the part.
    const auto misplaced = With(Workbook(""), "xl/worksheets/sheet1.xml",
                                Sheet(alternate("<mc:Fallback>" + kMargins + "</mc:Fallback>") + kRows, ns));
    EXPECT_EQ(SheetErrors(misplaced).size(), 1u);
}

TEST_F(StrictCheck, RegressionsAreOnlyWhatTheOperationBroke) {
    // The workbook starts with an unknown attribute on its sheet's data.
    const std::string broken =
        "<sheetData bogus=\"1\"><row r=\"1\"><c r=\"A1\"><v>1</v></c></row></sheetData>";
    const auto before = Write("before.xlsx", Workbook(broken));
    // Still there after the operation changed the sheet, and carried into a sheet it added: excused.
    auto parts = Workbook(broken + kMargins);
    parts.emplace_back("xl/worksheets/sheet2.xml", Sheet(broken));
    EXPECT_EQ(StrictRegressions({before}, Write("kept.xlsx", parts)), std::vector<std::string>{});
    // A new fault in either sheet is the operation's.
    parts = With(parts, "xl/worksheets/sheet2.xml", Sheet(kMargins + broken));
    const auto regressions = StrictRegressions({before}, Write("broke.xlsx", parts));
    ASSERT_EQ(regressions.size(), 1u) << ::testing::PrintToString(regressions);
    EXPECT_EQ(regressions[0].rfind("xl/worksheets/sheet2.xml: ", 0), 0u) << regressions[0];
    // A namespace fault is never excused, even when the workbook had it already.
    const auto unbound =
        With(Workbook(kRows), "xl/workbook.xml",
             kDecl + "<workbook xmlns=\"" + kMain +
                 "\"><sheets><sheet name=\"A\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>");
    EXPECT_EQ(StrictRegressions({Write("unbound-before.xlsx", unbound)}, Write("unbound-after.xlsx", unbound))
                  .size(),
              1u);
}

}  // namespace
}  // namespace orv::engine::test
