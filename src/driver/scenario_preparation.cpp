// Preparation of the model before the observer is built: the chart's instance lines are matched
// with processes, process sets are replaced by one process per member, and processes that share a
// template get templates of their own.

#include <boost/format.hpp>

#include <algorithm>
#include <set>
#include <sstream>
#include <stdexcept>

#include "driver/scenario_translator.h"
#include "frontend/parser.h"
#include "language/walk.h"

using namespace ZOLT;

namespace {

size_t sizeOf(const scope_t& scope) { return scope.empty() ? 0 : scope.getSize(); }

// The instance or template that an instance line was declared with: the name before "(" in the
// line's written form T(args). A process of the same name may hide it among the globals, so it
// is looked for among the templates and instantiations themselves.
const instance_t* lineBase(const TimedAutomataSystem& model, const instance_line_t& line)
{
    const std::string& written = line.symbol.getName();
    const std::string name = written.substr(0, written.find('('));
    if (line.definingTemplate->symbol.getName() == name) {
        return line.definingTemplate;
    }
    const instance_t* base = nullptr;
    for (const instance_t& instance : model.getInstances()) {
        if (instance.symbol.getName() == name) {
            base = &instance;
        }
    }
    return base;
}

// The symbol of the chart that now carries `name`: instance lines are renamed while the model is
// prepared, so their symbols are compared by their current names; other names are looked up as
// usual, the globals included.
bool resolveInChart(const template_t& chart, const std::string& name)
{
    const scope_t& frame = chart.declarations.frame;
    for (size_t i = 0; i < frame.getSize(); ++i) {
        if (frame[i].getName() == name) {
            return true;
        }
    }
    binding_t symbol;
    return frame.resolve(name, symbol);
}

} // namespace

void Translator::checkInstanceLines()
{
    std::set<std::string> names;
    for (const ScenarioModelFacts::Process& process : facts.processes()) {
        names.insert(process.name);
    }
    for (instance_line_t& line : chart().instanceLines) {
        // A line whose name could not be read names no process.
        std::string text = line.symbol.empty() ? std::string() : line.symbol.getName();
        const instance_t* base =
            line.definingTemplate != nullptr && !line.symbol.empty() ? lineBase(*system, line) : nullptr;
        if (base != nullptr) {
            // The arguments of the base's own parameters, with the chart's parameters replaced
            // by the values of the chart instance.
            const std::string& written = line.symbol.getName();
            text = written.substr(0, written.find('('));
            size_t count = base->symbol.getType().getSize();
            std::string arguments;
            for (size_t i = 0; i < count && i < sizeOf(base->parameters); ++i) {
                auto bound = line.bindings.find(base->parameters[i]);
                if (bound != line.bindings.end()) {
                    arguments += (arguments.empty() ? "" : ",") +
                                 instantiateExpression(bound->second, scenario).toString(false);
                }
            }
            if (!arguments.empty()) {
                text += "(" + arguments + ")";
            }
            line.symbol.setName(text);
        }
        if (names.count(text) == 0) {
            throw std::runtime_error((boost::format("$No_such_TA_process: %1%") % text).str());
        }
    }
}

std::vector<std::pair<binding_t, expression_t>>
Translator::getMapping(const std::vector<std::pair<std::string, std::string>>& bindings, const instance_t& templ)
{
    // The parameters of the template's own instantiation come first in its parameter list; a
    // parameter of the template it was made from may have the same name.
    const size_t count = std::min(sizeOf(templ.parameters), templ.symbol.getType().getSize());
    std::map<binding_t, expression_t> values;
    for (const auto& [name, text] : bindings) {
        binding_t symbol;
        for (size_t i = 0; i < count && symbol.empty(); ++i) {
            if (templ.parameters[i].getName() == name) {
                symbol = templ.parameters[i];
            }
        }
        if (symbol.empty()) {
            throw std::runtime_error("Unresolved symbol");
        }
        std::istringstream in(text);
        int32_t value = 0;
        if (!(in >> value)) {
            throw std::runtime_error("Error in Translator::getMapping().");
        }
        values[symbol] = makeConstant(value);
    }
    // In the order the parameters are declared, which is the order the builder binds them in.
    std::vector<std::pair<binding_t, expression_t>> result;
    for (size_t i = 0; i < count; ++i) {
        auto it = values.find(templ.parameters[i]);
        if (it != values.end()) {
            result.emplace_back(*it);
        }
    }
    return result;
}

void Translator::expandProcessSets()
{
    for (;;) {
        auto& processes = system->getProcesses();
        auto set = std::find_if(processes.begin(), processes.end(), [](const instance_t& p) {
            return p.symbol.getType().getKind() == PROCESS_SET;
        });
        if (set == processes.end()) {
            break;
        }
        system->removeProcess(set->symbol);
    }

    const std::vector<ScenarioModelFacts::Process>& compiled = facts.processes();
    for (size_t n = compiled.size(), i = 0; i < n; ++i) {
        const ScenarioModelFacts::Process& process = compiled[i];
        binding_t templateSymbol = resolveOrThrow(process.templateName);
        auto* templ = static_cast<instance_t*>(templateSymbol.getData());

        instance_line_t* line = nullptr;
        for (instance_line_t& candidate : chart().instanceLines) {
            if (candidate.symbol.getName() == process.name) {
                line = &candidate;
                break;
            }
        }
        if (process.name.find('(') == std::string::npos) {
            continue;
        }
        // Every member of a process set must be named by an instance line of the chart.
        if (!resolveInChart(chart(), process.name)) {
            throw std::runtime_error("Unresolved symbol");
        }
        // P(1,2) becomes P1_2.
        std::string name = process.name;
        for (char& c : name) {
            if (c == ',') {
                c = '_';
            }
        }
        name.erase(name.find('('), 1);
        if (size_t close = name.find(')'); close != std::string::npos) {
            name.erase(close, 1);
        }
        if (templ == nullptr) {
            throw std::runtime_error("Unresolved symbol");
        }
        declareInstance(name, process.templateName, static_cast<uint32_t>(templateSymbol.getType().getSize()),
                        getMapping(process.parameters, *templ), 0);
        this->process(name.c_str());
        if (line != nullptr) {
            line->symbol.setName(name);
        }
    }
}

