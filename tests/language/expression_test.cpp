#include "language/expression.h"
#include "language/nesting.h"

#include "../testkit/small_stack.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

using namespace ZOLT;

namespace {

type_t prim(node_kind_t kind)
{
    return type_t::createPrimitive(kind);
}

expression_t num(int32_t v)
{
    return expression_t::createConstant(v);
}

// A function record as the parsed model keeps it: its effect sets come first.
struct test_function_t : function_effects_t
{
    std::string name;
};

// A few global names: integers a, i, x, y, a clock c, a double d and a function f.
struct Model
{
    scope_t globals = scope_t::create();
    binding_t a = globals.addSymbol("a", prim(INT), nullptr);
    binding_t i = globals.addSymbol("i", prim(INT), nullptr);
    binding_t x = globals.addSymbol("x", prim(INT), nullptr);
    binding_t y = globals.addSymbol("y", prim(INT), nullptr);
    binding_t c = globals.addSymbol("c", prim(CLOCK), nullptr);
    binding_t d = globals.addSymbol("d", prim(DOUBLE), nullptr);

    expression_t id(const binding_t& s) const { return expression_t::createIdentifier(s); }
};

std::set<binding_t> written(const expression_t& e)
{
    std::set<binding_t> s;
    e.collectWrittenSymbols(s);
    return s;
}

std::set<binding_t> read(const expression_t& e, bool markRandom)
{
    std::set<binding_t> s;
    e.collectReadSymbols(s, markRandom);
    return s;
}

} // namespace

TEST(ExpressionTest, FactoriesFillKindValueTypeAndChildren)
{
    Model m;
    span_t at(3, 8);
    expression_t k = expression_t::createConstant(-4, at);
    EXPECT_EQ(k.getKind(), CONSTANT);
    EXPECT_EQ(k.getPosition(), at);
    EXPECT_EQ(k.getValue(), -4);
    EXPECT_TRUE(k.getType().isKind(INT));

    expression_t dbl = expression_t::createDouble(0.1);
    EXPECT_EQ(dbl.getDoubleValue(), 0.1);
    EXPECT_TRUE(dbl.getType().isKind(DOUBLE));
    EXPECT_TRUE(expression_t::createExit().getType().isKind(VOID_TYPE));
    EXPECT_TRUE(expression_t::createDeadlock().getType().isKind(CONSTRAINT));
    EXPECT_TRUE(expression_t::createIdentifier(binding_t()).getType().isUnknown());
    EXPECT_TRUE(m.id(m.c).getType().isKind(CLOCK));
    EXPECT_TRUE(expression_t(ADD, span_t()).getPosition().isAbsent());

    expression_t sync = expression_t::createSync(m.id(m.x), 1);
    EXPECT_EQ(sync.getSync(), 1);
    EXPECT_TRUE(sync.getType().isUnknown());
    EXPECT_EQ(sync.getSymbol(), m.x);

    expression_t dot = expression_t::createDot(m.id(m.a), 2);
    EXPECT_EQ(dot.getIndex(), 2);
    EXPECT_EQ(dot.getSize(), 1u);

    std::vector<expression_t> args = {m.id(m.x), num(1), num(2)};
    expression_t list = expression_t::createNary(LIST, args);
    EXPECT_EQ(list.getSize(), 3u);
    EXPECT_EQ(list[1], args[1]); // children are shared, not copied
    EXPECT_EQ(list.getChild(2), args[2]);

    // A node made childless gets its children when they are assigned.
    expression_t sum(ADD, span_t());
    EXPECT_EQ(sum.getSize(), 2u);
    EXPECT_TRUE(sum.equal(sum.clone()));
    sum[0] = num(1);
    sum[1] = num(2);
    EXPECT_EQ(sum.toString(), "1 + 2");
}

