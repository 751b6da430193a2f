#include "statespace/css.h"

#include <algorithm>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "store_fixture.h"
#include "support/exceptions.h"
#include "testkit/model_builder.h"

using namespace storetest;

namespace {

// Every store test runs on both representations.
class CSSTest : public ::testing::TestWithParam<bool>
{
protected:
    void TearDown() override { EXPECT_EQ(model.statesInUse(), 0); }

    StoreModel model;
    base::RefPtr<CSS> css{new CSS(model.system.get(), GetParam())};
};

INSTANTIATE_TEST_SUITE_P(Representations, CSSTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Compact" : "Copy"; });

// Stores one zone of the state under a color, without a payload and not held.
CSS::Node* store(CSS& css, SymbolicState* s, int32_t color)
{
    const CSS::StateKey key = css.makeKey(s);
    return css.addNode(key, *s->zone.begin(), color, false, false);
}

}  // namespace

TEST_P(CSSTest, ColorsAreHandedOutInOrder)
{
    EXPECT_EQ(css->newColor(), 1);
    EXPECT_EQ(css->newColor(), 2);
    EXPECT_EQ(css->newColor(), 3);
    EXPECT_EQ(css->colorCount(2), 0);
    EXPECT_EQ(css->colorCount(0), 0);
    EXPECT_EQ(css->colorCount(9), 0);
}

// The meta variables are stored with a node but take no part in finding it.
TEST_P(CSSTest, MetaVariablesAreStoredNotCompared)
{
    const int32_t color = css->newColor();
    SymbolicState* first = model.state({1, 2, 3, 4, 7}, {{0, 5, 0, 5}});
    CSS::Node* node = store(*css, first, color);
    SymbolicState* second = model.state({1, 2, 3, 4, 8}, {{0, 5, 0, 5}});
    EXPECT_EQ(css->findNode(css->makeKey(second), ColorSet{color}), node);
    // Another integer value or location is another discrete part.
    SymbolicState* third = model.state({1, 2, 3, 5, 7}, {{0, 5, 0, 5}});
    EXPECT_EQ(css->findNode(css->makeKey(third), ColorSet{color}), nullptr);
    SymbolicState* fourth = model.state({1, 3, 3, 4, 7}, {{0, 5, 0, 5}});
    EXPECT_EQ(css->findNode(css->makeKey(fourth), ColorSet{color}), nullptr);

    // Loading gives back the stored meta value; once dropped, the loaded state keeps its own.
    css->loadNode(node, second);
    EXPECT_EQ(second->getMetaVariables()[0], 7);
    css->dropMeta(node);
    second->getMetaVariables()[0] = 9;
    css->loadNode(node, second);
    EXPECT_EQ(second->getMetaVariables()[0], 9);
    for (SymbolicState* s : {first, second, third, fourth}) s->release();
}

TEST_P(CSSTest, LoadNodeRestoresTheState)
{
    const int32_t color = css->newColor();
    SymbolicState* s = model.state({3, 1, -42, 99, 5}, {{1, 4, 2, 2}});
    CSS::Node* node = store(*css, s, color);
    SymbolicState* out = model.state({0, 0, 0, 0, 0}, {{0, 1}, {5, 6}});
    css->loadNode(node, out);
    EXPECT_TRUE(out->equalDiscrete(s));
    EXPECT_EQ(out->getMetaVariables()[0], 5);
    EXPECT_EQ(matricesOf(out->zone), matricesOf(s->zone));
    s->release();
    out->release();
}

// The node hash depends on the model's location numbers and values only: two identical models
// built apart (their locations elsewhere in memory) give the same hashes.
TEST_P(CSSTest, KeysAreTheSameOnEveryRun)
{
    StoreModel other;
    CSS otherStore(other.system.get(), GetParam());
    SymbolicState* s = model.state({2, 3, 1, 1, 0}, {{0, 1}});
    SymbolicState* t = other.state({2, 3, 1, 1, 0}, {{0, 1}});
    const CSS::StateKey a = css->makeKey(s);
    const CSS::StateKey b = otherStore.makeKey(t);
    EXPECT_EQ(a.locationHash, b.locationHash);
    EXPECT_EQ(a.integerHash, b.integerHash);
    EXPECT_EQ(a.nodeHash, b.nodeHash);
    EXPECT_EQ(a.nodeHash, lookup2Mix(a.locationHash, a.integerHash, 0));
    s->release();
    t->release();
}

TEST(Lookup2Mix, MixesEveryInputBit)
{
    const uint32_t base = lookup2Mix(1, 2, 3);
    EXPECT_EQ(lookup2Mix(1, 2, 3), base);
    for (uint32_t bit = 0; bit < 32; ++bit) {
        EXPECT_NE(lookup2Mix(1u ^ (1u << bit), 2, 3), base) << bit;
        EXPECT_NE(lookup2Mix(1, 2u ^ (1u << bit), 3), base) << bit;
    }
}

// A new zone against one stored zone, with costs.
TEST_P(CSSTest, RelationsAndCosts)
{
    CostFunctionGuard costs;
    struct Case
    {
        const char* name;
        Box stored;
        int32_t storedCost;
        Box fresh;
        int32_t freshCost;
        bool covered;
        bool nodeRemoved;
    };
    const Case cases[] = {
        {"equal zone, equal cost", {0, 5, 0, 5}, 3, {0, 5, 0, 5}, 3, true, false},
        {"equal zone, lower cost", {0, 5, 0, 5}, 3, {0, 5, 0, 5}, 2, false, true},
        {"equal zone, higher cost", {0, 5, 0, 5}, 3, {0, 5, 0, 5}, 4, true, false},
        {"inside, equal cost", {0, 5, 0, 5}, 3, {1, 2, 1, 2}, 3, true, false},
        {"inside, lower cost", {0, 5, 0, 5}, 3, {1, 2, 1, 2}, 2, false, false},
        {"around, equal cost", {1, 2, 1, 2}, 3, {0, 5, 0, 5}, 3, false, true},
        {"around, higher cost", {1, 2, 1, 2}, 3, {0, 5, 0, 5}, 4, false, false},
        {"apart", {0, 1, 0, 1}, 3, {2, 3, 2, 3}, 3, false, false},
    };
    const int32_t color = css->newColor();
    const ColorSet colors{color};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SymbolicState* old = model.state({1, 1, 0, 0, c.storedCost}, {c.stored});
        store(*css, old, color);
        old->release();
        SymbolicState* s = model.state({1, 1, 0, 0, c.freshCost}, {c.fresh});
        const CSS::StateKey key = css->makeKey(s);
        EXPECT_EQ(css->checkAndEliminate(key, s->zone, colors, colors, colors), c.covered);
        EXPECT_EQ(css->colorCount(color), c.nodeRemoved ? 0 : 1);
        // A state that is not covered keeps its zone.
        if (!c.covered) {
            EXPECT_EQ(matricesOf(s->zone), Zones{matrixOf(c.fresh)});
        }
        css->recolorAll(colors, 0);
        EXPECT_EQ(css->nodeCount(), 0u);
        s->release();
    }
}

