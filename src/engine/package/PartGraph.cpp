// Reachability over relationship parts.
#include "engine/package/PartGraph.h"

#include <deque>

#include "engine/package/ContentTypes.h"
#include "engine/package/Package.h"
#include "engine/package/PartNames.h"
#include "engine/package/Relationships.h"

namespace orv::engine {

std::set<std::string> ReachableParts(Package& package) {
    std::set<std::string> seen;
    std::deque<std::string> queue{""};
    while (!queue.empty()) {
        const std::string source = queue.front();
        queue.pop_front();
        for (const auto& rel : Relationships(package, source).All()) {
            if (rel.external || rel.targetPart.empty() || !package.Has(rel.targetPart)) continue;
            if (seen.insert(PartKey(rel.targetPart)).second)
                queue.push_back(*package.Spelling(rel.targetPart));
        }
    }
    return seen;
}

void RemovePartCompletely(Package& package, const std::string& part) {
    ContentTypes(package).RemoveOverride(part);
    package.Remove(RelsPartOf(part));
    package.Remove(part);
}

int RemoveOrphanedParts(Package& package, const std::set<std::string>& before) {
    const auto after = ReachableParts(package);
    int removed = 0;
    for (const auto& part : package.PartNames()) {
        const std::string key = PartKey(part);
        if (before.count(key) && !after.count(key)) {
            RemovePartCompletely(package, part);
            ++removed;
        }
    }
    return removed;
}

}  // namespace orv::engine
