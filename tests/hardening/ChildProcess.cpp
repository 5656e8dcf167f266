// fork, rlimits, pipes read with poll, and a wall-clock deadline enforced with SIGKILL.
#include "ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace orv::hardening {

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif
#else
constexpr bool kAddressSanitizer = false;
#endif

void ApplyLimits(const ChildLimits& limits) {
    // AddressSanitizer reserves terabytes of address space for its shadow: an address-space limit would only
    // break it; RunProgram gives it an RSS limit instead.
    if (limits.memoryMegabytes > 0 && !kAddressSanitizer) {
        const rlim_t bytes = static_cast<rlim_t>(limits.memoryMegabytes) << 20;
        const rlimit l{bytes, bytes};
        setrlimit(RLIMIT_AS, &l);
    }
    if (limits.fileSizeBytes > 0) {
        const rlimit l{limits.fileSizeBytes, limits.fileSizeBytes};
        setrlimit(RLIMIT_FSIZE, &l);
        signal(SIGXFSZ, SIG_IGN);  // a write past the limit then fails with EFBIG, as on a full disk
    }
    const rlimit core{0, 0};
    setrlimit(RLIMIT_CORE, &core);
}

ChildResult Run(const std::function<void()>& child, const ChildLimits& limits) {
    int out[2];
    int err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) std::abort();
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid < 0) std::abort();
    if (pid == 0) {
        dup2(out[1], 1);
        dup2(err[1], 2);
        ApplyLimits(limits);
        child();
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    ChildResult result;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(limits.seconds);
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    int open = 2;
    while (open > 0) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0) {
            result.timedOut = true;
            kill(pid, SIGKILL);
            break;
        }
        if (poll(fds, 2, static_cast<int>(std::min<long long>(left, 1000))) < 0) continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            char buffer[4096];
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                (i == 0 ? result.out : result.err).append(buffer, static_cast<std::size_t>(n));
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    for (auto& fd : fds) {
        if (fd.fd >= 0) close(fd.fd);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
    return result;
}

}  // namespace

std::string ChildResult::Describe() const {
    if (timedOut) return "timed out";
    if (signal != 0) return "killed by signal " + std::to_string(signal);
    return "exit " + std::to_string(exitCode);
}

ChildResult RunProgram(const std::vector<std::string>& argv, const ChildLimits& limits) {
    return Run(
        [&] {
            // Under AddressSanitizer its allocator bounds the program's memory instead of an rlimit.
            if (kAddressSanitizer && limits.memoryMegabytes > 0) {
                const char* old = std::getenv("ASAN_OPTIONS");
                const std::string options = std::string(old ? old : "") + (old && *old ? ":" : "") +
                                            "hard_rss_limit_mb=" + std::to_string(limits.memoryMegabytes);
                setenv("ASAN_OPTIONS", options.c_str(), 1);
            }
            std::vector<char*> args;
            for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
            args.push_back(nullptr);
            execv(args[0], args.data());
            std::perror("execv");
        },
        limits);
}

ChildResult RunForked(const std::function<int()>& body, const ChildLimits& limits) {
    return Run(
        [&] {
            const int code = body();
            std::fflush(nullptr);
            _exit(code);
        },
        limits);
}

}  // namespace orv::hardening
