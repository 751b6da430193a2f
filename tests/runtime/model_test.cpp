// The compiled model: edges and transitions, locations and their table, processes and the
// propagation of location bounds, and the System's tables, special variables and priorities.

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "runtime/channels.h"
#include "runtime/concrete_state.h"
#include "runtime/exceptions.h"
#include "runtime/symbolic_state.h"
#include "runtime/system.h"
#include "support/exceptions.h"
#include "testkit/expressions.h"
#include "testkit/model_builder.h"

using testkit::EdgeSpec;
using testkit::LocationSpec;
using testkit::ModelBuilder;
using testkit::TwoProcessModel;

// ---- Edges and transitions ----------------------------------------------------------------------

TEST(Edges, PrintAndTraceEntries)
{
    TwoProcessModel m = testkit::makeTwoProcessModel();
    std::ostringstream os;
    m.send->print(os, 0);
    EXPECT_EQ(os.str(), "P.A->P.B { n < 10 && x >= 2, c!, x := 0, n := n + 1 }");
    os.str("");
    m.receive->print(os, 1);
    EXPECT_EQ(os.str(), "\tQ.A->Q.B { \t, c?, y := 0 }");

    os.str("");
    m.send->writeTraceEntries(os);
    EXPECT_EQ(os.str(), "");
    m.send->addSelectRecord(3, {1, 2});
    m.send->writeTraceEntries(os);
    EXPECT_EQ(os.str(), "0 3 1 2 ; ");
    m.receive->addSelectRecord(1, {});
    m.receive->addSelectRecord(2, {7});
    os.str("");
    m.receive->writeTraceEntries(os);
    EXPECT_EQ(os.str(), "1 2 7 ; 1 1 ; ");

    Edge* const tuple[] = {m.send, m.receive, nullptr};
    os.str("");
    printEdgeTuple(os, tuple);
    EXPECT_EQ(os.str(), "P.A->P.B { n < 10 && x >= 2, c!, x := 0, n := n + 1 }\nQ.A->Q.B { , c?, y := 0 }\n");
}

TEST(Edges, ReadAndWriteSetsAndClockMask)
{
    TwoProcessModel m = testkit::makeTwoProcessModel();
    const uint32_t n = static_cast<uint32_t>(m.n->getIndex());
    EXPECT_EQ(m.send->getWrites(), (IndexSet{static_cast<uint32_t>(m.x->getIndex()), n}));
    EXPECT_EQ(m.send->getReads().count(n), 1u);
    // Written: x; read: nothing of the clocks (the clock guard's parts are constants).
    ASSERT_NE(m.send->getClockMask(), nullptr);
    EXPECT_EQ(m.send->getClockMask()[0], 1u << 1);
    EXPECT_EQ(m.receive->getClockMask()[0], 1u << 2);
}

TEST(EdgeTuples, InternedByContentAndOrder)
{
    TwoProcessModel m = testkit::makeTwoProcessModel();
    Edge* const empty1[] = {nullptr};
    Edge* const empty2[] = {nullptr};
    EdgeTuple e = internEdgeTuple(empty1);
    EXPECT_EQ(internEdgeTuple(empty2), e);
    EXPECT_EQ(emptyEdgeTuple(), e);
    EXPECT_EQ(edgeTupleSize(e), 1u);
    EXPECT_TRUE(isControllableTuple(e));

    Edge* const ab[] = {m.send, m.receive, nullptr};
    Edge* const ba[] = {m.receive, m.send, nullptr};
    std::vector<Edge*> fresh = {m.send, m.receive, nullptr};
    EdgeTuple first = internEdgeTuple(ab);
    EXPECT_NE(first, ab);
    EXPECT_NE(internEdgeTuple(ba), first);
    EXPECT_EQ(internEdgeTuple(fresh.data()), first);
    EXPECT_TRUE(edgeTupleEquals(first, fresh.data()));
    EXPECT_FALSE(edgeTupleEquals(first, ba));
    EXPECT_EQ(edgeTupleSize(first), 3u);
    EXPECT_EQ(edgeTupleCount(), 3u);

    std::vector<Edge*> destination(4, m.send);
    EXPECT_EQ(copyEdgeTuple(destination.data(), first), destination.data() + 3);
    EXPECT_EQ(destination[2], nullptr);

    EXPECT_FALSE(isControllableTuple(first));
    m.send->controllable = true;
    m.receive->controllable = true;
    EXPECT_TRUE(isControllableTuple(first));

    clearEdgeTuples();
    EXPECT_EQ(edgeTupleCount(), 0u);
    EXPECT_EQ(edgeTupleSize(emptyEdgeTuple()), 1u);
}

