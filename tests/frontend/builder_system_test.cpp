// Templates, locations, edges, selects, instantiations, the system line, priorities,
// progress measures, Gantt charts, IO declarations, scenario charts and dynamic
// templates built from the post-order calls a parser makes.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "builder_probe.h"

using namespace ZOLT;
using mirvek_test::errors;
using mirvek_test::Fixture;
using mirvek_test::ProbeBuilder;
using mirvek_test::produce;
using mirvek_test::warnings;

namespace {

void pushRange(ProbeBuilder& b, int32_t lower, int32_t upper)
{
    b.exprNar(lower);
    b.exprNar(upper);
    b.typeBoundedInt(0);
}

// process <name>() { state a, b; init a; }
void simpleTemplate(ProbeBuilder& b, const char* name)
{
    b.procBegin(name, true, "", "");
    b.procState("a", false, false);
    b.procState("b", false, false);
    b.procStateInit("a");
    b.procEnd();
}

template_t& templateNamed(TimedAutomataSystem& system, const std::string& name)
{
    for (template_t& t : system.getTemplates()) {
        if (t.symbol.getName() == name) {
            return t;
        }
    }
    throw std::runtime_error("no template " + name);
}

} // namespace

TEST(SystemBuilderSystemLine, ProcessPriorityLevels)
{
    Fixture f;
    auto& b = f.builder;
    simpleTemplate(b, "P");
    simpleTemplate(b, "Q");
    simpleTemplate(b, "R");
    // system P, Q < R;
    b.process("P");
    b.process("Q");
    EXPECT_FALSE(f.system.hasPriorities()) << "level 0 sets no priorities";
    b.incProcPriority();
    b.process("R");
    EXPECT_EQ(f.system.getProcPriority("P"), 0);
    EXPECT_EQ(f.system.getProcPriority("Q"), 0);
    EXPECT_EQ(f.system.getProcPriority("R"), 1);
    EXPECT_TRUE(f.system.hasPriorities());
    ASSERT_EQ(f.system.getProcesses().size(), 3u);
    EXPECT_EQ(f.system.getProcesses().back().symbol.getType().getKind(), PROCESS);

    try {
        b.process("S");
        FAIL() << "no exception";
    } catch (const TypeException& e) {
        EXPECT_STREQ(e.what(), "$No_such_process: S");
    }
    b.typeInt(0);
    b.declVar("x", false);
    try {
        b.process("x");
        FAIL() << "no exception";
    } catch (const TypeException& e) {
        EXPECT_STREQ(e.what(), "$Not_a_template: x");
    }
    b.procPriority("nobody");
    EXPECT_EQ(errors(f.system), std::vector<std::string>{"$No_such_process: nobody"});
}

TEST(SystemBuilderSystemLine, ChannelPriorities)
{
    Fixture f;
    auto& b = f.builder;
    b.typeChannel(0);
    b.declVar("c", false);
    b.typeChannel(0);
    b.declVar("d", false);
    // chan priority default < c, d;
    b.defaultChanPriority();
    b.beginChanPriority();
    b.exprId("c");
    b.addChanPriority('<');
    b.exprId("d");
    b.addChanPriority(',');
    EXPECT_TRUE(b.fragments.empty());
    ASSERT_EQ(f.system.getChanPriorities().size(), 1u);
    const chan_priority_t& group = f.system.getChanPriorities().front();
    EXPECT_TRUE(group.head.empty()) << "the default channel";
    ASSERT_EQ(group.entries.size(), 2u);
    EXPECT_EQ(group.entries.front().separator, '<');
    EXPECT_EQ(group.entries.front().channel.toString(), "c");
    EXPECT_EQ(group.entries.back().separator, ',');
    EXPECT_TRUE(f.system.hasPriorities());
}

