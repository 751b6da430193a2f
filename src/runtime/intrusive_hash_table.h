#pragma once

// A chained hash table of caller-owned nodes. Each node begins with its chain link and its
// 32-bit hash (derive the node type from IntrusiveHashTable::Node); what follows belongs to the
// user. There are 2^k buckets and a node lies in bucket hash >> (32 - k), the top k bits of its
// hash, so doubling the table splits every chain into two adjacent buckets without touching a
// hash. The table never allocates or frees nodes.
//
// Lookup is the user's: walk the chain of bucketOf(hash), compare the stored hash first and the
// payload second.

#include <cstddef>
#include <cstdint>

class IntrusiveHashTable
{
public:
    struct Node
    {
        Node* next;
        uint32_t hash;
        // Never read by the table: a word the owner of the node may use, in the room that the
        // alignment of `next` would otherwise leave empty.
        uint32_t spare;
    };

    // 2^k buckets, all empty.
    explicit IntrusiveHashTable(int32_t k = 12);
    IntrusiveHashTable(const IntrusiveHashTable&) = delete;
    IntrusiveHashTable& operator=(const IntrusiveHashTable&) = delete;
    // Frees the bucket array only.
    ~IntrusiveHashTable();

    // Pushes the node (its hash set) at the front of its bucket; doubles the table when the
    // node count then exceeds twice the bucket count.
    void insert(Node* node);
    // Unlinks the node, which must be in the table, clears its link and lowers the count.
    void remove(Node* node);
    // Unlinks the node that *link points to, through that link (a bucket head or a node's
    // `next` field met in a walk), clears its link and lowers the count.
    void unlinkAt(Node** link);
    // Detaches and returns the whole chain of bucket i (null when empty), lowering the count
    // by its length.
    Node* takeBucket(size_t i);
    // Empties every bucket (the nodes are not touched).
    void clear();

    // The chain head of the bucket a hash falls into, and of bucket i.
    Node*& bucketOf(uint32_t hash) { return buckets[hash >> shift]; }
    Node*& bucket(size_t i) { return buckets[i]; }
    size_t bucketIndex(uint32_t hash) const { return hash >> shift; }

    size_t getBucketCount() const { return bucketCount; }
    int32_t getShift() const { return shift; }
    size_t size() const { return nodeCount; }

    // Visits every node, bucket by bucket, each chain from its front. The current node may be
    // removed between calls of next.
    class Iterator
    {
    public:
        explicit Iterator(const IntrusiveHashTable& table);
        // False at the end; otherwise stores the current node and moves on.
        bool next(Node*& out);

    private:
        const IntrusiveHashTable* table;
        size_t nextBucket;
        size_t bucketCount;
        Node* current;
    };

private:
    void grow();

    Node** buckets;
    size_t bucketCount;
    size_t threshold;
    int32_t shift;
    size_t nodeCount = 0;
};
