// The benchmark cases: for one workbook size, each operation on the engine, on LibreOffice and against its
// physical reference, repeated on fresh copies of the generated files.
#pragma once

#include <string>
#include <vector>

#include "Table.h"

namespace orv::bench {

struct Options {
    int reps = 7;
    int loReps = 3;
    int loMaxMb = 10;
    int timeoutSeconds = 120;  // an engine run taking longer is stopped and reported
    bool libreOffice = true;
    std::string libreOfficeMissing;      // why the LibreOffice column is skipped
    std::string only;                    // run only operations whose key contains this
    std::string folder;                  // where workbooks are generated
    double baseRssMb = 0;                // the resident set of the program before it did anything
    std::vector<std::string> fileNotes;  // lines describing the generated files, for the report
};

// True when the LibreOffice backend can start an office here; otherwise `why` says what is missing.
bool LibreOfficeAvailable(std::string* why);

// The size that stands for the wide workbook (WideShape) in RunSize.
inline constexpr int kWide = 0;

// Generates the workbook of about `megabytes` MB, or the wide one (and the copy target), and measures every
// operation on it.
// Throws std::runtime_error or AutomationError when an engine operation fails.
std::vector<ResultRow> RunSize(Options& options, int megabytes);

}  // namespace orv::bench