TEST(ExpressionTest, SizeByKind)
{
    struct Case
    {
        const char* name;
        expression_t e;
        size_t size;
    };
    const Case cases[] = {
        {"empty", expression_t(), 0},
        {"call with value 3", expression_t::createNary(FUNCTION_CALL, {num(0), num(1), num(2)}), 3},
        {"identifier", expression_t::createIdentifier(binding_t()), 0},
        {"kind above 162", expression_t(static_cast<node_kind_t>(170), span_t()), 0},
        {"type kind", expression_t(INT, span_t()), 0},
        {"add", expression_t(ADD, span_t()), 2},
        {"mitl and", expression_t(MITL_AND, span_t()), 2},
        {"dynamic member", expression_t(DYNAMIC_MEMBER, span_t()), 2},
        {"inline if", expression_t(INLINE_IF, span_t()), 3},
        {"probability compare", expression_t(PROBABILITY_COMPARE, span_t()), 8},
        {"expected value", expression_t(EXPECTED_VALUE, span_t()), 5},
        {"mitl until", expression_t(MITL_UNTIL, span_t()), 4},
        {"numof", expression_t(NUMOF, span_t()), 1},
        {"exit", expression_t(EXIT, span_t()), 0},
        {"box marker", expression_t(BOX_MARKER, span_t()), 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.e.getSize(), c.size) << c.name;
    }
}

TEST(ExpressionTest, ValuesAndTruth)
{
    expression_t five = num(5);
    EXPECT_EQ(five.getValue(), 5);
    five.setType(prim(BOOL));
    EXPECT_EQ(five.getValue(), 1);
    five.setType(type_t::createRange(prim(INT), num(0), num(9)));
    EXPECT_EQ(five.getValue(), 5); // a range of int is int

    struct Case
    {
        const char* name;
        expression_t e;
        bool isTrue;
    };
    expression_t boolOne = num(1);
    boolOne.setType(prim(BOOL));
    expression_t processOne = num(1);
    processOne.setType(prim(PROCESS_VARIABLE));
    const Case cases[] = {
        {"empty (absent guard)", expression_t(), true},
        {"constant 1", num(1), true},
        {"bool 1", boolOne, true},
        {"process variable 1", processOne, true},
        {"constant 2", num(2), false},
        {"constant 0", num(0), false},
        {"double 1.0", expression_t::createDouble(1.0), false},
        {"not a constant", expression_t::createUnary(LOGICAL_NOT, num(0), span_t(), prim(BOOL)), false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.e.isTrue(), c.isTrue) << c.name;
    }
}

TEST(ExpressionTest, StructuralEquality)
{
    Model m;
    expression_t intOne = num(1);
    expression_t boolOne = num(1);
    boolOne.setType(prim(BOOL));
    expression_t elsewhere = expression_t::createConstant(1, span_t(10, 11));
    scope_t other = scope_t::create();
    binding_t otherX = other.addSymbol("x", prim(INT), nullptr);

    struct Case
    {
        const char* name;
        expression_t left, right;
        bool equal;
    };
    const Case cases[] = {
        {"two empty", expression_t(), expression_t(), true},
        {"empty and leaf", expression_t(), num(0), false},
        {"leaf and empty", num(0), expression_t(), false},
        {"doubles 1.5 and 2.5", expression_t::createDouble(1.5), expression_t::createDouble(2.5), false},
        {"doubles differing in the low bits", expression_t::createDouble(1.0),
         expression_t::createDouble(1.0000000000000002), false},
        {"int 1 and bool 1", intOne, boolOne, true},
        {"positions ignored", intOne, elsewhere, true},
        {"same name, other symbol", m.id(m.x), expression_t::createIdentifier(otherX), false},
        {"same trees", expression_t::createBinary(ADD, m.id(m.x), num(1)),
         expression_t::createBinary(ADD, m.id(m.x), num(1)), true},
        {"other kind", expression_t::createBinary(ADD, m.id(m.x), num(1)),
         expression_t::createBinary(SUBTRACT, m.id(m.x), num(1)), false},
        {"other child", expression_t::createBinary(ADD, m.id(m.x), num(1)),
         expression_t::createBinary(ADD, m.id(m.x), num(2)), false},
        {"other arity", expression_t::createNary(LIST, {num(1)}), expression_t::createNary(LIST, {num(1), num(1)}),
         false},
        {"-1 and 1 as values", num(-1), num(1), false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.left.equal(c.right), c.equal) << c.name;
    }
}

