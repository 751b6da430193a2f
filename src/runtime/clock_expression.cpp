#include "runtime/clock_expression.h"

#include <cmath>
#include <limits>
#include <typeinfo>

#include "runtime/symbolic_state.h"
#include "support/arith.h"
#include "support/exceptions.h"

namespace {
void addAll(IndexSet& into, const IndexSet& from)
{
    into.insert(from.begin(), from.end());
}

// Encoded bound of "< value" (strict) or "<= value"; wraps like every bound computation.
dbm::bound_t encode(int32_t value, bool strict)
{
    return dbm::boundFromValue(value, strict ? dbm::STRICT : dbm::WEAK);
}

// The encoded bound "x <= v" for an integral double v, saturated to the int32 range.
int32_t nonStrictBoundOf(double v)
{
    const double b = 2.0 * v + 1.0;
    if (std::isnan(b) || b >= 2147483647.0) {
        return std::numeric_limits<int32_t>::max();
    }
    if (b <= -2147483648.0) {
        return std::numeric_limits<int32_t>::min();
    }
    return static_cast<int32_t>(b);
}
}  // namespace

// ---- Constraint ---------------------------------------------------------------------------------

Constraint::Constraint(const ExpressionRef& first, const ExpressionRef& second, const ExpressionRef& bound,
                       bool strict, const IndexSet& firstClocks, const IndexSet& secondClocks,
                       std::pair<int32_t, int32_t> boundRange, const IndexSet& reads)
    : first(first),
      second(second),
      bound(bound),
      strict(strict),
      firstClocks(firstClocks),
      secondClocks(secondClocks),
      lowest(boundRange.first),
      highest(boundRange.second),
      reads(reads)
{}

Constraint Constraint::negated() const
{
    ExpressionRef negatedBound(new Product(ExpressionRef(new Constant(-1)), bound));
    return Constraint(second, first, negatedBound, !strict, secondClocks, firstClocks,
                      {base::negWrap(highest), base::negWrap(lowest)}, reads);
}

// ---- ClockExpr ----------------------------------------------------------------------------------

ClockExpr::ClockExpr(const Constraint& constraint) : constraints{constraint}
{
    convex = true;
    reads = constraint.getReads();
}

ClockExpr::ClockExpr(const ClockExpr& a, const ClockExpr& b) : constraints(a.constraints)
{
    trivial = a.trivial;
    convex = a.convex;
    clockDependent = a.clockDependent;
    timeDependent = a.timeDependent;
    reads = a.reads;
    writes = a.writes;
    addAll(reads, b.reads);
    constraints.insert(constraints.end(), b.constraints.begin(), b.constraints.end());
}

void ClockExpr::appendConstraints(const ClockExpr& other)
{
    cached.clear();
    routine = Routine::Specialise;
    // Copied first: other may be this expression.
    const std::vector<Constraint> added = other.constraints;
    constraints.insert(constraints.end(), added.begin(), added.end());
    addAll(reads, other.reads);
}

void ClockExpr::accept(ExpressionVisitor& visitor)
{
    visitor.visitClockExpr(this);
}

ExpressionRef ClockExpr::negate()
{
    std::vector<ExpressionRef> negated;
    negated.reserve(constraints.size());
    for (const Constraint& c : constraints) {
        negated.push_back(ExpressionRef(new ClockExpr(c.negated())));
    }
    return makeDisjunction(std::move(negated));
}

int32_t ClockExpr::evaluate(PublicState* state)
{
    switch (routine) {
    case Routine::Constant:
        return state->constrain(cached.data(), cached.size()) ? 1 : 0;
    case Routine::General:
        return evaluateGeneral(state);
    case Routine::Specialise:
        break;
    }
    auto isConstant = [](const ExpressionRef& e) { return dynamic_cast<const Constant*>(e.get()) != nullptr &&
                                                          typeid(*e) == typeid(Constant); };
    for (const Constraint& c : constraints) {
        if (!isConstant(c.getFirst()) || !isConstant(c.getSecond()) || !isConstant(c.getBound())) {
            routine = Routine::General;
            return evaluateGeneral(state);
        }
    }
    cached.clear();
    cached.reserve(constraints.size());
    for (const Constraint& c : constraints) {
        const auto value = [](const ExpressionRef& e) { return static_cast<const Constant*>(e.get())->getValue(); };
        cached.push_back(dbm::clock_constraint_t{static_cast<uint32_t>(value(c.getFirst())),
                                                 static_cast<uint32_t>(value(c.getSecond())),
                                                 encode(value(c.getBound()), c.isStrict())});
    }
    routine = Routine::Constant;
    return state->constrain(cached.data(), cached.size()) ? 1 : 0;
}

