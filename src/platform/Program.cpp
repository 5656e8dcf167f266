// The program's arguments, end requests, local time and per-user folders on POSIX systems.
#include "platform/Program.h"

#include <fcntl.h>
#include <unistd.h>

#include <csignal>

#include "platform/Files.h"
#include "platform/Paths.h"

namespace orv::platform {

namespace {

int g_endPipe[2] = {-1, -1};

void OnEndRequest(int) {
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(g_endPipe[1], &byte, 1);
}

}  // namespace

std::vector<std::string> ArgumentsAsUtf8(int argc, char** argv) {
    return argc > 1 ? std::vector<std::string>(argv + 1, argv + argc) : std::vector<std::string>{};
}

void PrintUtf8ToConsole() {}

int EndRequestDescriptor() {
    if (g_endPipe[0] >= 0) return g_endPipe[0];
    if (::pipe(g_endPipe) != 0) return -1;
    ::fcntl(g_endPipe[0], F_SETFD, FD_CLOEXEC);
    ::fcntl(g_endPipe[1], F_SETFD, FD_CLOEXEC);
    struct sigaction action {};
    action.sa_handler = OnEndRequest;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGTERM, SIGHUP, SIGINT}) ::sigaction(signal, &action, nullptr);
    return g_endPipe[0];
}

std::tm LocalTime(std::time_t time) {
    std::tm local{};
    ::localtime_r(&time, &local);
    return local;
}

std::filesystem::path StateFolder(std::string_view program) {
    if (const auto state = EnvironmentVariable("XDG_STATE_HOME"); state && state->starts_with('/'))
        return PathFromUtf8(*state) / PathFromUtf8(program);
    const auto home = EnvironmentVariable("HOME");
    return PathFromUtf8(home && !home->empty() ? *home : "/tmp") / ".local" / "state" / PathFromUtf8(program);
}

std::filesystem::path UserTemporaryFolder(std::string_view program) {
    std::error_code ec;
    auto temp = std::filesystem::temp_directory_path(ec);
    if (ec) temp = "/tmp";
    return temp / (std::string(program) + "-" + std::to_string(::getuid()));
}

}  // namespace orv::platform
