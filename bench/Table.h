// The result table of the benchmark: one row per operation and workbook size, printed as Markdown.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace orv::bench {

struct ResultRow {
    std::string operation;
    std::string size;
    double engineMs = 0;
    double engineCpuMs = 0;  // median CPU time of the engine runs
    bool timedOut = false;   // engineMs is then the limit at which the run was stopped
    std::string reference;   // what the physical reference is
    double referenceMs = 0;
    std::optional<double> libreOfficeMs;  // nullopt: not measured (the note says why)
    std::string libreOfficeNote;
    double peakRssMb = 0;
    std::string target;   // the target in words
    std::string verdict;  // "met", "MISSED (...)", or "-" when the row has no target
};

// Prints `rows` as one Markdown table; ratios are computed from the row's own medians.
void PrintTable(std::ostream& out, const std::vector<ResultRow>& rows);

// "12.3" style formatting with a sensible number of digits.
std::string Format(double value);

}  // namespace orv::bench
