// Federation algebra: union, intersection, subtraction, exact and pairwise
// inclusion and relation, the merging reduction and the max-bounds
// extrapolation that respects diagonal constraints.

#include <algorithm>
#include <vector>

#include "dbm/encoded.h"
#include "dbm/extrapolation.h"
#include "dbm/fed.h"
#include "support/hash.h"

namespace dbm
{
    using namespace fed_detail;

    namespace
    {
        using Node = FederationNode;

        // A list of nodes with its length: the working form of the algebra, moved in and
        // out of a header around each operation.
        struct List
        {
            Node* first = nullptr;
            uint64_t size = 0;
        };


        void unlinkFree(Node** link, List& l)
        {
            Node* n = *link;
            *link = n->next;
            freeFederationNode(n);
            --l.size;
        }

        Node** tailLink(Node** link)
        {
            while (*link != nullptr) {
                link = &(*link)->next;
            }
            return link;
        }

        // Joins two lists: the shorter one is walked and goes first, a first on a tie.
        List spliceBalanced(List a, List b)
        {
            List r;
            r.size = a.size + b.size;
            if (b.size < a.size) {
                *tailLink(&b.first) = a.first;
                r.first = b.first;
            } else {
                *tailLink(&a.first) = b.first;
                r.first = a.first;
            }
            return r;
        }

        bool removeSubsetsOf(List& l, const bound_t* m, uint32_t dim)
        {
            bool result = true;
            Node** link = &l.first;
            while (*link != nullptr) {
                const relation_t r = dbm::relation(zMatrix((*link)->zone), dim, m);
                if (r == SUBSET || r == EQUAL) {
                    unlinkFree(link, l);
                } else {
                    if (r == SUPERSET) {
                        result = false;
                    }
                    link = &(*link)->next;
                }
            }
            return result;
        }

        void pushFront(List& l, const zone_t& z)
        {
            Node* n = newFederationNode(l.first);
            n->zone = z;
            l.first = n;
            ++l.size;
        }

        // Intersects every DBM with m in place. A shared DBM that strictly includes m
        // becomes the operand itself (z shared when given, else a copy of m), once.
        void intersectEach(List& l, const bound_t* m, uint32_t dim, const zone_t* z)
        {
            bool taken = false;
            Node** link = &l.first;
            while (*link != nullptr) {
                Node* n = *link;
                if (n->zone.intersectStep(m, dim)) {
                    if (!taken) {
                        n->zone = z != nullptr ? *z : zCopyOf(m, dim);
                        taken = true;
                    } else {
                        zRelease(n->zone);
                    }
                }
                if (zEmpty(n->zone)) {
                    unlinkFree(link, l);
                } else {
                    link = &n->next;
                }
            }
        }

        // For each x of X in order, scans Y from its first: y strictly inside x is removed
        // from Y; x inside or equal to y is removed from X.
        void removeMutualInclusions(List& x, List& y, uint32_t dim)
        {
            Node** xLink = &x.first;
            while (*xLink != nullptr) {
                Node* xn = *xLink;
                bool removed = false;
                Node** yLink = &y.first;
                while (*yLink != nullptr) {
                    Node* yn = *yLink;
                    const relation_t r = dbm::relation(zMatrix(xn->zone), dim, zMatrix(yn->zone));
                    if (r == SUPERSET) {
                        unlinkFree(yLink, y);
                    } else if (r == SUBSET || r == EQUAL) {
                        unlinkFree(xLink, x);
                        removed = true;
                        break;
                    } else {
                        yLink = &yn->next;
                    }
                }
                if (!removed) {
                    xLink = &xn->next;
                }
            }
        }

        // Minimal graph of m without the zero lower bounds; returns the number of bounds.
        uint32_t cuttingGraph(const bound_t* m, uint32_t dim, uint32_t* bits)
        {
            const uint32_t g = analyzeMinimalGraph(m, dim, bits);
            return cleanZeroLowerBounds(m, dim, bits, g);
        }

        void subtractInPlace(List& list, const bound_t* m, uint32_t dim)
        {
            if (dim < 2) {
                freeFederationNodes(list.first);
                list = List();
                return;
            }
            Scratch<uint32_t, 64> graph(bitMatrixWords(dim));
            bool graphDone = false;
            uint32_t g = 0;
            List l;
            Node* p = list.first;
            while (p != nullptr) {
                Node* next = p->next;
                if (!dbm::intersects(zMatrix(p->zone), dim, m)) {
                    p->next = l.first;
                    l.first = p;
                    ++l.size;
                } else {
                    if (!graphDone) {
                        g = cuttingGraph(m, dim, graph.get());
                        graphDone = true;
                        if (g == 0) {
                            // m is the unconstrained zone: nothing is left.
                            freeFederationNodes(p);
                            freeFederationNodes(l.first);
                            list = List();
                            return;
                        }
                    }
                    List pieces;
                    pieces.size = subtractDBM(p, m, dim, graph.get(), g, &pieces.first);
                    removeMutualInclusions(l, pieces, dim);
                    l = spliceBalanced(l, pieces);
                }
                p = next;
            }
            list = l;
        }

