// Discrete, symbolic and concrete states: urgency tests, the state pool, comparison, delay and text.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "runtime/concrete_state.h"
#include "runtime/exceptions.h"
#include "runtime/symbolic_state.h"
#include "runtime/system.h"
#include "support/globals.h"
#include "testkit/expressions.h"
#include "testkit/model_builder.h"

using dbm::boundLE;
using dbm::boundLT;
using testkit::EdgeSpec;
using testkit::ModelBuilder;
using testkit::Probe;
using testkit::TwoProcessModel;

// ---- Urgency tests ------------------------------------------------------------------------------

namespace {
// P sends and Q receives on channel c; both guards are probes the test can inspect.
struct UrgencyModel
{
    base::RefPtr<System> system;
    base::RefPtr<Probe> sendGuard{new Probe(1)};
    base::RefPtr<Probe> receiveGuard{new Probe(1)};
    Edge* send;
    Edge* receive;

    UrgencyModel(bool urgent, bool broadcast, bool guardsFail = false)
    {
        sendGuard->fails = guardsFail;
        receiveGuard->fails = guardsFail;
        ModelBuilder b;
        const int32_t c = b.channel("c", urgent, broadcast);
        Process* p = b.process("P", {{"A"}, {"B"}});
        Process* q = b.process("Q", {{"A"}, {"B"}});
        EdgeSpec s;
        s.sync = c;
        s.guard = ExpressionRef(sendGuard.get());
        send = b.edge(p, "A", "B", s);
        EdgeSpec r;
        r.sync = -c;
        r.guard = ExpressionRef(receiveGuard.get());
        receive = b.edge(q, "A", "B", r);
        system = b.finish();
    }
};

bool urgentSync(System& system, int32_t group = -1, const uint8_t* mask = nullptr)
{
    SymbolicState* state = system.makeInitialState();
    const bool result = state->hasEnabledUrgentSync(group, mask);
    state->release();
    return result;
}
}  // namespace

TEST(UrgencyTests, WithoutUrgentChannelsNoGuardIsEvaluated)
{
    UrgencyModel m(false, false, true);
    EXPECT_FALSE(urgentSync(*m.system));
    EXPECT_EQ(m.sendGuard->evaluations, 0);
    EXPECT_EQ(m.receiveGuard->evaluations, 0);
}

TEST(UrgencyTests, UrgentBinaryChannelNeedsBothGuards)
{
    struct Case
    {
        const char* name;
        int32_t send;
        int32_t receive;
        bool enabled;
    };
    for (const Case& c : std::vector<Case>{{"both hold", 1, 1, true},
                                           {"sender's guard fails", 0, 1, false},
                                           {"receiver's guard fails", 1, 0, false}}) {
        UrgencyModel m(true, false);
        m.sendGuard->value = c.send;
        m.receiveGuard->value = c.receive;
        EXPECT_EQ(urgentSync(*m.system), c.enabled) << c.name;
    }

    // The receiver's synchronisation must be the negation of the sender's.
    UrgencyModel m(true, false);
    m.receive->setSync(testkit::constant(-2), m.receive->getChannels(), "d?");
    EXPECT_FALSE(urgentSync(*m.system));

    // Processes left out by the mask or the group take no part.
    UrgencyModel selected(true, false);
    const uint8_t onlyP[2] = {1, 0};
    EXPECT_FALSE(urgentSync(*selected.system, -1, onlyP));
    selected.system->getProcesses()[1]->group = 4;
    EXPECT_FALSE(urgentSync(*selected.system, 0, nullptr));
    EXPECT_TRUE(urgentSync(*selected.system, -1, nullptr));
}

TEST(UrgencyTests, UrgentBroadcastSenderNeedsNoReceiver)
{
    UrgencyModel m(true, true);
    m.receiveGuard->value = 0;
    EXPECT_TRUE(urgentSync(*m.system));
    m.sendGuard->value = 0;
    EXPECT_FALSE(urgentSync(*m.system));
}

TEST(UrgencyTests, EdgesOfOneProcessNeverSynchroniseWithEachOther)
{
    ModelBuilder b;
    const int32_t c = b.channel("c", true, false);
    Process* p = b.process("P", {{"A"}, {"B"}});
    EdgeSpec s;
    s.sync = c;
    b.edge(p, "A", "B", s);
    EdgeSpec r;
    r.sync = -c;
    b.edge(p, "A", "B", r);
    base::RefPtr<System> system = b.finish();
    EXPECT_FALSE(urgentSync(*system));
}

