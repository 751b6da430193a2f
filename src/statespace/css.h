#pragma once

// The constraint-system store: the explored symbolic states behind the passed and passed-waiting
// lists. One node per stored zone holds its meta variables (hash-consed by a discrete storage), the
// zone (hash-consed by a zone storage), the state's cost and a color. Nodes are found by their
// discrete part (locations and integer variables, hash-consed too); the zones found are compared
// with the zones of a new state, which is then either covered or removes the nodes it dominates.
// Colors let several lists share one store, each seeing only its own nodes.
//
// Every node sits in the chain of its hash bucket, which gives the order of the walks over the
// store. A discrete state with few nodes is walked through that chain, and each of its nodes
// keeps the handles of the discrete part behind it. A discrete state that gathers more nodes gets
// a group: the handles once, and an index of its nodes in the order of the chain, in columns: their
// addresses, their colors, and a word of bound tests for each zone that the group chose for its
// zones (zone_summary.h). A new zone is related to the zones of such a state by a vector scan of
// the words, and only the few nodes whose words allow an inclusion either way are read; its nodes
// made from then on carry no handles.
//
// Node memory comes from the store's pooled allocator. A node may carry a payload right behind it;
// callers identify such a node by its payload address. A node that a waiting order holds (the held
// flag) is not freed when it is removed from the store: it keeps color 0 until its holder frees it.

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "dbm/fed.h"
#include "dbm/zone.h"
#include "runtime/intrusive_hash_table.h"
#include "statespace/discrete_storage.h"
#include "statespace/zone_storage.h"
#include "statespace/zone_summary.h"
#include "support/object.h"
#include "support/pool.h"

class Location;
class LocationTable;
class SymbolicState;
class System;

// An ordered set of colors. As a filter an empty set lets every color pass; as a set of colors to
// act on (relate, eliminate) an empty set holds none.
class ColorSet
{
public:
    ColorSet() = default;
    ColorSet(std::initializer_list<int32_t> colors);

    void insert(int32_t color);
    void clear() { colors.clear(); }
    bool empty() const { return colors.empty(); }
    bool contains(int32_t color) const;
    bool passes(int32_t color) const { return colors.empty() || contains(color); }
    const std::vector<int32_t>& values() const { return colors; }

private:
    std::vector<int32_t> colors;  // ascending
};

// Bob Jenkins' lookup2 mix of three 32-bit words; returns the final c.
uint32_t lookup2Mix(uint32_t a, uint32_t b, uint32_t c);

class CSS : public base::Object
{
public:
    struct Node : IntrusiveHashTable::Node
    {
        storage::handle_t meta;  // 0 once the node has been explored (dropMeta)
        storage::zone_handle_t zone;
        int32_t cost;
        uint32_t flags;  // color and flags below

        // Kept in the table node's spare word: the group of the node's discrete part when it has
        // one, otherwise the order bits of the node's zone.
        uint32_t group() const { return spare; }
        bool isGrouped() const { return (flags & groupedFlag) != 0; }

        int32_t color() const { return static_cast<int32_t>(flags & colorMask); }
        bool isHeld() const { return (flags & heldFlag) != 0; }
        void setHeld(bool held) { flags = held ? flags | heldFlag : flags & ~heldFlag; }
        uint32_t payloadWords() const { return (flags & payloadFlag) != 0 ? 2 : 0; }
        void* payload() { return this + 1; }
    };
    static constexpr uint32_t colorMask = 0x0fffffff;
    static constexpr uint32_t heldFlag = 0x10000000;
    static constexpr uint32_t payloadFlag = 0x20000000;  // an 8-byte payload follows the node
    static constexpr uint32_t groupedFlag = 0x40000000;  // the node is in a group
    static constexpr uint32_t tailFlag = 0x80000000;     // the discrete handles follow (the payload)

    // What a lookup needs of a state: the hashes of its location vector (global location indices)
    // and of its integer variables, and the node hash mixed from both. The location indices are
    // kept in the store's buffer: a key is valid until the next key of the same store is made.
    struct StateKey
    {
        uint32_t locationHash;
        uint32_t integerHash;
        uint32_t nodeHash;
        SymbolicState* state;
        const uint32_t* locationIndices;
    };

    // A walk over nodes whose color passes a filter.
    struct Iterator
    {
        const ColorSet* filter = nullptr;
        Node* node = nullptr;
        // For walks over one discrete part: the link that points at node.
        IntrusiveHashTable::Node** link = nullptr;
        // For walks over the whole table.
        size_t bucket = 0;
    };

