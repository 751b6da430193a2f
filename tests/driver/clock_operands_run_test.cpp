// Whole runs over models that compare clocks with truth values, shift clocks in one branch of an
// inline if or compare clocks in ways no difference bound holds: verdicts or positioned errors,
// never an internal-error text.

#include <cstdlib>
#include <sstream>
#include <regex>
#include <string>
#include <vector>

#include "program_runner.h"

namespace {

class ClockOperandsRun : public ProgramTest
{
protected:
    RunResult check(const std::string& model, const std::string& queries, std::vector<std::string> options = {})
    {
        file("m.xta", model);
        file("m.q", queries);
        std::vector<std::string> args = {"-q", "-s"};
        args.insert(args.end(), options.begin(), options.end());
        args.push_back("m.xta");
        args.push_back("m.q");
        return run(args);
    }

    static std::string verdict(int line, const std::string& text)
    {
        return "\nVerifying formula " + std::to_string(line) + " at line " + std::to_string(line) + "\n -- Formula " +
               text + ".\n";
    }
};

// A model whose edges and invariant compare clocks with the values of `one`, `zero` and `t` (1, 0
// and the boolean variable t, which is true), written by the caller.
std::string model(const std::string& one, const std::string& zero)
{
    return "clock x, y;\nbool t = true;\n"
           "process P() {\n"
           "    state a { x <= " + one + " + 1 }, b, c, d;\n"
           "    init a;\n"
           "    trans a -> b { guard x == " + one + "; assign y = 0; },\n"
           "          b -> c { guard y >= " + one + " && x - y == " + one + "; },\n"
           "          a -> d { guard " + zero + " == x && x < " + one + "; };\n"
           "}\nsystem P;\n";
}

std::string queries(const std::string& one, const std::string& zero)
{
    return "E<> P.b\nE<> P.c\nE<> P.d\nE<> P.b && x > " + one + "\nA[] P.c imply y <= " + one +
           "\nA[] P.c imply x - y == " + one + "\nE<> P.a && x == " + zero + "\nsup{P.c}: x\n";
}

} // namespace

// The reported case: a guard comparing a clock with a negated number.
TEST_F(ClockOperandsRun, ClockEqualToATruthValueIsAClockConstraint)
{
    fixture("tc_clock_eq_bool.xta", "m.xta");
    file("m.q", "E<> P.b\n");
    const RunResult r = run({"-q", "-s", "m.xta", "m.q"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, verdict(1, "is satisfied"));
    EXPECT_EQ(r.err, "");
}

// Every way of writing 1 and 0 with truth values gives the verdicts of the integers, with every
// search option and trace.
TEST_F(ClockOperandsRun, TruthValuesGiveTheVerdictsOfTheNumbers)
{
    struct Form
    {
        const char* one;
        const char* zero;
    };
    const Form forms[] = {{"true", "false"}, {"t", "!t"}, {"!0", "!20"}, {"(2 > 1)", "(1 > 2)"}};
    const std::vector<std::vector<std::string>> options = {{}, {"-t0"}, {"-t1"}, {"-o", "1"}, {"-A"}, {"-C"},
                                                           {"-Z", "-H", "16"}, {"-S", "0"}};
    for (const auto& option : options) {
        const std::string note = option.empty() ? "" : option[0];
        const RunResult numbers = check(model("1", "0"), queries("1", "0"), option);
        ASSERT_EQ(numbers.status, 0) << note << numbers.err;
        if (option.empty()) {
            EXPECT_EQ(numbers.out, verdict(1, "is satisfied") + verdict(2, "is satisfied") +
                                       verdict(3, "is satisfied") + verdict(4, "is satisfied") +
                                       verdict(5, "is NOT satisfied") + verdict(6, "is satisfied") +
                                       verdict(7, "is satisfied") + verdict(8, "is satisfied") +
                                       "sup{P.c}:\nx < inf\n");
        }
        for (const Form& form : forms) {
            SCOPED_TRACE(note + " " + form.one + " " + form.zero);
            const RunResult truth = check(model(form.one, form.zero), queries(form.one, form.zero), option);
            EXPECT_EQ(truth.status, 0) << truth.err;
            EXPECT_EQ(truth.out, numbers.out);
            EXPECT_EQ(truth.err.find("EXCEPTION"), std::string::npos) << truth.err;
        }
    }
}

// Clocks in arithmetic with truth values, and clocks compared with calls and inline ifs that
// yield numbers or truth values.
TEST_F(ClockOperandsRun, ShiftedClocksCallsAndInlineIfsAsBounds)
{
    const std::string declarations = "clock x, y;\nbool t = true;\nint one() { return 1; }\n"
                                     "bool yes() { return true; }\n";
    auto edge = [&](const std::string& guard) {
        return declarations + "process P() { state a { x <= 3 }, b; init a; trans a -> b { guard " + guard +
               "; }; }\nsystem P;\n";
    };
    struct Case
    {
        const char* guard;
        bool reachable;
    };
    const Case cases[] = {
        {"x + true == 2", true},  {"x - t >= 2", true},      {"x == yes()", true},
        {"x == one()", true},     {"x == (t ? 1 : 2)", true}, {"x == (t ? true : false)", true},
        {"x == (t ? y : x) && y == 1", true}, {"x - y == true", false}, {"(x - y) + t > 1", false},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.guard);
        const RunResult r = check(edge(k.guard), "E<> P.b\n");
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, verdict(1, k.reachable ? "is satisfied" : "is NOT satisfied"));
        EXPECT_EQ(r.err, "");
    }
}

