#include "support/hash.h"

#include <cmath>
#include <cstdint>
#include <gtest/gtest.h>
#include <limits>
#include <string>
#include <vector>

namespace {

std::vector<unsigned char> bytes(int from, int to)
{
    std::vector<unsigned char> result;
    for (int b = from; b <= to; ++b) {
        result.push_back(static_cast<unsigned char>(b));
    }
    return result;
}

TEST(Hash64, MatchesHandComputedVectors)
{
    // Expected values worked out step by step from the algorithm (word mix with shift 47, the
    // running hash multiplied before each word and before a tail, finish with 45 then 47).
    struct Case
    {
        const char* name;
        std::vector<unsigned char> buffer;
        uint32_t seed;
        uint64_t expected;
    };
    const Case cases[] = {
        {"empty, seed 0", {}, 0, 0},
        {"empty, seed 1", {}, 1, 0xc6a4a7935bd064dcULL},
        {"one byte", {'a'}, 0, 0x1009a81f034aab37ULL},
        {"7 bytes: tail only", bytes(1, 7), 0, 0x1a531e8392311a93ULL},
        {"8 bytes: one word, no tail", bytes(1, 8), 0, 0xe7463398efce0d19ULL},
        {"9 bytes: one word and a tail", bytes(1, 9), 0, 0x489271cd8ffd284aULL},
        {"9 bytes, seeded", bytes(1, 9), 0xdeadbeef, 0xc0cb9461e78035ccULL},
        {"16 bytes: two words", bytes(1, 16), 7, 0x1cb561dbca3c81dcULL},
        {"all ones", std::vector<unsigned char>(8, 0xff), 0, 0xe8f3877b6c4714beULL},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(base::hash64(c.buffer.data(), c.buffer.size(), c.seed), c.expected) << c.name;
    }
}

TEST(Hash64, ReadsUnalignedBuffersAsLittleEndian)
{
    // The same bytes at an odd address hash the same as aligned ones.
    alignas(8) unsigned char storage[24] = {};
    for (int i = 0; i < 9; ++i) {
        storage[i] = static_cast<unsigned char>(i + 1);
        storage[i + 1 + 8] = static_cast<unsigned char>(i + 1);
    }
    EXPECT_EQ(base::hash64(storage + 9, 9, 0), base::hash64(storage, 9, 0));
    EXPECT_EQ(base::hash64(storage + 9, 9, 0), 0x489271cd8ffd284aULL);
}

TEST(HashWide, EveryByteOfEveryLaneAndTheTailCounts)
{
    // A buffer the size of a zone of 49 clocks (not a multiple of the 32-byte block) and short
    // ones: equal contents hash alike wherever they lie, and changing any one byte, in any lane,
    // block or the tail, changes the low 32 bits that the zone store keeps.
    for (const size_t length : {size_t{0}, size_t{5}, size_t{31}, size_t{32}, size_t{33}, size_t{4 * 49 * 49}}) {
        std::vector<unsigned char> buffer(length + 1);
        for (size_t i = 0; i < buffer.size(); ++i) {
            buffer[i] = static_cast<unsigned char>(i * 7 + 3);
        }
        const std::vector<unsigned char> copy(buffer.begin() + 1, buffer.end());
        const uint64_t hash = base::hashWide(buffer.data() + 1, length, 9);
        EXPECT_EQ(base::hashWide(copy.data(), length, 9), hash) << length;
        if (length > 0) {
            EXPECT_NE(base::hashWide(copy.data(), length, 10), hash) << length;
        }
        for (size_t i = 1; i <= length; ++i) {
            buffer[i] ^= 0x10;
            EXPECT_NE(static_cast<uint32_t>(base::hashWide(buffer.data() + 1, length, 9)), static_cast<uint32_t>(hash))
                << "byte " << i - 1 << " of " << length;
            buffer[i] ^= 0x10;
        }
    }
}

struct Node
{
    Node* next;
    uint32_t hash;
};

TEST(GrowHashTable, SplitsBucketsByNextBitAndReversesOrder)
{
    Node nodes[] = {{nullptr, 0x00000}, {nullptr, 0x10004}, {nullptr, 0x20000},
                    {nullptr, 0x30001}, {nullptr, 0x00005}, {nullptr, 0xffff0002}};
    uint32_t mask = 3;
    Node** table = new Node*[4]();
    for (auto& node : nodes) {  // push front, as stores insert
        Node*& head = table[node.hash & mask];
        node.next = head;
        head = &node;
    }

    base::growHashTable(table, mask);
    ASSERT_EQ(mask, 7u);

    std::vector<std::vector<uint32_t>> buckets(8);
    for (uint32_t i = 0; i < 8; ++i) {
        for (Node* n = table[i]; n != nullptr; n = n->next) {
            EXPECT_EQ(n->hash & mask, i);
            buckets[i].push_back(n->hash);
        }
    }
    // Old bucket 0 was [0x20000, 0x10004, 0x00000]; it splits by bit 2 with order reversed.
    EXPECT_EQ(buckets[0], (std::vector<uint32_t>{0x00000, 0x20000}));
    EXPECT_EQ(buckets[4], (std::vector<uint32_t>{0x10004}));
    EXPECT_EQ(buckets[1], (std::vector<uint32_t>{0x30001}));
    EXPECT_EQ(buckets[5], (std::vector<uint32_t>{0x00005}));
    EXPECT_EQ(buckets[2], (std::vector<uint32_t>{0xffff0002}));
    EXPECT_TRUE(buckets[3].empty() && buckets[6].empty() && buckets[7].empty());
    delete[] table;
}

TEST(WordHelpers, CopyFillCompareSort)
{
    uint32_t a[10];
    uint32_t* end = base::fillWords(a, 10, 7);
    EXPECT_EQ(end, a + 10);
    EXPECT_EQ(base::notAllEqual(a, 10, 7), 0u);
    a[9] = 5;
    EXPECT_EQ(base::notAllEqual(a, 10, 7), 7u ^ 5u);
    EXPECT_EQ(base::notAllEqual(a, 0, 1), 0u);

    uint32_t b[10];
    base::copyWords(b, a, 10);
    EXPECT_TRUE(base::equalWords(a, b, 10));
    b[3] = 0;
    EXPECT_FALSE(base::equalWords(a, b, 10));
    EXPECT_TRUE(base::equalWords(a, b, 3));
    EXPECT_TRUE(base::equalWords(a, a, 0));
    EXPECT_TRUE(base::equalWords(static_cast<const uint32_t*>(nullptr), nullptr, 5));
    EXPECT_FALSE(base::equalWords(a, nullptr, 0));
    EXPECT_FALSE(base::equalWords(nullptr, a, 0));

    uint32_t s[] = {5, 0xffffffff, 0, 0x80000000, 3, 5, 1, 2, 9, 4};
    base::sortWords(s, 10);
    const uint32_t sorted[] = {0, 1, 2, 3, 4, 5, 5, 9, 0x80000000, 0xffffffff};
    EXPECT_TRUE(base::equalWords(s, sorted, 10));
    base::sortWords(s, 0);
    base::sortWords(nullptr, 0);
}

TEST(WordHelpers, IndexSetBitsNumbersSetBitsInOrder)
{
    const uint32_t none[2] = {0, 0};
    uint32_t index[64];
    base::fillWords(index, 64, 0xdead);
    EXPECT_EQ(base::indexSetBits(none, 2, index), 0u);
    EXPECT_EQ(base::notAllEqual(index, 64, 0xdead), 0u);

    uint32_t bits[2] = {0, 0};
    for (unsigned k : {0u, 3u, 31u, 32u, 63u}) {
        base::setBit(bits, k);
    }
    EXPECT_EQ(base::indexSetBits(bits, 2, index), 5u);
    EXPECT_EQ(index[0], 0u);
    EXPECT_EQ(index[3], 1u);
    EXPECT_EQ(index[31], 2u);
    EXPECT_EQ(index[32], 3u);
    EXPECT_EQ(index[63], 4u);
    EXPECT_EQ(index[1], 0xdeadu);
    EXPECT_TRUE(base::testBit(bits, 63));
    base::clearBit(bits, 63);
    EXPECT_FALSE(base::testBit(bits, 63));
    EXPECT_EQ(base::indexSetBits(bits, 1, index), 3u);  // only the first word is read
}

TEST(StrictBounds, StepDoublesUntilTheValueMoves)
{
    const double inf = std::numeric_limits<double>::infinity();
    struct Case
    {
        const char* name;
        double got;
        double expected;
    };
    const Case cases[] = {
        {"above small", base::strictlyAbove(3.0, 0.5), 3.5},
        {"above large", base::strictlyAbove(1e17, 1.0), 1e17 + 16},
        {"below large", base::strictlyBelow(1e17, 1.0), 1e17 - 16},
        {"below small", base::strictlyBelow(3.0, 0.5), 2.5},
        {"above infinity", base::strictlyAbove(inf, 1.0), inf},
        {"below minus infinity", base::strictlyBelow(-inf, 1.0), -inf},
        {"above zero step", base::strictlyAbove(1.0, 0.0), std::nextafter(1.0, 2.0)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.got, c.expected) << c.name;
    }
    EXPECT_TRUE(std::isnan(base::strictlyAbove(std::nan(""), 1.0)));
}

TEST(StorageKeys, AreDistinctGlobalTexts)
{
    EXPECT_EQ(std::string(base::SIZE), "base:SIZE");
    EXPECT_EQ(std::string(base::FLAG), "base:FLAG");
    EXPECT_EQ(std::string(base::EXACT_RELATION), "base:EXACT_RELATION");
}

}  // namespace
