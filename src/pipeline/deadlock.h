#pragma once

// The deadlock predicate. A clock valuation of a symbolic state is deadlocked when no transition
// can ever be taken from it, neither at once nor after any delay. DeadlockHelper computes, for one
// state, one federation per enabled transition: the valuations from which time can pass until the
// transition is enabled and then take it. DeadlockExpr and NotDeadlockExpr are the run-time forms
// of the query keyword and of its negation: evaluated on a symbolic state they cut its zone down
// to the deadlocked (respectively not deadlocked) valuations and answer whether any are left.

#include <cstdint>
#include <string>
#include <vector>

#include "dbm/fed.h"
#include "pipeline/pipeline.h"
#include "pipeline/successor.h"
#include "runtime/edge.h"
#include "runtime/expression.h"
#include "support/object.h"

class FilterConfiguration;
class SymbolicState;
class System;

class DeadlockHelper : public pipeline::CompoundFilter<SymbolicState, dbm::fed_t>
{
public:
    // Obtains "transition-filter", "copy-filter" and "successor-filter" from the registry and
    // wires them: transitions are collected first, then each goes through the copy and successor
    // stages to the computation of its federation. A missing successor stage is left out.
    explicit DeadlockHelper(FilterConfiguration* registry);
    ~DeadlockHelper() override;

    // Every key reaches the members; PROPERTY_SYSTEM is also kept here.
    void setProperty(const char* key, void* value) override;
    // Hands on one federation per enabled transition whose target invariant can be met, the
    // transitions without clock guards first. Stops early once the downstream stage answers
    // false; returns false then, true otherwise. The state is neither changed nor taken.
    bool put(SymbolicState* state) override;

private:
    // Receives the transitions of the state from the transition stage.
    bool collect(Successor* item);
    // Receives each successor and turns it into the federation of its source valuations.
    bool compute(Successor* item);

    FilterConfiguration* registry;
    base::RefPtr<System> system;
    pipeline::Filter<SymbolicState, Successor>* transitionStage = nullptr;
    pipeline::Filter<Successor, Successor>* copyStage = nullptr;
    pipeline::Filter<Successor, Successor>* successorStage = nullptr;
    SymbolicState* source = nullptr;
    // The collected transitions: those without clock guards (in reverse order of arrival), then
    // the others (in order of arrival). Kept between calls so that they allocate nothing.
    std::vector<EdgeTuple> unguarded;
    std::vector<EdgeTuple> guarded;
    // Stopped clocks of the source (two words per 32 clocks, as System::evaluateClockRates fills).
    std::vector<uint32_t> stoppedClocks;
    bool stop = false;
};

// Shared part of the deadlock predicate and of its negation.
class DeadlockPredicate : public Expression
{
public:
    ~DeadlockPredicate() override;

    // Raises Bug: the predicate has no normal form.
    void normalise() const;

protected:
    DeadlockPredicate(FilterConfiguration* registry, System* system, uint32_t dimension);
    // Puts the symbolic state behind the public state into the helper; CannotEvaluateExpression
    // when there is none.
    SymbolicState* symbolicStateOf(PublicState* state) const;
    // Receives each federation of the helper.
    virtual bool accumulate(dbm::fed_t* federation) = 0;

    base::RefPtr<FilterConfiguration> registry;
    DeadlockHelper* helper;
    pipeline::ConnectableCollection components;  // owns the helper
    base::RefPtr<System> system;
    dbm::fed_t accumulator;
    const char* name;
};

// deadlock: the valuations of a state from which no transition can ever be taken.
class DeadlockExpr : public DeadlockPredicate
{
public:
    DeadlockExpr(FilterConfiguration* registry, System* system);

    // The visitor's visitDeadlock.
    void accept(ExpressionVisitor& visitor) override;
    // A new NotDeadlockExpr over the same registry and System.
    ExpressionRef negate() override;
    // Cuts the state's zone to its deadlocked part; 1 when something is left.
    int32_t evaluate(PublicState* state) override;

private:
    bool accumulate(dbm::fed_t* federation) override;
};

// not deadlock: the valuations of a state from which some transition can be taken, at once or
// after a delay.
class NotDeadlockExpr : public DeadlockPredicate
{
public:
    NotDeadlockExpr(FilterConfiguration* registry, System* system);

    // The visitor's visitNotDeadlock.
    void accept(ExpressionVisitor& visitor) override;
    // A new DeadlockExpr over the same registry and System.
    ExpressionRef negate() override;
    // Cuts the state's zone to its not deadlocked part; 1 when something is left.
    int32_t evaluate(PublicState* state) override;

private:
    bool accumulate(dbm::fed_t* federation) override;
};

// Tells whether an expression tests for deadlock: found is set when the walk meets the deadlock
// predicate or its negation.
class DeadlockScanner : public ExpressionVisitor
{
public:
    void visitDeadlock(Expression*) override { found = true; }
    void visitNotDeadlock(Expression*) override { found = true; }

    bool found = false;
};
