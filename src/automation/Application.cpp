// The private application instance: routes each opened workbook to the backend that serves its format, and
// ends every backend session it started when it quits or is released.
#include "automation/Application.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "platform/Paths.h"

namespace orv::automation {

namespace {

using platform::FileNameOf;

}  // namespace

// A workbook as the procedures hold it. It forwards to the backend's workbook, which the instance may
// exchange, as long as nothing has been asked of it yet, for the same file opened in another backend.
class RoutedWorkbook : public Workbook {
  public:
    // `created`: a new workbook, which has no file until its first save.
    RoutedWorkbook(std::string path, FileFormat format, bool created)
        : m_path(std::move(path)), m_format(format), m_created(created) {}

    std::string fullName() const override { return m_path; }
    // Every backend's save passes here, so this is where the thread's observer hears of it.
    void Save() override {
        SaveObserver* observer = CurrentSaveObserver();
        if (!observer) return Use().Save();
        observer->BeforeSave(m_path, m_backend && m_backend->savesByReplacing());
        try {
            Use().Save();
        } catch (...) {
            observer->AfterSave(m_path, false);
            throw;
        }
        observer->AfterSave(m_path, true);
    }
    void Close() override { Use().Close(); }
    std::vector<std::string> TakeNotices() override { return m_target ? m_target->TakeNotices() : std::vector<std::string>{}; }
    int sheetCount() const override { return Use().sheetCount(); }
    std::shared_ptr<Sheet> sheetAt(int position) override { return Use().sheetAt(position); }
    std::vector<std::shared_ptr<Sheet>> CopySheets(const std::vector<std::shared_ptr<Sheet>>& sheets,
                                                   After after,
                                                   const std::vector<std::string>& names,
                                                   const CopyOptions& options) override {
        return Use().CopySheets(sheets, after, names, options);
    }
    int SheetsIndexOfWorksheet(int worksheetPosition) override {
        return Use().SheetsIndexOfWorksheet(worksheetPosition);
    }
    int worksheetCount() override { return Use().worksheetCount(); }
    std::shared_ptr<Sheet> worksheetAt(int worksheetPosition) override {
        return Use().worksheetAt(worksheetPosition);
    }
    std::shared_ptr<Sheet> sheetNamed(const std::string& name, bool worksheetsOnly) override {
        return Use().sheetNamed(name, worksheetsOnly);
    }

    FileFormat format() const { return m_format; }
    Backend* backend() const { return m_backend; }
    const std::shared_ptr<Workbook>& target() {
        m_used = true;
        return m_target;
    }
    bool used() const { return m_used; }
    bool created() const { return m_created; }
    void Retarget(std::shared_ptr<Workbook> target, Backend* backend) {
        m_target = std::move(target);
        m_backend = backend;
    }
    void CloseTarget() {
        try {
            m_target->Close();
        } catch (...) {
            // Nothing of it was changed; the session that holds it ends with the instance.
        }
    }

  private:
    Workbook& Use() const {
        m_used = true;
        return *m_target;
    }

