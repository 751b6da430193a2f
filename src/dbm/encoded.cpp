#include "dbm/encoded.h"

#include "dbm/dbm.h"
#include "dbm/kernel_table.h"
#include "support/hash.h"
#include "support/progress_line.h"

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace dbm {
namespace {
constexpr bound_t kInfinity = BOUND_INFINITY;
constexpr bound_t kLeZero = BOUND_LE_ZERO;
constexpr int32_t kInfinity16 = 32766;  // (<, infinity) in a 16-bit full matrix
constexpr int32_t kMax16 = 32765;       // largest value the 16-bit forms can hold

constexpr uint32_t kKindShift = 16;
constexpr uint32_t kBit16 = 1;     // kind bit: 16-bit bounds
constexpr uint32_t kBitPairs = 2;  // kind bit: index pairs instead of a bit matrix
constexpr uint32_t kBitGraph = 4;  // kind bit: minimal graph
constexpr uint32_t kCountInWord = 1u << 21;
constexpr uint32_t kCountShift = 22;
constexpr uint32_t kWidthShift = 19;
constexpr uint32_t kHeaderCountLimit = 1024;

const char* const kVersionText = "1.0";

[[noreturn]] void corrupted(const char* operation)
{
    eraseProgressLine();
    std::fprintf(stderr, "\x1b[1;31mMIRVEK %s fatal error: invalid encoded DBM to %s\x1b[0;0m\n", kVersionText,
                 operation);
    std::fflush(stderr);
    std::exit(2);
}

// Word storage that lives on the stack for the sizes exploration meets and on the heap beyond.
template <size_t N>
class Scratch {
public:
    explicit Scratch(size_t words)
    {
        if (words > N) {
            heap_.reset(new uint32_t[words]);
            data_ = heap_.get();
        }
    }
    uint32_t* get() { return data_; }

private:
    uint32_t local_[N];
    std::unique_ptr<uint32_t[]> heap_;
    uint32_t* data_ = local_;
};

// The decoded header of an encoding.
struct Header {
    uint32_t n;            // dimension
    uint32_t kind;         // 0 to 7
    uint32_t count;        // bounds of a graph kind
    const uint32_t* data;  // first word after the header and the count word
};

Header parseHeader(const uint32_t* encoded, const char* operation)
{
    const uint32_t h = encoded[0];
    Header header;
    header.n = h & 0xffff;
    header.kind = (h >> kKindShift) & 7;
    header.count = 0;
    header.data = encoded + 1;
    if (header.kind == 2 || header.kind == 3) corrupted(operation);
    if (header.kind & kBitGraph) {
        if (h & kCountInWord) {
            header.count = encoded[1];
            header.data = encoded + 2;
        } else {
            header.count = h >> kCountShift;
        }
        // Index width code 3 (32-bit indices) is never written; reading it would run off the pairs.
        if ((header.kind & kBitPairs) && ((h >> kWidthShift) & 3) == 3) corrupted(operation);
    }
    return header;
}

uint32_t widthCode(uint32_t n) { return n < 17 ? 0 : n < 257 ? 1 : 2; }

bool testBit(const uint32_t* bits, uint32_t k) { return (bits[k >> 5] >> (k & 31)) & 1; }
void setBit(uint32_t* bits, uint32_t k) { bits[k >> 5] |= 1u << (k & 31); }
void clearBit(uint32_t* bits, uint32_t k) { bits[k >> 5] &= ~(1u << (k & 31)); }

using kernels::read16;

bound_t readFull16(const uint32_t* words, uint32_t k)
{
    const int32_t v = read16(words, k);
    return v == kInfinity16 ? kInfinity : v;
}

// True when every finite bound of the matrix fits the 16-bit forms.
bool fits16(const bound_t* dbm, uint32_t n)
{
    return maxBoundMagnitude(dbm, n) <= static_cast<uint32_t>(kMax16);
}

// Calls f(position in the matrix, bound) for every stored bound of a full kind, in row order, until f
// returns false; returns false when it was stopped.
template <typename F>
bool forEachFull(const Header& h, F&& f)
{
    const uint32_t n = h.n;
    uint32_t k = 0;
    if (h.kind & kBit16) {
        for (uint32_t i = 0; i < n; ++i)
            for (uint32_t j = 0; j < n; ++j)
                if (i != j && !f(i * n + j, readFull16(h.data, k++))) return false;
    } else {
        for (uint32_t i = 0; i < n; ++i)
            for (uint32_t j = 0; j < n; ++j)
                if (i != j && !f(i * n + j, static_cast<bound_t>(h.data[k++]))) return false;
    }
    return true;
}

uint32_t boundsPartWords(uint32_t count, bool is16) { return is16 ? (count + 1) / 2 : count; }

// The bounds of a graph kind as the kernels read them.
kernels::GraphView graphView(const Header& h, uint32_t headerWord)
{
    const bool is16 = h.kind & kBit16;
    const uint32_t indexBits = (h.kind & kBitPairs) ? 4u << ((headerWord >> kWidthShift) & 3) : 0;
    return {h.data, h.data + boundsPartWords(h.count, is16), h.count, h.n, indexBits, is16};
}

// The bounds of a full kind as the kernels read them.
kernels::FullView fullView(const Header& h) { return {h.data, h.n, (h.kind & kBit16) != 0}; }

// Calls f(i, j, entry number i * n + j, bound) for every bound of a graph kind, in increasing entry
// number, until f returns false; returns false when it was stopped.
template <typename F>
bool forEachGraph(const Header& h, uint32_t headerWord, F&& f)
{
    return kernels::forEachGraphBound(graphView(h, headerWord), f);
}

const uint32_t* bitMatrixOf(const Header& h) { return h.data + boundsPartWords(h.count, h.kind & kBit16); }

// ----- writing -----

uint32_t* allocate(uint32_t size, uint32_t reserved, void* context, encoded_allocator_t allocator)
{
    return allocator(size + reserved, context);
}

// The one-word and full-matrix forms of dimension 2 (and the one-word forms below it).
uint32_t* writeSmall(const bound_t* dbm, uint32_t n, uint32_t reserved, void* context, encoded_allocator_t allocator)
{
    if (n < 2) {
        uint32_t* mem = allocate(1, reserved, context, allocator);
        mem[reserved] = n;
        return mem;
    }
    const bound_t lower = dbm[1], upper = dbm[2];
    if (lower == kLeZero && upper == kInfinity) {
        uint32_t* mem = allocate(1, reserved, context, allocator);
        mem[reserved] = 2 | ((kBitGraph | kBitPairs) << kKindShift);
        return mem;
    }
    if (fits16(dbm, 2)) {
        uint32_t* mem = allocate(2, reserved, context, allocator);
        const uint32_t up16 = upper == kInfinity ? kInfinity16 : static_cast<uint32_t>(upper);
        mem[reserved] = 2 | (kBit16 << kKindShift);
        mem[reserved + 1] = (static_cast<uint32_t>(lower) & 0xffff) | (up16 << 16);
        return mem;
    }
    uint32_t* mem = allocate(3, reserved, context, allocator);
    mem[reserved] = 2;
    mem[reserved + 1] = static_cast<uint32_t>(lower);
    mem[reserved + 2] = static_cast<uint32_t>(upper);
    return mem;
}

uint32_t* writeFull(const bound_t* dbm, uint32_t n, bool is16, uint32_t reserved, void* context,
                    encoded_allocator_t allocator)
{
    const uint32_t entries = n * (n - 1);
    const uint32_t size = 1 + (is16 ? entries / 2 : entries);
    uint32_t* mem = allocate(size, reserved, context, allocator);
    mem[reserved] = n | ((is16 ? kBit16 : 0) << kKindShift);
    kernels::active().writeFull(dbm, n, is16, mem + reserved + 1);
    return mem;
}

uint32_t* writeUnconstrained(uint32_t n, uint32_t reserved, void* context, encoded_allocator_t allocator)
{
    uint32_t* mem = allocate(1, reserved, context, allocator);
    mem[reserved] = n | ((kBitGraph | kBitPairs) << kKindShift);
    return mem;
}

// Writes the smallest of the full matrix, the bit-matrix graph and the pair graph, for n >= 3 and a
// graph of count >= 1 bounds (zero lower bounds already cleared).
uint32_t* writeChosenForm(const bound_t* dbm, uint32_t n, const uint32_t* bits, uint32_t count, bool is16,
                          uint32_t reserved, void* context, encoded_allocator_t allocator)
{
    const uint32_t s = is16 ? 1 : 0;
    const uint32_t extra = count >= kHeaderCountLimit ? 1 : 0;
    const uint32_t boundWords = (count + s) >> s;
    const uint32_t b = boundWords + 1 + extra;
    const uint32_t fullSize = ((n * (n - 1) + s) >> s) + 1;
    const uint32_t bmWords = bitMatrixWords(n);
    const uint32_t bitSize = b + bmWords;
    const uint32_t w = widthCode(n);
    const uint32_t pairBits = 8u << w;
    const uint32_t pairWords = static_cast<uint32_t>((uint64_t{count} * pairBits + 31) / 32);
    const uint32_t pairSize = b + pairWords;

    bool pairs;
    if (bitSize < fullSize) {
        pairs = bitSize > pairSize;
    } else {
        if (fullSize <= pairSize) return writeFull(dbm, n, is16, reserved, context, allocator);
        pairs = true;
    }

    const uint32_t kind = kBitGraph | (pairs ? kBitPairs : 0) | (is16 ? kBit16 : 0);
    uint32_t* mem = allocate(pairs ? pairSize : bitSize, reserved, context, allocator);
    uint32_t* out = mem + reserved;
    uint32_t header = n | (kind << kKindShift);
    if (pairs) header |= w << kWidthShift;
    if (extra) {
        *out++ = header | kCountInWord;
        *out++ = count;
    } else {
        *out++ = header | (count << kCountShift);
    }

    // The bounds, in increasing entry number.
    const uint32_t words = bmWords;
    uint32_t k = 0, half = 0;
    for (uint32_t wi = 0; wi < words; ++wi) {
        for (uint32_t m = bits[wi]; m != 0; m &= m - 1) {
            const uint32_t e = wi * 32 + static_cast<uint32_t>(__builtin_ctz(m));
            const uint32_t v = static_cast<uint32_t>(dbm[e]);
            if (!is16) {
                *out++ = v;
            } else if (k & 1) {
                *out++ = half | (v << 16);
            } else {
                half = v & 0xffff;
            }
            ++k;
        }
    }
    if (is16 && (k & 1)) *out++ = half;  // the zero half-word after an odd number of bounds

    if (!pairs) {
        for (uint32_t wi = 0; wi < words; ++wi)
            *out++ = bits[wi];
        return mem;
    }

    // The index pairs, packed from bit 0 upward, the last word flushed even when partly filled.
    const uint32_t indexBits = 4u << w;
    uint64_t acc = 0;
    uint32_t filled = 0;
    for (uint32_t wi = 0; wi < words; ++wi) {
        for (uint32_t m = bits[wi]; m != 0; m &= m - 1) {
            const uint32_t e = wi * 32 + static_cast<uint32_t>(__builtin_ctz(m));
            const uint64_t pair = uint64_t{e / n} | (uint64_t{e % n} << indexBits);
            acc |= pair << filled;
            filled += pairBits;
            if (filled == 32) {
                *out++ = static_cast<uint32_t>(acc);
                acc = 0;
                filled = 0;
            }
        }
    }
    if (filled != 0) *out++ = static_cast<uint32_t>(acc);
    return mem;
}

// ----- reading -----

void readGraph(bound_t* dbm, const Header& h, uint32_t headerWord)
{
    const uint32_t n = h.n;
    init(dbm, n);
    if (h.count == 0) return;
    Scratch<16> marks((n + 31) / 32);
    uint32_t* mark = marks.get();
    for (uint32_t k = 0; k < (n + 31) / 32; ++k)
        mark[k] = 0;
    // Only a clock with a bound in its own row can lie inside a path: the rows of the others
    // stay (< infinity), so closing through them would change nothing. Row 0 starts as (<= 0)
    // everywhere and is a path's inside only through an upper bound [i][0].
    forEachGraph(h, headerWord, [&](uint32_t i, uint32_t j, uint32_t e, bound_t b) {
        dbm[e] = b;
        if (i != 0) {
            setBit(mark, i);
            if (j == 0) setBit(mark, 0);
        }
        return true;
    });
    // A stored zone is not empty: its closure meets no negative cycle, and the diagonal is not
    // watched.
    kernels::active().closePivots(dbm, n, mark, false);
}

void read(bound_t* dbm, const uint32_t* encoded)
{
    const uint32_t first = encoded[0];
    if (first <= 1) {
        // Dimension 1 has the one entry (<=, 0); dimension 0 has no entry to write.
        if (first == 1) dbm[0] = kLeZero;
        return;
    }
    const Header h = parseHeader(encoded, "read");
    if (h.kind & kBitGraph) {
        readGraph(dbm, h, first);
        return;
    }
    kernels::active().readFull(dbm, fullView(h));
}

// ----- comparing -----

// Equality of a matrix with a graph kind, given the matrix's graph without zero lower bounds.
bool equalToGraph(const bound_t* dbm, uint32_t n, const uint32_t* bits, uint32_t count, const Header& h,
                  uint32_t headerWord)
{
    if (count != h.count) return false;
    if (h.kind & kBitPairs) {
        if (h.count == 0) return isInit(dbm, n);
        return forEachGraph(h, headerWord, [&](uint32_t, uint32_t, uint32_t e, bound_t b) {
            return dbm[e] == b && testBit(bits, e);
        });
    }
    if (!base::equalWords(bits, bitMatrixOf(h), bitMatrixWords(n))) return false;
    return forEachGraph(h, headerWord, [&](uint32_t, uint32_t, uint32_t e, bound_t b) { return dbm[e] == b; });
}

bool equalToFull(const bound_t* dbm, const Header& h)
{
    return kernels::active().compareFull(dbm, fullView(h), 0) == 0;
}

// Result of comparing a matrix with an encoded zone in the encoded form.
struct EncodedRelation {
    relation_t relation;
    bool exact;
};

// The one-word form of dimension 1, or a header of another dimension: answered from the header.
bool answeredByHeader(const bound_t* dbm, uint32_t n, uint32_t headerWord, bool withScratch, relation_t& result)
{
    if (headerWord == 1) {
        const bool same = n == 1 && dbm[0] == kLeZero;
        result = same ? (withScratch ? EQUAL : SUBSET) : DIFFERENT;
        return true;
    }
    if ((headerWord & 0xffff) != n || headerWord == 0) {
        result = (headerWord == 0 && n == 0) ? (withScratch ? EQUAL : SUBSET) : DIFFERENT;
        return true;
    }
    return false;
}

EncodedRelation relateInEncodedForm(const bound_t* dbm, const Header& h, uint32_t headerWord, bool withScratch)
{
    if (!(h.kind & kBitGraph)) {
        // A stored bound tighter than the matrix's shows points of the matrix outside the stored
        // zone, a looser one points of the stored zone outside the matrix. Without a scratch matrix
        // only the first matters.
        const uint32_t both = kernels::GRAPH_TIGHTER | kernels::GRAPH_LOOSER;
        const uint32_t found =
            kernels::active().compareFull(dbm, fullView(h), withScratch ? both : kernels::GRAPH_TIGHTER);
        if (!withScratch) return {(found & kernels::GRAPH_TIGHTER) ? DIFFERENT : SUBSET, true};
        switch (found) {
        case 0: return {EQUAL, true};
        case kernels::GRAPH_LOOSER: return {SUBSET, true};
        case kernels::GRAPH_TIGHTER: return {SUPERSET, true};
        default: return {DIFFERENT, true};
        }
    }
    if (h.count == 0) return {SUBSET, false};
    // A stored bound tighter than the matrix's shows points of the matrix outside the stored zone;
    // a looser one (the graph's bounds are those of the closed stored zone) shows points of the
    // stored zone outside the matrix. Without a scratch matrix only the first matters, so the walk
    // stops there; with one it goes on until both are seen, which makes the zones Different
    // without decoding.
    const uint32_t found = kernels::active().compareGraph(dbm, graphView(h, headerWord), withScratch);
    const bool tighter = found & kernels::GRAPH_TIGHTER;
    const bool looser = found & kernels::GRAPH_LOOSER;
    if (tighter) return {DIFFERENT, looser || !withScratch};
    // Included; with a looser bound the inclusion is strict, otherwise only decoding tells
    // Subset from Equal.
    return {SUBSET, looser};
}

relation_t relate(const bound_t* dbm, uint32_t n, const uint32_t* encoded, bound_t* scratch, bool fast)
{
    const uint32_t headerWord = encoded[0];
    relation_t result;
    const Header h = parseHeader(encoded, "compute relation with");
    if (answeredByHeader(dbm, n, headerWord, scratch != nullptr, result)) return result;
    const EncodedRelation r = relateInEncodedForm(dbm, h, headerWord, scratch != nullptr);
    if (scratch == nullptr || r.exact) return r.relation;
    if (fast && r.relation == SUBSET) return r.relation;
    // Decoded even when the graph has no bound: the caller keeps the decoded matrix.
    readGraph(scratch, h, headerWord);
    return relation(dbm, n, scratch);
}
}  // namespace

uint32_t analyzeMinimalGraph(const bound_t* dbm, uint32_t n, uint32_t* bitMatrix)
{
    const uint32_t words = bitMatrixWords(n);
    for (uint32_t k = 0; k < words; ++k)
        bitMatrix[k] = 0;
    if (n < 2) return 0;
    if (n == 2) {
        setBit(bitMatrix, 1);
        if (isFinite(dbm[2])) {
            setBit(bitMatrix, 2);
            return 2;
        }
        return 1;
    }

    // next[c]: 0 while clock c is not placed, -1 for the last clock of its class, else its successor.
    // leaderBits and fixed are clock bit arrays of n with a spare word (zero in leaderBits).
    const kernels::KernelTable& kernel = kernels::active();
    const uint32_t bitArrayWords = bitWords(n) + 1;
    Scratch<256> space(2 * size_t{n} + 2 * size_t{bitArrayWords});
    uint32_t* leaders = space.get();
    int32_t* next = reinterpret_cast<int32_t*>(space.get() + n);
    uint32_t* leaderBits = space.get() + 2 * size_t{n};
    uint32_t* fixed = leaderBits + bitArrayWords;
    for (uint32_t c = 0; c < n; ++c)
        next[c] = 0;
    for (uint32_t w = 0; w < bitArrayWords; ++w)
        leaderBits[w] = 0;

    uint32_t leaderCount = 0;
    for (uint32_t c = 0; c < n; ++c) {
        if (next[c] != 0) continue;
        leaders[leaderCount++] = c;
        setBit(leaderBits, c);
        uint32_t last = c;
        // The later clocks whose difference to c is fixed, in increasing order, join c's class.
        for (uint32_t w = c >> 5; w < bitArrayWords; ++w)
            fixed[w] = 0;
        kernel.fixedDifferences(dbm, n, c, fixed);
        for (uint32_t w = c >> 5; w < bitArrayWords; ++w) {
            for (uint32_t bits = fixed[w]; bits != 0; bits &= bits - 1) {
                const uint32_t j = w * 32 + static_cast<uint32_t>(__builtin_ctz(bits));
                if (next[j] != 0) continue;
                next[last] = static_cast<int32_t>(j);
                last = j;
            }
        }
        next[last] = -1;
    }

    uint32_t count = kernel.graphBetweenLeaders(dbm, n, leaders, leaderCount, leaderBits, bitMatrix);

    for (uint32_t a = 0; a < leaderCount; ++a) {
        const uint32_t leader = leaders[a];
        if (next[leader] < 0) continue;
        uint32_t c = leader;
        while (next[c] > 0) {
            const uint32_t m = static_cast<uint32_t>(next[c]);
            setBit(bitMatrix, c * n + m);
            ++count;
            c = m;
        }
        setBit(bitMatrix, c * n + leader);
        ++count;
    }
    return count;
}

uint32_t cleanZeroLowerBounds(const bound_t* dbm, uint32_t n, uint32_t* bitMatrix, uint32_t count)
{
    for (uint32_t i = 1; i < n; ++i) {
        if (dbm[i] == kLeZero && testBit(bitMatrix, i)) {
            clearBit(bitMatrix, i);
            --count;
        }
    }
    return count;
}

uint32_t* writeEncoded(const bound_t* dbm, uint32_t n, bool minimalGraph, bool use16Bits, uint32_t reserved,
                       void* context, encoded_allocator_t allocator, encoded_deallocator_t)
{
    if (n < 3) return writeSmall(dbm, n, reserved, context, allocator);
    const bool is16 = use16Bits && fits16(dbm, n);
    if (!minimalGraph) return writeFull(dbm, n, is16, reserved, context, allocator);
    Scratch<512> bits(bitMatrixWords(n));
    uint32_t count = analyzeMinimalGraph(dbm, n, bits.get());
    count = cleanZeroLowerBounds(dbm, n, bits.get(), count);
    if (count == 0) return writeUnconstrained(n, reserved, context, allocator);
    return writeChosenForm(dbm, n, bits.get(), count, is16, reserved, context, allocator);
}

uint32_t* writeEncodedFromGraph(const bound_t* dbm, uint32_t n, uint32_t* bitMatrix, uint32_t count, bool use16Bits,
                                uint32_t reserved, void* context, encoded_allocator_t allocator, encoded_deallocator_t)
{
    if (n > 1) count = cleanZeroLowerBounds(dbm, n, bitMatrix, count);
    if (count == 0) return writeUnconstrained(n, reserved, context, allocator);
    if (n < 3) return writeSmall(dbm, n, reserved, context, allocator);
    const bool is16 = use16Bits && fits16(dbm, n);
    return writeChosenForm(dbm, n, bitMatrix, count, is16, reserved, context, allocator);
}

void readEncoded(bound_t* dbm, const uint32_t* encoded) { read(dbm, encoded); }

uint32_t encodedDimension(const uint32_t* encoded) { return encoded[0] & 0xffff; }

uint32_t encodedSize(const uint32_t* encoded)
{
    if (encoded[0] <= 1) return 1;
    const Header h = parseHeader(encoded, "read");
    const uint32_t n = h.n;
    const bool is16 = h.kind & kBit16;
    if (!(h.kind & kBitGraph)) return 1 + (is16 ? n * (n - 1) / 2 : n * (n - 1));
    const uint32_t prefix = static_cast<uint32_t>(h.data - encoded) + boundsPartWords(h.count, is16);
    if (!(h.kind & kBitPairs)) return prefix + bitMatrixWords(n);
    const uint32_t pairBits = 8u << ((encoded[0] >> kWidthShift) & 3);
    return prefix + static_cast<uint32_t>((uint64_t{h.count} * pairBits + 31) / 32);
}

uint32_t encodedFormatNumber(const uint32_t* encoded)
{
    static constexpr uint32_t numbers[8] = {1, 4, 7, 7, 2, 5, 3, 6};
    if (encoded[0] == 1) return 0;
    return numbers[(encoded[0] >> kKindShift) & 7];
}

bool isEqualToEncoded(const bound_t* dbm, uint32_t n, const uint32_t* encoded)
{
    const uint32_t headerWord = encoded[0];
    const Header h = parseHeader(encoded, "compare with");
    if (headerWord == 1) return n == 1 && dbm[0] == kLeZero;
    if (h.n != n) return false;
    if (!(h.kind & kBitGraph)) return equalToFull(dbm, h);
    Scratch<512> bits(bitMatrixWords(n));
    uint32_t count = analyzeMinimalGraph(dbm, n, bits.get());
    count = cleanZeroLowerBounds(dbm, n, bits.get(), count);
    return equalToGraph(dbm, n, bits.get(), count, h, headerWord);
}

bool isEqualToEncodedGraph(const bound_t* dbm, uint32_t n, uint32_t* bitMatrix, uint32_t* count,
                           const uint32_t* encoded)
{
    const uint32_t headerWord = encoded[0];
    const Header h = parseHeader(encoded, "compare with");
    *count = cleanZeroLowerBounds(dbm, n, bitMatrix, *count);
    if (headerWord == 1) return n == 1 && dbm[0] == kLeZero;
    if (h.n != n) return false;
    if (!(h.kind & kBitGraph)) return equalToFull(dbm, h);
    return equalToGraph(dbm, n, bitMatrix, *count, h, headerWord);
}

bool isEqualToEncodedDecoding(const bound_t* dbm, uint32_t n, const uint32_t* encoded, bound_t* scratch)
{
    const uint32_t headerWord = encoded[0];
    const Header h = parseHeader(encoded, "compare with");
    if (headerWord == 1) return n == 1 && dbm[0] == kLeZero;
    if (h.n != n) return false;
    if (!(h.kind & kBitGraph)) return equalToFull(dbm, h);
    readGraph(scratch, h, headerWord);
    return base::equalWords(reinterpret_cast<const uint32_t*>(dbm), reinterpret_cast<const uint32_t*>(scratch), n * n);
}

relation_t relationToEncoded(const bound_t* dbm, uint32_t n, const uint32_t* encoded, bound_t* scratch)
{
    return relate(dbm, n, encoded, scratch, false);
}

relation_t relationToEncodedFast(const bound_t* dbm, uint32_t n, const uint32_t* encoded, bound_t* scratch)
{
    return relate(dbm, n, encoded, scratch, true);
}

bool encodedHasZero(const uint32_t* encoded)
{
    const uint32_t headerWord = encoded[0];
    if (headerWord <= 1) return true;
    const Header h = parseHeader(encoded, "test");
    if (!(h.kind & kBitGraph)) {
        // Row 0, the lower bounds, comes first.
        const uint32_t n = h.n;
        for (uint32_t k = 0; k + 1 < n; ++k) {
            const bound_t b = (h.kind & kBit16) ? readFull16(h.data, k) : static_cast<bound_t>(h.data[k]);
            if (b <= 0) return false;
        }
        return true;
    }
    return forEachGraph(h, headerWord, [](uint32_t, uint32_t, uint32_t, bound_t b) { return b > 0; });
}

void convexUnionEncoded(bound_t* dbm, uint32_t n, const uint32_t* encoded, bound_t* scratch)
{
    if (n <= 1) return;
    const uint32_t headerWord = encoded[0];
    const Header h = parseHeader(encoded, "read");
    if (!(h.kind & kBitGraph)) {
        forEachFull(h, [&](uint32_t pos, bound_t b) {
            if (b > dbm[pos]) dbm[pos] = b;
            return true;
        });
    } else if (h.count == 0) {
        init(dbm, n);
    } else {
        readGraph(scratch, h, headerWord);
        convexUnion(dbm, n, scratch);
    }
}

void listGraphBounds(const uint32_t* bitMatrix, uint32_t count, uint32_t* out, uint32_t n)
{
    uint32_t k = 0;
    for (uint32_t w = 0; k < count; ++w) {
        for (uint32_t bits = bitMatrix[w]; bits != 0 && k < count; bits &= bits - 1) {
            const uint32_t e = w * 32 + static_cast<uint32_t>(__builtin_ctz(bits));
            out[k++] = (e / n) | ((e % n) << 16);
        }
    }
}

uint32_t encodedMinimalGraph(uint32_t* bitMatrix, const uint32_t* encoded, bool scratchHoldsMatrix, bound_t* scratch)
{
    const uint32_t headerWord = encoded[0];
    if (headerWord <= 1) {
        if (headerWord == 1) bitMatrix[0] = 0;
        return 0;
    }
    const Header h = parseHeader(encoded, "read");
    if (!scratchHoldsMatrix) read(scratch, encoded);
    // The graph of the decoded zone is the stored graph together with the zero lower bounds that the
    // writer left out because the unconstrained zone implies them.
    return analyzeMinimalGraph(scratch, h.n, bitMatrix);
}
uint32_t maxBoundMagnitude(const bound_t* dbm, uint32_t n)
{
    // The OR of the magnitudes is cheaper than a maximum and only slightly stricter: its bit length is
    // that of the largest magnitude.
    return kernels::active().magnitudeBits(dbm, n * n);
}

bool equalToEncoded(const bound_t* dbm, uint32_t n, const uint32_t* encoded)
{
    return isEqualToEncoded(dbm, n, encoded);
}

bool equalToEncodedGraph(const bound_t* dbm, uint32_t n, uint32_t* bitMatrix, uint32_t* count,
                         const uint32_t* encoded)
{
    return isEqualToEncodedGraph(dbm, n, bitMatrix, count, encoded);
}

}  // namespace dbm
