// Declarations, records, arrays, initialisers, functions and statements built from the
// post-order calls a parser makes.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "builder_probe.h"
#include "language/statement.h"

using namespace ZOLT;
using mirvek_test::errors;
using mirvek_test::Fixture;
using mirvek_test::ProbeBuilder;

namespace {

void pushRange(ProbeBuilder& b, int32_t lower, int32_t upper)
{
    b.exprNar(lower);
    b.exprNar(upper);
    b.typeBoundedInt(0);
}

binding_t symbolOf(ProbeBuilder& b, const char* name)
{
    binding_t symbol;
    EXPECT_TRUE(b.resolve(name, symbol)) << name;
    return symbol;
}

function_t& lastFunction(TimedAutomataSystem& system) { return system.getGlobals().functions.back(); }

} // namespace

TEST(StatementBuilderTypes, ArraysAreIndexedFromZeroToSizeMinusOne)
{
    Fixture f;
    auto& b = f.builder;
    // int a[2][5];
    b.typeInt(0);
    b.exprNar(2);
    b.exprNar(5);
    b.typeArrayOfSize(0);
    b.typeArrayOfSize(0);
    b.declVar("a", false);
    type_t a = symbolOf(b, "a").getType();
    ASSERT_EQ(a.getKind(), ARRAY);
    EXPECT_EQ(a.getIndexType().getRangeBounds().first.toString(), "0");
    EXPECT_EQ(a.getIndexType().getRangeBounds().second.toString(), "2 - 1") << "kept as an expression";
    type_t inner = a.getChild(0);
    ASSERT_EQ(inner.getKind(), ARRAY);
    EXPECT_EQ(inner.getIndexType().getRangeBounds().second.toString(), "5 - 1");
    EXPECT_TRUE(inner.getChild(0).isKind(INT));
    EXPECT_TRUE(b.typeFragments.empty());
    EXPECT_TRUE(b.fragments.empty());
    EXPECT_TRUE(errors(f.system).empty());
}

TEST(StatementBuilderTypes, ArrayIndexTypes)
{
    struct Case
    {
        const char* name;
        std::function<void(ProbeBuilder&)> index;
        bool error;
    };
    const std::vector<Case> cases = {
        {"bounded int", [](ProbeBuilder& b) { pushRange(b, 0, 3); }, false},
        {"scalar set", [](ProbeBuilder& b) { b.exprNar(3); b.typeScalar(0); }, false},
        {"bool", [](ProbeBuilder& b) { b.typeBool(0); }, true},
        {"clock", [](ProbeBuilder& b) { b.typeClock(0); }, true},
    };
    for (const auto& c : cases) {
        Fixture f;
        f.builder.typeInt(0);
        c.index(f.builder);
        f.builder.typeArrayOfType(1);
        f.builder.declVar("a", false);
        EXPECT_EQ(symbolOf(f.builder, "a").getType().getKind(), ARRAY) << c.name;
        EXPECT_EQ(errors(f.system),
                  c.error ? std::vector<std::string>{"$Array_must_be_defined_over_an_integer_range_or_a_scalar_set"}
                          : std::vector<std::string>{})
            << c.name;
    }
}

TEST(StatementBuilderTypes, RecordFields)
{
    struct Case
    {
        const char* name;
        std::function<void(ProbeBuilder&)> field;
        std::vector<std::string> errors;
    };
    const std::vector<Case> cases = {
        {"int", [](ProbeBuilder& b) { b.typeInt(0); }, {}},
        {"bool array", [](ProbeBuilder& b) { b.typeBool(0); b.exprNar(2); b.typeArrayOfSize(0); }, {}},
        {"scalar set", [](ProbeBuilder& b) { b.exprNar(2); b.typeScalar(0); }, {}},
        {"record",
         [](ProbeBuilder& b) {
             b.typeInt(0);
             b.structField("inner");
             b.typeStruct(0, 1);
         },
         {}},
        {"clock", [](ProbeBuilder& b) { b.typeClock(0); }, {"$Invalid_type_in_structure"}},
        {"double", [](ProbeBuilder& b) { b.typeDouble(0); }, {"$Invalid_type_in_structure"}},
        {"const int", [](ProbeBuilder& b) { b.typeInt(1); }, {"$Constant_fields_not_allowed_in_struct"}},
    };
    for (const auto& c : cases) {
        Fixture f;
        auto& b = f.builder;
        b.typeBool(0);
        b.structField("first");
        c.field(b);
        b.structField("second");
        b.typeStruct(1, 2);
        // The field is collected in every case.
        type_t record = b.topType();
        ASSERT_EQ(record.getKind(), CONST) << c.name;
        ASSERT_EQ(record.getChild(0).getKind(), RECORD) << c.name;
        EXPECT_EQ(record.getChild(0).getSize(), 2u) << c.name;
        EXPECT_EQ(record.findField("second"), 1) << c.name;
        EXPECT_EQ(errors(f.system), c.errors) << c.name;
    }
}

