#pragma once

#include "language/counted_ref.h"
#include "language/node_kind.h"
#include "language/span.h"
#include "language/symbol.h"
#include "language/type.h"

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <set>
#include <string>
#include <vector>

namespace ZOLT {

// The sets of symbols that a user function may write and read, filled by the type
// checker. The record of a function derives from this as its first and only base
// (and has no virtual functions), so that the address stored as the data of the
// function's symbol is also the address of these sets: the collectors below read
// them through that untyped pointer.
struct function_effects_t
{
    std::set<binding_t> writtenSymbols;
    std::set<binding_t> readSymbols;
};

// An expression: a tree of shared nodes. Each node has a kind, a source span, a
// 64-bit value (an integer in the low half, or a double), the symbol of an
// IDENTIFIER, a type and its children. Nodes are shared between trees, so a node
// is not changed once others may see it; the exceptions are setType and filling
// the children of a node that its maker has just made.
class expression_t
{
public:
    expression_t() = default;
    // A fresh childless node with value 0, no symbol and no type.
    expression_t(node_kind_t kind, span_t position);
    expression_t(const expression_t& other) = default;
    expression_t(expression_t&& other) noexcept = default;
    expression_t& operator=(const expression_t& other) = default;
    expression_t& operator=(expression_t&& other) noexcept = default;
    ~expression_t() = default;

    static expression_t createConstant(int32_t value, span_t position = span_t());
    static expression_t createDouble(double value, span_t position = span_t());
    static expression_t createExit(span_t position = span_t());
    static expression_t createIdentifier(const binding_t& symbol, span_t position = span_t());
    static expression_t createNary(node_kind_t kind, const std::vector<expression_t>& children,
                                   span_t position = span_t(), const type_t& type = type_t());
    static expression_t createUnary(node_kind_t kind, const expression_t& child, span_t position = span_t(),
                                    const type_t& type = type_t());
    static expression_t createBinary(node_kind_t kind, const expression_t& left, const expression_t& right,
                                     span_t position = span_t(), const type_t& type = type_t());
    static expression_t createTernary(node_kind_t kind, const expression_t& first, const expression_t& second,
                                      const expression_t& third, span_t position = span_t(),
                                      const type_t& type = type_t());
    static expression_t createDot(const expression_t& expression, int32_t index, span_t position = span_t(),
                                  const type_t& type = type_t());
    // direction: 0 receive, 1 send, 2 neither.
    static expression_t createSync(const expression_t& channel, int32_t direction, span_t position = span_t());
    static expression_t createDeadlock(span_t position = span_t());

    bool empty() const { return node == nullptr; }
    node_kind_t getKind() const;
    span_t getPosition() const;
    // Number of children, fixed by the kind or held in the value; 0 for the empty expression.
    size_t getSize() const;
    type_t getType() const;
    void setType(const type_t& type);
    // The low 32 bits of the value: signed when the type is INT, else 1 or 0.
    int32_t getValue() const;
    double getDoubleValue() const;
    // The low 32 bits of the value, raw: the field index of a DOT, the direction of a SYNC.
    int32_t getIndex() const;
    int32_t getSync() const;
    expression_t& operator[](size_t i);
    const expression_t& operator[](size_t i) const;
    expression_t getChild(size_t i) const;
    // The symbol the expression designates (of an identifier, an assignment target,
    // an array, a dot, a sync or a call); the empty symbol for other kinds.
    binding_t getSymbol() const;

    // Levels of nodes from this one down to the deepest leaf; 0 for the empty
    // expression (see language/nesting.h). Computed once per node, without recursion.
    uint32_t getDepth() const;

    bool isDynamic() const;
    bool hasDynamicSubexpression() const;
    bool usesFloatingPoint() const;
    bool usesClock() const;
    // True for the empty expression and for an integral constant of value 1.
    bool isTrue() const;

    // Identity of the nodes.
    bool operator==(const expression_t& other) const { return node == other.node; }
    bool operator!=(const expression_t& other) const { return node != other.node; }
    // Order of node addresses; false when either is empty.
    bool operator<(const expression_t& other) const;
    // Structural equality: kinds, all 64 bits of the values, symbols and children;
    // types and positions are not compared.
    bool equal(const expression_t& other) const;

    expression_t clone() const;
    expression_t cloneReplacingSymbol(const binding_t& from, const binding_t& to) const;
    // Deep copy whose symbols are looked up again by name in `first` and its
    // ancestors, then in `second` (when not empty) and its ancestors; not found gives
    // the empty symbol.
    expression_t cloneRebound(const scope_t& first, const scope_t& second) const;
    // A new top node sharing the children.
    expression_t shallowCopy() const;
    // Every IDENTIFIER of `symbol` becomes `replacement` (shared); nodes on the way
    // are copied, other leaves shared.
    expression_t substituteSymbol(const binding_t& symbol, const expression_t& replacement) const;

    // The symbols that the expression, used as an assignment target, may designate.
    void collectLvalueSymbols(std::set<binding_t>& symbols) const;
    // The symbols that evaluating the expression may change.
    void collectWrittenSymbols(std::set<binding_t>& symbols) const;
    // The symbols that evaluating the expression may read; with markRandom also the
    // empty symbol when it draws a random number.
    void collectReadSymbols(std::set<binding_t>& symbols, bool markRandom = false) const;
    bool hasSideEffects() const;
    bool lvalueDesignatesAny(const std::set<binding_t>& symbols) const;
    bool writesAny(const std::set<binding_t>& symbols) const;
    bool readsAny(const std::set<binding_t>& symbols) const;

    // The text in the model and query notation; the empty string for the empty
    // expression. oldSyntax prints plain assignments as ":=". Throws
    // std::runtime_error for nodes that have no text.
    std::string toString(bool oldSyntax = false) const;
    int32_t getPrecedence() const;

    struct expression_node;

private:
    explicit expression_t(expression_node* n);
    // Child i, or the empty expression where a childless-made node has none.
    const expression_t& child(size_t i) const;
    void appendText(std::string& text, bool oldSyntax) const;
    expression_t copyWith(const scope_t* first, const scope_t* second, const binding_t* from,
                          const binding_t* to) const;
    counted_ref<expression_node> node;
};

extern template class counted_ref<expression_t::expression_node>;

// Precedence of a node kind (larger binds tighter); throws std::runtime_error
// "Strange expression" for a kind that has no text.
int32_t kindPrecedence(node_kind_t kind);

// Writes toString(false).
std::ostream& operator<<(std::ostream& os, const expression_t& expression);

} // namespace ZOLT
