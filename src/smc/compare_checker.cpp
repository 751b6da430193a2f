#include "smc/compare_checker.h"

#include <cfloat>
#include <cmath>
#include <memory>

#include "language/node_kind.h"
#include "pipeline/keys.h"
#include "runtime/concrete_state.h"
#include "runtime/system.h"
#include "smc/concrete_delay.h"
#include "smc/concrete_trans.h"
#include "smc/statistical_job.h"
#include "smc/statistical_query.h"
#include "support/exceptions.h"

namespace {

// Whether a run's side holds when its bound is s rather than the full bound. A <> side holds when
// its goal was reached (pass) by s. A [] side fails only once its predicate broke, at t: it holds
// when the predicate never broke (pass) or broke after s.
bool holdsWithin(bool box, bool pass, double t, double s)
{
    return box ? pass || s < t : pass && t <= s;
}

// The value of the clock that bounds a side's runs: the clock the expression names, or the
// global time clock (the last static clock) without one.
double sideClockValue(const ExpressionRef& clock, ConcreteState* state)
{
    const ClockValuation& clocks = state->getClocks();
    if (clock) {
        return clocks.values[clock->evaluate(state)];
    }
    return clocks.values[clocks.staticCount - 1];
}

}  // namespace

ProbaCompareChecker::ProbaCompareChecker()
{
    delayStep = addMember(new ConcreteDelay(true));
    transitionStep = addMember(new ConcreteTrans);
    queryStep = addMember(new ConcreteQuery);
    progressStep = addMember(new JobProgressFilter<ConcreteState>);
    delayStep->aborted = &aborted;
    delayStep->deadlocked = &deadlocked;
    delayStep->querySink = queryStep;
    transitionStep->aborted = &aborted;
    transitionStep->stepCount = &stepCount;
    queryStep->done = &done;
    queryStep->satisfied = &satisfied;
}

ProbaCompareChecker::~ProbaCompareChecker() = default;

ProbaCompareChecker* makeProbaCompareChecker(FilterConfiguration*)
{
    return new ProbaCompareChecker;
}

void ProbaCompareChecker::setProperty(const char* key, void* value)
{
    setCommonProperty(key, value);
    if (key == PROPERTY_JOB) {
        auto* given = static_cast<pipeline::JobInterface*>(value);
        job = dynamic_cast<StatisticalJob*>(given);
        query = dynamic_cast<StatisticalQuery*>(given);
    } else if (key == PROPERTY_DELTAMINUS) {
        deltaMinus = *static_cast<double*>(value);
    } else if (key == PROPERTY_DELTAPLUS) {
        deltaPlus = *static_cast<double*>(value);
    } else if (key == PROPERTY_ALPHA) {
        alpha = *static_cast<double*>(value);
    } else if (key == PROPERTY_BETA) {
        beta = *static_cast<double*>(value);
    } else if (key == PROPERTY_RATIO_U0) {
        u0 = *static_cast<double*>(value);
    } else if (key == PROPERTY_RATIO_U1) {
        u1 = *static_cast<double*>(value);
    } else if (key == PROPERTY_HISTOBARS) {
        histogramBars = *static_cast<uint32_t*>(value);
    } else if (key == PROPERTY_HISTOWIDTH) {
        histogramWidth = *static_cast<double*>(value);
    } else if (key == PROPERTY_CMPPARAM) {
        parametric = *static_cast<bool*>(value);
    }
    members.setProperty(key, value);
}

void ProbaCompareChecker::begin()
{
    chainHead = silent ? static_cast<pipeline::Sink<ConcreteState>*>(delayStep) : progressStep;
    progressStep->connect(delayStep);
    delayStep->connect(transitionStep);
    transitionStep->connect(queryStep);
    transitionStep->kept = &delayStep->getKept();
    system->addTimeClock();
    system->resetStatistics();
    members.begin();
}

void ProbaCompareChecker::end()
{
    system->removeTimeClock();
    members.end();
}

void ProbaCompareChecker::readSides()
{
    const int32_t kinds[2] = {job->getRunBoundKind(), query->getSecondRunBoundKind()};
    const int32_t bounds[2] = {job->getRunBound(), query->getSecondRunBound()};
    const int32_t operators[2] = {query->getFirstPathOperator(), query->getSecondPathOperator()};
    // The clocks that bound the sides come last, side 1's before side 2's.
    const uint32_t n = job->expressionCount();
    uint32_t next = n;
    for (int i = 1; i >= 0; --i) {
        Side& side = sides[i];
        side.timeBounded = kinds[i] != 0;
        side.bound = bounds[i];
        side.box = operators[i] == ZOLT::BOX_MARKER;
        side.predicate = job->getExpression(static_cast<uint32_t>(i));
        side.clock = nullptr;
        if (kinds[i] >= 2 && next > 2) {
            side.clock = job->getExpression(--next);
        }
    }
}

