// A stand-in for the spreadsheet application's automation server, so that the COM automation backend can be
// tested under Wine without the application: an in-process server registered as "Excel.Application" whose
// objects are hand-written IDispatch implementations (late binding only, as the backend uses them) over
// workbooks kept in a small text format of the stand-in's own. Every call is logged, and a test can make any
// call fail or hang through the exports declared in StandInControl.h.
//
// Built with STANDIN_LOCAL_SERVER, the same objects are served from a process of their own, as the
// application serves them: started by COM with -Embedding, one instance per process, a hidden window whose
// handle Application.Hwnd gives, and an exit once the last object is released. That process is steered by the
// environment it inherits from its client (see StandInControl.h), since no test can call into it directly.
#include <objbase.h>
#include <oleauto.h>
#include <olectl.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cwchar>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "StandInControl.h"

namespace {

constexpr const wchar_t* kProgId = L"Excel.Application";
constexpr const wchar_t* kApplicationName = L"Microsoft Excel";
constexpr const wchar_t* kFileHeader = L"orvandel stand-in workbook";

// The application's own texts where the backend may show or recognise them.
constexpr const wchar_t* kDeleted = L"The object has been deleted.";
constexpr const wchar_t* kNameTaken = L"That name is already taken. Try a different one.";
constexpr const wchar_t* kNameInvalid = L"The name you typed is not valid for a sheet.";
constexpr const wchar_t* kLastVisible = L"A workbook must contain at least one visible worksheet.";
constexpr const wchar_t* kBadFile =
    L"The file format or file extension is not valid. Verify that the file has not been corrupted and "
    L"that the file extension matches the format of the file.";
constexpr const wchar_t* kOutOfRange = L"Subscript out of range";
constexpr const wchar_t* kVisibleRefused = L"Unable to set the Visible property of the Worksheet class";
constexpr const wchar_t* kOtherInstance = L"Copy method of Worksheet class failed";
constexpr const wchar_t* kOtherWorkbook = L"Move method of Worksheet class failed";
constexpr const wchar_t* kNotSaved = L"The stand-in could not save the workbook.";
// Where the application would ask a question: which file a new workbook goes to, whether to replace a file.
constexpr const wchar_t* kNoFileYet = L"The stand-in would ask where to save this new workbook.";
constexpr const wchar_t* kWouldAskToReplace = L"The stand-in would ask whether to replace the file.";
constexpr const wchar_t* kHungText = L"The stand-in was ended while it hung.";
DWORD g_hangLimitMs = 120000;

// Lets a sheet passed as an argument be recognised as one of ours; proxies do not know it, which is right:
// the application takes only sheets of its own process.
constexpr GUID kStandInObjectIid = {
    0xca6ce52a, 0xf536, 0x421e, {0xb7, 0x67, 0xb7, 0x2d, 0x41, 0x3f, 0x00, 0xd1}};

std::atomic<int> g_liveObjects{0};
// Set in the local server: its window, the thread that runs its message loop, and what the environment asked.
HWND g_window = nullptr;
ULONGLONG g_lastRelease = 0;  // when the last object went; 0: none was ever made
std::wstring g_hangAt;        // the first call whose log line starts with this hangs; empty: none
std::wstring g_logFile;       // where each call's log line is appended as the call begins
std::atomic<int> g_liveInstances{0};
std::atomic<int> g_factoryReferences{0};
std::atomic<int> g_serverLocks{0};

// ---------------------------------------------------------------------------------------------------------------
// What the tests control and read. The tests' thread reads it while the objects' apartment calls, hence the
// mutex, which every Invoke holds for its whole work (but not while it hangs).

struct Injection {
    enum class Kind { Fail, Result, Hang };
    Kind kind = Kind::Fail;
    bool described = false;
    std::wstring description;
    HRESULT result = S_OK;
};

struct Control {
    std::mutex mutex;
    std::vector<std::wstring> log;
    std::wstring logText;
    std::map<int, Injection> injections;
    int calls = 0;
    int instancesCreated = 0;
    int quits = 0;
    int saved = 0;
    // A call that outlives a reset must not mark a line of the new log.
    unsigned epoch = 0;
};

Control& State() {
    static Control control;
    return control;
}

// Set while nothing is to hang.
HANDLE HangEnded() {
    static const HANDLE event = ::CreateEventW(nullptr, TRUE, TRUE, nullptr);
    return event;
}

struct Ticket {
    int number;
    size_t line;
    unsigned epoch;
};

// The test reads the local server's log from the file while a call of it hangs, so each line goes there at
// once.
void AppendToLogFile(const std::wstring& line) {
    if (g_logFile.empty()) return;
    const HANDLE file = ::CreateFileW(g_logFile.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    const std::wstring text = line + L"\n";
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                           nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size, nullptr,
                          nullptr);
    DWORD written = 0;
    ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    ::CloseHandle(file);
}

Ticket BeginCall(Control& control, std::wstring line) {
    AppendToLogFile(line);
    const int number = ++control.calls;
    if (!g_hangAt.empty() && line.rfind(g_hangAt, 0) == 0) {
        g_hangAt.clear();
        control.injections[number] = {Injection::Kind::Hang, false, {}, S_OK};
        ::ResetEvent(HangEnded());
    }
    control.log.push_back(std::move(line));
    return {number, control.log.size() - 1, control.epoch};
}

void MarkFailed(Control& control, const Ticket& ticket) {
    if (ticket.epoch == control.epoch) control.log[ticket.line] += L" -> failed";
}

std::optional<Injection> TakeInjection(Control& control, int number) {
    const auto found = control.injections.find(number);
    if (found == control.injections.end()) return std::nullopt;
    Injection injection = std::move(found->second);
    control.injections.erase(found);
    return injection;
}

// Without the mutex, so that the test's thread can read the log and end the hang meanwhile.
void Hang(std::unique_lock<std::mutex>& lock) {
    lock.unlock();
    ::WaitForSingleObject(HangEnded(), g_hangLimitMs);
    lock.lock();
}

// ---------------------------------------------------------------------------------------------------------------
// How a call ends.

struct Outcome {
    HRESULT result = S_OK;
    bool described = false;
    std::wstring description;
    UINT argument = 0;  // index in rgvarg of the argument at fault
};

Outcome Failure(const wchar_t* text) { return {DISP_E_EXCEPTION, true, text, 0}; }
Outcome Error(HRESULT result, UINT argument = 0) { return {result, false, {}, argument}; }

Outcome Injected(const Injection& injection) {
    switch (injection.kind) {
        case Injection::Kind::Fail:
            return {DISP_E_EXCEPTION, injection.described, injection.description, 0};
        case Injection::Kind::Result:
            return Error(injection.result);
        case Injection::Kind::Hang:
            break;
    }
    return Failure(kHungText);
}

HRESULT Report(const Outcome& outcome, EXCEPINFO* exception, UINT* argumentError) {
    if (outcome.result == DISP_E_EXCEPTION && exception) {
        *exception = EXCEPINFO{};
        exception->scode = STANDIN_EXCEPTION_SCODE;
        exception->bstrSource = ::SysAllocString(STANDIN_EXCEPTION_SOURCE);
        if (outcome.described) exception->bstrDescription = ::SysAllocString(outcome.description.c_str());
    }
    if ((outcome.result == DISP_E_TYPEMISMATCH || outcome.result == DISP_E_PARAMNOTFOUND) && argumentError)
        *argumentError = outcome.argument;
    return outcome.result;
}

Outcome ReturnText(VARIANT* result, const std::wstring& text) {
    if (result) {
        V_VT(result) = VT_BSTR;
        V_BSTR(result) = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    }
    return {};
}

Outcome ReturnInt(VARIANT* result, long value) {
    if (result) {
        V_VT(result) = VT_I4;
        V_I4(result) = value;
    }
    return {};
}

Outcome ReturnBool(VARIANT* result, bool value) {
    if (result) {
        V_VT(result) = VT_BOOL;
        V_BOOL(result) = value ? VARIANT_TRUE : VARIANT_FALSE;
    }
    return {};
}

// Makes the object only for a caller that takes it; it comes with the one reference handed over.
template <class Make>
Outcome ReturnObject(VARIANT* result, Make make) {
    if (result) {
        V_VT(result) = VT_DISPATCH;
        V_DISPATCH(result) = make();
    }
    return {};
}

// ---------------------------------------------------------------------------------------------------------------
// Text and files.

// Sheet and workbook names compare as the application compares them: case ignored in every script.
bool SameText(const std::wstring& a, const std::wstring& b) {
    return ::CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()),
                                  TRUE) == CSTR_EQUAL;
}

