#pragma once

// What the statistical checkers need of the query's job beyond the pipeline's job interface: the
// run bound, the formula, and the places for the results. The job belongs to the verification
// control above this library, which implements this interface; the value sent with PROPERTY_JOB
// is the pipeline::JobInterface pointer of a job that implements it.

#include <cstdint>

#include "language/expression.h"
#include "pipeline/job.h"
#include "runtime/expression.h"

class SampleHistogram;

class StatisticalJob : public pipeline::JobInterface
{
public:
    // How a run is bounded: 0 by a number of transitions, 1 by time, 2 by the value of a clock
    // (the last compiled expression of the job).
    virtual int32_t getRunBoundKind() const = 0;
    virtual int32_t getRunBound() const = 0;
    // A new counted reference to the last compiled expression.
    virtual ExpressionRef lastExpression() const = 0;
    // The query's formula after type checking.
    virtual ZOLT::expression_t getFormula() const = 0;

    // The estimate and its confidence interval.
    virtual void setEstimate(double value, double lowerBound, double upperBound) = 0;
    // The distribution of the values the runs recorded.
    virtual SampleHistogram& getHistogram() = 0;
};

// How a checker finds the statistical job behind the value of PROPERTY_JOB: by default the job
// itself implements StatisticalJob. A driver whose jobs do not may install a function that
// answers for them (null restores the default).
using StatisticalJobResolver = StatisticalJob* (*)(pipeline::JobInterface* job);
void setStatisticalJobResolver(StatisticalJobResolver resolver);
StatisticalJob* resolveStatisticalJob(pipeline::JobInterface* job);
