// Copying sheets between workbooks: references to other source sheets become external references with cached
// values, names and tables are made unique, styles and strings merge by value, and the target stays sound.
#include <gtest/gtest.h>

#include <algorithm>
#include <pugixml.hpp>
#include <tuple>

#include "StrictCheck.h"
#include "TestSupport.h"
#include "engine/EngineError.h"
#include "engine/package/Package.h"
#include "engine/transfer/ExternalLinks.h"
#include "engine/transfer/SharedStrings.h"
#include "engine/transfer/SheetCopy.h"
#include "engine/transfer/SheetCopyPhases.h"
#include "engine/workbook/Workbook.h"

namespace orv::engine::test {
namespace {

class SheetCopy : public ::testing::Test {
  protected:
    void SetUp() override {
        srcPath = dir.File("src.xlsx");
        dstPath = dir.File("dst.xlsx");
        WritePackage(srcPath, RichWorkbookParts());
        WritePackage(dstPath, RichWorkbookParts());
    }
    CopiedSheet Copy(int sheet, int after, const std::string& name = "") {
        const auto before = StrictBefore({srcPath});
        auto src = WorkbookDocument::Open(srcPath);
        auto dst = WorkbookDocument::Open(dstPath);
        auto copied = CopySheet(*src, sheet, *dst, after, name);
        dst->Save();
        EXPECT_FALSE(src->changed());
        EXPECT_EQ(StrictRegressions(before, dstPath), std::vector<std::string>{});
        return copied;
    }
    // The strict reader's view of the target and of `sources`, taken before an operation to judge it by.
    std::vector<StrictView> StrictBefore(const std::vector<std::string>& sources) {
        std::vector<StrictView> views = {StrictlyRead(dstPath)};
        for (const auto& source : sources) views.push_back(StrictlyRead(source));
        return views;
    }
    std::string Part(const std::string& name) { return PartText(dstPath, name); }
    void ExpectSound() {
        EXPECT_EQ(Problems(dstPath), std::vector<std::string>{});
        EXPECT_EQ(Orphans(dstPath), std::vector<std::string>{});
    }

