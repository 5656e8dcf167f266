// The object model on the spreadsheet application's own objects: sheets, workbooks and the private instance,
// each a reference to the application's object, every member called by its name at the moment of the call.
#include "automation/com/ComBackend.h"

#include <filesystem>
#include <optional>

#include "automation/com/ComForThisThread.h"
#include "automation/com/Dispatch.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "platform/WindowsText.h"

namespace orv::automation::com {

namespace {

// The xlSheetVisibility values of the object model.
constexpr int kSheetVisible = -1;
constexpr int kSheetHidden = 0;
constexpr int kSheetVeryHidden = 2;

// The application's xlFileFormat number for a workbook of `format`, which SaveAs takes beside the name: it
// does not go by the extension.
std::optional<int> FileFormatNumber(FileFormat format) {
    switch (format) {
        case FileFormat::Xlsx:
            return 51;
        case FileFormat::Xlsm:
            return 52;
        case FileFormat::Xltx:
            return 54;
        case FileFormat::Xltm:
            return 53;
        case FileFormat::Xls:
            return 56;
        case FileFormat::Ods:
            return 60;
        case FileFormat::Xlsb:
            return 50;
        case FileFormat::Unknown:
            break;
    }
    return std::nullopt;
}

// The application resolves a relative path against its own folder, not ours.
std::string AbsolutePath(const std::string& path) {
    std::error_code ec;
    auto full = std::filesystem::absolute(platform::PathFromUtf8(path), ec);
    return ec ? path : platform::Utf8FromPath(full.make_preferred());
}

// Where and in which format a new workbook's first save writes it.
struct FirstSave {
    std::string path;  // absolute
    int format;
};

class ComWorkbook;

class ComSheet : public Sheet {
  public:
    ComSheet(Object sheet, std::shared_ptr<ComWorkbook> workbook, std::optional<SheetKind> kind)
        : m_sheet(std::move(sheet)), m_workbook(std::move(workbook)), m_kind(kind) {}

    std::string name() const override {
        return Call(m_sheet, "Sheet", L"name", CallKind::Get).Text("Sheet.name");
    }
    void setName(const std::string& name) override { Call(m_sheet, "Sheet", L"name", CallKind::Put, {name}); }
    SheetKind kind() const override;
    SheetVisibility visibility() const override {
        switch (Call(m_sheet, "Sheet", L"Visible", CallKind::Get).Number("Sheet.Visible")) {
            case kSheetHidden:
                return SheetVisibility::Hidden;
            case kSheetVeryHidden:
                return SheetVisibility::VeryHidden;
            case kSheetVisible:
            default:
                return SheetVisibility::Visible;
        }
    }

    std::shared_ptr<Sheet> Copy(After after) override;
    void Move(Before before) override {
        Call(m_sheet, "Sheet", L"Move", CallKind::Method, {&Peer(before.sheet).m_sheet}, L"Before");
    }
    void Move(After after) override {
        Call(m_sheet, "Sheet", L"Move", CallKind::Method, {&Peer(after.sheet).m_sheet}, L"After");
    }
    void Delete() override { Call(m_sheet, "Sheet", L"Delete", CallKind::Method); }

    // The sheet's position in its workbook's Sheets.
    int Index() const { return Call(m_sheet, "Sheet", L"Index", CallKind::Get).Number("Sheet.Index"); }

  private:
    // A sheet of the same instance: only those can stand on either side of a copy or move.
    ComSheet& Peer(Sheet& other) const {
        auto* peer = dynamic_cast<ComSheet*>(&other);
        if (!peer || peer->m_sheet.apartment() != m_sheet.apartment()) {
            throw AutomationError(
                "A sheet can be copied or moved only next to a sheet of a workbook open in the same "
                "spreadsheet "
                "application instance.");
        }
        return *peer;
    }

    Object m_sheet;
    std::shared_ptr<ComWorkbook> m_workbook;
    mutable std::optional<SheetKind> m_kind;
};

class ComWorkbook : public Workbook, public std::enable_shared_from_this<ComWorkbook> {
  public:
    ComWorkbook(Object workbook, std::string path, std::optional<FirstSave> firstSave = std::nullopt)
        : m_workbook(std::move(workbook)), m_path(std::move(path)), m_firstSave(std::move(firstSave)) {}

