// Writes synthetic benchmark workbooks: many sheets, a large sheet of numbers, shared strings and styles,
// formula sheets referring across sheets, an unreferenced sheet and a drawing with an image.
#pragma once

#include <cstdint>
#include <string>

namespace orv::bench {

// The shape of one generated workbook.
struct WorkbookShape {
    int dataRows = 1000;      // rows of "Data": a shared string, six styled numbers and a formula per row
    int calcSheets = 2;       // "Calc 1".."Calc N": formulas on Data and on the previous Calc sheet
    int calcRows = 500;       // rows of each Calc sheet
    int notesRows = 200;      // rows of "Notes", a sheet no formula refers to
    int smallSheets = 20;     // "S001".."S0NN": a few formulas on Data each
    int sharedStrings = 500;  // distinct shared strings
    int imageKilobytes = 64;  // the picture on "Summary"
    int cellFormats = 0;      // formats beyond the four fixed ones, each with a font of its own, Data's numbers
                              // taking them in turn
    std::uint32_t seed = 1;
};

// A shape whose package is about `megabytes` MB (1, 10 and 100 are calibrated; others are scaled from 10).
WorkbookShape ShapeForMegabytes(int megabytes);

// A workbook wide rather than large: 2,000 sheets and 4,000 cell formats, where what grows with the number of
// sheets, parts or formats shows.
WorkbookShape WideShape();

// Writes the workbook of `shape` to `path` (replacing it); throws std::runtime_error saying what failed.
void GenerateWorkbook(const std::string& path, const WorkbookShape& shape);

// Writes to `to` (an .xlsm) the generated workbook `from` made macro-enabled, with a project of about
// `codeKilobytes` KB of code: a tenth of it in the module of sheet "Data" (code name `dataCodeName`), the rest
// in modules of their own. Throws what the engine throws.
void MakeMacroEnabled(const std::string& from, const std::string& to, int codeKilobytes,
                      const std::string& dataCodeName);

}  // namespace orv::bench
