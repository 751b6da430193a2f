#pragma once

// Passed lists: stages that remember explored symbolic states without keeping waiting ones. As
// filters they take from each successor the zones already known and drop successors with nothing
// new; their owner tells them separately which states have been explored (add).
//
// put takes the successor's state: a dropped successor's state goes back to the pool and put
// returns false; a forwarded one goes downstream and put returns true whatever the answer.
// add never takes the state: the caller keeps and releases it.

#include <cstdint>
#include <memory>

#include "pipeline/pipeline.h"
#include "pipeline/successor.h"
#include "statespace/css.h"

class SymbolicState;

class PassedList : public pipeline::AbstractFilter<Successor, Successor>
{
public:
    // Forgets every explored state.
    virtual void clear() = 0;
    // Remembers the zones of an explored state.
    virtual void add(SymbolicState* state) = 0;

protected:
    // Forwards the successor downstream (true), or drops it when there is no downstream stage.
    bool forward(Successor* successor);
    // Gives the successor's state back to the pool; false.
    static bool drop(Successor* successor);
};

// The three hashes of a state used to place it in a bit table: the location indices (seed 0),
// the integer variables (seeded with the first) and each zone (seeded with the second, or the
// empty-zone marker itself). Indices rather than Location pointers keep the bits the same on
// every run. The buffer holds the location indices.
struct StateBitHash
{
    uint32_t h1;
    uint32_t h2;
};
StateBitHash stateBitHash(const SymbolicState* state, std::vector<uint32_t>& buffer);
uint32_t zoneBitHash(const dbm::zone_t& zone, uint32_t h2);

// Remembers each explored zone as one bit of a table of 2^n bits (n hash bits, 27 by default):
// 2^n bits of memory and no collision handling, so a zone whose bit another zone set counts as
// explored.
class BitStatePassedList : public PassedList
{
public:
    static constexpr int32_t defaultBits = 27;
    static constexpr int32_t minimumBits = 5;
    // The bit index comes from a 32-bit hash: more bits would only waste memory.
    static constexpr int32_t maximumBits = 32;

    void begin() override;
    // PROPERTY_PASSEDSIZE (int*): when the value differs from n, frees the table and sets n to the
    // value, at least 5 and at most 32.
    void setProperty(const char* key, void* value) override;
    bool put(Successor* successor) override;
    void clear() override;
    void add(SymbolicState* state) override;

    int32_t getBits() const { return bits; }
    bool hasTable() const { return table != nullptr; }
    // Whether a bit is set (false without a table), for tests.
    bool testBit(uint32_t index) const;

private:
    uint32_t bitOf(const dbm::zone_t& zone, uint32_t h2) const;
    void allocateTable();

    int32_t bits = defaultBits;
    std::unique_ptr<uint32_t[]> table;
    std::vector<uint32_t> buffer;
};

// Keeps explored zones in a constraint-system store under a color of its own.
class CSSPassedList : public PassedList
{
public:
    ~CSSPassedList() override;

    // PROPERTY_COLOR_STATE_SET (counted CSS): clears the list in its old store, takes the new
    // store and a new color of it.
    void setProperty(const char* key, void* value) override;
    // Removes the zones that stored zones cover at no lower cost; never removes stored nodes.
    bool put(Successor* successor) override;
    // Removes the nodes of the list's color (nothing before a store was set).
    void clear() override;
    // Stores the zones of the state that are not covered, removing the nodes they dominate.
    void add(SymbolicState* state) override;

    int32_t getColor() const { return color; }
    CSS* getStore() const { return store.get(); }

protected:
    CSS& requireStore() const;

    base::RefPtr<CSS> store;
    ColorSet relate;
    ColorSet eliminate;  // stays empty: put never removes nodes
    int32_t color = 0;
};

// Keeps one zone per discrete part: the convex hull of every zone explored with it.
class CHPassedList : public CSSPassedList
{
public:
    bool put(Successor* successor) override;
    void add(SymbolicState* state) override;
};
