// Several sheets selected together: Copy, Move and Delete act on all of them, with one save per workbook, one
// prompt per clashing name and one "Done."; Cancel on any prompt writes nothing.
#include <gtest/gtest.h>

#include <QTest>

#include "OperationsFixture.h"
#include "engine/workbook/Workbook.h"
#include "errors/Messages.h"

namespace orv::testing {
namespace {

using Strings = std::vector<std::string>;

class SheetGroupsTest : public OperationsFixture {
  protected:
    // Selects the entries at `positions` of a panel's list, as Ctrl-clicks leave them.
    void SelectSeveral(int panel, const std::vector<int>& positions) {
        auto* list = (panel == 1 ? form->panel1() : form->panel2())->sheetList();
        list->clearSelection();
        for (const int p : positions) list->topLevelItem(p - 1)->setSelected(true);
        list->setCurrentItem(list->topLevelItem(positions.back() - 1), 0, QItemSelectionModel::NoUpdate);
    }
};

// The window as a user works it: a click and a Ctrl-click on the list, then the button.
TEST_F(SheetGroupsTest, CtrlClickedSheetsArriveInOrderAfterTheTargetSelection) {
    LoadReal("samples/sample1.xlsx", "samples/sample2.xlsx");
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    form->panel2()->list().select(1);
    auto* list = form->panel1()->sheetList();
    auto click = [&](int position, Qt::KeyboardModifiers modifiers) {
        const QRect rect = list->visualItemRect(list->topLevelItem(position - 1));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, modifiers, rect.center());
    };
    click(4, Qt::NoModifier);
    click(1, Qt::ControlModifier);
    ASSERT_EQ(form->panel1()->list().selectedPositions(), (std::vector<int>{1, 4}));
    QTest::mouseClick(form->button(1), Qt::LeftButton);
    EXPECT_EQ(dialogs.messages(), Strings{errors::msg::kDone});
    EXPECT_EQ(list2(), (QStringList{"Mar", "Jan", "Summary", "Apr", "Totals", "Archive"}));
    EXPECT_EQ(SheetsOnDisk(path2), (Strings{"Mar", "Jan", "Summary", "Apr", "Totals", "Archive"}));
    EXPECT_EQ(SheetsOnDisk(path1), (Strings{"Jan", "Feb", "Rates", "Summary"}));

