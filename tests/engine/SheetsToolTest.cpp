// orvandel-sheets through the automation boundary: output format, exit codes and messages.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "StrictCheck.h"
#include "TestSupport.h"
#include "automation/ooxml/OoxmlBackend.h"
#include "cli/SheetsTool.h"
#include "engine/workbook/Workbook.h"

namespace orv::engine::test {
namespace {

struct Result {
    int code;
    std::string out;
    std::string err;
};

// `undoFolder`: where the history is kept, "" for none.
Result Tool(const std::vector<std::string>& args, const std::string& undoFolder = "") {
    auto registry = std::make_shared<automation::BackendRegistry>();
    registry->Add(ooxml::MakeOoxmlBackend());
    std::ostringstream out, err;
    const int code = cli::RunSheetsTool(args, out, err, registry, undoFolder);
    return {code, out.str(), err.str()};
}

// The sheets' names, in order, separated by spaces.
std::string Listed(const std::string& path) {
    std::string listed;
    std::istringstream lines(Tool({"list", path}).out);
    for (std::string line; std::getline(lines, line);)
        listed += (listed.empty() ? "" : " ") + line.substr(line.rfind('\t') + 1);
    return listed;
}

// The text of the part of the sheet named `sheet`.
std::string SheetText(const std::string& path, const std::string& sheet) {
    const auto workbook = WorkbookDocument::Open(path);
    for (const auto& info : workbook->sheets()) {
        if (info.name == sheet) return PartText(path, info.part);
    }
    return "";
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
        EXPECT_EQ(Listed(src), c.src) << said;
        if (c.dst.empty()) continue;
        EXPECT_EQ(Listed(dst), c.dst) << said;
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

// A target that does not exist is made in the kind its extension names, holding the copies and what they
// need; the strict reader finds nothing in it the source did not have. What cannot be made is refused with
// nothing written.
TEST(SheetsTool, ANewWorkbookHoldsTheCopiesAndNothingElse) {
    TempDir dir;
    const auto src = dir.File("src.xlsx");
    WritePackage(src, RichWorkbookParts());
    const auto srcBefore = StrictlyRead(src);
    for (const std::string extension : {".xlsx", ".xlsm", ".xltx", ".xltm"}) {
        const auto made = dir.File("made" + extension);
        const auto r = Tool({"copy", src, "Data", "Other", made});
        EXPECT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(r.out, "Created \"" + made + "\".\n");
        EXPECT_EQ(Listed(made), "Data Other");
        EXPECT_EQ(Problems(made), std::vector<std::string>{}) << extension;
        EXPECT_EQ(Orphans(made), std::vector<std::string>{}) << extension;
        EXPECT_EQ(StrictRegressions({srcBefore}, made), std::vector<std::string>{}) << extension;
        // The references between the two lead to the copies; the styles and theme came along.
        EXPECT_NE(SheetText(made, "Data").find("<f>Other!A1*2</f>"), std::string::npos);
        EXPECT_EQ(PartText(made, "xl/styles.xml"), PartText(src, "xl/styles.xml"));
        // Sheets nothing in needs changing are stored as their source holds them, not rewritten.
        EXPECT_EQ(SheetText(made, "Data"), SheetText(src, "Data")) << extension;
        EXPECT_EQ(SheetText(made, "Other"), SheetText(src, "Other")) << extension;
    }
    EXPECT_NE(PartText(dir.File("made.xltm"), "[Content_Types].xml").find("template.macroEnabled.main+xml"),
              std::string::npos);
    // A move into a new workbook; the hidden sheet arrives shown, as a workbook must show one.
    const auto moved = dir.File("moved.xlsx");
    EXPECT_EQ(Tool({"move", src, "Last", moved, "at", "start"}).code, 0);
    EXPECT_EQ(Listed(src), "Data Other");
    const auto hidden = dir.File("hidden.xlsx");
    EXPECT_EQ(Tool({"copy", Fixture("hidden-veryhidden-chartsheet.xlsx"), "Hidden", hidden}).code, 0);
    EXPECT_EQ(Tool({"list", hidden}).out, "1\tworksheet\tvisible\tHidden\n");
    // Refused, with nothing written anywhere.
    std::ofstream(dir.File("notes.xlsx")) << "not a workbook";
    struct Refusal {
        std::string target;
        std::vector<std::string> position;
        std::string words;
    };
    const std::vector<Refusal> refusals = {
        {dir.File("missing/new.xlsx"), {}, "does not exist"},
        {dir.File("new.txt"), {}, "names no workbook format"},
        {dir.File("new.xlsx"), {"after", "Data"}, "does not exist yet"},
        {dir.File("notes.xlsx"), {}, "notes.xlsx"},
    };
    for (const auto& refusal : refusals) {
        std::vector<std::string> args{"copy", src, "Data", refusal.target};
        args.insert(args.end(), refusal.position.begin(), refusal.position.end());
        const auto r = Tool(args);
        EXPECT_EQ(r.code, 1) << refusal.target;
        EXPECT_NE(r.err.find(refusal.words), std::string::npos) << r.err;
    }
    EXPECT_FALSE(std::filesystem::exists(dir.File("new.xlsx")));
    EXPECT_FALSE(std::filesystem::exists(dir.File("new.txt")));
}

// Values only: no formula and no link in the copies, every value kept; a formula without a value leaves its
// cell empty and is named. References to the target: sheets it has are read there, the others in the source.
TEST(SheetsTool, ValuesOnlyAndReferencesToTheTargetsOwnSheets) {
    TempDir dir;
    const auto src = dir.File("src.xlsx");
    const auto dst = dir.File("dst.xlsx");
    WritePackage(src, RichWorkbookParts());
    WritePackage(dst, RichWorkbookParts());
    // Last reads Data and Other through 3D ranges, and shows a formula's text.
    auto r = Tool({"copy", src, "Last", dst, "--values"});
    EXPECT_EQ(r.code, 0) << r.err;
    const std::string values = SheetText(dst, "Last (2)");
    EXPECT_EQ(values.find("<f"), std::string::npos) << values;
    for (const char* kept : {"<v>11</v>", "<v>5</v>", "<v>Other!A1</v>"})
        EXPECT_NE(values.find(kept), std::string::npos) << kept;
    EXPECT_EQ(PartText(dst, "[Content_Types].xml").find("externalLink"), std::string::npos);
    EXPECT_EQ(Problems(dst), std::vector<std::string>{});

    auto parts = RichWorkbookParts();
    for (auto& [name, text] : parts) {
        if (name != "xl/worksheets/sheet3.xml") continue;
        for (const std::string value : {"<f>SUM(Data:Other!A1)</f><v>11</v>", "<f>SUM(Other:Last!B1)</f><v>5</v>"})
            text.erase(text.find(value) + value.find("<v>"), value.size() - value.find("<v>"));
    }
    const auto uncached = dir.File("uncached.xlsx");
    WritePackage(uncached, parts);
    const auto emptied = dir.File("values.xlsx");
    r = Tool({"copy", uncached, "Last", emptied, "--values"});
    EXPECT_EQ(r.code, 3) << r.err;
    EXPECT_NE(r.err.find("The copy \"Last\" has empty cells where a formula had no value kept in "
                         "\"uncached.xlsx\": A1, A2."),
              std::string::npos)
        << r.err;
    EXPECT_EQ(Listed(emptied), "Last");

    r = Tool({"copy", src, "Data", dst, "as", "Here", "--refer-to-target"});
    EXPECT_EQ(r.code, 0) << r.err;
    const std::string here = SheetText(dst, "Here");
    EXPECT_NE(here.find("<f>Other!A1*2</f>"), std::string::npos) << here;
    const auto made = dir.File("made.xlsx");
    EXPECT_EQ(Tool({"copy", src, "Data", made, "--refer-to-target"}).code, 0);
    EXPECT_NE(SheetText(made, "Data").find("<f>[1]Other!A1*2</f>"), std::string::npos);
    // A new workbook's own empty sheet is no namesake: it goes, and a reference to it would be lost.
    auto withEmpty = RichWorkbookParts();
    for (auto& [name, text] : withEmpty) {
        for (std::size_t at; (at = text.find("Other")) != std::string::npos;) text.replace(at, 5, "Empty");
    }
    const auto emptySource = dir.File("empty-source.xlsx");
    WritePackage(emptySource, withEmpty);
    const auto madeFromIt = dir.File("made-from-it.xlsx");
    EXPECT_EQ(Tool({"copy", emptySource, "Data", madeFromIt, "--refer-to-target"}).code, 0);
    EXPECT_NE(SheetText(madeFromIt, "Data").find("<f>[1]Empty!A1*2</f>"), std::string::npos)
        << SheetText(madeFromIt, "Data");
}

// A split writes a workbook per sheet under names every system takes, never over a file; a combine gathers
// workbooks' sheets in order; undo takes both back whole.
TEST(SheetsTool, SplitAndCombineAreUndoneWhole) {
    TempDir dir;
    const auto src = dir.File("src.xlsx");
    auto parts = RichWorkbookParts();
    for (auto& [name, text] : parts) {
        if (name != "xl/workbook.xml") continue;
        for (const auto& [from, to] : std::vector<std::pair<std::string, std::string>>{
                 {"name=\"Data\"", "name=\"a&lt;b&gt;|&quot;c.. \""}, {"name=\"Other\"", "name=\"CON\""}}) {
            text.replace(text.find(from), from.size(), to);
        }
    }
    WritePackage(src, parts);
    std::filesystem::create_directory(dir.File("parts"));
    const std::string undo = dir.File("undo");
    auto run = [&](const std::vector<std::string>& args) { return Tool(args, undo); };
    auto r = run({"split", src, dir.File("parts")});
    EXPECT_EQ(r.code, 0) << r.err;
    const std::vector<std::string> files = {"a_b___c.xlsx", "CON_.xlsx", "Last.xlsx"};
    for (const auto& file : files) {
        const auto path = dir.File("parts/" + file);
        EXPECT_NE(r.out.find(file + "\".\n"), std::string::npos) << r.out;
        EXPECT_EQ(Problems(path), std::vector<std::string>{}) << file;
    }
    EXPECT_EQ(Listed(dir.File("parts/CON_.xlsx")), "CON");
    const auto before = ReadStored(dir.File("parts/Last.xlsx")).entries;
    r = run({"split", src, dir.File("parts")});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("exists already"), std::string::npos) << r.err;
    ExpectSameParts(before, dir.File("parts/Last.xlsx"));
    EXPECT_EQ(run({"split", src, dir.File("nowhere")}).code, 1);
    EXPECT_EQ(run({"split", src, src}).code, 1);
    EXPECT_EQ(run({"undo"}).code, 0);
    for (const auto& file : files) EXPECT_FALSE(std::filesystem::exists(dir.File("parts/" + file))) << file;
    // The last sheet cannot be carried (a string its workbook lacks): the two files written before it go.
    for (auto& [name, text] : parts) {
        if (name == "xl/worksheets/sheet3.xml") text.replace(text.find("<c r=\"B1\">"), 10, "<c r=\"B1\" t=\"s\">");
    }
    const auto damaged = dir.File("damaged.xlsx");
    WritePackage(damaged, parts);
    r = run({"split", damaged, dir.File("parts")});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("files written so far were removed"), std::string::npos) << r.err;
    EXPECT_TRUE(std::filesystem::is_empty(dir.File("parts")));

