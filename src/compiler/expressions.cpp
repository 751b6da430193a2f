// Expressions to byte code: values, references and doubles, and clock comparisons.

#include <bit>
#include <cstring>

#include <boost/format.hpp>

#include "compiler/compiler.h"
#include "compiler/depth_guard.h"
#include "compiler/rewriting.h"
#include "runtime/exceptions.h"
#include "runtime/system.h"
#include "support/arith.h"
#include "typecheck/relations.h"

using namespace ZOLT;
namespace op = bytecode;

namespace {

// How far beyond a non-strict clock limit a concrete clock value may lie and still meet it.
constexpr double nonStrictClockTolerance = 1e-14;

bool integral(const expression_t& e)
{
    return e.getType().isIntegral();
}

// A comparison that the zone decides: guard-compatible but not integral.
bool isClockConstraintType(const expression_t& e)
{
    const type_t type = e.getType();
    return type.isGuard() && !type.isIntegral();
}

// A clock of the zone, or the reference clock (empty): what a clock constraint relates.
bool isZoneClock(const expression_t& e)
{
    return e.empty() || designatesClock(e);
}

// A value computed by arithmetic on clock values.
bool isClockArithmetic(const expression_t& e)
{
    return e.getType().isKind(CLOCK) && e.getSize() >= 2 && !designatesClock(e);
}

// A value read from clocks: a clock, a clock difference or arithmetic on a clock.
bool isClockValued(const expression_t& e)
{
    const type_t type = e.getType();
    return type.isKind(CLOCK) || type.isKind(DIFF);
}

// Whether an equality or inequality compares numbers: an integer beside a floating-point
// value is converted to a double, whichever side it is on. A clock or clock difference that is
// no clock constraint (beside another difference, say) is compared by its value as well; only
// records, arrays and the like are compared cell by cell.
bool comparesNumbers(const expression_t& e)
{
    return e[0].getType().isKind(DOUBLE) || e[1].getType().isKind(DOUBLE) || isClockValued(e[0]) ||
           isClockValued(e[1]);
}

// Whether the value of an expression lies on the double stack when it is a value.
bool leavesDouble(const expression_t& e)
{
    const type_t type = e.getType();
    return type.isKind(DOUBLE) || type.isKind(DIFF) || isClockArithmetic(e);
}

// Whether a binary operation on numbers has a floating-point left operand and an integer
// right one. The left operand is then compiled after an integer 0 is converted: converting
// an integer puts the machine into double mode, which a run on a symbolic state starts
// without, so that the double operand is computed whichever side the integer is on.
bool convertsRightOperand(const expression_t& e)
{
    return !integral(e[0]) && integral(e[1]);
}

// The kinds translated before anything else, whatever their type.
bool isFirstStepKind(const expression_t& e)
{
    switch (e.getKind()) {
    case LOGICAL_AND:
    case LOGICAL_OR:
    case LOGICAL_XOR:
    case FOR_ALL:
    case EXISTS:
    case SUM:
    case SPAWN:
    case EXIT:
    case NUMOF:
    case FORALL_DYNAMIC:
    case EXISTS_DYNAMIC:
    case SUM_DYNAMIC:
    case DYNAMIC_MEMBER:
        return true;
    case IDENTIFIER:
        return e.getType().getKind() == PROCESS_VARIABLE;
    default:
        return false;
    }
}

// How a binary node compiles its left operand, when that is all it does before its own
// instructions: as an integer value, as a double, or otherwise (not part of a chain).
enum class ChainMode { None, Integer, Double };

ChainMode chainMode(const expression_t& e)
{
    if (e.empty() || e.getSize() < 2) {
        return ChainMode::None;
    }
    const node_kind_t kind = e.getKind();
    if (kind == LOGICAL_AND || kind == LOGICAL_OR) {
        return ChainMode::Integer;
    }
    if (isClockConstraintType(e)) {
        return ChainMode::None;
    }
    switch (kind) {
    case ADD:
    case SUBTRACT:
    case MULTIPLY:
    case DIVIDE:
    case MINIMUM:
    case MAXIMUM:
        if (integral(e[0]) && integral(e[1])) {
            return ChainMode::Integer;
        }
        return e.getType().isKind(DOUBLE) ? ChainMode::Double : ChainMode::None;
    case LESS:
    case LESS_EQUAL:
    case GREATER_EQUAL:
    case GREATER:
        return integral(e[0]) && integral(e[1]) ? ChainMode::Integer : ChainMode::None;
    case MODULO:
    case BITWISE_AND:
    case BITWISE_OR:
    case BITWISE_XOR:
    case SHIFT_LEFT:
    case SHIFT_RIGHT:
        return ChainMode::Integer;
    case EQUAL:
    case NOT_EQUAL:
        return !comparesNumbers(e) && (integral(e[0]) || e[0].getType().isKind(SCALAR)) ? ChainMode::Integer
                                                                                      : ChainMode::None;
    default:
        return ChainMode::None;
    }
}

// Whether compiling `child` as the left operand of `parent` is exactly compileExpression of
// the child, so that the chain can go on into it.
bool continuesChain(const expression_t& parent, const expression_t& child)
{
    const ChainMode parentMode = chainMode(parent);
    const ChainMode childMode = chainMode(child);
    if (parentMode == ChainMode::Integer) {
        return childMode == ChainMode::Integer;
    }
    if (parentMode == ChainMode::Double) {
        if (convertsRightOperand(parent)) {
            return false;
        }
        const type_t type = child.getType();
        return childMode == ChainMode::Double && type.isKind(DOUBLE) && child.getKind() != CONSTANT;
    }
    return false;
}

void splitDouble(double value, int32_t& low, int32_t& high)
{
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    low = static_cast<int32_t>(static_cast<uint32_t>(bits));
    high = static_cast<int32_t>(static_cast<uint32_t>(bits >> 32));
}

} // namespace

