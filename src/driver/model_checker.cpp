#include "driver/model_checker.h"

#include <cstdlib>

#include "dbm/bound.h"
#include "driver/interrupt.h"
#include "driver/scenario_translator.h"
#include "language/node_kind.h"
#include "pipeline/broadcast_filter.h"
#include "pipeline/exploration_filters.h"
#include "pipeline/liveness_transition_filter.h"
#include "pipeline/sorting_filter.h"
#include "pipeline/successor_chain.h"
#include "pipeline/successor_filter.h"
#include "pipeline/symmetry_filter.h"
#include "pipeline/transition_filter.h"
#include "runtime/channels.h"
#include "runtime/edge.h"
#include "runtime/exceptions.h"
#include "runtime/symbolic_state.h"
#include "runtime/variable.h"
#include "statespace/passed_list.h"
#include "statespace/passed_waiting_list.h"
#include "statespace/sweep_line_list.h"
#include "statespace/trace_store_filter.h"
#include "support/exceptions.h"
#include "support/globals.h"

namespace {

// The options and the compiled system of the current preparation, for the registry factories,
// which receive nothing but the registry.
VerifierOptions& activeOptions()
{
    static VerifierOptions options;
    return options;
}

// Never destroyed, like the model checker's own handle: a run that ends through exit must not
// tear the System down after the tables it uses are gone.
base::RefPtr<System>& activeSystem()
{
    static auto* system = new base::RefPtr<System>;
    return *system;
}

// The "#depth" and "#dist" variables of the compiled system (null when absent).
Variable* depthVariable = nullptr;
Variable* distVariable = nullptr;

// The switches read once at start-up; their values do not matter.
const bool sweepLineDisabled = std::getenv("MIRVEK_DISABLE_SWEEPLINE") != nullptr;
const bool symmetryDisabled = std::getenv("MIRVEK_DISABLE_SYMMETRY") != nullptr;

// The checks that search with the model checker's reachability stage themselves. Leads-to and
// scenario checks configure the stage through their own checker; the other checks, and the
// compilation that comes before any job, never search with it.
bool searchesWithReachabilityStage(int32_t type)
{
    return type == PROPERTY_INVARIANCE || type == PROPERTY_REACHABILITY || type == PROPERTY_SUPREMUM ||
           type == PROPERTY_INFIMUM;
}

ZOLT::span_t unpack(packed_span_t span)
{
    return ZOLT::span_t(static_cast<int32_t>(static_cast<uint32_t>(span)),
                        static_cast<int32_t>(static_cast<uint32_t>(span >> 32)));
}

void stopTheRunningCheck()
{
    if (modelChecker()) {
        modelChecker()->stop();
    }
}

} // namespace

base::RefPtr<ModelChecker>& modelChecker()
{
    static auto* handle = new base::RefPtr<ModelChecker>;
    return *handle;
}

void releaseModelChecker()
{
    stopRunningCheck = nullptr;
    modelChecker().release();
    activeSystem().release();
}

CheckerFactories& checkerFactories()
{
    static CheckerFactories factories;
    return factories;
}

void registerExplorationFilters()
{
    static bool registered = false;
    if (!registered) {
        registerSuccessorChainFilters();
        registerStatespaceFilters();
        registerReachabilityFilters();
        registered = true;
    }
}

// ---- Cost functions ----------------------------------------------------------------------------

int32_t tauLowerBoundCost(const SymbolicState* state)
{
    int32_t best = 1073741823;
    const int32_t tau = tauClockNumber;
    if (tau < 0) {
        return best;
    }
    for (const dbm::zone_t& zone : state->zone) {
        // The lower bound of a clock is the negated constant of the bound on 0 - clock.
        const int32_t lower = -dbm::boundValue(zone(0, static_cast<uint32_t>(tau)));
        if (lower < best) {
            best = lower;
        }
    }
    return best;
}

int32_t depthCost(const SymbolicState* state)
{
    return depthVariable->evaluate(const_cast<SymbolicState*>(state));
}

int32_t distanceCost(const SymbolicState* state)
{
    return distVariable->evaluate(const_cast<SymbolicState*>(state));
}

