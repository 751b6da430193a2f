#include "language/system.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

#include "language/statement.h"
#include "support/exceptions.h"

using namespace ZOLT;

namespace {

type_t intType() { return type_t::createPrimitive(INT); }

// A scope of parameters named as given, all of type int, without records.
scope_t parameterScope(std::initializer_list<const char*> names)
{
    scope_t scope = scope_t::create();
    for (const char* name : names) {
        scope.addSymbol(name, intType(), nullptr);
    }
    return scope;
}

std::string duplicateMessage(const std::function<void()>& action)
{
    try {
        action();
    } catch (const TypeException& e) {
        return e.what();
    }
    return "no exception";
}

} // namespace

TEST(SystemTest, NewModelHoldsOnlyTheReferenceClock)
{
    TimedAutomataSystem system;
    const declarations_t& globals = system.getGlobals();
    ASSERT_EQ(globals.variables.size(), 1u);
    const variable_t& clock = globals.variables.front();
    EXPECT_EQ(clock.symbol.getName(), "t(0)");
    EXPECT_TRUE(clock.symbol.getType().isKind(CLOCK));
    EXPECT_TRUE(clock.initialiser.empty());
    EXPECT_EQ(clock.symbol.getData(), &clock);
    ASSERT_EQ(globals.frame.getSize(), 1u);
    EXPECT_EQ(globals.frame[0], clock.symbol);
    EXPECT_FALSE(globals.frame.hasParent());

    EXPECT_TRUE(system.getTemplates().empty());
    EXPECT_TRUE(system.getProcesses().empty());
    EXPECT_TRUE(system.getDynamicTemplates().empty());
    EXPECT_TRUE(system.getChanPriorities().empty());
    EXPECT_TRUE(system.getBeforeUpdate().empty());
    EXPECT_TRUE(system.getAfterUpdate().empty());
    EXPECT_FALSE(system.hasPriorities());
    EXPECT_FALSE(system.hasStrictInvariants());
    EXPECT_FALSE(system.hasStopWatches());
    EXPECT_FALSE(system.hasStrictLowerBoundOnControllableEdges());
    EXPECT_FALSE(system.clockGuardOnUrgentEdge);
    EXPECT_FALSE(system.clockGuardOnBroadcastReceive);
    EXPECT_FALSE(system.isModified());
    EXPECT_EQ(system.syncMode, 0);
    EXPECT_TRUE(system.observerName.empty());
    EXPECT_FALSE(system.errorsPresent());
    EXPECT_FALSE(system.warningsPresent());
}

TEST(SystemTest, DuplicateVariableIsAddedThenReported)
{
    TimedAutomataSystem system;
    declarations_t& globals = system.getGlobals();
    variable_t& first = system.addVariable(globals, intType(), "x", expression_t::createConstant(1));
    EXPECT_EQ(first.initialiser.getValue(), 1);

    EXPECT_EQ(duplicateMessage([&] {
                  system.addVariable(globals, intType(), "x", expression_t::createConstant(2));
              }),
              "$Duplicate_definition_of x");
    ASSERT_EQ(globals.variables.size(), 3u);
    variable_t& second = globals.variables.back();
    EXPECT_TRUE(second.initialiser.empty()) << "the initialiser of a duplicate is not set";
    binding_t found;
    ASSERT_TRUE(globals.frame.resolve("x", found));
    EXPECT_EQ(found, second.symbol) << "the newest symbol takes the name";
    EXPECT_EQ(found.getData(), &second);

    // The reference clock's name is taken like any other.
    EXPECT_EQ(duplicateMessage([&] { system.addVariable(globals, intType(), "t(0)", {}); }),
              "$Duplicate_definition_of t(0)");
}