TEST(StatementBuilderDeclarations, VariableChecks)
{
    struct Case
    {
        const char* name;
        std::function<void(ProbeBuilder&)> type;
        bool initialiser;
        bool local;
        std::vector<std::string> errors;
    };
    auto intArray = [](ProbeBuilder& b) {
        b.typeInt(0);
        b.exprNar(2);
        b.typeArrayOfSize(0);
    };
    auto clockArray = [](ProbeBuilder& b) {
        b.typeClock(0);
        b.exprNar(2);
        b.typeArrayOfSize(0);
    };
    auto scalarIndexed = [](ProbeBuilder& b) {
        b.typeInt(0);
        b.exprNar(2);
        b.typeScalar(0);
        b.typeArrayOfType(1);
    };
    const std::vector<Case> cases = {
        {"const int without initialiser", [](ProbeBuilder& b) { b.typeInt(1); }, false, false,
         {"$Constants_must_have_an_initialiser"}},
        {"chan with initialiser", [](ProbeBuilder& b) { b.typeChannel(0); }, true, false,
         {"$Cannot_have_initialiser"}},
        {"clock array with initialiser", clockArray, true, false, {}},
        {"int array with initialiser", intArray, true, false, {}},
        {"local chan", [](ProbeBuilder& b) { b.typeChannel(0); }, false, true,
         {"$Type_is_not_allowed_in_functions"}},
        {"local array over a scalar set", scalarIndexed, false, true, {"$Type_is_not_allowed_in_functions"}},
        {"local int array", intArray, false, true, {}},
        {"local const int without initialiser", [](ProbeBuilder& b) { b.typeInt(1); }, false, true,
         {"$Constants_must_have_an_initialiser"}},
    };
    for (const auto& c : cases) {
        Fixture f;
        auto& b = f.builder;
        if (c.local) {
            b.typeVoid();
            b.declFuncBegin("f");
        }
        c.type(b);
        if (c.initialiser) {
            b.exprNar(0);
        }
        b.declVar("v", c.initialiser);
        // Declared in every case: locals in the function, others in the globals.
        EXPECT_FALSE(symbolOf(b, "v").empty()) << c.name;
        if (c.local) {
            EXPECT_EQ(lastFunction(f.system).localVariables.size(), 1u) << c.name;
            b.declFuncEnd();
        } else {
            EXPECT_EQ(f.system.getGlobals().variables.back().symbol.getName(), "v") << c.name;
        }
        EXPECT_EQ(errors(f.system), c.errors) << c.name;
        EXPECT_TRUE(b.fragments.empty() && b.typeFragments.empty()) << c.name;
    }
}

TEST(StatementBuilderDeclarations, DuplicatesAndTypeDefinitions)
{
    Fixture f;
    auto& b = f.builder;
    b.typeInt(0);
    b.declTypeDef("T");
    b.typeBool(0);
    try {
        b.declTypeDef("T");
        FAIL() << "no exception";
    } catch (const TypeException& e) {
        EXPECT_STREQ(e.what(), "$Duplicate_definition_of T");
    }
    EXPECT_TRUE(b.typeFragments.empty()) << "the type was popped";
    EXPECT_TRUE(symbolOf(b, "T").getType().getChild(0).isKind(INT)) << "the first definition stays";

    // The same name in an inner scope is a new definition.
    b.procBegin(statementBlock);
    b.typeBool(0);
    b.declTypeDef("T");
    EXPECT_TRUE(symbolOf(b, "T").getType().getChild(0).isKind(BOOL));

    // A variable declared twice is declared, then reported by the system.
    b.typeInt(0);
    b.declVar("x", false);
    b.typeInt(0);
    EXPECT_THROW(b.declVar("x", false), TypeException);
}

