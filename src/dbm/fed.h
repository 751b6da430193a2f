#pragma once
// Federations: finite unions of zones of one dimension, held as a copy-on-write
// handle on a pooled header with a singly linked list of zone handles.
//
// Invariants every operation keeps: the header's count equals the list length;
// every node holds a non-empty, closed DBM of the header's dimension; an empty
// federation has no node but keeps its dimension; a header whose reference
// count is above 1 is never changed. Making a shared header unique copies the
// list in reverse order, so a change to a shared federation sees (and leaves)
// its DBMs in the reverse of the shared order. List order is observable: it is
// the printing order, the zone a valuation is drawn from, and the order the
// reductions compare DBMs in.

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <utility>
#include <vector>

#include "dbm/block.h"
#include "dbm/dbm.h"
#include "dbm/zone.h"

namespace dbm
{
    class ClockAccessor;

    class fed_t
    {
    public:
        using header_t = FederationHeader;
        using node_t = FederationNode;

        /** An empty federation of dimension dim (clocks including the reference clock). */
        explicit fed_t(uint32_t dim = 1);
        /** The federation holding exactly z (an empty z gives an empty federation of its dimension). */
        explicit fed_t(const zone_t& z);
        fed_t(const fed_t& other) noexcept;
        fed_t(fed_t&& other) noexcept;
        fed_t& operator=(const fed_t& other) noexcept;
        fed_t& operator=(fed_t&& other) noexcept;
        ~fed_t();

        uint32_t getDimension() const { return h->dim; }
        size_t size() const { return h->size; }
        bool isEmpty() const { return h->size == 0; }
        /** The header; shared handles have the same one. */
        const header_t* getHeader() const { return h; }
        /** The first node of the list (null when empty); nodes are read-only through this. */
        const node_t* firstNode() const { return h->first; }

        /** Read-only walk over the DBMs in list order. */
        class const_iterator
        {
        public:
            explicit const_iterator(const node_t* n = nullptr): node(n) {}
            const zone_t& operator*() const { return node->zone; }
            const zone_t* operator->() const { return &node->zone; }
            const bound_t* matrix() const;
            const_iterator& operator++()
            {
                node = node->next;
                return *this;
            }
            bool operator==(const const_iterator& o) const { return node == o.node; }
            bool operator!=(const const_iterator& o) const { return node != o.node; }

        private:
            const node_t* node;
        };
        const_iterator begin() const { return const_iterator(h->first); }
        const_iterator end() const { return const_iterator(nullptr); }

        /** Walk that may remove the current DBM; creating it makes the header unique. */
        class mutable_iterator
        {
        public:
            bool atEnd() const { return *link == nullptr; }
            zone_t& operator*() const { return (*link)->zone; }
            zone_t* operator->() const { return &(*link)->zone; }
            const bound_t* matrix() const;
            void next() { link = &(*link)->next; }
            /** Releases the current DBM, returns its node and moves to the following one. */
            void remove();

        private:
            friend class fed_t;
            mutable_iterator(header_t* hd): hdr(hd), link(&hd->first) {}
            header_t* hdr;
            node_t** link;
        };
        mutable_iterator beginMutable();

        // ---- construction and assignment -------------------------------------------
        void setDimension(uint32_t dim);
        void setEmpty();
        void assignZone(const zone_t& z);
        void assignMatrix(const bound_t* m);
        void setZero();
        void setInit();
        /** Builds into out the zone above the bounds m (x_i > m_i), lower bounds tightened from the DBMs. */
        void zoneAboveBounds(zone_t& out, const int32_t* m) const;
        /** The same zone as a result. */
        zone_t zoneAboveBounds(const int32_t* m) const
        {
            zone_t out(getDimension());
            zoneAboveBounds(out, m);
            return out;
        }
        void convexHull();

        // ---- per-DBM transformations -----------------------------------------------
        void up();
        void upWithStopped(const uint32_t* stopped);
        void down();
        void downWithStopped(const uint32_t* stopped);
        void freeClock(uint32_t k);
        void updateValue(uint32_t k, int32_t v);
        void updateClock(uint32_t i, uint32_t j);
        void swapClocks(uint32_t i, uint32_t j);
        void extrapolateMaxBoundsDiagonal(const int32_t* max);
        void extrapolateLUBoundsDiagonal(const int32_t* lower, const int32_t* upper);

        // ---- constraining (true when not empty afterwards) ---------------------------
        bool constrainClock(uint32_t k, int32_t v);
        bool constrain(uint32_t i, uint32_t j, bound_t b);
        bool constrain(const clock_constraint_t* cs, size_t count);