std::wstring FileNameOf(const std::wstring& path) {
    const auto slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                           nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size, nullptr,
                          nullptr);
    return bytes;
}

std::optional<std::wstring> Utf16(const std::string& bytes) {
    if (bytes.empty()) return std::wstring();
    const int size = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(),
                                           static_cast<int>(bytes.size()), nullptr, 0);
    if (size <= 0) return std::nullopt;
    std::wstring text(static_cast<size_t>(size), L'\0');
    ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()),
                          text.data(), size);
    return text;
}

std::vector<std::wstring> Split(const std::wstring& text, wchar_t separator) {
    std::vector<std::wstring> parts;
    size_t start = 0;
    for (size_t end; (end = text.find(separator, start)) != std::wstring::npos; start = end + 1)
        parts.push_back(text.substr(start, end - start));
    parts.push_back(text.substr(start));
    return parts;
}

std::optional<std::string> ReadBytes(const std::wstring& path) {
    const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::nullopt;
    std::string bytes;
    char buffer[4096];
    DWORD read = 0;
    BOOL ok;
    while ((ok = ::ReadFile(file, buffer, sizeof buffer, &read, nullptr)) && read > 0)
        bytes.append(buffer, read);
    ::CloseHandle(file);
    if (!ok) return std::nullopt;
    return bytes;
}

bool WriteBytes(const std::wstring& path, const std::string& bytes) {
    const HANDLE file =
        ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool ok = ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                    written == bytes.size() && ::FlushFileBuffers(file);
    return ::CloseHandle(file) && ok;
}

// ---------------------------------------------------------------------------------------------------------------
// Workbooks as plain data. The application instance owns its open workbooks' data; COM objects are made on
// demand and hold the data they stand for, so no COM object holds one of its parents' children.

enum : long { kVisible = -1, kHidden = 0, kVeryHidden = 2 };  // the application's own values
constexpr std::pair<const wchar_t*, long> kVisibilities[] = {
    {L"visible", kVisible}, {L"hidden", kHidden}, {L"veryHidden", kVeryHidden}};

struct SheetData {
    bool chart = false;
    long visibility = kVisible;
    std::wstring name;
    std::wstring content;
    bool deleted = false;
};
using Sheet = std::shared_ptr<SheetData>;

struct WorkbookData {
    std::wstring path;  // a new workbook's name until its SaveAs
    std::vector<Sheet> sheets;
    bool closed = false;
    bool untitled = false;  // made by Workbooks.Add and not saved yet
    long format = 0;        // the FileFormat of its last SaveAs, written in its header; 0: none given
};
using Workbook = std::shared_ptr<WorkbookData>;

Workbook ReadWorkbook(const std::wstring& path) {
    const auto bytes = ReadBytes(path);
    const auto text = bytes ? Utf16(*bytes) : std::nullopt;
    if (!text) return nullptr;
    auto lines = Split(*text, L'\n');
    if (lines.back().empty()) lines.pop_back();
    if (lines.size() < 2) return nullptr;
    const auto header = Split(lines.front(), L'\t');
    if (header.front() != kFileHeader || header.size() > 2) return nullptr;
    auto workbook = std::make_shared<WorkbookData>();
    workbook->path = path;
    if (header.size() == 2) workbook->format = std::wcstol(header[1].c_str(), nullptr, 10);
    for (size_t i = 1; i < lines.size(); ++i) {
        const auto fields = Split(lines[i], L'\t');
        if (fields.size() != 4 || fields[2].empty() || (fields[0] != L"worksheet" && fields[0] != L"chart"))
            return nullptr;
        const auto visibility = std::find_if(std::begin(kVisibilities), std::end(kVisibilities),
                                             [&](const auto& v) { return fields[1] == v.first; });
        if (visibility == std::end(kVisibilities)) return nullptr;
        workbook->sheets.push_back(std::make_shared<SheetData>(
            SheetData{fields[0] == L"chart", visibility->second, fields[2], fields[3]}));
    }
    return workbook;
}

