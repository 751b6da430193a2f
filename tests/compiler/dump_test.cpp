// The compiled-model dump and the debug output, from whole runs of the program.

#include <gtest/gtest.h>

#include <string>

#include "program_run.h"

using namespace compiler_test;

namespace {

std::string model(const std::string& name)
{
    return modelPath(name);
}

ProgramRun run(const std::string& modelFile, const std::string& environment)
{
    return runProgram(modelFile, environment);
}

} // namespace

TEST(CompileOnly, DumpOfATwoProcessModel)
{
    const ProgramRun r = run(model("comp_two_processes.xta"), "MIRVEK_COMPILE_ONLY=1");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, slurp(model("comp_two_processes.dump")));
}

TEST(CompileOnly, ProcessSetWithoutEdges)
{
    const ProgramRun r = run(model("comp_process_set.xta"), "MIRVEK_COMPILE_ONLY=");
    EXPECT_EQ(r.status, 0) << r.err;
    // Each instance with the layout index of its own initial location.
    EXPECT_NE(r.out.find("processes\n#index:initial:name\n0:6:P(0)\n1:11:P(1)\n\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\n3:var:0:1:0:1:P(0).i\n4:var:0:9:0:2:P(0).v\n5:location::A\n6:location::B\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("edges\n#process:source:target:guard:sync:update\n\nexpressions\n"), std::string::npos)
        << r.out;
    // The last section ends with its last line.
    const std::string end = "\n#address:reads:writes:text\n0:::1\n6:::1\n9:::1\n15:::1\n18:::1\n24:::1\n27:::1\n33:::1\n";
    ASSERT_GE(r.out.size(), end.size());
    EXPECT_EQ(r.out.substr(r.out.size() - end.size()), end);
}

TEST(CompileOnly, CompileErrorsAreModelErrors)
{
    const ProgramRun r = run(model("comp_error_initial_value.xta"), "MIRVEK_COMPILE_ONLY=1");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("comp_error_initial_value.xta:2: [error] Initial value out of range.\n"), std::string::npos)
        << r.err;
}

TEST(DebugOutput, TakesPrecedenceOverTheDump)
{
    for (const char* environment : {"MIRVEK_DEBUG_VM=1 MIRVEK_COMPILE_ONLY=1", "MIRVEK_DEBUG_VM="}) {
        SCOPED_TRACE(environment);
        const ProgramRun r = run(model("comp_two_processes.xta"), environment);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out.find("#index:const:value"), std::string::npos);
        // The symbol tree from the root, then the layout and the byte code; the run goes on.
        EXPECT_EQ(r.out.rfind("name: '', array: 0 to 0, size: 0, offset: 0, ref: 0, type: ", 0), 0u) << r.out;
        EXPECT_NE(r.out.find("\n    name: 'N', array: 0 to 0, size: 1, offset: 1, ref: 0, type: "),
                  std::string::npos);
        EXPECT_NE(r.out.find("\n        name: 'x', array: 0 to 0, size: 1, offset: 1, ref: 0, type: "),
                  std::string::npos);
        EXPECT_NE(r.out.find("\n0:clock:0:t(0)\n1:const:2\n"), std::string::npos);
        EXPECT_NE(r.out.find("\n9:location::Wait\n\n0: 0 1 \t\t\tpush 1\n2: 44 \t\t\thalt\n"), std::string::npos);
    }
}
