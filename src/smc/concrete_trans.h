#pragma once

// The second half of a concrete simulation step: the chosen process takes one of its enabled
// edges, picked uniformly (a probabilistic branch point counting as one edge, its branches then
// picked by their weights); every other process that can receive on the edge's channel joins
// with its first such edge; the updates run and the invariants are checked.

#include <cstdint>
#include <vector>

#include "pipeline/pipeline.h"
#include "runtime/edge.h"
#include "smc/concrete_successor.h"
#include "smc/simu_error.h"
#include "support/object.h"
#include "support/random.h"

class ConcreteState;
class RunRecord;

class ConcreteTrans : public pipeline::AbstractFilter<ConcreteSuccessor, ConcreteState>, public SimuError
{
public:
    ConcreteTrans();
    ~ConcreteTrans() override;

    // PROPERTY_SYSTEM, PROPERTY_SMCSTRATEGY (kept only), PROPERTY_FEEDBACK, PROPERTY_SMCCOVER (bool*).
    void setProperty(const char* key, void* value) override;
    // Sizes the scratch for the System's processes and the registered channels; called again
    // whenever the number of processes changes.
    void begin() override;
    // True without a chosen process; false after a report; otherwise the downstream result.
    bool put(ConcreteSuccessor* successor) override;

    // Set by the owner.
    int64_t* stepCount = nullptr;
    std::vector<bool>* kept = nullptr;
    RunRecord* recorder = nullptr;

private:
    // Takes the chosen edge (at transition[0]) and its receivers; false after a report.
    bool joinReceivers(ConcreteState* state, int32_t channel);
    void clearKept(int32_t process);

    base::RefPtr<base::Object> strategy;
    bool coverage = false;
    size_t processSlots = 0;
    size_t channelSlots = 0;
    RandomGenerator* random;

    // Scratch of one step.
    std::vector<Edge*> candidates;
    std::vector<int32_t> candidateChannels;
    std::vector<std::vector<Edge*>> receivers;
    std::vector<std::pair<int32_t, Edge*>> branches;
    std::vector<int64_t> weights;
    std::vector<uint8_t> marked;
    // The transition being taken (null-terminated); kept until the next one is chosen.
    std::vector<Edge*> transition;
};
