// Whole runs that combine search options: the convex hull with and without traces, the reuse of
// the state space, the space optimisation levels, concrete traces and the summary of sweep-line
// searches. Each option may change how much is explored, never what is answered.

#include <regex>
#include <sstream>

#include "program_runner.h"
#include "random_models.h"

namespace {

class SearchOptionsRun : public ProgramTest
{
protected:
    // The verdicts of a run in query order ("satisfied", "NOT satisfied", "MAY be satisfied",
    // "MAY NOT be satisfied", "Aborted"), and the run itself for the messages.
    std::vector<std::string> verdicts(const std::vector<std::string>& args, RunResult* result = nullptr)
    {
        std::vector<std::string> words = {"-q", "-s"};
        words.insert(words.end(), args.begin(), args.end());
        RunResult r = run(words);
        static const std::regex verdict(" -- (?:Formula (is )?)?(satisfied|NOT satisfied|MAY be satisfied|"
                                        "MAY NOT be satisfied|Aborted)\\.\n");
        std::vector<std::string> found;
        for (std::sregex_iterator it(r.out.begin(), r.out.end(), verdict), end; it != end; ++it) {
            found.push_back((*it)[2]);
        }
        if (result != nullptr) {
            *result = std::move(r);
        }
        return found;
    }

    static std::string lines(const std::vector<std::string>& queries)
    {
        std::string text;
        for (const std::string& q : queries) {
            text += q + "\n";
        }
        return text;
    }
};

bool definite(const std::string& verdict)
{
    return verdict == "satisfied" || verdict == "NOT satisfied";
}

std::string joined(const std::vector<std::string>& verdicts)
{
    std::string text;
    for (const std::string& v : verdicts) {
        text += "[" + v + "] ";
    }
    return text;
}

} // namespace

// A goal of the convex hull is sure only when the replay of its trace shows a run of the model
// that reaches it; otherwise the hull can only say "may", whatever trace was asked for.
TEST_F(SearchOptionsRun, ConvexHullGoalsAreSureOnlyWhenATraceConfirmsThem)
{
    fixture("vc_hull_gap.xta", "gap.xta");
    fixture("vc_hull_spurious.xta", "a.xta");
    fixture("vc_hull_spurious_b.xta", "b.xta");
    // The hull of `mid` enables the edge to `goal`, which no run takes; the third goal is real.
    file("gap.q", "E<> P.goal\nA[] not P.goal\nE<> P.mid && x == 2 && y == 0\n");
    file("a.q", "A[] !(P0.l2 && P4.l1 && P2.l0)\n");
    file("b.q", "A[] !((P0.l3 || P0.l2) && P1.l2)\n");
    struct Case
    {
        std::vector<std::string> options;
        std::vector<std::string> gap;
        std::string a;
        std::string b;
    };
    const Case cases[] = {
        {{}, {"NOT satisfied", "satisfied", "satisfied"}, "NOT satisfied", "NOT satisfied"},
        {{"-A"}, {"MAY be satisfied", "MAY NOT be satisfied", "MAY be satisfied"}, "MAY NOT be satisfied",
         "MAY NOT be satisfied"},
        {{"-A", "-t0"}, {"MAY be satisfied", "MAY NOT be satisfied", "satisfied"}, "MAY NOT be satisfied",
         "MAY NOT be satisfied"},
        {{"-A", "-t1"}, {"MAY be satisfied", "MAY NOT be satisfied", "satisfied"}, "MAY NOT be satisfied",
         "MAY NOT be satisfied"},
        {{"-A", "-t2"}, {"MAY be satisfied", "MAY NOT be satisfied", "satisfied"}, "MAY NOT be satisfied",
         "MAY NOT be satisfied"},
    };
    for (const Case& c : cases) {
        std::string name;
        for (const std::string& o : c.options) {
            name += o + " ";
        }
        for (const auto& [model, expected] : {std::make_pair(std::string("gap"), c.gap),
                                              std::make_pair(std::string("a"), std::vector<std::string>{c.a}),
                                              std::make_pair(std::string("b"), std::vector<std::string>{c.b})}) {
            std::vector<std::string> args = c.options;
            args.push_back(model + ".xta");
            args.push_back(model + ".q");
            RunResult r;
            EXPECT_EQ(verdicts(args, &r), expected) << name << model;
            EXPECT_EQ(r.status, 0) << name << model << ": " << r.err;
            EXPECT_EQ(r.err.find("EXCEPTION"), std::string::npos) << name << model << ": " << r.err;
        }
    }

    // The confirmed goal comes with its trace; the others with none.
    RunResult r;
    verdicts({"-A", "-t0", "gap.xta", "gap.q"}, &r);
    EXPECT_EQ(r.out, "\nVerifying formula 1 at line 1\n -- Formula MAY be satisfied.\n"
                     "\nVerifying formula 2 at line 2\n -- Formula MAY NOT be satisfied.\n"
                     "\nVerifying formula 3 at line 3\n -- Formula is satisfied.\nShowing example trace.\n");

    // The values of an infimum come from every state the hull stored, which no trace confirms.
    file("inf.q", "inf{P.goal}: x\n");
    for (const char* trace : {"-t0", "-t1"}) {
        verdicts({"-A", trace, "gap.xta", "inf.q"}, &r);
        EXPECT_EQ(r.out, "\nVerifying formula 1 at line 1\n -- Formula MAY be satisfied.\ninf{P.goal}:\nx >= 1\n")
            << trace;
    }
    verdicts({"gap.xta", "inf.q"}, &r);
    EXPECT_EQ(r.out, "\nVerifying formula 1 at line 1\n -- Formula is satisfied.\ninf{P.goal}:\nx ???\n");

    // Nor does any trace confirm the loops that liveness checks find in the hull.
    file("live.q", "A<> P.goal\nE[] not P.goal\n");
    EXPECT_EQ(verdicts({"gap.xta", "live.q"}), (std::vector<std::string>{"NOT satisfied", "satisfied"}));
    EXPECT_EQ(verdicts({"-A", "-t0", "gap.xta", "live.q"}, &r),
              (std::vector<std::string>{"MAY NOT be satisfied", "MAY be satisfied"}));
    EXPECT_EQ(r.err.find("EXCEPTION"), std::string::npos) << r.err;
}