TEST(SystemBuilderTemplates, LocationsAndTheirFlags)
{
    Fixture f;
    auto& b = f.builder;
    b.typeInt(0);
    b.declVar("x", false);
    b.procBegin("T", true, "", "");
    b.typeClock(0);
    b.declVar("c", false);
    b.exprId("c");
    b.exprNar(5);
    b.exprBinary(LESS_EQUAL);
    b.procState("a", true, false);
    b.exprNar(2);
    b.procState("b", false, true);
    b.procState("d", false, false);
    b.procStateCommit("a");
    b.procStateUrgent("a");     // already committed
    b.procStateUrgent("b");
    b.procStateCommit("b");     // already urgent
    b.procStateInit("x");       // a variable
    b.procStateInit("nowhere");
    b.procStateInit("d");
    EXPECT_THROW(b.procState("d", false, false), TypeException);
    b.procEnd();

    template_t& t = templateNamed(f.system, "T");
    EXPECT_EQ(t.locations.size(), 4u) << "the duplicate is added before the exception";
    EXPECT_EQ(t.locations[0].invariant.toString(), "c <= 5");
    EXPECT_EQ(t.locations[1].exponentialRate.toString(), "2");
    type_t a = t.locations[0].symbol.getType();
    EXPECT_EQ(a.getKind(), COMMITTED);
    EXPECT_FALSE(a.isKind(URGENT));
    EXPECT_EQ(t.locations[1].symbol.getType().getKind(), URGENT);
    EXPECT_EQ(t.initialLocation, t.locations[2].symbol);
    EXPECT_EQ(errors(f.system), (std::vector<std::string>{
                                    "$States_cannot_be_committed_and_urgent_at_the_same_time",
                                    "$States_cannot_be_committed_and_urgent_at_the_same_time",
                                    "$Location_expected", "$Location_expected"}));
    EXPECT_EQ(b.currentTemplate, nullptr);
    EXPECT_EQ(b.frames.size(), 1u);
}

TEST(SystemBuilderTemplates, Edges)
{
    Fixture f;
    auto& b = f.builder;
    b.typeChannel(0);
    b.declVar("go", false);
    b.procBegin("T", true, "", "");
    b.typeInt(0);
    b.declVar("v", false);
    b.procState("a", false, false);
    b.procState("b", false, false);
    b.procBranchpoint("bp");
    size_t frames = b.frames.size();

    // a -> b { } : default labels.
    b.procEdgeBegin("a", "b", true, "");
    EXPECT_EQ(b.frames.size(), frames + 1);
    b.procEdgeEnd("a", "b");

    // An unknown source: reported, no edge, its labels are discarded.
    b.procEdgeBegin("nowhere", "b", true, "");
    pushRange(b, 0, 1);
    b.procSelect("i");
    b.exprTrue();
    b.procGuard();
    b.exprId("go");
    b.procSync(1);
    b.exprNar(3);
    b.procProb();
    b.exprId("v");
    b.exprNar(1);
    b.exprAssignment(ASSIGN);
    b.procUpdate();
    b.procEdgeEnd("nowhere", "b");
    EXPECT_EQ(b.frames.size(), frames);
    EXPECT_TRUE(b.fragments.empty());
    EXPECT_TRUE(b.typeFragments.empty());

    // b -> bp with all labels, uncontrollable, with an action.
    b.procEdgeBegin("b", "bp", false, "act");
    pushRange(b, 0, 3);
    b.procSelect("i");
    b.exprId("i");
    b.exprNar(2);
    b.exprBinary(LESS);
    b.procGuard();
    b.exprId("go");
    b.procSync(0);
    b.exprId("v");
    b.exprId("i");
    b.exprAssignment(ASSIGN);
    b.procUpdate();
    b.procEdgeEnd("b", "bp");
    b.procEdgeBegin("a", "x", true, "");
    b.procEdgeEnd("a", "x");
    b.procEnd();

    template_t& t = templateNamed(f.system, "T");
    ASSERT_EQ(t.edges.size(), 2u);
    const edge_t& plain = t.edges[0];
    EXPECT_EQ(plain.number, 0);
    EXPECT_EQ(plain.guard.toString(), "1");
    EXPECT_EQ(plain.update.toString(), "1");
    EXPECT_EQ(plain.probability.toString(), "1");
    EXPECT_TRUE(plain.sync.empty());
    EXPECT_EQ(plain.select.getSize(), 0u);
    EXPECT_EQ(plain.sourceLocation, &t.locations[0]);

    const edge_t& full = t.edges[1];
    EXPECT_EQ(full.number, 1);
    EXPECT_EQ(full.controllable, 0);
    EXPECT_EQ(full.actionName, "act");
    EXPECT_EQ(full.targetBranchpoint, &t.branchpoints[0]);
    EXPECT_EQ(full.guard.toString(), "i < 2");
    EXPECT_EQ(full.sync.getKind(), SYNC);
    EXPECT_EQ(full.sync.getSync(), 0);
    EXPECT_EQ(full.update.toString(), "v = i");
    ASSERT_EQ(full.select.getSize(), 1u);
    EXPECT_TRUE(full.select[0].getType().isKind(CONST));
    EXPECT_EQ(full.guard[0].getSymbol(), full.select[0]) << "the guard reads the select variable";

    EXPECT_EQ(errors(f.system), (std::vector<std::string>{"$No_such_location_or_branchpoint_(source)",
                                                          "$No_such_location_or_branchpoint_(destination)"}));
}

