#include "runtime/process.h"

#include <algorithm>
#include <ostream>
#include <utility>
#include <vector>

#include "runtime/channels.h"
#include "runtime/extrapolation_info.h"
#include "runtime/location.h"
#include "runtime/system.h"
#include "runtime/variable.h"
#include "support/exceptions.h"

Process::Process(size_t locationCount, const std::string& name)
    : locations(locationCount, nullptr), outgoing(locationCount), incoming(locationCount), name(name)
{}

Process::~Process() = default;

void Process::accept(ModelVisitor& visitor)
{
    for (Location* location : locations) {
        if (location != nullptr) {
            location->accept(visitor);
        }
    }
    for (const base::RefPtr<Edge>& edge : edges) {
        edge->accept(visitor);
    }
    visitor.visitProcess(this);
}

void Process::setLocation(size_t index, Location* location)
{
    if (index >= locations.size()) {
        throw Bug("Process::setLocation: location index out of range");
    }
    locations[index] = location;
}

void Process::addOutgoingEdge(size_t location, const base::RefPtr<Edge>& edge)
{
    outgoing[location].push_back(edge);
}

void Process::addIncomingEdge(size_t location, const base::RefPtr<Edge>& edge)
{
    incoming[location].push_back(edge);
}

size_t Process::channelSetWords()
{
    return (channelCount() + 32) / 32;
}

namespace {
void setChannel(std::vector<uint32_t>& set, int32_t channel)
{
    if (channel < 0) {
        throw Bug("Process: negative channel number");
    }
    const size_t word = static_cast<size_t>(channel) / 32;
    if (set.empty()) {
        set.assign(Process::channelSetWords(), 0u);
    }
    if (word >= set.size()) {
        // A channel registered after the set was made.
        set.resize(word + 1, 0u);
    }
    set[word] |= 1u << (static_cast<uint32_t>(channel) % 32);
}
}  // namespace

void Process::addInputChannel(int32_t channel)
{
    setChannel(inputChannels, channel);
}

void Process::addOutputChannel(int32_t channel)
{
    setChannel(outputChannels, channel);
}

void Process::addCspChannel(int32_t channel)
{
    setChannel(cspChannels, channel);
}

std::string Process::mergeChannelSets(uint32_t* input, uint32_t* output, bool merge) const
{
    const size_t words = channelSetWords();
    auto word = [](const std::vector<uint32_t>& set, size_t w) { return w < set.size() ? set[w] : 0u; };
    if (!merge) {
        for (size_t w = 0; w < words; ++w) {
            input[w] = word(inputChannels, w);
            output[w] = word(outputChannels, w);
        }
        return std::string();
    }
    for (size_t w = 0; w < words; ++w) {
        input[w] |= word(inputChannels, w);
    }
    for (size_t w = 0; w < words; ++w) {
        const uint32_t shared = word(outputChannels, w) & output[w];
        if (shared != 0) {
            uint32_t bit = 0;
            while (((shared >> bit) & 1u) == 0) {
                ++bit;
            }
            const int32_t channel = static_cast<int32_t>(w * 32 + bit);
            return channel >= 1 && static_cast<size_t>(channel) <= channelCount() ? getChannel(channel).name
                                                                                  : std::to_string(channel);
        }
        output[w] |= word(outputChannels, w);
    }
    return std::string();
}

void Process::addVariable(const base::RefPtr<Variable>& variable, bool isParameter)
{
    (isParameter ? parameters : integerVariables).push_back(variable);
}

void Process::markLoopEntries(size_t l, std::vector<uint8_t>& colours)
{
    // Depth first from l, on a stack of our own (a template may chain thousands of
    // locations): each entry is a location on the current path and its next outgoing edge.
    std::vector<std::pair<size_t, size_t>> path{{l, 0}};
    colours[l] = 1;
    while (!path.empty()) {
        auto& [location, next] = path.back();
        if (next == outgoing[location].size()) {
            colours[location] = 2;
            path.pop_back();
            continue;
        }
        const base::RefPtr<Edge>& edge = outgoing[location][next++];
        const size_t t = static_cast<size_t>(edge->target->getIndexInProcess());
        if (colours[t] == 0) {
            colours[t] = 1;
            path.emplace_back(t, 0);
        } else if (colours[t] == 1) {
            edge->target->setLoopEntry(true);
        }
    }
}

namespace {
// Passes over the edges until a whole pass changes nothing: `step` carries what the edge's
// target knows back to its source and says whether the source changed. An edge is taken again
// only when its target changed in this pass or the one before (in the first pass every edge).
template <class Step>
void propagateBackwards(const std::vector<base::RefPtr<Edge>>& edges, size_t locationCount, Step step)
{
    std::vector<uint8_t> changed(locationCount, 0xff);
    std::vector<uint8_t> changedNow(locationCount, 0);
    for (;;) {
        std::fill(changedNow.begin(), changedNow.end(), 0);
        bool done = true;
        for (const base::RefPtr<Edge>& edge : edges) {
            const size_t s = static_cast<size_t>(edge->source->getIndexInProcess());
            const size_t t = static_cast<size_t>(edge->target->getIndexInProcess());
            if (changedNow[t] == 0 && changed[t] == 0) {
                continue;
            }
            const bool m = step(static_cast<const Edge&>(*edge));
            changedNow[s] |= m ? 1 : 0;
            done = done && !m;
        }
        if (done) {
            return;
        }
        changed = changedNow;
    }
}
}  // namespace

