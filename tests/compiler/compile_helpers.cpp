#include "compile_helpers.h"

#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "runtime/channels.h"
#include "runtime/edge.h"
#include "typecheck/checked_reading.h"

using namespace ZOLT;

namespace compiler_test {

Compiled::~Compiled()
{
    system.release();
    compiler.release();
    model.reset();
}

Variable* Compiled::variable(const std::string& name) const
{
    return system ? system->findVariable(name) : nullptr;
}

uint32_t Compiled::index(const std::string& name) const
{
    Variable* v = variable(name);
    EXPECT_NE(v, nullptr) << "no variable " << name;
    return v != nullptr ? static_cast<uint32_t>(v->getIndex()) : 0;
}

std::string Compiled::listing(uint32_t start) const
{
    std::ostringstream out;
    const Program& p = program();
    for (uint32_t i = start; i < p.size(); i += 1 + Program::operandCount(p.opcodeAt(i))) {
        p.disassemble(out, i);
    }
    return out.str();
}

std::string Compiled::layout() const
{
    std::ostringstream out;
    system->printLayout(out);
    return out.str();
}

std::unique_ptr<TimedAutomataSystem> readModel(const std::string& text)
{
    auto model = std::make_unique<TimedAutomataSystem>();
    readCheckedTextModelBuffer(text.c_str(), model.get(), true);
    for (const diagnostic_t& d : model->getErrors()) {
        ADD_FAILURE() << "model error: " << d.message << " (line " << d.start.line << ")";
    }
    return model;
}

Compiled prepare(const std::string& text)
{
    // Channel numbers and the compile-only buffers are process-wide.
    clearChannels();
    clearCompilerDumpBuffers();
    Compiled c;
    c.model = readModel(text);
    c.compiler = new Compiler(c.model.get());
    return c;
}

Compiled compile(const std::string& text)
{
    Compiled c = prepare(text);
    c.system = c.compiler->compileSystem();
    return c;
}

expression_t identifier(TimedAutomataSystem& model, const std::string& name)
{
    return expression(model, name);
}

expression_t expression(TimedAutomataSystem& model, const std::string& text)
{
    expression_t e = readCheckedExpressionText(text.c_str(), &model, true);
    for (const diagnostic_t& d : model.getErrors()) {
        ADD_FAILURE() << "error in '" << text << "': " << d.message;
    }
    return e;
}

std::string fixture(const std::string& name)
{
    std::ifstream in(std::string(MIRVEK_TEST_MODELS) + "/" + name);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace compiler_test