// Only the zone that the stored zone covers leaves the federation.
TEST_P(CSSTest, TwoZoneFederationLosesTheCoveredZone)
{
    const int32_t color = css->newColor();
    const ColorSet colors{color};
    SymbolicState* old = model.state({0, 0, 0, 0, 0}, {{0, 5, 0, 5}});
    store(*css, old, color);
    SymbolicState* s = model.state({0, 0, 0, 0, 0}, {{1, 2, 1, 2}, {4, 8, 0, 1}});
    EXPECT_FALSE(css->checkAndEliminate(css->makeKey(s), s->zone, colors, colors, colors));
    EXPECT_EQ(matricesOf(s->zone), Zones{matrixOf({4, 8, 0, 1})});
    EXPECT_EQ(css->colorCount(color), 1);
    // Both zones covered by two stored ones: covered.
    SymbolicState* more = model.state({0, 0, 0, 0, 0}, {{4, 9, 0, 2}});
    store(*css, more, color);
    SymbolicState* t = model.state({0, 0, 0, 0, 0}, {{1, 2, 1, 2}, {4, 8, 0, 1}});
    EXPECT_TRUE(css->checkAndEliminate(css->makeKey(t), t->zone, colors, colors, colors));
    for (SymbolicState* x : {old, s, more, t}) x->release();
}

