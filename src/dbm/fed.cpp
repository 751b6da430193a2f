// Federations: the handle, its sharing discipline, the operations that apply a
// single-zone operation to every DBM, tests, bound queries, text, hash and valuation.

#include "dbm/fed.h"

#include <algorithm>
#include <stdexcept>

#include "dbm/extrapolation.h"
#include "dbm/print.h"
#include "support/hash.h"

namespace dbm
{
    using namespace fed_detail;

    namespace
    {
        void releaseHeader(FederationHeader* h)
        {
            if (--h->count == 0) {
                freeFederationHeader(h);
            }
        }

    }

    void fed_detail::clearScratchSpares()
    {
        std::vector<std::vector<uint32_t>>().swap(scratchSpares<uint32_t>());
        std::vector<std::vector<bound_t>>().swap(scratchSpares<bound_t>());
        std::vector<std::vector<clock_constraint_t>>().swap(scratchSpares<clock_constraint_t>());
    }

    // ---- handle ---------------------------------------------------------------------

    fed_t::fed_t(uint32_t dim): h(newFederationHeader(dim, 0, nullptr)) {}

    fed_t::fed_t(const zone_t& z): h(newFederationHeader(zDim(z), 0, nullptr))
    {
        if (!zEmpty(z)) {
            h->first = nodeNew(nullptr);
            h->first->zone = z;
            h->size = 1;
        }
    }

    fed_t::fed_t(const fed_t& other) noexcept: h(other.h) { ++h->count; }

    // A moved-from federation stays a valid handle: moving shares the header like a copy.
    fed_t::fed_t(fed_t&& other) noexcept: h(other.h) { ++h->count; }

    fed_t& fed_t::operator=(const fed_t& other) noexcept
    {
        ++other.h->count;
        releaseHeader(h);
        h = other.h;
        return *this;
    }

    fed_t& fed_t::operator=(fed_t&& other) noexcept
    {
        std::swap(h, other.h);
        return *this;
    }

    fed_t::~fed_t() { releaseHeader(h); }

    void fed_t::makeUnique()
    {
        if (h->count != 1) {
            --h->count;
            h = newFederationHeader(h->dim, h->size, copyFederationList(h->first, nullptr));
        }
    }

    const bound_t* fed_t::const_iterator::matrix() const { return zMatrix(node->zone); }

    const bound_t* fed_t::mutable_iterator::matrix() const { return zMatrix((*link)->zone); }

    void fed_t::mutable_iterator::remove()
    {
        FederationNode* n = *link;
        *link = n->next;
        nodeFree(n);
        --hdr->size;
    }

    fed_t::mutable_iterator fed_t::beginMutable()
    {
        makeUnique();
        return mutable_iterator(h);
    }

    // ---- construction and assignment ----------------------------------------------------

    void fed_t::setDimension(uint32_t dim)
    {
        if (h->count == 1) {
            freeFederationNodes(h->first);
            h->first = nullptr;
            h->size = 0;
            h->dim = dim;
        } else {
            --h->count;
            h = newFederationHeader(dim, 0, nullptr);
        }
    }

    void fed_t::setEmpty()
    {
        if (h->size != 0) {
            setDimension(h->dim);
        }
    }

    void fed_t::assignZone(const zone_t& z)
    {
        if (zEmpty(z)) {
            setDimension(zDim(z));
        } else if (h->count == 1) {
            h->dim = zDim(z);
            FederationNode* n = nodeNew(h->first);
            n->zone = z;
            freeFederationNodes(h->first);
            n->next = nullptr;
            h->first = n;
            h->size = 1;
        } else {
            --h->count;
            FederationNode* n = nodeNew(nullptr);
            n->zone = z;
            h = newFederationHeader(zDim(z), 1, n);
        }
    }

    void fed_t::assignMatrix(const bound_t* m)
    {
        const uint32_t dim = h->dim;
        // Copied first: m may be the matrix of a DBM that the old list releases.
        zone_t z = zCopyOf(m, dim);
        if (h->count != 1) {
            --h->count;
            FederationNode* n = nodeNew(nullptr);
            n->zone.swap(z);
            h = newFederationHeader(dim, 1, n);
        } else if (h->size == 1) {
            h->first->zone.swap(z);
        } else {
            freeFederationNodes(h->first);
            h->first = nodeNew(nullptr);
            h->first->zone.swap(z);
            h->size = 1;
        }
    }

