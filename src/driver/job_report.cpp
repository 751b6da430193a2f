// The report of a job: the announcement of a query, its verdict, the result text of statistical,
// supremum and infimum queries, the summary of explored and stored states, time and memory, and the
// diagnostic trace.

#include <cstdio>
#include <sstream>

#include "driver/job.h"
#include "driver/model_checker.h"
#include "driver/options.h"
#include "language/query_list.h"
#include "smc/simulation_results.h"
#include "support/globals.h"
#include "support/progress_line.h"

namespace {

const char* const verdicts[] = {
    nullptr,
    nullptr,
    " -- Formula is satisfied.\n",
    " -- Formula is NOT satisfied.\n",
    " -- Formula MAY be satisfied.\n",
    " -- Formula MAY NOT be satisfied.\n",
    " -- Aborted.\n",
};

} // namespace

void Job::printStatus(int32_t value)
{
    if (processRank != 0) {
        return;
    }
    if (showProgress) {
        std::fputs("\33[2K", stdout);
        progressLineErased();
    }
    if (value == STATUS_VERIFYING) {
        std::fputs("\n", stdout);
        std::fflush(stdout);
        if (queriesFromFile) {
            std::printf("Verifying formula %d at line %d\n", number + 1, line);
        } else {
            std::printf("Verifying formula %d: %s\n", number + 1, ZOLT::getQueryFormula(number).c_str());
        }
        std::fflush(stdout);
        readMemoryInfo(memory);
        readProcessStats(process);
        cpuAtStart = static_cast<float>(process.userMs);
        return;
    }
    if (value < STATUS_VERIFYING || value > STATUS_ABORTED) {
        return;
    }
    std::fputs(verdicts[value], stdout);
    readMemoryInfo(memory);
    readProcessStats(process);
    cpuAtEnd = static_cast<float>(process.userMs);

    if (modelChecker()) {
        // A checker's own report (a model fault, say) may end without a line break; the report
        // always ends its lines.
        const std::string text = modelChecker()->resultText();
        std::fputs(text.c_str(), stdout);
        if (!text.empty() && text.back() != '\n') {
            std::fputc('\n', stdout);
        }
    }
    std::fflush(stdout);
    {
        std::ostringstream text;
        histogram.print(text);
        std::fputs(text.str().c_str(), stdout);
    }
    if (!valueSeries.values.empty()) {
        std::printf("Values in [%g,%g] (in steps of %g):", valueSeries.low, valueSeries.high, valueSeries.step);
        for (int64_t i = 0; i < valueSeries.count && static_cast<size_t>(i) < valueSeries.values.size(); ++i) {
            std::printf(" %g", valueSeries.values[static_cast<size_t>(i)]);
        }
        std::fputs("\n", stdout);
    }
    std::fflush(stdout);
    {
        std::ostringstream text;
        printSimulationValues(simulation, text);
        std::fputs(text.str().c_str(), stdout);
    }
    if (showSummary) {
        for (const StatisticsEntry& entry : *statistics) {
            if (entry.name == "Size") {
                std::printf(" -- States stored : %d %s\n", entry.provider->value(entry.id), entry.unit.c_str());
            }
        }
        std::printf(" -- States explored : %d states\n", explored);
        std::printf(" -- CPU user time used : %g ms\n", static_cast<double>(cpuAtEnd - cpuAtStart));
        std::printf(" -- Virtual memory used : %llu KiB\n", static_cast<unsigned long long>(process.virtualKB));
        std::printf(" -- Resident memory used : %llu KiB\n", static_cast<unsigned long long>(process.residentKB));
    }
    std::fflush(stdout);
    if (trace) {
        printTrace();
    }
}
