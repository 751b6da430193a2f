#pragma once

// Passed-waiting lists: the state space of a symbolic reachability search. The list stands at the
// end of the successor chain: it drops a successor that stored zones cover, stores what is new as
// waiting, hands the new part on (to the goal test), and gives the waiting states back one by one,
// in the search order, to the exploration loop, which finishes each as explored (or forgets it).
// Passed and waiting states live in one store, so a successor is compared with both at once and
// can remove the states it dominates.
//
// A waiting entry is the address of its stored node's payload (a record in the bit-state list);
// the state is unpacked from the store only when the loop takes it.

#include <cstdint>
#include <memory>
#include <set>
#include <utility>
#include <vector>

#include "pipeline/keys.h"
#include "pipeline/pipeline.h"
#include "pipeline/statistics.h"
#include "pipeline/successor.h"
#include "statespace/css.h"
#include "statespace/state_order.h"
#include "statespace/symbolic_state_reference.h"

class SymbolicState;
class System;

class PassedWaitingList : public pipeline::Generator<Successor>,
                          public pipeline::Buffer<Successor, SymbolicStateReference*>
{
public:
    using pipeline::Generator<Successor>::connect;
    // Sets the downstream stage that newly stored states are passed to.
    void connect(pipeline::Sink<Successor>* sink) override { next = sink; }

    // A cursor over the states stored so far, owned by the caller; null when the list offers none.
    virtual pipeline::Source<SymbolicStateReference*>* enumerate() { return nullptr; }
    // Forgets every stored state, passed and waiting.
    virtual void clear() = 0;
    // Number of stored states, passed and waiting (0 by default).
    virtual uint64_t size() { return 0; }
    // Number of waiting entries.
    virtual uint64_t waitingSize() = 0;
    // Convex-hull lists: keep the state's discrete part exact, and store a state again exactly.
    // Nothing by default.
    virtual void reinsertExact(SymbolicState* state) { (void)state; }
    virtual void markExact(SymbolicState* state) { (void)state; }

protected:
    // Passes a successor whose state is stored on (put then returns true whatever the answer);
    // without a downstream stage the state goes back to the pool.
    bool forward(Successor* successor);
    // Gives the successor's state back to the pool; false.
    static bool drop(Successor* successor);

    pipeline::Sink<Successor>* next = nullptr;
};

// A list that owns its waiting orders as members: configuration, begin and end reach them.
class CompoundPassedWaitingList : public PassedWaitingList
{
public:
    void begin() override { members.begin(); }
    void end() override { members.end(); }
    void setProperty(const char* key, void* value) override { members.setProperty(key, value); }

protected:
    pipeline::ConnectableCollection members;
};

// Keeps passed and waiting zones in a constraint-system store under two colors of its own. The
// list is itself the reference it hands out: it always means the entry most recently taken.
class CSSPassedWaitingList : public CompoundPassedWaitingList,
                             public AbstractStatisticsProvider,
                             public SymbolicStateReference
{
public:
    // The payload of every stored node: the state's marks.
    struct key_t
    {
        int32_t traceIndex;
        int32_t storeMark;
    };

    class Enum;

    static constexpr int32_t noBound = 0x3fffffff;
    static constexpr int32_t reprunePeriod = 1000;

    CSSPassedWaitingList() = default;
    ~CSSPassedWaitingList() override;

    // PROPERTY_COLOR_STATE_SET, PROPERTY_STATE_ORDER, PROPERTY_MINCOST, PROPERTY_PRUNING,
    // PROPERTY_SYSTEM and PROPERTY_STATISTICS; then every key goes to the members.
    void setProperty(const char* key, void* value) override;

    bool put(Successor* successor) override;
    bool get(SymbolicStateReference** reference) override;
    void load(SymbolicState* state) override;
    void finish(bool drop) override;

    pipeline::Source<SymbolicStateReference*>* enumerate() override;
    void clear() override;
    uint64_t size() override;
    uint64_t waitingSize() override;
    // 1: passed and waiting states, 2: waiting states.
    int value(int id) override;

    int32_t getPassedColor() const { return passedColor; }
    int32_t getWaitingColor() const { return waitingColor; }
    CSS* getStore() const { return store.get(); }
    StateOrder<key_t*>* getOrder() const { return order; }

protected:
    // The store; Bug when none was set.
    CSS& requireStore() const;
    // Drops the successor when a pruning function and a cost bound are set and its cost reaches
    // the bound.
    bool pruned(const SymbolicState* state) const;
    // Stores the zones of the state as waiting nodes, each queued; false when nothing was stored.
    bool storeWaiting(SymbolicState* state);
    // Queues a waiting node with its payload written from the state's marks. `rank` ranks it.
    void enqueue(CSS::Node* node, const SymbolicState* rank, int32_t traceIndex, int32_t storeMark);
    // Removes every stored node whose cost reaches the bound.
    void reprune();
    // A held node that an order gave back: freed when it was removed, else handed to the store.
    void letGo(CSS::Node* node);

    base::RefPtr<CSS> store;
    StateOrder<key_t*>* order = nullptr;  // a member
    key_t* current = nullptr;
    ColorSet colors;
    int32_t passedColor = 0;
    int32_t waitingColor = 0;
    base::RefPtr<System> system;
    pipeline::StateFunction pruning = nullptr;
    int32_t repruneCountdown = -1;
    int32_t costBound = noBound;
};

