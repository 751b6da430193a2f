#include "driver/options.h"

#include <cstdlib>
#include <ctime>

VerifierOptions verifierOptions;
TraceOutputSettings traceOutputSettings;
int64_t seed = static_cast<int64_t>(std::time(nullptr));
std::string modelFileName;
std::string queryFileName;
bool queryFileGiven = false;
bool oldSyntax = std::getenv("MIRVEK_OLD_SYNTAX") != nullptr;
std::string xmlTracePrefix;
bool xmlTraceWanted = false;
bool traceWriteFailed = false;
bool showSummary = false;
bool showProgress = true;
bool queriesFromFile = true;

void VerifierOptions::setStatisticalDefaults()
{
    deltaMinus = 0.01;
    deltaPlus = 0.01;
    discretisationStep = 0.01;
    alpha = 0.05;
    beta = 0.05;
    epsilon = 0.05;
    u0 = 0.9;
    u1 = 1.1;
    histogramBars = 100;
    histogramBarWidth = 0.0;
    resolution = 4000;
    samplingTime = 0.0;
}

void resetDriverSettings()
{
    verifierOptions = VerifierOptions{};
    traceOutputSettings = TraceOutputSettings{};
    seed = static_cast<int64_t>(std::time(nullptr));
    modelFileName.clear();
    queryFileName.clear();
    queryFileGiven = false;
    oldSyntax = std::getenv("MIRVEK_OLD_SYNTAX") != nullptr;
    xmlTracePrefix.clear();
    xmlTraceWanted = false;
    traceWriteFailed = false;
    showSummary = false;
    showProgress = true;
    queriesFromFile = true;
}