TEST(SystemBuilderTemplates, SelectTypes)
{
    struct Case
    {
        const char* name;
        std::function<void(ProbeBuilder&)> type;
        std::vector<std::string> errors;
        bool declared;
    };
    const std::vector<Case> cases = {
        {"bounded int", [](ProbeBuilder& b) { pushRange(b, 0, 3); }, {}, true},
        {"scalar set", [](ProbeBuilder& b) { b.exprNar(3); b.typeScalar(0); }, {}, true},
        {"plain int", [](ProbeBuilder& b) { b.typeInt(0); }, {"$Range_expected"}, false},
        {"const int", [](ProbeBuilder& b) { b.typeInt(1); }, {"$Range_expected"}, false},
        {"type name of a plain int", [](ProbeBuilder& b) { b.typeName(0, "plain"); }, {"$Range_expected"}, false},
        {"type name of a bounded int", [](ProbeBuilder& b) { b.typeName(0, "small"); }, {}, true},
        {"explicit full range", [](ProbeBuilder& b) { pushRange(b, -32767, 32767); }, {}, true},
        {"bool", [](ProbeBuilder& b) { b.typeBool(0); }, {"$Scalar_set_or_integer_expected"}, false},
        {"clock", [](ProbeBuilder& b) { b.typeClock(0); }, {"$Scalar_set_or_integer_expected"}, false},
    };
    for (const auto& c : cases) {
        Fixture f;
        auto& b = f.builder;
        b.typeInt(0);
        b.declTypeDef("plain");
        pushRange(b, 1, 2);
        b.declTypeDef("small");
        simpleTemplate(b, "T");
        b.procBegin("U", true, "", "");
        b.procState("a", false, false);
        b.procEdgeBegin("a", "a", true, "");
        c.type(b);
        b.procSelect("i");
        b.procEdgeEnd("a", "a");
        b.procEnd();
        const edge_t& edge = templateNamed(f.system, "U").edges.back();
        EXPECT_EQ(errors(f.system), c.errors) << c.name;
        EXPECT_EQ(edge.select.getSize(), c.declared ? 1u : 0u) << c.name;
        if (c.declared) {
            EXPECT_TRUE(edge.select[0].getType().isKind(CONST)) << c.name;
            EXPECT_TRUE(edge.select[0].getType().isKind(RANGE)) << c.name;
        }
        EXPECT_TRUE(b.typeFragments.empty()) << c.name;
    }
}

TEST(SystemBuilderTemplates, SelectShadowingWarns)
{
    Fixture f;
    auto& b = f.builder;
    b.typeInt(0);
    b.declVar("i", false);
    b.procBegin("T", true, "", "");
    b.procState("a", false, false);
    b.procEdgeBegin("a", "a", true, "");
    pushRange(b, 0, 1);
    b.procSelect("i");
    b.procEdgeEnd("a", "a");
    b.procEnd();
    EXPECT_EQ(warnings(f.system), std::vector<std::string>{"i $shadows_a_variable"});
    EXPECT_EQ(templateNamed(f.system, "T").edges[0].select.getSize(), 1u);
}