    std::string fullName() const override { return m_path; }
    void Save() override {
        if (m_firstSave) return SaveNew();
        Call(m_workbook, "Workbook", L"Save", CallKind::Method);
    }
    void Close() override { Call(m_workbook, "Workbook", L"Close", CallKind::Method); }

    int sheetCount() const override { return Count(L"Sheets"); }
    std::shared_ptr<Sheet> sheetAt(int position) override { return Item(L"Sheets", position, std::nullopt); }
    int worksheetCount() override { return Count(L"Worksheets"); }
    std::shared_ptr<Sheet> worksheetAt(int position) override {
        return Item(L"Worksheets", position, SheetKind::Worksheet);
    }
    std::shared_ptr<Sheet> sheetNamed(const std::string& name, bool worksheetsOnly) override {
        if (worksheetsOnly) return Item(L"Worksheets", name, SheetKind::Worksheet);
        return Item(L"Sheets", name, std::nullopt);
    }
    int SheetsIndexOfWorksheet(int worksheetPosition) override {
        return Worksheet(worksheetPosition)->Index();
    }

    // Whether the sheet at `index` in Sheets is one of the worksheets: the object model tells the kinds apart
    // by the collections it keeps.
    bool IsWorksheetAt(int index) {
        const int worksheets = worksheetCount();
        for (int i = 1; i <= worksheets; ++i) {
            if (Worksheet(i)->Index() == index) return true;
        }
        return false;
    }

  private:
    // Workbook.Sheets or Workbook.Worksheets, asked for afresh at each use.
    Object Collection(const wchar_t* collection) const {
        return Call(m_workbook, "Workbook", collection, CallKind::Get)
            .TakeObject("Workbook." + platform::windows::Narrow(collection));
    }

    int Count(const wchar_t* collection) const {
        const std::string name = platform::windows::Narrow(collection);
        return Call(Collection(collection), name, L"count", CallKind::Get).Number(name + ".count");
    }

    std::shared_ptr<ComSheet> Item(const wchar_t* collection, Argument key, std::optional<SheetKind> kind) {
        const std::string name = platform::windows::Narrow(collection);
        Object sheet = Call(Collection(collection), name, L"Item", CallKind::Get, {std::move(key)})
                           .TakeObject(name + ".Item");
        return std::make_shared<ComSheet>(std::move(sheet), shared_from_this(), kind);
    }

    std::shared_ptr<ComSheet> Worksheet(int position) {
        return Item(L"Worksheets", position, SheetKind::Worksheet);
    }

    void SaveNew();

