#include "smc/proba_checker.h"

#include <cerrno>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <iostream>
#include <memory>

#include "language/node_kind.h"
#include "pipeline/keys.h"
#include "runtime/concrete_state.h"
#include "runtime/exceptions.h"
#include "runtime/process.h"
#include "runtime/system.h"
#include "smc/communicator.h"
#include "smc/concrete_delay.h"
#include "smc/concrete_trans.h"
#include "smc/coordinator.h"
#include "smc/run_record.h"
#include "smc/sample_histogram.h"
#include "smc/statistical_job.h"
#include "support/exceptions.h"

namespace {

// Runs of an estimate above this cannot be counted.
constexpr double largestRunCount = 9.223372036854776e18;

// How a process's share of an estimate ended, agreed on by all processes before they combine
// their counts: the largest of them wins.
enum Completion : int { Complete = 0, Stopped = 1, Aborted = 2 };

// How a check ended on one process, agreed on by all after the exchange: without an error, with
// an evaluation error (the job runner reports it and goes on with the next query), or with an
// error that ends the program, marked with the process's rank. The largest wins.
constexpr int noFailure = 0;
constexpr int evaluationFailure = 1;
constexpr int fatalFailure = 1 << 20;

int failureCode(const std::exception_ptr& failure, int rank)
{
    if (!failure) {
        return noFailure;
    }
    try {
        std::rethrow_exception(failure);
    } catch (const CannotEvaluateExpression&) {
        return evaluationFailure;
    } catch (const CompileError&) {
        return evaluationFailure;
    } catch (...) {
        return fatalFailure + rank;
    }
}

}  // namespace

ProbaChecker::ProbaChecker()
{
    delayStep = addMember(new ConcreteDelay(true));
    transitionStep = addMember(new ConcreteTrans);
    queryStep = addMember(new ConcreteQuery);
    progressStep = addMember(new JobProgressFilter<ConcreteState>);
    delayStep->aborted = &aborted;
    delayStep->deadlocked = &deadlocked;
    delayStep->stopConditionMet = &stopConditionMet;
    delayStep->querySink = queryStep;
    transitionStep->aborted = &aborted;
    transitionStep->stepCount = &stepCount;
    queryStep->done = &done;
    queryStep->satisfied = &satisfied;
}

ProbaChecker::~ProbaChecker() = default;

ProbaChecker* makeProbaChecker(FilterConfiguration*)
{
    return new ProbaChecker;
}

void ProbaChecker::setProperty(const char* key, void* value)
{
    setCommonProperty(key, value);
    if (key == PROPERTY_STOP) {
        // The user's interrupt; the other processes are stopped by messages instead.
        stopRequestedByUser = true;
    }
    if (key == PROPERTY_JOB) {
        job = static_cast<pipeline::JobInterface*>(value);
        statisticalJob = dynamic_cast<StatisticalJob*>(job);
        if (statisticalJob != nullptr) {
            const int32_t type = statisticalJob->getPropertyType();
            negateOutcome = type == 7 || type == 9;
            runBound = statisticalJob->getRunBound();
            timeBounded = statisticalJob->getRunBoundKind() != 0;
            if (statisticalJob->getRunBoundKind() >= 2) {
                boundClockExpression = statisticalJob->lastExpression();
                delayStep->setBoundClock(boundClockExpression);
            }
            if (type == 10) {
                const ExpressionRef condition = statisticalJob->getExpression(1);
                delayStep->setProperty(PROPERTY_SMCSTOPCONDITION, condition.get());
            }
        }
    } else if (key == PROPERTY_OPTIONTRACE) {
        traceKind = *static_cast<int32_t*>(value);
    } else if (key == PROPERTY_STATISTICS) {
        statistics = static_cast<StatisticsCollector*>(value);
    } else if (key == PROPERTY_PROBABILITY) {
        theta = *static_cast<double*>(value);
        estimate = theta <= 0;
    } else if (key == PROPERTY_DELTAMINUS) {
        deltaMinus = *static_cast<double*>(value);
    } else if (key == PROPERTY_DELTAPLUS) {
        deltaPlus = *static_cast<double*>(value);
    } else if (key == PROPERTY_ALPHA) {
        alpha = *static_cast<double*>(value);
    } else if (key == PROPERTY_BETA) {
        beta = *static_cast<double*>(value);
    } else if (key == PROPERTY_EPSILON) {
        epsilon = *static_cast<double*>(value);
    } else if (key == PROPERTY_HISTOBARS) {
        histogramBars = *static_cast<int32_t*>(value);
    } else if (key == PROPERTY_HISTOWIDTH) {
        histogramWidth = *static_cast<double*>(value);
    } else if (key == PROPERTY_SMCLOG) {
        logOutcomes = *static_cast<bool*>(value);
    } else if (key == PROPERTY_SMCLOGFILENAME) {
        logFileName = static_cast<const char* const*>(value);
    } else if (key == PROPERTY_SMCSTRATEGY) {
        strategy = static_cast<base::Object*>(value);
    }
    members.setProperty(key, value);
}