// Leaves its tuples interned on purpose: the table frees them when the process ends, so the leak
// check of the sanitizer build reports nothing for this test.
TEST(EdgeTuples, TuplesLeftInternedAtExitAreFreedWithTheTable)
{
    TwoProcessModel m = testkit::makeTwoProcessModel();
    Edge* const single[] = {m.send, nullptr};
    Edge* const pair[] = {m.send, m.receive, nullptr};
    EXPECT_NE(internEdgeTuple(single), internEdgeTuple(pair));
    EXPECT_NE(emptyEdgeTuple(), nullptr);
    EXPECT_EQ(edgeTupleCount(), 3u);
}

// ---- Locations ----------------------------------------------------------------------------------

TEST(LocationTable, LimitAndLookups)
{
    LocationTable table;
    EXPECT_NO_THROW(table.reserve(16777216));
    try {
        table.reserve(16777217);
        FAIL() << "more than 16777216 locations accepted";
    } catch (const RuntimeError& e) {
        EXPECT_STREQ(e.what(), "Cannot handle systems with more than 16777216 locations");
    }

    LocationTable small;
    small.reserve(3);
    std::vector<Location*> stored;
    for (int k = 0; k < 3; ++k) {
        stored.push_back(small.add(0, k, "L" + std::to_string(k), false, false, false));
    }
    Location* s1 = small.add(1, 0, "S1", false, false, true);
    Location* s2 = small.add(1, 1, "S2", false, false, true);
    EXPECT_EQ(small.size(), 3u);
    EXPECT_EQ(small.get(3), s1);
    EXPECT_EQ(small.get(4), s2);
    EXPECT_EQ(s2->getGlobalIndex(), 4);
    EXPECT_EQ(small.get(1), stored[1]);
    // The announced locations lie in one block.
    EXPECT_EQ(stored[2] - stored[0], 2);
}

TEST(LocationTable, LocationsNeverMove)
{
    LocationTable table;
    std::vector<Location*> added;
    for (int k = 0; k < 1000; ++k) {
        added.push_back(table.add(0, k, "L", false, false, false));
    }
    for (int k = 0; k < 1000; ++k) {
        EXPECT_EQ(table.get(static_cast<size_t>(k)), added[static_cast<size_t>(k)]);
        EXPECT_EQ(added[static_cast<size_t>(k)]->getGlobalIndex(), k);
    }
}

TEST(Locations, ChannelBits)
{
    ChannelBits none(40);
    ChannelBits other(40);
    other.setSend(33);
    EXPECT_FALSE(none.any());
    EXPECT_FALSE(none.canSynchroniseWith(other));
    ChannelBits receiver(40);
    receiver.setReceive(33);
    EXPECT_TRUE(receiver.any());
    EXPECT_TRUE(receiver.canSynchroniseWith(other));
    EXPECT_TRUE(other.canSynchroniseWith(receiver));
    receiver.clearReceive(33);
    EXPECT_FALSE(receiver.canSynchroniseWith(other));
    const uint32_t words[2] = {0, 2};
    EXPECT_TRUE(other.sendsAnyOf(words));
}

TEST(Locations, UrgentEdgeListsAndChannelBitsAfterLinking)
{
    {
        TwoProcessModel m = testkit::makeTwoProcessModel(true, false);
        ASSERT_EQ(m.pA->getUrgentEdges().size(), 1u);
        EXPECT_EQ(m.pA->getUrgentEdges()[0].get(), m.send);
        EXPECT_EQ(m.qA->getUrgentEdges()[0].get(), m.receive);
        EXPECT_TRUE(m.pA->getUrgentChannels().canSynchroniseWith(m.qA->getUrgentChannels()));
        EXPECT_TRUE(m.pA->getUrgentBroadcastEdges().empty());
        EXPECT_FALSE(m.pB->getChannels().any());
    }
    {
        TwoProcessModel m = testkit::makeTwoProcessModel(true, true);
        ASSERT_EQ(m.pA->getUrgentBroadcastEdges().size(), 1u);
        EXPECT_TRUE(m.pA->getUrgentEdges().empty());
        // A broadcast receiver is in neither list and sets no channel bit.
        EXPECT_TRUE(m.qA->getUrgentBroadcastEdges().empty());
        EXPECT_FALSE(m.qA->getChannels().any());
    }
    {
        TwoProcessModel m = testkit::makeTwoProcessModel();
        EXPECT_TRUE(m.pA->getUrgentEdges().empty());
        EXPECT_TRUE(m.pA->getChannels().canSynchroniseWith(m.qA->getChannels()));
        EXPECT_FALSE(m.pA->getUrgentChannels().any());
        EXPECT_EQ(m.send->getProcess(), m.p);
        EXPECT_EQ(m.p->getOutgoingEdges(0).size(), 1u);
        EXPECT_EQ(m.p->getIncomingEdges(1)[0].get(), m.send);
    }
}

