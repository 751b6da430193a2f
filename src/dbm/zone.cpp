#include "dbm/zone.h"

#include <alloca.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>

#include "dbm/dbm.h"
#include "support/hash.h"

namespace dbm {

namespace {

// Clock bit sets of touched clocks live on the stack: one word per 32 clocks
// of the largest dimension a block can hold.
constexpr uint32_t kMaxBitWords = (kBlockDimMask + 32) / 32;

inline uintptr_t emptyWord(uint32_t dim)
{
    return (uintptr_t(dim) << 1) | 1;
}

inline bool isShared(const DBMBlock* block)
{
    return block->count > 1;
}

// The bound x_i - x_j after shifting by 2d, infinite bounds kept.
inline bound_t shifted(bound_t b, int32_t d)
{
    return isInfinite(b) ? BOUND_INFINITY : shiftBound(b, d);
}

}  // namespace

// ---- The handle --------------------------------------------------------------

zone_t::zone_t(const zone_t& other) noexcept : word_(other.word_)
{
    if (!isEmpty()) ++getBlock()->count;
}

zone_t::zone_t(zone_t&& other) noexcept : word_(other.word_)
{
    if (!other.isEmpty()) other.word_ = emptyWord(getBlock()->dim());
}

zone_t& zone_t::operator=(const zone_t& other) noexcept
{
    if (!other.isEmpty()) ++other.getBlock()->count;
    release();
    word_ = other.word_;
    return *this;
}

zone_t& zone_t::operator=(zone_t&& other) noexcept
{
    if (this != &other) {
        uintptr_t word = other.word_;
        if (!other.isEmpty()) other.word_ = emptyWord(other.getBlock()->dim());
        release();
        word_ = word;
    }
    return *this;
}

void zone_t::setEmpty()
{
    if (!isEmpty()) becomeEmpty(getBlock()->dim());
}

bound_t* zone_t::takeNewBlock(uint32_t dim)
{
    DBMBlock* block = allocateDBMBlock(dim);
    block->info = dim;
    block->count = 1;
    release();
    word_ = reinterpret_cast<uintptr_t>(block);
    return block->matrix();
}

bound_t* zone_t::copySharedBlock()
{
    DBMBlock* old = getBlock();
    const uint32_t dim = old->dim();
    DBMBlock* block = allocateDBMBlock(dim);
    block->info = dim;
    block->count = 1;
    copyMatrix(block->matrix(), old->matrix(), dim);
    if (--old->count == 0) releaseDBMBlock(old);
    word_ = reinterpret_cast<uintptr_t>(block);
    return block->matrix();
}

bound_t* zone_t::makeWritable()
{
    DBMBlock* block = getBlock();
    if (isShared(block)) return copySharedBlock();
    if (block->isInterned()) unlinkInternedBlock(block);
    return block->matrix();
}

bound_t* zone_t::makeWritableOrNew()
{
    if (isEmpty()) return takeNewBlock(getDimension());
    return makeWritable();
}

// ---- Construction and assignment ---------------------------------------------

void zone_t::initAboveBounds(const int32_t* m, uint32_t n)
{
    bound_t* d = takeNewBlock(n);
    d[0] = BOUND_LE_ZERO;
    for (uint32_t i = 1; i < n; ++i) {
        // x_i > m_i; a clock is never below 0, so a negative constant adds nothing to x_i >= 0.
        d[i] = (m[i] == MINUS_INF_VALUE || m[i] < 0) ? BOUND_LE_ZERO : boundLT(-m[i]);
    }
    for (uint32_t i = 1; i < n; ++i) {
        bound_t* row = d + size_t(i) * n;
        base::fillWords(row, n, BOUND_INFINITY);
        row[i] = BOUND_LE_ZERO;
    }
}

void zone_t::assignMatrix(const bound_t* m, uint32_t n)
{
    if (!isEmpty() && getDimension() == n) {
        DBMBlock* block = getBlock();
        if (base::equalWords(block->matrix(), m, size_t(n) * n)) return;
        if (!isShared(block)) {
            copyMatrix(makeWritable(), m, n);
            return;
        }
    }
    copyMatrix(takeNewBlock(n), m, n);
}

void zone_t::setZero()
{
    const uint32_t n = getDimension();
    const size_t entries = size_t(n) * n;
    if (isEmpty()) {
        if (n == 1) {
            *this = zeroDBM();
            return;
        }
        base::fillWords(takeNewBlock(n), entries, BOUND_LE_ZERO);
        return;
    }
    DBMBlock* block = getBlock();
    if (isShared(block)) {
        if (base::notAllEqual(reinterpret_cast<const uint32_t*>(block->matrix()), entries, BOUND_LE_ZERO) == 0) {
            return;
        }
        base::fillWords(takeNewBlock(n), entries, BOUND_LE_ZERO);
        return;
    }
    base::fillWords(makeWritable(), entries, BOUND_LE_ZERO);
}

void zone_t::setInit()
{
    const uint32_t n = getDimension();
    if (isEmpty()) {
        if (n == 1) {
            *this = zeroDBM();
            return;
        }
        dbm::init(takeNewBlock(n), n);
        return;
    }
    DBMBlock* block = getBlock();
    if (isShared(block)) {
        if (dbm::isInit(block->matrix(), n)) return;
        dbm::init(takeNewBlock(n), n);
        return;
    }
    dbm::init(makeWritable(), n);
}

void zone_t::copyTo(bound_t* dst) const
{
    if (isEmpty()) {
        dst[0] = EMPTY_MARK;
        return;
    }
    copyMatrix(dst, getMatrix(), getDimension());
}

void zone_t::resize(const uint32_t* srcBits, const uint32_t* dstBits, size_t nWords, uint32_t* table)
{
    if (base::equalWords(srcBits, dstBits, nWords)) return;
    uint32_t newDim = 0;
    for (size_t w = 0; w < nWords; ++w) newDim += uint32_t(__builtin_popcount(dstBits[w]));
    if (isEmpty()) {
        base::indexSetBits(dstBits, nWords, table);
        word_ = emptyWord(newDim);
        return;
    }
    if (newDim < 2) {
        table[0] = 0;
        *this = zeroDBM();
        return;
    }
    DBMBlock* block = allocateDBMBlock(newDim);
    block->info = newDim;
    block->count = 1;
    dbm::changeClocks(getMatrix(), getDimension(), block->matrix(), srcBits, dstBits, uint32_t(nWords), table);
    release();
    word_ = reinterpret_cast<uintptr_t>(block);
}

void zone_t::resizeByTable(const int32_t* table, uint32_t newDim)
{
    if (isEmpty()) {
        word_ = emptyWord(newDim);
        return;
    }
    if (newDim < 2) {
        *this = zeroDBM();
        return;
    }
    DBMBlock* block = allocateDBMBlock(newDim);
    block->info = newDim;
    block->count = 1;
    dbm::copyMapped(block->matrix(), newDim, getMatrix(), getDimension(), table);
    release();
    word_ = reinterpret_cast<uintptr_t>(block);
}

// ---- Tests ---------------------------------------------------------------------

relation_t zone_t::relation(const zone_t& other) const
{
    if (word_ == other.word_) return EQUAL;
    const uint32_t n = getDimension();
    if (n != other.getDimension()) return DIFFERENT;
    if (isEmpty()) return SUBSET;
    if (other.isEmpty()) return SUPERSET;
    return dbm::relation(getMatrix(), n, other.getMatrix());
}

bool zone_t::containsPoint(const double* point) const
{
    return !isEmpty() && dbm::isRealPointIncluded(getMatrix(), getDimension(), point);
}

bool zone_t::equals(const zone_t& other) const
{
    if (word_ == other.word_) return true;
    if (isEmpty() || other.isEmpty()) return false;
    const uint32_t n = getDimension();
    if (n != other.getDimension()) return false;
    return base::equalWords(getMatrix(), other.getMatrix(), size_t(n) * n);
}

bool zone_t::equalsMatrix(const bound_t* m) const
{
    if (isEmpty()) return false;
    const uint32_t n = getDimension();
    return base::equalWords(getMatrix(), m, size_t(n) * n);
}

relation_t zone_t::relationMatrix(const bound_t* m, uint32_t n) const
{
    if (n != getDimension()) return DIFFERENT;
    if (isEmpty()) return SUBSET;
    return dbm::relation(getMatrix(), n, m);
}

bool zone_t::isStrictSubsetOfMatrix(const bound_t* m) const
{
    return isEmpty() || dbm::relation(getMatrix(), getDimension(), m) == SUBSET;
}

bool zone_t::isStrictSupersetOfMatrix(const bound_t* m) const
{
    return !isEmpty() && dbm::relation(getMatrix(), getDimension(), m) == SUPERSET;
}

bool zone_t::isSubsetEq(const zone_t& other) const
{
    if (word_ == other.word_) return true;
    const uint32_t n = getDimension();
    if (n != other.getDimension()) return false;
    if (isEmpty()) return true;
    if (other.isEmpty()) return false;
    return dbm::isSubsetEq(getMatrix(), n, other.getMatrix());
}

bool zone_t::intersects(const zone_t& other) const
{
    if (isEmpty() || other.isEmpty()) return false;
    const uint32_t n = getDimension();
    if (n != other.getDimension()) return false;
    return dbm::intersects(getMatrix(), n, other.getMatrix());
}

bool zone_t::intersectsMatrix(const bound_t* m) const
{
    return !isEmpty() && dbm::intersects(getMatrix(), getDimension(), m);
}

bool zone_t::intersectsExactly(const zone_t& other) const
{
    if (isEmpty() || other.isEmpty()) return false;
    const uint32_t n = getDimension();
    if (n != other.getDimension()) return false;
    return dbm::intersectsExactly(getMatrix(), n, other.getMatrix());
}

bool zone_t::intersectsMatrixExactly(const bound_t* m) const
{
    return !isEmpty() && dbm::intersectsExactly(getMatrix(), getDimension(), m);
}

bool zone_t::hasZero() const
{
    return !isEmpty() && dbm::hasZero(getMatrix(), getDimension());
}

bool zone_t::hasNoFixedClock() const
{
    if (isEmpty()) return false;
    const uint32_t n = getDimension();
    const bound_t* m = getMatrix();
    for (uint32_t i = 1; i < n; ++i) {
        // A non-strict upper bound equal to the non-strict lower bound: the clock has one value.
        if (int64_t(m[size_t(i) * n]) == 2 - int64_t(m[i])) return false;
    }
    return true;
}

bool zone_t::hasLooserBound(uint32_t i, uint32_t j, bound_t b) const
{
    return !isEmpty() && b < (*this)(i, j);
}

bool zone_t::containsIntPoint(const int32_t* point) const
{
    return !isEmpty() && dbm::isPointIncluded(getMatrix(), getDimension(), point);
}

int32_t zone_t::maxBoundGap(uint32_t k) const
{
    if (isEmpty()) return MINUS_INF_VALUE;
    const uint32_t n = getDimension();
    const bound_t* m = getMatrix();
    bool found = false;
    int64_t gap = 0;
    for (uint32_t i = 1; i < n; ++i) {
        const bound_t upper = m[size_t(i) * n];
        if (isInfinite(upper)) continue;
        const int64_t g = int64_t(boundValue(upper)) - int64_t(boundValue(m[size_t(i) * n + k]));
        if (!found || g > gap) gap = g;
        found = true;
    }
    return found ? int32_t(uint32_t(uint64_t(gap))) : INF_VALUE;
}

// ---- Intersection and constraints --------------------------------------------

bool zone_t::intersectStep(const bound_t* m, uint32_t n)
{
    DBMBlock* block = getBlock();
    if (isShared(block)) {
        relation_t r = dbm::relation(block->matrix(), n, m);
        if (r != DIFFERENT) return r == SUPERSET;
        if (!dbm::intersects(block->matrix(), n, m)) {
            setEmpty();
            return false;
        }
    }
    if (!dbm::intersect(makeWritable(), n, m)) setEmpty();
    return false;
}

void zone_t::intersectWith(const zone_t& other)
{
    if (isEmpty()) return;
    if (other.isEmpty()) {
        setEmpty();
        return;
    }
    if (word_ == other.word_) return;
    if (intersectStep(other.getMatrix(), getDimension())) *this = other;
}

void zone_t::intersectWithMatrix(const bound_t* m)
{
    if (isEmpty()) return;
    const uint32_t n = getDimension();
    if (intersectStep(m, n)) copyMatrix(takeNewBlock(n), m, n);
}

bool zone_t::constrain(uint32_t i, uint32_t j, bound_t b)
{
    const uint32_t n = getDimension();
    const bound_t* m = getMatrix();
    if (b >= m[size_t(i) * n + j]) return true;
    if (m[size_t(j) * n + i] <= negateBound(b)) {
        setEmpty();
        return false;
    }
    bound_t* w = makeWritable();
    w[size_t(i) * n + j] = b;
    dbm::closeEntryIfNeeded(w, n, i, j);
    return true;
}

bool zone_t::constrainClock(uint32_t i, int32_t v)
{
    const uint32_t n = getDimension();
    const bound_t* m = getMatrix();
    const bound_t upper = boundLE(v);
    const bound_t lower = boundLE(-v);
    const size_t ui = size_t(i) * n;
    if (m[ui] <= upper && m[i] <= lower) return true;
    const bound_t u = std::min(m[ui], upper);
    const bound_t l = std::min(m[i], lower);
    if (l <= negateBound(u)) {
        setEmpty();
        return false;
    }
    bound_t* w = makeWritable();
    w[ui] = u;
    w[i] = l;
    if (!dbm::closeThroughClock(w, n, 0) || !dbm::closeThroughClock(w, n, i)) {
        setEmpty();
        return false;
    }
    return true;
}

namespace {

// The common body of constrainAll and constrainAllIndexed on a shared block:
// nothing is copied unless some constraint tightens, and a direct
// contradiction is found before copying. Map translates clock indices.
template <class Map>
int scanConstraints(const bound_t* m, uint32_t n, const clock_constraint_t* c, size_t k, Map map,
                    const clock_constraint_t** single)
{
    int tightening = 0;
    for (size_t q = 0; q < k; ++q) {
        const uint32_t i = map(c[q].i), j = map(c[q].j);
        const bound_t b = c[q].bound;
        if (b < m[size_t(i) * n + j]) {
            if (m[size_t(j) * n + i] <= negateBound(b)) return -1;
            ++tightening;
            *single = &c[q];
        }
    }
    return tightening;
}

template <class Map>
bool applyScanned(bound_t* w, uint32_t n, const clock_constraint_t* c, size_t k, Map map, int tightening,
                  const clock_constraint_t* single)
{
    if (tightening == 1) {
        const uint32_t i = map(single->i), j = map(single->j);
        w[size_t(i) * n + j] = single->bound;
        dbm::closeEntryIfNeeded(w, n, i, j);
        return true;
    }
    uint32_t bits[kMaxBitWords];
    std::memset(bits, 0, dbm::bitWords(n) * sizeof(uint32_t));
    for (size_t q = 0; q < k; ++q) {
        const uint32_t i = map(c[q].i), j = map(c[q].j);
        bound_t& entry = w[size_t(i) * n + j];
        if (c[q].bound < entry) {
            entry = c[q].bound;
            base::setBit(bits, i);
            base::setBit(bits, j);
        }
    }
    return dbm::closeMarked(w, n, bits);
}

}  // namespace

bool zone_t::constrainAll(const clock_constraint_t* c, size_t k)
{
    const uint32_t n = getDimension();
    DBMBlock* block = getBlock();
    if (!isShared(block)) {
        if (!dbm::constrainAll(makeWritable(), n, c, k)) {
            setEmpty();
            return false;
        }
        return true;
    }
    auto same = [](uint32_t x) { return x; };
    const clock_constraint_t* single = nullptr;
    const int tightening = scanConstraints(block->matrix(), n, c, k, same, &single);
    if (tightening < 0) {
        setEmpty();
        return false;
    }
    if (tightening == 0) return true;
    if (!applyScanned(copySharedBlock(), n, c, k, same, tightening, single)) {
        setEmpty();
        return false;
    }
    return true;
}

bool zone_t::constrainAllIndexed(const uint32_t* table, const clock_constraint_t* c, size_t k)
{
    const uint32_t n = getDimension();
    DBMBlock* block = getBlock();
    if (!isShared(block)) {
        if (!dbm::constrainAllMapped(makeWritable(), n, table, c, k)) {
            setEmpty();
            return false;
        }
        return true;
    }
    auto mapped = [table](uint32_t x) { return table[x]; };
    const clock_constraint_t* single = nullptr;
    const int tightening = scanConstraints(block->matrix(), n, c, k, mapped, &single);
    if (tightening < 0) {
        setEmpty();
        return false;
    }
    if (tightening == 0) return true;
    if (!applyScanned(copySharedBlock(), n, c, k, mapped, tightening, single)) {
        setEmpty();
        return false;
    }
    return true;
}

// ---- Convex union -----------------------------------------------------------------

void zone_t::convexUnionStep(const bound_t* m, uint32_t n)
{
    if (n < 2) return;
    DBMBlock* block = getBlock();
    const size_t last = size_t(n) * n - 1;  // the last diagonal entry is left alone
    if (!isShared(block)) {
        dbm::convexUnion(makeWritable(), n, m);
        return;
    }
    const bound_t* mine = block->matrix();
    size_t p = 1;
    while (p < last && m[p] <= mine[p]) ++p;
    if (p == last) return;
    bound_t* w = copySharedBlock();
    for (; p < last; ++p) w[p] = std::max(w[p], m[p]);
}

void zone_t::convexUnionWith(const zone_t& other)
{
    if (other.isEmpty()) return;
    if (isEmpty()) {
        *this = other;
        return;
    }
    if (word_ == other.word_) return;
    convexUnionStep(other.getMatrix(), getDimension());
}

void zone_t::convexUnionMatrix(const bound_t* m)
{
    const uint32_t n = getDimension();
    if (isEmpty()) {
        assignMatrix(m, n);
        return;
    }
    convexUnionStep(m, n);
}

// ---- Delay, past, updates -------------------------------------------------------

void zone_t::up()
{
    const uint32_t n = getDimension();
    DBMBlock* block = getBlock();
    if (!isShared(block)) {
        dbm::up(makeWritable(), n);
        return;
    }
    const bound_t* m = block->matrix();
    uint32_t i = 1;
    while (i < n && m[size_t(i) * n] == BOUND_INFINITY) ++i;
    if (i == n) return;
    bound_t* w = copySharedBlock();
    for (; i < n; ++i) w[size_t(i) * n] = BOUND_INFINITY;
}

void zone_t::upWithStopped(const uint32_t* stopped)
{
    dbm::upStopped(makeWritable(), getDimension(), stopped);
}

void zone_t::down()
{
    const uint32_t n = getDimension();
    DBMBlock* block = getBlock();
    if (!isShared(block)) {
        dbm::down(makeWritable(), n);
        return;
    }
    const bound_t* m = block->matrix();
    for (uint32_t i = 1; i < n; ++i) {
        if (m[i] > 0) continue;  // lower bound already 0
        bound_t lower = BOUND_LE_ZERO;
        for (uint32_t j = 1; j < n; ++j) {
            const bound_t b = m[size_t(j) * n + i];
            if (b < lower && isFinite(m[j])) lower = b;
        }
        if (lower != m[i]) {
            bound_t* w = copySharedBlock();
            w[i] = lower;
            dbm::down(w, n, i + 1);
            return;
        }
    }
}

void zone_t::downWithStopped(const uint32_t* stopped)
{
    dbm::downStopped(makeWritable(), getDimension(), stopped);
}

void zone_t::freeClock(uint32_t k)
{
    const uint32_t n = getDimension();
    DBMBlock* block = getBlock();
    if (isShared(block)) {
        const bound_t* m = block->matrix();
        const bound_t* row = m + size_t(k) * n;
        bool changes = false;
        for (uint32_t j = 0; j < n && !changes; ++j) {
            if (j == k) continue;
            changes = row[j] != BOUND_INFINITY || m[size_t(j) * n + k] != m[size_t(j) * n];
        }
        if (!changes) return;
    }
    dbm::freeClock(makeWritable(), n, k);
}

void zone_t::updateValue(uint32_t k, int32_t v)
{
    const uint32_t n = getDimension();
    DBMBlock* block = getBlock();
    if (isShared(block)) {
        const bound_t* m = block->matrix();
        const bound_t upper = boundLE(v), lower = boundLE(-v);
        const size_t rk = size_t(k) * n;
        bool changes = m[rk] != upper || m[k] != lower;
        for (uint32_t j = 1; j < n && !changes; ++j) {
            if (j == k) continue;
            changes = m[rk + j] != addBounds(upper, m[j]) || m[size_t(j) * n + k] != addBounds(m[size_t(j) * n], lower);
        }
        if (!changes) return;
    }
    dbm::updateValue(makeWritable(), n, k, v);
}

void zone_t::updateClock(uint32_t i, uint32_t j)
{
    if (i == j) return;
    updateIncrement(i, j, 0);
}

void zone_t::updateIncrement(uint32_t i, uint32_t j, int32_t d)
{
    const uint32_t n = getDimension();
    DBMBlock* block = getBlock();
    if (isShared(block)) {
        const bound_t* m = block->matrix();
        const size_t ri = size_t(i) * n, rj = size_t(j) * n;
        bool changes = false;
        for (uint32_t k = 0; k < n && !changes; ++k) {
            if (k == i) continue;
            const size_t rk = size_t(k) * n;
            changes = m[ri + k] != shifted(m[rj + k], d) || m[rk + i] != shifted(m[rk + j], -d);
        }
        if (!changes) return;
    }
    bound_t* w = makeWritable();
    if (i == j) {
        dbm::updateIncrement(w, n, i, d);
    } else if (d == 0) {
        dbm::updateClock(w, n, i, j);
    } else {
        dbm::updateClockPlus(w, n, i, j, d);
    }
}

void zone_t::update(uint32_t i, uint32_t j, int32_t d)
{
    if (isEmpty()) return;
    if (i != j) {
        updateIncrement(i, j, d);
    } else if (d != 0) {
        dbm::updateIncrement(makeWritable(), getDimension(), i, d);
    }
}

void zone_t::swapClocks(uint32_t i, uint32_t j)
{
    if ((*this)(i, j) == BOUND_LE_ZERO && (*this)(j, i) == BOUND_LE_ZERO) return;
    dbm::swapClocks(makeWritable(), getDimension(), i, j);
}

void zone_t::freeDown(uint32_t k)
{
    const uint32_t n = getDimension();
    DBMBlock* block = getBlock();
    if (isShared(block)) {
        const bound_t* m = block->matrix();
        bool changes = false;
        for (uint32_t j = 0; j < n && !changes; ++j) {
            changes = j != k && m[size_t(j) * n + k] != m[size_t(j) * n];
        }
        if (!changes) return;
    }
    dbm::freeDown(makeWritable(), n, k);
}

void zone_t::freeUp(uint32_t k)
{
    const uint32_t n = getDimension();
    DBMBlock* block = getBlock();
    if (isShared(block)) {
        const bound_t* row = block->matrix() + size_t(k) * n;
        bool changes = false;
        for (uint32_t j = 0; j < n && !changes; ++j) changes = j != k && row[j] != BOUND_INFINITY;
        if (!changes) return;
    }
    dbm::freeUp(makeWritable(), n, k);
}

void zone_t::freeAllUp()
{
    const uint32_t n = getDimension();
    DBMBlock* block = getBlock();
    if (isShared(block) && dbm::isFreeAllUp(block->matrix(), n)) return;
    dbm::freeAllUp(makeWritable(), n);
}

void zone_t::freeAllDown()
{
    const uint32_t n = getDimension();
    DBMBlock* block = getBlock();
    if (isShared(block) && dbm::findNotFreeAllDown(block->matrix(), n) == 0) return;
    dbm::freeAllDown(makeWritable(), n);
}

// ---- Strictness ---------------------------------------------------------------------

bool zone_t::tightenDown()
{
    if (!dbm::makeLowerBoundsStrict(makeWritable(), getDimension())) {
        setEmpty();
        return false;
    }
    return true;
}

bool zone_t::tightenUp()
{
    if (!dbm::makeUpperBoundsStrict(makeWritable(), getDimension())) {
        setEmpty();
        return false;
    }
    return true;
}

namespace {

// Applies a relaxation to a shared block through a scratch block of the same
// dimension (from the free list): the shared block is replaced only when the
// result differs, and the scratch block goes back otherwise.
template <class Relax>
void relaxShared(zone_t& zone, Relax relax)
{
    DBMBlock* block = zone.getBlock();
    const uint32_t n = block->dim();
    DBMBlock* scratch = allocateDBMBlock(n);
    scratch->info = n;
    scratch->count = 1;
    copyMatrix(scratch->matrix(), block->matrix(), n);
    relax(scratch->matrix(), n);
    if (base::equalWords(scratch->matrix(), block->matrix(), size_t(n) * n)) {
        freeDBMBlock(scratch);
        return;
    }
    zone = zone_t::adoptBlock(scratch);
}

}  // namespace

void zone_t::relaxDownClock(uint32_t k)
{
    auto relax = [k](bound_t* m, uint32_t n) { dbm::relaxColumn(m, n, k); };
    if (isShared(getBlock())) {
        relaxShared(*this, relax);
    } else {
        relax(makeWritable(), getDimension());
    }
}

void zone_t::relaxUpClock(uint32_t k)
{
    auto relax = [k](bound_t* m, uint32_t n) { dbm::relaxRow(m, n, k); };
    if (isShared(getBlock())) {
        relaxShared(*this, relax);
    } else {
        relax(makeWritable(), getDimension());
    }
}

void zone_t::relaxAll()
{
    const uint32_t n = getDimension();
    DBMBlock* block = getBlock();
    if (isShared(block)) {
        const bound_t* m = block->matrix();
        const size_t entries = size_t(n) * n;
        bool changes = false;
        for (size_t p = 1; p < entries && !changes; ++p) changes = isFinite(m[p]) && isStrict(m[p]);
        if (!changes) return;
    }
    dbm::relaxAll(makeWritable(), n);
}

void zone_t::relaxNonStrict()
{
    const uint32_t n = getDimension();
    bound_t* w = makeWritable();
    for (uint32_t j = 1; j < n; ++j) w[j] = strengthenBound(w[j]);
    for (uint32_t i = 1; i < n; ++i) {
        bound_t* row = w + size_t(i) * n;
        for (uint32_t j = 0; j < n; ++j) {
            // (<= c) becomes (< c + 1): one more than the raw word.
            if (j != i && isFinite(row[j]) && isWeak(row[j])) row[j] = row[j] + 1;
        }
    }
}

bool zone_t::zeroOtherClocks(uint32_t a)
{
    const uint32_t n = getDimension();
    bound_t* w = makeWritable();
    uint32_t bits[kMaxBitWords];
    std::memset(bits, 0, dbm::bitWords(n) * sizeof(uint32_t));
    uint32_t changes = 0, lastI = 0, lastK = 0;
    for (uint32_t i = 0; i < n; ++i) {
        if (i == a) continue;
        for (uint32_t k = 0; k < n; ++k) {
            if (k == a || k == i) continue;
            bound_t& entry = w[size_t(i) * n + k];
            if (entry <= BOUND_LE_ZERO) continue;
            entry = BOUND_LE_ZERO;
            if (w[size_t(k) * n + i] < BOUND_LE_ZERO) {
                setEmpty();
                return false;
            }
            base::setBit(bits, i);
            base::setBit(bits, k);
            ++changes;
            lastI = i;
            lastK = k;
        }
    }
    if (changes == 1) {
        dbm::closeEntryIfNeeded(w, n, lastI, lastK);
    } else if (changes > 1 && !dbm::closeMarked(w, n, bits)) {
        setEmpty();
        return false;
    }
    return true;
}

// ---- Valuations ---------------------------------------------------------------------

bool zone_t::pickPoint(double* s, uint8_t* free) const
{
    if (isEmpty()) return false;
    const uint32_t n = getDimension();
    const bound_t* m = getMatrix();
    s[0] = 0.0;
    for (uint32_t c = 1; c < n; ++c) {
        if (free[c]) s[c] = 0.0;
    }
    for (uint32_t c = 1; c < n; ++c) {
        if (!free[c]) continue;
        const bound_t* row = m + size_t(c) * n;
        double lo = -double(boundValue(m[c]));
        bool loStrict = isStrict(m[c]);
        double hi = double(boundValue(row[0]));
        bool hiStrict = isStrict(row[0]);
        for (uint32_t k = 1; k < n; ++k) {
            if (k == c || free[k]) continue;
            const double up = double(boundValue(row[k])) + s[k];
            if (up < hi || (up == hi && !hiStrict)) {
                hi = up;
                hiStrict = isStrict(row[k]);
            }
            const bound_t back = m[size_t(k) * n + c];
            const double low = s[k] - double(boundValue(back));
            if (low > lo || (low == lo && !loStrict)) {
                lo = low;
                loStrict = isStrict(back);
            }
        }
        if (!loStrict && lo == std::floor(lo)) {
            s[c] = lo;
        } else {
            const double z = std::floor(lo + 1.0);
            if (z < hi || (z == hi && !hiStrict)) {
                s[c] = z;
            } else if (hiStrict) {
                s[c] = (lo + hi) / 2.0;
            } else {
                s[c] = hi;
            }
        }
        free[c] = 0;
    }
    return containsPoint(s);
}

valuation_t& zone_t::getValuation(valuation_t& v, uint8_t* free) const
{
    if (isEmpty()) throw std::out_of_range("No clock valuation for empty DBMs");
    const uint32_t n = getDimension();
    if (v.size() < n) v.resize(n);
    if (free == nullptr) {
        free = static_cast<uint8_t*>(alloca(n));
        std::memset(free, 1, n);
    }
    if (!pickPoint(v.data(), free)) throw std::out_of_range("Clock valuation");
    return v;
}

}  // namespace dbm

