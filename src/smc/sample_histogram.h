#pragma once

// Statistics of probability estimates and of the values recorded by runs: the exact two-sided
// confidence interval of a probability, and the histogram that summarises a sample of run values
// (lengths in steps or durations in time) for the result report.

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

// Exact (Clopper-Pearson) bounds of a probability after k successes in n trials, each side taking
// alpha / 2, so that the interval has confidence 1 - alpha. The lower bound is exactly 0 when
// k = 0, the upper exactly 1 when k = n.
double lowerProbabilityBound(double k, double n, double alpha);
double upperProbabilityBound(double k, double n, double alpha);

class SampleHistogram
{
public:
    SampleHistogram() = default;
    SampleHistogram(const SampleHistogram& other);
    SampleHistogram& operator=(const SampleHistogram& other);

    // Summarises the sample: extremes, mean, sums, and the buckets. `continuous` tells times from
    // transition counts; `requestedBuckets` (0: the square root of the sample size) is used when
    // no bucket width is requested (`requestedWidth` <= 0). `totalRuns` counts the runs of the
    // sample, those without a value included. An empty sample changes nothing.
    void fill(bool continuous, uint64_t requestedBuckets, const std::vector<double>& values, int64_t totalRuns,
              const std::string& label, double requestedWidth);

    // "Values in [min,max] mean=m steps=w:" and the bucket counts, each after a blank, then an
    // end of line; nothing before the first fill. Numbers in the stream's current format.
    void print(std::ostream& os) const;

    // Confidence series per bucket (one count, then " x_i bound" per entry), over totalRuns
    // trials, with alpha / 2 per side.
    void printDensityLowerSeries(std::ostream& os, const double& alpha) const;
    void printDensityUpperSeries(std::ostream& os, const double& alpha) const;
    void printProbabilityLowerSeries(std::ostream& os, const double& alpha) const;
    void printProbabilityUpperSeries(std::ostream& os, const double& alpha) const;
    void printCumulativeLowerSeries(std::ostream& os, const double& alpha) const;
    void printCumulativeUpperSeries(std::ostream& os, const double& alpha) const;
    // Half the width of the two-sided 1 - alpha confidence interval of the mean (Student's t).
    double meanConfidenceHalfWidth(const double& alpha) const;

    bool isFilled() const { return counts != nullptr; }
    uint64_t getCount(uint64_t bucket) const { return counts[bucket]; }

    std::string label = "values";
    bool continuous = false;
    uint64_t totalRuns = 0;
    uint64_t runsWithoutValue = 0;
    uint64_t largestCount = 0;
    double minimum = 0;
    double maximum = 0;
    double bucketWidth = 0;
    double sum = 0;
    double sumOfSquares = 0;
    double mean = 0;
    uint64_t bucketCount = 0;

private:
    enum class Series { DensityLower, DensityUpper, ProbabilityLower, ProbabilityUpper };
    void printBucketSeries(std::ostream& os, double alpha, Series series) const;
    void printCumulativeSeries(std::ostream& os, double alpha, bool upper) const;

    std::unique_ptr<uint64_t[]> counts;
};
