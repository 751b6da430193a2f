#include "driver/loading.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

#include "driver/command_line.h"
#include "driver/options.h"
#include "language/system.h"
#include "support/globals.h"

namespace fs = std::filesystem;

namespace {

// What the fake doors put into the model they read: diagnostics at (line, path), priorities,
// stored queries; and how the model was read.
struct FakeContents
{
    struct Entry
    {
        int32_t line;
        std::string path;
        std::string message;
        std::string context = {};
    };
    std::vector<Entry> errors;
    std::vector<Entry> warnings;
    bool priorities = false;
    std::vector<std::pair<std::string, std::string>> storedQueries;
    std::string readAs;  // "text" or "xml" after a read
};

FakeContents fake;

// Gives each entry its own line (and path) in the model's position table.
void fill(ZOLT::TimedAutomataSystem* model)
{
    int32_t at = 0;
    auto record = [&](const FakeContents::Entry& e, bool error) {
        model->addPosition(static_cast<uint32_t>(at), at, e.line, e.path);
        const ZOLT::span_t span(at, at + 1);
        if (error) {
            model->recordError(span, e.message, e.context);
        } else {
            model->recordWarning(span, e.message);
        }
        at += 10;
    };
    for (const auto& e : fake.errors) {
        record(e, true);
    }
    for (const auto& e : fake.warnings) {
        record(e, false);
    }
    if (fake.priorities) {
        model->setProcPriority("P", 1);
    }
}

bool fakeText(std::FILE*, ZOLT::TimedAutomataSystem* model, bool)
{
    fake.readAs = "text";
    fill(model);
    return !model->errorsPresent();
}

int32_t fakeXml(const std::string& fileName, ZOLT::TimedAutomataSystem* model, bool, ZOLT::QueryList* stored)
{
    fake.readAs = "xml";
    if (!fs::exists(fileName)) {
        return -1;
    }
    fill(model);
    for (const auto& [formula, comment] : fake.storedQueries) {
        stored->addQuery(formula, comment);
    }
    return 0;
}

struct Outcome
{
    int status;
    std::string out;
    std::string err;
};

class LoadingTest : public ::testing::Test
{
protected:
    fs::path dir;

    void SetUp() override
    {
        resetDriverSettings();
        ZOLT::clearQueryFormulas();
        char pattern[] = "/tmp/mirvek-loading-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        fake = FakeContents{};
        modelReaders() = ModelReaders{fakeText, fakeXml};
    }

    void TearDown() override
    {
        closeQueryFile();
        queryText = nullptr;
        resetModelReaders();
        deleteParsedModel();
        fs::remove_all(dir);
        resetDriverSettings();
        resetModelWriter();
        ZOLT::clearQueryFormulas();
    }

    std::string file(const std::string& name, const std::string& text = "")
    {
        std::ofstream(dir / name) << text;
        return (dir / name).string();
    }

    // Loads `model` with the query file `query`, named on the command line or guessed.
    Outcome load(const std::string& modelName, const std::string& query, bool given)
    {
        modelFileName = modelName;
        queryFileName = query;
        queryFileGiven = given;
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        const int status = loadModel();
        std::fflush(stdout);
        std::fflush(stderr);
        return {status, testing::internal::GetCapturedStdout(), testing::internal::GetCapturedStderr()};
    }

    // Makes a model filled from `fake` the run's model and reports its diagnostics.
    Outcome report(const std::string& fileName)
    {
        deleteParsedModel();
        parsedModel = new ZOLT::TimedAutomataSystem();
        fill(parsedModel);
        testing::internal::CaptureStderr();
        const int status = reportDiagnostics(fileName, *parsedModel);
        return {status, "", testing::internal::GetCapturedStderr()};
    }
};

} // namespace

TEST_F(LoadingTest, ErrorsArePrintedAllAndWithoutWarnings)
{
    // The context recorded with an error is not part of the printed line.
    fake.errors = {FakeContents::Entry{3, "", "$Unknown_identifier: x_1", "x_1 + 2"},
                   FakeContents::Entry{-1, "/nta/template[2]/transition[1]/label", "$Is_it_so?"}};
    fake.warnings = {FakeContents::Entry{1, "", "$Unused_variable"}};
    const Outcome r = report("m.xml");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "m.xml:3: [error] Unknown identifier: x_1.\n"
                     "m.xml:/nta/template[2]/transition[1]/label:4294967295: [error] Is it so?\n");
    EXPECT_EQ(parsedModel->getWarnings().size(), 1u);
}

