// A system that can start no more threads (its process limit reached): the operations that share their work
// over the cores do it all on the calling thread instead, and write what they write when threads are to be had.
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <system_error>
#include <thread>

#include "ChildProcess.h"
#include "Files.h"
#include "Workbooks.h"
#include "engine/EngineError.h"
#include "engine/package/Package.h"
#include "engine/transfer/SheetCopy.h"
#include "engine/workbook/Workbook.h"

namespace orv::hardening {
namespace {

constexpr uid_t kNobody = 65534;

// "Other" is large enough for every path that shares its work: the part scanned while it is read, its rows
// cut per core, a rewrite compressed in blocks on worker threads, a large part rewritten on a thread of its own.
// Each row names "Data" in a formula and uses a shared string.
std::string WorkbookWithALargeSheet() {
    std::string rows;
    rows.reserve(12u << 20);
    for (int r = 1; r <= 110000; ++r) {
        const std::string n = std::to_string(r);
        rows += "<row r=\"" + n + "\"><c r=\"A" + n + "\"><f>Data!A1*" + n + "</f><v>" + n + "</v></c><c r=\"B" + n +
                "\" t=\"s\"><v>" + std::to_string(r % 2) + "</v></c></row>";
    }
    const std::string sheet =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<worksheet "
        "xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><sheetData>" +
        rows + "</sheetData></worksheet>";
    return ZipParts(WithPart(GoodParts(), "xl/worksheets/sheet2.xml", sheet));
}

// In `folder`: renames "Data" of book.xlsx, and copies its "Other" into target.xlsx; both saved.
void Operate(const std::string& folder) {
    {
        auto target = engine::WorkbookDocument::Open(folder + "/target.xlsx");
        auto source = engine::WorkbookDocument::Open(folder + "/book.xlsx");
        engine::CopySheet(*source, 1, *target, 0);
        target->Save();
    }
    auto book = engine::WorkbookDocument::Open(folder + "/book.xlsx");
    book->Rename(0, "Renamed");
    book->Save();
}

std::map<std::string, std::string> InflatedParts(const std::string& path) {
    std::map<std::string, std::string> parts;
    auto package = engine::Package::Open(path);
    for (const auto& name : package->PartNames()) parts[name] = package->Read(name);
    return parts;
}

TEST(ThreadLimit, OperationsCompleteOnOneThreadAndWriteTheSame) {
    TempDir withThreads, without;
    const std::string book = WorkbookWithALargeSheet();
    for (const auto* dir : {&withThreads, &without}) {
        Spit(dir->File("book.xlsx"), book);
        Spit(dir->File("target.xlsx"), GoodWorkbook());
    }
    // The unprivileged user the child becomes must be able to replace the files.
    for (const std::string& path : {without.path().string(), without.File("book.xlsx"), without.File("target.xlsx")}) {
        if (::chown(path.c_str(), kNobody, kNobody) != 0) GTEST_SKIP() << "cannot hand the files to another user";
    }

    const auto r = RunForked(
        [&] {
            // The process limit does not bind the superuser.
            if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) {
                std::fprintf(stderr, "cannot become an unprivileged user (%s)", std::strerror(errno));
                return 77;
            }
            const rlimit none{0, 0};
            ::setrlimit(RLIMIT_NPROC, &none);
            try {
                std::thread([] {}).join();
                std::fprintf(stderr, "threads still start under a process limit of 0");
                return 77;
            } catch (const std::system_error&) {
            }
            try {
                Operate(without.path().string());
            } catch (const engine::EngineError& e) {
                std::fprintf(stderr, "%s", e.what());
                return 1;
            } catch (const std::exception& e) {
                std::fprintf(stderr, "not the engine's own error: %s", e.what());
                return 2;
            }
            return 0;
        },
        {.seconds = 300});
    if (r.exitCode == 77) GTEST_SKIP() << r.err;
    ASSERT_EQ(r.exitCode, 0) << r.Describe() << ": " << r.err;

    ASSERT_NO_THROW(Operate(withThreads.path().string()));
    for (const char* name : {"book.xlsx", "target.xlsx"}) {
        const auto expected = InflatedParts(withThreads.File(name));
        const auto actual = InflatedParts(without.File(name));
        EXPECT_TRUE(actual == expected) << name << " differs from what the same operations write with threads";
    }
    const auto renamed = InflatedParts(without.File("book.xlsx"));
    EXPECT_NE(renamed.at("xl/worksheets/sheet2.xml").find("<f>Renamed!A1*110000</f>"), std::string::npos);
    EXPECT_EQ(engine::WorkbookDocument::Open(without.File("target.xlsx"))->SheetNames().size(), 4u);
}

}  // namespace
}  // namespace orv::hardening
