// Whole runs around diagnostic traces: a model that fails at run time while a trace is asked
// for, the errors recorded before a later failure ends the run, bit-state hashing with traces in
// every search order, and concrete traces of long depth-first traces. A query that cannot be
// answered is aborted alone, and a trace that is printed is a run of the model.

#include <map>
#include <regex>
#include <sstream>
#include <utility>

#include "program_runner.h"

namespace {

class TraceRun : public ProgramTest
{
protected:
    RunResult check(const std::vector<std::string>& options, const std::string& model, const std::string& queries)
    {
        std::vector<std::string> words = {"-q", "-s"};
        words.insert(words.end(), options.begin(), options.end());
        words.push_back(model);
        words.push_back(queries);
        return run(words);
    }
};

std::string joined(const std::vector<std::string>& words)
{
    std::string text;
    for (const std::string& w : words) {
        text += w + " ";
    }
    return text;
}

size_t count(const std::string& text, const std::string& part)
{
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) {
        ++n;
    }
    return n;
}

// The values a variable takes in a printed trace, in order ("n=3" in a concrete state, " n=3" in
// a symbolic one).
std::vector<int> valuesOf(const std::string& trace, const std::string& name)
{
    std::vector<int> values;
    const std::regex value("[\\n ]" + name + "=([0-9]+)");
    for (std::sregex_iterator it(trace.begin(), trace.end(), value), end; it != end; ++it) {
        values.push_back(std::stoi((*it)[1]));
    }
    return values;
}

std::string concreteState(const std::string& values)
{
    return "\nState:\n( P.a )\n" + values + " \n";
}

std::string counterStep(int n)
{
    return "\nTransitions:\n  P.a->P.a { 1, tau, n := n + 1 }\n" + concreteState("n=" + std::to_string(n));
}

} // namespace

// A counter that leaves its range at the fourth step aborts the first query with every trace
// option as without one: the positioned error, once, at the end of the run; the trace that leads
// to the failing state (not one step further: the formula is not evaluated there again); and
// the second query runs.
TEST_F(TraceRun, AModelErrorAbortsOnlyItsQueryWithEveryTraceOption)
{
    fixture("trace_runtime_error.xta", "m.xta");
    file("m.q", "A[] not deadlock\nE<> n == 2\n");
    const std::string error = "m.xta:6: [error] Assignment of value '4' to variable 'n' is out of range.\n";
    const std::vector<std::vector<std::string>> optionSets = {
        {}, {"-t1"}, {"-t2"}, {"-t0", "-y"}, {"-t0", "-o", "1"}, {"-t1", "-o", "3"}, {"-t0", "-Z"},
        {"-t0", "-A"}, {"-t0", "-S", "0"},
    };
    for (const std::vector<std::string>& options : optionSets) {
        SCOPED_TRACE(joined(options));
        const RunResult r = check(options, "m.xta", "m.q");
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(r.out.starts_with("\nVerifying formula 1 at line 1\n -- Aborted.\n")) << r.out;
        EXPECT_NE(r.out.find("\nVerifying formula 2 at line 2\n -- Formula is satisfied.\n"), std::string::npos)
            << r.out;
        EXPECT_TRUE(r.err.ends_with(error)) << r.err;
        EXPECT_EQ(count(r.err, "[error]"), 1u) << r.err;
        EXPECT_EQ(r.err.find("EXCEPTION"), std::string::npos) << r.err;
        EXPECT_EQ(r.out.find("Cannot generate trace"), std::string::npos) << r.out;
        const bool toFiles = options.size() > 1 && (options[1] == "-f" || options[1] == "-X");
        if (!options.empty() && !toFiles) {
            // The first trace ends where n is 3; no state shows the value that failed.
            EXPECT_EQ(count(r.out, "Showing example trace.\n"), 2u) << r.out;
            const std::vector<int> n = valuesOf(r.err, "n");
            EXPECT_EQ(n, (std::vector<int>{0, 1, 2, 3, 0, 1, 2})) << r.err;
        }
    }

    // The concrete run exactly: to the failing state, then the second query's trace.
    RunResult r = check({"-t0"}, "m.xta", "m.q");
    EXPECT_EQ(r.out, "\nVerifying formula 1 at line 1\n -- Aborted.\nShowing example trace.\n"
                     "\nVerifying formula 2 at line 2\n -- Formula is satisfied.\nShowing example trace.\n");
    EXPECT_EQ(r.err, concreteState("n=0") + counterStep(1) + counterStep(2) + counterStep(3) +
                         concreteState("n=0") + counterStep(1) + counterStep(2) + error);

    // Trace files and XML traces are written for both queries.
    r = check({"-t0", "-f", "pre"}, "m.xta", "m.q");
    EXPECT_EQ(r.err, "Writing example trace to pre-1.xtr\nWriting example trace to pre-2.xtr\n" + error);
    EXPECT_TRUE(fs::exists(dir / "pre-1.xtr"));
    EXPECT_TRUE(slurp(dir / "pre-1.xtr").ends_with(".\n.\n"));
    r = check({"-t0", "-X", "x"}, "m.xta", "m.q");
    EXPECT_EQ(count(r.out, "XMLTrace outputted to: "), 2u) << r.out;
    EXPECT_TRUE(fs::exists(dir / "x1.xml"));
    EXPECT_TRUE(fs::exists(dir / "x2.xml"));
}