    void fed_t::setZero()
    {
        const uint32_t dim = h->dim;
        if (h->size == 1) {
            const bound_t* m = zMatrix(h->first->zone);
            const size_t nn = size_t(dim) * dim;
            bool same = true;
            for (size_t k = 0; k < nn && same; ++k) {
                same = m[k] == BOUND_LE_ZERO;
            }
            if (same) {
                return;
            }
        }
        zone_t z(dim);
        z.setZero();
        assignZone(z);
    }

    void fed_t::setInit()
    {
        const uint32_t dim = h->dim;
        if (h->size == 1 && isInit(zMatrix(h->first->zone), dim)) {
            return;
        }
        zone_t z(dim);
        z.setInit();
        assignZone(z);
    }

    void fed_t::zoneAboveBounds(zone_t& out, const int32_t* m) const
    {
        const uint32_t n = h->dim;
        out.initAboveBounds(m, n);
        if (n < 2 || h->size == 0) {
            return;
        }
        bound_t* z = zWritable(out);
        for (uint32_t i = 1; i < n; ++i) {
            bound_t best = z[i];
            for (const FederationNode* p = h->first; p != nullptr; p = p->next) {
                best = std::min(best, zMatrix(p->zone)[i]);
            }
            z[i] = best;
        }
    }

    void fed_t::convexHull()
    {
        if (h->size < 2) {
            return;
        }
        makeUnique();
        FederationNode* first = h->first;
        while (first->next != nullptr) {
            FederationNode* second = first->next;
            first->zone.convexUnionWith(second->zone);
            first->next = second->next;
            nodeFree(second);
            --h->size;
        }
    }

    // ---- per-DBM transformations ----------------------------------------------------------

    void fed_t::up()
    {
        makeUnique();
        for (FederationNode* p = h->first; p != nullptr; p = p->next) {
            p->zone.up();
        }
    }

    void fed_t::upWithStopped(const uint32_t* stopped)
    {
        if (stopped == nullptr) {
            up();
            return;
        }
        makeUnique();
        for (FederationNode* p = h->first; p != nullptr; p = p->next) {
            p->zone.upWithStopped(stopped);
        }
    }

    void fed_t::down()
    {
        makeUnique();
        for (FederationNode* p = h->first; p != nullptr; p = p->next) {
            p->zone.down();
        }
    }

    void fed_t::downWithStopped(const uint32_t* stopped)
    {
        if (stopped == nullptr) {
            down();
            return;
        }
        makeUnique();
        for (FederationNode* p = h->first; p != nullptr; p = p->next) {
            p->zone.downWithStopped(stopped);
        }
    }

    void fed_t::freeClock(uint32_t k)
    {
        makeUnique();
        for (FederationNode* p = h->first; p != nullptr; p = p->next) {
            p->zone.freeClock(k);
        }
    }

    void fed_t::updateValue(uint32_t k, int32_t v)
    {
        makeUnique();
        for (FederationNode* p = h->first; p != nullptr; p = p->next) {
            p->zone.updateValue(k, v);
        }
    }

    void fed_t::updateClock(uint32_t i, uint32_t j)
    {
        if (i == j) {
            return;
        }
        makeUnique();
        for (FederationNode* p = h->first; p != nullptr; p = p->next) {
            p->zone.updateClock(i, j);
        }
    }

    void fed_t::swapClocks(uint32_t i, uint32_t j)
    {
        makeUnique();
        for (FederationNode* p = h->first; p != nullptr; p = p->next) {
            p->zone.swapClocks(i, j);
        }
    }

    void fed_t::extrapolateMaxBoundsDiagonal(const int32_t* max)
    {
        makeUnique();
        for (FederationNode* p = h->first; p != nullptr; p = p->next) {
            dbm::extrapolateMaxBoundsDiagonal(zWritable(p->zone), h->dim, max);
        }
    }

