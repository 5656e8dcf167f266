// The relationship graph of a package: which parts are reachable from the package root, and removing the ones
// an operation left without a referrer.
#pragma once

#include <set>
#include <string>

namespace orv::engine {

class Package;

// The keys (PartKey) of every part reachable from the package relationships through internal relationships.
std::set<std::string> ReachableParts(Package& package);

// Removes every part that was reachable in `before` and no longer is, with its relationships part and content
// type override. Returns how many parts were removed.
int RemoveOrphanedParts(Package& package, const std::set<std::string>& before);

// Removes one part with its relationships part and its content type override.
void RemovePartCompletely(Package& package, const std::string& part);

}  // namespace orv::engine
