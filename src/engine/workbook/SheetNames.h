// Sheet names as the spreadsheet application treats them: compared ignoring case in any script, at most 31
// characters, and free of the characters it refuses.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/TextCase.h"

namespace orv::engine {

// The longest sheet name, in characters (not bytes).
inline constexpr std::size_t kMaxSheetNameLength = 31;

// True when two sheet names are the same for the spreadsheet application: equal ignoring case.
bool SheetNamesEqual(std::string_view a, std::string_view b);

// Why the spreadsheet application would refuse `name` as a sheet name, ignoring the other sheets; nullopt
// when it is acceptable. The description names the rule, e.g. "A sheet name cannot contain any of : \ / ? * [
// ]".
std::optional<std::string> SheetNameProblem(std::string_view name);

// Why renaming sheet number `self` (0-based, or -1 for a new sheet) of a workbook whose sheets are `names` to
// `name` would be refused; nullopt when it is allowed. A case-only change of the sheet's own name is allowed.
std::optional<std::string> SheetRenameProblem(std::string_view name, const std::vector<std::string>& names,
                                              int self);

// The name a copy of a sheet named `name` gets among sheets named `names`, as the spreadsheet application names
// it: the name itself when no sheet has it (ignoring case), else "name (2)", "name (3)"... (a copy of
// "name (2)" is "name (3)"), shortened at whole characters to stay within 31.
std::string FreeSheetName(const std::string& name, const std::vector<std::string>& names);

}  // namespace orv::engine
