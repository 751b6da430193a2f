#include "pipeline/transition_filter.h"

#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <string>

#include "pipeline/keys.h"
#include "pipeline/successor_chain.h"
#include "runtime/channels.h"
#include "runtime/location.h"
#include "runtime/process.h"
#include "runtime/symbolic_state.h"
#include "runtime/system.h"
#include "support/exceptions.h"

namespace {

uint32_t processOf(const Edge* edge)
{
    return static_cast<uint32_t>(edge->getProcess()->getNumber());
}

bool hasBit(const uint32_t* words, uint32_t bit)
{
    return ((words[bit / 32] >> (bit % 32)) & 1U) != 0;
}

[[noreturn]] void channelOutOfRange(int32_t sync)
{
    throw Bug("Synchronisation on channel " + std::to_string(sync) + " outside the edge's channel set");
}

}  // namespace

TransitionFilter::~TransitionFilter() = default;

void TransitionFilter::setProperty(const char* key, void* value)
{
    if (key == PROPERTY_SYSTEM) {
        system = static_cast<System*>(value);
    }
}

bool TransitionFilter::acceptsSync(int32_t)
{
    return true;
}

void TransitionFilter::sizeBuckets(bool receives)
{
    if (system == nullptr) {
        throw Bug("The transition stage needs the System before it begins");
    }
    processCount = static_cast<uint32_t>(system->getProcessCount());
    channelCount = static_cast<uint32_t>(::channelCount());
    receiverWidth = 0;

    // Per channel: the sum over the processes of the largest number of labels of that channel on
    // the outgoing edges of one location. Only one location of a process is current, so a bucket
    // of that size never overflows.
    std::vector<uint64_t> sendCapacity(channelCount + 1, 0);
    std::vector<uint64_t> receiveCapacity(channelCount + 1, 0);
    std::vector<uint32_t> sendMax(channelCount + 1);
    std::vector<uint32_t> receiveMax(channelCount + 1);
    std::vector<uint32_t> sendHere(channelCount + 1, 0);
    std::vector<uint32_t> receiveHere(channelCount + 1, 0);
    std::vector<uint32_t> touched;
    for (uint32_t p = 0; p < processCount; ++p) {
        const Process* process = system->getProcess(p);
        std::fill(sendMax.begin(), sendMax.end(), 0);
        std::fill(receiveMax.begin(), receiveMax.end(), 0);
        for (size_t l = 0; l < process->getLocationCount(); ++l) {
            touched.clear();
            for (const base::RefPtr<Edge>& edge : process->getOutgoingEdges(l)) {
                for (int32_t label : edge->getChannels()) {
                    const uint32_t c = static_cast<uint32_t>(std::abs(label));
                    if (c == 0 || c > channelCount) {
                        channelOutOfRange(label);
                    }
                    if (label > 0) {
                        ++sendHere[c];
                    } else if (receives) {
                        ++receiveHere[c];
                    } else {
                        continue;
                    }
                    touched.push_back(c);
                }
            }
            for (uint32_t c : touched) {
                sendMax[c] = std::max(sendMax[c], sendHere[c]);
                receiveMax[c] = std::max(receiveMax[c], receiveHere[c]);
                sendHere[c] = 0;
                receiveHere[c] = 0;
            }
        }
        for (uint32_t c = 1; c <= channelCount; ++c) {
            sendCapacity[c] += sendMax[c];
            receiveCapacity[c] += receiveMax[c];
            receiverWidth = std::max<uint64_t>(receiverWidth, receiveMax[c]);
        }
    }

    uint64_t total = 0;
    for (uint32_t c = 1; c <= channelCount; ++c) {
        total += sendCapacity[c] + receiveCapacity[c];
    }
    edgePool.assign(total, nullptr);
    sendStart.assign(channelCount + 1, nullptr);
    receiveStart.assign(channelCount + 1, nullptr);
    Edge** at = edgePool.data();
    for (uint32_t c = 1; c <= channelCount; ++c) {
        sendStart[c - 1] = at;
        at += sendCapacity[c];
    }
    sendStart[channelCount] = at;
    for (uint32_t c = 1; c <= channelCount; ++c) {
        receiveStart[c - 1] = at;
        at += receiveCapacity[c];
    }
    receiveStart[channelCount] = at;
    sendCursor.assign(sendStart.begin(), sendStart.end());
    receiveCursor.assign(receiveStart.begin(), receiveStart.end());

    edgeBuffer.assign(std::max<size_t>(processCount + 1, 3), nullptr);
    counts.assign(processCount, 0);
    participants.assign(processCount, 0);
    runs.assign(processCount, nullptr);
    receiverMatrix.assign(static_cast<size_t>(processCount) * receiverWidth, nullptr);
    emptyTuple = emptyEdgeTuple();
}

