// User functions: their static frames and the byte code of their statements.

#include <limits>

#include "compiler/compiler.h"
#include "runtime/exceptions.h"
#include "runtime/system.h"
#include "support/arith.h"

using namespace ZOLT;
namespace op = bytecode;

namespace {

const span_t noPosition;

bool isDoubleValued(const expression_t& e)
{
    const type_t type = e.getType();
    if (type.isKind(DOUBLE) || type.isKind(DIFF)) {
        return true;
    }
    return type.isKind(CLOCK) && e.getSize() >= 2 && e.getKind() != ARRAY && e.getKind() != DOT;
}

} // namespace

void Compiler::compileFunction(Symbol* function, bool extra)
{
    const uint32_t start = program->mark();
    system->addConstant(static_cast<int32_t>(start), extra);
    function->returnSlot = static_cast<int32_t>(nextVariableIndex(extra));
    system->addSystemMetaVariable("return", std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max(),
                                  0, extra);
    Symbol* first = function->firstChild.get();
    for (Symbol* child = first != nullptr ? first->next.get() : nullptr; child != nullptr; child = child->next.get()) {
        if (child->data == nullptr) {
            child->isParameter = true;
        }
        layoutFunctionVariable(child->name, child, extra);
    }

    auto* record = static_cast<function_t*>(function->data);
    if (record == nullptr || record->body == nullptr) {
        throw Bug("Function without body");
    }
    Symbol* saved = currentSymbol;
    setCurrentSymbol(function);
    try {
        record->body->accept(this);
    } catch (...) {
        setCurrentSymbol(saved);
        throw;
    }
    setCurrentSymbol(saved);

    // The end of a body that can be reached returns to the caller; it never runs on into
    // whatever code follows the function.
    const bool isVoid = function->type.getChild(0).isKind(VOID_TYPE);
    if (isVoid || !record->body->alwaysReturns()) {
        emit(noPosition, op::RETURN);
    }
}

void Compiler::compileDoubleCells(const expression_t& initialiser)
{
    if (initialiser.getKind() == LIST) {
        for (size_t i = 0; i < initialiser.getSize(); ++i) {
            compileDoubleCells(initialiser[i]);
        }
    } else if (!initialiser.getType().isKind(ARRAY)) {
        compileDouble(initialiser, true);
    } else if (Symbol* layout = compileExpression(initialiser)) {
        // A whole array of doubles.
        emit(initialiser.getPosition(), op::DOUBLE_LOAD_N, static_cast<int32_t>(layout->size));
    }
}

void Compiler::initialiseLocal(Symbol* node, const expression_t& initialiser)
{
    const span_t position = initialiser.getPosition();
    emit(position, op::PUSH, static_cast<int32_t>(node->getOffset()));
    if (node->type.unwrapArrays().isKind(DOUBLE)) {
        // A double or an array of doubles: every cell's value goes to the double stack.
        compileDoubleCells(initialiser);
        emit(position, op::DOUBLE_STORE_N, static_cast<int32_t>(node->size));
    } else {
        compileValue(initialiser);
        if (node->type.isKind(BOOL) && !initialiser.getType().isKind(BOOL)) {
            emit(position, op::NOT);
            emit(position, op::NOT);
        }
        emit(position, op::STORE_N, static_cast<int32_t>(node->size));
    }
    emit(position, op::POP);
}

int32_t Compiler::visitEmptyStatement(EmptyStatement*)
{
    return 0;
}

int32_t Compiler::visitExprStatement(ExprStatement* stat)
{
    discardValue(stat->expr, compileExpression(stat->expr));
    return 0;
}

int32_t Compiler::visitAssertStatement(AssertStatement* stat)
{
    compileValue(stat->expr);
    emit(stat->expr.getPosition(), op::ASSERT);
    return 0;
}

int32_t Compiler::visitForStatement(ForStatement* stat)
{
    if (!stat->init.empty()) {
        discardValue(stat->init, compileExpression(stat->init));
    }
    const int32_t loop = static_cast<int32_t>(program->mark());
    uint32_t exit = 0;
    const bool tested = !stat->cond.empty();
    if (tested) {
        compileValue(stat->cond);
        exit = emitJump(stat->cond.getPosition(), op::JMPZ);
    }
    if (stat->body != nullptr) {
        stat->body->accept(this);
    }
    if (!stat->step.empty()) {
        discardValue(stat->step, compileExpression(stat->step));
    }
    emit(stat->step.empty() ? noPosition : stat->step.getPosition(), op::JMP, loop);
    if (tested) {
        patchJump(exit);
    }
    return 0;
}

