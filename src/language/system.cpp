#include "language/system.h"

#include <algorithm>
#include <cctype>
#include <type_traits>

#include "language/lsc.h"
#include "language/statement.h"
#include "support/exceptions.h"

namespace ZOLT {

namespace {

[[noreturn]] void throwDuplicate(const std::string& name)
{
    throw TypeException("$Duplicate_definition_of " + name);
}

// A symbol's data points at the record that declares it; for templates and instance
// lines that is their instance part.
void* recordOf(instance_t& instance) { return &instance; }

// Parameter lists are scopes; a caller without parameters may pass the empty handle,
// which stands for a scope without symbols.
scope_t orNewScope(scope_t scope) { return scope.empty() ? scope_t::create() : scope; }

size_t sizeOf(const scope_t& scope) { return scope.empty() ? 0 : scope.getSize(); }

} // namespace

// --- Records -----------------------------------------------------------------------

// The collectors of expressions read a function's effect sets through the untyped data
// pointer of its symbol, which holds the address of the record.
static_assert(!std::is_polymorphic_v<function_t>, "function records must start with their effect sets");

function_t::~function_t() { delete body; }

bool declarations_t::addFunction(type_t type, const std::string& name, function_t*& current)
{
    bool isNew = frame.indexOfName(name) == -1;
    function_t& function = functions.emplace_back();
    current = &function;
    function.symbol = frame.addSymbol(name, type, &function);
    return isNew;
}

location_t& template_t::addLocation(const std::string& name, expression_t invariant,
                                    expression_t exponentialRate)
{
    scope_t& frame = declarations.frame;
    bool duplicate = frame.indexOfName(name) != -1;
    location_t& location = locations.emplace_back();
    location.number = static_cast<int32_t>(locations.size() - 1);
    location.symbol = frame.addSymbol(name, type_t::createPrimitive(LOCATION), &location);
    location.invariant = std::move(invariant);
    location.exponentialRate = std::move(exponentialRate);
    if (duplicate) {
        throwDuplicate(name);
    }
    return location;
}

branchpoint_t& template_t::addBranchpoint(const std::string& name)
{
    scope_t& frame = declarations.frame;
    bool duplicate = frame.indexOfName(name) != -1;
    branchpoint_t& branchpoint = branchpoints.emplace_back();
    branchpoint.number = static_cast<int32_t>(branchpoints.size() - 1);
    branchpoint.symbol = frame.addSymbol(name, type_t::createPrimitive(BRANCHPOINT), &branchpoint);
    if (duplicate) {
        throwDuplicate(name);
    }
    return branchpoint;
}

edge_t& template_t::addEdge(binding_t source, binding_t target, int32_t controllable,
                            const std::string& actionName)
{
    if (source.empty() || target.empty()) {
        throw Bug("An edge needs a source and a target symbol");
    }
    int32_t number = edges.empty() ? 0 : edges.back().number + 1;
    edge_t& edge = edges.emplace_back();
    edge.number = number;
    if (source.getType().isKind(LOCATION)) {
        edge.sourceLocation = static_cast<location_t*>(source.getData());
    } else {
        edge.sourceBranchpoint = static_cast<branchpoint_t*>(source.getData());
    }
    if (target.getType().isKind(LOCATION)) {
        edge.targetLocation = static_cast<location_t*>(target.getData());
    } else {
        edge.targetBranchpoint = static_cast<branchpoint_t*>(target.getData());
    }
    edge.controllable = controllable;
    edge.actionName = actionName;
    return edge;
}

// --- The system --------------------------------------------------------------------

TimedAutomataSystem::TimedAutomataSystem()
{
    globals.frame = scope_t::create();
    // The reference clock: clock 0 of every zone, always the first global variable.
    addVariable(globals, type_t::createPrimitive(CLOCK), "t(0)", expression_t());
}

TimedAutomataSystem::~TimedAutomataSystem() = default;

template_t* TimedAutomataSystem::findDynamicTemplate(const std::string& name)
{
    for (template_t& t : dynamicTemplates) {
        if (t.symbol.getName() == name) {
            return &t;
        }
    }
    return nullptr;
}

const std::vector<template_t*>& TimedAutomataSystem::getDynamicTemplates()
{
    if (dynamicTemplateTable.size() != dynamicTemplates.size()) {
        dynamicTemplateTable.clear();
        for (template_t& t : dynamicTemplates) {
            dynamicTemplateTable.push_back(&t);
        }
    }
    return dynamicTemplateTable;
}

variable_t& TimedAutomataSystem::addVariable(declarations_t& declarations, type_t type,
                                             const std::string& name, expression_t initialiser)
{
    return addVariable(declarations.variables, declarations.frame, std::move(type), name,
                       std::move(initialiser));
}

variable_t& TimedAutomataSystem::addVariable(std::list<variable_t>& variables, scope_t frame,
                                             type_t type, const std::string& name,
                                             expression_t initialiser)
{
    bool duplicate = frame.indexOfName(name) != -1;
    variable_t& variable = variables.emplace_back();
    variable.symbol = frame.addSymbol(name, type, &variable);
    if (duplicate) {
        throwDuplicate(name);
    }
    variable.initialiser = std::move(initialiser);
    return variable;
}

void TimedAutomataSystem::addProgressMeasure(std::list<progress_t>& progressMeasures,
                                             expression_t guard, expression_t measure)
{
    progressMeasures.push_back(progress_t{std::move(guard), std::move(measure)});
}

void TimedAutomataSystem::addGanttChart(declarations_t& declarations, const gantt_t& chart)
{
    declarations.ganttCharts.push_back(chart);
}

iodecl_t& TimedAutomataSystem::addIODecl() { return globals.ioDeclarations.emplace_back(); }

template_t& TimedAutomataSystem::initTemplate(template_t& t, const std::string& name,
                                              scope_t parameters, node_kind_t kind)
{
    parameters = orNewScope(parameters);
    type_t type = kind == INSTANCE ? type_t::createInstance(parameters)
                                   : type_t::createLscInstance(parameters);
    t.parameters = parameters;
    t.declarations.frame = scope_t::createSubScope(globals.frame);
    t.declarations.frame.addAll(parameters);
    t.definingTemplate = &t;
    t.symbol = globals.frame.addSymbol(name, type, recordOf(t));
    t.boundCount = 0;
    t.freeCount = parameters.getSize();
    return t;
}

template_t& TimedAutomataSystem::addTemplate(const std::string& name, scope_t parameters,
                                             bool isTimedAutomaton, const std::string& lscType,
                                             const std::string& lscMode)
{
    template_t& t = templates.emplace_back();
    initTemplate(t, name, parameters, isTimedAutomaton ? INSTANCE : LSC_INSTANCE);
    t.isDynamic = false;
    t.isTimedAutomaton = isTimedAutomaton;
    t.lscType = lscType;
    t.lscMode = lscMode;
    return t;
}

template_t& TimedAutomataSystem::addDynamicTemplate(const std::string& name, scope_t parameters)
{
    template_t& t = dynamicTemplates.emplace_back();
    initTemplate(t, name, parameters, INSTANCE);
    t.isTimedAutomaton = true;
    t.isDynamic = true;
    t.dynamicIndex = static_cast<int32_t>(dynamicTemplates.size() - 1);
    t.isDefined = false;
    return t;
}

void TimedAutomataSystem::fillInstance(instance_t& target, const instance_t& base,
                                       scope_t parameters,
                                       const std::vector<expression_t>& arguments)
{
    // Read everything needed from the base first: the target may be the base itself.
    parameters = orNewScope(parameters);
    scope_t baseParameters = base.parameters;
    std::map<binding_t, expression_t> bindings = base.bindings;
    template_t* definingTemplate = base.definingTemplate;

    target.freeCount = parameters.getSize();
    target.parameters = parameters;
    if (!baseParameters.empty()) {
        target.parameters.addAll(baseParameters);
    }
    // Only the base's parameters can be bound; extra arguments are left out rather than
    // read past the end of the parameter list.
    size_t bound = std::min(arguments.size(), sizeOf(baseParameters));
    for (size_t i = 0; i < bound; ++i) {
        bindings[baseParameters[i]] = arguments[i];
    }
    target.bindings = std::move(bindings);
    target.definingTemplate = definingTemplate;
    target.boundCount = arguments.size();
}

instance_t& TimedAutomataSystem::addInstanceTo(std::list<instance_t>& list, node_kind_t kind,
                                               const std::string& name, const instance_t& base,
                                               scope_t parameters,
                                               const std::vector<expression_t>& arguments)
{
    parameters = orNewScope(parameters);
    type_t type = kind == INSTANCE ? type_t::createInstance(parameters)
                                   : type_t::createLscInstance(parameters);
    instance_t& instance = list.emplace_back();
    instance.symbol = globals.frame.addSymbol(name, type, recordOf(instance));
    fillInstance(instance, base, parameters, arguments);
    return instance;
}

instance_t& TimedAutomataSystem::addInstance(const std::string& name, const instance_t& base,
                                             scope_t parameters,
                                             const std::vector<expression_t>& arguments)
{
    return addInstanceTo(instances, INSTANCE, name, base, std::move(parameters), arguments);
}

instance_t& TimedAutomataSystem::addLscInstance(const std::string& name, const instance_t& base,
                                                scope_t parameters,
                                                const std::vector<expression_t>& arguments)
{
    return addInstanceTo(lscInstances, LSC_INSTANCE, name, base, std::move(parameters), arguments);
}

void TimedAutomataSystem::addProcess(const instance_t& instance)
{
    instance_t& process = processes.emplace_back(instance);
    type_t type;
    if (process.freeCount != 0) {
        type = type_t::createProcessSet(instance.symbol.getType());
    } else if (process.definingTemplate != nullptr) {
        type = type_t::createProcess(process.definingTemplate->declarations.frame);
    } else {
        processes.pop_back();
        throw Bug("A process needs the template it instantiates");
    }
    process.symbol = globals.frame.addSymbol(instance.symbol.getName(), type, &process);
}

void TimedAutomataSystem::removeProcess(binding_t symbol)
{
    globals.frame.remove(symbol);
    auto it = std::find_if(processes.begin(), processes.end(),
                           [&](const instance_t& p) { return p.symbol == symbol; });
    if (it != processes.end()) {
        processes.erase(it);
    }
}

void TimedAutomataSystem::copyVariables(const template_t& source, template_t& target)
{
    // Counted first, so that copying a template's variables onto itself ends.
    size_t count = source.declarations.variables.size();
    auto it = source.declarations.variables.begin();
    for (size_t i = 0; i < count; ++i, ++it) {
        target.declarations.variables.push_back(variable_t{it->symbol, it->initialiser});
        target.declarations.frame.add(it->symbol);
    }
}

void TimedAutomataSystem::beginChanPriority(expression_t head)
{
    prioritiesDeclared = true;
    chanPriorities.push_back(chan_priority_t{std::move(head), {}});
}

void TimedAutomataSystem::addChanPriority(int32_t separator, expression_t channel)
{
    if (chanPriorities.empty()) {
        throw Bug("Channel priority entry added before any priority group was begun");
    }
    chanPriorities.back().entries.push_back(chan_priority_t::entry_t{separator, std::move(channel)});
}

void TimedAutomataSystem::setProcPriority(const std::string& name, int32_t level)
{
    if (level != 0) {
        prioritiesDeclared = true;
    }
    processPriorities[name] = level;
}

int32_t TimedAutomataSystem::getProcPriority(const std::string& name) const
{
    auto it = processPriorities.find(name);
    return it != processPriorities.end() ? it->second : 0;
}

void TimedAutomataSystem::addPosition(uint32_t position, int32_t offset, int32_t line,
                                      const std::string& path)
{
    positions.add(position, offset, line, path);
}

const position_t& TimedAutomataSystem::findPosition(uint32_t position) const
{
    return positions.find(position);
}

void TimedAutomataSystem::recordError(span_t span, const std::string& message,
                                      const std::string& context)
{
    errors.push_back(makeDiagnostic(positions, span, message, context));
}

void TimedAutomataSystem::recordWarning(span_t span, const std::string& message)
{
    warnings.push_back(makeDiagnostic(positions, span, message));
}

} // namespace ZOLT
