#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <map>
#include <memory>
#include <vector>

#include "language/span.h"
#include "runtime/bytecode.h"
#include "runtime/exceptions.h"
#include "runtime/expression.h"
#include "support/object.h"

class System;
class PublicState;
class ConcreteState;
class Variable;
class RandomGenerator;

// Starts new instances of dynamic templates while a simulation runs. The model compiler
// implements it (it compiles the instance, which may append code to the Program and grow its
// stacks) and installs itself in the Program it owns; the machine calls it for `opSpawn`.
class ProcessSpawner
{
public:
    virtual ~ProcessSpawner() = default;

    // Starts one more instance of dynamic template `templateNumber` in `state`, with the argument
    // values in the order of the template's parameters.
    virtual void spawnProcess(int32_t templateNumber, const std::vector<int32_t>& arguments,
                              ConcreteState* state) = 0;
};

// All byte code of one compiled System, the stack machine that runs it, and the emitter through
// which the compiler appends it.
//
// Code is a vector of 64-bit words: an instruction is its opcode word followed by zero to three
// operand words, each operand a signed 32-bit value stored sign-extended. Every code word has one
// source span (start offset in the low half, end offset in the high half). Instructions are
// addressed by the index of their opcode word; jump targets and function entry points are such
// indices. Code only grows at the end (or is cut back with truncate), so indices stay valid
// while pointers into the code do not.
//
// Every appended instruction passes through a peephole optimiser that folds constants and fuses
// common sequences within a window of the instructions emitted since the last barrier (mark,
// emitNops, halt, return, beginScratch).
//
// Runs of one Program share its two stacks; they must not overlap, except that the machine
// itself keeps an interrupted run's stack intact when code runs again on the same Program from
// inside an instruction (a spawn that evaluates constants, a dynamic member access).
class Program : public base::Object
{
public:
    using Word = int64_t;

    // An empty program for the system. The program does not keep the system alive: the system
    // owns the guards, invariants and updates whose program expressions hold the program, so a
    // counted reference back would keep both alive for ever. Code of the program may run only
    // while its system lives (the compiler and the model checker hold both).
    explicit Program(System* system);
    ~Program() override;

    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    System* getSystem() const { return system; }

    // The compiler link through which `opSpawn` starts processes (not counted).
    void setSpawner(ProcessSpawner* spawner) { this->spawner = spawner; }
    ProcessSpawner* getSpawner() const { return spawner; }

    // Number of operand words of an opcode; Bug "Unsupported operation" above 84.
    static int32_t operandCount(int32_t opcode) { return bytecode::operandCount(opcode); }

    // ----- Emission -------------------------------------------------------------------------

    // Appends one instruction with `operandCount(opcode)` of the given operands (the rest are
    // ignored), every word carrying the span, then lets the optimiser fold it with the window.
    // A `doublePush` takes the low and the high 32 bits of its double's bit pattern, in that
    // order. The optimiser raises CannotEvaluateExpression for a constant fold that cannot be
    // done (division by zero, logarithm of a non-positive number, ...).
    void emit(ZOLT::span_t span, int32_t opcode, int32_t a = 0, int32_t b = 0, int32_t c = 0);
    void emit(packed_span_t span, int32_t opcode, int32_t a = 0, int32_t b = 0, int32_t c = 0);
    // `doublePush` of a double.
    void emitDouble(ZOLT::span_t span, double value);
    void emitDouble(packed_span_t span, double value);

    // Closes the optimiser's window and returns the index the next instruction will get. Called
    // before code whose start must be known (jump targets, loop heads, expression starts).
    uint32_t mark();
    // Overwrites code word `index` with the sign-extended value (patches a jump target).
    void setOperand(uint32_t index, int32_t value);
    // Overwrites code word `index` with an opcode.
    void setOpcode(uint32_t index, int32_t opcode);
    // Closes the window, emits n `nop` and returns the index of the first (room patched later).
    uint32_t emitNops(ZOLT::span_t span, uint32_t n);
    uint32_t emitNops(packed_span_t span, uint32_t n);

    // Opens a scratch region for compile-time evaluation: saves the window, opens an empty one
    // and returns the code size (the start of the scratch code).
    uint32_t beginScratch();
    // Removes the code from `index` on and restores the window saved by the matching
    // beginScratch, so the surrounding code folds as if nothing had been appended.
    void endScratch(uint32_t index);
    // Cuts code and positions back to `index` words and drops window entries at or above it.
    void truncate(uint32_t index);

    // ----- Reading the code -----------------------------------------------------------------