// Nodes of colors outside the relate set are removed when they cover a zone of the new state;
// nodes outside the filter are not looked at; the eliminate set decides which dominated nodes go.
TEST_P(CSSTest, ColorSetsChooseWhatIsComparedAndRemoved)
{
    const int32_t mine = css->newColor();
    const int32_t other = css->newColor();
    SymbolicState* big = model.state({0, 0, 0, 0, 0}, {{0, 5, 0, 5}});
    CSS::Node* foreign = store(*css, big, other);
    SymbolicState* s = model.state({0, 0, 0, 0, 0}, {{1, 2, 1, 2}});
    // The other color is filtered out: nothing to compare.
    EXPECT_FALSE(css->checkAndEliminate(css->makeKey(s), s->zone, {mine}, {mine}, {mine}));
    EXPECT_EQ(css->colorCount(other), 1);
    // Filtered in but not related: the covering node is removed, the state is not covered.
    EXPECT_FALSE(css->checkAndEliminate(css->makeKey(s), s->zone, {mine}, {mine}, {mine, other}));
    EXPECT_EQ(css->colorCount(other), 0);
    (void)foreign;

    // Dominated nodes go only when their color is in the eliminate set.
    SymbolicState* small = model.state({0, 0, 0, 0, 0}, {{1, 2, 1, 2}});
    store(*css, small, mine);
    EXPECT_FALSE(css->checkAndEliminate(css->makeKey(big), big->zone, {}, {mine}, {mine}));
    EXPECT_EQ(css->colorCount(mine), 1);
    EXPECT_FALSE(css->checkAndEliminate(css->makeKey(big), big->zone, {mine}, {mine}, {mine}));
    EXPECT_EQ(css->colorCount(mine), 0);
    for (SymbolicState* x : {big, s, small}) x->release();
}

TEST_P(CSSTest, RecolorMovesCounts)
{
    const int32_t a = css->newColor();
    const int32_t b = css->newColor();
    SymbolicState* s1 = model.state({0, 0, 0, 0, 0}, {{0, 1}});
    SymbolicState* s2 = model.state({1, 0, 0, 0, 0}, {{0, 1}});
    SymbolicState* s3 = model.state({2, 0, 0, 0, 0}, {{0, 1}});
    CSS::Node* n1 = store(*css, s1, a);
    store(*css, s2, a);
    store(*css, s3, b);
    EXPECT_EQ(css->colorCount(a), 2);
    css->recolor(n1, b);
    EXPECT_EQ(css->colorCount(a), 1);
    EXPECT_EQ(css->colorCount(b), 2);
    // Walks see the colors they filter for.
    int seen = 0;
    const ColorSet filterB{b};
    CSS::Iterator it = css->firstNode(filterB);
    for (CSS::Node* n = it.node; n != nullptr; n = css->nextNode(it)) {
        EXPECT_EQ(n->color(), b);
        ++seen;
    }
    EXPECT_EQ(seen, 2);
    css->recolorAll({a, b}, a);
    EXPECT_EQ(css->colorCount(a), 3);
    css->recolorAll({a}, 0);
    EXPECT_EQ(css->colorCount(a), 0);
    EXPECT_EQ(css->nodeCount(), 0u);
    for (SymbolicState* x : {s1, s2, s3}) x->release();
}

