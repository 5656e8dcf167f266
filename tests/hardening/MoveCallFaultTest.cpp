// Both move buttons with a failure injected at each object-model call of the move in turn (every call a
// clean move makes, found by recording one), plain and under a new name: the sheet is always in at least one
// of the two stored files, and both lists mirror their files.
#include <gtest/gtest.h>

#include <algorithm>

#include "OperationsFixture.h"

namespace orv::testing {
namespace {

using Strings = std::vector<std::string>;

QStringList AsList(const Strings& names) {
    QStringList list;
    for (const auto& n : names) list << QString::fromStdString(n);
    return list;
}

struct Scenario {
    bool toPanel2;
    bool renamed;  // the target holds a sheet of the same name: the user gives a new one
};

class MoveCallFault : public OperationsFixture {
  protected:
    // Loads both workbooks, scripts the dialogs and presses the button.
    void RunMove(const Scenario& s, const std::map<std::string, int>& failOn) {
        dialogs.shown.clear();
        dialogs.inputAnswers.clear();
        if (s.renamed) dialogs.inputAnswers = {"Data moved"};
        const std::vector<MemorySheet> source{{"Alpha"}, {"Data"}};
        const std::vector<MemorySheet> target{{"Beta"}, {s.renamed ? "Data" : "Gamma"}};
        if (s.toPanel2) {
            LoadMemory(source, target);
        } else {
            LoadMemory(target, source);
        }
        store->ResetCalls();
        store->failOn = failOn;
        (s.toPanel2 ? form->panel1() : form->panel2())->list().select(2);
        s.toPanel2 ? form->PushButton2_Click() : form->PushButton4_Click();
    }
};

TEST_F(MoveCallFault, AFailureAtEveryCallLosesNoSheetAndTheListsMirrorTheFiles) {
    int injected = 0;
    for (const Scenario s : {Scenario{true, false}, Scenario{false, false}, Scenario{true, true}, Scenario{false, true}}) {
        SCOPED_TRACE(std::string(s.toPanel2 ? "to #2" : "to #1") + (s.renamed ? ", renamed" : ""));
        RunMove(s, {});
        const Strings clean = store->calls;
        ASSERT_FALSE(clean.empty());
        ASSERT_TRUE(dialogs.reportedSteps().empty()) << "the clean move failed";
        const int sourcePanel = s.toPanel2 ? 1 : 2;
        const int targetPanel = s.toPanel2 ? 2 : 1;
        const std::string arrived = s.renamed ? "Data moved" : "Data";
        const Strings arrivedIn = Stored(targetPanel);
        ASSERT_EQ(std::count(arrivedIn.begin(), arrivedIn.end(), arrived), 1);

        std::map<std::string, int> seen;
        for (std::size_t i = 0; i < clean.size(); ++i) {
            const std::string operation = clean[i].substr(0, clean[i].find(':'));
            const int occurrence = ++seen[operation];
            SCOPED_TRACE("failing call " + std::to_string(i + 1) + ": " + clean[i] + " (#" +
                         std::to_string(occurrence) + " of " + operation + ")");
            RunMove(s, {{operation, occurrence}});
            ++injected;
            const Strings source = Stored(sourcePanel);
            const Strings target = Stored(targetPanel);
            const bool inSource = std::find(source.begin(), source.end(), "Data") != source.end();
            const bool inTarget = std::find(target.begin(), target.end(), arrived) != target.end();
            EXPECT_TRUE(inSource || inTarget) << "the sheet was lost";
            EXPECT_EQ(list1(), AsList(Stored(1)));
            EXPECT_EQ(list2(), AsList(Stored(2)));
            EXPECT_FALSE(dialogs.reportedSteps().empty()) << "the failure was not reported";
            EXPECT_EQ(store->sessionsStarted, store->sessionsEnded) << "an instance was left running";
            EXPECT_EQ(form->pointer(), app::Form1::Pointer::Default);
        }
    }
    std::printf("object-model calls failed during moves: %d\n", injected);
    EXPECT_GE(injected, 20);
}

}  // namespace
}  // namespace orv::testing