    Object m_workbook;
    std::string m_path;
    // Until the new workbook's first save has made its file.
    std::optional<FirstSave> m_firstSave;
};

// The application, its alerts off, writes over whatever file has the name without a word: the name is taken
// first with an empty file, which only a file that appeared since the workbook was made can refuse.
void ComWorkbook::SaveNew() {
    const std::string name = platform::FileNameOf(m_path);
    const auto file = platform::PathFromUtf8(m_firstSave->path);
    if (const std::string why = platform::CreateNewFile(m_firstSave->path); !why.empty()) {
        std::error_code ec;
        if (std::filesystem::exists(file, ec) || ec) {
            throw AutomationError(
                "\"" + name +
                "\" could not be saved: a file of that name was made by another program meanwhile. "
                "Nothing was written; choose another name.");
        }
        throw AutomationError("\"" + name + "\" could not be saved: its file cannot be made (" + why +
                              "). Make the folder writable, then try again.");
    }
    try {
        Call(m_workbook, "Workbook", L"SaveAs", CallKind::Method, {m_firstSave->path, m_firstSave->format});
    } catch (const AutomationError&) {
        // Only the empty file that held the name goes: what the application began to write stays for the
        // caller, which removes the files it created.
        std::error_code ec;
        if (std::filesystem::file_size(file, ec) == 0 && !ec) std::filesystem::remove(file, ec);
        throw;
    }
    m_firstSave.reset();
}

SheetKind ComSheet::kind() const {
    if (!m_kind) m_kind = m_workbook->IsWorksheetAt(Index()) ? SheetKind::Worksheet : SheetKind::Chartsheet;
    return *m_kind;
}

std::shared_ptr<Sheet> ComSheet::Copy(After after) {
    ComSheet& anchor = Peer(after.sheet);
    Call(m_sheet, "Sheet", L"Copy", CallKind::Method, {&anchor.m_sheet}, L"After");
    // The application gives nothing back: the copy is the sheet right after the anchor, in its workbook.
    return anchor.m_workbook->sheetAt(anchor.Index() + 1);
}

// Ties a process to this one's life: the system ends it when this process ends, killed or not, as the last
// handle on the job goes then. COM alone releases an instance whose client died only after its pings have
// gone unanswered for minutes (and never in Wine), and never one that is stuck in a call.
void EndsWithThisProcess(HANDLE process) {
    static const HANDLE job = [] {
        HANDLE created = ::CreateJobObjectW(nullptr, nullptr);
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        if (created &&
            !::SetInformationJobObject(created, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
            ::CloseHandle(created);
            created = nullptr;
        }
        return created;
    }();
    // Where the system refuses (a job that forbids it), the instance lives on as it would without.
    if (job) ::AssignProcessToJobObject(job, process);
}

// A handle on the instance's process, for the watchdog to end it; empty when the application runs inside this
// process (an in-process server) or does not say where it runs. A process that began after `asked`, the
// moment the instance was asked for, is ours and is made to end with this one; one already running is the
// user's.
std::shared_ptr<void> ProcessOf(const Object& application, const FILETIME& asked) {
    int window = 0;
    try {
        window = Call(application, "Application", L"Hwnd", CallKind::Get).Number("Application.Hwnd");
    } catch (const AutomationError&) {
        return nullptr;
    }
    DWORD id = 0;
    ::GetWindowThreadProcessId(reinterpret_cast<HWND>(static_cast<INT_PTR>(window)), &id);
    if (id == 0 || id == ::GetCurrentProcessId()) return nullptr;
    HANDLE process =
        ::OpenProcess(PROCESS_TERMINATE | PROCESS_SET_QUOTA | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
    if (process) {
        FILETIME created{}, exited{}, kernel{}, user{};
        if (::GetProcessTimes(process, &created, &exited, &kernel, &user) &&
            ::CompareFileTime(&created, &asked) >= 0)
            EndsWithThisProcess(process);
    } else {
        process = ::OpenProcess(PROCESS_TERMINATE, FALSE, id);
    }
    if (!process) return nullptr;
    return std::shared_ptr<void>(process, [](HANDLE h) { ::CloseHandle(h); });
}

FILETIME Now() {
    FILETIME now{};
    ::GetSystemTimeAsFileTime(&now);
    return now;
}

class ComSession : public BackendSession {
  public:
    explicit ComSession(const ComBackendOptions& options)
        : m_asked(Now()), m_application(Create(std::make_shared<Apartment>(options.callDeadline))) {
        // First of all, so that the watchdog can end the instance from its very first call.
        if (auto process = ProcessOf(m_application, m_asked)) {
            m_application.apartment()->OnStuck([process] { ::TerminateProcess(process.get(), 1); });
        }
        // Never shown, and never stopped by a question nobody can see; an instance that cannot be made so is
        // told to quit at once.
        try {
            Call(m_application, "Application", L"Visible", CallKind::Put, {false});
            Call(m_application, "Application", L"DisplayAlerts", CallKind::Put, {false});
        } catch (const AutomationError&) {
            try {
                Quit();
            } catch (const AutomationError&) {
            }
            throw;
        }
    }

    std::shared_ptr<Workbook> Open(const std::string& path) override {
        Object workbooks = Workbooks();
        Object workbook = Call(workbooks, "Workbooks", L"Open", CallKind::Method, {AbsolutePath(path)})
                              .TakeObject("Workbooks.Open");
        return std::make_shared<ComWorkbook>(std::move(workbook), path);
    }

    // Workbooks.Add with no template: a workbook of as many empty worksheets as the application is set to
    // make, all but the first deleted at once.
    std::shared_ptr<Workbook> Create(const std::string& path) override {
        const std::string name = platform::FileNameOf(path);
        const FileFormat format = FormatOfPath(path);
        const auto number = FileFormatNumber(format);
        if (!number) {
            throw AutomationError(
                "\"" + name + "\" cannot be created: the spreadsheet application makes no new " +
                DescribeFormat(format) + " workbooks. Name a new .xlsx, .xls or .ods workbook instead.");
        }
        const std::string absolute = AbsolutePath(path);
        std::error_code ec;
        if (std::filesystem::exists(platform::PathFromUtf8(absolute), ec) || ec)
            throw AutomationError("\"" + name +
                                  "\" already exists; a new workbook is never written over a file.");
        const auto folder = platform::PathFromUtf8(absolute).parent_path();
        if (!std::filesystem::is_directory(folder, ec)) {
            throw AutomationError(
                "\"" + name + "\" cannot be created: the folder \"" + platform::Utf8FromPath(folder) +
                "\" does not exist. Create the folder first, or name a workbook in one that does.");
        }
        Object workbooks = Workbooks();
        Object workbook = Call(workbooks, "Workbooks", L"Add", CallKind::Method).TakeObject("Workbooks.Add");
        try {
            Object sheets =
                Call(workbook, "Workbook", L"Sheets", CallKind::Get).TakeObject("Workbook.Sheets");
            for (int n = Call(sheets, "Sheets", L"count", CallKind::Get).Number("Sheets.count"); n > 1; --n) {
                Object extra = Call(sheets, "Sheets", L"Item", CallKind::Get, {n}).TakeObject("Sheets.Item");
                Call(extra, "Sheet", L"Delete", CallKind::Method);
            }
        } catch (const AutomationError&) {
            try {
                Call(workbook, "Workbook", L"Close", CallKind::Method);
            } catch (const AutomationError&) {
            }
            throw;
        }
        return std::make_shared<ComWorkbook>(std::move(workbook), path, FirstSave{absolute, *number});
    }

    void Quit() override {
        // The reference goes whatever Quit says: a failed Quit must not keep the instance bound to us.
        Object application = std::move(m_application);
        Call(application, "Application", L"Quit", CallKind::Method);
    }

    void setDisplayAlerts(bool on) override {
        Call(m_application, "Application", L"DisplayAlerts", CallKind::Put, {on});
    }

    void CloseAll(const std::vector<std::shared_ptr<Workbook>>&) override {
        Object workbooks = Workbooks();
        Call(workbooks, "Workbooks", L"Close", CallKind::Method);
    }

  private:
    Object Workbooks() const {
        return Call(m_application, "Application", L"Workbooks", CallKind::Get)
            .TakeObject("Application.Workbooks");
    }

    // A new instance, never the one the user has open: created, not looked up among the running ones.
    static Object Create(std::shared_ptr<Apartment> apartment) {
        auto created = std::make_shared<IDispatch*>(nullptr);
        auto result = std::make_shared<HRESULT>(S_OK);
        apartment->Run("starting it", [created, result] {
            CLSID id{};
            *result = ::CLSIDFromProgID(kAutomationClass, &id);
            if (SUCCEEDED(*result)) {
                *result = ::CoCreateInstance(id, nullptr, CLSCTX_LOCAL_SERVER | CLSCTX_INPROC_SERVER,
                                             IID_IDispatch, reinterpret_cast<void**>(created.get()));
            }
        });
        if (FAILED(*result) || !*created) {
            throw AutomationError("The spreadsheet application could not be started: " + SystemText(*result) +
                                  ". Make sure it is installed and opens normally, then try again.");
        }
        return Object(std::move(apartment), *created);
    }

    FILETIME m_asked;  // before m_application: when the instance was asked for
    Object m_application;
};

class ComBackend : public Backend {
  public:
    explicit ComBackend(ComBackendOptions options) : m_options(options) {}

    std::string name() const override { return "the spreadsheet application"; }
    bool serves(FileFormat format) const override {
        if (format == FileFormat::Xls || format == FileFormat::Xlsb || format == FileFormat::Ods) return true;
        return m_options.serveOoxml && IsOoxml(format);
    }
    // Asked afresh each time: the application may be installed or removed while the program runs.
    bool isAvailable(std::string* why) const override {
        const ComForThisThread com;
        CLSID id{};
        const bool registered = SUCCEEDED(::CLSIDFromProgID(kAutomationClass, &id));
        if (why) {
            *why = registered
                       ? ""
                       : "The spreadsheet application is not installed on this computer (its automation "
                         "class is not registered).";
        }
        return registered;
    }
    std::unique_ptr<BackendSession> Start() override { return std::make_unique<ComSession>(m_options); }

  private:
    ComBackendOptions m_options;
};

}  // namespace

std::shared_ptr<Backend> MakeComBackend(ComBackendOptions options) {
    return std::make_shared<ComBackend>(options);
}

}  // namespace orv::automation::com
