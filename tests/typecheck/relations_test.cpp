#include <gtest/gtest.h>

#include "fixture.h"
#include "typecheck/relations.h"

namespace tc_test {
namespace {

TEST(TypeRelations, Equivalence)
{
    Fixture f;
    binding_t n = f.global("N", f.prefix(CONSTANT, f.prim(INT)), f.num(5));
    type_t intT = f.prim(INT);
    type_t r05 = f.range(0, 5);
    type_t r06 = f.range(0, 6);
    type_t r0N = f.rangeOver(f.prim(INT), f.num(0), f.id(n));
    type_t ab = f.record({f.prim(INT), f.prim(BOOL)}, {"a", "b"});
    type_t ab2 = f.record({f.prefix(CONSTANT, f.prim(INT)), f.prim(BOOL)}, {"a", "b"});
    type_t ba = f.record({f.prim(BOOL), f.prim(INT)}, {"b", "a"});
    type_t cd = f.record({f.prim(INT), f.prim(BOOL)}, {"c", "d"});
    type_t s1 = f.scalarset("s_t", 3);
    type_t s1again = f.scalarset("s_t", 3);
    type_t s2 = f.scalarset("u_t", 3);
    type_t chan = f.prim(CHANNEL);
    type_t urgentChan = f.prefix(URGENT, f.prim(CHANNEL));
    type_t broadcastChan = f.prefix(BROADCAST, f.prim(CHANNEL));

    struct Case
    {
        const char* name;
        type_t a, b;
        bool equivalent;
    };
    const Case cases[] = {
        {"int ~ int[0,5]", intT, r05, true},
        {"int ~ const int", intT, f.prefix(CONSTANT, f.prim(INT)), true},
        {"int ~ meta int", intT, f.prefix(META, f.prim(INT)), true},
        {"int ~ ref int", intT, f.prefix(REF, f.prim(INT)), true},
        {"int[0,5] !~ int[0,6]", r05, r06, false},
        {"int[0,N] !~ int[0,5]", r0N, r05, false},
        {"bool !~ int", f.prim(BOOL), intT, false},
        {"clock ~ clock", f.prim(CLOCK), f.prim(CLOCK), true},
        {"double ~ double", f.prim(DOUBLE), f.prim(DOUBLE), true},
        {"cost !~ cost", f.prim(COST), f.prim(COST), false},
        {"same records", ab, ab2, true},
        {"fields in another order", ab, ba, false},
        {"fields under other names", ab, cd, false},
        {"same scalarset", s1, s1again, true},
        {"two scalarset definitions", s1, s2, false},
        {"arrays over the same scalarset", type_t::createArray(intT, s1), type_t::createArray(intT, s1again), true},
        {"arrays over different scalarsets", type_t::createArray(intT, s1), type_t::createArray(intT, s2), false},
        {"range index vs scalarset index", type_t::createArray(intT, f.range(0, 2)), type_t::createArray(intT, s1),
         false},
        {"arrays of equal size", f.array(intT, 3), f.array(f.range(0, 9), 3), true},
        {"arrays of other sizes", f.array(intT, 3), f.array(intT, 4), false},
        {"urgent chan !~ chan", urgentChan, chan, false},
        {"broadcast chan !~ chan", broadcastChan, chan, false},
        {"chan ~ chan", chan, f.prim(CHANNEL), true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(typesEquivalent(c.a, c.b), c.equivalent) << c.name;
        EXPECT_EQ(typesEquivalent(c.b, c.a), c.equivalent) << c.name << " (reversed)";
    }
}

TEST(TypeRelations, AssignmentBranchesAndEquality)
{
    Fixture f;
    type_t intT = f.prim(INT), boolT = f.prim(BOOL), doubleT = f.prim(DOUBLE), clockT = f.prim(CLOCK);
    struct Case
    {
        const char* name;
        type_t target, source;
        bool initialiser, accepted;
    };
    const Case cases[] = {
        {"clock := 5", clockT, intT, false, true},       {"double := 5", doubleT, intT, false, true},
        {"int := 2.5", intT, doubleT, false, false},     {"bool := int", boolT, intT, false, true},
        {"int := bool", intT, boolT, false, true},       {"double = 5 (initialiser)", doubleT, intT, true, false},
        {"clock = 5 (initialiser)", clockT, intT, true, false}, {"clock = 2.5 (initialiser)", clockT, doubleT, true, true},
        {"int[0,3] = 7 (initialiser)", f.range(0, 3), intT, true, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(acceptsAssignment(c.target, c.source, c.initialiser), c.accepted) << c.name;
    }
    EXPECT_TRUE(branchTypesMatch(boolT, intT));
    EXPECT_TRUE(comparableForEquality(boolT, intT));
    EXPECT_FALSE(branchTypesMatch(clockT, intT));
    EXPECT_TRUE(comparableForEquality(f.prim(PROCESS_VARIABLE), f.prim(PROCESS_VARIABLE)));
}

TEST(TypeRelations, WritableLvaluesAndArguments)
{
    Fixture f;
    binding_t x = f.global("x", f.prim(INT));
    binding_t y = f.global("y", f.prim(INT));
    binding_t k = f.global("k", f.prefix(CONSTANT, f.prim(INT)), f.num(1));
    binding_t h = f.global("h", f.prefix(HYBRID, f.prim(CLOCK)));
    binding_t ca = f.global("ca", f.prefix(CONSTANT, f.array(f.prim(INT), 3)));
    binding_t b = f.global("b", f.prim(BOOL));
    auto typed = [&](expression_t e) {
        ZOLT::TypeChecker checker(f.system);
        checker.annotateExpressionType(e);
        return e;
    };
    struct Case
    {
        const char* name;
        expression_t e;
        bool writable;
    };
    const Case cases[] = {
        {"++x", typed(f.un(PRE_INCREMENT, f.id(x))), true},
        {"(x = 1)", typed(f.bin(ASSIGN, f.id(x), f.num(1))), true},
        {"x++", typed(f.un(POST_INCREMENT, f.id(x))), false},
        {"const k", f.id(k), false},
        {"hybrid clock", f.id(h), false},
        {"element of a constant array", typed(f.bin(ARRAY, f.id(ca), f.num(0))), false},
        {"b ? x : y", typed(f.tern(INLINE_IF, f.id(b), f.id(x), f.id(y))), true},
        {"b ? x : k", typed(f.tern(INLINE_IF, f.id(b), f.id(x), f.id(k))), false},
        {"(1, x)", typed(f.bin(COMMA, f.num(1), f.id(x))), true},
        {"constant", f.num(3), false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(isWritableLvalue(c.e), c.writable) << c.name;
    }

    // Channels: a parameter of a lower rank takes more kinds of channel.
    binding_t plain = f.global("plain", f.prim(CHANNEL));
    binding_t urgent = f.global("urgent", f.prefix(URGENT, f.prim(CHANNEL)));
    binding_t bcast = f.global("bcast", f.prefix(BROADCAST, f.prim(CHANNEL)));
    EXPECT_TRUE(argumentMatchesParameter(f.prefix(URGENT, f.prim(CHANNEL)), f.id(plain)));
    EXPECT_TRUE(argumentMatchesParameter(f.prefix(BROADCAST, f.prim(CHANNEL)), f.id(plain)));
    EXPECT_FALSE(argumentMatchesParameter(f.prim(CHANNEL), f.id(urgent)));
    EXPECT_FALSE(argumentMatchesParameter(f.prim(CHANNEL), f.id(bcast)));

    // References: a non-constant one needs a variable, a constant one takes values.
    expression_t sum = typed(f.bin(ADD, f.id(x), f.num(1)));
    EXPECT_FALSE(argumentMatchesParameter(f.prefix(REF, f.prim(INT)), sum));
    EXPECT_TRUE(argumentMatchesParameter(f.prefix(CONSTANT, f.prefix(REF, f.prim(INT))), sum));
    EXPECT_TRUE(argumentMatchesParameter(f.prefix(REF, f.prim(INT)), f.id(x)));
    EXPECT_FALSE(argumentMatchesParameter(f.prefix(REF, f.prim(BOOL)), f.id(x)));
}

TEST(TypeRelations, StrictClockBoundsAndProcessLists)
{
    Fixture f;
    binding_t x = f.global("x", f.prim(CLOCK));
    ZOLT::TypeChecker checker(f.system);
    auto typed = [&](expression_t e) {
        checker.annotateExpressionType(e);
        return e;
    };
    expression_t gt = typed(f.bin(GREATER, f.id(x), f.num(3)));
    expression_t lt = typed(f.bin(LESS, f.num(3), f.id(x)));
    expression_t ge = typed(f.bin(GREATER_EQUAL, f.id(x), f.num(3)));
    expression_t upper = typed(f.bin(LESS, f.id(x), f.num(3)));
    expression_t upper2 = typed(f.bin(GREATER, f.num(3), f.id(x)));
    expression_t weakUpper = typed(f.bin(LESS_EQUAL, f.id(x), f.num(3)));
    EXPECT_TRUE(hasStrictClockLowerBound(gt));
    EXPECT_TRUE(hasStrictClockLowerBound(lt));
    EXPECT_FALSE(hasStrictClockLowerBound(ge));
    EXPECT_FALSE(hasStrictClockLowerBound(upper));
    EXPECT_TRUE(hasStrictClockUpperBound(upper));
    EXPECT_TRUE(hasStrictClockUpperBound(upper2));
    EXPECT_FALSE(hasStrictClockUpperBound(weakUpper));
    EXPECT_TRUE(hasStrictClockLowerBound(typed(f.bin(LOGICAL_AND, f.boolean(true), gt))));
    EXPECT_TRUE(isProcessList(f.nary(LIST, {})));
    EXPECT_FALSE(isProcessList(f.nary(LIST, {f.id(x)})));
}

} // namespace
} // namespace tc_test
