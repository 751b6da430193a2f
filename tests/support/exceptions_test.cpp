#include "support/exceptions.h"

#include <boost/format.hpp>
#include <cstring>
#include <gtest/gtest.h>
#include <string>

namespace {

TEST(Exceptions, PrintfStyleMessagesAreFormattedAndCutAt255)
{
    const std::string longText(300, 'x');
    struct Case
    {
        const char* name;
        std::string what;
        std::string expected;
    };
    const Case cases[] = {
        {"system", SystemException("Location %s.%s has unbounded delay but no positive rate.", "P", "L").what(),
         "Location P.L has unbounded delay but no positive rate."},
        {"runtime double", RuntimeException("Invalid theta+delta = %g", 1.5).what(), "Invalid theta+delta = 1.5"},
        {"runtime ints", RuntimeException("[%s.%s:%s] Clock rate(%d) must be 0 or 1.", "P", "L", "x", 2).what(),
         "[P.L:x] Clock rate(2) must be 0 or 1."},
        {"options key", InvalidOptionsException("$Bad_option").what(), "$Bad_option"},
        {"long text", RuntimeException("%s", longText.c_str()).what(), std::string(255, 'x')},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.what, c.expected) << c.name;
    }
}

TEST(Exceptions, SuccessorExceptionOwnsCopiesOfItsTexts)
{
    char* state = strdup("P.idle x<=3");
    char* name = strdup("go");
    SuccessorException original(state, name, "$Combinatorial_explosion_caused_overflow");
    std::memset(state, '#', std::strlen(state));
    std::free(state);
    std::free(name);

    EXPECT_STREQ(original.getState(), "P.idle x<=3");
    EXPECT_STREQ(original.getName(), "go");
    EXPECT_STREQ(original.what(), "$Combinatorial_explosion_caused_overflow");

    // Thrown and caught through its base classes, the copies stay valid and separate.
    try {
        SuccessorException copy(original);
        throw copy;
    } catch (const RuntimeException& e) {
        const auto& caught = dynamic_cast<const SuccessorException&>(e);
        EXPECT_STREQ(caught.getState(), "P.idle x<=3");
        EXPECT_STREQ(caught.getName(), "go");
        EXPECT_NE(caught.getState(), original.getState());
    }

    SuccessorException assigned("a", "b", "c");
    assigned = original;
    assigned = assigned;
    EXPECT_STREQ(assigned.getState(), "P.idle x<=3");
    EXPECT_STREQ(assigned.what(), "$Combinatorial_explosion_caused_overflow");
}

TEST(Exceptions, SuccessorMessageIsNotAFormat)
{
    // A '%' in the message must not be read as a directive with missing arguments.
    SuccessorException e("s", "n", "100% of %s");
    EXPECT_STREQ(e.what(), "100% of %s");
    SuccessorException missing(nullptr, nullptr, nullptr);
    EXPECT_STREQ(missing.getState(), "");
    EXPECT_STREQ(missing.what(), "");
}

TEST(Exceptions, BugCarriesItsText)
{
    EXPECT_STREQ(Bug("Unreachable").what(), "Unreachable");
    EXPECT_STREQ(Bug(std::string("Order not supported")).what(), "Order not supported");
    EXPECT_STREQ(Bug(boost::format("opcode %1% out of range") % 77).what(), "opcode 77 out of range");
    try {
        throw Bug("x");
    } catch (const std::logic_error& e) {
        EXPECT_STREQ(e.what(), "x");
    }
}

}  // namespace
