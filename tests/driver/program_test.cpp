// Whole runs of the built program, as a user starts it: statuses and output.

#include "program_runner.h"

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
        {{"-S", "4", "m.xta"}, 1, "", "-S used with invalid integer argument.\n"},
        {{"-t", "3", "m.xta"}, 1, "", "-t used with invalid argument.\n"},
        {{"-r", "soon", "m.xta"}, 1, "", "-r used with invalid argument.\n"},
        {{"-x", "", "m.xta"}, 1, "", "-x used with invalid argument.\n"},
        {{"m.xta", "m.q", "extra.q"}, 1, "",
         "mirvek: invalid number of arguments\nTry `mirvek -h' for more information.\n"},
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
    EXPECT_EQ(help.err, "");
    // The whole help screen, character for character: users and scripts read it.
    const char* const usage =
        "Usage: mirvek [OPTION]... MODEL QUERY\n"
        "where MODEL is a model file and QUERY is a query file.\n"
        "If QUERY is missing it will be guessed.\n"
        "\n"
        "Tuning options:\n"
        "  -A  Use convex-hull approximation.\n"
        "  -C  Disable most memory reduction techniques.\n"
        "  -H n \n"
        "      Set hash table size for bit state hashing to 2**n\n"
        "      (default = 20)\n"
        "  -n <0|1|2|3|4>\n"
        "      Select extrapolation operator.\n"
        "        0: Automatic\n"
        "        1: No extrapolation (use with care)\n"
        "        2: Difference extrapolation\n"
        "        3: Location based extrapolation\n"
        "        4: Lower/upper extrapolation\n"
        "  -o <0|1|2|3|4>\n"
        "      Select search order.\n"
        "        0: Breadth first (default, -b too)\n"
        "        1: Depth first (-d too)\n"
        "        2: Random depth first\n"
        "        3: Optimal first (requires -t1 or -t2)\n"
        "        4: Random optimal depth first (requires -t1 or -t2)\n"
        "  -S <0|1|2>\n"
        "      Optimize space consumption (0 = none, 1 = default, 2 = most)\n"
        "  -T  Reuse state space when several properties are examined.\n"
        "  -Z  Use bit-state hashing.\n"
        "\n"
        "Options for trace generation:\n"
        "  -f prefix\n"
        "      Write symbolic traces to files 'prefix-n.xtr' rather than to stderr.\n"
        "  -t <0|1|2>\n"
        "      Generate diagnostic information on stderr.\n"
        "        0: Some trace\n"
        "        1: Shortest trace (disables reuse)\n"
        "        2: Fastest trace (disables reuse)\n"
        "  -y  Display traces symbolically (post-stable).\n"
        "  -Y  Display traces symbolically (pre- and post-stable).\n"
        "\n"
        "Miscellaneous options:\n"
        "  -h  Shows this help screen.\n"
        "  -q  Do not display the option summary.\n"
        "  -r seed\n"
        "      Set seed for random number generator (default is current time).\n"
        "  -s  Do not display the progress indicator.\n"
        "  -u  Show summary after verification (incorrect for liveness properties).\n"
        "  -v  Show version number.\n"
        "  -x filename\n"
        "      Save the (modified) system in XML format, in file 'filename'.\n"
        "      If the system has been modified, an associated query file is created.\n"
        "  -X prefix\n"
        "      Save the symbolic trace in file 'prefixPropertynumber.xml'\n"
        "  -p double\n"
        "      lower (delta) probabilistic uncertainty.\n"
        "  -P double\n"
        "      upper (delta) probabilistic uncertainty.\n"
        "  -a double\n"
        "      probability of false negatives (alpha).\n"
        "  -B double\n"
        "      probability of false positives (beta).\n"
        "  -E double\n"
        "      probability uncertainty (epsilon).\n"
        "  -i double\n"
        "      threshold u0 for comparing probabilities.\n"
        "  -j double\n"
        "      threshold u1 for comparing probabilities.\n"
        "  -w double\n"
        "      histogram bar width.\n"
        "  -c 0|1\n"
        "      activate (1) or not (0) the SMC parametric comparison.\n"
        "  -V activate SMC coverage.\n"
        "  -R simulation resolution (pixels).\n"
        "  -D discretization step size (time) for hybrid systems.\n"
        "  -M activate Modest semantics for updates.\n"
        "  -L filename\n"
        "     logs the outcomes of the simulations for probability evaluations.\n"
        "  -F double\n"
        "     outputs to a file a sampling of simulations (when simulate is used).\n"
        "\n"
        "The ordering of options is significant.\n"
        "\n"
        "Environment variables:\n"
        "  MIRVEK_DUMP_STATE          output a state satisfying the property.\n"
        "  MIRVEK_DISABLE_SWEEPLINE   disable sweepline method\n"
        "  MIRVEK_DISABLE_OPTIMISER   disable peephole optimiser\n"
        "  MIRVEK_DISABLE_SYMMETRY    disable symmetry reduction\n"
        "  MIRVEK_COMPILE_ONLY        write compiled model to stdout and stop\n"
        "  MIRVEK_OLD_SYNTAX          read models in the older syntax\n"
        "\n"
        "The value of these variables does not matter. Defining them is\n"
        "enough to activate the feature in question.\n";
    EXPECT_EQ(help.out, usage);

    const RunResult version = run({"-v"});
    EXPECT_EQ(version.status, 0);
    EXPECT_TRUE(version.out.starts_with("Mirvek version ")) << version.out;
    EXPECT_EQ(version.out, "Mirvek version 0.1\n");
    EXPECT_EQ(version.err, "");
}

