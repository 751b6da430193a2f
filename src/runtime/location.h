#pragma once

// Locations of the compiled model and the table that holds them. States refer to locations by
// pointer, so a location never moves once it is added.

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "runtime/edge.h"
#include "runtime/expression.h"
#include "runtime/extrapolation_info.h"
#include "runtime/visitors.h"

class System;

// Channels a location's outgoing edges can receive and send on: bit k stands for channel k + 1.
class ChannelBits
{
public:
    ChannelBits() = default;
    // Both vectors sized for n channels, all clear.
    explicit ChannelBits(size_t n);

    void setReceive(uint32_t k);
    void setSend(uint32_t k);
    void clearReceive(uint32_t k);
    void clearSend(uint32_t k);

    // This can receive where the other sends, or send where the other receives (the word
    // counts of this pair are used).
    bool canSynchroniseWith(const ChannelBits& other) const;
    // Some bit of either vector is set.
    bool any() const;
    // The send vector shares a bit with the given words.
    bool sendsAnyOf(const uint32_t* words) const;

    const std::vector<uint32_t>& getReceive() const { return receive; }
    const std::vector<uint32_t>& getSend() const { return send; }

private:
    std::vector<uint32_t> receive;
    std::vector<uint32_t> send;
};

class Location : public ModelElement
{
public:
    // A rate of a clock in this location: the clock expression evaluates to a clock number, the
    // rate expression leaves the rate in the state's result cell.
    struct ClockRate
    {
        ExpressionRef clock;
        ExpressionRef rate;
        bool notConstant;
    };

    Location(int32_t globalIndex, int32_t processNumber, int32_t indexInProcess, const std::string& name,
             bool committed, bool urgent);
    Location(const Location&) = delete;
    Location& operator=(const Location&) = delete;
    ~Location() override;

    void accept(ModelVisitor& visitor) override;

    // Setters of the compiler. The invariant's read set joins the active variables.
    void setInvariant(const ExpressionRef& invariant, const std::string& text);
    void setExponentialRate(const ExpressionRef& rate, const std::string& text);
    void setCostRate(const ExpressionRef& rate);
    void addClockRate(const ExpressionRef& clock, const ExpressionRef& rate, bool notConstant);
    void setCommitted(bool c) { committed = c; }
    void setUrgent(bool u) { urgent = u; }
    void setLoopEntry(bool l) { loopEntry = l; }

    // Replaces both channel-bit pairs by clear ones sized for the registered channels.
    void initChannelBits();
    void addUrgentEdge(const base::RefPtr<Edge>& edge);
    void addUrgentBroadcastEdge(const base::RefPtr<Edge>& edge);

    // "{ <invariant text>}" and an end of line.
    void printInvariant(std::ostream& os) const;

    // Adds every index of the set that is not active yet; true when one was added.
    bool addActiveVariables(const IndexSet& variables);
    // addActiveVariables of the successor's set minus the written variables.
    bool propagateActiveVariables(const IndexSet& successorActive, const IndexSet& written);
    // Marks the clocks that have a bound here as active; RuntimeException for an active hybrid
    // clock.
    void checkHybridClocks(System* system);

    int32_t getGlobalIndex() const { return globalIndex; }
    int32_t getIndexInProcess() const { return indexInProcess; }
    int32_t getProcessNumber() const { return processNumber; }
    const std::string& getName() const { return name; }
    bool isCommitted() const { return committed; }
    bool isUrgent() const { return urgent; }
    bool isLoopEntry() const { return loopEntry; }

    const ExpressionRef& getInvariant() const { return invariant; }
    const std::string& getInvariantText() const { return invariantText; }
    const ExpressionRef& getExponentialRate() const { return exponentialRate; }
    const std::string& getExponentialRateText() const { return exponentialRateText; }
    const ExpressionRef& getCostRate() const { return costRate; }
    const std::vector<ClockRate>& getClockRates() const { return clockRates; }

