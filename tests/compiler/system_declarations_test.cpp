// Declarations compiled after the processes: input/output declarations, progress measures,
// update hooks and Gantt charts.

#include <gtest/gtest.h>

#include "compile_helpers.h"
#include "runtime/channels.h"
#include "runtime/clock_expression.h"
#include "runtime/exceptions.h"
#include "runtime/process.h"

using namespace compiler_test;
using namespace ZOLT;

namespace {

// The channel numbers of a channel set of a process (null: none).
std::set<int32_t> members(const uint32_t* set)
{
    std::set<int32_t> out;
    if (set == nullptr) {
        return out;
    }
    for (size_t c = 0; c < Process::channelSetWords() * 32; ++c) {
        if ((set[c / 32] >> (c % 32)) & 1u) {
            out.insert(static_cast<int32_t>(c));
        }
    }
    return out;
}

Process& named(const Compiled& c, const std::string& name)
{
    Process* process = c.system->findProcess(name);
    EXPECT_NE(process, nullptr) << name;
    return *process;
}

int32_t channel(Compiled& c, const std::string& name)
{
    return c.compiler->evaluateConstant(c.parse(name));
}

// An IO declaration made as the builder makes one, from expression texts over the model.
iodecl_t& declareIO(Compiled& c, const std::string& instance, const std::vector<std::string>& arguments,
                    const std::vector<std::string>& inputs, const std::vector<std::string>& csp = {})
{
    iodecl_t& d = c.model->getGlobals().ioDeclarations.emplace_back();
    d.instanceName = instance;
    for (const std::string& text : arguments) {
        d.parameters.push_back(c.parse(text));
    }
    for (const std::string& text : inputs) {
        d.inputs.push_back(c.parse(text));
    }
    for (const std::string& text : csp) {
        d.cspChannels.push_back(c.parse(text));
    }
    return d;
}

// The first constraint's bound of a clock formula, where all variables are 0.
int32_t clockBound(const ExpressionRef& e)
{
    auto* clocks = dynamic_cast<ClockExpr*>(e.get());
    EXPECT_NE(clocks, nullptr);
    if (clocks == nullptr || clocks->getConstraints().empty()) {
        return 0;
    }
    testkit::FakeState state(64, 0, 0, 8);
    return clocks->getConstraints().front().getBound()->evaluate(&state);
}

} // namespace

TEST(IODeclarations, DeclarationsInTheModelText)
{
    // Two declarations for one process add to the same sets; an array names all its elements.
    Compiled c = compile(fixture("comp_system_declarations.xta"));
    Process& r = named(c, "R");
    EXPECT_EQ(members(r.getInputChannels()), (std::set<int32_t>{channel(c, "ca[0]"), channel(c, "ca[1]")}));
    EXPECT_EQ(members(r.getOutputChannels()), (std::set<int32_t>{channel(c, "a"), channel(c, "b")}));
    EXPECT_EQ(r.getCspChannels(), nullptr);
    EXPECT_EQ(named(c, "P(0)").getInputChannels(), nullptr);
    EXPECT_EQ(c.system->syncMode, 1);
}

TEST(IODeclarations, ArgumentsNameOneProcessOfASet)
{
    Compiled c = prepare(fixture("comp_system_declarations.xta"));
    declareIO(c, "P", {"2"}, {"a"});
    declareIO(c, "Q", {"1", "0"}, {"b"}, {"c"});
    // No process is called P alone, nor P(3), nor S.
    declareIO(c, "P", {}, {"c"});
    declareIO(c, "P", {"1 + 2"}, {"c"});
    declareIO(c, "S", {}, {"c"});
    c.system = c.compiler->compileSystem();

    EXPECT_EQ(members(named(c, "P(2)").getInputChannels()), std::set<int32_t>{channel(c, "a")});
    EXPECT_EQ(named(c, "P(0)").getInputChannels(), nullptr);
    EXPECT_EQ(named(c, "P(1)").getInputChannels(), nullptr);
    Process& q = named(c, "Q(1,0)");
    EXPECT_EQ(members(q.getInputChannels()), std::set<int32_t>{channel(c, "b")});
    EXPECT_EQ(members(q.getCspChannels()), std::set<int32_t>{channel(c, "c")});
    for (const char* other : {"Q(0,0)", "Q(0,1)", "Q(1,1)"}) {
        EXPECT_EQ(named(c, other).getInputChannels(), nullptr) << other;
    }
}

TEST(IODeclarations, NumbersThatAreNoChannelAreRefusedWhereWritten)
{
    // The channels of a CSP list are not checked by type; a number that names no channel would
    // otherwise be taken as one (and a large one would size the channel set after it).
    Compiled c = prepare(fixture("comp_system_declarations.xta"));
    iodecl_t& d = declareIO(c, "R", {}, {}, {"1000000"});
    const span_t position = d.cspChannels.front().getPosition();
    try {
        c.system = c.compiler->compileSystem();
        ADD_FAILURE() << "no error";
    } catch (const CompileError& error) {
        EXPECT_STREQ(error.what(), "$Channel_expected");
        EXPECT_EQ(error.getPosition(), position.packed());
    }
}

