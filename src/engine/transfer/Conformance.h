// The two conformance classes of a workbook package, strict and transitional: the same vocabularies under other
// namespaces, and a few values written otherwise (DrawingML and chart percentages). A part carried from a
// workbook of one class into a workbook of the other is written in the target's.
#pragma once

#include <string>
#include <vector>

#include <pugixml.hpp>

namespace orv::engine {

class Package;

// True when the workbook part's root element is in the strict SpreadsheetML namespace.
bool IsStrict(const pugi::xml_node& workbookRoot);

// Rewrites a part's tree into the class `strict` says: every namespace declaration of the other class becomes
// its counterpart, and the percentages the two classes write differently are converted.
void ConvertToClass(pugi::xml_node root, bool strict);

// A relationship type of the other class as this class writes it (types of other makers are kept).
std::string RelationshipTypeInClass(const std::string& type, bool strict);

// Converts `parts` of `package` (XML parts, and the relationships parts beside them) into the class `strict`
// says; other parts are left alone.
void ConvertPartsToClass(Package& package, const std::vector<std::string>& parts, bool strict);

// Converts the types of the relationships of `part` (when it has any) into the class `strict` says.
void ConvertRelationshipsToClass(Package& package, const std::string& part, bool strict);

}  // namespace orv::engine
