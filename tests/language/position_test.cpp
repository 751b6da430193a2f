#include "language/position.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <stdexcept>
#include <string>

using namespace ZOLT;

namespace {

// Three texts as a parser would announce them: a textual model (empty path) with three
// lines, a one-line XML label, and a two-line query text whose second line starts at
// the same offset as another entry (a run of line ends at a text boundary).
position_table_t sampleTable()
{
    position_table_t t;
    t.add(1, 0, 1, "");
    t.add(40, 39, 2, "");
    t.add(90, 89, 3, "");
    t.add(200, 0, 1, "/nta/template[1]/label[1]");
    t.add(300, 0, 1, "q");
    t.add(300, 0, 2, "q");
    return t;
}

std::string messageOf(const std::logic_error& e) { return e.what(); }

} // namespace

TEST(PositionTable, FindReturnsTheEntryCoveringTheOffset)
{
    const position_table_t t = sampleTable();
    struct Case {
        const char* name;
        uint32_t offset;
        uint32_t position;
        int32_t line;
    };
    const Case cases[] = {
        {"before the first entry", 0, 1, 1},
        {"exactly the first entry", 1, 1, 1},
        {"last offset of line 1", 39, 1, 1},
        {"first offset of line 2", 40, 40, 2},
        {"inside line 3", 150, 90, 3},
        {"start of another text", 200, 200, 1},
        {"equal positions: the newer entry wins", 300, 300, 2},
        {"far beyond the last entry", 1000, 300, 2},
        {"largest offset (absent span end)", INT32_MAX, 300, 2},
        {"unsigned comparison at the top", UINT32_MAX, 300, 2},
    };
    for (const Case& c : cases) {
        const position_t& p = t.find(c.offset);
        EXPECT_EQ(p.position, c.position) << c.name;
        EXPECT_EQ(p.line, c.line) << c.name;
    }

    // Every table size and every offset agrees with a linear scan for the last entry
    // at or before the offset (odd and even sizes exercise both halves of the search).
    position_table_t grow;
    for (uint32_t n = 1; n <= 9; ++n) {
        grow.add(10 * n, 0, static_cast<int32_t>(n), "");
        for (uint32_t off = 0; off <= 10 * n + 10; ++off) {
            std::size_t expect = 0;
            for (std::size_t i = 0; i < grow.size(); ++i) {
                if (grow[i].position <= off) expect = i;
            }
            EXPECT_EQ(&grow.find(off), &grow[expect]) << "size " << n << " offset " << off;
        }
    }
}

TEST(PositionTable, RejectsDecreasingPositionsAndLookupsInAnEmptyTable)
{
    position_table_t t;
    try {
        t.find(0);
        ADD_FAILURE() << "find on an empty table did not throw";
    } catch (const std::logic_error& e) {
        EXPECT_EQ(messageOf(e), "No positions have been added");
    }

    t.add(5, 0, 1, "a");
    t.add(5, 0, 2, "a");  // equal: accepted
    try {
        t.add(4, 0, 3, "a");
        ADD_FAILURE() << "a decreasing position was accepted";
    } catch (const std::logic_error& e) {
        EXPECT_EQ(messageOf(e), "Positions must be monotonically increasing");
    }
    ASSERT_EQ(t.size(), 2u);
    EXPECT_EQ(t.find(5).line, 2);
    EXPECT_EQ(t.find(100).line, 2);

    // Positions compare unsigned: an entry at 0 never blocks a later one.
    position_table_t u;
    u.add(0, 0, 1, "");
    u.add(0x80000000u, 0, 1, "");
    EXPECT_EQ(u.size(), 2u);
}

TEST(Diagnostic, TakesItsEntriesFromTheTable)
{
    const position_table_t t = sampleTable();
    struct Case {
        const char* name;
        span_t span;
        int32_t startLine;
        std::string startPath;
        int32_t endLine;
        std::string endPath;
    };
    const Case cases[] = {
        {"within one line", span_t(45, 50), 2, "", 2, ""},
        {"across lines", span_t(10, 95), 1, "", 3, ""},
        {"across texts", span_t(95, 205), 3, "", 1, "/nta/template[1]/label[1]"},
        {"no position: first and last entries", span_t(), 1, "", 2, "q"},
    };
    for (const Case& c : cases) {
        const diagnostic_t d = makeDiagnostic(t, c.span, "$Some_key", "ctx");
        EXPECT_EQ(d.start.line, c.startLine) << c.name;
        EXPECT_EQ(d.start.path, c.startPath) << c.name;
        EXPECT_EQ(d.end.line, c.endLine) << c.name;
        EXPECT_EQ(d.end.path, c.endPath) << c.name;
        EXPECT_EQ(d.spanStart, c.span.start) << c.name;
        EXPECT_EQ(d.spanEnd, c.span.end) << c.name;
        EXPECT_EQ(d.message, "$Some_key") << c.name;
        EXPECT_EQ(d.context, "ctx") << c.name;
    }
    // A warning is recorded without context.
    EXPECT_EQ(makeDiagnostic(t, span_t(45, 50), "$W").context, "");
}

TEST(Diagnostic, IsKeptWhenNoPositionHasBeenAddedYet)
{
    // A loader that fails before it has read any text (an unreadable XML document,
    // say) must still be able to report why; the error is kept with no known place.
    const position_table_t empty;
    const diagnostic_t d = makeDiagnostic(empty, span_t(3, 7), "$Cannot_read", "details");
    EXPECT_EQ(d.start, position_t{});
    EXPECT_EQ(d.end, position_t{});
    EXPECT_EQ(d.start.line, 0);
    EXPECT_EQ(d.spanStart, 3);
    EXPECT_EQ(d.spanEnd, 7);
    EXPECT_EQ(d.message, "$Cannot_read");
    EXPECT_EQ(d.context, "details");

    // Once the loader adds a position, later diagnostics resolve against it.
    position_table_t t;
    t.add(1, 0, 1, "/nta/declaration");
    EXPECT_EQ(makeDiagnostic(t, span_t(3, 7), "$X").start.path, "/nta/declaration");
}

TEST(Diagnostic, TextForm)
{
    const position_table_t t = sampleTable();
    struct Case {
        const char* name;
        span_t span;
        const char* text;
    };
    const Case cases[] = {
        {"empty path has no ' in ' part", span_t(45, 95),
         "$Msg at line 2 column 5 to line 3 column 5"},
        {"named text", span_t(203, 210),
         "$Msg in /nta/template[1]/label[1] at line 1 column 3 to line 1 column 10"},
        {"offset before the first line start", span_t(0, 1),
         "$Msg at line 1 column -1 to line 1 column 0"},
        {"no position", span_t(),
         "$Msg at line 1 column -1 to line 2 column 2147483347"},
    };
    for (const Case& c : cases) {
        std::ostringstream out;
        out << makeDiagnostic(t, c.span, "$Msg");
        EXPECT_EQ(out.str(), c.text) << c.name;
    }
}
