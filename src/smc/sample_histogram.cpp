#include "smc/sample_histogram.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <ostream>

#include <boost/math/distributions/binomial.hpp>
#include <boost/math/distributions/students_t.hpp>

double lowerProbabilityBound(double k, double n, double alpha)
{
    return boost::math::binomial_distribution<double>::find_lower_bound_on_p(n, k, alpha / 2);
}

double upperProbabilityBound(double k, double n, double alpha)
{
    return boost::math::binomial_distribution<double>::find_upper_bound_on_p(n, k, alpha / 2);
}

SampleHistogram::SampleHistogram(const SampleHistogram& other)
{
    *this = other;
}

SampleHistogram& SampleHistogram::operator=(const SampleHistogram& other)
{
    if (this == &other) {
        return *this;
    }
    label = other.label;
    continuous = other.continuous;
    totalRuns = other.totalRuns;
    runsWithoutValue = other.runsWithoutValue;
    largestCount = other.largestCount;
    minimum = other.minimum;
    maximum = other.maximum;
    bucketWidth = other.bucketWidth;
    sum = other.sum;
    sumOfSquares = other.sumOfSquares;
    mean = other.mean;
    bucketCount = other.bucketCount;
    if (other.counts != nullptr) {
        counts = std::make_unique<uint64_t[]>(bucketCount);
        std::copy(other.counts.get(), other.counts.get() + bucketCount, counts.get());
    } else {
        counts.reset();
    }
    return *this;
}

namespace {

// Doubles to bucket counts: truncated toward zero (the arguments are never negative).
uint64_t toCount(double x)
{
    return x > 0 ? static_cast<uint64_t>(x) : 0;
}

}  // namespace

void SampleHistogram::fill(bool isContinuous, uint64_t requestedBuckets, const std::vector<double>& values,
                           int64_t runs, const std::string& name, double requestedWidth)
{
    if (values.empty()) {
        return;
    }
    const double n = static_cast<double>(values.size());
    minimum = maximum = sum = values[0];
    sumOfSquares = values[0] * values[0];
    totalRuns = static_cast<uint64_t>(runs);
    runsWithoutValue = static_cast<uint64_t>(runs) - values.size();
    for (size_t k = 1; k < values.size(); ++k) {
        const double x = values[k];
        if (x <= minimum) {
            minimum = x;
        }
        if (x >= maximum) {
            maximum = x;
        }
        sum += x;
        sumOfSquares += x * x;
    }
    mean = sum / n;
    continuous = isContinuous;
    label = name;
    const double range = maximum - minimum;
    const uint64_t squareRoot = toCount(std::ceil(std::sqrt(n)));

    // Times: the last bucket must still hold the maximum. An integral maximum gets a bucket of
    // its own; otherwise the width grows by one rounding step.
    auto integralMaximumRule = [&](uint64_t c) {
        if (maximum == std::floor(maximum)) {
            bucketCount = c + 1;
        } else {
            bucketCount = c;
            bucketWidth *= 1 + DBL_EPSILON;
        }
    };
    // Transition counts: whole widths of at least 1.
    auto integralWidth = [&](uint64_t c) {
        bucketWidth = std::max(1.0, std::round(range / static_cast<double>(c)));
        bucketCount = 1 + toCount(range / bucketWidth);
    };

    if (continuous) {
        if (requestedWidth > 0) {
            const uint64_t c = toCount(range / requestedWidth);
            if (c == 0) {
                bucketCount = 1;
                bucketWidth = requestedWidth;
            } else {
                bucketWidth = range / static_cast<double>(c);
                integralMaximumRule(c);
            }
        } else {
            uint64_t c = squareRoot;
            if (requestedBuckets != 0) {
                c = requestedBuckets;
                if (maximum == std::floor(maximum)) {
                    c -= 1;
                }
            }
            // One requested bucket and an integral maximum would ask for none: keep one.
            c = std::max<uint64_t>(c, 1);
            bucketWidth = range / static_cast<double>(c);
            if (bucketWidth == 0) {
                bucketCount = 1;
                bucketWidth = DBL_EPSILON;
            } else {
                integralMaximumRule(c);
            }
        }
    } else {
        if (requestedWidth > 0) {
            const uint64_t c = toCount(range / requestedWidth);
            if (c == 0) {
                bucketCount = 1;
                bucketWidth = 1;
            } else {
                integralWidth(c);
            }
        } else {
            const uint64_t c = requestedBuckets != 0 ? requestedBuckets : std::max<uint64_t>(squareRoot, 1);
            if (range / static_cast<double>(c) == 0) {
                bucketCount = 1;
                bucketWidth = 1;
            } else {
                integralWidth(c);
            }
        }
    }

    counts = std::make_unique<uint64_t[]>(bucketCount);
    largestCount = 0;
    for (double x : values) {
        const uint64_t bucket = std::min(toCount(std::floor((x - minimum) / bucketWidth)), bucketCount - 1);
        largestCount = std::max(largestCount, ++counts[bucket]);
    }
}