// A comparison that no difference bound holds (three clocks, a clock shifted in one branch of an
// inline if) reads clock values: a symbolic check stops that query with the error at the
// comparison and goes on with the next; a statistical one answers.
TEST_F(ClockOperandsRun, ComparisonsBeyondTheZoneAreErrorsOfSymbolicChecksOnly)
{
    const std::string text = "clock x, y, z;\nbool t = true;\n"
                             "process P() { state a { x <= 3 }, b; init a;\n"
                             "  trans a -> b { guard y <= (t ? x : x + 1); }; }\nsystem P;\n";
    const RunResult symbolic = check(text, "E<> x == y + z\nE<> P.a\nsup: x - y == z\nE<> P.b\n");
    EXPECT_EQ(symbolic.status, 1);
    EXPECT_EQ(symbolic.out, "\nVerifying formula 1 at line 1\n -- Aborted.\n" + verdict(2, "is satisfied") +
                                "\nVerifying formula 3 at line 3\n -- Aborted.\n"
                                "\nVerifying formula 4 at line 4\n -- Aborted.\n");
    const std::string unreadable = "is read as a number, which symbolic checks do not support.\n";
    EXPECT_TRUE(std::regex_match(symbolic.err,
                                 std::regex("m\\.q:1: \\[error\\] The value of clock 'x' " + unreadable +
                                            "m\\.q:3: \\[error\\] The value of clock '[xy]' " + unreadable +
                                            "m\\.xta:4: \\[error\\] The value of clock '[xy]' " + unreadable)))
        << symbolic.err;

    const RunResult statistical =
        check(text, "Pr[<=5](<> P.b)\nPr[<=5](<> x == y + z)\nPr[<=5](<> x - y == z)\n", {"-r", "1"});
    EXPECT_EQ(statistical.status, 0) << statistical.err;
    EXPECT_EQ(statistical.err, "");
    EXPECT_EQ(statistical.out.find("Aborted"), std::string::npos) << statistical.out;
}

// The expected value of a clock shifted by a number is the expected value of the clock shifted by
// it, not the value of some other clock.
TEST_F(ClockOperandsRun, ExpectedValuesOfShiftedClocks)
{
    const std::string text = "clock x;\nbool t = true;\n"
                             "process P() { state a { x <= 4 }, b; init a; trans a -> b { guard x >= 2; }; }\n"
                             "system P;\n";
    const std::string forms[] = {"x", "x + 1", "x + t", "(t ? x + 1 : x)", "(t ? x : x + 1)"};
    const double shifts[] = {0.0, 1.0, 1.0, 1.0, 0.0};
    double base = 0.0;
    for (size_t i = 0; i < std::size(forms); ++i) {
        SCOPED_TRACE(forms[i]);
        const RunResult r = check(text, "E[<=5; 20](max: " + forms[i] + ")\n", {"-r", "7"});
        EXPECT_EQ(r.status, 0) << r.err;
        std::smatch m;
        ASSERT_TRUE(std::regex_search(r.out, m, std::regex("E\\(max\\) = ([0-9.e+-]+)"))) << r.out;
        const double mean = std::strtod(m[1].str().c_str(), nullptr);
        if (i == 0) {
            base = mean;
            EXPECT_GT(base, 1.9);
        } else {
            EXPECT_NEAR(mean, base + shifts[i], 1e-4);
        }
    }
}

// Conditions that only queries may hold (an inequality or a negation of a clock bound) are
// observed in a simulation as the truth values they take, like the bounds they are made of.
TEST_F(ClockOperandsRun, SimulationsObserveClockConditionsOfEveryKind)
{
    const std::string text = "clock x;\n"
                             "process P() { state A { x <= 3 }, B { x <= 4 }; init A;\n"
                             "  trans A -> B { guard x >= 2; }, B -> A { guard x >= 3; assign x = 0; }; }\n"
                             "system P;\n";
    const RunResult r = check(text, "simulate 1 [<=5] {!(x < 1), x >= 1, x != 2, x < 2 || x > 2}\n", {"-r", "3"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    // The values of each series, without its name.
    std::vector<std::string> series;
    std::istringstream lines(r.out);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.starts_with("[0]:")) {
            series.push_back(line);
        }
    }
    ASSERT_EQ(series.size(), 4u) << r.out;
    EXPECT_EQ(series[0], series[1]);
    EXPECT_EQ(series[2], series[3]);
    EXPECT_NE(series[0].find("(1,1)"), std::string::npos) << series[0];
}
