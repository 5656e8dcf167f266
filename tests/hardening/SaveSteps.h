// Makes every step of a file save observable and able to fail, for the tests linked with SaveSteps.cpp: that
// file replaces the C library's mkstemp, write, fchmod, fsync, close and rename in the test program (calls on
// other files pass straight through), so that the code under test is not changed for it.
#pragma once

#include <string>
#include <vector>

namespace orv::hardening::steps {

enum class Step { CreateTemp, Write, Chmod, Flush, Close, Rename };

// "create temp", "write", ... for messages.
const char* Name(Step step);

struct Event {
    Step step;
    std::string path;  // the temporary file or, for Rename, the file replaced
};

// Starts watching saves into `folder`: records every step on a temporary file created there, and makes the
// `failAt`-th step (1-based; 0: none) fail with `error`. Writes are cut into pieces of at most `writeChunk`
// bytes so that a save takes many writes. `failTimes` steps from failAt on fail (EINTR tests use 1).
void Watch(const std::string& folder, int failAt = 0, int error = 0, std::size_t writeChunk = 65536,
           int failTimes = 1 << 30);
// Stops watching and returns the steps seen since Watch.
std::vector<Event> Stop();

}  // namespace orv::hardening::steps