void Process::propagateLocationBounds(System* system, bool clockCopies, bool linkOnly)
{
    // Phase 1: links, channel bits and urgent edge lists.
    for (Location* location : locations) {
        if (location != nullptr) {
            location->initChannelBits();
        }
    }
    for (const base::RefPtr<Edge>& edge : edges) {
        edge->setProcess(this);
        Location* source = edge->source;
        outgoing[static_cast<size_t>(source->getIndexInProcess())].push_back(edge);
        incoming[static_cast<size_t>(edge->target->getIndexInProcess())].push_back(edge);
        bool anyUrgent = false;
        bool anyBroadcast = false;
        for (int32_t f : edge->getChannels()) {
            const int32_t c = f < 0 ? -f : f;
            const ChannelInfo& info = getChannel(c);
            anyUrgent |= info.urgent;
            anyBroadcast |= info.broadcast;
            if (!info.broadcast) {
                const uint32_t bit = static_cast<uint32_t>(c - 1);
                if (info.urgent) {
                    if (f < 0) {
                        source->getUrgentChannels().setReceive(bit);
                    } else {
                        source->getUrgentChannels().setSend(bit);
                    }
                }
                if (f < 0) {
                    source->getChannels().setReceive(bit);
                } else {
                    source->getChannels().setSend(bit);
                }
            }
        }
        const std::set<int32_t>& channels = edge->getChannels();
        if (anyBroadcast && anyUrgent && !channels.empty() && *channels.begin() > 0) {
            source->addUrgentBroadcastEdge(edge);
        } else if (!anyBroadcast && anyUrgent) {
            source->addUrgentEdge(edge);
        }
    }
    if (linkOnly) {
        return;
    }

    const size_t n = locations.size();

    // Phase 2: loop entries.
    if (initialLocation != nullptr) {
        std::vector<uint8_t> colours(n, 0);
        markLoopEntries(static_cast<size_t>(initialLocation->getIndexInProcess()), colours);
    }

    // Phase 3: the bounds of each location's invariant and outgoing guards.
    for (size_t l = 0; l < n; ++l) {
        Location* location = locations[l];
        if (location == nullptr) {
            continue;
        }
        ExtrapolationInfo local;
        location->accept(local);
        for (const base::RefPtr<Edge>& edge : outgoing[l]) {
            edge->accept(local);
        }
        location->getExtrapolationInfo().merge(local);
    }

    // Phase 4: clock bounds flow backwards along the edges, except through clocks the edge writes.
    propagateBackwards(edges, n, [&](const Edge& edge) {
        const IndexSet written = system->collectClocks(edge.getWrites());
        ExtrapolationInfo& sourceInfo = edge.source->getExtrapolationInfo();
        const ExtrapolationInfo& targetInfo = edge.target->getExtrapolationInfo();
        bool m = sourceInfo.merge(targetInfo, written);
        if (clockCopies) {
            const IndexSet read = system->collectClocks(edge.getReads());
            if (!read.empty()) {
                m |= sourceInfo.merge(ExtrapolationInfo(targetInfo, written, read));
            }
        }
        return m;
    });

    // Phase 5: active variables.
    for (size_t l = 0; l < n; ++l) {
        Location* location = locations[l];
        if (location == nullptr) {
            continue;
        }
        for (const base::RefPtr<Edge>& edge : outgoing[l]) {
            location->addActiveVariables(edge->getReads());
        }
    }
    propagateBackwards(edges, n, [&](const Edge& edge) {
        IndexSet successor;
        for (int32_t v : edge.target->getActiveVariableSet()) {
            successor.insert(static_cast<uint32_t>(v));
        }
        return edge.source->propagateActiveVariables(successor, edge.getWrites());
    });
}

void Process::checkHybridClocks(System* system)
{
    for (Location* location : locations) {
        if (location != nullptr) {
            location->checkHybridClocks(system);
        }
    }
    for (const base::RefPtr<Edge>& edge : edges) {
        edge->computeClockMask(system);
    }
}

void Process::print(std::ostream& os) const
{
    os << "Process: " << name << "\n";
    os << "  Process with " << locations.size() << " states.\n";
    os << "States:\n";
    for (Location* location : locations) {
        if (location == nullptr) {
            continue;
        }
        if (location->isLoopEntry()) {
            os << "  +" << location->getName() << "+ ";
        } else {
            os << "  " << location->getName() << " ";
        }
        location->printInvariant(os);
        os << "\n";
    }
    os << "Edges: \n";
    for (const base::RefPtr<Edge>& edge : edges) {
        os << "  ";
        edge->print(os, 0);
        os << "\n";
    }
    os << "\n";
}
