// The Program container and its emitter: appending instructions with their spans, the peephole
// optimiser, scratch regions and the listing.

#include "runtime/program.h"

#include <bit>
#include <cstdlib>
#include <cstring>
#include <iomanip>
#include <ostream>
#include <sstream>
#include <string>

#include "runtime/bytecode_math.h"
#include "runtime/exceptions.h"
#include "runtime/system.h"
#include "runtime/variable.h"
#include "support/exceptions.h"
#include "support/random.h"

using namespace bytecode;

namespace {

// The optimiser is switched off for the whole process by defining MIRVEK_DISABLE_OPTIMISER,
// whatever its value. Read once, before main runs.
const bool optimiserDisabled = std::getenv("MIRVEK_DISABLE_OPTIMISER") != nullptr;

constexpr uint32_t initialCodeRoom = 4000;

inline Program::Word signExtend(int32_t value)
{
    return static_cast<Program::Word>(value);
}

inline uint64_t doubleBits(double value)
{
    return std::bit_cast<uint64_t>(value);
}

}  // namespace

Program::Program(System* system)
    : system(system),
      intStack(new int32_t[1024]()),
      doubleStack(new double[512]())
{
    RandomGenerator::create(&random);
    execute(nullptr, -1);
    code.reserve(initialCodeRoom);
}

Program::~Program()
{
    RandomGenerator::destroy(&random);
}

// ----- Emission -------------------------------------------------------------------------------

void Program::emit(ZOLT::span_t span, int32_t opcode, int32_t a, int32_t b, int32_t c)
{
    emit(span.packed(), opcode, a, b, c);
}

void Program::emit(packed_span_t span, int32_t opcode, int32_t a, int32_t b, int32_t c)
{
    checkOpcode(opcode);
    const int32_t operands[3] = {a, b, c};
    window.push_back(size());
    append(span, opcode, operands);
    if (opcode == HALT || opcode == RETURN) {
        window.clear();
        return;
    }
    if (!optimiserDisabled) {
        optimise();
    }
}

void Program::emitDouble(ZOLT::span_t span, double value)
{
    emitDouble(span.packed(), value);
}

void Program::emitDouble(packed_span_t span, double value)
{
    const uint64_t bits = doubleBits(value);
    emit(span, DOUBLE_PUSH, static_cast<int32_t>(static_cast<uint32_t>(bits)),
         static_cast<int32_t>(static_cast<uint32_t>(bits >> 32)));
}

void Program::append(packed_span_t span, int32_t opcode, const int32_t* operands)
{
    const int32_t count = operandCount(opcode);
    positions.push_back(span);
    code.push_back(opcode);
    for (int32_t k = 0; k < count; ++k) {
        positions.push_back(span);
        code.push_back(signExtend(operands[k]));
    }
    raiseEstimates(opcode, count > 0 ? operands[0] : 0);
}

// The estimates count every cell the code may push, so that straight-line code never needs more
// cells than the stacks have. Besides the pushing instructions proper, the double comparisons
// push their integer result and rational2Double its double.
void Program::raiseEstimates(int32_t opcode, int32_t operand)
{
    const uint32_t n = operand > 0 ? static_cast<uint32_t>(operand) : 0;
    switch (opcode) {
    case PUSH:
    case LID:
    case STORE_I:
    case COPY:
    case CEXPRI:
    case CALL:
    case DOUBLE_EQ:
    case DOUBLE_LT:
    case DOUBLE_LE:
        intEstimate += 1;
        break;
    case LOAD_N:
        intEstimate += n;
        break;
    case CLOCK_LOAD:
    case DOUBLE_PUSH:
    case DOUBLE_LOAD:
    case INT2DOUBLE:
    case RATIONAL2DOUBLE:
        doubleEstimate += 1;
        break;
    case CLOCK_LOAD_N:
    case DOUBLE_LOAD_N:
        doubleEstimate += n;
        break;
    default:
        return;
    }
    growStacks();
}

void Program::growStacks()
{
    if (intEstimate > intCapacity) {
        growIntStack(2 * intEstimate, intCapacity);
    }
    if (doubleEstimate > doubleCapacity) {
        growDoubleStack(2 * doubleEstimate, doubleCapacity);
    }
}

void Program::growIntStack(uint32_t needed, uint32_t used)
{
    std::unique_ptr<int32_t[]> bigger(new int32_t[needed]());
    std::memcpy(bigger.get(), intStack.get(), std::min(used, intCapacity) * sizeof(int32_t));
    intStack = std::move(bigger);
    intCapacity = needed;
}