TEST(SystemTest, FunctionsLocationsBranchpointsAndEdgesAreNumberedAndShareTheFrame)
{
    TimedAutomataSystem system;
    template_t& t = system.addTemplate("P", parameterScope({"id"}), true, "", "");

    // A function with a name already used returns false and is added anyway.
    function_t* f = nullptr;
    EXPECT_TRUE(t.declarations.addFunction(intType(), "f", f));
    EXPECT_EQ(f, &t.declarations.functions.back());
    EXPECT_EQ(f->symbol.getData(), f);
    EXPECT_FALSE(t.declarations.addFunction(intType(), "f", f));
    EXPECT_EQ(t.declarations.functions.size(), 2u);

    location_t& a = t.addLocation("A", {}, {});
    location_t& b = t.addLocation("B", expression_t::createConstant(1), {});
    branchpoint_t& c = t.addBranchpoint("C");
    EXPECT_EQ(a.number, 0);
    EXPECT_EQ(b.number, 1);
    EXPECT_EQ(c.number, 0);
    EXPECT_TRUE(a.symbol.getType().isKind(LOCATION));
    EXPECT_TRUE(c.symbol.getType().isKind(BRANCHPOINT));
    EXPECT_FALSE(b.invariant.empty());

    // A location named like a parameter, a function or another location is a duplicate;
    // the new location stays, with the next number, and takes the name.
    for (const char* name : {"id", "f", "A"}) {
        size_t before = t.locations.size();
        EXPECT_EQ(duplicateMessage([&] { t.addLocation(name, {}, {}); }),
                  std::string("$Duplicate_definition_of ") + name);
        ASSERT_EQ(t.locations.size(), before + 1);
        EXPECT_EQ(t.locations.back().number, static_cast<int32_t>(before));
        EXPECT_EQ(t.declarations.frame.indexOfName(name),
                  static_cast<int32_t>(t.declarations.frame.getSize()) - 1);
    }
    EXPECT_EQ(duplicateMessage([&] { t.addBranchpoint("B"); }), "$Duplicate_definition_of B");

    edge_t& e0 = t.addEdge(a.symbol, b.symbol, 1, "go");
    edge_t& e1 = t.addEdge(c.symbol, a.symbol, 0, "");
    edge_t& e2 = t.addEdge(b.symbol, c.symbol, 0, "");
    EXPECT_EQ(e0.number, 0);
    EXPECT_EQ(e1.number, 1);
    EXPECT_EQ(e2.number, 2);
    EXPECT_EQ(e0.controllable, 1);
    EXPECT_EQ(e0.actionName, "go");
    EXPECT_EQ(e0.sourceLocation, &a);
    EXPECT_EQ(e0.targetLocation, &b);
    EXPECT_EQ(e0.sourceBranchpoint, nullptr);
    EXPECT_EQ(e1.sourceLocation, nullptr);
    EXPECT_EQ(e1.sourceBranchpoint, &c);
    EXPECT_EQ(e2.targetLocation, nullptr);
    EXPECT_EQ(e2.targetBranchpoint, &c);
    EXPECT_TRUE(e0.guard.empty() && e0.sync.empty() && e0.update.empty() && e0.probability.empty());
    EXPECT_THROW(t.addEdge(binding_t(), a.symbol, 0, ""), Bug);
    EXPECT_EQ(t.edges.size(), 3u);
}

TEST(SystemTest, RecordsKeepTheirAddressesWhileTheModelGrows)
{
    TimedAutomataSystem system;
    template_t& t = system.addTemplate("P", scope_t::create(), true, "", "");
    location_t& first = t.addLocation("L0", {}, {});
    variable_t& v = system.addVariable(system.getGlobals(), intType(), "v", {});
    edge_t& edge = t.addEdge(first.symbol, first.symbol, 0, "");
    for (int i = 1; i < 2000; ++i) {
        t.addLocation("L" + std::to_string(i), {}, {});
        t.addEdge(first.symbol, first.symbol, 0, "");
        system.addVariable(system.getGlobals(), intType(), "v" + std::to_string(i), {});
        system.addTemplate("Q" + std::to_string(i), scope_t::create(), true, "", "");
    }
    EXPECT_EQ(first.symbol.getData(), &first);
    EXPECT_EQ(first.symbol.getName(), "L0");
    EXPECT_EQ(v.symbol.getData(), &v);
    EXPECT_EQ(edge.sourceLocation, &first);
    EXPECT_EQ(t.symbol.getData(), static_cast<instance_t*>(&t));
    EXPECT_EQ(t.definingTemplate, &t);
    EXPECT_EQ(t.locations[1999].number, 1999);
}

