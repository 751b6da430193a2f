// Checks of locations, processes, queries, quantifiers, dynamic processes and
// scenario elements on models built directly, for shapes the textual syntax does not
// reach or where the rewritten trees are inspected.

#include <functional>

#include <gtest/gtest.h>

#include "fixture.h"
#include "language/statement.h"
#include "language/walk.h"
#include "typecheck/type_checker.h"

namespace tc_test {
namespace {

using Strings = std::vector<std::string>;

TEST(Invariants, CostRatesAreSplitOff)
{
    struct Case
    {
        const char* name;
        std::function<expression_t(Fixture&, binding_t x, binding_t cost, binding_t xs)> make;
        std::string invariant;
        std::string costRate;
        Strings errors;
        bool strict, stopwatch;
    };
    auto rate = [](Fixture& f, expression_t v) { return f.un(RATE, v); };
    const Case cases[] = {
        {"x <= 5 && cost' == 2",
         [&](Fixture& f, binding_t x, binding_t c, binding_t) {
             return f.bin(LOGICAL_AND, f.bin(LESS_EQUAL, f.id(x), f.num(5)), f.bin(EQUAL, rate(f, f.id(c)), f.num(2)));
         },
         "1 && x <= 5", "2", {}, false, false},
        {"cost' == 1 && cost' == 2",
         [&](Fixture& f, binding_t, binding_t c, binding_t) {
             return f.bin(LOGICAL_AND, f.bin(EQUAL, rate(f, f.id(c)), f.num(1)),
                          f.bin(EQUAL, rate(f, f.id(c)), f.num(2)));
         },
         "1", "2", {"$Only_one_cost_rate_is_allowed"}, false, false},
        {"x < 5", [&](Fixture& f, binding_t x, binding_t, binding_t) { return f.bin(LESS, f.id(x), f.num(5)); },
         "1 && x < 5", "", {}, true, false},
        {"x' == 0", [&](Fixture& f, binding_t x, binding_t, binding_t) { return f.bin(EQUAL, rate(f, f.id(x)), f.num(0)); },
         "1 && x' == 0", "", {}, false, true},
        {"3 == cost' keeps the rate on either side",
         [&](Fixture& f, binding_t, binding_t c, binding_t) { return f.bin(EQUAL, f.num(3), rate(f, f.id(c))); }, "1",
         "3", {}, false, false},
        // A rate on either side of a disjunction is a rate of the location.
        {"x' == 0 || b",
         [&](Fixture& f, binding_t x, binding_t, binding_t) {
             binding_t b = f.global("b", f.prim(BOOL));
             return f.bin(LOGICAL_OR, f.bin(EQUAL, rate(f, f.id(x)), f.num(0)), f.id(b));
         },
         "1 && (x' == 0 || b)", "", {}, false, true},
        {"b || x' == 0",
         [&](Fixture& f, binding_t x, binding_t, binding_t) {
             binding_t b = f.global("b", f.prim(BOOL));
             return f.bin(LOGICAL_OR, f.id(b), f.bin(EQUAL, rate(f, f.id(x)), f.num(0)));
         },
         "1 && (b || x' == 0)", "", {}, false, true},
        {"forall (i : int[0,2]) xs[i]' == 0",
         [&](Fixture& f, binding_t, binding_t, binding_t xs) {
             scope_t bound = scope_t::create();
             binding_t i = bound.addSymbol("i", f.range(0, 2), nullptr);
             return f.bin(FOR_ALL, f.id(i), f.bin(EQUAL, rate(f, f.bin(ARRAY, f.id(xs), f.id(i))), f.num(0)));
         },
         "1 && (forall (i:int[0,2]) xs[i]' == 0)", "", {}, false, true},
    };
    for (const Case& c : cases) {
        Fixture f;
        binding_t x = f.global("x", f.prim(CLOCK));
        binding_t cost = f.global("cost", f.prim(COST));
        binding_t xs = f.global("xs", f.array(f.prim(CLOCK), 3));
        template_t& t = f.system.addTemplate("P", scope_t(), true, "", "");
        location_t& location = t.addLocation("A", c.make(f, x, cost, xs), expression_t());
        TypeChecker checker(f.system);
        visitSystem(f.system, checker);
        EXPECT_EQ(f.errors(), c.errors) << c.name;
        EXPECT_EQ(location.invariant.toString(), c.invariant) << c.name;
        EXPECT_EQ(location.costRate.toString(), c.costRate) << c.name;
        EXPECT_EQ(f.system.hasStrictInvariants(), c.strict) << c.name;
        EXPECT_EQ(f.system.hasStopWatches(), c.stopwatch) << c.name;
    }
}

TEST(Processes, FreeParameters)
{
    struct Case
    {
        const char* name;
        std::function<type_t(Fixture&)> type;
        bool restricted;
        Strings errors;
    };
    const std::string bounded = "$Free_process_parameters_must_be_a_bounded_integer_or_a_scalar";
    const std::string restricted =
        "$Free_process_parameters_must_not_be_used_directly_or_indirectly_in_an_array_declaration_or_select_"
        "expression";
    const Case cases[] = {
        {"int", [](Fixture& f) { return f.prim(INT); }, false, {bounded}},
        // A plain int as the builders make it: the default range bounds nothing.
        {"int with the default range", [](Fixture& f) { return f.range(-32767, 32767); }, false, {bounded}},
        {"int[0,3]", [](Fixture& f) { return f.range(0, 3); }, false, {}},
        {"scalarset", [](Fixture& f) { return f.scalarset("s_t", 2); }, false, {}},
        {"int[0,3] &", [](Fixture& f) { return f.prefix(REF, f.range(0, 3)); }, false, {bounded}},
        {"bool", [](Fixture& f) { return f.prim(BOOL); }, false, {bounded}},
        {"int[0,3] used in an array size", [](Fixture& f) { return f.range(0, 3); }, true, {restricted}},
        {"int used in an array size", [](Fixture& f) { return f.prim(INT); }, true, {bounded, restricted}},
    };
    for (const Case& c : cases) {
        Fixture f;
        scope_t parameters = scope_t::create();
        binding_t p = parameters.addSymbol("p", c.type(f), nullptr);
        template_t& t = f.system.addTemplate("P", parameters, true, "", "");
        if (c.restricted) {
            t.restrictedParameters.insert(p);
        }
        f.system.addProcess(t);
        // A process whose parameter is bound leaves nothing free.
        instance_t& bound = f.system.addInstance("Q", t, scope_t(), {f.num(1)});
        f.system.addProcess(bound);
        TypeChecker checker(f.system);
        visitSystem(f.system, checker);
        Strings errors = f.errors();
        // The bound instance may report on its argument; only the free parameter matters here.
        errors.erase(std::remove(errors.begin(), errors.end(), "$Incompatible_argument"), errors.end());
        EXPECT_EQ(errors, c.errors) << c.name;
    }
}

// A model for query tests: clocks x, y, int i, bool b, double d, a process P.
struct QueryEnv : Fixture
{
    binding_t x, y, i, b, d, p, cond;
    QueryEnv()
    {
        x = global("x", prim(CLOCK));
        y = global("y", prim(CLOCK));
        i = global("i", prim(INT));
        b = global("b", prim(BOOL));
        d = global("d", prim(DOUBLE));
        template_t& t = system.addTemplate("T", scope_t(), true, "", "");
        system.addProcess(t);
        system.getGlobals().frame.resolve("T", p);
    }
    expression_t ef(expression_t e) { return un(EXISTS_EVENTUALLY, e); }
    expression_t ag(expression_t e) { return un(ALWAYS_GLOBALLY, e); }
};

TEST(Queries, StructuralRules)
{
    struct Case
    {
        const char* name;
        std::function<expression_t(QueryEnv&)> make;
        Strings errors;
    };
    const std::string formula = "$Property_must_be_a_valid_formula";
    const std::string nesting = "$Nesting_of_path_quantifiers_is_not_allowed";
    const Case cases[] = {
        {"E<> i > 1", [](QueryEnv& q) { return q.ef(q.bin(GREATER, q.id(q.i), q.num(1))); }, {}},
        {"E<> A[] b", [](QueryEnv& q) { return q.ef(q.ag(q.id(q.b))); }, {nesting}},
        {"b --> A[] b", [](QueryEnv& q) { return q.bin(LEADS_TO, q.id(q.b), q.ag(q.id(q.b))); }, {nesting}},
        {"E<> i++ > 0 goes on after the side effect",
         [](QueryEnv& q) { return q.ef(q.bin(GREATER, q.un(POST_INCREMENT, q.id(q.i)), q.num(0))); },
         {"$Property_must_be_side-effect_free"}},
        {"double at the top", [](QueryEnv& q) { return q.id(q.d); }, {formula}},
        {"int at the top", [](QueryEnv& q) { return q.id(q.i); }, {}},
        {"bool at the top", [](QueryEnv& q) { return q.id(q.b); }, {}},
        {"typing fails: nothing more",
         [](QueryEnv& q) { return q.ef(q.bin(LOGICAL_XOR, q.bin(LESS, q.id(q.x), q.num(1)), q.id(q.b))); },
         {"$Type_error"}},
        {"statistical path formula may nest",
         [](QueryEnv& q) {
             return q.nary(PROBABILITY_DIAMOND_AT_LEAST, {q.num(1), q.num(10), q.ef(q.id(q.b)), q.dbl(0.5)});
         },
         {"$Boolean_expected"}},
        {"consistency of processes",
         [](QueryEnv& q) { return q.bin(CONSISTENCY, q.id(q.p), q.id(q.b)); }, {}},
        {"consistency of a non-process with a double formula",
         [](QueryEnv& q) { return q.bin(CONSISTENCY, q.id(q.i), q.id(q.d)); },
         {"$Process_expression_expected", formula}},
        {"dynamic MITL quantifier in a reachability query",
         [](QueryEnv& q) {
             expression_t mitl = expression_t(MITL_FORALL_DYNAMIC, q.span());
             mitl.setType(type_t::createPrimitive(BOOL));
             return q.ef(q.bin(LOGICAL_AND, q.id(q.b), mitl));
         },
         {"MITL inside forall or exists in non-MITL property"}},
        {"MITL atom of a clock constraint",
         [](QueryEnv& q) {
             return q.un(MITL_FORMULA, q.un(MITL_ATOM, q.bin(LESS, q.id(q.x), q.boolean(true))));
         },
         {}},
        {"MITL atoms of a clock, a shifted clock and a double",
         [](QueryEnv& q) {
             return q.un(MITL_FORMULA,
                         q.bin(MITL_AND, q.un(MITL_ATOM, q.id(q.x)),
                               q.bin(MITL_OR, q.un(MITL_ATOM, q.bin(ADD, q.id(q.x), q.num(1))),
                                     q.un(MITL_ATOM, q.id(q.d)))));
         },
         {"$Boolean_expected", "$Boolean_expected", "$Boolean_expected"}},
        {"control: strict upper and weak lower bounds",
         [](QueryEnv& q) {
             return q.bin(SET_CONTROL, q.nary(LIST, {}),
                          q.bin(LOGICAL_AND, q.bin(LESS, q.id(q.x), q.num(5)),
                                q.bin(GREATER_EQUAL, q.id(q.x), q.num(5))));
         },
         {}},
    };
    for (const Case& c : cases) {
        QueryEnv q;
        TypeChecker checker(q.system);
        checker.validateQuery(c.make(q));
        EXPECT_EQ(q.errors(), c.errors) << c.name;
    }
}

TEST(Queries, ControlClockBounds)
{
    const std::string weak = "$Clock_lower_bound_must_be_weak_and_upper_bound_strict";
    const std::string differences = "$Clock_differences_are_not_supported";
    struct Case
    {
        const char* name;
        node_kind_t kind;
        bool clockLeft;   // x op 5, else 5 op x
        Strings errors;
    };
    const Case cases[] = {
        {"x < 5", LESS, true, {}},          {"x >= 5", GREATER_EQUAL, true, {}},
        {"x <= 5", LESS_EQUAL, true, {weak}}, {"x > 5", GREATER, true, {weak}},
        {"5 < x", LESS, false, {weak}},       {"5 >= x", GREATER_EQUAL, false, {weak}},
        {"x == 5", EQUAL, true, {weak}},      {"x != 5", NOT_EQUAL, true, {weak}},
        {"5 > x", GREATER, false, {}},        {"5 <= x", LESS_EQUAL, false, {}},
    };
    for (const Case& c : cases) {
        QueryEnv q;
        TypeChecker checker(q.system);
        expression_t comparison = c.clockLeft ? q.bin(c.kind, q.id(q.x), q.num(5)) : q.bin(c.kind, q.num(5), q.id(q.x));
        checker.annotateExpressionType(comparison);
        checker.checkControlClockBounds(comparison);
        EXPECT_EQ(q.errors(), c.errors) << c.name;
    }
    QueryEnv q;
    TypeChecker checker(q.system);
    expression_t both = q.bin(LOGICAL_AND, q.bin(LESS, q.id(q.x), q.id(q.y)),
                              q.bin(LESS, q.bin(SUBTRACT, q.id(q.x), q.id(q.y)), q.num(3)));
    both = q.bin(LOGICAL_AND, both, q.bin(LESS, q.id(q.i), q.num(3)));
    checker.annotateExpressionType(both);
    checker.checkControlClockBounds(both);
    EXPECT_EQ(q.errors(), (Strings{differences, differences}));

    // A difference bounded by a truth value is a difference constraint all the same.
    QueryEnv t;
    TypeChecker truthChecker(t.system);
    expression_t truth = t.bin(LESS, t.bin(SUBTRACT, t.id(t.x), t.id(t.y)), t.boolean(true));
    truthChecker.annotateExpressionType(truth);
    truthChecker.checkControlClockBounds(truth);
    EXPECT_EQ(t.errors(), (Strings{differences}));
}

TEST(Queries, StatisticalAndCompositionRules)
{
    struct Case
    {
        const char* name;
        std::function<expression_t(QueryEnv&)> make;
        bool typed;
        Strings errors;
    };
    const Case cases[] = {
        {"probability bound with a clock bound symbol",
         [](QueryEnv& q) {
             return q.nary(PROBABILITY_BOX_AT_LEAST,
                           {q.id(q.x), q.num(10), q.bin(LESS, q.id(q.x), q.num(3)), q.dbl(0.9)});
         },
         true, {}},
        {"probability bound by a shifted clock",
         [](QueryEnv& q) {
             return q.nary(PROBABILITY_BOX_AT_LEAST, {q.bin(ADD, q.id(q.x), q.num(1)), q.num(10),
                                                      q.bin(LESS, q.id(q.x), q.num(3)), q.dbl(0.9)});
         },
         false, {"$Clock_expected"}},
        {"probability bound by a clock chosen by an inline if",
         [](QueryEnv& q) {
             return q.nary(PROBABILITY_BOX_AT_LEAST,
                           {q.nary(INLINE_IF, {q.id(q.b), q.id(q.x), q.id(q.y)}), q.num(10),
                            q.bin(LESS, q.id(q.x), q.num(3)), q.dbl(0.9)});
         },
         true, {}},
        {"probability bound with both faults",
         [](QueryEnv& q) {
             return q.nary(PROBABILITY_BOX_AT_LEAST, {q.id(q.i), q.id(q.i), q.id(q.b), q.dbl(0.9)});
         },
         false, {"$Clock_expected", "$Must_be_computable_at_compile_time"}},
        {"comparison with a bad second bound symbol",
         [](QueryEnv& q) {
             return q.nary(PROBABILITY_COMPARE, {q.num(1), q.num(5), q.num(0), q.id(q.b), q.id(q.i), q.num(5),
                                                 q.num(0), q.id(q.b)});
         },
         false, {"$Clock_expected"}},
        {"diamond estimate with a double condition",
         [](QueryEnv& q) {
             return q.nary(PROBABILITY_DIAMOND_ESTIMATE, {q.num(1), q.id(q.d), q.num(5), q.id(q.b)});
         },
         false, {"$Boolean_expected"}},
        {"expected value of a record count",
         [](QueryEnv& q) {
             return q.nary(EXPECTED_VALUE, {q.num(1), q.num(10), q.id(q.i), q.id(q.d), q.num(1)});
         },
         false, {"$Must_be_computable_at_compile_time"}},
        {"simulation with a double run count",
         [](QueryEnv& q) { return q.nary(SIMULATE, {q.dbl(2.0), q.num(1), q.num(10), q.id(q.i)}); }, false,
         {"$Integer_expected"}},
        {"simulation recording an assignment",
         [](QueryEnv& q) {
             return q.nary(SIMULATE, {q.num(2), q.num(1), q.num(10), q.bin(ASSIGN, q.id(q.i), q.num(1))});
         },
         false, {"$Property_must_be_side-effect_free"}},
        {"simulation with a double accepting predicate",
         [](QueryEnv& q) {
             return q.nary(SIMULATE_ACCEPTING, {q.num(2), q.num(1), q.num(10), q.id(q.i), q.id(q.d), q.num(1)});
         },
         false, {"$Boolean_expected"}},
        {"bounded control", [](QueryEnv& q) { return q.tern(BOUNDED_CONTROL, q.id(q.x), q.num(5), q.id(q.b)); }, true,
         {}},
        {"bounded control with an int bound symbol",
         [](QueryEnv& q) { return q.tern(BOUNDED_CONTROL, q.id(q.i), q.num(5), q.id(q.b)); }, false,
         {"$Clock_expected"}},
        {"sup over a clock and an int",
         [](QueryEnv& q) { return q.bin(SUPREMUM, q.id(q.b), q.nary(LIST, {q.id(q.x), q.id(q.i)})); }, true, {}},
        {"refinement between identifiers of any type",
         [](QueryEnv& q) { return q.bin(REFINEMENT_LESS_EQUAL, q.id(q.i), q.id(q.b)); }, true, {}},
        {"implementation of a non-process", [](QueryEnv& q) { return q.un(IMPLEMENTATION, q.id(q.i)); }, false,
         {"$Process_expression_expected"}},
        {"implementation of a process", [](QueryEnv& q) { return q.un(SPECIFICATION, q.id(q.p)); }, true, {}},
        {"simulation relation of a braced pair",
         [](QueryEnv& q) {
             expression_t pair = q.bin(BRACED_PAIR, q.nary(LIST, {q.id(q.p)}), q.nary(LIST, {q.id(q.i)}));
             return q.bin(SIMULATION_LESS_EQUAL, pair, q.nary(LIST, {q.id(q.p)}));
         },
         false, {"$List_of_channels_expected"}},
        {"simulation relation without a braced pair",
         [](QueryEnv& q) { return q.bin(SIMULATION_GREATER_EQUAL, q.id(q.i), q.id(q.p)); }, false,
         {"$Composition_of_processes_expected", "$Composition_of_processes_expected"}},
        {"composition of a process and a constant",
         [](QueryEnv& q) { return q.nary(AND_LIST, {q.id(q.p), q.num(1)}); }, false,
         {"$Process_expression_expected"}},
    };
    for (const Case& c : cases) {
        QueryEnv q;
        TypeChecker checker(q.system);
        expression_t e = c.make(q);
        EXPECT_EQ(checker.annotateExpressionType(e), c.typed) << c.name;
        EXPECT_EQ(q.errors(), c.errors) << c.name;
    }
}

TEST(Quantifiers, BodiesDecideTheClass)
{
    struct Case
    {
        const char* name;
        node_kind_t kind;
        std::function<expression_t(Fixture&, expression_t i)> body;
        node_kind_t expected;   // UNKNOWN: typing fails
        Strings errors;
    };
    const Case cases[] = {
        {"forall a[i] > 0", FOR_ALL, [](Fixture& f, expression_t i) { return f.bin(GREATER, f.bin(ARRAY, f.id("a"), i), f.num(0)); },
         BOOL, {}},
        {"forall xs[i] < 5", FOR_ALL, [](Fixture& f, expression_t i) { return f.bin(LESS, f.bin(ARRAY, f.id("xs"), i), f.num(5)); },
         INVARIANT, {}},
        {"exists xs[i] < 5", EXISTS, [](Fixture& f, expression_t i) { return f.bin(LESS, f.bin(ARRAY, f.id("xs"), i), f.num(5)); },
         CONSTRAINT, {}},
        {"forall a[i]++ > 0", FOR_ALL,
         [](Fixture& f, expression_t i) {
             return f.bin(GREATER, f.un(POST_INCREMENT, f.bin(ARRAY, f.id("a"), i)), f.num(0));
         },
         BOOL, {"$Expression_must_be_side-effect_free"}},
        {"sum a[i]", SUM, [](Fixture& f, expression_t i) { return f.bin(ARRAY, f.id("a"), i); }, INT, {}},
        {"sum da[i]", SUM, [](Fixture& f, expression_t i) { return f.bin(ARRAY, f.id("da"), i); }, DOUBLE, {}},
        {"sum xs[i] < 5", SUM, [](Fixture& f, expression_t i) { return f.bin(LESS, f.bin(ARRAY, f.id("xs"), i), f.num(5)); },
         UNKNOWN, {"$Number_expected", "$Type_error"}},
        {"forall E<> b", FOR_ALL, [](Fixture& f, expression_t) { return f.un(EXISTS_EVENTUALLY, f.id("b")); }, UNKNOWN,
         {"$Boolean_expected", "$Type_error"}},
    };
    for (const Case& c : cases) {
        Fixture f;
        f.global("a", f.array(f.prim(INT), 4));
        f.global("da", f.array(f.prim(DOUBLE), 4));
        f.global("xs", f.array(f.prim(CLOCK), 4));
        f.global("b", f.prim(BOOL));
        scope_t bound = scope_t::create();
        binding_t i = bound.addSymbol("i", f.range(0, 3), nullptr);
        expression_t e = f.bin(c.kind, f.id(i), c.body(f, f.id(i)));
        TypeChecker checker(f.system);
        EXPECT_EQ(checker.annotateExpressionType(e), c.expected != UNKNOWN) << c.name;
        if (c.expected != UNKNOWN) {
            EXPECT_TRUE(e.getType().isKind(c.expected)) << c.name;
        }
        EXPECT_EQ(f.errors(), c.errors) << c.name;
    }
}

TEST(DynamicProcesses, SpawnSumAndExit)
{
    Fixture f;
    binding_t i = f.global("i", f.prim(INT));
    binding_t b = f.global("b", f.prim(BOOL));
    scope_t parameters = scope_t::create();
    parameters.addSymbol("n", f.prim(INT), nullptr);
    parameters.addSymbol("m", f.prim(INT), nullptr);
    template_t& d = f.system.addDynamicTemplate("D", parameters);
    d.isDefined = true;
    binding_t y = f.system.addVariable(d.declarations, f.prim(CLOCK), "y", {}).symbol;
    binding_t v = f.system.addVariable(d.declarations, f.prim(DOUBLE), "v", {}).symbol;
    TypeChecker checker(f.system);

    // Only the first of two bad arguments is reported.
    expression_t record = f.id(f.global("r", f.record({f.prim(INT)}, {"z"})));
    expression_t spawn = f.nary(SPAWN, {f.id(d.symbol), record, f.id(f.global("w", f.record({f.prim(INT)}, {"z"})))});
    EXPECT_FALSE(checker.annotateExpressionType(spawn));
    EXPECT_EQ(f.errorStarts(), std::vector<int32_t>{record.getPosition().start});
    f.system.clearErrors();

    expression_t good = f.nary(SPAWN, {f.id(d.symbol), f.id(i), f.id(b)});
    EXPECT_TRUE(checker.annotateExpressionType(good));
    EXPECT_TRUE(good.getType().isKind(INT));

    // Dynamic sums: over conditions, over doubles, over a constraint.
    scope_t processes = scope_t::create();
    binding_t p = processes.addSymbol("p", f.prim(PROCESS_VARIABLE), nullptr);
    auto member = [&](const binding_t& m) {
        expression_t e = f.bin(DYNAMIC_MEMBER, f.id(p), f.id(m));
        e.setType(m.getType());
        return e;
    };
    expression_t guards = f.tern(SUM_DYNAMIC, f.id(p), f.id(d.symbol), f.bin(LESS, member(y), f.num(5)));
    expression_t doubles = f.tern(SUM_DYNAMIC, f.id(p), f.id(d.symbol), member(v));
    expression_t constraints = f.tern(SUM_DYNAMIC, f.id(p), f.id(d.symbol), f.bin(NOT_EQUAL, member(y), f.num(5)));
    EXPECT_TRUE(checker.annotateExpressionType(guards));
    EXPECT_TRUE(guards.getType().isKind(GUARD_SUM));
    EXPECT_TRUE(checker.annotateExpressionType(doubles));
    EXPECT_TRUE(doubles.getType().isKind(DOUBLE));
    EXPECT_FALSE(checker.annotateExpressionType(constraints));
    EXPECT_EQ(f.errors(), Strings{"A sum can only  be made over integer, double, invariant or guard expressions."});
}

// exit() examined outside every template has no template to leave: it is reported
// like an exit in an ordinary template, at its own position, instead of consulting a
// template that is not there.
TEST(DynamicProcesses, ExitOutsideAnyTemplateIsReported)
{
    Fixture f;
    template_t& d = f.system.addDynamicTemplate("D", scope_t());
    d.isDefined = true;
    expression_t exit = expression_t::createExit(f.span());
    f.system.setAfterUpdate(exit);
    TypeChecker checker(f.system);   // types the after-update outside any template
    EXPECT_EQ(f.errors(), Strings{"Exit can only be used in templates declared as dynamic"});
    EXPECT_EQ(f.errorStarts(), std::vector<int32_t>{exit.getPosition().start});

    // Inside a dynamic template the same construct is an int.
    f.system.clearErrors();
    binding_t a = d.addLocation("A", {}, {}).symbol;
    edge_t& edge = d.addEdge(a, a, 1, "");
    edge.update = expression_t::createExit(f.span());
    visitSystem(f.system, checker);
    EXPECT_TRUE(edge.update.getType().isKind(INT));
    EXPECT_EQ(f.errors(), Strings{});
}

TEST(SystemDeclarations, SynchronisationModesAndScenarioElements)
{
    Fixture f;
    binding_t c = f.global("c", f.prim(CHANNEL));
    binding_t i = f.global("i", f.prim(INT));
    binding_t x = f.global("x", f.prim(CLOCK));
    iodecl_t& both = f.system.addIODecl();
    both.instanceName = "P";
    both.inputs.push_back(f.id(c));
    both.cspChannels.push_back(f.id(c));
    iodecl_t& later = f.system.addIODecl();
    later.instanceName = "Q";
    later.outputs.push_back(f.id(i));

    template_t& chart = f.system.addTemplate("S", scope_t(), false, "", "");
    instance_line_t& line = chart.addInstanceLine();
    (void)line;
    chart.messages.emplace_back().label = expression_t::createSync(f.id(i), 1, f.span());
    chart.conditions.emplace_back().label = f.id(x);
    chart.updates.emplace_back().label = f.bin(ASSIGN, f.id(i), f.num(1));
    chart.updates.emplace_back().label = f.id(i);

    TypeChecker checker(f.system);
    visitSystem(f.system, checker);
    EXPECT_EQ(f.errors(), (Strings{"$Channel_expected",
                                   "$Expression_of_type (clock) $cannot_be_used_as_a_condition",
                                   "$CSP_and_IO_synchronisations_cannot_be_mixed",
                                   "$CSP_and_IO_synchronisations_cannot_be_mixed", "$Channel_expected"}));
    EXPECT_EQ(f.warnings(), Strings{"$Expression_does_not_have_any_effect"});
    EXPECT_EQ(f.system.syncMode, -1);
    EXPECT_TRUE(f.system.getErrors()[2].spanStart == 0 && f.system.getErrors()[2].spanEnd == INT32_MAX);

    TypeChecker clocks(f.system);
    f.system.clearErrors();
    clocks.checkClockExpression(f.id(x));
    clocks.checkClockExpression(f.id(i));
    clocks.checkClockExpression(f.bin(ASSIGN, f.id(x), f.num(0)));
    EXPECT_EQ(f.errors(), (Strings{"$Clock_expected", "$Index_must_be_side-effect_free"}));
}

TEST(Statements, IterationTypesAndRefinementWarnings)
{
    Fixture f;
    struct Case
    {
        const char* name;
        type_t type;
        Strings errors;
    };
    const Case cases[] = {
        {"int[0,3]", f.range(0, 3), {}},
        {"scalarset", f.scalarset("s_t", 2), {}},
        {"unbounded int", f.prim(INT), {"$Range_expected"}},
        {"int with the default range", f.range(-32767, 32767), {"$Range_expected"}},
        {"bool", f.prim(BOOL), {"$Scalar_set_or_integer_expected"}},
    };
    for (const Case& c : cases) {
        f.system.clearErrors();
        TypeChecker checker(f.system);
        scope_t frame = scope_t::create();
        binding_t i = frame.addSymbol("i", c.type, nullptr);
        IterationStatement loop(i, frame, new EmptyStatement());
        loop.accept(&checker);
        EXPECT_EQ(f.errors(), c.errors) << c.name;
    }

    // With refinement checking, sends should be uncontrollable, receives controllable,
    // and CSP synchronisations do not fit at all.
    Fixture g;
    binding_t c = g.global("c", g.prim(CHANNEL));
    template_t& t = g.system.addTemplate("P", scope_t(), true, "", "");
    binding_t a = t.addLocation("A", {}, {}).symbol;
    auto edge = [&](int direction, bool controllable) {
        edge_t& e = t.addEdge(a, a, controllable ? 1 : 0, "");
        e.sync = expression_t::createSync(g.id(c), direction, g.span());
    };
    edge(1, true);
    edge(1, false);
    edge(0, false);
    edge(0, true);
    TypeChecker refining(g.system, true);
    visitSystem(g.system, refining);
    EXPECT_EQ(g.warnings(), (Strings{"$Outputs_should_be_uncontrollable_for_refinement_checking",
                                     "$Inputs_should_be_controllable_for_refinement_checking"}));
    Fixture h;
    binding_t d = h.global("d", h.prim(CHANNEL));
    template_t& u = h.system.addTemplate("P", scope_t(), true, "", "");
    binding_t b = u.addLocation("A", {}, {}).symbol;
    u.addEdge(b, b, 1, "").sync = expression_t::createSync(h.id(d), 2, h.span());
    TypeChecker cspRefining(h.system, true);
    visitSystem(h.system, cspRefining);
    EXPECT_EQ(h.warnings(), Strings{"$CSP_synchronisations_are_incompatible_with_refinement_checking"});
}

TEST(SystemDeclarations, GanttChartsAndScenarioSideEffects)
{
    Fixture f;
    binding_t c = f.global("c", f.prim(CHANNEL));
    binding_t i = f.global("i", f.prim(INT));
    binding_t x = f.global("x", f.prim(CLOCK));
    binding_t d = f.global("d", f.prim(DOUBLE));
    binding_t k = f.global("k", f.array(f.prim(CHANNEL), 2));
    gantt_t chart{"G", scope_t::create(), {}};
    chart.entries.push_back({scope_t::create(), f.bin(NOT_EQUAL, f.id(x), f.num(1)), f.id(i)});
    chart.entries.push_back({scope_t::create(), f.id(d), f.num(1)});
    f.system.addGanttChart(f.system.getGlobals(), chart);

    template_t& scenario = f.system.addTemplate("S", scope_t(), false, "", "");
    scenario.messages.emplace_back().label =
        expression_t::createSync(f.bin(ARRAY, f.id(k), f.un(POST_INCREMENT, f.id(i))), 1, f.span());
    scenario.conditions.emplace_back().label = f.bin(LESS, f.un(POST_INCREMENT, f.id(i)), f.num(2));
    scenario.conditions.emplace_back().label = f.bin(LESS, f.id(x), f.num(2));
    (void)c;

    TypeChecker checker(f.system);
    visitSystem(f.system, checker);
    EXPECT_EQ(f.errors(), (Strings{"$Message_must_be_side-effect_free", "$Condition_must_be_side-effect_free",
                                   "$Boolean_expected"}));
}

} // namespace
} // namespace tc_test
