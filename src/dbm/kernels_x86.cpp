// The vector kernels of x86-64 processors: one region compiled for AVX2, one for AVX-512. Only the
// functions inside a region use its instructions, and they run only after kernelSetSupported has
// found the instructions on the processor; the rest of the program stays plain x86-64.
#include <algorithm>
#include <cstdint>

#include "dbm/bound.h"
#include "dbm/kernel_table.h"

#if defined(__x86_64__) && defined(__GNUC__)

#include <immintrin.h>

// ---- AVX2 ------------------------------------------------------------------------------------

#pragma GCC push_options
#pragma GCC target("avx2,bmi,bmi2,popcnt")

namespace dbm::kernels::avx2 {
namespace {

// Eight lanes; the last chunk of a run overlaps the one before it.
struct Ops8 {
    using V = __m256i;
    using Mask = __m256i;   // all ones in the lanes where a comparison holds
    using Guard = __m256i;  // INT32_MIN in the lanes of finite pivot bounds, INT32_MAX elsewhere
    static constexpr uint32_t W = 8;

    static V load(const bound_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
    static void store(bound_t* p, V v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }
    static V set1(int32_t x) { return _mm256_set1_epi32(x); }
    static V add(V a, V b) { return _mm256_add_epi32(a, b); }
    static V band(V a, V b) { return _mm256_and_si256(a, b); }
    static V max(V a, V b) { return _mm256_max_epi32(a, b); }
    static Guard finite(V kj)
    {
        const V isFinite = _mm256_cmpgt_epi32(_mm256_set1_epi32(BOUND_INFINITY), kj);
        return _mm256_xor_si256(isFinite, _mm256_set1_epi32(INT32_MAX));
    }
    // Where the pivot bound is infinite the sum is raised to INT32_MAX and changes nothing.
    static V relax(V r, V s, Guard g) { return _mm256_min_epi32(r, _mm256_max_epi32(s, g)); }
    static Mask none() { return _mm256_setzero_si256(); }
    static Mask either(Mask a, Mask b) { return _mm256_or_si256(a, b); }
    static Mask greater(V a, V b) { return _mm256_cmpgt_epi32(a, b); }
    static bool any(Mask m) { return !_mm256_testz_si256(m, m); }
    static uint32_t bits(Mask m) { return static_cast<uint32_t>(_mm256_movemask_ps(_mm256_castsi256_ps(m))); }
    static uint32_t guardBits(Guard g) { return bits(g); }  // the sign bit marks a finite bound
    static V sub(V a, V b) { return _mm256_sub_epi32(a, b); }
    static V halve(V a) { return _mm256_srai_epi32(a, 1); }
    static Mask both(Mask a, Mask b) { return _mm256_and_si256(a, b); }
    static Mask except(Mask a, Mask b) { return _mm256_andnot_si256(b, a); }
    static Mask laneIs(uint32_t lane)
    {
        return _mm256_cmpeq_epi32(_mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7), _mm256_set1_epi32(static_cast<int32_t>(lane)));
    }
    static Mask guardMask(Guard g) { return _mm256_srai_epi32(g, 31); }
    static V where(Mask m, V yes, V no) { return _mm256_blendv_epi8(no, yes, m); }
    static Mask all() { return _mm256_set1_epi32(-1); }
    static V bor(V a, V b) { return _mm256_or_si256(a, b); }
    static V bxor(V a, V b) { return _mm256_xor_si256(a, b); }
    static V signs(V a) { return _mm256_srai_epi32(a, 31); }
    static V iota() { return _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7); }
    static V mul(V a, V b) { return _mm256_mullo_epi32(a, b); }
    static Mask equal(V a, V b) { return _mm256_cmpeq_epi32(a, b); }
    static V gather(const bound_t* base, V index) { return _mm256_i32gather_epi32(base, index, 4); }
    static uint32_t orLanes(V a)
    {
        const __m128i x = _mm_or_si128(_mm256_castsi256_si128(a), _mm256_extracti128_si256(a, 1));
        return Ops4OrLanes(x);
    }
    static Mask lanesFrom(uint32_t k) { return _mm256_cmpgt_epi32(iota(), _mm256_set1_epi32(static_cast<int32_t>(k) - 1)); }
    static V load16(const int16_t* p)
    {
        return _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
    }
    // The low halves of the eight bounds, in order.
    static void store16(int16_t* p, V v)
    {
        const __m256i halves = _mm256_shuffle_epi8(
            v, _mm256_setr_epi8(0, 1, 4, 5, 8, 9, 12, 13, -1, -1, -1, -1, -1, -1, -1, -1, 0, 1, 4, 5, 8, 9, 12, 13, -1,
                                -1, -1, -1, -1, -1, -1, -1));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm256_castsi256_si128(_mm256_permute4x64_epi64(halves, 0x08)));
    }
    static uint32_t Ops4OrLanes(__m128i x)
    {
        x = _mm_or_si128(x, _mm_shuffle_epi32(x, 0x4e));
        x = _mm_or_si128(x, _mm_shuffle_epi32(x, 0xb1));
        return static_cast<uint32_t>(_mm_cvtsi128_si32(x));
    }
};

