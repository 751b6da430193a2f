#include "statespace/passed_waiting_list.h"

#include <algorithm>

#include "runtime/symbolic_state.h"
#include "runtime/system.h"
#include "statespace/passed_list.h"
#include "support/exceptions.h"
#include "support/hash.h"

namespace {

const char* const category = "Passed/Waiting set";

// Every color: the filter of whole-store walks.
const ColorSet& everyColor()
{
    static const ColorSet colors;
    return colors;
}

template <class T>
StateOrder<T>* makeOrder(int kind)
{
    switch (kind) {
    case 0:
        return new QueueOrder<T>();
    case 1:
        return new StackOrder<T>();
    case 2:
        return new PriorityOrder<T>();
    default:
        return nullptr;
    }
}

}  // namespace

// ---- Common --------------------------------------------------------------------------------------

bool PassedWaitingList::forward(Successor* successor)
{
    if (next == nullptr) {
        return drop(successor);
    }
    next->put(successor);
    return true;
}

bool PassedWaitingList::drop(Successor* successor)
{
    pipeline::dropItem(successor);
    return false;
}

// ---- Constraint-system list ----------------------------------------------------------------------

CSSPassedWaitingList::~CSSPassedWaitingList()
{
    CSSPassedWaitingList::clear();
}

CSS& CSSPassedWaitingList::requireStore() const
{
    if (store == nullptr || order == nullptr) {
        throw Bug("Passed-waiting list used without a store or an order");
    }
    return *store;
}

void CSSPassedWaitingList::setProperty(const char* key, void* value)
{
    if (key == PROPERTY_COLOR_STATE_SET) {
        if (store != nullptr && order != nullptr) {
            clear();
        }
        store = static_cast<CSS*>(value);
        colors.clear();
        passedColor = waitingColor = 0;
        if (store != nullptr) {
            passedColor = store->newColor();
            waitingColor = store->newColor();
            colors.insert(passedColor);
            colors.insert(waitingColor);
        }
    } else if (key == PROPERTY_STATE_ORDER && value != nullptr) {
        if (store != nullptr && order != nullptr) {
            clear();
        }
        order = makeOrder<key_t*>(*static_cast<const int*>(value));
        members.add(order);
    } else if (key == PROPERTY_MINCOST && value != nullptr) {
        costBound = *static_cast<const int*>(value);
        if (costBound <= noBound - 1) {
            repruneCountdown = reprunePeriod;
        }
    } else if (key == PROPERTY_PRUNING) {
        pruning = pipeline::toStateFunction(value);
    } else if (key == PROPERTY_SYSTEM) {
        system = static_cast<System*>(value);
    } else if (key == PROPERTY_STATISTICS) {
        setCollector(static_cast<StatisticsCollector*>(value));
        addStatistic(1, category, "Size", "states");
        addStatistic(2, category, "Load", "states");
    }
    CompoundPassedWaitingList::setProperty(key, value);
}

bool CSSPassedWaitingList::pruned(const SymbolicState* state) const
{
    return pruning != nullptr && costBound < noBound && pruning(state) >= costBound;
}

void CSSPassedWaitingList::enqueue(CSS::Node* node, const SymbolicState* rank, int32_t traceIndex, int32_t storeMark)
{
    auto* payload = static_cast<key_t*>(node->payload());
    payload->traceIndex = traceIndex;
    payload->storeMark = storeMark;
    order->put(rank, payload);
}

bool CSSPassedWaitingList::storeWaiting(SymbolicState* state)
{
    CSS& css = *store;
    const CSS::StateKey key = css.makeKey(state);
    // The order ranks each entry by a state with exactly its zone: the state itself when it has
    // one zone, else a pooled copy of its discrete part.
    const bool single = state->zone.size() == 1;
    bool stored = false;
    for (const dbm::zone_t& zone : state->zone) {
        CSS::Node* node = css.addNode(key, zone, waitingColor, true, true);
        if (single) {
            enqueue(node, state, state->traceIndex, state->storeMark);
        } else {
            SymbolicState* rank = state->cloneDiscrete();
            rank->zone.assignZone(zone);
            enqueue(node, rank, state->traceIndex, state->storeMark);
            rank->release();
        }
        stored = true;
    }
    return stored;
}