TEST(UrgencyTests, UrgentAndCommittedLocations)
{
    ModelBuilder b;
    Process* p = b.process("P", {{"A"}, {"U", nullptr, "", false, true}});
    b.process("Q", {{"A"}, {"C", nullptr, "", true, false}});
    base::RefPtr<System> system = b.finish();
    ConcreteState state(system.get());
    EXPECT_EQ(state.getLocation(0), nullptr);
    EXPECT_EQ(state.getVariables(), state.getIntegerArray().values);
    EXPECT_FALSE(state.hasUrgentOrCommittedLocation(nullptr));

    state.setLocation(0, p->getLocation(0));
    state.setLocation(1, b.location(system->getProcesses()[1].get(), "C"));
    EXPECT_TRUE(state.hasUrgentOrCommittedLocation(-1));
    EXPECT_TRUE(state.hasCommittedLocation(-1));
    const uint8_t onlyP[2] = {1, 0};
    EXPECT_FALSE(state.hasUrgentOrCommittedLocation(onlyP));
    system->getProcesses()[1]->group = 1;
    EXPECT_FALSE(state.hasCommittedLocation(0));
    EXPECT_TRUE(state.hasCommittedLocation(1));

    // A dynamic slot counts only without a mask, and empty slots are skipped.
    state.setLocation(1, nullptr);
    ASSERT_TRUE(state.growLocationVector(2));
    EXPECT_EQ(state.getDynamicProcessCount(), 2u);
    EXPECT_FALSE(state.hasUrgentOrCommittedLocation(nullptr));
    state.setLocation(3, p->getLocation(1));
    EXPECT_TRUE(state.hasUrgentOrCommittedLocation(nullptr));
    EXPECT_FALSE(state.hasUrgentOrCommittedLocation(-1));
}

// ---- Symbolic states ----------------------------------------------------------------------------

TEST(StatePool, LastInFirstOutAndNothingLeaks)
{
    TwoProcessModel m = testkit::makeTwoProcessModel();
    System& s = *m.system;
    SymbolicState* a = s.acquireState();
    SymbolicState* b = s.acquireState();
    EXPECT_EQ(s.statesInUse(), 2u);
    a->release();
    b->release();
    EXPECT_EQ(s.statesInUse(), 0u);
    EXPECT_EQ(s.acquireState(), b);
    EXPECT_EQ(s.acquireState(), a);
    EXPECT_EQ(s.getPoolCounters().created, 2u);

    SymbolicState* c = a->clone();
    SymbolicState* d = a->duplicate();
    SymbolicState* e = a->cloneDiscrete();
    for (SymbolicState* state : {a, b, c, d, e}) {
        state->release();
    }
    EXPECT_EQ(s.statesInUse(), 0u);
    EXPECT_EQ(s.pooledStates(), 5u);
    // A layout change deletes the pooled states, which were made for the old layout.
    s.addTimeClock();
    EXPECT_EQ(s.pooledStates(), 0u);
    SymbolicState* fresh = s.makeInitialState();
    EXPECT_EQ(fresh->zone.getDimension(), 4u);
    fresh->release();
}

TEST(SymbolicStates, CopiesShareTheZoneUntilOneChangesIt)
{
    TwoProcessModel m = testkit::makeTwoProcessModel();
    SymbolicState* source = m.system->makeInitialState();
    source->delay();
    source->storeMark = 1;
    source->traceIndex = 9;
    SymbolicState* copy = source->clone();
    EXPECT_EQ(copy->zone.getHeader(), source->zone.getHeader());
    EXPECT_EQ(copy->traceIndex, 9);
    EXPECT_EQ(copy->storeMark, 1);
    EXPECT_EQ(copy->relation(source), dbm::EQUAL);

    const dbm::clock_constraint_t guard{0, 1, boundLE(-2)};
    EXPECT_TRUE(copy->constrain(&guard, 1));
    EXPECT_NE(copy->zone.getHeader(), source->zone.getHeader());
    EXPECT_TRUE(source->zone.satisfies(1, 0, boundLE(1)));
    EXPECT_EQ(source->relation(copy), dbm::SUPERSET);
    EXPECT_EQ(copy->relation(source), dbm::SUBSET);

    copy->setLocation(0, m.pB);
    EXPECT_FALSE(copy->equalDiscrete(source));
    EXPECT_EQ(copy->relation(source), dbm::DIFFERENT);
    source->copyDiscreteTo(copy);
    EXPECT_TRUE(copy->equalDiscrete(source));
    copy->release();
    source->release();
}

