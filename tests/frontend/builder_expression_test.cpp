// Types, names, operators, calls, member access and query shapes built from the
// post-order calls a parser makes.

#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "builder_probe.h"

using namespace ZOLT;
using mirvek_test::errors;
using mirvek_test::Fixture;
using mirvek_test::ProbeBuilder;
using mirvek_test::produce;

namespace {

const std::string mitlMessage = "$MITL_formulas_can_only_be_combined_with_and,_or_and_imply";

void declareInt(ProbeBuilder& b, const char* name, int32_t init = 0, bool constant = false)
{
    b.typeInt(constant ? 1 : 0);
    b.exprNar(init);
    b.declVar(name, true);
}

void declareBoundedInt(ProbeBuilder& b, int32_t lower, int32_t upper)
{
    b.exprNar(lower);
    b.exprNar(upper);
    b.typeBoundedInt(0);
}

// x < 3, a plain state predicate.
void pushComparison(ProbeBuilder& b)
{
    b.exprId("x");
    b.exprNar(3);
    b.exprBinary(LESS);
}

// (x < 3) U[0,5] (x < 3), an MITL formula.
void pushUntil(ProbeBuilder& b)
{
    pushComparison(b);
    pushComparison(b);
    b.exprMitlUntil(0, 5);
}

std::vector<node_kind_t> kindsOf(const expression_t& e)
{
    std::vector<node_kind_t> kinds;
    for (size_t i = 0; i < e.getSize(); ++i) {
        kinds.push_back(e[i].getKind());
    }
    return kinds;
}

} // namespace

TEST(ExpressionBuilderTypes, PrefixesAndDefaultRange)
{
    struct Case
    {
        const char* name;
        std::function<void(ProbeBuilder&)> make;
        std::vector<node_kind_t> chain;   // kinds along child 0
        std::string bounds;               // "lower..upper" of a range, else empty
    };
    const std::vector<Case> cases = {
        {"int has the default range", [](ProbeBuilder& b) { b.typeInt(0); }, {RANGE, INT}, "-32767..32767"},
        {"const int has no range", [](ProbeBuilder& b) { b.typeInt(1); }, {CONST, INT}, ""},
        {"const urgent int applies no prefix", [](ProbeBuilder& b) { b.typeInt(3); }, {RANGE, INT},
         "-32767..32767"},
        {"urgent int", [](ProbeBuilder& b) { b.typeInt(2); }, {URGENT, RANGE, INT}, "-32767..32767"},
        {"urgent broadcast chan", [](ProbeBuilder& b) { b.typeChannel(6); }, {BROADCAST, URGENT, CHANNEL}, ""},
        {"broadcast chan", [](ProbeBuilder& b) { b.typeChannel(4); }, {BROADCAST, CHANNEL}, ""},
        {"meta bool", [](ProbeBuilder& b) { b.typeBool(8); }, {META, BOOL}, ""},
        {"hybrid clock", [](ProbeBuilder& b) { b.typeClock(16); }, {HYBRID, CLOCK}, ""},
        {"plain double", [](ProbeBuilder& b) { b.typeDouble(0); }, {DOUBLE}, ""},
        {"void", [](ProbeBuilder& b) { b.typeVoid(); }, {VOID_TYPE}, ""},
        {"bounded int", [](ProbeBuilder& b) { declareBoundedInt(b, 1, 4); }, {RANGE, INT}, "1..4"},
    };
    for (const auto& c : cases) {
        Fixture f;
        c.make(f.builder);
        ASSERT_EQ(f.builder.typeFragments.size(), 1u) << c.name;
        type_t t = f.builder.topType();
        std::vector<node_kind_t> chain;
        for (type_t u = t; !u.isUnknown(); u = u.getSize() > 0 ? u.getChild(0) : type_t()) {
            chain.push_back(u.getKind());
        }
        EXPECT_EQ(chain, c.chain) << c.name;
        auto [lower, upper] = t.getRangeBounds();
        EXPECT_EQ(lower.empty() ? "" : lower.toString() + ".." + upper.toString(), c.bounds) << c.name;
    }
}

