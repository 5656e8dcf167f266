// The operations measured for each workbook size, their references and their targets.
#include "Cases.h"

#include <algorithm>
#include <filesystem>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <stdexcept>

#include "Measure.h"
#include "Operations.h"
#include "References.h"
#include "WorkbookGenerator.h"
#include "automation/ooxml/OoxmlBackend.h"
#include "platform/AtomicFile.h"
#include "undo/UndoStore.h"
#ifdef ORVANDEL_BENCH_WITH_LIBREOFFICE
#include "automation/libreoffice/LibreOfficeBackend.h"
#include "automation/libreoffice/LibreOfficeWorkbook.h"
#endif

namespace fs = std::filesystem;

namespace orv::bench {

namespace {

struct Paths {
    std::string source;
    std::string target;
};

struct Case {
    std::string key;
    std::string label;
    std::function<void(const Registry&, const Paths&)> engine;
    std::function<void(const Registry&, const Paths&)> libreOffice;  // the same calls, unless listing differs
    std::string referenceLabel;
    std::function<double(const Paths&)> reference;
    std::string target;
    std::function<std::string(const ResultRow&)> verdict;
    std::function<void(const Paths&)>
        check;  // throws when the engine's result is not what the operation means
    bool engineOnly = false;  // nothing for LibreOffice to be compared on
};

std::shared_ptr<const automation::BackendRegistry> EngineRegistry() {
    auto registry = std::make_shared<automation::BackendRegistry>();
    registry->Add(ooxml::MakeOoxmlBackend());
    return registry;
}

#ifdef ORVANDEL_BENCH_WITH_LIBREOFFICE
std::shared_ptr<const automation::BackendRegistry> OfficeRegistry() {
    auto registry = std::make_shared<automation::BackendRegistry>();
    registry->Add(libreoffice::MakeLibreOfficeBackend({true}));
    return registry;
}
#endif

std::string Join(const std::vector<std::string>& parts) {
    std::string out;
    for (const auto& p : parts) out += (out.empty() ? "" : "; ") + p;
    return out.empty() ? "met" : "MISSED: " + out;
}

// The "at least `factor` times faster than LibreOffice" part of a verdict, empty when met.
std::vector<std::string> VersusOffice(const ResultRow& row, double factor) {
    if (!row.libreOfficeMs) return {};
    const double ratio = *row.libreOfficeMs / row.engineMs;
    if (ratio >= factor) return {};
    return {"only " + Format(ratio) + "x faster than LibreOffice (target " + Format(factor) + "x)"};
}

std::function<std::string(const ResultRow&)> RatioVerdict(double maxRatio, double officeFactor) {
    return [=](const ResultRow& row) {
        auto missed = VersusOffice(row, officeFactor);
        if (row.engineMs > maxRatio * row.referenceMs) {
            missed.push_back(Format(row.engineMs / row.referenceMs) + "x the reference (target " +
                             Format(maxRatio) + "x)");
        }
        return Join(missed) + (row.libreOfficeMs ? "" : " (LibreOffice not measured)");
    };
}

// `verdict`, with a peak RSS above `boundMb` counted as missed too.
std::function<std::string(const ResultRow&)> WithinMemory(double boundMb,
                                                          std::function<std::string(const ResultRow&)> verdict) {
    return [=](const ResultRow& row) {
        const std::string ratio = verdict(row);
        if (row.peakRssMb <= boundMb) return ratio;
        const std::string memory =
            "peak RSS " + Format(row.peakRssMb) + " MB (bound " + Format(boundMb) + " MB)";
        return ratio.rfind("met", 0) == 0 ? "MISSED: " + memory + ratio.substr(3) : ratio + "; " + memory;
    };
}

void Expect(bool condition, const std::string& what) {
    if (!condition) throw std::runtime_error("The engine's result is wrong: " + what);
}

std::vector<std::string> NamesOf(const std::string& file) {
    std::vector<std::string> names;
    auto application = automation::OpenWorkbookInstance(EngineRegistry(), file);
    auto& workbooks = application->Workbooks();
    auto workbook = workbooks(workbooks.count());
    for (int i = 1; i <= workbook->Sheets().count(); ++i) names.push_back(workbook->Sheets()(i)->name());
    application->Quit();
    return names;
}

bool Contains(const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

// Where the copy into a new workbook and the split write.
std::string Made(const Paths& p) { return p.target.substr(0, p.target.size() - 5) + "-new.xlsx"; }
std::string SplitFolder(const Paths& p) { return p.target.substr(0, p.target.size() - 5) + "-split"; }

// The macro-enabled twin of a generated workbook's path.
std::string MacroEnabled(const std::string& path) { return path.substr(0, path.size() - 5) + "-code.xlsm"; }

std::vector<Case> Cases(const std::string& pristine, const std::string& lastSheet, double dataPartMb) {
    const std::string dataPart = "xl/worksheets/sheet2.xml";
    const auto dataParts = PartsContaining(pristine, "Data!");
    const std::string zlibLabel =
        "zlib inflate + deflate of the " + std::to_string(dataParts.size()) + " parts naming it";
    const double largest = dataPartMb;
    // Memory may grow with the largest part an operation rewrites, not with the workbook.
    const double memoryBound = 1.5 * largest + 50;
    const std::string memoryTarget = "RSS <= 1.5x part + 50 MB (" + Format(memoryBound) + ")";
    std::vector<Case> cases;
    cases.push_back(
        {"list", "list (LibreOffice backend reads the file itself)",
         [](const Registry& r, const Paths& p) { ListSheets(r, p.source); }, nullptr,
         "zip directory + workbook part", [](const Paths& p) { return ListReferenceMs(p.source); }, "< 10 ms",
         [](const ResultRow& row) {
             return Join(row.engineMs < 10 ? std::vector<std::string>{}
                                           : std::vector<std::string>{Format(row.engineMs) + " ms"});
         },
         [](const Paths& p) { Expect(NamesOf(p.source).size() > 3, "too few sheets listed"); }});
    cases.push_back({"list-load", "list vs LibreOffice loading the workbook",
                     [](const Registry& r, const Paths& p) { ListSheets(r, p.source); },
                     [](const Registry& r, const Paths& p) {
#ifdef ORVANDEL_BENCH_WITH_LIBREOFFICE
                         // The session itself: the instance wraps its workbooks, and only the backend's own
                         // workbook can be told to load into the office.
                         (void)r;
                         auto session = libreoffice::MakeLibreOfficeBackend({true})->Start();
                         auto workbook = session->Open(p.source);
                         auto* office = dynamic_cast<libreoffice::LoWorkbook*>(workbook.get());
                         if (!office)
                             throw std::runtime_error("the LibreOffice session returned another workbook");
                         office->Load();
                         session->Quit();
#else
                         (void)r;
                         (void)p;
#endif
                     },
                     "zip directory + workbook part",
                     [](const Paths& p) { return ListReferenceMs(p.source); },
                     "< 10 ms and >= 100x LibreOffice",
                     [](const ResultRow& row) {
                         auto missed = VersusOffice(row, 100);
                         if (row.engineMs >= 10) missed.push_back(Format(row.engineMs) + " ms");
                         return Join(missed) + (row.libreOfficeMs ? "" : " (LibreOffice not measured)");
                     },
                     nullptr});
    cases.push_back(
        {"rename-ref", "rename \"Data\" (every sheet refers to it)",
         [](const Registry& r, const Paths& p) { RenameSheet(r, p.source, "Data", "Figures"); }, nullptr,
         zlibLabel, [=](const Paths& p) { return InflateDeflateMs(p.source, dataParts); },
         ">= 10x LibreOffice, " + memoryTarget + "; ratio to zlib reported",
         WithinMemory(memoryBound, RatioVerdict(1e9, 10)),
         [](const Paths& p) { Expect(Contains(NamesOf(p.source), "Figures"), "no sheet \"Figures\""); }});
    cases.push_back(
        {"rename-free", "rename \"Notes\" (no formula refers to it)",
         [](const Registry& r, const Paths& p) { RenameSheet(r, p.source, "Notes", "Remarks"); }, nullptr,
         "unzip -p + cp", [](const Paths& p) { return UnzipMs(p.source) + CpMs(p.source); },
         "<= 1.5x ref, >= 10x LibreOffice", RatioVerdict(1.5, 10),
         [](const Paths& p) { Expect(Contains(NamesOf(p.source), "Remarks"), "no sheet \"Remarks\""); }});
    // The undo history keeps the replaced file as a hard link: the same rename with the history kept costs what
    // the plain one does (the reference here), plus hashing the file the operation left.
    cases.push_back(
        {"rename-undo", "rename \"Notes\" keeping the file it replaces for undo",
         [](const Registry& r, const Paths& p) {
             undo::Journal journal((fs::path(p.source).parent_path() / "undo-store").string(), "rename");
             {
                 const automation::ScopedSaveObserver observing(&journal);
                 RenameSheet(r, p.source, "Notes", "Remarks");
             }
             journal.Commit();
         },
         nullptr, "the same rename without the history",
         [=](const Paths& p) {
             const std::string plain = p.source + ".plain.xlsx";
             fs::copy_file(p.source, plain, fs::copy_options::overwrite_existing);
             const double ms = TimeMs([&] { RenameSheet(EngineRegistry(), plain, "Notes", "Remarks"); });
             fs::remove(plain);
             return ms;
         },
         "<= 1.1x the plain rename", RatioVerdict(1.1, 0),
         [](const Paths& p) { Expect(Contains(NamesOf(p.source), "Remarks"), "no sheet \"Remarks\""); }, true});
    cases.push_back(
        {"move-up", "move the last sheet up one place",
         [=](const Registry& r, const Paths& p) { MoveSheetUp(r, p.source, lastSheet); }, nullptr, "cp",
         [](const Paths& p) { return CpMs(p.source); }, "<= 3x cp, >= 10x LibreOffice", RatioVerdict(3, 10),
         [=](const Paths& p) {
             const auto names = NamesOf(p.source);
             Expect(names.size() > 2 && names[names.size() - 2] == lastSheet, "the sheet did not move up");
         }});
    cases.push_back({"move-up-durable", "move the last sheet up one place (vs a durable copy)",
                     [=](const Registry& r, const Paths& p) { MoveSheetUp(r, p.source, lastSheet); }, nullptr,
                     "cp + sync of the copy", [](const Paths& p) { return CpSyncMs(p.source); },
                     "(information)", [](const ResultRow&) { return std::string("-"); }, nullptr});
    cases.push_back(
        {"delete-free", "delete \"Notes\" (no formula refers to it)",
         [](const Registry& r, const Paths& p) { DeleteSheet(r, p.source, "Notes"); }, nullptr,
         "unzip -p + cp", [](const Paths& p) { return UnzipMs(p.source) + CpMs(p.source); },
         "<= 1.5x ref, >= 10x LibreOffice", RatioVerdict(1.5, 10),
         [](const Paths& p) { Expect(!Contains(NamesOf(p.source), "Notes"), "\"Notes\" is still there"); }});
    cases.push_back(
        {"delete-ref", "delete \"Data\" (every sheet refers to it)",
         [](const Registry& r, const Paths& p) { DeleteSheet(r, p.source, "Data"); }, nullptr, zlibLabel,
         [=](const Paths& p) { return InflateDeflateMs(p.source, dataParts); },
         ">= 10x LibreOffice, " + memoryTarget + "; ratio to zlib reported",
         WithinMemory(memoryBound, RatioVerdict(1e9, 10)),
         [](const Paths& p) { Expect(!Contains(NamesOf(p.source), "Data"), "\"Data\" is still there"); }});
    cases.push_back(
        {"copy", "copy \"Data\" into another workbook (1 MB)",
         [](const Registry& r, const Paths& p) { TransferSheet(r, p.source, "Data", p.target, false); },
         nullptr, "cp target + inflate the sheet",
         [=](const Paths& p) { return CpMs(p.target) + InflateMs(p.source, dataPart); },
         "<= 3x ref, " + memoryTarget + ", >= 10x LibreOffice", WithinMemory(memoryBound, RatioVerdict(3, 10)),
         [](const Paths& p) {
             Expect(Contains(NamesOf(p.target), "Data (2)"), "no \"Data (2)\" in the target");
         }});
    // The same copy between macro-enabled workbooks (see RunSize) whose projects hold 1 MB of code each: what
    // the sheet's module costs on top of the plain copy.
    cases.push_back(
        {"copy-code", "copy \"Data\" with its module between workbooks with 1 MB projects",
         [](const Registry& r, const Paths& p) {
             TransferSheet(r, MacroEnabled(p.source), "Data", MacroEnabled(p.target), false);
         },
         nullptr, "the same copy without projects",
         [](const Paths& p) { return TimeMs([&] { TransferSheet(EngineRegistry(), p.source, "Data", p.target, false); }); },
         "<= the plain copy + 50 ms",
         [](const ResultRow& row) {
             const double added = row.engineMs - row.referenceMs;
             return Join(added <= 50 ? std::vector<std::string>{}
                                     : std::vector<std::string>{"adds " + Format(added) + " ms (bound 50 ms)"});
         },
         [](const Paths& p) {
             Expect(Contains(NamesOf(MacroEnabled(p.target)), "Data (2)"), "no \"Data (2)\" in the target");
         },
         true});
    // What a copy into a new workbook and a split write is the parts of the sheets they carry: the references
    // copy the file and inflate those parts. Each first clears what the last run made, before the engine's
    // clock starts, as a new file must not exist.
    cases.push_back(
        {"copy-new", "copy \"Data\" into a new workbook",
         [](const Registry& r, const Paths& p) { CopyIntoNew(r, p.source, "Data", Made(p)); }, nullptr,
         "cp source + inflate the sheet",
         [=](const Paths& p) {
             fs::remove(Made(p));
             return CpMs(p.source) + InflateMs(p.source, dataPart);
         },
         "<= 2x ref, " + memoryTarget, WithinMemory(memoryBound, RatioVerdict(2, 0)),
         [](const Paths& p) { Expect(NamesOf(Made(p)) == std::vector<std::string>{"Data"}, "the new workbook is not \"Data\" alone"); },
         true});
    // What a split writes is known once it ran: the links' caches of the cells the sheets read are most of it.
    // An untimed split is made once, and its files' parts inflated.
    auto splitWrites = std::make_shared<std::optional<double>>();
    cases.push_back(
        {"split", "split into one workbook per sheet",
         [](const Registry& r, const Paths& p) { SplitWorkbook(r, p.source, SplitFolder(p)); }, nullptr,
         "cp source + inflate every part written",
         [=](const Paths& p) {
             auto clear = [&] {
                 fs::remove_all(SplitFolder(p));
                 fs::create_directory(SplitFolder(p));
             };
             clear();
             if (!*splitWrites) {
                 SplitWorkbook(EngineRegistry(), p.source, SplitFolder(p));
                 double ms = 0;
                 for (const auto& file : fs::directory_iterator(SplitFolder(p)))
                     ms += InflateEveryPartMs(file.path().string());
                 *splitWrites = ms;
                 clear();
             }
             return CpMs(p.source) + **splitWrites;
         },
         "<= 2x ref, " + memoryTarget, WithinMemory(memoryBound, RatioVerdict(2, 0)),
         [](const Paths& p) { Expect(fs::exists(fs::path(SplitFolder(p)) / "Data.xlsx"), "no Data.xlsx"); }, true});
    cases.push_back(
        {"move-between", "move \"Calc 1\" into another workbook (1 MB)",
         [](const Registry& r, const Paths& p) { TransferSheet(r, p.source, "Calc 1", p.target, true); },
         nullptr, "cp source + cp target", [](const Paths& p) { return CpMs(p.source) + CpMs(p.target); },
         ">= 10x LibreOffice, " + memoryTarget, WithinMemory(memoryBound, RatioVerdict(1e9, 10)),
         [](const Paths& p) {
             Expect(!Contains(NamesOf(p.source), "Calc 1"), "\"Calc 1\" is still in the source");
             Expect(Contains(NamesOf(p.target), "Calc 1 (2)"), "no \"Calc 1 (2)\" in the target");
         }});
    return cases;
}

// On the wide workbook the references are given for information: what counts is a bound on the time, which
// work growing faster than the sheets and formats would break, and LibreOffice.
std::vector<Case> WideCases(const std::string& pristine, const std::string& lastSheet, double dataPartMb) {
    constexpr double kBoundMs = 1000;
    std::vector<Case> wide;
    for (Case& c : Cases(pristine, lastSheet, dataPartMb)) {
        // The listing is compared with LibreOffice loading the workbook; the LibreOffice backend lists a file
        // by reading it itself.
        if (c.key != "list-load" && c.key != "rename-ref" && c.key != "delete-ref" && c.key != "move-up" &&
            c.key != "copy")
            continue;
        c.target = "<= 1 s, >= 10x LibreOffice";
        c.verdict = [](const ResultRow& row) {
            auto missed = VersusOffice(row, 10);
            if (row.engineMs > kBoundMs) missed.push_back(Format(row.engineMs) + " ms (bound 1000 ms)");
            return Join(missed) + (row.libreOfficeMs ? "" : " (LibreOffice not measured)");
        };
        wide.push_back(std::move(c));
    }
    return wide;
}

void Fresh(const std::string& from, const std::string& to) {
    fs::copy_file(from, to, fs::copy_options::overwrite_existing);
    // The macro-enabled twin of a generated workbook, when there is one, is made fresh with it.
    if (fs::exists(MacroEnabled(from))) fs::copy_file(MacroEnabled(from), MacroEnabled(to), fs::copy_options::overwrite_existing);
}

}  // namespace

bool LibreOfficeAvailable(std::string* why) {
#ifdef ORVANDEL_BENCH_WITH_LIBREOFFICE
    return libreoffice::MakeLibreOfficeBackend({true})->isAvailable(why);
#else
    *why = "this build has no LibreOffice backend";
    return false;
#endif
}

std::vector<ResultRow> RunSize(Options& options, int megabytes) {
    const bool wide = megabytes == kWide;
    const fs::path folder = options.folder;
    const std::string pristine =
        (folder / (wide ? std::string("workbook-wide.xlsx") : "workbook-" + std::to_string(megabytes) + "mb.xlsx"))
            .string();
    const std::string pristineTarget = (folder / (wide ? "target-wide.xlsx" : "target-1mb.xlsx")).string();
    const WorkbookShape shape = wide ? WideShape() : ShapeForMegabytes(megabytes);
    if (!fs::exists(pristine)) {
        std::cerr << "Generating " << pristine << "...\n";
        GenerateWorkbook(pristine, shape);
    }
    if (!fs::exists(pristineTarget)) {
        WorkbookShape target = ShapeForMegabytes(1);
        target.seed = 7;
        // A copy into the wide target merges thousands of formats into thousands.
        if (wide) target.cellFormats = shape.cellFormats;
        GenerateWorkbook(pristineTarget, target);
    }
    if (!fs::exists(MacroEnabled(pristine))) MakeMacroEnabled(pristine, MacroEnabled(pristine), 1024, "Sheet2");
    if (!fs::exists(MacroEnabled(pristineTarget)))
        MakeMacroEnabled(pristineTarget, MacroEnabled(pristineTarget), 1024, "Sheet2");
    const double dataMb = EntrySizeMb(pristine, "xl/worksheets/sheet2.xml");
    const std::string label = Format(static_cast<double>(fs::file_size(pristine)) / (1024.0 * 1024.0)) + " MB" +
                              (wide ? ", wide" : "");
    const std::string name = wide ? std::string("wide") : std::to_string(megabytes) + " MB";
    char lastSheet[16];
    std::snprintf(lastSheet, sizeof lastSheet, "S%03d", shape.smallSheets);
    options.fileNotes.push_back(
        "- " + label + " workbook: " + std::to_string(3 + shape.calcSheets + shape.smallSheets) +
        " sheets; \"Data\" " + std::to_string(shape.dataRows) + " rows (" + Format(dataMb) +
        " MB inflated); " + std::to_string(shape.calcSheets) + " \"Calc\" sheets of " +
        std::to_string(shape.calcRows) + " formula rows; " + std::to_string(shape.sharedStrings) +
        " shared strings; a " + std::to_string(shape.imageKilobytes) + " KB picture" +
        (shape.cellFormats > 0 ? "; " + std::to_string(4 + shape.cellFormats) +
                                     " cell formats, Data's numbers using them all, copied into a workbook of as "
                                     "many others"
                               : "") +
        ".");

    const Paths work{(folder / "work-source.xlsx").string(), (folder / "work-target.xlsx").string()};
    const int reps = megabytes > 10 ? std::min(options.reps, 3) : options.reps;
    const bool office = options.libreOffice && (wide || megabytes <= options.loMaxMb);
    const auto engineRegistry = EngineRegistry();
    std::vector<ResultRow> rows;
    for (const Case& c : wide ? WideCases(pristine, lastSheet, dataMb) : Cases(pristine, lastSheet, dataMb)) {
        if (!options.only.empty() && c.key.find(options.only) == std::string::npos) continue;
        ResultRow row;
        row.operation = c.label;
        row.size = label;
        row.reference = c.referenceLabel;
        row.target = c.target;
        std::vector<double> engine, cpu, reference;
        std::string failure;
        for (int rep = 0; rep < reps && failure.empty(); ++rep) {
            Fresh(pristine, work.source);
            Fresh(pristineTarget, work.target);
            reference.push_back(c.reference(work));
            const ChildRun run = RunInChild([&] { c.engine(engineRegistry, work); }, options.timeoutSeconds);
            if (run.timedOut) {
                failure = "stopped after " + std::to_string(options.timeoutSeconds) + " s";
                row.timedOut = true;
                engine.push_back(options.timeoutSeconds * 1000.0);
                break;
            }
            if (!run.error.empty()) throw std::runtime_error(c.key + " failed on the engine: " + run.error);
            engine.push_back(run.ms);
            cpu.push_back(run.cpuMs);
            row.peakRssMb = std::max(row.peakRssMb, options.baseRssMb + run.peakGrowthMb);
            if (rep == 0 && c.check) c.check(work);
        }
        row.engineMs = Median(engine);
        row.engineCpuMs = Median(cpu);
        row.referenceMs = Median(reference);
        std::cerr << name << " " << c.key << ": engine " << (row.timedOut ? "> " : "")
                  << Format(row.engineMs) << " ms, reference " << Format(row.referenceMs) << " ms\n";
#ifdef ORVANDEL_BENCH_WITH_LIBREOFFICE
        if (office && c.engineOnly) {
            row.libreOfficeNote = "not compared";
        } else if (office && row.timedOut) {
            row.libreOfficeNote = "not run (the engine was stopped)";
        } else if (office) {
            const auto officeRegistry = OfficeRegistry();
            const auto& run = c.libreOffice ? c.libreOffice : c.engine;
            std::vector<double> times;
            try {
                for (int rep = 0; rep < options.loReps; ++rep) {
                    Fresh(pristine, work.source);
                    Fresh(pristineTarget, work.target);
                    times.push_back(TimeMs([&] { run(officeRegistry, work); }));
                }
                row.libreOfficeMs = Median(times);
                std::cerr << name << " " << c.key << ": LibreOffice " << Format(*row.libreOfficeMs)
                          << " ms\n";
            } catch (const std::exception& e) {
                row.libreOfficeNote = std::string("failed: ") + e.what();
                std::cerr << name << " " << c.key << ": LibreOffice failed: " << e.what() << "\n";
            }
        }
#endif
        if (!office) {
            row.libreOfficeNote = options.libreOffice
                                      ? "skipped above " + std::to_string(options.loMaxMb) + " MB"
                                      : "skipped: " + options.libreOfficeMissing;
        }
        row.verdict = row.timedOut ? "MISSED: " + failure : c.verdict(row);
        rows.push_back(row);
    }
    fs::remove(work.source);
    fs::remove(work.target);
    fs::remove(Made(work));
    fs::remove_all(SplitFolder(work));
    return rows;
}

}  // namespace orv::bench
