#include "pipeline/exploration_filters.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <typeinfo>
#include <vector>

#include "pipeline/broadcast_filter.h"
#include "pipeline/delay_filter.h"
#include "pipeline/extrapolation_filter.h"
#include "pipeline/filter_configuration.h"
#include "pipeline/keys.h"
#include "pipeline/priority_filter.h"
#include "pipeline/successor_chain.h"
#include "pipeline/successor_filter.h"
#include "pipeline/transition_filter.h"
#include "runtime/concrete_state.h"
#include "runtime/exceptions.h"
#include "statespace/symbolic_state_reference.h"
#include "successor_chain_fixture.h"
#include "testkit/model_builder.h"

using chaintest::Recorder;
using testkit::ModelBuilder;

namespace {

bool offer(pipeline::Sink<Successor>& stage, SymbolicState* state)
{
    Successor item;
    item.state = state;
    item.transition = emptyEdgeTuple();
    return stage.put(&item);
}

class CountingJob : public pipeline::JobInterface
{
public:
    void progress() override { ++ticks; }
    int32_t getPropertyType() const override { return 0; }
    uint32_t expressionCount() const override { return 0; }
    ExpressionRef getExpression(uint32_t) const override { return nullptr; }
    int ticks = 0;
};

// A passed-waiting list that stores every state it is given (no inclusion test), hands each on and
// gives them back in order; it remembers the keys it was sent.
class SimpleList : public pipeline::Generator<Successor>,
                   public pipeline::Buffer<Successor, SymbolicStateReference*>,
                   public SymbolicStateReference
{
public:
    using pipeline::Generator<Successor>::connect;
    void connect(pipeline::Sink<Successor>* sink) override { next = sink; }
    void setProperty(const char* key, void*) override { keys.push_back(key); }

    bool put(Successor* item) override
    {
        waiting.push_back(item->state->clone());
        if (next != nullptr) {
            next->put(item);
        } else {
            item->state->release();
        }
        return true;
    }
    bool get(SymbolicStateReference** reference) override
    {
        if (waiting.empty()) {
            return false;
        }
        current = waiting.front();
        waiting.pop_front();
        *reference = this;
        return true;
    }
    void load(SymbolicState* state) override { state->assign(current); }
    void finish(bool drop) override
    {
        dropped.push_back(drop);
        current->release();
        current = nullptr;
    }

    pipeline::Sink<Successor>* next = nullptr;
    std::deque<SymbolicState*> waiting;
    SymbolicState* current = nullptr;
    std::vector<bool> dropped;
    std::vector<const char*> keys;
};

SimpleList* lastList = nullptr;
pipeline::Connectable* makeSimpleList(FilterConfiguration*)
{
    lastList = new SimpleList;
    return lastList;
}

}  // namespace

TEST(ExplorationFilters, QueryProgressAndCanonisation)
{
    testkit::TwoProcessModel m = testkit::makeTwoProcessModel();
    QueryFilter query;
    Recorder out;
    query.connect(&out);
    // Without an expression every state passes.
    EXPECT_TRUE(offer(query, m.system->makeInitialState()));
    query.setProperty(PROPERTY_EXPRESSION, testkit::compare(m.n, testkit::Relation::Greater, 1).get());
    EXPECT_FALSE(offer(query, m.system->makeInitialState()));  // n = 1
    auto* failing = new testkit::Probe(1, true);
    query.setProperty(PROPERTY_EXPRESSION, failing);
    EXPECT_THROW(offer(query, m.system->makeInitialState()), CannotEvaluateExpression);
    query.setProperty(PROPERTY_EXPRESSION, nullptr);
    EXPECT_EQ(out.items.size(), 1u);
    out.release();
    EXPECT_EQ(m.system->statesInUse(), 0u);

    CountingJob job;
    JobProgressFilter<SymbolicState> progress;
    CanonizeZoneFilter canonize;
    progress.setProperty(PROPERTY_JOB, static_cast<pipeline::JobInterface*>(&job));
    progress.connect([](SymbolicState* s) {
        s->release();
        return true;
    });
    EXPECT_TRUE(progress.put(m.system->makeInitialState()));
    EXPECT_TRUE(progress.put(m.system->makeInitialState()));
    EXPECT_EQ(job.ticks, 2);
    // The same stage over the concrete states of statistical runs.
    JobProgressFilter<ConcreteState> concreteProgress;
    concreteProgress.setProperty(PROPERTY_JOB, static_cast<pipeline::JobInterface*>(&job));
    int forwarded = 0;
    concreteProgress.connect([&forwarded](ConcreteState* s) {
        ++forwarded;
        delete s;
        return true;
    });
    EXPECT_TRUE(concreteProgress.put(m.system->buildInitialState()));
    EXPECT_EQ(job.ticks, 3);
    EXPECT_EQ(forwarded, 1);
    canonize.connect(&out);
    EXPECT_TRUE(offer(canonize, m.system->makeInitialState()));
    out.release();
    EXPECT_EQ(m.system->statesInUse(), 0u);
}

