#include "smc/simulator.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>

#include "pipeline/keys.h"
#include "runtime/concrete_state.h"
#include "runtime/system.h"
#include "smc/concrete_delay.h"
#include "smc/concrete_trans.h"
#include "smc/post_delay.h"
#include "smc/statistical_job.h"
#include "smc/statistical_query.h"
#include "support/exceptions.h"

namespace {

// Closes a file when it goes out of scope, also when an exception leaves the simulation.
struct FileCloser
{
    std::FILE*& file;
    ~FileCloser()
    {
        if (file != nullptr) {
            std::fclose(file);
            file = nullptr;
        }
    }
};

}  // namespace

ProbaSimulator::ProbaSimulator()
{
    delayStep = addMember(new ConcreteDelay(false));
    prePostStep = addMember(new PrePostDelay);
    postStep = addMember(new PostDelay);
    transitionStep = addMember(new ConcreteTrans);
    progressStep = addMember(new JobProgressFilter<ConcreteState>);
    dummyStep = addMember(new SMCDummySink);
    queryStep = addMember(new ConcreteQuery);
    delayStep->aborted = &aborted;
    delayStep->deadlocked = &deadlocked;
    transitionStep->aborted = &aborted;
    transitionStep->stepCount = &stepCount;
    prePostStep->stepCount = &stepCount;
    postStep->stepCount = &stepCount;
}

ProbaSimulator::~ProbaSimulator() = default;

ProbaSimulator* makeProbaSimulator(FilterConfiguration*)
{
    return new ProbaSimulator;
}

void ProbaSimulator::setProperty(const char* key, void* value)
{
    setCommonProperty(key, value);
    if (key == PROPERTY_JOB) {
        auto* given = static_cast<pipeline::JobInterface*>(value);
        job = dynamic_cast<StatisticalJob*>(given);
        auto* query = dynamic_cast<StatisticalQuery*>(given);
        results = query != nullptr ? &query->getSimulation() : nullptr;
        if (job != nullptr) {
            runBound = job->getRunBound();
            timeBounded = job->getRunBoundKind() != 0;
            if (job->getRunBoundKind() >= 2) {
                boundClockExpression = job->lastExpression();
                delayStep->setBoundClock(boundClockExpression);
            }
        }
        if (results != nullptr) {
            hasAcceptingPredicate = results->hasAcceptingPredicate;
            acceptingPredicate = results->acceptingPredicate;
        }
    } else if (key == PROPERTY_SMCRESOLUTION) {
        resolution = *static_cast<int32_t*>(value);
    } else if (key == PROPERTY_STATISTICS) {
        statistics = static_cast<StatisticsCollector*>(value);
    } else if (key == PROPERTY_SMCSAMPLINGTIME) {
        samplingTime = *static_cast<double*>(value);
    }
    members.setProperty(key, value);
}

void ProbaSimulator::begin()
{
    chainHead = silent ? static_cast<pipeline::Sink<ConcreteState>*>(delayStep) : progressStep;
    pipeline::Sink<ConcreteState>* last = hasAcceptingPredicate ? static_cast<pipeline::Sink<ConcreteState>*>(queryStep)
                                                                : dummyStep;
    progressStep->connect(delayStep);
    delayStep->connect(prePostStep);
    prePostStep->connect(postStep);
    postStep->connect(transitionStep);
    transitionStep->connect(last);
    system->addTimeClock();
    system->resetStatistics();
    queryStep->done = &decided;
    queryStep->satisfied = &accepted;
    if (hasAcceptingPredicate) {
        queryStep->setProperty(PROPERTY_EXPRESSION, acceptingPredicate.get());
        delayStep->setProperty(PROPERTY_EXPRESSION, acceptingPredicate.get());
        delayStep->querySink = queryStep;
    }
    if (timeBounded) {
        delayStep->runBound = runBound;
    }
    transitionStep->kept = &delayStep->getKept();
    members.begin();
}

void ProbaSimulator::end()
{
    if (statistics != nullptr) {
        statistics->removeProvider(this);
    }
    system->removeTimeClock();
    members.end();
}

int ProbaSimulator::value(int id)
{
    return id == 3 ? static_cast<int32_t>(runsRequested - runsTried) : 0;
}

void ProbaSimulator::addPoint(SimulationSeries& series, ObservationRecord& record, double t, double value)
{
    Trajectory& trajectory = series.trajectories[static_cast<size_t>(results->keptRuns)];
    record.stored = addTrajectoryPoint(t, value, step, trajectory, record, series.name);
    record.time = t;
    record.value = value;
}

