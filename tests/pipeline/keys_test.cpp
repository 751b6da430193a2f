#include "pipeline/keys.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(PropertyKeys, AStopRequestIsTheKeyItselfNotItsTextOrValue)
{
    const std::string sameText = std::string("verifier:") + "STOP";
    ASSERT_STREQ(sameText.c_str(), PROPERTY_STOP);

    pipeline::StopRequest stop;
    EXPECT_FALSE(stop.accept(sameText.c_str()));
    EXPECT_FALSE(stop.accept(PROPERTY_SILENT));
    EXPECT_FALSE(stop.isRequested());

    EXPECT_TRUE(stop.accept(PROPERTY_STOP));
    EXPECT_TRUE(stop.isRequested());
    stop.clear();
    EXPECT_FALSE(stop.isRequested());
}

int answer(const SymbolicState*)
{
    return 42;
}

TEST(PropertyKeys, StateFunctionsTravelAsUntypedValues)
{
    void* value = pipeline::stateFunctionValue(answer);
    EXPECT_EQ(pipeline::toStateFunction(value)(nullptr), 42);
}

}  // namespace