// ---- Propagation of location bounds -------------------------------------------------------------

namespace {
int32_t upper(const Location* l, uint32_t clock)
{
    const auto& bounds = l->getExtrapolationInfo().getUpperBounds();
    auto it = bounds.find(clock);
    return it == bounds.end() ? -1073741823 : it->second;
}
}  // namespace

TEST(Propagation, OneLocationTakesItsInvariant)
{
    ModelBuilder b;
    ClockVariable* x = b.clock("x");
    Process* p = b.process("P", {{"A", testkit::clockUpper(x, false, 4), "x <= 4"}});
    b.finish();
    const Location* a = p->getLocation(0);
    EXPECT_EQ(upper(a, 1), 4);
    EXPECT_FALSE(a->isLoopEntry());
    ASSERT_NE(a->getActiveClocks(), nullptr);
    EXPECT_EQ(a->getActiveClocks()[0], 0x3u);
}

TEST(Propagation, LoopEntriesAreLocationsEnteredFromThePath)
{
    ModelBuilder b;
    Process* p = b.process("P", {{"A"}, {"B"}, {"C"}, {"D"}});
    b.edge(p, "A", "A");
    b.edge(p, "A", "B");
    b.edge(p, "B", "C");
    b.edge(p, "C", "B");
    b.finish();
    EXPECT_TRUE(p->getLocation(0)->isLoopEntry());
    EXPECT_TRUE(p->getLocation(1)->isLoopEntry());
    EXPECT_FALSE(p->getLocation(2)->isLoopEntry());
    EXPECT_FALSE(p->getLocation(3)->isLoopEntry());
    std::ostringstream os;
    p->print(os);
    EXPECT_EQ(os.str().substr(0, 80),
              "Process: P\n  Process with 4 states.\nStates:\n  +A+ { }\n\n  +B+ { }\n\n  C { }\n\n  D {");
}

TEST(Propagation, ResetsBlockBoundsAndCopiesCarryThem)
{
    for (bool copies : {false, true}) {
        ModelBuilder b;
        ClockVariable* x = b.clock("x");
        ClockVariable* y = b.clock("y");
        Process* p = b.process("P", {{"S"}, {"T", testkit::clockUpper(x, false, 5), "x <= 5"}, {"U"}, {"V"}});
        EdgeSpec reset;
        reset.update = testkit::assign(x, 0);
        b.edge(p, "S", "T", reset);
        EdgeSpec copy;
        copy.update = testkit::copy(x, y);
        b.edge(p, "U", "T", copy);
        EdgeSpec plain;
        b.edge(p, "V", "T", plain);
        b.system().hasClockCopies = copies;
        b.finish();
        const Location* s = p->getLocation(0);
        const Location* u = p->getLocation(2);
        const Location* v = p->getLocation(3);
        EXPECT_EQ(upper(s, 1), -1073741823) << copies;
        EXPECT_EQ(upper(v, 1), 5) << copies;
        EXPECT_EQ(upper(u, 1), -1073741823) << copies;
        EXPECT_EQ(upper(u, 2), copies ? 5 : -1073741823) << copies;
        // x is active where it is bounded, not at the source of its reset.
        EXPECT_EQ(s->getActiveClocks()[0] & 2u, 0u) << copies;
        EXPECT_EQ(v->getActiveClocks()[0] & 2u, 2u) << copies;
    }
}

TEST(Propagation, ACycleCarriesABoundAllTheWayRound)
{
    ModelBuilder b;
    ClockVariable* x = b.clock("x");
    std::vector<LocationSpec> locations;
    for (int k = 0; k < 5; ++k) {
        locations.push_back({"L" + std::to_string(k)});
    }
    locations.back().invariant = testkit::clockUpper(x, false, 7);
    Process* p = b.process("P", locations);
    for (int k = 0; k < 5; ++k) {
        b.edge(p, "L" + std::to_string(k), "L" + std::to_string((k + 1) % 5));
    }
    b.finish();
    for (int k = 0; k < 5; ++k) {
        EXPECT_EQ(upper(p->getLocation(static_cast<size_t>(k)), 1), 7) << k;
    }
}

