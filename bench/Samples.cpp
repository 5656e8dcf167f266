// Cold and warm timings of copy, rename and reorder on the .xls samples through LibreOffice.
#include "Samples.h"

#include <filesystem>
#include <functional>
#include <iostream>
#include <vector>

#include "Measure.h"
#include "Operations.h"
#include "Table.h"

#ifdef ORVANDEL_BENCH_WITH_LIBREOFFICE
#include "automation/libreoffice/LibreOfficeBackend.h"
#include "automation/libreoffice/WarmOffice.h"
#endif

namespace orv::bench {

namespace fs = std::filesystem;

void TimeSampleOperations(std::ostream& out, const std::string& samplesFolder, const std::string& folder, int reps) {
#ifdef ORVANDEL_BENCH_WITH_LIBREOFFICE
    const fs::path first = fs::path(samplesFolder) / "sample1.xls";
    const fs::path second = fs::path(samplesFolder) / "sample2.xls";
    if (!fs::exists(first) || !fs::exists(second)) {
        out << "The .xls samples were not found in " << samplesFolder << "; their timings are skipped.\n";
        return;
    }
    auto backend = libreoffice::MakeLibreOfficeBackend();
    std::string why;
    if (!backend->isAvailable(&why)) {
        out << "LibreOffice cannot run here (" << why << "); the timings on the samples are skipped.\n";
        return;
    }
    auto registry = std::make_shared<automation::BackendRegistry>();
    registry->Add(backend);
    const fs::path one = fs::path(folder) / "sample1.xls";
    const fs::path two = fs::path(folder) / "sample2.xls";
    auto fresh = [&] {
        fs::copy_file(first, one, fs::copy_options::overwrite_existing);
        fs::copy_file(second, two, fs::copy_options::overwrite_existing);
    };
    struct Operation {
        const char* label;
        std::function<void()> run;
    };
    const std::vector<Operation> operations = {
        {"copy \"Jan\" of sample1.xls into sample2.xls",
         [&] { TransferSheet(registry, one.string(), "Jan", two.string(), false); }},
        {"rename \"Jan\" of sample1.xls", [&] { RenameSheet(registry, one.string(), "Jan", "January"); }},
        {"move \"Summary\" of sample1.xls up one place", [&] { MoveSheetUp(registry, one.string(), "Summary"); }},
    };
    out << "| Operation on the .xls samples | Cold ms (the operation starts LibreOffice) | Warm ms (started "
           "ahead, as the window does) | Target |\n|---|--:|--:|---|\n";
    for (const auto& operation : operations) {
        std::vector<double> cold, warm;
        for (int i = 0; i < reps; ++i) {
            fresh();
            cold.push_back(TimeMs(operation.run));
            fresh();
            libreoffice::WarmUp();
            libreoffice::AwaitWarmOffice();
            warm.push_back(TimeMs(operation.run));
            // The operation's end starts the next office; let it settle so that it does not load the next run.
            libreoffice::AwaitWarmOffice();
            libreoffice::EndWarmOffice();
        }
        const double warmMs = Median(warm);
        out << "| " << operation.label << " | " << Format(Median(cold)) << " | " << Format(warmMs) << " | <= 400 ms warm: "
            << (warmMs <= 400 ? "met" : "MISSED") << " |\n";
    }
#else
    (void)samplesFolder;
    (void)folder;
    (void)reps;
    out << "This build has no LibreOffice backend; the timings on the samples are skipped.\n";
#endif
}

}  // namespace orv::bench
