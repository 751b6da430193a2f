// XML traces built in one process from hand-made paths over compiled models: the document's
// parts, their sharing and numbering, the owners of dotted names, colliding keys, and writer
// failures.

#include "driver/xml_trace.h"
#include "driver/xml_trace_writer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unordered_map>
#include <vector>

#include "dbm/bound.h"
#include "driver/model_checker.h"
#include "driver/options.h"
#include "language/system.h"
#include "runtime/symbolic_state.h"
#include "runtime/system.h"
#include "statespace/path.h"
#include "typecheck/checked_reading.h"
#include "xml_trace_document.h"

namespace fs = std::filesystem;
using xmltracetest::Element;

namespace {

// A model read from text and compiled.
class Compiled
{
public:
    explicit Compiled(const char* text)
    {
        ZOLT::readCheckedTextModelBuffer(text, &model, true);
        for (const ZOLT::diagnostic_t& d : model.getErrors()) {
            ADD_FAILURE() << "model error: " << d.message;
        }
        checker = new ModelChecker(&model, VerifierOptions());
        checker->compileSystem();
        system = checker->system.get();
    }
    ~Compiled() { checker.release(); }

    Process* process(const std::string& name) const { return system->findProcess(name); }
    Location* location(const std::string& processName, const std::string& name) const
    {
        for (Location* l : process(processName)->getLocations()) {
            if (l->getName() == name) {
                return l;
            }
        }
        ADD_FAILURE() << "no location " << processName << "." << name;
        return nullptr;
    }
    Edge* edge(const std::string& processName, size_t position) const
    {
        return process(processName)->getEdges().at(position).get();
    }

    ZOLT::TimedAutomataSystem model;
    base::RefPtr<ModelChecker> checker;
    System* system = nullptr;
};

// x_i - x_j <= c (or < c).
dbm::clock_constraint_t le(uint32_t i, uint32_t j, int32_t c)
{
    return {i, j, dbm::boundLE(c)};
}

// The non-negative zone of the dimension cut by the constraints.
dbm::zone_t zoneOf(uint32_t dim, const std::vector<dbm::clock_constraint_t>& constraints)
{
    dbm::zone_t z(dim);
    z.setInit();
    for (const dbm::clock_constraint_t& c : constraints) {
        EXPECT_TRUE(z.constrain(c));
    }
    return z;
}

// A state of the system: the initial one with the locations, integer values and zone given
// (values by position in the integer array).
SymbolicState* stateOf(System* system, const std::vector<Location*>& locations, const std::vector<int32_t>& values,
                       const dbm::zone_t& zone)
{
    SymbolicState* s = system->makeInitialState();
    for (size_t p = 0; p < locations.size(); ++p) {
        s->setLocation(static_cast<uint32_t>(p), locations[p]);
    }
    for (size_t k = 0; k < values.size(); ++k) {
        s->getIntegerArray().values[k] = values[k];
    }
    s->zone.assignZone(zone);
    return s;
}

// A chain of steps built one after the other; the first step has no transition.
class Steps
{
public:
    void add(std::vector<Edge*> edges, SymbolicState* state)
    {
        edges.push_back(nullptr);
        EdgeTuple tuple = steps.empty() ? emptyEdgeTuple() : internEdgeTuple(edges.data());
        steps.push_back(PathRef(new Path(steps.empty() ? PathRef() : steps.back(), tuple, state)));
    }
    Path* first() { return steps.back()->linkSteps(); }
    Path* last() { return steps.back().get(); }

private:
    std::vector<PathRef> steps;
};

class XMLTrace : public ::testing::Test
{
protected:
    fs::path dir;

