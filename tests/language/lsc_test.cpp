#include "language/lsc.h"

#include <gtest/gtest.h>

#include <functional>

using namespace ZOLT;

namespace {

// A scenario chart with three instance lines L0, L1, L2.
struct Chart
{
    TimedAutomataSystem system;
    template_t& chart = system.addTemplate("S", scope_t::create(), false, "Universal", "Iterative");
    std::vector<binding_t> lines;

    Chart()
    {
        for (int i = 0; i < 3; ++i) {
            instance_line_t& line = chart.addInstanceLine();
            line.symbol = chart.declarations.frame.addSymbol(
                "L" + std::to_string(i), type_t::createPrimitive(INSTANCE_LINE), &line);
            lines.push_back(line.symbol);
        }
    }

    message_t& message(int from, int to, int location, bool prechart = false)
    {
        return chart.addMessage(lines[from], lines[to], location, prechart);
    }
    condition_t& condition(std::vector<int> anchors, int location, bool prechart = false)
    {
        std::vector<binding_t> symbols;
        for (int a : anchors) {
            symbols.push_back(lines[a]);
        }
        return chart.addCondition(symbols, location, prechart, false);
    }
    update_t& update(int anchor, int location, bool prechart = false)
    {
        return chart.addLscUpdate(lines[anchor], location, prechart);
    }
    instance_line_t& line(int i) { return chart.instanceLines[i]; }
};

// "m<number>" / "c<number>" / "u<number>" for the parts a region holds.
std::string describe(const lsc_region_t& r)
{
    std::string text = std::to_string(r.number) + ":";
    if (r.hasMessage()) text += " m" + std::to_string(r.message->number);
    if (r.hasCondition()) text += " c" + std::to_string(r.condition->number);
    if (r.hasUpdate()) text += " u" + std::to_string(r.update->number);
    return text;
}

std::vector<std::string> describe(const std::vector<lsc_region_t>& regions)
{
    std::vector<std::string> result;
    for (const lsc_region_t& r : regions) {
        result.push_back(describe(r));
    }
    return result;
}

lsc_cut_t cutOf(const std::vector<lsc_region_t>& all, std::vector<int> picks)
{
    lsc_cut_t cut;
    for (int i : picks) {
        cut.regions.push_back(all[static_cast<size_t>(i)]);
    }
    return cut;
}

} // namespace

TEST(LscTest, PartsAreNumberedAndPointAtTheirLines)
{
    Chart c;
    EXPECT_EQ(c.line(2).number, 2);
    message_t& m0 = c.message(0, 1, 1);
    message_t& m1 = c.message(1, 2, 2, true);
    condition_t& c0 = c.condition({2, 0}, 3);
    update_t& u0 = c.update(1, 4);
    EXPECT_EQ(m0.number, 0);
    EXPECT_EQ(m1.number, 1);
    EXPECT_EQ(m1.source, &c.line(1));
    EXPECT_EQ(m1.target, &c.line(2));
    EXPECT_TRUE(m1.inPrechart);
    EXPECT_EQ(c0.anchors, (std::vector<instance_line_t*>{&c.line(2), &c.line(0)}));
    EXPECT_EQ(u0.anchor, &c.line(1));
    EXPECT_EQ(u0.number, 0);
}

TEST(LscTest, Regions)
{
    struct Case
    {
        const char* name;
        std::function<void(Chart&)> build;
        std::vector<std::string> expected;
    };
    std::vector<Case> cases = {
        {"no parts", [](Chart&) {}, {}},
        {"condition on the message's target joins its region",
         [](Chart& c) {
             c.message(0, 1, 2);
             c.condition({1}, 2);
         },
         {"0: m0 c0"}},
        {"condition and update on the source when the target has none",
         [](Chart& c) {
             c.message(0, 1, 2);
             c.condition({0}, 2);
             c.update(0, 2);
             c.update(2, 2);   // another line: not taken
         },
         {"0: m0 c0 u0", "1: u1"}},
        {"the target's update is preferred",
         [](Chart& c) {
             c.update(0, 5);
             c.update(1, 5);
             c.message(0, 1, 5);
         },
         {"0: m0 u1", "1: u0"}},
        {"condition without message takes an update on one of its anchors",
         [](Chart& c) {
             c.update(2, 5);
             c.message(0, 1, 1);
             c.condition({0, 2}, 5);
         },
         {"0: m0", "1: c0 u0"}},
        {"a lone update comes after all others",
         [](Chart& c) {
             c.update(1, 7);
             c.condition({2}, 9);
             c.message(0, 1, 1);
         },
         {"0: m0", "1: c0", "2: u0"}},
        {"two messages at one place share the condition",
         [](Chart& c) {
             c.message(0, 1, 3);
             c.message(2, 1, 3);
             c.condition({1}, 3);
         },
         {"0: m0 c0", "1: m1 c0"}},
    };
    for (const Case& k : cases) {
        Chart c;
        k.build(c);
        EXPECT_EQ(describe(c.chart.collectLscRegions()), k.expected) << k.name;
    }
}

