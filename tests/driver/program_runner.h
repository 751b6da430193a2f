#pragma once

// Runs the built program as a user starts it, in a folder of its own, and collects its status
// and output: the fixture of the tests of whole runs.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;

namespace {

struct RunResult
{
    int status = -1;
    std::string out;
    std::string err;
};

std::string slurp(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class ProgramTest : public ::testing::Test
{
protected:
    fs::path dir;

    void SetUp() override
    {
        char pattern[] = "/tmp/mirvek-program-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        // Open MPI refuses to start as root without these.
        setenv("OMPI_ALLOW_RUN_AS_ROOT", "1", 1);
        setenv("OMPI_ALLOW_RUN_AS_ROOT_CONFIRM", "1", 1);
    }

    void TearDown() override { fs::remove_all(dir); }

    std::string file(const std::string& name, const std::string& text = "")
    {
        std::ofstream(dir / name) << text;
        return (dir / name).string();
    }

    // Copies the model fixture `name` into the test's folder as `as` (the same name by default),
    // so that no query file lies beside it unless the test puts one there.
    std::string fixture(const std::string& name, std::string as = "")
    {
        if (as.empty()) {
            as = name;
        }
        fs::copy_file(fs::path(MIRVEK_TEST_MODELS) / name, dir / as, fs::copy_options::overwrite_existing);
        return as;
    }

    // A launcher that runs the program (its command words, found on the path), or none.
    std::vector<std::string> launcher;
    // The program file to run: the built one unless a test puts a copy elsewhere.
    std::string program = MIRVEK_PROGRAM;

    // Runs the program with argv[0] "mirvek" in the test's folder, or under the launcher. The
    // program's own environment variables are left out of the inherited environment; `env` adds
    // some ("NAME=value").
    RunResult run(const std::vector<std::string>& args, const std::vector<std::string>& env = {})
    {
        const pid_t pid = start(args, env);
        return pid == 0 ? RunResult() : finish(pid);
    }

    // Starts the program as run does and returns its process id (0 when it cannot be started).
    pid_t start(const std::vector<std::string>& args, const std::vector<std::string>& env = {})
    {
        std::vector<std::string> words = launcher;
        words.push_back(launcher.empty() ? "mirvek" : program);
        words.insert(words.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& w : words) {
            argv.push_back(w.data());
        }
        argv.push_back(nullptr);
        std::vector<std::string> variables = env;
        for (char** e = environ; *e != nullptr; ++e) {
            if (!std::string(*e).starts_with("MIRVEK_")) {
                variables.push_back(*e);
            }
        }
        std::vector<char*> envp;
        for (std::string& v : variables) {
            envp.push_back(v.data());
        }
        envp.push_back(nullptr);

        const std::string outPath = (dir / "stdout").string();
        const std::string errPath = (dir / "stderr").string();
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
        pid_t pid = 0;
        const int rc = launcher.empty()
                           ? posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data())
                           : posix_spawnp(&pid, launcher[0].c_str(), &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0) {
            ADD_FAILURE() << "cannot start " << program;
            return 0;
        }
        return pid;
    }

    // Waits for a started program to end and collects its status and output.
    RunResult finish(pid_t pid)
    {
        RunResult result;
        int status = 0;
        waitpid(pid, &status, 0);
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        result.out = slurp((dir / "stdout").string());
        result.err = slurp((dir / "stderr").string());
        return result;
    }
};

} // namespace