void Program::growDoubleStack(uint32_t needed, uint32_t used)
{
    std::unique_ptr<double[]> bigger(new double[needed]());
    std::memcpy(bigger.get(), doubleStack.get(), std::min(used, doubleCapacity) * sizeof(double));
    doubleStack = std::move(bigger);
    doubleCapacity = needed;
}

uint32_t Program::mark()
{
    window.clear();
    return size();
}

void Program::setOperand(uint32_t index, int32_t value)
{
    code.at(index) = signExtend(value);
}

void Program::setOpcode(uint32_t index, int32_t opcode)
{
    checkOpcode(opcode);
    code.at(index) = opcode;
    // An instruction written into reserved room counts for the stack sizes like an emitted one
    // (an operand-dependent count is not known yet and stays out).
    raiseEstimates(opcode, 0);
}

uint32_t Program::emitNops(ZOLT::span_t span, uint32_t n)
{
    return emitNops(span.packed(), n);
}

uint32_t Program::emitNops(packed_span_t span, uint32_t n)
{
    window.clear();
    const uint32_t first = size();
    for (uint32_t k = 0; k < n; ++k) {
        emit(span, NOP);
    }
    return first;
}

uint32_t Program::beginScratch()
{
    windowStack.push_back(window);
    window.clear();
    return size();
}

void Program::endScratch(uint32_t index)
{
    if (windowStack.empty()) {
        throw Bug("Program::endScratch without a matching beginScratch");
    }
    truncate(index);
    window = std::move(windowStack.back());
    windowStack.pop_back();
}

void Program::truncate(uint32_t index)
{
    if (index < code.size()) {
        code.resize(index);
        positions.resize(index);
    }
    while (!window.empty() && window.back() >= index) {
        window.pop_back();
    }
}

// ----- Reading the code -------------------------------------------------------------------------

int32_t Program::opcodeAt(uint32_t index) const
{
    const Word word = code.at(index);
    if (word < 0 || word >= OPCODE_COUNT) {
        throw Bug("Unsupported operation");
    }
    return static_cast<int32_t>(word);
}

int32_t Program::operandAt(uint32_t index, int32_t k) const
{
    return static_cast<int32_t>(code.at(index + 1 + k));
}

// ----- Optimiser --------------------------------------------------------------------------------

void Program::optimise()
{
    while (optimiseOnce()) {
    }
}

