// "Delete" of both panels, on real workbooks and with failures injected.
#include <gtest/gtest.h>

#include <QScrollBar>
#include <QTest>

#include "OperationsFixture.h"
#include "errors/Messages.h"

namespace orv::testing {
namespace {

using Strings = std::vector<std::string>;

class DeleteSheetTest : public OperationsFixture {};

TEST_F(DeleteSheetTest, DeletingTheMiddleItemSelectsTheOneBelow) {
    LoadReal("samples/sample1.xlsx");
    form->panel1()->list().select(2);
    form->PushButton7_Click();
    EXPECT_EQ(SheetsOnDisk(path1), (Strings{"Jan", "Rates", "Summary"}));
    EXPECT_EQ(list1(), (QStringList{"Jan", "Rates", "Summary"}));
    EXPECT_EQ(Selected(1), 2);
    EXPECT_TRUE(dialogs.shown.empty());
    EXPECT_EQ(form->pointer(), app::Form1::Pointer::Default);
}

TEST_F(DeleteSheetTest, DeletingTheLastItemSelectsTheFirst) {
    LoadReal("samples/sample1.xlsx", "samples/sample2.xlsx");
    form->panel2()->list().select(4);
    form->PushButton8_Click();
    EXPECT_EQ(SheetsOnDisk(path2), (Strings{"Mar", "Apr", "Totals"}));
    EXPECT_EQ(list2(), (QStringList{"Mar", "Apr", "Totals"}));
    EXPECT_EQ(Selected(2), 1);
}

TEST_F(DeleteSheetTest, AListPositionAddressesItsWorksheetPastChartSheets) {
    LoadReal("ooxml/chartsheets-interleaved.xlsx");
    form->panel1()->list().select(2);  // Sheet2, the third sheet of the workbook
    form->PushButton7_Click();
    EXPECT_EQ(SheetsOnDisk(path1), (Strings{"Sheet1", "Chart1", "Sheet3", "Chart2", "Sheet4"}));
    EXPECT_EQ(list1(), (QStringList{"Sheet1", "Sheet3", "Sheet4"}));
}

TEST_F(DeleteSheetTest, TheLastItemIsNeverDeleted) {
    LoadReal("ooxml/name31-cyrillic-libreoffice.xlsx");
    const std::string before = Bytes(path1);
    form->PushButton7_Click();
    ASSERT_EQ(dialogs.messages(), Strings{errors::msg::kCannotDeleteLast});
    EXPECT_EQ(dialogs.shown[0].title, errors::ApplicationTitle());
    EXPECT_EQ(dialogs.shown[0].icon, errors::Icon::None);
    EXPECT_EQ(Bytes(path1), before);
}

TEST_F(DeleteSheetTest, ABadPathIsReportedBeforeTheRunningApplicationQuestion) {
    Start();
    processes.userOfficeRunning = true;
    form->PushButton8_Click();
    EXPECT_EQ(dialogs.messages(), Strings{"Excel File #2 does not appear to be valid"});
    dialogs.shown.clear();
    form->panel1()->setPath(Workbook("samples/sample1.xlsx"));
    form->PushButton7_Click();  // declined
    EXPECT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(SheetsOnDisk(form->panel1()->path()).size(), 4u);
    EXPECT_EQ(list1().size(), 4);
}

TEST_F(DeleteSheetTest, ARefusedDeletionKeepsTheEntryAndStillSavesAndQuits) {
    LoadMemory({{"A"}, {"B"}, {"C"}});
    store->failOn["Delete"] = 0;
    form->panel1()->list().select(2);
    form->PushButton7_Click();
    EXPECT_EQ(dialogs.reportedSteps(), std::vector<int>{114});
    EXPECT_EQ(list1(), (QStringList{"A", "B", "C"}));
    EXPECT_EQ(Selected(1), 2);
    EXPECT_EQ(store->calls, (Strings{"Open:" + path1, "Delete:B", "Save:" + path1, "Quit"}));
    EXPECT_EQ(form->pointer(), app::Form1::Pointer::Default);
}

TEST_F(DeleteSheetTest, AWorkbookThatCannotBeOpenedIsReportedStepByStep) {
    LoadMemory({{"A"}, {"B"}});
    store->failOn["Open"] = 0;
    form->PushButton7_Click();
    EXPECT_EQ(dialogs.reportedSteps(), (std::vector<int>{108, 110, 112, 114, 124, 126}));
    EXPECT_EQ(list1(), (QStringList{"A", "B"}));
    EXPECT_EQ(store->sessionsStarted, store->sessionsEnded);
    EXPECT_EQ(form->pointer(), app::Form1::Pointer::Default);
}

TEST_F(DeleteSheetTest, AFailedSaveKeepsTheEntryTheFileStillHolds) {
    LoadMemory({{"A"}, {"B"}, {"C"}});
    store->failOn["Save"] = 0;
    form->panel1()->list().select(2);
    form->PushButton7_Click();
    EXPECT_EQ(dialogs.reportedSteps(), std::vector<int>{124});
    EXPECT_EQ(list1(), (QStringList{"A", "B", "C"}));
    EXPECT_EQ(Stored(1), (Strings{"A", "B", "C"}));
    EXPECT_EQ(store->sessionsStarted, store->sessionsEnded);
}

// Qt scrolls a list to its current item; the procedures' corrections leave it where the user scrolled it.
TEST_F(DeleteSheetTest, DeletingTheLastOfALongListLeavesItScrolledToTheEnd) {
    LoadLongListShown(60);
    auto* list = form->panel1()->sheetList();
    list->scrollToBottom();
    form->panel1()->list().select(60);
    ASSERT_GT(list->verticalScrollBar()->value(), 0);
    form->PushButton7_Click();
    ASSERT_EQ(list1().size(), 59);
    EXPECT_EQ(Selected(1), 1);
    EXPECT_EQ(list->verticalScrollBar()->value(), list->verticalScrollBar()->maximum());
}

}  // namespace
}  // namespace orv::testing
