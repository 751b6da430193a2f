// Parser behaviour: precedence, declarations, statements, start parts, error
// recovery and the reporting of builder failures.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "builder_probe.h"
#include "parse_helpers.h"

namespace {

using namespace mirvek_test;
using namespace ZOLT;

struct Case
{
    const char* name;
    std::string text;
    const char* calls;
};

void expectCalls(const Case* begin, const Case* end, int part, bool newSyntax = true)
{
    for (const Case* c = begin; c != end; ++c) {
        SCOPED_TRACE(c->name);
        EXPECT_EQ(parsePart(c->text, part, newSyntax).calls, c->calls);
    }
}

TEST(Parser, OperatorPrecedence)
{
    const Case cases[] = {
        {"comparisons associate left", "a < b < c",
         "exprId(a); exprId(b); exprBinary(LESS); exprId(c); exprBinary(LESS)"},
        {"multiplication binds tighter", "a + b * c",
         "exprId(a); exprId(b); exprId(c); exprBinary(MULTIPLY); exprBinary(ADD)"},
        {"subtraction associates left", "a - b - c",
         "exprId(a); exprId(b); exprBinary(SUBTRACT); exprId(c); exprBinary(SUBTRACT)"},
        {"assignment associates right", "x = y = 0",
         "exprId(x); exprId(y); exprNar(0); exprAssignment(ASSIGN); exprAssignment(ASSIGN)"},
        {"inline if associates right", "a ? b : c ? d : e",
         "exprId(a); exprId(b); exprId(c); exprId(d); exprId(e); exprInlineIf(); exprInlineIf()"},
        {"assignment of a conditional", "x += c ? a : b",
         "exprId(x); exprId(c); exprId(a); exprId(b); exprInlineIf(); exprAssignment(ADD_ASSIGN)"},
        {"left side of an assignment", "a + b = c",
         "exprId(a); exprId(b); exprBinary(ADD); exprId(c); exprAssignment(ASSIGN)"},
        {"not binds tighter than and", "not a and b",
         "exprId(a); exprUnary(LOGICAL_NOT); exprId(b); exprBinary(LOGICAL_AND)"},
        {"or below and", "a || b and c",
         "exprId(a); exprId(b); exprId(c); exprBinary(LOGICAL_AND); exprBinary(LOGICAL_OR)"},
        {"imply is negation and disjunction", "a imply b or c",
         "exprId(a); exprUnary(LOGICAL_NOT); exprId(b); exprBinary(LOGICAL_OR); exprId(c); "
         "exprBinary(LOGICAL_OR)"},
        {"bit operators", "a | b ^ c & d == e",
         "exprId(a); exprId(b); exprId(c); exprId(d); exprId(e); exprBinary(EQUAL); exprBinary(BITWISE_AND); "
         "exprBinary(BITWISE_XOR); exprBinary(BITWISE_OR)"},
        {"min and max between comparison and shift", "a <? b << c < d",
         "exprId(a); exprId(b); exprId(c); exprBinary(SHIFT_LEFT); exprBinary(MINIMUM); exprId(d); exprBinary(LESS)"},
        {"unary minus below member access", "-a.b++",
         "exprId(a); exprDot(b); exprPostIncrement(); exprUnary(SUBTRACT)"},
        {"prefix increment", "++a[1] - --b",
         "exprId(a); exprNar(1); exprArray(); exprPreIncrement(); exprId(b); exprPreDecrement(); "
         "exprBinary(SUBTRACT)"},
        {"unary plus and rate", "+x' > !y",
         "exprId(x); exprUnary(RATE); exprUnary(ADD); exprId(y); exprUnary(LOGICAL_NOT); exprBinary(GREATER)"},
        {"calls", "f(1, g())",
         "exprId(f); exprCallBegin(); exprNar(1); exprId(g); exprCallBegin(); exprCallEnd(0); exprCallEnd(2)"},
        {"built-in functions", "pow(2, sqrt(x)) + fabs(y)",
         "exprNar(2); exprId(x); exprBuiltinFunction1(SQRT); exprBuiltinFunction2(POW); exprId(y); "
         "exprBuiltinFunction1(FABS); exprBinary(ADD)"},
        {"quantifier body extends right", "forall (i : int[0,2]) a[i] && b",
         "exprNar(0); exprNar(2); typeBoundedInt(0); exprForAllBegin(i); exprId(a); exprId(i); "
         "exprArray(); exprId(b); exprBinary(LOGICAL_AND); exprForAllEnd(i)"},
        {"sum over a type, exists over a template", "sum (i : bool) exists (p : P) (p.x == i)",
         "typeBool(0); exprSumBegin(i); exprId(P); exprExistsAllDynamicBegin(p, P); exprId(p); exprDot(x); "
         "exprId(i); exprBinary(EQUAL); exprExistsAllDynamicEnd(p); exprSumEnd(i)"},
        {"dynamic quantifier", "exists (p : P) (p.x > 0)",
         "exprId(P); exprExistsAllDynamicBegin(p, P); exprId(p); exprDot(x); exprNar(0); exprBinary(GREATER); "
         "exprExistsAllDynamicEnd(p)"},
        {"spawn, exit and numOf", "spawn P(1) + exit()",
         "exprId(P); exprNar(1); exprSpawn(1); exprExit(); exprBinary(ADD)"},
    };
    expectCalls(std::begin(cases), std::end(cases), PART_EXPRESSION);
}

TEST(Parser, Declarations)
{
    const Case cases[] = {
        {"dimensions apply right to left", "int a[2][3];",
         "typeInt(0); typeDuplicate(); exprNar(2); exprNar(3); typeArrayOfSize(0); typeArrayOfSize(0); "
         "declVar(a, false); typePop()"},
        {"type-indexed dimension", "clock c[bool][2], d;",
         "typeClock(0); typeDuplicate(); typeBool(0); exprNar(2); typeArrayOfSize(1); typeArrayOfType(1); "
         "declVar(c, false); typeDuplicate(); declVar(d, false); typePop()"},
        {"type dimensions around a size", "int a[bool][2][int[0,1]];",
         "typeInt(0); typeDuplicate(); typeBool(0); exprNar(2); exprNar(0); exprNar(1); typeBoundedInt(0); "
         "typeArrayOfType(2); typeArrayOfSize(1); typeArrayOfType(1); declVar(a, false); typePop()"},
        // The fields of a record index type have dimensions of their own; they
        // must not disturb the count of the pending index types around them.
        {"record as an index type", "int a[bool][struct { int b[2]; }];",
         "typeInt(0); typeDuplicate(); typeBool(0); typeInt(0); typeDuplicate(); exprNar(2); typeArrayOfSize(0); "
         "structField(b); typePop(); typeStruct(0, 1); typeArrayOfType(2); typeArrayOfType(1); declVar(a, false); "
         "typePop()"},
        {"prefixes", "urgent broadcast chan c; meta int[0, N] m = 1; const bool b = true;",
         "typeChannel(6); typeDuplicate(); declVar(c, false); typePop(); exprNar(0); exprId(N); "
         "typeBoundedInt(8); typeDuplicate(); exprNar(1); declVar(m, true); typePop(); typeBool(1); "
         "typeDuplicate(); exprTrue(); declVar(b, true); typePop()"},
        {"records and initialiser lists", "typedef struct { int a; bool b[2], c; } Rec; Rec r = { a: 1, { 2, 3 } };",
         "typeInt(0); typeDuplicate(); structField(a); typePop(); typeBool(0); typeDuplicate(); exprNar(2); "
         "typeArrayOfSize(0); structField(b); typeDuplicate(); structField(c); typePop(); typeStruct(0, 3); "
         "typeDuplicate(); declTypeDef(Rec); typePop(); typeName(0, Rec); typeDuplicate(); exprNar(1); "
         "declFieldInit(a); exprNar(2); declFieldInit(); exprNar(3); declFieldInit(); declInitialieserList(2); "
         "declFieldInit(); declInitialieserList(2); declVar(r, true); typePop()"},
        {"scalar, double and hybrid clock", "scalar[3] s; double d; hybrid clock h;",
         "exprNar(3); typeScalar(0); typeDuplicate(); declVar(s, false); typePop(); typeDouble(0); "
         "typeDuplicate(); declVar(d, false); typePop(); typeClock(16); typeDuplicate(); declVar(h, false); "
         "typePop()"},
        {"function", "int f(int &a, bool b[2]) { int x = a; return x; }",
         "typeInt(0); typeInt(0); declParameter(a, true); typeBool(0); exprNar(2); typeArrayOfSize(0); "
         "declParameter(b, false); declFuncBegin(f); typeInt(0); typeDuplicate(); exprId(a); declVar(x, true); "
         "typePop(); exprId(x); returnStatement(true); declFuncEnd()"},
        {"dynamic template, before and after update", "dynamic P(int a); before_update { x = 1 } after_update { y }",
         "typeInt(0); declParameter(a, false); declDynamicTemplate(P); exprId(x); exprNar(1); "
         "exprAssignment(ASSIGN); beforeUpdate(); exprId(y); afterUpdate()"},
        {"template, instantiation and priority", "process P() { state a; init a; } Q = P(); chan priority c < default;",
         "procBegin(P, true, , ); procState(a, false, false); procStateInit(a); procEnd(); "
         "instantiationBegin(Q, 0, P); instantiationEnd(Q, 0, P, 0); exprId(c); beginChanPriority(); "
         "defaultChanPriority(); addChanPriority(<)"},
        {"a bad declaration does not hide the next", "int x = ; int y; bool z = +;",
         "typeInt(0); typeDuplicate(); error($syntax_error: $unexpected ';'); typeInt(0); typeDuplicate(); "
         "declVar(y, false); typePop(); typeBool(0); typeDuplicate(); error($syntax_error: $unexpected ';')"},
    };
    expectCalls(std::begin(cases), std::end(cases), PART_DECLARATIONS);
}

TEST(Parser, Statements)
{
    const Case cases[] = {
        {"if without else", "void f() { if (a) x++; }",
         "typeVoid(); declFuncBegin(f); ifBegin(); exprId(a); exprId(x); exprPostIncrement(); exprStatement(); "
         "ifEnd(false); declFuncEnd()"},
        {"else belongs to the nearest if", "void f() { if (a) if (b) ; else {} }",
         "typeVoid(); declFuncBegin(f); ifBegin(); exprId(a); ifBegin(); exprId(b); emptyStatement(); ifElse(); "
         "procBegin(block); procEnd(block); ifEnd(true); ifEnd(false); declFuncEnd()"},
        {"loops", "void f() { for (i = 0; i < 2; i++) ; for (j : int[0,1]) {} while (b) x--; do ; while (c); }",
         "typeVoid(); declFuncBegin(f); exprId(i); exprNar(0); exprAssignment(ASSIGN); exprId(i); exprNar(2); "
         "exprBinary(LESS); exprId(i); exprPostIncrement(); forBegin(); emptyStatement(); forEnd(); "
         "exprNar(0); exprNar(1); typeBoundedInt(0); iterationBegin(j); procBegin(block); "
         "procEnd(block); iterationEnd(j); whileBegin(); exprId(b); exprId(x); exprPostDecrement(); "
         "exprStatement(); whileEnd(); doWhileBegin(); emptyStatement(); exprId(c); doWhileEnd(); declFuncEnd()"},
        {"return and assert", "void f() { assert(x); return; }",
         "typeVoid(); declFuncBegin(f); exprId(x); assertStatement(); returnStatement(false); declFuncEnd()"},
        {"a bad statement does not hide the next", "void f() { x = ; y = 1; }",
         "typeVoid(); declFuncBegin(f); exprId(x); error($syntax_error: $unexpected ';'); exprId(y); exprNar(1); "
         "exprAssignment(ASSIGN); exprStatement(); declFuncEnd()"},
    };
    expectCalls(std::begin(cases), std::end(cases), PART_DECLARATIONS);
}

TEST(Parser, PlaceholdersAfterSyntaxErrors)
{
    const Case cases[] = {
        {"subscript", "a[+] + 1",
         "exprId(a); error($syntax_error: $unexpected ']'); exprFalse(); exprNar(1); exprBinary(ADD)"},
        {"parentheses", "(+) + 1", "error($syntax_error: $unexpected ')'); exprFalse(); exprNar(1); exprBinary(ADD)"},
        {"call arguments", "f(1 2) + 1",
         "exprId(f); exprCallBegin(); exprNar(1); error($syntax_error: $unexpected T_NAT, $expecting ')' $or ','); "
         "exprCallEnd(0); "
         "exprNar(1); exprBinary(ADD)"},
    };
    expectCalls(std::begin(cases), std::end(cases), PART_EXPRESSION);
}

// Syntax errors name the look-ahead token and the expected tokens in terminal order.
TEST(Parser, SyntaxErrorMessages)
{
    const Case cases[] = {
        {"three expected tokens", "chan priority c d",
         "exprId(c); beginChanPriority(); error($syntax_error: $unexpected T_ID, $expecting T_LT $or ';' $or ',')"},
        {"two expected tokens", "process P() { state a; init a; trans a b",
         "procBegin(P, true, , ); procState(a, false, false); procStateInit(a); "
         "error($syntax_error: $unexpected T_ID, $expecting T_ARROW $or T_UNCONTROL_ARROW)"},
    };
    expectCalls(std::begin(cases), std::end(cases), PART_DECLARATIONS);
}

TEST(Parser, StartParts)
{
    struct PartCase
    {
        int part;
        bool newSyntax;
        const char* text;
        const char* calls;
    };
    const PartCase cases[] = {
        {PART_MODEL, true, "int x; system P;",
         "typeInt(0); typeDuplicate(); declVar(x, false); typePop(); process(P); done()"},
        {PART_MODEL, false, "const N = 1; system P;",
         "typeInt(1); typeDuplicate(); exprNar(1); declVar(N, true); typePop(); process(P); done()"},
        {PART_DECLARATIONS, false, "int x; process P { state a; init a; }",
         "typeInt(0); typeDuplicate(); declVar(x, false); typePop(); procBegin(P, true, , ); "
         "procState(a, false, false); procStateInit(a); procEnd()"},
        {PART_LOCAL_DECLARATIONS, true, "clock c; void f() {}",
         "typeClock(0); typeDuplicate(); declVar(c, false); typePop(); typeVoid(); declFuncBegin(f); "
         "declFuncEnd()"},
        {PART_LOCAL_DECLARATIONS, false, "int x;", "typeInt(0); typeDuplicate(); declVar(x, false); typePop()"},
        {PART_INSTANTIATION, true, "P = T(1);", "instantiationBegin(P, 0, T); exprNar(1); instantiationEnd(P, 0, T, 1)"},
        {PART_INSTANTIATION, false, "P = T(1);", "instantiationBegin(P, 0, T); exprNar(1); instantiationEnd(P, 0, T, 1)"},
        {PART_SYSTEM, false, "int x; system P;", "typeInt(0); typeDuplicate(); declVar(x, false); typePop(); process(P)"},
        {PART_PARAMETERS, true, "int a, bool &b", "typeInt(0); declParameter(a, false); typeBool(0); declParameter(b, true)"},
        {PART_PARAMETERS, false, "int a, b; const c",
         "typeInt(0); typeDuplicate(); declParameter(a, true); typeDuplicate(); declParameter(b, true); typePop(); "
         "typeInt(1); declParameter(c, false)"},
        {PART_INVARIANT, true, "x <= 5", "exprId(x); exprNar(5); exprBinary(LESS_EQUAL)"},
        {PART_INVARIANT, false, "x <= 5, y < 3",
         "exprId(x); exprNar(5); exprBinary(LESS_EQUAL); exprId(y); exprNar(3); exprBinary(LESS); "
         "exprBinary(LOGICAL_AND)"},
        {PART_EXPONENTIAL_RATE, true, "2 : 3", "exprNar(2); exprNar(3); exprBinary(FRACTION)"},
        {PART_SELECT, false, "i : int[0,3], j : T",
         "exprNar(0); exprNar(3); typeBoundedInt(0); procSelect(i); "
         "error($syntax_error: $unexpected T_ID)"},
        {PART_GUARD, true, "x > 1", "exprId(x); exprNar(1); exprBinary(GREATER); procGuard()"},
        {PART_GUARD, false, "a, b", "exprId(a); exprId(b); exprBinary(LOGICAL_AND); procGuard()"},
        {PART_SYNC, true, "c[1]!", "exprId(c); exprNar(1); exprArray(); procSync(1)"},
        {PART_SYNC, false, "c?", "exprId(c); procSync(0)"},
        {PART_SYNC, true, "c", "exprId(c); procSync(2)"},
        {PART_ASSIGNMENT, true, "x = 1, y++",
         "exprId(x); exprNar(1); exprAssignment(ASSIGN); exprId(y); exprPostIncrement(); exprComma(); procUpdate()"},
        {PART_ASSIGNMENT, false, "x := 1", "exprId(x); exprNar(1); exprAssignment(ASSIGN); procUpdate()"},
        {PART_EXPRESSION_LIST, true, "1, 2", "exprNar(1); exprNar(2); exprComma()"},
        {PART_QUERIES, true, "A[] x", "exprId(x); exprUnary(ALWAYS_GLOBALLY); property()"},
        {PART_PROCESS, true, "process P(int a) { }", "typeInt(0); declParameter(a, false); procBegin(P, true, , ); procEnd()"},
        {PART_PROBABILITY, true, "3", "exprNar(3); procProb()"},
        {PART_INSTANCE_LINE, true, "L", "instanceName(L, false)"},
        {PART_INSTANCE_LINE, true, "L(1, 2)", "instanceNameBegin(L); exprNar(1); exprNar(2); instancNameEnd(L, 2)"},
        {PART_MESSAGE, true, "c", "exprId(c); procMessage(0)"},
        {PART_LSC_UPDATE, true, "x = 1", "exprId(x); exprNar(1); exprAssignment(ASSIGN); procLscUpdate()"},
        {PART_CONDITION, true, "x > 1", "exprId(x); exprNar(1); exprBinary(GREATER); procCondition()"},
    };
    for (const PartCase& c : cases) {
        SCOPED_TRACE(std::string("part ") + std::to_string(c.part) + (c.newSyntax ? " new: " : " old: ") + c.text);
        EXPECT_EQ(parsePart(c.text, c.part, c.newSyntax).calls, c.calls);
    }
}

TEST(Parser, CallSpans)
{
    // Builder calls carry the span of their rule; "f" is at offset 0 of the text.
    auto p = parsePart("f(1, 2)", PART_EXPRESSION);
    ASSERT_EQ(p.calls, "exprId(f); exprCallBegin(); exprNar(1); exprNar(2); exprCallEnd(2)");
    const int32_t base = p.builder.spans[0].start;
    EXPECT_EQ(p.builder.spans[0], span_t(base, base + 1));
    EXPECT_EQ(p.builder.spans[1], span_t(base, base + 2));    // callee and "("
    EXPECT_EQ(p.builder.spans[3], span_t(base + 5, base + 6));
    EXPECT_EQ(p.builder.spans[4], span_t(base, base + 7));

    // An if without else ends at the absent position.
    auto q = parsePart("void f() { if (a) ; }", PART_DECLARATIONS);
    ASSERT_EQ(q.builder.calls[5], "ifEnd(false)");
    EXPECT_TRUE(q.builder.spans[5].isAbsent());
}

TEST(Parser, BuilderTypeErrorsAreReportedAndParsingGoesOn)
{
    RecordingBuilder builder;
    builder.throwOn["exprId(break)"] = "$Unknown_identifier: break";
    builder.throwOn["declVar(x, false)"] = "$Duplicate_definition_of x";
    auto p = parsePart("int x; void f() { break; x = 1; }", PART_DECLARATIONS, true, std::move(builder));
    EXPECT_EQ(p.result, 0);
    EXPECT_EQ(p.calls,
              "typeInt(0); typeDuplicate(); declVar(x, false); error($Duplicate_definition_of x); typePop(); "
              "typeVoid(); declFuncBegin(f); exprId(break); error($Unknown_identifier: break); exprStatement(); "
              "exprId(x); exprNar(1); exprAssignment(ASSIGN); exprStatement(); declFuncEnd()");
    // Each error is placed at the span of the failed call.
    EXPECT_EQ(p.builder.spans[3], p.builder.spans[2]);
    EXPECT_EQ(p.builder.spans[8], p.builder.spans[7]);
}

// The language has no break statement: "break" is an identifier that names nothing,
// and the statement after it is still read.
TEST(Parser, BreakIsAnUnknownIdentifier)
{
    mirvek_test::Fixture f;
    EXPECT_EQ(runParserOnText("int x; void f() { break; x = 1; }", &f.builder, true, PART_DECLARATIONS, ""), 0);
    EXPECT_EQ(mirvek_test::errors(f.system), std::vector<std::string>{"$Unknown_identifier: break"});
}

// Builder that does not support statements at all.
class NoStatements : public RecordingBuilder
{
public:
    void exprStatement() override { throw NotSupportedException("exprStatement is not supported"); }
};

TEST(Parser, OtherBuilderExceptionsEndTheParse)
{
    NoStatements builder;
    EXPECT_THROW(runParserOnText("void f() { x; } int y;", &builder, true, PART_DECLARATIONS, ""),
                 NotSupportedException);
    // The next parse starts cleanly.
    EXPECT_EQ(parsePart("a", PART_EXPRESSION).calls, "exprId(a)");
}

TEST(Parser, DeepNestingExhaustsTheStack)
{
    const std::string nested = std::string(200, '(') + "1" + std::string(200, ')');
    auto p = parsePart(nested, PART_EXPRESSION);
    EXPECT_EQ(p.result, -1);
    ASSERT_FALSE(p.builder.errors.empty());
    EXPECT_EQ(p.builder.errors.back(), "$memory_exhausted");

    const std::string shallow = std::string(90, '(') + "1" + std::string(90, ')');
    EXPECT_EQ(parsePart(shallow, PART_EXPRESSION).calls, "exprNar(1)");
}

} // namespace

