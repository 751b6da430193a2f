#include "driver/command_line.h"

#include <cinttypes>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "driver/options.h"
#include "support/arith.h"
#include "support/globals.h"
#include "support/random.h"

namespace {

constexpr const char* optionString = "AB:CD:E:F:H:NMP:R:S:TVWZa:bc:df:hi:j:k:l:n:o:p:qr:st:uvw:yYx:X:L:m";

// A double option takes a number in the open interval (0, 1); anything else, a word included
// (which reads as 0), leaves the option as it was.
void readProbability(const char* text, double& field)
{
    const double x = std::strtod(text, nullptr);
    if (x > 0.0 && x < 1.0) {
        field = x;
    }
}

// The integer options accept exactly one converted number in 0..limit; the comparison is
// unsigned, so negative numbers fail too.
bool readSmallInt(const char* text, unsigned limit, int& value)
{
    int x = 0;
    if (std::sscanf(text, "%d", &x) != 1 || static_cast<unsigned>(x) > limit) {
        return false;
    }
    value = x;
    return true;
}

int fail(const char* message)
{
    std::fputs(message, stderr);
    return 1;
}

int tryHelp(const char* argv0)
{
    std::fprintf(stderr, "Try `%s -h' for more information.\n", argv0);
    return 1;
}

std::optional<std::string> replaceLast(const std::string& name, const char* pattern)
{
    const std::size_t at = name.rfind(pattern);
    if (at == std::string::npos) {
        return std::nullopt;
    }
    std::string guess = name;
    guess.replace(at, std::strlen(pattern), ".q");
    return guess;
}

} // namespace

int readOptions(int argc, char** argv)
{
    VerifierOptions& o = verifierOptions;
    TraceOutputSettings& t = traceOutputSettings;
    optind = 0;  // a full restart of getopt, so that a command line can be read more than once
    int c;
    while ((c = getopt(argc, argv, optionString)) != -1) {
        switch (c) {
        case 'A': o.representation = 3; break;
        case 'B': readProbability(optarg, o.beta); break;
        case 'C': o.representation = 0; break;
        case 'D': readProbability(optarg, o.discretisationStep); break;
        case 'E': readProbability(optarg, o.epsilon); break;
        case 'F': {
            const double x = std::strtod(optarg, nullptr);
            if (x > 0.0) {
                o.samplingTime = x;
            }
            break;
        }
        case 'H':
            // Only a text with no number at all is refused here; an empty one keeps the
            // previous value, which the range check below then sees.
            if (std::sscanf(optarg, "%u", &o.hashBits) == 0 || o.hashBits < 5 || o.hashBits > 32) {
                return fail("-H used with invalid argument.\n");
            }
            break;
        case 'L':
            o.smcLog = true;
            o.smcLogFile = optarg;
            break;
        case 'M': o.modestUpdates = true; break;
        case 'P': readProbability(optarg, o.deltaPlus); break;
        case 'R': {
            const long x = std::strtol(optarg, nullptr, 10);
            if (x > 255 && x <= INT32_MAX) {
                o.resolution = static_cast<int>(x);
            }
            break;
        }
        case 'S':
            if (!readSmallInt(optarg, 3, o.spaceOptimisation)) {
                return fail("-S used with invalid integer argument.\n");
            }
            break;
        case 'T': o.reuse = true; break;
        case 'V': o.coverage = true; break;
        case 'W': o.warnings = false; break;
        case 'Z': o.representation = 2; break;
        case 'a': readProbability(optarg, o.alpha); break;
        case 'b': o.searchOrder = 0; break;
        case 'c': o.parametricComparison = std::strtol(optarg, nullptr, 10) != 0; break;
        case 'd': o.searchOrder = 1; break;
        case 'f':
            std::strncpy(t.traceFilePrefix, optarg, TraceOutputSettings::prefixSize - 1);
            t.traceFilePrefix[TraceOutputSettings::prefixSize - 1] = '\0';
            t.traceToFiles = true;
            t.symbolicTraces = true;
            break;
        case 'h':
            printUsage(stdout, argv[0]);
            return 1;
        case 'i': o.u0 = std::strtod(optarg, nullptr); break;
        case 'j': o.u1 = std::strtod(optarg, nullptr); break;
        case 'm': o.measureMitlDepth = true; break;
        case 'n':
            if (!readSmallInt(optarg, 4, o.extrapolation)) {
                return fail("-n used with invalid argument\n");
            }
            break;
        case 'o':
            if (!readSmallInt(optarg, 4, o.searchOrder)) {
                return fail("-o used with invalid argument");
            }
            break;
        case 'p': readProbability(optarg, o.deltaMinus); break;
        case 'q': t.quiet = true; break;
        case 'r': {
            long value = 0;
            if (std::sscanf(optarg, "%ld", &value) != 1) {
                return fail("-r used with invalid argument.\n");
            }
            seed = value;
            break;
        }
        case 's': showProgress = false; break;
        case 't': {
            int kind = 0;
            if (!readSmallInt(optarg, 2, kind)) {
                return fail("-t used with invalid argument.\n");
            }
            static constexpr int traceKinds[] = {1, 2, 2};
            static constexpr int optimisations[] = {0, 3, 1};
            o.traceKind = traceKinds[kind];
            o.traceOptimisation = optimisations[kind];
            break;
        }
        case 'u': showSummary = true; break;
        case 'v':
            printVersion(stdout);
            return 0;
        case 'w': {
            const double x = std::strtod(optarg, nullptr);
            o.histogramBarWidth = x < 0.0 ? 0.0 : x;
            break;
        }
        case 'x':
            if (*optarg == '\0') {
                return fail("-x used with invalid argument.\n");
            }
            o.saveFileName = optarg;
            break;
        case 'X':
            xmlTracePrefix = optarg;
            xmlTraceWanted = true;
            break;
        case 'y':
            t.symbolicTraces = true;
            t.preStable = false;
            break;
        case 'Y':
            t.symbolicTraces = true;
            t.preStable = true;
            break;
        default:
            // Unknown letters, missing arguments and the letters without a meaning (N, k, l).
            std::fprintf(stderr, "Unknown option: -%c.\n", c);
            break;
        }
    }

    o.collectStatistics = showSummary || showProgress;
    if (o.traceOptimisation != 0 && o.reuse) {
        std::fputs("Cannot reuse state space when trace length optimisation is used.\n", stderr);
    }
    if (o.reuse && o.representation == 2) {
        return fail("Cannot optimize time consumption when bit-state hashing is used.");
    }
    return continueRun;
}