        // ---- tests and bound queries ------------------------------------------------
        bool satisfies(uint32_t i, uint32_t j, bound_t b) const;
        bool isUnbounded() const;
        // The quick test (dbm::intersects per pair of DBMs): exact up to two clocks, a filter
        // beyond; intersectsExactly decides exactly, for callers whose answer decides a result.
        bool intersects(const fed_t& other) const;
        bool intersectsExactly(const fed_t& other) const;
        bool isSubsetEqMatrix(const bound_t* m) const;
        bound_t getUpperBound(uint32_t k) const;
        bound_t getLowerBound(uint32_t k) const;

        // ---- text, hash and valuation -----------------------------------------------
        std::string toString(const ClockAccessor& a, bool allBounds = false) const;
        uint64_t hash(uint32_t seed = 0) const;
        /** A point of the first DBM; free (one byte per clock, non-zero = choose it) may be null. */
        valuation_t& getValuation(valuation_t& v, uint8_t* free = nullptr) const;

        // ---- union ------------------------------------------------------------------
        /** Removes every DBM that m includes or equals; false when a remaining DBM strictly includes m. */
        bool removeSubsetsOfMatrix(const bound_t* m, uint32_t dim);
        void unionWith(const fed_t& other);
        void unionWithZone(const zone_t& z);
        void unionWithMatrix(const bound_t* m);

        // ---- intersection -----------------------------------------------------------
        void intersectWith(const fed_t& other);
        void intersectWithZone(const zone_t& z);
        void intersectWithMatrix(const bound_t* m);
        /** Intersects every DBM in place; the header must already be unique; no reduction. */
        void intersectEachWithZone(const zone_t& z);
        void intersectEachWithMatrix(const bound_t* m, uint32_t dim);

        // ---- subtraction ------------------------------------------------------------
        void subtractZone(const zone_t& z);
        void subtractMatrix(const bound_t* m);
        fed_t& subtract(const fed_t& other);
        /** Removes m's points from the list; the header must already be unique. */
        void subtractMatrixInPlace(const bound_t* m, uint32_t dim);

        // ---- inclusion and relation -------------------------------------------------
        bool isSubsetEqZone(const zone_t& z) const;
        bool someDBMIncludesZone(const zone_t& z) const;
        bool someDBMIncludesMatrix(const bound_t* m) const;
        int relationWithMatrix(const bound_t* m, uint32_t dim) const;
        int relationWithZone(const zone_t& z) const;
        /** Inexact (pairwise) relation code. */
        int relation(const fed_t& other) const;
        /** Exact inclusion of the point sets. */
        bool isSubsetEq(const fed_t& other) const;
        int relationExact(const fed_t& other) const;
        bool includesMatrix(const bound_t* m, uint32_t dim) const;
        int relationExactZone(const zone_t& z) const;
        int relationExactMatrix(const bound_t* m, uint32_t dim) const;

        // ---- reduction and extrapolation --------------------------------------------
        /**
         * Removes DBMs included in others and replaces two DBMs by their convex hull where
         * the hull adds no point outside the federation (as far as the level looks: 0 the
         * pair alone, 1 other DBMs one by one, 2 the whole federation). Only DBMs from
         * position start on are compared with the ones before them.
         */
        void mergeReduce(size_t start = 0, int level = 0);
        void splitExtrapolateMaxBounds(const clock_constraint_t* begin, const clock_constraint_t* end,
                                       const int32_t* max);
        void reduceByRelation();
        void removeIncludedIn(const fed_t& other);
        void removeRedundant();
        void absorb(fed_t& other);
        /** Replaces the list by a shorter one built from the convex hull when that pays. */
        void reduceByHull();
        /** Grows hulls over neighbouring DBMs and keeps the shorter of a group and its hull's cover. */
        void expensiveMergeReduce();
        /** Splits the DBMs into groups of touching closures and reduces each group on its own. */
        void partitionReduce();

