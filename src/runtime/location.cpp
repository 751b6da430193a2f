#include "runtime/location.h"

#include <algorithm>
#include <new>
#include <ostream>

#include "runtime/channels.h"
#include "runtime/exceptions.h"
#include "runtime/process.h"
#include "runtime/system.h"
#include "runtime/variable.h"
#include "support/exceptions.h"

// ---- ChannelBits --------------------------------------------------------------------------------

ChannelBits::ChannelBits(size_t n) : receive((n + 31) / 32, 0u), send((n + 31) / 32, 0u) {}

namespace {
void setIn(std::vector<uint32_t>& words, uint32_t k)
{
    if (k / 32 >= words.size()) {
        throw Bug("ChannelBits: channel out of range");
    }
    words[k / 32] |= 1u << (k % 32);
}

void clearIn(std::vector<uint32_t>& words, uint32_t k)
{
    if (k / 32 < words.size()) {
        words[k / 32] &= ~(1u << (k % 32));
    }
}

bool shareBit(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b)
{
    const size_t n = std::min(a.size(), b.size());
    for (size_t w = 0; w < n; ++w) {
        if ((a[w] & b[w]) != 0) {
            return true;
        }
    }
    return false;
}
}  // namespace

void ChannelBits::setReceive(uint32_t k)
{
    setIn(receive, k);
}

void ChannelBits::setSend(uint32_t k)
{
    setIn(send, k);
}

void ChannelBits::clearReceive(uint32_t k)
{
    clearIn(receive, k);
}

void ChannelBits::clearSend(uint32_t k)
{
    clearIn(send, k);
}

bool ChannelBits::canSynchroniseWith(const ChannelBits& other) const
{
    return shareBit(receive, other.send) || shareBit(send, other.receive);
}

bool ChannelBits::any() const
{
    for (uint32_t w : receive) {
        if (w != 0) {
            return true;
        }
    }
    for (uint32_t w : send) {
        if (w != 0) {
            return true;
        }
    }
    return false;
}

bool ChannelBits::sendsAnyOf(const uint32_t* words) const
{
    for (size_t w = 0; w < send.size(); ++w) {
        if ((send[w] & words[w]) != 0) {
            return true;
        }
    }
    return false;
}

// ---- Location -----------------------------------------------------------------------------------

Location::Location(int32_t globalIndex, int32_t processNumber, int32_t indexInProcess, const std::string& name,
                   bool committed, bool urgent)
    : globalIndex(globalIndex),
      indexInProcess(indexInProcess),
      committed(committed),
      urgent(urgent),
      name(name),
      processNumber(processNumber)
{}

Location::~Location() = default;

void Location::accept(ModelVisitor& visitor)
{
    visitor.visitLocation(this);
}

void Location::setInvariant(const ExpressionRef& expression, const std::string& text)
{
    invariant = expression;
    invariantText = text;
    if (expression) {
        for (uint32_t v : expression->reads) {
            activeVariables.insert(static_cast<int32_t>(v));
        }
    }
}

void Location::setExponentialRate(const ExpressionRef& rate, const std::string& text)
{
    exponentialRate = rate;
    exponentialRateText = text;
}

void Location::setCostRate(const ExpressionRef& rate)
{
    costRate = rate;
}

void Location::addClockRate(const ExpressionRef& clock, const ExpressionRef& rate, bool notConstant)
{
    clockRates.push_back(ClockRate{clock, rate, notConstant});
}

void Location::initChannelBits()
{
    channels = ChannelBits(channelCount());
    urgentChannels = ChannelBits(channelCount());
}

void Location::addUrgentEdge(const base::RefPtr<Edge>& edge)
{
    urgentEdges.push_back(edge);
}

void Location::addUrgentBroadcastEdge(const base::RefPtr<Edge>& edge)
{
    urgentBroadcastEdges.push_back(edge);
}

void Location::printInvariant(std::ostream& os) const
{
    os << "{ " << invariantText << "}" << std::endl;
}

