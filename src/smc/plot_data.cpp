#include "smc/plot_data.h"

#include <algorithm>
#include <cmath>
#include <ios>
#include <ostream>
#include <string>

#include "smc/statistical_job.h"
#include "smc/statistical_query.h"

namespace {

const char* const recordEnd = " \\\n";

// Saves the stream's format flags and precision and restores them when it goes.
class FormatKeeper
{
public:
    explicit FormatKeeper(std::ostream& os) : os(os), flags(os.flags()), precision(os.precision()) {}
    ~FormatKeeper()
    {
        os.flags(flags);
        os.precision(precision);
    }
    FormatKeeper(const FormatKeeper&) = delete;
    FormatKeeper& operator=(const FormatKeeper&) = delete;

private:
    std::ostream& os;
    std::ios_base::fmtflags flags;
    std::streamsize precision;
};

void useGeneralFormat(std::ostream& os, std::streamsize precision)
{
    os.unsetf(std::ios_base::floatfield);
    os.precision(precision);
}

double runs(const SampleHistogram& h)
{
    return static_cast<double>(h.totalRuns);
}

double bucketX(const SampleHistogram& h, uint64_t i)
{
    return h.minimum + static_cast<double>(i) * h.bucketWidth;
}

// cum_i for every boundary i = 0 .. bucketCount.
template <class Visit>
void forEachBoundary(const SampleHistogram& h, Visit visit)
{
    uint64_t below = 0;
    for (uint64_t i = 0; i <= h.bucketCount; ++i) {
        visit(i, bucketX(h, i), static_cast<double>(below));
        if (i < h.bucketCount) {
            below += h.getCount(i);
        }
    }
}

double valueMean(const SampleHistogram& h)
{
    return h.sum / static_cast<double>(h.totalRuns - h.runsWithoutValue);
}

void header(std::ostream& os, const char* title, const SampleHistogram& h, const char* yLabel)
{
    os << "P '" << title << "' '" << h.label << "' '" << yLabel << "'\\\n";
}

void seriesStart(std::ostream& os, const char* name, const char* style, const SampleHistogram* widthOf,
                 const char* colour)
{
    os << "D '" << name << "' " << style;
    if (widthOf != nullptr) {
        os << "(" << widthOf->bucketWidth << ")";
    }
    os << " " << colour << " ";
}

void averageAndComments(const SampleHistogram& h, std::ostream& os, double top, double alpha, double epsilon)
{
    os << "D 'average' pl 0x00DD00 ";
    printAverageMarker(os, valueMean(h), 0, top);
    os << recordEnd;
    printHistogramComments(h, os, alpha, epsilon);
}

// The bucket-interval series of the histogram itself.
enum class Bounds { ProbabilityUpper, ProbabilityLower, DensityUpper, DensityLower, CumulativeUpper, CumulativeLower };

void printBounds(const SampleHistogram& h, std::ostream& os, double alpha, Bounds which)
{
    switch (which) {
    case Bounds::ProbabilityUpper:
        h.printProbabilityUpperSeries(os, alpha);
        break;
    case Bounds::ProbabilityLower:
        h.printProbabilityLowerSeries(os, alpha);
        break;
    case Bounds::DensityUpper:
        h.printDensityUpperSeries(os, alpha);
        break;
    case Bounds::DensityLower:
        h.printDensityLowerSeries(os, alpha);
        break;
    case Bounds::CumulativeUpper:
        h.printCumulativeUpperSeries(os, alpha);
        break;
    case Bounds::CumulativeLower:
        h.printCumulativeLowerSeries(os, alpha);
        break;
    }
}

}  // namespace

// ---- Histogram charts -----------------------------------------------------------------------------

void printFrequencyPlot(const SampleHistogram& h, std::ostream& os, double alpha, double epsilon)
{
    FormatKeeper keep(os);
    useGeneralFormat(os, 15);
    header(os, "Frequency Histogram", h, "count");
    seriesStart(os, "count", "b", &h, "0x0000FF");
    printFrequencySeries(h, os);
    os << recordEnd;
    averageAndComments(h, os, static_cast<double>(h.largestCount), alpha, epsilon);
}

void printProbabilityPlot(const SampleHistogram& h, std::ostream& os, double alpha, double epsilon)
{
    FormatKeeper keep(os);
    useGeneralFormat(os, 15);
    header(os, "Probability Distribution", h, "probability");
    seriesStart(os, "probability", "b", &h, "0x0000FF");
    printProbabilitySeries(h, os, 0.0);
    os << recordEnd;
    averageAndComments(h, os, static_cast<double>(h.largestCount) / runs(h), alpha, epsilon);
}

