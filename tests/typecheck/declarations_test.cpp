#include <functional>

#include <gtest/gtest.h>

#include "fixture.h"
#include "language/statement.h"
#include "language/walk.h"
#include "typecheck/type_checker.h"

namespace tc_test {
namespace {

using Strings = std::vector<std::string>;

TEST(DeclaredTypes, PrefixesArraysRangesAndRecords)
{
    struct Case
    {
        const char* name;
        std::function<type_t(Fixture&)> make;
        Strings errors;
    };
    const Case cases[] = {
        {"array over a range", [](Fixture& f) { return f.array(f.prim(INT), 3); }, {}},
        {"const array of ints", [](Fixture& f) { return f.prefix(CONSTANT, f.array(f.prim(INT), 3)); }, {}},
        {"array over a scalarset",
         [](Fixture& f) { return type_t::createArray(f.prim(INT), f.scalarset("s_t", 2), f.span()); }, {}},
        {"array whose size is not a range",
         [](Fixture& f) { return type_t::createArray(f.prim(INT), f.prim(INT), f.span()); }, {"$Invalid_array_size"}},
        {"int[0,M] for a variable M",
         [](Fixture& f) { return f.rangeOver(f.prim(INT), f.num(0), f.id(f.global("M", f.prim(INT)))); },
         {"$Must_be_computable_at_compile_time"}},
        {"int[0,1.5]", [](Fixture& f) { return f.rangeOver(f.prim(INT), f.num(0), f.dbl(1.5)); }, {"$Integer_expected"}},
        {"double[0,1]", [](Fixture& f) { return f.rangeOver(f.prim(DOUBLE), f.num(0), f.num(1)); },
         {"$Range_over_this_type_not_allowed"}},
        {"const clock", [](Fixture& f) { return f.prefix(CONSTANT, f.prim(CLOCK)); },
         {"$Prefix_const_not_allowed_for_clocks", "$This_type_cannot_be_declared_const_or_meta"}},
        {"meta clock", [](Fixture& f) { return f.prefix(META, f.prim(CLOCK)); },
         {"$Prefix_meta_not_allowed_for_clocks", "$This_type_cannot_be_declared_const_or_meta"}},
        {"const chan", [](Fixture& f) { return f.prefix(CONSTANT, f.prim(CHANNEL)); },
         {"$This_type_cannot_be_declared_const_or_meta"}},
        {"hybrid clock x[3]", [](Fixture& f) { return f.prefix(HYBRID, f.array(f.prim(CLOCK), 3)); }, {}},
        {"hybrid int", [](Fixture& f) { return f.prefix(HYBRID, f.prim(INT)); }, {"$Prefix_hybrid_only_allowed_for_clocks"}},
        {"urgent chan", [](Fixture& f) { return f.prefix(URGENT, f.prim(CHANNEL)); }, {}},
        {"urgent broadcast chan",
         [](Fixture& f) { return f.prefix(URGENT, f.prefix(BROADCAST, f.prim(CHANNEL))); }, {}},
        {"urgent location", [](Fixture& f) { return f.prefix(URGENT, f.prim(LOCATION)); }, {}},
        {"committed location", [](Fixture& f) { return f.prefix(COMMITTED, f.prim(LOCATION)); }, {}},
        {"urgent int", [](Fixture& f) { return f.prefix(URGENT, f.prim(INT)); },
         {"$Prefix_urgent_only_allowed_for_locations_and_channels"}},
        {"committed chan", [](Fixture& f) { return f.prefix(COMMITTED, f.prim(CHANNEL)); },
         {"$Prefix_committed_only_allowed_for_locations"}},
        {"broadcast int", [](Fixture& f) { return f.prefix(BROADCAST, f.prim(INT)); },
         {"$Prefix_broadcast_only_allowed_for_channels"}},
        {"references to value types",
         [](Fixture& f) {
             return f.record({f.prefix(REF, f.prim(BOOL)), f.prefix(REF, f.array(f.prim(INT), 2))}, {"p", "q"});
         },
         {}},
        {"reference to a double", [](Fixture& f) { return f.prefix(REF, f.prim(DOUBLE)); }, {}},
        {"reference to a scalarset", [](Fixture& f) { return f.prefix(REF, f.scalarset("s_t", 2)); }, {}},
        {"reference to a location", [](Fixture& f) { return f.prefix(REF, f.prim(LOCATION)); },
         {"$Reference_to_this_type_not_allowed"}},
        {"record with a double field", [](Fixture& f) { return f.record({f.prim(INT), f.prim(DOUBLE)}, {"a", "d"}); },
         {"$This_type_cannot_be_declared_inside_a_struct"}},
        {"record with a clock field", [](Fixture& f) { return f.record({f.prim(CLOCK)}, {"c"}); },
         {"$This_type_cannot_be_declared_const_or_meta"}},
        {"nested records of integers",
         [](Fixture& f) {
             return f.record({f.record({f.range(0, 3), f.prim(BOOL)}, {"a", "b"}), f.array(f.prim(INT), 2)},
                             {"inner", "list"});
         },
         {}},
    };
    for (const Case& c : cases) {
        Fixture f;
        TypeChecker checker(f.system);
        type_t t = c.make(f);
        checker.validateDeclaredType(t, false, false);
        EXPECT_EQ(f.errors(), c.errors) << c.name;
    }
}

TEST(DeclaredTypes, ErrorsArePlacedAtTheOffendingTypeNode)
{
    Fixture f;
    TypeChecker checker(f.system);
    type_t clock = f.prim(CLOCK);
    type_t constClock = f.prefix(CONSTANT, clock);
    checker.validateDeclaredType(constClock, false, false);
    EXPECT_EQ(f.errorStarts(), (std::vector<int32_t>{constClock.getPosition().start, clock.getPosition().start}));
}

// A brace list as the parser builds it: its type is a record whose labels carry the
// names the elements were written with.
expression_t braceList(Fixture& f, const std::vector<std::pair<std::string, expression_t>>& elements)
{
    std::vector<expression_t> children;
    std::vector<type_t> types;
    std::vector<std::string> names;
    for (const auto& [name, element] : elements) {
        children.push_back(element);
        types.push_back(element.getType());
        names.push_back(name);
    }
    return f.nary(LIST, children, type_t::createRecord(types, names));
}

TEST(Initialisers, RebuiltIntoTheDeclaredShape)
{
    struct Case
    {
        const char* name;
        std::function<type_t(Fixture&)> type;
        std::function<expression_t(Fixture&)> init;
        Strings errors;
        int slots;   // children of the rebuilt list; -1: the initialiser is kept
    };
    auto abc = [](Fixture& f) { return f.record({f.prim(INT), f.prim(INT), f.prim(INT)}, {"a", "b", "c"}); };
    const Case cases[] = {
        {"{1, 2, 3}", abc, [](Fixture& f) { return braceList(f, {{"", f.num(1)}, {"", f.num(2)}, {"", f.num(3)}}); },
         {}, 3},
        {"{b: 2, 3}", abc, [](Fixture& f) { return braceList(f, {{"b", f.num(2)}, {"", f.num(3)}}); },
         {"$Incomplete_initialiser"}, 3},
        {"{a: 1, a: 2, 3, 4}", abc,
         [](Fixture& f) {
             return braceList(f, {{"a", f.num(1)}, {"a", f.num(2)}, {"", f.num(3)}, {"", f.num(4)}});
         },
         {"$Multiple_initialisers_for_field"}, 3},
        {"{1, 2, 3, 4}", abc,
         [](Fixture& f) { return braceList(f, {{"", f.num(1)}, {"", f.num(2)}, {"", f.num(3)}, {"", f.num(4)}}); },
         {"$Too_many_elements_in_initialiser"}, 3},
        {"{d: 1}", abc, [](Fixture& f) { return braceList(f, {{"d", f.num(1)}}); },
         {"$Unknown_field", "$Incomplete_initialiser"}, 3},
        {"array {1, 2} of three", [](Fixture& f) { return f.array(f.prim(INT), 3); },
         [](Fixture& f) { return braceList(f, {{"", f.num(1)}, {"", f.num(2)}}); }, {}, 2},
        {"array {a: 1}", [](Fixture& f) { return f.array(f.prim(INT), 3); },
         [](Fixture& f) { return braceList(f, {{"a", f.num(1)}}); }, {"$Field_name_not_allowed_in_array_initialiser"}, 1},
        {"double = 5", [](Fixture& f) { return f.prim(DOUBLE); }, [](Fixture& f) { return f.num(5); },
         {"$Invalid_initialiser"}, -1},
        {"clock = 5", [](Fixture& f) { return f.prim(CLOCK); }, [](Fixture& f) { return f.num(5); },
         {"$Invalid_initialiser"}, -1},
        {"clock = 2.5", [](Fixture& f) { return f.prim(CLOCK); }, [](Fixture& f) { return f.dbl(2.5); }, {}, -1},
        {"int[0,3] = 7", [](Fixture& f) { return f.range(0, 3); }, [](Fixture& f) { return f.num(7); }, {}, -1},
        {"int = {1}", [](Fixture& f) { return f.prim(INT); }, [](Fixture& f) { return braceList(f, {{"", f.num(1)}}); },
         {"$Too_many_elements_in_initialiser"}, 0},
        {"record from another record", abc,
         [](Fixture& f) { return f.id(f.global("other", f.record({f.prim(INT)}, {"z"}))); },
         {"$Incomplete_initialiser"}, 3},
    };
    for (const Case& c : cases) {
        Fixture f;
        TypeChecker checker(f.system);
        type_t type = c.type(f);
        expression_t init = c.init(f);
        expression_t result = checker.validateInitialiser(type, init);
        EXPECT_EQ(f.errors(), c.errors) << c.name;
        if (c.slots < 0) {
            EXPECT_TRUE(result == init) << c.name;
            continue;
        }
        ASSERT_EQ(result.getKind(), LIST) << c.name;
        EXPECT_EQ(result.getSize(), static_cast<size_t>(c.slots)) << c.name;
        EXPECT_TRUE(result.getType() == type) << c.name;
        EXPECT_EQ(result.getPosition(), init.getPosition()) << c.name;
    }
}

TEST(Initialisers, NamedElementsLandInTheirFields)
{
    Fixture f;
    TypeChecker checker(f.system);
    type_t abc = f.record({f.prim(INT), f.prim(INT), f.prim(INT)}, {"a", "b", "c"});
    expression_t two = f.num(2), three = f.num(3);
    expression_t result = checker.validateInitialiser(abc, braceList(f, {{"b", two}, {"", three}}));
    ASSERT_EQ(result.getSize(), 3u);
    EXPECT_TRUE(result.getChild(0).empty());
    EXPECT_TRUE(result.getChild(1) == two);
    EXPECT_TRUE(result.getChild(2) == three);

    // Nested lists are rebuilt level by level.
    type_t pairs = f.array(f.record({f.prim(INT), f.prim(INT)}, {"p", "q"}), 2);
    expression_t nested = braceList(f, {{"", braceList(f, {{"", f.num(1)}, {"q", f.num(2)}})},
                                        {"", braceList(f, {{"q", f.num(4)}, {"p", f.num(3)}})}});
    result = checker.validateInitialiser(pairs, nested);
    EXPECT_EQ(f.errors(), Strings{"$Incomplete_initialiser"});
    ASSERT_EQ(result.getSize(), 2u);
    EXPECT_EQ(result.getChild(1).getChild(0).getValue(), 3);
    EXPECT_TRUE(result.getChild(1).getType().isKind(RECORD));
}

// A global function `int f()` returning the given expression.
function_t& addFunction(Fixture& f, const std::string& name, expression_t returned)
{
    function_t* function = nullptr;
    f.system.getGlobals().addFunction(type_t::createFunction(f.prim(INT), {}, {}), name, function);
    function->body = new BlockStatement(scope_t::createSubScope(f.system.getGlobals().frame));
    function->body->push(new ReturnStatement(returned));
    return *function;
}

expression_t call(Fixture& f, function_t& function)
{
    return f.nary(FUNCTION_CALL, {f.id(function.symbol)}, f.prim(INT));
}

TEST(CompileTimeValues, RangeBoundsAndInitialisers)
{
    struct Case
    {
        const char* name;
        std::function<void(Fixture&)> build;
        Strings errors;
    };
    const Case cases[] = {
        {"const bound", [](Fixture& f) {
             binding_t n = f.global("N", f.prefix(CONSTANT, f.prim(INT)), f.num(5));
             f.global("v", f.rangeOver(f.prim(INT), f.num(0), f.id(n)));
         }, {}},
        {"variable bound", [](Fixture& f) {
             binding_t m = f.global("M", f.prim(INT), f.num(5));
             f.global("v", f.rangeOver(f.prim(INT), f.num(0), f.id(m)));
         }, {"$Must_be_computable_at_compile_time"}},
        {"bound calling a function that reads constants", [](Fixture& f) {
             binding_t n = f.global("N", f.prefix(CONSTANT, f.prim(INT)), f.num(5));
             function_t& g = addFunction(f, "g", f.bin(ADD, f.id(n), f.num(1)));
             f.global("v", f.rangeOver(f.prim(INT), f.num(0), call(f, g)));
         }, {}},
        {"bound calling a function that reads a variable", [](Fixture& f) {
             binding_t m = f.global("M", f.prim(INT));
             function_t& g = addFunction(f, "g", f.id(m));
             f.global("v", f.rangeOver(f.prim(INT), f.num(0), call(f, g)));
         }, {"$Must_be_computable_at_compile_time"}},
        {"initialiser reading a variable", [](Fixture& f) {
             binding_t m = f.global("M", f.prim(INT));
             f.global("v", f.prim(INT), f.id(m));
         }, {"$Must_be_computable_at_compile_time"}},
        {"initialiser reading a constant", [](Fixture& f) {
             binding_t n = f.global("N", f.prefix(CONSTANT, f.prim(INT)), f.num(5));
             f.global("v", f.prim(INT), f.id(n));
         }, {}},
        {"initialiser that spawns", [](Fixture& f) {
             template_t& t = f.system.addDynamicTemplate("D", scope_t());
             binding_t v = f.global("w", f.prim(INT));
             expression_t spawn = f.nary(SPAWN, {f.id(t.symbol)});
             f.global("v", f.prim(INT), f.bin(ADD, spawn, f.un(POST_INCREMENT, f.id(v))));
         }, {"Dynamic constructions cannot be used as initialisers"}},
        {"declaration without initialiser", [](Fixture& f) { f.global("v", f.range(0, 3)); }, {}},
    };
    for (const Case& c : cases) {
        Fixture f;
        c.build(f);
        TypeChecker checker(f.system);
        visitSystem(f.system, checker);
        EXPECT_EQ(f.errors(), c.errors) << c.name;
    }
}

TEST(CompileTimeValues, RandomDrawsAndParameters)
{
    Fixture f;
    binding_t n = f.global("N", f.prefix(CONSTANT, f.prim(INT)), f.num(5));
    scope_t parameters = scope_t::create();
    binding_t constInt = parameters.addSymbol("n", f.prefix(CONSTANT, f.prim(INT)), nullptr);
    binding_t ref = parameters.addSymbol("r", f.prefix(REF, f.prim(INT)), nullptr);
    binding_t constDouble = parameters.addSymbol("d", f.prefix(CONSTANT, f.prim(DOUBLE)), nullptr);
    template_t& t = f.system.addTemplate("P", parameters, true, "", "");
    binding_t local = f.system.addVariable(t.declarations, f.prefix(CONSTANT, f.prim(INT)), "k", f.num(1)).symbol;
    TypeChecker checker(f.system);

    struct Case
    {
        const char* name;
        expression_t e;
        bool computable;
    };
    const Case cases[] = {
        {"literal", f.num(3), true},
        {"global constant", f.id(n), true},
        {"template constant", f.id(local), true},
        {"const int parameter", f.id(constInt), true},
        {"reference parameter", f.id(ref), false},
        {"const double parameter", f.id(constDouble), false},
        {"random(3)", f.un(RANDOM, f.num(3)), false},
        {"1 + random(N)", f.bin(ADD, f.num(1), f.un(RANDOM, f.id(n))), false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(checker.computableAtCompileTime(c.e), c.computable) << c.name;
    }

    // A template parameter sizes an array only when it is a constant value.
    f.system.addVariable(t.declarations, f.array(f.prim(INT), 1), "ok", {});
    f.system.addVariable(t.declarations, f.rangeOver(f.prim(INT), f.num(0), f.id(ref)), "bad", {});
    TypeChecker second(f.system);
    visitSystem(f.system, second);
    EXPECT_EQ(f.errors(), Strings{"$Must_be_computable_at_compile_time"});
}

TEST(Instantiation, ArgumentsForReferenceAndValueParameters)
{
    struct Case
    {
        const char* name;
        node_kind_t parameter;   // REF, INT, or CONSTANT for a constant reference
        std::function<expression_t(Fixture&)> argument;
        Strings errors;
    };
    auto global = [](Fixture& f, const char* name) { return f.id(name); };
    const Case cases[] = {
        {"ref: variable", REF, [&](Fixture& f) { return global(f, "x"); }, {}},
        {"ref: element at a literal", REF, [&](Fixture& f) { return f.bin(ARRAY, global(f, "a"), f.num(1)); }, {}},
        {"ref: element at a constant", REF, [&](Fixture& f) { return f.bin(ARRAY, global(f, "a"), global(f, "N")); },
         {}},
        {"ref: record field",
         REF, [&](Fixture& f) { return expression_t::createDot(global(f, "r"), 0, f.span(), f.prim(INT)); }, {}},
        {"ref: element at a variable", REF, [&](Fixture& f) { return f.bin(ARRAY, global(f, "a"), global(f, "x")); },
         {"$Incompatible_argument"}},
        {"ref: conditional", REF,
         [&](Fixture& f) { return f.tern(INLINE_IF, global(f, "b"), global(f, "x"), global(f, "x")); },
         {"$Incompatible_argument"}},
        {"ref: post-increment", REF, [&](Fixture& f) { return f.un(POST_INCREMENT, global(f, "x")); },
         {"$Argument_must_be_side-effect_free"}},
        {"ref: bool variable for an int reference", REF, [&](Fixture& f) { return global(f, "b"); },
         {"$Incompatible_argument"}},
        {"value: constant expression", INT, [&](Fixture& f) { return f.bin(ADD, global(f, "N"), f.num(1)); }, {}},
        {"value: variable", INT, [&](Fixture& f) { return global(f, "x"); }, {"$Incompatible_argument"}},
        {"const ref: variable", CONSTANT, [&](Fixture& f) { return global(f, "x"); }, {"$Incompatible_argument"}},
        {"const ref: constant", CONSTANT, [&](Fixture& f) { return global(f, "N"); }, {}},
    };
    for (const Case& c : cases) {
        Fixture f;
        f.global("N", f.prefix(CONSTANT, f.prim(INT)), f.num(1));
        f.global("x", f.prim(INT));
        f.global("b", f.prim(BOOL));
        f.global("a", f.array(f.prim(INT), 3));
        f.global("r", f.record({f.prim(INT)}, {"v"}));
        scope_t parameters = scope_t::create();
        type_t type = c.parameter == REF        ? f.prefix(REF, f.prim(INT))
                      : c.parameter == CONSTANT ? f.prefix(CONSTANT, f.prefix(REF, f.prim(INT)))
                                                : f.prim(INT);
        parameters.addSymbol("p", type, nullptr);
        template_t& t = f.system.addTemplate("P", parameters, true, "", "");
        f.system.addInstance("Q", t, scope_t(), {c.argument(f)});
        TypeChecker checker(f.system);
        visitSystem(f.system, checker);
        EXPECT_EQ(f.errors(), c.errors) << c.name;
    }
}

} // namespace
} // namespace tc_test
