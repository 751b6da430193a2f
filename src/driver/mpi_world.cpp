#include "driver/mpi_world.h"

#include <cstdlib>

#include "smc/mpi_library.h"
#include "support/globals.h"

namespace {

bool started = false;

void finaliseMpi()
{
    smc::mpiLibrary().finalize();
}

} // namespace

bool startedByMpiLauncher()
{
    // Open MPI (its own launcher and PMIx), and the PMI launchers of MPICH, Intel MPI
    // and Slurm, describe the job to each process they start in these variables.
    static const char* const variables[] = {"OMPI_COMM_WORLD_SIZE", "OMPI_COMM_WORLD_RANK", "PMIX_RANK",
                                            "PMI_RANK", "PMI_SIZE"};
    for (const char* name : variables) {
        if (std::getenv(name) != nullptr) {
            return true;
        }
    }
    return false;
}

void startProcessWorld(int* argc, char*** argv)
{
    processRank = 0;
    processCount = 1;
    if (!startedByMpiLauncher()) {
        return;
    }
    smc::mpiLibrary().init(argc, argv);
    started = true;
    std::atexit(finaliseMpi);
    processCount = smc::mpiLibrary().world().size();
    processRank = smc::mpiLibrary().world().rank();
}

bool mpiStarted()
{
    return started;
}

void worldBarrier()
{
    if (started) {
        smc::mpiLibrary().barrier();
    }
}
