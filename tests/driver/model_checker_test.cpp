// The model checker and jobs inside one process: property preparation, the progress line, a stop
// request during a check, and the preparation after a failed one.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "driver/job.h"
#include "driver/job_runner.h"
#include "driver/model_checker.h"
#include "driver/options.h"
#include "language/system.h"
#include "pipeline/keys.h"
#include "pipeline/pipeline.h"
#include "runtime/concrete_state.h"
#include "runtime/symbolic_state.h"
#include "smc/checker_frame.h"
#include "support/exceptions.h"
#include "typecheck/checked_reading.h"

namespace {

// A job that records its statuses and lets a test act on every explored state.
class RecordingJob : public AbstractJob
{
public:
    using AbstractJob::AbstractJob;
    void reset() override {}
    void setStatus(int32_t value) override
    {
        AbstractJob::setStatus(value);
        statuses.push_back(value);
    }
    void progress() override
    {
        ++explored;
        if (onProgress) {
            onProgress(explored);
        }
    }
    void fatal(const char* message) override { throw std::runtime_error(message); }

    std::vector<int32_t> statuses;
    int explored = 0;
    std::function<void(int)> onProgress;
};

// A model read from text, its model checker after the first compilation, and its queries.
class Checked
{
public:
    explicit Checked(const char* text, VerifierOptions options = VerifierOptions())
    {
        ZOLT::readCheckedTextModelBuffer(text, &model, true);
        for (const ZOLT::diagnostic_t& d : model.getErrors()) {
            ADD_FAILURE() << "model error: " << d.message;
        }
        checker = new ModelChecker(&model, options);
        checker->compileSystem();
    }
    ~Checked()
    {
        jobs.clear();
        checker.release();
    }

    // One job per query of the text.
    std::vector<RecordingJob*> queries(const char* text)
    {
        base::RefPtr<PropertyBuilder> builder = checker->newPropertyBuilder();
        builder->parse(text);
        for (const ZOLT::diagnostic_t& d : model.getErrors()) {
            ADD_FAILURE() << "query error: " << d.message;
        }
        std::vector<RecordingJob*> made;
        for (const PropertyRecord& record : builder->getProperties()) {
            jobs.push_back(base::RefPtr<RecordingJob>(new RecordingJob(record)));
            made.push_back(jobs.back().get());
        }
        return made;
    }

    ZOLT::TimedAutomataSystem model;
    base::RefPtr<ModelChecker> checker;
    std::vector<base::RefPtr<RecordingJob>> jobs;
};

const char* const counter = "int[0,1000] n;\n"
                            "clock x;\n"
                            "process P() { state a; init a; trans a -> a { guard n < 1000; assign n = n + 1; }; }\n"
                            "system P;\n";

} // namespace

// The compiled expressions of each kind of property, in the order the checkers read them.
TEST(PropertyPreparation, ExpressionsAreCompiledInTheirCheckersOrder)
{
    Checked c(counter);
    struct Case
    {
        const char* query;
        std::vector<int32_t> valuesOnInitialState;
    };
    const Case cases[] = {
        {"A[] n == 0", {0}},           // the negation: the search looks for a violation
        {"E<> n == 0", {1}},           // the goal itself
        {"n == 0 --> n == 1", {1, 1}}, // p, then not q
        {"E[] n == 0", {1}},
        {"A<> n == 1", {1}},           // negated: not n == 1
    };
    for (const Case& k : cases) {
        RecordingJob* job = c.queries(k.query).at(0);
        c.checker->prepareProperty(job);
        ASSERT_EQ(job->expressionCount(), k.valuesOnInitialState.size()) << k.query;
        SymbolicState* state = c.checker->system->makeInitialState();
        for (uint32_t i = 0; i < job->expressionCount(); ++i) {
            EXPECT_EQ(job->getExpression(i)->evaluate(state), k.valuesOnInitialState[i]) << k.query << " #" << i;
        }
        state->release();
        // Past the end, an expression that always holds.
        EXPECT_EQ(job->getExpression(job->expressionCount())->evaluate(nullptr), 1);
    }
}

