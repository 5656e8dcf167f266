// orvandel-bench: generates workbooks of about 1, 10 and 100 MB in a temporary folder and times each sheet
// operation through the object model on the engine, on LibreOffice and against the physical references.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include "Cases.h"
#include "Measure.h"
#include "Samples.h"
#include "Table.h"
#include "WorkbookGenerator.h"

namespace fs = std::filesystem;
using namespace orv::bench;

namespace {

constexpr const char* kUsage =
    "Usage: orvandel-bench [options]\n"
    "  --sizes 1,10,100     workbook sizes in MB, and 'wide' for 2,000 sheets and 4,000 cell formats (default\n"
    "                       1,10,100,wide; 300 for the largest, not in the default)\n"
    "  --reps N             engine repetitions per operation (default 7; at most 3 above 10 MB)\n"
    "  --lo-reps N          LibreOffice repetitions per operation (default 3)\n"
    "  --lo-max-mb N        skip LibreOffice above this size (default 10)\n"
    "  --no-libreoffice     skip the LibreOffice column\n"
    "  --timeout S          stop an engine run after S seconds and report it (default 120)\n"
    "  --only OPERATION     run only the operations whose key contains this text (list, rename-ref, "
    "rename-free,\n"
    "                       move-up, delete-free, delete-ref, copy, copy-code, move-between, samples)\n"
    "  --dir DIR            generate into DIR (kept) instead of a removed temporary folder\n"
    "Prints one Markdown table of medians to standard output and progress to standard error.\n";

std::vector<int> ParseSizes(const std::string& text) {
    std::vector<int> sizes;
    std::stringstream in(text);
    std::string item;
    while (std::getline(in, item, ',')) sizes.push_back(item == "wide" ? kWide : std::stoi(item));
    return sizes;
}

std::string LoadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string a, b, c;
    in >> a >> b >> c;
    return a + " " + b + " " + c;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    options.baseRssMb = RssMb();
    std::vector<int> sizes = {1, 10, 100, kWide};
    std::string dir;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                std::cerr << "orvandel-bench: " << arg << " needs a value.\n" << kUsage;
                std::exit(2);
            }
            return argv[++i];
        };
        if (arg == "--sizes") {
            sizes = ParseSizes(value());
        } else if (arg == "--reps") {
            options.reps = std::max(1, std::stoi(value()));
        } else if (arg == "--lo-reps") {
            options.loReps = std::max(1, std::stoi(value()));
        } else if (arg == "--lo-max-mb") {
            options.loMaxMb = std::stoi(value());
        } else if (arg == "--timeout") {
            options.timeoutSeconds = std::max(1, std::stoi(value()));
        } else if (arg == "--no-libreoffice") {
            options.libreOffice = false;
        } else if (arg == "--only") {
            options.only = value();
        } else if (arg == "--dir") {
            dir = value();
        } else {
            std::cerr << (arg == "--help" || arg == "-h" ? ""
                                                         : "orvandel-bench: unknown option " + arg + "\n")
                      << kUsage;
            return arg == "--help" || arg == "-h" ? 0 : 2;
        }
    }
    for (const char* program : {"cp", "unzip"}) {
        if (!HaveProgram(program)) {
            std::cerr << "orvandel-bench: the reference needs '" << program
                      << "' in PATH; install it and run again.\n";
            return 1;
        }
    }

    const bool keep = !dir.empty();
    try {
        if (keep) {
            fs::create_directories(dir);
        } else {
            std::string pattern = (fs::temp_directory_path() / "orvandel-bench-XXXXXX").string();
            if (!mkdtemp(pattern.data())) throw std::runtime_error("Cannot create a temporary folder");
            dir = pattern;
        }
        options.folder = dir;
        std::string why;
        options.libreOffice = options.libreOffice && LibreOfficeAvailable(&why);
        if (!options.libreOffice && why.empty()) why = "turned off with --no-libreoffice";
        if (!options.libreOffice) std::cerr << "LibreOffice column skipped: " << why << "\n";
        options.libreOfficeMissing = why;

        const std::string startLoad = LoadAverage();
        std::vector<ResultRow> rows;
        // Only the samples: no workbook needs generating.
        if (options.only == "samples") sizes.clear();
        for (int megabytes : sizes) {
            auto more = RunSize(options, megabytes);
            rows.insert(rows.end(), more.begin(), more.end());
        }
        std::cout << "Load average (1, 5, 15 min) at start: " << startLoad << "; at end: " << LoadAverage()
                  << "\n\n";
        for (const auto& line : options.fileNotes) std::cout << line << "\n";
        std::cout << "\n";
        if (!rows.empty()) PrintTable(std::cout, rows);
        if (options.libreOffice && (options.only.empty() || options.only == "samples")) {
            std::cerr << "Timing the .xls samples through LibreOffice, cold and warm...\n";
            std::cout << "\n";
            const fs::path exe = fs::read_symlink("/proc/self/exe");
            TimeSampleOperations(std::cout, (exe.parent_path() / "Samples").string(), dir, options.loReps);
        }
    } catch (const std::exception& e) {
        std::cerr << "orvandel-bench: " << e.what() << "\n";
        if (!keep && !dir.empty()) fs::remove_all(dir);
        return 1;
    }
    if (!keep) fs::remove_all(dir);
    return 0;
}