// ---------------------------------------------------------------- entry points

Symbol* Compiler::compileExpression(const expression_t& expression)
{
    if (expression.empty()) {
        throw Bug("$Cannot_build_expression");
    }
    if (chainMode(expression) != ChainMode::None) {
        return compileChain(expression);
    }
    if (continuesList(expression) && expression.getKind() == COMMA) {
        return compileCommaList(expression);
    }
    DepthGuard guard(depth, expression);
    return compileNode(expression);
}

// Operands joined by ',' are compiled one after the other along the list's spine, each
// value but the last dropped as the node that holds it drops it: the code the nested
// translation of each node (its left operand, dropped, then its right one) gives.
Symbol* Compiler::compileCommaList(const expression_t& expression)
{
    const std::vector<expression_t> spine = listSpine(expression);
    Symbol* layout;
    {
        DepthGuard guard(depth, spine.back());
        const expression_t& first = spine.back()[0];
        discardValue(first, compileExpression(first));
        layout = compileExpression(spine.back()[1]);
    }
    for (size_t k = spine.size() - 1; k-- > 0;) {
        DepthGuard guard(depth, spine[k]);
        discardValue(spine[k + 1], layout);
        layout = compileExpression(spine[k][1]);
    }
    return layout;
}

void Compiler::discardValue(const expression_t& expression, Symbol* layout)
{
    const span_t position = expression.getPosition();
    if (layout == nullptr && leavesDouble(expression)) {
        // A floating-point value is on the double stack, where no instruction drops one alone:
        // it is compared with 0.0 and the answer is dropped with the integer stack's top.
        emit(position, op::DOUBLE_PUSH, 0, 0);
        emit(position, op::DOUBLE_EQ);
    }
    emit(position, op::POP);
}

void Compiler::compileValue(const expression_t& expression)
{
    if (Symbol* layout = compileExpression(expression)) {
        emit(expression.getPosition(), op::LOAD_N, static_cast<int32_t>(layout->size));
    }
}

Symbol* Compiler::compileReference(const expression_t& expression)
{
    Symbol* layout = compileExpression(expression);
    if (layout == nullptr) {
        throw Bug("Expression does not evaluate to a reference");
    }
    return layout;
}

