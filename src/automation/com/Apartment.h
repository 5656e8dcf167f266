// The thread every call into one automation instance is made on: apartment-threaded, as the application
// requires, with COM initialised once for it, and a watchdog that gives up on a call that does not come back.
#pragma once

#include <objbase.h>
#include <windows.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace orv::automation::com {

class Apartment {
  public:
    // Starts the thread and initialises COM on it; throws AutomationError when it cannot. A call that has not
    // come back after `deadline` makes the apartment give up (see Run).
    explicit Apartment(std::chrono::milliseconds deadline);
    // Ends the thread once the interfaces it still holds are released; a thread stuck in a call is left to
    // finish on its own.
    ~Apartment();
    Apartment(const Apartment&) = delete;
    Apartment& operator=(const Apartment&) = delete;

    // Runs `work` on the apartment's thread and returns once it has run, passing on what it throws. When it
    // has not come back within the deadline, calls the handler given to OnStuck, marks the apartment ended
    // and throws AutomationError naming `what`; every later Run throws at once.
    void Run(const std::string& what, std::function<void()> work);
    // Releases an interface on the apartment's thread, without waiting. Never fails.
    void Release(IUnknown* object) noexcept;
    // What ends the instance when a call hangs (the watchdog calls it from the waiting thread).
    void OnStuck(std::function<void()> endInstance);
    bool ended() const;

  private:
    struct State;
    std::shared_ptr<State> m_state;
    std::chrono::milliseconds m_deadline;
};

}  // namespace orv::automation::com
