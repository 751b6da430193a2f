// Randomized checks of the raw matrix operations against brute-force point sets.
//
// Zones over 1 to 3 clocks with constants up to 6 are compared on the grid of
// quarter points in [0, 8] per clock: quarters (not only halves) so that every
// non-empty zone of up to 3 clocks has grid points, e.g. 0 < x < y < z < 1.
// Coordinates are held in eighths, so that the existential searches (some
// delay, some old value of a reset clock) can step between grid points.
//
// Each case draws from its own seed; a failure names it. MIRVEK_TEST_SEED
// moves the whole run to another base seed.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "dbm/bound.h"
#include "dbm/dbm.h"
#include "dbm/extrapolation.h"
#include "kernel_sets.h"

namespace {

using namespace dbm;
using Matrix = std::vector<bound_t>;

constexpr int64_t UNIT = 8;        // coordinates are in eighths
constexpr int64_t GRID_STEP = 2;   // grid points are quarters
constexpr int64_t GRID_MAX = 64;   // up to 8.0
constexpr int64_t SEARCH_MAX = 128;  // existential searches run up to 16.0
constexpr int MAX_CONSTANT = 6;

using Point = std::array<int64_t, 4>;  // [0] is the reference clock, always 0

// True when the difference d (in eighths) satisfies bound b.
bool satisfies(bound_t b, int64_t d)
{
    if (isInfinite(b)) return true;
    const int64_t c = int64_t{boundValue(b)} * UNIT;
    return isStrict(b) ? d < c : d <= c;
}

bool member(const Matrix& m, uint32_t dim, const Point& p)
{
    for (uint32_t i = 0; i < dim; ++i)
        for (uint32_t j = 0; j < dim; ++j)
            if (!satisfies(m[i * dim + j], p[i] - p[j])) return false;
    return true;
}

// Calls f on every grid point of dim - 1 clocks; stops when f returns false.
void forEachGridPoint(uint32_t dim, const std::function<bool(const Point&)>& f)
{
    Point p{0, 0, 0, 0};
    for (;;) {
        if (!f(p)) return;
        uint32_t k = 1;
        while (k < dim && p[k] == GRID_MAX) p[k++] = 0;
        if (k >= dim) return;
        p[k] += GRID_STEP;
    }
}

std::string show(const Point& p, uint32_t dim)
{
    std::string s = "(";
    for (uint32_t k = 1; k < dim; ++k) s += (k > 1 ? ", " : "") + std::to_string(double(p[k]) / UNIT);
    return s + ")";
}

std::string show(const Matrix& m, uint32_t dim)
{
    std::string s;
    for (uint32_t i = 0; i < dim; ++i) {
        for (uint32_t j = 0; j < dim; ++j) {
            const bound_t b = m[i * dim + j];
            s += isInfinite(b) ? "  inf" : (isStrict(b) ? "  <" : "  <=") + std::to_string(boundValue(b));
        }
        s += "\n";
    }
    return s;
}

// The matrix must hold exactly the grid points for which `want` is true.
void expectSet(const Matrix& got, uint32_t dim, const std::function<bool(const Point&)>& want, const char* what)
{
    forEachGridPoint(dim, [&](const Point& p) {
        const bool in = member(got, dim, p), expected = want(p);
        if (in != expected) {
            ADD_FAILURE() << what << ": point " << show(p, dim) << (expected ? " missing" : " not expected")
                          << " in\n" << show(got, dim);
            return false;
        }
        return true;
    });
}

bool gridEmpty(uint32_t dim, const std::function<bool(const Point&)>& in)
{
    bool empty = true;
    forEachGridPoint(dim, [&](const Point& p) { return !(empty = !in(p)) ? false : true; });
    return empty;
}

bool gridSubset(const Matrix& a, const Matrix& b, uint32_t dim)
{
    return gridEmpty(dim, [&](const Point& p) { return member(a, dim, p) && !member(b, dim, p); });
}

// Some t in eighths within [from, to] for which pred(t) holds.
bool existsStep(int64_t from, int64_t to, const std::function<bool(int64_t)>& pred)
{
    for (int64_t t = from; t <= to; ++t)
        if (pred(t)) return true;
    return false;
}

// Each clock's own bounds in a closed zone, in eighths: the existential
// searches stay inside them (outside them no point can be in the zone).
struct Box
{
    int64_t lo[4] = {0, 0, 0, 0}, hi[4] = {0, 0, 0, 0};

