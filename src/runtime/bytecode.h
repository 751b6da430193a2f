#pragma once

#include <cstdint>

// The instruction set of the byte-code machine. The numbers are part of the compiled-model dump
// and of every listing, so they never change; a new instruction would be appended at the end.
namespace bytecode {

enum Opcode : int32_t {
    PUSH = 0,
    LOAD = 1,
    LOAD_N = 2,
    LID = 3,
    PLUS = 4,
    MINUS = 5,
    MULT = 6,
    DIV = 7,
    MOD = 8,
    BAND = 9,
    BOR = 10,
    BXOR = 11,
    BLSH = 12,
    BRSH = 13,
    AND = 14,
    XOR = 15,
    LT = 16,
    LE = 17,
    EQ = 18,
    MIN = 19,
    MAX = 20,
    STORE = 21,
    STORE_N = 22,
    STORE_I = 23,
    STORE_I_POP = 24,
    ASSIGN_N = 25,
    INCREMENT = 26,
    COMPARE_N = 27,
    UMINUS = 28,
    NOT = 29,
    COPY = 30,
    POP = 31,
    SWAP = 32,
    CLOCK_LOAD = 33,
    CLOCK_STORE = 34,
    CLOCK_LOAD_N = 35,
    CLOCK_STORE_N = 36,
    CLOCK_COPY = 37,
    CLOCK_COPY_N = 38,
    CEXPR = 39,
    CEXPRI = 40,
    ARRAY = 41,
    JMP = 42,
    JMPZ = 43,
    HALT = 44,
    CALL = 45,
    RETURN = 46,
    ASSERT = 47,
    DOUBLE_PUSH = 48,
    DOUBLE_STORE = 49,
    DOUBLE_PLUS = 50,
    DOUBLE_MINUS = 51,
    DOUBLE_MUL = 52,
    DOUBLE_DIV = 53,
    DOUBLE_NEG = 54,
    DOUBLE_LOAD = 55,
    INT2DOUBLE = 56,
    DOUBLE_RET = 57,
    RATIONAL2DOUBLE = 58,
    DOUBLE_COS = 59,
    DOUBLE_SIN = 60,
    DOUBLE_EXP = 61,
    DOUBLE_LN = 62,
    DOUBLE_LOG = 63,
    DOUBLE_SQRT = 64,
    DOUBLE_RANDOM = 65,
    SPAWN = 66,
    EXIT = 67,
    NUM_OF = 68,
    DYNAMIC_EVAL = 69,
    DYN_PROCESS_INDEX = 70,
    DOUBLE_POW = 71,
    DOUBLE_INT = 72,
    DOUBLE_FABS = 73,
    DOUBLE_CEIL = 74,
    DOUBLE_FLOOR = 75,
    DOUBLE_EQ = 76,
    DOUBLE_LT = 77,
    DOUBLE_LE = 78,
    DOUBLE_MIN = 79,
    DOUBLE_MAX = 80,
    DOUBLE_LOAD_N = 81,
    DOUBLE_STORE_N = 82,
    DOUBLE_ASSIGN_N = 83,
    NOP = 84,
};

// Number of opcodes; valid opcodes are 0 .. OPCODE_COUNT - 1.
inline constexpr int32_t OPCODE_COUNT = 85;

// Number of operand words that follow the opcode word (0 to 3); Bug "Unsupported operation" for
// a number outside the instruction set.
int32_t operandCount(int32_t opcode);

// The mnemonic of an opcode as listings write it ("push", "doubleLoadN", "opSpawn", ...); Bug
// "Unsupported operation" for a number outside the instruction set.
const char* mnemonic(int32_t opcode);

// Raises Bug "Unsupported operation" unless 0 <= opcode < OPCODE_COUNT.
void checkOpcode(int32_t opcode);

}  // namespace bytecode
