// The instance's own apartment-threaded thread: calls run there one at a time, the calling thread waits for
// each with a deadline, and a call the application rejects while it is busy is tried again until then.
#include "automation/com/Apartment.h"

#include <algorithm>
#include <atomic>
#include <deque>
#include <future>
#include <mutex>
#include <thread>

#include "automation/ObjectModel.h"
#include "platform/WindowsText.h"

namespace orv::automation::com {

namespace {

// Tries a call again while the application says it is busy (a modal state, a recalculation), for as long as
// the apartment's deadline allows; the watchdog ends a wait that lasts longer.
class RetryWhileBusy : public IMessageFilter {
  public:
    explicit RetryWhileBusy(DWORD deadlineMs) : m_deadlineMs(deadlineMs) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** object) override {
        if (id == IID_IUnknown || id == IID_IMessageFilter) {
            *object = static_cast<IMessageFilter*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    // Lives as long as the thread that registered it.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    DWORD STDMETHODCALLTYPE HandleInComingCall(DWORD, HTASK, DWORD, LPINTERFACEINFO) override {
        return SERVERCALL_ISHANDLED;
    }
    DWORD STDMETHODCALLTYPE RetryRejectedCall(HTASK, DWORD elapsedMs, DWORD rejectType) override {
        constexpr DWORD kRetryAfterMs = 250;
        if (rejectType == SERVERCALL_RETRYLATER && elapsedMs < m_deadlineMs) return kRetryAfterMs;
        return static_cast<DWORD>(-1);
    }
    DWORD STDMETHODCALLTYPE MessagePending(HTASK, DWORD, DWORD) override { return PENDINGMSG_WAITDEFPROCESS; }

  private:
    DWORD m_deadlineMs;
};

std::string Seconds(std::chrono::milliseconds duration) {
    const auto seconds =
        std::max<long long>(1, std::chrono::duration_cast<std::chrono::seconds>(duration).count());
    return std::to_string(seconds) + (seconds == 1 ? " second" : " seconds");
}

}  // namespace

struct Apartment::State {
    std::mutex mutex;
    std::deque<std::function<void()>> tasks;
    bool stop = false;
    std::atomic<bool> ended{false};
    std::function<void()> endInstance;
    HANDLE wake = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    std::promise<void> finished;  // set when the thread has let go of COM
    std::thread thread;

    ~State() {
        if (wake) ::CloseHandle(wake);
    }

    // The watchdog's work, done once: the apartment takes no more calls and the instance is ended.
    void GiveUp() {
        if (ended.exchange(true)) return;
        std::function<void()> end;
        {
            const std::lock_guard lock(mutex);
            end = endInstance;
        }
        if (end) end();
    }

    void Post(std::function<void()> task) {
        {
            const std::lock_guard lock(mutex);
            tasks.push_back(std::move(task));
        }
        ::SetEvent(wake);
    }

    // The thread's loop: run what is posted, and keep the apartment's messages flowing in between, as a
    // thread that holds apartment-threaded objects must.
    static void Loop(const std::shared_ptr<State>& state, DWORD deadlineMs, std::promise<HRESULT>& started) {
        const HRESULT initialised = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        if (FAILED(initialised)) {
            started.set_value(initialised);
            return;
        }
        RetryWhileBusy filter(deadlineMs);
        IMessageFilter* previous = nullptr;
        ::CoRegisterMessageFilter(&filter, &previous);
        started.set_value(S_OK);
        for (;;) {
            std::deque<std::function<void()>> batch;
            {
                const std::lock_guard lock(state->mutex);
                batch.swap(state->tasks);
                if (batch.empty() && state->stop) break;
            }
            for (auto& task : batch) task();
            if (!batch.empty()) continue;
            ::MsgWaitForMultipleObjects(1, &state->wake, FALSE, INFINITE, QS_ALLINPUT);
            MSG message;
            while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                ::TranslateMessage(&message);
                ::DispatchMessageW(&message);
            }
        }
        ::CoRegisterMessageFilter(previous, nullptr);
        ::CoUninitialize();
        state->finished.set_value();
    }
};

Apartment::Apartment(std::chrono::milliseconds deadline)
    : m_state(std::make_shared<State>()), m_deadline(deadline) {
    if (!m_state->wake) {
        throw AutomationError("The spreadsheet application could not be started: " +
                              platform::windows::ErrorText(::GetLastError()) + ".");
    }
    // Shared with the thread: set_value may still be returning there when the result is read here.
    auto started = std::make_shared<std::promise<HRESULT>>();
    auto result = started->get_future();
    const DWORD deadlineMs = static_cast<DWORD>(deadline.count());
    m_state->thread =
        std::thread([state = m_state, deadlineMs, started] { State::Loop(state, deadlineMs, *started); });
    const HRESULT initialised = result.get();
    if (FAILED(initialised)) {
        m_state->thread.join();
        throw AutomationError(
            "The spreadsheet application could not be started: COM could not be initialised (" +
            platform::windows::ErrorText(static_cast<DWORD>(initialised)) + ").");
    }
}

Apartment::~Apartment() {
    {
        const std::lock_guard lock(m_state->mutex);
        m_state->stop = true;
    }
    ::SetEvent(m_state->wake);
    // A thread still inside a call that never came back cannot be waited for; it keeps its own share of the
    // state and ends whenever the call does (or with the program). The last releases are calls into the
    // application too, and get the same deadline.
    auto finished = m_state->finished.get_future();
    if (!m_state->ended && finished.wait_for(m_deadline) == std::future_status::ready) {
        m_state->thread.join();
        return;
    }
    m_state->GiveUp();
    // Ending the instance is what makes a call into it come back, so the thread is waited for a little
    // longer: one still inside COM when the program ends may hold a lock the program's exit needs, and the
    // program then never ends.
    constexpr std::chrono::seconds kAfterEnding{5};
    if (finished.wait_for(kAfterEnding) == std::future_status::ready) {
        m_state->thread.join();
        return;
    }
    m_state->thread.detach();
}

void Apartment::Run(const std::string& what, std::function<void()> work) {
    if (m_state->ended) {
        throw AutomationError(
            "The spreadsheet application instance was ended after it stopped answering, so this step could "
            "not be done in it.");
    }
    auto done = std::make_shared<std::promise<void>>();
    auto future = done->get_future();
    m_state->Post([work = std::move(work), done] {
        try {
            work();
            done->set_value();
        } catch (...) {
            done->set_exception(std::current_exception());
        }
    });
    if (future.wait_for(m_deadline) == std::future_status::ready) {
        future.get();
        return;
    }
    m_state->GiveUp();
    throw AutomationError(
        "The spreadsheet application did not answer within " + Seconds(m_deadline) + " (" + what +
        "), so its instance was ended. Nothing more is done in it; each workbook file keeps "
        "what was last saved to it.");
}

void Apartment::Release(IUnknown* object) noexcept {
    if (!object) return;
    try {
        m_state->Post([object] { object->Release(); });
    } catch (...) {
        // Out of memory: the reference is left to the end of the program.
    }
}

void Apartment::OnStuck(std::function<void()> endInstance) {
    const std::lock_guard lock(m_state->mutex);
    m_state->endInstance = std::move(endInstance);
}

bool Apartment::ended() const { return m_state->ended; }

}  // namespace orv::automation::com
