// Whole runs of E[], A<> and --> queries: a loop that stays in the region, a loop whose zone
// shrinks on every turn, a loop that takes no time, a deadlock and an unbounded delay inside the
// region, a region with a gap that time cannot cross, a receiver that misses a broadcast, time
// standing still in committed locations, and leads-to refuted by a loop from the first state;
// and robust reachability, where drifting clocks reach what exact ones do not.

#include <regex>

#include "program_runner.h"

namespace {

class LivenessRun : public ProgramTest
{
protected:
    // The verdicts of the queries, in order ("satisfied" or "NOT satisfied").
    std::vector<std::string> verdicts(const std::string& out)
    {
        std::vector<std::string> found;
        const std::regex verdict(" -- Formula is (NOT satisfied|satisfied)\\.");
        for (auto it = std::sregex_iterator(out.begin(), out.end(), verdict); it != std::sregex_iterator(); ++it) {
            found.push_back((*it)[1]);
        }
        return found;
    }
};

const std::string yes = "satisfied";
const std::string no = "NOT satisfied";

} // namespace

TEST_F(LivenessRun, VerdictsOfEachKindOfInfiniteRun)
{
    struct Case
    {
        std::string model;
        std::string queries;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        // The worker may turn for ever, and need never be done.
        {"live_loop.xta", "E[] P.work\nA<> P.done\nE[] x <= 5\nA<> x > 5\n", {yes, no, yes, no}},
        // Below the deadline the turns cannot go on for ever; at it time stops.
        {"live_shrink.xta", "E[] y < 10\nA<> y >= 10\nE[] y <= 10\n", {no, yes, yes}},
        // The run that ends in `stuck` stays in x <= 8 for ever.
        {"live_deadlock.xta", "E[] x <= 8\nA<> x > 8\nE[] P.idle\nA<> P.stuck\n", {yes, no, no, yes}},
        // Time does not pass in the committed location, unbounded as its zone is.
        {"live_committed.xta", "E[] P.C\nA<> P.B\n", {no, yes}},
        // A request may be turned away for ever; a served one may wait for ever.
        {"live_leadsto.xta", "P.request --> P.served\nP.served --> P.request\nP.request --> x <= 5\n",
         {no, no, yes}},
        // The loop takes no time, so it may go on for ever inside A, even inside x < 1.
        {"live_zeno.xta", "E[] P.A\nA<> P.B\nE[] x < 1\nA<> x >= 1\n", {yes, no, yes, no}},
        // A run stuck in A past x = 2 stays there; the region x <= 2 || x >= 4 is not held
        // across its gap, neither in A nor in B; from B time passes for ever.
        {"live_gap.xta", "E[] P.A\nE[] x <= 2 || x >= 4\nP.B --> P.C\nA<> P.B || P.C\n", {yes, no, no, no}},
        // The receiver may miss the broadcast; the sender cannot stay.
        {"live_broadcast.xta", "E[] R.A\nA<> R.B\nE[] S.A\nS.B --> R.B\nA<> S.B\n", {yes, no, no, no, yes}},
        // Exactly B is never entered late; with drifting clocks it is.
        {"live_drift.xta", "E<> P.B && x > 0\nE<>* P.B && x > 0\nA[]* !(P.B && x > 0)\n", {no, yes, no}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.model);
        fixture(c.model, "m.xta");
        file("q.q", c.queries);
        const RunResult r = run({"-q", "-s", "m.xta", "q.q"});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(verdicts(r.out), c.expected) << r.out;
        EXPECT_EQ(r.err, "");
    }

    // Without the committed mark, time passes in C for ever.
    std::string model = slurp(fs::path(MIRVEK_TEST_MODELS) / "live_committed.xta");
    model.replace(model.find("    commit C;\n"), 14, "");
    file("m.xta", model);
    file("q.q", "E[] P.C\nA<> P.B\n");
    const RunResult r = run({"-q", "-s", "m.xta", "q.q"});
    EXPECT_EQ(verdicts(r.out), (std::vector<std::string>{yes, no})) << r.out << r.err;
}

TEST_F(LivenessRun, TracesShowTheLoopOrTheStateWhereTheRunStays)
{
    struct Case
    {
        std::string model;
        std::string query;
        std::string out;
        std::string trace;
    };
    const std::string turn = "\nTransitions:\n  P.work->P.work { x >= 1, tau, x := 0 }\n";
    const Case cases[] = {
        // E[]: the loop from the first state back into it.
        {"live_loop.xta", "E[] P.work\n", " -- Formula is satisfied.\nShowing example trace.\n",
         "\nState\n\n( P.work )\nx<=5 \n" + turn + "\nState\n\n( P.work )\nx<=5 \n"},
        // A<>: the run into the location where it deadlocks, never beyond x = 8.
        {"live_deadlock.xta", "A<> x > 8\n", " -- Formula is NOT satisfied.\nShowing counter example.\n",
         "\nState\n\n( P.idle )\nx<=5 \n\nTransitions:\n  P.idle->P.stuck { x >= 2, tau, 1 }\n"
         "\nState\n\n( P.stuck )\nx>=2, x<=8 \n"},
        // -->: the request turned away from the first state on.
        {"live_leadsto.xta", "P.request --> P.served\n", " -- Formula is NOT satisfied.\nShowing example trace.\n",
         "\nState\n\n( P.request )\nx<=5 \n\nTransitions:\n  P.request->P.request { x >= 1, tau, x := 0 }\n"
         "\nState\n\n( P.request )\nx<=5 \n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.model);
        fixture(c.model, "m.xta");
        file("q.q", c.query);
        const RunResult r = run({"-q", "-s", "-t0", "m.xta", "q.q"});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, "\nVerifying formula 1 at line 1\n" + c.out);
        EXPECT_EQ(r.err, c.trace);
    }
}
