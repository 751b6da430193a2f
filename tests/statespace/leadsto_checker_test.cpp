// p --> q: an outer search hands every state where p holds to an inner liveness search inside
// not q. The outer search here is a stand-in that hands on the states it is given.

#include <gtest/gtest.h>

#include <vector>

#include "liveness_fixture.h"
#include "pipeline/job.h"
#include "statespace/leadsto_checker.h"

namespace {

using livetest::clockLower;
using livetest::clockUpper;

// The expressions of a query.
class Job : public pipeline::JobInterface
{
public:
    Job(ExpressionRef premise, ExpressionRef notConclusion) : expressions{premise, notConclusion} {}
    void progress() override {}
    int32_t getPropertyType() const override { return 4; }
    uint32_t expressionCount() const override { return 2; }
    ExpressionRef getExpression(uint32_t i) const override { return expressions[i]; }

    std::vector<ExpressionRef> expressions;
};

// Hands a copy of the initial state on `repeats` times when its expression holds on it, unless
// stopped; keeps what it was told.
class Outer : public pipeline::AbstractFilter<Successor, Successor>
{
public:
    void setProperty(const char* key, void* value) override
    {
        if (key == PROPERTY_EXPRESSION) {
            expression = static_cast<Expression*>(value);
        } else if (key == PROPERTY_SUP_FEEDBACK) {
            supFeedbackCleared = value == nullptr;
        } else if (key == PROPERTY_STOP) {
            stopped = true;
        } else if (key == PROPERTY_JOB) {
            sawJob = true;
        }
    }
    void begin() override { ++begun; }
    void end() override { ++ended; }
    bool put(Successor* initial) override
    {
        stopped = false;
        for (int k = 0; k < repeats && !stopped; ++k) {
            Successor item;
            item.state = initial->state->clone();
            item.transition = emptyEdgeTuple();
            if (expression->evaluate(item.state) != 0) {
                next->put(&item);
            } else {
                item.state->release();
            }
        }
        initial->state->release();
        return true;
    }

    ExpressionRef expression;
    int repeats = 1;
    bool stopped = false;
    bool supFeedbackCleared = false;
    bool sawJob = false;
    int begun = 0;
    int ended = 0;
};

struct Model
{
    base::RefPtr<System> system;
    StateVariable* n;
};

// P: A { x <= 5 } --(x >= 1; x := 0)--> A: the loop never ends.
Model loop()
{
    testkit::ModelBuilder b;
    ClockVariable* x = b.clock("x");
    StateVariable* n = b.variable("n", 0, 2, 0);
    Process* p = b.process("P", {{"A", clockUpper(x, false, 5)}});
    testkit::EdgeSpec edgeSpec;
    edgeSpec.clockGuard = clockLower(x, false, 1);
    edgeSpec.update = testkit::assign(x, 0);
    b.edge(p, "A", "A", edgeSpec);
    return {b.finish(), n};
}

// Committed A --(n := 1)--> B --(n := 2)--> C: every run reaches n = 2.
Model chain()
{
    testkit::ModelBuilder b;
    b.clock("x");
    StateVariable* n = b.variable("n", 0, 2, 0);
    std::vector<testkit::LocationSpec> locations;
    for (const char* name : {"A", "B", "C"}) {
        testkit::LocationSpec l{name};
        l.committed = true;
        locations.push_back(l);
    }
    Process* p = b.process("P", locations);
    testkit::EdgeSpec one;
    one.update = testkit::assign(n, 1);
    testkit::EdgeSpec two;
    two.update = testkit::assign(n, 2);
    b.edge(p, "A", "B", one);
    b.edge(p, "B", "C", two);
    return {b.finish(), n};
}

struct Check
{
    Check(Model& model, Job* job) : model(model), registry(livetest::makeRegistry()), settings(model.system.get())
    {
        checker.reset(makeLeadsToChecker(&outer, registry.get()));
        settings.send(*checker, model.system.get());
        reports.source = checker.get();
        checker->connect(&reports);
        if (job != nullptr) {
            checker->setProperty(PROPERTY_JOB, static_cast<pipeline::JobInterface*>(job));
        }
    }

    void run()
    {
        checker->begin();
        const uint64_t inUse = model.system->statesInUse();
        Successor initial = settings.initial(model.system.get());
        EXPECT_TRUE(checker->put(&initial));
        EXPECT_EQ(model.system->statesInUse(), inUse);
        checker->end();
    }

    Model& model;
    base::RefPtr<FilterConfiguration> registry;
    livetest::Settings settings;
    Outer outer;
    std::unique_ptr<LeadsToChecker> checker;
    livetest::PairSink reports;
};

TEST(LeadsToChecker, NoStateWithThePremiseGivesNothing)
{
    Model model = loop();
    Job job(testkit::constant(0), testkit::constant(1));
    Check check(model, &job);
    check.run();
    EXPECT_TRUE(check.reports.pairs.empty());
    EXPECT_EQ(livetest::CountingPassedList::added, 0);
    EXPECT_EQ(check.outer.begun, 1);
    EXPECT_EQ(check.outer.ended, 1);
}

TEST(LeadsToChecker, ACycleWithoutTheConclusionStopsBothSearches)
{
    // p holds at the start, q never: the loop refutes p --> q.
    Model model = loop();
    Job job(testkit::constant(1), testkit::constant(1));
    Check check(model, &job);
    check.outer.repeats = 3;
    check.run();
    ASSERT_EQ(check.reports.pairs.size(), 1u);
    EXPECT_EQ(check.reports.pairs[0], std::make_pair(0, 1));
    // The stop reached the outer search, which started no further inner search.
    EXPECT_TRUE(check.outer.stopped);
    EXPECT_TRUE(check.outer.supFeedbackCleared);
    EXPECT_TRUE(check.outer.sawJob);
}

TEST(LeadsToChecker, LaterInnerSearchesReuseWhatEarlierOnesExplored)
{
    // n < 2 is not q; every run leaves it, so no report. The second inner search starts from a
    // state the first one explored and goes no further.
    Model model = chain();
    Job job(testkit::constant(1), testkit::compare(model.n, testkit::Relation::Less, 2));
    Check check(model, &job);
    check.outer.repeats = 2;
    check.run();
    EXPECT_TRUE(check.reports.pairs.empty());
    EXPECT_EQ(livetest::CountingPassedList::added, 2);
    EXPECT_EQ(livetest::CountingPassedList::dropped, 1);
}

TEST(LeadsToChecker, OnlyTheJobGivesTheSearchesDifferentExpressions)
{
    Model model = loop();
    // The job: p holds, but not q holds nowhere: no report.
    {
        Job job(testkit::constant(1), testkit::constant(0));
        Check check(model, &job);
        EXPECT_EQ(check.outer.expression.get(), job.expressions[0].get());
        check.run();
        EXPECT_TRUE(check.reports.pairs.empty());
    }
    // One expression set directly reaches both searches.
    {
        Check check(model, nullptr);
        ExpressionRef both = testkit::constant(1);
        check.checker->setProperty(PROPERTY_EXPRESSION, both.get());
        EXPECT_EQ(check.outer.expression.get(), both.get());
        check.run();
        EXPECT_EQ(check.reports.pairs.size(), 1u);
    }
}

}  // namespace
