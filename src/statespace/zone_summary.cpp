#include "statespace/zone_summary.h"

#include <algorithm>
#include <atomic>
#include <bit>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define MIRVEK_SCAN_X86 1
#endif

namespace storage {

uint32_t testBits(const dbm::bound_t* m, const BoundTest* tests, uint32_t count)
{
    uint32_t bits = 0;
    for (uint32_t k = 0; k < count; ++k) {
        bits |= static_cast<uint32_t>(m[tests[k].entry] <= tests[k].threshold) << k;
    }
    return bits;
}

namespace {

// The bits set in a word, without relying on an instruction that not every x86-64 has.
inline uint32_t bitCount(uint32_t v)
{
    v = v - ((v >> 1) & 0x55555555u);
    v = (v & 0x33333333u) + ((v >> 2) & 0x33333333u);
    return (((v + (v >> 4)) & 0x0f0f0f0fu) * 0x01010101u) >> 24;
}

struct Candidate
{
    BoundTest test;
    uint32_t holds;    // the sample's zones in which the test holds
    uint32_t balance;  // the zones on the smaller side of the split
};

}  // namespace

uint32_t chooseTests(const std::vector<const dbm::bound_t*>& sample, uint32_t dim, BoundTest* tests)
{
    // The sample's zones, at most 32, as the bits of a mask. A test is the set of zones in which
    // it holds. Zones a and b are told apart once some chosen test holds in a and not in b and
    // another in b and not in a; `pending[a]` holds the b for which a test of the first kind is
    // still missing. The candidate tests of a bound: the threshold that splits the sample most
    // evenly, and for a difference of clocks 0 as well. Each round takes the candidate that settles the most pending (a, b), the more
    // even split on a tie, then the lower bound index; once no candidate settles any, the rest
    // go by their splits alone.
    const uint32_t n = std::min<uint32_t>(static_cast<uint32_t>(sample.size()), 32);
    if (n < 2 || dim < 2) {
        return 0;
    }
    const uint32_t all = n == 32 ? ~0u : (1u << n) - 1;
    thread_local std::vector<Candidate> candidates;
    candidates.clear();
    dbm::bound_t values[32];
    dbm::bound_t sorted[32];
    for (uint32_t i = 0; i < dim; ++i) {
        for (uint32_t j = 0; j < dim; ++j) {
            if (i == j) {
                continue;
            }
            const uint32_t entry = i * dim + j;
            dbm::bound_t low = sample[0][entry];
            dbm::bound_t high = low;
            for (uint32_t z = 0; z < n; ++z) {
                values[z] = sample[z][entry];
                low = std::min(low, values[z]);
                high = std::max(high, values[z]);
            }
            if (low == high) {
                continue;  // the same in every zone: it tells nothing
            }
            std::copy(values, values + n, sorted);
            std::sort(sorted, sorted + n);
            // The threshold below which about half of the zones lie, and never the largest value.
            dbm::bound_t threshold = sorted[(n - 1) / 2];
            if (threshold == high) {
                threshold = *(std::lower_bound(sorted, sorted + n, threshold) - 1);
            }
            auto add = [&](dbm::bound_t t) {
                uint32_t holds = 0;
                for (uint32_t z = 0; z < n; ++z) {
                    holds |= static_cast<uint32_t>(values[z] <= t) << z;
                }
                const uint32_t inside = bitCount(holds);
                candidates.push_back({{entry, t}, holds, std::min(inside, n - inside)});
            };
            add(threshold);
            // Between clocks, also whether the zone orders them (x_i - x_j <= 0), when that splits
            // the sample otherwise: zones that clocks reset in different orders leave behind.
            if (i != 0 && j != 0 && threshold != dbm::BOUND_LE_ZERO && low <= dbm::BOUND_LE_ZERO &&
                high > dbm::BOUND_LE_ZERO) {
                add(dbm::BOUND_LE_ZERO);
            }
        }
    }
    uint32_t pending[32];
    for (uint32_t a = 0; a < n; ++a) {
        pending[a] = all & ~(1u << a);
    }
    uint32_t count = 0;
    size_t left = candidates.size();
    while (count < summaryTests && left > 0) {
        size_t best = 0;
        uint32_t bestScore = 0;
        uint32_t bestBalance = 0;
        for (size_t c = 0; c < left; ++c) {
            uint32_t score = 0;
            const uint32_t holds = candidates[c].holds;
            for (uint32_t rest = holds; rest != 0; rest &= rest - 1) {
                score += bitCount(pending[std::countr_zero(rest)] & ~holds);
            }
            if (c == 0 || score > bestScore || (score == bestScore && candidates[c].balance > bestBalance)) {
                best = c;
                bestScore = score;
                bestBalance = candidates[c].balance;
            }
        }
        if (bestScore == 0) {
            break;
        }
        const Candidate taken = candidates[best];
        // The candidates stay in bound order: the taken one leaves its place.
        candidates.erase(candidates.begin() + static_cast<std::ptrdiff_t>(best));
        --left;
        tests[count++] = taken.test;
        for (uint32_t rest = taken.holds; rest != 0; rest &= rest - 1) {
            pending[std::countr_zero(rest)] &= taken.holds;
        }
    }
    // Nothing left to settle in the sample: the most even splits, for the zones still to come.
    std::stable_sort(candidates.begin(), candidates.begin() + static_cast<std::ptrdiff_t>(left),
                     [](const Candidate& a, const Candidate& b) { return a.balance > b.balance; });
    for (size_t c = 0; c < left && count < summaryTests; ++c) {
        tests[count++] = candidates[c].test;
    }
    return count;
}

namespace {

uint32_t previousScalar(const uint32_t* words, uint32_t end, uint32_t probe)
{
    for (uint32_t i = end; i > 0; --i) {
        if (wordRelations(words[i - 1], probe) != 0) {
            return i;
        }
    }
    return 0;
}

#ifdef MIRVEK_SCAN_X86

uint32_t previousSse2(const uint32_t* words, uint32_t end, uint32_t probe)
{
    const __m128i p = _mm_set1_epi32(static_cast<int32_t>(probe));
    const __m128i zero = _mm_setzero_si128();
    uint32_t i = end;
    for (; i >= 8; i -= 8) {
        const __m128i s0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(words + i - 8));
        const __m128i s1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(words + i - 4));
        // (stored & ~probe) == 0 or (probe & ~stored) == 0, four words at a time.
        const __m128i r0 = _mm_or_si128(_mm_cmpeq_epi32(_mm_andnot_si128(p, s0), zero),
                                        _mm_cmpeq_epi32(_mm_andnot_si128(s0, p), zero));
        const __m128i r1 = _mm_or_si128(_mm_cmpeq_epi32(_mm_andnot_si128(p, s1), zero),
                                        _mm_cmpeq_epi32(_mm_andnot_si128(s1, p), zero));
        const auto mask = static_cast<uint32_t>(_mm_movemask_ps(_mm_castsi128_ps(r0))) |
                          static_cast<uint32_t>(_mm_movemask_ps(_mm_castsi128_ps(r1))) << 4;
        if (mask != 0) {
            return i - 8 + static_cast<uint32_t>(std::bit_width(mask));
        }
    }
    return previousScalar(words, i, probe);
}

