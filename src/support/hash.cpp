#include "support/hash.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

namespace base {

const char SIZE[] = "base:SIZE";
const char FLAG[] = "base:FLAG";
const char EXACT_RELATION[] = "base:EXACT_RELATION";

namespace {

// Reads one 8-byte word, little-endian whatever the byte order of the machine and whatever the
// alignment of the buffer.
uint64_t readWord(const unsigned char* bytes)
{
    uint64_t value;
    std::memcpy(&value, bytes, sizeof value);
    if constexpr (std::endian::native == std::endian::big) {
        value = __builtin_bswap64(value);
    }
    return value;
}

// Reads up to 7 bytes as a little-endian integer.
uint64_t readLittleEndian(const unsigned char* bytes, std::size_t count)
{
    uint64_t value = 0;
    for (std::size_t i = count; i-- > 0;) {
        value = (value << 8) | bytes[i];
    }
    return value;
}

}  // namespace

uint64_t hash64(const void* buffer, uint64_t length, uint32_t seed)
{
    constexpr uint64_t m = 0xc6a4a7935bd1e995ULL;
    const auto* bytes = static_cast<const unsigned char*>(buffer);

    uint64_t h = seed ^ (length * m);

    const uint64_t words = length / 8;
    for (uint64_t w = 0; w < words; ++w) {
        uint64_t k = readWord(bytes + 8 * w);
        k *= m;
        k ^= k >> 47;
        k *= m;
        h = (h * m) ^ k;
    }

    const std::size_t rest = static_cast<std::size_t>(length & 7);
    if (rest != 0) {
        h = (h * m) ^ readLittleEndian(bytes + 8 * words, rest);
    }

    h ^= h >> 45;
    h *= m;
    h ^= h >> 47;
    return h;
}

uint64_t hashWide(const void* buffer, uint64_t length, uint32_t seed)
{
    constexpr uint64_t m = 0xc6a4a7935bd1e995ULL;
    const auto* bytes = static_cast<const unsigned char*>(buffer);
    const uint64_t blocks = length / 32;
    if (blocks == 0) {
        return hash64(buffer, length, seed);
    }
    uint64_t a = seed ^ (length * m), b = seed + 0x9e3779b97f4a7c15ULL, c = seed ^ 0x5851f42d4c957f2dULL,
             d = seed + 0x14057b7ef767814fULL;
    // One multiplication per word: the rotation carries the high bits of a lane back to the low
    // ones that the next product spreads upward.
    const auto mix = [](uint64_t lane, uint64_t word) { return std::rotl(lane ^ word, 29) * m; };
    for (uint64_t block = 0; block < blocks; ++block) {
        const unsigned char* p = bytes + 32 * block;
        a = mix(a, readWord(p));
        b = mix(b, readWord(p + 8));
        c = mix(c, readWord(p + 16));
        d = mix(d, readWord(p + 24));
    }
    // The lanes, and the bytes after the last block, go through hash64's chain.
    uint64_t h = a;
    for (const uint64_t lane : {b, c, d}) {
        h = (h * m) ^ (lane ^ (lane >> 47)) * m;
    }
    return hash64(bytes + 32 * blocks, length - 32 * blocks, static_cast<uint32_t>(h ^ (h >> 32)));
}

void copyWords(uint32_t* destination, const uint32_t* source, std::size_t n)
{
    if (n != 0) {
        std::memcpy(destination, source, n * sizeof(uint32_t));
    }
}

uint32_t* fillWords(uint32_t* destination, std::size_t n, uint32_t value)
{
    std::fill_n(destination, n, value);
    return destination + n;
}

uint32_t notAllEqual(const uint32_t* array, std::size_t n, uint32_t value)
{
    uint32_t differ = 0;
    for (std::size_t i = 0; i < n; ++i) {
        differ |= array[i] ^ value;
    }
    return differ;
}

bool equalWords(const uint32_t* a, const uint32_t* b, std::size_t n)
{
    if (a == b) {
        return true;
    }
    if (a == nullptr || b == nullptr) {
        return false;
    }
    return n == 0 || std::memcmp(a, b, n * sizeof(uint32_t)) == 0;
}

void sortWords(uint32_t* array, std::size_t n)
{
    if (n > 1) {
        std::sort(array, array + n);
    }
}

uint32_t indexSetBits(const uint32_t* bits, std::size_t words, uint32_t* index)
{
    uint32_t rank = 0;
    for (std::size_t w = 0; w < words; ++w) {
        for (uint32_t word = bits[w]; word != 0; word &= word - 1) {
            const unsigned bit = static_cast<unsigned>(__builtin_ctz(word));
            index[w * 32 + bit] = rank++;
        }
    }
    return rank;
}

// A step that is not positive would never move a; such a call gets the next representable
// value instead of looping for ever.
double strictlyAbove(double a, double step)
{
    if (!std::isfinite(a)) {
        return a;
    }
    if (!(step > 0)) {
        return std::nextafter(a, std::numeric_limits<double>::infinity());
    }
    double value = a + step;
    while (!(value > a)) {
        step *= 2;
        value = a + step;
    }
    return value;
}

double strictlyBelow(double a, double step)
{
    if (!std::isfinite(a)) {
        return a;
    }
    if (!(step > 0)) {
        return std::nextafter(a, -std::numeric_limits<double>::infinity());
    }
    double value = a - step;
    while (!(value < a)) {
        step *= 2;
        value = a - step;
    }
    return value;
}

}  // namespace base
