// Plot data: the chart texts written from value histograms and from simulated trajectories, and
// the colours of the series.

#include <gtest/gtest.h>

#include <iomanip>
#include <sstream>

#include "smc/plot_data.h"
#include "smc_fixture.h"

namespace {

// Two runs with value 0 and three with value 1: buckets {2, 3} of width 1 starting at 0.
SampleHistogram twoBuckets()
{
    SampleHistogram h;
    h.fill(false, 0, {0, 0, 1, 1, 1}, 5, "v", 0);
    return h;
}

template <class Write>
std::string text(Write write)
{
    std::ostringstream os;
    write(os);
    return os.str();
}

TEST(PlotData, SeriesOfABucketHistogram)
{
    const SampleHistogram h = twoBuckets();
    ASSERT_EQ(h.bucketCount, 2u);
    ASSERT_EQ(h.getCount(0), 2u);
    ASSERT_EQ(h.getCount(1), 3u);
    EXPECT_EQ(text([&](std::ostream& os) { printFrequencySeries(h, os); }), "2 0 2 1 3");
    EXPECT_EQ(text([&](std::ostream& os) { printProbabilitySeries(h, os, 0.7); }), "2 0 1 1 1");
    EXPECT_EQ(text([&](std::ostream& os) { printDensitySeries(h, os, -0.5); }), "2 0 0 1 0.1");
    EXPECT_EQ(text([&](std::ostream& os) { printCumulativeSeries(h, os); }), "3 0 0 1 0.4 2 1");
    EXPECT_EQ(text([&](std::ostream& os) { printProbabilityStepSeries(h, os, 0.5); }), "4 0 0 1 0.9 1 0.1 2 1");
    // The upper band reaches 1 between boundaries 1 (0.7) and 2 (1.3), at 1.5; the lower band
    // rises through 0 between boundaries 0 (-0.3) and 1 (0.1), at 0.75.
    EXPECT_EQ(text([&](std::ostream& os) { printBandUpperSeries(h, os, 0.3); }), "3 0 0.3 1 0.7 1.5 1");
    EXPECT_EQ(text([&](std::ostream& os) { printBandLowerSeries(h, os, 0.3); }), "3 0.75 0 1 0.1 2 0.7");
    EXPECT_EQ(text([&](std::ostream& os) { printNormalUpperSeries(h, os, 0.0); }), "3 0 0 1 0.4 2 1");
    EXPECT_EQ(text([&](std::ostream& os) { printWilsonUpperSeries(h, os, 1.0); }).substr(0, 6), "3 0 0.");
    EXPECT_EQ(text([&](std::ostream& os) { printWilsonLowerSeries(h, os, 1.0); }).substr(0, 5), "3 0 0");
    EXPECT_EQ(text([&](std::ostream& os) { printRange(h, os); }), "[0,1] in steps of 1");
}

TEST(PlotData, AChartIsAHeaderItsSeriesTheAverageAndTheComments)
{
    const SampleHistogram h = twoBuckets();
    std::ostringstream os;
    os << std::setprecision(3) << std::fixed;
    printFrequencyPlot(h, os, 0.05, 0.01);
    // The stream's own format is back afterwards.
    EXPECT_EQ(os.precision(), 3);
    EXPECT_TRUE(os.flags() & std::ios_base::fixed);

    std::ostringstream half;
    half.precision(15);
    half << h.meanConfidenceHalfWidth(0.05);
    EXPECT_EQ(os.str(), "P 'Frequency Histogram' 'v' 'count'\\\n"
                        "D 'count' b(1) 0x0000FF 2 0 2 1 3 \\\n"
                        "D 'average' pl 0x00DD00 2 0.6 0 0.6 3 \\\n"
                        "C Parameters: \u03b1=0.05, \u03b5=0.01, bucket width=1, bucket count=2 \\\n"
                        "C Runs: 5 in total, 5 (100%) displayed, 0 (0%) remaining \\\n"
                        "C Span of displayed sample: [0, 1] \\\n"
                        "C Mean of displayed sample: 0.6 \u00b1 " +
                            half.str() + " (95% CI) \\\n");

    const std::string cumulative = text([&](std::ostream& s) { printCumulativePlot(h, s, 0, 0); });
    EXPECT_EQ(cumulative, "P 'Cumulative Probability Distribution' 'v' 'probability'\\\n"
                          "D 'cumulative' l 0x000000 3 0 0 1 0.4 2 1 \\\n"
                          "D 'average' pl 0x00DD00 2 0.6 0 0.6 1 \\\n"
                          "C Runs: 5 in total, 5 (100%) displayed, 0 (0%) remaining \\\n"
                          "C Span of displayed sample: [0, 1] \\\n");
}

TEST(PlotData, CommentsShowNoMeanForASingleValueAndNoParametersWithoutAlpha)
{
    SampleHistogram h;
    h.fill(false, 0, {2}, 4, "t", 0);
    EXPECT_EQ(text([&](std::ostream& os) { printHistogramComments(h, os, 0.05, 0.01); }),
              "C Parameters: \u03b1=0.05, \u03b5=0.01, bucket width=1, bucket count=1 \\\n"
              "C Runs: 4 in total, 1 (25%) displayed, 3 (75%) remaining \\\n"
              "C Span of displayed sample: [2, 2] \\\n");
    EXPECT_EQ(text([&](std::ostream& os) { printHistogramComments(twoBuckets(), os, 0, 0.01); }),
              "C Runs: 5 in total, 5 (100%) displayed, 0 (0%) remaining \\\n"
              "C Span of displayed sample: [0, 1] \\\n");
}

TEST(PlotData, HsvColours)
{
    struct Case
    {
        float h, s, v;
        uint32_t rgb;
    };
    for (const Case& c : {Case{120, 1, 1, 0x00FF00}, Case{-1, 1, 0.5f, 0x7F7F7F}, Case{0, 1, 1, 0xFF0000},
                          Case{30, 1, 1, 0xFF8000}, Case{360, 1, 1, 0xFFFFFF}, Case{240, 2, 2, 0x0000FF},
                          Case{400, 0, 0.2f, 0x333333}}) {
        EXPECT_EQ(hsvToRgb(c.h, c.s, c.v), c.rgb) << c.h << " " << c.s << " " << c.v;
    }
}

TEST(PlotData, SimulationsAreOneHuePerSeriesAndOneLinePerRun)
{
    smctest::FakeJob job;
    job.runBoundKind = 1;
    SimulationResults results;
    for (const char* name : {"a", "b"}) {
        SimulationSeries series;
        series.name = name;
        series.trajectories = {{{0, 0}, {1, 1}}, {{0, 1}}, {{0, 2}, {2, 2}}};
        results.series.push_back(series);
    }
    // Hues 0 and 180, each shade scaled to full brightness; names only on each series' first run.
    EXPECT_EQ(text([&](std::ostream& os) { printSimulationPlot(results, os, job); }),
              "P 'Simulations (3)' 'time' 'value'\\\n"
              "D 'a' l 0xff0000 2 0 0 1 1 \\\n"
              "D '' l 0xff0000 1 0 1 \\\n"
              "D '' l 0xff0000 2 0 2 2 2 \\\n"
              "D 'b' l 0x00b4b4 2 0 0 1 1 \\\n"
              "D '' l 0x00b4b4 1 0 1 \\\n"
              "D '' l 0x00b4b4 2 0 2 2 2 \\\n");

    job.runBoundKind = 0;
    EXPECT_EQ(text([&](std::ostream& os) { printSimulationPlot(results, os, job); }).substr(0, 31),
              "P 'Simulations (3)' 'steps' 'va");
    // Nothing without a run.
    for (SimulationSeries& series : results.series) {
        series.trajectories.clear();
    }
    EXPECT_EQ(text([&](std::ostream& os) { printSimulationPlot(results, os, job); }), "");
}

}  // namespace