// ---- Delays of a point ------------------------------------------------------------

namespace dbm {

namespace {

// Smallest step by which a delay is moved inside a strict bound.
constexpr double kStrictMargin = 2e-6;

constexpr double kInfinity = std::numeric_limits<double>::infinity();

inline bool isStopped(const uint32_t* stopped, uint32_t clock)
{
    return stopped != nullptr && base::testBit(stopped, clock);
}

}  // namespace

bool zone_t::delayToEnter(const double* point, uint32_t dim, double* delay, double* exactDelay, bool* strict,
                          const uint32_t* stopped) const
{
    if (isEmpty()) {
        *delay = *exactDelay = kInfinity;
        *strict = true;
        return false;
    }
    const uint32_t n = getDimension();
    if (dim < n) {  // the point does not name every clock of the zone
        *delay = *exactDelay = kInfinity;
        *strict = true;
        return false;
    }
    if (containsPoint(point)) {
        *delay = *exactDelay = 0.0;
        *strict = false;
        return true;
    }
    const bound_t* m = getMatrix();
    double* moved = static_cast<double*>(alloca(sizeof(double) * n));
    std::memcpy(moved, point, sizeof(double) * n);

    // Candidates come from the lower bounds the point misses: bounds [j][i]
    // on x_j - x_i where clock i moves and clock j (the reference clock or a
    // stopped clock) does not. Among them the smallest after which the moved
    // point lies in the zone is the delay.
    double best = kInfinity, bestExact = kInfinity;
    bool bestStrict = true;
    for (uint32_t i = 1; i < n; ++i) {
        if (isStopped(stopped, i)) continue;
        for (uint32_t j = 0; j < n; ++j) {
            if (j == i || (j != 0 && !isStopped(stopped, j))) continue;
            const bound_t b = m[size_t(j) * n + i];
            if (isInfinite(b)) continue;
            const double exact = (point[j] - point[i]) - double(boundValue(b));
            if (exact < 0.0 || (exact == 0.0 && isWeak(b))) continue;  // the point meets this bound
            const double candidate = isStrict(b) ? base::strictlyAbove(exact, kStrictMargin) : exact;
            if (candidate >= best) continue;
            for (uint32_t c = 1; c < n; ++c) moved[c] = isStopped(stopped, c) ? point[c] : point[c] + candidate;
            if (containsPoint(moved)) {
                best = candidate;
                bestExact = exact;
                bestStrict = isStrict(b);
            }
        }
    }
    *delay = best;
    *exactDelay = bestExact;
    *strict = bestStrict;
    return best != kInfinity;
}

bool zone_t::maxDelay(const double* point, uint32_t dim, double* delay, double* exactDelay, bool* strict,
                      const uint32_t* stopped) const
{
    const uint32_t n = getDimension();
    if (isEmpty() || dim < n) return false;
    const bound_t* m = getMatrix();
    double best = kInfinity, bestExact = kInfinity;
    bool bestStrict = false;
    for (uint32_t i = 1; i < n; ++i) {
        if (isStopped(stopped, i)) continue;
        const bound_t b = m[size_t(i) * n];
        if (isInfinite(b)) continue;
        const double exact = double(boundValue(b)) - (point[i] - point[0]);
        const double candidate = isStrict(b) ? base::strictlyBelow(exact, kStrictMargin) : exact;
        if (candidate < 0.0) return false;  // the point already lies beyond this upper bound
        if (candidate < best) {
            best = candidate;
            bestExact = exact;
            bestStrict = isStrict(b);
        }
    }
    *delay = best;
    *exactDelay = bestExact;
    *strict = bestStrict;
    return true;
}

bool zone_t::maxPastDelay(const double* point, uint32_t dim, double* delay, double cap) const
{
    if (isEmpty()) {
        *delay = kInfinity;
        return false;
    }
    const uint32_t n = getDimension();
    if (n < 2) {
        *delay = cap;
        return true;
    }
    if (dim < n) {  // the point does not name every clock of the zone
        *delay = 0.0;
        return false;
    }
    const bound_t* m = getMatrix();
    double* moved = static_cast<double*>(alloca(sizeof(double) * n));
    std::memcpy(moved, point, sizeof(double) * n);
    double best = 0.0;
    for (uint32_t i = 1; i < n; ++i) {
        const bound_t lower = m[i];
        const double exact = (point[i] - point[0]) + double(boundValue(lower));  // distance above the lower bound
        const double candidate = isStrict(lower) ? base::strictlyBelow(exact, kStrictMargin) : exact;
        if (candidate <= best) continue;
        moved[0] = point[0] + candidate;  // every clock moved back by the candidate
        if (containsPoint(moved)) best = candidate;
    }
    *delay = std::min(best, cap);
    return *delay > 0.0;
}

}  // namespace dbm

// ---- Zones against federations -----------------------------------------------------

// Federations are built on zones; these two members read a federation's list.
#include "dbm/fed.h"

namespace dbm {

bool zone_t::intersectsFed(const fed_t& fed) const
{
    if (isEmpty() || fed.getDimension() != getDimension()) return false;
    const uint32_t n = getDimension();
    for (const FederationNode* node = fed.firstNode(); node != nullptr; node = node->next) {
        if (dbm::intersects(getMatrix(), n, node->zone.getMatrix())) return true;
    }
    return false;
}

bool zone_t::intersectsFedExactly(const fed_t& fed) const
{
    if (isEmpty() || fed.getDimension() != getDimension()) return false;
    const uint32_t n = getDimension();
    for (const FederationNode* node = fed.firstNode(); node != nullptr; node = node->next) {
        if (dbm::intersectsExactly(getMatrix(), n, node->zone.getMatrix())) return true;
    }
    return false;
}

void zone_t::convexUnionFed(const fed_t& fed)
{
    for (const FederationNode* node = fed.firstNode(); node != nullptr; node = node->next) {
        if (isEmpty()) {
            *this = node->zone;
        } else {
            convexUnionStep(node->zone.getMatrix(), getDimension());
        }
    }
}

}  // namespace dbm