TEST(SystemBuilderInstances, ArgumentCountsAndTemplates)
{
    Fixture f;
    auto& b = f.builder;
    b.typeInt(0);
    b.declVar("x", false);
    // process T(int[0,3] n) { ... }
    pushRange(b, 0, 3);
    b.declParameter("n", false);
    simpleTemplate(b, "T");

    struct Case
    {
        const char* name;
        const char* instance;
        const char* templ;
        uint32_t arguments;
        std::vector<std::string> errors;
        bool created;
    };
    const std::vector<Case> cases = {
        {"one argument", "A", "T", 1, {}, true},
        {"too many", "B", "T", 2, {"$Too_many_arguments"}, false},
        {"too few", "C", "T", 0, {"$Too_few_arguments"}, false},
        {"not a template", "D", "x", 1, {"$Not_a_template"}, false},
        {"unknown template", "E", "nothing", 0, {"$Not_a_template"}, false},
        {"name taken", "x", "T", 1, {"$Duplicate_definition_of x"}, true},
    };
    for (const auto& c : cases) {
        f.system.clearErrors();
        size_t frames = b.frames.size();
        b.instantiationBegin(c.instance, 0, c.templ);
        for (uint32_t i = 0; i < c.arguments; ++i) {
            b.exprNar(static_cast<int32_t>(i + 1));
        }
        b.instantiationEnd(c.instance, 0, c.templ, c.arguments);
        EXPECT_EQ(errors(f.system), c.errors) << c.name;
        EXPECT_TRUE(b.fragments.empty()) << c.name;
        EXPECT_EQ(b.frames.size(), frames) << c.name;
        binding_t symbol;
        bool declared = b.resolve(c.instance, symbol) && symbol.getType().getKind() == INSTANCE;
        EXPECT_EQ(declared, c.created) << c.name;
    }

    // A = T(1) is a complete process; a partial instantiation leaves a set of them.
    // P(int[0,1] k) = T(k);
    pushRange(b, 0, 1);
    b.declParameter("k", false);
    b.instantiationBegin("P", 1, "T");
    b.exprId("k");
    b.instantiationEnd("P", 1, "T", 1);
    b.process("A");
    b.process("P");
    ASSERT_EQ(f.system.getProcesses().size(), 2u);
    EXPECT_EQ(f.system.getProcesses().front().symbol.getType().getKind(), PROCESS);
    const instance_t& set = f.system.getProcesses().back();
    EXPECT_EQ(set.symbol.getType().getKind(), PROCESS_SET);
    EXPECT_EQ(set.freeCount, 1u);
    ASSERT_EQ(set.bindings.size(), 1u);
    EXPECT_EQ(set.bindings.begin()->second.toString(), "k");
}

TEST(SystemBuilderInstances, RestrictedParametersFollowArguments)
{
    Fixture f;
    auto& b = f.builder;
    // const int M = 2; const int N = M + 1;
    b.typeInt(1);
    b.exprNar(2);
    b.declVar("M", true);
    b.typeInt(1);
    b.exprId("M");
    b.exprNar(1);
    b.exprBinary(ADD);
    b.declVar("N", true);
    // process T(const int n, const int m) { typedef scalar[n] s; ... }
    b.typeInt(1);
    b.declParameter("n", false);
    b.typeInt(1);
    b.declParameter("m", false);
    b.procBegin("T", true, "", "");
    b.exprId("n");
    b.typeScalar(0);
    b.declTypeDef("s");
    b.procState("a", false, false);
    b.procEnd();
    template_t& t = templateNamed(f.system, "T");
    ASSERT_EQ(t.restrictedParameters.size(), 1u);
    EXPECT_EQ(t.restrictedParameters.begin()->getName(), "n");

    // Q = T(N, 5): only the first argument sizes the set.
    b.instantiationBegin("Q", 0, "T");
    b.exprId("N");
    b.exprNar(5);
    b.instantiationEnd("Q", 0, "T", 2);
    binding_t q;
    ASSERT_TRUE(b.resolve("Q", q));
    auto* instance = static_cast<instance_t*>(q.getData());
    std::vector<std::string> names;
    for (const binding_t& s : instance->restrictedParameters) {
        names.push_back(s.getName());
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"M", "N"}));
    EXPECT_TRUE(errors(f.system).empty());
}

