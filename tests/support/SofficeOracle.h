// LibreOffice as a test oracle: converting workbooks with soffice, robust against a start that fails under
// load (a fresh profile made by many programs at once), and saying what LibreOffice printed when it really
// cannot read a file.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace orv::testing {

// Converts each of `sources` into `format` ("fods", "xlsx"...) in `outDir` with the soffice at `soffice`,
// using one LibreOffice profile for the whole test program; a conversion that made nothing is tried again
// (three times in all). Returns "" when every output was made, else a description with soffice's exit status
// and output.
std::string SofficeConvert(const std::vector<std::filesystem::path>& sources, const std::string& format,
                           const std::filesystem::path& outDir, const std::string& soffice);

}  // namespace orv::testing
