// The "..." buttons, "Load Sample/Example Data" and "Clear Files".
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <QApplication>
#include <fstream>
#include <functional>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "MemoryBackend.h"
#include "WindowFixture.h"
#include "app/FileSelection.h"
#include "app/QtDialogs.h"
#include "automation/ooxml/OoxmlBackend.h"
#include "errors/Messages.h"
#include "legacy/ListingBackend.h"
#include "platform/Paths.h"

namespace orv::testing {
namespace {

class FileSelectionTest : public WindowFixture {};

TEST_F(FileSelectionTest, BrowseShowsTheDialogAndCancelChangesNothing) {
    Start();
    form->panel1()->setPath(Workbook("samples/sample1.xlsx"));
    const QString before = form->panel1()->pathBox()->text();
    dialogs.fileAnswers = {""};
    form->PushButton3_Click();
    ASSERT_EQ(dialogs.shown.size(), 1u);
    const auto& request = dialogs.shown[0].file;
    EXPECT_EQ(request.title, "Select Excel File");
    EXPECT_EQ(request.filter, "Excel Files (*.xl*)|*.xl*|All Files (*.*)|*.*");
    EXPECT_EQ(request.flags, 0x280001u);
    EXPECT_EQ(request.fileName, "");
    // It starts beside the workbook named, not in the program's folder.
    EXPECT_EQ(request.folder, platform::ParentFolderOf(Workbook("samples/sample1.xlsx")));
    EXPECT_EQ(form->panel1()->pathBox()->text(), before);
    EXPECT_EQ(list1().size(), 4);
}

TEST_F(FileSelectionTest, BrowseOnPanel2ListsTheChosenWorkbookAndSelectsItsFirstSheet) {
    Start();
    const std::string path = Workbook("samples/sample2.xlsx");
    dialogs.fileAnswers = {path};
    form->PushButton6_Click();
    EXPECT_EQ(dialogs.shown.at(0).file.folder, "");  // nothing named: the user's documents
    EXPECT_EQ(form->panel2()->pathBox()->text().toStdString(), path);
    EXPECT_EQ(list2(), (QStringList{"Mar", "Apr", "Totals", "Archive"}));
    EXPECT_EQ(form->panel2()->list().selectedPosition(), 1);
}

TEST_F(FileSelectionTest, BrowseAsksFirstWhenASpreadsheetApplicationRuns) {
    Start();
    processes.userOfficeRunning = true;
    dialogs.yesNoAnswers = {errors::Answer::No};
    form->PushButton3_Click();
    ASSERT_EQ(dialogs.shown.size(), 1u);  // the question, and no dialog after No
    EXPECT_EQ(dialogs.shown[0].buttons, errors::Buttons::YesNo);

    dialogs.yesNoAnswers = {errors::Answer::Yes};
    dialogs.fileAnswers = {Workbook("samples/sample1.xlsx")};
    form->PushButton3_Click();
    EXPECT_EQ(dialogs.shown.back().kind, ShownBox::Kind::OpenFile);
    EXPECT_EQ(list1().size(), 4);
}

// The .xls samples where something changes .xls workbooks; their .xlsx twins where they could only be listed,
// so that a new user's first copy works.
TEST_F(FileSelectionTest, SamplesFillBothPanelsOrKeepTheListsWhenMissing) {
    auto listsOnly = std::make_shared<automation::BackendRegistry>();
    listsOnly->Add(ooxml::MakeOoxmlBackend());
    listsOnly->Add(legacy::MakeListingBackend());
    auto changes = std::make_shared<automation::BackendRegistry>();
    changes->Add(ooxml::MakeOoxmlBackend());
    changes->Add(MakeMemoryBackend(std::make_shared<MemoryStore>(),
                                   {automation::FileFormat::Xls, automation::FileFormat::Ods}));
    const std::pair<std::shared_ptr<automation::BackendRegistry>, std::string> cases[] = {{changes, ".xls"},
                                                                                          {listsOnly, ".xlsx"}};
    for (const auto& [backends, extension] : cases) {
        SCOPED_TRACE(extension);
        Start(backends);
        form->panel1()->setPath(Workbook("samples/sample1.xlsx", "mine.xlsx"));
        form->panel2()->setPath("");
        form->PushButton15_Click();  // no Samples folder beside this program
        EXPECT_EQ(form->panel1()->path(), (programFolder() / "Samples" / ("sample1" + extension)).string());
        EXPECT_EQ(form->panel2()->path(), (programFolder() / "Samples" / ("sample2" + extension)).string());
        EXPECT_EQ(list1().size(), 4);
        EXPECT_TRUE(list2().isEmpty());
        EXPECT_TRUE(dialogs.shown.empty());
    }
}

TEST_F(FileSelectionTest, SamplesAreListedWhenPresent) {
    std::filesystem::create_directories(programFolder() / "Samples");
    for (const char* name : {"sample1.xls", "sample2.xls", "sample1.xlsx", "sample2.xlsx"}) {
        std::filesystem::copy_file(std::filesystem::path(ORVANDEL_SAMPLES_DIR) / name,
                                   programFolder() / "Samples" / name);
    }
    Start();
    form->PushButton15_Click();
    EXPECT_EQ(list1(), (QStringList{"Jan", "Feb", "Rates", "Summary"}));
    EXPECT_EQ(list2(), (QStringList{"Mar", "Apr", "Totals", "Archive"}));
    EXPECT_TRUE(dialogs.shown.empty()) << dialogs.shown.front().text;
    // The first copy a new user tries works, whatever changes workbooks here.
    form->panel1()->list().select(1);
    form->panel2()->list().select(1);
    form->PushButton1_Click();
    EXPECT_EQ(dialogs.messages(), std::vector<std::string>{"Done."});
    EXPECT_EQ(list2(), (QStringList{"Mar", "Jan", "Apr", "Totals", "Archive"}));
}

TEST_F(FileSelectionTest, ClearFilesEmptiesBothPanelsWithoutAsking) {
    Start();
    processes.userOfficeRunning = true;
    form->panel1()->setPath(Workbook("samples/sample1.xlsx"));
    form->panel2()->setPath(Workbook("samples/sample2.xlsx"));
    form->PushButton16_Click();
    EXPECT_TRUE(form->panel1()->pathBox()->text().isEmpty());
    EXPECT_TRUE(form->panel2()->pathBox()->text().isEmpty());
    EXPECT_TRUE(list1().isEmpty());
    EXPECT_TRUE(list2().isEmpty());
    form->PushButton16_Click();
    EXPECT_TRUE(dialogs.shown.empty());
}

// The real dialog, worked through its widgets: a name typed for a file that does not exist is taken as it is. Left
// out on Windows, where the program shows the system's dialog, which offscreen tests cannot drive (Qt's own,
// driven under Wine, hung once in a parallel run).
#ifndef _WIN32
TEST(QtOpenFileDialog, TakesATypedNameOfAFileThatDoesNotExist) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString typed = folder.filePath("not there yet.xlsx");
    bool typedIn = false;
    QTimer driver;
    QObject::connect(&driver, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog || dialog->objectName() != "OpenFileDialog") {
            // Anything else modal (a "file not found" warning) is the failure: close it so the test ends.
            if (auto* other = QApplication::activeModalWidget()) other->close();
            return;
        }
        auto* edit = dialog->findChild<QLineEdit*>("fileNameEdit");
        if (!edit || typedIn) return;
        typedIn = true;
        edit->setText(typed);
        QTest::keyClick(edit, Qt::Key_Return);
    });
    driver.start(50);
    // A safety net: a dialog still open after a while is cancelled, and the test fails below.
    QTimer::singleShot(10000, [] {
        while (auto* open = QApplication::activeModalWidget()) open->close();
    });
    app::QtDialogs dialogs;
    errors::OpenFileRequest request;
    request.fileName = folder.path().toStdString();
    request.title = "Select Excel File";
    request.filter = "Excel Files (*.xl*)|*.xl*|All Files (*.*)|*.*";
    const std::string chosen = dialogs.openFile(request);
    driver.stop();
    EXPECT_TRUE(typedIn);
    EXPECT_EQ(chosen, QDir::toNativeSeparators(typed).toStdString());
}

