// Whole models in both syntaxes, read from small fixture files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <string>

#include "builder_probe.h"
#include "parse_helpers.h"

namespace {

using namespace mirvek_test;

std::string fixture(const char* name)
{
    return std::string(MIRVEK_TEST_MODELS) + "/" + name;
}

// Parses a model file and returns the result and the calls, one per line.
std::pair<int, std::string> parseModelFile(const char* name, bool newSyntax, RecordingBuilder& builder)
{
    FILE* file = std::fopen(fixture(name).c_str(), "r");
    if (file == nullptr)
        return {-2, "cannot open " + fixture(name)};
    const int result = ZOLT::runParserOnFile(file, &builder, newSyntax);
    std::fclose(file);
    std::string lines;
    for (const auto& c : builder.calls)
        lines += (lines.empty() ? "" : "\n") + c;
    return {result, lines};
}

TEST(ParserModels, NewSyntaxTemplatesAndSystemLine)
{
    // Covers location kinds, every edge label, the uncontrollable arrow, edges
    // continued from the last explicit source (a probabilistic edge does not
    // change it), partial instantiation, priorities, IO, progress and Gantt.
    RecordingBuilder builder;
    auto [result, calls] = parseModelFile("parse_template.xta", true, builder);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(calls, R"(typeChannel(0)
typeDuplicate()
declVar(c, false)
typeDuplicate()
declVar(d, false)
typePop()
typeClock(0)
typeDuplicate()
declVar(x, false)
typePop()
typeInt(1)
declParameter(id, false)
typeInt(0)
declParameter(v, true)
procBegin(P, true, , )
typeInt(0)
typeDuplicate()
declVar(k, false)
typePop()
exprId(x)
exprNar(5)
exprBinary(LESS_EQUAL)
procState(s, true, false)
exprNar(2)
exprNar(3)
exprBinary(FRACTION)
procState(t, false, true)
procState(u, false, false)
procBranchpoint(b)
procStateCommit(u)
procStateUrgent(t)
procStateInit(s)
procEdgeBegin(s, t, true, )
exprNar(0)
exprNar(1)
typeBoundedInt(0)
procSelect(i)
exprId(x)
exprNar(1)
exprBinary(GREATER)
procGuard()
exprId(c)
procSync(1)
exprId(v)
exprId(i)
exprAssignment(ASSIGN)
procUpdate()
procEdgeEnd(s, t)
procEdgeBegin(s, u, true, )
exprId(d)
procSync(0)
procEdgeEnd(s, u)
procEdgeBegin(b, s, true, )
procEdgeEnd(b, s)
procEdgeBegin(b, t, true, )
procEdgeEnd(b, t)
procEdgeBegin(t, s, false, )
exprId(k)
exprNar(0)
exprBinary(EQUAL)
error($syntax_error: $unexpected T_ID)
procGuard()
procEdgeEnd(t, s)
procEdgeBegin(s, b, true, )
exprNar(3)
procProb()
procEdgeEnd(s, b)
procEdgeBegin(t, u, true, )
procEdgeEnd(t, u)
procEnd()
typeInt(1)
declParameter(id, false)
instantiationBegin(Q, 1, P)
exprId(id)
exprId(k)
instantiationEnd(Q, 1, P, 2)
process(P)
incProcPriority()
process(Q)
process(R)
exprId(c)
exprSync(1)
exprId(d)
exprSync(0)
declIO(Q, 0, 2)
exprId(x)
exprId(k)
declProgress(true)
exprId(k)
declProgress(false)
ganttDeclStart(G)
exprNar(0)
exprNar(1)
typeBoundedInt(0)
ganttDeclSelect(i)
exprId(k)
exprNar(0)
exprBinary(GREATER)
exprNar(1)
ganttStart()
ganttEntryEnd()
ganttStart()
exprNar(0)
exprNar(1)
typeBoundedInt(0)
ganttEntrySelect(j)
exprId(k)
exprId(j)
exprBinary(EQUAL)
exprNar(2)
ganttEntryEnd()
ganttDeclEnd()
done())");
}

TEST(ParserModels, OldSyntax)
{
    RecordingBuilder builder;
    auto [result, calls] = parseModelFile("parse_old_syntax.ta", false, builder);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(calls, R"(typeInt(1)
typeDuplicate()
exprNar(2)
declVar(N, true)
typeDuplicate()
exprNar(2)
typeArrayOfSize(0)
exprNar(1)
declFieldInit()
exprNar(2)
declFieldInit()
declInitialieserList(2)
declVar(M, true)
typePop()
typeInt(0)
typeDuplicate()
declVar(v, false)
typePop()
typeChannel(0)
typeDuplicate()
declVar(c, false)
typePop()
typeInt(0)
typeDuplicate()
declParameter(a, true)
typeDuplicate()
declParameter(b, true)
typePop()
typeInt(1)
declParameter(id, false)
procBegin(P, true, , )
typeClock(0)
typeDuplicate()
declVar(x, false)
typePop()
typeInt(1)
typeDuplicate()
exprNar(3)
declVar(L, true)
typePop()
exprId(x)
exprId(L)
exprBinary(LESS_EQUAL)
exprId(a)
exprNar(2)
exprBinary(LESS)
exprBinary(LOGICAL_AND)
procState(s, true, false)
procState(t, false, false)
procStateCommit(t)
procStateInit(s)
procEdgeBegin(s, t, true, )
exprId(x)
exprNar(1)
exprBinary(GREATER_EQUAL)
exprId(id)
exprNar(0)
exprBinary(EQUAL)
exprBinary(LOGICAL_AND)
procGuard()
exprId(c)
procSync(1)
exprId(a)
exprNar(1)
exprAssignment(ASSIGN)
exprId(x)
exprNar(0)
exprAssignment(ASSIGN)
exprComma()
procUpdate()
procEdgeEnd(s, t)
procEdgeBegin(s, s, true, )
procEdgeEnd(s, s)
procEdgeBegin(t, s, true, )
exprId(id)
error($syntax_error: $unexpected T_ID, $expecting ';' $or ',')
procGuard()
procEdgeEnd(t, s)
procEnd()
instantiationBegin(Q, 0, P)
exprId(v)
exprId(v)
exprNar(1)
instantiationEnd(Q, 0, P, 3)
process(Q)
done())");
}

TEST(ParserModels, RecoveryPointsKeepTheRestOfTheModel)
{
    RecordingBuilder builder;
    auto [result, calls] = parseModelFile("parse_recovery.xta", true, builder);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(calls, R"(typeInt(0)
typeDuplicate()
error($syntax_error: $unexpected ';')
typeInt(0)
typeDuplicate()
declVar(b, false)
typePop()
procBegin(P, true, , )
procState(s, false, false)
procState(t, false, false)
procStateInit(s)
procEdgeBegin(s, t, true, )
exprId(x)
error($syntax_error: $unexpected ';')
procGuard()
exprId(c)
procSync(1)
procEdgeEnd(s, t)
procEdgeBegin(t, s, true, )
exprId(c)
error($syntax_error: $unexpected T_ID)
procSync(0)
procEdgeEnd(t, s)
procEnd()
process(P)
error($syntax_error: $unexpected ';')
done())");
}

} // namespace