bool CSSPassedWaitingList::put(Successor* successor)
{
    SymbolicState* state = successor->state;
    if (pruned(state)) {
        return drop(successor);
    }
    CSS& css = requireStore();
    const CSS::StateKey key = css.makeKey(state);
    if (css.checkAndEliminate(key, state->zone, colors, colors, colors)) {
        return drop(successor);
    }
    if (!storeWaiting(state)) {
        return drop(successor);
    }
    return forward(successor);
}

void CSSPassedWaitingList::letGo(CSS::Node* node)
{
    if (node->color() == 0) {
        store->freeNode(node);
    } else {
        node->setHeld(false);
    }
}

bool CSSPassedWaitingList::get(SymbolicStateReference** reference)
{
    if (repruneCountdown >= 0) {
        if (repruneCountdown == 0) {
            reprune();
        }
        --repruneCountdown;
    }
    key_t* entry = nullptr;
    while (order != nullptr && order->get(entry)) {
        CSS::Node* node = CSS::nodeOfPayload(entry);
        if (node->color() != 0 && node->color() == waitingColor) {
            current = entry;
            *reference = this;
            return true;
        }
        letGo(node);
    }
    return false;
}

void CSSPassedWaitingList::load(SymbolicState* state)
{
    if (current == nullptr) {
        throw Bug("No waiting state was taken");
    }
    store->loadNode(CSS::nodeOfPayload(current), state);
    state->traceIndex = current->traceIndex;
    state->storeMark = current->storeMark;
}

void CSSPassedWaitingList::finish(bool drop)
{
    if (current == nullptr) {
        return;
    }
    CSS::Node* node = CSS::nodeOfPayload(current);
    current = nullptr;
    // A successor of the state may have removed its node meanwhile (its zone included the node's):
    // then there is nothing left to recolor, only the memory to free.
    if (node->color() != 0) {
        if (drop) {
            store->recolor(node, 0);
        } else {
            store->dropMeta(node);
            store->recolor(node, passedColor);
        }
    }
    letGo(node);
}

void CSSPassedWaitingList::reprune()
{
    if (pruning == nullptr || costBound >= noBound || store == nullptr || system == nullptr) {
        return;
    }
    SymbolicState* probe = system->acquireState();
    CSS::Iterator it = store->firstNode(everyColor());
    for (CSS::Node* node = it.node; node != nullptr;) {
        CSS::Node* visited = node;
        node = store->nextNode(it);  // before visited may be removed
        store->loadNode(visited, probe);
        if (pruning(probe) >= costBound) {
            store->recolor(visited, 0);
        }
    }
    probe->release();
}

pipeline::Source<SymbolicStateReference*>* CSSPassedWaitingList::enumerate()
{
    return new Enum(this);
}

void CSSPassedWaitingList::clear()
{
    key_t* entry = nullptr;
    while (order != nullptr && order->get(entry)) {
        letGo(CSS::nodeOfPayload(entry));
    }
    if (store != nullptr) {
        store->recolorAll(colors, 0);
    }
    current = nullptr;
    costBound = noBound;
    repruneCountdown = -1;
}

uint64_t CSSPassedWaitingList::size()
{
    return store == nullptr ? 0 : store->colorCount(passedColor) + store->colorCount(waitingColor);
}

uint64_t CSSPassedWaitingList::waitingSize()
{
    return store == nullptr ? 0 : store->colorCount(waitingColor);
}

int CSSPassedWaitingList::value(int id)
{
    switch (id) {
    case 1:
        return static_cast<int>(size());
    case 2:
        return static_cast<int>(waitingSize());
    default:
        throw Bug("Unknown statistics ID");
    }
}

// ---- Enumeration ---------------------------------------------------------------------------------

CSSPassedWaitingList::Enum::Enum(CSSPassedWaitingList* list) : list(list) {}

bool CSSPassedWaitingList::Enum::get(SymbolicStateReference** reference)
{
    if (list->store == nullptr) {
        return false;
    }
    if (!started) {
        iterator = list->store->firstNode(list->colors);
        started = true;
    }
    // The walk stays one node ahead, so the node handed out may go from the store meanwhile.
    current = iterator.node;
    if (current == nullptr) {
        return false;
    }
    list->store->nextNode(iterator);
    *reference = this;
    return true;
}

void CSSPassedWaitingList::Enum::load(SymbolicState* state)
{
    if (current == nullptr) {
        throw Bug("No stored state was taken");
    }
    list->store->loadNode(current, state);
    if (current->payloadWords() != 0) {
        const auto* payload = static_cast<const key_t*>(current->payload());
        state->traceIndex = payload->traceIndex;
        state->storeMark = payload->storeMark;
    }
}

