#include "driver/scenario_translator.h"

#include <algorithm>
#include <set>
#include <stdexcept>

#include "frontend/expression_builder.h"

using namespace ZOLT;

// --- Entry point -------------------------------------------------------------------------------

ScenarioTranslation translateScenarioProperty(TimedAutomataSystem& model, const std::string& scenarioName,
                                              const ScenarioModelFacts& facts)
{
    binding_t symbol;
    if (!model.getGlobals().frame.resolve(scenarioName, symbol)) {
        throw std::runtime_error("$No_such_scenario: " + scenarioName);
    }
    auto* scenario = static_cast<instance_t*>(symbol.getData());
    if (symbol.getType().getKind() != LSC_INSTANCE || scenario == nullptr || scenario->definingTemplate == nullptr) {
        throw std::runtime_error("$Not_a_LSC_template: " + symbol.getName());
    }
    const template_t& chart = *scenario->definingTemplate;
    auto outsidePrechart = [](const auto& records) {
        return std::any_of(records.begin(), records.end(), [](const auto& r) { return !r.inPrechart; });
    };
    if (!outsidePrechart(chart.messages) && !outsidePrechart(chart.conditions) && !outsidePrechart(chart.updates)) {
        throw ChartWithoutMainChart("$Chart_without_main_chart: " + chart.symbol.getName());
    }
    {
        Composer composer(&model, facts, *scenario);
        composer.translateScenario();
    }
    ExpressionBuilder builder(&model);
    return ScenarioTranslation{builder.makeObserverProperty(), model.isModified()};
}

ScenarioTranslation translateScenarioProperty(TimedAutomataSystem& model, const std::string& scenarioName)
{
    ParsedModelFacts facts(model);
    return translateScenarioProperty(model, scenarioName, facts);
}

// --- The translator --------------------------------------------------------------------------

Translator::Translator(TimedAutomataSystem* model, const ScenarioModelFacts& facts, instance_t& scenario)
    : SystemBuilder(model), facts(facts), scenario(scenario)
{}

// Regions point into the chart's own records, which the model keeps; nothing to free here.
Translator::~Translator() = default;

Composer::~Composer() = default;

void Translator::translateScenario()
{
    buildObserver();
    chooseChannelSuffix();
    splitSendingEdges();
    redirectObserverSyncs();
    addCommittedFlag();
    recordSendersAndReceivers();
    resolveOrThrow(system->observerName);
    system->addProcess(*observer);
    procPriority(system->observerName.c_str());
}

void Translator::buildObserver()
{
    prepareModel();
    binding_t symbol;
    while (resolve(templateName, symbol)) {
        templateName += "_o";
    }
    // The observer has the chart's parameters, variables and functions, so that the chart's
    // conditions and updates keep their meaning in it.
    beginTemplateCopy(chart(), templateName);
    buildCutAutomaton();
    addListeningLoops();
    addColdFailureEdges();
    if (chart().hasPrechart) {
        addPrechartAbortEdges();
        if (chart().hasInvariantMode()) {
            addInvariantModeLoops();
        }
    }
    addErrorLocation();
    procEnd();

    std::string name = "obsTA";
    while (resolve(name, symbol)) {
        name += "_o";
    }
    system->observerName = name;
    // The observer is instantiated with exactly the arguments of the chart instance.
    std::vector<std::pair<binding_t, expression_t>> arguments;
    const scope_t& parameters = chart().parameters;
    for (size_t i = 0; !parameters.empty() && i < parameters.getSize(); ++i) {
        auto bound = scenario.bindings.find(parameters[i]);
        if (bound != scenario.bindings.end()) {
            arguments.emplace_back(bound->first, bound->second);
        }
    }
    observer = &declareInstance(name, templateName, static_cast<uint32_t>(scenario.boundCount), arguments,
                                scenario.freeCount);
}

