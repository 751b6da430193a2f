#include "pipeline/symmetry_filter.h"

#include <numeric>

#include "dbm/bound.h"
#include "pipeline/keys.h"
#include "runtime/location.h"
#include "runtime/process.h"
#include "runtime/symbolic_state.h"
#include "runtime/system.h"
#include "runtime/variable.h"

namespace {

// Clock x comes before clock y in the zone when x < y everywhere, or x <= y everywhere without
// x = y everywhere.
bool precedes(const dbm::bound_t* matrix, uint32_t dimension, uint32_t x, uint32_t y)
{
    const dbm::bound_t xy = matrix[x * dimension + y];
    return xy <= dbm::BOUND_LT_ZERO || (xy == dbm::BOUND_LE_ZERO && matrix[y * dimension + x] != dbm::BOUND_LE_ZERO);
}

}  // namespace

SymmetryFilter::~SymmetryFilter() = default;

void SymmetryFilter::setProperty(const char* key, void* value)
{
    if (key == PROPERTY_SCALARSET_INFO) {
        records.clear();
        if (value != nullptr) {
            const ScalarsetInfo* info = static_cast<const ScalarsetInfo*>(value);
            records.assign(info->records.begin(), info->records.end());
        }
    } else if (key == PROPERTY_SYSTEM) {
        system = static_cast<System*>(value);
    }
}

void SymmetryFilter::begin()
{
    permutations.assign(records.size(), {});
    for (size_t r = 0; r < records.size(); ++r) {
        permutations[r].resize(records[r].elements.size());
        std::iota(permutations[r].begin(), permutations[r].end(), 0);
    }
}

SymmetryFilter::Order SymmetryFilter::compareElements(const ScalarsetRecord& record, const ScalarsetElement& a,
                                                      const ScalarsetElement& b, SymbolicState* state) const
{
    // Locations of the element's processes.
    for (size_t k = 0; k < a.processes.size() && k < b.processes.size(); ++k) {
        const int32_t la = state->getLocation(static_cast<uint32_t>(a.processes[k]))->getIndexInProcess();
        const int32_t lb = state->getLocation(static_cast<uint32_t>(b.processes[k]))->getIndexInProcess();
        if (la != lb) {
            return la < lb ? Order::First : Order::Second;
        }
    }

    // Variables: those that hold an element of the set (ordered by number) merged with those of
    // the element.
    const std::vector<Variable*>& data = record.data;
    const size_t own = std::min(a.variables.size(), b.variables.size());
    auto holds = [&](Variable* v) {
        const int32_t value = v->getValue(state);
        return value == a.index ? Order::First : value == b.index ? Order::Second : Order::Undecided;
    };
    size_t d = 0;
    size_t k = 0;
    while (d < data.size()) {
        if (k >= own) {
            for (; d < data.size(); ++d) {
                const Order order = holds(data[d]);
                if (order != Order::Undecided) {
                    return order;
                }
            }
            break;
        }
        const uint64_t held = data[d]->getIndex();
        const uint64_t mine = a.variables[k]->getIndex();
        if (held < mine) {
            const Order order = holds(data[d]);
            if (order != Order::Undecided) {
                return order;
            }
            ++d;
        } else if (mine < held) {
            const int32_t va = a.variables[k]->getValue(state);
            const int32_t vb = b.variables[k]->getValue(state);
            if (va != vb) {
                return va < vb ? Order::First : Order::Second;
            }
            ++k;
        } else {
            // A variable of the element that holds an element: B's value as it would read after
            // exchanging A and B.
            const int32_t va = a.variables[k]->getValue(state);
            int32_t vb = b.variables[k]->getValue(state);
            vb = vb == a.index ? b.index : vb == b.index ? a.index : vb;
            if (va != vb) {
                return va < vb ? Order::First : Order::Second;
            }
            ++d;
            ++k;
        }
    }
    for (; k < own; ++k) {
        const int32_t va = a.variables[k]->getValue(state);
        const int32_t vb = b.variables[k]->getValue(state);
        if (va != vb) {
            return va < vb ? Order::First : Order::Second;
        }
    }

    // Clocks, in the state's one zone.
    if (!a.clocks.empty() && !state->zone.isEmpty()) {
        const dbm::zone_t& zone = *state->zone.begin();
        const dbm::bound_t* matrix = zone.getMatrix();
        const uint32_t dimension = zone.getDimension();
        for (size_t c = 0; c < a.clocks.size() && c < b.clocks.size(); ++c) {
            const uint32_t x = static_cast<uint32_t>(a.clocks[c]);
            const uint32_t y = static_cast<uint32_t>(b.clocks[c]);
            if (precedes(matrix, dimension, x, y)) {
                return Order::First;
            }
            if (precedes(matrix, dimension, y, x)) {
                return Order::Second;
            }
        }
    }
    return Order::Undecided;
}

