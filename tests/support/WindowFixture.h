// A main window under test: a private program folder, scripted dialogs, a process table with or without a
// running spreadsheet application, and the real backends (or a failure-injecting one).
#pragma once

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <filesystem>
#include <memory>

#include "MemoryBackend.h"
#include "ScriptedDialogs.h"
#include "app/Form1.h"
#include "automation/Application.h"
#include "automation/RunningSpreadsheet.h"

namespace orv::testing {

class FakeProcessTable : public automation::ProcessTable {
  public:
    bool userOfficeRunning = false;
    std::vector<automation::ProcessInfo> List() const override {
        if (!userOfficeRunning) return {};
        return {automation::ProcessInfo{4242,
                                        1000,
                                        "soffice.bin",
                                        "/usr/lib/libreoffice/program/soffice.bin",
                                        {"/usr/lib/libreoffice/program/soffice.bin", "--calc"}}};
    }
    unsigned currentUser() const override { return 1000; }
};

class WindowFixture : public ::testing::Test {
  protected:
    // Creates the window with the given backends (the real ones by default) and runs its start-up.
    void Start(std::shared_ptr<const automation::BackendRegistry> backends = nullptr, bool load = true);

    // Copies a workbook from the test data into the work folder and returns its path there.
    std::string Workbook(const std::string& source, const std::string& as = {});

    std::filesystem::path programFolder() const {
        return std::filesystem::path(m_program.path().toStdString());
    }
    std::filesystem::path workFolder() const { return std::filesystem::path(m_work.path().toStdString()); }

    QStringList list1() const { return form->panel1()->sheetList()->texts(); }
    QStringList list2() const { return form->panel2()->sheetList()->texts(); }

    ScriptedDialogs dialogs;
    FakeProcessTable processes;
    std::vector<std::string> openedUrls;
    double fraction = 0.5;
    std::unique_ptr<app::Form1> form;
    bool loaded = false;
    std::filesystem::path undoFolder;  // the undo store the window keeps (none when empty); set before Start

  private:
    QTemporaryDir m_program;
    QTemporaryDir m_work;
};

}  // namespace orv::testing
