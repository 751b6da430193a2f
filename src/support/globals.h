#pragma once

#include <cstdint>

// Process-wide values owned by the command-line driver and the model checker.
// They start with the values of a single, unlaunched process without a "#tau" clock.

// Rank of this process in the MPI world communicator (0 before MPI starts).
extern int32_t processRank;

// Number of processes in the MPI world communicator (1 before MPI starts).
extern int32_t processCount;

// Clock number of the "#tau" clock the model checker adds for some queries, -1 when absent.
extern int32_t tauClockNumber;
