#include "statespace/css.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <new>
#include <tuple>

#include "runtime/location.h"
#include "runtime/symbolic_state.h"
#include "runtime/system.h"
#include "support/exceptions.h"
#include "support/hash.h"

// ---- Colors --------------------------------------------------------------------------------------

ColorSet::ColorSet(std::initializer_list<int32_t> list)
{
    for (int32_t color : list) {
        insert(color);
    }
}

void ColorSet::insert(int32_t color)
{
    const auto at = std::lower_bound(colors.begin(), colors.end(), color);
    if (at == colors.end() || *at != color) {
        colors.insert(at, color);
    }
}

bool ColorSet::contains(int32_t color) const
{
    for (int32_t c : colors) {
        if (c == color) {
            return true;
        }
    }
    return false;
}

// ---- Hash ----------------------------------------------------------------------------------------

uint32_t lookup2Mix(uint32_t a, uint32_t b, uint32_t c)
{
    a -= b; a -= c; a ^= c >> 13;
    b -= c; b -= a; b ^= a << 8;
    c -= a; c -= b; c ^= b >> 13;
    a -= b; a -= c; a ^= c >> 12;
    b -= c; b -= a; b ^= a << 16;
    c -= a; c -= b; c ^= b >> 5;
    a -= b; a -= c; a ^= c >> 3;
    b -= c; b -= a; b ^= a << 10;
    c -= a; c -= b; c ^= b >> 15;
    return c;
}

// ---- Store ---------------------------------------------------------------------------------------

namespace {

uint32_t low32(uint64_t h)
{
    return static_cast<uint32_t>(h);
}

constexpr uint32_t nodeWordsWithoutPayload = sizeof(CSS::Node) / sizeof(uint32_t);
constexpr uint32_t tailWords = 2 * sizeof(storage::handle_t) / sizeof(uint32_t);
static_assert(sizeof(CSS::Node) % 8 == 0, "payloads follow nodes 8-byte aligned");

}  // namespace

CSS::CSS(System* system, bool compact)
    : integerCount(static_cast<int32_t>(system->getStateVariableCount())),
      metaCount(static_cast<int32_t>(system->getMetaVariableCount())),
      clockCount(static_cast<int32_t>(system->getClockCount())),
      colorCounts{-1},
      locationTable(&system->getLocationTable()),
      allocator(new base::DataAllocator()),
      discrete(storage::makeDiscreteStorage(allocator.get(), 0, compact ? 1 : 0)),
      zones(storage::makeZoneStorage(allocator.get(), 0, compact ? 3 : 1)),
      indices(system->getProcessCount()),
      unpacked(system->getProcessCount())
{}

// Every node's memory belongs to the allocator, which goes with the storages; the arrays of the
// groups are the store's own.
CSS::~CSS()
{
    for (Group& group : groups) {
        ::operator delete(group.nodes);
    }
}

int32_t CSS::newColor()
{
    colorCounts.push_back(0);
    return nextColor++;
}

int32_t CSS::colorCount(int32_t color) const
{
    return color > 0 && static_cast<size_t>(color) < colorCounts.size() ? colorCounts[color] : 0;
}

CSS::StateKey CSS::makeKey(SymbolicState* state)
{
    const size_t n = state->getStaticSlotCount();
    if (indices.size() < n) {
        indices.resize(n);
    }
    Location* const* locations = state->getLocations();
    for (size_t p = 0; p < n; ++p) {
        indices[p] = static_cast<uint32_t>(locations[p]->getGlobalIndex());
    }
    StateKey key;
    // Location indices rather than Location pointers: the same hashes, and so the same buckets
    // and the same order of stored states, on every run.
    key.locationHash = low32(base::hash64(indices.data(), n * sizeof(uint32_t), 0));
    key.integerHash = low32(base::hash64(state->getVariables(), sizeof(int32_t) * integerCount, 0));
    key.nodeHash = lookup2Mix(key.locationHash, key.integerHash, 0);
    key.state = state;
    key.locationIndices = indices.data();
    return key;
}

uint32_t CSS::zoneHash(const dbm::zone_t& zone) const
{
    if (zone.isEmpty()) {
        return static_cast<uint32_t>(zone.getWord());
    }
    const uint32_t dim = zone.getDimension();
    return low32(base::hashWide(zone.getMatrix(), sizeof(dbm::bound_t) * dim * dim, 0));
}

uint32_t CSS::nodeWords(const Node* node)
{
    return nodeWordsWithoutPayload + node->payloadWords() + ((node->flags & tailFlag) != 0 ? tailWords : 0);
}