std::optional<std::string> guessQueryFile(const std::string& modelName)
{
    for (const char* suffix : {".xml", ".xta", ".ta"}) {
        if (auto guess = replaceLast(modelName, suffix)) {
            return guess;
        }
    }
    return std::nullopt;
}

int readArguments(int argc, char** argv, int first)
{
    const int count = argc - first;
    if (count == 1) {
        modelFileName = argv[first];
        const auto guess = guessQueryFile(modelFileName);
        if (!guess) {
            std::fprintf(stderr, "%s: unrecognized input format, can't guess the query file\n", argv[0]);
            return tryHelp(argv[0]);
        }
        queryFileName = *guess;
        queryFileGiven = false;
        return continueRun;
    }
    if (count == 2) {
        modelFileName = argv[first];
        queryFileName = argv[first + 1];
        queryFileGiven = true;
        return continueRun;
    }
    std::fprintf(stderr, "%s: invalid number of arguments\n", argv[0]);
    return tryHelp(argv[0]);
}

void printUsage(std::FILE* out, const char* argv0)
{
    const char* slash = std::strrchr(argv0, '/');
    const char* program = slash != nullptr ? slash + 1 : argv0;
    std::fprintf(out,
                 "Usage: %s [OPTION]... MODEL QUERY\n"
                 "where MODEL is a model file and QUERY is a query file.\n"
                 "If QUERY is missing it will be guessed.\n",
                 program);
    std::fprintf(out,
                 "\nTuning options:\n"
                 "  -A  Use convex-hull approximation.\n"
                 "  -C  Disable most memory reduction techniques.\n"
                 "  -H n \n"
                 "      Set hash table size for bit state hashing to 2**n\n"
                 "      (default = %u)\n",
                 verifierOptions.hashBits);
    std::fputs("  -n <0|1|2|3|4>\n"
               "      Select extrapolation operator.\n"
               "        0: Automatic\n"
               "        1: No extrapolation (use with care)\n"
               "        2: Difference extrapolation\n"
               "        3: Location based extrapolation\n"
               "        4: Lower/upper extrapolation\n"
               "  -o <0|1|2|3|4>\n"
               "      Select search order.\n"
               "        0: Breadth first (default, -b too)\n"
               "        1: Depth first (-d too)\n"
               "        2: Random depth first\n"
               "        3: Optimal first (requires -t1 or -t2)\n"
               "        4: Random optimal depth first (requires -t1 or -t2)\n"
               "  -S <0|1|2>\n"
               "      Optimize space consumption (0 = none, 1 = default, 2 = most)\n"
               "  -T  Reuse state space when several properties are examined.\n"
               "  -Z  Use bit-state hashing.\n"
               "\nOptions for trace generation:\n"
               "  -f prefix\n"
               "      Write symbolic traces to files 'prefix-n.xtr' rather than to stderr.\n"
               "  -t <0|1|2>\n"
               "      Generate diagnostic information on stderr.\n"
               "        0: Some trace\n"
               "        1: Shortest trace (disables reuse)\n"
               "        2: Fastest trace (disables reuse)\n"
               "  -y  Display traces symbolically (post-stable).\n"
               "  -Y  Display traces symbolically (pre- and post-stable).\n"
               "\nMiscellaneous options:\n"
               "  -h  Shows this help screen.\n"
               "  -q  Do not display the option summary.\n"
               "  -r seed\n"
               "      Set seed for random number generator (default is current time).\n"
               "  -s  Do not display the progress indicator.\n"
               "  -u  Show summary after verification (incorrect for liveness properties).\n"
               "  -v  Show version number.\n"
               "  -x filename\n"
               "      Save the (modified) system in XML format, in file 'filename'.\n"
               "      If the system has been modified, an associated query file is created.\n"
               "  -X prefix\n"
               "      Save the symbolic trace in file 'prefixPropertynumber.xml'\n"
               "  -p double\n"
               "      lower (delta) probabilistic uncertainty.\n"
               "  -P double\n"
               "      upper (delta) probabilistic uncertainty.\n"
               "  -a double\n"
               "      probability of false negatives (alpha).\n"
               "  -B double\n"
               "      probability of false positives (beta).\n"
               "  -E double\n"
               "      probability uncertainty (epsilon).\n"
               "  -i double\n"
               "      threshold u0 for comparing probabilities.\n"
               "  -j double\n"
               "      threshold u1 for comparing probabilities.\n"
               "  -w double\n"
               "      histogram bar width.\n"
               "  -c 0|1\n"
               "      activate (1) or not (0) the SMC parametric comparison.\n"
               "  -V activate SMC coverage.\n"
               "  -R simulation resolution (pixels).\n"
               "  -D discretization step size (time) for hybrid systems.\n"
               "  -M activate Modest semantics for updates.\n"
               "  -L filename\n"
               "     logs the outcomes of the simulations for probability evaluations.\n"
               "  -F double\n"
               "     outputs to a file a sampling of simulations (when simulate is used).\n"
               "\nThe ordering of options is significant.\n"
               "\nEnvironment variables:\n"
               "  MIRVEK_DUMP_STATE          output a state satisfying the property.\n"
               "  MIRVEK_DISABLE_SWEEPLINE   disable sweepline method\n"
               "  MIRVEK_DISABLE_OPTIMISER   disable peephole optimiser\n"
               "  MIRVEK_DISABLE_SYMMETRY    disable symmetry reduction\n"
               "  MIRVEK_COMPILE_ONLY        write compiled model to stdout and stop\n"
               "  MIRVEK_OLD_SYNTAX          read models in the older syntax\n"
               "\nThe value of these variables does not matter. Defining them is\n"
               "enough to activate the feature in question.\n",
               out);
}

