// Listing a workbook's worksheets when a path box changes.
#include <gtest/gtest.h>

#include <fstream>

#include "WindowFixture.h"

namespace orv::testing {
namespace {

class ListingTest : public WindowFixture {};

TEST_F(ListingTest, ListsWorksheetsInOrderHiddenIncludedWithTheFirstSelected) {
    Start();
    const std::string path = Workbook("samples/sample1.xlsx");
    form->panel1()->pathBox()->setText(QString::fromStdString(path));
    EXPECT_EQ(list1(), (QStringList{"Jan", "Feb", "Rates", "Summary"}));  // Rates is hidden
    EXPECT_EQ(form->panel1()->list().selectedPosition(), 1);
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(ListingTest, LeavesOutChartSheets) {
    Start();
    form->panel2()->setPath(Workbook("ooxml/chartsheets-interleaved.xlsx"));
    EXPECT_EQ(list2(), (QStringList{"Sheet1", "Sheet2", "Sheet3", "Sheet4"}));
}

TEST_F(ListingTest, APathNamingNoFileLeavesTheListAsItWas) {
    Start();
    const std::string path = Workbook("samples/sample1.xlsx");
    form->panel1()->setPath(path);
    form->panel1()->list().select(3);
    for (const std::string& other : {std::string(), path + ".missing", workFolder().string()}) {
        form->panel1()->setPath(other);
        EXPECT_EQ(list1().size(), 4);
        EXPECT_EQ(form->panel1()->list().selectedPosition(), 3);
    }
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(ListingTest, WritingTheSamePathAgainListsAgain) {
    Start();
    const std::string path = Workbook("samples/sample1.xlsx");
    form->panel1()->setPath(path);
    form->panel1()->list().select(2);
    Workbook("samples/sample2.xlsx", "sample1.xlsx");  // the file changed on disk
    form->panel1()->setPath(path);
    EXPECT_EQ(list1(), (QStringList{"Mar", "Apr", "Totals", "Archive"}));
    EXPECT_EQ(form->panel1()->list().selectedPosition(), 1);
}

TEST_F(ListingTest, AWorkbookThatCannotBeListedIsNamedAndLeavesTheListEmpty) {
    Start();
    form->panel1()->setPath(Workbook("samples/sample1.xlsx"));
    const auto broken = workFolder() / "broken.xlsx";
    std::ofstream(broken) << "this is not a workbook";
    form->panel1()->setPath(broken.string());
    EXPECT_TRUE(list1().isEmpty());
    ASSERT_EQ(dialogs.messages().size(), 1u);
    EXPECT_EQ(dialogs.messages()[0].rfind(
                  "The worksheets of Excel File #1 (\"broken.xlsx\") could not be listed.", 0),
              0u);
    EXPECT_EQ(dialogs.shown[0].icon, errors::Icon::None);
}

TEST_F(ListingTest, AFailedListingLeavesNoInstanceRunning) {
    auto store = std::make_shared<MemoryStore>();
    const std::string path = Workbook("samples/sample1.xlsx");
    store->files[path] = {{"A"}, {"B"}};
    store->failOn["Quit"] = 0;
    auto registry = std::make_shared<automation::BackendRegistry>();
    registry->Add(MakeMemoryBackend(store));
    Start(registry);
    form->panel1()->setPath(path);
    EXPECT_TRUE(list1().isEmpty());
    EXPECT_EQ(dialogs.messages().size(), 1u);
    EXPECT_EQ(store->sessionsStarted, 1);
}

}  // namespace
}  // namespace orv::testing
