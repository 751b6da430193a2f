// Turning a job's type-checked formula into the run-time expressions its checker evaluates, and
// reading the numeric parameters of the query into the job.

#include "compiler/value_clock_expr.h"
#include "driver/model_checker.h"
#include "language/node_kind.h"
#include "mitl/formula.h"
#include "pipeline/deadlock.h"
#include "runtime/exceptions.h"
#include "support/exceptions.h"
#include "typecheck/relations.h"

using ZOLT::expression_t;

void ModelChecker::setRunBound(AbstractJob* job, uint32_t symbolIndex, uint32_t boundIndex)
{
    const expression_t& formula = job->formula;
    const int32_t bound = compiler->evaluateConstant(formula[boundIndex]);
    const expression_t& symbol = formula[symbolIndex];
    if (symbol.getKind() == ZOLT::CONSTANT) {
        const int32_t byTime = symbol.getValue();
        if ((byTime != 0 && bound < 1) || (byTime == 0 && bound < 0)) {
            throw SystemException("$Invalid_bound_value");
        }
        job->runBound = bound;
        job->runBoundKind = byTime != 0 ? 1 : 0;
    } else {
        job->runBound = bound;
        job->runBoundKind = 2;
        job->addExpression(symbol, compiler->compileValueExpression(symbol, false));
    }
}

