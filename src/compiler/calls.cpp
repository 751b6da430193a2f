// Calls of user functions, quantifiers and sums over constant ranges, and the constructs
// over dynamically spawned processes.

#include <limits>

#include "compiler/compiler.h"
#include "compiler/depth_guard.h"
#include "compiler/rewriting.h"
#include "runtime/exceptions.h"
#include "runtime/system.h"

using namespace ZOLT;
namespace op = bytecode;

namespace {

constexpr int32_t minInt = std::numeric_limits<int32_t>::min();
constexpr int32_t maxInt = std::numeric_limits<int32_t>::max();

bool integral(const expression_t& e)
{
    return e.getType().isIntegral();
}

bool isFloatingBody(const expression_t& e)
{
    const type_t type = e.getType();
    if (type.isKind(DOUBLE) || type.isKind(DIFF)) {
        return true;
    }
    return type.isKind(CLOCK) && e.getSize() >= 2 && e.getKind() != ARRAY && e.getKind() != DOT;
}

// Whether some array of the type has bounds given by a parameter of the template: its processes
// then lay the type out differently.
bool sizedByParameters(const type_t& type, const scope_t& parameters)
{
    auto mentionsParameter = [&](const expression_t& bound) {
        return anySubexpression(bound, [&](const expression_t& x) {
            return x.getKind() == IDENTIFIER && parameters.indexOf(x.getSymbol()) >= 0;
        });
    };
    if (type.isKind(ARRAY)) {
        const auto [lower, upper] = type.getIndexType().getRangeBounds();
        return mentionsParameter(lower) || mentionsParameter(upper) ||
               sizedByParameters(type.getQualifiedChild(), parameters);
    }
    if (type.isKind(RECORD)) {
        for (size_t i = 0; i < type.getFieldCount(); ++i) {
            if (sizedByParameters(type.getQualifiedChild(i), parameters)) {
                return true;
            }
        }
    }
    return false;
}

} // namespace

// ---------------------------------------------------------------- user functions

Symbol* Compiler::compileCall(const expression_t& e)
{
    const span_t position = e.getPosition();
    Symbol* function = compileReference(e[0]);
    Symbol* result = function->firstChild.get();
    if (result == nullptr) {
        throw Bug("Expression does not evaluate to a reference");
    }
    const bool returnsValue = !result->type.isKind(VOID_TYPE);
    const int32_t slot = static_cast<int32_t>(nextVariableIndex(dynamicInstantiation));
    if (returnsValue) {
        layoutFunctionVariable("return ", result, dynamicInstantiation);
        emit(position, op::COPY);
        emit(position, op::PUSH, 1);
        emit(position, op::PLUS);
        emit(position, op::PUSH, slot);
        emit(position, op::STORE);
        emit(position, op::POP);
    }

    // Every argument is evaluated, left to right, before any parameter cell is written.
    std::vector<Symbol*> parameters;
    std::vector<Symbol*> arguments;
    Symbol* parameter = result->next.get();
    for (size_t i = 1; i < e.getSize(); ++i) {
        if (parameter == nullptr) {
            throw Bug("More arguments than parameters in " + e.toString());
        }
        compileReference(e[0]);
        emit(position, op::PUSH, static_cast<int32_t>(parameter->offset));
        emit(position, op::PLUS);
        // An integer given for a floating-point parameter, by value or by constant reference,
        // is passed as the double it stands for.
        Symbol* argument = nullptr;
        if (parameter->type.isKind(DOUBLE) && integral(e[i])) {
            compileDouble(e[i], true);
        } else {
            argument = compileExpression(e[i]);
        }
        if (returnsValue) {
            // A call of the same function inside the argument has moved the result slot.
            compileReference(e[0]);
            emit(position, op::PUSH, 1);
            emit(position, op::PLUS);
            emit(position, op::PUSH, slot);
            emit(position, op::STORE);
            emit(position, op::POP);
        }
        if (argument == nullptr && parameter->type.isKind(BOOL) && !e[i].getType().isKind(BOOL)) {
            emit(position, op::NOT);
            emit(position, op::NOT);
        }
        parameters.push_back(parameter);
        arguments.push_back(argument);
        parameter = parameter->next.get();
    }

    // The parameter cells are written from the last argument to the first.
    for (size_t i = parameters.size(); i-- > 0;) {
        Symbol* p = parameters[i];
        const bool isDouble = p->type.isKind(DOUBLE);
        if (p->isReference && arguments[i] == nullptr) {
            // A value passed by reference lives in a temporary of its own.
            const int32_t temporary = static_cast<int32_t>(nextVariableIndex(false));
            if (isDouble) {
                system->addSystemMetaFPVariable("", false, 0.0);
                emit(position, op::PUSH, temporary);
                emit(position, op::DOUBLE_STORE);
                emit(position, op::STORE);
            } else {
                system->addSystemMetaVariable("", minInt, maxInt, 0, false);
                emit(position, op::PUSH, temporary);
                emit(position, op::SWAP);
                emit(position, op::STORE);
                emit(position, op::STORE);
            }
        } else if (p->isReference) {
            emit(position, op::STORE);
        } else if (arguments[i] != nullptr) {
            emit(position, isDouble ? op::DOUBLE_ASSIGN_N : op::ASSIGN_N, static_cast<int32_t>(p->size));
        } else {
            emit(position, isDouble ? op::DOUBLE_STORE : op::STORE);
        }
        emit(position, op::POP);
    }
    emit(position, op::CALL);
    if (!returnsValue) {
        emit(position, op::PUSH, 0);
        return nullptr;
    }
    emit(position, op::PUSH, slot);
    return result;
}

