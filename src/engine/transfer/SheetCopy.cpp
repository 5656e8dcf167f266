// The sheet transplant: a plan that reads and checks everything first, then phases that apply it, all inside
// a checkpoint of the target's package that is discarded unless the copy gets to its end.
#include "engine/transfer/SheetCopy.h"

#include <algorithm>

#include "engine/package/Package.h"
#include "engine/transfer/SheetCopyPhases.h"
#include "engine/transfer/SheetCopyPlan.h"
#include "engine/workbook/SheetNames.h"
#include "engine/workbook/Workbook.h"

namespace orv::engine {

std::string FreeSheetName(const std::string& name, const std::vector<std::string>& names) {
    auto taken = [&](const std::string& candidate) {
        return std::any_of(names.begin(), names.end(),
                           [&](const std::string& n) { return SheetNamesEqual(n, candidate); });
    };
    if (!taken(name)) return name;
    // A copy of "Data (2)" is "Data (3)", not "Data (2) (2)": the number already there is counted on.
    std::string stem = name;
    if (const auto open = name.rfind(" ("); open != std::string::npos && name.back() == ')' &&
                                            open + 3 < name.size() &&
                                            name.find_first_not_of("0123456789", open + 2) == name.size() - 1)
        stem = name.substr(0, open);
    for (int n = 2;; ++n) {
        const std::string suffix = " (" + std::to_string(n) + ")";
        const std::string base = platform::FirstCharacters(stem, kMaxSheetNameLength - suffix.size());
        if (!taken(base + suffix)) return base + suffix;
    }
}

CopiedSheet CopySheet(WorkbookDocument& source, int sourceIndex, WorkbookDocument& target, int afterIndex,
                      const std::string& newName) {
    return CopySheets(source, {sourceIndex}, target, afterIndex, {newName}).front();
}

std::vector<CopiedSheet> CopySheets(WorkbookDocument& source, const std::vector<int>& sourceIndices,
                                    WorkbookDocument& target, int afterIndex,
                                    const std::vector<std::string>& newNames, const SheetCopyOptions& options) {
    // The plan reads through the target's package too (parsing is a change a discard takes back), so the
    // checkpoint comes first.
    PackageCheckpointGuard unlessDone(target.package());
    CopyPlan plan = PlanCopy(source, sourceIndices, target, afterIndex, newNames, options);
    ApplyCopyPlan(plan);
    unlessDone.Keep();
    target.setFresh(false);
    for (auto& notice : plan.notices) target.AddNotice(std::move(notice));
    std::vector<CopiedSheet> copies;
    for (auto& m : plan.group) copies.push_back({m.index, m.name, m.codeLeftBehind, std::move(m.cellsWithoutValue)});
    return copies;
}

}  // namespace orv::engine
