#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "language/expression.h"
#include "language/symbol.h"
#include "language/system.h"

// What the scenario translation reads of the compiled model: the processes as the compiler names
// them, the value of constant expressions and the value range of an expression. The model checker
// answers these from its compiler and compiled system; ParsedModelFacts answers them from the parsed
// model alone.
class ScenarioModelFacts
{
public:
    // One compiled process. A member of a process set is named after the set, with the values of
    // its free parameters: "P(0,1)"; its template is the instantiation the set was declared with,
    // and `parameters` holds the name and the decimal value of each of those free parameters. Any
    // other process is named as in the system line, its template is the template it instantiates,
    // and `parameters` holds the template parameters bound to constants.
    struct Process
    {
        std::string name;
        std::string templateName;
        std::vector<std::pair<std::string, std::string>> parameters;
    };

    virtual ~ScenarioModelFacts() = default;

    // The processes in the order of the system line, process sets expanded in place.
    virtual const std::vector<Process>& processes() const = 0;
    // The value of an expression that is fixed once the model is read. Throws std::runtime_error
    // when it cannot be computed.
    virtual int32_t evaluateConstant(const ZOLT::expression_t& expression) const = 0;
    // The values the expression can take. Throws std::runtime_error when they cannot be computed.
    virtual ZOLT::interval_t getRange(const ZOLT::expression_t& expression) const = 0;
};

// The facts of a parsed and type-checked model, taken when the object is made: constants are
// computed from the constant declarations and the arguments of instantiations, ranges from the
// declared range types, and process sets are expanded over the ranges of their free parameters.
class ParsedModelFacts : public ScenarioModelFacts
{
public:
    explicit ParsedModelFacts(ZOLT::TimedAutomataSystem& model);

    const std::vector<Process>& processes() const override { return processList; }
    int32_t evaluateConstant(const ZOLT::expression_t& expression) const override;
    ZOLT::interval_t getRange(const ZOLT::expression_t& expression) const override;

    // evaluateConstant with the given parameters standing for values.
    int32_t evaluate(const ZOLT::expression_t& expression,
                     const std::map<ZOLT::binding_t, int32_t>& values) const;

private:
    void addProcesses(const ZOLT::instance_t& process);

    std::vector<Process> processList;
};
