// The automation backend against the tests' stand-in for the spreadsheet application (an in-process server
// registered under the application's class in a Wine prefix of these tests' own): the window's procedures and
// the command line run through it end to end, with the object-model calls in the procedures' order, a failure
// injected at every call reported with the stand-in's text and no sheet lost, and every object, instance and
// string released.
#include <objbase.h>
#include <windows.h>
// After windows.h, which it needs.
#include <tlhelp32.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <tuple>

#include "OperationsFixture.h"
#include "automation/DefaultBackends.h"
#include "automation/RunningSpreadsheet.h"
#include "automation/com/ActiveObjectTable.h"
#include "automation/com/Apartment.h"
#include "automation/com/ComBackend.h"
#include "automation/ooxml/OoxmlBackend.h"
#include "cli/SheetsTool.h"
#include "platform/Paths.h"

namespace orv::testing {
namespace {

using Strings = std::vector<std::string>;

// The stand-in's control functions, found in the very module the automation runtime loads.
class StandIn {
  public:
    StandIn() {
        wchar_t self[MAX_PATH];
        const DWORD n = ::GetModuleFileNameW(nullptr, self, MAX_PATH);
        std::wstring path(self, n);
        path = path.substr(0, path.find_last_of(L"\\/") + 1) + L"orvandel_standin_server.dll";
        m_module = ::LoadLibraryW(path.c_str());
        if (!m_module) throw std::runtime_error("the stand-in server could not be loaded");
    }
    template <class F>
    F* Get(const char* name) const {
        return reinterpret_cast<F*>(reinterpret_cast<void*>(::GetProcAddress(m_module, name)));
    }
    bool Register() const { return SUCCEEDED(Get<HRESULT __stdcall()>("DllRegisterServer")()); }
    // The local server beside the DLL instead, started by COM in a process of its own.
    bool RegisterLocalServer() const {
        return SUCCEEDED(Get<HRESULT(const wchar_t*)>("StandIn_RegisterLocalServer")(
            (L"\"" + Beside(L"orvandel_standin_server.exe") + L"\"").c_str()));
    }
    // A file in the folder of the tests' programs.
    static std::wstring Beside(const wchar_t* name) {
        wchar_t self[MAX_PATH];
        const std::wstring path(self, ::GetModuleFileNameW(nullptr, self, MAX_PATH));
        return path.substr(0, path.find_last_of(L"\\/") + 1) + name;
    }
    void Unregister() const { Get<HRESULT __stdcall()>("DllUnregisterServer")(); }
    void Reset() const { Get<void()>("StandIn_Reset")(); }
    void FailCall(int call, const wchar_t* text) const {
        Get<void(int, const wchar_t*)>("StandIn_FailCall")(call, text);
    }
    void FailCallWithResult(int call, HRESULT result) const {
        Get<void(int, HRESULT)>("StandIn_FailCallWithResult")(call, result);
    }
    void HangCall(int call) const { Get<void(int)>("StandIn_HangCall")(call); }
    void EndHang() const { Get<void()>("StandIn_EndHang")(); }
    int Calls() const { return Get<int()>("StandIn_CallCount")(); }
    Strings Log() const {
        std::wstring log = Get<const wchar_t*()>("StandIn_Log")();
        Strings lines;
        std::wstringstream in(log);
        for (std::wstring line; std::getline(in, line);) lines.push_back(platform::Utf8FromPath(line));
        return lines;
    }
    int LiveObjects() const { return Get<int()>("StandIn_LiveObjects")(); }
    int LiveInstances() const { return Get<int()>("StandIn_LiveInstances")(); }
    int Created() const { return Get<int()>("StandIn_InstancesCreated")(); }
    int Quits() const { return Get<int()>("StandIn_Quits")(); }