void TransitionFilter::begin()
{
    sizeBuckets(true);
}

void TransitionFilter::resetCursors()
{
    std::copy(sendStart.begin(), sendStart.end() - 1, sendCursor.begin());
    std::copy(receiveStart.begin(), receiveStart.end() - 1, receiveCursor.begin());
}

void TransitionFilter::handOn(SymbolicState* state)
{
    if (next != nullptr) {
        Successor item;
        item.state = state;
        item.transition = edgeBuffer.data();
        next->put(&item);
    }
}

uint64_t TransitionFilter::combinations(SymbolicState* state, int32_t channel, const uint32_t* perProcess,
                                        const uint32_t* processes, uint32_t processCountHere)
{
    uint64_t total = 1;
    for (uint32_t i = 0; i < processCountHere; ++i) {
        // The exact test: a product that wraps around the 64-bit range can look like any number.
        if (__builtin_mul_overflow(total, static_cast<uint64_t>(perProcess[processes[i]]), &total)) {
            std::ostringstream text;
            state->describe(text, nullptr);
            throw SuccessorException(text.str().c_str(), getChannel(channel).name.c_str(),
                                     "$Combinatorial_explosion_caused_overflow");
        }
    }
    return total;
}

bool TransitionFilter::put(SymbolicState* state)
{
    bool endHandedOn = false;
    uint32_t pending = 0;  // participants whose counts are still set
    try {
        resetCursors();
        const bool committed = state->hasCommittedLocation(-1);
        bool someSend = false;

        for (uint32_t p = 0; p < processCount; ++p) {
            const Location* location = state->getLocation(p);
            if (location == nullptr) {
                continue;
            }
            const Process::EdgeList& edges =
                system->getProcess(p)->getOutgoingEdges(static_cast<size_t>(location->getIndexInProcess()));
            for (const base::RefPtr<Edge>& ref : edges) {
                Edge* edge = ref.get();
                if (!edge->evaluateGuard(state)) {
                    continue;
                }
                const int32_t sync = edge->getSync()->evaluate(state);
                if (!acceptsSync(sync)) {
                    continue;
                }
                if (sync == 0) {
                    if (!committed || location->isCommitted()) {
                        edgeBuffer[0] = edge;
                        edgeBuffer[1] = nullptr;
                        handOn(state);
                    }
                    continue;
                }
                const uint32_t c = static_cast<uint32_t>(sync > 0 ? sync : -static_cast<int64_t>(sync));
                if (c > channelCount) {
                    channelOutOfRange(sync);
                }
                if (sync > 0) {
                    if (sendCursor[c - 1] == sendStart[c]) {
                        channelOutOfRange(sync);
                    }
                    *sendCursor[c - 1]++ = edge;
                    someSend = true;
                } else {
                    if (receiveCursor[c - 1] == receiveStart[c]) {
                        channelOutOfRange(sync);
                    }
                    *receiveCursor[c - 1]++ = edge;
                }
            }
        }

        if (someSend) {
            const std::vector<ChannelInfo>& channels = channelRegistry();
            for (uint32_t c = 1; c <= channelCount; ++c) {
                Edge** const senders = sendStart[c - 1];
                Edge** const sendersEnd = sendCursor[c - 1];
                if (senders == sendersEnd) {
                    continue;
                }
                Edge** const receivers = receiveStart[c - 1];
                Edge** const receiversEnd = receiveCursor[c - 1];
                if (!channels[c - 1].broadcast) {
                    if (receivers == receiversEnd) {
                        continue;
                    }
                    for (Edge** s = senders; s != sendersEnd; ++s) {
                        const Process* sender = (*s)->getProcess();
                        const bool senderCommitted = (*s)->source->isCommitted();
                        for (Edge** r = receivers; r != receiversEnd; ++r) {
                            if ((*r)->getProcess() == sender) {
                                continue;
                            }
                            if (committed && !senderCommitted && !(*r)->source->isCommitted()) {
                                continue;
                            }
                            edgeBuffer[0] = *s;
                            edgeBuffer[1] = *r;
                            edgeBuffer[2] = nullptr;
                            handOn(state);
                        }
                    }
                    continue;
                }

                // Broadcast: the sender with one receiving edge of every other process that has
                // some, in every combination; the lowest process number varies fastest.
                for (Edge** s = senders; s != sendersEnd; ++s) {
                    const uint32_t senderProcess = processOf(*s);
                    bool someCommitted = (*s)->source->isCommitted();
                    pending = 0;
                    for (Edge** r = receivers; r != receiversEnd; ++r) {
                        const uint32_t q = processOf(*r);
                        if (q == senderProcess) {
                            continue;
                        }
                        if (counts[q] == 0) {
                            participants[pending++] = q;
                        } else if (counts[q] == receiverWidth) {
                            channelOutOfRange(-static_cast<int32_t>(c));
                        }
                        receiverMatrix[q * receiverWidth + counts[q]++] = *r;
                        someCommitted = someCommitted || (*r)->source->isCommitted();
                    }
                    if (!committed || someCommitted) {
                        const uint64_t total = combinations(state, static_cast<int32_t>(c), counts.data(),
                                                            participants.data(), pending);
                        for (uint64_t k = 0; k < total; ++k) {
                            edgeBuffer[0] = *s;
                            size_t at = 1;
                            uint64_t rest = k;
                            for (uint32_t i = 0; i < pending; ++i) {
                                const uint32_t q = participants[i];
                                edgeBuffer[at++] = receiverMatrix[q * receiverWidth + rest % counts[q]];
                                rest /= counts[q];
                            }
                            edgeBuffer[at] = nullptr;
                            handOn(state);
                        }
                    }
                    for (uint32_t i = 0; i < pending; ++i) {
                        counts[participants[i]] = 0;
                    }
                    pending = 0;
                }
            }
        }

        endHandedOn = true;
        if (next == nullptr) {
            state->release();
            return false;
        }
        Successor end;
        end.state = state;
        end.transition = emptyTuple;
        return next->put(&end);
    } catch (...) {
        for (uint32_t i = 0; i < pending; ++i) {
            counts[participants[i]] = 0;
        }
        if (!endHandedOn) {
            state->release();
        }
        throw;
    }
}

