#include "driver/compiled_model.h"

#include <utility>
#include <vector>

#include "runtime/exceptions.h"

namespace {

ZOLT::span_t unpack(packed_span_t span)
{
    return ZOLT::span_t(static_cast<int32_t>(static_cast<uint32_t>(span)),
                        static_cast<int32_t>(static_cast<uint32_t>(span >> 32)));
}

} // namespace

CompiledModel& compiledModel()
{
    // Never destroyed: see retiredModels.
    static auto* compiled = new CompiledModel();
    return *compiled;
}

namespace {

// Compiled models let go of by the driver. A System and its Program keep each other (the
// System holds the Program's expressions, the Program holds the System), so neither is ever
// freed; they are kept here, reachable until the process ends, like the model of the run.
std::vector<CompiledModel>& retiredModels()
{
    static auto* retired = new std::vector<CompiledModel>();
    return *retired;
}

} // namespace

void releaseCompiledModel()
{
    CompiledModel& compiled = compiledModel();
    if (compiled.compiler || compiled.system) {
        retiredModels().push_back(std::move(compiled));
        compiled = CompiledModel();
    }
}

void compileLoadedModel(ZOLT::TimedAutomataSystem& model)
{
    releaseCompiledModel();
    CompiledModel& compiled = compiledModel();
    compiled.compiler = new Compiler(&model);
    try {
        compiled.system = compiled.compiler->compileSystem();
    } catch (const CompileError& error) {
        model.recordError(unpack(error.getPosition()), error.what());
    } catch (const CannotEvaluateExpression& error) {
        model.recordError(unpack(error.getPosition()), error.what());
    }
}
