#pragma once

#include <string>

#include "language/system.h"

namespace ZOLT {

// A visitor of the whole parsed model; visitSystem hands it every part in a fixed order.
// Records are passed by reference and may be changed by the visitor. Every default does
// nothing; enterTemplate returns true, and a visitor that returns false skips the parts
// of that template.
class SystemVisitor
{
public:
    virtual ~SystemVisitor() = default;
    virtual void enterSystem(TimedAutomataSystem& system);
    virtual void leaveSystem(TimedAutomataSystem& system);
    virtual void visitVariable(variable_t& variable);
    virtual bool enterTemplate(template_t& templ);
    virtual void leaveTemplate(template_t& templ);
    virtual void visitLocation(location_t& location);
    virtual void visitEdge(edge_t& edge);
    virtual void visitInstance(instance_t& instance);
    virtual void visitProcess(instance_t& process);
    virtual void visitFunction(function_t& function);
    virtual void visitTypeDef(binding_t symbol);
    virtual void visitIODecl(iodecl_t& decl);
    virtual void visitProgressMeasure(progress_t& progress);
    virtual void visitGanttChart(gantt_t& chart);
    virtual void visitInstanceLine(instance_line_t& line);
    virtual void visitMessage(message_t& message);
    virtual void visitCondition(condition_t& condition);
    virtual void visitUpdate(update_t& update);

    // Hands every symbol of the frame, in order, to the visit for its kind: type
    // definitions to visitTypeDef; symbols with a record whose type, arrays removed, is
    // int, double, bool, clock, channel, scalar or a record to visitVariable; locations,
    // functions and instance lines to their visits. Parameters (which have no record),
    // branchpoints, templates and processes are not visited here.
    void visitDeclarations(scope_t frame);
};

// Walks the model: enterSystem; the global declarations; each template, then each
// dynamic template (its declarations, edges, messages, updates and conditions, between
// enterTemplate and leaveTemplate); every global symbol of process type (visitProcess)
// or instance type (visitInstance, templates included), in declaration order; the global
// input/output declarations, progress measures and Gantt charts; leaveSystem.
void visitSystem(TimedAutomataSystem& system, SystemVisitor& visitor);

// The declarations in the model language: constants, type definitions, variables and
// functions, each section followed by a line break. skipFirstVariable leaves out the
// first variable (the reference clock of the global declarations).
std::string declarationsText(const declarations_t& declarations, bool skipFirstVariable);
std::string constantsText(const declarations_t& declarations);
std::string typeDefinitionsText(const scope_t& frame);
std::string variablesText(const declarations_t& declarations, bool skipFirstVariable);
std::string functionsText(const declarations_t& declarations);

// One variable declaration without terminator, e.g. "int[0,5] a[3] = {1, 2, 3}".
std::string variableText(const variable_t& variable);
// One function definition: result type, name, parameters, then the body in braces.
std::string functionText(const function_t& function);
// The parameter list of a template as declared, joined by ", ".
std::string parametersText(const template_t& templ);
// The parameters an instantiation leaves free (the first freeCount of the instance's
// parameters) as declared, joined by ", "; the whole list for a template.
std::string freeParametersText(const instance_t& instance);
// The arguments bound to an instance's parameters, in parameter order, joined by ", ".
std::string instanceArgumentsText(const instance_t& instance);
// One channel priority declaration, e.g. "chan priority a, b < c" (no terminator).
std::string chanPriorityText(const chan_priority_t& priority);

} // namespace ZOLT
