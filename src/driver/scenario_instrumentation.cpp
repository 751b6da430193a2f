// Instrumentation of the observed processes: every communication on a chart channel is reported
// to the observer right after it happened, over a copy of the channel, and the sender and the
// receiver write their process ids into the sender and receiver variables.

#include <algorithm>
#include <set>
#include <stdexcept>

#include "driver/scenario_translator.h"

using namespace ZOLT;

namespace {

bool endsWith(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

bool isChannelType(const type_t& type)
{
    return type.isKind(CHANNEL) || (type.isKind(ARRAY) && type.unwrapArrays().isKind(CHANNEL));
}

bool isCommitted(const location_t* location)
{
    return location != nullptr && location->symbol.getType().isKind(COMMITTED);
}

binding_t endSymbol(const location_t* location, const branchpoint_t* branchpoint)
{
    return location != nullptr ? location->symbol : branchpoint->symbol;
}

// The type of the copy of a channel: a plain channel, or an array of plain channels with the
// dimensions of the chart channel's array, each over a range with the same bounds (a scalar-set
// index keeps its own type, which alone may index by that set).
type_t copyChannelType(const type_t& channelType)
{
    type_t array = channelType.unwrap();
    if (array.getKind() != ARRAY) {
        return type_t::createPrimitive(CHANNEL);
    }
    type_t index = array.getChild(1);
    if (!index.isKind(SCALAR)) {
        type_t range = index;
        while (range.getKind() != UNKNOWN && range.getKind() != RANGE && range.getSize() > 0) {
            range = range.getChild(0);
        }
        if (range.getKind() == RANGE) {
            auto [lower, upper] = index.getRangeBounds();
            index = type_t::createRange(range.getChild(0), lower, upper);
        }
    }
    return type_t::createArray(copyChannelType(array.getChild(0)), index);
}

// The select symbols of the edge that the expression reads.
void collectSelects(const expression_t& e, const scope_t& select, std::vector<binding_t>& found)
{
    if (e.empty()) {
        return;
    }
    if (e.getKind() == IDENTIFIER) {
        binding_t symbol = e.getSymbol();
        if (!symbol.empty() && select.indexOf(symbol) != -1 &&
            std::find(found.begin(), found.end(), symbol) == found.end()) {
            found.push_back(symbol);
        }
        return;
    }
    for (size_t i = 0; i < e.getSize(); ++i) {
        collectSelects(e[i], select, found);
    }
}

} // namespace

bool Translator::isChartSync(const expression_t& sync, const instance_t& process)
{
    return isMessageChannel(instantiateExpression(sync, process)[0]);
}

void Translator::chooseChannelSuffix()
{
    auto taken = [&] {
        const auto& variables = system->getGlobals().variables;
        return std::any_of(variables.begin(), variables.end(), [&](const variable_t& v) {
            return isChannelType(v.symbol.getType()) && endsWith(v.symbol.getName(), suffix);
        });
    };
    for (int i = 0; taken(); ++i) {
        suffix = "_o" + std::to_string(i);
    }
}

binding_t Translator::declareCopyChannel(const expression_t& sync, const std::string& name)
{
    binding_t symbol;
    if (!resolve(name, symbol)) {
        system->addVariable(system->getGlobals(), copyChannelType(sync.getSymbol().getType()), name,
                            expression_t());
    }
    return resolveOrThrow(name);
}

void Translator::splitSendingEdges()
{
    declareFlagVariable(mayFireFlag, true);

    // All sending edges on chart channels are collected before any is changed.
    std::vector<std::pair<instance_t*, std::vector<edge_t>>> kept;
    for (instance_t& process : system->getProcesses()) {
        template_t* templ = process.definingTemplate;
        if (templ == nullptr || !templ->isTimedAutomaton || templ->symbol.getName() == templateName) {
            continue;
        }
        std::vector<edge_t> edges;
        for (const edge_t& edge : templ->edges) {
            if (!edge.sync.empty() && edge.sync.getSync() == 1 && isChartSync(edge.sync, process)) {
                edges.push_back(edge);
            }
        }
        kept.emplace_back(&process, std::move(edges));
    }

    for (auto& [process, edges] : kept) {
        template_t& templ = *process->definingTemplate;
        const scope_t& frame = templ.declarations.frame;
        int32_t k = 0;
        for (const edge_t& edge : edges) {
            // The committed location between the communication and its report.
            std::string name = "o_id" + std::to_string(k);
            binding_t symbol;
            while (frame.resolve(name, symbol)) {
                name = "o_" + name;
            }
            expression_t invariant = edge.targetLocation != nullptr ? edge.targetLocation->invariant.clone()
                                                                     : expression_t();
            templ.addLocation(name, invariant, expression_t());
            binding_t middle;
            if (!frame.resolve(name, middle)) {
                throw std::runtime_error("Unresolved symbol");
            }
            middle.setType(type_t::createPrefix(middle.getType(), COMMITTED));

            // The select values that name the channel are kept until the report, which sends on
            // the same element of the copy channel.
            std::vector<binding_t> selects;
            collectSelects(edge.sync, edge.select, selects);
            std::vector<std::pair<binding_t, binding_t>> stored;
            for (const binding_t& select : selects) {
                std::string storeName = "o_" + select.getName() + std::to_string(k);
                while (frame.resolve(storeName, symbol)) {
                    storeName = "o_" + storeName;
                }
                type_t type = select.getType();
                if (type.getKind() == CONSTANT) {
                    type = type.getChild(0);
                }
                expression_t lower = type.getRangeBounds().first;
                expression_t initial = type.isKind(INT) && !lower.empty() ? lower : expression_t();
                variable_t& variable = system->addVariable(templ.declarations, type, storeName, initial);
                stored.emplace_back(select, variable.symbol);
            }

            // First half: the communication itself. It keeps the edge's select variables, its
            // controllability, action and probability.
            edge_t& first = templ.addEdge(endSymbol(edge.sourceLocation, edge.sourceBranchpoint), middle,
                                          edge.controllable, edge.actionName);
            first.sync = edge.sync;
            expression_t update = addFlagAssignment(edge.update, mayFireFlag, false);
            for (const auto& [select, store] : stored) {
                update = appendUpdate(update, expression_t::createBinary(ASSIGN, expression_t::createIdentifier(store),
                                                                         expression_t::createIdentifier(select),
                                                                         position, store.getType()));
            }
            first.update = update;
            first.guard = addFlagTest(edge.guard, mayFireFlag, true);
            first.select = edge.select.empty() ? scope_t::createSubScope(frames.back()) : edge.select;
            first.probability = edge.probability;

            // Second half: the report on the copy channel.
            const binding_t channel = edge.sync.getSymbol();
            const binding_t copy = declareCopyChannel(edge.sync, channel.getName() + suffix);
            edge_t& second = templ.addEdge(middle, endSymbol(edge.targetLocation, edge.targetBranchpoint), 0, "SKIP");
            second.guard = makeConstant(1);
            // The weight every edge of a model has unless it gives one: the compiler compiles it.
            second.probability = makeConstant(1);
            expression_t report = edge.sync.cloneReplacingSymbol(channel, copy);
            expression_t reset = makeFlagAssignment(mayFireFlag, true);
            for (const auto& [select, store] : stored) {
                report = report.substituteSymbol(select, expression_t::createIdentifier(store));
                const expression_t& initial = store.getType().getRangeBounds().first;
                if (store.getType().isKind(INT) && !initial.empty()) {
                    expression_t target = expression_t::createIdentifier(store);
                    reset = appendUpdate(reset,
                                         expression_t::createBinary(ASSIGN, target, initial, position, store.getType()));
                }
            }
            second.update = reset;
            second.sync = report;
            second.select = scope_t::createSubScope(frames.back());

            auto original = std::find_if(templ.edges.begin(), templ.edges.end(),
                                         [&](const edge_t& e) { return e.number == edge.number; });
            if (original != templ.edges.end()) {
                templ.edges.erase(original);
            }
            ++k;
        }
    }
}

void Translator::redirectObserverSyncs()
{
    for (edge_t& edge : observer->definingTemplate->edges) {
        if (edge.sync.empty()) {
            continue;
        }
        const binding_t channel = edge.sync.getSymbol();
        const binding_t copy = declareCopyChannel(edge.sync, channel.getName() + suffix);
        edge.sync = edge.sync.cloneReplacingSymbol(channel, copy);
    }
}

void Translator::addCommittedFlag()
{
    declareFlagVariable(committedFlag, false);
    for (edge_t& edge : observer->definingTemplate->edges) {
        if (isCommitted(edge.targetLocation)) {
            edge.update = addFlagAssignment(edge.update, committedFlag, true);
        } else if (isCommitted(edge.sourceLocation)) {
            edge.update = addFlagAssignment(edge.update, committedFlag, false);
        }
    }
    for (instance_t& process : system->getProcesses()) {
        if (process.definingTemplate == nullptr) {
            continue;
        }
        for (edge_t& edge : process.definingTemplate->edges) {
            if (edge.sync.empty() || endsWith(edge.sync.getSymbol().getName(), suffix)) {
                continue;
            }
            if (isCommitted(edge.sourceLocation) && edge.sync.getSync() == 1 && isChartSync(edge.sync, process)) {
                edge.guard = addFlagTest(edge.guard, committedFlag, false);
            }
        }
    }
}

void Translator::recordSendersAndReceivers()
{
    for (instance_t& process : system->getProcesses()) {
        if (process.definingTemplate == nullptr) {
            continue;
        }
        const int32_t id = processIds[process.symbol.getName()];
        for (edge_t& edge : process.definingTemplate->edges) {
            if (edge.sync.empty() || endsWith(edge.sync.getSymbol().getName(), suffix) ||
                !isChartSync(edge.sync, process)) {
                continue;
            }
            const std::string& variable = edge.sync.getSync() == 1 ? senderVariable : receiverVariable;
            edge.update = addIdAssignment(edge.update, variable, id);
        }
    }
}