namespace {

bool isIntegerFold(int32_t op)
{
    switch (op) {
    case PLUS:
    case MINUS:
    case MULT:
    case BAND:
    case BOR:
    case BXOR:
    case AND:
    case XOR:
    case LT:
    case LE:
    case EQ:
    case MIN:
    case MAX:
        return true;
    default:
        return false;
    }
}

int32_t foldInteger(int32_t op, int32_t x, int32_t y)
{
    switch (op) {
    case PLUS: return base::addWrap(x, y);
    case MINUS: return base::subWrap(x, y);
    case MULT: return base::mulWrap(x, y);
    case BAND: return x & y;
    case BOR: return x | y;
    case BXOR: return x ^ y;
    case AND: return (x != 0 && y != 0) ? 1 : 0;
    case XOR: return ((x != 0) != (y != 0)) ? 1 : 0;
    case LT: return x < y ? 1 : 0;
    case LE: return x <= y ? 1 : 0;
    case EQ: return x == y ? 1 : 0;
    case MIN: return math::minimum(x, y);
    case MAX: return math::maximum(x, y);
    default: throw Bug("Unsupported operation");
    }
}

bool isBooleanResult(int32_t op)
{
    switch (op) {
    case AND:
    case XOR:
    case LT:
    case LE:
    case EQ:
    case NOT:
    case DOUBLE_EQ:
    case DOUBLE_LT:
    case DOUBLE_LE:
        return true;
    default:
        return false;
    }
}

bool isDoubleBinaryFold(int32_t op)
{
    switch (op) {
    case DOUBLE_PLUS:
    case DOUBLE_MINUS:
    case DOUBLE_MUL:
    case DOUBLE_DIV:
    case DOUBLE_POW:
    case DOUBLE_MIN:
    case DOUBLE_MAX:
        return true;
    default:
        return false;
    }
}

bool isDoubleUnaryFold(int32_t op)
{
    switch (op) {
    case DOUBLE_COS:
    case DOUBLE_SIN:
    case DOUBLE_EXP:
    case DOUBLE_LN:
    case DOUBLE_LOG:
    case DOUBLE_SQRT:
    case DOUBLE_FABS:
    case DOUBLE_CEIL:
    case DOUBLE_FLOOR:
        return true;
    default:
        return false;
    }
}

[[noreturn]] void foldError(const char* message, packed_span_t span)
{
    throw CannotEvaluateExpression(message, span, "", -1);
}

double foldDoubleBinary(int32_t op, double a, double b)
{
    switch (op) {
    case DOUBLE_PLUS: return a + b;
    case DOUBLE_MINUS: return a - b;
    case DOUBLE_MUL: return a * b;
    case DOUBLE_DIV:
        if (b == 0.0) {
            foldError("Division by zero", NO_POSITION);
        }
        return a / b;
    case DOUBLE_POW:
        if (math::badPower(a, b)) {
            foldError("Bad value for pow", NO_POSITION);
        }
        return std::pow(a, b);
    case DOUBLE_MIN: return b < a ? b : a;
    case DOUBLE_MAX: return b <= a ? a : b;
    default: throw Bug("Unsupported operation");
    }
}

double foldDoubleUnary(int32_t op, double a)
{
    switch (op) {
    case DOUBLE_COS: return std::cos(a);
    case DOUBLE_SIN: return std::sin(a);
    case DOUBLE_EXP: return std::exp(a);
    case DOUBLE_LN:
        if (a <= 0.0) {
            foldError("ln of non-positive", NO_POSITION);
        }
        return std::log(a);
    case DOUBLE_LOG:
        if (a <= 0.0) {
            foldError("log of non-positive", NO_POSITION);
        }
        return std::log10(a);
    case DOUBLE_SQRT:
        if (a < 0.0) {
            foldError("sqrt of negative", NO_POSITION);
        }
        return std::sqrt(a);
    case DOUBLE_FABS: return std::fabs(a);
    case DOUBLE_CEIL: return std::ceil(a);
    case DOUBLE_FLOOR: return std::floor(a);
    default: throw Bug("Unsupported operation");
    }
}

}  // namespace

Variable* Program::variableAt(int32_t index) const
{
    if (index < 0) {
        return nullptr;
    }
    const auto i = static_cast<std::size_t>(index);
    const auto& main = system->getVariables();
    if (i < main.size()) {
        return main[i].get();
    }
    const auto& extra = system->getExtraVariables();
    if (i - main.size() < extra.size()) {
        return extra[i - main.size()].get();
    }
    return nullptr;
}

