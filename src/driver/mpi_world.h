#pragma once

// The world of processes a run takes part in. A run that an MPI launcher started
// (mpirun, mpiexec, srun with PMI) initialises MPI and is one process of the launcher's
// world; any other run is the only process of a world of one, and never calls MPI at
// all: a singleton MPI start costs about a second, which every plain run would pay.

// True when the environment shows that an MPI launcher started this process.
bool startedByMpiLauncher();

// Initialises MPI when a launcher started the process (MPI may take its own arguments
// out of argc and argv), registers its finalisation at exit, and sets processRank and
// processCount from the world communicator. Otherwise leaves them 0 and 1.
void startProcessWorld(int* argc, char*** argv);

// True when MPI was initialised by startProcessWorld.
bool mpiStarted();

// A barrier over all processes of the world; nothing in a world of one process
// without MPI.
void worldBarrier();
