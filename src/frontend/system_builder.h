#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "frontend/statement_builder.h"

namespace ZOLT {

// The builder of every model that is read: templates, locations, edges and their
// labels, instantiations, the system line, process and channel priorities, update
// hooks, IO declarations, progress measures, Gantt charts, scenario charts and dynamic
// templates become records of the system it was made for.
class SystemBuilder : public StatementBuilder
{
public:
    explicit SystemBuilder(TimedAutomataSystem* system);
    ~SystemBuilder() override;

    // Declarations
    variable_t* addVariable(type_t type, const char* name, expression_t initialiser) override;
    bool addFunction(type_t type, const char* name) override;
    void declProgress(bool hasGuard) override;
    void beforeUpdate() override;
    void afterUpdate() override;
    void declDynamicTemplate(const char* name) override;

    // Templates, locations and edges
    using StatementBuilder::procBegin;
    using StatementBuilder::procEnd;
    void procBegin(const char* name, bool isTimedAutomaton, const std::string& type,
                   const std::string& mode) override;
    void procEnd() override;
    void procState(const char* name, bool hasInvariant, bool hasExponentialRate) override;
    void procStateCommit(const char* name) override;
    void procStateUrgent(const char* name) override;
    void procStateInit(const char* name) override;
    void procBranchpoint(const char* name) override;
    void procEdgeBegin(const char* source, const char* target, bool controllable, const char* action) override;
    void procEdgeEnd(const char* source, const char* target) override;
    void procSelect(const char* name) override;
    void procGuard() override;
    void procSync(int kind) override;
    void procUpdate() override;
    void procProb() override;

    // Scenario charts
    void hasPrechart(bool flag) override;
    void procInstanceLine() override;
    void instanceName(const char* name, bool hasArguments) override;
    void instanceNameBegin(const char* name) override;
    void instancNameEnd(const char* name, uint32_t argumentCount) override;
    void procMessage(const char* source, const char* target, int location, bool inPrechart) override;
    void procMessage(int kind) override;
    void procCondition(const std::vector<std::string>& anchors, int location, bool inPrechart,
                       bool isHot) override;
    void procCondition() override;
    void procLscUpdate(const char* anchor, int location, bool inPrechart) override;
    void procLscUpdate() override;

    // Instantiation, system line and priorities
    void instantiationBegin(const char* name, uint32_t parameterCount, const char* templateName) override;
    void instantiationEnd(const char* name, uint32_t parameterCount, const char* templateName,
                          uint32_t argumentCount) override;
    void process(const char* name) override;
    void incProcPriority() override;
    void procPriority(const char* name) override;
    void beginChanPriority() override;
    void addChanPriority(char separator) override;
    void defaultChanPriority() override;

    // IO declarations and Gantt charts
    void exprSync(int kind) override;
    void declIO(const char* name, uint32_t parameterCount, uint32_t syncCount) override;
    void ganttDeclStart(const char* name) override;
    void ganttDeclSelect(const char* name) override;
    void ganttDeclEnd() override;
    void ganttStart() override;
    void ganttEntrySelect(const char* name) override;
    void ganttEntryEnd() override;

protected:
    // The declarations of the open template, else the global ones.
    declarations_t& currentDeclarations();
    // The open template; throws Bug outside of one (a producer out of order).
    template_t& openTemplate();
    // Declares a select variable (of an edge or a Gantt chart) over the top type.
    void declareSelect(const char* name, scope_t target);
    // Pops `argumentCount` fragments and returns them, deepest first.
    std::vector<expression_t> popArguments(uint32_t argumentCount);
    // Pops the arguments of an instantiation of `symbol` (isTemplate: it names a
    // template) and returns them when their number is that of its parameters;
    // reports a wrong number.
    std::optional<std::vector<expression_t>> popInstanceArguments(bool isTemplate, const binding_t& symbol,
                                                                  uint32_t argumentCount);
    // Pushes a sub-scope of the innermost scope that takes over the parameters
    // declared so far (those of an instantiation's header).
    void pushParameterFrame();
    // Adds to `instance` the read closures of the arguments bound to restricted
    // parameters of `base`.
    void restrictArguments(const instance_t& base, instance_t& instance,
                           const std::vector<expression_t>& arguments);
    // Pops the scopes above `frame` and then `frame` itself; only the top scope when
    // `frame` is not on the stack.
    void popFramesThrough(const scope_t& frame);

    int priorityLevel = 0;
    edge_t* currentEdge = nullptr;
    gantt_t* currentGantt = nullptr;   // owned until ganttDeclEnd
    condition_t* currentCondition = nullptr;
    update_t* currentUpdate = nullptr;
    message_t* currentMessage = nullptr;
    instance_line_t* currentInstanceLine = nullptr;
    iodecl_t* currentIODecl = nullptr;
    // The select scope pushed by the last procEdgeBegin, for procEdgeEnd.
    scope_t edgeFrame;

private:
    // Marks the location `name` with `prefix` (urgent or committed), unless it already
    // has the `exclusive` one.
    void markLocation(const char* name, node_kind_t prefix, node_kind_t exclusive);

    // The templates whose declarations hold a template being built (only a declaration
    // text of an XML template can do that), with their scopes, to go on with after it.
    struct EnclosingTemplate
    {
        template_t* templ;
        std::deque<scope_t> frames;
    };
    std::vector<EnclosingTemplate> enclosingTemplates;
};

} // namespace ZOLT
