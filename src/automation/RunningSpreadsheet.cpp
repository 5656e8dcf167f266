// Finds a spreadsheet application the user has open, and asks whether to go on.
#include "automation/RunningSpreadsheet.h"

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <system_error>

#include "errors/Dialogs.h"
#include "errors/Messages.h"

namespace orv::automation {

namespace {

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool EndsWith(std::string_view text, std::string_view tail) {
    return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

std::string BaseName(std::string_view path) {
    const auto slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

bool IsLibreOffice(const ProcessInfo& p) {
    return p.comm == "soffice.bin" || BaseName(p.exe) == "soffice.bin" ||
           (!p.argv.empty() && EndsWith(p.argv.front(), "soffice.bin"));
}

bool IsGnumeric(const ProcessInfo& p) { return p.comm == "gnumeric" || BaseName(p.exe) == "gnumeric"; }

// Our private instances carry -env:UserInstallation=file://<private root>/...
bool IsOurPrivateInstance(const ProcessInfo& p) {
    const std::string root = PrivateInstanceRoot().string();
    for (const auto& arg : p.argv) {
        static constexpr std::string_view kOption = "-env:UserInstallation=";
        if (arg.rfind(kOption, 0) != 0) continue;
        return arg.find(root) != std::string::npos;
    }
    return false;
}

}  // namespace

std::vector<ProcessInfo> ProcFsProcessTable::List() const {
    std::vector<ProcessInfo> result;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
        const std::string name = entry.path().filename().string();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
        ProcessInfo info;
        info.pid = std::stoi(name);
        std::string comm = ReadFile(entry.path() / "comm");
        if (!comm.empty() && comm.back() == '\n') comm.pop_back();
        info.comm = comm;
        std::error_code linkError;
        info.exe = std::filesystem::read_symlink(entry.path() / "exe", linkError).string();
        const std::string cmdline = ReadFile(entry.path() / "cmdline");
        for (std::size_t start = 0; start < cmdline.size();) {
            const auto end = cmdline.find('\0', start);
            info.argv.push_back(
                cmdline.substr(start, end == std::string::npos ? std::string::npos : end - start));
            if (end == std::string::npos) break;
            start = end + 1;
        }
        struct stat st {};
        if (::stat(entry.path().c_str(), &st) == 0) info.uid = st.st_uid;
        result.push_back(std::move(info));
    }
    return result;
}

unsigned ProcFsProcessTable::currentUser() const { return ::getuid(); }

std::filesystem::path PrivateInstanceRoot() {
    std::error_code ec;
    auto temp = std::filesystem::temp_directory_path(ec);
    if (ec) temp = "/tmp";
    return temp / ("orvandel-" + std::to_string(::getuid()));
}

bool IsSpreadsheetRunning(const ProcessTable& processes) {
    try {
        const unsigned user = processes.currentUser();
        for (const auto& p : processes.List()) {
            if (p.uid != user) continue;
            if (IsGnumeric(p)) return true;
            if (IsLibreOffice(p) && !IsOurPrivateInstance(p)) return true;
        }
    } catch (...) {
    }
    return false;
}

bool IsWorkbookLocked(const std::string& path) {
    if (path.empty()) return false;
    const std::filesystem::path file(path);
    const std::string name = file.filename().string();
    std::error_code ec;
    return std::filesystem::exists(file.parent_path() / (".~lock." + name + "#"), ec) ||
           std::filesystem::exists(file.parent_path() / ("~$" + name), ec);
}

bool ConfirmSpreadsheetClosed(errors::Dialogs& dialogs, const ProcessTable& processes,
                              const std::vector<std::string>& workbooks) {
    bool open = IsSpreadsheetRunning(processes);
    for (const auto& workbook : workbooks) open = open || IsWorkbookLocked(workbook);
    if (!open) return false;
    const auto answer = dialogs.messageBox(errors::msg::kSpreadsheetMayBeOpen, errors::ApplicationTitle(),
                                           errors::Buttons::YesNo, errors::Icon::None);
    return answer != errors::Answer::Yes;
}

}  // namespace orv::automation
