// Confidence bounds of probabilities and the histograms of run values.

#include <gtest/gtest.h>

#include <cfloat>
#include <sstream>

#include "smc/sample_histogram.h"

namespace {

TEST(ProbabilityBounds, ExactIntervalsAtTheirEnds)
{
    struct Case
    {
        double k, n, alpha, lower, upper;
    };
    const Case cases[] = {
        {0, 1, 0.05, 0, 0.975},
        {1, 1, 0.05, 0.025, 1},
        {738, 738, 0.05, 0.995014, 1},
        {0, 738, 0.05, 0, 0.00498601},
        {5, 10, 0.05, 0.187086, 0.812914},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.k << " of " << c.n);
        EXPECT_NEAR(lowerProbabilityBound(c.k, c.n, c.alpha), c.lower, 5e-7);
        EXPECT_NEAR(upperProbabilityBound(c.k, c.n, c.alpha), c.upper, 5e-7);
    }
    // Exactly 0 and exactly 1 where no success or no failure was seen.
    EXPECT_EQ(lowerProbabilityBound(0, 50, 0.01), 0.0);
    EXPECT_EQ(upperProbabilityBound(50, 50, 0.01), 1.0);
}

std::string text(const SampleHistogram& h)
{
    std::ostringstream out;
    h.print(out);
    return out.str();
}

TEST(SampleHistogram, BucketsOfTimesAndOfTransitionCounts)
{
    struct Case
    {
        const char* name;
        bool continuous;
        uint64_t buckets;
        std::vector<double> values;
        double width;
        std::string printed;
    };
    const Case cases[] = {
        {"equal counts", false, 0, {3, 3, 3}, 0, "Values in [3,3] mean=3 steps=1: 3\n"},
        {"times, integral maximum gets a bucket of its own", true, 0, {0.5, 1.5, 2.0}, 1,
         "Values in [0.5,2] mean=1.33333 steps=1.5: 2 1\n"},
        {"counts, requested buckets rounded to whole widths", false, 10, {0, 3, 7, 9}, 0,
         "Values in [0,9] mean=4.75 steps=1: 1 0 0 1 0 0 0 1 0 1\n"},
        {"all-zero times, requested buckets", true, 100, {0, 0, 0}, 0, "Values in [0,0] mean=0 steps=2.22045e-16: 3\n"},
        {"counts, square root of the sample size", false, 0, {0, 1, 2, 3, 4, 5, 6, 7, 8}, 0,
         "Values in [0,8] mean=4 steps=3: 3 3 3\n"},
        {"counts, requested width", false, 0, {0, 10}, 4, "Values in [0,10] mean=5 steps=5: 1 0 1\n"},
        {"counts, width beyond the range", false, 0, {2, 3}, 7, "Values in [2,3] mean=2.5 steps=1: 2\n"},
        {"times, width beyond the range", true, 0, {2, 3}, 7, "Values in [2,3] mean=2.5 steps=7: 2\n"},
        // One requested bucket and an integral maximum still gives a bucket.
        {"times, one bucket requested", true, 1, {0, 4}, 0, "Values in [0,4] mean=2 steps=4: 1 1\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SampleHistogram h;
        h.fill(c.continuous, c.buckets, c.values, static_cast<int64_t>(c.values.size()) + 1, "label", c.width);
        EXPECT_EQ(text(h), c.printed);
        EXPECT_EQ(h.runsWithoutValue, 1u);
        EXPECT_EQ(h.label, "label");
    }
}

TEST(SampleHistogram, NonIntegralMaximumWidensTheLastBucket)
{
    SampleHistogram h;
    h.fill(true, 0, {0.25, 0.75}, 2, "t", 0.5);
    EXPECT_EQ(h.bucketCount, 1u);
    EXPECT_EQ(h.bucketWidth, 0.5 * (1 + DBL_EPSILON));
    EXPECT_EQ(h.getCount(0), 2u);
    EXPECT_EQ(h.largestCount, 2u);
}

TEST(SampleHistogram, EmptySampleLeavesTheHistogramAsItWas)
{
    SampleHistogram h;
    h.fill(false, 0, {}, 5, "x", 0);
    EXPECT_FALSE(h.isFilled());
    EXPECT_EQ(text(h), "");
    EXPECT_EQ(h.label, "values");
    h.fill(false, 0, {1, 2}, 2, "x", 0);
    const std::string before = text(h);
    h.fill(false, 0, {}, 7, "y", 0);
    EXPECT_EQ(text(h), before);
}

TEST(SampleHistogram, SeriesAndMeanHalfWidth)
{
    SampleHistogram h;
    h.fill(false, 2, {0, 0, 2, 2}, 4, "n", 0);
    ASSERT_EQ(h.bucketCount, 3u);  // widths of 1 over the range 0..2
    std::ostringstream cumulative;
    h.printCumulativeLowerSeries(cumulative, 0.05);
    // Four entries: 0, 2, 2 and 4 of the 4 runs below each boundary.
    EXPECT_EQ(cumulative.str().substr(0, 5), "4 0 0");
    std::ostringstream probability;
    h.printProbabilityUpperSeries(probability, 0.05);
    EXPECT_EQ(probability.str().rfind("3 0 ", 0), 0u);
    // Mean 1, sample standard deviation 2/sqrt(3): t(0.975, 3) * s / 2.
    EXPECT_NEAR(h.meanConfidenceHalfWidth(0.05), 3.182446 * 1.154701 / 2, 1e-5);
}

}  // namespace
