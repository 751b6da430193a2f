#include "frontend/xml_writer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <list>
#include <optional>
#include <set>
#include <stdexcept>
#include <utility>
#include <vector>

#include "frontend/xml_library.h"
#include "language/walk.h"
#include "support/exceptions.h"

namespace ZOLT {

namespace {

const char* const publicId = "-//Mirvek Team//DTD Flat System 1.1//EN";
const char* const systemId = "https://mirvek.org/dtd/flat-1_1.dtd";

const xmlChar* xml(const char* text) { return reinterpret_cast<const xmlChar*>(text); }
const xmlChar* xml(const std::string& text) { return xml(text.c_str()); }

void check(int result, const char* function)
{
    if (result < 0)
        throw std::runtime_error(std::string("Error at ") + function);
}

// The text of a type as written after a select or Gantt variable: the constant
// prefix that every such variable gets is left out (int[0,3], id_t).
std::string selectTypeText(type_t type)
{
    if (type.getKind() == CONSTANT && type.getSize() > 0)
        type = type.getChild(0);
    return type.toDeclaration();
}

// "name : type" for every symbol of a select scope, joined by ", ".
std::string selectText(const scope_t& select)
{
    std::string text;
    for (size_t i = 0; !select.empty() && i < select.getSize(); ++i) {
        binding_t symbol = select[i];
        if (!text.empty())
            text += ", ";
        text += symbol.getName() + " : " + selectTypeText(symbol.getType());
    }
    return text;
}

std::string text(const expression_t& expression) { return expression.empty() ? std::string() : expression.toString(false); }

// A condition without the constant 1 that the type checker puts in front of the
// conjuncts it keeps (1 && a && b): the conjunction of the rest, or the empty
// expression when nothing else is left. Dropping the constant from the tree, rather
// than the text "1 && " from the front of the text, writes (1 && a) && b and
// 1 && (a && b) alike, so that a saved condition reads back to the same text.
expression_t withoutLeadingTrue(const expression_t& e)
{
    if (e.empty())
        return e;
    if (e.getKind() == CONSTANT && e.isTrue())
        return expression_t();
    if (e.getKind() != LOGICAL_AND || e.getSize() != 2)
        return e;
    // The constant stands at the bottom of the left spine of the conjunction.
    std::vector<expression_t> spine;
    expression_t left = e;
    while (!left.empty() && left.getKind() == LOGICAL_AND && left.getSize() == 2) {
        spine.push_back(left);
        left = left[0];
    }
    if (left.empty() || left.getKind() != CONSTANT || !left.isTrue())
        return e;
    expression_t rest = spine.back()[1];
    for (size_t i = spine.size() - 1; i-- > 0;)
        rest = expression_t::createBinary(LOGICAL_AND, rest, spine[i][1], spine[i].getPosition(),
                                          spine[i].getType());
    return rest;
}

// The name of the variable whose rate a location's cost rate gives: the first
// global variable of type cost, "cost" when there is none.
std::string costVariableName(const TimedAutomataSystem& system)
{
    for (const variable_t& variable : system.getGlobals().variables)
        if (variable.symbol.getType().isKind(COST))
            return variable.symbol.getName();
    return "cost";
}

// One declaration of a scope as written back, with the section of the sectioned
// layout (constants, type definitions, dynamic templates, variables, functions) it
// belongs to.
struct declaration_text_t
{
    int section;
    std::string text;
};

enum { constantSection, typedefSection, dynamicSection, variableSection, functionSection };

// The declarations of a scope in the order they were declared: the frame holds the
// symbols of the scope in order of addition, so the records are visited through it.
// Records whose symbol is not in the frame follow at the end in the order of their
// lists, so that nothing is left out. The first variable is left out when asked (the
// reference clock of the globals); dynamic templates are written where they were
// declared.
std::vector<declaration_text_t> declarationsInOrder(const declarations_t& declarations, bool skipFirstVariable,
                                                    const std::vector<template_t*>& dynamics)
{
    std::map<binding_t, const variable_t*> variables;
    std::map<binding_t, const function_t*> functions;
    std::map<binding_t, const template_t*> dynamicTemplates;
    auto variable = declarations.variables.begin();
    if (skipFirstVariable && variable != declarations.variables.end())
        ++variable;
    for (; variable != declarations.variables.end(); ++variable)
        variables.emplace(variable->symbol, &*variable);
    for (const function_t& function : declarations.functions)
        functions.emplace(function.symbol, &function);
    for (const template_t* templ : dynamics)
        dynamicTemplates.emplace(templ->symbol, templ);

    std::vector<declaration_text_t> result;
    auto addVariable = [&](const variable_t& v) {
        result.push_back({v.symbol.getType().getKind() == CONSTANT ? constantSection : variableSection,
                          variableText(v) + ";\n"});
    };
    auto addFunction = [&](const function_t& f) { result.push_back({functionSection, functionText(f) + "\n\n"}); };
    const scope_t& frame = declarations.frame;
    for (size_t i = 0; !frame.empty() && i < frame.getSize(); ++i) {
        binding_t symbol = frame[i];
        if (symbol.getType().getKind() == TYPEDEF) {
            result.push_back({typedefSection, symbol.getType().toDeclaration() + ";\n"});
        } else if (auto v = variables.find(symbol); v != variables.end()) {
            addVariable(*v->second);
            variables.erase(v);
        } else if (auto f = functions.find(symbol); f != functions.end()) {
            addFunction(*f->second);
            functions.erase(f);
        } else if (auto d = dynamicTemplates.find(symbol); d != dynamicTemplates.end()) {
            result.push_back({dynamicSection,
                              "dynamic " + symbol.getName() + "(" + parametersText(*d->second) + ");\n"});
            dynamicTemplates.erase(d);
        }
    }
    for (const variable_t& v : declarations.variables)
        if (variables.count(v.symbol) != 0 && variables.at(v.symbol) == &v)
            addVariable(v);
    for (const function_t& f : declarations.functions)
        if (functions.count(f.symbol) != 0 && functions.at(f.symbol) == &f)
            addFunction(f);
    for (const template_t* templ : dynamics)
        if (dynamicTemplates.count(templ->symbol) != 0)
            result.push_back(
                {dynamicSection, "dynamic " + templ->symbol.getName() + "(" + parametersText(*templ) + ");\n"});
    return result;
}

// The declarations text of a scope that reads back: the sectioned layout (constants,
// type definitions, dynamic templates, variables, functions) when the declarations
// were made in that order, otherwise every declaration in the order it was made, so
// that each one follows what it uses (a constant of a type defined before it, say).
std::string orderedDeclarationsText(const declarations_t& declarations, bool skipFirstVariable,
                                    const std::vector<template_t*>& dynamics)
{
    const std::vector<declaration_text_t> ordered = declarationsInOrder(declarations, skipFirstVariable, dynamics);
    const bool sectioned = std::is_sorted(ordered.begin(), ordered.end(),
                                          [](const auto& a, const auto& b) { return a.section < b.section; });
    if (sectioned) {
        std::string dynamicsText;
        for (const declaration_text_t& d : ordered)
            if (d.section == dynamicSection)
                dynamicsText += d.text;
        return constantsText(declarations) + "\n" + typeDefinitionsText(declarations.frame) + "\n" + dynamicsText
               + variablesText(declarations, skipFirstVariable) + "\n" + functionsText(declarations);
    }
    std::string text;
    for (const declaration_text_t& d : ordered)
        text += d.text;
    return text;
}

// The parameter list of an input/output declaration as it is declared, "(const int
// k, int n)", or nothing when it has none. The parameters are kept as identifiers of
// their symbols; an expression of another kind has no declaration to write and is
// left out, so that the system text still reads back.
std::string ioParametersText(const iodecl_t& io)
{
    std::string text;
    for (const expression_t& parameter : io.parameters) {
        if (parameter.empty() || parameter.getKind() != IDENTIFIER || parameter.getSymbol().empty())
            continue;
        const binding_t symbol = parameter.getSymbol();
        text += (text.empty() ? "" : ", ") + symbol.getType().toDeclaration(symbol.getName());
    }
    return text.empty() ? text : "(" + text + ")";
}

} // namespace

xmlChar* ConvertInput(const char* text, const char* encoding)
{
    if (text == nullptr)
        return nullptr;
    xmlCharEncodingHandlerPtr handler = xmlLibrary().findCharEncodingHandler(encoding);
    if (handler == nullptr) {
        std::printf("ConvertInput: no encoding handler found for '%s'\n", encoding != nullptr ? encoding : "");
        return nullptr;
    }
    const size_t length = std::strlen(text);
    if (length > static_cast<size_t>(INT32_MAX / 2 - 1)) {
        std::printf("ConvertInput: no mem");
        return nullptr;
    }
    int size = static_cast<int>(length) + 1;
    int outSize = size * 2 - 1;
    auto* out = static_cast<xmlChar*>(xmlLibrary().malloc(static_cast<size_t>(outSize)));
    if (out == nullptr) {
        std::printf("ConvertInput: no mem");
        return nullptr;
    }
    int temp = size - 1;
    int result = -1;
    if (handler->input != nullptr)
        result = handler->input(out, &outSize, reinterpret_cast<const unsigned char*>(text), &temp);
    // The conversion into UTF-8 of a UTF-8 text copies its bytes; a text that is no
    // valid UTF-8 would make a document that cannot be read back.
    if (result < 0 || xmlLibrary().checkUTF8(xml(text)) == 0) {
        std::printf("ConvertInput: conversion wasn't successful.");
        xmlLibrary().free(out);
        return nullptr;
    }
    if (temp - size + 1 != 0) {
        std::printf("ConvertInput: conversion wasn't successful. converted: %i octets.\n", temp);
        xmlLibrary().free(out);
        return nullptr;
    }
    auto* trimmed = static_cast<xmlChar*>(xmlLibrary().realloc(out, static_cast<size_t>(outSize) + 1));
    if (trimmed == nullptr) {
        std::printf("ConvertInput: no mem");
        xmlLibrary().free(out);
        return nullptr;
    }
    trimmed[outSize] = 0;
    return trimmed;
}

namespace {

// A template is written with its initial location; a template without one (an empty
// body, say) would make a file that cannot be read back. Such a model is refused
// before the file is created.
void requireInitialLocations(TimedAutomataSystem& system)
{
    auto check = [](const template_t& templ) {
        if (templ.initialLocation.empty())
            throw std::runtime_error("Cannot save the model: template " + templ.symbol.getName()
                                     + " has no initial location");
    };
    for (const template_t& templ : system.getTemplates())
        if (templ.isTimedAutomaton)
            check(templ);
    for (const template_t* templ : system.getDynamicTemplates())
        if (templ->isDefined)
            check(*templ);
}

} // namespace

int writeSystemXml(const char* path, TimedAutomataSystem& system)
{
    requireInitialLocations(system);
    LibraryErrors errors;
    auto failure = [&](const std::string& what) {
        return std::runtime_error(std::string("Cannot write the model to ") + path + ": " +
                                  (errors.first.empty() ? what : errors.first));
    };
    xmlTextWriterPtr writer = xmlLibrary().newTextWriterFilename(path, 0);
    if (writer == nullptr)
        throw failure("Error creating the xml writer");
    try {
        XMLWriter xmlWriter(writer, &system);
        xmlWriter.writeDocument();
    } catch (const std::runtime_error& error) {
        throw failure(error.what());
    }
    return 0;
}

XMLWriter::XMLWriter(xmlTextWriter* writer, TimedAutomataSystem* system) : textWriter(writer), system(system) {}

XMLWriter::~XMLWriter() { xmlLibrary().freeTextWriter(textWriter); }

// ---- wrappers ----------------------------------------------------------------

void XMLWriter::startElement(const char* name)
{
    check(xmlLibrary().textWriterStartElement(textWriter, xml(name)), "xmlTextWriterStartElement");
}

void XMLWriter::endElement() { check(xmlLibrary().textWriterEndElement(textWriter), "xmlTextWriterEndElement"); }

void XMLWriter::writeElement(const char* name, const std::string& text)
{
    check(xmlLibrary().textWriterWriteElement(textWriter, xml(name), xml(text)), "xmlTextWriterWriteElement");
}

void XMLWriter::writeString(const std::string& text)
{
    check(xmlLibrary().textWriterWriteString(textWriter, xml(text)), "xmlTextWriterWriteString");
}

void XMLWriter::writeAttribute(const char* name, const std::string& value)
{
    check(xmlLibrary().textWriterWriteAttribute(textWriter, xml(name), xml(value)), "xmlTextWriterWriteAttribute");
}

void XMLWriter::writeAttribute(const char* name, int64_t value) { writeAttribute(name, std::to_string(value)); }

// ---- document ----------------------------------------------------------------

void XMLWriter::writeDocument()
{
    check(xmlLibrary().textWriterStartDocument(textWriter, nullptr, "utf-8", nullptr), "xmlTextWriterStartDocument");
    xmlLibrary().textWriterSetIndent(textWriter, 1);
    xmlLibrary().textWriterSetIndentString(textWriter, xml("  "));
    xmlLibrary().textWriterWriteDTD(textWriter, xml("nta"), xml(publicId), xml(systemId), nullptr);

    startElement("nta");
    writeElement("declaration", globalDeclarationText());
    // Dynamic templates are declared in the global declarations; their bodies come
    // first, as templates of the same name, since a template that sums or quantifies
    // over the processes of a dynamic template can only be read after its body.
    for (const template_t* templ : system->getDynamicTemplates())
        if (templ->isDefined)
            writeTemplate(*templ);
    for (const template_t& templ : system->getTemplates())
        if (templ.isTimedAutomaton)
            writeTemplate(templ);
    for (const template_t& templ : system->getTemplates())
        if (!templ.isTimedAutomaton)
            writeLsc(templ);
    writeElement("system", systemText());
    writeQueries();
    endElement();
    check(xmlLibrary().textWriterEndDocument(textWriter), "xmlTextWriterEndDocument");
}

// The queries stored with the model, as the reader reads them: one query element
// with its formula and its comment for each, nothing when there are none.
void XMLWriter::writeQueries()
{
    const auto& queries = system->getQueryList().getQueries();
    if (queries.empty())
        return;
    startElement("queries");
    for (const auto& [formula, comment] : queries) {
        startElement("query");
        writeElement("formula", formula);
        writeElement("comment", comment);
        endElement();
    }
    endElement();
}

std::string XMLWriter::globalDeclarationText()
{
    // The declarations with the dynamic template declarations among them; the
    // reference clock is left out.
    std::string text = orderedDeclarationsText(system->getGlobals(), true, system->getDynamicTemplates());
    text += "\n";
    if (!system->getChanPriorities().empty()) {
        text += "// channel priorities\n";
        for (const chan_priority_t& priority : system->getChanPriorities())
            text += chanPriorityText(priority) + ";\n";
    }
    if (!system->getBeforeUpdate().empty())
        text += "before_update { " + system->getBeforeUpdate().toString(false) + " }\n";
    if (!system->getAfterUpdate().empty())
        text += "after_update { " + system->getAfterUpdate().toString(false) + " }\n";
    text += " ";
    return text;
}

// The line of one instantiation. An instantiation of a partial instantiation is
// written on that partial instantiation, which is declared before it, so that it reads
// back with the same parameters and bindings: its parameter list is its own free
// parameters followed by exactly those of its base, and its arguments bind the base's
// free parameters. Any other is written on its template.
std::string XMLWriter::instantiationText(const instance_t& instance, std::list<instance_t>::const_iterator first,
                                         std::list<instance_t>::const_iterator self)
{
    const size_t parameters = instance.parameters.empty() ? 0 : instance.parameters.getSize();
    auto isBase = [&](const instance_t& base) {
        const size_t baseParameters = base.parameters.empty() ? 0 : base.parameters.getSize();
        if (base.freeCount == 0 || base.definingTemplate != instance.definingTemplate
            || instance.freeCount + baseParameters != parameters || base.freeCount != instance.boundCount)
            return false;
        for (size_t i = 0; i < baseParameters; ++i)
            if (!(base.parameters[i] == instance.parameters[instance.freeCount + i]))
                return false;
        for (const auto& [parameter, argument] : base.bindings) {
            auto bound = instance.bindings.find(parameter);
            if (bound == instance.bindings.end() || !(bound->second == argument))
                return false;
        }
        for (size_t i = 0; i < base.freeCount; ++i)
            if (instance.bindings.count(base.parameters[i]) == 0)
                return false;
        return true;
    };
    std::string text = instance.symbol.getName();
    if (instance.freeCount > 0)
        text += "(" + freeParametersText(instance) + ")";
    for (auto it = self; it != first;) {
        const instance_t& base = *--it;
        if (!isBase(base))
            continue;
        std::string arguments;
        for (size_t i = 0; i < base.freeCount; ++i)
            arguments += (i == 0 ? "" : ", ") + instance.bindings.at(base.parameters[i]).toString(false);
        return text + " = " + base.symbol.getName() + "(" + arguments + ");\n";
    }
    const std::string templateName
        = instance.definingTemplate != nullptr ? instance.definingTemplate->symbol.getName() : std::string();
    return text + " = " + templateName + "(" + instanceArgumentsText(instance) + ");\n";
}

std::string XMLWriter::systemText()
{
    std::string lines, names;
    // Every instantiation the model was read with, in the order declared, whether the
    // system line uses it or not; a process made from one is not written again.
    std::set<std::string> written;
    std::map<std::string, const instance_t*> processesByName;
    for (const instance_t& process : system->getProcesses())
        processesByName.emplace(process.symbol.getName(), &process);
    const std::list<instance_t>& instances = system->getInstances();
    for (auto it = instances.begin(); it != instances.end(); ++it) {
        // A process that the scenario translation moved onto a template of its own (a copy
        // of its instantiation's template, with every argument bound) is saved on that
        // template, in place of the instantiation it was made from.
        auto process = processesByName.find(it->symbol.getName());
        if (process != processesByName.end() && process->second->definingTemplate != it->definingTemplate
            && process->second->definingTemplate != nullptr) {
            lines += it->symbol.getName() + " = " + process->second->definingTemplate->symbol.getName() + "("
                     + instanceArgumentsText(*process->second) + ");\n";
        } else {
            lines += instantiationText(*it, instances.begin(), it);
        }
        written.insert(it->symbol.getName());
    }
    int32_t previousLevel = 0;
    for (const instance_t& process : system->getProcesses()) {
        const std::string& name = process.symbol.getName();
        const std::string templateName
            = process.definingTemplate != nullptr ? process.definingTemplate->symbol.getName() : std::string();
        if (name != templateName && written.count(name) == 0) {
            lines += name;
            if (process.freeCount > 0)
                lines += "(" + freeParametersText(process) + ")";
            lines += " = " + templateName + "(" + instanceArgumentsText(process) + ");\n";
        }
        // Each rise of the priority level is a "<" in the system line.
        int32_t level = system->getProcPriority(name);
        if (!names.empty())
            names += level > previousLevel ? " < " : ", ";
        previousLevel = level;
        names += name;
    }
    // Scenario charts are instantiated by name; no process is made of them.
    for (const instance_t& instance : system->getLscInstances()) {
        lines += instance.symbol.getName();
        if (instance.freeCount > 0)
            lines += "(" + freeParametersText(instance) + ")";
        const std::string templateName
            = instance.definingTemplate != nullptr ? instance.definingTemplate->symbol.getName() : std::string();
        lines += " = " + templateName + "(" + instanceArgumentsText(instance) + ");\n";
    }
    std::string text = lines + "system " + names + "; ";

    const declarations_t& globals = system->getGlobals();
    for (const iodecl_t& io : globals.ioDeclarations) {
        std::string channels;
        auto add = [&](const std::list<expression_t>& list, const char* suffix) {
            for (const expression_t& channel : list)
                channels += (channels.empty() ? "" : ", ") + channel.toString(false) + suffix;
        };
        add(io.inputs, "?");
        add(io.outputs, "!");
        add(io.cspChannels, "");
        text += "\nIO " + io.instanceName + ioParametersText(io) + " { " + channels + " }";
    }
    if (!globals.progressMeasures.empty()) {
        text += "\nprogress {\n";
        for (const progress_t& progress : globals.progressMeasures)
            text += "  " + (progress.guard.empty() ? std::string() : progress.guard.toString(false) + " : ")
                    + progress.measure.toString(false) + ";\n";
        text += "}";
    }
    if (!globals.ganttCharts.empty()) {
        text += "\ngantt {\n";
        for (const gantt_t& chart : globals.ganttCharts) {
            text += "  " + chart.name;
            if (!chart.parameters.empty() && chart.parameters.getSize() > 0)
                text += "(" + selectText(chart.parameters) + ")";
            text += " : ";
            bool first = true;
            for (const gantt_entry_t& entry : chart.entries) {
                if (!first)
                    text += ", ";
                first = false;
                if (!entry.select.empty() && entry.select.getSize() > 0)
                    text += "for (" + selectText(entry.select) + ") ";
                text += entry.condition.toString(false) + " -> " + entry.value.toString(false);
            }
            text += ";\n";
        }
        text += "}";
    }
    return text;
}

// ---- templates -----------------------------------------------------------------

std::string XMLWriter::endId(const location_t* location, const branchpoint_t* branchpoint) const
{
    if (location != nullptr)
        return "id" + std::to_string(location->number);
    if (branchpoint != nullptr) {
        auto it = branchpointIds.find(branchpoint->number);
        if (it != branchpointIds.end())
            return it->second;
    }
    throw Bug("Edge without an end");
}

// Locations are drawn at the indices of their numbers, branch points after them.
int64_t XMLWriter::endIndex(const template_t& templ, const location_t* location,
                            const branchpoint_t* branchpoint) const
{
    if (location != nullptr)
        return location->number;
    if (branchpoint != nullptr)
        return static_cast<int64_t>(templ.locations.size()) + branchpoint->number;
    throw Bug("Edge without an end");
}

void XMLWriter::writeTemplate(const template_t& templ)
{
    selfLoops.clear();
    branchpointIds.clear();
    startElement("template");
    writeElement("name", templ.symbol.getName());
    writeElement("parameter", parametersText(templ));
    writeElement("declaration", orderedDeclarationsText(templ.declarations, false, {}));
    for (const location_t& location : templ.locations) {
        writeLocation(templ, location);
        selfLoops[location.number] = 0;
    }

    // A branch point is read back named "_" and its id: its id is taken from its
    // name where that gives an id no other element of the template has.
    std::set<std::string> used;
    for (const location_t& location : templ.locations)
        used.insert("id" + std::to_string(location.number));
    for (const branchpoint_t& branchpoint : templ.branchpoints) {
        const std::string& name = branchpoint.symbol.getName();
        std::string id = name.size() > 1 && name[0] == '_' ? name.substr(1) : std::string();
        for (int suffix = 0; id.empty() || used.count(id) != 0; ++suffix)
            id = "bp" + std::to_string(branchpoint.number) + (suffix > 0 ? "_" + std::to_string(suffix) : "");
        used.insert(id);
        branchpointIds[branchpoint.number] = id;
        int64_t index = endIndex(templ, nullptr, &branchpoint);
        startElement("branchpoint");
        writeAttribute("id", id);
        writeAttribute("x", 120 * index);
        writeAttribute("y", 120 * index);
        endElement();
        selfLoops[index] = 0;
    }

    for (const location_t& location : templ.locations)
        if (!templ.initialLocation.empty() && location.symbol == templ.initialLocation) {
            writeReference("init", "ref", "id" + std::to_string(location.number));
            break;
        }
    for (const edge_t& edge : templ.edges)
        writeTransition(templ, edge);
    endElement();
}

void XMLWriter::writeLocation(const template_t& templ, const location_t& location)
{
    (void)templ;
    const int64_t n = location.number;
    const std::string& name = location.symbol.getName();
    startElement("location");
    writeAttribute("id", "id" + std::to_string(n));
    writeAttribute("x", 120 * n);
    writeAttribute("y", 120 * n);
    if (name == "Err")
        writeAttribute("color", "#ff6666");
    startElement("name");
    writeAttribute("x", 120 * n + 8);
    writeAttribute("y", 120 * n + 8);
    writeString(name);
    endElement();

    // The type checker takes the cost rate out of the invariant; it is put back as
    // the rate of the cost variable.
    std::string invariant = text(withoutLeadingTrue(location.invariant));
    if (!location.costRate.empty()) {
        std::string rate = costVariableName(*system) + "' == " + location.costRate.toString(false);
        invariant = invariant.empty() || invariant == "1" ? rate : invariant + " && " + rate;
    }
    if (!invariant.empty())
        writeLabel("invariant", invariant, 120 * n + 8, 120 * n + 24);
    if (!location.exponentialRate.empty())
        writeLabel("exponentialrate", location.exponentialRate.toString(false), 120 * n + 8, 120 * n + 40, false);

    type_t type = location.symbol.getType();
    if (type.getKind() == COMMITTED) {
        startElement("committed");
        endElement();
    } else if (type.getKind() == URGENT) {
        startElement("urgent");
        endElement();
    }
    endElement();
}

void XMLWriter::writeTransition(const template_t& templ, const edge_t& edge)
{
    const int64_t a = endIndex(templ, edge.sourceLocation, edge.sourceBranchpoint);
    const int64_t b = endIndex(templ, edge.targetLocation, edge.targetBranchpoint);
    startElement("transition");
    if (edge.controllable == 0)
        writeAttribute("controllable", "false");
    if (edge.actionName != "SKIP")
        writeAttribute("action", edge.actionName);
    writeReference("source", "ref", endId(edge.sourceLocation, edge.sourceBranchpoint));
    writeReference("target", "ref", endId(edge.targetLocation, edge.targetBranchpoint));

    auto labels = [&](int64_t x, int64_t y) {
        std::string select = selectText(edge.select);
        if (!select.empty())
            writeLabel("select", select, x, y - 32);
        writeLabel("guard", text(withoutLeadingTrue(edge.guard)), x, y - 16);
        writeLabel("synchronisation", text(edge.sync), x, y);
        writeLabel("assignment", text(edge.update), x, y + 16);
        writeLabel("probability", text(edge.probability), x, y + 32);
    };
    if (a != b) {
        labels(120 * a, 120 * b);
        writeNail(120 * a, 120 * b);
    } else {
        // Self loops of one location fan out at angles 0.3927 apart.
        const int k = selfLoops[a];
        const bool lpmin = edge.sourceLocation != nullptr && edge.sourceLocation->symbol.getName() == "lpmin";
        const double theta0 = lpmin ? 3.1416 : 4.7124;
        const float theta1 = static_cast<float>(theta0 + 0.3927 * k + 0.1);
        const float theta2 = static_cast<float>(0.3927 + static_cast<double>(theta1) - 0.1);
        const float thetaM = 0.5f * (theta1 + theta2);
        const int64_t c = 120 * a;
        auto at = [c](double radius, float angle, double (*f)(double)) {
            return c + static_cast<int64_t>(radius * f(static_cast<double>(angle)));
        };
        labels(at(90, thetaM, std::cos), at(90, thetaM, std::sin));
        writeNail(at(80, theta1, std::cos), at(80, theta1, std::sin));
        writeNail(at(80, theta2, std::cos), at(80, theta2, std::sin));
        selfLoops[a] = k + 1;
    }
    endElement();
}

// A label of a kind; the trivial texts "1" and "1 && " at the front are left out
// where they stand for "no condition".
void XMLWriter::writeLabel(const char* kind, const std::string& labelText, int64_t x, int64_t y, bool omitTrivial)
{
    std::string text = labelText;
    if (text.empty())
        return;
    if (omitTrivial) {
        if (text == "1")
            return;
        if (text.rfind("1 && ", 0) == 0)
            text.erase(0, 5);
    }
    writeLabelElement(kind, text, std::pair{x, y});
}

// A label element with the text converted to UTF-8, placed at a position when one is
// given; a text that cannot be converted is left out.
void XMLWriter::writeLabelElement(const char* kind, const std::string& text,
                                  std::optional<std::pair<int64_t, int64_t>> position)
{
    xmlChar* converted = ConvertInput(text.c_str(), "utf-8");
    if (converted == nullptr)
        return;
    std::string utf8(reinterpret_cast<const char*>(converted));
    xmlLibrary().free(converted);
    startElement("label");
    writeAttribute("kind", kind);
    if (position) {
        writeAttribute("x", position->first);
        writeAttribute("y", position->second);
    }
    writeString(utf8);
    endElement();
}

// An empty element that refers to another by one attribute (source, target, anchor, init).
void XMLWriter::writeReference(const char* element, const char* attribute, const std::string& id)
{
    startElement(element);
    writeAttribute(attribute, id);
    endElement();
}

void XMLWriter::writeNail(int64_t x, int64_t y)
{
    startElement("nail");
    writeAttribute("x", x);
    writeAttribute("y", y);
    endElement();
}

// ---- scenario charts -------------------------------------------------------------

void XMLWriter::writeLscLabel(const char* kind, const expression_t& label)
{
    if (label.empty())
        return;
    // A message label is kept as a synchronisation; its text is the channel's.
    expression_t shown = label.getKind() == SYNC && label.getSize() > 0 ? label[0] : label;
    writeLabelElement(kind, shown.toString(false), std::nullopt);
}

void XMLWriter::writeLsc(const template_t& chart)
{
    startElement("lsc");
    writeElement("name", chart.symbol.getName());
    writeElement("parameter", parametersText(chart));
    if (!chart.lscType.empty())
        writeElement("type", chart.lscType);
    if (!chart.lscMode.empty())
        writeElement("mode", chart.lscMode);
    writeElement("declaration", orderedDeclarationsText(chart.declarations, false, {}));
    for (const instance_line_t& line : chart.instanceLines) {
        startElement("instance");
        writeAttribute("id", "i" + std::to_string(line.number));
        writeElement("name", line.symbol.getName());
        endElement();
    }
    auto ref = [](const instance_line_t* line) { return "i" + std::to_string(line != nullptr ? line->number : -1); };

    // The reader tells prechart parts by their position above the prechart's end:
    // the end goes just below the lowest part of the prechart.
    if (chart.hasPrechart) {
        int32_t end = 0;
        for (const message_t& m : chart.messages)
            if (m.inPrechart)
                end = std::max(end, m.location + 1);
        for (const condition_t& c : chart.conditions)
            if (c.inPrechart)
                end = std::max(end, c.location + 1);
        for (const update_t& u : chart.updates)
            if (u.inPrechart)
                end = std::max(end, u.location + 1);
        startElement("prechart");
        writeElement("lsclocation", std::to_string(end));
        endElement();
    }
    for (const message_t& m : chart.messages) {
        startElement("message");
        writeReference("source", "ref", ref(m.source));
        writeReference("target", "ref", ref(m.target));
        writeElement("lsclocation", std::to_string(m.location));
        writeLscLabel("message", m.label);
        endElement();
    }
    for (const condition_t& c : chart.conditions) {
        startElement("condition");
        for (const instance_line_t* anchor : c.anchors)
            writeReference("anchor", "instanceid", ref(anchor));
        writeElement("lsclocation", std::to_string(c.location));
        writeElement("temperature", c.isHot ? "hot" : "cold");
        writeLscLabel("condition", c.label);
        endElement();
    }
    for (const update_t& u : chart.updates) {
        startElement("update");
        writeReference("anchor", "instanceid", ref(u.anchor));
        writeElement("lsclocation", std::to_string(u.location));
        writeLscLabel("update", u.label);
        endElement();
    }
    endElement();
}

} // namespace ZOLT