// ---- Passed lists ------------------------------------------------------------------------------

pipeline::Connectable* makePassedList(FilterConfiguration*)
{
    switch (activeOptions().representation) {
    case 0:
    case 1: return new CSSPassedList;
    case 2: return new BitStatePassedList;
    case 3: return new CHPassedList;
    default: throw Bug("Representation not supported");
    }
}

pipeline::Connectable* makePassedWaitingList(FilterConfiguration*)
{
    const VerifierOptions& options = activeOptions();
    int order;
    switch (options.searchOrder) {
    case 0: order = 0; break;
    case 1:
    case 2:
    case 4: order = 1; break;
    case 3:
    case 5: order = 2; break;
    default: throw Bug("Order not supported");
    }
    const bool sweepLine = !sweepLineDisabled && activeSystem() && !activeSystem()->progressMeasures.empty();
    PassedWaitingList* list;
    switch (options.representation) {
    case 0:
    case 1:
        list = sweepLine ? static_cast<PassedWaitingList*>(new CSSSweepLinePassedWaitingList)
                         : new CSSPassedWaitingList;
        break;
    case 2: list = new CSSBitStateHashingPassedWaitingList; break;
    case 3:
        list = sweepLine ? static_cast<PassedWaitingList*>(new CHSweepLinePassedWaitingList)
                         : new CHPassedWaitingList;
        break;
    default: throw Bug("Representation not supported");
    }
    list->setProperty(PROPERTY_STATE_ORDER, &order);
    return list;
}

// ---- The model checker --------------------------------------------------------------------------

ModelChecker::ModelChecker(ZOLT::TimedAutomataSystem* model, const VerifierOptions& options)
    : model(model), options(options)
{
    registerExplorationFilters();
    filterConfiguration = new FilterConfiguration();
    stopRunningCheck = stopTheRunningCheck;
}

ModelChecker::~ModelChecker()
{
    releaseModel();
    traceStore.release();
}

base::RefPtr<PropertyBuilder> ModelChecker::newPropertyBuilder()
{
    return base::RefPtr<PropertyBuilder>(new PropertyBuilder(model));
}

void ModelChecker::freeSupInfResults()
{
    delete[] supInfResults;
    supInfResults = nullptr;
    supInfCount = 0;
}

void ModelChecker::cleanUp()
{
    freeSupInfResults();
    delete reachabilityFilter;
    reachabilityFilter = nullptr;
    if (system && tauClockNumber != -1) {
        system->removeTauClock(tauClockNumber);
        tauClockNumber = -1;
    }
    SymbolicState::setCostFunction(nullptr);
}

void ModelChecker::releaseModel()
{
    cleanUp();
    compiler.release();
    system.release();
    activeSystem().release();
    depthVariable = nullptr;
    distVariable = nullptr;
    tauClockNumber = -1;
    clearChannels();
    clearEdgeTuples();
}

void ModelChecker::compileSystem()
{
    try {
        prepare(ExtrapolationInfo(), true);
    } catch (const CannotEvaluateExpression& error) {
        model->recordError(unpack(error.getPosition()), error.what(), error.getContext());
    } catch (const CompileError& error) {
        model->recordError(unpack(error.getPosition()), error.what(), "");
    }
}

void ModelChecker::ensureCompiled()
{
    if (system) {
        return;
    }
    clearChannels();
    clearEdgeTuples();
    compiler = new Compiler(model);
    system = compiler->compileSystem();
    system->propagateLocationBounds();
}

void ModelChecker::translateScenario()
{
    AbstractJob* job = currentJob;
    if (job->formula.getKind() != ZOLT::SCENARIO) {
        return;
    }
    const std::string name = job->formula[0].getSymbol().getName();
    ScenarioTranslation translation;
    try {
        translation = translateScenarioProperty(*model, name);
    } catch (const ChartWithoutMainChart& error) {
        // An error of the model that the query brings to light: reported at the query.
        throw CompileError(error.what(), job->formula.getPosition());
    }
    // Every edge the parsers read carries a probability weight, 1 unless written; the edges the
    // translation adds get the same, which the compiler expects.
    for (ZOLT::template_t& templ : model->getTemplates()) {
        for (ZOLT::edge_t& edge : templ.edges) {
            if (edge.probability.empty()) {
                edge.probability = ZOLT::expression_t::createConstant(1);
            }
        }
    }
    job->formula = translation.property;
    if (translation.modelChanged) {
        model->setModified(true);
    }
}

