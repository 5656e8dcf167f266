// COM for the calling thread for as long as the object lives, and the spreadsheet application's automation
// class: what the automation backend and the running-application warning share.
#pragma once

#include <objbase.h>

namespace orv::automation::com {

// The class every instance is created by, and the running one is looked up by.
inline constexpr const wchar_t* kAutomationClass = L"Excel.Application";

// Apartment-threaded, as the application requires; a thread that has COM already keeps its apartment.
class ComForThisThread {
  public:
    ComForThisThread() : m_result(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~ComForThisThread() {
        if (SUCCEEDED(m_result)) ::CoUninitialize();
    }
    ComForThisThread(const ComForThisThread&) = delete;
    ComForThisThread& operator=(const ComForThisThread&) = delete;

  private:
    HRESULT m_result;
};

}  // namespace orv::automation::com
