#include "statespace/zone_summary.h"

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "dbm/dbm.h"

using namespace storage;

namespace {

using Matrix = std::vector<dbm::bound_t>;

uint32_t testSeed()
{
    const char* env = std::getenv("MIRVEK_TEST_SEED");
    return env ? static_cast<uint32_t>(std::strtoul(env, nullptr, 10)) : 20261211u;
}

// A random closed zone of many clocks: clocks bounded above and below and a few differences
// bounded, with constants up to 40, so that most pairs of zones are unrelated and some include
// one another.
Matrix randomZone(std::mt19937& rng, uint32_t dim)
{
    Matrix m(dim * dim);
    dbm::init(m.data(), dim);
    std::uniform_int_distribution<uint32_t> clock(0, dim - 1);
    std::uniform_int_distribution<int32_t> value(0, 40);
    const int steps = static_cast<int>(dim / 2 + rng() % dim);
    for (int s = 0; s < steps; ++s) {
        Matrix next = m;
        const uint32_t i = clock(rng), j = clock(rng);
        if (i == j) continue;
        const int32_t v = i == 0 ? -value(rng) / 4 : value(rng);
        if (dbm::constrain(next.data(), dim, i, j, rng() % 3 == 0 ? dbm::boundLT(v) : dbm::boundLE(v))) {
            m = next;
        }
    }
    return m;
}

bool includes(const Matrix& outer, const Matrix& inner, uint32_t dim)
{
    const dbm::relation_t r = dbm::relation(inner.data(), dim, outer.data());
    return r == dbm::SUBSET || r == dbm::EQUAL;
}

// A few zones derived from `zones` that lie inside them: each constrained once more.
std::vector<Matrix> withInnerZones(std::mt19937& rng, std::vector<Matrix> zones, uint32_t dim)
{
    const size_t n = zones.size();
    for (size_t k = 0; k < n; k += 3) {
        Matrix inner = zones[k];
        const uint32_t i = 1 + static_cast<uint32_t>(rng() % (dim - 1));
        if (dbm::constrain(inner.data(), dim, i, 0, dbm::boundLE(static_cast<int32_t>(rng() % 30)))) {
            zones.push_back(inner);
        }
        zones.push_back(zones[k]);  // an equal zone: equal words
    }
    return zones;
}

}  // namespace

// The words of the chosen tests never tell apart a zone and a zone that includes it, whatever
// the sample they were chosen from; and with many clocks they tell apart most unrelated zones,
// where the fixed order bits would not.
TEST(ZoneSummary, ChosenTestsKeepInclusionsAndSplitUnrelatedZones)
{
    const uint32_t seed = testSeed();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    for (uint32_t dim : {2u, 4u, 9u, 20u, 39u}) {
        SCOPED_TRACE("dimension " + std::to_string(dim));
        std::vector<Matrix> zones;
        for (int i = 0; i < 60; ++i) {
            zones.push_back(randomZone(rng, dim));
        }
        zones = withInnerZones(rng, zones, dim);
        for (uint32_t sampleSize : {2u, 8u, 40u}) {
            std::vector<const dbm::bound_t*> sample;
            for (uint32_t k = 0; k < sampleSize && k < zones.size(); ++k) {
                sample.push_back(zones[(k * 7) % zones.size()].data());
            }
            BoundTest tests[summaryTests];
            const uint32_t count = chooseTests(sample, dim, tests);
            ASSERT_LE(count, summaryTests);
            BoundTest again[summaryTests];
            ASSERT_EQ(chooseTests(sample, dim, again), count) << "the same sample, the same tests";
            for (uint32_t k = 0; k < count; ++k) {
                EXPECT_EQ(tests[k].entry, again[k].entry);
                EXPECT_EQ(tests[k].threshold, again[k].threshold);
                EXPECT_NE(tests[k].entry / dim, tests[k].entry % dim) << "never a diagonal bound";
            }
            size_t unrelated = 0, toldApart = 0, inclusions = 0;
            for (const Matrix& a : zones) {
                const uint32_t wa = testBits(a.data(), tests, count);
                for (const Matrix& b : zones) {
                    const uint32_t wb = testBits(b.data(), tests, count);
                    if (includes(b, a, dim)) {
                        ++inclusions;
                        // a inside b: a's word has every bit of b's.
                        ASSERT_NE(wordRelations(wb, wa) & 1u, 0u);
                        ASSERT_NE(wordRelations(wa, wb) & 2u, 0u);
                    } else if (!includes(a, b, dim)) {
                        ++unrelated;
                        toldApart += wordRelations(wb, wa) == 0 ? 1 : 0;
                    }
                }
            }
            EXPECT_GT(inclusions, zones.size());
            if (dim >= 20 && sampleSize >= 8) {
                // The more zones the tests were chosen from, the more they split.
                EXPECT_GT(toldApart, sampleSize > 8 ? unrelated * 3 / 4 : unrelated / 3) << "sample of " << sampleSize;
            }
        }
    }
}