namespace {
int32_t metaCost(const SymbolicState* state)
{
    return const_cast<SymbolicState*>(state)->getMetaVariables()[0];
}
}  // namespace

TEST(SymbolicStates, RelationWithCosts)
{
    TwoProcessModel m = testkit::makeTwoProcessModel();
    m.system->addStateMetaVariable("cost", 0, 100, 0);
    SymbolicState* cheap = m.system->makeInitialState();
    cheap->delay();
    SymbolicState* dear = cheap->clone();
    cheap->getMetaVariables()[0] = 5;
    dear->getMetaVariables()[0] = 7;
    // Meta variables take no part in the discrete comparison.
    EXPECT_TRUE(cheap->equalDiscrete(dear));
    EXPECT_EQ(cheap->relation(dear), dbm::EQUAL);

    SymbolicState::setCostFunction(metaCost);
    EXPECT_EQ(cheap->getCost(), 5);
    EXPECT_EQ(cheap->relation(dear), dbm::SUPERSET);
    EXPECT_EQ(dear->relation(cheap), dbm::SUBSET);
    dear->getMetaVariables()[0] = 5;
    EXPECT_EQ(cheap->relation(dear), dbm::EQUAL);

    // A larger zone that costs more includes nothing.
    const dbm::clock_constraint_t guard{0, 1, boundLE(-2)};
    cheap->constrain(&guard, 1);
    dear->getMetaVariables()[0] = 7;
    EXPECT_EQ(dear->relation(cheap), dbm::DIFFERENT);
    // Nor is a cheaper state included in a dearer one.
    EXPECT_EQ(cheap->relation(dear), dbm::DIFFERENT);
    dear->getMetaVariables()[0] = 3;
    EXPECT_EQ(cheap->relation(dear), dbm::SUBSET);
    SymbolicState::setCostFunction(nullptr);
    EXPECT_EQ(cheap->getCost(), 0);
    cheap->release();
    dear->release();
}

TEST(SymbolicStates, ClockValuesAsDoublesAreRefused)
{
    TwoProcessModel m = testkit::makeTwoProcessModel();
    SymbolicState* state = m.system->makeInitialState();
    double value = 0.0;
    try {
        state->getClockValue(1, value);
        FAIL() << "a symbolic state gave a clock value";
    } catch (const CannotEvaluateExpression& e) {
        EXPECT_STREQ(e.what(), "SymbolicState: clock: x -> double");
        EXPECT_EQ(e.getContext(), "x");
        EXPECT_EQ(e.getPosition(), NO_POSITION);
    }
    try {
        m.y->setDoubleValue(state, 1.0);
        FAIL() << "a symbolic state took a clock value";
    } catch (const CannotEvaluateExpression& e) {
        EXPECT_STREQ(e.what(), "SymbolicState: clock: y <- double");
    }
    state->zone.setEmpty();
    EXPECT_TRUE(state->satisfies(1, 0, true, -5.0));
    state->release();
}

TEST(SymbolicStates, LoopEntries)
{
    ModelBuilder b;
    Process* p = b.process("P", {{"A"}, {"B"}});
    Edge* loop = b.edge(p, "A", "A");
    Edge* away = b.edge(p, "A", "B");
    base::RefPtr<System> system = b.finish();
    SymbolicState* state = system->makeInitialState();
    EXPECT_FALSE(state->avoidsLoopEntries(emptyEdgeTuple()));
    EXPECT_FALSE(state->avoidsLoopEntries(nullptr));
    Edge* const looping[] = {loop, nullptr};
    EXPECT_FALSE(state->avoidsLoopEntries(looping));
    state->setLocation(0, p->getLocation(1));
    Edge* const leaving[] = {away, nullptr};
    EXPECT_TRUE(state->avoidsLoopEntries(leaving));
    state->release();
}

TEST(SymbolicStates, ZoneText)
{
    TwoProcessModel m = testkit::makeTwoProcessModel();
    SymbolicState* state = m.system->makeInitialState();
    state->zone.setInit();
    state->zone.constrain(0, 1, boundLE(-2));
    state->zone.constrain(1, 0, boundLE(5));
    state->zone.constrain(1, 2, boundLT(3));
    std::ostringstream os;
    state->printZone(os);
    EXPECT_EQ(os.str(), "x>=2, x<=5, x-y<3");

    dbm::fed_t other(3);
    other.setInit();
    other.constrain(1, 0, boundLT(1));
    other.constrain(2, 0, boundLE(0));
    state->zone.unionWith(other);
    os.str("");
    state->printZone(os);
    const std::string text = os.str();
    EXPECT_NE(text.find(") or ("), std::string::npos) << text;
    EXPECT_EQ(text.front(), '(');
    EXPECT_EQ(text.back(), ')');
    EXPECT_NE(text.find("(x<1, x-y<1, y<=0, y-x<=0)"), std::string::npos) << text;

    os.str("");
    state->zone.setEmpty();
    state->printZone(os);
    EXPECT_EQ(os.str(), "");

    state->zone.setZero();
    os.str("");
    state->describe(os, nullptr);
    EXPECT_EQ(os.str(), "\n( P.A Q.A )\nx<=0, x-y<=0, y<=0, y-x<=0 n=1 \n");
    state->release();
}

