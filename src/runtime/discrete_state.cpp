#include "runtime/discrete_state.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <ostream>
#include <vector>

#include "runtime/channels.h"
#include "runtime/location.h"
#include "runtime/process.h"
#include "runtime/system.h"
#include "support/arith.h"
#include "support/exceptions.h"

namespace {
Location** allocateSlots(size_t n)
{
    void* block = std::calloc(n > 0 ? n : 1, sizeof(Location*));
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    return static_cast<Location**>(block);
}
}  // namespace

DiscreteState::DiscreteState(System* system)
    : system(system),
      locations(nullptr),
      staticSlots(system->getProcessCount()),
      dynamicSlots(system->getDynamicProcesses().size()),
      integers(static_cast<int32_t>(system->getStateVariableCount()),
               static_cast<int32_t>(system->getExtraStateVariableCount())),
      meta(static_cast<int32_t>(system->getMetaVariableCount()), 0),
      doubles(static_cast<int32_t>(system->getFPVariableCount()),
              static_cast<int32_t>(system->getExtraFPVariableCount()))
{
    locations = allocateSlots(staticSlots + dynamicSlots);
}

DiscreteState::DiscreteState(const DiscreteState& other)
    : PublicState(other),
      system(other.system),
      locations(nullptr),
      staticSlots(other.staticSlots),
      dynamicSlots(other.dynamicSlots),
      integers(static_cast<int32_t>(system->getStateVariableCount()), 0),
      meta(static_cast<int32_t>(system->getMetaVariableCount()), 0),
      doubles(static_cast<int32_t>(system->getFPVariableCount()), 0)
{
    integers.assign(other.integers);
    meta.assign(other.meta);
    doubles.assign(other.doubles);
    locations = allocateSlots(staticSlots + dynamicSlots);
    std::memcpy(locations, other.locations, (staticSlots + dynamicSlots) * sizeof(Location*));
}

DiscreteState::~DiscreteState()
{
    std::free(locations);
}

std::ostream& DiscreteState::print(std::ostream& os)
{
    return print(os, nullptr);
}

std::ostream& DiscreteState::print(std::ostream& os, const uint8_t* mask)
{
    if (system != nullptr) {
        system->printState(this, os, mask);
    }
    return os;
}

std::ostream& DiscreteState::printVariables(std::ostream& os)
{
    system->printVariables(this, os);
    return os;
}

std::ostream& DiscreteState::printLocations(std::ostream& os, const uint8_t* mask)
{
    system->printLocations(this, os, mask);
    return os;
}

void DiscreteState::assignDiscrete(const DiscreteState& other)
{
    std::memcpy(locations, other.locations, std::min(staticSlots, other.staticSlots) * sizeof(Location*));
    integers.assign(other.integers);
    meta.assign(other.meta);
}

bool DiscreteState::growLocationVector(size_t n)
{
    if (n == 0) {
        return true;
    }
    const size_t slots = staticSlots + dynamicSlots;
    void* block = std::realloc(locations, (slots + n) * sizeof(Location*));
    if (block == nullptr) {
        throw Bug("Unable to reallocate Location Vector");
    }
    locations = static_cast<Location**>(block);
    std::memset(locations + slots, 0, n * sizeof(Location*));
    dynamicSlots += n;
    return true;
}

// ---- Urgency tests ------------------------------------------------------------------------------

namespace {
bool urgentOrCommitted(const Location* location)
{
    return location->isUrgent() || location->isCommitted();
}
}  // namespace

bool DiscreteState::hasUrgentOrCommittedLocation(int32_t group)
{
    for (size_t p = 0; p < staticSlots; ++p) {
        if (group >= 0 && system->getProcesses()[p]->group != group) {
            continue;
        }
        if (locations[p] != nullptr && urgentOrCommitted(locations[p])) {
            return true;
        }
    }
    return false;
}

bool DiscreteState::hasUrgentOrCommittedLocation(const uint8_t* mask)
{
    if (mask != nullptr) {
        for (size_t p = 0; p < staticSlots; ++p) {
            if (mask[p] != 0 && locations[p] != nullptr && urgentOrCommitted(locations[p])) {
                return true;
            }
        }
        return false;
    }
    for (size_t p = 0; p < staticSlots + dynamicSlots; ++p) {
        if (locations[p] != nullptr && urgentOrCommitted(locations[p])) {
            return true;
        }
    }
    return false;
}

bool DiscreteState::hasCommittedLocation(int32_t group)
{
    for (size_t p = 0; p < staticSlots; ++p) {
        if (group >= 0 && system->getProcesses()[p]->group != group) {
            continue;
        }
        if (locations[p] != nullptr && locations[p]->isCommitted()) {
            return true;
        }
    }
    return false;
}

bool DiscreteState::hasEnabledUrgentSync(int32_t group, const uint8_t* mask)
{
    if (urgentChannelCount() == 0) {
        return false;
    }
    // Candidate slots: on the stack for models of ordinary size.
    constexpr size_t local = 64;
    uint32_t onStack[local];
    std::vector<uint32_t> onHeap;
    uint32_t* candidates = onStack;
    if (staticSlots > local) {
        onHeap.resize(staticSlots);
        candidates = onHeap.data();
    }
    size_t count = 0;
    for (size_t p = 0; p < staticSlots; ++p) {
        const bool selected = mask != nullptr ? mask[p] != 0
                                              : (group < 0 || system->getProcesses()[p]->group == group);
        if (!selected) {
            continue;
        }
        const Location* location = getLocation(static_cast<uint32_t>(p));
        if (location == nullptr) {
            continue;
        }
        for (const base::RefPtr<Edge>& edge : location->getUrgentBroadcastEdges()) {
            if (edge->evaluateGuard(this)) {
                return true;
            }
        }
        if (location->getUrgentChannels().any()) {
            candidates[count++] = static_cast<uint32_t>(p);
        }
    }
    for (size_t a = 0; a < count; ++a) {
        const Location* k = getLocation(candidates[a]);
        for (size_t b = a + 1; b < count; ++b) {
            const Location* l = getLocation(candidates[b]);
            if (!k->getUrgentChannels().canSynchroniseWith(l->getUrgentChannels())) {
                continue;
            }
            for (const base::RefPtr<Edge>& e : k->getUrgentEdges()) {
                const int32_t c = e->getSync()->evaluate(this);
                if (!e->evaluateGuard(this)) {
                    continue;
                }
                for (const base::RefPtr<Edge>& f : l->getUrgentEdges()) {
                    if (f->getSync()->evaluate(this) == base::negWrap(c) && f->evaluateGuard(this)) {
                        return true;
                    }
                }
            }
        }
    }
    return false;
}