  private:
    HMODULE m_module = nullptr;
};

// Counts the blocks of COM's task allocator (BSTRs among them, with the BSTR cache off: OANOCACHE) taken and
// given back, and frees of blocks it never handed out.
class TaskMemoryCount : public IMallocSpy {
  public:
    long taken = 0;
    long given = 0;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** object) override {
        *object = (id == IID_IUnknown || id == IID_IMallocSpy) ? this : nullptr;
        return *object ? S_OK : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    SIZE_T STDMETHODCALLTYPE PreAlloc(SIZE_T size) override { return size; }
    void* STDMETHODCALLTYPE PostAlloc(void* block) override {
        if (block) ++taken;
        return block;
    }
    void* STDMETHODCALLTYPE PreFree(void* block, BOOL spied) override {
        if (block && spied) ++given;
        return block;
    }
    void STDMETHODCALLTYPE PostFree(BOOL) override {}
    SIZE_T STDMETHODCALLTYPE PreRealloc(void* block, SIZE_T size, void** out, BOOL) override {
        *out = block;
        return size;
    }
    void* STDMETHODCALLTYPE PostRealloc(void* block, BOOL) override { return block; }
    void* STDMETHODCALLTYPE PreGetSize(void* block, BOOL) override { return block; }
    SIZE_T STDMETHODCALLTYPE PostGetSize(SIZE_T size, BOOL) override { return size; }
    void* STDMETHODCALLTYPE PreDidAlloc(void* block, BOOL) override { return block; }
    int STDMETHODCALLTYPE PostDidAlloc(void*, BOOL, int allocated) override { return allocated; }
    void STDMETHODCALLTYPE PreHeapMinimize() override {}
    void STDMETHODCALLTYPE PostHeapMinimize() override {}
};

struct Book {
    std::string kind = "worksheet";
    std::string visibility = "visible";
    std::string name;
};

void Write(const std::string& path, const std::vector<Book>& sheets) {
    std::ofstream out(platform::PathFromUtf8(path), std::ios::binary);
    out << "orvandel stand-in workbook\n";
    for (const auto& s : sheets)
        out << s.kind << '\t' << s.visibility << '\t' << s.name << "\tcontent of " << s.name << '\n';
}

// One field of every sheet of a stand-in workbook file, in order: the name, or what the sheet carries (its
// content travels with copies, moves and renames); of worksheets only (what a list shows) when asked.
enum class Field { Name, Content };
Strings Read(const std::string& path, Field field, bool worksheetsOnly = false) {
    std::ifstream in(platform::PathFromUtf8(path), std::ios::binary);
    Strings values;
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
        if (worksheetsOnly && line.rfind("worksheet\t", 0) != 0) continue;
        const auto name = line.find('\t', line.find('\t') + 1) + 1, content = line.find('\t', name) + 1;
        values.push_back(field == Field::Name ? line.substr(name, content - 1 - name) : line.substr(content));
    }
    return values;
}
Strings Names(const std::string& path) { return Read(path, Field::Name); }
Strings Contents(const std::string& path) { return Read(path, Field::Content); }
Strings WorksheetNames(const std::string& path) { return Read(path, Field::Name, true); }

// The FileFormat number the stand-in was given when it last saved the file with SaveAs; "" when none.
std::string FileFormatOf(const std::string& path) {
    std::ifstream in(platform::PathFromUtf8(path), std::ios::binary);
    std::string header;
    std::getline(in, header);
    const auto tab = header.find('\t');
    return tab == std::string::npos ? "" : header.substr(tab + 1);
}

QStringList AsList(const Strings& names) {
    QStringList list;
    for (const auto& name : names) list << QString::fromStdString(name);
    return list;
}

// The calls that change something or end the instance, in order: what a procedure's steps must show.
Strings Changes(const Strings& log) {
    Strings changes;
    for (const auto& call : log) {
        for (const char* member :
             {"CreateInstance", ".Open(", "=", ".Copy(", ".Move(", ".Delete", ".Save", ".Close", ".Quit"}) {
            if (call.find(member) == std::string::npos) continue;
            // The folder of a workbook is the test's own.
            const auto open = call.find(".Open(\"");
            changes.push_back(open == std::string::npos
                                  ? call
                                  : "Open " + call.substr(call.find_last_of('\\') + 1,
                                                          call.size() - call.find_last_of('\\') - 3));
            break;
        }
    }
    return changes;
}

// True when the call's member is one of the object model's, spelled as the application's own names are called
// (lower-case "count" and "name"), or one the backend reads for its own purposes (Index, Hwnd).
bool InTheTable(const std::string& call) {
    if (call == "CreateInstance") return true;
    const auto object = call.find("].");
    const auto start = object != std::string::npos ? object + 2 : call.find('.') + 1;
    const std::string member = call.substr(start, call.find_first_of("(=", start) - start);
    static const Strings members{"Workbooks", "count",         "Item",    "Open",   "Worksheets", "Sheets",
                                 "name",      "Copy",          "Move",    "Delete", "Save",       "Close",
                                 "Quit",      "DisplayAlerts", "Visible", "Index",  "Hwnd"};
    return std::find(members.begin(), members.end(), member) != members.end();
}

class ComBackendTest : public OperationsFixture {
  protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        ASSERT_TRUE(standIn.Register()) << "the stand-in could not be registered";
        ASSERT_EQ(::CoRegisterMallocSpy(&memory), S_OK);
    }
    void TearDown() override {
        ::CoRevokeMallocSpy();
        standIn.Unregister();
        ::CoUninitialize();
    }

    // Two stand-in .xls workbooks listed in the window, through the automation backend.
    static constexpr std::chrono::milliseconds kDeadline = std::chrono::minutes(5);
    void LoadBooks(std::chrono::milliseconds deadline = kDeadline) {
        path1 = platform::Utf8FromPath(workFolder() / "one.xls");
        path2 = platform::Utf8FromPath(workFolder() / "two.xls");
        Write(path1, {{.name = "Alpha"}, {.kind = "chart", .name = "Chart"}, {.name = "Data"}});
        Write(path2, {{.name = "One"}, {.name = "Data"}});
        // The program's own choice of backends, unless the watchdog is to give up sooner.
        auto registry = std::make_shared<automation::BackendRegistry>();
        registry->Add(ooxml::MakeOoxmlBackend());
        registry->Add(automation::com::MakeComBackend({.callDeadline = deadline}));
        Start(deadline == kDeadline ? automation::DefaultBackends() : registry);
        form->panel1()->setPath(path1);
        form->panel2()->setPath(path2);
        standIn.Reset();
        dialogs.shown.clear();
    }

    // Each procedure of the window, from its selection to its end.
    struct Procedure {
        std::string name;
        std::vector<int> selected1;  // the entries selected in each list (none: as listed)
        int selected2;
        void (app::Form1::*button)();  // none: list workbook #2 again
        std::string answer;            // to the name prompt, when one comes
        Strings changes;               // what it asks of the application, in order
        Strings after1, after2;
    };
    static std::vector<Procedure> Procedures();

    void Run(const Procedure& procedure) {
        if (!procedure.button) return form->panel2()->ListWorkbookSheets();
        auto* list = form->panel1()->sheetList();
        for (const int position : procedure.selected1) {
            if (procedure.selected1.size() == 1)
                form->panel1()->list().select(position);
            else
                list->topLevelItem(position - 1)->setSelected(true);
        }
        if (procedure.selected2) form->panel2()->list().select(procedure.selected2);
        if (!procedure.answer.empty()) dialogs.inputAnswers = {procedure.answer};
        (form.get()->*procedure.button)();
    }

    // True when a box shown so far contains `text`.
    bool Shown(const std::string& text) const {
        return std::any_of(dialogs.shown.begin(), dialogs.shown.end(),
                           [&](const ShownBox& box) { return box.text.find(text) != std::string::npos; });
    }

    StandIn standIn;
    TaskMemoryCount memory;
};

