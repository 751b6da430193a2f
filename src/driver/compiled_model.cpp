#include "driver/compiled_model.h"

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
    static CompiledModel compiled;
    return compiled;
}

void releaseCompiledModel()
{
    CompiledModel& compiled = compiledModel();
    compiled.system.release();
    compiled.compiler.release();
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
