// The libraries a run loads: the program links neither MPI nor libxml2, loads the module that
// holds libxml2 only for XML files, and still does all else when its modules are missing.

#include "program_runner.h"

namespace {

class ProgramModules : public ProgramTest
{};

bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

}  // namespace

TEST_F(ProgramModules, TheProgramLinksNeitherMpiNorLibxml2)
{
    // With this variable the dynamic loader lists the libraries it maps for the program and
    // stops, as ldd does.
    const RunResult r = run({}, {"LD_TRACE_LOADED_OBJECTS=1"});
    EXPECT_EQ(r.status, 0) << r.err;
    ASSERT_TRUE(contains(r.out, "libc.so")) << r.out;
    for (const char* library : {"libmpi", "libopen-pal", "libxml2", "libicu", "libhwloc"}) {
        EXPECT_FALSE(contains(r.out, library)) << library << " in\n" << r.out;
    }
}

TEST_F(ProgramModules, OnlyARunWithXmlFilesLoadsTheXmlModule)
{
    fixture("drv_clean.xta", "m.xta");
    fixture("drv_clean.q", "m.q");
    fixture("vc_gate.xml", "gate.xml");
    struct Case
    {
        const char* name;
        std::vector<std::string> args;
        bool xml;
    };
    const std::vector<Case> cases = {
        {"version", {"-v"}, false},
        {"textual model", {"-q", "-s", "m.xta", "m.q"}, false},
        {"XML model", {"-q", "-s", "gate.xml"}, true},
        {"XML traces asked for", {"-q", "-s", "-t0", "-X", "trace", "m.xta", "m.q"}, true},
    };
    for (const Case& c : cases) {
        // The dynamic loader reports on standard error every object it opens.
        const RunResult r = run(c.args, {"LD_DEBUG=files"});
        EXPECT_EQ(r.status, 0) << c.name << "\n" << r.out;
        EXPECT_EQ(contains(r.err, "mirvek-xml.so"), c.xml) << c.name;
        EXPECT_EQ(contains(r.err, "libxml2"), c.xml) << c.name;
        EXPECT_FALSE(contains(r.err, "libmpi")) << c.name;
    }
}

// A program copied away from its modules: what needs neither MPI nor XML works, and what needs
// them ends with a message that names the missing module, before any verification starts.
TEST_F(ProgramModules, AProgramWithoutItsModulesSaysWhichIsMissing)
{
    const std::string folder = (dir / "alone").string() + "/";
    fs::create_directory(folder);
    fs::copy_file(MIRVEK_PROGRAM, folder + "mirvek");
    program = folder + "mirvek";
    fixture("drv_clean.xta", "m.xta");
    fixture("drv_clean.q", "m.q");
    fixture("vc_gate.xml", "gate.xml");

    const std::string missingXml = "EXCEPTION: Cannot load the module " + folder +
                                   "mirvek-xml.so for reading and writing XML files: cannot open shared object "
                                   "file: No such file or directory.\n";
    const std::string missingMpi = "EXCEPTION: Cannot load the module " + folder +
                                   "mirvek-mpi.so for runs under an MPI launcher: cannot open shared object file: "
                                   "No such file or directory.\n";
    struct Case
    {
        const char* name;
        std::vector<std::string> args;
        std::vector<std::string> env;
        int status;
        std::string out;
        std::string err;
    };
    const std::vector<Case> cases = {
        {"version", {"-v"}, {}, 0, "Mirvek version 0.1\n", ""},
        {"textual model",
         {"-q", "-s", "m.xta", "m.q"},
         {},
         0,
         "\nVerifying formula 1 at line 1\n -- Formula is NOT satisfied.\n",
         ""},
        {"XML model", {"-q", "-s", "gate.xml"}, {}, 1, "", missingXml},
        {"XML traces", {"-q", "-s", "-t0", "-X", "trace", "m.xta", "m.q"}, {}, 1, "", missingXml},
        {"saved model", {"-q", "-s", "-x", "saved.xml", "m.xta", "m.q"}, {}, 1, "", missingXml},
        // What a launcher tells the processes it starts; without the module MPI cannot start.
        {"launcher", {"-q", "-s", "m.xta", "m.q"}, {"OMPI_COMM_WORLD_SIZE=2", "OMPI_COMM_WORLD_RANK=0"}, 1, "",
         missingMpi},
    };
    for (const Case& c : cases) {
        const RunResult r = run(c.args, c.env);
        EXPECT_EQ(r.status, c.status) << c.name;
        EXPECT_EQ(r.out, c.out) << c.name;
        EXPECT_EQ(r.err, c.err) << c.name;
    }
}