TEST(SystemTest, TemplatesAndDynamicTemplates)
{
    TimedAutomataSystem system;
    scope_t params = parameterScope({"a", "b"});
    template_t& ta = system.addTemplate("P", params, true, "", "");
    EXPECT_EQ(ta.freeCount, 2u);
    EXPECT_EQ(ta.boundCount, 0u);
    EXPECT_TRUE(ta.isTimedAutomaton);
    EXPECT_FALSE(ta.isDynamic);
    EXPECT_TRUE(ta.symbol.getType().isKind(INSTANCE));
    EXPECT_EQ(ta.symbol.getType().getSize(), 2u);
    EXPECT_EQ(ta.declarations.frame.getSize(), 2u) << "parameters are in the template's frame";
    EXPECT_EQ(ta.declarations.frame.getParent(), system.getGlobals().frame);

    template_t& chart = system.addTemplate("S", scope_t::create(), false, "Universal", "Invariant");
    EXPECT_TRUE(chart.symbol.getType().isKind(LSC_INSTANCE));
    EXPECT_FALSE(chart.isTimedAutomaton);
    EXPECT_EQ(chart.lscType, "Universal");
    EXPECT_EQ(chart.lscMode, "Invariant");

    // An empty parameter handle counts as no parameters.
    template_t& bare = system.addTemplate("R", scope_t(), true, "", "");
    EXPECT_EQ(bare.freeCount, 0u);

    EXPECT_EQ(system.findDynamicTemplate("D"), nullptr);
    const std::vector<template_t*>& table = system.getDynamicTemplates();
    EXPECT_TRUE(table.empty());
    template_t& d0 = system.addDynamicTemplate("D", parameterScope({"p"}));
    template_t& d1 = system.addDynamicTemplate("E", scope_t::create());
    EXPECT_TRUE(d0.isDynamic && d0.isTimedAutomaton && !d0.isDefined);
    EXPECT_EQ(d0.dynamicIndex, 0);
    EXPECT_EQ(d1.dynamicIndex, 1);
    EXPECT_EQ(system.findDynamicTemplate("D"), &d0);
    EXPECT_EQ(system.findDynamicTemplate("P"), nullptr) << "only dynamic templates are searched";
    EXPECT_EQ(system.getDynamicTemplates(), (std::vector<template_t*>{&d0, &d1}));
    const std::vector<template_t*>* again = &system.getDynamicTemplates();
    EXPECT_EQ(again, &system.getDynamicTemplates());
    EXPECT_EQ(system.getTemplates().size(), 3u);
}

