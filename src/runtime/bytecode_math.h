#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

#include "support/arith.h"

// The arithmetic of the byte-code instructions, shared by the interpreter and by the constant
// folding of the emitter so that a folded constant is exactly what running the code gives.
namespace bytecode::math {

// Quotient truncated toward zero; the divisor is not 0. The smallest integer divided by -1 wraps
// around to itself instead of trapping.
inline int32_t divide(int32_t a, int32_t b)
{
    return b == -1 ? base::negWrap(a) : a / b;
}

// Remainder with the sign of the dividend; the divisor is not 0. Anything modulo -1 is 0 (also
// the smallest integer, whose quotient does not fit).
inline int32_t remainder(int32_t a, int32_t b)
{
    return b == -1 ? 0 : a % b;
}

inline int32_t minimum(int32_t a, int32_t b)
{
    return a <= b ? a : b;
}

inline int32_t maximum(int32_t a, int32_t b)
{
    return a >= b ? a : b;
}

// x to the power n by repeated squaring over the magnitude of n, which is taken in 64 bits so
// that the smallest integer has one too; a negative n inverts the result.
inline double integerPower(double x, int32_t n)
{
    uint64_t magnitude = n < 0 ? -static_cast<int64_t>(n) : static_cast<int64_t>(n);
    double result = 1.0;
    double square = x;
    while (magnitude != 0) {
        if ((magnitude & 1u) != 0) {
            result *= square;
        }
        magnitude >>= 1;
        if (magnitude != 0) {
            square *= square;
        }
    }
    return n < 0 ? 1.0 / result : result;
}

// Minimum and maximum of doubles; a NaN is unordered, so both give the first operand then.
inline double doubleMinimum(double x, double y)
{
    return x > y ? y : x;
}

inline double doubleMaximum(double x, double y)
{
    return y > x ? y : x;
}

// Smallest divisor magnitude a double division accepts: anything within 2^-52 of zero counts as
// a division by zero.
inline constexpr double DIVISION_EPSILON = 2.220446049250313e-16;

// ln 10, the divisor of the run-time decimal logarithm.
inline constexpr double LN_10 = 2.302585092994046;

// The base is negative and the exponent not integral: pow has no real result.
inline bool badPower(double x, double y)
{
    return x < 0.0 && std::trunc(y) != y;
}

// True and the value when x is integral and within the 32-bit range; false otherwise (a NaN, an
// infinity, a fraction or a value out of range never reaches an undefined conversion).
inline bool exactInt32(double x, int32_t& out)
{
    if (!(x >= -2147483648.0 && x <= 2147483647.0)) {
        return false;
    }
    const auto value = static_cast<int32_t>(x);
    if (static_cast<double>(value) != x) {
        return false;
    }
    out = value;
    return true;
}

}  // namespace bytecode::math