// The option summary of a run with -r 42 and the default options.
const std::string defaultSummary = "Options for the verification:\n"
                                   "  Generating no trace\n"
                                   "  Search order is breadth first\n"
                                   "  Using conservative space optimisation\n"
                                   "  Seed is 42\n"
                                   "  State space representation uses minimal constraint systems\n";

TEST_F(ProgramTest, CleanModelGetsTheGuessedQueriesAndTheSummary)
{
    fixture("drv_clean.xta", "train.xta");
    const std::string q = file("train.q", "E<> P.B\n");
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
                     "  State space representation uses bit state hashing\n"
                     // Unreachable under bit-state hashing: it may have been missed.
                     "\33[2K\nVerifying formula 1 at line 1\n"
                     "\33[2K -- Formula MAY NOT be satisfied.\n");

    // Quiet: no summary; a named query file is not announced.
    r = run({"-q", "train.xta", q});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "\33[2K\nVerifying formula 1 at line 1\n"
                     "\33[2K -- Formula is NOT satisfied.\n");
    EXPECT_EQ(r.err, "");

    // A textual model without a query file: nothing to verify, still a completed run.
    fixture("drv_clean.xta", "lone.ta");
    r = run({"-r", "42", "lone.ta"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, defaultSummary);
    EXPECT_EQ(r.err, "");
}

// Under an MPI launcher every process runs, and only the process of rank 0 talks to the user. A
// process that had not started MPI would take itself for rank 0 and print the summary as well.
TEST_F(ProgramTest, UnderAnMpiLauncherOnlyTheFirstProcessTalks)
{
    if (std::system("command -v mpirun >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "no mpirun";
    }
    fixture("drv_clean.xta", "train.xta");
    const std::string q = file("train.q", "E<> P.B\n");
    launcher = {"mpirun", "--oversubscribe", "-np", "2"};
    const RunResult r = run({"-r", "42", "train.xta", q});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, defaultSummary + "\33[2K\nVerifying formula 1 at line 1\n"
                                      "\33[2K -- Formula is NOT satisfied.\n");
}