TEST(SymbolicStates, NumericDumpLeavesOutTau)
{
    TwoProcessModel m = testkit::makeTwoProcessModel();
    m.system->addStateMetaVariable("#depth", 0, 10, 0);
    m.system->addStateMetaVariable("mm", 0, 10, 0);
    ClockVariable* tau = m.system->addClock("#tau", false, 0.0);
    SymbolicState* state = m.system->makeInitialState();
    state->setLocation(1, m.qB);
    state->getMetaVariables()[1] = 4;
    const int32_t saved = tauClockNumber;
    tauClockNumber = tau->getClockNumber();

    std::ostringstream full;
    state->printNumeric(full, false);
    EXPECT_EQ(full.str(),
              "0 1 \n.\n"
              "0 0 0\n.\n0 1 0\n.\n0 2 0\n.\n"
              "1 0 0\n.\n1 1 0\n.\n1 2 0\n.\n"
              "2 0 0\n.\n2 1 0\n.\n2 2 0\n.\n"
              ".\n1 4 \n.\n");

    std::ostringstream minimal;
    state->printNumeric(minimal, true);
    const std::string text = minimal.str();
    EXPECT_EQ(text.find(" 3 "), std::string::npos) << text;
    EXPECT_EQ(text.find("\n3 "), std::string::npos) << text;
    EXPECT_EQ(text.substr(text.size() - 9), ".\n1 4 \n.\n");
    tauClockNumber = saved;
    state->release();
}

TEST(SymbolicStates, DelayHoldsStoppedClocks)
{
    TwoProcessModel m = testkit::makeTwoProcessModel();
    SymbolicState* state = m.system->makeInitialState();
    state->delay();
    EXPECT_TRUE(state->zone.satisfies(1, 0, boundLE(100)));
    EXPECT_FALSE(state->zone.satisfies(1, 0, boundLE(-1)));
    state->release();

    m.system->hasStopWatches = true;
    m.qA->addClockRate(testkit::constant(2), ExpressionRef(new DoubleConstant(0.0)), false);
    state = m.system->makeInitialState();
    state->delay();
    EXPECT_TRUE(m.system->clocksStopped);
    // x runs, y stays at 0.
    EXPECT_TRUE(state->zone.satisfies(1, 0, boundLE(100)));
    EXPECT_FALSE(state->zone.satisfies(0, 2, boundLT(0)));
    EXPECT_FALSE(state->zone.satisfies(2, 0, boundLE(-1)));
    state->release();
}

// ---- Concrete states ----------------------------------------------------------------------------

TEST(ConcreteStates, StrictBoundsExactlyAndNonStrictWithTolerance)
{
    TwoProcessModel m = testkit::makeTwoProcessModel();
    ConcreteState state(m.system.get());
    struct Case
    {
        double x;
        dbm::bound_t bound;
        bool holds;
    };
    for (const Case& c : std::vector<Case>{{5.0, boundLT(5), false},
                                           {4.999, boundLT(5), true},
                                           {5.0 + 1e-15, boundLE(5), true},
                                           {5.0 + 1e-13, boundLE(5), false}}) {
        state.setClockValue(1, c.x);
        const dbm::clock_constraint_t constraint{1, 0, c.bound};
        EXPECT_EQ(state.constrain(&constraint, 1), c.holds) << c.x;
        EXPECT_EQ(state.satisfies(1, 0, c.bound), c.holds) << c.x;
    }
    EXPECT_TRUE(state.constrain(nullptr, 0));

    state.setClockValue(1, 3.0);
    EXPECT_FALSE(state.satisfies(1, 0, true, 3.0));
    EXPECT_TRUE(state.satisfies(1, 0, false, 3.0));
    // A failing constraint ends the test; the valuation is not changed.
    const dbm::clock_constraint_t two[2] = {{1, 0, boundLT(1)}, {0, 1, boundLE(0)}};
    EXPECT_FALSE(state.constrain(two, 2));
    double x = 0.0;
    state.getClockValue(1, x);
    EXPECT_EQ(x, 3.0);
}

