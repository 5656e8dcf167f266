// Late-bound calls: names to DISPIDs, arguments into VARIANTs (in the reverse order Invoke takes them), the
// result off its VARIANT, and every BSTR, VARIANT and EXCEPINFO freed on the thread that made the call.
#include "automation/com/Dispatch.h"

#include <oleauto.h>

#include <cstdio>
#include <utility>

#include "automation/ObjectModel.h"
#include "platform/WindowsText.h"

namespace orv::automation::com {

namespace {

using platform::windows::Narrow;
using platform::windows::Wide;

// Member names and arguments are the application's English ones whatever the user's language.
const LCID kEnglish = MAKELCID(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), SORT_DEFAULT);

// What the task on the apartment's thread hands back: plain values, and an object as a bare reference that
// the caller wraps (an Object must never be dropped on the apartment's own thread).
struct Raw {
    std::variant<std::monostate, int, bool, std::string> value;
    IDispatch* object = nullptr;
};

std::string Trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    return text;
}

std::string Hex(HRESULT result) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "0x%08lX", static_cast<unsigned long>(result));
    return buffer;
}

// An argument as the task takes it: an object as its bare interface, which outlives the task (see Call).
using Value = std::variant<int, bool, std::string, IDispatch*>;

Value ValueOf(const Argument& argument) {
    if (const int* number = std::get_if<int>(&argument)) return *number;
    if (const bool* flag = std::get_if<bool>(&argument)) return *flag;
    if (const std::string* text = std::get_if<std::string>(&argument)) return *text;
    const Object* object = std::get<const Object*>(argument);
    if (!object || !object->get()) {
        throw AutomationError("A sheet passed to the spreadsheet application is no longer available.");
    }
    return object->get();
}

VARIANT ToVariant(const Value& argument) {
    VARIANT v;
    ::VariantInit(&v);
    if (const int* number = std::get_if<int>(&argument)) {
        v.vt = VT_I4;
        v.lVal = *number;
    } else if (const bool* flag = std::get_if<bool>(&argument)) {
        v.vt = VT_BOOL;
        v.boolVal = *flag ? VARIANT_TRUE : VARIANT_FALSE;
    } else if (const std::string* text = std::get_if<std::string>(&argument)) {
        const std::wstring wide = Wide(*text);
        v.vt = VT_BSTR;
        v.bstrVal = ::SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
        if (!v.bstrVal)
            throw AutomationError("Out of memory while passing a text to the spreadsheet application.");
    } else {
        IDispatch* object = std::get<IDispatch*>(argument);
        object->AddRef();
        v.vt = VT_DISPATCH;
        v.pdispVal = object;
    }
    return v;
}

// Takes the result off `v`, which is left empty.
void TakeResult(VARIANT& v, Raw& raw) {
    switch (v.vt) {
        case VT_EMPTY:
            break;
        case VT_DISPATCH:
            raw.object = v.pdispVal;
            v.vt = VT_EMPTY;
            break;
        case VT_UNKNOWN:
            if (v.punkVal) v.punkVal->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&raw.object));
            break;
        case VT_BOOL:
            raw.value = v.boolVal != VARIANT_FALSE;
            break;
        case VT_BSTR:
            raw.value = Narrow(std::wstring_view(v.bstrVal ? v.bstrVal : L"", ::SysStringLen(v.bstrVal)));
            break;
        default:
            if (SUCCEEDED(::VariantChangeType(&v, &v, 0, VT_I4))) raw.value = static_cast<int>(v.lVal);
            break;
    }
    ::VariantClear(&v);
}

class Arguments {
  public:
    explicit Arguments(const std::vector<Value>& arguments) : m_values(arguments.size()) {
        for (auto& v : m_values) ::VariantInit(&v);
        for (std::size_t i = 0; i < arguments.size(); ++i)
            m_values[arguments.size() - 1 - i] = ToVariant(arguments[i]);
    }
    ~Arguments() {
        for (auto& v : m_values) ::VariantClear(&v);
    }
    Arguments(const Arguments&) = delete;
    Arguments& operator=(const Arguments&) = delete;
    VARIANT* data() { return m_values.empty() ? nullptr : m_values.data(); }
    UINT size() const { return static_cast<UINT>(m_values.size()); }

  private:
    std::vector<VARIANT> m_values;
};

class ExceptionInfo {
  public:
    ExceptionInfo() : m_info{} {}
    ~ExceptionInfo() {
        ::SysFreeString(m_info.bstrSource);
        ::SysFreeString(m_info.bstrDescription);
        ::SysFreeString(m_info.bstrHelpFile);
    }
    ExceptionInfo(const ExceptionInfo&) = delete;
    ExceptionInfo& operator=(const ExceptionInfo&) = delete;
    EXCEPINFO* get() { return &m_info; }
    // The application may leave the texts to be filled in on request.
    const EXCEPINFO* Filled() {
        if (m_info.pfnDeferredFillIn) {
            m_info.pfnDeferredFillIn(&m_info);
            m_info.pfnDeferredFillIn = nullptr;
        }
        return &m_info;
    }

  private:
    EXCEPINFO m_info;
};

