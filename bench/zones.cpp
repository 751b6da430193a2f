// Zone and federation operations on the paths that exploration runs per
// successor: closure, constraining, delay, extrapolation, relations (plain and
// against a stored encoded zone) and the federation operations (subtraction, union,
// relation, constraining and delay, reduction, exact inclusion), at 3, 6 and 11 clocks.
// The operations that run on the vector kernels (closures, extrapolation, relations,
// inclusion, minimal graphs, decoding) also run at 20 to 40 clocks and once per kernel
// set the processor runs ("set" 0 generic, 1 AVX2, 2 AVX-512; see dbm/kernels.h).

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <random>
#include <vector>

#include "dbm/dbm.h"
#include "dbm/encoded.h"
#include "dbm/extrapolation.h"
#include "dbm/fed.h"
#include "dbm/kernels.h"

using namespace dbm;

namespace
{
    // A non-empty closed zone with a few random bounds on every clock, the same for each run.
    zone_t randomZone(uint32_t dim, uint32_t seed, int32_t shift = 0)
    {
        std::mt19937 rng(seed);
        auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
        zone_t z(dim);
        z.setInit();
        for (uint32_t c = 1; c < dim; ++c) {
            const int32_t lo = pick(0, 5) + shift;
            zone_t t = z;
            if (t.constrain(0, c, boundLE(-lo)) && t.constrain(c, 0, boundLE(lo + pick(3, 20)))) {
                z = t;
            }
            const uint32_t other = uint32_t(pick(1, int(dim) - 1));
            if (other != c) {
                t = z;
                if (t.constrain(c, other, boundLT(pick(-3, 8)))) {
                    z = t;
                }
            }
        }
        return z;
    }

    uint32_t dimOf(const benchmark::State& state) { return uint32_t(state.range(0)) + 1; }

    // The kernel set of the benchmark's second argument; false (the benchmark skipped) when the
    // processor does not run it.
    bool useSetOf(benchmark::State& state)
    {
        const auto set = kernel_set_t(state.range(1));
        if (useKernelSet(set)) {
            return true;
        }
        state.SkipWithError("kernel set not supported here");
        return false;
    }

    // A zone as exploration meets them after a delay: every clock bounded below, a few
    // difference bounds, no upper bound.
    zone_t delayedZone(uint32_t dim, uint32_t seed, int32_t shift = 0)
    {
        zone_t z = randomZone(dim, seed, shift);
        z.up();
        return z;
    }

    void BM_Close(benchmark::State& state)
    {
        const uint32_t dim = dimOf(state);
        if (!useSetOf(state)) {
            return;
        }
        const zone_t z = randomZone(dim, 1);
        // Loosen every bound so closure has work to do.
        std::vector<bound_t> loose(z.getMatrix(), z.getMatrix() + dim * dim);
        for (uint32_t i = 1; i < dim; ++i) {
            for (uint32_t j = 1; j < dim; ++j) {
                if (i != j) loose[i * dim + j] = BOUND_INFINITY;
            }
        }
        std::vector<bound_t> work(dim * dim);
        for (auto _ : state) {
            copyMatrix(work.data(), loose.data(), dim);
            benchmark::DoNotOptimize(close(work.data(), dim));
        }
    }

    void BM_Constrain(benchmark::State& state)
    {
        const uint32_t dim = dimOf(state);
        const zone_t base = randomZone(dim, 2);
        const bound_t b = base(1, 0) == BOUND_INFINITY ? boundLE(30) : base(1, 0) - 2;
        for (auto _ : state) {
            zone_t z = base;  // shared: the constraint copies the block from the free list
            benchmark::DoNotOptimize(z.constrain(1, 0, b));
        }
    }

    void BM_Up(benchmark::State& state)
    {
        const uint32_t dim = dimOf(state);
        const zone_t base = randomZone(dim, 3);
        for (auto _ : state) {
            zone_t z = base;
            z.up();
            benchmark::DoNotOptimize(z.getWord());
        }
    }

    void BM_ExtrapolateLU(benchmark::State& state)
    {
        const uint32_t dim = dimOf(state);
        if (!useSetOf(state)) {
            return;
        }
        const zone_t z = randomZone(dim, 4, 4);
        std::vector<int32_t> lower(dim, 3), upper(dim, 6);
        lower[0] = upper[0] = 0;
        std::vector<bound_t> work(dim * dim);
        for (auto _ : state) {
            copyMatrix(work.data(), z.getMatrix(), dim);
            extrapolateLUBounds(work.data(), dim, lower.data(), upper.data());
            benchmark::DoNotOptimize(work.data());
        }
    }

    void BM_Relation(benchmark::State& state)
    {
        const uint32_t dim = dimOf(state);
        if (!useSetOf(state)) {
            return;
        }
        const zone_t a = randomZone(dim, 5);
        zone_t b = a;
        b.up();
        for (auto _ : state) {
            benchmark::DoNotOptimize(relation(a.getMatrix(), dim, b.getMatrix()));
        }
    }

