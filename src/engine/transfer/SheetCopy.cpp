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
    target.NoteNamesCopiesMayCite(source.SheetNames());
    for (auto& notice : plan.notices) target.AddNotice(std::move(notice));
    std::vector<CopiedSheet> copies;
    for (auto& m : plan.group) copies.push_back({m.index, m.name, m.codeLeftBehind, std::move(m.cellsWithoutValue)});
    std::vector<std::string> names;
    for (const auto& copy : copies) names.push_back(copy.name);
    target.NoteNamesCopiesMayCite(names);
    return copies;
}

}  // namespace orv::engine
