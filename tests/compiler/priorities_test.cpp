// Channel priorities: the relation over channel numbers, the default entry, arrays, the
// consistency check and the forced total order.

#include <gtest/gtest.h>

#include "compile_helpers.h"
#include "program_run.h"
#include "runtime/channels.h"
#include "runtime/exceptions.h"

using namespace compiler_test;
using namespace ZOLT;

namespace {

// The model with its priority declarations.
std::string withPriorities(const std::string& declarations)
{
    return "chan a, b, c, d; chan ca[3]; chan cc[2][2]; chan x;\n" + declarations +
           "\nprocess P() { state A; init A; }\n"
           "system P;\n";
}

// Each channel's number, by name ("ca[1]", "cc[1][0]"); 0 is the default entry.
std::map<int32_t, std::string> channelNames(Compiled& c)
{
    std::map<int32_t, std::string> names{{0, "default"}};
    for (const char* name : {"a", "b", "c", "d", "ca[0]", "ca[1]", "ca[2]", "cc[0][0]", "cc[0][1]", "cc[1][0]",
                             "cc[1][1]", "x"}) {
        names[c.compiler->evaluateConstant(c.parse(name))] = name;
    }
    return names;
}

// Every set bit of the priority relation as "higher>lower".
std::set<std::string> relation(Compiled& c)
{
    const std::map<int32_t, std::string> names = channelNames(c);
    std::set<std::string> out;
    const auto n = static_cast<uint32_t>(c.system->getPriorityDimension());
    for (uint32_t h = 0; h < n; ++h) {
        for (uint32_t l = 0; l < n; ++l) {
            if (c.system->isHigherPriority(h, l)) {
                out.insert(names.at(static_cast<int32_t>(h)) + ">" + names.at(static_cast<int32_t>(l)));
            }
        }
    }
    return out;
}

// "higher>lower" for every higher and every lower.
std::set<std::string> above(const std::vector<std::string>& higher, const std::vector<std::string>& lower)
{
    std::set<std::string> out;
    for (const std::string& h : higher) {
        for (const std::string& l : lower) {
            out.insert(h + ">" + l);
        }
    }
    return out;
}

// Number of set bits of the priority relation.
size_t bitCount(const Compiled& c)
{
    size_t count = 0;
    const auto n = static_cast<uint32_t>(c.system->getPriorityDimension());
    for (uint32_t h = 0; h < n; ++h) {
        for (uint32_t l = 0; l < n; ++l) {
            count += c.system->isHigherPriority(h, l) ? 1 : 0;
        }
    }
    return count;
}

std::set<std::string> join(std::set<std::string> a, const std::set<std::string>& b)
{
    a.insert(b.begin(), b.end());
    return a;
}

const std::vector<std::string> allButC = {"a", "b", "d", "ca[0]", "ca[1]", "ca[2]",
                                          "cc[0][0]", "cc[0][1]", "cc[1][0]", "cc[1][1]", "x"};

// The forced total order, switched on for the length of a test.
class ForcedOrder
{
public:
    ForcedOrder() : saved(compilerSwitches().forceFullPriorityOrder) { compilerSwitches().forceFullPriorityOrder = true; }
    ForcedOrder(const ForcedOrder&) = delete;
    ForcedOrder& operator=(const ForcedOrder&) = delete;
    ~ForcedOrder() { compilerSwitches().forceFullPriorityOrder = saved; }

private:
    bool saved;
};

std::string compileError(const std::string& text)
{
    Compiled c = prepare(text);
    try {
        c.system = c.compiler->compileSystem();
    } catch (const CompileError& error) {
        return error.what();
    }
    return "no error";
}

} // namespace

TEST(ChannelPriorities, RelationOverChannelNumbers)
{
    struct Case
    {
        const char* declarations;
        std::set<std::string> expected;
    };
    const std::vector<Case> cases = {
        // Channels that are not named stay unordered: the default is not named.
        {"chan priority a < b;", {"b>a"}},
        // Entries of one group have equal priority.
        {"chan priority a, b < c;", {"c>a", "c>b"}},
        // Groups further apart are ordered by the closure.
        {"chan priority a < b < c;", {"b>a", "c>b", "c>a"}},
        // The default entry stands for every channel no entry names.
        {"chan priority default < c;", join({"c>default"}, above({"c"}, allButC))},
        {"chan priority c < default;", join({"default>c"}, above(allButC, {"c"}))},
        // An array gives each of its elements, in row order; an element only itself.
        {"chan priority x < ca;", {"ca[0]>x", "ca[1]>x", "ca[2]>x"}},
        {"chan priority x < ca[1];", {"ca[1]>x"}},
        {"chan priority x < cc;", {"cc[0][0]>x", "cc[0][1]>x", "cc[1][0]>x", "cc[1][1]>x"}},
        {"chan priority cc[1] < x;", {"x>cc[1][0]", "x>cc[1][1]"}},
        // Two declarations add to one relation.
        {"chan priority a < b; chan priority c < d;", {"b>a", "d>c"}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.declarations);
        Compiled c = compile(withPriorities(k.declarations));
        EXPECT_TRUE(c.system->hasPriorities);
        EXPECT_EQ(c.system->getPriorityDimension(), channelCount() + 1);
        EXPECT_EQ(relation(c), k.expected);
    }
}

