#include <functional>

#include <gtest/gtest.h>

#include "fixture.h"
#include "typecheck/type_checker.h"

namespace tc_test {
namespace {

using Strings = std::vector<std::string>;

// A model with one variable of each kind the typing rules tell apart.
struct Env : Fixture
{
    binding_t x, y, i, j, b, d, c, n, a, da, r, s1, s2, sa, xs;

    Env()
    {
        x = global("x", prim(CLOCK));
        y = global("y", prim(CLOCK));
        i = global("i", prim(INT));
        j = global("j", range(0, 9));
        b = global("b", prim(BOOL));
        d = global("d", prim(DOUBLE));
        c = global("c", prim(COST));
        n = global("N", prefix(CONSTANT, prim(INT)), num(5));
        a = global("a", array(prim(INT), 4));
        da = global("da", array(prim(DOUBLE), 4));
        r = global("r", record({prim(INT), prim(BOOL)}, {"f", "g"}));
        s1 = global("s1", scalarset("s_t", 3));
        s2 = global("s2", scalarset("u_t", 3));
        sa = global("sa", type_t::createArray(prim(INT), scalarset("s_t", 3)));
        xs = global("xs", array(prim(CLOCK), 2));
    }

    expression_t rate(const binding_t& v) { return un(RATE, id(v)); }
    expression_t lt(expression_t l, expression_t r) { return bin(LESS, l, r); }
};

struct Case
{
    const char* name;
    std::function<expression_t(Env&)> make;
    node_kind_t expected;   // UNKNOWN: typing fails
    Strings errors;
    Strings warnings = {};
};

TEST(ExpressionTyping, Table)
{
    const Case cases[] = {
        // Arithmetic
        {"int + int", [](Env& e) { return e.bin(ADD, e.id(e.i), e.id(e.j)); }, INT, {}},
        {"clock + int", [](Env& e) { return e.bin(ADD, e.id(e.x), e.num(1)); }, CLOCK, {}},
        {"int + clock", [](Env& e) { return e.bin(ADD, e.num(1), e.id(e.x)); }, CLOCK, {}},
        {"clock - clock", [](Env& e) { return e.bin(SUBTRACT, e.id(e.x), e.id(e.y)); }, DIFF, {}},
        {"diff + int", [](Env& e) { return e.bin(ADD, e.bin(SUBTRACT, e.id(e.x), e.id(e.y)), e.num(1)); }, DIFF, {}},
        {"clock + clock", [](Env& e) { return e.bin(ADD, e.id(e.x), e.id(e.y)); }, DOUBLE, {}},
        {"clock * int", [](Env& e) { return e.bin(MULTIPLY, e.id(e.x), e.num(2)); }, DOUBLE, {}},
        {"int - clock", [](Env& e) { return e.bin(SUBTRACT, e.num(2), e.id(e.x)); }, DOUBLE, {}},
        {"int / int", [](Env& e) { return e.bin(DIVIDE, e.id(e.i), e.num(2)); }, INT, {}},
        {"int / double", [](Env& e) { return e.bin(DIVIDE, e.num(7), e.dbl(2.0)); }, DOUBLE, {}},
        // A truth value is the whole number 0 or 1: beside a clock it shifts the clock as an
        // integer does.
        {"clock + bool", [](Env& e) { return e.bin(ADD, e.id(e.x), e.boolean(true)); }, CLOCK, {}},
        {"bool + clock", [](Env& e) { return e.bin(ADD, e.id(e.b), e.id(e.x)); }, CLOCK, {}},
        {"clock - bool", [](Env& e) { return e.bin(SUBTRACT, e.id(e.x), e.id(e.b)); }, CLOCK, {}},
        {"diff + bool",
         [](Env& e) { return e.bin(ADD, e.bin(SUBTRACT, e.id(e.x), e.id(e.y)), e.boolean(true)); }, DIFF, {}},
        {"bool - diff",
         [](Env& e) { return e.bin(SUBTRACT, e.boolean(true), e.bin(SUBTRACT, e.id(e.x), e.id(e.y))); }, DIFF, {}},
        {"bool + int", [](Env& e) { return e.bin(ADD, e.boolean(true), e.num(1)); }, INT, {}},
        {"clock + double", [](Env& e) { return e.bin(ADD, e.id(e.x), e.dbl(2.5)); }, DOUBLE, {}},
        {"double % int", [](Env& e) { return e.bin(MODULO, e.id(e.d), e.num(2)); }, UNKNOWN, {"$Type_error"}},
        {"int & bool", [](Env& e) { return e.bin(BITWISE_AND, e.id(e.i), e.id(e.b)); }, INT, {}},
        {"-double", [](Env& e) { return e.un(UNARY_MINUS, e.id(e.d)); }, DOUBLE, {}},
        {"sqrt(int)", [](Env& e) { return e.un(SQRT, e.id(e.i)); }, DOUBLE, {}},
        {"sqrt(record)", [](Env& e) { return e.un(SQRT, e.id(e.r)); }, UNKNOWN, {"$Number_expected"}},
        {"pow(record, record)", [](Env& e) { return e.bin(POW, e.id(e.r), e.id(e.r)); }, UNKNOWN, {"$Number_expected"}},
        // Comparisons
        {"x < 2.5", [](Env& e) { return e.lt(e.id(e.x), e.dbl(2.5)); }, INVARIANT, {}},
        {"x > 2.5", [](Env& e) { return e.bin(GREATER, e.id(e.x), e.dbl(2.5)); }, BOOL, {}},
        {"x >= 2.5", [](Env& e) { return e.bin(GREATER_EQUAL, e.id(e.x), e.dbl(2.5)); }, BOOL, {}},
        {"x == 2.5", [](Env& e) { return e.bin(EQUAL, e.id(e.x), e.dbl(2.5)); }, BOOL, {}},
        {"x == y", [](Env& e) { return e.bin(EQUAL, e.id(e.x), e.id(e.y)); }, GUARD, {}},
        {"x == 5", [](Env& e) { return e.bin(EQUAL, e.id(e.x), e.num(5)); }, GUARD, {}},
        {"x != y", [](Env& e) { return e.bin(NOT_EQUAL, e.id(e.x), e.id(e.y)); }, CONSTRAINT, {}},
        {"x != 5", [](Env& e) { return e.bin(NOT_EQUAL, e.id(e.x), e.num(5)); }, CONSTRAINT, {}},
        {"5 < x", [](Env& e) { return e.lt(e.num(5), e.id(e.x)); }, INVARIANT, {}},
        {"x - y <= 3",
         [](Env& e) { return e.bin(LESS_EQUAL, e.bin(SUBTRACT, e.id(e.x), e.id(e.y)), e.num(3)); }, INVARIANT, {}},
        {"3 >= x - y",
         [](Env& e) { return e.bin(GREATER_EQUAL, e.num(3), e.bin(SUBTRACT, e.id(e.x), e.id(e.y))); }, INVARIANT,
         {}},
        {"true < 2", [](Env& e) { return e.lt(e.boolean(true), e.num(2)); }, BOOL, {}},
        // A clock or clock difference compared with a truth value is the clock constraint on
        // 0 or 1, whichever side the clock is on.
        {"x == true", [](Env& e) { return e.bin(EQUAL, e.id(e.x), e.boolean(true)); }, GUARD, {}},
        {"true == x", [](Env& e) { return e.bin(EQUAL, e.boolean(true), e.id(e.x)); }, GUARD, {}},
        {"x == !20", [](Env& e) { return e.bin(EQUAL, e.id(e.x), e.un(LOGICAL_NOT, e.num(20))); }, GUARD, {}},
        {"x == (1 > 2)", [](Env& e) { return e.bin(EQUAL, e.id(e.x), e.bin(GREATER, e.num(1), e.num(2))); }, GUARD,
         {}},
        {"x != b", [](Env& e) { return e.bin(NOT_EQUAL, e.id(e.x), e.id(e.b)); }, CONSTRAINT, {}},
        {"b != x", [](Env& e) { return e.bin(NOT_EQUAL, e.id(e.b), e.id(e.x)); }, CONSTRAINT, {}},
        {"x < true", [](Env& e) { return e.lt(e.id(e.x), e.boolean(true)); }, INVARIANT, {}},
        {"b <= x", [](Env& e) { return e.bin(LESS_EQUAL, e.id(e.b), e.id(e.x)); }, INVARIANT, {}},
        {"x > b", [](Env& e) { return e.bin(GREATER, e.id(e.x), e.id(e.b)); }, INVARIANT, {}},
        {"true >= x", [](Env& e) { return e.bin(GREATER_EQUAL, e.boolean(true), e.id(e.x)); }, INVARIANT, {}},
        {"x - y == b",
         [](Env& e) { return e.bin(EQUAL, e.bin(SUBTRACT, e.id(e.x), e.id(e.y)), e.id(e.b)); }, GUARD, {}},
        {"b > x - y",
         [](Env& e) { return e.bin(GREATER, e.id(e.b), e.bin(SUBTRACT, e.id(e.x), e.id(e.y))); }, INVARIANT, {}},
        // No difference constraint: compared as numbers.
        {"x == y - x",
         [](Env& e) { return e.bin(EQUAL, e.id(e.x), e.bin(SUBTRACT, e.id(e.y), e.id(e.x))); }, BOOL, {}},
        {"(x == 1) == true", [](Env& e) { return e.bin(EQUAL, e.bin(EQUAL, e.id(e.x), e.num(1)), e.boolean(true)); },
         UNKNOWN, {"$Type_error"}},
        {"r == r", [](Env& e) { return e.bin(EQUAL, e.id(e.r), e.id(e.r)); }, BOOL, {}},
        {"r < r", [](Env& e) { return e.lt(e.id(e.r), e.id(e.r)); }, UNKNOWN, {"$Type_error"}},
        // Arrays of clocks hold clock numbers: comparing them cell by cell would compare which
        // clocks they are.
        {"xs == xs", [](Env& e) { return e.bin(EQUAL, e.id(e.xs), e.id(e.xs)); }, UNKNOWN, {"$Type_error"}},
        {"xs != xs", [](Env& e) { return e.bin(NOT_EQUAL, e.id(e.xs), e.id(e.xs)); }, UNKNOWN, {"$Type_error"}},
        {"a == a", [](Env& e) { return e.bin(EQUAL, e.id(e.a), e.id(e.a)); }, BOOL, {}},
        // Connectives
        {"x<5 && y<3", [](Env& e) { return e.bin(LOGICAL_AND, e.lt(e.id(e.x), e.num(5)), e.lt(e.id(e.y), e.num(3))); },
         INVARIANT, {}},
        {"x<5 || y<3", [](Env& e) { return e.bin(LOGICAL_OR, e.lt(e.id(e.x), e.num(5)), e.lt(e.id(e.y), e.num(3))); },
         CONSTRAINT, {}},
        {"x<5 || b", [](Env& e) { return e.bin(LOGICAL_OR, e.lt(e.id(e.x), e.num(5)), e.id(e.b)); }, INVARIANT, {}},
        {"x<5 && y==3",
         [](Env& e) { return e.bin(LOGICAL_AND, e.lt(e.id(e.x), e.num(5)), e.bin(EQUAL, e.id(e.y), e.num(3))); },
         GUARD, {}},
        {"!(x<5)", [](Env& e) { return e.un(LOGICAL_NOT, e.lt(e.id(e.x), e.num(5))); }, CONSTRAINT, {}},
        {"!b", [](Env& e) { return e.un(LOGICAL_NOT, e.id(e.b)); }, BOOL, {}},
        {"x'==2 && x<5",
         [](Env& e) {
             return e.bin(LOGICAL_AND, e.bin(EQUAL, e.rate(e.x), e.num(2)), e.lt(e.id(e.x), e.num(5)));
         },
         RATE_INVARIANT, {}},
        {"x'==2 || b", [](Env& e) { return e.bin(LOGICAL_OR, e.bin(EQUAL, e.rate(e.x), e.num(2)), e.id(e.b)); },
         RATE_INVARIANT, {}},
        {"x'==2 || x<5",
         [](Env& e) {
             return e.bin(LOGICAL_OR, e.bin(EQUAL, e.rate(e.x), e.num(2)), e.lt(e.id(e.x), e.num(5)));
         },
         UNKNOWN, {"$Type_error"}},
        {"1.5 == c'", [](Env& e) { return e.bin(EQUAL, e.dbl(1.5), e.rate(e.c)); }, RATE_INVARIANT, {}},
        {"b xor b", [](Env& e) { return e.bin(LOGICAL_XOR, e.id(e.b), e.id(e.b)); }, BOOL, {}},
        {"(x<5) xor b", [](Env& e) { return e.bin(LOGICAL_XOR, e.lt(e.id(e.x), e.num(5)), e.id(e.b)); }, UNKNOWN,
         {"$Type_error"}},
        {"d'", [](Env& e) { return e.rate(e.d); }, UNKNOWN, {"$Type_error"}},
        {"c'", [](Env& e) { return e.rate(e.c); }, RATE, {}},
        {"x'", [](Env& e) { return e.rate(e.x); }, RATE, {}},
        {"E<> b || E<> b",
         [](Env& e) {
             return e.bin(LOGICAL_OR, e.un(EXISTS_EVENTUALLY, e.id(e.b)), e.un(EXISTS_EVENTUALLY, e.id(e.b)));
         },
         UNKNOWN, {"$Type_error"}},
        {"E<> b && E<> b",
         [](Env& e) {
             return e.bin(LOGICAL_AND, e.un(EXISTS_EVENTUALLY, e.id(e.b)), e.un(EXISTS_EVENTUALLY, e.id(e.b)));
         },
         FORMULA, {}},
        {"3 : 2", [](Env& e) { return e.bin(FRACTION, e.num(3), e.num(2)); }, FRACTION, {}},
        // Assignments and increments
        {"i = 5", [](Env& e) { return e.bin(ASSIGN, e.id(e.i), e.num(5)); }, INT, {}},
        {"x = 5", [](Env& e) { return e.bin(ASSIGN, e.id(e.x), e.num(5)); }, CLOCK, {}},
        {"i = 2.5", [](Env& e) { return e.bin(ASSIGN, e.id(e.i), e.dbl(2.5)); }, UNKNOWN, {"$Incompatible_types"}},
        {"N = 1", [](Env& e) { return e.bin(ASSIGN, e.id(e.n), e.num(1)); }, UNKNOWN,
         {"$Left_hand_side_value_expected"}},
        {"i += 1", [](Env& e) { return e.bin(ADD_ASSIGN, e.id(e.i), e.num(1)); }, INT, {}},
        {"c += 1", [](Env& e) { return e.bin(ADD_ASSIGN, e.id(e.c), e.num(1)); }, COST, {}},
        {"d += 1 is reported and still typed", [](Env& e) { return e.bin(ADD_ASSIGN, e.id(e.d), e.num(1)); }, DOUBLE,
         {"$Increment_operator_can_only_be_used_for_integers_and_cost_variables"}},
        {"N += 1 is reported and still typed", [](Env& e) { return e.bin(ADD_ASSIGN, e.id(e.n), e.num(1)); }, INT,
         {"$Left_hand_side_value_expected"}},
        {"d -= 1", [](Env& e) { return e.bin(SUBTRACT_ASSIGN, e.id(e.d), e.num(1)); }, UNKNOWN,
         {"$Non-integer_types_must_use_regular_assignment_operator"}},
        {"i++", [](Env& e) { return e.un(POST_INCREMENT, e.id(e.i)); }, INT, {}},
        {"b++", [](Env& e) { return e.un(POST_INCREMENT, e.id(e.b)); }, UNKNOWN, {"$Integer_expected"}},
        {"c++", [](Env& e) { return e.un(PRE_INCREMENT, e.id(e.c)); }, UNKNOWN, {"$Integer_expected"}},
        {"N--", [](Env& e) { return e.un(POST_DECREMENT, e.id(e.n)); }, UNKNOWN, {"$Left_hand_side_value_expected"}},
        // Inline if and comma
        {"b ? i : j", [](Env& e) { return e.tern(INLINE_IF, e.id(e.b), e.id(e.i), e.id(e.j)); }, INT, {}},
        {"d ? i : j", [](Env& e) { return e.tern(INLINE_IF, e.id(e.d), e.id(e.i), e.id(e.j)); }, UNKNOWN,
         {"$First_argument_of_inline_if_must_be_an_integer"}},
        {"b ? 1 : true", [](Env& e) { return e.tern(INLINE_IF, e.id(e.b), e.num(1), e.boolean(true)); }, INT, {}},
        {"c += 1.5 is reported and still typed", [](Env& e) { return e.bin(ADD_ASSIGN, e.id(e.c), e.dbl(1.5)); }, COST,
         {"$Increment_operator_can_only_be_used_for_integers_and_cost_variables"}},
        {"N++ names the constant", [](Env& e) { return e.un(POST_INCREMENT, e.id(e.n)); }, UNKNOWN,
         {"$Left_hand_side_value_expected"}},
        {"b ? i : x", [](Env& e) { return e.tern(INLINE_IF, e.id(e.b), e.id(e.i), e.id(e.x)); }, UNKNOWN,
         {"$Incompatible_arguments_to_inline_if"}},
        {"(i = 1, j)", [](Env& e) { return e.bin(COMMA, e.bin(ASSIGN, e.id(e.i), e.num(1)), e.id(e.j)); }, INT, {}},
        {"(j, i = 1) warns at j", [](Env& e) { return e.bin(COMMA, e.id(e.j), e.bin(ASSIGN, e.id(e.i), e.num(1))); },
         INT, {}, {"$Expression_does_not_have_any_effect"}},
        {"(x < 5, i)", [](Env& e) { return e.bin(COMMA, e.lt(e.id(e.x), e.num(5)), e.id(e.i)); }, UNKNOWN,
         {"$Incompatible_type_for_comma_expression"}},
        // Subscripts
        {"a[i]", [](Env& e) { return e.bin(ARRAY, e.id(e.a), e.id(e.i)); }, INT, {}},
        {"a[true]", [](Env& e) { return e.bin(ARRAY, e.id(e.a), e.boolean(true)); }, INT, {}},
        {"a[2.0] is reported and still typed", [](Env& e) { return e.bin(ARRAY, e.id(e.a), e.dbl(2.0)); }, INT,
         {"$Incompatible_type"}},
        {"da[b]", [](Env& e) { return e.bin(ARRAY, e.id(e.da), e.id(e.b)); }, DOUBLE, {}},
        {"i[0]", [](Env& e) { return e.bin(ARRAY, e.id(e.i), e.num(0)); }, UNKNOWN, {"$Array_expected"}},
        {"a[x] is reported and still typed", [](Env& e) { return e.bin(ARRAY, e.id(e.a), e.id(e.x)); }, INT,
         {"$Incompatible_type"}},
        {"sa[s1]", [](Env& e) { return e.bin(ARRAY, e.id(e.sa), e.id(e.s1)); }, INT, {}},
        {"sa[s2]", [](Env& e) { return e.bin(ARRAY, e.id(e.sa), e.id(e.s2)); }, UNKNOWN, {"$Incompatible_type"}},
        // An error is reported once, at the deepest node.
        {"(i + r) * 2 && b",
         [](Env& e) {
             return e.bin(LOGICAL_AND, e.bin(MULTIPLY, e.bin(ADD, e.id(e.i), e.id(e.r)), e.num(2)), e.id(e.b));
         },
         UNKNOWN, {"$Type_error"}},
        {"errors in both operands",
         [](Env& e) { return e.bin(ADD, e.bin(ADD, e.id(e.r), e.num(1)), e.un(SQRT, e.id(e.r))); }, UNKNOWN,
         {"$Type_error", "$Number_expected"}},
    };
    for (const Case& c : cases) {
        Env env;
        TypeChecker checker(env.system);
        expression_t e = c.make(env);
        bool ok = checker.annotateExpressionType(e);
        EXPECT_EQ(ok, c.expected != UNKNOWN) << c.name;
        if (c.expected != UNKNOWN) {
            EXPECT_TRUE(e.getType().isKind(c.expected)) << c.name << ": " << e.getType().toString();
        }
        EXPECT_EQ(env.errors(), c.errors) << c.name;
        EXPECT_EQ(env.warnings(), c.warnings) << c.name;
    }
}

TEST(ExpressionTyping, ErrorsAtTheDeepestNode)
{
    Env e;
    TypeChecker checker(e.system);
    expression_t inner = e.bin(ADD, e.id(e.i), e.id(e.r));
    expression_t outer = e.bin(LOGICAL_AND, e.bin(MULTIPLY, inner, e.num(2)), e.id(e.b));
    EXPECT_FALSE(checker.annotateExpressionType(outer));
    ASSERT_EQ(e.errorStarts().size(), 1u);
    EXPECT_EQ(e.errorStarts()[0], inner.getPosition().start);
    EXPECT_TRUE(outer.getType().isUnknown());

    // A failed subscript names its operand, not the whole expression.
    expression_t array = e.id(e.i);
    EXPECT_FALSE(checker.annotateExpressionType(e.bin(ARRAY, array, e.num(0))));
    EXPECT_EQ(e.errorStarts().back(), array.getPosition().start);
}

// An absent guard, invariant or update is accepted as it is.
TEST(ExpressionTyping, AbsentExpressionIsAccepted)
{
    Env e;
    TypeChecker checker(e.system);
    EXPECT_TRUE(checker.annotateExpressionType(expression_t()));
    EXPECT_EQ(e.errors(), Strings{});
}

} // namespace
} // namespace tc_test