TEST(SystemBuilderDynamic, DeclarationAndDefinition)
{
    struct Case
    {
        const char* name;
        std::function<void(ProbeBuilder&)> declared;
        std::function<void(ProbeBuilder&)> defined;
        std::vector<std::string> errors;
    };
    auto intBool = [](ProbeBuilder& b) {
        b.typeInt(0);
        b.declParameter("a", false);
        b.typeBool(0);
        b.declParameter("b", false);
    };
    const std::string badParameter =
        "Parameters to a dynamic template must be either booleans or integers and cannot be references";
    const std::vector<Case> cases = {
        {"same parameters", intBool, intBool, {}},
        {"another name",
         intBool,
         [](ProbeBuilder& b) {
             b.typeInt(0);
             b.declParameter("a", false);
             b.typeBool(0);
             b.declParameter("c", false);
         },
         {"Inconsistent parameters"}},
        {"another count", intBool,
         [](ProbeBuilder& b) {
             b.typeInt(0);
             b.declParameter("a", false);
         },
         {"Inconsistent parameters"}},
        {"another kind", intBool,
         [](ProbeBuilder& b) {
             b.typeInt(1);
             b.declParameter("a", false);
             b.typeBool(0);
             b.declParameter("b", false);
         },
         {"Inconsistent parameters"}},
        {"a clock parameter",
         [](ProbeBuilder& b) {
             b.typeClock(0);
             b.declParameter("c", false);
         },
         [](ProbeBuilder& b) {
             b.typeClock(0);
             b.declParameter("c", false);
         },
         {badParameter}},
        {"a broadcast channel reference",
         [](ProbeBuilder& b) {
             b.typeChannel(4);
             b.declParameter("c", true);
         },
         [](ProbeBuilder& b) {
             b.typeChannel(4);
             b.declParameter("c", true);
         },
         {}},
    };
    for (const auto& c : cases) {
        Fixture f;
        auto& b = f.builder;
        c.declared(b);
        b.declDynamicTemplate("D");
        EXPECT_EQ(b.params.getSize(), 0u) << c.name;
        template_t* d = f.system.findDynamicTemplate("D");
        ASSERT_NE(d, nullptr) << c.name;
        EXPECT_FALSE(d->isDefined) << c.name;
        c.defined(b);
        b.procBegin("D", true, "", "");
        EXPECT_EQ(b.currentTemplate, d) << c.name;
        b.procState("go", false, false);
        b.procEnd();
        EXPECT_TRUE(d->isDefined) << c.name;
        EXPECT_TRUE(f.system.getTemplates().empty()) << c.name;
        EXPECT_EQ(errors(f.system), c.errors) << c.name;
    }
}

TEST(SystemBuilderDynamic, SpawnExitAndNumOf)
{
    Fixture f;
    auto& b = f.builder;
    b.typeInt(0);
    b.declParameter("a", false);
    b.declDynamicTemplate("D");
    b.exprId("D");
    b.exprNar(3);
    b.exprSpawn(1);
    EXPECT_EQ(b.top().getKind(), SPAWN);
    EXPECT_EQ(b.top().getSize(), 2u);
    EXPECT_EQ(b.top().getType().getKind(), INSTANCE);
    b.exprId("D");
    b.exprNumOf();
    EXPECT_EQ(b.top().getKind(), NUMOF);
    EXPECT_TRUE(b.top().getType().isKind(INT));
    b.exprExit();
    EXPECT_EQ(b.top().getKind(), EXIT);
    EXPECT_EQ(b.fragments.size(), 3u);
}

