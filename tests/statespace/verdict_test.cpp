// Reachability verdicts on small models whose answers are worked out by hand: priorities that cut
// zones, guarded broadcast receivers, and the extrapolations that must keep what they decide by.

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "reach_fixture.h"
#include "runtime/channels.h"
#include "runtime/system.h"

namespace {

using reachtest::Options;
using reachtest::Search;

struct Verdict
{
    const char* goal;
    bool reachable;
};

// Each goal searched for on the model with the given options.
void expectVerdicts(reachtest::CompiledModel& model, const Options& options, const std::vector<Verdict>& verdicts,
                    const std::string& name)
{
    for (const Verdict& v : verdicts) {
        SCOPED_TRACE(name + ": " + v.goal);
        {
            Search search(*model.system, reachtest::formula(model, v.goal), options);
            EXPECT_EQ(search.run(), v.reachable);
        }
        EXPECT_EQ(model.system->statesInUse(), 0u);
    }
}

// The extrapolations a run may use (no extrapolation, difference, location, lower/upper), with
// lower/upper also asked to keep its constants apart.
struct Extrapolation
{
    const char* name;
    const char* stage;
    bool lowerUpper;
};
const Extrapolation extrapolations[] = {
    {"none", "", true},
    {"difference", FILTER_DIFFERENCE_EXTRAPOLATION, true},
    {"location", FILTER_LOCAL_EXTRAPOLATION, true},
    {"lower/upper merged", FILTER_LU_LOCAL_EXTRAPOLATION, false},
    {"lower/upper apart", FILTER_LU_LOCAL_EXTRAPOLATION, true},
};

Options with(const Extrapolation& e)
{
    Options options;
    options.extrapolation = e.stage;
    options.lowerUpper = e.lowerUpper;
    return options;
}

// The model declares process priorities; the chain then resolves them.
reachtest::CompiledModel& withPriorities(const char* fixture)
{
    reachtest::CompiledModel* model = reachtest::compileModel(reachtest::fixture(fixture));
    model->system->hasPriorities = true;
    return *model;
}

// The number of the channel of that name in the model compiled last.
int32_t channelNumber(const std::string& name)
{
    for (const ChannelInfo& channel : channelRegistry()) {
        if (channel.name == name) {
            return channel.number;
        }
    }
    ADD_FAILURE() << "no channel " << name;
    return 0;
}

}  // namespace

TEST(Verdicts, ALowerTransitionFiresOnlyWhereNoHigherOneIsEnabled)
{
    reachtest::CompiledModel& model = withPriorities("successor_priority_window.xta");
    for (const Extrapolation& e : extrapolations) {
        expectVerdicts(model, with(e),
                       {
                           // Lo moves before Hi's window or after it, never inside it.
                           {"Lo.t && Hi.s && x < 1", true},
                           {"Lo.t && Hi.s && x >= 1 && x <= 2", false},
                           {"Lo.t && Hi.s && x > 2", true},
                           {"Lo.t && Hi.s && x > 3", false},
                           // Once Hi has moved, Lo is free up to its own bound.
                           {"Lo.t && Hi.t && x > 2", true},
                           {"Lo.t && Hi.t && x < 1", false},
                       },
                       e.name);
    }
}

TEST(Verdicts, ExtrapolationKeepsWhatPrioritiesAndGuardedReceiversDecideBy)
{
    // Both models reach x >= 5 with a transition waiting that may fire only below 2 (where the
    // higher transition or the receiver's guard is off). Extrapolation must not let values
    // below 2 back in, whichever kind is used.
    reachtest::CompiledModel& priorities = withPriorities("successor_priority_gate.xta");
    reachtest::CompiledModel* broadcast = reachtest::compileModel(reachtest::fixture("successor_broadcast_gate.xta"));
    ASSERT_TRUE(broadcast->system->broadcastClockGuards);
    for (const Extrapolation& e : extrapolations) {
        expectVerdicts(priorities, with(e),
                       {
                           {"Lo.t && Hi.s", false},
                           {"Lo.s && Hi.s", true},
                           {"Lo.t && Hi.t", true},
                       },
                       std::string("priorities, ") + e.name);
        expectVerdicts(*broadcast, with(e),
                       {
                           {"S.t && R.r", false},
                           {"S.t && R.r2", true},
                           {"S.s && R.r", true},
                       },
                       std::string("guarded receivers, ") + e.name);
    }
}

