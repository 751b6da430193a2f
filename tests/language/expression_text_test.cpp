#include "language/expression.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <stdexcept>
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

expression_t dbl(double v)
{
    return expression_t::createDouble(v);
}

expression_t un(node_kind_t kind, const expression_t& a)
{
    return expression_t::createUnary(kind, a);
}

expression_t bin(node_kind_t kind, const expression_t& a, const expression_t& b)
{
    return expression_t::createBinary(kind, a, b);
}

expression_t tern(node_kind_t kind, const expression_t& a, const expression_t& b, const expression_t& c)
{
    return expression_t::createTernary(kind, a, b, c);
}

expression_t nary(node_kind_t kind, const std::vector<expression_t>& children)
{
    return expression_t::createNary(kind, children);
}

// Names used by the cases: integers a..d, x..z, p, N, a clock t, a record r
// with fields f and g, and a channel ch.
struct Names
{
    scope_t scope = scope_t::create();
    expression_t operator()(const char* name, node_kind_t kind = INT)
    {
        binding_t s;
        if (!scope.resolve(name, s)) {
            s = scope.addSymbol(name, prim(kind), nullptr);
        }
        return expression_t::createIdentifier(s);
    }
};

struct Case
{
    const char* name;
    expression_t e;
    std::string text;
    bool oldSyntax = false;
};

void check(const std::vector<Case>& cases)
{
    for (const Case& c : cases) {
        EXPECT_EQ(c.e.toString(c.oldSyntax), c.text) << c.name;
    }
}

} // namespace

TEST(ExpressionTextTest, PrecedenceDecidesBrackets)
{
    Names n;
    expression_t a = n("a"), b = n("b"), c = n("c"), d = n("d"), x = n("x"), y = n("y"), z = n("z");
    check({
        {"left-nested subtraction", bin(SUBTRACT, bin(SUBTRACT, a, b), c), "a - b - c"},
        {"right-nested subtraction", bin(SUBTRACT, a, bin(SUBTRACT, b, c)), "a - (b - c)"},
        {"sum times", bin(MULTIPLY, bin(ADD, a, b), c), "(a + b) * c"},
        {"times plus", bin(ADD, bin(MULTIPLY, a, b), c), "a * b + c"},
        {"right-nested assignment", bin(ASSIGN, a, bin(ASSIGN, b, c)), "a = (b = c)"},
        {"right-nested assignment, old syntax", bin(ASSIGN, a, bin(ASSIGN, b, c)), "a := (b := c)", true},
        {"compound assignment, old syntax", bin(ADD_ASSIGN, a, b), "a += b", true},
        {"negated comparison", un(LOGICAL_NOT, bin(LESS, a, b)), "!(a < b)"},
        {"list as left operand", bin(ADD, nary(LIST, {x, y}), z), "(x, y) + z"},
        {"nested inline-if", tern(INLINE_IF, c, x, tern(INLINE_IF, d, y, z)), "c ? x : (d ? y : z)"},
        {"assignment inside inline-if", tern(INLINE_IF, c, bin(ASSIGN, x, y), z), "c ? (x = y) : z"},
        {"and over or", bin(LOGICAL_AND, bin(LOGICAL_OR, a, b), c), "(a || b) && c"},
        {"comparison of sums", bin(EQUAL, bin(ADD, a, b), c), "a + b == c"},
        {"bitwise mix", bin(BITWISE_AND, bin(BITWISE_OR, a, b), bin(BITWISE_XOR, c, d)), "(a | b) & (c ^ d)"},
        {"minus of a sum", un(UNARY_MINUS, bin(ADD, a, b)), "-(a + b)"},
        {"minus of a name", un(UNARY_MINUS, a), "-a"},
        // Two minus signs in a row would read back as a decrement.
        {"minus of a minus", un(UNARY_MINUS, un(UNARY_MINUS, a)), "-(-a)"},
        {"minus of a negative constant", un(UNARY_MINUS, num(-5)), "-(-5)"},
        {"minus of a pre-decrement", un(UNARY_MINUS, un(PRE_DECREMENT, x)), "-(--x)"},
        {"minus of a negative product", un(UNARY_MINUS, bin(MULTIPLY, num(-2), a)), "-(-2 * a)"},
        {"not of a not", un(LOGICAL_NOT, un(LOGICAL_NOT, a)), "!!a"},
        {"difference with a negative operand", bin(SUBTRACT, a, un(UNARY_MINUS, b)), "a - -b"},
        {"post-increment of an element", un(POST_INCREMENT, bin(ARRAY, a, b)), "a[b]++"},
        {"pre-decrement", un(PRE_DECREMENT, x), "--x"},
        {"element of a sum", bin(ARRAY, bin(ADD, a, b), c), "(a + b)[c]"},
        {"rate", un(RATE, bin(ADD, a, b)), "a + b'"},
        {"minimum", bin(MINIMUM, a, bin(MAXIMUM, b, c)), "a <? (b >? c)"},
        {"fraction", bin(FRACTION, a, b), "a : b"},
        {"backslash", bin(BACKSLASH, a, b), "a \\ b"},
        {"shift and modulo", bin(SHIFT_LEFT, bin(MODULO, a, b), c), "a % b << c"},
        {"comma", bin(COMMA, bin(ASSIGN, a, b), bin(ASSIGN, c, d)), "a = b, c = d"},
        {"xor", bin(LOGICAL_XOR, a, bin(ADD, b, c)), "(a) xor (b + c)"},
    });
}

