// Whole runs of the built program, as a user starts it: statuses and output.

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

    // Runs the program with argv[0] "mirvek" in the test's folder.
    RunResult run(const std::vector<std::string>& args)
    {
        std::vector<std::string> words{"mirvek"};
        words.insert(words.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& w : words) {
            argv.push_back(w.data());
        }
        argv.push_back(nullptr);

        const std::string outPath = (dir / "stdout").string();
        const std::string errPath = (dir / "stderr").string();
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
        pid_t pid = 0;
        RunResult result;
        const int rc = posix_spawn(&pid, MIRVEK_PROGRAM, &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0) {
            ADD_FAILURE() << "cannot start " << MIRVEK_PROGRAM;
            return result;
        }
        int status = 0;
        waitpid(pid, &status, 0);
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        result.out = slurp(outPath);
        result.err = slurp(errPath);
        return result;
    }
};

} // namespace

TEST_F(ProgramTest, OptionAndArgumentErrorsEndWithStatusOne)
{
    file("m.xta");
    struct Case
    {
        std::vector<std::string> args;
        int status;
        const char* out;
        const char* err;
    };
    const std::vector<Case> cases = {
        {{"-o", "7", "m.xta"}, 1, "", "-o used with invalid argument"},
        {{"-n", "7", "m.xta"}, 1, "", "-n used with invalid argument\n"},
        {{"-H", "33", "m.xta"}, 1, "", "-H used with invalid argument.\n"},
        {{"-T", "-Z", "m.xta"}, 1, "", "Cannot optimize time consumption when bit-state hashing is used."},
        {{}, 1, "", "mirvek: invalid number of arguments\nTry `mirvek -h' for more information.\n"},
        {{"m.XML"}, 1, "",
         "mirvek: unrecognized input format, can't guess the query file\nTry `mirvek -h' for more information.\n"},
    };
    for (const Case& c : cases) {
        const RunResult r = run(c.args);
        const std::string name = c.args.empty() ? "(no arguments)" : c.args[0];
        EXPECT_EQ(r.status, c.status) << name;
        EXPECT_EQ(r.out, c.out) << name;
        EXPECT_EQ(r.err, c.err) << name;
    }
}

TEST_F(ProgramTest, HelpFailsAndVersionSucceeds)
{
    const RunResult help = run({"-H", "20", "-h"});
    EXPECT_EQ(help.status, 1);
    EXPECT_TRUE(help.out.starts_with("Usage: mirvek [OPTION]... MODEL QUERY\n")) << help.out;
    EXPECT_NE(help.out.find("(default = 20)"), std::string::npos);

    const RunResult version = run({"-v"});
    EXPECT_EQ(version.status, 0);
    EXPECT_TRUE(version.out.starts_with("Mirvek version ")) << version.out;
    EXPECT_EQ(version.err, "");
}

TEST_F(ProgramTest, LoadedModelGetsTheGuessedQueriesAndTheSummary)
{
    file("train.xta", "clock x;\n");
    const std::string q = file("train.q", "E<> true\n");
    RunResult r = run({"-Z", "-H", "20", "-r", "42", "-N", "train.xta"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "Unknown option: -N.\n");
    EXPECT_EQ(r.out, "\33[1;34mGuessed query file:\33[0;0mtrain.q\n"
                     "Options for the verification:\n"
                     "  Generating no trace\n"
                     "  Search order is breadth first\n"
                     "  Using conservative space optimisation\n"
                     "  Seed is 42\n"
                     "  Hash table size for bit state hashing is 128 KB\n"
                     "  State space representation uses bit state hashing\n");

    // Quiet: no summary; a named query file is not announced.
    r = run({"-q", "train.xta", q});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");

    // A textual model without a query file: nothing to verify, still a completed run.
    file("lone.ta");
    r = run({"-q", "lone.ta"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
}

TEST_F(ProgramTest, MissingFilesAreReported)
{
    file("m.xta");
    RunResult r = run({"absent.xta", "m.q"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.err.starts_with("Error opening absent.xta: ")) << r.err;
    EXPECT_EQ(r.out, "");

    r = run({"m.xta", "absent.q"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.err.starts_with("Error opening absent.q: ")) << r.err;

    r = run({"absent.xml"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Error reading absent.xml\n");
}
