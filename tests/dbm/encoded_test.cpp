#include "dbm/encoded.h"

#include "dbm/bound.h"
#include "dbm/dbm.h"
#include "kernel_sets.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include <cstdint>
#include <initializer_list>
#include <random>
#include <string>
#include <vector>

using namespace dbm;

namespace {
using Matrix = std::vector<bound_t>;

// Floyd-Warshall closure, independent of the library's; false when the zone is empty.
bool closeOracle(Matrix& m, uint32_t n)
{
    for (uint32_t k = 0; k < n; ++k)
        for (uint32_t i = 0; i < n; ++i)
            for (uint32_t j = 0; j < n; ++j) {
                const bound_t s = addBounds(m[i * n + k], m[k * n + j]);
                if (s < m[i * n + j]) m[i * n + j] = s;
            }
    for (uint32_t i = 0; i < n; ++i)
        if (m[i * n + i] < BOUND_LE_ZERO) return false;
    return true;
}

Matrix unconstrained(uint32_t n)
{
    Matrix m(size_t{n} * n, BOUND_INFINITY);
    for (uint32_t j = 0; j < n; ++j)
        m[j] = BOUND_LE_ZERO;
    for (uint32_t i = 0; i < n; ++i)
        m[i * n + i] = BOUND_LE_ZERO;
    return m;
}

// The closed zone of n clocks (reference included) given by the constraints x_i - x_j bound.
Matrix zone(uint32_t n, std::initializer_list<clock_constraint_t> constraints)
{
    Matrix m = unconstrained(n);
    for (const auto& c : constraints)
        if (c.bound < m[c.i * n + c.j]) m[c.i * n + c.j] = c.bound;
    EXPECT_TRUE(closeOracle(m, n)) << "test zone is empty";
    return m;
}

clock_constraint_t upper(uint32_t x, bound_t b) { return {x, 0, b}; }            // x_x - 0 b
clock_constraint_t lower(uint32_t x, int32_t v) { return {0, x, boundLE(-v)}; }  // x_x >= v

uint32_t* allocateVector(uint32_t words, void* context)
{
    auto* memory = static_cast<std::vector<uint32_t>*>(context);
    memory->assign(words, 0xdeadbeef);  // unwritten words show up as this pattern
    return memory->data();
}

struct Encoding {
    std::vector<uint32_t> memory;
    uint32_t reserved = 0;
    const uint32_t* words() const { return memory.data() + reserved; }
    std::vector<uint32_t> asVector() const { return {memory.begin() + reserved, memory.end()}; }
    uint32_t kind() const { return (words()[0] >> 16) & 7; }
};

Encoding encode(const Matrix& m, uint32_t n, bool graph, bool use16, uint32_t reserved = 0)
{
    Encoding e;
    e.reserved = reserved;
    uint32_t* memory = writeEncoded(m.data(), n, graph, use16, reserved, &e.memory, allocateVector, nullptr);
    EXPECT_EQ(memory, e.memory.data());
    return e;
}

Matrix decode(const Encoding& e)
{
    const uint32_t n = encodedDimension(e.words());
    Matrix m(size_t{n} * n + 1, 0x5a5a5a5a);
    readEncoded(m.data(), e.words());
    EXPECT_EQ(m.back(), 0x5a5a5a5a) << "reader wrote past the matrix";
    m.pop_back();
    return m;
}

relation_t relationOracle(const Matrix& a, const Matrix& b)
{
    bool sub = true, sup = true;
    for (size_t k = 0; k < a.size(); ++k) {
        sub &= a[k] <= b[k];
        sup &= a[k] >= b[k];
    }
    return sub && sup ? EQUAL : sub ? SUBSET : sup ? SUPERSET : DIFFERENT;
}

uint32_t header(uint32_t n, uint32_t kind, uint32_t count = 0, uint32_t width = 0)
{
    return n | (kind << 16) | (width << 19) | (count << 22);
}
}  // namespace

