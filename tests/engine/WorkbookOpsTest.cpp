// Rename, move and delete on the generated workbook: every place a reference lives is rewritten,
// sheet-indexed attributes follow, parts are cleaned up, and refusals are clear.
#include <gtest/gtest.h>

#include "StrictCheck.h"
#include "TestSupport.h"
#include "engine/EngineError.h"
#include "engine/workbook/Workbook.h"

namespace orv::engine::test {
namespace {

class RichWorkbook : public ::testing::Test {
  protected:
    void SetUp() override {
        path = dir.File("rich.xlsx");
        WritePackage(path, RichWorkbookParts());
        before = ReadStored(path);
        strictBefore = {StrictlyRead(path)};
    }
    std::string Part(const std::string& name) { return PartText(path, name); }
    bool Has(const std::string& name) { return ReadStored(path).entries.count(name) > 0; }
    // Rewrites the workbook with a Last sheet whose only row is `row`.
    void WriteWithLastRow(const std::string& row) {
        auto parts = RichWorkbookParts();
        for (auto& [name, text] : parts) {
            if (name != "xl/worksheets/sheet3.xml") continue;
            text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<worksheet "
                   "xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><sheetData>" +
                   row + "</sheetData></worksheet>";
        }
        WritePackage(path, parts);
        strictBefore = {StrictlyRead(path)};
    }
    bool Contains(const std::string& part, const std::string& text) {
        return Part(part).find(text) != std::string::npos;
    }
    void ExpectSound() {
        EXPECT_EQ(Problems(path), std::vector<std::string>{});
        EXPECT_EQ(StrictRegressions(strictBefore, path), std::vector<std::string>{});
        EXPECT_EQ(Orphans(path), std::vector<std::string>{});
    }
    // Parts whose text changed since SetUp.
    std::vector<std::string> ChangedParts() {
        std::vector<std::string> changed;
        const auto after = ReadStored(path);
        for (const auto& [name, entry] : after.entries) {
            auto it = before.entries.find(name);
            if (it == before.entries.end() || it->second.bytes != entry.bytes) changed.push_back(name);
        }
        return changed;
    }

