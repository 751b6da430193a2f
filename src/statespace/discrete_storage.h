#pragma once

// Hash-consed storage of the discrete part of stored states: location vectors (as global location
// indices), integer variables and meta variables. A vector becomes a 64-bit handle; equal vectors
// get the same handle, so the states of a large state space share their common vectors.
//
// Handles: 0 is the empty vector; any other handle whose two low bits are 00 is the address of the
// header word of a stored node. The compressing kind also keeps small vectors inside the handle:
//   low bits 01  uniform integer vector: bits 2-30 the count, bit 31 set for all -1, clear for all 0
//   low bits 10  inline: bits 2-3 c (element width 2^c bits), bits 4..8-c the count, elements from
//                bit 9-c upwards; a count of 0 (only with c = 3) is the single-element form, whose
//                element lies in bits 6-31 (integers sign-extended to 64 bits)
//   low bits 11  inline location vector whose elements are the differences to the previous index
//
// A stored node is {next node of the bucket, 32-bit header, [32-bit count], data words}; the handle
// points at the header. Nodes live as long as the storage: their memory belongs to the allocator.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "support/object.h"
#include "support/pool.h"

namespace storage {

using handle_t = uint64_t;

// The record shape read by DiscreteStorage::expandRecords: its first field is the output position,
// and records may be chained through `link`.
struct ChainedRecord
{
    uint32_t position;
    const ChainedRecord* link;
};

class DiscreteStorage : public base::Object
{
public:
    // For every index of the stored location-style vector, takes records[index] and every record
    // chained from it, and stores each at out[record->position].
    virtual void expandRecords(const ChainedRecord** out, const ChainedRecord* records, handle_t handle) = 0;

    // Location vectors, given as global location indices (the store turns Location pointers into
    // indices and back). unpack returns the number of elements written.
    virtual uint32_t unpackLocations(uint32_t* out, handle_t handle) = 0;
    virtual handle_t packLocations(const uint32_t* indices, uint32_t n, uint32_t hash) = 0;
    virtual bool equalLocations(const uint32_t* indices, uint32_t n, handle_t handle) = 0;

    virtual uint32_t unpackIntegers(int32_t* out, handle_t handle) = 0;
    virtual handle_t packIntegers(const int32_t* values, uint32_t n, uint32_t hash) = 0;
    virtual bool equalIntegers(const int32_t* values, uint32_t n, handle_t handle) = 0;

    // The positions of values whose bit is set in `mask` (bit i of word w for position 32 w + i),
    // stored in position order. unpack writes 0 to the other positions and returns the stored count.
    virtual uint32_t unpackMasked(int32_t* out, uint32_t n, handle_t handle, const uint32_t* mask) = 0;
    virtual handle_t packMasked(const int32_t* values, uint32_t n, const uint32_t* mask, uint32_t maskWords,
                                uint32_t hash) = 0;
    virtual bool equalMasked(const int32_t* values, uint32_t n, handle_t handle, const uint32_t* mask,
                             uint32_t maskWords) = 0;

    // Forgets every stored vector (their memory stays with the allocator); handles given out before
    // are not found again.
    virtual void clear() = 0;
    // Stored vectors live as long as the storage: nothing to do.
    virtual void release(handle_t handle) = 0;
    // Number of elements of the stored vector.
    virtual uint32_t storedCount(handle_t handle) = 0;

    // Figures for tests and reports.
    uint64_t getNodeCount() const { return nodeCount; }
    uint32_t getBucketCount() const { return mask + 1; }

protected:
    DiscreteStorage(base::DataAllocator* allocator, uint32_t shift);
    ~DiscreteStorage() override;
    DiscreteStorage(const DiscreteStorage&) = delete;
    DiscreteStorage& operator=(const DiscreteStorage&) = delete;

    // A stored node as laid out in memory: `header` is where handles point; `data` is the first word
    // after it (the long count or the first data word). Nodes are at least this large.
    struct Node
    {
        Node* next;
        uint32_t hash;  // the header word; bits 16-31 are bits 16-31 of the caller's hash
        uint32_t data;
    };
    static Node* nodeOf(handle_t handle);
    static const uint32_t* headerOf(handle_t handle) { return reinterpret_cast<const uint32_t*>(handle); }
    static handle_t handleOf(Node* node) { return reinterpret_cast<handle_t>(&node->hash); }

    // Head of the chain of a hash.
    Node* chain(uint32_t hash) const { return buckets[hash & mask]; }
    // A new node of `words` 32-bit words with the given header, linked at the head of the chain of
    // `hash`; counts it and grows the table when due. The caller writes the words after the header.
    Node* addNode(uint32_t header, uint32_t hash, uint32_t words);