TEST(ExpressionTest, CopiesKeepValuesAndShareWhatTheyShould)
{
    Model m;
    expression_t half = expression_t::createDouble(2.5);
    expression_t tree = expression_t::createBinary(MULTIPLY, m.id(m.d), half, span_t(1, 2), prim(DOUBLE));

    expression_t deep = tree.clone();
    EXPECT_NE(deep, tree);
    EXPECT_NE(deep[1], half);
    EXPECT_EQ(deep[1].getDoubleValue(), 2.5);
    EXPECT_EQ(deep.getPosition(), span_t(1, 2));
    EXPECT_EQ(deep.getType(), tree.getType()); // types are shared
    EXPECT_TRUE(deep.equal(tree));

    expression_t shallow = tree.shallowCopy();
    EXPECT_NE(shallow, tree);
    EXPECT_EQ(shallow[1], half);
    shallow[0] = num(3); // the copy's children are its own handles
    EXPECT_EQ(tree[0].getSymbol(), m.d);

    // Substitution: an expression without the symbol still gets a fresh top node,
    // while a leaf is returned itself.
    expression_t without = tree.substituteSymbol(m.x, num(7));
    EXPECT_NE(without, tree);
    EXPECT_EQ(without[1], half);
    EXPECT_EQ(without[1].getDoubleValue(), 2.5);
    EXPECT_EQ(half.substituteSymbol(m.x, num(7)), half);
    EXPECT_TRUE(expression_t().substituteSymbol(m.x, num(7)).empty());

    expression_t seven = num(7);
    expression_t nested = expression_t::createBinary(ADD, m.id(m.x), expression_t::createUnary(UNARY_MINUS, m.id(m.x)));
    expression_t replaced = nested.substituteSymbol(m.x, seven);
    EXPECT_EQ(replaced[0], seven); // the replacement itself, not a copy
    EXPECT_EQ(replaced[1][0], seven);
    EXPECT_EQ(nested[0].getSymbol(), m.x);

    expression_t renamed = nested.cloneReplacingSymbol(m.x, m.y);
    EXPECT_EQ(renamed.toString(), "y + -y");
    EXPECT_EQ(nested.toString(), "x + -x");

    EXPECT_TRUE(expression_t().clone().empty());
    EXPECT_TRUE(expression_t().shallowCopy().empty());
    EXPECT_TRUE(expression_t().cloneRebound(m.globals, scope_t()).empty());
}

TEST(ExpressionTest, CloneReboundLooksNamesUpAgain)
{
    Model m;
    scope_t parent = scope_t::create();
    binding_t parentX = parent.addSymbol("x", prim(INT), nullptr);
    scope_t first = scope_t::createSubScope(parent);
    scope_t second = scope_t::create();
    binding_t secondX = second.addSymbol("x", prim(INT), nullptr);
    binding_t secondY = second.addSymbol("y", prim(INT), nullptr);

    EXPECT_EQ(m.id(m.x).cloneRebound(first, second).getSymbol(), parentX);
    EXPECT_EQ(m.id(m.y).cloneRebound(first, second).getSymbol(), secondY);
    EXPECT_TRUE(m.id(m.a).cloneRebound(first, second).getSymbol().empty());
    EXPECT_TRUE(m.id(m.y).cloneRebound(first, scope_t()).getSymbol().empty());
    (void)secondX;

    // Nodes without a symbol keep none; the tree is copied throughout.
    expression_t tree = expression_t::createBinary(ASSIGN, m.id(m.y), num(1));
    expression_t rebound = tree.cloneRebound(first, second);
    EXPECT_EQ(rebound[0].getSymbol(), secondY);
    EXPECT_NE(rebound[1], tree[1]);
    EXPECT_EQ(rebound.getSymbol(), secondY);
}

