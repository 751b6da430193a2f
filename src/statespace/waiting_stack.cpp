#include "statespace/waiting_stack.h"

#include <utility>

#include "pipeline/keys.h"
#include "support/exceptions.h"

void WaitingStack::setProperty(const char* key, void* value)
{
    if (key == PROPERTY_STATISTICS) {
        setCollector(static_cast<StatisticsCollector*>(value));
        addStatistic(loadStatistic, "Waiting stack", "Load", "states");
    }
}

bool WaitingStack::put(Successor* item)
{
    if (item->transition == nullptr || item->transition[0] == nullptr) {
        return true;
    }
    entries.push_back(Entry{item->state, internEdgeTuple(item->transition), item->handle});
    return true;
}

bool WaitingStack::get(Successor* item)
{
    if (entries.empty()) {
        return false;
    }
    Entry& top = entries.back();
    item->state = top.state;
    item->transition = top.transition;
    item->handle = std::move(top.handle);
    entries.pop_back();
    return true;
}

int WaitingStack::value(int id)
{
    if (id != loadStatistic) {
        throw Bug("Unknown statistics ID");
    }
    return static_cast<int>(entries.size());
}

void WaitingStack::clear()
{
    std::deque<Entry>().swap(entries);
}