namespace {

using namespace mirvek_test;

// A builder that tries to start a parse from inside a parse.
class Reentrant : public RecordingBuilder
{
public:
    void exprId(const char* name) override
    {
        RecordingBuilder inner;
        ZOLT::runParserOnText(name, &inner, true, ZOLT::PART_EXPRESSION, "");
    }
};

TEST(Parser, Entries)
{
    RecordingBuilder model;
    EXPECT_EQ(ZOLT::runParserOnModelText("system P;", &model, true), 0);
    EXPECT_EQ(joined(model.calls), "process(P); done()");

    RecordingBuilder outOfRange;
    EXPECT_THROW(ZOLT::runParserOnText("x", &outOfRange, true, 21, ""), std::logic_error);

    // A missing text or file is the caller's fault, refused before any scanning.
    RecordingBuilder missing;
    EXPECT_THROW(ZOLT::runParserOnText(nullptr, &missing, true, ZOLT::PART_EXPRESSION, ""), std::logic_error);
    EXPECT_THROW(ZOLT::runQueryParserOnText(nullptr, &missing), std::logic_error);
    EXPECT_THROW(ZOLT::runParserOnFile(nullptr, &missing, true), std::logic_error);
    EXPECT_THROW(ZOLT::runQueryParserOnFile(nullptr, &missing), std::logic_error);
    EXPECT_TRUE(missing.calls.empty());

    Reentrant reentrant;
    EXPECT_THROW(ZOLT::runParserOnText("x", &reentrant, true, ZOLT::PART_EXPRESSION, ""), std::logic_error);
    EXPECT_EQ(parsePart("y", ZOLT::PART_EXPRESSION).calls, "exprId(y)");

    // After a reset the first text starts at offset 1 again.
    ZOLT::resetParserState();
    RecordingBuilder fresh;
    ZOLT::runQueryParserOnText("E<> x", &fresh);
    ASSERT_EQ(fresh.positions.size(), 1u);
    EXPECT_EQ(fresh.positions[0].position, 1u);
    EXPECT_EQ(fresh.spans[0], ZOLT::span_t(5, 6));
}

} // namespace
