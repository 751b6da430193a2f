#include "smc/simulation_results.h"

#include <algorithm>
#include <cmath>
#include <ostream>

#include "runtime/exceptions.h"

namespace {

// Two observations closer than this in time and in value are the same point; three points whose
// cross product is within it lie on one line.
constexpr double closeness = 1e-9;

}  // namespace

bool addTrajectoryPoint(double t, double y, double step, Trajectory& trajectory, const ObservationRecord& record,
                        const std::string& name)
{
    if (!std::isfinite(y)) {
        throw CannotEvaluateExpression("Overflow on observed variable: " + name, NO_POSITION, name, -1);
    }
    const size_t n = trajectory.size();
    if (n >= 1) {
        const auto [t1, y1] = trajectory[n - 1];
        if (std::fabs(t - t1) < closeness && std::fabs(y - y1) < closeness) {
            return false;
        }
        if (n >= 2) {
            const auto [t0, y0] = trajectory[n - 2];
            const double dt1 = t1 - t0;
            const double dy1 = y1 - y0;
            const double dt = t - t0;
            const double dy = y - y0;
            const double cross = dy * dt1 - dt * dy1;
            if (std::fabs(cross) <= closeness || (std::fabs(dt1) <= step && std::fabs(dt) <= step)) {
                if (dt * dt1 + dy * dy1 >= 0) {
                    // Ahead of the last point on the same line: keep the farther of the two.
                    if (dt * dt + dy * dy <= dt1 * dt1 + dy1 * dy1) {
                        return false;
                    }
                    trajectory[n - 1] = {t, y};
                    return true;
                }
                if (n >= 3) {
                    // The line turns back within one step: the wiggle is merged.
                    const double tBefore = trajectory[n - 3].first;
                    const double span = std::max({std::fabs(t - tBefore), std::fabs(t1 - tBefore),
                                                  std::fabs(t0 - tBefore)});
                    if (span <= step) {
                        trajectory[n - 2] = {t1, y1};
                        trajectory[n - 1] = {t, y};
                        return true;
                    }
                }
            }
        }
    }
    if (!record.stored) {
        trajectory.emplace_back(record.time, record.value);
    }
    trajectory.emplace_back(t, y);
    return true;
}

void printSimulationValues(const SimulationResults& results, std::ostream& os)
{
    for (const SimulationSeries& series : results.series) {
        os << series.name << ":\n";
        for (size_t i = 0; i < series.trajectories.size(); ++i) {
            os << "[" << i << "]:";
            for (const auto& [t, v] : series.trajectories[i]) {
                os << " (" << t << "," << v << ")";
            }
            os << "\n";
        }
    }
}
