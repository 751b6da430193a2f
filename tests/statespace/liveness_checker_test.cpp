// The search for runs that stay in a region for ever (E[] and A<>): loops that can be repeated,
// deadlocks and unbounded delays inside the region, and what the search leaves behind.

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "liveness_fixture.h"
#include "pipeline/liveness_transition_filter.h"
#include "pipeline/successor_filter.h"
#include "reach_fixture.h"
#include "runtime/channels.h"
#include "statespace/liveness_checker.h"
#include "support/exceptions.h"

namespace {

using livetest::clockLower;
using livetest::clockUpper;
using testkit::EdgeSpec;
using testkit::LocationSpec;

// A model and the region searched in it.
struct Scenario
{
    base::RefPtr<System> system;
    ExpressionRef region;
    std::vector<const Edge*> edges;  // named by the test, in the order built
};

// Runs one search to its end, as the verifier does, and checks that nothing stays taken.
struct Search
{
    // `adjust` changes the registry before the checker takes its stages from it.
    explicit Search(Scenario& s, const std::function<void(FilterConfiguration&)>& adjust = {})
        : scenario(s), registry(livetest::makeRegistry()), settings(s.system.get())
    {
        if (adjust) {
            adjust(*registry);
        }
        checker.reset(makeLivenessChecker(registry.get()));
        settings.send(*checker, s.system.get());
        checker->setProperty(PROPERTY_EXPRESSION, s.region.get());
        reports.source = checker.get();
        checker->connect(&reports);
        checker->begin();
    }

    void search()
    {
        const uint64_t inUse = scenario.system->statesInUse();
        Successor initial = settings.initial(scenario.system.get());
        EXPECT_TRUE(checker->put(&initial));
        // The path and the waiting stack are empty after every search.
        EXPECT_EQ(scenario.system->statesInUse(), inUse);
    }

    // The edges from the state of the first index to the state of the second.
    std::vector<const Edge*> edgesBetween(int from, int to)
    {
        base::RefPtr<Trace> trace = settings.traces->createTrace(from, to);
        return livetest::traceEdges(*trace);
    }

    ~Search()
    {
        checker->end();
        checker.reset();
    }

