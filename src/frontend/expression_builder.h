#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "frontend/builder.h"
#include "language/expression.h"
#include "language/symbol.h"
#include "language/system.h"
#include "language/type.h"

namespace ZOLT {

// The first concrete builder: turns the post-order calls of a producer into the types
// and expressions of one TimedAutomataSystem. Pending pieces wait on two stacks (the
// expression fragments and the types); names are resolved in a stack of scopes whose
// bottom is the frame of the system's global declarations.
//
// User errors are either recorded in the system (the operation then completes with a
// placeholder, so the stacks stay balanced) or thrown as TypeException, which the
// producers catch around every call and record at the current position.
class ExpressionBuilder : public AbstractBuilder
{
public:
    explicit ExpressionBuilder(TimedAutomataSystem* system);
    ~ExpressionBuilder() override;

    // Infrastructure
    void addPosition(uint32_t position, int32_t offset, int32_t line, const std::string& path) override;
    void handleError(const std::string& message) override;
    void handleWarning(const std::string& message) override;
    bool isTypeName(const char* name) override;
    void limitNesting() override;

    // Types
    void typeDuplicate() override;
    void typePop() override;
    void typeBool(int prefix) override;
    void typeInt(int prefix) override;
    void typeDouble(int prefix) override;
    void typeBoundedInt(int prefix) override;
    void typeChannel(int prefix) override;
    void typeClock(int prefix) override;
    void typeVoid() override;
    void typeScalar(int prefix) override;
    void typeName(int prefix, const char* name) override;

    // Literals, identifiers and integer quantifiers
    void exprFalse() override;
    void exprTrue() override;
    void exprDouble(double value) override;
    void exprId(const char* name) override;
    void exprNar(int32_t value) override;
    void exprForAllBegin(const char* name) override;
    void exprForAllEnd(const char* name) override;
    void exprExistsBegin(const char* name) override;
    void exprExistsEnd(const char* name) override;
    void exprSumBegin(const char* name) override;
    void exprSumEnd(const char* name) override;

    // Operators and accesses
    void exprCallEnd(uint32_t argumentCount) override;
    void exprArray() override;
    void exprPostIncrement() override;
    void exprPreIncrement() override;
    void exprPostDecrement() override;
    void exprPreDecrement() override;
    void exprAssignment(int kind) override;
    void exprUnary(int kind) override;
    void exprBinary(int kind) override;
    void exprNary(int kind, uint32_t count) override;
    void exprScenario(const char* name) override;
    void exprTernary(int kind, bool firstIsTrue) override;
    void exprInlineIf() override;
    void exprComma() override;
    void exprDot(const char* name) override;
    void exprDeadlock() override;
    void exprBuiltinFunction1(int kind) override;
    void exprBuiltinFunction2(int kind) override;

    // Statistical queries
    void exprSMCControl(int boundKind) override;
    void exprProbaQualitative(int boundKind, int pathKind, int comparison, double probability) override;
    void exprProbaEstimate(int boundKind, int pathKind, bool isUntil) override;
    void exprProbaCompare(int boundKind, int pathKind, int secondBoundKind, int secondPathKind) override;
    void exprProbaExpected(int boundKind, const char* aggregate) override;
    void exprSimulation(int32_t runs, int boundKind, uint32_t count, bool hasPredicate,
                        int32_t predicateCount) override;

    // MITL formulas
    void exprMitlUntil() override;
    void exprMitlUntil(int32_t low, int32_t high) override;
    void exprMitlRelease(int32_t low, int32_t high) override;
    void exprMitlDisj() override;
    void exprMitlConj() override;
    void exprMitlNext() override;
    void exprMitlAtom() override;
    void exprMitlEventually(int32_t low, int32_t high) override;
    void exprMitlAlways(int32_t low, int32_t high) override;

    // Dynamic templates
    void exprSpawn(uint32_t argumentCount) override;
    void exprExit() override;
    void exprNumOf() override;
    void exprForAllDynamicBegin(const char* name, const char* templateName) override;
    void exprForAllDynamicEnd(const char* name) override;
    void exprExistsAllDynamicBegin(const char* name, const char* templateName) override;
    void exprExistsAllDynamicEnd(const char* name) override;
    void exprSumDynamicBegin(const char* name, const char* templateName) override;
    void exprSumDynamicEnd(const char* name) override;
    void exprForeachDynamicBegin(const char* name, const char* templateName) override;
    void exprForeachDynamicEnd(const char* name) override;