// ---------------------------------------------------------------- quantifiers over ranges

void Compiler::compileQuantifier(const expression_t& e)
{
    const span_t position = e.getPosition();
    const binding_t bound = e[0].getSymbol();
    const expression_t& body = e[1];
    auto [lower, upper] = evaluateRange(bound.getType());
    const node_kind_t kind = e.getKind();

    if (kind == SUM) {
        if (body.getType().isIntegral()) {
            emit(position, op::PUSH, 0);
        } else {
            emit(position, op::DOUBLE_PUSH, 0, 0);
        }
        for (int64_t m = lower; m <= upper; ++m) {
            const expression_t instance = substituteConstant(body, bound, static_cast<int32_t>(m));
            if (instance.getType().isIntegral()) {
                compileValue(instance);
                emit(position, op::PLUS);
            } else {
                compileDouble(instance, false);
                emit(position, op::DOUBLE_PLUS);
            }
        }
        return;
    }

    const bool forAll = kind == FOR_ALL;
    if (upper < lower) {
        emit(position, op::PUSH, forAll ? 1 : 0);
        return;
    }
    std::vector<uint32_t> early;
    for (int64_t m = lower; m < upper; ++m) {
        compileValue(substituteConstant(body, bound, static_cast<int32_t>(m)));
        if (!forAll) {
            emit(position, op::NOT);
        }
        early.push_back(emitJump(position, op::JMPZ));
    }
    // The last instance decides alone; its value becomes 0 or 1 like the others' verdicts.
    compileValue(substituteConstant(body, bound, upper));
    emit(position, op::NOT);
    emit(position, op::NOT);
    const uint32_t end = emitJump(position, op::JMP);
    for (uint32_t jump : early) {
        patchJump(jump);
    }
    emit(position, op::PUSH, forAll ? 0 : 1);
    patchJump(end);
}

// ---------------------------------------------------------------- dynamic processes

template_t* Compiler::findDynamicTemplate(const expression_t& name, const char* missing)
{
    template_t* templ = model->findDynamicTemplate(name.getSymbol().getName());
    if (templ == nullptr) {
        throw Bug(missing);
    }
    return templ;
}

Symbol* Compiler::compileDynamicMember(const expression_t& e)
{
    // The member of the process bound to a process variable: that process's entry for the access
    // gives the index of the member's first cell in the process, which then stands like any
    // variable reference, so values, doubles, elements, fields and assignments reach the member.
    const span_t position = e.getPosition();
    const std::string name = e[1].getSymbol().getName();
    auto templ = processVariableTemplates.find(name);
    auto variable = processVariables.find(name);
    if (templ == processVariableTemplates.end() || variable == processVariables.end()) {
        throw Bug("No process variable " + e[1].toString());
    }
    std::vector<expression_t>& evaluations = templ->second->dynamicEvaluations;
    evaluations.push_back(e[0]);
    emit(position, op::PUSH, static_cast<int32_t>(evaluations.size() - 1));
    emit(position, op::PUSH, static_cast<int32_t>(variable->second->getIndex()));
    emit(position, op::LOAD);
    emit(position, op::DYNAMIC_EVAL);
    return dynamicMemberLayout(*templ->second, e);
}

Symbol* Compiler::dynamicMemberLayout(const template_t& dynamicTemplate, const expression_t& member)
{
    // Every process of a template lays a member out alike: one layout per template and member
    // serves all of them.
    const std::string memberName = member[0].getSymbol().getName();
    auto known = dynamicMemberLayouts.find({&dynamicTemplate, memberName});
    if (known != dynamicMemberLayouts.end()) {
        return known->second;
    }
    const type_t type = stripReference(member.getType());
    if (!dynamicTemplate.parameters.empty() && sizedByParameters(type, dynamicTemplate.parameters)) {
        throw CompileError("$Array_sizes_of_members_read_from_other_processes_must_not_depend_on_parameters",
                           member.getPosition());
    }
    if (!memberLayoutRoot) {
        memberLayoutRoot = new Symbol();
    }
    Symbol* layout = memberLayoutRoot->declare(memberName, type, nullptr);
    if (layout == nullptr) {
        throw Bug("No layout for " + member.toString());
    }
    computeSize(layout);
    dynamicMemberLayouts.emplace(std::make_pair(&dynamicTemplate, memberName), layout);
    return layout;
}

