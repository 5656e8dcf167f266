// Saves the Windows way: names outside the ANSI code page and past 260 characters, the read-only attribute,
// the attributes a workbook keeps, a workbook another program holds open, and the spool that leaves nothing.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <random>
#include <thread>

#include "TestSupport.h"
#include "engine/EngineError.h"
#include "engine/workbook/Workbook.h"
#include "platform/Files.h"
#include "platform/Paths.h"

namespace orv::engine::test {
namespace {

namespace fs = std::filesystem;

std::string Bytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The form of a path the wide functions take at any length (the C++ library's folder walks stop at 260).
std::wstring Long(const fs::path& path) {
    return L"\\\\?\\" + fs::absolute(path).lexically_normal().make_preferred().wstring();
}

std::vector<std::string> Names(const fs::path& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAW found{};
    const HANDLE walk = ::FindFirstFileW((Long(folder) + L"\\*").c_str(), &found);
    if (walk == INVALID_HANDLE_VALUE) return {"(cannot be listed)"};
    do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..") names.push_back(platform::Utf8FromPath(fs::path(name)));
    } while (::FindNextFileW(walk, &found));
    ::FindClose(walk);
    return names;
}

void RemoveTree(const std::wstring& path) {
    WIN32_FIND_DATAW found{};
    const HANDLE walk = ::FindFirstFileW((path + L"\\*").c_str(), &found);
    if (walk != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring child = path + L"\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(child);
            } else {
                ::SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                ::DeleteFileW(child.c_str());
            }
        } while (::FindNextFileW(walk, &found));
        ::FindClose(walk);
    }
    ::RemoveDirectoryW(path.c_str());
}

// A copy of a fixture at `folder`/`name` (UTF-8), its folders made as the wide API allows at any length.
std::string Place(const fs::path& folder, const std::string& name, const std::string& fixture = "3d-references.xlsx") {
    fs::create_directories(folder);
    const std::string path = platform::Utf8FromPath(folder / platform::PathFromUtf8(name));
    const std::wstring wide = Long(platform::PathFromUtf8(path));
    EXPECT_TRUE(::CopyFileW(platform::PathFromUtf8(Fixture(fixture)).wstring().c_str(), wide.c_str(), TRUE))
        << ::GetLastError();
    return path;
}

TEST(WindowsFiles, NamesOutsideTheCodePageAndPastMaxPathAreSavedInPlace) {
    TempDir dir;
    // "Données d'été €" is not in the ANSI code page as a whole; the folders take the path past 260 characters.
    fs::path folder = dir.path() / platform::PathFromUtf8(
                                       "Donn\xC3\xA9"
                                       "es d'\xC3\xA9t\xC3\xA9 \xE2\x82\xAC");
    for (int i = 0; i < 6; ++i) folder /= std::string(40, static_cast<char>('a' + i));
    const std::string path = Place(folder, "R\xC3\xA9sum\xC3\xA9 \xE2\x82\xAC.xlsx");
    ASSERT_GT(platform::PathFromUtf8(path).wstring().size(), 260u);

    auto doc = WorkbookDocument::Open(path);
    doc->Rename(0, "\xC3\x89t\xC3\xA9");
    doc->Save();
    doc.reset();  // the file it replaced, still read until now, and its spool go with it
    EXPECT_EQ(WorkbookDocument::Open(path)->sheets()[0].name, "\xC3\x89t\xC3\xA9");
    EXPECT_EQ(Names(platform::PathFromUtf8(path).parent_path()),
              std::vector<std::string>{"R\xC3\xA9sum\xC3\xA9 \xE2\x82\xAC.xlsx"});
    RemoveTree(Long(dir.path() / platform::PathFromUtf8("Donn\xC3\xA9"
                                                        "es d'\xC3\xA9t\xC3\xA9 \xE2\x82\xAC")));
}

// Another program holding a file open as the spreadsheet application holds a workbook (HoldFile.cpp), until the
// object goes.
class OtherProgramHolding {
  public:
    // `share` "read" or "none"; `forMs` the time it lets go after, or -1 to hold until the object goes.
    explicit OtherProgramHolding(const fs::path& file, const wchar_t* share = L"read", int forMs = -1) {
        SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
        HANDLE childIn = nullptr, childOut = nullptr;
        if (!::CreatePipe(&childIn, &m_in, &inherit, 0) || !::CreatePipe(&m_out, &childOut, &inherit, 0)) return;
        ::SetHandleInformation(m_in, HANDLE_FLAG_INHERIT, 0);
        ::SetHandleInformation(m_out, HANDLE_FLAG_INHERIT, 0);
        STARTUPINFOW start{};
        start.cb = sizeof start;
        start.dwFlags = STARTF_USESTDHANDLES;
        start.hStdInput = childIn;
        start.hStdOutput = childOut;
        start.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
        std::wstring command =
            L"\"" + fs::absolute(platform::PathFromUtf8(ORVANDEL_HOLD_FILE)).make_preferred().wstring() +
            L"\" \"" + file.wstring() + L"\" " + share + L" " + std::to_wstring(forMs);
        PROCESS_INFORMATION process{};
        if (::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &start, &process)) {
            m_process = process.hProcess;
            ::CloseHandle(process.hThread);
        }
        ::CloseHandle(childIn);
        ::CloseHandle(childOut);
        char said[8] = {};
        DWORD got = 0;
        m_holding = m_process && ::ReadFile(m_out, said, 4, &got, nullptr) && std::string(said, got) == "held";
    }
    ~OtherProgramHolding() {
        ::CloseHandle(m_in);  // its input ends: it lets go and ends
        if (m_process) {
            ::WaitForSingleObject(m_process, 10000);
            ::CloseHandle(m_process);
        }
        ::CloseHandle(m_out);
    }
    OtherProgramHolding(const OtherProgramHolding&) = delete;
    OtherProgramHolding& operator=(const OtherProgramHolding&) = delete;
    bool holding() const { return m_holding; }

  private:
    HANDLE m_in = nullptr, m_out = nullptr, m_process = nullptr;
    bool m_holding = false;
};

