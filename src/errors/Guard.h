// The failure guard shared by the start-up and the sixteen button procedures. A guarded procedure is written
// as its numbered steps; a failing step shows the error report and the procedure goes on with the step the
// caller writes next, so a run never stops on a failure.
#pragma once

#include <functional>
#include <string>

#include "errors/Dialogs.h"

namespace orv::errors {

class GuardedProcedure {
  public:
    // `procedureName` is the name the report shows, e.g. "PushButton7_Click".
    GuardedProcedure(Dialogs& dialogs, std::string_view procedureName);

    // Runs `action` as step `number`. Returns true when it completed; false when it failed, after the report
    // was shown.
    bool Step(int number, const std::function<void()>& action);

    // Evaluates `condition` as step `number`. Returns its value; when the evaluation fails, shows the report
    // and returns `onError`, the branch the step's table goes on at after an error.
    bool Test(int number, const std::function<bool()>& condition, bool onError);

    // The number of the step most recently begun; 0 before the first.
    int currentStep() const { return m_step; }
    // True once any step failed and was reported: a run that reported a failure never says it is done.
    bool failed() const { return m_failed; }
    const std::string& path() const { return m_path; }

  private:
    bool Run(int number, const std::function<void()>& body);

    Dialogs& m_dialogs;
    std::string m_path;
    int m_step = 0;
    bool m_failed = false;
};

}  // namespace orv::errors