// Every kind of run-time error, in an update, a guard, a function and the query itself: the
// query is aborted with the positioned error, the trace ends in the state where the model failed
// (the stored state the query failed on), and the next query runs.
TEST_F(TraceRun, EveryKindOfModelErrorShowsTheTraceToTheFailingState)
{
    struct Case
    {
        const char* kind;
        const char* model;
        const char* query;
        const char* error;
        const char* lastState;  // of the first trace
    };
    const Case cases[] = {
        {"index", "int v[3];\nint[0,5] i;\nprocess P() {\n    state a;\n    init a;\n"
                  "    trans a -> a { guard i < 5; assign i = i + 1, v[i] = 1; };\n}\nsystem P;\n",
         "A[] not deadlock", "m.xta:6: [error] Index value 3 is out of range. Array length = 3, Element size = 1.\n",
         "v[0]=0 v[1]=1 v[2]=1 i=2 "},
        {"division", "clock x;\nint n = 3;\nprocess P() {\n    state a { x <= 2 };\n    init a;\n"
                     "    trans a -> a { guard x >= 1 && 6 / n > 0; assign n = n - 1, x = 0; };\n}\nsystem P;\n",
         "A[] not deadlock", "m.xta:6: [error] Division by zero.\n", "x=0 n=0 "},
        {"assertion", "int n;\nvoid step() { assert(n < 2); n = n + 1; }\nprocess P() {\n    state a;\n"
                      "    init a;\n    trans a -> a { guard n < 5; assign step(); };\n}\nsystem P;\n",
         "E<> n == 4", "m.xta:2: [error] Assertion failure.\n", "n=2 "},
        {"increment", "int[0,2] n;\nprocess P() {\n    state a;\n    init a;\n    trans a -> a { assign n++; };\n}\n"
                      "system P;\n",
         "A[] n >= 0", "m.xta:5: [error] Assignment of value '3' to variable 'n' is out of range.\n", "n=2 "},
        {"query", "int v[3];\nint[0,5] i;\nprocess P() {\n    state a;\n    init a;\n"
                  "    trans a -> a { guard i < 5; assign i = i + 1; };\n}\nsystem P;\n",
         "E<> v[i] == 7", "m.q:1: [error] Index value 3 is out of range. Array length = 3, Element size = 1.\n",
         "v[0]=0 v[1]=0 v[2]=0 i=3 "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.kind);
        file("m.xta", c.model);
        file("m.q", std::string(c.query) + "\nE<> true\n");
        for (const std::vector<std::string>& options : {std::vector<std::string>{}, {"-t0"}}) {
            const RunResult r = check(options, "m.xta", "m.q");
            const std::string trace = options.empty() ? "" : "Showing example trace.\n";
            EXPECT_EQ(r.status, 1);
            EXPECT_EQ(r.out, "\nVerifying formula 1 at line 1\n -- Aborted.\n" + trace +
                                 "\nVerifying formula 2 at line 2\n -- Formula is satisfied.\n" + trace);
            if (options.empty()) {
                EXPECT_EQ(r.err, c.error);
                continue;
            }
            // The second query's trace is the initial state alone.
            const size_t second = r.err.rfind("\nState:\n( P.a )\n");
            ASSERT_NE(second, std::string::npos) << r.err;
            EXPECT_TRUE(r.err.substr(0, second).ends_with("\nState:\n( P.a )\n" + std::string(c.lastState) + "\n"))
                << r.err;
            EXPECT_TRUE(r.err.ends_with(c.error)) << r.err;
        }
    }
}