    uint32_t* allocateWords(uint32_t words, void*) { return static_cast<uint32_t*>(std::malloc(words * 4u)); }

    void BM_EncodedRelation(benchmark::State& state)
    {
        const uint32_t dim = dimOf(state);
        if (!useSetOf(state)) {
            return;
        }
        const zone_t a = randomZone(dim, 6);
        zone_t stored = a;
        stored.up();
        uint32_t* encoded = writeEncoded(stored.getMatrix(), dim, true, true, 0, nullptr, allocateWords, nullptr);
        std::vector<bound_t> scratch(dim * dim);
        for (auto _ : state) {
            benchmark::DoNotOptimize(relationToEncoded(a.getMatrix(), dim, encoded, scratch.data()));
        }
        std::free(encoded);
    }

    // A stored zone that lies beside the matrix: its lower bounds are tighter and its upper
    // bounds looser, the common case of a lookup that finds a different zone under the same
    // discrete part.
    void BM_EncodedRelationDifferent(benchmark::State& state)
    {
        const uint32_t dim = dimOf(state);
        if (!useSetOf(state)) {
            return;
        }
        const zone_t a = randomZone(dim, 6);
        const zone_t stored = randomZone(dim, 6, 3);
        uint32_t* encoded = writeEncoded(stored.getMatrix(), dim, true, true, 0, nullptr, allocateWords, nullptr);
        std::vector<bound_t> scratch(dim * dim);
        for (auto _ : state) {
            benchmark::DoNotOptimize(relationToEncoded(a.getMatrix(), dim, encoded, scratch.data()));
        }
        std::free(encoded);
    }

    // The extrapolation exploration runs (lower and upper constants, difference bounds of clocks
    // above their constants dropped) with the re-closure after it.
    void BM_ExtrapolateLUDiagonal(benchmark::State& state)
    {
        const uint32_t dim = dimOf(state);
        if (!useSetOf(state)) {
            return;
        }
        const zone_t z = delayedZone(dim, 4, 4);
        std::vector<int32_t> lower(dim), upper(dim);
        for (uint32_t k = 1; k < dim; ++k) {
            lower[k] = int32_t(3 + k % 5);
            upper[k] = int32_t(6 + k % 7);
        }
        std::vector<bound_t> work(dim * dim);
        for (auto _ : state) {
            copyMatrix(work.data(), z.getMatrix(), dim);
            extrapolateLUBoundsDiagonal(work.data(), dim, lower.data(), upper.data());
            benchmark::DoNotOptimize(work.data());
        }
    }

    // Inclusion of one zone in another that includes it (the whole matrix is read) and in one
    // that does not (the test may stop early).
    void BM_IsSubsetEq(benchmark::State& state)
    {
        const uint32_t dim = dimOf(state);
        if (!useSetOf(state)) {
            return;
        }
        const zone_t a = randomZone(dim, 5);
        zone_t b = a;
        b.up();
        const zone_t other = randomZone(dim, 7, 2);
        for (auto _ : state) {
            benchmark::DoNotOptimize(isSubsetEq(a.getMatrix(), dim, b.getMatrix()));
            benchmark::DoNotOptimize(isSubsetEq(other.getMatrix(), dim, b.getMatrix()));
        }
    }

    void BM_MinimalGraph(benchmark::State& state)
    {
        const uint32_t dim = dimOf(state);
        if (!useSetOf(state)) {
            return;
        }
        const zone_t z = delayedZone(dim, 8);
        std::vector<uint32_t> bits(bitMatrixWords(dim));
        for (auto _ : state) {
            benchmark::DoNotOptimize(analyzeMinimalGraph(z.getMatrix(), dim, bits.data()));
        }
    }

    // Decoding a stored minimal graph: its bounds are written into the unconstrained matrix,
    // which is then closed through the clocks they name.
    void BM_ReadEncodedGraph(benchmark::State& state)
    {
        const uint32_t dim = dimOf(state);
        if (!useSetOf(state)) {
            return;
        }
        const zone_t z = delayedZone(dim, 9);
        uint32_t* encoded = writeEncoded(z.getMatrix(), dim, true, true, 0, nullptr, allocateWords, nullptr);
        std::vector<bound_t> work(dim * dim);
        for (auto _ : state) {
            readEncoded(work.data(), encoded);
            benchmark::DoNotOptimize(work.data());
        }
        std::free(encoded);
    }

    void BM_FedSubtract(benchmark::State& state)
    {
        const uint32_t dim = dimOf(state);
        fed_t from(dim), cut(dim);
        for (uint32_t k = 0; k < 3; ++k) {
            zone_t z = randomZone(dim, 10 + k);
            z.up();
            from.unionWithZone(z);
        }
        for (uint32_t k = 0; k < 2; ++k) {
            cut.unionWithZone(randomZone(dim, 20 + k, 2));
        }
        for (auto _ : state) {
            fed_t f = from;
            f.subtract(cut);
            benchmark::DoNotOptimize(f.size());
        }
    }