// Written beside the workbook and renamed over it, so a failed save leaves the old file whole.
bool SaveWorkbook(const WorkbookData& workbook) {
    std::wstring text = std::wstring(kFileHeader) +
                        (workbook.format ? L"\t" + std::to_wstring(workbook.format) : std::wstring()) + L"\n";
    for (const Sheet& sheet : workbook.sheets) {
        const auto visibility = std::find_if(std::begin(kVisibilities), std::end(kVisibilities),
                                             [&](const auto& v) { return sheet->visibility == v.second; });
        text += std::wstring(sheet->chart ? L"chart" : L"worksheet") + L"\t" + visibility->first + L"\t" +
                sheet->name + L"\t" + sheet->content + L"\n";
    }
    const std::wstring temporary = workbook.path + L".stand-in-save";
    if (WriteBytes(temporary, Utf8(text)) &&
        ::MoveFileExW(temporary.c_str(), workbook.path.c_str(),
                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    ::DeleteFileW(temporary.c_str());
    return false;
}

bool ValidSheetName(const std::wstring& name) {
    return !name.empty() && name.size() <= 31 && name.find_first_of(L"[]:*?/\\") == std::wstring::npos &&
           name.front() != L'\'' && name.back() != L'\'';
}

bool NameTaken(const std::vector<Sheet>& sheets, const std::wstring& name, const SheetData* except) {
    return std::any_of(sheets.begin(), sheets.end(),
                       [&](const Sheet& s) { return s.get() != except && SameText(s->name, name); });
}

// The name a copy gets: its source's, or "Name (2)", "Name (3)"... shortened to fit when needed.
std::wstring FreeName(const std::vector<Sheet>& sheets, const std::wstring& name) {
    if (!NameTaken(sheets, name, nullptr)) return name;
    for (int n = 2;; ++n) {
        const std::wstring suffix = L" (" + std::to_wstring(n) + L")";
        const std::wstring candidate = name.substr(0, 31 - std::min<size_t>(31, suffix.size())) + suffix;
        if (!NameTaken(sheets, candidate, nullptr)) return candidate;
    }
}

long VisibleCount(const std::vector<Sheet>& sheets) {
    return static_cast<long>(std::count_if(sheets.begin(), sheets.end(),
                                           [](const Sheet& s) { return s->visibility == kVisible; }));
}

size_t PositionOf(const std::vector<Sheet>& sheets, const SheetData* sheet) {
    return static_cast<size_t>(
        std::find_if(sheets.begin(), sheets.end(), [&](const Sheet& s) { return s.get() == sheet; }) -
        sheets.begin());
}

// ---------------------------------------------------------------------------------------------------------------
// Members. One DISPID a name whatever the object; arguments named Before and After have their own.

enum : DISPID {
    kWorkbooks = 1,
    kVisibleMember,
    kDisplayAlerts,
    kQuit,
    kHwnd,
    kName,
    kCount,
    kItem,
    kOpen,
    kClose,
    kWorksheets,
    kSheets,
    kSave,
    kFullName,
    kIndex,
    kCopy,
    kMove,
    kDelete,
    kAdd,
    kSaveAs
};
enum : DISPID { kBefore = 0, kAfter = 1 };

enum class Access { Get, GetPut, Method, MethodOrGet };

struct Member {
    const wchar_t* name;  // empty: reached by DISPID only
    DISPID id;
    Access access;
    UINT arguments;
    bool placed = false;  // its one argument must be named Before or After
};

constexpr Member kPlaceArguments[] = {{L"Before", kBefore, Access::Get, 0},
                                      {L"After", kAfter, Access::Get, 0}};

// One kind of object: its members, and how the caller last spelled each (the log shows the caller's
// spelling).
struct ObjectType {
    explicit ObjectType(std::vector<Member> list) : members(std::move(list)) {}
    std::vector<Member> members;
    std::map<DISPID, std::wstring> spellings;
    std::map<DISPID, std::wstring> argumentSpellings;
};

ObjectType g_applicationType{{{L"Workbooks", kWorkbooks, Access::Get, 0},
                              {L"Visible", kVisibleMember, Access::GetPut, 0},
                              {L"DisplayAlerts", kDisplayAlerts, Access::GetPut, 0},
                              {L"Quit", kQuit, Access::Method, 0},
                              {L"Hwnd", kHwnd, Access::Get, 0},
                              {L"Name", kName, Access::Get, 0},
                              {L"", DISPID_VALUE, Access::Get, 0}}};
ObjectType g_workbooksType{{{L"Count", kCount, Access::Get, 0},
                            {L"Item", kItem, Access::MethodOrGet, 1},
                            {L"Open", kOpen, Access::Method, 1},
                            {L"Add", kAdd, Access::Method, 0},  // no template: a workbook of blank sheets
                            {L"Close", kClose, Access::Method, 0}}};
ObjectType g_workbookType{{{L"Worksheets", kWorksheets, Access::Get, 0},
                           {L"Sheets", kSheets, Access::Get, 0},
                           {L"Save", kSave, Access::Method, 0},
                           {L"SaveAs", kSaveAs, Access::Method, 2},  // Filename, FileFormat
                           {L"Close", kClose, Access::Method, 0},
                           {L"Name", kName, Access::Get, 0},
                           {L"FullName", kFullName, Access::Get, 0}}};
ObjectType g_sheetsType{{{L"Count", kCount, Access::Get, 0}, {L"Item", kItem, Access::MethodOrGet, 1}}};
ObjectType g_sheetType{{{L"Name", kName, Access::GetPut, 0},
                        {L"Visible", kVisibleMember, Access::GetPut, 0},
                        {L"Index", kIndex, Access::Get, 0},
                        {L"Copy", kCopy, Access::Method, 1, true},
                        {L"Move", kMove, Access::Method, 1, true},
                        {L"Delete", kDelete, Access::Method, 0}}};

template <class Members>
const Member* FindByName(const Members& members, const wchar_t* name) {
    for (const Member& member : members)
        if (*member.name && name && SameText(member.name, name)) return &member;
    return nullptr;
}

// ---------------------------------------------------------------------------------------------------------------
// COM plumbing.

template <class T>
class Ref {
  public:
    Ref() = default;
    explicit Ref(T* object) : m_object(object) {
        if (m_object) m_object->AddRef();
    }
    Ref(const Ref& other) : Ref(other.m_object) {}
    Ref& operator=(Ref other) {
        std::swap(m_object, other.m_object);
        return *this;
    }
    ~Ref() {
        if (m_object) m_object->Release();
    }
    static Ref Adopt(T* object) {
        Ref ref;
        ref.m_object = object;
        return ref;
    }
    T* Get() const { return m_object; }
    T* operator->() const { return m_object; }

  private:
    T* m_object = nullptr;
};

class DispatchObject;

struct Arg {
    enum class Kind { Missing, Number, Text, Bool, Object, Other };
    Kind kind = Kind::Other;
    long number = 0;
    std::wstring text;
    bool flag = false;
    Ref<DispatchObject> object;  // set when the object is one of ours
    VARTYPE type = VT_EMPTY;
    DISPID name = DISPID_UNKNOWN;  // DISPID_UNKNOWN: positional
    UINT position = 0;             // index in rgvarg
};

struct Call {
    WORD flags;
    std::vector<Arg> args;  // positional ones first, in the caller's order, then the named ones
    bool IsPut() const { return flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF); }
};

class DispatchObject : public IDispatch {
  public:
    DispatchObject(const DispatchObject&) = delete;
    DispatchObject& operator=(const DispatchObject&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (!::IsEqualGUID(iid, IID_IUnknown) && !::IsEqualGUID(iid, IID_IDispatch) &&
            !::IsEqualGUID(iid, kStandInObjectIid))
            return E_NOINTERFACE;
        *out = this;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ::InterlockedIncrement(&m_references); }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = ::InterlockedDecrement(&m_references);
        if (left == 0) delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
        if (info) *info = nullptr;
        return DISP_E_BADINDEX;
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO* exception, UINT* argumentError) override;

    // How the log names the object now; called with the mutex held.
    virtual std::wstring Prefix() const = 0;

  protected:
    explicit DispatchObject(ObjectType& type) : m_type(type) { ++g_liveObjects; }
    // The local server, like the application started for automation, ends with the last reference to it.
    virtual ~DispatchObject() {
        if (--g_liveObjects == 0) g_lastRelease = ::GetTickCount64();
    }
    // Carries out a call whose flags and arguments fit the member; called with the mutex held.
    virtual Outcome Execute(const Member& member, const Call& call, VARIANT* result) = 0;

  private:
    std::wstring Describe(const Member* member, DISPID id, const Call& call) const;

    LONG m_references = 1;
    ObjectType& m_type;
};