    TempDir dir;
    std::string path;
    StoredPackage before;
    std::vector<StrictView> strictBefore;
};

TEST_F(RichWorkbook, StartsSound) { ExpectSound(); }

TEST_F(RichWorkbook, RenameRewritesEveryReferenceAndQuotesTheNewName) {
    auto doc = WorkbookDocument::Open(path);
    doc->Rename(1, "Q1 Data");
    doc->Save();
    ExpectSound();
    const auto sheet1 = Part("xl/worksheets/sheet1.xml");
    EXPECT_NE(sheet1.find("<f>'Q1 Data'!A1*2</f>"), std::string::npos);
    EXPECT_NE(sheet1.find("si=\"0\">'Q1 Data'!A1+1</f>"), std::string::npos);            // shared master
    EXPECT_NE(sheet1.find("ref=\"D2\">SUM('Q1 Data'!A1:A3*2)</f>"), std::string::npos);  // array master
    EXPECT_NE(sheet1.find("INDIRECT(\"Other!A1\")"), std::string::npos);  // string literal kept
    EXPECT_NE(sheet1.find("<formula>'Q1 Data'!$A$1&gt;5</formula>"),
              std::string::npos);  // conditional format
    EXPECT_NE(sheet1.find("<formula1>'Q1 Data'!$A$1:$A$3</formula1>"), std::string::npos);
    EXPECT_NE(sheet1.find("<xm:f>'Q1 Data'!$A$2&gt;5</xm:f>"), std::string::npos);  // x14 conditional format
    EXPECT_NE(sheet1.find("<xm:f>'Q1 Data'!$A$1:$A$2</xm:f>"), std::string::npos);  // x14 validation
    EXPECT_NE(sheet1.find("<xm:f>'Q1 Data'!A1:A3</xm:f>"), std::string::npos);      // sparkline
    EXPECT_NE(sheet1.find("location=\"'Q1 Data'!A1\""), std::string::npos);         // hyperlink
    EXPECT_NE(sheet1.find("SUM(Tbl1[Amt])"), std::string::npos);
    const auto chart = Part("xl/charts/chart1.xml");
    EXPECT_NE(chart.find("<c:f>'Q1 Data'!$C$1</c:f>"), std::string::npos);
    EXPECT_NE(chart.find("<c:f>'Q1 Data'!$A$1:$A$3</c:f>"), std::string::npos);
    const auto workbook = Part("xl/workbook.xml");
    EXPECT_NE(workbook.find("<sheet name=\"Q1 Data\" sheetId=\"2\""), std::string::npos);
    EXPECT_NE(workbook.find("localSheetId=\"1\">'Q1 Data'!$A$1:$A$3<"), std::string::npos);
    EXPECT_NE(workbook.find("name=\"OtherValues\">'Q1 Data'!$A$1:$A$3<"), std::string::npos);
    EXPECT_NE(workbook.find(">'Data:Q1 Data'!$A$1<"), std::string::npos);
    EXPECT_NE(Part("xl/worksheets/sheet3.xml").find("SUM('Data:Q1 Data'!A1)"), std::string::npos);
    EXPECT_NE(Part("xl/worksheets/sheet3.xml").find("<f>\"Other!A1\"</f>"), std::string::npos);
    EXPECT_NE(Part("xl/pivotCache/pivotCacheDefinition1.xml").find("sheet=\"Q1 Data\""), std::string::npos);
    const auto app = Part("docProps/app.xml");
    EXPECT_NE(app.find("<vt:lpstr>Q1 Data</vt:lpstr>"), std::string::npos);
    EXPECT_NE(app.find("<vt:lpstr>'Q1 Data'!Print_Area</vt:lpstr>"), std::string::npos);
    // Parts that never mention the sheet are not rewritten.
    for (const auto& name : ChangedParts()) {
        EXPECT_NE(before.entries.at(name).bytes.find("Other"), std::string::npos) << name << " changed";
    }
    EXPECT_EQ(Part("xl/worksheets/sheet2.xml"), before.entries.at("xl/worksheets/sheet2.xml").bytes);
}

// A sheet named Data shares its name with the sheetData element of every worksheet part: the quick scan must
// still find the forms that name it, 3D ranges among them.
TEST_F(RichWorkbook, RenameOfASheetNamedLikeMarkupFindsEveryReference) {
    auto doc = WorkbookDocument::Open(path);
    doc->Rename(0, "Facts");
    doc->Save();
    ExpectSound();
    EXPECT_TRUE(Contains("xl/worksheets/sheet3.xml", "<f>SUM(Facts:Other!A1)</f>"));
    EXPECT_TRUE(Contains("xl/workbook.xml", "localSheetId=\"0\">Facts!$A$1:$B$3</definedName>"));
    EXPECT_TRUE(Contains("xl/workbook.xml", "<definedName name=\"Span\">Facts:Other!$A$1</definedName>"));
    EXPECT_TRUE(Contains("docProps/app.xml", "<vt:lpstr>Facts!Print_Area</vt:lpstr>"));
    EXPECT_FALSE(Contains("xl/worksheets/sheet3.xml", "Data:"));
}

TEST_F(RichWorkbook, RenameKeepsTheDeclarationLineBreak) {
    auto doc = WorkbookDocument::Open(path);
    doc->Rename(0, "Inputs");
    doc->Save();
    ExpectSound();
    EXPECT_EQ(Part("xl/workbook.xml")
                  .rfind("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n<workbook", 0),
              0u);
}

TEST_F(RichWorkbook, RenameDoublesApostrophesAndAllowsACaseOnlyChange) {
    auto doc = WorkbookDocument::Open(path);
    doc->Rename(1, "Bob's");
    doc->Rename(1, "BOB'S");
    doc->Save();
    ExpectSound();
    EXPECT_TRUE(Contains("xl/worksheets/sheet1.xml", "<f>'BOB''S'!A1*2</f>"));
    EXPECT_TRUE(Contains("xl/workbook.xml", "<sheet name=\"BOB'S\""));
}

TEST_F(RichWorkbook, RenameToANameLikeACellReferenceQuotesIt) {
    auto doc = WorkbookDocument::Open(path);
    doc->Rename(1, "A1");
    doc->Save();
    ExpectSound();
    EXPECT_TRUE(Contains("xl/worksheets/sheet1.xml", "<f>'A1'!A1*2</f>"));
}

TEST_F(RichWorkbook, RenameRefusesWhatTheApplicationRefuses) {
    auto doc = WorkbookDocument::Open(path);
    const std::vector<std::pair<std::string, std::string>> refused = {
        {"", "empty"},
        {std::string(32, 'x'), "31"},
        {"a/b", "cannot contain"},
        {"a[b]", "cannot contain"},
        {"'quoted", "apostrophe"},
        {"quoted'", "apostrophe"},
        {"History", "History"},
        {"data", "already"},
        {"LAST", "already"},
    };
    for (const auto& [name, phrase] : refused) {
        try {
            doc->Rename(1, name);
            ADD_FAILURE() << "accepted \"" << name << "\"";
        } catch (const EngineError& e) {
            const std::string what = e.what();
            EXPECT_NE(what.find("Sheet \"Other\" cannot be renamed"), std::string::npos) << what;
            EXPECT_NE(what.find(phrase), std::string::npos) << name << ": " << what;
        }
    }
    EXPECT_FALSE(doc->changed());
    // 31 characters, not bytes: 31 two-byte letters are fine.
    std::string umlauts;
    for (int i = 0; i < 31; ++i) umlauts += "ä";
    EXPECT_NO_THROW(doc->Rename(1, umlauts));
}

TEST_F(RichWorkbook, MoveRenumbersLocalNamesAndKeepsTheActiveAndFirstTabs) {
    auto doc = WorkbookDocument::Open(path);
    doc->Move(2, 0);  // Last, Data, Other
    doc->Save();
    ExpectSound();
    const auto workbook = Part("xl/workbook.xml");
    EXPECT_NE(workbook.find("<sheet name=\"Last\" sheetId=\"3\" r:id=\"rId3\"/><sheet name=\"Data\""),
              std::string::npos);
    EXPECT_NE(workbook.find("localSheetId=\"1\">Data!$A$1:$B$3<"), std::string::npos);
    EXPECT_NE(workbook.find("localSheetId=\"2\">Other!$A$1:$A$3<"), std::string::npos);
    EXPECT_NE(workbook.find("localSheetId=\"0\">Last!$B$1<"), std::string::npos);
    EXPECT_NE(workbook.find("activeTab=\"0\""), std::string::npos);   // Last stays active
    EXPECT_NE(workbook.find("firstSheet=\"2\""), std::string::npos);  // Other stays first
    EXPECT_TRUE(Contains("docProps/app.xml",
                         "<vt:lpstr>Last</vt:lpstr><vt:lpstr>Data</vt:lpstr><vt:lpstr>Other</vt:lpstr>"));
    // Only the workbook part and app.xml change.
    EXPECT_EQ(ChangedParts(), (std::vector<std::string>{"docProps/app.xml", "xl/workbook.xml"}));
}

TEST_F(RichWorkbook, DeleteTurnsReferencesIntoRefErrorsAndShrinks3DRanges) {
    auto doc = WorkbookDocument::Open(path);
    doc->Delete(1);
    doc->Save();
    ExpectSound();
    const auto sheet1 = Part("xl/worksheets/sheet1.xml");
    EXPECT_NE(sheet1.find("<f>#REF!A1*2</f>"), std::string::npos) << sheet1;
    EXPECT_NE(sheet1.find("<formula1>#REF!$A$1:$A$3</formula1>"), std::string::npos);
    EXPECT_NE(sheet1.find("INDIRECT(\"Other!A1\")"), std::string::npos);
    EXPECT_NE(sheet1.find("<f>SUM(#REF!)</f>"), std::string::npos);  // Tbl1 went with its sheet
    const auto sheet3 = Part("xl/worksheets/sheet3.xml");
    EXPECT_NE(sheet3.find("SUM(Data!A1)"), std::string::npos) << sheet3;
    EXPECT_NE(sheet3.find("SUM(Last!B1)"), std::string::npos) << sheet3;
    const auto workbook = Part("xl/workbook.xml");
    EXPECT_EQ(workbook.find("localSheetId=\"1\">Other"), std::string::npos);  // its own names go
    EXPECT_NE(workbook.find("localSheetId=\"1\">Last!$B$1<"), std::string::npos);
    EXPECT_NE(workbook.find("name=\"OtherValues\">#REF!$A$1:$A$3<"), std::string::npos);
    EXPECT_NE(workbook.find("name=\"Span\">Data!$A$1<"), std::string::npos);
    EXPECT_NE(workbook.find("activeTab=\"1\""), std::string::npos);
    EXPECT_NE(workbook.find("firstSheet=\"1\""), std::string::npos);  // Last now stands where Other stood
    const auto app = Part("docProps/app.xml");
    EXPECT_NE(app.find("<vt:i4>2</vt:i4></vt:variant><vt:variant><vt:lpstr>Named "
                       "Ranges</vt:lpstr></vt:variant><vt:variant><vt:i4>2</vt:i4>"),
              std::string::npos)
        << app;
    EXPECT_EQ(app.find("<vt:lpstr>Other</vt:lpstr>"), std::string::npos);
    EXPECT_EQ(app.find("Other!Print_Area"), std::string::npos);
    EXPECT_NE(app.find("<vt:lpstr>OtherValues</vt:lpstr>"), std::string::npos);
}

// The quick scan that picks the parts to rewrite ignores case as references do.
TEST_F(RichWorkbook, RenameFindsReferencesWrittenInAnotherCase) {
    WriteWithLastRow("<row r=\"1\"><c r=\"A1\"><f>oTHER!A1+'OTHER'!B1</f><v>11</v></c></row>");
    auto doc = WorkbookDocument::Open(path);
    doc->Rename(1, "Facts");
    doc->Save();
    ExpectSound();
    EXPECT_TRUE(Contains("xl/worksheets/sheet3.xml", "<f>Facts!A1+Facts!B1</f>")) << Part("xl/worksheets/sheet3.xml");
}

// A part that names only the deleted sheet's table, never the sheet, loses the reference all the same.
TEST_F(RichWorkbook, DeleteReachesAPartThatNamesOnlyTheSheetsTable) {
    WriteWithLastRow("<row r=\"1\"><c r=\"A1\"><f>SUM(tbl1[Amt])+Last!B2</f><v>11</v></c></row>");
    auto doc = WorkbookDocument::Open(path);
    doc->Delete(1);
    doc->Save();
    ExpectSound();
    const auto sheet3 = Part("xl/worksheets/sheet3.xml");
    EXPECT_NE(sheet3.find("<f>SUM(#REF!)+Last!B2</f>"), std::string::npos) << sheet3;
}

TEST_F(RichWorkbook, DeleteRemovesThePartsOnlyTheSheetUsedAndKeepsSharedOnes) {
    auto doc = WorkbookDocument::Open(path);
    doc->Delete(1);
    doc->Save();
    for (const char* gone :
         {"xl/worksheets/sheet2.xml", "xl/worksheets/_rels/sheet2.xml.rels", "xl/drawings/drawing2.xml",
          "xl/drawings/_rels/drawing2.xml.rels", "xl/drawings/vmlDrawing1.vml", "xl/comments1.xml",
          "xl/tables/table1.xml", "xl/printerSettings/printerSettings1.bin", "xl/calcChain.xml"}) {
        EXPECT_FALSE(Has(gone)) << gone;
    }
    EXPECT_TRUE(Has("xl/media/image1.png"));  // Data's drawing still shows it
    EXPECT_TRUE(Has("xl/charts/chart1.xml"));
    const auto types = Part("[Content_Types].xml");
    EXPECT_EQ(types.find("sheet2.xml"), std::string::npos);
    EXPECT_EQ(types.find("calcChain"), std::string::npos);
    EXPECT_EQ(types.find("table1.xml"), std::string::npos);
    EXPECT_EQ(Part("xl/_rels/workbook.xml.rels").find("sheet2.xml"), std::string::npos);
    ExpectSound();
}

TEST_F(RichWorkbook, DeleteRefusesTheLastVisibleSheet) {
    auto doc = WorkbookDocument::Open(path);
    doc->Delete(0);
    doc->Delete(0);
    try {
        doc->Delete(0);
        FAIL() << "deleted the last sheet";
    } catch (const EngineError& e) {
        EXPECT_NE(std::string(e.what()).find("at least one visible sheet"), std::string::npos) << e.what();
    }
    ASSERT_EQ(doc->sheets().size(), 1u);
    doc->Save();
    ExpectSound();
}

// An entry without a part (what a macro module leaves) shows nothing: the active tab never lands on it.
TEST_F(RichWorkbook, DeleteNeverLeavesAnEntryWithoutAPartActive) {
    auto parts = RichWorkbookParts();
    for (auto& [name, text] : parts) {
        if (name != "xl/workbook.xml") continue;
        const std::string last = "r:id=\"rId3\"/>";
        text.insert(text.find(last) + last.size(), "<sheet name=\"Module1\" sheetId=\"4\" r:id=\"\"/>");
    }
    WritePackage(path, parts);
    auto doc = WorkbookDocument::Open(path);
    doc->Delete(2);  // Last, the active sheet; Module1 takes its place
    doc->Save();
    EXPECT_NE(Part("xl/workbook.xml").find("activeTab=\"1\""), std::string::npos) << Part("xl/workbook.xml");
}

TEST_F(RichWorkbook, OperationsChainWithinOneOpening) {
    auto doc = WorkbookDocument::Open(path);
    doc->Rename(0, "Inputs");
    doc->Move(0, 2);
    doc->Save();
    doc->Delete(0);  // Other
    doc->Save();
    ExpectSound();
    auto again = WorkbookDocument::Open(path);
    ASSERT_EQ(again->sheets().size(), 2u);
    EXPECT_EQ(again->sheets()[0].name, "Last");
    EXPECT_EQ(again->sheets()[1].name, "Inputs");
    EXPECT_TRUE(Contains("xl/worksheets/sheet1.xml", "<f>#REF!A1*2</f>"));
}

}  // namespace
}  // namespace orv::engine::test
