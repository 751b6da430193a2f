#include "driver/property_builder.h"

#include <stdexcept>
#include <string>

#include "frontend/builder.h"
#include "frontend/parser.h"
#include "language/nesting.h"
#include "language/node_kind.h"
#include "runtime/channels.h"

using namespace ZOLT;

namespace {

// The property type of a query's top node, or -1 when the node is no property.
int32_t propertyTypeOf(node_kind_t kind)
{
    switch (kind) {
    case ALWAYS_GLOBALLY: return PROPERTY_INVARIANCE;
    case EXISTS_EVENTUALLY: return PROPERTY_REACHABILITY;
    case EXISTS_GLOBALLY: return PROPERTY_POSSIBLY_ALWAYS;
    case ALWAYS_EVENTUALLY: return PROPERTY_ALWAYS_EVENTUALLY;
    case LEADS_TO: return PROPERTY_LEADS_TO;
    case ROBUST_ALWAYS_GLOBALLY: return PROPERTY_ROBUST_INVARIANCE;
    case ROBUST_EXISTS_EVENTUALLY: return PROPERTY_ROBUST_REACHABILITY;
    case PROBABILITY_BOX_AT_LEAST: return PROPERTY_PROBABILITY_BOX_TEST;
    case PROBABILITY_DIAMOND_AT_LEAST: return PROPERTY_PROBABILITY_DIAMOND_TEST;
    case PROBABILITY_BOX_ESTIMATE: return PROPERTY_PROBABILITY_BOX_ESTIMATE;
    case PROBABILITY_DIAMOND_ESTIMATE: return PROPERTY_PROBABILITY_DIAMOND_ESTIMATE;
    case PROBABILITY_COMPARE: return PROPERTY_PROBABILITY_COMPARE;
    case EXPECTED_VALUE: return PROPERTY_EXPECTED_VALUE;
    case SIMULATE: return PROPERTY_SIMULATE;
    case SIMULATE_ACCEPTING: return PROPERTY_SIMULATE_ACCEPTING;
    case MITL_FORMULA: return PROPERTY_MITL;
    case SUPREMUM: return PROPERTY_SUPREMUM;
    case INFIMUM: return PROPERTY_INFIMUM;
    case SCENARIO:
    case OBSERVER_LEADS_TO: return PROPERTY_SCENARIO;
    default: return -1;
    }
}

bool isStatisticalKind(node_kind_t kind)
{
    return (kind >= SMC_UNARY_QUERY && kind <= SIMULATE_ACCEPTING) || kind == MITL_FORMULA;
}

} // namespace

bool containsDeadlock(const expression_t& expression)
{
    return anySubexpression(expression, [](const expression_t& x) { return x.getKind() == DEADLOCK; });
}

PropertyBuilder::PropertyBuilder(TimedAutomataSystem* model)
    : StatementBuilder(model), model(model), checker(std::make_unique<TypeChecker>(*model, false))
{}

PropertyBuilder::~PropertyBuilder()
{
    properties.clear();
}

int PropertyBuilder::parse(const char* text)
{
    properties.clear();
    return runQueryParserOnText(text, this);
}

int PropertyBuilder::parseFile(std::FILE* file)
{
    properties.clear();
    return runQueryParserOnFile(file, this);
}

void PropertyBuilder::property()
{
    expression_t expression = popFragment();
    checker->validateQuery(expression);
    if (model->errorsPresent()) {
        return;
    }

    const node_kind_t kind = expression.getKind();
    if (model->hasPriorities() || model->clockGuardOnBroadcastReceive) {
        if (kind == ROBUST_EXISTS_EVENTUALLY || kind == ROBUST_ALWAYS_GLOBALLY || kind == SCENARIO ||
            kind == OBSERVER_LEADS_TO) {
            throw TypeException("$Cannot_handle_this_formula_for_models_with_priorities_or_guarded_broadcast_receivers");
        }
        if (containsDeadlock(expression)) {
            throw TypeException(
                "$Cannot_handle_deadlock_predicate_for_models_with_priorities_or_guarded_broadcast_receivers");
        }
    }
    if (kind != EXISTS_EVENTUALLY && kind != ALWAYS_GLOBALLY && containsDeadlock(expression)) {
        throw TypeException("$Cannot_handle_this_deadlock_predicate");
    }
    if (!model->getDynamicTemplates().empty() && !isStatisticalKind(kind)) {
        throw TypeException("Dynamic templates are only supported for SMC queries");
    }

    PropertyRecord record;
    record.line = model->findPosition(static_cast<uint32_t>(position.start)).line;
    record.number = static_cast<int32_t>(properties.size());
    record.type = 0;
    record.formula = expression;
    properties.push_back(record);
    typeProperty(expression);
}

void PropertyBuilder::typeProperty(const expression_t& expression)
{
    const int32_t type = propertyTypeOf(expression.getKind());
    if (type < 0) {
        // The record stays with type 0; the error ends the run before any job is made.
        throw TypeException("$Invalid_property_type");
    }
    properties.back().type = type;
    if (type >= PROPERTY_PROBABILITY_BOX_TEST && type <= PROPERTY_SIMULATE_ACCEPTING) {
        if (model->hasPriorities()) {
            throw TypeException("Priorities are not supported");
        }
        for (const ChannelInfo& channel : channelRegistry()) {
            if (!channel.broadcast) {
                throw TypeException("All channels must be broadcast");
            }
        }
    }
    if (model->syncMode == 2 && model->hasPriorities()) {
        throw TypeException("CSP synchronization is not implemented with priorities.");
    }
}

void PropertyBuilder::scenario(const char* name)
{
    binding_t symbol;
    if (!resolve(name, symbol)) {
        throw std::runtime_error(std::string("$No_such_scenario: ") + name);
    }
    if (symbol.getType().getKind() != LSC_INSTANCE) {
        throw std::runtime_error("$Not_a_LSC_template: " + symbol.getName());
    }
}

variable_t* PropertyBuilder::addVariable(type_t, const char*, expression_t)
{
    throw NotSupportedException("addVariable is not supported");
}

bool PropertyBuilder::addFunction(type_t, const char*)
{
    throw NotSupportedException("addFunction is not supported");
}
