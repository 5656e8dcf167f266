// The save-step seam: definitions of mkstemp, write, fchmod, fsync, close and rename that take precedence over
// the C library's in this test program and forward to them (found with dlsym(RTLD_NEXT)), counting and failing
// steps on the temporary files of a watched folder.
#include "SaveSteps.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <mutex>
#include <set>

namespace orv::hardening::steps {

namespace {

struct State {
    bool watching = false;
    std::string folder;
    int failAt = 0;
    int failTimes = 0;
    int error = 0;
    std::size_t chunk = 65536;
    int count = 0;
    std::set<int> fds;
    std::vector<Event> events;
    std::string tempPath;
};

State& S() {
    static State state;
    return state;
}

template <typename F>
F Next(const char* name) {
    void* f = dlsym(RTLD_NEXT, name);
    if (!f) {
        std::fprintf(stderr, "SaveSteps: no %s to forward to\n", name);
        _exit(98);
    }
    return reinterpret_cast<F>(f);
}

bool InFolder(const char* path) {
    const auto& s = S();
    return s.watching && path && std::string(path).rfind(s.folder, 0) == 0;
}

// Records a step; true when this one must fail (errno is set then).
bool Record(Step step, const std::string& path) {
    auto& s = S();
    s.events.push_back({step, path});
    ++s.count;
    if (s.failAt > 0 && s.count >= s.failAt && s.count < s.failAt + s.failTimes) {
        errno = s.error;
        return true;
    }
    return false;
}

}  // namespace

const char* Name(Step step) {
    switch (step) {
        case Step::CreateTemp: return "create temp";
        case Step::Write: return "write";
        case Step::Chmod: return "chmod";
        case Step::Flush: return "flush";
        case Step::Close: return "close";
        case Step::Rename: return "rename";
    }
    return "?";
}

void Watch(const std::string& folder, int failAt, int error, std::size_t writeChunk, int failTimes) {
    auto& s = S();
    s = State{};
    s.folder = folder;
    s.failAt = failAt;
    s.error = error;
    s.chunk = writeChunk;
    s.failTimes = failTimes;
    s.watching = true;
}

std::vector<Event> Stop() {
    auto& s = S();
    s.watching = false;
    return std::move(s.events);
}

}  // namespace orv::hardening::steps

using orv::hardening::steps::Record;
using orv::hardening::steps::S;
using orv::hardening::steps::Step;

extern "C" {

int mkstemp(char* pattern) {
    static auto real = orv::hardening::steps::Next<int (*)(char*)>("mkstemp");
    if (!orv::hardening::steps::InFolder(pattern)) return real(pattern);
    if (Record(Step::CreateTemp, pattern)) return -1;
    const int fd = real(pattern);
    if (fd >= 0) {
        S().fds.insert(fd);
        S().tempPath = pattern;
    }
    return fd;
}

ssize_t write(int fd, const void* data, size_t size) {
    static auto real = orv::hardening::steps::Next<ssize_t (*)(int, const void*, size_t)>("write");
    if (!S().watching || !S().fds.count(fd)) return real(fd, data, size);
    if (Record(Step::Write, S().tempPath)) return -1;
    return real(fd, data, size < S().chunk ? size : S().chunk);
}

int fchmod(int fd, mode_t mode) {
    static auto real = orv::hardening::steps::Next<int (*)(int, mode_t)>("fchmod");
    if (!S().watching || !S().fds.count(fd)) return real(fd, mode);
    if (Record(Step::Chmod, S().tempPath)) return -1;
    return real(fd, mode);
}

int fsync(int fd) {
    static auto real = orv::hardening::steps::Next<int (*)(int)>("fsync");
    if (!S().watching || !S().fds.count(fd)) return real(fd);
    if (Record(Step::Flush, S().tempPath)) return -1;
    return real(fd);
}

int close(int fd) {
    static auto real = orv::hardening::steps::Next<int (*)(int)>("close");
    if (!S().watching || !S().fds.count(fd)) return real(fd);
    S().fds.erase(fd);
    // A failed close still releases the descriptor, as the kernel does.
    const bool fail = Record(Step::Close, S().tempPath);
    const int saved = errno;
    const int rc = real(fd);
    if (fail) {
        errno = saved;
        return -1;
    }
    return rc;
}

int rename(const char* from, const char* to) {
    static auto real = orv::hardening::steps::Next<int (*)(const char*, const char*)>("rename");
    if (!orv::hardening::steps::InFolder(from)) return real(from, to);
    if (Record(Step::Rename, to)) return -1;
    return real(from, to);
}

}  // extern "C"
