#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "compiler/analyser.h"
#include "compiler/scalarset_info.h"
#include "compiler/symbol.h"
#include "language/expression.h"
#include "language/statement.h"
#include "language/system.h"
#include "runtime/expression.h"
#include "runtime/program.h"
#include "support/object.h"

class Edge;
class Location;
class MitlExpr;
class Process;
class System;
class Variable;

// The compiler's switches, taken from the environment once at start-up; each acts by
// being defined, whatever its value. Tests may change them through the returned record.
struct CompilerSwitches
{
    bool debugVm = false;                  // MIRVEK_DEBUG_VM
    bool compileOnly = false;              // MIRVEK_COMPILE_ONLY
    bool forceFullPriorityOrder = false;   // MIRVEK_FORCE_FULL_PRIORITY_ORDER
};
CompilerSwitches& compilerSwitches();

// What the compiled-model dump prints besides the layout and the byte code, collected while
// the model is compiled under the compile-only switch.
struct CompilerDumpBuffers
{
    std::ostringstream locations;
    std::ostringstream edges;
    std::ostringstream expressions;
    std::vector<int32_t> initialLocations;
};
CompilerDumpBuffers& compilerDumpBuffers();
void clearCompilerDumpBuffers();

// Writes the compiled-model dump: the sections "layout", "instructions", "processes",
// "locations", "edges" and "expressions", the last one without a final end of line.
void writeCompiledModelDump(const System& system, const Program& program, std::ostream& out);

// A pending initial value of the declaration being laid out, with the position of the
// expression it came from.
struct initial_value_t
{
    int32_t value;
    ZOLT::span_t position;
};

struct double_initial_value_t
{
    double value;
    ZOLT::span_t position;
};

