// Distance guidance on a small compiled model: the static distances, the estimate written into
// "#dist", successors kept last, targets that leave the guidance off, the weights from the
// environment and the DOT graph.

#include "pipeline/distance_filter.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "pipeline/deadlock.h"
#include "pipeline/filter_configuration.h"
#include "pipeline/keys.h"
#include "pipeline/successor_chain.h"
#include "runtime/location.h"
#include "runtime/process.h"
#include "runtime/variable.h"
#include "successor_chain_fixture.h"
#include "typecheck/checked_reading.h"

namespace {

constexpr int32_t infinity = DistanceAnalysis::infinity;

TEST(DistanceAnalysis, SumsSaturateBelowInfinity)
{
    struct Case
    {
        int32_t a;
        int32_t b;
        int32_t sum;
    };
    const Case cases[] = {
        {1, 3, 4},
        {2147483640, 6, 2147483646},
        {2147483640, 7, 2147483646},  // would be infinity
        {2147483640, 10, 2147483646},  // wraps around
        {2147483646, 0, 2147483646},
        {5, -10, 2147483646},  // below the first term
        {5, 0, 5},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DistanceAnalysis::satadd(c.a, c.b), c.sum) << c.a << " + " << c.b;
    }
}

class DistanceTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        for (const char* name : {"MIRVEK_DIST_EDGE", "MIRVEK_DIST_PROC", "MIRVEK_DIST_PROCL", "MIRVEK_DIST_PROCE",
                                 "MIRVEK_DIST_CLOCKS", "MIRVEK_DIST_COST", "MIRVEK_DIST_XCOST", "MIRVEK_DIST_MAP"}) {
            unsetenv(name);
        }
        model = chaintest::compileModel(chaintest::fixture("reach_distance.xta"));
        dist = model->system->addDistVariable();
    }

    void TearDown() override
    {
        for (const char* name : {"MIRVEK_DIST_COST", "MIRVEK_DIST_XCOST", "MIRVEK_DIST_MAP"}) {
            unsetenv(name);
        }
        EXPECT_EQ(model->system->statesInUse(), 0u);
    }

    ExpressionRef formula(const std::string& text)
    {
        ZOLT::expression_t parsed = ZOLT::readCheckedExpressionText(text.c_str(), model->model.get(), true);
        return model->compiler->compileStateFormula(parsed, nullptr);
    }

    // A filter for the target, enabled and begun.
    std::unique_ptr<DistanceFilter> filter(const ExpressionRef& target, bool enabled = true)
    {
        auto f = std::make_unique<DistanceFilter>();
        f->setProperty(PROPERTY_SYSTEM, model->system.get());
        f->setProperty(PROPERTY_EXPRESSION, target.get());
        if (enabled) {
            f->setProperty(PROPERTY_TARGET_ORDER, nullptr);
        }
        f->connect(&recorder);
        f->begin();
        return f;
    }

    Edge* edge(const std::string& process, size_t i) const
    {
        return model->system->findProcess(process)->getEdges()[i].get();
    }

    Location* location(const std::string& process, const std::string& name) const
    {
        for (Location* l : model->system->findProcess(process)->getLocations()) {
            if (l->getName() == name) {
                return l;
            }
        }
        return nullptr;
    }

    // Puts a successor over the edges with "#dist" at v; the "#dist" written, or -1 when dropped.
    int64_t estimate(DistanceFilter& f, std::initializer_list<Edge*> edges, int32_t v)
    {
        std::vector<Edge*> tuple(edges);
        tuple.push_back(nullptr);
        Successor item;
        item.state = model->system->makeInitialState();
        dist->setValue(item.state, v);
        item.transition = internEdgeTuple(tuple.data());
        recorder.release();
        recorder.items.clear();
        if (!f.put(&item)) {
            EXPECT_TRUE(recorder.items.empty());
            return -1;
        }
        return dist->getValue(recorder.items.back().state);
    }

    chaintest::CompiledModel* model = nullptr;
    Variable* dist = nullptr;
    chaintest::Recorder recorder;
};

