#pragma once

#include <cstdint>
#include <list>
#include <set>
#include <string>
#include <vector>

#include "language/expression.h"
#include "language/symbol.h"
#include "language/system.h"

namespace ZOLT {

class StatementVisitor;

// A statement of a user function's body. Statements form a tree: a block owns the
// statements pushed into it, and a loop or an if statement owns its sub-statements
// (the builders pop them from the current block and hand them over).
class Statement
{
public:
    Statement() = default;
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    virtual ~Statement() = default;

    // Calls the visitor's operation for this statement's class and returns its result.
    virtual int32_t accept(StatementVisitor* visitor) = 0;
    // Whether every path through the statement ends in a return.
    virtual bool alwaysReturns() = 0;
    // The statement's text, every line indented by `prefix`.
    virtual std::string toString(const std::string& prefix) const = 0;
};

class EmptyStatement : public Statement
{
public:
    int32_t accept(StatementVisitor* visitor) override;
    bool alwaysReturns() override;
    std::string toString(const std::string& prefix) const override;
};

class ExprStatement : public Statement
{
public:
    explicit ExprStatement(expression_t expr);
    int32_t accept(StatementVisitor* visitor) override;
    bool alwaysReturns() override;
    std::string toString(const std::string& prefix) const override;

    expression_t expr;
};

class AssertStatement : public Statement
{
public:
    explicit AssertStatement(expression_t expr);
    int32_t accept(StatementVisitor* visitor) override;
    bool alwaysReturns() override;
    std::string toString(const std::string& prefix) const override;

    expression_t expr;   // the asserted condition
};

class ForStatement : public Statement
{
public:
    ForStatement(expression_t init, expression_t cond, expression_t step, Statement* body);
    ~ForStatement() override;
    int32_t accept(StatementVisitor* visitor) override;
    bool alwaysReturns() override;
    std::string toString(const std::string& prefix) const override;

    expression_t init;
    expression_t cond;
    expression_t step;
    Statement* body;   // owned
};

// A loop over the values of the loop symbol's type.
class IterationStatement : public Statement
{
public:
    IterationStatement(binding_t symbol, scope_t frame, Statement* body);
    ~IterationStatement() override;
    int32_t accept(StatementVisitor* visitor) override;
    bool alwaysReturns() override;
    std::string toString(const std::string& prefix) const override;

    scope_t frame;      // holds the loop symbol
    binding_t symbol;
    Statement* body;    // owned; may be set after construction
};

class WhileStatement : public Statement
{
public:
    WhileStatement(expression_t cond, Statement* body);
    ~WhileStatement() override;
    int32_t accept(StatementVisitor* visitor) override;
    bool alwaysReturns() override;
    std::string toString(const std::string& prefix) const override;

    expression_t cond;
    Statement* body;   // owned
};

class DoWhileStatement : public Statement
{
public:
    DoWhileStatement(Statement* body, expression_t cond);
    ~DoWhileStatement() override;
    int32_t accept(StatementVisitor* visitor) override;
    bool alwaysReturns() override;
    std::string toString(const std::string& prefix) const override;

    Statement* body;   // owned
    expression_t cond;
};

// A block: its statements in order, owned, and its own declarations. The block's symbols
// live in `blockFrame`, a sub-scope of the enclosing frame; the `frame` inherited from
// declarations_t stays empty.
class BlockStatement : public Statement, public declarations_t
{
public:
    using iterator = std::vector<Statement*>::const_iterator;

    explicit BlockStatement(scope_t blockFrame);
    ~BlockStatement() override;
    int32_t accept(StatementVisitor* visitor) override;
    bool alwaysReturns() override;
    std::string toString(const std::string& prefix) const override;

    // Appends a statement, which the block then owns.
    void push(Statement* statement);
    // Removes the last statement and returns it; the caller takes it over. Null when the
    // block is empty.
    Statement* pop();
    // The last statement, or null when the block is empty.
    Statement* back() const;
    iterator begin() const { return statements.begin(); }
    iterator end() const { return statements.end(); }

    std::vector<Statement*> statements;
    scope_t blockFrame;
};

class SwitchStatement : public BlockStatement
{
public:
    SwitchStatement(scope_t blockFrame, expression_t expr);
    int32_t accept(StatementVisitor* visitor) override;
    bool alwaysReturns() override;
    std::string toString(const std::string& prefix) const override;

    expression_t expr;   // the switched value
};

class CaseStatement : public BlockStatement
{
public:
    CaseStatement(scope_t blockFrame, expression_t expr);
    int32_t accept(StatementVisitor* visitor) override;
    bool alwaysReturns() override;
    std::string toString(const std::string& prefix) const override;

    expression_t expr;   // the case value
};

class DefaultStatement : public BlockStatement
{
public:
    explicit DefaultStatement(scope_t blockFrame);
    int32_t accept(StatementVisitor* visitor) override;
    bool alwaysReturns() override;
    std::string toString(const std::string& prefix) const override;
};

class IfStatement : public Statement
{
public:
    IfStatement(expression_t cond, Statement* trueCase, Statement* falseCase = nullptr);
    ~IfStatement() override;
    int32_t accept(StatementVisitor* visitor) override;
    bool alwaysReturns() override;
    std::string toString(const std::string& prefix) const override;

