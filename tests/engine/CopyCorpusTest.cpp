// Every worksheet of every real workbook in the fixtures, copied into two other workbooks: the target passes
// the structural checker, breaks nothing a strict reader had accepted in it or in the source, its other parts
// stay byte-identical, and a second copy adds no cell formats.
#include <gtest/gtest.h>

#include <set>

#include "StrictCheck.h"
#include "TestSupport.h"
#include "engine/EngineError.h"
#include "engine/transfer/SheetCopy.h"
#include "engine/workbook/Workbook.h"

namespace orv::engine::test {
namespace {

class CopyCorpus : public ::testing::TestWithParam<std::string> {};

// Parts of the target a copy may change; everything else must keep its stored bytes.
bool MayChange(const std::string& part) {
    return part == "[Content_Types].xml" || part == "docProps/app.xml" || part == "xl/workbook.xml" ||
           part == "xl/_rels/workbook.xml.rels" || part == "xl/styles.xml" || part == "xl/sharedStrings.xml";
}

std::size_t CellFormatCount(const std::string& path) {
    const auto styles = PartText(path, "xl/styles.xml");
    std::size_t count = 0;
    const auto start = styles.find("<cellXfs");
    for (auto at = styles.find("<xf ", start); at != std::string::npos && at < styles.find("</cellXfs>");
         at = styles.find("<xf ", at + 1))
        ++count;
    return count;
}

TEST_P(CopyCorpus, EveryWorksheetCopiesIntoTwoWorkbooks) {
    TempDir dir;
    const auto source = Fixture(GetParam());
    auto probe = WorkbookDocument::Open(source);
    const auto sheets = probe->sheets();
    const auto strictSource = StrictlyRead(source);
    const std::vector<std::pair<std::string, std::function<void(const std::string&)>>> targets = {
        {"rich.xlsx", [](const std::string& p) { WritePackage(p, RichWorkbookParts()); }},
        {"names.xlsx",
         [](const std::string& p) {
             std::filesystem::copy_file(Fixture("defined-names-local-global.xlsx"), p);
         }},
    };
    for (std::size_t i = 0; i < sheets.size(); ++i) {
        if ((sheets[i].kind != SheetKind::Worksheet && sheets[i].kind != SheetKind::Chartsheet) ||
            sheets[i].part.empty())
            continue;
        for (const auto& [name, make] : targets) {
            const auto path = dir.File(std::to_string(i) + "-" + name);
            make(path);
            std::filesystem::permissions(path, std::filesystem::perms::owner_write,
                                         std::filesystem::perm_options::add);
            const auto before = ReadStored(path);
            const std::vector<StrictView> strictBefore = {StrictlyRead(path), strictSource};
            auto src = WorkbookDocument::Open(probe->path());
            auto dst = WorkbookDocument::Open(path);
            try {
                CopySheet(*src, static_cast<int>(i), *dst, 0);
            } catch (const EngineError& e) {
                // Only what the engine says it cannot carry may be refused.
                EXPECT_NE(std::string(e.what()).find("cannot carry"), std::string::npos)
                    << sheets[i].name << ": " << e.what();
                EXPECT_FALSE(dst->changed());
                continue;
            }
            dst->Save();
            const std::string label = sheets[i].name + " into " + name;
            EXPECT_EQ(Problems(path), std::vector<std::string>{}) << label;
            EXPECT_EQ(StrictRegressions(strictBefore, path), std::vector<std::string>{}) << label;
            EXPECT_EQ(Orphans(path), std::vector<std::string>{}) << label;
            const auto after = ReadStored(path);
            for (const auto& [part, entry] : before.entries) {
                ASSERT_TRUE(after.entries.count(part)) << label << " lost " << part;
                if (!MayChange(part)) {
                    EXPECT_EQ(after.entries.at(part).compressed, entry.compressed) << label << ": " << part;
                }
            }
            // A second copy of the same sheet adds no cell formats.
            const auto formats = CellFormatCount(path);
            auto again = WorkbookDocument::Open(path);
            CopySheet(*src, static_cast<int>(i), *again, 0);
            again->Save();
            EXPECT_EQ(CellFormatCount(path), formats) << label;
            EXPECT_EQ(Problems(path), std::vector<std::string>{}) << label << " (second copy)";
            EXPECT_EQ(StrictRegressions(strictBefore, path), std::vector<std::string>{})
                << label << " (second copy)";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, CopyCorpus, ::testing::ValuesIn(OpenableFixtures()),
                         [](const auto& info) { return FixtureTestName(info.param); });

}  // namespace
}  // namespace orv::engine::test
