#pragma once

// The path of a depth-first search over symbolic states: entries newest on top, each owning its
// state and remembering the transition that reached it, also found by the hash of their discrete
// part. Entries are kept for reuse, so a warm path allocates nothing.
//
// The table holds only the newest entry of each hash; each entry links to the next older one with
// the same hash. So the entries of one hash are met newest first, and taking the top entry off
// costs the same however many entries share its hash (a path that goes round one discrete part
// many times has long runs of them).

#include <cstddef>
#include <cstdint>
#include <vector>

#include "runtime/edge.h"
#include "runtime/intrusive_hash_table.h"
#include "support/object.h"

class SymbolicState;

class SearchPath
{
public:
    struct Entry : IntrusiveHashTable::Node
    {
        // Owned; null once the entry gave it up (disown).
        SymbolicState* state;
        // Interned.
        EdgeTuple transition;
        // The condition the transition was taken under, if any.
        base::RefPtr<base::Object> handle;
        Entry* below;
        // The next entry below with the same hash (null when none).
        Entry* olderWithHash;
        // The number of entries up to and including this one, counted from the bottom.
        size_t depth;
    };

    SearchPath() = default;
    SearchPath(const SearchPath&) = delete;
    SearchPath& operator=(const SearchPath&) = delete;
    // Releases the states still on the path.
    ~SearchPath();

    // The hash of a state's discrete part: the location pointers (seed 0), then the integer
    // values seeded with the first hash. Equal discrete parts have equal hashes.
    static uint32_t hashOf(const SymbolicState* state);

    // The newest entry with this hash (null when none); follow olderWithHash for the others.
    Entry* newestWithHash(uint32_t hash);

    Entry* top() const { return topEntry; }
    bool empty() const { return topEntry == nullptr; }
    size_t size() const { return topEntry == nullptr ? 0 : topEntry->depth; }

    // Puts the state on top (the path takes it); the transition must be interned.
    void push(uint32_t hash, SymbolicState* state, EdgeTuple transition, const base::RefPtr<base::Object>& handle);
    // Removes the top entry and hands its state (null when given up) to the caller.
    SymbolicState* popTop();
    // Removes every entry, releasing their states.
    void clear();
    // The entry holding the state lets go of it without releasing it. False when none holds it.
    bool disown(SymbolicState* state);

private:
    Entry* topEntry = nullptr;
    IntrusiveHashTable table;
    std::vector<Entry*> spare;
};