// Over random small models: the hull, with or without any trace option, never gives a definite
// verdict that the exact search contradicts, and never fails to print a trace.
TEST_F(SearchOptionsRun, ConvexHullNeverContradictsTheExactSearch)
{
    const std::vector<std::vector<std::string>> hullOptions = {{"-A"}, {"-A", "-t0"}, {"-A", "-t1"}, {"-A", "-t2"}};
    int compared = 0;
    for (uint32_t seed = 1; seed <= 8; ++seed) {
        randommodels::Generator generator(seed);
        const randommodels::Model model = generator.make({}, 8);
        file("m.xta", model.text);
        file("m.q", lines(model.queries));
        RunResult r;
        const std::vector<std::string> exact = verdicts({"m.xta", "m.q"}, &r);
        ASSERT_EQ(r.status, 0) << "seed " << seed << ": " << r.err << "\n" << model.text;
        ASSERT_EQ(exact.size(), model.queries.size()) << "seed " << seed << "\n" << r.out;
        for (const std::vector<std::string>& options : hullOptions) {
            std::vector<std::string> args = options;
            args.push_back("m.xta");
            args.push_back("m.q");
            const std::vector<std::string> hull = verdicts(args, &r);
            const std::string name = "seed " + std::to_string(seed) + " " + joined(options);
            EXPECT_EQ(r.status, 0) << name << ": " << r.err;
            EXPECT_EQ(r.err.find("EXCEPTION"), std::string::npos) << name << ": " << r.err;
            ASSERT_EQ(hull.size(), exact.size()) << name << "\n" << r.out;
            for (size_t q = 0; q < exact.size(); ++q) {
                if (definite(hull[q])) {
                    EXPECT_EQ(hull[q], exact[q]) << name << ", " << model.queries[q] << "\n" << model.text;
                    ++compared;
                }
            }
        }
    }
    // The hull decides most of these queries by itself.
    EXPECT_GT(compared, 100);
}

