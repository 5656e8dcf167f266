// Finds a spreadsheet application the user has open.
#include "automation/RunningSpreadsheet.h"

#include <system_error>

#include "platform/Paths.h"
#include "platform/Program.h"

namespace orv::automation {

namespace {

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
    const std::string root = platform::Utf8FromPath(PrivateInstanceRoot());
    for (const auto& arg : p.argv) {
        static constexpr std::string_view kOption = "-env:UserInstallation=";
        if (arg.rfind(kOption, 0) != 0) continue;
        return arg.find(root) != std::string::npos;
    }
    return false;
}

}  // namespace

std::filesystem::path PrivateInstanceRoot() { return platform::UserTemporaryFolder("orvandel"); }

bool IsSpreadsheetRunning(const ProcessTable& processes) {
    try {
        if (processes.AutomationInstanceRunning()) return true;
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
    const std::filesystem::path folder = platform::PathFromUtf8(path).parent_path();
    const std::string name = platform::FileNameOf(path);
    std::error_code ec;
    return std::filesystem::exists(folder / platform::PathFromUtf8(".~lock." + name + "#"), ec) ||
           std::filesystem::exists(folder / platform::PathFromUtf8("~$" + name), ec);
}

}  // namespace orv::automation
