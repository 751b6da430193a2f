// The byte-code interpreter: a threaded machine that dispatches by opcode number through a table
// of handler addresses, keeps the top of the integer stack in a local value, and reaches states
// only through PublicState and the Variable operations.

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <string>
#include <utility>

#include "language/system.h"
#include "runtime/bytecode_math.h"
#include "runtime/concrete_state.h"
#include "runtime/exceptions.h"
#include "runtime/process.h"
#include "runtime/program.h"
#include "runtime/system.h"
#include "runtime/variable.h"
#include "support/exceptions.h"
#include "support/random.h"

using namespace bytecode;

namespace {

// Frame pointer of the outermost level: no call in progress.
constexpr int32_t NO_FRAME = -1;

// Largest stacks a run may grow to through nested calls; deeper recursion is reported.
constexpr uint32_t MAX_INT_CELLS = 1u << 22;
constexpr uint32_t MAX_DOUBLE_CELLS = 1u << 21;

// Raised by the stand-in state of a run without a state; the machine turns it into an error at
// the instruction that needed the state.
struct StateMissing
{};

// The state a run without a state sees: every operation that would need a real state fails.
class NoState final : public PublicState
{
public:
    int32_t* getVariables() override { throw StateMissing(); }
    const int32_t* getVariables() const override { throw StateMissing(); }
    double* getDoubles() override { throw StateMissing(); }
    const double* getDoubles() const override { throw StateMissing(); }
    int32_t* getMetaVariables() override { throw StateMissing(); }
    bool constrain(const dbm::clock_constraint_t*, size_t) override { throw StateMissing(); }
    bool satisfies(uint32_t, uint32_t, bool, double) override { throw StateMissing(); }
    bool satisfies(uint32_t, uint32_t, dbm::bound_t) override { throw StateMissing(); }
    void resetClock(uint32_t, int32_t) override { throw StateMissing(); }
    void copyClock(uint32_t, uint32_t) override { throw StateMissing(); }
    Location* getLocation(uint32_t) const override { throw StateMissing(); }
    System* getSystem() const override { throw StateMissing(); }
    void setClockValue(uint32_t, double) override { throw StateMissing(); }
    void getClockValue(uint32_t, double&) const override { throw StateMissing(); }
};

}  // namespace

void Program::installHandlers(const void* const* handlers)
{
    handlerToOpcode.clear();
    for (int32_t op = 0; op < OPCODE_COUNT; ++op) {
        handlerTable[op] = handlers[op];
        handlerToOpcode[handlers[op]] = op;
    }
}

void Program::saveStacks(uint32_t intCells, uint32_t doubleCells)
{
    savedInts.insert(savedInts.end(), intStack.get(), intStack.get() + intCells);
    savedDoubles.insert(savedDoubles.end(), doubleStack.get(), doubleStack.get() + doubleCells);
}

void Program::restoreStacks(uint32_t intCells, uint32_t doubleCells)
{
    std::copy(savedInts.end() - intCells, savedInts.end(), intStack.get());
    savedInts.resize(savedInts.size() - intCells);
    std::copy(savedDoubles.end() - doubleCells, savedDoubles.end(), doubleStack.get());
    savedDoubles.resize(savedDoubles.size() - doubleCells);
}

namespace {

// Keeps the interrupted run's stack cells while code that may run again on the same Program
// executes, and puts them back afterwards (also when that code throws).
class StackGuard
{
public:
    StackGuard(Program& program, uint32_t ints, uint32_t doubles,
               void (Program::*save)(uint32_t, uint32_t), void (Program::*restore)(uint32_t, uint32_t))
        : program(program), ints(ints), doubles(doubles), restore(restore)
    {
        (program.*save)(ints, doubles);
    }
    ~StackGuard() { (program.*restore)(ints, doubles); }

