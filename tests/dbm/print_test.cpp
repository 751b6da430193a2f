#include "dbm/print.h"

#include "dbm/bound.h"
#include "dbm/dbm.h"
#include "dbm/zone.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <initializer_list>
#include <sstream>
#include <string>
#include <vector>

using namespace dbm;

namespace {
class Names : public ClockAccessor {
public:
    std::string getClockName(uint32_t clock) const override
    {
        static const char* const names[] = {"#ref", "x", "y", "z"};
        EXPECT_GE(clock, 1u) << "the reference clock is never named";
        return names[clock];
    }
};

// The zone of n clocks given by the constraints x_i - x_j bound, closed by the library.
zone_t makeZone(uint32_t n, std::initializer_list<clock_constraint_t> constraints)
{
    std::vector<bound_t> m(size_t{n} * n);
    init(m.data(), n);
    zone_t z(n);
    for (const auto& c : constraints)
        if (!constrain(m.data(), n, c.i, c.j, c.bound)) return z;
    z.assignMatrix(m.data(), n);
    return z;
}

clock_constraint_t upper(uint32_t x, bound_t b) { return {x, 0, b}; }
clock_constraint_t lowerStrict(uint32_t x, int32_t v) { return {0, x, boundLT(-v)}; }  // x > v
clock_constraint_t diff(uint32_t x, uint32_t y, bound_t b) { return {x, y, b}; }

// What a FILE printer writes.
std::string onFile(const std::function<void(FILE*)>& print)
{
    FILE* file = std::tmpfile();
    EXPECT_NE(file, nullptr);
    print(file);
    std::string text;
    std::rewind(file);
    for (int c; (c = std::fgetc(file)) != EOF;)
        text += static_cast<char>(c);
    std::fclose(file);
    return text;
}

std::string onStream(const std::function<void(std::ostream&)>& print)
{
    std::ostringstream out;
    print(out);
    return out.str();
}
}  // namespace

// The texts of zones as traces show them, in the short form (minimal constraints) and the full form.
TEST(ZoneText, ShortAndFullForms)
{
    struct Case {
        std::string name;
        zone_t zone;
        std::string shortText, fullText;
    };
    const std::vector<Case> cases = {
        {"empty", makeZone(3, {upper(1, boundLT(0))}), "false", "false"},
        {"no clock", makeZone(1, {}), "true", "true"},
        {"unconstrained", makeZone(3, {}), "true", "(0<=x && 0<=y)"},
        {"one value: upper bound folded", makeZone(2, {upper(1, boundLE(3)), diff(0, 1, boundLE(-3))}), "(x==3)",
         "(x==3)"},
        {"zero value", makeZone(2, {upper(1, boundLE(0))}), "(x==0)", "(x==0)"},
        {"strict and non-strict bounds", makeZone(2, {lowerStrict(1, 1), upper(1, boundLE(5))}), "(1<x && x<=5)",
         "(1<x && x<=5)"},
        {"fixed difference printed once",
         makeZone(3, {diff(1, 2, boundLE(2)), diff(2, 1, boundLE(-2)), upper(1, boundLE(10))}),
         "(2<=x && x<=10 && x-y==2)", "(2<=x && 0<=y && x<=10 && x-y==2 && y<=8)"},
        {"equal clocks", makeZone(3, {diff(1, 2, boundLE(0)), diff(2, 1, boundLE(0))}), "(x==y)",
         "(0<=x && 0<=y && x==y)"},
        {"strict difference with value 0", makeZone(3, {diff(1, 2, boundLT(0))}), "(x<y)", "(0<=x && 0<y && x<y)"},
        {"negative difference", makeZone(3, {diff(1, 2, boundLT(-1))}), "(x-y<-1)", "(0<=x && 1<y && x-y<-1)"},
        {"non-strict difference with value 0", makeZone(4, {diff(3, 1, boundLE(0)), upper(2, boundLT(7))}),
         "(y<7 && z<=x)", "(0<=x && 0<=y && 0<=z && y<7 && y-x<7 && y-z<7 && z<=x)"},
    };
    const Names names;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.zone.toString(names, false), c.shortText);
        EXPECT_EQ(c.zone.toString(names, true), c.fullText);
    }
}