        enum class PairCheck { Separated, PInQ, QInP, Other };

        // Reads two DBMs once: separation (no convex union possible), inclusion both ways,
        // and the number of rows sharing a bound pair with the other DBM.
        PairCheck checkPair(const bound_t* p, const bound_t* q, uint32_t n, uint32_t& equalRows)
        {
            bool pInQ = true;
            bool qInP = true;
            uint32_t rows = 0;
            auto separated = [](bound_t u, bound_t v) {
                return isFinite(u) && isFinite(v) && int64_t(u) + int64_t(v) - int64_t(u & v & 1) <= 0;
            };
            for (uint32_t i = 1; i < n; ++i) {
                bool rowEqual = false;
                for (uint32_t j = 0; j < i; ++j) {
                    const bound_t pij = p[i * n + j], pji = p[j * n + i];
                    const bound_t qij = q[i * n + j], qji = q[j * n + i];
                    if (separated(pij, qji) || separated(pji, qij)) {
                        return PairCheck::Separated;
                    }
                    pInQ = pInQ && pij <= qij && pji <= qji;
                    qInP = qInP && qij <= pij && qji <= pji;
                    rowEqual = rowEqual || (pij == qij && pji == qji);
                }
                rows += rowEqual ? 1 : 0;
            }
            equalRows = rows + (n <= 2 ? 1 : 0);
            if (pInQ) {
                return PairCheck::PInQ;
            }
            return qInP ? PairCheck::QInP : PairCheck::Other;
        }

        // Whether the convex hull x of p and q adds no point outside the federation, as far
        // as the level looks.
        bool hullIsCovered(const zone_t& x, const Node* p, const Node* q, const List& l, int level)
        {
            fed_t r(x);
            r.subtractZone(p->zone);
            if (r.isSubsetEqZone(q->zone)) {
                return true;
            }
            if (level == 0) {
                return false;
            }
            r.subtractZone(q->zone);
            const uint32_t dim = zDim(x);
            for (const Node* d = l.first; d != nullptr && !r.isEmpty(); d = d->next) {
                if (d == p || d == q) {
                    continue;
                }
                if (level == 1) {
                    r.removeSubsetsOfMatrix(zMatrix(d->zone), dim);
                } else {
                    r.subtractZone(d->zone);
                }
            }
            return r.isEmpty();
        }

        void mergeReduceList(List& l, uint32_t n, size_t start, int level)
        {
            if (l.size < 2) {
                return;
            }
            Node** pLink = &l.first;
            for (size_t k = 0; k < start; ++k) {
                if (*pLink == nullptr) {
                    return;
                }
                pLink = &(*pLink)->next;
            }
            const bool mergeSwitch = getMergeSwitch();
            while (*pLink != nullptr) {
                Node* p = *pLink;
                bool pRemoved = false;
                Node** qLink = &l.first;
                while (*qLink != p) {
                    Node* q = *qLink;
                    uint32_t equalRows = 0;
                    const PairCheck c = checkPair(zMatrix(p->zone), zMatrix(q->zone), n, equalRows);
                    if (c == PairCheck::Separated) {
                        qLink = &q->next;
                    } else if (c == PairCheck::PInQ) {
                        unlinkFree(pLink, l);
                        pRemoved = true;
                        break;
                    } else if (c == PairCheck::QInP) {
                        if (pLink == &q->next) {
                            pLink = qLink;
                        }
                        unlinkFree(qLink, l);
                    } else {
                        const bool tryMerge = (level == 0 && mergeSwitch) ? equalRows + 2 >= n : equalRows != 0;
                        bool merged = false;
                        if (tryMerge) {
                            zone_t x = p->zone;
                            x.convexUnionWith(q->zone);
                            if (hullIsCovered(x, p, q, l, level)) {
                                p->zone = x;
                                if (pLink == &q->next) {
                                    pLink = qLink;
                                }
                                unlinkFree(qLink, l);
                                merged = true;
                            }
                        }
                        // A merged P is compared again with every node before it.
                        qLink = merged ? &l.first : &q->next;
                    }
                }
                if (!pRemoved) {
                    pLink = &p->next;
                }
            }
        }
    }

