// Locations, edges and the instantiation of processes.

#include <gtest/gtest.h>

#include "compile_helpers.h"
#include "runtime/clock_expression.h"
#include "runtime/exceptions.h"
#include "runtime/location.h"
#include "runtime/process.h"

using namespace compiler_test;
using namespace ZOLT;

namespace {

Process& process(const Compiled& c, size_t k)
{
    return *c.system->getProcesses().at(k);
}

std::vector<std::string> names(const Compiled& c)
{
    std::vector<std::string> out;
    for (const auto& p : c.system->getProcesses()) {
        out.push_back(p->getName());
    }
    return out;
}

// The select records of an edge, newest first, as "number:v1,v2".
std::vector<std::string> records(const Edge& edge)
{
    std::vector<std::string> out;
    for (const auto& record : edge.getSelectRecords()) {
        std::string text = std::to_string(record.number) + ":";
        for (size_t i = 0; i < record.values.size(); ++i) {
            text += (i > 0 ? "," : "") + std::to_string(record.values[i]);
        }
        out.push_back(text);
    }
    return out;
}

} // namespace

TEST(Edges, SynchronisationsAndTheirChannels)
{
    Compiled c = compile("chan a, b; chan e[2]; int[0,1] i;\n"
                         "process P() { state A; init A; trans A -> A { sync e[i]?; }, A -> A { sync e[i]!; },\n"
                         "                                   A -> A { }, A -> A { sync b!; }; }\n"
                         "system P;");
    const auto& edges = process(c, 0).getEdges();
    ASSERT_EQ(edges.size(), 4u);
    EXPECT_EQ(edges[0]->getChannels(), (std::set<int32_t>{-4, -3}));
    EXPECT_EQ(edges[1]->getChannels(), (std::set<int32_t>{3, 4}));
    EXPECT_EQ(edges[2]->getChannels(), std::set<int32_t>());
    EXPECT_EQ(edges[2]->getSyncText(), "tau");
    EXPECT_EQ(edges[2]->getSync()->evaluate(nullptr), 0);
    EXPECT_EQ(edges[3]->getChannels(), std::set<int32_t>{2});
    EXPECT_EQ(edges[3]->getSync()->evaluate(nullptr), 2);
    EXPECT_EQ(edges[0]->getSyncText(), "e[i]?");
}

TEST(Edges, GuardsSplitIntoDataAndClockParts)
{
    Compiled c = compile("clock x; int[0,3] n; double d;\n"
                         "process P() { state A, B; init A;\n"
                         "  trans A -> B { guard x > 2 && n == 1; assign n = 2; },\n"
                         "        B -> A { guard n == 0; },\n"
                         "        B -> B { guard d > 0.5; },\n"
                         "        A -> A { guard d > 0.5 && x > 1; }; }\n"
                         "system P;");
    const auto& edges = process(c, 0).getEdges();
    ASSERT_EQ(edges.size(), 4u);
    // The clock part is the clock constraint; the data part is byte code of the whole guard.
    EXPECT_NE(dynamic_cast<ClockExpr*>(edges[0]->getClockGuard().get()), nullptr);
    EXPECT_TRUE(edges[0]->getGuard()->trivial);
    EXPECT_EQ(edges[0]->getGuardText(), "x > 2 && n == 1");
    EXPECT_EQ(edges[0]->getUpdateText(), "n := 2");
    EXPECT_EQ(edges[0]->getUpdate()->writes, IndexSet{c.index("n")});
    // Without a clock constraint the clock part is the constant 1.
    EXPECT_TRUE(edges[1]->getClockGuard()->isConstant());
    EXPECT_EQ(edges[1]->getClockGuard()->evaluate(nullptr), 1);
    // A floating-point guard is one expression for both parts and marks its source.
    EXPECT_EQ(edges[2]->getGuard().get(), edges[2]->getClockGuard().get());
    EXPECT_FALSE(edges[2]->getGuard()->clockDependent);
    EXPECT_TRUE(edges[3]->getGuard()->clockDependent);
    EXPECT_TRUE(edges[2]->source->floatingPointGuard);
    EXPECT_TRUE(edges[3]->source->floatingPointGuard);
    EXPECT_TRUE(c.system->floatingPointClocks);
}

TEST(Locations, FlagsInvariantsAndRates)
{
    Compiled c = compile("clock x;\n"
                         "process P() { state A { x <= 3 }, B, C; urgent B; commit C; init B;\n"
                         "  trans B -> A {}, A -> C {}, C -> B {}; }\n"
                         "system P;");
    Process& p = process(c, 0);
    Location* a = p.getLocation(0);
    Location* b = p.getLocation(1);
    Location* cl = p.getLocation(2);
    // (The checker puts the cost rate's place in front of the invariant.)
    EXPECT_EQ(a->getInvariantText(), "1 && x <= 3");
    testkit::FakeState state(4, 0, 0, 2);
    EXPECT_EQ(a->getInvariant()->evaluate(&state), 1);
    EXPECT_EQ(state.constrainCalls, 1);
    EXPECT_EQ(b->getInvariantText(), "");
    EXPECT_EQ(b->getInvariant()->evaluate(nullptr), 1);
    EXPECT_EQ(b->getCostRate()->evaluate(nullptr), 0);
    EXPECT_EQ(b->getExponentialRate().get(), nullptr);
    EXPECT_TRUE(b->isUrgent());
    EXPECT_TRUE(cl->isCommitted());
    EXPECT_EQ(p.initialLocation, b);
    EXPECT_EQ(c.variable("B")->getIndex(), c.variable("A")->getIndex() + 1);
}

