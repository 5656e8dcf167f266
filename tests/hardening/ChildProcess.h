// Running a program, or a function, in a child process bounded in time and memory, for tests that must
// survive a crash, a hang or a runaway allocation of the code under test.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace orv::hardening {

struct ChildResult {
    bool timedOut = false;
    int exitCode = -1;  // when it exited
    int signal = 0;     // when a signal ended it (SIGKILL after a time-out too)
    std::string out;
    std::string err;
    // "exit 1", "signal 11", "timed out": for failure messages.
    std::string Describe() const;
};

struct ChildLimits {
    int seconds = 60;                  // wall clock, then SIGKILL
    unsigned long memoryMegabytes = 0; // address space; 0: none (always none under AddressSanitizer)
    unsigned long fileSizeBytes = 0;   // largest file the child may write; 0: no limit
};

// Runs `argv` (argv[0] a path) with those limits.
ChildResult RunProgram(const std::vector<std::string>& argv, const ChildLimits& limits = {});

// Runs `body` in a forked child with those limits; its return value is the exit code. The child writes to the
// pipes that become `out` and `err` through file descriptors 1 and 2.
ChildResult RunForked(const std::function<int()>& body, const ChildLimits& limits = {});

}  // namespace orv::hardening