TEST(Verdicts, AStateIsEnteredOnlyWhereItsInvariantHolds)
{
    reachtest::CompiledModel* model = reachtest::compileModel(reachtest::fixture("successor_invariant_entry.xta"));
    for (const Extrapolation& e : extrapolations) {
        expectVerdicts(*model, with(e),
                       {
                           {"P.b", false},
                           {"P.e", false},
                           {"P.c", true},
                           {"P.c && x < 3", false},
                       },
                       e.name);
    }
}

TEST(Verdicts, AClockCopiedIntoAnotherKeepsTheOthersConstants)
{
    reachtest::CompiledModel* model = reachtest::compileModel(reachtest::fixture("successor_clock_copy.xta"));
    ASSERT_TRUE(model->system->hasClockCopies);
    for (const Extrapolation& e : extrapolations) {
        expectVerdicts(*model, with(e),
                       {
                           {"P.d", false},
                           {"P.c && x >= 10", true},
                           {"P.c && x < 10", false},
                       },
                       e.name);
    }
}

TEST(Verdicts, ChannelPrioritiesCutTheZoneOfTheLowerHandshake)
{
    // b above a, edges without synchronisation unordered (transitions compared pairwise); then
    // b above a above them (a full order, resolved class by class).
    struct Mode
    {
        const char* name;
        bool aboveUnsynchronised;
        std::vector<Verdict> verdicts;
    };
    const Mode modes[] = {
        {"pairwise",
         false,
         {
             {"A.t && B.s && x >= 1 && x <= 2", false},
             {"A.t && B.s && x < 1", true},
             {"A.t && B.s && x > 2", true},
             {"T.t && B.s && x >= 1 && x <= 2", true},
             {"T.t && A.s && x < 1", true},
         }},
        {"full order",
         true,
         {
             {"A.t && B.s && x >= 1 && x <= 2", false},
             {"A.t && B.s && x > 2", true},
             // T waits for the handshake on a, and is off while b may happen.
             {"T.t && A.s", false},
             {"T.t && B.s && x >= 1 && x <= 2", false},
             {"T.t && A.t && x < 1", true},
             {"T.t && A.t && B.s && x > 2", true},
         }},
    };
    for (const Mode& mode : modes) {
        reachtest::CompiledModel& model = withPriorities("successor_channel_priorities.xta");
        System& system = *model.system;
        const int32_t a = channelNumber("a");
        const int32_t b = channelNumber("b");
        system.resizePriorityMatrix(channelCount());
        system.addChannelPriorities({b}, {a});
        if (mode.aboveUnsynchronised) {
            system.addChannelPriorities({a}, {0});
        }
        std::string message;
        ASSERT_TRUE(system.checkChannelPriorities(message)) << message;
        EXPECT_EQ(system.priorityOrderTotal, mode.aboveUnsynchronised) << mode.name;
        for (const Extrapolation& e : extrapolations) {
            expectVerdicts(model, with(e), mode.verdicts, std::string(mode.name) + ", " + e.name);
        }
    }
}

TEST(Verdicts, ABroadcastFromACommittedStateTakesACommittedProcessAlong)
{
    reachtest::CompiledModel* model = reachtest::compileModel(reachtest::fixture("successor_committed_receiver.xta"));
    ASSERT_TRUE(model->system->broadcastClockGuards);
    for (const Extrapolation& e : extrapolations) {
        expectVerdicts(*model, with(e),
                       {
                           {"S.t && R.r", false},
                           {"S.t && R.a", true},
                           {"R.r && x < 2", true},
                           {"R.a && x < 2", false},
                       },
                       e.name);
    }
}
