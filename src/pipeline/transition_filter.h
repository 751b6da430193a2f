#pragma once

// The head of every symbolic successor chain: for one state, every transition of the network
// whose discrete part is enabled, handed on one at a time and closed by the end marker (an item
// whose transition is the shared empty tuple).
//
// Transitions are single edges without synchronisation, pairs of a sender and a receiver on a
// binary channel, and combinations of one sender with one receiving edge of every other process
// that can receive on a broadcast channel. Clock guards, updates and invariants are left to the
// later stages, which work on copies of the state.
//
// Everything the enumeration needs is sized once at begin(): the buckets of enabled senders and
// receivers per channel, the edge buffer handed on, and the scratch of the broadcast and CSP
// combinations. put() allocates nothing.

#include <cstdint>
#include <vector>

#include "pipeline/pipeline.h"
#include "pipeline/successor.h"
#include "runtime/edge.h"
#include "support/object.h"

class FilterConfiguration;
class SymbolicState;
class System;

class TransitionFilter : public pipeline::AbstractFilter<SymbolicState, Successor>
{
public:
    TransitionFilter() = default;
    ~TransitionFilter() override;

    // Sizes the buckets and buffers from the System (PROPERTY_SYSTEM must have been set); may be
    // called again for a new run.
    void begin() override;
    // PROPERTY_SYSTEM: the compiled model (counted). Other keys are ignored.
    void setProperty(const char* key, void* value) override;
    // Hands on {state, transition, no condition} for every enabled transition, then the end
    // marker; returns the downstream answer to the end marker. The transition handed on is this
    // stage's buffer, valid only during the call. When an exception leaves before the end marker
    // was handed on, the state goes back to the pool first.
    bool put(SymbolicState* state) override;

    // Asked for every enabled edge with its evaluated synchronisation (0, +c or -c); an edge it
    // refuses is skipped. Accepts everything.
    virtual bool acceptsSync(int32_t sync);

protected:
    // Hands on the transition now in the edge buffer.
    void handOn(SymbolicState* state);
    // The product of the number of choices of every participating process; a product beyond
    // the 64-bit range raises the combinatorial-explosion failure naming the channel.
    uint64_t combinations(SymbolicState* state, int32_t channel, const uint32_t* counts,
                          const uint32_t* participants, uint32_t participantCount);
    // Sizes the per-channel buckets. `receives` adds the receive buckets behind the send buckets.
    void sizeBuckets(bool receives);
    void resetCursors();

    base::RefPtr<System> system;
    uint32_t processCount = 0;
    uint32_t channelCount = 0;
    // Largest number of receiving labels of one channel among the outgoing edges of one location.
    uint64_t receiverWidth = 0;

    // One block holding every bucket: the send buckets in channel order, then the receive buckets.
    std::vector<Edge*> edgePool;
    // Where the bucket of channel c (slot c - 1) starts, and how far it is filled.
    std::vector<Edge**> sendStart;
    std::vector<Edge**> sendCursor;
    std::vector<Edge**> receiveStart;
    std::vector<Edge**> receiveCursor;
    // The transition handed on: max(processes + 1, 3) entries.
    std::vector<Edge*> edgeBuffer;
    // The shared empty tuple: the end marker.
    EdgeTuple emptyTuple = nullptr;

    // Scratch of the broadcast and CSP combinations, one entry per process (the receiver matrix
    // one row of receiverWidth entries per process).
    std::vector<uint32_t> counts;
    std::vector<uint32_t> participants;
    std::vector<Edge*> receiverMatrix;
    std::vector<Edge**> runs;
};

// Enumerates multi-way synchronisations: every process whose alphabet knows a channel must take
// part in a synchronisation on it, with one of its enabled edges on that channel. An edge on a
// channel that at most one process knows is handed on alone, like an edge without
// synchronisation.
class CSPTransitionFilter : public TransitionFilter
{
public:
    void begin() override;
    bool put(SymbolicState* state) override;

private:
    // Bit c: at least two processes have channel c in their alphabet.
    std::vector<uint32_t> sharedChannels;
    // Per channel, the processes whose alphabet holds it, in process order.
    std::vector<std::vector<uint32_t>> knowers;
};

// Factories of the registry entries "transition-filter" and "transition-filter-liveness".
pipeline::Connectable* makeTransitionFilter(FilterConfiguration* registry);
pipeline::Connectable* makeCSPTransitionFilter(FilterConfiguration* registry);
