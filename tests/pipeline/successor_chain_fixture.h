#pragma once

// Helpers shared by the tests of the successor chain: a sink that records what reaches it, and
// short ways to name transitions and zones.

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "compiler/compiler.h"
#include "dbm/fed.h"
#include "language/system.h"
#include "pipeline/pipeline.h"
#include "pipeline/successor.h"
#include "runtime/edge.h"
#include "runtime/location.h"
#include "runtime/process.h"
#include "runtime/symbolic_state.h"
#include "runtime/channels.h"
#include "runtime/system.h"
#include "typecheck/checked_reading.h"

namespace chaintest {

// One item that reached the sink.
struct Seen
{
    std::vector<const Edge*> transition;  // empty for the end marker
    bool endMarker = false;
    bool nullItem = false;
    SymbolicState* state = nullptr;  // kept states only
    bool hasCondition = false;
    base::RefPtr<base::Object> condition;
};

// Records every item. With `owns` set the sink takes the items' states (keeps them, to be looked
// at, until release()); otherwise it takes only the state of the end marker, as the stage behind
// a transition stage does, and releases it at once.
class Recorder : public pipeline::Sink<Successor>
{
public:
    explicit Recorder(bool owns = true, bool answer = true) : owns(owns), answer(answer) {}
    ~Recorder() override { release(); }

    bool put(Successor* item) override
    {
        Seen seen;
        if (item == nullptr) {
            seen.nullItem = true;
            items.push_back(seen);
            return answer;
        }
        if (item->transition != nullptr) {
            for (Edge* const* e = item->transition; *e != nullptr; ++e) {
                seen.transition.push_back(*e);
            }
            seen.endMarker = item->transition[0] == nullptr;
        }
        seen.hasCondition = static_cast<bool>(item->handle);
        seen.condition = item->handle;
        if (owns) {
            seen.state = item->state;
        } else if (seen.endMarker) {
            item->state->release();
        }
        items.push_back(seen);
        return answer;
    }

    // Gives every kept state back to its pool.
    void release()
    {
        for (Seen& seen : items) {
            if (seen.state != nullptr) {
                seen.state->release();
                seen.state = nullptr;
            }
        }
    }

    // The transitions seen, end markers and null items left out.
    std::vector<std::vector<const Edge*>> transitions() const
    {
        std::vector<std::vector<const Edge*>> out;
        for (const Seen& seen : items) {
            if (!seen.nullItem && !seen.endMarker) {
                out.push_back(seen.transition);
            }
        }
        return out;
    }

    std::vector<Seen> items;
    bool owns;
    bool answer;
};

// The tuple {edges..., null} as a vector, for comparisons.
inline std::vector<const Edge*> tuple(std::initializer_list<const Edge*> edges)
{
    return std::vector<const Edge*>(edges);
}

// A state of the system with every process in the named location index.
inline SymbolicState* stateAt(System& system, const std::vector<size_t>& locations)
{
    SymbolicState* state = system.makeInitialState();
    for (size_t p = 0; p < locations.size(); ++p) {
        state->setLocation(static_cast<uint32_t>(p), system.getProcess(p)->getLocation(locations[p]));
    }
    return state;
}

// The zone as text with the system's clock names.
inline std::string zoneText(SymbolicState* state)
{
    std::ostringstream text;
    state->printZone(text);
    return text.str();
}

// A model read from text, checked, compiled and analysed as the model checker does before a
// query.
struct CompiledModel
{
    std::unique_ptr<ZOLT::TimedAutomataSystem> model;
    base::RefPtr<Compiler> compiler;
    base::RefPtr<System> system;
};

// Compiled models are kept until the process ends, as the verifier keeps its compiled system: a
// compiled System is not freed when its last handle goes (its byte-code expressions and their
// program refer to each other), and kept here it is not taken for a leak.
inline std::vector<CompiledModel*>& keptModels()
{
    static auto* kept = new std::vector<CompiledModel*>;
    return *kept;
}

inline CompiledModel* compileModel(const std::string& text)
{
    clearChannels();
    clearCompilerDumpBuffers();
    auto* compiled = new CompiledModel;
    keptModels().push_back(compiled);
    compiled->model = std::make_unique<ZOLT::TimedAutomataSystem>();
    ZOLT::readCheckedTextModelBuffer(text.c_str(), compiled->model.get(), true);
    for (const ZOLT::diagnostic_t& d : compiled->model->getErrors()) {
        ADD_FAILURE() << "model error: " << d.message << " (line " << d.start.line << ")";
    }
    compiled->compiler = new Compiler(compiled->model.get());
    compiled->system = compiled->compiler->compileSystem();
    compiled->system->propagateLocationBounds();
    compiled->system->checkHybridClocks();
    return compiled;
}

// The text of a model fixture under tests/models.
inline std::string fixture(const std::string& name)
{
    std::ifstream in(std::string(MIRVEK_TEST_MODELS) + "/" + name);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace chaintest
