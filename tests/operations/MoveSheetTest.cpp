// "Move To #2 >" and "< Move To #1": the lists follow the files, and a sheet is never lost.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "OperationsFixture.h"
#include "automation/DefaultBackends.h"
#include "cli/SheetsTool.h"
#include "errors/Messages.h"

namespace orv::testing {
namespace {

using Strings = std::vector<std::string>;

class MoveSheetTest : public OperationsFixture {
  protected:
    QStringList AsList(const Strings& names) {
        QStringList list;
        for (const auto& n : names) list << QString::fromStdString(n);
        return list;
    }
};

// The window and orvandel-sheets refuse the same moves and deletions, before anything is written, in the same
// words.
TEST_F(MoveSheetTest, RefusesWhatTheCommandLineRefusesInTheSameWords) {
    LoadReal("ooxml/hidden-veryhidden-chartsheet.xlsx", "samples/sample2.xlsx");
    const auto tool = [](const Strings& args) {
        std::ostringstream out, err;
        cli::RunSheetsTool(args, out, err, automation::DefaultBackends());
        return err.str();
    };
    // Its chart sheet gone, "Visible" is the only sheet that keeps the workbook visible.
    ASSERT_EQ(tool({"delete", path1, "Chart"}), "");
    // (A move into the same file is no refusal on the command line, which reorders then.)
    struct Case {
        const char* name;
        void (app::Form1::*button)();
    };
    for (const Case c : {Case{"a move of the last visible sheet", &app::Form1::PushButton2_Click},
                         Case{"a deletion of the last visible sheet", &app::Form1::PushButton7_Click}}) {
        SCOPED_TRACE(c.name);
        const std::string target = path2;
        const bool deleting = c.button == &app::Form1::PushButton7_Click;
        form->panel1()->ListWorkbookSheets();
        form->panel2()->setPath(target);
        form->panel1()->list().select(1);
        form->panel2()->list().select(1);
        ASSERT_EQ(list1().front(), "Visible");
        const Strings before1 = SheetsOnDisk(path1), before2 = SheetsOnDisk(path2);
        dialogs.shown.clear();
        dialogs.inputAnswers = {"Elsewhere"};
        (form.get()->*c.button)();
        std::string words = deleting ? tool({"delete", path1, "Visible"})
                                     : tool({"move", path1, "Visible", target, "after", "#1"});
        const std::string prefix = "orvandel-sheets: ";
        ASSERT_EQ(words.rfind(prefix, 0), 0u) << words;
        words = words.substr(prefix.size(), words.size() - prefix.size() - 1);
        EXPECT_TRUE(std::any_of(dialogs.shown.begin(), dialogs.shown.end(), [&](const ShownBox& box) {
            return box.text.find(words) != std::string::npos;
        })) << words;
        // The window's closing step saves the target whatever happened: its sheets stay as they were.
        EXPECT_EQ(SheetsOnDisk(path1), before1);
        EXPECT_EQ(SheetsOnDisk(path2), before2);
    }
}

TEST_F(MoveSheetTest, MovesBetweenTheListsAndSelectsTheNeighbour) {
    LoadMemory({{"Alpha"}, {"Data"}, {"Omega"}}, {{"One"}, {"Two"}, {"Three"}});
    form->panel1()->list().select(2);
    form->panel2()->list().select(2);
    form->PushButton2_Click();
    EXPECT_EQ(Stored(1), (Strings{"Alpha", "Omega"}));
    EXPECT_EQ(Stored(2), (Strings{"One", "Two", "Data", "Three"}));
    EXPECT_EQ(list1(), (QStringList{"Alpha", "Omega"}));
    EXPECT_EQ(Selected(1), 2);
    EXPECT_EQ(list2(), (QStringList{"One", "Two", "Data", "Three"}));
    EXPECT_EQ(Selected(2), 2);
    EXPECT_TRUE(dialogs.shown.empty());
    // The target is written before the source that no longer holds the sheet.
    const auto save2 = std::find(store->calls.begin(), store->calls.end(), "Save:" + path2);
    const auto save1 = std::find(store->calls.begin(), store->calls.end(), "Save:" + path1);
    EXPECT_LT(save2, save1);
    EXPECT_NE(std::find(store->calls.begin(), store->calls.end(), "Close:" + path1), store->calls.end());
}

TEST_F(MoveSheetTest, MovesBetweenRealWorkbooks) {
    LoadReal("samples/sample1.xlsx", "samples/sample2.xlsx");
    form->panel2()->list().select(3);
    form->panel1()->list().select(2);
    form->PushButton4_Click();
    EXPECT_EQ(SheetsOnDisk(path1), (Strings{"Jan", "Feb", "Totals", "Rates", "Summary"}));
    EXPECT_EQ(SheetsOnDisk(path2), (Strings{"Mar", "Apr", "Archive"}));
    EXPECT_EQ(list1(), (QStringList{"Jan", "Feb", "Totals", "Rates", "Summary"}));
    EXPECT_EQ(list2(), (QStringList{"Mar", "Apr", "Archive"}));
    EXPECT_EQ(Selected(2), 3);
    EXPECT_EQ(Selected(1), 2);
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(MoveSheetTest, MovingTheLastEntrySelectsTheFirst) {
    LoadMemory({{"One"}, {"Two"}}, {{"Alpha"}, {"Data"}, {"Omega"}});
    form->panel2()->list().select(3);
    form->PushButton4_Click();
    EXPECT_EQ(list2(), (QStringList{"Alpha", "Data"}));
    EXPECT_EQ(Selected(2), 1);
    EXPECT_EQ(Stored(1), (Strings{"One", "Omega", "Two"}));
    EXPECT_EQ(std::find(store->calls.begin(), store->calls.end(), "Close:" + path1), store->calls.end());
}

TEST_F(MoveSheetTest, ASingleEntryIsNeverMovedAway) {
    LoadMemory({{"Only"}, {"Chart", automation::SheetKind::Chartsheet}}, {{"Lone"}});
    form->PushButton2_Click();
    form->PushButton4_Click();
    EXPECT_EQ(dialogs.messages(), (Strings{errors::msg::kCannotMoveLast, errors::msg::kCannotMoveLast}));
    EXPECT_EQ(store->sessionsStarted, 0);
}

TEST_F(MoveSheetTest, BothHandlersTestPathBoxOneFirst) {
    Start();
    form->PushButton2_Click();
    form->PushButton4_Click();
    EXPECT_EQ(dialogs.messages(), (Strings{"Excel File #1 does not appear to be valid",
                                           "Excel File #1 does not appear to be valid"}));
}

TEST_F(MoveSheetTest, ARenamedMoveArrivesUnderTheNewName) {
    LoadMemory({{"Data"}, {"Rest"}}, {{"Data"}});
    dialogs.inputAnswers = {"Data from one"};
    form->PushButton2_Click();
    EXPECT_EQ(Stored(2), (Strings{"Data", "Data from one"}));
    EXPECT_EQ(Stored(1), Strings{"Rest"});
    EXPECT_EQ(list1(), QStringList{"Rest"});
    EXPECT_EQ(list2(), (QStringList{"Data", "Data from one"}));
}

TEST_F(MoveSheetTest, ACopyMadeWithAReportedProblemLeavesTheSourceSheetInPlace) {
    LoadMemory({{"Alpha"}, {"Data"}}, {{"One"}});
    store->copyNotice = "3 formulas were kept as values.";
    form->panel1()->list().select(2);
    form->PushButton2_Click();
    EXPECT_EQ(dialogs.reportedSteps(), std::vector<int>{142});
    EXPECT_EQ(Stored(1), (Strings{"Alpha", "Data"}));
    EXPECT_EQ(Stored(2), (Strings{"One", "Data"}));
    EXPECT_EQ(list1(), (QStringList{"Alpha", "Data"}));
    EXPECT_EQ(list2(), (QStringList{"One", "Data"}));
}

// A failure at any object-model call never loses the sheet, and both lists keep mirroring their files.
TEST_F(MoveSheetTest, AFailureAtAnyCallLosesNothing) {
    const std::vector<std::pair<std::string, int>> failures{{"Open", 1},   {"Open", 2}, {"Copy", 1},
                                                            {"Delete", 1}, {"Save", 1}, {"Save", 2},
                                                            {"Close", 1},  {"Quit", 1}};
    for (const bool toPanel2 : {true, false}) {
        for (const auto& [operation, call] : failures) {
            SCOPED_TRACE(operation + " #" + std::to_string(call) + (toPanel2 ? " to #2" : " to #1"));
            dialogs.shown.clear();
            LoadMemory({{"Alpha"}, {"Data"}}, {{"Beta"}, {"Gamma"}});
            store->failOn[operation] = call;
            (toPanel2 ? form->panel1() : form->panel2())->list().select(toPanel2 ? 2 : 1);
            toPanel2 ? form->PushButton2_Click() : form->PushButton4_Click();
            const std::string moved = toPanel2 ? "Data" : "Beta";
            const auto in = [&](int panel) {
                const auto names = Stored(panel);
                return std::find(names.begin(), names.end(), moved) != names.end();
            };
            EXPECT_TRUE(in(1) || in(2));
            EXPECT_EQ(list1(), AsList(Stored(1)));
            EXPECT_EQ(list2(), AsList(Stored(2)));
            const auto made = std::count_if(store->calls.begin(), store->calls.end(),
                                            [&](const std::string& c) { return c.rfind(operation, 0) == 0; });
            if (made >= call) {
                EXPECT_FALSE(dialogs.reportedSteps().empty());
            }
            if (operation == "Save" && call == 1) {
                // The target save failed in the source-save step: one report, and it is not tried again.
                EXPECT_EQ(dialogs.reportedSteps().size(), 1u);
                EXPECT_EQ(std::count(store->calls.begin(), store->calls.end(),
                                     "Save:" + (toPanel2 ? path2 : path1)),
                          1);
            }
            EXPECT_EQ(store->sessionsStarted, store->sessionsEnded);
            EXPECT_EQ(form->pointer(), app::Form1::Pointer::Default);
        }
    }
}

}  // namespace
}  // namespace orv::testing
