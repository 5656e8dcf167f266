// A child process saving a large workbook over and over is killed with SIGKILL at random moments: afterwards
// the file is always a whole workbook, the old one or one of the new ones, and every part of it reads.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <set>
#include <thread>

#include "Files.h"
#include "Workbooks.h"
#include "engine/EngineError.h"
#include "engine/workbook/Workbook.h"

namespace orv::hardening {
namespace {

using engine::WorkbookDocument;

// Renames the first sheet to R<run>G1, R<run>G2, ... and saves, until killed.
[[noreturn]] void SaveForever(const std::string& path, int run) {
    for (int generation = 1;; ++generation) {
        try {
            auto doc = WorkbookDocument::Open(path);
            doc->Rename(0, "R" + std::to_string(run) + "G" + std::to_string(generation));
            doc->Save();
        } catch (const engine::EngineError& e) {
            std::fprintf(stderr, "%s\n", e.what());
            _exit(3);
        }
    }
}

TEST(KillWhileSaving, TheFileIsAlwaysAWholeWorkbook) {
    TempDir dir;
    const std::string path = dir.File("large.xlsx");
    Spit(path, LargeWorkbook(20));
    // One save's duration sets the range of the kill moments (it only spreads them; nothing is timed).
    const auto start = std::chrono::steady_clock::now();
    {
        auto doc = WorkbookDocument::Open(path);
        doc->Rename(0, "G0");
        doc->Save();
    }
    const auto saveMs = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    std::mt19937 random(20261207);
    std::uniform_int_distribution<long> delayMs(1, 4 * saveMs.count() + 5);
    // On a loaded machine saves take longer than the one measured: runs past the first kRuns, made only while
    // too few runs saved, wait longer before their kill.
    std::uniform_int_distribution<long> laterDelayMs(4 * saveMs.count() + 5, 12 * saveMs.count() + 50);
    constexpr int kRuns = 25;
    int leftovers = 0;
    int runsThatSaved = 0;
    std::string previous = "G0";
    int run = 0;
    for (; run < kRuns || (runsThatSaved < kRuns / 5 && run < 3 * kRuns); ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        std::fflush(nullptr);
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) SaveForever(path, run);
        std::this_thread::sleep_for(std::chrono::milliseconds(run < kRuns ? delayMs(random) : laterDelayMs(random)));
        kill(pid, SIGKILL);
        int status = 0;
        waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the saving child stopped by itself, status " << status;

        std::unique_ptr<WorkbookDocument> doc;
        ASSERT_NO_THROW(doc = WorkbookDocument::Open(path)) << "the workbook no longer opens";
        const auto names = doc->SheetNames();
        ASSERT_EQ(names.size(), 3u);
        // The old workbook, or one this run saved.
        const std::string prefix = "R" + std::to_string(run) + "G";
        EXPECT_TRUE(names[0] == previous || names[0].rfind(prefix, 0) == 0) << names[0];
        EXPECT_EQ(names[1], "Other");
        EXPECT_EQ(names[2], "Last");
        for (const auto& part : doc->package().PartNames()) {
            EXPECT_NO_THROW(doc->package().Read(part)) << part;
        }
        if (names[0] != previous) ++runsThatSaved;
        previous = names[0];
        // A killed save leaves its temporary file (nothing can remove it); it never takes the workbook's name.
        for (const auto& name : Listing(dir.path())) {
            if (name == "large.xlsx") continue;
            EXPECT_EQ(name.rfind(".large.xlsx.", 0), 0u) << name;
            std::filesystem::remove(dir.path() / name);
            ++leftovers;
        }
    }
    // The kills fell at all moments, not all before the first save of a run.
    EXPECT_GE(runsThatSaved, kRuns / 5);
    std::printf("kill runs: %d, runs that completed a save before the kill: %d, temporary files left by killed "
                "saves: %d\n",
                run, runsThatSaved, leftovers);
}

}  // namespace
}  // namespace orv::hardening
