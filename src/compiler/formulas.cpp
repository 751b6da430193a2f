// Run-time expressions: byte-code expressions, state formulas, value expressions of queries,
// sup and inf, and clock constraints.

#include <limits>
#include <vector>

#include <boost/format.hpp>

#include "compiler/compiler.h"
#include "compiler/depth_guard.h"
#include "compiler/rewriting.h"
#include "compiler/value_clock_expr.h"
#include "runtime/clock_expression.h"
#include "runtime/exceptions.h"
#include "runtime/system.h"
#include "typecheck/relations.h"

using namespace ZOLT;
namespace op = bytecode;

namespace {

constexpr int32_t maxInt = std::numeric_limits<int32_t>::max();
constexpr int32_t boundLimit = 1073741822;

void writeIndices(std::ostream& out, const std::set<uint32_t>& indices)
{
    bool first = true;
    for (uint32_t index : indices) {
        if (!first) {
            out << ",";
        }
        out << index;
        first = false;
    }
}

// The conjunction of two compiled formulas. A conjunction of clock constraints that only this
// compilation holds grows in place, which is what makeConjunction would build anew, so that
// long conjunctions are not copied over and over.
ExpressionRef conjoin(const ExpressionRef& left, const ExpressionRef& right)
{
    auto* clockLeft = dynamic_cast<ClockExpr*>(left.get());
    auto* clockRight = dynamic_cast<ClockExpr*>(right.get());
    if (clockLeft != nullptr && clockRight != nullptr && left->getRefCount() == 1) {
        clockLeft->appendConstraints(*clockRight);
        return left;
    }
    return makeConjunction(left, right);
}

// The conjunction of compiled formulas (at least one), in their order. Neighbouring clock
// constraints grow one conjunction in place; what is left is joined as a balanced tree, so that
// a long alternation of clock constraints and other conditions nests no deeper than its log.
ExpressionRef conjoinAll(std::vector<ExpressionRef> operands)
{
    std::vector<ExpressionRef> runs;
    for (ExpressionRef& operand : operands) {
        if (!runs.empty() && dynamic_cast<ClockExpr*>(runs.back().get()) != nullptr &&
            dynamic_cast<ClockExpr*>(operand.get()) != nullptr) {
            runs.back() = conjoin(runs.back(), operand);
        } else {
            // Moved, so that the conjunction this starts is held once and can grow in place.
            runs.push_back(std::move(operand));
        }
    }
    return joinBalanced(std::move(runs), makeConjunction);
}

// An empty clock (the reference clock) or an expression that designates a clock; a sum of
// clock values or a clock shifted in one branch of an inline if is a number computed from
// clocks instead.
bool isClockTerm(const expression_t& e)
{
    return e.empty() || designatesClock(e);
}

// Whether some part of the expression is a floating-point value.
bool computesFloatingPoint(const expression_t& expression)
{
    return anySubexpression(expression, [](const expression_t& x) { return x.getType().isKind(DOUBLE); });
}

void addCellIndices(const ExpressionAnalyser::CellSet& cells, std::set<uint32_t>& indices)
{
    for (const ExpressionAnalyser::Cell& cell : cells) {
        indices.insert(boost::get<1>(cell));
    }
}

} // namespace

// ---------------------------------------------------------------- byte-code expressions

void Compiler::dumpExpression(uint32_t start, const IndexSet& reads, const IndexSet& writes,
                              const expression_t& expression)
{
    if (!compilerSwitches().compileOnly) {
        return;
    }
    std::ostringstream& out = compilerDumpBuffers().expressions;
    out << start << ":";
    writeIndices(out, reads);
    out << ":";
    writeIndices(out, writes);
    out << ":" << expression.toString(false) << "\n";
}

ExpressionRef Compiler::makeProgramExpression(const expression_t& expression)
{
    const uint32_t start = program->mark();
    compileExpression(expression);
    emit(expression.getPosition(), op::HALT);
    IndexSet reads;
    IndexSet writes;
    analyser->collectReads(expression, reads);
    analyser->collectWrites(expression, writes);
    dumpExpression(start, reads, writes, expression);
    return ExpressionRef(program->makeExpression(start, reads, writes));
}

ExpressionRef Compiler::makeConstantExpression(int32_t value)
{
    const uint32_t start = program->mark();
    emit(span_t(), op::PUSH, value);
    emit(span_t(), op::HALT);
    return ExpressionRef(program->makeExpression(start, IndexSet(), IndexSet()));
}

