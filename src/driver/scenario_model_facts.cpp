#include "driver/scenario_model_facts.h"

#include <stdexcept>

#include "support/arith.h"

using namespace ZOLT;

namespace {

// Constants may refer to constants; a chain this long is a cycle (or not worth following).
constexpr int maxDepth = 256;

[[noreturn]] void cannotEvaluate(const expression_t& e)
{
    std::string text;
    try {
        text = e.toString(false);
    } catch (const std::runtime_error&) {
        text = "?";
    }
    throw std::runtime_error("$Cannot_evaluate_expression: " + text);
}

// The record of a constant integer variable (or array of them), else null.
const variable_t* constantVariable(const binding_t& symbol)
{
    if (symbol.empty() || symbol.getData() == nullptr) {
        return nullptr;
    }
    type_t type = symbol.getType();
    if (type.isKind(FUNCTION) || type.isKind(LOCATION) || type.isKind(BRANCHPOINT) ||
        type.isKind(INSTANCE) || type.isKind(LSC_INSTANCE) || type.isKind(PROCESS) ||
        type.isKind(PROCESS_SET) || type.isKind(INSTANCE_LINE) || type.getKind() == TYPEDEF) {
        return nullptr;
    }
    type_t element = type.unwrapArrays();
    if (!type.isConstant() || !(element.isKind(INT) || element.isKind(BOOL) || element.isKind(SCALAR))) {
        return nullptr;
    }
    return static_cast<const variable_t*>(symbol.getData());
}

class Evaluator
{
public:
    explicit Evaluator(const std::map<binding_t, int32_t>& values) : values(values) {}

    int32_t value(const expression_t& e, int depth = 0) const
    {
        if (e.empty() || depth > maxDepth) {
            cannotEvaluate(e);
        }
        switch (e.getKind()) {
        case CONSTANT:
            if (e.getType().isKind(DOUBLE)) {
                cannotEvaluate(e);
            }
            return e.getValue();
        case IDENTIFIER: {
            binding_t symbol = e.getSymbol();
            auto bound = values.find(symbol);
            if (bound != values.end()) {
                return bound->second;
            }
            const variable_t* variable = constantVariable(symbol);
            if (variable == nullptr || variable->initialiser.empty() ||
                variable->initialiser.getKind() == LIST) {
                cannotEvaluate(e);
            }
            return value(variable->initialiser, depth + 1);
        }
        case ARRAY: {
            // An element of a constant array with a list initialiser.
            const variable_t* variable = constantVariable(e[0].getKind() == IDENTIFIER ? e[0].getSymbol()
                                                                                      : binding_t());
            if (variable == nullptr || variable->initialiser.getKind() != LIST) {
                cannotEvaluate(e);
            }
            int32_t index = value(e[1], depth + 1);
            const expression_t& list = variable->initialiser;
            type_t indexType = variable->symbol.getType().getIndexType();
            auto [lower, upper] = indexType.getRangeBounds();
            int32_t first = lower.empty() ? 0 : value(lower, depth + 1);
            int64_t at = static_cast<int64_t>(index) - first;
            if (at < 0 || at >= static_cast<int64_t>(list.getSize())) {
                cannotEvaluate(e);
            }
            return value(list[static_cast<size_t>(at)], depth + 1);
        }
        case UNARY_MINUS:
            return base::negWrap(value(e[0], depth + 1));
        case LOGICAL_NOT:
            return value(e[0], depth + 1) == 0 ? 1 : 0;
        case INLINE_IF:
            return value(e[0], depth + 1) != 0 ? value(e[1], depth + 1) : value(e[2], depth + 1);
        case LOGICAL_AND:
            return value(e[0], depth + 1) != 0 && value(e[1], depth + 1) != 0 ? 1 : 0;
        case LOGICAL_OR:
            return value(e[0], depth + 1) != 0 || value(e[1], depth + 1) != 0 ? 1 : 0;
        default:
            break;
        }
        if (e.getSize() != 2) {
            cannotEvaluate(e);
        }
        int32_t a = value(e[0], depth + 1);
        int32_t b = value(e[1], depth + 1);
        switch (e.getKind()) {
        case ADD:
            return base::addWrap(a, b);
        case SUBTRACT:
            return base::subWrap(a, b);
        case MULTIPLY:
            return base::mulWrap(a, b);
        case DIVIDE:
        case MODULO:
            if (b == 0) {
                cannotEvaluate(e);
            }
            if (b == -1) {
                // The one quotient that overflows wraps around; the remainder is 0.
                return e.getKind() == DIVIDE ? base::negWrap(a) : 0;
            }
            return e.getKind() == DIVIDE ? a / b : a % b;
        case BITWISE_AND:
            return a & b;
        case BITWISE_OR:
            return a | b;
        case BITWISE_XOR:
            return a ^ b;
        case SHIFT_LEFT:
            return base::shlWrap(a, b);
        case SHIFT_RIGHT:
            return base::shrWrap(a, b);
        case MINIMUM:
            return a < b ? a : b;
        case MAXIMUM:
            return a > b ? a : b;
        case LESS:
            return a < b;
        case LESS_EQUAL:
            return a <= b;
        case EQUAL:
            return a == b;
        case NOT_EQUAL:
            return a != b;
        case GREATER_EQUAL:
            return a >= b;
        case GREATER:
            return a > b;
        default:
            cannotEvaluate(e);
        }
    }

private:
    const std::map<binding_t, int32_t>& values;
};

// The range of a range type, scalar sets included; throws when its bounds are not constant.
interval_t rangeOf(const type_t& type, const ParsedModelFacts& facts, const std::map<binding_t, int32_t>& values)
{
    auto [lower, upper] = type.getRangeBounds();
    if (lower.empty() || upper.empty()) {
        throw std::runtime_error("$Range_expected: " + type.toString());
    }
    return interval_t(facts.evaluate(lower, values), facts.evaluate(upper, values));
}

} // namespace

