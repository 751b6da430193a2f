#pragma once

// Search orders: which waiting entry a passed-waiting list hands out next.
//
// An order is a small container of the list's waiting entries (pointers to stored states, or
// whole records), owned by the list and configured through it. The state given with an entry only
// ranks it and is not kept. Entries are copied by value; an order never looks at what they refer
// to, also not when it is deleted with entries still in it.
//
// The containers keep their memory when they shrink, so that an exploration in steady state
// takes nothing from the heap for the entries it moves through its order.

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "pipeline/keys.h"
#include "pipeline/pipeline.h"
#include "support/exceptions.h"

template <class T>
class StateOrder : public pipeline::Connectable
{
public:
    // Adds an entry; the state ranks it.
    virtual void put(const SymbolicState* state, const T& entry) = 0;
    // Removes the next entry into out and returns true; false (out untouched) when empty.
    virtual bool get(T& out) = 0;
    virtual uint64_t size() const = 0;
    // A new empty order of the same kind, owned by the caller.
    virtual StateOrder* create() const = 0;
};

// First in, first out: breadth-first search.
template <class T>
class QueueOrder : public StateOrder<T>
{
public:
    void put(const SymbolicState*, const T& entry) override
    {
        if (count == ring.size()) {
            grow();
        }
        ring[(head + count) & (ring.size() - 1)] = entry;
        ++count;
    }

    bool get(T& out) override
    {
        if (count == 0) {
            return false;
        }
        out = std::move(ring[head]);
        head = (head + 1) & (ring.size() - 1);
        --count;
        return true;
    }

    uint64_t size() const override { return count; }
    StateOrder<T>* create() const override { return new QueueOrder; }

private:
    // Doubles the ring (its size stays a power of two), moving the entries to its start in order.
    void grow()
    {
        std::vector<T> bigger(ring.empty() ? 16 : ring.size() * 2);
        for (std::size_t i = 0; i < count; ++i) {
            bigger[i] = std::move(ring[(head + i) & (ring.size() - 1)]);
        }
        ring.swap(bigger);
        head = 0;
    }

    std::vector<T> ring;
    std::size_t head = 0;
    std::size_t count = 0;
};

// Last in, first out: depth-first search.
template <class T>
class StackOrder : public StateOrder<T>
{
public:
    void put(const SymbolicState*, const T& entry) override { entries.push_back(entry); }

    bool get(T& out) override
    {
        if (entries.empty()) {
            return false;
        }
        out = std::move(entries.back());
        entries.pop_back();
        return true;
    }

    uint64_t size() const override { return entries.size(); }
    StateOrder<T>* create() const override { return new StackOrder; }

private:
    std::vector<T> entries;
};

// Smallest priority first and, among equal priorities, the entry put last. The priority is
// computed once, when the entry is put, by the function sent with PROPERTY_PRIORITYFUNCTION.
template <class T>
class PriorityOrder : public StateOrder<T>
{
public:
    void setProperty(const char* key, void* value) override
    {
        if (key == PROPERTY_PRIORITYFUNCTION) {
            priority = pipeline::toStateFunction(value);
        }
    }

    void put(const SymbolicState* state, const T& entry) override
    {
        if (priority == nullptr) {
            throw Bug("Priority order used without a priority function");
        }
        heap.push_back(Ranked{priority(state), ++sequence, entry});
        std::push_heap(heap.begin(), heap.end(), Later{});
    }

    bool get(T& out) override
    {
        if (heap.empty()) {
            return false;
        }
        std::pop_heap(heap.begin(), heap.end(), Later{});
        out = std::move(heap.back().entry);
        heap.pop_back();
        return true;
    }

    uint64_t size() const override { return heap.size(); }
    StateOrder<T>* create() const override { return new PriorityOrder; }

private:
    struct Ranked
    {
        int32_t priority;
        uint64_t sequence;  // order of putting
        T entry;
    };
    // Heap order: the top is the smallest priority, and the newest among equals.
    struct Later
    {
        bool operator()(const Ranked& a, const Ranked& b) const
        {
            if (a.priority != b.priority) {
                return a.priority > b.priority;
            }
            return a.sequence < b.sequence;
        }
    };

    std::vector<Ranked> heap;
    uint64_t sequence = 0;
    pipeline::StateFunction priority = nullptr;
};