TEST(ExpressionBuilderTypes, ScalarSetsAreNumberedAndTemplateLocalOnesRestrictTheirBounds)
{
    Fixture f;
    auto& b = f.builder;
    declareInt(b, "M", 2, true);
    b.typeInt(1);
    b.exprId("M");
    b.declVar("N", true);   // const int N = M;

    b.exprNar(3);
    b.typeScalar(0);
    EXPECT_EQ(b.topType().getKind(), LABEL);
    EXPECT_EQ(b.topType().getLabel(0), "#scalarset0");
    EXPECT_TRUE(b.topType().isKind(SCALAR));
    EXPECT_TRUE(b.topType().isKind(RANGE));
    b.typePop();

    b.procBegin("P", true, "", "");
    b.exprId("N");
    b.typeScalar(1);
    type_t local = b.topType();
    EXPECT_EQ(local.getLabel(0), "P::");
    EXPECT_EQ(local.getChild(0).getLabel(0), "#scalarset1");
    EXPECT_TRUE(local.isKind(CONST));

    binding_t m;
    binding_t n;
    ASSERT_TRUE(b.resolve("M", m));
    ASSERT_TRUE(b.resolve("N", n));
    const auto& restricted = b.currentTemplate->restrictedParameters;
    EXPECT_EQ(restricted.count(n), 1u);
    EXPECT_EQ(restricted.count(m), 1u) << "the initialiser of N reads M";
    // The upper bound is the expression size - 1.
    EXPECT_EQ(local.getRangeBounds().second.toString(), "N - 1");
    EXPECT_TRUE(errors(f.system).empty());
}

TEST(ExpressionBuilderTypes, TypeNames)
{
    Fixture f;
    auto& b = f.builder;
    declareBoundedInt(b, 0, 3);
    b.declTypeDef("id_t");
    declareInt(b, "v");
    EXPECT_TRUE(b.isTypeName("id_t"));
    EXPECT_FALSE(b.isTypeName("v"));
    EXPECT_FALSE(b.isTypeName("nothing"));

    // Visible from an inner scope, and labelled with its name.
    b.procBegin(statementBlock);
    EXPECT_TRUE(b.isTypeName("id_t"));
    b.typeName(1, "id_t");
    EXPECT_EQ(b.topType().toString(), "(const (label id_t:(range (int) \"0\" \"3\")))");

    // Not a type: a void placeholder keeps the stack balanced.
    size_t height = b.typeFragments.size();
    EXPECT_THROW(b.typeName(0, "v"), TypeException);
    EXPECT_EQ(b.typeFragments.size(), height + 1);
    EXPECT_EQ(b.topType().getKind(), VOID_TYPE);
}

TEST(ExpressionBuilderNames, ResolutionThroughTheScopeStack)
{
    Fixture f;
    auto& b = f.builder;
    declareInt(b, "x");
    b.exprId("x");
    binding_t global = b.top().getSymbol();
    EXPECT_EQ(b.top().getKind(), IDENTIFIER);
    EXPECT_TRUE(b.top().getType().isKind(INT));

    // An inner declaration hides the outer one until its scope closes.
    b.procBegin(statementBlock);
    b.typeBool(0);
    b.exprForAllBegin("x");
    b.exprId("x");
    EXPECT_NE(b.top().getSymbol(), global);
    b.exprForAllEnd("x");
    b.exprId("x");
    EXPECT_EQ(b.top().getSymbol(), global);

    // An unknown name: the constant false stands in for it, and the error is thrown.
    size_t height = b.fragments.size();
    try {
        b.exprId("nowhere");
        FAIL() << "no exception";
    } catch (const TypeException& e) {
        EXPECT_STREQ(e.what(), "$Unknown_identifier: nowhere");
    }
    ASSERT_EQ(b.fragments.size(), height + 1);
    EXPECT_EQ(b.top().getKind(), CONSTANT);
    EXPECT_EQ(b.top().getValue(), 0);
    EXPECT_TRUE(b.top().getType().isKind(BOOL));
}

TEST(ExpressionBuilderNames, IntegerQuantifiers)
{
    Fixture f;
    auto& b = f.builder;
    size_t frames = b.frames.size();
    b.exprNar(4);
    b.typeScalar(0);
    b.exprSumBegin("i");
    b.exprId("i");
    EXPECT_TRUE(b.top().getType().isKind(CONST)) << "the bound variable is constant";
    b.exprSumEnd("i");
    ASSERT_EQ(b.fragments.size(), 1u);
    EXPECT_EQ(b.top().getKind(), SUM);
    EXPECT_EQ(b.top()[0].getKind(), IDENTIFIER);
    EXPECT_EQ(b.frames.size(), frames);
    EXPECT_TRUE(errors(f.system).empty());

    // A clock cannot be ranged over, but the variable is declared all the same.
    b.typeClock(0);
    b.exprExistsBegin("c");
    binding_t c;
    EXPECT_TRUE(b.resolve("c", c));
    b.exprId("c");
    b.exprExistsEnd("c");
    EXPECT_EQ(b.top().getKind(), EXISTS);
    EXPECT_EQ(errors(f.system), std::vector<std::string>{"$Quantifier_must_range_over_integer_or_scalar_set"});
}

