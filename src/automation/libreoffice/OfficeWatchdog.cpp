// The watchdog thread of an office.
#include "automation/libreoffice/OfficeWatchdog.h"

#include <signal.h>

namespace orv::libreoffice {

OfficeWatchdog::OfficeWatchdog(pid_t group) : m_group(group), m_thread([this] { Run(); }) {}

OfficeWatchdog::~OfficeWatchdog() {
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

OfficeWatchdog::Guard::Guard(OfficeWatchdog& watchdog, std::chrono::seconds limit) : m_watchdog(watchdog) {
    {
        std::lock_guard lock(m_watchdog.m_mutex);
        m_watchdog.m_deadline = std::chrono::steady_clock::now() + limit;
    }
    m_watchdog.m_changed.notify_all();
}

OfficeWatchdog::Guard::~Guard() {
    {
        std::lock_guard lock(m_watchdog.m_mutex);
        m_watchdog.m_deadline.reset();
    }
    m_watchdog.m_changed.notify_all();
}

bool OfficeWatchdog::fired() const {
    std::lock_guard lock(m_mutex);
    return m_fired;
}

void OfficeWatchdog::Run() {
    std::unique_lock lock(m_mutex);
    while (!m_stop) {
        if (!m_deadline) {
            m_changed.wait(lock);
            continue;
        }
        const auto deadline = *m_deadline;
        if (m_changed.wait_until(lock, deadline) == std::cv_status::timeout && m_deadline == deadline) {
            // Only a signal: reaping stays with the thread that owns the process.
            ::kill(-m_group, SIGKILL);
            m_fired = true;
            m_deadline.reset();
        }
    }
}

}  // namespace orv::libreoffice
