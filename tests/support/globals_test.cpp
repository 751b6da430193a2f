#include "support/globals.h"

#include <gtest/gtest.h>

TEST(ProcessGlobals, StartAsSingleProcessWithoutTauClock)
{
    EXPECT_EQ(processRank, 0);
    EXPECT_EQ(processCount, 1);
    EXPECT_EQ(tauClockNumber, -1);
}