TEST(Edges, ExclusiveOrInGuardsAndInvariants)
{
    // An exclusive or has a range and no cells: guards and invariants that use it compile.
    Compiled c = compile("bool p, q; int[0,3] k;\n"
                         "process P() { state A { p xor q }; init A; trans A -> A { guard p xor q; assign k = 1; }; }\n"
                         "system P;");
    auto state = c.state();
    c.set(*state, "p", 1);
    EXPECT_EQ(process(c, 0).getEdges()[0]->getGuard()->evaluate(state.get()), 1);
    c.set(*state, "q", 1);
    EXPECT_EQ(process(c, 0).getLocation(0)->getInvariant()->evaluate(state.get()), 0);
    EXPECT_EQ(c.compiler->getAnalyser()->getRange(c.parse("p xor q")), interval_t(0, 1));
}

TEST(Edges, BranchPointsJoinTheEdgesThatLeaveThem)
{
    Compiled c = compile("int[0,5] k;\n"
                         "process P() { state A, B1, B2; branch bp; init A;\n"
                         "  trans A -> A { assign k = 0; },\n"
                         "        A -> bp { assign k = 1; }, bp -> B1 [ 3 ], bp -> B2 [ 1 ]; }\n"
                         "system P;");
    const auto& edges = process(c, 0).getEdges();
    ASSERT_EQ(edges.size(), 3u);
    EXPECT_EQ(edges[0]->branchGroup, 0);
    EXPECT_EQ(edges[1]->branchGroup, 2);
    EXPECT_EQ(edges[2]->branchGroup, 2);
    EXPECT_EQ(edges[1]->target->getName(), "B1");
    EXPECT_EQ(edges[2]->target->getName(), "B2");
    EXPECT_EQ(edges[1]->getProbability()->evaluate(nullptr), 3);
    EXPECT_EQ(edges[2]->getProbability()->evaluate(nullptr), 1);
    // The branch's record first, then the record of the edge into the branch point.
    EXPECT_EQ(records(*edges[1]), (std::vector<std::string>{"2:", "1:"}));
    // The edge's update runs first, then the branch's.
    EXPECT_EQ(edges[1]->getUpdateText(), "k := 1, 1");
}

TEST(Edges, SelectBindingsAreExpanded)
{
    Compiled c = compile("int[0,9] k;\n"
                         "process P() { state A; init A;\n"
                         "  trans A -> A { select i : int[0,1], j : int[0,2]; assign k = i + 3 * j; },\n"
                         "        A -> A { select e : int[2,1]; assign k = e; },\n"
                         "        A -> A { }; }\n"
                         "system P;");
    const auto& edges = process(c, 0).getEdges();
    // Six edges for the first template edge, the first symbol varying fastest; none for the
    // empty range; one for the edge without select.
    ASSERT_EQ(edges.size(), 7u);
    const char* expected[] = {"0:0,0", "0:1,0", "0:0,1", "0:1,1", "0:0,2", "0:1,2"};
    for (size_t k = 0; k < 6; ++k) {
        EXPECT_EQ(records(*edges[k]), std::vector<std::string>{expected[k]});
        auto state = c.state();
        edges[k]->getUpdate()->evaluate(state.get());
        EXPECT_EQ(c.get(*state, "k"), static_cast<int32_t>(k % 2 + 3 * (k / 2)));
    }
    EXPECT_EQ(records(*edges[6]), std::vector<std::string>{"2:"});
}

TEST(Processes, ProcessSetsAreNamedByTheirArguments)
{
    Compiled c = compile("int[0,9] k;\n"
                         "process P(int[0,1] i, int[0,2] j) { state A; init A; }\n"
                         "process N(int[-1,-1] m) { state A; init A; }\n"
                         "process Q() { state A; init A; }\n"
                         "system N, P < Q;");
    EXPECT_EQ(names(c), (std::vector<std::string>{"N(-1)", "P(0,0)", "P(0,1)", "P(0,2)", "P(1,0)", "P(1,1)", "P(1,2)",
                                                  "Q"}));
    auto state = c.state();
    EXPECT_EQ(c.get(*state, "P(1,2).i"), 1);
    EXPECT_EQ(c.get(*state, "P(1,2).j"), 2);
    // Each instance of a set takes the priority of the set's name.
    EXPECT_EQ(process(c, 1).priority, process(c, 6).priority);
    EXPECT_LT(process(c, 1).priority, process(c, 7).priority);
    EXPECT_EQ(process(c, 3).instanceDeclarations,
              (std::vector<std::pair<std::string, std::string>>{{"i", "0"}, {"j", "2"}}));
    for (size_t k = 0; k < 8; ++k) {
        EXPECT_EQ(process(c, k).getNumber(), static_cast<int32_t>(k));
    }
}