    // False here; the query builder answers true.
    virtual bool isQueryBuilder();
    // The leads-to property between the "lmin" and "lmax" members of the observer
    // process that the scenario translation added; the stacks are not touched.
    virtual expression_t makeObserverProperty();
    // The frame of a dynamic template, recorded under the name of the process variable
    // that a dynamic quantifier binds. Throws TypeException "Template referenced before
    // used" when the template's body has not been read yet.
    virtual scope_t addDynamicFrame(template_t* dynamicTemplate, const std::string& name);
    virtual void removeDynamicFrame(const std::string& name);

    // Looks the name up in the innermost scope and its ancestors.
    bool resolve(const std::string& name, binding_t& symbol);
    void pushFrame(const scope_t& frame);
    void popFrame();
    // An integer constant with the current position.
    expression_t makeConstant(int32_t value);

    // Adds to `symbols` every symbol the expression reads and, for variables among
    // them, every symbol their initialisers read, transitively.
    static void addReadClosure(std::set<binding_t>& symbols, const expression_t& expression);
    // addReadClosure of the bound expressions of every range inside the type.
    static void addTypeReadClosure(std::set<binding_t>& symbols, const type_t& type);

    // True for the MITL node kinds.
    static bool isMitlFormula(const expression_t& expression);

protected:
    type_t applyPrefix(int prefix, const type_t& type);
    void popExpressionFragments(size_t n);
    // The fragment or type `depth` entries below the top; throws Bug when the stack is
    // not that deep (a producer that breaks the calling order).
    expression_t& fragment(size_t depth);
    type_t& typeFragment(size_t depth);
    type_t popType();
    expression_t popFragment();
    // The top type, popped and made constant: the type of a bound variable (of a
    // quantifier, an iteration or a select).
    type_t popConstantType();
    // An MITL atom without a position over the expression.
    expression_t makeMitlAtom(const expression_t& expression);
    // The expression itself when it is an MITL formula, else an atom over it.
    expression_t atomise(const expression_t& expression);
    // True when the range met first inside the type is the default range that typeInt
    // gives a plain int.
    bool hasDefaultIntRange(const type_t& type) const;

    std::vector<expression_t> fragments;
    std::vector<type_t> typeFragments;
    std::deque<scope_t> frames;
    TimedAutomataSystem* system;
    template_t* currentTemplate = nullptr;
    int scalarCount = 0;
    std::map<std::string, scope_t> dynamicFrames;

private:
    void dynamicBegin(const char* name, const char* templateName, const char* usedIn);
    void dynamicEnd(const char* name, node_kind_t kind, node_kind_t mitlKind, int typing);
    // The bound symbol of a statistical query: for bound kind 2 the fragment at `depth`
    // (below the bound), else the constant 0 or 1 without a position. Pops nothing.
    expression_t boundSymbol(int boundKind, size_t depth);
    // Pops the bound symbol (for bound kind 2), the bound and the formula of a
    // statistical query and returns them in that order.
    std::array<expression_t, 3> popBoundedFormula(int boundKind);
    // The interval operator `kind` over the two top formulas, which it pops.
    void mitlBinaryInterval(node_kind_t kind, int32_t low, int32_t high);
    // The interval operator `kind` with an atom over the constant `left` as its left
    // operand and the top formula as its right one.
    void mitlUnaryInterval(node_kind_t kind, int32_t left, int32_t low, int32_t high);
    // The MITL connective `kind` over the two top formulas, which it pops.
    void mitlConnective(node_kind_t kind);
    // Builds the quantifier node of an integer quantifier's end operation.
    void quantifierEnd(node_kind_t kind);

    // The range nodes that typeInt made for plain ints; a select over one of them has
    // no range of its own.
    std::set<type_t> defaultIntRanges;
    // A too deep expression or type has been refused since its stack was last empty: the
    // rest of the same construct is cut short without a further message.
    bool deepExpressionReported = false;
    bool deepTypeReported = false;
};

} // namespace ZOLT
