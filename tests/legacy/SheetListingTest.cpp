// Listing .xls, .ods and OOXML workbooks without LibreOffice: names in every encoding, kinds, visibility,
// order, and the failure descriptions of files that are not workbooks, damaged, truncated or
// password-protected.
#include <gtest/gtest.h>
#include <zip.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "XlsFixture.h"
#include "legacy/SheetListing.h"
#include "platform/Paths.h"

namespace orv::legacy {
namespace {

using automation::AutomationError;
using automation::FileFormat;
using automation::SheetKind;
using automation::SheetVisibility;
using test::FixtureOptions;
using test::FixtureSheet;
using test::MakeXls;
using test::Utf16Le;

namespace fs = std::filesystem;

using test::ListingFiles;

TEST_F(ListingFiles, Biff8ListsNamesKindsVisibilityInOrder) {
    const std::vector<FixtureSheet> sheets = {
        {"Data", false, 0, 0, false},
        {"\xC4rger", false, 1, 0, false},  // compressed Latin-1: Ärger, hidden
        {Utf16Le(u"\u6570\u636E"), true, 2, 0, false},
        {"Chart1", false, 0, 2, false},
        {"Macro1", false, 0, 1, false},
        {"Dialog1", false, 0, 0, true},
    };
    const auto listed = ListSheets(Write("book.xls", MakeXls(sheets)), FileFormat::Xls);
    ASSERT_TRUE(listed.has_value());
    const std::vector<ListedSheet> expected = {
        {"Data", SheetKind::Worksheet, SheetVisibility::Visible},
        {"\xC3\x84rger", SheetKind::Worksheet, SheetVisibility::Hidden},
        {"\xE6\x95\xB0\xE6\x8D\xAE", SheetKind::Worksheet, SheetVisibility::VeryHidden},
        {"Chart1", SheetKind::Chartsheet, SheetVisibility::Visible},
        {"Macro1", SheetKind::Macrosheet, SheetVisibility::Visible},
        {"Dialog1", SheetKind::Dialogsheet, SheetVisibility::Visible},
    };
    EXPECT_EQ(*listed, expected);
}

TEST_F(ListingFiles, Biff5NamesAreReadInTheirCodePage) {
    FixtureOptions cyrillic;
    cyrillic.biff5 = true;
    cyrillic.codePage = 1251;
    // "Лист" in Windows-1251, then a plain name.
    const auto listed =
        ListSheets(Write("old.xls", MakeXls({{"\xCB\xE8\xF1\xF2"}, {"Summe"}}, cyrillic)), FileFormat::Xls);
    ASSERT_TRUE(listed.has_value());
    ASSERT_EQ(listed->size(), 2u);
    EXPECT_EQ((*listed)[0].name, "\xD0\x9B\xD0\xB8\xD1\x81\xD1\x82");
    EXPECT_EQ((*listed)[1].name, "Summe");

    FixtureOptions mac;
    mac.biff5 = true;
    mac.codePage = 10000;  // Mac Roman: 0x8A is ä
    const auto macListed = ListSheets(Write("mac.xls", MakeXls({{"M\x8Arz"}}, mac)), FileFormat::Xls);
    ASSERT_TRUE(macListed.has_value());
    EXPECT_EQ((*macListed)[0].name, "M\xC3\xA4rz");

    FixtureOptions noCodePage;
    noCodePage.biff5 = true;  // without a CODEPAGE record Excel 5 wrote Windows-1252: 0x80 is the euro sign
    const auto defaultListed =
        ListSheets(Write("plain.xls", MakeXls({{"\x80"}}, noCodePage)), FileFormat::Xls);
    ASSERT_TRUE(defaultListed.has_value());
    EXPECT_EQ((*defaultListed)[0].name, "\xE2\x82\xAC");
}

TEST_F(ListingFiles, XlsThatOnlyTheApplicationCanReadIsLeftToIt) {
    FixtureOptions encrypted;
    encrypted.filePass = true;
    EXPECT_FALSE(ListSheets(Write("enc.xls", MakeXls({{"Data"}}, encrypted)), FileFormat::Xls).has_value());
    // An OOXML package saved under an .xls name.
    EXPECT_FALSE(ListSheets(Write("pk.xls", std::string("PK\x03\x04 rest", 9)), FileFormat::Xls).has_value());
}

TEST_F(ListingFiles, BadXlsFilesFailWithWhatIsWrong) {
    EXPECT_EQ(
        FailureOf(Write("text.xls", std::string("Name,Value\n1,2\n")), FileFormat::Xls),
        "\"text.xls\" cannot be opened: it is not an Excel 97-2003 workbook. Choose an .xls file saved by a "
        "spreadsheet application.");
    EXPECT_EQ(
        FailureOf(Write("empty.xls", std::string()), FileFormat::Xls),
        "\"empty.xls\" cannot be opened: the file is empty (0 bytes), not a workbook. Use a good copy of the "
        "workbook.");
    EXPECT_EQ(FailureOf((m_dir / "missing.xls").string(), FileFormat::Xls),
              "\"missing.xls\" cannot be opened: the file does not exist. Check the path and try again.");

    auto whole = MakeXls({{"Data"}, {"More"}});
    whole.resize(1000);
    EXPECT_NE(FailureOf(Write("cut.xls", whole), FileFormat::Xls).find("it is damaged or truncated"),
              std::string::npos);

    FixtureOptions noEof;
    noEof.omitGlobalsEof = true;
    EXPECT_NE(FailureOf(Write("noeof.xls", MakeXls({{"Data"}}, noEof)), FileFormat::Xls)
                  .find("its workbook records end early"),
              std::string::npos);

    FixtureOptions other;
    other.streamName = "WordDocument";
    EXPECT_NE(FailureOf(Write("word.xls", MakeXls({{"Data"}}, other)), FileFormat::Xls)
                  .find("holds no workbook stream"),
              std::string::npos);

    // Password-protected OOXML is a compound file with an EncryptionInfo stream, whatever its extension.
    const auto encrypted = test::MakeCompoundFile("EncryptionInfo", std::vector<std::uint8_t>(64, 4));
    EXPECT_EQ(
        FailureOf(Write("locked.xls", encrypted), FileFormat::Xls),
        "\"locked.xls\" cannot be opened: it is password-protected. Remove the password in a spreadsheet "
        "application, save it, and try again.");
    EXPECT_NE(FailureOf(Write("locked.xlsx", encrypted), FileFormat::Xlsx).find("password-protected"),
              std::string::npos);
}

const char* const kOdsContent = R"(<?xml version="1.0" encoding="UTF-8"?>
<office:document-content xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0"
 xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0"
 xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0">
 <office:automatic-styles>
  <style:style style:name="ta1" style:family="table"><style:table-properties table:display="true"/></style:style>
  <style:style style:name="ta2" style:family="table"><style:table-properties table:display="false"/></style:style>
 </office:automatic-styles>
 <office:body><office:spreadsheet>
  <table:table table:name="First" table:style-name="ta1"/>
  <table:table table:name="Hidden &amp; Co" table:style-name="ta2"/>
  <table:table table:name="&#x00C4;rger" table:style-name="ta1"/>
 </office:spreadsheet></office:body>
</office:document-content>)";

TEST_F(ListingFiles, OdsListsTablesAndTheirDisplay) {
    const auto path = WriteZip("book.ods", {{"mimetype", "application/vnd.oasis.opendocument.spreadsheet"},
                                            {"content.xml", kOdsContent}});
    const auto listed = ListSheets(path, FileFormat::Ods);
    ASSERT_TRUE(listed.has_value());
    const std::vector<ListedSheet> expected = {
        {"First", SheetKind::Worksheet, SheetVisibility::Visible},
        {"Hidden & Co", SheetKind::Worksheet, SheetVisibility::Hidden},
        {"\xC3\x84rger", SheetKind::Worksheet, SheetVisibility::Visible},
    };
    EXPECT_EQ(*listed, expected);
}

// Workbooks whose folders and names are in other scripts are listed too: on Windows the paths reach the
// system as UTF-16, never through the code page.
TEST_F(ListingFiles, WorkbooksNamedInAnyScriptAreListed) {
    const fs::path xls = Write("book.xls", MakeXls({{"Data", false, 0, 0, false}}));
    const fs::path ods = WriteZip("book.ods", {{"mimetype", "application/vnd.oasis.opendocument.spreadsheet"},
                                               {"content.xml", kOdsContent}});
    for (const std::string name : {"\xD0\xA2\xD0\xB0\xD0\xB1\xD0\xBB\xD0\xB8\xD1\x86\xD0\xB0",  // Таблица
                                   "\xE8\xA1\xA8\xE6\xA0\xBC",                                          // 表格
                                   "\xC3\x9Cn\xC3\xAF"}) {                                                // Ünï
        const std::string folder = platform::Utf8FromPath(xls.parent_path()) + "/" + name;
        fs::create_directories(platform::PathFromUtf8(folder));
        const std::string inXls = folder + "/" + name + ".xls", inOds = folder + "/" + name + ".ods";
        fs::copy_file(xls, platform::PathFromUtf8(inXls));
        fs::copy_file(ods, platform::PathFromUtf8(inOds));
        const auto listedXls = ListSheets(inXls, FileFormat::Xls);
        ASSERT_TRUE(listedXls.has_value()) << inXls;
        ASSERT_EQ(listedXls->size(), 1u);
        EXPECT_EQ(listedXls->front().name, "Data");
        const auto listedOds = ListSheets(inOds, FileFormat::Ods);
        ASSERT_TRUE(listedOds.has_value()) << inOds;
        EXPECT_EQ(listedOds->size(), 3u);
    }
}

TEST_F(ListingFiles, BadOdsFilesFailWithWhatIsWrong) {
    EXPECT_EQ(FailureOf(Write("text.ods", std::string("just text")), FileFormat::Ods),
              "\"text.ods\" cannot be opened: it is not an OpenDocument spreadsheet. Choose an .ods file "
              "saved by a "
              "spreadsheet application.");
    const auto writer = WriteZip("letter.ods", {{"mimetype", "application/vnd.oasis.opendocument.text"},
                                                {"content.xml", kOdsContent}});
    EXPECT_NE(FailureOf(writer, FileFormat::Ods).find("its content type is not a spreadsheet's"),
              std::string::npos);

    const std::string manifest =
        R"(<manifest:manifest xmlns:manifest="urn:oasis:names:tc:opendocument:xmlns:manifest:1.0">
 <manifest:file-entry manifest:full-path="content.xml" manifest:media-type="text/xml">
  <manifest:encryption-data manifest:checksum-type="SHA1/1K"/></manifest:file-entry></manifest:manifest>)";
    const auto locked =
        WriteZip("locked.ods", {{"mimetype", "application/vnd.oasis.opendocument.spreadsheet"},
                                {"META-INF/manifest.xml", manifest},
                                {"content.xml", "\x01\x02 encrypted bytes"}});
    EXPECT_NE(FailureOf(locked, FileFormat::Ods).find("it is password-protected"), std::string::npos);