void ProbaChecker::begin()
{
    if (world().rank() != 0) {
        silent = true;
    }
    progressStep->connect(delayStep);
    delayStep->connect(transitionStep);
    transitionStep->connect(queryStep);
    chainHead = silent ? static_cast<pipeline::Sink<ConcreteState>*>(delayStep) : progressStep;
    system->addTimeClock();
    system->resetStatistics();
    transitionStep->kept = &delayStep->getKept();
    members.begin();
    if (statistics != nullptr) {
        setCollector(statistics);
        addStatistic(3, "SMC", "Load", "runs");
    }
}

void ProbaChecker::end()
{
    if (statistics != nullptr) {
        statistics->removeProvider(this);
    }
    system->removeTimeClock();
    members.end();
}

int ProbaChecker::value(int id)
{
    if (id != 3) {
        return 0;
    }
    // The runs still to do by all processes, supposing that the others are as far as this one:
    // an estimate knows its number of runs; a test only has a guess, which the runs may exceed.
    const double processes = static_cast<double>(world().size());
    const double planned = estimate && runsPerProcess > 0
                               ? static_cast<double>(runsPerProcess) * processes
                               : std::ceil(std::log(2 / alpha) / (2 * epsilon * epsilon) / 1.9);
    const double left = planned - static_cast<double>(runs) * processes;
    // Large estimates exceed an int; the figure is then held at the int's limit.
    if (!(left < static_cast<double>(INT_MAX))) {
        return std::isnan(left) ? 0 : INT_MAX;
    }
    return left > 0 ? static_cast<int>(left) : 0;
}

ConcreteState* ProbaChecker::startRun(ConcreteState* initial)
{
    auto state = std::make_unique<ConcreteState>(*initial);
    state->spawnTable = &spawnTable;
    state->ownsSpawnTable = false;
    const std::vector<base::RefPtr<Process>>& spawnable = system->getDynamicProcesses();
    if (state->getDynamicSlotCount() < spawnable.size()) {
        state->growLocationVector(spawnable.size() - state->getDynamicSlotCount());
    }
    for (SpawnRecord& record : spawnTable) {
        record.liveCount = 0;
        record.liveNumbers.clear();
    }
    for (const base::RefPtr<Process>& process : spawnable) {
        if (static_cast<size_t>(process->getNumber()) < state->getSlotCount()) {
            state->setLocation(static_cast<uint32_t>(process->getNumber()), nullptr);
        }
    }
    return state.release();
}

std::string ProbaChecker::histogramLabel() const
{
    const ZOLT::expression_t formula = statisticalJob->getFormula();
    if (formula.empty() || formula.getSize() == 0) {
        return "values";
    }
    const ZOLT::expression_t bound = formula[0];
    if (bound.getKind() == ZOLT::CONSTANT) {
        switch (bound.getValue()) {
        case 0:
            return "run length in steps";
        case 1:
            return "run duration in time";
        default:
            break;
        }
    }
    return bound.toString(false);
}