void ProbaSimulator::observe(ConcreteState* state, double time, bool firstOfRun)
{
    const size_t existing = results->series.size();
    const size_t slots = static_cast<size_t>(results->keptRuns) + 1;

    // New instances of the series that range over a dynamic template's processes.
    bool ranging = false;
    std::vector<std::pair<SimulationSeries*, int32_t>>& created = pending;
    created.clear();
    for (SimulationSeries& series : results->series) {
        if (!series.expression->isForeach() || series.instanceProcess != -1) {
            continue;
        }
        ranging = true;
        const int32_t t = series.expression->getTemplateIndex();
        if (state->spawnTable == nullptr || t < 0 || static_cast<size_t>(t) >= state->spawnTable->size()) {
            continue;
        }
        const SpawnRecord& record = (*state->spawnTable)[static_cast<size_t>(t)];
        for (int64_t k = 0; k < record.liveCount && static_cast<size_t>(k) < record.liveNumbers.size(); ++k) {
            const int32_t number = record.liveNumbers[static_cast<size_t>(k)];
            if (!std::binary_search(present.begin(), present.end(), number)) {
                created.emplace_back(&series, number);
            }
            seen.push_back(number);
        }
    }
    if (ranging) {
        std::sort(seen.begin(), seen.end());
        seen.erase(std::unique(seen.begin(), seen.end()), seen.end());
        present.swap(seen);
        seen.clear();
    }

    // The series that existed before this observation.
    size_t i = 0;
    for (SimulationSeries& series : results->series) {
        if (i == existing) {
            break;
        }
        ObservationRecord& record = records[i++];
        if (series.instanceProcess != -1 && !series.instanceEnded &&
            !std::binary_search(present.begin(), present.end(), series.instanceProcess)) {
            series.instanceEnded = true;
        }
        double value = 0;
        if (sampleSeries(series, state, value)) {
            addPoint(series, record, time, value);
        }
    }

    // The series of the new instances start with this observation.
    for (const auto& [ranger, number] : created) {
        SimulationSeries series;
        series.name = ranger->expression->getName();
        series.expression = ranger->expression;
        series.instanceProcess = number;
        series.trajectories.resize(slots);
        double value = 0;
        sampleSeries(series, state, value);
        ObservationRecord record{true, time, value};
        record.stored = addTrajectoryPoint(time, value, step, series.trajectories[slots - 1], record, series.name);
        results->series.push_back(std::move(series));
        records.push_back(record);
        previousValues.push_back(value);
    }

    resample(time, existing, firstOfRun);
}

void ProbaSimulator::resample(double time, size_t seriesBefore, bool firstOfRun)
{
    if (samplingFile == nullptr) {
        return;
    }
    if (time == 0 || firstOfRun) {
        for (size_t i = 0; i < records.size(); ++i) {
            previousValues[i] = records[i].value;
        }
        nextSample = samplingTime;
        return;
    }
    if (!sampleLineWritten) {
        std::fprintf(samplingFile, "%g", previousTime);
        for (size_t i = 0; i < seriesBefore; ++i) {
            std::fprintf(samplingFile, " %g", previousValues[i]);
        }
        std::fputc('\n', samplingFile);
        sampleLineWritten = true;
    }
    while (nextSample <= time) {
        std::fprintf(samplingFile, "%g", nextSample);
        const double share = (nextSample - previousTime) / (time - previousTime);
        for (size_t i = 0; i < seriesBefore; ++i) {
            std::fprintf(samplingFile, " %g", previousValues[i] + (records[i].value - previousValues[i]) * share);
        }
        std::fputc('\n', samplingFile);
        nextSample += samplingTime;
    }
    for (size_t i = 0; i < records.size(); ++i) {
        previousValues[i] = records[i].value;
    }
}

