#pragma once

// A small model for the store and list tests: processes P and Q with four locations each, clocks x
// and y, integer variables a and b, and one meta variable that the tests use as the state's cost.
// States are made from their discrete part and a list of boxes (one zone each).

#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "dbm/dbm.h"
#include "pipeline/pipeline.h"
#include "pipeline/successor.h"
#include "runtime/symbolic_state.h"
#include "runtime/system.h"
#include "testkit/model_builder.h"

namespace storetest {

// x in [xLow, xHigh] and y in [yLow, yHigh]; a high end of -1 leaves the clock unbounded above.
struct Box
{
    int32_t xLow = 0;
    int32_t xHigh = -1;
    int32_t yLow = 0;
    int32_t yHigh = -1;
};

inline dbm::zone_t boxZone(const Box& b)
{
    constexpr uint32_t dim = 3;
    dbm::bound_t m[dim * dim];
    dbm::init(m, dim);
    const int32_t low[3] = {0, b.xLow, b.yLow};
    const int32_t high[3] = {0, b.xHigh, b.yHigh};
    for (uint32_t k = 1; k < dim; ++k) {
        m[k] = dbm::boundLE(-low[k]);
        if (high[k] >= 0) {
            m[k * dim] = dbm::boundLE(high[k]);
        }
    }
    EXPECT_TRUE(dbm::close(m, dim));
    dbm::zone_t z(dim);
    z.assignMatrix(m, dim);
    return z;
}

struct Discrete
{
    int p = 0;
    int q = 0;
    int32_t a = 0;
    int32_t b = 0;
    int32_t cost = 0;  // the meta variable
};

class StoreModel
{
public:
    StoreModel()
    {
        testkit::ModelBuilder builder;
        builder.clock("x");
        builder.clock("y");
        builder.variable("a", -100, 100, 0);
        builder.variable("b", -100, 100, 0);
        builder.system().addStateMetaVariable("cost", -1000, 1000, 0);
        pProcess = builder.process("P", {{"P0"}, {"P1"}, {"P2"}, {"P3"}});
        qProcess = builder.process("Q", {{"Q0"}, {"Q1"}, {"Q2"}, {"Q3"}});
        system = builder.finish();
        inUseAtStart = system->statesInUse();
    }

    // A pooled state with the discrete part and exactly these zones.
    SymbolicState* state(const Discrete& d, const std::vector<Box>& boxes) const
    {
        SymbolicState* s = system->acquireState();
        s->setLocation(0, pProcess->getLocation(static_cast<size_t>(d.p)));
        s->setLocation(1, qProcess->getLocation(static_cast<size_t>(d.q)));
        s->getVariables()[0] = d.a;
        s->getVariables()[1] = d.b;
        s->getMetaVariables()[0] = d.cost;
        s->storeMark = 1;
        s->traceIndex = -1;
        s->zone = dbm::fed_t(3);
        for (const Box& b : boxes) {
            // Appended as they are, so that overlapping zones stay apart.
            dbm::fed_t one(boxZone(b));
            s->zone.appendList(one);
        }
        return s;
    }

    // States taken from the pool and not yet returned, since the model was made.
    int64_t statesInUse() const
    {
        return static_cast<int64_t>(system->statesInUse()) - static_cast<int64_t>(inUseAtStart);
    }

    base::RefPtr<System> system;
    Process* pProcess;
    Process* qProcess;

private:
    uint64_t inUseAtStart;
};

// The cost of a state: its meta variable. Installed for the lifetime of the guard.
inline int32_t metaCost(const SymbolicState* s)
{
    return const_cast<SymbolicState*>(s)->getMetaVariables()[0];
}
struct CostFunctionGuard
{
    CostFunctionGuard() { SymbolicState::setCostFunction(&metaCost); }
    ~CostFunctionGuard() { SymbolicState::setCostFunction(nullptr); }
};

using Zones = std::vector<std::vector<dbm::bound_t>>;

inline std::vector<std::vector<dbm::bound_t>> matricesOf(const dbm::fed_t& f)
{
    std::vector<std::vector<dbm::bound_t>> out;
    for (const dbm::zone_t& z : f) {
        out.emplace_back(z.getMatrix(), z.getMatrix() + 9);
    }
    return out;
}

inline std::vector<dbm::bound_t> matrixOf(const Box& b)
{
    const dbm::zone_t z = boxZone(b);
    return std::vector<dbm::bound_t>(z.getMatrix(), z.getMatrix() + 9);
}

// The stage behind a list under test: records what reaches it (discrete part, zones, marks) and
// gives the state back to the pool.
class Collector : public pipeline::Sink<Successor>
{
public:
    struct Seen
    {
        int p;
        int q;
        int32_t a;
        std::vector<std::vector<dbm::bound_t>> zones;
        int32_t storeMark;
    };

    bool put(Successor* item) override
    {
        SymbolicState* s = item->state;
        seen.push_back({s->getLocation(0)->getIndexInProcess(), s->getLocation(1)->getIndexInProcess(),
                        s->getVariables()[0], matricesOf(s->zone), s->storeMark});
        s->release();
        item->state = nullptr;
        return answer;
    }

    std::vector<Seen> seen;
    bool answer = true;
};

// Puts a state into a sink as a successor; returns what put returned.
inline bool putState(pipeline::Sink<Successor>& sink, SymbolicState* state)
{
    Successor successor;
    successor.state = state;
    return sink.put(&successor);
}

}  // namespace storetest