void Compiler::compileDouble(const expression_t& e, bool allowInteger)
{
    const span_t position = e.getPosition();
    const type_t type = e.getType();
    if (e.getKind() == CONSTANT) {
        const double value = type.isKind(DOUBLE) ? e.getDoubleValue() : static_cast<double>(e.getValue());
        int32_t low;
        int32_t high;
        splitDouble(value, low, high);
        emit(position, op::DOUBLE_PUSH, low, high);
    } else if (type.isKind(FRACTION)) {
        compileValue(e[0]);
        compileValue(e[1]);
        emit(position, op::RATIONAL2DOUBLE);
    } else if (type.isKind(DIFF) && e.getKind() == SUBTRACT) {
        compileDouble(e[0], true);
        compileDouble(e[1], true);
        emit(position, op::DOUBLE_MINUS);
    } else if (designatesClock(e)) {
        compileValue(e);
        emit(position, op::CLOCK_LOAD);
    } else if (type.isKind(DOUBLE) || type.isKind(DIFF) || isClockArithmetic(e)) {
        if (Symbol* layout = compileExpression(e)) {
            emit(position, op::DOUBLE_LOAD_N, static_cast<int32_t>(layout->size));
        }
    } else if (allowInteger && type.isIntegral()) {
        compileValue(e);
        // The conversion puts the machine into double mode; folded with a constant integer
        // into a floating-point constant it would not, and on a symbolic state the double
        // arithmetic after it would be skipped. It is kept out of the optimiser's window.
        program->mark();
        emit(position, op::INT2DOUBLE);
    } else {
        throw Bug("$Cannot_build_expression");
    }
}

void Compiler::compileLeftDouble(const expression_t& e)
{
    if (!convertsRightOperand(e)) {
        compileDouble(e[0], true);
        return;
    }
    // 0.0 + left: the same number (a zero's sign aside), computed in double mode. The
    // conversion must stay a conversion: it is not folded into a floating-point constant.
    const span_t position = e.getPosition();
    emit(position, op::PUSH, 0);
    program->mark();
    emit(position, op::INT2DOUBLE);
    compileDouble(e[0], true);
    emit(position, op::DOUBLE_PLUS);
}

void Compiler::compileBinaryOperator(const expression_t& e, int32_t integerInstruction, int32_t doubleInstruction,
                                     int32_t followInstruction)
{
    if (integral(e[0]) && integral(e[1])) {
        compileValue(e[0]);
        compileValue(e[1]);
        emit(e.getPosition(), integerInstruction);
    } else {
        compileLeftDouble(e);
        compileDouble(e[1], true);
        emit(e.getPosition(), doubleInstruction);
    }
    if (followInstruction != op::NOP) {
        emit(e.getPosition(), followInstruction);
    }
}

// ---------------------------------------------------------------- chains of binary operators

// A binary node compiles its left operand, then the rest: compileOperandHead and
// compileChainStep. A long left-leaning chain (a && b && c ..., 1 + 2 + 3 ...) is compiled by
// going down the chain without recursion, compiling the innermost left operand, and then the
// rest of every node from the inside out: the same code as the recursive translation.

Symbol* Compiler::compileChain(const expression_t& expression)
{
    std::vector<expression_t> chain{expression};
    while (continuesChain(chain.back(), chain.back()[0])) {
        chain.push_back(chain.back()[0]);
    }
    {
        DepthGuard guard(depth, chain.back());
        compileOperandHead(chain.back());
    }
    for (size_t i = chain.size(); i-- > 0;) {
        DepthGuard guard(depth, chain[i]);
        compileChainStep(chain[i], nullptr);
    }
    return nullptr;
}

Symbol* Compiler::compileOperandHead(const expression_t& e)
{
    switch (e.getKind()) {
    case ADD:
    case SUBTRACT:
    case MULTIPLY:
    case DIVIDE:
    case MINIMUM:
    case MAXIMUM:
    case LESS:
    case LESS_EQUAL:
    case GREATER_EQUAL:
    case GREATER:
        if (integral(e[0]) && integral(e[1])) {
            compileValue(e[0]);
        } else {
            compileLeftDouble(e);
        }
        return nullptr;
    case EQUAL:
    case NOT_EQUAL:
        if (comparesNumbers(e)) {
            compileLeftDouble(e);
            return nullptr;
        }
        if (integral(e[0]) || e[0].getType().isKind(SCALAR)) {
            compileValue(e[0]);
            return nullptr;
        }
        return compileReference(e[0]);
    default:
        compileValue(e[0]);
        return nullptr;
    }
}

