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
    // A System and its Program keep each other (the System holds the Program's expressions,
    // the Program holds the System): they are kept reachable until the tests end, and so is the
    // model they point into.
    static auto* kept = new std::vector<Compiled>();
    if (compiler || system || model) {
        Compiled& keep = kept->emplace_back();
        keep.model = std::move(model);
        keep.compiler = std::move(compiler);
        keep.system = std::move(system);
    }
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

std::unique_ptr<testkit::FakeState> Compiled::state() const
{
    // The extra regions too: a variable added after spawned ones has its cell there.
    auto s = std::make_unique<testkit::FakeState>(
        system->getStateVariableCount() + system->getExtraStateVariableCount(), system->getMetaVariableCount(),
        system->getFPVariableCount() + system->getExtraFPVariableCount(),
        static_cast<uint32_t>(system->getClockCount()), system->getProcessCount(), system.get());
    for (uint64_t index : system->getStateVariables()) {
        Variable* v = system->getVariable(index);
        v->setValue(s.get(), v->getInitialValue());
    }
    return s;
}

std::unique_ptr<ConcreteState> Compiled::concreteState() const
{
    return std::unique_ptr<ConcreteState>(system->buildInitialState());
}

expression_t Compiled::call(const std::string& function, const std::vector<expression_t>& arguments) const
{
    binding_t symbol;
    EXPECT_TRUE(model->getGlobals().frame.resolve(function, symbol)) << function;
    expression_t callee = expression_t::createIdentifier(symbol, span_t(1, 2));
    callee.setType(symbol.getType());
    std::vector<expression_t> children{callee};
    children.insert(children.end(), arguments.begin(), arguments.end());
    return expression_t::createNary(FUNCTION_CALL, children, span_t(1, 2), symbol.getType().getChild(0));
}

int32_t Compiled::get(const testkit::FakeState& state, const std::string& name) const
{
    Variable* v = variable(name);
    EXPECT_NE(v, nullptr) << "no variable " << name;
    return v != nullptr ? v->getValue(const_cast<testkit::FakeState*>(&state)) : 0;
}

void Compiled::set(testkit::FakeState& state, const std::string& name, int32_t value) const
{
    Variable* v = variable(name);
    ASSERT_NE(v, nullptr) << "no variable " << name;
    EXPECT_TRUE(v->setValue(&state, value));
}

expression_t Compiled::parse(const std::string& text) const
{
    return expression(*model, text);
}

std::string Compiled::code(const std::string& text, bool asDouble)
{
    const expression_t e = parse(text);
    const uint32_t start = program().mark();
    compiler->compileValueExpression(e, asDouble);
    return mnemonics(listing(start), start);
}

std::string mnemonics(const std::string& listing, uint32_t base)
{
    std::istringstream in(listing);
    std::string line;
    std::string out;
    while (std::getline(in, line)) {
        const size_t tab = line.find_last_of('\t');
        std::string instruction = line.substr(tab == std::string::npos ? 0 : tab + 1);
        // Jump targets relative to the first instruction: "jmpz @5".
        for (const char* jump : {"jmp ", "jmpz "}) {
            const std::string prefix = jump;
            if (instruction.rfind(prefix, 0) == 0) {
                const long target = std::stol(instruction.substr(prefix.size()));
                instruction = prefix + "@" + std::to_string(target - static_cast<long>(base));
            }
        }
        out += instruction + "\n";
    }
    return out;
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

Compiled compileDespiteErrors(const std::string& text)
{
    clearChannels();
    clearCompilerDumpBuffers();
    Compiled c;
    c.model = std::make_unique<TimedAutomataSystem>();
    readCheckedTextModelBuffer(text.c_str(), c.model.get(), true);
    EXPECT_TRUE(c.model->errorsPresent());
    c.compiler = new Compiler(c.model.get());
    c.system = c.compiler->compileSystem();
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
