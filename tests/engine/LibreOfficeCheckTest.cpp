// Where LibreOffice is installed, it opens the engine's results and reads the expected sheets, values and
// formulas (through a flat OpenDocument export).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <pugixml.hpp>

#include "SofficeOracle.h"
#include "TestSupport.h"
#include "engine/transfer/SheetCopy.h"
#include "engine/workbook/Workbook.h"

namespace orv::engine::test {
namespace {

namespace fs = std::filesystem;

struct Cell {
    std::string formula;
    std::string value;
};

// What LibreOffice shows of a workbook: every sheet's name and its cells (formula and value) by position.
struct Seen {
    std::vector<std::string> sheets;
    std::map<std::string, std::map<std::string, Cell>> cells;  // sheet -> "A1" -> cell
};

std::string Soffice() {
    for (const char* candidate : {"/usr/bin/soffice", "/usr/lib/libreoffice/program/soffice"}) {
        if (fs::exists(candidate)) return candidate;
    }
    return {};
}

std::string Column(int index) {
    std::string name;
    for (++index; index > 0; index = (index - 1) / 26)
        name.insert(name.begin(), static_cast<char>('A' + (index - 1) % 26));
    return name;
}

Seen OpenInLibreOffice(const std::string& workbook, const TempDir& dir) {
    const auto out = dir.path() / "lo-out";
    const std::string failure = orv::testing::SofficeConvert({workbook}, "fods", out, Soffice());
    EXPECT_EQ(failure, "");
    const auto fods = out / (fs::path(workbook).stem().string() + ".fods");
    Seen seen;
    pugi::xml_document doc;
    if (!doc.load_file(fods.c_str())) {
        ADD_FAILURE() << "LibreOffice did not open " << workbook;
        return seen;
    }
    for (auto table : doc.select_nodes("//table:table")) {
        const std::string name = table.node().attribute("table:name").value();
        seen.sheets.push_back(name);
        int row = 0;
        for (auto r : table.node().select_nodes(".//table:table-row")) {
            const int rowRepeat = std::max(1, r.node().attribute("table:number-rows-repeated").as_int());
            int col = 0;
            for (auto c = r.node().first_child(); c; c = c.next_sibling()) {
                const int repeat = std::max(1, c.attribute("table:number-columns-repeated").as_int());
                if (std::string_view(c.name()) == "table:table-cell" &&
                    (c.attribute("table:formula") || c.attribute("office:value-type"))) {
                    std::string value = c.attribute("office:value").value();
                    if (value.empty()) value = c.attribute("office:boolean-value").value();
                    if (value.empty()) value = c.attribute("office:date-value").value();
                    if (value.empty()) {
                        for (auto p : c.children("text:p")) value += p.text().get();
                    }
                    seen.cells[name][Column(col) + std::to_string(row + 1)] = {
                        c.attribute("table:formula").value(), value};
                }
                col += repeat;
            }
            row += rowRepeat;
        }
    }
    return seen;
}

// The sheets of the workbook, without the table LibreOffice adds for a pivot cache's source.
std::vector<std::string> SheetsShown(const Seen& seen) {
    auto sheets = seen.sheets;
    std::erase(sheets, "local-table");
    return sheets;
}

class LibreOfficeCheck : public ::testing::Test {
  protected:
    void SetUp() override {
        if (Soffice().empty()) GTEST_SKIP() << "LibreOffice is not installed";
        path = dir.File("rich.xlsx");
        WritePackage(path, RichWorkbookParts());
    }
    TempDir dir;
    std::string path;
};

TEST_F(LibreOfficeCheck, RenamedSheetKeepsValuesAndFormulasFollow) {
    auto doc = WorkbookDocument::Open(path);
    doc->Rename(1, "Q1 Data");
    doc->Save();
    const auto seen = OpenInLibreOffice(path, dir);
    EXPECT_EQ(SheetsShown(seen), (std::vector<std::string>{"Data", "Q1 Data", "Last"}));
    ASSERT_TRUE(seen.cells.count("Q1 Data"));
    EXPECT_EQ(seen.cells.at("Q1 Data").at("A2").value, "20");
    const auto& data = seen.cells.at("Data");
    EXPECT_EQ(data.at("B1").formula, "of:=[$'Q1 Data'.A1]*2");
    EXPECT_EQ(data.at("B1").value, "20");
    EXPECT_EQ(data.at("C2").formula, "of:=[$'Q1 Data'.A2]+1");
    EXPECT_EQ(data.at("B2").formula, "of:=SUM([$'Q1 Data'.A1:.A3])");
    EXPECT_EQ(data.at("B2").value, "60");
}

TEST_F(LibreOfficeCheck, DeletedSheetGoesAnd3DRangesShrink) {
    auto doc = WorkbookDocument::Open(path);
    doc->Delete(1);
    doc->Save();
    const auto seen = OpenInLibreOffice(path, dir);
    EXPECT_EQ(SheetsShown(seen), (std::vector<std::string>{"Data", "Last"}));
    ASSERT_TRUE(seen.cells.count("Last"));
    EXPECT_EQ(seen.cells.at("Last").at("A1").formula, "of:=SUM([$Data.A1])");
    EXPECT_EQ(seen.cells.at("Last").at("A2").formula, "of:=SUM([$Last.B1])");
    EXPECT_EQ(seen.cells.at("Last").at("B1").value, "5");
    EXPECT_EQ(seen.cells.at("Data").at("A3").value, "3");
}

TEST_F(LibreOfficeCheck, ReorderedSheetsOpenInTheNewOrder) {
    auto doc = WorkbookDocument::Open(path);
    doc->Move(2, 0);
    doc->Save();
    const auto seen = OpenInLibreOffice(path, dir);
    EXPECT_EQ(SheetsShown(seen), (std::vector<std::string>{"Last", "Data", "Other"}));
    EXPECT_EQ(seen.cells.at("Last").at("A1").formula, "of:=SUM([$Data.A1:$Other.A1])");
}

}  // namespace
}  // namespace orv::engine::test