    StackGuard(const StackGuard&) = delete;
    StackGuard& operator=(const StackGuard&) = delete;

private:
    Program& program;
    uint32_t ints;
    uint32_t doubles;
    void (Program::*restore)(uint32_t, uint32_t);
};

[[noreturn]] void raise(const std::vector<uint64_t>& positions, std::ptrdiff_t index, const std::string& message)
{
    throw CannotEvaluateExpression(message, positions[static_cast<std::size_t>(index)], "", -1);
}

// The errors of the clock instructions that a symbolic state cannot carry out.
std::string clockValueUnreadable(const System& system, int32_t clockNumber)
{
    const ClockVariable* clock = system.getClockVariable(static_cast<uint32_t>(clockNumber));
    return "The value of clock '" + (clock != nullptr ? clock->getName() : std::string()) +
           "' is read as a number, which symbolic checks do not support";
}

std::string clockValueUnassignable(const Variable& clock)
{
    return "Clock '" + clock.getName() + "' is given a floating-point value, which symbolic checks do not support";
}

// The spawn record of dynamic template t, null when the state has no spawn table yet (no
// instance of any template is live then).
const SpawnRecord* spawnRecord(ConcreteState* state, int32_t t)
{
    if (state->spawnTable == nullptr) {
        return nullptr;
    }
    if (t < 0 || static_cast<std::size_t>(t) >= state->spawnTable->size()) {
        throw Bug("No dynamic template " + std::to_string(t));
    }
    return &(*state->spawnTable)[static_cast<std::size_t>(t)];
}

std::string assignmentMessage(int32_t value, Variable* variable)
{
    return "Assignment of value '" + std::to_string(value) + "' to variable '" + variable->getName() +
           "' is out of range";
}

}  // namespace

void Program::spawnInstance(ConcreteState* state, int32_t templateNumber, const int32_t* arguments, int32_t count,
                            uint32_t intCells, uint32_t doubleCells)
{
    const std::vector<int32_t> values(arguments, arguments + count);
    StackGuard guard(*this, intCells, doubleCells, &Program::saveStacks, &Program::restoreStacks);
    spawner->spawnProcess(templateNumber, values, state);
}