    void SetUp() override
    {
        char pattern[] = "/tmp/mirvek-xtr-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override { fs::remove_all(dir); }

    // Writes the steps' trace and reads the document back.
    std::unique_ptr<Element> written(Steps& steps, System* system)
    {
        const std::string path = (dir / "trace.xml").string();
        Path* first = steps.first();
        EXPECT_TRUE(writeXMLTrace(first, steps.last(), system, path));
        return xmltracetest::readDocument(path);
    }
};

// P sends on c from idle once x is at least 2 and goes back without a guard; Q receives and
// returns. Q's edges are declared in the other order than the trace takes them.
const char* const handshake = "clock x;\n"
                              "int g;\n"
                              "chan c;\n"
                              "process P() {\n"
                              "    int v = 3;\n"
                              "    state idle { x <= 5 }, busy;\n"
                              "    init idle;\n"
                              "    trans idle -> busy { guard x >= 2; sync c!; assign v = v + 1, g = -4; },\n"
                              "          busy -> idle { };\n"
                              "}\n"
                              "process Q() {\n"
                              "    state w, done;\n"
                              "    init w;\n"
                              "    trans done -> w { }, w -> done { sync c?; };\n"
                              "}\n"
                              "system P, Q;\n";

// Clock bounds of a dbm_instance as "clock1 clock2 bound comp" texts, in document order.
std::vector<std::string> boundsOf(const Element& dbm)
{
    std::vector<std::string> texts;
    for (const Element* b : dbm.all("clockbound")) {
        texts.push_back((*b)["clock1"] + " " + (*b)["clock2"] + " " + (*b)["bound"] + " " + (*b)["comp"]);
    }
    return texts;
}

// The one DBM of a node.
const Element* dbmOf(const Element& root, const Element& node)
{
    std::string ids = node["dbm_instance"];
    EXPECT_TRUE(ids.ends_with(" ") && ids.find(' ') == ids.size() - 1) << ids;
    ids.pop_back();
    return root.byId("dbm_instance").at(ids);
}

// Values of a variable vector by variable id.
std::map<std::string, std::string> valuesOf(const Element& vector)
{
    std::map<std::string, std::string> values;
    for (const Element* v : vector.all("variable_state")) {
        EXPECT_FALSE(v->has("id"));
        values[(*v)["variable"]] = (*v)["value"];
    }
    return values;
}

}  // namespace

// A trace of two transitions: the system part with the visited locations and taken edges, the
// nodes with their location vectors, variable vectors and DBMs, and the transitions.
TEST_F(XMLTrace, ATraceIsWrittenAsNodesOverSharedParts)
{
    Compiled m(handshake);
    Location* idle = m.location("P", "idle");
    Location* busy = m.location("P", "busy");
    Location* w = m.location("Q", "w");
    Location* done = m.location("Q", "done");
    Edge* send = m.edge("P", 0);
    Edge* receive = m.edge("Q", 1);
    Edge* back = m.edge("Q", 0);
    // Integer array: g, P.v.
    Steps steps;
    steps.add({}, stateOf(m.system, {idle, w}, {0, 3}, zoneOf(2, {le(0, 1, -2), le(1, 0, 5)})));
    steps.add({send, receive}, stateOf(m.system, {busy, done}, {-4, 4}, zoneOf(2, {le(0, 1, -2)})));
    steps.add({back}, stateOf(m.system, {busy, w}, {-4, 4}, zoneOf(2, {le(0, 1, -3)})));
    auto root = written(steps, m.system);
    ASSERT_TRUE(root);

    EXPECT_EQ(root->name, "trace");
    EXPECT_EQ((*root)["initial_node"], "State1");
    EXPECT_EQ((*root)["trace_options"], "symbolic");
    EXPECT_EQ(root->groups(), (std::vector<std::string>{"system", "location_vector", "variable_vector", "node",
                                                        "dbm_instance", "transition"}));

    // The system: the clocks (the reference clock too) and global variables, then the processes.
    const Element* system = root->only("system");
    ASSERT_TRUE(system);
    EXPECT_EQ(system->groups(), (std::vector<std::string>{"clock", "variable", "process"}));
    auto clocks = system->byId("clock");
    ASSERT_EQ(clocks.size(), 2u);
    EXPECT_EQ((*clocks.at("sys.t(0)"))["name"], "t(0)");
    EXPECT_EQ((*clocks.at("sys.x"))["name"], "x");
    auto variables = system->byId("variable");
    ASSERT_EQ(variables.size(), 1u);
    EXPECT_EQ((*variables.at("sys.g"))["name"], "g");
    auto processes = system->byId("process");
    ASSERT_EQ(processes.size(), 2u);
    const Element& p = *processes.at("P");
    const Element& q = *processes.at("Q");
    EXPECT_EQ(p["name"], "P");
    EXPECT_EQ((*p.byId("variable").at("P.v"))["name"], "v");
    EXPECT_EQ(p.groups(), (std::vector<std::string>{"variable", "location", "edge"}));

    // Locations hold their invariant as CDATA, also when it is empty.
    auto pLocations = p.byId("location");
    ASSERT_EQ(pLocations.size(), 2u);
    EXPECT_EQ((*pLocations.at("P.idle"))["name"], "idle");
    EXPECT_EQ(pLocations.at("P.idle")->cdata, std::vector<std::string>{idle->getInvariantText()});
    EXPECT_FALSE(idle->getInvariantText().empty());
    EXPECT_EQ(pLocations.at("P.busy")->cdata, std::vector<std::string>{""});
    EXPECT_EQ(q.byId("location").size(), 2u);

    // Edges: numbered per process in the order the trace takes them, guard, sync and update
    // always present.
    auto pEdges = p.byId("edge");
    ASSERT_EQ(pEdges.size(), 1u);
    const Element& e1 = *pEdges.at("P.Edge1");
    EXPECT_EQ(e1["from"], "P.idle");
    EXPECT_EQ(e1["to"], "P.busy");
    ASSERT_EQ(e1.groups(), (std::vector<std::string>{"guard", "sync", "update"}));
    EXPECT_EQ(e1.only("guard")->text, send->getGuardText());
    EXPECT_EQ(e1.only("sync")->text, "c!");
    EXPECT_EQ(e1.only("update")->text, send->getUpdateText());
    auto qEdges = q.byId("edge");
    ASSERT_EQ(qEdges.size(), 2u);
    EXPECT_EQ((*qEdges.at("Q.Edge1"))["from"], "Q.w");
    EXPECT_EQ((*qEdges.at("Q.Edge1"))["to"], "Q.done");
    const Element& tau = *qEdges.at("Q.Edge2");
    EXPECT_EQ(tau["from"], "Q.done");
    ASSERT_EQ(tau.groups(), (std::vector<std::string>{"guard", "sync", "update"}));
    EXPECT_EQ(tau.only("guard")->text, back->getGuardText());
    EXPECT_EQ(tau.only("sync")->text, "tau");
    EXPECT_EQ(tau.only("update")->text, back->getUpdateText());

    // Nodes.
    auto nodes = root->byId("node");
    ASSERT_EQ(nodes.size(), 3u);
    auto locationVectors = root->byId("location_vector");
    auto variableVectors = root->byId("variable_vector");
    ASSERT_EQ(locationVectors.size(), 3u);
    ASSERT_EQ(variableVectors.size(), 2u);
    const Element& s1 = *nodes.at("State1");
    const Element& s2 = *nodes.at("State2");
    const Element& s3 = *nodes.at("State3");
    EXPECT_EQ((*locationVectors.at(s1["location_vector"]))["locations"], "P.idle Q.w ");
    EXPECT_EQ((*locationVectors.at(s2["location_vector"]))["locations"], "P.busy Q.done ");
    EXPECT_EQ((*locationVectors.at(s3["location_vector"]))["locations"], "P.busy Q.w ");
    EXPECT_EQ(valuesOf(*variableVectors.at(s1["variable_vector"])),
              (std::map<std::string, std::string>{{"sys.g", "0"}, {"P.v", "3"}}));
    EXPECT_EQ(valuesOf(*variableVectors.at(s2["variable_vector"])),
              (std::map<std::string, std::string>{{"sys.g", "-4"}, {"P.v", "4"}}));
    EXPECT_EQ(s3["variable_vector"], s2["variable_vector"]);

    // A zone 2 <= x <= 5 and one where x has no upper bound, entry by entry, row by row.
    EXPECT_EQ(boundsOf(*dbmOf(*root, s1)), (std::vector<std::string>{"sys.t(0) sys.t(0) 0 <=",
                                                                     "sys.t(0) sys.x -2 <=", "sys.x sys.t(0) 5 <=",
                                                                     "sys.x sys.x 0 <="}));
    EXPECT_EQ(boundsOf(*dbmOf(*root, s2)), (std::vector<std::string>{"sys.t(0) sys.t(0) 0 <=",
                                                                     "sys.t(0) sys.x -2 <=",
                                                                     "sys.x sys.t(0) inf <", "sys.x sys.x 0 <="}));
    EXPECT_EQ(root->byId("dbm_instance").size(), 3u);

    // Transitions follow the trace and have no id.
    auto transitions = root->all("transition");
    ASSERT_EQ(transitions.size(), 2u);
    EXPECT_EQ(transitions[0]->attributes, (std::map<std::string, std::string>{
                                              {"from", "State1"}, {"to", "State2"}, {"edges", "P.Edge1 Q.Edge1 "}}));
    EXPECT_EQ(transitions[1]->attributes,
              (std::map<std::string, std::string>{{"from", "State2"}, {"to", "State3"}, {"edges", "Q.Edge2 "}}));
}

// A trace of one step (the initial state answers the query) has the system part and nothing else.
TEST_F(XMLTrace, AOneStepTraceHasOnlyTheSystemPart)
{
    Compiled m(handshake);
    Steps steps;
    steps.add({}, m.system->makeInitialState());
    auto root = written(steps, m.system);
    ASSERT_TRUE(root);
    EXPECT_FALSE(root->has("initial_node"));
    EXPECT_EQ((*root)["trace_options"], "symbolic");
    EXPECT_EQ(root->groups(), std::vector<std::string>{"system"});
    // No location is visited and no edge taken, but every process is declared.
    const Element* system = root->only("system");
    ASSERT_TRUE(system);
    EXPECT_EQ(system->byId("process").size(), 2u);
    for (const Element* process : system->all("process")) {
        EXPECT_TRUE(process->all("location").empty());
        EXPECT_TRUE(process->all("edge").empty());
    }
}

// A state met again is the node it was first; an edge taken again is its first element; a DBM
// met again keeps its id while every lookup uses up a number.
TEST_F(XMLTrace, PartsMetAgainAreReferredToByTheirFirstId)
{
    Compiled m(handshake);
    Location* idle = m.location("P", "idle");
    Location* busy = m.location("P", "busy");
    Location* w = m.location("Q", "w");
    Location* done = m.location("Q", "done");
    Edge* send = m.edge("P", 0);
    Edge* ret = m.edge("P", 1);
    Edge* receive = m.edge("Q", 1);
    Edge* back = m.edge("Q", 0);
    const dbm::zone_t a = zoneOf(2, {le(1, 0, 5)});
    const dbm::zone_t b = zoneOf(2, {le(0, 1, -2)});
    const dbm::zone_t c = zoneOf(2, {le(0, 1, -7)});
    Steps steps;
    steps.add({}, stateOf(m.system, {idle, w}, {0, 3}, a));                   // State1, DBM1
    steps.add({send, receive}, stateOf(m.system, {busy, done}, {-4, 4}, b));  // State2, DBM2
    steps.add({back}, stateOf(m.system, {busy, w}, {-4, 4}, b));              // State3, DBM2 again (3)
    steps.add({ret}, stateOf(m.system, {idle, w}, {-4, 4}, c));               // State4, DBM4
    steps.add({send, receive}, stateOf(m.system, {busy, done}, {-4, 4}, b));  // State2 again
    auto root = written(steps, m.system);
    ASSERT_TRUE(root);

    auto nodes = root->byId("node");
    ASSERT_EQ(nodes.size(), 4u);
    EXPECT_EQ((*nodes.at("State3"))["dbm_instance"], (*nodes.at("State2"))["dbm_instance"]);
    EXPECT_EQ((*nodes.at("State4"))["location_vector"], (*nodes.at("State1"))["location_vector"]);
    auto dbms = root->byId("dbm_instance");
    EXPECT_EQ(dbms.size(), 3u);
    EXPECT_EQ(dbms.count("DBM1") + dbms.count("DBM2") + dbms.count("DBM4"), 3u);
    EXPECT_EQ((*nodes.at("State4"))["dbm_instance"], "DBM4 ");

    auto transitions = root->all("transition");
    ASSERT_EQ(transitions.size(), 4u);
    EXPECT_EQ((*transitions[3])["to"], "State2");
    EXPECT_EQ((*transitions[3])["from"], "State4");
    EXPECT_EQ((*transitions[3])["edges"], (*transitions[0])["edges"]);
    EXPECT_EQ((*transitions[2])["edges"], "P.Edge2 ");

    const Element* system = root->only("system");
    ASSERT_TRUE(system);
    auto processes = system->byId("process");
    EXPECT_EQ(processes.at("P")->byId("edge").size(), 2u);
    EXPECT_EQ(processes.at("Q")->byId("edge").size(), 2u);
    EXPECT_EQ(processes.at("P")->byId("location").size(), 2u);
}

// Compiled names carry their owner before the first dot: a process's clocks and variables go to
// the process, fields of a process's record keep the rest of the name. A global record's fields
// are dotted too, but name no process: they belong to the system under their full names.
TEST_F(XMLTrace, DottedNamesBelongToTheirProcessOrElseToTheSystem)
{
    Compiled m("clock t;\n"
               "struct { int f; int h; } r;\n"
               "int a[2];\n"
               "process P() {\n"
               "    clock y;\n"
               "    struct { int k; } s;\n"
               "    state l;\n"
               "    init l;\n"
               "}\n"
               "system P;\n");
    Steps steps;
    steps.add({}, m.system->makeInitialState());
    auto root = written(steps, m.system);
    ASSERT_TRUE(root);
    const Element* system = root->only("system");
    ASSERT_TRUE(system);

    struct Case
    {
        const Element* owner;
        const char* kind;
        const char* id;
        const char* name;
    };
    const Element* p = system->byId("process").at("P");
    const Case cases[] = {
        {system, "clock", "sys.t", "t"},      {system, "variable", "sys.r.f", "r.f"},
        {system, "variable", "sys.r.h", "r.h"}, {system, "variable", "sys.a[0]", "a[0]"},
        {p, "clock", "P.y", "y"},             {p, "variable", "P.s.k", "s.k"},
    };
    for (const Case& c : cases) {
        auto found = c.owner->byId(c.kind);
        ASSERT_EQ(found.count(c.id), 1u) << c.id;
        EXPECT_EQ((*found.at(c.id))["name"], c.name) << c.id;
    }
    EXPECT_EQ(system->all("variable").size(), 4u);
}

// Different states, variable vectors and DBMs whose 32-bit keys are equal stay apart, each
// written with its own content.
TEST_F(XMLTrace, CollidingKeysKeepDifferentPartsApart)
{
    Compiled m("clock x;\nint n;\nprocess P() { state l; init l; }\nsystem P;\n");
    Location* l = m.location("P", "l");
    const dbm::zone_t base = zoneOf(2, {});

    // Two values of n whose variable vectors have the same key.
    std::unordered_map<uint32_t, int32_t> seen;
    int32_t v1 = 0;
    int32_t v2 = 0;
    for (int32_t v = 0; v2 == v1; ++v) {
        ValueArray values(1, 0);
        values.values[0] = v;
        auto [at, added] = seen.emplace(xmltrace::variableVectorKey(values), v);
        if (!added) {
            v1 = at->second;
            v2 = v;
        }
    }
    // Two values of n that give states of one location and zone the same key.
    seen.clear();
    int32_t s1 = 0;
    int32_t s2 = 0;
    SymbolicState* probe = stateOf(m.system, {l}, {0}, base);
    for (int32_t v = 0; s2 == s1; ++v) {
        probe->getIntegerArray().values[0] = v;
        auto [at, added] = seen.emplace(xmltrace::stateKey(probe), v);
        if (!added) {
            s1 = at->second;
            s2 = v;
        }
    }
    probe->release();
    // Two zones 0 <= x <= c with the same DBM key.
    seen.clear();
    int32_t c1 = 0;
    int32_t c2 = 0;
    for (int32_t c = 0; c2 == c1; ++c) {
        auto [at, added] = seen.emplace(xmltrace::dbmKey(zoneOf(2, {le(1, 0, c)})), c);
        if (!added) {
            c1 = at->second;
            c2 = c;
        }
    }

    Steps steps;
    steps.add({}, stateOf(m.system, {l}, {v1}, zoneOf(2, {le(1, 0, c1)})));
    steps.add({}, stateOf(m.system, {l}, {v2}, zoneOf(2, {le(1, 0, c2)})));
    steps.add({}, stateOf(m.system, {l}, {s1}, base));
    steps.add({}, stateOf(m.system, {l}, {s2}, base));
    auto root = written(steps, m.system);
    ASSERT_TRUE(root);

    auto nodes = root->byId("node");
    ASSERT_EQ(nodes.size(), 4u);
    auto vectors = root->byId("variable_vector");
    const std::vector<int32_t> expected = {v1, v2, s1, s2};
    for (int k = 0; k < 4; ++k) {
        const Element& node = *nodes.at("State" + std::to_string(k + 1));
        EXPECT_EQ(valuesOf(*vectors.at(node["variable_vector"])).at("sys.n"), std::to_string(expected[k]))
            << "State" << k + 1;
    }
    EXPECT_EQ(boundsOf(*dbmOf(*root, *nodes.at("State1")))[2], "sys.x sys.t(0) " + std::to_string(c1) + " <=");
    EXPECT_EQ(boundsOf(*dbmOf(*root, *nodes.at("State2")))[2], "sys.x sys.t(0) " + std::to_string(c2) + " <=");
}

// A file that cannot be created and a write that fails are reported on standard error, and the
// trace does not count as written.
TEST_F(XMLTrace, WriterFailuresAreReported)
{
    Compiled m(handshake);
    Steps steps;
    steps.add({}, m.system->makeInitialState());
    steps.add({m.edge("P", 0), m.edge("Q", 1)}, m.system->makeInitialState());
    Path* first = steps.first();

    const std::string absent = (dir / "absent" / "tr1.xml").string();
    testing::internal::CaptureStderr();
    EXPECT_FALSE(writeXMLTrace(first, steps.last(), m.system, absent));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Somewhere something went terribly wrong in creating the XML Writer\nFilename: " + absent + "\n");
    EXPECT_FALSE(fs::exists(absent));

    if (!fs::exists("/dev/full")) {
        GTEST_SKIP() << "no /dev/full";
    }
    // A full disk, seen when the file is closed (a short document stays in the buffers until
    // then) and while it is written (a long one).
    Steps longer;
    longer.add({}, m.system->makeInitialState());
    for (int32_t k = 1; k <= 100; ++k) {
        longer.add({}, stateOf(m.system, {}, {}, zoneOf(2, {le(1, 0, k)})));
    }
    Path* longerFirst = longer.first();
    const struct
    {
        Path* first;
        Path* last;
    } traces[] = {{first, steps.last()}, {longerFirst, longer.last()}};
    for (const auto& trace : traces) {
        testing::internal::CaptureStderr();
        EXPECT_FALSE(writeXMLTrace(trace.first, trace.last, m.system, "/dev/full"));
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error writing /dev/full: No space left on device\n");
    }
}
