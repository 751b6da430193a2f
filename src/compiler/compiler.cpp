#include "compiler/compiler.h"

#include <cstdlib>
#include <functional>
#include <iostream>
#include <limits>
#include <set>
#include <vector>

#include "compiler/depth_guard.h"
#include "runtime/exceptions.h"
#include "runtime/system.h"
#include "typecheck/relations.h"

using namespace ZOLT;

// ---------------------------------------------------------------- process-wide state

CompilerSwitches& compilerSwitches()
{
    static CompilerSwitches switches{std::getenv("MIRVEK_DEBUG_VM") != nullptr,
                                     std::getenv("MIRVEK_COMPILE_ONLY") != nullptr,
                                     std::getenv("MIRVEK_FORCE_FULL_PRIORITY_ORDER") != nullptr};
    return switches;
}

namespace {

// The switches are taken from the environment before the command line is read.
const bool switchesRead = (compilerSwitches(), true);

} // namespace

CompilerDumpBuffers& compilerDumpBuffers()
{
    static CompilerDumpBuffers buffers;
    return buffers;
}

void clearCompilerDumpBuffers()
{
    CompilerDumpBuffers& buffers = compilerDumpBuffers();
    buffers.locations.str("");
    buffers.edges.str("");
    buffers.expressions.str("");
    buffers.initialLocations.clear();
}

void writeCompiledModelDump(const System& system, const Program& program, std::ostream& out)
{
    const CompilerDumpBuffers& buffers = compilerDumpBuffers();
    out << "layout\n"
        << "#index:const:value\n"
        << "#index:clock:nr:name\n"
        << "#index:var:min:max:init:nr:name\n"
        << "#index:meta:min:max:init:nr:name\n"
        << "#index:cost\n"
        << "#index:location:flags:name\n"
        << "#index:meta:min:max:name\n";
    system.printLayout(out);
    out << "\n";
    out << "instructions\n"
        << "#address: opcode\n";
    program.disassemble(out);
    out << "\n";
    out << "processes\n"
        << "#index:initial:name\n";
    const auto& processes = system.getProcesses();
    for (size_t j = 0; j < processes.size(); ++j) {
        out << j << ":";
        if (j < buffers.initialLocations.size()) {
            out << buffers.initialLocations[j];
        }
        out << ":" << processes[j]->getName() << "\n";
    }
    out << "\n";
    out << "locations\n"
        << "#index:process:invariant\n"
        << buffers.locations.str() << "\n";
    out << "edges\n"
        << "#process:source:target:guard:sync:update\n"
        << buffers.edges.str() << "\n";
    out << "expressions\n"
        << "#address:reads:writes:text\n"
        << buffers.expressions.str();
    out.flush();
}

// ---------------------------------------------------------------- life cycle

Compiler::Compiler(TimedAutomataSystem* model) : scalarsetInfo(this), model(model)
{
    (void)switchesRead;
}

Compiler::~Compiler()
{
    rootSymbol.release();
    currentSymbol = nullptr;
    processVariables.clear();
    processVariableTemplates.clear();
    intInitialValues.clear();
    doubleInitialValues.clear();
    analyser.release();
    if (program) {
        // The Program may outlive its compiler (expressions keep it): it must not call back.
        program->setSpawner(nullptr);
    }
    program.release();
    system.release();
}

void Compiler::setCurrentSymbol(Symbol* symbol)
{
    currentSymbol = symbol;
    if (analyser) {
        analyser->setCurrentSymbol(symbol);
    }
}

uint32_t Compiler::nextVariableIndex(bool extra) const
{
    // The System places a variable in the main or the extra table itself; either way it gets
    // the next global index.
    (void)extra;
    return static_cast<uint32_t>(system->nextVariableIndex());
}

void Compiler::emit(span_t position, int32_t opcode, int32_t a, int32_t b)
{
    program->emit(position, opcode, a, b);
}

uint32_t Compiler::emitJump(span_t position, int32_t opcode)
{
    const uint32_t jump = program->mark();
    program->emit(position, opcode, 0);
    return jump;
}

void Compiler::patchJump(uint32_t jump)
{
    program->setOperand(jump + 1, static_cast<int32_t>(program->mark()));
}

// ---------------------------------------------------------------- the whole model

base::RefPtr<System> Compiler::compileSystem()
{
    try {
        runCompileSteps();
    } catch (const CannotEvaluateExpression& error) {
        throw CompileError(error.what(), error.getPosition());
    }
    return system;
}

