#pragma once

// What the expected-value, comparison, simulation and MITL checkers and the plot writer read from
// and write into a query's job beyond StatisticalJob. The job belongs to the verification control
// above this library and implements this interface beside StatisticalJob; the checkers find it
// from the value sent with PROPERTY_JOB.

#include <cstdint>

#include "language/expression.h"
#include "smc/simulation_results.h"

class StatisticalQuery
{
public:
    virtual ~StatisticalQuery() = default;

    // Expected values: not 0 for the maximum, 0 for the minimum; whether the observed value is a
    // clock (read from the clock valuation rather than from the evaluation).
    virtual int32_t getMaximise() const = 0;
    virtual bool isValueClock() const = 0;
    // The mean of an expected value.
    virtual void setValue(double value) = 0;

    // Comparisons: how the second side's runs are bounded (as getRunBoundKind) and by how much,
    // and the path operator of each side (the box or diamond marker kind).
    virtual int32_t getSecondRunBoundKind() const = 0;
    virtual int32_t getSecondRunBound() const = 0;
    virtual int32_t getFirstPathOperator() const = 0;
    virtual int32_t getSecondPathOperator() const = 0;
    // The decisions of a parametric comparison.
    virtual ValueSeries& getValueSeries() = 0;

    // The simulated series and their trajectories.
    virtual SimulationResults& getSimulation() = 0;

    // The query text of the last compiled expression (a clock that bounds the runs).
    virtual ZOLT::expression_t lastSourceExpression() const = 0;
};
