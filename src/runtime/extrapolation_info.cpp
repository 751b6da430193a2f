#include "runtime/extrapolation_info.h"

#include <algorithm>
#include <ostream>

#include "dbm/print.h"
#include "runtime/clock_expression.h"
#include "runtime/edge.h"
#include "runtime/location.h"
#include "support/arith.h"

namespace {
constexpr int32_t minusInfinity = -0x3fffffff;
constexpr int32_t infinity = 0x3fffffff;

bool raise(ExtrapolationInfo::BoundMap& map, uint32_t clock, int32_t value)
{
    auto it = map.find(clock);
    const int32_t current = it == map.end() ? minusInfinity : it->second;
    if (value <= current) {
        return false;
    }
    map[clock] = value;
    return true;
}

dbm::bound_t encode(int64_t value, bool strict)
{
    return dbm::boundFromValue(static_cast<int32_t>(value), strict ? dbm::STRICT : dbm::WEAK);
}
}  // namespace

ExtrapolationInfo::ExtrapolationInfo()
{
    lower[0] = 0;
    upper[0] = 0;
}

ExtrapolationInfo::ExtrapolationInfo(const ExtrapolationInfo& source, const IndexSet& written, const IndexSet& read)
    : ExtrapolationInfo()
{
    if (read.empty()) {
        return;
    }
    for (const auto& [clock, value] : source.lower) {
        if (written.count(clock) != 0) {
            for (uint32_t r : read) {
                setLowerBound(r, value);
            }
        }
    }
    for (const auto& [clock, value] : source.upper) {
        if (written.count(clock) != 0) {
            for (uint32_t r : read) {
                setUpperBound(r, value);
            }
        }
    }
    for (const dbm::clock_constraint_t& c : source.differences) {
        const bool iWritten = written.count(c.i) != 0;
        const bool jWritten = written.count(c.j) != 0;
        if (jWritten && !iWritten) {
            for (uint32_t r : read) {
                if (r != c.i) {
                    differences.insert({c.i, r, c.bound});
                }
            }
        } else if (iWritten && jWritten) {
            for (uint32_t r1 : read) {
                for (uint32_t r2 : read) {
                    if (r1 != r2) {
                        differences.insert({r1, r2, c.bound});
                    }
                }
            }
        } else if (iWritten) {
            for (uint32_t r : read) {
                if (r != c.j) {
                    differences.insert({r, c.j, c.bound});
                }
            }
        }
    }
}

bool ExtrapolationInfo::setLowerBound(uint32_t clock, int32_t value)
{
    return raise(lower, clock, value);
}

bool ExtrapolationInfo::setUpperBound(uint32_t clock, int32_t value)
{
    return raise(upper, clock, value);
}

bool ExtrapolationInfo::merge(const ExtrapolationInfo& other)
{
    return merge(other, IndexSet());
}

bool ExtrapolationInfo::merge(const ExtrapolationInfo& other, const IndexSet& excluded)
{
    if (&other == this) {
        return false;
    }
    bool changed = false;
    for (const auto& [clock, value] : other.lower) {
        if (excluded.count(clock) == 0) {
            changed |= setLowerBound(clock, value);
        }
    }
    for (const auto& [clock, value] : other.upper) {
        if (excluded.count(clock) == 0) {
            changed |= setUpperBound(clock, value);
        }
    }
    if (!std::includes(differences.begin(), differences.end(), other.differences.begin(),
                       other.differences.end())) {
        differences.insert(other.differences.begin(), other.differences.end());
        changed = true;
    }
    return changed;
}

bool ExtrapolationInfo::operator==(const ExtrapolationInfo& other) const
{
    return lower == other.lower && upper == other.upper && differences == other.differences;
}

void ExtrapolationInfo::visitLocation(Location* location)
{
    if (location->getInvariant()) {
        location->getInvariant()->accept(*this);
    }
}

void ExtrapolationInfo::visitEdge(Edge* edge)
{
    if (edge->getClockGuard()) {
        edge->getClockGuard()->accept(*this);
    }
    if (edge->getUpdate()) {
        edge->getUpdate()->accept(*this);
    }
}

