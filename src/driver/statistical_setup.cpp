#include "driver/statistical_setup.h"

#include "driver/model_checker.h"
#include "driver/mpi_world.h"
#include "smc/communicator.h"
#include "smc/proba_checker.h"

namespace {

pipeline::Connectable* makeProbability(FilterConfiguration* registry)
{
    return makeProbaChecker(registry);
}

}  // namespace

void installStatisticalCheckers()
{
    checkerFactories().probability = &makeProbability;
    if (mpiStarted()) {
        smc::setWorldCommunicator(&smc::mpiWorldCommunicator());
    }
}