    Box(const Matrix& m, uint32_t dim)
    {
        for (uint32_t k = 1; k < dim; ++k) {
            lo[k] = -int64_t{boundValue(m[k])} * UNIT;
            hi[k] = isFinite(m[k * dim]) ? int64_t{boundValue(m[k * dim])} * UNIT : SEARCH_MAX;
        }
    }
};

// Some d >= 0 for which p moved by sign * d on the clocks of `moved` (a bit
// set) lies in the zone.
bool existsShift(const Matrix& z, uint32_t dim, const Box& box, const Point& p, int64_t sign, uint32_t moved)
{
    // Bounds between two clocks that move together, or between two that stay, hold as they are.
    const auto moves = [&](uint32_t k) { return k != 0 && ((moved >> k) & 1u) != 0; };
    for (uint32_t i = 0; i < dim; ++i)
        for (uint32_t j = 0; j < dim; ++j)
            if (moves(i) == moves(j) && !satisfies(z[i * dim + j], p[i] - p[j])) return false;
    int64_t from = 0, to = SEARCH_MAX;
    for (uint32_t k = 1; k < dim; ++k) {
        if (!((moved >> k) & 1u)) continue;
        from = std::max(from, sign > 0 ? box.lo[k] - p[k] : p[k] - box.hi[k]);
        to = std::min(to, sign > 0 ? box.hi[k] - p[k] : p[k] - box.lo[k]);
    }
    return existsStep(from, to, [&](int64_t d) {
        Point q = p;
        for (uint32_t k = 1; k < dim; ++k)
            if ((moved >> k) & 1u) q[k] += sign * d;
        return member(z, dim, q);
    });
}

struct Rng
{
    std::mt19937 gen;
    explicit Rng(uint32_t seed) : gen(seed) {}
    int range(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(gen); }
    bool coin(int percent = 50) { return range(1, 100) <= percent; }
    uint32_t clock(uint32_t dim) { return static_cast<uint32_t>(range(0, int(dim) - 1)); }
    uint32_t realClock(uint32_t dim) { return static_cast<uint32_t>(range(1, int(dim) - 1)); }
};

// A random constraint with the shape of a guard: upper bounds, lower bounds and differences.
clock_constraint_t randomConstraint(Rng& r, uint32_t dim)
{
    uint32_t i = r.clock(dim), j = r.clock(dim);
    while (j == i) j = r.clock(dim);
    int c = i == 0 ? -r.range(0, MAX_CONSTANT) : j == 0 ? r.range(0, MAX_CONSTANT) : r.range(-MAX_CONSTANT, MAX_CONSTANT);
    return {i, j, r.coin() ? boundLT(c) : boundLE(c)};
}

// A random closed, non-empty zone inside [0, 6] per clock, or, when it may
// be delayed, sometimes its future. Zones inside the box have all their points
// and all their differences to one another on the grid; a delayed zone may
// differ from another only far up, so only grid-wise set checks take them.
// Built without the operations under test other than the full closure, which
// the closure check covers on its own.
Matrix randomZone(Rng& r, uint32_t dim, bool mayDelay)
{
    for (;;) {
        Matrix m(dim * dim);
        init(m.data(), dim);
        for (uint32_t k = 1; k < dim; ++k) m[k * dim] = boundLE(MAX_CONSTANT);
        const int n = r.range(0, 2 * int(dim));
        for (int k = 0; k < n; ++k) {
            const clock_constraint_t c = randomConstraint(r, dim);
            bound_t& e = m[c.i * dim + c.j];
            e = std::min(e, c.bound);
        }
        if (!close(m.data(), dim)) continue;
        if (mayDelay && r.coin(25)) up(m.data(), dim);
        return m;
    }
}

uint32_t randomBits(Rng& r, uint32_t dim)
{
    uint32_t bits = 0;
    for (uint32_t k = 1; k < dim; ++k)
        if (r.coin()) bits |= 1u << k;
    return bits;
}

uint32_t baseSeed()
{
    const char* env = std::getenv("MIRVEK_TEST_SEED");
    return env ? static_cast<uint32_t>(std::strtoul(env, nullptr, 10)) : 20261210u;
}

constexpr int CASES = 150;

// Runs body once per case with its own generator and dimension 2 to 4 (1 to 3
// clocks), under every kernel set the processor runs; stops at the first failing
// case and names its seed and set.
void forEachCase(const char* name, const std::function<void(Rng&, uint32_t)>& body)
{
    const uint32_t base = baseSeed();
    dbm_test::forEachKernelSet([&](kernel_set_t) {
        for (int n = 0; n < CASES; ++n) {
            const uint32_t seed = base + static_cast<uint32_t>(n);
            Rng r(seed);
            const uint32_t dim = static_cast<uint32_t>(r.range(2, 4));
            SCOPED_TRACE(std::string(name) + ": seed " + std::to_string(seed) + " (MIRVEK_TEST_SEED=" +
                         std::to_string(base) + ", case " + std::to_string(n) + "), dim " + std::to_string(dim));
            body(r, dim);
            if (::testing::Test::HasFailure()) return;
        }
    });
}

TEST(RawDbmRandom, ClosureKeepsThePointSet)
{
    forEachCase("close", [](Rng& r, uint32_t dim) {
        // Arbitrary (unclosed, possibly empty) matrix of constraints.
        Matrix raw(dim * dim);
        init(raw.data(), dim);
        for (uint32_t k = 1; k < dim; ++k) raw[k * dim] = boundLE(MAX_CONSTANT);
        for (int k = r.range(0, 3 * int(dim)); k > 0; --k) {
            const clock_constraint_t c = randomConstraint(r, dim);
            raw[c.i * dim + c.j] = std::min(raw[c.i * dim + c.j], c.bound);
        }
        Matrix m = raw;
        const bool nonEmpty = close(m.data(), dim);
        const bool rawEmpty = gridEmpty(dim, [&](const Point& p) { return member(raw, dim, p); });
        ASSERT_EQ(nonEmpty, !rawEmpty) << show(raw, dim);
        if (!nonEmpty) {
            EXPECT_EQ(m[0], EMPTY_MARK);
            EXPECT_TRUE(isEmpty(m.data(), dim));
            return;
        }
        EXPECT_TRUE(isClosed(m.data(), dim)) << show(m, dim);
        EXPECT_TRUE(isValid(m.data(), dim)) << show(m, dim);
        EXPECT_FALSE(isEmpty(m.data(), dim));
        expectSet(m, dim, [&](const Point& p) { return member(raw, dim, p); }, "close");
        // Closing a closed matrix changes nothing.
        Matrix again = m;
        ASSERT_TRUE(close(again.data(), dim));
        EXPECT_EQ(again, m);
    });
}

TEST(RawDbmRandom, ConstrainAndIntersectGiveTheIntersection)
{
    forEachCase("constrain", [](Rng& r, uint32_t dim) {
        const Matrix z = randomZone(r, dim, false);
        SCOPED_TRACE("zone:\n" + show(z, dim));
        const auto check = [&](bool result, const Matrix& got, const std::function<bool(const Point&)>& want,
                               const char* what) {
            const bool empty = gridEmpty(dim, want);
            ASSERT_EQ(result, !empty) << what << " on\n" << show(z, dim);
            if (!result) {
                EXPECT_EQ(got[0], EMPTY_MARK) << what;
                return;
            }
            EXPECT_TRUE(isClosed(got.data(), dim)) << what << "\n" << show(got, dim);
            expectSet(got, dim, want, what);
            // Closed non-empty matrices are canonical: compare with setting the entries and a full closure.
        };

        // One constraint.
        const clock_constraint_t c = randomConstraint(r, dim);
        Matrix one = z;
        const Matrix cm = [&] {
            Matrix m(dim * dim);
            init(m.data(), dim);
            m[c.i * dim + c.j] = c.bound;
            return m;
        }();
        check(constrain(one.data(), dim, c.i, c.j, c.bound), one,
              [&](const Point& p) { return member(z, dim, p) && member(cm, dim, p); }, "constrain");

        // Several constraints at once, and the same through an index table.
        clock_constraint_t cs[4];
        const int n = r.range(1, 4);
        Matrix all(dim * dim);
        init(all.data(), dim);
        for (int k = 0; k < n; ++k) {
            cs[k] = randomConstraint(r, dim);
            all[cs[k].i * dim + cs[k].j] = std::min(all[cs[k].i * dim + cs[k].j], cs[k].bound);
        }
        Matrix many = z;
        const bool manyResult = constrainAll(many.data(), dim, cs, size_t(n));
        check(manyResult, many, [&](const Point& p) { return member(z, dim, p) && member(all, dim, p); },
              "constrainAll");
        if (manyResult) {
            Matrix full = z;
            for (uint32_t k = 0; k < dim * dim; ++k) full[k] = std::min(full[k], all[k]);
            ASSERT_TRUE(close(full.data(), dim));
            EXPECT_EQ(many, full) << "constrainAll differs from a full closure";
        }
        clock_constraint_t shifted[4];
        const uint32_t table[8] = {0, 1, 2, 3, 0, 1, 2, 3};
        for (int k = 0; k < n; ++k) shifted[k] = {cs[k].i + 4, cs[k].j + (r.coin() ? 4 : 0), cs[k].bound};
        Matrix mapped = z;
        EXPECT_EQ(constrainAllMapped(mapped.data(), dim, table, shifted, size_t(n)), manyResult);
        if (manyResult) {
            EXPECT_EQ(mapped, many);
        }

        // Intersection with another zone.
        const Matrix other = randomZone(r, dim, false);
        Matrix inter = z;
        const bool interResult = intersect(inter.data(), dim, other.data());
        check(interResult, inter, [&](const Point& p) { return member(z, dim, p) && member(other, dim, p); },
              "intersect");
        EXPECT_EQ(intersectsExactly(z.data(), dim, other.data()), interResult) << "intersectsExactly";
        // The quick test may answer true for disjoint zones of three or more clocks, never false
        // for zones that meet.
        if (interResult || dim <= 3) {
            EXPECT_EQ(intersects(z.data(), dim, other.data()), interResult) << "intersects";
        }

        // Weak intersection: both zones with their boundaries.
        Matrix wz = z, wo = other;
        relaxAll(wz.data(), dim);
        relaxAll(wo.data(), dim);
        Matrix weak(dim * dim);
        check(intersectWeak(weak.data(), dim, z.data(), other.data()), weak,
              [&](const Point& p) { return member(wz, dim, p) && member(wo, dim, p); }, "intersectWeak");
    });
}

TEST(RawDbmRandom, RelationAgreesWithInclusion)
{
    forEachCase("relation", [](Rng& r, uint32_t dim) {
        const Matrix a = randomZone(r, dim, false);
        // A partner that is often related: a copy, a constrained copy, a delayed copy, or another zone.
        Matrix b = a;
        switch (r.range(0, 3)) {
        case 0: break;
        case 1: {
            const clock_constraint_t c = randomConstraint(r, dim);
            if (!constrain(b.data(), dim, c.i, c.j, c.bound)) b = a;
            break;
        }
        case 2: up(b.data(), dim); break;
        default: b = randomZone(r, dim, false);
        }
        if (r.coin()) std::swap(const_cast<Matrix&>(a), b);
        const bool ab = gridSubset(a, b, dim), ba = gridSubset(b, a, dim);
        const relation_t want = ab && ba ? EQUAL : ab ? SUBSET : ba ? SUPERSET : DIFFERENT;
        EXPECT_EQ(relation(a.data(), dim, b.data()), want) << show(a, dim) << "vs\n" << show(b, dim);
        EXPECT_EQ(isSubsetEq(a.data(), dim, b.data()), ab);

        Matrix hull = a;
        convexUnion(hull.data(), dim, b.data());
        EXPECT_TRUE(isClosed(hull.data(), dim));
        EXPECT_TRUE(gridSubset(a, hull, dim) && gridSubset(b, hull, dim)) << "convexUnion lost points";
    });
}

TEST(RawDbmRandom, DelayAndPast)
{
    forEachCase("up/down", [](Rng& r, uint32_t dim) {
        const Matrix z = randomZone(r, dim, true);
        SCOPED_TRACE("zone:\n" + show(z, dim));
        const uint32_t stopped = randomBits(r, dim);
        SCOPED_TRACE("stopped clocks (bits): " + std::to_string(stopped));
        const Box box(z, dim);
        const uint32_t all = ~0u, running = ~stopped;

        Matrix u = z;
        up(u.data(), dim);
        expectSet(u, dim, [&](const Point& p) {
            return existsShift(z, dim, box, p, -1, all);
        }, "up");

        Matrix d = z;
        down(d.data(), dim);
        EXPECT_TRUE(isClosed(d.data(), dim)) << "down\n" << show(d, dim);
        expectSet(d, dim, [&](const Point& p) {
            return existsShift(z, dim, box, p, +1, all);
        }, "down");

        // With stopped clocks the delayed set is in general no zone (y - z <= x - 1 may follow from
        // x - y >= 1 with y stopped and z and x running), so the result must hold it and be closed;
        // with no clock stopped it is exactly up and down.
        const uint32_t none = 0;
        Matrix us = z, ds = z, u0 = z, d0 = z;
        upStopped(us.data(), dim, &stopped);
        downStopped(ds.data(), dim, &stopped);
        upStopped(u0.data(), dim, &none);
        downStopped(d0.data(), dim, &none);
        EXPECT_EQ(u0, u) << "upStopped with no stopped clock";
        EXPECT_EQ(d0, d) << "downStopped with no stopped clock";
        EXPECT_TRUE(isClosed(us.data(), dim)) << "upStopped\n" << show(us, dim);
        EXPECT_TRUE(isClosed(ds.data(), dim)) << "downStopped\n" << show(ds, dim);
        forEachGridPoint(dim, [&](const Point& p) {
            if (existsShift(z, dim, box, p, -1, running)) {
                EXPECT_TRUE(member(us, dim, p)) << "upStopped lost " << show(p, dim) << "\n" << show(us, dim);
            }
            if (existsShift(z, dim, box, p, +1, running)) {
                EXPECT_TRUE(member(ds, dim, p)) << "downStopped lost " << show(p, dim) << "\n" << show(ds, dim);
            }
            return !::testing::Test::HasFailure();
        });
    });
}

TEST(RawDbmRandom, ResetsUpdatesAndFreeing)
{
    forEachCase("updates", [](Rng& r, uint32_t dim) {
        const Matrix z = randomZone(r, dim, true);
        SCOPED_TRACE("zone:\n" + show(z, dim));
        const uint32_t x = r.realClock(dim), y = r.realClock(dim);
        const int v = r.range(0, 4), w = r.range(-2, 2);
        const auto with = [](Point p, uint32_t k, int64_t value) {
            p[k] = value;
            return p;
        };
        // Some old value of x (any, or only below / above a limit) under which the point was in z.
        const Box box(z, dim);
        const auto someX = [&](const Point& p, int64_t lo, int64_t hi) {
            // The bounds between the other clocks must hold as they are; only then search x.
            for (uint32_t i = 0; i < dim; ++i)
                for (uint32_t j = 0; j < dim; ++j)
                    if (i != x && j != x && !satisfies(z[i * dim + j], p[i] - p[j])) return false;
            return existsStep(std::max(lo, box.lo[x]), std::min(hi, box.hi[x]),
                              [&](int64_t t) { return member(z, dim, with(p, x, t)); });
        };
        const auto expectClosedSet = [&](const Matrix& m, const std::function<bool(const Point&)>& want,
                                         const char* what) {
            EXPECT_TRUE(isClosed(m.data(), dim)) << what << "\n" << show(m, dim);
            expectSet(m, dim, want, what);
        };

        Matrix reset = z;
        updateValue(reset.data(), dim, x, v);
        expectClosedSet(reset, [&](const Point& p) { return p[x] == v * UNIT && someX(p, 0, SEARCH_MAX); },
                        "updateValue");

        Matrix copy = z;
        updateClock(copy.data(), dim, x, y);
        expectClosedSet(copy, [&](const Point& p) {
            return p[x] == p[y] && (x == y ? member(z, dim, p) : someX(p, 0, SEARCH_MAX));
        }, "updateClock");

        Matrix inc = z;
        updateIncrement(inc.data(), dim, x, w);
        expectClosedSet(inc, [&](const Point& p) { return member(z, dim, with(p, x, p[x] - w * UNIT)); },
                        "updateIncrement");

        Matrix plus = z;
        updateClockPlus(plus.data(), dim, x, y, w);
        expectClosedSet(plus, [&](const Point& p) {
            if (x == y) return member(z, dim, with(p, x, p[x] - w * UNIT));
            return p[x] == p[y] + w * UNIT && someX(p, 0, SEARCH_MAX);
        }, "updateClockPlus");

        Matrix fc = z;
        freeClock(fc.data(), dim, x);
        expectClosedSet(fc, [&](const Point& p) { return someX(p, 0, SEARCH_MAX); }, "freeClock");

        Matrix fu = z;
        freeUp(fu.data(), dim, x);
        expectClosedSet(fu, [&](const Point& p) { return someX(p, 0, p[x]); }, "freeUp");

        Matrix fd = z;
        freeDown(fd.data(), dim, x);
        expectClosedSet(fd, [&](const Point& p) { return someX(p, p[x], SEARCH_MAX); }, "freeDown");

        // Freeing every upper (lower) bound leaves each clock with its own lower (upper) bound only: a
        // box around the zone.
        Matrix fau = z, fad = z;
        freeAllUp(fau.data(), dim);
        freeAllDown(fad.data(), dim);
        EXPECT_TRUE(isFreeAllUp(fau.data(), dim));
        EXPECT_EQ(findNotFreeAllDown(fad.data(), dim), 0u);
        EXPECT_EQ(isFreeAllUp(z.data(), dim), z == fau);
        EXPECT_EQ(findNotFreeAllDown(z.data(), dim) == 0, z == fad);
        const auto ownBound = [&](const Point& p, bool lower) {
            for (uint32_t k = 1; k < dim; ++k)
                if (!(lower ? satisfies(z[k], -p[k]) : satisfies(z[k * dim], p[k]))) return false;
            return true;
        };
        expectClosedSet(fau, [&](const Point& p) { return ownBound(p, true); }, "freeAllUp");
        expectClosedSet(fad, [&](const Point& p) { return ownBound(p, false); }, "freeAllDown");
        EXPECT_TRUE(gridSubset(z, fau, dim) && gridSubset(z, fad, dim));
    });
}

TEST(RawDbmRandom, StrictnessAndPoints)
{
    forEachCase("strictness", [](Rng& r, uint32_t dim) {
        const Matrix z = randomZone(r, dim, true);
        SCOPED_TRACE("zone:\n" + show(z, dim));
        // Making lower (upper) bounds strict removes exactly the points on them.
        const auto onLower = [&](const Point& p) {
            for (uint32_t k = 1; k < dim; ++k)
                if (isWeak(z[k]) && p[k] == -int64_t{boundValue(z[k])} * UNIT) return true;
            return false;
        };
        const auto onUpper = [&](const Point& p) {
            for (uint32_t k = 1; k < dim; ++k) {
                const bound_t b = z[k * dim];
                if (isFinite(b) && isWeak(b) && p[k] == int64_t{boundValue(b)} * UNIT) return true;
            }
            return false;
        };
        for (const bool lower : {true, false}) {
            Matrix s = z;
            const bool result = lower ? makeLowerBoundsStrict(s.data(), dim) : makeUpperBoundsStrict(s.data(), dim);
            const auto want = [&](const Point& p) { return member(z, dim, p) && !(lower ? onLower(p) : onUpper(p)); };
            const char* what = lower ? "makeLowerBoundsStrict" : "makeUpperBoundsStrict";
            ASSERT_EQ(result, !gridEmpty(dim, want)) << what << "\n" << show(z, dim);
            if (!result) continue;
            EXPECT_TRUE(isClosed(s.data(), dim)) << what << "\n" << show(s, dim);
            expectSet(s, dim, want, what);
        }

        // Relaxing never loses a point and never goes past the zone with all its boundaries.
        Matrix all = z;
        relaxAll(all.data(), dim);
        EXPECT_TRUE(isClosed(all.data(), dim));
        const uint32_t k = r.clock(dim);
        Matrix row = z, column = z;
        relaxRow(row.data(), dim, k);
        relaxColumn(column.data(), dim, k);
        for (const Matrix* m : {&row, &column}) {
            EXPECT_TRUE(isClosed(m->data(), dim)) << show(*m, dim);
            EXPECT_TRUE(gridSubset(z, *m, dim) && gridSubset(*m, all, dim)) << show(*m, dim);
        }

        // Point tests agree with the bounds.
        forEachGridPoint(dim, [&](const Point& p) {
            double real[4];
            for (uint32_t c = 0; c < dim; ++c) real[c] = double(p[c]) / UNIT;
            const bool in = member(z, dim, p);
            EXPECT_EQ(isRealPointIncluded(z.data(), dim, real), in) << show(p, dim);
            if (p[1] % UNIT == 0 && (dim < 3 || p[2] % UNIT == 0) && (dim < 4 || p[3] % UNIT == 0)) {
                int32_t integral[4];
                for (uint32_t c = 0; c < dim; ++c) integral[c] = int32_t(p[c] / UNIT);
                EXPECT_EQ(isPointIncluded(z.data(), dim, integral), in) << show(p, dim);
            }
            return !::testing::Test::HasFailure();
        });
        EXPECT_EQ(hasZero(z.data(), dim), member(z, dim, Point{0, 0, 0, 0}));
    });
}

TEST(RawDbmRandom, ChangeClocksProjectsAndExtends)
{
    forEachCase("changeClocks", [](Rng& r, uint32_t dim) {
        const Matrix z = randomZone(r, dim, true);
        SCOPED_TRACE("zone:\n" + show(z, dim));
        // Old clocks at random positions 0..5, new set a random subset of positions plus fresh ones.
        const uint32_t oldBits = [&] {
            uint32_t bits = 1;
            for (uint32_t placed = 1; placed < dim;) {
                const uint32_t p = uint32_t(r.range(1, 5));
                if (!((bits >> p) & 1u)) bits |= 1u << p, ++placed;
            }
            return bits;
        }();
        uint32_t newBits = 1;
        for (uint32_t p = 1; p < 6; ++p)
            if (r.coin() && __builtin_popcount(newBits) < 4) newBits |= 1u << p;
        uint32_t table[32];
        Matrix out(16, 0x1234);
        const uint32_t newDim = changeClocks(z.data(), dim, out.data(), &oldBits, &newBits, 1, table);
        ASSERT_EQ(newDim, uint32_t(__builtin_popcount(newBits)));
        out.resize(newDim * newDim);
        EXPECT_TRUE(isClosed(out.data(), newDim)) << show(out, newDim);
        // oldIndex[k]: the old clock at new clock k's position, or 0 (none).
        uint32_t oldIndex[4] = {0, 0, 0, 0};
        for (uint32_t p = 1; p < 6; ++p)
            if ((newBits >> p) & 1u) {
                ASSERT_LT(table[p], newDim);
                if ((oldBits >> p) & 1u) oldIndex[table[p]] = uint32_t(__builtin_popcount(oldBits & ((1u << p) - 1)));
            }
        // The old clocks that are dropped; their values are searched in eighths, between the quarters
        // of the grid, as the kept clocks fix them to quarters.
        std::vector<uint32_t> dropped;
        for (uint32_t c = 1; c < dim; ++c)
            if (std::find(std::begin(oldIndex), std::end(oldIndex), c) == std::end(oldIndex)) dropped.push_back(c);
        if (dropped.size() > 1) return;  // the search would grow too large
        expectSet(out, newDim, [&](const Point& p) {
            Point q{0, 0, 0, 0};
            for (uint32_t k = 1; k < newDim; ++k)
                if (oldIndex[k] != 0) q[oldIndex[k]] = p[k];
            if (dropped.empty()) return member(z, dim, q);
            for (uint32_t i = 0; i < dim; ++i)  // bounds among the kept clocks first
                for (uint32_t j = 0; j < dim; ++j)
                    if (i != dropped[0] && j != dropped[0] && !satisfies(z[i * dim + j], q[i] - q[j])) return false;
            return existsStep(0, SEARCH_MAX, [&](int64_t t) {
                q[dropped[0]] = t;
                return member(z, dim, q);
            });
        }, "changeClocks");
    });
}

TEST(RawDbmRandom, ExtrapolationOnlyGrowsAZone)
{
    forEachCase("extrapolation", [](Rng& r, uint32_t dim) {
        const Matrix z = randomZone(r, dim, true);
        SCOPED_TRACE("zone:\n" + show(z, dim));
        const auto constant = [&] {
            const int kind = r.range(0, 9);
            return kind == 0 ? MINUS_INF_VALUE : kind == 1 ? INF_VALUE : r.range(0, MAX_CONSTANT);
        };
        int32_t m[4] = {0}, l[4] = {0}, u[4] = {0};
        for (uint32_t k = 1; k < dim; ++k) {
            m[k] = constant();
            l[k] = constant();
            u[k] = constant();
        }
        const struct {
            const char* name;
            std::function<void(bound_t*)> run;
        } variants[] = {
            {"extrapolateMaxBounds", [&](bound_t* d) { extrapolateMaxBounds(d, dim, m); }},
            {"extrapolateMaxBoundsDiagonal", [&](bound_t* d) { extrapolateMaxBoundsDiagonal(d, dim, m); }},
            {"extrapolateLUBounds", [&](bound_t* d) { extrapolateLUBounds(d, dim, l, u); }},
            {"extrapolateLUBoundsDiagonal", [&](bound_t* d) { extrapolateLUBoundsDiagonal(d, dim, l, u); }},
        };
        for (const auto& v : variants) {
            Matrix e = z;
            v.run(e.data());
            EXPECT_FALSE(isEmpty(e.data(), dim)) << v.name;
            EXPECT_TRUE(isValid(e.data(), dim)) << v.name << "\n" << show(z, dim) << "->\n" << show(e, dim);
            EXPECT_TRUE(isSubsetEq(z.data(), dim, e.data())) << v.name;
            EXPECT_TRUE(gridSubset(z, e, dim)) << v.name << " lost points of\n" << show(z, dim);
        }
    });
}

}  // namespace
