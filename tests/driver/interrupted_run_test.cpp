// Interrupts of whole runs: the test starts the program, sends it SIGINT while a query runs (or
// while the model loads), and checks that the query ends aborted with no part of a result, that
// no further query starts, that every process ends, and that the run ends with status 1: a
// script must be able to tell an interrupted run from a finished one.

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include "program_runner.h"

namespace {

using namespace std::chrono_literals;

const std::string aborted = "\nVerifying formula 1 at line 1\n -- Aborted.\n";

class InterruptedRun : public ProgramTest
{
protected:
    // Waits until the program's standard output holds `text`; false after a minute.
    bool waitForOutput(const std::string& text)
    {
        for (auto waited = 0ms; waited < 60s; waited += 20ms) {
            if (slurp(dir / "stdout").find(text) != std::string::npos) {
                return true;
            }
            std::this_thread::sleep_for(20ms);
        }
        return false;
    }

    // Waits for the started program to end, for a minute at most; a program still running then
    // is killed and the test fails.
    RunResult finishWithin(pid_t pid)
    {
        for (auto waited = 0ms; waited < 60s; waited += 20ms) {
            int status = 0;
            if (waitpid(pid, &status, WNOHANG) == pid) {
                RunResult result;
                result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                result.out = slurp(dir / "stdout");
                result.err = slurp(dir / "stderr");
                return result;
            }
            std::this_thread::sleep_for(20ms);
        }
        ADD_FAILURE() << "the program did not end after the interrupt";
        kill(pid, SIGKILL);
        return finish(pid);
    }

    // Starts the program, interrupts it once the first query has been running for a moment, and
    // collects its output.
    RunResult interruptFirstQuery(const std::vector<std::string>& args)
    {
        const pid_t pid = start(args);
        if (pid == 0) {
            return {};
        }
        EXPECT_TRUE(waitForOutput("Verifying formula 1")) << slurp(dir / "stdout");
        std::this_thread::sleep_for(500ms);
        kill(pid, SIGINT);
        return finishWithin(pid);
    }
};

// The direct children of a process.
std::vector<pid_t> childrenOf(pid_t parent)
{
    std::vector<pid_t> children;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string name = entry.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        std::getline(stat, line);
        // pid (command) state ppid ...: the command may hold blanks, so read after its ')'.
        const size_t close = line.rfind(')');
        if (close == std::string::npos) {
            continue;
        }
        std::istringstream rest(line.substr(close + 1));
        char state = 0;
        pid_t ppid = 0;
        rest >> state >> ppid;
        if (ppid == parent) {
            children.push_back(static_cast<pid_t>(std::stoi(name)));
        }
    }
    return children;
}

// The MPI rank a launcher gave a process, from its environment; -1 when it has none.
int rankOf(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/environ", std::ios::binary);
    std::string variable;
    while (std::getline(in, variable, '\0')) {
        if (variable.starts_with("OMPI_COMM_WORLD_RANK=")) {
            return std::stoi(variable.substr(21));
        }
    }
    return -1;
}

bool alive(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) {
        return false;
    }
    const size_t close = line.rfind(')');
    return close != std::string::npos && close + 2 < line.size() && line[close + 2] != 'Z';
}

