// "Rename" of both panels.
#include <gtest/gtest.h>

#include <QScrollBar>
#include <QTest>

#include "OperationsFixture.h"
#include "errors/Messages.h"

namespace orv::testing {
namespace {

using Strings = std::vector<std::string>;

class RenameSheetTest : public OperationsFixture {};

TEST_F(RenameSheetTest, RenamesTheSelectedSheetInFileAndList) {
    LoadReal("samples/sample1.xlsx");
    form->panel1()->list().select(3);
    dialogs.inputAnswers = {"Tariffs"};
    form->PushButton9_Click();
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].kind, ShownBox::Kind::Input);
    EXPECT_EQ(dialogs.shown[0].text, "Rename to:");
    EXPECT_EQ(dialogs.shown[0].title, errors::ApplicationTitle());
    EXPECT_EQ(dialogs.shown[0].defaultText, "Rates");
    EXPECT_EQ(SheetsOnDisk(path1), (Strings{"Jan", "Feb", "Tariffs", "Summary"}));
    EXPECT_EQ(list1(), (QStringList{"Jan", "Feb", "Tariffs", "Summary"}));
    EXPECT_EQ(Selected(1), 3);
}

TEST_F(RenameSheetTest, CancelChangesNothingAndEndsTheInstanceUnsaved) {
    LoadMemory({{"A"}, {"B"}});
    form->panel1()->list().select(2);
    dialogs.inputAnswers = {""};
    form->PushButton9_Click();
    EXPECT_EQ(store->calls, (Strings{"Open:" + path1, "Quit"}));  // released unsaved
    EXPECT_EQ(store->sessionsStarted, 1);
    EXPECT_EQ(store->sessionsEnded, 1);
    EXPECT_EQ(list1(), (QStringList{"A", "B"}));
    EXPECT_EQ(Selected(1), 2);
    EXPECT_EQ(form->pointer(), app::Form1::Pointer::Default);
}

TEST_F(RenameSheetTest, ARefusedNameIsReportedAndTheListKeepsTheOldName) {
    LoadReal("samples/sample1.xlsx", "samples/sample2.xlsx");
    form->panel2()->list().select(2);
    dialogs.inputAnswers = {"Bad/Name"};
    form->PushButton10_Click();
    EXPECT_EQ(dialogs.reportedSteps(), std::vector<int>{118});
    EXPECT_NE(dialogs.messages().back().find("in Orvandel2021/08/31.Form1.PushButton10_Click at line 118"),
              std::string::npos);
    EXPECT_EQ(list2(), (QStringList{"Mar", "Apr", "Totals", "Archive"}));
    EXPECT_EQ(SheetsOnDisk(path2), (Strings{"Mar", "Apr", "Totals", "Archive"}));
}

TEST_F(RenameSheetTest, AnEmptyListEndsSilentlyButABadPathIsNamed) {
    Start();
    processes.userOfficeRunning = true;
    const auto empty = workFolder() / "empty.xlsx";
    std::ofstream(empty) << "x";
    form->panel1()->pathBox()->blockSignals(true);
    form->panel1()->pathBox()->setText(QString::fromStdString(empty.string()));
    form->panel1()->pathBox()->blockSignals(false);
    form->PushButton9_Click();
    EXPECT_TRUE(dialogs.shown.empty());
    form->PushButton10_Click();
    EXPECT_EQ(dialogs.messages(), Strings{"Excel File #2 does not appear to be valid"});
}

TEST_F(RenameSheetTest, AProtectedWorkbookRefusesTheSaveAndTheListKeepsWhatTheFileHolds) {
    LoadReal("ooxml/structure-protected.xlsx");
    const std::string before = Bytes(path1);
    form->panel1()->list().select(1);
    dialogs.inputAnswers = {"Renamed"};
    form->PushButton9_Click();
    EXPECT_EQ(dialogs.reportedSteps(), std::vector<int>{128});
    EXPECT_NE(dialogs.messages().back().find("structure is protected"), std::string::npos);
    EXPECT_EQ(list1(), QStringList{"Sheet1"});
    EXPECT_EQ(Bytes(path1), before);
}

TEST_F(RenameSheetTest, RenamingAnEntryScrolledOutOfViewLeavesTheListWhereItWas) {
    LoadLongListShown(60);
    auto* list = form->panel1()->sheetList();
    form->panel1()->list().select(1);
    list->scrollToBottom();
    const int scrolled = list->verticalScrollBar()->value();
    ASSERT_GT(scrolled, 0);
    dialogs.inputAnswers = {"First"};
    form->PushButton9_Click();
    EXPECT_EQ(list1().front(), "First");
    EXPECT_EQ(list->verticalScrollBar()->value(), scrolled);
    // Keys still move the view to the selection, as users expect.
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Down);
    EXPECT_EQ(Selected(1), 2);
    EXPECT_LT(list->verticalScrollBar()->value(), scrolled);
}

}  // namespace
}  // namespace orv::testing
