#include "dbm/block.h"

#include <cstring>
#include <new>

#include "dbm/zone.h"
#include "support/hash.h"

namespace dbm {

namespace {

// A pool of fixed-size items carved from chunks. A chunk is one allocation: a
// link to the previously carved chunk, then the items.
struct ChunkList {
    void* chunks = nullptr;
    size_t chunkCount = 0;
    size_t freeCount = 0;
    size_t itemsPerChunk;

    explicit ChunkList(size_t perChunk) : itemsPerChunk(perChunk) {}

    // A new chunk for items of itemSize bytes; returns its first item.
    void* carve(size_t itemSize)
    {
        void* chunk = ::operator new(sizeof(void*) + itemsPerChunk * itemSize);
        *static_cast<void**>(chunk) = chunks;
        chunks = chunk;
        ++chunkCount;
        freeCount += itemsPerChunk;
        return static_cast<char*>(chunk) + sizeof(void*);
    }
};

// Everything process-wide of the zone library's storage. It is made on first
// use and never torn down: zone and federation handles held in static objects
// of other units may be released during exit, after any destructor of ours
// would have run, so the memory is left to the end of the process.
struct Storage {
    DBMInternTable intern;
    DBMBlock** freeLists;
    uint32_t freeListSize;
    zone_t zero;
    ChunkList headerChunks{200};
    FederationHeader* freeHeaders = nullptr;
    ChunkList nodeChunks{600};
    FederationNode* freeNodes = nullptr;