TEST(PropertyPreparation, SupremumRecordsStartAtTheEndsOfTheRange)
{
    Checked c("int[2,7] i;\nclock x;\nprocess P() { state a; init a; }\nsystem P;\n");
    RecordingJob* job = c.queries("inf: i, x").at(0);
    c.checker->prepareProperty(job);
    ASSERT_EQ(c.checker->supInfCount, 2u);
    EXPECT_EQ(c.checker->supInfResults[0].upper, 2);
    EXPECT_EQ(c.checker->supInfResults[0].lower, 7);
    // A clock starts at "<= 0" and "< infinity" in the bound encoding.
    EXPECT_EQ(c.checker->supInfResults[1].upper, 1);
    EXPECT_EQ(c.checker->supInfResults[1].lower, 2147483646);
    EXPECT_FALSE(c.checker->supInfResults[1].seen);
    // The condition, then one expression per listed item.
    EXPECT_EQ(job->expressionCount(), 3u);
}

// The first progress line is due after 201 states; the line shows the throughput, and without a
// "Load" figure it ends right after "states/sec".
TEST(JobProgress, FirstLineAfterTwoHundredAndOneStates)
{
    const bool saved = showProgress;
    showProgress = true;
    PropertyRecord record;
    Job job(record);
    // As if the job had started a second ago.
    job.lastReport.tv_sec -= 1;
    testing::internal::CaptureStdout();
    for (int i = 0; i < 201; ++i) {
        job.progress();
    }
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    testing::internal::CaptureStdout();
    job.progress();
    const std::string line = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(line.starts_with(" -- Throughput: ")) << line;
    EXPECT_TRUE(line.ends_with(" states/sec\33[K\r")) << line;
    EXPECT_EQ(job.explored, 202);
    EXPECT_EQ(job.sinceReport, 1);

    // Without the indicator the states are still counted.
    showProgress = false;
    testing::internal::CaptureStdout();
    for (int i = 0; i < 1000; ++i) {
        job.progress();
    }
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(job.explored, 1202);
    showProgress = saved;
}

namespace {

class LoadFigure : public StatisticsProvider
{
public:
    int value(int) override { return 42; }
};

// Prints what a job's next progress call prints once a line is due.
std::string nextLine(Job& job)
{
    job.reportInterval = 0;
    job.sinceReport = 1;
    job.lastReport.tv_sec -= 1;
    testing::internal::CaptureStdout();
    job.progress();
    return testing::internal::GetCapturedStdout();
}

} // namespace

// A statistical job's line shows its "Load" figure until the job is reset; when no time can be
// measured since the last line, nothing is printed and twice as many states are awaited.
TEST(JobProgress, LoadFigureAndUnmeasurableIntervals)
{
    const bool saved = showProgress;
    showProgress = true;
    PropertyRecord record;
    Job job(record);
    LoadFigure load;
    StatisticsEntry entry;
    entry.id = 3;
    entry.provider = &load;
    entry.category = "SMC";
    entry.name = "Load";
    entry.unit = "runs";
    job.statistics->add(entry);

    std::string line = nextLine(job);
    EXPECT_TRUE(line.starts_with(" -- Throughput: ")) << line;
    EXPECT_TRUE(line.ends_with(" states/sec, Load: 42 runs\33[K\r")) << line;

    job.reset();
    line = nextLine(job);
    EXPECT_TRUE(line.ends_with(" states/sec\33[K\r")) << line;

    // The last line seems to lie ahead: no time has passed that could be measured.
    job.reportInterval = 300;
    job.sinceReport = 301;
    job.lastReport.tv_sec += 1000;
    testing::internal::CaptureStdout();
    job.progress();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(job.reportInterval, 600);
    EXPECT_EQ(job.sinceReport, 1);
    showProgress = saved;
}