// A reused state space answers as a fresh search does: the states the space optimisation did
// not store are found again from the stored ones, broadcasts to clock-guarded receivers,
// priorities and committed locations included.
TEST_F(SearchOptionsRun, ReuseAnswersAsAFreshSearch)
{
    struct Case
    {
        const char* model;
        const char* queries;
    };
    const Case cases[] = {
        {"vc_reuse_broadcast.xta", "E<> v == 7\nE<> S.s1 && R.r1\nE<> S.s1 && R.r0\nE<> S.s1\nE<> S.s2 && R.r1 && x < 2\n"},
        {"successor_broadcast_gate.xta", "E<> S.t && R.r\nE<> S.t && R.r2\nE<> Gate.b\nA[] not (S.t && R.r)\n"},
        {"successor_committed_receiver.xta", "E<> S.t && R.r\nE<> S.t && R.a\nE<> R.r\nE<> S.t\n"},
        {"successor_priority_gate.xta", "E<> Lo.t && Hi.s\nE<> Lo.t && Hi.t\nE<> Lo.s\nA[] Lo.t imply Hi.t\n"},
        {"successor_priority_window.xta",
         "E<> Lo.t && x > 1 && x < 2\nE<> Lo.t && x < 1\nE<> Lo.t && x > 2\nE<> Hi.t\n"},
        {"successor_channel_priorities.xta", "E<> A.t && x > 2\nE<> B.t\nE<> T.t && x < 1\nE<> RA.t && RB.t\n"},
        {"vc_priorities.xta", "E<> S.sent\nA[] S.idle\n"},
        {"successor_fischer.xta", "E<> P(1).cs && P(2).cs\nE<> P(1).cs\nA[] id <= 3\nE<> P(3).wait && id == 1\n"},
        {"vc_gate.xta", "E<> P.b\nA[] x <= 5\nE<> P.c\n"},
    };
    for (const Case& c : cases) {
        fixture(c.model, "m.xta");
        file("m.q", c.queries);
        for (const char* space : {"1", "2"}) {
            const std::string name = std::string(c.model) + " -S " + space;
            RunResult r;
            const std::vector<std::string> fresh = verdicts({"-S", space, "m.xta", "m.q"}, &r);
            ASSERT_EQ(r.status, 0) << name << ": " << r.err;
            const std::vector<std::string> reused = verdicts({"-T", "-S", space, "m.xta", "m.q"}, &r);
            EXPECT_EQ(r.status, 0) << name << ": " << r.err;
            EXPECT_EQ(reused, fresh) << name;
        }
    }
    // The verdicts of the broadcast fixture, which the reuse once lost.
    fixture("vc_reuse_broadcast.xta", "m.xta");
    file("m.q", "E<> v == 7\nE<> S.s1 && R.r1\nE<> S.s1 && R.r0\nE<> S.s1\n");
    EXPECT_EQ(verdicts({"-T", "m.xta", "m.q"}),
              (std::vector<std::string>{"NOT satisfied", "satisfied", "satisfied", "satisfied"}));
}

// The same over random models with committed locations, broadcasts to clock-guarded receivers
// and priorities.
TEST_F(SearchOptionsRun, ReuseAnswersAsAFreshSearchOnRandomModels)
{
    int compared = 0;
    for (uint32_t seed = 17; seed <= 32; ++seed) {
        randommodels::Generator generator(seed);
        randommodels::Features features;
        features.committed = true;
        features.broadcast = true;
        features.priorities = seed % 3 == 0;
        randommodels::Model model = generator.make(features, 2);
        // A first query that explores everything, then where each process can be: the reused
        // space must show the states it did not store.
        model.queries.insert(model.queries.begin(), "A[] true");
        for (const std::string& location : model.locations) {
            model.queries.push_back("E<> " + location);
        }
        file("m.xta", model.text);
        file("m.q", lines(model.queries));
        const std::string name = "seed " + std::to_string(seed);
        RunResult r;
        const std::vector<std::string> fresh = verdicts({"m.xta", "m.q"}, &r);
        if (r.status != 0) {
            // A combination the symbolic checks refuse (a priority on a broadcast with clock
            // guards, say): both runs must refuse it alike.
            const RunResult refused = r;
            verdicts({"-T", "m.xta", "m.q"}, &r);
            EXPECT_EQ(r.status, refused.status) << name;
            EXPECT_EQ(r.err, refused.err) << name;
            continue;
        }
        // Conservative and aggressive space optimisation in turn: both leave states unstored.
        const char* space = seed % 2 == 0 ? "2" : "1";
        const std::vector<std::string> reused = verdicts({"-T", "-S", space, "m.xta", "m.q"}, &r);
        EXPECT_EQ(r.status, 0) << name << ": " << r.err;
        EXPECT_EQ(reused, fresh) << name << " -S " << space << "\n" << model.text << lines(model.queries);
        ++compared;
    }
    EXPECT_GT(compared, 10);
}

