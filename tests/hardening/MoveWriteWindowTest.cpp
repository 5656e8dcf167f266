// "Move To #2 >" on real workbooks with a failure at each step of each file write: the sheet is in at least one
// of the two files, both open, and both lists show what their files hold.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>

#include "OperationsFixture.h"
#include "SaveSteps.h"

namespace orv::testing {
namespace {

using Strings = std::vector<std::string>;
namespace steps = hardening::steps;

QStringList AsList(const Strings& names) {
    QStringList list;
    for (const auto& n : names) list << QString::fromStdString(n);
    return list;
}

class MoveWriteWindow : public OperationsFixture {
  protected:
    // Loads fresh copies of the samples, then moves Feb into the second workbook with `failAt` armed.
    std::vector<steps::Event> RunMove(int failAt) {
        dialogs.shown.clear();
        LoadReal("samples/sample1.xlsx", "samples/sample2.xlsx");
        form->panel1()->list().select(2);
        form->panel2()->list().select(1);
        steps::Watch(workFolder().string(), failAt, ENOSPC);
        form->PushButton2_Click();
        return steps::Stop();
    }
};

TEST_F(MoveWriteWindow, AFailureAtEveryWriteStepKeepsTheSheetAndTheListsTrue) {
    const auto clean = RunMove(0);
    ASSERT_TRUE(dialogs.reportedSteps().empty());
    ASSERT_EQ(std::count_if(clean.begin(), clean.end(),
                            [](const steps::Event& e) { return e.step == steps::Step::Rename; }),
              2);
    for (int step = 1; step <= static_cast<int>(clean.size()); ++step) {
        const auto events = RunMove(step);
        SCOPED_TRACE(std::string("failing ") + steps::Name(events.back().step) + ", step " + std::to_string(step));
        Strings one;
        Strings two;
        ASSERT_NO_THROW(one = SheetsOnDisk(path1)) << "the source no longer opens";
        ASSERT_NO_THROW(two = SheetsOnDisk(path2)) << "the target no longer opens";
        const bool inOne = std::find(one.begin(), one.end(), "Feb") != one.end();
        const bool inTwo = std::find(two.begin(), two.end(), "Feb") != two.end();
        EXPECT_TRUE(inOne || inTwo) << "the sheet was lost";
        EXPECT_EQ(list1(), AsList(one));
        EXPECT_EQ(list2(), AsList(two));
        EXPECT_FALSE(dialogs.reportedSteps().empty()) << "the failure was not reported";
    }
    std::printf("file-write steps failed during window moves: %zu\n", clean.size());
}

}  // namespace
}  // namespace orv::testing
