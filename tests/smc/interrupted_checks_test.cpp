// Estimates cut short by a stop request: an expected value or an MITL probability made from part
// of the runs (or none) is no result, so the check ends aborted and leaves the job's value alone.

#include <gtest/gtest.h>

#include <climits>

#include "mitl/formula.h"
#include "pipeline/keys.h"
#include "smc/expectation_checker.h"
#include "smc/mitl_checker.h"
#include "smc/statistical_query.h"
#include "smc_fixture.h"
#include "typecheck/checked_reading.h"

namespace {

const char* const idle = "clock x; int n = 3; process P() { state A; init A; } system P;";

// A job with the query data of expected values as well.
class QueryJob : public smctest::FakeJob, public StatisticalQuery
{
public:
    int32_t getMaximise() const override { return 1; }
    bool isValueClock() const override { return false; }
    void setValue(double v) override { value = v; }
    int32_t getSecondRunBoundKind() const override { return 0; }
    int32_t getSecondRunBound() const override { return 0; }
    int32_t getFirstPathOperator() const override { return 0; }
    int32_t getSecondPathOperator() const override { return 0; }
    ValueSeries& getValueSeries() override { return series; }
    SimulationResults& getSimulation() override { return simulation; }
    ZOLT::expression_t lastSourceExpression() const override { return formula; }

    ValueSeries series;
    SimulationResults simulation;
};

// Sends the keys the model checker sends, a stop request, and the initial state.
template <class Checker>
bool runStopped(Checker& checker, smctest::Model& model, QueryJob& job, std::string& feedback, double alpha = 0.05)
{
    smctest::VerdictSink verdicts;
    bool silent = true;
    int32_t runs = 10;
    int32_t bars = 0;
    double width = 0;
    checker.connect(&verdicts);
    checker.setProperty(PROPERTY_SYSTEM, model.system.get());
    checker.setProperty(PROPERTY_SILENT, &silent);
    checker.setProperty(PROPERTY_JOB, static_cast<pipeline::JobInterface*>(&job));
    ExpressionRef expression = job.getExpression(0);
    checker.setProperty(PROPERTY_EXPRESSION, expression.get());
    checker.setProperty(PROPERTY_NBRUNS, &runs);
    checker.setProperty(PROPERTY_ALPHA, &alpha);
    checker.setProperty(PROPERTY_EPSILON, &alpha);
    checker.setProperty(PROPERTY_HISTOBARS, &bars);
    checker.setProperty(PROPERTY_HISTOWIDTH, &width);
    checker.setProperty(PROPERTY_FEEDBACK, &feedback);
    checker.setProperty(PROPERTY_STOP, nullptr);
    checker.begin();
    std::unique_ptr<ConcreteState> initial(model.system->buildInitialState());
    const bool verdict = checker.put(initial.get());
    checker.end();
    EXPECT_EQ(verdicts.verdicts, std::vector<bool>{verdict});
    return verdict;
}

TEST(InterruptedCheck, AnExpectedValueCutShortIsAborted)
{
    auto model = smctest::compile(idle);
    QueryJob job;
    job.runBoundKind = 1;
    job.runBound = 10;
    job.expressions.push_back(model->formula("n"));
    std::string feedback = "untouched";
    ProbaEChecker checker;
    EXPECT_FALSE(runStopped(checker, *model, job, feedback));
    EXPECT_TRUE(checker.isAborted());
    EXPECT_EQ(job.value, -1);
    EXPECT_FALSE(job.histogram.isFilled());
    EXPECT_EQ(feedback, "untouched");
}

TEST(InterruptedCheck, AnMitlEstimateCutShortIsAborted)
{
    auto model = smctest::compile(idle);
    QueryJob job;
    job.type = 15;
    const ZOLT::expression_t text = ZOLT::readCheckedExpressionText("n == 3", model->parsed.get(), true);
    job.expressions.push_back(MitlRef(new MitlAtom(model->compiler->compileStateFormula(text, nullptr), text)));
    std::string feedback = "untouched";
    ProbaMitl checker;
    EXPECT_FALSE(runStopped(checker, *model, job, feedback));
    EXPECT_TRUE(checker.isAborted());
    EXPECT_EQ(job.value, -1);
    EXPECT_FALSE(job.histogram.isFilled());
    EXPECT_EQ(feedback, "untouched");
    // All 738 runs are still to do.
    EXPECT_EQ(checker.value(3), 738);

    // Trillions of runs: the progress figure is held at the int's limit.
    ProbaMitl huge;
    runStopped(huge, *model, job, feedback, 1e-6);
    EXPECT_EQ(huge.value(3), INT_MAX);
}

}  // namespace
