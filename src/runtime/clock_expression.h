#pragma once

// Clock constraints as run-time expressions. On a symbolic state they shrink the zone through
// PublicState::constrain, on a concrete state they test the clock values. Negation follows De
// Morgan's laws down to single constraints, whose negation is exact, so a negated guard or
// invariant is again a disjunction of conjunctions of clock constraints.

#include <cstdint>
#include <utility>
#include <vector>

#include "dbm/bound.h"
#include "runtime/expression.h"

// One bound x_first - x_second < bound (strict) or <= bound whose parts are computed at run time:
// the two clock expressions evaluate to clock numbers, the bound expression to an int32. Also
// records what the parts can take (for the extrapolation bounds) and what they read.
class Constraint
{
public:
    Constraint(const ExpressionRef& first, const ExpressionRef& second, const ExpressionRef& bound, bool strict,
               const IndexSet& firstClocks, const IndexSet& secondClocks, std::pair<int32_t, int32_t> boundRange,
               const IndexSet& reads);

    // The exact negation: x_second - x_first with the negated bound (a Product of -1 and the
    // bound) and the opposite strictness.
    Constraint negated() const;

    const ExpressionRef& getFirst() const { return first; }
    const ExpressionRef& getSecond() const { return second; }
    const ExpressionRef& getBound() const { return bound; }
    bool isStrict() const { return strict; }
    // Clock numbers the first and the second clock expression can take (empty: the reference clock).
    const IndexSet& getFirstClocks() const { return firstClocks; }
    const IndexSet& getSecondClocks() const { return secondClocks; }
    // Lowest and highest value the bound can take.
    int32_t getLowestBound() const { return lowest; }
    int32_t getHighestBound() const { return highest; }
    // Variables the three expressions read.
    const IndexSet& getReads() const { return reads; }

private:
    ExpressionRef first;
    ExpressionRef second;
    ExpressionRef bound;
    bool strict;
    IndexSet firstClocks;
    IndexSet secondClocks;
    int32_t lowest;
    int32_t highest;
    IndexSet reads;
};

// A conjunction of constraints, applied to the state in one call of constrain. When every part
// of every constraint is a Constant, the encoded constraints are computed once, on the first
// evaluation, and reused.
class ClockExpr : public Expression
{
public:
    explicit ClockExpr(const Constraint& constraint);
    // A conjunction of the constraints of a followed by those of b (see makeConjunction).
    ClockExpr(const ClockExpr& a, const ClockExpr& b);

    const std::vector<Constraint>& getConstraints() const { return constraints; }
    // Appends the other's constraints and reads; the next evaluation examines them anew.
    void appendConstraints(const ClockExpr& other);

    void accept(ExpressionVisitor& visitor) override;
    // not(c1 and ... and cn) = not c1 or ... or not cn, nested to the left.
    ExpressionRef negate() override;
    int32_t evaluate(PublicState* state) override;

private:
    enum class Routine { Specialise, Constant, General };

    int32_t evaluateGeneral(PublicState* state);

    std::vector<Constraint> constraints;
    std::vector<dbm::clock_constraint_t> cached;
    Routine routine = Routine::Specialise;
};

// One encoded constraint x_i - x_j ~ bound; made by negating another one.
class SimpleConstraintExpr : public Expression
{
public:
    explicit SimpleConstraintExpr(const dbm::clock_constraint_t& constraint);

    const dbm::clock_constraint_t& getConstraint() const { return constraint; }

    void accept(ExpressionVisitor& visitor) override;
    // x_j - x_i with the opposite strictness and the negated value.
    ExpressionRef negate() override;
    int32_t evaluate(PublicState* state) override;

private:
    dbm::clock_constraint_t constraint;
};

// x_first - x_second < bound or <= bound with a double bound (a value expression that leaves its
// value in the state's result cell). Always true on a symbolic state, a test on a concrete one.
class DoubleClockExpr : public Expression
{
public:
    DoubleClockExpr(const ExpressionRef& first, const ExpressionRef& second, const ExpressionRef& bound, bool strict,
                    bool negated);

    const ExpressionRef& getFirst() const { return first; }
    const ExpressionRef& getSecond() const { return second; }
    const ExpressionRef& getBound() const { return bound; }
    bool isStrict() const { return strict; }
    bool isNegated() const { return negated; }

