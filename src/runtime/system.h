#pragma once

// The compiled network of timed automata on which exploration, simulation and query evaluation
// run. The model compiler creates one and fills it through the adders; afterwards it is read-only
// but for the free-state pool, the statistics counters, the clocks-stopped flag, the special
// clocks the checkers add and remove around a query, and the tables that grow when processes are
// spawned during simulation.
//
// Variable indices: every variable gets the number of variables added before it as its global
// index. It goes to the main table while the extra table (variables of dynamic templates) is
// empty; once the extra table holds a variable, every later one goes there too, whatever its
// kind, and its integer or double cell goes to the extra region of its array (meta cells have no
// extra region). So an index or a cell handed out once never changes, also when a later query
// or check adds variables after processes were spawned. The index lists (state, printable,
// floating-point) still take such a variable by what it is: one not of a dynamic template is
// in the main lists, so initial states set it and states print it. Every two-part table (processes,
// variables, clocks) is indexed the same way: the static part first, then the dynamic or extra
// part. Clock number c of a static clock is its position in the static clock table (the
// reference clock is 0); an extra clock's number is the static table's size plus its position
// in the extra table, which is why no static clock may be added once extra clocks exist.

#include <cstdint>
#include <iosfwd>
#include <string>
#include <utility>
#include <vector>

#include "dbm/fed.h"
#include "language/expression.h"
#include "runtime/edge.h"
#include "runtime/expression.h"
#include "runtime/location.h"
#include "runtime/process.h"
#include "runtime/variable.h"
#include "runtime/visitors.h"
#include "support/object.h"

namespace ZOLT {
struct template_t;
}

class SymbolicState;
class ConcreteState;
class DiscreteState;

class System : public base::Object, public ModelElement
{
public:
    using ExpressionPair = std::pair<ExpressionRef, ExpressionRef>;

    // A compiled Gantt chart: its name, its index and its (condition, value) entries.
    struct GanttChart
    {
        std::string name;
        int32_t index;
        std::vector<ExpressionPair> entries;
    };

    // Takes, returns and makes of the free-state pool since construction; a test (or a debug
    // check) shows that no state leaks when taken - returned is back where it started.
    struct PoolCounters
    {
        uint64_t taken = 0;
        uint64_t returned = 0;
        uint64_t created = 0;
    };

    System();
    ~System() override;

    // Hands every static process to the visitor, then visits the System.
    void accept(ModelVisitor& visitor) override;

    // ---- Flags --------------------------------------------------------------------------------
    // Updates of one transition read the values from before the transition (set from the
    // options before each query).
    bool modest = false;
    // The model declares channel or process priorities.
    bool hasPriorities = false;
    // The global declarations declare a clock other than the reference clock or a non-constant
    // integer or bool variable (the global state variable flag).
    bool sharedState = false;
    // Synchronisation mode: 0 none, 1 input/output, 2 CSP, -1 mixed.
    int32_t syncMode = 0;
    // Some invariant gives a clock a rate.
    bool hasStopWatches = false;
    // Some edge synchronising on an urgent channel has a clock guard.
    bool urgentClockGuards = false;
    // Some edge receiving on a broadcast channel has a clock guard.
    bool broadcastClockGuards = false;
    bool hasStrictInvariants = false;
    bool hasStrictLowerBoundOnControllableEdges = false;
    // Floating-point functions or arithmetic were compiled (the compiler's floating-point mark;
    // the model checker clears it before compiling simulated values and reads it afterwards).
    bool floatingPoint = false;
    // The values of a simulate query use floating point.
    bool floatingPointSimulation = false;
    // Some update assigns one clock to another (an integer assignment to a clock-like variable
    // compiled into byte code).
    bool hasClockCopies = false;
    // A location invariant uses floating point or declares a non-constant clock rate (floating
    // point in clock constraints).
    bool floatingPointInvariants = false;
    // An edge guard uses floating point or a clock starts at a non-zero value (the floating-clock
    // flag: the system cannot be checked symbolically).
    bool floatingPointClocks = false;
    // Set by the property preparation when the property's expressions use floating-point functions.
    bool floatingPointProperty = false;
    // A delay stopped some clock (the zone delay over-approximated).
    bool clocksStopped = false;
    // The closed channel-priority relation orders every two channels of different levels.
    bool priorityOrderTotal = false;