void SampleHistogram::print(std::ostream& os) const
{
    if (counts == nullptr) {
        return;
    }
    os << "Values in [" << minimum << "," << maximum << "] mean=" << mean << " steps=" << bucketWidth << ":";
    for (uint64_t i = 0; i < bucketCount; ++i) {
        os << " " << counts[i];
    }
    os << "\n";
}

void SampleHistogram::printBucketSeries(std::ostream& os, double alpha, Series series) const
{
    os << bucketCount;
    const double n = static_cast<double>(totalRuns);
    for (uint64_t i = 0; i < bucketCount; ++i) {
        const double x = minimum + static_cast<double>(i) * bucketWidth;
        const double k = static_cast<double>(counts[i]);
        const bool upper = series == Series::DensityUpper || series == Series::ProbabilityUpper;
        double bound = upper ? upperProbabilityBound(k, n, alpha) : lowerProbabilityBound(k, n, alpha);
        if (series == Series::DensityLower || series == Series::DensityUpper) {
            bound /= bucketWidth;
        } else {
            bound = std::clamp(bound, 0.0, 1.0);
        }
        os << " " << x << " " << bound;
    }
}

void SampleHistogram::printCumulativeSeries(std::ostream& os, double alpha, bool upper) const
{
    os << bucketCount + 1;
    const double n = static_cast<double>(totalRuns);
    uint64_t below = 0;
    for (uint64_t i = 0; i <= bucketCount; ++i) {
        const double x = minimum + static_cast<double>(i) * bucketWidth;
        const double k = static_cast<double>(below);
        os << " " << x << " " << (upper ? upperProbabilityBound(k, n, alpha) : lowerProbabilityBound(k, n, alpha));
        if (i < bucketCount) {
            below += counts[i];
        }
    }
}

void SampleHistogram::printDensityLowerSeries(std::ostream& os, const double& alpha) const
{
    printBucketSeries(os, alpha, Series::DensityLower);
}

void SampleHistogram::printDensityUpperSeries(std::ostream& os, const double& alpha) const
{
    printBucketSeries(os, alpha, Series::DensityUpper);
}

void SampleHistogram::printProbabilityLowerSeries(std::ostream& os, const double& alpha) const
{
    printBucketSeries(os, alpha, Series::ProbabilityLower);
}

void SampleHistogram::printProbabilityUpperSeries(std::ostream& os, const double& alpha) const
{
    printBucketSeries(os, alpha, Series::ProbabilityUpper);
}

void SampleHistogram::printCumulativeLowerSeries(std::ostream& os, const double& alpha) const
{
    printCumulativeSeries(os, alpha, false);
}

void SampleHistogram::printCumulativeUpperSeries(std::ostream& os, const double& alpha) const
{
    printCumulativeSeries(os, alpha, true);
}

double SampleHistogram::meanConfidenceHalfWidth(const double& alpha) const
{
    const double m = static_cast<double>(totalRuns - runsWithoutValue);
    const double d = m - 1;
    const boost::math::students_t_distribution<double> t(d);
    const double s = std::sqrt((sumOfSquares - sum * sum / m) / d);
    const double q = alpha / 2 == 0.5 ? 0.0 : -boost::math::quantile(t, alpha / 2);
    return s / std::sqrt(m) * q;
}