void ExtrapolationInfo::addDifference(const dbm::clock_constraint_t& constraint)
{
    differences.insert(constraint);
}

void ExtrapolationInfo::visitSimpleConstraint(SimpleConstraintExpr* expression)
{
    const dbm::clock_constraint_t& c = expression->getConstraint();
    const int32_t v = dbm::boundValue(c.bound);
    if (c.i == 0) {
        // A lower bound on x_j; x_j >= 0 says nothing.
        if (c.bound <= 0) {
            setLowerBound(c.j, -v);
        }
    } else if (c.j == 0) {
        if (v >= 0) {
            setUpperBound(c.i, v);
        }
    } else if (c.i != c.j) {
        if (v < 0) {
            setLowerBound(c.j, -v);
            setUpperBound(c.j, -v);
        } else if (v > 0) {
            setLowerBound(c.i, v);
            setUpperBound(c.i, v);
        } else {
            setLowerBound(c.i, 0);
            setUpperBound(c.i, 0);
            setLowerBound(c.j, 0);
            setUpperBound(c.j, 0);
        }
        addDifference(c);
    }
}

void ExtrapolationInfo::visitClockExpr(ClockExpr* expression)
{
    for (const Constraint& c : expression->getConstraints()) {
        const IndexSet& a = c.getFirstClocks();
        const IndexSet& b = c.getSecondClocks();
        const int32_t lo = c.getLowestBound();
        const int32_t hi = c.getHighestBound();
        const int32_t mn = std::min(lo, hi);
        const int32_t mx = std::max(lo, hi);
        const bool strict = c.isStrict();
        if (!a.empty() && !b.empty()) {
            if (mx >= 0) {
                for (uint32_t x : a) {
                    setLowerBound(x, mx);
                    setUpperBound(x, mx);
                }
                for (uint32_t x : a) {
                    for (uint32_t y : b) {
                        if (x != y) {
                            for (int64_t w = lo; w <= hi; ++w) {
                                addDifference({x, y, encode(w, strict)});
                            }
                        }
                    }
                }
            }
            if (mn < 1) {
                if (mn < 0 || strict) {
                    for (uint32_t y : b) {
                        setLowerBound(y, base::negWrap(mn));
                        setUpperBound(y, base::negWrap(mn));
                    }
                }
                for (uint32_t x : a) {
                    for (uint32_t y : b) {
                        if (x != y) {
                            for (int64_t w = lo; w <= hi; ++w) {
                                addDifference({y, x, encode(-w, !strict)});
                            }
                        }
                    }
                }
            }
        } else if (!a.empty()) {
            for (uint32_t x : a) {
                setUpperBound(x, mx);
            }
        } else if (!b.empty()) {
            if (mn < 0 || strict) {
                for (uint32_t y : b) {
                    setLowerBound(y, base::negWrap(mn));
                }
            }
        }
    }
}

void ExtrapolationInfo::visitClockSup(ClockSupExpr* expression)
{
    for (uint32_t clock : expression->getClocks()) {
        if (lower.find(clock) == lower.end()) {
            lower[clock] = infinity;
        }
        if (upper.find(clock) == upper.end()) {
            upper[clock] = infinity;
        }
    }
}

std::ostream& operator<<(std::ostream& os, const ExtrapolationInfo& info)
{
    os << "Maximum lower bounds: ";
    for (const auto& [clock, value] : info.getLowerBounds()) {
        os << "(" << clock << "," << value << ") ";
    }
    os << std::endl << "Maximum upper bounds: ";
    for (const auto& [clock, value] : info.getUpperBounds()) {
        os << "(" << clock << "," << value << ") ";
    }
    os << std::endl << "Difference constraints: ";
    for (const dbm::clock_constraint_t& c : info.getDifferenceConstraints()) {
        dbm::printConstraint(os, c);
        os << " ";
    }
    return os << std::endl;
}
