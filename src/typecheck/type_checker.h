#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <utility>

#include "language/expression.h"
#include "language/statement.h"
#include "language/system.h"
#include "language/type.h"
#include "language/walk.h"

namespace ZOLT {

// Collects the symbols whose values are fixed once the model is read: constant
// variables of the global and template declarations, and constant, non-reference,
// non-double parameters of templates and instantiations.
class CompileTimeComputableValues : public SystemVisitor
{
public:
    void visitVariable(variable_t& variable) override;
    void visitInstance(instance_t& instance) override;

    bool contains(const binding_t& symbol) const { return symbols.count(symbol) != 0; }

private:
    std::set<binding_t> symbols;
};

// What the split of a location invariant yields: the cost rate (empty when none),
// the invariant without cost rates, and what was seen on the way.
struct InvariantParts
{
    expression_t costRate;
    expression_t invariant;
    bool strictBound = false;
    bool clockRate = false;
    uint32_t costRateCount = 0;
};

// The type checker of models and queries. Walk a system with it (visitSystem) to
// check the whole model, or call validateQuery for one query. Every finding is
// recorded in the system's error or warning list with its position; nothing is
// thrown for a user error.
class TypeChecker : public SystemVisitor, public AbstractStatementVisitor
{
public:
    // Collects the compile-time computable symbols and types the system's
    // before-update and after-update expressions.
    explicit TypeChecker(TimedAutomataSystem& system, bool refinementChecking = false);
    ~TypeChecker() override;

    TypeChecker(const TypeChecker&) = delete;
    TypeChecker& operator=(const TypeChecker&) = delete;

    // The walk over the system.
    void leaveSystem(TimedAutomataSystem& system) override;
    void visitVariable(variable_t& variable) override;
    bool enterTemplate(template_t& templ) override;
    void leaveTemplate(template_t& templ) override;
    void visitLocation(location_t& location) override;
    void visitEdge(edge_t& edge) override;
    void visitInstance(instance_t& instance) override;
    void visitProcess(instance_t& process) override;
    void visitFunction(function_t& function) override;
    void visitIODecl(iodecl_t& decl) override;
    void visitProgressMeasure(progress_t& progress) override;
    void visitGanttChart(gantt_t& chart) override;
    void visitInstanceLine(instance_line_t& line) override;
    void visitMessage(message_t& message) override;
    void visitCondition(condition_t& condition) override;
    void visitUpdate(update_t& update) override;

    // Checks one query against the model.
    virtual void validateQuery(expression_t query);
    // Checks an expression that must designate a clock.
    virtual void checkClockExpression(expression_t expression);

    // Statements of function bodies.
    int32_t visitEmptyStatement(EmptyStatement* stat) override;
    int32_t visitExprStatement(ExprStatement* stat) override;
    int32_t visitAssertStatement(AssertStatement* stat) override;
    int32_t visitForStatement(ForStatement* stat) override;
    int32_t visitIterationStatement(IterationStatement* stat) override;
    int32_t visitWhileStatement(WhileStatement* stat) override;
    int32_t visitDoWhileStatement(DoWhileStatement* stat) override;
    int32_t visitBlockStatement(BlockStatement* stat) override;
    int32_t visitIfStatement(IfStatement* stat) override;
    int32_t visitReturnStatement(ReturnStatement* stat) override;

    // Types the expression and every subexpression, storing the types in the nodes
    // and reporting what is wrong. False when the expression has no valid type; an
    // empty expression is accepted.
    bool annotateExpressionType(expression_t expr);

    // Reporting: at an expression's span, or at a type's span.
    void reportWarning(const expression_t& expr, const std::string& message);
    void reportError(const expression_t& expr, const std::string& message);
    void reportTypeError(const type_t& type, const std::string& message);

    // Whether the value of the expression is known before exploration starts.
    bool computableAtCompileTime(const expression_t& expr) const;

    // Declared types and initialisers.
    void validateDeclaredType(const type_t& type, bool inConstOrMeta, bool inStruct);
    expression_t validateInitialiser(const type_t& type, const expression_t& initialiser);

    // Reports "$Incompatible_argument" at the argument when it does not fit the parameter.
    bool verifyArgument(const type_t& parameter, const expression_t& argument);

    // An expression used for its effect: an update, an expression statement, the
    // initialiser and step of a for statement, a scenario update.
    bool checkAssignmentExpression(expression_t expr);
    bool checkNoDynamicConstructs(Statement* statement);

    // Separates cost rates and records strict bounds and clock rates of an invariant.
    void splitInvariant(InvariantParts& parts, const expression_t& expr, bool nested);
    // The clock-bound rule of SET_CONTROL queries.
    void checkControlClockBounds(const expression_t& expr);
    // Reports "$Boolean_expected" unless the condition is integral.
    bool requireBoolean(const expression_t& expr);
    // Warns when the expression, or the right operand of a comma, changes nothing.
    void warnIfWithoutEffect(const expression_t& expr);

    // The synchronisation mode seen so far: 0 none, 1 input/output, 2 CSP, -1 mixed.
    int32_t getSyncMode() const { return syncMode; }

private:
    bool isUniqueReference(const expression_t& expr) const;
    void checkChannelExpression(const expression_t& expr);
    // Moves the synchronisation mode on for a use of input/output (io) or CSP
    // synchronisation; true when the model now mixes both.
    bool advanceSyncMode(bool io, bool csp);
    // Stores the initialiser rebuilt into the declared shape, unless rebuilding it found
    // an error: a list with empty slots would no longer read as what was written.
    void storeValidatedInitialiser(variable_t& variable, const type_t& type, const expression_t& init);
    // validateDeclaredType below a named type met at `use` (null when none was passed
    // yet): errors that the flags of the declaration cause are reported at that use.
    void validateDeclaredTypeAt(const type_t& type, bool inConstOrMeta, bool inStruct, const type_t* use);

    // Types one node whose children are typed already (annotateExpressionType walks
    // the tree and calls it for each node, children first).
    bool annotateNode(expression_t e);

    // The rules of annotateExpressionType by family; each returns the result type
    // (null when the rule gives none) and sets `ok` false after an error that ends
    // typing.
    type_t typeArithmetic(const expression_t& e);
    type_t typeComparison(const expression_t& e);
    type_t typeConnective(const expression_t& e);
    type_t typeAssignment(const expression_t& e, bool& ok);
    type_t typeQuantifier(const expression_t& e);
    type_t typeDynamic(const expression_t& e, bool& ok);
    type_t typeQuery(const expression_t& e, bool& ok);
    type_t typeComposition(const expression_t& e, bool& ok);

    TimedAutomataSystem* system;
    CompileTimeComputableValues computableValues;
    function_t* currentFunction = nullptr;
    bool refinementChecking;
    int32_t syncMode = 0;
    template_t* currentTemplate = nullptr;
    // The last expression warnIfWithoutEffect judged and whether it has an effect.
    std::pair<expression_t, bool> effectOfLastPrefix;
};

} // namespace ZOLT
