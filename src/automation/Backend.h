// What a backend supplies to the automation boundary: the workbook formats it serves, whether it can run on
// this machine, and private instances ("sessions") in which workbooks are opened.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "automation/FileFormat.h"
#include "automation/ObjectModel.h"

namespace orv::automation {

// One private instance of a backend, started for one listing or one procedure run.
class BackendSession {
  public:
    virtual ~BackendSession() = default;
    // Opens the workbook at `path` read-write; throws AutomationError with a clear description when it
    // cannot.
    virtual std::shared_ptr<Workbook> Open(const std::string& path) = 0;
    // A new workbook in the format `path`'s extension names, holding one empty worksheet, that its first save
    // writes to `path` (a file that does not exist yet); nothing is written before. Throws AutomationError
    // when the backend cannot make one; the default says so.
    virtual std::shared_ptr<Workbook> Create(const std::string& path);
    // Ends the instance, discarding unsaved changes of workbooks still open. Never asks anything.
    virtual void Quit() = 0;
    // The instance's alert flag. A backend that never asks anything has none to set.
    virtual void setDisplayAlerts(bool /*on*/) {}
    // Closes `workbooks`, every workbook open in this session, discarding unsaved changes.
    virtual void CloseAll(const std::vector<std::shared_ptr<Workbook>>& workbooks) {
        for (const auto& workbook : workbooks) workbook->Close();
    }
};

class Backend {
  public:
    virtual ~Backend() = default;
    // A short name for messages, e.g. "the OOXML engine" or "LibreOffice".
    virtual std::string name() const = 0;
    virtual bool serves(FileFormat format) const = 0;
    // Whether an instance can be started on this machine; when not, `why` says what is missing.
    virtual bool isAvailable(std::string* why) const = 0;
    // True when a save writes the new content to another file renamed into place, so that a second name of
    // the old file keeps its bytes; false where the backend (or the application behind it) may write into the
    // file.
    virtual bool savesByReplacing() const { return false; }
    // True for a backend that lists the workbooks it serves but changes none of them.
    virtual bool listsOnly() const { return false; }
    // Starts a new private instance; throws AutomationError when none can be started.
    virtual std::unique_ptr<BackendSession> Start() = 0;
    // Readies an instance in the background for the next Start, where starting one is slow (the window asks,
    // once it lists a workbook this backend serves). Never fails; the default does nothing.
    virtual void Prepare() {}
    // Ends what Prepare readied (the program is ending). Never fails.
    virtual void EndPrepared() noexcept {}
};

}  // namespace orv::automation
