#pragma once

// A test double for the parser: logs every builder call with its arguments in
// the order the parser makes them, so that tests can compare exact call
// sequences. It answers isTypeName for the names declared with declTypeDef (or
// listed in typeNames) and can be told to throw a TypeException for a call.

#include <map>
#include <set>
#include <string>
#include <vector>

#include "frontend/builder.h"
#include "frontend/type_exception.h"
#include "language/node_kind.h"

namespace mirvek_test {

using ZOLT::statement_block_t;

class RecordingBuilder : public ZOLT::AbstractBuilder
{
public:
    struct Position
    {
        uint32_t position;
        int32_t offset;
        int32_t line;
        std::string path;
    };

    // Every call as "name(arg, arg)", errors as "error(message)".
    std::vector<std::string> calls;
    // The builder's position when each entry of calls was made.
    std::vector<ZOLT::span_t> spans;
    // The addPosition calls.
    std::vector<Position> positions;
    // Messages of handleError and handleWarning.
    std::vector<std::string> errors;
    std::vector<std::string> warnings;
    // Names that isTypeName answers true for.
    std::set<std::string> typeNames;
    // Calls (as logged) that throw a TypeException with the mapped message.
    std::map<std::string, std::string> throwOn;

    void addPosition(uint32_t position, int32_t offset, int32_t line, const std::string& path) override
    {
        positions.push_back({position, offset, line, path});
    }
    void handleError(const std::string& message) override
    {
        errors.push_back(message);
        log("error(" + message + ")");
    }
    void handleWarning(const std::string& message) override
    {
        warnings.push_back(message);
        log("warning(" + message + ")");
    }
    bool isTypeName(const char* name) override { return typeNames.count(name) != 0; }
    int parse(const char* text) override
    {
        record("parse", {text});
        return 0;
    }
    void declTypeDef(const char* name) override
    {
        record("declTypeDef", {name});
        typeNames.insert(name);
    }