// Tries the rules on the last instructions of the window, longest patterns first. Returns true
// when the applied rule asks for another pass over the changed window; a replacement emitted
// through emit has been optimised by that emit already.
bool Program::optimiseOnce()
{
    const std::size_t n = window.size();
    if (n == 0) {
        return false;
    }
    auto opAt = [this](uint32_t index) { return static_cast<int32_t>(code[index]); };
    auto arg = [this](uint32_t index, int k) { return static_cast<int32_t>(code[index + 1 + k]); };
    auto doubleArg = [this](uint32_t index) {
        const uint64_t lo = static_cast<uint32_t>(code[index + 1]);
        const uint64_t hi = static_cast<uint32_t>(code[index + 2]);
        return std::bit_cast<double>(lo | (hi << 32));
    };

    const uint32_t z = window[n - 1];
    const int32_t opZ = opAt(z);

    // Four instructions: a clock comparison of constants becomes one instruction with its bound.
    if (n >= 4) {
        const uint32_t w = window[n - 4];
        const uint32_t x = window[n - 3];
        const uint32_t y = window[n - 2];
        if (opAt(w) == PUSH && opAt(x) == PUSH && opAt(y) == PUSH && opZ == CEXPR) {
            const int32_t i = arg(w, 0);
            const int32_t j = arg(x, 0);
            const int32_t k = arg(y, 0);
            const int32_t raw = arg(z, 0) == 0 ? base::addWrap(base::mulWrap(k, 2), 1) : base::mulWrap(k, 2);
            const packed_span_t span = positions[w];
            truncate(w);
            emit(span, CEXPRI, i, j, raw);
            return false;
        }
    }

    if (n >= 3) {
        const uint32_t x = window[n - 3];
        const uint32_t y = window[n - 2];
        const int32_t opX = opAt(x);
        const int32_t opY = opAt(y);

        if (opX == PUSH && opY == PUSH && isIntegerFold(opZ)) {
            code[x + 1] = signExtend(foldInteger(opZ, arg(x, 0), arg(y, 0)));
            truncate(y);
            return true;
        }
        if (opX == PUSH && opY == PUSH && opZ == RATIONAL2DOUBLE) {
            const int32_t numerator = arg(x, 0);
            const int32_t denominator = arg(y, 0);
            const packed_span_t span = positions[x];
            if (denominator == 0) {
                foldError("Division by zero", span);
            }
            truncate(x);
            emitDouble(span, static_cast<double>(numerator) / static_cast<double>(denominator));
            return false;
        }
        if ((opX == PUSH || opX == LID) && (opY == PUSH || opY == LID) && opZ == SWAP) {
            truncate(z);
            std::swap(code[x], code[y]);
            std::swap(code[x + 1], code[y + 1]);
            return true;
        }
        if (isBooleanResult(opX) && opY == NOT && opZ == NOT) {
            truncate(y);
            return false;
        }
        if (opX == PUSH && opY == PUSH && opZ == STORE) {
            const int32_t variable = arg(x, 0);
            const int32_t value = arg(y, 0);
            const packed_span_t span = positions[x];
            truncate(x);
            emit(span, STORE_I, variable, value);
            return false;
        }
        if (opX == DOUBLE_PUSH && opY == DOUBLE_PUSH && isDoubleBinaryFold(opZ)) {
            const double value = foldDoubleBinary(opZ, doubleArg(x), doubleArg(y));
            const packed_span_t span = positions[x];
            truncate(x);
            emitDouble(span, value);
            return false;
        }
        if (opY == DOUBLE_PUSH && opZ == DOUBLE_POW) {
            const double exponent = doubleArg(y);
            const packed_span_t span = positions[y];
            int32_t m = 0;
            if (exponent == 1.0) {
                truncate(y);
                return false;
            }
            if (exponent == 0.5) {
                truncate(y);
                emit(span, DOUBLE_SQRT);
                return false;
            }
            if (math::exactInt32(exponent, m)) {
                truncate(y);
                emit(span, PUSH, m);
                emit(span, DOUBLE_INT);
                return false;
            }
        }
        if (opY == DOUBLE_PUSH) {
            const double v = doubleArg(y);
            if ((v == 1.0 && (opZ == DOUBLE_MUL || opZ == DOUBLE_DIV)) ||
                (v == 0.0 && (opZ == DOUBLE_PLUS || opZ == DOUBLE_MINUS))) {
                truncate(y);
                return false;
            }
        }
    }

    if (n >= 2) {
        const uint32_t y = window[n - 2];
        const int32_t opY = opAt(y);

        if (opY == PUSH && opZ == LOAD) {
            code[y] = LID;
            truncate(z);
            return true;
        }
        if (opY == PUSH && opZ == UMINUS) {
            code[y + 1] = signExtend(base::negWrap(arg(y, 0)));
            truncate(z);
            return true;
        }
        if (opY == PUSH && opZ == NOT) {
            code[y + 1] = signExtend(arg(y, 0) == 0 ? 1 : 0);
            truncate(z);
            return true;
        }
        if (opY == PUSH && ((arg(y, 0) == 0 && (opZ == PLUS || opZ == MINUS)) || (arg(y, 0) == 1 && opZ == MULT))) {
            truncate(y);
            return false;
        }
        {
            int32_t fused = -1;
            if (opY == LOAD && opZ == STORE) {
                fused = ASSIGN_N;
            } else if (opY == DOUBLE_LOAD && opZ == DOUBLE_STORE) {
                fused = DOUBLE_ASSIGN_N;
            } else if (opY == CLOCK_LOAD && opZ == CLOCK_STORE) {
                fused = CLOCK_COPY;
            }
            if (fused >= 0) {
                const packed_span_t span = positions[y];
                truncate(y);
                emit(span, fused, 1);
                return false;
            }
        }
        if (opY == PUSH && opZ == ARRAY) {
            const int32_t k = arg(y, 0);
            const int32_t length = arg(z, 0);
            const int32_t width = arg(z, 1);
            if (k >= 0 && k < length) {
                const packed_span_t span = positions[y];
                truncate(y);
                emit(span, PUSH, base::mulWrap(k, width));
                emit(span, PLUS);
            }
            return false;
        }
        if (opY == PUSH && opZ == COPY) {
            const int32_t k = arg(y, 0);
            const packed_span_t span = positions[y];
            truncate(z);
            emit(span, PUSH, k);
            return false;
        }
        {
            int32_t fused = -1;
            if (opY == LOAD_N && opZ == STORE_N) {
                fused = ASSIGN_N;
            } else if (opY == DOUBLE_LOAD_N && opZ == DOUBLE_STORE_N) {
                fused = DOUBLE_ASSIGN_N;
            } else if (opY == CLOCK_LOAD_N && opZ == CLOCK_STORE_N) {
                fused = CLOCK_COPY_N;
            }
            if (fused >= 0 && arg(y, 0) == arg(z, 0)) {
                code[y] = fused;
                truncate(z);
                return false;
            }
        }
        if (opY == STORE_I && opZ == POP) {
            code[y] = STORE_I_POP;
            truncate(z);
            return false;
        }
        if (opY == PUSH && opZ == INT2DOUBLE) {
            const int32_t k = arg(y, 0);
            const packed_span_t span = positions[y];
            truncate(y);
            emitDouble(span, static_cast<double>(k));
            return false;
        }
        if (opY == DOUBLE_PUSH && isDoubleUnaryFold(opZ)) {
            const double value = foldDoubleUnary(opZ, doubleArg(y));
            const packed_span_t span = positions[y];
            truncate(y);
            emitDouble(span, value);
            return false;
        }
    }

    if (opZ == LID) {
        Variable* variable = variableAt(arg(z, 0));
        if (variable != nullptr && variable->isConstant() && !variable->isExtra()) {
            const int32_t value = variable->evaluate(nullptr);
            const packed_span_t span = positions[z];
            truncate(z);
            emit(span, PUSH, value);
            return false;
        }
        return false;
    }
    int32_t plain = -1;
    switch (opZ) {
    case LOAD_N: plain = LOAD; break;
    case DOUBLE_LOAD_N: plain = DOUBLE_LOAD; break;
    case CLOCK_LOAD_N: plain = CLOCK_LOAD; break;
    case STORE_N: plain = STORE; break;
    case DOUBLE_STORE_N: plain = DOUBLE_STORE; break;
    case CLOCK_STORE_N: plain = CLOCK_STORE; break;
    default: break;
    }
    if (plain >= 0 && arg(z, 0) == 1) {
        // The operand word goes; the instruction keeps its index and span.
        code[z] = plain;
        code.resize(z + 1);
        positions.resize(z + 1);
        return true;
    }
    return false;
}

