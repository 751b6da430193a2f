#pragma once

// Expected values, E[bound; N](max: e) and E[bound; N](min: e): N random runs up to the run
// bound, each contributing the largest (or smallest) value that e takes over the states of the
// run; the mean of these values is the result, and the sample is kept as the job's histogram.
// The runs are shared out over the processes of a distributed run; rank 0 gathers the sample.

#include <cstdint>
#include <string>
#include <vector>

#include "pipeline/exploration_filters.h"
#include "smc/checker_frame.h"
#include "smc/communicator.h"
#include "smc/run_start.h"

class ConcreteDelay;
class ConcreteTrans;
class FilterConfiguration;
class StatisticalJob;
class StatisticalQuery;

class ProbaEChecker : public StatisticalChecker, public BoundClock
{
public:
    ProbaEChecker();
    ~ProbaEChecker() override;

    // The frame's keys, PROPERTY_JOB (the run bound and its clock), PROPERTY_NBRUNS (int32*: N),
    // PROPERTY_HISTOBARS (int32*), PROPERTY_HISTOWIDTH (double*) and PROPERTY_SMCSTRATEGY (kept);
    // then every key goes to the stages.
    void setProperty(const char* key, void* value) override;
    void begin() override;
    void end() override;
    // Makes this process's share of the runs; the mean goes into the job's value, the sample
    // into its histogram (on rank 0), "(N runs) " into the feedback text. A check cut short by a
    // stop request or an abort leaves no result and is reported as aborted.
    bool put(ConcreteState* initial) override;

    // The processes the runs are shared with (null, the default: smc::worldCommunicator()).
    void setCommunicator(smc::Communicator* world) { communicator = world; }

private:
    smc::Communicator& world() const { return communicator != nullptr ? *communicator : smc::worldCommunicator(); }
    // One run from the initial state: false when the check must end (abort).
    bool run(ConcreteState* initial, bool maximising, double& extreme);
    // Combines the values of all processes on rank 0 and fills in the results there.
    void combine(std::vector<double>& values, int64_t runsDone);
    std::string label() const;

    smc::Communicator* communicator = nullptr;
    StatisticalJob* job = nullptr;
    StatisticalQuery* query = nullptr;
    int64_t runCount = 0;
    int32_t histogramBars = 0;
    double histogramWidth = 0.0;
    double valueCell = 0.0;
    base::RefPtr<base::Object> strategy;
    RunStart start;

    ConcreteDelay* delayStep;
    ConcreteTrans* transitionStep;
    ConcreteValue* valueStep;
    JobProgressFilter<ConcreteState>* progressStep;
};

// A new expected-value checker; the registry is not used.
ProbaEChecker* makeProbaEChecker(FilterConfiguration* registry);
