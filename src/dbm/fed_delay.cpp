// Delays of a clock valuation relative to a federation: how long until the
// point enters it, and how far it can be moved back inside it.

#include <algorithm>
#include <alloca.h>
#include <limits>
#include <vector>

#include "dbm/fed.h"
#include "support/hash.h"

namespace dbm
{
    using namespace fed_detail;

    namespace
    {
        constexpr double kInfinity = std::numeric_limits<double>::infinity();

        // The delays d >= 0 for which the point moved by d (forward, or backward when
        // backward is set; stopped clocks stay) lies in the zone: one interval.
        struct Interval
        {
            bool empty = false;
            double lo = 0;
            bool loStrict = false;
            double hi = kInfinity;
            bool hiStrict = false;
        };

        Interval delays(const bound_t* m, uint32_t n, const double* p, const uint32_t* stopped, bool backward)
        {
            auto moves = [&](uint32_t c) { return c != 0 && (stopped == nullptr || !base::testBit(stopped, c)); };
            Interval r;
            for (uint32_t i = 0; i < n && !r.empty; ++i) {
                for (uint32_t j = 0; j < n; ++j) {
                    const bound_t b = m[i * n + j];
                    if (i == j || isInfinite(b)) {
                        continue;
                    }
                    // (p_i - p_j) + k d bounded by c.
                    int k = (moves(i) ? 1 : 0) - (moves(j) ? 1 : 0);
                    k = backward ? -k : k;
                    const double c = boundValue(b);
                    const double v = (p[i] - p[0]) - (p[j] - p[0]);
                    const bool strict = isStrict(b);
                    if (k == 0) {
                        if (v > c || (strict && v == c)) {
                            r.empty = true;
                        }
                    } else if (k > 0) {
                        const double u = c - v;
                        if (u < r.hi || (u == r.hi && strict)) {
                            r.hi = u;
                            r.hiStrict = strict;
                        }
                    } else {
                        const double l = v - c;
                        if (l > r.lo || (l == r.lo && strict)) {
                            r.lo = l;
                            r.loStrict = strict;
                        }
                    }
                }
            }
            if (r.lo > r.hi || (r.lo == r.hi && (r.loStrict || r.hiStrict))) {
                r.empty = true;
            }
            return r;
        }

        // Extends [start, hi] through every interval that meets or touches it; returns the end
        // reached and whether that end itself is excluded.
        double chain(std::vector<Interval>& all, double start, bool& endStrict)
        {
            double hi = start;
            bool hiClosed = true;
            bool changed = true;
            while (changed) {
                changed = false;
                for (Interval& in : all) {
                    if (in.empty) {
                        continue;
                    }
                    const bool meets = in.lo < hi || (in.lo == hi && (hiClosed || !in.loStrict));
                    if (meets) {
                        if (in.hi > hi || (in.hi == hi && !in.hiStrict && !hiClosed)) {
                            hi = in.hi;
                            hiClosed = !in.hiStrict;
                            changed = true;
                        }
                        in.empty = true;  // used
                    }
                }
            }
            endStrict = !hiClosed;
            return hi;
        }
    }

    // ---- delays of a point ---------------------------------------------------------------------

    bool fed_t::delayToEnter(const double* point, uint32_t dim, double* delay, double* exactDelay, bool* strict,
                             const uint32_t* stopped) const
    {
        double best = std::numeric_limits<double>::infinity();
        double bestExact = best;
        bool bestStrict = true;
        for (const FederationNode* p = h->first; p != nullptr; p = p->next) {
            double d = 0, e = 0;
            bool s = false;
            if (p->zone.delayToEnter(point, dim, &d, &e, &s, stopped) && d < best) {
                best = d;
                bestExact = e;
                bestStrict = s;
            }
        }
        *delay = best;
        if (exactDelay != nullptr) {
            *exactDelay = bestExact;
        }
        if (strict != nullptr) {
            *strict = bestStrict;
        }
        return best < std::numeric_limits<double>::infinity();
    }

    bool fed_t::maxPastDelay(const double* point, uint32_t dim, double* delay, double cap) const
    {
        double best = 0;
        for (const FederationNode* p = h->first; p != nullptr; p = p->next) {
            double d = 0;
            if (p->zone.maxPastDelay(point, dim, &d, cap) && d > best) {
                best = d;
            }
        }
        *delay = best;
        return best > 0;
    }

    bool fed_t::delayToLeave(const double* point, uint32_t dim, double* enter, double* leave, bool* enterStrict,
                             bool* leaveStrict, const uint32_t* stopped) const
    {
        double exact = kInfinity;
        bool strict = true;
        const bool entered = delayToEnter(point, dim, enter, &exact, &strict, stopped);
        if (enterStrict != nullptr) {
            *enterStrict = strict;
        }
        if (!entered) {
            *leave = kInfinity;
            if (leaveStrict != nullptr) {
                *leaveStrict = true;
            }
            return false;
        }
        std::vector<Interval> all;
        all.reserve(h->size);
        for (const FederationNode* p = h->first; p != nullptr; p = p->next) {
            all.push_back(delays(zMatrix(p->zone), h->dim, point, stopped, false));
        }
        bool endStrict = false;
        *leave = chain(all, exact, endStrict);
        if (endStrict && *leave < kInfinity) {
            *leave = lastDelayInside(point, dim, *leave, stopped);
        }
        if (leaveStrict != nullptr) {
            *leaveStrict = endStrict;
        }
        return true;
    }

    // A strict end is not reached itself: the stay ends at the end lowered by the smallest
    // of the steps 2e-6, 2e-7, ... (ten of them) after which the delayed point is still in
    // the federation; a point has to lie a little inside a strict bound to count as in it.
    double fed_t::lastDelayInside(const double* point, uint32_t dim, double end, const uint32_t* stopped) const
    {
        constexpr double firstStep = 2e-6;
        constexpr int tries = 10;
        const uint32_t n = std::min(dim, h->dim);
        double* moved = static_cast<double*>(alloca(sizeof(double) * std::max<uint32_t>(n, 1)));
        auto insideAfter = [&](double delay) {
            for (uint32_t c = 0; c < n; ++c) {
                const bool moves = c != 0 && (stopped == nullptr || !base::testBit(stopped, c));
                moved[c] = moves ? point[c] + delay : point[c];
            }
            return containsPoint(moved);
        };
        double step = firstStep;
        double last = base::strictlyBelow(end, step);
        for (int i = 1; i < tries; ++i) {
            step /= 10;
            const double candidate = base::strictlyBelow(end, step);
            if (!insideAfter(candidate)) {
                break;
            }
            last = candidate;
        }
        return last;
    }

    double fed_t::pastDelayInside(const double* point, uint32_t dim) const
    {
        if (dim < 2 || h->dim < 2 || !containsPoint(point)) {
            return 0;
        }
        std::vector<Interval> all;
        all.reserve(h->size);
        for (const FederationNode* p = h->first; p != nullptr; p = p->next) {
            all.push_back(delays(zMatrix(p->zone), h->dim, point, nullptr, true));
        }
        bool endStrict = false;
        const double back = chain(all, 0, endStrict);
        // A strict lower bound is not reached itself: stop half a unit before it.
        return endStrict ? std::max(0.0, back - 0.5) : back;
    }
}
