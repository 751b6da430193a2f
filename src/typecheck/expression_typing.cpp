// Typing of expressions: every node receives a type computed from the types of its
// children, bottom-up; an error is reported once, at the deepest node where it arises.

#include "typecheck/relations.h"
#include "typecheck/type_checker.h"
#include "language/nesting.h"

namespace ZOLT {

namespace {

type_t primitive(node_kind_t kind) { return type_t::createPrimitive(kind); }

type_t typeOf(const expression_t& e) { return e.empty() ? type_t() : e.getType(); }

bool is(const expression_t& e, node_kind_t kind) { return hasTypeKind(e, kind); }

// The operands (a, b) match the kinds (p, q) in this order.
bool pair(const expression_t& a, const expression_t& b, node_kind_t p, node_kind_t q)
{
    return is(a, p) && is(b, q);
}

// A clock or a clock difference beside a whole number (an integer or a truth value, which is
// 0 or 1): what a clock constraint compares and what shifting a clock by a constant gives.
bool clockAndWhole(const expression_t& clock, const expression_t& whole, node_kind_t clockKind)
{
    return is(clock, clockKind) && isIntOrBoolTyped(whole);
}

bool eitherClockAndWhole(const expression_t& a, const expression_t& b, node_kind_t clockKind)
{
    return clockAndWhole(a, b, clockKind) || clockAndWhole(b, a, clockKind);
}

// An array of clocks: its cells hold clock numbers, so comparing two such arrays cell by cell
// would compare which clocks they are, not their values.
bool isClockArray(const expression_t& e)
{
    const type_t type = typeOf(e);
    return type.isKind(ARRAY) && type.unwrapArrays().isKind(CLOCK);
}

// A whole number or a floating-point value: the bounds an upper clock limit takes.
bool isWholeOrDouble(const expression_t& e) { return isIntOrBoolTyped(e) || is(e, DOUBLE); }

bool isMathFunction(node_kind_t kind)
{
    return (kind >= COS && kind <= FLOOR) && kind != POW;
}

// An int constant or a clock: what a run's bound limits. A clock shifted by a number is no
// clock whose value a run could be bounded by.
bool isBoundSymbol(const expression_t& e) { return isIntConstant(e) || designatesClock(e); }

} // namespace

bool TypeChecker::annotateExpressionType(expression_t e)
{
    if (e.empty()) {
        return true;
    }
    if (exceedsNestingDepth(e)) {
        // The front end never builds a tree this deep; one made elsewhere is refused
        // rather than walked (language/nesting.h).
        reportError(e, expressionTooDeepMessage);
        return false;
    }
    // Children first, each child whatever became of the ones before it; a node is typed
    // when all its children were. A list is typed along its spine from the innermost
    // node out, as the nested calls would.
    const std::vector<expression_t> spine = listSpine(e);
    const expression_t& innermost = spine.back();
    bool ok = true;
    for (size_t i = 0; i < innermost.getSize(); ++i) {
        ok = annotateExpressionType(innermost.getChild(i)) && ok;
    }
    ok = ok && annotateNode(innermost);
    for (size_t k = spine.size() - 1; k-- > 0;) {
        const bool rightOk = annotateExpressionType(spine[k].getChild(1));
        ok = rightOk && ok && annotateNode(spine[k]);
    }
    return ok;
}

bool TypeChecker::annotateNode(expression_t e)
{
    const node_kind_t kind = e.getKind();
    bool ok = true;
    type_t result;

    if (kind <= MAXIMUM && kind != LOGICAL_AND && kind != LOGICAL_OR && kind != LOGICAL_XOR) {
        result = typeArithmetic(e);
    } else if (kind == UNARY_MINUS) {
        result = typeArithmetic(e);
    } else if (kind == LOGICAL_AND || kind == LOGICAL_OR || kind == LOGICAL_XOR || kind == LOGICAL_NOT ||
               kind == RATE || kind == FRACTION) {
        result = typeConnective(e);
    } else if (kind >= LESS && kind <= GREATER) {
        result = typeComparison(e);
    } else if ((kind >= SIMULATION_LESS_EQUAL && kind <= BACKSLASH) || kind == PLUS_LIST ||
               (kind >= CONSISTENCY && kind <= SPECIFICATION)) {
        result = typeComposition(e, ok);
    } else if (kind == FOR_ALL || kind == EXISTS || kind == SUM) {
        result = typeQuantifier(e);
    } else if (isMathFunction(kind) || kind == POW) {
        if (kind == POW && !isNumeric(e.getChild(1))) {
            reportError(e.getChild(1), "$Number_expected");
            return false;
        }
        if (!isNumeric(e.getChild(0))) {
            reportError(e.getChild(0), "$Number_expected");
            return false;
        }
        result = primitive(DOUBLE);
    } else if ((kind >= ASSIGN && kind <= SHIFT_RIGHT_ASSIGN) ||
               (kind >= POST_INCREMENT && kind <= PRE_DECREMENT)) {
        result = typeAssignment(e, ok);
    } else if ((kind >= EXISTS_EVENTUALLY && kind <= SIMULATE_ACCEPTING) ||
               (kind >= CONTROL && kind <= BOUNDED_CONTROL) || kind == SUPREMUM || kind == INFIMUM ||
               kind == SCENARIO || kind == OBSERVER_LEADS_TO || (kind >= MITL_FORMULA && kind <= MITL_ATOM)) {
        result = typeQuery(e, ok);
    } else if (kind == SPAWN || kind == EXIT || kind == NUMOF || kind == SUM_DYNAMIC) {
        result = typeDynamic(e, ok);
    } else if (kind == INLINE_IF) {
        if (!isIntegralTyped(e.getChild(0))) {
            reportError(e, "$First_argument_of_inline_if_must_be_an_integer");
            return false;
        }
        if (!branchTypesMatch(typeOf(e.getChild(1)), typeOf(e.getChild(2)))) {
            reportError(e, "$Incompatible_arguments_to_inline_if");
            return false;
        }
        result = typeOf(e.getChild(1));
    } else if (kind == COMMA) {
        for (size_t i = 0; i < 2; ++i) {
            expression_t operand = e.getChild(i);
            if (!isValueType(typeOf(operand)) && !isVoidTyped(operand)) {
                reportError(operand, "$Incompatible_type_for_comma_expression");
                return false;
            }
        }
        warnIfWithoutEffect(e.getChild(0));
        result = typeOf(e.getChild(1));
    } else if (kind == ARRAY) {
        type_t arrayType = typeOf(e.getChild(0));
        if (!arrayType.isKind(ARRAY)) {
            reportError(e.getChild(0), "$Array_expected");
            return false;
        }
        result = arrayType.getQualifiedChild(0);
        type_t index = arrayType.getIndexType();
        expression_t subscript = e.getChild(1);
        if (index.isKind(INT) && isIntegralTyped(subscript)) {
            // accepted
        } else if (index.isKind(SCALAR) && is(subscript, SCALAR)) {
            if (!sameScalarset(index, typeOf(subscript))) {
                reportError(subscript, "$Incompatible_type");
                return false;
            }
        } else {
            // A subscript of the wrong kind is reported, but the element type stands.
            reportError(subscript, "$Incompatible_type");
        }
    } else if (kind == FUNCTION_CALL) {
        // The call keeps the return type its builder gave it.
        type_t function = e.getSize() > 0 ? typeOf(e.getChild(0)) : type_t();
        bool matched = true;
        if (function.getKind() == FUNCTION) {
            for (size_t i = 1; i < function.getSize() && i < e.getSize(); ++i) {
                matched = verifyArgument(function.getChild(i), e.getChild(i)) && matched;
            }
        }
        return matched;
    } else {
        // Identifiers, constants, lists, members and the other kinds keep the type
        // their builder gave them.
        return true;
    }

    if (!ok) {
        return false;
    }
    if (result == type_t()) {
        reportError(e, "$Type_error");
        return false;
    }
    e.setType(result);
    return true;
}

type_t TypeChecker::typeArithmetic(const expression_t& e)
{
    const node_kind_t kind = e.getKind();
    const expression_t a = e.getChild(0);
    if (kind == UNARY_MINUS) {
        if (isIntegralTyped(a)) {
            return primitive(INT);
        }
        return isNumeric(a) ? primitive(DOUBLE) : type_t();
    }
    const expression_t b = e.getChild(1);
    const bool integral = isIntegralTyped(a) && isIntegralTyped(b);
    const bool numeric = isNumeric(a) && isNumeric(b);
    switch (kind) {
    case ADD:
        if (integral) {
            return primitive(INT);
        }
        if (eitherClockAndWhole(a, b, CLOCK)) {
            return primitive(CLOCK);
        }
        if (eitherClockAndWhole(a, b, DIFF)) {
            return primitive(DIFF);
        }
        return numeric ? primitive(DOUBLE) : type_t();
    case SUBTRACT:
        if (integral) {
            return primitive(INT);
        }
        if (clockAndWhole(a, b, CLOCK)) {
            return primitive(CLOCK);
        }
        if (eitherClockAndWhole(a, b, DIFF) || pair(a, b, CLOCK, CLOCK)) {
            return primitive(DIFF);
        }
        return numeric ? primitive(DOUBLE) : type_t();
    case MULTIPLY:
    case DIVIDE:
    case MINIMUM:
    case MAXIMUM:
        if (integral) {
            return primitive(INT);
        }
        return numeric ? primitive(DOUBLE) : type_t();
    default: // MODULO, the bit operations and the shifts
        return integral ? primitive(INT) : type_t();
    }
}

type_t TypeChecker::typeComparison(const expression_t& e)
{
    const node_kind_t kind = e.getKind();
    const expression_t a = e.getChild(0);
    const expression_t b = e.getChild(1);
    const bool integral = isIntegralTyped(a) && isIntegralTyped(b);
    const bool numeric = isNumeric(a) && isNumeric(b);
    // The clock pairs shared by the kinds that only compare with whole numbers. A truth value
    // is the number 0 or 1 here as everywhere else: x == true is the constraint x == 1.
    const bool clockPairsInt = pair(a, b, CLOCK, CLOCK) || eitherClockAndWhole(a, b, CLOCK) ||
                               eitherClockAndWhole(a, b, DIFF);
    switch (kind) {
    case LESS:
    case LESS_EQUAL: {
        if (integral) {
            return primitive(BOOL);
        }
        const bool boundA = isWholeOrDouble(a);
        const bool boundB = isWholeOrDouble(b);
        if (pair(a, b, CLOCK, CLOCK) || (is(a, CLOCK) && boundB) || (boundA && is(b, CLOCK)) ||
            (is(a, DIFF) && boundB) || (boundA && is(b, DIFF))) {
            return primitive(INVARIANT);
        }
        return numeric ? primitive(BOOL) : type_t();
    }
    case GREATER_EQUAL:
    case GREATER:
        if (integral) {
            return primitive(BOOL);
        }
        if (clockPairsInt) {
            return primitive(INVARIANT);
        }
        return numeric ? primitive(BOOL) : type_t();
    case EQUAL:
        if (clockPairsInt) {
            return primitive(GUARD);
        }
        if (comparableForEquality(typeOf(a), typeOf(b)) && !isClockArray(a)) {
            return primitive(BOOL);
        }
        if ((is(a, RATE) && (isIntegralTyped(b) || isDoubleLike(b))) ||
            ((isIntegralTyped(a) || isDoubleLike(a)) && is(b, RATE))) {
            return primitive(RATE_INVARIANT);
        }
        return numeric ? primitive(BOOL) : type_t();
    default: // NOT_EQUAL
        if (clockPairsInt) {
            return primitive(CONSTRAINT);
        }
        if (comparableForEquality(typeOf(a), typeOf(b)) && !isClockArray(a)) {
            return primitive(BOOL);
        }
        return numeric ? primitive(BOOL) : type_t();
    }
}

type_t TypeChecker::typeConnective(const expression_t& e)
{
    const node_kind_t kind = e.getKind();
    const expression_t a = e.getChild(0);
    if (kind == LOGICAL_NOT) {
        if (isIntegralTyped(a)) {
            return primitive(BOOL);
        }
        return isConstraintTyped(a) ? primitive(CONSTRAINT) : type_t();
    }
    if (kind == RATE) {
        return isCostTyped(a) || isClockTyped(a) ? primitive(RATE) : type_t();
    }
    const expression_t b = e.getChild(1);
    const bool integral = isIntegralTyped(a) && isIntegralTyped(b);
    switch (kind) {
    case FRACTION:
        return integral ? primitive(FRACTION) : type_t();
    case LOGICAL_AND:
        if (integral) {
            return primitive(BOOL);
        }
        if (isInvariantTyped(a) && isInvariantTyped(b)) {
            return primitive(INVARIANT);
        }
        if (isRateInvariantTyped(a) && isRateInvariantTyped(b)) {
            return primitive(RATE_INVARIANT);
        }
        if (isGuardTyped(a) && isGuardTyped(b)) {
            return primitive(GUARD);
        }
        if (isConstraintTyped(a) && isConstraintTyped(b)) {
            return primitive(CONSTRAINT);
        }
        return isFormulaTyped(a) && isFormulaTyped(b) ? primitive(FORMULA) : type_t();
    case LOGICAL_OR: {
        if (integral) {
            return primitive(BOOL);
        }
        auto oneIntegralOther = [&](bool (*test)(const expression_t&)) {
            return (isIntegralTyped(a) && test(b)) || (test(a) && isIntegralTyped(b));
        };
        if (oneIntegralOther(isInvariantTyped)) {
            return primitive(INVARIANT);
        }
        if (oneIntegralOther(isRateInvariantTyped)) {
            return primitive(RATE_INVARIANT);
        }
        if (oneIntegralOther(isGuardTyped)) {
            return primitive(GUARD);
        }
        return isConstraintTyped(a) && isConstraintTyped(b) ? primitive(CONSTRAINT) : type_t();
    }
    default: // LOGICAL_XOR
        return integral ? primitive(BOOL) : type_t();
    }
}

type_t TypeChecker::typeAssignment(const expression_t& e, bool& ok)
{
    const node_kind_t kind = e.getKind();
    const expression_t target = e.getChild(0);
    if (kind >= POST_INCREMENT && kind <= PRE_DECREMENT) {
        if (!isWritableLvalue(target)) {
            reportError(target, "$Left_hand_side_value_expected");
            ok = false;
            return type_t();
        }
        if (!isIntTyped(target)) {
            reportError(e, "$Integer_expected");
            ok = false;
            return type_t();
        }
        return primitive(INT);
    }
    const expression_t source = e.getChild(1);
    if (kind == ASSIGN) {
        if (!acceptsAssignment(typeOf(target), typeOf(source), false)) {
            reportError(e, "$Incompatible_types");
            ok = false;
            return type_t();
        }
    } else if (kind == ADD_ASSIGN) {
        // Neither error of a compound addition ends typing.
        if ((isIntTyped(target) || isCostTyped(target)) && isIntegralTyped(source)) {
            if (!isWritableLvalue(target)) {
                reportError(target, "$Left_hand_side_value_expected");
            }
        } else {
            reportError(e, "$Increment_operator_can_only_be_used_for_integers_and_cost_variables");
        }
        return typeOf(target);
    } else if (!isIntegralTyped(target) || !isIntegralTyped(source)) {
        reportError(e, "$Non-integer_types_must_use_regular_assignment_operator");
        ok = false;
        return type_t();
    }
    if (!isWritableLvalue(target)) {
        reportError(target, "$Left_hand_side_value_expected");
        ok = false;
        return type_t();
    }
    return typeOf(target);
}

type_t TypeChecker::typeQuantifier(const expression_t& e)
{
    const node_kind_t kind = e.getKind();
    expression_t bound = e.getChild(0);
    if (!bound.empty() && bound.getKind() == IDENTIFIER && !bound.getSymbol().empty()) {
        validateDeclaredType(bound.getSymbol().getType(), false, false);
    }
    const expression_t body = e.getChild(1);
    type_t result;
    if (kind == FOR_ALL) {
        if (isIntegralTyped(body)) {
            result = primitive(BOOL);
        } else if (isInvariantTyped(body)) {
            result = primitive(INVARIANT);
        } else if (isRateInvariantTyped(body)) {
            result = primitive(RATE_INVARIANT);
        } else if (isGuardTyped(body)) {
            result = primitive(GUARD);
        } else if (isConstraintTyped(body)) {
            result = primitive(CONSTRAINT);
        } else {
            reportError(body, "$Boolean_expected");
        }
    } else if (kind == EXISTS) {
        if (isIntegralTyped(body)) {
            result = primitive(BOOL);
        } else if (isConstraintTyped(body)) {
            result = primitive(CONSTRAINT);
        } else {
            reportError(body, "$Boolean_expected");
        }
    } else { // SUM
        if (isIntegralTyped(body)) {
            result = primitive(INT);
        } else if (isNumeric(body)) {
            result = primitive(DOUBLE);
        } else {
            reportError(body, "$Number_expected");
        }
    }
    if (!body.empty() && body.hasSideEffects()) {
        reportError(body, "$Expression_must_be_side-effect_free");
    }
    return result;
}

type_t TypeChecker::typeDynamic(const expression_t& e, bool& ok)
{
    auto fail = [&](const std::string& message) {
        reportError(e, message);
        ok = false;
        return type_t();
    };
    auto templateNamed = [&](const expression_t& name) -> template_t* {
        if (name.empty() || name.getKind() != IDENTIFIER || name.getSymbol().empty()) {
            return nullptr;
        }
        return system->findDynamicTemplate(name.getSymbol().getName());
    };
    switch (e.getKind()) {
    case SPAWN: {
        template_t* t = e.getSize() > 0 ? templateNamed(e.getChild(0)) : nullptr;
        if (t == nullptr) {
            return fail("It appears your trying to spawn a non-dynamic template");
        }
        size_t parameters = t->parameters.empty() ? 0 : t->parameters.getSize();
        if (parameters != e.getSize() - 1) {
            return fail("Wrong number of arguments");
        }
        for (size_t i = 0; i < parameters; ++i) {
            if (!verifyArgument(t->parameters[i].getType(), e.getChild(i + 1))) {
                ok = false;
                return type_t();
            }
        }
        if (!t->isDefined) {
            return fail("Template is only declared - not defined");
        }
        return primitive(INT);
    }
    case EXIT:
        // Outside every template there is no dynamic template to leave either.
        if (currentTemplate == nullptr || !currentTemplate->isDynamic) {
            return fail("Exit can only be used in templates declared as dynamic");
        }
        return primitive(INT);
    case NUMOF:
        if (templateNamed(e.getChild(0)) == nullptr) {
            return fail("Not a dynamic template");
        }
        return primitive(INT);
    default: { // SUM_DYNAMIC
        const expression_t body = e.getChild(2);
        if (isIntegralTyped(body) || isDoubleLike(body)) {
            return typeOf(body);
        }
        if (isInvariantTyped(body) || isGuardTyped(body)) {
            return primitive(GUARD_SUM);
        }
        return fail("A sum can only  be made over integer, double, invariant or guard expressions.");
    }
    }
}

type_t TypeChecker::typeQuery(const expression_t& e, bool& ok)
{
    const node_kind_t kind = e.getKind();
    const size_t size = e.getSize();
    // Errors that let the later steps of the same query report theirs.
    bool failed = false;
    auto goesOn = [&](const expression_t& at, const char* message) {
        reportError(at, message);
        failed = true;
    };
    auto ends = [&](const expression_t& at, const char* message) {
        reportError(at, message);
        ok = false;
        return type_t();
    };
    auto finish = [&]() {
        if (failed) {
            ok = false;
            return type_t();
        }
        return primitive(FORMULA);
    };
    auto child = [&](size_t i) { return e.getChild(i); };

    switch (kind) {
    case EXISTS_EVENTUALLY:
    case EXISTS_GLOBALLY:
    case ALWAYS_EVENTUALLY:
    case ALWAYS_GLOBALLY:
    case ROBUST_ALWAYS_GLOBALLY:
    case ROBUST_EXISTS_EVENTUALLY:
    case SMC_UNARY_QUERY:
    case CONTROL:
    case EXISTS_EVENTUALLY_CONTROL:
    case CONTROL_T_STAR_2:
    case CONTROL_T_STAR_1:
    case CONTROL_T_STAR_0:
        return isFormulaTyped(child(0)) ? primitive(FORMULA) : type_t();
    case LEADS_TO:
    case ALWAYS_UNTIL:
    case ALWAYS_WEAK_UNTIL:
    case ALWAYS_GLOBALLY_AND_EVENTUALLY:
    case OBSERVER_LEADS_TO:
        return isFormulaTyped(child(0)) && isFormulaTyped(child(1)) ? primitive(FORMULA) : type_t();
    case SET_CONTROL: {
        expression_t states = child(0);
        for (size_t i = 0; i < states.getSize(); ++i) {
            if (!isFormulaTyped(states.getChild(i))) {
                return type_t();
            }
        }
        return isFormulaTyped(child(1)) ? primitive(FORMULA) : type_t();
    }
    case SCENARIO:
    case MITL_FORMULA:
    case MITL_RELEASE:
    case MITL_UNTIL:
    case MITL_AND:
    case MITL_OR:
    case MITL_NEXT:
        return primitive(FORMULA);
    case MITL_ATOM:
        // An atom holds or not in a state: a condition, never a clock or a number read from
        // one.
        if (size != 1 || !isConstraintTyped(child(0))) {
            return ends(size == 1 ? child(0) : e, "$Boolean_expected");
        }
        return primitive(FORMULA);
    case PROBABILITY_BOX_AT_LEAST:
    case PROBABILITY_DIAMOND_AT_LEAST:
        if (size != 4) {
            return type_t();
        }
        if (!isBoundSymbol(child(0))) {
            goesOn(child(0), "$Clock_expected");
        }
        if (!computableAtCompileTime(child(1))) {
            goesOn(child(1), "$Must_be_computable_at_compile_time");
        }
        if (!isConstraintTyped(child(2))) {
            return ends(child(2), "$Boolean_expected");
        }
        return finish();
    case PROBABILITY_BOX_ESTIMATE:
    case PROBABILITY_DIAMOND_ESTIMATE:
        if (size != 4) {
            return type_t();
        }
        if (!isBoundSymbol(child(0))) {
            goesOn(child(0), "$Clock_expected");
        }
        if (kind == PROBABILITY_DIAMOND_ESTIMATE && !isConstraintTyped(child(1))) {
            goesOn(child(1), "$Boolean_expected");
        }
        if (!computableAtCompileTime(child(2))) {
            goesOn(child(2), "$Must_be_computable_at_compile_time");
        }
        if (!isConstraintTyped(child(3))) {
            return ends(child(3), "$Boolean_expected");
        }
        return finish();
    case PROBABILITY_COMPARE:
        if (size != 8) {
            return type_t();
        }
        if (!isBoundSymbol(child(0))) {
            goesOn(child(0), "$Clock_expected");
        }
        if (!isBoundSymbol(child(4))) {
            goesOn(child(4), "$Clock_expected");
        }
        if (!computableAtCompileTime(child(1))) {
            goesOn(child(1), "$Must_be_computable_at_compile_time");
        }
        if (!isConstraintTyped(child(3))) {
            goesOn(child(3), "$Boolean_expected");
        }
        if (!computableAtCompileTime(child(5))) {
            goesOn(child(5), "$Must_be_computable_at_compile_time");
        }
        if (!isConstraintTyped(child(7))) {
            return ends(child(7), "$Boolean_expected");
        }
        return finish();
    case EXPECTED_VALUE:
        if (size != 5) {
            return type_t();
        }
        if (!isBoundSymbol(child(0))) {
            goesOn(child(0), "$Clock_expected");
        }
        if (!computableAtCompileTime(child(1))) {
            goesOn(child(1), "$Must_be_computable_at_compile_time");
        }
        if (!computableAtCompileTime(child(2))) {
            goesOn(child(2), "$Must_be_computable_at_compile_time");
        }
        if (!isNumeric(child(3))) {
            return ends(child(3), "$Number_expected");
        }
        return finish();
    case SIMULATE:
    case SIMULATE_ACCEPTING: {
        const size_t minimum = kind == SIMULATE ? 3 : 5;
        if (size < minimum) {
            return type_t();
        }
        if (!isIntConstant(child(0))) {
            return ends(child(0), "$Integer_expected");
        }
        if (!isBoundSymbol(child(1))) {
            return ends(child(1), "$Clock_expected");
        }
        if (!computableAtCompileTime(child(2))) {
            return ends(child(2), "$Must_be_computable_at_compile_time");
        }
        if (!isIntegralTyped(child(2))) {
            return ends(child(2), "$Integer_expected");
        }
        size_t end = size;
        if (kind == SIMULATE_ACCEPTING) {
            if (!isIntConstant(child(size - 1))) {
                return ends(child(size - 1), "$Integer_expected");
            }
            expression_t predicate = child(size - 2);
            if (!isConstraintTyped(predicate)) {
                goesOn(predicate, "$Boolean_expected");
            }
            if (predicate.hasSideEffects()) {
                goesOn(predicate, "$Property_must_be_side-effect_free");
            }
            if (failed) {
                ok = false;
                return type_t();
            }
            end = size - 2;
        }
        for (size_t i = 3; i < end; ++i) {
            expression_t recorded = child(i);
            if (!isIntegralTyped(recorded) && !isClockTyped(recorded) && !isDoubleLike(recorded) &&
                !is(recorded, GUARD_SUM) && !isConstraintTyped(recorded)) {
                return ends(recorded, "$Integer_or_clock_expected");
            }
            if (recorded.hasSideEffects()) {
                return ends(recorded, "$Property_must_be_side-effect_free");
            }
        }
        return primitive(FORMULA);
    }
    case BOUNDED_CONTROL:
        if (!isBoundSymbol(child(0))) {
            goesOn(child(0), "$Clock_expected");
        }
        if (!computableAtCompileTime(child(1))) {
            return ends(child(1), "$Must_be_computable_at_compile_time");
        }
        if (failed) {
            ok = false;
            return type_t();
        }
        return isFormulaTyped(child(2)) ? primitive(FORMULA) : type_t();
    default: { // SUPREMUM, INFIMUM
        if (!isConstraintTyped(child(0))) {
            return ends(child(0), "$Boolean_expected");
        }
        expression_t list = child(1);
        if (list.empty() || list.getKind() != LIST) {
            return type_t();
        }
        for (size_t i = 0; i < list.getSize(); ++i) {
            expression_t element = list.getChild(i);
            if (isIntegralTyped(element)) {
                if (element.hasSideEffects()) {
                    return ends(element, "$Expression_must_be_side-effect_free");
                }
            } else if (!isClockTyped(element)) {
                return ends(element, "$Type_error");
            }
        }
        return primitive(FORMULA);
    }
    }
}

type_t TypeChecker::typeComposition(const expression_t& e, bool& ok)
{
    bool failed = false;
    auto check = [&](const expression_t& operand, bool accepted, const char* message) {
        if (!accepted) {
            reportError(operand, message);
            failed = true;
        }
    };
    auto tigraphOr = [](const expression_t& operand, bool accepted) {
        return accepted || hasTypeKind(operand, TIGRAPH);
    };
    auto isIdentifier = [](const expression_t& operand) {
        return !operand.empty() && operand.getKind() == IDENTIFIER;
    };
    const expression_t a = e.getSize() > 0 ? e.getChild(0) : expression_t();
    const expression_t b = e.getSize() > 1 ? e.getChild(1) : expression_t();
    node_kind_t result = FORMULA;
    switch (e.getKind()) {
    case SIMULATION_LESS_EQUAL:
        check(a, !a.empty() && a.getKind() == BRACED_PAIR, "$Composition_of_processes_expected");
        check(b, isProcessList(b), "$Composition_of_processes_expected");
        break;
    case SIMULATION_GREATER_EQUAL:
        check(b, !b.empty() && b.getKind() == BRACED_PAIR, "$Composition_of_processes_expected");
        check(a, isProcessList(a), "$Composition_of_processes_expected");
        break;
    case REFINEMENT_LESS_EQUAL:
    case REFINEMENT_GREATER_EQUAL:
        check(a, tigraphOr(a, isIdentifier(a)), "$Process_expression_expected");
        check(b, tigraphOr(b, isIdentifier(b)), "$Process_expression_expected");
        break;
    case OR_LIST:
    case AND_LIST:
    case PLUS_LIST:
        for (size_t i = 0; i < e.getSize(); ++i) {
            expression_t operand = e.getChild(i);
            check(operand, tigraphOr(operand, isIdentifier(operand)), "$Process_expression_expected");
        }
        result = TIGRAPH;
        break;
    case BACKSLASH:
        check(a, tigraphOr(a, isProcessIdentifier(a)), "$Process_expression_expected");
        check(b, tigraphOr(b, isProcessIdentifier(b)), "$Process_expression_expected");
        result = TIGRAPH;
        break;
    case CONSISTENCY:
        check(a, tigraphOr(a, isProcessIdentifier(a)), "$Process_expression_expected");
        check(b, isFormulaTyped(b), "$Property_must_be_a_valid_formula");
        result = TIGRAPH;
        break;
    case BRACED_PAIR:
        check(a, isProcessList(a), "$Composition_of_processes_expected");
        check(b, isProcessList(b), "$List_of_channels_expected");
        break;
    default: // IMPLEMENTATION, SPECIFICATION
        check(a, tigraphOr(a, isProcessIdentifier(a)), "$Process_expression_expected");
        break;
    }
    if (failed) {
        ok = false;
        return type_t();
    }
    return primitive(result);
}

} // namespace ZOLT