    // ---- Adders -----------------------------------------------------------------------------
    // Gives the variable its global index (also put in its read set), marks it extra (it
    // belongs to a dynamic template), and appends it to the main table, or to the extra table
    // when it is extra or that table is not empty; the table takes a counted reference.
    // Returns it. The other adders place variables and cells by the same rule.
    Variable* addVariable(Variable* variable, bool extra);
    // The global index the next added variable gets (the number of variables).
    uint64_t nextVariableIndex() const { return variables.size() + extraVariables.size(); }
    ConstantVariable* addConstant(int32_t value, bool extra);
    ConstantFPVariable* addConstantFP(bool extra, double value);
    LocationVariable* addLocationVariable(int32_t processNumber, Location* location, bool extra);
    SystemMetaFPVariable* addSystemMetaFPVariable(const std::string& name, bool extra, double initialValue);
    SystemMetaVariable* addSystemMetaVariable(const std::string& name, int32_t lower, int32_t upper,
                                              int32_t initialValue, bool extra);
    StateMetaVariable* addStateMetaVariable(const std::string& name, int32_t lower, int32_t upper,
                                            int32_t initialValue);
    StateVariable* addStateVariable(const std::string& name, int32_t lower, int32_t upper, int32_t initialValue,
                                    bool extra);
    FPVariable* addFPVariable(const std::string& name, bool extra, double initialValue);
    // A static clock takes the next static clock number; Bug when extra clocks exist, whose
    // numbers it would move.
    ClockVariable* addClock(const std::string& name, bool extra, double initialValue);
    // Numbers the process (static: its position; dynamic: static count + dynamic position),
    // appends it and adds the constant variable holding its number, which is returned.
    ConstantVariable* addProcess(const base::RefPtr<Process>& process, bool dynamic);
    // Declarations of type cost have no run-time variable: null.
    Variable* addCost();
    // Expressions run before / after the edge updates of every transition, in the order added.
    void addPreUpdate(const ExpressionRef& expression);
    void addPostUpdate(const ExpressionRef& expression);
    // Erases the variables from that global index to the end of its table; Bug for an index
    // in the main table while the extra table is not empty (every extra index would move).
    void truncateVariables(uint64_t index);

    // One packed bit variable per element of a bool array, named "<name>[<index>]", 32 elements
    // to an integer slot; returned in element order.
    std::vector<StateBitVariable*> addBitArray(const std::string& name, int32_t firstIndex,
                                               const std::vector<bool>& bits, bool extra = false);
    std::vector<SystemMetaVariable*> addSystemMetaBitArray(const std::string& name, int32_t firstIndex,
                                                           const std::vector<bool>& bits);
    std::vector<StateMetaBitVariable*> addStateMetaBitArray(const std::string& name, int32_t firstIndex,
                                                            const std::vector<bool>& bits);

    // ---- Special clocks and variables ---------------------------------------------------------
    // Adds "#time" as the last static clock (flushing the pool first), or keeps the existing one;
    // Bug "Add: #time is not the last variable!" when it is the last clock but not the last
    // variable while the extra table is empty. The statistical checker adds it before the first
    // spawn: once extra clocks exist, a new static clock is refused (see addClock).
    void addTimeClock();
    // Removes "#time" again (flushing the pool first); Bug "Remove: #time is not the last
    // variable!" when it is not the last clock and the last variable. While the extra table
    // holds variables "#time" stays in place (removing it would move extra indices or clock
    // numbers), and a later addTimeClock keeps it.
    void removeTimeClock();
    bool hasTimeClock() const { return timeClock != -1; }
    // Clock number of "#time", -1 when there is none.
    int32_t getTimeClock() const { return timeClock; }
    // Removes the "#tau" clock of that number (flushing the pool first); Bug "Remove: #tau is
    // not the last variable!" unless it is the last clock and the last variable (of either
    // table).
    void removeTauClock(int32_t clockNumber);
    // Adds the meta variable "#depth" (0..2147483647) and its increment as a post-update, unless
    // present; returns the variable.
    Variable* addDepthVariable();
    // Adds the meta variable "#dist" (full int32 range), unless present; returns the variable.
    Variable* addDistVariable();

