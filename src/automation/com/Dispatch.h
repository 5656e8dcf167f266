// Late-bound calls into the application's objects: every member is looked up by its name at the moment of the
// call (IDispatch::GetIDsOfNames, then Invoke), on the instance's apartment thread. A failed call becomes an
// AutomationError carrying the application's own description, or the system's text of the error.
#pragma once

#include <oaidl.h>

#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "automation/com/Apartment.h"

namespace orv::automation::com {

// A reference to one object of the instance; released on the apartment's thread when dropped.
class Object {
  public:
    Object() = default;
    // Takes over the reference `dispatch` holds.
    Object(std::shared_ptr<Apartment> apartment, IDispatch* dispatch)
        : m_apartment(std::move(apartment)), m_dispatch(dispatch) {}
    Object(Object&& other) noexcept;
    Object& operator=(Object&& other) noexcept;
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;
    ~Object() { Reset(); }

    explicit operator bool() const { return m_dispatch != nullptr; }
    IDispatch* get() const { return m_dispatch; }
    const std::shared_ptr<Apartment>& apartment() const { return m_apartment; }
    void Reset() noexcept;

  private:
    std::shared_ptr<Apartment> m_apartment;
    IDispatch* m_dispatch = nullptr;
};

// One argument: a number, a flag, a text (UTF-8) or an object of the same instance.
using Argument = std::variant<int, bool, std::string, const Object*>;

// What a call gives back, taken off its VARIANT.
struct Result {
    std::variant<std::monostate, int, bool, std::string> value;
    Object object;

    // The result as the caller expects it; throws AutomationError naming `call` when it is something else.
    int Number(std::string_view call) const;
    std::string Text(std::string_view call) const;
    Object TakeObject(std::string_view call);
};

enum class CallKind { Get, Put, Method };

// Calls `member` of `target` by name. `objectName` ("Workbooks", "Sheet") names the object in descriptions.
// With `argumentName`, the one argument is passed by that name ("After"). Throws AutomationError.
Result Call(const Object& target, std::string_view objectName, const std::wstring& member, CallKind kind,
            std::vector<Argument> arguments = {}, const wchar_t* argumentName = nullptr);

// The description of a failed call of `call` ("Workbooks.Open"): the application's own text, else the
// system's text of `result` with the call it came from.
std::string DescribeFailure(std::string_view call, HRESULT result, const EXCEPINFO* exception);

// The system's words for `result`, with its number: "Access is denied (error 0x80070005)".
std::string SystemText(HRESULT result);

}  // namespace orv::automation::com