TEST(Propagation, ActiveVariablesFlowBackUntilWritten)
{
    ModelBuilder b;
    StateVariable* v = b.variable("v", 0, 5, 0);
    StateVariable* w = b.variable("w", 0, 5, 0);
    Process* p = b.process("P", {{"A"}, {"B"}, {"C"}, {"D"}});
    EdgeSpec writeV;
    writeV.update = testkit::assign(v, 1);
    b.edge(p, "A", "B", writeV);
    b.edge(p, "B", "C");
    EdgeSpec readBoth;
    readBoth.guard = testkit::sequence(testkit::compare(v, testkit::Relation::Equal, 1),
                                       testkit::compare(w, testkit::Relation::Equal, 0));
    b.edge(p, "C", "D", readBoth);
    b.finish();
    const int32_t vi = static_cast<int32_t>(v->getIndex());
    const int32_t wi = static_cast<int32_t>(w->getIndex());
    EXPECT_EQ(p->getLocation(2)->getActiveVariableSet(), (std::set<int32_t>{vi, wi}));
    EXPECT_EQ(p->getLocation(1)->getActiveVariableSet(), (std::set<int32_t>{vi, wi}));
    EXPECT_EQ(p->getLocation(0)->getActiveVariableSet(), (std::set<int32_t>{wi}));
    EXPECT_TRUE(p->getLocation(3)->getActiveVariableSet().empty());
}

TEST(Propagation, AnActiveHybridClockIsRefused)
{
    ModelBuilder b;
    ClockVariable* x = b.clock("x");
    x->setHybrid(true);
    b.process("Plant", {{"A", testkit::clockUpper(x, false, 4), "x <= 4"}});
    try {
        b.finish();
        FAIL() << "active hybrid clock accepted";
    } catch (const RuntimeException& e) {
        EXPECT_STREQ(e.what(), "Hybrid clock x should not be active in Plant");
    }
}

TEST(Processes, ChannelSetsAndTheirMerge)
{
    clearChannels();
    registerChannel(false, false, "a");
    registerChannel(false, false, "b");
    base::RefPtr<Process> p(new Process(1, "P"));
    base::RefPtr<Process> q(new Process(1, "Q"));
    EXPECT_EQ(p->getOutputChannels(), nullptr);
    p->addOutputChannel(2);
    q->addOutputChannel(2);
    q->addInputChannel(1);
    uint32_t input[1] = {0};
    uint32_t output[1] = {0};
    EXPECT_EQ(p->mergeChannelSets(input, output, false), "");
    EXPECT_EQ(output[0], 4u);
    EXPECT_EQ(q->mergeChannelSets(input, output, true), "b");
    EXPECT_EQ(input[0], 2u);
    clearChannels();
}

// ---- The System ---------------------------------------------------------------------------------

TEST(System, VariableIndicesAndLookups)
{
    // The compiler adds the static model first, then the variables of dynamic templates.
    base::RefPtr<System> s(new System());
    s->addClock("t(0)", false, 0.0);
    StateVariable* a = s->addStateVariable("a", 0, 1, 0, false);
    ClockVariable* x = s->addClock("x", false, 0.0);
    ClockVariable* extraClock = s->addClock("e", true, 0.0);
    StateVariable* extra = s->addStateVariable("z", 0, 1, 0, true);
    EXPECT_EQ(a->getIndex(), 1u);
    EXPECT_EQ(x->getIndex(), 2u);
    EXPECT_EQ(extraClock->getIndex(), 3u);
    EXPECT_TRUE(extraClock->isExtra());
    EXPECT_EQ(extra->getIndex(), 4u);
    EXPECT_EQ(extra->getPosition(), 1u);
    EXPECT_EQ(x->getClockNumber(), 1);
    EXPECT_EQ(extraClock->getClockNumber(), 2);
    EXPECT_EQ(s->getVariable(4), extra);
    EXPECT_EQ(a->reads, IndexSet{1});
    EXPECT_EQ(s->findVariable("z"), extra);
    EXPECT_EQ(s->findVariable("nothing"), nullptr);
    EXPECT_EQ(s->getClockVariable(1), x);
    EXPECT_EQ(s->getClockVariable(2), extraClock);
    EXPECT_EQ(s->getClockVariable(3), nullptr);
    EXPECT_EQ(s->collectClocks({0, 1, 2, 3, 4, 99}), (IndexSet{0, 1, 2}));
    EXPECT_EQ(s->collectStateVariables({1, 2, 4}), (IndexSet{0, 1}));

    base::RefPtr<Process> p(new Process(0, "P"));
    ConstantVariable* number = s->addProcess(p, false);
    EXPECT_EQ(number->getValue(nullptr), 0);
    EXPECT_EQ(number->getIndex(), 5u);
    EXPECT_EQ(s->findProcess("P"), p.get());
    base::RefPtr<Process> d(new Process(0, "D(1)"));
    EXPECT_EQ(s->addProcess(d, true)->getValue(nullptr), 1);
    EXPECT_EQ(s->getProcess(1), d.get());
    EXPECT_EQ(s->addCost(), nullptr);

    // Main: t(0) a x; extra: e z P D (P follows the extra variables there).
    EXPECT_EQ(s->nextVariableIndex(), 7u);
    s->truncateVariables(5);
    EXPECT_EQ(s->getExtraVariables().size(), 2u);
    EXPECT_EQ(s->getVariable(4), extra);
    // Cutting the main table would move every extra index.
    EXPECT_THROW(s->truncateVariables(2), Bug);
    EXPECT_EQ(s->getVariables().size(), 3u);
    s->truncateVariables(3);
    EXPECT_TRUE(s->getExtraVariables().empty());
    s->truncateVariables(2);
    EXPECT_EQ(s->getVariables().size(), 2u);
}

