#pragma once

#include <cstdint>
#include <deque>
#include <list>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "language/expression.h"
#include "language/node_kind.h"
#include "language/position.h"
#include "language/query_list.h"
#include "language/span.h"
#include "language/symbol.h"
#include "language/type.h"

namespace ZOLT {

// The records of the parsed model. Every record is held by value in a container that
// only grows at its back (a std::list for the lists of the system and of a
// declarations_t, a std::deque for the parts of a template), so its address stays fixed
// for the life of the model: the `data` pointer of each symbol points at the record
// that declares it, and an edge points at its source and target records.

class BlockStatement;   // language/statement.h
struct template_t;
struct lsc_region_t;    // language/lsc.h

// A variable (global, template-local, function-local or block-local). The symbol's
// data points at this record.
struct variable_t
{
    binding_t symbol;
    expression_t initialiser;   // empty when none
};

// A user function. The symbol's data points at this record; its first base holds the
// sets of symbols the function may write and read (`writtenSymbols`, `readSymbols`,
// filled by the type checker), which the symbol collectors of expressions read through
// that pointer. The body block is owned by the record and deleted with it, so a record
// cannot be copied.
struct function_t : function_effects_t
{
    binding_t symbol;
    std::list<variable_t> localVariables;
    BlockStatement* body = nullptr;       // owned; null until the builder sets it

    function_t() = default;
    function_t(const function_t&) = delete;
    function_t& operator=(const function_t&) = delete;
    ~function_t();
};

// A progress measure: `measure` counts progress while `guard` holds (empty: always).
struct progress_t
{
    expression_t guard;
    expression_t measure;
};

// An input/output declaration of an instance; added empty, filled by the builder.
struct iodecl_t
{
    std::string instanceName;
    std::vector<expression_t> parameters;
    std::list<expression_t> inputs;
    std::list<expression_t> outputs;
    std::list<expression_t> cspChannels;
};

// One line of a Gantt chart: over the `select` symbols, show `value` while `condition`.
struct gantt_entry_t
{
    scope_t select;
    expression_t condition;
    expression_t value;
};

struct gantt_t
{
    std::string name;
    scope_t parameters;
    std::list<gantt_entry_t> entries;
};

// The declarations of one scope. Also the base of BlockStatement, whose own symbols live
// in its `blockFrame` while this `frame` stays empty.
struct declarations_t
{
    scope_t frame;
    std::list<variable_t> variables;
    std::list<function_t> functions;
    std::list<progress_t> progressMeasures;
    std::list<iodecl_t> ioDeclarations;
    std::list<gantt_t> ganttCharts;

    declarations_t() = default;
    declarations_t(const declarations_t&) = delete;
    declarations_t& operator=(const declarations_t&) = delete;

    // Appends a function record and declares its symbol in `frame` (the newest symbol of
    // a name wins the name). `current` receives the record. Returns false when the name
    // was already declared in this frame; the function is added all the same.
    bool addFunction(type_t type, const std::string& name, function_t*& current);
};

// One group of channel priorities. `head` is empty for the default group. Each entry
// holds the character written before its channel (',' or '<').
struct chan_priority_t
{
    struct entry_t
    {
        int32_t separator;
        expression_t channel;
    };

