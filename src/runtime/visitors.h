#pragma once

// Visitor interfaces over the compiled model and over run-time expressions. Every visit does
// nothing by default, so an analysis overrides only what it needs. Both walks are post-order: a
// container hands the visitor to its parts first and then visits itself.

class System;
class Process;
class Location;
class Edge;

class Expression;
class Product;
class CommaExpression;
class Constant;
class NotExpression;
class ClockExpr;
class AndExpr;
class OrExpr;
class SumExpr;
class SimpleConstraintExpr;
class ClockSupExpr;
class DoubleClockExpr;

class ModelVisitor;

// A part of the compiled model that a ModelVisitor can walk.
class ModelElement
{
public:
    ModelElement() = default;
    ModelElement(const ModelElement&) = default;
    ModelElement& operator=(const ModelElement&) = default;
    virtual ~ModelElement() = default;

    virtual void accept(ModelVisitor& visitor) = 0;
};

class ModelVisitor
{
public:
    virtual ~ModelVisitor() = default;

    virtual void visitSystem(System*) {}
    virtual void visitProcess(Process*) {}
    virtual void visitLocation(Location*) {}
    virtual void visitEdge(Edge*) {}
};

// Visitor of run-time expressions (not the front end's ZOLT::ExpressionVisitor). Expressions
// that have no visit of their own (double constants, byte-code expressions, variables,
// quantifiers over spawned processes) accept a visitor without calling it, so a walk never
// descends into byte code.
class ExpressionVisitor
{
public:
    virtual ~ExpressionVisitor() = default;

    virtual void visitProduct(Product*) {}
    virtual void visitComma(CommaExpression*) {}
    virtual void visitConstant(Constant*) {}
    virtual void visitNot(NotExpression*) {}
    // The deadlock predicate of the exploration pipeline and its negation.
    virtual void visitDeadlock(Expression*) {}
    virtual void visitNotDeadlock(Expression*) {}
    virtual void visitClockExpr(ClockExpr*) {}
    virtual void visitAnd(AndExpr*) {}
    virtual void visitOr(OrExpr*) {}
    virtual void visitSum(SumExpr*) {}
    virtual void visitSimpleConstraint(SimpleConstraintExpr*) {}
    // Suprema and infima of clocks (ClockSupExpr and ClockInfExpr).
    virtual void visitClockSup(ClockSupExpr*) {}
    virtual void visitDoubleClock(DoubleClockExpr*) {}
};