    TempDir dir;
    std::string srcPath, dstPath;
};

TEST_F(SheetCopy, ReferencesToOtherSourceSheetsBecomeExternalWithCachedValues) {
    const auto srcBefore = ReadStored(srcPath);
    const auto copied = Copy(0, 2);  // Data after Last; dst has its own Data and Other
    EXPECT_EQ(copied.name, "Data (2)");
    EXPECT_EQ(copied.index, 3);
    ExpectSound();
    const auto sheet = Part("xl/worksheets/sheet4.xml");
    EXPECT_NE(sheet.find("<f>[1]Other!A1*2</f>"), std::string::npos) << sheet;  // never dst's own Other
    EXPECT_NE(sheet.find("<formula1>[1]Other!$A$1:$A$3</formula1>"),
              std::string::npos);  // validation list too
    EXPECT_NE(sheet.find("INDIRECT(\"Other!A1\")"), std::string::npos);
    EXPECT_NE(sheet.find("location=\"Other!A1\""), std::string::npos);  // a hyperlink cannot name [1]
    // dst has a Tbl1 of its own: the copy reads the source table's cells instead.
    EXPECT_NE(sheet.find("<f>SUM([1]Other!$C$2:$C$3)</f>"), std::string::npos) << sheet;
    EXPECT_EQ(sheet.find("tabSelected"), std::string::npos);
    const auto link = Part("xl/externalLinks/externalLink1.xml");
    EXPECT_NE(link.find("<sheetName val=\"Other\"/>"), std::string::npos);
    EXPECT_NE(link.find("<cell r=\"A2\"><v>20</v></cell>"), std::string::npos) << link;
    EXPECT_NE(link.find("<cell r=\"C3\"><v>6</v></cell>"), std::string::npos) << link;
    EXPECT_NE(Part("xl/externalLinks/_rels/externalLink1.xml.rels")
                  .find("Target=\"src.xlsx\" TargetMode=\"External\""),
              std::string::npos);
    const auto workbook = Part("xl/workbook.xml");
    EXPECT_NE(workbook.find("<sheet name=\"Data (2)\" sheetId=\"4\""), std::string::npos);
    EXPECT_NE(workbook.find("<externalReferences><externalReference r:id="), std::string::npos);
    EXPECT_NE(workbook.find("localSheetId=\"3\">'Data (2)'!$A$1:$B$3<"), std::string::npos) << workbook;
    EXPECT_NE(workbook.find("activeTab=\"2\""), std::string::npos);  // the copy is not selected
    EXPECT_NE(Part("docProps/app.xml").find("<vt:lpstr>Last</vt:lpstr><vt:lpstr>Data (2)</vt:lpstr>"),
              std::string::npos);
    EXPECT_EQ(Part("xl/charts/chart2.xml").find("<c:f>[1]Other!$A$1:$A$3</c:f>") != std::string::npos, true);
    // The source is never written by a copy.
    EXPECT_EQ(ReadStored(srcPath).entries.at("xl/workbook.xml").bytes,
              srcBefore.entries.at("xl/workbook.xml").bytes);
}

// Sheets copied together refer to each other's copies, under the names they get on arrival; only what
// leads out of the group needs the link to the source file.
TEST_F(SheetCopy, AGroupKeepsTheReferencesAmongItsSheets) {
    const auto before = StrictBefore({srcPath});
    {
        auto src = WorkbookDocument::Open(srcPath);
        auto dst = WorkbookDocument::Open(dstPath);
        const auto copies = CopySheets(*src, {1, 0}, *dst, 2);  // given out of order: copied in source order
        ASSERT_EQ(copies.size(), 2u);
        EXPECT_EQ(copies[0].name, "Data (2)");
        EXPECT_EQ(copies[0].index, 3);
        EXPECT_EQ(copies[1].name, "Other (2)");
        EXPECT_EQ(copies[1].index, 4);
        dst->Save();
    }
    ExpectSound();
    EXPECT_EQ(StrictRegressions(before, dstPath), std::vector<std::string>{});
    EXPECT_FALSE(ReadStored(dstPath).entries.count("xl/externalLinks/externalLink1.xml"));
    const auto data = Part("xl/worksheets/sheet4.xml");
    for (const char* kept :
         {"<f>'Other (2)'!A1*2</f>", "<f>SUM('Other (2)'!A1:A3)</f>", ">'Other (2)'!$A$1&gt;5</formula>",
          "<formula1>'Other (2)'!$A$1:$A$3</formula1>", "location=\"'Other (2)'!A1\"",
          "<xm:f>'Other (2)'!A1:A3</xm:f>", "<f>SUM(Tbl1_2[Amt])</f>"}) {
        EXPECT_NE(data.find(kept), std::string::npos) << kept << "\n" << data;
    }
    EXPECT_NE(Part("xl/charts/chart2.xml").find("<c:f>'Other (2)'!$A$1:$A$3</c:f>"), std::string::npos);
    const auto workbook = Part("xl/workbook.xml");
    EXPECT_NE(workbook.find("<sheet name=\"Data (2)\" sheetId=\"4\""), std::string::npos) << workbook;
    EXPECT_NE(workbook.find("localSheetId=\"4\">'Other (2)'!$A$1:$A$3<"), std::string::npos) << workbook;

    // Last, copied with Data alone, still reads Other through a 3D range that leaves the group.
    auto src = WorkbookDocument::Open(srcPath);
    auto dst = WorkbookDocument::Open(dstPath);
    const auto copies = CopySheets(*src, {0, 2}, *dst, 0, {"Model", "Summary"});
    dst->Save();
    EXPECT_EQ(copies[1].name, "Summary");
    ExpectSound();
    const auto summary = Part("xl/worksheets/sheet7.xml");
    EXPECT_NE(summary.find("<f>SUM([1]Data:Other!A1)</f>"), std::string::npos) << summary;
    EXPECT_NE(summary.find("<f>SUM([1]Other:Last!B1)</f>"), std::string::npos) << summary;
    EXPECT_NE(Part("xl/worksheets/sheet6.xml").find("<f>[1]Other!A1*2</f>"), std::string::npos);
}

// A chart sheet travels with the worksheet it plots, or alone reading the source through the link.
TEST_F(SheetCopy, AChartSheetFollowsItsDataOrReadsTheSource) {
    const auto charts = CopyTo(Fixture("chartsheets-interleaved.xlsx"), dir, "charts.xlsx");
    const auto before = StrictBefore({charts});
    auto src = WorkbookDocument::Open(charts);
    auto dst = WorkbookDocument::Open(dstPath);
    const auto copies = CopySheets(*src, {0, 1}, *dst, 0, {"Data", ""});  // Sheet1 arrives as "Data (2)"
    dst->Save();
    EXPECT_EQ(copies[0].name, "Data (2)");
    EXPECT_EQ(copies[1].name, "Chart1");
    ExpectSound();
    EXPECT_EQ(StrictRegressions(before, dstPath), std::vector<std::string>{});
    const auto reopened = WorkbookDocument::Open(dstPath);
    EXPECT_EQ(reopened->sheets()[2].kind, SheetKind::Chartsheet);
    EXPECT_EQ(reopened->sheets()[2].name, "Chart1");
    const auto stored = ReadStored(dstPath);
    EXPECT_FALSE(stored.entries.count("xl/externalLinks/externalLink1.xml"));
    EXPECT_NE(Part("xl/charts/chart2.xml").find("<c:f>'Data (2)'!$A$1:$A$5</c:f>"), std::string::npos);

    auto alone = WorkbookDocument::Open(dstPath);
    CopySheet(*src, 4, *alone, 0);  // Chart2
    alone->Save();
    ExpectSound();
    EXPECT_NE(Part("xl/charts/chart3.xml").find("<c:f>[1]Sheet1!$A$1:$A$5</c:f>"), std::string::npos);
    EXPECT_NE(Part("xl/externalLinks/externalLink1.xml").find("<sheetName val=\"Sheet1\"/>"), std::string::npos);
}

// A second copy from the same source reuses its link: the cells it adds take their places among the rows and
// columns already cached, and a cell cached already is not added twice.
TEST_F(SheetCopy, ASecondLinkToTheSameSourceMergesItsCellsInOrder) {
    auto doc = WorkbookDocument::Open(dstPath);
    const std::vector<std::string> names{"Data", "Other"};
    auto cell = [](int row, int column, const char* value) { return CachedCell{row, column, 'n', value}; };
    const int first = AddExternalLink(doc->package(), doc->workbookPart(), "src.xlsx", names,
                                      {{1, CachedCells{cell(1, 3, "13"), cell(3, 1, "31")}}});
    const int second = AddExternalLink(doc->package(), doc->workbookPart(), "src.xlsx", names,
                                       {{1, CachedCells{cell(3, 1, "31"), cell(1, 1, "11"), cell(2, 2, "22"),
                                                        cell(1, 2, "12"), cell(4, 4, "44")}}});
    EXPECT_EQ(first, second);
    doc->Save();
    ExpectSound();
    const auto link = Part("xl/externalLinks/externalLink1.xml");
    std::string cells;
    for (std::size_t at = link.find("<cell r=\""); at != std::string::npos; at = link.find("<cell r=\"", at + 1))
        cells += link.substr(at + 9, link.find('"', at + 9) - at - 9) + " ";
    EXPECT_EQ(cells, "A1 B1 C1 B2 A3 D4 ") << link;
}

TEST_F(SheetCopy, CarriesEveryPartWithoutSharingAndMakesTablesUnique) {
    const auto copied = Copy(1, 0);  // Other (table, comments, VML, printer settings, picture) after Data
    EXPECT_EQ(copied.name, "Other (2)");
    ExpectSound();
    const auto stored = ReadStored(dstPath);
    for (const char* part : {"xl/tables/table2.xml", "xl/comments2.xml", "xl/drawings/vmlDrawing2.vml",
                             "xl/printerSettings/printerSettings2.bin", "xl/drawings/drawing3.xml"}) {
        EXPECT_TRUE(stored.entries.count(part)) << part;
    }
    EXPECT_FALSE(stored.entries.count("xl/media/image2.png"));  // the same picture is reused
    const auto table = Part("xl/tables/table2.xml");
    EXPECT_NE(table.find("id=\"2\" name=\"Tbl1_2\" displayName=\"Tbl1_2\""), std::string::npos) << table;
    EXPECT_NE(Part("xl/worksheets/_rels/sheet4.xml.rels").find("../tables/table2.xml"), std::string::npos);
    EXPECT_NE(Part("xl/pivotCache/pivotCacheDefinition1.xml").find("sheet=\"Other\""), std::string::npos);
}

TEST_F(SheetCopy, UnderANewNameSelfReferencesFollowAndCopyingTwiceAddsNoStyles) {
    Copy(0, 2, "Data Copy");
    const auto stylesOnce = Part("xl/styles.xml");
    const auto copied = Copy(0, 2, "Data Copy");
    EXPECT_EQ(copied.name, "Data Copy (2)");
    EXPECT_EQ(Part("xl/styles.xml"), stylesOnce);
    ExpectSound();
    EXPECT_NE(Part("xl/workbook.xml").find(">'Data Copy (2)'!$A$1:$B$3<"), std::string::npos);
    // Both copies share one external link to the source.
    EXPECT_NE(Part("xl/worksheets/sheet5.xml").find("[1]Other!A1*2"), std::string::npos);
    EXPECT_EQ(ReadStored(dstPath).entries.count("xl/externalLinks/externalLink2.xml"), 0u);
}

TEST_F(SheetCopy, InsideOneWorkbookTheCopyKeepsReferencesToItsSiblings) {
    const std::vector<StrictView> before = {StrictlyRead(srcPath)};
    auto doc = WorkbookDocument::Open(srcPath);
    const auto copied = CopySheet(*doc, 1, *doc, 2);
    doc->Save();
    EXPECT_EQ(copied.name, "Other (2)");
    EXPECT_EQ(Problems(srcPath), std::vector<std::string>{});
    EXPECT_EQ(StrictRegressions(before, srcPath), std::vector<std::string>{});
    EXPECT_EQ(Orphans(srcPath), std::vector<std::string>{});
    EXPECT_NE(PartText(srcPath, "xl/workbook.xml").find("localSheetId=\"3\">'Other (2)'!$A$1:$A$3<"),
              std::string::npos);
    EXPECT_EQ(ReadStored(srcPath).entries.count("xl/externalLinks/externalLink1.xml"), 0u);
}

TEST_F(SheetCopy, WorkbookNamesUsedByTheCopyAreNeverSilentlyRebound) {
    // The source defines Rate as 2 and uses it; the target defines Rate as 3.
    auto srcParts = RichWorkbookParts();
    auto dstParts = RichWorkbookParts();
    for (auto* parts : {&srcParts, &dstParts}) {
        for (auto& [name, bytes] : *parts) {
            if (name == "xl/workbook.xml") {
                const std::string value = parts == &srcParts ? "2" : "3";
                bytes.replace(bytes.find("<definedName name=\"Span\">"), 0,
                              "<definedName name=\"Rate\">" + value + "</definedName>");
            }
            if (name == "xl/worksheets/sheet1.xml")
                bytes.replace(bytes.find("<f>Other!A1*2</f>"), 17, "<f>Other!A1*Rate</f>");
        }
    }
    WritePackage(srcPath, srcParts);
    WritePackage(dstPath, dstParts);
    const auto copied = Copy(0, 0);
    const auto workbook = Part("xl/workbook.xml");
    EXPECT_NE(workbook.find("<definedName name=\"Rate\">3</definedName>"), std::string::npos);
    EXPECT_NE(workbook.find("<definedName name=\"Rate\" localSheetId=\"" + std::to_string(copied.index) +
                            "\">2</definedName>"),
              std::string::npos)
        << workbook;
    ExpectSound();
}

TEST_F(SheetCopy, StylesMergeByValueAndCellsLookAsInTheSource) {
    const auto src = Fixture("x14-conditional-formats.xlsx");
    const auto strictBefore = StrictBefore({src});
    auto source = WorkbookDocument::Open(src);
    auto target = WorkbookDocument::Open(dstPath);
    CopySheet(*source, 0, *target, 0);
    target->Save();
    EXPECT_EQ(Problems(dstPath), std::vector<std::string>{});
    EXPECT_EQ(StrictRegressions(strictBefore, dstPath), std::vector<std::string>{});
    // Resolve the font of every cell on both sides.
    auto fontOf = [](const std::string& path, const std::string& sheetPart, const std::string& stylesPart) {
        pugi::xml_document sheet, styles;
        sheet.load_string(PartText(path, sheetPart).c_str());
        styles.load_string(PartText(path, stylesPart).c_str());
        std::vector<std::string> fonts;
        auto xfs = styles.child("styleSheet").child("cellXfs");
        // A cell without a format has the first one.
        for (auto c : sheet.select_nodes("//c")) {
            int i = c.node().attribute("s").as_int();
            auto xf = xfs.first_child();
            while (i-- > 0) xf = xf.next_sibling();
            int f = xf.attribute("fontId").as_int();
            auto font = styles.child("styleSheet").child("fonts").first_child();
            while (f-- > 0) font = font.next_sibling();
            std::ostringstream s;
            font.print(s, "", pugi::format_raw);
            std::ostringstream n;
            n << xf.attribute("numFmtId").value() << "|" << s.str();
            fonts.push_back(n.str());
        }
        return fonts;
    };
    const auto before = fontOf(src, "xl/worksheets/sheet1.xml", "xl/styles.xml");
    const auto after = fontOf(dstPath, "xl/worksheets/sheet4.xml", "xl/styles.xml");
    EXPECT_FALSE(before.empty());
    EXPECT_EQ(before, after);
}

TEST_F(SheetCopy, RefusesWhatItCannotCarryAndChangesNothing) {
    auto source = WorkbookDocument::Open(Fixture("sheet-types-macro-dialog-chart.xlsm"));
    auto target = WorkbookDocument::Open(dstPath);
    EXPECT_THROW(CopySheet(*source, 2, *target, 0), EngineError);  // a macro sheet
    EXPECT_THROW(CopySheets(*source, {1, 3}, *target, 0), EngineError);  // a chart sheet with a dialog sheet
    EXPECT_FALSE(target->changed());
    // A group is read whole before the target changes: a damaged last sheet refuses the sound ones before it.
    auto damaged = WorkbookDocument::Open(Fixture("bad-crc-part.xlsx"));
    int bad = 0;
    while (damaged->sheets()[static_cast<std::size_t>(bad)].part != "xl/worksheets/sheet8.xml") ++bad;
    try {
        CopySheets(*damaged, {0, 1, bad}, *target, 0);
        ADD_FAILURE() << "a group with a damaged sheet was copied";
    } catch (const EngineError& e) {
        EXPECT_NE(std::string(e.what()).find("is damaged (CRC error)"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(target->changed());
    auto same = WorkbookDocument::Open(dstPath);
    try {
        CopySheet(*same, 0, *target, 0);
        FAIL();
    } catch (const EngineError& e) {
        EXPECT_NE(std::string(e.what()).find("same file"), std::string::npos) << e.what();
    }
    auto locked = WorkbookDocument::Open(Fixture("structure-protected.xlsx"));
    EXPECT_THROW(CopySheet(*target, 0, *locked, 0), EngineError);
}

// The copy under a new name renames the source sheet for the moment of the copy; a protected structure guards
// what is saved, so only a name left changed is refused, and the file stays as it was.
TEST_F(SheetCopy, AProtectedSourceLendsANameForTheCopyButKeepsItsOwn) {
    const auto srcPath = CopyTo(Fixture("structure-protected.xlsx"), dir, "locked.xlsx");
    const auto bytes = ReadStored(srcPath).entries;
    auto source = WorkbookDocument::Open(srcPath);
    auto target = WorkbookDocument::Open(dstPath);
    source->Rename(0, "Lent");
    EXPECT_EQ(CopySheet(*source, 0, *target, 0).name, "Lent");
    source->Rename(0, "Sheet1");
    target->Save();
    EXPECT_EQ(WorkbookDocument::Open(dstPath)->sheets()[1].name, "Lent");
    EXPECT_NO_THROW(source->Save());
    source->Rename(0, "Kept");
    try {
        source->Save();
        ADD_FAILURE() << "a rename was saved into a protected workbook";
    } catch (const EngineError& e) {
        EXPECT_NE(std::string(e.what()).find("structure is protected"), std::string::npos) << e.what();
    }
    ExpectSameParts(bytes, srcPath);
}

TEST_F(SheetCopy, ThreadedCommentsBringTheirPersonsAndHiddenSheetsStayHidden) {
    const auto before = StrictBefore(
        {Fixture("threaded-comments-arabic-rtl.xlsx"), Fixture("hidden-veryhidden-chartsheet.xlsx")});
    auto threaded = WorkbookDocument::Open(Fixture("threaded-comments-arabic-rtl.xlsx"));
    auto target = WorkbookDocument::Open(dstPath);
    CopySheet(*threaded, 1, *target, 0);
    auto hidden = WorkbookDocument::Open(Fixture("hidden-veryhidden-chartsheet.xlsx"));
    const auto copied = CopySheet(*hidden, 1, *target, 0);
    target->Save();
    EXPECT_EQ(Problems(dstPath), std::vector<std::string>{});
    EXPECT_EQ(StrictRegressions(before, dstPath), std::vector<std::string>{});
    EXPECT_NE(
        Part("xl/_rels/workbook.xml.rels").find("relationships/person\" Target=\"persons/person1.xml\""),
        std::string::npos);
    EXPECT_NE(Part("xl/persons/person1.xml").find("<person "), std::string::npos);
    EXPECT_EQ(WorkbookDocument::Open(dstPath)->sheets()[static_cast<std::size_t>(copied.index)].state,
              SheetState::Hidden);
}

TEST_F(SheetCopy, APivotTableBringsItsCacheUnderANewIdReadingTheSourceFile) {
    const auto pivots = CopyTo(Fixture("many-sheets-tables-pivots.xlsx"), dir, "pivots.xlsx");
    const auto before = StrictBefore({pivots});
    auto source = WorkbookDocument::Open(pivots);
    auto target = WorkbookDocument::Open(dstPath);
    CopySheet(*source, 11, *target, 0);  // StressedAssetsPivot
    target->Save();
    ExpectSound();
    EXPECT_EQ(StrictRegressions(before, dstPath), std::vector<std::string>{});
    EXPECT_NE(
        Part("xl/workbook.xml").find("<pivotCache cacheId=\"1\" r:id=\"rId6\"/><pivotCache cacheId=\"2\""),
        std::string::npos);
    EXPECT_NE(Part("xl/pivotTables/pivotTable1.xml").find("cacheId=\"2\""), std::string::npos);
    EXPECT_NE(Part("xl/pivotCache/pivotCacheDefinition2.xml")
                  .find("<worksheetSource name=\"StressedAssets\" r:id=\"rId2\"/>"),
              std::string::npos);
    EXPECT_NE(Part("xl/pivotCache/_rels/pivotCacheDefinition2.xml.rels")
                  .find("Target=\"pivots.xlsx\" TargetMode=\"External\""),
              std::string::npos);
    EXPECT_TRUE(ReadStored(dstPath).entries.count("xl/pivotCache/pivotCacheRecords1.xml"));
}

TEST_F(SheetCopy, TheCopyLeavesTheCodeNameOfItsVbaModuleBehind) {
    const auto before = StrictBefore({Fixture("sheet-types-macro-dialog-chart.xlsm")});
    auto source = WorkbookDocument::Open(Fixture("sheet-types-macro-dialog-chart.xlsm"));
    ASSERT_NE(PartText(Fixture("sheet-types-macro-dialog-chart.xlsm"), "xl/worksheets/sheet1.xml")
                  .find("codeName="),
              std::string::npos);
    auto target = WorkbookDocument::Open(dstPath);
    CopySheet(*source, 0, *target, 0);
    target->Save();
    ExpectSound();
    EXPECT_EQ(StrictRegressions(before, dstPath), std::vector<std::string>{});
    EXPECT_EQ(Part("xl/worksheets/sheet4.xml").find("codeName="), std::string::npos);
}

// A copy that fails after any of its phases leaves the target as it found it, an unsaved change made before
// included: saved, it holds the parts it held, byte for byte and in order; and the same copy made afterwards
// writes what it writes in a workbook that never saw the failure.
struct FailedCopy {
    const char* label;
    const char* source;  // a fixture; "" for the generated workbook, nullptr for a copy inside the target
    std::vector<int> sheets;
    int after = 0;
};

class FailedCopyTest : public ::testing::TestWithParam<std::tuple<FailedCopy, int>> {
  protected:
    static void ExpectSamePackages(const std::string& expected, const std::string& actual) {
        const auto a = ReadStored(expected);
        const auto b = ReadStored(actual);
        EXPECT_EQ(a.order, b.order);
        ExpectSameParts(a.entries, actual);
        for (const auto& [name, entry] : a.entries) {
            if (b.entries.count(name)) {
                EXPECT_EQ(entry.compressed, b.entries.at(name).compressed) << name;
            }
        }
    }
};

TEST_P(FailedCopyTest, LeavesTheTargetAsItWas) {
    const auto& [copy, phaseNumber] = GetParam();
    const auto phase = static_cast<CopyPhase>(phaseNumber);
    TempDir dir;
    const auto dstPath = dir.File("dst.xlsx");
    WritePackage(dstPath, RichWorkbookParts());
    std::string srcPath;
    if (copy.source && !*copy.source) WritePackage(srcPath = dir.File("src.xlsx"), RichWorkbookParts());
    if (copy.source && *copy.source) srcPath = CopyTo(Fixture(copy.source), dir, "src.xlsx");
    auto open = [&] {
        auto doc = WorkbookDocument::Open(dstPath);
        doc->Rename(2, "Renamed");
        return doc;
    };
    auto copyInto = [&](WorkbookDocument& target) {
        auto source = srcPath.empty() ? nullptr : WorkbookDocument::Open(srcPath);
        return CopySheets(source ? *source : target, copy.sheets, target, copy.after);
    };
    auto untouched = open();
    auto failed = open();
    {
        // Disarmed however the attempt ends, so that no other test's copy fails.
        struct Armed {
            explicit Armed(CopyPhase phase) { FailSheetCopiesAfterPhaseForTests(phase); }
            ~Armed() { FailSheetCopiesAfterPhaseForTests(std::nullopt); }
        } armed(phase);
        try {
            copyInto(*failed);
            ADD_FAILURE() << "the copy did not fail";
        } catch (const EngineError& e) {
            EXPECT_NE(std::string(e.what()).find(std::string("\"") + CopyPhaseName(phase) + "\""),
                      std::string::npos)
                << e.what();
        }
    }
    EXPECT_EQ(failed->SheetNames(), untouched->SheetNames());
    untouched->SaveTo(dir.File("untouched.xlsx"));
    failed->SaveTo(dir.File("failed.xlsx"));
    ExpectSamePackages(dir.File("untouched.xlsx"), dir.File("failed.xlsx"));

    const auto expected = copyInto(*untouched);
    const auto copies = copyInto(*failed);
    ASSERT_EQ(copies.size(), expected.size());
    for (std::size_t i = 0; i < copies.size(); ++i) {
        EXPECT_EQ(copies[i].name, expected[i].name);
        EXPECT_EQ(copies[i].index, expected[i].index);
    }
    untouched->SaveTo(dir.File("untouched-copied.xlsx"));
    failed->SaveTo(dir.File("failed-copied.xlsx"));
    ExpectSamePackages(dir.File("untouched-copied.xlsx"), dir.File("failed-copied.xlsx"));
}

INSTANTIATE_TEST_SUITE_P(
    EveryPhase, FailedCopyTest,
    ::testing::Combine(
        ::testing::Values(FailedCopy{"one_sheet", "", {0}, 2}, FailedCopy{"group", "", {0, 1}, 0},
                          FailedCopy{"inside_one_workbook", nullptr, {1}, 2},
                          FailedCopy{"pivot_table", "many-sheets-tables-pivots.xlsx", {11}, 0},
                          FailedCopy{"threaded_comments", "threaded-comments-arabic-rtl.xlsx", {1}, 0},
                          FailedCopy{"strict_source", "strict-14-sheets.xlsx", {0}, 1}),
        ::testing::Range(0, kCopyPhaseCount)),
    [](const auto& info) {
        std::string phase = CopyPhaseName(static_cast<CopyPhase>(std::get<1>(info.param)));
        std::replace(phase.begin(), phase.end(), ' ', '_');
        return std::string(std::get<0>(info.param).label) + "_after_" + phase;
    });

// A table of many strings (readied side by side) merged into one that holds a string twice: every source string
// reads the same in the target, equal strings share an entry, and new ones follow the last entry in the order
// they were first asked for.
TEST(StringMerger, ManyStringsLandOnTheirOwnTextAfterATableWithRepeats) {
    const std::string main = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
    auto table = [&](const std::vector<std::string>& texts) {
        std::string xml = "<sst xmlns=\"" + main + "\" count=\"" + std::to_string(texts.size()) + "\">";
        for (const auto& t : texts) xml += "<si><t>" + t + "</t></si>";
        return xml + "</sst>";
    };
    std::vector<std::string> sourceTexts;
    for (int i = 0; i < 12000; ++i) sourceTexts.push_back(i % 1000 == 7 ? "dup" : "s" + std::to_string(i % 11000));
    const std::vector<std::string> targetTexts = {"first", "dup", "dup", "s5"};
    TempDir dir;
    WritePackage(dir.File("src.xlsx"), {{"xl/sharedStrings.xml", table(sourceTexts)}});
    const std::string rels = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
    WritePackage(dir.File("dst.xlsx"),
                 {{"xl/workbook.xml", "<workbook xmlns=\"" + main + "\"/>"},
                  {"xl/_rels/workbook.xml.rels",
                   "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                   "<Relationship Id=\"rId1\" Type=\"" + rels + "/sharedStrings\" Target=\"sharedStrings.xml\"/>"
                   "</Relationships>"},
                  {"xl/sharedStrings.xml", table(targetTexts)}});
    auto source = Package::Open(dir.File("src.xlsx"));
    auto target = Package::Open(dir.File("dst.xlsx"));
    StringMerger merger(*source, "xl/sharedStrings.xml", *target, "xl/workbook.xml");
    std::vector<int> order;
    for (int i = 0; i < 12000; ++i) order.push_back(static_cast<int>((i * 7919L) % 12000));
    merger.Prepare(order);
    std::vector<int> mapped;
    for (int index : order) mapped.push_back(merger.Map(index));
    std::vector<std::string> merged;
    for (auto si : target->Xml("xl/sharedStrings.xml").child("sst").children("si"))
        merged.emplace_back(si.child_value("t"));
    std::vector<std::string> fresh;
    for (std::size_t i = 0; i < order.size(); ++i) {
        const std::string& text = sourceTexts[static_cast<std::size_t>(order[i])];
        ASSERT_LT(static_cast<std::size_t>(mapped[i]), merged.size());
        EXPECT_EQ(merged[static_cast<std::size_t>(mapped[i])], text) << "source string " << order[i];
        if (std::find(targetTexts.begin(), targetTexts.end(), text) == targetTexts.end() &&
            std::find(fresh.begin(), fresh.end(), text) == fresh.end())
            fresh.push_back(text);
    }
    EXPECT_EQ(std::vector<std::string>(merged.begin(), merged.begin() + 4), targetTexts);
    EXPECT_EQ(std::vector<std::string>(merged.begin() + 4, merged.end()), fresh);
}

TEST(FreeSheetName, NumbersClashesAndStaysWithin31Characters) {
    EXPECT_EQ(FreeSheetName("Data", {"Other"}), "Data");
    EXPECT_EQ(FreeSheetName("data", {"Data"}), "data (2)");
    EXPECT_EQ(FreeSheetName("Data", {"Data", "DATA (2)"}), "Data (3)");
    EXPECT_EQ(FreeSheetName("Data (2)", {"Data (2)"}), "Data (3)");
    EXPECT_EQ(FreeSheetName("Q (x)", {"Q (x)"}), "Q (x) (2)");
    const std::string longName(31, 'x');
    EXPECT_EQ(FreeSheetName(longName, {longName}), std::string(27, 'x') + " (2)");
    std::string umlauts;
    for (int i = 0; i < 31; ++i) umlauts += "ä";
    std::string expected;
    for (int i = 0; i < 27; ++i) expected += "ä";
    EXPECT_EQ(FreeSheetName(umlauts, {umlauts}), expected + " (2)");
}

}  // namespace
}  // namespace orv::engine::test