    void fed_t::extrapolateLUBoundsDiagonal(const int32_t* lower, const int32_t* upper)
    {
        makeUnique();
        for (FederationNode* p = h->first; p != nullptr; p = p->next) {
            dbm::extrapolateLUBoundsDiagonal(zWritable(p->zone), h->dim, lower, upper);
        }
    }

    void fed_t::extrapolateMaxBounds(const int32_t* max)
    {
        makeUnique();
        for (FederationNode* p = h->first; p != nullptr; p = p->next) {
            dbm::extrapolateMaxBounds(zWritable(p->zone), h->dim, max);
        }
    }

    void fed_t::extrapolateLUBounds(const int32_t* lower, const int32_t* upper)
    {
        makeUnique();
        for (FederationNode* p = h->first; p != nullptr; p = p->next) {
            dbm::extrapolateLUBounds(zWritable(p->zone), h->dim, lower, upper);
        }
    }

    // ---- constraining -------------------------------------------------------------------------

    // Applies op to every DBM; DBMs it empties (op returns false) are unlinked and their nodes
    // returned. True when the federation is not empty afterwards.
    template <typename Op>
    static bool constrainEach(FederationHeader* h, Op op)
    {
        FederationNode** link = &h->first;
        while (*link != nullptr) {
            FederationNode* n = *link;
            if (op(n->zone)) {
                link = &n->next;
            } else {
                *link = n->next;
                nodeFree(n);
                --h->size;
            }
        }
        return h->size != 0;
    }

    bool fed_t::constrainClock(uint32_t k, int32_t v)
    {
        makeUnique();
        return constrainEach(h, [&](zone_t& z) { return z.constrainClock(k, v); });
    }

    bool fed_t::constrain(uint32_t i, uint32_t j, bound_t b)
    {
        makeUnique();
        return constrainEach(h, [&](zone_t& z) { return z.constrain(i, j, b); });
    }

    bool fed_t::constrain(const clock_constraint_t* cs, size_t count)
    {
        if (count == 1) {
            return constrain(cs[0].i, cs[0].j, cs[0].bound);
        }
        makeUnique();
        return constrainEach(h, [&](zone_t& z) { return z.constrainAll(cs, count); });
    }

    bool fed_t::constrainIndexed(const uint32_t* table, const clock_constraint_t* cs, size_t count)
    {
        makeUnique();
        return constrainEach(h, [&](zone_t& z) { return z.constrainAllIndexed(table, cs, count); });
    }

    bool fed_t::tightenDown()
    {
        makeUnique();
        return constrainEach(h, [&](zone_t& z) { return z.tightenDown(); });
    }

    bool fed_t::tightenUp()
    {
        makeUnique();
        return constrainEach(h, [&](zone_t& z) { return z.tightenUp(); });
    }

    // ---- tests and bound queries -----------------------------------------------------------

    bool fed_t::satisfies(uint32_t i, uint32_t j, bound_t b) const
    {
        const uint32_t n = h->dim;
        for (const FederationNode* p = h->first; p != nullptr; p = p->next) {
            const bound_t* m = zMatrix(p->zone);
            if (b >= m[i * n + j] || negateBound(b) < m[j * n + i]) {
                return true;
            }
        }
        return false;
    }

    bool fed_t::isUnbounded() const
    {
        for (const FederationNode* p = h->first; p != nullptr; p = p->next) {
            if (dbm::isUnbounded(zMatrix(p->zone), h->dim)) {
                return true;
            }
        }
        return false;
    }

    bool fed_t::intersects(const fed_t& other) const
    {
        if (h == other.h) {
            return h->size != 0;
        }
        if (other.h->size == 0) {
            return false;
        }
        const uint32_t n = h->dim;
        for (const FederationNode* p = h->first; p != nullptr; p = p->next) {
            const bound_t* a = zMatrix(p->zone);
            for (const FederationNode* q = other.h->first; q != nullptr; q = q->next) {
                if (dbm::intersects(a, n, zMatrix(q->zone))) {
                    return true;
                }
            }
        }
        return false;
    }

