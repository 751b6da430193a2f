#include "statespace/search_path.h"

#include "runtime/location.h"
#include "runtime/symbolic_state.h"
#include "support/hash.h"

SearchPath::~SearchPath()
{
    clear();
    for (Entry* entry : spare) {
        delete entry;
    }
}

uint32_t SearchPath::hashOf(const SymbolicState* state)
{
    const uint64_t locations =
        base::hash64(state->getLocations(), sizeof(Location*) * state->getStaticSlotCount(), 0);
    const ValueArray& integers = state->getIntegerArray();
    return static_cast<uint32_t>(base::hash64(integers.values,
                                              sizeof(int32_t) * static_cast<size_t>(integers.size()),
                                              static_cast<uint32_t>(locations)));
}

void SearchPath::push(uint32_t hash, SymbolicState* state, EdgeTuple transition,
                      const base::RefPtr<base::Object>& handle)
{
    Entry* entry;
    if (spare.empty()) {
        entry = new Entry;
    } else {
        entry = spare.back();
        spare.pop_back();
    }
    entry->next = nullptr;
    entry->hash = hash;
    entry->state = state;
    entry->transition = transition;
    entry->handle = handle;
    entry->below = topEntry;
    entry->depth = topEntry == nullptr ? 1 : topEntry->depth + 1;
    entry->olderWithHash = newestWithHash(hash);
    if (entry->olderWithHash != nullptr) {
        table.remove(entry->olderWithHash);
    }
    topEntry = entry;
    table.insert(entry);
}

SearchPath::Entry* SearchPath::newestWithHash(uint32_t hash)
{
    for (IntrusiveHashTable::Node* node = table.bucketOf(hash); node != nullptr; node = node->next) {
        if (node->hash == hash) {
            return static_cast<Entry*>(node);
        }
    }
    return nullptr;
}

SymbolicState* SearchPath::popTop()
{
    Entry* entry = topEntry;
    if (entry == nullptr) {
        return nullptr;
    }
    topEntry = entry->below;
    table.remove(entry);
    if (entry->olderWithHash != nullptr) {
        table.insert(entry->olderWithHash);
        entry->olderWithHash = nullptr;
    }
    SymbolicState* state = entry->state;
    entry->state = nullptr;
    entry->handle.release();
    spare.push_back(entry);
    return state;
}

void SearchPath::clear()
{
    while (topEntry != nullptr) {
        SymbolicState* state = popTop();
        if (state != nullptr) {
            state->release();
        }
    }
}

bool SearchPath::disown(SymbolicState* state)
{
    for (Entry* entry = topEntry; entry != nullptr; entry = entry->below) {
        if (entry->state == state) {
            entry->state = nullptr;
            return true;
        }
    }
    return false;
}