    size_t subtractDBM(FederationNode* node, const bound_t* m, uint32_t n, const uint32_t* graph, size_t g,
                       FederationNode** pieces)
    {
        *pieces = nullptr;
        Scratch<uint32_t, 256> cons(g);
        size_t nc = 0;
        {
            const bound_t* d = zMatrix(node->zone);
            const size_t nn = size_t(n) * n;
            for (size_t k = 0; k < nn && nc < g; ++k) {
                if (base::testBit(graph, k) && m[k] < d[k]) {
                    cons[nc++] = static_cast<uint32_t>(k);
                }
            }
        }
        if (nc == 0) {
            freeFederationNode(node);
            return 0;
        }
        size_t count = 0;
        for (;;) {
            const bound_t* d = zMatrix(node->zone);
            int64_t best = 0x7fffffff;
            size_t choice = nc;
            bool chosenInfinite = false;
            for (size_t idx = 0; idx < nc;) {
                const uint32_t i = cons[idx] / n, j = cons[idx] % n;
                const bound_t mij = m[i * n + j];
                const bound_t dij = d[i * n + j];
                if (d[j * n + i] <= negateBound(mij)) {
                    // D lies entirely outside this half-space of m: D is the last piece.
                    node->next = *pieces;
                    *pieces = node;
                    return count + 1;
                }
                if (dij <= mij) {
                    // Earlier cuts made this constraint hold already.
                    cons[idx] = cons[--nc];
                    if (nc == 0) {
                        freeFederationNode(node);
                        return count;
                    }
                    continue;
                }
                if (!chosenInfinite) {
                    if (isInfinite(dij)) {
                        choice = idx;
                        chosenInfinite = true;
                    } else {
                        // Constraints implied through a third clock cut no deeper than others.
                        int64_t score = int64_t(mij | 1) - dij;
                        const int64_t mw = mij | 1;
                        for (uint32_t k = 0; k < n; ++k) {
                            if (k == i || k == j) {
                                continue;
                            }
                            const bound_t mkj = m[k * n + j], dik = d[i * n + k];
                            const bound_t mik = m[i * n + k], dkj = d[k * n + j];
                            if ((isFinite(mkj) && isFinite(dik) && mw - (int64_t(mkj | 1) + int64_t(dik | 1)) >= 0)
                                || (isFinite(mik) && isFinite(dkj)
                                    && mw - (int64_t(dkj | 1) + int64_t(mik | 1)) >= 0)) {
                                score = BOUND_INFINITY;
                                break;
                            }
                        }
                        if (score < best) {
                            best = score;
                            choice = idx;
                        }
                    }
                }
                ++idx;
            }
            const uint32_t i = cons[choice] / n, j = cons[choice] % n;
            cons[choice] = cons[--nc];
            const bound_t mij = m[i * n + j];
            if (mij < d[i * n + j]) {
                if (nc == 0) {
                    bound_t* w = zWritable(node->zone);
                    w[j * n + i] = negateBound(mij);
                    closeEntryIfNeeded(w, n, j, i);
                    node->next = *pieces;
                    *pieces = node;
                    return count + 1;
                }
                // The piece of D outside this constraint ...
                zone_t outside = zCopyOf(d, n);
                bound_t* o = zWritable(outside);
                o[j * n + i] = negateBound(mij);
                closeEntryIfNeeded(o, n, j, i);
                Node* piece = newFederationNode(*pieces);
                piece->zone = outside;
                *pieces = piece;
                ++count;
                // ... and D keeps the part inside it.
                bound_t* w = zWritable(node->zone);
                w[i * n + j] = mij;
                closeEntryIfNeeded(w, n, i, j);
            } else if (nc == 0) {
                freeFederationNode(node);
                return count;
            }
        }
    }

    // ---- union ---------------------------------------------------------------------------

    bool fed_t::removeSubsetsOfMatrix(const bound_t* m, uint32_t dim)
    {
        makeUnique();
        List l{h->first, h->size};
        const bool r = removeSubsetsOf(l, m, dim);
        h->first = l.first;
        h->size = l.size;
        return r;
    }

    void fed_t::unionWith(const fed_t& other)
    {
        if (h == other.h) {
            return;
        }
        if (h->size == 0) {
            *this = other;
            return;
        }
        if (other.h->size == 0) {
            return;
        }
        makeUnique();
        List l{h->first, h->size};
        for (const Node* d = other.h->first; d != nullptr; d = d->next) {
            if (removeSubsetsOf(l, zMatrix(d->zone), h->dim)) {
                pushFront(l, d->zone);
            }
        }
        h->first = l.first;
        h->size = l.size;
    }

    void fed_t::unionWithZone(const zone_t& operand)
    {
        // Hold the operand: it may be a DBM of this very list, which the operation may release.
        const zone_t z = operand;
        if (h->size == 0) {
            assignZone(z);
            return;
        }
        if (zEmpty(z)) {
            return;
        }
        makeUnique();
        List l{h->first, h->size};
        if (removeSubsetsOf(l, zMatrix(z), h->dim)) {
            pushFront(l, z);
        }
        h->first = l.first;
        h->size = l.size;
    }

    void fed_t::unionWithMatrix(const bound_t* m)
    {
        if (h->size == 0) {
            assignMatrix(m);
            return;
        }
        makeUnique();
        // Copied first: m may be the matrix of a DBM that the union removes.
        const zone_t z = zCopyOf(m, h->dim);
        List l{h->first, h->size};
        if (removeSubsetsOf(l, zMatrix(z), h->dim)) {
            pushFront(l, z);
        }
        h->first = l.first;
        h->size = l.size;
    }

