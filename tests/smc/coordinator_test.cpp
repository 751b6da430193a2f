// The exchange of batches and the end handshake between processes, in worlds of several ranks
// that run inside the test: decisions, early decisions, aborts, and that nothing is left behind
// and nobody waits for ever.

#include <gtest/gtest.h>

#include <cmath>

#include "fake_world.h"
#include "smc/coordinator.h"

namespace {

using smctest::FakeWorld;

// The test of the command line's defaults: theta 0.5, deltas 0.01, alpha = beta = 0.05.
void defaultTest(SMCCoordinator& c)
{
    c.setTest(std::log(0.49 / 0.51), std::log(0.51 / 0.49), std::log(0.05 / 0.95), std::log(0.95 / 0.05));
}

// Rank 0: runs (each a success when `successes`), batches and polls until a decision, a stop
// receive or `limit` runs; then the end handshake. Returns the decision (-2: stopped).
int coordinate(FakeWorld& world, smc::Communicator& comm, bool successes, int limit = 100000)
{
    SMCCoordinator c(comm);
    defaultTest(c);
    c.postBatchReceives();
    c.postStopReceive();
    double sum = 0;
    int decision = -1;
    for (int run = 0; run < limit && decision < 0; ++run) {
        if (c.stopReceived()) {
            decision = -2;
            break;
        }
        if (c.shouldPoll()) {
            decision = c.poll(&sum);
            if (decision >= 0) {
                break;
            }
        }
        ++c.batchRuns;
        c.batchSuccesses += successes ? 1 : 0;
        if (c.batchRuns == SMCCoordinator::batchSize) {
            decision = c.addOwnBatch(&sum);
            c.batchRuns = c.batchSuccesses = 0;
        }
        world.yield(0);
    }
    c.finish();
    return decision;
}

// A worker: runs and sends batches until rank 0 stops it; `burst` batches go out before it first
// lets the others run.
void work(FakeWorld& world, smc::Communicator& comm, bool successes, int burst = 0)
{
    SMCCoordinator c(comm);
    defaultTest(c);
    c.postStopReceive();
    for (int k = 0; k < burst; ++k) {
        c.batchSuccesses = successes ? SMCCoordinator::batchSize : 0;
        c.sendBatch();
    }
    c.batchSuccesses = 0;
    for (int run = 0; run < 100000; ++run) {
        if (c.stopReceived()) {
            break;
        }
        ++c.batchRuns;
        c.batchSuccesses += successes ? 1 : 0;
        if (c.batchRuns == SMCCoordinator::batchSize) {
            c.sendBatch();
            c.batchRuns = c.batchSuccesses = 0;
        }
        world.yield(comm.rank());
    }
    c.finish();
}

TEST(SMCCoordinator, RankZeroDecidesFromTheBatchesOfAllProcesses)
{
    for (bool successes : {true, false}) {
        FakeWorld world(3);
        int decision = -1;
        ASSERT_TRUE(world.run({[&](smc::Communicator& c) { decision = coordinate(world, c, successes); },
                               [&](smc::Communicator& c) { work(world, c, successes); },
                               [&](smc::Communicator& c) { work(world, c, successes); }}))
            << ::testing::PrintToString(world.failures());
        EXPECT_EQ(decision, successes ? 0 : 1);
        EXPECT_EQ(world.undeliveredMessages(), 0u);
        EXPECT_EQ(world.pendingReceives(), 0u);
    }
}

TEST(SMCCoordinator, BatchesSentAfterTheDecisionAreDrainedInTheHandshake)
{
    // The workers run far ahead: their rings fill, later batches wait in the mailbox, and the
    // decision comes while many are still unread.
    FakeWorld world(3);
    int decision = -1;
    ASSERT_TRUE(world.run({[&](smc::Communicator& c) { decision = coordinate(world, c, true); },
                           [&](smc::Communicator& c) { work(world, c, true, 40); },
                           [&](smc::Communicator& c) { work(world, c, true, 25); }}))
        << ::testing::PrintToString(world.failures());
    EXPECT_EQ(decision, 0);
    EXPECT_EQ(world.undeliveredMessages(), 0u);
    EXPECT_EQ(world.pendingReceives(), 0u);
}

TEST(SMCCoordinator, AColumnWithMissingBatchesDecidesWhenTheWorstCaseCannotChangeIt)
{
    FakeWorld world(2);
    int decision = -1;
    ASSERT_TRUE(world.run({[&](smc::Communicator& comm) {
                               SMCCoordinator c(comm);
                               // A success weighs twice a failure: even a missing batch of 32
                               // failures leaves the sum below the accept limit.
                               c.setTest(-2, 1, -10, 10);
                               c.postBatchReceives();
                               c.postStopReceive();
                               double sum = 0;
                               c.batchSuccesses = 32;
                               EXPECT_EQ(c.addOwnBatch(&sum), -1);
                               decision = c.poll(&sum);
                               c.finish();
                           },
                           [&](smc::Communicator& comm) {
                               SMCCoordinator c(comm);
                               c.setTest(-2, 1, -10, 10);
                               c.postStopReceive();
                               c.batchSuccesses = 0;
                               for (int k = 0; k < 3; ++k) {
                                   c.sendBatch();
                               }
                               c.finish();
                           }}))
        << ::testing::PrintToString(world.failures());
    EXPECT_EQ(decision, 0);
    EXPECT_EQ(world.undeliveredMessages(), 0u);
    EXPECT_EQ(world.pendingReceives(), 0u);
}

TEST(SMCCoordinator, AbortsOfWorkersStopRankZeroAndAreAllConsumed)
{
    for (int aborting : {1, 2}) {
        FakeWorld world(3);
        int decision = -1;
        auto abort = [&](smc::Communicator& comm) {
            SMCCoordinator c(comm);
            defaultTest(c);
            c.postStopReceive();
            c.sendAbort();
            c.sendAbort();  // once only
            c.finish();
        };
        std::vector<FakeWorld::Script> scripts{[&](smc::Communicator& c) { decision = coordinate(world, c, true); }};
        for (int w = 1; w < 3; ++w) {
            if (w <= aborting) {
                scripts.push_back(abort);
            } else {
                scripts.push_back([&](smc::Communicator& c) { work(world, c, true); });
            }
        }
        ASSERT_TRUE(world.run(scripts)) << ::testing::PrintToString(world.failures());
        EXPECT_EQ(decision, -2) << aborting << " aborting";
        EXPECT_EQ(world.undeliveredMessages(), 0u);
        EXPECT_EQ(world.pendingReceives(), 0u);
    }
}

TEST(FakeWorld, FindsAWaitThatNobodyAnswers)
{
    FakeWorld world(2);
    EXPECT_FALSE(world.run({[&](smc::Communicator& c) {
                                int64_t value = 1;
                                int64_t total[1];
                                c.reduceSum(&value, total, 1, 0);
                            },
                            [&](smc::Communicator&) {}}));
    ASSERT_EQ(world.failures().size(), 1u);
    EXPECT_NE(world.failures()[0].find("deadlock"), std::string::npos);
}

}  // namespace