bool ProbaSimulator::put(ConcreteState* initial)
{
    if (statistics != nullptr) {
        setCollector(statistics);
        addStatistic(3, "SMC", "Load", "runs");
    }
    if (results == nullptr) {
        throw Bug("A simulation needs the job's simulation results");
    }

    records.assign(results->series.size(), ObservationRecord{});
    step = static_cast<double>(runBound) / static_cast<double>(resolution);
    for (TrajectoryStage* stage : {static_cast<TrajectoryStage*>(prePostStep), static_cast<TrajectoryStage*>(postStep)}) {
        stage->records = &records;
        stage->step = step;
    }
    runsTried = 0;
    // A request for no runs (or fewer) makes none.
    runsRequested = std::max<int64_t>(results->runs, 0);
    results->keptRuns = 0;
    present.clear();

    FileCloser closeSampling{samplingFile};
    FileCloser closeTail{tailFile};
    previousValues.assign(records.size(), 0.0);
    // A file that cannot be written is reported; the simulation goes on without it.
    auto open = [](const char* name) {
        std::FILE* file = std::fopen(name, "w");
        if (file == nullptr) {
            std::cerr << "Cannot open " << name << ": " << std::strerror(errno) << "\n";
        }
        return file;
    };
    if (samplingTime != 0) {
        samplingFile = open("sampling.log");
    }
    if (std::getenv("MIRVEK_DUMP_STATE") != nullptr) {
        tailFile = open("simulation_tail.log");
    }
    for (SimulationSeries& series : results->series) {
        series.trajectories.clear();
        series.instanceProcess = -1;
    }
    // Only values that change during a delay need the state from before it.
    bool anyTimeDependent = false;
    for (const SimulationSeries& series : results->series) {
        anyTimeDependent = anyTimeDependent || series.expression->timeDependent;
    }
    delayStep->setKeepBefore(anyTimeDependent);
    start.prepare(system);

    while (!stopRequested && runsTried < runsRequested) {
        const size_t slots = static_cast<size_t>(results->keptRuns) + 1;
        for (SimulationSeries& series : results->series) {
            if (series.trajectories.size() < slots) {
                series.trajectories.resize(slots);
            }
        }
        for (ObservationRecord& record : records) {
            record.stored = true;
        }
        prePostStep->slot = results->keptRuns;
        postStep->slot = results->keptRuns;
        deadlocked = false;
        stepCount = 0;
        delayStep->resetRun();
        std::unique_ptr<ConcreteState> state(start.startRun(*initial));
        accepted = decided = false;
        ZenoGuard zeno(0.3);
        sampleLineWritten = false;
        bool first = true;
        double time = 0;

        for (;;) {
            if (aborted) {
                break;
            }
            bool more = true;
            if (!timeBounded) {
                time = static_cast<double>(stepCount);
                more = stepCount < runBound;
            } else {
                const double t = boundClockValue(state.get());
                if (t > runBound) {
                    deadlocked = true;
                    break;
                }
                time = t;
            }
            observe(state.get(), time, first);
            first = false;
            if (!more) {
                break;
            }
            if (timeBounded && !zeno.beforeStep(time)) {
                reportZeno(feedback);
                aborted = true;
                break;
            }
            if (hasAcceptingPredicate && accepted) {
                break;
            }
            if (start.processesChanged()) {
                transitionStep->begin();
            }
            chainHead->put(state.get());
            previousTime = time;
            if (deadlocked) {
                break;
            }
        }
        if (aborted) {
            // The run in progress stays in its slot as far as it got.
            break;
        }

        const size_t slot = static_cast<size_t>(results->keptRuns);
        size_t i = 0;
        for (SimulationSeries& series : results->series) {
            ObservationRecord& record = records[i++];
            if (!record.stored && slot < series.trajectories.size()) {
                series.trajectories[slot].emplace_back(record.time, record.value);
            }
            if (tailFile != nullptr) {
                std::fprintf(tailFile, " %g %g", record.time, record.value);
            }
        }
        if (tailFile != nullptr) {
            std::fputc('\n', tailFile);
        }
        if (!hasAcceptingPredicate || (accepted && !deadlocked)) {
            ++results->keptRuns;
        } else {
            for (SimulationSeries& series : results->series) {
                if (slot < series.trajectories.size()) {
                    series.trajectories[slot].clear();
                }
            }
        }
        ++runsTried;
        if (results->acceptingRuns != 0 && results->keptRuns == results->acceptingRuns) {
            break;
        }
    }
    const bool complete = runsTried == runsRequested ||
                          (results->acceptingRuns != 0 && results->keptRuns == results->acceptingRuns);
    if (stopRequested && !aborted && !complete) {
        // Stopped before it made its runs: the trajectories made so far are no result, and the
        // report shows none of them.
        interrupted = true;
        results->series.clear();
    } else if (!aborted) {
        // The listing shows the retained runs.
        for (SimulationSeries& series : results->series) {
            series.trajectories.resize(static_cast<size_t>(results->keptRuns));
        }
    }

    const bool verdict = results->keptRuns != 0 && !aborted && !interrupted;
    results->triedRuns = runsTried;
    emit(verdict);
    if (hasAcceptingPredicate && feedback != nullptr && !interrupted) {
        *feedback = "Tried " + std::to_string(runsTried) + " runs in total and found " +
                    std::to_string(results->keptRuns) + " accepting runs.\n";
    }
    return verdict;
}