constexpr const char* kAlertsOff = "Application.DisplayAlerts=False";

std::vector<ComBackendTest::Procedure> ComBackendTest::Procedures() {
    // Every instance starts private and invisible, with alerts off; the rest is each procedure's own steps.
    return {
        {"list",
         {},
         0,
         nullptr,
         "",
         {"Open two.xls", "Application.Quit"},
         {"Alpha", "Chart", "Data"},
         {"One", "Data"}},
        {"copy to #2",
         {1},
         1,
         &app::Form1::PushButton1_Click,
         "",
         {"Open one.xls", "Open two.xls", "Sheet[one.xls!Alpha].Copy(After:=Sheet[two.xls!One])",
          "Workbook[two.xls].Save", kAlertsOff, "Application.Quit"},
         {"Alpha", "Chart", "Data"},
         {"One", "Alpha", "Data"}},
        {"copy to #1 under another name",
         {1},
         2,
         &app::Form1::PushButton5_Click,
         "Data (b)",
         {"Open two.xls", "Open one.xls", "Sheet[two.xls!Data].name=\"Data (b)\"",
          "Sheet[two.xls!Data (b)].Copy(After:=Sheet[one.xls!Alpha])",
          "Sheet[two.xls!Data (b)].name=\"Data\"", "Workbook[one.xls].Save", kAlertsOff, "Application.Quit"},
         {"Alpha", "Data (b)", "Chart", "Data"},
         {"One", "Data"}},
        {"move to #2",
         {1},
         2,
         &app::Form1::PushButton2_Click,
         "",
         {"Open one.xls", "Open two.xls", "Sheet[one.xls!Alpha].Copy(After:=Sheet[two.xls!Data])", kAlertsOff,
          "Sheet[one.xls!Alpha].Delete", "Workbook[two.xls].Save", "Workbook[one.xls].Save",
          "Workbooks.Close", kAlertsOff, "Application.Quit"},
         {"Chart", "Data"},
         {"One", "Data", "Alpha"}},
        {"move to #1",
         {1},
         1,
         &app::Form1::PushButton4_Click,
         "",
         {"Open two.xls", "Open one.xls", "Sheet[two.xls!One].Copy(After:=Sheet[one.xls!Alpha])", kAlertsOff,
          "Sheet[two.xls!One].Delete", "Workbook[one.xls].Save", "Workbook[two.xls].Save", kAlertsOff,
          "Application.Quit"},
         {"Alpha", "One", "Chart", "Data"},
         {"Data"}},
        {"copy a group to #2",
         {1, 2},
         1,
         &app::Form1::PushButton1_Click,
         "Data 1",
         {"Open one.xls", "Open two.xls", "Sheet[one.xls!Alpha].Copy(After:=Sheet[two.xls!One])",
          "Sheet[one.xls!Data].Copy(After:=Sheet[two.xls!Alpha])", "Sheet[two.xls!Data (2)].name=\"Data 1\"",
          "Workbook[two.xls].Save", kAlertsOff, "Application.Quit"},
         {"Alpha", "Chart", "Data"},
         {"One", "Alpha", "Data 1", "Data"}},
        {"delete",
         {1},
         0,
         &app::Form1::PushButton7_Click,
         "",
         {"Open one.xls", kAlertsOff, "Sheet[one.xls!Alpha].Delete", "Workbook[one.xls].Save",
          "Application.Quit"},
         {"Chart", "Data"},
         {"One", "Data"}},
        {"rename",
         {},
         2,
         &app::Form1::PushButton10_Click,
         "Zwei",
         {"Open two.xls", kAlertsOff, "Sheet[two.xls!Data].name=\"Zwei\"", "Workbook[two.xls].Save",
          "Application.Quit"},
         {"Alpha", "Chart", "Data"},
         {"One", "Zwei"}},
        {"reorder up",
         {2},
         0,
         &app::Form1::PushButton11_Click,
         "",
         {"Open one.xls", kAlertsOff, "Sheet[one.xls!Data].Move(Before:=Sheet[one.xls!Alpha])",
          "Workbook[one.xls].Save", "Workbook[one.xls].Close", "Application.Quit"},
         {"Data", "Alpha", "Chart"},
         {"One", "Data"}},
        {"reorder down",
         {},
         1,
         &app::Form1::PushButton13_Click,
         "",
         {"Open two.xls", kAlertsOff, "Sheet[two.xls!One].Move(After:=Sheet[two.xls!Data])",
          "Workbook[two.xls].Save", "Workbook[two.xls].Close", "Application.Quit"},
         {"Alpha", "Chart", "Data"},
         {"Data", "One"}},
    };
}

TEST_F(ComBackendTest, ProceduresCallTheObjectModelInTheirOrder) {
    for (const auto& procedure : Procedures()) {
        SCOPED_TRACE(procedure.name);
        LoadBooks();
        Run(procedure);
        EXPECT_EQ(dialogs.reportedSteps(), std::vector<int>{});
        Strings changes = Changes(standIn.Log());
        Strings expected{"CreateInstance", "Application.Visible=False", kAlertsOff};
        expected.insert(expected.end(), procedure.changes.begin(), procedure.changes.end());
        EXPECT_EQ(changes, expected) << ::testing::PrintToString(standIn.Log());
        for (const auto& call : standIn.Log()) EXPECT_TRUE(InTheTable(call)) << call;
        EXPECT_EQ(Names(path1), procedure.after1);
        EXPECT_EQ(Names(path2), procedure.after2);
        form.reset();
        EXPECT_EQ(standIn.LiveObjects(), 0);
        EXPECT_EQ(standIn.LiveInstances(), 0);
        EXPECT_EQ(memory.taken, memory.given);
    }
}