TEST(ExpressionTextTest, LeavesFunctionsAndStructures)
{
    Names n;
    expression_t a = n("a"), b = n("b"), x = n("x");
    scope_t fields = scope_t::create();
    fields.addSymbol("f", prim(INT), nullptr);
    fields.addSymbol("g", prim(BOOL), nullptr);
    type_t recordType = type_t::createRecord({prim(INT), prim(BOOL)}, {"f", "g"});
    expression_t r = n("r");
    r.setType(recordType);
    expression_t proc = n("P");
    proc.setType(type_t::createProcess(fields));

    expression_t boolTrue = num(1);
    boolTrue.setType(prim(BOOL));
    expression_t boolFalse = num(0);
    boolFalse.setType(prim(BOOL));

    scope_t bound = scope_t::create();
    expression_t i = expression_t::createIdentifier(
        bound.addSymbol("i", type_t::createRange(prim(INT), num(0), num(3)), nullptr));
    expression_t j = expression_t::createIdentifier(bound.addSymbol(
        "j", type_t::createPrefix(type_t::createLabel(type_t::createRange(prim(INT), num(0), num(3)), "id_t"), CONSTANT),
        nullptr));

    check({
        {"integer", num(7), "7"},
        {"negative integer", num(-12), "-12"},
        {"double", dbl(2.5), "2.500000"},
        {"tiny double keeps its digits", dbl(1e-9), "0.000000001"},
        {"boolean true", boolTrue, "true"},
        {"boolean false", boolFalse, "false"},
        {"untyped constant", expression_t(CONSTANT, span_t()), "false"},
        {"cos", un(COS, a), "cos(a)"},
        {"random", un(RANDOM, num(3)), "random(3)"},
        {"floor of sum", un(FLOOR, bin(ADD, a, b)), "floor(a + b)"},
        {"pow", bin(POW, a, b), "pow(a,b)"},
        {"call", nary(FUNCTION_CALL, {n("f"), a, num(1)}), "f(a, 1)"},
        {"call without arguments", nary(FUNCTION_CALL, {n("f")}), "f()"},
        {"record field", expression_t::createDot(r, 1), "r.g"},
        {"process member", expression_t::createDot(proc, 0), "P.f"},
        {"dot on a plain int prints nothing", expression_t::createDot(x, 0), ""},
        {"send", expression_t::createSync(n("ch", CHANNEL), 1), "ch!"},
        {"receive", expression_t::createSync(n("ch", CHANNEL), 0), "ch?"},
        {"neither", expression_t::createSync(bin(ARRAY, n("ch", CHANNEL), a), 2), "ch[a]"},
        {"deadlock", expression_t::createDeadlock(), "deadlock"},
        {"or list", nary(OR_LIST, {a, b, x}), "(a || b || x)"},
        {"and list", nary(AND_LIST, {a, b}), "(a && b)"},
        {"plus list", nary(PLUS_LIST, {a, b}), "(a + b)"},
        {"empty list", nary(LIST, {}), ""},
        // The bound variable's type as a declaration writes it, so that the text reads back.
        {"forall", bin(FOR_ALL, i, bin(LESS, i, a)), "forall (i:int[0,3]) i < a"},
        {"sum", bin(SUM, i, i), "sum (i:int[0,3]) i"},
        {"exists over a named type", bin(EXISTS, j, j), "exists (j:const id_t) j"},
        {"identifier without symbol", expression_t::createIdentifier(binding_t()), "<unbound>"},
        // Written as the model language writes them, so that a saved update reads back.
        {"spawn", nary(SPAWN, {n("T"), a, num(2)}), "spawn T(a, 2)"},
        {"spawn without arguments", nary(SPAWN, {n("T")}), "spawn T()"},
        {"exit", expression_t::createExit(), "exit()"},
        {"numof", un(NUMOF, n("T")), "numof(T)"},
        {"dynamic member", bin(DYNAMIC_MEMBER, x, n("q")), "q.x"},
        {"exists dynamic", tern(EXISTS_DYNAMIC, n("q"), n("T"), bin(GREATER, a, num(0))),
         "exists (q : T )( a > 0)"},
        {"foreach dynamic", tern(FOREACH_DYNAMIC, n("q"), n("T"), a), "foreach (q : T )( a)"},
        {"empty expression", expression_t(), ""},
    });

    std::ostringstream os;
    os << bin(ASSIGN, a, b);
    EXPECT_EQ(os.str(), "a = b"); // the stream always uses the new syntax
}