    expression_t head;
    std::list<entry_t> entries;
};

// A template, a partial instantiation or a process.
struct instance_t
{
    binding_t symbol;                           // its data points back at this record
    scope_t parameters;                         // the new parameters first, then the base's
    std::map<binding_t, expression_t> bindings; // argument bound to each bound parameter
    uint64_t boundCount = 0;                    // number of arguments given
    uint64_t freeCount = 0;                     // the first freeCount parameters are free
    template_t* definingTemplate = nullptr;     // a template points at itself
    std::set<binding_t> restrictedParameters;   // filled by other subsystems
};

struct location_t
{
    binding_t symbol;
    expression_t invariant;
    expression_t exponentialRate;
    expression_t costRate;   // filled by the type checker
    int32_t number = 0;      // index in the template's locations
};

struct branchpoint_t
{
    binding_t symbol;
    int32_t number = 0;      // index in the template's branchpoints
};

// An edge. Exactly one of the two source pointers, and exactly one of the two target
// pointers, is non-null.
struct edge_t
{
    int32_t number = 0;
    int32_t controllable = 0;
    std::string actionName;
    location_t* sourceLocation = nullptr;
    branchpoint_t* sourceBranchpoint = nullptr;
    location_t* targetLocation = nullptr;
    branchpoint_t* targetBranchpoint = nullptr;
    scope_t select;
    expression_t guard;
    expression_t update;
    expression_t sync;
    expression_t probability;
    std::list<int32_t> markers;
};

// Scenario-chart parts; see language/lsc.h for the regions built from them. Instance
// lines compare by `number`, not by address. The builder sets each `label` after adding.
struct instance_line_t : instance_t
{
    int32_t number = 0;   // position in the template's instanceLines
};

struct message_t
{
    int32_t number = -1;
    int32_t location = -1;
    instance_line_t* source = nullptr;
    instance_line_t* target = nullptr;
    expression_t label;
    bool inPrechart = false;
};

struct update_t
{
    int32_t number = -1;
    int32_t location = -1;
    instance_line_t* anchor = nullptr;
    expression_t label;
    bool inPrechart = false;
};

struct condition_t
{
    int32_t number = -1;
    int32_t location = -1;
    std::vector<instance_line_t*> anchors;
    expression_t label;
    bool inPrechart = false;
    bool isHot = false;
};

// A template: a timed automaton, a dynamic template or a scenario chart. Its symbol's
// data points at the instance part of this record (the same address).
struct template_t : instance_t
{
    declarations_t declarations;   // frame: sub-scope of the global frame
    binding_t initialLocation;
    std::deque<location_t> locations;
    std::deque<branchpoint_t> branchpoints;
    std::deque<edge_t> edges;
    std::vector<expression_t> dynamicEvaluations;   // appended to by the model compiler
    bool isTimedAutomaton = true;                   // false for a scenario chart
    std::deque<instance_line_t> instanceLines;
    std::deque<message_t> messages;
    std::deque<update_t> updates;
    std::deque<condition_t> conditions;
    std::string lscType;
    std::string lscMode;
    bool hasPrechart = false;
    bool isDynamic = false;
    int32_t dynamicIndex = 0;   // position in the dynamic templates
    bool isDefined = false;     // the body of a dynamic template declared earlier was read

    // Appends a location and declares its symbol (type LOCATION) in the template's frame.
    // A name already declared there: the location and symbol are added, the newer symbol
    // takes the name, then TypeException "$Duplicate_definition_of <name>" is thrown.
    location_t& addLocation(const std::string& name, expression_t invariant,
                            expression_t exponentialRate);
    // The same for a branchpoint (type BRANCHPOINT).
    branchpoint_t& addBranchpoint(const std::string& name);
    // Appends an edge between the records of two location or branchpoint symbols.
    edge_t& addEdge(binding_t source, binding_t target, int32_t controllable,
                    const std::string& actionName);

    // Scenario-chart adders: each appends to its list and returns the new record. The
    // symbols given are instance-line symbols; the records are their data.
    instance_line_t& addInstanceLine();
    message_t& addMessage(binding_t source, binding_t target, int32_t location,
                          bool inPrechart);
    update_t& addLscUpdate(binding_t anchor, int32_t location, bool inPrechart);
    condition_t& addCondition(const std::vector<binding_t>& anchors, int32_t location,
                              bool inPrechart, bool isHot);

