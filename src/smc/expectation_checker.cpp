#include "smc/expectation_checker.h"

#include <exception>
#include <iostream>
#include <memory>

#include "language/node_kind.h"
#include "pipeline/keys.h"
#include "runtime/concrete_state.h"
#include "runtime/system.h"
#include "smc/concrete_delay.h"
#include "smc/concrete_trans.h"
#include "smc/sample_histogram.h"
#include "smc/statistical_job.h"
#include "smc/statistical_query.h"

namespace {

// How a process's share of the runs ended, agreed on by all processes before they combine their
// values: the largest of them wins.
enum Completion : int { Complete = 0, Stopped = 1, Aborted = 2 };

}  // namespace

ProbaEChecker::ProbaEChecker()
{
    delayStep = addMember(new ConcreteDelay(false));
    transitionStep = addMember(new ConcreteTrans);
    valueStep = addMember(new ConcreteValue(&valueCell));
    progressStep = addMember(new JobProgressFilter<ConcreteState>);
    delayStep->aborted = &aborted;
    delayStep->deadlocked = &deadlocked;
    delayStep->querySink = valueStep;
    transitionStep->aborted = &aborted;
    transitionStep->stepCount = &stepCount;
}

ProbaEChecker::~ProbaEChecker() = default;

ProbaEChecker* makeProbaEChecker(FilterConfiguration*)
{
    return new ProbaEChecker;
}

void ProbaEChecker::setProperty(const char* key, void* value)
{
    setCommonProperty(key, value);
    if (key == PROPERTY_JOB) {
        auto* given = static_cast<pipeline::JobInterface*>(value);
        job = dynamic_cast<StatisticalJob*>(given);
        query = dynamic_cast<StatisticalQuery*>(given);
        if (job != nullptr) {
            runBound = job->getRunBound();
            timeBounded = job->getRunBoundKind() != 0;
            if (job->getRunBoundKind() >= 2) {
                boundClockExpression = job->lastExpression();
                delayStep->setBoundClock(boundClockExpression);
            }
        }
    } else if (key == PROPERTY_NBRUNS) {
        runCount = *static_cast<int32_t*>(value);
    } else if (key == PROPERTY_HISTOBARS) {
        histogramBars = *static_cast<int32_t*>(value);
    } else if (key == PROPERTY_HISTOWIDTH) {
        histogramWidth = *static_cast<double*>(value);
    } else if (key == PROPERTY_SMCSTRATEGY) {
        strategy = static_cast<base::Object*>(value);
    }
    members.setProperty(key, value);
}

void ProbaEChecker::begin()
{
    chainHead = silent ? static_cast<pipeline::Sink<ConcreteState>*>(delayStep) : progressStep;
    progressStep->connect(delayStep);
    delayStep->connect(transitionStep);
    transitionStep->connect(valueStep);
    transitionStep->kept = &delayStep->getKept();
    valueStep->clockValued = query != nullptr && query->isValueClock();
    system->addTimeClock();
    system->resetStatistics();
    members.begin();
}

void ProbaEChecker::end()
{
    system->removeTimeClock();
    members.end();
}

bool ProbaEChecker::run(ConcreteState* initial, bool maximising, double& extreme)
{
    deadlocked = false;
    stepCount = 0;
    delayStep->resetRun();
    std::unique_ptr<ConcreteState> state(start.startRun(*initial));
    // The initial state's value is the first candidate.
    valueStep->put(state.get());
    double current = valueCell;
    ZenoGuard zeno(0.3);
    for (;;) {
        if (deadlocked) {
            break;
        }
        if (!timeBounded) {
            if (runBound <= stepCount) {
                break;
            }
        } else {
            const double t = boundClockValue(state.get());
            if (static_cast<double>(runBound) < t) {
                break;
            }
            if (!zeno.beforeStep(t)) {
                reportZeno(feedback);
                aborted = true;
                return false;
            }
        }
        // The value of the state before this step; a NaN never replaces the extreme.
        const double v = valueCell;
        if (maximising ? v > current : v < current) {
            current = v;
        }
        if (start.processesChanged()) {
            transitionStep->begin();
        }
        chainHead->put(state.get());
        if (aborted) {
            return false;
        }
    }
    extreme = current;
    return true;
}

std::string ProbaEChecker::label() const
{
    const ZOLT::expression_t formula = job->getFormula();
    if (formula.empty() || formula.getSize() < 5) {
        return "values";
    }
    const ZOLT::expression_t aggregate = formula[4];
    const bool maximum =
        aggregate.getKind() == ZOLT::CONSTANT ? aggregate.getValue() != 0 : query->getMaximise() != 0;
    return (maximum ? "max: " : "min: ") + formula[3].toString(false);
}