void Translator::prepareModel()
{
    templateName = "obsTATemplate";
    senderVariable = "src";
    receiverVariable = "dst";
    committedFlag = "nxtCmt";
    mayFireFlag = "mayFire";
    suffix = "_o";
    declareIdVariable(senderVariable);
    declareIdVariable(receiverVariable);
    checkInstanceLines();
    system->setModified(true);
    expandProcessSets();

    int32_t id = 0;
    for (const instance_t& process : system->getProcesses()) {
        processIds[process.symbol.getName()] = ++id;
    }
    regions = chart().collectLscRegions();

    // Every process that the translation may change gets a template of its own: of the
    // processes that share a template, all but the last get copies.
    for (instance_t& process : system->getProcesses()) {
        int users = 0;
        for (const instance_t& other : system->getProcesses()) {
            if (other.definingTemplate == process.definingTemplate && ++users == 2) {
                break;
            }
        }
        if (users < 2 || process.definingTemplate == nullptr) {
            continue;
        }
        template_t* copy = copyTemplate(*process.definingTemplate, process.symbol.getName());

        // The process now instantiates the copy, which has the same parameters: its arguments
        // are closed over the parameters of the instantiations in between, so that they bind
        // exactly the copy's parameters.
        std::set<binding_t> between;
        for (const auto& binding : process.bindings) {
            if (copy->parameters.indexOf(binding.first) == -1) {
                between.insert(binding.first);
            }
        }
        std::map<binding_t, expression_t> closed;
        for (size_t i = 0; !copy->parameters.empty() && i < copy->parameters.getSize(); ++i) {
            auto bound = process.bindings.find(copy->parameters[i]);
            if (bound == process.bindings.end()) {
                continue;
            }
            // Each pass replaces one level of instantiation; there are fewer levels than bindings.
            expression_t argument = bound->second;
            for (size_t pass = 0; pass < process.bindings.size() && argument.readsAny(between); ++pass) {
                for (const binding_t& parameter : between) {
                    argument = argument.substituteSymbol(parameter, process.bindings.at(parameter));
                }
            }
            closed.emplace(copy->parameters[i], argument);
        }
        process.definingTemplate = copy;
        process.parameters = copy->parameters;
        process.boundCount = closed.size();
        process.bindings = std::move(closed);
        process.symbol.setType(type_t::createProcess(copy->declarations.frame));
    }
}

// --- Declarations --------------------------------------------------------------------------------

void Translator::declareIdVariable(std::string& name)
{
    binding_t symbol;
    while (resolve(name, symbol)) {
        name += "_o";
    }
    type_t integer = type_t::createPrimitive(INT, position);
    type_t type = type_t::createRange(integer, makeConstant(-32767), makeConstant(32767), position);
    system->addVariable(system->getGlobals(), type, name, expression_t());
}

void Translator::declareFlagVariable(std::string& name, bool initial)
{
    binding_t symbol;
    while (resolve(name, symbol)) {
        name += "_o";
    }
    expression_t value = makeConstant(initial ? 1 : 0);
    value.setType(type_t::createPrimitive(BOOL));
    system->addVariable(system->getGlobals(), type_t::createPrimitive(BOOL, position), name, value);
}

instance_t& Translator::declareInstance(const std::string& name, const std::string& templateName,
                                        uint32_t argumentCount,
                                        const std::vector<std::pair<binding_t, expression_t>>& arguments,
                                        uint64_t freeCount)
{
    instantiationBegin(name.c_str(), 0, templateName.c_str());
    for (const auto& argument : arguments) {
        fragments.push_back(argument.second);
    }
    instantiationEnd(name.c_str(), 0, templateName.c_str(), argumentCount);
    binding_t symbol = resolveOrThrow(name);
    auto* instance = static_cast<instance_t*>(symbol.getData());
    if (instance == nullptr) {
        throw std::runtime_error("Unresolved symbol");
    }
    instance->freeCount = freeCount;
    return *instance;
}

// --- Shared helpers ------------------------------------------------------------------------------

binding_t Translator::resolveOrThrow(const std::string& name)
{
    binding_t symbol;
    if (!resolve(name, symbol)) {
        throw std::runtime_error("Unresolved symbol");
    }
    return symbol;
}

expression_t Translator::makeIdTest(const std::string& name, int32_t value)
{
    expression_t constant = makeConstant(value);
    constant.setType(type_t::createPrimitive(INT));
    return expression_t::createBinary(EQUAL, expression_t::createIdentifier(resolveOrThrow(name)), constant);
}