// Exact words of the forms the writer chooses; each is also read back.
TEST(EncodedDbm, WritesExactForms)
{
    const clock_constraint_t diag21 = {2, 1, boundLE(3)};  // x2 - x1 <= 3, the only bound besides x >= 0
    const Matrix zeroZone4 = zone(4, {upper(1, boundLE(0)), upper(2, boundLE(0)), upper(3, boundLE(0))});
    struct Case {
        std::string name;
        uint32_t n;
        Matrix matrix;
        bool graph, use16;
        std::vector<uint32_t> words;
    };
    const std::vector<Case> cases = {
        {"dimension 0", 0, {}, true, true, {0}},
        {"dimension 1", 1, {BOUND_LE_ZERO}, true, true, {1}},
        {"dim 2 unconstrained", 2, zone(2, {}), false, false, {0x60002}},
        {"dim 2 between 2 and 5, 16 bits whatever the flag",
         2,
         zone(2, {lower(1, 2), upper(1, boundLE(5))}),
         true,
         false,
         {header(2, 1), 0xfffdu | (11u << 16)}},
        {"dim 2 infinity as 32766", 2, zone(2, {lower(1, 2)}), false, false, {header(2, 1), 0xfffdu | (32766u << 16)}},
        {"dim 2 bound beyond 16 bits", 2, zone(2, {upper(1, boundLE(1 << 14))}), true, true, {2, 1, (1u << 15) | 1}},
        {"dim 4 unconstrained graph", 4, zone(4, {}), true, true, {0x60004}},
        {"dim 4 zero zone: cycle without its first lower bound",
         4,
         zeroZone4,
         true,
         false,
         {header(4, 4, 3), 1, 1, 1, (1u << 6) | (1u << 11) | (1u << 12)}},
        {"dim 4 zero zone, 16 bits: zero half-word after odd count",
         4,
         zeroZone4,
         true,
         true,
         {header(4, 5, 3), 0x00010001, 0x00000001, (1u << 6) | (1u << 11) | (1u << 12)}},
        {"10 clocks, one bound: pair graph",
         10,
         zone(10, {upper(1, boundLE(5))}),
         true,
         false,
         {header(10, 6, 1), 11, 0x01}},
        {"10 clocks, one bound, 16 bits: padded pair graph",
         10,
         zone(10, {upper(1, boundLE(5))}),
         true,
         true,
         {header(10, 7, 1), 11, 0x01}},
        {"16 clocks: 4-bit indices", 16, zone(16, {diag21}), true, false, {header(16, 6, 1, 0), 7, 0x12}},
        {"17 clocks: 8-bit indices", 17, zone(17, {diag21}), true, false, {header(17, 6, 1, 1), 7, 0x102}},
        {"257 clocks: 16-bit indices", 257, zone(257, {diag21}), true, false, {header(257, 6, 1, 2), 7, 0x10002}},
        // Graph of 5 bounds: bit-matrix graph and full matrix both take 7 words; the full matrix wins.
        {"equal sizes: full matrix beats bit matrix",
         3,
         zone(3, {upper(1, boundLE(10)), upper(2, boundLE(10)), lower(2, 1), {1, 2, boundLE(1)}, {2, 1, boundLE(1)}}),
         true,
         false,
         {3, 1, static_cast<uint32_t>(-1), 21, 3, 21, 3}},
        {"full matrix, 16 bits",
         3,
         zone(3, {upper(1, boundLT(4))}),
         false,
         true,
         {header(3, 1), 0x00010001, 0x00080008, 0x7ffe7ffe}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Encoding e = encode(c.matrix, c.n, c.graph, c.use16);
        EXPECT_EQ(e.asVector(), c.words);
        EXPECT_EQ(encodedSize(e.words()), c.words.size());
        if (c.n > 0) {
            EXPECT_EQ(encodedDimension(e.words()), c.n);
            EXPECT_EQ(decode(e), c.matrix);
        }
    }
}

namespace {
// n clocks; clocks 1..group pairwise within 1 of each other, the first `bounded` of them at most 100, all
// others free. Every one of these bounds belongs to the minimal graph: group*(group-1) + bounded bounds.
Matrix pairwiseClose(uint32_t n, uint32_t group, uint32_t bounded)
{
    Matrix m = unconstrained(n);
    for (uint32_t i = 1; i <= group; ++i) {
        if (i <= bounded) m[i * n] = boundLE(100);
        for (uint32_t j = 1; j <= group; ++j)
            if (i != j) m[i * n + j] = boundLE(1);
    }
    EXPECT_TRUE(closeOracle(m, n));
    return m;
}
}  // namespace

// Counts from 1024 up move to a word of their own; below they sit in header bits 22-31.
TEST(EncodedDbm, BoundCountInHeaderOrSecondWord)
{
    struct Case {
        std::string name;
        uint32_t n, group, bounded, count;
        uint32_t headerWord, size;
    };
    const std::vector<Case> cases = {
        {"600 bounds: bit 31 of the header", 26, 25, 0, 600, header(26, 4, 600), 1 + 600 + 22},
        {"1023 bounds fit the header", 40, 32, 31, 1023, header(40, 4, 1023), 1 + 1023 + 50},
        {"1024 bounds take a second word", 40, 32, 32, 1024, header(40, 4) | (1u << 21), 2 + 1024 + 50},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Matrix m = pairwiseClose(c.n, c.group, c.bounded);
        std::vector<uint32_t> bits(bitMatrixWords(c.n));
        EXPECT_EQ(cleanZeroLowerBounds(m.data(), c.n, bits.data(), analyzeMinimalGraph(m.data(), c.n, bits.data())),
                  c.count);
        const Encoding e = encode(m, c.n, true, false);
        EXPECT_EQ(e.words()[0], c.headerWord);
        if (c.count >= 1024) {
            EXPECT_EQ(e.words()[1], c.count);
        }
        EXPECT_EQ(e.memory.size(), c.size);
        EXPECT_EQ(encodedSize(e.words()), c.size);
        EXPECT_EQ(decode(e), m);
        EXPECT_TRUE(isEqualToEncoded(m.data(), c.n, e.words()));
    }
}

// The 16-bit forms hold values -32766 to 32765 (32766 is infinity), tested on the OR of the magnitudes.
TEST(EncodedDbm, SixteenBitFitLimits)
{
    struct Case {
        std::string name;
        uint32_t n;
        Matrix matrix;
        bool fits;
    };
    const std::vector<Case> cases = {
        {"upper bound raw 32765", 2, zone(2, {upper(1, 32765)}), true},
        {"upper bound raw 32766", 2, zone(2, {upper(1, 32766)}), false},
        {"lower bound raw -32766", 2, zone(2, {{0, 1, -32766}}), true},
        {"lower bound raw -32767", 2, zone(2, {{0, 1, -32767}}), false},
        {"16384 and 16383 each fit, their OR does not", 3, zone(3, {upper(1, 16384), upper(2, 16383)}), false},
        {"16384 and 16381 together fit", 3, zone(3, {upper(1, 16384), upper(2, 16381)}), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Encoding e = encode(c.matrix, c.n, false, true);
        EXPECT_EQ(e.kind(), c.fits ? 1u : 0u);
        EXPECT_EQ(decode(e), c.matrix);
    }
}

// The names the state storage calls: the same answers as the encoded tests they stand for, and the
// magnitude that decides the 16-bit forms.
TEST(EncodedDbm, StorageNamesAgreeWithTheEncodedTests)
{
    struct Magnitude {
        std::string name;
        uint32_t n;
        Matrix matrix;
        uint32_t magnitude;
    };
    const std::vector<Magnitude> magnitudes = {
        {"unconstrained: only (<=0) entries", 3, unconstrained(3), 1},
        {"raw 32765", 2, zone(2, {upper(1, 32765)}), 32765},
        {"raw -32767 counts as 32766, or-ed with the diagonal (<=0)", 2, zone(2, {{0, 1, -32767}}), 32767},
        {"16384 and 16383 or-ed", 3, zone(3, {upper(1, 16384), upper(2, 16383)}), 32767},
    };
    for (const auto& c : magnitudes) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(maxBoundMagnitude(c.matrix.data(), c.n), c.magnitude);
        EXPECT_EQ(encode(c.matrix, c.n, false, true).kind() == 1, c.magnitude <= 32765);
    }

    // The storage writes without a release callback, which no writer calls.
    std::vector<uint32_t> memory;
    writeEncoded(magnitudes[1].matrix.data(), 2, false, true, 1, &memory, allocateVector);
    ASSERT_EQ(memory.size(), 3u);  // one reserved word, the header, two 16-bit bounds
    EXPECT_EQ(memory[1], header(2, 1));

    Matrix universal(16, 12345);
    makeUniversal(universal.data(), 4);
    EXPECT_EQ(universal, unconstrained(4));

    const Matrix a = zone(4, {upper(1, boundLE(3)), {2, 1, boundLT(1)}, {1, 3, boundLE(0)}, {3, 1, boundLE(0)}});
    const Matrix b = zone(4, {upper(1, boundLE(3)), {2, 1, boundLT(1)}});
    for (bool graph : {false, true}) {
        const Encoding e = encode(a, 4, graph, graph);
        for (const Matrix* m : {&a, &b}) {
            const bool equal = m == &a;
            EXPECT_EQ(equalToEncoded(m->data(), 4, e.words()), equal);
            std::vector<uint32_t> bits(bitMatrixWords(4));
            uint32_t count = analyzeMinimalGraph(m->data(), 4, bits.data());
            std::vector<uint32_t> cleaned = bits;
            const uint32_t cleanedCount = cleanZeroLowerBounds(m->data(), 4, cleaned.data(), count);
            // The graph is cleaned in place and its count written back, so a second call may reuse both.
            for (int call = 0; call < 2; ++call) {
                EXPECT_EQ(equalToEncodedGraph(m->data(), 4, bits.data(), &count, e.words()), equal) << call;
                EXPECT_EQ(count, cleanedCount);
                EXPECT_EQ(bits, cleaned);
            }
        }
    }
}

TEST(EncodedDbm, ReservedWordsPrecedeTheEncodingUntouched)
{
    const Matrix m = zone(3, {upper(1, boundLE(4)), {1, 2, boundLT(2)}});
    for (bool graph : {false, true}) {
        const Encoding plain = encode(m, 3, graph, true);
        const Encoding reserved = encode(m, 3, graph, true, 3);
        ASSERT_EQ(reserved.memory.size(), plain.memory.size() + 3);
        for (uint32_t k = 0; k < 3; ++k)
            EXPECT_EQ(reserved.memory[k], 0xdeadbeef);
        EXPECT_EQ(reserved.asVector(), plain.asVector());
    }
}

// Comparisons that the encoded form answers without decoding, at the points where they must not.
TEST(EncodedDbm, EqualityRelationAndZeroWithoutScratch)
{
    const Matrix small = zone(3, {upper(1, boundLE(2)), upper(2, boundLE(2))});
    const Matrix big = zone(3, {upper(1, boundLE(5)), upper(2, boundLE(2))});
    const Matrix above = zone(3, {lower(1, 1)});
    Matrix scratch(9);
    for (bool graph : {false, true}) {
        for (bool use16 : {false, true}) {
            SCOPED_TRACE(std::string(graph ? "graph" : "full") + (use16 ? " 16" : " 32"));
            const Encoding eBig = encode(big, 3, graph, use16);
            EXPECT_EQ(relationToEncoded(big.data(), 3, eBig.words(), nullptr), SUBSET) << "equal, no scratch";
            EXPECT_EQ(relationToEncoded(big.data(), 3, eBig.words(), scratch.data()), EQUAL);
            EXPECT_EQ(relationToEncoded(small.data(), 3, eBig.words(), nullptr), SUBSET);
            EXPECT_EQ(relationToEncoded(small.data(), 3, eBig.words(), scratch.data()), SUBSET);
            const Encoding eSmall = encode(small, 3, graph, use16);
            EXPECT_EQ(relationToEncoded(big.data(), 3, eSmall.words(), nullptr), DIFFERENT);
            EXPECT_EQ(relationToEncoded(big.data(), 3, eSmall.words(), scratch.data()), SUPERSET);
            EXPECT_FALSE(isEqualToEncoded(big.data(), 3, eSmall.words()));
            EXPECT_TRUE(encodedHasZero(eSmall.words()));
            EXPECT_FALSE(encodedHasZero(encode(above, 3, graph, use16).words()));

            // Another dimension is never equal nor related.
            const Matrix other = zone(4, {upper(1, boundLE(5)), upper(2, boundLE(2))});
            EXPECT_FALSE(isEqualToEncoded(other.data(), 4, eBig.words()));
            Matrix scratch4(16);
            EXPECT_EQ(relationToEncoded(other.data(), 4, eBig.words(), scratch4.data()), DIFFERENT);
        }
    }
    // The one-word forms.
    const uint32_t one[] = {1}, unconstrained4[] = {0x60004};
    const bound_t leZero = BOUND_LE_ZERO;
    EXPECT_TRUE(isEqualToEncoded(&leZero, 1, one));
    EXPECT_EQ(relationToEncoded(&leZero, 1, one, nullptr), SUBSET);
    bound_t s1;
    EXPECT_EQ(relationToEncoded(&leZero, 1, one, &s1), EQUAL);
    EXPECT_TRUE(encodedHasZero(one));
    EXPECT_TRUE(encodedHasZero(unconstrained4));
    const Matrix init4 = unconstrained(4);
    Matrix scratch4(16);
    EXPECT_TRUE(isEqualToEncoded(init4.data(), 4, unconstrained4));
    EXPECT_EQ(relationToEncoded(init4.data(), 4, unconstrained4, scratch4.data()), EQUAL);
    EXPECT_EQ(relationToEncoded(above.data(), 3, encode(zone(3, {}), 3, true, true).words(), scratch.data()), SUBSET);
}

// A stored graph is decoded into the scratch exactly when the walk over its bounds cannot give the
// exact relation (callers keep what was decoded): a bound looser than the matrix's shows that the
// stored zone has points outside the matrix, so a later tighter bound makes the answer Different
// without decoding; a graph without bounds is decoded to tell Equal from Subset.
TEST(EncodedDbm, GraphRelationDecodesOnlyWhenNotExact)
{
    const Matrix x3y4 = zone(3, {upper(1, boundLE(3)), upper(2, boundLE(4))});
    const Matrix x5y2 = zone(3, {upper(1, boundLE(5)), upper(2, boundLE(2))});
    const Matrix x2y2 = zone(3, {upper(1, boundLE(2)), upper(2, boundLE(2))});
    const Matrix x2y5 = zone(3, {upper(1, boundLE(2)), upper(2, boundLE(5))});
    const Matrix free3 = zone(3, {});
    // x <= 5, y <= 5, x - y <= 0: holds no point of x2y5 with x > y, though no bound of x2y5's
    // graph is looser than its own.
    const Matrix x5y5xy0 = zone(3, {upper(1, boundLE(5)), upper(2, boundLE(5)), {1, 2, boundLE(0)}});
    struct Case {
        const char* name;
        const Matrix& matrix;
        const Matrix& stored;
        relation_t expected;
        bool decodes;
    };
    const Case cases[] = {
        {"looser then tighter: Different at once", x3y4, x5y2, DIFFERENT, false},
        {"tighter first: the stored zone may lie inside", x5y2, x2y2, SUPERSET, true},
        {"tighter first, then looser: Different without decoding", x5y2, x2y5, DIFFERENT, false},
        {"only tighter, yet Different after decoding", x5y5xy0, x2y5, DIFFERENT, true},
        {"all at least as loose, one looser: Subset at once", x2y2, x5y2, SUBSET, false},
        {"all equal: decoded to tell Equal", x5y2, x5y2, EQUAL, true},
        {"no stored bound, unconstrained matrix: decoded", free3, free3, EQUAL, true},
        {"no stored bound, bounded matrix: decoded", x2y2, free3, SUBSET, true},
    };
    for (const Case& c : cases) {
        for (bool use16 : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (use16 ? " 16" : " 32"));
            const Encoding e = encode(c.stored, 3, true, use16);
            ASSERT_GE(e.kind(), 4u) << "fixture must be a graph form";
            Matrix scratch(9, 0x5a5a5a5a);
            EXPECT_EQ(relationToEncoded(c.matrix.data(), 3, e.words(), scratch.data()), c.expected);
            EXPECT_EQ(scratch != Matrix(9, 0x5a5a5a5a), c.decodes);
        }
    }
}