// A held node leaves the table but keeps its memory, with color 0, until its holder frees it.
TEST_P(CSSTest, RemovingAHeldNodeLeavesItsMemory)
{
    const int32_t color = css->newColor();
    SymbolicState* s = model.state({0, 0, 0, 0, 0}, {{0, 1}});
    const CSS::StateKey key = css->makeKey(s);
    CSS::Node* node = css->addNode(key, *s->zone.begin(), color, true, true);
    ASSERT_NE(node, nullptr);
    const auto* memory = reinterpret_cast<const uint32_t*>(node);
    const uint32_t words = CSS::nodeWords(node);
    EXPECT_TRUE(css->containsPayload(key, node->payload()));
    EXPECT_EQ(CSS::nodeOfPayload(node->payload()), node);
    css->recolor(node, 0);
    EXPECT_EQ(node->color(), 0);
    EXPECT_TRUE(node->isHeld());
    EXPECT_EQ(css->colorCount(color), 0);
    EXPECT_TRUE(css->getAllocator().isAllocated(memory, words));
    EXPECT_FALSE(css->containsPayload(css->makeKey(s), node->payload()));
    css->freeNode(node);
    EXPECT_FALSE(css->getAllocator().isAllocated(memory, words));
    // Color 0 stores nothing.
    EXPECT_EQ(css->addNode(key, *s->zone.begin(), 0, false, false), nullptr);
    s->release();
}

// The node's zone widens a federation: first to the hull of its own zones.
TEST_P(CSSTest, WidenByNode)
{
    const int32_t color = css->newColor();
    SymbolicState* old = model.state({0, 0, 0, 0, 0}, {{6, 7, 0, 1}});
    CSS::Node* node = store(*css, old, color);
    SymbolicState* s = model.state({0, 0, 0, 0, 0}, {{0, 1, 0, 1}, {2, 3, 4, 5}});
    css->widenByNode(s->zone, node);
    std::vector<dbm::bound_t> hull = matrixOf({0, 1, 0, 1});
    dbm::convexUnion(hull.data(), 3, matrixOf({2, 3, 4, 5}).data());
    dbm::convexUnion(hull.data(), 3, matrixOf({6, 7, 0, 1}).data());
    EXPECT_EQ(matricesOf(s->zone), Zones{hull});
    old->release();
    s->release();
}

namespace {

using Matrix = std::vector<dbm::bound_t>;

uint32_t testSeed()
{
    const char* env = std::getenv("MIRVEK_TEST_SEED");
    return env ? static_cast<uint32_t>(std::strtoul(env, nullptr, 10)) : 20261211u;
}

dbm::zone_t zoneOf(const Matrix& m, uint32_t dim)
{
    dbm::zone_t z(dim);
    z.assignMatrix(m.data(), dim);
    return z;
}

// A random closed, non-empty zone: a few differences of random clocks bounded by small constants,
// so that the zones order their clocks in many ways and still often include one another.
Matrix randomZone(std::mt19937& rng, uint32_t dim)
{
    Matrix m(dim * dim);
    dbm::init(m.data(), dim);
    std::uniform_int_distribution<uint32_t> clock(0, dim - 1);
    std::uniform_int_distribution<int32_t> value(-2, 3);
    const int steps = static_cast<int>(dim + rng() % (2 * dim));
    for (int s = 0; s < steps; ++s) {
        Matrix next = m;
        const uint32_t i = clock(rng), j = clock(rng);
        if (i == j) continue;
        const int32_t v = value(rng);
        if (dbm::constrain(next.data(), dim, i, j, rng() % 3 == 0 ? dbm::boundLT(v) : dbm::boundLE(v))) {
            m = next;
        }
    }
    return m;
}

// A random zone that orders the clocks as a random permutation does (each clock at most, below or
// at most 1 above the next one; now and then a link is left out, which makes a larger zone), the
// first clock bounded above: the zones that clocks reset one after another leave behind.
Matrix orderedZone(std::mt19937& rng, uint32_t dim)
{
    Matrix m(dim * dim);
    dbm::init(m.data(), dim);
    std::vector<uint32_t> order(dim - 1);
    for (uint32_t c = 1; c < dim; ++c) {
        order[c - 1] = c;
    }
    std::shuffle(order.begin(), order.end(), rng);
    EXPECT_TRUE(dbm::constrain(m.data(), dim, order[0], 0, dbm::boundLE(static_cast<int32_t>(2 + rng() % 4))));
    const dbm::bound_t links[] = {dbm::BOUND_LE_ZERO, dbm::BOUND_LT_ZERO, dbm::boundLE(1)};
    for (size_t k = 0; k + 1 < order.size(); ++k) {
        if (rng() % 4 != 0) {
            EXPECT_TRUE(dbm::constrain(m.data(), dim, order[k + 1], order[k], links[rng() % 3]));
        }
    }
    return m;
}

bool includes(const Matrix& outer, const Matrix& inner, uint32_t dim)
{
    const dbm::relation_t r = dbm::relation(inner.data(), dim, outer.data());
    return r == dbm::SUBSET || r == dbm::EQUAL;
}

}  // namespace