TEST(Processes, TheLocationCountIsCheckedBeforeAnyProcessIsMade)
{
    // 4096 x 4096 locations pass the limit; the first instance then fails on its initial value.
    // (The location table reserved for them is too large for the address sanitizer's allocator.)
#ifndef __SANITIZE_ADDRESS__
    Compiled pass = prepare("process P(int[0,4095] i, int[0,4095] j) { int[0,1] v = 2; state A; init A; }\n"
                            "system P;");
    try {
        pass.compiler->compileSystem();
        ADD_FAILURE() << "no error";
    } catch (const CompileError& error) {
        EXPECT_STREQ(error.what(), "$Initial_value_out_of_range");
    }
    EXPECT_EQ(pass.compiler->getSystem()->getProcessCount(), 1u);
#endif

    // 97 x 257 x 673 = 16777217 locations; 3 x 3 x 4 = 36 and 16777181 more; and 65536 x 65536 x 1,
    // which wraps to 0 in 32 bits.
    for (const char* system : {"process P(int[1,97] i, int[1,257] j, int[1,673] k) { state A; init A; }\nsystem P;",
                               "process P(int[0,2] i, int[0,2] j) { state A, B, C, D; init A; }\n"
                               "process Q(int[1,16777181] k) { state A; init A; }\nsystem P, Q;",
                               "process P(int[0,65535] i, int[0,65535] j) { state A; init A; }\nsystem P;"}) {
        SCOPED_TRACE(system);
        Compiled refused = prepare(system);
        try {
            refused.compiler->compileSystem();
            ADD_FAILURE() << "no error";
        } catch (const RuntimeError& error) {
            EXPECT_STREQ(error.what(), "Cannot handle systems with more than 16777216 locations");
        }
        EXPECT_EQ(refused.compiler->getSystem()->getProcessCount(), 0u);
    }
}

TEST(Processes, EmptyFreeParameterRangeIsRefused)
{
    Compiled c = prepare("const int N = 0;\nprocess P(int[1,N] i) { state A; init A; }\nsystem P;");
    EXPECT_THROW(c.compiler->compileSystem(), CompileError);
}

TEST(Processes, ClockAssignmentsAndScalarSets)
{
    struct Case
    {
        const char* update;
        bool nonZero;
    };
    const Case cases[] = {
        {"x = 0", false},  {"x = y", false},     {"x = n - 3", false}, {"x = n * 0", false},
        {"x = 5", true},   {"x = n - 1", true},  {"x = d", true},      {"n = 3, x = 1", true},
        {"n = 4", false},
        // Through the functions an update calls, also by reference and from a call in a call.
        {"zero(x)", false}, {"copy(x)", false},  {"two(x)", true},     {"five()", true},
        {"outer()", true},  {"twice()", false},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.update);
        Compiled c = compile(std::string("clock x, y; int[0,2] n; double d;\n"
                                         "void zero(clock &k) { k = 0; }\n"
                                         "void copy(clock &k) { k = y; }\n"
                                         "void two(clock &k) { k = 2; }\n"
                                         "void five() { x = 5; }\n"
                                         "void outer() { zero(y); five(); }\n"
                                         "void twice() { zero(x); zero(x); }\n"
                                         "process P() { state A; init A; trans A -> A { assign ") +
                             k.update + "; }; }\nsystem P;");
        EXPECT_EQ(c.compiler->hasNonZeroClockAssignment(), k.nonZero);
        EXPECT_EQ(c.compiler->getCurrentSymbol(), c.compiler->getRootSymbol());
        EXPECT_FALSE(c.compiler->hasScalarsets());
    }
    Compiled scalars = compile("typedef scalar[3] id_t;\nint[0,5] counts[id_t];\n"
                               "process P(id_t id) { state A; init A; }\nsystem P;");
    EXPECT_TRUE(scalars.compiler->hasScalarsets());
    const ScalarsetRecord& record = scalars.compiler->getScalarsetInfo()->records.front();
    EXPECT_EQ(record.size, 3u);
    ASSERT_EQ(record.elements.size(), 3u);
    // Each element owns its process, its counter and the process's parameter, which also
    // holds an element.
    for (const ScalarsetElement& element : record.elements) {
        EXPECT_EQ(element.processes.size(), 1u);
        EXPECT_EQ(element.variables.size(), 2u);
    }
    EXPECT_EQ(record.data.size(), 3u);
    EXPECT_EQ(record.elements[2].processes.front(), 2);
}