TEST(EncodedDbm, GraphSuppliedByTheCallerIsCleanedInPlace)
{
    const Matrix m = zone(4, {upper(1, boundLE(0)), upper(2, boundLE(0)), upper(3, boundLE(0))});
    std::vector<uint32_t> bits(bitMatrixWords(4));
    uint32_t count = analyzeMinimalGraph(m.data(), 4, bits.data());
    EXPECT_EQ(count, 4u);  // the cycle 0 -> 1 -> 2 -> 3 -> 0
    const Encoding e = encode(m, 4, true, true);
    EXPECT_TRUE(isEqualToEncodedGraph(m.data(), 4, bits.data(), &count, e.words()));
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(bits[0], (1u << 6) | (1u << 11) | (1u << 12));

    uint32_t pairs[3];
    listGraphBounds(bits.data(), 3, pairs, 4);
    EXPECT_EQ(pairs[0], 1u | (2u << 16));
    EXPECT_EQ(pairs[1], 2u | (3u << 16));
    EXPECT_EQ(pairs[2], 3u | (0u << 16));

    // The graph of an encoded DBM gives the dropped zero lower bound back.
    std::vector<uint32_t> again(bitMatrixWords(4));
    Matrix scratch(16);
    EXPECT_EQ(encodedMinimalGraph(again.data(), e.words(), false, scratch.data()), 4u);
    EXPECT_EQ(again[0], (1u << 1) | (1u << 6) | (1u << 11) | (1u << 12));
}

