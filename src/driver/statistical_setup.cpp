#include "driver/statistical_setup.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "driver/model_checker.h"
#include "driver/mpi_world.h"
#include "smc/communicator.h"
#include "smc/proba_checker.h"
#include "support/globals.h"

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

void stopWorldAfterFailure(int status)
{
    if (!mpiStarted() || processCount <= 1 || smc::failureShared()) {
        return;
    }
    std::cout.flush();
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(status);
}
