#pragma once

// Helpers of the statistical checker's tests: models compiled from text, compiled predicates,
// a job that the checkers can read and write, and sinks that record what reaches them.

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "compiler/compiler.h"
#include "language/system.h"
#include "pipeline/pipeline.h"
#include "runtime/channels.h"
#include "runtime/concrete_state.h"
#include "runtime/location.h"
#include "runtime/process.h"
#include "runtime/system.h"
#include "smc/concrete_successor.h"
#include "smc/sample_histogram.h"
#include "smc/statistical_job.h"
#include "typecheck/checked_reading.h"

namespace smctest {

// A model read from text, checked and compiled, with the analyses the model checker runs after
// compiling. The compiled system is released before the model it points into.
struct Model
{
    std::unique_ptr<ZOLT::TimedAutomataSystem> parsed;
    base::RefPtr<Compiler> compiler;
    base::RefPtr<System> system;

    ~Model()
    {
        system.release();
        compiler.release();
        parsed.reset();
    }

    // A state predicate over the model, compiled as the property preparation compiles one.
    ExpressionRef formula(const std::string& text)
    {
        const ZOLT::expression_t e = ZOLT::readCheckedExpressionText(text.c_str(), parsed.get(), true);
        for (const ZOLT::diagnostic_t& d : parsed->getErrors()) {
            ADD_FAILURE() << "error in '" << text << "': " << d.message;
        }
        return compiler->compileStateFormula(e, nullptr);
    }

    // The process with that name and its location with that name.
    Process* process(const std::string& name) const { return system->findProcess(name); }
    Location* location(const std::string& processName, const std::string& locationName) const
    {
        const Process* p = process(processName);
        for (Location* l : p->getLocations()) {
            if (l->getName() == locationName) {
                return l;
            }
        }
        ADD_FAILURE() << "no location " << processName << "." << locationName;
        return nullptr;
    }
    // The initial concrete state.
    std::unique_ptr<ConcreteState> initial() const
    {
        return std::unique_ptr<ConcreteState>(system->buildInitialState());
    }
    // Clock number of the named clock (process clocks as "P.x").
    uint32_t clock(const std::string& name) const
    {
        for (uint32_t k = 1; k < system->getClockCount(); ++k) {
            if (system->getClockVariable(k)->getName() == name) {
                return k;
            }
        }
        ADD_FAILURE() << "no clock " << name;
        return 0;
    }
};

inline std::unique_ptr<Model> compile(const std::string& text)
{
    clearChannels();
    clearCompilerDumpBuffers();
    auto model = std::make_unique<Model>();
    model->parsed = std::make_unique<ZOLT::TimedAutomataSystem>();
    ZOLT::readCheckedTextModelBuffer(text.c_str(), model->parsed.get(), true);
    for (const ZOLT::diagnostic_t& d : model->parsed->getErrors()) {
        ADD_FAILURE() << "model error: " << d.message << " (line " << d.start.line << ")";
    }
    model->compiler = new Compiler(model->parsed.get());
    model->system = model->compiler->compileSystem();
    model->system->propagateLocationBounds();
    model->system->checkHybridClocks();
    return model;
}

// The text of a model fixture under tests/models.
inline std::string fixture(const std::string& name)
{
    std::ifstream in(std::string(MIRVEK_TEST_MODELS) + "/" + name);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// A job with the fields the statistical checkers read and write.
class FakeJob : public StatisticalJob
{
public:
    void progress() override { ++ticks; }
    int32_t getPropertyType() const override { return type; }
    uint32_t expressionCount() const override { return static_cast<uint32_t>(expressions.size()); }
    ExpressionRef getExpression(uint32_t i) const override
    {
        return i < expressions.size() ? expressions[i] : ExpressionRef(new Constant(1));
    }
    int32_t getRunBoundKind() const override { return runBoundKind; }
    int32_t getRunBound() const override { return runBound; }
    ExpressionRef lastExpression() const override { return expressions.back(); }
    ZOLT::expression_t getFormula() const override { return formula; }
    void setEstimate(double v, double lower, double upper) override
    {
        value = v;
        lowerBound = lower;
        upperBound = upper;
    }
    SampleHistogram& getHistogram() override { return histogram; }

    int32_t type = 10;
    int32_t runBoundKind = 1;
    int32_t runBound = 10;
    std::vector<ExpressionRef> expressions;
    ZOLT::expression_t formula;
    double value = -1;
    double lowerBound = 0;
    double upperBound = 0;
    SampleHistogram histogram;
    int64_t ticks = 0;
};

// Keeps what reaches it: the successors' processes and forced flags, or the states' clock values.
struct SuccessorRecorder : pipeline::Sink<ConcreteSuccessor>
{
    bool put(ConcreteSuccessor* item) override
    {
        processes.push_back(item->process);
        forced.push_back(item->forced);
        return answer;
    }
    std::vector<int64_t> processes;
    std::vector<bool> forced;
    bool answer = true;
};

struct StateRecorder : pipeline::Sink<ConcreteState>
{
    bool put(ConcreteState* state) override
    {
        const ClockValuation& c = state->getClocks();
        clocks.emplace_back(c.values, c.values + c.count);
        return answer;
    }
    std::vector<std::vector<double>> clocks;
    bool answer = true;
};

// Receives a verdict.
struct VerdictSink : pipeline::Sink<bool>
{
    bool put(bool* verdict) override
    {
        verdicts.push_back(*verdict);
        return true;
    }
    std::vector<bool> verdicts;
};

}  // namespace smctest
