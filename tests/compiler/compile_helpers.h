#pragma once

// Compiling small models from their text in the tests of the model compiler.

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "compiler/compiler.h"
#include "language/system.h"
#include "runtime/concrete_state.h"
#include "runtime/system.h"
#include "testkit/fake_state.h"

namespace compiler_test {

// A model read from text and type-checked, and the compiler over it. The compiler and the
// compiled system are released before the model they point into.
struct Compiled
{
    std::unique_ptr<ZOLT::TimedAutomataSystem> model;
    base::RefPtr<Compiler> compiler;
    base::RefPtr<System> system;

    Compiled() = default;
    Compiled(Compiled&&) = default;
    Compiled& operator=(Compiled&&) = default;
    ~Compiled();

    Program& program() const { return *compiler->getProgram(); }
    // The variable of the System with that name, or null.
    Variable* variable(const std::string& name) const;
    // The global index of the named variable; fails the test when there is none.
    uint32_t index(const std::string& name) const;
    // The listing of the byte code from `start` to the end.
    std::string listing(uint32_t start = 0) const;
    // The layout lines of the System.
    std::string layout() const;
    // A state for the compiled system: every variable 0 (or its initial value), the zone
    // unconstrained.
    std::unique_ptr<testkit::FakeState> state() const;
    // The initial concrete state of the compiled system (double arithmetic and clock values
    // are evaluated on concrete states only).
    std::unique_ptr<ConcreteState> concreteState() const;
    // A call of the named global function with the arguments, typed as the type checker would.
    ZOLT::expression_t call(const std::string& function, const std::vector<ZOLT::expression_t>& arguments) const;
    // The value of the named integer state variable in the state, and setting it.
    int32_t get(const testkit::FakeState& state, const std::string& name) const;
    void set(testkit::FakeState& state, const std::string& name, int32_t value) const;
    // Compiles the expression text as a value expression and returns its listing (the
    // instructions from the first one emitted for it up to its halt), mnemonics only.
    std::string code(const std::string& text, bool asDouble = false);
    ZOLT::expression_t parse(const std::string& text) const;
};

// The mnemonics and operands of a listing, one instruction a line, without addresses and
// opcode numbers; jump targets are written as "@" and their distance from `base`.
std::string mnemonics(const std::string& listing, uint32_t base = 0);

// Reads and checks the model; a model with errors fails the calling test.
std::unique_ptr<ZOLT::TimedAutomataSystem> readModel(const std::string& text);
// The model read from text, with a compiler created over it but nothing compiled yet.
Compiled prepare(const std::string& text);
// The model read from text and compiled.
Compiled compile(const std::string& text);
// The same for a model that is known to have errors (the compiler does not look at them).
Compiled compileDespiteErrors(const std::string& text);
// The first global declaration called `name`, typed, as an identifier expression.
ZOLT::expression_t identifier(ZOLT::TimedAutomataSystem& model, const std::string& name);
// An expression read from text over the model's declarations and type-checked.
ZOLT::expression_t expression(ZOLT::TimedAutomataSystem& model, const std::string& text);
// The text of a model fixture under tests/models.
std::string fixture(const std::string& name);

} // namespace compiler_test
