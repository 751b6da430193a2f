// The portable kernels and the choice of the kernel set.
#include "dbm/kernels.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "dbm/kernel_table.h"

namespace dbm::kernels {

namespace {

inline bool testBit(const uint32_t* bits, uint32_t k) { return ((bits[k >> 5] >> (k & 31)) & 1u) != 0; }

void relaxRowGeneric(bound_t* __restrict rowI, const bound_t* __restrict rowK, bound_t ik, uint32_t n)
{
    for (uint32_t j = 0; j < n; ++j) {
        const bound_t kj = rowK[j];
        const bound_t s = isFinite(kj) ? addFinite(ik, kj) : BOUND_INFINITY;
        rowI[j] = std::min(rowI[j], s);
    }
}

bool closePivotsGeneric(bound_t* dbm, uint32_t dim, const uint32_t* pivots, bool testDiagonal)
{
    for (uint32_t k = 0; k < dim; ++k) {
        if (pivots != nullptr && !testBit(pivots, k)) continue;
        const bound_t* rowK = dbm + k * dim;
        for (uint32_t i = 0; i < dim; ++i) {
            if (i == k) continue;
            bound_t* rowI = dbm + i * dim;
            const bound_t ik = rowI[k];
            if (isFinite(ik)) relaxRowGeneric(rowI, rowK, ik, dim);
            if (testDiagonal && rowI[i] <= BOUND_LT_ZERO) return false;
        }
    }
    return true;
}

relation_t relationGeneric(const bound_t* a, const bound_t* b, uint32_t n)
{
    uint32_t p = 0;
    while (p < n && a[p] == b[p]) ++p;
    if (p == n) return EQUAL;
    if (a[p] > b[p]) {
        for (++p; p < n; ++p)
            if (a[p] < b[p]) return DIFFERENT;
        return SUPERSET;
    }
    for (++p; p < n; ++p)
        if (a[p] > b[p]) return DIFFERENT;
    return SUBSET;
}

bool isLessEqualGeneric(const bound_t* a, const bound_t* b, uint32_t n)
{
    for (uint32_t p = 0; p < n; ++p)
        if (a[p] > b[p]) return false;
    return true;
}

void maxIntoGeneric(bound_t* a, const bound_t* b, uint32_t n)
{
    for (uint32_t p = 0; p < n; ++p) a[p] = std::max(a[p], b[p]);
}

uint32_t graphBetweenLeadersGeneric(const bound_t* dbm, uint32_t n, const uint32_t* leaders, uint32_t leaderCount,
                                    const uint32_t*, uint32_t* bitMatrix)
{
    uint32_t count = 0;
    for (uint32_t a = 0; a < leaderCount; ++a) {
        const uint32_t r = leaders[a];
        const bound_t* row = dbm + r * n;
        for (uint32_t b = 0; b < leaderCount; ++b) {
            const uint32_t s = leaders[b];
            if (s == r || !isFinite(row[s])) continue;
            bool implied = false;
            for (uint32_t c = 0; c < leaderCount && !implied; ++c) {
                const uint32_t k = leaders[c];
                if (k == r || k == s) continue;
                const bound_t rk = row[k], ks = dbm[k * n + s];
                implied = isFinite(rk) && isFinite(ks) && addFinite(rk, ks) <= row[s];
            }
            if (!implied) {
                const uint32_t e = r * n + s;
                bitMatrix[e >> 5] |= 1u << (e & 31);
                ++count;
            }
        }
    }
    return count;
}

uint32_t compareGraphGeneric(const bound_t* dbm, const GraphView& g, bool wantLooser)
{
    uint32_t found = 0;
    forEachGraphBound(g, [&](uint32_t, uint32_t, uint32_t e, bound_t b) {
        const bound_t m = dbm[e];
        if (b < m) found |= GRAPH_TIGHTER;
        if (b > m) found |= GRAPH_LOOSER;
        return !((found & GRAPH_TIGHTER) && ((found & GRAPH_LOOSER) || !wantLooser));
    });
    return found;
}

void fillGeneric(bound_t* p, bound_t v, uint32_t n) { std::fill(p, p + n, v); }

// The comparisons are made in 64 bits so that no constant a caller passes can overflow when negated:
// every point lies beyond `constant` when -constant > value(b).
inline bool above(int32_t constant, bound_t b) { return -int64_t{constant} > int64_t{boundValue(b)}; }

bool dropAboveLUGeneric(bound_t* dbm, uint32_t dim, const int32_t* lower, const int32_t* upper)
{
    bool changed = false;
    for (uint32_t i = 1; i < dim; ++i) {
        bound_t* row = dbm + i * dim;
        const bool rowAbove = above(lower[i], dbm[i]);
        for (uint32_t j = 0; j < dim; ++j) {
            if (j == i) continue;
            const bound_t b = row[j];
            if (rowAbove) {
                row[j] = BOUND_INFINITY;
            } else if (boundValue(b) > lower[i] || above(upper[j], dbm[j])) {
                row[j] = BOUND_INFINITY;
                changed |= isFinite(b);
            }
        }
    }
    return changed;
}

uint32_t magnitudeBitsGeneric(const bound_t* p, uint32_t n)
{
    uint32_t bits = 0;
    for (uint32_t k = 0; k < n; ++k) {
        const bound_t b = p[k];
        if (b < BOUND_INFINITY) bits |= static_cast<uint32_t>(b >= 0 ? b : ~b);
    }
    return bits;
}

void fixedDifferencesGeneric(const bound_t* dbm, uint32_t n, uint32_t c, uint32_t* bits)
{
    const bound_t* row = dbm + c * n;
    for (uint32_t j = c + 1; j < n; ++j)
        if ((row[j] >> 1) + (dbm[j * n + c] >> 1) == 0) bits[j >> 5] |= 1u << (j & 31);
}

// ---- Choice of the set ----------------------------------------------------------------------

const KernelTable* tableFor(kernel_set_t set)
{
    switch (set) {
    case kernel_set_t::AVX512: return avx512Kernels();
    case kernel_set_t::AVX2: return avx2Kernels();
    default: return &genericKernels;
    }
}

kernel_set_t bestSet()
{
    for (kernel_set_t set : {kernel_set_t::AVX512, kernel_set_t::AVX2})
        if (kernelSetSupported(set)) return set;
    return kernel_set_t::GENERIC;
}

// The set named by MIRVEK_DBM_KERNELS, lowered to the best one the processor runs; the best set
// when the variable is not set. A name that is no set is reported once and ignored.
kernel_set_t initialSet()
{
    const kernel_set_t best = bestSet();
    const char* name = std::getenv("MIRVEK_DBM_KERNELS");
    if (name == nullptr || *name == '\0') return best;
    for (kernel_set_t set : {kernel_set_t::GENERIC, kernel_set_t::AVX2, kernel_set_t::AVX512})
        if (std::strcmp(name, kernelSetName(set)) == 0) return std::min(set, best);
    std::fprintf(stderr, "MIRVEK_DBM_KERNELS: unknown kernel set '%s' (generic, avx2, avx512); using %s\n", name,
                 kernelSetName(best));
    return best;
}

// Until the first kernel runs, the table in use is this one: each of its entries makes the choice
// and runs the chosen kernel. The pointer is constant-initialised, so no static initialiser needs
// to have run before the first zone operation.
const KernelTable& choose();

const KernelTable resolvingKernels = {
    [](bound_t* dbm, uint32_t dim, const uint32_t* pivots, bool testDiagonal) {
        return choose().closePivots(dbm, dim, pivots, testDiagonal);
    },
    [](bound_t* rowI, const bound_t* rowK, bound_t ik, uint32_t n) { choose().relaxRow(rowI, rowK, ik, n); },
    [](const bound_t* a, const bound_t* b, uint32_t n) { return choose().relation(a, b, n); },
    [](const bound_t* a, const bound_t* b, uint32_t n) { return choose().isLessEqual(a, b, n); },
    [](bound_t* a, const bound_t* b, uint32_t n) { choose().maxInto(a, b, n); },
    [](const bound_t* dbm, uint32_t n, const uint32_t* leaders, uint32_t leaderCount, const uint32_t* leaderBits,
       uint32_t* bitMatrix) {
        return choose().graphBetweenLeaders(dbm, n, leaders, leaderCount, leaderBits, bitMatrix);
    },
    [](const bound_t* dbm, const GraphView& g, bool wantLooser) { return choose().compareGraph(dbm, g, wantLooser); },
    [](bound_t* p, bound_t v, uint32_t n) { choose().fill(p, v, n); },
    [](bound_t* dbm, uint32_t dim, const int32_t* lower, const int32_t* upper) {
        return choose().dropAboveLU(dbm, dim, lower, upper);
    },
    [](const bound_t* p, uint32_t n) { return choose().magnitudeBits(p, n); },
    [](const bound_t* dbm, uint32_t n, uint32_t c, uint32_t* bits) { choose().fixedDifferences(dbm, n, c, bits); },
};

constinit kernel_set_t activeSet = kernel_set_t::GENERIC;

}  // namespace

constinit const KernelTable* activeTable = &resolvingKernels;

namespace {

const KernelTable& choose()
{
    if (activeTable == &resolvingKernels) {
        activeSet = initialSet();
        activeTable = tableFor(activeSet);
    }
    return *activeTable;
}

}  // namespace

const KernelTable genericKernels = {
    closePivotsGeneric, relaxRowGeneric,        relationGeneric,     isLessEqualGeneric,
    maxIntoGeneric,     graphBetweenLeadersGeneric, compareGraphGeneric, fillGeneric,
    dropAboveLUGeneric, magnitudeBitsGeneric,       fixedDifferencesGeneric,
};

}  // namespace dbm::kernels

namespace dbm {

const char* kernelSetName(kernel_set_t set)
{
    switch (set) {
    case kernel_set_t::AVX512: return "avx512";
    case kernel_set_t::AVX2: return "avx2";
    default: return "generic";
    }
}

bool kernelSetSupported(kernel_set_t set)
{
    if (kernels::tableFor(set) == nullptr) return false;
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    switch (set) {
    case kernel_set_t::AVX512:
        return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
               __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512dq") &&
               __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi2") &&
               __builtin_cpu_supports("popcnt");
    case kernel_set_t::AVX2:
        return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi2") &&
               __builtin_cpu_supports("popcnt");
    default: return true;
    }
#else
    return set == kernel_set_t::GENERIC;
#endif
}

kernel_set_t kernelSet()
{
    kernels::choose();
    return kernels::activeSet;
}

bool useKernelSet(kernel_set_t set)
{
    if (!kernelSetSupported(set)) return false;
    kernels::activeSet = set;
    kernels::activeTable = kernels::tableFor(set);
    return true;
}

}  // namespace dbm
