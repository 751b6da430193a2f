#include "language/walk.h"

#include <gtest/gtest.h>

#include <iterator>

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
    // Only the parameters the instantiation declares are free; a template's are all free.
    EXPECT_EQ(freeParametersText(partial), "int b");
    EXPECT_EQ(freeParametersText(full), "");
    EXPECT_EQ(freeParametersText(p), "int a, chan c");

    binding_t a = system.getGlobals().frame.addSymbol("a", prim(CHANNEL), nullptr);
    binding_t b = system.getGlobals().frame.addSymbol("b", prim(CHANNEL), nullptr);
    binding_t c = system.getGlobals().frame.addSymbol("c", prim(CHANNEL), nullptr);
    system.beginChanPriority(id(a));
    system.addChanPriority(',', id(b));
    system.addChanPriority('<', id(c));
    system.beginChanPriority(expression_t());
    system.addChanPriority('<', id(a));
    // The default group may also stand after the head: an empty channel is "default".
    system.beginChanPriority(id(a));
    system.addChanPriority('<', expression_t());
    system.addChanPriority(',', id(b));
    const auto& groups = system.getChanPriorities();
    ASSERT_EQ(groups.size(), 3u);
    EXPECT_EQ(chanPriorityText(groups.front()), "chan priority a, b < c");
    EXPECT_EQ(chanPriorityText(*std::next(groups.begin())), "chan priority default < a");
    EXPECT_EQ(chanPriorityText(groups.back()), "chan priority a < default, b");
}

// The texts of declarations are written into saved models and re-read by the parser, so
// each must declare exactly the type it was made from.
TEST(WalkTest, DeclarationsReadBackAsTheirTypes)
{
    type_t boundedInt = type_t::createRange(prim(INT), num(0), num(5));
    type_t row = type_t::createLabel(arrayOf(prim(INT), 3), "row");
    struct Case
    {
        const char* name;
        type_t type;
        const char* text;
    };
    const Case variables[] = {
        {"two dimensions, outer size first", arrayOf(arrayOf(prim(BOOL), 4), 2), "bool v[2][4]"},
        {"three dimensions", arrayOf(arrayOf(arrayOf(prim(CLOCK), 3), 2), 5), "clock v[5][2][3]"},
        {"array of bounded ints", arrayOf(boundedInt, 3), "int[0,5] v[3]"},
        {"two dimensions of bounded ints", arrayOf(arrayOf(boundedInt, 4), 2), "int[0,5] v[2][4]"},
        {"array of const ints", arrayOf(type_t::createPrefix(prim(INT), CONSTANT), 3), "const int v[3]"},
        {"prefix around an array", type_t::createPrefix(arrayOf(prim(CHANNEL), 4), BROADCAST), "broadcast chan v[4]"},
        {"array of named arrays", arrayOf(row, 2), "row v[2]"},
        {"named array", row, "row v"},
        {"meta", type_t::createPrefix(prim(INT), META), "meta int v"},
        {"hybrid clock", type_t::createPrefix(prim(CLOCK), HYBRID), "hybrid clock v"},
        {"struct with an array field", type_t::createRecord({prim(INT), arrayOf(prim(BOOL), 2)}, {"a", "b"}),
         "struct { int a; bool b[2]; } v"},
    };
    for (const Case& c : variables) {
        TimedAutomataSystem system;
        variable_t& v = system.addVariable(system.getGlobals(), c.type, "v", {});
        EXPECT_EQ(variableText(v), c.text) << c.name;
    }

    // Initialiser lists, also nested ones, are written in braces.
    {
        TimedAutomataSystem system;
        declarations_t& g = system.getGlobals();
        auto list = [](std::vector<expression_t> elements) { return expression_t::createNary(LIST, elements); };
        variable_t& flat = system.addVariable(g, arrayOf(prim(INT), 3), "a", list({num(1), num(2), num(3)}));
        EXPECT_EQ(variableText(flat), "int a[3] = {1, 2, 3}");
        variable_t& nested = system.addVariable(g, arrayOf(arrayOf(prim(INT), 2), 2), "m",
                                                list({list({num(1), num(2)}), list({num(3), num(4)})}));
        EXPECT_EQ(variableText(nested), "int m[2][2] = {{1, 2}, {3, 4}}");
        variable_t& plain = system.addVariable(g, prim(INT), "k", expression_t::createBinary(ADD, num(1), num(2)));
        EXPECT_EQ(variableText(plain), "int k = 1 + 2");

        // A record initialiser keeps the field names it was written with (the list's
        // type is a record of them), in the order written: fields are matched by name.
        type_t point = type_t::createLabel(type_t::createRecord({prim(INT), prim(BOOL)}, {"x", "y"}), "point");
        auto fields = [](std::vector<std::string> names, std::vector<expression_t> elements) {
            std::vector<type_t> types(elements.size(), prim(INT));
            return expression_t::createNary(LIST, elements, span_t(), type_t::createRecord(types, names));
        };
        variable_t& named = system.addVariable(g, point, "p", fields({"y", "x"}, {num(1), num(2)}));
        EXPECT_EQ(variableText(named), "point p = {y: 1, x: 2}");
        variable_t& mixed = system.addVariable(g, point, "q", fields({"", "y"}, {num(3), num(0)}));
        EXPECT_EQ(variableText(mixed), "point q = {3, y: 0}");
        variable_t& inArray = system.addVariable(g, arrayOf(point, 2), "r",
                                                 list({fields({"x", "y"}, {num(1), num(0)}), list({num(2), num(1)})}));
        EXPECT_EQ(variableText(inArray), "point r[2] = {{x: 1, y: 0}, {2, 1}}");
    }

    // Typedefs of arrays and records.
    TimedAutomataSystem system;
    declarations_t& g = system.getGlobals();
    g.frame.addSymbol("row", type_t::createTypeDef("row", arrayOf(prim(INT), 3)), nullptr);
    g.frame.addSymbol("point", type_t::createTypeDef("point", type_t::createRecord({prim(INT), prim(INT)}, {"x", "y"})),
                      nullptr);
    EXPECT_EQ(typeDefinitionsText(g.frame),
              "// type definitions\ntypedef int row[3];\ntypedef struct { int x; int y; } point;\n");

    // Reference parameters are declared with an ampersand before the name.
    const Case parameters[] = {
        {"reference", type_t::createPrefix(prim(INT), REF), "int &p"},
        {"constant reference", type_t::createPrefix(type_t::createPrefix(prim(INT), CONSTANT), REF), "const int &p"},
        {"reference to an array", type_t::createPrefix(arrayOf(arrayOf(prim(INT), 3), 2), REF), "int &p[2][3]"},
        {"constant value", type_t::createPrefix(prim(INT), CONSTANT), "const int p"},
        {"array value", arrayOf(boundedInt, 2), "int[0,5] p[2]"},
    };
    for (const Case& c : parameters) {
        scope_t params = scope_t::create();
        params.addSymbol("p", c.type, nullptr);
        template_t& t = system.addTemplate("T", params, true, "", "");
        EXPECT_EQ(parametersText(t), c.text) << c.name;
        function_t* f = nullptr;
        g.addFunction(type_t::createFunction(prim(VOID_TYPE), {c.type, prim(INT)}, {"p", "q"}), "f", f);
        EXPECT_EQ(functionText(*f), "void f(" + std::string(c.text) + ", int q)\n{\n}") << c.name;
    }
}