// Four lanes, for matrices of 4 to 7 clocks.
struct Ops4 {
    using V = __m128i;
    using Mask = __m128i;
    using Guard = __m128i;
    static constexpr uint32_t W = 4;

    static V load(const bound_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
    static void store(bound_t* p, V v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }
    static V set1(int32_t x) { return _mm_set1_epi32(x); }
    static V add(V a, V b) { return _mm_add_epi32(a, b); }
    static V band(V a, V b) { return _mm_and_si128(a, b); }
    static V max(V a, V b) { return _mm_max_epi32(a, b); }
    static Guard finite(V kj)
    {
        const V isFinite = _mm_cmpgt_epi32(_mm_set1_epi32(BOUND_INFINITY), kj);
        return _mm_xor_si128(isFinite, _mm_set1_epi32(INT32_MAX));
    }
    static V relax(V r, V s, Guard g) { return _mm_min_epi32(r, _mm_max_epi32(s, g)); }
    static Mask none() { return _mm_setzero_si128(); }
    static Mask either(Mask a, Mask b) { return _mm_or_si128(a, b); }
    static Mask greater(V a, V b) { return _mm_cmpgt_epi32(a, b); }
    static bool any(Mask m) { return !_mm_testz_si128(m, m); }
    static uint32_t bits(Mask m) { return static_cast<uint32_t>(_mm_movemask_ps(_mm_castsi128_ps(m))); }
    static uint32_t guardBits(Guard g) { return bits(g); }
    static V sub(V a, V b) { return _mm_sub_epi32(a, b); }
    static V halve(V a) { return _mm_srai_epi32(a, 1); }
    static Mask both(Mask a, Mask b) { return _mm_and_si128(a, b); }
    static Mask except(Mask a, Mask b) { return _mm_andnot_si128(b, a); }
    static Mask laneIs(uint32_t lane)
    {
        return _mm_cmpeq_epi32(_mm_setr_epi32(0, 1, 2, 3), _mm_set1_epi32(static_cast<int32_t>(lane)));
    }
    static Mask guardMask(Guard g) { return _mm_srai_epi32(g, 31); }
    static V where(Mask m, V yes, V no) { return _mm_blendv_epi8(no, yes, m); }
    static Mask all() { return _mm_set1_epi32(-1); }
    static V bor(V a, V b) { return _mm_or_si128(a, b); }
    static V bxor(V a, V b) { return _mm_xor_si128(a, b); }
    static V signs(V a) { return _mm_srai_epi32(a, 31); }
    static V iota() { return _mm_setr_epi32(0, 1, 2, 3); }
    static V mul(V a, V b) { return _mm_mullo_epi32(a, b); }
    static Mask equal(V a, V b) { return _mm_cmpeq_epi32(a, b); }
    static V gather(const bound_t* base, V index) { return _mm_i32gather_epi32(base, index, 4); }
    static uint32_t orLanes(V x) { return Ops8::Ops4OrLanes(x); }
    static Mask lanesFrom(uint32_t k) { return _mm_cmpgt_epi32(iota(), _mm_set1_epi32(static_cast<int32_t>(k) - 1)); }
    static V load16(const int16_t* p)
    {
        return _mm_cvtepi16_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)));
    }
    static void store16(int16_t* p, V v)
    {
        const __m128i halves = _mm_shuffle_epi8(v, _mm_setr_epi8(0, 1, 4, 5, 8, 9, 12, 13, -1, -1, -1, -1, -1, -1, -1, -1));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(p), halves);
    }
};

