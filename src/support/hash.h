#pragma once

#include <cstddef>
#include <cstdint>

namespace base {

// The 64-bit hash of a byte buffer used for zones, federations, stored states and transitions.
// Callers that need 32 bits keep the low half, and chain hashes by passing one result as the
// seed of the next. Bucket placement everywhere depends on its exact arithmetic.
uint64_t hash64(const void* buffer, uint64_t length, uint32_t seed);

// A 64-bit hash of a long buffer, mixed in four independent lanes of 8 bytes with one
// multiplication per word: about three times as fast as hash64 on a buffer of kilobytes, for tables whose placement is not observed (the stored
// zones). Not equal to hash64.
uint64_t hashWide(const void* buffer, uint64_t length, uint32_t seed);

// Doubles a chained bucket table of 2^k heads kept with its mask (2^k - 1). Node is any node
// type with a link `next` (Node*) and a 32-bit word `hash` whose bits above the mask hold the
// node's hash (the other bits are not read). Each node of bucket i moves to bucket i or
// i + (mask + 1) by the next hash bit; the order inside a bucket is reversed. No node is
// allocated or freed. The table must come from `new Node*[]`; it is replaced by a new one
// and the old array is deleted.
template <class Node>
void growHashTable(Node**& table, uint32_t& mask)
{
    const uint32_t oldSize = mask + 1;
    Node** grown = new Node*[2 * static_cast<std::size_t>(oldSize)]();
    for (uint32_t i = 0; i < oldSize; ++i) {
        Node* node = table[i];
        while (node != nullptr) {
            Node* next = node->next;
            Node*& head = grown[i + (node->hash & oldSize)];
            node->next = head;
            head = node;
            node = next;
        }
    }
    delete[] table;
    table = grown;
    mask = 2 * oldSize - 1;
}

// The simplest node shape growHashTable accepts; stores may use their own.
struct HashNode
{
    HashNode* next;
    uint32_t hash;
};

// Word arrays: n consecutive 32-bit words (lengths count words, never bytes).

// Copies n words (the arrays must not overlap).
void copyWords(uint32_t* destination, const uint32_t* source, std::size_t n);
inline void copyWords(int32_t* destination, const int32_t* source, std::size_t n)
{
    copyWords(reinterpret_cast<uint32_t*>(destination), reinterpret_cast<const uint32_t*>(source), n);
}

// Sets n words to value; returns the position after the last word written.
uint32_t* fillWords(uint32_t* destination, std::size_t n, uint32_t value);
inline int32_t* fillWords(int32_t* destination, std::size_t n, int32_t value)
{
    return reinterpret_cast<int32_t*>(
        fillWords(reinterpret_cast<uint32_t*>(destination), n, static_cast<uint32_t>(value)));
}

// Zero when all n words equal value; otherwise a non-zero word, the OR of (word XOR value).
uint32_t notAllEqual(const uint32_t* array, std::size_t n, uint32_t value);

// True when both arrays hold the same n words; true at once for the same pointer (even null),
// false when exactly one of them is null.
bool equalWords(const uint32_t* a, const uint32_t* b, std::size_t n);
inline bool equalWords(const int32_t* a, const int32_t* b, std::size_t n)
{
    return equalWords(reinterpret_cast<const uint32_t*>(a), reinterpret_cast<const uint32_t*>(b), n);
}

// Sorts n words in place, ascending as unsigned values.
void sortWords(uint32_t* array, std::size_t n);

// Bit arrays: bit k is bit k mod 32 (least significant first) of word k / 32.

// For every set bit k of the first `words` words, in increasing k, writes its rank among the
// set bits (0, 1, 2, ...) into index[k]; entries of clear bits are left alone. Returns the
// number of set bits.
uint32_t indexSetBits(const uint32_t* bits, std::size_t words, uint32_t* index);

inline bool testBit(const uint32_t* bits, std::size_t k)
{
    return ((bits[k >> 5] >> (k & 31)) & 1u) != 0;
}
inline void setBit(uint32_t* bits, std::size_t k)
{
    bits[k >> 5] |= 1u << (k & 31);
}
inline void clearBit(uint32_t* bits, std::size_t k)
{
    bits[k >> 5] &= ~(1u << (k & 31));
}
// Number of words of a bit array of n bits.
inline std::size_t bitWords(std::size_t n)
{
    return (n + 31) >> 5;
}

// The first of a + step, a + 2 step, a + 4 step, ... that is greater than a: a value just
// inside a strict lower bound a. An infinite (or NaN) a is returned as it is.
double strictlyAbove(double a, double step);
// The mirror of strictlyAbove: the first of a - step, a - 2 step, ... that is below a.
double strictlyBelow(double a, double step);

// Keys for configuring stores through the property mechanism of the pipeline stages. They
// are compared by the address of these texts, never by content.
extern const char SIZE[];            // "base:SIZE"
extern const char FLAG[];            // "base:FLAG"
extern const char EXACT_RELATION[];  // "base:EXACT_RELATION"

}  // namespace base
