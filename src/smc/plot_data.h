#pragma once

// Plot data: the text description of one chart, for a graphical front end to draw the results of
// statistical queries. A chart is a sequence of records, each one line ending in a backslash, so
// that the whole chart reads as one continued logical line:
//   P 'title' 'x label' 'y label'\                      the plot header
//   D 'name' style 0xRRGGBB count x y x y ... \          a data series
//   C text \                                            a comment
// Histogram charts are written from a filled SampleHistogram, the simulation chart from the
// trajectories of a simulate query. The verifier itself does not draw; these writers are the
// interface a front end uses.
//
// In the series below x_i is minimum + i * bucketWidth, n the histogram's totalRuns (runs without
// a value included), c_i the count of bucket i and cum_i = c_0 + ... + c_(i-1).

#include <cstdint>
#include <iosfwd>

#include "smc/sample_histogram.h"
#include "smc/simulation_results.h"

class StatisticalJob;

// ---- Histogram charts. Each saves the stream's format flags and precision, writes numbers in
// the general format with 15 significant digits, and restores both at the end. The header is
// followed by the chart's series, the average marker and the comments.

// 'count' per bucket.
void printFrequencyPlot(const SampleHistogram& h, std::ostream& os, double alpha, double epsilon);
// The share of runs per bucket.
void printProbabilityPlot(const SampleHistogram& h, std::ostream& os, double alpha, double epsilon);
// The exact confidence bounds of the share per bucket.
void printProbabilityIntervalPlot(const SampleHistogram& h, std::ostream& os, const double& alpha,
                                  const double& epsilon);
// The share per bucket divided by the bucket width.
void printDensityPlot(const SampleHistogram& h, std::ostream& os, double alpha, double epsilon);
// The exact confidence bounds of the density per bucket.
void printDensityIntervalPlot(const SampleHistogram& h, std::ostream& os, const double& alpha, const double& epsilon);
// The share of runs whose value lies below each bucket boundary.
void printCumulativePlot(const SampleHistogram& h, std::ostream& os, double alpha, double epsilon);
// The cumulative share between its exact confidence bounds.
void printCumulativeIntervalPlot(const SampleHistogram& h, std::ostream& os, double alpha, double epsilon);

// ---- Series: the point count, then " x y" per point, in the stream's current format.

// (x_i, c_i) for every bucket.
void printFrequencySeries(const SampleHistogram& h, std::ostream& os);
// (x_i, c_i / n + offset), kept within [0, 1].
void printProbabilitySeries(const SampleHistogram& h, std::ostream& os, const double& offset);
// (x_i, c_i / (n * bucketWidth) + offset), at least 0.
void printDensitySeries(const SampleHistogram& h, std::ostream& os, const double& offset);
// (x_i, cum_i / n) for every bucket boundary, i = 0 .. bucketCount.
void printCumulativeSeries(const SampleHistogram& h, std::ostream& os);
// Per bucket a band of width 2 * offset around its share: (x_i, share - offset) and
// (x_(i+1), share + offset), kept within [0, 1].
void printProbabilityStepSeries(const SampleHistogram& h, std::ostream& os, const double& offset);
// The cumulative share raised by epsilon, cut at 1 where the line reaches it.
void printBandUpperSeries(const SampleHistogram& h, std::ostream& os, const double& epsilon);
// The cumulative share lowered by epsilon, starting where the line rises above 0.
void printBandLowerSeries(const SampleHistogram& h, std::ostream& os, const double& epsilon);
// Normal-approximation bounds of the cumulative share with the quantile z.
void printNormalUpperSeries(const SampleHistogram& h, std::ostream& os, const double& z);
void printNormalLowerSeries(const SampleHistogram& h, std::ostream& os, const double& z);
// Wilson score bounds (with continuity correction) of the cumulative share with the quantile z.
void printWilsonUpperSeries(const SampleHistogram& h, std::ostream& os, const double& z);
void printWilsonLowerSeries(const SampleHistogram& h, std::ostream& os, const double& z);

// "2 x y x z": a vertical line at x from y to z.
void printAverageMarker(std::ostream& os, double x, double y, double z);
// The comment records: parameters (alpha > 0), runs, span and, for two values or more and
// alpha > 0, the mean with its confidence interval.
void printHistogramComments(const SampleHistogram& h, std::ostream& os, double alpha, double epsilon);
// "[minimum,maximum] in steps of bucketWidth".
void printRange(const SampleHistogram& h, std::ostream& os);

// The colour of hue h (degrees), saturation s and value v as 0xRRGGBB; a hue outside [0, 360)
// gives the grey of the value.
uint32_t hsvToRgb(float h, float s, float v);

// The trajectories of a simulate query as one chart of lines: one series per observed expression
// with its own hue, one line per run in shades of that hue, named on its first run only. Nothing
// is written without a series or without a run. The x label follows the job's run bound: "steps",
// "time" or the text of the clock that bounds the runs.
void printSimulationPlot(const SimulationResults& results, std::ostream& os, const StatisticalJob& job);