    void typeDuplicate() override { record("typeDuplicate", {}); }
    void typePop() override { record("typePop", {}); }
    void typeBool(int prefix) override { record("typeBool", {show(prefix)}); }
    void typeInt(int prefix) override { record("typeInt", {show(prefix)}); }
    void typeDouble(int prefix) override { record("typeDouble", {show(prefix)}); }
    void typeBoundedInt(int prefix) override { record("typeBoundedInt", {show(prefix)}); }
    void typeChannel(int prefix) override { record("typeChannel", {show(prefix)}); }
    void typeClock(int prefix) override { record("typeClock", {show(prefix)}); }
    void typeVoid() override { record("typeVoid", {}); }
    void typeArrayOfSize(uint32_t count) override { record("typeArrayOfSize", {show(count)}); }
    void typeArrayOfType(uint32_t count) override { record("typeArrayOfType", {show(count)}); }
    void typeScalar(int prefix) override { record("typeScalar", {show(prefix)}); }
    void typeName(int prefix, const char* name) override { record("typeName", {show(prefix), show(name)}); }
    void typeStruct(int prefix, uint32_t count) override { record("typeStruct", {show(prefix), show(count)}); }
    void structField(const char* name) override { record("structField", {show(name)}); }
    void declVar(const char* name, bool hasInitialiser) override { record("declVar", {show(name), show(hasInitialiser)}); }
    void declInitialieserList(uint32_t count) override { record("declInitialieserList", {show(count)}); }
    void declFieldInit(const char* name) override { record("declFieldInit", {show(name)}); }
    void declProgress(bool hasGuard) override { record("declProgress", {show(hasGuard)}); }
    void ganttDeclStart(const char* name) override { record("ganttDeclStart", {show(name)}); }
    void ganttDeclSelect(const char* name) override { record("ganttDeclSelect", {show(name)}); }
    void ganttDeclEnd() override { record("ganttDeclEnd", {}); }
    void ganttStart() override { record("ganttStart", {}); }
    void ganttEntrySelect(const char* name) override { record("ganttEntrySelect", {show(name)}); }
    void ganttEntryEnd() override { record("ganttEntryEnd", {}); }
    void declParameter(const char* name, bool isReference) override { record("declParameter", {show(name), show(isReference)}); }
    void declFuncBegin(const char* name) override { record("declFuncBegin", {show(name)}); }
    void declFuncEnd() override { record("declFuncEnd", {}); }
    void procBegin(const char* name, bool isTimedAutomaton, const std::string& type, const std::string& mode) override { record("procBegin", {show(name), show(isTimedAutomaton), show(type), show(mode)}); }
    void procEnd() override { record("procEnd", {}); }
    void procState(const char* name, bool hasInvariant, bool hasExponentialRate) override { record("procState", {show(name), show(hasInvariant), show(hasExponentialRate)}); }
    void procStateCommit(const char* name) override { record("procStateCommit", {show(name)}); }
    void procStateUrgent(const char* name) override { record("procStateUrgent", {show(name)}); }
    void procStateInit(const char* name) override { record("procStateInit", {show(name)}); }
    void procEdgeBegin(const char* source, const char* target, bool controllable, const char* action) override { record("procEdgeBegin", {show(source), show(target), show(controllable), show(action)}); }
    void procEdgeEnd(const char* source, const char* target) override { record("procEdgeEnd", {show(source), show(target)}); }
    void procSelect(const char* name) override { record("procSelect", {show(name)}); }
    void procGuard() override { record("procGuard", {}); }
    void procSync(int kind) override { record("procSync", {showKind(kind)}); }
    void procUpdate() override { record("procUpdate", {}); }
    void procProb() override { record("procProb", {}); }
    void procBranchpoint(const char* name) override { record("procBranchpoint", {show(name)}); }
    void procInstanceLine() override { record("procInstanceLine", {}); }
    void instanceName(const char* name, bool hasArguments) override { record("instanceName", {show(name), show(hasArguments)}); }
    void instanceNameBegin(const char* name) override { record("instanceNameBegin", {show(name)}); }
    void instancNameEnd(const char* name, uint32_t argumentCount) override { record("instancNameEnd", {show(name), show(argumentCount)}); }
    void procMessage(const char* source, const char* target, int location, bool inPrechart) override { record("procMessage", {show(source), show(target), show(location), show(inPrechart)}); }
    void procMessage(int kind) override { record("procMessage", {showKind(kind)}); }
    void procCondition(const std::vector<std::string>& anchors, int location, bool inPrechart, bool isHot) override { record("procCondition", {show(anchors), show(location), show(inPrechart), show(isHot)}); }
    void procCondition() override { record("procCondition", {}); }
    void procLscUpdate(const char* anchor, int location, bool inPrechart) override { record("procLscUpdate", {show(anchor), show(location), show(inPrechart)}); }
    void procLscUpdate() override { record("procLscUpdate", {}); }
    void hasPrechart(bool flag) override { record("hasPrechart", {show(flag)}); }
    void procBegin(statement_block_t) override { record("procBegin", {}); }
    void procEnd(statement_block_t) override { record("procEnd", {}); }
    void emptyStatement() override { record("emptyStatement", {}); }
    void forBegin() override { record("forBegin", {}); }
    void forEnd() override { record("forEnd", {}); }
    void iterationBegin(const char* name) override { record("iterationBegin", {show(name)}); }
    void iterationEnd(const char* name) override { record("iterationEnd", {show(name)}); }
    void whileBegin() override { record("whileBegin", {}); }
    void whileEnd() override { record("whileEnd", {}); }
    void doWhileBegin() override { record("doWhileBegin", {}); }
    void doWhileEnd() override { record("doWhileEnd", {}); }
    void ifBegin() override { record("ifBegin", {}); }
    void ifElse() override { record("ifElse", {}); }
    void ifEnd(bool hasElse) override { record("ifEnd", {show(hasElse)}); }
    void breakStatement() override { record("breakStatement", {}); }
    void continueStatement() override { record("continueStatement", {}); }
    void switchStatement() override { record("switchStatement", {}); }
    void switchEnd() override { record("switchEnd", {}); }
    void caseBegin() override { record("caseBegin", {}); }
    void caseEnd() override { record("caseEnd", {}); }
    void defaultBegin() override { record("defaultBegin", {}); }
    void defaultEnd() override { record("defaultEnd", {}); }
    void exprStatement() override { record("exprStatement", {}); }
    void returnStatement(bool hasValue) override { record("returnStatement", {show(hasValue)}); }
    void assertStatement() override { record("assertStatement", {}); }
    void exprFalse() override { record("exprFalse", {}); }
    void exprTrue() override { record("exprTrue", {}); }
    void exprDouble(double value) override { record("exprDouble", {show(value)}); }
    void exprId(const char* name) override { record("exprId", {show(name)}); }
    void exprNar(int32_t value) override { record("exprNar", {show(value)}); }
    void exprCallBegin() override { record("exprCallBegin", {}); }
    void exprCallEnd(uint32_t argumentCount) override { record("exprCallEnd", {show(argumentCount)}); }
    void exprArray() override { record("exprArray", {}); }
    void exprPostIncrement() override { record("exprPostIncrement", {}); }
    void exprPreIncrement() override { record("exprPreIncrement", {}); }
    void exprPostDecrement() override { record("exprPostDecrement", {}); }
    void exprPreDecrement() override { record("exprPreDecrement", {}); }
    void exprAssignment(int kind) override { record("exprAssignment", {showKind(kind)}); }
    void exprUnary(int kind) override { record("exprUnary", {showKind(kind)}); }
    void exprBinary(int kind) override { record("exprBinary", {showKind(kind)}); }
    void exprNary(int kind, uint32_t count) override { record("exprNary", {showKind(kind), show(count)}); }
    void exprScenario(const char* name) override { record("exprScenario", {show(name)}); }
    void exprTernary(int kind, bool firstIsTrue) override { record("exprTernary", {showKind(kind), show(firstIsTrue)}); }
    void exprInlineIf() override { record("exprInlineIf", {}); }
    void exprComma() override { record("exprComma", {}); }
    void exprDot(const char* name) override { record("exprDot", {show(name)}); }
    void exprDeadlock() override { record("exprDeadlock", {}); }
    void exprForAllBegin(const char* name) override { record("exprForAllBegin", {show(name)}); }
    void exprForAllEnd(const char* name) override { record("exprForAllEnd", {show(name)}); }
    void exprExistsBegin(const char* name) override { record("exprExistsBegin", {show(name)}); }
    void exprExistsEnd(const char* name) override { record("exprExistsEnd", {show(name)}); }
    void exprSumBegin(const char* name) override { record("exprSumBegin", {show(name)}); }
    void exprSumEnd(const char* name) override { record("exprSumEnd", {show(name)}); }
    void exprSync(int kind) override { record("exprSync", {showKind(kind)}); }
    void declIO(const char* name, uint32_t parameterCount, uint32_t syncCount) override { record("declIO", {show(name), show(parameterCount), show(syncCount)}); }
    void exprSMCControl(int boundKind) override { record("exprSMCControl", {show(boundKind)}); }
    void exprProbaQualitative(int boundKind, int pathKind, int comparison, double probability) override { record("exprProbaQualitative", {show(boundKind), showKind(pathKind), showKind(comparison), show(probability)}); }
    void exprProbaEstimate(int boundKind, int pathKind, bool isUntil) override { record("exprProbaEstimate", {show(boundKind), showKind(pathKind), show(isUntil)}); }
    void exprProbaCompare(int boundKind, int pathKind, int secondBoundKind, int secondPathKind) override { record("exprProbaCompare", {show(boundKind), showKind(pathKind), show(secondBoundKind), showKind(secondPathKind)}); }
    void exprProbaExpected(int boundKind, const char* aggregate) override { record("exprProbaExpected", {show(boundKind), show(aggregate)}); }
    void exprBuiltinFunction1(int kind) override { record("exprBuiltinFunction1", {showKind(kind)}); }
    void exprBuiltinFunction2(int kind) override { record("exprBuiltinFunction2", {showKind(kind)}); }
    void exprMitlUntil() override { record("exprMitlUntil", {}); }
    void exprMitlUntil(int32_t low, int32_t high) override { record("exprMitlUntil", {show(low), show(high)}); }
    void exprMitlRelease(int32_t low, int32_t high) override { record("exprMitlRelease", {show(low), show(high)}); }
    void exprMitlDisj() override { record("exprMitlDisj", {}); }
    void exprMitlConj() override { record("exprMitlConj", {}); }
    void exprMitlNext() override { record("exprMitlNext", {}); }
    void exprMitlAtom() override { record("exprMitlAtom", {}); }
    void exprMitlEventually(int32_t low, int32_t high) override { record("exprMitlEventually", {show(low), show(high)}); }
    void exprMitlAlways(int32_t low, int32_t high) override { record("exprMitlAlways", {show(low), show(high)}); }
    void exprSimulation(int32_t runs, int boundKind, uint32_t count, bool hasPredicate, int32_t predicateCount) override { record("exprSimulation", {show(runs), show(boundKind), show(count), show(hasPredicate), show(predicateCount)}); }
    void instantiationBegin(const char* name, uint32_t parameterCount, const char* templateName) override { record("instantiationBegin", {show(name), show(parameterCount), show(templateName)}); }
    void instantiationEnd(const char* name, uint32_t parameterCount, const char* templateName, uint32_t argumentCount) override { record("instantiationEnd", {show(name), show(parameterCount), show(templateName), show(argumentCount)}); }
    void process(const char* name) override { record("process", {show(name)}); }
    void done() override { record("done", {}); }
    void property() override { record("property", {}); }
    void scenario(const char* name) override { record("scenario", {show(name)}); }
    void beforeUpdate() override { record("beforeUpdate", {}); }
    void afterUpdate() override { record("afterUpdate", {}); }
    void beginChanPriority() override { record("beginChanPriority", {}); }
    void addChanPriority(char separator) override { record("addChanPriority", {show(separator)}); }
    void defaultChanPriority() override { record("defaultChanPriority", {}); }
    void incProcPriority() override { record("incProcPriority", {}); }
    void procPriority(const char* name) override { record("procPriority", {show(name)}); }
    void declDynamicTemplate(const char* name) override { record("declDynamicTemplate", {show(name)}); }
    void exprSpawn(uint32_t argumentCount) override { record("exprSpawn", {show(argumentCount)}); }
    void exprExit() override { record("exprExit", {}); }
    void exprNumOf() override { record("exprNumOf", {}); }
    void exprForAllDynamicBegin(const char* name, const char* templateName) override { record("exprForAllDynamicBegin", {show(name), show(templateName)}); }
    void exprForAllDynamicEnd(const char* name) override { record("exprForAllDynamicEnd", {show(name)}); }
    void exprExistsAllDynamicBegin(const char* name, const char* templateName) override { record("exprExistsAllDynamicBegin", {show(name), show(templateName)}); }
    void exprExistsAllDynamicEnd(const char* name) override { record("exprExistsAllDynamicEnd", {show(name)}); }
    void exprSumDynamicBegin(const char* name, const char* templateName) override { record("exprSumDynamicBegin", {show(name), show(templateName)}); }
    void exprSumDynamicEnd(const char* name) override { record("exprSumDynamicEnd", {show(name)}); }
    void exprForeachDynamicBegin(const char* name, const char* templateName) override { record("exprForeachDynamicBegin", {show(name), show(templateName)}); }
    void exprForeachDynamicEnd(const char* name) override { record("exprForeachDynamicEnd", {show(name)}); }
    void exprMITLDynamicForAllBegin() override { record("exprMITLDynamicForAllBegin", {}); }
    void exprMITLDynamicForAllEnd() override { record("exprMITLDynamicForAllEnd", {}); }
    void exprMITLDynamicExistsBegin() override { record("exprMITLDynamicExistsBegin", {}); }
    void exprMITLDynamicExistsEnd() override { record("exprMITLDynamicExistsEnd", {}); }
    void exprDynamicProcessExpr() override { record("exprDynamicProcessExpr", {}); }

private:
    void log(const std::string& entry)
    {
        calls.push_back(entry);
        spans.push_back(position);
    }

    void record(const char* name, const std::vector<std::string>& arguments)
    {
        std::string entry = name;
        entry += '(';
        for (size_t i = 0; i < arguments.size(); ++i) {
            if (i > 0)
                entry += ", ";
            entry += arguments[i];
        }
        entry += ')';
        log(entry);
        if (auto it = throwOn.find(entry); it != throwOn.end())
            throw ZOLT::TypeException(it->second);
    }

    static std::string show(const char* text) { return text; }
    static std::string show(const std::string& text) { return text; }
    static std::string show(bool flag) { return flag ? "true" : "false"; }
    static std::string show(char c) { return std::string(1, c); }
    static std::string show(int32_t value) { return std::to_string(value); }
    static std::string show(uint32_t value) { return std::to_string(value); }
    static std::string show(double value)
    {
        char text[32];
        std::snprintf(text, sizeof text, "%g", value);
        return text;
    }
    static std::string show(const std::vector<std::string>& names)
    {
        std::string text;
        for (const auto& n : names)
            text += (text.empty() ? "" : ",") + n;
        return text;
    }
    static std::string showKind(int kind);
};

} // namespace mirvek_test
