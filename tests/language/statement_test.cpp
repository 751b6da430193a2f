#include "language/statement.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

using namespace ZOLT;

namespace {

// Symbols x, y, z, c, i (int) in one frame, and helpers that build small expressions.
struct Fixture
{
    TimedAutomataSystem system;
    scope_t frame = scope_t::createSubScope(system.getGlobals().frame);
    binding_t x = frame.addSymbol("x", type_t::createPrimitive(INT), nullptr);
    binding_t y = frame.addSymbol("y", type_t::createPrimitive(INT), nullptr);
    binding_t z = frame.addSymbol("z", type_t::createPrimitive(INT), nullptr);
    binding_t c = frame.addSymbol("c", type_t::createPrimitive(BOOL), nullptr);

    static expression_t id(const binding_t& s) { return expression_t::createIdentifier(s); }
    static expression_t num(int v) { return expression_t::createConstant(v); }
    static expression_t assign(const binding_t& s, expression_t value)
    {
        return expression_t::createBinary(ASSIGN, id(s), value);
    }

    BlockStatement* block(std::initializer_list<Statement*> statements)
    {
        auto* b = new BlockStatement(scope_t::createSubScope(frame));
        for (Statement* s : statements) {
            b->push(s);
        }
        return b;
    }
    Statement* ret() { return new ReturnStatement(id(x)); }
    Statement* expr() { return new ExprStatement(assign(x, num(1))); }
};

} // namespace

TEST(StatementTest, AlwaysReturns)
{
    Fixture f;
    struct Case
    {
        const char* name;
        std::function<Statement*()> make;
        bool expected;
    };
    std::vector<Case> cases = {
        {"return", [&] { return f.ret(); }, true},
        {"return without value", [&] { return new ReturnStatement(); }, true},
        {"block ending in return", [&] { return f.block({f.expr(), f.ret()}); }, true},
        {"block with statement after return", [&] { return f.block({f.ret(), f.expr()}); }, false},
        {"empty block", [&] { return f.block({}); }, false},
        {"nested block ending in return", [&] { return f.block({f.block({f.ret()})}); }, true},
        {"if without else", [&] { return new IfStatement(f.id(f.c), f.ret()); }, false},
        {"if with returning else", [&] { return new IfStatement(f.id(f.c), f.ret(), f.block({f.ret()})); }, true},
        {"if with non-returning else", [&] { return new IfStatement(f.id(f.c), f.ret(), f.expr()); }, false},
        {"while with returning body", [&] { return new WhileStatement(f.id(f.c), f.ret()); }, false},
        {"for with returning body", [&] { return new ForStatement({}, {}, {}, f.ret()); }, false},
        {"iteration with returning body", [&] { return new IterationStatement(f.x, f.frame, f.ret()); }, false},
        {"do-while with returning body", [&] { return new DoWhileStatement(f.ret(), f.id(f.c)); }, true},
        {"do-while with plain body", [&] { return new DoWhileStatement(f.expr(), f.id(f.c)); }, false},
        {"switch ending in return", [&] {
             auto* s = new SwitchStatement(f.frame, f.id(f.x));
             s->push(f.ret());
             return s;
         }, false},
        {"default ending in return", [&] {
             auto* s = new DefaultStatement(f.frame);
             s->push(f.ret());
             return s;
         }, false},
        {"expression", [&] { return f.expr(); }, false},
        {"empty", [&] { return new EmptyStatement(); }, false},
    };
    for (const Case& c : cases) {
        std::unique_ptr<Statement> statement(c.make());
        EXPECT_EQ(statement->alwaysReturns(), c.expected) << c.name;
    }
}

TEST(StatementTest, Text)
{
    Fixture f;
    // The loop symbol of an iteration over a named type: const around LABEL id_t.
    type_t range = type_t::createRange(type_t::createPrimitive(INT), f.num(0), f.num(4));
    binding_t i = f.frame.addSymbol(
        "i", type_t::createPrefix(type_t::createLabel(range, "id_t"), CONSTANT), nullptr);
    binding_t j = f.frame.addSymbol("j", type_t::createPrefix(range, CONSTANT), nullptr);

    struct Case
    {
        const char* name;
        std::function<Statement*()> make;
        std::string prefix;
        std::string expected;
    };
    std::vector<Case> cases = {
        {"block", [&] { return f.block({f.expr(), f.ret()}); }, "  ", "  x = 1;\n  return x;\n"},
        {"return without value", [&] { return new ReturnStatement(); }, "  ", "  return ;"},
        {"empty statement ignores prefix", [&] { return new EmptyStatement(); }, "  ", ""},
        {"assert", [&] { return new AssertStatement(f.id(f.c)); }, "", "assert(c);"},
        {"break and continue", [&] { return f.block({new BreakStatement(), new ContinueStatement()}); },
         " ", " break;\n continue;\n"},
        {"if", [&] { return new IfStatement(f.id(f.c), f.block({f.expr()})); }, "  ",
         "  if (c)\n  {\n      x = 1;\n  }"},
        {"if else", [&] { return new IfStatement(f.id(f.c), f.block({f.expr()}), f.block({f.ret()})); }, "",
         "if (c)\n{\n    x = 1;\n}else {\n    return x;\n}"},
        {"for braces without prefix",
         [&] {
             return new ForStatement(f.assign(f.x, f.num(0)),
                                     expression_t::createBinary(LESS, f.id(f.x), f.num(3)),
                                     expression_t::createUnary(POST_INCREMENT, f.id(f.x)), f.block({f.expr()}));
         },
         "  ", "  for (x = 0; x < 3; x++)\n{\n      x = 1;\n}"},
        {"iteration over a named type", [&] { return new IterationStatement(i, f.frame, f.block({f.expr()})); },
         "", "for (i : id_t)\n{\n    x = 1;\n}"},
        {"iteration over a range in place", [&] { return new IterationStatement(j, f.frame, f.block({})); },
         "", "for (j : int[0,4])\n{\n}"},
        {"while", [&] { return new WhileStatement(f.id(f.c), f.block({f.expr()})); }, "  ",
         "  while(c)\n  {\n      x = 1;\n  }"},
        {"do-while", [&] { return new DoWhileStatement(f.block({f.expr()}), f.id(f.c)); }, "",
         "do {\n    x = 1;\n} while (c);"},
        {"switch with case and default",
         [&] {
             auto* s = new SwitchStatement(f.frame, f.id(f.y));
             auto* one = new CaseStatement(f.frame, f.num(1));
             one->push(f.expr());
             auto* other = new DefaultStatement(f.frame);
             other->push(new BreakStatement());
             s->push(one);
             s->push(other);
             return s;
         },
         "", "switch(y)\n{\n    case 1:\n        x = 1;\n\n    break;\n\n}"},
    };
    for (const Case& c : cases) {
        std::unique_ptr<Statement> statement(c.make());
        EXPECT_EQ(statement->toString(c.prefix), c.expected) << c.name;
    }
}