TEST_F(DistanceTest, DistancesFlowBackFromTheTargetAlongEdgesProcessesAndChannels)
{
    auto f = filter(formula("P.C"));
    ASSERT_TRUE(f->isActive());
    // P: B -> C enables the target; A -> B and B -> B lead to B (3 more); Q's edge writes the flag
    // that B -> C reads (two crossings of 1), and receives on go from B -> B.
    EXPECT_EQ(edge("P", 1)->distance, 1);
    EXPECT_EQ(edge("P", 0)->distance, 4);
    EXPECT_EQ(edge("P", 2)->distance, 4);
    EXPECT_EQ(edge("Q", 0)->distance, 3);
    // A location takes the distance of the last edge from it that was given one.
    EXPECT_EQ(location("P", "A")->distance, 4);
    EXPECT_EQ(location("P", "B")->distance, 4);
    EXPECT_EQ(location("P", "C")->distance, infinity);
    EXPECT_EQ(location("Q", "W")->distance, 3);
    // Nobody sends on never: R's edge is irrelevant, its target unreachable.
    EXPECT_EQ(edge("R", 0)->distance, infinity);
    EXPECT_FALSE(location("R", "D")->mark);
    EXPECT_TRUE(location("Q", "D")->mark);
    EXPECT_FALSE(f->getAnalysis()->isRelevant(edge("R", 0)));
    EXPECT_EQ(edge("S(0)", 0)->distance, infinity);
}

TEST_F(DistanceTest, TheEstimateCombinesTargetDistanceCostAndTheSourceEstimate)
{
    struct Case
    {
        const char* cost;  // MIRVEK_DIST_COST and MIRVEK_DIST_XCOST, null for undefined
        const char* xcost;
        int32_t v;
        int64_t fromA;  // the estimate after A -> B (target B at 4)
    };
    const Case cases[] = {
        {nullptr, nullptr, 0, 8},  // 2t when v is 0
        {nullptr, nullptr, 5, 9},  // t + v
        {"0", "0", 5, 4},          // the plain target distance
        {"2", "3", 0, 18},         // 3t + t + 2
        {"2", "3", 5, 19},         // 3t + v + 2
        {"0", "1000000000", 5, 2147483646},  // saturates
        {"x", "0", 5, 4},          // text without a number counts as 0
        {nullptr, nullptr, infinity, infinity},  // no way on from the source: kept, explored last
        {"0", "0", infinity, infinity},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.cost ? c.cost : "-") + " " + (c.xcost ? c.xcost : "-") + " " + std::to_string(c.v));
        if (c.cost != nullptr) {
            setenv("MIRVEK_DIST_COST", c.cost, 1);
            setenv("MIRVEK_DIST_XCOST", c.xcost, 1);
        } else {
            unsetenv("MIRVEK_DIST_COST");
            unsetenv("MIRVEK_DIST_XCOST");
        }
        auto f = filter(formula("P.C"));
        EXPECT_EQ(estimate(*f, {edge("P", 0)}, c.v), c.fromA);
    }
    recorder.release();
}

TEST_F(DistanceTest, SuccessorsWithoutAWayToTheTargetAreKeptAtInfinity)
{
    auto f = filter(formula("P.C"));
    // Into the target itself: C has no way on, so the estimate is infinity.
    EXPECT_EQ(estimate(*f, {edge("P", 1)}, 0), infinity);
    // An edge that leads nowhere near the target is kept at infinity, so it is explored last; in
    // a synchronisation the nearest target counts (P's B at 4, not Q's D), and so 2t = 8.
    EXPECT_EQ(estimate(*f, {edge("S(1)", 0)}, 0), infinity);
    EXPECT_EQ(estimate(*f, {edge("P", 2), edge("Q", 0)}, 0), 8);
    // The empty transition has no edge to estimate by.
    EXPECT_EQ(estimate(*f, {}, 0), infinity);
    // The end of a state's successors passes.
    recorder.release();
    recorder.items.clear();
    EXPECT_TRUE(f->put(nullptr));
    ASSERT_EQ(recorder.items.size(), 1u);
    EXPECT_TRUE(recorder.items[0].nullItem);
    recorder.release();
}