    expression_t cond;
    Statement* trueCase;    // owned
    Statement* falseCase;   // owned; null when there is no else part
};

class BreakStatement : public Statement
{
public:
    int32_t accept(StatementVisitor* visitor) override;
    bool alwaysReturns() override;
    std::string toString(const std::string& prefix) const override;
};

class ContinueStatement : public Statement
{
public:
    int32_t accept(StatementVisitor* visitor) override;
    bool alwaysReturns() override;
    std::string toString(const std::string& prefix) const override;
};

class ReturnStatement : public Statement
{
public:
    ReturnStatement() = default;
    explicit ReturnStatement(expression_t value);
    int32_t accept(StatementVisitor* visitor) override;
    bool alwaysReturns() override;
    std::string toString(const std::string& prefix) const override;

    expression_t value;   // empty when nothing is returned
};

// One visit per statement class.
class StatementVisitor
{
public:
    virtual ~StatementVisitor() = default;
    virtual int32_t visitEmptyStatement(EmptyStatement* stat) = 0;
    virtual int32_t visitExprStatement(ExprStatement* stat) = 0;
    virtual int32_t visitAssertStatement(AssertStatement* stat) = 0;
    virtual int32_t visitForStatement(ForStatement* stat) = 0;
    virtual int32_t visitIterationStatement(IterationStatement* stat) = 0;
    virtual int32_t visitWhileStatement(WhileStatement* stat) = 0;
    virtual int32_t visitDoWhileStatement(DoWhileStatement* stat) = 0;
    virtual int32_t visitBlockStatement(BlockStatement* stat) = 0;
    virtual int32_t visitSwitchStatement(SwitchStatement* stat) = 0;
    virtual int32_t visitCaseStatement(CaseStatement* stat) = 0;
    virtual int32_t visitDefaultStatement(DefaultStatement* stat) = 0;
    virtual int32_t visitIfStatement(IfStatement* stat) = 0;
    virtual int32_t visitBreakStatement(BreakStatement* stat) = 0;
    virtual int32_t visitContinueStatement(ContinueStatement* stat) = 0;
    virtual int32_t visitReturnStatement(ReturnStatement* stat) = 0;
};

// Visits every sub-statement: loops visit their bodies, an if statement both branches,
// a block its statements in order (switch, case and default as blocks); the other
// statements go to visitSimpleStatement. The result is that of the last visit made.
class AbstractStatementVisitor : public StatementVisitor
{
public:
    int32_t visitEmptyStatement(EmptyStatement* stat) override;
    int32_t visitExprStatement(ExprStatement* stat) override;
    int32_t visitAssertStatement(AssertStatement* stat) override;
    int32_t visitForStatement(ForStatement* stat) override;
    int32_t visitIterationStatement(IterationStatement* stat) override;
    int32_t visitWhileStatement(WhileStatement* stat) override;
    int32_t visitDoWhileStatement(DoWhileStatement* stat) override;
    int32_t visitBlockStatement(BlockStatement* stat) override;
    int32_t visitSwitchStatement(SwitchStatement* stat) override;
    int32_t visitCaseStatement(CaseStatement* stat) override;
    int32_t visitDefaultStatement(DefaultStatement* stat) override;
    int32_t visitIfStatement(IfStatement* stat) override;
    int32_t visitBreakStatement(BreakStatement* stat) override;
    int32_t visitContinueStatement(ContinueStatement* stat) override;
    int32_t visitReturnStatement(ReturnStatement* stat) override;
    virtual int32_t visitSimpleStatement(Statement* stat);
};

// Hands every expression of the visited statements to visitExpression: conditions,
// loop parts, expression statements, returned values (also an empty one), switch and
// case values, and the initialisers of block-local variables.
class ExpressionVisitor : public AbstractStatementVisitor
{
public:
    int32_t visitExprStatement(ExprStatement* stat) override;
    int32_t visitAssertStatement(AssertStatement* stat) override;
    int32_t visitForStatement(ForStatement* stat) override;
    int32_t visitWhileStatement(WhileStatement* stat) override;
    int32_t visitDoWhileStatement(DoWhileStatement* stat) override;
    int32_t visitBlockStatement(BlockStatement* stat) override;
    int32_t visitSwitchStatement(SwitchStatement* stat) override;
    int32_t visitCaseStatement(CaseStatement* stat) override;
    int32_t visitDefaultStatement(DefaultStatement* stat) override;
    int32_t visitIfStatement(IfStatement* stat) override;
    int32_t visitReturnStatement(ReturnStatement* stat) override;

    virtual void visitExpression(expression_t expr) = 0;
};

// Collects into the caller's set every symbol the visited statements may write.
class CollectChangesVisitor : public ExpressionVisitor
{
public:
    explicit CollectChangesVisitor(std::set<binding_t>& changes) : changes(&changes) {}

    void visitExpression(expression_t expr) override;

private:
    std::set<binding_t>* changes;
};

// Collects into the caller's set every symbol the visited statements may read.
class CollectDependenciesVisitor : public ExpressionVisitor
{
public:
    explicit CollectDependenciesVisitor(std::set<binding_t>& dependencies)
        : dependencies(&dependencies)
    {}

    void visitExpression(expression_t expr) override;

private:
    std::set<binding_t>* dependencies;
};

// Appends to the caller's list every visited expression that is dynamic or has a
// dynamic subexpression.
class CollectDynamicExpressions : public ExpressionVisitor
{
public:
    explicit CollectDynamicExpressions(std::list<expression_t>& expressions)
        : expressions(&expressions)
    {}

    void visitExpression(expression_t expr) override;

private:
    std::list<expression_t>* expressions;
};

} // namespace ZOLT