    // ---- intersection --------------------------------------------------------------------

    void fed_t::intersectEachWithZone(const zone_t& operand)
    {
        // Hold the operand: it may be a DBM of this very list, which the operation may release.
        const zone_t z = operand;
        makeUnique();
        List l{h->first, h->size};
        intersectEach(l, zMatrix(z), h->dim, &z);
        h->first = l.first;
        h->size = l.size;
    }

    void fed_t::intersectEachWithMatrix(const bound_t* m, uint32_t dim)
    {
        makeUnique();
        List l{h->first, h->size};
        intersectEach(l, m, dim, nullptr);
        h->first = l.first;
        h->size = l.size;
    }

    void fed_t::intersectWithZone(const zone_t& operand)
    {
        // Hold the operand: it may be a DBM of this very list, which the operation may release.
        const zone_t z = operand;
        if (zEmpty(z)) {
            setEmpty();
            return;
        }
        if (h->size == 0) {
            return;
        }
        intersectEachWithZone(z);
        mergeReduce(0, 0);
    }

    void fed_t::intersectWithMatrix(const bound_t* m)
    {
        if (h->size == 0) {
            return;
        }
        intersectEachWithMatrix(m, h->dim);
        mergeReduce(0, 0);
    }

    void fed_t::intersectWith(const fed_t& other)
    {
        if (h == other.h) {
            return;
        }
        if (other.h->size == 0) {
            setEmpty();
            return;
        }
        if (h->size == 0) {
            return;
        }
        makeUnique();
        const uint32_t n = h->dim;
        const Node* o1 = other.h->first;
        List acc;
        for (const Node* oi = o1->next; oi != nullptr; oi = oi->next) {
            List c{copyFederationList(h->first, nullptr), h->size};
            intersectEach(c, zMatrix(oi->zone), n, &oi->zone);
            const uint64_t before = acc.size;
            *tailLink(&acc.first) = c.first;
            acc.size += c.size;
            mergeReduceList(acc, n, before, 0);
        }
        List own{h->first, h->size};
        intersectEach(own, zMatrix(o1->zone), n, &o1->zone);
        *tailLink(&acc.first) = own.first;
        const uint64_t start = acc.size;
        acc.size += own.size;
        mergeReduceList(acc, n, start, 0);
        h->first = acc.first;
        h->size = acc.size;
    }

    // ---- subtraction ---------------------------------------------------------------------

    void fed_t::subtractMatrixInPlace(const bound_t* m, uint32_t dim)
    {
        makeUnique();
        List l{h->first, h->size};
        subtractInPlace(l, m, dim);
        h->first = l.first;
        h->size = l.size;
    }

    void fed_t::subtractZone(const zone_t& operand)
    {
        // Hold the operand: it may be a DBM of this very list, which the operation may release.
        const zone_t z = operand;
        if (h->size == 0 || zEmpty(z)) {
            return;
        }
        if (h->dim == 1) {
            setEmpty();
            return;
        }
        subtractMatrixInPlace(zMatrix(z), h->dim);
    }

    void fed_t::subtractMatrix(const bound_t* m)
    {
        if (h->size == 0) {
            return;
        }
        if (h->dim == 1) {
            setEmpty();
            return;
        }
        // m may be the matrix of one of this federation's DBMs: hold that block so that
        // the subtraction neither frees nor rewrites it while reading m.
        zone_t holder(h->dim);
        for (const Node* d = h->first; d != nullptr; d = d->next) {
            if (zMatrix(d->zone) == m) {
                holder = d->zone;
                break;
            }
        }
        subtractMatrixInPlace(m, h->dim);
    }

    fed_t& fed_t::subtract(const fed_t& other)
    {
        if (h == other.h) {
            setEmpty();
            return *this;
        }
        if (other.h->size == 1) {
            subtractZone(other.h->first->zone);
            return *this;
        }
        if (h->size == 0 || other.h->size == 0) {
            return *this;
        }
        if (h->dim == 1) {
            setEmpty();
            return *this;
        }
        makeUnique();
        for (const Node* d = other.h->first; d != nullptr && h->size != 0; d = d->next) {
            subtractMatrixInPlace(zMatrix(d->zone), h->dim);
        }
        return *this;
    }

    fed_t fed_t::fromDifference(const bound_t* a, const bound_t* b, uint32_t dim)
    {
        fed_t f(dim);
        if (dim < 2) {
            return f;
        }
        return fromDifference(zCopyOf(a, dim), b);
    }