CSS::Node* CSS::addNode(const StateKey& key, const dbm::zone_t& zone, int32_t color, bool withPayload, bool held)
{
    if (color == 0) {
        return nullptr;
    }
    uint32_t count = 0;
    uint32_t id = lookUp(key, count);
    if (id == noGroup && count + 1 >= groupThreshold) {
        id = makeGroup(key);
    }
    const bool tail = id == noGroup;
    const uint32_t words = nodeWordsWithoutPayload + (withPayload ? 2 : 0) + (tail ? tailWords : 0);
    Node* node = new (allocator->allocate(words)) Node();
    node->flags = (withPayload ? payloadFlag : 0) | (tail ? tailFlag : 0);
    if (withPayload) {
        static_cast<uint32_t*>(node->payload())[0] = 0;
        static_cast<uint32_t*>(node->payload())[1] = 0;
    }
    if (tail) {
        storage::handle_t* handles = tailOf(node);
        std::tie(handles[0], handles[1]) = discreteHandles(key);
    }
    storeNode(key, zone, color, held, node, id);
    return node;
}

void CSS::storeNode(const StateKey& key, const dbm::zone_t& zone, int32_t color, bool held, Node* node, uint32_t id)
{
    SymbolicState* state = key.state;
    const int32_t* meta = state->getMetaVariables();
    node->meta = discrete->packIntegers(
        meta, static_cast<uint32_t>(metaCount), low32(base::hash64(meta, sizeof(int32_t) * metaCount, 0)));
    node->zone = zones->packZone(zone, zoneHash(zone));
    node->cost = state->getCost();
    node->flags = (node->flags & (payloadFlag | tailFlag)) | (static_cast<uint32_t>(color) & colorMask) |
                  (held ? heldFlag : 0) | (id != noGroup ? groupedFlag : 0);
    node->hash = key.nodeHash;
    if (id != noGroup) {
        appendEntry(id, node, wordOf(groups[id], zone));
    } else {
        node->spare = orderBits(zone);
    }
    const size_t buckets = table.getBucketCount();
    table.insert(node);
    if (table.getBucketCount() != buckets) {
        reverseGroups();
    }
    ++colorCounts[color];
}

bool CSS::sameDiscrete(const StateKey& key, const Node* node)
{
    const Discrete d = discreteOf(node);
    return discrete->equalLocations(key.locationIndices, static_cast<uint32_t>(key.state->getStaticSlotCount()),
                                    d.locations) &&
           discrete->equalIntegers(key.state->getVariables(), static_cast<uint32_t>(integerCount), d.integers);
}

storage::handle_t* CSS::tailOf(Node* node)
{
    return reinterpret_cast<storage::handle_t*>(static_cast<uint32_t*>(node->payload()) + node->payloadWords());
}

CSS::Discrete CSS::discreteOf(const Node* node) const
{
    if ((node->flags & tailFlag) != 0) {
        const storage::handle_t* handles = tailOf(const_cast<Node*>(node));
        return {handles[0], handles[1]};
    }
    const Group& group = groups[node->group()];
    return {group.locations, group.integers};
}

// ---- Groups --------------------------------------------------------------------------------------

uint32_t CSS::findGroup(const StateKey& key)
{
    for (IntrusiveHashTable::Node* n = table.bucketOf(key.nodeHash); n != nullptr; n = n->next) {
        const Node* node = static_cast<const Node*>(n);
        if (node->hash == key.nodeHash && sameDiscrete(key, node)) {
            return node->isGrouped() ? node->group() : noGroup;
        }
    }
    return noGroup;
}

uint32_t CSS::lookUp(const StateKey& key, uint32_t& count)
{
    count = 0;
    const Node* first = nullptr;
    for (IntrusiveHashTable::Node* n = table.bucketOf(key.nodeHash); n != nullptr; n = n->next) {
        const Node* node = static_cast<const Node*>(n);
        if (node->hash != key.nodeHash) {
            continue;
        }
        if (first == nullptr) {
            if (!sameDiscrete(key, node)) {
                continue;
            }
            if (node->isGrouped()) {
                return node->group();
            }
            first = node;
            count = 1;
        } else if (sameHandles(node, first) && ++count >= groupThreshold) {
            break;
        }
    }
    return noGroup;
}

