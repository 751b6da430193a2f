// Computing successors is the hot path of every symbolic check: once the pools, the intern table
// and the stages' buffers are warm, expanding a state through the chain takes nothing from the
// heap. This program replaces the global allocation functions to count heap allocations, which is
// why it is a program of its own.

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "compiler/compiler.h"
#include "language/system.h"
#include "pipeline/broadcast_filter.h"
#include "pipeline/delay_filter.h"
#include "pipeline/exploration_filters.h"
#include "pipeline/extrapolation_filter.h"
#include "pipeline/keys.h"
#include "pipeline/priority_filter.h"
#include "pipeline/successor_filter.h"
#include "pipeline/symmetry_filter.h"
#include "pipeline/transition_filter.h"
#include "runtime/channels.h"
#include "runtime/symbolic_state.h"
#include "runtime/system.h"
#include "typecheck/checked_reading.h"

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

// Fischer's protocol for three processes, with a broadcast that everyone answers, a scalar set
// for the symmetry stage and a committed location.
const char* const model = R"(
typedef scalar[3] id_t;
const int k = 2;
id_t id;
bool taken;
broadcast chan go;

process P(const id_t pid) {
    clock x;
    state A, req { x <= k }, wait, cs, C;
    commit C;
    init A;
    trans
        A -> req { guard !taken; assign x = 0; },
        req -> wait { assign x = 0, id = pid, taken = true; },
        wait -> req { guard !taken; assign x = 0; },
        wait -> cs { guard x > k && taken && id == pid; },
        cs -> C { sync go!; },
        C -> A { assign taken = false; },
        A -> A { sync go?; };
}

system P;
)";

// Compiled models are kept until the process ends, as the verifier keeps its compiled system: a
// compiled System is not freed when its last handle goes (its byte-code expressions and their
// program refer to each other), and kept here it is not taken for a leak.
struct Kept
{
    std::unique_ptr<ZOLT::TimedAutomataSystem> model;
    base::RefPtr<Compiler> compiler;
    base::RefPtr<System> system;
};
Kept& compileKept(const char* text)
{
    static auto* kept = new std::vector<Kept*>;
    clearChannels();
    clearCompilerDumpBuffers();
    auto* compiled = new Kept;
    kept->push_back(compiled);
    compiled->model = std::make_unique<ZOLT::TimedAutomataSystem>();
    ZOLT::readCheckedTextModelBuffer(text, compiled->model.get(), true);
    for (const ZOLT::diagnostic_t& d : compiled->model->getErrors()) {
        ADD_FAILURE() << "model error: " << d.message << " (line " << d.start.line << ")";
    }
    if (compiled->model->getErrors().empty()) {
        compiled->compiler = new Compiler(compiled->model.get());
        compiled->system = compiled->compiler->compileSystem();
        compiled->system->propagateLocationBounds();
        compiled->system->checkHybridClocks();
    }
    return *compiled;
}

class Release : public pipeline::Sink<Successor>
{
public:
    bool put(Successor* item) override
    {
        if (item != nullptr) {
            ++successors;
            item->state->release();
        }
        return true;
    }
    long successors = 0;
};

