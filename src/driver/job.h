#pragma once

// Jobs: one per accepted query. A job carries its query through the whole run: where it came from,
// the kind of property, the formula, the compiled expressions the model checker derives from it,
// the settings and results of statistical checking, the diagnostic traces and the statistics
// collected while it runs. Job adds the progress line shown while states are explored and the
// printing of the verdict.

#include <cstdint>
#include <list>
#include <string>
#include <sys/time.h>
#include <utility>
#include <vector>

#include "language/expression.h"
#include "pipeline/job.h"
#include "pipeline/statistics.h"
#include "runtime/expression.h"
#include "smc/sample_histogram.h"
#include "smc/statistical_job.h"
#include "smc/statistical_query.h"
#include "statespace/trace.h"
#include "support/object.h"
#include "support/platform.h"

// One accepted query as the query builder leaves it.
struct PropertyRecord
{
    int32_t line = 0;    // line of the query's first token
    int32_t number = 0;  // index of the query among the accepted ones, from 0
    int32_t type = 0;    // property type (see PropertyType)
    ZOLT::expression_t formula;
};

// The property types of accepted queries.
enum PropertyType : int32_t {
    PROPERTY_INVARIANCE = 0,          // A[] p
    PROPERTY_REACHABILITY = 1,        // E<> p
    PROPERTY_POSSIBLY_ALWAYS = 2,     // E[] p
    PROPERTY_ALWAYS_EVENTUALLY = 3,   // A<> p
    PROPERTY_LEADS_TO = 4,            // p --> q
    PROPERTY_ROBUST_INVARIANCE = 5,   // A[]* p
    PROPERTY_ROBUST_REACHABILITY = 6, // E<>* p
    PROPERTY_PROBABILITY_BOX_TEST = 7,
    PROPERTY_PROBABILITY_DIAMOND_TEST = 8,
    PROPERTY_PROBABILITY_BOX_ESTIMATE = 9,
    PROPERTY_PROBABILITY_DIAMOND_ESTIMATE = 10,
    PROPERTY_PROBABILITY_COMPARE = 11,
    PROPERTY_EXPECTED_VALUE = 12,
    PROPERTY_SIMULATE = 13,
    PROPERTY_SIMULATE_ACCEPTING = 14,
    PROPERTY_MITL = 15,
    PROPERTY_SUPREMUM = 43,
    PROPERTY_INFIMUM = 44,
    PROPERTY_SCENARIO = 46,
};

// True for the statistical property types (7 to 15).
inline bool isStatisticalProperty(int32_t type)
{
    return type >= PROPERTY_PROBABILITY_BOX_TEST && type <= PROPERTY_MITL;
}

// Job statuses given to setStatus.
enum JobStatus : int32_t {
    STATUS_VERIFYING = 1,
    STATUS_SATISFIED = 2,
    STATUS_NOT_SATISFIED = 3,
    STATUS_MAYBE_SATISFIED = 4,
    STATUS_MAYBE_NOT_SATISFIED = 5,
    STATUS_ABORTED = 6,
};

class AbstractJob : public base::Object, public StatisticalJob, public StatisticalQuery
{
public:
    explicit AbstractJob(const PropertyRecord& record);
    ~AbstractJob() override;

    virtual void reset() = 0;
    // Stores the status.
    virtual void setStatus(int32_t value) { status = value; }
    // One explored state.
    void progress() override = 0;
    // Reports a fatal problem of the query (a message key) and ends the process.
    virtual void fatal(const char* messageKey) = 0;

    // ---- Compiled expressions (sub-formulas with their compiled forms, in the order added)
    uint32_t expressionCount() const override { return static_cast<uint32_t>(expressions.size()); }
    // A new reference to compiled expression i; past the end, a constant that is always true.
    ExpressionRef getExpression(uint32_t i) const override;
    // The front-end expression of pair i (i must be valid).
    ZOLT::expression_t getSourceExpression(uint32_t i) const;
    // The last pair (the list must not be empty).
    ZOLT::expression_t lastSourceExpression() const override;
    ExpressionRef lastExpression() const override;
    void addExpression(const ZOLT::expression_t& source, const ExpressionRef& compiled);
    // Empties the expressions and the simulation series (before a property is prepared).
    void clearExpressions();

