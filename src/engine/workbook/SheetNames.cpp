// Comparison and validation of sheet names.
#include "engine/workbook/SheetNames.h"

#include <algorithm>

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

std::string FreeSheetName(const std::string& name, const std::vector<std::string>& names) {
    auto taken = [&](const std::string& candidate) {
        return std::any_of(names.begin(), names.end(),
                           [&](const std::string& n) { return SheetNamesEqual(n, candidate); });
    };
    if (!taken(name)) return name;
    // A copy of "Data (2)" is "Data (3)", not "Data (2) (2)": the number already there is counted on.
    std::string stem = name;
    if (const auto open = name.rfind(" ("); open != std::string::npos && name.back() == ')' &&
                                            open + 3 < name.size() &&
                                            name.find_first_not_of("0123456789", open + 2) == name.size() - 1)
        stem = name.substr(0, open);
    for (int n = 2;; ++n) {
        const std::string suffix = " (" + std::to_string(n) + ")";
        const std::string base = platform::FirstCharacters(stem, kMaxSheetNameLength - suffix.size());
        if (!taken(base + suffix)) return base + suffix;
    }
}

}  // namespace orv::engine
