// Processes of dynamic templates spawned during a simulation: compiled on the first spawn,
// pooled when they end, reused by the next spawn.

#include <gtest/gtest.h>

#include "compile_helpers.h"
#include "runtime/edge.h"
#include "runtime/exceptions.h"
#include "runtime/location.h"
#include "runtime/process.h"
#include "support/exceptions.h"

using namespace compiler_test;
using namespace ZOLT;

namespace {

// The sizes of what a state holds.
struct Sizes
{
    int32_t integers;
    int32_t doubles;
    uint64_t clocks;
    size_t slots;

    bool operator==(const Sizes&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Sizes& s)
{
    return os << "{" << s.integers << " " << s.doubles << " " << s.clocks << " " << s.slots << "}";
}

Sizes sizes(ConcreteState& state)
{
    return {state.getIntegerArray().size(), state.getDoubleArray().size(), state.getClocks().count,
            state.getSlotCount()};
}

// What the System has laid out: the sizes a state must have to hold every process compiled.
Sizes layout(const System& system)
{
    return {static_cast<int32_t>(system.getStateVariableCount() + system.getExtraStateVariableCount()),
            static_cast<int32_t>(system.getFPVariableCount() + system.getExtraFPVariableCount()),
            system.getClockCount() + system.getExtraClockCount(),
            system.getProcessCount() + system.getDynamicProcesses().size()};
}

class Spawning : public ::testing::Test
{
protected:
    Compiled c = compile(fixture("comp_spawn.xta"));
    SpawnTable table = SpawnTable(c.system->dynamicTemplates.size());

    // A run's state: a copy of the initial state that shares the table.
    std::unique_ptr<ConcreteState> run(const ConcreteState& initial)
    {
        auto state = std::make_unique<ConcreteState>(initial);
        state->spawnTable = &table;
        return state;
    }