uint32_t CSS::makeGroup(const StateKey& key)
{
    const uint32_t id = newGroup(key);
    Group& group = groups[id];
    const Discrete handles{group.locations, group.integers};
    gathered.clear();
    for (IntrusiveHashTable::Node* n = table.bucketOf(key.nodeHash); n != nullptr; n = n->next) {
        Node* node = static_cast<Node*>(n);
        if (node->hash == key.nodeHash && discreteOf(node) == handles) {
            gathered.push_back(node);
        }
    }
    // The index holds the front of the chain last.
    for (auto it = gathered.rbegin(); it != gathered.rend(); ++it) {
        Node* node = *it;
        appendEntry(id, node, 0);
        node->flags |= groupedFlag;
    }
    chooseTests(group);
    return id;
}

void CSS::chooseTests(Group& group)
{
    const uint32_t dim = static_cast<uint32_t>(clockCount);
    const size_t squared = static_cast<size_t>(dim) * dim;
    // A sample of at most 32 zones spread over the group, the newest among them.
    const uint32_t n = std::min<uint32_t>(group.size, 32);
    if (decoded.size() < squared * (n + 1)) {
        decoded.resize(squared * (n + 1));
    }
    std::vector<const dbm::bound_t*>& sample = sampled;
    sample.clear();
    // The k-th zone of the sample: distinct for each k, falling as k grows.
    auto sampleIndex = [&](uint32_t k) {
        return group.size - 1 - static_cast<uint32_t>(static_cast<uint64_t>(k) * group.size / n);
    };
    for (uint32_t k = 0; k < n; ++k) {
        const uint32_t i = sampleIndex(k);
        dbm::bound_t* m = decoded.data() + squared * k;
        zones->readZone(m, group.nodes[i]->zone);
        sample.push_back(m);
    }
    group.testCount = storage::chooseTests(sample, dim, group.tests);
    ++testChoices;
    // Zones that no tests tell apart would have the group choose again and again: unless it has
    // doubled since, each choice waits twice as long as the one before.
    group.patience = group.chosenAt != 0 && group.size < 2 * group.chosenAt ? std::min(group.patience + 1, 10u) : 0;
    group.chosenAt = group.size;
    group.wasted = 0;
    // The sampled zones are decoded already.
    dbm::bound_t* m = decoded.data() + squared * n;
    uint32_t k = n;
    for (uint32_t i = 0; i < group.size; ++i) {
        const dbm::bound_t* zone = m;
        if (k > 0 && i == sampleIndex(k - 1)) {
            zone = sample[--k];
        } else {
            zones->readZone(m, group.nodes[i]->zone);
        }
        group.words[i] = storage::testBits(zone, group.tests, group.testCount);
    }
    wordsGroup = nullptr;
}

uint32_t CSS::wordOf(const Group& group, const dbm::zone_t& zone)
{
    if (zone.isEmpty()) {
        return ~0u;  // the empty zone lies in every zone
    }
    return storage::testBits(zone.getMatrix(), group.tests, group.testCount);
}

uint32_t CSS::newGroup(const StateKey& key)
{
    uint32_t id;
    if (!freeGroups.empty()) {
        id = freeGroups.back();
        freeGroups.pop_back();
    } else {
        id = static_cast<uint32_t>(groups.size());
        groups.emplace_back();
    }
    Group& group = groups[id];
    std::tie(group.locations, group.integers) = discreteHandles(key);
    return id;
}

void CSS::dropGroup(uint32_t id)
{
    Group& group = groups[id];
    discrete->release(group.locations);
    discrete->release(group.integers);
    ::operator delete(group.nodes);
    group = Group();
    freeGroups.push_back(id);
}

namespace {

// Bytes of one entry of a group: its node, word and color.
constexpr size_t entryBytes = sizeof(CSS::Node*) + sizeof(uint32_t) + sizeof(uint8_t);

uint8_t colorTag(int32_t color)
{
    return color < 0xff ? static_cast<uint8_t>(color) : uint8_t{0xff};
}

}  // namespace

void CSS::reserveEntry(Group& group)
{
    if (group.size < group.capacity) {
        return;
    }
    // Growth by a quarter keeps the unused room of the columns small; the copies it takes are
    // few beside the nodes a large discrete state gathers.
    resizeColumns(group, group.capacity < groupThreshold ? groupThreshold : group.capacity + group.capacity / 4);
}

void CSS::resizeColumns(Group& group, uint32_t capacity)
{
    static_assert(alignof(Node*) >= alignof(uint32_t));
    auto* block = static_cast<char*>(::operator new(capacity * entryBytes));
    auto** nodes = reinterpret_cast<Node**>(block);
    auto* words = reinterpret_cast<uint32_t*>(nodes + capacity);
    auto* colors = reinterpret_cast<uint8_t*>(words + capacity);
    const uint32_t n = group.size;
    if (n > 0) {
        std::memcpy(nodes, group.nodes, n * sizeof(Node*));
        std::memcpy(words, group.words, n * sizeof(uint32_t));
        std::memcpy(colors, group.colors, n * sizeof(uint8_t));
    }
    ::operator delete(group.nodes);
    group.nodes = nodes;
    group.words = words;
    group.colors = colors;
    group.capacity = capacity;
    wordsGroup = nullptr;
}

