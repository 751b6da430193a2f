#include "statespace/trace.h"

#include <utility>

#include "support/exceptions.h"

namespace {
Transition emptyTransition()
{
    return emptyEdgeTuple();
}

const char* const invalidArguments = "Invalid arguments in call to MemoryTraceStore::createTrace";
}  // namespace

Transition NullTrace::current() const
{
    return emptyTransition();
}

Transition MTSTrace::current() const
{
    return position != transitions.end() ? *position : emptyTransition();
}

ConcatTrace::ConcatTrace(base::RefPtr<Trace> first, base::RefPtr<Trace> second)
    : first(std::move(first)), second(std::move(second)), part(this->first)
{
    settle();
}

ConcatTrace::~ConcatTrace()
{
    part.release();
    second.release();
    first.release();
}

void ConcatTrace::begin()
{
    first->begin();
    second->begin();
    part = first;
    settle();
}

void ConcatTrace::next()
{
    if (!part) {
        return;
    }
    part->next();
    settle();
}

void ConcatTrace::settle()
{
    if (part == first && first->atEnd()) {
        part = second;
    }
    if (part == second && second->atEnd()) {
        part = nullptr;
    }
}

uint32_t ConcatTrace::length() const
{
    return first->length() + second->length();
}

Transition ConcatTrace::current() const
{
    return part ? part->current() : emptyTransition();
}

base::RefPtr<Trace> concatTraces(const base::RefPtr<Trace>& first, const base::RefPtr<Trace>& second)
{
    if (first->length() == 0) {
        return second;
    }
    if (second->length() == 0) {
        return first;
    }
    return base::RefPtr<Trace>(new ConcatTrace(first, second));
}

int32_t MemoryTraceStore::put(Transition transition, int32_t parent)
{
    if (parent < -1 || parent >= count) {
        throw Bug("Invalid parent in call to MemoryTraceStore::put");
    }
    if (count == static_cast<int32_t>(blocks.size()) * blockSize) {
        blocks.emplace_back(new Entry[blockSize]);
    }
    at(count) = Entry{transition, parent};
    return count++;
}

void MemoryTraceStore::pop()
{
    if (count == 0) {
        throw Bug("MemoryTraceStore::pop on an empty store");
    }
    --count;
}

int32_t MemoryTraceStore::parentOf(int32_t index) const
{
    if (index < 0 || index >= count) {
        throw Bug("Invalid index in call to MemoryTraceStore::parentOf");
    }
    return at(index).parent;
}

base::RefPtr<Trace> MemoryTraceStore::createTrace(int32_t index)
{
    if (index == -1) {
        return new NullTrace;
    }
    if (index < -1 || index >= count) {
        throw Bug(invalidArguments);
    }
    base::RefPtr<MTSTrace> trace(new MTSTrace);
    // Parents are always earlier records, so the walk ends at a root.
    for (const Entry* entry = &at(index); entry->parent != -1; entry = &at(entry->parent)) {
        trace->pushFront(entry->transition);
    }
    trace->begin();
    return trace;
}

base::RefPtr<Trace> MemoryTraceStore::createTrace(int32_t from, int32_t to)
{
    if (from == to || to < 0 || from >= count || to >= count) {
        return new NullTrace;
    }
    base::RefPtr<MTSTrace> trace(new MTSTrace);
    int32_t index = to;
    while (index != from) {
        const Entry& entry = at(index);
        if (entry.parent == -1) {
            throw Bug(invalidArguments);
        }
        trace->pushFront(entry.transition);
        index = entry.parent;
    }
    trace->begin();
    return trace;
}