    void accept(ExpressionVisitor& visitor) override;
    // The clocks exchanged, strict and negated both inverted.
    ExpressionRef negate() override;
    int32_t evaluate(PublicState* state) override;

private:
    ExpressionRef first;
    ExpressionRef second;
    ExpressionRef bound;
    bool strict;
    bool negated;
};

// Conjunction: the right operand is evaluated only when the left one holds.
class AndExpr : public Expression
{
public:
    AndExpr(const ExpressionRef& left, const ExpressionRef& right);

    const ExpressionRef& getLeft() const { return left; }
    const ExpressionRef& getRight() const { return right; }

    void accept(ExpressionVisitor& visitor) override;
    // OrExpr of the negated operands.
    ExpressionRef negate() override;
    int32_t evaluate(PublicState* state) override;

private:
    ExpressionRef left;
    ExpressionRef right;
};

// Disjunction. A trivial side is tested first; when both sides constrain the zone of a symbolic
// state, the zone becomes the union of the parts where either side holds.
class OrExpr : public Expression
{
public:
    OrExpr(const ExpressionRef& left, const ExpressionRef& right);

    const ExpressionRef& getLeft() const { return left; }
    const ExpressionRef& getRight() const { return right; }

    void accept(ExpressionVisitor& visitor) override;
    // makeConjunction of the negated operands.
    ExpressionRef negate() override;
    int32_t evaluate(PublicState* state) override;

private:
    ExpressionRef left;
    ExpressionRef right;
};

// A sum of terms in 32-bit wrap-around arithmetic, evaluated in list order (the most recently
// added term first).
class SumExpr : public Expression
{
public:
    SumExpr();

    // Puts the term at the front of the list and merges its flags and sets.
    void addTerm(const ExpressionRef& term);
    const std::vector<ExpressionRef>& getTerms() const { return terms; }

    void accept(ExpressionVisitor& visitor) override;
    // Bug "SumExpr cannot be negated.".
    ExpressionRef negate() override;
    int32_t evaluate(PublicState* state) override;

private:
    // Kept in evaluation order: the front of the list is the first element.
    std::vector<ExpressionRef> terms;
};

// The supremum of a clock over the zone as an encoded bound (the smallest int32 for an empty
// zone), or x <= ceil(v) on a concrete state with the clock at v.
class ClockSupExpr : public Expression
{
public:
    ClockSupExpr(const ExpressionRef& clock, const IndexSet& clocks);

    const ExpressionRef& getClock() const { return clock; }
    // Clock numbers the index expression can take.
    const IndexSet& getClocks() const { return clocks; }

    void accept(ExpressionVisitor& visitor) override;
    // Bug "ClockSupExpr cannot be negated.".
    ExpressionRef negate() override;
    int32_t evaluate(PublicState* state) override;

protected:
    ExpressionRef clock;
    IndexSet clocks;
};

// The infimum of a clock over the zone as an encoded bound (the smallest int32 for an empty zone,
// as for the supremum), or x >= floor(v) as a non-strict bound on a concrete state.
class ClockInfExpr : public ClockSupExpr
{
public:
    ClockInfExpr(const ExpressionRef& clock, const IndexSet& clocks);

    int32_t evaluate(PublicState* state) override;
};

// The conjunction of two expressions, either of which may be null (the other is then the
// result). Two ClockExpr objects merge into one new ClockExpr; anything else gives an AndExpr.
ExpressionRef makeConjunction(const ExpressionRef& a, const ExpressionRef& b);

// Joins operands (at least one), in their order, with the binary `join` as a balanced tree
// rather than a chain nested as deep as the list is long: the binary nodes evaluate, visit,
// negate and free themselves recursively. Conjunction and disjunction are associative and
// their operands are evaluated left to right in either shape.
template <typename Join>
ExpressionRef joinBalanced(std::vector<ExpressionRef> operands, Join join)
{
    while (operands.size() > 1) {
        std::vector<ExpressionRef> joined;
        joined.reserve((operands.size() + 1) / 2);
        for (size_t i = 0; i + 1 < operands.size(); i += 2) {
            joined.push_back(join(operands[i], operands[i + 1]));
        }
        if (operands.size() % 2 != 0) {
            joined.push_back(std::move(operands.back()));
        }
        operands = std::move(joined);
    }
    return operands.front();
}

// The disjunction of the operands (at least one), in their order, as OrExpr nodes joined by
// joinBalanced.
ExpressionRef makeDisjunction(std::vector<ExpressionRef> operands);
