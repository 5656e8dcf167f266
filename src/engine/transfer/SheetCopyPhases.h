// Applying a sheet copy's plan to the target, phase by phase, and the seam through which tests fail a copy
// after any phase.
#pragma once

#include <optional>

#include "engine/transfer/SheetCopyPlan.h"

namespace orv::engine {

// The phases, in the order they run.
enum class CopyPhase {
    Parts,        // the sheets' parts and everything they reach, under fresh names
    Formats,      // cell formats and shared strings re-indexed; columns, rules, views
    Tables,       // table names and ids made unique in the target
    Links,        // the link to the source file with its cached cells; the other links joined
    References,   // formulas of the carried parts rewritten
    Class,        // what was brought written in the target's conformance class
    Rows,         // the worksheets' own parts rewritten and written
    PivotCaches,  // carried pivot caches registered under new ids
    Persons,      // the authors of threaded comments
    Sheets,       // the copies listed in the target workbook
    Names,        // the copies' defined names
    Code,         // the copies' modules added to the target's macro project
};
inline constexpr int kCopyPhaseCount = 12;

// The phase's name, for messages of tests.
const char* CopyPhaseName(CopyPhase phase);

// Applies `plan` to its target, phase by phase. When a phase fails, the sheets it listed are taken out of the
// target document again and the error is rethrown: the caller discards the package's changes (see
// PackageCheckpointGuard).
void ApplyCopyPlan(CopyPlan& plan);

// For tests only: every sheet copy from now on throws EngineError right after `phase` (nullopt: none does).
void FailSheetCopiesAfterPhaseForTests(std::optional<CopyPhase> phase);

}  // namespace orv::engine
