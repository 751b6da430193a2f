#pragma once

#include <cstdio>
#include <optional>
#include <string>

// Reading the command line into the options record and the driver's settings. Each step either
// lets the run go on (it returns continueRun) or says with which status the process must end,
// after it has printed its message.
constexpr int continueRun = -1;

// Reads the options of argv with getopt, in order (a later option overrides an earlier one), then
// settles the statistics switch and the combinations that exclude each other. Unknown options are
// reported and skipped. On return optind is the index of the first argument after the options.
int readOptions(int argc, char** argv);

// Takes the model and the query file from the arguments argv[first..argc-1]: one argument names
// the model and the query file is guessed from it, two name both.
int readArguments(int argc, char** argv, int first);

// The query file guessed for a model: the last ".xml" of the name replaced by ".q", else the last
// ".xta", else the last ".ta" (case-sensitive, anywhere in the name); nothing when none occurs.
std::optional<std::string> guessQueryFile(const std::string& modelName);

// The help screen; the program name is the part of argv[0] after its last "/".
void printUsage(std::FILE* out, const char* argv0);

void printVersion(std::FILE* out);

// The settings of the verification, printed before the queries run.
void printOptionSummary(std::FILE* out);

// Seeds the system library's generators and the counter of the simulation generators from the
// seed and the process rank. seedRandomGenerators runs before the options are read; the process
// of rank 0 calls seedCoordinator after them, so that a seed given with -r takes effect there.
void seedRandomGenerators();
void seedCoordinator();
