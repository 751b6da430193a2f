// Value ranges of expressions, the cells an l-value denotes, and read and write sets.

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <limits>
#include <random>
#include <sstream>

#include "compile_helpers.h"
#include "support/arith.h"

using namespace compiler_test;
using namespace ZOLT;

namespace {

const char* const declarations = "int plain;\n"
                                 "bool b1; bool b2; bool c;\n"
                                 "int[0,10] x; int[2,3] y; int[0,4] d4; int[-2,3] dm; int[0,0] d0; int[-7,7] s7;\n"
                                 "int[0,4] x4; int[0,2] x2; int[5,9] y59; int[1,9] y19; int[1,2] i12; int[3,9] i39;\n"
                                 "int[0,5] x05; int[1,5] i15; int[0,1] i01; int[0,2000000000] big;\n"
                                 "const int ca[3] = {3, 9, 1};\n"
                                 "const int three = 3;\n"
                                 "double dv;\n"
                                 "int a[3]; int m[2][3];\n"
                                 "typedef struct { int f; int g; } Pair; Pair r;\n"
                                 "int[0,9] g2;\n"
                                 "int f(int v) { return v + g2; }\n"
                                 "process P(int[0,9] v, int[0,10] &w) { state A; init A; }\n"
                                 "Q = P(4, x);\n"
                                 "system Q;\n";

class Analysis : public ::testing::Test
{
protected:
    Compiled c = compile(declarations);
    ExpressionAnalyser& analyser() { return *c.compiler->getAnalyser(); }

    interval_t range(const std::string& text) { return analyser().getRange(c.parse(text)); }

    std::set<uint32_t> indices(std::initializer_list<std::string> names)
    {
        std::set<uint32_t> result;
        for (const std::string& name : names) {
            result.insert(c.index(name));
        }
        return result;
    }
    std::set<uint32_t> cells(const expression_t& e)
    {
        ExpressionAnalyser::CellSet possible;
        analyser().collectPossibleIndex(e, possible);
        std::set<uint32_t> result;
        ExpressionAnalyser::expandCells(possible, result);
        return result;
    }
    std::set<uint32_t> reads(const expression_t& e)
    {
        std::set<uint32_t> result;
        analyser().collectReads(e, result);
        return result;
    }
    std::set<uint32_t> writes(const expression_t& e)
    {
        std::set<uint32_t> result;
        analyser().collectWrites(e, result);
        return result;
    }
};

std::string text(const interval_t& r)
{
    return "[" + std::to_string(r.lower) + "," + std::to_string(r.upper) + "]";
}

} // namespace

TEST_F(Analysis, RangesOfExpressions)
{
    struct Case
    {
        const char* text;
        interval_t range;
    };
    const int32_t min = std::numeric_limits<int32_t>::min();
    const int32_t max = std::numeric_limits<int32_t>::max();
    const Case cases[] = {
        {"plain", {-32767, 32767}},
        {"b1", {0, 1}},
        {"x + 1", {1, 11}},
        {"x - y", {-3, 8}},
        {"8 / d4", {2, 8}},
        {"8 / dm", {-8, 8}},
        {"8 / d0", {-8, 8}},
        {"s7 % 3", {-3, 3}},
        {"7 % 3", {1, 1}},
        {"-7 % 3", {-1, -1}},
        {"b1 & b2", {0, 1}},
        {"x4 & 4", {0, 7}},
        {"x2 < y59", {1, 1}},
        {"x2 < y19", {0, 1}},
        {"three == 3", {1, 1}},
        {"x2 != y59", {1, 1}},
        {"!b1", {0, 1}},
        {"!0", {1, 1}},
        {"c ? 5 : 7", {5, 7}},
        {"1 ? 5 : 7", {5, 5}},
        {"0 ? 5 : 7", {7, 7}},
        {"sum (i : int[1,3]) i", {6, 6}},
        {"x05 = i39", {3, 5}},
        {"ca[i12]", {1, 9}},
        {"ca[2]", {1, 1}},
        {"x++", {0, 10}},
        {"++x", {1, 10}},
        {"-x", {-10, 0}},
        {"x << 2", {0, 40}},
        {"s7 >> 1", {-4, 3}},
        // Sums and products past 32 bits wrap at run time: any value can come out.
        {"big + big", {min, max}},
        {"big * 3", {min, max}},
        {"big - -big", {min, max}},
        {"big + 1", {1, 2000000001}},
        // A truth interval for an exclusive or.
        {"b1 xor b2", {0, 1}},
        {"1 xor 0", {1, 1}},
        {"1 xor 1", {0, 0}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.text);
        EXPECT_EQ(text(range(k.text)), text(k.range));
    }
    EXPECT_TRUE(range("sum (i : int[3,1]) i").isEmpty());
    // A double has no integer range, but a comparison of doubles is a truth value, and so is
    // a quantifier whatever its body's values.
    EXPECT_THROW(range("dv"), UndefinedRangeException);
    EXPECT_THROW(range("1.5"), UndefinedRangeException);
    EXPECT_THROW(range("x + 1.5"), UndefinedRangeException);
    for (const char* truth : {"dv > 1.0", "sqrt(dv) > 1.0", "three > 3.5", "2.5 != x", "(x < 1.5) + 0",
                              "forall (i : int[0,2]) ca[i]", "exists (i : int[0,2]) ca[i] - 1"}) {
        SCOPED_TRACE(truth);
        EXPECT_EQ(text(range(truth)), text({0, 1}));
    }
}