TEST(ProgressMeasures, InDeclarationOrderWithANullGuardWhereThereIsNone)
{
    Compiled c = compile(fixture("comp_system_declarations.xta"));
    const auto& measures = c.system->progressMeasures;
    ASSERT_EQ(measures.size(), 2u);
    auto state = c.state();
    c.set(*state, "n", 3);
    ASSERT_TRUE(measures[0].first);
    EXPECT_EQ(measures[0].first->evaluate(state.get()), 1);
    EXPECT_EQ(measures[0].second->evaluate(state.get()), 3);
    EXPECT_FALSE(measures[1].first);
    EXPECT_EQ(measures[1].second->evaluate(state.get()), 5);
}

TEST(UpdateHooks, OnlyTheDeclaredHookIsAdded)
{
    Compiled c = compile(fixture("comp_system_declarations.xta"));
    EXPECT_FALSE(c.system->getPreUpdate());
    ASSERT_TRUE(c.system->getPostUpdate());
    auto state = c.state();
    c.system->getPostUpdate()->evaluate(state.get());
    EXPECT_EQ(c.get(*state, "n"), 1);

    Compiled both = compile("int n;\n"
                            "before_update { n = n * 10 }\n"
                            "after_update { n = n + 1 }\n"
                            "process P() { state A; init A; } system P;");
    ASSERT_TRUE(both.system->getPreUpdate());
    ASSERT_TRUE(both.system->getPostUpdate());
    auto s = both.state();
    both.set(*s, "n", 2);
    both.system->getPreUpdate()->evaluate(s.get());
    both.system->getPostUpdate()->evaluate(s.get());
    EXPECT_EQ(both.get(*s, "n"), 21);
}

TEST(GanttCharts, ExpandedOverParametersAndSelects)
{
    Compiled c = compile(fixture("comp_system_declarations.xta"));
    const auto& charts = c.system->ganttCharts;
    std::vector<std::string> names;
    std::vector<int32_t> indices;
    for (const auto& chart : charts) {
        names.push_back(chart.name);
        indices.push_back(chart.index);
    }
    // The first parameter turns fastest; an empty parameter range gives no chart, an empty
    // select range no entry; the numbering runs on across charts.
    EXPECT_EQ(names, (std::vector<std::string>{"G(0,5)", "G(1,5)", "G(0,6)", "G(1,6)", "H", "Empty", "Last"}));
    EXPECT_EQ(indices, (std::vector<int32_t>{0, 1, 2, 3, 4, 5, 6}));
    ASSERT_EQ(charts.size(), 7u);

    // Each expansion has its parameters replaced: x > i and the value j.
    const std::vector<std::pair<int32_t, int32_t>> parameters = {{0, 5}, {1, 5}, {0, 6}, {1, 6}};
    for (size_t k = 0; k < parameters.size(); ++k) {
        ASSERT_EQ(charts[k].entries.size(), 1u);
        EXPECT_EQ(clockBound(charts[k].entries[0].first), -parameters[k].first) << charts[k].name;
        EXPECT_EQ(charts[k].entries[0].second->evaluate(nullptr), parameters[k].second) << charts[k].name;
    }

    // The select values in order, then the entry without select.
    const auto& h = charts[4].entries;
    ASSERT_EQ(h.size(), 4u);
    auto state = c.state();
    c.set(*state, "n", 2);
    std::vector<int32_t> values;
    std::vector<int32_t> conditions;
    for (const auto& [condition, value] : h) {
        values.push_back(value->evaluate(state.get()));
        conditions.push_back(condition->evaluate(state.get()));
    }
    EXPECT_EQ(values, (std::vector<int32_t>{1, 2, 3, 0}));
    EXPECT_EQ(conditions, (std::vector<int32_t>{0, 1, 0, 0}));

    EXPECT_TRUE(charts[5].entries.empty());
    ASSERT_EQ(charts[6].entries.size(), 1u);
    EXPECT_EQ(charts[6].entries[0].second->evaluate(nullptr), 7);
}

TEST(GanttCharts, ValueCompiledBeforeCondition)
{
    // The value's byte code precedes the condition's.
    Compiled c = compile("int n;\n"
                         "process P() { state A; init A; } system P;\n"
                         "gantt { G : n == 4 -> n + 3; }");
    ASSERT_EQ(c.system->ganttCharts.size(), 1u);
    const std::string code = c.listing();
    const size_t value = code.find("push 3");
    const size_t condition = code.find("push 4");
    ASSERT_NE(value, std::string::npos) << code;
    ASSERT_NE(condition, std::string::npos) << code;
    EXPECT_LT(value, condition);
}