void printVersion(std::FILE* out)
{
    std::fputs("Mirvek version 0.1\n", out);
}

void printOptionSummary(std::FILE* out)
{
    static constexpr const char* traceNames[] = {"no trace",      "some trace",     "",
                                                 "fastest trace", "slowest trace", "shortest trace"};
    static constexpr const char* orderNames[] = {"breadth first", "depth first",
                                                 "random depth first", "optimal first",
                                                 "random optimal depth first", "smallest heur first"};
    static constexpr const char* spaceNames[] = {"no", "conservative", "aggressive", "extreme"};
    static constexpr const char* representationNames[] = {
        "difference bound matrices", "minimal constraint systems", "bit state hashing",
        "convex hull approximation"};

    const VerifierOptions& o = verifierOptions;
    std::fputs("Options for the verification:\n", out);
    std::fprintf(out, "  Generating %s\n", traceNames[o.traceKind + o.traceOptimisation]);
    std::fprintf(out, "  Search order is %s\n", orderNames[o.searchOrder]);
    const unsigned space = static_cast<unsigned>(o.spaceOptimisation);
    std::fprintf(out, "  Using %s space optimisation\n", spaceNames[space < 3 ? space : 3]);
    if (o.reuse) {
        std::fputs("  Using reuse optimisation\n", out);
    }
    std::fprintf(out, "  Seed is %" PRId64 "\n", seed);
    if (o.representation == 2) {
        // 2^hashBits bits are 2^(hashBits - 3) bytes, shown in the largest unit that keeps
        // the figure whole.
        std::fputs("  Hash table size for bit state hashing is ", out);
        if (o.hashBits <= 12) {
            std::fprintf(out, "%llu bytes\n", 1ULL << (o.hashBits - 3));
        } else if (o.hashBits <= 22) {
            std::fprintf(out, "%llu KB\n", 1ULL << (o.hashBits - 13));
        } else {
            std::fprintf(out, "%llu MB\n", 1ULL << (o.hashBits - 23));
        }
    }
    std::fprintf(out, "  State space representation uses %s%s\n",
                 representationNames[o.representation & 0x0f],
                 (o.representation & 0x10) != 0 ? " with future testing" : "");
}

namespace {

// The low 32 bits of the seed, as the 32-bit generators take it.
int32_t lowSeed()
{
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(seed)));
}

} // namespace

void seedRandomGenerators()
{
    std::srand(static_cast<unsigned>(lowSeed()));
    // Each process gets its own sequence: (rank + 1) x seed, wrapping in 32 bits.
    const int32_t value = base::mulWrap(base::addWrap(processRank, 1), lowSeed());
    srandom(static_cast<unsigned>(value));
    setRandomSeedCounter(value);
}

void seedCoordinator()
{
    srand48(static_cast<long>(seed));
    setRandomSeedCounter(lowSeed());
}