// Spawning adds variables to the extra table; a query or check compiled afterwards adds more
// (bound variables, temporaries, "#time"). None of them may move what was handed out before.
TEST(System, VariablesAddedAfterExtraOnesKeepEveryIndexAndCell)
{
    base::RefPtr<System> s(new System());
    s->addClock("t(0)", false, 0.0);
    s->addStateVariable("a", 0, 100, 0, false);
    s->addFPVariable("f", false, 0.0);
    s->addStateMetaVariable("m", 0, 100, 0);
    s->addClock("x", false, 0.0);
    s->addStateVariable("z", 0, 100, 0, true);
    s->addFPVariable("g", true, 0.0);
    s->addBitArray("zb", 0, {false, true}, true);
    std::vector<Variable*> before;
    for (const auto* table : {&s->getVariables(), &s->getExtraVariables()}) {
        for (const base::RefPtr<Variable>& variable : *table) {
            before.push_back(variable.get());
        }
    }
    const size_t mainSize = s->getVariables().size();
    const size_t stateCells = s->getStateVariableCount();
    const size_t fpCells = s->getFPVariableCount();
    const auto* z = static_cast<StateVariable*>(s->findVariable("z"));
    const auto* g = static_cast<FPVariable*>(s->findVariable("g"));
    const uint64_t zPosition = z->getPosition();
    const uint64_t gPosition = g->getPosition();

    // Every adder for a non-extra, non-clock variable, once.
    std::vector<Variable*> late{
        s->addStateVariable("late", 0, 100, 5, false),
        s->addFPVariable("lateF", false, 2.5),
        s->addStateMetaVariable("lateM", 0, 100, 0),
        s->addSystemMetaVariable("", 0, 100, 0, false),
        s->addSystemMetaFPVariable("", false, 0.0),
        s->addConstant(7, false),
        s->addConstantFP(false, 0.5),
        s->addBitArray("lateB", 0, {true}, false)[0],
        s->addStateMetaBitArray("lateMB", 0, {true})[0],
        s->addSystemMetaBitArray("lateSB", 0, {true})[0],
        s->addDepthVariable(),
    };
    for (size_t k = 0; k < before.size(); ++k) {
        EXPECT_EQ(before[k]->getIndex(), k);
        EXPECT_EQ(s->getVariable(k), before[k]) << before[k]->getName();
    }
    for (size_t k = 0; k < late.size(); ++k) {
        EXPECT_EQ(late[k]->getIndex(), before.size() + k);
        EXPECT_EQ(s->getVariable(late[k]->getIndex()), late[k]);
        EXPECT_FALSE(late[k]->isExtra());
    }
    EXPECT_EQ(s->getVariables().size(), mainSize);
    EXPECT_EQ(s->getStateVariableCount(), stateCells);
    EXPECT_EQ(s->getFPVariableCount(), fpCells);
    EXPECT_EQ(z->getPosition(), zPosition);
    EXPECT_EQ(g->getPosition(), gPosition);
    // A late constant is a constant like any other, not a spawned process's cell.
    EXPECT_TRUE(late[5]->isConstant());

    // Late variables are set in initial states and printed, as the model's own are.
    std::unique_ptr<ConcreteState> initial(s->buildInitialState());
    EXPECT_EQ(late[0]->getValue(initial.get()), 5);
    EXPECT_EQ(late[1]->getDoubleValue(initial.get()), 2.5);
    std::ostringstream printed;
    s->printVariables(initial.get(), printed);
    EXPECT_NE(printed.str().find("late=5 "), std::string::npos) << printed.str();
    // A floating-point variable prints with its fraction.
    EXPECT_NE(printed.str().find("lateF=2.5 "), std::string::npos) << printed.str();

    // Every cell of a state is its own: no two variables share one.
    ConcreteState state(s.get());
    const std::vector<std::string> integers{"a", "m", "z", "late", "lateM", "#depth"};
    const std::vector<std::string> doubles{"f", "g", "lateF"};
    const std::vector<std::string> bits{"zb[0]", "zb[1]", "lateB[0]", "lateMB[0]"};
    for (size_t k = 0; k < integers.size(); ++k) {
        s->findVariable(integers[k])->assign(&state, static_cast<int32_t>(k + 1));
    }
    for (size_t k = 0; k < doubles.size(); ++k) {
        s->findVariable(doubles[k])->assignDouble(&state, 0.5 + static_cast<double>(k));
    }
    for (size_t k = 0; k < bits.size(); ++k) {
        s->findVariable(bits[k])->assign(&state, static_cast<int32_t>(k % 2));
    }
    for (size_t k = 0; k < integers.size(); ++k) {
        EXPECT_EQ(s->findVariable(integers[k])->getValue(&state), static_cast<int32_t>(k + 1)) << integers[k];
    }
    for (size_t k = 0; k < doubles.size(); ++k) {
        EXPECT_EQ(s->findVariable(doubles[k])->getDoubleValue(&state), 0.5 + static_cast<double>(k)) << doubles[k];
    }
    for (size_t k = 0; k < bits.size(); ++k) {
        EXPECT_EQ(s->findVariable(bits[k])->getValue(&state), static_cast<int32_t>(k % 2)) << bits[k];
    }
}