Arg ReadArg(const VARIANT& given, UINT position, DISPID name) {
    Arg arg;
    arg.position = position;
    arg.name = name;
    const VARIANT* value = &given;
    while (V_VT(value) == (VT_BYREF | VT_VARIANT) && V_VARIANTREF(value)) value = V_VARIANTREF(value);
    VARIANT plain;
    ::VariantInit(&plain);
    if (FAILED(::VariantCopyInd(&plain, const_cast<VARIANT*>(value)))) return arg;
    arg.type = V_VT(&plain);
    switch (V_VT(&plain)) {
        case VT_EMPTY:
        case VT_NULL:
            break;
        case VT_BSTR:
            arg.kind = Arg::Kind::Text;
            if (V_BSTR(&plain)) arg.text.assign(V_BSTR(&plain), ::SysStringLen(V_BSTR(&plain)));
            break;
        case VT_BOOL:
            arg.kind = Arg::Kind::Bool;
            arg.flag = V_BOOL(&plain) != VARIANT_FALSE;
            break;
        case VT_ERROR:
            if (V_ERROR(&plain) == DISP_E_PARAMNOTFOUND) arg.kind = Arg::Kind::Missing;
            break;
        case VT_DISPATCH:
        case VT_UNKNOWN:
            if (IUnknown* unknown = V_UNKNOWN(&plain)) {
                arg.kind = Arg::Kind::Object;
                void* ours = nullptr;
                if (SUCCEEDED(unknown->QueryInterface(kStandInObjectIid, &ours)))
                    arg.object = Ref<DispatchObject>::Adopt(static_cast<DispatchObject*>(ours));
            }
            break;
        default: {
            VARIANT number;
            ::VariantInit(&number);
            if (SUCCEEDED(::VariantChangeType(&number, &plain, 0, VT_I4))) {
                arg.kind = Arg::Kind::Number;
                arg.number = V_I4(&number);
            }
            ::VariantClear(&number);
        }
    }
    ::VariantClear(&plain);
    return arg;
}

// Read before the mutex is taken: a foreign object's QueryInterface may call back.
std::vector<Arg> ReadArgs(const DISPPARAMS& params) {
    std::vector<Arg> args;
    if (!params.rgvarg) return args;
    const UINT named = std::min(params.cNamedArgs, params.cArgs);
    for (UINT i = params.cArgs; i-- > named;) args.push_back(ReadArg(params.rgvarg[i], i, DISPID_UNKNOWN));
    for (UINT i = 0; i < named; ++i)
        args.push_back(ReadArg(params.rgvarg[i], i,
                               params.rgdispidNamedArgs ? params.rgdispidNamedArgs[i] : DISPID_UNKNOWN));
    return args;
}

std::wstring Format(const Arg& arg) {
    switch (arg.kind) {
        case Arg::Kind::Missing:
            return L"<missing>";
        case Arg::Kind::Number:
            return std::to_wstring(arg.number);
        case Arg::Kind::Text:
            return L"\"" + arg.text + L"\"";
        case Arg::Kind::Bool:
            return arg.flag ? L"True" : L"False";
        case Arg::Kind::Object:
            return arg.object.Get() ? arg.object->Prefix() : L"<object>";
        case Arg::Kind::Other:
            break;
    }
    return L"<vt " + std::to_wstring(arg.type) + L">";
}

std::wstring DispatchObject::Describe(const Member* member, DISPID id, const Call& call) const {
    const auto spelling = m_type.spellings.find(id);
    std::wstring text = id == DISPID_VALUE                   ? std::wstring(L"<default>")
                        : spelling != m_type.spellings.end() ? spelling->second
                        : member                             ? std::wstring(member->name)
                                                             : L"#" + std::to_wstring(id);
    if (call.IsPut() && call.args.size() == 1) return text + L"=" + Format(call.args.front());
    if (call.args.empty()) return text;
    for (size_t i = 0; i < call.args.size(); ++i) {
        const Arg& arg = call.args[i];
        text += i == 0 ? L"(" : L", ";
        if (arg.name != DISPID_UNKNOWN) {
            const auto argument = m_type.argumentSpellings.find(arg.name);
            text += (argument != m_type.argumentSpellings.end() ? argument->second
                                                                : L"#" + std::to_wstring(arg.name)) +
                    L":=";
        }
        text += Format(arg);
    }
    return text + L")";
}

HRESULT DispatchObject::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    if (!names || !ids) return E_POINTER;
    if (count == 0) return S_OK;
    const std::lock_guard lock(State().mutex);
    HRESULT result = S_OK;
    const Member* member = FindByName(m_type.members, names[0]);
    ids[0] = member ? member->id : DISPID_UNKNOWN;
    if (member) m_type.spellings[member->id] = names[0];
    for (UINT i = 1; i < count; ++i) {
        const Member* argument = member && member->placed ? FindByName(kPlaceArguments, names[i]) : nullptr;
        ids[i] = argument ? argument->id : DISPID_UNKNOWN;
        if (argument) m_type.argumentSpellings[argument->id] = names[i];
    }
    for (UINT i = 0; i < count; ++i)
        if (ids[i] == DISPID_UNKNOWN) result = DISP_E_UNKNOWNNAME;
    return result;
}

Outcome CheckShape(const Member& member, const Call& call) {
    if (call.IsPut()) {
        if (member.access != Access::GetPut || (call.flags & DISPATCH_PROPERTYPUTREF))
            return Error(DISP_E_MEMBERNOTFOUND);
        if (call.args.size() != 1) return Error(DISP_E_BADPARAMCOUNT);
        if (call.args.front().name != DISPID_PROPERTYPUT) return Error(DISP_E_PARAMNOTFOUND, 0);
        return {};
    }
    const bool get = call.flags & DISPATCH_PROPERTYGET;
    const bool method = call.flags & DISPATCH_METHOD;
    const bool fits = member.access == Access::Method        ? method
                      : member.access == Access::MethodOrGet ? get || method
                                                             : get;
    if (!fits) return Error(DISP_E_MEMBERNOTFOUND);
    if (call.args.size() != member.arguments) return Error(DISP_E_BADPARAMCOUNT);
    for (const Arg& arg : call.args) {
        const bool named = arg.name != DISPID_UNKNOWN;
        if (named != member.placed || (named && arg.name != kBefore && arg.name != kAfter))
            return Error(DISP_E_PARAMNOTFOUND, arg.position);
    }
    return {};
}

HRESULT DispatchObject::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                               EXCEPINFO* exception, UINT* argumentError) {
    if (result) ::VariantInit(result);
    const Call call{flags, ReadArgs(params ? *params : DISPPARAMS{})};
    Outcome outcome;
    {
        Control& control = State();
        std::unique_lock lock(control.mutex);
        const auto member = std::find_if(m_type.members.begin(), m_type.members.end(),
                                         [&](const Member& m) { return m.id == id; });
        const bool known = member != m_type.members.end();
        const Ticket ticket =
            BeginCall(control, Prefix() + L"." + Describe(known ? &*member : nullptr, id, call));
        if (const auto injection = TakeInjection(control, ticket.number)) {
            if (injection->kind == Injection::Kind::Hang) Hang(lock);
            outcome = Injected(*injection);
        } else if (!known) {
            outcome = Error(DISP_E_MEMBERNOTFOUND);
        } else if (outcome = CheckShape(*member, call); SUCCEEDED(outcome.result)) {
            outcome = Execute(*member, call, result);
        }
        if (FAILED(outcome.result)) {
            MarkFailed(control, ticket);
            if (result) ::VariantClear(result);
        }
    }
    return Report(outcome, exception, argumentError);
}

