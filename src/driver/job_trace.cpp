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
#include <vector>

#include "driver/job.h"
#include "driver/model_checker.h"
#include "driver/options.h"
#include "driver/xml_trace_writer.h"
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
        for (uint32_t c = 1; c < v.size(); ++c) {
            v[c] += step->delay;
        }
        printConcreteState(step->state, v);
    }
}

// The path as a run with clock values: the delay spent in each step and the clock values after
// every delay and every transition.
void printConcreteRun(Path* first, Path* last, const ExpressionRef& goal)
{
    PooledState copy(last->state->clone());
    if (goal->evaluate(copy.state) == 0) {
        throw Bug("Last state of trace did not satisfy the property. Please report this.");
    }
    dbm::valuation_t v(copy.state->zone.begin() != copy.state->zone.end()
                           ? (*copy.state->zone.begin()).getDimension()
                           : 1);
    copy.state->zone.getValuation(v);
    last->makeConcrete(v);

    printConcreteState(first->state, v);
    printDelay(first, v);
    std::vector<int32_t> integers;
    std::vector<int32_t> meta;
    for (Path* before = first, *step = first->next; step != nullptr; before = step, step = step->next) {
        std::ostringstream transition;
        printTransition(transition, step->transition);
        std::cerr << transition.str();
        // The clock assignments of the transition, evaluated as the run takes it: once, on the
        // values of the state before it (scratch copies of its variables take the updates).
        // Room for the variables of processes the transition may spawn.
        integers.assign(static_cast<size_t>(std::max(before->state->getIntegerArray().size(),
                                                     step->state->getIntegerArray().size())) + 1, 0);
        meta.assign(static_cast<size_t>(std::max(before->state->getMetaArray().size(),
                                                 step->state->getMetaArray().size())) + 1, 0);
        ResetIndicator resets(before->state, integers.data(), meta.data(), v.data());
        before->state->getSystem()->applyUpdates(&resets, step->transition);
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
    ModelChecker& checker = *modelChecker();
    System* system = checker.system.get();
    if ((type >= 7 && type <= 10) || type == PROPERTY_SUPREMUM || type == PROPERTY_INFIMUM || system == nullptr) {
        std::fputs("Cannot generate trace.\n", stdout);
        return;
    }
    PooledState initial(system->makeInitialState());
    base::RefPtr<Trace> joined = concatTraces(trace, traceTail);
    ExpressionRef goal;
    if (type == 0 || type == 1 || type == 2 || type == 3 || type == 5 || type == 6) {
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
    const bool counterExample = type == 0 || type == 3;

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
    std::printf("%s\n", counterExample ? "Showing counter example." : "Showing example trace.");
    std::fflush(stdout);
    if (settings.symbolicTraces || !goal || type == 2 || type == 3 || type == 4 || type == PROPERTY_SCENARIO) {
        printSymbolicRun(first);
    } else {
        printConcreteRun(first, last.get(), goal);
    }
}
