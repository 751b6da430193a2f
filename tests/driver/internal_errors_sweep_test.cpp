// A small sweep over every model fixture and example: each is checked with its own queries and
// with queries made from its compiled layout (clocks compared with truth values among them),
// under the default options and one search or representation option; no run may end with an
// internal-error text. A run that takes longer than a few seconds is not judged.
// tools/sweep-exceptions makes the full sweep: every option, every trace kind, more queries and
// the benchmark models.

#include <algorithm>
#include <csignal>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "program_runner.h"

namespace {

// The refusals the verifier documents: a model, query or option it does not handle.
const std::regex refusal("Property cannot be checked on this system\\.|"
                         "Clock guards are not allowed on urgent edges\\.|"
                         "Cannot use search order based on an optimality criterion without an optimality "
                         "criterion\\.|"
                         "Cannot find slowest or fastest trace for models with difference constraints\\.|"
                         "Local extrapolation is used with diagonal constraints\\.|"
                         "Invalid bound value\\.|Invalid run value\\.|"
                         "Location \\S+ has unbounded delay but no positive rate\\.|"
                         "\\[.*\\] Clock rate\\(-?[0-9]+\\) must be 0 or 1\\.|"
                         "\\[.*\\] Conflicting \\S+'==1\\.?|"
                         "Hybrid clock \\S+ should not be active in .*");

struct Layout
{
    std::vector<std::string> locations;
    std::vector<std::string> clocks;
    std::vector<std::string> variables;
};

// The processes' locations, the clocks and the integer variables of a compiled-model dump.
Layout readLayout(const std::string& dump)
{
    std::vector<std::vector<std::string>> layout;
    std::vector<std::vector<std::string>> processes;
    std::vector<std::vector<std::string>> locations;
    std::vector<std::vector<std::string>>* section = nullptr;
    std::istringstream in(dump);
    std::string line;
    while (std::getline(in, line)) {
        if (line == "layout") {
            section = &layout;
        } else if (line == "processes") {
            section = &processes;
        } else if (line == "locations") {
            section = &locations;
        } else if (line.empty() || line == "instructions" || line == "edges" || line == "expressions") {
            section = line.empty() ? section : nullptr;
        } else if (section != nullptr && line[0] != '#') {
            std::vector<std::string> fields;
            std::istringstream words(line);
            std::string field;
            while (std::getline(words, field, ':')) {
                fields.push_back(field);
            }
            section->push_back(fields);
        }
    }
    auto find = [](const std::vector<std::vector<std::string>>& rows, const std::string& index) -> const
        std::vector<std::string>* {
        for (const auto& row : rows) {
            if (!row.empty() && row[0] == index) {
                return &row;
            }
        }
        return nullptr;
    };
    const std::regex name("[A-Za-z_][A-Za-z_0-9.()\\[\\]]*");
    Layout result;
    for (const auto& row : layout) {
        if (row.size() < 3 || !std::regex_match(row.back(), name)) {
            continue;
        }
        if (row[1] == "clock" && row[2] != "0") {
            result.clocks.push_back(row.back());
        } else if (row[1] == "var") {
            result.variables.push_back(row.back());
        } else if (row[1] == "location") {
            const auto* location = find(locations, row[0]);
            const auto* process = location != nullptr && location->size() > 1 ? find(processes, (*location)[1]) : nullptr;
            if (process != nullptr && std::regex_match(process->back(), name)) {
                result.locations.push_back(process->back() + "." + row.back());
            }
        }
    }
    return result;
}

// Queries that mostly end early: a goal found soon or a safety property broken in the initial
// state. The full sweep adds the ones that explore everything (deadlock, sup and inf).
std::string madeQueries(const Layout& layout)
{
    std::string q = "E<> true\n";
    if (!layout.locations.empty()) {
        q += "E<> " + layout.locations.back() + "\n";
    }
    if (!layout.clocks.empty()) {
        const std::string& c = layout.clocks.front();
        q += "E<> " + c + " == true\nA[] " + c + " < false\nE<> " + c + " > 1 && " + c + " != (1 > 2)\n";
        if (layout.clocks.size() > 1) {
            q += "E<> " + c + " - " + layout.clocks[1] + " == true\n";
        }
        if (!layout.variables.empty()) {
            q += "E<> " + c + " <= " + layout.variables.front() + "\n";
        }
    }
    if (!layout.variables.empty()) {
        q += "E<> " + layout.variables.front() + " == true\n";
    }
    return q;
}

class InternalErrorsSweep : public ProgramTest
{
protected:
    // Runs the program as run does; a run that takes longer than the limit is stopped and not
    // judged (the flag tells).
    RunResult runWithin(const std::vector<std::string>& args, const std::vector<std::string>& env, bool& finished)
    {
        const pid_t pid = start(args, env);
        finished = false;
        if (pid == 0) {
            return RunResult();
        }
        for (int waited = 0; waited < 300; ++waited) {
            int status = 0;
            if (waitpid(pid, &status, WNOHANG) == pid) {
                finished = true;
                RunResult result;
                result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                result.out = slurp(dir / "stdout");
                result.err = slurp(dir / "stderr");
                return result;
            }
            usleep(10000);
        }
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        return RunResult();
    }
};

} // namespace

