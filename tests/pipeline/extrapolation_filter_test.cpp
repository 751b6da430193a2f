#include "pipeline/extrapolation_filter.h"

#include <gtest/gtest.h>

#include <string>

#include "pipeline/filter_configuration.h"
#include "pipeline/keys.h"
#include "pipeline/successor_chain.h"
#include "successor_chain_fixture.h"
#include "support/exceptions.h"
#include "support/globals.h"
#include "testkit/model_builder.h"

using chaintest::Recorder;
using testkit::EdgeSpec;
using testkit::ModelBuilder;

namespace {

// Clocks x, y and z (and "#tau" when asked, as the last clock). P: A { x <= 5 }, B (no bound),
// D { x - y <= 2 }; Q: L { z <= 7 } --(z >= 2; z := 0)--> L.
struct Model
{
    base::RefPtr<System> system;
    ClockVariable* x;
    ClockVariable* y;
    ClockVariable* z;
    ClockVariable* tau = nullptr;
    Process* p;
};

Model makeModel(bool withTau = false, bool withDifference = true)
{
    ModelBuilder b;
    Model m;
    m.x = b.clock("x");
    m.y = b.clock("y");
    m.z = b.clock("z");
    if (withTau) {
        m.tau = b.clock("#tau");
    }
    m.p = b.process("P", {{"A", testkit::clockUpper(m.x, false, 5), "x <= 5"},
                          {"B"},
                          {"D", withDifference ? testkit::clockDifference(m.x, m.y, false, 2) : nullptr,
                           withDifference ? "x - y <= 2" : ""}});
    Process* q = b.process("Q", {{"L", testkit::clockUpper(m.z, false, 7), "z <= 7"}});
    EdgeSpec loop;
    loop.clockGuard = testkit::clockLower(m.z, false, 2);
    loop.update = testkit::assign(m.z, 0);
    b.edge(q, "L", "L", loop);
    m.system = b.finish();
    return m;
}

uint32_t number(const ClockVariable* clock)
{
    return static_cast<uint32_t>(clock->getClockNumber());
}

// A state of P in the location, every clock equal to `value`.
SymbolicState* stateAt(const Model& m, const char* location, int32_t value)
{
    SymbolicState* state = m.system->makeInitialState();
    state->setLocation(0, m.p->getLocation(location[0] == 'A' ? 0 : location[0] == 'B' ? 1 : 2));
    state->zone.up();
    state->zone.constrain(1, 0, dbm::boundLE(value));
    state->zone.constrain(0, 1, dbm::boundLE(-value));
    return state;
}

// In a zone where the clocks were equal, the clock may now be 0 and may be beyond 1000: it is tied
// to no other clock and has no upper bound any more.
bool isFree(const SymbolicState* state, const ClockVariable* clock)
{
    return state->zone.satisfies(number(clock), 0, dbm::boundLE(0)) &&
           state->zone.satisfies(0, number(clock), dbm::boundLT(-1000));
}

bool sameZone(const dbm::fed_t& a, const dbm::fed_t& b)
{
    return a.isSubsetEq(b) && b.isSubsetEq(a);
}

// Runs the state through a begun stage and returns it.
SymbolicState* pass(pipeline::Filter<Successor, Successor>& stage, SymbolicState* state)
{
    Recorder out;
    stage.connect(&out);
    Successor item;
    item.state = state;
    item.transition = emptyEdgeTuple();
    EXPECT_TRUE(stage.put(&item));
    EXPECT_EQ(out.items.size(), 1u);
    out.items.clear();  // the caller keeps the state
    return state;
}

template <class Stage>
void configure(Stage& stage, System& system, ExtrapolationInfo* query = nullptr)
{
    ExtrapolationInfo none;
    stage.setProperty(PROPERTY_SYSTEM, &system);
    stage.setProperty(PROPERTY_EXPRESSION_INFO, query != nullptr ? query : &none);
    stage.begin();
}

}  // namespace