// Every space optimisation level the command line accepts ends on a finite state space, and
// answers as the others do.
TEST_F(SearchOptionsRun, EverySpaceOptimisationLevelEnds)
{
    fixture("vc_cycle.xta", "m.xta");
    file("m.q", "E<> P.i && P.a\nE<> P.b\nA[] not P.i or not P.a\n");
    for (const char* space : {"0", "1", "2", "3"}) {
        RunResult r;
        EXPECT_EQ(verdicts({"-S", space, "m.xta", "m.q"}, &r),
                  (std::vector<std::string>{"NOT satisfied", "satisfied", "satisfied"}))
            << "-S " << space;
        EXPECT_EQ(r.status, 0) << "-S " << space << ": " << r.err;
    }

    // The usage text offers 0, 1 and 2; 3 is still accepted and keeps and explores the states
    // that 2 does.
    auto counts = [&](const char* space) {
        const RunResult r = run({"-q", "-s", "-u", "-S", space, "m.xta", "m.q"});
        EXPECT_EQ(r.status, 0) << "-S " << space << ": " << r.err;
        std::string figures;
        std::istringstream lines(r.out);
        for (std::string line; std::getline(lines, line);) {
            if (line.starts_with(" -- States ")) {
                figures += line + "\n";
            }
        }
        return figures;
    };
    const std::string aggressive = counts("2");
    EXPECT_NE(aggressive, "");
    EXPECT_EQ(counts("3"), aggressive);
    EXPECT_NE(counts("0"), aggressive);
}

// A concrete trace shows the values of the run: each transition's updates are applied once, to
// the values before it.
TEST_F(SearchOptionsRun, ConcreteTracesShowTheValuesOfTheRun)
{
    fixture("vc_trace_counter.xta", "n.xta");
    file("n.q", "E<> P.b\nE<> v == 2\n");
    RunResult r;
    EXPECT_EQ(verdicts({"-t0", "n.xta", "n.q"}, &r), (std::vector<std::string>{"satisfied", "satisfied"}));
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string run = "\nState:\n( P.a )\nv=0 \n"
                            "\nTransitions:\n  P.a->P.b { 1, tau, v := v + 2 }\n"
                            "\nState:\n( P.b )\nv=2 \n";
    EXPECT_EQ(r.err, run + run);

    // The clock takes the value v has after the step's first update, as the run computes it.
    fixture("vc_trace_clock.xta", "c.xta");
    file("c.q", "E<> P.c\n");
    EXPECT_EQ(verdicts({"-t0", "c.xta", "c.q"}, &r), (std::vector<std::string>{"satisfied"}));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "\nState:\n( P.a )\nx=0 v=0 \n"
                     "\nTransitions:\n  P.a->P.b { 1, tau, v := v + 1, x := v }\n"
                     "\nState:\n( P.b )\nx=1 v=1 \n"
                     "\nTransitions:\n  P.b->P.c { x == 1, tau, 1 }\n"
                     "\nState:\n( P.c )\nx=1 v=1 \n");
}

// A sweep-line search forgets the states behind it; its summary still counts those it stored.
TEST_F(SearchOptionsRun, SweepLineSummariesCountTheStoredStates)
{
    fixture("reach_progress.xta", "m.xta");
    file("m.q", "E<> false\n");
    const std::regex stored(" -- States stored : ([0-9]+) states\n");
    auto storedCount = [&](const std::vector<std::string>& env) {
        const RunResult r = run({"-q", "-s", "-u", "m.xta", "m.q"}, env);
        std::smatch m;
        EXPECT_TRUE(std::regex_search(r.out, m, stored)) << r.out;
        return m.size() > 1 ? std::stoi(m[1]) : -1;
    };
    // p = 0, 1, 2 before and after the step back: as many as the search without a sweep line.
    EXPECT_EQ(storedCount({}), 6);
    EXPECT_EQ(storedCount({"MIRVEK_DISABLE_SWEEPLINE=1"}), 6);
}
