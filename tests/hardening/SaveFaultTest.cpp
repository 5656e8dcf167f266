// A failure at every step of a save, a full disk, read-only files and folders, and a file replaced or deleted
// behind the program's back: the workbook on disk stays the old file byte for byte, no temporary file is left,
// and the failure says what happened.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "ChildProcess.h"
#include "Files.h"
#include "SaveSteps.h"
#include "Workbooks.h"
#include "engine/EngineError.h"
#include "engine/workbook/Workbook.h"

namespace orv::hardening {
namespace {

namespace fs = std::filesystem;
using engine::EngineError;
using engine::WorkbookDocument;

// Renames the first sheet of the workbook at `path` and saves it; returns the failure's text, "" on success.
std::string RenameAndSave(const std::string& path, const std::string& name = "Renamed") {
    try {
        auto doc = WorkbookDocument::Open(path);
        doc->Rename(0, name);
        doc->Save();
        return "";
    } catch (const EngineError& e) {
        return e.what();
    }
}

std::vector<std::string> SheetNames(const std::string& path) { return WorkbookDocument::Open(path)->SheetNames(); }

class SaveFaultTest : public ::testing::Test {
  protected:
    void SetUp() override {
        path = dir.File("book.xlsx");
        original = LargeWorkbook(2);
        Spit(path, original);
    }
    TempDir dir;
    std::string path;
    std::string original;
};

TEST_F(SaveFaultTest, EveryStepOfASaveIsSeenInOrder) {
    steps::Watch(dir.path().string(), 0, 0, 65536);
    ASSERT_EQ(RenameAndSave(path), "");
    const auto events = steps::Stop();
    ASSERT_GE(events.size(), 6u);
    EXPECT_EQ(events.front().step, steps::Step::CreateTemp);
    std::size_t writes = 0;
    while (writes + 1 < events.size() && events[writes + 1].step == steps::Step::Write) ++writes;
    EXPECT_GT(writes, 3u) << "the 64 KB pieces of a large workbook";
    std::vector<steps::Step> tail;
    for (auto it = events.begin() + 1 + static_cast<long>(writes); it != events.end(); ++it) tail.push_back(it->step);
    EXPECT_EQ(tail, (std::vector<steps::Step>{steps::Step::Chmod, steps::Step::Flush, steps::Step::Close,
                                               steps::Step::Rename}));
    EXPECT_EQ(SheetNames(path).front(), "Renamed");
}

// The heart of it: each step fails in turn, with the errors a disk gives.
TEST_F(SaveFaultTest, AFailureAtAnyStepLeavesTheOldFileAndNoTemporaryFile) {
    // A copy of the workbook shows how many steps its save takes.
    Spit(dir.File("probe.xlsx"), original);
    steps::Watch(dir.path().string(), 0, 0, 65536);
    ASSERT_EQ(RenameAndSave(dir.File("probe.xlsx")), "");
    const auto count = static_cast<int>(steps::Stop().size());
    fs::remove(dir.File("probe.xlsx"));
    ASSERT_GE(count, 6);
    const auto before = Listing(dir.path());
    int injected = 0;
    for (const int error : {ENOSPC, EIO, EDQUOT}) {
        for (int step = 1; step <= count; ++step) {
            steps::Watch(dir.path().string(), step, error, 65536);
            const std::string failure = RenameAndSave(path);
            const auto events = steps::Stop();
            ASSERT_FALSE(events.empty());
            SCOPED_TRACE(std::string("failing ") + steps::Name(events.back().step) + " #" + std::to_string(step) +
                         " with " + std::strerror(error));
            ++injected;
            EXPECT_NE(failure, "") << "the save reported success";
            EXPECT_NE(failure.find("book.xlsx"), std::string::npos) << failure;
            EXPECT_NE(failure.find(std::strerror(error)), std::string::npos) << failure;
            EXPECT_TRUE(Slurp(path) == original) << "the workbook on disk changed";
            EXPECT_EQ(Listing(dir.path()), before) << "a temporary file was left behind";
        }
    }
    RecordProperty("failure_points_injected", injected);
    std::printf("failure points injected into saves: %d\n", injected);
    EXPECT_EQ(SheetNames(path).front(), "Data");
}

TEST_F(SaveFaultTest, AnInterruptedWriteIsRetried) {
    steps::Watch(dir.path().string(), 2, EINTR, 65536, 1);
    EXPECT_EQ(RenameAndSave(path), "");
    steps::Stop();
    EXPECT_EQ(SheetNames(path).front(), "Renamed");
}

// A full disk without mounting anything: the file size limit makes writes fail as a full disk does.
TEST_F(SaveFaultTest, AFullDiskByFileSizeLimitLeavesTheOldFile) {
    ChildLimits limits;
    limits.fileSizeBytes = original.size() / 2;
    const auto before = Listing(dir.path());
    const auto r = RunForked(
        [&] {
            const std::string failure = RenameAndSave(path);
            std::fprintf(stderr, "%s", failure.c_str());
            return failure.empty() ? 1 : 0;
        },
        limits);
    EXPECT_EQ(r.exitCode, 0) << r.Describe() << ": " << r.err;
    EXPECT_NE(r.err.find("could not be saved"), std::string::npos) << r.err;
    EXPECT_TRUE(Slurp(path) == original);
    EXPECT_EQ(Listing(dir.path()), before);
}

// A real full disk: a small tmpfs in a private mount namespace, when this machine lets the test make one.
TEST_F(SaveFaultTest, AFullTmpfsLeavesTheOldFile) {
    const auto r = RunForked([&] {
        if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount("tmpfs", dir.path().c_str(), "tmpfs", 0, "size=4m") != 0) {
            std::fprintf(stderr, "no tmpfs can be mounted here (%s)", std::strerror(errno));
            return 77;
        }
        const std::string book = dir.File("book.xlsx");
        Spit(book, original);
        // Fill what is left of the file system.
        {
            std::FILE* filler = std::fopen(dir.File("filler").c_str(), "wb");
            const std::string block(4096, 'x');
            while (filler && std::fwrite(block.data(), 1, block.size(), filler) == block.size()) {
            }
            if (filler) std::fclose(filler);
        }
        const auto before = Listing(dir.path());
        const std::string failure = RenameAndSave(book);
        if (failure.find("could not be saved") == std::string::npos) {
            std::fprintf(stderr, "saving on a full disk: \"%s\"", failure.c_str());
            return 1;
        }
        if (Slurp(book) != original) return 2;
        if (Listing(dir.path()) != before) return 3;
        std::fprintf(stderr, "%s", failure.c_str());
        return 0;
    });
    if (r.exitCode == 77) GTEST_SKIP() << r.err;
    EXPECT_EQ(r.exitCode, 0) << r.Describe() << ": " << r.err;
    EXPECT_NE(r.err.find("No space left on device"), std::string::npos) << r.err;
}

TEST_F(SaveFaultTest, AReadOnlyFileOrFolderIsRefusedAndKept) {
    fs::permissions(path, fs::perms::owner_read | fs::perms::group_read, fs::perm_options::replace);
    std::string failure = RenameAndSave(path);
    EXPECT_NE(failure.find("read-only"), std::string::npos) << failure;
    EXPECT_TRUE(Slurp(path) == original);
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::replace);
    fs::permissions(dir.path(), fs::perms::owner_read | fs::perms::owner_exec, fs::perm_options::replace);
    failure = RenameAndSave(path);
    fs::permissions(dir.path(), fs::perms::owner_all, fs::perm_options::replace);
    EXPECT_NE(failure.find("read-only"), std::string::npos) << failure;
    EXPECT_TRUE(Slurp(path) == original);
    EXPECT_EQ(Listing(dir.path()), std::set<std::string>{"book.xlsx"});
}