    const auto broken =
        WriteZip("broken.ods", {{"mimetype", "application/vnd.oasis.opendocument.spreadsheet"},
                                {"content.xml", "<office:document-content><unclosed>"}});
    EXPECT_NE(FailureOf(broken, FileFormat::Ods).find("\"content.xml\" is not well-formed XML"),
              std::string::npos);

    // Cutting the archive removes its central directory.
    const auto good = WriteZip("good.ods", {{"mimetype", "application/vnd.oasis.opendocument.spreadsheet"},
                                            {"content.xml", kOdsContent}});
    std::ifstream in(good, std::ios::binary);
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    bytes.resize(bytes.size() / 2);
    EXPECT_NE(FailureOf(Write("cut.ods", bytes), FileFormat::Ods).find("damaged or truncated"),
              std::string::npos);
}

TEST_F(ListingFiles, OoxmlListsSheetsWithChartSheetsAndStates) {
    const auto path = WriteZip(
        "book.xlsx",
        {{"[Content_Types].xml", "<Types/>"},
         {"_rels/.rels",
          R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="xl/workbook.xml"/></Relationships>)"},
         {"xl/_rels/workbook.xml.rels",
          R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/sheet1.xml"/><Relationship Id="rId2" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/chartsheet" Target="chartsheets/sheet1.xml"/><Relationship Id="rId3" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/sheet2.xml"/></Relationships>)"},
         {"xl/workbook.xml",
          R"(<workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"><sheets><sheet name="Data" sheetId="1" r:id="rId1"/><sheet name="Chart" sheetId="2" r:id="rId2"/><sheet name="Secret" sheetId="3" state="veryHidden" r:id="rId3"/></sheets></workbook>)"}});
    const auto listed = ListSheets(path, FileFormat::Xlsx);
    ASSERT_TRUE(listed.has_value());
    const std::vector<ListedSheet> expected = {
        {"Data", SheetKind::Worksheet, SheetVisibility::Visible},
        {"Chart", SheetKind::Chartsheet, SheetVisibility::Visible},
        {"Secret", SheetKind::Worksheet, SheetVisibility::VeryHidden},
    };
    EXPECT_EQ(*listed, expected);
}

// An entry without a relationship (the application lists a VBA project's modules so) is no worksheet and
// keeps no workbook visible: the one sheet beside it can neither be deleted nor moved out, which is known
// before LibreOffice is started.
TEST_F(ListingFiles, OoxmlEntriesWithoutAPartArePlaceholders) {
    const auto path = WriteModulesWorkbook();
    const std::vector<ListedSheet> expected = {
        {"Data", SheetKind::Worksheet, SheetVisibility::Visible},
        {"Module1", SheetKind::Macrosheet, SheetVisibility::Visible, true},
    };
    EXPECT_EQ(*ListSheets(path, FileFormat::Xlsx), expected);
}

}  // namespace
}  // namespace orv::legacy

