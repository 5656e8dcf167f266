// Sheet name quoting and sheet prefix parsing and formatting.
#include <gtest/gtest.h>

#include "engine/formula/Formula.h"

namespace orv::formula {
namespace {

TEST(Quoting, PlainNamesStayUnquoted) {
    for (const std::string_view name : {"Sheet1", "Data", "_x", "Q1Sales", "Sheet.2", "XFE1", "A1B", "ab_c.d",
                                        "Лист1", "ärger", "דף", "表1", "シート", "RC1A", "TRUEish"}) {
        EXPECT_FALSE(SheetNameNeedsQuotes(name)) << name;
        EXPECT_EQ(QuoteSheetName(name), name);
    }
}

TEST(Quoting, NamesThatNeedQuotes) {
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"My Sheet", "'My Sheet'"},
        {"Bob's", "'Bob''s'"},
        {"''x", "'''''x'"},
        {"2024", "'2024'"},
        {"1st", "'1st'"},
        {"Sheet-1", "'Sheet-1'"},
        {"A1", "'A1'"},
        {"xfd1048576", "'xfd1048576'"},
        {"$A$1", "'$A$1'"},
        {"R1C1", "'R1C1'"},
        {"R", "'R'"},
        {"c", "'c'"},
        {"RC", "'RC'"},
        {"R12C", "'R12C'"},
        {"C7", "'C7'"},
        {"TRUE", "'TRUE'"},
        {"false", "'false'"},
        {"a+b", "'a+b'"},
        {"Données 2", "'Données 2'"},
        {"Лист 1", "'Лист 1'"},
        {"Ünïcode—dash", "'Ünïcode—dash'"},
        {"x\u00A0y", "'x\u00A0y'"},
        {".hidden", "'.hidden'"},
        {"(1)", "'(1)'"},
        {"", "''"},
    };
    for (const auto& [name, quoted] : cases) {
        EXPECT_TRUE(SheetNameNeedsQuotes(name)) << name;
        EXPECT_EQ(QuoteSheetName(name), quoted);
    }
}

TEST(SheetPrefixParse, LocalExternalAnd3D) {
    auto p = ParseSheetPrefix("'Bob''s Data'!");
    ASSERT_TRUE(p);
    EXPECT_EQ(p->firstSheet, "Bob's Data");
    EXPECT_TRUE(p->quoted);
    EXPECT_FALSE(p->IsExternal());
    EXPECT_FALSE(p->Is3D());

    p = ParseSheetPrefix("'[2]Jan 1:Mar''s'!");
    ASSERT_TRUE(p);
    EXPECT_EQ(p->book, "[2]");
    EXPECT_EQ(p->firstSheet, "Jan 1");
    EXPECT_EQ(p->lastSheet, "Mar's");

    p = ParseSheetPrefix("[1]!");
    ASSERT_TRUE(p);
    EXPECT_EQ(p->book, "[1]");
    EXPECT_TRUE(p->firstSheet.empty());

    p = ParseSheetPrefix("#ref!");
    ASSERT_TRUE(p);
    EXPECT_TRUE(p->refError);

    p = ParseSheetPrefix("Jan:'Year''s End'!");
    ASSERT_TRUE(p);
    EXPECT_EQ(p->firstSheet, "Jan");
    EXPECT_EQ(p->lastSheet, "Year's End");
    EXPECT_TRUE(p->quotedApart);

    p = ParseSheetPrefix("'[C:\\x]Jan:Dec'!");
    ASSERT_TRUE(p);
    EXPECT_EQ(p->book, "[C:\\x]");
    EXPECT_EQ(p->firstSheet, "Jan");
    EXPECT_EQ(p->lastSheet, "Dec");
    EXPECT_FALSE(p->quotedApart);

    for (const std::string_view bad : {"", "!", "Data", "'Data!", ":Data!", "Data:!", "'[1]A:'!", "'a'b!",
                                       "'a:b':c!", "a:b:c!", "'a':!"}) {
        EXPECT_FALSE(ParseSheetPrefix(bad)) << bad;
    }
}

TEST(SheetPrefixFormat, QuotesTheWholePrefixWhenAnyPartNeedsIt) {
    EXPECT_EQ(FormatSheetPrefix({"", "Data", "", false, false}), "Data!");
    EXPECT_EQ(FormatSheetPrefix({"", "Jan", "My Dec", false, false}), "'Jan:My Dec'!");
    EXPECT_EQ(FormatSheetPrefix({"[3]", "Bob's", "", false, false}), "'[3]Bob''s'!");
    EXPECT_EQ(FormatSheetPrefix({"[3]", "Jan", "Dec", false, false}), "[3]Jan:Dec!");
    EXPECT_EQ(FormatSheetPrefix({"[3]", "", "", false, false}), "[3]!");
    EXPECT_EQ(FormatSheetPrefix({"[My Book.xlsx]", "Data", "", false, false}), "'[My Book.xlsx]Data'!");
    EXPECT_EQ(FormatSheetPrefix({"", "", "", true, false}), "#REF!");
    // Formatting what was parsed gives a prefix that parses back to the same parts.
    for (const std::string_view text : {"'It''s:A1'!", "[1]Лист1!", "'[1]x y'!", "Jan:Dec!",
                                        "Jan:'Year End'!", "'My Jan':Dec!", "'[1]A b':'C d'!"}) {
        const auto parsed = ParseSheetPrefix(text);
        ASSERT_TRUE(parsed) << text;
        EXPECT_EQ(FormatSheetPrefix(*parsed), text);
    }
}

}  // namespace
}  // namespace orv::formula
