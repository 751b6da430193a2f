// Running the jobs: the barrier that keeps the processes of a run in step, which processes take
// part, the model restrictions, the order of preparation and checking, and how a check's result
// becomes the job's verdict and result text.

#include "driver/job_runner.h"

#include <cstdio>
#include <iostream>
#include <sstream>
#include <utility>
#include <vector>

#include "driver/interrupt.h"
#include "driver/mpi_world.h"
#include "language/node_kind.h"
#include "runtime/exceptions.h"
#include "smc/communicator.h"
#include "support/exceptions.h"
#include "support/globals.h"

namespace {

ZOLT::span_t unpack(packed_span_t span)
{
    return ZOLT::span_t(static_cast<int32_t>(static_cast<uint32_t>(span)),
                        static_cast<int32_t>(static_cast<uint32_t>(span >> 32)));
}

// Numbers in general notation with six significant digits.
std::string number(double value)
{
    char text[64];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

double clamped(double value)
{
    return value < 0.0 ? 0.0 : value > 1.0 ? 1.0 : value;
}

bool takesPartOnEveryProcess(int32_t type)
{
    return type == 7 || type == 8 || type == 9 || type == 10 || type == 12 || type == 15;
}

// The status of a verdict code: satisfied, may be satisfied, may not be satisfied, not satisfied.
int32_t statusOf(int32_t code)
{
    static const int32_t statuses[] = {STATUS_SATISFIED, STATUS_MAYBE_SATISFIED, STATUS_MAYBE_NOT_SATISFIED,
                                       STATUS_NOT_SATISFIED};
    return statuses[code];
}

// True for the checks whose found goal is a witness that holds however much of the state space
// was explored: a reached goal state, or a loop.
bool foundIsWitness(int32_t type)
{
    return type <= PROPERTY_ROBUST_REACHABILITY || type == PROPERTY_SCENARIO;
}

} // namespace

namespace {

// What becomes of a job whose query has an error.
enum class OnError {
    announceAndAbort,  // it is announced and aborted at once
    abort,             // it was announced; it is aborted
    keep,              // only the error is recorded; the job is reported in its turn
};

// Announces a job that cannot run and ends it aborted.
void reportAborted(ModelChecker& checker, AbstractJob* job)
{
    checker.currentJob = job;
    job->setStatus(STATUS_VERIFYING);
    job->setStatus(STATUS_ABORTED);
}

} // namespace

// Runs fn; an error of the query (evaluation or compile error, or a property this build cannot
// check) becomes an error of the model at its position and aborts only the job. Returns false then.
// The job's report (with the trace to the failing state) is printed after the error was caught,
// not inside the handler: what printing meets is its own affair.
template <class F>
static bool guardJob(ModelChecker& checker, AbstractJob* job, OnError onError, F fn)
{
    ZOLT::span_t position;
    std::string message;
    std::string context;
    try {
        fn();
        return true;
    } catch (const CannotEvaluateExpression& error) {
        const int32_t state = error.getStateNumber();
        if (state != -1 && checker.traceStore && state < checker.traceStore->size()) {
            // The trace to the state in which the model failed, not one more step.
            job->traceTail = checker.traceStore->createTrace(state, -1);
            job->trace = checker.traceStore->createTrace(state);
        }
        position = unpack(error.getPosition());
        message = error.what();
        context = error.getContext();
    } catch (const CompileError& error) {
        position = unpack(error.getPosition());
        message = error.what();
    } catch (const PropertyNotSupported& error) {
        position = error.getPosition();
        message = error.what();
    }
    checker.model->recordError(position, message, context);
    if (onError == OnError::announceAndAbort) {
        reportAborted(checker, job);
    } else if (onError == OnError::abort) {
        job->setStatus(STATUS_ABORTED);
    }
    return false;
}

namespace {

// Whether the run stops before the next job. An interrupt reaches one process (rank 0 under a
// launcher), perhaps while the model was still loading; the processes agree on it before every
// job, so that all of them end together and none waits for a job that the others never start.
bool stopBeforeNextJob(const ModelChecker& checker)
{
    const int mine = checker.stopRequested || interrupted != 0 ? 1 : 0;
    return smc::worldCommunicator().agreeMax(mine) != 0;
}

} // namespace

void runJobs(ModelChecker& checker, const std::list<base::RefPtr<Job>>& jobs)
{
    checker.stopRequested = false;
    if (!checker.options.reuse) {
        for (const base::RefPtr<Job>& job : jobs) {
            if (stopBeforeNextJob(checker)) {
                break;
            }
            checker.runJobWithInfo(job.get());
        }
        return;
    }
    // One state space for all queries: the clock bounds of every query are collected first. A
    // query that cannot be prepared is reported aborted in its turn, so the reports keep the
    // order of the queries.
    ExtrapolationInfo bounds;
    std::vector<std::pair<Job*, bool>> prepared;
    for (const base::RefPtr<Job>& job : jobs) {
        const bool ok = guardJob(checker, job.get(), OnError::keep, [&] {
            checker.prepareProperty(job.get());
            for (const auto& [source, compiled] : job->expressions) {
                compiled->accept(bounds);
            }
        });
        prepared.emplace_back(job.get(), ok);
    }
    for (const auto& [job, ok] : prepared) {
        if (stopBeforeNextJob(checker)) {
            break;
        }
        if (ok) {
            checker.runJob(bounds, job);
        } else if (processRank == 0) {
            reportAborted(checker, job);
        }
    }
}

bool interruptCutTheRun(const std::list<base::RefPtr<Job>>& jobs)
{
    if (processRank != 0 || interrupted == 0) {
        return false;
    }
    for (const base::RefPtr<Job>& job : jobs) {
        if (job->status < STATUS_SATISFIED || job->status > STATUS_MAYBE_NOT_SATISFIED) {
            return true;
        }
    }
    return false;
}

void ModelChecker::runJobWithInfo(AbstractJob* job)
{
    // An interrupt that came since the processes agreed to run this job is not forgotten.
    stopRequested = interrupted != 0;
    ExtrapolationInfo bounds;
    const bool ok = guardJob(*this, job, OnError::announceAndAbort, [&] {
        prepareProperty(job);
        for (const auto& [source, compiled] : job->expressions) {
            compiled->accept(bounds);
        }
    });
    if (ok) {
        runJob(bounds, job);
    }
}

void ModelChecker::runJob(const ExtrapolationInfo& bounds, AbstractJob* job)
{
    const int32_t t = job->type;
    worldBarrier();
    if (processRank != 0 && !takesPartOnEveryProcess(t)) {
        return;
    }
    if (system && !isStatisticalProperty(t)) {
        if (system->floatingPointClocks) {
            throw SystemException("$Property_cannot_be_checked_on_this_system");
        }
        if (system->urgentClockGuards) {
            throw SystemException("$Clock_guards_are_not_allowed_on_urgent_edges");
        }
    }
    guardJob(*this, job, OnError::abort, [&] {
        currentJob = job;
        job->setStatus(STATUS_VERIFYING);

        const bool deadlock = containsDeadlock(job->formula);
        if (deadlock) {
            lastPropertyType = -1;
        }
        freeSupInfResults();
        resultBuffer.clear();
        const bool plainReachability = (t == 0 || t == 1 || t == 5 || t == 6) && !deadlock;
        prepare(ExtrapolationInfo(bounds), plainReachability);
        if (deadlock) {
            lastPropertyType = -1;
        }
        prepareProperty(job);

        const bool approximate = (differenceConstraints && nonZeroClockAssignment) ||
                                 (options.extrapolation == 4 && (!reachabilityOnly || differenceConstraints)) ||
                                 (options.extrapolation == 3 && differenceConstraints);
        bool maybe = approximate;
        const bool hull = options.representation == 3;
        if (hull) {
            // What the convex hull finds may lie in the over-approximation only. Without a trace
            // store nothing can be confirmed, so every find is uncertain.
            maybe = traceStore ? approximate : true;
        }
        const bool bitState = options.representation == 2;
        if (approximate && bitState) {
            if (processRank == 0) {
                job->fatal("$Cannot_use_under-approximation_for_system_with_expressions_over_clock_differences_"
                           "and_non-zero_assignments_to_clocks");
            }
            return;
        }
        if (processRank != 0) {
            run();
            return;
        }

        const CheckResult r = run();
        if (hull && r.found && !r.confirmed) {
            // A goal, loop or value of the hull that no replayed run confirmed.
            maybe = true;
        }
        // An interrupt during this job (while it was prepared, or during its search) cut the
        // exploration short or kept it from starting: what was not explored may hold the answer.
        // A statistical check tells itself whether it was cut short (it reports itself aborted).
        const bool cut = stopRequested && !isStatisticalProperty(t);

        if (r.first != -1 && !approximate && traceStore) {
            job->traceTail = traceStore->createTrace(r.first, r.second);
            job->trace = traceStore->createTrace(r.first);
        }
        if (!maybe) {
            maybe = system->clocksStopped;
        }
        if (r.aborted) {
            // The checker's own report stays in the result text; no verdict text joins it.
            job->setStatus(STATUS_ABORTED);
            return;
        }
        int32_t code = r.found ? (maybe ? 1 : 0) : (bitState ? 2 : 3);
        if (cut && !(r.found && foundIsWitness(t))) {
            // No result text either: the values of a supremum found so far are no supremum.
            job->setStatus(STATUS_ABORTED);
            return;
        }
        code = composeResult(job, code);
        job->setStatus(statusOf(code));
    });
}

int32_t ModelChecker::composeResult(AbstractJob* job, int32_t code)
{
    const int32_t t = job->type;
    const bool accepted = code == 0 || code == 1;
    const char* path = t == 7 || t == 9 ? "[] ..." : "<> ...";
    std::string& text = resultBuffer;
    switch (t) {
    case 0:
    case 3:
    case 4:
    case 5:
    case 46: code = 3 - code; break;
    case 7:
    case 8:
        if (accepted) {
            text += "H0: Pr(" + std::string(path) + ") >= " + number(job->value + options.deltaPlus) +
                    "\nwith confidence " + number(1 - options.beta) + ".\n";
        } else {
            text += "H1: Pr(" + std::string(path) + ") <= " + number(job->value - options.deltaMinus) +
                    "\nwith confidence " + number(1 - options.alpha) + ".\n";
        }
        break;
    case 9:
    case 10:
        if (accepted) {
            text += "Pr(" + std::string(path) + ") in [" + number(clamped(job->lowerBound)) + "," +
                    number(clamped(job->upperBound)) + "]\nwith confidence " + number(1 - options.alpha) + ".\n";
        }
        break;
    case 11:
        text += accepted ? "Pr(..)/Pr(..) >= " + number(options.u1) : "Pr(..)/Pr(..) <= " + number(options.u0);
        text += " with confidence " + number(1 - options.alpha) + ".\n";
        break;
    case 12:
        if (accepted) {
            text += std::string(job->maximise != 0 ? "E(max) = " : "E(min) = ") + number(job->value) + "\n";
        }
        break;
    case 15:
        if (accepted) {
            text += "Pr(MITL ) in [" + number(clamped(job->value - options.epsilon)) + "," +
                    number(clamped(job->value + options.epsilon)) + "]\nwith confidence " +
                    number(1 - options.alpha) + ".\n";
        }
        break;
    case 43:
    case 44: {
        const bool sup = t == 43;
        std::ostringstream out;
        out << (sup ? "sup{" : "inf{") << job->formula[0].toString(false) << "}:\n";
        const ZOLT::expression_t& list = job->formula[1];
        for (uint32_t i = 0; i < supInfCount && i < list.getSize(); ++i) {
            const SupInfResult& record = supInfResults[i];
            const ZOLT::expression_t& item = list[i];
            out << item.toString(false);
            if (!item.getType().isKind(ZOLT::CLOCK)) {
                out << (sup ? " <= " : " >= ") << (sup ? record.upper : record.lower) << "\n";
            } else if (!record.seen) {
                out << " ???\n";
            } else if (sup && record.upper == 2147483646) {
                out << " < inf\n";
            } else {
                const int32_t bound = sup ? record.upper : record.lower;
                const bool weak = (bound & 1) != 0;
                out << (sup ? (weak ? " <= " : " < ") : (weak ? " >= " : " > ")) << (bound >> 1) << "\n";
            }
        }
        text = out.str();
        break;
    }
    default: break;
    }
    if (t >= 7 && t <= 12 && options.coverage) {
        system->printStatistics(std::cout);
        std::cout.flush();
    }
    return code;
}