// A failure at any call, with the application's own text or with a bare result, is shown with that text (or
// the system's words for the result) in a report naming its step, loses no sheet, leaves each list showing
// its file, and still quits and releases the instance.
TEST_F(ComBackendTest, AFailureAtAnyCallIsReportedAndLosesNoSheet) {
    for (const auto& procedure : Procedures()) {
        LoadBooks();
        Run(procedure);
        const int calls = standIn.Calls();
        const Strings clean = standIn.Log();
        form.reset();
        for (int call = 1; call <= calls; ++call) {
            for (const bool bare : {false, true}) {
                SCOPED_TRACE(procedure.name + ", call " + std::to_string(call) + " " + clean[call - 1] +
                             (bare ? ", bare result" : ""));
                LoadBooks();
                const Strings before = Contents(path1), before2 = Contents(path2);
                const std::string text = "Stand-in failure at call " + std::to_string(call) + ".";
                bare ? standIn.FailCallWithResult(call, E_ACCESSDENIED)
                     : standIn.FailCall(call, platform::PathFromUtf8(text).wstring().c_str());
                const long taken = memory.taken, given = memory.given;
                Run(procedure);
                if (procedure.name != "list") {
                    EXPECT_EQ(list1(), AsList(WorksheetNames(path1)));
                    EXPECT_EQ(list2(), AsList(WorksheetNames(path2)));
                }
                form.reset();

                // The window's own reading of where the instance runs may fail unnoticed.
                // Nothing carries the application's text out of a failed start: the system's words for it do.
                const std::string expected = bare        ? "(error 0x80070005)"
                                             : call == 1 ? "could not be started: error 0x80080005"
                                                         : text;
                if (clean[call - 1] != "Application.Hwnd") {
                    EXPECT_TRUE(Shown(expected)) << ::testing::PrintToString(dialogs.messages());
                    if (procedure.name != "list") {
                        EXPECT_FALSE(dialogs.reportedSteps().empty());
                    }
                }
                Strings all = Contents(path1), all2 = Contents(path2);
                all.insert(all.end(), all2.begin(), all2.end());
                for (const auto* book : {&before, &before2}) {
                    for (const auto& content : *book) {
                        if (procedure.name == "delete" && content == "content of Alpha") continue;
                        EXPECT_NE(std::find(all.begin(), all.end(), content), all.end())
                            << content << " was lost";
                    }
                }
                EXPECT_EQ(standIn.LiveObjects(), 0);
                EXPECT_EQ(standIn.LiveInstances(), 0);
                EXPECT_EQ(standIn.Created() - standIn.Quits(), clean[call - 1] == "Application.Quit" ? 1 : 0);
                EXPECT_EQ(memory.taken - taken, memory.given - given);
            }
        }
    }
}

// A call that never comes back: the watchdog gives up on it at the deadline, the procedure reports it and
// goes on without the instance, nothing is written, and every reference is released once the call does come
// back.
TEST_F(ComBackendTest, AHungCallIsGivenUpWithoutLosingAnything) {
    const Procedure copy = Procedures()[1];  // a copy: the list is a temporary
    LoadBooks();
    Run(copy);
    const Strings clean = standIn.Log();
    const int save =
        static_cast<int>(std::find(clean.begin(), clean.end(), "Workbook[two.xls].Save") - clean.begin()) + 1;
    ASSERT_LE(save, static_cast<int>(clean.size()));
    form.reset();

    LoadBooks(std::chrono::seconds(1));
    standIn.HangCall(save);
    Run(copy);
    EXPECT_TRUE(Shown("did not answer within 1 second (Workbook.Save), so its instance was ended"));
    EXPECT_TRUE(Shown("instance was ended after it stopped answering"));  // the steps after it
    EXPECT_EQ(Names(path2), (Strings{"One", "Data"}));
    EXPECT_EQ(list2(), AsList(Names(path2)));
    form.reset();
    standIn.EndHang();
    for (int i = 0; i < 100 && standIn.LiveObjects() > 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(standIn.LiveObjects(), 0);
    EXPECT_EQ(standIn.LiveInstances(), 0);
}

// The processes of the local stand-in server running now.
std::vector<DWORD> LocalServers() {
    std::vector<DWORD> ids;
    const HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return ids;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Process32FirstW(snapshot, &entry); more; more = ::Process32NextW(snapshot, &entry)) {
        if (::_wcsicmp(entry.szExeFile, L"orvandel_standin_server.exe") == 0)
            ids.push_back(entry.th32ProcessID);
    }
    ::CloseHandle(snapshot);
    return ids;
}

// Whether process `id` ends within `bound` (or has ended already).
bool EndsWithin(DWORD id, std::chrono::milliseconds bound) {
    const HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, id);
    if (!process) return true;
    const bool ended = ::WaitForSingleObject(process, static_cast<DWORD>(bound.count())) == WAIT_OBJECT_0;
    ::CloseHandle(process);
    return ended;
}