TEST_F(LoadingTest, OnlyTheFirstProcessPrints)
{
    processRank = 1;
    fake.warnings = {FakeContents::Entry{1, "", "$Unused_variable"}};
    Outcome r = report("m.xta");
    EXPECT_EQ(r.status, continueRun);
    EXPECT_EQ(r.err, "");
    EXPECT_FALSE(parsedModel->warningsPresent());

    fake.errors = {FakeContents::Entry{2, "", "$syntax_error"}};
    r = report("m.xta");
    processRank = 0;
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "");
}

TEST_F(LoadingTest, WarningsArePrintedOnceUnlessSuppressed)
{
    struct Case
    {
        const char* name;
        bool quiet;
        bool warnings;
        bool printed;
    };
    const Case cases[] = {
        {"default", false, true, true},
        {"-q", true, true, false},
        {"-W", false, false, false},
    };
    for (const Case& c : cases) {
        traceOutputSettings.quiet = c.quiet;
        verifierOptions.warnings = c.warnings;
        fake.warnings = {FakeContents::Entry{7, "", "$Unused_variable x_y"},
                         FakeContents::Entry{9, "", "Plain text!"}};
        const Outcome r = report("m.xta");
        EXPECT_EQ(r.status, continueRun) << c.name;
        if (c.printed) {
            EXPECT_EQ(r.err, "m.xta:7: [warning] Unused variable x_y.\nm.xta:9: [warning] Plain text!\n") << c.name;
            EXPECT_FALSE(parsedModel->warningsPresent()) << c.name;
        } else {
            EXPECT_EQ(r.err, "") << c.name;
            EXPECT_EQ(parsedModel->getWarnings().size(), 2u) << c.name;  // kept, not cleared
        }
    }
}

TEST_F(LoadingTest, MissingFilesEndTheRun)
{
    const std::string missing = (dir / "none.xta").string();
    Outcome r = load(missing, (dir / "none.q").string(), false);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.err.starts_with("Error opening " + missing + ": ")) << r.err;

    // An XML model is opened by its reader; the failure names the system's reason.
    const std::string missingXml = (dir / "none.xml").string();
    r = load(missingXml, (dir / "none.q").string(), false);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Error reading " + missingXml + ": No such file or directory\n");

    // A named query file must exist even when the model stores queries.
    fake.storedQueries = {{"A[] not deadlock", "safe"}};
    const std::string xml = file("m.xml");
    const std::string q = (dir / "absent.q").string();
    r = load(xml, q, true);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.err.starts_with("Error opening " + q + ": ")) << r.err;
}

TEST_F(LoadingTest, FilesThatExistButCannotBeReadEndTheRun)
{
    // Only a guessed query file that does not exist gives way to the queries stored in the model.
    // One that exists but cannot be read, and a folder in place of a file, are errors: reading
    // nothing from them would end a run that verified nothing with success.
    fs::create_directory(dir / "folder.xta");
    fs::create_directory(dir / "folder.q");
    fs::create_symlink("loop.q", dir / "loop.q");
    struct Case
    {
        const char* name;
        std::string model;
        std::string query;
        bool given;
        std::string failing;  // the file named in the message
        const char* reason;
    };
    const Case cases[] = {
        {"model is a folder", (dir / "folder.xta").string(), file("f.q"), true, (dir / "folder.xta").string(),
         "Is a directory"},
        {"named query file is a folder", file("m.xta"), (dir / "folder.q").string(), true,
         (dir / "folder.q").string(), "Is a directory"},
        {"guessed query file is a folder", file("folder.ta"), (dir / "folder.q").string(), false,
         (dir / "folder.q").string(), "Is a directory"},
        {"guessed query file cannot be opened", file("loop.xta"), (dir / "loop.q").string(), false,
         (dir / "loop.q").string(), "Too many levels of symbolic links"},
    };
    fake.storedQueries = {{"A[] not deadlock", "safe"}};
    for (const Case& c : cases) {
        const Outcome r = load(c.model, c.query, c.given);
        EXPECT_EQ(r.status, 1) << c.name;
        EXPECT_EQ(r.err, "Error opening " + c.failing + ": " + c.reason + "\n") << c.name;
        EXPECT_EQ(r.out, "") << c.name;
        EXPECT_EQ(queryFile, nullptr) << c.name;
        EXPECT_EQ(queryText, nullptr) << c.name;
        closeQueryFile();
        queryText = nullptr;
    }
}

