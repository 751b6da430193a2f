// The byte-code machine in its inner loop: a guard-like program (variable tests, a clock
// comparison) and an update-like program (an increment, an array element store) evaluated as
// program expressions, on a concrete and on a symbolic state.

#include <benchmark/benchmark.h>

#include <memory>

#include "runtime/bytecode.h"
#include "runtime/concrete_state.h"
#include "runtime/program.h"
#include "runtime/program_expression.h"
#include "runtime/symbolic_state.h"
#include "runtime/system.h"

namespace {

using namespace bytecode;

struct Model
{
    base::RefPtr<System> system{new System()};
    base::RefPtr<Program> program{new Program(system.get())};
    int32_t a, b, c, i, arr;
    ExpressionRef guard;
    ExpressionRef update;

    Model()
    {
        system->addClock("t(0)", false, 0.0);
        system->addClock("x", false, 0.0);
        a = index(system->addStateVariable("a", 0, 100, 3, false));
        b = index(system->addStateVariable("b", 0, 100, 7, false));
        c = index(system->addStateVariable("c", 0, 100, 7, false));
        i = index(system->addStateVariable("i", 0, 3, 2, false));
        arr = index(system->addStateVariable("arr[0]", -1000000, 1000000, 0, false));
        for (int k = 1; k < 4; ++k) {
            system->addStateVariable("arr[" + std::to_string(k) + "]", -1000000, 1000000, 0, false);
        }

        const ZOLT::span_t at(1, 2);
        // a < 5 && b == c && x <= 10
        uint32_t start = program->mark();
        program->emit(at, LID, a);
        program->emit(at, PUSH, 5);
        program->emit(at, LT);
        program->emit(at, LID, b);
        program->emit(at, LID, c);
        program->emit(at, EQ);
        program->emit(at, AND);
        program->emit(at, PUSH, 1);
        program->emit(at, PUSH, 0);
        program->emit(at, PUSH, 10);
        program->emit(at, CEXPR, 0);
        program->emit(at, AND);
        program->emit(at, HALT);
        guard = program->makeExpression(start, {}, {});

        // a = a + 1 - 1; arr[i] = arr[i] + b
        start = program->mark();
        program->emit(at, PUSH, a);
        program->emit(at, LID, a);
        program->emit(at, PUSH, 1);
        program->emit(at, PLUS);
        program->emit(at, PUSH, 1);
        program->emit(at, MINUS);
        program->emit(at, STORE);
        program->emit(at, POP);
        program->emit(at, PUSH, arr);
        program->emit(at, LID, i);
        program->emit(at, ARRAY, 4, 1);
        program->emit(at, COPY);
        program->emit(at, LOAD);
        program->emit(at, LID, b);
        program->emit(at, PLUS);
        program->emit(at, STORE);
        program->emit(at, POP);
        program->emit(at, PUSH, arr);
        program->emit(at, LID, i);
        program->emit(at, ARRAY, 4, 1);
        program->emit(at, PUSH, 0);
        program->emit(at, STORE);
        program->emit(at, POP);
        program->emit(at, HALT);
        update = program->makeExpression(start, {}, {});
    }

    static int32_t index(Variable* variable) { return static_cast<int32_t>(variable->getIndex()); }

    template <class State>
    void initialise(State& state)
    {
        int32_t* values = state.getVariables();
        values[0] = 3;
        values[1] = 7;
        values[2] = 7;
        values[3] = 2;
    }
};

void run(benchmark::State& bench, PublicState& state, Expression& expression)
{
    for (auto _ : bench) {
        benchmark::DoNotOptimize(expression.evaluate(&state));
    }
    bench.SetItemsProcessed(bench.iterations());
}

void BM_GuardConcrete(benchmark::State& bench)
{
    Model model;
    ConcreteState state(model.system.get());
    model.initialise(state);
    state.setClockValue(1, 4.0);
    run(bench, state, *model.guard);
}
BENCHMARK(BM_GuardConcrete);

void BM_GuardSymbolic(benchmark::State& bench)
{
    Model model;
    SymbolicState state(model.system.get());
    model.initialise(state);
    run(bench, state, *model.guard);
}
BENCHMARK(BM_GuardSymbolic);

void BM_UpdateConcrete(benchmark::State& bench)
{
    Model model;
    ConcreteState state(model.system.get());
    model.initialise(state);
    run(bench, state, *model.update);
}
BENCHMARK(BM_UpdateConcrete);

}  // namespace

BENCHMARK_MAIN();