    // ---- Lookups ----------------------------------------------------------------------------
    // The variable of a global index (main table, then extra table).
    Variable* getVariable(uint64_t index) const
    {
        return index < variables.size() ? variables[index].get() : extraVariables[index - variables.size()].get();
    }
    // The first variable with that name (main table first), or null.
    Variable* findVariable(const std::string& name) const;
    // The first static process with that name, or null.
    Process* findProcess(const std::string& name) const;
    // The variable of a clock number (static clock table, then extra clock table).
    ClockVariable* getClockVariable(uint32_t clockNumber) const;
    // Clock numbers of those variables that are exactly ClockVariable.
    IndexSet collectClocks(const IndexSet& variableIndices) const;
    // Integer-array positions of those variables that are exactly StateVariable.
    IndexSet collectStateVariables(const IndexSet& variableIndices) const;

    // The process of a number (static table, then dynamic table).
    Process* getProcess(size_t number) const
    {
        return number < processes.size() ? processes[number].get()
                                          : dynamicProcesses[number - processes.size()].get();
    }
    // Static processes in number order.
    const std::vector<base::RefPtr<Process>>& getProcesses() const { return processes; }
    size_t getProcessCount() const { return processes.size(); }
    // Processes of dynamic templates (the spawnable instances), numbered after the static ones.
    const std::vector<base::RefPtr<Process>>& getDynamicProcesses() const { return dynamicProcesses; }

    const std::vector<base::RefPtr<Variable>>& getVariables() const { return variables; }
    const std::vector<base::RefPtr<Variable>>& getExtraVariables() const { return extraVariables; }

    // Index lists (global variable indices).
    const std::vector<uint64_t>& getStateVariables() const { return stateVariables; }
    const std::vector<uint64_t>& getExtraStateVariables() const { return extraStateVariables; }
    const std::vector<uint64_t>& getStateMetaVariables() const { return stateMetaVariables; }
    const std::vector<uint64_t>& getSystemMetaVariables() const { return systemMetaVariables; }
    // Integer, bit, meta and floating-point state variables in declaration order.
    const std::vector<uint64_t>& getPrintableVariables() const { return printableVariables; }
    const std::vector<uint64_t>& getExtraPrintableVariables() const { return extraPrintableVariables; }
    const std::vector<uint64_t>& getFPVariables() const { return fpVariables; }
    const std::vector<uint64_t>& getExtraFPVariables() const { return extraFPVariables; }
    // Clock number to global variable index.
    const std::vector<uint64_t>& getClocks() const { return clocks; }
    const std::vector<uint64_t>& getExtraClocks() const { return extraClocks; }

    // Sizes of the state arrays.
    size_t getStateVariableCount() const { return stateVariableCount; }
    size_t getExtraStateVariableCount() const { return extraStateVariableCount; }
    size_t getMetaVariableCount() const { return metaVariableCount; }
    size_t getFPVariableCount() const { return fpVariableCount; }
    size_t getExtraFPVariableCount() const { return extraFPVariableCount; }
    // Number of static clocks, the reference clock included.
    size_t getClockCount() const { return clocks.size(); }
    size_t getExtraClockCount() const { return extraClocks.size(); }

    // ---- Locations and analyses ---------------------------------------------------------------
    // RuntimeError beyond 16777216 locations.
    void reserveLocationTable(uint64_t n) { locationTable.reserve(n); }
    LocationTable& getLocationTable() { return locationTable; }
    const LocationTable& getLocationTable() const { return locationTable; }
    // Process::propagateLocationBounds for every static process (after compilation).
    void propagateLocationBounds();
    // Process::checkHybridClocks for every static process.
    void checkHybridClocks();
    // RuntimeException "GOXA does not support stop-watches" when a delay stopped a clock.
    void checkNoStopWatches() const;