uint32_t Program::execute(PublicState* state, int32_t entry)
{
    // Handler addresses in opcode order; the Program's table is a copy of it.
    static const void* const labels[OPCODE_COUNT] = {
        &&op_push,         &&op_load,         &&op_loadN,        &&op_lid,          &&op_plus,
        &&op_minus,        &&op_mult,         &&op_div,          &&op_mod,          &&op_band,
        &&op_bor,          &&op_bxor,         &&op_blsh,         &&op_brsh,         &&op_and,
        &&op_xor,          &&op_lt,           &&op_le,           &&op_eq,           &&op_min,
        &&op_max,          &&op_store,        &&op_storeN,       &&op_storeI,       &&op_storeIPop,
        &&op_assignN,      &&op_increment,    &&op_compareN,     &&op_uminus,       &&op_not,
        &&op_copy,         &&op_pop,          &&op_swap,         &&op_clockLoad,    &&op_clockStore,
        &&op_clockLoadN,   &&op_clockStoreN,  &&op_clockCopy,    &&op_clockCopyN,   &&op_cexpr,
        &&op_cexpri,       &&op_array,        &&op_jmp,          &&op_jmpz,         &&op_halt,
        &&op_call,         &&op_return,       &&op_assert,       &&op_doublePush,   &&op_doubleStore,
        &&op_doublePlus,   &&op_doubleMinus,  &&op_doubleMul,    &&op_doubleDiv,    &&op_doubleNeg,
        &&op_doubleLoad,   &&op_int2Double,   &&op_doubleRet,    &&op_rational2Double, &&op_doubleCos,
        &&op_doubleSin,    &&op_doubleExp,    &&op_doubleLn,     &&op_doubleLog,    &&op_doubleSqrt,
        &&op_doubleRandom, &&op_spawn,        &&op_exit,         &&op_numOf,        &&op_dynamicEval,
        &&op_dynProcessIndex, &&op_doublePow, &&op_doubleInt,    &&op_doubleFAbs,   &&op_doubleCeil,
        &&op_doubleFloor,  &&op_doubleEQ,     &&op_doubleLT,     &&op_doubleLE,     &&op_doubleMin,
        &&op_doubleMax,    &&op_doubleLoadN,  &&op_doubleStoreN, &&op_doubleAssignN, &&op_nop,
    };

    if (entry < 0) {
        installHandlers(labels);
        return 0;
    }
    if (static_cast<uint32_t>(entry) >= code.size()) {
        throw Bug("Program::execute: entry outside the code");
    }

    NoState noState;
    PublicState* const st = state != nullptr ? state : &noState;
    ConcreteState* const concrete = st->getConcreteState();
    bool doubleMode = state == nullptr || concrete != nullptr;
    // A symbolic state (or a decorator that passes its clock operations on) keeps clocks in its
    // zone only: reading a clock as a number or giving it a floating-point value is an error of
    // the model at the instruction that does it. Asked only by those instructions.
    auto symbolic = [&] { return concrete == nullptr && st->getSymbolicState() != nullptr; };

    const void* const* const handlers = handlerTable;

    // Registers. Code and stacks are addressed through bases that are taken again whenever an
    // instruction may have let them move (a spawn compiling new code, a nested run growing a
    // stack); what survives such a move is kept as indices.
    const Word* codeBase = code.data();
    const Word* ip = codeBase + entry;
    int32_t* stackBase = intStack.get();
    int32_t* sp = stackBase;
    int32_t top = 0;
    double* dBase = doubleStack.get();
    double* dsp = dBase;
    int32_t fp = NO_FRAME;

    const base::RefPtr<Variable>* mainVars = nullptr;
    const base::RefPtr<Variable>* extraVars = nullptr;
    uint32_t mainCount = 0;

#define REFRESH_VARIABLES()                                     \
    do {                                                        \
        mainVars = system->getVariables().data();               \
        mainCount = static_cast<uint32_t>(system->getVariables().size()); \
        extraVars = system->getExtraVariables().data();         \
    } while (0)
#define VAR(i)                                                                   \
    (static_cast<uint32_t>(i) < mainCount ? mainVars[static_cast<uint32_t>(i)].get() \
                                          : extraVars[static_cast<uint32_t>(i) - mainCount].get())
#define INDEX() (ip - codeBase)
#define FAIL(message) raise(positions, INDEX(), message)
#define DISPATCH() goto *handlers[*ip]
#define NEXT(words)     \
    do {                \
        ip += (words);  \
        DISPATCH();     \
    } while (0)
#define OPERAND(k) static_cast<int32_t>(ip[1 + (k)])
#define PUSH_VALUE(v)     \
    do {                  \
        *sp++ = top;      \
        top = (v);        \
    } while (0)
#define POP_VALUE() (top = *--sp)
#define NEED_DOUBLES(n)                                   \
    do {                                                  \
        if (dsp - dBase < (n)) {                          \
            FAIL("Floating-point values are supported only in SMC"); \
        }                                                 \
    } while (0)

    REFRESH_VARIABLES();

    try {
        DISPATCH();

    op_push:
        PUSH_VALUE(OPERAND(0));
        NEXT(2);

    op_load:
        top = VAR(top)->evaluate(st);
        NEXT(1);

    op_loadN: {
        const int32_t n = OPERAND(0);
        const int32_t v = top;
        POP_VALUE();
        for (int32_t i = 0; i < n; ++i) {
            PUSH_VALUE(VAR(v + i)->evaluate(st));
        }
        NEXT(2);
    }

    op_lid:
        PUSH_VALUE(VAR(OPERAND(0))->evaluate(st));
        NEXT(2);

#define BINARY(name, expression)     \
    name : {                         \
        const int32_t b = top;       \
        const int32_t a = POP_VALUE(); \
        top = (expression);          \
        NEXT(1);                     \
    }

        BINARY(op_plus, base::addWrap(a, b))
        BINARY(op_minus, base::subWrap(a, b))
        BINARY(op_mult, base::mulWrap(a, b))
        BINARY(op_band, a & b)
        BINARY(op_bor, a | b)
        BINARY(op_bxor, a ^ b)
        BINARY(op_and, (a != 0 && b != 0) ? 1 : 0)
        BINARY(op_xor, ((a != 0) != (b != 0)) ? 1 : 0)
        BINARY(op_lt, a < b ? 1 : 0)
        BINARY(op_le, a <= b ? 1 : 0)
        BINARY(op_eq, a == b ? 1 : 0)
        BINARY(op_min, math::minimum(a, b))
        BINARY(op_max, math::maximum(a, b))
#undef BINARY

    op_div: {
        const int32_t b = top;
        if (b == 0) {
            FAIL("Division by zero");
        }
        const int32_t a = POP_VALUE();
        top = math::divide(a, b);
        NEXT(1);
    }

    op_mod: {
        const int32_t b = top;
        if (b == 0) {
            FAIL("Division by zero");
        }
        const int32_t a = POP_VALUE();
        top = math::remainder(a, b);
        NEXT(1);
    }

    op_blsh: {
        const int32_t b = top;
        if (b < 0) {
            FAIL("Left shift count is negative");
        }
        const int32_t a = POP_VALUE();
        top = base::shlWrap(a, b);
        NEXT(1);
    }

    op_brsh: {
        const int32_t b = top;
        if (b < 0) {
            FAIL("Right shift count is negative");
        }
        const int32_t a = POP_VALUE();
        top = base::shrWrap(a, b);
        NEXT(1);
    }

    op_store: {
        const int32_t x = top;
        POP_VALUE();
        Variable* variable = VAR(top);
        if (!variable->setValue(st, x)) {
            FAIL(assignmentMessage(x, variable));
        }
        NEXT(1);
    }

    op_storeN: {
        const int32_t n = OPERAND(0);
        if (n > 0) {
            *sp = top;                      // x(n-1) joins the others in memory
            int32_t* values = sp - n + 1;   // x0 .. x(n-1)
            const int32_t v = sp[-n];
            for (int32_t i = 0; i < n; ++i) {
                Variable* variable = VAR(v + i);
                if (!variable->setValue(st, values[i])) {
                    FAIL(assignmentMessage(values[i], variable));
                }
            }
            sp -= n;
            top = *sp;
        }
        NEXT(2);
    }

    op_storeI: {
        const int32_t v = OPERAND(0);
        const int32_t k = OPERAND(1);
        Variable* variable = VAR(v);
        if (!variable->setValue(st, k)) {
            FAIL(assignmentMessage(k, variable));
        }
        PUSH_VALUE(v);
        NEXT(3);
    }

    op_storeIPop: {
        const int32_t k = OPERAND(1);
        Variable* variable = VAR(OPERAND(0));
        if (!variable->setValue(st, k)) {
            FAIL(assignmentMessage(k, variable));
        }
        NEXT(3);
    }

    op_assignN: {
        const int32_t n = OPERAND(0);
        const int32_t s = top;
        const int32_t d = POP_VALUE();
        for (int32_t i = 0; i < n; ++i) {
            const int32_t value = VAR(s + i)->evaluate(st);
            Variable* target = VAR(d + i);
            if (!target->setValue(st, value)) {
                FAIL(assignmentMessage(value, target));
            }
        }
        NEXT(2);
    }

    op_increment: {
        const int32_t k = top;
        POP_VALUE();
        Variable* variable = VAR(top);
        if (!variable->add(st, k)) {
            FAIL("Increment variable '" + variable->getName() + "' is out of range");
        }
        NEXT(1);
    }

    op_compareN: {
        const int32_t n = OPERAND(0);
        const int32_t b = top;
        const int32_t a = POP_VALUE();
        int32_t equal = 1;
        for (int32_t i = 0; i < n; ++i) {
            if (VAR(a + i)->evaluate(st) != VAR(b + i)->evaluate(st)) {
                equal = 0;
                break;
            }
        }
        top = equal;
        NEXT(2);
    }

    op_uminus:
        top = base::negWrap(top);
        NEXT(1);

    op_not:
        top = top == 0 ? 1 : 0;
        NEXT(1);

    op_copy:
        *sp++ = top;
        NEXT(1);

    op_pop:
        POP_VALUE();
        NEXT(1);

    op_swap: {
        const int32_t below = sp[-1];
        sp[-1] = top;
        top = below;
        NEXT(1);
    }

    op_clockLoad: {
        const int32_t c = top;
        if (symbolic()) {
            FAIL(clockValueUnreadable(*system, c));
        }
        POP_VALUE();
        double value = 0.0;
        st->getClockValue(static_cast<uint32_t>(c), value);
        *dsp++ = value;
        NEXT(1);
    }

    op_clockStore: {
        if (symbolic()) {
            FAIL(clockValueUnassignable(*VAR(top)));
        }
        NEED_DOUBLES(1);
        const int32_t clock = VAR(top)->evaluate(st);
        st->setClockValue(static_cast<uint32_t>(clock), *--dsp);
        doubleMode = true;
        NEXT(1);
    }

    op_clockLoadN: {
        const int32_t n = OPERAND(0);
        const int32_t c = top;
        if (n > 0 && symbolic()) {
            FAIL(clockValueUnreadable(*system, c));
        }
        POP_VALUE();
        for (int32_t i = 0; i < n; ++i) {
            double value = 0.0;
            st->getClockValue(static_cast<uint32_t>(c + i), value);
            *dsp++ = value;
        }
        doubleMode = true;
        NEXT(2);
    }

    op_clockStoreN: {
        const int32_t n = OPERAND(0);
        if (n > 0 && symbolic()) {
            FAIL(clockValueUnassignable(*VAR(top)));
        }
        if (n > 0) {
            NEED_DOUBLES(n);
            const double* values = dsp - n;
            for (int32_t i = 0; i < n; ++i) {
                const int32_t clock = VAR(top + i)->evaluate(st);
                st->setClockValue(static_cast<uint32_t>(clock), values[i]);
            }
            dsp -= n;
        }
        NEXT(2);
    }

    op_clockCopy: {
        const int32_t c = top;
        POP_VALUE();
        const int32_t clock = VAR(top)->evaluate(st);
        st->copyClock(static_cast<uint32_t>(clock), static_cast<uint32_t>(c));
        NEXT(1);
    }

    op_clockCopyN: {
        const int32_t n = OPERAND(0);
        const int32_t s = top;
        const int32_t d = POP_VALUE();
        for (int32_t i = 0; i < n; ++i) {
            const int32_t target = VAR(d + i)->evaluate(st);
            const int32_t source = VAR(s + i)->evaluate(st);
            st->copyClock(static_cast<uint32_t>(target), static_cast<uint32_t>(source));
        }
        NEXT(2);
    }

    op_cexpr: {
        const int32_t k = top;
        const int32_t j = POP_VALUE();
        const int32_t i = POP_VALUE();
        const dbm::bound_t bound =
            OPERAND(0) == 0 ? base::addWrap(base::mulWrap(k, 2), 1) : base::mulWrap(k, 2);
        top = st->satisfies(static_cast<uint32_t>(i), static_cast<uint32_t>(j), bound) ? 1 : 0;
        NEXT(2);
    }

    op_cexpri:
        PUSH_VALUE(st->satisfies(static_cast<uint32_t>(OPERAND(0)), static_cast<uint32_t>(OPERAND(1)),
                                 OPERAND(2))
                       ? 1
                       : 0);
        NEXT(4);

    op_array: {
        const int32_t length = OPERAND(0);
        const int32_t width = OPERAND(1);
        const int32_t k = top;
        if (k < 0 || k >= length) {
            FAIL("Index value " + std::to_string(k) + " is out of range. Array length = " +
                 std::to_string(length) + ", Element size = " + std::to_string(width));
        }
        const int32_t a = POP_VALUE();
        top = base::addWrap(a, base::mulWrap(k, width));
        NEXT(3);
    }

    op_jmp:
        ip = codeBase + OPERAND(0);
        DISPATCH();

    op_jmpz: {
        const int32_t a = top;
        POP_VALUE();
        if (a == 0) {
            ip = codeBase + OPERAND(0);
            DISPATCH();
        }
        NEXT(2);
    }

    op_halt:
        *sp = top;
        lastDoubleTop = static_cast<uint32_t>(dsp - dBase);
        return static_cast<uint32_t>(sp - stackBase);

    op_call: {
        const int32_t target = VAR(top)->evaluate(st);
        // The callee's straight-line code pushes at most the estimates; deeper recursion takes
        // bigger stacks, up to a limit beyond which the recursion is reported.
        const auto depth = static_cast<uint32_t>(sp - stackBase);
        const auto doubleDepth = static_cast<uint32_t>(dsp - dBase);
        const uint64_t needed = static_cast<uint64_t>(depth) + intEstimate + 2;
        const uint64_t doublesNeeded = static_cast<uint64_t>(doubleDepth) + doubleEstimate + 1;
        if (needed > intCapacity || doublesNeeded > doubleCapacity) {
            if (needed > MAX_INT_CELLS || doublesNeeded > MAX_DOUBLE_CELLS) {
                FAIL("Stack overflow: recursion too deep");
            }
            if (needed > intCapacity) {
                growIntStack(std::max<uint32_t>(2 * intCapacity, static_cast<uint32_t>(needed)), depth);
            }
            if (doublesNeeded > doubleCapacity) {
                growDoubleStack(std::max<uint32_t>(2 * doubleCapacity, static_cast<uint32_t>(doublesNeeded)),
                                doubleDepth);
            }
            stackBase = intStack.get();
            sp = stackBase + depth;
            dBase = doubleStack.get();
            dsp = dBase + doubleDepth;
        }
        *sp++ = static_cast<int32_t>(INDEX() + 1);
        top = fp;
        fp = static_cast<int32_t>(sp - stackBase);
        ip = codeBase + target;
        DISPATCH();
    }

    op_return: {
        if (fp == NO_FRAME) {
            throw Bug("return outside a called function");
        }
        *sp = top;
        const int32_t returnAddress = stackBase[fp - 1];
        const int32_t callerFrame = stackBase[fp];
        sp = stackBase + fp - 2;
        top = *sp;
        fp = callerFrame;
        ip = codeBase + returnAddress;
        DISPATCH();
    }

    op_assert: {
        const int32_t a = top;
        if (a == 0) {
            FAIL("Assertion failure");
        }
        POP_VALUE();
        NEXT(1);
    }

    op_doublePush:
        if (doubleMode) {
            const uint64_t lo = static_cast<uint32_t>(ip[1]);
            const uint64_t hi = static_cast<uint32_t>(ip[2]);
            *dsp++ = std::bit_cast<double>(lo | (hi << 32));
        }
        NEXT(3);

    op_doubleStore:
        if (doubleMode) {
            NEED_DOUBLES(1);
            VAR(top)->setDoubleValue(st, *--dsp);
        }
        NEXT(1);

#define DOUBLE_BINARY(name, expression) \
    name:                               \
    if (doubleMode) {                   \
        NEED_DOUBLES(2);                \
        const double y = *--dsp;        \
        const double x = dsp[-1];       \
        dsp[-1] = (expression);         \
    }                                   \
    NEXT(1);

        DOUBLE_BINARY(op_doublePlus, x + y)
        DOUBLE_BINARY(op_doubleMinus, x - y)
        DOUBLE_BINARY(op_doubleMul, x * y)
        DOUBLE_BINARY(op_doubleMin, math::doubleMinimum(x, y))
        DOUBLE_BINARY(op_doubleMax, math::doubleMaximum(x, y))
#undef DOUBLE_BINARY

    op_doubleDiv:
        if (doubleMode) {
            NEED_DOUBLES(2);
            const double y = dsp[-1];
            if (std::fabs(y) <= math::DIVISION_EPSILON) {
                FAIL("Division by zero");
            }
            --dsp;
            dsp[-1] /= y;
        }
        NEXT(1);

    op_doublePow:
        if (doubleMode) {
            NEED_DOUBLES(2);
            const double y = dsp[-1];
            const double x = dsp[-2];
            if (math::badPower(x, y)) {
                FAIL("Bad values for pow");
            }
            --dsp;
            dsp[-1] = std::pow(x, y);
        }
        NEXT(1);

#define DOUBLE_UNARY(name, expression) \
    name:                              \
    if (doubleMode) {                  \
        NEED_DOUBLES(1);               \
        const double x = dsp[-1];      \
        dsp[-1] = (expression);        \
    }                                  \
    NEXT(1);

        DOUBLE_UNARY(op_doubleNeg, -x)
        DOUBLE_UNARY(op_doubleCos, std::cos(x))
        DOUBLE_UNARY(op_doubleSin, std::sin(x))
        DOUBLE_UNARY(op_doubleExp, std::exp(x))
        DOUBLE_UNARY(op_doubleFAbs, std::fabs(x))
        DOUBLE_UNARY(op_doubleCeil, std::ceil(x))
        DOUBLE_UNARY(op_doubleFloor, std::floor(x))
        DOUBLE_UNARY(op_doubleRandom, x * random->uniform01())
#undef DOUBLE_UNARY

    op_doubleLn:
        if (doubleMode) {
            NEED_DOUBLES(1);
            if (dsp[-1] <= 0.0) {
                FAIL("Log of non-positive number");
            }
            dsp[-1] = std::log(dsp[-1]);
        }
        NEXT(1);

    op_doubleLog:
        if (doubleMode) {
            NEED_DOUBLES(1);
            if (dsp[-1] <= 0.0) {
                FAIL("Log of non-positive number");
            }
            dsp[-1] = std::log(dsp[-1]) / math::LN_10;
        }
        NEXT(1);

    op_doubleSqrt:
        if (doubleMode) {
            NEED_DOUBLES(1);
            if (dsp[-1] < 0.0) {
                FAIL("Sqrt of negative number");
            }
            dsp[-1] = std::sqrt(dsp[-1]);
        }
        NEXT(1);

    op_doubleLoad: {
        const int32_t v = top;
        POP_VALUE();
        if (doubleMode) {
            *dsp++ = VAR(v)->getDoubleValue(st);
        }
        NEXT(1);
    }

    op_int2Double:
        *dsp++ = static_cast<double>(top);
        POP_VALUE();
        doubleMode = true;
        NEXT(1);

    op_doubleRet:
        // Outside double mode the double instructions before it did nothing, so there may be no
        // value to return.
        NEED_DOUBLES(1);
        st->result = *--dsp;
        doubleMode = true;
        NEXT(1);

    op_rational2Double: {
        const int32_t b = top;
        const int32_t a = POP_VALUE();
        POP_VALUE();
        if (doubleMode) {
            if (b == 0) {
                FAIL("Division by zero");
            }
            *dsp++ = static_cast<double>(a) / static_cast<double>(b);
        }
        NEXT(1);
    }

    op_doubleInt: {
        const int32_t n = top;
        POP_VALUE();
        if (doubleMode) {
            NEED_DOUBLES(1);
            dsp[-1] = math::integerPower(dsp[-1], n);
        }
        NEXT(1);
    }

#define DOUBLE_COMPARE(name, expression) \
    name : {                             \
        int32_t r = 0;                   \
        if (doubleMode) {                \
            NEED_DOUBLES(2);             \
            const double y = dsp[-1];    \
            const double x = dsp[-2];    \
            dsp -= 2;                    \
            r = (expression) ? 1 : 0;    \
        }                                \
        PUSH_VALUE(r);                   \
        NEXT(1);                         \
    }

        DOUBLE_COMPARE(op_doubleEQ, x == y)
        DOUBLE_COMPARE(op_doubleLT, x < y)
        DOUBLE_COMPARE(op_doubleLE, x <= y)
#undef DOUBLE_COMPARE

    op_doubleLoadN: {
        const int32_t n = OPERAND(0);
        const int32_t v = top;
        POP_VALUE();
        if (doubleMode) {
            for (int32_t i = 0; i < n; ++i) {
                *dsp++ = VAR(v + i)->getDoubleValue(st);
            }
        }
        NEXT(2);
    }

    op_doubleStoreN: {
        const int32_t n = OPERAND(0);
        if (doubleMode && n > 0) {
            NEED_DOUBLES(n);
            const double* values = dsp - n;
            for (int32_t i = 0; i < n; ++i) {
                VAR(top + i)->setDoubleValue(st, values[i]);
            }
            dsp -= n;
        }
        NEXT(2);
    }

    op_doubleAssignN: {
        const int32_t n = OPERAND(0);
        const int32_t s = top;
        const int32_t d = POP_VALUE();
        if (doubleMode) {
            for (int32_t i = 0; i < n; ++i) {
                VAR(d + i)->setDoubleValue(st, VAR(s + i)->getDoubleValue(st));
            }
        }
        NEXT(2);
    }

    op_spawn: {
        if (!doubleMode || concrete == nullptr) {
            FAIL("Spawn is supported only in SMC");
        }
        if (spawner == nullptr) {
            throw Bug("opSpawn: no spawner installed in the Program");
        }
        const int32_t t = top;
        const auto& templates = system->dynamicTemplates;
        if (t < 0 || static_cast<std::size_t>(t) >= templates.size()) {
            throw Bug("opSpawn: no dynamic template " + std::to_string(t));
        }
        const ZOLT::scope_t& parameters = templates[static_cast<std::size_t>(t)]->parameters;
        const auto m = parameters.empty() ? 0 : static_cast<int32_t>(parameters.getSize());
        // The arguments and the template number are consumed; the spawn leaves 0 in their place.
        // Popped cells keep their contents, so the arguments stay readable above the new depth.
        sp -= m + 1;
        top = *sp;
        const std::ptrdiff_t next = INDEX() + 1;
        const auto depth = static_cast<uint32_t>(sp - stackBase);
        const auto doubleDepth = static_cast<uint32_t>(dsp - dBase);
        spawnInstance(concrete, t, stackBase + depth + 1, m, depth + 1, doubleDepth);
        // Compiling the new instance may have moved the code, the stacks and the variables.
        codeBase = code.data();
        ip = codeBase + next;
        stackBase = intStack.get();
        sp = stackBase + depth;
        top = *sp;
        dBase = doubleStack.get();
        dsp = dBase + doubleDepth;
        REFRESH_VARIABLES();
        PUSH_VALUE(0);
        DISPATCH();
    }

    op_exit:
        if (!doubleMode || concrete == nullptr) {
            FAIL("Exit is supported only in SMC");
        }
        concrete->removeSpawnedProcess(top);
        top = 0;
        NEXT(1);

    op_numOf: {
        if (!doubleMode || concrete == nullptr) {
            FAIL("NumOf is supported only in SMC");
        }
        const SpawnRecord* record = spawnRecord(concrete, top);
        top = record != nullptr ? static_cast<int32_t>(record->liveCount) : 0;
        NEXT(1);
    }

    op_dynProcessIndex: {
        if (!doubleMode || concrete == nullptr) {
            FAIL("Dynamic processes are supported only in SMC");
        }
        const int32_t t = top;
        const int32_t k = POP_VALUE();
        const SpawnRecord* record = spawnRecord(concrete, t);
        top = record != nullptr && k >= 0 && k < record->liveCount ? record->liveNumbers[static_cast<std::size_t>(k)] : -1;
        NEXT(1);
    }

    op_dynamicEval: {
        if (!doubleMode || concrete == nullptr) {
            FAIL("Dynamic processes are supported only in SMC");
        }
        const int32_t p = top;
        const int32_t k = POP_VALUE();
        Process* process = system->getProcess(static_cast<std::size_t>(p));
        Expression* expression = process->dynamicEvaluations.at(static_cast<std::size_t>(k)).get();
        const std::ptrdiff_t here = INDEX();
        *sp = top;
        const auto depth = static_cast<uint32_t>(sp - stackBase);
        const auto doubleDepth = static_cast<uint32_t>(dsp - dBase);
        int32_t value = 0;
        {
            StackGuard guard(*this, depth + 1, doubleDepth, &Program::saveStacks, &Program::restoreStacks);
            value = expression->evaluate(st);
        }
        codeBase = code.data();
        ip = codeBase + here;
        stackBase = intStack.get();
        sp = stackBase + depth;
        dBase = doubleStack.get();
        dsp = dBase + doubleDepth;
        REFRESH_VARIABLES();
        top = value;
        NEXT(1);
    }

    op_nop:
        NEXT(1);
    } catch (const StateMissing&) {
        FAIL("Cannot be evaluated without a state");
    }

#undef REFRESH_VARIABLES
#undef VAR
#undef INDEX
#undef FAIL
#undef DISPATCH
#undef NEXT
#undef OPERAND
#undef PUSH_VALUE
#undef POP_VALUE
#undef NEED_DOUBLES
}
