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
