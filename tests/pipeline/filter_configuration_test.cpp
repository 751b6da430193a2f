#include "pipeline/filter_configuration.h"

#include <gtest/gtest.h>

#include <string>

#include "pipeline/keys.h"
#include "support/exceptions.h"

namespace {

// Stages made by the test factories remember which factory made them and with which registry.
struct Made : pipeline::Connectable
{
    Made(char maker, FilterConfiguration* registry) : maker(maker), registry(registry) {}
    char maker;
    FilterConfiguration* registry;
};

pipeline::Connectable* makeA(FilterConfiguration* registry)
{
    return new Made('A', registry);
}
pipeline::Connectable* makeB(FilterConfiguration* registry)
{
    return new Made('B', registry);
}

char makerOf(FilterConfiguration& registry, const char* name)
{
    pipeline::Connectable* stage = registry.get(name);
    if (stage == nullptr) {
        return '-';
    }
    char maker = dynamic_cast<Made&>(*stage).maker;
    delete stage;
    return maker;
}

// Every test starts and ends without registered built-ins.
class Registry : public testing::Test
{
protected:
    void SetUp() override { clearBuiltinFilters(); }
    void TearDown() override { clearBuiltinFilters(); }
};

TEST_F(Registry, GetMakesANewStageFromThePresentFactory)
{
    FilterConfiguration registry;
    EXPECT_EQ(makerOf(registry, FILTER_SORTING), '-') << "never set";

    registry.set(FILTER_SORTING, makeA);
    pipeline::Connectable* first = registry.get(FILTER_SORTING);
    pipeline::Connectable* second = registry.get(FILTER_SORTING);
    ASSERT_NE(first, nullptr);
    EXPECT_NE(first, second) << "each get makes a new stage";
    EXPECT_EQ(dynamic_cast<Made*>(first)->registry, &registry);
    delete first;
    delete second;

    registry.set(FILTER_SORTING, makeB);
    EXPECT_EQ(makerOf(registry, FILTER_SORTING), 'B');
    registry.set(FILTER_SORTING, nullptr);
    EXPECT_EQ(makerOf(registry, FILTER_SORTING), '-') << "null factory";
    registry.set(FILTER_SORTING, makeA);
    registry.remove(FILTER_SORTING);
    EXPECT_EQ(makerOf(registry, FILTER_SORTING), '-') << "removed";
    registry.remove(FILTER_SORTING);  // removing an absent name is harmless
}

TEST_F(Registry, NamesAreFoundByTheirText)
{
    FilterConfiguration registry;
    registry.set(FILTER_PROGRESS, makeA);
    const std::string sameText = std::string("progress-") + "filter";
    ASSERT_NE(sameText.c_str(), FILTER_PROGRESS);
    EXPECT_EQ(makerOf(registry, sameText.c_str()), 'A');
    {
        // An entry made through a temporary name stays reachable after the name is gone.
        std::string temporary = "passed-list";
        registry.set(temporary.c_str(), makeB);
    }
    EXPECT_EQ(makerOf(registry, FILTER_PASSED_LIST), 'B');
}

TEST_F(Registry, AliasCopiesTheSourceFactoryOnce)
{
    FilterConfiguration registry;
    registry.set(FILTER_COPY, makeA);
    registry.set(FILTER_PRIORITY, makeB);
    registry.alias(FILTER_COPY, FILTER_PRIORITY);
    EXPECT_EQ(makerOf(registry, FILTER_COPY), 'B');

    // Re-setting the source afterwards leaves the target as it was.
    registry.set(FILTER_PRIORITY, makeA);
    EXPECT_EQ(makerOf(registry, FILTER_COPY), 'B');
    registry.remove(FILTER_PRIORITY);
    EXPECT_EQ(makerOf(registry, FILTER_COPY), 'B');

    // A missing source gives both entries no factory.
    registry.set(FILTER_SORTING, makeA);
    registry.alias(FILTER_SORTING, FILTER_SYMMETRY);
    EXPECT_EQ(makerOf(registry, FILTER_SORTING), '-');
    EXPECT_EQ(makerOf(registry, FILTER_SYMMETRY), '-');
}

TEST_F(Registry, NewRegistriesStartFromTheRegisteredBuiltins)
{
    {
        FilterConfiguration bare;
        EXPECT_EQ(makerOf(bare, FILTER_DELAY), '-') << "nothing registered yet";
    }
    registerBuiltinFilter(FILTER_DELAY, makeA);
    registerBuiltinFilter(FILTER_EXTRAPOLATION, makeB);
    FilterConfiguration registry;
    EXPECT_EQ(makerOf(registry, FILTER_DELAY), 'A');
    EXPECT_EQ(makerOf(registry, FILTER_EXTRAPOLATION), 'B');
    EXPECT_EQ(makerOf(registry, FILTER_GOXA_EXTRAPOLATION), 'B') << "alias of extrapolation-filter";
    EXPECT_EQ(makerOf(registry, FILTER_SORTING), '-') << "no built-in entry";

    // Adjusting one registry leaves the built-ins of the next one alone.
    registry.remove(FILTER_DELAY);
    EXPECT_EQ(makerOf(registry, FILTER_DELAY), '-');
    FilterConfiguration fresh;
    EXPECT_EQ(makerOf(fresh, FILTER_DELAY), 'A');

    // An adjustment like the one for extrapolation kind 1: both names end without a factory.
    fresh.remove(FILTER_EXTRAPOLATION);
    fresh.alias(FILTER_GOXA_EXTRAPOLATION, FILTER_EXTRAPOLATION);
    EXPECT_EQ(makerOf(fresh, FILTER_EXTRAPOLATION), '-');
    EXPECT_EQ(makerOf(fresh, FILTER_GOXA_EXTRAPOLATION), '-');
}

TEST_F(Registry, OnlyBuiltinNamesCanBeRegisteredAsBuiltins)
{
    for (const char* name : {FILTER_SORTING, FILTER_GOXA_EXTRAPOLATION, FILTER_PASSED_WAITING_LIST}) {
        EXPECT_THROW(registerBuiltinFilter(name, makeA), Bug) << name;
    }
    const std::string sameText = "tracestore-filter";
    EXPECT_NO_THROW(registerBuiltinFilter(sameText.c_str(), makeA));
}

// A stage of another interface than the one asked for counts as absent, and is not leaked.
struct Counted : pipeline::Connectable
{
    explicit Counted(int* destroyed) : destroyed(destroyed) {}
    ~Counted() override { ++*destroyed; }
    int* destroyed;
};
int countedDestroyed = 0;
pipeline::Connectable* makeCounted(FilterConfiguration*)
{
    return new Counted(&countedDestroyed);
}

TEST_F(Registry, GetAsTreatsAStageOfAnotherKindAsAbsent)
{
    FilterConfiguration registry;
    registry.set(FILTER_QUERY, makeCounted);
    countedDestroyed = 0;
    EXPECT_EQ(registry.getAs<pipeline::Sink<int>>(FILTER_QUERY), nullptr);
    EXPECT_EQ(countedDestroyed, 1);
    Counted* typed = registry.getAs<Counted>(FILTER_QUERY);
    ASSERT_NE(typed, nullptr);
    delete typed;
    EXPECT_EQ(registry.getAs<Counted>(FILTER_DISTANCE), nullptr);
}

}  // namespace
