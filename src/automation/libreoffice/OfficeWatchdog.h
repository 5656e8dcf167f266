// Ends an office that stops answering: a guarded call into it that outlives its limit gets the office's
// process group killed, so that the call returns (with a disposed bridge) instead of blocking the program for
// good.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

namespace orv::libreoffice {

class OfficeWatchdog {
  public:
    // Watches the process group `group`; starts a thread that sleeps until a guarded call outlives its limit.
    explicit OfficeWatchdog(pid_t group);
    // Stops the thread; never kills anything.
    ~OfficeWatchdog();
    OfficeWatchdog(const OfficeWatchdog&) = delete;
    OfficeWatchdog& operator=(const OfficeWatchdog&) = delete;

    // Guards the calls made while it lives: when they take longer than `limit`, the group is killed.
    class Guard {
      public:
        Guard(OfficeWatchdog& watchdog, std::chrono::seconds limit);
        ~Guard();
        Guard(const Guard&) = delete;
        Guard& operator=(const Guard&) = delete;

      private:
        OfficeWatchdog& m_watchdog;
    };

    // True once the watchdog has killed the office.
    bool fired() const;

  private:
    void Run();

    pid_t m_group;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::optional<std::chrono::steady_clock::time_point> m_deadline;
    bool m_fired = false;
    bool m_stop = false;
    std::thread m_thread;
};

}  // namespace orv::libreoffice
