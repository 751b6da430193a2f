// Spawning and the other instructions over dynamically spawned processes, with a stand-in for the
// compiler that starts instances the way the model compiler does: it compiles code into the same
// Program (moving the code and the stacks) and evaluates a constant on it while the spawning run
// is interrupted.

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "language/system.h"
#include "program_fixture.h"
#include "runtime/process.h"
#include "runtime/program_expression.h"
#include "support/exceptions.h"

namespace machine_test {
namespace {

class FakeCompiler : public ProcessSpawner
{
public:
    FakeCompiler(Program& program, System& system) : program(program), system(system) {}

    struct Call
    {
        int32_t templateNumber;
        std::vector<int32_t> arguments;
    };
    std::vector<Call> calls;
    int32_t constantSeen = 0;

    void spawnProcess(int32_t templateNumber, const std::vector<int32_t>& arguments, ConcreteState* state) override
    {
        calls.push_back({templateNumber, arguments});

        // Compiling a new instance appends code: enough to move the code vector.
        program.emitNops(NO_POSITION, 5000);

        // The compiler evaluates constants on scratch code, from the bottom of the same stacks,
        // pushing enough to make the Program take bigger stacks.
        const uint32_t start = program.beginScratch();
        for (int32_t i = 0; i < 3000; ++i) {
            program.emit(NO_POSITION, bytecode::PUSH, 1000 + i);
        }
        program.emit(NO_POSITION, bytecode::HALT);
        const uint32_t cell = program.execute(nullptr, static_cast<int32_t>(start));
        constantSeen = program.stackCell(cell);
        program.endScratch(start);

        // Start the pooled instance of the template.
        SpawnRecord& record = (*state->spawnTable)[static_cast<size_t>(templateNumber)];
        Process* process = system.getDynamicProcesses()[0].get();
        if (record.processes.empty()) {
            record.processes.push_back(process);
        }
        process->poolSlot = static_cast<int32_t>(record.liveCount);
        record.liveNumbers.push_back(process->getNumber());
        ++record.liveCount;
        state->setLocation(static_cast<uint32_t>(process->getNumber()), process->initialLocation);
    }

private:
    Program& program;
    System& system;
};

class MachineDynamic : public MachineTest
{
protected:
    ZOLT::template_t dynamicTemplate;
    base::RefPtr<Process> staticProcess{new Process(1, "S")};
    base::RefPtr<Process> pooled{new Process(1, "P")};
    FakeCompiler compiler{*program, *system};
    SpawnTable table;
    std::unique_ptr<ConcreteState> state;
    int32_t member = 0;

    void SetUp() override
    {
        clock("t(0)");
        member = intVariable("member");
        dynamicTemplate.parameters = ZOLT::scope_t::create();
        dynamicTemplate.parameters.addSymbol("p", ZOLT::type_t(), nullptr);
        dynamicTemplate.parameters.addSymbol("q", ZOLT::type_t(), nullptr);
        dynamicTemplate.isDynamic = true;
        system->dynamicTemplates.push_back(&dynamicTemplate);
        system->addProcess(staticProcess, false);
        system->addProcess(pooled, true);
        pooled->dynamicTemplateIndex = 0;
        program->setSpawner(&compiler);

        state = concreteState();
        table.resize(1);
        state->spawnTable = &table;
    }

    // An instance's expressions hold the Program, which holds the System, which holds the
    // instance: the cycle is broken here as the owner of a compiled model breaks it.
    void TearDown() override { pooled->dynamicEvaluations.clear(); }

