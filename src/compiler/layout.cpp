// The variable layout: sizes of declarations, their initial values, and the variables of
// the System they become.

#include <cstdio>
#include <limits>

#include "compiler/compiler.h"
#include "compiler/depth_guard.h"
#include "runtime/channels.h"
#include "runtime/exceptions.h"
#include "runtime/system.h"

using namespace ZOLT;
namespace op = bytecode;

namespace {

constexpr int32_t minInt = std::numeric_limits<int32_t>::min();
constexpr int32_t maxInt = std::numeric_limits<int32_t>::max();

// "name[index]", cut to 255 characters like every element name.
std::string elementName(const std::string& name, int32_t index)
{
    char buffer[256];
    std::snprintf(buffer, sizeof buffer, "%s[%d]", name.c_str(), index);
    return buffer;
}

// The position at which an error about a declared type is reported: the type node itself,
// or the first node below its prefixes and names that carries a position.
span_t typePosition(const type_t& type)
{
    return type.getPosition();
}

} // namespace

// ---------------------------------------------------------------- compile-time evaluation

std::pair<int32_t, int32_t> Compiler::evaluateRange(const type_t& type)
{
    auto [lowerBound, upperBound] = type.getRangeBounds();
    const int32_t lower = evaluateConstant(lowerBound);
    const int32_t upper = evaluateConstant(upperBound);
    return {lower, upper};
}

int32_t Compiler::evaluateConstant(const expression_t& expression)
{
    if (expression.empty()) {
        throw Bug("No expression to evaluate");
    }
    const uint32_t start = program->beginScratch();
    const uint32_t count = nextVariableIndex(dynamicInstantiation);
    int32_t value = 0;
    try {
        compileValue(expression);
        emit(expression.getPosition(), op::HALT);
        const uint32_t cell = program->execute(nullptr, static_cast<int32_t>(start));
        value = program->stackCell(cell);
    } catch (...) {
        // The code and the variables of a failed evaluation go too, so that the compiler can
        // be used on (queries, say) after the error has been reported.
        program->endScratch(start);
        system->truncateVariables(count);
        throw;
    }
    program->endScratch(start);
    system->truncateVariables(count);
    return value;
}

namespace {

// A value computed by arithmetic on clock values.
bool isClockArithmetic(const expression_t& e)
{
    return e.getType().isKind(CLOCK) && e.getSize() >= 2 && e.getKind() != ARRAY && e.getKind() != DOT;
}

bool isDoubleValued(const expression_t& e)
{
    const type_t type = e.getType();
    return type.isKind(DOUBLE) || type.isKind(DIFF) || isClockArithmetic(e);
}

} // namespace

bool Compiler::evaluateToValueLists(const expression_t& expression, std::vector<int32_t>& integers,
                                    std::vector<double>& doubles, bool referenceMode)
{
    return evaluateToValueLists(expression, integers, doubles, referenceMode, type_t());
}

// The initialiser of a declaration is flattened along its declared type: a floating-point or
// clock leaf always yields a double, also when it is written as an integer.
void Compiler::compileInitialiser(const expression_t& e, const type_t& declared)
{
    if (!declared.isUnknown() && !e.empty() && e.getKind() == LIST) {
        const type_t shape = declared.unwrap();
        if (shape.getKind() == ARRAY || shape.getKind() == RECORD) {
            DepthGuard guard(depth, e);
            if (e.getType().isKind(ARRAY)) {
                checkListCount(e);
            }
            for (size_t i = 0; i < e.getSize(); ++i) {
                const size_t field = shape.getKind() == ARRAY ? 0 : i;
                compileInitialiser(e[i], field < shape.getSize() ? declared.getQualifiedChild(field) : type_t());
            }
            return;
        }
    }
    const bool doubleLeaf = !declared.isUnknown() && (declared.isKind(DOUBLE) || declared.isKind(CLOCK));
    if (doubleLeaf || isDoubleValued(e)) {
        compileDouble(e, true);
    } else {
        compileValue(e);
    }
}

bool Compiler::evaluateToValueLists(const expression_t& expression, std::vector<int32_t>& integers,
                                    std::vector<double>& doubles, bool referenceMode, const type_t& declared)
{
    const uint32_t start = program->beginScratch();
    const uint32_t base = nextVariableIndex(dynamicInstantiation);
    Symbol* layout = nullptr;
    uint32_t top = 0;
    try {
        if (referenceMode) {
            layout = compileExpression(expression);
        } else {
            compileInitialiser(expression, declared);
        }
        emit(expression.getPosition(), op::HALT);
        top = program->execute(nullptr, static_cast<int32_t>(start));
    } catch (...) {
        program->endScratch(start);
        system->truncateVariables(base);
        throw;
    }
    program->endScratch(start);
    const bool reference = referenceMode && layout != nullptr;
    if (!reference) {
        system->truncateVariables(base);
    }
    std::vector<int32_t> cells;
    for (uint32_t i = 1; i <= top; ++i) {
        cells.push_back(program->stackCell(i));
    }
    integers.insert(integers.begin(), cells.begin(), cells.end());
    const double* bottom = program->doubleStackBottom();
    doubles.insert(doubles.begin(), bottom, bottom + program->doubleStackTop());
    return reference;
}