TEST(System, ClocksAroundSpawnedProcesses)
{
    // A static clock after extra non-clock variables keeps the next static number and follows
    // them in the extra table.
    base::RefPtr<System> s(new System());
    s->addClock("t(0)", false, 0.0);
    ClockVariable* x = s->addClock("x", false, 0.0);
    s->addTimeClock();
    StateVariable* z = s->addStateVariable("z", 0, 1, 0, true);
    ClockVariable* tau = s->addClock("#tau", false, 0.0);
    EXPECT_EQ(tau->getClockNumber(), 3);
    EXPECT_EQ(tau->getIndex(), 4u);
    EXPECT_EQ(s->getClockVariable(3), tau);
    s->removeTauClock(3);
    EXPECT_EQ(s->getClockCount(), 3u);
    EXPECT_EQ(s->findVariable("#tau"), nullptr);
    EXPECT_EQ(s->getVariable(3), z);

    // "#time" stays while the extra table is in use: removing it would move z and e.
    ClockVariable* e = s->addClock("e", true, 0.0);
    EXPECT_EQ(e->getClockNumber(), 3);
    s->removeTimeClock();
    EXPECT_TRUE(s->hasTimeClock());
    EXPECT_EQ(s->getClockVariable(2)->getName(), "#time");
    s->addTimeClock();
    EXPECT_EQ(s->getTimeClock(), 2);
    EXPECT_EQ(s->getClockCount(), 3u);
    EXPECT_EQ(s->getClockVariable(3), e);
    EXPECT_EQ(s->getVariable(4), e);

    // Once extra clocks exist, a new static clock would renumber them: refused.
    const size_t variables = s->nextVariableIndex();
    EXPECT_THROW(s->addClock("#tau", false, 0.0), Bug);
    EXPECT_EQ(s->nextVariableIndex(), variables);
    EXPECT_EQ(s->getClockCount(), 3u);
    EXPECT_EQ(e->getClockNumber(), 3);
    EXPECT_EQ(s->getClockVariable(1), x);

    // Without "#time" before the spawn, adding it after is refused the same way.
    base::RefPtr<System> late(new System());
    late->addClock("t(0)", false, 0.0);
    late->addClock("e", true, 0.0);
    EXPECT_THROW(late->addTimeClock(), Bug);
    EXPECT_FALSE(late->hasTimeClock());
}

