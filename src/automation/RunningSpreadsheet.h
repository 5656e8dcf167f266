// Whether the user has a spreadsheet application open: IsSpreadsheetRunning and IsWorkbookLocked, which the
// window's warning before an operation asks. The process table is read through an interface so tests can
// drive both answers.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace orv::automation {

struct ProcessInfo {
    int pid = 0;
    unsigned uid = 0;
    std::string comm;               // the short command name
    std::string exe;                // the executable's path, when readable
    std::vector<std::string> argv;  // the command line
};

class ProcessTable {
  public:
    virtual ~ProcessTable() = default;
    // Every process visible to this user; unreadable ones are left out.
    virtual std::vector<ProcessInfo> List() const = 0;
    // The user the program runs as.
    virtual unsigned currentUser() const = 0;
    // True when the system reaches a running instance of the spreadsheet application by its automation class
    // and it names itself as that application (Windows only; elsewhere there is none).
    virtual bool AutomationInstanceRunning() const { return false; }
};

// The process table of a POSIX machine, read from /proc. (Windows keeps no list the warning can use: there
// the automation backend looks for the application's running instance by its class.)
class ProcFsProcessTable : public ProcessTable {
  public:
    std::vector<ProcessInfo> List() const override;
    unsigned currentUser() const override;
};

// The folder under which our own private spreadsheet instances keep their profiles; a process whose profile
// lies there is ours, never the user's.
std::filesystem::path PrivateInstanceRoot();

// True when a spreadsheet application the user has open is running: a LibreOffice (soffice.bin) or Gnumeric
// process of this user that is not one of our private instances, or the instance the automation class reaches.
// Every failure counts as false.
bool IsSpreadsheetRunning(const ProcessTable& processes);

// True when a workbook file is open in a spreadsheet application elsewhere, as its lock file beside it shows
// (".~lock.<name>#" of LibreOffice, "~$<name>" of the commercial application).
bool IsWorkbookLocked(const std::string& path);

}  // namespace orv::automation