// ---------------------------------------------------------------------------------------------------------------
// The objects.

class ApplicationObject final : public DispatchObject {
  public:
    ApplicationObject() : DispatchObject(g_applicationType) { ++g_liveInstances; }
    std::wstring Prefix() const override { return L"Application"; }
    std::vector<Workbook>& Workbooks() { return m_workbooks; }
    void Close(const Workbook& workbook) {
        workbook->closed = true;
        m_workbooks.erase(std::remove(m_workbooks.begin(), m_workbooks.end(), workbook), m_workbooks.end());
    }
    void CloseAll() {
        for (const Workbook& workbook : m_workbooks) workbook->closed = true;
        m_workbooks.clear();
    }
    bool DisplayAlerts() const { return m_displayAlerts; }
    // A new workbook of three empty worksheets, as the application makes where it is set to, so that a
    // backend that wants one sheet has to delete the others.
    Workbook Add() {
        auto workbook = std::make_shared<WorkbookData>();
        workbook->path = L"Book" + std::to_wstring(++m_added);
        workbook->untitled = true;
        for (const wchar_t* name : {L"Sheet1", L"Sheet2", L"Sheet3"})
            workbook->sheets.push_back(std::make_shared<SheetData>(SheetData{false, kVisible, name, L""}));
        m_workbooks.push_back(workbook);
        return workbook;
    }

  protected:
    ~ApplicationObject() override { --g_liveInstances; }
    Outcome Execute(const Member& member, const Call& call, VARIANT* result) override;

  private:
    std::vector<Workbook> m_workbooks;
    bool m_visible = false;
    bool m_displayAlerts = true;
    bool m_quit = false;
    int m_added = 0;
};

class WorkbookObject final : public DispatchObject {
  public:
    WorkbookObject(ApplicationObject* application, Workbook data)
        : DispatchObject(g_workbookType), m_application(application), m_data(std::move(data)) {}
    std::wstring Prefix() const override { return L"Workbook[" + FileNameOf(m_data->path) + L"]"; }
    ApplicationObject* Application() const { return m_application.Get(); }
    WorkbookData& Data() const { return *m_data; }

  protected:
    Outcome Execute(const Member& member, const Call& call, VARIANT* result) override;

  private:
    Outcome SaveAs(const Arg& filename, const Arg& format);

    Ref<ApplicationObject> m_application;
    Workbook m_data;
};

class SheetObject final : public DispatchObject {
  public:
    SheetObject(WorkbookObject* workbook, Sheet sheet)
        : DispatchObject(g_sheetType), m_workbook(workbook), m_sheet(std::move(sheet)) {}
    std::wstring Prefix() const override {
        return L"Sheet[" + FileNameOf(m_workbook->Data().path) + L"!" + m_sheet->name + L"]";
    }

  protected:
    Outcome Execute(const Member& member, const Call& call, VARIANT* result) override;

  private:
    bool Gone() const { return m_sheet->deleted || m_workbook->Data().closed; }
    Outcome Rename(const Arg& arg);
    Outcome SetVisibility(const Arg& arg);
    Outcome Place(const Member& member, const Arg& arg);

    Ref<WorkbookObject> m_workbook;
    Sheet m_sheet;
};

class SheetsObject final : public DispatchObject {
  public:
    SheetsObject(WorkbookObject* workbook, bool worksheetsOnly)
        : DispatchObject(g_sheetsType), m_workbook(workbook), m_worksheetsOnly(worksheetsOnly) {}
    std::wstring Prefix() const override {
        return (m_worksheetsOnly ? L"Worksheets[" : L"Sheets[") + FileNameOf(m_workbook->Data().path) + L"]";
    }

  protected:
    Outcome Execute(const Member& member, const Call& call, VARIANT* result) override {
        const WorkbookData& data = m_workbook->Data();
        if (data.closed) return Failure(kDeleted);
        std::vector<Sheet> listed;
        std::copy_if(data.sheets.begin(), data.sheets.end(), std::back_inserter(listed),
                     [&](const Sheet& s) { return !m_worksheetsOnly || !s->chart; });
        if (member.id == kCount) return ReturnInt(result, static_cast<long>(listed.size()));
        const Arg& arg = call.args.front();
        Sheet found;
        if (arg.kind == Arg::Kind::Number) {
            if (arg.number >= 1 && static_cast<size_t>(arg.number) <= listed.size())
                found = listed[arg.number - 1];
        } else if (arg.kind == Arg::Kind::Text) {
            for (const Sheet& sheet : listed)
                if (!found && SameText(sheet->name, arg.text)) found = sheet;
        } else {
            return Error(DISP_E_TYPEMISMATCH, arg.position);
        }
        if (!found) return Failure(kOutOfRange);
        return ReturnObject(result, [&] { return new SheetObject(m_workbook.Get(), found); });
    }

  private:
    Ref<WorkbookObject> m_workbook;
    bool m_worksheetsOnly;
};

class WorkbooksObject final : public DispatchObject {
  public:
    explicit WorkbooksObject(ApplicationObject* application)
        : DispatchObject(g_workbooksType), m_application(application) {}
    std::wstring Prefix() const override { return L"Workbooks"; }

  protected:
    Outcome Execute(const Member& member, const Call& call, VARIANT* result) override {
        std::vector<Workbook>& workbooks = m_application->Workbooks();
        Workbook found;
        switch (member.id) {
            case kCount:
                return ReturnInt(result, static_cast<long>(workbooks.size()));
            case kClose:
                m_application->CloseAll();
                return {};
            case kItem: {
                const Arg& arg = call.args.front();
                if (arg.kind != Arg::Kind::Number) return Error(DISP_E_TYPEMISMATCH, arg.position);
                if (arg.number < 1 || static_cast<size_t>(arg.number) > workbooks.size())
                    return Failure(kOutOfRange);
                found = workbooks[arg.number - 1];
                break;
            }
            case kOpen: {
                const Arg& arg = call.args.front();
                if (arg.kind != Arg::Kind::Text) return Error(DISP_E_TYPEMISMATCH, arg.position);
                found = ReadWorkbook(arg.text);
                if (!found) return Failure(kBadFile);
                workbooks.push_back(found);
                break;
            }
            case kAdd:
                found = m_application->Add();
                break;
            default:
                return Error(DISP_E_MEMBERNOTFOUND);
        }
        return ReturnObject(result, [&] { return new WorkbookObject(m_application.Get(), found); });
    }

  private:
    Ref<ApplicationObject> m_application;
};

