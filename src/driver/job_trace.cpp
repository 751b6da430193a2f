// Printing the diagnostic trace of a job: the stored transitions are replayed from the initial
// state, and the path is printed symbolically, as a concrete run with clock values and delays, or
// written to a trace file.

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "driver/job.h"
#include "driver/model_checker.h"
#include "driver/options.h"
#include "driver/xml_trace_writer.h"
#include "runtime/exceptions.h"
#include "runtime/state_decorators.h"
#include "runtime/symbolic_state.h"
#include "statespace/path.h"
#include "support/exceptions.h"

PathRef ModelChecker::makeTrace(SymbolicState* initial, const base::RefPtr<Trace>& trace, const ExpressionRef& goal)
{
    // A trace found on an over-approximation need not be a run of the model: its replay then
    // ends without a path (the report says so) rather than with an error.
    PathList stuck;
    PathList relaxed;
    return makePath(filterConfiguration.get(), initial, trace, goal, &stuck, &relaxed);
}

namespace {

// Gives a pooled state back when it goes out of scope.
struct PooledState
{
    SymbolicState* state;
    explicit PooledState(SymbolicState* state) : state(state) {}
    ~PooledState()
    {
        if (state != nullptr) {
            state->release();
        }
    }
    PooledState(const PooledState&) = delete;
    PooledState& operator=(const PooledState&) = delete;
};

void printTransition(std::ostream& os, EdgeTuple transition)
{
    os << "\nTransitions:\n";
    for (Edge* const* e = transition; *e != nullptr; ++e) {
        os << "  ";
        (*e)->print(os, 0);
        os << "\n";
    }
}

void printConcreteState(SymbolicState* state, const dbm::valuation_t& v)
{
    System* system = state->getSystem();
    std::ostringstream os;
    os << "\nState:\n";
    state->printLocations(os, nullptr);
    os << "\n";
    for (uint32_t c = 1; c < v.size(); ++c) {
        // A point picked at a zero bound can be a negative zero; it is shown as 0.
        os << system->getClockVariable(c)->getName() << "=" << v[c] + 0.0 << " ";
    }
    state->printVariables(os);
    os << "\n";
    std::cerr << os.str();
}

void printDelay(Path* step, dbm::valuation_t& v)
{
    if (step->delay > 0) {
        std::cerr << "\nDelay: " << step->delay << "\n";
        letTimePass(step->state, v, step->delay);
        printConcreteState(step->state, v);
    }
}

// Gives the path the delays of a run with clock values and returns the clock values at its start.
// With a goal the run ends where it holds; without one (the trace to a state in which the model
// failed) anywhere in the last step. Raises std::out_of_range when no run is found.
dbm::valuation_t makeConcreteRun(Path* last, const ExpressionRef& goal)
{
    PooledState copy(last->state->clone());
    if (goal && goal->evaluate(copy.state) == 0) {
        throw Bug("Last state of trace did not satisfy the property. Please report this.");
    }
    dbm::valuation_t v(copy.state->zone.begin() != copy.state->zone.end()
                           ? (*copy.state->zone.begin()).getDimension()
                           : 1);
    copy.state->zone.getValuation(v);
    // The delays are first sought backwards from a point of the goal; where that gives no run of
    // the model (values at a later step that no choice at an earlier one leads to), they are
    // chosen forwards on the zones restricted to what leads to the goal, which finds one whenever
    // the path is a trace of the model.
    bool run = false;
    try {
        last->makeConcrete(v);
        run = last->isConcreteRun(v, copy.state->zone);
    } catch (const std::out_of_range&) {
        run = false;
    }
    if (!run) {
        last->makeConcreteForwards(v, copy.state->zone);
        if (!last->isConcreteRun(v, copy.state->zone)) {
            throw std::out_of_range("Failed to generate trace");
        }
    }
    return v;
}

// The run: the delay spent in each step and the clock values after every delay and every
// transition, from the clock values v at the start.
void printConcreteRun(Path* first, dbm::valuation_t v)
{
    printConcreteState(first->state, v);
    printDelay(first, v);
    for (Path* before = first, *step = first->next; step != nullptr; before = step, step = step->next) {
        std::ostringstream transition;
        printTransition(transition, step->transition);
        std::cerr << transition.str();
        // The clock assignments of the transition, evaluated as the run takes it: once, on the
        // values of the state before it.
        applyClockUpdates(before->state, step->state, step->transition, v);
        printConcreteState(step->state, v);
        printDelay(step, v);
    }
}

void printSymbolicRun(Path* first)
{
    std::ostringstream os;
    os << "\nState\n";
    first->state->describe(os, nullptr);
    for (Path* step = first->next; step != nullptr; step = step->next) {
        printTransition(os, step->transition);
        os << "\nState\n";
        step->state->describe(os, nullptr);
    }
    std::cerr << os.str();
}

} // namespace