TEST(ExpressionTextTest, QueryForms)
{
    Names n;
    expression_t p = n("p"), q = n("q"), x = n("x"), y = n("y"), t = n("t", CLOCK);
    auto nary4 = [](node_kind_t k, expression_t a, expression_t b, expression_t c, expression_t d) {
        return expression_t::createNary(k, {a, b, c, d});
    };
    expression_t truth = num(1);
    truth.setType(prim(BOOL));
    expression_t prDiamond = nary4(PROBABILITY_DIAMOND_AT_LEAST, num(1), num(100), p, dbl(0.5));
    // Fixed-size kinds take their children whatever value the node holds.
    ASSERT_EQ(prDiamond.getSize(), 4u);
    check({
        {"probability at least", prDiamond, "Pr[<=100](<> p) >= 0.500000"},
        {"probability at least, steps", nary4(PROBABILITY_DIAMOND_AT_LEAST, num(0), num(100), p, dbl(0.5)),
         "Pr[#<=100](<> p) >= 0.500000"},
        {"probability box", nary4(PROBABILITY_BOX_AT_LEAST, t, num(20), p, dbl(0.25)),
         "Pr[t<=20]([] p) >= 0.250000"},
        // Estimates: the bound's kind, the condition (true when none), the bound, the goal.
        {"probability estimate", nary4(PROBABILITY_BOX_ESTIMATE, num(1), truth, num(100), p),
         "Pr[<=100]([] p) ?"},
        {"probability estimate diamond", nary4(PROBABILITY_DIAMOND_ESTIMATE, num(0), truth, num(5), p),
         "Pr[#<=5](<> p) ?"},
        {"probability estimate until", nary4(PROBABILITY_DIAMOND_ESTIMATE, t, q, num(5), p),
         "Pr[t<=5](q U p) ?"},
        {"probability comparison",
         nary(PROBABILITY_COMPARE, {num(1), num(10), num(BOX_MARKER), p, num(0), num(5), num(DIAMOND_MARKER), q}),
         "Pr[<=10]([] p) >= Pr[#<=5](<> q)"},
        {"expected maximum", nary(EXPECTED_VALUE, {num(1), num(100), num(50), x, num(1)}),
         "E[<=100; 50] (max: x)"},
        {"expected minimum", nary(EXPECTED_VALUE, {num(1), num(100), num(50), x, num(0)}),
         "E[<=100; 50] (min: x)"},
        {"simulate", nary(SIMULATE, {num(10), num(1), num(100), x, y}), "simulate[10x <=100]{x, y}"},
        {"simulate without series", nary(SIMULATE, {num(10), num(1), num(100)}), "simulate[10x <=100]{}"},
        {"simulate accepting", nary(SIMULATE_ACCEPTING, {num(10), t, num(100), x, y, p, num(3)}),
         "simulate[10x t<=100]{x, y} : 3 : p"},
        {"exists eventually", un(EXISTS_EVENTUALLY, p), "E<> p"},
        {"exists globally", un(EXISTS_GLOBALLY, p), "E[] p"},
        {"always eventually", un(ALWAYS_EVENTUALLY, p), "A<> p"},
        {"always globally", un(ALWAYS_GLOBALLY, bin(LESS_EQUAL, x, num(3))), "A[] x <= 3"},
        {"robust always", un(ROBUST_ALWAYS_GLOBALLY, p), "A[]* p"},
        {"robust exists", un(ROBUST_EXISTS_EVENTUALLY, p), "E<>* p"},
        {"leads to", bin(LEADS_TO, p, q), "p --> q"},
        {"until", bin(ALWAYS_UNTIL, p, q), "A[p U q] "},
        {"weak until", bin(ALWAYS_WEAK_UNTIL, p, q), "A[p W q] "},
        {"buchi", bin(ALWAYS_GLOBALLY_AND_EVENTUALLY, p, q), "A[] ((p) and A<> q) "},
        {"supremum", bin(SUPREMUM, p, x), "sup{p}: x"},
        {"infimum", bin(INFIMUM, p, nary(LIST, {x, y})), "inf{p}: x, y"},
        {"control", un(CONTROL, un(ALWAYS_EVENTUALLY, p)), "control: A<> p"},
        {"exists control", un(EXISTS_EVENTUALLY_CONTROL, p), "E<> control: p"},
        {"control t*", un(CONTROL_T_STAR_0, p), "control_t*: p"},
        {"control t* 1", bin(CONTROL_T_STAR_1, x, p), "control_t*(x): p"},
        {"control t* 2", tern(CONTROL_T_STAR_2, x, y, p), "control_t*(x,y): p"},
        {"set control", bin(SET_CONTROL, x, p), "{ x} control: p"},
        {"bounded control", tern(BOUNDED_CONTROL, num(1), num(10), p), "control[<=10]: p"},
        {"consistency with default", bin(CONSISTENCY, p, un(ALWAYS_GLOBALLY, num(1))), "consistency: p"},
        {"consistency", bin(CONSISTENCY, p, un(ALWAYS_GLOBALLY, q)), "consistency: p : A[] q"},
        {"braced pair", bin(BRACED_PAIR, x, y), "{x}{y}"},
        {"implementation", un(IMPLEMENTATION, p), "implementation: p"},
        {"speci" "fication", un(SPECIFICATION, p), "speci" "fication: p"},
        {"simulation less", bin(SIMULATION_LESS_EQUAL, p, q), "simulation: p <= {q}"},
        {"simulation greater", bin(SIMULATION_GREATER_EQUAL, p, q), "simulation: {p} >= q"},
        {"refinement less", bin(REFINEMENT_LESS_EQUAL, p, q), "refinement: p <= q"},
        {"refinement greater", bin(REFINEMENT_GREATER_EQUAL, p, q), "refinement: p >= q"},
        {"mitl", un(MITL_FORMULA, nary4(MITL_UNTIL, un(MITL_ATOM, p), num(0), num(5), un(MITL_ATOM, q))),
         "MITL: pU[0;5]q"},
        {"mitl release", nary4(MITL_RELEASE, un(MITL_ATOM, p), num(1), num(4), un(MITL_ATOM, q)), "pR[1;4]q"},
        {"mitl and or next", bin(MITL_AND, un(MITL_ATOM, p), bin(MITL_OR, un(MITL_NEXT, un(MITL_ATOM, q)), p)),
         "p/\\X(q)\\/p"},
    });
}