// The real save dialog: the proposed name's format is the filter chosen at first, a name typed bare takes the
// chosen filter's extension, and an existing file comes back without a question to replace it.
TEST(QtSaveFileDialog, KeepsTheFormatAndLeavesAnExistingFileToTheCaller) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    QFile taken(folder.filePath("Taken.xlsx"));
    ASSERT_TRUE(taken.open(QIODevice::WriteOnly));
    taken.close();
    struct Case {
        const char* proposed;
        const char* typed;
        const char* chosen;
    };
    for (const Case& c : {Case{"Book1.ods", "Forecast", "Forecast.ods"}, Case{"Book1.xlsx", "Taken", "Taken.xlsx"},
                          Case{"Book1.xlsm", "Plan.xls", "Plan.xls"}}) {
        bool typedIn = false;
        QTimer driver;
        QObject::connect(&driver, &QTimer::timeout, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!dialog || dialog->objectName() != "SaveFileDialog") {
                if (auto* other = QApplication::activeModalWidget()) other->close();
                return;
            }
            auto* edit = dialog->findChild<QLineEdit*>("fileNameEdit");
            if (!edit || typedIn) return;
            typedIn = true;
            edit->setText(QString::fromUtf8(c.typed));
            QTest::keyClick(edit, Qt::Key_Return);
        });
        driver.start(50);
        QTimer::singleShot(10000, [] {
            while (auto* open = QApplication::activeModalWidget()) open->close();
        });
        app::QtDialogs dialogs;
        errors::SaveFileRequest request;
        request.fileName = QDir(folder.path()).filePath(c.proposed).toStdString();
        request.title = "New Book";
        request.filter = "Excel Workbook (*.xlsx)|*.xlsx|Excel Macro-Enabled Workbook (*.xlsm)|*.xlsm|"
                         "Excel 97-2003 Workbook (*.xls)|*.xls|OpenDocument Spreadsheet (*.ods)|*.ods";
        const std::string chosen = dialogs.saveFile(request);
        driver.stop();
        EXPECT_TRUE(typedIn) << c.typed;
        EXPECT_EQ(chosen, QDir::toNativeSeparators(folder.filePath(c.chosen)).toStdString()) << c.typed;
    }
}
#endif

