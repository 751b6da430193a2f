// Whole runs of scenario properties: the verdict of a chart that holds, and a query naming a chart
// the model does not have.

#include "program_runner.h"

namespace {

class ScenarioRun : public ProgramTest
{};

} // namespace

TEST_F(ScenarioRun, AChartThatHoldsIsSatisfiedAndAnUnknownOneEndsTheRun)
{
    // Invariants force the sender round its loop, so every ping is sent and received.
    fixture("lsc_answered.xml", "s.xml");
    RunResult r = run({"-q", "-s", "s.xml"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "\nVerifying formula 1: sat: Ping\n -- Formula is satisfied.\n");

    file("bad.q", "sat: Pong\n");
    r = run({"-q", "-s", "s.xml", "bad.q"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("EXCEPTION: No such scenario: Pong."), std::string::npos) << r.err;
}

TEST_F(ScenarioRun, AChartWithoutAMainChartIsAnErrorOfTheModelAtTheQuery)
{
    // No region at all, or every region in the prechart: nothing is required after the prechart.
    for (const char* chart : {"lsc_empty.xml", "lsc_preonly.xml"}) {
        fixture(chart, "s.xml");
        // The query is aborted, the others run, and the error ends the run.
        file("s.q", "E<> true\nsat: Ping\nE<> A.sent\n");
        const RunResult r = run({"-q", "-s", "s.xml", "s.q"});
        EXPECT_EQ(r.status, 1) << chart;
        EXPECT_EQ(r.out, "\nVerifying formula 1 at line 1\n -- Formula is satisfied.\n"
                         "\nVerifying formula 2 at line 2\n -- Aborted.\n"
                         "\nVerifying formula 3 at line 3\n -- Formula is satisfied.\n")
            << chart;
        EXPECT_EQ(r.err, "s.q:2: [error] Chart without main chart: Ping.\n") << chart;
    }
}

TEST_F(ScenarioRun, AModelThatCannotBeSavedIsReportedInOneLineNamingTheFile)
{
    // The scenario queries add an observer, so -x saves the model after answering them.
    fixture("lsc_loop.xml", "s.xml");
    RunResult r = run({"-q", "-s", "-x", "saved.xml", "s.xml"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::exists(dir / "saved.xml"));
    EXPECT_TRUE(fs::exists(dir / "saved.q"));

    for (const char* target : {"/nonexistent-directory/saved.xml", "/dev/full"}) {
        r = run({"-q", "-s", "-x", target, "s.xml"});
        EXPECT_EQ(r.status, 1) << target;
        EXPECT_EQ(r.out, "\nVerifying formula 1: sat: Ping\n -- Formula is satisfied.\n"
                         "\nVerifying formula 2: E<> A.idle\n -- Formula is satisfied.\n"
                         "\nVerifying formula 3: sat: Ping\n -- Formula is satisfied.\n")
            << target;
        const std::string reason = std::string(target) == "/dev/full" ? "No space left on device"
                                                                       : "No such file or directory";
        EXPECT_EQ(r.err, "EXCEPTION: Cannot write the model to " + std::string(target) + ": " + reason + ".\n");
    }
}
