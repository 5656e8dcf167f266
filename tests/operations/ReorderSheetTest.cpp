// "Move Up" and "Move Down" of both panels.
#include <gtest/gtest.h>

#include <QTest>

#include "OperationsFixture.h"
#include "operations/ReorderSheet.h"

namespace orv::testing {
namespace {

using Strings = std::vector<std::string>;

Strings FirstFive(const Strings& all) { return Strings(all.begin(), all.begin() + 5); }

class ReorderSheetTest : public OperationsFixture {};

TEST_F(ReorderSheetTest, MoveUpSwapsWithThePreviousSheetAndKeepsItSelectedAndFocused) {
    LoadReal("ooxml/firstsheet-activetab-20-sheets.xlsx");
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    form->panel1()->list().select(3);
    form->PushButton11_Click();
    EXPECT_EQ(FirstFive(SheetsOnDisk(path1)), (Strings{"Sheet1", "Sheet3", "Sheet2", "Sheet4", "Sheet5"}));
    EXPECT_EQ(list1().mid(0, 5), (QStringList{"Sheet1", "Sheet3", "Sheet2", "Sheet4", "Sheet5"}));
    EXPECT_EQ(list1().size(), 20);
    EXPECT_EQ(Selected(1), 2);
    EXPECT_TRUE(form->panel1()->sheetList()->hasFocus());
    form->PushButton11_Click();  // the moved sheet stays selected and moves on
    EXPECT_EQ(FirstFive(SheetsOnDisk(path1)), (Strings{"Sheet3", "Sheet1", "Sheet2", "Sheet4", "Sheet5"}));
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(ReorderSheetTest, MoveDownSwapsWithTheNextSheet) {
    LoadReal("samples/sample1.xlsx", "samples/sample2.xlsx");
    form->panel2()->list().select(3);
    form->PushButton13_Click();
    EXPECT_EQ(SheetsOnDisk(path2), (Strings{"Mar", "Apr", "Archive", "Totals"}));
    EXPECT_EQ(list2(), (QStringList{"Mar", "Apr", "Archive", "Totals"}));
    EXPECT_EQ(Selected(2), 4);
    form->panel1()->list().select(1);
    form->PushButton14_Click();
    EXPECT_EQ(SheetsOnDisk(path1), (Strings{"Feb", "Jan", "Rates", "Summary"}));
    EXPECT_EQ(Selected(1), 2);
}

TEST_F(ReorderSheetTest, AtTheEndsTheOrderStaysButTheFileIsStillWritten) {
    LoadMemory({{"A"}, {"B"}, {"C"}});
    form->PushButton11_Click();  // first item up
    form->panel1()->list().select(3);
    form->PushButton14_Click();  // last item down
    EXPECT_EQ(Stored(1), (Strings{"A", "B", "C"}));
    EXPECT_EQ(list1(), (QStringList{"A", "B", "C"}));
    EXPECT_EQ(std::count(store->calls.begin(), store->calls.end(), "Save:" + path1), 2);
}

TEST_F(ReorderSheetTest, ChartSheetsBetweenWorksheetsAreSteppedOver) {
    LoadReal("ooxml/chartsheets-interleaved.xlsx");
    form->panel1()->list().select(2);  // Sheet2, after Chart1
    form->PushButton11_Click();
    EXPECT_EQ(SheetsOnDisk(path1), (Strings{"Sheet2", "Sheet1", "Chart1", "Sheet3", "Chart2", "Sheet4"}));
    EXPECT_EQ(list1(), (QStringList{"Sheet2", "Sheet1", "Sheet3", "Sheet4"}));
}

class RecordingPointer : public operations::WindowPointer {
  public:
    int changes = 0;
    void setHourglass() override { ++changes; }
    void setDefault() override { ++changes; }
};

TEST_F(ReorderSheetTest, NeverAsksNeverShowsTheHourglassAndIgnoresABadPath) {
    LoadMemory({{"A"}, {"B"}});
    processes.userOfficeRunning = true;
    RecordingPointer pointer;
    auto registry = std::make_shared<automation::BackendRegistry>();
    registry->Add(MakeMemoryBackend(store));
    const operations::Environment env{dialogs, registry, processes, pointer};
    form->panel1()->list().select(2);
    operations::ReorderSheet(*form->panel1(), operations::Direction::Up, env, "PushButton11_Click");
    EXPECT_EQ(Stored(1), (Strings{"B", "A"}));
    EXPECT_EQ(pointer.changes, 0);
    EXPECT_TRUE(dialogs.shown.empty());

    form->panel2()->pathBox()->blockSignals(true);
    form->panel2()->pathBox()->setText("no such file.xlsx");
    form->PushButton12_Click();
    form->PushButton13_Click();
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(ReorderSheetTest, ARefusedMoveLeavesTheListAsTheWorkbookIs) {
    LoadMemory({{"A"}, {"B"}, {"C"}});
    store->failOn["Move"] = 0;
    form->panel1()->list().select(2);
    form->PushButton11_Click();
    EXPECT_EQ(dialogs.reportedSteps(), std::vector<int>{112});
    EXPECT_EQ(list1(), (QStringList{"A", "B", "C"}));
    EXPECT_EQ(store->calls, (Strings{"Open:" + path1, "Move:B", "Save:" + path1, "Close:" + path1, "Quit"}));
}

TEST_F(ReorderSheetTest, WithoutASelectionTheReadAndTheMoveAreReportedAndTheListStays) {
    LoadMemory({{"A"}, {"B"}, {"C"}});
    form->panel1()->sheetList()->clearSelection();
    form->PushButton14_Click();
    EXPECT_EQ(dialogs.reportedSteps(), (std::vector<int>{104, 112}));
    EXPECT_EQ(list1(), (QStringList{"A", "B", "C"}));
}

TEST_F(ReorderSheetTest, AFailedSaveLeavesTheListInTheFilesOrder) {
    LoadMemory({{"A"}, {"B"}, {"C"}});
    store->failOn["Save"] = 0;
    form->panel1()->list().select(2);
    form->PushButton11_Click();
    EXPECT_EQ(dialogs.reportedSteps(), std::vector<int>{114});
    EXPECT_EQ(list1(), (QStringList{"A", "B", "C"}));
    EXPECT_EQ(Stored(1), (Strings{"A", "B", "C"}));
}

}  // namespace
}  // namespace orv::testing
