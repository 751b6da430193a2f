#pragma once

// Single zones: dbm::zone_t is a one-word handle that either points to a
// counted DBM block (dbm/block.h) or, when odd, is the empty zone of a
// dimension ((dim << 1) | 1).
//
// Copying a handle shares the block. Every mutation copies a shared block
// only when it really changes a bound, so zones that an operation leaves alone
// stay shared; an operation that finds the zone empty turns the handle into
// the empty marker of the same dimension and reports false.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "dbm/block.h"
#include "dbm/bound.h"

namespace dbm {

class ClockAccessor;  // clock names for toString (dbm/print.h)
class fed_t;          // federations (dbm/fed.h)

// A clock valuation: one double per clock, index 0 the reference clock (0.0).
class valuation_t {
public:
    valuation_t() = default;
    explicit valuation_t(size_t n) : values_(n, 0.0) {}

    size_t size() const { return values_.size(); }
    void resize(size_t n) { values_.resize(n, 0.0); }
    double* data() { return values_.data(); }
    const double* data() const { return values_.data(); }
    double& operator[](size_t i) { return values_[i]; }
    double operator[](size_t i) const { return values_[i]; }

private:
    std::vector<double> values_;
};

class zone_t {
public:
    // The empty zone of dimension 1 (the handle value 3).
    zone_t() noexcept : word_(3) {}
    // The empty zone of dimension dim.
    explicit zone_t(uint32_t dim) noexcept : word_((uintptr_t(dim) << 1) | 1) {}
    zone_t(const zone_t& other) noexcept;
    zone_t(zone_t&& other) noexcept;  // other is left as the empty zone of its dimension
    zone_t& operator=(const zone_t& other) noexcept;
    zone_t& operator=(zone_t&& other) noexcept;
    ~zone_t() { release(); }

    // ---- The handle -------------------------------------------------------

    bool isEmpty() const { return (word_ & 1) != 0; }
    uint32_t getDimension() const
    {
        return isEmpty() ? uint32_t(word_ >> 1) : getBlock()->dim();
    }
    // The handle value: a block address, or (dim << 1) | 1.
    uintptr_t getWord() const { return word_; }
    // The block, or null for the empty zone.
    DBMBlock* getBlock() const { return isEmpty() ? nullptr : reinterpret_cast<DBMBlock*>(word_); }
    // The matrix of a non-empty zone (read only).
    const bound_t* getMatrix() const { return getBlock()->matrix(); }
    // Entry [i][j] of a non-empty zone.
    bound_t operator()(uint32_t i, uint32_t j) const { return getMatrix()[i * getDimension() + j]; }

    // A handle on block that takes over one count the caller holds.
    static zone_t adoptBlock(DBMBlock* block) noexcept
    {
        zone_t z;
        z.word_ = reinterpret_cast<uintptr_t>(block);
        return z;
    }

    // Releases the block; the handle becomes the empty zone of the same dimension.
    void setEmpty();
    void swap(zone_t& other) noexcept
    {
        uintptr_t w = word_;
        word_ = other.word_;
        other.word_ = w;
    }

    // ---- Construction, assignment and interning ---------------------------

    // A new block of dimension n: x_i > m[i] (x_i >= 0 where m[i] is minus
    // infinity), no upper bounds. m[0] is ignored.
    void initAboveBounds(const int32_t* m, uint32_t n);
    // The zone holds a copy of the closed n x n matrix m.
    void assignMatrix(const bound_t* m, uint32_t n);
    // The single point where every clock is 0 (dimension kept).
    void setZero();
    // The unconstrained non-negative zone (dimension kept).
    void setInit();
    // The matrix of a non-empty zone, held alone and not interned.
    bound_t* makeWritable();
    // As makeWritable; the empty zone gets a new, unfilled block of its dimension.
    bound_t* makeWritableOrNew();
    // Copies the matrix; an empty zone writes -1 into dst[0] only.
    void copyTo(bound_t* dst) const;
    // Rebuilds the zone over a new clock set (bit arrays of nWords words);
    // table receives the new index of each clock of the target set.
    void resize(const uint32_t* srcBits, const uint32_t* dstBits, size_t nWords, uint32_t* table);
    // Rebuilds the zone from table (source index of each new clock from 1,
    // or -1 for a new unconstrained clock).
    void resizeByTable(const int32_t* table, uint32_t newDim);

    // ---- Tests (none changes the zone) -----------------------------------

