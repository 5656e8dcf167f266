// The test program's entry: gives every test process a temporary folder of its own (so the private instances
// it starts, and the check that none survives, concern this process only), and plays the client that dies
// without ending its office when started with --orphan-child.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>

#include "automation/libreoffice/LibreOfficeBackend.h"

namespace {

// Opens the workbook, changes it so that the office starts and loads it, and ends without quitting anything.
int OrphanChild(const char* path) {
    try {
        auto session = orv::libreoffice::MakeLibreOfficeBackend()->Start();
        auto workbook = session->Open(path);
        workbook->sheetAt(1)->setName("Orphaned");
        std::cout << "office started" << std::endl;
        std::_Exit(0);
    } catch (const std::exception& e) {
        std::cerr << "orphan child failed: " << e.what() << std::endl;
        std::_Exit(3);
    }
}

}  // namespace

// The UNO runtime keeps its type descriptions in caches it never frees; they are not leaks of ours.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libuno_cppu.so\nleak:libuno_sal.so\nleak:libuno_cppuhelpergcc3.so\n";
}

int main(int argc, char** argv) {
    const char* parent = std::getenv("ORVANDEL_TEST_TMP");
    if (!parent) {
        // The first process of a run picks the folder; a child it starts inherits it.
        const auto dir =
            std::filesystem::temp_directory_path() / ("orvandel-lotest-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir);
        ::setenv("ORVANDEL_TEST_TMP", dir.c_str(), 1);
        ::setenv("TMPDIR", dir.c_str(), 1);
    }
    if (argc == 3 && std::strcmp(argv[1], "--orphan-child") == 0) return OrphanChild(argv[2]);
    ::testing::InitGoogleTest(&argc, argv);
    const int rc = RUN_ALL_TESTS();
    if (!parent) {
        std::error_code ec;
        std::filesystem::remove_all(std::getenv("ORVANDEL_TEST_TMP"), ec);
    }
    return rc;
}