void ProbaChecker::estimationEnd(SMCCoordinator& coordinator, std::vector<double>& values)
{
    smc::Communicator& world = this->world();
    const bool coordinatorRank = world.rank() == 0;
    // Every process reaches this point, whether its share is done or not, and all agree before
    // any of them enters a collective call that the others might never join.
    int completion = Complete;
    if (aborted) {
        completion = Aborted;
        coordinator.sendAbort();
    } else if (runs < runsPerProcess) {
        completion = Stopped;
    }
    if (completion != Complete) {
        coordinator.stopWorkers();
    }
    const int agreed = world.agreeMax(completion);
    if (agreed != Complete) {
        result = false;
        if (agreed == Aborted && coordinatorRank) {
            aborted = true;
        }
        return;
    }

    const int64_t mine[3] = {successes, recordedValues, runs};
    int64_t totals[3] = {0, 0, 0};
    world.reduceSum(mine, totals, 3, 0);
    const int processes = world.size();
    std::vector<int64_t> counts(static_cast<size_t>(processes), 0);
    world.gather(recordedValues, counts.data(), 0);
    if (coordinatorRank) {
        successes = totals[0];
        runs = totals[2];
        values.resize(static_cast<size_t>(totals[1]), 0.0);
        std::vector<smc::Request> requests(static_cast<size_t>(processes - 1));
        int64_t offset = counts[0];
        for (int w = 1; w < processes; ++w) {
            world.irecv(values.data() + offset, static_cast<int>(counts[static_cast<size_t>(w)]),
                        smc::DataType::Double, w, w + 3, requests[static_cast<size_t>(w - 1)]);
            offset += counts[static_cast<size_t>(w)];
        }
        world.waitAll(requests.data(), processes - 1);
    } else {
        world.send(values.data(), static_cast<int>(recordedValues), smc::DataType::Double, 0, world.rank() + 3);
    }

    const double k = static_cast<double>(successes);
    const double n = static_cast<double>(runs);
    if (statisticalJob != nullptr) {
        statisticalJob->setEstimate(k / n, lowerProbabilityBound(k, n, alpha), upperProbabilityBound(k, n, alpha));
    }
    result = true;
    if (coordinatorRank && statisticalJob != nullptr) {
        statisticalJob->getHistogram().fill(timeBounded, static_cast<uint64_t>(std::max(histogramBars, 0)), values,
                                            runs, histogramLabel(), histogramWidth);
    }
}

