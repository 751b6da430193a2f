// Run records: run-length encoding and the replay as a printed trace.

#include <gtest/gtest.h>

#include <sstream>

#include "smc/run_record.h"
#include "smc_fixture.h"

namespace {

const char* model = "clock x; int n;\n"
                    "process P() { state A, B; init A; trans A -> B { assign n = n + 1; }, B -> A { assign x = 0; }; }\n"
                    "system P;";

TEST(RunRecord, EqualNeighboursShareOneItem)
{
    auto m = smctest::compile(model);
    auto initial = m->initial();
    RunRecord record(initial.get());
    Edge* forth[] = {m->process("P")->getEdges()[0].get(), nullptr};
    Edge* back[] = {m->process("P")->getEdges()[1].get(), nullptr};
    for (int k = 0; k < 20; ++k) {
        record.recordDelay(0.01);
    }
    record.recordDelay(0.010000000000000002);
    record.recordTransition(forth);
    record.recordTransition(forth);
    record.recordDelay(1);
    record.recordTransition(forth);
    record.recordTransition(back);
    record.recordDelay(1.0 / 0.0);
    const std::vector<RunItem>& items = record.items();
    ASSERT_EQ(items.size(), 7u);
    EXPECT_TRUE(items[0].isDelay());
    EXPECT_EQ(items[0].repetitions(), 20u);
    EXPECT_EQ(items[1].repetitions(), 1u);  // not exactly the same delay
    EXPECT_FALSE(items[2].isDelay());
    EXPECT_EQ(items[2].repetitions(), 2u);
    EXPECT_EQ(items[2].transition, internEdgeTuple(forth));
    EXPECT_EQ(items[4].repetitions(), 1u);  // a delay separates equal transitions
    EXPECT_EQ(record.transitionCount(), 4);
}

TEST(RunRecord, ReplayWritesEveryStepAndOneStateBlockPerItem)
{
    auto m = smctest::compile(model);
    auto initial = m->initial();
    RunRecord record(initial.get());
    Edge* forth[] = {m->process("P")->getEdges()[0].get(), nullptr};
    record.recordDelay(0.5);
    record.recordDelay(0.5);
    record.recordTransition(forth);
    std::ostringstream out;
    std::unique_ptr<ConsoleSerializer> serializer(ConsoleSerializer::create());
    printConcreteTrace(record, out, *serializer);
    EXPECT_EQ(out.str(), "state\n( P.A ) n=0 \n[ x=0 ]\n\n"
                         "delay 0.5\n\ndelay 0.5\n\n"
                         "state\n( P.A ) n=0 \n[ x=1 ]\n\n"
                         "transition\nP.A->P.B { 1, tau, n := n + 1 }\n\n"
                         "state\n( P.B ) n=1 \n[ x=1 ]\n\n");
    EXPECT_EQ(out.precision(), 32);  // the delay lines leave it so

    RunRecord empty(initial.get());
    std::ostringstream alone;
    printConcreteTrace(empty, alone, *serializer);
    EXPECT_EQ(alone.str(), "state\n( P.A ) n=0 \n[ x=0 ]\n\n");
}

}  // namespace
