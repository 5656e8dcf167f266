// Which processes count as a spreadsheet application the user has open, and the question asked then.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <filesystem>
#include <fstream>

#include "ScriptedDialogs.h"
#include "automation/RunningSpreadsheet.h"
#ifdef _WIN32
#include "automation/com/ActiveObjectTable.h"
#endif
#include "errors/Messages.h"
#include "operations/SpreadsheetChecks.h"

namespace orv::automation {
namespace {

using operations::CheckSpreadsheetAvailable;
using operations::ConfirmSpreadsheetClosed;

class FakeProcesses : public ProcessTable {
  public:
    std::vector<ProcessInfo> processes;
    bool automationInstance = false;
    std::vector<ProcessInfo> List() const override { return processes; }
    unsigned currentUser() const override { return 1000; }
    bool AutomationInstanceRunning() const override { return automationInstance; }
};

ProcessInfo Office(unsigned uid, std::vector<std::string> argv) {
    return ProcessInfo{42, uid, "soffice.bin", "/usr/lib/libreoffice/program/soffice.bin", std::move(argv)};
}

TEST(IsSpreadsheetRunning, TellsTheUsersOfficeFromOurs) {
    FakeProcesses table;
    EXPECT_FALSE(IsSpreadsheetRunning(table));
    table.automationInstance = true;  // what Windows' running automation objects show
    EXPECT_TRUE(IsSpreadsheetRunning(table));
    table.automationInstance = false;

    table.processes = {Office(1000, {"/usr/lib/libreoffice/program/soffice.bin", "--calc"})};
    EXPECT_TRUE(IsSpreadsheetRunning(table));

    const std::string ours = "-env:UserInstallation=file://" + (PrivateInstanceRoot() / "p1").string();
    table.processes = {Office(1000, {"soffice.bin", ours, "--headless"})};
    EXPECT_FALSE(IsSpreadsheetRunning(table));

    table.processes = {Office(1000, {"soffice.bin", "-env:UserInstallation=file:///home/u/other-profile"})};
    EXPECT_TRUE(IsSpreadsheetRunning(table));

    table.processes = {Office(0, {"soffice.bin"})};  // another user's office is not this user's concern
    EXPECT_FALSE(IsSpreadsheetRunning(table));

    table.processes = {ProcessInfo{7, 1000, "gnumeric", "/usr/bin/gnumeric", {"gnumeric"}}};
    EXPECT_TRUE(IsSpreadsheetRunning(table));
}

TEST(ConfirmSpreadsheetClosed, AsksOnlyWhenRunningAndStopsUnlessYes) {
    FakeProcesses table;
    testing::ScriptedDialogs dialogs;
    EXPECT_FALSE(ConfirmSpreadsheetClosed(dialogs, table));
    EXPECT_TRUE(dialogs.shown.empty());

    table.processes = {Office(1000, {"soffice.bin"})};
    dialogs.yesNoAnswers = {errors::Answer::No, errors::Answer::Yes};
    EXPECT_TRUE(ConfirmSpreadsheetClosed(dialogs, table));
    EXPECT_FALSE(ConfirmSpreadsheetClosed(dialogs, table));
    ASSERT_EQ(dialogs.shown.size(), 2u);
    EXPECT_EQ(
        dialogs.shown[0].text,
        "Excel may be open. It is recommended that you close Excel first.\r"
        "Use Ctrl+Alt+Del > Task Manager > EXCEL.EXE if necessary.\r\n\r\nWould you like to proceed anyway?");
    EXPECT_EQ(dialogs.shown[0].buttons, errors::Buttons::YesNo);
    EXPECT_EQ(dialogs.shown[0].icon, errors::Icon::None);
    EXPECT_EQ(dialogs.shown[0].title, errors::ApplicationTitle());
}

TEST(ConfirmSpreadsheetClosed, AlsoAsksWhenAWorkbookIsOpenElsewhere) {
    const auto folder =
        std::filesystem::temp_directory_path() / ("orvandel-lock-test-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const std::string book = (folder / "Budget.xlsx").string();
    FakeProcesses table;
    testing::ScriptedDialogs dialogs;
    EXPECT_FALSE(IsWorkbookLocked(book));
    EXPECT_FALSE(ConfirmSpreadsheetClosed(dialogs, table, {book}));
    std::ofstream(folder / ".~lock.Budget.xlsx#") << "user";
    EXPECT_TRUE(IsWorkbookLocked(book));
    EXPECT_TRUE(ConfirmSpreadsheetClosed(dialogs, table, {"", book}));
    std::filesystem::remove(folder / ".~lock.Budget.xlsx#");
    std::ofstream(folder / "~$Budget.xlsx") << "user";
    EXPECT_TRUE(IsWorkbookLocked(book));
    EXPECT_EQ(dialogs.shown.size(), 1u);
    std::filesystem::remove_all(folder);
}

#ifdef _WIN32
TEST(ActiveObjectTable, NoRegisteredApplicationMeansNoneRuns) {
    // The Wine prefix of the tests registers no spreadsheet application.
    EXPECT_FALSE(com::ActiveObjectTable().AutomationInstanceRunning());
}
#else
TEST(ProcFsProcessTable, SeesThisProcess) {
    ProcFsProcessTable table;
    bool found = false;
    for (const auto& p : table.List()) found = found || p.pid == static_cast<int>(::getpid());
    EXPECT_TRUE(found);
}
#endif

}  // namespace
}  // namespace orv::automation