    // Stores states of the System. Compact: compressed discrete parts and minimal-graph zones;
    // otherwise verbatim discrete parts and full matrices (16-bit bounds where they fit, both).
    CSS(System* system, bool compact);
    ~CSS() override;
    CSS(const CSS&) = delete;
    CSS& operator=(const CSS&) = delete;

    // The next color (1, 2, ...), with no node yet.
    int32_t newColor();
    // Number of stored nodes of a color.
    int32_t colorCount(int32_t color) const;

    // The key of the state's discrete part.
    StateKey makeKey(SymbolicState* state);

    // A new node of the key's state with this zone and color (nothing and null for color 0),
    // with an 8-byte payload when `withPayload` is set. Returns the node; the payload follows it.
    Node* addNode(const StateKey& key, const dbm::zone_t& zone, int32_t color, bool withPayload, bool held);

    // First node with the key's discrete part whose color passes the filter, or null.
    Node* findNode(const StateKey& key, const ColorSet& filter);
    // Starts a walk over the nodes of the key's discrete part (it.node is the first, or null).
    Iterator firstSameDiscrete(const StateKey& key, const ColorSet& filter);
    // Moves to the next node of the same discrete part whose color passes the filter; null at the end.
    Node* nextSameDiscrete(Iterator& it);
    // Walk over every node in bucket order.
    Iterator firstNode(const ColorSet& filter);
    Node* nextNode(Iterator& it);

    // Writes the node into the state: locations, integer variables, meta variables (unless dropped)
    // and the zone (the federation becomes exactly the stored zone).
    void loadNode(Node* node, SymbolicState* state);
    // Takes the node out of the table and releases its zone; frees it unless it is held, in which
    // case it only gets color 0. `link`, when given, is the link that points at the node.
    void removeNode(Node* node, IntrusiveHashTable::Node** link = nullptr);
    // Color 0 removes the node; another color moves it there.
    void recolor(Node* node, int32_t color);
    // Every node whose color is in the set gets the new color (0: is removed).
    void recolorAll(const ColorSet& colors, int32_t color);
    // Forgets the node's meta variables.
    void dropMeta(Node* node);
    // Frees the memory of a node that was held and has been removed (color 0).
    void freeNode(Node* node);

    // The federation becomes the convex hull of its zones widened by the node's zone.
    void widenByNode(dbm::fed_t& federation, Node* node);
    // Relates the zones of a federation, with the state's cost, to a node: 1 as soon as a zone
    // dominates the node (includes it at no lower cost, or equals it at lower cost); otherwise
    // removes the zones that the node covers at no higher cost and returns 2 when none is left, 0
    // when some are. The federation is made private first.
    int relateAndEliminate(dbm::fed_t& federation, int32_t cost, Node* node);
    // True when the node covers some zone of the federation at no higher cost.
    bool relationWithNode(const dbm::fed_t& federation, int32_t cost, Node* node);
    // Compares the state's federation with every node of its discrete part whose color passes the
    // filter. Nodes of relate colors: zones they cover go from the federation, nodes the state
    // dominates are removed when their color is in the eliminate set, and true (covered) is
    // returned once no zone is left. Nodes of other colors are removed when they cover a zone.
    bool checkAndEliminate(const StateKey& key, dbm::fed_t& federation, const ColorSet& eliminate,
                           const ColorSet& relate, const ColorSet& filter);
    // Whether some node of the key's discrete part carries that payload.
    bool containsPayload(const StateKey& key, const void* payload);

    // The handles of the key's discrete part (stored when new): equal discrete parts, equal pairs.
    std::pair<storage::handle_t, storage::handle_t> discreteHandles(const StateKey& key);

    static Node* nodeOfPayload(void* payload) { return static_cast<Node*>(payload) - 1; }
    // The 32-bit words of memory of a node: the node, its payload and its discrete handles.
    static uint32_t nodeWords(const Node* node);

    // The order bits of a closed zone: bit p mod 32, p counting the ordered pairs (i, j) of
    // distinct clocks other than the reference clock row by row, is set when the zone implies
    // x_i <= x_j. A zone inside another has every order bit of the other, so zones whose bits are
    // not ordered either way by inclusion are not ordered by inclusion either. The zones that one
    // discrete state gathers mostly differ in the order in which their clocks were reset, and
    // this settles nearly every comparison among them without reading a stored zone.
    static uint32_t orderBits(const dbm::zone_t& zone);