expression_t Translator::conjoin(const expression_t& a, const expression_t& b) const
{
    if (a.empty() || (a.getKind() == CONSTANT && a.getValue() == 1)) {
        return b;
    }
    return expression_t::createBinary(LOGICAL_AND, a, b);
}

expression_t Translator::addIdTest(const expression_t& guard, const std::string& name, int32_t value)
{
    return conjoin(guard, makeIdTest(name, value));
}

expression_t Translator::makeIdAssignment(const std::string& name, int32_t value)
{
    binding_t symbol = resolveOrThrow(name);
    expression_t constant = makeConstant(value);
    constant.setType(type_t::createPrimitive(INT));
    return expression_t::createBinary(ASSIGN, expression_t::createIdentifier(symbol, position), constant, position,
                                      symbol.getType());
}

expression_t Translator::appendUpdate(const expression_t& update, const expression_t& assignment) const
{
    if (update.empty() || update.getKind() == CONSTANT) {
        return assignment;
    }
    return expression_t::createBinary(COMMA, update, assignment, position, assignment.getType());
}

expression_t Translator::addIdAssignment(const expression_t& update, const std::string& name, int32_t value)
{
    return appendUpdate(update, makeIdAssignment(name, value));
}

expression_t Translator::makeIdReset()
{
    expression_t update = makeConstant(1);
    update = addIdAssignment(update, senderVariable, 0);
    return addIdAssignment(update, receiverVariable, 0);
}

expression_t Translator::makeFlagTest(const std::string& name, bool positive)
{
    expression_t flag = expression_t::createIdentifier(resolveOrThrow(name));
    return positive ? flag : expression_t::createUnary(LOGICAL_NOT, flag);
}

expression_t Translator::addFlagTest(const expression_t& guard, const std::string& name, bool positive)
{
    return conjoin(guard, makeFlagTest(name, positive));
}

expression_t Translator::makeFlagAssignment(const std::string& name, bool value)
{
    binding_t symbol = resolveOrThrow(name);
    expression_t constant = makeConstant(value ? 1 : 0);
    constant.setType(type_t::createPrimitive(BOOL));
    return expression_t::createBinary(ASSIGN, expression_t::createIdentifier(symbol, position), constant, position,
                                      symbol.getType());
}

expression_t Translator::addFlagAssignment(const expression_t& update, const std::string& name, bool value)
{
    return appendUpdate(update, makeFlagAssignment(name, value));
}

int32_t Translator::processId(const instance_line_t* line)
{
    return line == nullptr ? 0 : processIds[line->symbol.getName()];
}

expression_t Translator::makeMessageGuard(const message_t& message)
{
    expression_t guard = makeConstant(1);
    guard = addIdTest(guard, senderVariable, processId(message.source));
    return addIdTest(guard, receiverVariable, processId(message.target));
}

expression_t Translator::instantiateExpression(const expression_t& e, const instance_t& instance) const
{
    expression_t copy = e.clone();
    substituteArguments(copy, instance, 0);
    return copy;
}

// Parameters are recognised by their symbols, so that a select variable or a global that happens
// to share a parameter's name is left alone. An argument may itself name parameters of the
// instantiations the instance was made from (P0 = P(0) with P = T(i)); it is instantiated first.
void Translator::substituteArguments(expression_t& e, const instance_t& instance, int depth) const
{
    if (e.empty()) {
        return;
    }
    if (e.getSize() > 0) {
        for (size_t i = 0; i < e.getSize(); ++i) {
            substituteArguments(e[i], instance, depth);
        }
        return;
    }
    if (e.getKind() != IDENTIFIER) {
        return;
    }
    auto bound = instance.bindings.find(e.getSymbol());
    if (bound == instance.bindings.end()) {
        return;
    }
    if (depth > 64) {
        throw std::runtime_error("$Cannot_evaluate_expression: " + e.toString(false));
    }
    expression_t argument = bound->second.clone();
    substituteArguments(argument, instance, depth + 1);
    // A parameter bound to what is not a constant (a reference parameter bound to a variable)
    // stands for its argument itself.
    try {
        e = expression_t::createConstant(facts.evaluateConstant(argument), e.getPosition());
    } catch (const std::runtime_error&) {
        e = argument;
    }
}
