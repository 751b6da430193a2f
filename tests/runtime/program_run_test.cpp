// The interpreter: results and stack effects of the instructions, run-time errors with their
// spans, calls and recursion, double mode on symbolic and concrete states, clocks, runs without a
// state.

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "program_fixture.h"
#include "runtime/symbolic_state.h"
#include "support/exceptions.h"

namespace machine_test {
namespace {

class Machine : public MachineTest
{
protected:
    int32_t a = 0, b = 0, arr = 0, d = 0, e = 0, x = 0, y = 0;

    void SetUp() override
    {
        clock("t(0)");                    // 0: the reference clock, clock number 0
        a = intVariable("a");             // 1
        b = intVariable("b", 0, 10, 0);   // 2
        arr = intVariable("arr[0]");      // 3 .. 5
        intVariable("arr[1]");
        intVariable("arr[2]");
        d = doubleVariable("d");          // 6
        e = doubleVariable("e");          // 7
        x = clock("x");                   // 8, clock number 1
        y = clock("y");                   // 9, clock number 2
    }

    int32_t& value(ConcreteState& state, int32_t variable)
    {
        return state.getVariables()[static_cast<StateVariable*>(system->getVariable(variable))->getPosition()];
    }
    double& doubleValue(ConcreteState& state, int32_t variable)
    {
        return state.getDoubles()[static_cast<FPVariable*>(system->getVariable(variable))->getPosition()];
    }

    std::unique_ptr<SymbolicState> symbolicState() { return std::make_unique<SymbolicState>(system.get()); }

    // Runs the instructions followed by halt on the state; the integer result.
    int32_t run(PublicState* state, std::vector<Instr> instrs)
    {
        instrs.push_back({HALT});
        return result(state, code(instrs));
    }

    // The stack after running the instructions and halt: cells 1 .. result index.
    std::vector<int32_t> stack(PublicState* state, std::vector<Instr> instrs)
    {
        instrs.push_back({HALT});
        const uint32_t top = program->execute(state, static_cast<int32_t>(code(instrs)));
        std::vector<int32_t> cells;
        for (uint32_t i = 1; i <= top; ++i) {
            cells.push_back(program->stackCell(i));
        }
        return cells;
    }