TEST(ActiveClocks, InactiveClocksAreFreedAndTheOthersKept)
{
    Model m = makeModel(true);
    ExtrapolationInfo onlyZ;  // the query bounds nothing beyond the model
    struct Case
    {
        const char* name;
        const char* location;
        bool xFree;
        bool yFree;
    };
    const Case cases[] = {
        {"x bounded by the invariant", "A", false, true},
        {"no clock of P bounded", "B", true, true},
        {"a difference constraint keeps both", "D", false, false},
    };
    tauClockNumber = static_cast<int32_t>(number(m.tau));
    for (const Case& c : cases) {
        ActiveClockReductionFilter stage;
        configure(stage, *m.system, &onlyZ);
        SymbolicState* state = pass(stage, stateAt(m, c.location, 3));
        EXPECT_EQ(isFree(state, m.x), c.xFree) << c.name;
        EXPECT_EQ(isFree(state, m.y), c.yFree) << c.name;
        // z is bounded where Q is; "#tau" is bounded nowhere and still kept.
        EXPECT_FALSE(isFree(state, m.z)) << c.name;
        EXPECT_FALSE(isFree(state, m.tau)) << c.name;
        state->release();
    }
    tauClockNumber = -1;

    // A clock that only the query mentions is active everywhere.
    ExtrapolationInfo query;
    query.setUpperBound(number(m.y), 4);
    ActiveClockReductionFilter stage;
    configure(stage, *m.system, &query);
    SymbolicState* state = pass(stage, stateAt(m, "B", 3));
    EXPECT_TRUE(isFree(state, m.x));
    EXPECT_FALSE(isFree(state, m.y));
    EXPECT_TRUE(isFree(state, m.tau));  // without "#tau" it is a clock like the others
    state->release();
    EXPECT_EQ(m.system->statesInUse(), 0u);
}

TEST(Extrapolation, GlobalBoundsDifferenceConstraintsAndDrift)
{
    Model m = makeModel();
    {
        // x = y = z = 9 in D: beyond the constants of x (5) and z (7), so both may grow without
        // bound; the difference constraint x - y <= 2 still holds everywhere afterwards.
        ExtrapolationFilter stage;
        configure(stage, *m.system);
        SymbolicState* state = pass(stage, stateAt(m, "D", 9));
        EXPECT_TRUE(state->zone.satisfies(0, number(m.x), dbm::boundLE(-100)));
        EXPECT_TRUE(state->zone.satisfies(0, number(m.z), dbm::boundLE(-100)));
        EXPECT_FALSE(state->zone.satisfies(number(m.y), number(m.x), dbm::boundLT(-2)));
        state->release();
    }
    {
        // Drift leaves a zone that is bounded above as the extrapolation made it, and adds to an
        // unbounded one the part above the constants (in A, x = z there, but not above them).
        ExtrapolationFilter plain;
        ExtrapolationFilter drifting;
        uint8_t drift = 1;
        drifting.setProperty(PROPERTY_ZUBOR_DRIFT, &drift);
        configure(plain, *m.system);
        configure(drifting, *m.system);

        SymbolicState* bounded = stateAt(m, "A", 1);
        SymbolicState* unbounded = m.system->makeInitialState();
        unbounded->delay();
        for (SymbolicState* state : {bounded, unbounded}) {
            SymbolicState* without = pass(plain, state->clone());
            SymbolicState* with = pass(drifting, state->clone());
            EXPECT_TRUE(without->zone.isSubsetEq(with->zone));
            EXPECT_EQ(sameZone(without->zone, with->zone), state == bounded);
            without->release();
            with->release();
            state->release();
        }
    }
    EXPECT_EQ(m.system->statesInUse(), 0u);
}

TEST(Extrapolation, LocationBasedBoundsFreeUnboundedClocks)
{
    Model m = makeModel(false, false);
    for (int kind = 0; kind < 2; ++kind) {
        LocalExtrapolationFilter local;
        LULocalExtrapolationFilter lowerUpper;
        pipeline::Filter<Successor, Successor>& stage =
            kind == 0 ? static_cast<pipeline::Filter<Successor, Successor>&>(local) : lowerUpper;
        if (kind == 0) {
            configure(local, *m.system);
        } else {
            configure(lowerUpper, *m.system);
        }
        // In B nothing bounds x or y: both are freed; z keeps its bound from Q's location.
        SymbolicState* state = pass(stage, stateAt(m, "B", 3));
        EXPECT_TRUE(isFree(state, m.x)) << kind;
        EXPECT_TRUE(isFree(state, m.y)) << kind;
        EXPECT_FALSE(isFree(state, m.z)) << kind;
        state->release();
    }
    EXPECT_EQ(m.system->statesInUse(), 0u);
}