// The lines the local server wrote to its log file so far.
Strings ServerLog(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    Strings lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// The processes of the local server that wrote to the log, from their first lines ("<started PID>").
std::vector<DWORD> ServerProcesses(const Strings& log) {
    std::vector<DWORD> ids;
    for (const auto& line : log) {
        if (line.rfind("<started ", 0) == 0) ids.push_back(static_cast<DWORD>(std::stoul(line.substr(9))));
    }
    return ids;
}

// The environment the local server inherits from the process that makes the instance, for one test.
class ServerEnvironment {
  public:
    ServerEnvironment(const std::filesystem::path& log, const std::string& hangAt, int busy) {
        Set(L"ORVANDEL_STANDIN_LOG", log.wstring());
        Set(L"ORVANDEL_STANDIN_HANG", platform::PathFromUtf8(hangAt).wstring());
        Set(L"ORVANDEL_STANDIN_BUSY", busy ? std::to_wstring(busy) : L"");
    }
    ~ServerEnvironment() {
        for (const wchar_t* name :
             {L"ORVANDEL_STANDIN_LOG", L"ORVANDEL_STANDIN_HANG", L"ORVANDEL_STANDIN_BUSY"})
            ::SetEnvironmentVariableW(name, nullptr);
    }
    ServerEnvironment(const ServerEnvironment&) = delete;
    ServerEnvironment& operator=(const ServerEnvironment&) = delete;

  private:
    static void Set(const wchar_t* name, const std::wstring& value) {
        ::SetEnvironmentVariableW(name, value.empty() ? nullptr : value.c_str());
    }
};

// The application as it really runs, in a process of its own that COM starts: a hung instance is ended
// through the process its window belongs to; an instance that answers "busy, retry later" is waited for; and
// an instance whose program is killed in the middle of an operation does not outlive it. In every case
// nothing is lost, and no server process is left.
TEST_F(ComBackendTest, AnInstanceInItsOwnProcessIsEndedWaitedForAndNotLeftBehind) {
    struct Case {
        std::string name;
        std::string hangAt;  // the call of the server that hangs; empty: none
        int busy;            // incoming calls the server first answers "busy, retry later"
        bool killProgram;    // run as orvandel-sheets, killed while the server hangs
    };
    const std::vector<Case> cases{{"hang", "Workbook[two.xls].Save", 0, false},
                                  {"busy", "", 3, false},
                                  {"kill", "Workbook[two.xls].Save", 0, true}};
    ASSERT_EQ(LocalServers(), std::vector<DWORD>{}) << "a stand-in server was left running before the test";
    const Procedure copy = Procedures()[1];  // a copy: the list is a temporary
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(standIn.RegisterLocalServer()) << "the local server could not be registered";
        const auto log = workFolder() / (c.name + ".log");
        const ServerEnvironment environment(log, c.hangAt, c.busy);
        if (!c.killProgram) {
            // Longer than Wine takes to start the server (it looks for its class object once a second).
            LoadBooks(c.hangAt.empty() ? kDeadline : std::chrono::seconds(3));
            Run(copy);
            if (c.hangAt.empty()) {
                EXPECT_EQ(dialogs.reportedSteps(), std::vector<int>{});
                EXPECT_EQ(Names(path2), copy.after2);
                const Strings lines = ServerLog(log);
                EXPECT_EQ(std::count(lines.begin(), lines.end(), "<busy>"), c.busy);
            } else {
                EXPECT_TRUE(
                    Shown("did not answer within 3 seconds (Workbook.Save), so its instance was ended"))
                    << ::testing::PrintToString(dialogs.messages());
                EXPECT_EQ(Names(path2), (Strings{"One", "Data"}));
                EXPECT_EQ(list2(), AsList(Names(path2)));
            }
            form.reset();
        } else {
            path1 = platform::Utf8FromPath(workFolder() / "one.xls");
            path2 = platform::Utf8FromPath(workFolder() / "two.xls");
            Write(path1, {{.name = "Alpha"}, {.kind = "chart", .name = "Chart"}, {.name = "Data"}});
            Write(path2, {{.name = "One"}, {.name = "Data"}});
            const std::string before1 = Bytes(path1), before2 = Bytes(path2);
            std::wstring command = L"\"" + StandIn::Beside(L"orvandel-sheets.exe") + L"\" copy \"" +
                                   platform::PathFromUtf8(path1).wstring() + L"\" Alpha \"" +
                                   platform::PathFromUtf8(path2).wstring() + L"\" after One";
            STARTUPINFOW startup{};
            startup.cb = sizeof startup;
            PROCESS_INFORMATION program{};
            ASSERT_TRUE(::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                                         nullptr, nullptr, &startup, &program));
            ::CloseHandle(program.hThread);
            // Until the server hangs in the save; the bound only keeps a broken run from waiting forever.
            bool hanging = false;
            for (int i = 0; i < 600 && !hanging; ++i) {
                const Strings lines = ServerLog(log);
                hanging = std::find(lines.begin(), lines.end(), c.hangAt) != lines.end();
                if (!hanging) std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
            EXPECT_TRUE(hanging) << ::testing::PrintToString(ServerLog(log));
            ::TerminateProcess(program.hProcess, 9);
            ::WaitForSingleObject(program.hProcess, 10000);
            ::CloseHandle(program.hProcess);
            EXPECT_EQ(Bytes(path1), before1);
            EXPECT_EQ(Bytes(path2), before2);
        }
        // The server ends at once when it is ended or its program is; when it is released, as soon as COM has
        // passed on the last release. The bound is generous: only a server left running exceeds it.
        // A server ends at once when it is ended or its program is, and two seconds after its last release
        // otherwise. The bound is generous: only a server left running exceeds it.
        const auto servers = ServerProcesses(ServerLog(log));
        EXPECT_FALSE(servers.empty()) << "the local server never started";
        for (const DWORD server : servers) {
            EXPECT_TRUE(EndsWithin(server, std::chrono::seconds(15)))
                << "server " << server << " was left running";
        }
        for (int i = 0; i < 50 && !LocalServers().empty(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_EQ(LocalServers(), std::vector<DWORD>{});
    }
}

// orvandel-sheets chooses the application where its class is registered, and refuses a change of an .xls
// workbook, as before, where it is not.
TEST_F(ComBackendTest, TheCommandLineGoesThroughItWhereItIsRegistered) {
    // In a folder named in Cyrillic, Chinese and accented Latin, and under such a name: the paths reach the
    // application whole.
    const auto folder = workFolder() / platform::PathFromUtf8("\xD0\xA2\xD0\xB0\xD0\xB1\xD0\xBB\xD0\xB8\xD1\x86\xD0\xB0 "
                                                              "\xE8\xA1\xA8\xE6\xA0\xBC \xC3\x9Cn\xC3\xAF");
    std::filesystem::create_directories(folder);
    path1 = platform::Utf8FromPath(folder / platform::PathFromUtf8("\xC3\xBCne.xls"));
    path2 = platform::Utf8FromPath(folder / "two.xls");
    Write(path1,
          {{.name = "Alpha"}, {.kind = "chart", .name = "Chart"}, {.visibility = "hidden", .name = "Data"}});
    Write(path2, {{.name = "One"}});
    const auto tool = [](const Strings& args) {
        std::ostringstream out, err;
        const int code = cli::RunSheetsTool(args, out, err, automation::DefaultBackends());
        return std::tuple{code, out.str(), err.str()};
    };
    EXPECT_EQ(tool({"list", path1}),
              std::tuple(0,
                         std::string("1\tworksheet\tvisible\tAlpha\n2\tchartsheet\tvisible\tChart\n"
                                     "3\tworksheet\thidden\tData\n"),
                         std::string()));
    EXPECT_EQ(std::get<0>(tool({"rename", path1, "data", "Daten"})), 0);
    EXPECT_EQ(std::get<0>(tool({"reorder", path1, "Daten", "before", "#1"})), 0);
    EXPECT_EQ(std::get<0>(tool({"copy", path1, "Alpha", path2, "after", "One", "as", "Beta"})), 0);
    EXPECT_EQ(std::get<0>(tool({"move", path1, "Daten", path2, "after", "#1"})), 0);
    EXPECT_EQ(std::get<0>(tool({"delete", path2, "One"})), 0);
    const auto [code, out, err] = tool({"rename", path2, "Beta", "Chart/1"});
    EXPECT_EQ(code, 1);
    EXPECT_EQ(err, "orvandel-sheets: The name you typed is not valid for a sheet.\n");
    EXPECT_EQ(Names(path1), (Strings{"Alpha", "Chart"}));
    EXPECT_EQ(Names(path2), (Strings{"Daten", "Beta"}));
    // New workbooks in formats only the application writes hold the arriving sheets only, in the format
    // their extension names.
    const std::string made = platform::Utf8FromPath(workFolder() / "made.xls");
    EXPECT_EQ(tool({"copy", path1, "Alpha", made}),
              std::tuple(0, "Created \"" + made + "\".\n", std::string()));
    EXPECT_EQ(Contents(made), (Strings{"content of Alpha"}));
    EXPECT_EQ(FileFormatOf(made), "56");
    const std::string combined = platform::Utf8FromPath(workFolder() / "combined.ods");
    EXPECT_EQ(std::get<0>(tool({"combine", combined, path1, path2})), 0);
    EXPECT_EQ(Names(combined), (Strings{"Alpha", "Chart", "Daten", "Beta"}));
    EXPECT_EQ(FileFormatOf(combined), "60");
    EXPECT_EQ(standIn.LiveObjects(), 0);

    standIn.Unregister();
    const std::string xls = Workbook("samples/sample1.xls");
    const std::string bytes = Bytes(xls);
    const auto [refused, nothing, why] = tool({"rename", xls, "#1", "Renamed"});
    EXPECT_EQ(refused, 1);
    EXPECT_NE(why.find("can be listed but not changed"), std::string::npos) << why;
    EXPECT_EQ(Bytes(xls), bytes);
}

// The command line at every call of each command: exit status 1 with the application's text (or, for a failed
// start, the system's words), no sheet lost, the instance quit and released.
TEST_F(ComBackendTest, TheCommandLineReportsAFailureAtAnyCallAndLosesNoSheet) {
    path1 = platform::Utf8FromPath(workFolder() / "one.xls");
    path2 = platform::Utf8FromPath(workFolder() / "two.xls");
    const std::string made = platform::Utf8FromPath(workFolder() / "made.xls");
    const std::vector<Strings> commands{{"rename", path1, "Data", "Daten"},
                                        {"reorder", path1, "Data", "before", "Alpha"},
                                        {"delete", path1, "Alpha"},
                                        {"copy", path1, "Data", path2, "after", "One"},
                                        {"move", path1, "Alpha", "Data", path2, "after", "One"},
                                        {"copy", path1, "Data", made}};
    for (const auto& command : commands) {
        int calls = 0;
        int saveAs = 0;  // the call that writes the new workbook; none: the command makes no workbook
        for (int call = 0; call == 0 || call <= calls; ++call) {
            SCOPED_TRACE(command[0] + (command.back() == made ? " into a new workbook" : "") + ", call " +
                         std::to_string(call));
            Write(path1, {{.name = "Alpha"}, {.kind = "chart", .name = "Chart"}, {.name = "Data"}});
            Write(path2, {{.name = "One"}});
            std::filesystem::remove(platform::PathFromUtf8(made));
            standIn.Reset();
            const std::string text = "Stand-in failure at call " + std::to_string(call) + ".";
            if (call > 0) standIn.FailCall(call, platform::PathFromUtf8(text).wstring().c_str());
            std::ostringstream out, err;
            const int code = cli::RunSheetsTool(command, out, err, automation::DefaultBackends());
            const Strings log = standIn.Log();
            if (call == 0) {
                ASSERT_EQ(code, 0) << err.str();
                calls = standIn.Calls();
                for (int i = 1; i <= calls; ++i) {
                    if (log[i - 1].find(".SaveAs(") != std::string::npos) saveAs = i;
                }
                continue;
            }
            // The new workbook is written whole by a command that went on to save it, and not at all by one
            // that stopped before: the empty file that holds its name for SaveAs goes when SaveAs fails.
            if (saveAs) {
                const bool written = std::filesystem::exists(platform::PathFromUtf8(made));
                EXPECT_EQ(written, call > saveAs || code != 1);
                if (written) {
                    EXPECT_EQ(Contents(made), Strings{"content of Data"});
                }
            }
            if (log[call - 1].rfind("Application.Hwnd", 0) != 0) {
                // 3: the copy stands in the target but could not be looked at after it was made; it is saved.
                EXPECT_TRUE(code == 1 || (code == 3 && command[0] == "copy")) << code;
                EXPECT_NE(err.str().find(call == 1 ? "could not be started" : text), std::string::npos)
                    << err.str();
            }
            Strings all = Contents(path1), all2 = Contents(path2);
            all.insert(all.end(), all2.begin(), all2.end());
            for (const char* sheet : {"content of Chart", "content of Data", "content of One"}) {
                EXPECT_NE(std::find(all.begin(), all.end(), sheet), all.end()) << sheet << " was lost";
            }
            if (command[0] != "delete") {
                EXPECT_NE(std::find(all.begin(), all.end(), "content of Alpha"), all.end());
            }
            EXPECT_EQ(standIn.LiveObjects(), 0);
            EXPECT_EQ(standIn.Created() - standIn.Quits(),
                      log[call - 1] == "Application.Quit -> failed" ? 1 : 0);
        }
    }
}

// The application writes the files itself, yet every change through it can be taken back and done again byte
// for byte, from the command line and from the window, and an undo after another program changed a file is
// refused with nothing changed.
TEST_F(ComBackendTest, UndoAndRedoTakeBackWhatTheApplicationSaved) {
    undoFolder = workFolder() / "undo";
    LoadBooks();
    const std::string store = platform::Utf8FromPath(undoFolder);
    const auto tool = [&](const Strings& args) {
        std::ostringstream out, err;
        const int code = cli::RunSheetsTool(args, out, err, automation::DefaultBackends(), store);
        return std::tuple{code, out.str(), err.str()};
    };
    const std::string made = platform::Utf8FromPath(workFolder() / "made.xls");
    const auto snapshot = [&] {
        return std::tuple{Bytes(path1), Bytes(path2), std::filesystem::exists(platform::PathFromUtf8(made)),
                          Bytes(made)};
    };
    const auto fresh = [&] {
        Write(path1, {{.name = "Alpha"}, {.kind = "chart", .name = "Chart"}, {.name = "Data"}});
        Write(path2, {{.name = "One"}, {.name = "Data"}});
    };
    // Each change, by the command line (its arguments) or by a window procedure (its name).
    const std::vector<Strings> changes{{"rename", path1, "Data", "Daten"},
                                       {"reorder", path1, "Data", "before", "Alpha"},
                                       {"delete", path1, "Alpha"},
                                       {"copy", path1, "Alpha", path2, "after", "One"},
                                       {"copy", path1, "Alpha", made},
                                       {"move", path1, "Alpha", path2, "after", "#1"},
                                       {"move", path1, "Alpha", "Data", path2, "after", "#1"},
                                       {"move to #2"},
                                       {"copy a group to #2"},
                                       {"rename"}};
    for (const auto& change : changes) {
        SCOPED_TRACE(change[0] + (change.size() > 1 ? " by the command line" : " in the window"));
        fresh();
        form->panel1()->ListWorkbookSheets();
        form->panel2()->ListWorkbookSheets();
        const auto before = snapshot();
        if (change.size() > 1) {
            ASSERT_EQ(std::get<0>(tool(change)), 0);
        } else {
            const auto all = Procedures();
            Run(*std::find_if(all.begin(), all.end(),
                              [&](const Procedure& p) { return p.name == change[0]; }));
        }
        const auto after = snapshot();
        ASSERT_NE(after, before);
        const auto [listed, history, none] = tool({"history"});
        EXPECT_EQ(std::count(history.begin(), history.end(), '\n'), 1) << history;
        EXPECT_NE(history.find("\tdone\t"), std::string::npos) << history;

        dialogs.yesNoAnswers = {errors::Answer::Yes};
        form->UndoLastOperation();
        EXPECT_EQ(snapshot(), before);
        EXPECT_EQ(std::get<0>(tool({"redo"})), 0);
        EXPECT_EQ(snapshot(), after);
        EXPECT_EQ(std::get<0>(tool({"undo"})), 0);
        EXPECT_EQ(snapshot(), before);
        // Taken back for good: the next change starts a history of its own.
        std::filesystem::remove_all(undoFolder);
    }

    fresh();
    ASSERT_EQ(std::get<0>(tool({"rename", path1, "Alpha", "First"})), 0);
    std::ofstream(platform::PathFromUtf8(path1), std::ios::app | std::ios::binary) << "another program";
    const auto changed = snapshot();
    const auto [refused, out, why] = tool({"undo"});
    EXPECT_EQ(refused, 1);
    EXPECT_NE(why.find("was changed since"), std::string::npos) << why;
    EXPECT_EQ(snapshot(), changed);
    EXPECT_EQ(standIn.LiveObjects(), 0);
}

// A new workbook is the application's own (Workbooks.Add) cut to one worksheet; its first save writes it with
// SaveAs in the format its extension names, its later saves are plain ones, and a file that took its name
// meanwhile refuses that first save with nothing written over it.
TEST_F(ComBackendTest, ANewWorkbookIsWrittenByItsFirstSaveAndNeverOverAFile) {
    const auto failure = [](const auto& f) {
        try {
            f();
        } catch (const automation::AutomationError& e) {
            return std::string(e.what());
        }
        return std::string("no failure");
    };
    auto session = automation::com::MakeComBackend()->Start();
    const std::vector<std::pair<std::string, std::string>> formats{
        {"xls", "56"},  {"xlsx", "51"}, {"xlsm", "52"}, {"xltx", "54"},
        {"xltm", "53"}, {"ods", "60"},  {"xlsb", "50"}};
    for (const auto& [extension, number] : formats) {
        SCOPED_TRACE(extension);
        const std::string path = platform::Utf8FromPath(workFolder() / ("new." + extension));
        auto book = session->Create(path);
        EXPECT_EQ(book->fullName(), path);
        ASSERT_EQ(book->sheetCount(), 1);
        book->sheetAt(1)->setName("Only");
        EXPECT_FALSE(std::filesystem::exists(platform::PathFromUtf8(path))) << "written before its save";
        standIn.Reset();
        book->Save();
        book->Save();
        const Strings log = standIn.Log();
        ASSERT_EQ(log.size(), 2u);
        EXPECT_NE(log[0].find(".SaveAs("), std::string::npos) << log[0];
        EXPECT_EQ(log[1], "Workbook[new." + extension + "].Save");
        EXPECT_EQ(Names(path), Strings{"Only"});
        EXPECT_EQ(FileFormatOf(path), number);
    }

    const std::string taken = platform::Utf8FromPath(workFolder() / "taken.xls");
    auto late = session->Create(taken);
    Write(taken, {{.name = "Theirs"}});
    standIn.Reset();
    EXPECT_EQ(failure([&] { late->Save(); }),
              "\"taken.xls\" could not be saved: a file of that name was made by another program meanwhile. "
              "Nothing was written; choose another name.");
    EXPECT_EQ(failure([&] { session->Create(taken); }),
              "\"taken.xls\" already exists; a new workbook is never written over a file.");
    EXPECT_EQ(standIn.Calls(), 0);
    EXPECT_EQ(Contents(taken), Strings{"content of Theirs"});
    session->Quit();
    late.reset();
    session.reset();
    EXPECT_EQ(standIn.LiveObjects(), 0);
}

// The running-application warning looks for the instance by the same class, and counts only one that names
// itself as the application.
TEST_F(ComBackendTest, TheWarningFindsARunningInstanceOfTheClass) {
    const automation::com::ActiveObjectTable table;
    EXPECT_FALSE(table.AutomationInstanceRunning());
    CLSID id{};
    ASSERT_TRUE(SUCCEEDED(::CLSIDFromProgID(L"Excel.Application", &id)));
    IUnknown* running = nullptr;
    ASSERT_TRUE(SUCCEEDED(::CoCreateInstance(id, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                             reinterpret_cast<void**>(&running))));
    DWORD registration = 0;
    ASSERT_TRUE(SUCCEEDED(::RegisterActiveObject(running, id, ACTIVEOBJECT_STRONG, &registration)));
    EXPECT_TRUE(table.AutomationInstanceRunning());
    ::RevokeActiveObject(registration, nullptr);
    running->Release();
    EXPECT_FALSE(table.AutomationInstanceRunning());
    EXPECT_EQ(standIn.LiveObjects(), 0);
}

// The watchdog on its own: a call still running at the deadline makes it end the instance (which, for an
// application in its own process, is what makes the call come back), and the apartment takes no call after
// it.
TEST(Apartment, EndsTheInstanceOfACallThatDoesNotComeBack) {
    HANDLE ended = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    {
        automation::com::Apartment apartment(std::chrono::milliseconds(200));
        apartment.OnStuck([ended] { ::SetEvent(ended); });
        apartment.Run("a quick call", [] {});
        try {
            apartment.Run("Workbook.Save", [ended] { ::WaitForSingleObject(ended, 10000); });
            ADD_FAILURE() << "the hung call came back";
        } catch (const automation::AutomationError& e) {
            EXPECT_STREQ(
                e.what(),
                "The spreadsheet application did not answer within 1 second (Workbook.Save), so its "
                "instance was ended. Nothing more is done in it; each workbook file keeps what was last "
                "saved to it.");
        }
        EXPECT_EQ(::WaitForSingleObject(ended, 0), WAIT_OBJECT_0);
        EXPECT_TRUE(apartment.ended());
        EXPECT_THROW(apartment.Run("Application.Quit", [] {}), automation::AutomationError);
    }
    ::CloseHandle(ended);
}

// How the apartment answers a call the application rejected: "retry later" is tried again after a pause until
// the deadline has passed, and anything else, or a retry past it, is given up. Wine's COM never asks (it
// serves a call its server answers "retry later" at once), so the answers are asked of the filter itself, the
// one the apartment's thread has registered.
TEST(Apartment, RetriesACallTheApplicationIsTooBusyForUntilTheDeadline) {
    automation::com::Apartment apartment(std::chrono::milliseconds(5000));
    struct Row {
        DWORD elapsedMs;
        DWORD rejection;
        bool retried;
    };
    const std::vector<Row> rows{{0, SERVERCALL_RETRYLATER, true},
                                {4999, SERVERCALL_RETRYLATER, true},
                                {5000, SERVERCALL_RETRYLATER, false},
                                {60000, SERVERCALL_RETRYLATER, false},
                                {0, SERVERCALL_REJECTED, false}};
    std::vector<DWORD> answers;
    DWORD incoming = 0;
    apartment.Run("asking the filter", [&] {
        IMessageFilter* filter = nullptr;
        ::CoRegisterMessageFilter(nullptr, &filter);
        ::CoRegisterMessageFilter(filter, nullptr);
        ASSERT_NE(filter, nullptr);
        for (const Row& row : rows)
            answers.push_back(filter->RetryRejectedCall(nullptr, row.elapsedMs, row.rejection));
        incoming = filter->HandleInComingCall(CALLTYPE_TOPLEVEL, nullptr, 0, nullptr);
    });
    ASSERT_EQ(answers.size(), rows.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(std::to_string(rows[i].elapsedMs) + " ms, rejection " +
                     std::to_string(rows[i].rejection));
        if (rows[i].retried) {
            // A pause of its own (100 ms or more), not an immediate retry that would spin.
            EXPECT_GE(answers[i], 100u);
            EXPECT_LT(answers[i], 1000u);
        } else {
            EXPECT_EQ(answers[i], static_cast<DWORD>(-1));
        }
    }
    EXPECT_EQ(incoming, static_cast<DWORD>(SERVERCALL_ISHANDLED));
}

}  // namespace
}  // namespace orv::testing
