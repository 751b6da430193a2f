// Whole runs over models whose lists are long: an update of a hundred thousand assignments and a
// guard of as many conjuncts are read, checked, compiled, verified and printed (in traces and in
// the compiled-model dump), in both syntaxes and from XML; real nesting is still refused with a
// positioned error. The program runs on a small stack, so that a walk that recursed once per
// operand would crash it.

#include <string>
#include <vector>

#include "program_runner.h"

namespace {

// The program runs with a stack of 256 KiB, on which a walk that recursed once per operand would
// overflow at a few thousand operands even with the small frames of the optimised build.
const char* const stackLimit = "256";
#ifdef __SANITIZE_ADDRESS__
// The sanitizers' runs are slow: fewer operands, still far too many for a recursive walk.
constexpr size_t operands = 3000;
constexpr size_t queryOperands = 3000;
constexpr size_t locations = 3000;
#else
// The lists of the model; the lists of queries and the chains of locations, walked by other
// parts, are shorter so that the runs stay short.
constexpr size_t operands = 100000;
constexpr size_t queryOperands = 10000;
constexpr size_t locations = 20000;
#endif

std::string joined(size_t n, const std::string& separator, std::string (*item)(size_t))
{
    std::string text;
    for (size_t k = 0; k < n; ++k) {
        if (k > 0) {
            text += separator;
        }
        text += item(k);
    }
    return text;
}

std::string conjunct(size_t k)
{
    switch (k % 4) {
    case 0: return "a >= 0";
    case 1: return "x >= 0";
    case 2: return "v[" + std::to_string(k % 16) + "] <= 7";
    default: return "y <= 1000000";
    }
}

// Assignments as the new syntax writes them; the older one writes ":=".
std::string assignment(size_t k)
{
    switch (k % 3) {
    case 0: return "a = " + std::to_string(k % 5);
    case 1: return "v[" + std::to_string(k % 16) + "] = " + std::to_string(k % 7);
    default: return "x = 0";
    }
}

std::string oldAssignment(size_t k)
{
    std::string text = assignment(k);
    return text.replace(text.find(" = "), 3, " := ");
}

std::string xmlEscaped(const std::string& text)
{
    std::string escaped;
    for (char c : text) {
        escaped += c == '&' ? "&amp;" : c == '<' ? "&lt;" : c == '>' ? "&gt;" : std::string(1, c);
    }
    return escaped;
}

class LongListsRun : public ProgramTest
{
protected:
    void SetUp() override
    {
        ProgramTest::SetUp();
        launcher = {"sh", "-c", std::string("ulimit -s ") + stackLimit + " && exec \"$0\" \"$@\""};
    }

    const std::string guard = joined(operands, " && ", conjunct);
    const std::string update = joined(operands, ", ", assignment);

    std::string newModel() const
    {
        return "int a; int v[16]; clock x, y;\n"
               "process P() { state s0 { x <= 3 }, s1; init s0; trans s0 -> s1 { guard " +
               guard + "; assign " + update + "; }; }\nsystem P;\n";
    }

    static std::string verdict(int line, bool trace = false)
    {
        return "\nVerifying formula " + std::to_string(line) + " at line " + std::to_string(line) +
               "\n -- Formula is satisfied.\n" + (trace ? "Showing example trace.\n" : "");
    }
};

} // namespace

// The models of the report: 1,000 assignments in one update, 1,001 conjuncts in one guard.
TEST_F(LongListsRun, ReportedListsAreVerified)
{
    for (const char* model : {"list_assign_1000", "list_guard_1001"}) {
        fixture(std::string(model) + ".xta");
        fixture(std::string(model) + ".q");
        const RunResult r = run({"-q", "-s", std::string(model) + ".xta", std::string(model) + ".q"});
        EXPECT_EQ(r.status, 0) << model << ": " << r.err;
        EXPECT_EQ(r.out, verdict(1)) << model;
        EXPECT_EQ(r.err, "") << model;
    }
}

TEST_F(LongListsRun, LongUpdatesAndGuardsAreVerifiedAndPrinted)
{
    file("m.xta", newModel());
    // Reachability, a goal with a long disjunction of clock bounds, and an invariant property
    // with a long conjunction, whose negation is a disjunction as long.
    file("m.q", "E<> P.s1\nE<> P.s1 && (" +
                    joined(queryOperands, " || ", [](size_t k) { return "x > " + std::to_string(k % 9); }) +
                    ")\nA[] " +
                    joined(queryOperands, " && ", [](size_t k) { return std::string(k % 2 ? "y >= 0" : "a < 5"); }) +
                    "\n");
    const RunResult r = run({"-q", "-s", "-t0", "m.xta", "m.q"});
    EXPECT_EQ(r.status, 0) << r.err.substr(0, 2000);
    EXPECT_EQ(r.out, verdict(1, true) + verdict(2, true) + verdict(3));
    // The trace shows the transition with its whole guard and update.
    EXPECT_NE(r.err.find("P.s0->P.s1 { " + guard + ", tau, " + joined(operands, ", ", oldAssignment) + " }"),
              std::string::npos);

    // The compiled-model dump lists the update's code with its text.
    const RunResult dump = run({"m.xta"}, {"MIRVEK_COMPILE_ONLY=1"});
    EXPECT_EQ(dump.status, 0) << dump.err.substr(0, 2000);
    EXPECT_NE(dump.out.find(":" + update + "\n"), std::string::npos);
}

