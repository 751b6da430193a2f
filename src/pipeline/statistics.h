#pragma once

#include <cstdint>
#include <list>
#include <string>
#include <string_view>

#include "support/object.h"

// Figures that long-running stages report (stored states, runs so far). A stage registers a
// descriptor per figure with the collector of the query's job; the job reads the figures on
// demand through the descriptors, for its progress line ("Load") and its summary ("Size").

// An object that owns figures.
class StatisticsProvider
{
public:
    virtual ~StatisticsProvider() = default;
    // The current figure of a registered identifier; an identifier the provider did not register
    // raises Bug "Unknown statistics ID".
    virtual int value(int id) = 0;
};

class StatisticsCollector;

// A descriptor of one figure; the collector keeps a copy.
struct StatisticsEntry
{
    int32_t id = 0;                          // passed back to the provider's value
    StatisticsProvider* provider = nullptr;  // where the figure comes from (not owned)
    std::string category;                    // group of the figure, such as "Passed/Waiting set"
    std::string name;                        // such as "Size" or "Load"
    std::string unit;                        // such as "states" or "runs"
    uint8_t flag1 = 0;
    uint8_t flag2 = 1;
    int32_t level = 1;
};

// Keeps descriptors for the figures of its providers.
class StatisticsCollector : public base::Object
{
public:
    // Keeps a copy of the descriptor.
    virtual void add(const StatisticsEntry& entry) = 0;
    // Forgets every descriptor of the provider.
    virtual void removeProvider(const StatisticsProvider* provider) = 0;
};

// The descriptors in the order they were added.
class DefaultStatisticsCollector : public StatisticsCollector
{
public:
    using const_iterator = std::list<StatisticsEntry>::const_iterator;

    void add(const StatisticsEntry& entry) override;
    void removeProvider(const StatisticsProvider* provider) override;

    const_iterator begin() const { return entries.begin(); }
    const_iterator end() const { return entries.end(); }

    // The oldest descriptor of that name, or null.
    const StatisticsEntry* findByName(std::string_view name) const;

private:
    std::list<StatisticsEntry> entries;
};

// A provider that registers with one collector at a time and leaves it when it goes, so a
// collector never holds a descriptor of a provider that no longer exists.
class AbstractStatisticsProvider : public StatisticsProvider
{
public:
    AbstractStatisticsProvider() = default;
    AbstractStatisticsProvider(const AbstractStatisticsProvider&) = delete;
    AbstractStatisticsProvider& operator=(const AbstractStatisticsProvider&) = delete;
    ~AbstractStatisticsProvider() override;

    // Leaves the collector held so far (its descriptors of this provider are dropped) and holds
    // the new one (null allowed).
    void setCollector(StatisticsCollector* collector);
    StatisticsCollector* getCollector() const { return collector.get(); }

protected:
    // Registers one figure of this provider with the collector held (nothing without one).
    void addStatistic(int32_t id, const char* category, const char* name, const char* unit);

private:
    base::RefPtr<StatisticsCollector> collector;
};
