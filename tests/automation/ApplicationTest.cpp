// The private instance: routing by format, the workbook collection, the Sheets/Worksheets numbering, and the
// start-up availability check.
#include <gtest/gtest.h>

#include "MemoryBackend.h"
#include "ScriptedDialogs.h"
#include "automation/Application.h"
#include "errors/Messages.h"
#include "operations/SpreadsheetChecks.h"

namespace orv::automation {
namespace {

using operations::CheckSpreadsheetAvailable;
using operations::ConfirmSpreadsheetClosed;

using testing::MemorySheet;
using testing::MemoryStore;

class ApplicationTest : public ::testing::Test {
  protected:
    void SetUp() override {
        store = std::make_shared<MemoryStore>();
        store->files["/w/a.xlsx"] = {{"Jan"},
                                     {"Chart1", SheetKind::Chartsheet},
                                     {"Feb", SheetKind::Worksheet, SheetVisibility::Hidden}};
        store->files["/w/b.xlsx"] = {{"Data"}};
        auto r = std::make_shared<BackendRegistry>();
        r->Add(testing::MakeMemoryBackend(store));
        registry = r;
    }
    std::shared_ptr<MemoryStore> store;
    std::shared_ptr<const BackendRegistry> registry;
};

TEST_F(ApplicationTest, OpenWorkbookInstanceOpensTheLastWorkbook) {
    auto app = OpenWorkbookInstance(registry, "/w/a.xlsx");
    auto& books = app->Workbooks();
    ASSERT_EQ(books.count(), 1);
    EXPECT_EQ(books(books.count())->fullName(), "/w/a.xlsx");
    auto second = books.Open("/w/b.xlsx");
    EXPECT_EQ(books.count(), 2);
    EXPECT_EQ(books(2), second);
    EXPECT_EQ(store->sessionsStarted, 1);  // both workbooks in one instance
    app->Quit();
    EXPECT_EQ(store->sessionsEnded, 1);
    EXPECT_THROW(app->Workbooks(), AutomationError);
}

TEST_F(ApplicationTest, WorksheetsLeaveOutChartSheetsAndMapToSheetPositions) {
    auto app = OpenWorkbookInstance(registry, "/w/a.xlsx");
    auto book = app->Workbooks()(1);
    EXPECT_EQ(book->Sheets().count(), 3);
    EXPECT_EQ(book->Worksheets().count(), 2);
    EXPECT_EQ(book->Worksheets()(2)->name(), "Feb");
    EXPECT_EQ(book->SheetsIndexOfWorksheet(2), 3);
    EXPECT_EQ(book->Sheets()("feb")->name(), "Feb");  // names compare ignoring case
    EXPECT_THROW(book->Worksheets()(3), AutomationError);
    EXPECT_THROW(book->Sheets()("Nope"), AutomationError);
}

TEST_F(ApplicationTest, TheSameWorkbookCannotBeOpenedTwice) {
    auto app = OpenWorkbookInstance(registry, "/w/a.xlsx");
    EXPECT_THROW(app->Workbooks().Open("/w/a.xlsx"), AutomationError);
    EXPECT_EQ(app->Workbooks().count(), 1);
}

TEST_F(ApplicationTest, FailedOpenKeepsNoInstanceRunning) {
    store->failOn["Open"] = 0;
    EXPECT_THROW(OpenWorkbookInstance(registry, "/w/a.xlsx"), AutomationError);
    EXPECT_EQ(store->sessionsStarted, store->sessionsEnded);
}

TEST_F(ApplicationTest, ReleasingWithoutQuitEndsTheInstanceUnsaved) {
    {
        auto app = OpenWorkbookInstance(registry, "/w/a.xlsx");
        app->Workbooks()(1)->Sheets()(1)->setName("Changed");
    }
    EXPECT_EQ(store->sessionsEnded, 1);
    EXPECT_EQ(store->names("/w/a.xlsx")[0], "Jan");
}

TEST_F(ApplicationTest, UnservedFormatsFailWithAClearDescription) {
    auto app = CreateInstance(registry);
    try {
        app->Workbooks().Open("/w/old.xls");
        FAIL() << "opening an .xls without a backend for it must fail";
    } catch (const AutomationError& e) {
        EXPECT_STREQ(
            e.what(),
            "\"old.xls\" cannot be opened: workbooks in the Excel 97-2003 workbook (.xls) format are not "
            "supported yet on this computer.");
    }
    EXPECT_THROW(app->Workbooks().Open("/w/notes.txt"), AutomationError);
}

TEST_F(ApplicationTest, CheckSpreadsheetAvailable) {
    testing::ScriptedDialogs dialogs;
    EXPECT_TRUE(CheckSpreadsheetAvailable(*registry, dialogs));
    EXPECT_TRUE(dialogs.shown.empty());

    EXPECT_FALSE(CheckSpreadsheetAvailable(BackendRegistry{}, dialogs));
    ASSERT_EQ(dialogs.shown.size(), 1u);
    const auto& box = dialogs.shown[0];
    EXPECT_EQ(box.title, errors::ApplicationTitle());
    EXPECT_EQ(box.icon, errors::Icon::None);
    EXPECT_EQ(box.buttons, errors::Buttons::Ok);
    EXPECT_EQ(
        box.text.rfind("Error 842001. A normal instance of Excel could not be created.\r\n\r\n1. Please", 0),
        0u);
    EXPECT_NE(
        box.text.find("\r\n\r\n4. All versions of Excel are supported by this software except for the rare "
                      "Excel Starter and Student editions."),
        std::string::npos);
    EXPECT_THROW(CreateInstance(std::make_shared<BackendRegistry>()), AutomationError);
}

// Two backends as in the program: one for OOXML only, one that also serves .xls (as LibreOffice does).
class MixedFormatsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ooxml = std::make_shared<MemoryStore>();
        office = std::make_shared<MemoryStore>();
        for (auto& store : {ooxml, office}) {
            store->files["/w/new.xlsx"] = {{"One"}, {"Two"}};
            store->files["/w/old.xls"] = {{"Legacy"}};
        }
        auto r = std::make_shared<BackendRegistry>();
        r->Add(testing::MakeMemoryBackend(ooxml));
        r->Add(testing::MakeMemoryBackend(office, {FileFormat::Xls, FileFormat::Xlsx}));
        registry = r;
    }
    std::shared_ptr<MemoryStore> ooxml, office;
    std::shared_ptr<const BackendRegistry> registry;
};

