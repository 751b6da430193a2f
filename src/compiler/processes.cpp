// Locations, edges and the instantiation of processes.

#include "compiler/compiler.h"
#include "compiler/rewriting.h"
#include "runtime/exceptions.h"
#include "runtime/system.h"

using namespace ZOLT;

namespace {

std::vector<int32_t> valuesOf(const edge_t& edge)
{
    return std::vector<int32_t>(edge.markers.begin(), edge.markers.end());
}

} // namespace

// ---------------------------------------------------------------- locations

void Compiler::declareLocation(Symbol* node, bool dynamic, Process* process)
{
    Process* owner = process;
    int32_t number;
    if (dynamic) {
        number = process->getNumber();
    } else {
        const auto& processes = system->getProcesses();
        if (processes.empty()) {
            throw Bug("A location outside of a process");
        }
        owner = processes.back().get();
        number = static_cast<int32_t>(processes.size()) - 1;
    }
    auto* record = static_cast<location_t*>(node->data);
    if (record == nullptr) {
        throw Bug("A location without its record");
    }
    const bool urgent = node->type.isKind(URGENT);
    const bool committed = node->type.isKind(COMMITTED);
    Location* location =
        system->getLocationTable().add(number, record->number, node->name, committed, urgent, dynamic);
    currentLocation = location;

    const expression_t invariant =
        record->invariant.empty() ? expression_t::createConstant(1) : record->invariant;
    location->setInvariant(compileStateFormula(invariant, ExpressionRef()), record->invariant.toString(true));
    if (invariant.usesFloatingPoint()) {
        system->floatingPointInvariants = true;
    }
    if (!record->exponentialRate.empty()) {
        const std::string text = record->exponentialRate.toString(false);
        location->setExponentialRate(compileValueExpression(record->exponentialRate, true), text);
    }
    location->setCostRate(record->costRate.empty() ? makeConstantExpression(0)
                                                   : compileValueExpression(record->costRate, false));
    Variable* variable = system->addLocationVariable(number, location, dynamic);
    owner->setLocation(static_cast<size_t>(record->number), location);

    if (compilerSwitches().compileOnly) {
        const uint32_t mark = program->mark();
        compileStateFormula(invariant, ExpressionRef());
        compilerDumpBuffers().locations << variable->getIndex() << ":" << number << ":" << mark << "\n";
    }
    currentLocation = nullptr;
}

// ---------------------------------------------------------------- edges

base::RefPtr<Edge> Compiler::compileEdge(Process* process, const edge_t& record)
{
    base::RefPtr<Edge> edge(new Edge());
    if (record.sourceLocation == nullptr || record.targetLocation == nullptr) {
        throw Bug("An edge between branch points");
    }
    edge->source = process->getLocation(static_cast<size_t>(record.sourceLocation->number));
    edge->target = process->getLocation(static_cast<size_t>(record.targetLocation->number));
    edge->controllable = record.controllable != 0;

    edge->setProbability(compileValueExpression(record.probability, false), record.probability.toString(true));

    const expression_t& guard = record.guard;
    uint32_t guardMark;
    if (guard.usesFloatingPoint()) {
        system->floatingPointClocks = true;
        guardMark = program->mark();
        ExpressionRef expression = compileValueExpression(guard, false);
        if (guard.usesClock()) {
            expression->clockDependent = true;
        }
        edge->setGuard(expression, expression, guard.toString(true));
        edge->source->floatingPointGuard = true;
    } else {
        expression_t clockPart = extractClockGuard(guard);
        if (clockPart.empty()) {
            clockPart = expression_t::createConstant(1);
        }
        guardMark = program->mark();
        ExpressionRef discrete = compileValueExpression(guard, false);
        ExpressionRef clocks = compileStateFormula(clockPart, ExpressionRef());
        edge->setGuard(discrete, clocks, guard.toString(true));
    }

    const uint32_t updateMark = program->mark();
    edge->setUpdate(makeProgramExpression(record.update), record.update.toString(true));

    uint32_t syncMark;
    const expression_t& sync = record.sync;
    if (sync.empty()) {
        syncMark = program->mark();
        edge->setSync(compileValueExpression(expression_t::createConstant(0), false), std::set<int32_t>(), "tau");
    } else {
        ExpressionAnalyser::CellSet cells;
        analyser->collectPossibleIndex(sync[0], cells);
        IndexSet indices;
        for (const ExpressionAnalyser::Cell& cell : cells) {
            indices.insert(boost::get<1>(cell));
        }
        IndexSet numbers;
        collectVariableValues(indices, numbers);
        std::set<int32_t> channels;
        const int32_t direction = sync.getSync();
        if (direction == 0 || direction == 1 || direction == 2) {
            for (uint32_t number : numbers) {
                const int32_t channel = static_cast<int32_t>(number);
                channels.insert(direction == 0 ? -channel : channel);
            }
        }
        syncMark = program->mark();
        edge->setSync(compileValueExpression(sync, false), channels, sync.toString(true));
    }

    if (compilerSwitches().compileOnly) {
        Symbol* source = currentSymbol->find(record.sourceLocation->symbol);
        Symbol* target = currentSymbol->find(record.targetLocation->symbol);
        compilerDumpBuffers().edges << system->getProcesses().size() - 1 << ":"
                                    << (source != nullptr ? source->getOffset() : 0) << ":"
                                    << (target != nullptr ? target->getOffset() : 0) << ":" << guardMark << ":"
                                    << syncMark << ":" << updateMark << "\n";
    }
    return edge;
}

