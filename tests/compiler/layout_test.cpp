// The symbol tree and the variable layout: sizes, offsets, names, kinds and initial values of
// the variables that declarations become.

#include <gtest/gtest.h>

#include <sstream>

#include "compile_helpers.h"
#include "runtime/channels.h"
#include "runtime/exceptions.h"

using namespace compiler_test;
using namespace ZOLT;

namespace {

binding_t global(TimedAutomataSystem& model, const std::string& name)
{
    binding_t symbol;
    EXPECT_TRUE(model.getGlobals().frame.resolve(name, symbol)) << name;
    return symbol;
}

// A model of the declarations and one process without variables of its own.
std::string withIdleProcess(const std::string& declarations)
{
    return declarations + "\nprocess Idle() { state A; init A; }\nsystem Idle;";
}

// The layout lines of the global declarations of a model made by withIdleProcess: the lines
// after the reference clock "t(0)" (index 0) and before the two variables of the process (its
// number and its location).
std::string declaredLayout(const Compiled& c)
{
    std::string all = c.layout();
    all = all.substr(all.find('\n') + 1);
    for (int i = 0; i < 2; ++i) {
        const size_t end = all.rfind('\n', all.size() - 2);
        all = end == std::string::npos ? std::string() : all.substr(0, end + 1);
    }
    return all;
}

std::string positionText(TimedAutomataSystem& model, uint64_t packed)
{
    const span_t span(static_cast<int32_t>(static_cast<uint32_t>(packed)),
                      static_cast<int32_t>(static_cast<uint32_t>(packed >> 32)));
    return std::to_string(model.findPosition(static_cast<uint32_t>(span.start)).line);
}

} // namespace

TEST(Layout, DeclarationsBecomeVariablesInDeclarationOrder)
{
    struct Case
    {
        const char* name;
        const char* declarations;
        const char* layout;
    };
    const Case cases[] = {
        {"plain int and bool", "int x = 3; bool b = 7;",
         "1:var:-32767:32767:3:0:x\n2:var:0:1:1:1:b\n"},
        {"bounded ints start at 0 or their lower bound", "int[1,5] p; int[-3,3] q; int[-9,-2] r;",
         "1:var:1:5:1:0:p\n2:var:-3:3:0:1:q\n3:var:-9:-2:-9:2:r\n"},
        {"constants", "const int N = 4; const bool T = 5; const double D = 2.5;",
         "1:const:4\n2:const:1\nconst:2.5\n"},
        {"array over a range of indices", "int[0,9] a[int[2,4]] = {7, 8, 9};",
         "1:var:0:9:7:0:a[2]\n2:var:0:9:8:1:a[3]\n3:var:0:9:9:2:a[4]\n"},
        {"record fields", "typedef struct { int a; int[0,2] b[2]; bool c; } Rec; Rec s = {1, {2, 0}, true};",
         "1:var:-32767:32767:1:0:s.a\n2:var:0:2:2:1:s.b[0]\n3:var:0:2:0:2:s.b[1]\n4:var:0:1:1:3:s.c\n"},
        {"fields of constant and meta records", "typedef struct { int f; int g; } Two; const Two cp = {1, 2};"
                                                "meta Two mp; int[0,1] a[cp.g];",
         "1:const:1\n2:const:2\n3:sys_meta:-32767:32767:mp.f\n4:sys_meta:-32767:32767:mp.g\n"
         "5:var:0:1:0:0:a[0]\n6:var:0:1:0:1:a[1]\n"},
        {"bool arrays are packed bits", "bool f[3] = {true, false, true};",
         "1:var:0:1:1:0:f[0]\n2:var:0:1:0:0:f[1]\n3:var:0:1:1:0:f[2]\n"},
        {"constant bool arrays are constants", "const bool g[2] = {true, false};", "1:const:1\n2:const:0\n"},
        {"meta int and meta bool", "meta int[0,9] m = 4; meta bool mb = true;",
         "1:sys_meta:0:9:m\n2:var:0:1:1:0:mb\n"},
        {"doubles and clocks", "double d = 1.5; clock x; clock y = 2.5;",
         "1:fpvar:1.5:0:d\n2:clock:1:x\n3:clock:2:y\n"},
        {"channels are numbered in declaration order", "chan a; urgent broadcast chan u[2];",
         "1:const:1\n2:const:2\n3:const:3\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Compiled compiled = compile(withIdleProcess(c.declarations));
        EXPECT_EQ(declaredLayout(compiled), c.layout);
    }
}

TEST(Layout, RecordFieldsArePackedAndArraysSizedFromTheirRange)
{
    Compiled c = compile("typedef struct { int a; int b[3]; bool c; } Rec; Rec r; int m[2][3]; int a[int[2,4]];"
                         "process Idle() { state A; init A; } system Idle;");
    Symbol* root = c.compiler->getRootSymbol();
    Symbol* r = root->find(global(*c.model, "r"));
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->size, 5u);
    std::vector<uint32_t> offsets;
    for (Symbol* field = r->firstChild.get(); field != nullptr; field = field->next.get()) {
        offsets.push_back(field->offset);
    }
    EXPECT_EQ(offsets, (std::vector<uint32_t>{0, 1, 4}));

    Symbol* m = root->find(global(*c.model, "m"));
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->size, 6u);
    EXPECT_EQ(m->firstChild->size, 3u);
    EXPECT_EQ(m->firstChild->lower, 0);
    EXPECT_EQ(m->firstChild->upper, 2);

    Symbol* a = root->find(global(*c.model, "a"));
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->lower, 2);
    EXPECT_EQ(a->upper, 4);
    EXPECT_EQ(a->size, 3u);
    EXPECT_EQ(a->getOffset(), c.index("a[2]"));
}