void SymmetryFilter::swapElements(const ScalarsetRecord& record, const ScalarsetElement& a,
                                  const ScalarsetElement& b, SymbolicState* state) const
{
    for (Variable* v : record.data) {
        const int32_t value = v->getValue(state);
        if (value == a.index) {
            v->setValue(state, b.index);
        } else if (value == b.index) {
            v->setValue(state, a.index);
        }
    }
    for (size_t k = 0; k < a.processes.size() && k < b.processes.size(); ++k) {
        const uint32_t pa = static_cast<uint32_t>(a.processes[k]);
        const uint32_t pb = static_cast<uint32_t>(b.processes[k]);
        const int32_t la = state->getLocation(pa)->getIndexInProcess();
        const int32_t lb = state->getLocation(pb)->getIndexInProcess();
        state->setLocation(pa, state->getSystem()->getProcess(pa)->getLocation(static_cast<size_t>(lb)));
        state->setLocation(pb, state->getSystem()->getProcess(pb)->getLocation(static_cast<size_t>(la)));
    }
    for (size_t k = 0; k < a.variables.size() && k < b.variables.size(); ++k) {
        const int32_t va = a.variables[k]->getValue(state);
        const int32_t vb = b.variables[k]->getValue(state);
        a.variables[k]->setValue(state, vb);
        b.variables[k]->setValue(state, va);
    }
    for (size_t k = 0; k < a.clocks.size() && k < b.clocks.size(); ++k) {
        state->zone.swapClocks(static_cast<uint32_t>(a.clocks[k]), static_cast<uint32_t>(b.clocks[k]));
    }
}

bool SymmetryFilter::compareAndExchange(const ScalarsetRecord& record, std::vector<uint64_t>& p, size_t k,
                                        SymbolicState* state) const
{
    if (compareElements(record, record.elements[p[k - 1]], record.elements[p[k]], state) == Order::Second) {
        std::swap(p[k - 1], p[k]);
        return true;
    }
    return false;
}

void SymmetryFilter::canonicalise(SymbolicState* state)
{
    for (size_t r = 0; r < records.size(); ++r) {
        const ScalarsetRecord& record = records[r];
        std::vector<uint64_t>& p = permutations[r];
        const int64_t n = static_cast<int64_t>(p.size());

        // A cocktail-shaker sort of the element numbers by what the state holds for them.
        for (int64_t t = 1; n - t + 1 > t; ++t) {
            bool exchanged = false;
            for (int64_t k = t; k <= n - t; ++k) {
                exchanged = compareAndExchange(record, p, static_cast<size_t>(k), state) || exchanged;
            }
            if (!exchanged) {
                break;
            }
            for (int64_t k = n - t - 1; k >= t; --k) {
                compareAndExchange(record, p, static_cast<size_t>(k), state);
            }
        }

        // The permutation applied as transpositions, which leaves p the identity again.
        for (size_t i = 0; i < p.size(); ++i) {
            const uint64_t b = p[i];
            if (b == i) {
                continue;
            }
            size_t j = i + 1;
            while (p[j] != i) {
                ++j;
            }
            swapElements(record, record.elements[b], record.elements[i], state);
            p[j] = b;
            p[i] = i;
        }
    }
}

bool SymmetryFilter::put(Successor* item)
{
    if (item == nullptr) {
        return true;
    }
    SymbolicState* state = item->state;
    if (next == nullptr) {
        pipeline::dropItem(item);
        return false;
    }
    bool accepted = false;
    if (state->zone.size() > 1) {
        const dbm::fed_t zones = state->zone;
        auto zone = zones.begin();
        const dbm::zone_t& first = *zone;
        for (++zone; zone != zones.end(); ++zone) {
            Successor part;
            part.state = state->cloneDiscrete();
            part.state->zone.assignZone(*zone);
            part.transition = item->transition;
            canonicalise(part.state);
            accepted = next->put(&part) || accepted;
        }
        state->zone.assignZone(first);
    }
    canonicalise(state);
    return next->put(item) || accepted;
}

pipeline::Connectable* makeSymmetryFilter(FilterConfiguration*)
{
    return new SymmetryFilter;
}