    // Number of code words.
    uint32_t size() const { return static_cast<uint32_t>(code.size()); }
    // Code word `index` (the address is valid until the code grows).
    const Word* codeAt(uint32_t index) const { return code.data() + index; }
    // The opcode of the instruction at `index`.
    int32_t opcodeAt(uint32_t index) const;
    // The operand `k` (0-based) of the instruction at `index`, as the machine reads it.
    int32_t operandAt(uint32_t index, int32_t k) const;
    // The packed span of code word `index`.
    packed_span_t positionAt(uint32_t index) const { return positions[index]; }

    // Writes the instruction at `index` as one listing line:
    //   "<index>: <opcode> <operand words...> " padded with tabs to column 24, the mnemonic and
    //   its operands, a newline.
    void disassemble(std::ostream& out, uint32_t index) const;
    // Writes every instruction from index 0.
    std::ostream& disassemble(std::ostream& out) const;

    // ----- Running ---------------------------------------------------------------------------

    // Runs the code from `entry` on the state (null: compile-time evaluation, which may only
    // meet constants and compile-time constant variables) until `halt`, and returns the index
    // of the integer stack cell that holds the result: 0 when the run left nothing above the
    // initial cell. A double result is left in the state's result cell by `doubleRet`. Errors
    // raise CannotEvaluateExpression with the span of the failing instruction and state number
    // -1; recursion deeper than the machine allows is reported as "Stack overflow: recursion too
    // deep". With a negative entry nothing runs: the handler table is (re)installed and 0
    // returned.
    uint32_t execute(PublicState* state, int32_t entry);

    // Integer stack cell `index` as the last run left it.
    int32_t stackCell(uint32_t index) const { return intStack[index]; }
    // The doubles the last completed run left on the double stack, bottom first.
    const double* doubleStackBottom() const { return doubleStack.get(); }
    uint32_t doubleStackTop() const { return lastDoubleTop; }

    // Sizes of the two stacks in cells. The emitter keeps them at least twice what straight-line
    // code may push; calls take bigger stacks when recursion needs them.
    uint32_t intStackCapacity() const { return intCapacity; }
    uint32_t doubleStackCapacity() const { return doubleCapacity; }

    // Number of entries of the handler-to-opcode map (85 once the handlers are installed).
    std::size_t handlerMapSize() const { return handlerToOpcode.size(); }

    // ----- Expressions -----------------------------------------------------------------------

    // The run-time expression for the code starting at `start`: the shared Constant for
    // `push k; halt`, the shared DoubleConstant for `doublePush d; doubleRet`, the variable
    // itself for `lid v; halt`, otherwise a new ProgramExpression over the code with the two
    // sets. The caller takes its own counted reference.
    Expression* makeExpression(uint32_t start, const IndexSet& reads, const IndexSet& writes);

    // Empties the process-wide caches of shared constants (tests; the caches otherwise live
    // until exit).
    static void clearConstantCaches();

private:
    // Appends without optimising and grows the stacks for the instruction's pushes.
    void append(packed_span_t span, int32_t opcode, const int32_t* operands);
    void raiseEstimates(int32_t opcode, int32_t operand);
    void growStacks();
    void optimise();
    bool optimiseOnce();
    Variable* variableAt(int32_t index) const;

    void installHandlers(const void* const* handlers);

    // Replaces a stack by one of `needed` cells that keeps the first `used` cells of the old one.
    void growIntStack(uint32_t needed, uint32_t used);
    void growDoubleStack(uint32_t needed, uint32_t used);

    // Saves and restores the live part of the stacks around an instruction that may run code
    // on this Program again.
    void saveStacks(uint32_t intCells, uint32_t doubleCells);
    void restoreStacks(uint32_t intCells, uint32_t doubleCells);
    // Calls the spawner with the arguments (copied out of the stack first), keeping the
    // interrupted run's stack cells.
    void spawnInstance(ConcreteState* state, int32_t templateNumber, const int32_t* arguments, int32_t count,
                       uint32_t intCells, uint32_t doubleCells);

    const void* handlerTable[bytecode::OPCODE_COUNT] = {};
    std::map<const void*, int32_t> handlerToOpcode;

    // Not counted (see the constructor).
    System* system;

    std::vector<Word> code;
    std::vector<packed_span_t> positions;

    std::unique_ptr<int32_t[]> intStack;
    std::unique_ptr<double[]> doubleStack;
    uint32_t lastDoubleTop = 0;
    uint32_t intCapacity = 1024;
    uint32_t doubleCapacity = 512;
    uint32_t intEstimate = 1;
    uint32_t doubleEstimate = 1;

    std::vector<uint32_t> window;
    std::vector<std::vector<uint32_t>> windowStack;

    RandomGenerator* random = nullptr;
    ProcessSpawner* spawner = nullptr;

    // Stack contents of interrupted runs (see saveStacks), innermost last.
    std::vector<int32_t> savedInts;
    std::vector<double> savedDoubles;
};
