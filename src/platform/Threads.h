// Work shared out over the cores.
#pragma once

#include <cstddef>
#include <functional>

namespace orv::platform {

// How many threads the engine gives work that can be shared out: one per core, four at most.
unsigned WorkerThreads();

// Runs work(i) for every i below n, side by side: i = 0 on the caller's thread, the others on threads of
// their own (on the caller's, after its own, when no thread can be had). The first exception is thrown once
// all are done.
void SideBySide(std::size_t n, const std::function<void(std::size_t)>& work);

}  // namespace orv::platform
