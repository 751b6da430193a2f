#include "language/walk.h"

#include <gtest/gtest.h>

#include "language/statement.h"

using namespace ZOLT;

namespace {

type_t prim(node_kind_t kind) { return type_t::createPrimitive(kind); }
expression_t num(int v) { return expression_t::createConstant(v); }
expression_t id(const binding_t& s) { return expression_t::createIdentifier(s); }

// An array of `size` elements as the builders make it: index range 0 to size - 1.
type_t arrayOf(type_t element, int size)
{
    type_t index = type_t::createRange(prim(INT), num(0), expression_t::createBinary(SUBTRACT, num(size), num(1)));
    return type_t::createArray(element, index);
}

// Writes one line per visit.
struct Recorder : SystemVisitor
{
    std::vector<std::string> log;
    std::string refuse;   // name of a template whose parts are skipped

    void enterSystem(TimedAutomataSystem&) override { log.push_back("enterSystem"); }
    void leaveSystem(TimedAutomataSystem&) override { log.push_back("leaveSystem"); }
    void visitVariable(variable_t& v) override { log.push_back("variable " + v.symbol.getName()); }
    bool enterTemplate(template_t& t) override
    {
        log.push_back("enter " + t.symbol.getName());
        return t.symbol.getName() != refuse;
    }
    void leaveTemplate(template_t& t) override { log.push_back("leave " + t.symbol.getName()); }
    void visitLocation(location_t& l) override { log.push_back("location " + l.symbol.getName()); }
    void visitEdge(edge_t& e) override { log.push_back("edge " + std::to_string(e.number)); }
    void visitInstance(instance_t& i) override { log.push_back("instance " + i.symbol.getName()); }
    void visitProcess(instance_t& p) override { log.push_back("process " + p.symbol.getName()); }
    void visitFunction(function_t& f) override { log.push_back("function " + f.symbol.getName()); }
    void visitTypeDef(binding_t s) override { log.push_back("typedef " + s.getName()); }
    void visitIODecl(iodecl_t& d) override { log.push_back("io " + d.instanceName); }
    void visitProgressMeasure(progress_t&) override { log.push_back("progress"); }
    void visitGanttChart(gantt_t& g) override { log.push_back("gantt " + g.name); }
    void visitInstanceLine(instance_line_t& l) override { log.push_back("line " + l.symbol.getName()); }
    void visitMessage(message_t& m) override { log.push_back("message " + std::to_string(m.number)); }
    void visitCondition(condition_t& c) override { log.push_back("condition " + std::to_string(c.number)); }
    void visitUpdate(update_t& u) override { log.push_back("update " + std::to_string(u.number)); }
};

// A model with one of each part.
struct WalkModel
{
    TimedAutomataSystem system;

    WalkModel()
    {
        declarations_t& g = system.getGlobals();
        system.addVariable(g, arrayOf(prim(CLOCK), 2), "x", {});
        system.addVariable(g, type_t::createRecord({prim(INT)}, {"f"}), "r", {});
        g.frame.addSymbol("id_t", type_t::createTypeDef("id_t", prim(INT)), nullptr);
        function_t* f = nullptr;
        g.addFunction(type_t::createFunction(prim(VOID_TYPE), {}, {}), "g", f);

        scope_t params = scope_t::create();
        params.addSymbol("id", prim(INT), nullptr);
        template_t& p = system.addTemplate("P", params, true, "", "");
        system.addVariable(p.declarations, prim(INT), "local", {});
        location_t& a = p.addLocation("A", {}, {});
        branchpoint_t& b = p.addBranchpoint("B");
        p.addEdge(a.symbol, b.symbol, 0, "");
        p.addEdge(b.symbol, a.symbol, 0, "");

        template_t& s = system.addTemplate("S", scope_t::create(), false, "", "");
        instance_line_t& line = s.addInstanceLine();
        line.symbol = s.declarations.frame.addSymbol("L", prim(INSTANCE_LINE), &line);
        s.addMessage(line.symbol, line.symbol, 1, false);
        s.addCondition({line.symbol}, 2, false, false);
        s.addLscUpdate(line.symbol, 3, false);

        system.addDynamicTemplate("D", scope_t::create());
        instance_t& q = system.addInstance("Q", p, scope_t::create(), {num(1)});
        system.addProcess(q);
        system.addIODecl().instanceName = "io";
        system.addProgressMeasure(g.progressMeasures, {}, num(1));
        system.addGanttChart(g, gantt_t{"chart", scope_t::create(), {}});
    }
};

} // namespace

TEST(WalkTest, VisitsEveryPartInTheFixedOrder)
{
    WalkModel model;
    Recorder recorder;
    visitSystem(model.system, recorder);
    std::vector<std::string> expected = {
        "enterSystem",
        "variable t(0)", "variable x", "variable r", "typedef id_t", "function g",
        "enter P", "variable local", "location A", "edge 0", "edge 1", "leave P",
        "enter S", "line L", "message 0", "update 0", "condition 0", "leave S",
        "enter D", "leave D",
        "instance P", "instance S", "instance D", "instance Q", "process Q",
        "io io", "progress", "gantt chart",
        "leaveSystem",
    };
    EXPECT_EQ(recorder.log, expected);
}

