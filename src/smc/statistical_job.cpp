#include "smc/statistical_job.h"

namespace {

StatisticalJobResolver& installedResolver()
{
    static StatisticalJobResolver resolver = nullptr;
    return resolver;
}

}  // namespace

void setStatisticalJobResolver(StatisticalJobResolver resolver)
{
    installedResolver() = resolver;
}

StatisticalJob* resolveStatisticalJob(pipeline::JobInterface* job)
{
    if (job == nullptr) {
        return nullptr;
    }
    if (StatisticalJob* own = dynamic_cast<StatisticalJob*>(job)) {
        return own;
    }
    return installedResolver() != nullptr ? installedResolver()(job) : nullptr;
}