TEST(ExpressionBuilderNames, ExistsAndSumBeginGoThroughAnOverriddenForAllBegin)
{
    struct Counting : ProbeBuilder
    {
        using ProbeBuilder::ProbeBuilder;
        int calls = 0;
        void exprForAllBegin(const char* name) override
        {
            ++calls;
            ProbeBuilder::exprForAllBegin(name);
        }
    };
    TimedAutomataSystem system;
    Counting b(&system);
    declareBoundedInt(b, 0, 1);
    b.exprExistsBegin("i");
    declareBoundedInt(b, 0, 1);
    b.exprSumBegin("j");
    EXPECT_EQ(b.calls, 2);
}

TEST(ExpressionBuilderOperators, ShapesAndTexts)
{
    struct Case
    {
        const char* name;
        std::function<void(ProbeBuilder&)> make;
        std::string text;
        size_t height;   // fragments left
    };
    const std::vector<Case> cases = {
        {"unary plus changes nothing", [](ProbeBuilder& b) { b.exprNar(5); b.exprUnary(ADD); }, "5", 1},
        {"unary minus", [](ProbeBuilder& b) { b.exprNar(5); b.exprUnary(SUBTRACT); }, "-5", 1},
        {"negation", [](ProbeBuilder& b) { b.exprId("x"); b.exprUnary(LOGICAL_NOT); }, "!x", 1},
        {"binary", [](ProbeBuilder& b) { b.exprId("x"); b.exprNar(2); b.exprBinary(MULTIPLY); }, "x * 2", 1},
        {"assignment", [](ProbeBuilder& b) { b.exprId("x"); b.exprNar(2); b.exprAssignment(ADD_ASSIGN); },
         "x += 2", 1},
        {"inline if",
         [](ProbeBuilder& b) {
             b.exprTrue();
             b.exprId("x");
             b.exprNar(1);
             b.exprInlineIf();
         },
         "true ? x : 1", 1},
        {"comma", [](ProbeBuilder& b) { b.exprId("x"); b.exprId("x"); b.exprComma(); }, "x, x", 1},
        {"subscript", [](ProbeBuilder& b) { b.exprId("a"); b.exprNar(1); b.exprArray(); }, "a[1]", 1},
        {"increments",
         [](ProbeBuilder& b) {
             b.exprId("x");
             b.exprPreIncrement();
             b.exprId("x");
             b.exprPostDecrement();
             b.exprComma();
         },
         "++x, x--", 1},
        {"pow", [](ProbeBuilder& b) { b.exprId("x"); b.exprNar(2); b.exprBuiltinFunction2(POW); }, "pow(x,2)", 1},
    };
    for (const auto& c : cases) {
        Fixture f;
        declareInt(f.builder, "x");
        f.builder.typeInt(0);
        f.builder.exprNar(3);
        f.builder.typeArrayOfSize(0);
        f.builder.declVar("a", false);
        c.make(f.builder);
        ASSERT_EQ(f.builder.fragments.size(), c.height) << c.name;
        EXPECT_EQ(f.builder.top().toString(), c.text) << c.name;
    }
}

TEST(ExpressionBuilderOperators, TypesThatOperationsGive)
{
    Fixture f;
    auto& b = f.builder;
    b.typeInt(0);
    b.exprNar(3);
    b.typeArrayOfSize(0);
    b.declVar("a", false);
    declareInt(b, "x");

    b.exprId("a");
    b.exprNar(0);
    b.exprArray();
    EXPECT_TRUE(b.top().getType().isKind(INT)) << "element type";
    b.exprId("x");
    b.exprNar(0);
    b.exprArray();
    EXPECT_TRUE(b.top().getType().isUnknown()) << "subscript of a non-array";
    b.exprId("x");
    b.exprPreIncrement();
    EXPECT_TRUE(b.top().getType().isKind(INT));
    b.exprId("x");
    b.exprPostIncrement();
    EXPECT_TRUE(b.top().getType().isUnknown());
    b.exprId("x");
    b.exprNar(1);
    b.exprAssignment(ASSIGN);
    EXPECT_TRUE(b.top().getType().isKind(INT));
    b.setPosition(40, 43);
    b.exprDouble(2.5);
    EXPECT_EQ(b.top().getPosition(), span_t(40, 43)) << "a double constant is placed where it was written";
    EXPECT_TRUE(b.top().getType().isKind(DOUBLE));
}

TEST(ExpressionBuilderOperators, NodesCarryTheCurrentPosition)
{
    Fixture f;
    auto& b = f.builder;
    declareInt(b, "x");
    b.setPosition(10, 15);
    b.exprId("x");
    b.exprNar(1);
    b.setPosition(10, 19);
    b.exprBinary(ADD);
    EXPECT_EQ(b.top().getPosition(), span_t(10, 19));
    EXPECT_EQ(b.top()[1].getPosition(), span_t(10, 15));
}

