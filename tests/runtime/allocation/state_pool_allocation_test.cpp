// Exploration takes and returns symbolic states millions of times; once the System's pool is warm
// this costs no heap allocation, and a clone shares its zone until one of the two writes it. This
// program replaces the global allocation functions to count heap allocations, which is why it is
// a program of its own.

#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <vector>

#include "runtime/symbolic_state.h"
#include "runtime/system.h"
#include "testkit/model_builder.h"

namespace {
long allocations = 0;
}  // namespace

// Kept out of line: inlined into a caller, the compiler would see a free() of memory from operator
// new and warn about a mismatch that is not there.

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
// One round of what a successor computation does with states: take a copy, constrain it, compare
// it, drop it.
void round(System& system, SymbolicState* source, Edge* const* transition)
{
    SymbolicState* copy = source->clone();
    const dbm::clock_constraint_t guard{0, 1, dbm::boundLE(-2)};
    copy->constrain(&guard, 1);
    system.applyUpdates(copy, transition);
    copy->delay();
    (void)copy->relation(source);
    SymbolicState* discrete = copy->cloneDiscrete();
    discrete->zone = copy->zone;
    copy->release();
    discrete->release();
}
}  // namespace

TEST(StatePoolAllocation, WarmPoolTakesNothingFromTheHeap)
{
    testkit::TwoProcessModel m = testkit::makeTwoProcessModel();
    SymbolicState* source = m.system->makeInitialState();
    source->delay();
    Edge* const transition[] = {m.receive, nullptr};
    for (int k = 0; k < 4; ++k) {
        round(*m.system, source, transition);
    }

    const long before = allocations;
    for (int k = 0; k < 1000; ++k) {
        round(*m.system, source, transition);
    }
    EXPECT_EQ(allocations - before, 0);
    EXPECT_EQ(m.system->statesInUse(), 1u);
    source->release();
    EXPECT_EQ(m.system->statesInUse(), 0u);
}

TEST(StatePoolAllocation, CloneSharesTheZoneUntilWritten)
{
    testkit::TwoProcessModel m = testkit::makeTwoProcessModel();
    SymbolicState* source = m.system->makeInitialState();
    source->delay();
    SymbolicState* warm = source->clone();
    warm->release();

    const long before = allocations;
    SymbolicState* copy = source->clone();
    EXPECT_EQ(allocations - before, 0);
    EXPECT_EQ(copy->zone.getHeader(), source->zone.getHeader());
    copy->release();
    source->release();
}