Variable* Compiler::getVariable(uint32_t index) const
{
    const size_t total = system->getVariables().size() + system->getExtraVariables().size();
    return index < total ? system->getVariable(index) : nullptr;
}

std::pair<Variable*, System*> Compiler::getVariableEntry(uint32_t index) const
{
    return {getVariable(index), system.get()};
}

void Compiler::collectVariableValues(const std::set<uint32_t>& indices, std::set<uint32_t>& values) const
{
    for (uint32_t index : indices) {
        if (Variable* variable = getVariable(index)) {
            values.insert(static_cast<uint32_t>(variable->evaluate(nullptr)));
        }
    }
}

// ---------------------------------------------------------------- state formulas

ExpressionRef Compiler::compileStateFormula(const expression_t& formula, const ExpressionRef& deadlock)
{
    if (formula.getType().isIntegral()) {
        return compileValueExpression(formula, false, true);
    }
    DepthGuard guard(depth, formula);
    return compileFormulaNode(formula, deadlock);
}

ExpressionRef Compiler::compileFormulaNode(const expression_t& formula, const ExpressionRef& deadlock)
{
    const node_kind_t kind = formula.getKind();
    switch (kind) {
    case LOGICAL_AND: {
        // Right operands first, from the outside in, then the innermost left operand; the
        // results are joined from the inside out.
        const std::vector<expression_t> chain = leftChain(formula, [&](node_kind_t k) { return k == LOGICAL_AND; });
        std::vector<ExpressionRef> rights;
        size_t length = 0;
        for (const expression_t& node : chain) {
            if (node != formula && node.getType().isIntegral()) {
                break;
            }
            rights.push_back(compileStateFormula(node[1], deadlock));
            ++length;
        }
        std::vector<ExpressionRef> operands{compileStateFormula(chain[length - 1][0], deadlock)};
        for (size_t i = length; i-- > 0;) {
            operands.push_back(std::move(rights[i]));
        }
        return conjoinAll(std::move(operands));
    }
    case LOGICAL_OR: {
        const std::vector<expression_t> chain = leftChain(formula, [&](node_kind_t k) { return k == LOGICAL_OR; });
        size_t length = 0;
        while (length < chain.size() && (chain[length] == formula || !chain[length].getType().isIntegral())) {
            ++length;
        }
        std::vector<ExpressionRef> operands{compileStateFormula(chain[length - 1][0], deadlock)};
        for (size_t i = length; i-- > 0;) {
            operands.push_back(compileStateFormula(chain[i][1], deadlock));
        }
        return makeDisjunction(std::move(operands));
    }
    case LESS:
    case LESS_EQUAL:
    case EQUAL:
    case NOT_EQUAL:
    case GREATER_EQUAL:
    case GREATER:
        return compileClockConstraint(formula);
    case LOGICAL_NOT:
        return compileStateFormula(formula[0], deadlock)->negate();
    case FOR_ALL:
    case EXISTS:
    case SUM: {
        const binding_t bound = formula[0].getSymbol();
        auto [lower, upper] = evaluateRange(bound.getType());
        if (upper < lower) {
            return makeConstantExpression(kind == FOR_ALL ? 1 : 0);
        }
        base::RefPtr<SumExpr> sum;
        if (kind == SUM) {
            sum = new SumExpr();
        }
        std::vector<ExpressionRef> instances;
        for (int64_t v = lower; v <= upper; ++v) {
            ExpressionRef instance =
                compileStateFormula(substituteConstant(formula[1], bound, static_cast<int32_t>(v)), deadlock);
            if (kind == SUM) {
                sum->addTerm(instance);
            } else {
                instances.push_back(std::move(instance));
            }
        }
        if (kind == SUM) {
            return ExpressionRef(sum);
        }
        return kind == FOR_ALL ? conjoinAll(std::move(instances)) : makeDisjunction(std::move(instances));
    }
    case DEADLOCK:
        if (!deadlock) {
            throw CompileError("$Deadlock_cannot_be_used_here", formula.getPosition());
        }
        return deadlock;
    default:
        throw Bug((boost::format("Operation %1% not supported.") % static_cast<int>(kind)).str());
    }
}

// ---------------------------------------------------------------- value expressions