TEST(ConcreteStates, PrintAndCopies)
{
    TwoProcessModel m = testkit::makeTwoProcessModel();
    ConcreteState state(m.system.get());
    state.setLocation(0, m.pA);
    state.setLocation(1, m.qA);
    state.getVariables()[0] = 1;
    state.setClockValue(1, 1.5);
    std::ostringstream os;
    state.print(os);
    EXPECT_EQ(os.str(), "( P.A Q.A ) n=1 \nx=1.5 y=0\n");

    ModelBuilder b;
    b.process("P", {{"A"}});
    base::RefPtr<System> bare = b.finish();
    ConcreteState alone(bare.get());
    os.str("");
    alone.print(os);
    EXPECT_EQ(os.str(), "( ) \n\n");

    // A copy takes the clock counts from the System again: clocks added since start at 0.
    ConcreteState older(state);
    m.system->addClock("spawned", true, 0.0);
    ASSERT_TRUE(state.growClocks(1));
    state.setClockValue(3, 4.0);
    ConcreteState fromNew(state);
    ConcreteState fromOld(older);
    EXPECT_EQ(fromNew.getClocks().count, 4u);
    EXPECT_EQ(fromNew.getClocks().values[3], 4.0);
    EXPECT_EQ(fromNew.getClocks().values[1], 1.5);
    EXPECT_EQ(fromOld.getClocks().count, 4u);
    EXPECT_EQ(fromOld.getClocks().values[3], 0.0);
    EXPECT_EQ(fromOld.getClocks().staticCount, 3u);
    EXPECT_EQ(fromOld.getClocks().spawnedCount, 1u);
}

TEST(ConcreteStates, EndingSpawnedProcesses)
{
    TwoProcessModel m = testkit::makeTwoProcessModel();
    System& s = *m.system;
    std::vector<base::RefPtr<Process>> spawned;
    for (int k = 0; k < 3; ++k) {
        base::RefPtr<Process> p(new Process(1, "D(" + std::to_string(k) + ")"));
        p->dynamicTemplateIndex = 0;
        p->poolSlot = k;
        s.addProcess(p, true);
        spawned.push_back(p);
    }
    ConcreteState state(&s);
    SpawnTable* table = new SpawnTable(1);
    state.spawnTable = table;
    state.ownsSpawnTable = true;
    SpawnRecord& record = (*table)[0];
    record.liveCount = 3;
    record.processes = {spawned[0], spawned[1], spawned[2]};
    record.liveNumbers = {2, 3, 4};
    for (uint32_t slot = 2; slot < 5; ++slot) {
        state.setLocation(slot, m.pA);
    }
    EXPECT_TRUE(state.hasCommittedLocation() == false);

    ConcreteState shared(state);
    EXPECT_EQ(shared.spawnTable, table);
    EXPECT_FALSE(shared.ownsSpawnTable);

    // Ending the first of three moves the third into its place.
    state.removeSpawnedProcess(2);
    EXPECT_EQ(state.getLocation(2), nullptr);
    EXPECT_EQ(record.liveCount, 2);
    EXPECT_EQ(record.liveNumbers, (std::vector<int32_t>{4, 3}));
    EXPECT_EQ(record.processes[0].get(), spawned[2].get());
    EXPECT_EQ(spawned[2]->poolSlot, 0);
    EXPECT_EQ(record.processes[2].get(), spawned[0].get());
    EXPECT_EQ(spawned[0]->poolSlot, 2);

    // Ending the last live one keeps the others in order.
    state.removeSpawnedProcess(3);
    EXPECT_EQ(record.liveNumbers, (std::vector<int32_t>{4}));
    EXPECT_EQ(record.processes[0].get(), spawned[2].get());
    EXPECT_EQ(record.liveCount, 1);

    EXPECT_THROW(state.removeSpawnedProcess(3), Bug);
    EXPECT_THROW(state.removeSpawnedProcess(0), Bug);
}

TEST(ConcreteStates, CountingEnteredLocations)
{
    TwoProcessModel m = testkit::makeTwoProcessModel();
    ConcreteState* state = m.system->buildInitialState();
    state->countEnteredLocations();
    state->countEnteredLocations();
    EXPECT_EQ(m.pA->timesEntered, 2u);
    EXPECT_EQ(m.qA->timesEntered, 2u);
    EXPECT_EQ(m.pB->timesEntered, 0u);
    delete state;
}
