#include "language/statement.h"

#include <typeinfo>
#include <utility>

#include "language/walk.h"

namespace ZOLT {

namespace {

const std::string indent = "    ";

int32_t visit(Statement* statement, StatementVisitor* visitor)
{
    return statement != nullptr ? statement->accept(visitor) : 0;
}

bool returns(Statement* statement)
{
    return statement != nullptr && statement->alwaysReturns();
}

// The name of an iteration's range: the statement builder wraps the declared type of
// the loop symbol in a const prefix, so child 0 of the symbol's type is the declared
// type. A named type prints its name; a range or scalar set written in place prints as
// declared.
std::string iterationRangeText(const binding_t& symbol)
{
    type_t type = symbol.getType();
    if (type.getSize() == 0) {
        return type.toDeclaration();
    }
    return type.getChild(0).toDeclaration();
}

// The text of a loop or branch body between the braces that the statement writes
// around it. A body that is not a block reads back as a block of that one statement,
// which ends its statement with a newline; the text does the same, so that a saved
// function reads back to the same text.
std::string bodyText(const Statement* statement, const std::string& prefix)
{
    if (statement == nullptr) {
        return {};
    }
    std::string text = statement->toString(prefix);
    if (!text.empty() && typeid(*statement) != typeid(BlockStatement)) {
        text += '\n';
    }
    return text;
}

} // namespace

// --- Empty -------------------------------------------------------------------------

int32_t EmptyStatement::accept(StatementVisitor* visitor) { return visitor->visitEmptyStatement(this); }
bool EmptyStatement::alwaysReturns() { return false; }
std::string EmptyStatement::toString(const std::string&) const { return {}; }

// --- Expression --------------------------------------------------------------------

ExprStatement::ExprStatement(expression_t expr) : expr(std::move(expr)) {}
int32_t ExprStatement::accept(StatementVisitor* visitor) { return visitor->visitExprStatement(this); }
bool ExprStatement::alwaysReturns() { return false; }
std::string ExprStatement::toString(const std::string& prefix) const
{
    return prefix + expr.toString(false) + ";";
}

// --- Assert ------------------------------------------------------------------------

AssertStatement::AssertStatement(expression_t expr) : expr(std::move(expr)) {}
int32_t AssertStatement::accept(StatementVisitor* visitor) { return visitor->visitAssertStatement(this); }
bool AssertStatement::alwaysReturns() { return false; }
std::string AssertStatement::toString(const std::string& prefix) const
{
    return prefix + "assert(" + expr.toString(false) + ");";
}

// --- For ---------------------------------------------------------------------------

ForStatement::ForStatement(expression_t init, expression_t cond, expression_t step, Statement* body)
    : init(std::move(init)), cond(std::move(cond)), step(std::move(step)), body(body)
{}
ForStatement::~ForStatement() { delete body; }
int32_t ForStatement::accept(StatementVisitor* visitor) { return visitor->visitForStatement(this); }
bool ForStatement::alwaysReturns() { return false; }
std::string ForStatement::toString(const std::string& prefix) const
{
    return prefix + "for (" + init.toString(false) + "; " + cond.toString(false) + "; " +
           step.toString(false) + ")\n{\n" + bodyText(body, prefix + indent) + "}";
}

// --- Iteration ---------------------------------------------------------------------

IterationStatement::IterationStatement(binding_t symbol, scope_t frame, Statement* body)
    : frame(std::move(frame)), symbol(std::move(symbol)), body(body)
{}
IterationStatement::~IterationStatement() { delete body; }
int32_t IterationStatement::accept(StatementVisitor* visitor) { return visitor->visitIterationStatement(this); }
bool IterationStatement::alwaysReturns() { return false; }
std::string IterationStatement::toString(const std::string& prefix) const
{
    return prefix + "for (" + symbol.getName() + " : " + iterationRangeText(symbol) + ")\n{\n" +
           bodyText(body, prefix + indent) + "}";
}

// --- While -------------------------------------------------------------------------

WhileStatement::WhileStatement(expression_t cond, Statement* body) : cond(std::move(cond)), body(body) {}
WhileStatement::~WhileStatement() { delete body; }
int32_t WhileStatement::accept(StatementVisitor* visitor) { return visitor->visitWhileStatement(this); }
bool WhileStatement::alwaysReturns() { return false; }
std::string WhileStatement::toString(const std::string& prefix) const
{
    return prefix + "while(" + cond.toString(false) + ")\n" + prefix + "{\n" +
           bodyText(body, prefix + indent) + prefix + "}";
}

// --- Do-while ----------------------------------------------------------------------

DoWhileStatement::DoWhileStatement(Statement* body, expression_t cond) : body(body), cond(std::move(cond)) {}
DoWhileStatement::~DoWhileStatement() { delete body; }
int32_t DoWhileStatement::accept(StatementVisitor* visitor) { return visitor->visitDoWhileStatement(this); }
bool DoWhileStatement::alwaysReturns() { return returns(body); }
std::string DoWhileStatement::toString(const std::string& prefix) const
{
    return prefix + "do {\n" + bodyText(body, prefix + indent) + prefix + "} while (" +
           cond.toString(false) + ");";
}

// --- Block -------------------------------------------------------------------------

BlockStatement::BlockStatement(scope_t blockFrame) : blockFrame(std::move(blockFrame)) {}

BlockStatement::~BlockStatement()
{
    for (auto it = statements.rbegin(); it != statements.rend(); ++it) {
        delete *it;
    }
}

int32_t BlockStatement::accept(StatementVisitor* visitor) { return visitor->visitBlockStatement(this); }
bool BlockStatement::alwaysReturns() { return !statements.empty() && returns(statements.back()); }

std::string BlockStatement::toString(const std::string& prefix) const
{
    std::string text;
    // The block's own variables (the symbols of its frame that have a variable record;
    // parameters have none) are declared at its start, where their initialisers run.
    size_t count = blockFrame.empty() ? 0 : blockFrame.getSize();
    for (size_t i = 0; i < count; ++i) {
        if (void* data = blockFrame[i].getData()) {
            text += prefix + variableText(*static_cast<const variable_t*>(data)) + ";\n";
        }
    }
    for (const Statement* statement : statements) {
        if (statement == nullptr) {
            continue;
        }
        if (typeid(*statement) == typeid(BlockStatement)) {
            // A block inside a block keeps its braces, and with them its scope.
            text += prefix + "{\n" + statement->toString(prefix + indent) + prefix + "}";
        } else {
            text += statement->toString(prefix);
        }
        text += "\n";
    }
    return text;
}

void BlockStatement::push(Statement* statement) { statements.push_back(statement); }

Statement* BlockStatement::pop()
{
    if (statements.empty()) {
        return nullptr;
    }
    Statement* last = statements.back();
    statements.pop_back();
    return last;
}

Statement* BlockStatement::back() const { return statements.empty() ? nullptr : statements.back(); }

// --- Switch, case, default ---------------------------------------------------------

SwitchStatement::SwitchStatement(scope_t blockFrame, expression_t expr)
    : BlockStatement(std::move(blockFrame)), expr(std::move(expr))
{}
int32_t SwitchStatement::accept(StatementVisitor* visitor) { return visitor->visitSwitchStatement(this); }
bool SwitchStatement::alwaysReturns() { return false; }
std::string SwitchStatement::toString(const std::string& prefix) const
{
    return prefix + "switch(" + expr.toString(false) + ")\n" + prefix + "{\n" +
           BlockStatement::toString(prefix + indent) + prefix + "}";
}

CaseStatement::CaseStatement(scope_t blockFrame, expression_t expr)
    : BlockStatement(std::move(blockFrame)), expr(std::move(expr))
{}
int32_t CaseStatement::accept(StatementVisitor* visitor) { return visitor->visitCaseStatement(this); }
bool CaseStatement::alwaysReturns() { return false; }
std::string CaseStatement::toString(const std::string& prefix) const
{
    return prefix + "case " + expr.toString(false) + ":\n" + BlockStatement::toString(prefix + indent);
}

DefaultStatement::DefaultStatement(scope_t blockFrame) : BlockStatement(std::move(blockFrame)) {}
int32_t DefaultStatement::accept(StatementVisitor* visitor) { return visitor->visitDefaultStatement(this); }
bool DefaultStatement::alwaysReturns() { return false; }
std::string DefaultStatement::toString(const std::string& prefix) const
{
    return BlockStatement::toString(prefix);
}

// --- If ----------------------------------------------------------------------------

IfStatement::IfStatement(expression_t cond, Statement* trueCase, Statement* falseCase)
    : cond(std::move(cond)), trueCase(trueCase), falseCase(falseCase)
{}

IfStatement::~IfStatement()
{
    delete falseCase;
    delete trueCase;
}

int32_t IfStatement::accept(StatementVisitor* visitor) { return visitor->visitIfStatement(this); }
bool IfStatement::alwaysReturns() { return returns(trueCase) && returns(falseCase); }

std::string IfStatement::toString(const std::string& prefix) const
{
    std::string text = prefix + "if (" + cond.toString(false) + ")\n" + prefix + "{\n" +
                       bodyText(trueCase, prefix + indent) + prefix + "}";
    if (falseCase != nullptr) {
        text += "else {\n" + bodyText(falseCase, prefix + indent) + prefix + "}";
    }
    return text;
}

// --- Break, continue, return -------------------------------------------------------

int32_t BreakStatement::accept(StatementVisitor* visitor) { return visitor->visitBreakStatement(this); }
bool BreakStatement::alwaysReturns() { return false; }
std::string BreakStatement::toString(const std::string& prefix) const { return prefix + "break;"; }

int32_t ContinueStatement::accept(StatementVisitor* visitor) { return visitor->visitContinueStatement(this); }
bool ContinueStatement::alwaysReturns() { return false; }
std::string ContinueStatement::toString(const std::string& prefix) const { return prefix + "continue;"; }

ReturnStatement::ReturnStatement(expression_t value) : value(std::move(value)) {}
int32_t ReturnStatement::accept(StatementVisitor* visitor) { return visitor->visitReturnStatement(this); }
bool ReturnStatement::alwaysReturns() { return true; }
std::string ReturnStatement::toString(const std::string& prefix) const
{
    return prefix + "return " + value.toString(false) + ";";
}

// --- AbstractStatementVisitor ------------------------------------------------------

int32_t AbstractStatementVisitor::visitEmptyStatement(EmptyStatement* stat) { return visitSimpleStatement(stat); }
int32_t AbstractStatementVisitor::visitExprStatement(ExprStatement* stat) { return visitSimpleStatement(stat); }
int32_t AbstractStatementVisitor::visitAssertStatement(AssertStatement* stat) { return visitSimpleStatement(stat); }
int32_t AbstractStatementVisitor::visitForStatement(ForStatement* stat) { return visit(stat->body, this); }
int32_t AbstractStatementVisitor::visitIterationStatement(IterationStatement* stat) { return visit(stat->body, this); }
int32_t AbstractStatementVisitor::visitWhileStatement(WhileStatement* stat) { return visit(stat->body, this); }
int32_t AbstractStatementVisitor::visitDoWhileStatement(DoWhileStatement* stat) { return visit(stat->body, this); }

int32_t AbstractStatementVisitor::visitBlockStatement(BlockStatement* stat)
{
    int32_t result = 0;
    for (Statement* statement : stat->statements) {
        if (statement != nullptr) {
            result = statement->accept(this);
        }
    }
    return result;
}

int32_t AbstractStatementVisitor::visitSwitchStatement(SwitchStatement* stat) { return visitBlockStatement(stat); }
int32_t AbstractStatementVisitor::visitCaseStatement(CaseStatement* stat) { return visitBlockStatement(stat); }
int32_t AbstractStatementVisitor::visitDefaultStatement(DefaultStatement* stat) { return visitBlockStatement(stat); }

int32_t AbstractStatementVisitor::visitIfStatement(IfStatement* stat)
{
    int32_t result = visit(stat->trueCase, this);
    if (stat->falseCase != nullptr) {
        result = stat->falseCase->accept(this);
    }
    return result;
}

int32_t AbstractStatementVisitor::visitBreakStatement(BreakStatement* stat) { return visitSimpleStatement(stat); }
int32_t AbstractStatementVisitor::visitContinueStatement(ContinueStatement* stat) { return visitSimpleStatement(stat); }
int32_t AbstractStatementVisitor::visitReturnStatement(ReturnStatement* stat) { return visitSimpleStatement(stat); }
int32_t AbstractStatementVisitor::visitSimpleStatement(Statement*) { return 0; }

// --- ExpressionVisitor -------------------------------------------------------------

int32_t ExpressionVisitor::visitExprStatement(ExprStatement* stat)
{
    visitExpression(stat->expr);
    return 0;
}

int32_t ExpressionVisitor::visitAssertStatement(AssertStatement* stat)
{
    visitExpression(stat->expr);
    return 0;
}

int32_t ExpressionVisitor::visitForStatement(ForStatement* stat)
{
    visitExpression(stat->init);
    visitExpression(stat->cond);
    visitExpression(stat->step);
    return visit(stat->body, this);
}

int32_t ExpressionVisitor::visitWhileStatement(WhileStatement* stat)
{
    visitExpression(stat->cond);
    return visit(stat->body, this);
}

int32_t ExpressionVisitor::visitDoWhileStatement(DoWhileStatement* stat)
{
    visitExpression(stat->cond);
    return visit(stat->body, this);
}

int32_t ExpressionVisitor::visitBlockStatement(BlockStatement* stat)
{
    // Block-local variables are declared in the block's frame with their records in the
    // block's own variable list.
    size_t count = stat->blockFrame.empty() ? 0 : stat->blockFrame.getSize();
    for (size_t i = 0; i < count; ++i) {
        void* data = stat->blockFrame[i].getData();
        if (data != nullptr) {
            visitExpression(static_cast<variable_t*>(data)->initialiser);
        }
    }
    for (Statement* statement : stat->statements) {
        if (statement != nullptr) {
            statement->accept(this);
        }
    }
    return 0;
}

int32_t ExpressionVisitor::visitSwitchStatement(SwitchStatement* stat)
{
    visitExpression(stat->expr);
    return visitBlockStatement(stat);
}

int32_t ExpressionVisitor::visitCaseStatement(CaseStatement* stat)
{
    visitExpression(stat->expr);
    return visitBlockStatement(stat);
}

int32_t ExpressionVisitor::visitDefaultStatement(DefaultStatement* stat) { return visitBlockStatement(stat); }

int32_t ExpressionVisitor::visitIfStatement(IfStatement* stat)
{
    visitExpression(stat->cond);
    visit(stat->trueCase, this);
    if (stat->falseCase != nullptr) {
        stat->falseCase->accept(this);
    }
    return 0;
}

int32_t ExpressionVisitor::visitReturnStatement(ReturnStatement* stat)
{
    visitExpression(stat->value);
    return 0;
}

// --- Collectors --------------------------------------------------------------------

void CollectChangesVisitor::visitExpression(expression_t expr) { expr.collectWrittenSymbols(*changes); }

void CollectDependenciesVisitor::visitExpression(expression_t expr)
{
    expr.collectReadSymbols(*dependencies, false);
}

void CollectDynamicExpressions::visitExpression(expression_t expr)
{
    if (expr.isDynamic() || expr.hasDynamicSubexpression()) {
        expressions->push_back(expr);
    }
}

} // namespace ZOLT
