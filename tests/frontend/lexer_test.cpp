// Scanner behaviour, observed through the builder calls and errors of small parses.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "frontend/parse_context.h"
#include "parse_helpers.h"

namespace {

using namespace mirvek_test;
using ZOLT::PART_DECLARATIONS;
using ZOLT::PART_EXPRESSION;

enum Syntax { New, Old, Query };

Parsed run(const std::string& text, Syntax syntax, int part = PART_EXPRESSION)
{
    return syntax == Query ? parseQueries(text) : parsePart(text, part, syntax == New);
}

TEST(Lexer, Tokens)
{
    struct Case
    {
        const char* name;
        std::string text;
        Syntax syntax;
        int part;
        const char* calls;
    };
    const Case cases[] = {
        // Path quantifiers are single lexemes only without blanks.
        {"A[] is one token", "A[]x", Query, 0, "exprId(x); exprUnary(ALWAYS_GLOBALLY); property()"},
        {"A [ ] is three", "A [ ] x", Query, 0, "error($syntax_error: $unexpected ']')"},
        {"A alone is a name", "A [ 1 ]", New, PART_EXPRESSION, "exprId(A); exprNar(1); exprArray()"},
        {"Ax is one identifier", "Ax", New, PART_EXPRESSION, "exprId(Ax)"},
        {"E<>+ has no rule", "E<>+ x", Query, 0, "error($syntax_error: $unexpected T_EF_PLUS, $expecting $end)"},
        {"MITL and has no rule", "a /\\ b", New, PART_EXPRESSION,
         "exprId(a); error($syntax_error: $unexpected T_MITL_AND, $expecting $end)"},
        // Keywords by syntax.
        {"deadlock in a model", "deadlock", New, PART_EXPRESSION, "exprId(deadlock)"},
        {"deadlock in a query", "E<> deadlock", Query, 0, "exprDeadlock(); exprUnary(EXISTS_EVENTUALLY); property()"},
        {"sup in a model", "sup + inf", New, PART_EXPRESSION, "exprId(sup); exprId(inf); exprBinary(ADD)"},
        {"X in a model", "X", New, PART_EXPRESSION, "exprId(X)"},
        {"xor in the new syntax", "a xor b", New, PART_EXPRESSION, "exprId(a); exprId(b); exprBinary(LOGICAL_XOR)"},
        {"xor in the old syntax", "a xor b", Old, PART_EXPRESSION,
         "exprId(a); error($syntax_error: $unexpected T_ID, $expecting $end)"},
        {"select is a name in the old syntax", "select", Old, PART_EXPRESSION, "exprId(select)"},
        {"select is a keyword in the new syntax", "select", New, PART_EXPRESSION,
         "error($syntax_error: $unexpected T_SELECT)"},
        {"control is a name everywhere", "control + simulation", Query, 0,
         "exprId(control); exprId(simulation); exprBinary(ADD); error($syntax_error: $unexpected $end)"},
        {"control_t is a name", "control_t", Old, PART_EXPRESSION, "exprId(control_t)"},
        {"break is a name", "break", New, PART_EXPRESSION, "exprId(break)"},
        // const and the older constant keyword.
        {"const in the new syntax", "const int N = 2;", New, PART_DECLARATIONS,
         "typeInt(1); typeDuplicate(); exprNar(2); declVar(N, true); typePop()"},
        {"const in the old syntax", "const N = 2, M[2] = {1, 2};", Old, PART_DECLARATIONS,
         "typeInt(1); typeDuplicate(); exprNar(2); declVar(N, true); typeDuplicate(); exprNar(2); "
         "typeArrayOfSize(0); exprNar(1); declFieldInit(); exprNar(2); declFieldInit(); declInitialieserList(2); "
         "declVar(M, true); typePop()"},
        // The older constants also take their value without "=".
        {"const in the old syntax without =", "const N 2, M[2] {1, 2};", Old, PART_DECLARATIONS,
         "typeInt(1); typeDuplicate(); exprNar(2); declVar(N, true); typeDuplicate(); exprNar(2); "
         "typeArrayOfSize(0); exprNar(1); declFieldInit(); exprNar(2); declFieldInit(); declInitialieserList(2); "
         "declVar(M, true); typePop()"},
        {"=< in the old syntax", "a =< b", Old, PART_EXPRESSION, "exprId(a); exprId(b); exprBinary(LESS_EQUAL)"},
        {"=> in the old syntax", "a => b", Old, PART_EXPRESSION, "exprId(a); exprId(b); exprBinary(GREATER_EQUAL)"},
        {"=< in the new syntax", "a =< b", New, PART_EXPRESSION,
         "exprId(a); error($Unknown_symbol); error($syntax_error: $unexpected T_ERROR, $expecting $end)"},
        // Numbers.
        {"largest int", "2147483647", New, PART_EXPRESSION, "exprNar(2147483647)"},
        {"smallest int", "-2147483648", New, PART_EXPRESSION, "exprNar(-2147483648)"},
        {"smallest int with a blank", "- 2147483648", New, PART_EXPRESSION, "exprNar(-2147483648)"},
        {"2147483648 alone", "2147483648", New, PART_EXPRESSION,
         "error($syntax_error: $unexpected T_POS_NEG_MAX)"},
        {"2147483648 after binary minus", "1-2147483648", New, PART_EXPRESSION,
         "exprNar(1); error($syntax_error: $unexpected T_POS_NEG_MAX)"},
        {"overflow", "2147483649", New, PART_EXPRESSION,
         "error($Overflow); error($syntax_error: $unexpected T_ERROR)"},
        {"very long number", "99999999999999999999999", New, PART_EXPRESSION,
         "error($Overflow); error($syntax_error: $unexpected T_ERROR)"},
        {"zeros", "000", New, PART_EXPRESSION, "exprNar(0)"},
        {"not octal", "007", New, PART_EXPRESSION, "exprNar(7)"},
        {"leading zeros before the limit", "002147483648", New, PART_EXPRESSION,
         "error($syntax_error: $unexpected T_POS_NEG_MAX)"},
        {"floating", "1.5e3 + 2E-1", New, PART_EXPRESSION, "exprDouble(1500); exprDouble(0.2); exprBinary(ADD)"},
        {"1. is 1 and a dot", "1.", New, PART_EXPRESSION, "exprNar(1); error($syntax_error: $unexpected $end)"},
        // Characters outside the language.
        {"double quote", "\"x\"", New, PART_EXPRESSION,
         "error($Unknown_symbol); error($syntax_error: $unexpected T_ERROR)"},
        {"dollar", "$x", New, PART_EXPRESSION, "error($Unknown_symbol); error($syntax_error: $unexpected T_ERROR)"},
        {"lone carriage return", "a\rb", New, PART_EXPRESSION,
         "exprId(a); error($Unknown_symbol); error($syntax_error: $unexpected T_ERROR, $expecting $end)"},
        {"identifier characters", "_a$#1", New, PART_EXPRESSION, "exprId(_a$#1)"},
        // Comments.
        {"comments", "a /* b \n c */ + // d\n e", New, PART_EXPRESSION, "exprId(a); exprId(e); exprBinary(ADD)"},
        {"unclosed comment", "a /* b", New, PART_EXPRESSION, "exprId(a); error($Comment_not_closed)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(run(c.text, c.syntax, c.part).calls, c.calls);
    }
}

TEST(Lexer, LongIdentifierIsReportedAndCut)
{
    const std::string name(4001, 'a');
    auto p = parsePart(name, PART_EXPRESSION);
    EXPECT_EQ(p.result, 0);
    EXPECT_EQ(p.calls, "error($Identifier_is_too_long._Limit_length_is_4000.); exprId(" + name.substr(0, 4000) + ")");

    auto fits = parsePart(std::string(4000, 'b'), PART_EXPRESSION);
    EXPECT_EQ(fits.calls, "exprId(" + std::string(4000, 'b') + ")");
}

TEST(Lexer, TypeNamesComeFromTheBuilder)
{
    RecordingBuilder builder;
    builder.typeNames.insert("T");
    auto p = parsePart("T x; typedef int Num; Num y;", PART_DECLARATIONS, true, std::move(builder));
    EXPECT_EQ(p.calls, "typeName(0, T); typeDuplicate(); declVar(x, false); typePop(); "
                       "typeInt(0); typeDuplicate(); declTypeDef(Num); typePop(); "
                       "typeName(0, Num); typeDuplicate(); declVar(y, false); typePop()");
}

TEST(Lexer, QueryLineEnds)
{
    struct Case
    {
        const char* name;
        std::string text;
        const char* calls;
    };
    const Case cases[] = {
        {"blank lines", "A[] x\n\n\nE<> y\n",
         "exprId(x); exprUnary(ALWAYS_GLOBALLY); property(); exprId(y); exprUnary(EXISTS_EVENTUALLY); property()"},
        {"CRLF line ends", "A[] x\r\n\r\nE<> y",
         "exprId(x); exprUnary(ALWAYS_GLOBALLY); property(); exprId(y); exprUnary(EXISTS_EVENTUALLY); property()"},
        {"line joining", "A[] x \\  \n && y",
         "exprId(x); exprId(y); exprBinary(LOGICAL_AND); exprUnary(ALWAYS_GLOBALLY); property()"},
        {"no joining before CRLF", "A[] x \\\r\n",
         "exprId(x); exprUnary(ALWAYS_GLOBALLY); property(); error($syntax_error: $unexpected '\\\\', $expecting $end)"},
        {"line end inside a block comment", "A[] x /* \n */ && y",
         "exprId(x); exprId(y); exprBinary(LOGICAL_AND); exprUnary(ALWAYS_GLOBALLY); property()"},
        {"line end after a line comment", "A[] x // c\nE<> y",
         "exprId(x); exprUnary(ALWAYS_GLOBALLY); property(); exprId(y); exprUnary(EXISTS_EVENTUALLY); property()"},
        {"line comment on a CRLF line", "A[] x // c\r\nE<> y",
         "exprId(x); exprUnary(ALWAYS_GLOBALLY); property(); exprId(y); exprUnary(EXISTS_EVENTUALLY); property()"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(parseQueries(c.text).calls, c.calls);
    }
}

TEST(Lexer, PositionsMapToTextLineAndColumn)
{
    // Two texts in a row: spans are global and disjoint; each text gets one
    // position entry at its start and one per run of line ends.
    RecordingBuilder first;
    ASSERT_EQ(ZOLT::runParserOnText("ab +\n\n  cd", &first, true, PART_EXPRESSION, "/nta/declaration"), 0);
    ASSERT_EQ(first.positions.size(), 2u);
    const uint32_t base = first.positions[0].position;
    EXPECT_EQ(first.positions[0].offset, 0);
    EXPECT_EQ(first.positions[0].line, 1);
    EXPECT_EQ(first.positions[0].path, "/nta/declaration");
    EXPECT_EQ(first.positions[1].position, base + 6);
    EXPECT_EQ(first.positions[1].offset, 6);
    EXPECT_EQ(first.positions[1].line, 3);
    ASSERT_EQ(first.calls.size(), 3u);
    EXPECT_EQ(first.spans[0], ZOLT::span_t(base, base + 2));         // ab
    EXPECT_EQ(first.spans[1], ZOLT::span_t(base + 8, base + 10));    // cd
    EXPECT_EQ(first.spans[2], ZOLT::span_t(base, base + 10));        // ab + cd

    RecordingBuilder second;
    ASSERT_EQ(ZOLT::runParserOnText("x", &second, true, PART_EXPRESSION, "p"), 0);
    ASSERT_EQ(second.positions.size(), 1u);
    EXPECT_EQ(second.positions[0].position, base + 11);
    EXPECT_EQ(second.spans[0], ZOLT::span_t(base + 11, base + 12));

    // A line continuation and a comment count their line ends too.
    RecordingBuilder third;
    ASSERT_EQ(ZOLT::runParserOnText("a \\\n/*\n\n*/ + b", &third, true, PART_EXPRESSION, ""), 0);
    ASSERT_EQ(third.positions.size(), 4u);
    EXPECT_EQ(third.positions[1].line, 2);
    EXPECT_EQ(third.positions[2].line, 3);
    EXPECT_EQ(third.positions[3].line, 4);
    EXPECT_EQ(third.positions[3].offset, 8);
}

TEST(Lexer, UnclosedCommentDoesNotLeakIntoTheNextParse)
{
    auto p = parsePart("a /* b\nc", PART_EXPRESSION);
    EXPECT_EQ(p.calls, "exprId(a); error($Comment_not_closed)");
    // The error is at the last lexeme inside the comment ("c").
    EXPECT_EQ(p.builder.spans[1].end - p.builder.spans[1].start, 1);
    EXPECT_EQ(parsePart("x", PART_EXPRESSION).calls, "exprId(x)");
}

// Each word scans as a name exactly in the syntaxes where it is no keyword. A word
// read as a name gives exprId; a keyword gives something else.
TEST(Lexer, KeywordsBySyntax)
{
    struct Group
    {
        const char* name;
        std::vector<std::string> words;
        bool keywordInNew, keywordInOld, keywordInQueries;
    };
    const Group groups[] = {
        // "sup" and "inf" are query keywords that the grammar also takes as names.
        {"query words", {"deadlock", "Pr", "sat", "simulate", "foreach", "numOf", "X"}, false, false,
         true},
        {"new model syntax only",
         {"select", "for", "while", "if", "return", "typedef", "struct", "meta", "dynamic", "spawn", "exit", "gantt",
          "progress", "IO", "before_update", "after_update", "default", "hybrid", "xor", "else", "do", "assert"},
         true, false, false},
        {"model words", {"process", "state", "commit", "init", "trans", "guard", "sync", "assign", "branch",
                         "urgent", "broadcast", "chan", "clock", "bool", "double", "void", "const", "priority"},
         true, true, false},
        {"everywhere", {"int", "true", "false", "not", "and", "or", "imply", "system", "scalar"}, true, true, true},
        {"model and queries", {"forall", "exists", "sum", "cos", "sqrt", "random", "pow", "ln", "log"}, true, false,
         true},
        {"never", {"control", "simulation", "refinement", "consistency", "speci" "fication", "implementation",
                   "control_t", "break", "continue", "switch", "case"},
         false, false, false},
    };
    for (const Group& g : groups) {
        for (const std::string& w : g.words) {
            SCOPED_TRACE(std::string(g.name) + ": " + w);
            const std::string name = "exprId(" + w + ")";
            EXPECT_EQ(parsePart(w, PART_EXPRESSION, true).calls != name, g.keywordInNew);
            EXPECT_EQ(parsePart(w, PART_EXPRESSION, false).calls != name, g.keywordInOld);
            EXPECT_EQ(parseQueries("E<> " + w).calls != name + "; exprUnary(EXISTS_EVENTUALLY); property()",
                      g.keywordInQueries);
        }
    }
}

TEST(Lexer, KeywordQuery)
{
    EXPECT_TRUE(ZOLT::isKeyword("int", 5));
    EXPECT_TRUE(ZOLT::isKeyword("deadlock", 5));
    EXPECT_TRUE(ZOLT::isKeyword("control", 5));   // the never-reported bit is not consulted here
    EXPECT_FALSE(ZOLT::isKeyword("select", 5));   // new syntax only
    EXPECT_TRUE(ZOLT::isKeyword("select", 2));
    EXPECT_FALSE(ZOLT::isKeyword("break", 7));
    EXPECT_FALSE(ZOLT::isKeyword("Int", 7));
}

} // namespace

namespace {

using namespace mirvek_test;

// Failures of the scanner itself end the parse with their own texts, named
// after this scanner's entry points, and leave the next parse unharmed.
TEST(Lexer, ScannerFailures)
{
    FILE* writeOnly = std::fopen("/dev/null", "w");
    ASSERT_NE(writeOnly, nullptr);
    RecordingBuilder builder;
    try {
        ZOLT::runParserOnFile(writeOnly, &builder, true);
        ADD_FAILURE() << "a file that cannot be read was parsed";
    } catch (const ZOLT::TypeException& e) {
        EXPECT_STREQ(e.what(), "input in flex scanner failed");
    }
    std::fclose(writeOnly);
    EXPECT_EQ(parsePart("x", ZOLT::PART_EXPRESSION).calls, "exprId(x)");

    const std::pair<const char*, const char*> renamed[] = {
        {"out of dynamic memory in yyensure_buffer_stack()", "out of dynamic memory in zolt_ensure_buffer_stack()"},
        {"out of dynamic memory in yy_create_buffer()", "out of dynamic memory in zolt__create_buffer()"},
        {"out of dynamic memory in yy_scan_buffer()", "out of dynamic memory in zolt__scan_buffer()"},
        {"out of dynamic memory in yy_scan_bytes()", "out of dynamic memory in zolt__scan_bytes()"},
        {"bad buffer in yy_scan_bytes()", "bad buffer in zolt__scan_bytes()"},
        {"out of dynamic memory in yy_get_next_buffer()", "out of dynamic memory in yy_get_next_buffer()"},
        {"flex scanner jammed", "flex scanner jammed"},
    };
    for (const auto& [generated, reported] : renamed)
        EXPECT_STREQ(ZOLT::detail::scannerFailureMessage(generated), reported);
}

} // namespace
