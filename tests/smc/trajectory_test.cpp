// Thinning of simulated trajectories: points on a straight line and repetitions are dropped or
// held back as they are observed, and a held-back point returns when the trajectory turns.

#include <gtest/gtest.h>

#include <limits>
#include <sstream>

#include "smc/simulation_results.h"
#include "runtime/exceptions.h"

namespace {

// Observes the points in order as the simulator does, keeping the record of the latest one, and
// appends a held-back last point at the end as a run's end does.
Trajectory observe(const std::vector<std::pair<double, double>>& points, double step)
{
    Trajectory trajectory;
    ObservationRecord record;
    record.stored = true;
    for (const auto& [t, y] : points) {
        record.stored = addTrajectoryPoint(t, y, step, trajectory, record, "v");
        record.time = t;
        record.value = y;
    }
    if (!record.stored) {
        trajectory.emplace_back(record.time, record.value);
    }
    return trajectory;
}

TEST(Trajectory, PointsThatAddNoShapeAreDropped)
{
    struct Case
    {
        std::vector<std::pair<double, double>> observed;
        double step;
        Trajectory kept;
    };
    const Case cases[] = {
        // Collinear points: the farther one replaces the last one.
        {{{0, 0}, {1, 1}, {2, 2}}, 0.5, {{0, 0}, {2, 2}}},
        {{{0, 0}, {1, 1}, {2, 2}, {3, 1}}, 0.5, {{0, 0}, {2, 2}, {3, 1}}},
        {{{0, 0}, {0.5, 0}, {1, 0}}, 0.01, {{0, 0}, {1, 0}}},
        // A constant value keeps its first and its latest observation.
        {{{0, 5}, {1, 5}, {2, 5}, {3, 5}}, 0.01, {{0, 5}, {3, 5}}},
        // A repetition is held back and written at the end of the run.
        {{{0, 0}, {2, 1}, {2, 1}}, 0.01, {{0, 0}, {2, 1}, {2, 1}}},
        // A step function keeps both corners of each step.
        {{{0, 0}, {2, 0}, {2, 1}, {4, 1}}, 0.01, {{0, 0}, {2, 0}, {2, 1}, {4, 1}}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(observe(c.observed, c.step), c.kept) << c.observed.size() << " points at step " << c.step;
    }
}

TEST(Trajectory, AValueThatIsNotFiniteIsAnOverflow)
{
    Trajectory trajectory;
    ObservationRecord record;
    try {
        addTrajectoryPoint(1, std::numeric_limits<double>::infinity(), 0.1, trajectory, record, "d");
        FAIL() << "no error";
    } catch (const CannotEvaluateExpression& e) {
        EXPECT_NE(std::string(e.what()).find("Overflow on observed variable: d"), std::string::npos) << e.what();
    }
    EXPECT_TRUE(trajectory.empty());
}

TEST(Trajectory, TheListingShowsEachSeriesRunByRun)
{
    SimulationResults results;
    SimulationSeries a;
    a.name = "a";
    a.trajectories = {{{0, 0}, {1.5, 2}}, {}};
    results.series.push_back(a);
    std::ostringstream os;
    printSimulationValues(results, os);
    EXPECT_EQ(os.str(), "a:\n[0]: (0,0) (1.5,2)\n[1]:\n");
}

}  // namespace