std::pair<Variable*, template_t*> Compiler::bindProcessVariable(const expression_t& e, const char* name)
{
    Variable* variable = system->addStateVariable(name, -1, maxInt, -1, false);
    template_t* templ = findDynamicTemplate(e[1], "temp should not be NULL at this time");
    const std::string bound = e[0].getSymbol().getName();
    processVariables[bound] = variable;
    processVariableTemplates[bound] = templ;
    return {variable, templ};
}

ExpressionRef Compiler::compileValueExpression(const expression_t& expression, bool asDouble)
{
    return compileValueExpression(expression, asDouble, false);
}

ExpressionRef Compiler::compileValueExpression(const expression_t& expression, bool asDouble, bool doublesOn)
{
    const uint32_t start = program->mark();
    const node_kind_t kind = expression.getKind();
    if (kind == FOREACH_DYNAMIC) {
        auto [variable, templ] = bindProcessVariable(expression, "FOREACH");
        const expression_t& body = expression[2];
        ExpressionRef compiled;
        if (body.getType().isConstraint()) {
            compiled = new ValueClockExpr(compileStateFormula(body, ExpressionRef()));
        } else {
            compiled = compileValueExpression(body, true);
        }
        return ExpressionRef(new ForeachExpr(body.toString(false), variable, templ->dynamicIndex, compiled));
    }
    if (kind == SUM_DYNAMIC) {
        auto [variable, templ] = bindProcessVariable(expression, "SUM");
        // A condition is summed as its truth value; a clock or floating-point value is summed as
        // the double it leaves in the result cell.
        const expression_t& body = expression[2];
        ExpressionRef term = body.getType().isConstraint()
                                 ? ExpressionRef(new ValueClockExpr(compileStateFormula(body, ExpressionRef())))
                                 : compileValueExpression(body, true);
        ExpressionRef sum(new DynamicSumExpression(templ, term, variable));
        sum->timeDependent = true;
        return sum;
    }

    const span_t position = expression.getPosition();
    if (asDouble) {
        compileDouble(expression, true);
        emit(position, op::DOUBLE_RET);
    } else {
        if (doublesOn && computesFloatingPoint(expression)) {
            // On a symbolic state a run starts with the machine's floating-point instructions
            // switched off, and only some instructions switch them on: loading no clock at all
            // is one, so that the floating-point constants of a state formula compute whatever
            // comes first in it.
            emit(position, op::PUSH, 0);
            emit(position, op::CLOCK_LOAD_N, 0);
        }
        compileValue(expression);
    }
    emit(position, op::HALT);
    IndexSet reads;
    IndexSet writes;
    analyser->collectReads(expression, reads);
    analyser->collectWrites(expression, writes);
    ExpressionAnalyser::CellSet cells;
    analyser->collectPossibleIndex(expression, cells);
    addCellIndices(cells, reads);
    dumpExpression(start, reads, writes, expression);
    ExpressionRef result(program->makeExpression(start, reads, writes));
    if (expression.getType().getKind() == GUARD_SUM) {
        result->timeDependent = true;
    }
    return result;
}

ExpressionRef Compiler::compileClockBoundary(const expression_t& clock, bool infimum)
{
    ExpressionAnalyser::CellSet cells;
    analyser->collectPossibleIndex(clock, cells);
    IndexSet indices;
    addCellIndices(cells, indices);
    ExpressionRef number = compileValueExpression(clock, false);
    const IndexSet clocks = system->collectClocks(indices);
    if (infimum) {
        return ExpressionRef(new ClockInfExpr(number, clocks));
    }
    return ExpressionRef(new ClockSupExpr(number, clocks));
}

ExpressionRef Compiler::compileClockSup(const expression_t& clock)
{
    return compileClockBoundary(clock, false);
}

ExpressionRef Compiler::compileClockInf(const expression_t& clock)
{
    return compileClockBoundary(clock, true);
}

// ---------------------------------------------------------------- clock constraints

ExpressionRef Compiler::compileClockConstraint(const expression_t& comparison)
{
    const span_t position = comparison.getPosition();
    const type_t type = comparison.getType();
    switch (comparison.getKind()) {
    case LESS:
    case LESS_EQUAL:
    case GREATER_EQUAL:
    case GREATER:
        return compileClockBound(comparison);
    case EQUAL:
        if (type.isKind(RATE_INVARIANT)) {
            return compileRateEquation(comparison);
        } else {
            const expression_t rewritten = expression_t::createBinary(
                LOGICAL_AND, expression_t::createBinary(LESS_EQUAL, comparison[0], comparison[1], position, type),
                expression_t::createBinary(GREATER_EQUAL, comparison[0], comparison[1], position, type), position,
                type);
            return compileStateFormula(rewritten, ExpressionRef());
        }
    case NOT_EQUAL: {
        const expression_t rewritten = expression_t::createBinary(
            LOGICAL_OR, expression_t::createBinary(LESS, comparison[0], comparison[1], position, type),
            expression_t::createBinary(GREATER, comparison[0], comparison[1], position, type), position, type);
        return compileStateFormula(rewritten, ExpressionRef());
    }
    default:
        throw Bug("Cannot normalise constraint of this kind");
    }
}