TEST(ExpressionBuilderCalls, FunctionsProcessSetsAndOtherCallees)
{
    Fixture f;
    auto& b = f.builder;
    declareInt(b, "x");
    // int f(int a, int b) { return a; }
    b.typeInt(0);
    b.declParameter("p", false);
    b.typeInt(0);
    b.declParameter("q", false);
    b.typeInt(0);
    b.declFuncBegin("f");
    b.exprId("p");
    b.returnStatement(true);
    b.declFuncEnd();
    // process T(int[0,3] i, int[0,2] j) {...} system T;  T is then a set of processes.
    declareBoundedInt(b, 0, 3);
    b.declParameter("i", false);
    declareBoundedInt(b, 0, 2);
    b.declParameter("j", false);
    b.procBegin("T", true, "", "");
    b.procState("idle", false, false);
    b.procStateInit("idle");
    b.procEnd();
    b.process("T");
    ASSERT_TRUE(errors(f.system).empty()) << errors(f.system)[0];

    // Three arguments for two parameters: reported, the call is built all the same.
    b.exprId("f");
    b.exprCallBegin();
    b.exprNar(1);
    b.exprNar(2);
    b.exprNar(3);
    b.exprCallEnd(3);
    EXPECT_EQ(b.top().getKind(), FUNCTION_CALL);
    EXPECT_TRUE(b.top().getType().isKind(INT));
    EXPECT_EQ(errors(f.system), std::vector<std::string>{"$Wrong_number_of_arguments"});
    f.system.clearErrors();

    // Calling an integer: the constant 0 takes the call's place.
    b.exprId("x");
    b.exprNar(1);
    b.exprCallEnd(1);
    EXPECT_EQ(b.top().getKind(), CONSTANT);
    EXPECT_EQ(b.top().getValue(), 0);
    EXPECT_EQ(errors(f.system), std::vector<std::string>{"$Function_expected"});
    f.system.clearErrors();

    // T(1, 2) selects one process: T[1][2] of process type, written back as the call.
    b.exprId("T");
    b.exprNar(1);
    b.exprNar(2);
    b.exprCallEnd(2);
    expression_t selected = b.top();
    EXPECT_EQ(selected.toString(), "T(1, 2)");
    EXPECT_EQ(selected.getKind(), ARRAY);
    EXPECT_EQ(selected[0].getKind(), ARRAY);
    EXPECT_EQ(selected.getType().getKind(), PROCESS);
    EXPECT_EQ(selected[0].getType().getKind(), ARRAY);
    EXPECT_TRUE(selected[0].getType().getIndexType().isKind(RANGE));
    EXPECT_TRUE(errors(f.system).empty());

    // More arguments than the set has dimensions: reported once; the subscripts past
    // the process have no type (and reaching below the process type must not fail).
    b.exprId("T");
    for (int32_t i = 0; i < 5; ++i) {
        b.exprNar(i);
    }
    b.exprCallEnd(5);
    expression_t tooDeep = b.top();
    EXPECT_EQ(tooDeep.toString(), "T(0, 1, 2, 3, 4)");
    EXPECT_EQ(tooDeep[0][0][0].getType().getKind(), PROCESS);
    EXPECT_TRUE(tooDeep[0][0].getType().isUnknown());
    EXPECT_TRUE(tooDeep.getType().isUnknown());
    EXPECT_EQ(errors(f.system), std::vector<std::string>{"$Wrong_number_of_arguments"});
}

TEST(ExpressionBuilderCalls, RecursionIsReportedOnlyWhenDirect)
{
    Fixture f;
    auto& b = f.builder;
    b.typeVoid();
    b.declFuncBegin("g");
    b.declFuncEnd();
    b.typeVoid();
    b.declFuncBegin("h");
    b.exprId("g");
    b.exprCallBegin();
    b.exprCallEnd(0);
    b.exprStatement();
    EXPECT_TRUE(errors(f.system).empty());
    b.exprId("h");
    b.exprCallBegin();
    b.exprCallEnd(0);
    b.exprStatement();
    b.declFuncEnd();
    EXPECT_EQ(errors(f.system), std::vector<std::string>{"$Recursion_is_not_allowed"});
}

