// Part names of a package: zip entry names without the leading slash, compared ignoring ASCII case.
#pragma once

#include <string>
#include <string_view>

namespace orv::engine {

// The part name in canonical case-insensitive form, for comparisons and map keys.
std::string PartKey(std::string_view partName);
// True when two part names have the same key (PartKey), compared in place: lookups in packages of thousands of
// parts make this comparison millions of times.
bool SamePartName(std::string_view a, std::string_view b);

// The folder of a part ("xl/worksheets/" for "xl/worksheets/sheet1.xml"; "" for a root part).
std::string PartFolder(std::string_view partName);

// The relationships part of a part ("xl/_rels/workbook.xml.rels"); "_rels/.rels" for the package ("").
std::string RelsPartOf(std::string_view partName);

// The part a relationship target names, resolved against the source part; percent escapes decoded, "." and
// ".." segments removed. An empty result means the target leaves the package.
std::string ResolveTarget(std::string_view sourcePart, std::string_view target);

// The target text that names `partName` relative to `sourcePart` (as the spreadsheet application writes it).
std::string RelativeTarget(std::string_view sourcePart, std::string_view partName);

// The extension of a part name, lower case, without the dot.
std::string Extension(std::string_view partName);

}  // namespace orv::engine