    // A plain click selects one sheet again, and the buttons act on it alone, as without groups.
    click(2, Qt::NoModifier);
    EXPECT_EQ(form->panel1()->list().selectedPositions(), (std::vector<int>{2}));
}

// Each clashing name is asked for in turn; Cancel on a later prompt leaves both files as they were.
TEST_F(SheetGroupsTest, ClashingNamesAreAskedInTurnAndCancelWritesNothing) {
    LoadReal("samples/sample1.xlsx", "samples/sample1.xlsx");
    const std::string before1 = Bytes(path1), before2 = Bytes(path2);
    form->panel2()->list().select(4);
    SelectSeveral(1, {1, 2});
    dialogs.inputAnswers = {"Jan 2", ""};
    form->PushButton2_Click();
    ASSERT_EQ(dialogs.shown.size(), 2u);
    EXPECT_EQ(dialogs.shown[0].text, errors::msg::kSheetExists);
    EXPECT_EQ(dialogs.shown[0].defaultText, "Jan");
    EXPECT_EQ(dialogs.shown[1].defaultText, "Feb");
    EXPECT_EQ(Bytes(path1), before1);
    EXPECT_EQ(Bytes(path2), before2);
    EXPECT_EQ(list1(), (QStringList{"Jan", "Feb", "Rates", "Summary"}));

    // A name the user gives that the group itself takes is asked for again.
    dialogs.shown.clear();
    dialogs.inputAnswers = {"Feb 2", "Feb 2", "Feb 3"};
    form->PushButton2_Click();
    EXPECT_EQ(dialogs.shown.size(), 3u);
    EXPECT_EQ(SheetsOnDisk(path2), (Strings{"Jan", "Feb", "Rates", "Summary", "Feb 2", "Feb 3"}));
    EXPECT_EQ(list2(), (QStringList{"Jan", "Feb", "Rates", "Summary", "Feb 2", "Feb 3"}));
    EXPECT_EQ(SheetsOnDisk(path1), (Strings{"Rates", "Summary"}));
    EXPECT_EQ(list1(), (QStringList{"Rates", "Summary"}));
    EXPECT_EQ(Selected(1), 1);
}

// The names the user gives on arrival are the copies' names in their references to each other too: a 3D range
// over the three sheets reads the three copies.
TEST_F(SheetGroupsTest, ReferencesAmongTheCopiesFollowTheNamesGivenOnArrival) {
    LoadReal("ooxml/3d-references.xlsx", "ooxml/3d-references.xlsx");
    form->panel2()->list().select(3);
    SelectSeveral(1, {1, 2, 3});
    dialogs.inputAnswers = {"Jan", "Feb", "Mar"};
    form->PushButton1_Click();
    EXPECT_EQ(dialogs.messages(), Strings{errors::msg::kDone});
    EXPECT_EQ(SheetsOnDisk(path2), (Strings{"Sheet1", "Sheet2", "Sheet3", "Jan", "Feb", "Mar"}));
    auto target = engine::WorkbookDocument::Open(path2);
    const std::string jan = target->package().Read(target->sheets()[3].part);
    EXPECT_NE(jan.find("<f>SUM(Jan:Mar!A1)</f>"), std::string::npos) << jan;
    for (const auto& part : target->package().PartNames())
        EXPECT_EQ(part.find("externalLink"), std::string::npos) << part;
}

TEST_F(SheetGroupsTest, DeleteAsksOnceAndKeepsAtLeastOneSheet) {
    LoadReal("samples/sample2.xlsx");
    const std::string before = Bytes(path1);
    SelectSeveral(1, {1, 2, 3, 4});
    form->PushButton7_Click();
    EXPECT_EQ(dialogs.messages(), Strings{errors::msg::kCannotDeleteLast});
    dialogs.shown.clear();
    SelectSeveral(1, {2, 4});
    dialogs.yesNoAnswers = {errors::Answer::No};
    form->PushButton7_Click();
    EXPECT_EQ(dialogs.messages(), Strings{"Delete the 2 selected sheets?"});
    EXPECT_EQ(Bytes(path1), before);
    dialogs.yesNoAnswers = {errors::Answer::Yes};
    form->PushButton7_Click();
    EXPECT_EQ(SheetsOnDisk(path1), (Strings{"Mar", "Totals"}));
    EXPECT_EQ(list1(), (QStringList{"Mar", "Totals"}));
    EXPECT_EQ(Selected(1), 2);
}

// A failure at any object-model call of a group move loses no sheet, and both lists mirror their files.
TEST_F(SheetGroupsTest, AFailureAtAnyCallOfAGroupMoveLosesNothing) {
    int injected = 0;
    for (const bool toPanel2 : {true, false}) {
        auto run = [&](const std::map<std::string, int>& failOn) {
            dialogs.shown.clear();
            const std::vector<MemorySheet> source{{"Alpha"}, {"Data"}, {"Calc"}};
            const std::vector<MemorySheet> target{{"Beta"}, {"Gamma"}};
            toPanel2 ? LoadMemory(source, target) : LoadMemory(target, source);
            store->ResetCalls();
            store->failOn = failOn;
            SelectSeveral(toPanel2 ? 1 : 2, {2, 3});
            toPanel2 ? form->PushButton2_Click() : form->PushButton4_Click();
        };
        run({});
        ASSERT_TRUE(dialogs.reportedSteps().empty()) << "the clean move failed";
        const Strings clean = store->calls;
        std::map<std::string, int> seen;
        for (const auto& call : clean) {
            const std::string operation = call.substr(0, call.find(':'));
            const int occurrence = ++seen[operation];
            SCOPED_TRACE(call + " #" + std::to_string(occurrence) + (toPanel2 ? " to #2" : " to #1"));
            run({{operation, occurrence}});
            ++injected;
            for (const std::string sheet : {"Data", "Calc"}) {
                const Strings a = Stored(1), b = Stored(2);
                EXPECT_TRUE(std::count(a.begin(), a.end(), sheet) + std::count(b.begin(), b.end(), sheet) >= 1)
                    << sheet << " was lost";
            }
            auto asList = [](const Strings& names) {
                QStringList list;
                for (const auto& n : names) list << QString::fromStdString(n);
                return list;
            };
            EXPECT_EQ(list1(), asList(Stored(1)));
            EXPECT_EQ(list2(), asList(Stored(2)));
            EXPECT_FALSE(dialogs.reportedSteps().empty()) << "the failure was not reported";
            EXPECT_EQ(store->sessionsStarted, store->sessionsEnded);
            EXPECT_EQ(form->pointer(), app::Form1::Pointer::Default);
        }
    }
    EXPECT_GE(injected, 16);
}

// "Copy To #2 >" says it is done only after a run that reported no failure, even one after the save.
TEST_F(SheetGroupsTest, AGroupCopyThatReportedAFailureDoesNotSayDone) {
    for (const char* failing : {"Quit", "Save"}) {
        SCOPED_TRACE(failing);
        dialogs.shown.clear();
        LoadMemory({{"Alpha"}, {"Data"}}, {{"Beta"}});
        store->failOn = {{failing, 0}};
        SelectSeveral(1, {1, 2});
        form->PushButton1_Click();
        EXPECT_EQ(dialogs.reportedSteps().size(), 1u);
        const auto messages = dialogs.messages();
        EXPECT_EQ(std::count(messages.begin(), messages.end(), errors::msg::kDone), 0);
    }
}

}  // namespace
}  // namespace orv::testing
