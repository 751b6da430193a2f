// A model whose processes are declared one instance at a time (Q0 = P(); Q1 = P(); ... and all
// of them on the system line) is read, checked and compiled in time that grows linearly with the
// number of instances. Each instance adds a name to the global scope that the builders, the type
// checker and the compiler's symbol tree look up, and a process whose preparation once cleared a
// table as wide as all the processes: a lookup or a table that visits every instance for each one
// made the run quadratic (50,000 instances took most of a minute). The run is given a budget of
// CPU time that linear growth meets many times over and quadratic growth exceeds by far.

#include <sys/resource.h>

#include <string>

#include "program_runner.h"

namespace {

#ifdef __SANITIZE_ADDRESS__
// The sanitizers' runs are many times slower and their cost varies too much for a budget: they
// check the verdicts at a smaller size, the optimised build's run holds the budget.
constexpr int instances = 10000;
constexpr bool timed = false;
#else
// Linear: about 5 s of CPU time; quadratic: more than two minutes.
constexpr int instances = 100000;
constexpr bool timed = true;
#endif
constexpr double budgetSeconds = 60;

double childrenCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

class ManyInstancesRun : public ProgramTest
{
};

} // namespace

TEST_F(ManyInstancesRun, InstancesDeclaredOneByOneAreReadAndCompiledInLinearTime)
{
    std::string model = "int[0,1] shared;\nprocess P() { int[0,1] own; state a; init a; }\n";
    std::string system = "system ";
    for (int i = 0; i < instances; ++i) {
        model += "Q" + std::to_string(i) + " = P();\n";
        system += (i == 0 ? "Q" : ", Q") + std::to_string(i);
    }
    file("m.xta", model + system + ";\n");
    // The first and the last instance, each found among all the others.
    file("m.q", "E<> Q0.a\nE<> Q" + std::to_string(instances - 1) + ".a && Q" + std::to_string(instances / 2) +
                    ".own == shared\n");

    const double before = childrenCpuSeconds();
    const RunResult r = run({"-q", "-s", "m.xta", "m.q"});
    const double used = childrenCpuSeconds() - before;
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "\nVerifying formula 1 at line 1\n -- Formula is satisfied.\n"
                     "\nVerifying formula 2 at line 2\n -- Formula is satisfied.\n");
    if (timed) {
        EXPECT_LT(used, budgetSeconds) << instances << " instances took " << used << " s of CPU time";
    }
}
