// Timed predecessors that avoid bad zones, and the lower and upper boundaries of
// a federation.

#include "dbm/fed.h"

namespace dbm
{
    using namespace fed_detail;

    namespace
    {
        // Appends part's DBMs after result's and reduces the new ones against everything before.
        void gather(fed_t& result, fed_t& part)
        {
            const size_t start = result.size();
            result.appendList(part);
            result.mergeReduce(start, 0);
        }

        void restrictTo(fed_t& f, const bound_t* restrict)
        {
            if (restrict != nullptr) {
                f.intersectWithMatrix(restrict);
            }
        }

        // The union over DBMs and clocks of each DBM with one clock fixed at its non-strict
        // lower (lower = true) or upper bound.
        fed_t faces(const fed_t& f, bool lower)
        {
            const uint32_t n = f.getDimension();
            fed_t result(n);
            for (const zone_t& d : f) {
                fed_t part(n);
                for (uint32_t i = 1; i < n; ++i) {
                    const bound_t b = lower ? d(0, i) : d(i, 0);
                    if (!isWeak(b) || isInfinite(b)) {
                        continue;
                    }
                    zone_t z = d;
                    if (z.constrainClock(i, lower ? -boundValue(b) : boundValue(b))) {
                        fed_t one(z);
                        part.appendList(one);
                    }
                }
                gather(result, part);
            }
            return result;
        }

        fed_t boundary(const fed_t& f, bool lower)
        {
            fed_t result = faces(f, lower);
            if (f.size() > 1) {
                for (const zone_t& d : f) {
                    if (result.isEmpty()) {
                        break;
                    }
                    zone_t inner = d;
                    if (lower ? inner.tightenDown() : inner.tightenUp()) {
                        result.subtractZone(inner);
                    }
                }
            }
            return result;
        }
    }

    void fed_t::lowerBoundary(fed_t& out) const
    {
        out = (isEmpty() || getDimension() < 2) ? *this : boundary(*this, true);
    }

    void fed_t::upperBoundary(fed_t& out) const
    {
        if (isEmpty()) {
            out = *this;
        } else if (getDimension() < 2) {
            out = fed_t(getDimension());
        } else {
            out = boundary(*this, false);
        }
    }

    void fed_t::pastOfLowerFaces(fed_t& out) const
    {
        const uint32_t n = getDimension();
        if (isEmpty()) {
            out = *this;
            return;
        }
        out = fed_t(n);
        if (n < 2) {
            return;
        }
        for (const zone_t& d : *this) {
            for (uint32_t i = 1; i < n; ++i) {
                if (isStrict(d(0, i))) {
                    return;
                }
            }
        }
        for (const zone_t& d : *this) {
            fed_t part(n);
            for (uint32_t i = 1; i < n; ++i) {
                zone_t z = d;
                if (z.constrainClock(i, -boundValue(d(0, i)))) {
                    z.down();
                    fed_t one(z);
                    part.appendList(one);
                }
            }
            gather(out, part);
        }
    }

    void fed_t::downExcept(const fed_t& other)
    {
        for (auto it = other.begin(); it != other.end() && !isEmpty(); ++it) {
            if (!hasLooserUpperBounds(it.matrix())) {
                subtractZone(*it);
            }
        }
        down();
    }

    void fed_t::downExcept(const zone_t& z)
    {
        if (!zEmpty(z) && !hasLooserUpperBounds(zMatrix(z))) {
            subtractZone(z);
        }
        down();
    }

    void fed_t::downExcept(const bound_t* m)
    {
        if (!hasLooserUpperBounds(m)) {
            subtractMatrix(m);
        }
        down();
    }

    void fed_t::pastAvoidingZone(const zone_t& bad, const bound_t* restrict)
    {
        if (zEmpty(bad)) {
            down();
            restrictTo(*this, restrict);
            return;
        }
        const uint32_t n = getDimension();
        // B': the past of the bad zone within the restriction, computed once.
        fed_t badPast(bad);
        badPast.down();
        restrictTo(badPast, restrict);
        fed_t result(n);
        for (const zone_t& g : *this) {
            fed_t part(g);
            part.down();
            restrictTo(part, restrict);
            if (part.intersectsZone(bad)) {
                part.subtract(badPast);
                // Points that reach G inside B' without passing through B.
                fed_t through(g);
                through.intersectWith(badPast);
                through.subtractZone(bad);
                through.down();
                restrictTo(through, restrict);
                gather(part, through);
            }
            gather(result, part);
        }
        *this = std::move(result);
    }