#include "dbm/kernels_vector_body.h"

bool closePivots(bound_t* dbm, uint32_t dim, const uint32_t* pivots, bool testDiagonal)
{
    if (dim >= 8) return closePivotsAny<Ops8>(dbm, dim, pivots, testDiagonal);
    if (dim >= 4) return closePivotsAny<Ops4>(dbm, dim, pivots, testDiagonal);
    return genericKernels.closePivots(dbm, dim, pivots, testDiagonal);
}

void relaxRow(bound_t* rowI, const bound_t* rowK, bound_t ik, uint32_t n)
{
    if (n >= 8) return relaxRowAny<Ops8>(rowI, rowK, ik, n);
    if (n >= 4) return relaxRowAny<Ops4>(rowI, rowK, ik, n);
    genericKernels.relaxRow(rowI, rowK, ik, n);
}

relation_t relation(const bound_t* a, const bound_t* b, uint32_t n)
{
    if (n >= 8) return relationAny<Ops8>(a, b, n);
    if (n >= 4) return relationAny<Ops4>(a, b, n);
    return genericKernels.relation(a, b, n);
}

bool isLessEqual(const bound_t* a, const bound_t* b, uint32_t n)
{
    if (n >= 8) return isLessEqualAny<Ops8>(a, b, n);
    if (n >= 4) return isLessEqualAny<Ops4>(a, b, n);
    return genericKernels.isLessEqual(a, b, n);
}

void maxInto(bound_t* a, const bound_t* b, uint32_t n)
{
    if (n >= 8) return maxIntoAny<Ops8>(a, b, n);
    if (n >= 4) return maxIntoAny<Ops4>(a, b, n);
    genericKernels.maxInto(a, b, n);
}

uint32_t graphBetweenLeaders(const bound_t* dbm, uint32_t n, const uint32_t* leaders, uint32_t leaderCount,
                             const uint32_t* leaderBits, uint32_t* bitMatrix)
{
    const auto held = [&](auto run) { return run(dbm, n, leaders, leaderCount, leaderBits, bitMatrix); };
    if (n >= 8) {
        switch ((n + 7) / 8) {
        case 1: return held(graphBetweenLeadersHeld<Ops8, 1>);
        case 2: return held(graphBetweenLeadersHeld<Ops8, 2>);
        case 3: return held(graphBetweenLeadersHeld<Ops8, 3>);
        case 4: return held(graphBetweenLeadersHeld<Ops8, 4>);
        case 5: return held(graphBetweenLeadersHeld<Ops8, 5>);
        case 6: return held(graphBetweenLeadersHeld<Ops8, 6>);
        case 7: return held(graphBetweenLeadersHeld<Ops8, 7>);
        case 8: return held(graphBetweenLeadersHeld<Ops8, 8>);
        default: break;
        }
    } else if (n >= 4) {
        return n == 4 ? held(graphBetweenLeadersHeld<Ops4, 1>) : held(graphBetweenLeadersHeld<Ops4, 2>);
    }
    return genericKernels.graphBetweenLeaders(dbm, n, leaders, leaderCount, leaderBits, bitMatrix);
}

uint32_t compareGraph(const bound_t* dbm, const GraphView& g, bool wantLooser)
{
    return genericKernels.compareGraph(dbm, g, wantLooser);
}

