#include "runtime/program_expression.h"

#include <bit>
#include <map>

#include "runtime/exceptions.h"
#include "runtime/symbolic_state.h"
#include "runtime/variable.h"

ProgramExpression::ProgramExpression(Program* program, int32_t start, const IndexSet& reads,
                                     const IndexSet& writes)
    : program(program), start(start)
{
    this->reads = reads;
    this->writes = writes;
}

void ProgramExpression::accept(ExpressionVisitor&) {}

int32_t ProgramExpression::evaluate(PublicState* state)
{
    try {
        const uint32_t result = program->execute(state, start);
        return result == 0 ? 0 : program->stackCell(result);
    } catch (const CannotEvaluateExpression& error) {
        CannotEvaluateExpression located(error);
        SymbolicState* symbolic = state != nullptr ? state->getSymbolicState() : nullptr;
        located.setStateNumber(symbolic != nullptr ? symbolic->traceIndex : -1);
        throw located;
    }
}

namespace {

// Shared constants of every Program of the process, made on first request. Double constants are
// told apart by their bit pattern, so 0.0 and -0.0 stay two constants and a NaN is one key like
// any other.
std::map<int32_t, base::RefPtr<Constant>>& integerConstants()
{
    static std::map<int32_t, base::RefPtr<Constant>> cache;
    return cache;
}

std::map<uint64_t, base::RefPtr<DoubleConstant>>& doubleConstants()
{
    static std::map<uint64_t, base::RefPtr<DoubleConstant>> cache;
    return cache;
}

}  // namespace

void Program::clearConstantCaches()
{
    integerConstants().clear();
    doubleConstants().clear();
}

Expression* Program::makeExpression(uint32_t start, const IndexSet& reads, const IndexSet& writes)
{
    using namespace bytecode;
    auto wordIs = [this](uint32_t index, int32_t opcode) { return index < size() && code[index] == opcode; };

    if (wordIs(start, PUSH) && wordIs(start + 2, HALT)) {
        const int32_t value = operandAt(start, 0);
        auto& slot = integerConstants()[value];
        if (!slot) {
            slot = new Constant(value);
        }
        return slot.get();
    }
    if (wordIs(start, DOUBLE_PUSH) && wordIs(start + 3, DOUBLE_RET)) {
        const uint64_t bits = static_cast<uint64_t>(static_cast<uint32_t>(operandAt(start, 0))) |
                              (static_cast<uint64_t>(static_cast<uint32_t>(operandAt(start, 1))) << 32);
        auto& slot = doubleConstants()[bits];
        if (!slot) {
            slot = new DoubleConstant(std::bit_cast<double>(bits));
        }
        return slot.get();
    }
    if (wordIs(start, LID) && wordIs(start + 2, HALT)) {
        if (Variable* variable = variableAt(operandAt(start, 0))) {
            return variable;
        }
    }
    return new ProgramExpression(this, static_cast<int32_t>(start), reads, writes);
}
