#pragma once

// Small random models for tests that compare two ways of answering the same queries: a few
// processes of a few locations over one or two clocks and bounded integers, with invariants,
// clock and integer guards, clock resets (to zero and to other values), updates that stay in
// range, and on request committed locations, a broadcast channel whose receivers have clock
// guards, and priorities. Each seed gives the same model and queries on every platform.

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace randommodels {

struct Features
{
    bool committed = false;
    bool broadcast = false;
    bool priorities = false;
};

struct Model
{
    std::string text;
    std::vector<std::string> queries;
    // Every location, as "P0.l1".
    std::vector<std::string> locations;
};

class Generator
{
public:
    explicit Generator(uint32_t seed) : engine(seed) {}

    Model make(const Features& features, int queryCount)
    {
        Model m;
        const int clocks = between(1, 2);
        const int variables = between(1, 2);
        std::vector<int> ranges;
        for (int v = 0; v < variables; ++v) {
            ranges.push_back(between(1, 3));
            m.text += "int[0," + std::to_string(ranges[v]) + "] v" + std::to_string(v) + " = " +
                      std::to_string(between(0, ranges[v])) + ";\n";
        }
        for (int c = 0; c < clocks; ++c) {
            m.text += "clock x" + std::to_string(c) + ";\n";
        }
        m.text += "chan h;\n";
        if (features.broadcast) {
            m.text += "broadcast chan b;\n";
        }
        if (features.priorities && features.broadcast && chance(50)) {
            m.text += "chan priority h < b;\n";
        }
        const int processes = between(2, 3);
        std::vector<int> sizes;
        for (int p = 0; p < processes; ++p) {
            const int locations = between(2, 4);
            sizes.push_back(locations);
            for (int l = 0; l < locations; ++l) {
                m.locations.push_back("P" + std::to_string(p) + ".l" + std::to_string(l));
            }
            std::vector<std::string> declared;
            std::vector<std::string> committed;
            for (int l = 0; l < locations; ++l) {
                std::string location = "l" + std::to_string(l);
                if (chance(30)) {
                    location += " { " + clock(clocks) + " <= " + std::to_string(between(0, 4)) + " }";
                }
                declared.push_back(location);
                if (features.committed && l > 0 && chance(35)) {
                    committed.push_back("l" + std::to_string(l));
                }
            }
            std::vector<std::string> edges;
            const int edgeCount = between(locations, locations + 3);
            for (int e = 0; e < edgeCount; ++e) {
                const int source = below(locations);
                const int target = below(locations);
                std::string label = edge(clocks, ranges, features);
                if (features.broadcast && e == 0) {
                    // Every model broadcasts: the first process sends, into a committed location
                    // when there are such, and the others receive where a clock allows, each
                    // leaving a mark in a variable.
                    if (p == 0) {
                        label = " sync b!;";
                        if (features.committed && target > 0 &&
                            std::find(committed.begin(), committed.end(), "l" + std::to_string(target)) ==
                                committed.end()) {
                            committed.push_back("l" + std::to_string(target));
                        }
                    } else {
                        const int v = below(static_cast<int>(ranges.size()));
                        const std::string name = "v" + std::to_string(v);
                        label = " guard " + clock(clocks) + " >= " + std::to_string(between(1, 3)) + "; sync b?; assign " +
                                name + " = (" + name + " + 1) % " + std::to_string(ranges[v] + 1) + ";";
                    }
                }
                edges.push_back("    l" + std::to_string(source) + " -> l" + std::to_string(target) + " {" + label +
                                " }");
            }
            m.text += "process P" + std::to_string(p) + "() {\n  state " + join(declared, ", ") + ";\n";
            if (!committed.empty()) {
                m.text += "  commit " + join(committed, ", ") + ";\n";
            }
            m.text += "  init l0;\n  trans\n" + join(edges, ",\n") + ";\n}\n";
        }
        std::vector<std::string> names;
        for (int p = 0; p < processes; ++p) {
            names.push_back("P" + std::to_string(p));
        }
        m.text += "system " + join(names, features.priorities && chance(50) ? " < " : ", ") + ";\n";

        for (int q = 0; q < queryCount; ++q) {
            std::vector<std::string> atoms;
            for (int a = between(1, 2); a > 0; --a) {
                const int p = below(processes);
                atoms.push_back("P" + std::to_string(p) + ".l" + std::to_string(below(sizes[p])));
            }
            if (chance(50)) {
                const int v = below(variables);
                atoms.push_back("v" + std::to_string(v) + " == " + std::to_string(between(0, ranges[v])));
            }
            if (chance(30)) {
                atoms.push_back(clock(clocks) + (chance(50) ? " < " : " > ") + std::to_string(between(1, 4)));
            }
            const std::string goal = join(atoms, " && ");
            m.queries.push_back(chance(50) ? "E<> " + goal : "A[] !(" + goal + ")");
        }
        return m;
    }

private:
    // Uniform enough for tests, and the same everywhere (the standard distributions are not).
    int below(int n) { return static_cast<int>(engine() % static_cast<uint32_t>(n)); }
    int between(int low, int high) { return low + below(high - low + 1); }
    bool chance(int percent) { return below(100) < percent; }
    std::string clock(int clocks) { return "x" + std::to_string(below(clocks)); }

    std::string edge(int clocks, const std::vector<int>& ranges, const Features& features)
    {
        static const char* const clockRelations[] = {"<=", ">=", "<", ">", "=="};
        static const char* const relations[] = {"<", ">", "==", "!="};
        std::vector<std::string> guards;
        if (chance(50)) {
            guards.push_back(clock(clocks) + " " + clockRelations[below(5)] + " " + std::to_string(between(0, 4)));
        }
        if (chance(40)) {
            const int v = below(static_cast<int>(ranges.size()));
            guards.push_back("v" + std::to_string(v) + " " + relations[below(4)] + " " +
                             std::to_string(between(0, ranges[v])));
        }
        std::string sync;
        const int kind = below(100);
        if (features.broadcast && kind < 30) {
            sync = chance(40) ? " sync b!;" : " sync b?;";
            if (sync == " sync b?;" && (guards.empty() || guards[0][0] != 'x')) {
                // Receivers guarded by clocks: they take part in a part of the zone only.
                guards.insert(guards.begin(), clock(clocks) + " >= " + std::to_string(between(1, 3)));
            }
        } else if (kind < 40) {
            sync = chance(50) ? " sync h!;" : " sync h?;";
        }
        std::vector<std::string> updates;
        if (chance(50)) {
            const int v = below(static_cast<int>(ranges.size()));
            const std::string name = "v" + std::to_string(v);
            updates.push_back(name + " = (" + name + " + " + std::to_string(between(1, 2)) + ") % " +
                              std::to_string(ranges[v] + 1));
        }
        if (chance(40)) {
            static const int values[] = {0, 0, 0, 1, 2};
            updates.push_back(clock(clocks) + " = " + std::to_string(values[below(5)]));
        }
        std::string text;
        if (!guards.empty()) {
            text += " guard " + join(guards, " && ") + ";";
        }
        text += sync;
        if (!updates.empty()) {
            text += " assign " + join(updates, ", ") + ";";
        }
        return text;
    }

    static std::string join(const std::vector<std::string>& parts, const std::string& separator)
    {
        std::string text;
        for (size_t i = 0; i < parts.size(); ++i) {
            text += (i > 0 ? separator : "") + parts[i];
        }
        return text;
    }

    std::mt19937 engine;
};

}  // namespace randommodels
