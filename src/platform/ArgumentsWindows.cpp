// The program's arguments as UTF-8 on Windows. A file of its own, so that only a program that asks for them
// loads the shell's library (the window takes its arguments from Qt).
#include <windows.h>
// After windows.h, whose types it uses.
#include <shellapi.h>

#include "platform/Program.h"
#include "platform/WindowsText.h"

namespace orv::platform {

std::vector<std::string> ArgumentsAsUtf8(int argc, char** argv) {
    int count = 0;
    if (wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count)) {
        std::vector<std::string> args;
        for (int i = 1; i < count; ++i) args.push_back(windows::Narrow(wide[i]));
        ::LocalFree(wide);
        return args;
    }
    return argc > 1 ? std::vector<std::string>(argv + 1, argv + argc) : std::vector<std::string>{};
}

}  // namespace orv::platform
