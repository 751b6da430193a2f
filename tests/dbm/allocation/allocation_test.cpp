// Exploration runs the zone operations millions of times; in steady state they take blocks,
// headers and nodes from the library's free lists and pools and keep working arrays on the stack,
// never from the heap. This program replaces the global allocation functions to count heap
// allocations, which is why it is a program of its own.

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <new>
#include <string>
#include <vector>

#include "dbm/dbm.h"
#include "dbm/encoded.h"
#include "dbm/extrapolation.h"
#include "dbm/fed.h"
#include "../kernel_sets.h"

namespace {
long allocations = 0;
}  // namespace

// The replacements are kept out of line: inlined into a caller, the compiler would see a free() of
// memory from operator new and warn about a mismatch that is not there.

[[gnu::noinline]] void* operator new(std::size_t size)
{
    ++allocations;
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
[[gnu::noinline]] void* operator new[](std::size_t size)
{
    return operator new(size);
}
[[gnu::noinline]] void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    ++allocations;
    return std::malloc(size == 0 ? 1 : size);
}
[[gnu::noinline]] void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept
{
    return operator new(size, tag);
}
[[gnu::noinline]] void operator delete(void* p) noexcept
{
    std::free(p);
}
[[gnu::noinline]] void operator delete[](void* p) noexcept
{
    std::free(p);
}
[[gnu::noinline]] void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}
[[gnu::noinline]] void operator delete[](void* p, std::size_t) noexcept
{
    std::free(p);
}

namespace {

using namespace dbm;

zone_t boxZone(uint32_t dim, int32_t lo, int32_t hi)
{
    zone_t z(dim);
    z.setInit();
    for (uint32_t c = 1; c < dim; ++c) {
        z.constrain(0, c, boundLE(-(lo + int32_t(c) % 2)));
        z.constrain(c, 0, boundLE(hi + int32_t(c)));
        if (c > 1) z.constrain(c, c - 1, boundLT(2));
    }
    return z;
}

uint32_t* intoVector(uint32_t words, void* context)
{
    auto* memory = static_cast<std::vector<uint32_t>*>(context);
    memory->resize(words);
    return memory->data();
}

// Heap allocations made by the second of two runs of op: the first fills the free lists and pools.
long steadyStateAllocations(const std::function<void()>& op)
{
    op();
    const long before = allocations;
    op();
    return allocations - before;
}

TEST(SteadyState, ZoneAndFederationOperationsTakeNothingFromTheHeap)
{
    dbm_test::forEachKernelSet([](kernel_set_t) {
        for (uint32_t dim : {3u, 6u, 11u, 20u, 38u}) {
            const zone_t a = boxZone(dim, 1, 6), b = boxZone(dim, 4, 9), c = boxZone(dim, 0, 3);
            std::vector<int32_t> max(dim, 5), lower(dim, 4), upper(dim, 7);
            max[0] = lower[0] = upper[0] = 0;
            std::vector<bound_t> scratch(size_t(dim) * dim), matrix(a.getMatrix(), a.getMatrix() + dim * dim);
            std::vector<uint32_t> stored, graphBits(bitMatrixWords(dim));
            stored.reserve(size_t(dim) * dim + 4);
            writeEncoded(b.getMatrix(), dim, true, true, 0, &stored, intoVector, nullptr);
            const fed_t ab = [&] {
                fed_t f(a);
                f.unionWithZone(b);
                return f;
            }();
            const std::vector<clock_constraint_t> guard = {{1, 0, boundLE(7)}, {0, dim - 1, boundLT(-2)}};

            const struct {
                const char* name;
                std::function<void()> op;
            } cases[] = {
                {"raw closure, constrain, delay, reset, extrapolation",
                 [&] {
                     copyMatrix(scratch.data(), matrix.data(), dim);
                     constrainAll(scratch.data(), dim, guard.data(), guard.size());
                     up(scratch.data(), dim);
                     updateValue(scratch.data(), dim, 1, 0);
                     extrapolateLUBounds(scratch.data(), dim, lower.data(), upper.data());
                     extrapolateMaxBoundsDiagonal(scratch.data(), dim, max.data());
                     close(scratch.data(), dim);
                     relation(scratch.data(), dim, matrix.data());
                 }},
                {"encoded relation and equality",
                 [&] {
                     relationToEncoded(a.getMatrix(), dim, stored.data(), scratch.data());
                     relationToEncoded(b.getMatrix(), dim, stored.data(), nullptr);
                     isEqualToEncoded(b.getMatrix(), dim, stored.data());
                     encodedHasZero(stored.data());
                     readEncoded(scratch.data(), stored.data());
                     isSubsetEq(a.getMatrix(), dim, scratch.data());
                     analyzeMinimalGraph(a.getMatrix(), dim, graphBits.data());
                     copyMatrix(scratch.data(), matrix.data(), dim);
                     extrapolateLUBoundsDiagonal(scratch.data(), dim, lower.data(), upper.data());
                 }},
                {"zone copy on write",
                 [&] {
                     zone_t z = a;
                     z.constrain(1, 0, boundLE(5));
                     z.up();
                     z.freeClock(1);
                     z.updateValue(1, 0);
                 }},
                {"federation successor",
                 [&] {
                     fed_t f = ab;
                     f.constrain(guard.data(), guard.size());
                     f.up();
                     f.updateValue(1, 0);
                     f.extrapolateMaxBoundsDiagonal(max.data());
                     f.hash(0);
                 }},
                {"federation algebra",
                 [&] {
                     fed_t f = ab;
                     f.unionWithZone(c);
                     f.subtract(fed_t(b));
                     f.intersectWith(ab);
                     f.mergeReduce(0, 1);
                     f.relation(ab);
                     f.isSubsetEq(ab);
                     ab.isSubsetEq(f);
                 }},
            };
            for (const auto& c : cases) {
                EXPECT_EQ(steadyStateAllocations(c.op), 0) << c.name << ", " << dim - 1 << " clocks";
            }
        }
    });
}

}  // namespace
