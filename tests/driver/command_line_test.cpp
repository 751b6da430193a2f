#include "driver/command_line.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "driver/options.h"
#include "support/globals.h"
#include "support/random.h"

namespace {

// A mutable argv for getopt, which may reorder it.
class Argv
{
public:
    explicit Argv(std::vector<std::string> words) : words(std::move(words))
    {
        for (std::string& w : this->words) {
            pointers.push_back(w.data());
        }
        pointers.push_back(nullptr);
    }
    int argc() const { return static_cast<int>(words.size()); }
    char** argv() { return pointers.data(); }

private:
    std::vector<std::string> words;
    std::vector<char*> pointers;
};

struct Outcome
{
    int status;
    std::string out;
    std::string err;
};

Outcome parse(std::vector<std::string> words)
{
    words.insert(words.begin(), "mirvek");
    // Kept until the next parse: -L keeps a pointer into argv, as the program's argv lives on.
    static std::unique_ptr<Argv> args;
    args = std::make_unique<Argv>(std::move(words));
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const int status = readOptions(args->argc(), args->argv());
    std::fflush(stdout);
    std::fflush(stderr);
    Outcome o{status, testing::internal::GetCapturedStdout(), testing::internal::GetCapturedStderr()};
    return o;
}

std::string summary()
{
    testing::internal::CaptureStdout();
    printOptionSummary(stdout);
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

class CommandLineTest : public ::testing::Test
{
protected:
    void SetUp() override { resetDriverSettings(); }
    void TearDown() override { resetDriverSettings(); }
};

} // namespace

TEST_F(CommandLineTest, OptionsSetTheirFieldsOrFailWithTheirMessage)
{
    const VerifierOptions& o = verifierOptions;
    const TraceOutputSettings& t = traceOutputSettings;
    struct Case
    {
        const char* name;
        std::vector<std::string> args;
        int status;
        const char* err;  // exact text on standard error
        std::function<bool()> check;
    };
    const std::vector<Case> cases = {
        {"representations, last wins", {"-A", "-Z", "-C"}, continueRun, "", [&] { return o.representation == 0; }},
        {"convex hull", {"-A"}, continueRun, "", [&] { return o.representation == 3; }},
        {"search order -o 7 has no newline", {"-o", "7"}, 1, "-o used with invalid argument", nullptr},
        {"search order -o -1 fails", {"-o", "-1"}, 1, "-o used with invalid argument", nullptr},
        {"search order 4", {"-o4"}, continueRun, "", [&] { return o.searchOrder == 4; }},
        {"depth then breadth", {"-d", "-b"}, continueRun, "", [&] { return o.searchOrder == 0; }},
        {"extrapolation -n 7", {"-n", "7"}, 1, "-n used with invalid argument\n", nullptr},
        {"extrapolation -n x", {"-n", "x"}, 1, "-n used with invalid argument\n", nullptr},
        {"extrapolation 4", {"-n", "4"}, continueRun, "", [&] { return o.extrapolation == 4; }},
        {"hash bits 4 refused", {"-H", "4"}, 1, "-H used with invalid argument.\n", nullptr},
        {"hash bits 33 refused", {"-H", "33"}, 1, "-H used with invalid argument.\n", nullptr},
        {"hash bits -5 refused", {"-H", "-5"}, 1, "-H used with invalid argument.\n", nullptr},
        {"hash bits word refused", {"-H", "ab"}, 1, "-H used with invalid argument.\n", nullptr},
        {"hash bits 5", {"-H", "5"}, continueRun, "", [&] { return o.hashBits == 5; }},
        {"hash bits 32", {"-H", "32"}, continueRun, "", [&] { return o.hashBits == 32; }},
        {"hash bits empty keeps value", {"-H", "20", "-H", ""}, continueRun, "", [&] { return o.hashBits == 20; }},
        {"space 3 accepted", {"-S", "3"}, continueRun, "", [&] { return o.spaceOptimisation == 3; }},
        {"space 4 refused", {"-S", "4"}, 1, "-S used with invalid integer argument.\n", nullptr},
        {"trace 0", {"-t0"}, continueRun, "", [&] { return o.traceKind == 1 && o.traceOptimisation == 0; }},
        {"trace 1 shortest", {"-t1"}, continueRun, "", [&] { return o.traceKind == 2 && o.traceOptimisation == 3; }},
        {"trace 2 fastest", {"-t2"}, continueRun, "", [&] { return o.traceKind == 2 && o.traceOptimisation == 1; }},
        {"trace 3 refused", {"-t3"}, 1, "-t used with invalid argument.\n", nullptr},
        {"seed", {"-r", "-12345678901"}, continueRun, "", [&] { return seed == -12345678901LL; }},
        {"seed word refused", {"-r", "now"}, 1, "-r used with invalid argument.\n", nullptr},
        {"empty save file refused", {"-x", ""}, 1, "-x used with invalid argument.\n", nullptr},
        {"save file", {"-x", "out.xml"}, continueRun, "", [&] { return o.saveFileName == "out.xml"; }},
        {"lower delta 1, 0 and a word ignored", {"-p", "1", "-p", "0", "-p", "abc"}, continueRun, "",
         [&] { return o.deltaMinus == 0.01; }},
        {"lower delta 0.2", {"-p", "0.2"}, continueRun, "", [&] { return o.deltaMinus == 0.2; }},
        {"probabilities in range", {"-P", "0.3", "-a", "0.1", "-B", "0.2", "-E", "0.4", "-D", "0.5"}, continueRun, "",
         [&] {
             return o.deltaPlus == 0.3 && o.alpha == 0.1 && o.beta == 0.2 && o.epsilon == 0.4 &&
                    o.discretisationStep == 0.5;
         }},
        {"resolution 255 ignored", {"-R", "255"}, continueRun, "", [&] { return o.resolution == 4000; }},
        {"resolution 256", {"-R", "256"}, continueRun, "", [&] { return o.resolution == 256; }},
        {"bar width -3 becomes 0", {"-w", "5", "-w", "-3"}, continueRun, "",
         [&] { return o.histogramBarWidth == 0.0; }},
        {"sampling time must be positive", {"-F", "-1"}, continueRun, "", [&] { return o.samplingTime == 0.0; }},
        {"ratio thresholds take any value", {"-i", "-2", "-j", "7.5"}, continueRun, "",
         [&] { return o.u0 == -2.0 && o.u1 == 7.5; }},
        {"xml prefix like a number", {"-X", "0.5"}, continueRun, "",
         [&] { return xmlTraceWanted && xmlTracePrefix == "0.5" && o.discretisationStep == 0.01; }},
        {"log file", {"-L", "runs.log"}, continueRun, "",
         [&] { return o.smcLog && std::strcmp(o.smcLogFile, "runs.log") == 0; }},
        {"parametric comparison", {"-c", "1"}, continueRun, "", [&] { return o.parametricComparison; }},
        {"switches", {"-M", "-V", "-W", "-m", "-q", "-T"}, continueRun, "",
         [&] { return o.modestUpdates && o.coverage && !o.warnings && o.measureMitlDepth && t.quiet && o.reuse; }},
        {"pre-stable traces", {"-y", "-Y"}, continueRun, "", [&] { return t.symbolicTraces && t.preStable; }},
        {"post-stable traces", {"-Y", "-y"}, continueRun, "", [&] { return t.symbolicTraces && !t.preStable; }},
        {"trace files", {"-f", "run"}, continueRun, "",
         [&] { return t.traceToFiles && t.symbolicTraces && std::strcmp(t.traceFilePrefix, "run") == 0; }},
        {"long trace prefix is cut at 255", {"-f", std::string(300, 'p')}, continueRun, "",
         [&] { return std::strlen(t.traceFilePrefix) == 255; }},
        {"statistics follow progress", {"-s"}, continueRun, "", [&] { return !o.collectStatistics; }},
        {"statistics with summary", {"-s", "-u"}, continueRun, "", [&] { return o.collectStatistics; }},
        {"unknown letters go on", {"-N", "-k", "x", "-l", "y", "-d"}, continueRun,
         "Unknown option: -N.\nUnknown option: -k.\nUnknown option: -l.\n", [&] { return o.searchOrder == 1; }},
        {"reuse with bit-state hashing", {"-T", "-Z"}, 1,
         "Cannot optimize time consumption when bit-state hashing is used.", nullptr},
        {"reuse with shortest trace warns", {"-T", "-t1"}, continueRun,
         "Cannot reuse state space when trace length optimisation is used.\n",
         [&] { return o.reuse && o.traceOptimisation == 3; }},
        {"version", {"-v", "-o", "9"}, 0, "", nullptr},
    };
    for (const Case& c : cases) {
        resetDriverSettings();
        const Outcome r = parse(c.args);
        EXPECT_EQ(r.status, c.status) << c.name;
        EXPECT_EQ(r.err, c.err) << c.name;
        if (c.check) {
            EXPECT_TRUE(c.check()) << c.name;
        }
    }
}

TEST_F(CommandLineTest, GetoptComplaintsComeBeforeTheDriversOwn)
{
    const Outcome unknown = parse({"-z", "-d"});
    EXPECT_EQ(unknown.status, continueRun);
    EXPECT_NE(unknown.err.find("'z'"), std::string::npos) << unknown.err;
    EXPECT_TRUE(unknown.err.ends_with("\nUnknown option: -?.\n")) << unknown.err;
    EXPECT_EQ(verifierOptions.searchOrder, 1);

    const Outcome missing = parse({"-o"});
    EXPECT_EQ(missing.status, continueRun);
    EXPECT_TRUE(missing.err.ends_with("\nUnknown option: -?.\n")) << missing.err;
}

TEST_F(CommandLineTest, OptionsAndArgumentsMayMix)
{
    Argv args({"mirvek", "model.xta", "-d", "queries.q"});
    testing::internal::CaptureStderr();
    EXPECT_EQ(readOptions(args.argc(), args.argv()), continueRun);
    EXPECT_EQ(readArguments(args.argc(), args.argv(), optind), continueRun);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(verifierOptions.searchOrder, 1);
    EXPECT_EQ(modelFileName, "model.xta");
    EXPECT_EQ(queryFileName, "queries.q");
    EXPECT_TRUE(queryFileGiven);
}

TEST_F(CommandLineTest, HelpShowsTheCurrentHashBitsAndFails)
{
    const Outcome r = parse({"-H", "20", "-h"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.out.starts_with("Usage: mirvek [OPTION]... MODEL QUERY\n"
                                  "where MODEL is a model file and QUERY is a query file.\n"
                                  "If QUERY is missing it will be guessed.\n\nTuning options:\n"));
    EXPECT_NE(r.out.find("2**n\n      (default = 20)\n  -n <0|1|2|3|4>\n"), std::string::npos);
    EXPECT_TRUE(r.out.ends_with("enough to activate the feature in question.\n"));
    EXPECT_EQ(r.out.find("-m "), std::string::npos);
    EXPECT_EQ(r.out.find("-W"), std::string::npos);

    testing::internal::CaptureStdout();
    printUsage(stdout, "/usr/local/bin/mirvek-2");
    std::fflush(stdout);
    EXPECT_TRUE(testing::internal::GetCapturedStdout().starts_with("Usage: mirvek-2 [OPTION]"));
}

TEST_F(CommandLineTest, QueryFileIsGuessedFromTheLastKnownExtension)
{
    struct Case
    {
        const char* model;
        const char* guess;  // null: cannot be guessed
    };
    const Case cases[] = {
        {"train.xml", "train.q"},
        {"train.xta", "train.q"},
        {"train.ta", "train.q"},
        {"dir.xml/train.xml.bak", "dir.xml/train.q.bak"},
        {"a.xml.xta", "a.q.xta"},  // .xml wins over .xta wherever it is
        {"gate.xta.ta", "gate.q.ta"},
        {"TRAIN.XML", nullptr},
        {"train.txt", nullptr},
        {"", nullptr},
    };
    for (const Case& c : cases) {
        const auto guess = guessQueryFile(c.model);
        if (c.guess == nullptr) {
            EXPECT_FALSE(guess.has_value()) << c.model;
        } else {
            EXPECT_EQ(guess.value_or("<none>"), c.guess) << c.model;
        }
    }
}

TEST_F(CommandLineTest, ArgumentCountAndFailedGuessAreReported)
{
    struct Case
    {
        std::vector<std::string> args;
        int status;
        const char* err;
    };
    const Case cases[] = {
        {{"./bin/mirvek"}, 1,
         "./bin/mirvek: invalid number of arguments\nTry `./bin/mirvek -h' for more information.\n"},
        {{"./bin/mirvek", "a.xta", "a.q", "b.q"}, 1,
         "./bin/mirvek: invalid number of arguments\nTry `./bin/mirvek -h' for more information.\n"},
        {{"./bin/mirvek", "MODEL.XML"}, 1,
         "./bin/mirvek: unrecognized input format, can't guess the query file\n"
         "Try `./bin/mirvek -h' for more information.\n"},
        {{"./bin/mirvek", "model.xml"}, continueRun, ""},
    };
    for (const Case& c : cases) {
        resetDriverSettings();
        Argv args(c.args);
        testing::internal::CaptureStderr();
        EXPECT_EQ(readArguments(args.argc(), args.argv(), 1), c.status);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.err);
    }
    EXPECT_EQ(queryFileName, "model.q");
    EXPECT_FALSE(queryFileGiven);
}

TEST_F(CommandLineTest, SummaryNamesTheSettings)
{
    seed = 1234567890123LL;
    EXPECT_EQ(summary(), "Options for the verification:\n"
                         "  Generating no trace\n"
                         "  Search order is breadth first\n"
                         "  Using conservative space optimisation\n"
                         "  Seed is 1234567890123\n"
                         "  State space representation uses minimal constraint systems\n");

    VerifierOptions& o = verifierOptions;
    o.traceKind = 2;
    o.traceOptimisation = 3;
    o.searchOrder = 4;
    o.spaceOptimisation = 3;
    o.reuse = true;
    o.representation = 0x13;
    seed = -7;
    EXPECT_EQ(summary(), "Options for the verification:\n"
                         "  Generating shortest trace\n"
                         "  Search order is random optimal depth first\n"
                         "  Using extreme space optimisation\n"
                         "  Using reuse optimisation\n"
                         "  Seed is -7\n"
                         "  State space representation uses convex hull approximation with future testing\n");
}

TEST_F(CommandLineTest, SummaryGivesTheBitStateTableInBytesKilobytesOrMegabytes)
{
    struct Case
    {
        unsigned bits;
        const char* line;
    };
    const Case cases[] = {
        {5, "is 4 bytes\n"},   {12, "is 512 bytes\n"}, {13, "is 1 KB\n"}, {20, "is 128 KB\n"},
        {22, "is 512 KB\n"},   {23, "is 1 MB\n"},      {27, "is 16 MB\n"}, {32, "is 512 MB\n"},
    };
    verifierOptions.representation = 2;
    for (const Case& c : cases) {
        verifierOptions.hashBits = c.bits;
        const std::string text = summary();
        EXPECT_NE(text.find(std::string("  Hash table size for bit state hashing ") + c.line), std::string::npos)
            << c.bits << "\n" << text;
        EXPECT_TRUE(text.ends_with("uses bit state hashing\n")) << text;
    }
}

TEST_F(CommandLineTest, EachProcessSeedsFromTheSeedAndItsRank)
{
    struct Case
    {
        int64_t seed;
        int32_t rank;
        int32_t counter;  // (rank + 1) x low 32 bits of the seed, wrapping
    };
    const Case cases[] = {
        {42, 0, 42},
        {42, 3, 168},
        {0x100000003LL, 2, 9},             // only the low 32 bits count
        {0x7fffffffLL, 1, -2},              // the product wraps
        {-5, 0, -5},
    };
    for (const Case& c : cases) {
        seed = c.seed;
        processRank = c.rank;
        seedRandomGenerators();
        EXPECT_EQ(getRandomSeedCounter(), c.counter) << c.seed << " rank " << c.rank;
        const long drawn = random();
        srandom(static_cast<unsigned>(c.counter));
        EXPECT_EQ(drawn, random()) << c.seed << " rank " << c.rank;
    }
    processRank = 0;

    // The coordinator reseeds after the options, so a seed from -r counts there.
    seed = 0x100000007LL;
    seedCoordinator();
    EXPECT_EQ(getRandomSeedCounter(), 7);
    const long drawn = lrand48();
    srand48(0x100000007LL);
    EXPECT_EQ(drawn, lrand48());
}