    relation_t relation(const zone_t& other) const;
    bool containsPoint(const double* point) const;
    bool containsPoint(const valuation_t& v) const { return containsPoint(v.data()); }
    bool equals(const zone_t& other) const;
    bool equalsMatrix(const bound_t* m) const;
    relation_t relationMatrix(const bound_t* m, uint32_t n) const;
    bool isStrictSubsetOfMatrix(const bound_t* m) const;
    bool isStrictSupersetOfMatrix(const bound_t* m) const;
    bool isSubsetEq(const zone_t& other) const;
    // Exact inclusion in a federation; defined with the federation algebra (dbm/fed*.cpp).
    bool isSubsetEqFed(const fed_t& fed) const;
    // The quick test of dbm::intersects: exact up to two clocks, a filter beyond.
    bool intersects(const zone_t& other) const;
    bool intersectsMatrix(const bound_t* m) const;
    bool intersectsFed(const fed_t& fed) const;
    // The exact tests (dbm::intersectsExactly), for callers whose answer decides a result.
    bool intersectsExactly(const zone_t& other) const;
    bool intersectsMatrixExactly(const bound_t* m) const;
    bool intersectsFedExactly(const fed_t& fed) const;
    bool hasZero() const;
    bool hasNoFixedClock() const;
    bool hasLooserBound(uint32_t i, uint32_t j, bound_t b) const;
    bool containsIntPoint(const int32_t* point) const;
    int32_t maxBoundGap(uint32_t k) const;

    // ---- Mutations (false: the zone became the empty marker) ---------------

    // Intersection with a matrix of the same dimension. True means that this
    // zone strictly includes m and was left unchanged (the result is m itself).
    bool intersectStep(const bound_t* m, uint32_t n);
    void intersectWith(const zone_t& other);
    void intersectWithMatrix(const bound_t* m);
    bool constrain(uint32_t i, uint32_t j, bound_t b);
    bool constrain(const clock_constraint_t& c) { return constrain(c.i, c.j, c.bound); }
    // x_i == v.
    bool constrainClock(uint32_t i, int32_t v);
    bool constrainAll(const clock_constraint_t* c, size_t k);
    bool constrainAllIndexed(const uint32_t* table, const clock_constraint_t* c, size_t k);
    // Bound-wise maximum with a matrix of dimension n (the convex hull).
    void convexUnionStep(const bound_t* m, uint32_t n);
    void convexUnionWith(const zone_t& other);
    void convexUnionMatrix(const bound_t* m);
    void convexUnionFed(const fed_t& fed);
    void up();
    void upWithStopped(const uint32_t* stopped);
    void down();
    void downWithStopped(const uint32_t* stopped);
    void freeClock(uint32_t k);
    // x_k := v.
    void updateValue(uint32_t k, int32_t v);
    // x_i := x_j.
    void updateClock(uint32_t i, uint32_t j);
    void swapClocks(uint32_t i, uint32_t j);
    // x_i := x_j + d.
    void updateIncrement(uint32_t i, uint32_t j, int32_t d);
    // x_i := x_j + d on any handle (the empty zone is left alone).
    void update(uint32_t i, uint32_t j, int32_t d);
    void freeDown(uint32_t k);
    void freeUp(uint32_t k);
    void freeAllUp();
    void freeAllDown();
    bool tightenDown();
    bool tightenUp();
    void relaxDownClock(uint32_t k);
    void relaxUpClock(uint32_t k);
    void relaxAll();
    void relaxNonStrict();
    bool zeroOtherClocks(uint32_t a);

    // ---- Valuations ------------------------------------------------------

    // A point of the zone, integers preferred; free[c] non-zero lets clock c be
    // chosen (null: every clock). The valuation grows to the dimension when
    // shorter. Throws std::out_of_range for an empty zone or a failed pick.
    valuation_t& getValuation(valuation_t& v, uint8_t* free = nullptr) const;
    // Picks the clocks whose flag is set, clock by clock; clears the flags.
    bool pickPoint(double* s, uint8_t* free) const;
    bool delayToEnter(const double* point, uint32_t dim, double* delay, double* exactDelay,
                      bool* strict, const uint32_t* stopped) const;
    bool maxDelay(const double* point, uint32_t dim, double* delay, double* exactDelay,
                  bool* strict, const uint32_t* stopped) const;
    bool maxPastDelay(const double* point, uint32_t dim, double* delay, double cap) const;

    // ---- Text ------------------------------------------------------------

    // Defined with the printers (dbm/print.cpp).
    std::string toString(const ClockAccessor& clocks, bool allBounds) const;

private:
    friend void internZone(zone_t& zone);

    void release() noexcept
    {
        if (!isEmpty()) {
            DBMBlock* b = getBlock();
            if (--b->count == 0) releaseDBMBlock(b);
        }
    }
    // Gives up the block and becomes the empty zone of dimension dim.
    void becomeEmpty(uint32_t dim) noexcept
    {
        release();
        word_ = (uintptr_t(dim) << 1) | 1;
    }
    // Releases the current block (if any) and takes a new one (count 1).
    bound_t* takeNewBlock(uint32_t dim);
    // Replaces a shared block by a private copy and returns the copy's matrix.
    bound_t* copySharedBlock();

    uintptr_t word_;
};
static_assert(sizeof(zone_t) == sizeof(void*), "a zone is one word");

inline void swap(zone_t& a, zone_t& b) noexcept { a.swap(b); }

// A node of a federation's list.
struct FederationNode {
    FederationNode* next;
    zone_t zone;  // never empty while the node is in a federation; 3 while free
};

// Enters the block of a non-empty zone in the intern table, or makes the
// handle share an equal block that is already there.
void internZone(zone_t& zone);

// The handle of the shared zero DBM (the 1 x 1 matrix (<=, 0)).
const zone_t& zeroDBM();

}  // namespace dbm