void Compiler::compileChainStep(const expression_t& e, Symbol* leftLayout)
{
    const span_t position = e.getPosition();
    const bool integers = integral(e[0]) && integral(e[1]);
    // A clock compared as a double (with a floating-point bound, say) meets a non-strict limit
    // up to the simulator's tolerance beyond it, as clock constraints do.
    const bool clockLimit = !integers && (isClockValued(e[0]) || isClockValued(e[1]));
    auto pushTolerance = [&] {
        int32_t low;
        int32_t high;
        splitDouble(nonStrictClockTolerance, low, high);
        emit(position, op::DOUBLE_PUSH, low, high);
    };
    auto tail = [&](int32_t integerInstruction, int32_t doubleInstruction, int32_t followInstruction) {
        if (integers) {
            compileValue(e[1]);
            emit(position, integerInstruction);
        } else {
            compileDouble(e[1], true);
            if (clockLimit && (e.getKind() == LESS_EQUAL || e.getKind() == GREATER_EQUAL)) {
                pushTolerance();
                emit(position, e.getKind() == LESS_EQUAL ? op::DOUBLE_PLUS : op::DOUBLE_MINUS);
            }
            emit(position, doubleInstruction);
        }
        if (followInstruction != op::NOP) {
            emit(position, followInstruction);
        }
    };
    auto floatingFlag = [&] {
        if (!integral(e[0]) && !integral(e[1])) {
            system->floatingPoint = true;
        }
    };
    switch (e.getKind()) {
    case LOGICAL_AND: {
        emit(position, op::COPY);
        const uint32_t end = emitJump(position, op::JMPZ);
        compileValue(e[1]);
        emit(position, op::AND);
        patchJump(end);
        break;
    }
    case LOGICAL_OR: {
        emit(position, op::NOT);
        emit(position, op::COPY);
        const uint32_t end = emitJump(position, op::JMPZ);
        compileValue(e[1]);
        emit(position, op::NOT);
        emit(position, op::AND);
        patchJump(end);
        emit(position, op::NOT);
        break;
    }
    case ADD:
        tail(op::PLUS, op::DOUBLE_PLUS, op::NOP);
        break;
    case SUBTRACT:
        tail(op::MINUS, op::DOUBLE_MINUS, op::NOP);
        break;
    case MULTIPLY:
        tail(op::MULT, op::DOUBLE_MUL, op::NOP);
        floatingFlag();
        break;
    case DIVIDE:
        tail(op::DIV, op::DOUBLE_DIV, op::NOP);
        floatingFlag();
        break;
    case MINIMUM:
        tail(op::MIN, op::DOUBLE_MIN, op::NOP);
        floatingFlag();
        break;
    case MAXIMUM:
        tail(op::MAX, op::DOUBLE_MAX, op::NOP);
        floatingFlag();
        break;
    case LESS:
        tail(op::LT, op::DOUBLE_LT, op::NOP);
        break;
    case LESS_EQUAL:
        tail(op::LE, op::DOUBLE_LE, op::NOP);
        break;
    case GREATER_EQUAL:
        tail(op::LT, op::DOUBLE_LT, op::NOT);
        break;
    case GREATER:
        tail(op::LE, op::DOUBLE_LE, op::NOT);
        break;
    case MODULO:
    case BITWISE_AND:
    case BITWISE_OR:
    case BITWISE_XOR:
    case SHIFT_LEFT:
    case SHIFT_RIGHT:
    case LOGICAL_XOR: {
        static const int32_t instructions[] = {op::MOD, op::BAND, op::BOR, op::BXOR, op::BLSH, op::BRSH};
        compileValue(e[1]);
        emit(position, e.getKind() == LOGICAL_XOR ? op::XOR : instructions[e.getKind() - MODULO]);
        break;
    }
    case EQUAL:
    case NOT_EQUAL:
        if (comparesNumbers(e)) {
            compileDouble(e[1], true);
            if (clockLimit) {
                emit(position, op::DOUBLE_MINUS);
                emit(position, op::DOUBLE_FABS);
                pushTolerance();
                emit(position, op::DOUBLE_LE);
            } else {
                emit(position, op::DOUBLE_EQ);
            }
        } else if (integral(e[0]) || e[0].getType().isKind(SCALAR)) {
            compileValue(e[1]);
            emit(position, op::EQ);
        } else {
            compileReference(e[1]);
            emit(position, op::COMPARE_N, leftLayout != nullptr ? static_cast<int32_t>(leftLayout->size) : 0);
        }
        if (e.getKind() == NOT_EQUAL) {
            emit(position, op::NOT);
        }
        break;
    default:
        throw Bug("$Cannot_build_expression");
    }
}