TEST(ExpressionTest, DesignatedSymbol)
{
    Model m;
    expression_t ax = expression_t::createBinary(ARRAY, m.id(m.a), m.id(m.x));
    struct Case
    {
        const char* name;
        expression_t e;
        binding_t symbol;
    };
    const Case cases[] = {
        {"identifier", m.id(m.x), m.x},
        {"array", ax, m.a},
        {"assignment", expression_t::createBinary(ADD_ASSIGN, ax, num(1)), m.a},
        {"pre-increment", expression_t::createUnary(PRE_INCREMENT, m.id(m.y)), m.y},
        {"post-increment designates nothing", expression_t::createUnary(POST_INCREMENT, m.id(m.y)), binding_t()},
        {"inline if takes the true branch", expression_t::createTernary(INLINE_IF, m.id(m.x), m.id(m.y), m.id(m.a)),
         m.y},
        {"comma takes the second", expression_t::createBinary(COMMA, m.id(m.x), m.id(m.i)), m.i},
        {"addition", expression_t::createBinary(ADD, m.id(m.x), m.id(m.y)), binding_t()},
        {"constant", num(3), binding_t()},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.e.getSymbol(), c.symbol) << c.name;
    }
}

TEST(ExpressionTest, WrittenSymbols)
{
    Model m;
    test_function_t record;
    record.writtenSymbols = {m.i};
    record.readSymbols = {m.c};
    type_t intRef = type_t::createPrefix(prim(INT), REF);
    type_t constRef = type_t::createPrefix(type_t::createPrefix(prim(INT), CONSTANT), REF);
    binding_t f = m.globals.addSymbol(
        "f", type_t::createFunction(prim(VOID_TYPE), {intRef}, {"p"}), static_cast<function_effects_t*>(&record));
    binding_t g = m.globals.addSymbol("g", type_t::createFunction(prim(VOID_TYPE), {constRef}, {"p"}), nullptr);
    binding_t h = m.globals.addSymbol("h", type_t::createFunction(prim(VOID_TYPE), {prim(INT)}, {"p"}), nullptr);

    auto call = [&](const binding_t& fn, const expression_t& arg) {
        return expression_t::createNary(FUNCTION_CALL, {m.id(fn), arg});
    };
    expression_t ai = expression_t::createBinary(ARRAY, m.id(m.a), m.id(m.i));
    using S = std::set<binding_t>;
    struct Case
    {
        const char* name;
        expression_t e;
        S expected;
    };
    const Case cases[] = {
        {"array element assignment writes the array only", expression_t::createBinary(ASSIGN, ai, num(1)), S{m.a}},
        {"post-increment", expression_t::createUnary(POST_INCREMENT, m.id(m.x)), S{m.x}},
        {"call by reference", call(f, m.id(m.y)), S{m.y, m.i}},
        {"call by constant reference", call(g, m.id(m.y)), S{}},
        {"call by value", call(h, m.id(m.y)), S{}},
        {"assignment nested in an argument", call(h, expression_t::createBinary(ASSIGN, m.id(m.x), num(0))), S{m.x}},
        {"inline if target", expression_t::createBinary(
                                 ASSIGN, expression_t::createTernary(INLINE_IF, m.id(m.i), m.id(m.x), m.id(m.y)), num(0)),
         S{m.x, m.y}},
        {"comma target", expression_t::createBinary(
                             SUBTRACT_ASSIGN, expression_t::createBinary(COMMA, m.id(m.i), m.id(m.y)), num(0)),
         S{m.y}},
        {"chained assignment", expression_t::createBinary(ASSIGN, m.id(m.x), expression_t::createBinary(ASSIGN, m.id(m.y), num(0))),
         S{m.x, m.y}},
        {"post-increment is not an assignment target", expression_t::createBinary(
                                                            ASSIGN, expression_t::createUnary(POST_INCREMENT, m.id(m.x)), num(0)),
         S{m.x}},
        {"pure expression", expression_t::createBinary(ADD, m.id(m.x), m.id(m.y)), S{}},
        {"empty", expression_t(), S{}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(written(c.e), c.expected) << c.name;
        EXPECT_EQ(c.e.hasSideEffects(), !c.expected.empty()) << c.name;
    }
    EXPECT_TRUE(call(f, m.id(m.y)).writesAny({m.i}));
    EXPECT_FALSE(call(f, m.id(m.y)).writesAny({m.x}));
    EXPECT_TRUE(expression_t::createBinary(ARRAY, m.id(m.a), m.id(m.i)).lvalueDesignatesAny({m.a}));

    // Reads: every identifier (the callee included) and the callee's read set.
    EXPECT_EQ(read(call(f, m.id(m.y)), false), (S{f, m.y, m.c}));
    EXPECT_TRUE(call(f, m.id(m.y)).readsAny({m.c}));
}

TEST(ExpressionTest, ReadSymbolsMarkRandomDraws)
{
    Model m;
    expression_t draw = expression_t::createBinary(ADD, num(1), expression_t::createUnary(RANDOM, num(3)));
    std::set<binding_t> marked = read(draw, true);
    ASSERT_EQ(marked.size(), 1u);
    EXPECT_TRUE(marked.begin()->empty());
    EXPECT_TRUE(read(draw, false).empty());

    expression_t sum = expression_t::createBinary(ADD, m.id(m.x), m.id(m.y));
    EXPECT_EQ(read(sum, true), (std::set<binding_t>{m.x, m.y}));
}

TEST(ExpressionTest, DynamicFloatingPointAndClockUse)
{
    Model m;
    expression_t spawn = expression_t::createNary(SPAWN, {num(1), m.id(m.x)});
    EXPECT_TRUE(spawn.isDynamic());
    EXPECT_FALSE(spawn.hasDynamicSubexpression());
    expression_t holder = expression_t::createBinary(COMMA, num(0), spawn);
    EXPECT_FALSE(holder.isDynamic());
    EXPECT_TRUE(holder.hasDynamicSubexpression());
    EXPECT_FALSE(expression_t(FOREACH_DYNAMIC, span_t()).isDynamic());
    EXPECT_TRUE(expression_t::createExit().isDynamic());
    EXPECT_FALSE(expression_t().isDynamic());
    EXPECT_FALSE(expression_t().hasDynamicSubexpression());

    EXPECT_TRUE(expression_t::createBinary(LESS, m.id(m.x), m.id(m.d)).usesFloatingPoint());
    EXPECT_TRUE(expression_t::createUnary(FLOOR, m.id(m.x)).usesFloatingPoint());
    EXPECT_FALSE(expression_t::createBinary(LESS, m.id(m.x), num(3)).usesFloatingPoint());
    EXPECT_FALSE(expression_t().usesFloatingPoint());
    EXPECT_TRUE(expression_t::createBinary(LESS, m.id(m.c), num(3)).usesClock());
    EXPECT_FALSE(expression_t::createBinary(LESS, m.id(m.x), num(3)).usesClock());
    EXPECT_FALSE(expression_t().usesClock());
}

namespace {

// A list of n operands joined by `kind` as the parser joins them (left-deep), each operand made
// by `operand` from its number.
template <typename Operand>
expression_t leftDeepList(node_kind_t kind, size_t n, Operand operand)
{
    expression_t list = operand(0);
    for (size_t k = 1; k < n; ++k) {
        list = expression_t::createBinary(kind, list, operand(k), span_t(0, static_cast<uint32_t>(k)));
    }
    return list;
}

} // namespace

// Long lists (an update's assignments, a guard's conjuncts) are one
// level of nesting, and every walk of the language core goes along them without recursing once
// per operand: on a small stack such a walk would overflow.
TEST(ExpressionTest, LongListsAreOneLevelAndWalkedWithoutDeepRecursion)
{
    const size_t n = 30000;
    testkit::onSmallStack([&] {
        Model m;
        const binding_t names[] = {m.a, m.x, m.y};
        auto comparison = [&](size_t k) {
            return expression_t::createBinary(LESS, m.id(names[k % 3]), num(static_cast<int32_t>(k % 10)));
        };
        auto assignment = [&](size_t k) {
            return expression_t::createBinary(ASSIGN, m.id(names[k % 3]), num(static_cast<int32_t>(k % 10)));
        };
        struct Case
        {
            const char* name;
            node_kind_t kind;
            const char* separator;
            bool assignments;
        };
        const Case cases[] = {
            {"update", COMMA, ", ", true},
            {"conjunction", LOGICAL_AND, " && ", false},
            {"disjunction", LOGICAL_OR, " || ", false},
        };
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name);
            std::string text;
            for (size_t k = 0; k < n; ++k) {
                text += (k == 0 ? "" : c.separator) + std::string(1, "axy"[k % 3]) + (c.assignments ? " = " : " < ") +
                        std::to_string(k % 10);
            }
            expression_t list = c.assignments ? leftDeepList(c.kind, n, assignment) : leftDeepList(c.kind, n, comparison);
            EXPECT_EQ(list.getDepth(), 3u);
            EXPECT_EQ(listSpine(list).size(), n - 1);
            EXPECT_EQ(listOperands(list).size(), n);
            EXPECT_EQ(list.toString(), text);

            expression_t copy = list.clone();
            EXPECT_NE(copy, list);
            EXPECT_TRUE(copy.equal(list));
            EXPECT_FALSE(copy.equal(list.substituteSymbol(m.y, num(7))));
            std::string substituted = text;
            for (size_t at = substituted.find('y'); at != std::string::npos; at = substituted.find('y', at)) {
                substituted.replace(at, 1, "7");
            }
            EXPECT_EQ(list.substituteSymbol(m.y, num(7)).toString(), substituted);
            EXPECT_EQ(list.cloneReplacingSymbol(m.y, m.i).toString().find('y'), std::string::npos);

            EXPECT_EQ(read(list, false), (std::set<binding_t>{m.a, m.x, m.y}));
            EXPECT_EQ(written(list), c.assignments ? (std::set<binding_t>{m.a, m.x, m.y}) : std::set<binding_t>{});
            EXPECT_FALSE(list.usesClock());
            EXPECT_FALSE(list.usesFloatingPoint());
            EXPECT_FALSE(list.hasDynamicSubexpression());
            // The lists (and their copies) are freed as the loop goes on.
        }

        // Only a list's own kind continues it: the parts of a list of another kind, a chain of
        // sums and conjunctions nested by brackets on the right are levels of their own.
        const expression_t conjunction = leftDeepList(LOGICAL_AND, 3, comparison);
        const expression_t mixed =
            expression_t::createBinary(LOGICAL_OR, conjunction, leftDeepList(LOGICAL_AND, 2, comparison));
        EXPECT_EQ(mixed.getDepth(), 4u);
        EXPECT_EQ(mixed.toString(), "a < 0 && x < 1 && y < 2 || a < 0 && x < 1");
        EXPECT_EQ(listSpine(mixed).size(), 1u);
        EXPECT_EQ(leftDeepList(ADD, 50, [&](size_t) { return m.id(m.x); }).getDepth(), 50u);
        expression_t bracketed = comparison(0);
        for (size_t k = 1; k < 50; ++k) {
            bracketed = expression_t::createBinary(LOGICAL_AND, comparison(k), bracketed);
        }
        EXPECT_EQ(bracketed.getDepth(), 51u);
        EXPECT_EQ(bracketed.toString().substr(0, 26), "x < 9 && (a < 8 && (y < 7 ");
    });
}
