#include "language/symbol.h"

#include <gtest/gtest.h>

#include <climits>
#include <set>
#include <sstream>

using namespace ZOLT;

namespace {

type_t intType()
{
    return type_t::createPrimitive(INT);
}

} // namespace

TEST(ScopeTest, NewestSymbolOfANameWinsAndRemovalUncoversTheOlder)
{
    scope_t scope = scope_t::create();
    int first = 0, second = 0;
    binding_t x0 = scope.addSymbol("x", intType(), &first);
    binding_t x1 = scope.addSymbol("x", intType(), &second);
    binding_t y = scope.addSymbol("y", intType(), nullptr);

    EXPECT_EQ(scope.getSize(), 3u);
    EXPECT_EQ(scope.indexOfName("x"), 1);
    binding_t found;
    ASSERT_TRUE(scope.resolve("x", found));
    EXPECT_EQ(found, x1);
    EXPECT_EQ(found.getData(), &second);
    // The hidden symbol is still there by position.
    EXPECT_EQ(scope[0], x0);
    EXPECT_EQ(scope.indexOf(x0), 0);

    scope.remove(x1);
    EXPECT_EQ(scope.getSize(), 2u);
    EXPECT_EQ(scope.indexOfName("x"), 0);
    EXPECT_EQ(scope.indexOfName("y"), 1); // later positions shrink
    EXPECT_EQ(scope.indexOf(x1), -1);
    ASSERT_TRUE(scope.resolve("x", found));
    EXPECT_EQ(found, x0);
    EXPECT_EQ(scope[1], y);
}

TEST(ScopeTest, RemoveTakesEveryOccurrenceAndAdoptsForeignSymbols)
{
    scope_t home = scope_t::create();
    scope_t other = scope_t::create();
    binding_t a = home.addSymbol("a", intType(), nullptr);
    binding_t foreign = other.addSymbol("f", intType(), nullptr);
    home.add(foreign);
    EXPECT_EQ(foreign.getScope(), other); // add keeps the owner
    home.add(a);
    ASSERT_EQ(home.getSize(), 3u);

    home.remove(a);
    ASSERT_EQ(home.getSize(), 1u);
    EXPECT_EQ(home[0], foreign);
    EXPECT_EQ(home.indexOfName("a"), -1);
    EXPECT_EQ(foreign.getScope(), home);

    // Removing a symbol the scope does not hold changes nothing visible.
    home.remove(binding_t());
    EXPECT_EQ(home.getSize(), 1u);
}

TEST(ScopeTest, EmptyNamesCountButAreNeverFound)
{
    scope_t scope = scope_t::create();
    scope.addSymbol("", intType(), nullptr);
    EXPECT_EQ(scope.getSize(), 1u);
    EXPECT_EQ(scope.indexOfName(""), -1);
    binding_t out;
    EXPECT_FALSE(scope.resolve("", out));
}

TEST(ScopeTest, LookupGoesThroughParentsAndLeavesOutArgumentWhenNotFound)
{
    scope_t root = scope_t::create();
    binding_t rootX = root.addSymbol("x", intType(), nullptr);
    binding_t rootY = root.addSymbol("y", intType(), nullptr);
    scope_t middle = scope_t::createSubScope(root);
    scope_t inner = scope_t::createSubScope(middle);
    binding_t innerX = inner.addSymbol("x", intType(), nullptr);

    binding_t out;
    ASSERT_TRUE(inner.resolve("x", out));
    EXPECT_EQ(out, innerX);
    ASSERT_TRUE(inner.resolve("y", out));
    EXPECT_EQ(out, rootY);
    ASSERT_TRUE(middle.resolve("x", out));
    EXPECT_EQ(out, rootX);
    EXPECT_EQ(inner.indexOfName("y"), -1); // indexOfName looks at the scope only

    binding_t marker = root.addSymbol("m", intType(), nullptr);
    out = marker;
    EXPECT_FALSE(inner.resolve("absent", out));
    EXPECT_EQ(out, marker);

    EXPECT_TRUE(inner.hasParent());
    EXPECT_EQ(inner.getParent(), middle);
    EXPECT_EQ(inner.getParent().getParent(), root);
    EXPECT_THROW(root.getParent(), NoParentException);
}

