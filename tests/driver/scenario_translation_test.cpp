#include "driver/scenario_translator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "driver/loading.h"
#include "driver/message_key.h"
#include "frontend/xml_writer.h"
#include "language/walk.h"
#include "typecheck/checked_reading.h"

namespace fs = std::filesystem;
using namespace ZOLT;

namespace {

std::string fixturePath(const std::string& name) { return (fs::path(MIRVEK_TEST_MODELS) / name).string(); }

std::string readFile(const std::string& path)
{
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string errorsOf(const TimedAutomataSystem& model)
{
    std::string text;
    for (const diagnostic_t& error : model.getErrors()) {
        text += error.message + " " + error.context + "\n";
    }
    return text;
}

// A checked model read from an XML text; the test fails when it has errors.
std::unique_ptr<TimedAutomataSystem> loadXmlText(const std::string& text)
{
    auto model = std::make_unique<TimedAutomataSystem>();
    readCheckedXmlModelBuffer(text.c_str(), model.get(), true);
    EXPECT_FALSE(model->errorsPresent()) << errorsOf(*model);
    return model;
}

std::unique_ptr<TimedAutomataSystem> loadFixture(const std::string& name)
{
    return loadXmlText(readFile(fixturePath(name)));
}

// A fixture with texts replaced, for variants of a fixture.
std::unique_ptr<TimedAutomataSystem>
loadFixtureWith(const std::string& name, const std::vector<std::pair<std::string, std::string>>& replacements)
{
    std::string text = readFile(fixturePath(name));
    for (const auto& [from, to] : replacements) {
        size_t at = text.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        if (at != std::string::npos) {
            text.replace(at, from.size(), to);
        }
    }
    return loadXmlText(text);
}

const template_t& templateNamed(const TimedAutomataSystem& model, const std::string& name)
{
    for (const template_t& templ : model.getTemplates()) {
        if (templ.symbol.getName() == name) {
            return templ;
        }
    }
    throw std::runtime_error("no template " + name);
}

bool hasTemplate(const TimedAutomataSystem& model, const std::string& name)
{
    return std::any_of(model.getTemplates().begin(), model.getTemplates().end(),
                       [&](const template_t& t) { return t.symbol.getName() == name; });
}

const instance_t& processNamed(const TimedAutomataSystem& model, const std::string& name)
{
    for (const instance_t& process : model.getProcesses()) {
        if (process.symbol.getName() == name) {
            return process;
        }
    }
    throw std::runtime_error("no process " + name);
}

std::vector<std::string> processNames(const TimedAutomataSystem& model)
{
    std::vector<std::string> names;
    for (const instance_t& process : model.getProcesses()) {
        names.push_back(process.symbol.getName());
    }
    return names;
}

std::vector<std::string> globalNames(const TimedAutomataSystem& model)
{
    std::vector<std::string> names;
    for (const variable_t& variable : model.getGlobals().variables) {
        names.push_back(variable.symbol.getName());
    }
    return names;
}

const variable_t& globalNamed(const TimedAutomataSystem& model, const std::string& name)
{
    for (const variable_t& variable : model.getGlobals().variables) {
        if (variable.symbol.getName() == name) {
            return variable;
        }
    }
    throw std::runtime_error("no global " + name);
}

// Locations as "name" or "name (committed)", in template order.
std::vector<std::string> locationsOf(const template_t& templ)
{
    std::vector<std::string> result;
    for (const location_t& location : templ.locations) {
        result.push_back(location.symbol.getName() +
                         (location.symbol.getType().isKind(COMMITTED) ? " (committed)" : ""));
    }
    return result;
}

std::string text(const expression_t& e) { return e.empty() ? std::string() : e.toString(false); }

std::string endName(const location_t* location, const branchpoint_t* branchpoint)
{
    return location != nullptr ? location->symbol.getName() : branchpoint->symbol.getName();
}

// An edge as "from -> to [guard] sync {update}".
std::string describe(const edge_t& edge)
{
    return endName(edge.sourceLocation, edge.sourceBranchpoint) + " -> " +
           endName(edge.targetLocation, edge.targetBranchpoint) + " [" + text(edge.guard) + "] " + text(edge.sync) +
           " {" + text(edge.update) + "}";
}

// The edges of a template, sorted, optionally only those between two locations.
std::vector<std::string> edgesOf(const template_t& templ, const std::string& from = "", const std::string& to = "")
{
    std::vector<std::string> result;
    for (const edge_t& edge : templ.edges) {
        if ((from.empty() || endName(edge.sourceLocation, edge.sourceBranchpoint) == from) &&
            (to.empty() || endName(edge.targetLocation, edge.targetBranchpoint) == to)) {
            result.push_back(describe(edge));
        }
    }
    std::sort(result.begin(), result.end());
    return result;
}

std::vector<std::string> sorted(std::vector<std::string> list)
{
    std::sort(list.begin(), list.end());
    return list;
}

std::vector<std::string> selectNames(const edge_t& edge)
{
    std::vector<std::string> names;
    for (size_t i = 0; !edge.select.empty() && i < edge.select.getSize(); ++i) {
        names.push_back(edge.select[i].getName());
    }
    return names;
}

const edge_t& edgeWithSync(const template_t& templ, const std::string& sync)
{
    for (const edge_t& edge : templ.edges) {
        if (text(edge.sync) == sync) {
            return edge;
        }
    }
    throw std::runtime_error("no edge on " + sync);
}

// The name of the field a DOT of the observer process selects.
std::string fieldOf(const expression_t& dot)
{
    return dot[0].getType().getFieldName(static_cast<size_t>(dot.getIndex()));
}

// A directory of its own for the files a test writes.
struct TempDir
{
    fs::path path;
    TempDir()
    {
        path = fs::temp_directory_path() /
               ("mirvek-scenario-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(path);
        fs::create_directories(path);
    }
    ~TempDir() { fs::remove_all(path); }
};

// Writes the model as XML and reads it back, checked; the test fails on errors.
std::unique_ptr<TimedAutomataSystem> writtenAndReadBack(TimedAutomataSystem& model, const fs::path& file)
{
    writeSystemXml(file.string().c_str(), model);
    auto back = std::make_unique<TimedAutomataSystem>();
    QueryList queries;
    EXPECT_EQ(readCheckedXmlModelFile(file.string().c_str(), back.get(), true, &queries), 0);
    EXPECT_FALSE(back->errorsPresent()) << errorsOf(*back);
    return back;
}

} // namespace

TEST(ScenarioTranslation, SingleMessageChartGivesTheSmallestObserver)
{
    auto model = loadFixture("lsc_single_message.xml");
    ScenarioTranslation result = translateScenarioProperty(*model, "Ping");

    EXPECT_TRUE(result.modelChanged);
    EXPECT_TRUE(model->isModified());
    EXPECT_EQ(model->observerName, "obsTA");
    ASSERT_EQ(result.property.getKind(), OBSERVER_LEADS_TO);
    EXPECT_EQ(result.property[0][0].getSymbol().getName(), "obsTA");
    EXPECT_EQ(fieldOf(result.property[0]), "lmin");
    EXPECT_EQ(fieldOf(result.property[1]), "lmax");

    EXPECT_EQ(processNames(*model), (std::vector<std::string>{"A", "B", "obsTA"}));
    EXPECT_EQ(globalNames(*model),
              (std::vector<std::string>{"t(0)", "c", "d", "src", "dst", "mayFire", "c_o", "nxtCmt"}));
    EXPECT_EQ(text(globalNamed(*model, "mayFire").initialiser), "true");
    EXPECT_EQ(text(globalNamed(*model, "nxtCmt").initialiser), "false");

    // The observer: the message leads from lmin to lmax, every other report on c is absorbed
    // by the loop, and no edge leads into Err since the message is the only next step.
    const template_t& observer = templateNamed(*model, "obsTATemplate");
    EXPECT_EQ(locationsOf(observer), (std::vector<std::string>{"lmin", "lmax (committed)", "Err (committed)"}));
    EXPECT_EQ(observer.initialLocation.getName(), "lmin");
    EXPECT_EQ(edgesOf(observer), sorted({
                                     "lmin -> lmax [src == 1 && dst == 2] c_o? {src = 0, dst = 0, nxtCmt = true}",
                                     "lmax -> lmin [1]  {nxtCmt = false}",
                                     "lmin -> lmin [!(src == 1 && dst == 2)] c_o? {src = 0, dst = 0}",
                                 }));

    // The sender reports its message over the copy channel from a committed location; the
    // receiver records its id; the communications on d, which carries no chart message, stay.
    const template_t& sender = templateNamed(*model, "Sender");
    EXPECT_EQ(locationsOf(sender), (std::vector<std::string>{"idle", "sent", "o_id0 (committed)"}));
    EXPECT_EQ(edgesOf(sender), sorted({
                                   "idle -> o_id0 [mayFire] c! {mayFire = false, src = 1}",
                                   "o_id0 -> sent [1] c_o! {mayFire = true}",
                                   "sent -> idle [1] d! {1}",
                               }));
    EXPECT_EQ(edgesOf(templateNamed(*model, "Receiver")), sorted({
                                                              "wait -> wait [1] c? {dst = 2}",
                                                              "wait -> wait [1] d? {1}",
                                                          }));
}

TEST(ScenarioTranslation, CommutingConditionsShareACut)
{
    auto model = loadFixture("lsc_commuting.xml");
    translateScenarioProperty(*model, "Both");
    const template_t& observer = templateNamed(*model, "obsTATemplate");

    // Both conditions come first on their lines: the start is left at once, in either order.
    EXPECT_EQ(locationsOf(observer).front(), "lmin (committed)");
    auto targetOf = [&](const std::string& from, const std::string& guard) {
        for (const edge_t& edge : observer.edges) {
            if (edge.sourceLocation->symbol.getName() == from && text(edge.guard) == guard &&
                edge.targetLocation->symbol.getName() != "Err") {
                return edge.targetLocation->symbol.getName();
            }
        }
        return std::string("none");
    };
    const std::string xFirst = targetOf(targetOf("lmin", "x == 0"), "y == 0");
    const std::string yFirst = targetOf(targetOf("lmin", "y == 0"), "x == 0");
    EXPECT_NE(xFirst, "none");
    EXPECT_EQ(xFirst, yFirst);
    // lmin, the two single cuts, the shared cut, lmax and Err.
    EXPECT_EQ(observer.locations.size(), 6u);
    EXPECT_EQ(edgesOf(observer, xFirst, "lmax"),
              (std::vector<std::string>{"id2 -> lmax [src == 1 && dst == 2] c_o? {src = 0, dst = 0, nxtCmt = true}"}));
}

TEST(ScenarioTranslation, PrechartStartsAtLpminAndTheMainChartAtLmin)
{
    auto model = loadFixture("lsc_prechart.xml");
    ScenarioTranslation result = translateScenarioProperty(*model, "Answer");
    const template_t& observer = templateNamed(*model, "obsTATemplate");

    EXPECT_EQ(observer.initialLocation.getName(), "lpmin");
    EXPECT_EQ(locationsOf(observer),
              (std::vector<std::string>{"lpmin", "lmin", "id2", "lmax (committed)", "Err (committed)"}));
    EXPECT_EQ(edgesOf(observer, "lpmin", "lmin"),
              (std::vector<std::string>{"lpmin -> lmin [src == 1 && dst == 2] req_o? {src = 0, dst = 0}"}));
    EXPECT_EQ(fieldOf(result.property[0]), "lmin");

    // In invariant mode every chart message may also pass at lpmin; the two messages with the
    // same label give one loop, which replaces the guarded listening loop.
    EXPECT_EQ(edgesOf(observer, "lpmin", "lpmin"), sorted({
                                                        "lpmin -> lpmin [1] ack_o? {1}",
                                                        "lpmin -> lpmin [1] req_o? {1}",
                                                    }));
}

TEST(ScenarioTranslation, ChartMessagesOutOfTurnAbandonThePrechart)
{
    // With the answer inside the prechart too, a request while the answer is awaited starts the
    // prechart over (one edge per request message of the chart); in the main chart a message out
    // of turn is an error.
    auto model = loadFixtureWith("lsc_prechart.xml", {{"<prechart><lsclocation>40</lsclocation></prechart>",
                                                       "<prechart><lsclocation>70</lsclocation></prechart>"}});
    translateScenarioProperty(*model, "Answer");
    const template_t& observer = templateNamed(*model, "obsTATemplate");
    EXPECT_EQ(locationsOf(observer),
              (std::vector<std::string>{"lpmin", "id1", "lmin", "lmax (committed)", "Err (committed)"}));
    EXPECT_EQ(edgesOf(observer, "id1", "lpmin"), (std::vector<std::string>{
                                                     "id1 -> lpmin [src == 1 && dst == 2] req_o? {src = 0, dst = 0}",
                                                     "id1 -> lpmin [src == 1 && dst == 2] req_o? {src = 0, dst = 0}",
                                                 }));
    EXPECT_TRUE(edgesOf(observer, "id1", "Err").empty());
    EXPECT_EQ(edgesOf(observer, "lmin", "Err"), sorted({
                                                    "lmin -> Err [src == 1 && dst == 2] req_o? {nxtCmt = true}",
                                                    "lmin -> Err [src == 2 && dst == 1] ack_o? {nxtCmt = true}",
                                                }));
}

TEST(ScenarioTranslation, SendersInCommittedLocationsWaitForTheObserver)
{
    auto model = loadFixtureWith("lsc_single_message.xml",
                                 {{"<name>idle</name></location>", "<name>idle</name><committed/></location>"}});
    translateScenarioProperty(*model, "Ping");
    EXPECT_EQ(edgesOf(templateNamed(*model, "Sender"), "idle"),
              (std::vector<std::string>{"idle -> o_id0 [mayFire && !nxtCmt] c! {mayFire = false, src = 1}"}));
}

TEST(ScenarioTranslation, ViolatedConditionsLeadBackToTheStartOrIntoErr)
{
    // A condition on A before the message from A to B: the start location is committed, so its
    // only loops are the edges of the violated condition.
    struct Case
    {
        const char* condition;
        const char* temperature;
        std::vector<std::string> guards;
    };
    const std::vector<Case> cases = {
        {"x &lt; 5 &amp;&amp; y == 1", "cold", {"x >= 5", "y != 1"}},
        {"x &lt; 5 || y == 1", "cold", {"x >= 5 && y != 1"}},
        {"x &lt;= 5 || y == 1", "cold", {"x > 5 && y != 1"}},
        {"b", "cold", {}},
        // Nested connectives are negated as a whole.
        {"x &lt; 5 || (y == 1 &amp;&amp; x &gt; 2)", "cold", {"x >= 5 && (y != 1 || x <= 2)"}},
        // A part without a negation here gives no edge, as a plain variable does.
        {"x &lt; 5 &amp;&amp; (b || y &gt; 1)", "cold", {"x >= 5"}},
        {"x &lt; 5 &amp;&amp; y == 1", "hot", {"x >= 5", "y != 1"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.condition) + " " + c.temperature);
        const std::string condition = std::string("<condition><anchor instanceid=\"i0\"/><lsclocation>5</lsclocation>"
                                                  "<temperature>") +
                                      c.temperature + "</temperature><label kind=\"condition\">" + c.condition +
                                      "</label></condition>\n  </lsc>";
        auto model = loadFixtureWith("lsc_single_message.xml",
                                     {{"</lsc>", condition}, {"chan c, d;", "chan c, d; int x, y; bool b;"}});
        translateScenarioProperty(*model, "Ping");
        const template_t& observer = templateNamed(*model, "obsTATemplate");
        const bool hot = std::string(c.temperature) == "hot";
        std::vector<std::string> found;
        for (const edge_t& edge : observer.edges) {
            if (edge.sourceLocation->symbol.getName() == "lmin" && edge.sync.empty() &&
                edge.targetLocation->symbol.getName() == (hot ? "Err" : "lmin")) {
                found.push_back(text(edge.guard));
            }
        }
        EXPECT_EQ(sorted(found), sorted(c.guards));
    }
}

TEST(ScenarioTranslation, GeneratedNamesStayClearOfTheModelsNames)
{
    // The model declares src and a channel ending in _o, names the member P(1,2) of a process
    // set in the chart and has a location o_id0 in the sending template.
    auto model = loadFixture("lsc_names.xml");
    translateScenarioProperty(*model, "Named");

    EXPECT_EQ(globalNames(*model), (std::vector<std::string>{"t(0)", "c", "req_o", "src", "src_o", "dst", "mayFire",
                                                             "c_o0", "nxtCmt"}));
    EXPECT_EQ(processNames(*model), (std::vector<std::string>{"Q", "P1_2", "obsTA"}));
    EXPECT_EQ(templateNamed(*model, "Named").instanceLines.front().symbol.getName(), "P1_2");
    EXPECT_EQ(edgesOf(templateNamed(*model, "obsTATemplate"), "lmin", "lmax"),
              (std::vector<std::string>{
                  "lmin -> lmax [src_o == 2 && dst == 1] c_o0? {src_o = 0, dst = 0, nxtCmt = true}"}));
    const template_t& sender = templateNamed(*model, "P");
    EXPECT_EQ(locationsOf(sender), (std::vector<std::string>{"start", "o_id0", "o_o_id0 (committed)"}));
    EXPECT_EQ(edgesOf(sender, "o_o_id0"), (std::vector<std::string>{"o_o_id0 -> o_id0 [1] c_o0! {mayFire = true}"}));
    // The channel req_o carries no chart message and keeps its edges.
    EXPECT_EQ(edgesOf(sender, "o_id0"), (std::vector<std::string>{"o_id0 -> start [1] req_o! {1}"}));
}

TEST(ScenarioTranslation, ASecondTranslationAddsAnObserverOfItsOwn)
{
    auto model = loadFixture("lsc_single_message.xml");
    translateScenarioProperty(*model, "Ping");
    ScenarioTranslation second = translateScenarioProperty(*model, "Ping");

    EXPECT_EQ(model->observerName, "obsTA_o");
    EXPECT_EQ(second.property[0][0].getSymbol().getName(), "obsTA_o");
    EXPECT_EQ(processNames(*model), (std::vector<std::string>{"A", "B", "obsTA", "obsTA_o"}));
    EXPECT_EQ(processNamed(*model, "obsTA_o").definingTemplate->symbol.getName(), "obsTATemplate_o");
    const std::vector<std::string> globals = globalNames(*model);
    for (const char* name : {"src_o", "dst_o", "mayFire_o", "nxtCmt_o", "c_o0"}) {
        EXPECT_NE(std::find(globals.begin(), globals.end(), name), globals.end()) << name;
    }
    EXPECT_EQ(edgesOf(templateNamed(*model, "obsTATemplate_o"), "lmin", "lmax"),
              (std::vector<std::string>{
                  "lmin -> lmax [src_o == 1 && dst_o == 2] c_o0? {src_o = 0, dst_o = 0, nxtCmt_o = true}"}));
}

TEST(ScenarioTranslation, ProcessesSharingATemplateGetPrivateCopies)
{
    // A (through the partial instantiation A0), B and C instantiate Worker; D alone instantiates
    // Listener.
    auto model = loadFixture("lsc_shared_template.xml");
    translateScenarioProperty(*model, "First");

    auto templateOf = [&](const char* process) {
        return processNamed(*model, process).definingTemplate->symbol.getName();
    };
    EXPECT_EQ(templateOf("A"), "ATemplate");
    EXPECT_EQ(templateOf("B"), "BTemplate");
    EXPECT_EQ(templateOf("C"), "Worker");
    EXPECT_EQ(templateOf("D"), "Listener");
    EXPECT_FALSE(hasTemplate(*model, "CTemplate"));
    EXPECT_FALSE(hasTemplate(*model, "DTemplate"));

    // A copy has the parameters, type definitions, variables and functions of its source, its
    // own functions, and the process binds its parameters as before.
    const template_t& worker = templateNamed(*model, "Worker");
    const template_t& copy = templateNamed(*model, "ATemplate");
    EXPECT_EQ(parametersText(copy), parametersText(worker));
    EXPECT_EQ(declarationsText(copy.declarations, false), declarationsText(worker.declarations, false));
    EXPECT_NE(copy.declarations.functions.front().symbol, worker.declarations.functions.front().symbol);
    // Nothing of the source is lost: branch points, branch probabilities and rates included.
    auto withProbabilities = [](const template_t& templ) {
        std::vector<std::string> edges;
        for (const edge_t& edge : templ.edges) {
            if (edge.sync.empty()) {
                edges.push_back(describe(edge) + " p " + text(edge.probability));
            }
        }
        return edges;
    };
    EXPECT_EQ(withProbabilities(copy), withProbabilities(worker));
    EXPECT_EQ(copy.branchpoints.size(), 1u);
    EXPECT_EQ(text(copy.locations[1].exponentialRate), "3");
    // A's argument, given to A0's parameter, now binds the copy's own parameter.
    EXPECT_EQ(instanceArgumentsText(processNamed(*model, "A")), "0");
    EXPECT_EQ(instanceArgumentsText(processNamed(*model, "B")), "1");

    // Every process reports with its own id.
    for (const auto& [process, id] : std::vector<std::pair<const char*, std::string>>{
             {"ATemplate", "1"}, {"BTemplate", "2"}, {"Worker", "3"}}) {
        EXPECT_EQ(text(edgeWithSync(templateNamed(*model, process), "c[i]!").update),
                  "n = next(j), mayFire = false, o_i0 = i, src = " + id)
            << process;
    }
}

TEST(ScenarioTranslation, CopiedAndSplitEdgesKeepTheirSelectVariables)
{
    auto model = loadFixture("lsc_shared_template.xml");
    translateScenarioProperty(*model, "First");
    const template_t& copy = templateNamed(*model, "ATemplate");

    // The communication keeps both select variables its labels use, bound to the copy's own
    // symbols; the report sends on the element the communication used, kept in o_i0.
    const edge_t& first = edgeWithSync(copy, "c[i]!");
    EXPECT_EQ(selectNames(first), (std::vector<std::string>{"i", "j"}));
    EXPECT_EQ(text(first.guard), "j <= n && mayFire");
    EXPECT_EQ(first.sync[0][1].getSymbol(), first.select[0]);
    EXPECT_EQ(first.guard[0][0].getSymbol(), first.select[1]);
    const binding_t next = first.update[0][0][0][1].getSymbol();
    EXPECT_EQ(next, copy.declarations.functions.front().symbol);

    const edge_t& report = edgeWithSync(copy, "c_o[o_i0]!");
    EXPECT_TRUE(selectNames(report).empty());
    EXPECT_EQ(describe(report), "o_id0 -> busy [1] c_o[o_i0]! {mayFire = true, o_i0 = 0}");
    EXPECT_EQ(variableText(copy.declarations.variables.back()), "int[0,1] o_i0 = 0");
    EXPECT_EQ(globalNamed(*model, "c_o").symbol.getType().toDeclaration("c_o"), "chan c_o[2]");

    // The observer listens on both elements of the chart channel; only c[0] carries a message.
    EXPECT_EQ(edgesOf(templateNamed(*model, "obsTATemplate"), "lmin", "lmin"),
              sorted({
                  "lmin -> lmin [!(src == 1 && dst == 4)] c_o[0]? {src = 0, dst = 0}",
                  "lmin -> lmin [1] c_o[1]? {1}",
              }));
}

TEST(ScenarioTranslation, ChannelArraysOfTwoDimensionsAreCopiedWhole)
{
    auto model = loadFixtureWith(
        "lsc_single_message.xml",
        {{"chan c, d;", "chan c, d; chan m[2][3];"},
         {"<label kind=\"synchronisation\">c!</label></transition>",
          "<label kind=\"synchronisation\">c!</label></transition><transition><source ref=\"a\"/><target ref=\"a\"/>"
          "<label kind=\"select\">i : int[0,1], j : int[0,2]</label>"
          "<label kind=\"synchronisation\">m[i][j]!</label></transition>"},
         {"<label kind=\"message\">c</label>", "<label kind=\"message\">m[1][2]</label>"}});
    translateScenarioProperty(*model, "Ping");

    EXPECT_EQ(globalNamed(*model, "m_o").symbol.getType().toDeclaration("m_o"), "chan m_o[2][3]");
    EXPECT_EQ(describe(edgeWithSync(templateNamed(*model, "Sender"), "m_o[o_i0][o_j0]!")),
              "o_id0 -> idle [1] m_o[o_i0][o_j0]! {mayFire = true, o_i0 = 0, o_j0 = 0}");
    // The observer listens on every element; one of them carries the chart's message.
    std::vector<std::string> loops;
    for (const edge_t& edge : templateNamed(*model, "obsTATemplate").edges) {
        if (edge.sourceLocation->symbol.getName() == "lmin" && edge.targetLocation->symbol.getName() == "lmin") {
            loops.push_back(text(edge.sync));
        }
    }
    EXPECT_EQ(sorted(loops), sorted({"m_o[0][0]?", "m_o[0][1]?", "m_o[0][2]?", "m_o[1][0]?", "m_o[1][1]?",
                                     "m_o[1][2]?"}));
    TempDir dir;
    writtenAndReadBack(*model, dir.path / "matrix.xml");
}

TEST(ScenarioTranslation, ProcessSetMembersBecomeProcessesOfTheirOwn)
{
    // Node is a process set over k in [0,1]; the chart instance C1 = Ring(1) names Node(first)
    // and Node(0).
    auto model = loadFixture("lsc_process_set.xml");
    translateScenarioProperty(*model, "C1");

    EXPECT_EQ(processNames(*model), (std::vector<std::string>{"H", "Node0", "Node1", "obsTA"}));
    std::vector<std::string> lines;
    for (const instance_line_t& line : templateNamed(*model, "Ring").instanceLines) {
        lines.push_back(line.symbol.getName());
    }
    EXPECT_EQ(lines, (std::vector<std::string>{"Node1", "Node0", "H"}));
    EXPECT_EQ(processNamed(*model, "Node0").definingTemplate->symbol.getName(), "Node0Template");
    EXPECT_EQ(processNamed(*model, "Node1").definingTemplate->symbol.getName(), "Node");

    // Ids follow the new process list: H 1, Node0 2, Node1 3. The observer is instantiated with
    // the chart instance's argument.
    const template_t& observer = templateNamed(*model, "obsTATemplate");
    EXPECT_EQ(edgesOf(observer, "lmin", "id1"),
              (std::vector<std::string>{
                  "lmin -> id1 [src == 3 && dst == 1] c_o[first]? {src = 0, dst = 0, nxtCmt = true}"}));
    EXPECT_EQ(parametersText(observer), "const int[0,1] first");
    EXPECT_EQ(instanceArgumentsText(processNamed(*model, "obsTA")), "1");
    EXPECT_EQ(edgesOf(templateNamed(*model, "Node0Template"), "o_id0"),
              (std::vector<std::string>{"o_id0 -> ready [1] c_o[k]! {mayFire = true}"}));
}

TEST(ScenarioTranslation, FailuresNameWhatIsMissing)
{
    struct Case
    {
        const char* name;
        const char* fixture;
        std::vector<std::pair<std::string, std::string>> changes;
        const char* scenario;
        const char* message;
        const char* printed;
    };
    const std::vector<Case> cases = {
        {"unknown scenario", "lsc_single_message.xml", {}, "Pong", "$No_such_scenario: Pong",
         "No such scenario: Pong."},
        {"not a chart", "lsc_single_message.xml", {}, "Sender", "$Not_a_LSC_template: Sender",
         "Not a LSC template: Sender."},
        {"line without process", "lsc_single_message.xml", {{"<name>B</name>", "<name>Z</name>"}}, "Ping",
         "$No_such_TA_process: Z", "No such TA process: Z."},
        {"member of a set outside the chart", "lsc_process_set.xml",
         {{"<instance id=\"i1\"><name>Node(0)</name></instance>", ""},
          {"<message><source ref=\"i1\"/><target ref=\"i2\"/><lsclocation>30</lsclocation>"
           "<label kind=\"message\">c[0]</label></message>",
           ""}},
         "C1", "Unresolved symbol", "Unresolved symbol."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto model = loadFixtureWith(c.fixture, c.changes);
        try {
            translateScenarioProperty(*model, c.scenario);
            ADD_FAILURE() << "no exception";
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), c.message);
            EXPECT_EQ(formatMessageKey(e.what()), c.printed);
        }
    }

    // A line without a process is found before the model changes beyond the two id variables.
    auto model = loadFixtureWith("lsc_single_message.xml", {{"<name>B</name>", "<name>Z</name>"}});
    EXPECT_THROW(translateScenarioProperty(*model, "Ping"), std::runtime_error);
    EXPECT_FALSE(model->isModified());
    EXPECT_EQ(globalNames(*model), (std::vector<std::string>{"t(0)", "c", "d", "src", "dst"}));
    EXPECT_EQ(processNames(*model), (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(model->getTemplates().size(), 3u);
}

TEST(ScenarioTranslation, TranslatedModelsReadBackWithoutErrors)
{
    struct Case
    {
        const char* fixture;
        const char* scenario;
    };
    const std::vector<Case> cases = {
        {"lsc_single_message.xml", "Ping"}, {"lsc_commuting.xml", "Both"},         {"lsc_prechart.xml", "Answer"},
        {"lsc_names.xml", "Named"},         {"lsc_shared_template.xml", "First"}, {"lsc_process_set.xml", "C1"},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fixture);
        auto model = loadFixture(c.fixture);
        translateScenarioProperty(*model, c.scenario);
        auto back = writtenAndReadBack(*model, dir.path / c.fixture);
        EXPECT_EQ(processNames(*back), processNames(*model));
        const template_t& observer = templateNamed(*back, "obsTATemplate");
        EXPECT_EQ(locationsOf(observer), locationsOf(templateNamed(*model, "obsTATemplate")));
        EXPECT_EQ(edgesOf(observer), edgesOf(templateNamed(*model, "obsTATemplate")));
    }
}

// The model compiler compiles the probability weight of every edge, so the translation leaves
// none without one (the edges it adds get the weight 1 that every edge of a model has by default).
TEST(ScenarioTranslation, EveryEdgeOfATranslatedModelHasAWeight)
{
    const std::vector<std::pair<const char*, const char*>> cases = {
        {"lsc_single_message.xml", "Ping"}, {"lsc_commuting.xml", "Both"},         {"lsc_prechart.xml", "Answer"},
        {"lsc_names.xml", "Named"},         {"lsc_shared_template.xml", "First"}, {"lsc_process_set.xml", "C1"},
    };
    for (const auto& [fixture, scenario] : cases) {
        SCOPED_TRACE(fixture);
        auto model = loadFixture(fixture);
        translateScenarioProperty(*model, scenario);
        for (const template_t& templ : model->getTemplates()) {
            for (const edge_t& edge : templ.edges) {
                EXPECT_FALSE(edge.probability.empty()) << templ.symbol.getName() << ": " << describe(edge);
            }
        }
    }
}

TEST(ScenarioTranslation, SavedModelComesWithTheObserversQuery)
{
    TempDir dir;
    parsedModel = loadFixture("lsc_single_message.xml").release();
    translateScenarioProperty(*parsedModel, "Ping");
    const std::string saved = (dir.path / "observed.xml").string();
    saveModifiedModel(saved, !parsedModel->observerName.empty());
    deleteParsedModel();

    EXPECT_EQ(readFile((dir.path / "observed.q").string()),
              "/*\nThe observer TA is satisfied.\nThis is equivalent to \"The LSC scenario is satisfied\".\n*/\n"
              "obsTA.lmin --> obsTA.lmax\n");
    TimedAutomataSystem back;
    QueryList queries;
    ASSERT_EQ(readCheckedXmlModelFile(saved.c_str(), &back, true, &queries), 0);
    EXPECT_FALSE(back.errorsPresent()) << errorsOf(back);
    EXPECT_EQ(locationsOf(templateNamed(back, "obsTATemplate")),
              (std::vector<std::string>{"lmin", "lmax (committed)", "Err (committed)"}));
}

// The XML writer saves a process on its own template rather than on the template of the
// instantiation it was made from: a saved model keeps the private copies and their
// instrumentation instead of instantiating the shared template again.
TEST(ScenarioTranslation, SavedModelKeepsThePrivateCopies)
{
    TempDir dir;
    auto model = loadFixture("lsc_shared_template.xml");
    translateScenarioProperty(*model, "First");
    auto back = writtenAndReadBack(*model, dir.path / "copies.xml");
    EXPECT_EQ(processNamed(*back, "A").definingTemplate->symbol.getName(), "ATemplate");
    EXPECT_EQ(processNamed(*back, "B").definingTemplate->symbol.getName(), "BTemplate");
    EXPECT_EQ(instanceArgumentsText(processNamed(*back, "B")), "1");
}