void ModelChecker::prepare(const ExtrapolationInfo& bounds, bool reachabilityOnly)
{
    try {
        prepareSteps(bounds, reachabilityOnly);
    } catch (...) {
        releaseModel();
        throw;
    }
}

void ModelChecker::prepareSteps(const ExtrapolationInfo& bounds, bool reachability)
{
    const int32_t t = currentJob != nullptr ? currentJob->type : -1;

    // Reuse: a plain reachability or invariance property after another one keeps the state space
    // when nothing that shapes it has changed.
    if (system && (t == 0 || t == 1) && (lastPropertyType == 0 || lastPropertyType == 1)) {
        ExtrapolationInfo own;
        system->accept(own);
        if (!own.getDifferenceConstraints().empty() || !bounds.getDifferenceConstraints().empty()) {
            differenceConstraints = true;
        } else if (!differenceConstraints && bounds == extrapolationInfo && infCost == nullptr &&
                   supCost == nullptr && pruningCost == nullptr && options.representation != 2 && options.reuse &&
                   reachability == reachabilityOnly && reachabilityFilter != nullptr) {
            return;
        }
    }
    lastPropertyType = t;

    if (t == PROPERTY_SCENARIO && currentJob->formula.getKind() == ZOLT::SCENARIO) {
        // The observer automaton joins the model, which is then compiled afresh with it.
        translateScenario();
        if (system) {
            releaseModel();
        }
    }
    cleanUp();
    ensureCompiled();
    if (t == PROPERTY_SCENARIO) {
        prepareProperty(currentJob);
    }

    // Search order against trace optimisation.
    switch (options.searchOrder) {
    case 0:
    case 1:
    case 2:
        if (options.traceKind != 2) {
            options.traceOptimisation = 0;
        }
        break;
    case 3:
    case 4:
        if (options.traceOptimisation == 0) {
            throw SystemException(
                "$Cannot_use_search_order_based_on_an_optimality_criterion_without_an_optimality_criterion");
        }
        break;
    case 5: system->addDistVariable(); break;
    default: break;
    }
    if (options.traceOptimisation == 1) {
        tauClockNumber = static_cast<int32_t>(system->getClockCount());
        system->addClock("#tau", false, 0.0);
    } else if (options.traceOptimisation == 3) {
        system->addDepthVariable();
    }

    system->checkHybridClocks();
    reachabilityOnly = reachability;
    system->modest = options.modestUpdates;
    nonZeroClockAssignment = compiler->hasNonZeroClockAssignment();

    // Cost functions of the optimal traces.
    SymbolicState::CostFunction stateCost = nullptr;
    if (options.traceOptimisation == 1) {
        infCost = pruningCost = tauLowerBoundCost;
        supCost = nullptr;
    } else if (options.traceOptimisation == 3) {
        infCost = supCost = pruningCost = depthCost;
        stateCost = depthCost;
    } else {
        infCost = supCost = pruningCost = nullptr;
    }

    // Clock bounds: the property's, and the system's own.
    extrapolationInfo = ExtrapolationInfo();
    extrapolationInfo.merge(bounds);
    if (options.traceOptimisation == 1) {
        extrapolationInfo.setUpperBound(static_cast<uint32_t>(tauClockNumber), 1073741823);
    }
    ExtrapolationInfo all = extrapolationInfo;
    if (!system->floatingPointInvariants && !system->floatingPointClocks) {
        system->accept(all);
    }
    differenceConstraints = !all.getDifferenceConstraints().empty();

    int kind;
    if (differenceConstraints) {
        if (options.traceOptimisation == 1 || options.traceOptimisation == 2) {
            throw SystemException("$Cannot_find_slowest_or_fastest_trace_for_models_with_difference_constraints");
        }
        kind = options.extrapolation == 0 ? 2 : options.extrapolation;
    } else if (options.extrapolation != 0) {
        kind = options.extrapolation;
    } else {
        const bool plainModel = !system->hasPriorities && !system->broadcastClockGuards && !system->hasClockCopies;
        // Robust reachability asks for states as plain reachability does; the lower/upper bounds
        // keep a clock compared only with a large constant from multiplying its zones.
        const bool plainProperty =
            currentJob == nullptr ||
            ((t < 5 || t == PROPERTY_ROBUST_INVARIANCE || t == PROPERTY_ROBUST_REACHABILITY) &&
             !containsDeadlock(currentJob->formula));
        kind = plainModel && plainProperty ? 4 : 3;
    }
    configureFilters(kind);

    depthVariable = system->findVariable("#depth");
    distVariable = system->findVariable("#dist");
    SymbolicState::setCostFunction(stateCost);

    activeOptions() = options;
    activeSystem() = system;

    if (options.traceKind == 0) {
        traceStore.release();
    } else {
        traceStore = new MemoryTraceStore;
    }

    reachabilityFilter = filterConfiguration->getAs<pipeline::Filter<Successor, Successor>>(FILTER_REACHABILITY);
    // Configuring the stage gives it a new state store, whose tables are large: a query gets one
    // store, made where its check is set up, and a stage that no search will use gets none.
    if (reachabilityFilter != nullptr && searchesWithReachabilityStage(t)) {
        configureReachability(reachabilityFilter);
    }
}