// A function as the statement builder makes it: every local, also those of nested blocks
// and the loop variable of a ranged loop, is in the function's list of locals and in the
// frame of the block (or loop) that declares it. Its text must declare each local where
// it was declared, and the loop variable only in the loop's head.
TEST(WalkTest, FunctionTextDeclaresLocalsInTheirBlocks)
{
    TimedAutomataSystem system;
    declarations_t& g = system.getGlobals();
    type_t idType = type_t::createLabel(type_t::createRange(prim(INT), num(0), num(3)), "id_t");
    function_t* f = nullptr;
    g.addFunction(type_t::createFunction(prim(INT), {prim(INT)}, {"p"}), "f", f);
    std::list<variable_t>& locals = f->localVariables;

    scope_t bodyFrame = scope_t::createSubScope(g.frame);
    binding_t p = bodyFrame.addSymbol("p", prim(INT), nullptr);
    f->body = new BlockStatement(bodyFrame);
    binding_t a = system.addVariable(locals, bodyFrame, prim(INT), "a", id(p)).symbol;
    auto plus = [&](binding_t l, binding_t r) {
        return expression_t::createBinary(ASSIGN, id(a), expression_t::createBinary(ADD, id(l), id(r)));
    };

    scope_t loopFrame = scope_t::createSubScope(bodyFrame);
    binding_t i = system.addVariable(locals, loopFrame, type_t::createPrefix(idType, CONSTANT), "i", {}).symbol;
    auto* loopBody = new BlockStatement(scope_t::createSubScope(loopFrame));
    loopBody->push(new ExprStatement(plus(a, i)));
    f->body->push(new IterationStatement(i, loopFrame, loopBody));

    auto* thenBlock = new BlockStatement(scope_t::createSubScope(bodyFrame));
    binding_t t = system.addVariable(locals, thenBlock->blockFrame, prim(INT), "t", id(a)).symbol;
    thenBlock->push(new ExprStatement(expression_t::createBinary(ASSIGN, id(a), id(t))));
    f->body->push(new IfStatement(expression_t::createBinary(GREATER, id(a), num(0)), thenBlock));

    auto* nested = new BlockStatement(scope_t::createSubScope(bodyFrame));
    binding_t u = system.addVariable(locals, nested->blockFrame, prim(INT), "u", num(1)).symbol;
    nested->push(new ExprStatement(plus(a, u)));
    f->body->push(nested);
    f->body->push(new ReturnStatement(id(a)));

    EXPECT_EQ(functionText(*f), "int f(int p)\n{\n"
                                "    int a = p;\n"
                                "    for (i : id_t)\n{\n        a = a + i;\n}\n"
                                "    if (a > 0)\n    {\n        int t = a;\n        a = t;\n    }\n"
                                "    {\n        int u = 1;\n        a = a + u;\n    }\n"
                                "    return a;\n"
                                "}");
}
