#include "statespace/trace.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "support/exceptions.h"

namespace {

// The empty transition is interned; the interned tuples belong to whoever runs the queries, here
// the test program, which lets them go at the end.
class InternedTuples : public testing::Environment
{
public:
    void TearDown() override { clearEdgeTuples(); }
};
const testing::Environment* const internedTuples = testing::AddGlobalTestEnvironment(new InternedTuples);

// Distinct transitions for the store, which only keeps and compares their addresses.
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
    Transition operator[](int i) const { return tuples[i]; }
};

// The transitions from the trace's current position to its end.
std::vector<Transition> rest(Trace& trace)
{
    std::vector<Transition> out;
    for (; !trace.atEnd(); trace.next()) {
        out.push_back(trace.current());
    }
    return out;
}

void expectEmpty(Trace& trace, const std::string& what)
{
    if (what != "passed the end") {
        EXPECT_EQ(trace.length(), 0u) << what;
    }
    EXPECT_TRUE(trace.atEnd()) << what;
    EXPECT_EQ(trace.current(), emptyEdgeTuple()) << what << ": the shared empty transition";
}

// Records: 0 root, 1 <- 0 by t1, 2 <- 1 by t2, 3 <- 0 by t3, 4 <- 2 by t4.
class TraceStoreTree : public testing::Test
{
protected:
    void SetUp() override
    {
        EXPECT_EQ(store->put(nullptr, -1), 0);
        EXPECT_EQ(store->put(t[1], 0), 1);
        EXPECT_EQ(store->put(t[2], 1), 2);
        EXPECT_EQ(store->put(t[3], 0), 3);
        EXPECT_EQ(store->put(t[4], 2), 4);
    }

    Transitions t;
    base::RefPtr<MemoryTraceStore> store{new MemoryTraceStore};
};

TEST_F(TraceStoreTree, TracesRunFromTheRootOrAnAncestorDownToARecord)
{
    struct Case
    {
        int from;  // -2: the trace from the root
        int to;
        std::vector<int> expected;
    };
    const Case cases[] = {
        {-2, 4, {1, 2, 4}}, {-2, 3, {3}}, {-2, 1, {1}}, {1, 4, {2, 4}}, {0, 4, {1, 2, 4}}, {2, 4, {4}},
    };
    for (const Case& c : cases) {
        base::RefPtr<Trace> trace = c.from == -2 ? store->createTrace(c.to) : store->createTrace(c.from, c.to);
        std::vector<Transition> expected;
        for (int i : c.expected) {
            expected.push_back(t[i]);
        }
        std::string what = std::to_string(c.from) + " -> " + std::to_string(c.to);
        EXPECT_EQ(trace->length(), expected.size()) << what;
        EXPECT_EQ(rest(*trace), expected) << what;
        trace->next();  // nothing once at the end
        EXPECT_TRUE(trace->atEnd()) << what;
        trace->begin();
        EXPECT_EQ(rest(*trace), expected) << what << " after rewinding";
    }
}

TEST_F(TraceStoreTree, EmptyTraces)
{
    expectEmpty(*store->createTrace(-1), "no record");
    expectEmpty(*store->createTrace(0), "the root");
    expectEmpty(*store->createTrace(3, 3), "from = to");
    expectEmpty(*store->createTrace(0, -1), "to = -1");
    expectEmpty(*store->createTrace(0, -7), "to below -1");
    expectEmpty(*store->createTrace(0, 5), "to past the end");
    expectEmpty(*store->createTrace(9, 4), "from past the end");
}


TEST_F(TraceStoreTree, AFromThatIsNoAncestorOfToIsRefused)
{
    const std::pair<int, int> cases[] = {{3, 4}, {4, 2}, {-1, 4}, {1, 0}, {2, 3}};
    for (auto [from, to] : cases) {
        try {
            store->createTrace(from, to);
            ADD_FAILURE() << from << " -> " << to << " was accepted";
        } catch (const Bug& bug) {
            EXPECT_STREQ(bug.what(), "Invalid arguments in call to MemoryTraceStore::createTrace");
        }
    }
    EXPECT_THROW(store->createTrace(5), Bug) << "no such record";
    EXPECT_THROW(store->createTrace(-3), Bug);
}