    Storage();
};

Storage& storage()
{
    static Storage* const theStorage = new Storage();
    return *theStorage;
}

bool mergeSwitch = true;

constexpr uint32_t kInitialFreeListSize = 16;
constexpr uint32_t kInitialBucketMask = 0x7fff;
constexpr uint32_t kLargestBucketMask = 0x3ffffff;

DBMBlock* allocateFrom(Storage& s, uint32_t dim)
{
    if (dim < s.freeListSize) {
        DBMBlock* block = s.freeLists[dim];
        if (block != nullptr) {
            s.freeLists[dim] = block->next;
            return block;
        }
    }
    size_t entries = size_t(dim) * dim;
    return static_cast<DBMBlock*>(::operator new(sizeof(DBMBlock) + entries * sizeof(bound_t)));
}

void freeTo(Storage& s, DBMBlock* block)
{
    uint32_t dim = block->dim();
    if (dim >= s.freeListSize) {
        uint32_t size = dim + 8;
        DBMBlock** grown = new DBMBlock*[size]();
        std::memcpy(grown, s.freeLists, s.freeListSize * sizeof(DBMBlock*));
        delete[] s.freeLists;
        s.freeLists = grown;
        s.freeListSize = size;
    }
    block->next = s.freeLists[dim];
    s.freeLists[dim] = block;
}

void unlinkFrom(DBMInternTable& table, DBMBlock* block)
{
    *block->backLink = block->next;
    if (block->next != nullptr) block->next->backLink = block->backLink;
    --table.count;
    block->info &= ~kBlockInterned;
}

Storage::Storage()
{
    intern.count = 0;
    intern.mask = kInitialBucketMask;
    intern.loadShift = 0;
    intern.growthAllowed = true;
    intern.buckets = new DBMBlock*[size_t(kInitialBucketMask) + 1]();

    freeListSize = kInitialFreeListSize;
    freeLists = new DBMBlock*[kInitialFreeListSize]();

    // The shared zero DBM: the 1 x 1 matrix (<= 0), interned.
    DBMBlock* block = allocateFrom(*this, 1);
    block->info = 1;
    block->count = 1;
    block->matrix()[0] = BOUND_LE_ZERO;
    uint64_t hash = base::hash64(block->matrix(), sizeof(bound_t), 0);
    block->info |= kBlockInterned | (uint32_t(hash) & kBlockHashMask);
    DBMBlock** bucket = &intern.buckets[uint32_t(hash) & intern.mask];
    block->next = *bucket;
    block->backLink = bucket;
    if (block->next != nullptr) block->next->backLink = &block->next;
    *bucket = block;
    ++intern.count;
    zero = zone_t::adoptBlock(block);
}

}  // namespace

DBMBlock* allocateDBMBlock(uint32_t dim)
{
    return allocateFrom(storage(), dim);
}

void freeDBMBlock(DBMBlock* block)
{
    freeTo(storage(), block);
}

void releaseDBMBlock(DBMBlock* block)
{
    Storage& s = storage();
    if (block->isInterned()) unlinkFrom(s.intern, block);
    freeTo(s, block);
}

void unlinkInternedBlock(DBMBlock* block)
{
    unlinkFrom(storage().intern, block);
}

void copyMatrix(bound_t* dst, const bound_t* src, uint32_t dim)
{
    size_t entries = size_t(dim) * dim;
    if (entries < 180) {
        base::copyWords(dst, src, entries);
    } else {
        std::memcpy(dst, src, entries * sizeof(bound_t));
    }
}

void freeCachedDBMBlocks()
{
    Storage& s = storage();
    for (uint32_t d = 0; d < s.freeListSize; ++d) {
        DBMBlock* block = s.freeLists[d];
        while (block != nullptr) {
            DBMBlock* next = block->next;
            ::operator delete(block);
            block = next;
        }
        s.freeLists[d] = nullptr;
    }
}

uint32_t freeListTableSize()
{
    return storage().freeListSize;
}

DBMInternTable& internTable()
{
    return storage().intern;
}

void growDBMHashTable(DBMBlock**& table, uint32_t& mask)
{
    growDBMHashTable<DBMBlock>(table, mask);
}

void internZone(zone_t& zone)
{
    DBMBlock* block = zone.getBlock();
    if (block == nullptr || block->isInterned()) return;
    DBMInternTable& table = storage().intern;
    const uint32_t dim = block->dim();
    const size_t entries = size_t(dim) * dim;
    const uint32_t hash = uint32_t(base::hash64(block->matrix(), entries * sizeof(bound_t), 0));
    block->info = (block->info & ~kBlockHashMask) | kBlockInterned | (hash & kBlockHashMask);

    DBMBlock** bucket = &table.buckets[hash & table.mask];
    for (DBMBlock* other = *bucket; other != nullptr; other = other->next) {
        if (other->info == block->info && base::equalWords(other->matrix(), block->matrix(), entries)) {
            ++other->count;
            block->info &= ~kBlockInterned;
            zone.release();
            zone.word_ = reinterpret_cast<uintptr_t>(other);
            return;
        }
    }

    block->next = *bucket;
    block->backLink = bucket;
    if (block->next != nullptr) block->next->backLink = &block->next;
    *bucket = block;
    ++table.count;
    if (table.count > (table.mask >> table.loadShift) && table.growthAllowed) {
        growDBMHashTable(table.buckets, table.mask);
        table.growthAllowed = table.mask < kLargestBucketMask;
    }
}

const zone_t& zeroDBM()
{
    return storage().zero;
}

void setMergeSwitch(bool on)
{
    mergeSwitch = on;
}

bool getMergeSwitch()
{
    return mergeSwitch;
}

// ---- Federation headers and nodes ------------------------------------------

FederationNode* newFederationNode(FederationNode* next)
{
    Storage& s = storage();
    if (s.freeNodes == nullptr) {
        auto* items = static_cast<FederationNode*>(s.nodeChunks.carve(sizeof(FederationNode)));
        const size_t n = s.nodeChunks.itemsPerChunk;
        for (size_t k = 0; k < n; ++k) {
            new (&items[k]) FederationNode{k + 1 < n ? &items[k + 1] : nullptr, zone_t()};
        }
        s.freeNodes = items;
    }
    FederationNode* node = s.freeNodes;
    s.freeNodes = node->next;
    --s.nodeChunks.freeCount;
    node->next = next;
    return node;
}

FederationHeader* newFederationHeader(uint32_t dim, uint64_t size, FederationNode* first)
{
    Storage& s = storage();
    if (s.freeHeaders == nullptr) {
        auto* items = static_cast<FederationHeader*>(s.headerChunks.carve(sizeof(FederationHeader)));
        const size_t n = s.headerChunks.itemsPerChunk;
        for (size_t k = 0; k < n; ++k) {
            new (&items[k]) FederationHeader{reinterpret_cast<uint64_t>(k + 1 < n ? &items[k + 1] : nullptr),
                                             nullptr, 0, 0};
        }
        s.freeHeaders = items;
    }
    FederationHeader* header = s.freeHeaders;
    s.freeHeaders = reinterpret_cast<FederationHeader*>(header->size);
    --s.headerChunks.freeCount;
    header->size = size;
    header->first = first;
    header->count = 1;
    header->dim = dim;
    return header;
}

FederationNode* copyFederationList(const FederationNode* list, FederationNode* tail)
{
    FederationNode* result = tail;
    for (; list != nullptr; list = list->next) {
        result = newFederationNode(result);
        result->zone = list->zone;
    }
    return result;
}

void freeFederationNode(FederationNode* node)
{
    Storage& s = storage();
    node->zone = zone_t();  // releases the block; a free node holds the handle 3
    node->next = s.freeNodes;
    s.freeNodes = node;
    ++s.nodeChunks.freeCount;
}

void freeFederationNodes(FederationNode* list)
{
    while (list != nullptr) {
        FederationNode* next = list->next;
        freeFederationNode(list);
        list = next;
    }
}

void freeFederationHeader(FederationHeader* header)
{
    Storage& s = storage();
    freeFederationNodes(header->first);
    header->first = nullptr;
    header->size = reinterpret_cast<uint64_t>(s.freeHeaders);
    s.freeHeaders = header;
    ++s.headerChunks.freeCount;
}

FederationNode* appendFederationList(FederationNode* a, FederationNode* b)
{
    if (a == nullptr) return b;
    if (b == nullptr) return a;
    FederationNode* last = a;
    while (last->next != nullptr) last = last->next;
    last->next = b;
    return a;
}

clock_constraint_t sideOfConstraint(const zone_t& zone, const clock_constraint_t& c)
{
    const clock_constraint_t negation{c.j, c.i, negateBound(c.bound)};
    if (zone.isEmpty()) return negation;
    if (c.bound >= zone(c.i, c.j) || negateBound(c.bound) < zone(c.j, c.i)) return c;
    return negation;
}

PoolFigures federationHeaderPoolFigures()
{
    const ChunkList& c = storage().headerChunks;
    return {c.chunkCount, c.freeCount, c.itemsPerChunk};
}

PoolFigures federationNodePoolFigures()
{
    const ChunkList& c = storage().nodeChunks;
    return {c.chunkCount, c.freeCount, c.itemsPerChunk};
}

}  // namespace dbm