namespace {

using namespace mirvek_test;

TEST(ParserModels, InlineModels)
{
    struct Case
    {
        const char* name;
        const char* text;
        const char* calls;
    };
    const Case cases[] = {
        {"system line with priorities", "system P, Q < R, S;",
         "process(P); process(Q); incProcPriority(); process(R); process(S); done()"},
        {"default channel first", "chan priority default < c[1]; system P;",
         "defaultChanPriority(); beginChanPriority(); exprId(c); exprNar(1); exprArray(); addChanPriority(<); "
         "process(P); done()"},
        {"edge continuations", "process T() { state a, b, c, d; init a; trans a -> b {}, -> c {}, d -> a {}, -> b {}; } system T;",
         "procBegin(T, true, , ); procState(a, false, false); procState(b, false, false); "
         "procState(c, false, false); procState(d, false, false); procStateInit(a); procEdgeBegin(a, b, true, ); "
         "procEdgeEnd(a, b); procEdgeBegin(a, c, true, ); procEdgeEnd(a, c); procEdgeBegin(d, a, true, ); "
         "procEdgeEnd(d, a); procEdgeBegin(d, b, true, ); procEdgeEnd(d, b); procEnd(); process(T); done()"},
        {"dynamic template", "dynamic T(int a); process T(int a) { state s; init s; trans s -> s { assign spawn T(a), exit(); }; } "
                             "system T;",
         "typeInt(0); declParameter(a, false); declDynamicTemplate(T); typeInt(0); declParameter(a, false); "
         "procBegin(T, true, , ); procState(s, false, false); procStateInit(s); procEdgeBegin(s, s, true, ); "
         "exprId(T); exprId(a); exprSpawn(1); exprExit(); exprComma(); procUpdate(); procEdgeEnd(s, s); procEnd(); "
         "process(T); done()"},
        {"empty template body", "process T() {} system T;", "procBegin(T, true, , ); procEnd(); process(T); done()"},
        {"missing system line", "int x;",
         "typeInt(0); typeDuplicate(); declVar(x, false); typePop(); "
         "error($syntax_error: $unexpected $end)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(parsePart(c.text, ZOLT::PART_MODEL).calls, c.calls);
    }
}

TEST(ParserModels, SyntaxErrorIsPlacedAtTheLookAheadToken)
{
    auto p = parsePart("int x = ;", ZOLT::PART_DECLARATIONS);
    ASSERT_EQ(p.builder.errors.size(), 1u);
    ASSERT_EQ(p.builder.calls[2], "error($syntax_error: $unexpected ';')");
    const int32_t base = p.builder.positions[0].position;
    EXPECT_EQ(p.builder.spans[2], ZOLT::span_t(base + 8, base + 9));
}

// A text without a single lexeme (an empty system element, an empty file) is
// blamed at its own start, not at the last lexeme of the text read before it.
TEST(ParserModels, SyntaxErrorInAnEmptyTextIsPlacedInThatText)
{
    parsePart("int before;", ZOLT::PART_DECLARATIONS);
    for (int part : {ZOLT::PART_MODEL, ZOLT::PART_SYSTEM, ZOLT::PART_EXPRESSION}) {
        SCOPED_TRACE("part " + std::to_string(part));
        auto p = parsePart("", part);
        ASSERT_EQ(p.builder.errors.size(), 1u);
        EXPECT_EQ(p.builder.errors[0], "$syntax_error: $unexpected $end");
        const auto start = static_cast<int32_t>(p.builder.positions[0].position);
        EXPECT_EQ(p.builder.spans[0], ZOLT::span_t(start, start));
    }
    // The call of a whole model spans the model's text.
    auto model = parsePart("system P;", ZOLT::PART_MODEL);
    const auto start = static_cast<int32_t>(model.builder.positions[0].position);
    ASSERT_EQ(model.calls, "process(P); done()");
    EXPECT_EQ(model.builder.spans[1], ZOLT::span_t(start, start + 9));
}

} // namespace

namespace {

using namespace mirvek_test;

TEST(ParserModels, RecoveryInTemplates)
{
    struct Case
    {
        const char* name;
        bool newSyntax;
        const char* text;
        const char* calls;
    };
    const Case cases[] = {
        {"invariant with an error", true, "process T() { state s { x + }, t; init s; } system T;",
         "procBegin(T, true, , ); exprId(x); error($syntax_error: $unexpected '}'); procState(s, false, false); "
         "procState(t, false, false); procStateInit(s); procEnd(); process(T); done()"},
        {"old template with a broken header", false, "process 1 { state a; init a; } system P;",
         "error($syntax_error: $unexpected T_NAT); procBegin(_, true, , ); "
         "procState(a, false, false); procStateInit(a); procEnd(); process(P); done()"},
        {"old instantiation with an error", false, "P = T(1; Q = T(2); system P;",
         "instantiationBegin(P, 0, T); exprNar(1); error($syntax_error: $unexpected ';', $expecting ')' $or ','); "
         "instantiationBegin(Q, 0, T); exprNar(2); instantiationEnd(Q, 0, T, 1); process(P); done()"},
        // The second error follows within three tokens of the first and is not reported.
        {"bad location list and commit list", true,
         "process T() { state 1; commit 2; init s; } system T;",
         "procBegin(T, true, , ); error($syntax_error: $unexpected T_NAT); "
         "procStateInit(s); procEnd(); process(T); done()"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(parsePart(c.text, ZOLT::PART_MODEL, c.newSyntax).calls, c.calls);
    }
}

} // namespace

namespace {

using namespace mirvek_test;

// The text that the span of a call covers, for the first call logged as call.
std::string coveredText(const Parsed& p, const std::string& text, const std::string& call)
{
    const auto& calls = p.builder.calls;
    const auto it = std::find(calls.begin(), calls.end(), call);
    if (it == calls.end())
        return "<no call " + call + ">";
    const ZOLT::span_t span = p.builder.spans[it - calls.begin()];
    const int32_t base = static_cast<int32_t>(p.builder.positions[0].position);
    if (span.start < base || span.end < span.start || span.end - base > static_cast<int32_t>(text.size()))
        return "<span outside the text>";
    return text.substr(span.start - base, span.end - span.start);
}

// Diagnostics of the builder land where these spans say, so each construct's
// calls must carry the span of the right symbols of its rule.
TEST(ParserModels, SpansOfTemplateAndSystemCalls)
{
    const std::string model =
        "Q(int a) = P(a); system P, Q < R; progress { x : y; z; } "
        "gantt { G(i : bool) : a -> b, for (j : bool) c -> d; }";
    const std::string templ =
        "process T() { state a, b; init a; trans a -> b { select i : bool; guard x; sync c!; assign y = 1; }, "
        "-> a { }, a -> b [3]; } int f() { return 1; } void g() { x imply y; }";
    const auto onModel = parsePart(model, ZOLT::PART_MODEL);
    const auto onTemplate = parsePart(templ, ZOLT::PART_DECLARATIONS);
    struct Case
    {
        const Parsed& parsed;
        const std::string& text;
        const char* call;
        std::string covers;
    };
    // An empty symbol spans nothing at the end of the symbol before it, so the
    // template body starts right after its opening brace.
    const size_t body = templ.find('{') + 1, bodyEnd = templ.find("} int f") + 1;
    const Case cases[] = {
        {onModel, model, "instantiationBegin(Q, 1, P)", "Q(int a) = P"},
        {onModel, model, "instantiationEnd(Q, 1, P, 1)", "Q(int a) = P(a);"},
        {onModel, model, "process(Q)", "Q"},
        {onModel, model, "incProcPriority()", "<"},
        {onModel, model, "declProgress(true)", "x : y"},
        {onModel, model, "declProgress(false)", "z"},
        {onModel, model, "ganttDeclStart(G)", "G"},
        {onModel, model, "ganttDeclSelect(i)", "i : bool"},
        {onModel, model, "ganttEntrySelect(j)", "j : bool"},
        {onModel, model, "ganttEntryEnd()", "a -> b"},
        {onModel, model, "ganttDeclEnd()", "G(i : bool) : a -> b, for (j : bool) c -> d"},
        {onTemplate, templ, "procBegin(T, true, , )", "process T() {"},
        {onTemplate, templ, "procEdgeBegin(a, b, true, )", "a -> b"},
        {onTemplate, templ, "procSelect(i)", "i : bool"},
        {onTemplate, templ, "procGuard()", "x"},
        {onTemplate, templ, "procSync(1)", "c!"},
        {onTemplate, templ, "procUpdate()", "y = 1"},
        {onTemplate, templ, "procEdgeEnd(a, b)", "a -> b { select i : bool; guard x; sync c!;"},
        {onTemplate, templ, "procEdgeBegin(a, a, true, )", "-> a"},
        {onTemplate, templ, "procEdgeEnd(a, a)", "-> a {"},
        {onTemplate, templ, "procProb()", "->"},
        {onTemplate, templ, "procEnd()", templ.substr(body, bodyEnd - body)},
        {onTemplate, templ, "declFuncBegin(f)", "int f"},
        {onTemplate, templ, "declFuncEnd()", "}"},
        {onTemplate, templ, "exprUnary(LOGICAL_NOT)", "x"},
        {onTemplate, templ, "exprBinary(LOGICAL_OR)", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.call);
        EXPECT_EQ(coveredText(c.parsed, c.text, c.call), c.covers);
    }
}

} // namespace

namespace {

// Errors of a model read into a system come out at the line and column of their
// lexeme, also after a comment and a blank line that span several lines.
TEST(ParserModels, ErrorsAreReportedAtTheirLineAndColumn)
{
    mirvek_test::Fixture f;
    ZOLT::runParserOnModelText("int x;\n/* c\n */ int y =\n   );\nsystem P;", &f.builder, true);
    std::vector<std::string> shown;
    for (const auto& d : f.system.getErrors()) {
        std::ostringstream text;
        text << d;
        shown.push_back(text.str());
    }
    EXPECT_EQ(shown, (std::vector<std::string>{"$syntax_error: $unexpected ')' at line 4 column 3 to line 4 column 4",
                                               "$No_such_process: P at line 5 column 7 to line 5 column 8"}));
}

} // namespace
