#pragma once

#include <cstdint>
#include <set>
#include <stdexcept>
#include <string>

#include <boost/tuple/tuple.hpp>
#include <boost/tuple/tuple_comparison.hpp>

#include "language/expression.h"
#include "language/statement.h"
#include "language/symbol.h"
#include "language/type.h"
#include "support/object.h"

class Compiler;
class Symbol;

// No interval can be given for an expression or a type.
class UndefinedRangeException : public std::logic_error
{
public:
    explicit UndefinedRangeException(const std::string& message) : std::logic_error(message) {}
};

// The truth interval of the values in r: lower 1 when r surely excludes 0, upper 0 when
// r is exactly [0, 0].
ZOLT::interval_t truthRange(const ZOLT::interval_t& r);

// Static analysis of the integer expressions of the model, resolved from a current
// symbol of the compiler's symbol tree: the interval of values an expression can take,
// the layout cells an l-value can denote, and the cells an expression may read or
// surely writes.
class ExpressionAnalyser : public base::Object
{
public:
    // A cell entry: the node describing a cell or block of cells and the absolute index
    // of its first cell; the entry covers node->size cells.
    using Cell = boost::tuple<Symbol*, unsigned>;
    using CellSet = std::set<Cell>;
    using IndexSet = std::set<uint32_t>;

    explicit ExpressionAnalyser(Compiler* compiler) : compiler(compiler) {}

    void setCurrentSymbol(Symbol* symbol) { currentSymbol = symbol; }
    Symbol* getCurrentSymbol() const { return currentSymbol; }

    ZOLT::interval_t getRange(const ZOLT::expression_t& expression);
    ZOLT::interval_t getRange(const ZOLT::type_t& type);
    ZOLT::interval_t rangeOfBinary(const ZOLT::expression_t& left, ZOLT::node_kind_t op,
                                   const ZOLT::expression_t& right);
    // The declared range of the cell an l-value denotes.
    ZOLT::interval_t getDeclaredRange(const ZOLT::expression_t& lvalue);
    // The node an l-value denotes, or null.
    Symbol* resolveSymbol(const ZOLT::expression_t& lvalue);

    void collectPossibleIndex(const ZOLT::expression_t& expression, CellSet& cells);
    // The single cell entry of the expression, or (null, 0) when it has none or several.
    Cell uniqueCell(const ZOLT::expression_t& expression);
    static void expandCells(const CellSet& cells, IndexSet& indices);
    void collectReads(const ZOLT::expression_t& expression, IndexSet& reads);
    void collectWrites(const ZOLT::expression_t& expression, IndexSet& writes);
    void readsOfFunction(Symbol* function, IndexSet& reads);

private:
    ZOLT::interval_t rangeOfNode(const ZOLT::expression_t& expression);
    ZOLT::interval_t combine(const ZOLT::interval_t& left, ZOLT::node_kind_t op, const ZOLT::interval_t& right,
                             const ZOLT::expression_t& leftExpression, const ZOLT::expression_t& rightExpression);
    void addCells(const ZOLT::expression_t& expression, IndexSet& indices);

    Symbol* currentSymbol = nullptr;
    Compiler* compiler;
    // Nesting of the recursive walks, bounded so that deep expressions end in an error
    // instead of exhausting the stack.
    uint32_t depth = 0;
};

// Adds the reads of every expression of a function body, resolved from the function's node.
class FunctionAnalyserRead : public ZOLT::ExpressionVisitor
{
public:
    FunctionAnalyserRead(ExpressionAnalyser* analyser, std::set<uint32_t>& reads)
        : analyser(analyser), reads(&reads)
    {}

    void visitExpression(ZOLT::expression_t expression) override;

private:
    ExpressionAnalyser* analyser;
    std::set<uint32_t>* reads;
};
