// Sheet names as the spreadsheet application treats them.
#include <gtest/gtest.h>

#include "engine/workbook/SheetNames.h"

namespace orv::engine {
namespace {

TEST(SheetNames, CompareIgnoringCaseInAnyScript) {
    EXPECT_TRUE(SheetNamesEqual("ÄRGER", "ärger"));
    EXPECT_TRUE(SheetNamesEqual("Данные", "ДАННЫЕ"));
    EXPECT_TRUE(SheetNamesEqual("Data", "dATA"));
    EXPECT_FALSE(SheetNamesEqual("Data", "Data "));
    EXPECT_FALSE(SheetNamesEqual("1月", "2月"));
}

TEST(SheetNames, CountCharactersNotBytes) {
    EXPECT_EQ(platform::CharacterCount("Страница"), 8u);
    EXPECT_FALSE(SheetNameProblem("Абвгдеёжзийклмнопрстуфхцчшщъыэю"));  // 31 Cyrillic letters, 62 bytes
    EXPECT_TRUE(SheetNameProblem("Абвгдеёжзийклмнопрстуфхцчшщъыэюя"));  // 32
}

TEST(SheetNames, RefuseWhatTheApplicationRefuses) {
    for (const char* bad :
         {"", "a:b", "a\\b", "a/b", "a?b", "a*b", "a[b", "a]b", "'quoted", "quoted'", "History", "history"}) {
        EXPECT_TRUE(SheetNameProblem(bad).has_value()) << bad;
    }
    for (const char* good :
         {"Data", "Sheet'1", "Sheet (2)", "מס הכנסה ", "Tabelle1.1(Acht.b.Jahrberech.!)"}) {
        EXPECT_FALSE(SheetNameProblem(good).has_value()) << good;
    }
}

TEST(SheetNames, RenameClashesIgnoreCaseButAllowACaseChangeOfItself) {
    const std::vector<std::string> names{"Data", "ärger"};
    EXPECT_TRUE(SheetRenameProblem("DATA", names, 1).has_value());
    EXPECT_TRUE(SheetRenameProblem("ÄRGER", names, 0).has_value());
    EXPECT_FALSE(SheetRenameProblem("DATA", names, 0).has_value());
    EXPECT_FALSE(SheetRenameProblem("Other", names, -1).has_value());
    EXPECT_EQ(*SheetRenameProblem("data", names, -1),
              "The name \"data\" is already taken by sheet \"Data\". Sheet names must differ in more than "
              "upper and "
              "lower case; please choose another name.");
}

}  // namespace
}  // namespace orv::engine