    bool fed_t::intersectsExactly(const fed_t& other) const
    {
        if (h == other.h) {
            return h->size != 0;
        }
        const uint32_t n = h->dim;
        for (const FederationNode* p = h->first; p != nullptr; p = p->next) {
            const bound_t* a = zMatrix(p->zone);
            for (const FederationNode* q = other.h->first; q != nullptr; q = q->next) {
                if (dbm::intersectsExactly(a, n, zMatrix(q->zone))) {
                    return true;
                }
            }
        }
        return false;
    }

    bool fed_t::isSubsetEqMatrix(const bound_t* m) const
    {
        for (const FederationNode* p = h->first; p != nullptr; p = p->next) {
            if (!dbm::isSubsetEq(zMatrix(p->zone), h->dim, m)) {
                return false;
            }
        }
        return true;
    }

    bound_t fed_t::getUpperBound(uint32_t k) const
    {
        bound_t best = static_cast<bound_t>(0x80000000u);
        for (const FederationNode* p = h->first; p != nullptr; p = p->next) {
            best = std::max(best, zMatrix(p->zone)[k * h->dim]);
        }
        return best;
    }

    bound_t fed_t::getLowerBound(uint32_t k) const
    {
        bound_t best = static_cast<bound_t>(0x80000000u);
        for (const FederationNode* p = h->first; p != nullptr; p = p->next) {
            best = std::max(best, zMatrix(p->zone)[k]);
        }
        return best;
    }

    // ---- text, hash and valuation --------------------------------------------------------------

    std::string fed_t::toString(const ClockAccessor& a, bool allBounds) const
    {
        if (h->size == 0) {
            return "false";
        }
        std::string text;
        for (const FederationNode* p = h->first; p != nullptr; p = p->next) {
            if (p != h->first) {
                text += " || ";
            }
            text += p->zone.toString(a, allBounds);
        }
        return text;
    }

    uint64_t fed_t::hash(uint32_t seed) const
    {
        const uint32_t n = h->dim;
        const uint64_t bytes = uint64_t(n) * n * 4;
        Scratch<uint32_t, 64> words(h->size);
        size_t k = 0;
        for (const FederationNode* p = h->first; p != nullptr; p = p->next) {
            words[k++] = static_cast<uint32_t>(base::hash64(zMatrix(p->zone), bytes, n * n));
        }
        base::sortWords(words.get(), k);
        return base::hash64(words.get(), uint64_t(k) * 4, seed);
    }

    valuation_t& fed_t::getValuation(valuation_t& v, uint8_t* free) const
    {
        if (h->size == 0) {
            throw std::out_of_range("No clock valuation for empty federations");
        }
        return h->first->zone.getValuation(v, free);
    }

    // ---- further per-DBM operations ----------------------------------------------------------

    void fed_t::freeUp(uint32_t k)
    {
        makeUnique();
        for (FederationNode* p = h->first; p != nullptr; p = p->next) {
            p->zone.freeUp(k);
        }
    }

    void fed_t::freeDown(uint32_t k)
    {
        makeUnique();
        for (FederationNode* p = h->first; p != nullptr; p = p->next) {
            p->zone.freeDown(k);
        }
    }

    void fed_t::freeAllUp()
    {
        makeUnique();
        for (FederationNode* p = h->first; p != nullptr; p = p->next) {
            p->zone.freeAllUp();
        }
    }

    void fed_t::freeAllDown()
    {
        makeUnique();
        for (FederationNode* p = h->first; p != nullptr; p = p->next) {
            p->zone.freeAllDown();
        }
    }

    void fed_t::shiftClock(uint32_t k, int32_t v)
    {
        if (v == 0) {
            return;
        }
        makeUnique();
        for (FederationNode* p = h->first; p != nullptr; p = p->next) {
            dbm::updateIncrement(zWritable(p->zone), h->dim, k, v);
        }
    }

    void fed_t::update(uint32_t i, uint32_t j, int32_t v)
    {
        if (v == 0) {
            updateClock(i, j);
        } else if (i == j) {
            shiftClock(i, v);
        } else {
            makeUnique();
            for (FederationNode* p = h->first; p != nullptr; p = p->next) {
                p->zone.updateIncrement(i, j, v);
            }
        }
    }