// A check cut short by a stop request reports no verdict from what it explored, unless it found
// a witness before the request came.
TEST(StopRequest, AnInterruptedCheckIsAborted)
{
    Checked c(counter);
    struct Case
    {
        const char* query;
        int stopAt;
        int32_t status;
    };
    const Case cases[] = {
        {"A[] n <= 1000", 10, STATUS_ABORTED},      // holds only if every state is seen
        {"E<> n == 1000", 10, STATUS_ABORTED},      // not found yet
        {"sup: n", 10, STATUS_ABORTED},             // the largest value so far is no supremum
        {"E<> n == 3", 10, STATUS_SATISFIED},       // found before the stop: a witness
        {"A[] n <= 1000", 100000, STATUS_SATISFIED}, // never stopped
    };
    for (const Case& k : cases) {
        RecordingJob* job = c.queries(k.query).at(0);
        job->onProgress = [&](int explored) {
            if (explored == k.stopAt) {
                c.checker->stop();
            }
        };
        c.checker->runJobWithInfo(job);
        EXPECT_EQ(job->statuses, (std::vector<int32_t>{STATUS_VERIFYING, k.status})) << k.query;
        EXPECT_EQ(c.checker->system->statesInUse(), 0u) << k.query;
    }

    // A stop that came while the job was being prepared: no search starts, and no verdict comes
    // from the states it did not see.
    for (const char* query :
         {"A[] n <= 1000", "E<> n == 1000", "E[] n >= 0", "n == 0 --> n == 1000", "E<>* n == 5"}) {
        RecordingJob* job = c.queries(query).at(0);
        c.checker->stopRequested = true;
        c.checker->runJob(ExtrapolationInfo(), job);
        EXPECT_EQ(job->statuses, (std::vector<int32_t>{STATUS_VERIFYING, STATUS_ABORTED})) << query;
        EXPECT_EQ(job->explored, 0) << query;
        EXPECT_EQ(c.checker->system->statesInUse(), 0u) << query;
    }
}

namespace {

// A statistical checker that records whether it ran and whether it had been told to stop by then;
// told to stop, it ends at once without a verdict.
class StopRecordingChecker : public StatisticalChecker
{
public:
    void setProperty(const char* key, void* value) override { setCommonProperty(key, value); }
    bool put(ConcreteState*) override
    {
        ran = true;
        toldToStop = stopRequested;
        interrupted = stopRequested;
        emit(!stopRequested);
        return !stopRequested;
    }

    static inline bool ran = false;
    static inline bool toldToStop = false;
};

pipeline::Connectable* makeStopRecordingChecker(FilterConfiguration*)
{
    return new StopRecordingChecker;
}

} // namespace

// A stop that comes while a statistical job is prepared still lets its check start, told to stop
// at once: under a launcher the other processes run the check too and wait for this process's
// part of it. The job ends aborted.
TEST(StopRequest, AStatisticalCheckStoppedBeforeItBeginsStillTakesPart)
{
    const CheckerFactories saved = checkerFactories();
    checkerFactories().probability = makeStopRecordingChecker;
    Checked c(counter);
    RecordingJob* job = c.queries("Pr[<=10](<> n == 5)").at(0);
    StopRecordingChecker::ran = StopRecordingChecker::toldToStop = false;
    c.checker->stopRequested = true;
    c.checker->runJob(ExtrapolationInfo(), job);
    EXPECT_TRUE(StopRecordingChecker::ran);
    EXPECT_TRUE(StopRecordingChecker::toldToStop);
    EXPECT_EQ(job->statuses, (std::vector<int32_t>{STATUS_VERIFYING, STATUS_ABORTED}));
    EXPECT_EQ(c.checker->resultText(), "");
    checkerFactories() = saved;
}