    // Three DBMs after delay, the federation a successor typically carries, and two cut DBMs.
    struct FedPair
    {
        fed_t from, cut;
        explicit FedPair(uint32_t dim): from(dim), cut(dim)
        {
            for (uint32_t k = 0; k < 3; ++k) {
                zone_t z = randomZone(dim, 10 + k);
                z.up();
                from.unionWithZone(z);
            }
            for (uint32_t k = 0; k < 2; ++k) {
                cut.unionWithZone(randomZone(dim, 20 + k, 2));
            }
        }
    };

    void BM_FedUnion(benchmark::State& state)
    {
        const FedPair p(dimOf(state));
        for (auto _ : state) {
            fed_t f = p.from;
            f.unionWith(p.cut);
            benchmark::DoNotOptimize(f.size());
        }
    }

    void BM_FedRelation(benchmark::State& state)
    {
        const FedPair p(dimOf(state));
        fed_t other = p.from;
        other.unionWith(p.cut);
        for (auto _ : state) {
            benchmark::DoNotOptimize(p.from.relation(other));
        }
    }

    void BM_FedConstrainUp(benchmark::State& state)
    {
        const FedPair p(dimOf(state));
        for (auto _ : state) {
            fed_t f = p.from;  // shared: constraining unshares the header
            benchmark::DoNotOptimize(f.constrain(1, 0, boundLE(12)));
            f.up();
            benchmark::DoNotOptimize(f.size());
        }
    }

    void BM_FedSubtractReduce(benchmark::State& state)
    {
        const FedPair p(dimOf(state));
        for (auto _ : state) {
            fed_t f = p.from;
            f.subtract(p.cut);
            f.mergeReduce(0, 1);
            benchmark::DoNotOptimize(f.size());
        }
    }

    // Federations longer than the stack arrays of the relation flags and the hash hold.
    void BM_FedRelationLong(benchmark::State& state)
    {
        const uint32_t dim = dimOf(state);
        fed_t a(dim), b(dim);
        for (int32_t k = 0; k < 100; ++k) {
            zone_t z(dim);
            z.setInit();
            z.constrain(0, 1, boundLE(-3 * k));
            z.constrain(1, 0, boundLE(3 * k + 1));
            a.unionWithZone(z);
            if (k % 2 == 0) {
                b.unionWithZone(z);
            }
        }
        for (auto _ : state) {
            benchmark::DoNotOptimize(a.relation(b));
            benchmark::DoNotOptimize(a.hash(0));
        }
    }

    void BM_FedIsSubsetEq(benchmark::State& state)
    {
        const FedPair p(dimOf(state));
        fed_t big = p.from;
        big.unionWith(p.cut);
        for (auto _ : state) {
            benchmark::DoNotOptimize(p.from.isSubsetEq(big));
        }
    }
}

// Clocks, then the kernel set. The sets run in increasing order, so the benchmarks without a set
// argument run with the best one the processor runs.
#define KERNEL_ARGS ArgsProduct({{3, 6, 11, 20, 30, 40}, {0, 1, 2}})->ArgNames({"clocks", "set"})

BENCHMARK(BM_Close)->KERNEL_ARGS;
BENCHMARK(BM_Constrain)->Arg(3)->Arg(6)->Arg(11)->ArgName("clocks");
BENCHMARK(BM_Up)->Arg(3)->Arg(6)->Arg(11)->ArgName("clocks");
BENCHMARK(BM_ExtrapolateLU)->KERNEL_ARGS;
BENCHMARK(BM_ExtrapolateLUDiagonal)->KERNEL_ARGS;
BENCHMARK(BM_Relation)->KERNEL_ARGS;
BENCHMARK(BM_IsSubsetEq)->KERNEL_ARGS;
BENCHMARK(BM_EncodedRelation)->KERNEL_ARGS;
BENCHMARK(BM_EncodedRelationDifferent)->KERNEL_ARGS;
BENCHMARK(BM_MinimalGraph)->KERNEL_ARGS;
BENCHMARK(BM_ReadEncodedGraph)->KERNEL_ARGS;
BENCHMARK(BM_FedSubtract)->Arg(3)->Arg(6)->Arg(11)->ArgName("clocks");
BENCHMARK(BM_FedUnion)->Arg(3)->Arg(6)->Arg(11)->ArgName("clocks");
BENCHMARK(BM_FedRelation)->Arg(3)->Arg(6)->Arg(11)->ArgName("clocks");
BENCHMARK(BM_FedConstrainUp)->Arg(3)->Arg(6)->Arg(11)->ArgName("clocks");
BENCHMARK(BM_FedSubtractReduce)->Arg(3)->Arg(6)->Arg(11)->ArgName("clocks");
BENCHMARK(BM_FedRelationLong)->Arg(3)->Arg(6)->Arg(11)->ArgName("clocks");
BENCHMARK(BM_FedIsSubsetEq)->Arg(3)->Arg(6)->Arg(11)->ArgName("clocks");

BENCHMARK_MAIN();
