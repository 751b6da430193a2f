#pragma once

#include "compiler/compiler.h"
#include "language/system.h"
#include "runtime/system.h"

// The compiled model of the run: the compiler over the loaded model and the System it made.
// Both are released before the model they point into.
struct CompiledModel
{
    base::RefPtr<Compiler> compiler;
    base::RefPtr<System> system;
};

CompiledModel& compiledModel();
void releaseCompiledModel();

// Compiles a model that was read and checked without errors. A compile error, and an
// evaluation error met while compiling, is recorded as an error of the model at its position.
// Under MIRVEK_COMPILE_ONLY (without MIRVEK_DEBUG_VM) the compiler writes its dump and ends
// the process with status 0.
void compileLoadedModel(ZOLT::TimedAutomataSystem& model);
