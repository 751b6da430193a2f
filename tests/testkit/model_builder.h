#pragma once

// Builds a compiled System by hand, the way the model compiler fills one, for tests that need a
// model before (or without) the compiler. The builder clears the process-wide channel registry
// and edge-tuple table when it starts, as the model checker does when it discards a system.

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "runtime/system.h"
#include "testkit/expressions.h"

namespace testkit {

struct LocationSpec
{
    std::string name;
    ExpressionRef invariant = nullptr;  // null: none
    std::string invariantText = "";
    bool committed = false;
    bool urgent = false;
};

struct EdgeSpec
{
    ExpressionRef guard = nullptr;       // null: the constant true
    ExpressionRef clockGuard = nullptr;  // null: the constant true
    std::string guardText = "";
    // Signed channel number: +c sends on c, -c receives on c, 0 for no synchronisation.
    int32_t sync = 0;
    ExpressionRef update = nullptr;  // null: none
    std::string updateText = "";
};

class ModelBuilder
{
public:
    // A new System with the reference clock "t(0)".
    ModelBuilder();

    System& system() { return *sys; }

    ClockVariable* clock(const std::string& name);
    StateVariable* variable(const std::string& name, int32_t lower, int32_t upper, int32_t initial);
    // Registers a channel; returns its number.
    int32_t channel(const std::string& name, bool urgent = false, bool broadcast = false);
    // A static process; the first location is the initial one.
    Process* process(const std::string& name, const std::vector<LocationSpec>& locations);
    Location* location(const Process* process, const std::string& name) const;
    Edge* edge(Process* process, const std::string& from, const std::string& to, const EdgeSpec& spec = EdgeSpec());
    // Hands the edges to their processes and runs the analyses of the model checker
    // (propagateLocationBounds, checkHybridClocks).
    base::RefPtr<System> finish();

private:
    base::RefPtr<System> sys;
    std::vector<std::vector<base::RefPtr<Edge>>> edges;
};

// A two-process model used throughout the runtime and exploration tests:
//   clocks x, y; n in 0..10 starting at 1; channel c (urgent or broadcast as asked)
//   P: A { x <= 5 } --(n < 10; x >= 2; c!; x := 0, n := n + 1)--> B
//   Q: A --(c?; y := 0)--> B { y <= 3 }
struct TwoProcessModel
{
    base::RefPtr<System> system;
    Process* p;
    Process* q;
    Location* pA;
    Location* pB;
    Location* qA;
    Location* qB;
    Edge* send;
    Edge* receive;
    ClockVariable* x;
    ClockVariable* y;
    StateVariable* n;
    int32_t channel;
};

TwoProcessModel makeTwoProcessModel(bool urgentChannel = false, bool broadcastChannel = false);

}  // namespace testkit
