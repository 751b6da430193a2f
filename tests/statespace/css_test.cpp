#include "statespace/css.h"

#include <string>

#include <gtest/gtest.h>

#include "store_fixture.h"
#include "support/exceptions.h"

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
    const uint32_t words = sizeof(CSS::Node) / 4 + 2;
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