void printProbabilityIntervalPlot(const SampleHistogram& h, std::ostream& os, const double& alpha,
                                  const double& epsilon)
{
    FormatKeeper keep(os);
    useGeneralFormat(os, 15);
    header(os, "Probability Confidence Intervals", h, "probability");
    seriesStart(os, "upper limit", "b", &h, "0xA0A0FF");
    printBounds(h, os, alpha, Bounds::ProbabilityUpper);
    os << recordEnd;
    seriesStart(os, "lower limit", "b", &h, "0x0000FF");
    printBounds(h, os, alpha, Bounds::ProbabilityLower);
    os << recordEnd;
    averageAndComments(h, os, upperProbabilityBound(static_cast<double>(h.largestCount), runs(h), alpha), alpha,
                       epsilon);
}

void printDensityPlot(const SampleHistogram& h, std::ostream& os, double alpha, double epsilon)
{
    FormatKeeper keep(os);
    useGeneralFormat(os, 15);
    header(os, "Probability Density Distribution", h, "probability density");
    seriesStart(os, "density", "b", &h, "0x0000FF");
    printDensitySeries(h, os, 0.0);
    os << recordEnd;
    averageAndComments(h, os, static_cast<double>(h.largestCount) / runs(h) / h.bucketWidth, alpha, epsilon);
}

void printDensityIntervalPlot(const SampleHistogram& h, std::ostream& os, const double& alpha, const double& epsilon)
{
    FormatKeeper keep(os);
    useGeneralFormat(os, 15);
    header(os, "Probability Density Confidence Intervals", h, "probability density");
    seriesStart(os, "upper limit", "b", &h, "0xA0A0FF");
    printBounds(h, os, alpha, Bounds::DensityUpper);
    os << recordEnd;
    seriesStart(os, "lower limit", "b", &h, "0x0000FF");
    printBounds(h, os, alpha, Bounds::DensityLower);
    os << recordEnd;
    averageAndComments(h, os,
                       upperProbabilityBound(static_cast<double>(h.largestCount), runs(h), alpha) / h.bucketWidth,
                       alpha, epsilon);
}

void printCumulativePlot(const SampleHistogram& h, std::ostream& os, double alpha, double epsilon)
{
    FormatKeeper keep(os);
    useGeneralFormat(os, 15);
    header(os, "Cumulative Probability Distribution", h, "probability");
    seriesStart(os, "cumulative", "l", nullptr, "0x000000");
    printCumulativeSeries(h, os);
    os << recordEnd;
    averageAndComments(h, os, 1 - static_cast<double>(h.runsWithoutValue) / runs(h), alpha, epsilon);
}

void printCumulativeIntervalPlot(const SampleHistogram& h, std::ostream& os, double alpha, double epsilon)
{
    FormatKeeper keep(os);
    useGeneralFormat(os, 15);
    header(os, "Cumulative Probability Confidence Intervals", h, "probability");
    seriesStart(os, "upper limit", "k", nullptr, "0x0000DD");
    printBounds(h, os, alpha, Bounds::CumulativeUpper);
    os << recordEnd;
    seriesStart(os, "cumulative probability", "l", nullptr, "0x000000");
    printCumulativeSeries(h, os);
    os << recordEnd;
    seriesStart(os, "lower limit", "k", nullptr, "0xDD0000");
    printBounds(h, os, alpha, Bounds::CumulativeLower);
    os << recordEnd;
    averageAndComments(h, os, 1 - static_cast<double>(h.runsWithoutValue) / runs(h), alpha, epsilon);
}

// ---- Series -----------------------------------------------------------------------------------------

void printFrequencySeries(const SampleHistogram& h, std::ostream& os)
{
    os << h.bucketCount;
    for (uint64_t i = 0; i < h.bucketCount; ++i) {
        os << " " << bucketX(h, i) << " " << h.getCount(i);
    }
}

void printProbabilitySeries(const SampleHistogram& h, std::ostream& os, const double& offset)
{
    os << h.bucketCount;
    for (uint64_t i = 0; i < h.bucketCount; ++i) {
        const double y = static_cast<double>(h.getCount(i)) / runs(h) + offset;
        os << " " << bucketX(h, i) << " " << std::clamp(y, 0.0, 1.0);
    }
}

void printDensitySeries(const SampleHistogram& h, std::ostream& os, const double& offset)
{
    os << h.bucketCount;
    for (uint64_t i = 0; i < h.bucketCount; ++i) {
        const double y = static_cast<double>(h.getCount(i)) / (runs(h) * h.bucketWidth) + offset;
        os << " " << bucketX(h, i) << " " << std::max(y, 0.0);
    }
}