__attribute__((target("avx2"))) uint32_t previousAvx2(const uint32_t* words, uint32_t end, uint32_t probe)
{
    const __m256i p = _mm256_set1_epi32(static_cast<int32_t>(probe));
    const __m256i zero = _mm256_setzero_si256();
    uint32_t i = end;
    for (; i >= 16; i -= 16) {
        const __m256i s0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(words + i - 16));
        const __m256i s1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(words + i - 8));
        const __m256i r0 = _mm256_or_si256(_mm256_cmpeq_epi32(_mm256_andnot_si256(p, s0), zero),
                                           _mm256_cmpeq_epi32(_mm256_andnot_si256(s0, p), zero));
        const __m256i r1 = _mm256_or_si256(_mm256_cmpeq_epi32(_mm256_andnot_si256(p, s1), zero),
                                           _mm256_cmpeq_epi32(_mm256_andnot_si256(s1, p), zero));
        const auto mask = static_cast<uint32_t>(_mm256_movemask_ps(_mm256_castsi256_ps(r0))) |
                          static_cast<uint32_t>(_mm256_movemask_ps(_mm256_castsi256_ps(r1))) << 8;
        if (mask != 0) {
            return i - 16 + static_cast<uint32_t>(std::bit_width(mask));
        }
    }
    return previousSse2(words, i, probe);
}

#endif

using scan_t = uint32_t (*)(const uint32_t*, uint32_t, uint32_t);

scan_t kernelFunction(ScanKernel kernel)
{
    switch (kernel) {
#ifdef MIRVEK_SCAN_X86
    case ScanKernel::Avx2:
        return &previousAvx2;
    case ScanKernel::Sse2:
        return &previousSse2;
#endif
    default:
        return &previousScalar;
    }
}

ScanKernel bestKernel()
{
#ifdef MIRVEK_SCAN_X86
    return __builtin_cpu_supports("avx2") ? ScanKernel::Avx2 : ScanKernel::Sse2;
#else
    return ScanKernel::Scalar;
#endif
}

struct Dispatch
{
    std::atomic<scan_t> scan;
    std::atomic<ScanKernel> kernel;
    Dispatch() : scan(kernelFunction(bestKernel())), kernel(bestKernel()) {}
};

Dispatch& dispatch()
{
    static Dispatch d;
    return d;
}

}  // namespace

uint32_t previousCandidate(const uint32_t* words, uint32_t end, uint32_t probe)
{
    return dispatch().scan.load(std::memory_order_relaxed)(words, end, probe);
}

ScanKernel activeScanKernel()
{
    return dispatch().kernel.load(std::memory_order_relaxed);
}

bool scanKernelSupported(ScanKernel kernel)
{
    switch (kernel) {
    case ScanKernel::Scalar:
        return true;
#ifdef MIRVEK_SCAN_X86
    case ScanKernel::Sse2:
        return true;
    case ScanKernel::Avx2:
        return __builtin_cpu_supports("avx2");
#endif
    default:
        return false;
    }
}

bool selectScanKernel(ScanKernel kernel)
{
    if (!scanKernelSupported(kernel)) {
        return false;
    }
    dispatch().scan.store(kernelFunction(kernel), std::memory_order_relaxed);
    dispatch().kernel.store(kernel, std::memory_order_relaxed);
    return true;
}

}  // namespace storage
