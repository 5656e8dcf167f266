// Timing and memory helpers of the benchmark: wall-clock milliseconds, medians, the peak resident set of this
// process between two points, and external commands timed as a user runs them.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace orv::bench {

// Milliseconds that `f` took on the monotonic clock.
double TimeMs(const std::function<void()>& f);

// The median of `values` (the mean of the two middle ones for an even count); 0 for none.
double Median(std::vector<double> values);

// Resets the peak resident set size of this process to its current size (Linux: /proc/self/clear_refs).
// Returns false when the kernel does not allow it; the peak then covers the whole run so far.
bool ResetPeakRss();
// The peak resident set size of this process in MB (VmHWM of /proc/self/status, else getrusage).
double PeakRssMb();

// User + system CPU milliseconds this process has used so far.
double CpuMs();

// The current resident set size of this process in MB (VmRSS).
double RssMb();

// One run of an operation in a child process.
struct ChildRun {
    double ms = 0;            // wall-clock time of the operation itself
    double cpuMs = 0;         // user + system CPU time the operation took (insensitive to other load)
    double peakGrowthMb = 0;  // peak resident set during the operation minus the resident set before it
    bool timedOut = false;
    std::string error;  // what the operation threw, if it did
};

// Runs `f` in a forked child (so that a runaway operation can be stopped and its memory measured alone) and
// waits at most `timeoutSeconds`; the child is killed when it takes longer.
ChildRun RunInChild(const std::function<void()>& f, int timeoutSeconds);

// Runs `argv` (argv[0] looked up in PATH) with its standard output sent to /dev/null when `quiet`, waits, and
// returns the milliseconds it took; throws std::runtime_error when it cannot start or exits with a failure.
double RunCommandMs(const std::vector<std::string>& argv, bool quiet = false);

// True when `program` is found in PATH.
bool HaveProgram(const std::string& program);

}  // namespace orv::bench