void printCumulativeSeries(const SampleHistogram& h, std::ostream& os)
{
    os << h.bucketCount + 1;
    forEachBoundary(h, [&](uint64_t, double x, double below) { os << " " << x << " " << below / runs(h); });
}

void printProbabilityStepSeries(const SampleHistogram& h, std::ostream& os, const double& offset)
{
    os << 2 * h.bucketCount;
    for (uint64_t i = 0; i < h.bucketCount; ++i) {
        const double share = static_cast<double>(h.getCount(i)) / runs(h);
        os << " " << bucketX(h, i) << " " << std::max(0.0, share - offset);
        os << " " << bucketX(h, i + 1) << " " << std::min(1.0, share + offset);
    }
}

void printBandUpperSeries(const SampleHistogram& h, std::ostream& os, const double& epsilon)
{
    os << h.bucketCount + 1;
    double previousX = bucketX(h, 0);
    double previousY = epsilon;
    bool capped = false;
    forEachBoundary(h, [&](uint64_t, double x, double below) {
        const double y = below / runs(h) + epsilon;
        if (capped) {
            os << " " << x << " " << 1.0;
        } else if (y > 1) {
            // Where the line from the previous entry reaches 1.
            const double at = y == previousY ? x : previousX + (1 - previousY) * (x - previousX) / (y - previousY);
            os << " " << at << " " << 1.0;
            capped = true;
        } else {
            os << " " << x << " " << y;
        }
        previousX = x;
        previousY = y;
    });
}

void printBandLowerSeries(const SampleHistogram& h, std::ostream& os, const double& epsilon)
{
    os << h.bucketCount + 1;
    double previousX = 0.0;
    double previousY = 0.0;
    bool wasNegative = false;
    forEachBoundary(h, [&](uint64_t i, double x, double below) {
        const double y = below / runs(h) - epsilon;
        if (y < 0) {
            if (i > 0) {
                os << " " << previousX << " " << 0.0;
            }
            wasNegative = true;
        } else {
            if (wasNegative) {
                // Where the line from the previous entry rises through 0.
                const double at = previousX + (0 - previousY) * (x - previousX) / (y - previousY);
                os << " " << at << " " << 0.0;
                wasNegative = false;
            }
            os << " " << x << " " << y;
        }
        previousX = x;
        previousY = y;
    });
}

void printNormalUpperSeries(const SampleHistogram& h, std::ostream& os, const double& z)
{
    os << h.bucketCount + 1;
    const double n = runs(h);
    forEachBoundary(h, [&](uint64_t, double x, double below) {
        const double p = below / n;
        os << " " << x << " " << std::min(1.0, p + z * std::sqrt(p * (1 - p) / n));
    });
}

void printNormalLowerSeries(const SampleHistogram& h, std::ostream& os, const double& z)
{
    os << h.bucketCount + 1;
    const double n = runs(h);
    forEachBoundary(h, [&](uint64_t, double x, double below) {
        const double p = below / n;
        os << " " << x << " " << std::max(0.0, p - z * std::sqrt(p * (1 - p) / n));
    });
}

void printWilsonUpperSeries(const SampleHistogram& h, std::ostream& os, const double& z)
{
    os << h.bucketCount + 1;
    const double n = runs(h);
    forEachBoundary(h, [&](uint64_t, double x, double k) {
        os << " " << x << " ";
        if (k == n) {
            os << 1.0;
        } else {
            os << (2 * k + z * z + 1 + z * std::sqrt(z * z + 2 - 1 / n + 4 * k * (1 - (k + 1) / n))) /
                      (2 * (n + z * z));
        }
    });
}

void printWilsonLowerSeries(const SampleHistogram& h, std::ostream& os, const double& z)
{
    os << h.bucketCount + 1;
    const double n = runs(h);
    forEachBoundary(h, [&](uint64_t i, double x, double k) {
        if (i == 0) {
            os << " " << x << " " << 0;
            return;
        }
        os << " " << x << " "
           << (2 * k + z * z - 1 - z * std::sqrt(z * z - 2 - 1 / n + 4 * k * (1 - (k - 1) / n))) / (2 * (n + z * z));
    });
}

// ---- Markers, comments, range -----------------------------------------------------------------------

void printAverageMarker(std::ostream& os, double x, double y, double z)
{
    os << "2 " << x << " " << y << " " << x << " " << z;
}

