// The links to other workbooks that a copied sheet's own formulas use ([1]Prices!B2, [2]!Rate): they travel
// with the sheet, joined to the target's links to the same workbooks, so that every [n] of the copy reads the
// workbook it read in the source.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "engine/package/Relationships.h"

namespace orv::engine {

class Package;

// Where a link's relationship target leads, made comparable: percent escapes undone, separators forward, a
// relative target resolved against the folder of the workbook at `workbookPath`, file: URLs as paths; paths
// written the Windows way compare without case. Empty for an empty target.
std::string LinkDestination(const std::string& target, const std::string& workbookPath);

// `target` as a workbook at `toPath` must write it to reach what it reached from the workbook at `fromPath`:
// unchanged unless it is a relative path and the folders differ, then relative to the new folder when the
// file lies inside it, else an absolute file: URL.
std::string RebasedLinkTarget(const std::string& target, const std::string& fromPath, const std::string& toPath);

// True for a link whose target is a file name looked up in the application's own folders (add-ins, start-up
// files, a path it lost), not beside the workbook: it is never rebased.
bool NamesAFileElsewhere(const std::string& type);

class CarriedLinks {
  public:
    // Reads the links numbered `numbers` ([n] in formulas) of the source workbook before anything changes;
    // throws EngineError naming `sheetName` when one of them does not exist or cannot be read.
    CarriedLinks(Package& source, const std::string& workbookPart, const std::set<int>& numbers,
                 const std::string& sheetName);

    bool empty() const { return m_links.empty(); }

    // Joins the links to the target workbook's: one it already has to the same workbook takes the cached
    // sheets, values and names it lacks, any other is added. Returns each source number's number in the target,
    // 0 for a link to the target workbook itself (its references become local).
    std::map<int, int> JoinTo(Package& target, const std::string& workbookPart);

    // The link parts JoinTo added to the target (and their relationship parts).
    const std::vector<std::string>& written() const { return m_written; }

  private:
    struct Link {
        int number = 0;
        std::string part;
        std::string bytes;
        std::vector<Relationship> rels;
    };
    // Writes a copy of `link` (its part, and its relationships made right for the target's folder) and returns
    // the new part's name; the workbook does not list it yet.
    std::string Add(Package& target, const Link& link);

    Package& m_source;
    std::vector<Link> m_links;
    std::vector<std::string> m_written;
};

}  // namespace orv::engine