TEST(SystemBuilderDeclarations, ProgressGanttIoAndUpdates)
{
    Fixture f;
    auto& b = f.builder;
    b.typeInt(0);
    b.declVar("x", false);
    b.typeChannel(0);
    b.exprNar(2);
    b.typeArrayOfSize(0);
    b.declVar("c", false);

    // progress { x > 0 : x; x; }
    b.exprId("x");
    b.exprNar(0);
    b.exprBinary(GREATER);
    b.exprId("x");
    b.declProgress(true);
    b.exprId("x");
    b.declProgress(false);
    const auto& progress = f.system.getGlobals().progressMeasures;
    ASSERT_EQ(progress.size(), 2u);
    EXPECT_EQ(progress.front().guard.toString(), "x > 0");
    EXPECT_TRUE(progress.back().guard.empty());

    // IO Obs { c[0]!, c[1]? , c[0] }
    b.exprId("c");
    b.exprNar(0);
    b.exprArray();
    b.exprSync(1);
    b.exprId("c");
    b.exprNar(1);
    b.exprArray();
    b.exprSync(0);
    b.exprId("c");
    b.exprNar(0);
    b.exprArray();
    b.exprSync(2);
    b.declIO("Obs", 0, 3);
    // IO Other(int k) { c[1]! }: the header parameters were declared, not pushed.
    b.typeInt(0);
    b.declParameter("k", false);
    b.exprId("c");
    b.exprNar(1);
    b.exprArray();
    b.exprSync(1);
    b.declIO("Other", 1, 1);
    const auto& io = f.system.getGlobals().ioDeclarations;
    ASSERT_EQ(io.size(), 2u);
    EXPECT_EQ(io.front().instanceName, "Obs");
    EXPECT_EQ(io.front().outputs.size(), 1u);
    EXPECT_EQ(io.front().inputs.size(), 1u);
    EXPECT_EQ(io.front().cspChannels.size(), 1u);
    EXPECT_EQ(io.front().inputs.front().toString(), "c[1]");
    EXPECT_EQ(io.back().instanceName, "Other");
    ASSERT_EQ(io.back().parameters.size(), 1u);
    EXPECT_EQ(io.back().parameters[0].toString(), "k");
    EXPECT_EQ(b.params.getSize(), 0u) << "the header parameters do not leak into later declarations";
    EXPECT_TRUE(b.fragments.empty());

    // gantt { G(i : int[0,1]) : x > i -> 1, for (j : int[0,2]) x == j -> j; }
    size_t frames = b.frames.size();
    b.ganttDeclStart("G");
    pushRange(b, 0, 1);
    b.ganttDeclSelect("i");
    b.ganttStart();
    b.exprId("x");
    b.exprId("i");
    b.exprBinary(GREATER);
    b.exprNar(1);
    b.ganttEntryEnd();
    b.ganttStart();
    pushRange(b, 0, 2);
    b.ganttEntrySelect("j");
    b.exprId("x");
    b.exprId("j");
    b.exprBinary(EQUAL);
    b.exprId("j");
    b.ganttEntryEnd();
    b.ganttDeclEnd();
    EXPECT_EQ(b.frames.size(), frames);
    const auto& charts = f.system.getGlobals().ganttCharts;
    ASSERT_EQ(charts.size(), 1u);
    EXPECT_EQ(charts.front().name, "G");
    EXPECT_EQ(charts.front().parameters.getSize(), 1u);
    ASSERT_EQ(charts.front().entries.size(), 2u);
    EXPECT_EQ(charts.front().entries.front().condition.toString(), "x > i");
    EXPECT_EQ(charts.front().entries.back().select.getSize(), 1u);
    EXPECT_EQ(charts.front().entries.back().value.toString(), "j");

    // before_update { x = 1 } after_update { x = 2 }
    b.exprId("x");
    b.exprNar(1);
    b.exprAssignment(ASSIGN);
    b.beforeUpdate();
    b.exprId("x");
    b.exprNar(2);
    b.exprAssignment(ASSIGN);
    b.afterUpdate();
    EXPECT_EQ(f.system.getBeforeUpdate().toString(), "x = 1");
    EXPECT_EQ(f.system.getAfterUpdate().toString(), "x = 2");
    EXPECT_TRUE(b.fragments.empty());
    EXPECT_TRUE(errors(f.system).empty()) << errors(f.system)[0];
}

