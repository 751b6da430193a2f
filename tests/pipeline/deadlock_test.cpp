// The deadlock predicate on the states of a small compiled model: which valuations of a zone are
// deadlocked, the negation, committed locations, unreachable targets, early stops and errors.

#include "pipeline/deadlock.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dbm/bound.h"
#include "pipeline/filter_configuration.h"
#include "pipeline/keys.h"
#include "pipeline/successor_chain.h"
#include "runtime/concrete_state.h"
#include "runtime/exceptions.h"
#include "support/exceptions.h"
#include "successor_chain_fixture.h"

namespace {

class DeadlockTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        model = chaintest::compileModel(chaintest::fixture("reach_deadlock.xta"));
        registerSuccessorChainFilters();
        registry = new FilterConfiguration;
    }

    // P in the named location, with the zone 0 <= x <= upper.
    SymbolicState* state(const std::string& location, int32_t upper = 10)
    {
        Process* process = model->system->getProcess(0);
        SymbolicState* s = model->system->makeInitialState();
        for (size_t l = 0; l < process->getLocationCount(); ++l) {
            if (process->getLocation(l)->getName() == location) {
                s->setLocation(0, process->getLocation(l));
            }
        }
        s->zone.setInit();
        s->zone.constrain(1, 0, dbm::boundLE(upper));
        return s;
    }

    std::string afterEvaluating(Expression& predicate, const std::string& location, int32_t& result)
    {
        SymbolicState* s = state(location);
        result = predicate.evaluate(s);
        std::string zone = chaintest::zoneText(s);
        s->release();
        return zone;
    }

    chaintest::CompiledModel* model = nullptr;
    base::RefPtr<FilterConfiguration> registry;
};

TEST_F(DeadlockTest, CutsTheZoneToTheDeadlockedOrTheLiveValuations)
{
    struct Case
    {
        const char* location;
        const char* deadlocked;  // the zone 0 <= x <= 10 cut by deadlock ("" when nothing is left)
        const char* live;        // ... and by not deadlock
    };
    const Case cases[] = {
        // No edge: every valuation is deadlocked.
        {"idle", "x<=10", ""},
        // The edge closes at x == 2: beyond, nothing can happen any more.
        {"open", "x>2, x<=10", "x<=2"},
        // The edge opens at x == 3: waiting for it is always possible.
        {"late", "", "x<=10"},
        // Time does not pass in a committed location: only x == 2 itself is live.
        {"quick", "(x<2) or (x>2, x<=10)", "x>=2, x<=2"},
        // The target's invariant x <= 1 can only be met from x <= 1.
        {"blocked", "x>1, x<=10", "x<=1"},
    };
    DeadlockExpr deadlock(registry.get(), model->system.get());
    NotDeadlockExpr live(registry.get(), model->system.get());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.location);
        int32_t result = -1;
        EXPECT_EQ(afterEvaluating(deadlock, c.location, result), c.deadlocked);
        EXPECT_EQ(result, std::string(c.deadlocked).empty() ? 0 : 1);
        EXPECT_EQ(afterEvaluating(live, c.location, result), c.live);
        EXPECT_EQ(result, std::string(c.live).empty() ? 0 : 1);
    }
    EXPECT_EQ(model->system->statesInUse(), 0u);
}

TEST_F(DeadlockTest, NegationsAreEachOthersComplement)
{
    ExpressionRef deadlock(new DeadlockExpr(registry.get(), model->system.get()));
    ExpressionRef live = deadlock->negate();
    ExpressionRef again = live->negate();
    ASSERT_NE(dynamic_cast<NotDeadlockExpr*>(live.get()), nullptr);
    ASSERT_NE(dynamic_cast<DeadlockExpr*>(again.get()), nullptr);
    int32_t result = -1;
    EXPECT_EQ(afterEvaluating(*live, "open", result), "x<=2");
    EXPECT_EQ(afterEvaluating(*again, "open", result), "x>2, x<=10");

    // The scanner of the distance guidance finds either form, also inside a formula.
    for (Expression* predicate : {deadlock.get(), live.get()}) {
        DeadlockScanner scanner;
        predicate->accept(scanner);
        EXPECT_TRUE(scanner.found);
    }
    DeadlockScanner none;
    model->system->findVariable("i")->accept(none);
    EXPECT_FALSE(none.found);

    try {
        static_cast<DeadlockExpr*>(deadlock.get())->normalise();
        ADD_FAILURE() << "normalise returned";
    } catch (const Bug& bug) {
        EXPECT_STREQ(bug.what(), "DeadlockExpr::normalise() is not implemented");
    }
    try {
        static_cast<NotDeadlockExpr*>(live.get())->normalise();
        ADD_FAILURE() << "normalise returned";
    } catch (const Bug& bug) {
        EXPECT_STREQ(bug.what(), "NotDeadlockExpr::normalise() is not implemented");
    }
    EXPECT_EQ(model->system->statesInUse(), 0u);
}

// Hands on the federations it receives and answers as told.
class Federations : public pipeline::Sink<dbm::fed_t>
{
public:
    explicit Federations(bool answer) : answer(answer) {}
    bool put(dbm::fed_t* federation) override
    {
        received.push_back(*federation);
        return answer;
    }
    std::vector<dbm::fed_t> received;
    bool answer;
};

TEST_F(DeadlockTest, TheHelperHandsOnOneFederationPerTransitionAndStopsWhenAsked)
{
    DeadlockHelper helper(registry.get());
    helper.setProperty(PROPERTY_SYSTEM, model->system.get());
    helper.begin();
    SymbolicState* s = state("open");
    SymbolicState* untouched = s->clone();

    Federations all(true);
    helper.connect(&all);
    EXPECT_TRUE(helper.put(s));
    ASSERT_EQ(all.received.size(), 1u);
    EXPECT_EQ(all.received[0].toString(SystemClockAccessor(model->system.get(), s)), "(x<=2)");
    EXPECT_EQ(s->relation(untouched), 3);

    // No enabled transition: nothing is handed on.
    SymbolicState* idle = state("idle");
    all.received.clear();
    EXPECT_TRUE(helper.put(idle));
    EXPECT_TRUE(all.received.empty());

    // A downstream stage that is satisfied stops the helper.
    Federations first(false);
    helper.connect(&first);
    EXPECT_FALSE(helper.put(s));
    EXPECT_EQ(first.received.size(), 1u);

    helper.end();
    s->release();
    untouched->release();
    idle->release();
    EXPECT_EQ(model->system->statesInUse(), 0u);
}

TEST_F(DeadlockTest, EvaluationErrorsPassThroughAndLeaveNoStateTaken)
{
    DeadlockExpr deadlock(registry.get(), model->system.get());
    SymbolicState* s = state("broken");
    model->system->findVariable("i")->setValue(s, 3);
    EXPECT_THROW(deadlock.evaluate(s), CannotEvaluateExpression);
    s->release();
    EXPECT_EQ(model->system->statesInUse(), 0u);

    // Only symbolic states have zones to cut.
    auto concrete = std::unique_ptr<ConcreteState>(model->system->buildInitialState());
    EXPECT_THROW(deadlock.evaluate(concrete.get()), CannotEvaluateExpression);
}

}  // namespace
