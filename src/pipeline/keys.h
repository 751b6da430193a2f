#pragma once

// Property keys and filter names.
//
// Every stage is configured through setProperty with one of the keys below. A key is a global
// constant whose address is its identity: stages compare the key argument against these
// constants by pointer, never by text, so a string that merely reads the same is no key.
//
// Values that point to numbers or flags are copied on arrival (senders may pass the address of a
// temporary); pointers to objects stay valid for the run and may be kept. A stage that keeps a
// counted value takes its reference before releasing the one it held.

class SymbolicState;

// Symbolic exploration.
extern const char PROPERTY_SYSTEM[];  // counted System: the compiled model
extern const char PROPERTY_EXPRESSION[];  // counted Expression: the query's predicate (null releases it)
extern const char PROPERTY_EXPRESSION_INFO[];  // ExtrapolationInfo*: clock bounds and difference constraints of the query
extern const char PROPERTY_COLOR_STATE_SET[];  // counted CSS: the store shared by the passed and passed-waiting lists
extern const char PROPERTY_STATE_ORDER[];  // int*: waiting order, 0 queue, 1 stack, 2 priority
extern const char PROPERTY_PRIORITYFUNCTION[];  // StateFunction (stateFunctionValue): the priority of a state
extern const char PROPERTY_RANDOMISE[];  // any non-null value
extern const char PROPERTY_PRUNING[];  // StateFunction (stateFunctionValue): the cost of a state
extern const char PROPERTY_MINCOST[];  // int*: best goal cost so far, 1073741823 for none
extern const char PROPERTY_PASSEDSIZE[];  // int*: hash bits of a bit-state table
extern const char PROPERTY_SPACEOPT[];  // int*: space optimisation level 0 to 3
extern const char PROPERTY_SCALARSET_INFO[];  // ScalarsetInfo*
extern const char PROPERTY_EXTRAPOLATE_LU[];  // bool*: extrapolate by lower and upper bounds
extern const char PROPERTY_ZUBOR_DRIFT[];  // uint8_t*: 1 enlarges zones by clock drift
extern const char PROPERTY_TARGET_ORDER[];  // no value: receiving the key is the signal
extern const char PROPERTY_ACTIVEPROC[];  // pointer to the set of active processes
extern const char PROPERTY_RECORD_SOURCE[];  // pointer kept by the successor stages
extern const char PROPERTY_TRACESTORE[];  // TraceStore*, null when no trace is wanted
extern const char PROPERTY_CHECKTRACE[];  // no value: receiving the key is the signal
extern const char PROPERTY_REACHEDSTATE[];  // SymbolicState*: the goal state just accepted
extern const char PROPERTY_SUP_FEEDBACK[];  // pointer to the sup/inf result records
extern const char PROPERTY_STOP[];  // bool*; receivers stop whatever the pointed value (see StopRequest)
extern const char PROPERTY_SILENT[];  // bool*: no progress output
extern const char PROPERTY_JOB[];  // pipeline::JobInterface* of the query (pipeline/job.h), not counted
extern const char PROPERTY_STATISTICS[];  // counted StatisticsCollector of the job
extern const char PROPERTY_REUSE[];  // bool*
extern const char PROPERTY_REUSE_KEYS[];  // bool*
extern const char PROPERTY_REDUCE[];  // bool*
extern const char PROPERTY_SUPCOST[];  // StateFunction (stateFunctionValue)
extern const char PROPERTY_INFCOST[];  // StateFunction (stateFunctionValue)

// Statistical runs.
extern const char PROPERTY_SMCSAMPLINGTIME[];
extern const char PROPERTY_OPTIONTRACE[];
extern const char PROPERTY_DELTATIME[];
extern const char PROPERTY_SMCRESOLUTION[];
extern const char PROPERTY_MEASUREMITLDEPTH[];
extern const char PROPERTY_SMCDELAYVARIABLE[];
extern const char PROPERTY_SMCSTRATEGY[];
extern const char PROPERTY_SMCSTOPCONDITION[];
extern const char PROPERTY_SMCLOGFILENAME[];
extern const char PROPERTY_SMCLOG[];
extern const char PROPERTY_SMCCOVER[];
extern const char PROPERTY_CMPPARAM[];
extern const char PROPERTY_RATIO_U1[];
extern const char PROPERTY_RATIO_U0[];
extern const char PROPERTY_NBRUNS[];
extern const char PROPERTY_FEEDBACK[];
extern const char PROPERTY_HISTOWIDTH[];
extern const char PROPERTY_HISTOBARS[];
extern const char PROPERTY_EPSILON[];
extern const char PROPERTY_BETA[];
extern const char PROPERTY_ALPHA[];
extern const char PROPERTY_DELTAPLUS[];
extern const char PROPERTY_DELTAMINUS[];
extern const char PROPERTY_PROBABILITY[];