    void fed_t::pastAvoidingMatrix(const bound_t* bad, uint32_t dim, const bound_t* restrict)
    {
        pastAvoidingZone(zCopyOf(bad, dim), restrict);
    }

    void fed_t::pastAvoiding(const fed_t& bad, const bound_t* restrict)
    {
        if (h == bad.h) {
            setEmpty();
            return;
        }
        if (bad.isEmpty()) {
            down();
            restrictTo(*this, restrict);
            return;
        }
        if (bad.size() == 1) {
            pastAvoidingZone(*bad.begin(), restrict);
            return;
        }
        fed_t result(getDimension());
        for (const zone_t& g : *this) {
            fed_t acc(g);
            bool first = true;
            for (auto b = bad.begin(); b != bad.end() && !(acc.isEmpty() && !first); ++b) {
                fed_t one(g);
                one.pastAvoidingZone(*b, restrict);
                if (first) {
                    acc = std::move(one);
                    first = false;
                } else {
                    acc.intersectWith(one);
                }
            }
            gather(result, acc);
        }
        *this = std::move(result);
    }

    bool fed_t::isIncludedInPastAvoiding(const fed_t& q, const fed_t& bad) const
    {
        if (isEmpty()) {
            return true;
        }
        if (q.isEmpty() || q.h == bad.h) {
            return false;
        }
        // The plain past of q bounds every avoiding past: the quick pairwise test answers
        // when nothing is to be avoided, and rejects early otherwise.
        fed_t past = q;
        past.down();
        const bool pairwise = (relation(past) & SUBSET) != 0;
        if (bad.isEmpty() || !pairwise) {
            return pairwise;
        }
        fed_t avoiding = q;
        avoiding.pastAvoiding(bad);
        return isSubsetEq(avoiding);
    }

    bool fed_t::upAvoidingStep(fed_t& out, const zone_t& p, const zone_t& u, const zone_t& q)
    {
        if (p.isSubsetEq(q)) {
            return true;
        }
        const uint32_t n = zDim(p);
        zone_t qUp = q;
        qUp.up();
        // Points reached without meeting q: those outside q's future, and the futures of the
        // points of p that already lie beyond q.
        fed_t result(u);
        result.subtractZone(qUp);
        fed_t beyond(p);
        beyond.intersectWithZone(qUp);
        beyond.subtractZone(q);
        beyond.up();
        result.unionWith(beyond);

        // Where q closes the future with a non-strict face, the points on that face (other than
        // points of p) belong to the result; report them.
        fed_t relaxed = result;
        relaxed.relaxDownClock(0);
        relaxed.reduceByRelation();
        fed_t face(n);
        relaxed.upperBoundary(face);
        face.subtractZone(p);
        const bool clean = !face.intersects(result);
        out = std::move(result);
        return clean;
    }

    bool fed_t::upAvoiding(const fed_t& other)
    {
        if (h == other.h || (relation(other) & SUBSET) != 0) {
            setEmpty();
            return true;
        }
        if (other.isEmpty() || isEmpty()) {
            up();
            return true;
        }
        const uint32_t n = getDimension();
        fed_t result(n);
        for (const zone_t& p : *this) {
            zone_t u = p;
            u.up();
            fed_t acc(n);
            bool first = true;
            for (const zone_t& q : other) {
                fed_t step(n);
                if (!upAvoidingStep(step, p, u, q)) {
                    return false;
                }
                if (first) {
                    acc = std::move(step);
                    first = false;
                } else {
                    acc.intersectWith(step);
                }
                if (acc.isEmpty()) {
                    break;
                }
            }
            gather(result, acc);
        }
        *this = std::move(result);
        return true;
    }
}
