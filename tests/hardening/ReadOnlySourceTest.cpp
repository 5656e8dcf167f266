// A workbook the user may only read (a shared template, the installed samples) is a valid source of a copy,
// through both backends; a change to it is refused with a description that says why. Root ignores file
// permissions, so the tool runs as an unprivileged user.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "ChildProcess.h"

namespace orv::hardening {
namespace {

namespace fs = std::filesystem;

constexpr uid_t kNobody = 65534;

// The tool's command line, run as the unprivileged user when the test runs as root.
std::vector<std::string> AsUser(std::vector<std::string> args) {
    std::vector<std::string> argv;
    if (getuid() == 0) argv = {"/usr/sbin/runuser", "-u", "nobody", "--"};
    argv.push_back(ORVANDEL_SHEETS_TOOL);
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}

class ReadOnlySource : public ::testing::TestWithParam<std::string> {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/orvandel-readonly-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root = pattern;
        fs::permissions(root, fs::perms(0755));
        const std::string extension = GetParam();
        fs::create_directories(root / "shared");
        fs::create_directories(root / "mine");
        source = (root / "shared" / ("sample1" + extension)).string();
        target = (root / "mine" / ("sample2" + extension)).string();
        fs::copy_file(fs::path(ORVANDEL_SAMPLES_DIR) / ("sample1" + extension), source);
        fs::copy_file(fs::path(ORVANDEL_SAMPLES_DIR) / ("sample2" + extension), target);
        fs::permissions(source, fs::perms(0444));
        fs::permissions(root / "shared", fs::perms(0555));
        if (getuid() == 0) {
            ASSERT_EQ(chown((root / "mine").c_str(), kNobody, kNobody), 0);
            ASSERT_EQ(chown(target.c_str(), kNobody, kNobody), 0);
        }
    }
    void TearDown() override {
        std::error_code ec;
        fs::permissions(root / "shared", fs::perms(0755), ec);
        fs::remove_all(root, ec);
    }

    fs::path root;
    std::string source;
    std::string target;
};

TEST_P(ReadOnlySource, IsCopiedFromAndRefusesChangesSayingWhy) {
    ChildLimits limits;
    limits.seconds = 120;
    const auto copy = RunProgram(AsUser({"copy", source, "Jan", target, "after", "#1"}), limits);
    EXPECT_EQ(copy.exitCode, 0) << copy.Describe() << "\n" << copy.err;
    const auto listed = RunProgram(AsUser({"list", target}), limits);
    EXPECT_NE(listed.out.find("2\tworksheet\tvisible\tJan\n"), std::string::npos) << listed.out;

    const auto rename = RunProgram(AsUser({"rename", source, "Jan", "Janvier"}), limits);
    EXPECT_EQ(rename.exitCode, 1) << rename.Describe();
    EXPECT_NE(rename.err.find("read-only"), std::string::npos) << rename.err;
    const auto still = RunProgram(AsUser({"list", source}), limits);
    EXPECT_NE(still.out.find("1\tworksheet\tvisible\tJan\n"), std::string::npos) << still.out;
}

INSTANTIATE_TEST_SUITE_P(Formats, ReadOnlySource, ::testing::Values(".xls", ".xlsx"),
                         [](const auto& info) { return info.param.substr(1); });

}  // namespace
}  // namespace orv::hardening
