#pragma once

#include <list>

#include "driver/job.h"
#include "driver/model_checker.h"

// Runs every job in list order. Without -T each job is prepared and run in turn; with -T the
// properties of all jobs are prepared first, so that one state space serves them all. A stop
// request ends the loop after the current job.
void runJobs(ModelChecker& checker, const std::list<base::RefPtr<Job>>& jobs);
