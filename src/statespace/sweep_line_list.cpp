#include "statespace/sweep_line_list.h"

#include <algorithm>
#include <climits>

#include "runtime/symbolic_state.h"
#include "runtime/system.h"
#include "support/exceptions.h"

namespace {

const char* const category = "Passed/Waiting set";

// v[i] >= w[i] for every i.
bool dominates(const std::vector<int32_t>& v, const std::vector<int32_t>& w)
{
    for (size_t i = 0; i < v.size() && i < w.size(); ++i) {
        if (v[i] < w[i]) {
            return false;
        }
    }
    return true;
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

// ---- ProgressExpression --------------------------------------------------------------------------

ProgressExpression::ProgressExpression(const ExpressionRef& guard, const ExpressionRef& measure)
    : guard(guard), measure(measure)
{
    reads = guard->reads;
    reads.insert(measure->reads.begin(), measure->reads.end());
}

void ProgressExpression::accept(ExpressionVisitor& visitor)
{
    guard->accept(visitor);
    measure->accept(visitor);
}

int32_t ProgressExpression::evaluate(PublicState* state)
{
    if (guard->evaluate(state) == 0) {
        return minusInfinity;
    }
    return measure->evaluate(state);
}

// ---- Layers --------------------------------------------------------------------------------------

CSSSweepLinePassedWaitingList::~CSSSweepLinePassedWaitingList()
{
    dropLayers();
    delete prototype;
    measures.clear();
    store.release();
}

CSSSweepLinePassedWaitingList::Layer CSSSweepLinePassedWaitingList::makeLayer(const std::vector<int32_t>& vector)
{
    Layer layer;
    layer.vector = vector;
    layer.order = prototype->create();
    if (hasPriorityFunction) {
        layer.order->setProperty(PROPERTY_PRIORITYFUNCTION, priorityFunction);
    }
    layer.order->begin();
    layer.ordinary = store->newColor();
    layer.persistent = store->newColor();
    layer.colors.insert(layer.ordinary);
    layer.colors.insert(layer.persistent);
    layer.ordinaryColor.insert(layer.ordinary);
    return layer;
}

void CSSSweepLinePassedWaitingList::letGo(CSS::Node* node)
{
    if (node->color() == 0) {
        store->freeNode(node);
    } else {
        node->setHeld(false);
    }
}

void CSSSweepLinePassedWaitingList::dropLayer(Layer& layer)
{
    key_t* entry = nullptr;
    while (layer.order != nullptr && layer.order->get(entry)) {
        letGo(CSS::nodeOfPayload(entry));
    }
    if (store != nullptr) {
        store->recolorAll(layer.colors, 0);
    }
    delete layer.order;
    layer.order = nullptr;
}

void CSSSweepLinePassedWaitingList::dropLayers()
{
    for (Layer& layer : layers) {
        dropLayer(layer);
    }
    layers.clear();
    current = layers.end();
    currentKey = nullptr;
}

void CSSSweepLinePassedWaitingList::clear()
{
    dropLayers();
    costBound = noBound;
    if (store != nullptr && prototype != nullptr) {
        layers.push_back(makeLayer(std::vector<int32_t>(measures.size(), minusInfinity)));
    }
    current = layers.begin();
}

CSS& CSSSweepLinePassedWaitingList::requireStore()
{
    if (layers.empty()) {
        clear();
    }
    if (store == nullptr || prototype == nullptr || layers.empty()) {
        throw Bug("Passed-waiting list used without a store or an order");
    }
    return *store;
}

std::vector<std::vector<int32_t>> CSSSweepLinePassedWaitingList::layerVectors() const
{
    std::vector<std::vector<int32_t>> vectors;
    for (const Layer& layer : layers) {
        vectors.push_back(layer.vector);
    }
    return vectors;
}

const std::vector<int32_t>& CSSSweepLinePassedWaitingList::currentVector() const
{
    if (current == layers.end()) {
        throw Bug("The sweep line has no current layer");
    }
    return current->vector;
}

// ---- Configuration -------------------------------------------------------------------------------

void CSSSweepLinePassedWaitingList::setProperty(const char* key, void* value)
{
    if (prototype != nullptr) {
        prototype->setProperty(key, value);
    }
    for (Layer& layer : layers) {
        layer.order->setProperty(key, value);
    }

    if (key == PROPERTY_SYSTEM) {
        measures.clear();
        if (auto* system = static_cast<System*>(value)) {
            for (const System::ExpressionPair& measure : system->progressMeasures) {
                measures.push_back(measure.first ? ExpressionRef(new ProgressExpression(measure.first, measure.second))
                                                 : measure.second);
            }
        }
        progress.assign(measures.size(), 0);
        // Layers made for another number of measures cannot be compared with the new vectors.
        if (!layers.empty() && layers.front().vector.size() != measures.size()) {
            dropLayers();
        }
    } else if (key == PROPERTY_COLOR_STATE_SET) {
        // The layers' colors belong to the store they were made in.
        dropLayers();
        store = static_cast<CSS*>(value);
    } else if (key == PROPERTY_STATE_ORDER) {
        delete prototype;
        prototype = value != nullptr ? makeOrder<key_t*>(*static_cast<const int*>(value)) : nullptr;
    } else if (key == PROPERTY_STATISTICS) {
        setCollector(static_cast<StatisticsCollector*>(value));
        addStatistic(1, category, "Size", "states");
        addStatistic(2, category, "Load", "states");
    } else if (key == PROPERTY_MINCOST) {
        if (value != nullptr) {
            costBound = *static_cast<const int*>(value);
        }
    } else if (key == PROPERTY_PRUNING) {
        pruning = pipeline::toStateFunction(value);
    } else if (key == PROPERTY_PRIORITYFUNCTION) {
        priorityFunction = value;
        hasPriorityFunction = true;
    }
}

void CSSSweepLinePassedWaitingList::begin()
{
    clear();
    storedZones = 0;
    for (Layer& layer : layers) {
        layer.order->begin();
    }
}

void CSSSweepLinePassedWaitingList::end()
{
    clear();
    for (Layer& layer : layers) {
        layer.order->end();
    }
}

// ---- Storing -------------------------------------------------------------------------------------

bool CSSSweepLinePassedWaitingList::pruned(const SymbolicState* state) const
{
    return pruning != nullptr && costBound < noBound && pruning(state) >= costBound;
}

void CSSSweepLinePassedWaitingList::computeProgress(SymbolicState* state)
{
    for (size_t i = 0; i < measures.size(); ++i) {
        // Nothing lies below the first layer: a value beyond minus infinity counts as it.
        progress[i] = std::max(measures[i]->evaluate(state), minusInfinity);
    }
}

CSSSweepLinePassedWaitingList::LayerList::iterator CSSSweepLinePassedWaitingList::findLayer()
{
    LayerList::iterator layer;
    LayerList::iterator end;
    if (current == layers.begin() || dominates(progress, current->vector)) {
        layer = current;
        end = layers.end();
    } else {
        // Behind the sweep line: between the first layer and the current one.
        layer = std::next(layers.begin());
        end = current;
    }
    while (layer != end && !dominates(layer->vector, progress)) {
        ++layer;
    }
    if (layer != end && layer->vector == progress) {
        return layer;
    }
    return layers.insert(layer, makeLayer(progress));
}

bool CSSSweepLinePassedWaitingList::storeZones(Layer& layer, SymbolicState* state, int32_t color)
{
    CSS& css = *store;
    const CSS::StateKey key = css.makeKey(state);
    // The order ranks each entry by a state with exactly its zone: the state itself when it has
    // one zone, else a pooled copy of its discrete part.
    const bool single = state->zone.size() == 1;
    bool stored = false;
    for (const dbm::zone_t& zone : state->zone) {
        CSS::Node* node = css.addNode(key, zone, color, true, true);
        ++storedZones;
        auto* payload = static_cast<key_t*>(node->payload());
        payload->traceIndex = state->traceIndex;
        payload->storeMark = state->storeMark;
        if (single) {
            layer.order->put(state, payload);
        } else {
            SymbolicState* rank = state->cloneDiscrete();
            rank->zone.assignZone(zone);
            layer.order->put(rank, payload);
            rank->release();
        }
        stored = true;
    }
    return stored;
}

bool CSSSweepLinePassedWaitingList::put(Successor* successor)
{
    SymbolicState* state = successor->state;
    if (pruned(state)) {
        return drop(successor);
    }
    CSS& css = requireStore();
    computeProgress(state);
    const LayerList::iterator layer = findLayer();
    bool persistent = !dominates(progress, current->vector);

    const CSS::StateKey key = css.makeKey(state);
    const int32_t cost = state->getCost();
    CSS::Iterator it = css.firstSameDiscrete(key, layer->colors);
    for (CSS::Node* node = it.node; node != nullptr;) {
        CSS::Node* stored = node;
        node = css.nextSameDiscrete(it);  // before stored may be removed
        switch (css.relateAndEliminate(state->zone, cost, stored)) {
        case 1:
            // The new zone dominates the stored one and takes over its persistence.
            persistent = persistent || stored->color() == layer->persistent;
            css.recolor(stored, 0);
            --storedZones;
            break;
        case 2:
            return drop(successor);
        default:
            break;
        }
    }
    if (!storeZones(*layer, state, persistent ? layer->persistent : layer->ordinary)) {
        return drop(successor);
    }
    return forward(successor);
}

bool CHSweepLinePassedWaitingList::put(Successor* successor)
{
    SymbolicState* state = successor->state;
    if (pruned(state)) {
        return drop(successor);
    }
    CSS& css = requireStore();
    state->zone.convexHull();
    computeProgress(state);
    const LayerList::iterator layer = findLayer();
    bool persistent = !dominates(progress, current->vector);

    const CSS::StateKey key = css.makeKey(state);
    const int32_t cost = state->getCost();
    CSS::Iterator it = css.firstSameDiscrete(key, layer->colors);
    for (CSS::Node* node = it.node; node != nullptr;) {
        CSS::Node* stored = node;
        node = css.nextSameDiscrete(it);  // before stored may be removed
        switch (css.relateAndEliminate(state->zone, cost, stored)) {
        case 2:
            return drop(successor);
        case 0:
            // Neither covers the other: the hull of both replaces the stored zone.
            css.widenByNode(state->zone, stored);
            [[fallthrough]];
        default:
            persistent = persistent || stored->color() == layer->persistent;
            css.recolor(stored, 0);
            --storedZones;
            break;
        }
    }
    if (!storeZones(*layer, state, persistent ? layer->persistent : layer->ordinary)) {
        return drop(successor);
    }
    return forward(successor);
}

// ---- The sweep -----------------------------------------------------------------------------------

bool CSSSweepLinePassedWaitingList::get(SymbolicStateReference** reference)
{
    if (layers.empty()) {
        return false;
    }
    for (int sweep = 0; sweep < 2; ++sweep) {
        while (current != layers.end()) {
            key_t* entry = nullptr;
            while (current->order->get(entry)) {
                CSS::Node* node = CSS::nodeOfPayload(entry);
                if (node->color() == 0) {
                    store->freeNode(node);
                    continue;
                }
                currentKey = entry;
                *reference = this;
                return true;
            }
            // The layer has nothing left to explore: its ordinary states go.
            if (store->colorCount(current->ordinary) != 0) {
                store->recolorAll(current->ordinaryColor, 0);
            }
            if (current == layers.begin() || store->colorCount(current->persistent) != 0) {
                ++current;
            } else {
                delete current->order;
                current = layers.erase(current);
            }
        }
        // A new sweep from the first layer explores the persistent states left behind.
        current = layers.begin();
    }
    return false;
}

void CSSSweepLinePassedWaitingList::load(SymbolicState* state)
{
    if (currentKey == nullptr) {
        throw Bug("No waiting state was taken");
    }
    store->loadNode(CSS::nodeOfPayload(currentKey), state);
    state->traceIndex = currentKey->traceIndex;
    state->storeMark = currentKey->storeMark;
}

void CSSSweepLinePassedWaitingList::finish(bool drop)
{
    if (currentKey == nullptr) {
        return;
    }
    CSS::Node* node = CSS::nodeOfPayload(currentKey);
    currentKey = nullptr;
    if (drop && current != layers.end() && node->color() != 0 && node->color() == current->ordinary) {
        store->recolor(node, 0);
        --storedZones;
    }
    letGo(node);
}

// ---- Figures -------------------------------------------------------------------------------------

uint64_t CSSSweepLinePassedWaitingList::waitingSize()
{
    uint64_t waiting = 0;
    for (const Layer& layer : layers) {
        waiting += layer.order->size();
    }
    return waiting;
}

int CSSSweepLinePassedWaitingList::value(int id)
{
    switch (id) {
    case 1:
        return static_cast<int>(std::min<int64_t>(storedZones, INT32_MAX));
    case 2:
        return static_cast<int>(waitingSize());
    default:
        throw Bug("Unknown statistics ID");
    }
}