// A preparation that fails releases the compiled model; the next job compiles it again.
TEST(Preparation, AFailedPreparationIsFollowedByAFreshCompilation)
{
    // Fastest traces cannot be found with difference constraints: preparing for one fails.
    Checked c("clock x, y;\nprocess P() { state a, b; init a; trans a -> b { guard x - y <= 1; }; }\nsystem P;\n");
    std::vector<RecordingJob*> jobs = c.queries("E<> P.b\nE<> P.b\n");
    c.checker->runJobWithInfo(jobs[0]);
    EXPECT_EQ(jobs[0]->statuses.back(), STATUS_SATISFIED);

    // Now fail on purpose, then run the next job.
    c.checker->options.traceKind = 2;
    c.checker->options.traceOptimisation = 1;
    c.checker->currentJob = jobs[1];
    EXPECT_THROW(c.checker->prepare(ExtrapolationInfo(), true), SystemException);
    EXPECT_FALSE(c.checker->system);
    c.checker->options.traceKind = 0;
    c.checker->options.traceOptimisation = 0;
    c.checker->runJobWithInfo(jobs[1]);
    EXPECT_EQ(jobs[1]->statuses.back(), STATUS_SATISFIED);
}

namespace {

// What the checker below read through its keys during its run.
struct KeyValuesSeen
{
    int32_t expression = -1;
    int32_t stopCondition = -1;
    int32_t runs = -1;
};

// A statistical checker that keeps the pointers its keys give it and reads them only during its
// run, as the real checkers do.
class KeyReadingChecker : public pipeline::AbstractFilter<ConcreteState, bool>
{
public:
    void setProperty(const char* key, void* value) override
    {
        if (key == PROPERTY_EXPRESSION) {
            expression = static_cast<Expression*>(value);
        } else if (key == PROPERTY_SMCSTOPCONDITION) {
            stopCondition = static_cast<Expression*>(value);
        } else if (key == PROPERTY_NBRUNS) {
            runs = static_cast<int*>(value);
        }
    }
    bool put(ConcreteState* state) override
    {
        if (expression != nullptr) {
            // A value is left in the state's result cell.
            expression->evaluate(state);
            seen.expression = static_cast<int32_t>(state->result);
        }
        seen.stopCondition = stopCondition != nullptr ? stopCondition->evaluate(state) : -1;
        seen.runs = runs != nullptr ? *runs : -1;
        bool result = true;
        return next->put(&result);
    }

    static inline KeyValuesSeen seen;

private:
    Expression* expression = nullptr;
    Expression* stopCondition = nullptr;
    int* runs = nullptr;
};

pipeline::Connectable* makeKeyReadingChecker(FilterConfiguration*)
{
    return new KeyReadingChecker;
}

} // namespace

// What the keys of a statistical checker point at lives as long as the checker runs: the run count
// of an expected value and the never-true conditions of a simulation.
TEST(StatisticalCheck, KeysStayValidWhileTheCheckerRuns)
{
    const CheckerFactories saved = checkerFactories();
    checkerFactories().expectation = makeKeyReadingChecker;
    checkerFactories().simulation = makeKeyReadingChecker;
    Checked c(counter);
    std::vector<RecordingJob*> jobs = c.queries("E[<=10; 7](max: n + 5)\nsimulate 1 [<=10] {n}\n");

    KeyReadingChecker::seen = KeyValuesSeen();
    c.checker->runJobWithInfo(jobs[0]);
    EXPECT_EQ(jobs[0]->statuses.back(), STATUS_SATISFIED);
    EXPECT_EQ(KeyReadingChecker::seen.runs, 7);
    EXPECT_EQ(KeyReadingChecker::seen.expression, 5);

    KeyReadingChecker::seen = KeyValuesSeen();
    c.checker->runJobWithInfo(jobs[1]);
    EXPECT_EQ(jobs[1]->statuses.back(), STATUS_SATISFIED);
    EXPECT_EQ(KeyReadingChecker::seen.expression, 0);
    EXPECT_EQ(KeyReadingChecker::seen.stopCondition, 0);
    checkerFactories() = saved;
}
