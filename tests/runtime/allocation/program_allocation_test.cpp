// Every guard, invariant and update of a model runs on the byte-code machine, so a run must take
// nothing from the heap: it works on the Program's stacks and the state's arrays. This program
// replaces the global allocation functions to count heap allocations, which is why it is a
// program of its own.

#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

#include "runtime/bytecode.h"
#include "runtime/concrete_state.h"
#include "runtime/program.h"
#include "runtime/program_expression.h"
#include "runtime/symbolic_state.h"
#include "runtime/system.h"

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

using namespace bytecode;

TEST(MachineAllocation, RunsTakeNothingFromTheHeap)
{
    base::RefPtr<System> system(new System());
    system->addClock("t(0)", false, 0.0);
    system->addClock("x", false, 0.0);
    const auto a = static_cast<int32_t>(system->addStateVariable("a", 0, 100, 0, false)->getIndex());
    const auto arr = static_cast<int32_t>(system->addStateVariable("arr[0]", 0, 100, 0, false)->getIndex());
    system->addStateVariable("arr[1]", 0, 100, 0, false);
    const auto d = static_cast<int32_t>(system->addFPVariable("d", false, 0.0)->getIndex());
    const auto f = static_cast<int32_t>(system->addSystemMetaVariable("f", 0, 1 << 30, 0, false)->getIndex());
    base::RefPtr<Program> program(new Program(system.get()));
    const ZOLT::span_t at(1, 2);

    // A function that sets arr[1] and returns.
    const uint32_t function = program->mark();
    program->emit(at, STORE_I_POP, arr + 1, 5);
    program->emit(at, RETURN);
    system->getVariable(static_cast<uint64_t>(f))->setValue(nullptr, static_cast<int32_t>(function));

    // A guard: a < 5 && x <= 10, and a double comparison.
    uint32_t start = program->mark();
    program->emit(at, LID, a);
    program->emit(at, PUSH, 5);
    program->emit(at, LT);
    program->emit(at, PUSH, 1);
    program->emit(at, PUSH, 0);
    program->emit(at, PUSH, 10);
    program->emit(at, CEXPR, 0);
    program->emit(at, AND);
    program->emit(at, PUSH, d);
    program->emit(at, DOUBLE_LOAD);
    program->emitDouble(at, 2.5);
    program->emit(at, DOUBLE_LT);
    program->emit(at, AND);
    program->emit(at, HALT);
    ExpressionRef guard(program->makeExpression(start, {}, {}));

    // An update: a = (a + 1) % 3; arr[a] = a; a call; d = d * 2.
    start = program->mark();
    program->emit(at, PUSH, a);
    program->emit(at, LID, a);
    program->emit(at, PUSH, 1);
    program->emit(at, PLUS);
    program->emit(at, PUSH, 3);
    program->emit(at, MOD);
    program->emit(at, STORE);
    program->emit(at, POP);
    program->emit(at, PUSH, arr);
    program->emit(at, LID, a);
    program->emit(at, PUSH, 1);
    program->emit(at, MIN);
    program->emit(at, ARRAY, 2, 1);
    program->emit(at, LID, a);
    program->emit(at, STORE);
    program->emit(at, POP);
    program->emit(at, PUSH, f);
    program->emit(at, CALL);
    program->emit(at, PUSH, d);
    program->emit(at, PUSH, d);
    program->emit(at, DOUBLE_LOAD);
    program->emitDouble(at, 2.0);
    program->emit(at, DOUBLE_MUL);
    program->emit(at, DOUBLE_STORE);
    program->emit(at, POP);
    program->emit(at, HALT);
    ExpressionRef update(program->makeExpression(start, {}, {}));

    ConcreteState concrete(system.get());
    SymbolicState symbolic(system.get());
    for (PublicState* state : {static_cast<PublicState*>(&concrete), static_cast<PublicState*>(&symbolic)}) {
        state->getVariables()[0] = 0;
        state->getDoubles()[0] = 1.0;
        guard->evaluate(state);
        update->evaluate(state);
        const long before = allocations;
        for (int i = 0; i < 1000; ++i) {
            guard->evaluate(state);
            update->evaluate(state);
        }
        EXPECT_EQ(allocations, before);
    }
    EXPECT_EQ(concrete.getVariables()[2], 5);
}

}  // namespace