    void fed_t::relaxUpClock(uint32_t k)
    {
        makeUnique();
        for (FederationNode* p = h->first; p != nullptr; p = p->next) {
            p->zone.relaxUpClock(k);
        }
    }

    void fed_t::relaxDownClock(uint32_t k)
    {
        makeUnique();
        for (FederationNode* p = h->first; p != nullptr; p = p->next) {
            p->zone.relaxDownClock(k);
        }
    }

    void fed_t::relaxAll()
    {
        makeUnique();
        for (FederationNode* p = h->first; p != nullptr; p = p->next) {
            p->zone.relaxAll();
        }
    }

    void fed_t::raiseUpperBounds()
    {
        makeUnique();
        const uint32_t n = h->dim;
        for (FederationNode* p = h->first; p != nullptr; p = p->next) {
            bound_t* m = zWritable(p->zone);
            for (uint32_t i = 1; i < n; ++i) {
                bound_t& b = m[i * n];
                if (isFinite(b)) {
                    b = static_cast<bound_t>(static_cast<uint32_t>(b | 1) + 1u);
                }
            }
            dbm::close(m, n);
        }
    }

    void fed_t::addRelaxedNonStrict()
    {
        fed_t before(*this);
        makeUnique();
        for (FederationNode* p = h->first; p != nullptr; p = p->next) {
            p->zone.relaxNonStrict();
        }
        appendListBalanced(before);
    }

    void fed_t::convexHullWith(const fed_t& other)
    {
        convexHull();
        if (other.h->size == 0) {
            return;
        }
        zone_t hull(other.h->dim);
        for (const FederationNode* q = other.h->first; q != nullptr; q = q->next) {
            hull.convexUnionWith(q->zone);
        }
        convexHullWithZone(hull);
    }

    void fed_t::convexHullWithZone(const zone_t& operand)
    {
        // Held: it may be a DBM of this list, which the hull releases.
        const zone_t z = operand;
        convexHull();
        if (zEmpty(z)) {
            return;
        }
        if (h->size == 0) {
            assignZone(z);
            return;
        }
        makeUnique();
        h->first->zone.convexUnionWith(z);
    }

    void fed_t::convexHullWithMatrix(const bound_t* m)
    {
        // m may be the matrix of a DBM that the hull releases: hold that block meanwhile.
        zone_t holder(h->dim);
        for (const FederationNode* p = h->first; p != nullptr; p = p->next) {
            if (zMatrix(p->zone) == m) {
                holder = p->zone;
                break;
            }
        }
        convexHull();
        if (h->size == 0) {
            assignMatrix(m);
            return;
        }
        makeUnique();
        h->first->zone.convexUnionMatrix(m);
    }

    void fed_t::intern()
    {
        for (FederationNode* p = h->first; p != nullptr; p = p->next) {
            internZone(p->zone);
        }
    }

    // ---- further tests ------------------------------------------------------------------------

    bool fed_t::hasLooserBound(uint32_t i, uint32_t j, bound_t b) const
    {
        for (const FederationNode* p = h->first; p != nullptr; p = p->next) {
            if (zMatrix(p->zone)[i * h->dim + j] > b) {
                return true;
            }
        }
        return false;
    }

    bool fed_t::hasZero() const
    {
        for (const FederationNode* p = h->first; p != nullptr; p = p->next) {
            if (p->zone.hasZero()) {
                return true;
            }
        }
        return false;
    }

    bool fed_t::hasNoFixedClock() const
    {
        for (const FederationNode* p = h->first; p != nullptr; p = p->next) {
            if (p->zone.hasNoFixedClock()) {
                return true;
            }
        }
        return false;
    }

    int32_t fed_t::maxBoundGap(uint32_t k) const
    {
        int32_t best = INF_VALUE;
        bool found = false;
        for (const FederationNode* p = h->first; p != nullptr; p = p->next) {
            const int32_t g = p->zone.maxBoundGap(k);
            if (g == INF_VALUE || g == MINUS_INF_VALUE) {
                continue;
            }
            best = found ? std::max(best, g) : g;
            found = true;
        }
        return best;
    }