TEST(EncodedDbm, FormatNumbers)
{
    const uint32_t words[][1] = {
        {1}, {header(3, 0)}, {header(3, 1)}, {header(3, 4)}, {header(3, 5)}, {header(3, 6)}, {header(3, 7)}};
    const uint32_t expected[] = {0, 1, 4, 2, 5, 3, 6};
    for (size_t k = 0; k < 7; ++k)
        EXPECT_EQ(encodedFormatNumber(words[k]), expected[k]) << k;
}

// A corrupted encoding (kind 2 or 3) ends the process with status 2 and names the operation.
TEST(EncodedDbmDeathTest, CorruptedKindIsFatal)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const Matrix m = zone(3, {});
    Matrix scratch(9);
    struct Case {
        std::string operation;
        void (*run)(const uint32_t*, const Matrix&, Matrix&);
    };
    const std::vector<Case> cases = {
        {"read", [](const uint32_t* e, const Matrix&, Matrix& s) { readEncoded(s.data(), e); }},
        {"compare with", [](const uint32_t* e, const Matrix& m, Matrix&) { isEqualToEncoded(m.data(), 3, e); }},
        {"compare with",
         [](const uint32_t* e, const Matrix& m, Matrix&) {
             uint32_t bits[1] = {0}, count = 0;
             isEqualToEncodedGraph(m.data(), 3, bits, &count, e);
         }},
        {"compute relation with",
         [](const uint32_t* e, const Matrix& m, Matrix& s) { relationToEncoded(m.data(), 3, e, s.data()); }},
        {"compute relation with",
         [](const uint32_t* e, const Matrix& m, Matrix&) { relationToEncoded(m.data(), 3, e, nullptr); }},
        {"test", [](const uint32_t* e, const Matrix&, Matrix&) { encodedHasZero(e); }},
        {"read",
         [](const uint32_t* e, const Matrix&, Matrix& s) {
             uint32_t bits[1];
             encodedMinimalGraph(bits, e, false, s.data());
         }},
    };
    for (uint32_t kind : {2u, 3u}) {
        const uint32_t corrupted[4] = {header(3, kind, 1), 3, 0x12, 0};
        for (const auto& c : cases) {
            SCOPED_TRACE(c.operation + " kind " + std::to_string(kind));
            EXPECT_EXIT(c.run(corrupted, m, scratch), testing::ExitedWithCode(2),
                        "^\x1b\\[1;31mMIRVEK [^ ]+ fatal error: invalid encoded DBM to " + c.operation +
                            "\x1b\\[0;0m\n$");
        }
    }
}