    int32_t run(std::vector<Instr> instrs)
    {
        instrs.push_back({HALT});
        return result(state.get(), code(instrs));
    }
};

TEST_F(MachineDynamic, SpawnPassesTheArgumentsInParameterOrderAndKeepsTheInterruptedStack)
{
    ASSERT_EQ(pooled->getNumber(), 1);
    const uint32_t intCapacity = program->intStackCapacity();
    const uint32_t start =
        code({{PUSH, 100}, {PUSH, 200}, {PUSH, 7}, {PUSH, 8}, {PUSH, 0}, {SPAWN}, {POP}, {PLUS}, {HALT}});
    program->mark();
    EXPECT_EQ(result(state.get(), start), 300);

    ASSERT_EQ(compiler.calls.size(), 1u);
    EXPECT_EQ(compiler.calls[0].templateNumber, 0);
    EXPECT_EQ(compiler.calls[0].arguments, (std::vector<int32_t>{7, 8}));
    EXPECT_EQ(compiler.constantSeen, 3999);
    EXPECT_GT(program->intStackCapacity(), intCapacity);

    EXPECT_EQ(table[0].liveCount, 1);
    EXPECT_EQ(run({{PUSH, 0}, {NUM_OF}}), 1);

    // The spawn takes its arguments and the template number and leaves 0 in their place.
    const uint32_t top = program->execute(state.get(), static_cast<int32_t>(code({{PUSH, 100}, {PUSH, 7}, {PUSH, 8},
                                                                                   {PUSH, 0}, {SPAWN}, {HALT}})));
    ASSERT_EQ(top, 2u);
    EXPECT_EQ(program->stackCell(1), 100);
    EXPECT_EQ(program->stackCell(2), 0);
}

TEST_F(MachineDynamic, LiveInstancesCountedListedAndEnded)
{
    EXPECT_EQ(run({{PUSH, 0}, {NUM_OF}}), 0);
    EXPECT_EQ(run({{PUSH, 0}, {PUSH, 0}, {DYN_PROCESS_INDEX}}), -1);

    run({{PUSH, 1}, {PUSH, 2}, {PUSH, 0}, {SPAWN}, {POP}});
    EXPECT_EQ(run({{PUSH, 0}, {NUM_OF}}), 1);
    EXPECT_EQ(run({{PUSH, 0}, {PUSH, 0}, {DYN_PROCESS_INDEX}}), pooled->getNumber());
    // k equal to the live count, and a negative k, name no process.
    EXPECT_EQ(run({{PUSH, 1}, {PUSH, 0}, {DYN_PROCESS_INDEX}}), -1);
    EXPECT_EQ(run({{PUSH, -1}, {PUSH, 0}, {DYN_PROCESS_INDEX}}), -1);

    EXPECT_EQ(run({{PUSH, 9}, {PUSH, pooled->getNumber()}, {EXIT}, {PLUS}}), 9);
    EXPECT_EQ(table[0].liveCount, 0);
    EXPECT_EQ(run({{PUSH, 0}, {NUM_OF}}), 0);
}

TEST_F(MachineDynamic, MemberAccessRunsAnExpressionOfTheInstanceOnTheSameProgram)
{
    // The instance's entry computes the member's index with code of its own, on the stacks of
    // the run that asks for it.
    const uint32_t entry = code({{PUSH, 1}, {PUSH, 2}, {PUSH, 3}, {POP}, {POP}, {POP}, {PUSH, member}, {HALT}});
    pooled->dynamicEvaluations.push_back(new ProgramExpression(program.get(), static_cast<int32_t>(entry), {}, {}));
    state->getVariables()[0] = 41;

    EXPECT_EQ(run({{PUSH, 100}, {PUSH, 200}, {PUSH, 0}, {PUSH, pooled->getNumber()}, {DYNAMIC_EVAL}, {LOAD},
                   {PLUS}, {PLUS}}),
              341);
}

TEST_F(MachineDynamic, SpawnNeedsTheCompilerAndAKnownTemplate)
{
    EXPECT_THROW(run({{PUSH, 0}, {PUSH, 0}, {PUSH, 5}, {SPAWN}}), Bug);
    program->setSpawner(nullptr);
    EXPECT_THROW(run({{PUSH, 0}, {PUSH, 0}, {PUSH, 0}, {SPAWN}}), Bug);
}

}  // namespace
}  // namespace machine_test
