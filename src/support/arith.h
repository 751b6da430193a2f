#pragma once

#include <cstdint>

// 32-bit wrap-around integer arithmetic of the model language. Every operation is done on
// unsigned values, whose overflow is defined, and converted back (modular since C++20), so the
// results are the two's-complement ones and stay clean under the undefined-behaviour sanitizer.
// Shift counts are taken modulo 32.
namespace base {

constexpr int32_t addWrap(int32_t a, int32_t b)
{
    return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

constexpr int32_t subWrap(int32_t a, int32_t b)
{
    return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}

constexpr int32_t mulWrap(int32_t a, int32_t b)
{
    return static_cast<int32_t>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b));
}

constexpr int32_t negWrap(int32_t a)
{
    return static_cast<int32_t>(0u - static_cast<uint32_t>(a));
}

// a << (count mod 32).
constexpr int32_t shlWrap(int32_t a, int32_t count)
{
    return static_cast<int32_t>(static_cast<uint32_t>(a) << (static_cast<uint32_t>(count) & 31u));
}

// a >> (count mod 32), arithmetic: the sign bit is copied into the vacated bits.
constexpr int32_t shrWrap(int32_t a, int32_t count)
{
    const uint32_t n = static_cast<uint32_t>(count) & 31u;
    const uint32_t u = static_cast<uint32_t>(a);
    const uint32_t sign = (u & 0x80000000u) != 0 ? ~(~0u >> n) : 0u;
    return static_cast<int32_t>((u >> n) | sign);
}

}  // namespace base