base::RefPtr<Edge> Compiler::compileBranchEdge(Process* process, const edge_t& first, const edge_t& branch)
{
    edge_t copy = first;
    copy.targetLocation = branch.targetLocation;
    copy.targetBranchpoint = nullptr;
    copy.probability = branch.probability;
    if (!branch.update.empty()) {
        copy.update = copy.update.empty() ? branch.update
                                          : expression_t::createBinary(COMMA, first.update, branch.update);
    }
    return compileEdge(process, copy);
}

// ---------------------------------------------------------------- select

std::vector<edge_t> Compiler::expandSelect(const edge_t& edge)
{
    const size_t k = edge.select.empty() ? 0 : edge.select.getSize();
    if (k == 0) {
        return {edge};
    }
    std::vector<binding_t> symbols;
    std::vector<int32_t> lower;
    std::vector<int32_t> upper;
    for (size_t j = 0; j < k; ++j) {
        symbols.push_back(edge.select[j]);
        auto [l, u] = evaluateRange(symbols.back().getType());
        lower.push_back(l);
        upper.push_back(u);
    }
    std::vector<edge_t> result;
    for (size_t j = 0; j < k; ++j) {
        if (upper[j] < lower[j]) {
            // An empty range leaves nothing to choose: no edge.
            return result;
        }
    }
    std::vector<int32_t> current = lower;
    for (;;) {
        edge_t copy = edge;
        for (size_t j = 0; j < k; ++j) {
            copy.markers.push_back(current[j]);
            copy.guard = substituteConstant(copy.guard, symbols[j], current[j]);
            copy.update = substituteConstant(copy.update, symbols[j], current[j]);
            copy.sync = substituteConstant(copy.sync, symbols[j], current[j]);
            copy.probability = substituteConstant(copy.probability, symbols[j], current[j]);
        }
        result.push_back(std::move(copy));
        size_t j = 0;
        for (; j < k; ++j) {
            if (current[j] < upper[j]) {
                ++current[j];
                break;
            }
            current[j] = lower[j];
        }
        if (j == k) {
            return result;
        }
    }
}

// ---------------------------------------------------------------- processes