void Compiler::computeInitialValues(Symbol* symbol, bool extra)
{
    intInitialValues.clear();
    doubleInitialValues.clear();
    expression_t e = symbol->value;
    if (e.empty()) {
        e = defaultInitialiser(symbol);
    }
    std::vector<int32_t> integers;
    std::vector<double> doubles;
    const bool reference =
        evaluateToValueLists(e, integers, doubles, symbol->isReference, symbol->isReference ? type_t() : symbol->type);
    const span_t position = e.getPosition();
    for (int32_t v : integers) {
        intInitialValues.push_back({v, position});
    }
    for (double d : doubles) {
        doubleInitialValues.push_back({d, position});
    }
    if (symbol->isReference && !reference) {
        // A reference bound to a value designates constants made for it.
        const uint32_t base = nextVariableIndex(extra);
        for (int32_t v : integers) {
            system->addConstant(v, extra);
        }
        for (double d : doubles) {
            system->addConstantFP(extra, d);
        }
        intInitialValues.clear();
        doubleInitialValues.clear();
        intInitialValues.push_back({static_cast<int32_t>(base), position});
    }
    intCursor = 0;
    doubleCursor = 0;
}

initial_value_t Compiler::nextIntInitialValue()
{
    if (intCursor >= intInitialValues.size()) {
        throw Bug("The initialiser has fewer integer values than the declaration needs");
    }
    return intInitialValues[intCursor++];
}

double_initial_value_t Compiler::nextDoubleInitialValue()
{
    if (doubleCursor >= doubleInitialValues.size()) {
        throw Bug("The initialiser has fewer floating-point values than the declaration needs");
    }
    return doubleInitialValues[doubleCursor++];
}

// ---------------------------------------------------------------- sizes

void Compiler::computeSize(Symbol* node)
{
    const type_t& type = node->type;
    if (node->isReference) {
        if (node->firstChild) {
            computeSize(node->firstChild.get());
        }
        node->size = 1;
    } else if (type.isKind(RECORD)) {
        node->size = 0;
        for (Symbol* field = node->firstChild.get(); field != nullptr; field = field->next.get()) {
            computeSize(field);
            field->offset = node->size;
            node->size += field->size;
        }
    } else if (type.isKind(ARRAY)) {
        Symbol* element = node->firstChild.get();
        if (element != nullptr) {
            computeSize(element);
        }
        auto [lower, upper] = evaluateRange(type.getIndexType());
        if (upper < lower) {
            throw CompileError("$Upper_bound_must_be_larger_than_lower_bound", typePosition(type));
        }
        node->lower = lower;
        node->upper = upper;
        node->offset = 0;
        const uint64_t cells = (uint64_t(int64_t(upper) - int64_t(lower) + 1)) * (element ? element->size : 0);
        if (cells > uint64_t(maxInt)) {
            throw CompileError("$Array_is_too_large", typePosition(type));
        }
        node->size = static_cast<uint32_t>(cells);
    } else if (type.isKind(PROCESS_SET)) {
        auto* instance = static_cast<instance_t*>(node->data);
        Symbol* chain = node;
        const uint64_t freeCount = instance != nullptr ? instance->freeCount : 0;
        for (uint64_t i = 0; i < freeCount && chain != nullptr; ++i) {
            const type_t parameterType = instance->parameters[static_cast<size_t>(i)].getType();
            auto [lower, upper] = evaluateRange(parameterType);
            if (upper < lower) {
                throw CompileError("$Upper_bound_must_be_larger_than_lower_bound", typePosition(parameterType));
            }
            chain->lower = lower;
            chain->upper = upper;
            chain = chain->firstChild.get();
        }
    } else if (!node->firstChild) {
        node->size = 1;
    }
}

// ---------------------------------------------------------------- default values