void CSS::appendEntry(uint32_t id, Node* node, uint32_t word)
{
    Group& group = groups[id];
    reserveEntry(group);
    const uint32_t i = group.size;
    group.nodes[i] = node;
    group.words[i] = word;
    group.colors[i] = colorTag(node->color());
    ++group.size;
    node->spare = id;
}

uint32_t CSS::entryOf(Group& group, const Node* node)
{
    // Nodes are mostly looked for in the order of a walk over the group or of the search, next
    // to the latest one found in the same group.
    const uint32_t n = group.size;
    const uint32_t start = group.lastEntry < n ? group.lastEntry : n - 1;
    for (uint32_t d = 0; start + d < n || d <= start; ++d) {
        if (start + d < n && group.nodes[start + d] == node) {
            return group.lastEntry = start + d;
        }
        if (d <= start && group.nodes[start - d] == node) {
            return group.lastEntry = start - d;
        }
    }
    throw Bug("CSS: a node is missing from the index of its discrete part");
}

void CSS::eraseEntry(uint32_t id, uint32_t index)
{
    Group& group = groups[id];
    const uint32_t after = group.size - index - 1;
    std::memmove(group.nodes + index, group.nodes + index + 1, after * sizeof(Node*));
    std::memmove(group.words + index, group.words + index + 1, after * sizeof(uint32_t));
    std::memmove(group.colors + index, group.colors + index + 1, after * sizeof(uint8_t));
    --group.size;
    shrinkGroup(id);
}

void CSS::compactGroup(uint32_t id, uint32_t from)
{
    Group& group = groups[id];
    uint32_t kept = from;
    for (uint32_t i = from; i < group.size; ++i) {
        if (group.nodes[i] != nullptr) {
            group.nodes[kept] = group.nodes[i];
            group.words[kept] = group.words[i];
            group.colors[kept] = group.colors[i];
            ++kept;
        }
    }
    group.size = kept;
    shrinkGroup(id);
}

void CSS::shrinkGroup(uint32_t id)
{
    Group& group = groups[id];
    if (group.size == 0) {
        dropGroup(id);
    } else if (group.capacity > 16 && group.size <= group.capacity / 4) {
        resizeColumns(group, group.capacity / 2);
    }
}

void CSS::reverseGroups()
{
    for (Group& group : groups) {
        const uint32_t n = group.size;
        std::reverse(group.nodes, group.nodes + n);
        std::reverse(group.words, group.words + n);
        std::reverse(group.colors, group.colors + n);
        group.lastEntry = 0;
    }
}

CSS::Stored CSS::storedOf(const Node* node)
{
    if (!node->isGrouped()) {
        return {node->spare};
    }
    Group& group = groups[node->group()];
    const uint32_t index = entryOf(group, node);
    return {group.words[index], &group, index};
}

CSS::Node* CSS::findNode(const StateKey& key, const ColorSet& filter)
{
    return firstSameDiscrete(key, filter).node;
}

CSS::Iterator CSS::firstSameDiscrete(const StateKey& key, const ColorSet& filter)
{
    Iterator it;
    it.filter = &filter;
    for (IntrusiveHashTable::Node** link = &table.bucketOf(key.nodeHash); *link != nullptr; link = &(*link)->next) {
        Node* node = static_cast<Node*>(*link);
        if (node->hash == key.nodeHash && filter.passes(node->color()) && sameDiscrete(key, node)) {
            it.node = node;
            it.link = link;
            break;
        }
    }
    return it;
}

CSS::Node* CSS::nextSameDiscrete(Iterator& it)
{
    Node* current = it.node;
    it.node = nullptr;
    if (current == nullptr) {
        return nullptr;
    }
    for (IntrusiveHashTable::Node** link = &current->next; *link != nullptr; link = &(*link)->next) {
        Node* node = static_cast<Node*>(*link);
        if (node->hash == current->hash && sameHandles(node, current) && it.filter->passes(node->color())) {
            it.node = node;
            it.link = link;
            break;
        }
    }
    return it.node;
}