bool ProbaCompareChecker::runSide(const Side& side, ConcreteState* initial, bool& pass, double& clockValue)
{
    delayStep->setBoundClock(side.clock);
    queryStep->setProperty(PROPERTY_EXPRESSION, side.predicate.get());
    delayStep->setProperty(PROPERTY_EXPRESSION, side.predicate.get());
    done = satisfied = false;
    deadlocked = false;
    stepCount = 0;
    delayStep->resetRun();
    std::unique_ptr<ConcreteState> state(start.startRun(*initial));
    queryStep->put(state.get());
    ZenoGuard zeno(0.3);
    bool outcome = false;
    for (;;) {
        if (done) {
            outcome = !deadlocked && satisfied;
            break;
        }
        if (deadlocked) {
            outcome = false;
            break;
        }
        if (aborted) {
            return false;
        }
        if (side.timeBounded) {
            const double t = sideClockValue(side.clock, state.get());
            if (t > side.bound) {
                outcome = !deadlocked && satisfied;
                break;
            }
            if (!zeno.beforeStep(t)) {
                reportZeno(feedback);
                aborted = true;
                return false;
            }
        } else if (stepCount >= side.bound) {
            outcome = satisfied;
            break;
        }
        if (start.processesChanged()) {
            transitionStep->begin();
        }
        chainHead->put(state.get());
    }
    clockValue = sideClockValue(side.clock, state.get());
    if (outcome && side.timeBounded) {
        // A goal reached in the step that passed the bound does not count.
        outcome = clockValue <= side.bound + DBL_EPSILON;
    }
    if (aborted) {
        return false;
    }
    pass = outcome != side.box;
    return true;
}

bool ProbaCompareChecker::put(ConcreteState* initial)
{
    const double a = 1 - deltaPlus;
    if (!(a > 0 && a < 1)) {
        throw RuntimeException("Invalid theta+delta = %g", a);
    }
    const double b = a - deltaMinus;
    if (!(b > 0 && b < 1)) {
        throw RuntimeException("Invalid theta-delta = %g", b);
    }
    if (!(u0 > 0)) {
        throw RuntimeException("u0 must be > 0");
    }
    if (!(u1 > 0)) {
        throw RuntimeException("u1 must be > 0");
    }
    if (!(u0 < u1)) {
        throw RuntimeException("u0 and u1 must respect u0 < u1");
    }
    if (job == nullptr || query == nullptr) {
        throw Bug("A comparison needs the query's job");
    }
    const double l1 = std::log(b / a);
    const double l2 = std::log((1 - b) / (1 - a));
    const double l3 = std::log(beta / (1 - alpha));
    const double l4 = std::log((1 - beta) / alpha);
    const double d = std::log(u1) - std::log(u0);
    const double c = std::log((u1 + 1) / (u0 + 1)) / d;

    readSides();
    const bool parametricMode = parametric && sides[0].bound == sides[1].bound &&
                                sides[0].timeBounded == sides[1].timeBounded;
    size_t n = 1;
    double width = 0;
    if (parametricMode) {
        if (histogramWidth > 0) {
            width = histogramWidth;
            n = static_cast<size_t>(std::floor(sides[0].bound / width)) + 1;
        } else {
            if (histogramBars == 0) {
                histogramBars = 200;
            }
            n = histogramBars;
            width = static_cast<double>(sides[0].bound) / static_cast<double>(n);
        }
    }
    std::vector<Record> records(n);
    for (Record& r : records) {
        r.lowerLine = l3 / d;
        r.upperLine = l4 / d;
    }

    start.prepare(system);
    bool verdict = false;
    bool decided = false;
    int64_t runs = 0;
    while (!stopRequested) {
        bool pass1 = false;
        bool pass2 = false;
        double t1 = 0;
        double t2 = 0;
        if (!runSide(sides[0], initial, pass1, t1) || !runSide(sides[1], initial, pass2, t2)) {
            emit(false);
            return false;
        }
        runs += 2;

        bool allDecided = true;
        double s = 0;
        for (Record& r : records) {
            bool o1 = pass1;
            bool o2 = pass2;
            if (n != 1) {
                s += width;
                o1 = holdsWithin(sides[0].box, pass1, t1, s);
                o2 = holdsWithin(sides[1].box, pass2, t2, s);
            }
            if (r.status >= 2) {
                continue;
            }
            const bool equal = o1 == o2;
            r.discordant += equal ? 0 : 1;
            r.concordant += equal ? 1 : 0;
            if (r.status == 0) {
                r.agreementSum += equal ? l1 : l2;
                if (r.agreementSum <= l3) {
                    r.status = 2;
                    continue;
                }
                if (r.agreementSum >= l4) {
                    r.status = 1;
                }
            }
            if (equal) {
                allDecided = false;
                continue;
            }
            r.firstOnly += o1 && !o2 ? 1 : 0;
            r.lowerLine += c;
            r.upperLine += c;
            const double x = static_cast<double>(r.firstOnly);
            if (r.lowerLine >= x) {
                r.status = 4;
            } else if (x >= r.upperLine) {
                r.status = 3;
            } else {
                allDecided = false;
            }
        }
        if (!allDecided) {
            continue;
        }
        if (parametricMode && n >= 2) {
            ValueSeries& series = query->getValueSeries();
            series.values.assign(n, 0.0);
            for (size_t j = 0; j < n; ++j) {
                switch (records[j].status) {
                case 3: series.values[j] = 1.0; break;
                case 4: series.values[j] = 0.0; break;
                case 2: series.values[j] = 0.5; break;
                default: throw Bug("Incomplete stats");
                }
            }
            series.name = sides[0].timeBounded ? "time" : "steps";
            series.low = 0.0;
            series.high = static_cast<double>(n) * width;
            series.step = width;
            series.count = static_cast<int64_t>(n);
        }
        verdict = records.back().status == 2 || records.back().status == 3;
        decided = true;
        break;
    }
    if (!decided) {
        // Cut short before the tests decided: no verdict is reported.
        aborted = true;
    } else if (feedback != nullptr) {
        *feedback = "(" + std::to_string(runs) + " runs) ";
    }
    emit(verdict);
    return verdict;
}
