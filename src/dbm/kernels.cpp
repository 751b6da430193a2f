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

// True when every entry of the row but the one at `skip` is (< infinity).
bool isOpenRow(const bound_t* row, uint32_t skip, uint32_t n)
{
    for (uint32_t j = 0; j < n; ++j)
        if (j != skip && isFinite(row[j])) return false;
    return true;
}

bool closePivotsGeneric(bound_t* dbm, uint32_t dim, const uint32_t* pivots, bool testDiagonal)
{
    for (uint32_t k = 0; k < dim; ++k) {
        if (pivots != nullptr && !testBit(pivots, k)) continue;
        const bound_t* rowK = dbm + k * dim;
        // A pivot row of (< infinity) changes no row: only the diagonal is tested.
        const bool changesNothing = rowK[k] >= BOUND_LE_ZERO && isOpenRow(rowK, k, dim);
        for (uint32_t i = 0; i < dim; ++i) {
            if (i == k) continue;
            bound_t* rowI = dbm + i * dim;
            const bound_t ik = rowI[k];
            if (!changesNothing && isFinite(ik)) relaxRowGeneric(rowI, rowK, ik, dim);
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

// Calls f(matrix position, stored index) for every off-diagonal position in row order, until f
// returns false.
template <typename F>
inline void forEachOffDiagonal(uint32_t n, F&& f)
{
    uint32_t t = 0;
    for (uint32_t i = 0; i < n; ++i) {
        const uint32_t row = i * n;
        for (uint32_t j = 0; j < i; ++j)
            if (!f(row + j, t++)) return;
        for (uint32_t j = i + 1; j < n; ++j)
            if (!f(row + j, t++)) return;
    }
}

template <bool Is16>
inline bound_t stored(const uint32_t* data, uint32_t t)
{
    if (!Is16) return static_cast<bound_t>(data[t]);
    const int32_t v = read16(data, t);
    return v == INFINITY_16 ? BOUND_INFINITY : v;
}

template <bool Is16>
uint32_t compareFullIn(const bound_t* dbm, const FullView& f, uint32_t stop)
{
    uint32_t found = 0;
    forEachOffDiagonal(f.n, [&](uint32_t p, uint32_t t) {
        const bound_t b = stored<Is16>(f.data, t), m = dbm[p];
        if (b == m) return true;
        found |= b < m ? GRAPH_TIGHTER : GRAPH_LOOSER;
        return !(stop == 0 || (found & stop) == stop);
    });
    return found;
}

uint32_t compareFullGeneric(const bound_t* dbm, const FullView& f, uint32_t stop)
{
    return f.is16 ? compareFullIn<true>(dbm, f, stop) : compareFullIn<false>(dbm, f, stop);
}

void writeFullGeneric(const bound_t* dbm, uint32_t n, bool is16, uint32_t* out)
{
    if (!is16) {
        forEachOffDiagonal(n, [&](uint32_t p, uint32_t t) {
            out[t] = static_cast<uint32_t>(dbm[p]);
            return true;
        });
        return;
    }
    forEachOffDiagonal(n, [&](uint32_t p, uint32_t t) {
        const bound_t b = dbm[p];
        const uint32_t v = b == BOUND_INFINITY ? INFINITY_16 : (static_cast<uint32_t>(b) & 0xffff);
        if (t & 1)
            out[t >> 1] |= v << 16;
        else
            out[t >> 1] = v;
        return true;
    });
}

template <bool Is16>
void readFullIn(bound_t* dbm, const FullView& f)
{
    for (uint32_t i = 0; i < f.n; ++i) dbm[i * f.n + i] = BOUND_LE_ZERO;
    forEachOffDiagonal(f.n, [&](uint32_t p, uint32_t t) {
        dbm[p] = stored<Is16>(f.data, t);
        return true;
    });
}

void readFullGeneric(bound_t* dbm, const FullView& f)
{
    if (f.is16)
        readFullIn<true>(dbm, f);
    else
        readFullIn<false>(dbm, f);
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
    [](const bound_t* dbm, const FullView& f, uint32_t stop) { return choose().compareFull(dbm, f, stop); },
    [](const bound_t* dbm, uint32_t n, bool is16, uint32_t* out) { choose().writeFull(dbm, n, is16, out); },
    [](bound_t* dbm, const FullView& f) { choose().readFull(dbm, f); },
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
    dropAboveLUGeneric, magnitudeBitsGeneric,       fixedDifferencesGeneric, compareFullGeneric,
    writeFullGeneric,   readFullGeneric,
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