    std::vector<double> doubles(PublicState* state, std::vector<Instr> instrs)
    {
        instrs.push_back({HALT});
        program->execute(state, static_cast<int32_t>(code(instrs)));
        return {program->doubleStackBottom(), program->doubleStackBottom() + program->doubleStackTop()};
    }
};

TEST_F(Machine, ResultCells)
{
    auto state = concreteState();
    const uint32_t start = code({{PUSH, 7}, {HALT}});
    EXPECT_EQ(program->execute(state.get(), static_cast<int32_t>(start)), 1u);
    EXPECT_EQ(program->stackCell(1), 7);
    EXPECT_EQ(program->execute(state.get(), static_cast<int32_t>(code({{HALT}}))), 0u);

    // store leaves the variable index on the stack.
    const uint32_t store = code({{PUSH, b}, {PUSH, 2}, {STORE}, {HALT}});
    EXPECT_EQ(program->execute(state.get(), static_cast<int32_t>(store)), 1u);
    EXPECT_EQ(program->stackCell(1), b);
    EXPECT_EQ(value(*state, b), 2);

    EXPECT_THROW(program->execute(state.get(), static_cast<int32_t>(program->size())), Bug);
}

TEST_F(Machine, IntegerArithmetic)
{
    struct Case
    {
        int32_t op;
        int32_t a, b, result;
    };
    const Case cases[] = {
        {PLUS, INT_MAX, 1, INT_MIN},  {MINUS, INT_MIN, 1, INT_MAX}, {MULT, 65536, 65536, 0},
        {MULT, -3, 7, -21},           {DIV, 7, 2, 3},               {DIV, -7, 2, -3},
        {DIV, INT_MIN, -1, INT_MIN},  {MOD, -7, 2, -1},             {MOD, 7, -2, 1},
        {MOD, INT_MIN, -1, 0},        {BAND, 12, 10, 8},            {BOR, 12, 10, 14},
        {BXOR, 12, 10, 6},            {BLSH, 1, 33, 2},             {BLSH, 1, 31, INT_MIN},
        {BRSH, -8, 1, -4},            {BRSH, INT_MIN, 31, -1},      {BRSH, 64, 34, 16},
        {AND, 2, 3, 1},               {AND, 2, 0, 0},               {XOR, 2, 3, 0},
        {XOR, 0, -1, 1},              {LT, 1, 2, 1},                {LT, 2, 2, 0},
        {LE, 2, 2, 1},                {EQ, -1, -1, 1},              {EQ, -1, 1, 0},
        {MIN, 3, 3, 3},               {MIN, 3, -4, -4},             {MAX, 3, -4, 3},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(run(nullptr, {{PUSH, c.a}, {PUSH, c.b}, {c.op}}), c.result)
            << mnemonic(c.op) << ' ' << c.a << ' ' << c.b;
    }
    EXPECT_EQ(run(nullptr, {{PUSH, INT_MIN}, {UMINUS}}), INT_MIN);
    EXPECT_EQ(run(nullptr, {{PUSH, 4}, {UMINUS}}), -4);
    EXPECT_EQ(run(nullptr, {{PUSH, 0}, {NOT}}), 1);
    EXPECT_EQ(run(nullptr, {{PUSH, -9}, {NOT}}), 0);
}

TEST_F(Machine, ErrorsCarryTheSpanOfTheFailingInstruction)
{
    struct Case
    {
        std::vector<Instr> code;
        const char* message;
    };
    const Case cases[] = {
        {{{PUSH, 5}, {PUSH, 0}, {DIV}}, "Division by zero"},
        {{{PUSH, 5}, {PUSH, 0}, {MOD}}, "Division by zero"},
        {{{PUSH, 5}, {PUSH, -1}, {BLSH}}, "Left shift count is negative"},
        {{{PUSH, 5}, {PUSH, -1}, {BRSH}}, "Right shift count is negative"},
        {{{PUSH, 1}, {PUSH, 0}, {ASSERT}}, "Assertion failure"},
        {{{PUSH, 10}, {PUSH, 5}, {ARRAY, 5, 2}}, "Index value 5 is out of range. Array length = 5, Element size = 2"},
        {{{PUSH, 10}, {PUSH, -1}, {ARRAY, 5, 2}}, "Index value -1 is out of range. Array length = 5, Element size = 2"},
    };
    for (const Case& c : cases) {
        const CannotEvaluateExpression error = evaluationError([&] { run(nullptr, c.code); });
        EXPECT_STREQ(error.what(), c.message);
        EXPECT_EQ(error.getPosition(), packedAt(102)) << c.message;
        EXPECT_EQ(error.getStateNumber(), -1);
        EXPECT_EQ(error.getContext(), "");
    }
}

TEST_F(Machine, StoresTestTheRangeAndKeepEarlierAssignments)
{
    auto state = concreteState();
    struct Case
    {
        const char* name;
        std::vector<Instr> code;
        const char* message;  // null: no error
        std::vector<int32_t> arrAfter;
        int32_t bAfter;
    };
    const Case cases[] = {
        {"store", {{PUSH, b}, {PUSH, 10}, {STORE}}, nullptr, {0, 0, 0}, 10},
        {"store out of range", {{PUSH, b}, {PUSH, 11}, {STORE}}, "Assignment of value '11' to variable 'b' is out of range",
         {0, 0, 0}, 0},
        {"storeI out of range", {{STORE_I, b, -1}}, "Assignment of value '-1' to variable 'b' is out of range", {0, 0, 0}, 0},
        {"storeIPop", {{STORE_I_POP, b, 3}}, nullptr, {0, 0, 0}, 3},
        {"storeN in order", {{PUSH, arr}, {PUSH, 7}, {PUSH, 8}, {PUSH, 9}, {STORE_N, 3}}, nullptr, {7, 8, 9}, 0},
        {"storeN fails on its first variable", {{PUSH, b}, {PUSH, 11}, {PUSH, 5}, {PUSH, 6}, {STORE_N, 3}},
         "Assignment of value '11' to variable 'b' is out of range", {0, 0, 0}, 0},
        {"increment", {{PUSH, b}, {PUSH, 4}, {INCREMENT}, {PUSH, 6}, {INCREMENT}}, nullptr, {0, 0, 0}, 10},
        {"increment out of range", {{PUSH, b}, {PUSH, 11}, {INCREMENT}}, "Increment variable 'b' is out of range",
         {0, 0, 0}, 0},
    };
    for (const Case& c : cases) {
        for (int32_t i = 0; i < 3; ++i) {
            value(*state, arr + i) = 0;
        }
        value(*state, b) = 0;
        if (c.message == nullptr) {
            run(state.get(), c.code);
        } else {
            const CannotEvaluateExpression error = evaluationError([&] { run(state.get(), c.code); });
            EXPECT_STREQ(error.what(), c.message) << c.name;
        }
        EXPECT_EQ((std::vector<int32_t>{value(*state, arr), value(*state, arr + 1), value(*state, arr + 2)}), c.arrAfter)
            << c.name;
        EXPECT_EQ(value(*state, b), c.bAfter) << c.name;
    }

    // storeN 3 over a, b and arr[0]: a takes its value before b refuses its own, arr[0] keeps
    // its old one.
    value(*state, a) = 0;
    value(*state, arr) = 0;
    const CannotEvaluateExpression error =
        evaluationError([&] { run(state.get(), {{PUSH, a}, {PUSH, 5}, {PUSH, 12}, {PUSH, 6}, {STORE_N, 3}}); });
    EXPECT_STREQ(error.what(), "Assignment of value '12' to variable 'b' is out of range");
    EXPECT_EQ(value(*state, a), 5);
    EXPECT_EQ(value(*state, arr), 0);

    // assignN names the source value.
    value(*state, a) = 40;
    const CannotEvaluateExpression copy = evaluationError([&] { run(state.get(), {{PUSH, b}, {PUSH, a}, {ASSIGN_N, 1}}); });
    EXPECT_STREQ(copy.what(), "Assignment of value '40' to variable 'b' is out of range");
}

TEST_F(Machine, StackEffects)
{
    auto state = concreteState();
    value(*state, arr) = 4;
    value(*state, arr + 1) = 5;
    value(*state, arr + 2) = 6;
    value(*state, a) = 4;
    struct Case
    {
        const char* name;
        std::vector<Instr> code;
        std::vector<int32_t> stack;
    };
    const Case cases[] = {
        {"load", {{PUSH, 9}, {PUSH, arr + 1}, {LOAD}}, {9, 5}},
        {"lid", {{LID, arr}}, {4}},
        {"loadN", {{PUSH, 9}, {PUSH, arr}, {LOAD_N, 3}}, {9, 4, 5, 6}},
        {"loadN 0 drops the index", {{PUSH, 9}, {PUSH, arr}, {LOAD_N, 0}}, {9}},
        {"compareN equal", {{PUSH, arr}, {PUSH, a}, {COMPARE_N, 1}}, {1}},
        {"compareN different", {{PUSH, arr}, {PUSH, arr + 1}, {COMPARE_N, 2}}, {0}},
        {"compareN of nothing", {{PUSH, arr}, {PUSH, arr + 1}, {COMPARE_N, 0}}, {1}},
        {"array", {{PUSH, 10}, {PUSH, 3}, {ARRAY, 5, 2}}, {16}},
        {"copy", {{PUSH, 3}, {COPY}}, {3, 3}},
        {"pop", {{PUSH, 3}, {PUSH, 4}, {POP}}, {3}},
        {"swap", {{PUSH, 3}, {PUSH, 4}, {SWAP}}, {4, 3}},
        {"storeI pushes its variable", {{STORE_I, a, 3}}, {a}},
        {"assert drops its operand", {{PUSH, 3}, {PUSH, 1}, {ASSERT}}, {3}},
        {"nop", {{PUSH, 3}, {NOP}}, {3}},
        {"assignN leaves the target", {{PUSH, arr + 1}, {PUSH, arr}, {ASSIGN_N, 1}, {LOAD}}, {4}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(stack(state.get(), c.code), c.stack) << c.name;
    }
}

TEST_F(Machine, JumpsAndTheConditionThatIsAlwaysDropped)
{
    for (int32_t condition : {0, 1}) {
        // 0: push 9; 2: push c; 4: jmpz 8; 6: push 1; 8: push 2; 10: halt
        const uint32_t start = code({{PUSH, 9}, {PUSH, condition}, {JMPZ, 0}, {PUSH, 1}, {PUSH, 2}, {HALT}});
        program->setOperand(start + 5, static_cast<int32_t>(start + 8));
        const uint32_t top = program->execute(nullptr, static_cast<int32_t>(start));
        std::vector<int32_t> cells;
        for (uint32_t i = 1; i <= top; ++i) {
            cells.push_back(program->stackCell(i));
        }
        const std::vector<int32_t> expected = condition == 0 ? std::vector<int32_t>{9, 2} : std::vector<int32_t>{9, 1, 2};
        EXPECT_EQ(cells, expected);
    }
    const uint32_t start = code({{JMP, 0}, {PUSH, 1}, {PUSH, 2}, {HALT}});
    program->setOperand(start + 1, static_cast<int32_t>(start + 4));
    EXPECT_EQ(result(nullptr, start), 2);
}

// A function: its entry index is the value of a descriptor variable; the caller's stack is
// exactly as before it pushed the descriptor, whatever the function left.
TEST_F(Machine, CallsRestoreTheCallersStack)
{
    auto state = concreteState();
    const uint32_t inner = code({{PUSH, 1}, {PUSH, 2}, {PUSH, 3}, {STORE_I, a, 3}, {RETURN}});
    const int32_t innerDescriptor = constant(static_cast<int32_t>(inner));
    const uint32_t outer = code({{PUSH, 4}, {PUSH, innerDescriptor}, {CALL}, {PUSH, 5}, {PUSH, innerDescriptor}, {CALL},
                                 {STORE_I, b, 7}, {RETURN}});
    const int32_t outerDescriptor = constant(static_cast<int32_t>(outer));

    EXPECT_EQ(stack(state.get(), {{PUSH, 11}, {PUSH, 22}, {PUSH, outerDescriptor}, {CALL}}),
              (std::vector<int32_t>{11, 22}));
    EXPECT_EQ(value(*state, a), 3);
    EXPECT_EQ(value(*state, b), 7);
    EXPECT_EQ(stack(state.get(), {{PUSH, outerDescriptor}, {CALL}, {PUSH, 6}}), std::vector<int32_t>{6});
}

TEST_F(Machine, RecursionGrowsTheStacksUpToALimit)
{
    const int32_t n = intVariable("n", 0, 100000, 0);
    const int32_t descriptor = index(system->addSystemMetaVariable("f", 0, INT_MAX, 0, false));
    auto state = concreteState();

    // f: if (n != 0) { n = n - 1; f(); } -- counts down through nested calls.
    const uint32_t f = code({{LID, n},                 // 0
                             {JMPZ, 0},                // 2
                             {PUSH, n},                // 4
                             {LID, n},                 // 6
                             {PUSH, 1},                // 8
                             {MINUS},                  // 10
                             {STORE},                  // 11
                             {POP},                    // 12
                             {PUSH, 0},                // 13: the descriptor, patched below
                             {CALL},                   // 15
                             {RETURN}});               // 16
    program->setOperand(f + 3, static_cast<int32_t>(f + 16));
    program->setOperand(f + 14, descriptor);
    system->getVariable(descriptor)->setValue(nullptr, static_cast<int32_t>(f));

    const uint32_t capacity = program->intStackCapacity();
    value(*state, n) = 20000;
    EXPECT_EQ(stack(state.get(), {{PUSH, 33}, {PUSH, descriptor}, {CALL}}), std::vector<int32_t>{33});
    EXPECT_EQ(value(*state, n), 0);
    EXPECT_GT(program->intStackCapacity(), capacity);

    // Unbounded recursion is reported at the call instead of running over the stacks.
    const uint32_t forever = code({{PUSH, 0}, {CALL}, {RETURN}}, 300);
    program->setOperand(forever + 1, descriptor);
    system->getVariable(descriptor)->setValue(nullptr, static_cast<int32_t>(forever));
    const CannotEvaluateExpression error =
        evaluationError([&] { run(state.get(), {{PUSH, descriptor}, {CALL}}); });
    EXPECT_STREQ(error.what(), "Stack overflow: recursion too deep");
    EXPECT_EQ(error.getPosition(), packedAt(301));

    // The machine is usable afterwards.
    EXPECT_EQ(run(state.get(), {{PUSH, 3}}), 3);
}

TEST_F(Machine, ReturnOutsideAFunctionIsAnInternalError)
{
    EXPECT_THROW(run(nullptr, {{PUSH, 1}, {RETURN}}), Bug);
}

TEST_F(Machine, DoublesOnAConcreteState)
{
    auto state = concreteState();
    doubleValue(*state, d) = 2.5;
    doubleValue(*state, e) = -1.0;
    value(*state, a) = 7;
    struct Case
    {
        const char* name;
        std::vector<Instr> code;
        std::vector<double> doubles;
    };
    const Case cases[] = {
        {"push", {dpush(1.5)}, {1.5}},
        {"load", {{PUSH, d}, {DOUBLE_LOAD}}, {2.5}},
        {"loadN", {{PUSH, d}, {DOUBLE_LOAD_N, 2}}, {2.5, -1.0}},
        {"int2Double", {{PUSH, -3}, {INT2DOUBLE}}, {-3.0}},
        {"load of an integer variable", {{PUSH, a}, {DOUBLE_LOAD}}, {7.0}},
        {"rational", {{PUSH, 1}, {PUSH, 4}, {RATIONAL2DOUBLE}}, {0.25}},
        {"arithmetic", {dpush(1.5), dpush(2.0), {DOUBLE_PLUS}, dpush(0.5), {DOUBLE_MINUS}, dpush(4.0), {DOUBLE_MUL},
                        dpush(8.0), {DOUBLE_DIV}, {DOUBLE_NEG}}, {-1.5}},
        {"power", {dpush(-2.0), dpush(3.0), {DOUBLE_POW}}, {-8.0}},
        {"integer power", {dpush(2.0), {PUSH, -2}, {DOUBLE_INT}}, {0.25}},
        {"integer power 0", {dpush(2.0), {PUSH, 0}, {DOUBLE_INT}}, {1.0}},
        {"integer power 10", {dpush(2.0), {PUSH, 10}, {DOUBLE_INT}}, {1024.0}},
        {"integer power of the smallest integer", {dpush(2.0), {PUSH, INT_MIN}, {DOUBLE_INT}}, {0.0}},
        {"integer power of one", {dpush(1.0), {PUSH, INT_MIN}, {DOUBLE_INT}}, {1.0}},
        {"minus one to the smallest integer", {dpush(-1.0), {PUSH, INT_MIN}, {DOUBLE_INT}}, {1.0}},
        {"functions", {dpush(0.0), {DOUBLE_COS}, dpush(0.0), {DOUBLE_SIN}, dpush(0.0), {DOUBLE_EXP}, dpush(1.0),
                       {DOUBLE_LN}, dpush(100.0), {DOUBLE_LOG}, dpush(9.0), {DOUBLE_SQRT}},
         {1.0, 0.0, 1.0, 0.0, std::log(100.0) / 2.302585092994046, 3.0}},
        {"rounding", {dpush(-2.5), {DOUBLE_FABS}, dpush(-2.5), {DOUBLE_CEIL}, dpush(-2.5), {DOUBLE_FLOOR}},
         {2.5, -2.0, -3.0}},
        {"minimum and maximum", {dpush(1.0), dpush(2.0), {DOUBLE_MIN}, dpush(1.0), dpush(2.0), {DOUBLE_MAX}}, {1.0, 2.0}},
        {"store", {{PUSH, e}, dpush(4.5), {DOUBLE_STORE}, {POP}, {PUSH, e}, {DOUBLE_LOAD}}, {4.5}},
        {"storeN", {{PUSH, d}, dpush(5.5), dpush(6.5), {DOUBLE_STORE_N, 2}, {DOUBLE_LOAD_N, 2}}, {5.5, 6.5}},
        {"assignN", {{PUSH, e}, {PUSH, d}, {DOUBLE_ASSIGN_N, 1}, {DOUBLE_LOAD}}, {5.5}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(doubles(state.get(), c.code), c.doubles) << c.name;
    }

    EXPECT_EQ(run(state.get(), {dpush(1.0), dpush(1.0), {DOUBLE_EQ}}), 1);
    EXPECT_EQ(run(state.get(), {dpush(1.0), dpush(2.0), {DOUBLE_LT}}), 1);
    EXPECT_EQ(run(state.get(), {dpush(2.0), dpush(1.0), {DOUBLE_LE}}), 0);

    // doubleRet leaves its value in the state's result cell.
    state->result = 0.0;
    EXPECT_EQ(run(state.get(), {{PUSH, 5}, dpush(0.75), {DOUBLE_RET}}), 5);
    EXPECT_EQ(state->result, 0.75);

    // u drawn from [0, 1): x u lies in [0, x).
    for (int i = 0; i < 20; ++i) {
        const std::vector<double> drawn = doubles(state.get(), {dpush(3.0), {DOUBLE_RANDOM}});
        ASSERT_EQ(drawn.size(), 1u);
        EXPECT_GE(drawn[0], 0.0);
        EXPECT_LT(drawn[0], 3.0);
    }
}

TEST_F(Machine, UnorderedAndSignedZeroDoubles)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    // Equal operands give the first one.
    const std::vector<double> minZero = doubles(nullptr, {dpush(0.0), dpush(-0.0), {DOUBLE_MIN}});
    ASSERT_EQ(minZero.size(), 1u);
    EXPECT_FALSE(std::signbit(minZero[0]));
    const std::vector<double> maxZero = doubles(nullptr, {dpush(-0.0), dpush(0.0), {DOUBLE_MAX}});
    EXPECT_TRUE(std::signbit(maxZero[0]));

    EXPECT_TRUE(std::isnan(doubles(nullptr, {dpush(nan), dpush(1.0), {DOUBLE_MIN}})[0]));
    EXPECT_EQ(doubles(nullptr, {dpush(1.0), dpush(nan), {DOUBLE_MIN}})[0], 1.0);
    EXPECT_EQ(doubles(nullptr, {dpush(1.0), dpush(nan), {DOUBLE_MAX}})[0], 1.0);
    for (int32_t op : {DOUBLE_EQ, DOUBLE_LT, DOUBLE_LE}) {
        EXPECT_EQ(run(nullptr, {dpush(nan), dpush(nan), {op}}), 0) << mnemonic(op);
    }
}

TEST_F(Machine, DoubleErrors)
{
    auto state = concreteState();
    struct Case
    {
        std::vector<Instr> code;
        const char* message;
    };
    const Case cases[] = {
        {{dpush(1.0), dpush(1e-16), {DOUBLE_DIV}}, "Division by zero"},
        {{dpush(1.0), dpush(-2.220446049250313e-16), {DOUBLE_DIV}}, "Division by zero"},
        {{{PUSH, 1}, {PUSH, 0}, {RATIONAL2DOUBLE}}, "Division by zero"},
        {{dpush(1.0), dpush(0.0), {DOUBLE_LN}}, "Log of non-positive number"},
        {{dpush(1.0), dpush(-1.0), {DOUBLE_LOG}}, "Log of non-positive number"},
        {{dpush(1.0), dpush(-1.0), {DOUBLE_SQRT}}, "Sqrt of negative number"},
        {{dpush(-8.0), dpush(0.5), {DOUBLE_POW}}, "Bad values for pow"},
    };
    for (const Case& c : cases) {
        const CannotEvaluateExpression error = evaluationError([&] { run(state.get(), c.code); });
        EXPECT_STREQ(error.what(), c.message);
        EXPECT_EQ(error.getPosition(), packedAt(102)) << c.message;
    }
    // Just outside the smallest divisor.
    EXPECT_EQ(doubles(state.get(), {dpush(1.0), dpush(4.5e-16), {DOUBLE_DIV}}).size(), 1u);
}

// Outside double mode (a state that is not concrete) the double instructions leave the double
// stack alone; int2Double, clockStore, clockLoadN and doubleRet switch double mode on.
TEST_F(Machine, DoubleModeOnASymbolicState)
{
    auto state = symbolicState();
    struct Case
    {
        const char* name;
        std::vector<Instr> code;
        std::vector<int32_t> stack;
        size_t doubles;
    };
    const Case cases[] = {
        {"doublePush", {{PUSH, 9}, dpush(1.0)}, {9}, 0},
        {"doubleLoad drops the index", {{PUSH, 9}, {PUSH, d}, {DOUBLE_LOAD}}, {9}, 0},
        {"doubleLoadN drops the index", {{PUSH, 9}, {PUSH, d}, {DOUBLE_LOAD_N, 2}}, {9}, 0},
        {"doubleInt drops the exponent", {{PUSH, 9}, {PUSH, 2}, {DOUBLE_INT}}, {9}, 0},
        {"rational2Double drops both, even over 0", {{PUSH, 9}, {PUSH, 1}, {PUSH, 0}, {RATIONAL2DOUBLE}}, {9}, 0},
        {"doubleAssignN drops the source", {{PUSH, 9}, {PUSH, e}, {PUSH, d}, {DOUBLE_ASSIGN_N, 1}}, {9, e}, 0},
        {"doubleStoreN keeps the index", {{PUSH, 9}, {PUSH, d}, {DOUBLE_STORE_N, 2}}, {9, d}, 0},
        {"doubleEQ pushes 0", {{PUSH, 9}, {DOUBLE_EQ}}, {9, 0}, 0},
        {"arithmetic does nothing", {{PUSH, 9}, {DOUBLE_PLUS}, {DOUBLE_DIV}, {DOUBLE_SQRT}, {DOUBLE_LN}}, {9}, 0},
        {"after int2Double the double instructions act",
         {{PUSH, 9}, {PUSH, 3}, {INT2DOUBLE}, dpush(2.5), {DOUBLE_PLUS}, dpush(5.5), {DOUBLE_EQ}}, {9, 1}, 0},
        {"after int2Double loads act", {{PUSH, 3}, {INT2DOUBLE}, {PUSH, d}, {DOUBLE_LOAD}}, {}, 2},
    };
    for (const Case& c : cases) {
        std::vector<Instr> instrs = c.code;
        instrs.push_back({HALT});
        const uint32_t top = program->execute(state.get(), static_cast<int32_t>(code(instrs)));
        std::vector<int32_t> cells;
        for (uint32_t i = 1; i <= top; ++i) {
            cells.push_back(program->stackCell(i));
        }
        EXPECT_EQ(cells, c.stack) << c.name;
        EXPECT_EQ(program->doubleStackTop(), c.doubles) << c.name;
    }

    // The same code on a concrete state acts at once.
    auto concrete = concreteState();
    EXPECT_EQ(run(concrete.get(), {dpush(1.0), dpush(1.0), {DOUBLE_EQ}}), 1);
    EXPECT_EQ(run(state.get(), {dpush(1.0), dpush(1.0), {DOUBLE_EQ}}), 0);
}

// A double result computed outside double mode: nothing was pushed, and doubleRet (or an
// operation switched on half-way) finds too few doubles. That is reported, never read from
// outside the stack.
TEST_F(Machine, DoublesMissingOutsideDoubleModeAreReported)
{
    auto state = symbolicState();
    state->result = 42.0;
    const std::vector<std::vector<Instr>> codes = {
        {{PUSH, d}, {DOUBLE_LOAD}, {DOUBLE_RET}},
        {dpush(1.0), {DOUBLE_RET}},
        {{PUSH, d}, {DOUBLE_LOAD}, {PUSH, 2}, {INT2DOUBLE}, {DOUBLE_PLUS}},
        {{PUSH, d}, {DOUBLE_LOAD}, {PUSH, 2}, {INT2DOUBLE}, {DOUBLE_LT}},
    };
    for (const auto& c : codes) {
        const CannotEvaluateExpression error = evaluationError([&] { run(state.get(), c); });
        EXPECT_STREQ(error.what(), "Floating-point values are supported only in SMC");
    }
    EXPECT_EQ(state->result, 42.0);

    // Once a double is on the stack, doubleRet returns it in any mode.
    EXPECT_EQ(run(state.get(), {{PUSH, 4}, {INT2DOUBLE}, {DOUBLE_RET}}), 0);
    EXPECT_EQ(state->result, 4.0);
}

TEST_F(Machine, ClocksOfAConcreteState)
{
    auto state = concreteState();
    state->setClockValue(1, 3.0);
    state->setClockValue(2, 1.5);

    EXPECT_EQ(doubles(state.get(), {{PUSH, 1}, {CLOCK_LOAD}}), std::vector<double>{3.0});
    EXPECT_EQ(doubles(state.get(), {{PUSH, 1}, {CLOCK_LOAD_N, 2}}), (std::vector<double>{3.0, 1.5}));

    // clockStore: the clock of the clock variable takes the double.
    EXPECT_EQ(stack(state.get(), {{PUSH, y}, dpush(4.25), {CLOCK_STORE}}), std::vector<int32_t>{y});
    double value = 0.0;
    state->getClockValue(2, value);
    EXPECT_EQ(value, 4.25);

    run(state.get(), {{PUSH, x}, dpush(7.0), dpush(8.0), {CLOCK_STORE_N, 2}});
    state->getClockValue(1, value);
    EXPECT_EQ(value, 7.0);
    state->getClockValue(2, value);
    EXPECT_EQ(value, 8.0);

    run(state.get(), {{PUSH, x}, {PUSH, 2}, {CLOCK_COPY}});
    state->getClockValue(1, value);
    EXPECT_EQ(value, 8.0);

    state->setClockValue(2, 2.0);
    run(state.get(), {{PUSH, x}, {PUSH, y}, {CLOCK_COPY_N, 1}});
    state->getClockValue(1, value);
    EXPECT_EQ(value, 2.0);

    // x = 2: x - 0 <= 2 holds, x - 0 < 2 does not; the same with the raw bound.
    EXPECT_EQ(run(state.get(), {{PUSH, 1}, {PUSH, 0}, {PUSH, 2}, {CEXPR, 0}}), 1);
    EXPECT_EQ(run(state.get(), {{PUSH, 1}, {PUSH, 0}, {PUSH, 2}, {CEXPR, 1}}), 0);
    EXPECT_EQ(run(state.get(), {{CEXPRI, 1, 0, 5}}), 1);
    EXPECT_EQ(run(state.get(), {{CEXPRI, 1, 0, 4}}), 0);
    EXPECT_EQ(run(state.get(), {{CEXPRI, 0, 1, -3}}), 1);
}

// A symbolic state keeps its clocks in the zone: reading one as a number or giving it a double is
// an error at the instruction, which names the clock, in or out of double mode.
TEST_F(Machine, ClockValuesOfASymbolicStateAreErrorsAtTheirInstruction)
{
    auto state = symbolicState();
    const std::string read = "The value of clock 'x' is read as a number, which symbolic checks do not support";
    const std::string given = "Clock 'y' is given a floating-point value, which symbolic checks do not support";
    struct Case
    {
        std::vector<Instr> code;
        std::string message;
        int32_t position;
    };
    const Case cases[] = {
        {{{PUSH, 1}, {CLOCK_LOAD}}, read, 101},
        {{{PUSH, 1}, {CLOCK_LOAD_N, 2}}, read, 101},
        {{{PUSH, y}, dpush(2.5), {CLOCK_STORE}}, given, 102},
        {{{PUSH, y}, {PUSH, 2}, {INT2DOUBLE}, {CLOCK_STORE}}, given, 103},
        {{{PUSH, y}, dpush(1.0), dpush(2.0), {CLOCK_STORE_N, 2}}, given, 103},
    };
    for (const Case& c : cases) {
        const CannotEvaluateExpression error = evaluationError([&] { run(state.get(), c.code); });
        EXPECT_EQ(error.what(), c.message);
        EXPECT_EQ(error.getPosition(), packedAt(c.position)) << c.message;
    }
    // Integer resets and copies stay zone operations.
    EXPECT_EQ(stack(state.get(), {{PUSH, y}, {PUSH, 3}, {STORE}}), std::vector<int32_t>{y});
    EXPECT_EQ(stack(state.get(), {{PUSH, x}, {PUSH, 2}, {CLOCK_COPY}}), std::vector<int32_t>{x});
}

TEST_F(Machine, ARunWithoutAStateMeetsOnlyConstants)
{
    const int32_t seven = constant(7);
    EXPECT_EQ(run(nullptr, {{LID, seven}, {PUSH, 1}, {PLUS}}), 8);
    // Without a state, double mode is on: constant doubles are computed.
    EXPECT_EQ(doubles(nullptr, {{PUSH, 1}, {PUSH, 8}, {RATIONAL2DOUBLE}}), std::vector<double>{0.125});

    const CannotEvaluateExpression error = evaluationError([&] { run(nullptr, {{PUSH, 1}, {LID, a}, {PLUS}}); });
    EXPECT_STREQ(error.what(), "Cannot be evaluated without a state");
    EXPECT_EQ(error.getPosition(), packedAt(101));
    const CannotEvaluateExpression clockError =
        evaluationError([&] { run(nullptr, {{CEXPRI, 1, 0, 1}}); });
    EXPECT_EQ(clockError.getPosition(), packedAt(100));
    EXPECT_THROW(run(nullptr, {{PUSH, 0}, {NUM_OF}}), CannotEvaluateExpression);
}

TEST_F(Machine, DynamicInstructionsNeedAConcreteState)
{
    auto state = symbolicState();
    struct Case
    {
        std::vector<Instr> code;
        const char* message;
    };
    const Case cases[] = {
        {{{PUSH, 0}, {SPAWN}}, "Spawn is supported only in SMC"},
        {{{PUSH, 0}, {EXIT}}, "Exit is supported only in SMC"},
        {{{PUSH, 0}, {NUM_OF}}, "NumOf is supported only in SMC"},
        {{{PUSH, 0}, {PUSH, 0}, {DYNAMIC_EVAL}}, "Dynamic processes are supported only in SMC"},
        {{{PUSH, 0}, {PUSH, 0}, {DYN_PROCESS_INDEX}}, "Dynamic processes are supported only in SMC"},
    };
    for (const Case& c : cases) {
        const CannotEvaluateExpression error = evaluationError([&] { run(state.get(), c.code); });
        EXPECT_STREQ(error.what(), c.message);
    }
}

}  // namespace
}  // namespace machine_test