TEST(StatementBuilderDeclarations, InitialiserListsNameTheirElements)
{
    Fixture f;
    auto& b = f.builder;
    b.exprNar(1);
    b.declFieldInit("f");
    b.exprTrue();
    b.declFieldInit("");
    b.declInitialieserList(2);
    ASSERT_EQ(b.fragments.size(), 1u);
    expression_t list = b.top();
    EXPECT_EQ(list.getKind(), LIST);
    EXPECT_EQ(list.getSize(), 2u);
    type_t record = list.getType();
    ASSERT_EQ(record.getKind(), RECORD);
    EXPECT_EQ(record.getLabel(0), "f");
    EXPECT_EQ(record.getLabel(1), "");
    EXPECT_TRUE(record.getChild(0).isKind(INT));
    EXPECT_TRUE(record.getChild(1).isKind(BOOL));
    // The elements have their own types back.
    EXPECT_TRUE(list[0].getType().isKind(INT));
    EXPECT_EQ(list[0].getType().getKind(), INT);
}

TEST(StatementBuilderFunctions, ReturnChecks)
{
    struct Case
    {
        const char* name;
        bool returnsInt;
        std::function<void(ProbeBuilder&)> body;
        std::vector<std::string> errors;
    };
    auto ifWithoutElse = [](ProbeBuilder& b) {
        b.exprTrue();
        b.exprNar(1);
        b.returnStatement(true);
        b.ifEnd(false);
    };
    auto ifWithElse = [](ProbeBuilder& b) {
        b.exprTrue();
        b.exprNar(1);
        b.returnStatement(true);
        b.exprNar(2);
        b.returnStatement(true);
        b.ifEnd(true);
    };
    const std::vector<Case> cases = {
        {"ends with a return", true, [](ProbeBuilder& b) { b.exprNar(1); b.returnStatement(true); }, {}},
        {"ends with an if without else", true, ifWithoutElse, {"$Return_statement_expected"}},
        {"ends with an if whose branches return", true, ifWithElse, {}},
        {"empty non-void body", true, [](ProbeBuilder&) {}, {"$Return_statement_expected"}},
        {"empty void body", false, [](ProbeBuilder&) {}, {}},
        {"value in a void function", false, [](ProbeBuilder& b) { b.exprNar(1); b.returnStatement(true); },
         {"$return_with_a_value_in_function_returning_void"}},
        {"no value in an int function", true, [](ProbeBuilder& b) { b.returnStatement(false); },
         {"$return_with_no_value_in_function_returning_non-void"}},
    };
    for (const auto& c : cases) {
        Fixture f;
        auto& b = f.builder;
        size_t frames = b.frames.size();
        if (c.returnsInt) {
            b.typeInt(0);
        } else {
            b.typeVoid();
        }
        b.declFuncBegin("f");
        c.body(b);
        b.declFuncEnd();
        EXPECT_EQ(errors(f.system), c.errors) << c.name;
        EXPECT_EQ(b.frames.size(), frames) << c.name;
        EXPECT_TRUE(b.fragments.empty()) << c.name;
        EXPECT_NE(lastFunction(f.system).body, nullptr) << c.name;
    }

    Fixture f;
    f.builder.exprNar(1);
    f.builder.returnStatement(true);
    EXPECT_EQ(errors(f.system), std::vector<std::string>{"$Cannot_return_outside_of_function_declaration"});
    EXPECT_TRUE(f.builder.fragments.empty());
}

