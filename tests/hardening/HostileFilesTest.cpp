// Every hostile or malformed workbook of the generated corpus, through every command of orvandel-sheets (and so
// every operation of the object model) in a child process bounded in time and memory: a clear failure that
// writes nothing, or a success whose files open again; never a crash, a hang or a runaway allocation.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>

#include "ChildProcess.h"
#include "Files.h"
#include "Workbooks.h"

namespace orv::hardening {
namespace {

const std::vector<HostileFile>& Corpus() {
    static const std::vector<HostileFile> corpus = HostileFiles(ORVANDEL_HARDENING_FIXTURES);
    return corpus;
}

ChildLimits Limits() {
    ChildLimits limits;
    limits.seconds = 120;          // sanitizer builds on a busy machine; a hang runs into it
    limits.memoryMegabytes = 3072;
    return limits;
}

ChildResult Tool(const std::vector<std::string>& args) {
    std::vector<std::string> argv{ORVANDEL_SHEETS_TOOL};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProgram(argv, Limits());
}

// A failure description a user can act on: a sentence of its own, not an implementation's exception text.
void ExpectClearFailure(const ChildResult& r, const std::string& command) {
    SCOPED_TRACE(command);
    EXPECT_EQ(r.out, "");
    ASSERT_EQ(r.err.rfind("orvandel-sheets: ", 0), 0u) << "no description on stderr: " << r.err;
    const std::string text = r.err.substr(17);
    EXPECT_GE(text.size(), 20u) << r.err;
    for (const char* leak : {"std::", "basic_string", "bad_alloc", "vector", "out_of_range", "stoi", "pugi",
                             "Assertion", "nullptr"}) {
        EXPECT_EQ(text.find(leak), std::string::npos) << "the description shows code: " << r.err;
    }
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << r.err;
}

struct Command {
    std::string label;
    std::vector<std::string> args;  // with {H} for the hostile file and {G} for the good one
    bool writesHostile = false;
    bool writesGood = false;
};

const std::vector<Command>& Commands() {
    static const std::vector<Command> commands{
        {"list", {"list", "{H}"}},
        {"rename", {"rename", "{H}", "#1", "Renamed"}, true},
        {"reorder", {"reorder", "{H}", "#1", "after", "#2"}, true},
        {"delete", {"delete", "{H}", "#1"}, true},
        {"copy from", {"copy", "{H}", "#1", "{G}", "after", "#1"}, false, true},
        {"move from", {"move", "{H}", "#1", "{G}", "after", "#1"}, true, true},
        {"copy into", {"copy", "{G}", "#1", "{H}", "after", "#1"}, true},
        {"move into", {"move", "{G}", "#1", "{H}", "after", "#1"}, true, true},
        {"copy renamed", {"copy", "{H}", "#2", "{G}", "after", "#1", "as", "Brought"}, false, true},
    };
    return commands;
}

}  // namespace

// Test names carry the label; the bytes would fill the screen.
void PrintTo(const HostileFile& file, std::ostream* os) { *os << file.label; }

namespace {

class HostileFileTest : public ::testing::TestWithParam<HostileFile> {};

TEST_P(HostileFileTest, EveryCommandFailsClearlyOrWritesAWorkbookThatOpens) {
    const HostileFile& file = GetParam();
    const std::string bytes = file.make();
    TempDir dir;
    const std::string hostile = dir.File("hostile" + file.extension);
    const std::string good = dir.File("good.xlsx");
    const std::string goodBytes = GoodWorkbook();
    for (const auto& command : Commands()) {
        SCOPED_TRACE(command.label);
        Spit(hostile, bytes);
        Spit(good, goodBytes);
        const auto before = Listing(dir.path());
        std::vector<std::string> args;
        for (const auto& a : command.args) args.push_back(a == "{H}" ? hostile : a == "{G}" ? good : a);
        const ChildResult r = Tool(args);
        ASSERT_FALSE(r.timedOut) << "no answer within the time limit";
        ASSERT_EQ(r.signal, 0) << r.Describe() << "\n" << r.err;
        ASSERT_TRUE(r.exitCode == 0 || r.exitCode == 1) << r.Describe() << "\n" << r.err;
        // Nothing is left beside the files: no temporary file, no lock file.
        EXPECT_EQ(Listing(dir.path()), before);
        // A move that failed after saving its target leaves the sheet in both files; both must open.
        const bool moveSavedTarget = r.exitCode == 1 && command.args[0] == "move" && Slurp(good) != goodBytes &&
                                     command.args[1] == "{H}";
        if (moveSavedTarget) {
            ExpectClearFailure(r, command.label);
            EXPECT_TRUE(Slurp(hostile) == bytes) << "the source was changed by a failed move";
            EXPECT_EQ(Tool({"list", good}).exitCode, 0) << "the target of a failed move does not open";
            continue;
        }
        if (r.exitCode == 1 || file.mustRefuse) {
            EXPECT_EQ(r.exitCode, 1) << "a command succeeded on a file that must be refused:\n" << r.out;
            ExpectClearFailure(r, command.label);
            EXPECT_TRUE(Slurp(hostile) == bytes) << "the hostile file was changed";
            EXPECT_TRUE(Slurp(good) == goodBytes) << "the good workbook was changed";
            continue;
        }
        // A success: every file it wrote opens again and lists its sheets.
        if (command.writesHostile) {
            const auto listed = Tool({"list", hostile});
            EXPECT_EQ(listed.exitCode, 0) << "the file written does not open again: " << listed.err;
        }
        if (command.writesGood || Slurp(good) != goodBytes) {
            const auto listed = Tool({"list", good});
            EXPECT_EQ(listed.exitCode, 0) << "the good workbook written does not open again: " << listed.err;
        }
    }
}

TEST(HostileCorpus, HoldsMoreThanAHundredDistinctFiles) {
    std::set<std::string> labels;
    std::map<std::string, std::string> contents;
    for (const auto& file : Corpus()) {
        EXPECT_TRUE(labels.insert(file.label).second) << file.label;
        const auto [it, fresh] = contents.emplace(file.make(), file.label);
        EXPECT_TRUE(fresh) << file.label << " is the same file as " << it->second;
    }
    EXPECT_GE(Corpus().size(), 100u);
    std::printf("hostile files: %zu (%zu must be refused)\n", Corpus().size(),
                static_cast<std::size_t>(std::count_if(Corpus().begin(), Corpus().end(),
                                                       [](const HostileFile& f) { return f.mustRefuse; })));
}

// With ORVANDEL_HARDENING_DUMP set to a folder, writes the corpus there, to reproduce a finding by hand or
// to seed a fuzzer.
TEST(HostileCorpus, DumpsToAFolderOnRequest) {
    const char* folder = std::getenv("ORVANDEL_HARDENING_DUMP");
    if (!folder) GTEST_SKIP() << "set ORVANDEL_HARDENING_DUMP to a folder to write the corpus there";
    for (const auto& file : Corpus()) Spit(std::string(folder) + "/" + file.label + file.extension, file.make());
    EXPECT_GE(Listing(folder).size(), Corpus().size());
}

INSTANTIATE_TEST_SUITE_P(Corpus, HostileFileTest, ::testing::ValuesIn(Corpus()),
                         [](const auto& info) { return info.param.label; });

}  // namespace
}  // namespace orv::hardening