int32_t ClockExpr::evaluateGeneral(PublicState* state)
{
    // Guards have few constraints: the array is on the stack unless the conjunction is long.
    constexpr size_t local = 16;
    dbm::clock_constraint_t onStack[local];
    std::vector<dbm::clock_constraint_t> onHeap;
    dbm::clock_constraint_t* array = onStack;
    if (constraints.size() > local) {
        onHeap.resize(constraints.size());
        array = onHeap.data();
    }
    for (size_t k = 0; k < constraints.size(); ++k) {
        const Constraint& c = constraints[k];
        const int32_t i = c.getFirst()->evaluate(state);
        const int32_t j = c.getSecond()->evaluate(state);
        const int32_t b = c.getBound()->evaluate(state);
        array[k] = dbm::clock_constraint_t{static_cast<uint32_t>(i), static_cast<uint32_t>(j), encode(b, c.isStrict())};
    }
    return state->constrain(array, constraints.size()) ? 1 : 0;
}

// ---- SimpleConstraintExpr -----------------------------------------------------------------------

SimpleConstraintExpr::SimpleConstraintExpr(const dbm::clock_constraint_t& constraint) : constraint(constraint)
{
    convex = true;
}

void SimpleConstraintExpr::accept(ExpressionVisitor& visitor)
{
    visitor.visitSimpleConstraint(this);
}

ExpressionRef SimpleConstraintExpr::negate()
{
    return ExpressionRef(
        new SimpleConstraintExpr(dbm::clock_constraint_t{constraint.j, constraint.i, dbm::negateBound(constraint.bound)}));
}

int32_t SimpleConstraintExpr::evaluate(PublicState* state)
{
    return state->constrain(&constraint, 1) ? 1 : 0;
}

// ---- DoubleClockExpr ----------------------------------------------------------------------------

DoubleClockExpr::DoubleClockExpr(const ExpressionRef& first, const ExpressionRef& second, const ExpressionRef& bound,
                                 bool strict, bool negated)
    : first(first), second(second), bound(bound), strict(strict), negated(negated)
{
    convex = true;
}

void DoubleClockExpr::accept(ExpressionVisitor& visitor)
{
    visitor.visitDoubleClock(this);
}

ExpressionRef DoubleClockExpr::negate()
{
    return ExpressionRef(new DoubleClockExpr(second, first, bound, !strict, !negated));
}

int32_t DoubleClockExpr::evaluate(PublicState* state)
{
    const int32_t i = first->evaluate(state);
    const int32_t j = second->evaluate(state);
    bound->evaluate(state);
    double v = state->result;
    if (negated) {
        v = -v;
    }
    return state->satisfies(static_cast<uint32_t>(i), static_cast<uint32_t>(j), strict, v) ? 1 : 0;
}

// ---- AndExpr, OrExpr ----------------------------------------------------------------------------

AndExpr::AndExpr(const ExpressionRef& left, const ExpressionRef& right) : left(left), right(right)
{
    trivial = left->trivial && right->trivial;
    convex = left->convex && right->convex;
    reads = left->reads;
    addAll(reads, right->reads);
}

void AndExpr::accept(ExpressionVisitor& visitor)
{
    left->accept(visitor);
    right->accept(visitor);
    visitor.visitAnd(this);
}

ExpressionRef AndExpr::negate()
{
    ExpressionRef l = left->negate();
    ExpressionRef r = right->negate();
    return ExpressionRef(new OrExpr(l, r));
}

int32_t AndExpr::evaluate(PublicState* state)
{
    if (left->evaluate(state) == 0) {
        return 0;
    }
    return right->evaluate(state) != 0 ? 1 : 0;
}

OrExpr::OrExpr(const ExpressionRef& left, const ExpressionRef& right) : left(left), right(right)
{
    trivial = left->trivial && right->trivial;
    convex = left->trivial && right->convex;
    reads = left->reads;
    addAll(reads, right->reads);
}

void OrExpr::accept(ExpressionVisitor& visitor)
{
    left->accept(visitor);
    right->accept(visitor);
    visitor.visitOr(this);
}

ExpressionRef OrExpr::negate()
{
    ExpressionRef r = right->negate();
    ExpressionRef l = left->negate();
    return makeConjunction(l, r);
}

