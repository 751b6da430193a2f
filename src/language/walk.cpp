#include "language/walk.h"

#include "language/statement.h"

namespace ZOLT {

// --- Default visits ----------------------------------------------------------------

void SystemVisitor::enterSystem(TimedAutomataSystem&) {}
void SystemVisitor::leaveSystem(TimedAutomataSystem&) {}
void SystemVisitor::visitVariable(variable_t&) {}
bool SystemVisitor::enterTemplate(template_t&) { return true; }
void SystemVisitor::leaveTemplate(template_t&) {}
void SystemVisitor::visitLocation(location_t&) {}
void SystemVisitor::visitEdge(edge_t&) {}
void SystemVisitor::visitInstance(instance_t&) {}
void SystemVisitor::visitProcess(instance_t&) {}
void SystemVisitor::visitFunction(function_t&) {}
void SystemVisitor::visitTypeDef(binding_t) {}
void SystemVisitor::visitIODecl(iodecl_t&) {}
void SystemVisitor::visitProgressMeasure(progress_t&) {}
void SystemVisitor::visitGanttChart(gantt_t&) {}
void SystemVisitor::visitInstanceLine(instance_line_t&) {}
void SystemVisitor::visitMessage(message_t&) {}
void SystemVisitor::visitCondition(condition_t&) {}
void SystemVisitor::visitUpdate(update_t&) {}

// --- The walk ----------------------------------------------------------------------

namespace {

size_t sizeOf(const scope_t& scope) { return scope.empty() ? 0 : scope.getSize(); }

bool isVariableType(const type_t& t)
{
    return t.isKind(INT) || t.isKind(DOUBLE) || t.isKind(BOOL) || t.isKind(CLOCK) ||
           t.isKind(CHANNEL) || t.isKind(SCALAR) || t.getKind() == RECORD;
}

void walkTemplate(template_t& t, SystemVisitor& visitor)
{
    if (!visitor.enterTemplate(t)) {
        return;
    }
    visitor.visitDeclarations(t.declarations.frame);
    for (edge_t& edge : t.edges) {
        visitor.visitEdge(edge);
    }
    for (message_t& message : t.messages) {
        visitor.visitMessage(message);
    }
    for (update_t& update : t.updates) {
        visitor.visitUpdate(update);
    }
    for (condition_t& condition : t.conditions) {
        visitor.visitCondition(condition);
    }
    visitor.leaveTemplate(t);
}

} // namespace

void SystemVisitor::visitDeclarations(scope_t frame)
{
    // By index, so that a visitor may add symbols to the frame while it is walked.
    for (size_t i = 0; i < sizeOf(frame); ++i) {
        binding_t symbol = frame[i];
        type_t type = symbol.getType();
        if (type.getKind() == TYPEDEF) {
            visitTypeDef(symbol);
            continue;
        }
        void* record = symbol.getData();
        if (record == nullptr) {
            continue;   // parameters and other symbols without a record
        }
        type_t element = type.unwrapArrays();
        if (isVariableType(element)) {
            visitVariable(*static_cast<variable_t*>(record));
        } else if (element.isKind(LOCATION)) {
            visitLocation(*static_cast<location_t*>(record));
        } else if (element.isKind(FUNCTION)) {
            visitFunction(*static_cast<function_t*>(record));
        } else if (element.isKind(INSTANCE_LINE)) {
            visitInstanceLine(*static_cast<instance_line_t*>(record));
        }
    }
}

void visitSystem(TimedAutomataSystem& system, SystemVisitor& visitor)
{
    visitor.enterSystem(system);
    declarations_t& globals = system.getGlobals();
    visitor.visitDeclarations(globals.frame);
    for (template_t& t : system.getTemplates()) {
        walkTemplate(t, visitor);
    }
    for (template_t* t : system.getDynamicTemplates()) {
        walkTemplate(*t, visitor);
    }
    scope_t frame = globals.frame;
    for (size_t i = 0; i < sizeOf(frame); ++i) {
        binding_t symbol = frame[i];
        void* record = symbol.getData();
        if (record == nullptr) {
            continue;
        }
        type_t type = symbol.getType().unwrapArrays();
        if (type.isKind(PROCESS) || type.isKind(PROCESS_SET)) {
            visitor.visitProcess(*static_cast<instance_t*>(record));
        } else if (type.isKind(INSTANCE) || type.isKind(LSC_INSTANCE)) {
            visitor.visitInstance(*static_cast<instance_t*>(record));
        }
    }
    for (iodecl_t& decl : globals.ioDeclarations) {
        visitor.visitIODecl(decl);
    }
    for (progress_t& progress : globals.progressMeasures) {
        visitor.visitProgressMeasure(progress);
    }
    for (gantt_t& chart : globals.ganttCharts) {
        visitor.visitGanttChart(chart);
    }
    visitor.leaveSystem(system);
}

// --- Model text --------------------------------------------------------------------

namespace {

bool isConstantDeclaration(const variable_t& variable)
{
    return variable.symbol.getType().getKind() == CONSTANT;
}

// An initialiser as a declaration writes it: a list of elements (of an array or a
// record, possibly nested) in braces, any other expression as its text. A record
// initialiser's type is a record of the field names it was written with; the names
// are written back, because fields are matched by name, not by position.
std::string initialiserText(const expression_t& initialiser)
{
    if (initialiser.empty() || initialiser.getKind() != LIST) {
        return initialiser.toString(false);
    }
    const type_t type = initialiser.getType();
    const size_t named = type.isKind(RECORD) ? type.getFieldCount() : 0;
    std::string text = "{";
    for (size_t i = 0; i < initialiser.getSize(); ++i) {
        if (i > 0) {
            text += ", ";
        }
        if (i < named && !type.getFieldName(i).empty()) {
            text += type.getFieldName(i) + ": ";
        }
        text += initialiserText(initialiser[i]);
    }
    return text + "}";
}

// A channel of a priority group; the empty channel stands for the default group.
std::string priorityChannelText(const expression_t& channel)
{
    std::string text = channel.toString(false);
    return text.empty() ? std::string("default") : text;
}

// Drops a trailing ", " left by a joined list.
void dropSeparator(std::string& text)
{
    if (text.size() >= 2 && text.compare(text.size() - 2, 2, ", ") == 0) {
        text.erase(text.size() - 2);
    }
}

} // namespace

std::string declarationsText(const declarations_t& declarations, bool skipFirstVariable)
{
    return constantsText(declarations) + "\n" + typeDefinitionsText(declarations.frame) + "\n" +
           variablesText(declarations, skipFirstVariable) + "\n" + functionsText(declarations);
}

std::string constantsText(const declarations_t& declarations)
{
    if (declarations.variables.empty()) {
        return {};
    }
    std::string text = "// constants\n";
    for (const variable_t& variable : declarations.variables) {
        if (isConstantDeclaration(variable)) {
            text += variableText(variable) + ";\n";
        }
    }
    return text;
}

std::string typeDefinitionsText(const scope_t& frame)
{
    std::string text;
    for (size_t i = 0; i < sizeOf(frame); ++i) {
        type_t type = frame[i].getType();
        if (type.getKind() == TYPEDEF) {
            if (text.empty()) {
                text = "// type definitions\n";
            }
            text += type.toDeclaration() + ";\n";
        }
    }
    return text;
}

std::string variablesText(const declarations_t& declarations, bool skipFirstVariable)
{
    auto it = declarations.variables.begin();
    if (skipFirstVariable && it != declarations.variables.end()) {
        ++it;
    }
    if (it == declarations.variables.end()) {
        return {};
    }
    std::string text = "// variables\n";
    for (; it != declarations.variables.end(); ++it) {
        if (!isConstantDeclaration(*it)) {
            text += variableText(*it) + ";\n";
        }
    }
    return text;
}

std::string functionsText(const declarations_t& declarations)
{
    if (declarations.functions.empty()) {
        return {};
    }
    std::string text = "// functions\n";
    for (const function_t& function : declarations.functions) {
        text += functionText(function) + "\n\n";
    }
    return text;
}

std::string variableText(const variable_t& variable)
{
    // The name goes between the element type and the sizes: int[0,5] a[2][3].
    std::string text = variable.symbol.getType().toDeclaration(variable.symbol.getName());
    if (!variable.initialiser.empty()) {
        text += " = " + initialiserText(variable.initialiser);
    }
    return text;
}

std::string functionText(const function_t& function)
{
    const std::string indent = "    ";
    type_t type = function.symbol.getType();
    std::string text = (type.getSize() > 0 ? type.getChild(0).toDeclaration() : std::string("void")) +
                       " " + function.symbol.getName() + "(";
    std::string parameters;
    for (size_t i = 1; i < type.getSize(); ++i) {
        if (!type.getLabel(i).empty()) {
            parameters += type.getChild(i).toDeclaration(type.getLabel(i)) + ", ";
        }
    }
    dropSeparator(parameters);
    text += parameters + ")\n{\n";
    if (function.body != nullptr) {
        // The body declares every local in the block that holds it (the loop variable of
        // a ranged loop in the loop's head), so that initialisers run where they were
        // written.
        text += function.body->toString(indent);
    } else {
        for (const variable_t& local : function.localVariables) {
            text += indent + variableText(local) + ";\n";
        }
    }
    text += "}";
    return text;
}

namespace {

// The first count parameters of the scope as declared, joined by ", ".
std::string parameterListText(const scope_t& parameters, size_t count)
{
    std::string text;
    for (size_t i = 0; i < count && i < sizeOf(parameters); ++i) {
        binding_t parameter = parameters[i];
        text += parameter.getType().toDeclaration(parameter.getName()) + ", ";
    }
    dropSeparator(text);
    return text;
}

} // namespace

std::string parametersText(const template_t& templ)
{
    return parameterListText(templ.parameters, sizeOf(templ.parameters));
}

std::string freeParametersText(const instance_t& instance)
{
    return parameterListText(instance.parameters, instance.freeCount);
}

std::string instanceArgumentsText(const instance_t& instance)
{
    std::string text;
    for (size_t i = 0; i < sizeOf(instance.parameters); ++i) {
        auto it = instance.bindings.find(instance.parameters[i]);
        if (it != instance.bindings.end()) {
            text += it->second.toString(false) + ", ";
        }
    }
    dropSeparator(text);
    return text;
}

std::string chanPriorityText(const chan_priority_t& priority)
{
    std::string text = "chan priority " + priorityChannelText(priority.head);
    for (const chan_priority_t::entry_t& entry : priority.entries) {
        if (entry.separator == '<') {
            text += " ";
        }
        text += static_cast<char>(entry.separator);
        text += " ";
        text += priorityChannelText(entry.channel);
    }
    return text;
}

} // namespace ZOLT