void ModelChecker::prepareProperty(AbstractJob* job)
{
    // A failed preparation released the compiled model: compile it again.
    ensureCompiled();
    // The query keyword deadlock is compiled into this expression.
    const ExpressionRef deadlock(new DeadlockExpr(filterConfiguration.get(), system.get()));
    job->clearExpressions();

    const expression_t& f = job->formula;
    if (!isStatisticalProperty(job->type)) {
        // Symbolic states hold no floating-point values: a query, or an invariant of the model,
        // that reads one would be decided on values that the explored states do not have.
        expression_t read = compiler->findFloatingPointRead(f);
        if (read.empty()) {
            read = compiler->findFloatingPointInvariant();
        }
        if (!read.empty()) {
            throw CompileError("$Symbolic_checks_cannot_read_floating-point_variables", read.getPosition());
        }
    }
    auto state = [&](const expression_t& e, bool withDeadlock) {
        return compiler->compileStateFormula(e, withDeadlock ? deadlock : ExpressionRef());
    };

    switch (job->type) {
    case PROPERTY_INVARIANCE:
    case PROPERTY_ALWAYS_EVENTUALLY:
    case PROPERTY_ROBUST_INVARIANCE:
        job->addExpression(f[0], state(f[0], true)->negate());
        break;
    case PROPERTY_REACHABILITY:
    case PROPERTY_POSSIBLY_ALWAYS:
    case PROPERTY_ROBUST_REACHABILITY:
        job->addExpression(f[0], state(f[0], true));
        break;
    case PROPERTY_LEADS_TO:
        job->addExpression(f[0], state(f[0], true));
        job->addExpression(f[1], state(f[1], true)->negate());
        break;
    case PROPERTY_PROBABILITY_BOX_TEST:
        job->addExpression(f[2], state(f[2], true)->negate());
        job->value = f[3].getDoubleValue();
        setRunBound(job, 0, 1);
        break;
    case PROPERTY_PROBABILITY_DIAMOND_TEST:
        job->addExpression(f[2], state(f[2], true));
        job->value = f[3].getDoubleValue();
        setRunBound(job, 0, 1);
        break;
    case PROPERTY_PROBABILITY_BOX_ESTIMATE:
        job->addExpression(f[3], state(f[3], true)->negate());
        job->addExpression(f[1], state(f[1], true)->negate());
        job->value = -1.0;
        setRunBound(job, 0, 2);
        break;
    case PROPERTY_PROBABILITY_DIAMOND_ESTIMATE:
        job->addExpression(f[3], state(f[3], true));
        job->addExpression(f[1], state(f[1], true)->negate());
        job->value = -1.0;
        setRunBound(job, 0, 2);
        break;
    case PROPERTY_PROBABILITY_COMPARE: {
        job->firstPathOperator = f[2].getValue();
        job->secondPathOperator = f[6].getValue();
        ExpressionRef first = compiler->compileValueExpression(f[3], false);
        if (f[2].getValue() == ZOLT::BOX_MARKER) {
            first = first->negate();
        }
        ExpressionRef second = compiler->compileValueExpression(f[7], false);
        if (f[6].getValue() == ZOLT::BOX_MARKER) {
            second = second->negate();
        }
        job->addExpression(f[3], first);
        job->addExpression(f[7], second);
        setRunBound(job, 0, 1);
        const int32_t bound = f[5].getValue();
        if (f[4].getKind() == ZOLT::CONSTANT) {
            const int32_t byTime = f[4].getValue();
            if ((byTime != 0 && bound < 1) || (byTime == 0 && bound < 0)) {
                throw SystemException("$Invalid_bound_value");
            }
            job->secondRunBound = bound;
            job->secondRunBoundKind = byTime != 0 ? 1 : 0;
        } else {
            job->secondRunBound = bound;
            job->secondRunBoundKind = 2;
            job->addExpression(f[4], compiler->compileValueExpression(f[4], false));
        }
        break;
    }
    case PROPERTY_EXPECTED_VALUE: {
        job->runCount = compiler->evaluateConstant(f[2]);
        if (job->runCount < 1) {
            throw SystemException("$Invalid_run_value");
        }
        // A clock is read from the state by its number; a value computed from clocks (x + 1)
        // is computed as a double like any other value.
        job->valueIsClock = ZOLT::designatesClock(f[3]);
        job->addExpression(f[3], compiler->compileValueExpression(f[3], !job->valueIsClock));
        job->maximise = compiler->evaluateConstant(f[4]);
        setRunBound(job, 0, 1);
        break;
    }
    case PROPERTY_SIMULATE:
    case PROPERTY_SIMULATE_ACCEPTING: {
        job->simulation.runs = f[0].getValue();
        setRunBound(job, 1, 2);
        // A clock that bounds the runs goes after the observed values: the checkers take the
        // last expression as the bound clock, as for every other statistical query.
        std::vector<std::pair<expression_t, ExpressionRef>> boundClock;
        if (job->runBoundKind == 2) {
            boundClock.push_back(job->expressions.back());
            job->expressions.pop_back();
        }
        size_t n = f.getSize();
        if (job->type == PROPERTY_SIMULATE_ACCEPTING) {
            job->simulation.acceptingPredicate = state(f[n - 2], false);
            job->simulation.hasAcceptingPredicate = true;
            job->simulation.acceptingRuns = f[n - 1].getValue();
            n -= 2;
        }
        system->floatingPoint = false;
        for (size_t i = 3; i < n; ++i) {
            const expression_t& child = f[i];
            const ZOLT::type_t type = child.getType();
            ExpressionRef compiled;
            if (child.getKind() != ZOLT::FOREACH_DYNAMIC && type.isConstraint()) {
                compiled = new ValueClockExpr(state(child, false));
                compiled->timeDependent = true;
            } else {
                compiled = compiler->compileValueExpression(child, true);
            }
            job->addExpression(child, compiled);
            SimulationSeries series;
            series.name = child.toString(false);
            series.isClock = type.isKind(ZOLT::CLOCK);
            series.expression = compiled;
            job->simulation.series.push_back(std::move(series));
        }
        system->floatingPointSimulation = system->floatingPoint;
        for (const auto& [source, compiled] : boundClock) {
            job->addExpression(source, compiled);
        }
        break;
    }
    case PROPERTY_MITL:
        job->addExpression(f[0], compiler->compileMitlFormula(f[0]));
        break;
    case PROPERTY_SUPREMUM:
    case PROPERTY_INFIMUM: {
        job->addExpression(f[0], state(f[0], false));
        const expression_t& list = f[1];
        const uint32_t m = static_cast<uint32_t>(list.getSize());
        freeSupInfResults();
        supInfResults = new SupInfResult[m];
        supInfCount = m;
        for (uint32_t i = 0; i < m; ++i) {
            const expression_t& item = list[i];
            if (!item.getType().isKind(ZOLT::CLOCK)) {
                const ZOLT::interval_t range = compiler->getAnalyser()->getRange(item);
                supInfResults[i] = {range.lower, range.upper, false};
                job->addExpression(item, compiler->compileValueExpression(item, false));
            } else {
                // Less than or equal to 0, and less than infinity, in the bound encoding.
                supInfResults[i] = {1, 2147483646, false};
                job->addExpression(item, job->type == PROPERTY_SUPREMUM ? compiler->compileClockSup(item)
                                                                        : compiler->compileClockInf(item));
            }
        }
        break;
    }
    case PROPERTY_SCENARIO:
        if (f.getKind() == ZOLT::OBSERVER_LEADS_TO) {
            job->addExpression(f[0], state(f[0], true));
            job->addExpression(f[1], state(f[1], true)->negate());
        }
        break;
    default: throw Bug("Invalid property type");
    }
}