    // Figures for tests and reports.
    size_t nodeCount() const { return table.size(); }
    // Discrete parts with stored nodes.
    size_t groupCount() const { return groups.size() - freeGroups.size(); }
    size_t tableBucketCount() const { return table.getBucketCount(); }
    // How many times groups chose their tests (once when made, again when they let through too
    // many unrelated zones).
    uint64_t testChoiceCount() const { return testChoices; }
    const storage::DiscreteStorage& getDiscreteStorage() const { return *discrete; }
    const storage::ZoneStorage& getZoneStorage() const { return *zones; }
    const base::DataAllocator& getAllocator() const { return *allocator; }

private:
    // The nodes of one discrete part. The columns run parallel, the node that comes first in the
    // bucket chain last, so that a new node (which goes to the front of the chain) is appended.
    // The group holds the one reference of its nodes to their locations and integer variables.
    struct Group
    {
        storage::handle_t locations = 0;
        storage::handle_t integers = 0;
        uint32_t size = 0;
        uint32_t capacity = 0;
        uint32_t lastEntry = 0;   // where entryOf found its latest node
        uint32_t testCount = 0;
        uint32_t chosenAt = 0;    // the size when the tests were chosen
        uint32_t wasted = 0;      // nodes that passed the words and were Different, since then
        uint32_t patience = 0;    // choices since the group last doubled: each doubles the wait
        Node** nodes = nullptr;   // capacity entries, then the other columns in one block
        uint32_t* words = nullptr;
        uint8_t* colors = nullptr;  // the node's color, or colorInNode when it does not fit
        storage::BoundTest tests[storage::summaryTests];
    };
    static constexpr uint8_t colorInNode = 0xff;
    // What the relations of a zone with a stored node may be, from the words: the zone inside the
    // stored one (around), the stored one inside the zone (inside).
    struct Candidate
    {
        bool around;
        bool inside;
    };
    // What is known of a stored node's zone without reading it: its order bits, or its word and
    // its entry when it is in a group.
    struct Stored
    {
        uint32_t word;
        Group* group = nullptr;
        uint32_t index = 0;
    };
    static constexpr uint32_t noGroup = ~0u;
    // The number of nodes from which a discrete state has a group.
    static constexpr uint32_t groupThreshold = 8;
    struct Discrete
    {
        storage::handle_t locations;
        storage::handle_t integers;
        bool operator==(const Discrete&) const = default;
    };

    // What checkAndEliminate does with one stored node: keep it, remove it (the federation
    // dominates it), or stop because it covers the federation.
    enum class Outcome { Keep, Remove, Covered };
    // For a node of a color that `relate` holds, relates the federation to it (removing the
    // federation's zones it covers) and removes it when dominated and `eliminate` holds its color;
    // for any other color, only tests whether the federation covers it.
    Outcome judge(dbm::fed_t& federation, int32_t cost, Node* node, const Stored& stored, const ColorSet& eliminate,
                  const ColorSet& relate);
    // checkAndEliminate for a discrete state without a group: a walk over its chain from its
    // first node, which `firstLink` points at.
    bool walkAndEliminate(Node* first, IntrusiveHashTable::Node** firstLink, const StateKey& key,
                          dbm::fed_t& federation, const ColorSet& eliminate, const ColorSet& relate,
                          const ColorSet& filter);
    // Fills a new node and enters it into the table and into the group, if any.
    void storeNode(const StateKey& key, const dbm::zone_t& zone, int32_t color, bool held, Node* node, uint32_t id);
    // The handles of the node's discrete part.
    Discrete discreteOf(const Node* node) const;
    static storage::handle_t* tailOf(Node* node);
    // The group of the key's discrete part; without one, `count` is the number of its nodes (up
    // to groupThreshold).
    uint32_t lookUp(const StateKey& key, uint32_t& count);
    // A group for the key's discrete part, with the nodes it has.
    uint32_t makeGroup(const StateKey& key);
    // Chooses the tests of a group from its zones and takes the word of every entry again.
    void chooseTests(Group& group);
    // The word of a zone for the group's tests.
    static uint32_t wordOf(const Group& group, const dbm::zone_t& zone);

