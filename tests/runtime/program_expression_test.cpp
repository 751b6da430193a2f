// Run-time expressions made from code: the shapes answered without the machine, the shared
// constants, and the state number an evaluation error is given.

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <memory>

#include "program_fixture.h"
#include "runtime/program_expression.h"
#include "runtime/symbolic_state.h"
#include "runtime/system.h"

namespace machine_test {
namespace {

class ProgramExpressions : public MachineTest
{
protected:
    // The expression for the instructions followed by halt, made as the compiler makes it.
    ExpressionRef make(const std::vector<Instr>& instrs, const IndexSet& reads = {}, const IndexSet& writes = {})
    {
        const uint32_t start = program->mark();
        int32_t position = 0;
        for (const Instr& i : instrs) {
            if (i.op == DOUBLE_PUSH) {
                program->emitDouble(at(++position), i.d);
            } else {
                emit(i.op, i.a, i.b, i.c, ++position);
            }
        }
        emit(HALT);
        return program->makeExpression(start, reads, writes);
    }
};

TEST_F(ProgramExpressions, ConstantsAreSharedByEveryProgram)
{
    const ExpressionRef five = make({{PUSH, 5}});
    ASSERT_NE(dynamic_cast<Constant*>(five.get()), nullptr);
    EXPECT_EQ(five->evaluate(nullptr), 5);
    EXPECT_TRUE(five->reads.empty());

    // Folded to the same constant, from another start and another Program.
    EXPECT_EQ(make({{PUSH, 2}, {PUSH, 3}, {PLUS}}).get(), five.get());
    base::RefPtr<Program> other(new Program(system.get()));
    other->emit(at(0), PUSH, 5);
    other->emit(at(0), HALT);
    EXPECT_EQ(ExpressionRef(other->makeExpression(0, {}, {})).get(), five.get());
    EXPECT_NE(make({{PUSH, 6}}).get(), five.get());

    // A cleared cache makes the constant anew.
    Program::clearConstantCaches();
    EXPECT_NE(make({{PUSH, 5}}).get(), five.get());
    EXPECT_EQ(five->evaluate(nullptr), 5);
}

TEST_F(ProgramExpressions, DoubleConstantsAreSharedByTheirBits)
{
    auto state = concreteState();
    const ExpressionRef half = make({dpush(0.5), {DOUBLE_RET}});
    ASSERT_NE(dynamic_cast<DoubleConstant*>(half.get()), nullptr);
    state->result = 0.0;
    EXPECT_EQ(half->evaluate(state.get()), 0);
    EXPECT_EQ(state->result, 0.5);
    EXPECT_EQ(make({{PUSH, 1}, {PUSH, 2}, {RATIONAL2DOUBLE}, {DOUBLE_RET}}).get(), half.get());

    // 0.0 and -0.0 compare equal but are two constants.
    const ExpressionRef zero = make({dpush(0.0), {DOUBLE_RET}});
    const ExpressionRef minusZero = make({dpush(-0.0), {DOUBLE_RET}});
    EXPECT_NE(zero.get(), minusZero.get());
    minusZero->evaluate(state.get());
    EXPECT_TRUE(std::signbit(state->result));
}

TEST_F(ProgramExpressions, ASingleVariableIsTheVariableItself)
{
    intVariable("a");
    intVariable("b");
    intVariable("c");
    const int32_t v = intVariable("v");
    ASSERT_EQ(v, 3);
    EXPECT_EQ(make({{LID, 3}}).get(), system->getVariable(3));
    EXPECT_EQ(make({{PUSH, 3}, {LOAD}}).get(), system->getVariable(3));

    const IndexSet reads = {3, 4};
    const IndexSet writes = {2};
    const ExpressionRef sum = make({{LID, 3}, {LID, 2}, {PLUS}}, reads, writes);
    auto* expression = dynamic_cast<ProgramExpression*>(sum.get());
    ASSERT_NE(expression, nullptr);
    EXPECT_EQ(sum->reads, reads);
    EXPECT_EQ(sum->writes, writes);
    EXPECT_TRUE(sum->trivial);
    EXPECT_TRUE(sum->convex);
    EXPECT_FALSE(sum->clockDependent);

    auto state = concreteState();
    state->getVariables()[2] = 30;
    state->getVariables()[3] = 12;
    EXPECT_EQ(sum->evaluate(state.get()), 42);
}

TEST_F(ProgramExpressions, CodeThatLeavesNothingIsZero)
{
    const int32_t a = intVariable("a");
    auto state = concreteState();
    const ExpressionRef update = make({{STORE_I_POP, a, 3}});
    EXPECT_EQ(update->evaluate(state.get()), 0);
    EXPECT_EQ(state->getVariables()[0], 3);
}

TEST_F(ProgramExpressions, AnExpressionKeepsItsProgram)
{
    const ExpressionRef sum = make({{LID, 1}, {LID, 2}, {PLUS}});
    Program* raw = program.get();
    const int32_t before = raw->getRefCount();
    program.release();
    EXPECT_EQ(raw->getRefCount(), before - 1);
    EXPECT_EQ(static_cast<ProgramExpression*>(sum.get())->getProgram(), raw);
}

// A compiled system owns the guards, invariants and updates whose expressions hold its program;
// the program does not hold the system back, so letting go of both frees both, in either order.
TEST(ProgramOwnership, DiscardingACompiledSystemFreesItAndItsProgram)
{
    struct ObservedSystem : System
    {
        explicit ObservedSystem(bool* gone) : gone(gone) {}
        ~ObservedSystem() override { *gone = true; }
        bool* gone;
    };
    struct ObservedProgram : Program
    {
        ObservedProgram(System* system, bool* gone) : Program(system), gone(gone) {}
        ~ObservedProgram() override { *gone = true; }
        bool* gone;
    };
    for (const bool systemFirst : {false, true}) {
        SCOPED_TRACE(systemFirst ? "system let go first" : "program let go first");
        bool systemGone = false;
        bool programGone = false;
        base::RefPtr<System> system(new ObservedSystem(&systemGone));
        base::RefPtr<Program> program(new ObservedProgram(system.get(), &programGone));
        const auto a = static_cast<int32_t>(system->addStateVariable("a", 0, 10, 0, false)->getIndex());
        const auto b = static_cast<int32_t>(system->addStateVariable("b", 0, 10, 0, false)->getIndex());
        const uint32_t start = program->mark();
        program->emit(at(1), LID, a);
        program->emit(at(2), LID, b);
        program->emit(at(3), PLUS);
        program->emit(at(4), HALT);
        ExpressionRef sum = program->makeExpression(start, {}, {});
        ASSERT_NE(dynamic_cast<ProgramExpression*>(sum.get()), nullptr);
        system->setInitialiser(sum);
        sum = nullptr;

        if (systemFirst) {
            system = nullptr;
            EXPECT_TRUE(systemGone);
            EXPECT_FALSE(programGone);
            program = nullptr;
        } else {
            program = nullptr;
            EXPECT_FALSE(programGone) << "the system's initialiser holds the program";
            system = nullptr;
            EXPECT_TRUE(systemGone);
        }
        EXPECT_TRUE(programGone);
    }
}

TEST_F(ProgramExpressions, ErrorsNameTheSymbolicStateTheyHappenedIn)
{
    clock("t(0)");
    const int32_t a = intVariable("a");
    const ExpressionRef quotient = make({{PUSH, 5}, {LID, a}, {DIV}});
    ASSERT_NE(dynamic_cast<ProgramExpression*>(quotient.get()), nullptr);

    SymbolicState symbolic(system.get());
    symbolic.traceIndex = 12;
    const CannotEvaluateExpression error = evaluationError([&] { quotient->evaluate(&symbolic); });
    EXPECT_STREQ(error.what(), "Division by zero");
    EXPECT_EQ(error.getPosition(), packedAt(3));
    EXPECT_EQ(error.getStateNumber(), 12);
    EXPECT_EQ(error.getContext(), "");

    auto concrete = concreteState();
    const CannotEvaluateExpression again = evaluationError([&] { quotient->evaluate(concrete.get()); });
    EXPECT_EQ(again.getStateNumber(), -1);
    EXPECT_EQ(again.getPosition(), packedAt(3));
}

}  // namespace
}  // namespace machine_test
