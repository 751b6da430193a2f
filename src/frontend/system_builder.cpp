#include "frontend/system_builder.h"

#include <boost/format.hpp>

#include <algorithm>
#include <optional>
#include <stdexcept>

#include "support/exceptions.h"

namespace ZOLT {

namespace {

std::string formatted(const char* key, const std::string& argument)
{
    return (boost::format(key) % argument).str();
}

bool isTemplateSymbol(const binding_t& symbol)
{
    node_kind_t kind = symbol.getType().getKind();
    return kind == INSTANCE || kind == LSC_INSTANCE;
}

} // namespace

SystemBuilder::SystemBuilder(TimedAutomataSystem* system) : StatementBuilder(system) {}

SystemBuilder::~SystemBuilder() { delete currentGantt; }

template_t& SystemBuilder::openTemplate()
{
    if (currentTemplate == nullptr) {
        throw Bug("Template part outside of a template");
    }
    return *currentTemplate;
}

declarations_t& SystemBuilder::currentDeclarations()
{
    return currentTemplate != nullptr ? currentTemplate->declarations : system->getGlobals();
}

std::vector<expression_t> SystemBuilder::popArguments(uint32_t argumentCount)
{
    if (argumentCount > fragments.size()) {
        throw Bug("Expression stack underflow");
    }
    std::vector<expression_t> arguments(fragments.end() - argumentCount, fragments.end());
    popExpressionFragments(argumentCount);
    return arguments;
}

std::optional<std::vector<expression_t>> SystemBuilder::popInstanceArguments(bool isTemplate,
                                                                             const binding_t& symbol,
                                                                             uint32_t argumentCount)
{
    if (!isTemplate) {
        popArguments(argumentCount);
        return std::nullopt;
    }
    size_t n = symbol.getType().getSize();
    if (argumentCount != n) {
        handleError(argumentCount < n ? "$Too_few_arguments" : "$Too_many_arguments");
        popArguments(argumentCount);
        return std::nullopt;
    }
    return popArguments(argumentCount);
}

void SystemBuilder::pushParameterFrame()
{
    scope_t frame = scope_t::createSubScope(frames.back());
    params.moveAllTo(frame);
    pushFrame(frame);
    params = scope_t::create();
}

void SystemBuilder::restrictArguments(const instance_t& base, instance_t& instance,
                                      const std::vector<expression_t>& arguments)
{
    size_t n = std::min<size_t>(arguments.size(), base.parameters.empty() ? 0 : base.parameters.getSize());
    for (size_t i = 0; i < n; ++i) {
        if (base.restrictedParameters.count(base.parameters[i]) != 0) {
            addReadClosure(instance.restrictedParameters, arguments[i]);
        }
    }
}

// --- Declarations ---------------------------------------------------------------------

variable_t* SystemBuilder::addVariable(type_t type, const char* name, expression_t initialiser)
{
    if (currentFunction != nullptr) {
        return &system->addVariable(currentFunction->localVariables, frames.back(), type, name, initialiser);
    }
    return &system->addVariable(currentDeclarations(), type, name, initialiser);
}

bool SystemBuilder::addFunction(type_t type, const char* name)
{
    return currentDeclarations().addFunction(type, name, currentFunction);
}

void SystemBuilder::declProgress(bool hasGuard)
{
    expression_t measure = popFragment();
    expression_t guard = hasGuard ? popFragment() : expression_t();
    system->addProgressMeasure(currentDeclarations().progressMeasures, guard, measure);
}

void SystemBuilder::beforeUpdate() { system->setBeforeUpdate(popFragment()); }

void SystemBuilder::afterUpdate() { system->setAfterUpdate(popFragment()); }

void SystemBuilder::declDynamicTemplate(const char* name)
{
    if (frames.back().indexOfName(name) != -1) {
        handleError(formatted("$Duplicate_definition_of %1%", name));
    }
    for (size_t i = 0; i < params.getSize(); ++i) {
        type_t type = params[i].getType();
        bool broadcastReference = type.getKind() == REF && type.getChild(0).getKind() == BROADCAST;
        if (!type.isKind(INT) && !type.isKind(BOOL) && !broadcastReference) {
            handleError("Parameters to a dynamic template must be either booleans or integers and cannot be "
                        "references");
        }
    }
    system->addDynamicTemplate(name, params);
    params = scope_t::create();
}

// --- Templates, locations and edges --------------------------------------------------------

void SystemBuilder::procBegin(const char* name, bool isTimedAutomaton, const std::string& type,
                              const std::string& mode)
{
    if (currentTemplate != nullptr) {
        // A template defined inside the declarations of another is refused. It is still
        // built, as a template of its own, so that its parts land somewhere; the
        // enclosing template goes on where it was once this one ends.
        handleError("$Templates_cannot_be_declared_inside_templates");
        enclosingTemplates.push_back({currentTemplate, frames});
    }
    // The template's declarations go to the template, not into a function that an
    // earlier text left unfinished.
    abandonFunction();
    // A template is opened at the top level: scopes that an abandoned text left open
    // (a quantifier cut short, say) must not enclose it.
    while (frames.size() > 1) {
        popFrame();
    }
    currentTemplate = system->findDynamicTemplate(name);
    if (currentTemplate != nullptr) {
        // The body of a dynamic template declared earlier: its parameters must be the
        // declared ones.
        const scope_t& declared = currentTemplate->parameters;
        size_t count = declared.empty() ? 0 : declared.getSize();
        if (count != params.getSize()) {
            handleError("Inconsistent parameters");
        } else {
            for (size_t i = 0; i < count; ++i) {
                binding_t a = declared[i];
                binding_t b = params[i];
                if (a.getName() != b.getName() || a.getType().getKind() != b.getType().getKind()) {
                    handleError("Inconsistent parameters");
                }
            }
        }
        currentTemplate->isDefined = true;
    } else {
        if (frames.back().indexOfName(name) != -1) {
            handleError(formatted("$Duplicate_definition_of %1%", name));
        }
        bool isChart = !isTimedAutomaton ||
                       std::find(chartNames.begin(), chartNames.end(), name) != chartNames.end();
        currentTemplate = isChart ? &system->addTemplate(name, params, false, type, mode)
                                  : &system->addTemplate(name, params, true, "", "");
    }
    pushFrame(currentTemplate->declarations.frame);
    params = scope_t::create();
}

void SystemBuilder::procEnd()
{
    if (currentTemplate != nullptr) {
        popFramesThrough(currentTemplate->declarations.frame);
    } else {
        popFrame();
    }
    currentTemplate = nullptr;
    if (!enclosingTemplates.empty()) {
        currentTemplate = enclosingTemplates.back().templ;
        frames = std::move(enclosingTemplates.back().frames);
        enclosingTemplates.pop_back();
    }
}

void SystemBuilder::procState(const char* name, bool hasInvariant, bool hasExponentialRate)
{
    expression_t rate = hasExponentialRate ? popFragment() : expression_t();
    expression_t invariant = hasInvariant ? popFragment() : expression_t();
    if (currentTemplate == nullptr) {
        throw Bug("Location outside of a template");
    }
    currentTemplate->addLocation(name, invariant, rate);
}

void SystemBuilder::markLocation(const char* name, node_kind_t prefix, node_kind_t exclusive)
{
    binding_t symbol;
    if (!resolve(name, symbol) || !symbol.getType().isKind(LOCATION)) {
        handleError("$Location_expected");
    } else if (symbol.getType().isKind(exclusive)) {
        handleError("$States_cannot_be_committed_and_urgent_at_the_same_time");
    } else {
        symbol.setType(type_t::createPrefix(symbol.getType(), prefix, position));
    }
}

void SystemBuilder::procStateCommit(const char* name) { markLocation(name, COMMITTED, URGENT); }

void SystemBuilder::procStateUrgent(const char* name) { markLocation(name, URGENT, COMMITTED); }

void SystemBuilder::procStateInit(const char* name)
{
    binding_t symbol;
    if (!resolve(name, symbol) || !symbol.getType().isKind(LOCATION)) {
        handleError("$Location_expected");
        return;
    }
    if (currentTemplate == nullptr) {
        throw Bug("Initial location outside of a template");
    }
    currentTemplate->initialLocation = symbol;
}

void SystemBuilder::procBranchpoint(const char* name)
{
    if (currentTemplate == nullptr) {
        throw Bug("Branch point outside of a template");
    }
    currentTemplate->addBranchpoint(name);
}

void SystemBuilder::procEdgeBegin(const char* source, const char* target, bool controllable, const char* action)
{
    auto isEndpoint = [](const binding_t& s) {
        return s.getType().isKind(LOCATION) || s.getType().isKind(BRANCHPOINT);
    };
    binding_t from;
    binding_t to;
    bool ok = true;
    if (!resolve(source, from) || !isEndpoint(from)) {
        handleError("$No_such_location_or_branchpoint_(source)");
        ok = false;
    }
    if (!resolve(target, to) || !isEndpoint(to)) {
        handleError("$No_such_location_or_branchpoint_(destination)");
        ok = false;
    }
    // The select frame is pushed in every case, so that procEdgeEnd stays balanced.
    scope_t select = scope_t::createSubScope(frames.back());
    if (ok && currentTemplate != nullptr) {
        currentEdge = &currentTemplate->addEdge(from, to, controllable ? 1 : 0, action);
        currentEdge->guard = makeConstant(1);
        currentEdge->update = makeConstant(1);
        currentEdge->probability = makeConstant(1);
        currentEdge->select = select;
    } else {
        currentEdge = nullptr;
    }
    pushFrame(select);
    edgeFrame = select;
}

void SystemBuilder::procEdgeEnd(const char*, const char*)
{
    popFramesThrough(edgeFrame);
    edgeFrame = scope_t();
}

void SystemBuilder::popFramesThrough(const scope_t& frame)
{
    // Scopes above it were left open by a label text that the parser gave up on.
    if (!frame.empty() && std::find(frames.begin(), frames.end(), frame) != frames.end()) {
        while (frames.back() != frame) {
            popFrame();
        }
    }
    popFrame();
}

void SystemBuilder::procSelect(const char* name)
{
    if (currentEdge == nullptr) {
        popType();
        return;
    }
    declareSelect(name, currentEdge->select);
}

void SystemBuilder::procGuard()
{
    expression_t e = popFragment();
    if (currentEdge != nullptr) {
        currentEdge->guard = e;
    }
}

void SystemBuilder::procSync(int kind)
{
    expression_t e = popFragment();
    if (currentEdge != nullptr) {
        currentEdge->sync = expression_t::createSync(e, kind, position);
    }
}

void SystemBuilder::procUpdate()
{
    expression_t e = popFragment();
    if (currentEdge != nullptr) {
        currentEdge->update = e;
    }
}

void SystemBuilder::procProb()
{
    expression_t e = popFragment();
    if (currentEdge != nullptr) {
        currentEdge->probability = e;
    }
}

void SystemBuilder::declareSelect(const char* name, scope_t target)
{
    type_t type = popConstantType();
    if (!type.isKind(SCALAR) && !type.isKind(INT)) {
        handleError("$Scalar_set_or_integer_expected");
        return;
    }
    // A plain int has only the default range of every int; a select needs bounds of
    // its own.
    if (!type.isKind(RANGE) || hasDefaultIntRange(type)) {
        handleError("$Range_expected");
        return;
    }
    binding_t visible;
    if (resolve(name, visible)) {
        handleWarning(formatted("%1% $shadows_a_variable", name));
    }
    target.addSymbol(name, type, nullptr);
}

// --- Scenario charts -------------------------------------------------------------------------

void SystemBuilder::hasPrechart(bool flag)
{
    if (currentTemplate == nullptr) {
        throw Bug("Prechart flag outside of a template");
    }
    currentTemplate->hasPrechart = flag;
}

void SystemBuilder::procInstanceLine()
{
    if (currentTemplate == nullptr) {
        throw Bug("Instance line outside of a template");
    }
    currentInstanceLine = &currentTemplate->addInstanceLine();
}

void SystemBuilder::instanceName(const char* name, bool hasArguments)
{
    std::string text = name;
    binding_t symbol;
    if (!hasArguments) {
        if (resolve(text, symbol) && symbol.getType().getKind() == INSTANCE && symbol.getType().getSize() > 0) {
            handleError("$Wrong_number_of_arguments_in_instance_line_name");
        }
    } else {
        std::string base = text.substr(0, text.find('('));
        if (!resolve(base, symbol) || symbol.getType().getKind() != INSTANCE) {
            handleError("$Not_a_template");
        }
    }
    if (currentTemplate == nullptr || currentInstanceLine == nullptr) {
        throw Bug("Instance line name without an instance line");
    }
    currentInstanceLine->symbol = currentTemplate->declarations.frame.addSymbol(
        text, type_t::createPrimitive(INSTANCE_LINE), static_cast<instance_t*>(currentInstanceLine));
}

void SystemBuilder::instanceNameBegin(const char*)
{
    pushParameterFrame();
}

void SystemBuilder::instancNameEnd(const char* name, uint32_t argumentCount)
{
    scope_t frame = frames.back();
    popFrame();
    binding_t symbol;
    bool isTemplate = resolve(name, symbol) && symbol.getType().getKind() == INSTANCE;
    std::optional<std::vector<expression_t>> checked = popInstanceArguments(isTemplate, symbol, argumentCount);
    if (!checked) {
        return;
    }
    const std::vector<expression_t>& arguments = *checked;
    std::string text = std::string(name) + "(";
    for (size_t i = 0; i < arguments.size(); ++i) {
        text += (i == 0 ? "" : ",") + arguments[i].toString(false);
    }
    text += ")";
    instanceName(text.c_str(), true);
    auto* base = static_cast<instance_t*>(symbol.getData());
    system->fillInstance(*currentInstanceLine, *base, frame, arguments);
    restrictArguments(*base, *currentInstanceLine, arguments);
}

void SystemBuilder::procMessage(const char* source, const char* target, int location, bool inPrechart)
{
    binding_t from;
    binding_t to;
    bool ok = true;
    if (!resolve(source, from) || !from.getType().isKind(INSTANCE_LINE)) {
        handleError("$No_such_instance_line_(source)");
        ok = false;
    }
    if (!resolve(target, to) || !to.getType().isKind(INSTANCE_LINE)) {
        handleError("$No_such_instance_line_(destination)");
        ok = false;
    }
    currentMessage = ok ? &openTemplate().addMessage(from, to, location, inPrechart) : nullptr;
}

void SystemBuilder::procMessage(int kind)
{
    expression_t e = popFragment();
    if (currentMessage != nullptr) {
        currentMessage->label = expression_t::createSync(e, kind, position);
    }
}

void SystemBuilder::procCondition(const std::vector<std::string>& anchors, int location, bool inPrechart,
                                  bool isHot)
{
    std::vector<binding_t> symbols;
    bool ok = true;
    for (const std::string& anchor : anchors) {
        binding_t symbol;
        if (!resolve(anchor, symbol) || !symbol.getType().isKind(INSTANCE_LINE)) {
            handleError("$No_such_instance_line_(anchor)");
            ok = false;
        } else {
            symbols.push_back(symbol);
        }
    }
    if (inPrechart && isHot) {
        handleWarning("$In_the_prechart_all_conditions_are_cold");
        isHot = false;
    }
    if (!ok) {
        currentCondition = nullptr;
        return;
    }
    currentCondition = &openTemplate().addCondition(symbols, location, inPrechart, isHot);
    currentCondition->label = makeConstant(1);
}

void SystemBuilder::procCondition()
{
    expression_t e = popFragment();
    if (currentCondition != nullptr) {
        currentCondition->label = e;
    }
}

void SystemBuilder::procLscUpdate(const char* anchor, int location, bool inPrechart)
{
    binding_t symbol;
    if (!resolve(anchor, symbol) || !symbol.getType().isKind(INSTANCE_LINE)) {
        handleError("$No_such_instance_line_(anchor)");
        currentUpdate = nullptr;
        return;
    }
    currentUpdate = &openTemplate().addLscUpdate(symbol, location, inPrechart);
    currentUpdate->label = makeConstant(1);
}

void SystemBuilder::procLscUpdate()
{
    expression_t e = popFragment();
    if (currentUpdate != nullptr) {
        currentUpdate->label = e;
    }
}

// --- Instantiation, system line and priorities ---------------------------------------------

void SystemBuilder::instantiationBegin(const char* name, uint32_t, const char* templateName)
{
    if (frames.back().indexOfName(name) != -1) {
        handleError(formatted("$Duplicate_definition_of %1%", name));
    }
    binding_t symbol;
    if (!resolve(templateName, symbol) || !isTemplateSymbol(symbol)) {
        handleError("$Not_a_template");
    }
    pushParameterFrame();
}

void SystemBuilder::instantiationEnd(const char* name, uint32_t, const char* templateName, uint32_t argumentCount)
{
    scope_t frame = frames.back();
    popFrame();
    binding_t symbol;
    bool isTemplate = resolve(templateName, symbol) && isTemplateSymbol(symbol);
    std::optional<std::vector<expression_t>> checked = popInstanceArguments(isTemplate, symbol, argumentCount);
    if (!checked) {
        return;
    }
    const std::vector<expression_t>& arguments = *checked;
    auto* base = static_cast<instance_t*>(symbol.getData());
    instance_t& instance = symbol.getType().getKind() == INSTANCE
                               ? system->addInstance(name, *base, frame, arguments)
                               : system->addLscInstance(name, *base, frame, arguments);
    restrictArguments(*base, instance, arguments);
}

void SystemBuilder::process(const char* name)
{
    binding_t symbol;
    if (!resolve(name, symbol)) {
        throw TypeException(formatted("$No_such_process: %1%", name));
    }
    if (symbol.getType().getKind() != INSTANCE) {
        throw TypeException(formatted("$Not_a_template: %1%", symbol.getName()));
    }
    system->addProcess(*static_cast<instance_t*>(symbol.getData()));
    procPriority(name);
}

void SystemBuilder::incProcPriority() { ++priorityLevel; }

void SystemBuilder::procPriority(const char* name)
{
    binding_t symbol;
    if (!resolve(name, symbol)) {
        handleError(formatted("$No_such_process: %1%", name));
        return;
    }
    system->setProcPriority(name, priorityLevel);
}

void SystemBuilder::beginChanPriority() { system->beginChanPriority(popFragment()); }

void SystemBuilder::addChanPriority(char separator) { system->addChanPriority(separator, popFragment()); }

void SystemBuilder::defaultChanPriority() { fragments.emplace_back(); }

// --- IO declarations and Gantt charts --------------------------------------------------------

void SystemBuilder::exprSync(int kind)
{
    expression_t channel = popFragment();
    if (currentIODecl == nullptr) {
        currentIODecl = &system->addIODecl();
    }
    switch (kind) {
    case 0:
        currentIODecl->inputs.push_back(channel);
        break;
    case 1:
        currentIODecl->outputs.push_back(channel);
        break;
    case 2:
        currentIODecl->cspChannels.push_back(channel);
        break;
    default:
        break;
    }
}

void SystemBuilder::declIO(const char* name, uint32_t parameterCount, uint32_t)
{
    if (currentIODecl == nullptr) {
        currentIODecl = &system->addIODecl();
    }
    currentIODecl->instanceName = name;
    if (parameterCount <= fragments.size()) {
        currentIODecl->parameters = popArguments(parameterCount);
    } else {
        // The header was read as a parameter list (declared into params) rather than
        // as argument expressions; take those parameters, so that nothing is read
        // below the stack and they do not leak into a later declaration.
        size_t n = std::min<size_t>(parameterCount, params.getSize());
        for (size_t i = params.getSize() - n; i < params.getSize(); ++i) {
            currentIODecl->parameters.push_back(expression_t::createIdentifier(params[i], position));
        }
        params = scope_t::create();
    }
    currentIODecl = nullptr;
}

void SystemBuilder::ganttDeclStart(const char* name)
{
    delete currentGantt;
    currentGantt = new gantt_t{name, scope_t::create(), {}};
    pushFrame(scope_t::createSubScope(frames.back()));
}

void SystemBuilder::ganttDeclSelect(const char* name) { declareSelect(name, frames.back()); }

void SystemBuilder::ganttDeclEnd()
{
    if (currentGantt == nullptr) {
        throw Bug("End of a Gantt chart that was not begun");
    }
    currentGantt->parameters = frames.back();
    popFrame();
    system->addGanttChart(currentDeclarations(), *currentGantt);
    delete currentGantt;
    currentGantt = nullptr;
}

void SystemBuilder::ganttStart() { pushFrame(scope_t::createSubScope(frames.back())); }

void SystemBuilder::ganttEntrySelect(const char* name) { declareSelect(name, frames.back()); }

void SystemBuilder::ganttEntryEnd()
{
    gantt_entry_t entry{frames.back(), fragment(1), fragment(0)};
    popExpressionFragments(2);
    popFrame();
    if (currentGantt == nullptr) {
        throw Bug("Gantt chart entry outside of a Gantt chart");
    }
    currentGantt->entries.push_back(entry);
}

} // namespace ZOLT