void ProbaEChecker::combine(std::vector<double>& values, int64_t runsDone)
{
    smc::Communicator& w = world();
    const int processes = w.size();
    const bool root = w.rank() == 0;
    // Each process's values and their sum; rank 0 receives the others' blocks after its own.
    double sum = 0;
    for (double v : values) {
        sum += v;
    }
    if (processes > 1) {
        if (root) {
            values.resize(static_cast<size_t>(processes) * static_cast<size_t>(runsDone), 0.0);
            std::vector<smc::Request> requests(static_cast<size_t>(processes - 1));
            for (int r = 1; r < processes; ++r) {
                w.irecv(values.data() + static_cast<size_t>(r) * static_cast<size_t>(runsDone),
                        static_cast<int>(runsDone), smc::DataType::Double, r, processes + r,
                        requests[static_cast<size_t>(r - 1)]);
            }
            w.waitAll(requests.data(), processes - 1);
            for (int r = 1; r < processes; ++r) {
                double block = 0;
                for (int64_t k = 0; k < runsDone; ++k) {
                    block += values[static_cast<size_t>(r) * static_cast<size_t>(runsDone) + static_cast<size_t>(k)];
                }
                sum += block;
            }
        } else {
            w.send(values.data(), static_cast<int>(runsDone), smc::DataType::Double, 0, processes + w.rank());
        }
    }
    runCount = static_cast<int64_t>(processes) * runsDone;
    if (!root || job == nullptr || query == nullptr) {
        return;
    }
    query->setValue(sum / static_cast<double>(runCount));
    const ZOLT::expression_t formula = job->getFormula();
    const bool continuous = formula.getSize() < 4 || !formula[3].getType().isIntegral();
    job->getHistogram().fill(continuous, static_cast<uint64_t>(std::max(histogramBars, 0)), values, runCount, label(),
                             histogramWidth);
}

bool ProbaEChecker::put(ConcreteState* initial)
{
    smc::Communicator& w = world();
    const int processes = w.size();
    const bool root = w.rank() == 0;
    const bool maximising = query == nullptr || query->getMaximise() != 0;
    // The runs of this process: N shared out, rounded up.
    const int64_t share = runCount > 0 ? (processes + runCount - 1) / processes : 0;

    start.prepare(system);
    std::vector<double> values;
    values.reserve(static_cast<size_t>(share));
    // A worker that has to give up tells rank 0, which then starts no further run.
    smc::Request abortReceive;
    if (root && processes > 1) {
        w.irecv(nullptr, 0, smc::DataType::Int, smc::anySource, processes, abortReceive);
    }
    bool abortHeard = false;
    int64_t runsDone = 0;
    std::exception_ptr failure;
    try {
        while (runsDone < share && !stopRequested) {
            if (root && processes > 1 && w.test(abortReceive)) {
                abortHeard = true;
                aborted = true;
                stopRequested = true;
                break;
            }
            double extreme = 0;
            if (!run(initial, maximising, extreme)) {
                break;
            }
            values.push_back(extreme);
            ++runsDone;
        }
    } catch (...) {
        // The other processes must still be released: this one ends its share as aborted and
        // passes the failure on afterwards.
        failure = std::current_exception();
        aborted = true;
    }

    int64_t abortSent = 0;
    if (!root && aborted) {
        if (!failure && feedback != nullptr) {
            std::cerr << *feedback << "\n";
        }
        w.send(nullptr, 0, smc::DataType::Int, 0, processes);
        abortSent = 1;
    }
    const int mine = aborted ? Aborted : (runsDone < share ? Stopped : Complete);
    const int agreed = processes > 1 ? w.agreeMax(mine) : mine;
    if (processes > 1) {
        // Every abort message is received, so that none is left for the next query.
        if (agreed == Aborted) {
            int64_t total = 0;
            w.reduceSum(&abortSent, &total, 1, 0);
            if (root) {
                int64_t received = abortHeard ? 1 : 0;
                if (!abortHeard && total > 0) {
                    w.wait(abortReceive);
                    received = 1;
                } else if (!abortHeard) {
                    w.cancel(abortReceive);
                }
                for (; received < total; ++received) {
                    w.recv(nullptr, 0, smc::DataType::Int, smc::anySource, processes);
                }
            }
        } else if (root) {
            w.cancel(abortReceive);
        }
    }

    bool verdict = true;
    if (agreed == Complete) {
        try {
            combine(values, runsDone);
        } catch (...) {
            if (!failure) {
                failure = std::current_exception();
            }
            aborted = true;
        }
    } else {
        // A check cut short has no mean: it is reported as aborted, never as a partial value.
        verdict = false;
        aborted = aborted || root;
    }
    if (failure) {
        std::rethrow_exception(failure);
    }
    if (aborted) {
        verdict = false;
    } else if (feedback != nullptr) {
        *feedback = "(" + std::to_string(runCount) + " runs) ";
    }
    emit(verdict);
    return verdict;
}
