#include "statespace/discrete_storage.h"

#include <algorithm>
#include <bit>
#include <new>

#include "support/hash.h"

namespace storage {

namespace {

constexpr uint32_t hashBits = 0xffff0000u;
// The table doubles while its mask stays below this (up to 2^26 buckets).
constexpr uint32_t largestMask = 0x3ffffff;

// Words of a node in front of its data: the link (two words) and the header.
constexpr uint32_t nodeFrontWords = 3;

// Copy format header.
constexpr uint32_t copyLongCount = 0x8000;
constexpr uint32_t copyCountLimit = 0x8000;

// Compressed node header.
constexpr uint32_t widthMask = 0x7;
constexpr uint32_t longCountFlag = 0x8;
constexpr uint32_t deltaFlag = 0x10;
constexpr uint32_t compressedCountLimit = 2048;

// Handle tags (two low bits).
constexpr uint32_t tagNode = 0;
constexpr uint32_t tagUniform = 1;
constexpr uint32_t tagInline = 2;
constexpr uint32_t tagDelta = 3;

uint32_t elementMask(uint32_t widthCode)
{
    return widthCode >= 5 ? 0xffffffffu : (1u << (1u << widthCode)) - 1u;
}

// Sign-extends the low `bits` bits.
int32_t signExtend(uint32_t value, uint32_t bits)
{
    if (bits >= 32) {
        return static_cast<int32_t>(value);
    }
    const uint32_t shiftUp = 32 - bits;
    return static_cast<int32_t>(value << shiftUp) >> shiftUp;
}

uint32_t dataWords(uint32_t n, uint32_t widthCode)
{
    return static_cast<uint32_t>((static_cast<uint64_t>(n) << widthCode) + 31) / 32;
}

// The bits of a value that compressing must keep: v for v >= 0, -v-1 for v < 0.
uint32_t magnitude(int32_t v)
{
    return static_cast<uint32_t>(v ^ (v >> 31));
}

// Element sources for the compressed forms: element i as an unsigned word.
struct IntSource
{
    const int32_t* values;
    uint32_t operator()(uint32_t i) const { return static_cast<uint32_t>(values[i]); }
};
struct MaskedSource
{
    const int32_t* values;
    const uint32_t* positions;
    uint32_t operator()(uint32_t i) const { return static_cast<uint32_t>(values[positions[i]]); }
};
struct IndexSource
{
    const uint32_t* indices;
    uint32_t operator()(uint32_t i) const { return indices[i]; }
};

// Element i as stored: the difference to the previous element for delta-coded forms.
template <class Source>
uint32_t codedElement(const Source& source, uint32_t i, bool delta)
{
    const uint32_t value = source(i);
    return delta && i > 0 ? value - source(i - 1) : value;
}

// The form of an integer vector of k elements whose statistics were taken over the positions that
// matter (OR, AND and magnitude); `single` says whether the single-element form may be used.
CompressIntStorage::Form integerForm(uint32_t k, uint32_t orBits, uint32_t andBits, uint32_t m, bool single,
                                     int32_t first)
{
    CompressIntStorage::Form form;
    form.n = k;
    if (k == 0) {
        return form;
    }
    if (orBits == andBits && m == 0 && k < (1u << 29)) {
        form.inlineHandle = (orBits & 0x80000000u) | (k << 2) | tagUniform;
        return form;
    }
    if (k < 24) {
        if (single && k == 1 && m < (1u << 25)) {
            const uint32_t word = (static_cast<uint32_t>(first) << 6) | 14u;
            form.inlineHandle = static_cast<handle_t>(static_cast<int64_t>(static_cast<int32_t>(word)));
            return form;
        }
        int c = -1;
        if (m > 127) {
            c = -1;
        } else if (m == 0) {
            c = 0;
        } else if (k > 12) {
            c = -1;
        } else if (m < 2) {
            c = 1;
        } else if (k > 6) {
            c = -1;
        } else if (m < 8) {
            c = 2;
        } else if (k > 3) {
            c = -1;
        } else {
            c = 3;
        }
        if (c >= 0) {
            form.elements = true;
            form.widthCode = static_cast<uint32_t>(c);
            form.inlineHandle = (k << 4) | (form.widthCode << 2) | tagInline;
            return form;
        }
    }
    form.node = true;
    form.widthCode = m <= 1 ? 1 : m <= 7 ? 2 : m <= 127 ? 3 : m <= 0x7fff ? 4 : 5;
    form.header = form.widthCode | (k < compressedCountLimit ? k << 5 : longCountFlag);
    return form;
}

CompressIntStorage::Form locationForm(const uint32_t* indices, uint32_t n)
{
    CompressIntStorage::Form form;
    form.n = n;
    if (n == 0) {
        return form;
    }
    uint32_t all = 0;
    uint32_t deltas = 0;
    uint32_t previous = 0;
    for (uint32_t i = 0; i < n; ++i) {
        all |= indices[i];
        deltas |= indices[i] - previous;
        previous = indices[i];
    }
    form.delta = deltas < all;
    const uint32_t decider = form.delta ? deltas : all;
    if (n < 24) {
        if (!form.delta && n == 1 && all < (1u << 22)) {
            form.inlineHandle = (static_cast<handle_t>(indices[0]) << 6) | 14u;
            return form;
        }
        int c = -1;
        if (decider < 256) {
            if (decider < 2) {
                c = 0;
            } else if (n > 12) {
                c = -1;
            } else if (decider < 4) {
                c = 1;
            } else if (n < 7 && decider < 16) {
                c = 2;
            } else if (n < 4) {
                c = 3;
            }
        }
        if (c >= 0) {
            form.elements = true;
            form.widthCode = static_cast<uint32_t>(c);
            form.inlineHandle = (n << 4) | (form.widthCode << 2) | (form.delta ? tagDelta : tagInline);
            return form;
        }
    }
    form.node = true;
    form.widthCode = decider < 2 ? 0 : decider < 4 ? 1 : decider < 16 ? 2 : decider < 256 ? 3 : decider < 65536 ? 4 : 5;
    form.header = (form.delta ? deltaFlag : 0) | form.widthCode | (n < compressedCountLimit ? n << 5 : longCountFlag);
    return form;
}

// The inline handle of a form that needs its elements written (forms with tags 10 and 11 and a
// count): elements from bit 9 - c, each 2^c bits wide.
template <class Source>
handle_t inlineWithElements(const CompressIntStorage::Form& form, const Source& source)
{
    if (!form.elements) {
        return form.inlineHandle;
    }
    const uint32_t width = 1u << form.widthCode;
    const uint32_t mask = elementMask(form.widthCode);
    uint32_t word = static_cast<uint32_t>(form.inlineHandle);
    uint32_t bit = 9 - form.widthCode;
    for (uint32_t i = 0; i < form.n; ++i, bit += width) {
        word |= (codedElement(source, i, form.delta) & mask) << bit;
    }
    return word;
}

// Data word w of a node of the given form.
template <class Source>
uint32_t dataWord(const CompressIntStorage::Form& form, const Source& source, uint32_t w)
{
    const uint32_t e = form.widthCode;
    if (e >= 5) {
        return source(w);
    }
    const bool delta = form.delta;
    const uint32_t perWord = 32u >> e;
    const uint32_t begin = w * perWord;
    const uint32_t end = std::min(form.n, begin + perWord);
    const uint32_t mask = elementMask(e);
    uint32_t word = 0;
    for (uint32_t i = begin; i < end; ++i) {
        word |= (codedElement(source, i, delta) & mask) << ((i - begin) << e);
    }
    return word;
}

}  // namespace

// ---- Common table --------------------------------------------------------------------------------

DiscreteStorage::DiscreteStorage(base::DataAllocator* allocator, uint32_t shift)
    : allocator(allocator), shift(shift), buckets(new Node*[static_cast<std::size_t>(mask) + 1]())
{}

DiscreteStorage::~DiscreteStorage()
{
    delete[] buckets;
}

DiscreteStorage::Node* DiscreteStorage::nodeOf(handle_t handle)
{
    return reinterpret_cast<Node*>(handle - offsetof(Node, hash));
}

DiscreteStorage::Node* DiscreteStorage::addNode(uint32_t header, uint32_t hash, uint32_t words)
{
    uint32_t* memory = allocator->allocate(words);
    // The bucket is chosen by the full hash; the header keeps its upper half, which is all that
    // doubling the table reads, since the table never has fewer than 65536 buckets.
    Node*& head = buckets[hash & mask];
    Node* node = new (memory) Node{head, header, 0};
    head = node;
    ++nodeCount;
    if ((mask >> shift) < nodeCount && growthAllowed) {
        base::growHashTable(buckets, mask);
        growthAllowed = mask < largestMask;
    }
    return node;
}

const uint32_t* DiscreteStorage::maskedPositions(uint32_t n, const uint32_t* maskBits, uint32_t maskWords,
                                                 uint32_t& k)
{
    positions.clear();
    const uint32_t limit = std::min(n, maskWords * 32);
    for (uint32_t i = 0; i < limit; ++i) {
        if (base::testBit(maskBits, i)) {
            positions.push_back(i);
        }
    }
    k = static_cast<uint32_t>(positions.size());
    return positions.data();
}

// ---- Copy kind -----------------------------------------------------------------------------------

CopyIntStorage::CopyIntStorage(base::DataAllocator* allocator, uint32_t shift) : DiscreteStorage(allocator, shift) {}

uint32_t CopyIntStorage::countOf(handle_t handle)
{
    const uint32_t* header = headerOf(handle);
    return (*header & copyLongCount) != 0 ? header[1] : (*header & 0x7fff);
}

const uint32_t* CopyIntStorage::dataOf(handle_t handle)
{
    const uint32_t* header = headerOf(handle);
    return header + ((*header & copyLongCount) != 0 ? 2 : 1);
}

handle_t CopyIntStorage::packWords(const uint32_t* words, uint32_t n, uint32_t hash)
{
    if (n == 0) {
        return 0;
    }
    const bool longCount = n >= copyCountLimit;
    const uint32_t header = (hash & hashBits) | (longCount ? copyLongCount : n);
    for (Node* node = buckets[hash & mask]; node != nullptr; node = node->next) {
        if (node->hash != header) {
            continue;
        }
        const handle_t handle = handleOf(node);
        if (longCount && node->data != n) {
            continue;
        }
        if (base::equalWords(dataOf(handle), words, n)) {
            return handle;
        }
    }
    Node* created = addNode(header, hash, nodeFrontWords + (longCount ? 1 : 0) + n);
    uint32_t* data = &created->data;
    if (longCount) {
        *data++ = n;
    }
    base::copyWords(data, words, n);
    return handleOf(created);
}

bool CopyIntStorage::equalWords(const uint32_t* words, uint32_t n, handle_t handle) const
{
    if (handle == 0) {
        return n == 0;
    }
    return countOf(handle) == n && base::equalWords(dataOf(handle), words, n);
}

void CopyIntStorage::expandRecords(const ChainedRecord** out, const ChainedRecord* records, handle_t handle)
{
    if (handle == 0) {
        return;
    }
    const uint32_t n = countOf(handle);
    const uint32_t* data = dataOf(handle);
    for (uint32_t i = 0; i < n; ++i) {
        for (const ChainedRecord* r = &records[data[i]]; r != nullptr; r = r->link) {
            out[r->position] = r;
        }
    }
}

uint32_t CopyIntStorage::unpackLocations(uint32_t* out, handle_t handle)
{
    if (handle == 0) {
        return 0;
    }
    const uint32_t n = countOf(handle);
    base::copyWords(out, dataOf(handle), n);
    return n;
}

handle_t CopyIntStorage::packLocations(const uint32_t* indices, uint32_t n, uint32_t hash)
{
    return packWords(indices, n, hash);
}

bool CopyIntStorage::equalLocations(const uint32_t* indices, uint32_t n, handle_t handle)
{
    return equalWords(indices, n, handle);
}

uint32_t CopyIntStorage::unpackIntegers(int32_t* out, handle_t handle)
{
    return unpackLocations(reinterpret_cast<uint32_t*>(out), handle);
}

handle_t CopyIntStorage::packIntegers(const int32_t* values, uint32_t n, uint32_t hash)
{
    return packWords(reinterpret_cast<const uint32_t*>(values), n, hash);
}

bool CopyIntStorage::equalIntegers(const int32_t* values, uint32_t n, handle_t handle)
{
    return equalWords(reinterpret_cast<const uint32_t*>(values), n, handle);
}

uint32_t CopyIntStorage::unpackMasked(int32_t* out, uint32_t n, handle_t handle, const uint32_t* maskBits)
{
    const uint32_t stored = handle == 0 ? 0 : countOf(handle);
    const uint32_t* data = stored == 0 ? nullptr : dataOf(handle);
    uint32_t k = 0;
    for (uint32_t i = 0; i < n; ++i) {
        out[i] = k < stored && base::testBit(maskBits, i) ? static_cast<int32_t>(data[k++]) : 0;
    }
    return stored;
}

handle_t CopyIntStorage::packMasked(const int32_t* values, uint32_t n, const uint32_t* maskBits,
                                    uint32_t maskWords, uint32_t hash)
{
    uint32_t k = 0;
    const uint32_t* at = maskedPositions(n, maskBits, maskWords, k);
    gathered.resize(k);
    for (uint32_t i = 0; i < k; ++i) {
        gathered[i] = values[at[i]];
    }
    return packWords(reinterpret_cast<const uint32_t*>(gathered.data()), k, hash);
}

bool CopyIntStorage::equalMasked(const int32_t* values, uint32_t n, handle_t handle, const uint32_t* maskBits,
                                 uint32_t maskWords)
{
    uint32_t k = 0;
    const uint32_t* at = maskedPositions(n, maskBits, maskWords, k);
    const uint32_t stored = handle == 0 ? 0 : countOf(handle);
    if (stored != k) {
        return false;
    }
    const uint32_t* data = stored == 0 ? nullptr : dataOf(handle);
    for (uint32_t i = 0; i < k; ++i) {
        if (data[i] != static_cast<uint32_t>(values[at[i]])) {
            return false;
        }
    }
    return true;
}

void CopyIntStorage::clear()
{
    std::fill_n(buckets, static_cast<std::size_t>(mask) + 1, nullptr);
    nodeCount = 0;
}

void CopyIntStorage::release(handle_t) {}

uint32_t CopyIntStorage::storedCount(handle_t handle)
{
    return handle == 0 ? 0 : countOf(handle);
}

// ---- Compressed kind -----------------------------------------------------------------------------

CompressIntStorage::CompressIntStorage(base::DataAllocator* allocator, uint32_t shift)
    : CopyIntStorage(allocator, shift)
{}

template <class Source>
handle_t CompressIntStorage::store(const Form& form, const Source& source, uint32_t hash)
{
    if (!form.node) {
        return inlineWithElements(form, source);
    }
    const uint32_t header = (hash & hashBits) | form.header;
    const bool longCount = (form.header & longCountFlag) != 0;
    const uint32_t words = dataWords(form.n, form.widthCode);
    for (Node* node = buckets[hash & mask]; node != nullptr; node = node->next) {
        if (node->hash != header) {
            continue;
        }
        if (longCount && node->data != form.n) {
            continue;
        }
        const uint32_t* data = &node->data + (longCount ? 1 : 0);
        uint32_t w = 0;
        while (w < words && data[w] == dataWord(form, source, w)) {
            ++w;
        }
        if (w == words) {
            return handleOf(node);
        }
    }
    Node* created = addNode(header, hash, nodeFrontWords + (longCount ? 1 : 0) + words);
    uint32_t* data = &created->data;
    if (longCount) {
        *data++ = form.n;
    }
    for (uint32_t w = 0; w < words; ++w) {
        data[w] = dataWord(form, source, w);
    }
    return handleOf(created);
}

template <class Source>
bool CompressIntStorage::equalTo(const Form& form, const Source& source, handle_t handle) const
{
    if (!form.node) {
        return handle == inlineWithElements(form, source);
    }
    if (handle == 0 || (handle & 3) != tagNode) {
        return false;
    }
    const uint32_t* header = headerOf(handle);
    if ((*header & ~hashBits) != form.header) {
        return false;
    }
    const bool longCount = (form.header & longCountFlag) != 0;
    if (longCount && header[1] != form.n) {
        return false;
    }
    const uint32_t* data = header + (longCount ? 2 : 1);
    const uint32_t words = dataWords(form.n, form.widthCode);
    for (uint32_t w = 0; w < words; ++w) {
        if (data[w] != dataWord(form, source, w)) {
            return false;
        }
    }
    return true;
}

// Calls sink(i, value) for every element of the vector: integers sign-extended, location indices
// absolute. Returns the count.
template <class Sink>
uint32_t CompressIntStorage::decode(handle_t handle, bool locations, const Sink& sink) const
{
    if (handle == 0) {
        return 0;
    }
    const uint32_t word = static_cast<uint32_t>(handle);
    const uint32_t tag = word & 3;
    if (tag == tagUniform) {
        const uint32_t n = (word >> 2) & 0x1fffffffu;
        const uint32_t value = (word & 0x80000000u) != 0 ? 0xffffffffu : 0u;
        for (uint32_t i = 0; i < n; ++i) {
            sink(i, value);
        }
        return n;
    }
    if (tag != tagNode) {
        const uint32_t c = (word >> 2) & 3;
        const uint32_t n = (word >> 4) & ((1u << (5 - c)) - 1);
        if (n == 0) {
            // Single element in bits 6-31.
            sink(0, locations ? word >> 6 : static_cast<uint32_t>(static_cast<int32_t>(word) >> 6));
            return 1;
        }
        const uint32_t width = 1u << c;
        const uint32_t mask = elementMask(c);
        uint32_t bit = 9 - c;
        uint32_t sum = 0;
        for (uint32_t i = 0; i < n; ++i, bit += width) {
            const uint32_t raw = (word >> bit) & mask;
            if (tag == tagDelta) {
                sum += raw;
                sink(i, sum);
            } else {
                sink(i, locations ? raw : static_cast<uint32_t>(signExtend(raw, width)));
            }
        }
        return n;
    }
    const uint32_t* header = headerOf(handle);
    const uint32_t e = *header & widthMask;
    const bool longCount = (*header & longCountFlag) != 0;
    const uint32_t n = longCount ? header[1] : (*header >> 5) & 0x7ff;
    const uint32_t* data = header + (longCount ? 2 : 1);
    if (e >= 5) {
        for (uint32_t i = 0; i < n; ++i) {
            sink(i, data[i]);
        }
        return n;
    }
    const bool delta = (*header & deltaFlag) != 0;
    const uint32_t width = 1u << e;
    const uint32_t mask = elementMask(e);
    uint32_t sum = 0;
    for (uint32_t i = 0; i < n; ++i) {
        const uint32_t position = i << e;
        const uint32_t raw = (data[position >> 5] >> (position & 31)) & mask;
        if (!locations) {
            sink(i, static_cast<uint32_t>(signExtend(raw, width)));
        } else if (delta) {
            sum += raw;
            sink(i, sum);
        } else {
            sink(i, raw);
        }
    }
    return n;
}

namespace {

struct IntegerStatistics
{
    uint32_t orBits = 0;
    uint32_t andBits = 0xffffffffu;
    uint32_t magnitude = 0;