void CSPTransitionFilter::begin()
{
    sizeBuckets(false);

    // A channel is shared when the alphabets of at least two processes hold it.
    const size_t words = (channelCount + 32) / 32;
    sharedChannels.assign(words, 0);
    knowers.assign(channelCount + 1, {});
    std::vector<uint32_t> seen(words, 0);
    for (uint32_t p = 0; p < processCount; ++p) {
        const uint32_t* alphabet = system->getProcess(p)->getCspChannels();
        if (alphabet == nullptr) {
            continue;
        }
        for (size_t w = 0; w < words; ++w) {
            sharedChannels[w] |= seen[w] & alphabet[w];
            seen[w] |= alphabet[w];
        }
        for (uint32_t c = 1; c <= channelCount; ++c) {
            if (hasBit(alphabet, c)) {
                knowers[c].push_back(p);
            }
        }
    }
}

bool CSPTransitionFilter::put(SymbolicState* state)
{
    bool endHandedOn = false;
    uint32_t pending = 0;
    try {
        std::copy(sendStart.begin(), sendStart.end() - 1, sendCursor.begin());
        const bool committed = state->hasCommittedLocation(-1);
        bool someBucketed = false;

        for (uint32_t p = 0; p < processCount; ++p) {
            const Location* location = state->getLocation(p);
            if (location == nullptr) {
                continue;
            }
            const Process::EdgeList& edges =
                system->getProcess(p)->getOutgoingEdges(static_cast<size_t>(location->getIndexInProcess()));
            for (const base::RefPtr<Edge>& ref : edges) {
                Edge* edge = ref.get();
                if (!edge->evaluateGuard(state)) {
                    continue;
                }
                const int32_t sync = edge->getSync()->evaluate(state);
                if (sync > 0 && static_cast<uint32_t>(sync) > channelCount) {
                    channelOutOfRange(sync);
                }
                if (sync < 1 || !hasBit(sharedChannels.data(), static_cast<uint32_t>(sync))) {
                    if (!committed || location->isCommitted()) {
                        edgeBuffer[0] = edge;
                        edgeBuffer[1] = nullptr;
                        handOn(state);
                    }
                    continue;
                }
                const uint32_t c = static_cast<uint32_t>(sync);
                if (sendCursor[c - 1] == sendStart[c]) {
                    channelOutOfRange(sync);
                }
                *sendCursor[c - 1]++ = edge;
                someBucketed = true;
            }
        }

        if (someBucketed) {
            for (uint32_t c = 1; c <= channelCount; ++c) {
                Edge** const first = sendStart[c - 1];
                Edge** const last = sendCursor[c - 1];
                if (first == last) {
                    continue;
                }
                // The bucket is in process order: the edges of one process form one run.
                pending = 0;
                bool someCommitted = false;
                for (Edge** e = first; e != last; ++e) {
                    const uint32_t q = processOf(*e);
                    if (counts[q] == 0) {
                        participants[pending++] = q;
                        runs[q] = e;
                        someCommitted = someCommitted || (*e)->source->isCommitted();
                    }
                    ++counts[q];
                }
                // Every process that knows the channel must take part.
                bool complete = true;
                for (uint32_t p : knowers[c]) {
                    if (counts[p] == 0) {
                        complete = false;
                        break;
                    }
                }
                if (complete && (!committed || someCommitted)) {
                    const uint64_t total = combinations(state, static_cast<int32_t>(c), counts.data(),
                                                        participants.data(), pending);
                    for (uint64_t k = 0; k < total; ++k) {
                        uint64_t rest = k;
                        for (uint32_t i = 0; i < pending; ++i) {
                            const uint32_t q = participants[i];
                            edgeBuffer[i] = runs[q][rest % counts[q]];
                            rest /= counts[q];
                        }
                        edgeBuffer[pending] = nullptr;
                        handOn(state);
                    }
                }
                for (uint32_t i = 0; i < pending; ++i) {
                    counts[participants[i]] = 0;
                }
                pending = 0;
            }
        }

        endHandedOn = true;
        if (next == nullptr) {
            state->release();
            return false;
        }
        Successor end;
        end.state = state;
        end.transition = emptyTuple;
        return next->put(&end);
    } catch (...) {
        for (uint32_t i = 0; i < pending; ++i) {
            counts[participants[i]] = 0;
        }
        if (!endHandedOn) {
            state->release();
        }
        throw;
    }
}

pipeline::Connectable* makeTransitionFilter(FilterConfiguration*)
{
    return new TransitionFilter;
}

pipeline::Connectable* makeCSPTransitionFilter(FilterConfiguration*)
{
    return new CSPTransitionFilter;
}