TEST(StatementBuilderFunctions, ParametersBodyAndStatements)
{
    Fixture f;
    auto& b = f.builder;
    size_t frames = b.frames.size();
    // int f(int &r, bool s) {
    //   int k = 0;
    //   for (k = 0; k < 3; k++) ;
    //   for (i : int[0,2]) k += i;
    //   while (s) { k--; }
    //   do k++; while (k < 2);
    //   if (s) k = 1; else k = 2;
    //   assert(k > 0);
    //   return r;
    // }
    b.typeInt(0);
    b.declParameter("r", true);
    b.typeBool(0);
    b.declParameter("s", false);
    b.typeInt(0);
    b.declFuncBegin("f");
    EXPECT_EQ(b.params.getSize(), 0u) << "the parameters moved into the body's scope";
    EXPECT_TRUE(symbolOf(b, "r").getType().getKind() == REF);

    b.typeInt(0);
    b.exprNar(0);
    b.declVar("k", true);

    b.forBegin();
    b.exprId("k");
    b.exprNar(0);
    b.exprAssignment(ASSIGN);
    b.exprId("k");
    b.exprNar(3);
    b.exprBinary(LESS);
    b.exprId("k");
    b.exprPostIncrement();
    b.emptyStatement();
    b.forEnd();

    pushRange(b, 0, 2);
    b.iterationBegin("i");
    EXPECT_TRUE(symbolOf(b, "i").getType().isKind(CONST));
    b.exprId("k");
    b.exprId("i");
    b.exprAssignment(ADD_ASSIGN);
    b.exprStatement();
    b.iterationEnd("i");

    b.whileBegin();
    b.exprId("s");
    b.procBegin(statementBlock);
    b.exprId("k");
    b.exprPostDecrement();
    b.exprStatement();
    b.procEnd(statementBlock);
    b.whileEnd();

    b.doWhileBegin();
    b.exprId("k");
    b.exprPostIncrement();
    b.exprStatement();
    b.exprId("k");
    b.exprNar(2);
    b.exprBinary(LESS);
    b.doWhileEnd();

    b.ifBegin();
    b.exprId("s");
    b.exprId("k");
    b.exprNar(1);
    b.exprAssignment(ASSIGN);
    b.exprStatement();
    b.ifElse();
    b.exprId("k");
    b.exprNar(2);
    b.exprAssignment(ASSIGN);
    b.exprStatement();
    b.ifEnd(true);

    b.exprId("k");
    b.exprNar(0);
    b.exprBinary(GREATER);
    b.assertStatement();

    b.exprId("r");
    b.returnStatement(true);
    b.declFuncEnd();

    EXPECT_TRUE(errors(f.system).empty()) << errors(f.system)[0];
    EXPECT_EQ(b.frames.size(), frames);
    EXPECT_TRUE(b.fragments.empty());
    EXPECT_TRUE(b.typeFragments.empty());
    EXPECT_FALSE(b.isTypeName("k"));
    binding_t k;
    EXPECT_FALSE(b.resolve("k", k)) << "locals are out of scope after the body";

    function_t& function = lastFunction(f.system);
    EXPECT_EQ(function.symbol.getName(), "f");
    EXPECT_EQ(function.symbol.getType().getKind(), FUNCTION);
    EXPECT_EQ(function.symbol.getType().getSize(), 3u) << "return type and two parameters";
    EXPECT_EQ(function.localVariables.size(), 2u) << "k and the loop variable";
    ASSERT_NE(function.body, nullptr);
    std::vector<Statement*> statements(function.body->begin(), function.body->end());
    ASSERT_EQ(statements.size(), 7u);
    EXPECT_NE(dynamic_cast<ForStatement*>(statements[0]), nullptr);
    auto* loop = dynamic_cast<IterationStatement*>(statements[1]);
    ASSERT_NE(loop, nullptr);
    EXPECT_NE(dynamic_cast<ExprStatement*>(loop->body), nullptr);
    EXPECT_EQ(loop->symbol.getName(), "i");
    auto* whileLoop = dynamic_cast<WhileStatement*>(statements[2]);
    ASSERT_NE(whileLoop, nullptr);
    EXPECT_NE(dynamic_cast<BlockStatement*>(whileLoop->body), nullptr);
    EXPECT_NE(dynamic_cast<DoWhileStatement*>(statements[3]), nullptr);
    auto* branch = dynamic_cast<IfStatement*>(statements[4]);
    ASSERT_NE(branch, nullptr);
    EXPECT_NE(branch->falseCase, nullptr);
    EXPECT_EQ(dynamic_cast<ExprStatement*>(branch->trueCase)->expr.toString(), "k = 1");
    EXPECT_NE(dynamic_cast<AssertStatement*>(statements[5]), nullptr);
    EXPECT_NE(dynamic_cast<ReturnStatement*>(statements[6]), nullptr);
}

