// Whole runs of the command-line program, for behaviour seen only from outside: the dump, and
// what a verification of a compiled model answers.

#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace compiler_test {

struct ProgramRun
{
    int status = -1;
    std::string out;
    std::string err;
};

inline std::string slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The path of a file under tests/models.
inline std::string modelPath(const std::string& name)
{
    return std::string(MIRVEK_TEST_MODELS) + "/" + name;
}

// Runs the program on the model and the query file with the compiler's switches unset except
// those given ("NAME=value").
inline ProgramRun runProgram(const std::string& modelFile, const std::string& environment,
                             const std::string& queryFile = "/dev/null")
{
    char directory[] = "/tmp/mirvek-run-XXXXXX";
    if (mkdtemp(directory) == nullptr) {
        ADD_FAILURE() << "no temporary folder";
        return {};
    }
    const std::string dir = directory;
    const std::string command = "env -u MIRVEK_DEBUG_VM -u MIRVEK_COMPILE_ONLY -u MIRVEK_FORCE_FULL_PRIORITY_ORDER " +
                                environment + " '" + MIRVEK_PROGRAM + "' '" + modelFile + "' '" + queryFile +
                                "' > '" + dir + "/out' 2> '" + dir + "/err'";
    ProgramRun result;
    const int status = std::system(command.c_str());
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = slurp(dir + "/out");
    result.err = slurp(dir + "/err");
    std::system(("rm -rf '" + dir + "'").c_str());
    return result;
}

} // namespace compiler_test
