#pragma once

#include <csignal>

// Set by the first interrupt.
extern volatile std::sig_atomic_t interrupted;

// While a check can be stopped, the model checker points this at its stop operation, which only
// sets flags (it runs inside the signal handler). Null when there is nothing to stop.
extern void (*stopRunningCheck)();

// The SIGINT handler. The first interrupt sets `interrupted` and asks the running check to stop,
// so the current query ends and no further one starts. Any later interrupt erases a progress
// line that shows and ends the process at once with status 1 through _exit: the at-exit actions
// (MPI finalisation, closing files) are not safe to run inside a signal handler, which may have
// interrupted any of them.
void onInterrupt(int signal);

// Installs onInterrupt for SIGINT.
void installInterruptHandler();