// The order bits never tell two zones apart when one includes the other; zones that order two
// clocks the other way round are told apart. Dimension 10 has more clock pairs than bits.
TEST(OrderBits, AgreeWithInclusion)
{
    const uint32_t seed = testSeed();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    for (uint32_t dim : {2u, 3u, 5u, 7u, 10u}) {
        SCOPED_TRACE("dimension " + std::to_string(dim));
        std::vector<Matrix> zones;
        for (int i = 0; i < 300; ++i) {
            zones.push_back(randomZone(rng, dim));
        }
        int included = 0;
        for (const Matrix& a : zones) {
            const uint32_t bitsA = CSS::orderBits(zoneOf(a, dim));
            for (const Matrix& b : zones) {
                if (includes(b, a, dim)) {
                    ++included;
                    // Every order of b holds in a.
                    ASSERT_EQ(CSS::orderBits(zoneOf(b, dim)) & ~bitsA, 0u);
                }
            }
        }
        EXPECT_GT(included, 300);  // more than the zones' inclusions in themselves
    }

    // x <= y and y <= x: neither zone's bits lie in the other's.
    Matrix xFirst(9), yFirst(9);
    dbm::init(xFirst.data(), 3);
    dbm::init(yFirst.data(), 3);
    ASSERT_TRUE(dbm::constrain(xFirst.data(), 3, 1, 2, dbm::BOUND_LE_ZERO));
    ASSERT_TRUE(dbm::constrain(yFirst.data(), 3, 2, 1, dbm::BOUND_LE_ZERO));
    const uint32_t x = CSS::orderBits(zoneOf(xFirst, 3)), y = CSS::orderBits(zoneOf(yFirst, 3));
    EXPECT_NE(x & ~y, 0u);
    EXPECT_NE(y & ~x, 0u);
}

namespace {

// Runs the body once with each scan kernel the machine has, and puts the first back.
template <class Body>
void forEachScanKernel(const Body& body)
{
    const storage::ScanKernel initial = storage::activeScanKernel();
    for (storage::ScanKernel kernel :
         {storage::ScanKernel::Scalar, storage::ScanKernel::Sse2, storage::ScanKernel::Avx2}) {
        if (storage::selectScanKernel(kernel)) {
            SCOPED_TRACE("scan kernel " + std::to_string(static_cast<int>(kernel)));
            body();
        }
    }
    storage::selectScanKernel(initial);
}

}  // namespace

