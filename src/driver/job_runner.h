#pragma once

#include <list>

#include "driver/job.h"
#include "driver/model_checker.h"

// Runs every job in list order. Without -T each job is prepared and run in turn; with -T the
// properties of all jobs are prepared first, so that one state space serves them all. A stop
// request ends the loop after the current job.
void runJobs(ModelChecker& checker, const std::list<base::RefPtr<Job>>& jobs);

// Whether an interrupt kept a query of the run from its verdict: one was aborted, or never
// started (also when the interrupt came while the model was loading). Such a run failed, as far
// as a script that started it can tell; a run whose queries all got their verdicts did not,
// whenever the interrupt came. Only the process of rank 0 gets interrupts and reports; the
// others of an MPI run only stop with it, and say no.
bool interruptCutTheRun(const std::list<base::RefPtr<Job>>& jobs);