    void add(int32_t v)
    {
        orBits |= static_cast<uint32_t>(v);
        andBits &= static_cast<uint32_t>(v);
        magnitude |= storage::magnitude(v);
    }
};

IntegerStatistics statisticsOf(const int32_t* values, uint32_t n)
{
    IntegerStatistics s;
    for (uint32_t i = 0; i < n; ++i) {
        s.add(values[i]);
    }
    return s;
}

}  // namespace

void CompressIntStorage::expandRecords(const ChainedRecord** out, const ChainedRecord* records, handle_t handle)
{
    decode(handle, true, [&](uint32_t, uint32_t index) {
        for (const ChainedRecord* r = &records[index]; r != nullptr; r = r->link) {
            out[r->position] = r;
        }
    });
}

uint32_t CompressIntStorage::unpackLocations(uint32_t* out, handle_t handle)
{
    return decode(handle, true, [out](uint32_t i, uint32_t value) { out[i] = value; });
}

handle_t CompressIntStorage::packLocations(const uint32_t* indices, uint32_t n, uint32_t hash)
{
    return store(locationForm(indices, n), IndexSource{indices}, hash);
}

bool CompressIntStorage::equalLocations(const uint32_t* indices, uint32_t n, handle_t handle)
{
    return equalTo(locationForm(indices, n), IndexSource{indices}, handle);
}

uint32_t CompressIntStorage::unpackIntegers(int32_t* out, handle_t handle)
{
    return decode(handle, false, [out](uint32_t i, uint32_t value) { out[i] = static_cast<int32_t>(value); });
}

handle_t CompressIntStorage::packIntegers(const int32_t* values, uint32_t n, uint32_t hash)
{
    const IntegerStatistics s = statisticsOf(values, n);
    const Form form = integerForm(n, s.orBits, s.andBits, s.magnitude, true, n > 0 ? values[0] : 0);
    return store(form, IntSource{values}, hash);
}

bool CompressIntStorage::equalIntegers(const int32_t* values, uint32_t n, handle_t handle)
{
    const IntegerStatistics s = statisticsOf(values, n);
    const Form form = integerForm(n, s.orBits, s.andBits, s.magnitude, true, n > 0 ? values[0] : 0);
    return equalTo(form, IntSource{values}, handle);
}

uint32_t CompressIntStorage::unpackMasked(int32_t* out, uint32_t n, handle_t handle, const uint32_t* maskBits)
{
    std::fill_n(out, n, 0);
    uint32_t position = 0;
    return decode(handle, false, [&](uint32_t, uint32_t value) {
        while (position < n && !base::testBit(maskBits, position)) {
            ++position;
        }
        if (position < n) {
            out[position++] = static_cast<int32_t>(value);
        }
    });
}

// Masked vectors keep the stored count k, but the uniform test, the magnitude and the single-element
// test look at all n positions: a form chosen that way always has room for the masked values.
handle_t CompressIntStorage::packMasked(const int32_t* values, uint32_t n, const uint32_t* maskBits,
                                        uint32_t maskWords, uint32_t hash)
{
    uint32_t k = 0;
    const uint32_t* at = maskedPositions(n, maskBits, maskWords, k);
    const IntegerStatistics s = statisticsOf(values, n);
    const Form form = integerForm(k, s.orBits, s.andBits, s.magnitude, n == 1, k > 0 ? values[at[0]] : 0);
    return store(form, MaskedSource{values, at}, hash);
}

bool CompressIntStorage::equalMasked(const int32_t* values, uint32_t n, handle_t handle, const uint32_t* maskBits,
                                     uint32_t maskWords)
{
    uint32_t k = 0;
    const uint32_t* at = maskedPositions(n, maskBits, maskWords, k);
    const IntegerStatistics s = statisticsOf(values, n);
    const Form form = integerForm(k, s.orBits, s.andBits, s.magnitude, n == 1, k > 0 ? values[at[0]] : 0);
    return equalTo(form, MaskedSource{values, at}, handle);
}

uint32_t CompressIntStorage::storedCount(handle_t handle)
{
    return decode(handle, false, [](uint32_t, uint32_t) {});
}

// ---- Factory -------------------------------------------------------------------------------------

base::RefPtr<DiscreteStorage> makeDiscreteStorage(base::DataAllocator* allocator, uint32_t shift, int kind)
{
    if (kind == 1) {
        return base::RefPtr<DiscreteStorage>(new CompressIntStorage(allocator, shift));
    }
    return base::RefPtr<DiscreteStorage>(new CopyIntStorage(allocator, shift));
}

const char* discreteStorageName(int kind)
{
    return kind == 1 ? "Compress integers" : "Copy integers";
}

}  // namespace storage