void Compiler::runCompileSteps()
{
    // 1 to 4: the run-time model, its program, the analyser and the root of the symbol tree.
    system = new System();
    program = new Program(system.get());
    program->setSpawner(this);
    analyser = new ExpressionAnalyser(this);
    rootSymbol = new Symbol();
    setCurrentSymbol(rootSymbol.get());

    // 5: the dynamic templates, each with an empty list of expressions.
    const std::vector<template_t*>& dynamicTemplates = model->getDynamicTemplates();
    system->dynamicTemplates = dynamicTemplates;
    for (size_t i = 0; i < dynamicTemplates.size(); ++i) {
        system->dynamicTemplateExpressions.emplace_back();
    }

    // 6 and 7: the global declarations and their layout.
    currentSymbol->declareScope(model->getGlobals().frame);
    bool sharedState = false;
    for (Symbol* child = currentSymbol->firstChild.get(); child != nullptr; child = child->next.get()) {
        computeSize(child);
        computeInitialValues(child, false);
        sharedState = declareVariable(nullptr, "", child, false) || sharedState;
    }

    // 8: the number of locations, reserved before any process is made. Counted in 64 bits
    // and held at the limit once past it, so that no product wraps below the limit.
    constexpr uint64_t limit = 16777216;
    uint64_t estimate = 0;
    for (instance_t& process : model->getProcesses()) {
        Symbol* node = currentSymbol->find(process.symbol);
        if (node == nullptr || process.definingTemplate == nullptr) {
            continue;
        }
        uint64_t factor = 1;
        Symbol* chain = node;
        for (uint64_t i = 0; i < process.freeCount && chain != nullptr; ++i) {
            const uint64_t values = static_cast<uint64_t>(int64_t(chain->upper) - int64_t(chain->lower) + 1);
            factor = std::min(factor * values, limit + 1);
            chain = chain->firstChild.get();
        }
        estimate = std::min(estimate + factor * process.definingTemplate->locations.size(), limit + 1);
    }
    system->reserveLocationTable(estimate);

    // 9: the processes, in the model's order.
    for (instance_t& process : model->getProcesses()) {
        Symbol* node = currentSymbol->find(process.symbol);
        if (node == nullptr) {
            continue;
        }
        std::string name = node->name;
        std::vector<int32_t> arguments;
        instantiateProcess(name, node, arguments, false);
    }

    // 10 to 15: declarations that refer to the processes, and the update hooks.
    compileIODeclarations(model->getGlobals().ioDeclarations);
    system->syncMode = model->syncMode;
    compileProgressMeasures(model->getGlobals().progressMeasures);
    compileGanttCharts(model->getGlobals().ganttCharts);
    const expression_t before = model->getBeforeUpdate();
    if (!before.empty()) {
        system->addPreUpdate(makeProgramExpression(before));
    }
    const expression_t after = model->getAfterUpdate();
    if (!after.empty()) {
        system->addPostUpdate(makeProgramExpression(after));
    }
    if (model->hasPriorities()) {
        compileChannelPriorities();
    }

    // 16: the model's flags.
    system->sharedState = sharedState;
    system->hasStopWatches = model->hasStopWatches();
    system->broadcastClockGuards = model->clockGuardOnBroadcastReceive;
    system->hasStrictInvariants = model->hasStrictInvariants();
    system->hasStrictLowerBoundOnControllableEdges = model->hasStrictLowerBoundOnControllableEdges();
    system->urgentClockGuards = model->clockGuardOnUrgentEdge;

    // 17: what the switches ask to see.
    writeOutputs();
}

void Compiler::writeOutputs()
{
    const CompilerSwitches& switches = compilerSwitches();
    if (switches.debugVm) {
        std::string indentation;
        currentSymbol->print(indentation, std::cout);
        system->printLayout(std::cout);
        std::cout << "\n";
        program->disassemble(std::cout);
        std::cout << "\n";
        std::cout.flush();
    } else if (switches.compileOnly) {
        writeCompiledModelDump(*system, *program, std::cout);
        std::cout.flush();
        std::exit(0);
    }
}

// ---------------------------------------------------------------- questions after compiling

namespace {

// Finds, depth first and left to right, the first node of an expression that a test accepts,
// looking also into the bodies of the functions the expression calls, each once, in the
// function's own scope: a function reads and writes the model's variables (and those passed to
// it by reference) just as the expression that calls it. A call whose body holds a match
// stands for it, so the answer always lies in the searched expression.
class ExpressionSearch
{
public:
    // The test gets the node, the analyser of the node's scope and the node of the function
    // being searched (null outside functions).
    using Test = std::function<bool(const expression_t&, ExpressionAnalyser&, Symbol*)>;

    ExpressionSearch(Compiler* compiler, const Test& test) : compiler(compiler), test(test) {}

    expression_t find(const expression_t& expression, ExpressionAnalyser& analyser)
    {
        return find(expression, analyser, nullptr);
    }

private:
    expression_t find(const expression_t& expression, ExpressionAnalyser& analyser, Symbol* function)
    {
        std::vector<expression_t> work{expression};
        while (!work.empty()) {
            expression_t x = std::move(work.back());
            work.pop_back();
            if (x.empty()) {
                continue;
            }
            if (test(x, analyser, function)) {
                return x;
            }
            if (x.getKind() == FUNCTION_CALL && searchFunction(x[0], analyser)) {
                return x;
            }
            for (size_t i = x.getSize(); i-- > 0;) {
                work.push_back(x[i]);
            }
        }
        return expression_t();
    }

