// "Copy To #2 >" and "< Copy To #1".
#include <gtest/gtest.h>

#include "OperationsFixture.h"
#include "errors/Messages.h"

namespace orv::testing {
namespace {

using Strings = std::vector<std::string>;

class CopySheetTest : public OperationsFixture {};

TEST_F(CopySheetTest, CopiesAfterTheSelectedTargetSheetSavesOnlyTheTargetAndSaysDone) {
    LoadMemory({{"Alpha"},
                {"Data", automation::SheetKind::Worksheet, automation::SheetVisibility::Visible, "cells"}},
               {{"One"}, {"Two"}, {"Three"}});
    form->panel1()->list().select(2);
    form->panel2()->list().select(2);
    form->PushButton1_Click();
    EXPECT_EQ(Stored(2), (Strings{"One", "Two", "Data", "Three"}));
    EXPECT_EQ(store->files[path2][2].content, "cells");
    EXPECT_EQ(Stored(1), (Strings{"Alpha", "Data"}));
    EXPECT_EQ(list2(), (QStringList{"One", "Two", "Data", "Three"}));
    EXPECT_EQ(Selected(2), 2);
    EXPECT_EQ(Selected(1), 2);
    EXPECT_EQ(store->calls,
              (Strings{"Open:" + path1, "Open:" + path2, "Copy:Data", "Save:" + path2, "Quit"}));
    ASSERT_EQ(dialogs.messages(), Strings{"Done."});
    EXPECT_EQ(dialogs.shown[0].title, errors::ApplicationTitle());
    EXPECT_EQ(form->pointer(), app::Form1::Pointer::Default);
}

TEST_F(CopySheetTest, CopiesBetweenRealWorkbooksLeavingTheSourceFileAsItWas) {
    LoadReal("samples/sample1.xlsx", "samples/sample2.xlsx");
    const std::string source = Bytes(path1);
    form->panel2()->list().select(2);
    form->PushButton1_Click();
    EXPECT_EQ(SheetsOnDisk(path2), (Strings{"Mar", "Apr", "Jan", "Totals", "Archive"}));
    EXPECT_EQ(list2(), (QStringList{"Mar", "Apr", "Jan", "Totals", "Archive"}));
    EXPECT_EQ(Bytes(path1), source);
    EXPECT_EQ(dialogs.messages(), Strings{"Done."});
}

TEST_F(CopySheetTest, CopiesFromALegacyWorkbookIntoAnOoxmlOne) {
    LoadReal("samples/sample1.xls", "samples/sample2.xlsx");
    form->panel1()->list().select(2);
    form->panel2()->list().select(1);
#ifdef _WIN32
    // Without the spreadsheet application the Windows build lists .xls workbooks but cannot copy their sheets:
    // refused, in words that name it, nothing written, and no "Done.".
    const std::string target = Bytes(path2);
    form->PushButton1_Click();
    ASSERT_EQ(dialogs.reportedSteps().size(), 1u);
    ASSERT_EQ(dialogs.messages().size(), 1u);
    EXPECT_NE(dialogs.messages()[0].find("through the spreadsheet application, which is not installed"),
              std::string::npos);
    EXPECT_EQ(Bytes(path2), target);
    EXPECT_EQ(list2(), (QStringList{"Mar", "Apr", "Totals", "Archive"}));
#else
    form->PushButton1_Click();
    EXPECT_EQ(dialogs.messages(), Strings{"Done."});
    EXPECT_EQ(SheetsOnDisk(path2), (Strings{"Mar", "Feb", "Apr", "Totals", "Archive"}));
    EXPECT_EQ(list2(), (QStringList{"Mar", "Feb", "Apr", "Totals", "Archive"}));
#endif
}

TEST_F(CopySheetTest, AListPositionCopiesTheWorksheetItStandsFor) {
    LoadReal("ooxml/chartsheets-interleaved.xlsx", "samples/sample2.xlsx");
    form->panel1()->list().select(3);  // Sheet3, the fourth sheet of the workbook
    form->panel2()->list().select(1);
    form->PushButton1_Click();
    EXPECT_EQ(SheetsOnDisk(path2), (Strings{"Mar", "Sheet3", "Apr", "Totals", "Archive"}));
}

TEST_F(CopySheetTest, CopyToPanel1EndsWithoutAMessage) {
    LoadMemory({{"A"}}, {{"B"}, {"C"}});
    form->panel2()->list().select(2);
    form->PushButton5_Click();
    EXPECT_EQ(Stored(1), (Strings{"A", "C"}));
    EXPECT_EQ(list1(), (QStringList{"A", "C"}));
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(CopySheetTest, ATakenNameIsAskedForAgainUntilItIsFree) {
    LoadMemory({{"Data"}}, {{"Data"}, {"Data2"}});
    dialogs.inputAnswers = {"Data", "Data2", "Data3"};
    form->PushButton1_Click();
    ASSERT_EQ(dialogs.shown.size(), 4u);  // three prompts, then "Done."
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(dialogs.shown[i].text, "Sheet already exists. Please rename:");
        EXPECT_EQ(dialogs.shown[i].title, "");
    }
    EXPECT_EQ(dialogs.shown[0].defaultText, "Data");
    EXPECT_EQ(dialogs.shown[2].defaultText, "Data2");
    EXPECT_EQ(Stored(2), (Strings{"Data", "Data3", "Data2"}));
    EXPECT_EQ(Stored(1), Strings{"Data"});  // renamed back, and never saved anyway
    EXPECT_EQ(list2(), (QStringList{"Data", "Data3", "Data2"}));
}

TEST_F(CopySheetTest, TheListTestIsCaseSensitiveAndTheEntryShowsTheNameTheCopyGot) {
    LoadMemory({{"Data"}}, {{"data"}});
    form->PushButton1_Click();
    EXPECT_EQ(dialogs.messages(), Strings{"Done."});  // no prompt
    EXPECT_EQ(Stored(2), (Strings{"data", "Data (2)"}));
    EXPECT_EQ(list2(), (QStringList{"data", "Data (2)"}));
}

TEST_F(CopySheetTest, CancellingThePromptStartsNothing) {
    LoadMemory({{"Data"}}, {{"Data"}});
    dialogs.inputAnswers = {""};
    form->PushButton1_Click();
    EXPECT_EQ(store->sessionsStarted, 0);
    EXPECT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(form->pointer(), app::Form1::Pointer::Default);
}

TEST_F(CopySheetTest, EachHandlerTestsItsSourceFirst) {
    Start();
    form->PushButton1_Click();
    form->PushButton5_Click();
    EXPECT_EQ(dialogs.messages(),
              (Strings{"Excel File #1 does not appear to be valid", "Please select Excel File #2"}));
    dialogs.shown.clear();
    form->panel1()->setPath(Workbook("samples/sample1.xlsx"));
    form->PushButton1_Click();
    form->PushButton5_Click();
    EXPECT_EQ(dialogs.messages(), (Strings{"Please select Excel File #2", "Please select Excel File #2"}));
}

TEST_F(CopySheetTest, ARefusedTemporaryRenameCopiesNothing) {
    LoadMemory({{"Data"}, {"Other"}}, {{"Data"}});
    dialogs.inputAnswers = {"other"};  // free in the target list, taken in the source workbook
    form->PushButton1_Click();
    EXPECT_EQ(dialogs.reportedSteps(), std::vector<int>{128});
    EXPECT_EQ(Stored(2), Strings{"Data"});
    EXPECT_EQ(list2(), QStringList{"Data"});
    // A run that reported a failure does not say it is done.
    ASSERT_EQ(dialogs.messages().size(), 1u);  // the report alone
    EXPECT_NE(dialogs.messages().back(), "Done.");
    EXPECT_EQ(store->sessionsStarted, store->sessionsEnded);
}

TEST_F(CopySheetTest, AFailedCopyAddsNoEntry) {
    LoadMemory({{"Data"}}, {{"One"}});
    store->failOn["Copy"] = 0;
    form->PushButton5_Click();
    EXPECT_EQ(dialogs.reportedSteps(), std::vector<int>{134});
    EXPECT_EQ(list1(), QStringList{"Data"});
    EXPECT_EQ(form->pointer(), app::Form1::Pointer::Default);
}

TEST_F(CopySheetTest, ACopyMadeWithAReportedProblemIsListed) {
    LoadMemory({{"Data"}}, {{"One"}, {"Two"}});
    store->copyNotice = "3 formulas were kept as values.";
    form->PushButton1_Click();
    EXPECT_EQ(dialogs.reportedSteps(), std::vector<int>{134});
    EXPECT_EQ(Stored(2), (Strings{"One", "Data", "Two"}));
    EXPECT_EQ(list2(), (QStringList{"One", "Data", "Two"}));
}

TEST_F(CopySheetTest, AnUnsavedTargetDropsTheNewEntryAgain) {
    LoadMemory({{"Data"}}, {{"One"}});
    store->failOn["Save"] = 0;
    form->PushButton1_Click();
    EXPECT_EQ(dialogs.reportedSteps(), std::vector<int>{144});
    EXPECT_EQ(list2(), QStringList{"One"});
    EXPECT_EQ(Stored(2), Strings{"One"});
}

TEST_F(CopySheetTest, NoSourceSelectionIsReportedAndStartsNothing) {
    LoadMemory({{"Data"}}, {{"One"}});
    form->panel1()->sheetList()->clearSelection();
    form->PushButton1_Click();
    EXPECT_EQ(dialogs.reportedSteps(), std::vector<int>{108});
    EXPECT_EQ(dialogs.messages().size(), 1u);
    EXPECT_EQ(store->sessionsStarted, 0);
    EXPECT_EQ(form->pointer(), app::Form1::Pointer::Default);
}

}  // namespace
}  // namespace orv::testing
