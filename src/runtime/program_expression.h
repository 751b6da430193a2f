#pragma once

#include <cstdint>

#include "runtime/expression.h"
#include "runtime/program.h"
#include "support/object.h"

// A compiled guard, invariant, update or value that runs its byte code on the Program when it is
// evaluated. Program::makeExpression makes them (or a shared constant or the variable itself
// for the shapes that need no machine).
class ProgramExpression : public TrivialExpression
{
public:
    // Takes a counted reference to the program and copies both sets.
    ProgramExpression(Program* program, int32_t start, const IndexSet& reads, const IndexSet& writes);

    Program* getProgram() const { return program.get(); }
    int32_t getStart() const { return start; }

    // A walk does not descend into byte code.
    void accept(ExpressionVisitor& visitor) override;
    // Runs the code from the start on the state; the integer result (0 when the code leaves
    // nothing). A failure is raised again with the state number of the symbolic state it
    // happened in (-1 on other states).
    int32_t evaluate(PublicState* state) override;

private:
    base::RefPtr<Program> program;
    int32_t start;
};
