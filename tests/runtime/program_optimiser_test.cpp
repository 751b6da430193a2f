// The peephole optimiser: what emitted sequences become, its barriers and scratch regions, the
// compile-time errors of folds, and that folding never changes what the code computes.

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits.h>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include "program_fixture.h"

namespace machine_test {
namespace {

// One step of emitting: an instruction, a doublePush of `d`, or a mark.
using Step = Instr;

constexpr int32_t MARK = -1;

Step D(double value)
{
    return dpush(value);
}

class Optimiser : public MachineTest
{
protected:
    void emitAll(const std::vector<Step>& steps)
    {
        int32_t position = 0;
        for (const Step& s : steps) {
            ++position;
            if (s.op == MARK) {
                program->mark();
            } else if (s.op == DOUBLE_PUSH) {
                program->emitDouble(at(position), s.d);
            } else {
                emit(s.op, s.a, s.b, s.c, position);
            }
        }
    }
};

TEST_F(Optimiser, EmittedSequencesAndWhatTheyBecome)
{
    struct Case
    {
        const char* name;
        std::vector<Step> steps;
        std::vector<std::string> code;
    };
    const Case cases[] = {
        {"constants fold as they are emitted", {{PUSH, 2}, {PUSH, 3}, {PLUS}, {PUSH, 4}, {MULT}}, {"push 20"}},
        {"division is not folded", {{PUSH, 7}, {PUSH, 0}, {DIV}}, {"push 7", "push 0", "div"}},
        {"remainder and shifts are not folded",
         {{PUSH, 7}, {PUSH, 2}, {MOD}, {PUSH, 1}, {BLSH}},
         {"push 7", "push 2", "mod", "push 1", "blsh"}},
        {"store of constants", {{PUSH, 4}, {PUSH, 5}, {STORE}}, {"storeI 4 5"}},
        {"store of constants, popped", {{PUSH, 4}, {PUSH, 5}, {STORE}, {POP}}, {"storeIPop 4 5"}},
        {"load of a constant index", {{PUSH, 3}, {LOAD}}, {"lid 3"}},
        {"integer power of a double",
         {{PUSH, 1}, {DOUBLE_LOAD}, D(2.0), {DOUBLE_POW}},
         {"push 1", "doubleLoad", "push 2", "doubleInt"}},
        {"square root", {{PUSH, 1}, {DOUBLE_LOAD}, D(0.5), {DOUBLE_POW}}, {"push 1", "doubleLoad", "doubleSqrt"}},
        {"power one", {{PUSH, 1}, {DOUBLE_LOAD}, D(1.0), {DOUBLE_POW}}, {"push 1", "doubleLoad"}},
        {"fractional power stays", {{PUSH, 1}, {DOUBLE_LOAD}, D(1.5), {DOUBLE_POW}},
         {"push 1", "doubleLoad", "doublePush 1.5", "doublePow"}},
        {"power beyond 32 bits stays", {{PUSH, 1}, {DOUBLE_LOAD}, D(1e10), {DOUBLE_POW}},
         {"push 1", "doubleLoad", "doublePush 1e+10", "doublePow"}},
        {"power of infinity stays", {{PUSH, 1}, {DOUBLE_LOAD}, D(HUGE_VAL), {DOUBLE_POW}},
         {"push 1", "doubleLoad", "doublePush inf", "doublePow"}},
        {"constant array index", {{LID, 9}, {PUSH, 2}, {ARRAY, 3, 4}}, {"lid 9", "push 8", "plus"}},
        {"constant array index on a constant base", {{PUSH, 10}, {PUSH, 2}, {ARRAY, 3, 4}}, {"push 18"}},
        {"index zero adds nothing", {{LID, 9}, {PUSH, 0}, {ARRAY, 3, 4}}, {"lid 9"}},
        {"bad constant index stays", {{LID, 9}, {PUSH, 3}, {ARRAY, 3, 4}}, {"lid 9", "push 3", "array 3 4"}},
        {"negative constant index stays", {{LID, 9}, {PUSH, -1}, {ARRAY, 3, 4}}, {"lid 9", "push -1", "array 3 4"}},
        {"nothing folds across a mark", {{PUSH, 1}, {MARK}, {PUSH, 2}, {PLUS}}, {"push 1", "push 2", "plus"}},
        {"nothing folds across a halt", {{PUSH, 1}, {HALT}, {PUSH, 2}, {PLUS}}, {"push 1", "halt", "push 2", "plus"}},
        {"clock comparison of constants", {{PUSH, 1}, {PUSH, 2}, {PUSH, 3}, {CEXPR, 0}}, {"cexpri 1 2 7"}},
        {"strict clock comparison of constants", {{PUSH, 1}, {PUSH, 2}, {PUSH, -3}, {CEXPR, 1}}, {"cexpri 1 2 -6"}},
        {"swap of loads", {{PUSH, 1}, {LID, 5}, {SWAP}}, {"lid 5", "push 1"}},
        {"swap then fold", {{PUSH, 1}, {PUSH, 2}, {SWAP}, {MINUS}}, {"push 1"}},
        {"double negation of a test", {{LID, 5}, {LID, 6}, {LT}, {NOT}, {NOT}}, {"lid 5", "lid 6", "lt"}},
        {"double negation of a double test",
         {{PUSH, 1}, {DOUBLE_LOAD}, D(1.0), {DOUBLE_LE}, {NOT}, {NOT}},
         {"push 1", "doubleLoad", "doublePush 1", "doubleLE"}},
        {"double negation of a number stays", {{LID, 5}, {LID, 6}, {PLUS}, {NOT}, {NOT}},
         {"lid 5", "lid 6", "plus", "not", "not"}},
        {"rational constant", {{PUSH, 1}, {PUSH, 4}, {RATIONAL2DOUBLE}}, {"doublePush 0.25"}},
        {"double constants", {D(1.5), D(2.5), {DOUBLE_PLUS}, D(2.0), {DOUBLE_POW}}, {"doublePush 16"}},
        {"double minimum and maximum", {D(1.5), D(-2.5), {DOUBLE_MIN}, D(7.0), {DOUBLE_MAX}}, {"doublePush 7"}},
        {"double division of constants", {D(1.0), D(8.0), {DOUBLE_DIV}}, {"doublePush 0.125"}},
        {"multiplication by one", {{PUSH, 1}, {DOUBLE_LOAD}, D(1.0), {DOUBLE_MUL}}, {"push 1", "doubleLoad"}},
        {"addition of zero", {{PUSH, 1}, {DOUBLE_LOAD}, D(0.0), {DOUBLE_PLUS}}, {"push 1", "doubleLoad"}},
        {"multiplication by two stays", {{PUSH, 1}, {DOUBLE_LOAD}, D(2.0), {DOUBLE_MUL}},
         {"push 1", "doubleLoad", "doublePush 2", "doubleMul"}},
        {"negated constant", {{PUSH, INT_MIN}, {UMINUS}, {PUSH, 5}, {UMINUS}, {PLUS}}, {"push 2147483643"}},
        {"negated truth", {{PUSH, 0}, {NOT}, {PUSH, 5}, {NOT}}, {"push 1", "push 0"}},
        {"adding zero", {{LID, 5}, {PUSH, 0}, {PLUS}, {PUSH, 0}, {MINUS}}, {"lid 5"}},
        {"multiplying by one", {{LID, 5}, {PUSH, 1}, {MULT}}, {"lid 5"}},
        {"adding one stays", {{LID, 5}, {PUSH, 1}, {PLUS}}, {"lid 5", "push 1", "plus"}},
        {"copy of a variable", {{PUSH, 3}, {LID, 7}, {LOAD}, {STORE}}, {"push 3", "lid 7", "assignN 1"}},
        {"copy of a double variable", {{PUSH, 3}, {LID, 7}, {DOUBLE_LOAD}, {DOUBLE_STORE}},
         {"push 3", "lid 7", "doubleAssignN 1"}},
        {"copy of a clock", {{PUSH, 3}, {LID, 7}, {CLOCK_LOAD}, {CLOCK_STORE}}, {"push 3", "lid 7", "clockCopy"}},
        {"copy of a record", {{LID, 3}, {LID, 7}, {LOAD_N, 2}, {STORE_N, 2}}, {"lid 3", "lid 7", "assignN 2"}},
        {"copy of a double record", {{LID, 3}, {LID, 7}, {DOUBLE_LOAD_N, 2}, {DOUBLE_STORE_N, 2}},
         {"lid 3", "lid 7", "doubleAssignN 2"}},
        {"copy of clocks", {{LID, 3}, {LID, 7}, {CLOCK_LOAD_N, 2}, {CLOCK_STORE_N, 2}},
         {"lid 3", "lid 7", "clockCopyN 2"}},
        {"unequal sizes stay", {{LID, 3}, {LID, 7}, {LOAD_N, 2}, {STORE_N, 3}},
         {"lid 3", "lid 7", "loadN 2", "storeN 3"}},
        {"one cell is a plain load", {{PUSH, 3}, {LOAD_N, 1}}, {"lid 3"}},
        {"one cell is a plain store", {{PUSH, 4}, {PUSH, 5}, {STORE_N, 1}, {POP}}, {"storeIPop 4 5"}},
        {"one clock", {{LID, 4}, {CLOCK_LOAD_N, 1}, {LID, 5}, {CLOCK_STORE_N, 1}},
         {"lid 4", "clockLoad", "lid 5", "clockStore"}},
        {"one double", {{LID, 3}, {LID, 4}, {DOUBLE_LOAD_N, 1}, {DOUBLE_STORE_N, 1}}, {"lid 3", "lid 4", "doubleAssignN 1"}},
        {"copy of a constant", {{PUSH, 3}, {COPY}}, {"push 3", "push 3"}},
        {"integer to double", {{PUSH, 3}, {INT2DOUBLE}}, {"doublePush 3"}},
        {"functions of constants",
         {D(16.0), {DOUBLE_SQRT}, D(1000.0), {DOUBLE_LOG}, {DOUBLE_PLUS}, D(-2.5), {DOUBLE_FABS}, {DOUBLE_MUL}},
         {"doublePush 17.5"}},
        {"rounding of constants", {D(2.5), {DOUBLE_CEIL}, D(-2.5), {DOUBLE_FLOOR}, {DOUBLE_MINUS}}, {"doublePush 6"}},
        {"negation of a double is not folded", {D(2.5), {DOUBLE_NEG}}, {"doublePush 2.5", "doubleNeg"}},
    };
    for (const Case& c : cases) {
        program->truncate(0);
        program->mark();
        emitAll(c.steps);
        EXPECT_EQ(instructions(), c.code) << c.name;
    }
}

TEST_F(Optimiser, ReplacementsTakeTheSpanOfTheFirstMatchedInstruction)
{
    emit(PUSH, 4, 0, 0, 10);
    emit(PUSH, 5, 0, 0, 11);
    emit(STORE, 0, 0, 0, 12);
    emit(POP, 0, 0, 0, 13);
    EXPECT_EQ(instructions(), std::vector<std::string>{"storeIPop 4 5"});
    for (uint32_t i = 0; i < 3; ++i) {
        EXPECT_EQ(program->positionAt(i), packedAt(10)) << i;
    }

    // Rewritten in place: the instruction keeps its span.
    program->mark();
    emit(PUSH, 3, 0, 0, 20);
    emit(LOAD, 0, 0, 0, 21);
    EXPECT_EQ(program->opcodeAt(3), LID);
    EXPECT_EQ(program->positionAt(3), packedAt(20));
    EXPECT_EQ(program->size(), 5u);
}

TEST_F(Optimiser, ConstantVariablesAreReadAtCompileTime)
{
    constant(0);
    constant(1);
    constant(2);
    const int32_t nine = constant(9);
    ASSERT_EQ(nine, 3);
    const int32_t x = clock("x");
    const int32_t v = intVariable("v");
    const int32_t extra = index(system->addConstant(11, true));

    emit(PUSH, nine);
    emit(LOAD);
    EXPECT_EQ(instructions(), std::vector<std::string>{"push 9"});

    program->truncate(0);
    program->mark();
    emit(LID, x);
    emit(LID, v);
    emit(LID, extra);
    EXPECT_EQ(instructions(), (std::vector<std::string>{"push 0", "lid " + std::to_string(v),
                                                        "lid " + std::to_string(extra)}));

    // The folded constant takes part in further folds.
    program->truncate(0);
    program->mark();
    emit(PUSH, 1);
    emit(LID, nine);
    emit(PLUS);
    EXPECT_EQ(instructions(), std::vector<std::string>{"push 10"});
}

TEST_F(Optimiser, FailedFoldsAreCompileTimeErrorsAndKeepTheCode)
{
    struct Case
    {
        const char* name;
        std::vector<Step> steps;
        const char* message;
        packed_span_t span;
        std::vector<std::string> code;
    };
    const Case cases[] = {
        {"rational over zero", {{PUSH, 1}, {PUSH, 0}, {RATIONAL2DOUBLE}}, "Division by zero", packedAt(1),
         {"push 1", "push 0", "rational2Double"}},
        {"double division by zero", {D(1.0), D(0.0), {DOUBLE_DIV}}, "Division by zero", NO_POSITION,
         {"doublePush 1", "doublePush 0", "doubleDiv"}},
        {"fractional power of a negative number", {D(-8.0), D(0.5), {DOUBLE_POW}}, "Bad value for pow",
         NO_POSITION, {"doublePush -8", "doublePush 0.5", "doublePow"}},
        {"logarithm of zero", {D(0.0), {DOUBLE_LN}}, "ln of non-positive", NO_POSITION, {"doublePush 0", "doubleLn"}},
        {"decimal logarithm of a negative number", {D(-1.0), {DOUBLE_LOG}}, "log of non-positive", NO_POSITION,
         {"doublePush -1", "doubleLog"}},
        {"square root of a negative number", {D(-1.0), {DOUBLE_SQRT}}, "sqrt of negative", NO_POSITION,
         {"doublePush -1", "doubleSqrt"}},
    };
    for (const Case& c : cases) {
        program->truncate(0);
        program->mark();
        const CannotEvaluateExpression error = evaluationError([&] { emitAll(c.steps); });
        EXPECT_STREQ(error.what(), c.message) << c.name;
        EXPECT_EQ(error.getPosition(), c.span) << c.name;
        EXPECT_EQ(error.getStateNumber(), -1) << c.name;
        EXPECT_EQ(error.getContext(), "") << c.name;
        // The failing instruction is appended and nothing before it is changed.
        EXPECT_EQ(instructions(), c.code) << c.name;
    }
}

TEST_F(Optimiser, ScratchCodeIsRemovedAndTheWindowRestored)
{
    emit(LID, 5);
    emit(PUSH, 2, 0, 0, 7);
    const uint32_t size = program->size();
    const uint32_t start = program->beginScratch();
    EXPECT_EQ(start, size);
    emit(PUSH, 9);
    emit(PUSH, 1);
    emit(PLUS);
    emit(HALT);
    EXPECT_EQ(result(nullptr, start), 10);
    program->endScratch(start);
    EXPECT_EQ(program->size(), size);
    EXPECT_EQ(instructions(), (std::vector<std::string>{"lid 5", "push 2"}));
    EXPECT_EQ(program->positionAt(2), packedAt(7));

    // The code around the scratch region folds as if it had not been there.
    emit(PUSH, 3);
    emit(PLUS);
    emit(PUSH, 0);
    emit(PLUS);
    EXPECT_EQ(instructions(), (std::vector<std::string>{"lid 5", "push 5"}));

    // Regions nest.
    const uint32_t outer = program->beginScratch();
    emit(PUSH, 1);
    const uint32_t inner = program->beginScratch();
    emit(PUSH, 2);
    program->endScratch(inner);
    emit(PUSH, 4);
    emit(PLUS);
    EXPECT_EQ(instructions(outer), std::vector<std::string>{"push 5"});
    program->endScratch(outer);
    EXPECT_EQ(program->size(), 4u);
}

// Every fold gives what running the unfolded code gives: the same code once emitted in one go
// and once with a mark before each instruction, which keeps the optimiser from seeing pairs.
TEST_F(Optimiser, FoldingNeverChangesTheResult)
{
    const unsigned seed = std::getenv("MIRVEK_TEST_SEED") ? std::strtoul(std::getenv("MIRVEK_TEST_SEED"), nullptr, 10)
                                                          : 20240611u;
    std::mt19937 random(seed);
    SCOPED_TRACE("seed " + std::to_string(seed));
    const int32_t specials[] = {INT_MIN, INT_MIN + 1, -65536, -33, -1, 0, 1, 2, 31, 32, 65536, INT_MAX};
    auto pick = [&]() -> int32_t {
        if (random() % 3 == 0) {
            return specials[random() % std::size(specials)];
        }
        return static_cast<int32_t>(random());
    };

    auto run = [&](const std::vector<Step>& steps, bool separated, bool doubles) {
        program->truncate(0);
        program->mark();
        const uint32_t start = program->mark();
        for (const Step& s : steps) {
            if (separated) {
                program->mark();
            }
            if (s.op == DOUBLE_PUSH) {
                program->emitDouble(at(1), s.d);
            } else {
                emit(s.op, s.a, s.b, s.c);
            }
        }
        emit(HALT);
        const uint32_t cell = program->execute(nullptr, static_cast<int32_t>(start));
        if (doubles) {
            EXPECT_EQ(program->doubleStackTop(), 1u);
            return program->doubleStackBottom()[0];
        }
        return static_cast<double>(program->stackCell(cell));
    };

    const int32_t integerOps[] = {PLUS, MINUS, MULT, BAND, BOR, BXOR, AND, XOR, LT, LE, EQ, MIN, MAX};
    for (int round = 0; round < 200; ++round) {
        const int32_t a = pick();
        const int32_t b = pick();
        for (int32_t op : integerOps) {
            const std::vector<Step> steps = {{PUSH, a}, {PUSH, b}, {op}};
            EXPECT_EQ(run(steps, false, false), run(steps, true, false)) << mnemonic(op) << ' ' << a << ' ' << b;
        }
        for (int32_t op : {UMINUS, NOT}) {
            const std::vector<Step> steps = {{PUSH, a}, {op}};
            EXPECT_EQ(run(steps, false, false), run(steps, true, false)) << mnemonic(op) << ' ' << a;
        }
        if (b != 0) {
            const std::vector<Step> steps = {{PUSH, a}, {PUSH, b}, {RATIONAL2DOUBLE}};
            EXPECT_EQ(run(steps, false, true), run(steps, true, true)) << a << '/' << b;
        }
        const std::vector<Step> conversion = {{PUSH, a}, {INT2DOUBLE}};
        EXPECT_EQ(run(conversion, false, true), run(conversion, true, true)) << a;
    }

    std::uniform_real_distribution<double> value(-50.0, 50.0);
    const int32_t binary[] = {DOUBLE_PLUS, DOUBLE_MINUS, DOUBLE_MUL, DOUBLE_DIV, DOUBLE_MIN, DOUBLE_MAX, DOUBLE_POW};
    const int32_t unary[] = {DOUBLE_COS,  DOUBLE_SIN,  DOUBLE_EXP,  DOUBLE_LN,   DOUBLE_LOG,
                             DOUBLE_SQRT, DOUBLE_FABS, DOUBLE_CEIL, DOUBLE_FLOOR};
    for (int round = 0; round < 200; ++round) {
        const double x = std::fabs(value(random)) / 5.0 + 0.01;
        const double y = round % 4 == 0 ? std::trunc(value(random) / 10.0) : value(random) / 10.0;
        const double signedX = round % 2 == 0 ? -x : x;
        for (int32_t op : binary) {
            if (op == DOUBLE_DIV && y == 0.0) {
                continue;
            }
            const double left = op == DOUBLE_POW && std::trunc(y) != y ? x : signedX;
            const std::vector<Step> steps = {D(left), D(y), {op}};
            EXPECT_EQ(run(steps, false, true), run(steps, true, true)) << mnemonic(op) << ' ' << left << ' ' << y;
        }
        for (int32_t op : unary) {
            const double argument = op == DOUBLE_LN || op == DOUBLE_LOG || op == DOUBLE_SQRT ? x : signedX;
            const std::vector<Step> steps = {D(argument), {op}};
            const double folded = run(steps, false, true);
            const double unfolded = run(steps, true, true);
            if (op == DOUBLE_LOG) {
                // The fold takes the decimal logarithm, the machine ln x / ln 10.
                EXPECT_NEAR(folded, unfolded, 4e-16 * std::fmax(1.0, std::fabs(unfolded))) << argument;
            } else {
                EXPECT_EQ(folded, unfolded) << mnemonic(op) << ' ' << argument;
            }
        }
    }
}

// MIRVEK_DISABLE_OPTIMISER is read once at start-up, so the check runs in a process of its own
// started with the variable defined (empty: its value does not matter).
TEST(OptimiserSwitch, OffWhenDefined)
{
    if (std::getenv("MIRVEK_DISABLE_OPTIMISER") == nullptr) {
        GTEST_SKIP() << "runs in the child process of OptimiserSwitch.DefinedInTheEnvironment";
    }
    base::RefPtr<System> system(new System());
    base::RefPtr<Program> program(new Program(system.get()));
    program->emit(at(0), PUSH, 2);
    program->emit(at(1), PUSH, 3);
    program->emit(at(2), PLUS);
    program->emit(at(3), PUSH, 4);
    program->emit(at(4), STORE_N, 1);
    EXPECT_EQ(program->size(), 9u);
    EXPECT_EQ(program->opcodeAt(4), PLUS);
    EXPECT_EQ(program->opcodeAt(7), STORE_N);
}

TEST(OptimiserSwitch, DefinedInTheEnvironment)
{
    if (std::getenv("MIRVEK_DISABLE_OPTIMISER") != nullptr) {
        GTEST_SKIP() << "the parent of this check";
    }
    char self[PATH_MAX] = {};
    ASSERT_GT(readlink("/proc/self/exe", self, sizeof(self) - 1), 0);
    // The child passes the check (and really runs it rather than skipping it).
    const std::string listed = std::string("MIRVEK_DISABLE_OPTIMISER= '") + self +
                               "' --gtest_filter=OptimiserSwitch.OffWhenDefined 2>&1 | grep -q 'OK \\] OptimiserSwitch.OffWhenDefined'";
    EXPECT_EQ(std::system(listed.c_str()), 0);
}

}  // namespace
}  // namespace machine_test