Outcome SetFlag(const Call& call, bool& flag, VARIANT* result) {
    if (!call.IsPut()) return ReturnBool(result, flag);
    const Arg& arg = call.args.front();
    if (arg.kind == Arg::Kind::Bool)
        flag = arg.flag;
    else if (arg.kind == Arg::Kind::Number)
        flag = arg.number != 0;
    else
        return Error(DISP_E_TYPEMISMATCH, arg.position);
    return {};
}

Outcome ApplicationObject::Execute(const Member& member, const Call& call, VARIANT* result) {
    switch (member.id) {
        case DISPID_VALUE:
        case kName:
            return ReturnText(result, kApplicationName);
        case kWorkbooks:
            return ReturnObject(result, [&] { return new WorkbooksObject(this); });
        case kVisibleMember:
            return SetFlag(call, m_visible, result);
        case kDisplayAlerts:
            return SetFlag(call, m_displayAlerts, result);
        case kHwnd:
            return ReturnInt(result, static_cast<long>(reinterpret_cast<INT_PTR>(g_window)));
        case kQuit:
            CloseAll();
            if (!std::exchange(m_quit, true)) ++State().quits;
            return {};
    }
    return Error(DISP_E_MEMBERNOTFOUND);
}

Outcome WorkbookObject::Execute(const Member& member, const Call& call, VARIANT* result) {
    if (m_data->closed) return Failure(kDeleted);
    switch (member.id) {
        case kWorksheets:
        case kSheets:
            return ReturnObject(result, [&] { return new SheetsObject(this, member.id == kWorksheets); });
        case kSave:
            if (m_data->untitled) return Failure(kNoFileYet);
            if (!SaveWorkbook(*m_data)) return Failure(kNotSaved);
            ++State().saved;
            return {};
        case kSaveAs:
            return SaveAs(call.args[0], call.args[1]);
        case kClose:
            m_application->Close(m_data);
            return {};
        case kName:
            return ReturnText(result, FileNameOf(m_data->path));
        case kFullName:
            return ReturnText(result, m_data->path);
    }
    return Error(DISP_E_MEMBERNOTFOUND);
}

// The workbook takes the file's name and format (the application does not go by the extension) and is written
// there; a file already there is replaced only with alerts off, as the application would ask first.
Outcome WorkbookObject::SaveAs(const Arg& filename, const Arg& format) {
    if (filename.kind != Arg::Kind::Text) return Error(DISP_E_TYPEMISMATCH, filename.position);
    if (format.kind != Arg::Kind::Number) return Error(DISP_E_TYPEMISMATCH, format.position);
    if (m_application->DisplayAlerts() &&
        ::GetFileAttributesW(filename.text.c_str()) != INVALID_FILE_ATTRIBUTES)
        return Failure(kWouldAskToReplace);
    const WorkbookData before = *m_data;
    m_data->path = filename.text;
    m_data->format = format.number;
    m_data->untitled = false;
    if (!SaveWorkbook(*m_data)) {
        *m_data = before;
        return Failure(kNotSaved);
    }
    ++State().saved;
    return {};
}

Outcome SheetObject::Execute(const Member& member, const Call& call, VARIANT* result) {
    if (Gone()) return Failure(kDeleted);
    std::vector<Sheet>& sheets = m_workbook->Data().sheets;
    switch (member.id) {
        case kName:
            return call.IsPut() ? Rename(call.args.front()) : ReturnText(result, m_sheet->name);
        case kVisibleMember:
            return call.IsPut() ? SetVisibility(call.args.front()) : ReturnInt(result, m_sheet->visibility);
        case kIndex:
            return ReturnInt(result, static_cast<long>(PositionOf(sheets, m_sheet.get()) + 1));
        case kCopy:
        case kMove:
            return Place(member, call.args.front());
        case kDelete:
            if (m_sheet->visibility == kVisible && VisibleCount(sheets) == 1) return Failure(kLastVisible);
            sheets.erase(sheets.begin() + static_cast<std::ptrdiff_t>(PositionOf(sheets, m_sheet.get())));
            m_sheet->deleted = true;
            return ReturnBool(result, true);
    }
    return Error(DISP_E_MEMBERNOTFOUND);
}

Outcome SheetObject::Rename(const Arg& arg) {
    if (arg.kind != Arg::Kind::Text) return Error(DISP_E_TYPEMISMATCH, arg.position);
    if (!ValidSheetName(arg.text)) return Failure(kNameInvalid);
    if (NameTaken(m_workbook->Data().sheets, arg.text, m_sheet.get())) return Failure(kNameTaken);
    m_sheet->name = arg.text;
    return {};
}

Outcome SheetObject::SetVisibility(const Arg& arg) {
    long visibility;
    if (arg.kind == Arg::Kind::Bool)
        visibility = arg.flag ? kVisible : kHidden;
    else if (arg.kind == Arg::Kind::Number)
        visibility = arg.number == 1 ? kVisible : arg.number;
    else
        return Error(DISP_E_TYPEMISMATCH, arg.position);
    if (visibility != kVisible && visibility != kHidden && visibility != kVeryHidden)
        return Failure(kVisibleRefused);
    const bool hidesLast = m_sheet->visibility == kVisible && visibility != kVisible &&
                           VisibleCount(m_workbook->Data().sheets) == 1;
    if (hidesLast) return Failure(kVisibleRefused);
    m_sheet->visibility = visibility;
    return {};
}

// Copy (into any workbook of the same instance) or Move (within the workbook), beside the sheet given.
Outcome SheetObject::Place(const Member& member, const Arg& arg) {
    const auto* target = dynamic_cast<const SheetObject*>(arg.object.Get());
    if (!target) return Error(DISP_E_TYPEMISMATCH, arg.position);
    if (target->Gone()) return Failure(kDeleted);
    WorkbookData& destination = target->m_workbook->Data();
    const bool after = arg.name == kAfter;
    if (member.id == kCopy) {
        if (target->m_workbook->Application() != m_workbook->Application()) return Failure(kOtherInstance);
        auto copy = std::make_shared<SheetData>(*m_sheet);
        copy->name = FreeName(destination.sheets, m_sheet->name);
        const size_t at = PositionOf(destination.sheets, target->m_sheet.get()) + (after ? 1 : 0);
        destination.sheets.insert(destination.sheets.begin() + static_cast<std::ptrdiff_t>(at), copy);
        return {};
    }
    if (&destination != &m_workbook->Data()) return Failure(kOtherWorkbook);
    if (target->m_sheet == m_sheet) return {};
    std::vector<Sheet>& sheets = destination.sheets;
    sheets.erase(sheets.begin() + static_cast<std::ptrdiff_t>(PositionOf(sheets, m_sheet.get())));
    const size_t at = PositionOf(sheets, target->m_sheet.get()) + (after ? 1 : 0);
    sheets.insert(sheets.begin() + static_cast<std::ptrdiff_t>(at), m_sheet);
    return {};
}

// ---------------------------------------------------------------------------------------------------------------
// The class object: a single static one, counted apart from the objects it makes.

