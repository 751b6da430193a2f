#pragma once

#include <cstdint>

namespace ZOLT {

// A source span: start and end offsets in the position space that the parser counts
// across every text it reads. A span without a source position is (0, INT32_MAX).
struct span_t
{
    int32_t start = 0;
    int32_t end = INT32_MAX;

    constexpr span_t() = default;
    constexpr span_t(int32_t s, int32_t e) : start(s), end(e) {}

    constexpr bool isAbsent() const { return start == 0 && end == INT32_MAX; }
    constexpr bool operator==(const span_t&) const = default;

    // The packed form: start in the low half, end in the high half.
    constexpr uint64_t packed() const
    {
        return static_cast<uint64_t>(static_cast<uint32_t>(start)) |
               (static_cast<uint64_t>(static_cast<uint32_t>(end)) << 32);
    }
};

} // namespace ZOLT
