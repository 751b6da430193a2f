// Declarations of the model that refer to its processes and channels, compiled after the
// processes: input/output declarations, progress measures, Gantt charts and channel priorities.

#include <string>
#include <vector>

#include "compiler/compiler.h"
#include "compiler/rewriting.h"
#include "runtime/channels.h"
#include "runtime/exceptions.h"
#include "runtime/system.h"

using namespace ZOLT;

// ---------------------------------------------------------------- value enumeration

template <class Visit>
void Compiler::forEachValue(const scope_t& scope, Visit visit)
{
    const size_t k = scope.empty() ? 0 : scope.getSize();
    std::vector<binding_t> symbols;
    std::vector<int32_t> lower;
    std::vector<int32_t> upper;
    for (size_t i = 0; i < k; ++i) {
        symbols.push_back(scope[i]);
        const type_t type = symbols.back().getType();
        if (type.getRangeBounds().first.empty()) {
            throw CompileError("$Range_expected", type.getPosition());
        }
        auto [l, u] = evaluateRange(type);
        lower.push_back(l);
        upper.push_back(u);
    }
    for (size_t i = 0; i < k; ++i) {
        if (upper[i] < lower[i]) {
            // An empty range has no value to take: there is no combination at all.
            return;
        }
    }
    // An odometer whose first wheel turns fastest.
    std::vector<int32_t> current = lower;
    for (;;) {
        visit(symbols, current);
        size_t i = 0;
        for (; i < k; ++i) {
            if (current[i] < upper[i]) {
                ++current[i];
                break;
            }
            current[i] = lower[i];
        }
        if (i == k) {
            return;
        }
    }
}

// ---------------------------------------------------------------- channels

std::vector<int32_t> Compiler::channelNumbers(const expression_t& channel)
{
    std::vector<int32_t> group;
    std::vector<bool> mentioned(channelCount() + 1, false);
    addPriorityEntry(channel, group, mentioned);
    return group;
}

void Compiler::addPriorityEntry(const expression_t& entry, std::vector<int32_t>& group, std::vector<bool>& mentioned)
{
    if (entry.empty()) {
        mentioned.at(0) = true;
        group.push_back(0);
        return;
    }
    std::vector<int32_t> integers;
    std::vector<double> doubles;
    evaluateToValueLists(entry, integers, doubles, false);
    if (integers.empty()) {
        throw Bug("A channel without its number");
    }
    const int32_t first = integers.front();
    const int32_t next = addChannelNumbers(first, entry.getType(), group, mentioned);
    // Every number must name a channel of the model; anything else (an integer written where a
    // channel belongs) is refused where it is written.
    if (first < 1 || next - 1 > static_cast<int32_t>(channelCount())) {
        throw CompileError("$Channel_expected", entry.getPosition());
    }
}

int32_t Compiler::addChannelNumbers(int32_t first, const type_t& type, std::vector<int32_t>& group,
                                    std::vector<bool>& mentioned)
{
    int32_t k = first;
    if (type.isKind(ARRAY)) {
        auto [lower, upper] = evaluateRange(type.getIndexType());
        const type_t element = type.getQualifiedChild();
        for (int64_t i = lower; i <= upper; ++i) {
            k = addChannelNumbers(k, element, group, mentioned);
        }
        return k;
    }
    if (k >= 0 && static_cast<size_t>(k) < mentioned.size()) {
        mentioned[static_cast<size_t>(k)] = true;
    }
    group.push_back(k);
    return k + 1;
}

// ---------------------------------------------------------------- input/output declarations

void Compiler::compileIODeclarations(std::list<iodecl_t>& declarations)
{
    for (iodecl_t& declaration : declarations) {
        // A declaration with arguments names one process of a process set, written as
        // instantiation names it: "P(1,0)".
        std::string name = declaration.instanceName;
        if (!declaration.parameters.empty()) {
            name += "(";
            for (size_t i = 0; i < declaration.parameters.size(); ++i) {
                if (i > 0) {
                    name += ",";
                }
                name += std::to_string(evaluateConstant(declaration.parameters[i]));
            }
            name += ")";
        }
        Process* process = system->findProcess(name);
        if (process == nullptr) {
            // No static process has that name (a misspelt name, arguments outside the
            // parameter ranges, a dynamic template): nothing to declare.
            continue;
        }
        for (const expression_t& channel : declaration.inputs) {
            for (int32_t number : channelNumbers(channel)) {
                process->addInputChannel(number);
            }
        }
        for (const expression_t& channel : declaration.outputs) {
            for (int32_t number : channelNumbers(channel)) {
                process->addOutputChannel(number);
            }
        }
        for (const expression_t& channel : declaration.cspChannels) {
            for (int32_t number : channelNumbers(channel)) {
                process->addCspChannel(number);
            }
        }
    }
}