TEST(ExpressionBuilderMembers, RecordsProcessesAndErrors)
{
    Fixture f;
    auto& b = f.builder;
    // struct { int a; bool b; } s;  int n;
    b.typeInt(0);
    b.structField("a");
    b.typeBool(0);
    b.structField("b");
    b.typeStruct(0, 2);
    b.declVar("s", false);
    declareInt(b, "n");
    // process P() { int v; state idle; init idle; } system P;
    b.procBegin("P", true, "", "");
    declareInt(b, "v");
    b.procState("idle", false, false);
    b.procStateInit("idle");
    b.procEnd();
    b.process("P");

    b.exprId("s");
    b.exprDot("b");
    EXPECT_EQ(b.top().getKind(), DOT);
    EXPECT_EQ(b.top().getIndex(), 1);
    EXPECT_TRUE(b.top().getType().isKind(BOOL));

    b.exprId("P");
    b.exprDot("idle");
    EXPECT_EQ(b.top().toString(), "P.idle");
    EXPECT_TRUE(b.top().getType().isKind(BOOL)) << "a location member is a condition";
    b.exprId("P");
    b.exprDot("v");
    EXPECT_TRUE(b.top().getType().isKind(INT));
    EXPECT_TRUE(errors(f.system).empty());

    // Errors keep the operand on the stack.
    b.exprId("s");
    b.exprDot("c");
    EXPECT_EQ(b.top().toString(), "s");
    b.exprId("n");
    b.exprDot("c");
    EXPECT_EQ(b.top().toString(), "n");
    EXPECT_EQ(errors(f.system),
              (std::vector<std::string>{"s $has_no_member_named c", "n $is_not_a_structure"}));
}

TEST(ExpressionBuilderMitl, OnlyAndOrCombineFormulas)
{
    struct Case
    {
        const char* name;
        std::function<void(ProbeBuilder&)> make;
        node_kind_t kind;
        std::vector<node_kind_t> children;
        bool error;
    };
    const std::vector<Case> cases = {
        {"or with a predicate atomises the predicate",
         [](ProbeBuilder& b) { pushUntil(b); pushComparison(b); b.exprBinary(LOGICAL_OR); },
         MITL_OR, {MITL_UNTIL, MITL_ATOM}, false},
        {"and with a predicate on the left",
         [](ProbeBuilder& b) { pushComparison(b); pushUntil(b); b.exprBinary(LOGICAL_AND); },
         MITL_AND, {MITL_ATOM, MITL_UNTIL}, false},
        {"two formulas stay as they are",
         [](ProbeBuilder& b) { pushUntil(b); pushUntil(b); b.exprBinary(LOGICAL_OR); },
         MITL_OR, {MITL_UNTIL, MITL_UNTIL}, false},
        {"imply with a predicate premise",
         [](ProbeBuilder& b) {
             pushComparison(b);
             b.exprUnary(LOGICAL_NOT);
             pushUntil(b);
             b.exprBinary(LOGICAL_OR);
         },
         MITL_OR, {MITL_ATOM, MITL_UNTIL}, false},
        {"no formula, no promotion",
         [](ProbeBuilder& b) { pushComparison(b); pushComparison(b); b.exprBinary(LOGICAL_OR); },
         LOGICAL_OR, {LESS, LESS}, false},
        {"plus on a formula", [](ProbeBuilder& b) { pushUntil(b); b.exprNar(1); b.exprBinary(ADD); },
         CONSTANT, {}, true},
        {"xor on a formula",
         [](ProbeBuilder& b) { pushUntil(b); pushComparison(b); b.exprBinary(LOGICAL_XOR); },
         CONSTANT, {}, true},
        {"comparison of a formula", [](ProbeBuilder& b) { b.exprNar(1); pushUntil(b); b.exprBinary(EQUAL); },
         CONSTANT, {}, true},
        {"negated formula cannot become an atom",
         [](ProbeBuilder& b) {
             pushUntil(b);
             b.exprUnary(LOGICAL_NOT);
             pushUntil(b);
             b.exprBinary(LOGICAL_OR);
         },
         MITL_OR, {MITL_ATOM, MITL_UNTIL}, true},
        {"negated formula as an operand of until",
         [](ProbeBuilder& b) {
             pushUntil(b);
             b.exprUnary(LOGICAL_NOT);
             pushComparison(b);
             b.exprMitlUntil(0, 1);
         },
         MITL_UNTIL, {MITL_ATOM, CONSTANT, CONSTANT, MITL_ATOM}, true},
    };
    for (const auto& c : cases) {
        Fixture f;
        declareInt(f.builder, "x");
        c.make(f.builder);
        ASSERT_EQ(f.builder.fragments.size(), 1u) << c.name;
        expression_t e = f.builder.top();
        EXPECT_EQ(e.getKind(), c.kind) << c.name;
        EXPECT_EQ(kindsOf(e), c.children) << c.name;
        EXPECT_EQ(errors(f.system), c.error ? std::vector<std::string>{mitlMessage} : std::vector<std::string>{})
            << c.name;
    }
}