TEST(ExpressionTextTest, LargeDoublesAreWrittenInFull)
{
    // Texts are written back into saved models, so no digit may be cut.
    for (double v : {1e56, 1e60, -3.5e200, 1.7976931348623157e308}) {
        std::string text = dbl(v).toString();
        EXPECT_EQ(text, std::to_string(v)) << v;
        EXPECT_GT(text.size(), 63u);
        EXPECT_EQ(std::stod(text), v);
    }
    expression_t pr = expression_t::createNary(PROBABILITY_DIAMOND_AT_LEAST,
                                               {num(1), num(100), num(1), dbl(1e70)});
    EXPECT_EQ(pr.toString(), "Pr[<=100](<> 1) >= " + std::to_string(1e70));
}

TEST(ExpressionTextTest, DoublesWithMoreThanSixDecimalsKeepThem)
{
    // Six decimals when they are exact; otherwise as many as the value needs to read back.
    struct Case
    {
        double value;
        const char* text;
    };
    const Case cases[] = {
        {0.5, "0.500000"}, {-2.25, "-2.250000"}, {0.1, "0.100000"}, {0.0001234, "0.0001234"},
        {1e-9, "0.000000001"}, {-7.0000005, "-7.0000005"}, {1.0 / 3.0, nullptr}, {4.9e-324, nullptr},
    };
    for (const Case& c : cases) {
        std::string text = dbl(c.value).toString();
        if (c.text != nullptr) {
            EXPECT_EQ(text, c.text) << c.value;
        }
        EXPECT_EQ(std::strtod(text.c_str(), nullptr), c.value) << text;
        EXPECT_EQ(text.find('e'), std::string::npos) << text;
    }
}