// A query aborted by a model error and a later query refused: the refusal ends the run, and the
// reason for the first abort is printed before it.
TEST_F(TraceRun, ModelErrorsArePrintedWhenALaterQueryEndsTheRun)
{
    fixture("trace_runtime_error.xta", "m.xta");
    file("m.q", "A[] not deadlock\nPr[<=20](<> false)\n");
    for (const std::vector<std::string>& options : {std::vector<std::string>{}, {"-t0"}}) {
        SCOPED_TRACE(joined(options));
        const RunResult r = check(options, "m.xta", "m.q");
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(r.out.starts_with("\nVerifying formula 1 at line 1\n -- Aborted.\n")) << r.out;
        EXPECT_TRUE(r.out.ends_with("\nVerifying formula 2 at line 2\n")) << r.out;
        EXPECT_TRUE(r.err.ends_with("m.xta:6: [error] Assignment of value '4' to variable 'n' is out of range.\n"
                                    "EXCEPTION: Location P.a has unbounded delay but no positive rate.\n"))
            << r.err;
    }
}

// Bit-state hashing with a trace, in every search order and with every trace kind: the verdict
// and a trace that is a run of the model. A waiting state that came back from the bit-state list
// without its own trace index gave traces through transitions off the path (a counter raised
// past what the model allows) or an internal error.
TEST_F(TraceRun, BitStateTracesAreRunsOfTheModelInEverySearchOrder)
{
    fixture("trace_bitstate.xta", "b.xta");
    fixture("trace_bitstate_counter.xta", "c.xta");
    file("m.q", "E<> n == 3\n");
    // Breadth first, depth first, random, and the two optimal orders (which need the cost of a
    // shortest or fastest trace).
    const std::vector<std::pair<const char*, const char*>> searches = {
        {"-t0", "0"}, {"-t0", "1"}, {"-t2", "2"}, {"-t1", "3"}, {"-t2", "4"}};
    for (const auto& [trace, order] : searches) {
        for (const char* model : {"b.xta", "c.xta"}) {
            const std::vector<std::string> options = {trace, "-Z", "-H", "16", "-o", order};
            SCOPED_TRACE(joined(options) + model);
            const RunResult r = check(options, model, "m.q");
            EXPECT_EQ(r.status, 0) << r.err;
            EXPECT_EQ(r.out, "\nVerifying formula 1 at line 1\n -- Formula is satisfied.\nShowing example trace.\n");
            // n counts up one at a time from 0 to 3, and the flag is set once.
            const std::vector<int> n = valuesOf(r.err, "n");
            ASSERT_FALSE(n.empty()) << r.err;
            EXPECT_EQ(n.front(), 0) << r.err;
            EXPECT_EQ(n.back(), 3) << r.err;
            for (size_t i = 1; i < n.size(); ++i) {
                EXPECT_TRUE(n[i] == n[i - 1] || n[i] == n[i - 1] + 1) << r.err;
            }
            const std::vector<int> flag = valuesOf(r.err, "flag");
            for (size_t i = 1; i < flag.size(); ++i) {
                EXPECT_TRUE(flag[i] == flag[i - 1] || flag[i - 1] == 0) << r.err;
            }
        }
    }
}

