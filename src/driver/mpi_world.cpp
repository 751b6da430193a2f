#include "driver/mpi_world.h"

#include <cstdlib>

#include <mpi.h>

#include "support/globals.h"

namespace {

bool started = false;

void finaliseMpi()
{
    MPI_Finalize();
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
    MPI_Init(argc, argv);
    started = true;
    std::atexit(finaliseMpi);
    MPI_Comm_size(MPI_COMM_WORLD, &processCount);
    MPI_Comm_rank(MPI_COMM_WORLD, &processRank);
}

bool mpiStarted()
{
    return started;
}

void worldBarrier()
{
    if (started) {
        MPI_Barrier(MPI_COMM_WORLD);
    }
}