// Many zones of one discrete state in either representation, with clocks enough that the order
// bits fold and that the group's chosen tests are all the scan has: after each new zone the store
// holds exactly the zones that no other zone includes, as plain matrices compared bound by bound
// say. Every tenth zone comes twice (equal words). Nodes of another color, which the comparisons
// pass over, lie between them in the chain and stay as they are; with 20 clocks the colors are
// past 255, which the group's color column cannot hold. With every scan kernel.
TEST(CSSManyZones, KeepsTheZonesThatNoOtherIncludes)
{
    forEachScanKernel([] {
    const uint32_t seed = testSeed();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    for (uint32_t clocks : {3u, 6u, 9u, 14u, 20u}) {
        const uint32_t dim = clocks + 1;
        testkit::ModelBuilder builder;
        for (uint32_t c = 0; c < clocks; ++c) {
            builder.clock("x" + std::to_string(c));
        }
        Process* process = builder.process("P", {{"A"}});
        base::RefPtr<System> system = builder.finish();
        std::vector<Matrix> zones;
        for (int i = 0; i < 400; ++i) {
            zones.push_back(orderedZone(rng, dim));
            if (i % 10 == 0) {
                zones.push_back(zones.back());
            }
        }
        for (bool compact : {false, true}) {
            SCOPED_TRACE(std::to_string(clocks) + " clocks, " + (compact ? "compact" : "copy"));
            base::RefPtr<CSS> css{new CSS(system.get(), compact)};
            if (clocks == 20) {
                for (int k = 0; k < 300; ++k) {
                    css->newColor();
                }
            }
            const int32_t color = css->newColor();
            const int32_t other = css->newColor();
            const ColorSet colors{color};
            std::vector<Matrix> kept;  // what the store must hold
            int32_t others = 0;
            SymbolicState* s = system->acquireState();
            s->setLocation(0, process->getLocation(0));
            for (size_t i = 0; i < zones.size(); ++i) {
                const Matrix& z = zones[i];
                s->zone = dbm::fed_t(zoneOf(z, dim));
                if (i % 3 == 0) {
                    css->addNode(css->makeKey(s), *s->zone.begin(), other, false, false);
                    ++others;
                }
                const bool covered = std::any_of(kept.begin(), kept.end(),
                                                 [&](const Matrix& k) { return includes(k, z, dim); });
                ASSERT_EQ(css->checkAndEliminate(css->makeKey(s), s->zone, colors, colors, colors), covered) << i;
                if (!covered) {
                    std::erase_if(kept, [&](const Matrix& k) { return includes(z, k, dim); });
                    kept.push_back(z);
                    css->addNode(css->makeKey(s), *s->zone.begin(), color, false, false);
                }
                ASSERT_EQ(static_cast<size_t>(css->colorCount(color)), kept.size()) << i;
                ASSERT_EQ(css->colorCount(other), others) << i;
            }
            std::vector<Matrix> stored;
            CSS::Iterator it = css->firstNode(colors);
            for (CSS::Node* node = it.node; node != nullptr; node = css->nextNode(it)) {
                css->loadNode(node, s);
                const dbm::zone_t& z = *s->zone.begin();
                stored.emplace_back(z.getMatrix(), z.getMatrix() + dim * dim);
            }
            std::sort(stored.begin(), stored.end());
            std::sort(kept.begin(), kept.end());
            EXPECT_EQ(stored, kept);
            EXPECT_GE(kept.size(), clocks + 2);
            EXPECT_GE(css->testChoiceCount(), 1u);
            s->release();
        }
    }
    });
}

