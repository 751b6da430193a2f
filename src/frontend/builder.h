#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <vector>

#include "language/span.h"

namespace ZOLT {

// Thrown by a builder for an operation it does not implement. Producers do not
// catch it: an unsupported construct ends the load.
class NotSupportedException : public std::exception
{
public:
    explicit NotSupportedException(const char* message) : message(message) {}
    const char* what() const noexcept override { return message.c_str(); }

private:
    std::string message;
};

// Tag that selects the statement-block forms of procBegin and procEnd.
struct statement_block_t
{
};
inline constexpr statement_block_t statementBlock{};

// The interface through which every producer (textual parser, XML reader, query
// reader, scenario translator) builds a model or a query. Producers call the
// operations in the order of a bottom-up parse: operands before the construct,
// the parts of a declaration before the declaration. Names are NUL-terminated
// strings that the builder copies when it keeps them; kinds are node_kind_t
// values passed as int; a prefix is a bit set of type qualifiers (0 none,
// 1 const, 2 urgent, 4 broadcast, 6 urgent broadcast, 8 meta, 16 hybrid).
class ParserBuilder
{
public:
    virtual ~ParserBuilder() = default;

    // Infrastructure
    virtual void addPosition(uint32_t position, int32_t offset, int32_t line, const std::string& path) = 0;
    virtual void setPosition(int32_t start, int32_t end) = 0;
    virtual void handleError(const std::string& message) = 0;
    virtual void handleWarning(const std::string& message) = 0;
    virtual bool isTypeName(const char* name) = 0;
    // Called by the parser after each of its calls: a builder that keeps expression and
    // type trees refuses one that has grown deeper than the walks over trees allow
    // (language/nesting.h), with an error at the current position. The default keeps
    // nothing and does nothing.
    virtual void limitNesting() {}

    // Types
    virtual void typeDuplicate() = 0;
    virtual void typePop() = 0;
    virtual void typeBool(int prefix) = 0;
    virtual void typeInt(int prefix) = 0;
    virtual void typeDouble(int prefix) = 0;
    virtual void typeBoundedInt(int prefix) = 0;
    virtual void typeChannel(int prefix) = 0;
    virtual void typeClock(int prefix) = 0;
    virtual void typeVoid() = 0;
    virtual void typeArrayOfSize(uint32_t count) = 0;
    virtual void typeArrayOfType(uint32_t count) = 0;
    virtual void typeScalar(int prefix) = 0;
    virtual void typeName(int prefix, const char* name) = 0;
    virtual void typeStruct(int prefix, uint32_t count) = 0;
    virtual void structField(const char* name) = 0;

    // Declarations, Gantt charts and functions
    virtual void declTypeDef(const char* name) = 0;
    virtual void declVar(const char* name, bool hasInitialiser) = 0;
    virtual void declInitialieserList(uint32_t count) = 0;
    virtual void declFieldInit(const char* name) = 0;
    virtual void declProgress(bool hasGuard) = 0;
    virtual void ganttDeclStart(const char* name) = 0;
    virtual void ganttDeclSelect(const char* name) = 0;
    virtual void ganttDeclEnd() = 0;
    virtual void ganttStart() = 0;
    virtual void ganttEntrySelect(const char* name) = 0;
    virtual void ganttEntryEnd() = 0;
    virtual void declParameter(const char* name, bool isReference) = 0;
    virtual void declFuncBegin(const char* name) = 0;
    virtual void declFuncEnd() = 0;

    // Templates and LSC charts
    virtual void procBegin(const char* name, bool isTimedAutomaton, const std::string& type,
                           const std::string& mode) = 0;
    virtual void procEnd() = 0;
    virtual void procState(const char* name, bool hasInvariant, bool hasExponentialRate) = 0;
    virtual void procStateCommit(const char* name) = 0;
    virtual void procStateUrgent(const char* name) = 0;
    virtual void procStateInit(const char* name) = 0;
    virtual void procEdgeBegin(const char* source, const char* target, bool controllable,
                               const char* action) = 0;
    virtual void procEdgeEnd(const char* source, const char* target) = 0;
    virtual void procSelect(const char* name) = 0;
    virtual void procGuard() = 0;
    virtual void procSync(int kind) = 0;
    virtual void procUpdate() = 0;
    virtual void procProb() = 0;
    virtual void procBranchpoint(const char* name) = 0;
    virtual void procInstanceLine() = 0;
    virtual void instanceName(const char* name, bool hasArguments) = 0;
    virtual void instanceNameBegin(const char* name) = 0;
    virtual void instancNameEnd(const char* name, uint32_t argumentCount) = 0;
    virtual void procMessage(const char* source, const char* target, int location, bool inPrechart) = 0;
    virtual void procMessage(int kind) = 0;
    virtual void procCondition(const std::vector<std::string>& anchors, int location, bool inPrechart,
                               bool isHot) = 0;
    virtual void procCondition() = 0;
    virtual void procLscUpdate(const char* anchor, int location, bool inPrechart) = 0;
    virtual void procLscUpdate() = 0;
    virtual void hasPrechart(bool flag) = 0;