TEST_F(ProgramTest, ModelErrorsArePrintedAllAndEndTheRun)
{
    struct Case
    {
        const char* model;
        const char* err;
    };
    const Case cases[] = {
        {"drv_syntax.xta", "drv_syntax.xta:2: [error] syntax error: unexpected ';'.\n"
                           "drv_syntax.xta:7: [error] syntax error: unexpected ';'.\n"},
        {"drv_type.xta", "drv_type.xta:8: [error] Channel expected.\n"
                         "drv_type.xta:9: [error] Expression of type (channel) cannot be used as a guard.\n"},
        // Errors in a template of an XML model name the element that holds the text and the line
        // inside that text.
        {"drv_xml_syntax_error.xml",
         "drv_xml_syntax_error.xml:/nta/template[1]/transition[1]/label[2]:2: [error] syntax error: unexpected end.\n"},
        {"drv_xml_type_error.xml",
         "drv_xml_type_error.xml:/nta/template[1]/transition[1]/label[2]:2: [error] Incompatible types.\n"
         "drv_xml_type_error.xml:/nta/template[1]/transition[2]/label[2]:1: [error] Channel expected.\n"},
        // A broken document: its faults are errors at their elements, after those found before
        // them, never an internal exception.
        {"drv_xml_structure_error.xml",
         "drv_xml_structure_error.xml:/nta/declaration:1: [error] syntax error: unexpected ';'.\n"
         "drv_xml_structure_error.xml:/nta/template[1]/name/comment:1: [error] Unexpected element inside a text.\n"
         "drv_xml_structure_error.xml:/nta/template[2]/location[1]:1: [error] Unknown tag in XML file.\n"},
    };
    for (const Case& c : cases) {
        fixture(c.model);
        // Errors come before the query file is looked at, so no query file is needed.
        const RunResult r = run({"-r", "42", c.model});
        EXPECT_EQ(r.status, 1) << c.model;
        EXPECT_EQ(r.err, c.err) << c.model;
        EXPECT_EQ(r.out, "") << c.model;
    }
}

// A model file that is no readable XML gets one error line at its line of the document,
// naming what is wrong with it, and none of the XML library's own lines.
TEST_F(ProgramTest, BrokenXmlDocumentsGetOneErrorLineNamingTheCause)
{
    struct Case
    {
        const char* model;
        const char* err;
    };
    const Case cases[] = {
        {"usage_truncated.xml",
         "usage_truncated.xml:1: [error] The document is cut short: it ends inside element <nta>.\n"},
        {"usage_latin1.xml", "usage_latin1.xml:13: [error] Byte 0xE9 at column 13 is not valid UTF-8 (save "
                               "the file as UTF-8 or declare its encoding).\n"},
        {"usage_empty.xml", "usage_empty.xml:1: [error] The file is empty.\n"},
        // A textual model under an XML name.
        {"drv_clean.xta", "m.xml:1: [error] Not an XML document: it does not begin with an element.\n"},
    };
    for (const Case& c : cases) {
        fixture(c.model, "m.xml");
        // Named query file: the guessed one would be looked for only after loading.
        file("m.q", "E<> true\n");
        const RunResult r = run({"-r", "42", "m.xml", "m.q"});
        std::string err = c.err;
        const std::string name = c.model;
        if (err.starts_with(name)) {
            err.replace(0, name.size(), "m.xml");
        }
        EXPECT_EQ(r.status, 1) << c.model;
        EXPECT_EQ(r.err, err) << c.model;
        EXPECT_EQ(r.out, "") << c.model;
    }
}

TEST_F(ProgramTest, WarningsArePrintedOnceUnlessSuppressed)
{
    fixture("drv_warnings.xta");
    const std::string warnings = "drv_warnings.xta:7: [warning] Expression does not have any effect.\n"
                                 "drv_warnings.xta:8: [warning] Expression does not have any effect.\n";
    struct Case
    {
        std::vector<std::string> args;
        std::string out;
        std::string err;
    };
    const Case cases[] = {
        {{"-r", "42", "drv_warnings.xta"}, defaultSummary, warnings},
        {{"-q", "-r", "42", "drv_warnings.xta"}, "", ""},
        {{"-W", "-r", "42", "drv_warnings.xta"}, defaultSummary, ""},
    };
    for (const Case& c : cases) {
        const RunResult r = run(c.args);
        EXPECT_EQ(r.status, 0) << c.args[0];
        EXPECT_EQ(r.out, c.out) << c.args[0];
        EXPECT_EQ(r.err, c.err) << c.args[0];
    }
}

