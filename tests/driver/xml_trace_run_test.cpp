// Whole runs with -X: which traces are written, to which files, and what is reported.

#include "program_runner.h"
#include "xml_trace_document.h"

namespace {

class XMLTraceRun : public ProgramTest
{};

const std::string gateVerdictsWithFiles = "\nVerifying formula 1 at line 1\n"
                                          " -- Formula is satisfied.\n"
                                          "XMLTrace outputted to: tr1.xml\n"
                                          "\nVerifying formula 2 at line 2\n"
                                          " -- Formula is NOT satisfied.\n"
                                          "XMLTrace outputted to: tr2.xml\n"
                                          "\nVerifying formula 3 at line 3\n"
                                          " -- Formula is NOT satisfied.\n";

} // namespace

// Every query with a trace writes the next numbered file; queries without one take no number.
TEST_F(XMLTraceRun, EachTraceGoesToTheNextNumberedFile)
{
    fixture("vc_gate.xta", "m.xta");
    fixture("vc_gate.q", "q.q");
    RunResult r = run({"-q", "-s", "-t0", "-X", "tr", "m.xta", "q.q"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, gateVerdictsWithFiles);
    EXPECT_EQ(r.err, "");
    EXPECT_FALSE(fs::exists(dir / "tr3.xml"));
    auto root = xmltracetest::readDocument((dir / "tr1.xml").string());
    ASSERT_TRUE(root);
    EXPECT_EQ((*root)["initial_node"], "State1");
    EXPECT_EQ(root->byId("node").size(), 2u);
    auto transitions = root->all("transition");
    ASSERT_EQ(transitions.size(), 1u);
    EXPECT_EQ(transitions[0]->attributes, (std::map<std::string, std::string>{
                                              {"from", "State1"}, {"to", "State2"}, {"edges", "P.Edge1 "}}));

    // The first trace of a run is number 1 whatever its query's number.
    file("b.q", "E<> P.c\nE<> P.b\n");
    fs::remove(dir / "tr1.xml");
    r = run({"-q", "-s", "-t0", "-X", "tr", "m.xta", "b.q"});
    EXPECT_EQ(r.out, "\nVerifying formula 1 at line 1\n -- Formula is NOT satisfied.\n"
                     "\nVerifying formula 2 at line 2\n -- Formula is satisfied.\n"
                     "XMLTrace outputted to: tr1.xml\n");
    EXPECT_TRUE(fs::exists(dir / "tr1.xml"));

    // The initial state answers: a trace of one step, the system part alone.
    file("a.q", "E<> P.a\n");
    r = run({"-q", "-s", "-t0", "-X", "one", "m.xta", "a.q"});
    EXPECT_TRUE(r.out.ends_with("XMLTrace outputted to: one1.xml\n")) << r.out;
    root = xmltracetest::readDocument((dir / "one1.xml").string());
    ASSERT_TRUE(root);
    EXPECT_FALSE(root->has("initial_node"));
    EXPECT_EQ(root->groups(), std::vector<std::string>{"system"});

    // Trace files win over XML traces.
    r = run({"-q", "-s", "-t0", "-f", "pre", "-X", "both", "m.xta", "q.q"});
    EXPECT_EQ(r.err, "Writing example trace to pre-1.xtr\nWriting counter example to pre-2.xtr\n");
    EXPECT_EQ(r.out.find("XMLTrace"), std::string::npos) << r.out;
    EXPECT_TRUE(fs::exists(dir / "pre-1.xtr"));
    EXPECT_FALSE(fs::exists(dir / "both1.xml"));
}

// The counterexample of a liveness property ends in a loop back to a state met before: one node
// that the loop's transition leaves and enters.
TEST_F(XMLTraceRun, ALoopReturnsToItsNode)
{
    fixture("xtr_loop.xta", "m.xta");
    file("q.q", "A<> P.b\n");
    RunResult r = run({"-q", "-s", "-t0", "-X", "tr", "m.xta", "q.q"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "\nVerifying formula 1 at line 1\n -- Formula is NOT satisfied.\n"
                     "XMLTrace outputted to: tr1.xml\n");
    auto root = xmltracetest::readDocument((dir / "tr1.xml").string());
    ASSERT_TRUE(root);
    EXPECT_EQ(root->byId("node").size(), 1u);
    auto transitions = root->all("transition");
    ASSERT_FALSE(transitions.empty());
    EXPECT_EQ((*transitions.back())["from"], "State1");
    EXPECT_EQ((*transitions.back())["to"], "State1");
}

// A file that cannot be created is reported, not announced, and the run goes on; having answered
// every query, it ends with status 1, since a trace the user asked for is missing.
TEST_F(XMLTraceRun, AFileThatCannotBeCreatedIsReported)
{
    fixture("vc_gate.xta", "m.xta");
    fixture("vc_gate.q", "q.q");
    RunResult r = run({"-q", "-s", "-t0", "-X", "absent/tr", "m.xta", "q.q"});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.out.find("\nVerifying formula 2 at line 2\n -- Formula is "), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("XMLTrace"), std::string::npos) << r.out;
    EXPECT_EQ(r.err, "Somewhere something went terribly wrong in creating the XML Writer\n"
                     "Filename: absent/tr1.xml\n"
                     "Somewhere something went terribly wrong in creating the XML Writer\n"
                     "Filename: absent/tr2.xml\n");
}