TEST_F(DistanceTest, TargetsTheAnalysisCannotSeedLeaveTheGuidanceOff)
{
    base::RefPtr<FilterConfiguration> registry;
    registerSuccessorChainFilters();
    registry = new FilterConfiguration;
    struct Case
    {
        const char* name;
        ExpressionRef target;
        bool enabled;
        bool active;
    };
    const Case cases[] = {
        {"a location", formula("P.C"), true, true},
        {"a variable an edge writes", formula("flag == 1"), true, true},
        {"not asked for", formula("P.C"), false, false},
        // Only a clock, which the analysis leaves out: every distance would stay infinite and every
        // successor would be dropped, so the guidance stays off instead.
        {"a clock only", formula("x > 5"), true, false},
        {"a constant", formula("1 == 1"), true, false},
        {"deadlock", ExpressionRef(new DeadlockExpr(registry.get(), model->system.get())), true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto f = filter(c.target, c.enabled);
        EXPECT_EQ(f->isActive(), c.active);
        EXPECT_EQ(f->isEnabled(), c.enabled);
        if (!c.active) {
            // Everything passes unchanged.
            EXPECT_EQ(estimate(*f, {edge("S(1)", 0)}, 7), 7);
            EXPECT_EQ(estimate(*f, {}, 7), 7);
        }
    }
    recorder.release();
}

TEST_F(DistanceTest, TheGraphIsWrittenInDotForm)
{
    const std::string path = ::testing::TempDir() + "distances.dot";
    std::remove(path.c_str());
    setenv("MIRVEK_DIST_MAP", path.c_str(), 1);
    auto f = filter(formula("P.C"));
    std::ifstream in(path);
    std::stringstream written;
    written << in.rdbuf();

    const std::string flag = std::to_string(model->system->findVariable("flag")->getIndex());
    const std::string expected =
        "digraph distances {\n"
        "  params[shape=box,label=\"Edge distance       = 3\\nProcess distance   = 1\\nProcess L distance = 0"
        "\\nProcess E distance = 0\\nAnalysing clocks   : 0\\nIrrelevant processes:\\nR, S(0), S(1),\\nS(2).\"];\n"
        "  subgraph cluste_procs {\n"
        "    node [shape=ellipse,style=filled];\n"
        "    proc0[label=\"P\\n(L=3,E=3)\\n[1:4]\"];\n"
        "    proc1[label=\"Q\\n(L=2,E=1)\\n[3:3]\"];\n"
        "  }\n"
        "  subgraph cluste_vars {\n"
        "    node [shape=rectangle,color=blue];\n"
        "    var" + flag + "[label=\"flag\"];\n"
        "  }\n"
        "  subgraph cluste_chans {\n"
        "    node [shape=diamond,color=red];\n"
        "    chan1[label=\"go\"];\n"
        "  }\n"
        "  edge[style=bold,color=blue,weight=100];\n"
        "    proc0 -> chan1;\n"
        "  edge [style=solid,color=darkgreen,weight=1];\n"
        "    var" + flag + " -> proc0;\n"
        "  edge[style=bold,color=blue,weight=100];\n"
        "    proc1 -> var" + flag + ";\n"
        "  edge [style=solid,color=darkgreen,weight=1];\n"
        "    chan1 -> proc1;\n"
        "}\n";
    EXPECT_EQ(written.str(), expected);
    std::remove(path.c_str());

    // A file that cannot be made is reported, and the guidance goes on without it.
    const std::string folder = ::testing::TempDir();
    setenv("MIRVEK_DIST_MAP", folder.c_str(), 1);
    testing::internal::CaptureStderr();
    auto again = filter(formula("P.C"));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Cannot write the distance map " + folder + ": Is a directory\n");
    EXPECT_TRUE(again->isActive());
}

TEST_F(DistanceTest, TheWeightsComeFromTheEnvironment)
{
    setenv("MIRVEK_DIST_EDGE", "10", 1);
    setenv("MIRVEK_DIST_PROC", "0", 1);
    setenv("MIRVEK_DIST_PROCL", "2", 1);
    setenv("MIRVEK_DIST_PROCE", "1", 1);
    auto f = filter(formula("P.C"));
    const DistanceAnalysis* analysis = f->getAnalysis();
    EXPECT_EQ(analysis->getEdgeWeight(), 10);
    EXPECT_EQ(analysis->getProcessWeight(), 0);
    // Crossing from P: 0 + 2 per location (3) + 1 per edge (3).
    EXPECT_EQ(analysis->cross(1, model->system->findProcess("P")), 10);
    EXPECT_EQ(analysis->cross(infinity, model->system->findProcess("P")), infinity);
    EXPECT_EQ(edge("P", 0)->distance, 11);
    // flag is read by P's B -> C at 1: Q's writer at two crossings from P, 1 + 9 + 9.
    EXPECT_EQ(edge("Q", 0)->distance, 19);
    for (const char* name : {"MIRVEK_DIST_EDGE", "MIRVEK_DIST_PROC", "MIRVEK_DIST_PROCL", "MIRVEK_DIST_PROCE"}) {
        unsetenv(name);
    }
}

}  // namespace