TEST(SystemTest, InstancesBindTheBaseParametersInOrder)
{
    TimedAutomataSystem system;
    template_t& t = system.addTemplate("P", parameterScope({"a", "b", "c"}), true, "", "");
    binding_t a = t.parameters[0];
    binding_t c = t.parameters[2];

    // Q(x) = P(1, x + ...): one new parameter, one argument bound.
    scope_t qParams = parameterScope({"x"});
    instance_t& q = system.addInstance("Q", t, qParams, {expression_t::createConstant(1)});
    EXPECT_EQ(q.freeCount, 1u);
    EXPECT_EQ(q.boundCount, 1u);
    EXPECT_EQ(q.definingTemplate, &t);
    ASSERT_EQ(q.parameters.getSize(), 4u);
    EXPECT_EQ(q.parameters[1], a);
    ASSERT_EQ(q.bindings.size(), 1u);
    EXPECT_EQ(q.bindings.at(a).getValue(), 1);
    EXPECT_EQ(q.symbol.getData(), &q);
    EXPECT_TRUE(q.symbol.getType().isKind(INSTANCE));

    // R = Q(7): binds Q's own parameter x; Q's bindings are kept.
    instance_t& r = system.addInstance("R", q, scope_t::create(), {expression_t::createConstant(7)});
    EXPECT_EQ(r.freeCount, 0u);
    EXPECT_EQ(r.definingTemplate, &t);
    EXPECT_EQ(r.bindings.size(), 2u);
    EXPECT_EQ(r.bindings.at(q.parameters[0]).getValue(), 7);

    // More arguments than the base has parameters: the extra ones are not bound.
    instance_t& over = system.addInstance("O", t, scope_t::create(),
                                          {expression_t::createConstant(1), expression_t::createConstant(2),
                                           expression_t::createConstant(3), expression_t::createConstant(4)});
    EXPECT_EQ(over.bindings.size(), 3u);
    EXPECT_EQ(over.bindings.at(c).getValue(), 3);
    EXPECT_EQ(over.boundCount, 4u);

    template_t& chart = system.addTemplate("S", scope_t::create(), false, "", "");
    instance_t& s = system.addLscInstance("S1", chart, scope_t::create(), {});
    EXPECT_TRUE(s.symbol.getType().isKind(LSC_INSTANCE));

    // fillInstance on the base itself reads the base before changing it.
    instance_t self = q;
    system.fillInstance(self, self, scope_t::create(), {expression_t::createConstant(9)});
    EXPECT_EQ(self.bindings.at(q.parameters[0]).getValue(), 9);
    EXPECT_EQ(self.bindings.at(a).getValue(), 1);
}

TEST(SystemTest, ProcessesGetTheirOwnSymbolsAndCanBeRemoved)
{
    TimedAutomataSystem system;
    template_t& t = system.addTemplate("P", parameterScope({"id"}), true, "", "");
    t.addLocation("L", {}, {});
    instance_t& bound = system.addInstance("P1", t, scope_t::create(), {expression_t::createConstant(1)});

    system.addProcess(t);       // free parameter left: a process set
    system.addProcess(bound);   // all bound: a process over the template's frame
    ASSERT_EQ(system.getProcesses().size(), 2u);
    instance_t& set = system.getProcesses().front();
    instance_t& single = system.getProcesses().back();
    EXPECT_EQ(set.symbol.getType().getKind(), PROCESS_SET);
    EXPECT_EQ(set.symbol.getName(), "P");
    EXPECT_NE(set.symbol, t.symbol) << "the process has its own symbol";
    EXPECT_EQ(set.symbol.getData(), &set);
    EXPECT_EQ(single.symbol.getType().getKind(), PROCESS);
    EXPECT_EQ(single.symbol.getType().getSize(), t.declarations.frame.getSize());
    EXPECT_EQ(single.definingTemplate, &t);

    binding_t found;
    ASSERT_TRUE(system.getGlobals().frame.resolve("P1", found));
    EXPECT_EQ(found, single.symbol);
    size_t frameSize = system.getGlobals().frame.getSize();
    system.removeProcess(single.symbol);
    EXPECT_EQ(system.getProcesses().size(), 1u);
    EXPECT_EQ(system.getGlobals().frame.getSize(), frameSize - 1);
    ASSERT_TRUE(system.getGlobals().frame.resolve("P1", found));
    EXPECT_EQ(found, bound.symbol) << "the instance's own symbol takes the name again";

    instance_t orphan;
    EXPECT_THROW(system.addProcess(orphan), Bug);
    EXPECT_EQ(system.getProcesses().size(), 1u);
}

TEST(SystemTest, CopyVariablesSharesTheSymbols)
{
    TimedAutomataSystem system;
    template_t& source = system.addTemplate("P", scope_t::create(), true, "", "");
    template_t& target = system.addTemplate("Q", scope_t::create(), true, "", "");
    system.addVariable(source.declarations, intType(), "x", expression_t::createConstant(3));
    system.addVariable(source.declarations, intType(), "y", {});

    system.copyVariables(source, target);
    ASSERT_EQ(target.declarations.variables.size(), 2u);
    EXPECT_EQ(target.declarations.variables.front().symbol, source.declarations.variables.front().symbol);
    EXPECT_EQ(target.declarations.variables.front().initialiser.getValue(), 3);
    EXPECT_EQ(target.declarations.frame.indexOfName("y"), 1);

    system.copyVariables(source, source);   // onto itself: each variable once more, then stop
    EXPECT_EQ(source.declarations.variables.size(), 4u);
}