base::RefPtr<Process> Compiler::instantiateProcess(std::string& name, Symbol* node, std::vector<int32_t>& arguments,
                                                   bool dynamic)
{
    auto* instance = static_cast<instance_t*>(node->data);
    if (instance == nullptr || instance->definingTemplate == nullptr) {
        throw Bug("A process without its template");
    }
    template_t& templ = *instance->definingTemplate;
    node->setOffset(static_cast<uint32_t>(system->getVariables().size()));

    if (!dynamic && arguments.size() < instance->freeCount) {
        if (node->upper < node->lower) {
            throw CompileError("$Upper_bound_must_be_larger_than_lower_bound", node->type.getPosition());
        }
        Symbol* saved = currentSymbol;
        scalarsetInfo.beginRange(instance->parameters[arguments.size()].getType());
        for (int64_t v = node->lower; v <= node->upper; ++v) {
            arguments.push_back(static_cast<int32_t>(v));
            scalarsetInfo.pushIndex(static_cast<uint64_t>(v));
            std::string copy = name;
            instantiateProcess(copy, node->firstChild.get(), arguments, false);
            scalarsetInfo.popIndex();
            arguments.pop_back();
        }
        scalarsetInfo.endRange();
        currentDynamicProcess = nullptr;
        setCurrentSymbol(saved);
        node->size = static_cast<uint32_t>(system->getVariables().size()) - node->getOffset();
        return nullptr;
    }

    setCurrentSymbol(node);
    const std::string plainName = name;
    if (!arguments.empty()) {
        name += "(";
        for (size_t i = 0; i < arguments.size(); ++i) {
            if (i > 0) {
                name += ",";
            }
            name += std::to_string(arguments[i]);
        }
        name += ")";
    }
    base::RefPtr<Process> process(new Process(templ.locations.size(), name));
    process->templateName = templ.symbol.getName();
    if (dynamic) {
        process->dynamicTemplateIndex = templ.dynamicIndex;
        currentDynamicProcess = process.get();
    }
    system->addProcess(process, dynamic);
    process->priority = dynamic ? -1 : model->getProcPriority(plainName);

    for (size_t i = 0; i < arguments.size() && i < instance->parameters.getSize(); ++i) {
        if (Symbol* parameter = node->find(instance->parameters[i])) {
            parameter->value = expression_t::createConstant(arguments[i]);
        }
    }

    std::vector<std::pair<std::string, std::string>> bindings;
    for (Symbol* child = node->firstChild.get(); child != nullptr; child = child->next.get()) {
        computeSize(child);
        if (child->isParameter) {
            bindings.emplace_back(child->name, child->value.toString(false));
        }
        computeInitialValues(child, dynamic);
        declareVariable(process.get(), name + ".", child, dynamic);
    }
    process->instanceDeclarations = bindings;

    Process::EdgeList edges;
    for (const edge_t& edge : templ.edges) {
        const std::vector<edge_t> expanded = expandSelect(edge);
        if (edge.sourceBranchpoint != nullptr) {
            continue;
        }
        if (edge.targetLocation != nullptr) {
            for (const edge_t& x : expanded) {
                base::RefPtr<Edge> compiled = compileEdge(process.get(), x);
                compiled->addSelectRecord(x.number, valuesOf(x));
                compiled->branchGroup = 0;
                edges.push_back(compiled);
            }
            continue;
        }
        for (const edge_t& branch : templ.edges) {
            if (branch.sourceBranchpoint != edge.targetBranchpoint) {
                continue;
            }
            const std::vector<edge_t> branches = expandSelect(branch);
            for (const edge_t& x : expanded) {
                for (const edge_t& y : branches) {
                    base::RefPtr<Edge> compiled = compileBranchEdge(process.get(), x, y);
                    compiled->addSelectRecord(x.number, valuesOf(x));
                    compiled->addSelectRecord(y.number, valuesOf(y));
                    compiled->branchGroup = edge.number + 1;
                    edges.push_back(compiled);
                }
            }
        }
    }
    process->setEdges(edges);

    if (!templ.initialLocation.empty()) {
        if (auto* initial = static_cast<location_t*>(templ.initialLocation.getData())) {
            process->initialLocation = process->getLocation(static_cast<size_t>(initial->number));
        }
        if (compilerSwitches().compileOnly && !dynamic) {
            Symbol* initial = currentSymbol->find(templ.initialLocation);
            compilerDumpBuffers().initialLocations.push_back(
                initial != nullptr ? static_cast<int32_t>(initial->getOffset()) : -1);
        }
    }

    setCurrentSymbol(node->parent);
    scalarsetInfo.addProcess(static_cast<int32_t>(system->getProcesses().size()) - 1);
    currentDynamicProcess = nullptr;
    node->size = static_cast<uint32_t>(system->getVariables().size()) - node->getOffset();
    return process;
}
