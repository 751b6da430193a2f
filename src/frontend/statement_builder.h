#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "frontend/expression_builder.h"
#include "language/statement.h"

namespace ZOLT {

// Adds to the expression builder everything that declares names and the statements of
// user functions: array and record types, type definitions, variables and their
// initialisers, parameters, functions and their bodies. Where variables and functions
// are stored is left to the derived builder (addVariable, addFunction).
class StatementBuilder : public ExpressionBuilder
{
public:
    explicit StatementBuilder(TimedAutomataSystem* system);
    ~StatementBuilder() override;

    // Declares and stores a variable; inside a function it must be declared in the
    // innermost scope. Returns the new record.
    virtual variable_t* addVariable(type_t type, const char* name, expression_t initialiser) = 0;
    // Declares a function and makes its new record currentFunction; false when the
    // name was already declared there (the record is made all the same).
    virtual bool addFunction(type_t type, const char* name) = 0;

    // Types
    void typeArrayOfSize(uint32_t count) override;
    void typeArrayOfType(uint32_t count) override;
    void typeStruct(int prefix, uint32_t count) override;
    void structField(const char* name) override;

    // Declarations and functions
    void declTypeDef(const char* name) override;
    void declVar(const char* name, bool hasInitialiser) override;
    void declInitialieserList(uint32_t count) override;
    void declFieldInit(const char* name) override;
    void declParameter(const char* name, bool isReference) override;
    void declFuncBegin(const char* name) override;
    void declFuncEnd() override;

    // Statements
    using AbstractBuilder::procBegin;
    using AbstractBuilder::procEnd;
    void procBegin(statement_block_t) override;
    void procEnd(statement_block_t) override;
    void emptyStatement() override;
    void forBegin() override;
    void forEnd() override;
    void iterationBegin(const char* name) override;
    void iterationEnd(const char* name) override;
    void whileBegin() override;
    void whileEnd() override;
    void doWhileBegin() override;
    void doWhileEnd() override;
    void ifBegin() override;
    void ifElse() override;
    void ifEnd(bool hasElse) override;
    void exprStatement() override;
    void returnStatement(bool hasValue) override;
    void assertStatement() override;
    void exprCallBegin() override;

protected:
    // Type tests of declarations.
    static bool hasConstantPart(const type_t& type);
    // mode 0: integral leaves, 1: clock leaves, 2: double leaves.
    static bool hasUniformLeaves(const type_t& type, int mode);
    static bool isInitialisableType(const type_t& type);

    // Appends a statement to the innermost block, which takes it over.
    void pushStatement(Statement* statement);
    // Takes the last statement of the innermost block back (the body of a compound).
    Statement* popStatement();
    BlockStatement* innermostBlock();
    // Closes a function whose body was left unfinished (a text the parser gave up on):
    // its open blocks are dropped and its scopes popped; the record keeps what was read.
    void abandonFunction();

    scope_t params;
    function_t* currentFunction = nullptr;
    std::vector<BlockStatement*> blocks;
    std::vector<type_t> fieldTypes;
    std::vector<std::string> fieldNames;
};

} // namespace ZOLT
