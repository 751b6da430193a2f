#include "pipeline/priority_filter.h"

#include <algorithm>
#include <cstdlib>

#include "pipeline/keys.h"
#include "pipeline/successor_chain.h"
#include "runtime/channels.h"
#include "runtime/clock_expression.h"
#include "runtime/process.h"
#include "runtime/symbolic_state.h"
#include "runtime/system.h"

PriorityFilter::~PriorityFilter() = default;

void PriorityFilter::setProperty(const char* key, void* value)
{
    if (key == PROPERTY_SYSTEM) {
        system = static_cast<System*>(value);
        pairwise = system != nullptr && !system->priorityOrderTotal;
        blockingConditions.clear();
        conjunctions.clear();
    }
}

bool PriorityFilter::higher(const Pending& a, const Pending& b) const
{
    if (a.transition == b.transition) {
        return false;
    }
    if (system->isHigherPriority(a.channel, b.channel)) {
        return true;
    }
    if (system->isHigherPriority(b.channel, a.channel)) {
        return false;
    }
    return a.level > b.level;
}

const ExpressionRef& PriorityFilter::notEnabled(const Pending& t)
{
    ExpressionRef& condition = blockingConditions[t.transition];
    if (!condition) {
        const bool broadcast = t.channel > 0 && getChannel(static_cast<int32_t>(t.channel)).broadcast;
        ExpressionRef result = t.transition[0]->getClockGuard()->negate();
        if (!broadcast) {
            for (EdgeTuple edge = t.transition + 1; *edge != nullptr; ++edge) {
                result = ExpressionRef(new OrExpr(result, (*edge)->getClockGuard()->negate()));
            }
        }
        condition = result;
    }
    return condition;
}

const ExpressionRef& PriorityFilter::allNotEnabled()
{
    key.clear();
    for (uint32_t b : blockers) {
        key.push_back(pending[b].transition);
    }
    auto found = conjunctions.find(key);
    if (found != conjunctions.end()) {
        return found->second;
    }
    ExpressionRef condition;
    for (uint32_t b : blockers) {
        condition = makeConjunction(condition, notEnabled(pending[b]));
    }
    return conjunctions.emplace(key, condition).first->second;
}

void PriorityFilter::handOn(SymbolicState* state, EdgeTuple transition, const ExpressionRef& condition)
{
    Successor item;
    item.state = state;
    item.transition = transition;
    item.handle = condition;
    if (next == nullptr) {
        pipeline::dropItem(&item);
        return;
    }
    next->put(&item);
}

bool PriorityFilter::put(Successor* item)
{
    if (item == nullptr) {
        return true;
    }
    if (!isEmptyTransition(item->transition)) {
        pending.push_back(Pending{internEdgeTuple(item->transition), 0, 0});
        return true;
    }
    try {
        resolve(item->state);
    } catch (...) {
        pending.clear();
        throw;
    }
    pending.clear();
    if (next != nullptr) {
        next->put(nullptr);
    }
    return true;
}

void PriorityFilter::resolve(SymbolicState* state)
{
    if (pending.empty()) {
        state->release();
        return;
    }
    // The channel and level of every transition, evaluated once on the source state.
    try {
        for (Pending& t : pending) {
            const Edge* first = t.transition[0];
            const int32_t sync = first->getSync()->evaluate(state);
            t.channel = static_cast<uint32_t>(std::abs(static_cast<int64_t>(sync)));
            if (t.channel > 0 && getChannel(static_cast<int32_t>(t.channel)).broadcast) {
                // A broadcast is as urgent as its sender, whatever its receivers' levels.
                t.level = first->getProcess()->priority;
            } else {
                t.level = first->getProcess()->priority;
                for (EdgeTuple edge = t.transition + 1; *edge != nullptr; ++edge) {
                    t.level = std::max(t.level, (*edge)->getProcess()->priority);
                }
            }
        }
    } catch (...) {
        state->release();
        throw;
    }
    if (pairwise) {
        resolvePairwise(state);
    } else {
        resolveFullOrder(state);
    }
}

void PriorityFilter::resolvePairwise(SymbolicState* state)
{
    const size_t n = pending.size();
    if (state->zone.getDimension() < 2) {
        // Without clocks a transition is blocked by any higher one.
        unblocked.clear();
        for (size_t p = 0; p < n; ++p) {
            bool blocked = false;
            for (size_t q = 0; q < n && !blocked; ++q) {
                blocked = higher(pending[q], pending[p]);
            }
            if (!blocked) {
                unblocked.push_back(static_cast<uint32_t>(p));
            }
        }
        if (unblocked.empty()) {
            state->release();
            return;
        }
        const size_t last = unblocked.size() - 1;
        try {
            for (size_t k = 0; k < last; ++k) {
                handOn(state->clone(), pending[unblocked[k]].transition, nullptr);
            }
        } catch (...) {
            state->release();
            throw;
        }
        handOn(state, pending[unblocked[last]].transition, nullptr);
        return;
    }

    // With clocks a transition may fire where none of the higher ones is enabled.
    try {
        for (size_t p = 0; p < n; ++p) {
            blockers.clear();
            for (size_t q = 0; q < n; ++q) {
                if (higher(pending[q], pending[p])) {
                    blockers.push_back(static_cast<uint32_t>(q));
                }
            }
            const ExpressionRef& condition = allNotEnabled();
            SymbolicState* copy = state->clone();
            if (condition) {
                int32_t left;
                try {
                    left = condition->evaluate(copy);
                } catch (...) {
                    copy->release();
                    throw;
                }
                if (left == 0) {
                    copy->release();
                    continue;
                }
            }
            handOn(copy, pending[p].transition, condition);
        }
    } catch (...) {
        state->release();
        throw;
    }
    state->release();
}

void PriorityFilter::resolveFullOrder(SymbolicState* state)
{
    // Highest first. An insertion sort: the comparison need not be a strict weak order, and the
    // lists are short.
    const size_t n = pending.size();
    for (size_t i = 1; i < n; ++i) {
        const Pending t = pending[i];
        size_t j = i;
        while (j > 0 && higher(t, pending[j - 1])) {
            pending[j] = pending[j - 1];
            --j;
        }
        pending[j] = t;
    }

    try {
        if (state->zone.getDimension() < 2) {
            // Only the top class fires.
            for (size_t k = 0; k < n && !higher(pending[0], pending[k]); ++k) {
                handOn(state->clone(), pending[k].transition, nullptr);
            }
            state->release();
            return;
        }

        // Class by class: each class fires where no transition of a higher class is enabled.
        // `blocked` describes where some transition of the classes before is enabled.
        ExpressionRef blocked;
        size_t k = 0;
        while (k < n) {
            const size_t first = k;
            for (; k < n && !higher(pending[first], pending[k]); ++k) {
                handOn(state->clone(), pending[k].transition, blocked);
            }
            if (k < n) {
                blockers.clear();
                for (size_t c = first; c < k; ++c) {
                    blockers.push_back(static_cast<uint32_t>(c));
                }
                const ExpressionRef classCondition = allNotEnabled();
                blockers.clear();
                for (size_t c = 0; c < k; ++c) {
                    blockers.push_back(static_cast<uint32_t>(c));
                }
                blocked = allNotEnabled();
                if (classCondition->evaluate(state) == 0) {
                    break;
                }
            }
        }
    } catch (...) {
        state->release();
        throw;
    }
    state->release();
}

pipeline::Connectable* makePriorityFilter(FilterConfiguration*)
{
    return new PriorityFilter;
}
