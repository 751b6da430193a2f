#pragma once

// Comparison of two probabilities, Pr[bound1](q1 p1) >= Pr[bound2](q2 p2), each side with its own
// run bound, path quantifier and predicate. Neither probability is estimated: runs of the two
// sides are made in pairs and two sequential tests decide on the pairs, one on how often the
// outcomes agree and Wald's test on the odds ratio p1(1 - p2) / (p2(1 - p1)) between the
// indifference thresholds u0 < u1. In the parametric mode (equal bounds of the same kind) the
// comparison is decided at many bound values at once and the decisions go into the job's value
// series. Every process of a distributed run makes the whole comparison on its own.

#include <cstdint>
#include <vector>

#include "pipeline/exploration_filters.h"
#include "smc/checker_frame.h"
#include "smc/run_start.h"

class ConcreteDelay;
class ConcreteTrans;
class FilterConfiguration;
class StatisticalJob;
class StatisticalQuery;

class ProbaCompareChecker : public StatisticalChecker
{
public:
    ProbaCompareChecker();
    ~ProbaCompareChecker() override;

    // The frame's keys, PROPERTY_JOB, PROPERTY_DELTAMINUS, PROPERTY_DELTAPLUS, PROPERTY_ALPHA,
    // PROPERTY_BETA, PROPERTY_RATIO_U0, PROPERTY_RATIO_U1 (double*), PROPERTY_HISTOBARS (uint32*:
    // the number of bound values of the parametric mode), PROPERTY_HISTOWIDTH (double*: the step
    // between them) and PROPERTY_CMPPARAM (bool*); then every key goes to the stages.
    void setProperty(const char* key, void* value) override;
    void begin() override;
    void end() override;
    // Pairs of runs until the tests decide. True when side 1 is found better or the two
    // indistinguishable. "(N runs) " (both sides counted) goes into the feedback text. A check
    // cut short by a stop request leaves no verdict text and is reported as aborted.
    bool put(ConcreteState* initial) override;

private:
    // One side of the query: its bound, quantifier, predicate and bound clock.
    struct Side
    {
        bool timeBounded = false;
        int32_t bound = 0;
        bool box = false;
        ExpressionRef predicate;
        ExpressionRef clock;
    };
    // The decision at one bound value.
    struct Record
    {
        int64_t discordant = 0;
        int64_t firstOnly = 0;
        int64_t concordant = 0;
        double lowerLine = 0;
        double upperLine = 0;
        double agreementSum = 0;
        int32_t status = 0;  // 0 open, 1 outcomes differ, 2 indistinguishable, 3 side 1 better, 4 not
    };

    void readSides();
    // One run of a side: its outcome (after the quantifier) and the bound clock's final value;
    // false when the check was aborted.
    bool runSide(const Side& side, ConcreteState* initial, bool& pass, double& clockValue);

    StatisticalJob* job = nullptr;
    StatisticalQuery* query = nullptr;
    double deltaMinus = 0.01;
    double deltaPlus = 0.01;
    double alpha = 0.001;
    double beta = 0.001;
    double u0 = 0.9;
    double u1 = 1.1;
    bool parametric = false;
    double histogramWidth = 0;
    uint32_t histogramBars = 0;
    bool done = false;
    bool satisfied = false;
    Side sides[2];
    RunStart start;

    ConcreteDelay* delayStep;
    ConcreteTrans* transitionStep;
    ConcreteQuery* queryStep;
    JobProgressFilter<ConcreteState>* progressStep;
};

// A new comparison checker; the registry is not used.
ProbaCompareChecker* makeProbaCompareChecker(FilterConfiguration* registry);