TEST(WindowsFiles, ReadOnlyOrHeldOpenWorkbooksAreRefusedAndLeftAlone) {
    TempDir dir;
    const std::string path = Place(dir.path(), "book.xlsx");
    const std::wstring wide = platform::PathFromUtf8(path).wstring();
    const std::string original = Bytes(platform::PathFromUtf8(path));
    struct Case {
        const char* what;
        const wchar_t* share;  // how another program holds it, or nullptr
        int forMs;          // how long, or -1 for the whole case
        const char* said;   // the refusal, or nullptr for a save that waits and is made
    };
    // The last two share nothing, so that even reading the workbook waits for them, then is refused in the
    // same words as a save.
    for (const Case& c : {Case{"read-only attribute", nullptr, -1, "read-only"},
                          Case{"held open", L"read", -1, "open in another program"},
                          Case{"held without sharing for a second", L"none", 1000, nullptr},
                          Case{"held without sharing", L"none", -1, "open in another program"}}) {
        SCOPED_TRACE(c.what);
        std::unique_ptr<OtherProgramHolding> held;
        if (!c.share) {
            ASSERT_TRUE(::SetFileAttributesW(wide.c_str(), FILE_ATTRIBUTE_READONLY));
        } else {
            held = std::make_unique<OtherProgramHolding>(platform::PathFromUtf8(path), c.share, c.forMs);
            ASSERT_TRUE(held->holding());
        }
        const auto started = std::chrono::steady_clock::now();
        try {
            auto doc = WorkbookDocument::Open(path);
            doc->Rename(0, "First");
            doc->Save();
            if (c.said) ADD_FAILURE() << "saved over a " << c.what << " workbook";
        } catch (const EngineError& e) {
            if (!c.said) ADD_FAILURE() << e.what();
            else EXPECT_NE(std::string(e.what()).find(c.said), std::string::npos) << e.what();
        }
        std::cout << c.what << ": " << std::chrono::duration_cast<std::chrono::milliseconds>(
                                              std::chrono::steady_clock::now() - started).count()
                  << " ms\n";
        held.reset();
        ::SetFileAttributesW(wide.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (c.said) {
            EXPECT_EQ(Bytes(platform::PathFromUtf8(path)), original);
        } else {
            EXPECT_EQ(WorkbookDocument::Open(path)->SheetNames().front(), "First");  // whole, and saved
            fs::remove(platform::PathFromUtf8(path));
            Place(dir.path(), "book.xlsx");
        }
        EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"book.xlsx"});
    }
}

TEST(WindowsFiles, ASavedWorkbookKeepsItsAttributesAndTheSpoolLeavesNothing) {
    TempDir dir;
    const std::string path = Place(dir.path(), "book.xlsx");
    const std::wstring wide = platform::PathFromUtf8(path).wstring();
    ASSERT_TRUE(::SetFileAttributesW(wide.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
    auto doc = WorkbookDocument::Open(path);
    doc->Rename(1, "Middle");
    doc->Save();
    EXPECT_EQ(::GetFileAttributesW(wide.c_str()) & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY),
              static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN));
    // The package let go of the file it replaced (one rename: the old file never went aside) and reads the saved
    // one now.
    EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"book.xlsx"});
    // The saved workbook can be saved again while its package still reads the file it replaced.
    doc->Rename(1, "Again");
    doc->Save();
    EXPECT_EQ(WorkbookDocument::Open(path)->sheets()[1].name, "Again");

    const fs::path spoolFolder = dir.path() / "spool";
    fs::create_directories(spoolFolder);
    {
        auto spool = platform::TemporaryFile::Create(platform::Utf8FromPath(spoolFolder));
        ASSERT_NE(spool, nullptr);
        EXPECT_EQ(spool->WriteAt(5, "spooled", 7), "");
        char back[7] = {};
        EXPECT_EQ(spool->ReadAt(5, back, 7), "");
        EXPECT_EQ(std::string(back, 7), "spooled");
    }
    EXPECT_TRUE(Names(spoolFolder).empty());
}