// In the key set, but read by no stage.
extern const char PROPERTY_GOXASTRATEGY[];
extern const char PROPERTY_FILTERSTRATEGY[];
extern const char PROPERTY_LEARNINGOUTPUT[];
extern const char PROPERTY_LEARNINGEVALUATIONS[];
extern const char PROPERTY_LEARNINGBUCKETSIZE[];
extern const char PROPERTY_LEARNINGGOODRUNS[];
extern const char PROPERTY_LEARNINGMAXRUNS[];
extern const char PROPERTY_RUNBOUND[];
extern const char PROPERTY_EXTRAPOLATOR_FILTER[];
extern const char PROPERTY_TURN_ACTION[];
extern const char PROPERTY_EDGESELECTOR[];
extern const char PROPERTY_PRUNE_SATISFYING_STATES[];
extern const char PROPERTY_REMAINING[];

// Names under which the filter registry creates stages. Stages hold these pointers, but the
// registry compares names by their text.
extern const char FILTER_DISTANCE[];  // "distance-filter"
extern const char FILTER_REACHABILITY[];  // "reachability-filter"
extern const char FILTER_CANONIZE[];  // "canonize-filter"
extern const char FILTER_PASSED_LIST[];  // "passed-list"
extern const char FILTER_PASSED_WAITING_LIST[];  // "passed-waiting-list"
extern const char FILTER_SYMMETRY[];  // "symmetry-filter"
extern const char FILTER_QUERY[];  // "query-filter"
extern const char FILTER_EXPANSION[];  // "expansion-filter"
extern const char FILTER_PRIORITY[];  // "priority-filter"
extern const char FILTER_COPY[];  // "copy-filter"
extern const char FILTER_SORTING[];  // "sorting-filter"
extern const char FILTER_PROGRESS[];  // "progress-filter"
extern const char FILTER_TRACESTORE[];  // "tracestore-filter"
extern const char FILTER_TRANSITION_LIVENESS[];  // "transition-filter-liveness"
extern const char FILTER_TRANSITION[];  // "transition-filter"
extern const char FILTER_SUCCESSOR_LIVENESS[];  // "successor-filter-liveness"
extern const char FILTER_SUCCESSOR[];  // "successor-filter"
extern const char FILTER_DELAY[];  // "delay-filter"
extern const char FILTER_LU_LOCAL_EXTRAPOLATION[];  // "lu-local-extrapolation-filter"
extern const char FILTER_LOCAL_EXTRAPOLATION[];  // "local-extrapolation-filter"
extern const char FILTER_DIFFERENCE_EXTRAPOLATION[];  // "difference-extrapolation-filter"
extern const char FILTER_GOXA_EXTRAPOLATION[];  // "goxa-extrapolation-filter"
extern const char FILTER_EXTRAPOLATION[];  // "extrapolation-filter"

namespace pipeline {

// A function of a state, sent with PROPERTY_PRIORITYFUNCTION, PROPERTY_PRUNING and the cost keys.
using StateFunction = int (*)(const SymbolicState*);

// The untyped value that carries a state function, and the function such a value carries.
inline void* stateFunctionValue(StateFunction function)
{
    return reinterpret_cast<void*>(function);
}
inline StateFunction toStateFunction(void* value)
{
    return reinterpret_cast<StateFunction>(value);
}

// The stop request that terminal sinks and the interrupt handler send to a running top stage.
// Receiving PROPERTY_STOP is the request; the value that comes with it is not looked at. Loops
// test the flag between items.
class StopRequest
{
public:
    // Raises the flag when the key is PROPERTY_STOP; true when it was.
    bool accept(const char* key)
    {
        if (key != PROPERTY_STOP) {
            return false;
        }
        requested = true;
        return true;
    }

    bool isRequested() const { return requested; }
    void clear() { requested = false; }

private:
    bool requested = false;
};

}  // namespace pipeline
