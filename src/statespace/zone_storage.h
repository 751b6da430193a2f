#pragma once

// Hash-consed, reference-counted storage of the zones of stored states. A zone becomes a handle, the
// address of its encoded DBM (the zone library's encoded form: a matrix without its diagonal, or the
// minimal constraint graph, with 16-bit bounds where they fit); equal zones share one stored copy.
// The handle 0 stands for the zone of dimension 1 (no clock but the reference clock), never stored.
//
// A stored node is {next node of the bucket, address of the link that points at the node, a word
// with bits 16-31 of the zone's hash in its upper half and the reference count in its lower half,
// encoded DBM}. A count that reaches 0xffff stays there and the node is never freed.
//
// A cache of decoded matrices (a handle's slot is handle mod the slot count) spares decoding the
// zones packed or read most recently. The slot count is a prime chosen from the dimension of the
// first zone cached, so that the cache's matrices take about 2 MiB at most: many slots for few
// clocks, where a discrete state gathers thousands of zones that are related again and again.

#include <cstdint>
#include <memory>
#include <vector>

#include "dbm/bound.h"
#include "dbm/zone.h"
#include "support/object.h"
#include "support/pool.h"

namespace storage {

using zone_handle_t = uint64_t;

class ZoneStorage : public base::Object
{
public:
    // Configuration by property key; keys are compared by address. Ignored here.
    virtual void setProperty(const char* key, const void* value);
    // The zone becomes a private, writable copy of the stored zone; returns its dimension.
    virtual uint32_t unpackZone(dbm::zone_t& zone, zone_handle_t handle) = 0;
    // Whether the stored zone contains the point where every clock is 0.
    virtual bool storedHasZero(zone_handle_t handle) = 0;
    // Handle of the stored copy of a non-empty zone (found or created); `hash` must be equal for
    // equal zones. Finding the zone again takes one more reference.
    virtual zone_handle_t packZone(const dbm::zone_t& zone, uint32_t hash) = 0;
    // Drops one reference; the last one frees the stored copy. 0 is ignored.
    virtual void release(zone_handle_t handle) = 0;
    // Forgets every stored zone and the cache (the nodes' memory stays with the allocator).
    virtual void clear() = 0;
    // DIFFERENT, SUPERSET (the zone includes the stored one), SUBSET or EQUAL.
    virtual dbm::relation_t relationWithZone(const dbm::zone_t& zone, zone_handle_t handle) = 0;
    // Whether the stored zone includes the zone (equal zones too). A zone lies in a stored zone
    // when it satisfies each stored constraint, so this never decodes a stored constraint graph.
    virtual bool includesZone(const dbm::zone_t& zone, zone_handle_t handle) = 0;
    virtual dbm::relation_t relationBetweenStored(zone_handle_t first, zone_handle_t second) = 0;
    // When the zone and the stored zone overlap and their union is convex, the zone becomes that union
    // and the result is true; otherwise nothing changes.
    virtual bool mergeIfConvex(dbm::zone_t& zone, zone_handle_t handle) = 0;
    virtual bool isExactRelation() = 0;
    // The zone becomes the convex hull of itself and the stored zone.
    virtual void widenByStored(dbm::zone_t& zone, zone_handle_t handle) = 0;
    // Dimension of the stored zone (1 for the handle 0).
    virtual uint32_t storedDimension(zone_handle_t handle) = 0;
    // Writes the stored zone's closed matrix (dimension^2 bounds) to `out`, without caching it.
    virtual void readZone(dbm::bound_t* out, zone_handle_t handle) = 0;
};

// The hash-consing table shared by the zone storages.
class AbstractZoneStorage : public ZoneStorage
{
public:
    uint64_t getZoneCount() const { return zoneCount; }
    uint32_t getBucketCount() const { return mask + 1; }

protected:
    AbstractZoneStorage(base::DataAllocator* allocator, uint32_t shift);
    ~AbstractZoneStorage() override;
    AbstractZoneStorage(const AbstractZoneStorage&) = delete;
    AbstractZoneStorage& operator=(const AbstractZoneStorage&) = delete;

    // A stored node: `encoded` is the first word of the encoded DBM, which continues after the node.
    struct Node
    {
        Node* next;
        Node** backLink;
        uint32_t info;  // bits 16-31: bits 16-31 of the hash; bits 0-15: reference count
        uint32_t encoded;
    };
    static constexpr uint32_t nodeFrontWords = 5;
    static Node* nodeOf(zone_handle_t handle);
    static const uint32_t* encodedOf(zone_handle_t handle) { return reinterpret_cast<const uint32_t*>(handle); }

