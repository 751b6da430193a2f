#include "driver/statistical_setup.h"

#include "driver/job.h"
#include "driver/model_checker.h"
#include "driver/mpi_world.h"
#include "smc/communicator.h"
#include "smc/proba_checker.h"
#include "smc/sample_histogram.h"
#include "smc/statistical_job.h"

namespace {

pipeline::Connectable* makeProbability(FilterConfiguration* registry)
{
    return makeProbaChecker(registry);
}

// The statistical face of a job whose class does not show one itself: its fields read and written
// in place. One check runs at a time, so one adapter serves.
class JobAdapter : public StatisticalJob
{
public:
    void progress() override { job->progress(); }
    int32_t getPropertyType() const override { return job->type; }
    uint32_t expressionCount() const override { return job->expressionCount(); }
    ExpressionRef getExpression(uint32_t i) const override { return job->getExpression(i); }
    int32_t getRunBoundKind() const override { return job->runBoundKind; }
    int32_t getRunBound() const override { return job->runBound; }
    ExpressionRef lastExpression() const override { return job->lastExpression(); }
    ZOLT::expression_t getFormula() const override { return job->formula; }
    void setEstimate(double value, double lower, double upper) override
    {
        job->value = value;
        job->lowerBound = lower;
        job->upperBound = upper;
    }
    SampleHistogram& getHistogram() override { return histogram; }

    AbstractJob* job = nullptr;
    SampleHistogram histogram;
};

StatisticalJob* adaptJob(pipeline::JobInterface* value)
{
    static JobAdapter adapter;
    AbstractJob* job = dynamic_cast<AbstractJob*>(value);
    if (job == nullptr) {
        return nullptr;
    }
    adapter.job = job;
    adapter.histogram = SampleHistogram();
    return &adapter;
}

}  // namespace

void installStatisticalCheckers()
{
    checkerFactories().probability = &makeProbability;
    setStatisticalJobResolver(&adaptJob);
    if (mpiStarted()) {
        smc::setWorldCommunicator(&smc::mpiWorldCommunicator());
    }
}