void ModelChecker::configureFilters(int extrapolationKind)
{
    FilterConfiguration& r = *filterConfiguration;
    r = FilterConfiguration();

    r.set(FILTER_PROGRESS, makeJobProgressFilter);
    if (options.searchOrder == 2) {
        r.set(FILTER_SORTING, makeRandomSortingFilter);
    } else if (options.searchOrder == 4) {
        r.set(FILTER_SORTING, makeCostSortingFilter);
    }
    if (compiler && compiler->hasScalarsets() && !symmetryDisabled && options.traceKind == 0) {
        r.set(FILTER_SYMMETRY, makeSymmetryFilter);
    }
    if (system->hasPriorities) {
        r.alias(FILTER_COPY, FILTER_PRIORITY);
    }
    if (system->broadcastClockGuards) {
        r.set(FILTER_SUCCESSOR, makeSuccessorFilterBroadcast);
    }
    if (system->syncMode == 2) {
        r.set(FILTER_TRANSITION, makeCSPTransitionFilter);
        r.set(FILTER_TRANSITION_LIVENESS, makeCSPTransitionFilter);
    }
    const int32_t t = currentJob != nullptr ? currentJob->type : -1;
    if ((t == 2 || t == 3 || t == 4) && (system->hasPriorities || system->broadcastClockGuards)) {
        // The liveness checkers must see the time that priorities or guarded broadcast receivers
        // block, not only the transitions they allow.
        r.set(FILTER_TRANSITION_LIVENESS,
              system->hasPriorities ? (system->broadcastClockGuards ? makeLivenessTransitionFilterPriorityBroadcast
                                                                    : makeLivenessTransitionFilterPriority)
                                    : makeLivenessTransitionFilterBroadcast);
        r.set(FILTER_SUCCESSOR_LIVENESS, makeBlockingSuccessorFilter);
    }

    switch (extrapolationKind) {
    case 0: throw Bug("Unreachable");
    case 1: r.remove(FILTER_EXTRAPOLATION); break;
    case 2: r.alias(FILTER_EXTRAPOLATION, FILTER_DIFFERENCE_EXTRAPOLATION); break;
    case 3:
        r.alias(FILTER_EXTRAPOLATION,
                tauClockNumber == -1 ? FILTER_LOCAL_EXTRAPOLATION : FILTER_LU_LOCAL_EXTRAPOLATION);
        break;
    case 4: r.alias(FILTER_EXTRAPOLATION, FILTER_LU_LOCAL_EXTRAPOLATION); break;
    default: break;
    }
    r.alias(FILTER_GOXA_EXTRAPOLATION, FILTER_EXTRAPOLATION);

    r.set(FILTER_PASSED_WAITING_LIST, makePassedWaitingList);
    r.set(FILTER_PASSED_LIST, makePassedList);
}