// ---------------------------------------------------------------- progress measures

void Compiler::compileProgressMeasures(std::list<progress_t>& measures)
{
    for (progress_t& measure : measures) {
        ExpressionRef guard;
        if (!measure.guard.empty()) {
            guard = compileValueExpression(measure.guard, false);
        }
        ExpressionRef value = compileValueExpression(measure.measure, false);
        system->progressMeasures.emplace_back(guard, value);
    }
}

// ---------------------------------------------------------------- Gantt charts

void Compiler::compileGanttCharts(std::list<gantt_t>& charts)
{
    // Every chart over every value of its parameters, with the parameters replaced by their
    // values.
    struct Expanded
    {
        std::string name;
        std::list<gantt_entry_t> entries;
    };
    std::vector<Expanded> expanded;
    for (const gantt_t& chart : charts) {
        if (chart.parameters.empty() || chart.parameters.getSize() == 0) {
            expanded.push_back({chart.name, chart.entries});
            continue;
        }
        forEachValue(chart.parameters, [&](const std::vector<binding_t>& symbols, const std::vector<int32_t>& values) {
            Expanded one{chart.name + "(", chart.entries};
            for (size_t i = 0; i < symbols.size(); ++i) {
                if (i > 0) {
                    one.name += ",";
                }
                one.name += std::to_string(values[i]);
                for (gantt_entry_t& entry : one.entries) {
                    entry.condition = substituteConstant(entry.condition, symbols[i], values[i]);
                    entry.value = substituteConstant(entry.value, symbols[i], values[i]);
                }
            }
            one.name += ")";
            expanded.push_back(std::move(one));
        });
    }

    // Each entry over every value of its select symbols: the value first, then the condition.
    int32_t index = 0;
    for (const Expanded& chart : expanded) {
        System::GanttChart compiled{chart.name, index++, {}};
        auto add = [&](const expression_t& condition, const expression_t& value) {
            ExpressionRef v = compileValueExpression(value, false);
            ExpressionRef c = compileStateFormula(condition, ExpressionRef());
            compiled.entries.emplace_back(c, v);
        };
        for (const gantt_entry_t& entry : chart.entries) {
            if (entry.select.empty() || entry.select.getSize() == 0) {
                add(entry.condition, entry.value);
                continue;
            }
            forEachValue(entry.select, [&](const std::vector<binding_t>& symbols, const std::vector<int32_t>& values) {
                expression_t condition = entry.condition;
                expression_t value = entry.value;
                for (size_t i = 0; i < symbols.size(); ++i) {
                    condition = substituteConstant(condition, symbols[i], values[i]);
                    value = substituteConstant(value, symbols[i], values[i]);
                }
                add(condition, value);
            });
        }
        system->ganttCharts.push_back(std::move(compiled));
    }
}

// ---------------------------------------------------------------- channel priorities

void Compiler::compileChannelPriorities()
{
    const size_t n = channelCount();
    system->hasPriorities = true;
    system->resizePriorityMatrix(n);
    std::vector<bool> mentioned(n + 1, false);

    // Each group has priority over the group before it; groups further apart are ordered by
    // the closure below.
    std::list<chan_priority_t>& declarations = model->getChanPriorities();
    for (const chan_priority_t& declaration : declarations) {
        std::vector<int32_t> lower;
        std::vector<int32_t> current;
        addPriorityEntry(declaration.head, current, mentioned);
        for (const chan_priority_t::entry_t& entry : declaration.entries) {
            if (entry.separator == '<') {
                system->addChannelPriorities(current, lower);
                lower = std::move(current);
                current.clear();
            }
            addPriorityEntry(entry.channel, current, mentioned);
        }
        system->addChannelPriorities(current, lower);
    }

    const bool forced = compilerSwitches().forceFullPriorityOrder;
    if (forced) {
        if (declarations.size() > 1) {
            throw CompileError("$Priority_declaration_must_be_on_single_line", NO_POSITION);
        }
        // A declaration that does not name the default puts it below its first group. Without
        // any channel declaration (only process priorities) the default is the one level.
        if (!mentioned[0] && !declarations.empty()) {
            std::vector<int32_t> lower{0};
            std::vector<int32_t> current;
            addPriorityEntry(declarations.front().head, current, mentioned);
            system->addChannelPriorities(current, lower);
            mentioned[0] = true;
        }
    }
    if (mentioned[0]) {
        system->applyDefaultPriority(mentioned);
    }
    std::string message;
    if (!system->checkChannelPriorities(message)) {
        throw CompileError(message, NO_POSITION);
    }
    if (forced && !system->priorityOrderTotal) {
        throw Bug("Priority-order not total");
    }
}
