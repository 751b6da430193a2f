// The entry of the module mirvek-mpi.so: the table of the MPI operations the program uses. It is
// built into the module only, never into the program (see smc/mpi_library.h).

#include <mpi.h>

#include "smc/mpi_library.h"

namespace {

void init(int* argc, char*** argv)
{
    MPI_Init(argc, argv);
}

void finalize()
{
    MPI_Finalize();
}

void barrier()
{
    MPI_Barrier(MPI_COMM_WORLD);
}

const smc::MpiLibrary table{{static_cast<uint32_t>(sizeof(smc::MpiLibrary)), smc::MpiLibrary::version},
                            init,
                            finalize,
                            barrier,
                            smc::mpiWorldCommunicator};

}  // namespace

extern "C" __attribute__((visibility("default"))) const ModuleTableHeader* mirvekMpiLibrary()
{
    return &table.header;
}