TEST_F(TraceStoreTree, PutRefusesAParentThatIsNoEarlierRecord)
{
    EXPECT_THROW(store->put(t[5], 5), Bug) << "itself";
    EXPECT_THROW(store->put(t[5], 9), Bug);
    EXPECT_THROW(store->put(t[5], -2), Bug);
    EXPECT_EQ(store->size(), 5);
}

TEST(MemoryTraceStore, PopRemovesTheLastRecordAcrossBlockBoundaries)
{
    Transitions t;
    base::RefPtr<MemoryTraceStore> store(new MemoryTraceStore);
    int32_t parent = store->put(nullptr, -1);
    // A chain long enough to span several blocks, alternating two transitions.
    for (int i = 1; i < 10000; ++i) {
        parent = store->put(t[i % 2], parent);
        ASSERT_EQ(parent, i);
    }
    EXPECT_EQ(store->createTrace(9999)->length(), 9999u);
    for (int i = 0; i < 5000; ++i) {
        store->pop();
    }
    EXPECT_EQ(store->put(t[7], 4999), 5000);
    base::RefPtr<Trace> trace = store->createTrace(4998, 5000);
    EXPECT_EQ(rest(*trace), (std::vector<Transition>{t[1], t[7]}));
    while (store->size() > 0) {
        store->pop();
    }
    EXPECT_THROW(store->pop(), Bug);
}

TEST(ConcatTraces, AnEmptyPartGivesTheOtherTraceItself)
{
    Transitions t;
    base::RefPtr<MTSTrace> full(new MTSTrace);
    full->pushFront(t[2]);
    full->pushFront(t[1]);
    full->begin();
    base::RefPtr<Trace> empty(new NullTrace);
    base::RefPtr<MTSTrace> emptyQueue(new MTSTrace);

    EXPECT_EQ(concatTraces(empty, full).get(), full.get());
    EXPECT_EQ(concatTraces(full, empty).get(), full.get());
    EXPECT_EQ(concatTraces(full, emptyQueue).get(), full.get());
    EXPECT_EQ(concatTraces(empty, emptyQueue).get(), emptyQueue.get());
}

TEST(ConcatTraces, TwoTracesIterateOneAfterTheOther)
{
    Transitions t;
    base::RefPtr<MTSTrace> first(new MTSTrace), second(new MTSTrace);
    first->pushFront(t[2]);
    first->pushFront(t[1]);
    second->pushFront(t[5]);
    second->pushFront(t[4]);
    second->pushFront(t[3]);
    first->begin();
    second->begin();

    base::RefPtr<Trace> both = concatTraces(first, second);
    EXPECT_EQ(first->getRefCount(), 3) << "as first part and as current part";
    EXPECT_EQ(second->getRefCount(), 2);
    EXPECT_EQ(both->length(), 5u);
    const std::vector<Transition> expected{t[1], t[2], t[3], t[4], t[5]};
    EXPECT_EQ(rest(*both), expected);
    expectEmpty(*both, "passed the end");
    both->next();
    EXPECT_TRUE(both->atEnd());
    both->begin();
    EXPECT_EQ(rest(*both), expected);

    // A concatenation is a trace like any other.
    base::RefPtr<MTSTrace> third(new MTSTrace);
    third->pushFront(t[6]);
    base::RefPtr<Trace> again = concatTraces(both, third);
    again->begin();
    EXPECT_EQ(again->length(), 6u);
    EXPECT_EQ(rest(*again), (std::vector<Transition>{t[1], t[2], t[3], t[4], t[5], t[6]}));

    both.release();
    again.release();
    EXPECT_EQ(first->getRefCount(), 1);
    EXPECT_EQ(second->getRefCount(), 1);
}

}  // namespace