TEST_F(InterruptedRun, AnInterruptedQueryIsAbortedWithoutPartialResults)
{
    struct Case
    {
        const char* model;
        const char* query;
        std::vector<std::string> options;
    };
    const Case cases[] = {
        // Searches of the whole state space.
        {"usage_long_fischer.xta", "A[] forall (i : pid_t) forall (j : pid_t) P(i).cs && P(j).cs imply i == j", {}},
        {"reach_three_counters.xta", "E<> a + b + c < 0", {}},
        // The largest value seen so far is no supremum.
        {"reach_three_counters.xta", "sup: a + b + c", {}},
        {"reach_three_counters.xta", "inf: -a - b - c", {}},
        // Estimates, tests and expected values made from part of their runs, the trajectories
        // of part of the runs of a simulation, the sizes measured over part of the runs.
        {"smc_busy.xta", "Pr[<=100](<> false)", {"-E", "0.002"}},
        {"smc_busy.xta", "Pr[<=1](<> C.B) >= 0.5", {"-p", "0.0001", "-P", "0.0001"}},
        {"smc_busy.xta", "E[<=100; 1000000](max: P0.x)", {}},
        {"smc_busy.xta", "simulate 100000 [<=100] { P0.x }", {}},
        {"smc_busy.xta", "simulate 100000 [<=100] { P0.x } : 100000 : P0.x > 100", {}},
        {"smc_busy.xta", "Pr (true U[0,100] false)", {"-E", "0.002", "-m"}},
    };
    for (const Case& c : cases) {
        fixture(c.model, "m.xta");
        // The second query never starts.
        file("m.q", std::string(c.query) + "\nE<> true\n");
        std::vector<std::string> args = {"-q", "-s", "-r", "1"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        args.insert(args.end(), {"m.xta", "m.q"});
        const RunResult r = interruptFirstQuery(args);
        EXPECT_EQ(r.status, 1) << c.query << "\n" << r.err;
        EXPECT_EQ(r.out, aborted) << c.query;
        EXPECT_EQ(r.err, "") << c.query;
    }
}

TEST_F(InterruptedRun, AnInterruptWhileTheModelLoadsStopsBeforeTheFirstQuery)
{
    // The model comes through a pipe, so the program waits in its loading until the test writes
    // the model, which it does only after the interrupt.
    const std::string model = slurp(fs::path(MIRVEK_TEST_MODELS) / "smc_idle.xta");
    ASSERT_EQ(mkfifo((dir / "m.xta").c_str(), 0600), 0);
    file("m.q", "E<> true\nE<> false\n");
    const pid_t pid = start({"-q", "-s", "m.xta", "m.q"});
    ASSERT_NE(pid, 0);
    int writer = -1;
    for (auto waited = 0ms; writer < 0 && waited < 60s; waited += 20ms) {
        // Succeeds once the program has opened the model for reading.
        writer = open((dir / "m.xta").c_str(), O_WRONLY | O_NONBLOCK);
        if (writer < 0) {
            std::this_thread::sleep_for(20ms);
        }
    }
    ASSERT_GE(writer, 0);
    kill(pid, SIGINT);
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(write(writer, model.data(), model.size()), static_cast<ssize_t>(model.size()));
    close(writer);
    const RunResult r = finishWithin(pid);
    // No query got its verdict.
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
}

TEST_F(InterruptedRun, UnderMpirunAnInterruptOfRankZeroEndsEveryProcess)
{
    if (std::system("command -v mpirun >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "no mpirun";
    }
    struct Case
    {
        const char* query;
        std::vector<std::string> options;
    };
    // Distributed checks, an estimate and a test: were rank 0 alone to stop, the others would
    // wait for it in the next query.
    const Case cases[] = {
        {"Pr[<=100](<> false)", {"-E", "0.002"}},
        {"Pr[<=1](<> C.B) >= 0.5", {"-p", "0.0001", "-P", "0.0001"}},
    };
    for (const Case& c : cases) {
        fixture("smc_busy.xta", "m.xta");
        file("m.q", std::string(c.query) + "\nPr[<=10](<> P0.B)\n");
        launcher = {"mpirun", "--allow-run-as-root", "--oversubscribe", "-np", "3"};
        // Each rank runs the program under a shell that writes down the program's own status.
        program = "/bin/sh";
        std::vector<std::string> args = {"-c", "\"$0\" \"$@\"; s=$?; echo $s > status-$OMPI_COMM_WORLD_RANK; exit $s",
                                         MIRVEK_PROGRAM, "-q", "-s", "-r", "1"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        args.insert(args.end(), {"m.xta", "m.q"});
        fs::remove(dir / "status-0");
        const pid_t launcherPid = start(args);
        ASSERT_NE(launcherPid, 0);
        ASSERT_TRUE(waitForOutput("Verifying formula 1")) << slurp(dir / "stdout");
        std::vector<pid_t> ranks;
        for (pid_t shell : childrenOf(launcherPid)) {
            for (pid_t process : childrenOf(shell)) {
                ranks.push_back(process);
            }
        }
        ASSERT_EQ(ranks.size(), 3u);
        std::this_thread::sleep_for(500ms);
        for (pid_t rank : ranks) {
            if (rankOf(rank) == 0) {
                kill(rank, SIGINT);
            }
        }
        const RunResult r = finishWithin(launcherPid);
        // Rank 0 ends with status 1, which the launcher passes on (with its own report of it
        // on standard error).
        EXPECT_EQ(slurp(dir / "status-0"), "1\n") << c.query;
        EXPECT_EQ(r.status, 1) << c.query << "\n" << r.err;
        EXPECT_EQ(r.out, aborted) << c.query;
        for (pid_t rank : ranks) {
            EXPECT_FALSE(alive(rank)) << c.query;
        }
    }
}

TEST_F(InterruptedRun, UnderMpirunAnInterruptOfTheLauncherEndsEveryProcess)
{
    if (std::system("command -v mpirun >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "no mpirun";
    }
    // The launcher ends the processes itself; none of them is left behind.
    fixture("smc_busy.xta", "m.xta");
    file("m.q", "Pr[<=100](<> false)\nPr[<=10](<> P0.B)\n");
    launcher = {"mpirun", "--allow-run-as-root", "--oversubscribe", "-np", "3"};
    const pid_t launcherPid = start({"-q", "-s", "-r", "1", "-E", "0.002", "m.xta", "m.q"});
    ASSERT_NE(launcherPid, 0);
    ASSERT_TRUE(waitForOutput("Verifying formula 1")) << slurp(dir / "stdout");
    const std::vector<pid_t> ranks = childrenOf(launcherPid);
    ASSERT_EQ(ranks.size(), 3u);
    std::this_thread::sleep_for(500ms);
    kill(launcherPid, SIGINT);
    const RunResult r = finishWithin(launcherPid);
    EXPECT_EQ(r.out.find("Verifying formula 2"), std::string::npos) << r.out;
    for (auto waited = 0ms; waited < 10s; waited += 20ms) {
        bool any = false;
        for (pid_t rank : ranks) {
            any = any || alive(rank);
        }
        if (!any) {
            break;
        }
        std::this_thread::sleep_for(20ms);
    }
    for (pid_t rank : ranks) {
        EXPECT_FALSE(alive(rank));
    }
}

}  // namespace
