// The soffice processes of our private instances: start one on a private profile and pipe, end it for sure,
// and find the ones a client that died left behind. Knows nothing of UNO.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace orv::libreoffice {

// The folder that holds our profile slots (under the private instance root of the running-application
// warning).
std::filesystem::path OfficeSlotRoot();

class OfficeProcess {
  public:
    // Starts `soffice` headless on a profile slot of its own (reused warm, under a lock) and a unique pipe.
    // Throws AutomationError when no slot can be taken or the process cannot be started.
    static std::unique_ptr<OfficeProcess> Launch(const std::string& soffice);
    // Kills the process when it still runs.
    ~OfficeProcess();
    OfficeProcess(const OfficeProcess&) = delete;
    OfficeProcess& operator=(const OfficeProcess&) = delete;

    // True while the started process has not ended.
    bool Running();
    // Waits up to `timeout` for the process to end by itself; true when it has ended (and was reaped).
    bool WaitForExit(std::chrono::milliseconds timeout);
    // Ends the process and everything it started at once, reaps it, and removes its pipe and lock files.
    void Kill() noexcept;

    // Remembers that the office opens the workbook at `path`, so that the lock file it keeps beside the
    // workbook is removed should the office have to be killed.
    void NoteDocument(const std::string& path);

    const std::string& pipeName() const { return m_pipe; }
    std::filesystem::path profileDir() const { return m_slot / "profile"; }
    pid_t pid() const { return m_pid; }
    // The last lines the office wrote to its log, for failure descriptions.
    std::string logTail() const;

  private:
    OfficeProcess() = default;
    void CleanUpFiles() noexcept;

    pid_t m_pid = -1;
    int m_lockFd = -1;
    bool m_reaped = false;
    std::filesystem::path m_slot;
    std::string m_pipe;
};

// The ids of running processes of this user that use a profile of ours.
std::vector<pid_t> OurOfficeProcesses();

// Ends the offices left running by clients that died (their profile slot is no longer locked) and removes
// their stale pipes and lock files; returns how many processes it ended. Never fails.
int EndOrphanedOffices() noexcept;

}  // namespace orv::libreoffice