    // Links a node (memory of nodeFrontWords + encoded size words) at the head of the chain of its
    // hash with count 1; counts it and grows the table when due. Returns its handle.
    zone_handle_t link(uint32_t* memory, uint32_t hash);

    base::RefPtr<base::DataAllocator> allocator;
    uint64_t zoneCount = 0;
    uint32_t mask = 0xffff;
    uint32_t shift;
    bool growthAllowed = true;
    Node** buckets;
};

// Stores zones as full matrices without their diagonal (16-bit bounds when the flag allows and every
// finite bound fits).
class DBMStorage : public AbstractZoneStorage
{
public:
    // The cache's slot count for zones of the dimension: 4099 down to 373.
    static uint32_t cacheSlotsFor(uint32_t dim);

    DBMStorage(base::DataAllocator* allocator, uint32_t shift, bool use16Bits);
    ~DBMStorage() override;

    void setProperty(const char* key, const void* value) override;
    uint32_t unpackZone(dbm::zone_t& zone, zone_handle_t handle) override;
    bool storedHasZero(zone_handle_t handle) override;
    zone_handle_t packZone(const dbm::zone_t& zone, uint32_t hash) override;
    void release(zone_handle_t handle) override;
    void clear() override;
    dbm::relation_t relationWithZone(const dbm::zone_t& zone, zone_handle_t handle) override;
    bool includesZone(const dbm::zone_t& zone, zone_handle_t handle) override;
    dbm::relation_t relationBetweenStored(zone_handle_t first, zone_handle_t second) override;
    bool mergeIfConvex(dbm::zone_t& zone, zone_handle_t handle) override;
    bool isExactRelation() override { return exactRelation; }
    void widenByStored(dbm::zone_t& zone, zone_handle_t handle) override;
    uint32_t storedDimension(zone_handle_t handle) override;
    void readZone(dbm::bound_t* out, zone_handle_t handle) override;

    // The reference count of a stored zone (0 for the handle 0), for tests.
    static uint32_t storedReferences(zone_handle_t handle);

protected:
    // The decoded matrix of the handle when its cache slot holds it, else null.
    const dbm::bound_t* cached(zone_handle_t handle) const;
    // Puts a copy of the matrix into the handle's slot (nothing when the slot already holds it).
    void cache(zone_handle_t handle, const dbm::bound_t* matrix, uint32_t dim);
    // The scratch matrix, grown to hold a matrix of dimension dim.
    dbm::bound_t* scratchFor(uint32_t dim);
    // The stored zone as a matrix: the cached one, or decoded into the scratch matrix and cached.
    const dbm::bound_t* decoded(zone_handle_t handle, uint32_t dim);
    // Finds an equal stored zone in the chain of `hash` (taking one reference), or 0.
    template <class Equal>
    zone_handle_t find(uint32_t hash, const Equal& equal);

    bool use16Bits;
    bool exactRelation = true;

private:
    struct CacheEntry
    {
        zone_handle_t handle = 0;  // 0: the slot is empty
        uint32_t dim = 0;
        std::unique_ptr<dbm::bound_t[]> bounds;
    };

    uint32_t scratchCapacity = 13;  // in clocks
    std::unique_ptr<dbm::bound_t[]> scratch;
    uint32_t cacheSlots = 0;  // 0 until the first zone is cached
    std::unique_ptr<CacheEntry[]> cacheEntries;
};

// Stores zones as their minimal constraint graphs.
class MinDBMStorage : public DBMStorage
{
public:
    MinDBMStorage(base::DataAllocator* allocator, uint32_t shift, bool use16Bits);

    zone_handle_t packZone(const dbm::zone_t& zone, uint32_t hash) override;

private:
    std::vector<uint32_t> graph;  // bit matrix of the minimal graph of the zone being packed
};

// kind 0: full matrices; 1: full matrices, 16-bit bounds; 2: minimal graphs; 3: minimal graphs,
// 16-bit bounds; any other kind is taken as 1.
base::RefPtr<ZoneStorage> makeZoneStorage(base::DataAllocator* allocator, uint32_t shift, int kind);
const char* zoneStorageName(int kind);

}  // namespace storage
