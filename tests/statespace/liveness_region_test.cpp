// The stages that keep a liveness search inside its region: the restricted and the convex delay,
// and the deadlock and unbounded-delay detectors. Models have one process P with one clock x.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "dbm/bound.h"
#include "liveness_fixture.h"
#include "statespace/liveness_region.h"

namespace {

using livetest::clockLower;
using livetest::clockUpper;

// P: A { invariant } --(clock guard)--> B, with A committed when asked.
struct OneClock
{
    OneClock(bool committed, std::optional<int32_t> invariant, std::optional<int32_t> guardFrom)
    {
        testkit::ModelBuilder b;
        x = b.clock("x");
        testkit::LocationSpec a{"A"};
        a.committed = committed;
        if (invariant) {
            a.invariant = clockUpper(x, false, *invariant);
        }
        Process* p = b.process("P", {a, {"B"}});
        if (guardFrom) {
            testkit::EdgeSpec edge;
            edge.clockGuard = clockLower(x, false, *guardFrom);
            b.edge(p, "A", "B", edge);
        }
        system = b.finish();
    }

    // The initial state with its zone x in [low, high] (high < 0: no upper bound).
    SymbolicState* state(int32_t low, int32_t high)
    {
        SymbolicState* s = system->makeInitialState();
        s->zone.up();
        s->zone.constrain(0, 1, dbm::boundLE(-low));
        if (high >= 0) {
            s->zone.constrain(1, 0, dbm::boundLE(high));
        }
        s->traceIndex = 7;
        return s;
    }

    base::RefPtr<System> system;
    ClockVariable* x;
};

bool contains(const SymbolicState* state, double x)
{
    const double point[] = {0.0, x};
    return state->zone.containsPoint(point);
}

// Keeps what reaches it.
class Keep : public pipeline::Sink<Successor>
{
public:
    ~Keep() override
    {
        if (state != nullptr) {
            state->release();
        }
    }
    bool put(Successor* item) override
    {
        state = item->state;
        return true;
    }
    SymbolicState* state = nullptr;
};

TEST(LivenessRegion, DelayStagesKeepTheRegion)
{
    struct Case
    {
        std::string name;
        bool committed;
        int32_t low, high;  // the zone before the stage
        // The region: x < 5, or x < 1 || x > 2 (not convex).
        bool twoIntervals;
        bool useConvexStage;
        bool kept;
        std::vector<std::pair<double, bool>> points;  // x, inside afterwards
    };
    const std::vector<Case> cases = {
        {"delay stops at the region", false, 0, 0, false, false, true, {{0, true}, {4.9, true}, {5, false}, {7, false}}},
        {"convex stage alike", false, 0, 0, false, true, true, {{0, true}, {4.9, true}, {5, false}, {7, false}}},
        {"outside the region", false, 7, 9, false, false, false, {}},
        {"convex stage rejects alike", false, 7, 9, false, true, false, {}},
        {"no bridge across the gap", false, 0, 0, true, false, true, {{0.5, true}, {1.5, false}, {2.5, false}, {9, false}}},
        {"each interval delays in itself", false, 0, 3, true, false, true,
         {{0.5, true}, {1.5, false}, {2.5, true}, {9, true}}},
        {"gap reached before any delay", false, 1, 2, true, false, false, {}},
        {"committed: no delay", true, 0, 0, false, false, true, {{0, true}, {0.5, false}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OneClock model(c.committed, std::nullopt, std::nullopt);
        ExpressionRef region = clockUpper(model.x, true, 5);
        if (c.twoIntervals) {
            region = ExpressionRef(new OrExpr(clockUpper(model.x, true, 1), clockLower(model.x, true, 2)));
        }
        RestrictedDelayFilter restricted;
        ConvexDelayFilter convex;
        pipeline::AbstractFilter<Successor, Successor>& stage =
            c.useConvexStage ? static_cast<pipeline::AbstractFilter<Successor, Successor>&>(convex) : restricted;
        stage.setProperty(PROPERTY_EXPRESSION, region.get());
        Keep keep;
        stage.connect(&keep);

        const uint64_t inUse = model.system->statesInUse();
        Successor item;
        item.state = model.state(c.low, c.high);
        item.transition = emptyEdgeTuple();
        EXPECT_EQ(stage.put(&item), c.kept);
        ASSERT_EQ(keep.state != nullptr, c.kept);
        for (const auto& [x, inside] : c.points) {
            EXPECT_EQ(contains(keep.state, x), inside) << "x = " << x;
        }
        if (!c.kept) {
            // A rejected state goes back to the pool.
            EXPECT_EQ(model.system->statesInUse(), inUse);
        }
    }
}

TEST(LivenessRegion, DetectorsReportStatesThatCanStayForever)
{
    struct Case
    {
        std::string name;
        bool committed;
        std::optional<int32_t> invariant;
        std::optional<int32_t> guardFrom;  // A -> B when x >= this
        int32_t low, high;                 // the zone examined (high < 0: unbounded)
        bool deadlock;
        bool unbounded;
    };
    const std::vector<Case> cases = {
        {"no transition, invariant bounds the delay", false, 5, std::nullopt, 0, 5, true, false},
        {"transition reachable by delay", false, 5, 3, 0, 5, false, false},
        {"guard beyond the invariant", false, 5, 6, 0, 5, true, false},
        {"time leads out of the zone", false, 5, std::nullopt, 0, 2, false, false},
        {"unbounded zone without transitions", false, std::nullopt, std::nullopt, 0, -1, true, true},
        {"unbounded zone with a transition", false, std::nullopt, 3, 0, -1, false, true},
        {"committed without transitions", true, std::nullopt, std::nullopt, 0, 0, true, false},
        {"committed: guard not yet enabled", true, std::nullopt, 1, 0, 0, true, false},
        {"committed: unbounded zone", true, std::nullopt, 1, 2, -1, false, false},
    };
    base::RefPtr<FilterConfiguration> registry = livetest::makeRegistry();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OneClock model(c.committed, c.invariant, c.guardFrom);
        DeadlockDetector deadlock(registry.get());
        UnboundednessDetector unbounded;
        livetest::PairSink deadlockReports;
        livetest::PairSink unboundedReports;
        deadlock.connect(&deadlockReports);
        unbounded.connect(&unboundedReports);
        deadlock.setProperty(PROPERTY_SYSTEM, model.system.get());
        deadlock.begin();

        const uint64_t inUse = model.system->statesInUse();
        Successor item;
        item.state = model.state(c.low, c.high);
        item.transition = emptyEdgeTuple();
        EXPECT_TRUE(deadlock.put(&item));
        EXPECT_TRUE(unbounded.put(&item));
        // Neither detector takes the state or changes its zone.
        EXPECT_EQ(model.system->statesInUse(), inUse + 1);
        EXPECT_EQ(contains(item.state, c.low), true);

        using Pairs = std::vector<std::pair<int, int>>;
        const Pairs seven = {{7, 7}};
        EXPECT_EQ(deadlockReports.pairs, c.deadlock ? seven : Pairs());
        EXPECT_EQ(unboundedReports.pairs, c.unbounded ? seven : Pairs());
        item.state->release();
        deadlock.end();
    }
}

}  // namespace
