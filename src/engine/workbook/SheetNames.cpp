// Comparison and validation of sheet names.
#include "engine/workbook/SheetNames.h"

namespace orv::engine {

bool SheetNamesEqual(std::string_view a, std::string_view b) {
    return a == b || platform::FoldCase(a) == platform::FoldCase(b);
}

std::optional<std::string> SheetNameProblem(std::string_view name) {
    if (name.empty()) return "A sheet name cannot be empty.";
    if (platform::CharacterCount(name) > kMaxSheetNameLength) {
        return "A sheet name cannot be longer than 31 characters (\"" + std::string(name) + "\" has " +
               std::to_string(platform::CharacterCount(name)) + ").";
    }
    if (name.find_first_of(":\\/?*[]") != std::string_view::npos) {
        return "A sheet name cannot contain any of these characters: : \\ / ? * [ ]";
    }
    if (name.front() == '\'' || name.back() == '\'') {
        return "A sheet name cannot begin or end with an apostrophe (').";
    }
    if (SheetNamesEqual(name, "History"))
        return "\"History\" is a reserved name and cannot be used as a sheet name.";
    return std::nullopt;
}

std::optional<std::string> SheetRenameProblem(std::string_view name, const std::vector<std::string>& names,
                                              int self) {
    if (auto problem = SheetNameProblem(name)) return problem;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (static_cast<int>(i) != self && SheetNamesEqual(names[i], name)) {
            return "The name \"" + std::string(name) + "\" is already taken by sheet \"" + names[i] +
                   "\". Sheet names must differ in more than upper and lower case; please choose another "
                   "name.";
        }
    }
    return std::nullopt;
}

}  // namespace orv::engine
