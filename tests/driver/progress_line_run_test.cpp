// Whole runs on a terminal: the progress line that a search rewrites in place is erased before
// any message that ends or interrupts the query or the run, so that no message is written over
// it. The program runs on a pseudo-terminal, where its standard output and standard error meet
// in the order a user sees them.

#include <chrono>
#include <csignal>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include "program_runner.h"

namespace {

using namespace std::chrono_literals;

class TerminalRun : public ProgramTest
{
protected:
    pid_t pid = 0;
    int terminal = -1;
    std::string screen;  // everything the program wrote, as the terminal got it

    void TearDown() override
    {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        if (terminal >= 0) {
            close(terminal);
        }
        ProgramTest::TearDown();
    }

    // Starts the program in the test's folder on a new pseudo-terminal, with `env` added to an
    // environment without the program's own variables, and with at most `memoryBytes` of address
    // space when that is not 0.
    void startOnTerminal(const std::vector<std::string>& args, const std::vector<std::string>& env = {},
                         rlim_t memoryBytes = 0)
    {
        std::vector<std::string> words = {"mirvek"};
        words.insert(words.end(), args.begin(), args.end());
        std::vector<std::string> variables = env;
        for (char** e = environ; *e != nullptr; ++e) {
            if (!std::string(*e).starts_with("MIRVEK_")) {
                variables.push_back(*e);
            }
        }
        std::vector<char*> argv;
        for (std::string& w : words) {
            argv.push_back(w.data());
        }
        argv.push_back(nullptr);
        std::vector<char*> envp;
        for (std::string& v : variables) {
            envp.push_back(v.data());
        }
        envp.push_back(nullptr);
        // The terminal passes the bytes as they are (no "\r" added to line ends).
        termios mode{};
        mode.c_cflag = CS8 | CREAD;
        pid = forkpty(&terminal, nullptr, &mode, nullptr);
        ASSERT_GE(pid, 0) << std::strerror(errno);
        if (pid == 0) {
            if (chdir(dir.c_str()) != 0) {
                _exit(126);
            }
            if (memoryBytes != 0) {
                const rlimit limit{memoryBytes, memoryBytes};
                setrlimit(RLIMIT_AS, &limit);
            }
            execve(program.c_str(), argv.data(), envp.data());
            _exit(127);
        }
    }

    // Reads what the program writes until the screen holds `text` (true) or the program ends or
    // a minute passes (false).
    bool readUntil(const std::string& text)
    {
        const auto end = std::chrono::steady_clock::now() + 60s;
        while (screen.find(text) == std::string::npos) {
            if (std::chrono::steady_clock::now() > end || !readSome()) {
                return false;
            }
        }
        return true;
    }

    // Reads to the end of the program's output and returns its exit status.
    int finish()
    {
        const auto end = std::chrono::steady_clock::now() + 120s;
        while (std::chrono::steady_clock::now() < end && readSome()) {
        }
        // The terminal closes as the program ends, a moment before it can be waited for.
        int status = 0;
        pid_t ended = 0;
        for (auto waited = 0ms; ended != pid && waited < 60s; waited += 20ms) {
            ended = waitpid(pid, &status, WNOHANG);
            if (ended != pid) {
                std::this_thread::sleep_for(20ms);
            }
        }
        if (ended != pid) {
            ADD_FAILURE() << "the program did not end";
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
        }
        pid = 0;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    // Whether every progress line on the screen was followed by the next one or erased before
    // anything else came, also at the very end.
    static testing::AssertionResult nothingWrittenOverAProgressLine(const std::string& screen)
    {
        const std::string lineEnd = "\33[K\r";
        for (size_t at = screen.find(lineEnd); at != std::string::npos; at = screen.find(lineEnd, at + 1)) {
            const std::string next = screen.substr(at + lineEnd.size(), 80);
            if (!next.starts_with(" -- Throughput: ") && !next.starts_with("\33[2K")) {
                return testing::AssertionFailure() << "written over the progress line: \"" << next << "\"";
            }
        }
        return testing::AssertionSuccess();
    }

private:
    // Waits up to a second for output and takes it; false once the program closed the terminal.
    bool readSome()
    {
        pollfd ready{terminal, POLLIN, 0};
        if (poll(&ready, 1, 1000) <= 0) {
            return true;
        }
        char buffer[4096];
        const ssize_t n = read(terminal, buffer, sizeof buffer);
        if (n <= 0) {
            return false;  // EIO: no process holds the terminal any longer
        }
        screen.append(buffer, static_cast<size_t>(n));
        return true;
    }
};

TEST_F(TerminalRun, OutOfMemoryIsNotPrintedOverTheProgressLine)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer needs more address space than the limit leaves";
#else
    // Four hundred counters: the search runs out of 100 MB of address space in about two seconds.
    fixture("usage_explode.xta", "m.xta");
    fixture("usage_explode.q", "m.q");
    startOnTerminal({"-q", "m.xta", "m.q"}, {}, 100u << 20);
    const int status = finish();
    EXPECT_EQ(status, 1) << screen;
    EXPECT_NE(screen.find(" -- Throughput: "), std::string::npos) << screen;
    EXPECT_TRUE(screen.ends_with("\33[K\r\33[2KOut of memory. See \n"
                                 "  the memory-saving options -S, -A and -Z in the help screen (-h)\n"
                                 "for more information.\n"))
        << screen;
    EXPECT_TRUE(nothingWrittenOverAProgressLine(screen));
#endif
}

TEST_F(TerminalRun, AReachedStateIsNotDumpedOverTheProgressLine)
{
    // The goal is stored after about twelve hundred states have been explored, a second or more.
    fixture("usage_explode.xta", "m.xta");
    file("m.q", "E<> a[2] == 3\n");
    startOnTerminal({"-q", "m.xta", "m.q"}, {"MIRVEK_DUMP_STATE=1"});
    const int status = finish();
    EXPECT_EQ(status, 0) << screen;
    const size_t reached = screen.find("Reached:");
    ASSERT_NE(reached, std::string::npos) << screen;
    EXPECT_NE(screen.rfind(" -- Throughput: ", reached), std::string::npos) << "no progress line before the goal";
    EXPECT_TRUE(nothingWrittenOverAProgressLine(screen));
}

TEST_F(TerminalRun, AnInterruptLeavesNoProgressLineBehind)
{
    // Once: the query is aborted. Twice in a row: the program may end at once, before the query's
    // report. Either way the progress line is gone and the run failed.
    for (int interrupts : {1, 2}) {
        fixture("usage_long_fischer.xta", "m.xta");
        fixture("usage_long_fischer.q", "m.q");
        startOnTerminal({"-q", "m.xta", "m.q"});
        ASSERT_TRUE(readUntil(" -- Throughput: ")) << screen;
        ASSERT_TRUE(readUntil("\33[K\r")) << screen;
        for (int i = 0; i < interrupts; ++i) {
            kill(pid, SIGINT);
        }
        const int status = finish();
        EXPECT_EQ(status, 1) << interrupts << ": " << screen;
        EXPECT_TRUE(nothingWrittenOverAProgressLine(screen)) << interrupts;
        EXPECT_EQ(screen.find("Verifying formula 2"), std::string::npos) << interrupts;
        screen.clear();
        close(terminal);
        terminal = -1;
    }
}

} // namespace
