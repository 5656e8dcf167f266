// The program's arguments, console, local time and per-user folders on Windows.
#include <windows.h>

#include "platform/Files.h"
#include "platform/Paths.h"
#include "platform/Program.h"
#include "platform/WindowsText.h"

namespace orv::platform {

void PrintUtf8ToConsole() { ::SetConsoleOutputCP(CP_UTF8); }

// Windows ends a program at logout through its window, which closes as the user would close it.
int EndRequestDescriptor() { return -1; }

std::tm LocalTime(std::time_t time) {
    std::tm local{};
    ::localtime_s(&local, &time);
    return local;
}

std::filesystem::path StateFolder(std::string_view program) {
    // The program's own folder name starts with a capital, as Windows programs' folders do.
    std::string name(program);
    if (!name.empty() && name[0] >= 'a' && name[0] <= 'z') name[0] = static_cast<char>(name[0] - 'a' + 'A');
    const auto local = EnvironmentVariable("LOCALAPPDATA");
    if (local && !local->empty()) return PathFromUtf8(*local) / PathFromUtf8(name);
    return std::filesystem::temp_directory_path() / PathFromUtf8(name);
}

std::filesystem::path UserTemporaryFolder(std::string_view program) {
    std::error_code ec;
    return std::filesystem::temp_directory_path(ec) / PathFromUtf8(program);
}

}  // namespace orv::platform
