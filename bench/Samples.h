// The LibreOffice-backed operations on the program's two .xls samples, timed as the window runs them: cold (the
// operation starts its own office) and warm (an office started ahead once the window listed the workbooks).
#pragma once

#include <ostream>
#include <string>

namespace orv::bench {

// Prints a Markdown table of medians over `reps` runs; works on copies made in `folder`. Prints why when
// LibreOffice cannot run or the samples are missing.
void TimeSampleOperations(std::ostream& out, const std::string& samplesFolder, const std::string& folder, int reps);

}  // namespace orv::bench
