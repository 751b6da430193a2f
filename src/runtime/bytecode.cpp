#include "runtime/bytecode.h"

#include "support/exceptions.h"

namespace bytecode {

namespace {

struct OpcodeInfo
{
    const char* mnemonic;
    int32_t operands;
};

// Indexed by opcode number.
constexpr OpcodeInfo opcodeTable[OPCODE_COUNT] = {
    {"push", 1},             {"load", 0},          {"loadN", 1},         {"lid", 1},
    {"plus", 0},             {"minus", 0},         {"mult", 0},          {"div", 0},
    {"mod", 0},              {"band", 0},          {"bor", 0},           {"bxor", 0},
    {"blsh", 0},             {"brsh", 0},          {"and", 0},           {"xor", 0},
    {"lt", 0},               {"le", 0},            {"eq", 0},            {"min", 0},
    {"max", 0},              {"store", 0},         {"storeN", 1},        {"storeI", 2},
    {"storeIPop", 2},        {"assignN", 1},       {"increment", 0},     {"compareN", 1},
    {"uminus", 0},           {"not", 0},           {"copy", 0},          {"pop", 0},
    {"swap", 0},             {"clockLoad", 0},     {"clockStore", 0},    {"clockLoadN", 1},
    {"clockStoreN", 1},      {"clockCopy", 0},     {"clockCopyN", 1},    {"cexpr", 1},
    {"cexpri", 3},           {"array", 2},         {"jmp", 1},           {"jmpz", 1},
    {"halt", 0},             {"call", 0},          {"return", 0},        {"assert", 0},
    {"doublePush", 2},       {"doubleStore", 0},   {"doublePlus", 0},    {"doubleMinus", 0},
    {"doubleMul", 0},        {"doubleDiv", 0},     {"doubleNeg", 0},     {"doubleLoad", 0},
    {"int2Double", 0},       {"doubleRet", 0},     {"rational2Double", 0}, {"doubleCos", 0},
    {"doubleSin", 0},        {"doubleExp", 0},     {"doubleLn", 0},      {"doubleLog", 0},
    {"doubleSqrt", 0},       {"doubleRandom", 0},  {"opSpawn", 0},       {"opExit", 0},
    {"opNumOf", 0},          {"opDynamicEval", 0}, {"opDynProcessIndex", 0}, {"doublePow", 0},
    {"doubleInt", 0},        {"doubleFAbs", 0},    {"doubleCeil", 0},    {"doubleFloor", 0},
    {"doubleEQ", 0},         {"doubleLT", 0},      {"doubleLE", 0},      {"doubleMin", 0},
    {"doubleMax", 0},        {"doubleLoadN", 1},   {"doubleStoreN", 1},  {"doubleAssignN", 1},
    {"nop", 0},
};

}  // namespace

void checkOpcode(int32_t opcode)
{
    if (opcode < 0 || opcode >= OPCODE_COUNT) {
        throw Bug("Unsupported operation");
    }
}

int32_t operandCount(int32_t opcode)
{
    checkOpcode(opcode);
    return opcodeTable[opcode].operands;
}

const char* mnemonic(int32_t opcode)
{
    checkOpcode(opcode);
    return opcodeTable[opcode].mnemonic;
}

}  // namespace bytecode