TEST_F(LoadingTest, ModelErrorsEndTheRunBeforeTheQueries)
{
    fake.errors = {FakeContents::Entry{2, "", "$syntax_error"}};
    const std::string m = file("m.xta");
    const Outcome r = load(m, file("m.q"), true);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, m + ":2: [error] syntax error.\n");
    EXPECT_EQ(queryFile, nullptr);
}

TEST_F(LoadingTest, ModelNameEndingInXmlInAnyCaseIsReadAsXml)
{
    for (const char* name : {"m.XML", "m.Xml", "m.xml"}) {
        fake.readAs.clear();
        const Outcome r = load(file(name), file("m.q"), true);
        EXPECT_EQ(r.status, continueRun) << name;
        EXPECT_EQ(fake.readAs, "xml") << name;
        closeQueryFile();
    }
    for (const char* name : {"m.xta", "xml", "m.xmlx"}) {
        fake.readAs.clear();
        const Outcome r = load(file(name), file("m.q"), true);
        EXPECT_EQ(r.status, continueRun) << name;
        EXPECT_EQ(fake.readAs, "text") << name;
        closeQueryFile();
    }
}

TEST_F(LoadingTest, QuerySourceIsTheFileElseTheStoredQueries)
{
    // A guessed file that exists is announced with its colours.
    const std::string q = file("m.q", "E<> true\n");
    Outcome r = load(file("m.xta"), q, false);
    EXPECT_EQ(r.status, continueRun);
    EXPECT_EQ(r.out, "\33[1;34mGuessed query file:\33[0;0m" + q + "\n");
    ASSERT_NE(queryFile, nullptr);
    EXPECT_TRUE(queriesFromFile);
    closeQueryFile();

    // A named one is not.
    r = load(file("m.xta"), q, true);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(queryFile, nullptr);
    closeQueryFile();

    // A guessed one that does not exist: the queries stored in the model, silently.
    fake.storedQueries = {{"A[] not deadlock", "safe"}};
    r = load(file("s.xml"), (dir / "s.q").string(), false);
    EXPECT_EQ(r.status, continueRun);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(queryFile, nullptr);
    ASSERT_NE(queryText, nullptr);
    EXPECT_NE(std::string(queryText).find("A[] not deadlock"), std::string::npos);
    EXPECT_FALSE(queriesFromFile);

    // A textual model has none: the query source is empty and the run goes on.
    queriesFromFile = true;
    r = load(file("t.xta"), (dir / "t.q").string(), false);
    EXPECT_EQ(r.status, continueRun);
    ASSERT_NE(queryText, nullptr);
    EXPECT_EQ(std::string(queryText), "");
}

TEST_F(LoadingTest, PrioritiesNeedPostStableSymbolicTraces)
{
    struct Case
    {
        const char* name;
        int traceKind;
        bool symbolic;
        bool preStable;
        int status;
    };
    const Case cases[] = {
        {"no trace", 0, false, false, continueRun},
        {"concrete trace", 1, false, false, 1},
        {"pre-stable trace", 1, true, true, 1},
        {"post-stable trace", 2, true, false, continueRun},
    };
    fake.priorities = true;
    const std::string m = file("p.xta");
    const std::string q = file("p.q");
    for (const Case& c : cases) {
        verifierOptions.traceKind = c.traceKind;
        traceOutputSettings.symbolicTraces = c.symbolic;
        traceOutputSettings.preStable = c.preStable;
        const Outcome r = load(m, q, true);
        EXPECT_EQ(r.status, c.status) << c.name;
        EXPECT_EQ(r.err, c.status == 1 ? "Can only generate symbolic non-prestable traces for models with priorities.\n" : "")
            << c.name;
        closeQueryFile();
    }
}

