// What the package and workbook fuzz targets do with a workbook file: everything a user can ask of it.
#pragma once

#include <string>

#include "engine/EngineError.h"

namespace orv::fuzz {

// Runs `f`; false when the engine refused (EngineError), which a fuzz target takes as an answer, not a finding.
template <typename F>
bool Try(F&& f) {
    try {
        f();
        return true;
    } catch (const engine::EngineError&) {
        return false;
    }
}

// Opens the workbook at `path` with the engine, reads every part, renames, moves and deletes sheets, copies its
// first sheet into a small good workbook and saves both. Refusals (EngineError) are expected; any other
// exception escapes and is a finding. Aborts when a save that succeeded wrote a file that does not open again
// with the sheets the engine said it holds.
void ExerciseWorkbook(const std::string& path);

}  // namespace orv::fuzz
