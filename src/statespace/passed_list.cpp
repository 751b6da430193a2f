#include "statespace/passed_list.h"

#include <algorithm>

#include "pipeline/keys.h"
#include "runtime/location.h"
#include "runtime/symbolic_state.h"
#include "support/exceptions.h"
#include "support/hash.h"

// ---- Common --------------------------------------------------------------------------------------

bool PassedList::forward(Successor* successor)
{
    if (next == nullptr) {
        return drop(successor);
    }
    next->put(successor);
    return true;
}

bool PassedList::drop(Successor* successor)
{
    pipeline::dropItem(successor);
    return false;
}

StateBitHash stateBitHash(const SymbolicState* state, std::vector<uint32_t>& buffer)
{
    const size_t n = state->getStaticSlotCount();
    if (buffer.size() < n) {
        buffer.resize(n);
    }
    Location* const* locations = state->getLocations();
    for (size_t p = 0; p < n; ++p) {
        buffer[p] = static_cast<uint32_t>(locations[p]->getGlobalIndex());
    }
    StateBitHash h;
    h.h1 = static_cast<uint32_t>(base::hash64(buffer.data(), n * sizeof(uint32_t), 0));
    const ValueArray& integers = state->getIntegerArray();
    h.h2 = static_cast<uint32_t>(base::hash64(integers.values, sizeof(int32_t) * integers.count, h.h1));
    return h;
}

uint32_t zoneBitHash(const dbm::zone_t& zone, uint32_t h2)
{
    if (zone.isEmpty()) {
        return static_cast<uint32_t>(zone.getWord());
    }
    const uint32_t dim = zone.getDimension();
    return static_cast<uint32_t>(base::hash64(zone.getMatrix(), sizeof(dbm::bound_t) * dim * dim, h2));
}

// ---- Bit-state list ------------------------------------------------------------------------------

void BitStatePassedList::allocateTable()
{
    const size_t words = size_t{1} << (bits - 5);
    table.reset(new uint32_t[words]());
}

void BitStatePassedList::begin()
{
    if (table == nullptr) {
        allocateTable();
    }
}

void BitStatePassedList::setProperty(const char* key, void* value)
{
    if (key == PROPERTY_PASSEDSIZE && value != nullptr) {
        const int32_t requested = *static_cast<const int*>(value);
        if (requested != bits) {
            table.reset();
            bits = std::clamp(requested, minimumBits, maximumBits);
        }
    }
}

uint32_t BitStatePassedList::bitOf(const dbm::zone_t& zone, uint32_t h2) const
{
    const uint32_t hz = zoneBitHash(zone, h2);
    return bits >= 32 ? hz : hz >> (32 - bits);
}

bool BitStatePassedList::testBit(uint32_t index) const
{
    return table != nullptr && base::testBit(table.get(), index);
}

bool BitStatePassedList::put(Successor* successor)
{
    SymbolicState* state = successor->state;
    if (table != nullptr) {
        const StateBitHash h = stateBitHash(state, buffer);
        for (dbm::fed_t::mutable_iterator it = state->zone.beginMutable(); !it.atEnd();) {
            if (base::testBit(table.get(), bitOf(*it, h.h2))) {
                it.remove();
            } else {
                it.next();
            }
        }
        if (state->zone.isEmpty()) {
            return drop(successor);
        }
    }
    return forward(successor);
}

void BitStatePassedList::clear()
{
    if (table != nullptr) {
        std::fill_n(table.get(), size_t{1} << (bits - 5), 0u);
    }
}

void BitStatePassedList::add(SymbolicState* state)
{
    if (table == nullptr) {
        allocateTable();
    }
    const StateBitHash h = stateBitHash(state, buffer);
    for (const dbm::zone_t& zone : state->zone) {
        base::setBit(table.get(), bitOf(zone, h.h2));
    }
}

// ---- Constraint-system list ----------------------------------------------------------------------

CSSPassedList::~CSSPassedList()
{
    clear();
}

CSS& CSSPassedList::requireStore() const
{
    if (store == nullptr) {
        throw Bug("Passed list used without a store");
    }
    return *store;
}

void CSSPassedList::setProperty(const char* key, void* value)
{
    if (key == PROPERTY_COLOR_STATE_SET) {
        clear();
        store = static_cast<CSS*>(value);
        relate.clear();
        color = 0;
        if (store != nullptr) {
            color = store->newColor();
            relate.insert(color);
        }
    }
}

bool CSSPassedList::put(Successor* successor)
{
    CSS& css = requireStore();
    SymbolicState* state = successor->state;
    const CSS::StateKey key = css.makeKey(state);
    if (css.checkAndEliminate(key, state->zone, eliminate, relate, relate)) {
        return drop(successor);
    }
    return forward(successor);
}

void CSSPassedList::clear()
{
    if (store != nullptr) {
        store->recolorAll(relate, 0);
    }
}

void CSSPassedList::add(SymbolicState* state)
{
    CSS& css = requireStore();
    const CSS::StateKey key = css.makeKey(state);
    if (css.checkAndEliminate(key, state->zone, relate, relate, relate)) {
        return;
    }
    for (const dbm::zone_t& zone : state->zone) {
        css.addNode(key, zone, color, false, false);
    }
}

// ---- Convex-hull list ----------------------------------------------------------------------------

bool CHPassedList::put(Successor* successor)
{
    CSS& css = requireStore();
    SymbolicState* state = successor->state;
    const CSS::StateKey key = css.makeKey(state);
    CSS::Node* node = css.findNode(key, relate);
    if (node != nullptr) {
        switch (css.relateAndEliminate(state->zone, state->getCost(), node)) {
        case 2:
            return drop(successor);
        case 0:
            css.widenByNode(state->zone, node);
            break;
        default:
            break;
        }
    }
    return forward(successor);
}

void CHPassedList::add(SymbolicState* state)
{
    CSS& css = requireStore();
    const CSS::StateKey key = css.makeKey(state);
    CSS::Node* node = css.findNode(key, relate);
    state->zone.convexHull();
    if (node != nullptr) {
        switch (css.relateAndEliminate(state->zone, state->getCost(), node)) {
        case 2:
            return;
        case 0:
            css.widenByNode(state->zone, node);
            css.removeNode(node);
            break;
        default:
            css.removeNode(node);
            break;
        }
    }
    for (const dbm::zone_t& zone : state->zone) {
        css.addNode(key, zone, color, false, false);
    }
}
