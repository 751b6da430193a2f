#pragma once

// The statistical half of the job runner's set-up: the checker factories of the statistical
// property types, and the world of processes the statistical checkers talk to.

// Installs the statistical checkers in the model checker's factory table and, when a launcher
// started the program, the MPI world as the statistical checkers' communicator.
void installStatisticalCheckers();

// Called when an exception ends the program: when the failure was not raised by every process
// alike (an error in a check that only rank 0 runs, say), the other processes would wait for this
// one for ever in their next query, and this one for them in MPI's finalisation. The process then
// ends at once, after flushing its output and without finalising MPI, which makes the launcher end
// the others. Returns otherwise.
void stopWorldAfterFailure(int status);