namespace {

// checkAndEliminate written as a walk over the bucket chain with the public operations: the
// order in which it meets the nodes decides which nodes of other colors go (a zone that an earlier
// node covered no longer makes a later node go) and which dominated nodes are still met.
bool checkByChainWalk(CSS& css, SymbolicState* s, const ColorSet& eliminate, const ColorSet& relate,
                      const ColorSet& filter)
{
    const CSS::StateKey key = css.makeKey(s);
    CSS::Iterator it = css.firstSameDiscrete(key, filter);
    for (CSS::Node* node = it.node; node != nullptr;) {
        CSS::Node* current = node;
        node = css.nextSameDiscrete(it);
        if (relate.contains(current->color())) {
            const int r = css.relateAndEliminate(s->zone, s->getCost(), current);
            if (r == 1 && eliminate.contains(current->color())) {
                css.removeNode(current);
            } else if (r == 2) {
                return true;
            }
        } else if (css.relationWithNode(s->zone, s->getCost(), current)) {
            css.removeNode(current);
        }
    }
    return false;
}

// Every node in the order of the whole-store walk, as its color and zone.
std::vector<std::pair<int32_t, Matrix>> contents(CSS& css, SymbolicState* probe, uint32_t dim)
{
    static const ColorSet everyColor;
    std::vector<std::pair<int32_t, Matrix>> out;
    CSS::Iterator it = css.firstNode(everyColor);
    for (CSS::Node* node = it.node; node != nullptr; node = css.nextNode(it)) {
        css.loadNode(node, probe);
        const dbm::zone_t& z = *probe->zone.begin();
        out.emplace_back(node->color(), Matrix(z.getMatrix(), z.getMatrix() + dim * dim));
    }
    return out;
}

}  // namespace

// Two stores take the same random operations, except that one relates new states with
// checkAndEliminate and the other with the walk above; both must answer alike and end up holding
// the same nodes in the same order. The operations mix colors that are related, only filtered in or
// never looked at, federations of two zones, removals in the middle of a discrete state and of a
// whole color, and enough nodes that the table doubles (which turns its chains round) while
// discrete states grow and shrink again.
TEST(CSSManyZones, ScanAgreesWithAWalkOverTheChain)
{
    forEachScanKernel([] {
    const uint32_t seed = testSeed();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    const uint32_t clocks = 4, dim = clocks + 1;
    testkit::ModelBuilder builder;
    for (uint32_t c = 0; c < clocks; ++c) {
        builder.clock("x" + std::to_string(c));
    }
    Process* process = builder.process("P", {{"A"}, {"B"}, {"C"}});
    base::RefPtr<System> system = builder.finish();
    for (bool compact : {false, true}) {
        SCOPED_TRACE(compact ? "compact" : "copy");
        base::RefPtr<CSS> scanned{new CSS(system.get(), compact)};
        base::RefPtr<CSS> walked{new CSS(system.get(), compact)};
        const int32_t mine = scanned->newColor(), other = scanned->newColor(), idle = scanned->newColor();
        for (int k = 0; k < 3; ++k) {
            walked->newColor();
        }
        const ColorSet related{mine}, filtered{mine, other}, idleOnly{idle};
        SymbolicState* s = system->acquireState();
        SymbolicState* probe = system->acquireState();
        const size_t initialBuckets = scanned->tableBucketCount();
        size_t mostNodes = 0;
        for (int step = 0; step < 3000; ++step) {
            SCOPED_TRACE("step " + std::to_string(step));
            s->setLocation(0, process->getLocation(static_cast<int32_t>(rng() % 2)));
            s->zone = dbm::fed_t(zoneOf(orderedZone(rng, dim), dim));
            if (rng() % 4 == 0) {
                s->zone.unionWithZone(zoneOf(orderedZone(rng, dim), dim));
            }
            const uint32_t what = rng() % 10;
            if (what < 5) {
                // A new state: related, then stored unless covered.
                const ColorSet& filter = what < 3 ? related : filtered;
                dbm::fed_t copy = s->zone;
                const bool a = scanned->checkAndEliminate(scanned->makeKey(s), s->zone, related, related, filter);
                std::swap(copy, s->zone);
                const bool b = checkByChainWalk(*walked, s, related, related, filter);
                ASSERT_EQ(a, b);
                ASSERT_EQ(copy.size(), s->zone.size());
                if (!a && !s->zone.isEmpty()) {
                    scanned->addNode(scanned->makeKey(s), *s->zone.begin(), mine, false, false);
                    walked->addNode(walked->makeKey(s), *s->zone.begin(), mine, false, false);
                }
            } else if (what < 7) {
                // Nodes that the comparisons pass over or only filter in, in the same discrete states.
                const int32_t color = what == 5 ? other : idle;
                const int count = color == idle ? 45 : 1;
                for (int k = 0; k < count; ++k) {
                    scanned->addNode(scanned->makeKey(s), *s->zone.begin(), color, false, false);
                    walked->addNode(walked->makeKey(s), *s->zone.begin(), color, false, false);
                }
            } else {
                // One node of the discrete state goes, wherever it lies.
                const ColorSet& filter = what < 9 ? related : idleOnly;
                std::vector<CSS::Node*> a, b;
                CSS::Iterator ia = scanned->firstSameDiscrete(scanned->makeKey(s), filter);
                for (CSS::Node* n = ia.node; n != nullptr; n = scanned->nextSameDiscrete(ia)) a.push_back(n);
                CSS::Iterator ib = walked->firstSameDiscrete(walked->makeKey(s), filter);
                for (CSS::Node* n = ib.node; n != nullptr; n = walked->nextSameDiscrete(ib)) b.push_back(n);
                ASSERT_EQ(a.size(), b.size());
                if (!a.empty()) {
                    const size_t k = rng() % a.size();
                    scanned->recolor(a[k], 0);
                    walked->removeNode(b[k]);
                }
            }
            if (step == 2000) {
                // A whole color goes: discrete states shrink to what the others left.
                scanned->recolorAll(idleOnly, 0);
                walked->recolorAll(idleOnly, 0);
            }
            mostNodes = std::max(mostNodes, scanned->nodeCount());
            for (int32_t color : {mine, other, idle}) {
                ASSERT_EQ(scanned->colorCount(color), walked->colorCount(color)) << "color " << color;
            }
            if (step % 100 == 99) {
                ASSERT_EQ(contents(*scanned, probe, dim), contents(*walked, probe, dim));
            }
        }
        EXPECT_GT(scanned->tableBucketCount(), initialBuckets) << "the table never doubled";
        EXPECT_GT(mostNodes, 2 * initialBuckets);
        ASSERT_EQ(contents(*scanned, probe, dim), contents(*walked, probe, dim));
        scanned->recolorAll({mine, other, idle}, 0);
        walked->recolorAll({mine, other, idle}, 0);
        EXPECT_EQ(scanned->nodeCount(), 0u);
        EXPECT_EQ(scanned->groupCount(), 0u);
        s->release();
        probe->release();
    }
    });
}