bool dropAboveLU(bound_t* dbm, uint32_t dim, const int32_t* lower, const int32_t* upper)
{
    if (dim >= 8) return dropAboveLUAny<Ops8>(dbm, dim, lower, upper);
    if (dim >= 4) return dropAboveLUAny<Ops4>(dbm, dim, lower, upper);
    return genericKernels.dropAboveLU(dbm, dim, lower, upper);
}

uint32_t magnitudeBits(const bound_t* p, uint32_t n)
{
    if (n >= 8) return magnitudeBitsAny<Ops8>(p, n);
    if (n >= 4) return magnitudeBitsAny<Ops4>(p, n);
    return genericKernels.magnitudeBits(p, n);
}

void fixedDifferences(const bound_t* dbm, uint32_t n, uint32_t c, uint32_t* bits)
{
    if (n - c - 1 >= 8) return fixedDifferencesAny<Ops8>(dbm, n, c, bits);
    if (n - c - 1 >= 4) return fixedDifferencesAny<Ops4>(dbm, n, c, bits);
    genericKernels.fixedDifferences(dbm, n, c, bits);
}

// The full forms need a dimension of at least a chunk.
uint32_t compareFull(const bound_t* dbm, const FullView& f, uint32_t stop)
{
    if (f.n >= 8) return compareFullAny<Ops8>(dbm, f, stop);
    if (f.n >= 4) return compareFullAny<Ops4>(dbm, f, stop);
    return genericKernels.compareFull(dbm, f, stop);
}

void writeFull(const bound_t* dbm, uint32_t n, bool is16, uint32_t* out)
{
    if (n >= 8) return writeFullAny<Ops8>(dbm, n, is16, out);
    if (n >= 4) return writeFullAny<Ops4>(dbm, n, is16, out);
    genericKernels.writeFull(dbm, n, is16, out);
}

void readFull(bound_t* dbm, const FullView& f)
{
    if (f.n >= 8) return readFullAny<Ops8>(dbm, f);
    if (f.n >= 4) return readFullAny<Ops4>(dbm, f);
    genericKernels.readFull(dbm, f);
}

void fill(bound_t* p, bound_t v, uint32_t n)
{
    if (n >= 8) return fillAny<Ops8>(p, v, n);
    if (n >= 4) return fillAny<Ops4>(p, v, n);
    genericKernels.fill(p, v, n);
}

}  // namespace

const KernelTable table = {
    closePivots,   relaxRow, relation,      isLessEqual,     maxInto, graphBetweenLeaders, compareGraph,
    fill,          dropAboveLU, magnitudeBits, fixedDifferences, compareFull, writeFull, readFull,
};

}  // namespace dbm::kernels::avx2

#pragma GCC pop_options

// ---- AVX-512 ---------------------------------------------------------------------------------

#pragma GCC push_options
#pragma GCC target("avx512f,avx512bw,avx512vl,avx512dq,avx2,bmi,bmi2,popcnt")

namespace dbm::kernels::avx512 {
namespace {

// Sixteen lanes, comparisons into mask registers. Stores are plain: a masked store would make the
// loads of the next row or pivot wait for it. (Where an instruction has a masked form, that one is
// used with every lane: GCC 12 warns about the undefined source vector of the unmasked forms.)
struct Ops16 {
    using V = __m512i;
    using Mask = __mmask16;
    using Guard = __mmask16;
    static constexpr uint32_t W = 16;

