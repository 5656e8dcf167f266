// A sheet's module travels under a code name of its own in the target; the sheet part and the project agree on
// it. Where the target cannot hold macros, the copy goes without code and says so.
#include "engine/transfer/SheetCode.h"

#include <algorithm>
#include <string>
#include <vector>

#include "engine/transfer/SheetCopyPlan.h"
#include "engine/workbook/WorkbookCode.h"

namespace orv::engine {

void PlanSheetCode(CopyPlan& plan) {
    // Sheets without a code name have no module: the project (damaged or not) is none of their copy's business.
    std::vector<std::string> codeNames;
    for (const auto& m : plan.group) codeNames.push_back(SheetCodeName(*plan.src, m.sheet.part));
    if (std::all_of(codeNames.begin(), codeNames.end(), [](const std::string& n) { return n.empty(); })) return;
    plan.srcCode.emplace(*plan.source);
    if (!plan.srcCode->hasProject()) return;
    vba::Project& from = plan.srcCode->project();
    bool travels = false;
    for (std::size_t i = 0; i < plan.group.size(); ++i) {
        auto& m = plan.group[i];
        const std::string& codeName = codeNames[i];
        if (const vba::Module* module = codeName.empty() ? nullptr : from.Find(codeName)) {
            m.module = module->name;
            travels = true;
        }
    }
    if (!travels) return;
    // Inside one workbook the project is the source's own.
    WorkbookCode* target = plan.sameBook ? &*plan.srcCode : &plan.dstCode.emplace(*plan.target);
    if (!target->macroEnabled()) {
        for (auto& m : plan.group) {
            if (m.module.empty()) continue;
            // A module without code (the application gives every sheet one) loses nothing when it stays.
            if (!vba::Project::HoldsCode(from.Source(*from.Find(m.module)))) {
                m.module.clear();
                continue;
            }
            m.codeLeftBehind = "The code of sheet \"" + m.sheet.name + "\" (module \"" + m.module +
                               "\") stayed behind: \"" + plan.target->displayName() +
                               "\" cannot hold macros. Copy the sheet into a macro-enabled workbook (.xlsm) to "
                               "keep it.";
            m.module.clear();
        }
        return;
    }
    // Read now, so that a damaged module refuses the copy before the target changes. Code the target's code
    // page cannot hold stays behind rather than arrive with characters lost.
    for (auto& m : plan.group) {
        if (m.module.empty()) continue;
        const vba::Module& module = *from.Find(m.module);
        if (target->hasProject() && !target->project().SourceFrom(from, module)) {
            m.codeLeftBehind = "The code of sheet \"" + m.sheet.name + "\" (module \"" + m.module +
                               "\") stayed behind: the macro project of \"" + plan.target->displayName() +
                               "\" is written in code page " + std::to_string(target->project().codePage()) +
                               ", which cannot hold every character of it. Copy the code by hand in the "
                               "spreadsheet application's code editor.";
            m.module.clear();
            continue;
        }
        if (!target->hasProject()) from.Source(module);
        m.codeName = target->FreeCodeName(m.module);
        target->Reserve(m.codeName);
    }
}

void CarrySheetCode(CopyPlan& plan) {
    if (!plan.srcCode || std::all_of(plan.group.begin(), plan.group.end(),
                                     [](const CopyMember& m) { return m.codeName.empty(); }))
        return;
    WorkbookCode& target = plan.sameBook ? *plan.srcCode : *plan.dstCode;
    vba::Project& from = plan.srcCode->project();
    target.CreateLike(from);
    for (const auto& m : plan.group) {
        if (m.codeName.empty()) continue;
        // Inside one workbook, the project grows as the module is added: the source module is copied first.
        const vba::Module module = *from.Find(m.module);
        target.project().AddDocumentModule(from, module, m.codeName);
    }
    if (auto notice = target.Commit(); !notice.empty()) plan.notices.push_back(notice);
}

}  // namespace orv::engine