    fed_t fed_t::fromDifference(const zone_t& a, const bound_t* b)
    {
        const uint32_t dim = zDim(a);
        fed_t f(dim);
        if (zEmpty(a) || dim < 2) {
            return f;
        }
        if (!dbm::intersects(zMatrix(a), dim, b)) {
            f.assignZone(a);
            return f;
        }
        Scratch<uint32_t, 64> graph(bitMatrixWords(dim));
        const uint32_t g = cuttingGraph(b, dim, graph.get());
        if (g == 0) {
            return f;
        }
        Node* n = newFederationNode(nullptr);
        n->zone = a;
        f.h->size = subtractDBM(n, b, dim, graph.get(), g, &f.h->first);
        return f;
    }

    fed_t fed_t::fromDifference(const zone_t& a, const zone_t& b)
    {
        if (zEmpty(b) || zEmpty(a)) {
            fed_t f(zDim(a));
            f.assignZone(a);
            return f;
        }
        return fromDifference(a, zMatrix(b));
    }

    // ---- inclusion and relation ------------------------------------------------------------

    bool fed_t::isSubsetEqZone(const zone_t& z) const
    {
        if (h->size == 0) {
            return true;
        }
        if (zEmpty(z)) {
            return false;
        }
        return isSubsetEqMatrix(zMatrix(z));
    }

    bool fed_t::someDBMIncludesZone(const zone_t& z) const
    {
        if (zEmpty(z)) {
            return true;
        }
        return someDBMIncludesMatrix(zMatrix(z));
    }

    bool fed_t::someDBMIncludesMatrix(const bound_t* m) const
    {
        for (const Node* d = h->first; d != nullptr; d = d->next) {
            if (dbm::isSubsetEq(m, h->dim, zMatrix(d->zone))) {
                return true;
            }
        }
        return false;
    }

    int fed_t::relationWithMatrix(const bound_t* m, uint32_t dim) const
    {
        if (dim != h->dim) {
            return DIFFERENT;
        }
        if (h->size == 0) {
            return SUBSET;
        }
        if (h->size == 1) {
            return dbm::relation(zMatrix(h->first->zone), dim, m);
        }
        return (isSubsetEqMatrix(m) ? SUBSET : 0) | (someDBMIncludesMatrix(m) ? SUPERSET : 0);
    }

    int fed_t::relationWithZone(const zone_t& z) const
    {
        if (zDim(z) != h->dim) {
            return DIFFERENT;
        }
        if (h->size == 0) {
            return zEmpty(z) ? EQUAL : SUBSET;
        }
        if (zEmpty(z)) {
            return SUPERSET;
        }
        return relationWithMatrix(zMatrix(z), h->dim);
    }

    int fed_t::relation(const fed_t& other) const
    {
        if (h == other.h) {
            return EQUAL;
        }
        if (h->dim != other.h->dim) {
            return DIFFERENT;
        }
        if (h->size == 0) {
            return other.h->size == 0 ? EQUAL : SUBSET;
        }
        if (other.h->size == 0) {
            return SUPERSET;
        }
        if (other.h->size == 1) {
            return relationWithMatrix(zMatrix(other.h->first->zone), h->dim);
        }
        const uint32_t n = h->dim;
        const size_t na = h->size, nb = other.h->size;
        Scratch<uint32_t, 64> flags(std::max(na, nb));
        std::fill(flags.get(), flags.get() + std::max(na, nb), 0u);
        size_t a = 0;
        for (const Node* p = h->first; p != nullptr; p = p->next, ++a) {
            size_t b = 0;
            for (const Node* q = other.h->first; q != nullptr; q = q->next, ++b) {
                if ((flags[a] & 2) != 0 && (flags[b] & 1) != 0) {
                    continue;
                }
                const relation_t r = dbm::relation(zMatrix(p->zone), n, zMatrix(q->zone));
                flags[a] |= r & 2;
                flags[b] |= r & 1;
            }
        }
        bool sub = true, super = true;
        for (size_t k = 0; k < na && sub; ++k) {
            sub = (flags[k] & 2) != 0;
        }
        for (size_t k = 0; k < nb && super; ++k) {
            super = (flags[k] & 1) != 0;
        }
        return (sub ? SUBSET : 0) | (super ? SUPERSET : 0);
    }

    bool zone_t::isSubsetEqFed(const fed_t& f) const
    {
        const zone_t& z = *this;
        if (zEmpty(z)) {
            return true;
        }
        if (f.isEmpty()) {
            return false;
        }
        const uint32_t n = f.getDimension();
        for (auto it = f.begin(); it != f.end(); ++it) {
            if (dbm::isSubsetEq(zMatrix(z), n, it.matrix())) {
                return true;
            }
        }
        if (f.size() == 1) {
            return false;
        }
        fed_t rest(z);
        rest.subtract(f);
        return rest.isEmpty();
    }

