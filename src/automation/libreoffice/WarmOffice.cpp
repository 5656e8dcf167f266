// The office started ahead: one background thread starts it, keeps it while it waits to be taken, and ends it
// when nobody took it in time or the program ends.
#include "automation/libreoffice/WarmOffice.h"

#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include "automation/libreoffice/Office.h"

namespace orv::libreoffice {

namespace {

class Pool {
  public:
    ~Pool() { End(); }

    void WarmUp(std::chrono::seconds idle) {
        std::unique_lock lock(m_mutex);
        m_wanted = true;
        m_ending = false;
        m_idle = idle;
        StartLocked(lock);
    }

    void WarmAgain() {
        std::unique_lock lock(m_mutex);
        if (m_wanted && !m_ending) StartLocked(lock);
    }

    std::unique_ptr<Office> Take() {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return !m_starting; });
        auto office = std::move(m_ready);
        m_changed.notify_all();
        return office;
    }

    bool Await() {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return !m_starting; });
        return m_ready != nullptr;
    }

    void End() noexcept {
        std::thread keeper;
        {
            std::lock_guard lock(m_mutex);
            m_wanted = false;
            m_ending = true;
            keeper = std::move(m_keeper);
        }
        m_changed.notify_all();
        if (keeper.joinable()) keeper.join();
    }

  private:
    void StartLocked(std::unique_lock<std::mutex>& lock) {
        if (m_ready || m_starting) return;
        // A keeper whose office was taken has finished, or is about to.
        std::thread previous = std::move(m_keeper);
        m_starting = true;
        lock.unlock();
        if (previous.joinable()) previous.join();
        lock.lock();
        try {
            m_keeper = std::thread([this] { Keep(); });
        } catch (const std::system_error&) {
            // No thread to be had: nothing is kept warm, and the next operation starts its own office.
            m_starting = false;
            m_changed.notify_all();
        }
    }

    // Starts the office, then keeps it until it is taken, the wait grows too long, or the program ends.
    void Keep() {
        std::unique_ptr<Office> office;
        try {
            office = StartOffice();
        } catch (...) {
            // The next operation starts its own office and reports why it cannot.
        }
        std::unique_lock lock(m_mutex);
        m_starting = false;
        if (!office) {
            m_changed.notify_all();
            return;
        }
        m_ready = std::move(office);
        m_changed.notify_all();
        const bool stillWaiting = !m_changed.wait_for(lock, m_idle, [&] { return !m_ready || m_ending; });
        if (m_ready && (stillWaiting || m_ending)) {
            auto unused = std::move(m_ready);
            lock.unlock();
            unused->Quit();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::unique_ptr<Office> m_ready;
    std::thread m_keeper;
    bool m_starting = false;
    bool m_wanted = false;
    bool m_ending = false;
    std::chrono::seconds m_idle{300};
};

Pool& ThePool() {
    static Pool pool;
    return pool;
}

}  // namespace

void WarmUp(std::chrono::seconds idle) {
    std::string why;
    if (!OfficeBridgeAvailable(&why)) return;
    ThePool().WarmUp(idle);
}

std::unique_ptr<Office> TakeWarmOffice() { return ThePool().Take(); }

bool AwaitWarmOffice() { return ThePool().Await(); }

void WarmAgain() { ThePool().WarmAgain(); }

void EndWarmOffice() noexcept { ThePool().End(); }

}  // namespace orv::libreoffice