CSS::Iterator CSS::firstNode(const ColorSet& filter)
{
    Iterator it;
    it.filter = &filter;
    it.bucket = 0;
    it.node = nullptr;
    for (; it.bucket < table.getBucketCount(); ++it.bucket) {
        for (IntrusiveHashTable::Node* n = table.bucket(it.bucket); n != nullptr; n = n->next) {
            if (filter.passes(static_cast<Node*>(n)->color())) {
                it.node = static_cast<Node*>(n);
                return it;
            }
        }
    }
    return it;
}

CSS::Node* CSS::nextNode(Iterator& it)
{
    if (it.node == nullptr) {
        return nullptr;
    }
    IntrusiveHashTable::Node* n = it.node->next;
    it.node = nullptr;
    while (true) {
        for (; n != nullptr; n = n->next) {
            if (it.filter->passes(static_cast<Node*>(n)->color())) {
                it.node = static_cast<Node*>(n);
                return it.node;
            }
        }
        if (++it.bucket >= table.getBucketCount()) {
            return nullptr;
        }
        n = table.bucket(it.bucket);
    }
}

void CSS::loadNode(Node* node, SymbolicState* state)
{
    const size_t slots = state->getStaticSlotCount();
    if (unpacked.size() < slots) {
        unpacked.resize(slots);
    }
    const Discrete d = discreteOf(node);
    const uint32_t n = discrete->unpackLocations(unpacked.data(), d.locations);
    for (uint32_t p = 0; p < n; ++p) {
        state->setLocation(p, locationTable->get(unpacked[p]));
    }
    discrete->unpackIntegers(state->getVariables(), d.integers);
    if (node->meta != 0) {
        discrete->unpackIntegers(state->getMetaVariables(), node->meta);
    }
    dbm::zone_t zone(static_cast<uint32_t>(clockCount));
    zones->unpackZone(zone, node->zone);
    state->zone.assignZone(zone);
    state->zoneChanged();
}

void CSS::removeNode(Node* node, IntrusiveHashTable::Node** link)
{
    if (!node->isGrouped()) {
        unlinkAndRelease(node, link);
        return;
    }
    const uint32_t id = node->group();
    Group& group = groups[id];
    const uint32_t index = entryOf(group, node);
    if (link == nullptr) {
        // The node before it in the chain is mostly the one before it in the group.
        IntrusiveHashTable::Node** guess =
            index + 1 < group.size ? &group.nodes[index + 1]->next : &table.bucketOf(node->hash);
        if (*guess == node) {
            link = guess;
        }
    }
    unlinkAndRelease(node, link);
    eraseEntry(id, index);
}

void CSS::unlinkAndRelease(Node* node, IntrusiveHashTable::Node** link)
{
    --colorCounts[node->color()];
    if (link != nullptr && *link == node) {
        table.unlinkAt(link);
    } else {
        table.remove(node);
    }
    discrete->release(node->meta);
    zones->release(node->zone);
    node->zone = 0;
    node->meta = 0;
    if ((node->flags & tailFlag) != 0) {
        storage::handle_t* handles = tailOf(node);
        discrete->release(handles[0]);
        discrete->release(handles[1]);
        handles[0] = 0;
        handles[1] = 0;
    }
    if (node->isHeld()) {
        node->flags &= ~colorMask;
    } else {
        allocator->deallocate(reinterpret_cast<uint32_t*>(node), nodeWords(node));
    }
}

void CSS::recolor(Node* node, int32_t color)
{
    if (color == 0) {
        removeNode(node);
        return;
    }
    setColor(node, color, true);
}

void CSS::setColor(Node* node, int32_t color, bool inGroup)
{
    --colorCounts[node->color()];
    ++colorCounts[color];
    node->flags = (node->flags & ~colorMask) | (static_cast<uint32_t>(color) & colorMask);
    if (inGroup && node->isGrouped()) {
        Group& group = groups[node->group()];
        group.colors[entryOf(group, node)] = colorTag(color);
    }
}

void CSS::recolorAll(const ColorSet& colors, int32_t color)
{
    if (colors.empty()) {
        return;
    }
    // The groups first, each in one pass, rather than an entry at a time.
    for (uint32_t id = 0; id < groups.size(); ++id) {
        Group& group = groups[id];
        bool any = false;
        for (uint32_t i = 0; i < group.size; ++i) {
            if (colors.contains(group.nodes[i]->color())) {
                if (color == 0) {
                    group.nodes[i] = nullptr;
                    any = true;
                } else {
                    group.colors[i] = colorTag(color);
                }
            }
        }
        if (any) {
            compactGroup(id);
        }
    }
    for (size_t b = 0; b < table.getBucketCount(); ++b) {
        IntrusiveHashTable::Node** link = &table.bucket(b);
        while (*link != nullptr) {
            Node* node = static_cast<Node*>(*link);
            if (!colors.contains(node->color())) {
                link = &node->next;
            } else if (color == 0) {
                unlinkAndRelease(node, link);  // *link now holds the following node
            } else {
                setColor(node, color, false);
                link = &node->next;
            }
        }
    }
}

