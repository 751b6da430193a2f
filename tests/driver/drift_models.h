#pragma once

// Small random models with cycles, and for each the same model under drifting clocks written as
// an ordinary timed automaton: the reference that robust reachability is checked against.
//
// Under drift every clock runs at a rate anywhere in [1 - e, 1 + e], chosen anew at every moment
// and for every clock on its own. What a clock x may then hold at a moment is an interval
// [lo(x), hi(x)]: lo grows at rate 1 - e and hi at rate 1 + e. A guard x >= a can be met when
// hi(x) >= a, and afterwards x is at least a, so lo(x) rises to a if it was below ("clipped");
// a bound x <= b (a guard or an invariant of a location some process is in) tests lo(x) <= b and
// clips hi(x) to b. A reset sets both ends. As every bound of an edge and every invariant of the
// locations the processes are in holds at the moment of the step, the reference is the product of
// the processes, one location per combination of locations, so each of its edges knows them all.
//
// Each end is an ordinary clock once constants are scaled: with e = 1/m and time measured in
// units of 1 / (m^2 - 1), lo(x) = (m - 1)/m * t_lo means lo(x) <= b exactly when the clock t_lo is
// at most b * m * (m + 1), and hi(x) >= a exactly when t_hi is at least a * m * (m - 1). Clipping
// needs a minimum, which a timed automaton does not have: the edge comes in two copies, one for
// an end inside the bound and one for an end beyond it that sets the end to the bound.
//
// The models keep to what the drifting semantics answers the same way for every small e: closed
// bounds (<=, >=, ==) with small constants, no clock compared with another. An urgent
// synchronisation of the model becomes an urgent broadcast in the reference (it holds time
// while enabled, as the pair does), followed by a committed step that clips.

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace driftmodels {

// A range of one clock; high < 0 means no upper bound. The generated models keep to closed
// ranges; strict ends serve models written by hand.
struct Bound
{
    int clock;
    int low;
    int high;
    bool lowStrict = false;
    bool highStrict = false;
};

enum class Sync { none, send, receive, urgentSend, urgentReceive };

struct Edge
{
    int source = 0;
    int target = 0;
    std::vector<Bound> bounds;
    // On the integer v, empty when none.
    std::string intGuard;
    Sync sync = Sync::none;
    // {clock, value}.
    std::vector<std::pair<int, int>> resets;
    // An assignment of v, empty when none.
    std::string update;
};

struct Location
{
    // An invariant clock <= bound, clock -1 when none.
    int invariantClock = -1;
    int invariantBound = 0;
    bool committed = false;
    bool urgent = false;
};

struct Process
{
    std::vector<Location> locations;
    std::vector<Edge> edges;
};

// A goal: locations of some processes ({process, location}) and perhaps a value of v.
struct Goal
{
    std::vector<std::pair<int, int>> at;
    int value = -1;
};

struct Model
{
    int clocks = 1;
    int range = 1;
    int initial = 0;
    std::vector<Process> processes;
    std::vector<Goal> goals;

    // The model's own text.
    std::string text() const
    {
        std::string t = "int[0," + std::to_string(range) + "] v = " + std::to_string(initial) + ";\n";
        for (int c = 0; c < clocks; ++c) {
            t += "clock x" + std::to_string(c) + ";\n";
        }
        t += "chan h;\nurgent chan u;\n";
        for (size_t p = 0; p < processes.size(); ++p) {
            const Process& process = processes[p];
            std::vector<std::string> states;
            std::vector<std::string> committed;
            std::vector<std::string> urgent;
            for (size_t l = 0; l < process.locations.size(); ++l) {
                const Location& location = process.locations[l];
                const std::string name = "l" + std::to_string(l);
                std::string state = name;
                if (location.invariantClock >= 0) {
                    state += " { x" + std::to_string(location.invariantClock) + " <= " +
                             std::to_string(location.invariantBound) + " }";
                }
                states.push_back(state);
                if (location.committed) {
                    committed.push_back(name);
                } else if (location.urgent) {
                    urgent.push_back(name);
                }
            }
            t += "process P" + std::to_string(p) + "() {\n  state " + join(states, ", ") + ";\n";
            if (!urgent.empty()) {
                t += "  urgent " + join(urgent, ", ") + ";\n";
            }
            if (!committed.empty()) {
                t += "  commit " + join(committed, ", ") + ";\n";
            }
            t += "  init l0;\n  trans\n";
            std::vector<std::string> edges;
            for (const Edge& e : process.edges) {
                std::vector<std::string> guards;
                for (const Bound& b : e.bounds) {
                    const std::string x = "x" + std::to_string(b.clock);
                    if (b.low == b.high && !b.lowStrict && !b.highStrict) {
                        guards.push_back(x + " == " + std::to_string(b.low));
                        continue;
                    }
                    if (b.low > 0 || b.lowStrict) {
                        guards.push_back(x + (b.lowStrict ? " > " : " >= ") + std::to_string(b.low));
                    }
                    if (b.high >= 0) {
                        guards.push_back(x + (b.highStrict ? " < " : " <= ") + std::to_string(b.high));
                    }
                }
                if (!e.intGuard.empty()) {
                    guards.push_back(e.intGuard);
                }
                std::vector<std::string> updates;
                for (const auto& [clock, value] : e.resets) {
                    updates.push_back("x" + std::to_string(clock) + " = " + std::to_string(value));
                }
                if (!e.update.empty()) {
                    updates.push_back(e.update);
                }
                std::string label;
                if (!guards.empty()) {
                    label += " guard " + join(guards, " && ") + ";";
                }
                label += syncText(e.sync, "h", "u");
                if (!updates.empty()) {
                    label += " assign " + join(updates, ", ") + ";";
                }
                edges.push_back("    l" + std::to_string(e.source) + " -> l" + std::to_string(e.target) + " {" +
                                label + " }");
            }
            t += join(edges, ",\n") + ";\n}\n";
        }
        std::vector<std::string> names;
        for (size_t p = 0; p < processes.size(); ++p) {
            names.push_back("P" + std::to_string(p));
        }
        return t + "system " + join(names, ", ") + ";\n";
    }

    // The goal as a state formula of the model.
    std::string goalText(const Goal& goal) const
    {
        std::vector<std::string> atoms;
        for (const auto& [p, l] : goal.at) {
            atoms.push_back("P" + std::to_string(p) + ".l" + std::to_string(l));
        }
        if (goal.value >= 0) {
            atoms.push_back("v == " + std::to_string(goal.value));
        }
        return join(atoms, " && ");
    }

    // The reference for e = 1/m: one process D over the combinations of locations, two clocks
    // per clock of the model. Its location names are kept for the goals.
    std::string drifting(int m) const
    {
        const long long lowScale = static_cast<long long>(m) * (m + 1);
        std::string t = "int[0," + std::to_string(range) + "] v = " + std::to_string(initial) + ";\n";
        for (int c = 0; c < clocks; ++c) {
            t += "clock lo" + std::to_string(c) + ", hi" + std::to_string(c) + ";\n";
        }
        t += "urgent broadcast chan u;\n";
        const std::vector<std::vector<int>> all = combinations();
        std::vector<std::string> states;
        std::vector<std::string> committed;
        std::vector<std::string> urgent;
        std::vector<std::string> edges;
        int steps = 0;
        for (const std::vector<int>& at : all) {
            const std::string name = locationName(at);
            std::vector<std::string> invariants;
            bool anyCommitted = false;
            bool anyUrgent = false;
            for (size_t p = 0; p < at.size(); ++p) {
                const Location& location = processes[p].locations[at[p]];
                if (location.invariantClock >= 0) {
                    invariants.push_back("lo" + std::to_string(location.invariantClock) +
                                         " <= " + std::to_string(location.invariantBound * lowScale));
                }
                anyCommitted = anyCommitted || location.committed;
                anyUrgent = anyUrgent || location.urgent;
            }
            states.push_back(invariants.empty() ? name : name + " { " + join(invariants, " && ") + " }");
            if (anyCommitted) {
                committed.push_back(name);
            } else if (anyUrgent) {
                urgent.push_back(name);
            }
            // The steps of the network from this combination: one process alone, or a sender
            // and a receiver; with a committed location, one of them must be in one.
            auto movable = [&](size_t p) { return !anyCommitted || processes[p].locations[at[p]].committed; };
            for (size_t p = 0; p < at.size(); ++p) {
                for (const Edge& e : processes[p].edges) {
                    if (e.source != at[p]) {
                        continue;
                    }
                    if (e.sync == Sync::none) {
                        if (movable(p)) {
                            addStep(at, {{p, &e}}, false, m, edges, states, committed, steps);
                        }
                        continue;
                    }
                    if (e.sync != Sync::send && e.sync != Sync::urgentSend) {
                        continue;
                    }
                    const Sync partner = e.sync == Sync::send ? Sync::receive : Sync::urgentReceive;
                    for (size_t q = 0; q < at.size(); ++q) {
                        if (q == p) {
                            continue;
                        }
                        for (const Edge& r : processes[q].edges) {
                            if (r.source == at[q] && r.sync == partner && (movable(p) || movable(q))) {
                                addStep(at, {{p, &e}, {q, &r}}, e.sync == Sync::urgentSend, m, edges, states,
                                        committed, steps);
                            }
                        }
                    }
                }
            }
        }
        std::vector<int> first(processes.size(), 0);
        t += "process D() {\n  state " + join(states, ", ") + ";\n";
        if (!urgent.empty()) {
            t += "  urgent " + join(urgent, ", ") + ";\n";
        }
        if (!committed.empty()) {
            t += "  commit " + join(committed, ", ") + ";\n";
        }
        t += "  init " + locationName(first) + ";\n";
        if (!edges.empty()) {
            t += "  trans\n" + join(edges, ",\n") + ";\n";
        }
        return t + "}\nsystem D;\n";
    }

    // The goal as a state formula of the reference.
    std::string driftGoal(const Goal& goal) const
    {
        std::vector<std::string> names;
        for (const std::vector<int>& at : combinations()) {
            bool holds = true;
            for (const auto& [p, l] : goal.at) {
                holds = holds && at[p] == l;
            }
            if (holds) {
                names.push_back("D." + locationName(at));
            }
        }
        std::string text = names.empty() ? "false" : "(" + join(names, " || ") + ")";
        if (goal.value >= 0) {
            text += " && v == " + std::to_string(goal.value);
        }
        return text;
    }

private:
    static std::string syncText(Sync sync, const std::string& channel, const std::string& urgentChannel)
    {
        switch (sync) {
        case Sync::none: return "";
        case Sync::send: return " sync " + channel + "!;";
        case Sync::receive: return " sync " + channel + "?;";
        case Sync::urgentSend: return " sync " + urgentChannel + "!;";
        case Sync::urgentReceive: return " sync " + urgentChannel + "?;";
        }
        return "";
    }

    std::vector<std::vector<int>> combinations() const
    {
        std::vector<std::vector<int>> all{{}};
        for (const Process& process : processes) {
            std::vector<std::vector<int>> longer;
            for (const std::vector<int>& prefix : all) {
                for (size_t l = 0; l < process.locations.size(); ++l) {
                    longer.push_back(prefix);
                    longer.back().push_back(static_cast<int>(l));
                }
            }
            all = std::move(longer);
        }
        return all;
    }

    static std::string locationName(const std::vector<int>& at)
    {
        std::string name = "s";
        for (int l : at) {
            name += "_" + std::to_string(l);
        }
        return name;
    }

    // The edges of D for one step of the network, from the combination `at`.
    void addStep(const std::vector<int>& at, const std::vector<std::pair<size_t, const Edge*>>& moves, bool urgentSync,
                 int m, std::vector<std::string>& edges, std::vector<std::string>& states,
                 std::vector<std::string>& committed, int& steps) const
    {
        const long long lowScale = static_cast<long long>(m) * (m + 1);
        const long long highScale = static_cast<long long>(m) * (m - 1);
        // What holds of each clock at the moment of the step: the bounds of the edges and the
        // invariants of every location the processes are in.
        std::vector<int> low(clocks, 0);
        std::vector<int> high(clocks, -1);
        std::vector<bool> lowStrict(clocks, false);
        std::vector<bool> highStrict(clocks, false);
        auto bound = [&](const Bound& b) {
            const int c = b.clock;
            if (b.low > low[c] || (b.low == low[c] && b.lowStrict)) {
                low[c] = b.low;
                lowStrict[c] = b.lowStrict;
            }
            if (b.high >= 0 && (high[c] < 0 || b.high < high[c] || (b.high == high[c] && b.highStrict))) {
                high[c] = b.high;
                highStrict[c] = b.highStrict;
            }
        };
        for (size_t p = 0; p < at.size(); ++p) {
            const Location& location = processes[p].locations[at[p]];
            if (location.invariantClock >= 0) {
                bound({location.invariantClock, 0, location.invariantBound});
            }
        }
        std::vector<std::string> intGuards;
        std::vector<std::pair<int, int>> resets;
        std::vector<std::string> updates;
        std::vector<int> target = at;
        for (const auto& [p, e] : moves) {
            for (const Bound& b : e->bounds) {
                bound(b);
            }
            if (!e->intGuard.empty()) {
                intGuards.push_back(e->intGuard);
            }
            resets.insert(resets.end(), e->resets.begin(), e->resets.end());
            if (!e->update.empty()) {
                updates.push_back(e->update);
            }
            target[p] = e->target;
        }
        std::vector<std::string> tests;
        // Each clip choice: {the test, the assignment (empty when none)}.
        std::vector<std::vector<std::pair<std::string, std::string>>> choices;
        for (int c = 0; c < clocks; ++c) {
            const std::string lo = "lo" + std::to_string(c);
            const std::string hi = "hi" + std::to_string(c);
            if (high[c] >= 0 && (low[c] > high[c] || (low[c] == high[c] && (lowStrict[c] || highStrict[c])))) {
                return;
            }
            bool reset = false;
            for (const auto& r : resets) {
                reset = reset || r.first == c;
            }
            if (high[c] >= 0) {
                const std::string b = std::to_string(high[c] * lowScale);
                const std::string h = std::to_string(high[c] * highScale);
                tests.push_back(lo + (highStrict[c] ? " < " : " <= ") + b);
                if (!reset) {
                    choices.push_back({{hi + " <= " + h, ""}, {hi + " >= " + h, hi + " = " + h}});
                }
            }
            if (low[c] > 0 || lowStrict[c]) {
                const std::string a = std::to_string(low[c] * highScale);
                const std::string l = std::to_string(low[c] * lowScale);
                tests.push_back(hi + (lowStrict[c] ? " > " : " >= ") + a);
                if (!reset) {
                    choices.push_back({{lo + " >= " + l, ""}, {lo + " <= " + l, lo + " = " + l}});
                }
            }
        }
        std::vector<std::string> sets;
        for (const auto& [clock, value] : resets) {
            sets.push_back("lo" + std::to_string(clock) + " = " + std::to_string(value * lowScale));
            sets.push_back("hi" + std::to_string(clock) + " = " + std::to_string(value * highScale));
        }
        sets.insert(sets.end(), updates.begin(), updates.end());
        std::string from = locationName(at);
        if (urgentSync) {
            // An urgent synchronisation holds time while it is enabled, and has no clock guards.
            const std::string step = "i" + std::to_string(steps++);
            states.push_back(step);
            committed.push_back(step);
            edges.push_back("    " + from + " -> " + step + " {" +
                            (intGuards.empty() ? std::string() : " guard " + join(intGuards, " && ") + ";") +
                            " sync u!; }");
            from = step;
            intGuards.clear();
        }
        // Every combination of the clip choices.
        size_t count = size_t{1} << choices.size();
        for (size_t k = 0; k < count; ++k) {
            std::vector<std::string> guard = tests;
            guard.insert(guard.end(), intGuards.begin(), intGuards.end());
            std::vector<std::string> assign;
            for (size_t i = 0; i < choices.size(); ++i) {
                const auto& choice = choices[i][(k >> i) & 1];
                guard.push_back(choice.first);
                if (!choice.second.empty()) {
                    assign.push_back(choice.second);
                }
            }
            assign.insert(assign.end(), sets.begin(), sets.end());
            std::string label;
            if (!guard.empty()) {
                label += " guard " + join(guard, " && ") + ";";
            }
            if (!assign.empty()) {
                label += " assign " + join(assign, ", ") + ";";
            }
            edges.push_back("    " + from + " -> " + locationName(target) + " {" + label + " }");
        }
    }

    static std::string join(const std::vector<std::string>& parts, const std::string& separator)
    {
        std::string text;
        for (size_t i = 0; i < parts.size(); ++i) {
            text += (i > 0 ? separator : "") + parts[i];
        }
        return text;
    }
};

// Makes the models; each seed gives the same model on every platform.
class Generator
{
public:
    explicit Generator(uint32_t seed) : engine(seed) {}

    Model make(int goalCount)
    {
        Model m;
        m.clocks = chance(15) ? 1 : between(2, 3);
        m.range = between(1, 3);
        m.initial = between(0, m.range);
        const int processes = between(1, 3);
        for (int p = 0; p < processes; ++p) {
            Process process;
            const int locations = between(2, processes == 3 ? 3 : 4);
            for (int l = 0; l < locations; ++l) {
                Location location;
                if (chance(40)) {
                    location.invariantClock = below(m.clocks);
                    location.invariantBound = between(1, 4);
                }
                if (l > 0 && chance(12)) {
                    location.committed = true;
                } else if (l > 0 && chance(10)) {
                    location.urgent = true;
                }
                process.locations.push_back(location);
            }
            // Half of the processes go round their locations in turns of exact length, each turn
            // timed by a clock that the location bounds and the turn resets: exactly, the turns
            // keep their phases for ever; drifting clocks let them slide against each other.
            const bool ring = chance(60);
            if (ring) {
                const int offset = below(m.clocks);
                for (int l = 0; l < locations; ++l) {
                    Location& location = process.locations[l];
                    if (location.committed || location.urgent) {
                        continue;
                    }
                    const int clock = (l + offset) % m.clocks;
                    const int length = chance(60) ? 1 : 2;
                    location.invariantClock = clock;
                    location.invariantBound = length;
                    Edge e;
                    e.source = l;
                    e.target = (l + 1) % locations;
                    e.bounds.push_back({clock, length, chance(70) ? length : -1});
                    e.resets.push_back({clock, 0});
                    process.edges.push_back(e);
                }
            }
            const int edges = ring ? between(0, 2) : between(locations, locations + 3);
            for (int k = 0; k < edges; ++k) {
                Edge e;
                e.source = below(locations);
                e.target = below(locations);
                if (processes > 1) {
                    const int kind = below(100);
                    if (kind < 20) {
                        e.sync = chance(50) ? Sync::send : Sync::receive;
                    } else if (kind < 28) {
                        e.sync = chance(50) ? Sync::urgentSend : Sync::urgentReceive;
                    }
                }
                // Urgent synchronisations have no clock guards; receivers get none either, so
                // that the two ends of a synchronisation never clip the same end of a clock.
                if (e.sync == Sync::none || e.sync == Sync::send) {
                    for (int g = chance(65) ? (chance(30) ? 2 : 1) : 0; g > 0; --g) {
                        e.bounds.push_back(bound(m.clocks));
                    }
                }
                if (chance(30)) {
                    static const char* const relations[] = {"==", "!=", "<", ">"};
                    e.intGuard = std::string("v ") + relations[below(4)] + " " + std::to_string(between(0, m.range));
                }
                if (!e.bounds.empty() && chance(50)) {
                    // A clock reset where it is checked: rounds of exact length, which drift lets
                    // slide against each other.
                    e.resets.push_back({e.bounds.front().clock, 0});
                } else if (chance(45)) {
                    e.resets.push_back({below(m.clocks), chance(85) ? 0 : between(1, 2)});
                }
                if (chance(20) && e.intGuard.empty()) {
                    // A step that stays in range only from the states where its guard holds.
                    const bool down = chance(50);
                    e.intGuard = down ? "v > 0" : "v < " + std::to_string(m.range);
                    e.update = down ? "v = v - 1" : "v = v + 1";
                } else if (chance(35)) {
                    e.update = chance(50) ? "v = (v + 1) % " + std::to_string(m.range + 1)
                                          : "v = " + std::to_string(between(0, m.range));
                }
                process.edges.push_back(e);
            }
            if (chance(30)) {
                // A loop taken only while a clock is 0, which it resets: no time passes on it.
                Edge e;
                e.source = e.target = below(locations);
                const int clock = below(m.clocks);
                e.bounds.push_back({clock, 0, 0});
                e.resets.push_back({clock, 0});
                process.edges.push_back(e);
            }
            // A last location entered only where the clocks stand in a narrow relation: reached
            // exactly or only when the phases slide.
            process.locations.push_back(Location{});
            for (int k = between(1, 3); k > 0; --k) {
                Edge e;
                e.source = below(locations);
                e.target = locations;
                const int first = below(m.clocks);
                const int second = m.clocks > 1 ? (first + between(1, m.clocks - 1)) % m.clocks : first;
                if (second == first) {
                    const int value = between(0, 3);
                    e.bounds.push_back({first, value, value});
                } else {
                    e.bounds.push_back({first, between(1, 3), -1});
                    e.bounds.push_back({second, 0, between(0, 2)});
                }
                process.edges.push_back(e);
            }
            m.processes.push_back(process);
        }
        for (int g = 0; g < goalCount; ++g) {
            Goal goal;
            std::vector<int> order;
            for (int p = 0; p < processes; ++p) {
                order.push_back(p);
            }
            for (int i = processes - 1; i > 0; --i) {
                std::swap(order[i], order[below(i + 1)]);
            }
            for (int a = 0; a < std::min(processes, between(1, 2)); ++a) {
                const int p = order[a];
                const int last = static_cast<int>(m.processes[p].locations.size()) - 1;
                goal.at.push_back({p, chance(60) ? last : below(last)});
            }
            if (chance(30)) {
                goal.value = between(0, m.range);
            }
            m.goals.push_back(goal);
        }
        return m;
    }

private:
    int below(int n) { return static_cast<int>(engine() % static_cast<uint32_t>(n)); }
    int between(int low, int high) { return low + below(high - low + 1); }
    bool chance(int percent) { return below(100) < percent; }

    Bound bound(int clocks)
    {
        const int clock = below(clocks);
        switch (below(5)) {
        case 0: return {clock, 0, between(0, 4)};
        case 1: return {clock, between(1, 4), -1};
        case 2:
        case 3: {
            const int value = between(0, 4);
            return {clock, value, value};
        }
        default: {
            const int low = between(0, 3);
            return {clock, low, low + between(0, 2)};
        }
        }
    }

    std::mt19937 engine;
};

}  // namespace driftmodels
