#include "driver/interrupt.h"

#include <gtest/gtest.h>

#include <list>
#include <vector>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include "driver/job.h"
#include "driver/job_runner.h"
#include "support/globals.h"

namespace {

int stopRequests = 0;

void countStop()
{
    ++stopRequests;
}

void atExitMarker()
{
    std::fputs("at-exit action ran\n", stderr);
}

} // namespace

TEST(Interrupt, FirstAsksTheRunningCheckToStop)
{
    interrupted = 0;
    stopRequests = 0;
    stopRunningCheck = countStop;
    onInterrupt(SIGINT);
    EXPECT_EQ(interrupted, 1);
    EXPECT_EQ(stopRequests, 1);
    stopRunningCheck = nullptr;
    interrupted = 0;

    // Without a check to stop, only the flag is set.
    onInterrupt(SIGINT);
    EXPECT_EQ(interrupted, 1);
    interrupted = 0;
}

TEST(InterruptDeathTest, SecondEndsTheProcessWithoutAtExitActions)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // The handler runs asynchronously: the at-exit actions must not run inside it.
    EXPECT_EXIT(
        {
            interrupted = 0;
            std::atexit(atExitMarker);
            installInterruptHandler();
            std::raise(SIGINT);
            std::fputs("first interrupt survived\n", stderr);
            std::raise(SIGINT);
            std::fputs("second interrupt survived\n", stderr);
            std::exit(0);
        },
        testing::ExitedWithCode(1), "^first interrupt survived\n$");
}

// A run fails after an interrupt only when a query lost its verdict to it.
TEST(Interrupt, CutsTheRunWhenAQueryLostItsVerdict)
{
    struct Case
    {
        const char* name;
        int interruptedFlag;
        std::vector<int32_t> statuses;
        bool cut;
    };
    const Case cases[] = {
        {"no interrupt", 0, {STATUS_SATISFIED, STATUS_ABORTED, 0}, false},
        {"interrupt after every verdict", 1,
         {STATUS_SATISFIED, STATUS_NOT_SATISFIED, STATUS_MAYBE_SATISFIED, STATUS_MAYBE_NOT_SATISFIED}, false},
        {"interrupt with no query at all", 1, {}, false},
        {"aborted query", 1, {STATUS_SATISFIED, STATUS_ABORTED, 0}, true},
        {"query never started", 1, {STATUS_SATISFIED, 0}, true},
        {"interrupt while loading", 1, {0, 0}, true},
    };
    for (const Case& c : cases) {
        std::list<base::RefPtr<Job>> jobs;
        for (int32_t status : c.statuses) {
            jobs.push_back(base::RefPtr<Job>(new Job(PropertyRecord{})));
            jobs.back()->AbstractJob::setStatus(status);
        }
        interrupted = c.interruptedFlag;
        EXPECT_EQ(interruptCutTheRun(jobs), c.cut) << c.name;
        // The other processes of an MPI run stop with rank 0; only rank 0 reports.
        processRank = 1;
        EXPECT_FALSE(interruptCutTheRun(jobs)) << c.name;
        processRank = 0;
    }
    interrupted = 0;
}
