// Reads the step numbers back out of the error reports a test provoked.
#include "ScriptedDialogs.h"

#include "errors/Messages.h"

namespace orv::testing {

std::vector<int> ScriptedDialogs::reportedSteps() const {
    std::vector<int> steps;
    for (const auto& box : shown) {
        if (box.kind != ShownBox::Kind::Message || box.title != errors::msg::kErrorReportTitle) continue;
        const auto at = box.text.find("at line ");
        if (at != std::string::npos) steps.push_back(std::stoi(box.text.substr(at + 8)));
    }
    return steps;
}

}  // namespace orv::testing
