// The transition step: the choice among enabled edges and branches, receivers, updates and the
// model-sanity reports.

#include <gtest/gtest.h>

#include <map>

#include "pipeline/keys.h"
#include "smc/concrete_trans.h"
#include "smc/run_record.h"
#include "smc_fixture.h"

namespace {

struct TransBench
{
    explicit TransBench(const std::string& text) : model(smctest::compile(text))
    {
        trans.setProperty(PROPERTY_SYSTEM, model->system.get());
        trans.setProperty(PROPERTY_FEEDBACK, &feedback);
        trans.aborted = &aborted;
        trans.stepCount = &steps;
        trans.kept = &kept;
        trans.connect(&sink);
        trans.begin();
        kept.assign(model->system->getProcessCount(), true);
        state = model->initial();
    }

    // The chosen process acts in a fresh initial state.
    bool act(int64_t process, bool forced = false)
    {
        state = model->initial();
        ConcreteSuccessor successor;
        successor.state = state.get();
        successor.process = process;
        successor.forced = forced;
        return trans.put(&successor);
    }

    std::string where(const std::string& process)
    {
        const Location* l = state->getLocation(static_cast<uint32_t>(model->process(process)->getNumber()));
        return l != nullptr ? l->getName() : "";
    }

    std::unique_ptr<smctest::Model> model;
    ConcreteTrans trans;
    smctest::StateRecorder sink;
    std::unique_ptr<ConcreteState> state;
    std::string feedback;
    bool aborted = false;
    int64_t steps = 0;
    std::vector<bool> kept;
};

TEST(ConcreteTrans, NoChosenProcessPassesNothingOn)
{
    TransBench bench("process P() { state A, B; init A; trans A -> B { }; } system P;");
    EXPECT_TRUE(bench.act(-1));
    EXPECT_TRUE(bench.sink.clocks.empty());
    EXPECT_EQ(bench.steps, 0);
}

TEST(ConcreteTrans, EdgesAreUniformAndBranchesFollowTheirWeights)
{
    TransBench bench("process P() { state A, C, B1, B2; branch bp; init A;\n"
                     "  trans A -> C { }, A -> bp { }, bp -> B1 [ 1 ], bp -> B2 [ 3 ]; }\n"
                     "system P;");
    std::map<std::string, int> seen;
    const int n = 8000;
    for (int k = 0; k < n; ++k) {
        ASSERT_TRUE(bench.act(0));
        ++seen[bench.where("P")];
    }
    // The plain edge and the branch point one half each; inside it 1/4 and 3/4.
    EXPECT_NEAR(seen["C"] / double(n), 0.5, 0.03);
    EXPECT_NEAR(seen["B1"] / double(n), 0.125, 0.02);
    EXPECT_NEAR(seen["B2"] / double(n), 0.375, 0.03);
    EXPECT_EQ(bench.steps, n);  // one per transition
}

TEST(ConcreteTrans, NegativeWeightsCountAsNothing)
{
    TransBench bench("int w = -5;\n"
                     "process P() { state A, B1, B2, B3; branch bp; init A;\n"
                     "  trans A -> bp { }, bp -> B1 [ w ], bp -> B2 [ 1 ], bp -> B3 [ w ]; }\n"
                     "system P;");
    for (int k = 0; k < 200; ++k) {
        ASSERT_TRUE(bench.act(0));
        ASSERT_EQ(bench.where("P"), "B2");
    }
}

TEST(ConcreteTrans, ABranchPointWithoutWeightIsNeverTaken)
{
    const char* text = "int w = 0;\n"
                       "process P() { state A, B; branch bp; init A; trans A -> bp { }, bp -> B [ w ]; }\n"
                       "system P;";
    TransBench bench(text);
    ASSERT_TRUE(bench.act(0));
    EXPECT_EQ(bench.where("P"), "A");  // unchanged, but still handed on
    EXPECT_EQ(bench.sink.clocks.size(), 1u);
    EXPECT_FALSE(bench.kept[0]);  // draws afresh in the next delay
    EXPECT_EQ(bench.steps, 0);

    // A process that was forced to act and cannot is time-locked.
    TransBench forced(text);
    EXPECT_FALSE(forced.act(0, true));
    EXPECT_TRUE(forced.aborted);
    EXPECT_EQ(forced.feedback, "State\n( P.A )\n[ ]\nw=0 \nis time-locked.\n");
}

TEST(ConcreteTrans, ReceiversJoinTheSenderWithTheirFirstEnabledEdge)
{
    TransBench bench("broadcast chan c; int n;\n"
                     "process S() { state A, B; init A; trans A -> B { sync c!; assign n = n + 1; }; }\n"
                     "process R() { state A, B, C; init A; trans A -> B { sync c?; assign n = n * 10; },\n"
                     "                                       B -> C { sync c?; }; }\n"
                     "process T() { state A, B; init A; trans A -> B { guard n == 0; sync c?; }, A -> A { sync c!; }; }\n"
                     "system S, R, T;");
    ASSERT_TRUE(bench.act(0));
    EXPECT_EQ(bench.where("S"), "B");
    EXPECT_EQ(bench.where("R"), "B");
    EXPECT_EQ(bench.where("T"), "B");
    // The sender's update first, then the receivers' in process order.
    EXPECT_EQ(bench.model->system->findVariable("n")->getValue(bench.state.get()), 10);
    EXPECT_EQ(bench.steps, 1);

    // T's own receiving edge is no candidate: it can only send, and it sends to R alone.
    ASSERT_TRUE(bench.act(2));
    EXPECT_EQ(bench.where("T"), "A");
    EXPECT_EQ(bench.where("R"), "B");
    EXPECT_EQ(bench.where("S"), "A");
}

TEST(ConcreteTrans, TwoEnabledReceiversOfOneProcessBreakInputDeterminism)
{
    TransBench bench("broadcast chan c;\n"
                     "process S() { state A, B; init A; trans A -> B { sync c!; }; }\n"
                     "process R() { state A, B, C; init A; trans A -> B { sync c?; }, A -> C { sync c?; }; }\n"
                     "system S, R;");
    EXPECT_FALSE(bench.act(0));
    EXPECT_TRUE(bench.aborted);
    EXPECT_EQ(bench.feedback, "Location R.A\n[ ]\n\nviolates input determinism.");
    EXPECT_TRUE(bench.sink.clocks.empty());
}

TEST(ConcreteTrans, AnUpdateThatBreaksAnotherProcessesInvariantIsReported)
{
    TransBench bench("clock x; int n;\n"
                     "process P() { state A, B; init A; trans A -> B { assign n = 5; }; }\n"
                     "process Q() { state A { n < 3 }; init A; }\n"
                     "system P, Q;");
    EXPECT_FALSE(bench.act(0));
    EXPECT_EQ(bench.feedback, "Location Q.A\n[ x=0 ]\nn=5 \nviolates model sanity with transition\n"
                              "P.A->P.B { 1, tau, n := 5 }\n");
}

TEST(ConcreteTrans, CoverageCountsEdgesAndEnteredLocationsAndRunsAreRecorded)
{
    TransBench bench("broadcast chan c;\n"
                     "process S() { state A; init A; trans A -> A { sync c!; }; }\n"
                     "process R() { state A, B; init A; trans A -> B { sync c?; }, B -> A { sync c?; }; }\n"
                     "system S, R;");
    bool on = true;
    bench.trans.setProperty(PROPERTY_SMCCOVER, &on);
    ConcreteState start(*bench.state);
    RunRecord record(&start);
    bench.trans.recorder = &record;
    ConcreteSuccessor successor;
    successor.state = bench.state.get();
    successor.process = 0;
    for (int k = 0; k < 3; ++k) {
        ASSERT_TRUE(bench.trans.put(&successor));
    }
    const Process* s = bench.model->process("S");
    const Process* r = bench.model->process("R");
    EXPECT_EQ(s->getEdges()[0]->visits, 3u);
    EXPECT_EQ(r->getEdges()[0]->visits, 2u);
    EXPECT_EQ(r->getEdges()[1]->visits, 1u);
    EXPECT_EQ(bench.model->location("R", "B")->timesEntered, 2u);
    EXPECT_EQ(bench.steps, 3);
    // Three different tuples (receiver A->B, B->A, A->B again): three items.
    EXPECT_EQ(record.transitionCount(), 3);
    EXPECT_EQ(record.items().size(), 3u);
}

}  // namespace
