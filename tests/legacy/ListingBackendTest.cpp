// Where nothing can change .xls and .ods workbooks (the Windows build without the spreadsheet application),
// they are listed from their files and every change is refused, in one text, before anything is written.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "automation/ooxml/OoxmlBackend.h"
#include "cli/SheetsTool.h"
#include "legacy/ListingBackend.h"

namespace orv::legacy::test {
namespace {

namespace fs = std::filesystem;

std::string Bytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(ListingBackend, ListsXlsAndOdsButRefusesToChangeThem) {
    const fs::path dir = fs::temp_directory_path() / "orvandel-windows-refusal";
    fs::remove_all(dir);
    fs::create_directories(dir);
    const fs::path xls = dir / "sample1.xls";
    fs::copy_file(fs::path(ORVANDEL_SAMPLES_DIR) / "sample1.xls", xls);
    const fs::path xlsx = dir / "sample1.xlsx";
    fs::copy_file(fs::path(ORVANDEL_SAMPLES_DIR) / "sample1.xlsx", xlsx);
    const std::string before = Bytes(xls), beforeXlsx = Bytes(xlsx);
    auto registry = std::make_shared<automation::BackendRegistry>();
    registry->Add(ooxml::MakeOoxmlBackend());
    registry->Add(MakeListingBackend());
    auto run = [&](std::vector<std::string> args, std::string& err) {
        std::ostringstream out, errors;
        const int status = cli::RunSheetsTool(args, out, errors, registry, (dir / "undo").string());
        err = errors.str();
        return std::make_pair(status, out.str());
    };
    std::string err;
    const auto listed = run({"list", xls.string()}, err);
    EXPECT_EQ(listed.first, 0) << err;
    EXPECT_FALSE(listed.second.empty());
    // A transfer with an .xlsx workbook is refused in the same words, and leaves that workbook alone too.
    for (const auto& args :
         std::vector<std::vector<std::string>>{{"rename", xls.string(), "#1", "Renamed"},
                                               {"delete", xls.string(), "#1"},
                                               {"reorder", xls.string(), "#1", "after", "#2"},
                                               {"copy", xls.string(), "#1", xlsx.string(), "after", "#1"},
                                               {"move", xlsx.string(), "#1", xls.string(), "after", "#1"}}) {
        const auto changed = run(args, err);
        EXPECT_EQ(changed.first, 1) << args[0];
        // It names the program that would change them, and what to do.
        EXPECT_NE(err.find("through the spreadsheet application, which is not installed on this computer"),
                  std::string::npos)
            << err;
        EXPECT_NE(err.find("install the spreadsheet application, then try again"), std::string::npos) << err;
        EXPECT_EQ(Bytes(xls), before) << args[0];
        EXPECT_EQ(Bytes(xlsx), beforeXlsx) << args[0];
    }
    fs::remove_all(dir);
}

}  // namespace
}  // namespace orv::legacy::test
