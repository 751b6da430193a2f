#include "frontend/builder.h"

#include <cstdarg>
#include <cstdio>

namespace ZOLT {

void AbstractBuilder::setPosition(int32_t start, int32_t end)
{
    position = span_t(start, end);
}

bool AbstractBuilder::isTypeName(const char*)
{
    return false;
}

void AbstractBuilder::done() {}

void AbstractBuilder::errorf(const char* format, ...)
{
    char buffer[256];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(buffer, sizeof buffer, format, arguments);
    va_end(arguments);
    handleError(buffer);
}

void AbstractBuilder::warnf(const char* format, ...)
{
    char buffer[256];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(buffer, sizeof buffer, format, arguments);
    va_end(arguments);
    handleWarning(buffer);
}

void AbstractBuilder::exprProbaQuantitative()
{
    throw NotSupportedException("exprProbaQuantitative is not supported");
}

void AbstractBuilder::exprSimulate()
{
    throw NotSupportedException("exprSimulate is not supported");
}

void AbstractBuilder::typeDuplicate()
{
    throw NotSupportedException("typeDuplicate is not supported");
}

void AbstractBuilder::typePop()
{
    throw NotSupportedException("typePop is not supported");
}

void AbstractBuilder::typeBool(int)
{
    throw NotSupportedException("typeBool is not supported");
}

void AbstractBuilder::typeInt(int)
{
    throw NotSupportedException("typeInt is not supported");
}

void AbstractBuilder::typeDouble(int)
{
    throw NotSupportedException("typeDouble is not supported");
}

void AbstractBuilder::typeBoundedInt(int)
{
    throw NotSupportedException("typeBoundedInt is not supported");
}

void AbstractBuilder::typeChannel(int)
{
    throw NotSupportedException("typeChannel is not supported");
}

void AbstractBuilder::typeClock(int)
{
    throw NotSupportedException("typeClock is not supported");
}

void AbstractBuilder::typeVoid()
{
    throw NotSupportedException("typeVoid is not supported");
}

void AbstractBuilder::typeArrayOfSize(uint32_t)
{
    throw NotSupportedException("typeArrayOfSize is not supported");
}

void AbstractBuilder::typeArrayOfType(uint32_t)
{
    throw NotSupportedException("typeArrayOfType is not supported");
}

void AbstractBuilder::typeScalar(int)
{
    throw NotSupportedException("typeScalar is not supported");
}

void AbstractBuilder::typeName(int, const char*)
{
    throw NotSupportedException("typeName is not supported");
}

void AbstractBuilder::typeStruct(int, uint32_t)
{
    throw NotSupportedException("typeStruct is not supported");
}

void AbstractBuilder::structField(const char*)
{
    throw NotSupportedException("structField is not supported");
}

void AbstractBuilder::declTypeDef(const char*)
{
    throw NotSupportedException("declTypeDef is not supported");
}

void AbstractBuilder::declVar(const char*, bool)
{
    throw NotSupportedException("declVar is not supported");
}

void AbstractBuilder::declInitialieserList(uint32_t)
{
    throw NotSupportedException("declInitialieserList is not supported");
}

void AbstractBuilder::declFieldInit(const char*)
{
    throw NotSupportedException("declFieldInit is not supported");
}

void AbstractBuilder::declProgress(bool)
{
    throw NotSupportedException("declProgress is not supported");
}

void AbstractBuilder::ganttDeclStart(const char*)
{
    throw NotSupportedException("ganttDeclStart is not supported");
}

void AbstractBuilder::ganttDeclSelect(const char*)
{
    throw NotSupportedException("ganttDeclSelect is not supported");
}

void AbstractBuilder::ganttDeclEnd()
{
    throw NotSupportedException("ganttDeclEnd is not supported");
}

void AbstractBuilder::ganttStart()
{
    throw NotSupportedException("ganttStart is not supported");
}

void AbstractBuilder::ganttEntrySelect(const char*)
{
    throw NotSupportedException("ganttEntrySelect is not supported");
}

void AbstractBuilder::ganttEntryEnd()
{
    throw NotSupportedException("ganttEntryEnd is not supported");
}

void AbstractBuilder::declParameter(const char*, bool)
{
    throw NotSupportedException("declParameter is not supported");
}

void AbstractBuilder::declFuncBegin(const char*)
{
    throw NotSupportedException("declFuncBegin is not supported");
}

void AbstractBuilder::declFuncEnd()
{
    throw NotSupportedException("declFuncEnd is not supported");
}

void AbstractBuilder::procBegin(const char*, bool, const std::string&, const std::string&)
{
    throw NotSupportedException("procBegin is not supported");
}

void AbstractBuilder::procEnd()
{
    throw NotSupportedException("procEnd is not supported");
}

void AbstractBuilder::procState(const char*, bool, bool)
{
    throw NotSupportedException("procState is not supported");
}

void AbstractBuilder::procStateCommit(const char*)
{
    throw NotSupportedException("procStateCommit is not supported");
}

void AbstractBuilder::procStateUrgent(const char*)
{
    throw NotSupportedException("procStateUrgent is not supported");
}

void AbstractBuilder::procStateInit(const char*)
{
    throw NotSupportedException("procStateInit is not supported");
}

void AbstractBuilder::procEdgeBegin(const char*, const char*, bool, const char*)
{
    throw NotSupportedException("procEdgeBegin is not supported");
}

void AbstractBuilder::procEdgeEnd(const char*, const char*)
{
    throw NotSupportedException("procEdgeEnd is not supported");
}

void AbstractBuilder::procSelect(const char*)
{
    throw NotSupportedException("procSelect is not supported");
}

void AbstractBuilder::procGuard()
{
    throw NotSupportedException("procGuard is not supported");
}

void AbstractBuilder::procSync(int)
{
    throw NotSupportedException("procSync is not supported");
}

void AbstractBuilder::procUpdate()
{
    throw NotSupportedException("procUpdate is not supported");
}

void AbstractBuilder::procProb()
{
    throw NotSupportedException("procProb is not supported");
}

void AbstractBuilder::procBranchpoint(const char*)
{
    throw NotSupportedException("procBranchpoint is not supported");
}

void AbstractBuilder::procInstanceLine()
{
    throw NotSupportedException("procInstanceLine is not supported");
}

void AbstractBuilder::instanceName(const char*, bool)
{
    throw NotSupportedException("instanceName is not supported");
}

void AbstractBuilder::instanceNameBegin(const char*)
{
    throw NotSupportedException("instanceNameBegin is not supported");
}

void AbstractBuilder::instancNameEnd(const char*, uint32_t)
{
    throw NotSupportedException("instancNameEnd is not supported");
}

void AbstractBuilder::procMessage(const char*, const char*, int, bool)
{
    throw NotSupportedException("procMessage is not supported");
}

void AbstractBuilder::procMessage(int)
{
    throw NotSupportedException("procMessage is not supported");
}

void AbstractBuilder::procCondition(const std::vector<std::string>&, int, bool, bool)
{
    throw NotSupportedException("procCondition is not supported");
}

void AbstractBuilder::procCondition()
{
    throw NotSupportedException("procCondition is not supported");
}

void AbstractBuilder::procLscUpdate(const char*, int, bool)
{
    throw NotSupportedException("procLscUpdate is not supported");
}

void AbstractBuilder::procLscUpdate()
{
    throw NotSupportedException("procLscUpdate is not supported");
}

void AbstractBuilder::hasPrechart(bool)
{
    throw NotSupportedException("hasPrechart is not supported");
}

void AbstractBuilder::procBegin(statement_block_t)
{
    throw NotSupportedException("procBegin is not supported");
}

void AbstractBuilder::procEnd(statement_block_t)
{
    throw NotSupportedException("procEnd is not supported");
}

void AbstractBuilder::emptyStatement()
{
    throw NotSupportedException("emptyStatement is not supported");
}

void AbstractBuilder::forBegin()
{
    throw NotSupportedException("forBegin is not supported");
}

void AbstractBuilder::forEnd()
{
    throw NotSupportedException("forEnd is not supported");
}

void AbstractBuilder::iterationBegin(const char*)
{
    throw NotSupportedException("iterationBegin is not supported");
}

void AbstractBuilder::iterationEnd(const char*)
{
    throw NotSupportedException("iterationEnd is not supported");
}

void AbstractBuilder::whileBegin()
{
    throw NotSupportedException("whileBegin is not supported");
}

void AbstractBuilder::whileEnd()
{
    throw NotSupportedException("whileEnd is not supported");
}

void AbstractBuilder::doWhileBegin()
{
    throw NotSupportedException("doWhileBegin is not supported");
}

void AbstractBuilder::doWhileEnd()
{
    throw NotSupportedException("doWhileEnd is not supported");
}

void AbstractBuilder::ifBegin()
{
    throw NotSupportedException("ifBegin is not supported");
}

void AbstractBuilder::ifElse()
{
    throw NotSupportedException("ifElse is not supported");
}

void AbstractBuilder::ifEnd(bool)
{
    throw NotSupportedException("ifEnd is not supported");
}

void AbstractBuilder::breakStatement()
{
    throw NotSupportedException("breakStatement is not supported");
}

void AbstractBuilder::continueStatement()
{
    throw NotSupportedException("continueStatement is not supported");
}

void AbstractBuilder::switchStatement()
{
    throw NotSupportedException("switchStatement is not supported");
}

void AbstractBuilder::switchEnd()
{
    throw NotSupportedException("switchEnd is not supported");
}

void AbstractBuilder::caseBegin()
{
    throw NotSupportedException("caseBegin is not supported");
}

void AbstractBuilder::caseEnd()
{
    throw NotSupportedException("caseEnd is not supported");
}

void AbstractBuilder::defaultBegin()
{
    throw NotSupportedException("defaultBegin is not supported");
}

void AbstractBuilder::defaultEnd()
{
    throw NotSupportedException("defaultEnd is not supported");
}

void AbstractBuilder::exprStatement()
{
    throw NotSupportedException("exprStatement is not supported");
}

void AbstractBuilder::returnStatement(bool)
{
    throw NotSupportedException("returnStatement is not supported");
}

void AbstractBuilder::assertStatement()
{
    throw NotSupportedException("assertStatement is not supported");
}

void AbstractBuilder::exprFalse()
{
    throw NotSupportedException("exprFalse is not supported");
}

void AbstractBuilder::exprTrue()
{
    throw NotSupportedException("exprTrue is not supported");
}

void AbstractBuilder::exprDouble(double)
{
    throw NotSupportedException("exprDouble is not supported");
}

void AbstractBuilder::exprId(const char*)
{
    throw NotSupportedException("exprId is not supported");
}

void AbstractBuilder::exprNar(int32_t)
{
    throw NotSupportedException("exprNar is not supported");
}

void AbstractBuilder::exprCallBegin()
{
    throw NotSupportedException("exprCallBegin is not supported");
}

void AbstractBuilder::exprCallEnd(uint32_t)
{
    throw NotSupportedException("exprCallEnd is not supported");
}

void AbstractBuilder::exprArray()
{
    throw NotSupportedException("exprArray is not supported");
}

void AbstractBuilder::exprPostIncrement()
{
    throw NotSupportedException("exprPostIncrement is not supported");
}

void AbstractBuilder::exprPreIncrement()
{
    throw NotSupportedException("exprPreIncrement is not supported");
}

void AbstractBuilder::exprPostDecrement()
{
    throw NotSupportedException("exprPostDecrement is not supported");
}

void AbstractBuilder::exprPreDecrement()
{
    throw NotSupportedException("exprPreDecrement is not supported");
}

void AbstractBuilder::exprAssignment(int)
{
    throw NotSupportedException("exprAssignment is not supported");
}

void AbstractBuilder::exprUnary(int)
{
    throw NotSupportedException("exprUnary is not supported");
}

void AbstractBuilder::exprBinary(int)
{
    throw NotSupportedException("exprBinary is not supported");
}

void AbstractBuilder::exprNary(int, uint32_t)
{
    throw NotSupportedException("exprNary is not supported");
}

void AbstractBuilder::exprScenario(const char*)
{
    throw NotSupportedException("exprScenario is not supported");
}

void AbstractBuilder::exprTernary(int, bool)
{
    throw NotSupportedException("exprTernary is not supported");
}

void AbstractBuilder::exprInlineIf()
{
    throw NotSupportedException("exprInlineIf is not supported");
}

void AbstractBuilder::exprComma()
{
    throw NotSupportedException("exprComma is not supported");
}

void AbstractBuilder::exprDot(const char*)
{
    throw NotSupportedException("exprDot is not supported");
}

void AbstractBuilder::exprDeadlock()
{
    throw NotSupportedException("exprDeadlock is not supported");
}

void AbstractBuilder::exprForAllBegin(const char*)
{
    throw NotSupportedException("exprForAllBegin is not supported");
}

void AbstractBuilder::exprForAllEnd(const char*)
{
    throw NotSupportedException("exprForAllEnd is not supported");
}

void AbstractBuilder::exprExistsBegin(const char*)
{
    throw NotSupportedException("exprExistsBegin is not supported");
}

void AbstractBuilder::exprExistsEnd(const char*)
{
    throw NotSupportedException("exprExistsEnd is not supported");
}

void AbstractBuilder::exprSumBegin(const char*)
{
    throw NotSupportedException("exprSumBegin is not supported");
}

void AbstractBuilder::exprSumEnd(const char*)
{
    throw NotSupportedException("exprSumEnd is not supported");
}

void AbstractBuilder::exprSync(int)
{
    throw NotSupportedException("exprSync");
}

void AbstractBuilder::declIO(const char*, uint32_t, uint32_t)
{
    throw NotSupportedException("declIO");
}

void AbstractBuilder::exprSMCControl(int)
{
    throw NotSupportedException("exprSMCControl is not supported");
}

void AbstractBuilder::exprProbaQualitative(int, int, int, double)
{
    throw NotSupportedException("exprProbaQualitative is not supported");
}

void AbstractBuilder::exprProbaCompare(int, int, int, int)
{
    throw NotSupportedException("exprProbaCompare is not supported");
}

void AbstractBuilder::exprProbaExpected(int, const char*)
{
    throw NotSupportedException("exprProbaExpected is not supported");
}

void AbstractBuilder::exprBuiltinFunction1(int)
{
    throw NotSupportedException("exprBuiltinFunction1 is not supported");
}

void AbstractBuilder::exprBuiltinFunction2(int)
{
    throw NotSupportedException("exprBuiltinFunction2 is not supported");
}

void AbstractBuilder::exprMitlUntil()
{
    throw NotSupportedException("exprMitlUntil is not supported");
}

void AbstractBuilder::exprMitlUntil(int32_t, int32_t)
{
    throw NotSupportedException("exprMitlUntil is not supported");
}

void AbstractBuilder::exprMitlRelease(int32_t, int32_t)
{
    throw NotSupportedException("exprMitlRelease is not supported");
}

void AbstractBuilder::exprMitlDisj()
{
    throw NotSupportedException("exprMitlDisj is not supported");
}

void AbstractBuilder::exprMitlConj()
{
    throw NotSupportedException("exprMitlConj is not supported");
}

void AbstractBuilder::exprMitlNext()
{
    throw NotSupportedException("exprMitlNext is not supported");
}

void AbstractBuilder::exprMitlAtom()
{
    throw NotSupportedException("exprMitlAtom is not supported");
}

void AbstractBuilder::instantiationBegin(const char*, uint32_t, const char*)
{
    throw NotSupportedException("instantiationBegin is not supported");
}

void AbstractBuilder::instantiationEnd(const char*, uint32_t, const char*, uint32_t)
{
    throw NotSupportedException("instantiationEnd is not supported");
}

void AbstractBuilder::process(const char*)
{
    throw NotSupportedException("process is not supported");
}

void AbstractBuilder::property()
{
    throw NotSupportedException("property");
}

void AbstractBuilder::scenario(const char*)
{
    throw NotSupportedException("scenario is not supported");
}

int AbstractBuilder::parse(const char*)
{
    throw NotSupportedException("parse is not supported");
}

void AbstractBuilder::beforeUpdate()
{
    throw NotSupportedException("beforeUpdate");
}

void AbstractBuilder::afterUpdate()
{
    throw NotSupportedException("afterUpdate");
}

void AbstractBuilder::beginChanPriority()
{
    throw NotSupportedException("beginChanPriority");
}

void AbstractBuilder::addChanPriority(char)
{
    throw NotSupportedException("addChanPriority");
}

void AbstractBuilder::defaultChanPriority()
{
    throw NotSupportedException("defaultChanPriority");
}

void AbstractBuilder::incProcPriority()
{
    throw NotSupportedException("incProcPriority");
}

void AbstractBuilder::procPriority(const char*)
{
    throw NotSupportedException("procPriority");
}

void AbstractBuilder::declDynamicTemplate(const char*)
{
    throw NotSupportedException("declDynamicTemplate");
}

void AbstractBuilder::exprSpawn(uint32_t)
{
    throw NotSupportedException("exprSpawn");
}

void AbstractBuilder::exprExit()
{
    throw NotSupportedException("exprExit");
}

void AbstractBuilder::exprNumOf()
{
    throw NotSupportedException("exprNumOf");
}

void AbstractBuilder::exprForAllDynamicBegin(const char*, const char*)
{
    throw NotSupportedException("exprForAllDynamicBegin");
}

void AbstractBuilder::exprForAllDynamicEnd(const char*)
{
    throw NotSupportedException("exprForAllDynamicEnd");
}

void AbstractBuilder::exprExistsAllDynamicBegin(const char*, const char*)
{
    throw NotSupportedException("exprExistsAllDynamicBegin");
}

void AbstractBuilder::exprExistsAllDynamicEnd(const char*)
{
    throw NotSupportedException("exprExistsAllDynamicEnd");
}

void AbstractBuilder::exprSumDynamicBegin(const char*, const char*)
{
    throw NotSupportedException("exprSumDynamicBegin");
}

void AbstractBuilder::exprSumDynamicEnd(const char*)
{
    throw NotSupportedException("exprSumDynamicEnd");
}

void AbstractBuilder::exprForeachDynamicBegin(const char*, const char*)
{
    throw NotSupportedException("exprForeachDynamicBegin");
}

void AbstractBuilder::exprForeachDynamicEnd(const char*)
{
    throw NotSupportedException("exprForeachDynamicEnd");
}

void AbstractBuilder::exprMITLDynamicForAllBegin()
{
    throw NotSupportedException("exprMITLDynamicForAllBegin");
}

void AbstractBuilder::exprMITLDynamicForAllEnd()
{
    throw NotSupportedException("exprMITLDynamicForAllEnd");
}

void AbstractBuilder::exprMITLDynamicExistsBegin()
{
    throw NotSupportedException("exprMITLDynamicExistsBegin");
}

void AbstractBuilder::exprMITLDynamicExistsEnd()
{
    throw NotSupportedException("exprMITLDynamicExistsEnd");
}

void AbstractBuilder::exprDynamicProcessExpr()
{
    throw NotSupportedException("exprDynamicProcessExpr");
}

} // namespace ZOLT