TEST(SystemTest, PrioritiesAndFlags)
{
    TimedAutomataSystem system;
    EXPECT_EQ(system.getProcPriority("P"), 0);
    system.setProcPriority("P", 0);
    EXPECT_FALSE(system.hasPriorities()) << "level 0 is recorded without declaring priorities";
    system.setProcPriority("Q", 2);
    EXPECT_TRUE(system.hasPriorities());
    system.setProcPriority("Q", 5);
    EXPECT_EQ(system.getProcPriority("Q"), 5);

    TimedAutomataSystem other;
    EXPECT_THROW(other.addChanPriority(',', expression_t::createConstant(1)), Bug);
    other.beginChanPriority(expression_t());
    EXPECT_TRUE(other.hasPriorities());
    other.addChanPriority('<', expression_t::createConstant(1));
    ASSERT_EQ(other.getChanPriorities().size(), 1u);
    EXPECT_EQ(other.getChanPriorities().back().entries.front().separator, '<');

    other.setStrictInvariants();
    other.setStopWatches();
    other.setStrictLowerBoundOnControllableEdges();
    other.setModified(true);
    EXPECT_TRUE(other.hasStrictInvariants() && other.hasStopWatches() &&
                other.hasStrictLowerBoundOnControllableEdges() && other.isModified());
    other.setBeforeUpdate(expression_t::createConstant(4));
    EXPECT_EQ(other.getBeforeUpdate().getValue(), 4);
}

TEST(SystemTest, DiagnosticsUseThePositionTable)
{
    TimedAutomataSystem system;
    // Before any text was read an error is still recorded, without a known place.
    system.recordError(span_t(), "$Cannot_read_file", "m.xml");
    ASSERT_EQ(system.getErrors().size(), 1u);
    EXPECT_EQ(system.getErrors()[0].start, position_t());
    EXPECT_EQ(system.getErrors()[0].context, "m.xml");
    EXPECT_THROW(system.findPosition(0), std::logic_error);

    system.addPosition(0, 0, 1, "");
    system.addPosition(40, 40, 2, "");
    EXPECT_THROW(system.addPosition(10, 10, 1, ""), std::logic_error);
    EXPECT_EQ(system.findPosition(45).line, 2);

    system.recordWarning(span_t(41, 50), "$Unused");
    system.recordError(span_t(), "$Bad", "ctx");
    ASSERT_EQ(system.getWarnings().size(), 1u);
    EXPECT_EQ(system.getWarnings()[0].start.line, 2);
    EXPECT_EQ(system.getWarnings()[0].spanStart, 41);
    EXPECT_EQ(system.getWarnings()[0].context, "");
    EXPECT_EQ(system.getErrors()[1].start.line, 1);
    EXPECT_EQ(system.getErrors()[1].end.line, 2);

    system.clearWarnings();
    EXPECT_FALSE(system.warningsPresent());
    EXPECT_TRUE(system.errorsPresent());
    system.clearErrors();
    EXPECT_FALSE(system.errorsPresent());
}

TEST(SystemTest, FunctionRecordOwnsItsBody)
{
    // Run under the address sanitizer: the body and its statements are freed with the model.
    TimedAutomataSystem system;
    function_t* f = nullptr;
    system.getGlobals().addFunction(type_t::createFunction(intType(), {}, {}), "f", f);
    f->body = new BlockStatement(scope_t::createSubScope(system.getGlobals().frame));
    f->body->push(new ReturnStatement(expression_t::createConstant(0)));
    EXPECT_TRUE(f->body->alwaysReturns());
}
