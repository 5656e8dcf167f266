// What the LibreOffice backend adds to the legacy listing: the sheet states it restores in the files the
// office saved, and the refusal to leave a workbook with no visible sheet when one entry stands for no sheet.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "XlsFixture.h"
#include "automation/libreoffice/LibreOfficeWorkbook.h"
#include "automation/libreoffice/SheetStates.h"

namespace orv::libreoffice {
namespace {

using automation::AutomationError;
using automation::FileFormat;
using automation::SheetKind;
using automation::SheetVisibility;
using legacy::test::ListingFiles;
using legacy::test::MakeXls;

namespace fs = std::filesystem;

TEST_F(ListingFiles, AnEntryWithoutAPartKeepsNoWorkbookVisible) {
    const auto path = WriteModulesWorkbook();
    LoSession session;
    auto book = session.Open(path);
    auto data = book->Sheets()("Data");
    auto refusal = [](const std::function<void()>& call) {
        try {
            call();
        } catch (const AutomationError& e) {
            return std::string(e.what());
        }
        return std::string();
    };
    EXPECT_EQ(refusal([&] { data->Delete(); }),
              "The sheet \"Data\" cannot be deleted: a workbook must keep at least one visible sheet. Add or "
              "unhide another sheet first.");
    const std::string moved = refusal([&] { automation::RefuseLeavingNoVisibleSheet(*book, {data}, path); });
    EXPECT_NE(moved.find("must keep at least one visible sheet"), std::string::npos) << moved;
    EXPECT_EQ(book->sheetCount(), 2);
}

TEST_F(ListingFiles, SheetStatesAreRestoredInPlaceAndOnlyForTheSameSheets) {
    const auto path =
        Write("states.xls", MakeXls({{"One", false, 0}, {"Two", false, 0}, {"Three", false, 1}}));
    std::vector<ListedSheet> wanted = {{"One", SheetKind::Worksheet, SheetVisibility::Visible},
                                       {"Two", SheetKind::Worksheet, SheetVisibility::VeryHidden},
                                       {"Three", SheetKind::Worksheet, SheetVisibility::Hidden}};
    EXPECT_EQ(RestoreXlsSheetStates(path, wanted), std::nullopt);
    EXPECT_EQ(*ListSheets(path, FileFormat::Xls), wanted);

    // Another sheet list than the file's leaves the file alone.
    const auto before = fs::last_write_time(path);
    wanted[1].name = "Zwei";
    wanted[1].visibility = SheetVisibility::Visible;
    EXPECT_EQ(RestoreXlsSheetStates(path, wanted), "the saved file does not list the expected sheets");
    EXPECT_EQ(fs::last_write_time(path), before);
    EXPECT_EQ((*ListSheets(path, FileFormat::Xls))[1].visibility, SheetVisibility::VeryHidden);
}

}  // namespace
}  // namespace orv::libreoffice
