#include "driver/interrupt.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

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
