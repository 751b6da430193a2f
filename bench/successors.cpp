// Successor computation on a compiled model: every state of a sample of reachable states of
// Fischer's mutual exclusion protocol is expanded through the chain of the reachability search
// (transitions, lazy copies, successors, delay, extrapolation) into a sink that gives the states
// back to the pool. Heap allocations are counted through replaced global allocation functions;
// in steady state there are none.

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <deque>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "compiler/compiler.h"
#include "language/system.h"
#include "pipeline/delay_filter.h"
#include "pipeline/exploration_filters.h"
#include "pipeline/extrapolation_filter.h"
#include "pipeline/keys.h"
#include "pipeline/successor_filter.h"
#include "pipeline/transition_filter.h"
#include "runtime/channels.h"
#include "runtime/extrapolation_info.h"
#include "runtime/symbolic_state.h"
#include "runtime/system.h"
#include "typecheck/checked_reading.h"

namespace {
long allocations = 0;
}  // namespace

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

std::string fischer(int processes)
{
    return "const int N = " + std::to_string(processes) + R"(;
typedef int[1,N] id_t;
const int k = 2;
int[0,N] id;

process P(const id_t pid) {
    clock x;
    state A, req { x <= k }, wait, cs;
    init A;
    trans
        A -> req { guard id == 0; assign x = 0; },
        req -> wait { assign x = 0, id = pid; },
        wait -> req { guard id == 0; assign x = 0; },
        wait -> cs { guard x > k && id == pid; },
        cs -> A { assign id = 0; };
}

system P;
)";
}

// Keeps every state it receives (when collecting) or gives it straight back to the pool.
class Sink : public pipeline::Sink<Successor>
{
public:
    bool put(Successor* item) override
    {
        ++successors;
        if (keep != nullptr) {
            keep->push_back(item->state);
        } else {
            item->state->release();
        }
        return true;
    }

    std::vector<SymbolicState*>* keep = nullptr;
    long successors = 0;
};

struct Setup
{
    explicit Setup(int processes)
    {
        clearChannels();
        clearCompilerDumpBuffers();
        model = std::make_unique<ZOLT::TimedAutomataSystem>();
        if (!ZOLT::readCheckedTextModelBuffer(fischer(processes).c_str(), model.get(), true)) {
            std::abort();
        }
        compiler = new Compiler(model.get());
        system = compiler->compileSystem();
        system->propagateLocationBounds();
        system->checkHybridClocks();

        for (pipeline::Connectable* stage : std::initializer_list<pipeline::Connectable*>{
                 &transitions, &copies, &successor, &delay, &extrapolation}) {
            stage->setProperty(PROPERTY_SYSTEM, system.get());
            stage->setProperty(PROPERTY_EXPRESSION_INFO, &query);
        }
        transitions.connect(&copies);
        copies.connect(&successor);
        successor.connect(&delay);
        delay.connect(&extrapolation);
        extrapolation.connect(&sink);
        for (pipeline::Connectable* stage : std::initializer_list<pipeline::Connectable*>{
                 &transitions, &copies, &successor, &delay, &extrapolation}) {
            stage->begin();
        }

        // A sample of reachable states, breadth first without merging.
        std::vector<SymbolicState*> frontier;
        SymbolicState* initial = system->makeInitialState();
        initial->delay();
        frontier.push_back(initial);
        while (sample.size() < 400 && !frontier.empty()) {
            std::vector<SymbolicState*> next;
            sink.keep = &next;
            for (SymbolicState* state : frontier) {
                sample.push_back(state->clone());
                transitions.put(state);
            }
            frontier.swap(next);
        }
        sink.keep = nullptr;
        for (SymbolicState* state : frontier) {
            state->release();
        }
    }

    ~Setup()
    {
        for (SymbolicState* state : sample) {
            state->release();
        }
        system.release();
        compiler.release();
        model.reset();
    }

    std::unique_ptr<ZOLT::TimedAutomataSystem> model;
    base::RefPtr<Compiler> compiler;
    base::RefPtr<System> system;
    ExtrapolationInfo query;
    TransitionFilter transitions;
    LazyCopyFilter copies;
    SuccessorFilter successor;
    DelayFilter delay;
    ExtrapolationFilter extrapolation;
    Sink sink;
    std::vector<SymbolicState*> sample;
};

void expandSample(benchmark::State& run)
{
    Setup setup(static_cast<int>(run.range(0)));
    auto expandAll = [&] {
        for (SymbolicState* state : setup.sample) {
            setup.transitions.put(state->clone());
        }
    };
    expandAll();  // warms the pools and the intern table
    setup.sink.successors = 0;
    const long before = allocations;
    for (auto _ : run) {
        expandAll();
    }
    const double successors = static_cast<double>(setup.sink.successors);
    run.counters["states"] = static_cast<double>(setup.sample.size());
    run.counters["successors"] = benchmark::Counter(successors, benchmark::Counter::kIsRate);
    run.counters["allocs/successor"] = successors > 0 ? static_cast<double>(allocations - before) / successors : 0.0;
}

}  // namespace

BENCHMARK(expandSample)->Arg(3)->Arg(5)->Arg(7)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
