#pragma once

// The statistical half of the job runner's set-up: the checker factories of the statistical
// property types, and the world of processes the statistical checkers talk to.

// Installs the statistical checkers in the model checker's factory table and, when a launcher
// started the program, the MPI world as the statistical checkers' communicator.
void installStatisticalCheckers();
