#pragma once

// What a simulate query records, and what a parametric comparison leaves: the trajectories of the
// observed expressions, one list of (time, value) points per run, thinned as they are built, and
// a series of values over evenly spaced bounds. The query's job holds them; the simulator and its
// observation stages fill them; the job's report prints them.

#include <cstdint>
#include <iosfwd>
#include <list>
#include <string>
#include <utility>
#include <vector>

#include "runtime/expression.h"

// One trajectory: the observed points of one run, in time order.
using Trajectory = std::vector<std::pair<double, double>>;

// The values of one simulated expression.
struct SimulationSeries
{
    std::string name;  // the text of the simulated expression
    bool isClock = false;
    ExpressionRef expression;
    // One trajectory per run slot.
    std::vector<Trajectory> trajectories;
    // The process number of an instance of a series that ranges over spawned processes; -1 for
    // an ordinary series and for the ranging series itself.
    int32_t instanceProcess = -1;
    // The instance's process has ended; it is no longer observed.
    bool instanceEnded = false;
};

// Results of a simulate query.
struct SimulationResults
{
    int64_t runs = 0;           // runs asked for
    int64_t acceptingRuns = 0;  // accepting runs asked for (0: no early stop)
    std::list<SimulationSeries> series;
    ExpressionRef acceptingPredicate;
    bool hasAcceptingPredicate = false;
    int64_t keptRuns = 0;   // runs retained so far; also the trajectory slot of the current run
    int64_t triedRuns = 0;  // runs tried, written at the end of a simulation
};

// A series of values over evenly spaced bounds (the parametric comparison fills it).
struct ValueSeries
{
    std::string name = "values";
    std::vector<double> values;  // empty until filled
    double low = 0.0;
    double high = 0.0;
    double step = 0.0;
    int64_t count = 0;
};

// The latest observation of one series: a point that the thinning held back (stored false) is
// still to be written when the trajectory turns or the run ends.
struct ObservationRecord
{
    bool stored = false;
    double time = 0.0;
    double value = 0.0;
};

// Adds the observation (t, y) to a trajectory, dropping what a straight line or a wiggle shorter
// than `step` makes redundant. Returns whether the point is in the trajectory now (false: held
// back in the record by the caller). A value that is not finite throws CannotEvaluateExpression
// "Overflow on observed variable: <name>".
bool addTrajectoryPoint(double t, double y, double step, Trajectory& trajectory, const ObservationRecord& record,
                        const std::string& name);

// Each series as "<name>:" and one line "[i]: (t,v) ..." per run slot.
void printSimulationValues(const SimulationResults& results, std::ostream& os);
