#include "statespace/trace_store_filter.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "pipeline/filter_configuration.h"
#include "pipeline/keys.h"
#include "runtime/symbolic_state.h"
#include "runtime/system.h"

namespace {

// Distinct transitions; the store only keeps their addresses.
struct Transitions
{
    static constexpr int count = 8;
    int dummies[count] = {};
    Edge* tuples[count][2];
    Transitions()
    {
        for (int i = 0; i < count; ++i) {
            tuples[i][0] = reinterpret_cast<Edge*>(&dummies[i]);
            tuples[i][1] = nullptr;
        }
    }
    EdgeTuple operator[](int i) const { return tuples[i]; }
};

std::vector<EdgeTuple> transitionsOf(Trace& trace)
{
    std::vector<EdgeTuple> out;
    for (trace.begin(); !trace.atEnd(); trace.next()) {
        out.push_back(trace.current());
    }
    return out;
}

class Recording : public testing::Test
{
protected:
    void SetUp() override
    {
        filter.setProperty(PROPERTY_TRACESTORE, store.get());
        root = system->acquireState();
        root->traceIndex = store->put(nullptr, -1);
    }
    void TearDown() override
    {
        root->release();
        EXPECT_EQ(system->statesInUse(), 0u) << "a state was not returned to the pool";
    }

    base::RefPtr<System> system{new System};
    base::RefPtr<MemoryTraceStore> store{new MemoryTraceStore};
    TraceStoreFilter filter;
    SymbolicState* root = nullptr;
    Transitions t;
};

// Accepts successors and expands the accepted ones at once, depth first, through the filter:
// successor k of a state is reached by transition k. Successors whose path is listed in
// `refused` are refused (their states given back).
class DepthFirst : public pipeline::Sink<Successor>
{
public:
    DepthFirst(pipeline::Sink<Successor>* filter, const Transitions& t, int branching, int depth)
        : filter(filter), t(t), branching(branching), depth(depth)
    {}
    ~DepthFirst() override
    {
        for (auto& [state, path] : kept) {
            state->release();
        }
    }

    bool put(Successor* item) override
    {
        std::vector<EdgeTuple> path = current;
        path.push_back(item->transition);
        if (refused.count(name(path)) != 0) {
            item->state->release();
            return false;
        }
        kept[item->state] = path;
        if (static_cast<int>(path.size()) < depth) {
            expand(item->state, path);
        }
        return true;
    }

    void expand(SymbolicState* source, const std::vector<EdgeTuple>& path)
    {
        std::vector<EdgeTuple> saved = current;
        current = path;
        for (int k = 0; k < branching; ++k) {
            Successor successor;
            successor.state = source->clone();
            successor.transition = t[k];
            filter->put(&successor);
        }
        current = saved;
    }

    std::string name(const std::vector<EdgeTuple>& path) const
    {
        std::string out;
        for (EdgeTuple transition : path) {
            for (int k = 0; k < Transitions::count; ++k) {
                if (t[k] == transition) {
                    out += static_cast<char>('0' + k);
                }
            }
        }
        return out;
    }

    std::set<std::string> refused;
    std::map<SymbolicState*, std::vector<EdgeTuple>> kept;

private:
    pipeline::Sink<Successor>* filter;
    const Transitions& t;
    int branching;
    int depth;
    std::vector<EdgeTuple> current;
};

TEST_F(Recording, EveryAcceptedSuccessorKeepsARecordOfItsPath)
{
    DepthFirst search(&filter, t, 3, 3);
    search.refused = {"1", "02", "001", "222", "220"};
    filter.connect(&search);
    search.expand(root, {});

    // 3 + 9 + 27 successors, less the refused ones with what lies below them: 1 + 3 + 9 for
    // "1", 1 + 3 for "02" and one each for "001", "222" and "220".
    EXPECT_EQ(search.kept.size(), 39u - 13 - 4 - 3);
    EXPECT_EQ(store->size(), static_cast<int32_t>(search.kept.size()) + 1) << "one record per accepted successor";
    for (auto& [state, path] : search.kept) {
        base::RefPtr<Trace> trace = store->createTrace(state->traceIndex);
        EXPECT_EQ(transitionsOf(*trace), path) << search.name(path);
    }
}

TEST_F(Recording, ARefusedSuccessorLeavesTheStoreAsItWas)
{
    DepthFirst search(&filter, t, 1, 1);
    search.refused = {"0"};
    filter.connect(&search);
    SymbolicState* child = root->clone();
    Successor successor{child, t[0], nullptr};
    EXPECT_FALSE(filter.put(&successor));
    EXPECT_EQ(store->size(), 1);
    EXPECT_EQ(store->put(t[1], 0), 1) << "the next record takes the index again";
}

TEST_F(Recording, WithoutAStoreOrADownstreamStage)
{
    DepthFirst search(&filter, t, 1, 1);
    filter.connect(&search);

    // A look-alike key is no key; a null store lets go of the store.
    const std::string sameText = "verifier:TRACESTORE";
    filter.setProperty(sameText.c_str(), nullptr);
    EXPECT_EQ(store->getRefCount(), 2);
    filter.setProperty(PROPERTY_TRACESTORE, store.get());
    EXPECT_EQ(store->getRefCount(), 2) << "sending the same store again is harmless";
    filter.setProperty(PROPERTY_TRACESTORE, nullptr);
    EXPECT_EQ(store->getRefCount(), 1);

    SymbolicState* child = root->clone();
    Successor successor{child, t[0], nullptr};
    EXPECT_TRUE(filter.put(&successor)) << "passed on unrecorded";
    EXPECT_EQ(child->traceIndex, root->traceIndex);
    EXPECT_EQ(store->size(), 1);

    // Without a downstream stage the successor is dropped, and so is its record.
    TraceStoreFilter alone;
    alone.setProperty(PROPERTY_TRACESTORE, store.get());
    Successor dropped{root->clone(), t[1], nullptr};
    EXPECT_FALSE(alone.put(&dropped));
    EXPECT_EQ(store->size(), 1);
}

TEST(TraceStoreFilterRegistration, TheRegistryMakesTheStageByItsName)
{
    clearBuiltinFilters();
    registerStatespaceFilters();
    base::RefPtr<FilterConfiguration> registry(new FilterConfiguration);
    auto* stage = registry->getAs<TraceStoreFilter>(FILTER_TRACESTORE);
    EXPECT_NE(stage, nullptr);
    delete stage;
    clearBuiltinFilters();
}

}  // namespace