TEST(SystemBuilderCharts, InstanceLinesMessagesConditionsAndUpdates)
{
    Fixture f;
    auto& b = f.builder;
    b.typeChannel(0);
    b.declVar("c", false);
    b.typeInt(0);
    b.declVar("x", false);
    pushRange(b, 0, 1);
    b.declParameter("k", false);
    simpleTemplate(b, "W");

    b.chartNames.push_back("Chart");
    b.procBegin("Chart", true, "Existential", "Initial");
    b.hasPrechart(true);
    b.procInstanceLine();
    b.instanceName("env", false);
    b.procInstanceLine();
    b.instanceNameBegin("W");
    b.exprNar(1);
    b.instancNameEnd("W", 1);
    b.procInstanceLine();
    b.instanceName("W", false);     // W needs an argument

    b.procMessage("env", "W(1)", 1, true);
    b.exprId("c");
    b.procMessage(0);
    b.procMessage("env", "ghost", 2, false);
    b.exprId("c");
    b.procMessage(0);                // discarded

    b.procCondition({"env", "W(1)"}, 3, true, true);
    b.exprId("x");
    b.exprNar(0);
    b.exprBinary(GREATER);
    b.procCondition();
    b.procCondition({"env", "ghost"}, 4, false, false);
    b.exprTrue();
    b.procCondition();              // discarded

    b.procLscUpdate("W(1)", 5, false);
    b.exprId("x");
    b.exprNar(1);
    b.exprAssignment(ASSIGN);
    b.procLscUpdate();
    b.procEnd();

    template_t& chart = templateNamed(f.system, "Chart");
    EXPECT_FALSE(chart.isTimedAutomaton);
    EXPECT_EQ(chart.lscType, "Existential");
    EXPECT_EQ(chart.lscMode, "Initial");
    EXPECT_TRUE(chart.hasPrechart);
    ASSERT_EQ(chart.instanceLines.size(), 3u);
    EXPECT_EQ(chart.instanceLines[1].symbol.getName(), "W(1)");
    EXPECT_EQ(chart.instanceLines[1].symbol.getType().getKind(), INSTANCE_LINE);
    EXPECT_EQ(chart.instanceLines[1].definingTemplate, &templateNamed(f.system, "W"));
    ASSERT_EQ(chart.messages.size(), 1u);
    EXPECT_EQ(chart.messages[0].label.getKind(), SYNC);
    EXPECT_EQ(chart.messages[0].target, &chart.instanceLines[1]);
    ASSERT_EQ(chart.conditions.size(), 1u);
    EXPECT_FALSE(chart.conditions[0].isHot) << "a prechart condition is cold";
    EXPECT_EQ(chart.conditions[0].label.toString(), "x > 0");
    ASSERT_EQ(chart.updates.size(), 1u);
    EXPECT_EQ(chart.updates[0].label.toString(), "x = 1");
    EXPECT_TRUE(b.fragments.empty());
    EXPECT_EQ(errors(f.system), (std::vector<std::string>{"$Wrong_number_of_arguments_in_instance_line_name",
                                                          "$No_such_instance_line_(destination)",
                                                          "$No_such_instance_line_(anchor)"}));
    EXPECT_EQ(warnings(f.system), std::vector<std::string>{"$In_the_prechart_all_conditions_are_cold"});
}

TEST(SystemBuilderTemplates, DuplicateTemplateNamesAreReportedAndBuilt)
{
    Fixture f;
    auto& b = f.builder;
    b.typeInt(0);
    b.declVar("T", false);
    simpleTemplate(b, "T");
    EXPECT_EQ(errors(f.system), std::vector<std::string>{"$Duplicate_definition_of T"});
    EXPECT_EQ(f.system.getTemplates().size(), 1u);
    // Template-local declarations go to the template, functions too.
    b.procBegin("U", true, "", "");
    b.typeInt(0);
    b.declVar("local", false);
    b.typeVoid();
    b.declFuncBegin("f");
    b.declFuncEnd();
    b.procEnd();
    template_t& u = templateNamed(f.system, "U");
    EXPECT_EQ(u.declarations.variables.size(), 1u);
    EXPECT_EQ(u.declarations.functions.size(), 1u);
    binding_t local;
    EXPECT_FALSE(b.resolve("local", local));
}