    Scenario& scenario;
    base::RefPtr<FilterConfiguration> registry;
    livetest::Settings settings;
    std::unique_ptr<LivenessChecker> checker;
    livetest::PairSink reports;
};

ExpressionRef always()
{
    return testkit::constant(1);
}

// P: A { x <= 5 } --(x >= 1; x := 0)--> A.
Scenario selfLoop()
{
    testkit::ModelBuilder b;
    ClockVariable* x = b.clock("x");
    Process* p = b.process("P", {{"A", clockUpper(x, false, 5)}});
    EdgeSpec loop;
    loop.clockGuard = clockLower(x, false, 1);
    loop.update = testkit::assign(x, 0);
    Edge* e = b.edge(p, "A", "A", loop);
    return {b.finish(), always(), {e}};
}

// P: A --> B --> A, both committed: no time passes on the cycle.
Scenario committedCycle()
{
    testkit::ModelBuilder b;
    b.clock("x");
    LocationSpec a{"A"};
    a.committed = true;
    LocationSpec bb{"B"};
    bb.committed = true;
    Process* p = b.process("P", {a, bb});
    Edge* ab = b.edge(p, "A", "B");
    Edge* ba = b.edge(p, "B", "A");
    return {b.finish(), always(), {ab, ba}};
}

// P: A { y <= 10 } --(x >= 1; x := 0)--> A, region y < 10: every pass costs time that y never
// gives back, so the cycle cannot be repeated for ever inside the region.
Scenario shrinkingCycle()
{
    testkit::ModelBuilder b;
    ClockVariable* x = b.clock("x");
    ClockVariable* y = b.clock("y");
    Process* p = b.process("P", {{"A", clockUpper(y, false, 10)}});
    EdgeSpec loop;
    loop.clockGuard = clockLower(x, false, 1);
    loop.update = testkit::assign(x, 0);
    Edge* e = b.edge(p, "A", "A", loop);
    return {b.finish(), clockUpper(y, true, 10), {e}};
}

// P: A { x <= 5 } --(x >= 2)--> B { x <= 8 }, and no way out of B.
Scenario deadlockInRegion()
{
    testkit::ModelBuilder b;
    ClockVariable* x = b.clock("x");
    Process* p = b.process("P", {{"A", clockUpper(x, false, 5)}, {"B", clockUpper(x, false, 8)}});
    EdgeSpec go;
    go.clockGuard = clockLower(x, false, 2);
    Edge* e = b.edge(p, "A", "B", go);
    return {b.finish(), always(), {e}};
}

// P: A { x <= 5 } with no edge, region x < 3: time carries every run out of the region.
Scenario timeLeavesRegion()
{
    testkit::ModelBuilder b;
    ClockVariable* x = b.clock("x");
    b.process("P", {{"A", clockUpper(x, false, 5)}});
    return {b.finish(), clockUpper(x, true, 3), {}};
}

// P: A with no invariant and no edge: time passes for ever.
Scenario unboundedDelay()
{
    testkit::ModelBuilder b;
    b.clock("x");
    b.process("P", {{"A"}});
    return {b.finish(), always(), {}};
}

// Committed locations and a counter n (0..2), region n < 2:
// A --(n := 1)--> B1 --> D, A --(n := 1)--> B2 --> D, D --(n := 2)--> E.
// D is reached twice; E lies outside the region.
Scenario diamond()
{
    testkit::ModelBuilder b;
    b.clock("x");
    StateVariable* n = b.variable("n", 0, 2, 0);
    std::vector<LocationSpec> locations;
    for (const char* name : {"A", "B1", "B2", "D", "E"}) {
        LocationSpec l{name};
        l.committed = true;
        locations.push_back(l);
    }
    Process* p = b.process("P", locations);
    EdgeSpec one;
    one.update = testkit::assign(n, 1);
    EdgeSpec two;
    two.update = testkit::assign(n, 2);
    b.edge(p, "A", "B1", one);
    b.edge(p, "A", "B2", one);
    b.edge(p, "B1", "D");
    b.edge(p, "B2", "D");
    b.edge(p, "D", "E", two);
    return {b.finish(), testkit::compare(n, testkit::Relation::Less, 2), {}};
}

TEST(LivenessChecker, FindsRunsThatStayInTheRegion)
{
    struct Case
    {
        std::string name;
        std::function<Scenario()> build;
        // The first report, and the edges from its first state to its second (for a loop) or
        // from the initial state to it (otherwise).
        std::optional<std::pair<int, int>> report;
        std::vector<size_t> traceEdges;
    };
    const std::vector<Case> cases = {
        {"self-loop that stays in the region", selfLoop, std::pair(0, 1), {0}},
        {"cycle through committed locations", committedCycle, std::pair(0, 2), {0, 1}},
        {"cycle whose zone shrinks", shrinkingCycle, std::nullopt, {}},
        {"deadlock inside the region", deadlockInRegion, std::pair(1, 1), {0}},
        {"time leads out of the region", timeLeavesRegion, std::nullopt, {}},
        {"unbounded delay", unboundedDelay, std::pair(0, 0), {}},
        {"region false at the start", [] {
             Scenario s = selfLoop();
             s.region = testkit::constant(0);
             return s;
         },
         std::nullopt, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Scenario scenario = c.build();
        Search run(scenario);
        run.search();
        if (!c.report) {
            EXPECT_TRUE(run.reports.pairs.empty());
            continue;
        }
        ASSERT_FALSE(run.reports.pairs.empty());
        EXPECT_EQ(run.reports.pairs.front(), *c.report);
        std::vector<const Edge*> expected;
        for (size_t k : c.traceEdges) {
            expected.push_back(scenario.edges[k]);
        }
        const auto [first, second] = *c.report;
        EXPECT_EQ(run.edgesBetween(first == second ? 0 : first, second), expected);
    }
}

TEST(LivenessChecker, StopEmptiesThePathWithoutMarkingItExplored)
{
    Scenario scenario = selfLoop();
    Search run(scenario);
    run.search();
    ASSERT_EQ(run.reports.pairs.size(), 1u);
    EXPECT_EQ(livetest::CountingPassedList::added, 0);

    // Nothing was taken for explored: the same search finds the loop again.
    run.search();
    EXPECT_EQ(run.reports.pairs.size(), 2u);
}

// An interrupt that comes after the search began and before its initial state arrived ends it
// before it reports anything; the next search runs in full.
TEST(LivenessChecker, AStopBeforeTheFirstStateIsNotForgotten)
{
    Scenario scenario = selfLoop();
    Search run(scenario);
    bool yes = true;
    run.checker->setProperty(PROPERTY_STOP, &yes);
    run.search();
    EXPECT_TRUE(run.reports.pairs.empty());
    run.search();
    EXPECT_EQ(run.reports.pairs.size(), 1u);
}

TEST(LivenessChecker, ExploredStatesAreDroppedAndKeptForLaterSearches)
{
    Scenario scenario = diamond();
    Search run(scenario);
    run.search();
    EXPECT_TRUE(run.reports.pairs.empty());
    // A, B1, B2 and D were explored; D, reached again through the second branch, was dropped.
    EXPECT_EQ(livetest::CountingPassedList::added, 4);
    EXPECT_EQ(livetest::CountingPassedList::dropped, 1);

    // A later search from the same state finds it explored and goes no further.
    run.search();
    EXPECT_EQ(livetest::CountingPassedList::added, 4);
    EXPECT_EQ(livetest::CountingPassedList::dropped, 2);

    // end forgets them.
    run.checker->end();
    run.search();
    EXPECT_EQ(livetest::CountingPassedList::added, 8);
}

TEST(LivenessChecker, AnEvaluationErrorLeavesNoStateTakenTwice)
{
    // The deadlock detector evaluates the guard first; the search's own enumeration fails.
    testkit::ModelBuilder b;
    ClockVariable* x = b.clock("x");
    Process* p = b.process("P", {{"A", clockUpper(x, false, 5)}, {"B"}});
    EdgeSpec edgeSpec;
    edgeSpec.guard = ExpressionRef(new livetest::FailsOnEvaluation(2));
    b.edge(p, "A", "B", edgeSpec);
    Scenario scenario{b.finish(), always(), {}};

    const uint64_t inUse = scenario.system->statesInUse();
    {
        Search run(scenario);
        Successor initial = run.settings.initial(scenario.system.get());
        EXPECT_THROW(run.checker->put(&initial), CannotEvaluateExpression);
    }
    EXPECT_EQ(scenario.system->statesInUse(), inUse);
}

TEST(LivenessChecker, ChoosesItsDelayByTheRegionAndNeedsOne)
{
    Scenario scenario = timeLeavesRegion();
    base::RefPtr<FilterConfiguration> registry = livetest::makeRegistry();
    std::unique_ptr<LivenessChecker> checker(makeLivenessChecker(registry.get()));
    livetest::Settings settings(scenario.system.get());
    settings.send(*checker, scenario.system.get());
    EXPECT_THROW(checker->begin(), Bug);

    // Without a passed list the search cannot run.
    registry->set(FILTER_PASSED_LIST, nullptr);
    std::unique_ptr<LivenessChecker> incomplete(makeLivenessChecker(registry.get()));
    incomplete->setProperty(PROPERTY_EXPRESSION, scenario.region.get());
    EXPECT_THROW(incomplete->begin(), Bug);
}

// Channel `higher` outranks channel `lower` in the compiled system.
void givePriority(System& system, const std::string& higher, const std::string& lower)
{
    int32_t h = 0;
    int32_t l = 0;
    const size_t channels = channelCount();
    for (size_t c = 1; c <= channels; ++c) {
        const std::string& name = getChannel(static_cast<int32_t>(c)).name;
        h = name == higher ? static_cast<int32_t>(c) : h;
        l = name == lower ? static_cast<int32_t>(c) : l;
    }
    ASSERT_TRUE(h != 0 && l != 0);
    system.resizePriorityMatrix(channels);
    system.addChannelPriorities({h}, {l});
    std::string message;
    ASSERT_TRUE(system.checkChannelPriorities(message)) << message;
    system.hasPriorities = true;
}

TEST(LivenessChecker, PrioritiesAndGuardedReceiversLeaveNothingTaken)
{
    // The stages the verifier uses for such models: the transitions of the path's state with
    // blocked time removed and receivers resolved, and a successor stage that applies the
    // blocking condition of each (dropping the copy where it cannot hold).
    const auto special = [](FilterConfiguration& registry) {
        registry.set(FILTER_TRANSITION_LIVENESS, makeLivenessTransitionFilterPriorityBroadcast);
        registry.set(FILTER_SUCCESSOR_LIVENESS, makeBlockingSuccessorFilter);
    };
    // P sends on a at any time, or on c from x = 2 on; Q takes both, and c outranks a. S broadcasts on
    // b once x is in [1, 4]; R receives it only from x = 3 on.
    const char* const text = R"(
clock x;
chan a, c;
broadcast chan b;
process P() { state A { x <= 5 }, B, C; init A; trans A -> B { sync a!; }, A -> C { guard x >= 2; sync c!; }; }
process Q() { state A; init A; trans A -> A { sync a?; }, A -> A { sync c?; }; }
process S() { state A { x <= 4 }, B; init A; trans A -> B { guard x >= 1; sync b!; }; }
process R() { state A, B; init A; trans A -> B { guard x >= 3; sync b?; }; }
system P, Q, S, R;
)";
    struct Case
    {
        std::string region;
        bool reported;
    };
    const Case cases[] = {
        // B is taken before x = 2 and left never.
        {"!P.C", true},
        // From x = 2 on only c may be sent, and time cannot stay below 3 for ever.
        {"!P.B && x < 3", false},
        // B is entered before x = 2 only.
        {"P.A || (P.B && x >= 2)", false},
        // A broadcast sent before x = 3 leaves R in A for ever.
        {"R.A", true},
        // The invariants of A force both senders out.
        {"P.A || S.A", false},
    };
    reachtest::CompiledModel* model = reachtest::compileModel(text);
    givePriority(*model->system, "c", "a");
    ASSERT_TRUE(model->system->broadcastClockGuards);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.region);
        Scenario scenario{model->system, reachtest::formula(*model, c.region), {}};
        Search run(scenario, special);
        run.search();
        EXPECT_EQ(!run.reports.pairs.empty(), c.reported);
    }
}

}  // namespace
