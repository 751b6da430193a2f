// Deep expressions and type chains: refused with a positioned error where they are
// built, never walked into a stack overflow; trees within the limit, and lists of any
// length, read, check and save as any other.

#include <cstdio>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "frontend/parser.h"
#include "frontend/xml_writer.h"
#include "language/nesting.h"
#include "language/system.h"
#include "typecheck/checked_reading.h"
#include "typecheck/type_checker.h"

#include "../testkit/small_stack.h"

namespace tc_test {
namespace {

using namespace ZOLT;

std::string repeat(const std::string& item, const std::string& separator, size_t n)
{
    std::string text;
    text.reserve(n * (item.size() + separator.size()));
    for (size_t i = 0; i < n; ++i)
        text += (i == 0 ? "" : separator) + item;
    return text;
}

std::string guardModel(size_t conjuncts)
{
    return "int v; clock x;\n"
           "process P() { state A; init A; trans A -> A { guard "
           + repeat("x > v", " && ", conjuncts) + "; }; }\nsystem P;\n";
}

std::string sumModel(size_t terms)
{
    return "const int v = " + repeat("1", "+", terms) + ";\nint w[v];\n"
           "process P() { state A; init A; }\nsystem P;\n";
}

// typedef int[0,3] t0; typedef t0 t1; ... and a variable of the last one.
std::string typedefChain(size_t n)
{
    std::string text = "typedef int[0,3] t0;\n";
    for (size_t i = 1; i < n; ++i)
        text += "typedef t" + std::to_string(i - 1) + " t" + std::to_string(i) + ";\n";
    return text + "t" + std::to_string(n - 1) + " v;\nprocess P() { state A; init A; }\nsystem P;\n";
}

struct Finding
{
    int32_t line;
    std::string message;
    bool operator==(const Finding&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Finding& f) { return os << f.line << ": " << f.message; }

std::vector<Finding> readText(const std::string& text)
{
    TimedAutomataSystem system;
    resetParserState();
    readCheckedTextModelBuffer(text.c_str(), &system, true);
    std::vector<Finding> found;
    for (const diagnostic_t& d : system.getErrors())
        found.push_back({d.start.line, d.message});
    return found;
}

TEST(Nesting, TooDeepExpressionsAreRefusedWhereTheyAreWritten)
{
    const std::string tooDeep = expressionTooDeepMessage;
    // Chains of an operator that is no list nest one level per operand: one error each, at
    // the line of the expression, whatever its length, also as an operand of a long list.
    EXPECT_EQ(readText(sumModel(70000)), (std::vector<Finding>{{1, tooDeep}}));
    EXPECT_EQ(readText(sumModel(maxNestingDepth + 1)), (std::vector<Finding>{{1, tooDeep}}));
    EXPECT_EQ(readText("int v;\nprocess P() { state A; init A; trans A -> A { guard " + repeat("v > 0", " && ", 5000) +
                       " && " + repeat("v", " + ", 1500) + " > 0; }; }\nsystem P;\n"),
              (std::vector<Finding>{{2, tooDeep}}));
    // Postfix chains grow the same way.
    EXPECT_EQ(readText("int a[2];\nint b = a" + repeat("[0]", "", 5000) + ";\nsystem ;\n")[0],
              (Finding{2, tooDeep}));
    // Each construct is refused once; the next one is judged afresh.
    EXPECT_EQ(readText("int a = " + repeat("1", "+", 5000) + ";\nint b = " + repeat("1", "+", 5000)
                       + ";\nprocess P() { state A; init A; }\nsystem P;\n"),
              (std::vector<Finding>{{1, tooDeep}, {2, tooDeep}}));
    // Brackets, calls, prefix operators, and lists nested in brackets on the right, fill the
    // parser's stack long before the limit: refused where they are written, never a crash.
    const std::vector<std::string> bracketed = {
        std::string(1500, '(') + "v" + std::string(1500, ')') + " > 0",
        repeat("f(", "", 1500) + "v" + std::string(1500, ')') + " > 0",
        std::string(1500, '!') + "(v > 0)",
        std::string(1500, '-') + "v > 0",
        "v > 0" + repeat(" && (v > 0", "", 1500) + std::string(1500, ')'),
    };
    for (const std::string& guard : bracketed) {
        EXPECT_EQ(readText("int v;\nint f(int x) { return x; }\nprocess P() { state A; init A; trans A -> A { guard " +
                           guard + "; }; }\nsystem P;\n"),
                  (std::vector<Finding>{{3, "$memory_exhausted"}}))
            << guard.substr(0, 20);
    }
}

// Lists are not nesting: a guard of long chains of && and ||, an update of as many
// assignments, an invariant of as many bounds and the lists of a function body are read and
// checked without an error, in both syntaxes and from XML, and saved and read back to the
// same text, on a stack on which one level of recursion per operand would overflow.
TEST(Nesting, LongListsAreReadCheckedAndSavedInEverySyntax)
{
    const size_t n = 12000;
    const std::string guard = repeat("x >= 1 && v < 5", " && ", n / 2) + " && (" + repeat("v == 1", " || ", n) + ")";
    const std::string update = repeat("v = 1, w[1] = 2, x = 0", ", ", n / 3);
    const std::string invariant = repeat("x <= 10", " && ", n);
    const std::string newModel =
        "int v; int w[2]; clock x;\n"
        "void f() { if (" + update + ", v > 0) { v = 0; } while (" + update + ", v < 0) { } "
        "for (" + update + "; v < 0; " + update + ") { } }\n"
        "process P() { state A { " + invariant + " }, B; init A; trans A -> B { guard " + guard + "; assign " + update +
        ", f(); }; }\nsystem P;\n";
    const std::string oldModel = "int v; int w[2]; clock x;\n"
                                 "process P { state A { " + repeat("x <= 10", ", ", n) + " }, B; init A; "
                                 "trans A -> B { guard " + repeat("x >= 1, v < 5", ", ", n / 2) + "; assign " +
                                 repeat("v := 1, w[1] := 2, x := 0", ", ", n / 3) + "; }; }\nsystem P;\n";
    struct Case
    {
        const char* name;
        const std::string& text;
        bool newSyntax;
    };
    for (const Case& c : {Case{"new syntax", newModel, true}, Case{"old syntax", oldModel, false}}) {
        SCOPED_TRACE(c.name);
        testkit::onSmallStack([&] {
            TimedAutomataSystem system;
            resetParserState();
            EXPECT_TRUE(readCheckedTextModelBuffer(c.text.c_str(), &system, c.newSyntax));
            ASSERT_FALSE(system.errorsPresent()) << system.getErrors()[0].message;
            const edge_t& edge = system.getTemplates().front().edges.front();
            if (c.newSyntax) {
                EXPECT_EQ(edge.guard.toString(), guard);
                EXPECT_EQ(edge.update.toString(), update + ", f()");
            } else {
                EXPECT_EQ(edge.guard.toString(), repeat("x >= 1 && v < 5", " && ", n / 2));
                EXPECT_EQ(edge.update.toString(true), repeat("v := 1, w[1] := 2, x := 0", ", ", n / 3));
            }

            char name[] = "/tmp/mirvek_lists_XXXXXX.xml";
            int fd = mkstemps(name, 4);
            ASSERT_GE(fd, 0);
            close(fd);
            writeSystemXml(name, system);
            TimedAutomataSystem reread;
            resetParserState();
            readCheckedXmlModelFile(name, &reread, true, nullptr);
            unlink(name);
            ASSERT_FALSE(reread.errorsPresent()) << reread.getErrors()[0].message;
            const edge_t& back = reread.getTemplates().front().edges.front();
            EXPECT_EQ(back.guard.toString(), edge.guard.toString());
            EXPECT_EQ(back.update.toString(), edge.update.toString());
            EXPECT_EQ(reread.getTemplates().front().locations.front().invariant.toString(),
                      system.getTemplates().front().locations.front().invariant.toString());
        });
    }
}

TEST(Nesting, TooDeepTypeChainsAreRefusedAtTheTypedefThatReachesTheLimit)
{
    const std::vector<Finding> found = readText(typedefChain(40000));
    ASSERT_FALSE(found.empty());
    // t0 is a range (two levels), each typedef adds a label: the first refusal is at the
    // typedef whose type passes the limit.
    EXPECT_EQ(found.front(), (Finding{static_cast<int32_t>(maxNestingDepth), typeTooDeepMessage}));
    for (const Finding& f : found)
        EXPECT_EQ(f.message, typeTooDeepMessage);
}

TEST(Nesting, TreesWithinTheLimitAreCheckedAndSavedAsUsual)
{
    const size_t n = maxNestingDepth - 10;
    for (const std::string& text : {guardModel(n), sumModel(n), typedefChain(n - 10)}) {
        TimedAutomataSystem system;
        resetParserState();
        EXPECT_TRUE(readCheckedTextModelBuffer(text.c_str(), &system, true));
        char name[] = "/tmp/mirvek_nesting_XXXXXX.xml";
        int fd = mkstemps(name, 4);
        ASSERT_GE(fd, 0);
        close(fd);
        writeSystemXml(name, system);
        TimedAutomataSystem reread;
        resetParserState();
        readCheckedXmlModelFile(name, &reread, true, nullptr);
        unlink(name);
        EXPECT_FALSE(reread.errorsPresent());
    }
}

// A tree made outside the front end that is too deep is refused by the typing walk
// with an error at its position, not walked.
TEST(Nesting, TheTypingWalkRefusesTooDeepTreesMadeElsewhere)
{
    TimedAutomataSystem system;
    expression_t chain = expression_t::createConstant(1);
    for (uint32_t i = 0; i < 4 * maxNestingDepth; ++i)
        chain = expression_t::createBinary(ADD, chain, expression_t::createConstant(1), span_t(7, 9));
    EXPECT_EQ(chain.getDepth(), 4 * maxNestingDepth + 1);
    EXPECT_TRUE(exceedsNestingDepth(chain));
    TypeChecker checker(system);
    EXPECT_FALSE(checker.annotateExpressionType(chain));
    ASSERT_EQ(system.getErrors().size(), 1u);
    EXPECT_EQ(system.getErrors()[0].message, expressionTooDeepMessage);
    EXPECT_TRUE(chain.getType().isUnknown());
}

} // namespace
} // namespace tc_test
