#include "smc/mpi_library.h"

namespace smc {

const MpiLibrary& mpiLibrary()
{
    // Open MPI loads plug-ins of its own that look for its symbols in the global scope.
    static const MpiLibrary& library =
        loadModuleTable<MpiLibrary>("mirvek-mpi.so", "mirvekMpiLibrary", "runs under an MPI launcher", true);
    return library;
}

// The communicator itself lives in the module; the program reaches it through the table.
Communicator& mpiWorldCommunicator()
{
    return mpiLibrary().world();
}

}  // namespace smc