namespace {
// A random closed, non-empty zone of n clocks: constraints with small constants (so that clocks meet in
// fixed values and fixed differences), now and then a large constant beyond the 16-bit forms, or a delay.
Matrix randomZone(std::mt19937& rng, uint32_t n, Matrix m)
{
    if (n < 2) return m;
    std::uniform_int_distribution<uint32_t> clock(0, n - 1);
    std::uniform_int_distribution<int32_t> small(-3, 8), percent(0, 99);
    const int steps = std::uniform_int_distribution<int>(0, 2 * static_cast<int>(n))(rng);
    for (int s = 0; s < steps; ++s) {
        Matrix next = m;
        const uint32_t i = clock(rng), j = clock(rng);
        if (i == j) continue;
        const int32_t p = percent(rng);
        const int32_t v = p < 5 ? 20000 + small(rng) : small(rng);
        auto tighten = [&](uint32_t a, uint32_t b, bound_t bound) {
            if (bound < next[a * n + b]) next[a * n + b] = bound;
        };
        if (p < 10) {
            for (uint32_t k = 1; k < n; ++k)
                next[k * n] = BOUND_INFINITY;  // delay
        } else if (p < 30) {
            tighten(i, j, boundLE(v));  // a fixed difference (or value when one clock is 0)
            tighten(j, i, boundLE(-v));
        } else {
            tighten(i, j, p < 65 ? boundLE(v) : boundLT(v));
        }
        if (closeOracle(next, n)) m = std::move(next);
    }
    return m;
}

bool sameGraphIrreducible(const Matrix& m, uint32_t n, const std::vector<uint32_t>& bits)
{
    // From no constraint at all (not even x >= 0): the graph alone must give the matrix back.
    auto rebuild = [&](const std::vector<uint32_t>& b) {
        Matrix r(size_t{n} * n, BOUND_INFINITY);
        for (uint32_t i = 0; i < n; ++i)
            r[i * n + i] = BOUND_LE_ZERO;
        for (uint32_t k = 0; k < n * n; ++k)
            if ((b[k >> 5] >> (k & 31)) & 1) r[k] = m[k];
        closeOracle(r, n);
        return r;
    };
    if (rebuild(bits) != m) return false;
    for (uint32_t k = 0; k < n * n; ++k) {
        if (!((bits[k >> 5] >> (k & 31)) & 1)) continue;
        std::vector<uint32_t> fewer = bits;
        fewer[k >> 5] &= ~(1u << (k & 31));
        if (rebuild(fewer) == m) return false;  // bound k was redundant
    }
    return true;
}
}  // namespace