TEST(LscTest, RegionsOfAnInstanceLineAreOrderedByLocation)
{
    Chart c;
    c.message(0, 1, 4);
    c.message(1, 0, 1);
    c.message(1, 2, 2);
    c.condition({2, 0}, 6);
    c.update(0, 3);
    std::vector<lsc_region_t> all = c.chart.collectLscRegions();
    ASSERT_EQ(describe(all), (std::vector<std::string>{"0: m0", "1: m1", "2: m2", "3: c0", "4: u0"}));
    EXPECT_EQ(describe(lscRegionsOfInstanceLine(c.line(0), all)),
              (std::vector<std::string>{"1: m1", "4: u0", "0: m0", "3: c0"}));
    EXPECT_EQ(describe(lscRegionsOfInstanceLine(c.line(2), all)),
              (std::vector<std::string>{"2: m2", "3: c0"}));
}

TEST(LscTest, LocationAndPrechartOfARegion)
{
    Chart c;
    c.message(0, 1, 2, false);
    c.condition({1}, 2, true);
    c.update(2, 8, true);
    std::vector<lsc_region_t> all = c.chart.collectLscRegions();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].getLocation(), 2);
    EXPECT_FALSE(isRegionInPrechart(all[0])) << "the message's flag alone decides";
    EXPECT_EQ(all[1].getLocation(), 8);
    EXPECT_TRUE(isRegionInPrechart(all[1]));

    lsc_region_t nothing;
    EXPECT_EQ(nothing.getLocation(), -1);
    EXPECT_FALSE(isRegionInPrechart(nothing));
    EXPECT_EQ(nothing.message->number, -1);
    EXPECT_TRUE(nothing.condition->label.empty());
}

TEST(LscTest, Cuts)
{
    Chart c;
    c.message(0, 1, 1, true);
    c.message(1, 2, 2, true);
    c.message(2, 0, 3, false);
    std::vector<lsc_region_t> all = c.chart.collectLscRegions();

    EXPECT_TRUE(cutOf(all, {0, 1}) == cutOf(all, {1, 0}));
    EXPECT_FALSE(cutOf(all, {0, 1}) == cutOf(all, {0}));
    EXPECT_FALSE(cutOf(all, {0, 0}) == cutOf(all, {0, 1}));
    EXPECT_TRUE(cutOf(all, {}) == cutOf(all, {}));

    lsc_cut_t cut = cutOf(all, {0, 2, 0});
    cut.eraseRegion(all[1]);
    EXPECT_EQ(cut.regions.size(), 3u) << "a number the cut does not hold changes nothing";
    cut.eraseRegion(all[0]);
    ASSERT_EQ(cut.regions.size(), 2u);
    EXPECT_EQ(cut.regions[0].number, 2);
    EXPECT_TRUE(cut.contains(all[0]));
    EXPECT_FALSE(cut.contains(all[1]));

    EXPECT_TRUE(cutOf(all, {}).allInPrechart());
    EXPECT_TRUE(cutOf(all, {0, 1}).allInPrechart());
    EXPECT_FALSE(cutOf(all, {0, 2}).allInPrechart());
    EXPECT_TRUE(cutOf(all, {0}).allInPrechartWith(all[1]));
    EXPECT_FALSE(cutOf(all, {0}).allInPrechartWith(all[2]));
    EXPECT_FALSE(cutOf(all, {2}).allInPrechartWith(all[0]));
}

TEST(LscTest, InvariantMode)
{
    struct Case
    {
        bool timedAutomaton;
        const char* mode;
        bool expected;
    };
    for (const Case& k : std::vector<Case>{{false, "invariant", true},
                                           {false, "INVARIANT", true},
                                           {false, "InVariant", true},
                                           {false, "invariants", false},
                                           {false, "iterative", false},
                                           {false, "", false},
                                           {true, "invariant", false}}) {
        TimedAutomataSystem system;
        template_t& t = system.addTemplate("S", scope_t::create(), k.timedAutomaton, "", k.mode);
        EXPECT_EQ(t.hasInvariantMode(), k.expected) << k.mode << (k.timedAutomaton ? " (automaton)" : "");
    }
}