    static V load(const bound_t* p) { return _mm512_loadu_si512(p); }
    static void store(bound_t* p, V v) { _mm512_storeu_si512(p, v); }
    static V set1(int32_t x) { return _mm512_set1_epi32(x); }
    static V add(V a, V b) { return _mm512_add_epi32(a, b); }
    static V band(V a, V b) { return _mm512_and_si512(a, b); }
    static V max(V a, V b) { return _mm512_mask_max_epi32(a, 0xffff, a, b); }
    static Guard finite(V kj) { return _mm512_cmplt_epi32_mask(kj, _mm512_set1_epi32(BOUND_INFINITY)); }
    static V relax(V r, V s, Guard g) { return _mm512_mask_min_epi32(r, g, r, s); }
    static Mask none() { return 0; }
    static Mask either(Mask a, Mask b) { return static_cast<Mask>(a | b); }
    static Mask greater(V a, V b) { return _mm512_cmpgt_epi32_mask(a, b); }
    static bool any(Mask m) { return m != 0; }
    static uint32_t bits(Mask m) { return m; }
    static uint32_t guardBits(Guard g) { return g; }
    static V sub(V a, V b) { return _mm512_sub_epi32(a, b); }
    static V halve(V a) { return _mm512_maskz_srai_epi32(0xffff, a, 1); }
    static Mask both(Mask a, Mask b) { return static_cast<Mask>(a & b); }
    static Mask except(Mask a, Mask b) { return static_cast<Mask>(a & ~b); }
    static Mask laneIs(uint32_t lane) { return static_cast<Mask>(lane < 16 ? 1u << lane : 0u); }
    static Mask guardMask(Guard g) { return g; }
    static V where(Mask m, V yes, V no) { return _mm512_mask_mov_epi32(no, m, yes); }
    static Mask all() { return 0xffff; }
    static V bor(V a, V b) { return _mm512_or_si512(a, b); }
    static V bxor(V a, V b) { return _mm512_xor_si512(a, b); }
    static V signs(V a) { return _mm512_maskz_srai_epi32(0xffff, a, 31); }
    static V iota() { return _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15); }
    static V mul(V a, V b) { return _mm512_mullo_epi32(a, b); }
    static Mask equal(V a, V b) { return _mm512_cmpeq_epi32_mask(a, b); }
    static V gather(const bound_t* base, V index)
    {
        return _mm512_mask_i32gather_epi32(_mm512_setzero_si512(), 0xffff, index, base, 4);
    }
    static Mask lanesFrom(uint32_t k) { return static_cast<Mask>(k < 16 ? (0xffffu << k) & 0xffffu : 0u); }
    static V load16(const int16_t* p)
    {
        return _mm512_maskz_cvtepi16_epi32(0xffff, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)));
    }
    static void store16(int16_t* p, V v) { _mm512_mask_cvtepi32_storeu_epi16(p, 0xffff, v); }
    static uint32_t orLanes(V a)
    {
        const __m256i x = _mm256_or_si256(_mm512_maskz_extracti32x8_epi32(0xff, a, 0), _mm512_maskz_extracti32x8_epi32(0xff, a, 1));
        __m128i y = _mm_or_si128(_mm256_castsi256_si128(x), _mm256_extracti128_si256(x, 1));
        y = _mm_or_si128(y, _mm_shuffle_epi32(y, 0x4e));
        y = _mm_or_si128(y, _mm_shuffle_epi32(y, 0xb1));
        return static_cast<uint32_t>(_mm_cvtsi128_si32(y));
    }
};

#include "dbm/kernels_vector_body.h"

// From 16 bounds on the sixteen lanes run; below, the AVX2 kernels (a processor with these
// instructions has those too).
bool closePivots(bound_t* dbm, uint32_t dim, const uint32_t* pivots, bool testDiagonal)
{
    if (dim < 16) return avx2::table.closePivots(dbm, dim, pivots, testDiagonal);
    return closePivotsAny<Ops16>(dbm, dim, pivots, testDiagonal);
}

void relaxRow(bound_t* rowI, const bound_t* rowK, bound_t ik, uint32_t n)
{
    if (n < 16) return avx2::table.relaxRow(rowI, rowK, ik, n);
    relaxRowAny<Ops16>(rowI, rowK, ik, n);
}

relation_t relation(const bound_t* a, const bound_t* b, uint32_t n)
{
    if (n < 16) return avx2::table.relation(a, b, n);
    return relationAny<Ops16>(a, b, n);
}