TEST(ExpressionBuilderMitl, FormulaShapes)
{
    Fixture f;
    auto& b = f.builder;
    declareInt(b, "x");
    pushComparison(b);
    b.exprMitlEventually(2, 7);
    expression_t eventually = b.top();
    EXPECT_EQ(eventually.getKind(), MITL_UNTIL);
    EXPECT_EQ(kindsOf(eventually), (std::vector<node_kind_t>{MITL_ATOM, CONSTANT, CONSTANT, MITL_ATOM}));
    EXPECT_EQ(eventually[0][0].getValue(), 1);
    EXPECT_EQ(eventually[1].getValue(), 2);
    EXPECT_EQ(eventually[2].getValue(), 7);
    EXPECT_TRUE(eventually[3].getPosition().isAbsent());

    b.exprMitlAtom();
    EXPECT_EQ(b.top(), eventually) << "an atom of a formula is the formula";
    b.exprMitlNext();
    EXPECT_EQ(b.top().getKind(), MITL_NEXT);
    pushComparison(b);
    b.exprMitlAlways(0, 4);
    EXPECT_EQ(b.top().getKind(), MITL_RELEASE);
    EXPECT_EQ(b.top()[0][0].getValue(), 0);
    b.exprMitlConj();
    EXPECT_EQ(b.top().getKind(), MITL_AND);
    b.exprMitlUntil();
    EXPECT_EQ(b.top().getKind(), MITL_FORMULA);
    EXPECT_EQ(b.fragments.size(), 1u);
    EXPECT_TRUE(errors(f.system).empty());
}

// The binary interval operators and the disjunction keep their operands in order.
TEST(ExpressionBuilderMitl, ReleaseAndDisjunctionShapes)
{
    Fixture f;
    auto& b = f.builder;
    declareInt(b, "x");
    pushComparison(b);
    pushComparison(b);
    b.exprMitlRelease(1, 9);
    expression_t release = b.top();
    EXPECT_EQ(release.getKind(), MITL_RELEASE);
    EXPECT_EQ(kindsOf(release), (std::vector<node_kind_t>{MITL_ATOM, CONSTANT, CONSTANT, MITL_ATOM}));
    EXPECT_EQ(release[1].getValue(), 1);
    EXPECT_EQ(release[2].getValue(), 9);

    pushComparison(b);
    b.exprMitlAtom();
    b.exprMitlDisj();
    expression_t disjunction = b.top();
    EXPECT_EQ(disjunction.getKind(), MITL_OR);
    EXPECT_EQ(disjunction[0], release) << "the left operand comes first";
    EXPECT_EQ(disjunction[1].getKind(), MITL_ATOM);
    EXPECT_EQ(b.fragments.size(), 1u);
    EXPECT_TRUE(errors(f.system).empty());
}

TEST(ExpressionBuilderQueries, StatisticalShapes)
{
    struct Case
    {
        const char* name;
        size_t pushed;   // fragments pushed before the operation: f0, f1, ...
        std::function<void(ProbeBuilder&)> make;
        node_kind_t kind;
        // Children as texts; the fragments print as their names.
        std::vector<std::string> children;
    };
    const std::vector<Case> cases = {
        {"at most p becomes the dual at least 1 - p", 2,
         [](ProbeBuilder& b) { b.exprProbaQualitative(1, BOX_MARKER, LESS_EQUAL, 0.25); },
         PROBABILITY_DIAMOND_AT_LEAST, {"1", "f0", "!f1", "0.75"}},
        {"at least p", 2, [](ProbeBuilder& b) { b.exprProbaQualitative(0, DIAMOND_MARKER, GREATER_EQUAL, 0.5); },
         PROBABILITY_DIAMOND_AT_LEAST, {"0", "f0", "f1", "0.5"}},
        {"estimate with a clock bound", 3,
         [](ProbeBuilder& b) { b.exprProbaEstimate(2, DIAMOND_MARKER, false); }, PROBABILITY_DIAMOND_ESTIMATE,
         {"f0", "true", "f1", "f2"}},
        {"estimate of an until", 3, [](ProbeBuilder& b) { b.exprProbaEstimate(1, BOX_MARKER, true); },
         PROBABILITY_BOX_ESTIMATE, {"1", "f1", "f0", "f2"}},
        {"comparison", 5, [](ProbeBuilder& b) { b.exprProbaCompare(2, BOX_MARKER, 0, DIAMOND_MARKER); },
         PROBABILITY_COMPARE, {"f0", "f1", "75", "f2", "0", "f3", "76", "f4"}},
        {"expected maximum", 3, [](ProbeBuilder& b) { b.exprProbaExpected(0, "max"); }, EXPECTED_VALUE,
         {"0", "f0", "f1", "f2", "1"}},
        {"simulation with predicate", 4, [](ProbeBuilder& b) { b.exprSimulation(100, 1, 2, true, 5); },
         SIMULATE_ACCEPTING, {"100", "1", "f0", "f1", "f2", "f3", "5"}},
        {"simulation", 3, [](ProbeBuilder& b) { b.exprSimulation(10, 2, 1, false, 0); }, SIMULATE,
         {"10", "f0", "f1", "f2"}},
        {"bounded control", 2, [](ProbeBuilder& b) { b.exprSMCControl(0); }, BOUNDED_CONTROL, {"0", "f0", "f1"}},
    };
    for (const auto& c : cases) {
        Fixture f;
        for (size_t i = 0; i < c.pushed; ++i) {
            std::string name = "f" + std::to_string(i);
            declareInt(f.builder, name.c_str());
            f.builder.exprId(name.c_str());
        }
        c.make(f.builder);
        ASSERT_EQ(f.builder.fragments.size(), 1u) << c.name;
        expression_t e = f.builder.top();
        EXPECT_EQ(e.getKind(), c.kind) << c.name;
        std::vector<std::string> texts;
        for (size_t i = 0; i < e.getSize(); ++i) {
            if (e[i].getKind() == CONSTANT && e[i].getType().isKind(DOUBLE)) {
                std::ostringstream text;
                text << e[i].getDoubleValue();
                texts.push_back(text.str());
            } else {
                texts.push_back(e[i].toString());
            }
        }
        EXPECT_EQ(texts, c.children) << c.name;
    }
}