TEST(ExplorationFilters, ExpansionRecomputesTheStatesThatWereNotStored)
{
    // A --> C (committed) --> D --> E; A is where the stored state stands.
    ModelBuilder b;
    Process* p = b.process("P", {{"A"}, {"C", nullptr, "", true}, {"D"}, {"E"}});
    b.edge(p, "A", "C");
    b.edge(p, "C", "D");
    b.edge(p, "D", "E");
    base::RefPtr<System> system = b.finish();

    clearBuiltinFilters();
    registerSuccessorChainFilters();
    struct Case
    {
        const char* name;
        int level;
        std::vector<std::string> reached;  // locations of the states handed on, in order
    };
    const Case cases[] = {
        {"level 0 only forwards", 0, {"A"}},
        {"level 1 follows committed states", 1, {"C", "A"}},
        {"level 2 follows every state", 2, {"C", "D", "E", "A"}},
    };
    for (const Case& c : cases) {
        base::RefPtr<FilterConfiguration> registry(new FilterConfiguration);
        registry->set(FILTER_PASSED_WAITING_LIST, makeSimpleList);
        lastList = nullptr;
        ExpansionFilter expansion(registry.get());
        ASSERT_NE(lastList, nullptr);
        SimpleList* list = lastList;
        Recorder out;
        int level = c.level;
        CountingJob job;
        expansion.setProperty(PROPERTY_SYSTEM, system.get());
        expansion.setProperty(PROPERTY_SPACEOPT, &level);
        expansion.setProperty(PROPERTY_STATISTICS, &job);
        expansion.connect(&out);
        expansion.begin();

        SymbolicState* stored = system->makeInitialState();
        EXPECT_TRUE(expansion.put(stored)) << c.name;
        std::vector<std::string> reached;
        for (const chaintest::Seen& seen : out.items) {
            reached.push_back(seen.state->getLocation(0)->getName());
        }
        EXPECT_EQ(reached, c.reached) << c.name;
        ASSERT_FALSE(out.items.empty());
        EXPECT_EQ(out.items.back().state, stored) << c.name;
        EXPECT_TRUE(out.items.back().transition.empty()) << c.name;
        // States taken from the list are forgotten, never kept as passed.
        for (bool drop : list->dropped) {
            EXPECT_TRUE(drop) << c.name;
        }
        for (const char* key : list->keys) {
            EXPECT_NE(key, PROPERTY_STATISTICS) << c.name;
        }
        out.release();
        EXPECT_EQ(system->statesInUse(), 0u) << c.name;
    }
    clearBuiltinFilters();
}

