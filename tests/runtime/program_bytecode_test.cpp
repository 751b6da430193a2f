// The instruction format, the opcode table and the listing of the byte-code machine.

#include <gtest/gtest.h>

#include <bit>
#include <iomanip>
#include <set>
#include <sstream>
#include <string>

#include "program_fixture.h"
#include "support/exceptions.h"

namespace machine_test {
namespace {

TEST(OpcodeTable, OperandCountsAndMnemonics)
{
    const std::set<int32_t> one = {PUSH,      LOAD_N,    LID,  STORE_N, ASSIGN_N,     COMPARE_N,
                                   CLOCK_LOAD_N, CLOCK_STORE_N, CLOCK_COPY_N, CEXPR, JMP, JMPZ,
                                   DOUBLE_LOAD_N, DOUBLE_STORE_N, DOUBLE_ASSIGN_N};
    const std::set<int32_t> two = {STORE_I, STORE_I_POP, ARRAY, DOUBLE_PUSH};
    for (int32_t op = 0; op < OPCODE_COUNT; ++op) {
        const int32_t expected = op == CEXPRI ? 3 : two.count(op) ? 2 : one.count(op) ? 1 : 0;
        EXPECT_EQ(Program::operandCount(op), expected) << mnemonic(op);
    }
    EXPECT_STREQ(mnemonic(OPCODE_COUNT - 1), "nop");
    EXPECT_STREQ(mnemonic(SPAWN), "opSpawn");
    EXPECT_STREQ(mnemonic(DYN_PROCESS_INDEX), "opDynProcessIndex");
    EXPECT_STREQ(mnemonic(INT2DOUBLE), "int2Double");
    EXPECT_STREQ(mnemonic(DOUBLE_FABS), "doubleFAbs");

    for (int32_t bad : {85, -1, 1000}) {
        try {
            Program::operandCount(bad);
            ADD_FAILURE() << bad;
        } catch (const Bug& bug) {
            EXPECT_STREQ(bug.what(), "Unsupported operation");
        }
        EXPECT_THROW(mnemonic(bad), Bug);
    }
}

class ProgramWords : public MachineTest
{};

TEST_F(ProgramWords, OperandsAreSignExtendedAndEveryWordHasTheSpan)
{
    program->mark();
    emit(JMP, -1, 0, 0, 3);
    ASSERT_EQ(program->size(), 2u);
    EXPECT_EQ(*program->codeAt(0), JMP);
    EXPECT_EQ(static_cast<uint64_t>(*program->codeAt(1)), 0xffffffffffffffffull);
    EXPECT_EQ(program->operandAt(0, 0), -1);
    EXPECT_EQ(program->positionAt(0), packedAt(3));
    EXPECT_EQ(program->positionAt(1), packedAt(3));

    program->setOperand(1, 17);
    EXPECT_EQ(program->operandAt(0, 0), 17);
    program->setOpcode(0, JMPZ);
    EXPECT_EQ(program->opcodeAt(0), JMPZ);
    EXPECT_THROW(program->setOpcode(0, 85), Bug);
}

TEST_F(ProgramWords, DoublePushHoldsTheLowHalfFirst)
{
    program->emitDouble(at(0), 1.5);
    const uint64_t bits = std::bit_cast<uint64_t>(1.5);
    ASSERT_EQ(program->size(), 3u);
    EXPECT_EQ(*program->codeAt(1), 0);
    EXPECT_EQ(*program->codeAt(2), static_cast<int32_t>(bits >> 32));

    // A low half with its top bit set is stored sign-extended and read back whole.
    const double odd = std::bit_cast<double>(0x3ff00000ffffffffull);
    program->mark();
    program->emitDouble(at(1), odd);
    EXPECT_EQ(*program->codeAt(4), -1);
    program->emit(at(2), DOUBLE_RET);
    program->emit(at(2), HALT);
    auto state = concreteState();
    program->execute(state.get(), 3);
    EXPECT_EQ(std::bit_cast<uint64_t>(state->result), 0x3ff00000ffffffffull);
}

TEST_F(ProgramWords, HandlersAreInstalledOnceForEveryOpcode)
{
    EXPECT_EQ(program->handlerMapSize(), 85u);
    EXPECT_EQ(program->execute(nullptr, -1), 0u);
    EXPECT_EQ(program->handlerMapSize(), 85u);
    EXPECT_EQ(program->size(), 0u);
}

TEST_F(ProgramWords, NopsReserveRoomAndCloseTheWindow)
{
    emit(PUSH, 1);
    const uint32_t first = program->emitNops(at(1), 3);
    EXPECT_EQ(first, 2u);
    emit(PUSH, 2);
    emit(PLUS);
    EXPECT_EQ(instructions(), (std::vector<std::string>{"push 1", "nop", "nop", "nop", "push 2", "plus"}));
}

// One listing line per instruction: index, opcode and operand words, tabs to column 24, the
// mnemonic and its operands.
TEST_F(ProgramWords, ListingLines)
{
    struct Case
    {
        uint32_t index;
        int32_t opcode;
        int32_t a, b, c;
        const char* line;
    };
    const Case cases[] = {
        {0, LID, 7, 0, 0, "0: 3 7 \t\t\tlid 7\n"},
        {12, PUSH, 5, 0, 0, "12: 0 5 \t\tpush 5\n"},
        {40, ARRAY, 3, 2, 0, "40: 41 3 2 \t\tarray 3 2\n"},
        {5, HALT, 0, 0, 0, "5: 44 \t\t\thalt\n"},
        {9, CALL, 0, 0, 0, "9: 45 \t\t\tcall \n"},
        {9, CLOCK_COPY_N, 4, 0, 0, "9: 38 4 \t\tclockCopyN4\n"},
        {9, STORE_I, 4, -5, 0, "9: 23 4 -5 \t\tstoreI 4 -5\n"},
        {9, STORE_I_POP, 4, 5, 0, "9: 24 4 5 \t\tstoreIPop 4 5\n"},
        {1234, CEXPRI, 1, 2, 7, "1234: 40 1 2 7 \t\tcexpri 1 2 7\n"},
        {100000, JMPZ, 2000000, 0, 0, "100000: 43 2000000 \tjmpz 2000000\n"},
        // A prefix of 24 characters or more is followed by a new line and three tabs.
        {9, CEXPRI, 1000, 2000, 300000, "9: 40 1000 2000 300000 \tcexpri 1000 2000 300000\n"},
        {9, CEXPRI, 1000, 2000, 3000000, "9: 40 1000 2000 3000000 \n\t\t\tcexpri 1000 2000 3000000\n"},
        {10000, JMP, -1, 0, 0, "10000: 42 -1 \t\tjmp -1\n"},
    };
    for (const Case& c : cases) {
        base::RefPtr<Program> p(new Program(system.get()));
        p->emitNops(NO_POSITION, c.index);
        p->mark();
        p->emit(NO_POSITION, c.opcode, c.a, c.b, c.c);
        std::ostringstream out;
        out << std::setprecision(2) << std::fixed;  // the listing does not depend on the stream's format
        p->disassemble(out, c.index);
        EXPECT_EQ(out.str(), c.line) << mnemonic(c.opcode);
    }
}

TEST_F(ProgramWords, ListingOfTheWholeCode)
{
    emit(PUSH, 2);
    program->mark();
    program->emitDouble(at(1), 0.1);
    program->mark();
    program->emitDouble(at(1), 1234567.0);
    emit(DOUBLE_RET);
    emit(HALT);
    const uint64_t bits = std::bit_cast<uint64_t>(0.1);
    const uint64_t big = std::bit_cast<uint64_t>(1234567.0);
    std::ostringstream expected;
    expected << "0: 0 2 \t\t\tpush 2\n"
             << "2: 48 " << static_cast<int32_t>(bits & 0xffffffffu) << ' ' << static_cast<int32_t>(bits >> 32)
             << " \n\t\t\tdoublePush 0.1\n"
             << "5: 48 " << static_cast<int32_t>(big & 0xffffffffu) << ' ' << static_cast<int32_t>(big >> 32)
             << " \tdoublePush 1.23457e+06\n"
             << "8: 57 \t\t\tdoubleRet\n"
             << "9: 44 \t\t\thalt\n";
    EXPECT_EQ(listing(), expected.str());
}

}  // namespace
}  // namespace machine_test
