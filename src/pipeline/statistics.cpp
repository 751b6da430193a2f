#include "pipeline/statistics.h"

void DefaultStatisticsCollector::add(const StatisticsEntry& entry)
{
    entries.push_back(entry);
}

void DefaultStatisticsCollector::removeProvider(const StatisticsProvider* provider)
{
    entries.remove_if([provider](const StatisticsEntry& entry) { return entry.provider == provider; });
}

const StatisticsEntry* DefaultStatisticsCollector::findByName(std::string_view name) const
{
    for (const StatisticsEntry& entry : entries) {
        if (entry.name == name) {
            return &entry;
        }
    }
    return nullptr;
}

AbstractStatisticsProvider::~AbstractStatisticsProvider()
{
    if (collector) {
        collector->removeProvider(this);
    }
}

void AbstractStatisticsProvider::setCollector(StatisticsCollector* value)
{
    if (collector) {
        collector->removeProvider(this);
    }
    collector = value;
}

void AbstractStatisticsProvider::addStatistic(int32_t id, const char* category, const char* name,
                                              const char* unit)
{
    if (!collector) {
        return;
    }
    StatisticsEntry entry;
    entry.id = id;
    entry.provider = this;
    entry.category = category;
    entry.name = name;
    entry.unit = unit;
    collector->add(entry);
}