    bool sameDiscrete(const StateKey& key, const Node* node);
    // The group of the key's discrete part, or noGroup (also when it has no node).
    uint32_t findGroup(const StateKey& key);
    // A group for the key's discrete part, which has none yet.
    uint32_t newGroup(const StateKey& key);
    // Releases the discrete part and the arrays of a group without nodes.
    void dropGroup(uint32_t id);
    // Room for one more entry.
    void reserveEntry(Group& group);
    // Moves the columns into a block for `capacity` entries.
    void resizeColumns(Group& group, uint32_t capacity);
    // Drops an emptied group, or halves the columns of one that holds a quarter of them.
    void shrinkGroup(uint32_t id);
    // Appends the node with the word, and marks the node's spare word with the group.
    void appendEntry(uint32_t id, Node* node, uint32_t word);
    // The index of the node in its group; searched outward from the latest index found.
    uint32_t entryOf(Group& group, const Node* node);
    // Takes the entry out of its group, keeping the order of the others; drops an emptied group.
    void eraseEntry(uint32_t id, uint32_t index);
    // Takes the null entries out of a group, keeping the order of the others; drops an emptied
    // group. Entries before `from` are not null.
    void compactGroup(uint32_t id, uint32_t from = 0);
    // After the table has doubled: every chain holds its nodes in the reverse order.
    void reverseGroups();
    // Unlinks the node through `link` (searches the chain when null or stale) and releases it:
    // its zone, its meta and discrete handles and its memory unless held. The group is left as it is.
    void unlinkAndRelease(Node* node, IntrusiveHashTable::Node** link);
    // relateAndEliminate with the order bits of the federation's zones in `zoneOrders` (in
    // federation order; entries of removed zones are removed with them).
    int relateZones(dbm::fed_t& federation, int32_t cost, Node* node, const Stored& stored);
    // The relation of a zone to the node's zone, of which the words allow what `candidate` says.
    // Unless `equalMatters`, an Equal zone may be answered as Subset (the two act alike for a zone
    // of no lower cost).
    dbm::relation_t relationWithStored(const dbm::zone_t& zone, Candidate candidate, const Node* node,
                                       bool equalMatters);
    // What the words allow between the federation's k-th zone and the stored node; zoneWords
    // must be those of the stored node's group (takeWords).
    Candidate candidateOf(size_t k, const Stored& stored) const;
    // relationWithNode with the order bits of the federation's zones in `zoneOrders`.
    bool coversZone(const dbm::fed_t& federation, int32_t cost, const Node* node, const Stored& stored);
    // Fills zoneOrders for the federation (with zeros in place of the bits unless `withBits`: for
    // nodes of a group, whose words are compared instead), and forgets zoneWords.
    void computeZoneOrders(const dbm::fed_t& federation, bool withBits = true);
    // Fills zoneWords for the federation and the node's group, unless they are there.
    void takeWords(const dbm::fed_t& federation, const Stored& stored);
    // What is known of the node's zone.
    Stored storedOf(const Node* node);
    // A new color for the node, counted, with its group's entry when `inGroup`.
    void setColor(Node* node, int32_t color, bool inGroup);
    bool sameHandles(const Node* a, const Node* b) const { return discreteOf(a) == discreteOf(b); }
    uint32_t zoneHash(const dbm::zone_t& zone) const;

    int32_t nextColor = 1;
    int32_t integerCount;
    int32_t metaCount;
    int32_t clockCount;
    IntrusiveHashTable table;
    std::vector<int32_t> colorCounts;
    const LocationTable* locationTable;
    base::RefPtr<base::DataAllocator> allocator;
    base::RefPtr<storage::DiscreteStorage> discrete;
    base::RefPtr<storage::ZoneStorage> zones;
    std::vector<uint32_t> indices;  // location indices of the latest key, and for unpacking
    std::vector<uint32_t> unpacked;
    std::vector<uint32_t> zoneOrders;  // order bits of the federation under comparison
    bool zoneOrdersHaveBits = true;    // false: zoneOrders holds only one place per zone
    std::vector<uint32_t> zoneWords;   // its words for the tests of the group `wordsGroup`
    const Group* wordsGroup = nullptr;
    uint64_t differentCandidates = 0;  // nodes that passed the words or bits and were Different
    uint64_t testChoices = 0;
    std::vector<Group> groups;         // by id; ids of dropped groups are reused
    std::vector<uint32_t> freeGroups;
    std::vector<Node*> gathered;       // the nodes of a discrete state that gets a group
    std::vector<dbm::bound_t> decoded;  // stored zones decoded to choose the tests of a group
    std::vector<const dbm::bound_t*> sampled;  // the zones among them that the tests are chosen from
};