void Compiler::compileDynamic(const expression_t& e)
{
    const span_t position = e.getPosition();
    const node_kind_t kind = e.getKind();
    switch (kind) {
    case IDENTIFIER: {
        auto it = processVariables.find(e.getSymbol().getName());
        if (it == processVariables.end()) {
            throw Bug("No process variable " + e.toString());
        }
        emit(position, op::PUSH, static_cast<int32_t>(it->second->getIndex()));
        emit(position, op::LOAD);
        return;
    }
    case SPAWN: {
        template_t* templ = findDynamicTemplate(e[0], "t should not be NULL at this time");
        for (size_t i = 1; i < e.getSize(); ++i) {
            const bool byReference = i - 1 < templ->parameters.getSize() &&
                                     templ->parameters[i - 1].getType().isKind(REF);
            if (byReference) {
                compileReference(e[i]);
            } else {
                compileValue(e[i]);
            }
        }
        emit(position, op::PUSH, templ->dynamicIndex);
        emit(position, op::SPAWN);
        return;
    }
    case EXIT:
        if (currentDynamicProcess == nullptr) {
            throw Bug("Attempt to exit statically instantiated component");
        }
        emit(position, op::PUSH, currentDynamicProcess->getNumber());
        emit(position, op::EXIT);
        return;
    case NUMOF: {
        template_t* templ = findDynamicTemplate(e[0], "t should not be NULL at this time");
        emit(position, op::PUSH, templ->dynamicIndex);
        emit(position, op::NUM_OF);
        return;
    }
    default:
        break;
    }

    // Quantifiers and sums over the live processes of a dynamic template.
    const char* names[3][2] = {{"FORALL", "FORALLCOUNTER"}, {"EXISTS", "EXISTSCOUNTER"}, {"SUM", "SUMCOUNTER"}};
    const int which = kind == FORALL_DYNAMIC ? 0 : kind == EXISTS_DYNAMIC ? 1 : 2;
    Variable* process = system->addStateVariable(names[which][0], -1, maxInt, kind == SUM_DYNAMIC ? 1 : -1, false);
    Variable* counter = system->addStateVariable(names[which][1], -1, maxInt, -1, false);
    template_t* templ = findDynamicTemplate(e[1], "temp should not be NULL at this time");
    const std::string bound = e[0].getSymbol().getName();
    processVariables[bound] = process;
    processVariableTemplates[bound] = templ;
    const int32_t processIndex = static_cast<int32_t>(process->getIndex());
    const int32_t counterIndex = static_cast<int32_t>(counter->getIndex());

    emit(position, op::PUSH, counterIndex);
    emit(position, op::PUSH, -1);
    emit(position, op::STORE);
    emit(position, op::POP);

    // The next live process: K := K + 1, V := the K-th live process (-1 when none), and the
    // test whether there was one.
    auto nextProcess = [&] {
        emit(position, op::PUSH, counterIndex);
        emit(position, op::PUSH, 1);
        emit(position, op::INCREMENT);
        emit(position, op::LOAD);
        emit(position, op::PUSH, templ->dynamicIndex);
        emit(position, op::DYN_PROCESS_INDEX);
        emit(position, op::PUSH, processIndex);
        emit(position, op::SWAP);
        emit(position, op::STORE);
        emit(position, op::LOAD);
        emit(position, op::PUSH, -1);
        emit(position, op::EQ);
        emit(position, op::NOT);
    };

    if (kind == SUM_DYNAMIC) {
        const bool floating = isFloatingBody(e[2]);
        if (floating) {
            emit(position, op::DOUBLE_PUSH, 0, 0);
        } else {
            emit(position, op::PUSH, 0);
        }
        const int32_t loop = static_cast<int32_t>(program->mark());
        nextProcess();
        const uint32_t end = emitJump(position, op::JMPZ);
        if (floating) {
            compileDouble(e[2], true);
            emit(position, op::DOUBLE_PLUS);
        } else {
            compileValue(e[2]);
            emit(position, op::PLUS);
        }
        emit(position, op::JMP, loop);
        patchJump(end);
        return;
    }

    const bool forAll = kind == FORALL_DYNAMIC;
    const uint32_t toLoop = emitJump(position, op::JMP);
    const int32_t whenTrue = static_cast<int32_t>(program->mark());
    emit(position, op::PUSH, 1);
    const uint32_t trueToEnd = emitJump(position, op::JMP);
    const int32_t whenFalse = static_cast<int32_t>(program->mark());
    emit(position, op::PUSH, 0);
    const uint32_t falseToEnd = emitJump(position, op::JMP);
    patchJump(toLoop);
    const int32_t loop = static_cast<int32_t>(program->mark());
    nextProcess();
    emit(position, op::JMPZ, forAll ? whenTrue : whenFalse);
    if (compileExpression(e[2]) != nullptr) {
        emit(position, op::LOAD);
    }
    if (forAll) {
        emit(position, op::JMPZ, whenFalse);
    } else {
        emit(position, op::NOT);
        emit(position, op::JMPZ, whenTrue);
    }
    emit(position, op::JMP, loop);
    patchJump(trueToEnd);
    // Both jumps to the end have the same target.
    program->setOperand(falseToEnd + 1, static_cast<int32_t>(program->mark()));
}