        // ---- further per-DBM operations -------------------------------------------------
        void extrapolateMaxBounds(const int32_t* max);
        void extrapolateLUBounds(const int32_t* lower, const int32_t* upper);
        void freeUp(uint32_t k);
        void freeDown(uint32_t k);
        void freeAllUp();
        void freeAllDown();
        void shiftClock(uint32_t k, int32_t v);
        void update(uint32_t i, uint32_t j, int32_t v);
        void relaxUpClock(uint32_t k);
        void relaxDownClock(uint32_t k);
        void relaxAll();
        void raiseUpperBounds();
        bool tightenDown();
        bool tightenUp();
        bool constrainIndexed(const uint32_t* table, const clock_constraint_t* cs, size_t count);
        bool constrainIndexed(const uint32_t* table, const std::pair<const clock_constraint_t*, size_t>& cs)
        {
            return constrainIndexed(table, cs.first, cs.second);
        }
        bool constrainIndexed(const uint32_t* table, const std::vector<clock_constraint_t>& cs)
        {
            return constrainIndexed(table, cs.data(), cs.size());
        }
        void addRelaxedNonStrict();
        void convexHullWith(const fed_t& other);
        void convexHullWithZone(const zone_t& z);
        void convexHullWithMatrix(const bound_t* m);
        void intern();

        // ---- further tests ------------------------------------------------------------
        bool hasLooserBound(uint32_t i, uint32_t j, bound_t b) const;
        bool hasZero() const;
        bool hasNoFixedClock() const;
        int32_t maxBoundGap(uint32_t k) const;
        int32_t zeroOtherClocks(uint32_t k);
        bool containsZone(const zone_t& z) const;
        bool containsMatrix(const bound_t* m) const;
        bool containsHandle(const zone_t& z) const;
        bool intersectsMatrix(const bound_t* m, uint32_t dim) const;
        bool intersectsZone(const zone_t& z) const;
        bool intersectsMatrixExactly(const bound_t* m, uint32_t dim) const;
        bool intersectsZoneExactly(const zone_t& z) const;
        bool containsIntPoint(const int32_t* v) const;
        bool containsPoint(const double* v) const;
        bool hasLooserUpperBounds(const bound_t* m) const;
        bool hasEmptyDBM() const;
        void removeEmpty();
        void getMatrices(const bound_t** out) const;

        // ---- clock sets and delays of a point ------------------------------------------------
        /** Rebuilds every DBM over the target clock set; table gets each kept clock's new index. */
        void resize(const uint32_t* srcBits, const uint32_t* dstBits, size_t nWords, uint32_t* table);
        /** Rebuilds every DBM from table (source index of each new clock, -1 for a new one). */
        void resizeByTable(const int32_t* table, uint32_t dim);
        /** Smallest delay after which the point lies in some DBM; false when none is finite. */
        bool delayToEnter(const double* point, uint32_t dim, double* delay, double* exactDelay = nullptr,
                          bool* strict = nullptr, const uint32_t* stopped = nullptr) const;
        /** Largest delay (at most cap) by which the point can be moved back and stay in a DBM. */
        bool maxPastDelay(const double* point, uint32_t dim, double* delay, double cap) const;
        /**
         * delayToEnter, then how long the point stays in the federation after entering, through
         * every DBM it passes on: leave is the end of that stay (+infinity when unbounded) and
         * leaveStrict tells whether the end itself lies outside; a strict end is then lowered to
         * the last delay found inside (by a step from 2e-6 down to 2e-15).
         */
        bool delayToLeave(const double* point, uint32_t dim, double* enter, double* leave,
                          bool* enterStrict = nullptr, bool* leaveStrict = nullptr,
                          const uint32_t* stopped = nullptr) const;
        /** How far the point can be moved back and stay inside (0 when it is not inside). */
        double pastDelayInside(const double* point, uint32_t dim) const;

        // ---- list surgery -------------------------------------------------------------
        size_t detachNodes(node_t** out);
        void attachNodes(node_t* const* nodes, size_t count);
        bool removeHandle(const zone_t& z);
        void prependList(fed_t& other);
        void appendList(fed_t& other);
        void appendListBalanced(fed_t& other);
        void pushNode(node_t* n);

        // ---- predecessors and boundaries ----------------------------------------------------
        /** Timed predecessors avoiding the bad zone, within the optional restriction matrix. */
        void pastAvoidingZone(const zone_t& bad, const bound_t* restrict = nullptr);
        void pastAvoiding(const fed_t& bad, const bound_t* restrict = nullptr);
        void pastAvoidingMatrix(const bound_t* bad, uint32_t dim, const bound_t* restrict = nullptr);
        bool isIncludedInPastAvoiding(const fed_t& q, const fed_t& bad) const;
        /**
         * Timed successors of the DBMs of this that avoid the DBMs of bad. False (and this
         * unchanged) when some step leaves points on a closed face where a bad zone begins.
         */
        bool upAvoiding(const fed_t& bad);
        /** out := the future of p (u = up(p)) that avoids q; see upAvoiding for the result. */
        static bool upAvoidingStep(fed_t& out, const zone_t& p, const zone_t& u, const zone_t& q);
        /** Past of the lower faces; empty when some DBM has a strict lower bound. */
        void pastOfLowerFaces(fed_t& out) const;
        void lowerBoundary(fed_t& out) const;
        void upperBoundary(fed_t& out) const;
        /** Subtracts the DBMs of the argument whose upper bounds are not all looser than this, then the past. */
        void downExcept(const fed_t& other);
        void downExcept(const zone_t& z);
        void downExcept(const bound_t* m);

