// Runs guarded steps: every failure of a step becomes one error report, and control returns to the procedure.
#include "errors/Guard.h"

#include <exception>

#include "errors/ErrorReport.h"

namespace orv::errors {

GuardedProcedure::GuardedProcedure(Dialogs& dialogs, std::string_view procedureName)
    : m_dialogs(dialogs), m_path(ProcedurePath(procedureName)) {}

bool GuardedProcedure::Step(int number, const std::function<void()>& action) { return Run(number, action); }

bool GuardedProcedure::Test(int number, const std::function<bool()>& condition, bool onError) {
    bool result = onError;
    Run(number, [&] { result = condition(); });
    return result;
}

bool GuardedProcedure::Run(int number, const std::function<void()>& body) {
    m_step = number;
    std::string description;
    try {
        body();
        return true;
    } catch (const std::exception& e) {
        description = e.what();
    } catch (...) {
        description = "An unexpected failure occurred.";
    }
    m_failed = true;
    // The report is shown outside the catch block so that a failure while showing it is not swallowed here.
    ShowErrorReport(m_dialogs, m_path, number, description);
    return false;
}

}  // namespace orv::errors
