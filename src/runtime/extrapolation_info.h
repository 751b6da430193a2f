#pragma once

// The constants against which each clock is compared, for a whole model or for one location:
// per clock the largest constant of a lower-bound and of an upper-bound comparison, and the set of
// difference constraints x_i - x_j ~ c that occur. Filled by visiting invariants, guards and
// updates, merged along edges to a fixed point, and read by the extrapolation stages.

#include <cstdint>
#include <iosfwd>
#include <map>
#include <set>

#include "dbm/bound.h"
#include "runtime/expression.h"
#include "runtime/visitors.h"

class ExtrapolationInfo : public ModelVisitor, public ExpressionVisitor
{
public:
    using BoundMap = std::map<uint32_t, int32_t>;
    using ConstraintSet = std::set<dbm::clock_constraint_t>;

    // Clock 0 with constant 0 in both maps, no difference constraint.
    ExtrapolationInfo();
    // The bounds that the clocks in `read` must carry before an edge that copies them into the
    // clocks in `written`, given the bounds `source` after the edge. With `read` empty, the same
    // as the default constructor.
    ExtrapolationInfo(const ExtrapolationInfo& source, const IndexSet& written, const IndexSet& read);
    ExtrapolationInfo(const ExtrapolationInfo&) = default;
    ExtrapolationInfo& operator=(const ExtrapolationInfo&) = default;
    ~ExtrapolationInfo() override = default;

    // Raise the clock's constant to value when that is larger (an absent clock counts as
    // -1073741823); true when the map changed.
    bool setLowerBound(uint32_t clock, int32_t value);
    bool setUpperBound(uint32_t clock, int32_t value);
    // Takes over the larger constants and the missing difference constraints; true when
    // anything changed. With `excluded`, bounds of those clocks are not taken over (difference
    // constraints are, whatever their clocks).
    bool merge(const ExtrapolationInfo& other);
    bool merge(const ExtrapolationInfo& other, const IndexSet& excluded);

    bool operator==(const ExtrapolationInfo& other) const;
    bool operator!=(const ExtrapolationInfo& other) const { return !(*this == other); }

    const BoundMap& getLowerBounds() const { return lower; }
    const BoundMap& getUpperBounds() const { return upper; }
    const ConstraintSet& getDifferenceConstraints() const { return differences; }

    // A location adds its invariant's bounds; an edge those of its clock guard and its update.
    void visitLocation(Location* location) override;
    void visitEdge(Edge* edge) override;

    void visitClockExpr(ClockExpr* expression) override;
    void visitClockSup(ClockSupExpr* expression) override;
    void visitSimpleConstraint(SimpleConstraintExpr* expression) override;

private:
    void addDifference(const dbm::clock_constraint_t& constraint);

    BoundMap lower;
    BoundMap upper;
    ConstraintSet differences;
};

// "Maximum lower bounds: (c,v) ...", "Maximum upper bounds: ...", "Difference constraints: ...".
std::ostream& operator<<(std::ostream& os, const ExtrapolationInfo& info);