TEST(Layout, UserErrorsAreReportedAtTheirPosition)
{
    struct Case
    {
        const char* name;
        const char* model;
        const char* message;
        const char* line;
    };
    const Case cases[] = {
        {"initial value above the range", "int x;\nint[0,3] y = 4;\nprocess Idle() { state A; init A; } system Idle;", "$Initial_value_out_of_range", "2"},
        {"empty integer range", "int x;\n\nint[3,1] y;\nprocess Idle() { state A; init A; } system Idle;", "$Upper_bound_must_be_larger_than_lower_bound",
         "3"},
        {"empty index range", "int x;\nint a[int[3,1]];\nprocess Idle() { state A; init A; } system Idle;", "$Upper_bound_must_be_larger_than_lower_bound",
         "2"},
        {"clock local in a function", "void f() {\n clock z; }\nprocess Idle() { state A; init A; } system Idle;", "$Clock_type_not_allowed,_please_use_a_reference",
         "2"},
        {"channel parameter of a function", "void f(\nchan c) { }\nprocess Idle() { state A; init A; } system Idle;",
         "$Channel_type_not_allowed,_please_use_a_reference", "2"},
        {"division by zero in a constant", "const int z = 0;\nconst int k = 1 +\n 4 / z;\nprocess Idle() { state A; init A; } system Idle;",
         "Division by zero", "3"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Compiled compiled = prepare(c.model);
        try {
            compiled.compiler->compileSystem();
            ADD_FAILURE() << "no error";
        } catch (const CompileError& error) {
            EXPECT_NE(std::string(error.what()).find(c.message), std::string::npos) << error.what();
            EXPECT_EQ(positionText(*compiled.model, error.getPosition()), c.line);
        }
    }
}

TEST(Layout, ReferencesHoldTheAddressOfWhatTheyDenote)
{
    Compiled c = compile("int g = 3;\n"
                         "process P(int &r, const int &v) { state A; init A; }\n"
                         "Q = P(g, 5);\nsystem Q;");
    // r holds the address of g; v is bound to a value and designates a constant made for it.
    const std::string layout = c.layout();
    const uint32_t g = c.index("g");
    EXPECT_NE(layout.find(":const:" + std::to_string(g) + "\n"), std::string::npos) << layout;
    EXPECT_NE(layout.find(":const:5\n"), std::string::npos) << layout;
    Symbol* process = c.compiler->getRootSymbol()->find(global(*c.model, "Q"));
    ASSERT_NE(process, nullptr);
    Symbol* r = process->firstChild.get();
    ASSERT_TRUE(r->isReference);
    EXPECT_EQ(r->size, 1u);
    EXPECT_EQ(r->firstChild->name, "r");
    EXPECT_FALSE(r->firstChild->isReference);
}

TEST(Layout, ProcessMembersArePrefixedWithTheProcessName)
{
    Compiled c = compile("typedef struct { int a; bool b; } Pair;\n"
                         "process P() { Pair s; clock x; state A; init A; }\n"
                         "Q = P();\nsystem Q;");
    EXPECT_NE(c.variable("Q.s.a"), nullptr);
    EXPECT_NE(c.variable("Q.s.b"), nullptr);
    EXPECT_NE(c.variable("Q.x"), nullptr);
}

TEST(Layout, SharedStateFlagCountsStateVariablesButNotTheReferenceClock)
{
    struct Case
    {
        const char* declarations;
        bool shared;
    };
    const Case cases[] = {
        {"const int N = 2; chan c; meta int m;", false},
        {"clock x;", true},
        {"int i;", true},
        {"bool b[40];", true},
        {"double d;", true},
        {"const double e = 1.0;", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.declarations);
        Compiled compiled = compile(std::string(c.declarations) + "\nprocess P() { int local; state A; init A; }\n"
                                                                  "system P;");
        EXPECT_EQ(compiled.system->sharedState, c.shared);
    }
}

TEST(Layout, ClockWithNonZeroStartSetsTheFloatingClockFlag)
{
    EXPECT_FALSE(compile("clock x; clock y = 0.0; process Idle() { state A; init A; } system Idle;").system->floatingPointClocks);
    EXPECT_TRUE(compile("clock x; clock y = 1.5; process Idle() { state A; init A; } system Idle;").system->floatingPointClocks);
}

TEST(Layout, UrgentBroadcastChannelIsRegisteredWithBothFlags)
{
    Compiled c = compile("chan a; urgent broadcast chan b; broadcast chan c; process Idle() { state A; init A; } system Idle;");
    ASSERT_EQ(channelCount(), 3u);
    EXPECT_FALSE(getChannel(1).urgent);
    EXPECT_TRUE(getChannel(2).urgent);
    EXPECT_TRUE(getChannel(2).broadcast);
    EXPECT_FALSE(getChannel(3).urgent);
    EXPECT_TRUE(getChannel(3).broadcast);
    EXPECT_EQ(getChannel(2).name, "b");
}

TEST(Layout, FunctionFramesAreSystemMetaSlots)
{
    Compiled c = compile("int f(int &x, int[0,3] y, bool b) { int[2,5] k; return y; }\nprocess Idle() { state A; init A; } system Idle;");
    // Entry constant, return slot, then parameters and locals named twice.
    EXPECT_EQ(declaredLayout(c), "1:const:0\n"
                                 "2:sys_meta:-2147483648:2147483647:return\n"
                                 "3:sys_meta:0:2147483647:xx\n"
                                 "4:sys_meta:0:3:yy\n"
                                 "5:sys_meta:0:1:bb\n"
                                 "6:sys_meta:2:5:kk\n");
}

TEST(Layout, DeclarationsOfDynamicTemplatesLiveInTheExtraTable)
{
    // Meta integers, bit arrays and the slots of functions laid out with the extra flag are
    // made in the extra table, where their positions were counted.
    for (const char* name : {"m", "bits", "mbits", "f"}) {
        SCOPED_TRACE(name);
        Compiled c = compile("meta int[0,3] m = 2; bool bits[2]; meta bool mbits[2];\n"
                             "int f(int &r, double d) { double e = d; return r; }\n"
                             "process Idle() { state A; init A; } system Idle;");
        Symbol* node = c.compiler->getRootSymbol()->find(global(*c.model, name));
        ASSERT_NE(node, nullptr);
        const size_t main = c.system->getVariables().size();
        ASSERT_EQ(c.system->getExtraVariables().size(), 0u);
        c.compiler->computeInitialValues(node, true);
        c.compiler->declareVariable(nullptr, "x.", node, true);
        EXPECT_EQ(node->getOffset(), main);
        EXPECT_EQ(c.system->getVariables().size(), main);
        EXPECT_EQ(c.system->getExtraVariables().size(), node->size);
        EXPECT_GT(node->size, 0u);
    }
}

TEST(Layout, LongNamesOfArrayElementsAreCut)
{
    const std::string name(300, 'n');
    Compiled c = compile("int " + name + "[2];\nprocess P() { state A; init A; }\nsystem P;");
    const std::string element = c.system->getVariable(1)->getName();
    EXPECT_EQ(element.size(), 255u);
    EXPECT_EQ(element, name.substr(0, 255));
}

TEST(Symbols, PrintShowsTheTreeIndentedByLevel)
{
    Compiled c = compile("int x;\nint a[2];\nprocess Idle() { state A; init A; } system Idle;");
    Symbol* root = c.compiler->getRootSymbol();
    std::ostringstream out;
    std::string indentation;
    root->find(global(*c.model, "a"))->print(indentation, out);
    EXPECT_EQ(out.str(), "name: 'a', array: 0 to 1, size: 2, offset: 2, ref: 0, type: " +
                             global(*c.model, "a").getType().toString() + "\n" +
                             "    name: '', array: 0 to 0, size: 1, offset: 1, ref: 0, type: " +
                             global(*c.model, "a").getType().getQualifiedChild().toString() + "\n");
    EXPECT_EQ(indentation, "    ");
}

TEST(Symbols, FindWalksUpAndFindChildStaysAtItsLevel)
{
    Compiled c = compile("int g;\nint f(int p) { int l = p; return l + g; }\n"
                         "process P() { int v; int w; state A; init A; }\nsystem P;");
    Symbol* root = c.compiler->getRootSymbol();
    Symbol* f = root->find(global(*c.model, "f"));
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->firstChild->name, "return value");
    Symbol* p = f->firstChild->next.get();
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->name, "p");
    EXPECT_TRUE(p->isParameter);
    EXPECT_EQ(p->next->name, "l");
    EXPECT_FALSE(p->next->isParameter);
    EXPECT_EQ(f->find(p->symbol), p);
    EXPECT_EQ(f->find(global(*c.model, "g")), root->find(global(*c.model, "g")));
    EXPECT_EQ(root->find(p->symbol), nullptr);
    EXPECT_EQ(root->find(binding_t()), nullptr);

    // A member of a process is found by its index in the template's frame.
    Symbol* process = root->find(global(*c.model, "P"));
    ASSERT_NE(process, nullptr);
    Symbol* w = process->firstChild->next.get();
    ASSERT_EQ(w->name, "w");
    EXPECT_EQ(process->findChild(w->id), w);
    EXPECT_EQ(root->findChild(w->id), root->findChild(w->id) == w ? nullptr : root->findChild(w->id));
}

