// The private spreadsheet application instance of one listing or procedure run, and OpenWorkbookInstance,
// which starts one.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "automation/Backend.h"
#include "automation/ObjectModel.h"

namespace orv::automation {

class Application;
class RoutedWorkbook;

// Workbooks: the workbooks open in one application instance, in the order they were opened.
class WorkbookCollection {
  public:
    explicit WorkbookCollection(Application& application) : m_application(application) {}

    int count() const;
    // The n-th open workbook, 1-based; throws when there is none.
    std::shared_ptr<Workbook> operator()(int n) const;
    // Opens the workbook file at `path` in this instance and returns it; throws with a clear description when
    // the file cannot be opened as a workbook or no backend serves its format.
    std::shared_ptr<Workbook> Open(const std::string& path);
    // Adds a new workbook that its first save writes to `path`, in the format the extension names, holding one
    // empty worksheet (see BackendSession::Create); refuses a `path` that exists. Throws AutomationError.
    std::shared_ptr<Workbook> Add(const std::string& path);
    // Closes every open workbook, discarding unsaved changes.
    void Close();

  private:
    Application& m_application;
};

// The backends this program may use, in order of preference.
class BackendRegistry {
  public:
    void Add(std::shared_ptr<Backend> backend) { m_backends.push_back(std::move(backend)); }
    const std::vector<std::shared_ptr<Backend>>& backends() const { return m_backends; }

    // The first available backend that serves `format`, or nullptr.
    std::shared_ptr<Backend> BackendFor(FileFormat format) const;
    // True when an available backend changes workbooks of `format`, not only lists them.
    bool Changes(FileFormat format) const {
        const auto backend = BackendFor(format);
        return backend && !backend->listsOnly();
    }
    // True when at least one backend can start an instance.
    bool AnyAvailable() const;
    // Ends every instance readied ahead (see Backend::Prepare). Never fails.
    void EndPrepared() const noexcept {
        for (const auto& backend : m_backends) backend->EndPrepared();
    }

  private:
    std::vector<std::shared_ptr<Backend>> m_backends;
};

// One private, invisible instance. Workbooks are opened into backend sessions started on first need; Quit
// ends them all. Destroying an instance that was not told to quit ends it the same way, without saving.
class Application {
  public:
    explicit Application(std::shared_ptr<const BackendRegistry> registry);
    ~Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    WorkbookCollection& Workbooks();
    // DisplayAlerts: passed on to every backend session of the instance (one that never asks anything only
    // keeps it).
    void setDisplayAlerts(bool on);
    bool displayAlerts() const;
    // Ends the instance, discarding unsaved changes of workbooks still open.
    void Quit();
    bool hasQuit() const { return m_quit; }

  private:
    friend class WorkbookCollection;
    void ThrowIfQuit() const;
    std::shared_ptr<Workbook> OpenWorkbook(const std::string& path, bool create = false);
    std::shared_ptr<Backend> ChooseBackend(const std::string& path, FileFormat format) const;
    BackendSession& SessionOf(const std::shared_ptr<Backend>& backend);
    void Reopen(RoutedWorkbook& workbook, const std::shared_ptr<Backend>& backend);

    std::shared_ptr<const BackendRegistry> m_registry;
    WorkbookCollection m_workbooks;
    std::vector<std::shared_ptr<RoutedWorkbook>> m_open;
    std::map<Backend*, std::unique_ptr<BackendSession>> m_sessions;
    bool m_displayAlerts = true;
    bool m_quit = false;
};

// Creates a new instance; throws AutomationError when no backend can be started on this machine.
std::shared_ptr<Application> CreateInstance(std::shared_ptr<const BackendRegistry> registry);

// Starts a new instance with the workbook at `path` open in it and returns the instance. The workbook is
// Workbooks()(Workbooks().count()). On failure nothing is kept and the failure is passed on.
std::shared_ptr<Application> OpenWorkbookInstance(std::shared_ptr<const BackendRegistry> registry,
                                                  const std::string& path);

}  // namespace orv::automation