ExpressionRef Compiler::compileClockBound(const expression_t& comparison)
{
    const node_kind_t kind = comparison.getKind();
    ClockTerms terms;
    collectClockTerms(terms, comparison[0], true);
    collectClockTerms(terms, comparison[1], false);
    if (kind == GREATER_EQUAL || kind == GREATER) {
        std::swap(terms.first, terms.second);
        if (!terms.bound.empty()) {
            terms.bound = expression_t::createUnary(UNARY_MINUS, terms.bound, span_t(), terms.bound.getType());
        }
    }
    const bool strict = kind == LESS || kind == GREATER;
    if (!isClockTerm(terms.first) || !isClockTerm(terms.second)) {
        // A value computed from clocks (a sum over processes, or an inline if that shifts a
        // clock in one branch) is no clock of the zone: the comparison is decided by byte code
        // on the clock values.
        return compileValueExpression(comparison, false);
    }

    IndexSet reads;
    auto clockPart = [&](const expression_t& clock, IndexSet& cells) -> ExpressionRef {
        if (clock.empty()) {
            return makeConstantExpression(0);
        }
        ExpressionAnalyser::CellSet possible;
        analyser->collectPossibleIndex(clock, possible);
        addCellIndices(possible, cells);
        analyser->collectReads(clock, reads);
        reads.insert(cells.begin(), cells.end());
        return compileValueExpression(clock, false);
    };
    IndexSet firstCells;
    IndexSet secondCells;
    ExpressionRef first = clockPart(terms.first, firstCells);
    ExpressionRef second = clockPart(terms.second, secondCells);

    ExpressionRef bound;
    std::pair<int32_t, int32_t> range{0, 0};
    if (terms.bound.empty()) {
        bound = makeConstantExpression(0);
    } else if (terms.bound.getType().isKind(DOUBLE)) {
        bound = compileValueExpression(terms.bound, true);
        return ExpressionRef(new DoubleClockExpr(first, second, bound, strict, false));
    } else {
        bound = compileValueExpression(terms.bound, false);
        interval_t r;
        try {
            r = analyser->getRange(terms.bound);
        } catch (const UndefinedRangeException&) {
            // A bound whose values cannot be bounded cannot be shown to fit the zone's limits.
            throw CompileError("$Out_of_range_clock_constraint", comparison.getPosition());
        }
        range = {r.lower, r.upper};
        analyser->collectReads(terms.bound, reads);
        if (r.lower < -boundLimit || r.upper > boundLimit) {
            throw CompileError("$Out_of_range_clock_constraint", comparison.getPosition());
        }
    }
    const IndexSet firstClocks = system->collectClocks(firstCells);
    const IndexSet secondClocks = system->collectClocks(secondCells);
    return ExpressionRef(
        new ClockExpr(Constraint(first, second, bound, strict, firstClocks, secondClocks, range, reads)));
}

ExpressionRef Compiler::compileRateEquation(const expression_t& comparison)
{
    if (comparison.getType().isKind(COST)) {
        return makeConstantExpression(1);
    }
    expression_t clock;
    expression_t rate;
    if (comparison[0].getType().isKind(RATE)) {
        clock = comparison[0][0];
        rate = comparison[1];
    } else {
        clock = comparison[1][0];
        rate = comparison[0];
    }
    if (currentLocation == nullptr) {
        throw Bug("A clock rate outside of a location invariant");
    }
    const type_t rateType = rate.getType();
    const bool notConstant = !rateType.isIntegral() && !rateType.isKind(CONSTANT);
    ExpressionRef rateExpression = compileValueExpression(rate, true);
    ExpressionRef clockExpression = compileValueExpression(clock, false);
    currentLocation->addClockRate(clockExpression, rateExpression, notConstant);
    if (notConstant) {
        system->floatingPointInvariants = true;
    }
    return makeConstantExpression(1);
}