void printHistogramComments(const SampleHistogram& h, std::ostream& os, double alpha, double epsilon)
{
    FormatKeeper keep(os);
    useGeneralFormat(os, 5);
    const double n = runs(h);
    const double without = static_cast<double>(h.runsWithoutValue);
    if (alpha > 0) {
        os << "C Parameters: \u03b1=" << alpha << ", \u03b5=" << epsilon << ", bucket width=" << h.bucketWidth
           << ", bucket count=" << h.bucketCount << recordEnd;
    }
    os << "C Runs: " << h.totalRuns << " in total, " << h.totalRuns - h.runsWithoutValue << " ("
       << 100 - 100 * without / n << "%) displayed, " << h.runsWithoutValue << " (" << 100 * without / n
       << "%) remaining" << recordEnd;
    useGeneralFormat(os, 15);
    os << "C Span of displayed sample: [" << h.minimum << ", " << h.maximum << "]" << recordEnd;
    const uint64_t values = h.totalRuns - h.runsWithoutValue;
    if (values != 0 && values != 1 && alpha > 0) {
        os << "C Mean of displayed sample: " << h.sum / static_cast<double>(values) << " \u00b1 "
           << h.meanConfidenceHalfWidth(alpha) << " (" << 100 - 100 * alpha << "% CI)" << recordEnd;
    }
}

void printRange(const SampleHistogram& h, std::ostream& os)
{
    os << "[" << h.minimum << "," << h.maximum << "] in steps of " << h.bucketWidth;
}

// ---- Colours and the simulation chart -----------------------------------------------------------------

namespace {

struct Rgb
{
    double r;
    double g;
    double b;
};

Rgb hsvComponents(float h, float s, float v)
{
    s = std::min(s, 1.0f);
    const int value = v > 1 ? 255 : static_cast<int>(v * 255);
    const double V = value;
    if (h < 0 || h > 360) {
        return {V, V, V};
    }
    const int sector = static_cast<int>(std::floor(h / 60));
    const double f = h / 60.0 - sector;
    const double P = std::round(V * (1 - s));
    const double X = std::round(sector % 2 == 1 ? V * (1 - s * f) : V * (1 - s * (1 - f)));
    switch (sector) {
    case 0:
        return {V, X, P};
    case 1:
        return {X, V, P};
    case 2:
        return {P, V, X};
    case 3:
        return {P, X, V};
    case 4:
        return {X, P, V};
    case 5:
        return {V, P, X};
    default:
        return {V, V, V};
    }
}

uint32_t pack(int r, int g, int b)
{
    return (static_cast<uint32_t>(r) << 16) | (static_cast<uint32_t>(g) << 8) | static_cast<uint32_t>(b);
}

}  // namespace

uint32_t hsvToRgb(float h, float s, float v)
{
    const Rgb c = hsvComponents(h, s, v);
    return pack(static_cast<int>(c.r), static_cast<int>(c.g), static_cast<int>(c.b));
}

void printSimulationPlot(const SimulationResults& results, std::ostream& os, const StatisticalJob& job)
{
    if (results.series.empty() || results.series.front().trajectories.empty()) {
        return;
    }
    std::string xLabel;
    switch (job.getRunBoundKind()) {
    case 0:
        xLabel = "steps";
        break;
    case 1:
        xLabel = "time";
        break;
    default: {
        const auto* query = dynamic_cast<const StatisticalQuery*>(&job);
        xLabel = query != nullptr ? query->lastSourceExpression().toString(false) : "time";
        break;
    }
    }
    os << "P 'Simulations (" << results.series.front().trajectories.size() << ")' '" << xLabel << "' 'value'\\\n";

    const double hueStep = 360.0 / static_cast<double>(results.series.size());
    double hue = 0;
    for (const SimulationSeries& series : results.series) {
        const double valueStep = 0.4 / static_cast<double>(series.trajectories.size());
        double value = 1.0;
        bool first = true;
        for (const Trajectory& run : series.trajectories) {
            os << "D '" << (first ? series.name : std::string()) << "' ";
            first = false;
            // The shade of the hue, scaled to the full brightness of its largest direction.
            const Rgb c = hsvComponents(static_cast<float>(hue), 1.0f, static_cast<float>(value));
            const double norm = std::sqrt(c.r * c.r + c.g * c.g + c.b * c.b);
            auto scaled = [norm](double component) {
                return norm > 0 ? static_cast<int>(std::min(255.0, std::round(component * 255 / norm))) : 0;
            };
            const uint32_t colour = pack(scaled(c.r), scaled(c.g), scaled(c.b));
            const std::ios_base::fmtflags flags = os.flags();
            const char fill = os.fill();
            os << "l 0x" << std::hex << std::nouppercase;
            os.width(6);
            os.fill('0');
            os << colour;
            os.flags(flags);
            os.fill(fill);
            os << " " << run.size();
            for (const auto& [t, v] : run) {
                os << " " << t << " " << v;
            }
            os << recordEnd;
            value -= valueStep;
        }
        hue += hueStep;
    }
}
