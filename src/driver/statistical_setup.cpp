#include "driver/statistical_setup.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "driver/model_checker.h"
#include "driver/mpi_world.h"
#include "smc/communicator.h"
#include "smc/compare_checker.h"
#include "smc/expectation_checker.h"
#include "smc/mitl_checker.h"
#include "smc/proba_checker.h"
#include "smc/simulator.h"
#include "support/globals.h"

namespace {

pipeline::Connectable* makeProbability(FilterConfiguration* registry)
{
    return makeProbaChecker(registry);
}

pipeline::Connectable* makeExpectation(FilterConfiguration* registry)
{
    return makeProbaEChecker(registry);
}

pipeline::Connectable* makeComparison(FilterConfiguration* registry)
{
    return makeProbaCompareChecker(registry);
}

pipeline::Connectable* makeSimulation(FilterConfiguration* registry)
{
    return makeProbaSimulator(registry);
}

pipeline::Connectable* makeMitl(FilterConfiguration* registry)
{
    return makeProbaMitl(registry);
}

}  // namespace

void installStatisticalCheckers()
{
    checkerFactories().probability = &makeProbability;
    checkerFactories().simulation = &makeSimulation;
    checkerFactories().probabilityComparison = &makeComparison;
    checkerFactories().expectation = &makeExpectation;
    checkerFactories().mitl = &makeMitl;
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