TEST(ExpressionBuilderQueries, ExpectedValueWithoutMinOrMaxLeavesTheStack)
{
    Fixture f;
    auto& b = f.builder;
    b.exprNar(1);
    b.exprNar(2);
    b.exprNar(3);
    try {
        b.exprProbaExpected(0, "avg");
        FAIL() << "no exception";
    } catch (const TypeException& e) {
        EXPECT_STREQ(e.what(), "min or max expected");
    }
    EXPECT_EQ(b.fragments.size(), 3u);
}

TEST(ExpressionBuilderDynamic, QuantifiersOverDynamicTemplates)
{
    Fixture f;
    auto& b = f.builder;
    b.declDynamicTemplate("D");

    // Before the body is read the template cannot be quantified over; the scope the
    // begin operation pushed is still there for the end operation.
    size_t frames = b.frames.size();
    b.exprId("D");
    EXPECT_THROW(b.exprForAllDynamicBegin("p", "D"), TypeException);
    EXPECT_EQ(b.frames.size(), frames + 1);
    b.exprTrue();
    b.exprForAllDynamicEnd("p");
    EXPECT_EQ(b.frames.size(), frames);
    b.fragments.clear();

    try {
        b.exprExistsAllDynamicBegin("p", "E");
        FAIL() << "no exception";
    } catch (const TypeException& e) {
        EXPECT_STREQ(e.what(), "Unknown dynamic template E used in  exists");
    }
    b.popFrame();

    // The body: process D() { int v; state go; init go; }
    b.procBegin("D", true, "", "");
    declareInt(b, "v");
    b.procState("go", false, false);
    b.procStateInit("go");
    b.procEnd();
    EXPECT_TRUE(errors(f.system).empty());

    b.exprId("D");
    b.exprForAllDynamicBegin("p", "D");
    b.exprId("p");
    b.exprDot("go");
    EXPECT_EQ(b.top().getKind(), DYNAMIC_MEMBER);
    EXPECT_TRUE(b.top().getType().isKind(BOOL));
    b.exprMitlAtom();
    b.exprForAllDynamicEnd("p");
    EXPECT_EQ(b.top().getKind(), FORALL_DYNAMIC) << "an atom body is unwrapped";
    EXPECT_EQ(b.top()[2].getKind(), DYNAMIC_MEMBER);

    b.exprId("D");
    b.exprSumDynamicBegin("q", "D");
    b.exprId("q");
    b.exprDot("v");
    b.exprSumDynamicEnd("q");
    EXPECT_EQ(b.top().getKind(), SUM_DYNAMIC);
    EXPECT_TRUE(b.top().getType().isKind(INT));

    // The variable is bound only inside its quantifier.
    b.procBegin(statementBlock);
    b.frames.back().addSymbol("r", type_t::createPrimitive(PROCESS_VARIABLE), nullptr);
    b.exprId("r");
    EXPECT_THROW(b.exprDot("v"), TypeException);
    EXPECT_EQ(b.top().getKind(), IDENTIFIER);
}