TEST(WalkTest, RefusedTemplateIsSkipped)
{
    WalkModel model;
    Recorder recorder;
    recorder.refuse = "P";
    visitSystem(model.system, recorder);
    auto has = [&](const std::string& s) {
        return std::find(recorder.log.begin(), recorder.log.end(), s) != recorder.log.end();
    };
    EXPECT_TRUE(has("enter P"));
    for (const char* skipped : {"variable local", "location A", "edge 0", "leave P"}) {
        EXPECT_FALSE(has(skipped)) << skipped;
    }
    for (const char* kept : {"variable t(0)", "leave S", "instance P", "process Q", "gantt chart"}) {
        EXPECT_TRUE(has(kept)) << kept;
    }
}

TEST(WalkTest, DeclarationsText)
{
    TimedAutomataSystem fresh;
    EXPECT_EQ(declarationsText(fresh.getGlobals(), true), "// constants\n\n\n\n");
    template_t& empty = fresh.addTemplate("E", scope_t::create(), true, "", "");
    EXPECT_EQ(declarationsText(empty.declarations, false), "\n\n\n");

    TimedAutomataSystem system;
    declarations_t& g = system.getGlobals();
    system.addVariable(g, type_t::createPrefix(prim(INT), CONSTANT), "N", num(2));
    g.frame.addSymbol("id_t",
                      type_t::createTypeDef("id_t", type_t::createRange(prim(INT), num(0), num(5))), nullptr);
    system.addVariable(g, arrayOf(prim(INT), 3), "a", {});
    binding_t n = g.frame[1];
    system.addVariable(g, prim(CLOCK), "y", {});
    system.addVariable(g, type_t::createPrefix(arrayOf(prim(CHANNEL), 4), BROADCAST), "m", {});
    system.addVariable(g, prim(INT), "k", expression_t::createBinary(ADD, id(n), num(1)));

    function_t* f = nullptr;
    g.addFunction(type_t::createFunction(prim(INT), {prim(INT), prim(BOOL)}, {"p", "q"}), "f", f);
    scope_t body = scope_t::createSubScope(g.frame);
    system.addVariable(f->localVariables, body, prim(INT), "l", num(0));
    f->body = new BlockStatement(body);
    f->body->push(new ReturnStatement(id(body[0])));
    function_t* h = nullptr;
    g.addFunction(type_t::createFunction(prim(VOID_TYPE), {}, {}), "h", h);

    EXPECT_EQ(declarationsText(g, true),
              "// constants\nconst int N = 2;\n"
              "\n"
              "// type definitions\ntypedef int[0,5] id_t;\n"
              "\n"
              "// variables\nint a[3];\nclock y;\nbroadcast chan m[4];\nint k = N + 1;\n"
              "\n"
              "// functions\n"
              "int f(int p, bool q)\n{\n    int l = 0;\n    return l;\n}\n\n"
              "void h()\n{\n}\n\n");
    // Without skipping, the reference clock is printed too.
    EXPECT_EQ(variablesText(g, false).substr(0, 25), "// variables\nclock t(0);\n");
}

TEST(WalkTest, ParametersArgumentsAndPriorities)
{
    TimedAutomataSystem system;
    scope_t params = scope_t::create();
    params.addSymbol("a", prim(INT), nullptr);
    params.addSymbol("c", prim(CHANNEL), nullptr);
    template_t& p = system.addTemplate("P", params, true, "", "");
    EXPECT_EQ(parametersText(p), "int a, chan c");
    EXPECT_EQ(instanceArgumentsText(p), "") << "no parameter is bound";
    template_t& none = system.addTemplate("N", scope_t::create(), true, "", "");
    EXPECT_EQ(parametersText(none), "");
    EXPECT_EQ(instanceArgumentsText(none), "");

    binding_t chan = system.getGlobals().frame.addSymbol("ch", prim(CHANNEL), nullptr);
    instance_t& full = system.addInstance("Q", p, scope_t::create(), {num(7), id(chan)});
    EXPECT_EQ(instanceArgumentsText(full), "7, ch");
    scope_t rest = scope_t::create();
    rest.addSymbol("b", prim(INT), nullptr);
    instance_t& partial = system.addInstance("R", p, rest, {num(3)});
    EXPECT_EQ(instanceArgumentsText(partial), "3");

    binding_t a = system.getGlobals().frame.addSymbol("a", prim(CHANNEL), nullptr);
    binding_t b = system.getGlobals().frame.addSymbol("b", prim(CHANNEL), nullptr);
    binding_t c = system.getGlobals().frame.addSymbol("c", prim(CHANNEL), nullptr);
    system.beginChanPriority(id(a));
    system.addChanPriority(',', id(b));
    system.addChanPriority('<', id(c));
    system.beginChanPriority(expression_t());
    system.addChanPriority('<', id(a));
    const auto& groups = system.getChanPriorities();
    EXPECT_EQ(chanPriorityText(groups.front()), "chan priority a, b < c");
    EXPECT_EQ(chanPriorityText(groups.back()), "chan priority default < a");
}