    bool fed_t::isSubsetEq(const fed_t& other) const
    {
        if (h->size == 0 || h == other.h) {
            return true;
        }
        if (other.h->size == 0) {
            return false;
        }
        if (h->size == 1) {
            return h->first->zone.isSubsetEqFed(other);
        }
        if (isSubsetEqMatrix(zMatrix(other.h->first->zone))) {
            return true;
        }
        if (other.h->size == 1) {
            return false;
        }
        fed_t rest(*this);
        rest.subtract(other);
        return rest.isEmpty();
    }

    int fed_t::relationExact(const fed_t& other) const
    {
        if (h == other.h) {
            return EQUAL;
        }
        if (h->dim != other.h->dim) {
            return DIFFERENT;
        }
        return (isSubsetEq(other) ? SUBSET : 0) | (other.isSubsetEq(*this) ? SUPERSET : 0);
    }

    bool fed_t::includesMatrix(const bound_t* m, uint32_t dim) const
    {
        if (h->size == 0) {
            return false;
        }
        if (dim < 2 || someDBMIncludesMatrix(m)) {
            return true;
        }
        if (h->size == 1) {
            return false;
        }
        fed_t rest(dim);
        rest.assignMatrix(m);
        rest.subtract(*this);
        return rest.isEmpty();
    }

    int fed_t::relationExactZone(const zone_t& z) const
    {
        if (zDim(z) != h->dim) {
            return DIFFERENT;
        }
        return (isSubsetEqZone(z) ? SUBSET : 0) | (z.isSubsetEqFed(*this) ? SUPERSET : 0);
    }

    int fed_t::relationExactMatrix(const bound_t* m, uint32_t dim) const
    {
        if (dim != h->dim) {
            return DIFFERENT;
        }
        return (isSubsetEqMatrix(m) ? SUBSET : 0) | (includesMatrix(m, dim) ? SUPERSET : 0);
    }

    // ---- reduction -----------------------------------------------------------------------

    void fed_t::mergeReduce(size_t start, int level)
    {
        if (h->size < 2) {
            return;
        }
        makeUnique();
        List l{h->first, h->size};
        mergeReduceList(l, h->dim, start, level);
        h->first = l.first;
        h->size = l.size;
    }

    void fed_t::splitExtrapolateMaxBounds(const clock_constraint_t* begin, const clock_constraint_t* end,
                                          const int32_t* max)
    {
        makeUnique();
        const uint32_t n = h->dim;
        for (const clock_constraint_t* c = begin; c != end; ++c) {
            const bound_t b = c->bound;
            for (Node* p = h->first; p != nullptr;) {
                const bound_t* d = zMatrix(p->zone);
                if (b < d[c->i * n + c->j] && d[c->j * n + c->i] > negateBound(b)) {
                    Node* q = newFederationNode(p->next);
                    q->zone = p->zone;
                    q->zone.constrain(c->i, c->j, b);
                    p->zone.constrain(c->j, c->i, negateBound(b));
                    p->next = q;
                    ++h->size;
                    p = q->next;
                } else {
                    p = p->next;
                }
            }
        }
        const size_t m = static_cast<size_t>(end - begin);
        Scratch<clock_constraint_t, 32> sides(m);
        Node** link = &h->first;
        while (*link != nullptr) {
            Node* p = *link;
            const bound_t* d = zMatrix(p->zone);
            for (size_t k = 0; k < m; ++k) {
                const clock_constraint_t& c = begin[k];
                if (c.bound < d[c.i * n + c.j] && d[c.j * n + c.i] <= negateBound(c.bound)) {
                    sides[k] = clock_constraint_t{c.j, c.i, negateBound(c.bound)};
                } else {
                    sides[k] = c;
                }
            }
            dbm::extrapolateMaxBounds(zWritable(p->zone), n, max);
            bool alive = true;
            for (size_t k = m; k-- > 0 && alive;) {
                alive = p->zone.constrain(sides[k].i, sides[k].j, sides[k].bound);
            }
            if (alive) {
                link = &p->next;
            } else {
                *link = p->next;
                freeFederationNode(p);
                --h->size;
            }
        }
        mergeReduce(0, 0);
    }

    void fed_t::reduceByRelation()
    {
        if (h->size < 2) {
            return;
        }
        // Unshared first: another handle may be walking the shared list.
        makeUnique();
        const uint32_t n = h->dim;
        List l{h->first, h->size};
        Node** pLink = &l.first;
        while (*pLink != nullptr) {
            Node* p = *pLink;
            bool pRemoved = false;
            Node** qLink = &p->next;
            while (*qLink != nullptr) {
                const relation_t r = dbm::relation(zMatrix(p->zone), n, zMatrix((*qLink)->zone));
                if (r == SUPERSET || r == EQUAL) {
                    unlinkFree(qLink, l);
                } else if (r == SUBSET) {
                    unlinkFree(pLink, l);
                    pRemoved = true;
                    break;
                } else {
                    qLink = &(*qLink)->next;
                }
            }
            if (!pRemoved) {
                pLink = &p->next;
            }
        }
        h->first = l.first;
        h->size = l.size;
    }

