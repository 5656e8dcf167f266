// The process table of a Linux machine, read from /proc.
#include "automation/RunningSpreadsheet.h"

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <system_error>

namespace orv::automation {

namespace {

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
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

}  // namespace orv::automation