TEST(Extrapolation, LowerAndUpperConstantsApartOrMerged)
{
    // x >= 2 on the way out and x <= 7 inside: lower constant 2, upper constant 7. At x = 5 the
    // upper bound x <= 5 lies above the lower constant and goes, unless both constants are 7.
    ModelBuilder b;
    ClockVariable* x = b.clock("x");
    Process* p = b.process("P", {{"A", testkit::clockUpper(x, false, 7), "x <= 7"}, {"B"}});
    EdgeSpec out;
    out.clockGuard = testkit::clockLower(x, false, 2);
    b.edge(p, "A", "B", out);
    base::RefPtr<System> system = b.finish();

    for (bool apart : {true, false}) {
        LULocalExtrapolationFilter stage;
        stage.setProperty(PROPERTY_EXTRAPOLATE_LU, &apart);
        configure(stage, *system);
        SymbolicState* state = system->makeInitialState();
        state->zone.up();
        state->zone.constrain(1, 0, dbm::boundLE(5));
        state->zone.constrain(0, 1, dbm::boundLE(-5));
        pass(stage, state);
        EXPECT_EQ(state->zone.satisfies(0, 1, dbm::boundLE(-6)), apart) << apart;
        state->release();
    }
}

TEST(Extrapolation, LocalBoundsRefuseDifferenceConstraints)
{
    // The model's own difference constraint (location D) and one that only the query makes.
    Model withDifference = makeModel();
    ModelBuilder b;
    ClockVariable* x = b.clock("x");
    ClockVariable* y = b.clock("y");
    b.process("P", {{"A"}});
    base::RefPtr<System> plain = b.finish();
    ExtrapolationInfo query;
    testkit::clockDifference(x, y, true, 3)->accept(query);
    ASSERT_FALSE(query.getDifferenceConstraints().empty());

    struct Case
    {
        const char* name;
        System* system;
        ExtrapolationInfo* query;
    };
    const Case cases[] = {
        {"in a location", withDifference.system.get(), nullptr},
        {"in the query", plain.get(), &query},
    };
    for (const Case& c : cases) {
        for (int kind = 0; kind < 2; ++kind) {
            try {
                if (kind == 0) {
                    LocalExtrapolationFilter stage;
                    configure(stage, *c.system, c.query);
                } else {
                    LULocalExtrapolationFilter stage;
                    configure(stage, *c.system, c.query);
                }
                ADD_FAILURE() << c.name << " " << kind;
            } catch (const RuntimeException& e) {
                EXPECT_STREQ(e.what(), "$Local_extrapolation_is_used_with_diagonal_constraints") << c.name;
            }
        }
        // The difference extrapolation keeps them instead.
        ExtrapolationFilter global;
        EXPECT_NO_THROW(configure(global, *c.system, c.query)) << c.name;
    }
}

TEST(Extrapolation, TheKindChoosesTheStage)
{
    clearBuiltinFilters();
    registerSuccessorChainFilters();
    struct Case
    {
        const char* name;
        int kind;
        int32_t tau;
        const char* expected;  // the class built, or null for none
    };
    const Case cases[] = {
        {"none", 1, -1, nullptr},
        {"difference", 2, -1, "ExtrapolationFilter"},
        {"location", 3, -1, "LocalExtrapolationFilter"},
        {"location with #tau", 3, 4, "LULocalExtrapolationFilter"},
        {"lower and upper", 4, -1, "LULocalExtrapolationFilter"},
    };
    auto nameOf = [](pipeline::Connectable* stage) -> std::string {
        if (stage == nullptr) {
            return "none";
        }
        std::string name = dynamic_cast<LULocalExtrapolationFilter*>(stage) != nullptr ? "LULocalExtrapolationFilter"
                           : dynamic_cast<LocalExtrapolationFilter*>(stage) != nullptr ? "LocalExtrapolationFilter"
                           : dynamic_cast<ExtrapolationFilter*>(stage) != nullptr       ? "ExtrapolationFilter"
                                                                                        : "other";
        delete stage;
        return name;
    };
    for (const Case& c : cases) {
        base::RefPtr<FilterConfiguration> registry(new FilterConfiguration);
        tauClockNumber = c.tau;
        selectExtrapolation(*registry, c.kind);
        tauClockNumber = -1;
        const std::string expected = c.expected != nullptr ? c.expected : "none";
        EXPECT_EQ(nameOf(registry->get(FILTER_EXTRAPOLATION)), expected) << c.name;
        EXPECT_EQ(nameOf(registry->get(FILTER_GOXA_EXTRAPOLATION)), expected) << c.name;
    }
    base::RefPtr<FilterConfiguration> registry(new FilterConfiguration);
    EXPECT_THROW(selectExtrapolation(*registry, 0), Bug);
    clearBuiltinFilters();
}