    // Statements. The statement-block forms of procBegin and procEnd take the
    // statementBlock tag, which tells them apart from the template forms.
    virtual void procBegin(statement_block_t) = 0;
    virtual void procEnd(statement_block_t) = 0;
    virtual void emptyStatement() = 0;
    virtual void forBegin() = 0;
    virtual void forEnd() = 0;
    virtual void iterationBegin(const char* name) = 0;
    virtual void iterationEnd(const char* name) = 0;
    virtual void whileBegin() = 0;
    virtual void whileEnd() = 0;
    virtual void doWhileBegin() = 0;
    virtual void doWhileEnd() = 0;
    virtual void ifBegin() = 0;
    virtual void ifElse() = 0;
    virtual void ifEnd(bool hasElse) = 0;
    virtual void breakStatement() = 0;
    virtual void continueStatement() = 0;
    virtual void switchStatement() = 0;
    virtual void switchEnd() = 0;
    virtual void caseBegin() = 0;
    virtual void caseEnd() = 0;
    virtual void defaultBegin() = 0;
    virtual void defaultEnd() = 0;
    virtual void exprStatement() = 0;
    virtual void returnStatement(bool hasValue) = 0;
    virtual void assertStatement() = 0;

    // Expressions
    virtual void exprFalse() = 0;
    virtual void exprTrue() = 0;
    virtual void exprDouble(double value) = 0;
    virtual void exprId(const char* name) = 0;
    virtual void exprNar(int32_t value) = 0;
    virtual void exprCallBegin() = 0;
    virtual void exprCallEnd(uint32_t argumentCount) = 0;
    virtual void exprArray() = 0;
    virtual void exprPostIncrement() = 0;
    virtual void exprPreIncrement() = 0;
    virtual void exprPostDecrement() = 0;
    virtual void exprPreDecrement() = 0;
    virtual void exprAssignment(int kind) = 0;
    virtual void exprUnary(int kind) = 0;
    virtual void exprBinary(int kind) = 0;
    virtual void exprNary(int kind, uint32_t count) = 0;
    virtual void exprScenario(const char* name) = 0;
    virtual void exprTernary(int kind, bool firstIsTrue) = 0;
    virtual void exprInlineIf() = 0;
    virtual void exprComma() = 0;
    virtual void exprDot(const char* name) = 0;
    virtual void exprDeadlock() = 0;
    virtual void exprForAllBegin(const char* name) = 0;
    virtual void exprForAllEnd(const char* name) = 0;
    virtual void exprExistsBegin(const char* name) = 0;
    virtual void exprExistsEnd(const char* name) = 0;
    virtual void exprSumBegin(const char* name) = 0;
    virtual void exprSumEnd(const char* name) = 0;

    // Synchronisation and IO declarations
    virtual void exprSync(int kind) = 0;
    virtual void declIO(const char* name, uint32_t parameterCount, uint32_t syncCount) = 0;

    // Statistical queries and built-in functions
    virtual void exprSMCControl(int boundKind) = 0;
    virtual void exprProbaQualitative(int boundKind, int pathKind, int comparison, double probability) = 0;
    virtual void exprProbaEstimate(int boundKind, int pathKind, bool isUntil) = 0;
    virtual void exprProbaCompare(int boundKind, int pathKind, int secondBoundKind, int secondPathKind) = 0;
    virtual void exprProbaExpected(int boundKind, const char* aggregate) = 0;
    virtual void exprBuiltinFunction1(int kind) = 0;
    virtual void exprBuiltinFunction2(int kind) = 0;

    // MITL formulas
    virtual void exprMitlUntil() = 0;
    virtual void exprMitlUntil(int32_t low, int32_t high) = 0;
    virtual void exprMitlRelease(int32_t low, int32_t high) = 0;
    virtual void exprMitlDisj() = 0;
    virtual void exprMitlConj() = 0;
    virtual void exprMitlNext() = 0;
    virtual void exprMitlAtom() = 0;
    virtual void exprMitlEventually(int32_t low, int32_t high) = 0;
    virtual void exprMitlAlways(int32_t low, int32_t high) = 0;
    virtual void exprSimulation(int32_t runs, int boundKind, uint32_t count, bool hasPredicate,
                                int32_t predicateCount) = 0;