TEST(ChannelPriorities, ProcessPrioritiesAloneSizeAnEmptyRelation)
{
    const std::string model = "chan a, b;\n"
                              "process P() { state A; init A; }\n"
                              "Q = P(); R = P();\n"
                              "system Q < R;\n";
    Compiled c = compile(model);
    EXPECT_TRUE(c.system->hasPriorities);
    EXPECT_EQ(c.system->getPriorityDimension(), 3u);
    EXPECT_EQ(bitCount(c), 0u);

    Compiled none = compile("chan a; process P() { state A; init A; } system P;");
    EXPECT_FALSE(none.system->hasPriorities);
    EXPECT_EQ(none.system->getPriorityDimension(), 0u);
}

TEST(ChannelPriorities, ChannelsAboveEachOtherAreRefusedNamingBoth)
{
    // a is channel 1 and b channel 2, also through the closure of a longer cycle.
    EXPECT_EQ(compileError(withPriorities("chan priority a < b; chan priority b < a;")),
              "$Inconsistent_priorities_for_channels 1 $and 2");
    EXPECT_EQ(compileError(withPriorities("chan priority a < b < c; chan priority c < a;")),
              "$Inconsistent_priorities_for_channels 1 $and 2");
}

TEST(ChannelPriorities, ForcedTotalOrder)
{
    ForcedOrder forced;

    // Without the default the first declaration's head goes above it, and the channels not
    // named take the default's place.
    Compiled c = compile(withPriorities("chan priority a < b;"));
    EXPECT_TRUE(c.system->priorityOrderTotal);
    const std::vector<std::string> unnamed = {"c", "d", "ca[0]", "ca[1]", "ca[2]",
                                              "cc[0][0]", "cc[0][1]", "cc[1][0]", "cc[1][1]", "x"};
    EXPECT_EQ(relation(c), join(join(above({"a", "b"}, {"default"}), {"b>a"}), above({"a", "b"}, unnamed)));

    // A declaration that names the default keeps it where it stands.
    Compiled named = compile(withPriorities("chan priority a < default < b;"));
    EXPECT_TRUE(named.system->priorityOrderTotal);
    EXPECT_TRUE(named.system->isHigherPriority(0, 1));

    EXPECT_EQ(compileError(withPriorities("chan priority a < b; chan priority c < d;")),
              "$Priority_declaration_must_be_on_single_line");
}

TEST(ChannelPriorities, ForcedOrderWithOnlyProcessPriorities)
{
    // No channel declaration: there is no head to put above the default, and the empty relation
    // is a total order of one level.
    ForcedOrder forced;
    Compiled c = compile("chan a, b;\n"
                         "process P() { state A; init A; }\n"
                         "Q = P(); R = P();\n"
                         "system Q < R;\n");
    EXPECT_TRUE(c.system->hasPriorities);
    EXPECT_TRUE(c.system->priorityOrderTotal);
    EXPECT_EQ(bitCount(c), 0u);
}

TEST(ChannelPriorities, VerificationTakesTheHighestEnabledSynchronisation)
{
    // The verdicts of the queries beside each model: "+" satisfied, "-" not. Without priorities
    // every query of both models holds.
    struct Case
    {
        const char* model;
        const char* environment;
        const char* verdicts;
    };
    const std::vector<Case> cases = {
        // c is taken before anything else; after c[0], b and the default d go before a; after
        // c[1], a alone is enabled and taken.
        {"comp_priorities", "", "++-+++"},
        {"comp_priorities", "MIRVEK_FORCE_FULL_PRIORITY_ORDER=1", "++-+++"},
        // P2 moves before P1 can.
        {"comp_process_priorities", "", "-++"},
        {"comp_process_priorities", "MIRVEK_FORCE_FULL_PRIORITY_ORDER=1", "-++"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(std::string(k.model) + " " + k.environment);
        const std::string name = k.model;
        const ProgramRun r = runProgram(modelPath(name + ".xta"), k.environment, modelPath(name + ".q"));
        EXPECT_EQ(r.status, 0) << r.err;
        std::string verdicts;
        const std::string mark = "Formula is ";
        for (size_t at = r.out.find(mark); at != std::string::npos; at = r.out.find(mark, at + 1)) {
            verdicts += r.out.compare(at + mark.size(), 3, "NOT") == 0 ? "-" : "+";
        }
        EXPECT_EQ(verdicts, k.verdicts) << r.out;
    }
}

TEST(ChannelPriorities, RefusedDeclarationsStopTheRun)
{
    const std::string model = modelPath("comp_error_priorities.xta");
    const ProgramRun inconsistent = runProgram(model, "");
    EXPECT_EQ(inconsistent.status, 1);
    EXPECT_NE(inconsistent.err.find("Inconsistent priorities for channels 1 and 2."), std::string::npos)
        << inconsistent.err;
    const ProgramRun forced = runProgram(model, "MIRVEK_FORCE_FULL_PRIORITY_ORDER=1");
    EXPECT_EQ(forced.status, 1);
    EXPECT_NE(forced.err.find("Priority declaration must be on single line."), std::string::npos) << forced.err;
}