// A node with many children (the global scope of a model with thousands of processes) finds
// them through an index; it answers as the search child by child does: the first child that
// stands for the symbol, also for children added or given their symbol after earlier look-ups.
TEST(Symbols, FindAmongManyChildrenAnswersAsTheSearchInOrder)
{
    scope_t frame = scope_t::create();
    std::vector<binding_t> symbols;
    for (int i = 0; i < 60; ++i) {
        symbols.push_back(frame.addSymbol("s" + std::to_string(i), type_t::createPrimitive(INT), nullptr));
    }
    base::RefPtr<Symbol> root(new Symbol());
    Symbol* inner = root->addChild("inner", type_t::createPrimitive(INT));
    auto inOrder = [&](Symbol* from, const binding_t& symbol) -> Symbol* {
        for (Symbol* scope = from; scope != nullptr; scope = scope->parent) {
            for (Symbol* child = scope->firstChild.get(); child != nullptr; child = child->next.get()) {
                if (child->symbol == symbol) {
                    return child;
                }
            }
        }
        return nullptr;
    };
    std::vector<Symbol*> unnamed;
    uint32_t seed = 7;
    auto next = [&seed] { return seed = seed * 1103515245u + 12345u, (seed >> 16) % 60; };
    for (int round = 0; round < 400; ++round) {
        // Children with a symbol (some of them twice), without one, or given one late.
        Symbol* child = root->addChild("c", type_t::createPrimitive(INT));
        if (round % 7 == 3) {
            unnamed.push_back(child);
        } else {
            child->symbol = symbols[next()];
        }
        if (round % 11 == 5 && !unnamed.empty()) {
            unnamed.front()->symbol = symbols[next()];
            unnamed.erase(unnamed.begin());
        }
        for (int probe = 0; probe < 5; ++probe) {
            const binding_t& symbol = symbols[next()];
            ASSERT_EQ(root->find(symbol), inOrder(root.get(), symbol)) << "round " << round;
            ASSERT_EQ(inner->find(symbol), inOrder(inner, symbol)) << "round " << round;
        }
        ASSERT_EQ(root->find(binding_t()), inOrder(root.get(), binding_t())) << "round " << round;
    }
}

TEST(Symbols, ProcessSetsHangTheirMembersBelowAChainOfParameterRanges)
{
    Compiled c = compile("process P(int[0,2] i, int[0,1] j) { int v; state A; init A; }\nsystem P;");
    Symbol* node = c.compiler->getRootSymbol()->find(global(*c.model, "P"));
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->lower, 0);
    EXPECT_EQ(node->upper, 2);
    Symbol* second = node->firstChild.get();
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->lower, 0);
    EXPECT_EQ(second->upper, 1);
    Symbol* members = second->firstChild.get();
    ASSERT_NE(members, nullptr);
    EXPECT_EQ(members->firstChild->name, "i");
    EXPECT_EQ(c.system->getProcessCount(), 6u);
}
