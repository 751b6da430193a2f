#include "statespace/state_order.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <deque>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "support/exceptions.h"

namespace {

// The orders only hand the state to the priority function; these tests let the "state" pointer
// carry its priority.
const SymbolicState* withPriority(intptr_t p)
{
    return reinterpret_cast<const SymbolicState*>(p);
}
int priorityOf(const SymbolicState* state)
{
    return static_cast<int>(reinterpret_cast<intptr_t>(state));
}

std::unique_ptr<StateOrder<char>> makeOrder(int kind)
{
    std::unique_ptr<StateOrder<char>> order;
    switch (kind) {
    case 0: order.reset(new QueueOrder<char>); break;
    case 1: order.reset(new StackOrder<char>); break;
    default: order.reset(new PriorityOrder<char>); break;
    }
    order->setProperty(PROPERTY_PRIORITYFUNCTION, pipeline::stateFunctionValue(priorityOf));
    return order;
}

std::string drain(StateOrder<char>& order)
{
    std::string out;
    char entry;
    while (order.get(entry)) {
        out += entry;
    }
    return out;
}

TEST(StateOrder, EachKindHandsOutItsOrder)
{
    struct Case
    {
        const char* name;
        int kind;
        std::vector<int> priorities;  // of a, b, c, ...
        std::string expected;
    };
    const Case cases[] = {
        {"queue", 0, {0, 0, 0}, "abc"},
        {"stack", 1, {0, 0, 0}, "cba"},
        {"priority: smallest first, newest among equals", 2, {5, 3, 5, 3}, "dbca"},
        {"priority: negative before positive", 2, {1, -7, 0, -7, 2}, "dbcae"},
    };
    for (const Case& c : cases) {
        auto order = makeOrder(c.kind);
        for (std::size_t i = 0; i < c.priorities.size(); ++i) {
            order->put(withPriority(c.priorities[i]), static_cast<char>('a' + i));
        }
        EXPECT_EQ(order->size(), c.priorities.size()) << c.name;
        EXPECT_EQ(drain(*order), c.expected) << c.name;

        // Empty: get fails and leaves out alone.
        char out = '?';
        EXPECT_FALSE(order->get(out)) << c.name;
        EXPECT_EQ(out, '?') << c.name;
        EXPECT_EQ(order->size(), 0u) << c.name;
    }
}

TEST(StateOrder, CreateMakesAnEmptyOrderOfTheSameKind)
{
    for (int kind = 0; kind < 3; ++kind) {
        auto order = makeOrder(kind);
        order->put(withPriority(2), 'x');
        std::unique_ptr<StateOrder<char>> made(order->create());
        EXPECT_EQ(made->size(), 0u);
        EXPECT_EQ(order->size(), 1u);
        if (kind == 2) {
            // No priority function until the owner forwards one; a look-alike key is not one.
            EXPECT_THROW(made->put(withPriority(1), 'a'), Bug);
            const std::string sameText = PROPERTY_PRIORITYFUNCTION;
            made->setProperty(sameText.c_str(), pipeline::stateFunctionValue(priorityOf));
            EXPECT_THROW(made->put(withPriority(1), 'a'), Bug);
            made->setProperty(PROPERTY_PRIORITYFUNCTION, pipeline::stateFunctionValue(priorityOf));
        }
        made->put(withPriority(3), 'a');
        made->put(withPriority(1), 'b');
        EXPECT_EQ(drain(*made), kind == 0 ? "ab" : "ba") << kind;
    }
}

// Interleaved puts and gets against a plain model of each order, long enough for the containers to
// grow and wrap around several times.
TEST(StateOrder, InterleavedUseAgreesWithAPlainModel)
{
    const unsigned seed = std::getenv("MIRVEK_TEST_SEED") ? std::atoi(std::getenv("MIRVEK_TEST_SEED")) : 2024;
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    for (int kind = 0; kind < 3; ++kind) {
        auto order = makeOrder(kind);
        std::deque<char> plain;                   // queue and stack model
        std::map<int, std::vector<char>> buckets;  // priority model: one stack per priority
        uint64_t size = 0;
        for (int step = 0; step < 20000; ++step) {
            // Phases that mostly grow and phases that mostly shrink.
            bool growing = (step / 700) % 2 == 0;
            if (random() % 10 < (growing ? 7u : 3u)) {
                char entry = static_cast<char>('A' + random() % 50);
                int p = static_cast<int>(random() % 7) - 3;
                order->put(withPriority(p), entry);
                plain.push_back(entry);
                buckets[p].push_back(entry);
                ++size;
            } else {
                char got = 0;
                bool present = order->get(got);
                ASSERT_EQ(present, size > 0) << "kind " << kind << " step " << step;
                if (!present) {
                    continue;
                }
                char expected;
                if (kind == 0) {
                    expected = plain.front();
                    plain.pop_front();
                } else if (kind == 1) {
                    expected = plain.back();
                    plain.pop_back();
                } else {
                    auto first = buckets.begin();
                    expected = first->second.back();
                    first->second.pop_back();
                    if (first->second.empty()) {
                        buckets.erase(first);
                    }
                }
                --size;
                ASSERT_EQ(got, expected) << "kind " << kind << " step " << step;
            }
            ASSERT_EQ(order->size(), size);
        }
    }
}

}  // namespace