// A broadcast whose receiver has a clock guard is computed only at the end of its source state's
// transitions, and its successors may leave the receiver behind: the expansion must hand the end
// signal on, and move the processes only as each successor moves them.
TEST(ExplorationFilters, ExpansionFollowsBroadcastsToClockGuardedReceivers)
{
    // S: s0 --b!--> s1 (committed); R: r0 --(x >= 2; b?)--> r1.
    ModelBuilder b;
    ClockVariable* x = b.clock("x");
    const int32_t channel = b.channel("b", false, true);
    Process* s = b.process("S", {{"s0"}, {"s1", nullptr, "", true}});
    Process* r = b.process("R", {{"r0"}, {"r1"}});
    testkit::EdgeSpec send;
    send.sync = channel;
    b.edge(s, "s0", "s1", send);
    testkit::EdgeSpec receive;
    receive.sync = -channel;
    receive.clockGuard = testkit::clockLower(x, false, 2);
    b.edge(r, "r0", "r1", receive);
    base::RefPtr<System> system = b.finish();

    clearBuiltinFilters();
    registerSuccessorChainFilters();
    base::RefPtr<FilterConfiguration> registry(new FilterConfiguration);
    registry->set(FILTER_PASSED_WAITING_LIST, makeSimpleList);
    registry->set(FILTER_SUCCESSOR, makeSuccessorFilterBroadcast);
    {
        ExpansionFilter expansion(registry.get());
        Recorder out;
        int level = 1;
        expansion.setProperty(PROPERTY_SYSTEM, system.get());
        expansion.setProperty(PROPERTY_SPACEOPT, &level);
        expansion.connect(&out);
        expansion.begin();

        SymbolicState* stored = system->makeInitialState();
        stored->delay();
        EXPECT_TRUE(expansion.put(stored));
        // Before x reaches 2 S sends alone and R stays in r0; from then on R receives. Both
        // successors are committed, so the search did not store them.
        std::vector<std::string> reached;
        for (const chaintest::Seen& seen : out.items) {
            reached.push_back(seen.state->getLocation(0)->getName() + " " + seen.state->getLocation(1)->getName());
        }
        EXPECT_EQ(reached, (std::vector<std::string>{"s1 r0", "s1 r1", "s0 r0"}));
        out.release();
    }
    EXPECT_EQ(system->statesInUse(), 0u);
    clearBuiltinFilters();
}

TEST(ExplorationFilters, TheRegistryBuildsTheChainByName)
{
    clearBuiltinFilters();
    registerSuccessorChainFilters();
    base::RefPtr<FilterConfiguration> registry(new FilterConfiguration);
    struct Case
    {
        const char* name;
        const std::type_info& type;
    };
    const Case cases[] = {
        {FILTER_TRANSITION, typeid(TransitionFilter)},
        {FILTER_TRANSITION_LIVENESS, typeid(TransitionFilter)},
        {FILTER_COPY, typeid(LazyCopyFilter)},
        {FILTER_PRIORITY, typeid(PriorityFilter)},
        {FILTER_SUCCESSOR, typeid(SuccessorFilter)},
        {FILTER_SUCCESSOR_LIVENESS, typeid(SuccessorFilter)},
        {FILTER_DELAY, typeid(DelayFilter)},
        {FILTER_QUERY, typeid(QueryFilter)},
        {FILTER_CANONIZE, typeid(CanonizeZoneFilter)},
        {FILTER_EXPANSION, typeid(ExpansionFilter)},
        {FILTER_EXTRAPOLATION, typeid(ExtrapolationFilter)},
        {FILTER_GOXA_EXTRAPOLATION, typeid(ExtrapolationFilter)},
        {FILTER_DIFFERENCE_EXTRAPOLATION, typeid(ExtrapolationFilter)},
        {FILTER_LOCAL_EXTRAPOLATION, typeid(LocalExtrapolationFilter)},
        {FILTER_LU_LOCAL_EXTRAPOLATION, typeid(LULocalExtrapolationFilter)},
    };
    for (const Case& c : cases) {
        pipeline::Connectable* stage = registry->get(c.name);
        ASSERT_NE(stage, nullptr) << c.name;
        EXPECT_EQ(typeid(*stage), c.type) << c.name;
        delete stage;
    }
    // The variants the model checker puts in place by model.
    registry->set(FILTER_SUCCESSOR, makeSuccessorFilterBroadcast);
    registry->set(FILTER_TRANSITION, makeCSPTransitionFilter);
    registry->set(FILTER_SUCCESSOR_LIVENESS, makeBlockingSuccessorFilter);
    for (auto [name, type] : {std::pair<const char*, const std::type_info*>{FILTER_SUCCESSOR, &typeid(SuccessorFilterBroadcast)},
                              {FILTER_TRANSITION, &typeid(CSPTransitionFilter)},
                              {FILTER_SUCCESSOR_LIVENESS, &typeid(BlockingSuccessorFilter)}}) {
        pipeline::Connectable* stage = registry->get(name);
        ASSERT_NE(stage, nullptr) << name;
        EXPECT_EQ(typeid(*stage), *type) << name;
        delete stage;
    }
    clearBuiltinFilters();
}
