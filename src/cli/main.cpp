// Entry point of orvandel-sheets: the backends this build has, then the command.
#include <iostream>

#ifdef _WIN32
#include <windows.h>

#include <shellapi.h>
#endif

#include "automation/DefaultBackends.h"
#include "cli/SheetsTool.h"
#include "undo/UndoStore.h"

namespace {

// The arguments as UTF-8. Windows hands `argv` over in the ANSI code page, where a name outside it is lost: the
// wide command line has every name as typed.
std::vector<std::string> Arguments(int argc, char** argv) {
#ifdef _WIN32
    int count = 0;
    if (wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count)) {
        std::vector<std::string> args;
        for (int i = 1; i < count; ++i) {
            const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
            std::string arg(n > 0 ? static_cast<std::size_t>(n - 1) : 0, '\0');
            if (n > 1) ::WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, arg.data(), n, nullptr, nullptr);
            args.push_back(std::move(arg));
        }
        ::LocalFree(wide);
        return args;
    }
#endif
    return std::vector<std::string>(argv + 1, argv + argc);
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
    // What the tool prints is UTF-8: the console shows it as such.
    ::SetConsoleOutputCP(CP_UTF8);
#endif
    return orv::cli::RunSheetsTool(Arguments(argc, argv), std::cout, std::cerr, orv::automation::DefaultBackends(),
                                   orv::undo::DefaultStoreFolder());
}
