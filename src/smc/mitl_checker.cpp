#include "smc/mitl_checker.h"

#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>
#include <ostream>
#include <sstream>

#include "pipeline/keys.h"
#include "runtime/system.h"
#include "smc/concrete_delay.h"
#include "smc/concrete_trans.h"
#include "smc/sample_histogram.h"
#include "smc/statistical_job.h"
#include "support/exceptions.h"

namespace {

// Run counts above this cannot be held.
constexpr double largestRunCount = 9.223372036854776e18;

// A copy of the state that owns a copy of its spawned-process table, so that later spawns and
// ends in the run do not change what the copy shows.
std::unique_ptr<ConcreteState> privateCopy(const ConcreteState& state)
{
    std::unique_ptr<SpawnTable> table;
    if (state.spawnTable != nullptr) {
        table = std::make_unique<SpawnTable>(*state.spawnTable);
    }
    auto copy = std::make_unique<ConcreteState>(state);
    copy->spawnTable = table.release();
    copy->ownsSpawnTable = copy->spawnTable != nullptr;
    return copy;
}

}  // namespace

// ---- ConcreteMitlQuery ---------------------------------------------------------------------------

void ConcreteMitlQuery::setProperty(const char* key, void* value)
{
    if (key == PROPERTY_EXPRESSION) {
        auto* expression = static_cast<Expression*>(value);
        formula = MitlRef(dynamic_cast<MitlExpr*>(expression));
    }
}

void ConcreteMitlQuery::restart(const ConcreteState& state)
{
    keep(state);
}

void ConcreteMitlQuery::keep(const ConcreteState& state)
{
    previousState = privateCopy(state);
}

bool ConcreteMitlQuery::put(ConcreteState* state)
{
    if (!formula || !previousState) {
        throw Bug("The MITL monitor has no formula or no start state");
    }
    formula = alterator.alter(formula, previousState.get(), elapsed != nullptr ? *elapsed : 0.0);
    const int32_t d = depthCalculator.depth(formula);
    const int32_t t = termCalculator.terms(formula);
    if (measure) {
        if (!haveDepth || d >= maxDepth) {
            maxDepth = d;
            haveDepth = true;
        }
        if (!haveTerms || t >= maxTerms) {
            maxTerms = t;
            haveTerms = true;
        }
    }
    if (formula->isTrue()) {
        *satisfied = true;
        *decided = true;
    } else if (formula->isFalse()) {
        *satisfied = false;
        *decided = true;
    }
    keep(*state);
    return *satisfied;
}

// ---- ProbaMitl ------------------------------------------------------------------------------------

ProbaMitl::ProbaMitl()
{
    delayStep = addMember(new ConcreteDelay(false));
    transitionStep = addMember(new ConcreteTrans);
    progressStep = addMember(new JobProgressFilter<ConcreteState>);
    monitor = addMember(new ConcreteMitlQuery);
    dummyStep = addMember(new SMCDummySink);
    delayStep->aborted = &aborted;
    delayStep->deadlocked = &deadlocked;
    delayStep->stopConditionMet = &stopConditionMet;
    transitionStep->aborted = &aborted;
    transitionStep->stepCount = &stepCount;
}

ProbaMitl::~ProbaMitl() = default;

ProbaMitl* makeProbaMitl(FilterConfiguration*)
{
    return new ProbaMitl;
}

void ProbaMitl::setProperty(const char* key, void* value)
{
    setCommonProperty(key, value);
    if (key == PROPERTY_JOB) {
        job = dynamic_cast<StatisticalJob*>(static_cast<pipeline::JobInterface*>(value));
        delayStep->setProperty(PROPERTY_SMCDELAYVARIABLE, &lastDelay);
        timeBounded = true;
        if (job != nullptr) {
            const ExpressionRef expression = job->getExpression(0);
            formula = MitlRef(dynamic_cast<MitlExpr*>(expression.get()));
            if (!formula) {
                throw Bug("The MITL check's job holds no formula");
            }
            formula->collectAtoms(atoms);
            atomValues.resize(atoms.size(), false);
        }
    } else if (key == PROPERTY_STATISTICS) {
        statistics = static_cast<StatisticsCollector*>(value);
    } else if (key == PROPERTY_EPSILON) {
        epsilon = *static_cast<double*>(value);
    } else if (key == PROPERTY_ALPHA) {
        alpha = *static_cast<double*>(value);
    } else if (key == PROPERTY_HISTOBARS) {
        histogramBars = *static_cast<int32_t*>(value);
    } else if (key == PROPERTY_HISTOWIDTH) {
        histogramWidth = *static_cast<double*>(value);
    } else if (key == PROPERTY_MEASUREMITLDEPTH) {
        measureDepth = *static_cast<bool*>(value);
        if (measureDepth) {
            monitor->measure = true;
        }
    }
    members.setProperty(key, value);
}

void ProbaMitl::begin()
{
    chainHead = silent ? static_cast<pipeline::Sink<ConcreteState>*>(delayStep) : progressStep;
    progressStep->connect(delayStep);
    delayStep->connect(transitionStep);
    transitionStep->connect(monitor);
    system->addTimeClock();
    system->resetStatistics();
    // Runs have no bound: they last until the formula is decided.
    delayStep->runBound = 0;
    transitionStep->kept = &delayStep->getKept();
    monitor->decided = &decided;
    monitor->satisfied = &satisfied;
    monitor->elapsed = &lastDelay;
    members.begin();
}

void ProbaMitl::end()
{
    if (statistics != nullptr) {
        statistics->removeProvider(this);
    }
    system->removeTimeClock();
    members.end();
}