    int32_t fed_t::zeroOtherClocks(uint32_t k)
    {
        makeUnique();
        constrainEach(h, [&](zone_t& z) { return z.zeroOtherClocks(k); });
        int32_t best = 0;
        bool found = false;
        for (const FederationNode* p = h->first; p != nullptr; p = p->next) {
            const int32_t c = zMatrix(p->zone)[k * h->dim] >> 1;
            best = found ? std::max(best, c) : c;
            found = true;
        }
        return best;
    }

    bool fed_t::containsZone(const zone_t& z) const
    {
        if (zEmpty(z)) {
            return zDim(z) == h->dim;
        }
        for (const FederationNode* p = h->first; p != nullptr; p = p->next) {
            if (p->zone.equals(z)) {
                return true;
            }
        }
        return false;
    }

    bool fed_t::containsMatrix(const bound_t* m) const
    {
        const size_t nn = size_t(h->dim) * h->dim;
        for (const FederationNode* p = h->first; p != nullptr; p = p->next) {
            if (base::equalWords(zMatrix(p->zone), m, nn)) {
                return true;
            }
        }
        return false;
    }

    bool fed_t::containsHandle(const zone_t& z) const
    {
        for (const FederationNode* p = h->first; p != nullptr; p = p->next) {
            if (p->zone.getWord() == z.getWord()) {
                return true;
            }
        }
        return false;
    }

    bool fed_t::intersectsMatrix(const bound_t* m, uint32_t dim) const
    {
        for (const FederationNode* p = h->first; p != nullptr; p = p->next) {
            if (dbm::intersects(zMatrix(p->zone), dim, m)) {
                return true;
            }
        }
        return false;
    }

    bool fed_t::intersectsZone(const zone_t& z) const
    {
        return !zEmpty(z) && intersectsMatrix(zMatrix(z), zDim(z));
    }

    bool fed_t::intersectsMatrixExactly(const bound_t* m, uint32_t dim) const
    {
        for (const FederationNode* p = h->first; p != nullptr; p = p->next) {
            if (dbm::intersectsExactly(zMatrix(p->zone), dim, m)) {
                return true;
            }
        }
        return false;
    }

    bool fed_t::intersectsZoneExactly(const zone_t& z) const
    {
        return !zEmpty(z) && intersectsMatrixExactly(zMatrix(z), zDim(z));
    }

    bool fed_t::containsIntPoint(const int32_t* v) const
    {
        for (const FederationNode* p = h->first; p != nullptr; p = p->next) {
            if (dbm::isPointIncluded(zMatrix(p->zone), h->dim, v)) {
                return true;
            }
        }
        return false;
    }

    bool fed_t::containsPoint(const double* v) const
    {
        for (const FederationNode* p = h->first; p != nullptr; p = p->next) {
            if (dbm::isRealPointIncluded(zMatrix(p->zone), h->dim, v)) {
                return true;
            }
        }
        return false;
    }

    bool fed_t::hasLooserUpperBounds(const bound_t* m) const
    {
        const uint32_t n = h->dim;
        if (n < 2) {
            return true;
        }
        for (const FederationNode* p = h->first; p != nullptr; p = p->next) {
            const bound_t* d = zMatrix(p->zone);
            bool all = true;
            for (uint32_t i = 1; i < n && all; ++i) {
                all = d[i * n] > m[i * n];
            }
            if (all) {
                return true;
            }
        }
        return false;
    }

    bool fed_t::hasEmptyDBM() const
    {
        for (const FederationNode* p = h->first; p != nullptr; p = p->next) {
            if (zEmpty(p->zone)) {
                return true;
            }
        }
        return false;
    }

    void fed_t::removeEmpty()
    {
        if (!hasEmptyDBM()) {
            return;
        }
        makeUnique();
        constrainEach(h, [](zone_t& z) { return !zEmpty(z); });
    }

    void fed_t::getMatrices(const bound_t** out) const
    {
        for (const FederationNode* p = h->first; p != nullptr; p = p->next) {
            *out++ = zMatrix(p->zone);
        }
    }

    // ---- list surgery ---------------------------------------------------------------------------

