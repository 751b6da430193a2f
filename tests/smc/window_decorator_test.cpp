// The delay window of clock constraints under clock rates.

#include <gtest/gtest.h>

#include <limits>

#include "smc/window_decorator.h"
#include "smc_fixture.h"

namespace {

constexpr double inf = std::numeric_limits<double>::infinity();

struct WindowCase
{
    const char* name;
    double x, y;            // clock values
    double rateX, rateY;    // clock rates
    uint32_t i, j;          // the constraint x_i - x_j < c or <= c (1 = x, 2 = y)
    bool strict;
    double c;
    bool holds;
    double lower, upper;
    bool hit;
};

TEST(WindowDecorator, NarrowsTheWindowOfEachKindOfConstraint)
{
    auto model = smctest::compile("clock x, y; process P() { state A; init A; } system P;");
    auto state = model->initial();
    const double m = CSDecorator::strictMargin;
    const WindowCase cases[] = {
        // Upper bounds on a clock (invariants).
        {"x<=10 from 4", 4, 0, 1, 1, 1, 0, false, 10, true, -1, 6, false},
        {"x<10 from 4", 4, 0, 1, 1, 1, 0, true, 10, true, -1, 6 - m, false},
        {"x<=10 within tolerance below the limit", 10 - 1e-15, 0, 1, 1, 1, 0, false, 10, true, -1, inf, true},
        {"x<=10 exactly at the limit", 10, 0, 1, 1, 1, 0, false, 10, true, -1, inf, true},
        {"x<=10 stopped below", 4, 0, 0, 1, 1, 0, false, 10, true, -1, inf, false},
        {"x<=10 stopped just above, no tolerance", 10 + 1e-15, 0, 0, 1, 1, 0, false, 10, false, -1, inf, false},
        {"x<=10 beyond the tolerance", 10.5, 0, 1, 1, 1, 0, false, 10, false, -1, inf, false},
        {"x<=10 running backwards from above", 12, 0, -1, 1, 1, 0, false, 10, false, 2, inf, false},
        {"x<10 running backwards from above", 12, 0, -1, 1, 1, 0, true, 10, false, 2 + m, inf, false},
        {"x<=10 running backwards from below", 4, 0, -1, 1, 1, 0, false, 10, true, -1, inf, false},
        {"x<=10 twice as fast", 4, 0, 2, 1, 1, 0, false, 10, true, -1, 3, false},
        // Lower bounds on a clock (guards): x >= 4 is 0 - x <= -4.
        {"x>=4 from 0", 0, 0, 1, 1, 0, 1, false, -4, false, 4, inf, false},
        {"x>4 from 0", 0, 0, 1, 1, 0, 1, true, -4, false, 4 + m, inf, false},
        {"x>=4 already past", 5, 0, 1, 1, 0, 1, false, -4, true, -1, inf, false},
        {"x>=4 exactly now", 4, 0, 1, 1, 0, 1, false, -4, true, 0, inf, false},
        {"x>=4 running backwards from 6", 6, 0, -1, 1, 0, 1, false, -4, true, -1, 2, false},
        {"x>=4 stopped below", 3, 0, 0, 1, 0, 1, false, -4, false, -1, inf, false},
        {"x>=4 stopped above", 5, 0, 0, 1, 0, 1, false, -4, true, -1, inf, false},
        {"x>=4 running backwards at the limit", 4, 0, -1, 1, 0, 1, false, -4, true, -1, inf, true},
        // Differences of two clocks: no tolerance, no margin.
        {"y-x<=3 only grows", 1, 5, 1, 2, 2, 1, false, 3, false, -1, inf, false},
        {"x-y<=3 until 2", 1, 0, 2, 1, 1, 2, false, 3, true, -1, 2, false},
        {"x-y<=3 from 5 with x slower", 5, 0, 1, 2, 1, 2, false, 3, false, 2, inf, false},
        {"x-y<=3 equal rates", 1, 0, 1, 1, 1, 2, false, 3, true, -1, inf, false},
    };
    for (const WindowCase& c : cases) {
        SCOPED_TRACE(c.name);
        state->setClockValue(1, c.x);
        state->setClockValue(2, c.y);
        const double rates[] = {1, c.rateX, c.rateY};
        CSDecorator window(state.get(), rates);
        EXPECT_EQ(window.satisfies(c.i, c.j, c.strict, c.c), c.holds);
        EXPECT_DOUBLE_EQ(window.lower, c.lower);
        EXPECT_DOUBLE_EQ(window.upper, c.upper);
        EXPECT_EQ(window.hit, c.hit);
        // The state itself never changes.
        EXPECT_EQ(state->getClocks().values[1], c.x);
    }
}

TEST(WindowDecorator, ConstraintListsStopAtTheFirstThatFailsAndEncodedComparisonsPassUnseen)
{
    auto model = smctest::compile("clock x, y; process P() { state A; init A; } system P;");
    auto state = model->initial();
    state->setClockValue(1, 12);
    state->setClockValue(2, 0);
    const double rates[] = {1, 1, 1};
    CSDecorator window(state.get(), rates);
    // x <= 10 fails; y <= 5 after it would have narrowed the window.
    const dbm::clock_constraint_t list[] = {{1, 0, dbm::boundLE(10)}, {2, 0, dbm::boundLE(5)}};
    EXPECT_FALSE(window.constrain(list, 2));
    EXPECT_EQ(window.upper, inf);
    EXPECT_TRUE(window.constrain(list + 1, 1));
    EXPECT_EQ(window.upper, 5);
    // The encoded form, which byte code uses for clock comparisons, accepts anything.
    window.resetWindow();
    EXPECT_TRUE(window.satisfies(1, 0, dbm::boundLT(10)));
    EXPECT_EQ(window.upper, inf);
    EXPECT_EQ(window.lower, -1);
}

TEST(WindowDecorator, CompiledInvariantsAndGuardsGiveTheirWindows)
{
    auto model = smctest::compile("clock x;\n"
                                  "process P() { state A { x <= 10 }, B; init A; trans A -> B { guard x >= 4; }; }\n"
                                  "system P;");
    auto state = model->initial();
    const double rates[] = {1, 1};
    CSDecorator window(state.get(), rates);
    EXPECT_TRUE(model->location("P", "A")->getInvariant()->evaluate(&window));
    EXPECT_EQ(window.upper, 10);
    window.resetWindow();
    const Edge* edge = model->process("P")->getEdges()[0].get();
    EXPECT_TRUE(edge->evaluateGuard(&window));  // the data part only
    EXPECT_FALSE(edge->evaluateClockGuard(&window));
    EXPECT_EQ(window.lower, 4);
}

}  // namespace
