#include "pipeline/sorting_filter.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "pipeline/filter_configuration.h"

namespace {

uint32_t draw()
{
    return static_cast<uint32_t>(lrand48());
}

}  // namespace

void SortingFilter::emit(Successor& successor)
{
    if (next != nullptr) {
        next->put(&successor);
    } else {
        pipeline::dropItem(&successor);
    }
}

RandomSortingFilter::~RandomSortingFilter()
{
    for (Successor& successor : kept) {
        pipeline::dropItem(&successor);
    }
}

bool RandomSortingFilter::put(Successor* item)
{
    if (item != nullptr) {
        kept.push_back(*item);
    }
    return true;
}

bool RandomSortingFilter::after(bool result)
{
    for (std::size_t i = 1; i < kept.size(); ++i) {
        std::size_t j = draw() % (i + 1);
        if (j != i) {
            std::swap(kept[i], kept[j]);
        }
    }
    emitAll(kept, false, [](Successor& successor) -> Successor& { return successor; });
    return result;
}

CostSortingFilter::~CostSortingFilter()
{
    for (Ranked& ranked : kept) {
        pipeline::dropItem(&ranked.successor);
    }
}

void CostSortingFilter::setProperty(const char* key, void* value)
{
    if (key == PROPERTY_PRUNING) {
        cost = pipeline::toStateFunction(value);
    }
}

bool CostSortingFilter::put(Successor* item)
{
    if (item == nullptr) {
        return true;
    }
    uint32_t key = draw();
    int32_t value = cost != nullptr ? cost(item->state) : 0;
    kept.push_back(Ranked{value, key, *item});
    return true;
}

bool CostSortingFilter::after(bool result)
{
    std::sort(kept.begin(), kept.end(), [](const Ranked& a, const Ranked& b) {
        return a.cost != b.cost ? a.cost < b.cost : a.key < b.key;
    });
    emitAll(kept, true, [](Ranked& ranked) -> Successor& { return ranked.successor; });
    return result;
}

pipeline::Connectable* makeRandomSortingFilter(FilterConfiguration*)
{
    return new RandomSortingFilter;
}

pipeline::Connectable* makeCostSortingFilter(FilterConfiguration*)
{
    return new CostSortingFilter;
}
