// Clock, medians, peak memory and timed child processes.
#include "Measure.h"

#include <fcntl.h>
#include <malloc.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>

extern char** environ;

namespace orv::bench {

double TimeMs(const std::function<void()>& f) {
    const auto start = std::chrono::steady_clock::now();
    f();
    const auto end = std::chrono::steady_clock::now();
    return std::chrono::duration<double, std::milli>(end - start).count();
}

double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

bool ResetPeakRss() {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    clear.flush();
    return static_cast<bool>(clear);
}

namespace {

double StatusMb(const char* key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::size_t length = std::strlen(key);
    while (std::getline(status, line)) {
        if (line.compare(0, length, key) == 0) return std::strtod(line.c_str() + length, nullptr) / 1024.0;
    }
    return -1;
}

}  // namespace

double CpuMs() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto ms = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) * 1000.0 + static_cast<double>(t.tv_usec) / 1000.0;
    };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

double RssMb() { return std::max(0.0, StatusMb("VmRSS:")); }

double PeakRssMb() {
    if (const double peak = StatusMb("VmHWM:"); peak >= 0) return peak;
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

ChildRun RunInChild(const std::function<void()>& f, int timeoutSeconds) {
    int fds[2];
    if (pipe(fds) != 0) throw std::runtime_error("Cannot create a pipe for the child process");
    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("Cannot fork the child process");
    if (pid == 0) {
        close(fds[0]);
        std::string message;
        // The parent's freed heap is resident in the child too, and an operation that reuses it would seem to
        // need no memory: it is given back first, so that the growth measured is the operation's own.
        malloc_trim(0);
        ResetPeakRss();
        const double before = RssMb();
        try {
            const double cpuBefore = CpuMs();
            const double ms = TimeMs(f);
            message = "ok " + std::to_string(ms) + " " + std::to_string(PeakRssMb() - before) + " " +
                      std::to_string(CpuMs() - cpuBefore);
        } catch (const std::exception& e) {
            message = std::string("error ") + e.what();
        }
        const ssize_t written = write(fds[1], message.data(), message.size());
        _exit(written == static_cast<ssize_t>(message.size()) ? 0 : 1);
    }
    close(fds[1]);
    ChildRun run;
    std::string message;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            kill(pid, SIGKILL);
            run.timedOut = true;
            break;
        }
        pollfd p{fds[0], POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(std::min<long long>(left.count(), 1000))) <= 0) continue;
        char buffer[4096];
        const ssize_t n = read(fds[0], buffer, sizeof buffer);
        if (n <= 0) break;
        message.append(buffer, static_cast<std::size_t>(n));
    }
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (run.timedOut) return run;
    if (message.rfind("ok ", 0) == 0) {
        char* end = nullptr;
        run.ms = std::strtod(message.c_str() + 3, &end);
        run.peakGrowthMb = std::strtod(end, &end);
        run.cpuMs = std::strtod(end, nullptr);
    } else if (message.rfind("error ", 0) == 0) {
        run.error = message.substr(6);
    } else {
        run.error = "the child process ended without a result (status " + std::to_string(status) + ")";
    }
    return run;
}

double RunCommandMs(const std::vector<std::string>& argv, bool quiet) {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (quiet) posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    int status = 0;
    const double ms = TimeMs([&] {
        const int error = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
        if (error != 0) {
            posix_spawn_file_actions_destroy(&actions);
            throw std::runtime_error("Cannot run " + argv[0] + ": " + std::strerror(error));
        }
        waitpid(pid, &status, 0);
    });
    posix_spawn_file_actions_destroy(&actions);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error(argv[0] + " failed on " + argv.back());
    return ms;
}

bool HaveProgram(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::string rest = path ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= rest.size()) {
        const std::size_t end = std::min(rest.find(':', start), rest.size());
        const std::string candidate = rest.substr(start, end - start) + "/" + program;
        if (access(candidate.c_str(), X_OK) == 0) return true;
        start = end + 1;
    }
    return false;
}

}  // namespace orv::bench