void CSS::dropMeta(Node* node)
{
    discrete->release(node->meta);
    node->meta = 0;
}

void CSS::freeNode(Node* node)
{
    allocator->deallocate(reinterpret_cast<uint32_t*>(node), nodeWords(node));
}

void CSS::widenByNode(dbm::fed_t& federation, Node* node)
{
    if (federation.size() >= 2) {
        federation.convexHull();
    }
    dbm::fed_t::mutable_iterator it = federation.beginMutable();
    if (!it.atEnd()) {
        zones->widenByStored(*it, node->zone);
    }
}

uint32_t CSS::orderBits(const dbm::zone_t& zone)
{
    if (zone.isEmpty()) {
        return ~0u;  // the empty zone lies in every zone
    }
    const uint32_t dim = zone.getDimension();
    const dbm::bound_t* m = zone.getMatrix();
    uint32_t bits = 0;
    uint32_t p = 0;
    for (uint32_t i = 1; i < dim; ++i) {
        const dbm::bound_t* row = m + static_cast<size_t>(i) * dim;
        for (uint32_t j = 1; j < i; ++j, ++p) {
            bits |= static_cast<uint32_t>(row[j] <= dbm::BOUND_LE_ZERO) << (p & 31);
        }
        for (uint32_t j = i + 1; j < dim; ++j, ++p) {
            bits |= static_cast<uint32_t>(row[j] <= dbm::BOUND_LE_ZERO) << (p & 31);
        }
    }
    return bits;
}

void CSS::computeZoneOrders(const dbm::fed_t& federation, bool withBits)
{
    zoneOrders.clear();
    for (const dbm::zone_t& zone : federation) {
        zoneOrders.push_back(withBits ? orderBits(zone) : 0);
    }
    zoneOrdersHaveBits = withBits;
    wordsGroup = nullptr;
}

void CSS::takeWords(const dbm::fed_t& federation, const Stored& stored)
{
    if (stored.group == nullptr || wordsGroup == stored.group) {
        return;
    }
    zoneWords.clear();
    for (const dbm::zone_t& zone : federation) {
        zoneWords.push_back(wordOf(*stored.group, zone));
    }
    wordsGroup = stored.group;
}

CSS::Candidate CSS::candidateOf(size_t k, const Stored& stored) const
{
    assert(stored.group != nullptr || zoneOrdersHaveBits);
    const uint32_t zone = stored.group == nullptr ? zoneOrders[k] : zoneWords[k];
    const uint32_t r = storage::wordRelations(stored.word, zone);
    return {(r & 1) != 0, (r & 2) != 0};
}

dbm::relation_t CSS::relationWithStored(const dbm::zone_t& zone, Candidate candidate, const Node* node,
                                        bool equalMatters)
{
    dbm::relation_t r;
    if (candidate.inside) {
        // Telling Equal from Subset may take decoding the stored zone: only when it matters.
        if (candidate.around && !equalMatters && zones->includesZone(zone, node->zone)) {
            return dbm::SUBSET;
        }
        r = zones->relationWithZone(zone, node->zone);
    } else {
        // Neither Equal nor Superset: only the inclusion of the zone remains to be decided.
        r = candidate.around && zones->includesZone(zone, node->zone) ? dbm::SUBSET : dbm::DIFFERENT;
    }
    differentCandidates += r == dbm::DIFFERENT && (candidate.around || candidate.inside) ? 1 : 0;
    return r;
}

int CSS::relateAndEliminate(dbm::fed_t& federation, int32_t cost, Node* node)
{
    computeZoneOrders(federation);
    return relateZones(federation, cost, node, storedOf(node));
}