TEST(SteadyState, ExpandingStatesTakesNothingFromTheHeap)
{
    Kept& compiled = compileKept(model);
    ASSERT_TRUE(compiled.system);
    System* system = compiled.system.get();
    Compiler* compiler = compiled.compiler.get();
    ExtrapolationInfo query;

    TransitionFilter transitions;
    LazyCopyFilter copies;
    SuccessorFilter successor;
    DelayFilter delay;
    SymmetryFilter symmetry;
    ExtrapolationFilter extrapolation;
    Release sink;
    std::vector<pipeline::Connectable*> stages = {&transitions, &copies, &successor, &delay, &symmetry,
                                                 &extrapolation};
    for (pipeline::Connectable* stage : stages) {
        stage->setProperty(PROPERTY_SYSTEM, system);
        stage->setProperty(PROPERTY_EXPRESSION_INFO, &query);
        stage->setProperty(PROPERTY_SCALARSET_INFO, compiler->getScalarsetInfo());
    }
    transitions.connect(&copies);
    copies.connect(&successor);
    successor.connect(&delay);
    delay.connect(&symmetry);
    symmetry.connect(&extrapolation);
    extrapolation.connect(&sink);
    for (pipeline::Connectable* stage : stages) {
        stage->begin();
    }

    // Some reachable states: every process one step further each round.
    std::vector<SymbolicState*> sample;
    SymbolicState* state = system->makeInitialState();
    state->delay();
    sample.push_back(state);
    Location* wait = system->getProcess(0)->getLocation(2);
    Location* cs = system->getProcess(0)->getLocation(3);
    for (int round = 0; round < 3; ++round) {
        SymbolicState* next = sample.back()->clone();
        next->setLocation(static_cast<uint32_t>(round), round == 0 ? cs : wait);
        sample.push_back(next);
    }

    auto expandAll = [&] {
        for (SymbolicState* s : sample) {
            transitions.put(s->clone());
        }
    };
    expandAll();
    expandAll();
    const long before = allocations;
    expandAll();
    EXPECT_EQ(allocations - before, 0) << "heap allocations while expanding " << sample.size() << " states";
    EXPECT_GT(sink.successors, 0);

    for (SymbolicState* s : sample) {
        s->release();
    }
    EXPECT_EQ(system->statesInUse(), 0u);
    clearEdgeTuples();
}

// Priorities decided by clock guards, and broadcast receivers with clock guards: the conditions
// that travel with the successors are made once and reused.
const char* const guarded = R"(
broadcast chan go;
chan a;
chan priority a < default;

process S() {
    clock x;
    state A { x <= 5 }, B;
    init A;
    trans
        A -> B { guard x >= 2; sync go!; },
        A -> B { guard x >= 1; sync a!; },
        B -> A { guard x >= 3; assign x = 0; };
}
process R() {
    clock y;
    state A, B;
    init A;
    trans
        A -> B { guard y >= 1; sync go?; },
        A -> A { guard y >= 4; sync go?; },
        A -> B { sync a?; },
        B -> A { guard y >= 2; assign y = 0; };
}

process T() {
    clock z;
    state A, B;
    init A;
    trans
        A -> B { guard z >= 3; sync go?; },
        B -> A { assign z = 0; };
}

system S, R, T;
)";

TEST(SteadyState, PrioritiesAndGuardedBroadcastsTakeNothingFromTheHeap)
{
    Kept& compiled = compileKept(guarded);
    ASSERT_TRUE(compiled.system);
    System* system = compiled.system.get();
    ASSERT_TRUE(system->broadcastClockGuards);
    ExtrapolationInfo query;

    for (bool fullOrder : {false, true}) {
        system->priorityOrderTotal = fullOrder;
        TransitionFilter transitions;
        PriorityFilter priorities;
        SuccessorFilterBroadcast successor;
        DelayFilter delay;
        ExtrapolationFilter extrapolation;
        Release sink;
        std::vector<pipeline::Connectable*> stages = {&transitions, &priorities, &successor, &delay, &extrapolation};
        for (pipeline::Connectable* stage : stages) {
            stage->setProperty(PROPERTY_SYSTEM, system);
            stage->setProperty(PROPERTY_EXPRESSION_INFO, &query);
        }
        transitions.connect(&priorities);
        priorities.connect(&successor);
        successor.connect(&delay);
        delay.connect(&extrapolation);
        extrapolation.connect(&sink);
        for (pipeline::Connectable* stage : stages) {
            stage->begin();
        }
        SymbolicState* state = system->makeInitialState();
        state->delay();
        auto expand = [&] { transitions.put(state->clone()); };
        expand();
        expand();
        const long before = allocations;
        expand();
        EXPECT_EQ(allocations - before, 0) << (fullOrder ? "full order" : "pairwise");
        EXPECT_GT(sink.successors, 0);
        state->release();
    }
    EXPECT_EQ(system->statesInUse(), 0u);
    clearEdgeTuples();
}

}  // namespace