class ClassFactory final : public IClassFactory {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (!::IsEqualGUID(iid, IID_IUnknown) && !::IsEqualGUID(iid, IID_IClassFactory)) return E_NOINTERFACE;
        *out = this;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++g_factoryReferences); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--g_factoryReferences); }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        Control& control = State();
        std::unique_lock lock(control.mutex);
        const Ticket ticket = BeginCall(control, L"CreateInstance");
        HRESULT result = S_OK;
        if (const auto injection = TakeInjection(control, ticket.number)) {
            if (injection->kind == Injection::Kind::Hang) Hang(lock);
            result =
                injection->kind == Injection::Kind::Result ? injection->result : CO_E_SERVER_EXEC_FAILURE;
        } else if (outer) {
            result = CLASS_E_NOAGGREGATION;
        } else {
            auto* application = new ApplicationObject;
            result = application->QueryInterface(iid, out);
            application->Release();
            if (SUCCEEDED(result)) ++control.instancesCreated;
        }
        if (FAILED(result)) MarkFailed(control, ticket);
        return result;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        if (lock)
            ++g_serverLocks;
        else
            --g_serverLocks;
        return S_OK;
    }
};

ClassFactory g_factory;

// ---------------------------------------------------------------------------------------------------------------
// Registration.

// The class registered now: the stand-in's own, or the one a local server was last registered under.
CLSID g_classId = CLSID_OrvandelStandInApplication;

std::wstring ClassIdText() {
    wchar_t text[40] = {};
    ::StringFromGUID2(g_classId, text, 40);
    return text;
}

std::wstring ClassKey() { return L"Software\\Classes\\CLSID\\" + ClassIdText(); }
std::wstring ProgIdKey() { return std::wstring(L"Software\\Classes\\") + kProgId; }

bool SetText(HKEY root, const std::wstring& key, const wchar_t* name, const std::wstring& value) {
    HKEY handle = nullptr;
    if (::RegCreateKeyExW(root, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr,
                          &handle, nullptr) != ERROR_SUCCESS)
        return false;
    const LSTATUS status =
        ::RegSetValueExW(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                         static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    ::RegCloseKey(handle);
    return status == ERROR_SUCCESS;
}

std::wstring ReadText(HKEY root, const std::wstring& key) {
    std::wstring value(32768, L'\0');
    DWORD size = static_cast<DWORD>(value.size() * sizeof(wchar_t));
    if (::RegGetValueW(root, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, value.data(), &size) !=
        ERROR_SUCCESS)
        return {};
    value.resize(size / sizeof(wchar_t) - 1);  // the size counts the terminating null
    return value;
}

bool IsEmptyKey(HKEY root, const std::wstring& key) {
    HKEY handle = nullptr;
    DWORD subkeys = 1, values = 1;
    if (::RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, &handle) == ERROR_SUCCESS) {
        ::RegQueryInfoKeyW(handle, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                           nullptr, nullptr, nullptr);
        ::RegCloseKey(handle);
    }
    return subkeys == 0 && values == 0;
}

std::wstring ModulePath() {
    static const int anchor = 0;  // any address inside this DLL
    HMODULE module = nullptr;
    ::GetModuleHandleExW(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCWSTR>(&anchor), &module);
    std::wstring path(32768, L'\0');
    path.resize(::GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size())));
    return path;
}

// Removes what Register wrote under root; the class name is left alone once it names another class.
bool Unregister(HKEY root) {
    if (ReadText(root, ProgIdKey() + L"\\CLSID") == ClassIdText()) {
        ::RegDeleteKeyW(root, (ProgIdKey() + L"\\CLSID").c_str());
        if (IsEmptyKey(root, ProgIdKey())) ::RegDeleteKeyW(root, ProgIdKey().c_str());
    }
    const LSTATUS status = ::RegDeleteTreeW(root, ClassKey().c_str());
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

// Registered only once COM finds the class under its name, and this server for the class (not an older
// registration that wins over this one); otherwise nothing is left behind. `server` is InprocServer32 (this
// DLL) or LocalServer32 (the command that starts the local server).
bool Register(HKEY root, const wchar_t* server, const std::wstring& command) {
    const bool inproc = std::wstring(server) == L"InprocServer32";
    const bool written =
        Unregister(root) && SetText(root, ProgIdKey() + L"\\CLSID", nullptr, ClassIdText()) &&
        SetText(root, ClassKey(), nullptr, L"Orvandel stand-in spreadsheet application") &&
        SetText(root, ClassKey() + L"\\" + server, nullptr, command) &&
        (!inproc || SetText(root, ClassKey() + L"\\" + server, L"ThreadingModel", L"Apartment")) &&
        SetText(root, ClassKey() + L"\\ProgID", nullptr, kProgId);
    CLSID found{};
    if (written && SUCCEEDED(::CLSIDFromProgID(kProgId, &found)) && ::IsEqualGUID(found, g_classId) &&
        ReadText(HKEY_CLASSES_ROOT, L"CLSID\\" + ClassIdText() + L"\\" + server) == command)
        return true;
    Unregister(root);
    return false;
}

// The current user's classes first, as Windows lets any user register there; Wine (8) does not read them for
// COM (CLSIDFromProgID and CoCreateInstance see only the machine's classes), so there the machine's classes
// are used, which Wine lets any user write. Whatever either held for the class before goes first, so that a
// local server is never shadowed by an in-process registration left from earlier.
HRESULT RegisterEither(const wchar_t* server, const std::wstring& command) {
    if (command.empty()) return SELFREG_E_CLASS;
    return Register(HKEY_CURRENT_USER, server, command) || Register(HKEY_LOCAL_MACHINE, server, command)
               ? S_OK
               : SELFREG_E_CLASS;
}

}  // namespace

// ---------------------------------------------------------------------------------------------------------------
// Exports.

STDAPI DllGetClassObject(REFCLSID classId, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!::IsEqualGUID(classId, CLSID_OrvandelStandInApplication)) return CLASS_E_CLASSNOTAVAILABLE;
    return g_factory.QueryInterface(iid, out);
}

STDAPI DllCanUnloadNow() {
    return g_liveObjects == 0 && g_serverLocks == 0 && g_factoryReferences == 0 ? S_OK : S_FALSE;
}

STDAPI DllRegisterServer() {
    Unregister(HKEY_LOCAL_MACHINE);
    return RegisterEither(L"InprocServer32", ModulePath());
}

STDAPI DllUnregisterServer() {
    bool removed = true;
    for (const CLSID& id : {g_classId, CLSID_OrvandelStandInApplication}) {
        g_classId = id;
        const bool user = Unregister(HKEY_CURRENT_USER);
        removed = Unregister(HKEY_LOCAL_MACHINE) && user && removed;
    }
    return removed ? S_OK : SELFREG_E_CLASS;
}