int CSS::relateZones(dbm::fed_t& federation, int32_t cost, Node* node, const Stored& stored)
{
    // Most stored zones are told apart from every zone by their words alone: leave the
    // federation untouched (not even made private) for them.
    takeWords(federation, stored);
    bool mayBeRelated = false;
    for (size_t k = 0; k < zoneOrders.size(); ++k) {
        const Candidate c = candidateOf(k, stored);
        if (c.around || c.inside) {
            mayBeRelated = true;
            break;
        }
    }
    if (!mayBeRelated) {
        return federation.isEmpty() ? 2 : 0;
    }
    const int32_t storedCost = node->cost;
    size_t k = 0;  // index of the current zone in zoneOrders and zoneWords
    auto removeZone = [&](dbm::fed_t::mutable_iterator& it) {
        it.remove();
        zoneOrders.erase(zoneOrders.begin() + static_cast<std::ptrdiff_t>(k));
        if (wordsGroup != nullptr) {
            zoneWords.erase(zoneWords.begin() + static_cast<std::ptrdiff_t>(k));
        }
    };
    // Making a shared federation private copies its zones in the reverse order: the order bits
    // and words, taken from the shared list, are then taken again so that they pair with the zones.
    const dbm::zone_t* first = federation.isEmpty() ? nullptr : &*federation.begin();
    dbm::fed_t::mutable_iterator it = federation.beginMutable();
    if (first != nullptr && &*federation.begin() != first) {
        const Group* taken = wordsGroup;
        computeZoneOrders(federation, zoneOrdersHaveBits);
        if (taken != nullptr) {
            takeWords(federation, stored);
        }
    }
    while (!it.atEnd()) {
        switch (relationWithStored(*it, candidateOf(k, stored), node, cost < storedCost)) {
        case dbm::SUPERSET:
            if (storedCost >= cost) {
                return 1;
            }
            it.next();
            ++k;
            break;
        case dbm::DIFFERENT:
            it.next();
            ++k;
            break;
        case dbm::SUBSET:
            if (cost >= storedCost) {
                removeZone(it);
            } else {
                it.next();
                ++k;
            }
            break;
        case dbm::EQUAL:
            if (cost < storedCost) {
                return 1;
            }
            removeZone(it);
            break;
        default:
            throw Bug("Invalid relation in CSS::relateAndEliminate");
        }
    }
    return federation.isEmpty() ? 2 : 0;
}

bool CSS::relationWithNode(const dbm::fed_t& federation, int32_t cost, Node* node)
{
    computeZoneOrders(federation);
    return coversZone(federation, cost, node, storedOf(node));
}

bool CSS::coversZone(const dbm::fed_t& federation, int32_t cost, const Node* node, const Stored& stored)
{
    if (cost < node->cost) {
        return false;
    }
    // Only the inclusion of a zone in the stored one counts here (Subset or Equal).
    takeWords(federation, stored);
    size_t k = 0;
    for (const dbm::zone_t& zone : federation) {
        if (candidateOf(k++, stored).around && zones->includesZone(zone, node->zone)) {
            return true;
        }
    }
    return false;
}

bool CSS::checkAndEliminate(const StateKey& key, dbm::fed_t& federation, const ColorSet& eliminate,
                            const ColorSet& relate, const ColorSet& filter)
{
    IntrusiveHashTable::Node** link = &table.bucketOf(key.nodeHash);
    for (; *link != nullptr; link = &(*link)->next) {
        const Node* node = static_cast<const Node*>(*link);
        if (node->hash == key.nodeHash && sameDiscrete(key, node)) {
            break;
        }
    }
    if (*link == nullptr) {
        return false;
    }
    Node* first = static_cast<Node*>(*link);
    if (!first->isGrouped()) {
        return walkAndEliminate(first, link, key, federation, eliminate, relate, filter);
    }
    const uint32_t id = first->group();
    const int32_t cost = key.state->getCost();
    Group& group = groups[id];
    // Every node here is in the group and is told apart by the words: the order bits would not
    // be read.
    computeZoneOrders(federation, false);
    takeWords(federation, Stored{0, &group});
    // A stored zone whose word allows it neither inside nor around any zone is neither: neither
    // relating nor covering does anything with its node, which is not read. A federation of one
    // zone, the common case, is scanned with vector instructions; an empty federation leaves no
    // such test, and every node is visited. Relating removes zones from the federation as it goes:
    // a federation of several zones may come down to one.
    auto previous = [&](uint32_t end) -> uint32_t {
        if (zoneWords.size() == 1) {
            return storage::previousCandidate(group.words, end, zoneWords[0]);
        }
        if (zoneWords.empty()) {
            return end;
        }
        for (uint32_t i = end; i > 0; --i) {
            for (uint32_t word : zoneWords) {
                if (storage::wordRelations(group.words[i - 1], word) != 0) {
                    return i;
                }
            }
        }
        return 0;
    };
    // No group is made or dropped during the scan. Removed nodes leave a null entry, and the
    // group is compacted at the end; the walk goes from the front of the chain to its back.
    const uint64_t differentBefore = differentCandidates;
    uint32_t removed = 0;
    uint32_t firstRemoved = group.size;
    bool covered = false;
    for (uint32_t i = group.size; (i = previous(i)) > 0;) {
        --i;
        Node* node = group.nodes[i];
        const uint8_t tag = group.colors[i];
        if (!filter.passes(tag != colorInNode ? tag : node->color())) {
            continue;
        }
        const Outcome outcome = judge(federation, cost, node, Stored{group.words[i], &group, i}, eliminate, relate);
        if (outcome == Outcome::Covered) {
            covered = true;
            break;
        }
        if (outcome == Outcome::Remove) {
            // The node before it in the chain is mostly the nearest node before it in the group.
            uint32_t before = i + 1;
            while (before < group.size && group.nodes[before] == nullptr) {
                ++before;
            }
            unlinkAndRelease(node, before < group.size ? &group.nodes[before]->next : &table.bucketOf(node->hash));
            group.nodes[i] = nullptr;
            ++removed;
            firstRemoved = i;  // the scan goes down
        }
    }
    // Tests that let many unrelated zones through are chosen again: choosing reads every zone of
    // the group once, which the zone checks it spares pay for if the new tests do better.
    group.wasted += static_cast<uint32_t>(std::min<uint64_t>(differentCandidates - differentBefore, 1u << 20));
    if (removed > 0) {
        compactGroup(id, firstRemoved);  // may drop the group
    }
    if (group.size > 0 && group.wasted > (uint64_t{4} << group.patience) * group.size + 256) {
        chooseTests(group);
    }
    return covered;
}

