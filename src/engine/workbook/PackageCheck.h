// A structural check of a workbook package, as a spreadsheet application would do before offering to repair
// it: every relationship resolves, every part has a content type, sheet names and ids are unique,
// sheet-indexed attributes are in range, and no part is left without a referrer.
#pragma once

#include <string>
#include <vector>

namespace orv::engine {

class Package;

// Every problem found, one sentence each; empty when the package is sound. Throws EngineError only when a
// part cannot be read at all.
std::vector<std::string> CheckPackage(Package& package);

// The parts no relationship reaches (apart from [Content_Types].xml and relationship parts).
std::vector<std::string> UnreachableParts(Package& package);

}  // namespace orv::engine