TEST_F(MixedFormatsTest, AWorkbookOpenedFirstFollowsIntoTheBackendThatServesBoth) {
    auto app = OpenWorkbookInstance(registry, "/w/new.xlsx");
    auto source = app->Workbooks()(1);
    auto target = app->Workbooks().Open("/w/old.xls");
    EXPECT_EQ(office->calls, (std::vector<std::string>{"Open:/w/new.xlsx", "Open:/w/old.xls"}));
    EXPECT_EQ(ooxml->calls, (std::vector<std::string>{"Open:/w/new.xlsx", "Close:/w/new.xlsx"}));
    source->Sheets()("Two")->Copy(After{*target->Sheets()(1)});
    target->Save();
    app->Quit();
    EXPECT_EQ(office->names("/w/old.xls"), (std::vector<std::string>{"Legacy", "Two"}));
}

TEST_F(MixedFormatsTest, AnOoxmlWorkbookJoinsALegacyOneWhereItIs) {
    auto app = OpenWorkbookInstance(registry, "/w/old.xls");
    app->Workbooks().Open("/w/new.xlsx");
    EXPECT_TRUE(ooxml->calls.empty());
    EXPECT_EQ(office->sessionsStarted, 1);
}

TEST_F(MixedFormatsTest, WithoutABackendForBothTheOpeningSaysWhatIsMissing) {
    auto only = std::make_shared<BackendRegistry>();
    only->Add(testing::MakeMemoryBackend(ooxml));
    only->Add(testing::MakeMemoryBackend(office, {FileFormat::Xls}));
    auto app = OpenWorkbookInstance(only, "/w/new.xlsx");
    try {
        app->Workbooks().Open("/w/old.xls");
        FAIL() << "a transfer no backend can serve must be refused";
    } catch (const AutomationError& e) {
        EXPECT_NE(std::string(e.what()).find("only through LibreOffice"), std::string::npos) << e.what();
    }
    EXPECT_EQ(app->Workbooks().count(), 1);
}

TEST(FileFormat, IsToldFromTheExtensionInAnyCase) {
    EXPECT_EQ(FormatOfPath("/a/B.XLSX"), FileFormat::Xlsx);
    EXPECT_EQ(FormatOfPath("t.xltm"), FileFormat::Xltm);
    EXPECT_EQ(FormatOfPath("t.xls"), FileFormat::Xls);
    EXPECT_EQ(FormatOfPath("t.ods"), FileFormat::Ods);
    EXPECT_EQ(FormatOfPath("xlsx"), FileFormat::Unknown);
    EXPECT_TRUE(IsOoxml(FileFormat::Xlsm));
    EXPECT_FALSE(IsOoxml(FileFormat::Xls));
}

}  // namespace
}  // namespace orv::automation
