// The successor chain as a reachability search uses it, on compiled models: transitions, lazy
// copies, successors, delay and extrapolation, with a plain passed list at the end.

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "pipeline/delay_filter.h"
#include "pipeline/exploration_filters.h"
#include "pipeline/extrapolation_filter.h"
#include "pipeline/keys.h"
#include "pipeline/successor_filter.h"
#include "pipeline/transition_filter.h"
#include "successor_chain_fixture.h"

namespace {

// Interned transitions are process-wide; they are given back after the last test.
class ClearInternedTransitions : public ::testing::Environment
{
public:
    void TearDown() override { clearEdgeTuples(); }
};
::testing::Environment* const clearInterned = ::testing::AddGlobalTestEnvironment(new ClearInternedTransitions);

// Keeps every successor that no kept state of the same discrete part includes, and hands the kept
// states back breadth first.
class PassedList : public pipeline::Sink<Successor>
{
public:
    ~PassedList() override
    {
        for (SymbolicState* state : passed) {
            state->release();
        }
    }

    bool put(Successor* item) override
    {
        if (item == nullptr) {
            return true;
        }
        for (SymbolicState* state : passed) {
            if (state->equalDiscrete(item->state) && item->state->zone.isSubsetEq(state->zone)) {
                item->state->release();
                return false;
            }
        }
        passed.push_back(item->state->clone());
        waiting.push_back(item->state);
        return true;
    }

    std::vector<SymbolicState*> passed;
    std::deque<SymbolicState*> waiting;
};

// Explores the whole state space; returns the largest number of processes found in `location`
// at once.
size_t explore(System& system, const std::string& location, size_t& stored)
{
    TransitionFilter transitions;
    LazyCopyFilter copies;
    SuccessorFilter successors;
    DelayFilter delay;
    ExtrapolationFilter extrapolation;
    PassedList list;
    ExtrapolationInfo query;
    std::vector<pipeline::Connectable*> stages = {&transitions, &copies, &successors, &delay, &extrapolation};
    for (pipeline::Connectable* stage : stages) {
        stage->setProperty(PROPERTY_SYSTEM, &system);
        stage->setProperty(PROPERTY_EXPRESSION_INFO, &query);
    }
    transitions.connect(&copies);
    copies.connect(&successors);
    successors.connect(&delay);
    delay.connect(&extrapolation);
    extrapolation.connect(&list);
    for (pipeline::Connectable* stage : stages) {
        stage->begin();
    }

    Successor initial;
    initial.state = system.makeInitialState();
    initial.transition = emptyEdgeTuple();
    delay.put(&initial);
    while (!list.waiting.empty() && list.passed.size() < 100000) {
        SymbolicState* state = list.waiting.front();
        list.waiting.pop_front();
        transitions.put(state);
    }
    size_t most = 0;
    for (SymbolicState* state : list.passed) {
        size_t here = 0;
        for (uint32_t p = 0; p < system.getProcessCount(); ++p) {
            here += state->getLocation(p)->getName() == location ? 1 : 0;
        }
        most = std::max(most, here);
    }
    stored = list.passed.size();
    return most;
}

}  // namespace

TEST(SuccessorChain, FischersProtocolIsMutuallyExclusiveOnlyWithItsStrictGuard)
{
    const std::string correct = chaintest::fixture("successor_fischer.xta");
    std::string faulty = correct;
    faulty.replace(faulty.find("x > k"), 5, "x >= k");

    size_t stored = 0;
    {
        auto model = chaintest::compileModel(correct);
        EXPECT_EQ(explore(*model->system, "cs", stored), 1u);
        EXPECT_GT(stored, 10u);
        EXPECT_LT(stored, 100000u);  // extrapolation keeps the search finite
        EXPECT_EQ(model->system->statesInUse(), 0u);
    }
    {
        // Checking at the very moment another process may still write its id lets others in.
        auto model = chaintest::compileModel(faulty);
        EXPECT_GT(explore(*model->system, "cs", stored), 1u);
        EXPECT_EQ(model->system->statesInUse(), 0u);
    }
}
