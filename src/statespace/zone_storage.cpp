#include "statespace/zone_storage.h"

#include <algorithm>
#include <cstddef>

#include "dbm/block.h"
#include "dbm/dbm.h"
#include "dbm/encoded.h"
#include "dbm/fed.h"
#include "support/hash.h"

namespace storage {

using dbm::bound_t;
using dbm::relation_t;

namespace {

constexpr uint32_t hashBits = 0xffff0000u;
constexpr uint32_t countBits = 0xffffu;
constexpr uint32_t saturated = 0xffffu;
constexpr uint32_t largestMask = 0x3ffffff;

std::size_t squared(uint32_t dim)
{
    return static_cast<std::size_t>(dim) * dim;
}

// Makes the zone a private matrix of dimension dim whose contents are about to be overwritten:
// a shared or wrong-sized matrix is replaced by a new one, an interned one taken out of the table.
bound_t* writableFor(dbm::zone_t& zone, uint32_t dim)
{
    if (zone.isEmpty() || zone.getDimension() != dim || zone.getBlock()->count > 1) {
        zone = dbm::zone_t(dim);
        return zone.makeWritableOrNew();
    }
    return zone.makeWritable();
}

}  // namespace

// ---- Base and table ------------------------------------------------------------------------------

void ZoneStorage::setProperty(const char*, const void*) {}

AbstractZoneStorage::AbstractZoneStorage(base::DataAllocator* allocator, uint32_t shift)
    : allocator(allocator), shift(shift), buckets(new Node*[static_cast<std::size_t>(mask) + 1]())
{}

AbstractZoneStorage::~AbstractZoneStorage()
{
    delete[] buckets;
}

AbstractZoneStorage::Node* AbstractZoneStorage::nodeOf(zone_handle_t handle)
{
    return reinterpret_cast<Node*>(handle - offsetof(Node, encoded));
}

zone_handle_t AbstractZoneStorage::link(uint32_t* memory, uint32_t hash)
{
    Node** head = &buckets[hash & mask];
    Node* node = reinterpret_cast<Node*>(memory);
    node->next = *head;
    node->backLink = head;
    node->info = (hash & hashBits) | 1u;
    if (*head != nullptr) {
        (*head)->backLink = &node->next;
    }
    *head = node;
    ++zoneCount;
    if ((mask >> shift) < zoneCount && growthAllowed) {
        dbm::growDBMHashTable(buckets, mask);
        growthAllowed = mask < largestMask;
    }
    return reinterpret_cast<zone_handle_t>(&node->encoded);
}

// ---- Full-matrix storage -------------------------------------------------------------------------

DBMStorage::DBMStorage(base::DataAllocator* allocator, uint32_t shift, bool use16Bits)
    : AbstractZoneStorage(allocator, shift), use16Bits(use16Bits),
      scratch(new bound_t[squared(scratchCapacity)])
{}

uint32_t DBMStorage::cacheSlotsFor(uint32_t dim)
{
    constexpr uint64_t budget = uint64_t{2} << 20;  // bytes of cached matrices
    const uint64_t entryBytes = squared(dim) * sizeof(bound_t) + sizeof(CacheEntry);
    for (const uint32_t slots : {4099u, 2039u, 1021u}) {
        if (slots * entryBytes <= budget) {
            return slots;
        }
    }
    return 373;
}

DBMStorage::~DBMStorage() = default;

void DBMStorage::setProperty(const char* key, const void* value)
{
    if (key == base::EXACT_RELATION && value != nullptr) {
        exactRelation = *static_cast<const bool*>(value);
    }
}

uint32_t DBMStorage::storedReferences(zone_handle_t handle)
{
    return handle == 0 ? 0 : nodeOf(handle)->info & countBits;
}

const bound_t* DBMStorage::cached(zone_handle_t handle) const
{
    if (cacheSlots == 0) {
        return nullptr;
    }
    const CacheEntry& entry = cacheEntries[handle % cacheSlots];
    return entry.handle == handle ? entry.bounds.get() : nullptr;
}

void DBMStorage::cache(zone_handle_t handle, const bound_t* matrix, uint32_t dim)
{
    if (cacheSlots == 0) {
        cacheSlots = cacheSlotsFor(dim);
        cacheEntries.reset(new CacheEntry[cacheSlots]);
    }
    CacheEntry& entry = cacheEntries[handle % cacheSlots];
    if (entry.handle == handle) {
        return;
    }
    if (entry.bounds == nullptr || entry.dim != dim) {
        entry.bounds.reset(new bound_t[squared(dim)]);
        entry.dim = dim;
    }
    entry.handle = handle;
    dbm::copyMatrix(entry.bounds.get(), matrix, dim);
}

bound_t* DBMStorage::scratchFor(uint32_t dim)
{
    if (dim > scratchCapacity) {
        scratchCapacity = dim + 2;
        scratch.reset(new bound_t[squared(scratchCapacity)]);
    }
    return scratch.get();
}

const bound_t* DBMStorage::decoded(zone_handle_t handle, uint32_t dim)
{
    if (const bound_t* m = cached(handle)) {
        return m;
    }
    bound_t* m = scratchFor(dim);
    dbm::readEncoded(m, encodedOf(handle));
    cache(handle, m, dim);
    return m;
}

template <class Equal>
zone_handle_t DBMStorage::find(uint32_t hash, const Equal& equal)
{
    for (Node* node = buckets[hash & mask]; node != nullptr; node = node->next) {
        if ((node->info & hashBits) == (hash & hashBits) && equal(&node->encoded)) {
            if ((node->info & countBits) != saturated) {
                ++node->info;
            }
            return reinterpret_cast<zone_handle_t>(&node->encoded);
        }
    }
    return 0;
}

zone_handle_t DBMStorage::packZone(const dbm::zone_t& zone, uint32_t hash)
{
    const uint32_t dim = zone.getDimension();
    if (dim <= 1) {
        return 0;
    }
    const bound_t* m = zone.getMatrix();
    zone_handle_t handle =
        find(hash, [&](const uint32_t* encoded) { return dbm::equalToEncoded(m, dim, encoded); });
    if (handle == 0) {
        uint32_t* memory = dbm::writeEncoded(m, dim, false, use16Bits, nodeFrontWords, allocator.get(),
                                             &base::DataAllocator::allocateCallback);
        handle = link(memory, hash);
    }
    cache(handle, m, dim);
    return handle;
}

uint32_t DBMStorage::unpackZone(dbm::zone_t& zone, zone_handle_t handle)
{
    if (handle == 0) {
        bound_t* m = writableFor(zone, 1);
        m[0] = dbm::BOUND_LE_ZERO;
        return 1;
    }
    const uint32_t* encoded = encodedOf(handle);
    const uint32_t dim = dbm::encodedDimension(encoded);
    bound_t* m = writableFor(zone, dim);
    if (const bound_t* c = cached(handle)) {
        dbm::copyMatrix(m, c, dim);
    } else {
        dbm::readEncoded(m, encoded);
        cache(handle, m, dim);
    }
    return dim;
}

bool DBMStorage::storedHasZero(zone_handle_t handle)
{
    return handle == 0 || dbm::encodedHasZero(encodedOf(handle));
}

void DBMStorage::release(zone_handle_t handle)
{
    if (handle == 0) {
        return;
    }
    Node* node = nodeOf(handle);
    const uint32_t count = node->info & countBits;
    if (count == saturated) {
        return;
    }
    if (count > 1) {
        --node->info;
        return;
    }
    *node->backLink = node->next;
    if (node->next != nullptr) {
        node->next->backLink = node->backLink;
    }
    --zoneCount;
    if (cacheSlots != 0) {
        CacheEntry& entry = cacheEntries[handle % cacheSlots];
        if (entry.handle == handle) {
            entry.handle = 0;
        }
    }
    const uint32_t words = nodeFrontWords + dbm::encodedSize(encodedOf(handle));
    allocator->deallocate(reinterpret_cast<uint32_t*>(node), words);
}

void DBMStorage::clear()
{
    std::fill_n(buckets, static_cast<std::size_t>(mask) + 1, nullptr);
    zoneCount = 0;
    for (uint32_t i = 0; i < cacheSlots; ++i) {
        cacheEntries[i].handle = 0;
        cacheEntries[i].dim = 0;
        cacheEntries[i].bounds.reset();
    }
}

relation_t DBMStorage::relationWithZone(const dbm::zone_t& zone, zone_handle_t handle)
{
    const uint32_t dim = zone.getDimension();
    const bound_t* m = zone.getMatrix();
    if (!exactRelation) {
        // Inclusion only.
        if (handle == 0) {
            return dbm::SUBSET;
        }
        if (const bound_t* c = cached(handle)) {
            return dbm::isSubsetEq(m, dim, c) ? dbm::SUBSET : dbm::DIFFERENT;
        }
        return dbm::relationToEncoded(m, dim, encodedOf(handle), nullptr);
    }
    if (handle == 0) {
        return dbm::EQUAL;
    }
    if (const bound_t* c = cached(handle)) {
        return dbm::relation(m, dim, c);
    }
    bound_t* s = scratchFor(dim);
    // A decoded matrix has (<= 0) on its diagonal: finding it there tells that the encoding alone
    // could not decide and the stored zone now lies in the scratch matrix.
    s[0] = dbm::EMPTY_MARK;
    const relation_t r = dbm::relationToEncoded(m, dim, encodedOf(handle), s);
    // A stored zone inside the zone is mostly about to be removed: caching it would only evict
    // zones that stay.
    if (s[0] == dbm::BOUND_LE_ZERO && r != dbm::SUPERSET) {
        cache(handle, s, dim);
    }
    return r;
}

bool DBMStorage::includesZone(const dbm::zone_t& zone, zone_handle_t handle)
{
    if (handle == 0) {
        return true;
    }
    const uint32_t dim = zone.getDimension();
    const bound_t* m = zone.getMatrix();
    if (const bound_t* c = cached(handle)) {
        return dbm::isSubsetEq(m, dim, c);
    }
    return dbm::relationToEncoded(m, dim, encodedOf(handle), nullptr) == dbm::SUBSET;
}

relation_t DBMStorage::relationBetweenStored(zone_handle_t first, zone_handle_t second)
{
    if (first == second) {
        return dbm::EQUAL;
    }
    const uint32_t dim = storedDimension(first);
    if (dim != storedDimension(second)) {
        return dbm::DIFFERENT;
    }
    // Both may not fit in the cache at once (their slots may be the same): copy the first aside.
    std::vector<bound_t> a(squared(dim));
    dbm::copyMatrix(a.data(), decoded(first, dim), dim);
    return dbm::relation(a.data(), dim, decoded(second, dim));
}

bool DBMStorage::mergeIfConvex(dbm::zone_t& zone, zone_handle_t handle)
{
    const uint32_t dim = zone.getDimension();
    if (handle == 0 || dim <= 1) {
        return true;  // both are the only zone of dimension 1
    }
    const bound_t* stored = decoded(handle, dim);
    if (!dbm::intersects(zone.getMatrix(), dim, stored)) {
        return false;
    }
    dbm::zone_t hull = zone;
    hull.convexUnionMatrix(stored);
    // The union is convex when what the hull adds to the zone lies inside the stored zone.
    dbm::fed_t added(hull);
    added.subtractMatrix(zone.getMatrix());
    if (!added.isSubsetEqMatrix(decoded(handle, dim))) {
        return false;
    }
    zone = hull;
    return true;
}

void DBMStorage::widenByStored(dbm::zone_t& zone, zone_handle_t handle)
{
    if (handle == 0) {
        return;
    }
    const uint32_t dim = zone.getDimension();
    bound_t* m = zone.makeWritable();
    if (const bound_t* c = cached(handle)) {
        dbm::convexUnion(m, dim, c);
    } else {
        dbm::convexUnionEncoded(m, dim, encodedOf(handle), scratchFor(dim));
    }
}

uint32_t DBMStorage::storedDimension(zone_handle_t handle)
{
    return handle == 0 ? 1 : dbm::encodedDimension(encodedOf(handle));
}

void DBMStorage::readZone(bound_t* out, zone_handle_t handle)
{
    if (handle == 0) {
        out[0] = dbm::BOUND_LE_ZERO;
        return;
    }
    const uint32_t dim = dbm::encodedDimension(encodedOf(handle));
    if (const bound_t* c = cached(handle)) {
        dbm::copyMatrix(out, c, dim);
    } else {
        dbm::readEncoded(out, encodedOf(handle));
    }
}

// ---- Minimal-graph storage -----------------------------------------------------------------------

MinDBMStorage::MinDBMStorage(base::DataAllocator* allocator, uint32_t shift, bool use16Bits)
    : DBMStorage(allocator, shift, use16Bits)
{}

zone_handle_t MinDBMStorage::packZone(const dbm::zone_t& zone, uint32_t hash)
{
    const uint32_t dim = zone.getDimension();
    if (dim <= 1) {
        return 0;
    }
    const bound_t* m = zone.getMatrix();
    // Most zones packed are already stored, and the stored copy was read or packed lately: its
    // decoded matrix in the cache tells equality without the minimal graph of the zone, which
    // is found only when it is needed (an uncached stored zone, or a new zone to store).
    const size_t words = dbm::bitMatrixWords(dim);
    if (graph.size() < words) {
        graph.resize(words);
    }
    bool graphTaken = false;
    uint32_t count = 0;
    auto takeGraph = [&] {
        if (!graphTaken) {
            count = dbm::analyzeMinimalGraph(m, dim, graph.data());
            graphTaken = true;
        }
    };
    zone_handle_t handle = find(hash, [&](const uint32_t* encoded) {
        if (const bound_t* c = cached(reinterpret_cast<zone_handle_t>(encoded))) {
            return dbm::encodedDimension(encoded) == dim &&
                   std::equal(m, m + squared(dim), c);
        }
        takeGraph();
        return dbm::equalToEncodedGraph(m, dim, graph.data(), &count, encoded);
    });
    if (handle == 0) {
        takeGraph();
        uint32_t* memory = dbm::writeEncodedFromGraph(m, dim, graph.data(), count, use16Bits, nodeFrontWords,
                                                      allocator.get(), &base::DataAllocator::allocateCallback,
                                                      &base::DataAllocator::releaseCallback);
        handle = link(memory, hash);
    }
    cache(handle, m, dim);
    return handle;
}

// ---- Factory -------------------------------------------------------------------------------------

base::RefPtr<ZoneStorage> makeZoneStorage(base::DataAllocator* allocator, uint32_t shift, int kind)
{
    switch (kind) {
    case 0:
        return base::RefPtr<ZoneStorage>(new DBMStorage(allocator, shift, false));
    case 2:
        return base::RefPtr<ZoneStorage>(new MinDBMStorage(allocator, shift, false));
    case 3:
        return base::RefPtr<ZoneStorage>(new MinDBMStorage(allocator, shift, true));
    default:
        return base::RefPtr<ZoneStorage>(new DBMStorage(allocator, shift, true));
    }
}

const char* zoneStorageName(int kind)
{
    switch (kind) {
    case 0:
        return "DBM copy without diagonal";
    case 2:
        return "DBM minimal graph reduction";
    case 3:
        return "DBM minimal graph reduction on int16";
    default:
        return "DBM copy on int16 without diagonal";
    }
}

}  // namespace storage