#ifndef _WIN32
// Runs `check` in a child process as an unprivileged user (root ignores file permissions, so a read-only folder
// proves nothing to it); returns the child's exit status.
int AsUnprivilegedUser(const std::function<int()>& check) {
    const pid_t pid = fork();
    if (pid == 0) {
        if (getuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(90);
        _exit(check());
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 99;
}

TEST(SamplesFolder, AnInstalledProgramsSamplesAreCopiedOnceIntoTheUsersFolder) {
    namespace fs = std::filesystem;
    QTemporaryDir base;
    ASSERT_TRUE(base.isValid());
    const fs::path root = base.path().toStdString();
    const fs::path program = root / "program";
    const fs::path home = root / "home";
    fs::create_directories(program / "Samples");
    fs::create_directories(home);
    for (const char* name : {"sample1.xls", "sample2.xls"}) {
        fs::copy_file(fs::path(ORVANDEL_SAMPLES_DIR) / name, program / "Samples" / name);
        fs::permissions(program / "Samples" / name, fs::perms(0444));
    }
    fs::permissions(program / "Samples", fs::perms(0555));
    fs::permissions(root, fs::perms(0755));
    fs::permissions(program, fs::perms(0755));
    if (getuid() == 0) {
        ASSERT_EQ(chown(home.c_str(), 65534, 65534), 0);
    }

    const fs::path data = home / "data";
    const int status = AsUnprivilegedUser([&] {
        try {
            if (app::SamplesFolder(program, data) != data / "Samples") return 1;
            for (const char* name : {"sample1.xls", "sample2.xls"}) {
                if (access((data / "Samples" / name).c_str(), R_OK | W_OK) != 0) return 2;
                if (fs::file_size(data / "Samples" / name) != fs::file_size(program / "Samples" / name)) return 3;
            }
            std::ofstream(data / "Samples" / "sample1.xls") << "changed by the user";
            app::SamplesFolder(program, data);  // a second load keeps the user's copy
            if (fs::file_size(data / "Samples" / "sample1.xls") != std::string("changed by the user").size())
                return 4;
            return 0;
        } catch (const std::exception&) {
            return 5;
        }
    });
    EXPECT_EQ(status, 0);
    // From a folder the user may write (a build tree), the samples are loaded where they are.
    fs::permissions(program / "Samples", fs::perms(0755));
    EXPECT_EQ(app::SamplesFolder(program, data), program / "Samples");
}
#endif  // a folder the user may not write is made with POSIX permissions and a user switch

}  // namespace
}  // namespace orv::testing