// A sample whose zones are all alike, or of one zone, gives no test: every word is 0 and every
// pair of zones stays a candidate.
TEST(ZoneSummary, AlikeZonesGiveNoTest)
{
    const uint32_t dim = 5;
    Matrix m(dim * dim);
    dbm::init(m.data(), dim);
    BoundTest tests[summaryTests];
    EXPECT_EQ(chooseTests({m.data(), m.data(), m.data()}, dim, tests), 0u);
    EXPECT_EQ(chooseTests({m.data()}, dim, tests), 0u);
    EXPECT_EQ(testBits(m.data(), tests, 0), 0u);
    EXPECT_EQ(wordRelations(0, 0), 3u);
}

// Every kernel the machine runs finds the same candidates as a plain loop, for every end of the
// scan: words that tie with the probe, words above and below it, unrelated words, and runs long
// and short enough to leave the vector loops a remainder.
TEST(ZoneSummary, ScanKernelsAgreeWithAPlainLoop)
{
    const uint32_t seed = testSeed();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    const ScanKernel initial = activeScanKernel();
    EXPECT_TRUE(scanKernelSupported(ScanKernel::Scalar));
#if defined(__x86_64__)
    EXPECT_TRUE(scanKernelSupported(ScanKernel::Sse2));
    EXPECT_NE(initial, ScanKernel::Scalar);
#endif
    int ran = 0;
    for (ScanKernel kernel : {ScanKernel::Scalar, ScanKernel::Sse2, ScanKernel::Avx2}) {
        if (!selectScanKernel(kernel)) {
            continue;
        }
        ++ran;
        SCOPED_TRACE("kernel " + std::to_string(static_cast<int>(kernel)));
        EXPECT_EQ(activeScanKernel(), kernel);
        for (uint32_t length : {0u, 1u, 7u, 8u, 9u, 15u, 16u, 17u, 33u, 100u}) {
            for (int round = 0; round < 20; ++round) {
                const uint32_t probe = static_cast<uint32_t>(rng());
                std::vector<uint32_t> words(length);
                for (uint32_t& w : words) {
                    switch (rng() % 5) {
                    case 0: w = probe; break;                                      // equal
                    case 1: w = probe & static_cast<uint32_t>(rng()); break;       // around it
                    case 2: w = probe | static_cast<uint32_t>(rng()); break;       // inside it
                    default: w = static_cast<uint32_t>(rng()); break;              // mostly unrelated
                    }
                    if (round % 4 == 0 && rng() % 8 != 0) {
                        w = (probe ^ 0x1u) | 0x2u;  // long runs of unrelated words
                    }
                }
                for (uint32_t end = 0; end <= length; ++end) {
                    uint32_t expected = 0;
                    for (uint32_t i = end; i > 0; --i) {
                        if (wordRelations(words[i - 1], probe) != 0) {
                            expected = i;
                            break;
                        }
                    }
                    ASSERT_EQ(previousCandidate(words.data(), end, probe), expected)
                        << "length " << length << " end " << end;
                }
            }
        }
    }
    EXPECT_GE(ran, 1);
    EXPECT_TRUE(selectScanKernel(initial));
}