// ---------------------------------------------------------------- one node

Symbol* Compiler::compileNode(const expression_t& e)
{
    const span_t position = e.getPosition();
    const node_kind_t kind = e.getKind();

    if (isFirstStepKind(e)) {
        switch (kind) {
        case LOGICAL_AND:
        case LOGICAL_OR:
        case LOGICAL_XOR:
            compileChainStep(e, compileOperandHead(e));
            return nullptr;
        case FOR_ALL:
        case EXISTS:
        case SUM:
            compileQuantifier(e);
            return nullptr;
        case DYNAMIC_MEMBER:
            return compileDynamicMember(e);
        default:
            compileDynamic(e);
            return nullptr;
        }
    }

    if (isClockConstraintType(e)) {
        compileClockComparison(e);
        return nullptr;
    }

    switch (kind) {
    case CONSTANT:
        if (e.getType().isIntegral()) {
            emit(position, op::PUSH, e.getValue());
        } else {
            int32_t low;
            int32_t high;
            splitDouble(e.getDoubleValue(), low, high);
            emit(position, op::DOUBLE_PUSH, low, high);
        }
        return nullptr;
    case IDENTIFIER: {
        Symbol* node = currentSymbol->find(e.getSymbol());
        if (node == nullptr) {
            throw Bug("No layout for " + e.toString());
        }
        emit(position, op::PUSH, static_cast<int32_t>(node->getOffset()));
        if (node->isReference) {
            emit(position, op::LOAD);
            return node->firstChild.get();
        }
        return node;
    }
    case DOT: {
        Symbol* owner = compileReference(e[0]);
        Symbol* member = owner->findChild(e.getIndex());
        if (member == nullptr) {
            throw Bug("No layout for " + e.toString());
        }
        emit(position, op::PUSH, static_cast<int32_t>(member->offset));
        emit(position, op::PLUS);
        if (member->isReference) {
            emit(position, op::LOAD);
            return member->firstChild.get();
        }
        return member;
    }
    case ARRAY: {
        Symbol* array = compileReference(e[0]);
        Symbol* element = array->firstChild.get();
        if (element == nullptr) {
            throw Bug("No layout for " + e.toString());
        }
        compileValue(e[1]);
        emit(position, op::PUSH, base::negWrap(array->lower));
        emit(position, op::PLUS);
        emit(position, op::ARRAY, base::addWrap(base::subWrap(array->upper, array->lower), 1),
             static_cast<int32_t>(element->size));
        return element;
    }
    case LIST:
        if (e.getType().isKind(ARRAY)) {
            checkListCount(e);
        }
        for (size_t i = 0; i < e.getSize(); ++i) {
            compileValue(e[i]);
        }
        return nullptr;
    case ADD:
    case SUBTRACT:
    case MULTIPLY:
    case DIVIDE:
    case MINIMUM:
    case MAXIMUM:
    case MODULO:
    case BITWISE_AND:
    case BITWISE_OR:
    case BITWISE_XOR:
    case SHIFT_LEFT:
    case SHIFT_RIGHT:
    case LESS:
    case LESS_EQUAL:
    case GREATER_EQUAL:
    case GREATER:
    case EQUAL:
    case NOT_EQUAL:
        compileChainStep(e, compileOperandHead(e));
        return nullptr;
    case LOGICAL_NOT:
        compileValue(e[0]);
        emit(position, op::NOT);
        return nullptr;
    case UNARY_MINUS:
        if (integral(e[0])) {
            compileValue(e[0]);
            emit(position, op::UMINUS);
        } else {
            compileDouble(e[0], false);
            emit(position, op::DOUBLE_NEG);
        }
        return nullptr;
    case COS:
    case SIN:
    case LOG:
    case EXP:
    case SQRT:
    case RANDOM:
    case FABS:
    case LN:
    case CEIL:
    case FLOOR: {
        system->floatingPoint = true;
        compileDouble(e[0], true);
        int32_t instruction = op::DOUBLE_COS;
        switch (kind) {
        case SIN: instruction = op::DOUBLE_SIN; break;
        case LOG: instruction = op::DOUBLE_LOG; break;
        case EXP: instruction = op::DOUBLE_EXP; break;
        case SQRT: instruction = op::DOUBLE_SQRT; break;
        case RANDOM: instruction = op::DOUBLE_RANDOM; break;
        case FABS: instruction = op::DOUBLE_FABS; break;
        case LN: instruction = op::DOUBLE_LN; break;
        case CEIL: instruction = op::DOUBLE_CEIL; break;
        case FLOOR: instruction = op::DOUBLE_FLOOR; break;
        default: break;
        }
        emit(position, instruction);
        return nullptr;
    }
    case POW:
        system->floatingPoint = true;
        compileDouble(e[0], true);
        if (integral(e[1])) {
            compileValue(e[1]);
            emit(position, op::DOUBLE_INT);
        } else {
            compileDouble(e[1], true);
            emit(position, op::DOUBLE_POW);
        }
        return nullptr;
    case DIFF:
        compileDouble(e[0], true);
        compileDouble(e[1], true);
        emit(position, op::DOUBLE_MINUS);
        return nullptr;
    case ASSIGN:
        return compileAssignment(e);
    case ADD_ASSIGN:
    case SUBTRACT_ASSIGN: {
        Symbol* target = compileReference(e[0]);
        compileValue(e[1]);
        if (kind == SUBTRACT_ASSIGN) {
            emit(position, op::UMINUS);
        }
        emit(position, op::INCREMENT);
        return target;
    }
    case DIVIDE_ASSIGN:
    case MODULO_ASSIGN:
    case MULTIPLY_ASSIGN:
    case AND_ASSIGN:
    case OR_ASSIGN:
    case XOR_ASSIGN:
    case SHIFT_LEFT_ASSIGN:
    case SHIFT_RIGHT_ASSIGN: {
        static const int32_t instructions[] = {op::DIV, op::MOD, op::MULT, op::BAND,
                                               op::BOR, op::BXOR, op::BLSH, op::BRSH};
        Symbol* target = compileReference(e[0]);
        emit(position, op::COPY);
        emit(position, op::LOAD);
        compileValue(e[1]);
        emit(position, instructions[kind - DIVIDE_ASSIGN]);
        if (e[0].getType().isKind(BOOL)) {
            emit(position, op::NOT);
            emit(position, op::NOT);
        }
        emit(position, op::STORE);
        return target;
    }
    case PRE_INCREMENT:
    case PRE_DECREMENT: {
        Symbol* target = compileReference(e[0]);
        emit(position, op::COPY);
        emit(position, op::LOAD);
        emit(position, op::PUSH, kind == PRE_INCREMENT ? 1 : -1);
        emit(position, op::PLUS);
        emit(position, op::STORE);
        return target;
    }
    case POST_INCREMENT:
    case POST_DECREMENT:
        compileReference(e[0]);
        emit(position, op::COPY);
        emit(position, op::LOAD);
        emit(position, op::SWAP);
        emit(position, op::COPY);
        emit(position, op::LOAD);
        emit(position, op::PUSH, kind == POST_INCREMENT ? 1 : -1);
        emit(position, op::PLUS);
        emit(position, op::STORE);
        emit(position, op::POP);
        return nullptr;
    case INLINE_IF:
        return compileInlineIf(e);
    case COMMA:
        discardValue(e[0], compileExpression(e[0]));
        return compileExpression(e[1]);
    case SYNC:
        compileValue(e[0]);
        if (e.getSync() == 0) {
            emit(position, op::UMINUS);
        }
        return nullptr;
    case FUNCTION_CALL:
        return compileCall(e);
    default:
        throw Bug("$Cannot_build_expression");
    }
}