    int32_t integer(ConcreteState& state, const std::string& name) { return c.variable(name)->getValue(&state); }
    double floating(ConcreteState& state, const std::string& name)
    {
        return c.variable(name)->getDoubleValue(&state);
    }
    double clock(ConcreteState& state, const std::string& name)
    {
        double value = -1;
        state.getClockValue(static_cast<uint32_t>(static_cast<ClockVariable*>(c.variable(name))->getClockNumber()),
                            value);
        return value;
    }
};

} // namespace

TEST_F(Spawning, FirstSpawnCompilesAndGrowsLaterOneReusesThePool)
{
    auto initial = c.concreteState();
    auto state = run(*initial);
    const Sizes before = sizes(*state);
    ASSERT_TRUE(c.system->getDynamicProcesses().empty());

    c.compiler->spawnProcess(0, {4}, state.get());
    ASSERT_EQ(c.system->getDynamicProcesses().size(), 1u);
    Process& d = *c.system->getDynamicProcesses()[0];
    EXPECT_EQ(d.getName(), "D(4)");
    EXPECT_EQ(d.getNumber(), 1);
    EXPECT_EQ(d.dynamicTemplateIndex, 0);
    // v, the word of the bool array and the parameter n; w; y; one process slot.
    EXPECT_EQ(sizes(*state), (Sizes{before.integers + 3, before.doubles + 1, before.clocks + 1, before.slots + 1}));
    EXPECT_EQ(sizes(*state), layout(*c.system));
    EXPECT_EQ(table[0].liveCount, 1);
    EXPECT_EQ(table[0].liveNumbers, std::vector<int32_t>{1});
    EXPECT_EQ(d.poolSlot, 0);
    EXPECT_EQ(state->getLocation(1), d.initialLocation);
    EXPECT_EQ(integer(*state, "D(4).n"), 4);
    EXPECT_EQ(integer(*state, "D(4).v"), 3);
    EXPECT_EQ(integer(*state, "D(4).flags[0]"), 1);
    EXPECT_EQ(integer(*state, "D(4).flags[1]"), 0);
    EXPECT_EQ(floating(*state, "D(4).w"), 1.5);
    // A clock starts at its initial value cut to an integer.
    EXPECT_EQ(clock(*state, "D(4).y"), 2.0);

    // The process runs, then ends.
    c.variable("D(4).v")->setValue(state.get(), 9);
    c.variable("D(4).flags[1]")->setValue(state.get(), 1);
    state->setClockValue(static_cast<uint32_t>(state->getClocks().count - 1), 7.25);
    state->removeSpawnedProcess(1);
    EXPECT_EQ(table[0].liveCount, 0);
    EXPECT_EQ(state->getLocation(1), nullptr);

    // The next spawn takes it again: nothing grows, its cells start afresh with the new argument.
    const Sizes grown = sizes(*state);
    c.compiler->spawnProcess(0, {7}, state.get());
    EXPECT_EQ(c.system->getDynamicProcesses().size(), 1u);
    EXPECT_EQ(sizes(*state), grown);
    EXPECT_EQ(table[0].liveNumbers, std::vector<int32_t>{1});
    EXPECT_EQ(state->getLocation(1), d.initialLocation);
    EXPECT_EQ(integer(*state, "D(4).n"), 7);
    EXPECT_EQ(integer(*state, "D(4).v"), 3);
    EXPECT_EQ(integer(*state, "D(4).flags[1]"), 0);
    EXPECT_EQ(clock(*state, "D(4).y"), 2.0);
    EXPECT_EQ(c.compiler->getCurrentSymbol(), c.compiler->getRootSymbol());
}

TEST_F(Spawning, LiveProcessesTakeConsecutivePoolSlots)
{
    auto initial = c.concreteState();
    auto state = run(*initial);
    c.compiler->spawnProcess(0, {4}, state.get());
    c.compiler->spawnProcess(0, {5}, state.get());
    c.compiler->spawnProcess(1, {}, state.get());

    const auto& spawned = c.system->getDynamicProcesses();
    ASSERT_EQ(spawned.size(), 3u);
    EXPECT_EQ(spawned[0]->getName(), "D(4)");
    EXPECT_EQ(spawned[1]->getName(), "D(5)");
    // A template without parameters keeps its plain name.
    EXPECT_EQ(spawned[2]->getName(), "E");
    EXPECT_EQ(table[0].liveNumbers, (std::vector<int32_t>{1, 2}));
    EXPECT_EQ(table[1].liveNumbers, std::vector<int32_t>{3});
    EXPECT_EQ(spawned[0]->poolSlot, 0);
    EXPECT_EQ(spawned[1]->poolSlot, 1);
    EXPECT_EQ(spawned[2]->poolSlot, 0);
    EXPECT_EQ(integer(*state, "D(4).n"), 4);
    EXPECT_EQ(integer(*state, "D(5).n"), 5);
    EXPECT_EQ(sizes(*state), layout(*c.system));

    // Ending the first moves the second to its pool position; the next spawn reuses the first.
    state->removeSpawnedProcess(1);
    EXPECT_EQ(table[0].liveNumbers, std::vector<int32_t>{2});
    c.compiler->spawnProcess(0, {6}, state.get());
    EXPECT_EQ(c.system->getDynamicProcesses().size(), 3u);
    EXPECT_EQ(table[0].liveNumbers, (std::vector<int32_t>{2, 1}));
    EXPECT_EQ(integer(*state, "D(4).n"), 6);
}

TEST_F(Spawning, ReuseInTheStateOfALaterRun)
{
    // Each run starts from a copy of the initial state, made before any process was compiled.
    // Reusing a pooled process there must first give the state the cells of that process.
    auto initial = c.concreteState();
    auto first = run(*initial);
    c.compiler->spawnProcess(0, {4}, first.get());
    first->removeSpawnedProcess(1);

    auto second = run(*initial);
    table[0].liveCount = 0;
    table[0].liveNumbers.clear();
    ASSERT_LT(sizes(*second).integers, layout(*c.system).integers);
    c.compiler->spawnProcess(0, {8}, second.get());
    EXPECT_EQ(c.system->getDynamicProcesses().size(), 1u);
    EXPECT_EQ(sizes(*second), layout(*c.system));
    EXPECT_EQ(integer(*second, "D(4).n"), 8);
    EXPECT_EQ(integer(*second, "D(4).v"), 3);
    EXPECT_EQ(floating(*second, "D(4).w"), 1.5);
    EXPECT_EQ(clock(*second, "D(4).y"), 2.0);
    EXPECT_EQ(second->getLocation(1), c.system->getDynamicProcesses()[0]->initialLocation);
}

TEST_F(Spawning, SpawnFromARunningUpdate)
{
    // The spawn instruction compiles the process while the update runs; the update goes on
    // after it with the code and the state grown.
    auto initial = c.concreteState();
    auto state = run(*initial);
    const Edge& edge = *c.system->getProcesses()[0]->getEdges().at(0);
    edge.getUpdate()->evaluate(state.get());
    EXPECT_EQ(integer(*state, "spawned"), 1);
    ASSERT_EQ(c.system->getDynamicProcesses().size(), 1u);
    EXPECT_EQ(integer(*state, "D(4).n"), 4);
    edge.getUpdate()->evaluate(state.get());
    EXPECT_EQ(integer(*state, "spawned"), 2);
    EXPECT_EQ(table[0].liveNumbers, (std::vector<int32_t>{1, 2}));
}

TEST_F(Spawning, MemberAccessesCompiledIntoEachProcess)
{
    // A sum over the live processes reads the member through the process's own copy of it.
    const ExpressionRef sum = c.compiler->compileValueExpression(c.parse("sum (p : D) p.v"), false);
    auto initial = c.concreteState();
    auto state = run(*initial);
    c.compiler->spawnProcess(0, {4}, state.get());
    c.compiler->spawnProcess(0, {5}, state.get());
    for (const auto& process : c.system->getDynamicProcesses()) {
        EXPECT_EQ(process->dynamicEvaluations.size(), 1u);
    }
    c.variable("D(5).v")->setValue(state.get(), 10);
    EXPECT_EQ(sum->evaluate(state.get()), 13);
}

TEST_F(Spawning, PooledProcessLearnsMembersOfLaterQueries)
{
    // A query compiled after a process was made may read a member of the template the process
    // has no code for; when the process is reused the member is compiled into it, instead of the
    // access finding no entry to run.
    const ExpressionRef sum = c.compiler->compileValueExpression(c.parse("sum (p : D) p.v"), false);
    auto initial = c.concreteState();
    auto first = run(*initial);
    c.compiler->spawnProcess(0, {4}, first.get());
    first->removeSpawnedProcess(1);
    Process& d = *c.system->getDynamicProcesses()[0];
    ASSERT_EQ(d.dynamicEvaluations.size(), 1u);

    // What a later query's access to p.v leaves in the template's list.
    std::vector<expression_t>& members = c.system->dynamicTemplates[0]->dynamicEvaluations;
    members.push_back(members[0]);
    auto second = run(*initial);
    table[0].liveCount = 0;
    table[0].liveNumbers.clear();
    c.compiler->spawnProcess(0, {5}, second.get());
    EXPECT_EQ(c.system->getDynamicProcesses().size(), 1u);
    ASSERT_EQ(d.dynamicEvaluations.size(), 2u);
    // An entry designates the member: it yields the member's address, which the access loads.
    EXPECT_EQ(d.dynamicEvaluations[1]->evaluate(second.get()), static_cast<int32_t>(c.index("D(4).v")));
    EXPECT_EQ(sum->evaluate(second.get()), 3);
    EXPECT_EQ(c.compiler->getCurrentSymbol(), c.compiler->getRootSymbol());
}

TEST_F(Spawning, LiveProcessesLearnMembersReadByANewProcess)
{
    // F's update reads D's member v: compiling F, at its first spawn, gives D a new member
    // expression while D(4) and D(5) are live. They get it at once, so the update finds an
    // entry to run for each.
    auto initial = c.concreteState();
    auto state = run(*initial);
    c.compiler->spawnProcess(0, {4}, state.get());
    c.compiler->spawnProcess(0, {5}, state.get());
    c.variable("D(5).v")->setValue(state.get(), 10);
    c.compiler->spawnProcess(2, {}, state.get());
    const auto& spawned = c.system->getDynamicProcesses();
    ASSERT_EQ(spawned.size(), 3u);
    EXPECT_EQ(spawned[0]->dynamicEvaluations.size(), 1u);
    EXPECT_EQ(spawned[1]->dynamicEvaluations.size(), 1u);

    const Edge& edge = *spawned[2]->getEdges().at(0);
    edge.getUpdate()->evaluate(state.get());
    EXPECT_EQ(integer(*state, "F.got"), 13);
    EXPECT_EQ(c.compiler->getCurrentSymbol(), c.compiler->getRootSymbol());
}

TEST_F(Spawning, ArgumentsOutsideTheParameterRangeAreRefused)
{
    // D's parameter is int[0,100]. The first spawn and the reuse of a pooled process refuse a
    // value outside it alike, where the range is declared, before anything is made or reset.
    auto initial = c.concreteState();
    auto state = run(*initial);
    const span_t declared = c.system->dynamicTemplates[0]->parameters[0].getType().getPosition();
    auto expectRefused = [&](int32_t argument) {
        SCOPED_TRACE(argument);
        try {
            c.compiler->spawnProcess(0, {argument}, state.get());
            ADD_FAILURE() << "no error";
        } catch (const CompileError& error) {
            EXPECT_STREQ(error.what(), "$Initial_value_out_of_range");
            EXPECT_EQ(error.getPosition(), declared.packed());
        }
        EXPECT_EQ(table[0].liveCount, 0);
        EXPECT_TRUE(table[0].liveNumbers.empty());
        EXPECT_EQ(c.compiler->getCurrentSymbol(), c.compiler->getRootSymbol());
    };
    expectRefused(101);
    EXPECT_TRUE(c.system->getDynamicProcesses().empty());

    c.compiler->spawnProcess(0, {100}, state.get());
    c.variable("D(100).v")->setValue(state.get(), 9);
    state->removeSpawnedProcess(1);
    expectRefused(-1);
    EXPECT_EQ(integer(*state, "D(100).n"), 100);
    EXPECT_EQ(integer(*state, "D(100).v"), 9);
}

TEST_F(Spawning, ASpawnNeedsTheRunsTable)
{
    auto initial = c.concreteState();
    ConcreteState state(*initial);
    EXPECT_THROW(c.compiler->spawnProcess(0, {4}, &state), Bug);
    EXPECT_THROW(c.compiler->spawnProcess(5, {}, run(*initial).get()), Bug);
}