TEST_F(SaveFaultTest, AFileReplacedByAFolderAfterOpeningIsNotSaved) {
    auto doc = WorkbookDocument::Open(path);
    doc->Rename(0, "Renamed");
    fs::remove(path);
    fs::create_directory(path);
    try {
        doc->Save();
        FAIL() << "saved over a folder";
    } catch (const EngineError& e) {
        EXPECT_NE(std::string(e.what()).find("book.xlsx"), std::string::npos) << e.what();
    }
    EXPECT_TRUE(fs::is_directory(path));
    EXPECT_TRUE(fs::is_empty(path));
    EXPECT_EQ(Listing(dir.path()), std::set<std::string>{"book.xlsx"});
}

// A workbook deleted (or moved away) by someone else while it was open is not brought back by a save: the user
// deleted it, or it now lives elsewhere.
TEST_F(SaveFaultTest, AFileDeletedAfterOpeningIsNotRecreated) {
    auto doc = WorkbookDocument::Open(path);
    doc->Rename(0, "Renamed");
    fs::rename(path, dir.File("moved.xlsx"));
    try {
        doc->Save();
        FAIL() << "a save brought back a file that was moved away";
    } catch (const EngineError& e) {
        EXPECT_NE(std::string(e.what()).find("book.xlsx"), std::string::npos) << e.what();
    }
    EXPECT_EQ(Listing(dir.path()), std::set<std::string>{"moved.xlsx"});
    EXPECT_TRUE(Slurp(dir.File("moved.xlsx")) == original);
}

// Another program wrote a new file at the path while the workbook was open: saving would throw its work away.
TEST_F(SaveFaultTest, AFileReplacedByAnotherAfterOpeningIsNotOverwritten) {
    auto doc = WorkbookDocument::Open(path);
    doc->Rename(0, "Renamed");
    const std::string theirs = GoodWorkbook();
    Spit(dir.File("theirs.tmp"), theirs);
    fs::rename(dir.File("theirs.tmp"), path);
    EXPECT_THROW(doc->Save(), EngineError);
    EXPECT_TRUE(Slurp(path) == theirs);
    // Saving twice from one opening is fine: the file is then the one this program wrote.
    auto again = WorkbookDocument::Open(path);
    again->Rename(0, "First");
    again->Save();
    again->Rename(0, "Second");
    again->Save();
    EXPECT_EQ(SheetNames(path).front(), "Second");
}

}  // namespace
}  // namespace orv::hardening