int32_t OrExpr::evaluate(PublicState* state)
{
    if (left->trivial) {
        return (left->evaluate(state) != 0 || right->evaluate(state) != 0) ? 1 : 0;
    }
    if (right->trivial) {
        return (right->evaluate(state) != 0 || left->evaluate(state) != 0) ? 1 : 0;
    }
    SymbolicState* symbolic = state->getSymbolicState();
    if (symbolic == nullptr) {
        return (left->evaluate(state) != 0 || right->evaluate(state) != 0) ? 1 : 0;
    }
    // Both sides constrain the zone: the result is the union of the parts where either holds.
    const dbm::fed_t before = symbolic->zone;
    if (left->evaluate(symbolic) != 0) {
        dbm::fed_t leftPart = symbolic->zone;
        symbolic->zone = before;
        if (right->evaluate(symbolic) != 0) {
            symbolic->zone.unionWith(leftPart);
        } else {
            symbolic->zone = std::move(leftPart);
        }
        return 1;
    }
    symbolic->zone = before;
    return right->evaluate(symbolic);
}

// ---- SumExpr ------------------------------------------------------------------------------------

SumExpr::SumExpr()
{
    trivial = true;
    convex = true;
}

void SumExpr::addTerm(const ExpressionRef& term)
{
    convex = trivial ? term->convex : false;
    trivial = trivial && term->trivial;
    addAll(reads, term->reads);
    addAll(writes, term->writes);
    terms.insert(terms.begin(), term);
}

void SumExpr::accept(ExpressionVisitor& visitor)
{
    for (const ExpressionRef& term : terms) {
        term->accept(visitor);
    }
    visitor.visitSum(this);
}

ExpressionRef SumExpr::negate()
{
    throw Bug("SumExpr cannot be negated.");
}

int32_t SumExpr::evaluate(PublicState* state)
{
    int32_t sum = 0;
    for (const ExpressionRef& term : terms) {
        sum = base::addWrap(sum, term->evaluate(state));
    }
    return sum;
}

// ---- Suprema and infima -------------------------------------------------------------------------

ClockSupExpr::ClockSupExpr(const ExpressionRef& clock, const IndexSet& clocks) : clock(clock), clocks(clocks)
{
    convex = true;
    reads = clock->reads;
}

void ClockSupExpr::accept(ExpressionVisitor& visitor)
{
    visitor.visitClockSup(this);
}

ExpressionRef ClockSupExpr::negate()
{
    throw Bug("ClockSupExpr cannot be negated.");
}

int32_t ClockSupExpr::evaluate(PublicState* state)
{
    const uint32_t c = static_cast<uint32_t>(clock->evaluate(state));
    if (SymbolicState* symbolic = state->getSymbolicState()) {
        return symbolic->zone.getUpperBound(c);
    }
    if (state->getConcreteState() != nullptr) {
        double v;
        state->getClockValue(c, v);
        return nonStrictBoundOf(std::ceil(v));
    }
    throw Bug("ClockIndexExp cannot be evaluated");
}

ClockInfExpr::ClockInfExpr(const ExpressionRef& clock, const IndexSet& clocks) : ClockSupExpr(clock, clocks) {}

int32_t ClockInfExpr::evaluate(PublicState* state)
{
    const uint32_t c = static_cast<uint32_t>(clock->evaluate(state));
    if (SymbolicState* symbolic = state->getSymbolicState()) {
        if (symbolic->zone.isEmpty()) {
            // No point: the same answer as the supremum gives.
            return std::numeric_limits<int32_t>::min();
        }
        const dbm::bound_t b = symbolic->zone.getLowerBound(c);
        return base::negWrap(b & ~1) | (b & 1);
    }
    if (state->getConcreteState() != nullptr) {
        double v;
        state->getClockValue(c, v);
        return nonStrictBoundOf(std::floor(v));
    }
    throw Bug("ClockIndexExp cannot be evaluated");
}

// ---- Conjunction --------------------------------------------------------------------------------

ExpressionRef makeDisjunction(std::vector<ExpressionRef> operands)
{
    return joinBalanced(std::move(operands), [](const ExpressionRef& left, const ExpressionRef& right) {
        return ExpressionRef(new OrExpr(left, right));
    });
}

ExpressionRef makeConjunction(const ExpressionRef& a, const ExpressionRef& b)
{
    if (!a) {
        return b;
    }
    if (!b) {
        return a;
    }
    const ClockExpr* ca = dynamic_cast<const ClockExpr*>(a.get());
    const ClockExpr* cb = dynamic_cast<const ClockExpr*>(b.get());
    if (ca != nullptr && cb != nullptr) {
        return ExpressionRef(new ClockExpr(*ca, *cb));
    }
    return ExpressionRef(new AndExpr(a, b));
}