    // Whether the body of the called function holds a match.
    bool searchFunction(const expression_t& callee, ExpressionAnalyser& analyser)
    {
        Symbol* function = analyser.resolveSymbol(callee);
        while (function != nullptr && function->isReference) {
            function = function->firstChild.get();
        }
        if (function == nullptr || !function->type.isKind(FUNCTION) || function->data == nullptr) {
            return false;
        }
        const auto* record = static_cast<const function_t*>(function->data);
        if (record->body == nullptr || !searched.insert(record).second) {
            return false;
        }
        base::RefPtr<ExpressionAnalyser> inner(new ExpressionAnalyser(compiler));
        inner->setCurrentSymbol(function);
        Body body(*this, *inner, function);
        record->body->accept(&body);
        return body.found;
    }

    // Hands the expressions of a function body to the search.
    class Body : public ZOLT::ExpressionVisitor
    {
    public:
        Body(ExpressionSearch& search, ExpressionAnalyser& analyser, Symbol* function)
            : search(search), analyser(analyser), function(function)
        {}

        void visitExpression(expression_t expression) override
        {
            if (!found && !search.find(expression, analyser, function).empty()) {
                found = true;
            }
        }

        bool found = false;

    private:
        ExpressionSearch& search;
        ExpressionAnalyser& analyser;
        Symbol* function;
    };

    Compiler* compiler;
    Test test;
    std::set<const void*> searched;
};

// An assignment that may give a clock a value other than 0: a double, or an integer whose range
// reaches above 0. Assigning another clock copies it and gives no new value.
bool assignsClockNonZero(const expression_t& x, ExpressionAnalyser& analyser, Symbol*)
{
    if (x.getKind() != ASSIGN || !x[0].getType().isKind(CLOCK)) {
        return false;
    }
    const type_t source = x[1].getType();
    if (source.isKind(DOUBLE)) {
        return true;
    }
    if (designatesClock(x[1])) {
        return false;
    }
    if (source.isKind(CLOCK)) {
        // A clock shifted by a number.
        return true;
    }
    try {
        return analyser.getRange(x[1]).upper > 0;
    } catch (const UndefinedRangeException&) {
        // A value without a range may be anything.
        return true;
    }
}

} // namespace

bool Compiler::clockAssignmentTest(const expression_t& expression)
{
    return !ExpressionSearch(this, assignsClockNonZero).find(expression, *analyser).empty();
}

expression_t Compiler::findFloatingPointRead(const expression_t& expression)
{
    // A floating-point variable that is not a constant, read where it designates a value; inside
    // a function, one that is not the function's own parameter or local.
    auto reads = [](const expression_t& x, ExpressionAnalyser& analyser, Symbol* function) {
        const node_kind_t kind = x.getKind();
        if (kind != IDENTIFIER && kind != ARRAY && kind != DOT && kind != DYNAMIC_MEMBER) {
            return false;
        }
        const type_t type = x.getType();
        if (!type.isKind(DOUBLE) || type.isKind(CONSTANT)) {
            return false;
        }
        if (function != nullptr) {
            for (Symbol* node = analyser.resolveSymbol(x); node != nullptr; node = node->parent) {
                if (node == function) {
                    return false;
                }
            }
        }
        return true;
    };
    return ExpressionSearch(this, reads).find(expression, *analyser);
}

bool Compiler::inProcessScopes(const std::function<bool(template_t&)>& visit)
{
    if (!rootSymbol) {
        return false;
    }
    for (instance_t& process : model->getProcesses()) {
        Symbol* node = currentSymbol->find(process.symbol);
        if (node == nullptr || process.definingTemplate == nullptr) {
            continue;
        }
        Symbol* saved = currentSymbol;
        setCurrentSymbol(node);
        bool found = false;
        try {
            found = visit(*process.definingTemplate);
        } catch (...) {
            setCurrentSymbol(saved);
            throw;
        }
        setCurrentSymbol(node->parent != nullptr ? node->parent : saved);
        if (found) {
            return true;
        }
    }
    return false;
}

bool Compiler::hasNonZeroClockAssignment()
{
    if (!rootSymbol) {
        return false;
    }
    const bool inEdges = inProcessScopes([this](template_t& templ) {
        for (const edge_t& edge : templ.edges) {
            if (clockAssignmentTest(edge.update)) {
                return true;
            }
        }
        return false;
    });
    // The update hooks of the system run with every transition.
    return inEdges || clockAssignmentTest(model->getBeforeUpdate()) || clockAssignmentTest(model->getAfterUpdate());
}

expression_t Compiler::findFloatingPointInvariant()
{
    expression_t found;
    inProcessScopes([&](template_t& templ) {
        for (const location_t& location : templ.locations) {
            found = findFloatingPointRead(location.invariant);
            if (!found.empty()) {
                return true;
            }
        }
        return false;
    });
    return found;
}