TEST(SystemBuilderInstances, MembersOfAProcessSeeItsArguments)
{
    Fixture f;
    auto& b = f.builder;
    // process T(const int n) { int[0,n] v; scalar[n] s; state a; init a; }  P = T(3); system P;
    b.typeInt(1);
    b.declParameter("n", false);
    b.procBegin("T", true, "", "");
    b.exprNar(0);
    b.exprId("n");
    b.typeBoundedInt(0);
    b.declVar("v", false);
    b.exprId("n");
    b.typeScalar(0);
    b.declVar("s", false);
    b.procState("a", false, false);
    b.procStateInit("a");
    b.procEnd();
    b.instantiationBegin("P", 0, "T");
    b.exprNar(3);
    b.instantiationEnd("P", 0, "T", 1);
    b.process("P");

    b.exprId("P");
    b.exprDot("v");
    EXPECT_EQ(b.top().toString(), "P.v");
    EXPECT_EQ(b.top().getType().getRangeBounds().second.toString(), "3") << "n is replaced by the argument";
    b.exprId("P");
    b.exprDot("s");
    EXPECT_EQ(b.top().getType().getLabel(0), "P::") << "the template's scalar set is named after the process";
    EXPECT_TRUE(errors(f.system).empty());
}

TEST(SystemBuilderCharts, ObserverProperty)
{
    Fixture f;
    auto& b = f.builder;
    b.procBegin("Obs", true, "", "");
    b.procState("lmin", false, false);
    b.procState("lmax", false, false);
    b.procStateInit("lmin");
    b.procEnd();
    b.process("Obs");
    f.system.observerName = "Obs";
    b.setPosition(4, 9);
    expression_t property = b.makeObserverProperty();
    EXPECT_EQ(property.getKind(), OBSERVER_LEADS_TO);
    EXPECT_EQ(property[0].getIndex(), 0);
    EXPECT_EQ(property[1].getIndex(), 1);
    EXPECT_TRUE(property[1].getType().isKind(BOOL));
    EXPECT_EQ(property.getPosition(), span_t(4, 9));
    EXPECT_TRUE(property[0][0].getPosition().isAbsent());
    EXPECT_TRUE(b.fragments.empty());
}

// IO P(a, b) { ... } built with argument expressions: the parameters in the order they were
// pushed, and a synchronisation of an unknown kind popped without being listed.
TEST(SystemBuilderDeclarations, IoParametersFromFragmentsKeepTheirOrder)
{
    Fixture f;
    auto& b = f.builder;
    b.typeChannel(0);
    b.declVar("c", false);
    b.exprId("c");
    b.exprSync(1);
    b.exprId("c");
    b.exprSync(7);
    b.exprNar(1);
    b.exprNar(2);
    b.declIO("P", 2, 2);
    const auto& io = f.system.getGlobals().ioDeclarations;
    ASSERT_EQ(io.size(), 1u);
    EXPECT_EQ(io.front().instanceName, "P");
    ASSERT_EQ(io.front().parameters.size(), 2u);
    EXPECT_EQ(io.front().parameters[0].toString(), "1");
    EXPECT_EQ(io.front().parameters[1].toString(), "2");
    EXPECT_EQ(io.front().outputs.size(), 1u);
    EXPECT_TRUE(io.front().inputs.empty());
    EXPECT_TRUE(io.front().cspChannels.empty());
    EXPECT_TRUE(b.fragments.empty());

    // The next declaration starts a record of its own.
    b.exprId("c");
    b.exprSync(0);
    b.declIO("Q", 0, 1);
    ASSERT_EQ(io.size(), 2u);
    EXPECT_EQ(io.back().inputs.size(), 1u);
    EXPECT_TRUE(io.back().parameters.empty());
    EXPECT_TRUE(errors(f.system).empty());
}
