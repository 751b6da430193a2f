#pragma once

// The program does not link MPI. What it needs of it (start, end, barrier, and the world
// communicator that the distributed checks talk through) is reached through this table, which
// the module mirvek-mpi.so in the program's folder provides. Only a run that a launcher started
// loads the module; any other run never loads MPI and the libraries it brings along.

#include "smc/communicator.h"
#include "support/program_module.h"

namespace smc {

struct MpiLibrary
{
    static constexpr uint32_t version = 1;

    ModuleTableHeader header;
    // MPI_Init with the program's arguments (MPI may take its own out of them).
    void (*init)(int* argc, char*** argv);
    void (*finalize)();
    // A barrier over the world communicator.
    void (*barrier)();
    // The world communicator of the distributed checks.
    Communicator& (*world)();
};

// The table, loaded the first time it is asked for. Throws std::runtime_error, with the reason,
// when the module cannot be loaded.
const MpiLibrary& mpiLibrary();

}  // namespace smc