expression_t Compiler::defaultInitialiser(Symbol* node)
{
    const type_t& type = node->type;
    if (type.isKind(INT) || type.isKind(SCALAR)) {
        int32_t lower = minInt;
        int32_t upper = maxInt;
        if (type.isKind(RANGE)) {
            std::tie(lower, upper) = evaluateRange(type);
        }
        return expression_t::createConstant(lower <= 0 && 0 <= upper ? 0 : lower);
    }
    if (type.isKind(RECORD)) {
        std::vector<expression_t> fields;
        for (Symbol* field = node->firstChild.get(); field != nullptr; field = field->next.get()) {
            fields.push_back(defaultInitialiser(field));
        }
        return expression_t::createNary(LIST, fields);
    }
    if (type.isKind(ARRAY)) {
        const int64_t count = int64_t(node->upper) - int64_t(node->lower) + 1;
        const expression_t element =
            node->firstChild ? defaultInitialiser(node->firstChild.get()) : expression_t::createConstant(0);
        std::vector<expression_t> elements(count > 0 ? static_cast<size_t>(count) : 0, element);
        return expression_t::createNary(LIST, elements);
    }
    if (type.isKind(DOUBLE) || type.isKind(CLOCK)) {
        return expression_t::createDouble(0.0);
    }
    return expression_t::createConstant(0);
}

// ---------------------------------------------------------------- declarations

bool Compiler::declareVariable(Process* process, const std::string& prefix, Symbol* node, bool extra)
{
    const std::string full = prefix + node->name;
    const type_t& type = node->type;
    node->setOffset(nextVariableIndex(extra));
    bool result = false;

    if (node->isReference) {
        const initial_value_t v = nextIntInitialValue();
        Variable* variable = system->addConstant(v.value, extra);
        if (process != nullptr && extra) {
            process->addVariable(variable, node->isParameter);
        }
    } else if (type.isKind(CLOCK)) {
        const double_initial_value_t d = nextDoubleInitialValue();
        ClockVariable* clock = system->addClock(full, extra, d.value);
        if (type.isKind(HYBRID)) {
            clock->setHybrid(true);
        }
        if (d.value != 0.0) {
            system->floatingPointClocks = true;
        }
        if (process != nullptr) {
            process->clocks.push_back(clock);
        }
        scalarsetInfo.addClock(static_cast<int32_t>(system->getClockCount()) - 1);
        result = full != "t(0)";
    } else if (type.isKind(CHANNEL)) {
        const int32_t channel = registerChannel(type.isKind(URGENT), type.isKind(BROADCAST), full);
        system->addConstant(channel, extra);
    } else if (type.isKind(DOUBLE)) {
        const double_initial_value_t d = nextDoubleInitialValue();
        Variable* variable;
        if (type.isKind(CONSTANT)) {
            variable = system->addConstantFP(extra, d.value);
        } else if (type.isKind(META)) {
            variable = system->addSystemMetaFPVariable(full, extra, d.value);
        } else {
            variable = system->addFPVariable(full, extra, d.value);
            result = true;
        }
        if (process != nullptr && extra) {
            process->fpVariables.push_back(variable);
        }
    } else if (type.isKind(INT) || type.isKind(SCALAR)) {
        const initial_value_t v = nextIntInitialValue();
        int32_t lower = minInt;
        int32_t upper = maxInt;
        if (type.isKind(RANGE)) {
            std::tie(lower, upper) = evaluateRange(type);
            if (upper < lower) {
                throw CompileError("$Upper_bound_must_be_larger_than_lower_bound", typePosition(type));
            }
            if (v.value < lower || v.value > upper) {
                throw CompileError("$Initial_value_out_of_range", v.position);
            }
        }
        Variable* variable;
        if (type.isKind(CONSTANT)) {
            variable = system->addConstant(v.value, extra);
        } else if (type.isKind(META)) {
            variable = system->addSystemMetaVariable(full, lower, upper, v.value, extra);
        } else {
            variable = system->addStateVariable(full, lower, upper, v.value, extra);
            scalarsetInfo.addVariable(type, variable);
            result = true;
        }
        if (process != nullptr && extra) {
            process->addVariable(variable, node->isParameter);
        }
    } else if (type.isKind(BOOL)) {
        const initial_value_t v = nextIntInitialValue();
        const int32_t bit = v.value != 0 ? 1 : 0;
        Variable* variable;
        if (type.isKind(CONSTANT)) {
            variable = system->addConstant(bit, extra);
        } else {
            variable = system->addStateVariable(full, 0, 1, bit, extra);
            scalarsetInfo.addVariable(type, variable);
            result = true;
        }
        if (process != nullptr && extra) {
            process->addVariable(variable, node->isParameter);
        }
    } else if (type.isKind(RECORD)) {
        for (Symbol* field = node->firstChild.get(); field != nullptr; field = field->next.get()) {
            result = declareVariable(process, full + ".", field, extra) || result;
        }
    } else if (type.isKind(ARRAY)) {
        Symbol* element = node->firstChild.get();
        if (node->upper < node->lower) {
            throw CompileError("$Upper_bound_must_be_larger_than_lower_bound", typePosition(type));
        }
        const type_t indexType = type.getIndexType();
        if (element != nullptr && element->type.isKind(BOOL) && !type.isConstant()) {
            declareBitArray(process, full, node, extra);
            result = true;
        } else if (element != nullptr) {
            scalarsetInfo.beginRange(indexType);
            for (int64_t i = node->lower; i <= node->upper; ++i) {
                scalarsetInfo.pushIndex(static_cast<uint64_t>(i));
                result = declareVariable(process, elementName(full, static_cast<int32_t>(i)), element, extra) || result;
                scalarsetInfo.popIndex();
            }
            scalarsetInfo.endRange();
        }
    } else if (type.isKind(LOCATION)) {
        declareLocation(node, extra, process);
    } else if (type.isKind(FUNCTION)) {
        compileFunction(node, extra);
    } else if (type.isKind(COST)) {
        system->addCost();
    }

    node->size = nextVariableIndex(extra) - node->getOffset();
    return process == nullptr && result;
}