void Compiler::checkListCount(const expression_t& list)
{
    auto [lower, upper] = evaluateRange(list.getType().getIndexType());
    if (int64_t(upper) - int64_t(lower) + 1 != static_cast<int64_t>(list.getSize())) {
        throw CompileError("$Wrong_number_of_elements_in_array_initialiser", list.getPosition());
    }
}

Symbol* Compiler::compileAssignment(const expression_t& e)
{
    const span_t position = e.getPosition();
    Symbol* target = compileReference(e[0]);
    const type_t targetType = e[0].getType();
    const expression_t& source = e[1];
    if (targetType.isKind(INT) || targetType.isKind(SCALAR) || targetType.isKind(CLOCK) ||
        targetType.isKind(DOUBLE)) {
        if (designatesClock(source)) {
            compileValue(source);
            if (targetType.isKind(DOUBLE)) {
                emit(position, op::CLOCK_LOAD);
                emit(position, op::DOUBLE_STORE);
            } else {
                system->hasClockCopies = true;
                emit(position, op::CLOCK_COPY);
            }
        } else if (source.getType().isKind(CLOCK) || source.getType().isKind(DIFF) ||
                   source.getType().isKind(DOUBLE)) {
            compileDouble(source, false);
            emit(position, targetType.isKind(CLOCK) ? op::CLOCK_STORE : op::DOUBLE_STORE);
        } else {
            compileValue(source);
            emit(position, op::STORE);
        }
    } else if (targetType.isKind(BOOL)) {
        compileValue(source);
        if (e.getType().isKind(BOOL)) {
            emit(position, op::NOT);
            emit(position, op::NOT);
        }
        emit(position, op::STORE);
    } else if (targetType.isKind(RECORD) || targetType.isKind(ARRAY)) {
        const type_t element = targetType.unwrapArrays();
        const int32_t size = static_cast<int32_t>(target->size);
        if (compileExpression(source) != nullptr) {
            emit(position, element.isKind(CLOCK)    ? op::CLOCK_COPY_N
                           : element.isKind(DOUBLE) ? op::DOUBLE_ASSIGN_N
                                                    : op::ASSIGN_N,
                 size);
        } else {
            emit(position, element.isKind(CLOCK)    ? op::CLOCK_STORE_N
                           : element.isKind(DOUBLE) ? op::DOUBLE_STORE_N
                                                    : op::STORE_N,
                 size);
        }
    } else {
        throw Bug("Not supported");
    }
    return target;
}