void Translator::beginTemplateCopy(const template_t& source, const std::string& name)
{
    params = source.parameters.empty() ? scope_t::create() : source.parameters;
    procBegin(name.c_str(), true, "", "");
    template_t& copy = openTemplate();

    // The variables and the local type definitions, in the order they were declared, so that each
    // follows what it uses. Variables share their symbols with the source.
    std::map<binding_t, const variable_t*> variables;
    for (const variable_t& variable : source.declarations.variables) {
        variables.emplace(variable.symbol, &variable);
    }
    const scope_t& frame = source.declarations.frame;
    for (size_t i = 0; i < frame.getSize(); ++i) {
        binding_t symbol = frame[i];
        if (symbol.getType().getKind() == TYPEDEF) {
            copy.declarations.frame.add(symbol);
        } else if (auto v = variables.find(symbol); v != variables.end()) {
            copy.declarations.variables.push_back(variable_t{v->second->symbol, v->second->initialiser});
            copy.declarations.frame.add(symbol);
            variables.erase(v);
        }
    }
    for (const variable_t& variable : source.declarations.variables) {
        if (variables.count(variable.symbol) != 0) {
            copy.declarations.variables.push_back(variable_t{variable.symbol, variable.initialiser});
            copy.declarations.frame.add(variable.symbol);
        }
    }

    // The functions are read again from their text, so that they are built over the copy's symbols.
    std::string text;
    for (const function_t& function : source.declarations.functions) {
        text += functionText(function) + "\n";
    }
    if (!text.empty()) {
        runParserOnText(text.c_str(), this, true, PART_DECLARATIONS, "");
    }
    copy.freeCount = source.freeCount;
}

template_t* Translator::copyTemplate(template_t& source, const std::string& processName)
{
    template_t* saved = currentTemplate;
    beginTemplateCopy(source, processName + "Template");
    template_t& copy = openTemplate();
    const scope_t frame = copy.declarations.frame;
    auto rebound = [&](const expression_t& e, const scope_t& scope) {
        return e.empty() ? e : e.cloneRebound(scope, scope_t());
    };

    for (const location_t& location : source.locations) {
        const std::string& name = location.symbol.getName();
        location_t& added =
            copy.addLocation(name, rebound(location.invariant, frame), rebound(location.exponentialRate, frame));
        added.costRate = rebound(location.costRate, frame);
        if (location.symbol == source.initialLocation) {
            procStateInit(name.c_str());
        }
        if (location.symbol.getType().getKind() == COMMITTED) {
            procStateCommit(name.c_str());
        } else if (location.symbol.getType().getKind() == URGENT) {
            procStateUrgent(name.c_str());
        }
    }
    for (const branchpoint_t& branchpoint : source.branchpoints) {
        procBranchpoint(branchpoint.symbol.getName().c_str());
    }

    auto endName = [](const location_t* location, const branchpoint_t* branchpoint) {
        return location != nullptr ? location->symbol.getName() : branchpoint->symbol.getName();
    };
    for (const edge_t& edge : source.edges) {
        procEdgeBegin(endName(edge.sourceLocation, edge.sourceBranchpoint).c_str(),
                      endName(edge.targetLocation, edge.targetBranchpoint).c_str(), edge.controllable != 0,
                      edge.actionName.c_str());
        // Every select variable is declared again on the copied edge (the model was checked, so
        // they are not checked again), and the labels are rebound through the edge's select
        // scope to the copy's own symbols.
        if (currentEdge != nullptr) {
            scope_t select = currentEdge->select;
            for (size_t i = 0; !edge.select.empty() && i < edge.select.getSize(); ++i) {
                select.addSymbol(edge.select[i].getName(), edge.select[i].getType(), nullptr);
            }
            if (!edge.guard.empty()) {
                currentEdge->guard = rebound(edge.guard, select);
            }
            if (!edge.update.empty()) {
                currentEdge->update = rebound(edge.update, select);
            }
            if (!edge.sync.empty()) {
                currentEdge->sync = rebound(edge.sync, select);
            }
            if (!edge.probability.empty()) {
                currentEdge->probability = rebound(edge.probability, select);
            }
        }
        procEdgeEnd("", "");
    }
    if (!source.restrictedParameters.empty()) {
        copy.restrictedParameters = source.restrictedParameters;
    }
    copy.declarations.progressMeasures = source.declarations.progressMeasures;
    procEnd();
    currentTemplate = saved;
    return &copy;
}