extern "C" {

HRESULT __cdecl StandIn_RegisterLocalServer(const wchar_t* command) {
    DllUnregisterServer();
    // A class of its own each time, passed to the server on its command line: Wine's COM keeps the class
    // object of a server that was killed registered, and would hand that out for the class ever after.
    if (FAILED(::CoCreateGuid(&g_classId))) return SELFREG_E_CLASS;
    return RegisterEither(L"LocalServer32", std::wstring(command ? command : L"") + L" " + ClassIdText());
}

void __cdecl StandIn_Reset(void) {
    Control& control = State();
    const std::lock_guard lock(control.mutex);
    control.log.clear();
    control.injections.clear();
    control.calls = control.instancesCreated = control.quits = control.saved = 0;
    ++control.epoch;
    ::SetEvent(HangEnded());
}

int __cdecl StandIn_CallCount(void) {
    const std::lock_guard lock(State().mutex);
    return State().calls;
}

const wchar_t* __cdecl StandIn_Log(void) {
    Control& control = State();
    const std::lock_guard lock(control.mutex);
    control.logText.clear();
    for (const std::wstring& line : control.log)
        control.logText += (control.logText.empty() ? L"" : L"\n") + line;
    return control.logText.c_str();
}

void __cdecl StandIn_FailCall(int call, const wchar_t* description) {
    const std::lock_guard lock(State().mutex);
    State().injections[call] = {Injection::Kind::Fail, description != nullptr,
                                description ? description : L""};
}

void __cdecl StandIn_FailCallWithResult(int call, HRESULT result) {
    const std::lock_guard lock(State().mutex);
    State().injections[call] = {Injection::Kind::Result, false, {}, result};
}

void __cdecl StandIn_HangCall(int call) {
    const std::lock_guard lock(State().mutex);
    State().injections[call] = {Injection::Kind::Hang, false, {}, S_OK};
    ::ResetEvent(HangEnded());
}

void __cdecl StandIn_EndHang(void) { ::SetEvent(HangEnded()); }

int __cdecl StandIn_LiveObjects(void) { return g_liveObjects; }
int __cdecl StandIn_LiveInstances(void) { return g_liveInstances; }

int __cdecl StandIn_InstancesCreated(void) {
    const std::lock_guard lock(State().mutex);
    return State().instancesCreated;
}

int __cdecl StandIn_Quits(void) {
    const std::lock_guard lock(State().mutex);
    return State().quits;
}

int __cdecl StandIn_SavedCount(void) {
    const std::lock_guard lock(State().mutex);
    return State().saved;
}

}  // extern "C"

#ifdef STANDIN_LOCAL_SERVER

namespace {

std::wstring Environment(const wchar_t* name) {
    std::wstring value(32768, L'\0');
    const DWORD size = ::GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
    value.resize(size < value.size() ? size : 0);
    return value;
}

// Answers the first incoming calls "busy, retry later", as the application does while it is in a modal state
// or recalculating; every answer is a line of the log, so that a test sees the server was busy.
class BusyFilter final : public IMessageFilter {
  public:
    explicit BusyFilter(int busyAnswers) : m_busyAnswers(busyAnswers) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = ::IsEqualGUID(iid, IID_IUnknown) || ::IsEqualGUID(iid, IID_IMessageFilter) ? this : nullptr;
        return *out ? S_OK : E_NOINTERFACE;
    }
    // Lives as long as the process.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    DWORD STDMETHODCALLTYPE HandleInComingCall(DWORD, HTASK, DWORD, LPINTERFACEINFO) override {
        if (m_busyAnswers <= 0) return SERVERCALL_ISHANDLED;
        --m_busyAnswers;
        AppendToLogFile(L"<busy>");
        return SERVERCALL_RETRYLATER;
    }
    DWORD STDMETHODCALLTYPE RetryRejectedCall(HTASK, DWORD, DWORD) override { return static_cast<DWORD>(-1); }
    DWORD STDMETHODCALLTYPE MessagePending(HTASK, DWORD, DWORD) override { return PENDINGMSG_WAITDEFPROCESS; }

  private:
    int m_busyAnswers;
};

}  // namespace

// The local server: ends a moment after its last object is released (or after a minute when no client ever
// comes, so that a failed test leaves no process behind for long). Its class object is for many clients,
// unlike the application's, because of Wine: when two clients start an instance at once, the second can take
// the class object the first one's server registered, and the first then waits for a registration that never
// comes. So one process may serve the window's two listings; the moment it stays lets the slower client in.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    const std::wstring commandLine = ::GetCommandLineW();
    const size_t classId = commandLine.find(L" {");
    if (commandLine.find(L"Embedding") == std::wstring::npos || classId == std::wstring::npos ||
        FAILED(::CLSIDFromString(commandLine.substr(classId + 1, 38).c_str(), &g_classId)))
        return 2;
    g_hangAt = Environment(L"ORVANDEL_STANDIN_HANG");
    g_logFile = Environment(L"ORVANDEL_STANDIN_LOG");
    if (const std::wstring limit = Environment(L"ORVANDEL_STANDIN_HANG_MS"); !limit.empty())
        g_hangLimitMs = static_cast<DWORD>(std::wcstoul(limit.c_str(), nullptr, 10));
    const std::wstring busy = Environment(L"ORVANDEL_STANDIN_BUSY");
    BusyFilter filter(busy.empty() ? 0 : std::wcstol(busy.c_str(), nullptr, 10));

    if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = ::DefWindowProcW;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = L"OrvandelStandInApplication";
    ::RegisterClassW(&windowClass);
    // Top-level and never shown, as the application's main window is while it runs for automation. Wine with
    // no display makes no top-level window; a message-only one belongs to the process just the same.
    g_window = ::CreateWindowExW(0, windowClass.lpszClassName, L"Stand-in spreadsheet", WS_OVERLAPPEDWINDOW,
                                 0, 0, 100, 100, nullptr, nullptr, instance, nullptr);
    if (!g_window) {
        g_window = ::CreateWindowExW(0, windowClass.lpszClassName, L"Stand-in spreadsheet", 0, 0, 0, 0, 0,
                                     HWND_MESSAGE, nullptr, instance, nullptr);
    }
    IMessageFilter* previous = nullptr;
    ::CoRegisterMessageFilter(&filter, &previous);
    DWORD registration = 0;
    const HRESULT result = ::CoRegisterClassObject(g_classId, &g_factory, CLSCTX_LOCAL_SERVER,
                                                   REGCLS_MULTIPLEUSE, &registration);
    if (SUCCEEDED(result)) {
        AppendToLogFile(L"<started " + std::to_wstring(::GetCurrentProcessId()) + L">");
        constexpr ULONGLONG kStayAfterLastRelease = 2000, kWaitForAClient = 60000;
        const ULONGLONG started = ::GetTickCount64();
        ::SetTimer(nullptr, 0, 100, nullptr);
        MSG message;
        while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
            if (message.message == WM_TIMER && message.hwnd == nullptr) {
                const ULONGLONG now = ::GetTickCount64();
                if (g_liveObjects == 0 && (g_lastRelease ? now - g_lastRelease > kStayAfterLastRelease
                                                         : now - started > kWaitForAClient))
                    break;
                continue;
            }
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
        ::CoRevokeClassObject(registration);
    }
    ::CoRegisterMessageFilter(previous, nullptr);
    if (g_window) ::DestroyWindow(g_window);
    ::CoUninitialize();
    return SUCCEEDED(result) ? 0 : 1;
}

#endif
