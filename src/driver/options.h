#pragma once

#include <cstdint>
#include <string>

// The options of one verification run, filled from the defaults and the command line. The model
// checker copies the whole record when it is created.
struct VerifierOptions
{
    // 0 difference bound matrices, 1 minimal constraint systems, 2 bit state hashing, 3 convex
    // hull approximation; bit 0x10 adds future testing.
    int representation = 1;
    // 0 breadth first, 1 depth first, 2 random depth first, 3 optimal first, 4 random optimal
    // depth first, 5 smallest heur first.
    int searchOrder = 0;
    // 0 no trace, 1 some trace, 2 an optimal trace.
    int traceKind = 0;
    // 0 none, 1 fastest, 2 slowest, 3 shortest.
    int traceOptimisation = 0;
    int spaceOptimisation = 1;  // 0..3
    unsigned hashBits = 27;     // the bit-state table holds 2^hashBits bits
    bool warnings = true;
    bool reuse = false;
    bool collectStatistics = true;
    bool parametricComparison = false;
    bool coverage = false;
    bool smcLog = false;
    bool modestUpdates = false;
    bool measureMitlDepth = false;
    // 0 automatic, 1 none, 2 difference, 3 location based, 4 lower/upper.
    int extrapolation = 0;
    std::string saveFileName;
    double deltaMinus = 0.01;
    double deltaPlus = 0.01;
    double discretisationStep = 0.01;
    double alpha = 0.05;
    double beta = 0.05;
    double epsilon = 0.05;
    double u0 = 0.9;
    double u1 = 1.1;
    double histogramBarWidth = 0.0;
    unsigned histogramBars = 100;
    int resolution = 4000;
    // The -L argument itself, which stays valid for the whole run (it points into argv).
    const char* smcLogFile = nullptr;
    double samplingTime = 0.0;

    // Stores the run-time defaults of the statistical parameters, the histogram and the
    // sampling settings (done by main before the options are read).
    void setStatisticalDefaults();
};

// How diagnostic traces are written.
struct TraceOutputSettings
{
    static constexpr std::size_t prefixSize = 256;

    char traceFilePrefix[prefixSize] = {};  // always terminated in its last character
    bool traceToFiles = false;              // -f
    bool symbolicTraces = false;            // -y, -Y, -f
    bool preStable = false;                 // -Y
    bool quiet = false;                     // -q
};

extern VerifierOptions verifierOptions;
extern TraceOutputSettings traceOutputSettings;

// Seed of the random generators: the time of start-up in seconds unless -r gives one.
extern int64_t seed;

// The model file and the query file, and whether the query file was named on the command line
// (else it was guessed from the model's name).
extern std::string modelFileName;
extern std::string queryFileName;
extern bool queryFileGiven;

// True when MIRVEK_OLD_SYNTAX is defined at start-up: models are read in the older syntax.
extern bool oldSyntax;

// Prefix of the XML trace files and whether they are wanted (-X).
extern std::string xmlTracePrefix;
extern bool xmlTraceWanted;

// A trace file that the options asked for (-f, -X) could not be written: the failure was reported
// and the run goes on, but it ends with status 1 after the last query.
extern bool traceWriteFailed;

// Summary after verification (-u) and the progress indicator (cleared by -s).
extern bool showSummary;
extern bool showProgress;

// True unless the queries come from those stored in an XML model.
extern bool queriesFromFile;

// Puts every value above back to its start-up state (for tests that parse several command lines
// in one process). The seed is taken from the clock again.
void resetDriverSettings();