bool isLessEqual(const bound_t* a, const bound_t* b, uint32_t n)
{
    if (n < 16) return avx2::table.isLessEqual(a, b, n);
    return isLessEqualAny<Ops16>(a, b, n);
}

void maxInto(bound_t* a, const bound_t* b, uint32_t n)
{
    if (n < 16) return avx2::table.maxInto(a, b, n);
    maxIntoAny<Ops16>(a, b, n);
}

uint32_t graphBetweenLeaders(const bound_t* dbm, uint32_t n, const uint32_t* leaders, uint32_t leaderCount,
                             const uint32_t* leaderBits, uint32_t* bitMatrix)
{
    const auto held = [&](auto run) { return run(dbm, n, leaders, leaderCount, leaderBits, bitMatrix); };
    if (n < 16) return avx2::table.graphBetweenLeaders(dbm, n, leaders, leaderCount, leaderBits, bitMatrix);
    switch ((n + 15) / 16) {
    case 1: return held(graphBetweenLeadersHeld<Ops16, 1>);
    case 2: return held(graphBetweenLeadersHeld<Ops16, 2>);
    case 3: return held(graphBetweenLeadersHeld<Ops16, 3>);
    case 4: return held(graphBetweenLeadersHeld<Ops16, 4>);
    default: return genericKernels.graphBetweenLeaders(dbm, n, leaders, leaderCount, leaderBits, bitMatrix);
    }
}

// The first `left` lanes, all sixteen when left is 16 or more.
__mmask16 firstLanes(uint32_t left) { return static_cast<__mmask16>(left >= 16 ? 0xffffu : (1u << left) - 1); }

// The stored bounds of a graph against the matrix, sixteen at a time. Index pairs: the pairs are
// widened to entry numbers and the matrix's entries gathered. Bit matrix: sixteen entries of the
// matrix at a time, with the stored bounds of their set bits expanded into the lanes of those bits.
uint32_t compareGraph(const bound_t* dbm, const GraphView& g, bool wantLooser)
{
    uint32_t found = 0;
    const auto done = [&] { return (found & GRAPH_TIGHTER) && ((found & GRAPH_LOOSER) || !wantLooser); };
    const auto compare = [&](__mmask16 lanes, __m512i stored, __m512i entries) {
        if (_mm512_mask_cmplt_epi32_mask(lanes, stored, entries) != 0) found |= GRAPH_TIGHTER;
        if (_mm512_mask_cmpgt_epi32_mask(lanes, stored, entries) != 0) found |= GRAPH_LOOSER;
    };
    const auto boundsFrom = [&](uint32_t k, __mmask16 lanes) {
        return g.is16 ? _mm512_maskz_cvtepi16_epi32(lanes, _mm256_maskz_loadu_epi16(lanes, reinterpret_cast<const int16_t*>(g.bounds) + k))
                      : _mm512_maskz_loadu_epi32(lanes, g.bounds + k);
    };
    if (g.indexBits != 0) {
        const __m512i n = _mm512_set1_epi32(static_cast<int32_t>(g.n));
        const __m512i indexMask = _mm512_set1_epi32(static_cast<int32_t>((1u << g.indexBits) - 1));
        const __m128i shift = _mm_cvtsi32_si128(static_cast<int32_t>(g.indexBits));
        for (uint32_t k = 0; k < g.count; k += 16) {
            const __mmask16 lanes = firstLanes(g.count - k);
            __m512i pairs;
            if (g.indexBits == 4)
                pairs = _mm512_maskz_cvtepu8_epi32(lanes, _mm_maskz_loadu_epi8(lanes, reinterpret_cast<const uint8_t*>(g.positions) + k));
            else if (g.indexBits == 8)
                pairs = _mm512_maskz_cvtepu16_epi32(
                    lanes, _mm256_maskz_loadu_epi16(lanes, reinterpret_cast<const uint16_t*>(g.positions) + k));
            else
                pairs = _mm512_maskz_loadu_epi32(lanes, g.positions + k);
            const __m512i i = _mm512_and_si512(pairs, indexMask);
            const __m512i j = _mm512_and_si512(_mm512_maskz_srl_epi32(lanes, pairs, shift), indexMask);
            const __m512i e = _mm512_add_epi32(_mm512_mullo_epi32(i, n), j);
            const __m512i entries = _mm512_mask_i32gather_epi32(_mm512_setzero_si512(), lanes, e, dbm, 4);
            compare(lanes, boundsFrom(k, lanes), entries);
            if (done()) break;
        }
        return found;
    }
    const uint32_t size = g.n * g.n;
    uint32_t k = 0;
    for (uint32_t e = 0; e < size && k < g.count; e += 16) {
        uint32_t bits = (g.positions[e >> 5] >> (e & 31)) & firstLanes(size - e);
        if (bits == 0) continue;
        uint32_t taken = static_cast<uint32_t>(__builtin_popcount(bits));
        if (taken > g.count - k) {
            // Only the first bits have bounds: the walk ends with the count.
            taken = g.count - k;
            bits = _pdep_u32(_bzhi_u32(~0u, taken), bits);
        }
        const __mmask16 lanes = static_cast<__mmask16>(bits);
        const __m512i stored = _mm512_maskz_expand_epi32(lanes, boundsFrom(k, static_cast<__mmask16>(_bzhi_u32(0xffffu, taken))));
        compare(lanes, stored, _mm512_maskz_loadu_epi32(lanes, dbm + e));
        k += taken;
        if (done()) break;
    }
    return found;
}