bool ProbaChecker::put(ConcreteState* initial)
{
    smc::Communicator& world = this->world();
    const bool coordinatorRank = world.rank() == 0;

    // The spawned-process table of the runs: the spawnable instances of each dynamic template.
    spawnTable.assign(system->dynamicTemplates.size(), SpawnRecord{});
    for (const base::RefPtr<Process>& process : system->getDynamicProcesses()) {
        const int32_t t = process->dynamicTemplateIndex;
        if (t >= 0 && static_cast<size_t>(t) < spawnTable.size()) {
            SpawnRecord& record = spawnTable[static_cast<size_t>(t)];
            process->poolSlot = static_cast<int32_t>(record.processes.size());
            record.processes.push_back(process);
        }
    }
    size_t instances = system->getDynamicProcesses().size();
    smc::setFailureShared(false);

    successes = recordedValues = runs = 0;
    double testSum = 0;
    double a = 0;
    double b = 0;
    double lo = 0;
    double hi = 0;
    if (!estimate) {
        const double p0 = theta + deltaPlus;
        const double p1 = theta - deltaMinus;
        // The parameters are the same on every process, so all of them refuse them together.
        if (!(p0 > 0 && p0 < 1)) {
            smc::setFailureShared(true);
            throw RuntimeException("Invalid theta+delta = %g", p0);
        }
        if (!(p1 > 0 && p1 < 1)) {
            smc::setFailureShared(true);
            throw RuntimeException("Invalid theta-delta = %g", p1);
        }
        a = std::log(p1 / p0);
        b = std::log((1 - p1) / (1 - p0));
        lo = std::log(beta / (1 - alpha));
        hi = std::log((1 - beta) / alpha);
        runsPerProcess = 0;
    } else {
        const double n = std::log(2 / alpha) / (epsilon * 2 * epsilon);
        if (n > largestRunCount) {
            smc::setFailureShared(true);
            throw RuntimeException("Overflow in the number of runs: %g", n);
        }
        runsPerProcess = static_cast<int64_t>(std::ceil(n / world.size()));
    }

    // The outcome log and kept traces are written by rank 0 alone, so that they appear once.
    std::FILE* log = nullptr;
    std::string logText;
    if (logOutcomes && coordinatorRank) {
        const char* name = logFileName != nullptr ? *logFileName : nullptr;
        log = name != nullptr ? std::fopen(name, "w") : nullptr;
        if (log == nullptr) {
            std::cerr << "Cannot open the simulation log file " << (name != nullptr ? name : "(none)") << ": "
                      << (name != nullptr ? std::strerror(errno) : "no file name") << "\n";
        }
    }
    const bool dumpStates = std::getenv("MIRVEK_DUMP_STATE") != nullptr;
    std::vector<double> values;
    std::unique_ptr<RunRecord> keptTrace;
    std::exception_ptr failure;
    SMCCoordinator coordinator(world);
    result = false;
    // Whether the test reached its decision or the estimate made all its runs.
    bool decided = false;

    try {
        coordinator.setTest(a, b, lo, hi);
        coordinator.postBatchReceives();
        coordinator.postStopReceive();
        while (!stopRequested) {
            deadlocked = stopConditionMet = false;
            stepCount = 0;
            done = satisfied = false;
            if (coordinator.stopReceived()) {
                // A worker is stopped by rank 0; rank 0 hears this way that a worker aborted.
                stopRequested = true;
                result = false;
                aborted = coordinatorRank;
                break;
            }
            if (!estimate && coordinatorRank && coordinator.shouldPoll()) {
                const int decision = coordinator.poll(&testSum);
                if (decision >= 0) {
                    result = decision == 0;
                    decided = true;
                    break;
                }
            }
            std::unique_ptr<RunRecord> record;
            if (traceKind != 0 && coordinatorRank && (traceKind == 2 || keptTrace == nullptr)) {
                record = std::make_unique<RunRecord>(initial);
            }
            delayStep->recorder = record.get();
            transitionStep->recorder = record.get();
            delayStep->resetRun();
            std::unique_ptr<ConcreteState> state(startRun(initial));
            queryStep->put(state.get());

            ZenoGuard zeno(0.3);
            while (!done && !stopConditionMet && !deadlocked) {
                if (!timeBounded) {
                    if (stepCount >= runBound) {
                        done = true;
                        break;
                    }
                } else {
                    const double t = boundClockValue(state.get());
                    if (t > runBound) {
                        done = true;
                        break;
                    }
                    if (!zeno.beforeStep(t)) {
                        reportZeno(feedback);
                        result = false;
                        aborted = true;
                        break;
                    }
                }
                if (system->getDynamicProcesses().size() != instances) {
                    transitionStep->begin();
                    instances = system->getDynamicProcesses().size();
                }
                chainHead->put(state.get());
                if (aborted) {
                    break;
                }
            }
            delayStep->recorder = nullptr;
            transitionStep->recorder = nullptr;
            if (aborted) {
                // An aborted run has no outcome.
                result = false;
                break;
            }

            const bool success = done && satisfied && !stopConditionMet && !deadlocked &&
                                 (!timeBounded || boundClockValue(state.get()) <= runBound + DBL_EPSILON);
            if (success && record != nullptr) {
                bool keep = keptTrace == nullptr || traceKind == 1;
                if (!keep) {
                    keep = timeBounded ? boundClockValue(keptTrace->finalState()) > boundClockValue(state.get())
                                       : stepCount < keptTrace->transitionCount();
                }
                if (keep) {
                    record->setFinalState(*state);
                    keptTrace = std::move(record);
                }
            }
            const bool outcome = success != negateOutcome;
            if (log != nullptr) {
                logText += outcome ? '1' : '0';
                std::fputc(outcome ? '1' : '0', log);
            }
            if (dumpStates) {
                std::cerr << (outcome ? "1" : "0") << " ";
                state->print(std::cerr, nullptr);
            }
            ++runs;
            if (!estimate) {
                ++coordinator.batchRuns;
                coordinator.batchSuccesses += outcome ? 1 : 0;
                if (coordinator.batchRuns == SMCCoordinator::batchSize) {
                    int decision = -1;
                    if (coordinatorRank) {
                        decision = coordinator.addOwnBatch(&testSum);
                    } else {
                        coordinator.sendBatch();
                    }
                    coordinator.batchRuns = 0;
                    coordinator.batchSuccesses = 0;
                    if (decision >= 0) {
                        result = decision == 0;
                        decided = true;
                        break;
                    }
                }
            } else {
                successes += outcome ? 1 : 0;
                if (success) {
                    values.push_back(timeBounded ? boundClockValue(state.get()) : static_cast<double>(stepCount));
                    ++recordedValues;
                }
                if (runs == runsPerProcess) {
                    break;
                }
            }
        }
    } catch (...) {
        // The other processes must still be released: this one takes part in the rest of the
        // exchange as an aborted process and passes the failure on afterwards.
        failure = std::current_exception();
        aborted = true;
        result = false;
    }
    delayStep->recorder = nullptr;
    transitionStep->recorder = nullptr;

    if (estimate) {
        try {
            estimationEnd(coordinator, values);
        } catch (...) {
            if (!failure) {
                failure = std::current_exception();
            }
            aborted = true;
            result = false;
        }
    }
    if (aborted) {
        coordinator.sendAbort();
    }
    coordinator.finish();

    // An error that ends the program on one process ends it on all, else the others would wait
    // for it in the next query; an evaluation error ends only this query, which the others then
    // see as aborted.
    const int mine = failureCode(failure, world.rank());
    const int agreed = world.agreeMax(mine);
    // A test reports the runs of every process (an estimate has combined them already). Every
    // process takes part here, before any of them leaves with an error.
    if (!estimate) {
        int64_t total = 0;
        world.reduceSum(&runs, &total, 1, 0);
        if (coordinatorRank) {
            runs = total;
        }
    }

    if (log != nullptr) {
        std::fclose(log);
    }
    if (agreed >= fatalFailure) {
        smc::setFailureShared(true);
        if (mine < fatalFailure) {
            throw RuntimeException("The statistical check failed on process %d.", agreed - fatalFailure);
        }
    }
    if (failure) {
        std::rethrow_exception(failure);
    }
    // A check the user stopped before it decided has no verdict: its false result says nothing
    // about the property, and the runs it made are no result either.
    if (estimate) {
        decided = result;
    }
    interrupted = stopRequestedByUser && !decided;
    if (!aborted && !interrupted && feedback != nullptr) {
        *feedback = "(" + std::to_string(runs) + " runs) ";
    }
    if (log != nullptr) {
        std::cout << "Simulations log: [" << logText << "]\n";
    }
    if (keptTrace != nullptr) {
        std::unique_ptr<ConsoleSerializer> serializer(ConsoleSerializer::create());
        printConcreteTrace(*keptTrace, std::cout, *serializer);
    }
    emit(result);
    return result;
}