TEST_F(InternalErrorsSweep, NoModelOrOptionEndsWithAnInternalErrorText)
{
    std::vector<fs::path> models;
    for (const fs::path& folder : {fs::path(MIRVEK_TEST_MODELS), fs::path(MIRVEK_EXAMPLES)}) {
        for (const auto& entry : fs::directory_iterator(folder)) {
            const std::string suffix = entry.path().extension().string();
            if (suffix == ".xta" || suffix == ".ta" || suffix == ".xml") {
                models.push_back(entry.path());
            }
        }
    }
    std::sort(models.begin(), models.end());
    ASSERT_GT(models.size(), 20u);

    const std::vector<std::vector<std::string>> options = {{"-o", "1"}, {"-A"}, {"-C"}, {"-Z", "-H", "16"},
                                                           {"-S", "0"}, {"-S", "2"}, {"-o", "2"}};
    size_t runs = 0;
    for (size_t m = 0; m < models.size(); ++m) {
        const fs::path& model = models[m];
        const std::string name = "m" + model.extension().string();
        fs::copy_file(model, dir / name, fs::copy_options::overwrite_existing);
        std::vector<std::string> env;
        if (model.extension() == ".ta") {
            env.push_back("MIRVEK_OLD_SYNTAX=1");
        }
        std::vector<std::string> queryFiles;
        fs::path own = model;
        own.replace_extension(".q");
        if (fs::exists(own)) {
            fs::copy_file(own, dir / "own.q", fs::copy_options::overwrite_existing);
            queryFiles.push_back("own.q");
        } else if (model.extension() == ".xml") {
            queryFiles.push_back("");
        }
        std::vector<std::string> compileOnly = env;
        compileOnly.push_back("MIRVEK_COMPILE_ONLY=1");
        const RunResult dump = run({"-q", "-s", name}, compileOnly);
        if (dump.status == 0) {
            file("made.q", madeQueries(readLayout(dump.out)));
            queryFiles.push_back("made.q");
        }
        for (const std::string& queries : queryFiles) {
            // The model's own queries under the default options; the made ones also under one
            // other option, a different one from model to model.
            std::vector<std::vector<std::string>> chosen = {{}};
            if (queries == "made.q") {
                chosen.push_back(options[m % options.size()]);
            }
            for (const std::vector<std::string>& option : chosen) {
                std::vector<std::string> args = {"-q", "-s", "-r", "1"};
                args.insert(args.end(), option.begin(), option.end());
                args.push_back(name);
                if (!queries.empty()) {
                    args.push_back(queries);
                }
                bool finished = false;
                const RunResult r = runWithin(args, env, finished);
                if (!finished) {
                    continue;
                }
                ++runs;
                std::string command;
                for (const std::string& a : args) {
                    command += " " + a;
                }
                SCOPED_TRACE(model.filename().string() + ":" + command + (queries == "made.q" ? "\n" + slurp(dir / "made.q") : ""));
                EXPECT_TRUE(r.status == 0 || r.status == 1) << "status " << r.status << "\n" << r.out << r.err;
                const std::string output = r.out + r.err;
                EXPECT_EQ(output.find("UNKNOWN EXCEPTION"), std::string::npos) << output;
                std::istringstream lines(output);
                std::string line;
                while (std::getline(lines, line)) {
                    if (line.starts_with("EXCEPTION: ")) {
                        EXPECT_TRUE(std::regex_match(line.substr(11), refusal)) << line;
                    }
                }
            }
        }
    }
    // Most runs end within the limit.
    EXPECT_GT(runs, models.size());
}
