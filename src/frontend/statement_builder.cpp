#include "frontend/statement_builder.h"

#include <boost/format.hpp>

#include "support/exceptions.h"

namespace ZOLT {

namespace {

std::string duplicateDefinition(const std::string& name)
{
    return (boost::format("$Duplicate_definition_of %1%") % name).str();
}

} // namespace

StatementBuilder::StatementBuilder(TimedAutomataSystem* system)
    : ExpressionBuilder(system), params(scope_t::create())
{
    currentTemplate = nullptr;
}

StatementBuilder::~StatementBuilder()
{
    // Blocks still open (a parse that stopped inside a body) belong to nobody, except
    // the body of an open function, which its record owns.
    size_t owned = currentFunction != nullptr && !blocks.empty() && currentFunction->body == blocks[0] ? 1 : 0;
    for (size_t i = blocks.size(); i-- > owned;) {
        delete blocks[i];
    }
}

// --- Type tests ------------------------------------------------------------------------

bool StatementBuilder::hasConstantPart(const type_t& type)
{
    if (type.getKind() == CONST) {
        return true;
    }
    if (type.getKind() == RECORD) {
        for (size_t i = 0; i < type.getSize(); ++i) {
            if (hasConstantPart(type.getChild(i))) {
                return true;
            }
        }
        return false;
    }
    return type.getSize() > 0 && hasConstantPart(type.getChild(0));
}

bool StatementBuilder::hasUniformLeaves(const type_t& type, int mode)
{
    type_t t = type.unwrap();
    if (t.getKind() == ARRAY) {
        if (t.getChild(1).isKind(SCALAR)) {
            return false;
        }
        return hasUniformLeaves(t.getChild(0), mode);
    }
    if (t.getKind() == RECORD) {
        for (size_t i = 0; i < t.getSize(); ++i) {
            if (!hasUniformLeaves(t.getChild(i), mode)) {
                return false;
            }
        }
        return true;
    }
    switch (mode) {
    case 0:
        return t.isIntegral();
    case 1:
        return t.isKind(CLOCK);
    default:
        return t.isKind(DOUBLE);
    }
}

bool StatementBuilder::isInitialisableType(const type_t& type)
{
    return hasUniformLeaves(type, 0) || hasUniformLeaves(type, 1) || hasUniformLeaves(type, 2);
}

// --- Blocks ----------------------------------------------------------------------------

BlockStatement* StatementBuilder::innermostBlock()
{
    if (blocks.empty()) {
        throw Bug("Statement outside of a block");
    }
    return blocks.back();
}

void StatementBuilder::pushStatement(Statement* statement)
{
    if (blocks.empty()) {
        delete statement;
        throw Bug("Statement outside of a block");
    }
    blocks.back()->push(statement);
}

Statement* StatementBuilder::popStatement()
{
    Statement* statement = innermostBlock()->pop();
    // A body lost to a syntax error leaves nothing to take back; an empty statement
    // keeps the compound whole.
    return statement != nullptr ? statement : new EmptyStatement();
}

// --- Types -----------------------------------------------------------------------------

void StatementBuilder::typeArrayOfSize(uint32_t count)
{
    // The index type is the range from 0 to size - 1.
    expression_t size = popFragment();
    exprNar(0);
    fragments.push_back(size);
    exprNar(1);
    exprBinary(SUBTRACT);
    typeBoundedInt(0);
    typeArrayOfType(count + 1);
}

void StatementBuilder::typeArrayOfType(uint32_t count)
{
    type_t index = popType();
    if (count == 0) {
        throw Bug("Array type without element type");
    }
    type_t& element = typeFragment(count - 1);
    element = type_t::createArray(element, index, position);
    if (currentTemplate != nullptr) {
        addTypeReadClosure(currentTemplate->restrictedParameters, index);
    }
    if (!(index.isKind(RANGE) && (index.isKind(INT) || index.isKind(SCALAR)))) {
        handleError("$Array_must_be_defined_over_an_integer_range_or_a_scalar_set");
    }
}

void StatementBuilder::structField(const char* name)
{
    type_t type = popType();
    if (type.isKind(CONST)) {
        handleError("$Constant_fields_not_allowed_in_struct");
    }
    fieldTypes.push_back(type);
    fieldNames.push_back(name);
    type_t leaf = type.unwrapArrays();
    if (!(leaf.isKind(RECORD) || leaf.isKind(SCALAR) || leaf.isIntegral())) {
        handleError("$Invalid_type_in_structure");
    }
}

void StatementBuilder::typeStruct(int prefix, uint32_t count)
{
    if (count > fieldTypes.size()) {
        throw Bug("Record with more fields than collected");
    }
    std::vector<type_t> types(fieldTypes.end() - count, fieldTypes.end());
    std::vector<std::string> names(fieldNames.end() - count, fieldNames.end());
    fieldTypes.resize(fieldTypes.size() - count);
    fieldNames.resize(fieldNames.size() - count);
    typeFragments.push_back(applyPrefix(prefix, type_t::createRecord(types, names, position)));
}

// --- Declarations ------------------------------------------------------------------------

void StatementBuilder::declTypeDef(const char* name)
{
    type_t type = popType();
    type_t definition = type_t::createTypeDef(name, type, position);
    if (frames.back().indexOfName(name) != -1) {
        throw TypeException(duplicateDefinition(name));
    }
    frames.back().addSymbol(name, definition, nullptr);
}

void StatementBuilder::declVar(const char* name, bool hasInitialiser)
{
    expression_t initialiser;
    if (hasInitialiser) {
        initialiser = popFragment();
    }
    type_t type = popType();
    if (hasInitialiser) {
        if (!isInitialisableType(type)) {
            handleError("$Cannot_have_initialiser");
        }
    } else if (hasConstantPart(type)) {
        handleError("$Constants_must_have_an_initialiser");
    }
    if (currentFunction != nullptr && !isInitialisableType(type)) {
        handleError("$Type_is_not_allowed_in_functions");
    }
    addVariable(type, name, initialiser);
}

void StatementBuilder::declFieldInit(const char* name)
{
    expression_t& top = fragment(0);
    type_t label = type_t::createLabel(top.getType(), name, position);
    // A fresh top node, so that a node shared with other trees keeps its type.
    top = top.shallowCopy();
    top.setType(label);
}

void StatementBuilder::declInitialieserList(uint32_t count)
{
    if (count > fragments.size()) {
        throw Bug("Expression stack underflow");
    }
    std::vector<expression_t> elements(fragments.end() - count, fragments.end());
    popExpressionFragments(count);
    std::vector<type_t> types;
    std::vector<std::string> names;
    for (expression_t& element : elements) {
        type_t type = element.getType();
        if (type.getKind() == LABEL) {
            types.push_back(type.getChild(0));
            names.push_back(type.getLabel(0));
            element = element.shallowCopy();
            element.setType(types.back());
        } else {
            types.push_back(type);
            names.emplace_back();
        }
    }
    type_t record = type_t::createRecord(types, names, position);
    fragments.push_back(expression_t::createNary(LIST, elements, position, record));
}

void StatementBuilder::declParameter(const char* name, bool isReference)
{
    type_t type = popType();
    if (isReference) {
        type = type_t::createPrefix(type, REF);
    }
    params.addSymbol(name, type, nullptr);
}

void StatementBuilder::abandonFunction()
{
    if (currentFunction == nullptr || blocks.empty()) {
        return;
    }
    BlockStatement* body = blocks.front();
    while (blocks.size() > 1) {
        delete blocks.back();
        blocks.pop_back();
    }
    blocks.pop_back();   // the body stays with the function record
    while (frames.size() > 1 && frames.back() != body->blockFrame) {
        popFrame();
    }
    if (frames.size() > 1) {
        popFrame();
    }
    currentFunction = nullptr;
}

void StatementBuilder::declFuncBegin(const char* name)
{
    // A function that an earlier text left unfinished must not enclose this one.
    abandonFunction();
    type_t result = popType();
    std::vector<type_t> types;
    std::vector<std::string> names;
    for (size_t i = 0; i < params.getSize(); ++i) {
        types.push_back(params[i].getType());
        names.push_back(params[i].getName());
    }
    type_t type = type_t::createFunction(result, types, names, position);
    if (!addFunction(type, name)) {
        handleError(duplicateDefinition(name));
    }
    if (currentFunction == nullptr) {
        throw Bug("addFunction made no function record");
    }
    pushFrame(scope_t::createSubScope(frames.back()));
    params.moveAllTo(frames.back());
    auto* body = new BlockStatement(frames.back());
    delete currentFunction->body;
    currentFunction->body = body;
    blocks.push_back(body);
}

void StatementBuilder::declFuncEnd()
{
    if (currentFunction == nullptr || blocks.empty()) {
        throw Bug("End of a function that was not begun");
    }
    // Blocks left open by a broken body are dropped together with their scopes.
    while (blocks.size() > 1) {
        BlockStatement* open = blocks.back();
        blocks.pop_back();
        if (frames.size() > 1 && frames.back() == open->blockFrame) {
            popFrame();
        }
        delete open;
    }
    BlockStatement* body = blocks.back();
    type_t returnType = currentFunction->symbol.getType().getChild(0);
    if (!returnType.isKind(VOID_TYPE) && !body->alwaysReturns()) {
        handleError("$Return_statement_expected");
    }
    blocks.pop_back();
    while (frames.size() > 1 && frames.back() != body->blockFrame) {
        popFrame();
    }
    popFrame();
    currentFunction = nullptr;
}

// --- Statements --------------------------------------------------------------------------

void StatementBuilder::procBegin(statement_block_t)
{
    pushFrame(scope_t::createSubScope(frames.back()));
    blocks.push_back(new BlockStatement(frames.back()));
}

void StatementBuilder::procEnd(statement_block_t)
{
    if (blocks.size() < 2) {
        throw Bug("End of a block that was not begun");
    }
    BlockStatement* block = blocks.back();
    blocks.pop_back();
    blocks.back()->push(block);
    popFrame();
}

void StatementBuilder::emptyStatement() { pushStatement(new EmptyStatement()); }

void StatementBuilder::forBegin() {}

void StatementBuilder::forEnd()
{
    expression_t init = fragment(2);
    expression_t cond = fragment(1);
    expression_t step = fragment(0);
    Statement* body = popStatement();
    popExpressionFragments(3);
    pushStatement(new ForStatement(init, cond, step, body));
}

void StatementBuilder::iterationBegin(const char* name)
{
    type_t type = popConstantType();
    pushFrame(scope_t::createSubScope(frames.back()));
    variable_t* variable = addVariable(type, name, expression_t());
    pushStatement(new IterationStatement(variable->symbol, frames.back(), nullptr));
}

void StatementBuilder::iterationEnd(const char*)
{
    Statement* body = popStatement();
    auto* loop = dynamic_cast<IterationStatement*>(innermostBlock()->back());
    if (loop == nullptr) {
        delete body;
        throw Bug("Iteration statement expected");
    }
    delete loop->body;
    loop->body = body;
    popFrame();
}

void StatementBuilder::whileBegin() {}

void StatementBuilder::whileEnd()
{
    expression_t cond = fragment(0);
    Statement* body = popStatement();
    popExpressionFragments(1);
    pushStatement(new WhileStatement(cond, body));
}

void StatementBuilder::doWhileBegin() {}

void StatementBuilder::doWhileEnd()
{
    expression_t cond = fragment(0);
    Statement* body = popStatement();
    popExpressionFragments(1);
    pushStatement(new DoWhileStatement(body, cond));
}

void StatementBuilder::ifBegin() {}

void StatementBuilder::ifElse() {}

void StatementBuilder::ifEnd(bool hasElse)
{
    expression_t cond = fragment(0);
    Statement* elseCase = hasElse ? popStatement() : nullptr;
    Statement* thenCase = popStatement();
    popExpressionFragments(1);
    pushStatement(new IfStatement(cond, thenCase, elseCase));
}

void StatementBuilder::exprStatement()
{
    expression_t e = fragment(0);
    popExpressionFragments(1);
    pushStatement(new ExprStatement(e));
}

void StatementBuilder::assertStatement()
{
    expression_t e = fragment(0);
    popExpressionFragments(1);
    pushStatement(new AssertStatement(e));
}

void StatementBuilder::returnStatement(bool hasValue)
{
    if (currentFunction == nullptr) {
        handleError("$Cannot_return_outside_of_function_declaration");
        if (hasValue) {
            popExpressionFragments(1);   // keep the stack balanced
        }
        return;
    }
    bool isVoid = currentFunction->symbol.getType().getChild(0).isKind(VOID_TYPE);
    if (hasValue) {
        if (isVoid) {
            handleError("$return_with_a_value_in_function_returning_void");
        }
        expression_t value = fragment(0);
        popExpressionFragments(1);
        pushStatement(new ReturnStatement(value));
        return;
    }
    if (!isVoid) {
        handleError("$return_with_no_value_in_function_returning_non-void");
    }
    pushStatement(new ReturnStatement());
}

void StatementBuilder::exprCallBegin()
{
    if (currentFunction == nullptr || fragments.empty() || fragments.back().empty()) {
        return;
    }
    if (fragments.back().getSymbol() == currentFunction->symbol) {
        handleError("$Recursion_is_not_allowed");
    }
}

} // namespace ZOLT