    // ---- Updates ------------------------------------------------------------------------------
    const ExpressionRef& getPreUpdate() const { return preUpdate; }
    const ExpressionRef& getPostUpdate() const { return postUpdate; }
    void setInitialiser(const ExpressionRef& expression) { initialiser = expression; }
    // Evaluates the initialiser on the state when there is one.
    void applyInitialiser(PublicState* state);

    // ---- Printing -----------------------------------------------------------------------------
    // "( P.l Q.m )": every process slot (static and dynamic) whose mask byte is non-zero (null:
    // all) and whose location is set.
    void printLocations(PublicState* state, std::ostream& os, const uint8_t* mask) const;
    // "name=value " for every printable variable; floating-point values with their fraction,
    // and none for a symbolic state, which holds none.
    void printVariables(PublicState* state, std::ostream& os) const;
    // printLocations, a blank, printVariables, a newline.
    void printState(PublicState* state, std::ostream& os, const uint8_t* mask) const;
    // One layout line per variable of the main table.
    void printLayout(std::ostream& os) const;
    void print(std::ostream& os) const;

    // ---- Statistics of simulation ---------------------------------------------------------------
    void resetStatistics();
    void printStatistics(std::ostream& os) const;

    // ---- Channel priorities --------------------------------------------------------------------
    // Bit (x, y) set: channel x has a higher priority than channel y; entry 0 is the default
    // level of edges without synchronisation. Sizes the matrix for n channels ((n + 1)^2 bits;
    // bits already set keep their bit numbers, added ones are clear).
    void resizePriorityMatrix(size_t channels);
    // Sets bit (h, l) for every h of `higher` and every l of `lower`.
    void addChannelPriorities(const std::vector<int32_t>& higher, const std::vector<int32_t>& lower);
    // For every channel i in the set and j not in it (both 1..N): bit (i, j) := bit (i, 0) and
    // bit (j, i) := bit (0, i). `mentioned` has one entry per entry of the matrix (0..N).
    void applyDefaultPriority(const std::vector<bool>& mentioned);
    // Closes the relation transitively; false with "$Inconsistent_priorities_for_channels %1% $and
    // %2%" in message when two entries are ordered both ways; otherwise sets the total-order
    // flag when every two entries of different levels are ordered, and returns true.
    bool checkChannelPriorities(std::string& message);
    // Bit (x, y).
    bool isHigherPriority(uint32_t x, uint32_t y) const;
    // Number of rows and columns of the matrix (channels + 1; 0 while unsized).
    size_t getPriorityDimension() const { return priorityDimension; }
    // Bit (a, b) is bit a * dimension + b: word k / 64, bit k mod 64.
    const std::vector<uint64_t>& getPriorityMatrix() const { return priorityMatrix; }

    // ---- Run-time operations ------------------------------------------------------------------
    // The initial symbolic state (from the pool, owned by the caller); InitialStateUndefinedException
    // when an invariant of the initial locations fails (the state then goes back to the pool).
    SymbolicState* makeInitialState(const uint8_t* mask = nullptr);
    // The initial concrete state (owned by the caller); InitialStateUndefinedException when an
    // initial invariant fails.
    ConcreteState* buildInitialState();
    // The invariants of the current locations of the selected processes (mask byte non-zero;
    // null: every static process) hold; on a symbolic state they constrain the zone.
    bool checkInvariants(PublicState* state, const uint8_t* mask = nullptr);
    // The same selecting by mask or, without one, by process group.
    bool checkInvariants(PublicState* state, int32_t group, const uint8_t* mask);
    // The pre-update, the update of every edge in order, the post-update; with `modest` all
    // integer reads see the values from before the transition.
    void applyUpdates(PublicState* state, EdgeTuple edges);
    // bits: 2W words, W = (static clocks + 31) / 32: the stopped clocks, then the clocks given a
    // rate. True when some clock is stopped in the current locations. RuntimeException for a
    // rate other than 0 or 1 and for a clock stopped and then given rate 1.
    bool evaluateClockRates(PublicState* state, uint32_t* bits);
    // Shrinks `zone`, a zone of the transition's result, to the valuations of the source from
    // which the transition leads into it: the clock resets are undone, then the selected source
    // invariants, the extra condition and the clock guards are applied as on a successor (a
    // disjunction keeps the union of its sides; a condition that fails leaves the zone empty).
    // Processes are selected by mask, or without one by group (negative: all). The source does
    // not change.
    void stepBack(DiscreteState* source, EdgeTuple edges, dbm::fed_t& zone, Expression* extra, int32_t group,
                  const uint8_t* mask);