    std::string m_path;
    FileFormat m_format;
    std::shared_ptr<Workbook> m_target;
    Backend* m_backend = nullptr;
    bool m_created = false;
    mutable bool m_used = false;
};

namespace {

bool SameFile(const std::string& a, const std::string& b) {
    std::error_code ec;
    const bool same = std::filesystem::equivalent(a, b, ec);
    return ec ? a == b : same;
}
}  // namespace

int WorkbookCollection::count() const {
    m_application.ThrowIfQuit();
    return static_cast<int>(m_application.m_open.size());
}

std::shared_ptr<Workbook> WorkbookCollection::operator()(int n) const {
    m_application.ThrowIfQuit();
    if (n < 1 || n > static_cast<int>(m_application.m_open.size())) {
        throw AutomationError("There is no open workbook number " + std::to_string(n) + " (" +
                              std::to_string(m_application.m_open.size()) + " open).");
    }
    return m_application.m_open[static_cast<std::size_t>(n - 1)];
}

std::shared_ptr<Workbook> WorkbookCollection::Open(const std::string& path) {
    return m_application.OpenWorkbook(path);
}

std::shared_ptr<Workbook> WorkbookCollection::Add(const std::string& path) {
    return m_application.OpenWorkbook(path, true);
}

std::shared_ptr<Workbook> BackendSession::Create(const std::string& path) {
    throw AutomationError("\"" + FileNameOf(path) + "\" cannot be created: no program on this computer makes new " +
                          DescribeFormat(FormatOfPath(path)) + " workbooks. Name a new .xlsx workbook instead.");
}

void WorkbookCollection::Close() {
    m_application.ThrowIfQuit();
    auto open = std::move(m_application.m_open);
    m_application.m_open.clear();
    // One call per backend session: an application closes its whole collection at once.
    std::map<Backend*, std::vector<std::shared_ptr<Workbook>>> bySession;
    for (auto& workbook : open) bySession[workbook->backend()].push_back(workbook->target());
    for (auto& [backend, workbooks] : bySession) m_application.m_sessions.at(backend)->CloseAll(workbooks);
}

std::shared_ptr<Backend> BackendRegistry::BackendFor(FileFormat format) const {
    for (const auto& backend : m_backends) {
        if (backend->serves(format) && backend->isAvailable(nullptr)) return backend;
    }
    return nullptr;
}

bool BackendRegistry::AnyAvailable() const {
    for (const auto& backend : m_backends) {
        if (backend->isAvailable(nullptr)) return true;
    }
    return false;
}

Application::Application(std::shared_ptr<const BackendRegistry> registry)
    : m_registry(std::move(registry)), m_workbooks(*this) {}

Application::~Application() {
    // Released without Quit (a failed open, an abandoned rename): end the instance without saving.
    if (!m_quit) {
        try {
            Quit();
        } catch (...) {
        }
    }
}

WorkbookCollection& Application::Workbooks() {
    ThrowIfQuit();
    return m_workbooks;
}

void Application::setDisplayAlerts(bool on) {
    ThrowIfQuit();
    m_displayAlerts = on;
    for (auto& [backend, session] : m_sessions) session->setDisplayAlerts(on);
}

bool Application::displayAlerts() const { return m_displayAlerts; }

void Application::Quit() {
    ThrowIfQuit();
    m_quit = true;
    m_open.clear();
    std::string failures;
    for (auto& [backend, session] : m_sessions) {
        try {
            session->Quit();
        } catch (const std::exception& e) {
            failures += e.what();
        }
    }
    m_sessions.clear();
    if (!failures.empty()) throw AutomationError(failures);
}

void Application::ThrowIfQuit() const {
    if (m_quit) throw AutomationError("The spreadsheet application instance has already been told to quit.");
}

std::shared_ptr<Workbook> Application::OpenWorkbook(const std::string& path, bool create) {
    ThrowIfQuit();
    const FileFormat format = FormatOfPath(path);
    // A workbook cannot be open twice in one instance: a transfer whose two panels name the same file would
    // otherwise save two diverging copies over one another.
    for (const auto& open : m_open) {
        if (SameFile(open->fullName(), path)) {
            throw AutomationError(
                "\"" + FileNameOf(path) +
                "\" is already open: both workbooks are the same file. Choose two different "
                "workbook files.");
        }
    }
    std::shared_ptr<Backend> backend = ChooseBackend(path, format);
    auto routed = std::make_shared<RoutedWorkbook>(path, format, create);
    // Sheets can only travel between workbooks of one instance: bring the workbooks opened so far into the
    // backend that serves them all.
    for (auto& open : m_open) {
        if (open->backend() != backend.get()) Reopen(*open, backend);
    }
    if (create) {
        std::error_code ec;
        if (std::filesystem::exists(platform::PathFromUtf8(path), ec) || ec)
            throw AutomationError("\"" + FileNameOf(path) + "\" already exists; a new workbook is never written over a file.");
    }
    auto& session = SessionOf(backend);
    routed->Retarget(create ? session.Create(path) : session.Open(path), backend.get());
    m_open.push_back(routed);
    return routed;
}

std::shared_ptr<Backend> Application::ChooseBackend(const std::string& path, FileFormat format) const {
    auto preferred = m_registry->BackendFor(format);
    if (!preferred) {
        if (format == FileFormat::Unknown) {
            throw AutomationError(
                "\"" + FileNameOf(path) +
                "\" cannot be opened: it is not a workbook file this program knows (expected .xlsx, "
                ".xlsm, .xltx, .xltm, .xls or .ods).");
        }
        throw AutomationError("\"" + FileNameOf(path) + "\" cannot be opened: workbooks in the " +
                              DescribeFormat(format) + " format are not supported yet on this computer.");
    }
    auto servesAll = [&](const Backend& backend) {
        if (!backend.serves(format) || !backend.isAvailable(nullptr)) return false;
        return std::all_of(m_open.begin(), m_open.end(),
                           [&](const auto& open) { return backend.serves(open->format()); });
    };
    if (servesAll(*preferred)) return preferred;
    for (const auto& backend : m_registry->backends()) {
        if (servesAll(*backend)) return backend;
    }
    std::string others;
    for (const auto& open : m_open) others += (others.empty() ? "" : ", ") + DescribeFormat(open->format());
    throw AutomationError(
        "\"" + FileNameOf(path) + "\" cannot be opened together with a workbook in the " + others +
        " format: a sheet can travel between these formats only through LibreOffice, which is not "
        "available on this computer. Install LibreOffice Calc, or save both workbooks in one "
        "format.");
}

BackendSession& Application::SessionOf(const std::shared_ptr<Backend>& backend) {
    auto found = m_sessions.find(backend.get());
    if (found != m_sessions.end()) return *found->second;
    // Only a started session joins the instance: one that failed to start has nothing to quit.
    auto session = backend->Start();
    if (!m_displayAlerts) session->setDisplayAlerts(false);
    return *m_sessions.emplace(backend.get(), std::move(session)).first->second;
}

void Application::Reopen(RoutedWorkbook& workbook, const std::shared_ptr<Backend>& backend) {
    if (workbook.used()) {
        throw AutomationError("\"" + FileNameOf(workbook.fullName()) +
                              "\" has already been worked on in this instance and cannot be handed over to " +
                              backend->name() + ".");
    }
    // A new workbook nothing was done with yet is made anew there: it has no file to open.
    auto reopened = workbook.created() ? SessionOf(backend).Create(workbook.fullName())
                                       : SessionOf(backend).Open(workbook.fullName());
    workbook.CloseTarget();
    workbook.Retarget(std::move(reopened), backend.get());
}

std::shared_ptr<Application> CreateInstance(std::shared_ptr<const BackendRegistry> registry) {
    if (!registry || !registry->AnyAvailable()) {
        throw AutomationError(
            "No spreadsheet backend can be started on this computer: neither the built-in workbook engine "
            "nor "
            "LibreOffice is available.");
    }
    return std::make_shared<Application>(std::move(registry));
}

std::shared_ptr<Application> OpenWorkbookInstance(std::shared_ptr<const BackendRegistry> registry,
                                                  const std::string& path) {
    auto application = CreateInstance(std::move(registry));  // 1
    application->Workbooks().Open(path);                     // 2: the returned workbook is not kept
    return application;                                      // 3
}

}  // namespace orv::automation