int ProbaMitl::value(int id)
{
    if (id != 3) {
        return 0;
    }
    // Counts beyond an int are held at its limit rather than wrapped.
    return static_cast<int>(std::min<int64_t>(runsToDo - runsDone, INT_MAX));
}

bool ProbaMitl::atomsChanged(ConcreteState* state)
{
    bool changed = false;
    for (size_t i = 0; i < atoms.size(); ++i) {
        const bool now = atoms[i]->evaluate(state) != 0;
        if (now != atomValues[i]) {
            atomValues[i] = now;
            changed = true;
        }
    }
    return changed;
}

bool ProbaMitl::put(ConcreteState* initial)
{
    if (statistics != nullptr) {
        setCollector(statistics);
        addStatistic(3, "SMC", "Load", "runs");
    }
    // Every process makes all runs itself (the Chernoff-Hoeffding bound for epsilon and alpha).
    const double n = std::ceil(std::log(2 / alpha) / (epsilon * (epsilon + epsilon)));
    if (std::isnan(n) || n > largestRunCount) {
        throw RuntimeException("Overflow in the number of runs: %g", n);
    }
    runsToDo = static_cast<int64_t>(n);
    runsDone = 0;
    start.prepare(system);

    std::vector<double> durations;
    std::vector<double> depths;
    std::vector<double> terminals;
    std::vector<double> rewrites;
    int64_t successes = 0;
    double largestDepth = 0.0;
    double largestTerminals = 0.0;
    bool verdict = true;
    bool zeno = false;

    while (runsDone < runsToDo && !stopRequested) {
        satisfied = false;
        decided = false;
        deadlocked = false;
        stepCount = 0;
        double lastTime = 0.0;
        delayStep->resetRun();
        std::unique_ptr<ConcreteState> state(start.startRun(*initial));
        monitor->formula = formula;
        monitor->restart(*state);
        int64_t steps = 0;
        int64_t zenoSteps = 0;
        double zenoTime = 0.0;
        for (;;) {
            if (deadlocked) {
                // The run cannot go on: one last progression over its final state.
                monitor->put(state.get());
                break;
            }
            if (decided) {
                break;
            }
            lastDelay = 0.0;
            lastTime = boundClockValue(state.get());
            chainHead->put(state.get());
            if (aborted) {
                break;
            }
            if (++zenoSteps > ZenoGuard::stepLimit) {
                const double t = boundClockValue(state.get());
                if (t > zenoTime + 1.0) {
                    zenoTime = t;
                    zenoSteps = 0;
                } else {
                    zeno = true;
                    break;
                }
            }
            ++steps;
            if (start.processesChanged()) {
                transitionStep->begin();
            }
        }
        if (zeno) {
            reportZeno(feedback);
            verdict = false;
            aborted = true;
            break;
        }
        if (aborted) {
            // A simulation error: this run does not count.
            verdict = false;
            break;
        }
        if (satisfied) {
            durations.push_back(std::isinf(lastTime) ? DBL_MAX : lastTime);
            ++successes;
        }
        rewrites.push_back(static_cast<double>(steps));
        depths.push_back(monitor->maxDepth);
        terminals.push_back(monitor->maxTerms);
        if (static_cast<double>(monitor->maxDepth) >= largestDepth) {
            largestDepth = monitor->maxDepth;
        }
        if (static_cast<double>(monitor->maxTerms) >= largestTerminals) {
            largestTerminals = monitor->maxTerms;
        }
        monitor->haveDepth = false;
        monitor->haveTerms = false;
        ++runsDone;
    }

    const bool cutShort = runsDone < runsToDo && !aborted;
    if (runsDone < runsToDo) {
        // A check cut short by a stop request has no estimate: it is reported as aborted rather
        // than as a share of runs that were never made.
        aborted = true;
        verdict = false;
    }
    if (!aborted) {
        const double total = static_cast<double>(runsToDo);
        const double p = runsToDo > 0 ? static_cast<double>(successes) / total : 0.0;
        if (job != nullptr) {
            job->setEstimate(p, p - epsilon > 0 ? p - epsilon : 0.0, p + epsilon < 1 ? p + epsilon : 1.0);
            job->getHistogram().fill(true, static_cast<uint64_t>(std::max(histogramBars, 0)), durations, runsToDo,
                                     "run duration in time", histogramWidth);
        }
    }
    if (feedback != nullptr) {
        if (!aborted) {
            *feedback = "(" + std::to_string(runsDone) + " runs) ";
        }
        // Nor are the sizes measured over part of the runs reported.
        if (measureDepth && !cutShort) {
            std::ostringstream report;
            report << "Maximal depth of intermediate formulas: " << largestDepth << "\n";
            report << "Maximal Number of terminals: " << largestTerminals << "\n";
            printMeasureSeries(report, depths, "Size of formulas");
            printMeasureSeries(report, terminals, "Number of terminals");
            printMeasureSeries(report, rewrites, "Number of rewrites");
            *feedback = report.str();
        }
    }
    emit(verdict);
    start.table.clear();
    return verdict;
}

void printMeasureSeries(std::ostream& os, const std::vector<double>& values, const std::string& name)
{
    os << name << ": ";
    double sum = 0.0;
    double squares = 0.0;
    for (double v : values) {
        os << v << " ";
        sum += v;
        squares += v * v;
    }
    os << "\n";
    const double count = static_cast<double>(values.size());
    const double mean = sum / count;
    os << "Average size: " << mean << "\n";
    os << "Variance: " << squares / count - mean * mean << "\n";
}