    // System line and queries
    virtual void instantiationBegin(const char* name, uint32_t parameterCount, const char* templateName) = 0;
    virtual void instantiationEnd(const char* name, uint32_t parameterCount, const char* templateName,
                                  uint32_t argumentCount) = 0;
    virtual void process(const char* name) = 0;
    virtual void done() = 0;
    virtual void property() = 0;
    virtual void scenario(const char* name) = 0;
    virtual int parse(const char* text) = 0;

    // Updates and priorities
    virtual void beforeUpdate() = 0;
    virtual void afterUpdate() = 0;
    virtual void beginChanPriority() = 0;
    virtual void addChanPriority(char separator) = 0;
    virtual void defaultChanPriority() = 0;
    virtual void incProcPriority() = 0;
    virtual void procPriority(const char* name) = 0;

    // Dynamic templates
    virtual void declDynamicTemplate(const char* name) = 0;
    virtual void exprSpawn(uint32_t argumentCount) = 0;
    virtual void exprExit() = 0;
    virtual void exprNumOf() = 0;
    virtual void exprForAllDynamicBegin(const char* name, const char* templateName) = 0;
    virtual void exprForAllDynamicEnd(const char* name) = 0;
    virtual void exprExistsAllDynamicBegin(const char* name, const char* templateName) = 0;
    virtual void exprExistsAllDynamicEnd(const char* name) = 0;
    virtual void exprSumDynamicBegin(const char* name, const char* templateName) = 0;
    virtual void exprSumDynamicEnd(const char* name) = 0;
    virtual void exprForeachDynamicBegin(const char* name, const char* templateName) = 0;
    virtual void exprForeachDynamicEnd(const char* name) = 0;
    virtual void exprMITLDynamicForAllBegin() = 0;
    virtual void exprMITLDynamicForAllEnd() = 0;
    virtual void exprMITLDynamicExistsBegin() = 0;
    virtual void exprMITLDynamicExistsEnd() = 0;
    virtual void exprDynamicProcessExpr() = 0;
};

// Base of every concrete builder: holds the current source span and gives every
// operation a default. Most defaults throw NotSupportedException naming the
// operation; the operations that every concrete builder must provide stay pure.
class AbstractBuilder : public ParserBuilder
{
public:
    AbstractBuilder() = default;

    // Sets the span that the objects and diagnostics created next will carry.
    void setPosition(int32_t start, int32_t end) override;
    // Without scopes no name denotes a type.
    bool isTypeName(const char* name) override;
    // Nothing to finish by default.
    void done() override;