// Random zones of 1 to 12 clocks, and of 15 to 39 (index pairs of 8 bits, several vector chunks):
// every form reads back equal, the graph is minimal, and the encoded comparisons agree with
// comparing the decoded matrices, under every kernel set the processor runs.
TEST(EncodedDbm, RandomizedRoundTripAndRelations)
{
    dbm_test::forEachKernelSet([&](kernel_set_t) {
        // A fixed seed keeps a failure repeatable; MIRVEK_TEST_SEED explores others.
        const char* env = std::getenv("MIRVEK_TEST_SEED");
        const uint32_t seed = env ? static_cast<uint32_t>(std::strtoul(env, nullptr, 10)) : 20261210u;
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 rng(seed);
        for (uint32_t n : {1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u, 9u, 10u, 11u, 12u, 13u, 16u, 17u, 18u, 25u, 33u, 40u}) {
            SCOPED_TRACE("dimension " + std::to_string(n));
            std::vector<Matrix> zones;
            for (int z = 0; z < 24; ++z) {
                // Half of the zones derive from an earlier one, so that related pairs are common.
                const bool derive = !zones.empty() && rng() % 2 == 0;
                zones.push_back(randomZone(rng, n, derive ? zones[rng() % zones.size()] : unconstrained(n)));
            }
            Matrix scratch(size_t{n} * n);
            for (const Matrix& b : zones) {
                std::vector<uint32_t> bits(bitMatrixWords(n) + 1);
                const uint32_t graphCount = analyzeMinimalGraph(b.data(), n, bits.data());
                if (n <= 6) {
                    EXPECT_TRUE(sameGraphIrreducible(b, n, bits));
                }
                bool hasZero = true;
                for (uint32_t j = 1; j < n; ++j)
                    hasZero &= b[j] > 0;

                for (int form = 0; form < 4; ++form) {
                    const bool graph = form & 1, use16 = form & 2;
                    SCOPED_TRACE("form " + std::to_string(form));
                    const Encoding e = encode(b, n, graph, use16, form);
                    ASSERT_EQ(decode(e), b);
                    EXPECT_EQ(encodedSize(e.words()), e.memory.size() - e.reserved);
                    EXPECT_EQ(encodedHasZero(e.words()), hasZero);
                    EXPECT_TRUE(isEqualToEncoded(b.data(), n, e.words()));
                    EXPECT_TRUE(isEqualToEncodedDecoding(b.data(), n, e.words(), scratch.data()));
                    std::vector<uint32_t> copy = bits;
                    uint32_t count = graphCount;
                    EXPECT_TRUE(isEqualToEncodedGraph(b.data(), n, copy.data(), &count, e.words()));
                    if (graph && n >= 2) {
                        // The caller's graph gives the same words.
                        Encoding fromGraph;
                        std::vector<uint32_t> again = bits;
                        writeEncodedFromGraph(b.data(), n, again.data(), graphCount, use16, 0, &fromGraph.memory,
                                              allocateVector, nullptr);
                        EXPECT_EQ(fromGraph.asVector(), e.asVector());
                    }
                    std::vector<uint32_t> fromEncoded(bitMatrixWords(n) + 1);
                    EXPECT_EQ(encodedMinimalGraph(fromEncoded.data(), e.words(), false, scratch.data()), graphCount);
                    EXPECT_EQ(fromEncoded, bits);

                    for (const Matrix& a : zones) {
                        const relation_t exact = relationOracle(a, b);
                        ASSERT_EQ(relationToEncoded(a.data(), n, e.words(), scratch.data()), exact);
                        const relation_t inclusion = (exact & SUBSET) ? SUBSET : DIFFERENT;
                        ASSERT_EQ(relationToEncoded(a.data(), n, e.words(), nullptr), inclusion);
                        const relation_t fast = relationToEncodedFast(a.data(), n, e.words(), scratch.data());
                        ASSERT_TRUE(fast == exact || (exact == EQUAL && fast == SUBSET));
                        ASSERT_EQ(isEqualToEncoded(a.data(), n, e.words()), exact == EQUAL);
                        Matrix hull = a;
                        convexUnionEncoded(hull.data(), n, e.words(), scratch.data());
                        for (size_t k = 0; k < hull.size(); ++k)
                            ASSERT_EQ(hull[k], std::max(a[k], b[k])) << k;
                    }
                }
            }
        }
    });
}