// The diagnostic printers, each on a stream and, where it exists, on a FILE.
TEST(DiagnosticPrinters, Texts)
{
    const bound_t matrix[] = {BOUND_LE_ZERO, boundLT(-1), BOUND_INFINITY, BOUND_LE_ZERO};
    const bound_t other[] = {BOUND_LE_ZERO, boundLE(-1), boundLE(4), BOUND_LE_ZERO};
    const clock_constraint_t constraints[] = {{1, 0, boundLE(5)}, {2, 1, boundLT(3)}};
    const bound_t bounds[] = {BOUND_LE_ZERO, BOUND_INFINITY};
    const int32_t values[] = {0, INF_VALUE, -3};
    const std::string red = "\x1b[1;31m", normal = "\x1b[0;0m";
    struct Case {
        std::string name;
        std::function<void(std::ostream&)> stream;
        std::function<void(FILE*)> file;  // null where only a stream printer exists
        std::string text;
    };
    const std::vector<Case> cases = {
        {"infinity", [](std::ostream& o) { printRawValue(o, INF_VALUE); }, [](FILE* f) { printRawValue(f, INF_VALUE); },
         "INF"},
        {"minus infinity", [](std::ostream& o) { printRawValue(o, MINUS_INF_VALUE); }, nullptr, "-INF"},
        {"beyond infinity", [](std::ostream& o) { printRawValue(o, 0x40000000); }, nullptr, "illegal"},
        {"beyond minus infinity", [](std::ostream& o) { printRawValue(o, -0x40000000); }, nullptr, "illegal"},
        {"plain value", [](std::ostream& o) { printRawValue(o, -7); }, nullptr, "-7"},
        {"infinite bound", [](std::ostream& o) { printBound(o, BOUND_INFINITY); },
         [](FILE* f) { printBound(f, BOUND_INFINITY); }, "<INF"},
        {"bound <=0", [](std::ostream& o) { printBound(o, 1); }, nullptr, "<=0"},
        {"bound <-2", [](std::ostream& o) { printBound(o, -4); }, nullptr, "<-2"},
        {"constraint", [&](std::ostream& o) { printConstraint(o, constraints[0]); }, nullptr, "x1-x0<=5"},
        {"constraint array", [&](std::ostream& o) { printConstraintArray(o, constraints, 2); },
         [&](FILE* f) { printConstraintArray(f, constraints, 2); }, "(1)-(0)<=5 (2)-(1)<3"},
        {"no constraints", [&](std::ostream& o) { printConstraintArray(o, constraints, 0); }, nullptr, ""},
        {"bound array", [&](std::ostream& o) { printBoundArray(o, bounds, 2); },
         [&](FILE* f) { printBoundArray(f, bounds, 2); }, "[<=0 <INF]"},
        {"no bounds", [&](std::ostream& o) { printBoundArray(o, bounds, 0); }, nullptr, "[]"},
        {"value array", [&](std::ostream& o) { printRawValueArray(o, values, 3); },
         [&](FILE* f) { printRawValueArray(f, values, 3); }, "[0 INF -3]"},
        {"matrix", [&](std::ostream& o) { printMatrix(o, matrix, 2); }, [&](FILE* f) { printMatrix(f, matrix, 2); },
         "<=0\t<-1\t\\\n<INF\t<=0\t\\\n"},
        {"no matrix", [&](std::ostream& o) { printMatrix(o, nullptr, 2); }, nullptr, ""},
        {"empty zone", [](std::ostream& o) { printZone(o, zone_t(3)); }, nullptr, ""},
        {"zone", [](std::ostream& o) { printZone(o, makeZone(2, {})); }, nullptr, "<=0\t<=0\t\\\n<INF\t<=0\t\\\n"},
        {"matrix diff", [&](std::ostream& o) { printMatrixDiff(o, matrix, other, 2); },
         [&](FILE* f) { printMatrixDiff(f, matrix, other, 2); },
         "DBM diff 2x2:\n<=0\t" + red + "<-1" + normal + "\n" + red + "<INF" + normal + "\t<=0\n\n<=0\t" + red +
             "<=-1" + normal + "\n" + red + "<=4" + normal + "\t<=0\n"},
        {"diff of nothing", [&](std::ostream& o) { printMatrixDiff(o, matrix, other, 0); }, nullptr,
         "DBM diff 0x0:\n\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(onStream(c.stream), c.text);
        if (c.file) {
            EXPECT_EQ(onFile(c.file), c.text);
        }
    }
}

TEST(DiagnosticPrinters, CheckedMatrixShowsWhatClosureChanges)
{
    const std::string red = "\x1b[1;31m", normal = "\x1b[0;0m";
    // x <= 3 and y <= 1 with their differences left open: closure bounds x - y and y - x.
    const bound_t open[] = {1, 1, 1, boundLE(3), 1, BOUND_INFINITY, boundLE(1), BOUND_INFINITY, 1};
    EXPECT_EQ(onStream([&](std::ostream& o) { printMatrixChecked(o, open, 3); }),
              "DBM diff 3x3:\n<=0\t<=0\t<=0\n<=3\t<=0\t" + red + "<INF" + normal + "\n<=1\t" + red + "<INF" + normal +
                  "\t<=0\n\n<=0\t<=0\t<=0\n<=3\t<=0\t" + red + "<=3" + normal + "\n<=1\t" + red + "<=1" + normal +
                  "\t<=0\n");
    const bound_t empty[] = {1, boundLT(-2), boundLE(1), 1};  // x > 2 and x <= 1
    const std::string text = onFile([&](FILE* f) { printMatrixChecked(f, empty, 2); });
    EXPECT_EQ(text.rfind(red + "Warning: empty DBM!" + normal + " DBM diff 2x2:\n", 0), 0u) << text;
}

TEST(DiagnosticPrinters, PrefixStartsEveryMatrixRow)
{
    const bound_t matrix[] = {BOUND_LE_ZERO};
    setPrintPrefix("# ");
    EXPECT_STREQ(getPrintPrefix(), "# ");
    EXPECT_EQ(onStream([&](std::ostream& o) { printMatrix(o, matrix, 1); }), "# <=0\t\\\n");
    setPrintPrefix(nullptr);
    EXPECT_STREQ(getPrintPrefix(), "");
    EXPECT_EQ(onStream([&](std::ostream& o) { printMatrix(o, matrix, 1); }), "<=0\t\\\n");
    EXPECT_FALSE(getPrintMatrixSyntax());
    setPrintMatrixSyntax(true);
    EXPECT_TRUE(getPrintMatrixSyntax());
    setPrintMatrixSyntax(false);
}

TEST(FileStreamBuffer, WritesThroughAndFlushesWithoutClosing)
{
    FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    {
        io::FileStreamBuffer buffer(file);
        std::ostream out(&buffer);
        out << "zone " << 42 << '\n';
    }
    EXPECT_EQ(std::fputs("after", file), 1) << "the file stays open";
    std::rewind(file);
    char text[32] = {};
    EXPECT_EQ(std::fread(text, 1, sizeof text - 1, file), 13u);
    EXPECT_STREQ(text, "zone 42\nafter");
    std::fclose(file);
}
