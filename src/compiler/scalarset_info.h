#pragma once

#include <cstdint>
#include <list>
#include <map>
#include <vector>

#include "language/expression.h"
#include "language/type.h"

class Variable;

// Evaluates an integer expression of the model at compile time. The model compiler
// implements it; the scalar-set record asks it for the bounds of scalar-set types.
class ConstantEvaluator
{
public:
    virtual ~ConstantEvaluator() = default;
    virtual int32_t evaluateConstant(const ZOLT::expression_t& expression) = 0;
};

// What belongs to one element of a scalar set: the processes instantiated for it, the
// variables declared for it (array cells indexed by it, variables of its processes) and
// its clocks. The lists of two elements of one set correspond position by position.
struct ScalarsetElement
{
    int32_t index = 0;
    std::vector<int32_t> processes;
    std::vector<Variable*> variables;
    std::vector<int32_t> clocks;
};

// One scalar set: its size, its type as first met, the variables whose type is the set
// (they hold an element) and its elements.
struct ScalarsetRecord
{
    uint64_t size = 0;
    ZOLT::type_t type;
    std::vector<Variable*> data;
    std::vector<ScalarsetElement> elements;
};

// The scalar sets of a compiled model. The compiler fills it while it lays out
// variables, clocks and processes: every range it iterates (an array's index type, a
// free process parameter) is opened with beginRange, each value is pushed while what
// belongs to it is declared, and endRange files what was collected under the elements
// of the set when the range is a scalar set. Symmetry reduction reads `records`.
class ScalarsetInfo
{
public:
    explicit ScalarsetInfo(ConstantEvaluator* evaluator) : evaluator(evaluator) {}
    ScalarsetInfo(const ScalarsetInfo&) = delete;
    ScalarsetInfo& operator=(const ScalarsetInfo&) = delete;

    bool empty() const { return records.empty(); }

    void beginRange(const ZOLT::type_t& type);
    void pushIndex(uint64_t value);
    void popIndex();
    void addProcess(int32_t process);
    void addClock(int32_t clock);
    void addVariable(const ZOLT::type_t& type, Variable* variable);
    void endRange();

    // The record of the scalar set the type denotes, made on first request.
    ScalarsetRecord* recordFor(const ZOLT::type_t& type);

    std::list<ScalarsetRecord> records;

private:
    // The pending entries, one per open range that has a current value.
    template <typename F>
    void forEachPending(F&& f);

    std::vector<uint64_t> indexStack;
    std::vector<ScalarsetRecord*> rangeStack;
    std::vector<std::map<uint64_t, ScalarsetElement>> pendingStack;
    ConstantEvaluator* evaluator;
};