    // False for a timed automaton; for a scenario chart, whether the mode text is
    // "invariant" in any letter case.
    bool hasInvariantMode() const;
    // The first condition at `location` anchored on an instance line with `line`'s number.
    bool findCondition(const instance_line_t& line, int32_t location, condition_t*& result);
    // The first update at `location` anchored on an instance line with `line`'s number.
    bool findUpdate(const instance_line_t& line, int32_t location, update_t*& result);
    // findUpdate for each anchor in order, up to the first success.
    bool findUpdateOnAnchors(const std::vector<instance_line_t*>& anchors, int32_t location,
                             update_t*& result);
    // The regions of the chart (language/lsc.h).
    std::vector<lsc_region_t> collectLscRegions();
};

// The parsed model: global declarations, templates, instances, processes, priorities,
// update hooks, model facts, and the errors and warnings found while reading and
// checking it.
class TimedAutomataSystem
{
public:
    // A new model holds only the reference clock "t(0)", the first global variable.
    TimedAutomataSystem();
    TimedAutomataSystem(const TimedAutomataSystem&) = delete;
    TimedAutomataSystem& operator=(const TimedAutomataSystem&) = delete;
    virtual ~TimedAutomataSystem();

    // Model facts read and written directly by the type checker and the model compiler.
    bool clockGuardOnUrgentEdge = false;
    bool clockGuardOnBroadcastReceive = false;
    // How input/output declarations synchronise: 0 none seen, 1 input/output lists,
    // 2 CSP lists, -1 both kinds seen.
    int32_t syncMode = 0;
    // Name of the observer process that the scenario translation added; empty otherwise.
    std::string observerName;

    declarations_t& getGlobals() { return globals; }
    const declarations_t& getGlobals() const { return globals; }
    std::list<template_t>& getTemplates() { return templates; }
    const std::list<template_t>& getTemplates() const { return templates; }
    std::list<instance_t>& getProcesses() { return processes; }
    const std::list<instance_t>& getProcesses() const { return processes; }
    // The instantiations of timed-automaton templates (P = T(...)), in the order declared,
    // whether or not the system line uses them.
    const std::list<instance_t>& getInstances() const { return instances; }
    // The instantiations of scenario charts (P = Chart(...)), in the order declared.
    const std::list<instance_t>& getLscInstances() const { return lscInstances; }
    std::list<chan_priority_t>& getChanPriorities() { return chanPriorities; }
    const std::list<chan_priority_t>& getChanPriorities() const { return chanPriorities; }

    expression_t getBeforeUpdate() const { return beforeUpdate; }
    expression_t getAfterUpdate() const { return afterUpdate; }
    void setBeforeUpdate(expression_t e) { beforeUpdate = e; }
    void setAfterUpdate(expression_t e) { afterUpdate = e; }

    bool hasPriorities() const { return prioritiesDeclared; }
    bool hasStrictInvariants() const { return strictInvariants; }
    bool hasStopWatches() const { return stopWatches; }
    bool hasStrictLowerBoundOnControllableEdges() const
    {
        return strictLowerBoundOnControllableEdges;
    }
    void setStrictInvariants() { strictInvariants = true; }
    void setStopWatches() { stopWatches = true; }
    void setStrictLowerBoundOnControllableEdges() { strictLowerBoundOnControllableEdges = true; }
    bool isModified() const { return modified; }
    void setModified(bool value) { modified = value; }

    // The first dynamic template with exactly this name, or null.
    template_t* findDynamicTemplate(const std::string& name);
    // Pointers to the dynamic templates in declaration order, refilled whenever their
    // number has changed since the last call.
    const std::vector<template_t*>& getDynamicTemplates();

    // Declares a variable in the variables and the frame of `declarations`. A name already
    // declared in that frame: the record and its symbol are added (the newer symbol takes
    // the name) without initialiser, then TypeException "$Duplicate_definition_of <name>"
    // is thrown.
    variable_t& addVariable(declarations_t& declarations, type_t type, const std::string& name,
                            expression_t initialiser);
    // The same with an explicit list and frame (function locals, statement blocks).
    variable_t& addVariable(std::list<variable_t>& variables, scope_t frame, type_t type,
                            const std::string& name, expression_t initialiser);
    void addProgressMeasure(std::list<progress_t>& progressMeasures, expression_t guard,
                            expression_t measure);
    void addGanttChart(declarations_t& declarations, const gantt_t& chart);
    // Appends an empty input/output declaration to the globals, for the builder to fill.
    iodecl_t& addIODecl();

