#pragma once

// Traces and the trace store.
//
// A search that must show how it reached a state records, for every state it stores, the
// transition that reached it and the record of the state it came from. The records form a tree
// kept by a trace store; each stored state carries the index of its record (its trace index), and
// the path from a record up to the root is the sequence of transitions from the initial state.
// A trace holds transitions only; the states along it are rebuilt by replaying it.

#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "runtime/edge.h"
#include "support/object.h"

// A transition of a trace is an interned edge tuple: it is compared and kept by pointer.
using Transition = EdgeTuple;

// An iterator over a sequence of transitions.
class Trace : public base::Object
{
public:
    // Rewinds to the first transition.
    virtual void begin() = 0;
    // Moves on by one transition; nothing once at the end.
    virtual void next() = 0;
    virtual uint32_t length() const = 0;
    // The transition under the iterator; the shared empty transition once at the end.
    virtual Transition current() const = 0;
    // True once the iteration has passed the last transition.
    virtual bool atEnd() const = 0;
};

// The empty trace.
class NullTrace : public Trace
{
public:
    void begin() override {}
    void next() override {}
    uint32_t length() const override { return 0; }
    Transition current() const override;
    bool atEnd() const override { return true; }
};

// A trace held as a sequence of transitions, built from its end towards its start.
class MTSTrace : public Trace
{
public:
    MTSTrace() : position(transitions.end()) {}

    // Puts a transition in front of the others.
    void pushFront(Transition transition) { transitions.push_front(transition); }

    void begin() override { position = transitions.begin(); }
    void next() override
    {
        if (position != transitions.end()) {
            ++position;
        }
    }
    uint32_t length() const override { return static_cast<uint32_t>(transitions.size()); }
    Transition current() const override;
    bool atEnd() const override { return position == transitions.end(); }

private:
    std::deque<Transition> transitions;
    std::deque<Transition>::iterator position;
};

// One trace followed by another.
class ConcatTrace : public Trace
{
public:
    // Starts at the first transition that is left in either part.
    ConcatTrace(base::RefPtr<Trace> first, base::RefPtr<Trace> second);
    ~ConcatTrace() override;

    void begin() override;
    void next() override;
    uint32_t length() const override;
    Transition current() const override;
    bool atEnd() const override { return !part; }

private:
    // Moves past parts that have nothing left.
    void settle();

    base::RefPtr<Trace> first;
    base::RefPtr<Trace> second;
    base::RefPtr<Trace> part;  // the part being iterated, null at the end
};

// The first trace followed by the second: one of them itself when the other is empty.
base::RefPtr<Trace> concatTraces(const base::RefPtr<Trace>& first, const base::RefPtr<Trace>& second);

// Records, for every stored state, the transition that reached it and its parent record.
class TraceStore : public base::Object
{
public:
    // Appends a record and returns its index. The parent is the index of an earlier record, or -1
    // for a root.
    virtual int32_t put(Transition transition, int32_t parent) = 0;
    // Removes the record appended last.
    virtual void pop() = 0;
    // The transitions from the root to the state of the record (empty for -1 and for a root).
    virtual base::RefPtr<Trace> createTrace(int32_t index) = 0;
    // The transitions from the state of record from down to the state of record to.
    virtual base::RefPtr<Trace> createTrace(int32_t from, int32_t to) = 0;
};

// A trace store in memory: two words per record, appended and popped at the end, never searched.
class MemoryTraceStore : public TraceStore
{
public:
    MemoryTraceStore() = default;
    MemoryTraceStore(const MemoryTraceStore&) = delete;
    MemoryTraceStore& operator=(const MemoryTraceStore&) = delete;

    // A parent that is neither -1 nor an existing record raises Bug.
    int32_t put(Transition transition, int32_t parent) override;
    void pop() override;
    // An index that is neither -1 nor an existing record raises Bug.
    base::RefPtr<Trace> createTrace(int32_t index) override;
    // Empty when from equals to, when to is outside the store or from is past its end. A from
    // that is not an ancestor of to raises Bug "Invalid arguments in call to
    // MemoryTraceStore::createTrace".
    base::RefPtr<Trace> createTrace(int32_t from, int32_t to) override;

    int32_t size() const { return count; }
    // The parent of a record (-1 for a root); an index outside the store raises Bug.
    int32_t parentOf(int32_t index) const;

private:
    struct Entry
    {
        Transition transition;  // null for a root
        int32_t parent;         // -1 for a root
    };
    // Records live in blocks that are never moved or given back while the store lives, so a
    // record popped and put again costs nothing.
    static constexpr int32_t blockBits = 12;
    static constexpr int32_t blockSize = 1 << blockBits;

    Entry& at(int32_t index) { return blocks[index >> blockBits][index & (blockSize - 1)]; }
    const Entry& at(int32_t index) const { return blocks[index >> blockBits][index & (blockSize - 1)]; }

    std::vector<std::unique_ptr<Entry[]>> blocks;
    int32_t count = 0;
};
