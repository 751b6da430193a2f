#pragma once

// Probability queries: Pr[bound]([] f) and Pr[bound](<> f), either tested against a threshold
// theta (a sequential probability ratio test with indifference region [theta - delta-,
// theta + delta+]) or estimated (a fixed number of runs from the Chernoff-Hoeffding bound, and an
// exact confidence interval). Every process of a distributed run makes its own runs; rank 0
// decides a test from the batches of all processes and reports an estimate over all of them.

#include <cstdint>
#include <string>
#include <vector>

#include "pipeline/statistics.h"
#include "runtime/concrete_state.h"
#include "smc/checker_frame.h"

class ConcreteDelay;
class ConcreteTrans;
class FilterConfiguration;
class SMCCoordinator;
class StatisticalJob;

class ProbaChecker : public StatisticalChecker, public AbstractStatisticsProvider, public BoundClock
{
public:
    ProbaChecker();
    ~ProbaChecker() override;

    // The frame's keys, PROPERTY_JOB (the run bound, the bound clock, the [] forms, the stop
    // condition of a conditional estimate), PROPERTY_OPTIONTRACE (int*: 0 none, 1 some run,
    // 2 the shortest run), PROPERTY_STATISTICS, PROPERTY_PROBABILITY (double*: theta; <= 0
    // estimates), PROPERTY_DELTAMINUS, PROPERTY_DELTAPLUS, PROPERTY_ALPHA, PROPERTY_BETA,
    // PROPERTY_EPSILON (double*), PROPERTY_HISTOBARS (int32*), PROPERTY_HISTOWIDTH (double*),
    // PROPERTY_SMCLOG (bool*), PROPERTY_SMCLOGFILENAME (const char**), PROPERTY_SMCSTRATEGY;
    // then every key goes to the stages.
    void setProperty(const char* key, void* value) override;
    // Wires the chain, adds the global time clock and registers the runs-left figure.
    void begin() override;
    // Withdraws the figure, removes the time clock.
    void end() override;
    // Runs the whole check from copies of the initial state; the verdict goes to the connected
    // sink and is returned. The result text ("(N runs) ") goes to the feedback text, the estimate,
    // its interval and the histogram into the job.
    bool put(ConcreteState* initial) override;
    // Id 3: the runs still to do by the Chernoff-Hoeffding bound.
    int value(int id) override;

private:
    // The copy of the initial state a run starts from, with empty slots for the spawnable
    // processes and the spawned-process table reset.
    ConcreteState* startRun(ConcreteState* initial);
    // Combines the counts and values of all processes and computes the estimate; false when
    // some process could not complete its share.
    void estimationEnd(SMCCoordinator& coordinator, std::vector<double>& values);
    std::string histogramLabel() const;

    pipeline::JobInterface* job = nullptr;
    StatisticalJob* statisticalJob = nullptr;
    bool stopConditionMet = false;
    bool logOutcomes = false;
    bool negateOutcome = false;
    bool estimate = true;
    double histogramWidth = 0;
    int32_t histogramBars = 0;
    double theta = 0.5;
    double epsilon = 0.1;
    double deltaMinus = 0.01;
    double deltaPlus = 0.01;
    double alpha = 0.001;
    double beta = 0.001;
    int32_t traceKind = 0;
    const char* const* logFileName = nullptr;
    StatisticsCollector* statistics = nullptr;
    base::RefPtr<base::Object> strategy;

    int64_t successes = 0;
    int64_t recordedValues = 0;
    int64_t runs = 0;
    int64_t runsPerProcess = 0;
    bool result = false;
    bool done = false;
    bool satisfied = false;
    SpawnTable spawnTable;

    ConcreteProgressFilter* progressStep;
    ConcreteDelay* delayStep;
    ConcreteTrans* transitionStep;
    ConcreteQuery* queryStep;
};

// A new probability checker; the registry is not used.
ProbaChecker* makeProbaChecker(FilterConfiguration* registry);