namespace {

// Records which visit each statement reached; simple statements return their position.
struct RecordingVisitor : AbstractStatementVisitor
{
    std::vector<std::string> seen;
    int32_t visitSimpleStatement(Statement*) override
    {
        seen.push_back("simple");
        return static_cast<int32_t>(seen.size());
    }
    int32_t visitDefaultStatement(DefaultStatement* s) override
    {
        seen.push_back("default");
        return AbstractStatementVisitor::visitDefaultStatement(s);
    }
};

// Records the text of every expression handed to it.
struct ExpressionRecorder : ExpressionVisitor
{
    std::vector<std::string> seen;
    void visitExpression(expression_t e) override { seen.push_back(e.toString()); }
};

} // namespace

TEST(StatementTest, DefaultVisitsReachEverySubStatement)
{
    Fixture f;
    RecordingVisitor v;
    std::unique_ptr<BlockStatement> empty(f.block({}));
    EXPECT_EQ(empty->accept(&v), 0);

    // if (c) { x = 1; } else { return x; } then a default block holding a return: the
    // result is that of the last visit.
    std::unique_ptr<BlockStatement> body(f.block({}));
    body->push(new IfStatement(f.id(f.c), f.block({f.expr()}), f.block({f.ret()})));
    auto* def = new DefaultStatement(f.frame);
    def->push(new WhileStatement(f.id(f.c), f.ret()));
    body->push(def);
    EXPECT_EQ(body->accept(&v), 4);
    EXPECT_EQ(v.seen, (std::vector<std::string>{"simple", "simple", "default", "simple"}));

    // pop hands a statement back to the caller.
    Statement* last = body->pop();
    EXPECT_EQ(last, def);
    EXPECT_EQ(body->statements.size(), 1u);
    delete last;
}

TEST(StatementTest, ExpressionVisitorOrder)
{
    Fixture f;
    std::unique_ptr<BlockStatement> body(f.block({}));
    // int y = z; declared in the block.
    f.system.addVariable(body->variables, body->blockFrame, type_t::createPrimitive(INT), "y", f.id(f.z));
    body->push(new ForStatement(f.assign(f.x, f.num(0)), f.id(f.c), f.assign(f.x, f.num(2)), f.expr()));
    body->push(new DoWhileStatement(new AssertStatement(f.id(f.y)), f.num(5)));
    body->push(new IfStatement(f.num(6), new ReturnStatement(), f.ret()));

    ExpressionRecorder recorder;
    EXPECT_EQ(body->accept(&recorder), 0);
    EXPECT_EQ(recorder.seen, (std::vector<std::string>{"z", "x = 0", "c", "x = 2", "x = 1", "5", "y", "6",
                                                       "", "x"}));
}

TEST(StatementTest, Collectors)
{
    Fixture f;
    std::unique_ptr<BlockStatement> body(f.block({}));
    f.system.addVariable(body->variables, body->blockFrame, type_t::createPrimitive(INT), "y", f.id(f.z));
    binding_t localY = body->blockFrame[0];
    body->push(new ExprStatement(f.assign(f.x, f.id(localY))));

    std::set<binding_t> reads;
    CollectDependenciesVisitor dependencies(reads);
    body->accept(&dependencies);
    EXPECT_EQ(reads, (std::set<binding_t>{f.z, f.x, localY}));

    std::set<binding_t> writes;
    CollectChangesVisitor changes(writes);
    body->accept(&changes);
    EXPECT_EQ(writes, (std::set<binding_t>{f.x}));

    expression_t spawn = expression_t::createNary(SPAWN, {});
    expression_t wrapped = expression_t::createBinary(ADD, f.num(1), spawn);
    std::unique_ptr<Statement> loop(
        new ForStatement(f.assign(f.x, f.num(0)), f.id(f.c), spawn, new ExprStatement(wrapped)));
    std::list<expression_t> dynamic;
    CollectDynamicExpressions collector(dynamic);
    loop->accept(&collector);
    ASSERT_EQ(dynamic.size(), 2u);
    EXPECT_EQ(dynamic.front(), spawn);
    EXPECT_EQ(dynamic.back(), wrapped);
}
