// Work shared out over the cores.
#include "platform/Threads.h"

#include <algorithm>
#include <exception>
#include <system_error>
#include <thread>
#include <vector>

namespace orv::platform {

unsigned WorkerThreads() { return std::max(1u, std::min(4u, std::thread::hardware_concurrency())); }

void SideBySide(std::size_t n, const std::function<void(std::size_t)>& work) {
    std::vector<std::exception_ptr> failures(n);
    auto run = [&](std::size_t i) {
        try {
            work(i);
        } catch (...) {
            failures[i] = std::current_exception();
        }
    };
    std::vector<std::thread> threads;
    std::vector<std::size_t> left;
    for (std::size_t i = 1; i < n; ++i) {
        try {
            threads.emplace_back(run, i);
        } catch (const std::system_error&) {
            left.push_back(i);
        }
    }
    run(0);
    for (std::size_t i : left) run(i);
    for (auto& t : threads) t.join();
    for (auto& failure : failures) {
        if (failure) std::rethrow_exception(failure);
    }
}

}  // namespace orv::platform
