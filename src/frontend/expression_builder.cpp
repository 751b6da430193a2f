#include "frontend/expression_builder.h"

#include "language/nesting.h"

#include <boost/format.hpp>

#include <algorithm>
#include <array>
#include <stdexcept>
#include <utility>

#include "support/exceptions.h"

namespace ZOLT {

namespace {

// Type of the untyped default int range, and its bounds.
constexpr int32_t defaultIntLower = -32767;
constexpr int32_t defaultIntUpper = 32767;

// Reported when an operator other than and, or (and imply, which arrives as not and
// or) is applied to an MITL formula: MITL has no other connectives, and a formula
// hidden inside a state predicate could not be monitored.
const char* const mitlOperatorMessage = "$MITL_formulas_can_only_be_combined_with_and,_or_and_imply";

std::string unknownIdentifier(const std::string& name)
{
    return (boost::format("$Unknown_identifier: %1%") % name).str();
}

// The text of an expression for a message; empty when the expression has no text.
std::string textOf(const expression_t& e)
{
    try {
        return e.toString(true);
    } catch (const std::runtime_error&) {
        return std::string();
    }
}

// A symbol that denotes a variable: it has a record and its element type is one that
// variables are declared with.
bool isVariableSymbol(const binding_t& symbol)
{
    if (symbol.empty() || symbol.getData() == nullptr) {
        return false;
    }
    type_t t = symbol.getType().unwrapArrays();
    return t.isKind(INT) || t.isKind(DOUBLE) || t.isKind(BOOL) || t.isKind(CLOCK) || t.isKind(CHANNEL) ||
           t.isKind(SCALAR) || t.getKind() == RECORD;
}

// True when some node strictly below the root is an MITL formula.
bool containsMitl(const expression_t& e)
{
    if (e.empty()) {
        return false;
    }
    for (size_t i = 0; i < e.getSize(); ++i) {
        if (anySubexpression(e[i], [](const expression_t& x) { return ExpressionBuilder::isMitlFormula(x); })) {
            return true;
        }
    }
    return false;
}

} // namespace

ExpressionBuilder::ExpressionBuilder(TimedAutomataSystem* system) : system(system)
{
    frames.push_back(system->getGlobals().frame);
}

ExpressionBuilder::~ExpressionBuilder() = default;

// --- Helpers ---------------------------------------------------------------------

bool ExpressionBuilder::resolve(const std::string& name, binding_t& symbol)
{
    return frames.back().resolve(name, symbol);
}

void ExpressionBuilder::pushFrame(const scope_t& frame) { frames.push_back(frame); }

void ExpressionBuilder::popFrame()
{
    // The global frame stays at the bottom whatever a producer does.
    if (frames.size() <= 1) {
        throw Bug("Scope stack underflow");
    }
    frames.pop_back();
}

expression_t ExpressionBuilder::makeConstant(int32_t value)
{
    return expression_t::createConstant(value, position);
}

void ExpressionBuilder::popExpressionFragments(size_t n)
{
    if (n > fragments.size()) {
        throw Bug("Expression stack underflow");
    }
    fragments.resize(fragments.size() - n);
}

expression_t& ExpressionBuilder::fragment(size_t depth)
{
    if (depth >= fragments.size()) {
        throw Bug("Expression stack underflow");
    }
    return fragments[fragments.size() - 1 - depth];
}

type_t& ExpressionBuilder::typeFragment(size_t depth)
{
    if (depth >= typeFragments.size()) {
        throw Bug("Type stack underflow");
    }
    return typeFragments[typeFragments.size() - 1 - depth];
}

type_t ExpressionBuilder::popType()
{
    type_t t = typeFragment(0);
    typeFragments.pop_back();
    return t;
}

expression_t ExpressionBuilder::popFragment()
{
    expression_t e = fragment(0);
    fragments.pop_back();
    return e;
}

type_t ExpressionBuilder::popConstantType()
{
    type_t type = popType();
    if (!type.isKind(CONST)) {
        type = type_t::createPrefix(type, CONST);
    }
    return type;
}

type_t ExpressionBuilder::applyPrefix(int prefix, const type_t& type)
{
    switch (prefix) {
    case 1:
        return type_t::createPrefix(type, CONST, position);
    case 2:
        return type_t::createPrefix(type, URGENT, position);
    case 4:
        return type_t::createPrefix(type, BROADCAST, position);
    case 6:
        return type_t::createPrefix(type_t::createPrefix(type, URGENT, position), BROADCAST, position);
    case 8:
        return type_t::createPrefix(type, META, position);
    case 16:
        return type_t::createPrefix(type, HYBRID, position);
    default:
        return type;
    }
}

void ExpressionBuilder::addReadClosure(std::set<binding_t>& symbols, const expression_t& expression)
{
    std::set<binding_t> reads;
    expression.collectReadSymbols(reads);
    std::vector<binding_t> work(reads.begin(), reads.end());
    while (!work.empty()) {
        binding_t symbol = work.back();
        work.pop_back();
        if (!symbols.insert(symbol).second) {
            continue;
        }
        if (isVariableSymbol(symbol)) {
            const expression_t& init = static_cast<variable_t*>(symbol.getData())->initialiser;
            if (!init.empty()) {
                std::set<binding_t> more;
                init.collectReadSymbols(more);
                work.insert(work.end(), more.begin(), more.end());
            }
        }
    }
}

void ExpressionBuilder::addTypeReadClosure(std::set<binding_t>& symbols, const type_t& type)
{
    if (type.getKind() == RANGE) {
        auto [lower, upper] = type.getRangeBounds();
        if (!lower.empty()) {
            addReadClosure(symbols, lower);
        }
        if (!upper.empty()) {
            addReadClosure(symbols, upper);
        }
        addTypeReadClosure(symbols, type.getChild(0));
        return;
    }
    for (size_t i = 0; i < type.getSize(); ++i) {
        addTypeReadClosure(symbols, type.getChild(i));
    }
}

bool ExpressionBuilder::isMitlFormula(const expression_t& expression)
{
    if (expression.empty()) {
        return false;
    }
    node_kind_t kind = expression.getKind();
    return kind >= MITL_FORMULA && kind <= MITL_FORALL_DYNAMIC;
}

expression_t ExpressionBuilder::makeMitlAtom(const expression_t& expression)
{
    return expression_t::createUnary(MITL_ATOM, expression);
}

expression_t ExpressionBuilder::atomise(const expression_t& expression)
{
    if (isMitlFormula(expression)) {
        return expression;
    }
    if (containsMitl(expression)) {
        // A formula under another operator (a negation, say) would be evaluated as a
        // state predicate; refuse it and go on with a harmless atom.
        handleError(mitlOperatorMessage);
        return makeMitlAtom(expression_t::createConstant(0));
    }
    return makeMitlAtom(expression);
}

bool ExpressionBuilder::hasDefaultIntRange(const type_t& type) const
{
    type_t t = type;
    while (t.getKind() != RANGE) {
        if (!(t.isPrefix() || t.getKind() == LABEL || t.getKind() == REF) || t.getSize() == 0) {
            return false;
        }
        t = t.getChild(0);
    }
    return defaultIntRanges.count(t) != 0;
}

// --- Infrastructure ----------------------------------------------------------------

void ExpressionBuilder::addPosition(uint32_t position, int32_t offset, int32_t line, const std::string& path)
{
    system->addPosition(position, offset, line, path);
}

void ExpressionBuilder::handleError(const std::string& message)
{
    system->recordError(position, message, "");
}

void ExpressionBuilder::handleWarning(const std::string& message) { system->recordWarning(position, message); }

bool ExpressionBuilder::isTypeName(const char* name)
{
    binding_t symbol;
    return resolve(name, symbol) && symbol.getType().getKind() == TYPEDEF;
}

// The top fragment and the top type are the only trees a call can have deepened; one
// grown past the limit is replaced by a leaf (the constant 0, the type int), which keeps
// the stacks balanced and every later walk over the construct short.
void ExpressionBuilder::limitNesting()
{
    if (fragments.empty()) {
        deepExpressionReported = false;
    } else if (exceedsNestingDepth(fragments.back())) {
        if (!deepExpressionReported) {
            handleError(expressionTooDeepMessage);
            deepExpressionReported = true;
        }
        fragments.back() = makeConstant(0);
    }
    if (typeFragments.empty()) {
        deepTypeReported = false;
    } else if (exceedsNestingDepth(typeFragments.back())) {
        if (!deepTypeReported) {
            handleError(typeTooDeepMessage);
            deepTypeReported = true;
        }
        typeFragments.back() = type_t::createPrimitive(INT, position);
    }
}

// --- Types -------------------------------------------------------------------------

void ExpressionBuilder::typeDuplicate() { typeFragments.push_back(typeFragment(0)); }

void ExpressionBuilder::typePop() { popType(); }

void ExpressionBuilder::typeBool(int prefix)
{
    typeFragments.push_back(applyPrefix(prefix, type_t::createPrimitive(BOOL, position)));
}

void ExpressionBuilder::typeInt(int prefix)
{
    type_t type = type_t::createPrimitive(INT, position);
    if (prefix != 1) {
        type = type_t::createRange(type, makeConstant(defaultIntLower), makeConstant(defaultIntUpper), position);
        defaultIntRanges.insert(type);
    }
    typeFragments.push_back(applyPrefix(prefix, type));
}

void ExpressionBuilder::typeDouble(int prefix)
{
    typeFragments.push_back(applyPrefix(prefix, type_t::createPrimitive(DOUBLE, position)));
}

void ExpressionBuilder::typeBoundedInt(int prefix)
{
    expression_t upper = fragment(0);
    expression_t lower = fragment(1);
    popExpressionFragments(2);
    type_t range = type_t::createRange(type_t::createPrimitive(INT, position), lower, upper, position);
    typeFragments.push_back(applyPrefix(prefix, range));
}

void ExpressionBuilder::typeChannel(int prefix)
{
    typeFragments.push_back(applyPrefix(prefix, type_t::createPrimitive(CHANNEL, position)));
}

void ExpressionBuilder::typeClock(int prefix)
{
    typeFragments.push_back(applyPrefix(prefix, type_t::createPrimitive(CLOCK, position)));
}

void ExpressionBuilder::typeVoid() { typeFragments.push_back(type_t::createPrimitive(VOID_TYPE, position)); }

void ExpressionBuilder::typeScalar(int prefix)
{
    // The size becomes the upper bound size - 1 of a range from 0.
    exprNar(1);
    exprBinary(SUBTRACT);
    expression_t upper = popFragment();
    expression_t lower = makeConstant(0);

    type_t type = type_t::createRange(type_t::createPrimitive(SCALAR, position), lower, upper, position);
    type = applyPrefix(prefix, type);
    type = type_t::createLabel(type, "#scalarset" + std::to_string(scalarCount), position);
    ++scalarCount;
    if (currentTemplate != nullptr) {
        // Symmetry reduction must not permute processes whose parameters size the set.
        type = type_t::createLabel(type, currentTemplate->symbol.getName() + "::", position);
        addReadClosure(currentTemplate->restrictedParameters, upper);
    }
    typeFragments.push_back(type);
}

void ExpressionBuilder::typeName(int prefix, const char* name)
{
    binding_t symbol;
    if (!resolve(name, symbol) || symbol.getType().getKind() != TYPEDEF) {
        typeFragments.push_back(type_t::createPrimitive(VOID_TYPE));
        throw TypeException("$Identifier_is_undeclared_or_not_a_type_name");
    }
    type_t label = type_t::createLabel(symbol.getType().getChild(0), symbol.getName(), position);
    typeFragments.push_back(applyPrefix(prefix, label));
}

// --- Literals and identifiers --------------------------------------------------------

void ExpressionBuilder::exprFalse()
{
    expression_t e = makeConstant(0);
    e.setType(type_t::createPrimitive(BOOL));
    fragments.push_back(e);
}

void ExpressionBuilder::exprTrue()
{
    expression_t e = makeConstant(1);
    e.setType(type_t::createPrimitive(BOOL));
    fragments.push_back(e);
}

// A double constant takes the current position like every other node, so that an
// error about it (a double where an integer is expected) names the place it was written.
void ExpressionBuilder::exprDouble(double value)
{
    fragments.push_back(expression_t::createDouble(value, position));
}

void ExpressionBuilder::exprId(const char* name)
{
    binding_t symbol;
    if (resolve(name, symbol)) {
        fragments.push_back(expression_t::createIdentifier(symbol, position));
        return;
    }
    exprFalse();
    throw TypeException(unknownIdentifier(name));
}

void ExpressionBuilder::exprNar(int32_t value) { fragments.push_back(makeConstant(value)); }

// --- Integer quantifiers -------------------------------------------------------------

void ExpressionBuilder::exprForAllBegin(const char* name)
{
    type_t type = popConstantType();
    pushFrame(scope_t::createSubScope(frames.back()));
    frames.back().addSymbol(name, type, nullptr);
    if (!type.isKind(INT) && !type.isKind(SCALAR)) {
        handleError("$Quantifier_must_range_over_integer_or_scalar_set");
    }
}

void ExpressionBuilder::exprExistsBegin(const char* name) { exprForAllBegin(name); }

void ExpressionBuilder::exprSumBegin(const char* name) { exprForAllBegin(name); }

void ExpressionBuilder::quantifierEnd(node_kind_t kind)
{
    binding_t variable = frames.back()[0];
    expression_t& top = fragment(0);
    top = expression_t::createBinary(kind, expression_t::createIdentifier(variable, position), top, position);
    popFrame();
}

void ExpressionBuilder::exprForAllEnd(const char*) { quantifierEnd(FOR_ALL); }

void ExpressionBuilder::exprExistsEnd(const char*) { quantifierEnd(EXISTS); }

void ExpressionBuilder::exprSumEnd(const char*) { quantifierEnd(SUM); }

// --- Operators and accesses ----------------------------------------------------------

void ExpressionBuilder::exprUnary(int kind)
{
    if (kind == ADD) {
        return;   // unary plus
    }
    expression_t& top = fragment(0);
    node_kind_t k = kind == SUBTRACT ? UNARY_MINUS : static_cast<node_kind_t>(kind);
    top = expression_t::createUnary(k, top, position);
}

void ExpressionBuilder::exprPostIncrement()
{
    expression_t& top = fragment(0);
    top = expression_t::createUnary(POST_INCREMENT, top, position);
}

void ExpressionBuilder::exprPreIncrement()
{
    expression_t& top = fragment(0);
    top = expression_t::createUnary(PRE_INCREMENT, top, position, top.getType());
}

void ExpressionBuilder::exprPostDecrement()
{
    expression_t& top = fragment(0);
    top = expression_t::createUnary(POST_DECREMENT, top, position);
}

void ExpressionBuilder::exprPreDecrement()
{
    expression_t& top = fragment(0);
    top = expression_t::createUnary(PRE_DECREMENT, top, position, top.getType());
}

void ExpressionBuilder::exprBinary(int kind)
{
    expression_t left = fragment(1);
    expression_t right = fragment(0);
    popExpressionFragments(2);
    bool leftMitl = isMitlFormula(left);
    bool rightMitl = isMitlFormula(right);
    if (!leftMitl && !rightMitl) {
        fragments.push_back(expression_t::createBinary(static_cast<node_kind_t>(kind), left, right, position));
        return;
    }
    if (kind != LOGICAL_AND && kind != LOGICAL_OR) {
        // Only conjunction and disjunction combine MITL formulas.
        handleError(mitlOperatorMessage);
        fragments.push_back(makeConstant(0));
        return;
    }
    node_kind_t mitlKind = kind == LOGICAL_AND ? MITL_AND : MITL_OR;
    fragments.push_back(expression_t::createBinary(mitlKind, atomise(left), atomise(right), position));
}

void ExpressionBuilder::exprAssignment(int kind)
{
    expression_t left = fragment(1);
    expression_t right = fragment(0);
    popExpressionFragments(2);
    fragments.push_back(
        expression_t::createBinary(static_cast<node_kind_t>(kind), left, right, position, left.getType()));
}

void ExpressionBuilder::exprNary(int kind, uint32_t count)
{
    if (count > fragments.size()) {
        throw Bug("Expression stack underflow");
    }
    std::vector<expression_t> children(fragments.end() - count, fragments.end());
    popExpressionFragments(count);
    fragments.push_back(expression_t::createNary(static_cast<node_kind_t>(kind), children, position));
}

void ExpressionBuilder::exprTernary(int kind, bool firstIsTrue)
{
    node_kind_t k = static_cast<node_kind_t>(kind);
    if (firstIsTrue) {
        expression_t second = fragment(1);
        expression_t third = fragment(0);
        popExpressionFragments(2);
        fragments.push_back(expression_t::createTernary(k, makeConstant(1), second, third, position));
        return;
    }
    expression_t first = fragment(2);
    expression_t second = fragment(1);
    expression_t third = fragment(0);
    popExpressionFragments(3);
    fragments.push_back(expression_t::createTernary(k, first, second, third, position));
}

void ExpressionBuilder::exprInlineIf()
{
    expression_t condition = fragment(2);
    expression_t thenValue = fragment(1);
    expression_t elseValue = fragment(0);
    popExpressionFragments(3);
    fragments.push_back(
        expression_t::createTernary(INLINE_IF, condition, thenValue, elseValue, position, thenValue.getType()));
}

void ExpressionBuilder::exprComma()
{
    expression_t left = fragment(1);
    expression_t right = fragment(0);
    popExpressionFragments(2);
    fragments.push_back(expression_t::createBinary(COMMA, left, right, position, right.getType()));
}

void ExpressionBuilder::exprArray()
{
    expression_t array = fragment(1);
    expression_t index = fragment(0);
    popExpressionFragments(2);
    type_t arrayType = array.empty() ? type_t() : array.getType();
    type_t element = arrayType.isKind(ARRAY) ? arrayType.getQualifiedChild() : type_t();
    fragments.push_back(expression_t::createBinary(ARRAY, array, index, position, element));
}

void ExpressionBuilder::exprCallEnd(uint32_t argumentCount)
{
    if (argumentCount >= fragments.size()) {
        throw Bug("Expression stack underflow");
    }
    std::vector<expression_t> list(fragments.end() - argumentCount - 1, fragments.end());
    popExpressionFragments(argumentCount + 1);
    expression_t callee = list[0];
    type_t type = callee.empty() ? type_t() : callee.getType();

    if (type.getKind() == PROCESS_SET) {
        binding_t symbol = callee.getSymbol();
        auto* instance = symbol.empty() ? nullptr : static_cast<instance_t*>(symbol.getData());
        if (instance != nullptr && instance->definingTemplate != nullptr) {
            if (list.size() != type.getSize() + 1) {
                handleError("$Wrong_number_of_arguments");
            }
            // One array dimension per free parameter, the first parameter outermost.
            type_t selected = type_t::createProcess(instance->definingTemplate->declarations.frame);
            size_t freeCount = std::min<size_t>(instance->freeCount, instance->parameters.getSize());
            for (size_t i = freeCount; i-- > 0;) {
                selected = type_t::createArray(selected, instance->parameters[i].getType());
            }
            expression_t result = callee.shallowCopy();
            result.setType(selected);
            for (size_t i = 1; i < list.size(); ++i) {
                // Arguments past the last dimension (already reported) select nothing
                // typed, as a subscript of a non-array does.
                selected = selected.isKind(ARRAY) ? selected.getQualifiedChild() : type_t();
                result = expression_t::createBinary(ARRAY, result, list[i], position, selected);
            }
            fragments.push_back(result);
            return;
        }
    } else if (type.getKind() == FUNCTION) {
        if (list.size() != type.getSize()) {
            handleError("$Wrong_number_of_arguments");
        }
        fragments.push_back(expression_t::createNary(FUNCTION_CALL, list, position, type.getChild(0)));
        return;
    }
    handleError("$Function_expected");
    fragments.push_back(makeConstant(0));
}

void ExpressionBuilder::exprDot(const char* name)
{
    expression_t& top = fragment(0);
    expression_t e = top;
    type_t type = e.empty() ? type_t() : e.getType();

    if (type.isKind(RECORD)) {
        int32_t field = type.findField(name);
        if (field == -1) {
            errorf("%s $has_no_member_named %s", textOf(e).c_str(), name);
            return;
        }
        top = expression_t::createDot(e, field, position, type.getQualifiedChild(field));
        return;
    }

    if (type.isKind(PROCESS)) {
        int32_t field = type.findField(name);
        if (field == -1) {
            errorf("%s $has_no_member_named %s", textOf(e).c_str(), name);
            return;
        }
        type_t fieldType = type.getQualifiedChild(field);
        if (fieldType.isKind(LOCATION)) {
            top = expression_t::createDot(e, field, position, type_t::createPrimitive(BOOL));
            return;
        }
        binding_t symbol = e.getSymbol();
        auto* instance = symbol.empty() ? nullptr : static_cast<instance_t*>(symbol.getData());
        if (instance != nullptr) {
            // Members of one process are told apart from the same members of another:
            // scalar sets local to the template are named after the process, and the
            // parameters in bounds become the process's arguments.
            if (instance->definingTemplate != nullptr) {
                fieldType = fieldType.renameLabel(instance->definingTemplate->symbol.getName() + "::",
                                                  symbol.getName() + "::");
            }
            for (const auto& [parameter, argument] : instance->bindings) {
                fieldType = fieldType.substitute(parameter, argument);
            }
        }
        top = expression_t::createDot(e, field, position, fieldType);
        return;
    }

    if (type.isKind(PROCESS_VARIABLE)) {
        std::string variable = e.getSymbol().empty() ? std::string() : e.getSymbol().getName();
        auto it = dynamicFrames.find(variable);
        if (it == dynamicFrames.end()) {
            throw TypeException(unknownIdentifier(variable));
        }
        binding_t member;
        pushFrame(it->second);
        bool found = resolve(name, member);
        popFrame();
        if (!found) {
            throw TypeException(unknownIdentifier(name));
        }
        type_t memberType = member.getType().isKind(LOCATION) ? type_t::createPrimitive(BOOL, position)
                                                               : member.getType();
        top = expression_t::createBinary(DYNAMIC_MEMBER, expression_t::createIdentifier(member, position), e,
                                         position, memberType);
        return;
    }

    errorf("%s $is_not_a_structure", textOf(e).c_str());
}

void ExpressionBuilder::exprDeadlock() { fragments.push_back(expression_t::createDeadlock(position)); }

void ExpressionBuilder::exprBuiltinFunction1(int kind)
{
    expression_t& top = fragment(0);
    top = expression_t::createUnary(static_cast<node_kind_t>(kind), top, position);
}

void ExpressionBuilder::exprBuiltinFunction2(int kind)
{
    expression_t first = fragment(1);
    expression_t second = fragment(0);
    popExpressionFragments(1);
    fragment(0) =
        expression_t::createBinary(static_cast<node_kind_t>(kind), first, second, position, first.getType());
}

void ExpressionBuilder::exprScenario(const char* name)
{
    binding_t symbol;
    resolve(name, symbol);
    fragments.push_back(expression_t::createUnary(SCENARIO, expression_t::createIdentifier(symbol), position));
}

// --- Statistical queries -------------------------------------------------------------

expression_t ExpressionBuilder::boundSymbol(int boundKind, size_t depth)
{
    return boundKind == 2 ? fragment(depth) : expression_t::createConstant(boundKind);
}

std::array<expression_t, 3> ExpressionBuilder::popBoundedFormula(int boundKind)
{
    size_t extra = boundKind == 2 ? 1 : 0;
    std::array<expression_t, 3> parts = {boundSymbol(boundKind, 2), fragment(1), fragment(0)};
    popExpressionFragments(2 + extra);
    return parts;
}

void ExpressionBuilder::exprSMCControl(int boundKind)
{
    auto [symbol, bound, formula] = popBoundedFormula(boundKind);
    fragments.push_back(expression_t::createTernary(BOUNDED_CONTROL, symbol, bound, formula, position));
}

void ExpressionBuilder::exprProbaQualitative(int boundKind, int pathKind, int comparison, double probability)
{
    auto [symbol, bound, formula] = popBoundedFormula(boundKind);
    node_kind_t kind;
    if (comparison == LESS_EQUAL) {
        // Pr(<> f) <= p is Pr([] not f) >= 1 - p, and the other way round.
        formula = expression_t::createUnary(LOGICAL_NOT, formula, position);
        probability = 1 - probability;
        kind = pathKind == BOX_MARKER ? PROBABILITY_DIAMOND_AT_LEAST : PROBABILITY_BOX_AT_LEAST;
    } else {
        kind = pathKind == BOX_MARKER ? PROBABILITY_BOX_AT_LEAST : PROBABILITY_DIAMOND_AT_LEAST;
    }
    fragments.push_back(expression_t::createNary(
        kind, {symbol, bound, formula, expression_t::createDouble(probability, position)}, position));
}

void ExpressionBuilder::exprProbaEstimate(int boundKind, int pathKind, bool isUntil)
{
    size_t extra = boundKind == 2 ? 1 : 0;
    node_kind_t kind = pathKind == BOX_MARKER ? PROBABILITY_BOX_ESTIMATE : PROBABILITY_DIAMOND_ESTIMATE;
    std::vector<expression_t> children;
    if (isUntil) {
        children = {boundSymbol(boundKind, 3), fragment(1), fragment(2), fragment(0)};
        popExpressionFragments(3 + extra);
    } else {
        expression_t always = makeConstant(1);
        always.setType(type_t::createPrimitive(BOOL));
        children = {boundSymbol(boundKind, 2), always, fragment(1), fragment(0)};
        popExpressionFragments(2 + extra);
    }
    fragments.push_back(expression_t::createNary(kind, children, position));
}

void ExpressionBuilder::exprProbaCompare(int boundKind, int pathKind, int secondBoundKind, int secondPathKind)
{
    size_t firstSize = boundKind == 2 ? 3 : 2;
    size_t secondSize = secondBoundKind == 2 ? 3 : 2;
    size_t total = firstSize + secondSize;
    if (total > fragments.size()) {
        throw Bug("Expression stack underflow");
    }
    // From the deepest: the first query's part, then the second's.
    size_t first = fragments.size() - total;
    size_t second = first + firstSize;
    auto part = [&](size_t base, size_t size, int bk, int pk) {
        expression_t symbol = bk == 2 ? fragments[base] : expression_t::createConstant(bk);
        return std::vector<expression_t>{symbol, fragments[base + size - 2], expression_t::createConstant(pk),
                                         fragments[base + size - 1]};
    };
    std::vector<expression_t> children = part(first, firstSize, boundKind, pathKind);
    std::vector<expression_t> more = part(second, secondSize, secondBoundKind, secondPathKind);
    children.insert(children.end(), more.begin(), more.end());
    popExpressionFragments(total);
    fragments.push_back(expression_t::createNary(PROBABILITY_COMPARE, children, position));
}

void ExpressionBuilder::exprProbaExpected(int boundKind, const char* aggregate)
{
    int32_t which;
    if (std::string(aggregate) == "min") {
        which = 0;
    } else if (std::string(aggregate) == "max") {
        which = 1;
    } else {
        throw TypeException("min or max expected");
    }
    size_t extra = boundKind == 2 ? 1 : 0;
    std::vector<expression_t> children = {boundSymbol(boundKind, 3), fragment(2), fragment(1), fragment(0),
                                          expression_t::createConstant(which)};
    popExpressionFragments(3 + extra);
    fragments.push_back(expression_t::createNary(EXPECTED_VALUE, children, position));
}

void ExpressionBuilder::exprSimulation(int32_t runs, int boundKind, uint32_t count, bool hasPredicate,
                                       int32_t predicateCount)
{
    size_t total = size_t(count) + 1 + (boundKind == 2 ? 1 : 0) + (hasPredicate ? 1 : 0);
    if (total > fragments.size()) {
        throw Bug("Expression stack underflow");
    }
    size_t base = fragments.size() - total;
    std::vector<expression_t> children;
    children.push_back(expression_t::createConstant(runs));
    if (boundKind == 2) {
        children.push_back(fragments[base++]);
    } else {
        children.push_back(expression_t::createConstant(boundKind));
    }
    for (; base < fragments.size(); ++base) {
        children.push_back(fragments[base]);
    }
    if (hasPredicate) {
        children.push_back(expression_t::createConstant(predicateCount));
    }
    popExpressionFragments(total);
    fragments.push_back(
        expression_t::createNary(hasPredicate ? SIMULATE_ACCEPTING : SIMULATE, children, position));
}

// --- MITL formulas --------------------------------------------------------------------

void ExpressionBuilder::exprMitlUntil()
{
    expression_t& top = fragment(0);
    top = expression_t::createUnary(MITL_FORMULA, atomise(top), position);
}

void ExpressionBuilder::mitlBinaryInterval(node_kind_t kind, int32_t low, int32_t high)
{
    expression_t left = atomise(fragment(1));
    expression_t right = atomise(fragment(0));
    popExpressionFragments(2);
    fragments.push_back(expression_t::createNary(
        kind, {left, expression_t::createConstant(low), expression_t::createConstant(high), right}, position));
}

void ExpressionBuilder::mitlUnaryInterval(node_kind_t kind, int32_t left, int32_t low, int32_t high)
{
    expression_t& top = fragment(0);
    top = expression_t::createNary(kind,
                                   {makeMitlAtom(expression_t::createConstant(left)), expression_t::createConstant(low),
                                    expression_t::createConstant(high), atomise(top)},
                                   position);
}

void ExpressionBuilder::exprMitlUntil(int32_t low, int32_t high) { mitlBinaryInterval(MITL_UNTIL, low, high); }

void ExpressionBuilder::exprMitlRelease(int32_t low, int32_t high) { mitlBinaryInterval(MITL_RELEASE, low, high); }

// Eventually f is true until f; always f is false released by f.
void ExpressionBuilder::exprMitlEventually(int32_t low, int32_t high) { mitlUnaryInterval(MITL_UNTIL, 1, low, high); }

void ExpressionBuilder::exprMitlAlways(int32_t low, int32_t high) { mitlUnaryInterval(MITL_RELEASE, 0, low, high); }

void ExpressionBuilder::exprMitlNext()
{
    expression_t& top = fragment(0);
    top = expression_t::createUnary(MITL_NEXT, atomise(top), position);
}

void ExpressionBuilder::exprMitlAtom()
{
    expression_t& top = fragment(0);
    if (isMitlFormula(top)) {
        return;
    }
    if (containsMitl(top)) {
        handleError(mitlOperatorMessage);
        top = expression_t::createUnary(MITL_ATOM, makeConstant(0), position);
        return;
    }
    top = expression_t::createUnary(MITL_ATOM, top, position);
}

void ExpressionBuilder::mitlConnective(node_kind_t kind)
{
    expression_t left = fragment(1);
    expression_t right = fragment(0);
    popExpressionFragments(2);
    fragments.push_back(expression_t::createBinary(kind, left, right, position));
}

void ExpressionBuilder::exprMitlConj() { mitlConnective(MITL_AND); }

void ExpressionBuilder::exprMitlDisj() { mitlConnective(MITL_OR); }

// --- Dynamic templates and scenarios ---------------------------------------------------

void ExpressionBuilder::exprSpawn(uint32_t argumentCount)
{
    if (argumentCount >= fragments.size()) {
        throw Bug("Expression stack underflow");
    }
    std::vector<expression_t> children(fragments.end() - argumentCount - 1, fragments.end());
    popExpressionFragments(argumentCount + 1);
    type_t type = children[0].empty() ? type_t() : children[0].getType();
    fragments.push_back(expression_t::createNary(SPAWN, children, position, type));
}

void ExpressionBuilder::exprExit() { fragments.push_back(expression_t::createExit(position)); }

void ExpressionBuilder::exprNumOf()
{
    expression_t& top = fragment(0);
    top = expression_t::createUnary(NUMOF, top, position, type_t::createPrimitive(INT, position));
}

scope_t ExpressionBuilder::addDynamicFrame(template_t* dynamicTemplate, const std::string& name)
{
    if (!dynamicTemplate->isDefined) {
        throw TypeException("Template referenced before used");
    }
    scope_t& frame = dynamicFrames[name];
    frame = dynamicTemplate->declarations.frame;
    return frame;
}

void ExpressionBuilder::removeDynamicFrame(const std::string& name) { dynamicFrames.erase(name); }

void ExpressionBuilder::dynamicBegin(const char* name, const char* templateName, const char* usedIn)
{
    pushFrame(scope_t::createSubScope(frames.back()));
    frames.back().addSymbol(name, type_t::createPrimitive(PROCESS_VARIABLE, position), nullptr);
    template_t* dynamicTemplate = system->findDynamicTemplate(templateName);
    if (dynamicTemplate == nullptr) {
        throw TypeException(std::string("Unknown dynamic template ") + templateName + usedIn);
    }
    addDynamicFrame(dynamicTemplate, name);
}

// typing: 0 BOOL, 1 the body's type, 2 INT.
void ExpressionBuilder::dynamicEnd(const char* name, node_kind_t kind, node_kind_t mitlKind, int typing)
{
    expression_t body = fragment(0);
    expression_t templ = fragment(1);
    binding_t variable = frames.back()[0];
    expression_t bound = expression_t::createIdentifier(variable, position);
    popExpressionFragments(2);

    if (mitlKind != kind) {
        if (!body.empty() && body.getKind() == MITL_ATOM) {
            body = body[0].shallowCopy();
        }
        if (isMitlFormula(body)) {
            kind = mitlKind;
        }
    }
    type_t type;
    switch (typing) {
    case 0:
        type = type_t::createPrimitive(BOOL, position);
        break;
    case 1:
        type = body.empty() ? type_t() : body.getType();
        break;
    default:
        type = type_t::createPrimitive(INT, position);
        break;
    }
    fragments.push_back(expression_t::createTernary(kind, bound, templ, body, position, type));
    popFrame();
    removeDynamicFrame(name);
}

void ExpressionBuilder::exprForAllDynamicBegin(const char* name, const char* templateName)
{
    dynamicBegin(name, templateName, " used in for all");
}

void ExpressionBuilder::exprForAllDynamicEnd(const char* name)
{
    dynamicEnd(name, FORALL_DYNAMIC, MITL_FORALL_DYNAMIC, 0);
}

void ExpressionBuilder::exprExistsAllDynamicBegin(const char* name, const char* templateName)
{
    dynamicBegin(name, templateName, " used in  exists");
}

void ExpressionBuilder::exprExistsAllDynamicEnd(const char* name)
{
    dynamicEnd(name, EXISTS_DYNAMIC, MITL_EXISTS_DYNAMIC, 0);
}

void ExpressionBuilder::exprSumDynamicBegin(const char* name, const char* templateName)
{
    dynamicBegin(name, templateName, " used in sum");
}

void ExpressionBuilder::exprSumDynamicEnd(const char* name) { dynamicEnd(name, SUM_DYNAMIC, SUM_DYNAMIC, 1); }

void ExpressionBuilder::exprForeachDynamicBegin(const char* name, const char* templateName)
{
    dynamicBegin(name, templateName, " used in foreach");
}

void ExpressionBuilder::exprForeachDynamicEnd(const char* name)
{
    dynamicEnd(name, FOREACH_DYNAMIC, FOREACH_DYNAMIC, 2);
}

// --- Queries of the model checker -------------------------------------------------------

bool ExpressionBuilder::isQueryBuilder() { return false; }

expression_t ExpressionBuilder::makeObserverProperty()
{
    binding_t observer;
    if (!resolve(system->observerName, observer)) {
        throw TypeException(unknownIdentifier(system->observerName));
    }
    type_t type = observer.getType();
    expression_t lmin = expression_t::createDot(expression_t::createIdentifier(observer), type.findField("lmin"),
                                                position, type_t::createPrimitive(BOOL));
    expression_t lmax = expression_t::createDot(expression_t::createIdentifier(observer), type.findField("lmax"),
                                                position, type_t::createPrimitive(BOOL));
    return expression_t::createBinary(OBSERVER_LEADS_TO, lmin, lmax, position);
}

} // namespace ZOLT
