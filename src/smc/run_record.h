#pragma once

// Recording of concrete runs and their replay as a printed trace.
//
// While a run is recorded, the delay step appends every delay and the transition step every
// transition. Equal consecutive delays (a discretised flow advancing by the same step) and equal
// consecutive transitions are stored as one item with a repetition count. The replay starts again
// from the run's initial state and reproduces the run exactly, with the same rates and the same
// rounding of clock values (to integers and to the discretisation step) as the delay step, and
// with a table of spawned processes of its own, so that processes spawn and end as they did.

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <vector>

#include "runtime/edge.h"

class ConcreteState;

// One item of a record: `count` repetitions of the same delay or of the same transition. A delay
// has the sign bit of `count` set, the repetitions in the other 63 bits.
struct RunItem
{
    static constexpr uint64_t delayBit = uint64_t(1) << 63;
    static constexpr uint64_t maxRepetitions = delayBit - 1;

    uint64_t count;
    union {
        double delay;
        EdgeTuple transition;  // interned
    };

    bool isDelay() const { return (count & delayBit) != 0; }
    uint64_t repetitions() const { return count & maxRepetitions; }
};

class RunRecord
{
public:
    // The run starts from `initial`, which the record does not own and which must outlive it.
    explicit RunRecord(ConcreteState* initial);
    RunRecord(const RunRecord&) = delete;
    RunRecord& operator=(const RunRecord&) = delete;
    ~RunRecord();

    // Every delay taken, zero and infinite ones included.
    void recordDelay(double d);
    // A transition, after its updates.
    void recordTransition(EdgeTuple transition);
    // Keeps a copy of the run's last state (replacing an earlier copy).
    void setFinalState(const ConcreteState& state);

    ConcreteState* getInitial() const { return initial; }
    ConcreteState* finalState() const { return last.get(); }
    int64_t transitionCount() const { return transitions; }
    const std::vector<RunItem>& items() const { return list; }

    // The discretisation step that clock values were snapped to (set by the delay step), so that
    // the replay advances clocks exactly as the run did.
    double grid = 0.0;

private:
    ConcreteState* initial;
    int64_t transitions = 0;
    std::unique_ptr<ConcreteState> last;
    std::vector<RunItem> list;
};

// Writes the parts of a concrete trace.
class ConcreteTraceSerializer
{
public:
    virtual ~ConcreteTraceSerializer() = default;
    virtual void writeState(std::ostream& os, ConcreteState* state) = 0;
    virtual void writeDelay(std::ostream& os, double delay) = 0;
    virtual void writeTransition(std::ostream& os, EdgeTuple transition) = 0;
};

// The console form: "state" blocks, "delay d" lines and "transition" blocks, each followed by an
// empty line.
class ConsoleSerializer : public ConcreteTraceSerializer
{
public:
    static ConsoleSerializer* create() { return new ConsoleSerializer; }

    // "state", the locations and variables, the clock valuation, an empty line.
    void writeState(std::ostream& os, ConcreteState* state) override;
    // Leaves the stream's precision at 32 digits.
    void writeDelay(std::ostream& os, double delay) override;
    void writeTransition(std::ostream& os, EdgeTuple transition) override;
};

// Replays the record from its initial state: the first state, then per item its delays or
// transitions (each repetition written) and the state after the item.
void printConcreteTrace(const RunRecord& record, std::ostream& os, ConcreteTraceSerializer& serializer);
