#pragma once

// Simulate queries: a number of random runs up to the run bound, recording for every observed
// expression one trajectory per run, the (time, value) points at which it was observed, thinned
// so that points on a straight line are dropped. With an accepting predicate only the runs in
// which it became true are retained, and the simulation ends once enough of them are found.
// Observed expressions that range over the instances of a dynamically spawned template give one
// series per instance, created when the instance is first seen. Optionally the observed values
// are resampled at a fixed time step into "sampling.log", and the last observed values of every
// run are written to "simulation_tail.log".

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "pipeline/exploration_filters.h"
#include "pipeline/statistics.h"
#include "smc/checker_frame.h"
#include "smc/run_start.h"
#include "smc/simulation_results.h"

class ConcreteDelay;
class ConcreteTrans;
class FilterConfiguration;
class PostDelay;
class PrePostDelay;
class StatisticalJob;

class ProbaSimulator : public StatisticalChecker, public AbstractStatisticsProvider, public BoundClock
{
public:
    ProbaSimulator();
    ~ProbaSimulator() override;

    // The frame's keys, PROPERTY_JOB (the run bound, the bound clock, the accepting predicate),
    // PROPERTY_SMCRESOLUTION (int32*: the run bound is divided into this many thinning steps),
    // PROPERTY_STATISTICS and PROPERTY_SMCSAMPLINGTIME (double*: 0 writes no sampling file);
    // then every key goes to the stages.
    void setProperty(const char* key, void* value) override;
    void begin() override;
    void end() override;
    // Makes the runs; the trajectories go into the job. True when some run was retained.
    bool put(ConcreteState* initial) override;
    // Id 3: the runs still to do.
    int value(int id) override;

private:
    // The series' values on the state at `time` (new instances get series of their own), and the
    // resampled lines of the sampling file.
    void observe(ConcreteState* state, double time, bool firstOfRun);
    void resample(double time, size_t seriesBefore, bool firstOfRun);
    void addPoint(SimulationSeries& series, ObservationRecord& record, double t, double value);

    StatisticalJob* job = nullptr;
    SimulationResults* results = nullptr;
    int32_t resolution = 256;
    double samplingTime = 0.0;
    StatisticsCollector* statistics = nullptr;
    int64_t runsRequested = 0;
    int64_t runsTried = 0;
    bool hasAcceptingPredicate = false;
    ExpressionRef acceptingPredicate;
    bool accepted = false;
    bool decided = false;

    // Data of one put.
    RunStart start;
    std::vector<ObservationRecord> records;
    double step = 0.0;
    std::vector<int32_t> present;  // instance processes seen at the latest observation, sorted
    std::vector<int32_t> seen;   // scratch: the live instances of this observation
    std::vector<std::pair<SimulationSeries*, int32_t>> pending;  // scratch: instances first seen now
    std::vector<double> previousValues;
    double previousTime = 0.0;
    double nextSample = 0.0;
    bool sampleLineWritten = false;
    std::FILE* samplingFile = nullptr;
    std::FILE* tailFile = nullptr;

    ConcreteDelay* delayStep;
    PrePostDelay* prePostStep;
    PostDelay* postStep;
    ConcreteTrans* transitionStep;
    JobProgressFilter<ConcreteState>* progressStep;
    SMCDummySink* dummyStep;
    ConcreteQuery* queryStep;
};

// A new simulator; the registry is not used.
ProbaSimulator* makeProbaSimulator(FilterConfiguration* registry);