void Compiler::declareBitArray(Process* process, const std::string& full, Symbol* node, bool extra)
{
    Symbol* element = node->firstChild.get();
    std::vector<bool> bits;
    for (int64_t i = node->lower; i <= node->upper; ++i) {
        bits.push_back(nextIntInitialValue().value != 0);
    }
    std::vector<Variable*> variables;
    const bool meta = element->type.isKind(META);
    if (meta) {
        if (extra) {
            // Elements of a dynamic template live in the extra table, where their positions
            // were counted.
            for (size_t k = 0; k < bits.size(); ++k) {
                const int32_t index = static_cast<int32_t>(node->lower + static_cast<int64_t>(k));
                variables.push_back(
                    system->addSystemMetaVariable(elementName(full, index), 0, 1, bits[k] ? 1 : 0, true));
            }
        } else {
            for (Variable* v : system->addSystemMetaBitArray(full, node->lower, bits)) {
                variables.push_back(v);
            }
        }
    } else {
        for (Variable* v : system->addBitArray(full, node->lower, bits, extra)) {
            variables.push_back(v);
        }
    }
    if (process != nullptr && extra) {
        for (Variable* v : variables) {
            process->addVariable(v, false);
        }
    }
    if (!meta) {
        scalarsetInfo.beginRange(node->type.getIndexType());
        for (size_t k = 0; k < variables.size(); ++k) {
            scalarsetInfo.pushIndex(static_cast<uint64_t>(node->lower + static_cast<int64_t>(k)));
            scalarsetInfo.addVariable(element->type, variables[k]);
            scalarsetInfo.popIndex();
        }
        scalarsetInfo.endRange();
    }
}

void Compiler::layoutFunctionVariable(const std::string& prefix, Symbol* node, bool extra)
{
    const std::string full = prefix + node->name;
    const type_t& type = node->type;
    node->setOffset(nextVariableIndex(extra));

    if (node->isReference) {
        system->addSystemMetaVariable(full, 0, maxInt, 0, extra);
        if (node->firstChild) {
            computeSize(node->firstChild.get());
        }
    } else if (type.isKind(ARRAY)) {
        auto [lower, upper] = evaluateRange(type.getIndexType());
        node->lower = lower;
        node->upper = upper;
        if (Symbol* element = node->firstChild.get()) {
            for (int64_t i = lower; i <= upper; ++i) {
                layoutFunctionVariable(elementName(full, static_cast<int32_t>(i)), element, extra);
            }
        }
    } else if (type.isKind(RECORD)) {
        for (Symbol* field = node->firstChild.get(); field != nullptr; field = field->next.get()) {
            layoutFunctionVariable(full + ".", field, extra);
        }
    } else if (type.isKind(INT) || type.isKind(SCALAR)) {
        int32_t lower = minInt;
        int32_t upper = maxInt;
        if (type.isKind(RANGE)) {
            std::tie(lower, upper) = evaluateRange(type);
            // An iteration over an empty range is no error: its loop runs no time, and its
            // variable is never written.
            if (upper < lower && !node->isLoopVariable) {
                throw CompileError("$Upper_bound_must_be_larger_than_lower_bound", typePosition(type));
            }
        }
        system->addSystemMetaVariable(full, lower, upper, lower, extra);
    } else if (type.isKind(BOOL)) {
        system->addSystemMetaVariable(full, 0, 1, 0, extra);
    } else if (type.isKind(CLOCK)) {
        throw CompileError("$Clock_type_not_allowed,_please_use_a_reference", typePosition(type));
    } else if (type.isKind(CHANNEL)) {
        throw CompileError("$Channel_type_not_allowed,_please_use_a_reference", typePosition(type));
    } else if (type.isKind(DOUBLE)) {
        system->addSystemMetaFPVariable(full, extra, 0.0);
    } else {
        throw Bug("Cannot add variable");
    }
    node->size = nextVariableIndex(extra) - node->getOffset();
}
