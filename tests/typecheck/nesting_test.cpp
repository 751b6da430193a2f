// Deep expressions and type chains: refused with a positioned error where they are
// built, never walked into a stack overflow; trees within the limit read, check and
// save as any other.

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
    // The chains of the reported crashes, and one just past the limit: one error each,
    // at the line of the expression, whatever its length.
    EXPECT_EQ(readText(guardModel(60000)), (std::vector<Finding>{{2, tooDeep}}));
    EXPECT_EQ(readText(sumModel(70000)), (std::vector<Finding>{{1, tooDeep}}));
    EXPECT_EQ(readText(sumModel(maxNestingDepth + 1)), (std::vector<Finding>{{1, tooDeep}}));
    // Postfix chains grow the same way.
    EXPECT_EQ(readText("int a[2];\nint b = a" + repeat("[0]", "", 5000) + ";\nsystem ;\n")[0],
              (Finding{2, tooDeep}));
    // Each construct is refused once; the next one is judged afresh.
    EXPECT_EQ(readText("int a = " + repeat("1", "+", 5000) + ";\nint b = " + repeat("1", "+", 5000)
                       + ";\nprocess P() { state A; init A; }\nsystem P;\n"),
              (std::vector<Finding>{{1, tooDeep}, {2, tooDeep}}));
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
