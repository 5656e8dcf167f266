// Helpers of the sheet transplant (SheetCopy.cpp): the parts a sheet carries, the target's names and links,
// and the workbook-level parts (pivot caches, persons) that travel with a sheet.
#pragma once

#include <map>
#include <pugixml.hpp>
#include <set>
#include <string>
#include <vector>

#include "engine/package/Package.h"
#include "engine/transfer/PartCopy.h"

namespace orv::engine {

// `start` and every part it reaches through internal relationships, `start` first.
std::vector<std::string> ReachableFrom(Package& package, const std::string& start);

// The workbook's styles / shared-strings part, or "" when it has none.
std::string StylesPart(Package& package, const std::string& workbookPart);
std::string SharedStringsPart(Package& package, const std::string& workbookPart);

// The source file as the target's links name it: relative when inside the target's folder, else a file: URL.
std::string LinkTarget(const std::string& sourcePath, const std::string& targetPath);

// A table name free among `taken` (folded names): the name itself, else "name_2", "name_3"...
std::string FreeTableName(const std::string& name, const std::set<std::string>& taken);

// The workbook's <definedNames>, created in its place when missing and `create` is set; else an empty node.
pugi::xml_node DefinedNamesOf(pugi::xml_node workbook, bool create);

// Adds a defined name like `like` (its attributes) with `text`, scoped to sheet `localSheetId` (-1:
// workbook).
void AddDefinedName(pugi::xml_node workbook, const pugi::xml_node& like, const std::string& text,
                    int localSheetId);

// Every formula text in `parts`, read only.
std::vector<std::string> FormulasOf(Package& package, const std::vector<std::string>& parts);

// Makes a copied pivot cache whose source is not on a copied sheet (`copyNames`) read the source file (an
// external relationship on its worksheetSource); a source table the copy renamed is followed.
void PointCacheAtItsSource(Package& dst, const std::string& cache, const std::vector<std::string>& copyNames,
                           const std::set<std::string>& copiedTables,
                           const std::map<std::string, std::string>& tableRenames,
                           const std::string& sourceFile);

// Brings the source's persons (authors of threaded comments) into the target when the copy has threaded
// comments: the whole part when the target has none, else the persons it lacks.
void CarryPersons(Package& src, const std::string& srcWorkbook, Package& dst, const std::string& dstWorkbook,
                  const std::vector<std::string>& written);

// Registers every pivot cache the copier carried in the target workbook under a new cache id, points the
// copied pivot tables at it, and makes it read its source (PointCacheAtItsSource).
void RegisterPivotCaches(Package& src, const std::string& srcWorkbook, Package& dst,
                         const std::string& dstWorkbook, const PartCopier& copier,
                         const std::vector<std::string>& copyNames, const std::set<std::string>& copiedTables,
                         const std::map<std::string, std::string>& tableRenames,
                         const std::string& sourceFile);

}  // namespace orv::engine
