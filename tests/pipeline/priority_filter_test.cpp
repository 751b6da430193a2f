#include "pipeline/priority_filter.h"

#include <gtest/gtest.h>

#include <vector>

#include "pipeline/keys.h"
#include "pipeline/transition_filter.h"
#include "successor_chain_fixture.h"
#include "testkit/model_builder.h"

using chaintest::Recorder;
using chaintest::tuple;
using testkit::EdgeSpec;
using testkit::ModelBuilder;

namespace {

// Transition stage -> priority stage -> recorder, for one System.
struct Chain
{
    explicit Chain(System& system)
    {
        transitions.setProperty(PROPERTY_SYSTEM, &system);
        priorities.setProperty(PROPERTY_SYSTEM, &system);
        transitions.connect(&priorities);
        priorities.connect(&out);
        transitions.begin();
        priorities.begin();
    }

    size_t nullItems() const
    {
        size_t count = 0;
        for (const chaintest::Seen& seen : out.items) {
            count += seen.nullItem ? 1 : 0;
        }
        return count;
    }

    TransitionFilter transitions;
    PriorityFilter priorities;
    Recorder out;
};

EdgeSpec sync(int32_t channel)
{
    EdgeSpec edgeSpec;
    edgeSpec.sync = channel;
    return edgeSpec;
}

}  // namespace

TEST(Priorities, WithoutClocksOnlyUnblockedTransitionsFire)
{
    // Levels P0 = 1, P1 = 0, P2 = 1; channel a outranks edges without synchronisation.
    ModelBuilder b;
    const int32_t a = b.channel("a");
    const int32_t bc = b.channel("b", false, true);
    Process* p0 = b.process("P0", {{"A"}, {"B"}});
    Process* p1 = b.process("P1", {{"A"}, {"B"}});
    Process* p2 = b.process("P2", {{"A"}, {"B"}});
    Process* p3 = b.process("P3", {{"A"}, {"B"}});
    Edge* tau0 = b.edge(p0, "A", "B");
    Edge* tau1 = b.edge(p1, "A", "B");
    Edge* tau2 = b.edge(p2, "A", "B");
    Edge* sendA = b.edge(p1, "A", "B", sync(a));
    Edge* recvA = b.edge(p3, "A", "B", sync(-a));
    Edge* sendB = b.edge(p3, "A", "B", sync(bc));
    Edge* recvB = b.edge(p0, "A", "A", sync(-bc));
    base::RefPtr<System> system = b.finish();
    p0->priority = 1;
    p2->priority = 1;
    p3->priority = 0;

    struct Case
    {
        const char* name;
        bool fullOrder;
        bool channelAbove;  // a above the edges without synchronisation
        SymbolicState* (*start)(System&);
        std::vector<std::vector<const Edge*>> expected;
    };
    auto all = [](System& s) { return s.makeInitialState(); };
    const Case cases[] = {
        // The top class by process level: the broadcast counts its sender's level 0 although its
        // receiver P0 has level 1.
        {"full order passes the top class", true, false, all, {tuple({tau0}), tuple({tau2})}},
        {"pairwise drops every transition below another", false, false, all, {tuple({tau0}), tuple({tau2})}},
        // Channel a outranks row 0 of the matrix whatever the levels; levels decide the rest.
        {"a channel above the default level", false, true, all, {tuple({sendA, recvA})}},
    };
    for (const Case& c : cases) {
        system->priorityOrderTotal = c.fullOrder;
        system->resizePriorityMatrix(2);
        if (c.channelAbove) {
            system->addChannelPriorities({a}, {0});
        }
        Chain chain(*system);
        SymbolicState* source = c.start(*system);
        EXPECT_TRUE(chain.transitions.put(source));
        EXPECT_EQ(chain.out.transitions(), c.expected) << c.name;
        EXPECT_EQ(chain.nullItems(), 1u) << c.name;
        for (const chaintest::Seen& seen : chain.out.items) {
            EXPECT_FALSE(seen.hasCondition) << c.name;
        }
        chain.out.release();
        EXPECT_EQ(system->statesInUse(), 0u) << c.name;
        system->resizePriorityMatrix(0);
    }
    (void)tau1;
    (void)sendB;
    (void)recvB;
}

TEST(Priorities, WithClocksTheZoneIsCutWhereAHigherTransitionIsEnabled)
{
    // P0 (level 1) may move once x >= 3; P1 (level 0) may move always, but only where P0 cannot.
    ModelBuilder b;
    ClockVariable* x = b.clock("x");
    Process* p0 = b.process("P0", {{"A"}, {"B"}});
    Process* p1 = b.process("P1", {{"A"}, {"B"}});
    EdgeSpec late;
    late.clockGuard = testkit::clockLower(x, false, 3);
    Edge* high = b.edge(p0, "A", "B", late);
    Edge* low = b.edge(p1, "A", "B");
    base::RefPtr<System> system = b.finish();
    p0->priority = 1;

    for (bool fullOrder : {false, true}) {
        system->priorityOrderTotal = fullOrder;
        Chain chain(*system);
        SymbolicState* source = system->makeInitialState();
        source->delay();
        EXPECT_TRUE(chain.transitions.put(source));
        ASSERT_EQ(chain.out.items.size(), 3u) << fullOrder;
        const chaintest::Seen& first = chain.out.items[0];
        const chaintest::Seen& second = chain.out.items[1];
        EXPECT_EQ(first.transition, tuple({high}));
        EXPECT_FALSE(first.hasCondition);
        EXPECT_TRUE(first.state->zone.satisfies(1, 0, dbm::boundLE(10)));  // untouched: unbounded
        EXPECT_EQ(second.transition, tuple({low}));
        ASSERT_TRUE(second.hasCondition);
        // Cut to x < 3, and the condition says the same.
        EXPECT_TRUE(second.state->zone.satisfies(1, 0, dbm::boundLT(3)));
        EXPECT_FALSE(second.state->zone.satisfies(0, 1, dbm::boundLE(-3)));
        SymbolicState* probe = system->makeInitialState();
        probe->delay();
        EXPECT_NE(static_cast<Expression*>(second.condition.get())->evaluate(probe), 0);
        EXPECT_FALSE(probe->zone.satisfies(0, 1, dbm::boundLE(-3)));
        probe->release();
        EXPECT_TRUE(chain.out.items[2].nullItem);
        chain.out.release();
        EXPECT_EQ(system->statesInUse(), 0u);
    }
}

TEST(Priorities, AStateWithoutTransitionsGivesOnlyTheNullItem)
{
    ModelBuilder b;
    b.process("P", {{"A"}});
    base::RefPtr<System> system = b.finish();
    Chain chain(*system);
    EXPECT_TRUE(chain.transitions.put(system->makeInitialState()));
    ASSERT_EQ(chain.out.items.size(), 1u);
    EXPECT_TRUE(chain.out.items[0].nullItem);
    EXPECT_EQ(system->statesInUse(), 0u);
}
