// Reading a model with many sibling elements: N locations in one template, as an XML
// document and as the same textual model. Both grow linearly with N.

#include <benchmark/benchmark.h>

#include <string>

#include "frontend/parser.h"
#include "language/system.h"
#include "typecheck/checked_reading.h"

namespace
{
    std::string xmlModel(int64_t n)
    {
        std::string text = "<nta><declaration>int x;</declaration><template><name>P</name>";
        for (int64_t i = 0; i < n; ++i) {
            const std::string k = std::to_string(i);
            text += "<location id=\"l" + k + "\"><name>L" + k + "</name></location>";
        }
        return text + "<init ref=\"l0\"/></template><system>system P;</system></nta>";
    }

    std::string textModel(int64_t n)
    {
        std::string text = "int x;\nprocess P() { state ";
        for (int64_t i = 0; i < n; ++i) {
            text += (i == 0 ? "L" : ", L") + std::to_string(i);
        }
        return text + "; init L0; }\nsystem P;\n";
    }

    void xmlLocations(benchmark::State& state)
    {
        const std::string text = xmlModel(state.range(0));
        for (auto _ : state) {
            ZOLT::TimedAutomataSystem system;
            ZOLT::resetParserState();
            benchmark::DoNotOptimize(ZOLT::readCheckedXmlModelBuffer(text.c_str(), &system, true));
        }
        state.SetComplexityN(state.range(0));
    }

    void textLocations(benchmark::State& state)
    {
        const std::string text = textModel(state.range(0));
        for (auto _ : state) {
            ZOLT::TimedAutomataSystem system;
            ZOLT::resetParserState();
            benchmark::DoNotOptimize(ZOLT::readCheckedTextModelBuffer(text.c_str(), &system, true));
        }
        state.SetComplexityN(state.range(0));
    }
}

BENCHMARK(xmlLocations)->RangeMultiplier(2)->Range(10000, 80000)->Unit(benchmark::kMillisecond)->Complexity();
BENCHMARK(textLocations)->RangeMultiplier(2)->Range(10000, 80000)->Unit(benchmark::kMillisecond)->Complexity();

BENCHMARK_MAIN();