namespace {

std::vector<std::string> written;

int32_t fakeWriter(const std::string& fileName, ZOLT::TimedAutomataSystem*)
{
    written.push_back(fileName);
    std::ofstream(fileName) << "<nta/>\n";
    return 0;
}

std::string readFile(const fs::path& path)
{
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace

TEST_F(LoadingTest, ModifiedModelIsSavedWithTheObserversQueryFile)
{
    deleteParsedModel();
    parsedModel = new ZOLT::TimedAutomataSystem();
    parsedModel->setModified(true);
    parsedModel->observerName = "Obs";
    modelWriter() = fakeWriter;
    written.clear();

    // The query file takes the name of the model file with its last ".xml" replaced.
    fs::create_directory(dir / "a.xml.d");
    const std::string xml = (dir / "a.xml.d" / "out.xml").string();
    saveModifiedModel(xml, true);
    EXPECT_EQ(written, std::vector<std::string>{xml});
    EXPECT_EQ(readFile(dir / "a.xml.d" / "out.q"), "/*\n"
                                                    "The observer TA is satisfied.\n"
                                                    "This is equivalent to \"The LSC scenario is satisfied\".\n"
                                                    "*/\n"
                                                    "Obs.lmin --> Obs.lmax\n");

    // Without an observer there is no query file.
    const std::string plain = (dir / "plain.xml").string();
    saveModifiedModel(plain, false);
    EXPECT_TRUE(fs::exists(plain));
    EXPECT_FALSE(fs::exists(dir / "plain.q"));

    // A name without ".xml" cannot give the query file a name: the model is written, and the
    // failure is reported with the name rather than passed over.
    const std::string bare = (dir / "out").string();
    try {
        saveModifiedModel(bare, true);
        ADD_FAILURE() << "no failure for " << bare;
    } catch (const std::out_of_range& e) {
        EXPECT_NE(std::string(e.what()).find(bare), std::string::npos) << e.what();
    }
    EXPECT_TRUE(fs::exists(bare));

    // A query file that cannot be created is an error too, never a silent loss.
    const std::string lost = (dir / "gone" / "out.xml").string();
    modelWriter() = [](const std::string&, ZOLT::TimedAutomataSystem*) -> int32_t { return 0; };
    try {
        saveModifiedModel(lost, true);
        ADD_FAILURE() << "no failure for " << lost;
    } catch (const std::runtime_error& e) {
        EXPECT_TRUE(std::string(e.what()).starts_with("Error opening " + (dir / "gone" / "out.q").string() + ": "))
            << e.what();
    }

    // The front end's writer cannot create a file in a missing folder: the run ends with its
    // error, and no query file is left behind without its model.
    resetModelWriter();
    const std::string unwritten = (dir / "gone" / "unwritten.xml").string();
    try {
        saveModifiedModel(unwritten, true);
        ADD_FAILURE() << "no failure for " << unwritten;
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot write the model to " + unwritten + ": No such file or directory");
    }
    EXPECT_FALSE(fs::exists(dir / "gone" / "unwritten.q"));
}

// Loading through the real readers, which the driver uses unless a test installs fakes.
class RealLoadingTest : public LoadingTest
{
protected:
    void SetUp() override
    {
        LoadingTest::SetUp();
        resetModelReaders();
    }

    std::string fixture(const std::string& name, const std::string& as)
    {
        fs::copy_file(fs::path(MIRVEK_TEST_MODELS) / name, dir / as);
        return (dir / as).string();
    }
};

TEST_F(RealLoadingTest, XmlModelWithoutQueryFileGivesItsStoredQueries)
{
    const std::string m = fixture("drv_stored_queries.xml", "w.xml");
    const Outcome r = load(m, (dir / "w.q").string(), false);
    EXPECT_EQ(r.status, continueRun) << r.err;
    EXPECT_EQ(r.out + r.err, "");
    EXPECT_EQ(queryFile, nullptr);
    EXPECT_FALSE(queriesFromFile);
    ASSERT_NE(queryText, nullptr);
    EXPECT_EQ(std::string(queryText), "/*\nThe worker gets busy.\n*/\n\nE<> W.Busy\n\n"
                                      "/*\nWork takes at most 4 time units.\n*/\n\nA[] W.Busy imply W.c <= 4\n\n");
    EXPECT_EQ(ZOLT::getQueryFormula(1), "A[] W.Busy imply W.c <= 4");

    // The text belongs to the model and goes with it.
    deleteParsedModel();
    EXPECT_EQ(queryText, nullptr);
}

TEST_F(RealLoadingTest, SavedModelReadsBackWithoutErrors)
{
    struct Case
    {
        const char* fixture;
        const char* as;
    };
    const Case cases[] = {
        {"drv_clean.xta", "clean.xta"},
        {"drv_warnings.xta", "warnings.xta"},
        {"drv_stored_queries.xml", "stored.xml"},
    };
    for (const Case& c : cases) {
        // The queries are named, so that loading stops after the model.
        Outcome r = load(fixture(c.fixture, c.as), fixture("drv_clean.q", std::string(c.as) + ".q"), true);
        ASSERT_EQ(r.status, continueRun) << c.fixture << ": " << r.err;
        closeQueryFile();
        const std::size_t templates = parsedModel->getTemplates().size();
        const std::size_t processes = parsedModel->getProcesses().size();
        ASSERT_GT(processes, 0u) << c.fixture;

        const std::string saved = (dir / (std::string(c.as) + ".saved.xml")).string();
        saveModifiedModel(saved, false);

        r = load(saved, (dir / "none.q").string(), false);
        EXPECT_EQ(r.status, continueRun) << c.fixture << ": " << r.err;
        EXPECT_FALSE(parsedModel->errorsPresent()) << c.fixture;
        EXPECT_EQ(parsedModel->getTemplates().size(), templates) << c.fixture;
        EXPECT_EQ(parsedModel->getProcesses().size(), processes) << c.fixture;
        // Saved again, the model read back gives the same document.
        const std::string again = saved + ".again.xml";
        saveModifiedModel(again, false);
        EXPECT_EQ(readFile(again), readFile(saved)) << c.fixture;
        queryText = nullptr;
    }
}

// The type checker's findings as the user reads them: the model file, the line, the kind, and the
// message key turned into a sentence (plain sentences keep their own ending).
TEST_F(RealLoadingTest, TypeCheckerFindingsPrintAsSentences)
{
    struct Case
    {
        const char* fixture;
        int status;
        std::vector<std::string> lines;  // each printed after the model's file name
    };
    const Case cases[] = {
        {"tc_dynamic.xta", 1,
         {":11: [error] Wrong number of arguments.\n",
          ":12: [error] It appears your trying to spawn a non-dynamic template.\n",
          ":13: [error] Template is only declared - not defined.\n",
          ":14: [error] Exit can only be used in templates declared as dynamic.\n",
          ":15: [error] A sum can only  be made over integer, double, invariant or guard expressions.\n"}},
        {"tc_functions.xta", 1,
         {":5: [error] Invalid return type.\n", ":7: [error] Boolean expected.\n",
          ":7: [error] Scalar set or integer expected.\n", ":8: [error] Incompatible argument.\n",
          ":9: [error] Invalid assignment expression.\n", ":10: [error] Initialiser must be side-effect free.\n",
          ":10: [error] Assertion must be side-effect free.\n",
          ":12: [error] Dynamic constructs are only allowed on edges!\n"}},
        {"tc_edges.xta", 1,
         {":15: [error] Expression of type (constraint) cannot be used as a guard.\n",
          ":16: [error] Guard must be side-effect free.\n", ":17: [error] Channel expected.\n",
          ":18: [error] Synchronisation must be side-effect free.\n",
          ":19: [error] Invalid assignment expression.\n",
          ":21: [error] Expression of type (double) cannot be used as a probability.\n",
          ":22: [error] Probability must be side-effect free.\n",
          ":23: [error] CSP and IO synchronisations cannot be mixed.\n",
          ":24: [error] CSP and IO synchronisations cannot be mixed.\n"}},
        {"tc_clean.xta", continueRun, {":9: [warning] Expression does not have any effect.\n"}},
    };
    for (const Case& c : cases) {
        const std::string m = fixture(c.fixture, c.fixture);
        const Outcome r = load(m, fixture("drv_clean.q", std::string(c.fixture) + ".q"), true);
        std::string expected;
        for (const std::string& line : c.lines) {
            expected += m + line;
        }
        EXPECT_EQ(r.status, c.status) << c.fixture;
        EXPECT_EQ(r.err, expected) << c.fixture;
        EXPECT_EQ(r.out, "") << c.fixture;
        closeQueryFile();
        deleteParsedModel();
    }
}
