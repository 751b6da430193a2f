#include "pipeline/statistics.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/exceptions.h"

namespace {

// A provider of two figures, registered the way the waiting lists register theirs.
class Figures : public AbstractStatisticsProvider
{
public:
    explicit Figures(int base) : base(base) {}

    void registerWith(StatisticsCollector* collector)
    {
        setCollector(collector);
        addStatistic(1, "Passed/Waiting set", "Size", "states");
        addStatistic(2, "Passed/Waiting set", "Load", "states");
    }

    int value(int id) override
    {
        if (id != 1 && id != 2) {
            throw Bug("Unknown statistics ID");
        }
        return base + id;
    }

private:
    int base;
};

// "<name>=<value>" of every descriptor, oldest first.
std::vector<std::string> listing(const DefaultStatisticsCollector& collector)
{
    std::vector<std::string> out;
    for (const StatisticsEntry& entry : collector) {
        out.push_back(entry.name + "=" + std::to_string(entry.provider->value(entry.id)));
    }
    return out;
}

TEST(Statistics, RegisteringTwiceWithOneCollectorKeepsOneSet)
{
    base::RefPtr<DefaultStatisticsCollector> collector(new DefaultStatisticsCollector);
    Figures figures(10);
    figures.registerWith(collector.get());
    figures.registerWith(collector.get());
    EXPECT_EQ(listing(*collector), (std::vector<std::string>{"Size=11", "Load=12"}));

    const StatisticsEntry& entry = *collector->begin();
    EXPECT_EQ(entry.category, "Passed/Waiting set");
    EXPECT_EQ(entry.unit, "states");
    EXPECT_EQ(entry.flag1, 0);
    EXPECT_EQ(entry.flag2, 1);
    EXPECT_EQ(entry.level, 1);
}

TEST(Statistics, AProviderLeavesItsCollectorWhenItGoesOrMoves)
{
    base::RefPtr<DefaultStatisticsCollector> collector(new DefaultStatisticsCollector);
    base::RefPtr<DefaultStatisticsCollector> other(new DefaultStatisticsCollector);
    Figures first(10), third(30);
    first.registerWith(collector.get());
    {
        Figures second(20);
        second.registerWith(collector.get());
        third.registerWith(collector.get());
        EXPECT_EQ(listing(*collector).size(), 6u);
    }
    EXPECT_EQ(listing(*collector), (std::vector<std::string>{"Size=11", "Load=12", "Size=31", "Load=32"}));

    first.registerWith(other.get());
    EXPECT_EQ(listing(*collector), (std::vector<std::string>{"Size=31", "Load=32"}));
    EXPECT_EQ(listing(*other), (std::vector<std::string>{"Size=11", "Load=12"}));

    // A provider keeps its collector alive: the job may let go of it first.
    EXPECT_EQ(other->getRefCount(), 2);
    other.release();
    EXPECT_EQ(first.getCollector()->getRefCount(), 1);
    first.setCollector(nullptr);
}

TEST(Statistics, FindByNameGivesTheOldestEntryOfThatName)
{
    base::RefPtr<DefaultStatisticsCollector> collector(new DefaultStatisticsCollector);
    EXPECT_EQ(collector->findByName("Load"), nullptr);
    Figures first(10), second(20);
    first.registerWith(collector.get());
    second.registerWith(collector.get());
    const StatisticsEntry* load = collector->findByName("Load");
    ASSERT_NE(load, nullptr);
    EXPECT_EQ(load->provider, &first);
    EXPECT_EQ(load->provider->value(load->id), 12);
    EXPECT_EQ(collector->findByName("Loa"), nullptr);
    EXPECT_EQ(collector->findByName("Loads"), nullptr);
}

}  // namespace