TEST_F(Analysis, ParametersTakeTheRangeOfWhatTheyAreBoundTo)
{
    binding_t q;
    ASSERT_TRUE(c.model->getGlobals().frame.resolve("Q", q));
    Symbol* process = c.compiler->getRootSymbol()->find(q);
    ASSERT_NE(process, nullptr);
    Symbol* v = process->firstChild.get();
    Symbol* w = v->next.get();
    c.compiler->setCurrentSymbol(process);
    const expression_t vi = expression_t::createIdentifier(v->symbol);
    const expression_t wi = expression_t::createIdentifier(w->symbol);
    EXPECT_EQ(text(analyser().getRange(vi)), "[4,4]");
    EXPECT_EQ(text(analyser().getRange(wi)), "[0,10]");
    // A reference parameter denotes the cells of its argument.
    EXPECT_EQ(cells(wi), indices({"x"}));
    c.compiler->setCurrentSymbol(c.compiler->getRootSymbol());
}

// Every value the machine can compute for p op q, with p and q in their declared ranges, lies
// in the range the analysis gives. Intervals and operators are drawn at random.
TEST_F(Analysis, RangesCoverEveryValueOfTheOperation)
{
    const char* env = std::getenv("MIRVEK_TEST_SEED");
    const unsigned seed = env != nullptr ? static_cast<unsigned>(std::strtoul(env, nullptr, 10)) : 20261210u;
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    std::uniform_int_distribution<int32_t> bound(-40, 40);
    const int pairs = 120;
    std::ostringstream model;
    std::vector<interval_t> left;
    std::vector<interval_t> right;
    for (int k = 0; k < pairs; ++k) {
        int32_t a = bound(random);
        int32_t b = bound(random);
        int32_t c1 = bound(random);
        int32_t d = bound(random);
        left.emplace_back(std::min(a, b), std::max(a, b));
        right.emplace_back(std::min(c1, d), std::max(c1, d));
        model << "int[" << left.back().lower << "," << left.back().upper << "] p" << k << ";\n";
        model << "int[" << right.back().lower << "," << right.back().upper << "] q" << k << ";\n";
    }
    model << "process P() { state A; init A; }\nsystem P;\n";
    Compiled m = compile(model.str());

    struct Operator
    {
        const char* text;
        std::function<bool(int32_t, int32_t, int32_t&)> apply;
    };
    const Operator operators[] = {
        {"+", [](int32_t p, int32_t q, int32_t& r) { r = base::addWrap(p, q); return true; }},
        {"-", [](int32_t p, int32_t q, int32_t& r) { r = base::subWrap(p, q); return true; }},
        {"*", [](int32_t p, int32_t q, int32_t& r) { r = base::mulWrap(p, q); return true; }},
        {"/", [](int32_t p, int32_t q, int32_t& r) { return q != 0 && (r = p / q, true); }},
        {"%", [](int32_t p, int32_t q, int32_t& r) { return q != 0 && (r = p % q, true); }},
        {"&", [](int32_t p, int32_t q, int32_t& r) { r = p & q; return true; }},
        {"|", [](int32_t p, int32_t q, int32_t& r) { r = p | q; return true; }},
        {"^", [](int32_t p, int32_t q, int32_t& r) { r = p ^ q; return true; }},
        {"<<", [](int32_t p, int32_t q, int32_t& r) { return q >= 0 && (r = base::shlWrap(p, q), true); }},
        {">>", [](int32_t p, int32_t q, int32_t& r) { return q >= 0 && (r = base::shrWrap(p, q), true); }},
        {"<?", [](int32_t p, int32_t q, int32_t& r) { r = std::min(p, q); return true; }},
        {">?", [](int32_t p, int32_t q, int32_t& r) { r = std::max(p, q); return true; }},
    };
    for (int k = 0; k < pairs; ++k) {
        for (const Operator& o : operators) {
            const std::string expression = "p" + std::to_string(k) + " " + o.text + " q" + std::to_string(k);
            const interval_t r = m.compiler->getAnalyser()->getRange(m.parse(expression));
            for (int32_t p = left[k].lower; p <= left[k].upper; ++p) {
                for (int32_t q = right[k].lower; q <= right[k].upper; ++q) {
                    int32_t value;
                    if (o.apply(p, q, value) && !r.contains(value)) {
                        ADD_FAILURE() << expression << " over " << text(left[k]) << " and " << text(right[k])
                                      << ": " << p << " " << o.text << " " << q << " = " << value
                                      << " lies outside " << text(r);
                        p = left[k].upper;
                        break;
                    }
                }
            }
        }
    }
}

