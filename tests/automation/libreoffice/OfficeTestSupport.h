// What the LibreOffice session tests share: workbooks generated from flat OpenDocument text by a converting
// soffice run, their contents read back the same way, and a private temporary folder per test process.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace orv::libreoffice::test {

struct CellSpec {
    CellSpec(std::string value_, std::string formula_ = "", std::string style_ = "")
        : value(std::move(value_)), formula(std::move(formula_)), style(std::move(style_)) {}

    std::string value;    // a number or a text
    std::string formula;  // OpenFormula, e.g. "of:=[.A1]*2"; empty for a constant
    std::string style;    // a cell style of the workbook, or empty
};

struct SheetSpec {
    std::string name;
    bool hidden = false;
    std::vector<CellSpec> cells;  // the first row, from A1
};

struct WorkbookExtras {
    std::vector<std::pair<std::string, std::string>> names;  // workbook-scoped name, range ("$Calc.$A$1")
    std::vector<std::pair<std::string, std::string>> cellStyles;  // style name, background colour ("#ff0000")
};

// A flat OpenDocument spreadsheet with those sheets (and names and cell styles).
std::string Fods(const std::vector<SheetSpec>& sheets, const WorkbookExtras& extras = {});

// Converts `sources` to `format` ("xls", "ods", "xlsx", "fods") into `outDir` (see SofficeConvert); returns an
// empty string on success, otherwise what went wrong.
std::string Convert(const std::vector<std::filesystem::path>& sources, const std::string& format,
                    const std::filesystem::path& outDir);

struct ReadSheet {
    std::string name;
    bool hidden = false;
    std::vector<std::string> values;    // the first row as shown (numbers as written by the office)
    std::vector<std::string> formulas;  // the first row's formulas, "" for constants
};

// The sheets of a workbook file as LibreOffice reads it (through a conversion to flat ODF); empty on failure.
std::vector<ReadSheet> ReadBack(const std::filesystem::path& workbook, const std::filesystem::path& scratch);

// ReadBack for several workbooks of different stems in one run of LibreOffice, by file name.
std::map<std::string, std::vector<ReadSheet>> ReadBackAll(const std::vector<std::filesystem::path>& workbooks,
                                                          const std::filesystem::path& scratch);

// The sheets of a flat OpenDocument spreadsheet; empty when it cannot be read.
std::vector<ReadSheet> ReadFods(const std::filesystem::path& fods);

// The names of ReadBack's sheets in order.
std::vector<std::string> NamesOf(const std::vector<ReadSheet>& sheets);

// The sheet of that name, or a sheet named "<missing>" with no cells.
ReadSheet SheetNamed(const std::vector<ReadSheet>& sheets, const std::string& name);

}  // namespace orv::libreoffice::test