namespace {

// The concrete states of a printed run of the bus model: locations and values, and the guards
// of the transitions between them.
struct BusStep
{
    std::string locations;
    std::map<std::string, double> values;
    std::string guards;  // of the transitions that led here
};

std::vector<BusStep> busRun(const std::string& err)
{
    std::vector<BusStep> steps;
    std::istringstream in(err);
    std::string line;
    std::string guards;
    while (std::getline(in, line)) {
        if (line == "State:") {
            BusStep step;
            std::getline(in, step.locations);
            std::string values;
            std::getline(in, values);
            std::istringstream words(values);
            std::string word;
            while (words >> word) {
                const size_t eq = word.find('=');
                step.values[word.substr(0, eq)] = std::stod(word.substr(eq + 1));
            }
            step.guards = guards;
            guards.clear();
            steps.push_back(step);
        } else if (line.starts_with("  ")) {
            const size_t open = line.find("{ ");
            guards += line.substr(open + 2, line.find(',', open) - open - 2) + " && ";
        }
    }
    return steps;
}

// Whether a guard term such as "x1 < 2 * 26" or "y >= 26" holds for the values; terms on
// anything else hold.
bool termHolds(const std::string& term, const std::map<std::string, double>& values)
{
    static const std::regex comparison("^(\\w+) (<|<=|==|>=|>) ([0-9]+)(?: (\\*|\\+) ([0-9]+))?$");
    std::smatch m;
    if (!std::regex_match(term, m, comparison) || !values.contains(m[1])) {
        return true;
    }
    double bound = std::stod(m[3]);
    if (m[4].matched) {
        bound = m[4] == "*" ? bound * std::stod(m[5]) : bound + std::stod(m[5]);
    }
    const double v = values.at(m[1]);
    const std::string op = m[2];
    return op == "<" ? v < bound : op == "<=" ? v <= bound : op == "==" ? v == bound : op == ">=" ? v >= bound : v > bound;
}

} // namespace

// A long trace of a depth-first search gets a concrete run as the symbolic one (-y) is shown:
// every guard holds where its transition is taken and every invariant where a state is shown.
// Where no run exists the report says "Cannot generate trace." and the next query runs.
TEST_F(TraceRun, DepthFirstConcreteTracesAreFoundWhereTheSymbolicOnesAre)
{
    fixture("trace_concrete_dfs.xta", "m.xta");
    file("m.q", "E<> Bus.Idle && Station1.Start\nE<> Bus.Collision\n");
    const std::string verdicts = "\nVerifying formula 1 at line 1\n -- Formula is satisfied.\nShowing example trace.\n"
                                 "\nVerifying formula 2 at line 2\n -- Formula is satisfied.\nShowing example trace.\n";
    RunResult r = check({"-t0", "-o", "1", "-y"}, "m.xta", "m.q");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, verdicts);

    for (const char* order : {"0", "1", "2"}) {
        SCOPED_TRACE(order);
        r = check({"-t0", "-o", order}, "m.xta", "m.q");
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, verdicts);
        const std::vector<BusStep> steps = busRun(r.err);
        ASSERT_GE(steps.size(), 2u);
        for (const BusStep& step : steps) {
            std::string guard = step.guards;
            for (size_t at; (at = guard.find(" && ")) != std::string::npos; guard.erase(0, at + 4)) {
                const std::string term = guard.substr(0, at);
                if (term != "1") {
                    // A guard holds on the values before its transition: the previous step shown.
                    const BusStep& before = steps[static_cast<size_t>(&step - steps.data()) - 1];
                    EXPECT_TRUE(termHolds(term, before.values)) << term << " at " << step.locations;
                }
            }
            for (int k = 1; k <= 4; ++k) {
                const std::string station = "Station" + std::to_string(k) + ".";
                const std::string clock = "x" + std::to_string(k);
                if (step.locations.find(station + "Retry") != std::string::npos) {
                    EXPECT_LT(step.values.at(clock), 52) << step.locations;
                }
                if (step.locations.find(station + "Start") != std::string::npos) {
                    EXPECT_LE(step.values.at(clock), 808) << step.locations;
                }
            }
            if (step.locations.find("Bus.Collision") != std::string::npos) {
                EXPECT_LT(step.values.at("y"), 26) << step.locations;
            }
        }
        EXPECT_NE(steps.back().locations.find("Bus.Collision"), std::string::npos);
    }
}