bool Location::addActiveVariables(const IndexSet& variables)
{
    // The set answers whether an index is new: no table as wide as all the variables of the
    // system is cleared for each location, which made preparing a model of many processes
    // take time quadratic in their number.
    bool added = false;
    for (uint32_t v : variables) {
        added = activeVariables.insert(static_cast<int32_t>(v)).second || added;
    }
    return added;
}

bool Location::propagateActiveVariables(const IndexSet& successorActive, const IndexSet& written)
{
    IndexSet kept;
    std::set_difference(successorActive.begin(), successorActive.end(), written.begin(), written.end(),
                        std::inserter(kept, kept.end()));
    return addActiveVariables(kept);
}

void Location::checkHybridClocks(System* system)
{
    const size_t clockCount = system->getClockCount();
    activeClocks.reset(new uint32_t[clockCount / 32 + 1]());
    constexpr int32_t absent = -1073741823;
    const ExtrapolationInfo::BoundMap& lower = extrapolationInfo.getLowerBounds();
    const ExtrapolationInfo::BoundMap& upper = extrapolationInfo.getUpperBounds();
    for (uint32_t c = 0; c < clockCount; ++c) {
        const auto l = lower.find(c);
        const auto u = upper.find(c);
        const int32_t bound = std::max(l == lower.end() ? absent : l->second, u == upper.end() ? absent : u->second);
        if (bound < -1073741822) {
            continue;
        }
        ClockVariable* clock = system->getClockVariable(c);
        if (clock != nullptr && clock->isHybrid()) {
            const Process* process = system->getProcess(static_cast<size_t>(processNumber));
            throw RuntimeException("Hybrid clock %s should not be active in %s", clock->getName().c_str(),
                                   process != nullptr ? process->getName().c_str() : "");
        }
        activeClocks[c >> 5] |= 1u << (c & 31);
    }
}

// ---- LocationTable ------------------------------------------------------------------------------

LocationTable::~LocationTable()
{
    for (Location* location : separate) {
        delete location;
    }
    for (Block& block : blocks) {
        for (size_t k = 0; k < block.used; ++k) {
            block.locations[k].~Location();
        }
        ::operator delete(static_cast<void*>(block.locations));
    }
}

void LocationTable::reserve(uint64_t n)
{
    if (n > MAX_LOCATIONS) {
        throw RuntimeError("Cannot handle systems with more than 16777216 locations");
    }
    // Only recorded: the block for the announced locations is allocated by the first add, so
    // that one block holds them all.
    reservedStored = n;
    reservedSeparate = 10 * n;
}

Location* LocationTable::add(int32_t processNumber, int32_t indexInProcess, const std::string& name, bool committed,
                             bool urgent, bool separateLocation)
{
    if (stored.size() + separate.size() >= MAX_LOCATIONS) {
        throw RuntimeError("Cannot handle systems with more than 16777216 locations");
    }
    if (separateLocation) {
        const int32_t index = static_cast<int32_t>(stored.size() + separate.size());
        separate.push_back(nullptr);
        Location* location = new Location(index, processNumber, indexInProcess, name, committed, urgent);
        separate.back() = location;
        return location;
    }
    if (!separate.empty()) {
        // A stored location after separate ones would take an index a separate location holds.
        throw Bug("LocationTable::add: stored locations must be added before separate ones");
    }
    if (blocks.empty() || blocks.back().used == blocks.back().capacity) {
        size_t capacity = blocks.empty() ? 64 : 2 * blocks.back().capacity;
        if (reservedStored > stored.size() && reservedStored - stored.size() > capacity) {
            capacity = static_cast<size_t>(reservedStored - stored.size());
        }
        blocks.push_back(Block{static_cast<Location*>(::operator new(capacity * sizeof(Location))), capacity, 0});
    }
    Block& block = blocks.back();
    const int32_t index = static_cast<int32_t>(stored.size());
    stored.push_back(nullptr);
    Location* location =
        new (block.locations + block.used) Location(index, processNumber, indexInProcess, name, committed, urgent);
    ++block.used;
    stored.back() = location;
    return location;
}

Location* LocationTable::get(size_t globalIndex) const
{
    return globalIndex < stored.size() ? stored[globalIndex] : separate[globalIndex - stored.size()];
}