TEST_F(ProgramTest, XmlModelWithoutQueryFileUsesItsStoredQueries)
{
    // No query file beside the model: the stored queries are used, and nothing is announced.
    // Each query is announced by its text. The counter of the model overflows its range while
    // the second query explores: that query is aborted, and the error ends the run.
    fixture("drv_stored_queries.xml", "work.xml");
    RunResult r = run({"-s", "-r", "42", "work.xml"});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.out, defaultSummary + "\nVerifying formula 1: E<> W.Busy\n"
                                      " -- Formula is satisfied.\n"
                                      "\nVerifying formula 2: A[] W.Busy imply W.c <= 4\n"
                                      " -- Aborted.\n");
    EXPECT_EQ(r.err, "work.xml:/nta/template[1]/transition[1]/label[2]:1: [error] Assignment of value '32768' to "
                     "variable 'n' is out of range.\n");

    // A query file beside it is guessed and takes their place.
    file("work.q", "E<> W.Busy\n");
    r = run({"-s", "-r", "42", "work.xml"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "\33[1;34mGuessed query file:\33[0;0mwork.q\n" + defaultSummary +
                         "\nVerifying formula 1 at line 1\n -- Formula is satisfied.\n");

    // A name ending in .xml in capitals is read as XML all the same when the query file is named.
    fixture("drv_stored_queries.xml", "WORK.XML");
    r = run({"-q", "WORK.XML", "work.q"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
}

TEST_F(ProgramTest, OldSyntaxIsReadWhenAskedFor)
{
    fixture("drv_old_syntax.ta");
    file("drv_old_syntax.q", "E<> P.t\n");
    // Defining the variable is enough; its value does not matter.
    for (const char* variable : {"MIRVEK_OLD_SYNTAX=1", "MIRVEK_OLD_SYNTAX="}) {
        const RunResult r = run({"-q", "drv_old_syntax.ta"}, {variable});
        EXPECT_EQ(r.status, 0) << variable << ": " << r.err;
        EXPECT_EQ(r.err, "") << variable;
    }
    const RunResult r = run({"-q", "drv_old_syntax.ta"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.err.starts_with("drv_old_syntax.ta:2: [error] ")) << r.err;
}

TEST_F(ProgramTest, UnmodifiedModelIsNotSaved)
{
    // -x saves a model that the run changed; loading alone changes nothing, so nothing is written.
    fixture("drv_clean.xta");
    fixture("drv_clean.q");
    const RunResult r = run({"-q", "-x", "saved.xml", "drv_clean.xta"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_FALSE(fs::exists(dir / "saved.xml"));
    EXPECT_FALSE(fs::exists(dir / "saved.q"));
}

TEST_F(ProgramTest, ExamplesLoadWithoutErrors)
{
    for (const char* example : {"handshake.xta", "kettle.xml"}) {
        const RunResult r = run({"-q", (fs::path(MIRVEK_EXAMPLES) / example).string()});
        EXPECT_EQ(r.status, 0) << example << ": " << r.err;
        EXPECT_EQ(r.err, "") << example;
    }
}

TEST_F(ProgramTest, MissingFilesAreReported)
{
    fixture("drv_clean.xta", "m.xta");
    RunResult r = run({"absent.xta", "m.q"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.err.starts_with("Error opening absent.xta: ")) << r.err;
    EXPECT_EQ(r.out, "");

    r = run({"m.xta", "absent.q"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.err.starts_with("Error opening absent.q: ")) << r.err;

    // A named query file must exist even when the model stores queries.
    fixture("drv_stored_queries.xml", "s.xml");
    r = run({"s.xml", "absent.q"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.err.starts_with("Error opening absent.q: ")) << r.err;

    r = run({"absent.xml"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Error reading absent.xml: No such file or directory\n");

    // A folder is not a model: the run must not go on as if it had read an empty one.
    fs::create_directory(dir / "models.xta");
    r = run({"models.xta", "m.q"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Error opening models.xta: Is a directory\n");
    EXPECT_EQ(r.out, "");
    fs::create_directory(dir / "models.xml");
    r = run({"models.xml", "m.q"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Error reading models.xml: Is a directory\n");
    EXPECT_EQ(r.out, "");
}