    void fed_t::removeIncludedIn(const fed_t& other)
    {
        if (h == other.h) {
            setEmpty();
            return;
        }
        if (other.h->size == 0 || h->size == 0) {
            return;
        }
        makeUnique();
        List l{h->first, h->size};
        Node** link = &l.first;
        while (*link != nullptr) {
            if (other.someDBMIncludesMatrix(zMatrix((*link)->zone))) {
                unlinkFree(link, l);
            } else {
                link = &(*link)->next;
            }
        }
        h->first = l.first;
        h->size = l.size;
    }

    void fed_t::removeRedundant()
    {
        if (h->size < 2) {
            return;
        }
        // Unshared first: another handle may be walking the shared list.
        makeUnique();
        Node** link = &h->first;
        while (h->size >= 2 && *link != nullptr) {
            Node* p = *link;
            *link = p->next;
            --h->size;
            if (isSubsetEqZone(p->zone)) {
                freeFederationNodes(h->first);
                p->next = nullptr;
                h->first = p;
                h->size = 1;
                return;
            }
            if (p->zone.isSubsetEqFed(*this)) {
                freeFederationNode(p);
            } else {
                p->next = *link;
                *link = p;
                ++h->size;
                link = &p->next;
            }
        }
    }

    void fed_t::absorb(fed_t& other)
    {
        if (&other == this) {
            return;
        }
        makeUnique();
        other.makeUnique();
        List a{h->first, h->size};
        List b{other.h->first, other.h->size};
        removeMutualInclusions(a, b, h->dim);
        const List joined = spliceBalanced(a, b);
        h->first = joined.first;
        h->size = joined.size;
        other.h->first = nullptr;
        other.h->size = 0;
    }

    void fed_t::reduceByHull()
    {
        if (h->size < 2) {
            return;
        }
        fed_t hull(*this);
        hull.convexHull();
        fed_t outside(hull);
        outside.subtract(*this);
        if (5 * h->size < outside.size()) {
            return;
        }
        outside.mergeReduce(0, 0);
        if (h->size < outside.size()) {
            return;
        }
        fed_t e(hull);
        e.subtract(outside);
        if (e.size() < 3 * outside.size() + 3 * h->size) {
            e.mergeReduce(0, 0);
            if (e.size() < h->size) {
                std::swap(h, e.h);
            }
        }
    }

    namespace
    {
        // Some pair of entries [i][j], [j][i] of a and b agrees in both directions (pair), or
        // some single entry agrees (single).
        void agreement(const bound_t* a, const bound_t* b, uint32_t n, bool& pair, bool& single)
        {
            pair = single = false;
            for (uint32_t i = 0; i < n; ++i) {
                for (uint32_t j = i + 1; j < n; ++j) {
                    const bool ij = a[i * n + j] == b[i * n + j];
                    const bool ji = a[j * n + i] == b[j * n + i];
                    pair = pair || (ij && ji);
                    single = single || ij || ji;
                }
            }
        }

        // The points of the hull of x and y outside both.
        bool hullIsUnion(const zone_t& x, const zone_t& y, zone_t& hull)
        {
            hull = x;
            hull.convexUnionWith(y);
            fed_t extra(hull);
            extra.subtractZone(x);
            extra.subtractZone(y);
            return extra.isEmpty();
        }

        // Puts the nodes of g right after *link, in g's order.
        void reinsertAfter(Node** link, List& l, List& g)
        {
            if (g.first == nullptr) {
                return;
            }
            Node** tail = tailLink(&g.first);
            *tail = (*link)->next;
            (*link)->next = g.first;
            l.size += g.size;
            g = List();
        }
    }