    size_t fed_t::detachNodes(FederationNode** out)
    {
        makeUnique();
        size_t k = 0;
        for (FederationNode* p = h->first; p != nullptr; p = p->next) {
            out[k++] = p;
        }
        h->first = nullptr;
        h->size = 0;
        return k;
    }

    void fed_t::attachNodes(FederationNode* const* nodes, size_t count)
    {
        setEmpty();
        makeUnique();
        FederationNode** link = &h->first;
        for (size_t k = 0; k < count; ++k) {
            *link = nodes[k];
            link = &nodes[k]->next;
        }
        *link = nullptr;
        h->size = count;
    }

    bool fed_t::removeHandle(const zone_t& z)
    {
        if (!containsHandle(z)) {
            return false;
        }
        makeUnique();
        for (FederationNode** link = &h->first; *link != nullptr; link = &(*link)->next) {
            FederationNode* n = *link;
            if (n->zone.getWord() == z.getWord()) {
                *link = n->next;
                nodeFree(n);
                --h->size;
                return true;
            }
        }
        return false;
    }

    void fed_t::pushNode(FederationNode* n)
    {
        makeUnique();
        n->next = h->first;
        h->first = n;
        ++h->size;
    }

    namespace
    {
        FederationNode** tailLink(FederationNode** link)
        {
            while (*link != nullptr) {
                link = &(*link)->next;
            }
            return link;
        }
    }

    void fed_t::prependList(fed_t& other)
    {
        if (&other == this) {
            return;
        }
        makeUnique();
        other.makeUnique();
        if (other.h->size == 0) {
            return;
        }
        *tailLink(&other.h->first) = h->first;
        h->first = other.h->first;
        h->size += other.h->size;
        other.h->first = nullptr;
        other.h->size = 0;
    }

    void fed_t::appendList(fed_t& other)
    {
        if (&other == this) {
            return;
        }
        makeUnique();
        other.makeUnique();
        *tailLink(&h->first) = other.h->first;
        h->size += other.h->size;
        other.h->first = nullptr;
        other.h->size = 0;
    }

    void fed_t::appendListBalanced(fed_t& other)
    {
        if (other.h->size < h->size) {
            prependList(other);
        } else {
            appendList(other);
        }
    }

    fed_t fed_t::fromUnboundedPart(const fed_t& other)
    {
        fed_t f(other.h->dim);
        for (const FederationNode* p = other.h->first; p != nullptr; p = p->next) {
            if (dbm::isUnbounded(zMatrix(p->zone), other.h->dim)) {
                f.unionWithZone(p->zone);
            }
        }
        return f;
    }

    fed_t fed_t::fromBoundedPart(const fed_t& other)
    {
        fed_t f(other.h->dim);
        for (const FederationNode* p = other.h->first; p != nullptr; p = p->next) {
            if (!dbm::isUnbounded(zMatrix(p->zone), other.h->dim)) {
                f.unionWithZone(p->zone);
            }
        }
        return f;
    }

    // ---- clock sets ----------------------------------------------------------------------

    void fed_t::resize(const uint32_t* srcBits, const uint32_t* dstBits, size_t nWords, uint32_t* table)
    {
        if (base::equalWords(srcBits, dstBits, nWords)) {
            return;
        }
        uint32_t dim = 0;
        for (size_t w = 0; w < nWords; ++w) {
            dim += static_cast<uint32_t>(__builtin_popcount(dstBits[w]));
        }
        if (h->size == 0) {
            base::indexSetBits(dstBits, nWords, table);
            setDimension(dim);
        } else if (dim < 2) {
            table[0] = 0;
            assignZone(zeroDBM());
        } else {
            makeUnique();
            for (FederationNode* p = h->first; p != nullptr; p = p->next) {
                p->zone.resize(srcBits, dstBits, nWords, table);
            }
            h->dim = dim;
        }
    }

    void fed_t::resizeByTable(const int32_t* table, uint32_t dim)
    {
        if (h->size == 0) {
            setDimension(dim);
        } else if (dim < 2) {
            assignZone(zeroDBM());
        } else {
            makeUnique();
            for (FederationNode* p = h->first; p != nullptr; p = p->next) {
                p->zone.resizeByTable(table, dim);
            }
            h->dim = dim;
        }
    }
}
