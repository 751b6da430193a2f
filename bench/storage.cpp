// Memory per stored state and time per lookup of the constraint-system store, for states of a
// realistic shape: 4 processes of 10 locations, 6 clocks, 5 small integer variables and one meta
// variable, with about ten zones per discrete part (zones reached by delays, invariants and
// resets). Both representations: verbatim discrete parts with full 16-bit matrices (Copy) and
// compressed vectors with minimal constraint graphs (Compact).
//
// Counters: allocations_per_state and allocations_per_lookup (calls of the global operator new,
// which this program counts: pooled blocks and occasional table growth only), bytes_per_state (all memory of the store: pooled blocks in use and the bucket arrays
// of the three tables, divided by the stored zones), zone_words (encoded words per stored zone),
// and the time per iteration of the lookup benchmarks is the time of one lookup.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <memory>
#include <random>
#include <string>
#include <unordered_set>
#include <vector>

#include "dbm/dbm.h"
#include "dbm/encoded.h"
#include "runtime/symbolic_state.h"
#include "runtime/system.h"
#include "statespace/css.h"
#include "support/pool.h"
#include "testkit/model_builder.h"

namespace {
uint64_t allocationCount = 0;
}

// Kept out of line: inlined into a caller, the compiler would see a free() of memory from
// operator new and warn about a mismatch that is not there. The array forms call these.
[[gnu::noinline]] void* operator new(std::size_t size)
{
    ++allocationCount;
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}
[[gnu::noinline]] void operator delete(void* p) noexcept
{
    std::free(p);
}
[[gnu::noinline]] void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}

namespace {

constexpr int processCount = 4;
constexpr int locationsPerProcess = 10;
constexpr uint32_t clockCount = 6;
constexpr uint32_t dim = clockCount + 1;
constexpr int integerCount = 5;
constexpr int discreteParts = 30000;
constexpr int zonesPerPart = 10;
constexpr int storedStates = discreteParts * zonesPerPart;  // 300000
constexpr int probeCount = 8192;

struct StateShape
{
    int32_t locations[processCount];
    int32_t integers[integerCount];
    int32_t meta;
    std::vector<dbm::bound_t> zone;
};

// A zone as exploration reaches it: from the origin, a few rounds of delay, an invariant on one
// clock and a reset of another.
std::vector<dbm::bound_t> reachedZone(std::mt19937& rng)
{
    std::vector<dbm::bound_t> m(dim * dim, dbm::BOUND_LE_ZERO);
    std::uniform_int_distribution<uint32_t> clock(1, clockCount);
    std::uniform_int_distribution<int32_t> constant(1, 20);
    const int rounds = 2 + static_cast<int>(rng() % 5);
    for (int r = 0; r < rounds; ++r) {
        dbm::up(m.data(), dim);
        std::vector<dbm::bound_t> next = m;
        if (dbm::constrain(next.data(), dim, clock(rng), 0, dbm::boundLE(constant(rng)))) {
            m = next;
        }
        dbm::updateValue(m.data(), dim, clock(rng), 0);
    }
    if (rng() % 2 == 0) {
        dbm::up(m.data(), dim);
    }
    return m;
}

// The states to store, and the same number of other states for lookups that miss.
struct Workload
{
    std::vector<StateShape> stored;
    std::vector<StateShape> absent;

