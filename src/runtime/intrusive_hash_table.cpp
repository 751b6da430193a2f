#include "runtime/intrusive_hash_table.h"

#include "support/exceptions.h"

IntrusiveHashTable::IntrusiveHashTable(int32_t k)
    : buckets(nullptr), bucketCount(size_t{1} << k), threshold(size_t{2} << k), shift(32 - k)
{
    if (k < 1 || k > 31) {
        throw Bug("IntrusiveHashTable: bucket exponent out of range");
    }
    buckets = new Node*[bucketCount]();
}

IntrusiveHashTable::~IntrusiveHashTable()
{
    delete[] buckets;
}

void IntrusiveHashTable::insert(Node* node)
{
    Node*& head = bucketOf(node->hash);
    node->next = head;
    head = node;
    if (++nodeCount > threshold && shift > 1) {
        grow();
    }
}

void IntrusiveHashTable::remove(Node* node)
{
    Node** link = &bucketOf(node->hash);
    while (*link != node) {
        if (*link == nullptr) {
            throw Bug("IntrusiveHashTable::remove: the node is not in the table");
        }
        link = &(*link)->next;
    }
    unlinkAt(link);
}

void IntrusiveHashTable::unlinkAt(Node** link)
{
    Node* node = *link;
    *link = node->next;
    node->next = nullptr;
    --nodeCount;
}

IntrusiveHashTable::Node* IntrusiveHashTable::takeBucket(size_t i)
{
    Node* chain = buckets[i];
    buckets[i] = nullptr;
    for (Node* n = chain; n != nullptr; n = n->next) {
        --nodeCount;
    }
    return chain;
}

void IntrusiveHashTable::clear()
{
    for (size_t i = 0; i < bucketCount; ++i) {
        buckets[i] = nullptr;
    }
    nodeCount = 0;
}

void IntrusiveHashTable::grow()
{
    const size_t oldCount = bucketCount;
    Node** old = buckets;
    Node** grown = new Node*[2 * oldCount]();
    --shift;
    threshold *= 2;
    bucketCount *= 2;
    buckets = grown;
    // Bucket i splits into 2i and 2i + 1 by the hash bit just below the old top bits.
    for (size_t i = 0; i < oldCount; ++i) {
        Node* node = old[i];
        while (node != nullptr) {
            Node* next = node->next;
            Node*& head = grown[2 * i + ((node->hash >> shift) & 1u)];
            node->next = head;
            head = node;
            node = next;
        }
    }
    delete[] old;
}

IntrusiveHashTable::Iterator::Iterator(const IntrusiveHashTable& table)
    : table(&table), nextBucket(0), bucketCount(table.bucketCount), current(nullptr)
{
    while (current == nullptr && nextBucket < bucketCount) {
        current = table.buckets[nextBucket++];
    }
}

bool IntrusiveHashTable::Iterator::next(Node*& out)
{
    if (current == nullptr) {
        return false;
    }
    out = current;
    current = current->next;
    while (current == nullptr && nextBucket < bucketCount) {
        current = table->buckets[nextBucket++];
    }
    return true;
}