namespace orv::engine::test {
namespace {

// Real workbooks: after a rename LibreOffice shows every sheet with the same values as before, the renamed
// one under its new name.
class LibreOfficeCorpus : public ::testing::TestWithParam<std::string> {};

TEST_P(LibreOfficeCorpus, RenameChangesNothingButTheName) {
    if (Soffice().empty()) GTEST_SKIP() << "LibreOffice is not installed";
    TempDir dir;
    const auto path = CopyTo(Fixture(GetParam()), dir, "book" + fs::path(GetParam()).extension().string());
    TempDir beforeDir;
    const auto before = OpenInLibreOffice(path, beforeDir);
    auto doc = WorkbookDocument::Open(path);
    const std::string oldName = doc->sheets()[0].name;
    doc->Rename(0, "Ren'd one");
    doc->Save();
    const auto after = OpenInLibreOffice(path, dir);
    ASSERT_EQ(before.sheets.size(), after.sheets.size());
    for (std::size_t i = 0; i < before.sheets.size(); ++i) {
        const auto& name = before.sheets[i];
        const auto& now = name == oldName ? std::string("Ren'd one") : name;
        EXPECT_EQ(after.sheets[i], now);
        if (!before.cells.count(name)) continue;
        const auto& was = before.cells.at(name);
        const auto& is = after.cells.at(now);
        ASSERT_EQ(was.size(), is.size()) << name;
        for (const auto& [cell, content] : was) {
            EXPECT_EQ(is.at(cell).value, content.value) << name << "!" << cell;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, LibreOfficeCorpus,
                         ::testing::Values("3d-references.xlsx", "defined-names-local-global.xlsx",
                                           "names-apostrophes-charts.xlsx", "hebrew-names-rtl.xlsx",
                                           "x14-conditional-formats.xlsx", "dv-list-other-sheet.xlsx",
                                           "sheet-types-macro-dialog-chart.xlsm", "template.xltx"),
                         [](const auto& info) {
                             std::string name = info.param;
                             for (auto& c : name) {
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             }
                             return name;
                         });

}  // namespace
}  // namespace orv::engine::test

namespace orv::engine::test {
namespace {

TEST_F(LibreOfficeCheck, CopiedSheetReadsOtherSourceSheetsThroughTheExternalLink) {
    const auto target = CopyTo(Fixture("3d-references.xlsx"), dir, "target.xlsx");
    auto src = WorkbookDocument::Open(path);
    auto dst = WorkbookDocument::Open(target);
    CopySheet(*src, 0, *dst, 0);
    dst->Save();
    const auto seen = OpenInLibreOffice(target, dir);
    ASSERT_TRUE(seen.cells.count("Data"));
    const auto& data = seen.cells.at("Data");
    for (const auto& [cell, value] : std::map<std::string, std::string>{{"A1", "1"},
                                                                        {"B1", "20"},
                                                                        {"C1", "11"},
                                                                        {"C2", "21"},
                                                                        {"C3", "31"},
                                                                        {"B2", "60"},
                                                                        {"D2", "120"}}) {
        ASSERT_TRUE(data.count(cell)) << cell;
        EXPECT_EQ(data.at(cell).value, value) << cell << " " << data.at(cell).formula;
    }
    EXPECT_NE(data.at("B1").formula.find("rich.xlsx'#$Other.A1"), std::string::npos) << data.at("B1").formula;
    EXPECT_NE(data.at("C2").formula.find("rich.xlsx'#$Other.A2"), std::string::npos) << data.at("C2").formula;
}

// Two sheets copied together into a workbook that has both names: each reads the other's copy, with the values
// it showed in its own workbook.
TEST_F(LibreOfficeCheck, SheetsCopiedTogetherReadEachOthersCopies) {
    const auto target = dir.File("target.xlsx");
    WritePackage(target, RichWorkbookParts());
    auto src = WorkbookDocument::Open(path);
    auto dst = WorkbookDocument::Open(target);
    CopySheets(*src, {0, 1}, *dst, 2);
    dst->Save();
    const auto seen = OpenInLibreOffice(target, dir);
    EXPECT_EQ(SheetsShown(seen),
              (std::vector<std::string>{"Data", "Other", "Last", "Data (2)", "Other (2)"}));
    ASSERT_TRUE(seen.cells.count("Data (2)"));
    const auto& data = seen.cells.at("Data (2)");
    for (const auto& [cell, value] : std::map<std::string, std::string>{
             {"B1", "20"}, {"C1", "11"}, {"C3", "31"}, {"B2", "60"}, {"D2", "120"}, {"D3", "11"}}) {
        ASSERT_TRUE(data.count(cell)) << cell;
        EXPECT_EQ(data.at(cell).value, value) << cell << " " << data.at(cell).formula;
    }
    EXPECT_EQ(data.at("B1").formula, "of:=[$'Other (2)'.A1]*2");
    EXPECT_EQ(data.at("B2").formula, "of:=SUM([$'Other (2)'.A1:.A3])");
}

// A sheet copied into another workbook shows in LibreOffice the values it showed in its own workbook. The
// workbooks of other producers' kind (a strict one, one with links to other workbooks) are named by path; the
// target is a rich transitional workbook unless one is named.
// "(new)" for a target the copy creates; `valuesOnly` copies the cells' values without their formulas.
struct CopyCase {
    const char* fixture;
    int sheetIndex;
    const char* target = nullptr;
    bool valuesOnly = false;
};

std::string AnyFixture(const std::string& name) {
    return name.starts_with("regress-") ? std::string(ORVANDEL_PRODUCER_FIXTURES) + "/" + name : Fixture(name);
}

class LibreOfficeCopy : public ::testing::TestWithParam<CopyCase> {};

TEST_P(LibreOfficeCopy, TheCopyShowsTheSourceValues) {
    if (Soffice().empty()) GTEST_SKIP() << "LibreOffice is not installed";
    const auto [fixture, sheetIndex, targetFixture, valuesOnly] = GetParam();
    TempDir dir;
    const auto source =
        CopyTo(AnyFixture(fixture), dir, std::string("source") + fs::path(fixture).extension().string());
    const auto target = dir.File("target.xlsx");
    const bool created = targetFixture && std::string_view(targetFixture) == "(new)";
    if (targetFixture && !created)
        CopyTo(AnyFixture(targetFixture), dir, "target.xlsx");
    else if (!created)
        WritePackage(target, RichWorkbookParts());
    auto src = WorkbookDocument::Open(source);
    auto dst = created ? WorkbookDocument::Create(target) : WorkbookDocument::Open(target);
    const std::string name = src->sheets()[static_cast<std::size_t>(sheetIndex)].name;
    if (created) dst->Rename(0, "Empty");  // out of the copy's way, as the transfers do
    SheetCopyOptions options;
    options.valuesOnly = valuesOnly;
    const auto copied = CopySheets(*src, {sheetIndex}, *dst, 0, {}, options).front();
    if (created) dst->Delete(0);  // the new workbook's own empty sheet
    dst->Save();
    if (created) {
        EXPECT_EQ(dst->SheetNames(), std::vector<std::string>{name});
    }
    TempDir sourceView;
    const auto before = OpenInLibreOffice(source, sourceView);
    const auto after = OpenInLibreOffice(target, dir);
    ASSERT_TRUE(after.cells.count(copied.name)) << copied.name;
    const auto& was = before.cells.at(name);
    const auto& is = after.cells.at(copied.name);
    EXPECT_EQ(was.size(), is.size());
    for (const auto& [cell, content] : was) {
        ASSERT_TRUE(is.count(cell)) << cell;
        // LibreOffice cannot compute an external reference inside a shared formula of the source (Err:540);
        // the copy writes such formulas plainly, and LibreOffice computes them.
        if (content.value.starts_with("Err:") && !is.at(cell).value.starts_with("Err:")) continue;
        EXPECT_EQ(is.at(cell).value, content.value) << cell << " " << is.at(cell).formula;
    }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, LibreOfficeCopy,
                         ::testing::Values(CopyCase{"defined-names-local-global.xlsx", 0},
                                           CopyCase{"3d-references.xlsx", 1},
                                           CopyCase{"hebrew-names-rtl.xlsx", 0},
                                           CopyCase{"x14-conditional-formats.xlsx", 9},
                                           CopyCase{"dv-list-other-sheet.xlsx", 0},
                                           CopyCase{"regress-external-links.xlsx", 1},
                                           CopyCase{"regress-external-links.xlsx", 1, "regress-strict-class.xlsx"},
                                           CopyCase{"regress-strict-class.xlsx", 1},
                                           CopyCase{"3d-references.xlsx", 1, "regress-strict-class.xlsx"},
                                           CopyCase{"defined-names-local-global.xlsx", 0, "(new)"},
                                           CopyCase{"3d-references.xlsx", 1, "(new)"},
                                           CopyCase{"x14-conditional-formats.xlsx", 9, "(new)"},
                                           CopyCase{"regress-strict-class.xlsx", 1, "(new)"},
                                           CopyCase{"regress-external-links.xlsx", 0, "(new)"},
                                           CopyCase{"3d-references.xlsx", 1, nullptr, true},
                                           CopyCase{"defined-names-local-global.xlsx", 0, "(new)", true}));

// The oracle itself, with a stand-in for soffice: a start that fails once (as under load) is tried again; a
// file it never reads is reported with what soffice printed.
TEST(SofficeOracle, RetriesAFailedStartAndDescribesARealFailure) {
    TempDir dir;
    const auto fake = dir.path() / "soffice";
    std::ofstream(fake) << "#!/bin/sh\n"
                           "count=$(cat \"$0.calls\" 2>/dev/null || echo 0); echo $((count + 1)) > \"$0.calls\"\n"
                           "for last; do :; done\n"
                           "case \"$last\" in *broken*) echo 'Error: source file could not be loaded'; exit 0;; esac\n"
                           "[ \"$count\" -eq 0 ] && exit 1\n"
                           "out=$(dirname \"$last\")/out; mkdir -p \"$out\"; : > \"$out/$(basename \"${last%.*}\").fods\"\n";
    fs::permissions(fake, fs::perms(0755));
    const auto good = dir.path() / "good.xlsx";
    std::ofstream(good) << "x";
    EXPECT_EQ(orv::testing::SofficeConvert({good}, "fods", dir.path() / "out", fake.string()), "");
    std::ifstream calls(fake.string() + ".calls");
    std::string count;
    std::getline(calls, count);
    EXPECT_EQ(count, "2");
    const auto broken = dir.path() / "broken.xlsx";
    std::ofstream(broken) << "x";
    const std::string failure = orv::testing::SofficeConvert({broken}, "fods", dir.path() / "out", fake.string());
    EXPECT_NE(failure.find("after 3 attempts"), std::string::npos) << failure;
    EXPECT_NE(failure.find("source file could not be loaded"), std::string::npos) << failure;
}

}  // namespace
}  // namespace orv::engine::test