TEST_F(LongListsRun, TheOlderSyntaxAndXmlModelsTakeLongListsToo)
{
    // Statistical runs evaluate the same guard and update.
    file("old.ta", "int a; int v[16]; clock x, y;\n"
                   "process P { state s0 { x <= 3 }, s1; init s0; trans s0 -> s1 { guard " +
                       joined(operands, ", ", conjunct) + "; assign " + joined(operands, ", ", oldAssignment) +
                       "; }; }\nsystem P;\n");
    file("m.q", "E<> P.s1\nPr[<=10](<> P.s1)\n");
    const RunResult old = run({"-q", "-s", "-r", "1", "-E", "0.2", "old.ta", "m.q"}, {"MIRVEK_OLD_SYNTAX=1"});
    EXPECT_EQ(old.status, 0) << old.err.substr(0, 2000);
    EXPECT_EQ(old.out.rfind(verdict(1) + verdict(2), 0), 0u) << old.out;
    EXPECT_EQ(old.err, "");

    file("m.xml", "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<nta>\n"
                  "<declaration>int a; int v[16]; clock x, y;</declaration>\n"
                  "<template><name>P</name>"
                  "<location id=\"l0\"><name>s0</name><label kind=\"invariant\">x &lt;= 3</label></location>"
                  "<location id=\"l1\"><name>s1</name></location>"
                  "<init ref=\"l0\"/><transition><source ref=\"l0\"/><target ref=\"l1\"/>"
                  "<label kind=\"guard\">" +
                      xmlEscaped(guard) + "</label><label kind=\"assignment\">" + xmlEscaped(update) +
                      "</label></transition></template>\n<system>system P;</system>\n</nta>\n");
    file("x.q", "E<> P.s1\n");
    const RunResult xml = run({"-q", "-s", "m.xml", "x.q"});
    EXPECT_EQ(xml.status, 0) << xml.err.substr(0, 2000);
    EXPECT_EQ(xml.out, verdict(1));
    EXPECT_EQ(xml.err, "");
}

// A template whose locations follow each other in one long chain is searched for loop entries
// without recursing once per location.
TEST_F(LongListsRun, LongChainsOfLocationsAreVerified)
{
    file("c.xta", "process P() { state " +
                      joined(locations, ", ", [](size_t k) { return "s" + std::to_string(k); }) + "; init s0; trans " +
                      joined(locations - 1, ", ",
                             [](size_t k) { return "s" + std::to_string(k) + " -> s" + std::to_string(k + 1) + " {}"; }) +
                      "; }\nsystem P;\n");
    file("c.q", "E<> P.s" + std::to_string(locations - 1) + "\n");
    const RunResult r = run({"-q", "-s", "c.xta", "c.q"});
    EXPECT_EQ(r.status, 0) << r.err.substr(0, 2000);
    EXPECT_EQ(r.out, verdict(1));
}

// Nesting beyond the limit is refused where it is written, whichever construct nests: brackets,
// calls and prefix operators fill the parser's stack, chains of other operators the depth limit.
TEST_F(LongListsRun, RealNestingIsRefusedWithItsPosition)
{
    struct Case
    {
        const char* name;
        std::string guard;
        const char* message;
    };
    const Case cases[] = {
        {"brackets", std::string(1500, '(') + "a" + std::string(1500, ')') + " > 0", "memory exhausted."},
        {"calls", joined(1500, "", [](size_t) { return std::string("f("); }) + "a" + std::string(1500, ')') + " > 0",
         "memory exhausted."},
        {"negations", std::string(1500, '!') + "(a > 0)", "memory exhausted."},
        {"bracketed conjunctions",
         "a > 0" + joined(1500, "", [](size_t) { return std::string(" && (a > 0"); }) + std::string(1500, ')'),
         "memory exhausted."},
        {"sum", joined(1500, " + ", [](size_t) { return std::string("a"); }) + " > 0",
         "Expression is nested too deeply."},
        {"subscripts", "v" + joined(1500, "", [](size_t) { return std::string("[0]"); }) + " > 0",
         "Expression is nested too deeply."},
        {"difference in a long conjunction",
         joined(operands, " && ", [](size_t) { return std::string("a > 0"); }) + " && " +
             joined(1500, " - ", [](size_t) { return std::string("a"); }) + " > 0",
         "Expression is nested too deeply."},
    };
    file("m.q", "E<> P.s1\n");
    for (const Case& c : cases) {
        file("m.xta", "int a; int v[1]; clock x, y;\nint f(int p) { return p; }\n"
                      "process P() { state s0, s1; init s0; trans s0 -> s1 { guard " +
                          c.guard + "; }; }\nsystem P;\n");
        const RunResult r = run({"-q", "-s", "m.xta", "m.q"});
        EXPECT_EQ(r.status, 1) << c.name;
        EXPECT_EQ(r.err, std::string("m.xta:3: [error] ") + c.message + "\n") << c.name;
    }
}