    // Channels of the outgoing edges (all, and urgent non-broadcast ones).
    const ChannelBits& getChannels() const { return channels; }
    ChannelBits& getChannels() { return channels; }
    const ChannelBits& getUrgentChannels() const { return urgentChannels; }
    ChannelBits& getUrgentChannels() { return urgentChannels; }
    // Outgoing edges on an urgent non-broadcast channel, and those that send on an urgent
    // broadcast channel.
    const std::vector<base::RefPtr<Edge>>& getUrgentEdges() const { return urgentEdges; }
    const std::vector<base::RefPtr<Edge>>& getUrgentBroadcastEdges() const { return urgentBroadcastEdges; }

    // The clock bounds that matter here.
    const ExtrapolationInfo& getExtrapolationInfo() const { return extrapolationInfo; }
    ExtrapolationInfo& getExtrapolationInfo() { return extrapolationInfo; }
    // One bit per static clock (null until checkHybridClocks).
    const uint32_t* getActiveClocks() const { return activeClocks.get(); }
    const std::set<int32_t>& getActiveVariableSet() const { return activeVariables; }

    // An outgoing edge has a guard that uses floating point (set by the compiler).
    bool floatingPointGuard = false;
    // Scratch of the distance guidance.
    int32_t distance = -1;
    bool mark = false;
    // Statistics of the statistical simulator.
    uint64_t timesEntered = 0;
    double timeSpent = 0.0;

private:
    int32_t globalIndex;
    int32_t indexInProcess;
    bool committed;
    bool urgent;
    bool loopEntry = false;
    std::string name;
    ChannelBits channels;
    ChannelBits urgentChannels;
    std::vector<base::RefPtr<Edge>> urgentEdges;
    std::vector<base::RefPtr<Edge>> urgentBroadcastEdges;
    ExpressionRef costRate;
    std::vector<ClockRate> clockRates;
    ExpressionRef invariant;
    ExpressionRef exponentialRate;
    std::string invariantText;
    std::string exponentialRateText;
    int32_t processNumber;
    ExtrapolationInfo extrapolationInfo;
    std::unique_ptr<uint32_t[]> activeClocks;
    std::set<int32_t> activeVariables;
};

// All locations of a System. Locations of the static model are stored in one block reserved once
// for the announced number of locations (more are stored in further blocks); those of dynamic
// templates are allocated one by one. No location ever moves, so pointers held by processes,
// states and stored states stay valid. A location's number is Location::getGlobalIndex(); the
// stored locations are contiguous only up to the reserved count.
class LocationTable
{
public:
    // Largest number of locations the table accepts.
    static constexpr uint64_t MAX_LOCATIONS = 16777216;

    LocationTable() = default;
    LocationTable(const LocationTable&) = delete;
    LocationTable& operator=(const LocationTable&) = delete;
    ~LocationTable();

    // RuntimeError "Cannot handle systems with more than 16777216 locations" when n exceeds the
    // limit (nothing is reserved then); otherwise the next stored locations, up to n, go into one
    // block, and ten times n separate locations are expected.
    void reserve(uint64_t n);
    // A new location: with separate false it is stored in the table with the next global index
    // (the stored count); with separate true it is allocated by itself with the index stored
    // count + separate count. RuntimeError when the table is full.
    Location* add(int32_t processNumber, int32_t indexInProcess, const std::string& name, bool committed,
                  bool urgent, bool separate);
    // Number of stored locations (the separate ones are not counted).
    size_t size() const { return stored.size(); }
    // The stored location of that index, or the separate one.
    Location* get(size_t globalIndex) const;

private:
    // Raw storage for stored locations, built in place and never moved.
    struct Block
    {
        Location* locations;
        size_t capacity;
        size_t used;
    };

    Location* newStoredLocation();

    std::vector<Block> blocks;
    std::vector<Location*> stored;
    std::vector<Location*> separate;
    uint64_t reservedStored = 0;
    uint64_t reservedSeparate = 0;
};