TEST(ExpressionTextTest, Failures)
{
    Names n;
    auto message = [](const expression_t& e) {
        try {
            (void)e.toString();
        } catch (const std::runtime_error& error) {
            return std::string(error.what());
        }
        return std::string("no failure");
    };
    expression_t forallDynamic = tern(MITL_FORALL_DYNAMIC, n("q"), n("T"), n("p"));
    struct Case
    {
        const char* name;
        expression_t e;
        const char* message;
    };
    const std::vector<Case> cases = {
        {"kind without precedence", forallDynamic, "Strange expression"},
        {"deep inside a tree", bin(ADD, num(1), un(NUMOF, forallDynamic)), "Strange expression"},
        {"marker", expression_t(BOX_MARKER, span_t()), "Strange expression"},
        {"type kind", expression_t(INT, span_t()), "Strange expression"},
        {"value past the enumeration", expression_t(static_cast<node_kind_t>(200), span_t()), "Strange expression"},
        {"scenario", un(SCENARIO, n("s")), "Strange exception"},
        {"observer leads-to", bin(OBSERVER_LEADS_TO, n("p"), n("q")), "Strange exception"},
        {"process variable", expression_t(PROCESS_VARIABLE, span_t()), "Strange exception"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(message(c.e), c.message) << c.name;
    }
    EXPECT_EQ(kindPrecedence(SYNC), 0);
    EXPECT_EQ(kindPrecedence(LIST), -1);
    EXPECT_EQ(kindPrecedence(SIMULATE), 50);
    EXPECT_THROW(kindPrecedence(SMC_UNARY_QUERY), std::runtime_error);
}