    const auto all = dir.File("all.xlsx");
    const auto other = dir.File("other.xlsx");
    WritePackage(other, RichWorkbookParts());
    r = run({"combine", all, src, other});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(Listed(all), "a<b>|\"c..  CON Last Data Other Last (2)");
    EXPECT_EQ(Problems(all), std::vector<std::string>{});
    EXPECT_EQ(run({"combine", other, all}).code, 0);
    EXPECT_EQ(Listed(other), "Data Other Last a<b>|\"c..  CON Last (2) Data (2) Other (2) Last (3)");
    EXPECT_EQ(run({"combine", other, other}).code, 1);
    EXPECT_EQ(run({"undo"}).code, 0);
    EXPECT_EQ(Listed(other), "Data Other Last");
    EXPECT_EQ(run({"undo"}).code, 0);
    EXPECT_FALSE(std::filesystem::exists(all));
}

// The link caches every cell the copy reads of a sheet left behind, and only those: the reading of that sheet
// stops past the last row they reach.
TEST(SheetsTool, ALinkCachesTheCellsReadUpToTheLastRowAndNoFurther) {
    TempDir dir;
    auto parts = RichWorkbookParts();
    for (auto& [name, text] : parts) {
        // Overlapping areas of one column (as a running total cites them), and apart.
        if (name == "xl/worksheets/sheet1.xml")
            text.replace(text.find("<f>Other!A1*2</f>"), 17,
                         "<f>Other!A40*2+SUM(Other!A5:A6,Other!$A$5:$A$7,Other!A8,Other!A20:A21)</f>");
        if (name != "xl/worksheets/sheet2.xml") continue;
        std::string rows;
        for (int row = 4; row <= 60; ++row)
            rows += "<row r=\"" + std::to_string(row) + "\"><c r=\"A" + std::to_string(row) + "\"><v>" +
                    std::to_string(row * 10) + "</v></c></row>";
        text.insert(text.find("</sheetData>"), rows);
    }
    const auto src = dir.File("src.xlsx");
    WritePackage(src, parts);
    const auto made = dir.File("made.xlsx");
    ASSERT_EQ(Tool({"copy", src, "Data", made}).code, 0);
    const std::string link = PartText(made, "xl/externalLinks/externalLink1.xml");
    for (const char* cached : {"r=\"A1\"", "r=\"A3\"", "r=\"A5\"", "r=\"A7\"", "r=\"A8\"><v>80</v>",
                               "r=\"A20\"", "r=\"A21\"", "r=\"A40\"><v>400</v>"})
        EXPECT_NE(link.find(cached), std::string::npos) << cached << "\n" << link;
    for (const char* left : {"r=\"A9\"", "r=\"A19\"", "r=\"A22\"", "r=\"A41\""})
        EXPECT_EQ(link.find(left), std::string::npos) << left << "\n" << link;
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
