#include "support/arith.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <limits>

namespace {

constexpr int32_t MAX = std::numeric_limits<int32_t>::max();
constexpr int32_t MIN = std::numeric_limits<int32_t>::min();

TEST(WrapArithmetic, WrapsAroundLikeTwosComplement)
{
    struct Case
    {
        const char* name;
        int32_t got;
        int32_t expected;
    };
    const Case cases[] = {
        {"add overflow", base::addWrap(MAX, 1), MIN},
        {"add plain", base::addWrap(-7, 3), -4},
        {"sub underflow", base::subWrap(MIN, 1), MAX},
        {"mul overflow", base::mulWrap(65536, 65536), 0},
        {"mul negative", base::mulWrap(MAX, 2), -2},
        {"mul min by -1", base::mulWrap(MIN, -1), MIN},
        {"negate min", base::negWrap(MIN), MIN},
        {"negate", base::negWrap(5), -5},
        {"shl into sign", base::shlWrap(1, 31), MIN},
        {"shl count mod 32", base::shlWrap(1, 33), 2},
        {"shl negative count", base::shlWrap(1, -1), MIN},
        {"shl negative value", base::shlWrap(-1, 4), -16},
        {"shr arithmetic", base::shrWrap(-16, 2), -4},
        {"shr min by 31", base::shrWrap(MIN, 31), -1},
        {"shr count mod 32", base::shrWrap(64, 34), 16},
        {"shr by 0", base::shrWrap(-5, 32), -5},
        {"shr positive", base::shrWrap(MAX, 30), 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.got, c.expected) << c.name;
    }
}

}  // namespace
