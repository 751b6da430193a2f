#pragma once

// A small compiled system and a Program over it for the tests of the byte-code machine, with
// helpers that emit code and show it as instruction texts.

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "runtime/bytecode.h"
#include "runtime/concrete_state.h"
#include "runtime/exceptions.h"
#include "runtime/program.h"
#include "runtime/system.h"
#include "runtime/variable.h"

namespace machine_test {

using namespace bytecode;

// A span that tells instructions apart: offsets (n, n + 1).
inline ZOLT::span_t at(int32_t n)
{
    return {n, n + 1};
}

inline packed_span_t packedAt(int32_t n)
{
    return at(n).packed();
}

// One instruction to emit; a doublePush carries its double in `d`.
struct Instr
{
    int32_t op;
    int32_t a = 0, b = 0, c = 0;
    double d = 0.0;
};

inline Instr dpush(double value)
{
    return {DOUBLE_PUSH, 0, 0, 0, value};
}

class MachineTest : public ::testing::Test
{
protected:
    base::RefPtr<System> system{new System()};
    base::RefPtr<Program> program{new Program(system.get())};

    // Global index of a new integer state variable.
    int32_t intVariable(const std::string& name, int32_t lower = -1000, int32_t upper = 1000, int32_t initial = 0)
    {
        return index(system->addStateVariable(name, lower, upper, initial, false));
    }
    int32_t doubleVariable(const std::string& name, double initial = 0.0)
    {
        return index(system->addFPVariable(name, false, initial));
    }
    int32_t constant(int32_t value) { return index(system->addConstant(value, false)); }
    int32_t clock(const std::string& name) { return index(system->addClock(name, false, 0.0)); }

    static int32_t index(Variable* variable) { return static_cast<int32_t>(variable->getIndex()); }

    // A concrete state of the system as it is now, every value and clock 0.
    std::unique_ptr<ConcreteState> concreteState()
    {
        auto state = std::make_unique<ConcreteState>(system.get());
        for (size_t i = 0; i < system->getStateVariableCount(); ++i) {
            state->getVariables()[i] = 0;
        }
        for (size_t i = 0; i < system->getFPVariableCount(); ++i) {
            state->getDoubles()[i] = 0.0;
        }
        return state;
    }

    void emit(int32_t opcode, int32_t a = 0, int32_t b = 0, int32_t c = 0, int32_t position = 0)
    {
        program->emit(at(position), opcode, a, b, c);
    }

    // Emits the instructions exactly as given, each after a mark so that the optimiser leaves
    // it alone; instruction k carries the span at(first + k). Returns the index of the first.
    uint32_t code(const std::vector<Instr>& instrs, int32_t first = 100)
    {
        const uint32_t start = program->mark();
        int32_t position = first;
        for (const Instr& i : instrs) {
            program->mark();
            if (i.op == DOUBLE_PUSH) {
                program->emitDouble(at(position), i.d);
            } else {
                program->emit(at(position), i.op, i.a, i.b, i.c);
            }
            ++position;
        }
        return start;
    }

    // Runs from `start` and gives the integer result (0 when the run left nothing).
    int32_t result(PublicState* state, uint32_t start = 0)
    {
        const uint32_t cell = program->execute(state, static_cast<int32_t>(start));
        return cell == 0 ? 0 : program->stackCell(cell);
    }

    // Every instruction from `from` as "mnemonic operands".
    std::vector<std::string> instructions(uint32_t from = 0) const
    {
        std::vector<std::string> out;
        uint32_t i = from;
        while (i < program->size()) {
            const int32_t op = program->opcodeAt(i);
            std::ostringstream text;
            text << mnemonic(op);
            if (op == DOUBLE_PUSH) {
                const uint64_t lo = static_cast<uint32_t>(program->operandAt(i, 0));
                const uint64_t hi = static_cast<uint32_t>(program->operandAt(i, 1));
                text << ' ' << std::bit_cast<double>(lo | (hi << 32));
            } else {
                for (int32_t k = 0; k < operandCount(op); ++k) {
                    text << ' ' << program->operandAt(i, k);
                }
            }
            out.push_back(text.str());
            i += 1 + static_cast<uint32_t>(operandCount(op));
        }
        return out;
    }

    std::string listing() const
    {
        std::ostringstream out;
        program->disassemble(out);
        return out.str();
    }
};

// Runs `body` and gives the CannotEvaluateExpression it raises; fails the test when it raises
// nothing.
template <class Body>
CannotEvaluateExpression evaluationError(Body&& body)
{
    try {
        body();
    } catch (const CannotEvaluateExpression& error) {
        return error;
    }
    ADD_FAILURE() << "no CannotEvaluateExpression raised";
    return CannotEvaluateExpression("", NO_POSITION);
}

}  // namespace machine_test