ParsedModelFacts::ParsedModelFacts(TimedAutomataSystem& model)
{
    for (const instance_t& process : model.getProcesses()) {
        addProcesses(process);
    }
}

int32_t ParsedModelFacts::evaluate(const expression_t& expression, const std::map<binding_t, int32_t>& values) const
{
    return Evaluator(values).value(expression);
}

int32_t ParsedModelFacts::evaluateConstant(const expression_t& expression) const
{
    return evaluate(expression, {});
}

interval_t ParsedModelFacts::getRange(const expression_t& expression) const
{
    if (expression.getKind() == CONSTANT) {
        return interval_t(evaluateConstant(expression));
    }
    return rangeOf(expression.getType(), *this, {});
}

void ParsedModelFacts::addProcesses(const instance_t& process)
{
    const std::string& name = process.symbol.getName();
    if (process.freeCount == 0) {
        Process entry{name, process.definingTemplate != nullptr ? process.definingTemplate->symbol.getName() : "", {}};
        if (process.definingTemplate != nullptr) {
            const scope_t& parameters = process.definingTemplate->parameters;
            for (size_t i = 0; !parameters.empty() && i < parameters.getSize(); ++i) {
                auto bound = process.bindings.find(parameters[i]);
                if (bound == process.bindings.end() || parameters[i].getType().isKind(REF)) {
                    continue;
                }
                // Parameters bound to what is not a constant (a variable for a reference
                // parameter, say) have no value to record.
                try {
                    entry.parameters.emplace_back(parameters[i].getName(),
                                                  std::to_string(evaluateConstant(bound->second)));
                } catch (const std::runtime_error&) {
                }
            }
        }
        processList.push_back(entry);
        return;
    }

    // A process set: one process per combination of values of its free parameters, the first
    // parameter changing slowest.
    std::vector<binding_t> free;
    std::vector<interval_t> ranges;
    for (size_t i = 0; i < process.freeCount; ++i) {
        free.push_back(process.parameters[i]);
        ranges.push_back(rangeOf(free.back().getType(), *this, {}));
        if (ranges.back().isEmpty()) {
            return;
        }
    }
    std::vector<int32_t> values;
    for (const interval_t& range : ranges) {
        values.push_back(range.lower);
    }
    for (;;) {
        Process entry{name, name, {}};
        std::string list;
        for (size_t i = 0; i < free.size(); ++i) {
            list += (i == 0 ? "" : ",") + std::to_string(values[i]);
            entry.parameters.emplace_back(free[i].getName(), std::to_string(values[i]));
        }
        entry.name = name + "(" + list + ")";
        processList.push_back(entry);
        size_t i = free.size();
        while (i > 0 && values[i - 1] == ranges[i - 1].upper) {
            values[i - 1] = ranges[i - 1].lower;
            --i;
        }
        if (i == 0) {
            return;
        }
        ++values[i - 1];
    }
}
