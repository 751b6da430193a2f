#include "runtime/state_decorators.h"

#include <algorithm>
#include <cstring>

namespace {
// Copies n 32-bit entries: one by one for short arrays, as one block from 180 entries on.
void copyEntries(int32_t* destination, const int32_t* source, size_t n)
{
    if (n < 180) {
        for (size_t k = 0; k < n; ++k) {
            destination[k] = source[k];
        }
    } else {
        std::memcpy(destination, source, n * sizeof(int32_t));
    }
}
}  // namespace

SimulatingStateDecorator::SimulatingStateDecorator(DiscreteState* state, int32_t* integers, int32_t* meta)
    : ConstStateDecorator(state),
      integers(integers),
      meta(meta),
      integerCount(static_cast<size_t>(state->getIntegerArray().size())),
      metaCount(static_cast<size_t>(state->getMetaArray().size()))
{
    // The whole arrays, spawned processes included, so that every variable of the state has a
    // place in the copies.
    copyEntries(integers, state->getVariables(), integerCount);
    copyEntries(meta, state->getMetaVariables(), metaCount);
}

ResetIndicator::ResetIndicator(DiscreteState* state, int32_t* integers, int32_t* meta, double* valuation)
    : SimulatingStateDecorator(state, integers, meta), valuation(valuation)
{}

ConstraintRecorder::ConstraintRecorder(PublicState* state, std::vector<dbm::clock_constraint_t>* constraints)
    : ConstStateDecorator(state),
      integers(state->getVariables()),
      meta(state->getMetaVariables()),
      constraints(constraints)
{}

bool ConstraintRecorder::constrain(const dbm::clock_constraint_t* added, size_t n)
{
    constraints->insert(constraints->end(), added, added + n);
    return true;
}

ModestState::ModestState(PublicState* state, int32_t* scratch, size_t n) : StateDecorator(state), n(n), scratch(scratch)
{
    copyEntries(scratch, state->getVariables(), n);
}

void ModestState::commit()
{
    copyEntries(state->getVariables(), scratch, n);
}

StepBackRecorder::StepBackRecorder(DiscreteState* state, int32_t* integers, int32_t* meta)
    : SimulatingStateDecorator(state, integers, meta)
{}

bool StepBackRecorder::constrain(const dbm::clock_constraint_t* added, size_t n)
{
    constraints.insert(constraints.end(), added, added + n);
    return true;
}

void StepBackRecorder::resetClock(uint32_t i, int32_t value)
{
    resets.emplace_back(static_cast<int32_t>(i), value);
}

void StepBackRecorder::recordCopy(uint32_t clock, uint32_t source)
{
    resets.emplace_back(static_cast<int32_t>(clock), -static_cast<int32_t>(source));
}