    void typeDuplicate() override;
    void typePop() override;
    void typeBool(int prefix) override;
    void typeInt(int prefix) override;
    void typeDouble(int prefix) override;
    void typeBoundedInt(int prefix) override;
    void typeChannel(int prefix) override;
    void typeClock(int prefix) override;
    void typeVoid() override;
    void typeArrayOfSize(uint32_t count) override;
    void typeArrayOfType(uint32_t count) override;
    void typeScalar(int prefix) override;
    void typeName(int prefix, const char* name) override;
    void typeStruct(int prefix, uint32_t count) override;
    void structField(const char* name) override;
    void declTypeDef(const char* name) override;
    void declVar(const char* name, bool hasInitialiser) override;
    void declInitialieserList(uint32_t count) override;
    void declFieldInit(const char* name) override;
    void declProgress(bool hasGuard) override;
    void ganttDeclStart(const char* name) override;
    void ganttDeclSelect(const char* name) override;
    void ganttDeclEnd() override;
    void ganttStart() override;
    void ganttEntrySelect(const char* name) override;
    void ganttEntryEnd() override;
    void declParameter(const char* name, bool isReference) override;
    void declFuncBegin(const char* name) override;
    void declFuncEnd() override;
    void procBegin(const char* name, bool isTimedAutomaton, const std::string& type, const std::string& mode) override;
    void procEnd() override;
    void procState(const char* name, bool hasInvariant, bool hasExponentialRate) override;
    void procStateCommit(const char* name) override;
    void procStateUrgent(const char* name) override;
    void procStateInit(const char* name) override;
    void procEdgeBegin(const char* source, const char* target, bool controllable, const char* action) override;
    void procEdgeEnd(const char* source, const char* target) override;
    void procSelect(const char* name) override;
    void procGuard() override;
    void procSync(int kind) override;
    void procUpdate() override;
    void procProb() override;
    void procBranchpoint(const char* name) override;
    void procInstanceLine() override;
    void instanceName(const char* name, bool hasArguments) override;
    void instanceNameBegin(const char* name) override;
    void instancNameEnd(const char* name, uint32_t argumentCount) override;
    void procMessage(const char* source, const char* target, int location, bool inPrechart) override;
    void procMessage(int kind) override;
    void procCondition(const std::vector<std::string>& anchors, int location, bool inPrechart, bool isHot) override;
    void procCondition() override;
    void procLscUpdate(const char* anchor, int location, bool inPrechart) override;
    void procLscUpdate() override;
    void hasPrechart(bool flag) override;
    void procBegin(statement_block_t) override;
    void procEnd(statement_block_t) override;
    void emptyStatement() override;
    void forBegin() override;
    void forEnd() override;
    void iterationBegin(const char* name) override;
    void iterationEnd(const char* name) override;
    void whileBegin() override;
    void whileEnd() override;
    void doWhileBegin() override;
    void doWhileEnd() override;
    void ifBegin() override;
    void ifElse() override;
    void ifEnd(bool hasElse) override;
    void breakStatement() override;
    void continueStatement() override;
    void switchStatement() override;
    void switchEnd() override;
    void caseBegin() override;
    void caseEnd() override;
    void defaultBegin() override;
    void defaultEnd() override;
    void exprStatement() override;
    void returnStatement(bool hasValue) override;
    void assertStatement() override;
    void exprFalse() override;
    void exprTrue() override;
    void exprDouble(double value) override;
    void exprId(const char* name) override;
    void exprNar(int32_t value) override;
    void exprCallBegin() override;
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
    void exprForAllBegin(const char* name) override;
    void exprForAllEnd(const char* name) override;
    void exprExistsBegin(const char* name) override;
    void exprExistsEnd(const char* name) override;
    void exprSumBegin(const char* name) override;
    void exprSumEnd(const char* name) override;
    void exprSync(int kind) override;
    void declIO(const char* name, uint32_t parameterCount, uint32_t syncCount) override;
    void exprSMCControl(int boundKind) override;
    void exprProbaQualitative(int boundKind, int pathKind, int comparison, double probability) override;
    void exprProbaCompare(int boundKind, int pathKind, int secondBoundKind, int secondPathKind) override;
    void exprProbaExpected(int boundKind, const char* aggregate) override;
    void exprBuiltinFunction1(int kind) override;
    void exprBuiltinFunction2(int kind) override;
    void exprMitlUntil() override;
    void exprMitlUntil(int32_t low, int32_t high) override;
    void exprMitlRelease(int32_t low, int32_t high) override;
    void exprMitlDisj() override;
    void exprMitlConj() override;
    void exprMitlNext() override;
    void exprMitlAtom() override;
    void instantiationBegin(const char* name, uint32_t parameterCount, const char* templateName) override;
    void instantiationEnd(const char* name, uint32_t parameterCount, const char* templateName, uint32_t argumentCount) override;
    void process(const char* name) override;
    void property() override;
    void scenario(const char* name) override;
    int parse(const char* text) override;
    void beforeUpdate() override;
    void afterUpdate() override;
    void beginChanPriority() override;
    void addChanPriority(char separator) override;
    void defaultChanPriority() override;
    void incProcPriority() override;
    void procPriority(const char* name) override;
    void declDynamicTemplate(const char* name) override;
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
    void exprMITLDynamicForAllBegin() override;
    void exprMITLDynamicForAllEnd() override;
    void exprMITLDynamicExistsBegin() override;
    void exprMITLDynamicExistsEnd() override;
    void exprDynamicProcessExpr() override;

    // Operations no producer calls; kept so that every builder answers them.
    virtual void exprProbaQuantitative();
    virtual void exprSimulate();

    // Formats printf-style into a 256-byte buffer (longer output is cut after
    // 255 characters) and reports the text with handleError or handleWarning.
    void errorf(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void warnf(const char* format, ...) __attribute__((format(printf, 2, 3)));

    // Names of the scenario charts of an XML model, collected by the XML reader
    // before each chart is opened; a template whose name is listed is a chart.
    std::vector<std::string> chartNames;
    // The current source span; absent until a producer sets it.
    span_t position;
};

} // namespace ZOLT