    void fed_t::expensiveMergeReduce()
    {
        if (h->size < 2) {
            return;
        }
        makeUnique();
        const uint32_t n = h->dim;
        List l{h->first, h->size};
        Node** xLink = &l.first;
        while (*xLink != nullptr) {
            Node* x = *xLink;
            zone_t hull = x->zone;
            List group;
            Node** groupTail = &group.first;
            bool xRemoved = false, xChanged = false;
            Node** yLink = &x->next;
            while (*yLink != nullptr) {
                Node* y = *yLink;
                uint32_t rows = 0;
                const PairCheck c = checkPair(zMatrix(y->zone), zMatrix(hull), n, rows);
                if (c == PairCheck::Separated) {
                    yLink = &y->next;
                    continue;
                }
                if (c == PairCheck::QInP) {
                    // The hull lies in y: x and everything gathered so far are covered by y.
                    *tailLink(&l.first) = group.first;
                    l.size += group.size;
                    group = List();
                    unlinkFree(xLink, l);
                    xRemoved = true;
                    break;
                }
                // y moves out of the list into the group when the hull covers it or grows over it.
                bool pair = false, single = false;
                agreement(zMatrix(hull), zMatrix(y->zone), n, pair, single);
                zone_t joined(n);
                if (c != PairCheck::PInQ && pair && hullIsUnion(x->zone, y->zone, joined)) {
                    x->zone = joined;
                    unlinkFree(yLink, l);
                    xChanged = true;
                    break;
                }
                if (c == PairCheck::PInQ || pair || single) {
                    if (c != PairCheck::PInQ) {
                        hull.convexUnionWith(y->zone);
                    }
                    *yLink = y->next;
                    --l.size;
                    y->next = nullptr;
                    *groupTail = y;
                    groupTail = &y->next;
                    ++group.size;
                } else {
                    yLink = &y->next;
                }
            }
            if (xRemoved) {
                continue;
            }
            if (xChanged) {
                reinsertAfter(xLink, l, group);
                continue;  // x is examined again
            }
            if (group.size == 0) {
                xLink = &x->next;
                continue;
            }
            // The remaining DBMs inside the hull join the group.
            for (Node** d = &x->next; *d != nullptr;) {
                if (dbm::isSubsetEq(zMatrix((*d)->zone), n, zMatrix(hull))) {
                    Node* moved = *d;
                    *d = moved->next;
                    --l.size;
                    moved->next = nullptr;
                    *groupTail = moved;
                    groupTail = &moved->next;
                    ++group.size;
                } else {
                    d = &(*d)->next;
                }
            }
            const uint64_t replaced = 1 + group.size;
            mergeReduceList(group, n, 0, 0);
            fed_t rest(hull);
            rest.subtractZone(x->zone);
            for (const Node* g = group.first; g != nullptr && !rest.isEmpty(); g = g->next) {
                rest.subtractZone(g->zone);
            }
            List replacement;
            if (rest.isEmpty()) {
                // The hull adds nothing: it replaces x and the group.
                replacement.first = newFederationNode(nullptr);
                replacement.first->zone = hull;
                replacement.size = 1;
                freeFederationNodes(group.first);
            } else {
                // The shorter of: the group with x, or the hull minus the points it adds.
                fed_t covered(hull);
                covered.subtract(rest);
                covered.mergeReduce(0, 0);
                Node* xCopy = newFederationNode(group.first);
                xCopy->zone = x->zone;
                List withX{xCopy, group.size + 1};
                mergeReduceList(withX, n, 0, 0);
                if (covered.size() < withX.size) {
                    freeFederationNodes(withX.first);
                    fed_t taken(n);
                    std::swap(taken.h, covered.h);
                    replacement = List{taken.h->first, taken.h->size};
                    taken.h->first = nullptr;
                    taken.h->size = 0;
                } else {
                    replacement = withX;
                }
            }
            group = List();
            if (replacement.size >= replaced) {
                // Nothing gained (the replacement is x's copy followed by the group, unchanged):
                // it takes x's place and the walk goes on after x.
                *tailLink(&replacement.first) = x->next;
                *xLink = replacement.first;
                freeFederationNode(x);
                l.size += replacement.size - 1;
                xLink = &(*xLink)->next;
                continue;
            }
            // x and its group (already out of the list) give way to the replacement at the end.
            unlinkFree(xLink, l);
            *tailLink(&l.first) = replacement.first;
            l.size += replacement.size;
        }
        h->first = l.first;
        h->size = l.size;
    }

    void fed_t::partitionReduce()
    {
        if (h->size < 2) {
            return;
        }
        if (h->size == 2) {
            expensiveMergeReduce();
            return;
        }
        makeUnique();
        const uint32_t n = h->dim;
        Scratch<bound_t, 256> scratch(size_t(n) * n);
        List remaining{h->first, h->size};
        h->first = nullptr;
        h->size = 0;
        List joined;
        while (remaining.first != nullptr) {
            // A group grows from the first remaining DBM over every DBM whose closure meets
            // the closure of one already in it.
            List group;
            Node* seed = remaining.first;
            remaining.first = seed->next;
            --remaining.size;
            seed->next = nullptr;
            group.first = seed;
            group.size = 1;
            Node** groupTail = &seed->next;
            for (Node* member = group.first; member != nullptr; member = member->next) {
                for (Node** r = &remaining.first; *r != nullptr;) {
                    if (intersectWeak(scratch.get(), n, zMatrix(member->zone), zMatrix((*r)->zone))) {
                        Node* moved = *r;
                        *r = moved->next;
                        --remaining.size;
                        moved->next = nullptr;
                        *groupTail = moved;
                        groupTail = &moved->next;
                        ++group.size;
                    } else {
                        r = &(*r)->next;
                    }
                }
            }
            fed_t g(n);
            g.h->first = group.first;
            g.h->size = group.size;
            g.expensiveMergeReduce();
            g.reduceByHull();
            g.makeUnique();
            List reduced{g.h->first, g.h->size};
            g.h->first = nullptr;
            g.h->size = 0;
            joined = spliceBalanced(joined, reduced);
        }
        h->first = joined.first;
        h->size = joined.size;
    }
}