TEST(ExpressionBuilderOperators, NaryTernaryAndScenarioShapes)
{
    Fixture f;
    auto& b = f.builder;
    declareInt(b, "x");
    b.setPosition(10, 20);

    // n-ary: the children from the deepest fragment to the top, the value their number.
    b.exprNar(1);
    b.exprId("x");
    b.exprNar(3);
    b.exprNary(LIST, 3);
    ASSERT_EQ(b.fragments.size(), 1u);
    EXPECT_EQ(b.top().getKind(), LIST);
    ASSERT_EQ(b.top().getSize(), 3u);
    EXPECT_EQ(b.top().toString(), "1, x, 3");
    EXPECT_EQ(b.top().getPosition(), span_t(10, 20));
    b.fragments.clear();

    // Ternary over three fragments, or with a leading true over two.
    b.exprId("x");
    b.exprNar(2);
    b.exprNar(3);
    b.exprTernary(INLINE_IF, false);
    ASSERT_EQ(b.fragments.size(), 1u);
    EXPECT_EQ(b.top().toString(), "x ? 2 : 3");
    b.exprNar(4);
    b.exprNar(5);
    b.exprTernary(INLINE_IF, true);
    ASSERT_EQ(b.fragments.size(), 2u);
    EXPECT_EQ(b.top().toString(), "1 ? 4 : 5");
    EXPECT_EQ(b.top()[0].getKind(), CONSTANT);
    EXPECT_EQ(b.top()[0].getValue(), 1);
    b.fragments.clear();

    // A scenario property: an identifier without a position under the SCENARIO node; an
    // unknown name leaves the identifier without a symbol and reports nothing.
    b.exprScenario("x");
    binding_t x;
    ASSERT_TRUE(b.resolve("x", x));
    ASSERT_EQ(b.top().getKind(), SCENARIO);
    EXPECT_EQ(b.top().getPosition(), span_t(10, 20));
    EXPECT_EQ(b.top()[0].getKind(), IDENTIFIER);
    EXPECT_EQ(b.top()[0].getSymbol(), x);
    EXPECT_TRUE(b.top()[0].getPosition().isAbsent());
    b.exprScenario("nowhere");
    EXPECT_EQ(b.fragments.size(), 2u);
    EXPECT_EQ(b.top()[0].getSymbol(), binding_t());
    EXPECT_TRUE(errors(f.system).empty());
}

// Each failing operation: its exact message, and the stacks left as its callers expect.
TEST(ExpressionBuilderFailures, MessagesAndWhatTheStacksKeep)
{
    struct Case
    {
        const char* name;
        std::function<void(ProbeBuilder&)> call;
        const char* message;
        int fragmentsAdded;   // change of the fragment stack
        int typesAdded;       // change of the type stack
        int framesAdded;      // change of the scope stack
    };
    const std::vector<Case> cases = {
        {"unknown identifier", [](ProbeBuilder& b) { b.exprId("nowhere"); }, "$Unknown_identifier: nowhere", 1, 0,
         0},
        {"type name of a variable", [](ProbeBuilder& b) { b.typeName(0, "x"); },
         "$Identifier_is_undeclared_or_not_a_type_name", 0, 1, 0},
        {"type name never declared", [](ProbeBuilder& b) { b.typeName(1, "nothing"); },
         "$Identifier_is_undeclared_or_not_a_type_name", 0, 1, 0},
        {"for all over an unknown dynamic template", [](ProbeBuilder& b) { b.exprForAllDynamicBegin("p", "E"); },
         "Unknown dynamic template E used in for all", 0, 0, 1},
        {"exists over an unknown dynamic template",
         [](ProbeBuilder& b) { b.exprExistsAllDynamicBegin("p", "E"); }, "Unknown dynamic template E used in  exists",
         0, 0, 1},
        {"sum over an unknown dynamic template", [](ProbeBuilder& b) { b.exprSumDynamicBegin("p", "E"); },
         "Unknown dynamic template E used in sum", 0, 0, 1},
        {"foreach over an unknown dynamic template", [](ProbeBuilder& b) { b.exprForeachDynamicBegin("p", "E"); },
         "Unknown dynamic template E used in foreach", 0, 0, 1},
        {"dynamic template whose body is not read yet",
         [](ProbeBuilder& b) { b.exprSumDynamicBegin("p", "D"); }, "Template referenced before used", 0, 0, 1},
        {"expectation neither min nor max",
         [](ProbeBuilder& b) {
             b.exprNar(100);
             b.exprNar(10);
             b.exprId("x");
             b.exprProbaExpected(1, "avg");
         },
         "min or max expected", 3, 0, 0},
    };
    for (const auto& c : cases) {
        Fixture f;
        auto& b = f.builder;
        declareInt(b, "x");
        b.declDynamicTemplate("D");
        size_t fragments = b.fragments.size();
        size_t types = b.typeFragments.size();
        size_t frames = b.frames.size();
        std::string message = "no exception";
        try {
            c.call(b);
        } catch (const TypeException& e) {
            message = e.what();
        }
        EXPECT_EQ(message, c.message) << c.name;
        EXPECT_EQ(static_cast<int>(b.fragments.size() - fragments), c.fragmentsAdded) << c.name;
        EXPECT_EQ(static_cast<int>(b.typeFragments.size() - types), c.typesAdded) << c.name;
        EXPECT_EQ(static_cast<int>(b.frames.size() - frames), c.framesAdded) << c.name;
        EXPECT_TRUE(errors(f.system).empty()) << c.name << ": thrown, not recorded";
    }
}