int32_t Compiler::visitWhileStatement(WhileStatement* stat)
{
    const int32_t loop = static_cast<int32_t>(program->mark());
    compileValue(stat->cond);
    const uint32_t exit = emitJump(stat->cond.getPosition(), op::JMPZ);
    if (stat->body != nullptr) {
        stat->body->accept(this);
    }
    emit(stat->cond.getPosition(), op::JMP, loop);
    patchJump(exit);
    return 0;
}

int32_t Compiler::visitDoWhileStatement(DoWhileStatement* stat)
{
    const int32_t loop = static_cast<int32_t>(program->mark());
    if (stat->body != nullptr) {
        stat->body->accept(this);
    }
    compileValue(stat->cond);
    emit(stat->cond.getPosition(), op::NOT);
    emit(stat->cond.getPosition(), op::JMPZ, loop);
    return 0;
}

int32_t Compiler::visitBlockStatement(BlockStatement* stat)
{
    const scope_t& frame = stat->blockFrame;
    const size_t count = frame.empty() ? 0 : frame.getSize();
    for (size_t i = 0; i < count; ++i) {
        Symbol* node = currentSymbol->find(frame[i]);
        if (node == nullptr || !node->hasValue) {
            continue;
        }
        initialiseLocal(node, node->value.empty() ? defaultInitialiser(node) : node->value);
    }
    for (Statement* statement : stat->statements) {
        statement->accept(this);
    }
    return 0;
}

int32_t Compiler::visitIterationStatement(IterationStatement* stat)
{
    auto [lower, upper] = evaluateRange(stat->symbol.getType());
    if (upper < lower) {
        return 0;
    }
    Symbol* node = currentSymbol->find(stat->symbol);
    if (node == nullptr) {
        throw Bug("No layout for the loop variable " + stat->symbol.getName());
    }
    const int32_t x = static_cast<int32_t>(node->getOffset());
    emit(noPosition, op::PUSH, x);
    emit(noPosition, op::PUSH, lower);
    emit(noPosition, op::STORE);
    const int32_t loop = static_cast<int32_t>(program->mark());
    if (stat->body != nullptr) {
        stat->body->accept(this);
    }
    emit(noPosition, op::LOAD);
    emit(noPosition, op::PUSH, base::negWrap(upper));
    emit(noPosition, op::PLUS);
    const uint32_t exit = emitJump(noPosition, op::JMPZ);
    emit(noPosition, op::PUSH, x);
    emit(noPosition, op::PUSH, 1);
    emit(noPosition, op::INCREMENT);
    emit(noPosition, op::JMP, loop);
    patchJump(exit);
    return 0;
}

int32_t Compiler::visitIfStatement(IfStatement* stat)
{
    const span_t position = stat->cond.getPosition();
    compileValue(stat->cond);
    const uint32_t toElse = emitJump(position, op::JMPZ);
    if (stat->trueCase != nullptr) {
        stat->trueCase->accept(this);
    }
    if (stat->falseCase == nullptr) {
        patchJump(toElse);
        return 0;
    }
    const uint32_t toEnd = emitJump(position, op::JMP);
    patchJump(toElse);
    stat->falseCase->accept(this);
    patchJump(toEnd);
    return 0;
}

int32_t Compiler::visitReturnStatement(ReturnStatement* stat)
{
    if (stat->value.empty()) {
        emit(noPosition, op::RETURN);
        return 0;
    }
    const expression_t& value = stat->value;
    const span_t position = value.getPosition();
    emit(position, op::LID, currentSymbol->returnSlot);
    Symbol* layout = compileExpression(value);
    const bool isDouble = isDoubleValued(value);
    if (layout != nullptr) {
        emit(position, isDouble ? op::DOUBLE_ASSIGN_N : op::ASSIGN_N, static_cast<int32_t>(layout->size));
    } else {
        emit(position, isDouble ? op::DOUBLE_STORE : op::STORE);
    }
    emit(noPosition, op::RETURN);
    return 0;
}

int32_t Compiler::visitSwitchStatement(SwitchStatement*)
{
    throw Bug("Not implemented");
}

int32_t Compiler::visitCaseStatement(CaseStatement*)
{
    throw Bug("Not implemented");
}

int32_t Compiler::visitDefaultStatement(DefaultStatement*)
{
    throw Bug("Not implemented");
}

int32_t Compiler::visitBreakStatement(BreakStatement*)
{
    throw Bug("Not implemented");
}

int32_t Compiler::visitContinueStatement(ContinueStatement*)
{
    throw Bug("Not implemented");
}