    int32_t getPropertyType() const override { return type; }

    // ---- What the statistical checkers read and write
    int32_t getRunBoundKind() const override { return runBoundKind; }
    int32_t getRunBound() const override { return runBound; }
    ZOLT::expression_t getFormula() const override { return formula; }
    void setEstimate(double estimate, double lower, double upper) override
    {
        value = estimate;
        lowerBound = lower;
        upperBound = upper;
    }
    SampleHistogram& getHistogram() override { return histogram; }
    int32_t getMaximise() const override { return maximise; }
    bool isValueClock() const override { return valueIsClock; }
    void setValue(double estimate) override { value = estimate; }
    int32_t getSecondRunBoundKind() const override { return secondRunBoundKind; }
    int32_t getSecondRunBound() const override { return secondRunBound; }
    int32_t getFirstPathOperator() const override { return firstPathOperator; }
    int32_t getSecondPathOperator() const override { return secondPathOperator; }
    ValueSeries& getValueSeries() override { return valueSeries; }
    SimulationResults& getSimulation() override { return simulation; }

    // ---- Query data and statistical results
    double value = 0.0;
    double lowerBound = 0.0;
    double upperBound = 0.0;
    bool valueIsClock = false;
    int32_t runBoundKind = 0;  // 0 steps, 1 time, 2 the value of a clock expression (the last one)
    int32_t secondRunBoundKind = 0;
    int32_t runBound = 0;
    int32_t runCount = 0;
    int32_t maximise = 0;
    // The distribution of the values the runs recorded ("values").
    SampleHistogram histogram;
    ValueSeries valueSeries;
    int32_t secondRunBound = 0;
    int32_t firstPathOperator = 0;
    int32_t secondPathOperator = 0;
    SimulationResults simulation;
    // The diagnostic trace up to the reported state, and the loop that continues from it.
    base::RefPtr<Trace> trace;
    base::RefPtr<Trace> traceTail;

    // ---- The query
    int32_t line = 0;
    int32_t number = 0;
    int32_t type = 0;
    ZOLT::expression_t formula;
    int32_t status = 0;
    // Every pipeline of this job reports to this collector.
    base::RefPtr<DefaultStatisticsCollector> statistics;
    std::vector<std::pair<ZOLT::expression_t, ExpressionRef>> expressions;
    MemoryInfo memory;
    ProcessStats process;
};

class Job : public AbstractJob
{
public:
    explicit Job(const PropertyRecord& record);

    // Forgets the "Load" figure; it is not looked up again for this job.
    void reset() override;
    // Stores the status and, on the process of rank 0, prints the query's announcement (status 1)
    // or its verdict, results, summary and trace (statuses 2 to 6).
    void setStatus(int32_t value) override;
    // Counts one explored state; unless -s, prints the throughput about once a second.
    void progress() override;
    // Erases a progress line that shows, writes the formatted message to standard error and ends
    // the process with status 1.
    [[noreturn]] void fatal(const char* messageKey) override;

    // The report of a status (also what setStatus does after storing it).
    void printStatus(int32_t value);

    const StatisticsEntry* loadEntry = nullptr;  // not owned
    bool loadLookedUp = false;
    int32_t sinceReport = 0;
    int32_t reportInterval = 200;
    int32_t explored = 0;
    float cpuAtStart = 0.0f;
    float cpuAtEnd = 0.0f;
    timeval lastReport{};

private:
    // Prints the trace, or "Cannot generate trace." when its transitions or clock values cannot
    // be made into a run of the model.
    void printTrace();
    void printTraceOfJob();
};