// A cursor over the passed and waiting states of a list, in table order. Finishing a reference
// does nothing: the states stay as they are.
class CSSPassedWaitingList::Enum : public pipeline::Source<SymbolicStateReference*>, public SymbolicStateReference
{
public:
    explicit Enum(CSSPassedWaitingList* list);

    bool get(SymbolicStateReference** reference) override;
    void load(SymbolicState* state) override;
    void finish(bool drop) override;

private:
    CSSPassedWaitingList* list;
    CSS::Iterator iterator;
    CSS::Node* current = nullptr;
    bool started = false;
};

// Keeps one zone per discrete part, the convex hull of everything stored for it, and explores the
// hull again whenever it grows. A discrete part marked exact (after a goal found in the hull
// turned out spurious) is stored as the exact list stores it, zones apart.
class CHPassedWaitingList : public CSSPassedWaitingList
{
public:
    void setProperty(const char* key, void* value) override;
    bool put(Successor* successor) override;
    void clear() override;
    // Removes the stored node of the state's discrete part and keeps that part exact from now on.
    void markExact(SymbolicState* state) override;
    // Removes the stored node of the state's discrete part, keeps the part exact, and stores the
    // state's zones again, each apart, with the color the node had; they are queued (a waiting
    // color hands them out again).
    void reinsertExact(SymbolicState* state) override;

    bool isExact(SymbolicState* state);

private:
    std::set<std::pair<storage::handle_t, storage::handle_t>> exactParts;
};

// Keeps the waiting states in the store and the explored ones only as bits of a table of 2^n bits.
class CSSBitStateHashingPassedWaitingList : public CompoundPassedWaitingList,
                                            public AbstractStatisticsProvider,
                                            public SymbolicStateReference
{
public:
    // A waiting entry: the state's bit, its marks (the state is unpacked from the node, which
    // keeps neither) and its node.
    struct Element
    {
        uint32_t bit;
        int32_t storeMark;
        int32_t traceIndex;
        CSS::Node* node;
    };

    static constexpr int32_t defaultBits = 27;

    CSSBitStateHashingPassedWaitingList() = default;
    ~CSSBitStateHashingPassedWaitingList() override;

    void begin() override;
    // The keys go to the members first. PROPERTY_COLOR_STATE_SET (one color), PROPERTY_STATE_ORDER,
    // PROPERTY_PASSEDSIZE, PROPERTY_STATISTICS, PROPERTY_MINCOST, PROPERTY_PRUNING.
    void setProperty(const char* key, void* value) override;

    bool put(Successor* successor) override;
    bool get(SymbolicStateReference** reference) override;
    void load(SymbolicState* state) override;
    void finish(bool drop) override;

    void clear() override;
    uint64_t waitingSize() override;
    int value(int id) override;

    int32_t getBits() const { return bits; }
    bool testBit(uint32_t index) const;
    StateOrder<Element>* getOrder() const { return order; }

private:
    CSS& requireStore() const;
    void letGo(CSS::Node* node);

    base::RefPtr<CSS> store;
    int32_t bits = defaultBits;
    std::unique_ptr<uint32_t[]> table;
    StateOrder<Element>* order = nullptr;
    Element current{};
    int32_t costBound = CSSPassedWaitingList::noBound;
    pipeline::StateFunction pruning = nullptr;
    int32_t color = 0;
    ColorSet colors;
    std::vector<uint32_t> buffer;
};
