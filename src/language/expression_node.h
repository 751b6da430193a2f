#pragma once

// The expression node, shared by the implementation files of expression_t only.

#include "language/expression.h"

#include <cstring>

namespace ZOLT {

struct expression_t::expression_node
{
    int32_t count = 1;
    span_t position;
    node_kind_t kind;
    // Levels from this node down to its deepest leaf; 0 until first asked for (and
    // again after a child was replaced through the writable subscript).
    uint32_t depth = 0;
    // An integer in the low 32 bits, or the bits of a double.
    uint64_t value = 0;
    binding_t symbol;
    type_t type;
    // At least as many entries as the kind's number of children, so that walks
    // bounded by getSize never leave the array.
    std::vector<expression_t> children;

    expression_node(node_kind_t k, span_t p) : position(p), kind(k) {}
    // Takes apart, in a loop, the nodes below that go with this one: destroying a long
    // list one nested destructor per operand would exhaust the stack.
    ~expression_node();
    expression_node(const expression_node&) = delete;
    expression_node& operator=(const expression_node&) = delete;

    int32_t low() const { return static_cast<int32_t>(static_cast<uint32_t>(value)); }
    void setLow(int32_t v) { value = static_cast<uint32_t>(v); }
    double asDouble() const
    {
        double d;
        std::memcpy(&d, &value, sizeof d);
        return d;
    }
    void setDouble(double d) { std::memcpy(&value, &d, sizeof d); }
};

// Number of children of a node of the kind with the given value.
size_t childCount(node_kind_t kind, int32_t value);

} // namespace ZOLT
