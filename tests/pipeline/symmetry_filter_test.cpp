#include "pipeline/symmetry_filter.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "pipeline/keys.h"
#include "runtime/variable.h"
#include "successor_chain_fixture.h"

using chaintest::Recorder;

namespace {

// The three workers of the fixture, with the symmetry stage configured from the compiler.
struct Workers
{
    Workers() : compiled(chaintest::compileModel(chaintest::fixture("successor_symmetry.xta")))
    {
        system = compiled->system.get();
        stage.setProperty(PROPERTY_SCALARSET_INFO, compiled->compiler->getScalarsetInfo());
        stage.setProperty(PROPERTY_SYSTEM, system);
        stage.connect(&out);
        stage.begin();
        last = system->findVariable("last");
        for (int i = 0; i < 3; ++i) {
            done.push_back(system->findVariable("done[" + std::to_string(i) + "]"));
        }
    }

    // Worker i in location locations[i] (0 Idle, 1 Busy, 2 Done) with x[i] = clocks[i].
    SymbolicState* state(const std::vector<size_t>& locations, const std::vector<int32_t>& clocks)
    {
        SymbolicState* s = chaintest::stateAt(*system, locations);
        s->zone.setInit();
        for (uint32_t i = 0; i < 3; ++i) {
            s->zone.constrainClock(i + 1, clocks[i]);
        }
        return s;
    }

    std::vector<size_t> locations(const SymbolicState* s) const
    {
        std::vector<size_t> out;
        for (uint32_t p = 0; p < 3; ++p) {
            out.push_back(static_cast<size_t>(s->getLocation(p)->getIndexInProcess()));
        }
        return out;
    }

    bool clockIs(const SymbolicState* s, uint32_t clock, int32_t value) const
    {
        return !s->zone.satisfies(clock, 0, dbm::boundLT(value)) && !s->zone.satisfies(0, clock, dbm::boundLT(-value));
    }

    bool put(SymbolicState* s)
    {
        Successor item;
        item.state = s;
        item.transition = emptyEdgeTuple();
        return stage.put(&item);
    }

    chaintest::CompiledModel* compiled;
    System* system;
    SymmetryFilter stage;
    Recorder out;
    Variable* last;
    std::vector<Variable*> done;
};

}  // namespace

TEST(Symmetry, ElementsAreOrderedByLocationsAndCarryTheirVariablesAndClocks)
{
    Workers w;
    // Worker 0 done (x = 3, done[0] = 1, last = 0), worker 1 idle (x = 1), worker 2 busy (x = 2).
    SymbolicState* s = w.state({2, 0, 1}, {3, 1, 2});
    w.done[0]->setValue(s, 1);
    w.last->setValue(s, 0);
    ASSERT_TRUE(w.put(s));
    ASSERT_EQ(w.out.items.size(), 1u);
    // Renumbered 1 -> 0, 2 -> 1, 0 -> 2: idle, busy, done.
    EXPECT_EQ(w.locations(s), (std::vector<size_t>{0, 1, 2}));
    EXPECT_TRUE(w.clockIs(s, 1, 1));
    EXPECT_TRUE(w.clockIs(s, 2, 2));
    EXPECT_TRUE(w.clockIs(s, 3, 3));
    EXPECT_EQ(w.done[0]->getValue(s), 0);
    EXPECT_EQ(w.done[2]->getValue(s), 1);
    EXPECT_EQ(w.last->getValue(s), 2);  // the value follows its element
    w.out.release();
}

TEST(Symmetry, UndecidedElementsStayAndAHeldElementFollowsItsRenumbering)
{
    struct Case
    {
        const char* name;
        int32_t last;
        int32_t lastAfter;
    };
    // All workers idle with equal clocks and counts: only `last` tells them apart, and the
    // element it holds comes first.
    const Case cases[] = {
        {"already first", 0, 0},
        {"moved to the front", 2, 0},
    };
    for (const Case& c : cases) {
        Workers w;
        SymbolicState* s = w.state({0, 0, 0}, {4, 4, 4});
        w.last->setValue(s, c.last);
        ASSERT_TRUE(w.put(s)) << c.name;
        EXPECT_EQ(w.last->getValue(s), c.lastAfter) << c.name;
        EXPECT_EQ(w.locations(s), (std::vector<size_t>{0, 0, 0})) << c.name;
        for (uint32_t clock = 1; clock <= 3; ++clock) {
            EXPECT_TRUE(w.clockIs(s, clock, 4)) << c.name;
        }
        w.out.release();
    }
}

TEST(Symmetry, EachZoneOfAFederationIsASuccessorOfItsOwn)
{
    Workers w;
    SymbolicState* s = chaintest::stateAt(*w.system, {0, 0, 0});
    // Three disjoint zones over x[0]: [0,1], [2,3] and [5,inf).
    std::vector<dbm::fed_t> parts;
    for (auto [low, high] : {std::pair{0, 1}, std::pair{2, 3}, std::pair{5, -1}}) {
        dbm::fed_t part(4);
        part.setInit();
        part.constrain(0, 1, dbm::boundLE(-low));
        if (high >= 0) {
            part.constrain(1, 0, dbm::boundLE(high));
        }
        parts.push_back(part);
    }
    s->zone = parts[0];
    s->zone.unionWith(parts[1]);
    s->zone.unionWith(parts[2]);
    ASSERT_EQ(s->zone.size(), 3u);
    std::vector<dbm::fed_t> listed;
    for (const dbm::zone_t& z : s->zone) {
        listed.emplace_back(z);
    }

    ASSERT_TRUE(w.put(s));
    ASSERT_EQ(w.out.items.size(), 3u);
    // The second and third zone first, as new states, then the item itself with the first.
    const size_t order[] = {1, 2, 0};
    for (size_t k = 0; k < 3; ++k) {
        SymbolicState* part = w.out.items[k].state;
        EXPECT_EQ(part == s, k == 2) << k;
        ASSERT_EQ(part->zone.size(), 1u) << k;
        EXPECT_TRUE(part->zone.isSubsetEq(listed[order[k]]) && listed[order[k]].isSubsetEq(part->zone)) << k;
        EXPECT_EQ(w.out.items[k].transition.size(), 0u);
    }
    w.out.release();
    EXPECT_EQ(w.system->statesInUse(), 0u);
}

TEST(Symmetry, ASetOfOneElementIsNeverPermuted)
{
    chaintest::CompiledModel* compiled = chaintest::compileModel(R"(
typedef scalar[1] one_t;
typedef scalar[2] two_t;
int[0,3] mark[one_t];
one_t only;

process P(const two_t i) {
    state A, B;
    init A;
    trans A -> B { };
}

system P;
)");
    System* system = compiled->system.get();
    ASSERT_EQ(compiled->compiler->getScalarsetInfo()->records.size(), 2u);
    SymmetryFilter stage;
    stage.setProperty(PROPERTY_SCALARSET_INFO, compiled->compiler->getScalarsetInfo());
    stage.setProperty(PROPERTY_SYSTEM, system);
    stage.begin();

    SymbolicState* state = chaintest::stateAt(*system, {1, 0});
    system->findVariable("mark[0]")->setValue(state, 3);
    stage.canonicalise(state);
    // The pair is put in order; the single element keeps everything it held.
    EXPECT_EQ(state->getLocation(0)->getIndexInProcess(), 0);
    EXPECT_EQ(state->getLocation(1)->getIndexInProcess(), 1);
    EXPECT_EQ(system->findVariable("mark[0]")->getValue(state), 3);
    EXPECT_EQ(system->findVariable("only")->getValue(state), 0);
    state->release();
}