// ----- Listing ----------------------------------------------------------------------------------

void Program::disassemble(std::ostream& out, uint32_t index) const
{
    const int32_t opcode = opcodeAt(index);
    const int32_t count = operandCount(opcode);

    std::string prefix = std::to_string(index) + ": " + std::to_string(opcode) + " ";
    for (int32_t k = 0; k < count; ++k) {
        prefix += std::to_string(code.at(index + 1 + k));
        prefix += ' ';
    }
    out << prefix;
    // Tabs up to column 24 with tab stops every 8 columns; a longer prefix gets a line of its own.
    if (prefix.size() <= 23) {
        out << std::string((23 - prefix.size()) / 8 + 1, '\t');
    } else {
        out << "\n\t\t\t";
    }

    const char* name = mnemonic(opcode);
    switch (opcode) {
    case CLOCK_COPY_N:
        out << name << operandAt(index, 0);
        break;
    case STORE_I:
    case STORE_I_POP:
    case ARRAY:
        out << name << ' ' << operandAt(index, 0) << ' ' << operandAt(index, 1);
        break;
    case CEXPRI:
        out << name << ' ' << operandAt(index, 0) << ' ' << operandAt(index, 1) << ' ' << operandAt(index, 2);
        break;
    case DOUBLE_PUSH: {
        const uint64_t lo = static_cast<uint32_t>(code.at(index + 1));
        const uint64_t hi = static_cast<uint32_t>(code.at(index + 2));
        // Six significant digits whatever the caller's stream is set to.
        std::ostringstream text;
        text << std::bit_cast<double>(lo | (hi << 32));
        out << name << ' ' << text.str();
        break;
    }
    case CALL:
        out << "call ";
        break;
    default:
        if (count == 1) {
            out << name << ' ' << operandAt(index, 0);
        } else {
            out << name;
        }
        break;
    }
    out << '\n';
}

std::ostream& Program::disassemble(std::ostream& out) const
{
    uint32_t index = 0;
    while (index < code.size()) {
        disassemble(out, index);
        index += 1 + operandCount(opcodeAt(index));
    }
    return out;
}