    Workload()
    {
        std::mt19937 rng(20261210);
        for (int which = 0; which < 2; ++which) {
            std::vector<StateShape>& out = which == 0 ? stored : absent;
            out.reserve(storedStates);
            for (int d = 0; d < discreteParts; ++d) {
                StateShape shape;
                for (int p = 0; p < processCount; ++p) {
                    shape.locations[p] = static_cast<int32_t>(rng() % locationsPerProcess);
                }
                for (int v = 0; v < integerCount; ++v) {
                    shape.integers[v] = static_cast<int32_t>(rng() % 8);
                }
                // Absent states: a value no stored state has.
                if (which == 1) {
                    shape.integers[0] = 8 + static_cast<int32_t>(rng() % 8);
                }
                shape.meta = static_cast<int32_t>(rng() % 4);
                for (int z = 0; z < zonesPerPart; ++z) {
                    shape.zone = reachedZone(rng);
                    out.push_back(shape);
                }
            }
        }
    }
};

const Workload& workload()
{
    static const Workload w;
    return w;
}

struct Model
{
    base::RefPtr<System> system;
    std::vector<Process*> processes;

    Model()
    {
        testkit::ModelBuilder builder;
        for (uint32_t c = 1; c <= clockCount; ++c) {
            builder.clock("x" + std::to_string(c));
        }
        for (int v = 0; v < integerCount; ++v) {
            builder.variable("v" + std::to_string(v), 0, 15, 0);
        }
        builder.system().addStateMetaVariable("m", 0, 3, 0);
        for (int p = 0; p < processCount; ++p) {
            std::vector<testkit::LocationSpec> locations;
            for (int l = 0; l < locationsPerProcess; ++l) {
                locations.push_back({"L" + std::to_string(l)});
            }
            processes.push_back(builder.process("P" + std::to_string(p), locations));
        }
        system = builder.finish();
    }

    void write(const StateShape& shape, SymbolicState* s) const
    {
        for (int p = 0; p < processCount; ++p) {
            s->setLocation(static_cast<uint32_t>(p), processes[p]->getLocation(static_cast<size_t>(shape.locations[p])));
        }
        for (int v = 0; v < integerCount; ++v) {
            s->getVariables()[v] = shape.integers[v];
        }
        s->getMetaVariables()[0] = shape.meta;
        s->zone.assignMatrix(shape.zone.data());
    }
};

// A store holding every stored state, built once per representation.
struct FilledStore
{
    Model model;
    base::RefPtr<CSS> css;
    int32_t color;
    double seconds = 0;
    uint64_t allocations = 0;

    explicit FilledStore(bool compact)
    {
        css = new CSS(model.system.get(), compact);
        color = css->newColor();
        const ColorSet colors{color};
        SymbolicState* s = model.system->acquireState();
        const std::vector<StateShape>& shapes = workload().stored;
        const uint64_t allocationsBefore = allocationCount;
        const auto start = std::chrono::steady_clock::now();
        for (const StateShape& shape : shapes) {
            model.write(shape, s);
            const CSS::StateKey key = css->makeKey(s);
            if (!css->checkAndEliminate(key, s->zone, colors, colors, colors)) {
                for (const dbm::zone_t& zone : s->zone) {
                    css->addNode(key, zone, color, false, false);
                }
            }
        }
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        allocations = allocationCount - allocationsBefore;
        s->release();
    }

