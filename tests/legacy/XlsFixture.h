// Builds small .xls files byte by byte for the listing tests: a compound file holding a BIFF5 or BIFF8
// workbook stream with chosen BoundSheet records, so every field the listing reads can be set exactly.
#pragma once

#include <gtest/gtest.h>
#include <zip.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "legacy/SheetListing.h"

namespace orv::legacy::test {

struct FixtureSheet {
    std::string nameBytes;   // BIFF8 compressed (Latin-1) or BIFF5 code-page bytes; UTF-16LE when wide
    bool wide = false;       // BIFF8 only: the name is stored as UTF-16LE
    std::uint8_t state = 0;  // 0 visible, 1 hidden, 2 very hidden
    std::uint8_t type = 0;   // 0 worksheet, 1 macro sheet, 2 chart, 6 module
    bool dialog = false;     // a worksheet record whose WSBOOL marks a dialog sheet
};

struct FixtureOptions {
    bool biff5 = false;           // Excel 5/95: stream "Book", byte-string names in `codePage`
    unsigned codePage = 0;        // 0: no CODEPAGE record
    bool filePass = false;        // an encryption record before the sheets
    bool omitGlobalsEof = false;  // the workbook records end without EOF
    std::string streamName;       // default "Workbook" (BIFF8) or "Book" (BIFF5)
};

// The bytes of a workbook stream with those sheets.
std::vector<std::uint8_t> MakeBiffStream(const std::vector<FixtureSheet>& sheets,
                                         const FixtureOptions& options);

// A compound file (512-byte sectors) holding one root stream; streams under 4096 bytes are padded with zeros.
std::vector<std::uint8_t> MakeCompoundFile(const std::string& streamName, std::vector<std::uint8_t> stream);

// Both in one: the bytes of an .xls file.
std::vector<std::uint8_t> MakeXls(const std::vector<FixtureSheet>& sheets,
                                  const FixtureOptions& options = {});

// UTF-16LE bytes of an ASCII or BMP text given as UTF-16 code units.
std::string Utf16Le(const std::u16string& text);

// A folder of its own per test, with writers of raw files and zip archives, and the failure of a listing.
class ListingFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        m_dir = std::filesystem::temp_directory_path() /
                ("orvandel-listing-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                 "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(m_dir);
        std::filesystem::create_directories(m_dir);
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }

    std::string Write(const std::string& name, const std::vector<std::uint8_t>& bytes) {
        const auto path = (m_dir / name).string();
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path;
    }
    std::string Write(const std::string& name, const std::string& text) {
        return Write(name, std::vector<std::uint8_t>(text.begin(), text.end()));
    }

    // A zip archive of (member, content) pairs; the first member is stored uncompressed like an ODF mimetype.
    std::string WriteZip(const std::string& name,
                         const std::vector<std::pair<std::string, std::string>>& members) {
        const auto path = (m_dir / name).string();
        int error = 0;
        zip_t* z = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
        EXPECT_NE(z, nullptr);
        for (const auto& [member, content] : members) {
            zip_source_t* source = zip_source_buffer(z, content.data(), content.size(), 0);
            const zip_int64_t index = zip_file_add(z, member.c_str(), source, ZIP_FL_OVERWRITE);
            if (&member == &members.front().first)
                zip_set_file_compression(z, static_cast<zip_uint64_t>(index), ZIP_CM_STORE, 0);
        }
        EXPECT_EQ(zip_close(z), 0);
        return path;
    }

    // An OOXML workbook with the worksheet "Data" and the entry "Module1" without a part (the application
    // lists a VBA project's modules so).
    std::string WriteModulesWorkbook() {
        return WriteZip(
            "modules.xlsx",
            {{"[Content_Types].xml", "<Types/>"},
             {"_rels/.rels",
              R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="xl/workbook.xml"/></Relationships>)"},
             {"xl/_rels/workbook.xml.rels",
              R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/sheet1.xml"/></Relationships>)"},
             {"xl/workbook.xml",
              R"(<workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"><sheets><sheet name="Data" sheetId="1" r:id="rId1"/><sheet name="Module1" sheetId="2" r:id=""/></sheets></workbook>)"}});
    }

    // The description ListSheets fails with, or "" when it does not fail.
    static std::string FailureOf(const std::string& path, automation::FileFormat format) {
        try {
            ListSheets(path, format);
        } catch (const automation::AutomationError& e) {
            return e.what();
        }
        return "";
    }

    std::filesystem::path m_dir;
};

}  // namespace orv::legacy::test
