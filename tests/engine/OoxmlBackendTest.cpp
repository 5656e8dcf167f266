// The object model on the engine: sheet handles follow their sheet, collections count the right sheets, and
// failures arrive as AutomationError with the engine's description.
#include <gtest/gtest.h>

#include "StrictCheck.h"
#include "TestSupport.h"
#include "automation/Application.h"
#include "automation/ooxml/OoxmlBackend.h"

namespace orv::engine::test {
namespace {

using automation::After;
using automation::AutomationError;
using automation::Before;

std::shared_ptr<automation::BackendRegistry> Registry() {
    auto registry = std::make_shared<automation::BackendRegistry>();
    registry->Add(ooxml::MakeOoxmlBackend());
    return registry;
}

TEST(OoxmlBackend, ServesTheFourOoxmlFormatsAndIsAlwaysAvailable) {
    auto backend = ooxml::MakeOoxmlBackend();
    for (auto f : {automation::FileFormat::Xlsx, automation::FileFormat::Xlsm, automation::FileFormat::Xltx,
                   automation::FileFormat::Xltm}) {
        EXPECT_TRUE(backend->serves(f));
    }
    EXPECT_FALSE(backend->serves(automation::FileFormat::Xls));
    EXPECT_FALSE(backend->serves(automation::FileFormat::Ods));
    EXPECT_TRUE(backend->isAvailable(nullptr));
}

TEST(OoxmlBackend, WorksheetsSkipChartSheetsAndMapToSheetsPositions) {
    auto app = automation::OpenWorkbookInstance(Registry(), Fixture("chartsheets-interleaved.xlsx"));
    auto book = app->Workbooks()(app->Workbooks().count());
    EXPECT_EQ(book->Sheets().count(), 6);
    EXPECT_EQ(book->Worksheets().count(), 4);
    EXPECT_EQ(book->Worksheets()(3)->name(), "Sheet3");
    EXPECT_EQ(book->SheetsIndexOfWorksheet(3), 4);
    EXPECT_EQ(book->Sheets()(2)->kind(), automation::SheetKind::Chartsheet);
    app->Quit();
}

TEST(OoxmlBackend, HandlesFollowTheirSheetThroughMovesRenamesAndDeletes) {
    TempDir dir;
    const auto path = dir.File("rich.xlsx");
    WritePackage(path, RichWorkbookParts());
    const std::vector<StrictView> before = {StrictlyRead(path)};
    auto app = automation::OpenWorkbookInstance(Registry(), path);
    auto book = app->Workbooks()(1);
    auto data = book->Sheets()("data");
    auto other = book->Sheets()(2);
    auto last = book->Sheets()(3);
    last->Move(Before{*data});
    EXPECT_EQ(book->Sheets()(1)->name(), "Last");
    data->Move(After{*other});
    EXPECT_EQ(book->Sheets()(3)->name(), "Data");
    other->setName("Q1 Data");
    EXPECT_EQ(book->Sheets()(2)->name(), "Q1 Data");
    other->Delete();
    EXPECT_THROW(other->name(), AutomationError);
    EXPECT_EQ(book->Sheets().count(), 2);
    EXPECT_EQ(data->name(), "Data");
    try {
        data->setName("last");
        FAIL();
    } catch (const AutomationError& e) {
        EXPECT_NE(std::string(e.what()).find("already taken"), std::string::npos) << e.what();
    }
    book->Save();
    app->Quit();
    EXPECT_THROW(data->name(), AutomationError);  // the workbook closed with the instance
    EXPECT_EQ(Problems(path), std::vector<std::string>{});
    EXPECT_EQ(StrictRegressions(before, path), std::vector<std::string>{});
    auto again = automation::OpenWorkbookInstance(Registry(), path);
    auto reopened = again->Workbooks()(1);
    EXPECT_EQ(reopened->Sheets()(1)->name(), "Last");
    EXPECT_EQ(reopened->Sheets()(2)->name(), "Data");
    again->Quit();
}

TEST(OoxmlBackend, QuitWithoutSaveDiscardsChanges) {
    TempDir dir;
    const auto path = dir.File("rich.xlsx");
    WritePackage(path, RichWorkbookParts());
    const auto before = ReadStored(path).entries.at("xl/workbook.xml").bytes;
    auto app = automation::OpenWorkbookInstance(Registry(), path);
    app->Workbooks()(1)->Sheets()(1)->Delete();
    app->Quit();
    EXPECT_EQ(ReadStored(path).entries.at("xl/workbook.xml").bytes, before);
}

TEST(OoxmlBackend, MovingRelativeToAnotherWorkbooksSheetIsRefused) {
    auto app = automation::OpenWorkbookInstance(Registry(), Fixture("3d-references.xlsx"));
    auto first = app->Workbooks()(1);
    auto second = app->Workbooks().Open(Fixture("defined-names-local-global.xlsx"));
    auto sheet = first->Sheets()(1);
    EXPECT_THROW(sheet->Move(Before{*second->Sheets()(1)}), AutomationError);
    app->Quit();
}

TEST(OoxmlBackend, OpenFailuresCarryTheEngineDescription) {
    try {
        automation::OpenWorkbookInstance(Registry(), Fixture("encrypted-default-password.xlsx"));
        FAIL();
    } catch (const AutomationError& e) {
        EXPECT_NE(std::string(e.what()).find("password-protected"), std::string::npos) << e.what();
    }
}

}  // namespace
}  // namespace orv::engine::test