    // ---- Free-state pool ----------------------------------------------------------------------
    // The most recently released state, or a new one. It holds whatever it held when released.
    SymbolicState* acquireState();
    // Puts a state back (SymbolicState::release calls this).
    void releaseState(SymbolicState* state);
    // Deletes every pooled state. Runs before any change of the clock or variable layout.
    void flushStatePool();
    const PoolCounters& getPoolCounters() const { return poolCounters; }
    // States taken and not yet returned.
    uint64_t statesInUse() const { return poolCounters.taken - poolCounters.returned; }
    size_t pooledStates() const { return statePool.size(); }

    // ---- Data of the compiler and other subsystems ----------------------------------------------
    // (guard or null, measure) in declaration order.
    std::vector<ExpressionPair> progressMeasures;
    std::vector<GanttChart> ganttCharts;
    // The parsed model's dynamic templates, and per template its list of parsed expressions.
    std::vector<ZOLT::template_t*> dynamicTemplates;
    std::vector<std::vector<ZOLT::expression_t>> dynamicTemplateExpressions;
    // An index list kept for the compiler.
    std::vector<uint64_t> compilerIndexList;

private:
    void setPriorityBit(size_t a, size_t b);
    bool priorityBit(size_t a, size_t b) const;
    // Appends to the main or extra printable list / integer list as addStateVariable does and
    // returns the position in the integer array (in the extra region once the extra table is
    // in use).
    uint64_t nextStateSlot(bool extra);
    // A variable added now goes to the extra table: it is extra, or the extra table is in use.
    bool placedExtra(bool extra) const { return extra || !extraVariables.empty(); }
    // The variable added last (extra table first), or null; and its removal.
    Variable* lastVariable() const;
    void popLastVariable();

    std::vector<int32_t> modestScratch;
    std::vector<base::RefPtr<Process>> processes;
    std::vector<base::RefPtr<Process>> dynamicProcesses;
    std::vector<base::RefPtr<Variable>> variables;
    std::vector<base::RefPtr<Variable>> extraVariables;
    std::vector<uint64_t> stateVariables;
    std::vector<uint64_t> extraStateVariables;
    std::vector<uint64_t> stateMetaVariables;
    std::vector<uint64_t> systemMetaVariables;
    std::vector<uint64_t> printableVariables;
    std::vector<uint64_t> extraPrintableVariables;
    std::vector<uint64_t> extraFPVariables;
    std::vector<uint64_t> fpVariables;
    std::vector<uint64_t> clocks;
    std::vector<uint64_t> extraClocks;
    int32_t timeClock = -1;
    uint64_t stateVariableCount = 0;
    uint64_t extraStateVariableCount = 0;
    uint64_t metaVariableCount = 0;
    uint64_t fpVariableCount = 0;
    uint64_t extraFPVariableCount = 0;
    std::vector<uint64_t> priorityMatrix;
    size_t priorityDimension = 0;
    ExpressionRef preUpdate;
    ExpressionRef postUpdate;
    LocationTable locationTable;
    // Never shrinks, so taking and returning states allocates nothing once warm.
    std::vector<SymbolicState*> statePool;
    PoolCounters poolCounters;
    ExpressionRef initialiser;
};