// Turns a type-checked model into the run-time System and the byte code of its Program,
// and later compiles query formulas and evaluates constants over the same layout.
class Compiler : public base::Object,
                 public ZOLT::StatementVisitor,
                 public ConstantEvaluator,
                 public ProcessSpawner
{
public:
    explicit Compiler(ZOLT::TimedAutomataSystem* model);
    Compiler(const Compiler&) = delete;
    Compiler& operator=(const Compiler&) = delete;
    ~Compiler() override;

    // Compiles the whole model. Under the compile-only switch (and without the debug
    // switch) it writes the compiled-model dump and ends the process with status 0.
    base::RefPtr<System> compileSystem();

    void setCurrentSymbol(Symbol* symbol);
    Symbol* getCurrentSymbol() const { return currentSymbol; }
    Symbol* getRootSymbol() const { return rootSymbol.get(); }

    // Whether some edge update may give a clock a value other than 0.
    bool hasNonZeroClockAssignment();
    // The first part of the expression (a call of a function that does it standing for the
    // function) that reads a floating-point variable other than a constant; empty when none does.
    ZOLT::expression_t findFloatingPointRead(const ZOLT::expression_t& expression);
    // The first part of a location invariant of the model's processes that reads a
    // floating-point variable other than a constant; empty when none does. (A guard that uses
    // floating-point values makes the model one that symbolic checks refuse altogether.)
    ZOLT::expression_t findFloatingPointInvariant();
    ScalarsetInfo* getScalarsetInfo() { return &scalarsetInfo; }
    bool hasScalarsets() const { return !scalarsetInfo.empty(); }

    ZOLT::TimedAutomataSystem* getModel() const { return model; }
    base::RefPtr<Program> getProgram() const { return program; }
    System* getSystem() const { return system.get(); }
    ExpressionAnalyser* getAnalyser() const { return analyser.get(); }

    // ----- Initial values and value lists
    void computeInitialValues(Symbol* symbol, bool extra);
    bool evaluateToValueLists(const ZOLT::expression_t& expression, std::vector<int32_t>& integers,
                              std::vector<double>& doubles, bool referenceMode);
    // The same, with the initialiser flattened along the declared type (a floating-point leaf
    // yields a double also when it is written as an integer).
    bool evaluateToValueLists(const ZOLT::expression_t& expression, std::vector<int32_t>& integers,
                              std::vector<double>& doubles, bool referenceMode, const ZOLT::type_t& declared);
    initial_value_t nextIntInitialValue();
    double_initial_value_t nextDoubleInitialValue();

    // ----- Layout
    void computeSize(Symbol* node);
    bool declareVariable(Process* process, const std::string& prefix, Symbol* node, bool extra);
    void layoutFunctionVariable(const std::string& prefix, Symbol* node, bool extra);
    ZOLT::expression_t defaultInitialiser(Symbol* node);

    // ----- Expressions to byte code
    // Leaves the value of the expression on the stacks (null) or the address of the
    // designated variable (its layout node).
    Symbol* compileExpression(const ZOLT::expression_t& expression);
    void compileValue(const ZOLT::expression_t& expression);
    // Drops what compiling the expression left (its layout, or null for a value): the
    // address or value on the integer stack, or a floating-point value on the double stack.
    void discardValue(const ZOLT::expression_t& expression, Symbol* layout);
    Symbol* compileReference(const ZOLT::expression_t& expression);
    void compileDouble(const ZOLT::expression_t& expression, bool allowInteger);
    // Leaves the left operand of a numeric binary node on the double stack.
    void compileLeftDouble(const ZOLT::expression_t& expression);
    void compileBinaryOperator(const ZOLT::expression_t& expression, int32_t integerInstruction,
                               int32_t doubleInstruction, int32_t followInstruction);

    // ----- Compile-time evaluation and clock constraints
    int32_t evaluateConstant(const ZOLT::expression_t& expression) override;
    void emitClockConstraint(const ZOLT::expression_t& first, const ZOLT::expression_t& second, bool negateBound,
                             const ZOLT::expression_t& bound, bool strict);

    // ----- Functions and statements
    void compileFunction(Symbol* function, bool extra);
    void initialiseLocal(Symbol* node, const ZOLT::expression_t& initialiser);
    // Leaves every cell of the initialiser of a double or an array of doubles on the double stack.
    void compileDoubleCells(const ZOLT::expression_t& initialiser);
    int32_t visitEmptyStatement(ZOLT::EmptyStatement* stat) override;
    int32_t visitExprStatement(ZOLT::ExprStatement* stat) override;
    int32_t visitAssertStatement(ZOLT::AssertStatement* stat) override;
    int32_t visitForStatement(ZOLT::ForStatement* stat) override;
    int32_t visitIterationStatement(ZOLT::IterationStatement* stat) override;
    int32_t visitWhileStatement(ZOLT::WhileStatement* stat) override;
    int32_t visitDoWhileStatement(ZOLT::DoWhileStatement* stat) override;
    int32_t visitBlockStatement(ZOLT::BlockStatement* stat) override;
    int32_t visitSwitchStatement(ZOLT::SwitchStatement* stat) override;
    int32_t visitCaseStatement(ZOLT::CaseStatement* stat) override;
    int32_t visitDefaultStatement(ZOLT::DefaultStatement* stat) override;
    int32_t visitIfStatement(ZOLT::IfStatement* stat) override;
    int32_t visitBreakStatement(ZOLT::BreakStatement* stat) override;
    int32_t visitContinueStatement(ZOLT::ContinueStatement* stat) override;
    int32_t visitReturnStatement(ZOLT::ReturnStatement* stat) override;

    // ----- Run-time expressions
    ExpressionRef makeProgramExpression(const ZOLT::expression_t& expression);
    ExpressionRef makeConstantExpression(int32_t value);
    Variable* getVariable(uint32_t index) const;
    std::pair<Variable*, System*> getVariableEntry(uint32_t index) const;
    void collectVariableValues(const std::set<uint32_t>& indices, std::set<uint32_t>& values) const;
    ExpressionRef compileStateFormula(const ZOLT::expression_t& formula, const ExpressionRef& deadlock);
    ExpressionRef compileValueExpression(const ZOLT::expression_t& expression, bool asDouble);
    // The same; with doublesOn, an integer value that computes with floating-point values does so
    // also on a symbolic state, where runs start with floating-point instructions switched off.
    ExpressionRef compileValueExpression(const ZOLT::expression_t& expression, bool asDouble, bool doublesOn);
    ExpressionRef compileClockSup(const ZOLT::expression_t& clock);
    ExpressionRef compileClockInf(const ZOLT::expression_t& clock);
    ExpressionRef compileClockConstraint(const ZOLT::expression_t& comparison);

    // ----- Locations, edges and processes
    void declareLocation(Symbol* location, bool dynamic, Process* process);
    base::RefPtr<Edge> compileEdge(Process* process, const ZOLT::edge_t& edge);
    base::RefPtr<Edge> compileBranchEdge(Process* process, const ZOLT::edge_t& first, const ZOLT::edge_t& branch);
    base::RefPtr<Process> instantiateProcess(std::string& name, Symbol* node, std::vector<int32_t>& arguments,
                                             bool dynamic);
    std::vector<ZOLT::edge_t> expandSelect(const ZOLT::edge_t& edge);

    // ----- Declarations compiled after the processes. Each is a step of compileSystem.
    void compileIODeclarations(std::list<ZOLT::iodecl_t>& declarations);
    void compileProgressMeasures(std::list<ZOLT::progress_t>& measures);
    void compileGanttCharts(std::list<ZOLT::gantt_t>& charts);
    void compileChannelPriorities();
    // Adds the numbers of one priority entry (a channel, an array of channels, or the default
    // entry when empty, number 0) to the group and marks them mentioned.
    void addPriorityEntry(const ZOLT::expression_t& entry, std::vector<int32_t>& group,
                          std::vector<bool>& mentioned);
    // Adds the numbers of a channel (or, for an array type, of every element in row order) from
    // `first` on; returns the number after the last one added.
    int32_t addChannelNumbers(int32_t first, const ZOLT::type_t& type, std::vector<int32_t>& group,
                              std::vector<bool>& mentioned);

    // ----- MITL formulas of statistical queries (the child of the MITL_FORMULA node)
    base::RefPtr<MitlExpr> compileMitlFormula(const ZOLT::expression_t& formula);

    // ----- Processes of dynamic templates, made while a simulation runs
    // Starts an instance of a dynamic template in the state: a process of the template that
    // has ended is reused, else a new one is compiled and the state grows to hold it.
    void spawnProcess(int32_t templateNumber, const std::vector<int32_t>& arguments, ConcreteState* state) override;
    // Compiles a new process of the dynamic template with those argument values and registers
    // it in the System's table of dynamic processes.
    base::RefPtr<Process> instantiateDynamicProcess(ZOLT::template_t& dynamicTemplate,
                                                    const std::vector<int32_t>& arguments);

private:
    using IndexSet = std::set<uint32_t>;

    void runCompileSteps();
    void emit(ZOLT::span_t position, int32_t opcode, int32_t a = 0, int32_t b = 0);
    uint32_t emitJump(ZOLT::span_t position, int32_t opcode);
    void patchJump(uint32_t jump);
    // The index the next variable of the System gets, extra or not (System::nextVariableIndex).
    uint32_t nextVariableIndex(bool extra) const;

    void compileInitialiser(const ZOLT::expression_t& expression, const ZOLT::type_t& declared);
    void checkListCount(const ZOLT::expression_t& list);
    void declareBitArray(Process* process, const std::string& full, Symbol* node, bool extra);
    Symbol* compileNode(const ZOLT::expression_t& expression);
    Symbol* compileChain(const ZOLT::expression_t& expression);
    Symbol* compileCommaList(const ZOLT::expression_t& expression);
    Symbol* compileOperandHead(const ZOLT::expression_t& node);
    void compileChainStep(const ZOLT::expression_t& node, Symbol* leftLayout);
    void compileClockComparison(const ZOLT::expression_t& expression);
    Symbol* compileAssignment(const ZOLT::expression_t& expression);
    Symbol* compileInlineIf(const ZOLT::expression_t& expression);
    Symbol* compileCall(const ZOLT::expression_t& expression);
    void compileQuantifier(const ZOLT::expression_t& expression);
    void compileDynamic(const ZOLT::expression_t& expression);
    // A member of a dynamically spawned process, read through a process variable: leaves the
    // index of its first cell in that process and returns the member's layout.
    Symbol* compileDynamicMember(const ZOLT::expression_t& expression);
    Symbol* dynamicMemberLayout(const ZOLT::template_t& dynamicTemplate, const ZOLT::expression_t& member);
    ZOLT::template_t* findDynamicTemplate(const ZOLT::expression_t& name, const char* missing);
    std::pair<int32_t, int32_t> evaluateRange(const ZOLT::type_t& type);

    ExpressionRef compileFormulaNode(const ZOLT::expression_t& formula, const ExpressionRef& deadlock);
    ExpressionRef compileClockBound(const ZOLT::expression_t& comparison);
    ExpressionRef compileRateEquation(const ZOLT::expression_t& comparison);
    ExpressionRef compileClockBoundary(const ZOLT::expression_t& clock, bool infimum);
    // Adds the state variable of a quantifier or sum over dynamic processes and ties its bound
    // name to it and to the template.
    std::pair<Variable*, ZOLT::template_t*> bindProcessVariable(const ZOLT::expression_t& expression, const char* name);

    void dumpExpression(uint32_t start, const IndexSet& reads, const IndexSet& writes,
                        const ZOLT::expression_t& expression);
    bool clockAssignmentTest(const ZOLT::expression_t& expression);
    // Calls visit with the template of each process of the model, in order, in the process's
    // scope, until it answers true; the scope is left again in every case. Answers whether
    // some call answered true.
    bool inProcessScopes(const std::function<bool(ZOLT::template_t&)>& visit);
    void writeOutputs();
    // The channel numbers a channel expression stands for (every element of an array).
    std::vector<int32_t> channelNumbers(const ZOLT::expression_t& channel);
    // Calls visit(symbols, values) once per combination of the values of the scope's symbols,
    // the first symbol turning fastest; not at all when a range is empty.
    template <class Visit>
    void forEachValue(const ZOLT::scope_t& scope, Visit visit);
    // Refuses a spawn argument outside the declared range of its parameter, at that range.
    void checkSpawnArguments(const ZOLT::template_t& dynamicTemplate, const std::vector<int32_t>& arguments);
    // Gives every spawned process the member expressions its template gained since it was made.
    void compileMissingDynamicEvaluations();
    // Compiles the member expressions of the template that the spawned process has no copy of
    // yet (all of them for a new process; those added by later queries for a pooled one).
    void compileDynamicEvaluations(Process& process, ZOLT::template_t& dynamicTemplate);

    bool dynamicInstantiation = false;
    ScalarsetInfo scalarsetInfo;
    ZOLT::TimedAutomataSystem* model;
    base::RefPtr<System> system;
    base::RefPtr<Program> program;
    base::RefPtr<ExpressionAnalyser> analyser;
    Symbol* currentSymbol = nullptr;
    base::RefPtr<Symbol> rootSymbol;
    std::vector<initial_value_t> intInitialValues;
    std::vector<double_initial_value_t> doubleInitialValues;
    Location* currentLocation = nullptr;
    size_t intCursor = 0;
    size_t doubleCursor = 0;
    std::map<std::string, Variable*> processVariables;
    std::map<std::string, ZOLT::template_t*> processVariableTemplates;
    Process* currentDynamicProcess = nullptr;
    // The declared range of each parameter of a dynamic template, evaluated at its first spawn.
    std::map<const ZOLT::template_t*, std::vector<std::pair<int32_t, int32_t>>> spawnParameterRanges;
    // The total size of the dynamic templates' member-expression lists when every spawned
    // process last had an entry for each.
    size_t dynamicEvaluationsCompiled = 0;
    // The symbol node of each spawned process, in whose scope its member expressions compile.
    std::map<const Process*, Symbol*> spawnedNodes;
    // The layouts of members of dynamic templates read through process variables, by template
    // and member name, held under a node of their own.
    base::RefPtr<Symbol> memberLayoutRoot;
    std::map<std::pair<const ZOLT::template_t*, std::string>, Symbol*> dynamicMemberLayouts;
    // Nesting of the recursive walks over expressions (see depth_guard.h).
    uint32_t depth = 0;
};