TEST_F(Analysis, CellsOfLValues)
{
    // a[i] with i in [1, 5] over an array [0, 2]: the cells a[1] and a[2] only.
    EXPECT_EQ(cells(c.parse("a[i15]")), indices({"a[1]", "a[2]"}));
    EXPECT_EQ(cells(c.parse("m[i01][1]")), indices({"m[0][1]", "m[1][1]"}));
    EXPECT_EQ(cells(c.parse("r.g")), indices({"r.g"}));
    EXPECT_EQ(cells(c.parse("r")), indices({"r.f", "r.g"}));
    EXPECT_EQ(cells(c.parse("c ? x : y")), indices({"x", "y"}));
    EXPECT_EQ(cells(c.parse("(x = 2)")), indices({"x"}));
    EXPECT_TRUE(cells(c.parse("x + 1")).empty());
    // An index without a range may reach every element; a quantifier reaches 0 or 1.
    EXPECT_EQ(cells(c.parse("a[exists (k : int[0,2]) x > k]")), indices({"a[0]", "a[1]"}));
    EXPECT_EQ(cells(c.parse("a[dv > 1.0]")), indices({"a[0]", "a[1]"}));
    EXPECT_EQ(cells(c.parse("a[(dv > 1.0) + 1]")), indices({"a[1]", "a[2]"}));
    // An exclusive or denotes no cell (and is no internal error).
    EXPECT_TRUE(cells(c.parse("b1 xor b2")).empty());
}

TEST_F(Analysis, ReadAndWriteSets)
{
    struct Case
    {
        const char* text;
        std::initializer_list<std::string> reads;
        std::initializer_list<std::string> writes;
    };
    const Case cases[] = {
        {"x = y + 1", {"y"}, {"x"}},
        {"a[x2] = 0", {"x2"}, {}},
        {"a[1] = 0", {}, {"a[1]"}},
        {"x += 1", {}, {"x"}},
        {"b1 && (x = 1)", {"b1", "x"}, {}},
        {"c ? (x = 1) : (x = 2)", {"c"}, {"x"}},
        {"c ? (x = 1) : (y = 2)", {"c"}, {}},
        {"r = r", {"r.f", "r.g"}, {"r.f", "r.g"}},
        {"x++", {"x"}, {"x"}},
        {"b1 xor b2", {"b1", "b2"}, {}},
        {"forall (i : int[0,2]) a[i] > 0", {"a[0]", "a[1]", "a[2]"}, {}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.text);
        const expression_t e = c.parse(k.text);
        EXPECT_EQ(reads(e), indices(k.reads));
        EXPECT_EQ(writes(e), indices(k.writes));
    }

    // A call reads its arguments and whatever the body reads: its parameter and g2.
    const expression_t call = c.call("f", {c.parse("x")});
    std::set<uint32_t> expected = indices({"x", "g2"});
    expected.insert(c.index("vv"));
    EXPECT_EQ(reads(call), expected);
    EXPECT_TRUE(writes(call).empty());
}

TEST_F(Analysis, UniqueCellOnlyForASingleEntry)
{
    EXPECT_EQ(boost::get<1>(analyser().uniqueCell(c.parse("a[1]"))), c.index("a[1]"));
    EXPECT_EQ(boost::get<0>(analyser().uniqueCell(c.parse("a[x2]"))), nullptr);
}
