// The code of copied sheets: what a copy does to the macro projects of both workbooks.
#pragma once

namespace orv::engine {

struct CopyPlan;

// Reads the code the copies of `plan` carry: each copy whose sheet has a module gets a code name in the target,
// or, where the target cannot hold macros, is marked as leaving its code behind. Throws EngineError, before
// anything changes, for a damaged project.
void PlanSheetCode(CopyPlan& plan);
// Adds the copies' modules to the target's project (created when it has none) and writes it.
void CarrySheetCode(CopyPlan& plan);

}  // namespace orv::engine