Symbol* Compiler::compileInlineIf(const expression_t& e)
{
    const span_t position = e.getPosition();
    if (e.getType().isKind(CLOCK) && !designatesClock(e)) {
        // A clock in one branch and a value computed from clocks in the other: both branches
        // leave the clock values they compute, a clock's read as the clock's value.
        compileValue(e[0]);
        const uint32_t toElse = emitJump(position, op::JMPZ);
        compileDouble(e[1], true);
        const uint32_t toEnd = emitJump(position, op::JMP);
        patchJump(toElse);
        compileDouble(e[2], true);
        patchJump(toEnd);
        return nullptr;
    }
    // When one branch designates a variable and the other leaves a value, the variable is
    // read: a floating-point one onto the double stack, where the other branch's value is.
    const int32_t load = leavesDouble(e) ? op::DOUBLE_LOAD : op::LOAD;
    compileValue(e[0]);
    const uint32_t toElse = emitJump(position, op::JMPZ);
    Symbol* thenLayout = compileExpression(e[1]);
    const uint32_t room = program->emitNops(position, 3);
    patchJump(toElse);
    Symbol* elseLayout = compileExpression(e[2]);
    if (elseLayout != nullptr && thenLayout == nullptr) {
        emit(position, load);
    }
    const int32_t end = static_cast<int32_t>(program->mark());
    if (thenLayout != nullptr && elseLayout == nullptr) {
        program->setOpcode(room, load);
        program->setOpcode(room + 1, op::JMP);
        program->setOperand(room + 2, end);
        return nullptr;
    }
    program->setOpcode(room, op::JMP);
    program->setOperand(room + 1, end);
    program->setOpcode(room + 2, op::NOP);
    return thenLayout;
}