        static fed_t fromDifference(const bound_t* a, const bound_t* b, uint32_t dim);
        static fed_t fromDifference(const zone_t& a, const bound_t* b);
        static fed_t fromDifference(const zone_t& a, const zone_t& b);
        static fed_t fromUnboundedPart(const fed_t& other);
        static fed_t fromBoundedPart(const fed_t& other);

    private:
        void makeUnique();
        // The last delay, below a strict end of a stay, after which the point is still inside.
        double lastDelayInside(const double* point, uint32_t dim, double end, const uint32_t* stopped) const;
        header_t* h;
    };

    namespace fed_detail
    {
        // Thin access to the zone handle and the pools, shared by the federation sources.
        inline bool zEmpty(const zone_t& z) { return z.isEmpty(); }
        inline uint32_t zDim(const zone_t& z) { return z.getDimension(); }
        inline const bound_t* zMatrix(const zone_t& z) { return z.getMatrix(); }
        inline bound_t* zWritable(zone_t& z) { return z.makeWritable(); }
        // Releases the block of z and makes it the empty marker of its dimension.
        inline void zRelease(zone_t& z) { z.setEmpty(); }
        // A new zone handle holding a copy of m.
        inline zone_t zCopyOf(const bound_t* m, uint32_t dim)
        {
            zone_t z(dim);
            z.assignMatrix(m, dim);
            return z;
        }
        inline FederationNode* nodeNew(FederationNode* next) { return newFederationNode(next); }
        // Releases the node's DBM and returns the node to the pool.
        inline void nodeFree(FederationNode* n) { freeFederationNode(n); }

        // Buffers of scratch arrays that outgrew the stack, kept for the next operation so that
        // large federations and dimensions do not allocate per operation; one pool per element type.
        template <typename T>
        std::vector<std::vector<T>>& scratchSpares()
        {
            static std::vector<std::vector<T>> spares;
            return spares;
        }
        // Gives the kept buffers back to the system.
        void clearScratchSpares();

        // Small scratch array on the stack; larger ones borrow a kept buffer (contents unspecified).
        template <typename T, size_t N>
        class Scratch
        {
        public:
            explicit Scratch(size_t n)
            {
                if (n > N) {
                    std::vector<std::vector<T>>& spares = scratchSpares<T>();
                    if (!spares.empty()) {
                        heap.swap(spares.back());
                        spares.pop_back();
                    }
                    if (heap.size() < n) {
                        heap.resize(n);
                    }
                    data = heap.data();
                } else {
                    data = local;
                }
            }
            ~Scratch()
            {
                if (data != local) {
                    keep(heap);
                }
            }
            Scratch(const Scratch&) = delete;
            Scratch& operator=(const Scratch&) = delete;
            T* get() { return data; }
            T& operator[](size_t i) { return data[i]; }

        private:
            // Out of line: the stack-only path stays as small as a plain array.
            [[gnu::noinline]] static void keep(std::vector<T>& buffer) noexcept
            {
                try {
                    scratchSpares<T>().push_back(std::move(buffer));
                } catch (...) {
                    // No room to keep it: the buffer is simply freed.
                }
            }

            T local[N];
            std::vector<T> heap;
            T* data;
        };
    }

    /**
     * Splits the DBM held in node by the minimal graph of m (graph bits and their number
     * g): *pieces becomes the list of the pieces of D minus m, pairwise disjoint, closed
     * and non-empty, the last made first. The node is reused or returned to the pool.
     * Returns the number of pieces.
     */
    size_t subtractDBM(FederationNode* node, const bound_t* m, uint32_t dim, const uint32_t* graph, size_t g,
                       FederationNode** pieces);

    /** Diagnostic dump of a federation (matrix rows, or the matrix syntax when switched on). */
    void printFederation(std::ostream& os, const fed_t& f);
}