void CSSPassedWaitingList::Enum::finish(bool) {}

// ---- Convex-hull list ----------------------------------------------------------------------------

void CHPassedWaitingList::setProperty(const char* key, void* value)
{
    if (key == PROPERTY_COLOR_STATE_SET) {
        // Exact marks name discrete parts by handles of the store they were made with.
        exactParts.clear();
    }
    CSSPassedWaitingList::setProperty(key, value);
}

bool CHPassedWaitingList::isExact(SymbolicState* state)
{
    if (exactParts.empty()) {
        return false;
    }
    CSS& css = requireStore();
    return exactParts.count(css.discreteHandles(css.makeKey(state))) != 0;
}

bool CHPassedWaitingList::put(Successor* successor)
{
    SymbolicState* state = successor->state;
    if (isExact(state)) {
        return CSSPassedWaitingList::put(successor);
    }
    CSS& css = requireStore();
    const CSS::StateKey key = css.makeKey(state);
    CSS::Node* node = css.findNode(key, colors);
    state->zone.convexHull();
    if (node != nullptr) {
        switch (css.relateAndEliminate(state->zone, state->getCost(), node)) {
        case 2:
            return drop(successor);
        case 0:
            css.widenByNode(state->zone, node);
            css.removeNode(node);
            break;
        default:
            css.removeNode(node);
            break;
        }
    }
    bool stored = false;
    for (const dbm::zone_t& zone : state->zone) {
        enqueue(css.addNode(key, zone, waitingColor, true, true), state, state->traceIndex, state->storeMark);
        stored = true;
    }
    return stored ? forward(successor) : drop(successor);
}

void CHPassedWaitingList::clear()
{
    CSSPassedWaitingList::clear();
    exactParts.clear();
}

void CHPassedWaitingList::markExact(SymbolicState* state)
{
    CSS& css = requireStore();
    const CSS::StateKey key = css.makeKey(state);
    // The mark is kept with the list, not on the node removed here, so that every later successor
    // of this discrete part finds it.
    exactParts.insert(css.discreteHandles(key));
    if (CSS::Node* node = css.findNode(key, colors)) {
        css.removeNode(node);
    }
}

void CHPassedWaitingList::reinsertExact(SymbolicState* state)
{
    CSS& css = requireStore();
    const CSS::StateKey key = css.makeKey(state);
    exactParts.insert(css.discreteHandles(key));
    CSS::Node* node = css.findNode(key, colors);
    if (node == nullptr) {
        return;
    }
    const int32_t color = node->color();
    css.removeNode(node);
    const bool single = state->zone.size() == 1;
    for (const dbm::zone_t& zone : state->zone) {
        CSS::Node* stored = css.addNode(key, zone, color, true, true);
        if (single) {
            enqueue(stored, state, state->traceIndex, 1);
        } else {
            SymbolicState* rank = state->cloneDiscrete();
            rank->zone.assignZone(zone);
            enqueue(stored, rank, state->traceIndex, 1);
            rank->release();
        }
    }
}

// ---- Bit-state list ------------------------------------------------------------------------------

CSSBitStateHashingPassedWaitingList::~CSSBitStateHashingPassedWaitingList()
{
    CSSBitStateHashingPassedWaitingList::clear();
}

CSS& CSSBitStateHashingPassedWaitingList::requireStore() const
{
    if (store == nullptr || order == nullptr) {
        throw Bug("Passed-waiting list used without a store or an order");
    }
    return *store;
}

void CSSBitStateHashingPassedWaitingList::begin()
{
    CompoundPassedWaitingList::begin();
    if (table == nullptr) {
        table.reset(new uint32_t[size_t{1} << (bits - 5)]());
    }
}

