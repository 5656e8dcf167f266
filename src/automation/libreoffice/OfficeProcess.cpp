// Starting and ending soffice processes with posix_spawn (the client is multi-threaded once UNO runs), their
// profile slots under flock, and the search for orphans through /proc.
#include "automation/libreoffice/OfficeProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include "automation/ObjectModel.h"
#include "automation/RunningSpreadsheet.h"

extern char** environ;

namespace orv::libreoffice {

namespace fs = std::filesystem;
using automation::AutomationError;

namespace {

constexpr int kMaxSlots = 16;
constexpr const char* kProfileOption = "-env:UserInstallation=";
const std::string kPipePrefix = "orvandel_lo_";

// The command line of a process as its arguments, or nothing when it cannot be read.
std::vector<std::string> CommandLine(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/cmdline", std::ios::binary);
    std::vector<std::string> args;
    std::string arg;
    while (std::getline(in, arg, '\0')) args.push_back(arg);
    return args;
}

// The slot folder a process of ours runs on, or empty when the process is not ours.
fs::path SlotOfProcess(pid_t pid) {
    const std::string root = "file://" + OfficeSlotRoot().string() + "/";
    for (const auto& arg : CommandLine(pid)) {
        if (arg.rfind(kProfileOption, 0) != 0) continue;
        const std::string url = arg.substr(std::string(kProfileOption).size());
        if (url.rfind(root, 0) != 0) return {};
        return fs::path(url.substr(std::string("file://").size())).parent_path();
    }
    return {};
}

std::vector<pid_t> ProcessesOnSlot(const fs::path& slot) {
    std::vector<pid_t> result;
    for (pid_t pid : OurOfficeProcesses()) {
        if (SlotOfProcess(pid) == slot) result.push_back(pid);
    }
    return result;
}

// Locks `slot` for this client; returns the open lock file or -1 when another client (or its office) holds
// it.
int TryLockSlot(const fs::path& slot) {
    std::error_code ec;
    fs::create_directories(slot, ec);
    const int fd = ::open((slot / "lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return -1;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// The state letter and process group of a process from /proc/<pid>/stat; state 0 when it is gone.
std::pair<char, pid_t> StateAndGroup(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(in, line)) return {0, 0};
    const auto close = line.rfind(')');
    if (close == std::string::npos) return {0, 0};
    std::istringstream rest(line.substr(close + 2));
    char state = 0;
    pid_t parent = 0, group = 0;
    rest >> state >> parent >> group;
    return {state, group};
}

bool LiveProcess(pid_t pid) {
    const char state = StateAndGroup(pid).first;
    return state != 0 && state != 'Z' && state != 'X';
}

// True while a process of group `group` runs (zombies do not count: the reaper may be slow to collect them).
bool GroupRunning(pid_t group) {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/proc", ec)) {
        const std::string name = entry.path().filename().string();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
        const auto [state, pgid] = StateAndGroup(static_cast<pid_t>(std::stol(name)));
        if (pgid == group && state != 0 && state != 'Z' && state != 'X') return true;
    }
    return false;
}

void KillAndForget(const std::vector<pid_t>& pids) {
    for (pid_t pid : pids) ::kill(pid, SIGKILL);
    // The killed processes are not our children (their client died): wait for them to vanish from /proc.
    for (int i = 0; i < 200; ++i) {
        bool any = false;
        for (pid_t pid : pids) any = any || LiveProcess(pid);
        if (!any) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

// Removes what a killed office leaves behind: its profile lock, the socket of its pipe, and the lock files
// beside the workbooks it had open (only those that name its profile, never a lock of another program).
void RemoveStaleFiles(const fs::path& slot) {
    std::error_code ec;
    fs::remove(slot / "profile" / ".lock", ec);
    {
        std::ifstream documents(slot / "documents");
        const std::string profileUrl = "file://" + (slot / "profile").string() + ";";
        for (std::string path; std::getline(documents, path);) {
            const fs::path document(path);
            const fs::path lock = document.parent_path() / (".~lock." + document.filename().string() + "#");
            std::ifstream in(lock);
            std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            if (content.find(profileUrl) != std::string::npos) fs::remove(lock, ec);
        }
    }
    fs::remove(slot / "documents", ec);
    std::ifstream in(slot / "pipe");
    std::string pipe;
    if (std::getline(in, pipe) && pipe.rfind(kPipePrefix, 0) == 0) {
        // The office's pipes live in /tmp (or /var/tmp when /tmp is unusable), whatever TMPDIR says.
        for (const char* folder : {"/tmp", "/var/tmp"}) {
            fs::remove(fs::path(folder) / ("OSL_PIPE_" + std::to_string(::getuid()) + "_" + pipe), ec);
        }
    }
}

std::string UniquePipeName() {
    static std::atomic<unsigned> counter{0};
    std::random_device random;
    std::ostringstream name;
    name << kPipePrefix << ::getpid() << "_" << counter++ << "_" << std::hex << random();
    return name.str();
}

}  // namespace

fs::path OfficeSlotRoot() { return automation::PrivateInstanceRoot() / "libreoffice"; }

std::vector<pid_t> OurOfficeProcesses() {
    std::vector<pid_t> result;
    std::error_code ec;
    const std::string root = "file://" + OfficeSlotRoot().string() + "/";
    for (const auto& entry : fs::directory_iterator("/proc", ec)) {
        const std::string name = entry.path().filename().string();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
        struct stat info {};
        if (::stat(entry.path().c_str(), &info) != 0 || info.st_uid != ::getuid()) continue;
        const pid_t pid = static_cast<pid_t>(std::stol(name));
        for (const auto& arg : CommandLine(pid)) {
            if (arg.rfind(std::string(kProfileOption) + root, 0) == 0) {
                result.push_back(pid);
                break;
            }
        }
    }
    return result;
}

int EndOrphanedOffices() noexcept {
    try {
        int ended = 0;
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(OfficeSlotRoot(), ec)) {
            if (!entry.is_directory()) continue;
            const int fd = TryLockSlot(entry.path());
            if (fd < 0) continue;  // in use by a live client
            const auto orphans = ProcessesOnSlot(entry.path());
            KillAndForget(orphans);
            ended += static_cast<int>(orphans.size());
            RemoveStaleFiles(entry.path());
            ::close(fd);
        }
        return ended;
    } catch (...) {
        return 0;
    }
}

std::unique_ptr<OfficeProcess> OfficeProcess::Launch(const std::string& soffice) {
    if (::access(soffice.c_str(), X_OK) != 0) {
        throw AutomationError(
            "LibreOffice cannot be started: \"" + soffice +
            "\" is missing. Install LibreOffice Calc (package libreoffice-calc-nogui) and try "
            "again.");
    }
    std::unique_ptr<OfficeProcess> process(new OfficeProcess());
    for (int n = 0; n < kMaxSlots && process->m_lockFd < 0; ++n) {
        const fs::path slot = OfficeSlotRoot() / ("slot-" + std::to_string(n));
        process->m_lockFd = TryLockSlot(slot);
        if (process->m_lockFd >= 0) process->m_slot = slot;
    }
    if (process->m_lockFd < 0) {
        throw AutomationError(
            "LibreOffice cannot be started: all " + std::to_string(kMaxSlots) + " private profiles under \"" +
            OfficeSlotRoot().string() +
            "\" are in use or cannot be created. Close other copies of this program and try again.");
    }
    // Whatever still runs on the slot belonged to a client that died without ending it.
    KillAndForget(ProcessesOnSlot(process->m_slot));
    RemoveStaleFiles(process->m_slot);
    process->m_pipe = UniquePipeName();
    std::ofstream(process->m_slot / "pipe") << process->m_pipe << "\n";

    const std::string profileUrl = "file://" + process->profileDir().string();
    std::vector<std::string> args = {
        soffice,
        kProfileOption + profileUrl,
        "--headless",
        "--invisible",
        "--nologo",
        "--nodefault",
        "--norestore",
        "--nolockcheck",
        "--accept=pipe,name=" + process->m_pipe + ";urp;StarOffice.ComponentContext"};
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::string log = (process->m_slot / "soffice.log").string();
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    // The office must not hold the client's files, sockets or locks should it outlive the client.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // A process group of its own, so that Kill reaches soffice.bin, which the script starts as a grandchild.
    posix_spawnattr_setflags(&attributes,
                             POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    posix_spawnattr_setpgroup(&attributes, 0);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    const int rc =
        ::posix_spawn(&process->m_pid, soffice.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (rc != 0) {
        process->m_pid = -1;
        throw AutomationError("LibreOffice cannot be started: running \"" + soffice + "\" failed (" +
                              std::strerror(rc) + "). Check the LibreOffice installation and try again.");
    }
    return process;
}

OfficeProcess::~OfficeProcess() {
    Kill();
    if (m_lockFd >= 0) ::close(m_lockFd);
}

bool OfficeProcess::Running() {
    if (m_pid <= 0 || m_reaped) return false;
    int status = 0;
    const pid_t rc = ::waitpid(m_pid, &status, WNOHANG);
    if (rc == m_pid || (rc < 0 && errno == ECHILD)) m_reaped = true;
    return !m_reaped;
}

bool OfficeProcess::WaitForExit(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (Running()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    // The script's child may outlive it for a moment; the group must be empty too.
    while (GroupRunning(m_pid)) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    CleanUpFiles();
    m_pid = -1;
    return true;
}

void OfficeProcess::Kill() noexcept {
    if (m_pid <= 0) return;
    // Once the script is reaped its id may only be signalled as a group while members remain (they keep the
    // id from being reused); the loop below does that.
    if (!m_reaped) ::kill(-m_pid, SIGKILL);
    if (!m_reaped) {
        int status = 0;
        while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
        }
        m_reaped = true;
    }
    // soffice.bin is reparented when the script dies; make sure it is gone before its files are removed.
    for (int i = 0; i < 200 && GroupRunning(m_pid); ++i) {
        ::kill(-m_pid, SIGKILL);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    CleanUpFiles();
    m_pid = -1;
}

void OfficeProcess::CleanUpFiles() noexcept {
    try {
        if (!m_slot.empty()) RemoveStaleFiles(m_slot);
    } catch (...) {
    }
}

void OfficeProcess::NoteDocument(const std::string& path) {
    std::ofstream(m_slot / "documents", std::ios::app) << fs::absolute(path).string() << "\n";
}

std::string OfficeProcess::logTail() const {
    std::ifstream in(m_slot / "soffice.log");
    std::string line, tail;
    while (std::getline(in, line)) {
        if (line.find("javaldx") != std::string::npos || line.empty()) continue;
        tail = line;
    }
    return tail;
}

}  // namespace orv::libreoffice
