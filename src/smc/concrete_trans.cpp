#include "smc/concrete_trans.h"

#include <algorithm>
#include <cmath>

#include "pipeline/keys.h"
#include "runtime/channels.h"
#include "runtime/concrete_state.h"
#include "runtime/location.h"
#include "runtime/process.h"
#include "runtime/system.h"
#include "smc/run_record.h"

ConcreteTrans::ConcreteTrans() : random(RandomGenerator::create())
{
    transition.assign(2, nullptr);
}

ConcreteTrans::~ConcreteTrans()
{
    RandomGenerator::destroy(random);
}

void ConcreteTrans::setProperty(const char* key, void* value)
{
    if (key == PROPERTY_SYSTEM) {
        system = static_cast<System*>(value);
    } else if (key == PROPERTY_SMCSTRATEGY) {
        strategy = static_cast<base::Object*>(value);
    } else if (key == PROPERTY_FEEDBACK) {
        feedback = static_cast<std::string*>(value);
    } else if (key == PROPERTY_SMCCOVER) {
        coverage = *static_cast<bool*>(value);
    }
}

void ConcreteTrans::begin()
{
    processSlots = system->getProcessCount() + system->getDynamicProcesses().size();
    channelSlots = channelCount();
    receivers.resize(channelSlots);
    transition.assign(processSlots + 1, nullptr);
    marked.assign(processSlots, 0);
}

void ConcreteTrans::clearKept(int32_t process)
{
    if (kept != nullptr && process >= 0 && static_cast<size_t>(process) < kept->size()) {
        (*kept)[static_cast<size_t>(process)] = false;
    }
}

bool ConcreteTrans::put(ConcreteSuccessor* successor)
{
    for (std::vector<Edge*>& list : receivers) {
        list.clear();
    }
    candidates.clear();
    candidateChannels.clear();
    if (successor->process == -1) {
        return true;
    }
    ConcreteState* state = successor->state;
    branches.clear();

    // Collect the enabled edges of the chosen process and the enabled receiving edges of the others.
    const size_t slots = std::min(processSlots, state->getSlotCount());
    for (size_t p = 0; p < slots; ++p) {
        const Location* location = state->getLocation(static_cast<uint32_t>(p));
        if (location == nullptr) {
            continue;
        }
        const bool chosen = static_cast<int64_t>(p) == successor->process;
        const Process* process = system->getProcess(p);
        for (const base::RefPtr<Edge>& edge : process->getOutgoingEdges(static_cast<size_t>(location->getIndexInProcess()))) {
            if (!edge->evaluateGuard(state)) {
                continue;
            }
            const int32_t channel = edge->getSync()->evaluate(state);
            if (!chosen) {
                if (channel < 0 && static_cast<size_t>(-channel) <= receivers.size()) {
                    receivers[static_cast<size_t>(-channel) - 1].push_back(edge.get());
                }
                continue;
            }
            if (channel < 0) {
                continue;
            }
            if (edge->branchGroup != 0) {
                // One candidate per branch point: its first enabled edge.
                bool seen = false;
                for (const auto& branch : branches) {
                    seen = seen || branch.first == edge->branchGroup;
                }
                branches.emplace_back(edge->branchGroup, edge.get());
                if (seen) {
                    continue;
                }
            }
            candidates.push_back(edge.get());
            candidateChannels.push_back(channel);
        }
    }

    // Choose an edge; a branch point whose weights add up to nothing is dropped.
    bool chosen = false;
    int32_t channel = 0;
    while (!candidates.empty()) {
        const uint32_t k = random->randomIndex(static_cast<uint32_t>(candidates.size() - 1));
        transition[0] = candidates[k];
        transition[1] = nullptr;
        channel = candidateChannels[k];
        const int32_t group = candidates[k]->branchGroup;
        if (group == 0) {
            chosen = true;
            break;
        }
        // Weights below zero count as zero.
        weights.clear();
        int64_t total = 0;
        for (const auto& branch : branches) {
            if (branch.first != group) {
                continue;
            }
            const ExpressionRef& probability = branch.second->getProbability();
            const int64_t w = probability ? std::max<int32_t>(probability->evaluate(state), 0) : 1;
            weights.push_back(w);
            total += w;
        }
        if (total != 0) {
            uint64_t r;
            if (total - 1 <= int64_t(UINT32_MAX)) {
                r = random->randomIndex(static_cast<uint32_t>(total - 1));
            } else {
                r = static_cast<uint64_t>(std::floor(random->uniform(0, static_cast<double>(total))));
            }
            int64_t running = 0;
            size_t w = 0;
            for (const auto& branch : branches) {
                if (branch.first != group) {
                    continue;
                }
                running += weights[w++];
                if (static_cast<uint64_t>(running) >= r + 1) {
                    transition[0] = branch.second;
                    break;
                }
            }
            chosen = true;
            break;
        }
        candidates[k] = candidates.back();
        candidateChannels[k] = candidateChannels.back();
        candidates.pop_back();
        candidateChannels.pop_back();
    }

    if (!chosen) {
        if (successor->process < static_cast<int64_t>(system->getProcessCount())) {
            clearKept(static_cast<int32_t>(successor->process));
        }
        if (successor->forced) {
            reportTimeLock(state, -1);
            return false;
        }
    } else {
        if (channel > 0 && static_cast<size_t>(channel) <= receivers.size() && !joinReceivers(state, channel)) {
            return false;
        }
        for (Edge* const* e = transition.data(); *e != nullptr; ++e) {
            const int32_t process = (*e)->getProcess()->getNumber();
            clearKept(process);
            state->setLocation(static_cast<uint32_t>(process), (*e)->target);
        }
        system->applyUpdates(state, transition.data());
        if (recorder != nullptr) {
            recorder->recordTransition(transition.data());
        }
        if (coverage) {
            for (Edge* const* e = transition.data(); *e != nullptr; ++e) {
                ++(*e)->visits;
                ++(*e)->target->timesEntered;
            }
        }
        if (stepCount != nullptr) {
            ++*stepCount;
        }
    }

    for (size_t i = 0; i < slots; ++i) {
        const Location* location = state->getLocation(static_cast<uint32_t>(i));
        if (location != nullptr && location->getInvariant()->evaluate(state) == 0) {
            reportModelSanity(state, static_cast<int64_t>(i), transition.data());
            return false;
        }
    }
    return next != nullptr ? next->put(state) : false;
}

bool ConcreteTrans::joinReceivers(ConcreteState* state, int32_t channel)
{
    std::fill(marked.begin(), marked.end(), 0);
    const int32_t sender = transition[0]->getProcess()->getNumber();
    marked[static_cast<size_t>(sender)] = 1;
    size_t length = 1;
    for (Edge* receiver : receivers[static_cast<size_t>(channel) - 1]) {
        const int32_t q = receiver->getProcess()->getNumber();
        if (marked[static_cast<size_t>(q)] == 0) {
            transition[length++] = receiver;
            marked[static_cast<size_t>(q)] = 1;
        } else if (q != sender) {
            transition[length] = nullptr;
            reportInputDeterminism(state, q);
            return false;
        }
    }
    transition[length] = nullptr;
    return true;
}