bool CSS::walkAndEliminate(Node* first, IntrusiveHashTable::Node** firstLink, const StateKey& key,
                           dbm::fed_t& federation, const ColorSet& eliminate, const ColorSet& relate,
                           const ColorSet& filter)
{
    const int32_t cost = key.state->getCost();
    Iterator it;
    it.filter = &filter;
    it.node = first;
    it.link = firstLink;
    if (!filter.passes(first->color())) {
        nextSameDiscrete(it);
    }
    if (it.node != nullptr) {
        computeZoneOrders(federation);
    }
    // Removes the current node through its link, which the walk knows, instead of searching the
    // chain for it; the link of the next node is the current one's when the two were adjacent.
    auto remove = [&](Node* current, IntrusiveHashTable::Node** link) {
        const bool adjacent = it.link == &current->next;  // taken before current may be freed
        unlinkAndRelease(current, link);
        if (adjacent) {
            it.link = link;
        }
    };
    for (Node* node = it.node; node != nullptr;) {
        Node* current = node;
        IntrusiveHashTable::Node** link = it.link;
        node = nextSameDiscrete(it);  // before current may be removed
        const Outcome outcome = judge(federation, cost, current, Stored{current->spare}, eliminate, relate);
        if (outcome == Outcome::Covered) {
            return true;
        }
        if (outcome == Outcome::Remove) {
            remove(current, link);
        }
    }
    return false;
}

CSS::Outcome CSS::judge(dbm::fed_t& federation, int32_t cost, Node* node, const Stored& stored,
                        const ColorSet& eliminate, const ColorSet& relate)
{
    const int32_t color = node->color();
    if (!relate.contains(color)) {
        return coversZone(federation, cost, node, stored) ? Outcome::Remove : Outcome::Keep;
    }
    const int r = relateZones(federation, cost, node, stored);
    if (r == 2) {
        return Outcome::Covered;
    }
    return r == 1 && eliminate.contains(color) ? Outcome::Remove : Outcome::Keep;
}

bool CSS::containsPayload(const StateKey& key, const void* payload)
{
    const uint32_t id = findGroup(key);
    if (id == noGroup) {
        static const ColorSet everyColor;
        Iterator it = firstSameDiscrete(key, everyColor);
        for (Node* node = it.node; node != nullptr; node = nextSameDiscrete(it)) {
            if ((node->flags & payloadFlag) != 0 && node->payload() == payload) {
                return true;
            }
        }
        return false;
    }
    const Group& group = groups[id];
    const Node* wanted = static_cast<const Node*>(payload) - 1;
    for (uint32_t i = 0; i < group.size; ++i) {
        if (group.nodes[i] == wanted) {
            return (wanted->flags & payloadFlag) != 0;
        }
    }
    return false;
}

std::pair<storage::handle_t, storage::handle_t> CSS::discreteHandles(const StateKey& key)
{
    const storage::handle_t locations = discrete->packLocations(
        key.locationIndices, static_cast<uint32_t>(key.state->getStaticSlotCount()), key.locationHash);
    const storage::handle_t integers =
        discrete->packIntegers(key.state->getVariables(), static_cast<uint32_t>(integerCount), key.integerHash);
    return {locations, integers};
}
