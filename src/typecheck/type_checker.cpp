// The type checker's walk over the model: declarations, instantiations, locations,
// edges, functions and statements, system-level declarations and queries.

#include "typecheck/type_checker.h"

#include <list>

#include "language/nesting.h"
#include "typecheck/relations.h"

namespace ZOLT {

namespace {

type_t typeOf(const expression_t& e) { return e.empty() ? type_t() : e.getType(); }

size_t sizeOf(const scope_t& scope) { return scope.empty() ? 0 : scope.getSize(); }

std::string typeMessage(const expression_t& e, const std::string& place)
{
    return "$Expression_of_type " + typeOf(e).toString() + " " + place;
}

bool hasDynamicPart(const expression_t& e)
{
    return !e.empty() && (e.isDynamic() || e.hasDynamicSubexpression());
}

// Starting a process (spawn) or ending the current one (exit) changes the system
// although no variable is written.
bool changesProcesses(const expression_t& e)
{
    return anySubexpression(e, [](const expression_t& x) { return x.getKind() == SPAWN || x.getKind() == EXIT; });
}

bool hasEffect(const expression_t& e) { return e.hasSideEffects() || changesProcesses(e); }

} // namespace

// --- Compile-time computable symbols ------------------------------------------------

void CompileTimeComputableValues::visitVariable(variable_t& variable)
{
    if (variable.symbol.getType().isConstant()) {
        symbols.insert(variable.symbol);
    }
}

void CompileTimeComputableValues::visitInstance(instance_t& instance)
{
    for (size_t i = 0; i < sizeOf(instance.parameters); ++i) {
        binding_t parameter = instance.parameters[i];
        type_t type = parameter.getType();
        if (!type.isKind(REF) && type.isConstant() && !type.isKind(DOUBLE)) {
            symbols.insert(parameter);
        }
    }
}

bool TypeChecker::computableAtCompileTime(const expression_t& expr) const
{
    std::set<binding_t> reads;
    // A random draw in the expression itself shows up as the empty symbol.
    expr.collectReadSymbols(reads, true);
    for (const binding_t& symbol : reads) {
        if (symbol.empty()) {
            return false;
        }
        if (symbol.getType().isKind(FUNCTION)) {
            continue;   // its reads were collected with it
        }
        if (!computableValues.contains(symbol)) {
            return false;
        }
    }
    return true;
}

// --- Construction and reporting -----------------------------------------------------

TypeChecker::TypeChecker(TimedAutomataSystem& system, bool refinementChecking)
    : system(&system), refinementChecking(refinementChecking)
{
    visitSystem(system, computableValues);
    annotateExpressionType(system.getBeforeUpdate());
    annotateExpressionType(system.getAfterUpdate());
}

TypeChecker::~TypeChecker() = default;

void TypeChecker::reportWarning(const expression_t& expr, const std::string& message)
{
    system->recordWarning(expr.empty() ? span_t() : expr.getPosition(), message);
}

void TypeChecker::reportError(const expression_t& expr, const std::string& message)
{
    system->recordError(expr.empty() ? span_t() : expr.getPosition(), message, std::string());
}

void TypeChecker::reportTypeError(const type_t& type, const std::string& message)
{
    // A prefix that a builder adds on its own (the const around the type of an
    // iteration, say) has no position; the type it wraps was written by the user.
    type_t at = type;
    while (at.getPosition().isAbsent() && at.getSize() > 0 && !at.getChild(0).isUnknown()) {
        at = at.getChild(0);
    }
    system->recordError(at.getPosition(), message, std::string());
}

bool TypeChecker::verifyArgument(const type_t& parameter, const expression_t& argument)
{
    if (argumentMatchesParameter(parameter, argument)) {
        return true;
    }
    reportError(argument, "$Incompatible_argument");
    return false;
}

// --- Declarations and instantiations ------------------------------------------------

void TypeChecker::visitVariable(variable_t& variable)
{
    type_t type = variable.symbol.getType();
    validateDeclaredType(type, false, false);
    expression_t init = variable.initialiser;
    if (hasDynamicPart(init)) {
        reportError(init, "Dynamic constructions cannot be used as initialisers");
        return;
    }
    if (init.empty() || !annotateExpressionType(init)) {
        return;
    }
    if (!computableAtCompileTime(init)) {
        reportError(init, "$Must_be_computable_at_compile_time");
        return;
    }
    if (init.hasSideEffects()) {
        reportError(init, "$Initialiser_must_be_side-effect_free");
        return;
    }
    storeValidatedInitialiser(variable, type, init);
}

void TypeChecker::storeValidatedInitialiser(variable_t& variable, const type_t& type, const expression_t& init)
{
    const size_t errors = system->getErrors().size();
    expression_t validated = validateInitialiser(type, init);
    if (system->getErrors().size() == errors) {
        variable.initialiser = validated;
    }
}

bool TypeChecker::enterTemplate(template_t& templ)
{
    currentTemplate = &templ;
    return true;
}

void TypeChecker::leaveTemplate(template_t&)
{
    currentTemplate = nullptr;
}

bool TypeChecker::isUniqueReference(const expression_t& expr) const
{
    if (expr.empty()) {
        return false;
    }
    node_kind_t kind = expr.getKind();
    if (kind == IDENTIFIER) {
        return true;
    }
    if ((kind >= ASSIGN && kind <= SHIFT_RIGHT_ASSIGN) || kind == PRE_INCREMENT || kind == PRE_DECREMENT ||
        kind == DOT) {
        return isUniqueReference(expr.getChild(0));
    }
    if (kind == ARRAY) {
        return isUniqueReference(expr.getChild(0)) && computableAtCompileTime(expr.getChild(1));
    }
    if (kind == COMMA) {
        return isUniqueReference(expr.getChild(1));
    }
    return false;
}

void TypeChecker::visitInstance(instance_t& instance)
{
    type_t type = instance.symbol.getType();
    for (size_t i = 0; i < type.getSize(); ++i) {
        validateDeclaredType(type.getChild(i), false, false);
    }
    const size_t parameters = sizeOf(instance.parameters);
    for (size_t i = instance.freeCount; i < instance.freeCount + instance.boundCount && i < parameters; ++i) {
        binding_t parameter = instance.parameters[i];
        expression_t argument = instance.bindings[parameter];
        if (!annotateExpressionType(argument)) {
            continue;
        }
        if (argument.hasSideEffects()) {
            reportError(argument, "$Argument_must_be_side-effect_free");
            continue;
        }
        type_t parameterType = parameter.getType();
        bool fits = parameterType.isKind(REF) && !parameterType.isConstant() ? isUniqueReference(argument)
                                                                             : computableAtCompileTime(argument);
        if (!fits) {
            reportError(argument, "$Incompatible_argument");
            continue;
        }
        verifyArgument(parameterType, argument);
    }
}

void TypeChecker::visitProcess(instance_t& process)
{
    for (size_t i = 0; i < process.freeCount && i < sizeOf(process.parameters); ++i) {
        binding_t parameter = process.parameters[i];
        type_t type = parameter.getType();
        // A plain int has the builders' default range, which would make one process
        // for each of its 65,535 values: it counts as unbounded.
        if (type.isKind(REF) || !(type.isKind(SCALAR) || type.isKind(RANGE)) || isUnboundedInt(type)) {
            reportTypeError(type, "$Free_process_parameters_must_be_a_bounded_integer_or_a_scalar");
        }
        if (process.restrictedParameters.count(parameter) != 0) {
            reportTypeError(type, "$Free_process_parameters_must_not_be_used_directly_or_indirectly_in_an_array_"
                                  "declaration_or_select_expression");
        }
    }
}

void TypeChecker::checkClockExpression(expression_t expression)
{
    if (!annotateExpressionType(expression)) {
        return;
    }
    if (!isClockTyped(expression)) {
        reportError(expression, "$Clock_expected");
    } else if (expression.hasSideEffects()) {
        reportError(expression, "$Index_must_be_side-effect_free");
    }
}

// --- Locations and edges ------------------------------------------------------------

void TypeChecker::visitLocation(location_t& location)
{
    expression_t invariant = location.invariant;
    if (!invariant.empty() && annotateExpressionType(invariant)) {
        if (!isRateInvariantTyped(invariant)) {
            reportError(invariant, typeMessage(invariant, "$cannot_be_used_as_an_invariant"));
        } else if (invariant.hasSideEffects()) {
            reportError(invariant, "$Invariant_must_be_side-effect_free");
        } else {
            InvariantParts parts;
            parts.invariant = expression_t::createConstant(1);
            splitInvariant(parts, invariant, false);
            location.invariant = parts.invariant;
            location.costRate = parts.costRate;
            if (parts.costRateCount > 1) {
                reportError(location.invariant, "$Only_one_cost_rate_is_allowed");
            }
            if (parts.clockRate) {
                system->setStopWatches();
            }
            if (parts.strictBound) {
                system->setStrictInvariants();
            }
        }
    }
    expression_t rate = location.exponentialRate;
    if (rate.empty() || !annotateExpressionType(rate)) {
        return;
    }
    if (!isIntegralTyped(rate) && rate.getKind() != FRACTION && !hasTypeKind(rate, DOUBLE)) {
        reportError(rate, "$Number_expected");
    }
}

bool TypeChecker::advanceSyncMode(bool io, bool csp)
{
    if (syncMode == -1) {
        return true;
    }
    if (syncMode == 0) {
        if (io) {
            syncMode = 1;
        } else if (csp) {
            syncMode = 2;
        }
    }
    if ((syncMode == 1 && csp) || (syncMode == 2 && io)) {
        syncMode = -1;
        return true;
    }
    return false;
}

void TypeChecker::visitEdge(edge_t& edge)
{
    for (size_t i = 0; i < sizeOf(edge.select); ++i) {
        validateDeclaredType(edge.select[i].getType(), false, false);
    }

    expression_t guard = edge.guard;
    bool strictBound = false;
    if (!guard.empty() && annotateExpressionType(guard)) {
        if (isGuardTyped(guard)) {
            if (guard.hasSideEffects()) {
                reportError(guard, "$Guard_must_be_side-effect_free");
            }
        } else {
            reportError(guard, typeMessage(guard, "$cannot_be_used_as_a_guard"));
        }
        if (hasStrictClockLowerBound(guard)) {
            strictBound = true;
            if (edge.controllable) {
                system->setStrictLowerBoundOnControllableEdges();
            }
        }
        if (hasStrictClockUpperBound(guard)) {
            strictBound = true;
        }
    }

    expression_t sync = edge.sync;
    if (!sync.empty() && annotateExpressionType(sync)) {
        expression_t channel = sync.getSize() > 0 ? sync.getChild(0) : sync;
        type_t channelType = typeOf(channel);
        const int32_t direction = sync.getSync();
        if (!channelType.isKind(CHANNEL)) {
            reportError(channel, "$Channel_expected");
        } else if (sync.hasSideEffects()) {
            reportError(sync, "$Synchronisation_must_be_side-effect_free");
        } else {
            const bool clockGuard = !guard.empty() && !isIntegralTyped(guard);
            const bool urgent = channelType.isKind(URGENT);
            const bool broadcastReceive = channelType.isKind(BROADCAST) && direction == 0;
            if (clockGuard && urgent) {
                system->clockGuardOnUrgentEdge = true;
                reportWarning(sync, "$Clock_guards_are_not_allowed_on_urgent_edges");
            }
            if (broadcastReceive) {
                if (clockGuard && !urgent) {
                    system->clockGuardOnBroadcastReceive = true;
                }
                if (guard.isTrue() && edge.targetLocation != nullptr && !edge.targetLocation->invariant.isTrue()) {
                    reportWarning(sync, "$It_may_be_needed_to_add_a_guard_involving_the_target_invariant");
                }
            }
            if (urgent && strictBound) {
                reportWarning(guard, "$Strict_bounds_on_urgent_edges_may_not_make_sense");
            }
        }
        if (advanceSyncMode(direction == 0 || direction == 1, direction == 2)) {
            reportError(sync, "$CSP_and_IO_synchronisations_cannot_be_mixed");
        }
        if (refinementChecking) {
            if (direction == 1) {
                if (edge.controllable) {
                    reportWarning(sync, "$Outputs_should_be_uncontrollable_for_refinement_checking");
                }
            } else if (direction == 0) {
                if (!edge.controllable) {
                    reportWarning(sync, "$Inputs_should_be_controllable_for_refinement_checking");
                }
            } else {
                reportWarning(sync, "$CSP_synchronisations_are_incompatible_with_refinement_checking");
            }
        }
    }

    checkAssignmentExpression(edge.update);

    expression_t probability = edge.probability;
    if (probability.empty() || !annotateExpressionType(probability)) {
        return;
    }
    if (typeOf(probability).isProbabilityWeight()) {
        if (probability.hasSideEffects()) {
            reportError(probability, "$Probability_must_be_side-effect_free");
        }
    } else {
        reportError(probability, typeMessage(probability, "$cannot_be_used_as_a_probability"));
    }
}

// --- Invariants, control bounds and conditions --------------------------------------

void TypeChecker::splitInvariant(InvariantParts& parts, const expression_t& expr, bool nested)
{
    auto append = [&](const expression_t& part, node_kind_t kind) {
        if (parts.invariant.empty()) {
            parts.invariant = part;
        } else {
            parts.invariant = expression_t::createBinary(LOGICAL_AND, parts.invariant, part, part.getPosition(),
                                                         type_t::createPrimitive(kind));
        }
    };
    if (expr.empty()) {
        return;
    }
    if (isInvariantTyped(expr)) {
        if (expr.getKind() == LESS) {
            parts.strictBound = true;
        }
        if (!nested) {
            append(expr, INVARIANT);
        }
        return;
    }
    switch (expr.getKind()) {
    case LOGICAL_AND: {
        // Child 0 then child 1; a conjunction whose left conjunctions are split in turn
        // is gone through along its spine.
        std::vector<expression_t> rights{expr.getChild(1)};
        expression_t left = expr.getChild(0);
        while (!left.empty() && left.getKind() == LOGICAL_AND && !isInvariantTyped(left)) {
            rights.push_back(left.getChild(1));
            left = left.getChild(0);
        }
        splitInvariant(parts, left, nested);
        for (size_t i = rights.size(); i-- > 0;) {
            splitInvariant(parts, rights[i], nested);
        }
        return;
    }
    case EQUAL: {
        const bool rateLeft = typeOf(expr.getChild(0)).getKind() == RATE;
        const expression_t rate = rateLeft ? expr.getChild(0) : expr.getChild(1);
        const expression_t value = rateLeft ? expr.getChild(1) : expr.getChild(0);
        const expression_t rated = rate.getSize() > 0 ? rate.getChild(0) : expression_t();
        if (isCostTyped(rated)) {
            parts.costRate = value;
            ++parts.costRateCount;
        } else {
            parts.clockRate = true;
            if (!nested) {
                append(expr, RATE_INVARIANT);
            }
        }
        return;
    }
    default:
        // Only look for flags and cost rates below: the body of a quantifier, or
        // either side of a disjunction (a rate on its left is a rate all the same).
        // Disjunctions on the left of a disjunction take this way too: they are gone
        // through along their spine, each appended after its right side.
        if (expr.getKind() == LOGICAL_OR) {
            std::vector<expression_t> spine{expr};
            expression_t left = expr.getChild(0);
            while (!left.empty() && left.getKind() == LOGICAL_OR && !isInvariantTyped(left)) {
                spine.push_back(left);
                left = left.getChild(0);
            }
            splitInvariant(parts, left, true);
            for (size_t i = spine.size(); i-- > 0;) {
                splitInvariant(parts, spine[i].getChild(1), true);
                append(spine[i], RATE_INVARIANT);
            }
            return;
        }
        if (expr.getSize() > 1) {
            splitInvariant(parts, expr.getChild(1), true);
        }
        append(expr, RATE_INVARIANT);
        return;
    }
}

void TypeChecker::checkControlClockBounds(const expression_t& expr)
{
    if (expr.empty()) {
        return;
    }
    if (isListKind(expr.getKind())) {
        // No comparison itself: its operands, along its spine.
        for (const expression_t& operand : listOperands(expr)) {
            checkControlClockBounds(operand);
        }
        return;
    }
    for (size_t i = 0; i < expr.getSize(); ++i) {
        checkControlClockBounds(expr.getChild(i));
    }
    const node_kind_t kind = expr.getKind();
    if (kind < LESS || kind > GREATER) {
        return;
    }
    const expression_t l = expr.getChild(0);
    const expression_t r = expr.getChild(1);
    bool violates = false;
    if (kind == LESS_EQUAL || kind == GREATER) {
        violates = isClockTyped(l) && isIntegralTyped(r);
    } else if (kind == LESS || kind == GREATER_EQUAL) {
        violates = isIntegralTyped(l) && isClockTyped(r);
    } else {
        violates = (isClockTyped(l) && isIntegralTyped(r)) || (isIntegralTyped(l) && isClockTyped(r));
    }
    if (violates) {
        reportError(expr, "$Clock_lower_bound_must_be_weak_and_upper_bound_strict");
    } else if ((isClockTyped(l) && isClockTyped(r)) || (isDiffTyped(l) && isIntOrBoolTyped(r)) ||
               (isIntOrBoolTyped(l) && isDiffTyped(r))) {
        reportError(expr, "$Clock_differences_are_not_supported");
    }
}

bool TypeChecker::requireBoolean(const expression_t& expr)
{
    if (isIntegralTyped(expr)) {
        return true;
    }
    reportError(expr, "$Boolean_expected");
    return false;
}

void TypeChecker::warnIfWithoutEffect(const expression_t& expr)
{
    if (expr.empty()) {
        return;
    }
    // Typing a list of operands joined by ',' asks this of each longer prefix of the
    // list in turn: the answer for a prefix is that for the one before it and for its
    // last operand, so that the whole list costs what one look at each operand does.
    bool effect;
    if (expr.getKind() == COMMA && !effectOfLastPrefix.first.empty() && expr.getChild(0) == effectOfLastPrefix.first) {
        effect = effectOfLastPrefix.second || hasEffect(expr.getChild(1));
    } else {
        effect = hasEffect(expr);
    }
    effectOfLastPrefix = {expr, effect};
    if (!effect) {
        reportWarning(expr, "$Expression_does_not_have_any_effect");
    } else if (expr.getKind() == COMMA && !hasEffect(expr.getChild(1))) {
        reportWarning(expr.getChild(1), "$Expression_does_not_have_any_effect");
    }
}

// --- Functions and statements -------------------------------------------------------

bool TypeChecker::checkAssignmentExpression(expression_t expr)
{
    if (expr.empty()) {
        return true;
    }
    if (!annotateExpressionType(expr)) {
        return false;
    }
    if (!isValueType(typeOf(expr)) && !isVoidTyped(expr)) {
        reportError(expr, "$Invalid_assignment_expression");
        return false;
    }
    if (expr.getKind() == CONSTANT && expr.getValue() == 1) {
        return true;   // the form of an absent edge update
    }
    warnIfWithoutEffect(expr);
    return true;
}

bool TypeChecker::checkNoDynamicConstructs(Statement* statement)
{
    std::list<expression_t> found;
    CollectDynamicExpressions collector(found);
    statement->accept(&collector);
    for (const expression_t& expr : found) {
        reportError(expr, "Dynamic constructs are only allowed on edges!");
    }
    return found.empty();
}

void TypeChecker::visitFunction(function_t& function)
{
    type_t type = function.symbol.getType();
    type_t result = type.getSize() > 0 ? type.getChild(0) : type_t();
    validateDeclaredType(result, false, false);
    if (!result.isKind(VOID_TYPE) && !isReturnableType(result)) {
        reportTypeError(result, "$Invalid_return_type");
    }
    if (function.body == nullptr) {
        return;
    }
    currentFunction = &function;
    function.body->accept(this);
    currentFunction = nullptr;
    checkNoDynamicConstructs(function.body);

    CollectChangesVisitor changes(function.writtenSymbols);
    function.body->accept(&changes);
    CollectDependenciesVisitor dependencies(function.readSymbols);
    function.body->accept(&dependencies);

    for (const variable_t& local : function.localVariables) {
        function.writtenSymbols.erase(local.symbol);
        function.readSymbols.erase(local.symbol);
    }
    const size_t parameters = type.getSize() > 0 ? type.getSize() - 1 : 0;
    const scope_t& frame = function.body->blockFrame;
    for (size_t i = 0; i < parameters && i < sizeOf(frame); ++i) {
        function.writtenSymbols.erase(frame[i]);
        function.readSymbols.erase(frame[i]);
    }
}

int32_t TypeChecker::visitEmptyStatement(EmptyStatement*) { return 0; }

int32_t TypeChecker::visitExprStatement(ExprStatement* stat)
{
    checkAssignmentExpression(stat->expr);
    return 0;
}

int32_t TypeChecker::visitAssertStatement(AssertStatement* stat)
{
    if (annotateExpressionType(stat->expr) && !stat->expr.empty() && stat->expr.hasSideEffects()) {
        reportError(stat->expr, "$Assertion_must_be_side-effect_free");
    }
    return 0;
}

int32_t TypeChecker::visitForStatement(ForStatement* stat)
{
    checkAssignmentExpression(stat->init);
    if (!stat->cond.empty() && annotateExpressionType(stat->cond)) {
        requireBoolean(stat->cond);
    }
    checkAssignmentExpression(stat->step);
    if (stat->body != nullptr) {
        stat->body->accept(this);
    }
    return 0;
}

int32_t TypeChecker::visitIterationStatement(IterationStatement* stat)
{
    type_t type = stat->symbol.getType();
    validateDeclaredType(type, false, false);
    if (!type.isKind(SCALAR) && !type.isKind(INT)) {
        reportTypeError(type, "$Scalar_set_or_integer_expected");
    } else if (!type.isKind(RANGE) || isUnboundedInt(type)) {
        reportTypeError(type, "$Range_expected");
    }
    if (stat->body != nullptr) {
        stat->body->accept(this);
    }
    return 0;
}

int32_t TypeChecker::visitWhileStatement(WhileStatement* stat)
{
    if (!stat->cond.empty() && annotateExpressionType(stat->cond)) {
        requireBoolean(stat->cond);
    }
    if (stat->body != nullptr) {
        stat->body->accept(this);
    }
    return 0;
}

int32_t TypeChecker::visitDoWhileStatement(DoWhileStatement* stat)
{
    if (!stat->cond.empty() && annotateExpressionType(stat->cond)) {
        requireBoolean(stat->cond);
    }
    if (stat->body != nullptr) {
        stat->body->accept(this);
    }
    return 0;
}

int32_t TypeChecker::visitBlockStatement(BlockStatement* stat)
{
    // The variable records of a block's symbols: in the block's own list, or, for a
    // function body, in the function's list of locals.
    auto recordOf = [&](const binding_t& symbol) -> variable_t* {
        for (variable_t& variable : stat->variables) {
            if (variable.symbol == symbol) {
                return &variable;
            }
        }
        if (currentFunction != nullptr) {
            for (variable_t& variable : currentFunction->localVariables) {
                if (variable.symbol == symbol) {
                    return &variable;
                }
            }
        }
        return nullptr;
    };
    const scope_t& frame = stat->blockFrame;
    for (size_t i = 0; i < sizeOf(frame); ++i) {
        binding_t symbol = frame[i];
        validateDeclaredType(symbol.getType(), false, false);
        variable_t* variable = recordOf(symbol);
        if (variable == nullptr || variable->initialiser.empty()) {
            continue;
        }
        expression_t init = variable->initialiser;
        if (!annotateExpressionType(init)) {
            continue;
        }
        if (init.hasSideEffects()) {
            reportError(init, "$Initialiser_must_be_side-effect_free");
        } else {
            storeValidatedInitialiser(*variable, symbol.getType(), init);
        }
    }
    for (Statement* statement : stat->statements) {
        statement->accept(this);
    }
    return 0;
}

int32_t TypeChecker::visitIfStatement(IfStatement* stat)
{
    if (!stat->cond.empty() && annotateExpressionType(stat->cond)) {
        requireBoolean(stat->cond);
    }
    if (stat->trueCase != nullptr) {
        stat->trueCase->accept(this);
    }
    if (stat->falseCase != nullptr) {
        stat->falseCase->accept(this);
    }
    return 0;
}

int32_t TypeChecker::visitReturnStatement(ReturnStatement* stat)
{
    if (stat->value.empty()) {
        return 0;
    }
    annotateExpressionType(stat->value);
    if (currentFunction != nullptr) {
        type_t type = currentFunction->symbol.getType();
        verifyArgument(type.getSize() > 0 ? type.getChild(0) : type_t(), stat->value);
    }
    return 0;
}

// --- Queries ------------------------------------------------------------------------

namespace {

// Query kinds whose operands may be more than state properties.
bool mayNestOperands(node_kind_t kind)
{
    switch (kind) {
    case SIMULATION_LESS_EQUAL:
    case SIMULATION_GREATER_EQUAL:
    case REFINEMENT_LESS_EQUAL:
    case REFINEMENT_GREATER_EQUAL:
    case PROBABILITY_BOX_AT_LEAST:
    case PROBABILITY_DIAMOND_AT_LEAST:
    case PROBABILITY_BOX_ESTIMATE:
    case PROBABILITY_DIAMOND_ESTIMATE:
    case PROBABILITY_COMPARE:
    case EXPECTED_VALUE:
    case SIMULATE:
    case SIMULATE_ACCEPTING:
    case CONTROL:
    case SET_CONTROL:
    case EXISTS_EVENTUALLY_CONTROL:
    case CONTROL_T_STAR_2:
    case CONTROL_T_STAR_1:
    case CONTROL_T_STAR_0:
    case BOUNDED_CONTROL:
    case CONSISTENCY:
    case IMPLEMENTATION:
    case SPECIFICATION:
    case SUPREMUM:
    case INFIMUM:
    case SCENARIO:
    case MITL_FORMULA:
        return true;
    default:
        return false;
    }
}

} // namespace

void TypeChecker::validateQuery(expression_t query)
{
    if (query.empty() || !annotateExpressionType(query)) {
        return;
    }
    const node_kind_t kind = query.getKind();
    if (query.hasSideEffects()) {
        reportError(query, "$Property_must_be_side-effect_free");
    }
    if (!(hasTypeKind(query, TIGRAPH) && kind == CONSISTENCY) && !isFormulaTyped(query)) {
        reportError(query, "$Property_must_be_a_valid_formula");
    }
    if (!mayNestOperands(kind)) {
        for (size_t i = 0; i < query.getSize(); ++i) {
            if (!isConstraintTyped(query.getChild(i))) {
                reportError(query.getChild(i), "$Nesting_of_path_quantifiers_is_not_allowed");
            }
        }
    }
    if (kind == SET_CONTROL) {
        checkControlClockBounds(query);
    }
    if (hasDynamicMitlQuantifier(query) && kind != MITL_FORMULA) {
        reportError(query, "MITL inside forall or exists in non-MITL property");
    }
}

// --- System-level declarations ------------------------------------------------------

void TypeChecker::checkChannelExpression(const expression_t& expr)
{
    if (expr.empty() || !annotateExpressionType(expr)) {
        return;
    }
    type_t type = typeOf(expr);
    while (type.isKind(ARRAY)) {
        type = type.getQualifiedChild(0);
    }
    if (!type.isKind(CHANNEL)) {
        reportError(expr, "$Channel_expected");
    }
    for (expression_t e = expr; !e.empty() && e.getKind() == ARRAY; e = e.getChild(0)) {
        expression_t index = e.getChild(1);
        if (!computableAtCompileTime(index)) {
            reportError(index, "$Must_be_computable_at_compile_time");
        } else if (expr.hasSideEffects()) {
            reportError(index, "$Index_must_be_side-effect_free");
        }
    }
}

void TypeChecker::leaveSystem(TimedAutomataSystem& model)
{
    for (chan_priority_t& group : model.getChanPriorities()) {
        if (!group.head.empty()) {
            checkChannelExpression(group.head);
        }
        for (chan_priority_t::entry_t& entry : group.entries) {
            checkChannelExpression(entry.channel);
        }
    }
}

void TypeChecker::visitIODecl(iodecl_t& decl)
{
    for (expression_t& parameter : decl.parameters) {
        if (!annotateExpressionType(parameter)) {
            continue;
        }
        if (!isIntTyped(parameter)) {
            reportError(parameter, "$Integer_expected");
        } else if (!computableAtCompileTime(parameter)) {
            reportError(parameter, "$Must_be_computable_at_compile_time");
        } else if (parameter.hasSideEffects()) {
            reportError(parameter, "$Index_must_be_side-effect_free");
        }
    }
    const bool io = !decl.inputs.empty() || !decl.outputs.empty();
    const bool csp = !decl.cspChannels.empty();
    if (advanceSyncMode(io, csp)) {
        system->recordError(span_t(), "$CSP_and_IO_synchronisations_cannot_be_mixed", std::string());
    }
    system->syncMode = syncMode;
    for (expression_t& channel : decl.inputs) {
        checkChannelExpression(channel);
    }
    for (expression_t& channel : decl.outputs) {
        checkChannelExpression(channel);
    }
}

void TypeChecker::visitProgressMeasure(progress_t& progress)
{
    annotateExpressionType(progress.guard);
    annotateExpressionType(progress.measure);
    if (!progress.guard.empty() && !isIntegralTyped(progress.guard)) {
        reportError(progress.guard, "$Progress_guard_must_evaluate_to_a_boolean");
    }
    if (!isIntegralTyped(progress.measure)) {
        reportError(progress.measure, "$Progress_measure_must_evaluate_to_a_value");
    }
}

void TypeChecker::visitGanttChart(gantt_t& chart)
{
    for (size_t i = 0; i < sizeOf(chart.parameters); ++i) {
        validateDeclaredType(chart.parameters[i].getType(), false, false);
    }
    for (gantt_entry_t& entry : chart.entries) {
        for (size_t i = 0; i < sizeOf(entry.select); ++i) {
            validateDeclaredType(entry.select[i].getType(), false, false);
        }
        annotateExpressionType(entry.condition);
        if (!isConstraintTyped(entry.condition)) {
            reportError(entry.condition, "$Boolean_expected");
        }
        annotateExpressionType(entry.value);
        if (!isIntegralTyped(entry.value)) {
            reportError(entry.value, "$Integer_expected");
        }
    }
}

void TypeChecker::visitInstanceLine(instance_line_t&) {}

void TypeChecker::visitMessage(message_t& message)
{
    expression_t label = message.label;
    if (label.empty() || !annotateExpressionType(label)) {
        return;
    }
    expression_t channel = label.getSize() > 0 ? label.getChild(0) : label;
    if (!typeOf(channel).isKind(CHANNEL)) {
        reportError(channel, "$Channel_expected");
    } else if (label.hasSideEffects()) {
        reportError(label, "$Message_must_be_side-effect_free");
    }
}

void TypeChecker::visitCondition(condition_t& condition)
{
    expression_t label = condition.label;
    if (label.empty() || !annotateExpressionType(label)) {
        return;
    }
    if (isGuardTyped(label)) {
        if (label.hasSideEffects()) {
            reportError(label, "$Condition_must_be_side-effect_free");
        }
    } else {
        reportError(label, typeMessage(label, "$cannot_be_used_as_a_condition"));
    }
}

void TypeChecker::visitUpdate(update_t& update)
{
    if (!update.label.empty()) {
        checkAssignmentExpression(update.label);
    }
}

} // namespace ZOLT