    // Adds a template and declares it globally with an INSTANCE type (LSC_INSTANCE when
    // not a timed automaton) over its parameters. Names are not checked for duplicates.
    template_t& addTemplate(const std::string& name, scope_t parameters, bool isTimedAutomaton,
                            const std::string& lscType, const std::string& lscMode);
    template_t& addDynamicTemplate(const std::string& name, scope_t parameters);

    // Adds a (partial) instantiation of `base` with the new parameters and the arguments
    // bound to the first parameters of `base`, and declares it globally.
    instance_t& addInstance(const std::string& name, const instance_t& base, scope_t parameters,
                            const std::vector<expression_t>& arguments);
    instance_t& addLscInstance(const std::string& name, const instance_t& base,
                               scope_t parameters, const std::vector<expression_t>& arguments);
    // Fills an existing record (an instance line) the same way, without symbol or list.
    void fillInstance(instance_t& target, const instance_t& base, scope_t parameters,
                      const std::vector<expression_t>& arguments);

    // Appends a copy of the instance to the processes and gives the copy its own global
    // symbol: PROCESS over the template's frame, or PROCESS_SET when parameters are free.
    void addProcess(const instance_t& instance);
    // Removes the symbol from the global frame and the first process holding it.
    void removeProcess(binding_t symbol);
    // Appends to `target` records sharing the symbols of the variables of `source`.
    void copyVariables(const template_t& source, template_t& target);

    // Starts a new channel priority group (empty head: the default group).
    void beginChanPriority(expression_t head);
    // Appends an entry to the last group; throws Bug when no group was begun.
    void addChanPriority(int32_t separator, expression_t channel);
    void setProcPriority(const std::string& name, int32_t level);
    // The level recorded for the name, 0 when none.
    int32_t getProcPriority(const std::string& name) const;

    // Source positions and diagnostics.
    void addPosition(uint32_t position, int32_t offset, int32_t line, const std::string& path);
    const position_t& findPosition(uint32_t position) const;
    // Never throws for want of positions: with an empty position table the diagnostic
    // carries the "no known place" entry, so an early failure of a loader is not lost.
    void recordError(span_t span, const std::string& message, const std::string& context = {});
    void recordWarning(span_t span, const std::string& message);
    bool errorsPresent() const { return !errors.empty(); }
    bool warningsPresent() const { return !warnings.empty(); }
    const std::vector<diagnostic_t>& getErrors() const { return errors; }
    const std::vector<diagnostic_t>& getWarnings() const { return warnings; }
    void clearErrors() { errors.clear(); }
    void clearWarnings() { warnings.clear(); }

    // The queries stored in an XML model.
    QueryList& getQueryList() { return queries; }

private:
    instance_t& addInstanceTo(std::list<instance_t>& list, node_kind_t kind,
                              const std::string& name, const instance_t& base,
                              scope_t parameters, const std::vector<expression_t>& arguments);
    template_t& initTemplate(template_t& t, const std::string& name, scope_t parameters,
                             node_kind_t kind);

    bool prioritiesDeclared = false;
    bool strictInvariants = false;
    bool stopWatches = false;
    bool strictLowerBoundOnControllableEdges = false;
    std::list<chan_priority_t> chanPriorities;
    std::map<std::string, int32_t> processPriorities;
    std::list<template_t> templates;
    std::list<template_t> dynamicTemplates;
    std::vector<template_t*> dynamicTemplateTable;
    std::list<instance_t> instances;
    std::list<instance_t> lscInstances;
    bool modified = false;
    std::list<instance_t> processes;
    declarations_t globals;
    expression_t beforeUpdate;
    expression_t afterUpdate;
    std::vector<diagnostic_t> errors;
    std::vector<diagnostic_t> warnings;
    position_table_t positions;
    QueryList queries;
};

} // namespace ZOLT