// A federation that shares its zones with another becomes private, its zones copied in the
// reverse order, when a node is related to it: the order bits of its zones must follow them. Here
// the second zone includes the stored one and the first orders the clocks the other way, so bits
// paired with the wrong zone would let the stored zone through. Both orders of the two zones.
TEST_P(CSSTest, SharedFederationsKeepTheirOrderBitsWithTheirZones)
{
    const int32_t color = css->newColor();
    const ColorSet colors{color};
    const Box stored{2, 3, 0, 1};   // y <= x
    const Box around{0, 5, 0, 5};   // includes it
    const Box apart{0, 1, 2, 3};    // x <= y
    for (bool aroundFirst : {false, true}) {
        SCOPED_TRACE(aroundFirst ? "around first" : "apart first");
        SymbolicState* old = model.state({0, 0, 0, 0, 0}, {stored});
        store(*css, old, color);
        SymbolicState* s = model.state({0, 0, 0, 0, 0}, aroundFirst ? std::vector<Box>{around, apart}
                                                                     : std::vector<Box>{apart, around});
        const dbm::fed_t shared = s->zone;
        EXPECT_FALSE(css->checkAndEliminate(css->makeKey(s), s->zone, colors, colors, colors));
        EXPECT_EQ(css->colorCount(color), 0) << "the included node stays";
        EXPECT_EQ(shared.size(), 2u);
        css->recolorAll(colors, 0);
        old->release();
        s->release();
    }
}
