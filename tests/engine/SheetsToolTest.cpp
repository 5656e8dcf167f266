// orvandel-sheets through the automation boundary: output format, exit codes and messages.
#include <gtest/gtest.h>

#include <sstream>

#include "StrictCheck.h"
#include "TestSupport.h"
#include "automation/ooxml/OoxmlBackend.h"
#include "cli/SheetsTool.h"

namespace orv::engine::test {
namespace {

struct Result {
    int code;
    std::string out;
    std::string err;
};

Result Tool(const std::vector<std::string>& args) {
    auto registry = std::make_shared<automation::BackendRegistry>();
    registry->Add(ooxml::MakeOoxmlBackend());
    std::ostringstream out, err;
    const int code = cli::RunSheetsTool(args, out, err, registry);
    return {code, out.str(), err.str()};
}

TEST(SheetsTool, ListsTheFullCollectionWithKindAndState) {
    const auto r = Tool({"list", Fixture("hidden-veryhidden-chartsheet.xlsx")});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(
        r.out,
        "1\tworksheet\tvisible\tVisible\n2\tworksheet\thidden\tHidden\n3\tworksheet\tveryHidden\tVeryHidden\n"
        "4\tchartsheet\tvisible\tChart\n");
    EXPECT_EQ(r.err, "");
    const auto kinds = Tool({"list", Fixture("sheet-types-macro-dialog-chart.xlsm")});
    EXPECT_EQ(
        kinds.out,
        "1\tworksheet\tvisible\tSheet1\n2\tchartsheet\tvisible\tChart1\n3\tmacrosheet\tvisible\tMacro1\n"
        "4\tdialogsheet\tvisible\tDialog1\n");
}

TEST(SheetsTool, RenamesReordersAndDeletesByNameOrPosition) {
    TempDir dir;
    const auto path = dir.File("rich.xlsx");
    WritePackage(path, RichWorkbookParts());
    const std::vector<StrictView> before = {StrictlyRead(path)};
    EXPECT_EQ(Tool({"rename", path, "#2", "Q1 Data"}).code, 0);
    EXPECT_EQ(Tool({"reorder", path, "last", "before", "data"}).code, 0);  // names ignore case
    EXPECT_EQ(Tool({"list", path}).out,
              "1\tworksheet\tvisible\tLast\n2\tworksheet\tvisible\tData\n3\tworksheet\tvisible\tQ1 Data\n");
    EXPECT_EQ(Tool({"reorder", path, "#1", "after", "#3"}).code, 0);
    EXPECT_EQ(Tool({"delete", path, "Q1 Data"}).code, 0);
    EXPECT_EQ(Tool({"list", path}).out, "1\tworksheet\tvisible\tData\n2\tworksheet\tvisible\tLast\n");
    EXPECT_EQ(Problems(path), std::vector<std::string>{});
    EXPECT_EQ(StrictRegressions(before, path), std::vector<std::string>{});
}

TEST(SheetsTool, RefusalsExitOneWithTheDescription) {
    TempDir dir;
    const auto path = dir.File("rich.xlsx");
    WritePackage(path, RichWorkbookParts());
    auto r = Tool({"rename", path, "Data", "Other"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err,
              "orvandel-sheets: Sheet \"Data\" cannot be renamed to \"Other\": The name \"Other\" is already "
              "taken by "
              "sheet \"Other\". Sheet names must differ in more than upper and lower case; please choose "
              "another name.\n");
    r = Tool({"delete", path, "Nowhere"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("no sheet named \"Nowhere\""), std::string::npos) << r.err;
    r = Tool({"delete", path, "#9"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("no sheet number 9"), std::string::npos) << r.err;
    r = Tool({"list", Fixture("encrypted-agile-aes.xlsx")});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("password-protected"), std::string::npos) << r.err;
    EXPECT_EQ(Tool({"list", path}).out,
              "1\tworksheet\tvisible\tData\n2\tworksheet\tvisible\tOther\n3\tworksheet\tvisible\tLast\n");
}

TEST(SheetsTool, CopyAndMoveBetweenWorkbooks) {
    TempDir dir;
    const auto src = dir.File("src.xlsx");
    const auto dst = dir.File("dst.xlsx");
    WritePackage(src, RichWorkbookParts());
    WritePackage(dst, RichWorkbookParts());
    const auto srcBefore = StrictlyRead(src);
    const std::vector<StrictView> dstBefore = {StrictlyRead(dst), srcBefore};
    auto r = Tool({"copy", src, "Last", dst, "after", "#1", "as", "Summary"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(Tool({"list", dst}).out,
              "1\tworksheet\tvisible\tData\n2\tworksheet\tvisible\tSummary\n3\tworksheet\tvisible\tOther\n"
              "4\tworksheet\tvisible\tLast\n");
    EXPECT_EQ(Tool({"list", src}).out,
              "1\tworksheet\tvisible\tData\n2\tworksheet\tvisible\tOther\n3\tworksheet\tvisible\tLast\n");
    r = Tool({"move", src, "data", dst, "after", "Last"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(Tool({"list", src}).out, "1\tworksheet\tvisible\tOther\n2\tworksheet\tvisible\tLast\n");
    EXPECT_NE(Tool({"list", dst}).out.find("5\tworksheet\tvisible\tData (2)\n"), std::string::npos);
    EXPECT_EQ(Problems(src), std::vector<std::string>{});
    EXPECT_EQ(Problems(dst), std::vector<std::string>{});
    EXPECT_EQ(StrictRegressions({srcBefore}, src), std::vector<std::string>{});
    EXPECT_EQ(StrictRegressions(dstBefore, dst), std::vector<std::string>{});
}

// Where copies land, in another workbook and in their own, and how a name taken or refused is dealt with;
// each case starts from the same two workbooks, Data Other Last each.
TEST(SheetsTool, CopiesGoWhereThePositionSaysUnderTheNamesTheApplicationGives) {
    struct Case {
        std::vector<std::string> words;  // after the command and SRC SHEET...: DST is "dst" or "src"
        int code;
        std::string src, dst;  // the sheets afterwards, by name
    };
    const std::vector<Case> cases = {
        {{"copy", "Other", "dst"}, 0, "Data Other Last", "Data Other Last Other (2)"},
        {{"copy", "Other", "dst", "at", "end"}, 0, "Data Other Last", "Data Other Last Other (2)"},
        {{"copy", "Other", "dst", "at", "start"}, 0, "Data Other Last", "Other (2) Data Other Last"},
        {{"copy", "Other", "Last", "dst", "before", "#2"}, 0, "Data Other Last",
         "Data Other (2) Last (2) Other Last"},
        {{"copy", "Data", "dst", "after", "data", "as", "Copy"}, 0, "Data Other Last", "Data Copy Other Last"},
        {{"move", "Data", "dst", "before", "Last"}, 0, "Other Last", "Data Other Data (2) Last"},
        // Inside one workbook: a copy beside its sheet, a move that only reorders, a group named as the
        // application names them.
        {{"copy", "Other", "src", "after", "Other"}, 0, "Data Other Other (2) Last", ""},
        {{"copy", "Data", "Other", "src", "at", "end"}, 0, "Data Other Last Data (2) Other (2)", ""},
        {{"move", "Last", "Data", "src", "at", "start"}, 0, "Data Last Other", ""},
        {{"move", "Data", "src", "after", "Last", "as", "First"}, 0, "Other Last First", ""},
        // Refused before anything is written, in the application's words.
        {{"copy", "Data", "dst", "as", "other"}, 1, "Data Other Last", "Data Other Last"},
        {{"copy", "Data", "dst", "as", "Bad/Name"}, 1, "Data Other Last", "Data Other Last"},
        {{"copy", "Data", "src", "as", "DATA"}, 1, "Data Other Last", ""},
        {{"copy", "Data", "dst", "before", "Nowhere"}, 1, "Data Other Last", "Data Other Last"},
        {{"move", "Data", "src", "at", "end", "--values"}, 1, "Data Other Last", ""},
        {{"copy", "Data", "dst", "at", "middle"}, 2, "Data Other Last", "Data Other Last"},
        {{"copy", "Data", "dst", "--value"}, 2, "Data Other Last", "Data Other Last"},
    };
    auto names = [](const std::string& path) {
        std::string listed;
        std::istringstream lines(Tool({"list", path}).out);
        for (std::string line; std::getline(lines, line);)
            listed += (listed.empty() ? "" : " ") + line.substr(line.rfind('\t') + 1);
        return listed;
    };
    for (const auto& c : cases) {
        TempDir dir;
        const auto src = dir.File("src.xlsx");
        const auto dst = dir.File("dst.xlsx");
        WritePackage(src, RichWorkbookParts());
        WritePackage(dst, RichWorkbookParts());
        const auto before = ReadStored(dst).entries;
        std::vector<std::string> args{c.words.front(), src};
        for (std::size_t i = 1; i < c.words.size(); ++i)
            args.push_back(c.words[i] == "dst" ? dst : c.words[i] == "src" ? src : c.words[i]);
        const auto r = Tool(args);
        std::string said;
        for (const auto& w : c.words) said += w + " ";
        EXPECT_EQ(r.code, c.code) << said << r.err;
        EXPECT_EQ(names(src), c.src) << said;
        if (c.dst.empty()) continue;
        EXPECT_EQ(names(dst), c.dst) << said;
        if (c.code != 0) {
            ExpectSameParts(before, dst);
        } else {
            EXPECT_EQ(Problems(dst), std::vector<std::string>{}) << said;
        }
    }
    TempDir dir;
    const auto src = dir.File("src.xlsx");
    WritePackage(src, RichWorkbookParts());
    const auto taken = Tool({"copy", src, "Data", src, "as", "other"});
    EXPECT_NE(taken.err.find("The name \"other\" is already taken by sheet \"Other\""), std::string::npos)
        << taken.err;
}

TEST(SheetsTool, SeveralSheetsMoveTogetherInSourceOrder) {
    TempDir dir;
    const auto src = dir.File("src.xlsx");
    const auto dst = dir.File("dst.xlsx");
    WritePackage(src, RichWorkbookParts());
    WritePackage(dst, RichWorkbookParts());
    const auto before = ReadStored(src).entries;
    auto r = Tool({"copy", src, "Other", "Data", dst, "after", "#1", "as", "Both"});
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("one SHEET only"), std::string::npos) << r.err;
    r = Tool({"move", src, "Last", "Data", "Other", dst, "after", "Last"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("These 3 sheets cannot be moved together: \"src.xlsx\" must keep at least one visible"),
              std::string::npos)
        << r.err;
    r = Tool({"move", src, "Other", "Data", "Other", dst, "after", "Last"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("named twice"), std::string::npos) << r.err;
    ExpectSameParts(before, src);

    r = Tool({"move", src, "Other", "data", dst, "after", "Data"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(Tool({"list", src}).out, "1\tworksheet\tvisible\tLast\n");
    EXPECT_EQ(Tool({"list", dst}).out,
              "1\tworksheet\tvisible\tData\n2\tworksheet\tvisible\tData (2)\n3\tworksheet\tvisible\tOther (2)\n"
              "4\tworksheet\tvisible\tOther\n5\tworksheet\tvisible\tLast\n");
    EXPECT_NE(PartText(dst, "xl/worksheets/sheet4.xml").find("<f>'Other (2)'!A1*2</f>"), std::string::npos);
    EXPECT_FALSE(ReadStored(dst).entries.count("xl/externalLinks/externalLink1.xml"));
    // What stays behind and used the moved sheets shows #REF!, as after a move of one sheet.
    EXPECT_NE(PartText(src, "xl/worksheets/sheet3.xml").find("<f>SUM(#REF!A1)</f>"), std::string::npos)
        << PartText(src, "xl/worksheets/sheet3.xml");
    EXPECT_EQ(Problems(src), std::vector<std::string>{});
    EXPECT_EQ(Problems(dst), std::vector<std::string>{});
}

TEST(SheetsTool, AMoveWhoseTargetCannotBeSavedKeepsTheSourceSheet) {
    TempDir dir;
    const auto src = dir.File("src.xlsx");
    const auto dst = dir.File("dst.xlsx");
    WritePackage(src, RichWorkbookParts());
    WritePackage(dst, RichWorkbookParts());
    std::filesystem::permissions(dst, std::filesystem::perms::owner_read |
                                          std::filesystem::perms::group_read |
                                          std::filesystem::perms::others_read);
    const auto r = Tool({"move", src, "Data", dst, "after", "Last"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("read-only"), std::string::npos) << r.err;
    EXPECT_EQ(Tool({"list", src}).out,
              "1\tworksheet\tvisible\tData\n2\tworksheet\tvisible\tOther\n3\tworksheet\tvisible\tLast\n");
}

TEST(SheetsTool, AMoveThatCannotLeaveItsSourceIsRefusedBeforeAnythingIsWritten) {
    TempDir dir;
    const auto src = CopyTo(Fixture("hidden-veryhidden-chartsheet.xlsx"), dir, "src.xlsx");
    const auto dst = dir.File("dst.xlsx");
    WritePackage(dst, RichWorkbookParts());
    ASSERT_EQ(Tool({"delete", src, "Chart"}).code, 0);  // Visible is now the only visible sheet
    const auto srcBefore = ReadStored(src).entries;
    const auto dstBefore = ReadStored(dst).entries;
    const auto r = Tool({"move", src, "Visible", dst, "after", "Last"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(
        r.err.find("Sheet \"Visible\" cannot be moved: \"src.xlsx\" must keep at least one visible sheet."),
        std::string::npos)
        << r.err;
    ExpectSameParts(srcBefore, src);
    ExpectSameParts(dstBefore, dst);
}

// Deletions and moves agree on what keeps a workbook visible: any shown sheet with a part of its own, a macro
// sheet too, but never an entry without a part.
TEST(SheetsTool, DeleteAndMoveAgreeOnWhatKeepsAWorkbookVisible) {
    struct Case {
        std::string workbook;
        std::string first;  // deleted beforehand
        std::vector<std::string> leaving;
        bool allowed;
    };
    const std::string modules =
        std::string(ORVANDEL_PRODUCER_FIXTURES) + "/regress-vba-module-placeholder.xlsx";
    const std::vector<Case> cases = {
        // Macro1 stays.
        {Fixture("sheet-types-macro-dialog-chart.xlsm"), "Dialog1", {"Sheet1", "Chart1"}, true},
        // Module1 has no part.
        {modules, "", {"Data"}, false},
    };
    TempDir dir;
    const auto dst = dir.File("dst.xlsx");
    WritePackage(dst, RichWorkbookParts());
    for (const auto& c : cases) {
        for (const bool move : {false, true}) {
            const std::string label = (move ? "move from " : "delete from ") + c.workbook;
            SCOPED_TRACE(label);
            const auto src = CopyTo(c.workbook, dir,
                                    std::string(move ? "move" : "delete") +
                                        std::filesystem::path(c.workbook).extension().string());
            if (!c.first.empty()) {
                ASSERT_EQ(Tool({"delete", src, c.first}).code, 0);
            }
            const auto before = Tool({"list", src}).out;
            Result r{0, "", ""};
            if (move) {
                std::vector<std::string> args = {"move", src};
                args.insert(args.end(), c.leaving.begin(), c.leaving.end());
                args.insert(args.end(), {dst, "after", "Last"});
                r = Tool(args);
            } else {
                for (const auto& sheet : c.leaving) {
                    if (r.code == 0) r = Tool({"delete", src, sheet});
                }
            }
            EXPECT_EQ(r.code, c.allowed ? 0 : 1) << r.err;
            const auto after = Tool({"list", src}).out;
            if (!c.allowed) {
                EXPECT_NE(r.err.find("must keep at least one visible sheet"), std::string::npos) << r.err;
                EXPECT_EQ(after, before);
            }
            for (const auto& sheet : c.leaving) {
                EXPECT_EQ(after.find("\t" + sheet + "\n") == std::string::npos, c.allowed) << after;
            }
        }
    }
}

TEST(SheetsTool, ACopyUnderANewNameLeavesAProtectedSourceAlone) {
    TempDir dir;
    const auto src = CopyTo(Fixture("structure-protected.xlsx"), dir, "src.xlsx");
    const auto dst = dir.File("dst.xlsx");
    WritePackage(dst, RichWorkbookParts());
    const auto srcBefore = ReadStored(src).entries;
    const auto r = Tool({"copy", src, "Sheet1", dst, "after", "Data", "as", "Kept"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(Tool({"list", dst}).out.find("2\tworksheet\tvisible\tKept\n"), std::string::npos);
    ExpectSameParts(srcBefore, src);
}

TEST(SheetsTool, UsageMistakesExitTwoAndHelpExitsZero) {
    EXPECT_EQ(Tool({}).code, 2);
    EXPECT_EQ(Tool({"frobnicate", "x.xlsx"}).code, 2);
    EXPECT_EQ(Tool({"rename", "x.xlsx", "A"}).code, 2);
    const auto r = Tool({"reorder", "x.xlsx", "A", "beside", "B"});
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("'before' or 'after'"), std::string::npos);
    const auto help = Tool({"--help"});
    EXPECT_EQ(help.code, 0);
    EXPECT_NE(help.out.find("orvandel-sheets reorder FILE SHEET before|after OTHER"), std::string::npos);
}

}  // namespace
}  // namespace orv::engine::test