void CSSBitStateHashingPassedWaitingList::setProperty(const char* key, void* value)
{
    CompoundPassedWaitingList::setProperty(key, value);
    if (key == PROPERTY_COLOR_STATE_SET) {
        if (store != nullptr && order != nullptr) {
            clear();
        }
        store = static_cast<CSS*>(value);
        colors.clear();
        color = 0;
        if (store != nullptr) {
            color = store->newColor();
            colors.insert(color);
        }
    } else if (key == PROPERTY_STATE_ORDER && value != nullptr) {
        if (store != nullptr && order != nullptr) {
            clear();
        }
        order = makeOrder<Element>(*static_cast<const int*>(value));
        members.add(order);
    } else if (key == PROPERTY_PASSEDSIZE && value != nullptr) {
        const int32_t requested = *static_cast<const int*>(value);
        if (requested != bits) {
            table.reset();
            bits = std::clamp(requested, BitStatePassedList::minimumBits, BitStatePassedList::maximumBits);
        }
    } else if (key == PROPERTY_STATISTICS) {
        setCollector(static_cast<StatisticsCollector*>(value));
        addStatistic(1, category, "Load", "states");
    } else if (key == PROPERTY_MINCOST && value != nullptr) {
        costBound = *static_cast<const int*>(value);
    } else if (key == PROPERTY_PRUNING) {
        pruning = pipeline::toStateFunction(value);
    }
}

bool CSSBitStateHashingPassedWaitingList::testBit(uint32_t index) const
{
    return table != nullptr && base::testBit(table.get(), index);
}

bool CSSBitStateHashingPassedWaitingList::put(Successor* successor)
{
    SymbolicState* state = successor->state;
    if (pruning != nullptr && costBound < CSSPassedWaitingList::noBound && pruning(state) >= costBound) {
        return drop(successor);
    }
    CSS& css = requireStore();
    const CSS::StateKey key = css.makeKey(state);
    if (css.checkAndEliminate(key, state->zone, colors, colors, colors)) {
        return drop(successor);
    }
    const StateBitHash h = stateBitHash(state, buffer);
    const bool single = state->zone.size() == 1;
    bool stored = false;
    for (const dbm::zone_t& zone : state->zone) {
        CSS::Node* node = css.addNode(key, zone, color, false, true);
        const uint32_t hz = zoneBitHash(zone, h.h2);
        const Element element{bits >= 32 ? hz : hz >> (32 - bits), state->storeMark, state->traceIndex, node};
        if (single) {
            order->put(state, element);
        } else {
            SymbolicState* rank = state->cloneDiscrete();
            rank->zone.assignZone(zone);
            order->put(rank, element);
            rank->release();
        }
        stored = true;
    }
    return stored ? forward(successor) : drop(successor);
}

void CSSBitStateHashingPassedWaitingList::letGo(CSS::Node* node)
{
    if (node->color() == 0) {
        store->freeNode(node);
    } else {
        node->setHeld(false);
    }
}

bool CSSBitStateHashingPassedWaitingList::get(SymbolicStateReference** reference)
{
    Element element{};
    while (order != nullptr && order->get(element)) {
        if (element.node->color() != 0 && element.node->color() == color && !testBit(element.bit)) {
            current = element;
            *reference = this;
            return true;
        }
        letGo(element.node);
    }
    return false;
}

void CSSBitStateHashingPassedWaitingList::load(SymbolicState* state)
{
    if (current.node == nullptr) {
        throw Bug("No waiting state was taken");
    }
    store->loadNode(current.node, state);
    state->storeMark = current.storeMark;
    // The successors of the state record it as their parent in a trace store.
    state->traceIndex = current.traceIndex;
}

void CSSBitStateHashingPassedWaitingList::finish(bool drop)
{
    CSS::Node* node = current.node;
    if (node == nullptr) {
        return;
    }
    const uint32_t bit = current.bit;
    current = Element{};
    if (!drop) {
        if (table == nullptr) {
            table.reset(new uint32_t[size_t{1} << (bits - 5)]());
        }
        base::setBit(table.get(), bit);
    }
    // The explored state lives on as its bit only. Its node may already have been removed by a
    // successor that included its zone; then only the memory is left to free.
    if (node->color() != 0) {
        node->setHeld(false);
        store->removeNode(node);
    } else {
        store->freeNode(node);
    }
}

void CSSBitStateHashingPassedWaitingList::clear()
{
    Element element{};
    while (order != nullptr && order->get(element)) {
        letGo(element.node);
    }
    if (store != nullptr) {
        store->recolorAll(colors, 0);
    }
    if (table != nullptr) {
        std::fill_n(table.get(), size_t{1} << (bits - 5), 0u);
    }
    current = Element{};
    costBound = CSSPassedWaitingList::noBound;
}

uint64_t CSSBitStateHashingPassedWaitingList::waitingSize()
{
    return store == nullptr ? 0 : store->colorCount(color);
}

int CSSBitStateHashingPassedWaitingList::value(int id)
{
    if (id == 1) {
        return static_cast<int>(waitingSize());
    }
    throw Bug("Unknown statistics ID");
}
