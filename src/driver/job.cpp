#include "driver/job.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "driver/loading.h"
#include "driver/message_key.h"
#include "driver/options.h"
#include "support/exceptions.h"
#include "support/progress_line.h"

AbstractJob::AbstractJob(const PropertyRecord& record)
    : line(record.line),
      number(record.number),
      type(record.type),
      formula(record.formula),
      statistics(new DefaultStatisticsCollector)
{
    // The process figures are read in the units of the system.
    initSystemUnits();
}

AbstractJob::~AbstractJob() = default;

ExpressionRef AbstractJob::getExpression(uint32_t i) const
{
    if (i < expressions.size()) {
        return expressions[i].second;
    }
    return ExpressionRef(new Constant(1));
}

ZOLT::expression_t AbstractJob::getSourceExpression(uint32_t i) const
{
    if (i >= expressions.size()) {
        throw Bug("Job expression index out of range");
    }
    return expressions[i].first;
}

ZOLT::expression_t AbstractJob::lastSourceExpression() const
{
    if (expressions.empty()) {
        throw Bug("The job has no expression");
    }
    return expressions.back().first;
}

ExpressionRef AbstractJob::lastExpression() const
{
    if (expressions.empty()) {
        throw Bug("The job has no expression");
    }
    return expressions.back().second;
}

void AbstractJob::addExpression(const ZOLT::expression_t& source, const ExpressionRef& compiled)
{
    expressions.emplace_back(source, compiled);
}

void AbstractJob::clearExpressions()
{
    expressions.clear();
    simulation.series.clear();
}

Job::Job(const PropertyRecord& record) : AbstractJob(record)
{
    gettimeofday(&lastReport, nullptr);
}

void Job::reset()
{
    loadEntry = nullptr;
}

void Job::setStatus(int32_t value)
{
    AbstractJob::setStatus(value);
    printStatus(value);
}

void Job::progress()
{
    ++explored;
    if (!showProgress) {
        return;
    }
    if (sinceReport <= reportInterval) {
        ++sinceReport;
        return;
    }
    timeval now;
    gettimeofday(&now, nullptr);
    const float seconds = static_cast<float>(now.tv_usec - lastReport.tv_usec) / 1000000.0f +
                          static_cast<float>(now.tv_sec - lastReport.tv_sec);
    lastReport = now;
    if (seconds > 0.0f) {
        if (!loadLookedUp) {
            loadEntry = statistics->findByName("Load");
            loadLookedUp = true;
        } else if (loadEntry != nullptr) {
            // A stage that ended withdrew its figures; look the entry up again rather than read
            // through a descriptor that may be gone.
            loadEntry = statistics->findByName("Load");
        }
        const float throughput = static_cast<float>(sinceReport) / seconds;
        const unsigned shown = throughput >= 4294967295.0f ? UINT32_MAX : static_cast<unsigned>(throughput);
        std::printf(" -- Throughput: %u states/sec", shown);
        if (loadEntry != nullptr) {
            std::printf(", Load: %d %s", loadEntry->provider->value(loadEntry->id), loadEntry->unit.c_str());
        }
        std::fputs("\33[K\r", stdout);
        std::fflush(stdout);
        progressLineShown();
        // The next line is due after about a second's worth of states (at least one).
        reportInterval = throughput >= 2147483647.0f ? INT32_MAX : static_cast<int32_t>(throughput);
    } else {
        // Too little time has passed to be measured: wait for twice as many states.
        reportInterval = reportInterval > (INT32_MAX / 2) ? INT32_MAX : reportInterval * 2;
    }
    sinceReport = 1;
}

void Job::fatal(const char* messageKey)
{
    eraseProgressLine();
    // What earlier queries recorded is not lost with the run.
    printRecordedErrors();
    std::fprintf(stderr, "%s\n", formatMessageKey(messageKey).c_str());
    std::exit(1);
}