void Invoke(IDispatch* target, const std::string& call, const std::wstring& member, CallKind kind,
            const std::vector<Value>& arguments, const wchar_t* argumentName, Raw& raw) {
    std::vector<LPOLESTR> names{const_cast<LPOLESTR>(member.c_str())};
    if (argumentName) names.push_back(const_cast<LPOLESTR>(argumentName));
    std::vector<DISPID> ids(names.size(), DISPID_UNKNOWN);
    HRESULT result =
        target->GetIDsOfNames(IID_NULL, names.data(), static_cast<UINT>(names.size()), kEnglish, ids.data());
    if (FAILED(result)) throw AutomationError(DescribeFailure(call, result, nullptr));

    Arguments values(arguments);
    DISPID named = kind == CallKind::Put ? DISPID_PROPERTYPUT : (argumentName ? ids[1] : DISPID_UNKNOWN);
    DISPPARAMS parameters{values.data(), named == DISPID_UNKNOWN ? nullptr : &named, values.size(),
                          named == DISPID_UNKNOWN ? 0u : 1u};
    const WORD flags = kind == CallKind::Put      ? DISPATCH_PROPERTYPUT
                       : kind == CallKind::Method ? DISPATCH_METHOD
                                                  : DISPATCH_METHOD | DISPATCH_PROPERTYGET;
    VARIANT value;
    ::VariantInit(&value);
    ExceptionInfo exception;
    UINT wrongArgument = 0;
    result = target->Invoke(ids[0], IID_NULL, kEnglish, flags, &parameters,
                            kind == CallKind::Put ? nullptr : &value, exception.get(), &wrongArgument);
    if (FAILED(result)) {
        ::VariantClear(&value);
        throw AutomationError(
            DescribeFailure(call, result, result == DISP_E_EXCEPTION ? exception.Filled() : nullptr));
    }
    TakeResult(value, raw);
}

}  // namespace

Object::Object(Object&& other) noexcept
    : m_apartment(std::move(other.m_apartment)), m_dispatch(std::exchange(other.m_dispatch, nullptr)) {}

Object& Object::operator=(Object&& other) noexcept {
    if (this != &other) {
        Reset();
        m_apartment = std::move(other.m_apartment);
        m_dispatch = std::exchange(other.m_dispatch, nullptr);
    }
    return *this;
}

void Object::Reset() noexcept {
    if (m_dispatch && m_apartment) m_apartment->Release(m_dispatch);
    m_dispatch = nullptr;
    m_apartment.reset();
}

int Result::Number(std::string_view call) const {
    if (const int* number = std::get_if<int>(&value)) return *number;
    if (const bool* flag = std::get_if<bool>(&value)) return *flag ? -1 : 0;
    throw AutomationError("The spreadsheet application gave no number for " + std::string(call) + ".");
}

std::string Result::Text(std::string_view call) const {
    if (const std::string* text = std::get_if<std::string>(&value)) return *text;
    throw AutomationError("The spreadsheet application gave no text for " + std::string(call) + ".");
}

Object Result::TakeObject(std::string_view call) {
    if (!object)
        throw AutomationError("The spreadsheet application gave no object for " + std::string(call) + ".");
    return std::move(object);
}

Result Call(const Object& target, std::string_view objectName, const std::wstring& member, CallKind kind,
            std::vector<Argument> arguments, const wchar_t* argumentName) {
    const std::string call = std::string(objectName) + "." + Narrow(member);
    if (!target)
        throw AutomationError("The object for " + call +
                              " is no longer available in the spreadsheet application.");
    // Shared with the task: after a call that never came back, the task may still finish and write here. The
    // target and the objects passed stay alive until then, as their releases queue up behind the task.
    auto raw = std::make_shared<Raw>();
    IDispatch* dispatch = target.get();
    std::vector<Value> values;
    for (const auto& argument : arguments) values.push_back(ValueOf(argument));
    target.apartment()->Run(call, [=] { Invoke(dispatch, call, member, kind, values, argumentName, *raw); });
    Result result;
    result.value = std::move(raw->value);
    if (raw->object) result.object = Object(target.apartment(), std::exchange(raw->object, nullptr));
    return result;
}

std::string DescribeFailure(std::string_view call, HRESULT result, const EXCEPINFO* exception) {
    HRESULT code = result;
    if (exception) {
        std::string description =
            exception->bstrDescription
                ? Trimmed(Narrow(std::wstring_view(exception->bstrDescription,
                                                   ::SysStringLen(exception->bstrDescription))))
                : "";
        if (!description.empty()) return description;
        if (exception->scode) code = exception->scode;
    }
    return "The spreadsheet application could not carry out " + std::string(call) + ": " + SystemText(code) +
           ".";
}

std::string SystemText(HRESULT result) {
    const std::string text = platform::windows::ErrorText(static_cast<DWORD>(result));
    // The system has words for most results, but not for every application's own.
    if (text.rfind("system error", 0) == 0)
        return "error " + Hex(result) + ", which the system does not describe";
    return text + " (error " + Hex(result) + ")";
}

}  // namespace orv::automation::com
