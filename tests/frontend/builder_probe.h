#pragma once

// A system builder over a fresh model whose stacks the tests can look at, and small
// helpers to read the model's diagnostics.

#include <string>
#include <vector>

#include "frontend/system_builder.h"
#include "language/system.h"

namespace mirvek_test {

class ProbeBuilder : public ZOLT::SystemBuilder
{
public:
    explicit ProbeBuilder(ZOLT::TimedAutomataSystem* system) : ZOLT::SystemBuilder(system) {}

    using ZOLT::SystemBuilder::currentEdge;
    using ZOLT::SystemBuilder::currentTemplate;
    using ZOLT::SystemBuilder::fragments;
    using ZOLT::SystemBuilder::frames;
    using ZOLT::SystemBuilder::params;
    using ZOLT::SystemBuilder::typeFragments;

    ZOLT::expression_t top() const { return fragments.back(); }
    ZOLT::type_t topType() const { return typeFragments.back(); }
};

// A model and a builder over it.
struct Fixture
{
    ZOLT::TimedAutomataSystem system;
    ProbeBuilder builder{&system};
};

inline std::vector<std::string> errors(const ZOLT::TimedAutomataSystem& system)
{
    std::vector<std::string> texts;
    for (const auto& d : system.getErrors()) {
        texts.push_back(d.message);
    }
    return texts;
}

inline std::vector<std::string> warnings(const ZOLT::TimedAutomataSystem& system)
{
    std::vector<std::string> texts;
    for (const auto& d : system.getWarnings()) {
        texts.push_back(d.message);
    }
    return texts;
}

// Runs an operation as a producer does: a TypeException becomes an error of the model.
template<typename Operation>
void produce(ProbeBuilder& builder, Operation operation)
{
    try {
        operation();
    } catch (const ZOLT::TypeException& e) {
        builder.handleError(e.what());
    }
}

} // namespace mirvek_test