// ---------------------------------------------------------------- clock comparisons

void Compiler::emitClockConstraint(const expression_t& first, const expression_t& second, bool negateBound,
                                   const expression_t& bound, bool strict)
{
    const span_t none;
    if (first.empty()) {
        emit(none, op::PUSH, 0);
    } else {
        compileValue(first);
    }
    if (second.empty()) {
        emit(none, op::PUSH, 0);
    } else {
        compileValue(second);
    }
    if (bound.empty()) {
        emit(none, op::PUSH, 0);
    } else {
        compileValue(bound);
        if (negateBound) {
            emit(none, op::UMINUS);
        }
    }
    emit(none, op::CEXPR, strict ? 1 : 0);
}

void Compiler::compileClockComparison(const expression_t& e)
{
    const node_kind_t kind = e.getKind();
    if (kind != LESS && kind != LESS_EQUAL && kind != EQUAL && kind != GREATER_EQUAL && kind != GREATER) {
        throw Bug((boost::format("Cannot normalise %1%") % e.toString()).str());
    }
    ClockTerms terms;
    collectClockTerms(terms, e[0], true);
    collectClockTerms(terms, e[1], false);
    const span_t none;

    const bool clockTerms = isZoneClock(terms.first) && isZoneClock(terms.second);
    if (!clockTerms || (!terms.bound.empty() && terms.bound.getType().isKind(DOUBLE))) {
        // A floating-point bound cannot go through the zone's integer constraint, and a value
        // computed from clocks is no clock: the values are compared as doubles.
        if (terms.first.empty()) {
            emit(none, op::DOUBLE_PUSH, 0, 0);
        } else {
            compileDouble(terms.first, true);
        }
        if (terms.second.empty()) {
            emit(none, op::DOUBLE_PUSH, 0, 0);
        } else {
            compileDouble(terms.second, true);
        }
        emit(none, op::DOUBLE_MINUS);
        if (terms.bound.empty()) {
            emit(none, op::DOUBLE_PUSH, 0, 0);
        } else {
            compileDouble(terms.bound, true);
        }
        // Clocks advance in floating-point steps that need not add up to the constant exactly
        // (ten steps of 0.01 make 0.09999999999999999): a non-strict limit holds up to the
        // simulator's tolerance beyond it, as it does for integer limits; a strict one exactly.
        int32_t low;
        int32_t high;
        splitDouble(nonStrictClockTolerance, low, high);
        switch (kind) {
        case LESS: emit(none, op::DOUBLE_LT); break;
        case LESS_EQUAL:
            emit(none, op::DOUBLE_PUSH, low, high);
            emit(none, op::DOUBLE_PLUS);
            emit(none, op::DOUBLE_LE);
            break;
        case GREATER_EQUAL:
            emit(none, op::DOUBLE_PUSH, low, high);
            emit(none, op::DOUBLE_MINUS);
            emit(none, op::DOUBLE_LT);
            emit(none, op::NOT);
            break;
        case GREATER:
            emit(none, op::DOUBLE_LE);
            emit(none, op::NOT);
            break;
        default:
            emit(none, op::DOUBLE_MINUS);
            emit(none, op::DOUBLE_FABS);
            emit(none, op::DOUBLE_PUSH, low, high);
            emit(none, op::DOUBLE_LE);
            break;
        }
        return;
    }

    switch (kind) {
    case LESS:
        emitClockConstraint(terms.first, terms.second, false, terms.bound, true);
        break;
    case LESS_EQUAL:
        emitClockConstraint(terms.first, terms.second, false, terms.bound, false);
        break;
    case GREATER:
        emitClockConstraint(terms.second, terms.first, true, terms.bound, true);
        break;
    case GREATER_EQUAL:
        emitClockConstraint(terms.second, terms.first, true, terms.bound, false);
        break;
    default:
        emitClockConstraint(terms.first, terms.second, false, terms.bound, false);
        emitClockConstraint(terms.second, terms.first, true, terms.bound, false);
        emit(none, op::AND);
        break;
    }
}
