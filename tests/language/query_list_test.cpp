#include "language/query_list.h"

#include <gtest/gtest.h>

#include <string>

using namespace ZOLT;

namespace {

class QueryListTest : public ::testing::Test
{
protected:
    void SetUp() override { clearQueryFormulas(); }
    void TearDown() override { clearQueryFormulas(); }
};

} // namespace

TEST_F(QueryListTest, RendersEveryPairAndNumbersOnlyRealQueries)
{
    QueryList list;
    list.addQuery("A[] not deadlock", "No deadlock");
    list.addQuery("", "Just a note");
    list.addQuery("E<> (x > 1 &&\n y == 2)", "Two\nlines");
    list.addQuery("E<> s == \"a\\b\"", "");

    const char* text = list.renderQueryText();
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::string(text),
              "/*\nNo deadlock\n*/\n"
              "\nA[] not deadlock\n\n"
              "/*\nJust a note\n*/\n"
              "//NO_QUERY\n"
              "/*\nTwo\nlines\n*/\n"
              "\nE<> (x > 1 &&\\\n y == 2)\n\n"
              "/*\n\n*/\n"
              "\nE<> s == \"a\\b\"\n\n");

    // The empty formula is skipped, so formula i is the i-th query of the text. The
    // escape added for rendering is not part of a listed formula; a backslash of the
    // formula itself is removed when the formula is read.
    EXPECT_EQ(getQueryFormula(0), "A[] not deadlock");
    EXPECT_EQ(getQueryFormula(1), "E<> (x > 1 &&\n y == 2)");
    EXPECT_EQ(getQueryFormula(2), "E<> s == \"ab\"");
    EXPECT_EQ(getQueryFormula(2), "E<> s == \"ab\"");
    // Numbers without a formula give an empty text, not undefined behaviour.
    EXPECT_EQ(getQueryFormula(3), "");
    EXPECT_EQ(getQueryFormula(-1), "");
}

TEST_F(QueryListTest, RendersOnceAndOnlyWhenThereArePairs)
{
    QueryList empty;
    EXPECT_EQ(empty.renderQueryText(), nullptr);
    EXPECT_EQ(getQueryFormula(0), "");

    // An empty list caches nothing: pairs added later are rendered.
    empty.addQuery("E<> true", "c");
    ASSERT_NE(empty.renderQueryText(), nullptr);
    EXPECT_EQ(std::string(empty.renderQueryText()), "/*\nc\n*/\n\nE<> true\n\n");

    clearQueryFormulas();
    QueryList list;
    list.addQuery("E<> p", "first");
    const char* first = list.renderQueryText();
    const std::string before = first;
    list.addQuery("E<> q", "added after rendering");
    const char* second = list.renderQueryText();
    EXPECT_EQ(second, first);
    EXPECT_EQ(std::string(second), before);
    // The formulas were listed by the first rendering only.
    EXPECT_EQ(getQueryFormula(0), "E<> p");
    EXPECT_EQ(getQueryFormula(1), "");
}

TEST(ReplaceAll, ScansLeftToRightAndNeverRescansInsertedText)
{
    struct Case {
        const char* name;
        std::string text, pattern, replacement, expected;
    };
    const Case cases[] = {
        {"no occurrence", "abc", "x", "y", "abc"},
        {"every occurrence", "a\nb\n\nc", "\n", "\\\n", "a\\\nb\\\n\\\nc"},
        {"replacement contains the pattern", "aa", "a", "aa", "aaaa"},
        {"non-overlapping from the left", "aaa", "aa", "b", "ba"},
        {"removal", "a-b-c", "-", "", "abc"},
        {"pattern at both ends", "xax", "x", "yy", "yyayy"},
        {"empty text", "", "a", "b", ""},
        {"empty pattern leaves the text", "abc", "", "z", "abc"},
    };
    for (const Case& c : cases) {
        std::string text = c.text;
        std::string& result = replaceAll(text, c.pattern, c.replacement);
        EXPECT_EQ(&result, &text) << c.name;
        EXPECT_EQ(text, c.expected) << c.name;
    }
}