TEST(System, BoolArraysArePackedThirtyTwoToASlot)
{
    base::RefPtr<System> s(new System());
    std::vector<bool> bits(33, false);
    bits[32] = true;
    std::vector<StateBitVariable*> array = s->addBitArray("b", 1, bits);
    EXPECT_EQ(s->getStateVariableCount(), 2u);
    EXPECT_EQ(array[31]->getPosition(), 0u);
    EXPECT_EQ(array[32]->getPosition(), 1u);
    EXPECT_EQ(array[32]->getMask(), 1u);
    EXPECT_EQ(array[32]->getInitialValue(), 1);
    EXPECT_EQ(array[32]->getName(), "b[33]");

    std::vector<SystemMetaVariable*> meta = s->addSystemMetaBitArray("m", 0, {true, false});
    EXPECT_EQ(meta[0]->getValue(nullptr), 1);
    EXPECT_EQ(meta[1]->getName(), "m[1]");
    EXPECT_EQ(s->getSystemMetaVariables().size(), 2u);
}

TEST(System, SpecialClocksAndVariables)
{
    TwoProcessModel m = testkit::makeTwoProcessModel();
    System& s = *m.system;

    Variable* depth = s.addDepthVariable();
    const Expression* post = s.getPostUpdate().get();
    EXPECT_EQ(s.addDepthVariable(), depth);
    EXPECT_EQ(s.getPostUpdate().get(), post);
    EXPECT_EQ(s.getStateMetaVariables().size(), 1u);
    Variable* dist = s.addDistVariable();
    EXPECT_EQ(s.addDistVariable(), dist);
    EXPECT_EQ(dist->getLowerBound(), INT32_MIN);

    const size_t clocks = s.getClockCount();
    s.addTimeClock();
    EXPECT_EQ(s.getTimeClock(), static_cast<int32_t>(clocks));
    s.addTimeClock();
    EXPECT_EQ(s.getClockCount(), clocks + 1);
    s.removeTimeClock();
    EXPECT_FALSE(s.hasTimeClock());
    EXPECT_EQ(s.getClockCount(), clocks);
    s.removeTimeClock();

    // "#time" still the last clock but no longer the last variable.
    s.addTimeClock();
    s.addStateVariable("late", 0, 1, 0, false);
    EXPECT_THROW(s.addTimeClock(), Bug);
    EXPECT_THROW(s.removeTimeClock(), Bug);
    EXPECT_TRUE(s.hasTimeClock());

    // A clock added after "#time": no test, nothing changes.
    TwoProcessModel m2 = testkit::makeTwoProcessModel();
    m2.system->addTimeClock();
    ClockVariable* tau = m2.system->addClock("#tau", false, 0.0);
    EXPECT_NO_THROW(m2.system->addTimeClock());
    EXPECT_THROW(m2.system->removeTimeClock(), Bug);
    EXPECT_THROW(m2.system->removeTauClock(tau->getClockNumber() - 1), Bug);
    m2.system->removeTauClock(tau->getClockNumber());
    EXPECT_EQ(m2.system->findVariable("#tau"), nullptr);
    m2.system->removeTimeClock();
    EXPECT_EQ(m2.system->getClockCount(), 3u);
}

TEST(System, DepthCountsTransitionsAndStopsAtTheTop)
{
    TwoProcessModel m = testkit::makeTwoProcessModel();
    Variable* depth = m.system->addDepthVariable();
    SymbolicState* state = m.system->makeInitialState();
    Edge* const tuple[] = {m.receive, nullptr};
    m.system->applyUpdates(state, tuple);
    m.system->applyUpdates(state, tuple);
    EXPECT_EQ(depth->getValue(state), 2);
    state->getMetaVariables()[0] = INT32_MAX;
    m.system->applyUpdates(state, tuple);
    EXPECT_EQ(depth->getValue(state), INT32_MAX);
    state->release();
}

