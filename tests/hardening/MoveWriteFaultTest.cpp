// A move between two workbook files, of one sheet and of two together, with a failure injected at each step of
// each file write (the target is written first, then the source): every sheet is always in at least one of the
// two files, and both open.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <sstream>

#include "Files.h"
#include "SaveSteps.h"
#include "Workbooks.h"
#include "automation/Application.h"
#include "automation/ooxml/OoxmlBackend.h"
#include "cli/SheetsTool.h"
#include "engine/EngineError.h"
#include "engine/workbook/Workbook.h"

namespace orv::hardening {
namespace {

using Names = std::vector<std::string>;

std::shared_ptr<const automation::BackendRegistry> Registry() {
    auto registry = std::make_shared<automation::BackendRegistry>();
    registry->Add(ooxml::MakeOoxmlBackend());
    return registry;
}

// The sheet names of a workbook file, or nullopt when it does not open.
std::optional<Names> OnDisk(const std::string& path) {
    try {
        return engine::WorkbookDocument::Open(path)->SheetNames();
    } catch (const engine::EngineError&) {
        return std::nullopt;
    }
}

bool Has(const Names& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

int Move(const std::string& source, const Names& sheets, const std::string& target, std::string* err) {
    std::ostringstream out;
    std::ostringstream errors;
    std::vector<std::string> args{"move", source};
    args.insert(args.end(), sheets.begin(), sheets.end());
    args.insert(args.end(), {target, "after", "#1"});
    const int code = cli::RunSheetsTool(args, out, errors, Registry());
    *err = errors.str();
    return code;
}

TEST(MoveWriteFault, AFailureAtEveryFileWriteStepLosesNoSheet) {
    TempDir dir;
    const std::string source = dir.File("source.xlsx");
    const std::string target = dir.File("target.xlsx");
    const std::string sourceBytes = LargeWorkbook(1);
    auto targetParts = GoodParts();
    // The target's sheets are named apart from the source's so that the moved sheet keeps its name.
    for (auto& [name, content] : targetParts) {
        if (name != "xl/workbook.xml") continue;
        for (const auto& [from, to] : {std::pair{"\"Data\"", "\"T1\""}, {"\"Other\"", "\"T2\""}, {"\"Last\"", "\"T3\""}}) {
            content.replace(content.find(from), std::strlen(from), to);
        }
        content.replace(content.find("Other!"), 6, "T2!");
    }
    const std::string targetBytes = ZipParts(targetParts);

    int injected = 0;
    // One sheet, and a group of two moved together.
    for (const Names& moved : {Names{"Other"}, Names{"Data", "Other"}}) {
        SCOPED_TRACE("moving " + moved.front() + (moved.size() > 1 ? " and more" : ""));
        // A clean move shows the steps: both files are written.
        Spit(source, sourceBytes);
        Spit(target, targetBytes);
        std::string err;
        steps::Watch(dir.path().string());
        ASSERT_EQ(Move(source, moved, target, &err), cli::kDone) << err;
        const auto clean = steps::Stop();
        const auto renames = std::count_if(clean.begin(), clean.end(),
                                           [](const steps::Event& e) { return e.step == steps::Step::Rename; });
        ASSERT_EQ(renames, 2);
        ASSERT_EQ(clean[std::find_if(clean.begin(), clean.end(), [](const steps::Event& e) {
                            return e.step == steps::Step::Rename;
                        }) - clean.begin()].path,
                  target)
            << "the target is written first";

        for (const int error : {ENOSPC, EIO}) {
            for (int step = 1; step <= static_cast<int>(clean.size()); ++step) {
                Spit(source, sourceBytes);
                Spit(target, targetBytes);
                steps::Watch(dir.path().string(), step, error);
                const int code = Move(source, moved, target, &err);
                const auto events = steps::Stop();
                SCOPED_TRACE(std::string("failing ") + steps::Name(events.back().step) + " of " +
                             (events.back().path.find("target") != std::string::npos ? "target" : "source") +
                             ", step " + std::to_string(step));
                ++injected;
                EXPECT_EQ(code, cli::kFailed);
                EXPECT_NE(err.find("could not be saved"), std::string::npos) << err;
                const auto inSource = OnDisk(source);
                const auto inTarget = OnDisk(target);
                ASSERT_TRUE(inSource.has_value()) << "the source no longer opens";
                ASSERT_TRUE(inTarget.has_value()) << "the target no longer opens";
                for (const auto& sheet : moved) {
                    EXPECT_TRUE(Has(*inSource, sheet) || Has(*inTarget, sheet)) << sheet << " was lost";
                    // The source gives a sheet up only once the target holds the whole group.
                    if (!Has(*inSource, sheet)) {
                        for (const auto& arrived : moved) EXPECT_TRUE(Has(*inTarget, arrived)) << arrived;
                    }
                }
                EXPECT_EQ(Listing(dir.path()), (std::set<std::string>{"source.xlsx", "target.xlsx"}));
            }
        }
    }
    std::printf("failure points injected into moves: %d\n", injected);
}

}  // namespace
}  // namespace orv::hardening