    // Positions of the set bits of a mask, in increasing order, kept in a reused buffer.
    const uint32_t* maskedPositions(uint32_t n, const uint32_t* mask, uint32_t maskWords, uint32_t& k);

    base::RefPtr<base::DataAllocator> allocator;
    uint64_t nodeCount = 0;
    uint32_t mask = 0xffff;
    uint32_t shift;
    bool growthAllowed = true;
    Node** buckets;
    std::vector<uint32_t> positions;
    std::vector<int32_t> gathered;
};

// Keeps every non-empty vector as a node holding it verbatim. Header bits 0-14: the count when below
// 32768, else 0 with bit 15 set and the count in the word after the header.
class CopyIntStorage : public DiscreteStorage
{
public:
    CopyIntStorage(base::DataAllocator* allocator, uint32_t shift);

    void expandRecords(const ChainedRecord** out, const ChainedRecord* records, handle_t handle) override;
    uint32_t unpackLocations(uint32_t* out, handle_t handle) override;
    handle_t packLocations(const uint32_t* indices, uint32_t n, uint32_t hash) override;
    bool equalLocations(const uint32_t* indices, uint32_t n, handle_t handle) override;
    uint32_t unpackIntegers(int32_t* out, handle_t handle) override;
    handle_t packIntegers(const int32_t* values, uint32_t n, uint32_t hash) override;
    bool equalIntegers(const int32_t* values, uint32_t n, handle_t handle) override;
    uint32_t unpackMasked(int32_t* out, uint32_t n, handle_t handle, const uint32_t* mask) override;
    handle_t packMasked(const int32_t* values, uint32_t n, const uint32_t* mask, uint32_t maskWords,
                        uint32_t hash) override;
    bool equalMasked(const int32_t* values, uint32_t n, handle_t handle, const uint32_t* mask,
                     uint32_t maskWords) override;
    void clear() override;
    void release(handle_t handle) override;
    uint32_t storedCount(handle_t handle) override;

private:
    handle_t packWords(const uint32_t* words, uint32_t n, uint32_t hash);
    bool equalWords(const uint32_t* words, uint32_t n, handle_t handle) const;
    static uint32_t countOf(handle_t handle);
    static const uint32_t* dataOf(handle_t handle);
};

// Bit-packs every vector, and keeps small ones inside the handle (forms above). Node header:
// bits 0-2 the width code e (elements of 2^e bits), bit 3 a long count (n >= 2048, the count follows
// the header), bit 4 delta-coded locations, bits 5-15 the count when below 2048.
class CompressIntStorage : public CopyIntStorage
{
public:
    CompressIntStorage(base::DataAllocator* allocator, uint32_t shift);

    void expandRecords(const ChainedRecord** out, const ChainedRecord* records, handle_t handle) override;
    uint32_t unpackLocations(uint32_t* out, handle_t handle) override;
    handle_t packLocations(const uint32_t* indices, uint32_t n, uint32_t hash) override;
    bool equalLocations(const uint32_t* indices, uint32_t n, handle_t handle) override;
    uint32_t unpackIntegers(int32_t* out, handle_t handle) override;
    handle_t packIntegers(const int32_t* values, uint32_t n, uint32_t hash) override;
    bool equalIntegers(const int32_t* values, uint32_t n, handle_t handle) override;
    uint32_t unpackMasked(int32_t* out, uint32_t n, handle_t handle, const uint32_t* mask) override;
    handle_t packMasked(const int32_t* values, uint32_t n, const uint32_t* mask, uint32_t maskWords,
                        uint32_t hash) override;
    bool equalMasked(const int32_t* values, uint32_t n, handle_t handle, const uint32_t* mask,
                     uint32_t maskWords) override;
    uint32_t storedCount(handle_t handle) override;

    // How a vector is kept: a node with this header (hash bits not yet added), or an inline handle,
    // complete or still without its elements.
    struct Form
    {
        bool node = false;
        bool elements = false;  // the inline handle still needs its elements written
        handle_t inlineHandle = 0;
        uint32_t header = 0;
        uint32_t n = 0;
        uint32_t widthCode = 0;
        bool delta = false;
    };

private:
    template <class Source>
    handle_t store(const Form& form, const Source& source, uint32_t hash);
    template <class Source>
    bool equalTo(const Form& form, const Source& source, handle_t handle) const;
    template <class Sink>
    uint32_t decode(handle_t handle, bool locations, const Sink& sink) const;
};

// kind 1: CompressIntStorage; any other kind: CopyIntStorage.
base::RefPtr<DiscreteStorage> makeDiscreteStorage(base::DataAllocator* allocator, uint32_t shift, int kind);
// "Compress integers" for 1, "Copy integers" otherwise.
const char* discreteStorageName(int kind);

}  // namespace storage
