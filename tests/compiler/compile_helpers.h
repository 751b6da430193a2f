#pragma once

// Compiling small models from their text in the tests of the model compiler.

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "compiler/compiler.h"
#include "language/system.h"
#include "runtime/system.h"

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
};

// Reads and checks the model; a model with errors fails the calling test.
std::unique_ptr<ZOLT::TimedAutomataSystem> readModel(const std::string& text);
// The model read from text, with a compiler created over it but nothing compiled yet.
Compiled prepare(const std::string& text);
// The model read from text and compiled.
Compiled compile(const std::string& text);
// The first global declaration called `name`, typed, as an identifier expression.
ZOLT::expression_t identifier(ZOLT::TimedAutomataSystem& model, const std::string& name);
// An expression read from text over the model's declarations and type-checked.
ZOLT::expression_t expression(ZOLT::TimedAutomataSystem& model, const std::string& text);
// The text of a model fixture under tests/models.
std::string fixture(const std::string& name);

} // namespace compiler_test
