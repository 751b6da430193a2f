#pragma once

// Summaries of closed zones that tell most unrelated zones apart without reading them, and the
// vector scan over the summaries of a group of stored zones.
//
// A zone A inside a zone B has every bound of A at most B's (both closed). So a test "bound [i][j]
// is at most t" that holds in B holds in A: a word of such tests, one bit each, has every bit of
// B's word set in A's. Zones whose words are not ordered either way by inclusion are not ordered
// by inclusion either, and a stored zone whose word allows neither is Different without being read.
//
// The order bits of a zone (CSS::orderBits) are such a word with fixed tests: x_i - x_j <= 0 for
// every pair of clocks, folded into 32 bits. With many clocks every bit folds dozens of pairs and
// is set in nearly every zone. A group of stored zones therefore chooses its own 32 tests from its
// zones (`chooseTests`): bounds that differ among them, each with a threshold that splits them,
// chosen so that the zones that no other includes are told apart. A group chooses again when it
// has grown well past the zones it chose from, or when its tests let too many unrelated zones
// through.

#include <cstdint>
#include <vector>

#include "dbm/bound.h"

namespace storage {

inline constexpr uint32_t summaryTests = 32;

// One test: bound `entry` (i * dim + j) is at most `threshold`.
struct BoundTest
{
    uint32_t entry;
    dbm::bound_t threshold;
};

// The word of the tests for a closed matrix: bit k set when test k holds.
uint32_t testBits(const dbm::bound_t* matrix, const BoundTest* tests, uint32_t count);

// Chooses up to summaryTests tests for zones like the sample's (closed, non-empty matrices of
// dimension dim) into `tests`; returns how many. The same sample gives the same tests.
uint32_t chooseTests(const std::vector<const dbm::bound_t*>& sample, uint32_t dim, BoundTest* tests);

// Whether stored words may be related to a probe word: the probe's zone inside the stored one
// (bit 0) or the stored zone inside the probe's (bit 1); 0 says Different.
inline uint32_t wordRelations(uint32_t stored, uint32_t probe)
{
    return ((stored & ~probe) == 0 ? 1u : 0u) | ((probe & ~stored) == 0 ? 2u : 0u);
}

// The implementations of the scan; every machine has Scalar and (on x86-64) Sse2.
enum class ScanKernel { Scalar, Sse2, Avx2 };

// 1 + the largest index below `end` whose word may be related to the probe either way, or 0 when
// there is none.
uint32_t previousCandidate(const uint32_t* words, uint32_t end, uint32_t probe);

// The kernel previousCandidate uses: the best the machine runs, chosen on first use.
ScanKernel activeScanKernel();
bool scanKernelSupported(ScanKernel kernel);
// Makes previousCandidate use the kernel (for tests); false, and no change, when the machine
// lacks it.
bool selectScanKernel(ScanKernel kernel);

}  // namespace storage
