#pragma once

// The observation stages of a simulation, between the delay step and the transition step.
//
// PostDelay samples every simulated series once at the end of each delay. PrePostDelay looks
// inside the delay just taken: a series whose value may change while time passes (a clock
// constraint recorded as a number, a sum of constraints over processes) gets two points at every
// moment within the delay at which its value switches, the old value just before and the new one
// just after, so that its trajectory steps at the right times. Both pass the successor on
// unchanged and write points through the simulator's observation records.

#include <cstdint>
#include <vector>

#include "pipeline/pipeline.h"
#include "smc/checker_frame.h"
#include "smc/concrete_successor.h"
#include "smc/simulation_results.h"
#include "smc/window_decorator.h"

// A state seen through the window decorator that, around each evaluation of a value that may
// change with time, folds the window of the clock constraints met into the nearest moment of
// change: `next` ends as the smallest positive candidate seen.
class PCSDecorator : public StateDecorator
{
public:
    PCSDecorator(ConcreteState* state, const double* rates) : StateDecorator(state), inner(state, rates) {}

    bool constrain(const dbm::clock_constraint_t* constraints, size_t n) override
    {
        return inner.constrain(constraints, n);
    }
    bool satisfies(uint32_t i, uint32_t j, bool strict, double bound) override
    {
        return inner.satisfies(i, j, strict, bound);
    }
    bool satisfies(uint32_t i, uint32_t j, dbm::bound_t bound) override { return inner.satisfies(i, j, bound); }
    // The window starts empty for each evaluated value.
    void beginEvaluation() override { inner.resetWindow(); }
    // The moment the value changes: the start of its window when that lies ahead, else its end
    // when finite; the nearest positive one is kept.
    void endEvaluation() override;

    CSDecorator inner;
    double next = 0.0;
};

// What both stages share: the series, the observation records and the time coordinate.
class TrajectoryStage : public pipeline::AbstractFilter<ConcreteSuccessor, ConcreteSuccessor>, public BoundClock
{
public:
    // PROPERTY_JOB: the job's simulation results, whether runs are bounded in time and, for a
    // bound on a clock, that clock. Other keys are ignored.
    void setProperty(const char* key, void* value) override;

    // Written by the simulator.
    SimulationResults* results = nullptr;
    int64_t slot = 0;                              // trajectory slot of the current run
    int64_t* stepCount = nullptr;                  // the transitions of the current run
    std::vector<ObservationRecord>* records = nullptr;  // one per series
    double step = 0.0;                             // the thinning step
    bool timeBounded = true;

protected:
    // The bound clock's value when runs are bounded in time, else the transitions taken.
    double timeOf(ConcreteState* state) const;
    // Adds (t, value) to the series' trajectory of the current slot and updates its record.
    void addPoint(SimulationSeries& series, ObservationRecord& record, double t, double value);
};

// Evaluates a series on a state; false (nothing evaluated) for an instance series whose process
// is not known or has ended, and for the series that ranges over the instances itself.
bool sampleSeries(SimulationSeries& series, PublicState* state, double& value);

class PostDelay : public TrajectoryStage
{
public:
    bool put(ConcreteSuccessor* successor) override;
};

class PrePostDelay : public TrajectoryStage
{
public:
    bool put(ConcreteSuccessor* successor) override;

private:
    // Scratch kept between steps.
    std::vector<double> rates;
    std::vector<uint8_t> active;
};