TEST(StatementBuilderFunctions, DuplicateNamesAndUnsupportedStatements)
{
    Fixture f;
    auto& b = f.builder;
    b.typeInt(0);
    b.declVar("f", false);
    b.typeVoid();
    b.declFuncBegin("f");
    EXPECT_EQ(errors(f.system), std::vector<std::string>{"$Duplicate_definition_of f"});
    try {
        b.breakStatement();
        FAIL() << "no exception";
    } catch (const NotSupportedException& e) {
        EXPECT_STREQ(e.what(), "breakStatement is not supported");
    }
    b.declFuncEnd();
    EXPECT_NE(lastFunction(f.system).body, nullptr) << "the body was built all the same";
}

TEST(StatementBuilderFunctions, BlocksLeftOpenAreDroppedWithTheirScopes)
{
    Fixture f;
    auto& b = f.builder;
    size_t frames = b.frames.size();
    b.typeVoid();
    b.declFuncBegin("f");
    b.procBegin(statementBlock);
    b.procBegin(statementBlock);
    b.emptyStatement();
    b.declFuncEnd();
    EXPECT_EQ(b.frames.size(), frames);
    b.typeVoid();
    b.declFuncBegin("g");
    b.declFuncEnd();
    EXPECT_TRUE(errors(f.system).empty());
}

// Which fragment becomes which part of a statement: the texts show the order.
TEST(StatementBuilderFunctions, StatementsTakeTheirPartsFromTheRightDepths)
{
    auto expr = [](ProbeBuilder& b, const char* name, int32_t value, int kind) {
        b.exprId(name);
        b.exprNar(value);
        b.exprBinary(kind);
    };
    auto statement = [](ProbeBuilder& b) {
        b.exprId("k");
        b.exprPostIncrement();
        b.exprStatement();
    };
    struct Case
    {
        const char* name;
        std::function<void(ProbeBuilder&)> make;
        std::string text;
    };
    const std::vector<Case> cases = {
        {"for",
         [&](ProbeBuilder& b) {
             b.forBegin();
             b.exprId("k");
             b.exprNar(0);
             b.exprAssignment(ASSIGN);
             expr(b, "k", 3, LESS);
             expr(b, "k", 2, ADD_ASSIGN);
             statement(b);
             b.forEnd();
         },
         "for (k = 0; k < 3; k += 2)\n{\n    k++;\n}"},
        {"while",
         [&](ProbeBuilder& b) {
             b.whileBegin();
             expr(b, "k", 5, GREATER);
             statement(b);
             b.whileEnd();
         },
         "while(k > 5)\n{\n    k++;\n}"},
        {"do-while",
         [&](ProbeBuilder& b) {
             b.doWhileBegin();
             statement(b);
             expr(b, "k", 5, NOT_EQUAL);
             b.doWhileEnd();
         },
         "do {\n    k++;\n} while (k != 5);"},
        {"if without else",
         [&](ProbeBuilder& b) {
             b.ifBegin();
             b.exprId("s");
             statement(b);
             b.ifEnd(false);
         },
         "if (s)\n{\n    k++;\n}"},
        {"if with else",
         [&](ProbeBuilder& b) {
             b.ifBegin();
             b.exprId("s");
             statement(b);
             b.ifElse();
             b.emptyStatement();
             b.ifEnd(true);
         },
         "if (s)\n{\n    k++;\n}else {\n}"},
        {"assert", [&](ProbeBuilder& b) { expr(b, "k", 1, LESS_EQUAL); b.assertStatement(); }, "assert(k <= 1);"},
    };
    for (const auto& c : cases) {
        Fixture f;
        auto& b = f.builder;
        b.typeInt(0);
        b.declVar("k", false);
        b.typeBool(0);
        b.declVar("s", false);
        b.typeVoid();
        b.declFuncBegin("f");
        c.make(b);
        EXPECT_TRUE(b.fragments.empty()) << c.name;
        std::vector<Statement*> statements(lastFunction(f.system).body->begin(), lastFunction(f.system).body->end());
        ASSERT_EQ(statements.size(), 1u) << c.name;
        EXPECT_EQ(statements[0]->toString(""), c.text) << c.name;
        b.declFuncEnd();
        EXPECT_TRUE(errors(f.system).empty()) << c.name;
    }
}