void fill(bound_t* p, bound_t v, uint32_t n)
{
    if (n < 16) return avx2::table.fill(p, v, n);
    fillAny<Ops16>(p, v, n);
}

bool dropAboveLU(bound_t* dbm, uint32_t dim, const int32_t* lower, const int32_t* upper)
{
    if (dim < 16) return avx2::table.dropAboveLU(dbm, dim, lower, upper);
    return dropAboveLUAny<Ops16>(dbm, dim, lower, upper);
}

uint32_t magnitudeBits(const bound_t* p, uint32_t n)
{
    if (n < 16) return avx2::table.magnitudeBits(p, n);
    return magnitudeBitsAny<Ops16>(p, n);
}

void fixedDifferences(const bound_t* dbm, uint32_t n, uint32_t c, uint32_t* bits)
{
    if (n - c - 1 < 16) return avx2::table.fixedDifferences(dbm, n, c, bits);
    fixedDifferencesAny<Ops16>(dbm, n, c, bits);
}

uint32_t compareFull(const bound_t* dbm, const FullView& f, uint32_t stop)
{
    if (f.n < 16) return avx2::table.compareFull(dbm, f, stop);
    return compareFullAny<Ops16>(dbm, f, stop);
}

void writeFull(const bound_t* dbm, uint32_t n, bool is16, uint32_t* out)
{
    if (n < 16) return avx2::table.writeFull(dbm, n, is16, out);
    writeFullAny<Ops16>(dbm, n, is16, out);
}

void readFull(bound_t* dbm, const FullView& f)
{
    if (f.n < 16) return avx2::table.readFull(dbm, f);
    readFullAny<Ops16>(dbm, f);
}

}  // namespace

const KernelTable table = {
    closePivots,   relaxRow, relation,      isLessEqual,     maxInto, graphBetweenLeaders, compareGraph,
    fill,          dropAboveLU, magnitudeBits, fixedDifferences, compareFull, writeFull, readFull,
};

}  // namespace dbm::kernels::avx512

#pragma GCC pop_options

namespace dbm::kernels {
const KernelTable* avx2Kernels() { return &avx2::table; }
const KernelTable* avx512Kernels() { return &avx512::table; }
}  // namespace dbm::kernels

#else

namespace dbm::kernels {
const KernelTable* avx2Kernels() { return nullptr; }
const KernelTable* avx512Kernels() { return nullptr; }
}  // namespace dbm::kernels

#endif
