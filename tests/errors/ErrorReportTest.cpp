// The error report's exact text and the guard's continue-after-failure rules.
#include <gtest/gtest.h>

#include <stdexcept>

#include "ScriptedDialogs.h"
#include "errors/ErrorReport.h"
#include "errors/Guard.h"
#include "errors/Messages.h"

namespace orv::errors {
namespace {

TEST(ErrorReport, HasTheExactLayout) {
    EXPECT_EQ(BuildErrorReport("Subscript out of range", ProcedurePath("PushButton13_Click"), 112),
              "Subscript out of range\r\nin Orvandel2021/08/31.Form1.PushButton13_Click at line 112\r\r"
              "Please email screenshot of this message to support@orvandel.example");
}

TEST(ErrorReport, EmptyDescriptionStartsWithCrLf) {
    const std::string text = BuildErrorReport("", ProcedurePath("Form_Load"), 100);
    EXPECT_EQ(text.substr(0, 40), "\r\nin Orvandel2021/08/31.Form1.Form_Load ");
}

TEST(ErrorReport, IsShownAsWarningTitledApplicationError) {
    testing::ScriptedDialogs dialogs;
    ShowErrorReport(dialogs, ProcedurePath("PushButton7_Click"), 114, "Refused");
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].title, "Application Error");
    EXPECT_EQ(dialogs.shown[0].icon, Icon::Warning);
    EXPECT_EQ(dialogs.shown[0].buttons, Buttons::Ok);
    EXPECT_EQ(dialogs.reportedSteps(), std::vector<int>{114});
}

TEST(Guard, ReportsEachFailingStepAndGoesOn) {
    testing::ScriptedDialogs dialogs;
    GuardedProcedure p(dialogs, "PushButton1_Click");
    std::vector<int> ran;
    EXPECT_TRUE(p.Step(100, [&] { ran.push_back(100); }));
    EXPECT_FALSE(p.Step(102, [&] {
        ran.push_back(102);
        throw std::runtime_error("first");
        ran.push_back(-1);  // the rest of a failing step never runs
    }));
    EXPECT_TRUE(p.Step(104, [&] { ran.push_back(104); }));
    EXPECT_FALSE(p.Step(106, [&] { throw std::runtime_error("second"); }));
    EXPECT_EQ(ran, (std::vector<int>{100, 102, 104}));
    EXPECT_EQ(dialogs.reportedSteps(), (std::vector<int>{102, 106}));
    EXPECT_EQ(dialogs.messages()[0].substr(0, 7), "first\r\n");
    EXPECT_NE(dialogs.messages()[1].find("in Orvandel2021/08/31.Form1.PushButton1_Click at line 106"),
              std::string::npos);
}

TEST(Guard, FailedTestTakesTheBranchItsTableNames) {
    testing::ScriptedDialogs dialogs;
    GuardedProcedure p(dialogs, "PushButton7_Click");
    auto fail = []() -> bool { throw std::runtime_error("cannot tell"); };
    EXPECT_TRUE(p.Test(100, fail, true));
    EXPECT_FALSE(p.Test(118, fail, false));
    EXPECT_FALSE(p.Test(
        120, [] { return false; }, true));
    EXPECT_EQ(dialogs.reportedSteps(), (std::vector<int>{100, 118}));
    EXPECT_EQ(p.currentStep(), 120);
}

TEST(Guard, NonStandardFailureStillGetsADescription) {
    testing::ScriptedDialogs dialogs;
    GuardedProcedure p(dialogs, "Form_Load");
    p.Step(124, [] { throw 42; });
    ASSERT_EQ(dialogs.messages().size(), 1u);
    EXPECT_EQ(dialogs.messages()[0].rfind("An unexpected failure occurred.\r\n", 0), 0u);
}

}  // namespace
}  // namespace orv::errors