// Saves the workbook ORVANDEL_SAVE_FOREVER names over and over, its first sheet renamed R<run>G<n>, until it is
// killed: the other program of the kill test below, which runs this test program again for it.
TEST(WindowsFiles, DISABLED_SaveForever) {
    const auto path = platform::EnvironmentVariable("ORVANDEL_SAVE_FOREVER");
    const auto run = platform::EnvironmentVariable("ORVANDEL_SAVE_RUN");
    if (!path || !run) GTEST_SKIP() << "run by KilledWhileSavingTheWorkbookIsAlwaysWhole";
    std::fputs("ready\n", stdout);
    std::fflush(stdout);
    for (int generation = 1;; ++generation) {
        auto doc = WorkbookDocument::Open(*path);
        doc->Rename(0, "R" + *run + "G" + std::to_string(generation));
        doc->Save();
    }
}

TEST(WindowsFiles, KilledWhileSavingTheWorkbookIsAlwaysWhole) {
    TempDir dir;
    const std::string path = Place(dir.path(), "large.xlsx", "tables-structrefs-querytables.xlsx");
    const auto before = WorkbookDocument::Open(path)->SheetNames();
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 3; ++i) {
        auto doc = WorkbookDocument::Open(path);
        doc->Rename(0, "G0");
        doc->Save();
    }
    const long saveMs = std::max<long>(1, std::chrono::duration_cast<std::chrono::milliseconds>(
                                              std::chrono::steady_clock::now() - start).count() / 3);
    std::mt19937 random(20261208);
    std::uniform_int_distribution<long> delayMs(0, 4 * saveMs + 5);
    wchar_t self[MAX_PATH * 4] = {};
    ::GetModuleFileNameW(nullptr, self, MAX_PATH * 4);
    ::SetEnvironmentVariableW(L"ORVANDEL_SAVE_FOREVER", platform::PathFromUtf8(path).wstring().c_str());
    std::string previous = "G0";
    int saved = 0, leftovers = 0;
    constexpr int kRuns = 15;
    for (int run = 0; run < kRuns; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        ::SetEnvironmentVariableW(L"ORVANDEL_SAVE_RUN", std::to_wstring(run).c_str());
        SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
        HANDLE readEnd = nullptr, writeEnd = nullptr;
        ASSERT_TRUE(::CreatePipe(&readEnd, &writeEnd, &inherit, 0));
        ::SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = writeEnd;
        startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
        std::wstring command = L"\"" + std::wstring(self) +
                               L"\" --gtest_also_run_disabled_tests --gtest_filter=WindowsFiles.DISABLED_SaveForever";
        PROCESS_INFORMATION child{};
        ASSERT_TRUE(::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                                     &child));
        ::CloseHandle(writeEnd);
        std::string said;
        char buffer[256];
        DWORD got = 0;
        while (said.find("ready") == std::string::npos && ::ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) && got)
            said.append(buffer, got);
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs(random)));
        ::TerminateProcess(child.hProcess, 9);
        ::WaitForSingleObject(child.hProcess, INFINITE);
        ::CloseHandle(child.hProcess);
        ::CloseHandle(child.hThread);
        ::CloseHandle(readEnd);
        ASSERT_NE(said.find("ready"), std::string::npos) << said;

        std::unique_ptr<WorkbookDocument> doc;
        ASSERT_NO_THROW(doc = WorkbookDocument::Open(path)) << "the workbook no longer opens";
        auto names = doc->SheetNames();
        ASSERT_EQ(names.size(), before.size());
        const std::string prefix = "R" + std::to_string(run) + "G";
        EXPECT_TRUE(names[0] == previous || names[0].rfind(prefix, 0) == 0) << names[0];
        EXPECT_TRUE(std::equal(names.begin() + 1, names.end(), before.begin() + 1));
        for (const auto& part : doc->package().PartNames()) EXPECT_NO_THROW(doc->package().Read(part)) << part;
        saved += names[0] != previous;
        previous = names[0];
        doc.reset();
        // A killed save leaves its temporary file, never anything else: the new file takes the workbook's name in
        // one rename, the old one never goes aside.
        for (const auto& name : Names(dir.path())) {
            if (name == "large.xlsx") continue;
            EXPECT_EQ(name.rfind(".large.xlsx.orvandel-", 0), 0u) << name;
            EXPECT_FALSE(name.ends_with("-replaced")) << name;
            fs::remove(dir.path() / platform::PathFromUtf8(name));
            ++leftovers;
        }
    }
    EXPECT_GE(saved, kRuns / 5) << "the kills all fell before the first save of their run";
    std::printf("kill runs: %d, runs that saved before the kill: %d, temporary files left: %d\n", kRuns, saved,
                leftovers);
}

}  // namespace
}  // namespace orv::engine::test
