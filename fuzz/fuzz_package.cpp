// Fuzz target: any bytes as a workbook file, through the package reader, the workbook part and every
// operation and save of the engine.
#include <cstddef>
#include <cstdint>

#include "FuzzSupport.h"
#include "WorkbookExercise.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    orv::fuzz::ExerciseWorkbook(orv::fuzz::WriteScratch("input.xlsx", data, size));
    return 0;
}
