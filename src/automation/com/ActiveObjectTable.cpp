// The spreadsheet application the user has open, as Windows knows it: the running instance its automation
// class reaches, which must name itself as the application.
#include "automation/com/ActiveObjectTable.h"

#include <objbase.h>
#include <oleauto.h>
#include <windows.h>

#include <string_view>

#include "automation/com/ComForThisThread.h"

namespace orv::automation::com {

namespace {

constexpr const wchar_t* kApplicationName = L"Microsoft Excel";

// The default value of the instance: what it calls itself.
bool NamesItself(IDispatch* application) {
    DISPPARAMS none{};
    VARIANT value;
    ::VariantInit(&value);
    const HRESULT result = application->Invoke(DISPID_VALUE, IID_NULL, LOCALE_USER_DEFAULT,
                                               DISPATCH_PROPERTYGET, &none, &value, nullptr, nullptr);
    const bool named = SUCCEEDED(result) && value.vt == VT_BSTR && value.bstrVal &&
                       std::wstring_view(value.bstrVal, ::SysStringLen(value.bstrVal)) == kApplicationName;
    ::VariantClear(&value);
    return named;
}

}  // namespace

bool ActiveObjectTable::AutomationInstanceRunning() const {
    const ComForThisThread com;
    CLSID id{};
    // Not registered: the application is not installed, so none runs.
    if (FAILED(::CLSIDFromProgID(kAutomationClass, &id))) return false;
    IUnknown* running = nullptr;
    if (FAILED(::GetActiveObject(id, nullptr, &running)) || !running) return false;
    IDispatch* application = nullptr;
    const HRESULT result = running->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&application));
    running->Release();
    if (FAILED(result) || !application) return false;
    const bool named = NamesItself(application);
    application->Release();
    return named;
}

}  // namespace orv::automation::com