TEST(ScopeTest, MoveAllToTransfersSymbolsAndOwnership)
{
    scope_t params = scope_t::create();
    scope_t body = scope_t::create();
    binding_t existing = body.addSymbol("z", intType(), nullptr);
    binding_t a = params.addSymbol("a", intType(), nullptr);
    binding_t b = params.addSymbol("b", intType(), nullptr);

    params.moveAllTo(body);
    EXPECT_EQ(params.getSize(), 0u);
    EXPECT_EQ(params.indexOfName("a"), -1);
    EXPECT_EQ(params.indexOfName("b"), -1);
    ASSERT_EQ(body.getSize(), 3u);
    EXPECT_EQ(body[0], existing);
    EXPECT_EQ(body.indexOfName("a"), 1);
    EXPECT_EQ(body.indexOfName("b"), 2);
    EXPECT_EQ(a.getScope(), body);
    EXPECT_EQ(b.getScope(), body);

    // Moving a scope into itself keeps its symbols.
    body.moveAllTo(body);
    EXPECT_EQ(body.getSize(), 3u);
    EXPECT_EQ(body.indexOfName("b"), 2);
}

TEST(ScopeTest, AddAllAppendsInOrderAndToleratesItself)
{
    scope_t a = scope_t::create();
    scope_t b = scope_t::create();
    binding_t x = a.addSymbol("x", intType(), nullptr);
    binding_t y = a.addSymbol("y", intType(), nullptr);
    b.addAll(a);
    ASSERT_EQ(b.getSize(), 2u);
    EXPECT_EQ(b[0], x);
    EXPECT_EQ(b[1], y);
    EXPECT_EQ(x.getScope(), a);

    a.addAll(a);
    EXPECT_EQ(a.getSize(), 4u);
    EXPECT_EQ(a.indexOfName("x"), 2);
}

TEST(SymbolTest, IdentityOrderAndLifetime)
{
    binding_t survivor;
    {
        scope_t scope = scope_t::create();
        survivor = scope.addSymbol("s", intType(), nullptr);
        binding_t twin = scope.addSymbol("s", intType(), nullptr);
        EXPECT_NE(survivor, twin); // same name, different symbols
        std::set<binding_t> set{survivor, twin, binding_t()};
        EXPECT_EQ(set.size(), 3u);
        EXPECT_TRUE(set.begin()->empty()); // the empty symbol orders first
    }
    // A symbol may outlive its scope; its own fields stay usable.
    EXPECT_EQ(survivor.getName(), "s");
    survivor.setName("renamed");
    survivor.setType(type_t::createPrimitive(BOOL));
    EXPECT_EQ(survivor.getName(), "renamed");
    EXPECT_TRUE(survivor.getType().isKind(BOOL));

    binding_t copy = survivor;
    copy = copy; // self-assignment keeps the node
    EXPECT_EQ(copy, survivor);
    copy.setName("shared");
    EXPECT_EQ(survivor.getName(), "shared");
}

TEST(SymbolTest, StreamOutput)
{
    scope_t scope = scope_t::create();
    scope.addSymbol("x", intType(), nullptr);
    scope.addSymbol("c", type_t::createPrimitive(CLOCK), nullptr);
    std::ostringstream os;
    os << scope;
    EXPECT_EQ(os.str(), "{(int) x, (clock) c}");
}

TEST(IntervalTest, Operations)
{
    interval_t empty;
    EXPECT_TRUE(empty.isEmpty());
    EXPECT_EQ(empty.size(), 0u);
    EXPECT_EQ(empty.lower, INT32_MAX);
    EXPECT_EQ(empty.upper, INT32_MIN);
    EXPECT_EQ(empty.join(interval_t(1, 2)), interval_t(1, 2));
    EXPECT_EQ(interval_t(1, 5).intersect(interval_t(3, 8)), interval_t(3, 5));
    EXPECT_TRUE(interval_t(1, 2).intersect(interval_t(4, 5)).isEmpty());
    EXPECT_EQ(interval_t(-3, 0).join(interval_t(7)), interval_t(-3, 7));
    EXPECT_TRUE(interval_t(5).contains(5));
    EXPECT_FALSE(interval_t(5).contains(6));
    EXPECT_FALSE(empty.contains(0));
    EXPECT_NE(interval_t(1, 2), interval_t(1, 3));

    struct Case
    {
        interval_t interval;
        uint32_t size;
    };
    const Case sizes[] = {
        {interval_t(0, 9), 10u},
        {interval_t(5, 5), 1u},
        {interval_t(3, 2), 0u},
        {interval_t(INT32_MIN, -1), 0x80000000u},
        {interval_t(-1, INT32_MAX), 0x80000001u},
        {interval_t(INT32_MIN, INT32_MAX), 0u}, // the whole range wraps to 0
    };
    for (const Case& c : sizes) {
        EXPECT_EQ(c.interval.size(), c.size) << c.interval.lower << ".." << c.interval.upper;
    }
}