void Job::printTrace()
{
    try {
        printTraceOfJob();
    } catch (const CannotEvaluateExpression&) {
        // The stored transitions cannot be taken again as the search took them: no trace is
        // better than one that is no run of the model.
        std::fputs("Cannot generate trace.\n", stdout);
    } catch (const std::out_of_range&) {
        // No clock values make the path a run.
        std::fputs("Cannot generate trace.\n", stdout);
    }
    std::fflush(stdout);
}

void Job::printTraceOfJob()
{
    ModelChecker& checker = *modelChecker();
    System* system = checker.system.get();
    if ((type >= 7 && type <= 10) || type == PROPERTY_SUPREMUM || type == PROPERTY_INFIMUM || system == nullptr) {
        std::fputs("Cannot generate trace.\n", stdout);
        return;
    }
    PooledState initial(system->makeInitialState());
    base::RefPtr<Trace> joined = concatTraces(trace, traceTail);
    // An aborted query's trace leads to the state in which the model failed: the formula is
    // neither shown to hold there nor evaluated again (that may be what failed).
    const bool failed = status == STATUS_ABORTED;
    ExpressionRef goal;
    if (!failed && (type == 0 || type == 1 || type == 2 || type == 3 || type == 5 || type == 6)) {
        goal = getExpression(0);
    }
    PathRef last = checker.makeTrace(initial.state, joined, goal);
    if (!last) {
        std::fputs("Cannot generate trace.\n", stdout);
        return;
    }
    const TraceOutputSettings& settings = traceOutputSettings;
    if (settings.preStable) {
        if (goal) {
            PooledState copy(last->state->clone());
            if (goal->evaluate(copy.state) == 0) {
                throw Bug("Goal state does not satisfy property");
            }
            dbm::fed_t past = copy.state->zone;
            past.down();
            dbm::fed_t& zone = last->state->zone;
            zone.intersectWith(past);
            if (zone.begin() != zone.end()) {
                const dbm::zone_t first = *zone.begin();
                zone.assignZone(first);
            }
        }
        last->stabilise();
    }
    Path* first = last->linkSteps();
    if (first->state->zone.isEmpty()) {
        std::fputs("Trace generation failed.\n", stderr);
        return;
    }
    const bool counterExample = !failed && (type == 0 || type == 3);

    if (settings.traceToFiles) {
        char name[256];
        std::snprintf(name, sizeof name, "%s-%d.xtr", settings.traceFilePrefix, number + 1);
        std::fprintf(stderr, "%s%s\n", counterExample ? "Writing counter example to " : "Writing example trace to ",
                     name);
        std::ofstream file(name, std::ios::out | std::ios::trunc);
        if (!file) {
            // The user asked for the file: say that it is not there rather than pass in silence.
            std::fprintf(stderr, "Error opening %s: %s\n", name, std::strerror(errno));
            traceWriteFailed = true;
            return;
        }
        first->state->printNumeric(file, true);
        for (Path* step = first->next; step != nullptr; step = step->next) {
            step->state->printNumeric(file, true);
            for (Edge* const* e = step->transition; *e != nullptr; ++e) {
                (*e)->writeTraceEntries(file);
            }
            file << ".\n";
        }
        file << ".\n";
        file.flush();
        if (!file) {
            std::fprintf(stderr, "Error writing %s\n", name);
            traceWriteFailed = true;
        }
        return;
    }
    if (xmlTraceWanted) {
        const std::string name = xmlTracePrefix + std::to_string(xmlTraceCounter) + ".xml";
        if (writeXMLTrace(first, last.get(), first->state->getSystem(), name)) {
            std::printf("XMLTrace outputted to: %s\n", name.c_str());
        } else {
            traceWriteFailed = true;
        }
        ++xmlTraceCounter;
        return;
    }
    const bool symbolic = settings.symbolicTraces || type == 2 || type == 3 || type == 4 || type == PROPERTY_SCENARIO ||
                          (!goal && !failed);
    dbm::valuation_t start;
    if (!symbolic) {
        // Found before anything is printed: a run that cannot be made leaves no half trace.
        start = makeConcreteRun(last.get(), goal);
        first = last->linkSteps();
    }
    std::printf("%s\n", counterExample ? "Showing counter example." : "Showing example trace.");
    std::fflush(stdout);
    if (symbolic) {
        printSymbolicRun(first);
    } else {
        printConcreteRun(first, start);
    }
}
