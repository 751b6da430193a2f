#pragma once

// Storage of the zone library: counted DBM blocks recycled per dimension, the
// process-wide intern table of blocks, the shared zero DBM, and the pools that
// hand out federation headers and list nodes.
//
// Nothing here calls the system allocator in steady state: blocks go back to
// the free list of their dimension, headers and nodes to their pools.

#include <cstddef>
#include <cstdint>

#include "dbm/bound.h"

namespace dbm {

class zone_t;
struct FederationNode;  // {next, zone_t}; defined in dbm/zone.h after zone_t

// Fields of the info word of a block.
constexpr uint32_t kBlockDimMask = 0x00007fffu;   // bits 0-14: dimension
constexpr uint32_t kBlockHashMask = 0x7fff8000u;  // bits 15-30: bits 15-30 of the hash
constexpr uint32_t kBlockInterned = 0x80000000u;  // bit 31: linked in the intern table

// One counted DBM block. The dim x dim matrix (row-major bounds, closed and
// non-empty while the block is held) follows the four header fields directly.
struct DBMBlock {
    DBMBlock* next;       // next block in an intern bucket or in a free list
    DBMBlock** backLink;  // the link that points to this block (only while interned)
    uint32_t info;        // dimension, hash bits, interned bit
    uint32_t count;       // number of zone handles that hold the block

    bound_t* matrix() { return reinterpret_cast<bound_t*>(this + 1); }
    const bound_t* matrix() const { return reinterpret_cast<const bound_t*>(this + 1); }
    uint32_t dim() const { return info & kBlockDimMask; }
    bool isInterned() const { return (info & kBlockInterned) != 0; }
};
static_assert(sizeof(DBMBlock) == 24, "the matrix starts right after the four header fields");

// Takes a block for dimension dim from the free list of that dimension, or a
// new allocation when the list is empty. The caller sets info (to dim) and count.
DBMBlock* allocateDBMBlock(uint32_t dim);

// Pushes a block on the free list of its dimension (info bits 0-14), growing
// the table of free lists to dim + 8 entries when it is too small.
void freeDBMBlock(DBMBlock* block);

// Gives back a block whose count has reached 0: unlinks it from the intern
// table when it is interned, then frees it to its free list.
void releaseDBMBlock(DBMBlock* block);

// Unlinks an interned block from its bucket, lowers the intern count and
// clears the interned bit. Used before an interned block is written.
void unlinkInternedBlock(DBMBlock* block);

// Copies a dim x dim matrix: word by word for small ones, memcpy for large ones.
void copyMatrix(bound_t* dst, const bound_t* src, uint32_t dim);

// Frees every block on every free list back to the system.
void freeCachedDBMBlocks();

// Number of entries of the table of free lists (dimensions 0 to size - 1).
uint32_t freeListTableSize();

// The process-wide intern table. Blocks lie in bucket (hash & mask), doubly
// linked through next and backLink, newest first.
struct DBMInternTable {
    uint64_t count;      // number of interned blocks
    uint32_t mask;       // number of buckets - 1
    uint32_t loadShift;  // grow when count exceeds mask >> loadShift
    bool growthAllowed;  // false once the table has reached its largest size
    DBMBlock** buckets;
};
DBMInternTable& internTable();

// Doubles a bucket table of DBM blocks: a block of old bucket i moves to bucket
// i + (hash & old size), keeping its back link and its successor's back link
// correct. The old array is freed; no block moves in memory.
void growDBMHashTable(DBMBlock**& table, uint32_t& mask);

// The same for any doubly linked node shaped like a block: `next` (Node*),
// `backLink` (Node**, the link that points at the node) and a 32-bit `info`
// word whose bit (mask + 1) is a bit of the node's hash (the state storage keeps
// hash bits 16-31 there, the intern table bits 15-30). The table must come from
// `new Node*[]`; nodes of a bucket come out in reverse order.
template <class Node>
void growDBMHashTable(Node**& table, uint32_t& mask)
{
    const uint32_t oldSize = mask + 1;
    Node** grown = new Node*[2 * size_t(oldSize)]();
    for (uint32_t i = 0; i < oldSize; ++i) {
        Node* node = table[i];
        while (node != nullptr) {
            Node* next = node->next;
            Node** head = &grown[i + (node->info & oldSize)];
            node->next = *head;
            node->backLink = head;
            if (*head != nullptr) (*head)->backLink = &node->next;
            *head = node;
            node = next;
        }
    }
    delete[] table;
    table = grown;
    mask = 2 * oldSize - 1;
}

// Library-wide switch read by the federation reduction (on by default).
void setMergeSwitch(bool on);
bool getMergeSwitch();

// Federation header: the target of a dbm::fed_t handle. While on the free
// list of its pool, its first word is the free-list link.
struct FederationHeader {
    uint64_t size;          // number of DBMs in the list
    FederationNode* first;  // null when the federation is empty
    uint32_t count;         // reference count
    uint32_t dim;           // dimension of every DBM of the federation
};

// Pops a node (a new chunk of 600 nodes when the pool is empty) and sets its
// next field; its zone is the handle 3, which the caller replaces.
FederationNode* newFederationNode(FederationNode* next);

// Pops a header (a new chunk of 200 when the pool is empty) with count 1.
FederationHeader* newFederationHeader(uint32_t dim, uint64_t size, FederationNode* first);

// New nodes sharing the blocks of list (each count plus 1) put in front of
// tail one by one: the copy comes out in reverse order, followed by tail.
FederationNode* copyFederationList(const FederationNode* list, FederationNode* tail);

// Releases the zone of every node of list, sets it to 3 and returns the nodes to the pool.
void freeFederationNodes(FederationNode* list);

// The same for one node; its next field is ignored.
void freeFederationNode(FederationNode* node);

// Releases the list of a header whose count has reached 0 and returns the header to its pool.
void freeFederationHeader(FederationHeader* header);

// Appends list b to the end of list a and returns the joined list.
FederationNode* appendFederationList(FederationNode* a, FederationNode* b);

// The constraint itself when some point of the zone satisfies it, else its
// negation (j, i, 1 - b); an empty zone gives the negation.
clock_constraint_t sideOfConstraint(const zone_t& zone, const clock_constraint_t& c);

// Figures of the two pools, for tests and statistics.
struct PoolFigures {
    size_t chunks;      // chunks carved so far
    size_t freeItems;   // items on the free list
    size_t itemsPerChunk;
};
PoolFigures federationHeaderPoolFigures();
PoolFigures federationNodePoolFigures();

}  // namespace dbm
