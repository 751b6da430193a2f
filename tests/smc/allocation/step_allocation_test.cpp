// Once a run is under way, its steps take nothing from the heap: the delay and transition steps
// work on the run's one state with scratch they keep between steps. This program replaces the
// global allocation functions to count heap allocations, which is why it is a program of its own.

#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

#include "pipeline/keys.h"
#include "smc/checker_frame.h"
#include "smc/concrete_delay.h"
#include "smc/concrete_trans.h"
#include "smc_fixture.h"

namespace {
long allocations = 0;
}  // namespace

// Kept out of line: inlined into a caller, the compiler would see a free() of memory from
// operator new and warn about a mismatch that is not there.
[[gnu::noinline]] void* operator new(std::size_t size)
{
    ++allocations;
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
[[gnu::noinline]] void* operator new[](std::size_t size)
{
    return operator new(size);
}
[[gnu::noinline]] void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    ++allocations;
    return std::malloc(size == 0 ? 1 : size);
}
[[gnu::noinline]] void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept
{
    return operator new(size, tag);
}
[[gnu::noinline]] void operator delete(void* p) noexcept
{
    std::free(p);
}
[[gnu::noinline]] void operator delete[](void* p) noexcept
{
    std::free(p);
}
[[gnu::noinline]] void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}
[[gnu::noinline]] void operator delete[](void* p, std::size_t) noexcept
{
    std::free(p);
}

namespace {

// Counts the states that reach the end of the chain.
struct Counter : pipeline::Sink<ConcreteState>
{
    bool put(ConcreteState*) override
    {
        ++states;
        return true;
    }
    long states = 0;
};

TEST(StepAllocation, WarmStepsTakeNothingFromTheHeap)
{
    auto model = smctest::compile(
        "broadcast chan c; int n;\n"
        "process P() { clock y; state A { y <= 5 }, B { y <= 3 }; branch bp; init A;\n"
        "  trans A -> bp { guard y >= 1; sync c!; assign y = 0; },\n"
        "        bp -> B [ 1 ], bp -> A [ 2 ],\n"
        "        B -> A { guard y >= 2; assign y = 0, n = (n + 1) % 7; }; }\n"
        "process Q() { state A, B; init A; trans A -> B { sync c?; }, B -> A { sync c?; }; }\n"
        "system P, Q;");
    model->system->addTimeClock();
    bool aborted = false;
    bool deadlocked = false;
    int64_t steps = 0;
    ConcreteDelay delay(false);
    ConcreteTrans trans;
    Counter counter;
    for (pipeline::Connectable* stage : {static_cast<pipeline::Connectable*>(&delay),
                                         static_cast<pipeline::Connectable*>(&trans)}) {
        stage->setProperty(PROPERTY_SYSTEM, model->system.get());
    }
    delay.aborted = &aborted;
    delay.deadlocked = &deadlocked;
    trans.aborted = &aborted;
    trans.stepCount = &steps;
    trans.kept = &delay.getKept();
    delay.connect(&trans);
    trans.connect(&counter);
    trans.begin();
    auto state = model->initial();

    for (int k = 0; k < 500; ++k) {
        ASSERT_TRUE(delay.put(state.get()));
    }
    const long before = allocations;
    for (int k = 0; k < 5000; ++k) {
        ASSERT_TRUE(delay.put(state.get()));
    }
    EXPECT_EQ(allocations - before, 0);
    EXPECT_FALSE(aborted);
    EXPECT_FALSE(deadlocked);
    EXPECT_GT(steps, 1000);
    EXPECT_EQ(counter.states, 5500);
}

}  // namespace