namespace orv::legacy {
namespace {

std::vector<std::uint8_t> ReadFixture(const std::string& name) {
    std::ifstream in(std::string(ORVANDEL_TEST_LO_FIXTURES) + "/" + name, std::ios::binary);
    return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Every cut and every corruption of real workbooks either lists or fails with a description, never worse (the
// sanitizer build turns any out-of-bounds read into a failure).
TEST(DamagedXls, CutOrCorruptedFilesListOrFailCleanly) {
    for (const char* name :
         {"hidden-veryhidden-chartsheet.xls", "biff5-visibility.xls", "sheet-types-macrosheet.xls"}) {
        const auto whole = ReadFixture(name);
        ASSERT_GT(whole.size(), 4096u) << name;
        int failures = 0;
        for (std::size_t length = 0; length < whole.size(); length += 61) {
            const std::vector<std::uint8_t> cut(whole.begin(),
                                                whole.begin() + static_cast<std::ptrdiff_t>(length));
            try {
                ListXlsSheets(cut, name);
            } catch (const automation::AutomationError& e) {
                EXPECT_EQ(std::string(e.what()).rfind("\"" + std::string(name) + "\" cannot be opened: ", 0),
                          0u);
                ++failures;
            }
        }
        EXPECT_GT(failures, 0) << name;
        std::uint32_t seed = 12345;
        for (int round = 0; round < 300; ++round) {
            auto corrupt = whole;
            for (int flips = 0; flips < 8; ++flips) {
                seed = seed * 1103515245u + 12345u;
                corrupt[seed % corrupt.size()] = static_cast<std::uint8_t>(seed >> 24);
            }
            try {
                ListXlsSheets(corrupt, name);
            } catch (const automation::AutomationError&) {
            }
        }
    }
}

}  // namespace
}  // namespace orv::legacy