    // Memory of the store: pooled blocks handed out, and the bucket arrays.
    double pooledBytes() const
    {
        const base::DataAllocator& a = css->getAllocator();
        return static_cast<double>(a.getPoolCount() * base::DataAllocator::poolBytes - a.getAvailable());
    }
    double bucketBytes() const
    {
        const auto& zones = dynamic_cast<const storage::AbstractZoneStorage&>(css->getZoneStorage());
        const auto& discrete = css->getDiscreteStorage();
        return 8.0 * (static_cast<double>(zones.getBucketCount()) + discrete.getBucketCount() +
                      static_cast<double>(css->tableBucketCount()));
    }
};

FilledStore& filled(bool compact)
{
    static std::unique_ptr<FilledStore> stores[2];
    std::unique_ptr<FilledStore>& s = stores[compact ? 1 : 0];
    if (!s) {
        s = std::make_unique<FilledStore>(compact);
    }
    return *s;
}

void BM_StoreStates(benchmark::State& state)
{
    const bool compact = state.range(0) != 0;
    FilledStore& f = filled(compact);
    for (auto _ : state) {
        benchmark::DoNotOptimize(f.css.get());
    }
    const double nodes = static_cast<double>(f.css->nodeCount());
    state.counters["stored_states"] = nodes;
    state.counters["bytes_per_state"] = (f.pooledBytes() + f.bucketBytes()) / nodes;
    state.counters["ns_per_store"] = f.seconds * 1e9 / static_cast<double>(workload().stored.size());
    state.counters["allocations_per_state"] = static_cast<double>(f.allocations) / nodes;
    // Where the bytes go: state nodes, stored zones (each zone is stored once, its node rounded up
    // to 8 bytes), discrete vectors (the rest of the pooled blocks) and bucket arrays.
    double words = 0;
    double zoneBytes = 0;
    const ColorSet all;
    CSS::Iterator it = f.css->firstNode(all);
    std::unordered_set<storage::zone_handle_t> zones;
    for (CSS::Node* n = it.node; n != nullptr; n = f.css->nextNode(it)) {
        const uint32_t size = dbm::encodedSize(reinterpret_cast<const uint32_t*>(n->zone));
        words += size;
        if (zones.insert(n->zone).second) {
            zoneBytes += 8.0 * ((5 + size + 1) / 2);
        }
    }
    state.counters["distinct_zones"] = static_cast<double>(zones.size());
    const double nodeBytes = static_cast<double>(sizeof(CSS::Node)) * nodes;
    state.counters["zone_words"] = words / nodes;
    state.counters["node_bytes"] = nodeBytes / nodes;
    state.counters["zone_bytes"] = zoneBytes / nodes;
    state.counters["discrete_bytes"] = (f.pooledBytes() - nodeBytes - zoneBytes) / nodes;
    state.counters["bucket_bytes"] = f.bucketBytes() / nodes;
    state.SetLabel(compact ? "Compact" : "Copy");
}
BENCHMARK(BM_StoreStates)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond);

// Looks up stored states (each is covered by its own node) or absent ones (no node of their
// discrete part), cycling through probes spread over the whole store.
void lookup(benchmark::State& state, bool present)
{
    const bool compact = state.range(0) != 0;
    FilledStore& f = filled(compact);
    const std::vector<StateShape>& source = present ? workload().stored : workload().absent;
    std::vector<SymbolicState*> probes;
    std::vector<dbm::fed_t> zones;
    std::mt19937 rng(7);
    for (int i = 0; i < probeCount; ++i) {
        SymbolicState* s = f.model.system->acquireState();
        f.model.write(source[rng() % source.size()], s);
        probes.push_back(s);
        zones.push_back(s->zone);
    }
    const ColorSet colors{f.color};
    size_t i = 0;
    int64_t covered = 0;
    const uint64_t allocationsBefore = allocationCount;
    for (auto _ : state) {
        SymbolicState* s = probes[i];
        s->zone = zones[i];
        const CSS::StateKey key = f.css->makeKey(s);
        covered += f.css->checkAndEliminate(key, s->zone, ColorSet(), colors, colors);
        i = (i + 1) % probes.size();
    }
    state.counters["covered"] = static_cast<double>(covered) / static_cast<double>(state.iterations());
    state.counters["allocations_per_lookup"] =
        static_cast<double>(allocationCount - allocationsBefore) / static_cast<double>(state.iterations());
    state.SetLabel(compact ? "Compact" : "Copy");
    for (SymbolicState* s : probes) {
        s->release();
    }
}

void BM_LookupStored(benchmark::State& state)
{
    lookup(state, true);
}
BENCHMARK(BM_LookupStored)->Arg(0)->Arg(1);

void BM_LookupAbsent(benchmark::State& state)
{
    lookup(state, false);
}
BENCHMARK(BM_LookupAbsent)->Arg(0)->Arg(1);

}  // namespace

BENCHMARK_MAIN();