TEST(System, ChannelPriorities)
{
    struct Case
    {
        const char* name;
        std::vector<std::pair<int32_t, int32_t>> higherLower;
        bool consistent;
        bool total;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"1 < 2 < 3, default unordered", {{2, 1}, {3, 2}}, true, false, ""},
        {"0 < 1 < 2 < 3", {{2, 1}, {3, 2}, {1, 0}}, true, true, ""},
        {"no priorities: one level", {}, true, true, ""},
        {"both orders of one pair", {{2, 1}, {1, 2}}, false, false,
         "$Inconsistent_priorities_for_channels 1 $and 2"},
        {"a cycle of three", {{2, 1}, {3, 2}, {1, 3}}, false, false, "$Inconsistent_priorities_for_channels 1 $and 2"},
        {"a channel above itself", {{2, 2}}, false, false, "$Inconsistent_priorities_for_channels 2 $and 2"},
    };
    for (const Case& c : cases) {
        base::RefPtr<System> s(new System());
        s->resizePriorityMatrix(3);
        for (const auto& [h, l] : c.higherLower) {
            s->addChannelPriorities({h}, {l});
        }
        std::string message;
        EXPECT_EQ(s->checkChannelPriorities(message), c.consistent) << c.name;
        EXPECT_EQ(s->priorityOrderTotal, c.total) << c.name;
        EXPECT_EQ(message, c.message) << c.name;
    }

    base::RefPtr<System> s(new System());
    s->resizePriorityMatrix(3);
    s->addChannelPriorities({2}, {1});
    std::string message;
    ASSERT_TRUE(s->checkChannelPriorities(message));
    EXPECT_TRUE(s->isHigherPriority(2, 1));
    EXPECT_FALSE(s->isHigherPriority(1, 2));
    EXPECT_EQ(s->getPriorityDimension(), 4u);

    // Channels not mentioned take the default level's place towards the mentioned ones.
    base::RefPtr<System> d(new System());
    d->resizePriorityMatrix(3);
    d->addChannelPriorities({1}, {0});
    d->applyDefaultPriority({false, true, false, false});
    EXPECT_TRUE(d->isHigherPriority(1, 2));
    EXPECT_TRUE(d->isHigherPriority(1, 3));
    EXPECT_FALSE(d->isHigherPriority(2, 1));

    base::RefPtr<System> empty(new System());
    EXPECT_TRUE(empty->checkChannelPriorities(message));
    EXPECT_TRUE(empty->priorityOrderTotal);
}

TEST(System, PrintingStatesAndStatistics)
{
    TwoProcessModel m = testkit::makeTwoProcessModel();
    SymbolicState* state = m.system->makeInitialState();
    std::ostringstream os;
    m.system->printState(state, os, nullptr);
    EXPECT_EQ(os.str(), "( P.A Q.A ) n=1 \n");
    os.str("");
    const uint8_t mask[2] = {0, 1};
    m.system->printLocations(state, os, mask);
    EXPECT_EQ(os.str(), "( Q.A )");
    state->release();

    ModelBuilder b;
    b.process("P", {{"A"}});
    base::RefPtr<System> bare = b.finish();
    SymbolicState* s = bare->makeInitialState();
    os.str("");
    s->print(os, nullptr);
    EXPECT_EQ(os.str(), "( P.A ) \n");
    s->release();

    m.pA->timesEntered = 2;
    m.qB->timeSpent = 1.5;
    m.send->visits = 3;
    os.str("");
    m.system->printStatistics(os);
    EXPECT_EQ(os.str(),
              "\nEntered locations:\nP.A => 2\nP.B => 0\nQ.A => 0\nQ.B => 0\n"
              "\nTime spent in locations:\nP.A => 0\nP.B => 0\nQ.A => 0\nQ.B => 1.5\n"
              "\nVisited edges: \nP.A->P.B { n < 10 && x >= 2, c!, x := 0, n := n + 1 } => 3\n"
              "Q.A->Q.B { , c?, y := 0 } => 0\n");
    m.system->resetStatistics();
    EXPECT_EQ(m.pA->timesEntered, 0u);
    EXPECT_EQ(m.qB->timeSpent, 0.0);
    EXPECT_EQ(m.send->visits, 0u);
}

namespace {
struct CountingVisitor : ModelVisitor
{
    std::vector<std::string> order;
    void visitSystem(System*) override { order.push_back("system"); }
    void visitProcess(Process* p) override { order.push_back(p->getName()); }
    void visitLocation(Location* l) override { order.push_back(l->getName()); }
    void visitEdge(Edge*) override { order.push_back("edge"); }
};
}  // namespace

TEST(System, ModelWalkIsPostOrder)
{
    TwoProcessModel m = testkit::makeTwoProcessModel();
    ModelVisitor nothing;
    m.system->accept(nothing);
    CountingVisitor visitor;
    m.system->accept(visitor);
    EXPECT_EQ(visitor.order,
              (std::vector<std::string>{"A", "B", "edge", "P", "A", "B", "edge", "Q", "system"}));

    // The model's own clock constants, as the extrapolation stages collect them.
    ExtrapolationInfo info;
    m.system->accept(info);
    EXPECT_EQ(info.getUpperBounds().at(1), 5);
    EXPECT_EQ(info.getLowerBounds().at(1), 2);
    EXPECT_EQ(info.getUpperBounds().at(2), 3);
}
