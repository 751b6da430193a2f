#pragma once

// Sweep-line passed-waiting lists: for models with progress measures, a search that forgets the
// states it has left behind. Every state gets a progress vector, the values of the model's progress
// measures in it; states are stored in layers, one per distinct vector, and the search works
// through the layers in order (the sweep line). Once a layer has no waiting state left, its states
// are deleted from the store. A state reached by a step backwards (its vector is not at least the
// current layer's) is persistent: it survives the deletion of its layer and is explored by a later
// sweep, which starts again at the first layer when the current one has run out of states.

#include <cstdint>
#include <list>
#include <vector>

#include "pipeline/keys.h"
#include "pipeline/statistics.h"
#include "pipeline/successor.h"
#include "runtime/expression.h"
#include "statespace/css.h"
#include "statespace/passed_waiting_list.h"
#include "statespace/state_order.h"
#include "statespace/symbolic_state_reference.h"

// A progress measure with a guard: minus infinity where the guard does not hold, else the value
// of the measure.
class ProgressExpression : public TrivialExpression
{
public:
    // The value of a progress measure whose guard does not hold: minus infinity.
    static constexpr int32_t minusInfinity = -1073741823;

    ProgressExpression(const ExpressionRef& guard, const ExpressionRef& measure);

    // Visits the guard, then the measure.
    void accept(ExpressionVisitor& visitor) override;
    int32_t evaluate(PublicState* state) override;

private:
    ExpressionRef guard;
    ExpressionRef measure;
};

class CSSSweepLinePassedWaitingList : public PassedWaitingList,
                                      public AbstractStatisticsProvider,
                                      public SymbolicStateReference
{
public:
    // The payload of every stored node: the state's marks.
    struct key_t
    {
        int32_t traceIndex;
        int32_t storeMark;
    };

    static constexpr int32_t minusInfinity = ProgressExpression::minusInfinity;
    static constexpr int32_t noBound = 0x3fffffff;

    CSSSweepLinePassedWaitingList() = default;
    ~CSSSweepLinePassedWaitingList() override;

    // Every key first reaches the prototype order and the order of every layer. Then:
    // PROPERTY_SYSTEM (rebuilds the progress expressions), PROPERTY_COLOR_STATE_SET,
    // PROPERTY_STATE_ORDER (0 queue, 1 stack, 2 priority; any other value leaves no order),
    // PROPERTY_STATISTICS, PROPERTY_MINCOST, PROPERTY_PRUNING and PROPERTY_PRIORITYFUNCTION
    // (kept for the orders of layers made later).
    void setProperty(const char* key, void* value) override;
    // Both clear the list, then begin (end) the orders of the layers.
    void begin() override;
    void end() override;

    // Stores the new zones of the successor in its layer (persistent when it lies behind the
    // sweep line) and passes the successor on; drops it when stored zones of its layer cover it,
    // or when its cost reaches the cost bound.
    bool put(Successor* successor) override;
    // The next waiting state, from the current layer on; exhausted layers are swept away, and
    // after the last layer one more sweep starts at the first. False when nothing is waiting.
    bool get(SymbolicStateReference** reference) override;
    void load(SymbolicState* state) override;
    // With drop set, forgets the state unless it is persistent.
    void finish(bool drop) override;

    // Removes every stored state and every layer but a new first one (all minus infinity).
    void clear() override;
    uint64_t waitingSize() override;
    // 1: the zones this search stored, those its layers swept away included (a zone that a later
    // one dominates, or that the space optimisation forgets, no longer counts), 2: waiting
    // entries.
    int value(int id) override;

    // Figures for tests and reports.
    size_t layerCount() const { return layers.size(); }
    // The progress vectors of the layers in order, and of the current one.
    std::vector<std::vector<int32_t>> layerVectors() const;
    const std::vector<int32_t>& currentVector() const;

protected:
    struct Layer
    {
        std::vector<int32_t> vector;
        StateOrder<key_t*>* order = nullptr;  // owned
        int32_t ordinary = 0;
        int32_t persistent = 0;
        ColorSet colors;           // both colors: lookups are restricted to the layer
        ColorSet ordinaryColor;    // the ordinary one: the nodes swept away with the layer
    };
    using LayerList = std::list<Layer>;

    // The store; Bug when there is none, no order or no layer.
    CSS& requireStore();
    bool pruned(const SymbolicState* state) const;
    // The progress vector of the state, into `progress`.
    void computeProgress(SymbolicState* state);
    // The layer of `progress`, made when there is none yet.
    LayerList::iterator findLayer();
    // A new layer (order, colors) for the vector.
    Layer makeLayer(const std::vector<int32_t>& vector);
    // Empties the layer's order and removes all its nodes; deletes the order.
    void dropLayer(Layer& layer);
    void dropLayers();
    // Stores each zone of the state as a node of the layer, queued in its order.
    bool storeZones(Layer& layer, SymbolicState* state, int32_t color);
    // A held node that an order gave back: freed when it was removed, else handed to the store.
    void letGo(CSS::Node* node);

    LayerList layers;
    LayerList::iterator current = layers.end();
    StateOrder<key_t*>* prototype = nullptr;  // owned
    base::RefPtr<CSS> store;
    std::vector<ExpressionRef> measures;
    std::vector<int32_t> progress;
    int32_t costBound = noBound;
    pipeline::StateFunction pruning = nullptr;
    // The priority function last given, for the orders of new layers.
    void* priorityFunction = nullptr;
    bool hasPriorityFunction = false;
    key_t* currentKey = nullptr;
    // Zones stored since begin, less those dominated or forgotten. The sweep deletes
    // finished layers (and end deletes everything), so the store's own count says nothing of
    // the search once it is over.
    int64_t storedZones = 0;
};

// Keeps one zone per discrete part and layer: every new zone is merged with the zones stored for
// its discrete part in its layer into their convex hull.
class CHSweepLinePassedWaitingList : public CSSSweepLinePassedWaitingList
{
public:
    bool put(Successor* successor) override;
};
